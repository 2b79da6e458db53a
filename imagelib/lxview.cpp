#include "lxview.h"

#include <algorithm>

TLXView::TLXView(TComponent* AOwner) : TCustomControl(AOwner) {
    TCustomControl::SetBorderStyle(bsSingle);
}

TLXView::~TLXView() {
    NotifyDestroying();
}

void TLXView::SetBackground(TColor Color) { background_ = Color; }

TBitmap* TLXView::GetBitmap() { return nullptr; }

void TLXView::SetDpiX(int Value) {
    if (Value != 0) dpiX_ = Value;
}

void TLXView::SetDpiY(int Value) {
    if (Value != 0) dpiY_ = Value;
}

void TLXView::SetDpi(int X, int Y) {
    SetDpiX(X);
    SetDpiY(Y);
}

void TLXView::ImageChange() {}

void TLXView::Update() {}

void TLXView::SetBorderStyle(TBorderStyle Value) {
    if (Value == BorderStyle()) return;
    TCustomControl::SetBorderStyle(Value);
}

void TLXView::SetCtl3D(bool Value) {
    if (Value == Ctl3D()) return;
    TCustomControl::SetCtl3D(Value);
}

void TLXView::MouseEnter() {
    if (OnMouseEnter) OnMouseEnter(this);
}

void TLXView::MouseLeave() {
    if (OnMouseLeave) OnMouseLeave(this);
}

void TLXView::RegisterBitmapChangeEvent(const TLXBitmapChangeEvent& Callback) {
    if (destroyNotified_) return;   // a dying view takes no new listeners
    callbacks_.push_back(std::make_unique<TLXBitmapChangeEvent>(Callback));
}

void TLXView::RemoveBitmapChangeEvent(const TLXBitmapChangeEvent& Callback) {
    // Both the code and the object must match: two components of one class share the code,
    // and removing the other's record would leave a dangling one behind.
    for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it) {
        if (*it && **it == Callback) {
            if (callDepth_ > 0) it->reset();   // the running call loop skips it
            else callbacks_.erase(it);
            return;
        }
    }
}

void TLXView::CallBitmapChangeEvents() {
    const size_t n = callbacks_.size();
    ++callDepth_;
    for (size_t i = 0; i < n && i < callbacks_.size(); ++i) {
        if (callbacks_[i]) {
            const TLXBitmapChangeEvent cb = *callbacks_[i];   // the record may go during the call
            cb(this, 0);
        }
    }
    if (--callDepth_ == 0)
        callbacks_.erase(std::remove(callbacks_.begin(), callbacks_.end(), nullptr), callbacks_.end());
}

int TLXView::BitmapChangeEventCount() const {
    return int(std::count_if(callbacks_.begin(), callbacks_.end(), [](const auto& r) { return bool(r); }));
}

void TLXView::NotifyDestroying() {
    if (destroyNotified_) return;
    destroyNotified_ = true;
    // Each record leaves the list before its call, so a callback that removes itself (or
    // registers anew) cannot make the loop drop someone else's record.
    while (!callbacks_.empty()) {
        std::unique_ptr<TLXBitmapChangeEvent> rec = std::move(callbacks_.front());
        callbacks_.erase(callbacks_.begin());
        if (rec) (*rec)(this, 1);
    }
}
