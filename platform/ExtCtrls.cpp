// The timer over a QTimer.
#include "ExtCtrls.h"

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
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception in a timer handler\n");
    }
    if (*alive) inTick_ = false;
}

void TTimer::Timer() {
    if (OnTimer) OnTimer(this);
}
