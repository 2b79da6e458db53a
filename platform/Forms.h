// Forms and the screen object of the class library: a top-level window (or a window placed
// inside a foreign widget, or full screen) and the screen's cursor registry and resolution.
#pragma once

#include <map>
#include <string>

#include "Controls.h"

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TMethod<void(TObject* Sender, TCloseAction& Action)>;

// A top-level window. BorderStyle is the window frame (bsNone: no frame); bsNone with
// wsMaximized shows full screen. With SetParentWindow the form lives inside another widget
// (a preview pane) instead. The form has no border of its own inside the window.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

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
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;

    void SetVisible(bool v) override;

protected:
    virtual void DoClose(TCloseAction& Action);
    bool WantsKeyPreview() const override { return KeyPreview; }

private:
    friend struct TFormImpl;
    void ApplyWindowState();
    void SetTopLevel();
    std::string caption_;
    TWindowState windowState_ = wsNormal;
    bool closing_ = false;
};

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
