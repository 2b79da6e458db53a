// Controls over Qt widgets. Each windowed control owns a frame widget (the window: border,
// scroll bars) with a client widget inside; the class library's handlers are called from the
// Qt events of those widgets.
#include "Controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommonStyle>
#include <QCursor>
#include <QEvent>
#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPointer>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleFactory>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>

#include "AppShell.h"
#include "Forms.h"

namespace {

constexpr int kEdge = 2, kBorder = 1, kScrollBar = 16;

// Qt does not let exceptions pass through its event loop; report them and go on.
template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
        std::fprintf(stderr, "unknown exception in an event handler\n");
    }
}

QColor QColorOf(TColor c) {
    TColor r = ColorToRGB(c);
    return QColor(GetRValue(r), GetGValue(r), GetBValue(r));
}

TShiftState ShiftOf(Qt::KeyboardModifiers m) {
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (m & Qt::AltModifier) s |= ssAlt;
    return s;
}

TShiftState ShiftOf(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
    TShiftState s = ShiftOf(m);
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

bool ButtonOf(Qt::MouseButton b, TMouseButton& out) {
    switch (b) {
    case Qt::LeftButton: out = mbLeft; return true;
    case Qt::RightButton: out = mbRight; return true;
    case Qt::MiddleButton: out = mbMiddle; return true;
    default: return false;
    }
}

// One window scroll bar as Win32 keeps it; the Qt bar only shows it.
struct ScrollState {
    int min = 0, max = 0;
    unsigned page = 0;
    int pos = 0, track = 0;
    bool visible = false, enabled = true;
    bool inAction = false;   // a line or page action awaits its SB_ENDSCROLL

    int64_t MaxPos() const {
        int64_t m = int64_t(max) - std::max<int64_t>(page, 1) + 1;
        return std::max<int64_t>(m, min);
    }
    void Clamp() {
        int64_t size = int64_t(max) - min + 1;
        if (size < 0) size = 0;
        if (int64_t(page) > size) page = unsigned(size);
        pos = int(std::clamp<int64_t>(pos, min, MaxPos()));
    }
    bool Necessary() const { return max > min && int64_t(page) <= int64_t(max) - min; }
};

}  // namespace

class FrameWidget;
class ClientWidget;

struct TWinControlImpl {
    TWinControl* ctl;
    FrameWidget* frame = nullptr;
    ClientWidget* client = nullptr;
    QScrollBar* bars[2] = {nullptr, nullptr};
    ScrollState state[2];
    QPointer<QWidget> parentWindow;
    QObject* parentWindowFilter = nullptr;
    QObject* barFilter = nullptr;
    QRegion pending;            // invalidated, not yet painted (client coordinates)
    int wheelSum = 0;
    bool clicked = false;
    bool dead = false;
    Qt::WindowFlags topFlags;   // flags of a top-level window (forms); empty: never top-level
    std::function<void()> closeRequest;
    QImage blit;                // reused for showing the surface
    bool plainBars = false;

    explicit TWinControlImpl(TWinControl* c);
    ~TWinControlImpl();

    void Layout();
    void StyleBars();
    void SyncBar(int bar);
    void ApplyVisible();
    void Dispatch(int bar, int code, int pos);
    void OuterResized(int w, int h);
    void Moved(int x, int y) {
        if (TWinControl* c = Alive()) c->StoreBounds(x, y, c->Width(), c->Height());
    }
    TWinControl* Alive() const { return dead ? nullptr : ctl; }

    // Client widget events.
    void Mouse(QMouseEvent* e, QEvent::Type type);
    void Wheel(QWheelEvent* e);
    void Key(QKeyEvent* e, bool down);
    void Paint(QWidget* w, QPaintEvent* e);
    void BuildWidgets();
    void Rebuild();
    bool IsTop() const { return topFlags.toInt() != 0; }
    Qt::WindowFlags DetachedFlags() const { return IsTop() ? topFlags : Qt::WindowFlags(Qt::Widget); }

    int MenuHeight() const {
        QWidget* m = ctl->MenuWidget();
        return m && !m->isHidden() ? m->sizeHint().height() : 0;
    }
    // The capture ends without a release: the control is told, as Win32's WM_CAPTURECHANGED.
    void LoseCapture();
    static bool HandleDialogKey(TWinControl* c, uint16_t vk);
    static bool ForeignKey(TWinControl* holder, QWidget* w, QKeyEvent* e);
    static void CallEnter(TWinControl* c) { c->MouseEnter(); }
    static void CallLeave(TWinControl* c) { c->MouseLeave(); }
    static void CallFocusIn(TWinControl* c) { c->DoEnter(); }
    static void CallFocusOut(TWinControl* c) { c->DoExit(); }
    void Notify(void (*f)(TWinControl*)) {
        if (TWinControl* c = Alive()) Guarded([&] { f(c); });
    }
};

class FrameWidget : public QWidget {
public:
    explicit FrameWidget(TWinControlImpl* d) : d_(d) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }
    // A foreign parent widget that goes away takes this window with it: the control gets a
    // new, detached window so it stays usable.
    ~FrameWidget() override {
        if (!d_->dead && d_->frame == this) d_->Rebuild();
    }
    TWinControlImpl* d_;

protected:
    void paintEvent(QPaintEvent*) override {
        TWinControl* c = d_->Alive();
        if (!c) return;
        QPainter p(this);
        const int w = width(), h = height();
        if (c->BorderStyle() == bsSingle && c->BorderWidth() > 0) {
            if (c->Ctl3D()) {
                // A sunken edge: shadow and dark shadow at the top left, light at the bottom right.
                p.fillRect(0, 0, w, 1, QColorOf(clBtnShadow));
                p.fillRect(0, 0, 1, h, QColorOf(clBtnShadow));
                p.fillRect(0, h - 1, w, 1, QColorOf(clBtnHighlight));
                p.fillRect(w - 1, 0, 1, h, QColorOf(clBtnHighlight));
                p.fillRect(1, 1, w - 2, 1, QColorOf(cl3DDkShadow));
                p.fillRect(1, 1, 1, h - 2, QColorOf(cl3DDkShadow));
                p.fillRect(1, h - 2, w - 2, 1, QColorOf(cl3DLight));
                p.fillRect(w - 2, 1, 1, h - 2, QColorOf(cl3DLight));
            } else {
                p.setPen(QColorOf(clWindowFrame));
                p.drawRect(0, 0, w - 1, h - 1);
            }
        }
        if (d_->state[0].visible && d_->state[1].visible) {
            TPoint o = c->ClientOrigin();
            p.fillRect(o.X + c->ClientWidth(), o.Y + c->ClientHeight(), kScrollBar, kScrollBar,
                       QColorOf(clBtnFace));
        }
    }
    void resizeEvent(QResizeEvent* e) override { d_->OuterResized(e->size().width(), e->size().height()); }
    void moveEvent(QMoveEvent*) override {
        // Only a top-level window is moved by someone else (the window system).
        // Left and Top of a window are those of its client area (geometry), the same as
        // SetBounds sets them; x() and y() would include the window frame.
        if (isWindow()) d_->Moved(geometry().x(), geometry().y());
    }
    void closeEvent(QCloseEvent* e) override {
        if (d_->closeRequest && !d_->dead) {
            e->ignore();
            Guarded(d_->closeRequest);
        } else {
            QWidget::closeEvent(e);
        }
    }
    void keyPressEvent(QKeyEvent* e) override { d_->Key(e, true); }
    void keyReleaseEvent(QKeyEvent* e) override { d_->Key(e, false); }
};

