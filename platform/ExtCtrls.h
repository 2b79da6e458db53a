// The class library's timer over a Qt timer.
#pragma once

#include <memory>

#include "Classes.h"

struct TTimerImpl;

// Runs while Enabled and Interval > 0 (Interval 0 never ticks). Setting Enabled or Interval
// restarts the count from the full interval. A tick is never re-entered: one that falls due
// while OnTimer still runs (a handler that runs a nested event loop) is dropped, and an
// overdue tick fires once, never as a queue of missed ones. Ticks come no faster than the
// screen refreshes: a timer with a shorter interval (the transition engine's 1 ms) ticks
// first after its interval and then once per refresh period, so it never draws frames that
// no one sees. OnTimer may be assigned at any time; a tick without it does nothing.
class TTimer : public TComponent {
public:
    // The screen's refresh period in milliseconds (from its refresh rate; 60 Hz when the
    // screen does not tell), limited to 4..34 ms.
    static double FramePeriodMs();
    // The pacing of a short timer: the time from Now to the next tick, given the time the
    // previous tick was due (Due, updated to the next one). Overdue ticks are not made up.
    static double NextPacedDelay(double Now, double& Due, double Period);

    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool Value);
    unsigned Interval() const { return interval_; }   // milliseconds, default 1000
    void SetInterval(unsigned Value);
    // True while the underlying timer is armed.
    bool Running() const;

    TNotifyEvent OnTimer;

protected:
    // Fires OnTimer; called on each tick that is not dropped.
    virtual void Timer();

private:
    friend struct TTimerImpl;
    void UpdateTimer();
    void Tick();
    void ArmPaced(double DelayMs);
    std::unique_ptr<TTimerImpl> impl_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    bool inTick_ = false;
};
