// The base of the library's views: background, border, mouse enter/leave, the image
// resolution, and the change callbacks through which attached components learn that the
// view's bitmap changed (flag 0) or that the view goes away (flag 1).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Classes.h"
#include "Controls.h"
#include "Graphics.h"

class TLXView;
class TLXMask;

// (view, flag): flag 0 the bitmap of the view changed, flag 1 the view is being destroyed.
using TLXBitmapChangeEvent = TMethod<void(TLXView* View, uint8_t Flag)>;

// A windowed custom control. Derived views supply the alpha mask and the paint lock. A final view class calls
// NotifyDestroying() first thing in its destructor, so that attached components let go
// while the view's bitmap and mask still exist.
class TLXView : public TCustomControl {
public:
    explicit TLXView(TComponent* AOwner);
    ~TLXView() override;

    // The virtual operations every view offers.
    virtual void SetBackground(TColor Color);
    virtual TBitmap* GetBitmap();
    virtual TLXMask* GetAlphaMask() = 0;
    virtual void LockPaint() = 0;
    virtual void UnlockPaint() = 0;
    virtual void UnlockPaintNoUpdate() = 0;
    virtual void SetDpiX(int Value);   // 0 is ignored
    virtual void SetDpiY(int Value);   // 0 is ignored
    virtual void SetDpi(int X, int Y);
    virtual void ImageChange();
    // Recompute the geometry and repaint; a bare view has nothing to do.
    void Update() override;

    TColor Background() const { return background_; }
    int DpiX() const { return dpiX_; }
    int DpiY() const { return dpiY_; }
    // bsSingle gives a border (sunken with Ctl3D, flat without); changing it or Ctl3D
    // rebuilds the window, only when the value differs.
    void SetBorderStyle(TBorderStyle Value) override;
    void SetCtl3D(bool Value) override;
    bool ParentCtl3D = true;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // Change callbacks. Registering twice gives two calls; removal takes the first record
    // of the same method on the same object.
    void RegisterBitmapChangeEvent(const TLXBitmapChangeEvent& Callback);
    void RemoveBitmapChangeEvent(const TLXBitmapChangeEvent& Callback);
    // Calls every record registered before the call, in order, with flag 0.
    void CallBitmapChangeEvents();
    int BitmapChangeEventCount() const;

protected:
    // Calls every callback with flag 1 and empties the list; runs once.
    void NotifyDestroying();
    // Mouse enter and leave notifications of the control.
    void MouseEnter() override;
    void MouseLeave() override;

private:
    std::vector<std::unique_ptr<TLXBitmapChangeEvent>> callbacks_;
    int callDepth_ = 0;
    bool destroyNotified_ = false;
    TColor background_ = clBtnFace;
    int dpiX_ = 0, dpiY_ = 0;
};
