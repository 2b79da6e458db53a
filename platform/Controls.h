// Controls of the class library over Qt widgets: the windowed control with its client area,
// border and window scroll bars, mouse and keyboard as the class library reports them, and
// the custom control whose canvas is a retained surface that paint events only show.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

class QWidget;
class QScrollBar;
class QCursor;

// ---- Cursors: ids of the screen's cursor registry (see TScreen in Forms.h) ----

using TCursor = int;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                  crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10,
                  crHourGlass = -11, crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15,
                  crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20,
                  crHandPoint = -21, crSizeAll = -22;

// A cursor picture; handles stay valid for the life of the program.
struct TCursorImage;
using HCURSOR = const TCursorImage*;

// The project's own named cursor pictures (the names the views load); null for an unknown name.
// Instance is ignored.
HCURSOR LoadCursorA(void* Instance, const char* Name);

// ---- Mouse and keyboard ----

enum TMouseButton { mbLeft, mbRight, mbMiddle };

using TShiftState = unsigned;
enum TShiftStateFlag : unsigned {
    ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64
};

// Win32 virtual-key codes.
constexpr uint16_t VK_LBUTTON = 0x01, VK_RBUTTON = 0x02, VK_CANCEL = 0x03, VK_MBUTTON = 0x04,
                   VK_BACK = 0x08, VK_TAB = 0x09, VK_CLEAR = 0x0C, VK_RETURN = 0x0D,
                   VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12, VK_PAUSE = 0x13,
                   VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21,
                   VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26,
                   VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_SELECT = 0x29, VK_PRINT = 0x2A,
                   VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_HELP = 0x2F,
                   VK_LWIN = 0x5B, VK_RWIN = 0x5C, VK_APPS = 0x5D, VK_NUMPAD0 = 0x60,
                   VK_MULTIPLY = 0x6A, VK_ADD = 0x6B, VK_SEPARATOR = 0x6C, VK_SUBTRACT = 0x6D,
                   VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F, VK_F1 = 0x70, VK_F24 = 0x87,
                   VK_NUMLOCK = 0x90, VK_SCROLL = 0x91;
// Digits and letters are their ASCII codes ('0'..'9', 'A'..'Z'); VK_NUMPAD0 + n, VK_F1 + n.

// A Qt key (Qt::Key) and keypad flag as a virtual-key code; 0 when there is none.
uint16_t VirtualKeyFromQt(int QtKey, bool Keypad = false);

using TMouseEvent = TMethod<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = TMethod<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
// MousePos is in screen coordinates, as the class library passes it.
using TMouseWheelEvent =
    TMethod<void(TObject* Sender, TShiftState Shift, int WheelDelta, TPoint MousePos, bool& Handled)>;
using TKeyEvent = TMethod<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = TMethod<void(TObject* Sender, char& Key)>;

constexpr int WHEEL_DELTA = 120;

// ---- Window scroll bars (Win32) ----

constexpr int SB_HORZ = 0, SB_VERT = 1, SB_CTL = 2, SB_BOTH = 3;
constexpr int SB_LINEUP = 0, SB_LINELEFT = 0, SB_LINEDOWN = 1, SB_LINERIGHT = 1, SB_PAGEUP = 2,
              SB_PAGELEFT = 2, SB_PAGEDOWN = 3, SB_PAGERIGHT = 3, SB_THUMBPOSITION = 4,
              SB_THUMBTRACK = 5, SB_TOP = 6, SB_LEFT = 6, SB_BOTTOM = 7, SB_RIGHT = 7,
              SB_ENDSCROLL = 8;
constexpr unsigned SIF_RANGE = 0x1, SIF_PAGE = 0x2, SIF_POS = 0x4, SIF_DISABLENOSCROLL = 0x8,
                   SIF_TRACKPOS = 0x10, SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
constexpr unsigned ESB_ENABLE_BOTH = 0, ESB_DISABLE_LTUP = 1, ESB_DISABLE_LEFT = 1,
                   ESB_DISABLE_UP = 1, ESB_DISABLE_RTDN = 2, ESB_DISABLE_RIGHT = 2,
                   ESB_DISABLE_DOWN = 2, ESB_DISABLE_BOTH = 3;

