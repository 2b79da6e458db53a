// Bit, byte, colour and bitmap helpers, the colour hash and the small containers.
#include "lxutils.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "LuxIOParams.h"
#include "Tiffilt.h"

namespace {

constexpr int64_t kMaxRowBits = 2147483616;   // 2^31 - 32

// Fresh uninitialised memory; null for 0 bytes; EOutOfMemory when it cannot be had.
std::unique_ptr<uint8_t[]> AllocBytes(int64_t n, bool zero = false) {
    if (n <= 0) return nullptr;
    if (uint64_t(n) > std::numeric_limits<size_t>::max() / 2) throw EOutOfMemory("Out of memory");
    try {
        return zero ? std::unique_ptr<uint8_t[]>(new uint8_t[size_t(n)]())
                    : std::unique_ptr<uint8_t[]>(new uint8_t[size_t(n)]);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
}

int ClampToInt(int64_t v) {
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : int(v);
}

// Luminance rounded to the nearest integer, ties to even (the two-colour ordering).
int RoundedLuminance(TRGB c) {
    const int s = c.r * 21 + c.g * 71 + c.b * 7;
    int q = s / 100;
    const int r = s % 100;
    if (r > 50 || (r == 50 && (q & 1))) ++q;
    return q;
}

void ReportRow(TProgressRec& Progress, int rowsDone) {
    if (Progress.fOnProgress)
        Progress.fOnProgress(Progress.Sender, int(std::trunc(Progress.per * rowsDone)));
}

// Ends any drawing still open on the bitmap's canvas so raw row reads see it. Flushing does
// not change the picture, so it is allowed on a bitmap we only read.
void Settle(const TBitmap* b) { const_cast<TBitmap*>(b)->FlushCanvas(); }

// Bytes of the pixel block as the helpers see it, never more than the bitmap holds.
int64_t BlockBytes(const TBitmap* b) {
    if (b->Width() <= 0 || b->Height() <= 0 || !b->PixelBlock()) return 0;
    const int64_t n = int64_t(RowBytesOfFormat(b->Width(), b->PixelFormat())) * b->Height();
    return std::min(n, b->ImageSize());
}

// Set bits of Row in the inclusive range a .. b.
int64_t CountBits(const uint8_t* Row, int64_t a, int64_t b) {
    int64_t n = 0;
    int64_t ba = a >> 3, bb = b >> 3;
    if (ba == bb) {
        const unsigned m = (0xFFu >> (a & 7)) & (0xFFu << (7 - (b & 7)));
        return std::popcount(unsigned(Row[ba]) & m);
    }
    n += std::popcount(unsigned(Row[ba]) & (0xFFu >> (a & 7)));
    for (int64_t k = ba + 1; k < bb; ++k) n += std::popcount(unsigned(Row[k]));
    n += std::popcount(unsigned(Row[bb]) & (0xFFu << (7 - (b & 7))) & 0xFFu);
    return n;
}

struct Span {
    int64_t a, b;   // inclusive
};

// Source spans of the destination cells along one axis: cell i covers
// first + Trunc(s * i) .. first + IMax(Trunc(s * i + Trunc(s) - 1), Trunc(s * i)).
std::vector<Span> BoxSpans(int first, int last, int cells) {
    std::vector<Span> spans(static_cast<size_t>(cells));
    const double s = double(int64_t(last) - first + 1) / cells;
    const int64_t n = int64_t(std::trunc(s));
    for (int i = 0; i < cells; ++i) {
        const double p = s * i;
        const int64_t lo = int64_t(std::trunc(p));
        const int64_t hi = std::max(int64_t(std::trunc(p + double(n) - 1)), lo);
        // The products stay inside the range; the clamp only guards rounding.
        spans[size_t(i)] = {std::min<int64_t>(first + lo, last), std::min<int64_t>(first + hi, last)};
    }
    return spans;
}

// Grey area averaging of the 1-bit rectangle (already clipped) into DW x DH 24-bit rows.
template <class SrcRow, class DstRow>
void RenderMonoCore(SrcRow srcRow, int X1, int Y1, int X2, int Y2, int DW, int DH, DstRow dstRow) {
    const std::vector<Span> cols = BoxSpans(X1, X2, DW);
    const std::vector<Span> rows = BoxSpans(Y1, Y2, DH);
    std::vector<int64_t> counts(static_cast<size_t>(DW));
    for (int j = 0; j < DH; ++j) {
        std::fill(counts.begin(), counts.end(), 0);
        const Span& rs = rows[size_t(j)];
        for (int64_t r = rs.a; r <= rs.b; ++r) {
            const uint8_t* row = srcRow(int(r));
            for (int i = 0; i < DW; ++i) counts[size_t(i)] += CountBits(row, cols[size_t(i)].a, cols[size_t(i)].b);
        }
        uint8_t* d = dstRow(j);
        const int64_t h = rs.b - rs.a + 1;
        for (int i = 0; i < DW; ++i) {
            const int64_t area = (cols[size_t(i)].b - cols[size_t(i)].a + 1) * h;
            const uint8_t v = uint8_t(255 * counts[size_t(i)] / area);
            d[i * 3] = v;
            d[i * 3 + 1] = v;
            d[i * 3 + 2] = v;
        }
    }
}

// Clips the inclusive rectangle to a W x H source; false when nothing is left.
bool ClipRect(int& X1, int& Y1, int& X2, int& Y2, int W, int H) {
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    X2 = std::min(X2, W - 1);
    Y2 = std::min(Y2, H - 1);
    return X1 <= X2 && Y1 <= Y2;
}

// The 8 x 8 Bayer index matrix; first index = column mod 8, second = row mod 8.
constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

int GreyOfShadowLine(int i, int64_t n) {
    return int(std::trunc(255.0 * std::exp(double(i) / double(n) - 1.0)));
}

}  // namespace

// ---- Numeric helpers ----

int LXCeil(double x) {
    const double c = std::ceil(x);
    if (!(c >= double(INT_MIN) && c <= double(INT_MAX))) throw EInvalidOp("Invalid floating point operation");
    return int(c);
}

int LXFloor(double x) {
    const double f = std::floor(x);
    if (!(f >= double(INT_MIN) && f <= double(INT_MAX))) throw EInvalidOp("Invalid floating point operation");
    return int(f);
}

void OrderCorners(int& X1, int& Y1, int& X2, int& Y2) {
    if (X2 < X1) SwapInt(X1, X2);
    if (Y2 < Y1) SwapInt(Y1, Y2);
}

// ---- Colour helpers ----

TRGB TColorToRGB(TColor c) {
    const TColor v = ColorToRGB(c);
    return MakeRGB(uint8_t(GetRValue(v)), uint8_t(GetGValue(v)), uint8_t(GetBValue(v)));
}

void SwapRBArray(TRGB* Colors, int Count) {
    if (!Colors) return;
    for (int i = 0; i < Count; ++i) std::swap(Colors[i].r, Colors[i].b);
}

int NearestPaletteIndex(const TRGB* Palette, int Count, TRGB Colour) {
    int best = 1000, result = 0;
    if (!Palette) return 0;
    for (int i = 0; i < Count; ++i) {
        const int d = std::abs(Palette[i].r - Colour.r) + std::abs(Palette[i].g - Colour.g) +
                      std::abs(Palette[i].b - Colour.b);
        if (d < best) {
            best = d;
            result = i;
        }
    }
    return result;
}

// ---- Rows and bits ----

int RowBytes(int Width, int Bits) {
    const int64_t bits = int64_t(Width) * Bits;
    if (bits < 0 || bits > kMaxRowBits) throw EIntOverflow("Integer overflow");
    return int((bits + 31) / 32 * 4);
}

int PixelFormatBits(TPixelFormat pf) {
    switch (pf) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit: return 15;
        case pf16bit: return 16;
        case pf24bit: return 24;
        case pf32bit: return 32;
        default: return 0;
    }
}

