// The viewer's translated global strings (album folder names, message-box captions), the
// message box with a translated caption, the file copy into an album, and the formatter of
// translated texts.
#pragma once

#include "FileState.h"

#include <string>
#include <vector>

#include "Dialogs.h"

struct TGlobalStrings {
    std::string sgdalbumsname = "Glimmerdeck_Albums";
    std::string sbasenameattach = " (album base directory)";
    std::string smsgwarning = "Warning";
    std::string smsginformation = "Information";
    std::string smsgconfirmation = "Confirmation";
    std::string smsgerror = "Error";
    std::string sdumpdir = "Glimmerdeck Dumped Photos";
    std::string sbatchdir = "Glimmerdeck Batch Output";
    std::string sscreesaverdir = "Glimmerdeck Screensavers";
    std::string sPhotobookDir = "Glimmerdeck Photobook";
    std::string sslideshowdir = "Glimmerdeck Slideshows";
    std::string shtmldir = "Glimmerdeck HTML-Albums";
    std::string spdfdir = "Glimmerdeck PDF-Albums";
    std::string sbackupdir = "Glimmerdeck Backup Files (Original Photo Files)";
    std::string spalmdir = "Glimmerdeck PalmOS-Album";
    std::string shtmlcommentfile = "Glimmerdeck HTML-Album Comment.txt";

    // The product's own working folders inside the album base, which are no albums.
    std::vector<std::string> ExcludedFolders() const;
};

extern TGlobalStrings GlobalStrings;

// Fills GlobalStrings through the language table. The names of files and folders take a
// translation only when it is one path component (IsPathComponent).
void LoadGlobalStrings();

// The longest name of a file or folder (bytes).
inline constexpr size_t kMaxPathComponent = 255;
// One plain name of a file or folder: not empty, not "." or "..", no "/", "\" or NUL, at
// most kMaxPathComponent bytes.
bool IsPathComponent(const std::string& Name);
// Name when it is one, else Default.
std::string PathComponentOr(const std::string& Name, const std::string& Default);

// A message box under the translated caption of its type (warning, error, information,
// confirmation; none for mtCustom) with the button set's Win32 flags; returns the modal
// result: mrOk, mrAbort, mrRetry, mrIgnore, mrYes, mrNo pass through, anything else is mrCancel.
int LangMessageBox(const std::string& Text, TMsgDlgType Type, TMsgDlgButtons Buttons, int HelpContext = 0);
// The Win32 flags LangMessageBox shows: icon of the type, buttons of the set (exact sets only).
unsigned LangMessageBoxFlags(TMsgDlgType Type, TMsgDlgButtons Buttons);

// Copies the file's bytes into Target without ever leaving a half-written Target: the copy
// goes to a temporary file beside it, which replaces Target only when complete. The same
// file as source and target copies nothing. Raises EFOpenError, EFCreateError, EReadError or
// EWriteError (with the reason) on failure; an existing Target is then unchanged. With
// Expected, the source must be that file in that state from the open to the last byte read;
// otherwise EReadError and nothing is copied.
void CopyFileByStream(const std::string& Source, const std::string& Target, const TFileState* Expected = nullptr);

// True for anything but a drive letter; there are no drive letters here, so a letter names
// a drive that is not ready.
bool DriveReady(char Letter);

// Format with string arguments only: "%s" takes the next argument, "%n:s" argument n,
// "%%" is "%". False (Out untouched) for any other directive or a missing argument, so a
// translated text can never make the program read what is not there.
bool FormatStrings(const std::string& Format, const std::vector<std::string>& Args, std::string& Out);
