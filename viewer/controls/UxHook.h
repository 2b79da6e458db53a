// TUxWindowHook: watches the messages of another control's window without subclassing it.
// One control hook per watched control dispatches each message to every hook component
// attached to that control, the last attached first; a component that sets Handled in its
// BeforeMessage stops the others and the control's own handling (the destruction of the
// window always goes through). AfterMessage runs after the control handled the message.
#pragma once

#include <cstdint>

#include "Controls.h"

// A message of the control's window: Msg is the Win32 number of the event (WM_SIZE,
// WM_KEYDOWN, ...; WM_NULL for events without one), QtType the toolkit's event type.
struct TMessage {
    unsigned Msg = 0;
    int QtType = 0;
    intptr_t Result = 0;
    void* Event = nullptr;   // the toolkit's event; null for WM_DESTROY
};

constexpr unsigned WM_NULL = 0x0000, WM_DESTROY = 0x0002, WM_MOVE = 0x0003, WM_SIZE = 0x0005,
                   WM_SETFOCUS = 0x0007, WM_KILLFOCUS = 0x0008, WM_ENABLE = 0x000A, WM_PAINT = 0x000F,
                   WM_CLOSE = 0x0010, WM_QUIT = 0x0012, WM_SHOWWINDOW = 0x0018, WM_GETMINMAXINFO = 0x0024,
                   WM_KEYDOWN = 0x0100, WM_KEYUP = 0x0101, WM_CHAR = 0x0102, WM_SYSCOMMAND = 0x0112,
                   WM_TIMER = 0x0113, WM_MOUSEMOVE = 0x0200, WM_LBUTTONDOWN = 0x0201, WM_LBUTTONUP = 0x0202,
                   WM_LBUTTONDBLCLK = 0x0203, WM_MOUSEWHEEL = 0x020A;

using THookMessageEvent = TMethod<void(TObject* Sender, TMessage& Msg, bool& Handled)>;

class TUxWindowHook : public TComponent {
public:
    explicit TUxWindowHook(TComponent* AOwner);
    ~TUxWindowHook() override;

    // Attached while Active and a control is set (default true).
    bool Active() const { return active_; }
    void SetActive(bool Value);
    TWinControl* WinControl() const { return control_; }
    void SetWinControl(TWinControl* Value);
    // The stored pseudo-property "IsForm": true when the watched control is the owner form;
    // reading true watches the owner when it is a form.
    bool IsForm() const;
    void ReadIsForm(bool Value);

    THookMessageEvent BeforeMessage;
    THookMessageEvent AfterMessage;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TControlHook;
    void Attach();
    void Detach();
    bool active_ = true;
    TWinControl* control_ = nullptr;
};

// How many controls are watched (control hooks alive); a hook whose last component went is
// freed from the message loop.
int ControlHookCount();