int RowBytesOfFormat(int Width, TPixelFormat pf) { return RowBytes(Width, PixelFormatBits(pf)); }

void CopyBitRun(uint8_t* Dest, const uint8_t* Source, int DestBit, int SourceBit, int Count) {
    if (Count <= 0 || DestBit < 0 || SourceBit < 0 || !Dest || !Source) return;
    int64_t d = DestBit, s = SourceBit, n = Count;

    // Overlapping runs (the same row shifted) go through a copy of the source bits.
    const uintptr_t ds = uintptr_t(Dest) + uintptr_t(d >> 3), de = uintptr_t(Dest) + uintptr_t((d + n - 1) >> 3);
    const uintptr_t ss = uintptr_t(Source) + uintptr_t(s >> 3), se = uintptr_t(Source) + uintptr_t((s + n - 1) >> 3);
    if (ds <= se && ss <= de) {
        std::vector<uint8_t> tmp(size_t((n + 7) >> 3) + 1, 0);
        CopyBitRun(tmp.data(), Source, 0, SourceBit, Count);
        CopyBitRun(Dest, tmp.data(), DestBit, 0, Count);
        return;
    }

    while (n > 0 && (d & 7)) {
        SetBit(Dest, int(d), GetBit(Source, int(s)) != 0);
        ++d, ++s, --n;
    }
    const int64_t bytes = n >> 3;
    if (bytes > 0) {
        uint8_t* dp = Dest + (d >> 3);
        const uint8_t* sp = Source + (s >> 3);
        const int shift = int(s & 7);
        if (shift == 0) {
            std::memcpy(dp, sp, size_t(bytes));
        } else {
            // Every bit read here lies inside the source run.
            for (int64_t k = 0; k < bytes; ++k)
                dp[k] = uint8_t((sp[k] << shift) | (sp[k + 1] >> (8 - shift)));
        }
        d += bytes * 8, s += bytes * 8, n -= bytes * 8;
    }
    while (n > 0) {
        SetBit(Dest, int(d), GetBit(Source, int(s)) != 0);
        ++d, ++s, --n;
    }
}

uint16_t Swap16(uint16_t v) { return uint16_t((v >> 8) | (v << 8)); }

uint32_t Swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

int MaskBitWidth(uint32_t Mask) {
    if (Mask == 0) return 0;
    // A full mask is a run of 32; the run never wraps past bit 31.
    return std::countr_one(Mask >> std::countr_zero(Mask));
}

int CeilLog2(uint32_t n) {
    if (n == 0) return -1;
    const int high = 31 - std::countl_zero(n);
    return std::has_single_bit(n) ? high : high + 1;
}