struct SCROLLINFO {
    unsigned cbSize = sizeof(SCROLLINFO);
    unsigned fMask = 0;
    int nMin = 0;
    int nMax = 0;
    unsigned nPage = 0;
    int nPos = 0;
    int nTrackPos = 0;
};

// The mouse position in screen coordinates; false without a screen.
bool GetCursorPos(TPoint* Point);

// ---- System metrics ----

constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1, SM_CXVSCROLL = 2, SM_CYHSCROLL = 3,
              SM_CXBORDER = 5, SM_CYBORDER = 6, SM_CXHSCROLL = 21, SM_CYVSCROLL = 20,
              SM_CXEDGE = 45, SM_CYEDGE = 46;
// Edges 2, borders 1, scroll bars 16 (the classic metrics, fixed so layouts are reproducible);
// the screen size from the primary screen (0 without one); 0 for anything else.
int GetSystemMetrics(int Index);

// ---- Controls ----

// bsNone and bsSingle are the control borders; the others are window frames of forms.
enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TFormBorderStyle = TBorderStyle;

// The class library's Align: a parent lays its aligned children out along its client area's
// edges, alTop and alBottom first, then alLeft and alRight in what is left, then alClient in
// the rest (see TWinControl::AlignControls).
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TWinControl;

// The common part of every control: position and size in the parent's client area,
// visibility, colour, cursor and the mouse events. All controls here are windowed; the
// window itself lives in TWinControl.
class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
    // Negative sizes count as 0.
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // The client area: the window less its border and the visible scroll bars.
    virtual int ClientWidth() const { return width_; }
    virtual int ClientHeight() const { return height_; }
    TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* AParent);

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool v);

    TColor Color() const { return color_; }
    virtual void SetColor(TColor c);
    TCursor Cursor() const { return cursor_; }
    virtual void SetCursor(TCursor c);

    TAlign Align() const { return align_; }
    virtual void SetAlign(TAlign a);

    // Mouse capture: set by a left-button press and cleared by its release; the right and
    // middle buttons capture only when asked. While captured, moves outside are reported.
    bool MouseCapture() const { return capture_; }
    virtual void SetMouseCapture(bool v);

    // Marks the whole control for a later paint (asynchronous).
    virtual void Invalidate() = 0;
    // Paints what is marked, now. Views override it with their own meaning.
    virtual void Update() = 0;
    // Invalidate and paint now (without going through Update).
    virtual void Repaint() = 0;

    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;

    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnResize;

protected:
    // The class library's handlers; each default fires its event.
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void Click();
    virtual void DblClick();
    // Mouse enter and leave notifications (CM_MOUSEENTER / CM_MOUSELEAVE).
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    // After a change of the outer size (WM_SIZE); the default calls Resize.
    virtual void WMSize();
    virtual void Resize();
    // Left double click (WM_LBUTTONDBLCLK): capture, DblClick, then MouseDown with ssDouble.
    virtual void WMLButtonDblClk(TShiftState Shift, int X, int Y);

    // Stores the bounds; the window follows in TWinControl.
    void StoreBounds(int ALeft, int ATop, int AWidth, int AHeight);
    void StoreParent(TWinControl* p) { parent_ = p; }

private:
    friend class TWinControl;
    friend struct TWinControlImpl;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TWinControl* parent_ = nullptr;
    bool visible_ = true, enabled_ = true, capture_ = false;
    TColor color_ = clBtnFace;
    TCursor cursor_ = crDefault;
    TAlign align_ = alNone;
};

struct TWinControlImpl;

