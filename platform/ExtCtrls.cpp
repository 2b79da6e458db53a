// The timer over a QTimer.
#include "ExtCtrls.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

struct TTimerImpl {
    QTimer timer;
    // Cleared when the timer is freed, so a handler that frees it is noticed.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), impl_(std::make_unique<TTimerImpl>()) {
    impl_->timer.setTimerType(Qt::PreciseTimer);
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

void TTimer::UpdateTimer() {
    impl_->timer.stop();
    if (!enabled_ || interval_ == 0 || !QCoreApplication::instance()) return;
    const unsigned ms = std::max(interval_, MinimumInterval);
    impl_->timer.start(int(std::min<unsigned>(ms, 0x7FFFFFFF)));
}

void TTimer::Tick() {
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