void ReverseByteBits(uint8_t& b) { b = BitReverseTable[b]; }

void ReverseBits32(uint32_t& v) {
    v = (uint32_t(BitReverseTable[v & 0xFF]) << 24) | (uint32_t(BitReverseTable[(v >> 8) & 0xFF]) << 16) |
        (uint32_t(BitReverseTable[(v >> 16) & 0xFF]) << 8) | uint32_t(BitReverseTable[v >> 24]);
}

long double LXIntPower(int Exponent, long double Base) {
    if (Exponent == 0) return 1.0L;
    uint64_t e = Exponent < 0 ? uint64_t(-int64_t(Exponent)) : uint64_t(Exponent);
    long double result = 1.0L, b = Base;
    while (e) {
        if (e & 1) result *= b;
        e >>= 1;
        if (e) b *= b;
    }
    if (Exponent > 0) return result;
    if (result == 0.0L) {
        if (Base == 0.0L) throw EZeroDivide("Floating point division by zero");
        // The power underflowed; its reciprocal is out of range.
        return std::copysign(std::numeric_limits<long double>::infinity(), result);
    }
    return 1.0L / result;
}

long double LXPower(long double Base, long double Exponent) {
    if (Exponent == 0.0L) return 1.0L;
    if (Base == 0.0L && Exponent > 0.0L) return 0.0L;
    if (std::trunc(Exponent) == Exponent && std::fabs(Exponent) <= 2147483647.0L)
        return LXIntPower(int(Exponent), Base);
    if (Base < 0.0L) throw EInvalidOp("Invalid floating point operation");
    if (Base == 0.0L) throw EZeroDivide("Floating point division by zero");
    return std::exp(Exponent * std::log(Base));
}

// ---- Geometry ----

void SnapToAxisOrDiagonal(int AnchorX, int AnchorY, int& X, int& Y) {
    const int64_t ax = AnchorX, ay = AnchorY;
    int64_t x = X, y = Y;
    const int64_t dx = std::abs(ax - x), dy = std::abs(ay - y);
    if (dx + 30 < dy) {
        x = ax;
    } else if (dy < dx - 30) {
        y = ay;
    } else {
        const int64_t h = std::abs(dx - dy);
        if (x > ax && y > ay) {
            if (dx >= dy) y += h; else x += h;
        } else if (x >= ax && y < ay) {
            if (dx >= dy) y -= h; else x += h;
        } else if (x < ax && y >= ay) {
            if (dx >= dy) y += h; else x -= h;
        } else if (x < ax && y < ay) {
            // Here the longer leg is shortened towards the anchor.
            if (dx >= dy) x += h; else y += h;
        }
    }
    X = ClampToInt(x);
    Y = ClampToInt(y);
}

bool LXRectsOverlap(int X1, int Y1, int X2, int Y2, int Left, int Top, int Right, int Bottom) {
    return !(std::max(X1, X2) < Left || Right < std::min(X1, X2) || std::max(Y1, Y2) < Top ||
             Bottom < std::min(Y1, Y2));
}

int LXRectInclusion(int Left1, int Top1, int Right1, int Bottom1, int Left2, int Top2, int Right2,
                    int Bottom2) {
    const bool inX1 = Left1 <= Left2 && Left2 <= Right1;
    const bool inX2 = Left1 <= Right2 && Right2 <= Right1;
    const bool inY1 = Top1 <= Top2 && Top2 <= Bottom1;
    const bool inY2 = Top1 <= Bottom2 && Bottom2 <= Bottom1;
    if ((inX1 != inX2 && (inY1 || inY2)) || ((inX1 || inX2) && inY1 != inY2) ||
        (inX1 != inX2 && inY1 != inY2))
        return 1;
    if (inX1 && inX2 && inY1 && inY2) return 2;
    return 0;
}

double DistanceToLine(int px, int py, int x1, int y1, int x2, int y2) {
    // In doubles relative to A: no integer overflow, the same value as the line equation.
    const double a = double(int64_t(y1) - y2), b = double(int64_t(x2) - x1);
    const double len = std::sqrt(a * a + b * b);
    const double ux = double(int64_t(px) - x1), uy = double(int64_t(py) - y1);
    if (len == 0) return std::sqrt(ux * ux + uy * uy);
    return std::fabs(a * ux + b * uy) / len;
}

double DistanceToSegment(int px, int py, int x1, int y1, int x2, int y2) {
    const int64_t ux = int64_t(px) - x1, uy = int64_t(py) - y1;
    if (x1 == x2 && y1 == y2) return std::sqrt(double(ux) * double(ux) + double(uy) * double(uy));
    const double vx = double(int64_t(x2) - x1), vy = double(int64_t(y2) - y1);
    const double t = (double(ux) * vx + double(uy) * vy) / (vx * vx + vy * vy);
    if (t > 1) {
        const int64_t ex = int64_t(px) - x2, ey = int64_t(py) - y2;
        if (std::abs(ex) > 45000 || std::abs(ey) > 45000) return 1000000.0;
        return std::sqrt(double(ex * ex + ey * ey));
    }
    if (t < 0) {
        if (std::abs(ux) > 45000 || std::abs(uy) > 45000) return 1000000.0;
        return std::sqrt(double(ux * ux + uy * uy));
    }
    return DistanceToLine(px, py, x1, y1, x2, y2);
}