class ClientWidget : public QWidget {
public:
    ClientWidget(TWinControlImpl* d, QWidget* parent) : QWidget(parent), d_(d) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
    }
    TWinControlImpl* d_;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override { d_->Mouse(e, QEvent::MouseButtonPress); }
    void mouseReleaseEvent(QMouseEvent* e) override { d_->Mouse(e, QEvent::MouseButtonRelease); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { d_->Mouse(e, QEvent::MouseButtonDblClick); }
    void mouseMoveEvent(QMouseEvent* e) override { d_->Mouse(e, QEvent::MouseMove); }
    void wheelEvent(QWheelEvent* e) override { d_->Wheel(e); }
    void keyPressEvent(QKeyEvent* e) override { d_->Key(e, true); }
    void keyReleaseEvent(QKeyEvent* e) override { d_->Key(e, false); }
    void enterEvent(QEnterEvent*) override { d_->Notify(&TWinControlImpl::CallEnter); }
    void leaveEvent(QEvent*) override { d_->Notify(&TWinControlImpl::CallLeave); }
    void focusInEvent(QFocusEvent* e) override {
        // A form takes the focus itself only when none of its controls can: Tab passes on.
        if (d_->IsTop() && (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason) &&
            HasOtherTabStop()) {
            focusNextPrevChild(e->reason() == Qt::TabFocusReason);
            return;
        }
        d_->Notify(&TWinControlImpl::CallFocusIn);
    }
    bool HasOtherTabStop() const {
        QWidget* top = window();
        for (QWidget* w : top->findChildren<QWidget*>())
            if (w != this && w->window() == top && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
                w->isVisibleTo(top))
                return true;
        return false;
    }
    void focusOutEvent(QFocusEvent* e) override {
        if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) d_->LoseCapture();
        d_->Notify(&TWinControlImpl::CallFocusOut);
    }
    bool event(QEvent* e) override {
        switch (e->type()) {
        case QEvent::UngrabMouse:
        case QEvent::WindowDeactivate:
        case QEvent::Hide: d_->LoseCapture(); break;
        default: break;
        }
        return QWidget::event(e);
    }
};

namespace {

// Sends SB_ENDSCROLL when the button that started a line or page action is released.
class BarReleaseFilter : public QObject {
public:
    explicit BarReleaseFilter(TWinControlImpl* d) : d_(d) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Wheel) {
            // A wheel over a window scroll bar is the window's wheel message.
            d_->Wheel(static_cast<QWheelEvent*>(e));
            return true;
        }
        if (e->type() == QEvent::MouseButtonRelease) {
            for (int bar = 0; bar < 2; ++bar) {
                if (o == d_->bars[bar] && d_->state[bar].inAction) {
                    d_->state[bar].inAction = false;
                    // The bar handles the release first (its repeat stops), then the end.
                    QPointer<QObject> guard(o);
                    QCoreApplication::sendEvent(o, e);
                    if (guard) d_->Dispatch(bar, SB_ENDSCROLL, 0);
                    return true;
                }
            }
        }
        return false;
    }
    TWinControlImpl* d_;
};

// Keeps an embedded control aligned to the client area of its foreign parent widget.
class ParentResizeFilter : public QObject {
public:
    explicit ParentResizeFilter(TWinControlImpl* d) : d_(d) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Resize && o == d_->parentWindow && !d_->dead && d_->ctl->Align() == alClient) {
            QWidget* w = d_->parentWindow;
            Guarded([&] { d_->ctl->SetBounds(0, 0, w->width(), w->height()); });
        }
        return false;
    }
    TWinControlImpl* d_;
};

}  // namespace

TWinControlImpl::TWinControlImpl(TWinControl* c) : ctl(c) {
    barFilter = new BarReleaseFilter(this);
    BuildWidgets();
}

void TWinControlImpl::BuildWidgets() {
    frame = new FrameWidget(this);
    client = new ClientWidget(this, frame);
    for (int bar = 0; bar < 2; ++bar) {
        auto* sb = new QScrollBar(bar == SB_HORZ ? Qt::Horizontal : Qt::Vertical, frame);
        sb->setFocusPolicy(Qt::NoFocus);
        // Its "scroll here" entries would move the bar behind the program's back.
        sb->setContextMenuPolicy(Qt::NoContextMenu);
        sb->setRange(0, 0);
        sb->hide();
        sb->installEventFilter(barFilter);
        bars[bar] = sb;
        QObject::connect(sb, &QAbstractSlider::actionTriggered, sb, [this, bar, sb](int action) {
            int code;
            switch (action) {
            case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
            case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
            case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
            case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
            case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
            case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
            default: return;   // thumb moves come through sliderMoved
            }
            // The position is the program's to set, as with Win32: undo Qt's own step.
            sb->setSliderPosition(state[bar].pos);
            state[bar].inAction = true;
            Dispatch(bar, code, 0);
        });
        QObject::connect(sb, &QAbstractSlider::sliderMoved, sb, [this, bar](int v) {
            state[bar].track = v;
            Dispatch(bar, SB_THUMBTRACK, v & 0xFFFF);
        });
        QObject::connect(sb, &QAbstractSlider::sliderReleased, sb, [this, bar, sb]() {
            int v = sb->sliderPosition();
            state[bar].track = v;
            Dispatch(bar, SB_THUMBPOSITION, v & 0xFFFF);
            Dispatch(bar, SB_ENDSCROLL, 0);
            state[bar].track = state[bar].pos;
        });
    }
    StyleBars();
}

