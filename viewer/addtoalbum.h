// Albums: the album list (sub-folders of the album base and the shortcuts in it), the album
// chooser window and the add-to-album command.
#pragma once

#include <string>
#include <vector>

#include "FileState.h"
#include "Forms.h"

class QLabel;
class QListWidget;
class QPushButton;
class TShortcutLink;
class TUxSplitter;

// The album fields of the main window. Names[i] is shown; its album is Paths[PathIndex[i]].
// Item 0 is the album base itself.
struct TAlbumList {
    bool Built = false;
    std::string Base;
    std::vector<std::string> Names;
    std::vector<int> PathIndex;
    std::vector<std::string> Paths;
};

// The registry key and value of the album base directory (written by the main album program).
inline constexpr const char* kAlbumKey = "\\software\\vantorel\\glimmerdeck\\album";
inline constexpr const char* kAlbumValue = "path";

// The album base: the registry value when it is a string naming an existing folder, else
// DefaultAlbumBase() (created when missing, not written back).
std::string AlbumBaseDirectory();

// Fills List from the album base: its sub-folders except hidden ones and the product's own
// working folders (exact names), and the shortcuts (*.lnk) that resolve to a folder; sorted
// by name ignoring case, the base entry first. Paths keep their case. Albums that share a
// name are all listed, each with its own folder; a name shown twice is told apart by its path.
void BuildAlbumList(TAlbumList& List, TShortcutLink* Shortcut);

// The overwrite question for a photo already in the album, from the translated text; a
// translation with anything but two string arguments gives the built-in question.
std::string OverwriteQuestion(const std::string& FileName, const std::string& AlbumName);

// The album chooser.
class Taddphoto : public TForm {
public:
    explicit Taddphoto(TComponent* AOwner);

    QLabel* Label1;
    QListWidget* list;
    TUxSplitter* UxSplitter1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;

private:
    void FormCreate();
    void ArrangeControls();
};

// What OK in the chooser tells when it cannot copy: no photo is open, or there is no album.
inline constexpr const char* kNoPhotoToAdd = "There is no photo to add to an album: open a photo first.";
inline constexpr const char* kNoAlbumToAddTo = "There is no album to add the photo to.";

// The add-to-album command of the main window: builds the album list on first use, lets the
// user choose an album, asks before replacing a photo of the same name and copies the photo.
// A failed copy leaves the album unchanged and is reported in an error box. Nothing is copied
// on Cancel or on No; OK without a photo (or without an album) says why nothing is copied.
// Shown, when given, is the photo's file as it was loaded: a file that is no longer that one,
// unchanged, is not copied (the album would get another photo than the one shown).
void AddPhotoToAlbum(TAlbumList& List, TShortcutLink* Shortcut, const std::string& PhotoPath,
                     const TFileState* Shown = nullptr);
