// Bit, byte, colour and bitmap helpers that the codecs and views share, the colour hash,
// the small list containers and the polygon-editing distances.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "Win32.h"
#include "lxdefs.h"

// ---------------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------------

namespace lxutils_detail {
constexpr std::array<uint8_t, 8 + 256> MakeBitMaskTable() {
    std::array<uint8_t, 8 + 256> t{};
    for (int i = 0; i < 8; ++i) t[size_t(i)] = uint8_t(0x80 >> i);
    for (int v = 0; v < 256; ++v) {
        int r = 0;
        for (int b = 0; b < 8; ++b)
            if (v & (1 << b)) r |= 0x80 >> b;
        t[size_t(8 + v)] = uint8_t(r);
    }
    return t;
}
constexpr std::array<std::array<uint8_t, 24>, 256> MakeMonoExpansionTable() {
    std::array<std::array<uint8_t, 24>, 256> t{};
    for (int v = 0; v < 256; ++v)
        for (int p = 0; p < 8; ++p) {
            const uint8_t c = (v & (0x80 >> p)) ? 255 : 0;
            t[size_t(v)][size_t(p * 3)] = c;
            t[size_t(v)][size_t(p * 3 + 1)] = c;
            t[size_t(v)][size_t(p * 3 + 2)] = c;
        }
    return t;
}
}  // namespace lxutils_detail

// The eight single-bit masks 0x80 .. 0x01 (index = bit position mod 8), followed directly by
// the 256 bit-reversed byte values.
inline constexpr std::array<uint8_t, 8 + 256> BitMaskTable = lxutils_detail::MakeBitMaskTable();
inline constexpr const uint8_t* BitReverseTable = BitMaskTable.data() + 8;

// Entry v: the eight pixels of the 1-bit byte v (MSB first) as B, G, R triples, white for a
// set bit and black otherwise.
inline constexpr std::array<std::array<uint8_t, 24>, 256> MonoExpansionTable =
    lxutils_detail::MakeMonoExpansionTable();

// ---------------------------------------------------------------------------------------------
// Numeric helpers
// ---------------------------------------------------------------------------------------------

// Ceiling and floor to an integer; EInvalidOp for NaN or a value outside the int range.
int LXCeil(double x);
int LXFloor(double x);
inline double DMin(double a, double b) { return a < b ? a : b; }
inline int IMax(int a, int b) { return a > b ? a : b; }
inline int IMin(int a, int b) { return a < b ? a : b; }
inline int IClamp(int Value, int Low, int High) { return IMin(IMax(Value, Low), High); }
inline uint8_t ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : uint8_t(v); }
inline void SwapInt(int& a, int& b) { int t = a; a = b; b = t; }
inline void SwapByte(uint8_t& a, uint8_t& b) { uint8_t t = a; a = b; b = t; }
// Puts the smaller coordinate of each axis first.
void OrderCorners(int& X1, int& Y1, int& X2, int& Y2);

// ---------------------------------------------------------------------------------------------
// Colour helpers
// ---------------------------------------------------------------------------------------------