void TWinControlImpl::StyleBars() {
    // One plain style for every control that asks, freed with the application.
    static QPointer<QStyle> plain;
    if (plainBars && !plain && QCoreApplication::instance()) {
        plain = QStyleFactory::create(QStringLiteral("Windows"));
        if (!plain) plain = new QCommonStyle;
        plain->setParent(QCoreApplication::instance());
    }
    for (QScrollBar* sb : bars) sb->setStyle(plainBars ? plain.data() : nullptr);
}

TWinControlImpl::~TWinControlImpl() {
    dead = true;
    if (parentWindow && parentWindowFilter) parentWindow->removeEventFilter(parentWindowFilter);
    delete parentWindowFilter;
    delete frame;   // the client widget and the bars go with it
    delete barFilter;
}

void TWinControlImpl::Rebuild() {
    if (parentWindowFilter) {
        delete parentWindowFilter;
        parentWindowFilter = nullptr;
    }
    parentWindow = nullptr;
    BuildWidgets();   // the old client and bars are freed with the old window
    if (TWinControl* p = ctl->Parent()) frame->setParent(p->impl_->client);
    else if (IsTop()) frame->setParent(nullptr, topFlags);
    frame->setGeometry(ctl->Left(), ctl->Top(), ctl->Width(), ctl->Height());
    if (IsTop()) client->setFocusPolicy(Qt::TabFocus);   // a click beside the controls keeps the focus where it is
    Layout();
    for (int bar = 0; bar < 2; ++bar) SyncBar(bar);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) client->setCursor(CursorOfId(ctl->Cursor()));
    pending = QRegion(0, 0, ctl->ClientWidth(), ctl->ClientHeight());
    if (!IsTop() || ctl->Parent()) ApplyVisible();
}

void TWinControlImpl::Dispatch(int bar, int code, int pos) {
    TWinControl* c = Alive();
    if (!c) return;
    Guarded([&] {
        if (bar == SB_HORZ)
            c->WMHScroll(code, pos);
        else
            c->WMVScroll(code, pos);
    });
    if (!dead && code != SB_THUMBTRACK) SyncBar(bar);
}

void TWinControlImpl::SyncBar(int bar) {
    QScrollBar* sb = bars[bar];
    const ScrollState& s = state[bar];
    QSignalBlocker block(sb);
    sb->setRange(s.min, int(s.MaxPos()));
    sb->setPageStep(int(std::min<unsigned>(std::max(s.page, 1u), unsigned(INT32_MAX))));
    sb->setSingleStep(1);
    // While the thumb is dragged it follows the mouse, as Win32 shows it.
    if (!sb->isSliderDown()) sb->setValue(s.pos);
    sb->setEnabled(s.enabled);
    sb->setVisible(s.visible);
}

void TWinControlImpl::Layout() {
    const int b = ctl->BorderWidth();
    const int cw = ctl->ClientWidth(), ch = ctl->ClientHeight();
    const int top = b + MenuHeight();
    if (QWidget* m = ctl->MenuWidget()) m->setGeometry(0, 0, ctl->Width(), top - b);
    client->setGeometry(b, top, cw, ch);
    bars[SB_VERT]->setGeometry(b + cw, top, kScrollBar, ch);
    bars[SB_HORZ]->setGeometry(b, top + ch, cw, kScrollBar);
    for (int bar = 0; bar < 2; ++bar) bars[bar]->setVisible(state[bar].visible);
    if (ctl->HasCanvas()) {
        auto* cc = static_cast<TCustomControl*>(ctl);
        if (cc->Surface()->Width() != cw || cc->Surface()->Height() != ch) {
            cc->ResizeSurface(cw, ch);
            pending += QRect(0, 0, cw, ch);
        }
    }
    frame->update();
}

void TWinControlImpl::ApplyVisible() {
    if (IsTop() && !ctl->Parent() && !parentWindow) return;   // forms show themselves
    bool show = ctl->Visible() && (ctl->Parent() || parentWindow);
    frame->setVisible(show);
}

void TWinControlImpl::OuterResized(int w, int h) {
    TWinControl* c = Alive();
    if (!c || (w == c->Width() && h == c->Height())) return;
    Guarded([&] {
        c->StoreBounds(c->Left(), c->Top(), w, h);
        Layout();
        c->AlignControls();
        c->WMSize();
    });
}

void TWinControlImpl::Mouse(QMouseEvent* e, QEvent::Type type) {
    TWinControl* c = Alive();
    if (!c) return;
    e->accept();
    const QPointF lp = e->position();
    const int x = int(std::floor(lp.x())), y = int(std::floor(lp.y()));
    Guarded([&] {
        if (type == QEvent::MouseMove) {
            // Win32 reports moves outside the window only to the window that captured the mouse.
            if (!c->MouseCapture() && !client->rect().contains(x, y)) return;
            c->MouseMove(ShiftOf(e->modifiers(), e->buttons()), x, y);
            return;
        }
        TMouseButton btn;
        if (!ButtonOf(e->button(), btn)) return;
        TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
        if (type == QEvent::MouseButtonPress) {
            if (btn == mbLeft) {
                c->capture_ = true;
                clicked = true;
            }
            c->MouseDown(btn, shift, x, y);
        } else if (type == QEvent::MouseButtonDblClick) {
            if (btn == mbLeft)
                c->WMLButtonDblClk(shift, x, y);
            else
                c->MouseDown(btn, shift | ssDouble, x, y);
        } else {
            if (btn == mbLeft) {
                c->SetMouseCapture(false);
                if (clicked) {
                    clicked = false;
                    if (client->rect().contains(x, y)) c->Click();
                }
            }
            if (!dead) c->MouseUp(btn, shift, x, y);
        }
    });
}

void TWinControlImpl::Wheel(QWheelEvent* e) {
    TWinControl* c = Alive();
    if (!c) return;
    e->accept();
    const int delta = e->angleDelta().y();
    if (delta == 0) return;
    // A turn the other way starts a new sum.
    if ((wheelSum > 0 && delta < 0) || (wheelSum < 0 && delta > 0)) wheelSum = 0;
    wheelSum += delta;
    const QPoint g = e->globalPosition().toPoint();
    const TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    while (!dead && (wheelSum >= WHEEL_DELTA || wheelSum <= -WHEEL_DELTA)) {
        const int step = wheelSum > 0 ? WHEEL_DELTA : -WHEEL_DELTA;
        wheelSum -= step;
        Guarded([&] { c->WMMouseWheel(shift, step, TPoint{g.x(), g.y()}); });
    }
}

