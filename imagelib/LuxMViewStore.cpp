#include "LuxMViewStore.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "lxutils.h"

namespace {

TPixelFormat FormatOfBits(int Bits) {
    switch (Bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 32: return pf32bit;
    default: return pf24bit;
    }
}

bool ValidBits(int Bits) {
    return Bits == 1 || Bits == 4 || Bits == 8 || Bits == 15 || Bits == 16 || Bits == 24 || Bits == 32;
}

// Rounds up to whole blocks; false on overflow.
bool RoundToBlocks(uint64_t n, uint64_t& out) {
    const uint64_t b = TLXVirtualDIBList::BlockSize;
    if (n > std::numeric_limits<uint64_t>::max() - (b - 1)) return false;
    out = (n + b - 1) / b * b;
    return true;
}

}  // namespace

TLXVirtualDIBList::TLXVirtualDIBList(const std::string& Folder) : folder_(Folder) { ResizeFile(BlockSize); }

TLXVirtualDIBList::~TLXVirtualDIBList() { Clear(); }

void TLXVirtualDIBList::Clear() {
    checkedOut_.clear();
    UnmapAll();
    images_.clear();
    freeBlocks_.clear();
    if (fd_ >= 0) ::close(fd_);   // the file was unlinked when it was made
    fd_ = -1;
    nextOffset_ = 0;
}

