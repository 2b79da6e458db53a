// Forms and the screen object of the class library: a top-level window (or a window placed
// inside a foreign widget, or full screen) and the screen's cursor registry and resolution.
//
// THE ONE WAY TO BUILD A WINDOW
//
// 1. Every window is a TForm (a class derived from it), built by hand in its constructor in
//    the order of the stored form: SetName(form's name), SetCaption, SetBorderStyle,
//    SetPosition, SetClientSize (or SetBounds for an outer size), then the components, then
//    the form's own creation handler (FormCreate), called at the end of the constructor.
//    A derived form whose OnDestroy handler uses its own members calls DoDestroy() first
//    thing in its destructor (a form whose constructor fails never runs its own handler).
// 2. Components are named exactly as the stored form names them: layer controls with
//    SetName, Qt widgets and actions through NewControl/NewAction (StdCtrls.h), which set the
//    object name. FindComponent, FindControl and the placement's "ActiveControl" find them by
//    that name.
// 3. Standard controls are Qt's own widgets (QPushButton, QToolButton for speed buttons,
//    QLabel, QCheckBox, QComboBox, QListWidget, QGroupBox, QSpinBox, QLineEdit, QProgressBar,
//    QMenuBar/QMenu/QAction), created with NewControl on the client widget of their parent
//    (the form, a panel or a group box) at their stored bounds; the bounds are kept as a
//    minimum, widened to the text's size hint so nothing is cut at the desktop font (a
//    word-wrapping label keeps its width and grows only downwards, or keeps its bounds with
//    SetAutoSize off; a control that is part of a drawn layout keeps exact bounds:
//    SetFixedBounds). Only
//    the class library's rules that Qt lacks are added, as helpers in StdCtrls.h: captions
//    with the "&" accelerator rule, click events that also fire on programmatic changes,
//    item lists from texts split at line breaks, modal results, default and cancel buttons,
//    spin edits that keep a value set outside their range until the user edits it.
// 4. Layer controls (TPanel, TStatusBar, the views, the Parts' own controls built on
//    TCustomControl) are placed with SetParent and SetBounds or SetAlign. Align is the one
//    layout manager of every form (Controls.h); Qt layouts are not used on forms.
// 5. A form's menu is a QMenuBar given to SetMenu; it sits above the client area. Shortcuts
//    are QKeySequence texts ("F3", "Ctrl+P") on the actions; check marks are checkable
//    actions.
// 6. Dialogs: a form shown with ShowModal returns its ModalResult; buttons with a modal
//    result (SetModalResult) end it; Enter presses the default button, Escape the cancel
//    button; the window's close box is Cancel. Common dialogs and message boxes are in
//    Dialogs.h, all behind TDialogResponder so tests answer them instead of a user. A closed
//    dialog gives the keyboard back to the window it was opened over (ReturnFocus).
// 7. Errors in event handlers never cross Qt's event loop: they reach the application's
//    default exception report (AppShell.h).
#pragma once

#include <map>
#include <string>

#include "Controls.h"

class QEventLoop;
class QMenuBar;
class QObject;

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TMethod<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = TMethod<void(TObject* Sender, bool& CanClose)>;

enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                 poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
                       mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

