// The class library's timer over a Qt timer, and its panel.
#pragma once

#include <memory>
#include <string>

#include "Classes.h"
#include "Controls.h"

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

// ---- Panels ----

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Draws a 3-D frame of Width pixels inside Rect (top and left in TopColor, bottom and right
// in BottomColor) and shrinks Rect by it.
void Frame3D(TCanvas* Canvas, TRect& Rect, TColor TopColor, TColor BottomColor, int Width);

// The class library's panel: a control that holds others, drawn with an outer and an inner
// bevel (lowered or raised, BevelWidth pixels each) around its colour and centred caption.
// Aligned children stay inside the bevels. Default size 185 x 41, outer bevel raised.
class TCustomPanel : public TCustomControl {
public:
    explicit TCustomPanel(TComponent* AOwner);

    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut v);
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut v);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int v);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& s);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment a);
    void SetColor(TColor c) override;

protected:
    void Paint() override;
    void AdjustClientRect(TRect& Rect) const override;

private:
    TBevelCut bevelInner_ = bvNone, bevelOuter_ = bvRaised;
    int bevelWidth_ = 1;
    std::string caption_;
    TAlignment alignment_ = taCenter;
};

class TPanel : public TCustomPanel {
public:
    using TCustomPanel::TCustomPanel;
};