// A control with its own window: a QWidget that holds the border, two window scroll bars
// and the client widget. Child controls sit in the client widget.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    // Left and top of the client area inside the window (the border width).
    TPoint ClientOrigin() const;

    void SetParent(TWinControl* AParent) override;
    // Places the control's window inside a foreign widget (a window of another program part);
    // null takes it out. Left and Top are relative to that widget.
    void SetParentWindow(QWidget* Parent);
    QWidget* ParentWindow() const;
    // True with a parent control or a parent window.
    bool HasParentWindow() const;
    int ControlCount() const { return int(controls_.size()); }
    TControl* Controls(int i) const { return controls_.at(size_t(i)); }
    // The child control whose bounds hold the point (client coordinates), null when none.
    TControl* ControlAtPos(TPoint P) const;

    // The Align layout of the children. Each edge alignment takes its children in the order
    // of their position (alTop by Top, alBottom by bottom edge from the bottom up, alLeft by
    // Left, alRight by right edge from the right), ties in the order they were added; a child
    // keeps its own height (alTop, alBottom) or width (alLeft, alRight) and takes the rest of
    // the space across. Hidden children take no space. A change of a child's bounds,
    // visibility or alignment, and a change of this control's size, lay the children out
    // again, unless alignment is disabled: then the layout waits for the last EnableAlign.
    void AlignControls();
    void DisableAlign();
    void EnableAlign();
    bool AlignDisabled() const { return alignLock_ > 0; }

    void SetVisible(bool v) override;
    void SetEnabled(bool v) override;
    void SetColor(TColor c) override;
    void SetCursor(TCursor c) override;
    void SetMouseCapture(bool v) override;
    // The window widget takes the name as its object name.
    void SetName(const std::string& n) override;

    // Border: bsSingle draws a sunken 2-pixel edge with Ctl3D, else a flat 1-pixel line.
    TBorderStyle BorderStyle() const { return borderStyle_; }
    virtual void SetBorderStyle(TBorderStyle Value);
    bool Ctl3D() const { return ctl3D_; }
    virtual void SetCtl3D(bool Value);
    // Width of the border on each side.
    virtual int BorderWidth() const;

    bool Focused() const;
    bool CanFocus() const;
    virtual void SetFocus();
    bool TabStop = false;

    void Invalidate() override;
    void InvalidateRect(const TRect& r);   // client coordinates
    void Update() override;
    void Repaint() override;

    // Window scroll bars; Bar is SB_HORZ or SB_VERT. See the free functions below.
    bool ScrollBarVisible(int Bar) const;
    // The window scroll bars in the classic plain style instead of the desktop's: for a
    // control whose bars change with every step of a drag (an image view while it zooms),
    // where redrawing the desktop style's bars costs several milliseconds a frame.
    void SetPlainScrollBars(bool Value);
    bool PlainScrollBars() const;

    // The window (outer widget) and the client widget; for embedding and for tests.
    QWidget* Widget() const;
    QWidget* ClientWidget() const;
    QScrollBar* ScrollBarWidget(int Bar) const;

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TMouseWheelEvent OnMouseWheel;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

protected:
    // Scroll-bar messages: Code one of SB_LINEUP..SB_ENDSCROLL, Pos the 16-bit thumb position
    // for SB_THUMBTRACK / SB_THUMBPOSITION (0 otherwise). The defaults do nothing.
    virtual void WMHScroll(int Code, int Pos);
    virtual void WMVScroll(int Code, int Pos);
    // One message per 120 units of wheel turn (small touchpad deltas add up; the sum is kept
    // until it reaches a step). The default calls DoMouseWheel.
    virtual void WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos);
    // Fires OnMouseWheel; true when it handled the turn.
    virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos);
    virtual void KeyDown(uint16_t& Key, TShiftState Shift);
    virtual void KeyUp(uint16_t& Key, TShiftState Shift);
    virtual void KeyPress(char& Key);
    // Focus gained / lost (WM_SETFOCUS / WM_KILLFOCUS).
    virtual void DoEnter();
    virtual void DoExit();
    // The window is rebuilt: laid out again and invalidated. Border and 3-D changes lay the
    // window out by themselves and then call it.
    virtual void RecreateWnd();
    // Makes the window a top-level window with the frame of Frame (forms). CloseRequest runs
    // instead of closing when the window system asks the window to close.
    void MakeTopLevel(TBorderStyle Frame, std::function<void()> CloseRequest);
    // Forms answer KeyPreview: keys reach them before the focused control.
    virtual bool WantsKeyPreview() const { return false; }
    // Enter and Escape that the focused control leaves to its form (default and cancel
    // buttons); true when handled. Called on the form.
    virtual bool DialogKey(uint16_t Key) { (void)Key; return false; }
    // True when the focused control uses Enter or Escape itself now (a selected link), so its
    // form does not take the key (the class library's CM_WANTSPECIALKEY).
    virtual bool WantSpecialKey(uint16_t Key) const { (void)Key; return false; }
    // The part of the client area that aligned children share (a panel leaves its bevels).
    virtual void AdjustClientRect(TRect& Rect) const { (void)Rect; }
    // A strip above the client area (a form's menu bar), or null.
    virtual QWidget* MenuWidget() const { return nullptr; }
    // Mouse capture ended without a button release (another window took it, the window lost
    // the focus, or it was hidden); the default does nothing.
    virtual void CaptureLost() {}
    // TCustomControl paints its client area; other controls show their Color.
    virtual bool HasCanvas() const { return false; }