inline TRGB MakeRGB(uint8_t R, uint8_t G, uint8_t B) { return TRGB{B, G, R}; }
// (R * 21 + G * 71 + B * 7) div 100.
inline int RGBLuminance(TRGB c) { return (c.r * 21 + c.g * 71 + c.b * 7) / 100; }
inline TColor RGBToTColor(TRGB c) { return RGBColor(c.r, c.g, c.b); }
// System colours are resolved first.
TRGB TColorToRGB(TColor c);
inline bool SameRGB(TRGB a, TRGB b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
// Exchanges the first and third byte of the first Count entries (RGB <-> BGR).
void SwapRBArray(TRGB* Colors, int Count);
// Index of the entry with the smallest |dR| + |dG| + |dB|; the first of equals wins; 0 when
// Count is 0.
int NearestPaletteIndex(const TRGB* Palette, int Count, TRGB Colour);

// ---------------------------------------------------------------------------------------------
// Rows and bits
// ---------------------------------------------------------------------------------------------

// Bytes of a 4-byte aligned row; computed in 64 bits. EIntOverflow when Width x Bits is
// negative or above 2^31 - 32.
int RowBytes(int Width, int Bits);
// 1, 4, 8, 15, 16, 24, 32; 0 for pfDevice and pfCustom.
int PixelFormatBits(TPixelFormat pf);
int RowBytesOfFormat(int Width, TPixelFormat pf);

// Bit n (n >= 0) of a row, MSB first (mask 0x80 >> (n % 8) of byte n / 8): 0 or 1.
inline int GetBit(const uint8_t* Row, int n) { return (Row[n >> 3] & BitMaskTable[size_t(n & 7)]) ? 1 : 0; }
inline void SetBit(uint8_t* Row, int n, bool Value) {
    if (Value) Row[n >> 3] |= BitMaskTable[size_t(n & 7)];
    else Row[n >> 3] &= uint8_t(~BitMaskTable[size_t(n & 7)]);
}
// Copies Count bits from Source (from bit SourceBit) to Dest (from bit DestBit), MSB first;
// the other bits of Dest keep their values. The two runs may overlap.
void CopyBitRun(uint8_t* Dest, const uint8_t* Source, int DestBit, int SourceBit, int Count);

uint16_t Swap16(uint16_t v);
uint32_t Swap32(uint32_t v);

// Length of the run of set bits starting at the lowest set bit: 0 for 0, 32 for 0xFFFFFFFF.
int MaskBitWidth(uint32_t Mask);
// -1 for 0, k for 2^k, otherwise the highest set bit + 1.
int CeilLog2(uint32_t n);
void ReverseByteBits(uint8_t& b);
void ReverseBits32(uint32_t& v);

// Base^Exponent by square-and-multiply; EZeroDivide for 0 to a negative power.
long double LXIntPower(int Exponent, long double Base);
// Base^Exponent; EInvalidOp for a negative base with a fractional exponent, EZeroDivide for a
// zero base with a negative exponent.
long double LXPower(long double Base, long double Exponent);

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

// Moves X, Y onto the horizontal, vertical or 45-degree line through the anchor.
void SnapToAxisOrDiagonal(int AnchorX, int AnchorY, int& X, int& Y);
// Edges inclusive; the first rectangle is given by two unordered corners.
bool LXRectsOverlap(int X1, int Y1, int X2, int Y2, int Left, int Top, int Right, int Bottom);
// 2 when the second rectangle lies wholly inside the first, 1 when partly, else 0.
int LXRectInclusion(int Left1, int Top1, int Right1, int Bottom1, int Left2, int Top2, int Right2,
                    int Bottom2);
inline bool LXPointInRect(int X, int Y, int Left, int Top, int Right, int Bottom) {
    return Left <= X && X <= Right && Top <= Y && Y <= Bottom;
}

// Distance from P to the infinite line through A and B (to A itself when A = B).
double DistanceToLine(int px, int py, int x1, int y1, int x2, int y2);
// Distance from P to the segment AB; 1000000.0 when P lies beyond an end by more than 45000
// on either axis.
double DistanceToSegment(int px, int py, int x1, int y1, int x2, int y2);

// Native handle of the first windowed owner of Component; 0 when there is none.
uintptr_t FindParentWindowHandle(TComponent* Component);

// The soft shadow strips beside a cropped picture; only style 2 draws.
void DrawShadowRight(TCanvas* Canvas, int X1, int Y1, int X2, int Y2, int Style);
void DrawShadowBottom(TCanvas* Canvas, int X1, int Y1, int X2, int Y2, int Style);

// ---------------------------------------------------------------------------------------------
// Bitmap helpers (pf24bit and pf1bit; rows bottom-up)
// ---------------------------------------------------------------------------------------------

// Dest becomes a copy of Source's pixels and format (not its palette); 1 x 1 for an empty
// Source. Null arguments and Dest == Source do nothing.
void CopyBitmap(const TBitmap* Source, TBitmap* Dest);
std::unique_ptr<TBitmap> DuplicateBitmap(const TBitmap* Source);
// Columns X1 .. X2 - 1 and rows Y1 .. Y2 - 1; X2 = 0 / Y2 = 0 mean the source width / height.
// An empty rectangle leaves Dest 1 x 1.
void CropBitmap(const TBitmap* Source, TBitmap* Dest, int X1, int Y1, int X2, int Y2);
// Complements every byte of the pixel block.
void InvertBitmapBits(TBitmap* Bitmap);
// A pf1bit copy of a two-colour pf24bit image, bit 0 the darker colour (Colour0), else null.
std::unique_ptr<TBitmap> TryConvertTo1Bit(const TBitmap* Bitmap, TRGB& Colour0, TRGB& Colour1);
// Replaces a pf24bit image by its 8 x 8 ordered dither.
void ConvertTo1Bit(TBitmap* Bitmap, TProgressRec& Progress);
// Expands a pf1bit Source into a pf24bit Dest (bit 1 white, bit 0 black, palette ignored).
void Convert1To24Bit(const TBitmap* Source, TBitmap* Dest, TProgressRec& Progress);
void Convert1To24Bit(const TBitmap* Source, TBitmap* Dest);
// Draws Source stretched over the whole of Dest.
void DrawDibCopy(const TBitmap* Source, TBitmap* Dest);
// Grey area-average rendering of the pf1bit rectangle X1..X2, Y1..Y2 (inclusive, clipped to
// the source) into the whole of Dest, which becomes pf24bit.
void RenderMonoBlock(const TBitmap* Source, int X1, int Y1, int X2, int Y2, TBitmap* Dest);
// The same from a bare bottom-up 1-bit block; returns a bottom-up 24-bit block of
// RowBytes(DestWidth, 24) x DestHeight bytes, or null for an empty size or rectangle.
std::unique_ptr<uint8_t[]> RenderMonoDIB(const uint8_t* Bits, int SourceWidth, int SourceHeight,
                                         int X1, int Y1, int X2, int Y2, int DestWidth,
                                         int DestHeight);

// ---------------------------------------------------------------------------------------------
// Colour hash
// ---------------------------------------------------------------------------------------------

// A set of 32-bit keys in 2^Bits buckets chosen by the key's low bits; a lone key is kept in
// its slot, colliding keys go into chains.
class THash1 : public TObject {
public:
    // Bits in 0 .. 30; ELXError otherwise.
    explicit THash1(int Bits);
    ~THash1() override;
    THash1(const THash1&) = delete;
    THash1& operator=(const THash1&) = delete;

    // True when Key was new and is now stored.
    bool Insert(uint32_t Key);
    int Count() const { return count_; }
    int Bits() const { return bits_; }

private:
    // Chains are kept as indexes into one node pool, so a slot holds either a key or a
    // node index whatever the pointer size.
    struct Node {
        uint32_t Key;
        uint32_t Next;   // index + 1 of the next node, 0 at the end
    };
    uint32_t NewNode(uint32_t Key);

    int bits_;
    uint32_t mask_;
    std::unique_ptr<uint32_t[]> slots_;   // key (state 1) or first node index (state 2)
    std::unique_ptr<uint8_t[]> states_;   // 0 empty, 1 key, 2 chain
    std::vector<Node> nodes_;
    int count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Containers
// ---------------------------------------------------------------------------------------------

// A byte buffer that grows in blocks of 8192 bytes beyond the requested size.
class TLXByteArray {
public:
    TLXByteArray();
    ~TLXByteArray();
    TLXByteArray(const TLXByteArray&) = delete;
    TLXByteArray& operator=(const TLXByteArray&) = delete;

    void Add(uint8_t b);
    // EListError for a negative size.
    void SetSize(int n);
    int Size() const { return size_; }
    int Capacity() const { return capacity_; }
    int BlockSize() const { return blockSize_; }
    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }

private:
    int size_ = 0;
    int capacity_ = 0;
    int blockSize_ = 8192;
    std::unique_ptr<uint8_t[]> data_;
};

// A list of fixed-size items in one block that is reallocated on every change.
class TLXList {
public:
    TLXList();
    virtual ~TLXList();
    TLXList(const TLXList&) = delete;
    TLXList& operator=(const TLXList&) = delete;

    // Keeps the first min(Count, n) items; new items are not initialised. EListError for n < 0.
    virtual void SetCount(int n);
    // Out-of-range indexes are ignored.
    virtual void Delete(int index);
    virtual void Clear();
    // Null is ignored.
    virtual void Assign(const TLXList* Source);

    // Copies ItemSize bytes from Item into a new last item; returns its index.
    int Add(const void* Item);
    // Unchecked: callers index within Count.
    void* Items(int index) { return data_.get() + int64_t(index) * itemSize_; }
    const void* Items(int index) const { return data_.get() + int64_t(index) * itemSize_; }

    int Count() const { return count_; }
    int ItemSize() const { return itemSize_; }
    bool Modified() const { return modified_; }
    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }

protected:
    int count_ = 0;
    int itemSize_ = 0;
    std::unique_ptr<uint8_t[]> data_;
    bool modified_ = false;
};