void TWinControlImpl::Key(QKeyEvent* e, bool down) {
    TWinControl* c = Alive();
    // A key that a Qt widget on this control left alone travels on (the foreign-key filter
    // has shown it to the form already).
    QWidget* focus = QApplication::focusWidget();
    if (!c || (focus && focus != client && frame->isAncestorOf(focus))) {
        e->ignore();
        return;
    }
    e->accept();
    // A held key repeats its key-down only, as Win32 sends it (X11 adds a release to each).
    if (!down && e->isAutoRepeat()) return;
    TShiftState shift = ShiftOf(e->modifiers());
    uint16_t vk = VirtualKeyFromQt(e->key(), (e->modifiers() & Qt::KeypadModifier) != 0);
    // A modifier key's own events carry the state after it, as Win32 reports them (window
    // systems differ in whether the event's modifiers include the key itself).
    const TShiftState own = vk == VK_SHIFT ? TShiftState(ssShift)
                            : vk == VK_CONTROL ? TShiftState(ssCtrl)
                            : vk == VK_MENU    ? TShiftState(ssAlt)
                                               : 0;
    shift = down ? (shift | own) : (shift & ~own);
    // Forms with KeyPreview see the key first, outermost last as the class library walks up.
    std::vector<TWinControl*> preview;
    for (TWinControl* p = HostControl(c); p; p = HostControl(p))
        if (p->WantsKeyPreview()) preview.push_back(p);
    Guarded([&] {
        if (vk != 0) {
            for (TWinControl* p : preview) {
                if (vk == 0) break;
                if (down)
                    p->KeyDown(vk, shift);
                else
                    p->KeyUp(vk, shift);
            }
            if (down && shift == 0 && !dead && !c->WantSpecialKey(vk) && HandleDialogKey(c, vk)) return;
            if (vk != 0 && !dead) {
                if (down)
                    c->KeyDown(vk, shift);
                else
                    c->KeyUp(vk, shift);
            }
        }
        if (down && !dead) {
            const QString t = e->text();
            if (t.size() == 1 && t[0].unicode() < 0x80 && t[0].unicode() > 0) {
                char ch = char(t[0].unicode());
                for (TWinControl* p : preview) {
                    if (ch == 0) break;
                    p->KeyPress(ch);
                }
                if (ch != 0 && !dead) c->KeyPress(ch);
            }
        }
    });
}

void ClientWidget::paintEvent(QPaintEvent* e) { d_->Paint(this, e); }

void TWinControlImpl::LoseCapture() {
    TWinControl* c = Alive();
    if (!c || !c->capture_) return;
    c->capture_ = false;
    clicked = false;
    if (QWidget::mouseGrabber() == client) client->releaseMouse();
    Guarded([&] { c->CaptureLost(); });
}

void TWinControlImpl::Paint(QWidget* w, QPaintEvent* e) {
    TWinControl* c = Alive();
    if (!c) return;
    QPainter p(w);
    if (!c->HasCanvas()) {
        pending -= e->region();
        p.fillRect(e->rect(), QColorOf(c->Color()));
        return;
    }
    auto* cc = static_cast<TCustomControl*>(c);
    const QRect r = e->rect();
    // Only what was invalidated is painted again; the rest of the surface is kept (drawing
    // outside Paint, or an expose, only needs it shown).
    const QRegion invalid = pending & e->region();
    pending -= e->region();
    if (!invalid.isEmpty()) {
        const QRect b = invalid.boundingRect();
        Guarded([&] { cc->PaintClient(TRect{b.left(), b.top(), b.right() + 1, b.bottom() + 1}); });
    }
    if (dead) return;
    TBitmap* s = cc->Surface();
    // The rows below are read as 32-bit pixels, whatever a caller did to the surface.
    if (s->PixelFormat() != pf32bit) Guarded([&] { s->SetPixelFormat(pf32bit); });
    if (s->PixelFormat() != pf32bit) return;
    s->FlushCanvas();
    QRect a = r.intersected(QRect(0, 0, s->Width(), s->Height()));
    if (a.isEmpty() || !s->PixelBlock()) return;
    if (blit.width() < a.width() || blit.height() < a.height())
        blit = QImage(std::max(a.width(), blit.width()), std::max(a.height(), blit.height()),
                          QImage::Format_RGB32);
    if (blit.isNull()) return;
    for (int y = 0; y < a.height(); ++y) {
        const uint32_t* src = reinterpret_cast<const uint32_t*>(s->ScanLine(a.top() + y)) + a.left();
        uint32_t* dst = reinterpret_cast<uint32_t*>(blit.scanLine(y));
        for (int x = 0; x < a.width(); ++x) dst[x] = src[x] | 0xFF000000u;
    }
    p.drawImage(a.topLeft(), blit, QRect(0, 0, a.width(), a.height()));
}

// ---- Free functions ----

bool TWinControlImpl::HandleDialogKey(TWinControl* c, uint16_t vk) {
    if (vk != VK_RETURN && vk != VK_ESCAPE) return false;
    TForm* f = GetParentForm(c);
    return f && static_cast<TWinControl*>(f)->DialogKey(vk);
}

TWinControl* ControlOfWidget(const QWidget* W) {
    for (const QWidget* w = W; w; w = w->parentWidget()) {
        if (auto* f = dynamic_cast<const FrameWidget*>(w)) return f->d_->Alive();
        if (auto* c = dynamic_cast<const ClientWidget*>(w)) return c->d_->Alive();
    }
    return nullptr;
}

TWinControl* HostControl(const TControl* C) {
    if (!C) return nullptr;
    if (C->Parent()) return C->Parent();
    auto* w = dynamic_cast<const TWinControl*>(C);
    if (!w || !w->ParentWindow() || dynamic_cast<const TForm*>(C)) return nullptr;
    // A foreign window of another program part (a preview pane) holds no layer control.
    TWinControl* host = ControlOfWidget(w->ParentWindow());
    return host && host != C && host->Widget()->window() == w->Widget()->window() ? host : nullptr;
}

TForm* GetParentForm(const TControl* C) {
    const TControl* top = C;
    for (int depth = 0; top && depth < 256; ++depth) {
        TWinControl* host = HostControl(top);
        if (!host) break;
        top = host;
    }
    return dynamic_cast<TForm*>(const_cast<TControl*>(top));
}

