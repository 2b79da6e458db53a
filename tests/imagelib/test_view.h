// A concrete view for the tests of the base view and the I/O component: it owns a bitmap and
// an 8-bit alpha mask and counts the calls the components make on it.
#pragma once

#include <memory>

#include "Graphics.h"
#include "lxdefs.h"
#include "lxview.h"

namespace lxtest {

class TTestView : public TLXView {
public:
    explicit TTestView(TComponent* AOwner = nullptr)
        : TLXView(AOwner), bitmap_(std::make_unique<TBitmap>()), mask_(std::make_unique<TLXMask>()) {}
    ~TTestView() override {
        // Listeners hear of the end while the bitmap and mask still exist.
        NotifyDestroying();
        mask_.reset();
        bitmap_.reset();
    }
    TBitmap* GetBitmap() override { return bitmap_.get(); }
    TLXMask* GetAlphaMask() override { return mask_.get(); }
    void LockPaint() override { ++locks; }
    void UnlockPaint() override { if (locks > 0) --locks; }
    void UnlockPaintNoUpdate() override { if (locks > 0) --locks; }
    void Update() override { ++updates; }
    void ImageChange() override { ++imageChanges; }

    // Gives the view a new bitmap object, as a thumbnail view does, and tells the listeners.
    void ReplaceBitmap() {
        bitmap_ = std::make_unique<TBitmap>();
        CallBitmapChangeEvents();
    }
    void EnterMouse() { MouseEnter(); }
    void LeaveMouse() { MouseLeave(); }

    int locks = 0, updates = 0, imageChanges = 0, recreates = 0;

protected:
    void RecreateWnd() override { ++recreates; }

private:
    std::unique_ptr<TBitmap> bitmap_;
    std::unique_ptr<TLXMask> mask_;
};

}  // namespace lxtest
