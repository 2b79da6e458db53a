// The control hooks are event filters on the watched control's widgets; Qt calls the filter
// installed last first, and a filter that returns true ends the event, which is the order and
// the stop rule of the original window-procedure chain. The deferred "re-install" and "free"
// messages become queued calls on the event loop.
#include "UxHook.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "AppShell.h"
#include "Forms.h"

class TControlHook : public QObject {
public:
    explicit TControlHook(TWinControl* c) : control(c) { Install(); }
    ~TControlHook() override {
        destroying = true;
        Uninstall();
    }

    void Install() {
        if (!control || destroying) return;
        for (QWidget* w : {control->Widget(), control->ClientWidget()}) {
            if (!w || installed.contains(w)) continue;
            w->installEventFilter(this);
            installed.push_back(w);
            connect(w, &QObject::destroyed, this, [this, w] { WindowDestroyed(w); });
        }
    }
    void Uninstall() {
        for (const QPointer<QWidget>& w : installed)
            if (w) {
                w->removeEventFilter(this);
                disconnect(w, nullptr, this, nullptr);
            }
        installed.clear();
    }

    bool eventFilter(QObject* o, QEvent* e) override;
    bool Notify(TMessage& m, bool after);
    void WindowDestroyed(QWidget* w);

    TWinControl* control;
    std::vector<TUxWindowHook*> hooks;
    QList<QPointer<QWidget>> installed;
    bool destroying = false;
    bool inOwnHandling = false;
    int dispatching = 0;   // event filter and notification calls under way
};

namespace {

// The program-wide list of control hooks; what it still holds at the end of the program (a
// free still waiting for the event loop) goes with it.
struct THookList {
    std::vector<TControlHook*> items;
    ~THookList() {
        for (TControlHook* h : items) delete h;
    }
};

std::vector<TControlHook*>& HookList() {
    static THookList list;
    return list.items;
}

TControlHook* Find(TWinControl* c) {
    for (TControlHook* h : HookList())
        if (h->control == c) return h;
    return nullptr;
}

bool Listed(TControlHook* h) { return std::find(HookList().begin(), HookList().end(), h) != HookList().end(); }

// Frees a control hook that nobody watches any more: at once, or from the event loop when
// it is detached from inside its own event handling.
void PostFree(TControlHook* h) {
    if (h->dispatching == 0) {
        std::erase(HookList(), h);
        delete h;
        return;
    }
    QTimer::singleShot(0, QCoreApplication::instance(), [h] {
        if (!Listed(h) || !h->hooks.empty()) return;
        std::erase(HookList(), h);
        delete h;
    });
}

unsigned MessageOf(QEvent::Type t) {
    switch (t) {
    case QEvent::Move: return WM_MOVE;
    case QEvent::Resize: return WM_SIZE;
    case QEvent::FocusIn: return WM_SETFOCUS;
    case QEvent::FocusOut: return WM_KILLFOCUS;
    case QEvent::EnabledChange: return WM_ENABLE;
    case QEvent::Paint: return WM_PAINT;
    case QEvent::Close: return WM_CLOSE;
    case QEvent::Show:
    case QEvent::Hide: return WM_SHOWWINDOW;
    case QEvent::KeyPress: return WM_KEYDOWN;
    case QEvent::KeyRelease: return WM_KEYUP;
    case QEvent::WindowStateChange: return WM_SYSCOMMAND;
    case QEvent::Timer: return WM_TIMER;
    case QEvent::MouseMove: return WM_MOUSEMOVE;
    case QEvent::MouseButtonPress: return WM_LBUTTONDOWN;
    case QEvent::MouseButtonRelease: return WM_LBUTTONUP;
    case QEvent::MouseButtonDblClick: return WM_LBUTTONDBLCLK;
    case QEvent::Wheel: return WM_MOUSEWHEEL;
    default: return WM_NULL;
    }
}

}  // namespace