uintptr_t FindParentWindowHandle(TComponent* Component) {
    // No component class of ours owns a native window handle, so no owner can offer one.
    (void)Component;
    return 0;
}

void DrawShadowRight(TCanvas* Canvas, int X1, int Y1, int X2, int Y2, int Style) {
    if (!Canvas || Style != 2) return;
    const int64_t n = int64_t(X2) - X1 + 1;
    for (int64_t i = 0; i < n; ++i) {
        const int g = GreyOfShadowLine(int(i), n);
        Canvas->Pen()->SetColor(RGBColor(g, g, g));
        Canvas->MoveTo(ClampToInt(X1 + i), ClampToInt(Y1 + n));
        Canvas->LineTo(ClampToInt(X1 + i), ClampToInt(Y2 + i - n + 3));
    }
}

void DrawShadowBottom(TCanvas* Canvas, int X1, int Y1, int X2, int Y2, int Style) {
    if (!Canvas || Style != 2) return;
    const int64_t n = int64_t(Y2) - Y1 + 1;
    for (int64_t i = 0; i < n; ++i) {
        const int g = GreyOfShadowLine(int(i), n);
        Canvas->Pen()->SetColor(RGBColor(g, g, g));
        Canvas->MoveTo(ClampToInt(X1 + n), ClampToInt(Y1 + i));
        Canvas->LineTo(ClampToInt(X2 + i - n + 3), ClampToInt(Y1 + i));
    }
}

// ---- Bitmap helpers ----

void CopyBitmap(const TBitmap* Source, TBitmap* Dest) {
    if (!Source || !Dest || Source == Dest) return;
    Settle(Source);
    const bool same = Dest->PixelFormat() == Source->PixelFormat() && Dest->Width() == Source->Width() &&
                      Dest->Height() == Source->Height() && Source->Width() > 0 && Source->Height() > 0;
    if (same) {
        // The same shape keeps Dest's block: the copy below overwrites all of it.
        Dest->FlushCanvas();
        std::memcpy(Dest->PixelBlock(), Source->PixelBlock(), size_t(BlockBytes(Source)));
        Dest->SetModified(true);
        return;
    }
    Dest->SetSize(1, 1);
    Dest->SetPixelFormat(Source->PixelFormat());
    if (Source->Width() <= 0 || Source->Height() <= 0) return;
    Dest->SetSize(Source->Width(), Source->Height());
    Dest->FlushCanvas();
    const int64_t n = BlockBytes(Source);
    if (n > 0 && n <= BlockBytes(Dest)) std::memcpy(Dest->PixelBlock(), Source->PixelBlock(), size_t(n));
}

std::unique_ptr<TBitmap> DuplicateBitmap(const TBitmap* Source) {
    if (!Source) return nullptr;
    auto b = std::make_unique<TBitmap>();
    CopyBitmap(Source, b.get());
    return b;
}

void CropBitmap(const TBitmap* Source, TBitmap* Dest, int X1, int Y1, int X2, int Y2) {
    if (!Source || !Dest) return;
    if (Source == Dest) {
        // Dest is reset before the copy, so crop a private copy.
        TBitmap tmp;
        CropBitmap(Source, &tmp, X1, Y1, X2, Y2);
        CopyBitmap(&tmp, Dest);
        return;
    }
    Settle(Source);
    const int W = Source->Width(), H = Source->Height();
    if (X2 == 0) X2 = W;
    if (Y2 == 0) Y2 = H;
    X2 = std::min(X2, W);
    Y2 = std::min(Y2, H);
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    const TPixelFormat pf = Source->PixelFormat();
    Dest->SetSize(1, 1);
    Dest->SetPixelFormat(pf);
    if (X2 <= X1 || Y2 <= Y1) return;
    const int w = X2 - X1, h = Y2 - Y1;
    Dest->SetSize(w, h);
    if (pf == pf24bit) {
        for (int k = 0; k < h; ++k)
            std::memcpy(Dest->ScanLine(k), Source->ScanLine(Y1 + k) + int64_t(X1) * 3, size_t(w) * 3);
    } else if (pf == pf1bit) {
        for (int k = 0; k < h; ++k) CopyBitRun(Dest->ScanLine(k), Source->ScanLine(Y1 + k), 0, X1, w);
    }
}

void InvertBitmapBits(TBitmap* Bitmap) {
    if (!Bitmap) return;
    Bitmap->FlushCanvas();
    const int64_t n = BlockBytes(Bitmap);
    uint8_t* p = Bitmap->PixelBlock();
    for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
}

std::unique_ptr<TBitmap> TryConvertTo1Bit(const TBitmap* Bitmap, TRGB& Colour0, TRGB& Colour1) {
    if (!Bitmap || Bitmap->PixelFormat() != pf24bit) return nullptr;
    Settle(Bitmap);
    const int W = Bitmap->Width(), H = Bitmap->Height();
    THash1 hash(13);
    auto result = std::make_unique<TBitmap>();
    result->SetPixelFormat(pf1bit);
    result->SetSize(std::max(W, 0), std::max(H, 0));
    TRGB c0 = Colour0, c1 = Colour1;
    for (int y = 0; y < H; ++y) {
        if (hash.Count() > 2) break;
        const uint8_t* src = Bitmap->ScanLine(y);
        uint8_t* dst = result->ScanLine(y);
        for (int x = 0; x < W; ++x) {
            const TRGB c{src[x * 3], src[x * 3 + 1], src[x * 3 + 2]};
            // The two colours already met need no hash lookup.
            const bool known = (hash.Count() >= 1 && c == c0) || (hash.Count() >= 2 && c == c1);
            if (!known && hash.Insert(c.AsInteger())) {
                if (hash.Count() == 1) c0 = c; else c1 = c;
            }
            SetBit(dst, x, !(c == c0));
        }
    }
    Colour0 = c0;
    Colour1 = c1;
    if (hash.Count() != 2) return nullptr;
    if (RoundedLuminance(Colour1) < RoundedLuminance(Colour0)) {
        InvertBitmapBits(result.get());
        std::swap(Colour0, Colour1);
    }
    return result;
}