namespace {

// Keys of the Qt widgets that sit on the layer's forms: a form with KeyPreview sees them
// first, and Enter and Escape that the widget leaves alone go to the form's default and
// cancel buttons, as the class library's dialog keys do.
class ForeignKeyFilter : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
        auto* w = qobject_cast<QWidget*>(o);
        // Only the first delivery: an ignored key travels on to the parents.
        if (!w || w != QApplication::focusWidget()) return false;
        if (dynamic_cast<FrameWidget*>(w) || dynamic_cast<ClientWidget*>(w)) return false;
        TWinControl* holder = ControlOfWidget(w);
        // A dialog window of Qt's own (a message box, a file dialog) that sits on a form is
        // not part of it: its keys are none of the form's business.
        if (!holder || holder->Widget()->window() != w->window()) return false;
        return TWinControlImpl::ForeignKey(holder, w, static_cast<QKeyEvent*>(e));
    }
};

}  // namespace

bool TWinControlImpl::ForeignKey(TWinControl* holder, QWidget* w, QKeyEvent* e) {
    const bool down = e->type() == QEvent::KeyPress;
    if (!down && e->isAutoRepeat()) return false;
    const TShiftState shift = ShiftOf(e->modifiers());
    uint16_t vk = VirtualKeyFromQt(e->key(), (e->modifiers() & Qt::KeypadModifier) != 0);
    const bool known = vk != 0;
    bool eaten = false;
    Guarded([&] {
        std::vector<TWinControl*> preview;
        for (TWinControl* p = holder; p; p = HostControl(p))
            if (p->WantsKeyPreview()) preview.push_back(p);
        for (TWinControl* p : preview) {
            if (vk == 0) break;
            if (down)
                p->KeyDown(vk, shift);
            else
                p->KeyUp(vk, shift);
        }
        if (known && vk == 0) {
            eaten = true;
            return;
        }
        if (down) {
            const QString t = e->text();
            if (!preview.empty() && t.size() == 1 && t[0].unicode() < 0x80 && t[0].unicode() > 0) {
                char ch = char(t[0].unicode());
                for (TWinControl* p : preview) {
                    if (ch == 0) break;
                    p->KeyPress(ch);
                }
                if (ch == 0) {
                    eaten = true;
                    return;
                }
            }
        }
        if (!down || shift != 0) return;
        if (vk == VK_RETURN) {
            // A text box of several lines keeps Enter; a focused push button is pressed by
            // it. Check boxes and radio buttons leave it to the form, as Win32's do.
            if (w->inherits("QTextEdit") || w->inherits("QPlainTextEdit")) return;
            if (auto* b = qobject_cast<QAbstractButton*>(w); b && !w->inherits("QCheckBox") && !w->inherits("QRadioButton")) {
                b->click();
                eaten = true;
                return;
            }
        }
        eaten = HandleDialogKey(holder, vk);
    });
    return eaten;
}

void InstallForeignKeyFilter() {
    static ForeignKeyFilter* filter = nullptr;
    if (filter || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    filter = new ForeignKeyFilter;
    filter->setParent(QCoreApplication::instance());
    QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] { filter = nullptr; });
    QCoreApplication::instance()->installEventFilter(filter);
}

uint16_t VirtualKeyFromQt(int k, bool keypad) {
    if (keypad) {
        if (k >= Qt::Key_0 && k <= Qt::Key_9) return uint16_t(VK_NUMPAD0 + (k - Qt::Key_0));
        switch (k) {
        case Qt::Key_Asterisk: return VK_MULTIPLY;
        case Qt::Key_Plus: return VK_ADD;
        case Qt::Key_Minus: return VK_SUBTRACT;
        case Qt::Key_Period:
        case Qt::Key_Comma: return VK_DECIMAL;
        case Qt::Key_Slash: return VK_DIVIDE;
        default: break;
        }
    }
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return uint16_t('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return uint16_t('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return uint16_t(VK_F1 + (k - Qt::Key_F1));
    switch (k) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Clear: return VK_CLEAR;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Select: return VK_SELECT;
    case Qt::Key_Print: return VK_SNAPSHOT;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return VK_HELP;
    case Qt::Key_Meta: return VK_LWIN;
    case Qt::Key_Menu: return VK_APPS;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Asterisk: return VK_MULTIPLY;
    case Qt::Key_Plus: return VK_ADD;
    case Qt::Key_Minus: return VK_SUBTRACT;
    case Qt::Key_Slash: return VK_DIVIDE;
    default: return 0;
    }
}

