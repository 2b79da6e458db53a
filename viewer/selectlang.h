// Start-up of the viewer's languages: the language files beside the program, the chooser
// shown when there are several, and loading the chosen one into the program's table.
#pragma once

#include <string>
#include <vector>

#include "Forms.h"

class QListWidget;
class QPushButton;

// The language chooser: "<internal>" (the built-in texts) and the files' names.
class Tslang : public TForm {
public:
    explicit Tslang(TComponent* AOwner);
    QListWidget* ListBox1;
    QPushButton* Button1;
};

// The entries of Folder whose names end in ".lng" in any letter case, as they are named, in
// the order the file system gives them.
std::vector<std::string> LanguageFileNames(const std::string& Folder);

// The language file to load from Folder: "" when there is none; the only one without asking;
// with several, the one chosen in the chooser ("" for "<internal>" or no choice).
std::string ChooseLanguageFile(const std::string& Folder);

// Loads the chosen language file of ProgramFolder into LangData (which must exist) and sets
// the application title from "viewer.title". Errors of the file are raised.
void InitLanguage(const std::string& ProgramFolder);
