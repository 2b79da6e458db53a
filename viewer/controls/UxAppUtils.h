// Value helpers of the form placement: strings and integers through a registry section or an
// INI file, the screen-size suffix, position strings under both names, and a form's window
// placement as the stored values describe it.
#pragma once

#include <string>

#include "Forms.h"
#include "Registry.h"

// A registry key whose sub-keys are sections and whose values are strings (integers as
// decimal text). Below HKEY_CURRENT_USER the sections lie under Key; below another root
// directly under the root (the wrapper's key is closed when the root changes). Other roots
// are read only.
class TRegPlacementIni : public TObject {
public:
    TRegPlacementIni(HKEY Root, const std::string& Key);
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default);
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);

private:
    std::string Path(const std::string& Section) const;
    HKEY root_;
    std::string key_;
};

// Read and write through a TRegPlacementIni, a TRegIniFile or a TIniFile; any other object
// reads the default and writes nothing. Unreadable integers read the default.
std::string IniReadString(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Default);
void IniWriteString(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Value);
int IniReadInteger(TObject* Ini, const std::string& Section, const std::string& Ident, int Default);
void IniWriteInteger(TObject* Ini, const std::string& Section, const std::string& Ident, int Value);

// "(<width>x<height>)" of the screen, appended directly to a value name.
std::string ScreenSizeSuffix();
// The suffixed name first; when missing or empty the plain name.
std::string ReadPosStr(TObject* Ini, const std::string& Section, const std::string& Ident);
// Under both names.
void WritePosStr(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Value);

// Default names: "Software\<program name>" for the registry, "<program name>.INI" for a file
// (the program's file name without folder; without extension for the key).
std::string DefaultIniRegKey();
std::string DefaultIniFileName();
// The section of a component: a form's class name, a control's form class name followed by
// its name, "<form class>.<name>" for another component of a form. ClassName is the form's
// class name as the program names it.
std::string DefaultSection(TComponent* Component, const std::string& FormClassName);

// The window placement of the original platform as far as it has a meaning here: the normal
// rectangle (client area in screen coordinates, as SetBounds takes it), the show command
// (1 normal, 2 minimised, 3 maximised, 0 hidden) and the flags (0); the minimised and
// maximised positions are not kept by the window system and read -1.
struct TWindowPlacement {
    unsigned flags = 0;
    int showCmd = 1;
    TPoint ptMinPosition{-1, -1}, ptMaxPosition{-1, -1};
    TRect rcNormalPosition;
};
TWindowPlacement GetWindowPlacement(TForm* Form);
// Applies the normal rectangle so that the window with its frame lies inside the available
// area of a screen that exists: moved onto it, then made smaller where larger (a rectangle
// stored on a bigger screen, or one that is gone, does not hide the window or its title bar).
void SetWindowPlacement(TForm* Form, const TWindowPlacement& P);

// "%d,%d,%d,%d".
std::string FormatPos(int A, int B, int C, int D);