bool GetCursorPos(TPoint* Point) {
    if (!Point || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    const QPoint p = QCursor::pos();
    *Point = {p.x(), p.y()};
    return true;
}

int GetSystemMetrics(int Index) {
    switch (Index) {
    case SM_CXEDGE:
    case SM_CYEDGE: return kEdge;
    case SM_CXBORDER:
    case SM_CYBORDER: return kBorder;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVSCROLL: return kScrollBar;
    case SM_CXSCREEN:
    case SM_CYSCREEN:
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            if (QScreen* s = QGuiApplication::primaryScreen())
                return Index == SM_CXSCREEN ? s->geometry().width() : s->geometry().height();
        return 0;
    default: return 0;
    }
}

namespace {

bool ValidBar(TWinControl* w, int bar) { return w && (bar == SB_HORZ || bar == SB_VERT); }

}  // namespace

int SetScrollInfo(TWinControl* Wnd, int Bar, const SCROLLINFO* Info, bool Redraw) {
    (void)Redraw;
    if (!ValidBar(Wnd, Bar) || !Info) return 0;
    TWinControlImpl* d = Wnd->impl_.get();
    ScrollState& s = d->state[Bar];
    if (Info->fMask & SIF_RANGE) {
        s.min = Info->nMin;
        s.max = Info->nMax;
    }
    if (Info->fMask & SIF_PAGE) s.page = Info->nPage;
    if (Info->fMask & SIF_POS) s.pos = Info->nPos;
    s.Clamp();
    bool relayout = false;
    if (Info->fMask & (SIF_RANGE | SIF_PAGE)) {
        const bool need = s.Necessary();
        if (Info->fMask & SIF_DISABLENOSCROLL) {
            s.enabled = need;
        } else if (need != s.visible) {
            s.visible = need;
            relayout = true;
        }
    }
    if (!s.visible || !d->bars[Bar]->isSliderDown()) s.track = s.pos;
    if (relayout) d->Layout();
    d->SyncBar(Bar);
    return s.pos;
}

bool GetScrollInfo(TWinControl* Wnd, int Bar, SCROLLINFO* Info) {
    if (!ValidBar(Wnd, Bar) || !Info) return false;
    const ScrollState& s = Wnd->impl_->state[Bar];
    if (Info->fMask & SIF_RANGE) {
        Info->nMin = s.min;
        Info->nMax = s.max;
    }
    if (Info->fMask & SIF_PAGE) Info->nPage = s.page;
    if (Info->fMask & SIF_POS) Info->nPos = s.pos;
    if (Info->fMask & SIF_TRACKPOS) Info->nTrackPos = Wnd->impl_->bars[Bar]->isSliderDown() ? s.track : s.pos;
    return true;
}

int SetScrollPos(TWinControl* Wnd, int Bar, int Pos, bool Redraw) {
    if (!ValidBar(Wnd, Bar)) return 0;
    const int old = Wnd->impl_->state[Bar].pos;
    SCROLLINFO si;
    si.fMask = SIF_POS;
    si.nPos = Pos;
    SetScrollInfo(Wnd, Bar, &si, Redraw);
    return old;
}

int GetScrollPos(TWinControl* Wnd, int Bar) { return ValidBar(Wnd, Bar) ? Wnd->impl_->state[Bar].pos : 0; }

bool SetScrollRange(TWinControl* Wnd, int Bar, int Min, int Max, bool Redraw) {
    if (!ValidBar(Wnd, Bar) || int64_t(Max) - Min > INT32_MAX) return false;
    SCROLLINFO si;
    si.fMask = SIF_RANGE;
    si.nMin = Min;
    si.nMax = Max;
    SetScrollInfo(Wnd, Bar, &si, Redraw);
    return true;
}

bool GetScrollRange(TWinControl* Wnd, int Bar, int* Min, int* Max) {
    if (!ValidBar(Wnd, Bar) || !Min || !Max) return false;
    *Min = Wnd->impl_->state[Bar].min;
    *Max = Wnd->impl_->state[Bar].max;
    return true;
}

bool ShowScrollBar(TWinControl* Wnd, int Bar, bool Show) {
    if (!Wnd || Bar < SB_HORZ || Bar > SB_BOTH || Bar == SB_CTL) return false;
    TWinControlImpl* d = Wnd->impl_.get();
    bool changed = false;
    for (int b = 0; b < 2; ++b) {
        if (Bar != SB_BOTH && Bar != b) continue;
        if (d->state[b].visible != Show) {
            d->state[b].visible = Show;
            changed = true;
        }
    }
    if (changed) {
        d->Layout();
        for (int b = 0; b < 2; ++b) d->SyncBar(b);
    }
    return true;
}

bool EnableScrollBar(TWinControl* Wnd, int Bar, unsigned Arrows) {
    if (!Wnd || Bar < SB_HORZ || Bar > SB_BOTH || Bar == SB_CTL) return false;
    TWinControlImpl* d = Wnd->impl_.get();
    for (int b = 0; b < 2; ++b) {
        if (Bar != SB_BOTH && Bar != b) continue;
        d->state[b].enabled = Arrows != ESB_DISABLE_BOTH;
        d->SyncBar(b);
    }
    return true;
}

// ---- TControl ----

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}
TControl::~TControl() = default;

void TControl::StoreBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    left_ = ALeft;
    top_ = ATop;
    width_ = std::max(AWidth, 0);
    height_ = std::max(AHeight, 0);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    StoreBounds(ALeft, ATop, AWidth, AHeight);
    if (parent_ && align_ != alNone) parent_->RequestAlign();
}
void TControl::SetParent(TWinControl* AParent) { parent_ = AParent; }
void TControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    if (parent_ && align_ != alNone) parent_->RequestAlign();
}
void TControl::SetEnabled(bool v) { enabled_ = v; }
void TControl::SetColor(TColor c) { color_ = c; }
void TControl::SetCursor(TCursor c) { cursor_ = c; }
void TControl::SetMouseCapture(bool v) { capture_ = v; }

void TControl::SetAlign(TAlign a) {
    if (align_ == a) return;
    align_ = a;
    if (parent_) parent_->RequestAlign();
    if (auto* w = dynamic_cast<TWinControl*>(this); w && a == alClient && !parent_ && w->ParentWindow())
        SetBounds(0, 0, w->ParentWindow()->width(), w->ParentWindow()->height());
}

TPoint TControl::ClientToScreen(TPoint p) const {
    if (auto* w = dynamic_cast<const TWinControl*>(this)) {
        QPoint g = w->ClientWidget()->mapToGlobal(QPoint(p.X, p.Y));
        return {g.x(), g.y()};
    }
    return p;
}

TPoint TControl::ScreenToClient(TPoint p) const {
    if (auto* w = dynamic_cast<const TWinControl*>(this)) {
        QPoint l = w->ClientWidget()->mapFromGlobal(QPoint(p.X, p.Y));
        return {l.x(), l.y()};
    }
    return p;
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}
void TControl::MouseMove(TShiftState Shift, int X, int Y) {
    if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}
void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}
void TControl::Click() {
    if (OnClick) OnClick(this);
}
void TControl::DblClick() {
    if (OnDblClick) OnDblClick(this);
}
void TControl::WMSize() { Resize(); }
void TControl::Resize() {
    if (OnResize) OnResize(this);
}
void TControl::WMLButtonDblClk(TShiftState Shift, int X, int Y) {
    capture_ = true;
    DblClick();
    MouseDown(mbLeft, Shift | ssDouble, X, Y);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner), impl_(std::make_unique<TWinControlImpl>(this)) {
    impl_->Layout();
}

TWinControl::~TWinControl() {
    // Watchers of the window see the control going while its windows go.
    SetComponentState(csDestroying);
    impl_->dead = true;
    // Children keep their own windows; they are freed by their owners.
    for (TControl* c : controls_) {
        c->StoreParent(nullptr);
        if (auto* w = dynamic_cast<TWinControl*>(c)) {
            w->impl_->frame->hide();
            w->impl_->frame->setParent(nullptr);
        }
    }
    controls_.clear();
    if (Parent()) Parent()->RemoveControl(this);
    if (QWidget::mouseGrabber() == impl_->client) impl_->client->releaseMouse();
    impl_.reset();
}

void TWinControl::AddControl(TControl* c) {
    if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) controls_.push_back(c);
}

void TWinControl::RemoveControl(TControl* c) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
    if (c->Align() != alNone) RequestAlign();
}