private:
    friend struct TWinControlImpl;
    friend class TControl;
    friend class TCustomControl;
    friend int SetScrollInfo(TWinControl*, int, const SCROLLINFO*, bool);
    friend bool GetScrollInfo(TWinControl*, int, SCROLLINFO*);
    friend int SetScrollPos(TWinControl*, int, int, bool);
    friend int GetScrollPos(TWinControl*, int);
    friend bool SetScrollRange(TWinControl*, int, int, int, bool);
    friend bool GetScrollRange(TWinControl*, int, int*, int*);
    friend bool ShowScrollBar(TWinControl*, int, bool);
    friend bool EnableScrollBar(TWinControl*, int, unsigned);
    void AddControl(TControl* c);
    void RemoveControl(TControl* c);
    // A child changed in a way that moves the layout.
    void RequestAlign();

    std::unique_ptr<TWinControlImpl> impl_;
    std::vector<TControl*> controls_;
    TBorderStyle borderStyle_ = bsNone;
    bool ctl3D_ = true;
    int alignLock_ = 0;
    bool alignPending_ = false, aligning_ = false;
};

// The layer control whose window or client area this widget is, or that holds it (a Qt
// widget placed on a form or panel); null when none.
TWinControl* ControlOfWidget(const QWidget* W);
// The control a control sits in: its parent, or, for one placed into a Qt widget of a form
// (a group box) with SetParentWindow, the layer control that holds that widget in the same
// window. Null when none.
TWinControl* HostControl(const TControl* C);
// The form a control sits on (the control itself when it is a form), through parents and
// the Qt widgets of the same window that hold it; null when none.
class TForm;
TForm* GetParentForm(const TControl* C);

// Win32 window scroll bars of a control. Position limits follow Win32's page rule: the
// largest position is nMax - max(nPage, 1) + 1; the page is clamped to the range's size.
// A range that makes the bar unnecessary (nMin >= nMax, or nPage > nMax - nMin) hides it
// (or disables it with SIF_DISABLENOSCROLL); a range that needs it shows it.
int SetScrollInfo(TWinControl* Wnd, int Bar, const SCROLLINFO* Info, bool Redraw);   // new pos
bool GetScrollInfo(TWinControl* Wnd, int Bar, SCROLLINFO* Info);
int SetScrollPos(TWinControl* Wnd, int Bar, int Pos, bool Redraw);   // previous position
int GetScrollPos(TWinControl* Wnd, int Bar);
bool SetScrollRange(TWinControl* Wnd, int Bar, int Min, int Max, bool Redraw);
bool GetScrollRange(TWinControl* Wnd, int Bar, int* Min, int* Max);
bool ShowScrollBar(TWinControl* Wnd, int Bar, bool Show);   // SB_HORZ, SB_VERT or SB_BOTH
// ESB_ENABLE_BOTH enables, ESB_DISABLE_BOTH disables; one-arrow flags leave the bar enabled.
bool EnableScrollBar(TWinControl* Wnd, int Bar, unsigned Arrows);

// A windowed control that paints itself. Its Canvas draws on a retained surface (a pf32bit
// bitmap of the client size, kept between paints): Paint runs inside paint events with the
// canvas clipped to the area to paint, and the surface is then shown. Drawing on Canvas
// outside Paint writes into the same surface and schedules a paint that shows it.
class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* AOwner);
    ~TCustomControl() override;

    TCanvas* Canvas();
    // The retained surface (pf32bit, client size).
    TBitmap* Surface();
    // True while Paint runs from a paint event.
    bool InPaint() const { return inPaint_; }

protected:
    // Paints the client area on Canvas; the default does nothing.
    virtual void Paint();
    bool HasCanvas() const override { return true; }

private:
    friend struct TWinControlImpl;
    friend class TWinControl;
    void SurfaceChanged(TObject* Sender);
    void ResizeSurface(int w, int h);
    void PaintClient(const TRect& r);
    std::unique_ptr<TBitmap> surface_;
    bool inPaint_ = false;
};
