// The thumbnail view's image store: many device-independent bitmaps (a 48-byte header and
// bottom-up rows) in one temporary file, 64 KiB-aligned, with only a few of them mapped into
// memory at a time (least recently used first out).
//
// The file has no name (O_TMPFILE), so nothing is left behind whenever the process dies.
// Every growth is allocated on disk (posix_fallocate): a full disk makes the add fail
// instead of raising SIGBUS on a later write through the mapping. A store whose first block
// finds no room is not open, and every add fails.
//
// Pointers from ImageBits and ImageBitmapInfo go stale at the next call that maps another
// image or grows the file; a bitmap from GetBitmap goes with DeleteImage or its last
// ReleaseBitmap. Callers keep neither across another call of the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Graphics.h"
#include "Win32.h"

class TLXVirtualDIBList {
public:
    // One image; the view handles it as an opaque pointer.
    struct TImage {
        uint64_t Offset = 0;       // multiple of 65536
        uint64_t DataSize = 0;     // 48 + row bytes x height
        uint64_t MappedSize = 0;   // DataSize rounded up to 65536
        uint8_t* View = nullptr;   // the mapped bytes, null when not mapped
        bool IsCheckedOut = false;
    };

    static constexpr uint64_t BlockSize = 65536;
    static constexpr int HeaderSize = 48;

    // Folder for the temporary file; empty: $TMPDIR, else /tmp.
    explicit TLXVirtualDIBList(const std::string& Folder = std::string());
    virtual ~TLXVirtualDIBList();
    TLXVirtualDIBList(const TLXVirtualDIBList&) = delete;
    TLXVirtualDIBList& operator=(const TLXVirtualDIBList&) = delete;

    // A new image of that size and depth (1..32 bits), header written, rows zero; null when
    // it cannot be placed (no file, disk full, size overflow, mapping failure).
    TImage* AddBlankImage(int Width, int Height, int BitsPerPixel);
    // A copy of a pf1bit, pf24bit (or other DIB format) bitmap; null as above.
    TImage* AddBitmap(const TBitmap* Bitmap);
    // The image into Bitmap (format, size and rows); nothing when it cannot be mapped.
    void CopyToBitmap(TImage* Image, TBitmap* Bitmap);
    // Bitmap's rows into the image, placed anew when the size or depth differ. False when
    // the new place cannot be had (the image then keeps its old content).
    bool StoreBitmap(TImage* Image, const TBitmap* Bitmap);
    // Check-out: the same bitmap for every call until the count drops to 0; null when the
    // image cannot be mapped.
    TBitmap* GetBitmap(TImage* Image);
    // Count - 1 (unknown bitmaps and null are ignored); with WriteBack the bitmap goes back
    // into the image first. At 0 the bitmap is freed.
    void ReleaseBitmap(TBitmap* Bitmap, bool WriteBack);
    void ReleaseImage(TImage* Image, bool WriteBack);

    // From the checked-out bitmap, else from the mapped header; 0 when it cannot be mapped.
    int ImageWidth(TImage* Image);
    int ImageHeight(TImage* Image);
    int ImageBitCount(TImage* Image);
    // The bottom-up pixel block; null when it cannot be mapped.
    uint8_t* ImageBits(TImage* Image);
    // The header (and the two palette entries of a 1-bit image); null when not mapped.
    const BITMAPINFOHEADER* ImageBitmapInfo(TImage* Image);
    // Frees the image's block (and a checked-out bitmap). The last one shrinks the file.
    void DeleteImage(TImage* Image);

    int ImageCount() const { return int(images_.size()); }
    bool Contains(const TImage* Image) const;

    // The cache of mapped images: at least 1.
    int MaxMapped() const { return maxMapped_; }
    void SetMaxMapped(int Value) { maxMapped_ = Value; }
    int MappedCount() const { return int(mapped_.size()); }
    bool IsMapped(const TImage* Image) const { return Image && Image->View; }

    // The file, for the curious and the tests. FileSize is 0 when it is not open.
    bool FileOpen() const { return fd_ >= 0; }
    uint64_t FileSize() const { return fileSize_; }
    uint64_t NextOffset() const { return nextOffset_; }
    uint64_t GrowStep() const { return growStep_; }
    int FreeBlockCount() const { return int(freeBlocks_.size()); }
    int CheckedOutCount(const TImage* Image) const;

protected:
    // The mapping call itself (mmap), a seam for failure tests; null on failure.
    virtual uint8_t* MapView(int Fd, uint64_t Offset, uint64_t Size);

private:
    struct TFreeBlock {
        uint64_t Offset, Size;
    };
    struct TCheckOut {
        TImage* Image;
        std::unique_ptr<TBitmap> Bitmap;
        int Count;
    };

    void Clear();
    bool AllocImage(TImage* Image, int Width, int Bits, int Height, bool* Reused = nullptr);
    // The file at NewSize, allocated; on failure the file and FileSize stay as they were.
    bool ResizeFile(uint64_t NewSize);
    bool Map(TImage* Image);
    void Unmap(TImage* Image);
    void UnmapAll();
    TCheckOut* FindCheckOut(const TImage* Image);
    TCheckOut* FindCheckOut(const TBitmap* Bitmap);
    void FreeCheckOut(const TImage* Image);
    void WriteHeader(TImage* Image, int Width, int Height, int Bits);

    std::string folder_;
    int fd_ = -1;
    uint64_t fileSize_ = BlockSize;
    uint64_t nextOffset_ = 0;
    uint64_t growStep_ = BlockSize;
    uint64_t lastBlockSize_ = 0;
    int maxMapped_ = 10;
    std::vector<std::unique_ptr<TImage>> images_;
    std::vector<TImage*> mapped_;   // least recently used first
    std::vector<TFreeBlock> freeBlocks_;
    std::vector<TCheckOut> checkedOut_;
    BITMAPINFO1 scratchInfo_{};
};