TControl* TWinControl::ControlAtPos(TPoint P) const {
    for (TControl* c : controls_) {
        const TRect b = c->BoundsRect();
        if (P.X >= b.Left && P.X < b.Right && P.Y >= b.Top && P.Y < b.Bottom) return c;
    }
    return nullptr;
}

void TWinControl::RequestAlign() {
    if (!impl_ || impl_->dead) return;
    AlignControls();
}

void TWinControl::DisableAlign() { ++alignLock_; }

void TWinControl::EnableAlign() {
    if (alignLock_ > 0 && --alignLock_ == 0 && alignPending_) AlignControls();
}

void TWinControl::AlignControls() {
    if (alignLock_ > 0) {
        alignPending_ = true;
        return;
    }
    if (aligning_) return;
    alignPending_ = false;
    aligning_ = true;
    struct Reset {
        bool& b;
        ~Reset() { b = false; }
    } reset{aligning_};
    TRect r = ClientRect();
    AdjustClientRect(r);
    for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) {
        std::vector<TControl*> list;
        for (TControl* c : controls_)
            if (c->Align() == a && c->Visible()) list.push_back(c);
        // Stacked in the order of their positions; the sort is stable, so ties keep the
        // order in which the controls were added.
        std::stable_sort(list.begin(), list.end(), [a](TControl* x, TControl* y) {
            switch (a) {
            case alTop: return x->Top() < y->Top();
            case alBottom: return x->Top() + x->Height() > y->Top() + y->Height();
            case alLeft: return x->Left() < y->Left();
            case alRight: return x->Left() + x->Width() > y->Left() + y->Width();
            default: return false;
            }
        });
        for (TControl* c : list) {
            const int w = c->Width(), h = c->Height();
            switch (a) {
            case alTop:
                c->SetBounds(r.Left, r.Top, r.Width(), h);
                r.Top += h;
                break;
            case alBottom:
                c->SetBounds(r.Left, r.Bottom - h, r.Width(), h);
                r.Bottom -= h;
                break;
            case alLeft:
                c->SetBounds(r.Left, r.Top, w, r.Height());
                r.Left += w;
                break;
            case alRight:
                c->SetBounds(r.Right - w, r.Top, w, r.Height());
                r.Right -= w;
                break;
            default: c->SetBounds(r.Left, r.Top, r.Width(), r.Height()); break;
            }
        }
    }
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    const int oldW = Width(), oldH = Height();
    StoreBounds(ALeft, ATop, AWidth, AHeight);
    impl_->frame->setGeometry(Left(), Top(), Width(), Height());
    impl_->Layout();
    if (Width() != oldW || Height() != oldH) {
        AlignControls();
        WMSize();
    }
    if (Parent() && Align() != alNone) Parent()->RequestAlign();
}

int TWinControl::ClientWidth() const {
    int w = Width() - 2 * BorderWidth() - (impl_->state[SB_VERT].visible ? kScrollBar : 0);
    return std::max(w, 0);
}

int TWinControl::ClientHeight() const {
    int h = Height() - 2 * BorderWidth() - impl_->MenuHeight() - (impl_->state[SB_HORZ].visible ? kScrollBar : 0);
    return std::max(h, 0);
}

TPoint TWinControl::ClientOrigin() const { return {BorderWidth(), BorderWidth() + impl_->MenuHeight()}; }

void TWinControl::SetParent(TWinControl* AParent) {
    if (AParent == Parent() || AParent == this) return;
    if (Parent()) Parent()->RemoveControl(this);
    StoreParent(AParent);
    if (AParent) {
        if (impl_->parentWindow) SetParentWindow(nullptr);
        AParent->AddControl(this);
        impl_->frame->setParent(AParent->impl_->client);
        impl_->frame->setGeometry(Left(), Top(), Width(), Height());
        if (Align() != alNone) AParent->RequestAlign();
    } else {
        impl_->frame->hide();
        impl_->frame->setParent(nullptr, impl_->DetachedFlags());
    }
    impl_->ApplyVisible();
}

void TWinControl::SetParentWindow(QWidget* P) {
    TWinControlImpl* d = impl_.get();
    if (d->parentWindow == P) return;
    if (d->parentWindow && d->parentWindowFilter) d->parentWindow->removeEventFilter(d->parentWindowFilter);
    if (P && Parent()) {
        Parent()->RemoveControl(this);
        StoreParent(nullptr);
    }
    d->parentWindow = P;
    const bool wasVisible = d->frame->isVisible();
    d->frame->hide();
    if (P) {
        d->frame->setParent(P, Qt::Widget);
        if (!d->parentWindowFilter) d->parentWindowFilter = new ParentResizeFilter(d);
        P->installEventFilter(d->parentWindowFilter);
        if (Align() == alClient)
            SetBounds(0, 0, P->width(), P->height());
        else
            d->frame->setGeometry(Left(), Top(), Width(), Height());
        d->ApplyVisible();
    } else {
        d->frame->setParent(nullptr, d->DetachedFlags());
        d->frame->setGeometry(Left(), Top(), Width(), Height());
        if (d->IsTop() && wasVisible && Visible()) d->frame->show();
    }
}

QWidget* TWinControl::ParentWindow() const { return impl_->parentWindow; }
bool TWinControl::HasParentWindow() const { return Parent() != nullptr || impl_->parentWindow != nullptr; }

void TWinControl::SetVisible(bool v) {
    TControl::SetVisible(v);
    impl_->ApplyVisible();
}

void TWinControl::SetName(const std::string& n) {
    TControl::SetName(n);
    impl_->frame->setObjectName(QString::fromStdString(n));
}

void TWinControl::SetEnabled(bool v) {
    TControl::SetEnabled(v);
    impl_->frame->setEnabled(v);
}

void TWinControl::SetColor(TColor c) {
    if (c == Color()) return;
    TControl::SetColor(c);
    if (!HasCanvas()) impl_->client->update();
}

void TWinControl::SetCursor(TCursor c) {
    TControl::SetCursor(c);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) impl_->client->setCursor(CursorOfId(c));
}

void TWinControl::SetMouseCapture(bool v) {
    TControl::SetMouseCapture(v);
    QWidget* cw = impl_->client;
    if (v) {
        if (cw->isVisible()) cw->grabMouse();
    } else if (QWidget::mouseGrabber() == cw) {
        cw->releaseMouse();
    }
}