bool TControlHook::Notify(TMessage& m, bool after) {
    bool handled = false;
    if (hooks.empty() || !control || destroying || control->Destroying()) return false;
    struct Depth {
        int& n;
        explicit Depth(int& v) : n(v) { ++n; }
        ~Depth() { --n; }
    } depth(dispatching);
    // The last attached first; the copy survives components that detach meanwhile.
    const std::vector<TUxWindowHook*> list(hooks.rbegin(), hooks.rend());
    for (TUxWindowHook* h : list) {
        if (std::find(hooks.begin(), hooks.end(), h) == hooks.end()) continue;
        try {
            const THookMessageEvent& ev = after ? h->AfterMessage : h->BeforeMessage;
            if (ev) ev(h, m, handled);
        } catch (const std::exception& e) {
            ReportException(e);
        }
        if (handled) break;
    }
    return handled;
}

bool TControlHook::eventFilter(QObject* o, QEvent* e) {
    if (inOwnHandling || destroying) return false;
    QPointer<TControlHook> self(this);
    ++dispatching;
    struct Leave {
        QPointer<TControlHook>& h;
        ~Leave() {
            if (h) --h->dispatching;
        }
    } leave{self};
    TMessage m;
    m.Msg = MessageOf(e->type());
    m.QtType = int(e->type());
    m.Event = e;
    if (Notify(m, false)) return true;
    if (!self) return false;
    // The control's own handling, then the after notification.
    if (hooks.empty()) return false;
    inOwnHandling = true;
    bool result = false;
    try {
        result = o->event(e);
    } catch (const std::exception& ex) {
        ReportException(ex);
    }
    if (!self) return true;
    inOwnHandling = false;
    m.Result = result ? 1 : 0;
    Notify(m, true);
    return true;
}

void TControlHook::WindowDestroyed(QWidget* w) {
    installed.removeAll(QPointer<QWidget>());
    installed.removeAll(w);
    TMessage m;
    m.Msg = WM_DESTROY;
    Notify(m, false);
    Notify(m, true);
    // The control may build a new window; the hook goes there once the loop runs again.
    QPointer<TControlHook> self(this);
    QTimer::singleShot(0, QCoreApplication::instance(), [self] {
        if (self && Listed(self) && !self->hooks.empty()) self->Install();
    });
}

int ControlHookCount() { return int(HookList().size()); }

// ---- TUxWindowHook ----

TUxWindowHook::TUxWindowHook(TComponent* AOwner) : TComponent(AOwner) {}

TUxWindowHook::~TUxWindowHook() {
    SetActive(false);
    SetWinControl(nullptr);
}

void TUxWindowHook::SetActive(bool Value) {
    active_ = Value;
    if (Value) Attach();
    else Detach();
}

void TUxWindowHook::Attach() {
    if (!control_ || Destroying()) return;
    TControlHook* h = Find(control_);
    if (!h) {
        h = new TControlHook(control_);
        HookList().push_back(h);
    }
    if (std::find(h->hooks.begin(), h->hooks.end(), this) == h->hooks.end()) h->hooks.push_back(this);
    h->Install();
}

void TUxWindowHook::Detach() {
    if (!control_) return;
    TControlHook* h = Find(control_);
    if (!h) return;
    std::erase(h->hooks, this);
    if (h->hooks.empty()) {
        h->Uninstall();
        PostFree(h);
    }
}

void TUxWindowHook::SetWinControl(TWinControl* Value) {
    if (Value == control_) return;
    const bool wasActive = active_;
    Detach();
    if (control_) control_->RemoveFreeNotification(this);
    control_ = Value;
    if (control_) control_->FreeNotification(this);
    if (wasActive) Attach();
}

bool TUxWindowHook::IsForm() const { return control_ && control_ == Owner() && dynamic_cast<TForm*>(Owner()); }

void TUxWindowHook::ReadIsForm(bool Value) {
    if (Value)
        if (auto* f = dynamic_cast<TForm*>(Owner())) SetWinControl(f);
}

void TUxWindowHook::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == control_) {
        // The control goes: its hook goes at once, nothing of it may be used later.
        if (TControlHook* h = Find(control_)) {
            std::erase(h->hooks, this);
            if (h->hooks.empty()) {
                std::erase(HookList(), h);
                h->control = nullptr;
                delete h;
            }
        }
        control_ = nullptr;
    }
}
