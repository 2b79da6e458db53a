// The class library's image list: pictures of one size, found by index.
#pragma once

#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* AOwner);
    ~TImageList() override;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // A new size clears the list. Sides below 1 count as 1.
    void SetSize(int W, int H);
    int Count() const { return int(images_.size()); }
    // Adds a copy of Image cut or padded to the list's size (its top left kept), as pf24bit;
    // returns its index.
    int Add(const TBitmap* Image);
    // The image at Index; null outside the list.
    const TBitmap* Bitmap(int Index) const;
    void Clear() { images_.clear(); }

private:
    int width_ = 16, height_ = 16;
    std::vector<std::unique_ptr<TBitmap>> images_;
};
