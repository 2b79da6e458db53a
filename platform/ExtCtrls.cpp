// The timer over a QTimer.
#include "ExtCtrls.h"

#include "AppShell.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>

struct TTimerImpl {
    QTimer timer;
    // Cleared when the timer is freed, so a handler that frees it is noticed.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    // Pacing of a timer shorter than the refresh period: the period, and when the next tick
    // is due (ms on the clock below).
    bool paced = false;
    double period = 0, due = 0;
    QElapsedTimer clock;
};

namespace {

constexpr double kDefaultRefreshHz = 60.0;
constexpr double kMinPeriodMs = 4.0, kMaxPeriodMs = 34.0;

}  // namespace

double TTimer::FramePeriodMs() {
    double hz = kDefaultRefreshHz;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* s = QGuiApplication::primaryScreen())
            if (s->refreshRate() > 1.0) hz = s->refreshRate();
    return std::clamp(1000.0 / hz, kMinPeriodMs, kMaxPeriodMs);
}

double TTimer::NextPacedDelay(double Now, double& Due, double Period) {
    Due += Period;
    // Late by a whole period or more: start the rhythm again from now.
    if (Due <= Now) Due = Now + Period;
    return Due - Now;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), impl_(std::make_unique<TTimerImpl>()) {
    impl_->timer.setTimerType(Qt::PreciseTimer);
    impl_->clock.start();
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Tick(); });
}

TTimer::~TTimer() {
    *impl_->alive = false;
    impl_->timer.stop();
}

void TTimer::SetEnabled(bool Value) {
    enabled_ = Value;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned Value) {
    interval_ = Value;
    UpdateTimer();
}

bool TTimer::Running() const { return impl_->timer.isActive(); }

void TTimer::ArmPaced(double DelayMs) {
    // Whole milliseconds, rounded up: never earlier than due.
    impl_->timer.setSingleShot(true);
    impl_->timer.start(std::max(1, int(std::ceil(DelayMs - 1e-9))));
}

void TTimer::UpdateTimer() {
    impl_->timer.stop();
    impl_->paced = false;
    if (!enabled_ || interval_ == 0 || !QCoreApplication::instance()) return;
    const double period = FramePeriodMs();
    if (double(interval_) < period) {
        // The first tick after the interval itself; the following ones once per refresh.
        impl_->paced = true;
        impl_->period = period;
        impl_->due = double(impl_->clock.nsecsElapsed()) / 1e6 + double(interval_);
        ArmPaced(double(interval_));
        return;
    }
    impl_->timer.setSingleShot(false);
    impl_->timer.start(int(std::min<unsigned>(interval_, 0x7FFFFFFF)));
}

void TTimer::Tick() {
    if (impl_->paced) {
        const double now = double(impl_->clock.nsecsElapsed()) / 1e6;
        ArmPaced(NextPacedDelay(now, impl_->due, impl_->period));
    }
    // A tick that comes while the handler still runs (from a nested event loop) is dropped.
    if (inTick_) return;
    std::shared_ptr<bool> alive = impl_->alive;
    inTick_ = true;
    try {
        Timer();
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
        std::fprintf(stderr, "unknown exception in a timer handler\n");
    }
    if (*alive) inTick_ = false;
}

void TTimer::Timer() {
    if (OnTimer) OnTimer(this);
}

// ---- Panels ----

void Frame3D(TCanvas* Canvas, TRect& Rect, TColor TopColor, TColor BottomColor, int Width) {
    for (int i = 0; i < Width && !Rect.IsEmpty(); ++i) {
        TBrush* b = Canvas->Brush();
        b->SetStyle(bsSolid);
        b->SetColor(TopColor);
        Canvas->FillRect({Rect.Left, Rect.Top, Rect.Right, Rect.Top + 1});
        Canvas->FillRect({Rect.Left, Rect.Top, Rect.Left + 1, Rect.Bottom});
        b->SetColor(BottomColor);
        Canvas->FillRect({Rect.Left, Rect.Bottom - 1, Rect.Right, Rect.Bottom});
        Canvas->FillRect({Rect.Right - 1, Rect.Top, Rect.Right, Rect.Bottom});
        Rect = {Rect.Left + 1, Rect.Top + 1, Rect.Right - 1, Rect.Bottom - 1};
    }
}

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) {
    SetBounds(0, 0, 185, 41);
}

void TCustomPanel::SetBevelInner(TBevelCut v) {
    if (v == bevelInner_) return;
    bevelInner_ = v;
    AlignControls();
    Invalidate();
}

void TCustomPanel::SetBevelOuter(TBevelCut v) {
    if (v == bevelOuter_) return;
    bevelOuter_ = v;
    AlignControls();
    Invalidate();
}

void TCustomPanel::SetBevelWidth(int v) {
    v = std::max(v, 1);
    if (v == bevelWidth_) return;
    bevelWidth_ = v;
    AlignControls();
    Invalidate();
}

void TCustomPanel::SetCaption(const std::string& s) {
    caption_ = s;
    Invalidate();
}

void TCustomPanel::SetAlignment(TAlignment a) {
    alignment_ = a;
    Invalidate();
}

void TCustomPanel::SetColor(TColor c) {
    TCustomControl::SetColor(c);
    Invalidate();
}

void TCustomPanel::AdjustClientRect(TRect& Rect) const {
    const int inset = (bevelOuter_ != bvNone ? bevelWidth_ : 0) + (bevelInner_ != bvNone ? bevelWidth_ : 0);
    Rect = {Rect.Left + inset, Rect.Top + inset, Rect.Right - inset, Rect.Bottom - inset};
}

void TCustomPanel::Paint() {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone) return;
        const TColor top = cut == bvLowered ? clBtnShadow : clBtnHighlight;
        const TColor bottom = cut == bvLowered ? clBtnHighlight : clBtnShadow;
        if (cut == bvSpace) Frame3D(c, r, Color(), Color(), bevelWidth_);
        else Frame3D(c, r, top, bottom, bevelWidth_);
    };
    bevel(bevelOuter_);
    bevel(bevelInner_);
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Color());
    c->FillRect(r);
    if (caption_.empty()) return;
    c->Brush()->SetStyle(bsClear);
    const TSize t = c->TextExtent(caption_);
    int x = r.Left + (r.Width() - t.cx) / 2;
    if (alignment_ == taLeftJustify) x = r.Left;
    else if (alignment_ == taRightJustify) x = r.Right - t.cx;
    c->TextOut(x, r.Top + (r.Height() - t.cy) / 2, caption_);
}
