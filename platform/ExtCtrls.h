// The class library's timer over a Qt timer.
#pragma once

#include <memory>

#include "Classes.h"

struct TTimerImpl;

// Runs while Enabled and Interval > 0 (Interval 0 never ticks). Setting Enabled or Interval
// restarts the count from the full interval. A tick is never re-entered: one that falls due
// while OnTimer still runs (a handler that runs a nested event loop) is dropped, and an
// overdue tick fires once, never as a queue of missed ones. Intervals below
// MinimumInterval are raised to it, as the original platform's timers were, so a 1 ms timer
// does not saturate the UI thread. OnTimer may be assigned at any time; a tick without it
// does nothing.
class TTimer : public TComponent {
public:
    static constexpr unsigned MinimumInterval = 10;

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
    std::unique_ptr<TTimerImpl> impl_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    bool inTick_ = false;
};