uint8_t* TLXVirtualDIBList::MapView(int Fd, uint64_t Offset, uint64_t Size) {
    if (Size > uint64_t(std::numeric_limits<size_t>::max()) ||
        Offset > uint64_t(std::numeric_limits<off_t>::max()))
        return nullptr;
    void* p = ::mmap(nullptr, size_t(Size), PROT_READ | PROT_WRITE, MAP_SHARED, Fd, off_t(Offset));
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

namespace {

// The store's file, unnamed from the start (O_TMPFILE): no kill at any moment can leave it
// behind. Only where the file system has no unnamed files is a named one made and unlinked
// at once. -1 on failure.
int CreateStoreFile(const std::string& Folder) {
    std::string dir = Folder;
    if (dir.empty()) {
        const char* t = std::getenv("TMPDIR");
        dir = (t && *t) ? t : "/tmp";
    }
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    if (dir.back() != '/') dir += '/';
    std::string name = dir + "luxXXXXXX.tmp";
    const int named = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (named >= 0) ::unlink(name.c_str());
    return named;
}

}  // namespace

bool TLXVirtualDIBList::ResizeFile(uint64_t NewSize) {
    freeBlocks_.clear();   // space given back before a growth is not reused after it
    bool created = false;
    if (fd_ < 0) {
        Clear();
        fd_ = CreateStoreFile(folder_);
        if (fd_ < 0) {
            fileSize_ = 0;
            return false;
        }
        fileSize_ = 0;   // what is really there
        created = true;
    } else {
        UnmapAll();
    }
    bool ok = NewSize > 0 && NewSize <= uint64_t(std::numeric_limits<off_t>::max());
    if (ok) {
        // A growth gets real blocks on disk (or fails now, instead of SIGBUS at a later write
        // through the mapping); a shrink only cuts.
        ok = NewSize > fileSize_ ? ::posix_fallocate(fd_, 0, off_t(NewSize)) == 0
                                 : ::ftruncate(fd_, off_t(NewSize)) == 0;
    }
    if (!ok) {
        if (created) {
            // No room for the first block: the store is not open, and every add fails.
            ::close(fd_);
            fd_ = -1;
        } else {
            // Back to the size that is really there, all of it allocated.
            (void)::ftruncate(fd_, off_t(fileSize_));
        }
        return false;
    }
    fileSize_ = NewSize;
    return true;
}

bool TLXVirtualDIBList::Map(TImage* Image) {
    if (Image->View) {
        auto it = std::find(mapped_.begin(), mapped_.end(), Image);
        if (it != mapped_.end()) {
            mapped_.erase(it);
            mapped_.push_back(Image);
        }
        return true;
    }
    if (fd_ < 0) return false;
    // At least one image may always be mapped.
    const size_t limit = size_t(std::max(1, maxMapped_));
    while (!mapped_.empty() && mapped_.size() + 1 > limit) Unmap(mapped_.front());
    if (Image->Offset + Image->MappedSize > fileSize_) return false;
    uint8_t* v = MapView(fd_, Image->Offset, Image->MappedSize);
    if (!v) return false;
    Image->View = v;
    mapped_.push_back(Image);
    return true;
}

void TLXVirtualDIBList::Unmap(TImage* Image) {
    if (!Image || !Image->View) return;
    ::munmap(Image->View, size_t(Image->MappedSize));
    Image->View = nullptr;
    mapped_.erase(std::remove(mapped_.begin(), mapped_.end(), Image), mapped_.end());
}

void TLXVirtualDIBList::UnmapAll() {
    while (!mapped_.empty()) Unmap(mapped_.front());
}

void TLXVirtualDIBList::WriteHeader(TImage* Image, int Width, int Height, int Bits) {
    std::memset(Image->View, 0, HeaderSize);
    BITMAPINFO1 info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = uint16_t(Bits);
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiColors[0] = {0, 0, 0, 0};
    info.bmiColors[1] = {255, 255, 255, 0};
    std::memcpy(Image->View, &info, HeaderSize);
}

bool TLXVirtualDIBList::AllocImage(TImage* Image, int Width, int Bits, int Height, bool* Reused) {
    if (fd_ < 0 || Width < 0 || Height < 0 || !ValidBits(Bits)) return false;
    uint64_t rowBytes = 0;
    try {
        rowBytes = uint64_t(RowBytes(Width, Bits));
    } catch (const EIntOverflow&) {
        return false;
    }
    const uint64_t pixels = rowBytes * uint64_t(Height);   // < 2^31 x 2^31: no overflow
    const uint64_t dataSize = HeaderSize + pixels;
    uint64_t mappedSize = 0;
    if (!RoundToBlocks(dataSize, mappedSize)) return false;

    // First fit among the freed blocks.
    auto fit = std::find_if(freeBlocks_.begin(), freeBlocks_.end(),
                            [&](const TFreeBlock& b) { return b.Size >= mappedSize; });
    uint64_t offset = 0;
    bool fromFreeBlock = false;
    TFreeBlock taken{};
    if (fit != freeBlocks_.end()) {
        offset = fit->Offset;
        taken = *fit;
        fromFreeBlock = true;
        freeBlocks_.erase(fit);
    } else {
        const uint64_t oldStep = growStep_, oldLast = lastBlockSize_;
        auto undo = [&] {
            growStep_ = oldStep;   // a failed add leaves the growth rules as they were
            lastBlockSize_ = oldLast;
        };
        if (growStep_ < mappedSize) growStep_ = lastBlockSize_ + mappedSize;
        lastBlockSize_ = mappedSize;
        if (nextOffset_ > std::numeric_limits<uint64_t>::max() - mappedSize) {
            undo();
            return false;
        }
        const uint64_t newEnd = nextOffset_ + mappedSize;
        if (newEnd > fileSize_ &&
            (fileSize_ > std::numeric_limits<uint64_t>::max() - growStep_ || !ResizeFile(fileSize_ + growStep_))) {
            undo();
            return false;
        }
        offset = nextOffset_;
    }
    Image->Offset = offset;
    Image->DataSize = dataSize;
    Image->MappedSize = mappedSize;
    Image->View = nullptr;
    Image->IsCheckedOut = false;
    if (!Map(Image)) {
        // Give the block back, so that no two images ever share a file area.
        if (fromFreeBlock) freeBlocks_.insert(freeBlocks_.begin(), taken);
        return false;
    }
    if (!fromFreeBlock) nextOffset_ = offset + mappedSize;
    if (Reused) *Reused = fromFreeBlock;
    WriteHeader(Image, Width, Height, Bits);
    return true;
}

TLXVirtualDIBList::TImage* TLXVirtualDIBList::AddBlankImage(int Width, int Height, int BitsPerPixel) {
    auto rec = std::make_unique<TImage>();
    bool reused = false;
    if (!AllocImage(rec.get(), Width, BitsPerPixel, Height, &reused)) return nullptr;
    // A reused block may hold an older image's pixels; a new one is zero already.
    if (reused) std::memset(rec->View + HeaderSize, 0, size_t(rec->DataSize - HeaderSize));
    images_.push_back(std::move(rec));
    return images_.back().get();
}

namespace {
// Copies rows between a bottom-up block of Rows rows and a bitmap, at most the shorter row.
void CopyRows(uint8_t* Dst, int64_t DstRow, const uint8_t* Src, int64_t SrcRow, int Rows) {
    const int64_t n = std::min(DstRow, SrcRow);
    for (int i = 0; i < Rows; ++i) std::memcpy(Dst + DstRow * i, Src + SrcRow * i, size_t(n));
}
}  // namespace

TLXVirtualDIBList::TImage* TLXVirtualDIBList::AddBitmap(const TBitmap* Bitmap) {
    if (!Bitmap) return nullptr;
    const int bits = PixelFormatBits(Bitmap->PixelFormat());
    const int w = std::max(0, Bitmap->Width()), h = std::max(0, Bitmap->Height());
    TImage* img = AddBlankImage(w, h, bits);
    if (!img || !img->View || Bitmap->Empty()) return img;
    const int64_t rb = int64_t(RowBytes(w, bits));
    CopyRows(img->View + HeaderSize, rb, Bitmap->PixelBlock(), Bitmap->RowBytes(), h);
    return img;
}

void TLXVirtualDIBList::CopyToBitmap(TImage* Image, TBitmap* Bitmap) {
    if (!Image || !Bitmap || !Map(Image)) return;
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(Image->View);
    const int w = info->biWidth, h = info->biHeight, bits = info->biBitCount;
    Bitmap->SetPixelFormat(FormatOfBits(bits));
    Bitmap->SetSize(w, h);
    if (Bitmap->Empty()) return;
    const int64_t rb = int64_t(RowBytes(w, bits));
    CopyRows(Bitmap->PixelBlock(), Bitmap->RowBytes(), Image->View + HeaderSize, rb, h);
}

bool TLXVirtualDIBList::StoreBitmap(TImage* Image, const TBitmap* Bitmap) {
    if (!Image || !Bitmap || !Map(Image)) return false;
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(Image->View);
    const int bits = PixelFormatBits(Bitmap->PixelFormat());
    const int w = std::max(0, Bitmap->Width()), h = std::max(0, Bitmap->Height());
    if (info->biWidth != w || info->biHeight != h || info->biBitCount != bits) {
        // Placed anew; the old area is not given back.
        TImage moved = *Image;
        Unmap(Image);
        if (!AllocImage(&moved, w, bits, h)) return false;
        // The record keeps its identity: its place in the LRU follows it.
        std::replace(mapped_.begin(), mapped_.end(), &moved, Image);
        *Image = moved;
    }
    if (!Bitmap->Empty()) {
        const int64_t rb = int64_t(RowBytes(w, bits));
        CopyRows(Image->View + HeaderSize, rb, Bitmap->PixelBlock(), Bitmap->RowBytes(), h);
    }
    return true;
}

TLXVirtualDIBList::TCheckOut* TLXVirtualDIBList::FindCheckOut(const TImage* Image) {
    for (TCheckOut& c : checkedOut_)
        if (c.Image == Image) return &c;
    return nullptr;
}

TLXVirtualDIBList::TCheckOut* TLXVirtualDIBList::FindCheckOut(const TBitmap* Bitmap) {
    for (TCheckOut& c : checkedOut_)
        if (c.Bitmap.get() == Bitmap) return &c;
    return nullptr;
}

void TLXVirtualDIBList::FreeCheckOut(const TImage* Image) {
    checkedOut_.erase(std::remove_if(checkedOut_.begin(), checkedOut_.end(),
                                     [&](const TCheckOut& c) { return c.Image == Image; }),
                      checkedOut_.end());
}

int TLXVirtualDIBList::CheckedOutCount(const TImage* Image) const {
    for (const TCheckOut& c : checkedOut_)
        if (c.Image == Image) return c.Count;
    return 0;
}

bool TLXVirtualDIBList::Contains(const TImage* Image) const {
    return Image && std::any_of(images_.begin(), images_.end(),
                                [&](const auto& p) { return p.get() == Image; });
}

TBitmap* TLXVirtualDIBList::GetBitmap(TImage* Image) {
    if (!Image) return nullptr;
    if (TCheckOut* c = FindCheckOut(Image)) {
        ++c->Count;
        return c->Bitmap.get();
    }
    if (!Map(Image)) return nullptr;
    auto bmp = std::make_unique<TBitmap>();
    CopyToBitmap(Image, bmp.get());
    checkedOut_.push_back({Image, std::move(bmp), 1});
    Image->IsCheckedOut = true;
    return checkedOut_.back().Bitmap.get();
}

void TLXVirtualDIBList::ReleaseBitmap(TBitmap* Bitmap, bool WriteBack) {
    if (!Bitmap) return;
    TCheckOut* c = FindCheckOut(Bitmap);
    if (!c) return;
    TImage* img = c->Image;
    --c->Count;
    if (WriteBack) StoreBitmap(img, Bitmap);
    if (c->Count <= 0) {
        FreeCheckOut(img);
        img->IsCheckedOut = false;
    }
}

void TLXVirtualDIBList::ReleaseImage(TImage* Image, bool WriteBack) {
    if (TCheckOut* c = FindCheckOut(Image)) ReleaseBitmap(c->Bitmap.get(), WriteBack);
}

int TLXVirtualDIBList::ImageWidth(TImage* Image) {
    if (!Image) return 0;
    if (TCheckOut* c = FindCheckOut(Image)) return c->Bitmap->Width();
    return Map(Image) ? reinterpret_cast<const BITMAPINFOHEADER*>(Image->View)->biWidth : 0;
}

int TLXVirtualDIBList::ImageHeight(TImage* Image) {
    if (!Image) return 0;
    if (TCheckOut* c = FindCheckOut(Image)) return c->Bitmap->Height();
    return Map(Image) ? reinterpret_cast<const BITMAPINFOHEADER*>(Image->View)->biHeight : 0;
}

int TLXVirtualDIBList::ImageBitCount(TImage* Image) {
    if (!Image) return 0;
    if (TCheckOut* c = FindCheckOut(Image)) return PixelFormatBits(c->Bitmap->PixelFormat());
    return Map(Image) ? reinterpret_cast<const BITMAPINFOHEADER*>(Image->View)->biBitCount : 0;
}

uint8_t* TLXVirtualDIBList::ImageBits(TImage* Image) {
    if (!Image) return nullptr;
    if (TCheckOut* c = FindCheckOut(Image)) return c->Bitmap->PixelBlock();
    return Map(Image) ? Image->View + HeaderSize : nullptr;
}

const BITMAPINFOHEADER* TLXVirtualDIBList::ImageBitmapInfo(TImage* Image) {
    if (!Image) return nullptr;
    if (TCheckOut* c = FindCheckOut(Image)) {
        const TBitmap* b = c->Bitmap.get();
        scratchInfo_ = BITMAPINFO1{};
        scratchInfo_.bmiHeader.biSize = 40;
        scratchInfo_.bmiHeader.biWidth = b->Width();
        scratchInfo_.bmiHeader.biHeight = b->Height();
        scratchInfo_.bmiHeader.biPlanes = 1;
        scratchInfo_.bmiHeader.biBitCount = uint16_t(PixelFormatBits(b->PixelFormat()));
        scratchInfo_.bmiHeader.biCompression = BI_RGB;
        scratchInfo_.bmiColors[1] = {255, 255, 255, 0};
        return &scratchInfo_.bmiHeader;
    }
    return Map(Image) ? reinterpret_cast<const BITMAPINFOHEADER*>(Image->View) : nullptr;
}

void TLXVirtualDIBList::DeleteImage(TImage* Image) {
    auto it = std::find_if(images_.begin(), images_.end(), [&](const auto& p) { return p.get() == Image; });
    if (it == images_.end()) return;
    freeBlocks_.push_back({Image->Offset, Image->MappedSize});
    FreeCheckOut(Image);
    Unmap(Image);
    images_.erase(it);
    if (images_.empty()) {
        // A failed shrink keeps the file as it is; the next image still starts at 0.
        nextOffset_ = 0;
        (void)ResizeFile(growStep_);
    }
}