void ConvertTo1Bit(TBitmap* Bitmap, TProgressRec& Progress) {
    if (!Bitmap || Bitmap->PixelFormat() != pf24bit) return;
    const int W = Bitmap->Width(), H = Bitmap->Height();
    Progress.per = 100.0 / (H + 0.5);
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(std::max(W, 0), std::max(H, 0));
    for (int y = 0; y < H; ++y) {
        const uint8_t* src = Bitmap->ScanLine(y);
        uint8_t* dst = mono.ScanLine(y);
        for (int x = 0; x < W; ++x) {
            const int level = ((src[x * 3 + 2] * 21 + src[x * 3 + 1] * 71 + src[x * 3] * 7) / 100) / 4;
            SetBit(dst, x, level > kBayer[x & 7][y & 7]);
        }
        ReportRow(Progress, y + 1);
    }
    CopyBitmap(&mono, Bitmap);
}

void Convert1To24Bit(const TBitmap* Source, TBitmap* Dest, TProgressRec& Progress) {
    // Only a 1-bit source has the rows this expansion reads.
    if (!Source || !Dest || Source->PixelFormat() != pf1bit) return;
    if (Source == Dest) {
        TBitmap tmp;
        Convert1To24Bit(Source, &tmp, Progress);
        CopyBitmap(&tmp, Dest);
        return;
    }
    Settle(Source);
    const int W = Source->Width(), H = Source->Height();
    Dest->SetSize(1, 1);
    Dest->SetPixelFormat(pf24bit);
    Dest->SetSize(std::max(W, 0), std::max(H, 0));
    Progress.per = 100.0 / (H + 0.5);
    if (W <= 0) return;
    const int whole = W / 8, rest = W % 8;
    for (int y = 0; y < H; ++y) {
        const uint8_t* src = Source->ScanLine(y);
        uint8_t* dst = Dest->ScanLine(y);
        for (int k = 0; k < whole; ++k) std::memcpy(dst + int64_t(k) * 24, MonoExpansionTable[src[k]].data(), 24);
        if (rest) std::memcpy(dst + int64_t(whole) * 24, MonoExpansionTable[src[whole]].data(), size_t(rest) * 3);
        ReportRow(Progress, y + 1);
    }
}

void Convert1To24Bit(const TBitmap* Source, TBitmap* Dest) {
    TProgressRec silent;
    Convert1To24Bit(Source, Dest, silent);
}

void DrawDibCopy(const TBitmap* Source, TBitmap* Dest) {
    if (!Source || !Dest || Source == Dest) return;
    const TPixelFormat pf = Source->PixelFormat();
    // The DIB header describes only 1- and 24-bit rows.
    if (pf != pf1bit && pf != pf24bit) return;
    Dest->SetPixelFormat(pf);
    if (Source->Width() <= 0 || Source->Height() <= 0 || Dest->Width() <= 0 || Dest->Height() <= 0)
        return;
    BITMAPINFO1 info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = Source->Width();
    info.bmiHeader.biHeight = Source->Height();
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = pf == pf1bit ? 1 : 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiColors[1] = RGBQUAD{255, 255, 255, 0};
    const bool toDevice = Dest->PixelFormat() == pf1bit;
    const TBitmapHandleType old = Dest->HandleType();
    Settle(Source);
    if (toDevice) Dest->SetHandleType(bmDDB);
    DrawDibDraw(Dest->Canvas(), 0, 0, Dest->Width(), Dest->Height(), &info.bmiHeader,
                Source->PixelBlock(), 0, 0, Source->Width(), Source->Height());
    if (toDevice) Dest->SetHandleType(old);
    Dest->FlushCanvas();
}

void RenderMonoBlock(const TBitmap* Source, int X1, int Y1, int X2, int Y2, TBitmap* Dest) {
    if (!Source || !Dest || Source->PixelFormat() != pf1bit) return;
    if (Source->Width() <= 0 || Source->Height() <= 0 || Dest->Width() <= 0 || Dest->Height() <= 0)
        return;
    if (!ClipRect(X1, Y1, X2, Y2, Source->Width(), Source->Height())) return;
    std::unique_ptr<TBitmap> own;
    if (Source == Dest) {
        own = DuplicateBitmap(Source);
        Source = own.get();
    }
    Settle(Source);
    Dest->SetPixelFormat(pf24bit);
    RenderMonoCore([&](int r) { return Source->ScanLine(r); }, X1, Y1, X2, Y2, Dest->Width(),
                   Dest->Height(), [&](int j) { return Dest->ScanLine(j); });
}

