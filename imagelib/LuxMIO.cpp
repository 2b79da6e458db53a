#include "LuxMIO.h"

#include "LuxMView.h"
#include "lxtwain.h"

TLuxMIO::TLuxMIO(TComponent* AOwner)
    : TComponent(AOwner), previewFont_(std::make_unique<TFont>()) {
    twain_ = std::make_unique<TLXTWainParams>(this);
}

TLuxMIO::~TLuxMIO() {
    Detach();
    while (!params_.empty()) DeleteParams(0);
    twain_.reset();
}

void TLuxMIO::Detach() {
    if (!view_) return;
    view_->RemoveBitmapChangeEvent(MakeMethod(this, &TLuxMIO::ViewChanged));
    view_->RemoveFreeNotification(this);
    view_ = nullptr;
}

void TLuxMIO::SetAttachedMView(TLuxMView* View) {
    if (View == view_) return;
    Detach();
    view_ = View;
    if (!View) return;
    View->FreeNotification(this);
    View->RegisterBitmapChangeEvent(MakeMethod(this, &TLuxMIO::ViewChanged));
}

void TLuxMIO::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && view_ && AComponent == static_cast<TComponent*>(view_)) Detach();
}

void TLuxMIO::ViewChanged(TLXView* View, uint8_t Flag) {
    if (!view_ || View != static_cast<TLXView*>(view_)) return;
    if (Flag == 1) {
        view_ = nullptr;   // the view is going away and empties its own list
        return;
    }
    const int kind = view_->TakeLastChange();
    const int index = view_->LastChangeIndex();
    if (kind == 1) InsertParams(index);
    else if (kind == 2) DeleteParams(index);
}

TLXIOParams* TLuxMIO::Params(int Index) const {
    if (Index < 0 || Index >= ParamsCount()) return nullptr;
    return params_[size_t(Index)].get();
}

void TLuxMIO::Renumber() {
    for (size_t i = 0; i < params_.size(); ++i) {
        params_[i]->TiffImageIndex = int(i);
        params_[i]->GifImageIndex = int(i);
    }
}

void TLuxMIO::InsertParams(int Index) {
    if (Index < 0) return;
    auto p = std::make_unique<TLXIOParams>(nullptr);
    if (!params_.empty()) {
        const size_t from = std::min(size_t(Index), params_.size() - 1);
        p->Assign(params_[from].get());   // a new entry starts with its neighbour's settings
    }
    if (size_t(Index) < params_.size()) params_.insert(params_.begin() + Index, std::move(p));
    else params_.push_back(std::move(p));
    Renumber();
}

void TLuxMIO::DeleteParams(int Index) {
    if (Index < 0 || Index >= ParamsCount()) return;
    params_.erase(params_.begin() + Index);
    Renumber();
}

void TLuxMIO::SetPreviewFont(TFont* Font) {
    if (Font) previewFont_->Assign(Font);
}
