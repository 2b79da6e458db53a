// TUxSlider: a slider drawn from bitmaps: a ruler image stretched to the control's length with
// fixed ends, a thumb image that moves along it, optional tick points, keyboard and mouse
// control, OnChange on every change of Value and OnChanged when a user action ends.
#pragma once

#include <memory>

#include "ExtCtrls.h"

enum TSliderOrientation { soHorizontal, soVertical };
enum TSliderOption : unsigned { soShowFocus = 1, soShowPoints = 2, soSmooth = 4, soRulerOpaque = 8, soThumbOpaque = 16 };
using TSliderOptions = unsigned;
// Image indexes: horizontal thumb and ruler, vertical thumb and ruler.
enum TSliderImage { siHThumb = 0, siHRuler = 1, siVThumb = 2, siVRuler = 3 };

class TUxCustomSlider : public TCustomControl {
public:
    explicit TUxCustomSlider(TComponent* AOwner);
    ~TUxCustomSlider() override;

    int Value() const { return value_; }
    void SetValue(int v);
    int MinValue() const { return min_; }
    void SetMinValue(int v);
    int MaxValue() const { return max_; }
    void SetMaxValue(int v);
    // Accepted while loading or when 0 < v <= MaxValue - MinValue; otherwise Exception
    // "Value must be between 1 and <MaxValue - MinValue>".
    int Increment() const { return increment_; }
    void SetIncrement(int v);
    int EdgeSize() const { return edgeSize_; }
    void SetEdgeSize(int v);
    TSliderOptions Options() const { return options_; }
    void SetOptions(TSliderOptions o);
    TSliderOrientation Orientation() const { return orientation_; }
    void SetOrientation(TSliderOrientation o);
    int NumThumbStates() const { return numThumbStates_; }
    void SetNumThumbStates(int n);   // 1 or 2
    TBevelCut BevelStyle() const { return bevelStyle_; }
    void SetBevelStyle(TBevelCut b);

    // The images; null restores the built-in one (and, outside loading, drops soThumbOpaque or
    // soRulerOpaque). The bitmap is copied.
    TBitmap* Image(TSliderImage i) const { return images_[i].get(); }
    void SetImage(TSliderImage i, const TBitmap* b);
    // The stored pseudo-property "UserImages": bit i set when image i is user-supplied.
    unsigned UserImages() const { return userImages_; }

    // Form loading: while it lasts, range and increment are taken as they come.
    void BeginLoading();
    void EndLoading();

    // Geometry, in client coordinates.
    TRect SliderRect() const { return sliderRect_; }
    TRect ThumbRect() const { return thumbRect_; }
    TRect RulerRect() const { return rulerRect_; }
    int TrackLength() const { return trackLength_; }
    int PositionOfValue(int v) const;
    int ValueOfPosition(int p) const;

    // The ruler's repeat step (the timer's tick; tests call it directly).
    void RepeatStep();
    bool RepeatTimerRunning() const;

    TNotifyEvent OnChange;
    TNotifyEvent OnChanged;
    TNotifyEvent OnDrawPoints;

protected:
    void Paint() override;
    void WMSize() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void DoEnter() override;
    void DoExit() override;
    void CaptureLost() override;

private:
    enum class Step { Min, Max, Up, Down };
    void StepValue(Step s);
    void Rebuild();
    void MoveThumb(int pos);
    bool Loading() const { return loading_ > 0; }
    int Inc() const { return increment_ > 0 ? increment_ : 1; }
    int Start() const;
    TBitmap* ThumbImage() const { return images_[orientation_ == soHorizontal ? siHThumb : siVThumb].get(); }
    TBitmap* RulerImage() const { return images_[orientation_ == soHorizontal ? siHRuler : siVRuler].get(); }
    void DrawTicks();
    bool BeforeThumb(TPoint p) const;

    int value_ = 0, min_ = 0, max_ = 100, increment_ = 10, edgeSize_ = 2, numThumbStates_ = 2;
    TSliderOptions options_ = soShowFocus | soShowPoints | soSmooth;
    TSliderOrientation orientation_ = soHorizontal;
    TBevelCut bevelStyle_ = bvNone;
    std::unique_ptr<TBitmap> images_[4];
    unsigned userImages_ = 0;
    int loading_ = 0;
    TRect sliderRect_, thumbRect_, rulerRect_;
    int trackLength_ = 0;
    std::unique_ptr<TBitmap> ruler_;   // stretched
    bool dragging_ = false, pressing_ = false, pressUp_ = false;
    int dragOffset_ = 0;
    TPoint pressPoint_;
    std::unique_ptr<TTimer> timer_;
};

class TUxSlider : public TUxCustomSlider {
public:
    using TUxCustomSlider::TUxCustomSlider;
};

// The built-in images, drawn by the program ("W95_HTB", "W95_HRL", "W95_VTB", "W95_VRL"): a
// pointed thumb in two states (enabled, greyed) and a sunken groove, on a magenta background
// that the bottom-left pixel names as transparent.
std::unique_ptr<TBitmap> DefaultSliderImage(TSliderImage i);