std::unique_ptr<uint8_t[]> RenderMonoDIB(const uint8_t* Bits, int SourceWidth, int SourceHeight,
                                         int X1, int Y1, int X2, int Y2, int DestWidth,
                                         int DestHeight) {
    if (DestWidth <= 0 || DestHeight <= 0) return nullptr;
    if (!Bits || SourceWidth <= 0 || SourceHeight <= 0) return nullptr;
    if (!ClipRect(X1, Y1, X2, Y2, SourceWidth, SourceHeight)) return nullptr;
    const int64_t srb = RowBytes(SourceWidth, 1);
    const int64_t drb = RowBytes(DestWidth, 24);
    auto block = AllocBytes(drb * DestHeight, true);
    uint8_t* out = block.get();
    RenderMonoCore([&](int r) { return Bits + srb * (int64_t(SourceHeight) - r - 1); }, X1, Y1, X2, Y2,
                   DestWidth, DestHeight,
                   [&](int j) { return out + drb * (int64_t(DestHeight) - j - 1); });
    return block;
}

// ---- THash1 ----

namespace {
constexpr uint32_t kEndOfChain = 0xFFFFFFFFu;
}

THash1::THash1(int Bits) : bits_(Bits) {
    if (Bits < 0 || Bits > 30) throw ELXError("THash1: bits out of range");
    const size_t size = size_t(1) << Bits;
    mask_ = uint32_t(size - 1);
    try {
        slots_.reset(new uint32_t[size]);
        states_.reset(new uint8_t[size]());
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
}

THash1::~THash1() = default;

uint32_t THash1::NewNode(uint32_t Key) {
    if (nodes_.size() >= size_t(kEndOfChain)) throw EOutOfMemory("Out of memory");
    try {
        nodes_.push_back(Node{Key, kEndOfChain});
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    return uint32_t(nodes_.size() - 1);
}

bool THash1::Insert(uint32_t Key) {
    if (count_ == INT_MAX) throw EOutOfMemory("Out of memory");
    const uint32_t i = Key & mask_;
    switch (states_[i]) {
        case 0:
            slots_[i] = Key;
            states_[i] = 1;
            break;
        case 1: {
            if (slots_[i] == Key) return false;
            const uint32_t first = NewNode(slots_[i]);
            const uint32_t second = NewNode(Key);
            nodes_[first].Next = second;
            slots_[i] = first;
            states_[i] = 2;
            break;
        }
        default: {
            uint32_t n = slots_[i];
            for (;;) {
                if (nodes_[n].Key == Key) return false;
                if (nodes_[n].Next == kEndOfChain) break;
                n = nodes_[n].Next;
            }
            const uint32_t added = NewNode(Key);
            nodes_[n].Next = added;
            break;
        }
    }
    ++count_;
    return true;
}

// ---- TLXByteArray ----

TLXByteArray::TLXByteArray() {
    data_ = AllocBytes(blockSize_);
    capacity_ = blockSize_;
}

TLXByteArray::~TLXByteArray() = default;

void TLXByteArray::Add(uint8_t b) {
    if (size_ == INT_MAX) throw EOutOfMemory("Out of memory");
    SetSize(size_ + 1);
    data_[size_t(size_) - 1] = b;
}

void TLXByteArray::SetSize(int n) {
    if (n < 0) throw EListError("List count out of bounds (" + IntToStr(n) + ")");
    if (n > size_) {
        if (n <= capacity_) {
            size_ = n;
            return;
        }
    } else if (int64_t(n) >= int64_t(capacity_) - blockSize_) {
        size_ = n;
        return;
    }
    const int64_t cap = int64_t(n) + blockSize_;
    if (cap > INT_MAX) throw EOutOfMemory("Out of memory");
    auto fresh = AllocBytes(cap);
    const int keep = std::min(size_, n);
    if (keep > 0) std::memcpy(fresh.get(), data_.get(), size_t(keep));
    data_ = std::move(fresh);
    capacity_ = int(cap);
    size_ = n;
}

// ---- TLXList ----

TLXList::TLXList() { TLXList::Clear(); }

TLXList::~TLXList() = default;

void TLXList::SetCount(int n) {
    if (n < 0) throw EListError("List count out of bounds (" + IntToStr(n) + ")");
    auto fresh = AllocBytes(int64_t(n) * itemSize_);
    const int64_t keep = int64_t(std::min(count_, n)) * itemSize_;
    if (keep > 0) std::memcpy(fresh.get(), data_.get(), size_t(keep));
    data_ = std::move(fresh);
    count_ = n;
    modified_ = true;
}

int TLXList::Add(const void* Item) {
    if (count_ == INT_MAX) throw EListError("List count out of bounds (" + IntToStr(int64_t(count_) + 1) + ")");
    SetCount(count_ + 1);
    if (Item && itemSize_ > 0) std::memcpy(Items(count_ - 1), Item, size_t(itemSize_));
    modified_ = true;
    return count_ - 1;
}

void TLXList::Delete(int index) {
    if (index < 0 || index >= count_) return;
    const int64_t is = itemSize_;
    auto fresh = AllocBytes(int64_t(count_ - 1) * is);
    if (is > 0) {
        if (index > 0) std::memcpy(fresh.get(), data_.get(), size_t(index * is));
        if (index < count_ - 1)
            std::memcpy(fresh.get() + index * is, data_.get() + (index + 1) * is, size_t((count_ - 1 - index) * is));
    }
    data_ = std::move(fresh);
    --count_;
    modified_ = true;
}

void TLXList::Clear() {
    count_ = 0;
    data_.reset();
    modified_ = false;
}

void TLXList::Assign(const TLXList* Source) {
    if (!Source || Source == this) return;
    auto fresh = AllocBytes(int64_t(Source->count_) * Source->itemSize_);
    if (fresh) std::memcpy(fresh.get(), Source->data_.get(), size_t(int64_t(Source->count_) * Source->itemSize_));
    data_ = std::move(fresh);
    count_ = Source->count_;
    itemSize_ = Source->itemSize_;
    modified_ = Source->modified_;
}

TLXDoubleList::TLXDoubleList() { itemSize_ = 8; }

void TLXDoubleList::Clear() {
    TLXList::Clear();
    itemSize_ = 8;
    Extra = {};
}

void TLXDoubleList::Assign(const TLXList* Source) {
    if (!Source) return;
    const auto* src = dynamic_cast<const TLXDoubleList*>(Source);
    if (!src) throw EInvalidCast("Invalid class typecast");
    TLXList::Assign(Source);
    Extra = src->Extra;
}

TLXIntegerList::TLXIntegerList() { itemSize_ = 4; }

void TLXIntegerList::Clear() {
    TLXList::Clear();
    itemSize_ = 4;
    Extra = {};
}

void TLXIntegerList::Assign(const TLXList* Source) {
    if (!Source) return;
    const auto* src = dynamic_cast<const TLXIntegerList*>(Source);
    if (!src) throw EInvalidCast("Invalid class typecast");
    TLXList::Assign(Source);
    Extra = src->Extra;
}

TLXRecordList::TLXRecordList(int ItemSize) {
    if (ItemSize < 0) throw EListError("Invalid item size (" + IntToStr(ItemSize) + ")");
    itemSize_ = ItemSize;
}

// =============================================================================================
// EXIF reader and CIELab pixel conversions
// =============================================================================================

int ReadExifBlock(const uint8_t* Block, int Length, TLXIOParams& IOParams) {
    // "Exif" and its terminating zero must lie inside the block.
    if (!Block || Length < 5 || std::memcmp(Block, "Exif", 5) != 0) return 0;

    TLXIOParams tmp(IOParams.Owner());
    TMemoryStream stream;
    if (Length > 6) stream.Write(Block + 6, Length - 6);

    bool aborting = false;   // a broken structure only leaves fields unfilled
    TProgressRec prog;
    prog.Aborting = &aborting;
    TBitmap* thumb = IOParams.ExifThumbnail.get();
    // The reader leaves the target alone when IFD 0 holds no image, as it does in EXIF data;
    // without this a photo without a thumbnail would keep the one of the previous photo.
    thumb->SetSize(1, 1);
    int pages = 0;
    stream.SetPosition(0);
    TiffDecodeStream(thumb, &stream, pages, nullptr, false, prog, tmp);

    IOParams.ExifImageDescription = tmp.TiffImageDescription;
    IOParams.ExifMake = tmp.ExifMake;
    IOParams.ExifModel = tmp.ExifModel;
    IOParams.ExifOrientation = tmp.ExifOrientation;
    IOParams.ExifXResolution = tmp.ExifXResolution;
    IOParams.ExifYResolution = tmp.ExifYResolution;
    IOParams.ExifResolutionUnit = tmp.ExifResolutionUnit;
    IOParams.ExifSoftware = tmp.ExifSoftware;
    IOParams.ExifDateTime = tmp.ExifDateTime;
    for (int i = 0; i < 2; ++i) IOParams.SetExifWhitePoint(i, tmp.GetExifWhitePoint(i));
    for (int i = 0; i < 6; ++i)
        IOParams.SetExifPrimaryChromaticities(i, tmp.GetExifPrimaryChromaticities(i));
    for (int i = 0; i < 3; ++i) IOParams.SetExifYCbCrCoefficients(i, tmp.GetExifYCbCrCoefficients(i));
    IOParams.ExifYCbCrPositioning = tmp.ExifYCbCrPositioning;
    for (int i = 0; i < 6; ++i)
        IOParams.SetExifReferenceBlackWhite(i, tmp.GetExifReferenceBlackWhite(i));
    IOParams.ExifCopyright = tmp.ExifCopyright;
    IOParams.ExifExposureTime = tmp.ExifExposureTime;
    IOParams.ExifFNumber = tmp.ExifFNumber;
    IOParams.ExifExposureProgram = tmp.ExifExposureProgram;
    IOParams.SetExifISOSpeedRatings(0, tmp.GetExifISOSpeedRatings(0));
    IOParams.SetExifISOSpeedRatings(1, tmp.GetExifISOSpeedRatings(1));
    IOParams.ExifVersion = tmp.ExifVersion;
    IOParams.ExifDateTimeOriginal = tmp.ExifDateTimeOriginal;
    IOParams.ExifDateTimeDigitized = tmp.ExifDateTimeDigitized;
    IOParams.ExifCompressedBitsPerPixel = tmp.ExifCompressedBitsPerPixel;
    IOParams.ExifShutterSpeedValue = tmp.ExifShutterSpeedValue;
    IOParams.ExifApertureValue = tmp.ExifApertureValue;
    IOParams.ExifBrightnessValue = tmp.ExifBrightnessValue;
    IOParams.ExifExposureBiasValue = tmp.ExifExposureBiasValue;
    IOParams.ExifMaxApertureValue = tmp.ExifMaxApertureValue;
    IOParams.ExifSubjectDistance = tmp.ExifSubjectDistance;
    IOParams.ExifMeteringMode = tmp.ExifMeteringMode;
    IOParams.ExifLightSource = tmp.ExifLightSource;
    IOParams.ExifFlash = tmp.ExifFlash;
    IOParams.ExifFocalLength = tmp.ExifFocalLength;
    IOParams.ExifSubsecTime = tmp.ExifSubsecTime;
    IOParams.ExifSubsecTimeOriginal = tmp.ExifSubsecTimeOriginal;
    IOParams.ExifSubsecTimeDigitized = tmp.ExifSubsecTimeDigitized;
    IOParams.ExifFlashPixVersion = tmp.ExifFlashPixVersion;
    IOParams.ExifColorSpace = tmp.ExifColorSpace;
    IOParams.ExifPixelXDimension = tmp.ExifPixelXDimension;
    IOParams.ExifPixelYDimension = tmp.ExifPixelYDimension;
    IOParams.ExifRelatedSoundFile = tmp.ExifRelatedSoundFile;
    IOParams.ExifFocalPlaneXResolution = tmp.ExifFocalPlaneXResolution;
    IOParams.ExifFocalPlaneYResolution = tmp.ExifFocalPlaneYResolution;
    IOParams.ExifFocalPlaneResolutionUnit = tmp.ExifFocalPlaneResolutionUnit;
    IOParams.ExifExposureIndex = tmp.ExifExposureIndex;
    IOParams.ExifSensingMethod = tmp.ExifSensingMethod;
    IOParams.ExifFileSource = tmp.ExifFileSource;
    IOParams.ExifSceneType = tmp.ExifSceneType;

    // IFD 1 holds the thumbnail, usually as an old-style JPEG block.
    tmp.TiffImageIndex = 1;
    aborting = false;
    stream.SetPosition(0);
    TiffDecodeStream(thumb, &stream, pages, nullptr, false, prog, tmp);
    return 1;
}

namespace {
// Round to nearest, ties to even, in extended precision.
long double RoundEven(long double v) { return std::nearbyintl(v); }
uint8_t SignedLabByte(long double v) {
    if (v < -128) return uint8_t(int8_t(-128));
    if (v > 127) return 127;
    return uint8_t(int8_t(int(RoundEven(v))));
}
long double LabF(long double t) {
    return t <= 0.008856L ? 7.787L * t + 16.0L / 116.0L : std::pow(t, 1.0L / 3.0L);
}
uint8_t RGBChannel(long double v) {
    if (v <= 0) return 0;
    if (v >= 1) return 255;
    // Just below 1 the square root rounds to 256, which is no byte value.
    return uint8_t(std::min(255.0L, RoundEven(std::sqrt(v) * 256)));
}
}  // namespace

void RGBToCIELab(uint8_t Out[3], uint32_t Pixel) {
    long double c[3];
    for (int i = 0; i < 3; ++i) {
        const long double v = ((Pixel >> (16 - 8 * i)) & 0xFF) / 255.0L;
        c[i] = (v <= 0.03928L ? v / 12.92L : std::pow((v + 0.055L) / 1.055L, 2.4L)) * 100;
    }
    const long double R = c[0], G = c[1], B = c[2];
    const long double fx = LabF(0.4124L * R + 0.3576L * G + 0.1805L * B);
    const long double fy = LabF(0.2126L * R + 0.7152L * G + 0.0722L * B);
    const long double fz = LabF(0.0193L * R + 0.1192L * G + 0.9505L * B);
    const long double L = (116 * fy - 16) / 550 * 255;
    Out[0] = L < 0 ? 0 : L > 255 ? 255 : uint8_t(int(RoundEven(L)));
    Out[1] = SignedLabByte((fx - fy) * 500 / 200 * 128);
    Out[2] = SignedLabByte((fy - fz) * 200 / 500 * 128);
}

void CIELabToRGB(uint8_t Out[3], uint32_t Lab) {
    const auto ab = [](uint32_t byte) -> long double {
        const int v = int8_t(uint8_t(byte));
        return v == -128 ? 128 : v;
    };
    const long double L = (Lab & 0xFF) / 255.0L * 100;
    const long double a = (ab(Lab >> 8) + 127) / 255 * 200 - 100;
    const long double b = (ab(Lab >> 16) + 127) / 255 * 200 - 100;
    const long double fy = (L + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
    long double X, Y, Z;
    if (L >= 7.9996L) {
        X = fx * fx * fx;
        Y = fy * fy * fy;
        Z = fz * fz * fz;
    } else {
        Y = L / 903.3L;
        X = Y + a / 3893.5L;
        Z = Y - b / 1557.4L;
    }
    Out[2] = RGBChannel(2.69L * X - 1.276L * Y - 0.414L * Z);
    Out[1] = RGBChannel(-1.022L * X + 1.978L * Y + 0.044L * Z);
    Out[0] = RGBChannel(0.061L * X - 0.224L * Y + 1.163L * Z);
}
