#include "ImgList.h"

#include <algorithm>
#include <cstring>

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {}
TImageList::~TImageList() = default;

void TImageList::SetSize(int W, int H) {
    width_ = std::max(W, 1);
    height_ = std::max(H, 1);
    images_.clear();
}

int TImageList::Add(const TBitmap* Image) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(width_, height_);
    if (Image && !Image->Empty()) {
        TBitmap src;
        src.Assign(const_cast<TBitmap*>(Image));
        src.SetPixelFormat(pf24bit);
        const int w = std::min(width_, src.Width()), h = std::min(height_, src.Height());
        for (int y = 0; y < h; ++y) std::memcpy(b->ScanLine(y), src.ScanLine(y), size_t(w) * 3);
    }
    images_.push_back(std::move(b));
    return Count() - 1;
}

const TBitmap* TImageList::Bitmap(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return images_[size_t(Index)].get();
}
