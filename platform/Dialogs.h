// Message boxes and the common dialogs (open file, colour), behind one seam: a dialog
// responder that a test installs answers every box, dialog and modal form instead of a user.
// Without a responder and without a real display (the offscreen platform) nothing is shown:
// a box answers with its default button, a dialog is cancelled, and the text goes to stderr.
#pragma once

#include <initializer_list>
#include <string>

#include "Classes.h"
#include "Graphics.h"

class QDialog;
class QWidget;
class TForm;

// ---- Message boxes (Win32 flags and answers) ----

constexpr unsigned MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3,
                   MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5, MB_TYPEMASK = 0xF;
constexpr unsigned MB_ICONERROR = 0x10, MB_ICONHAND = 0x10, MB_ICONSTOP = 0x10, MB_ICONQUESTION = 0x20,
                   MB_ICONWARNING = 0x30, MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40,
                   MB_ICONASTERISK = 0x40, MB_ICONMASK = 0xF0;
constexpr unsigned MB_DEFBUTTON1 = 0x000, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200, MB_DEFMASK = 0xF00;
constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

// The application's message box: Text under Caption with the icon and button set of Flags;
// returns the answer (IDOK ...). Closing the box without a button gives IDCANCEL where the
// set has a Cancel button, else the only or the default answer.
int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags);
// The answer a box gives when nobody can answer: its default button.
int DefaultAnswer(unsigned Flags);

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = unsigned;   // bit (1 << TMsgDlgBtn) per button
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> Buttons) {
    TMsgDlgButtons s = 0;
    for (TMsgDlgBtn b : Buttons) s |= 1u << b;
    return s;
}
constexpr TMsgDlgButtons mbYesNoCancel = MsgDlgButtons({mbYes, mbNo, mbCancel});
constexpr TMsgDlgButtons mbOKCancel = MsgDlgButtons({mbOK, mbCancel});
constexpr TMsgDlgButtons mbAbortRetryIgnore = MsgDlgButtons({mbAbort, mbRetry, mbIgnore});

// The class library's message dialog: caption "Warning", "Error", "Information",
// "Confirmation" (mtCustom: the application title), the type's icon; the button set is
// shown as the nearest message-box set (Yes+No, Yes+No+Cancel, OK+Cancel, Retry+Cancel,
// Abort+Retry+Ignore, else OK). Returns the modal result (mrOk ... mrNo).
int MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons, int HelpCtx);
// A message with an OK button under the application title.
void ShowMessage(const std::string& Msg);
// The message-box flags of a message dialog's type and buttons.
unsigned MessageDlgFlags(TMsgDlgType Type, TMsgDlgButtons Buttons);

// ---- Open-file dialog ----

enum TOpenOption : unsigned {
    ofReadOnly = 1u << 0, ofOverwritePrompt = 1u << 1, ofHideReadOnly = 1u << 2, ofNoChangeDir = 1u << 3,
    ofShowHelp = 1u << 4, ofNoValidate = 1u << 5, ofAllowMultiSelect = 1u << 6,
    ofExtensionDifferent = 1u << 7, ofPathMustExist = 1u << 8, ofFileMustExist = 1u << 9,
    ofCreatePrompt = 1u << 10, ofShareAware = 1u << 11, ofNoReadOnlyReturn = 1u << 12,
    ofNoTestFileCreate = 1u << 13, ofNoNetworkButton = 1u << 14, ofNoLongNames = 1u << 15,
    ofOldStyleDialog = 1u << 16, ofNoDereferenceLinks = 1u << 17, ofEnableIncludeNotify = 1u << 18,
    ofEnableSizing = 1u << 19
};
using TOpenOptions = unsigned;

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
    // Shows the dialog; true when the user chose a file (FileName holds it).
    bool Execute();

    std::string Title;
    // "Description|pattern;pattern|Description|pattern..." as the class library has it.
    std::string Filter;
    int FilterIndex = 1;   // 1-based
    std::string FileName;
    std::string InitialDir;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;
};

// The class library's filter as Qt's name filters ("Name (pattern pattern);;..."), the
// patterns as written; the dialog matches them regardless of letter case (*.jpg offers
// PHOTO.JPG), as on the original platform. Pairs without patterns are left out.
std::string QtNameFilters(const std::string& Filter);
// The open dialog as Execute shows it over Owner, not yet shown: Options' title, folder
// (else the current one), filter, chosen filter and file. Its own folder listing, read as
// the file system's bytes: folders first, then the files the chosen filter's patterns match
// in any letter case; a name that is no UTF-8 is listed (shown with replacement characters)
// and chosen under its own bytes. The Size, Type and Date columns are as wide as the texts
// they show, the dialog widened to match (never wider than the screen).
QDialog* NewOpenFileDialog(const TOpenDialog& Options, QWidget* Owner = nullptr);
// What an accepted open dialog was closed with, into Options: the file (its bytes, a name
// typed relative to the folder joined to the folder's bytes) and the filter.
void TakeOpenFileDialogResult(const QDialog& Dialog, TOpenDialog& Options);

// ---- Colour dialog ----

class TColorDialog : public TComponent {
public:
    explicit TColorDialog(TComponent* AOwner);
    ~TColorDialog() override;
    bool Execute();

    TColor Color = clBlack;
    // 16 custom colours as "ColorA=BBGGRR" .. "ColorP=..." lines (hexadecimal class-library
    // colour values); missing or unreadable lines are white. Read before and written after
    // the dialog.
    TStringList* CustomColors() { return &custom_; }
    TColor CustomColor(int Index) const;          // 0..15
    void SetCustomColor(int Index, TColor Value);
    // The index of Qt's custom-colour well that shows custom colour Index at the same place:
    // ColorA..ColorH are the first row, ColorI..ColorP the second, while Qt counts its two
    // rows of wells column by column.
    static int QtCustomIndex(int Index) { return (Index % 8) * 2 + Index / 8; }

private:
    TStringList custom_;
};

// ---- The seam ----

class TDialogResponder {
public:
    virtual ~TDialogResponder() = default;
    virtual int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
        (void)Text, (void)Caption;
        return DefaultAnswer(Flags);
    }
    // Set Dialog.FileName and return true to choose a file.
    virtual bool OpenFile(TOpenDialog& Dialog) {
        (void)Dialog;
        return false;
    }
    // Set Dialog.Color (and custom colours) and return true to confirm.
    virtual bool PickColor(TColorDialog& Dialog) {
        (void)Dialog;
        return false;
    }
    // A form has just been shown by ShowModal: set its ModalResult or press its buttons.
    // Left unanswered, the modal loop runs (a timer of the test may answer later).
    virtual void ModalForm(TForm& Form) { (void)Form; }
};

// Null restores the real dialogs.
void SetDialogResponder(TDialogResponder* Responder);
TDialogResponder* DialogResponder();
// Called by ShowModal once the form is up.
void NotifyModalForm(TForm* Form);
// True when a user can see windows (not the offscreen or minimal platform).
bool RealDisplay();
// Gives the keyboard back to Window after a dialog over it has closed: raised and
// activated. On an X server without a window manager nobody else moves the input focus off
// the closed dialog (it falls to the root window, and keys go to whatever lies under the
// pointer); Qt's activation sets it there. Nothing for null or a hidden window.
void ReturnFocus(QWidget* Window);