// A top-level window. BorderStyle is the window frame (bsNone: no frame); bsNone with
// wsMaximized shows full screen. With SetParentWindow the form lives inside another widget
// (a preview pane) instead. The form has no border of its own inside the window.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // Outer size less the menu: the area the controls are laid out in.
    void SetClientSize(int W, int H);
    void SetClientWidth(int W) { SetClientSize(W, ClientHeight()); }
    void SetClientHeight(int H) { SetClientSize(ClientWidth(), H); }
    // bsSizeable and bsSizeToolWin windows can be resized by the user; the others keep their
    // size (a dialog border is fixed), unless the program changes it. A window is never made
    // larger than its screen (nor are its size limits).
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

    // SetBounds, then the window is kept with its frame inside the available area of the
    // screen it overlaps most (as a restored placement lies): moved onto it, then made smaller
    // where larger. A window manager's frame is known once the window is up; until then the
    // window alone is kept inside, and the frame is taken in again when it is first painted.
    void SetBoundsInWorkArea(int ALeft, int ATop, int AWidth, int AHeight);

    // Where the window goes when shown: poScreenCenter and poDesktopCenter centre it on the
    // screen's available area, poMainFormCenter and poOwnerFormCenter on that form (the
    // screen without it); the others leave Left and Top as they are.
    TPosition Position() const { return position_; }
    void SetPosition(TPosition p) { position_ = p; }
    // The title bar's buttons: without biSystemMenu no close box; biMaximize only on a
    // sizeable window.
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons Icons);
    // Tracking limits of a sizeable window (0: no limit).
    void SetSizeLimits(int MinWidth, int MinHeight, int MaxWidth, int MaxHeight);
    // Fixes the current size even on a sizeable border (the placement's PreventResize).
    void SetFixedSize(bool Fixed);

    // The menu bar above the client area; the form takes ownership. Null removes it.
    void SetMenu(QMenuBar* Menu);
    QMenuBar* Menu() const { return menu_; }

    // Shows the window modally: a nested message loop runs until ModalResult is set (by a
    // button with a modal result, by code, or mrCancel by Close or the close box) and the
    // close is allowed (OnCloseQuery, OnClose: caNone keeps the form open). The window is
    // then hidden and the result returned. EInvalidOperation for a visible or modal form.
    // The dialog responder (Dialogs.h) is told when the form is up, so tests answer it.
    int ShowModal();
    TModalResult ModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult r);
    bool Modal() const { return modalLoop_ != nullptr; }

    // Asks OnCloseQuery; true when the form may close.
    virtual bool CloseQuery();
    // Fires OnDestroy once; ~TForm calls it when nobody did before.
    void DoDestroy();

    // The focused control of the window: the layer control or the Qt widget that has the
    // focus; its name ("" when none or unnamed). FocusControl gives the focus to the named
    // control when it can take it.
    std::string ActiveControlName() const;
    bool FocusControl(const std::string& Name);
    // Before the window is first mapped (OnShow runs there too): the placement restores
    // here so the window never jumps.
    bool Showing() const;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& s);
    TWindowState WindowState() const { return windowState_; }
    void SetWindowState(TWindowState s);
    void SetBorderStyle(TBorderStyle Value) override;
    int BorderWidth() const override { return 0; }
    // Keys reach the form's OnKeyDown / KeyDown before the focused control.
    bool KeyPreview = false;

    // Shows the window (Visible := True) in its WindowState.
    void Show();
    // Asks OnClose (default action caHide): caNone keeps the window; caHide hides it;
    // caMinimize minimizes it; caFree hides it and frees the form from the event loop.
    void Close();
    // Hides the window (Visible := False).
    void Hide() { SetVisible(false); }

    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;
    // OnShow runs before the window appears, OnHide after it went.
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnDestroy;

    void SetVisible(bool v) override;

protected:
    virtual void DoClose(TCloseAction& Action);
    bool WantsKeyPreview() const override { return KeyPreview; }
    bool DialogKey(uint16_t Key) override;
    QWidget* MenuWidget() const override;

private:
    friend struct TFormImpl;
    void ApplyWindowState();
    void ApplySizeRules();
    void ApplyWindowFlags();
    void PlaceForShow();
    void FitFrameIntoWorkArea();
    void SetTopLevel();
    std::string caption_;
    TWindowState windowState_ = wsNormal;
    TPosition position_ = poDesigned;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    int minW_ = 0, minH_ = 0, maxW_ = 0, maxH_ = 0;
    bool fixedSize_ = false;
    QMenuBar* menu_ = nullptr;
    QEventLoop* modalLoop_ = nullptr;
    TModalResult modalResult_ = mrNone;
    bool closing_ = false, destroyed_ = false;
    bool fitFrameWhenPainted_ = false;
};

// The named control of a form or control, searched through every level of its windows:
// layer controls by Name, Qt widgets and actions by object name (case-insensitive).
// Null when there is none.
TControl* FindControl(TWinControl* Root, const std::string& Name);
QObject* FindChildObject(TWinControl* Root, const std::string& Name);

// The screen: a registry of cursors by id, the screen-wide cursor override and the
// resolution. Ids below 0 are the standard cursors (crHourGlass is the wait cursor); other
// ids take whatever was stored (Screen->SetCursors(1785, LoadCursorA(nullptr, "MANO"))).
// An id with nothing stored gives the default arrow, as the class library does.
class TScreen : public TComponent {
public:
    explicit TScreen(TComponent* AOwner);
    ~TScreen() override;

    HCURSOR Cursors(TCursor Id) const;
    void SetCursors(TCursor Id, HCURSOR Cursor);
    // The cursor shown over every window of the program; crDefault: each control's own.
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor Id);
    int PixelsPerInch() const;   // ScreenPixelsPerInch()
    int Width() const;
    int Height() const;

private:
    std::map<TCursor, HCURSOR> cursors_;
    TCursor cursor_ = crDefault;
};

extern TScreen* Screen;

// The Qt cursor for a handle (the arrow for null); needs a running QGuiApplication.
QCursor CursorOfHandle(HCURSOR Cursor);
// The Qt cursor a control with cursor id Id shows: Screen's registry for the id.
QCursor CursorOfId(TCursor Id);