void TWinControl::SetBorderStyle(TBorderStyle Value) {
    if (Value == borderStyle_) return;
    borderStyle_ = Value;
    impl_->Layout();
    AlignControls();
    RecreateWnd();
}

void TWinControl::SetCtl3D(bool Value) {
    if (Value == ctl3D_) return;
    ctl3D_ = Value;
    impl_->Layout();
    AlignControls();
    RecreateWnd();
}

int TWinControl::BorderWidth() const {
    if (borderStyle_ != bsSingle) return 0;
    return ctl3D_ ? kEdge : kBorder;
}

void TWinControl::RecreateWnd() {
    impl_->Layout();
    AlignControls();
    Invalidate();
}

bool TWinControl::Focused() const { return impl_->client->hasFocus(); }
bool TWinControl::CanFocus() const { return Visible() && Enabled() && HasParentWindow(); }
void TWinControl::SetFocus() { impl_->client->setFocus(Qt::OtherFocusReason); }

void TWinControl::Invalidate() {
    QWidget* cw = impl_->client;
    impl_->pending += cw->rect();
    cw->update();
}

void TWinControl::InvalidateRect(const TRect& r) {
    QRect q(r.Left, r.Top, r.Width(), r.Height());
    q &= impl_->client->rect();
    if (q.isEmpty()) return;
    impl_->pending += q;
    impl_->client->update(q);
}

void TWinControl::Update() {
    QWidget* cw = impl_->client;
    if (impl_->pending.isEmpty()) return;
    const QRegion r = impl_->pending;
    if (cw->isVisible()) {
        cw->repaint(r);   // the paint event takes what it painted off the pending region
    } else if (HasCanvas()) {
        impl_->pending = QRegion();
        // No window on screen: bring the surface up to date all the same.
        const QRect b = r.boundingRect();
        static_cast<TCustomControl*>(this)->PaintClient(TRect{b.left(), b.top(), b.right() + 1, b.bottom() + 1});
    }
}

void TWinControl::Repaint() {
    Invalidate();
    TWinControl::Update();
}

void InstallForeignKeyFilter();

void TWinControl::MakeTopLevel(TBorderStyle Frame, std::function<void()> CloseRequest) {
    InstallForeignKeyFilter();
    TWinControlImpl* d = impl_.get();
    Qt::WindowFlags f = Qt::Window;
    switch (Frame) {
    case bsNone: f = Qt::Window | Qt::FramelessWindowHint; break;
    case bsDialog: f = Qt::Dialog; break;
    case bsToolWindow:
    case bsSizeToolWin: f = Qt::Tool; break;
    default: break;
    }
    d->topFlags = f;
    d->closeRequest = std::move(CloseRequest);
    d->client->setFocusPolicy(Qt::TabFocus);
    if (!Parent() && !d->parentWindow) {
        d->frame->setParent(nullptr, f);
        d->frame->setGeometry(Left(), Top(), Width(), Height());
    }
}

bool TWinControl::ScrollBarVisible(int Bar) const {
    return (Bar == SB_HORZ || Bar == SB_VERT) && impl_->state[Bar].visible;
}

QWidget* TWinControl::Widget() const { return impl_->frame; }
QWidget* TWinControl::ClientWidget() const { return impl_->client; }
void TWinControl::SetPlainScrollBars(bool Value) {
    if (impl_->plainBars == Value) return;
    impl_->plainBars = Value;
    impl_->StyleBars();
}

bool TWinControl::PlainScrollBars() const { return impl_->plainBars; }

QScrollBar* TWinControl::ScrollBarWidget(int Bar) const {
    return (Bar == SB_HORZ || Bar == SB_VERT) ? impl_->bars[Bar] : nullptr;
}

void TWinControl::WMHScroll(int, int) {}
void TWinControl::WMVScroll(int, int) {}
void TWinControl::WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
    DoMouseWheel(Shift, WheelDelta, MousePos);
}
bool TWinControl::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
    bool handled = false;
    if (OnMouseWheel) OnMouseWheel(this, Shift, WheelDelta, MousePos, handled);
    return handled;
}
void TWinControl::KeyDown(uint16_t& Key, TShiftState Shift) {
    if (OnKeyDown) OnKeyDown(this, Key, Shift);
}
void TWinControl::KeyUp(uint16_t& Key, TShiftState Shift) {
    if (OnKeyUp) OnKeyUp(this, Key, Shift);
}
void TWinControl::KeyPress(char& Key) {
    if (OnKeyPress) OnKeyPress(this, Key);
}
void TWinControl::DoEnter() {
    if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
    if (OnExit) OnExit(this);
}

// ---- TCustomControl ----

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner), surface_(std::make_unique<TBitmap>()) {
    surface_->SetPixelFormat(pf32bit);
    surface_->OnChange = MakeMethod(this, &TCustomControl::SurfaceChanged);
    ResizeSurface(ClientWidth(), ClientHeight());
}

TCustomControl::~TCustomControl() {
    surface_->OnChange.Clear();
    // From here on the window shows nothing of this control.
    impl_->dead = true;
}

TCanvas* TCustomControl::Canvas() { return surface_->Canvas(); }
TBitmap* TCustomControl::Surface() { return surface_.get(); }

void TCustomControl::Paint() {}

void TCustomControl::SurfaceChanged(TObject*) {
    if (!inPaint_ && impl_ && !impl_->dead) impl_->client->update();
}

void TCustomControl::ResizeSurface(int w, int h) {
    if (!surface_) return;
    const int ow = surface_->Width(), oh = surface_->Height();
    if (w == ow && h == oh && surface_->PixelFormat() == pf32bit) return;
    surface_->SetPixelFormat(pf32bit);
    surface_->SetSize(w, h);
    surface_->Canvas()->ResetClip();
    if (surface_->Empty()) return;
    // Uncovered parts show the control's colour until Paint draws them.
    const TColor c = ColorToRGB(Color());
    const uint32_t px = uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16;
    surface_->FlushCanvas();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(surface_->ScanLine(y));
        const int from = y < oh ? std::min(ow, w) : 0;
        for (int x = from; x < w; ++x) row[x] = px;
    }
}

void TCustomControl::PaintClient(const TRect& r) {
    if (inPaint_ || r.IsEmpty()) return;
    TCanvas* c = Canvas();
    struct Reset {
        TCustomControl* self;
        ~Reset() {
            self->Canvas()->ResetClip();
            self->inPaint_ = false;
        }
    } reset{this};
    inPaint_ = true;
    c->ResetClip();
    c->IntersectClipRect(r);
    Paint();
    c->Flush();
}