class TLXDoubleList : public TLXList {
public:
    TLXDoubleList();
    void Clear() override;
    // EInvalidCast when Source is not a TLXDoubleList.
    void Assign(const TLXList* Source) override;
    std::array<double, 4> Extra{};
};

class TLXIntegerList : public TLXList {
public:
    TLXIntegerList();
    void Clear() override;
    // EInvalidCast when Source is not a TLXIntegerList.
    void Assign(const TLXList* Source) override;
    std::array<int32_t, 4> Extra{};
};

class TLXRecordList : public TLXList {
public:
    // EListError for a negative item size.
    explicit TLXRecordList(int ItemSize);
};

// ---------------------------------------------------------------------------------------------
// EXIF reader and CIELab pixel conversions
// ---------------------------------------------------------------------------------------------

class TLXIOParams;

// Reads the APP1 payload of a JPEG: 1 when it starts with "Exif" and a zero byte, and then the
// TIFF structure from offset 6 fills the EXIF fields of IOParams and the EXIF thumbnail (the
// image of IFD 1); 0, with nothing changed, for any other block. Malformed TIFF data inside
// leaves the fields partly filled.
int ReadExifBlock(const uint8_t* Block, int Length, TLXIOParams& IOParams);

// Pixel (R in bits 16..23, G 8..15, B 0..7) to the TIFF codec's own L, a, b bytes (a and b
// signed). Not the TIFF 6.0 CIELab byte encoding, and not the exact inverse of CIELabToRGB.
void RGBToCIELab(uint8_t Out[3], uint32_t Pixel);
// Lab (L in bits 0..7, signed a in 8..15, signed b in 16..23) to B, G, R bytes.
void CIELabToRGB(uint8_t Out[3], uint32_t Lab);
