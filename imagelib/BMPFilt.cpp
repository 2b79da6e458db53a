// BMP reader and writer. Every size, count and offset of the file is checked against the
// stream before it is used; a bad file sets the abort flag and never touches memory outside
// the bitmap.
#include "BMPFilt.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "LuxIO.h"
#include "Win32.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kCoreHeaderSize = 12;
constexpr int kInfoHeaderSize = 40;
constexpr int kInfo2HeaderSize = 64;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

bool ReadExact(TStream* s, void* buf, int64_t n) { return s->Read(buf, n) == n; }

// The abort flag of the record, or a local one when the caller gave none.
using AbortFlag = TLXAbortFlag;

void Report(TProgressRec& p, double percent) {
    if (p.fOnProgress) p.fOnProgress(p.Sender, int(std::nearbyint(percent)));
}

int DpiFromPixelsPerMetre(int32_t ppm, int defaultDpi) {
    // Ties to even; a zero or negative resolution means "none given".
    const double dpi = std::nearbyint(double(ppm) / 100.0 * 2.54);
    return dpi >= 1 ? int(dpi) : defaultDpi;
}

uint32_t PixelsPerMetreFromDpi(int dpi) {
    if (dpi <= 0) return 0;
    return uint32_t(std::nearbyint(double(dpi) / 2.54 * 100.0));
}

// One channel of a 16-bit bit-field pixel, moved so that the top bit of the mask lands in
// bit 7 of the byte. For red above green above blue this is the usual rule (red shifted by
// wr + wg + wb - 8, blue shifted up by 8 - wb); any other mask stays within the shift range.
struct MaskChannel {
    uint32_t mask = 0;
    int shift = 0;   // > 0 right, < 0 left
    explicit MaskChannel(uint32_t m) : mask(m & 0xFFFF) {
        if (mask == 0) return;
        const int low = std::countr_zero(mask);
        shift = low + MaskBitWidth(mask) - 8;
    }
    uint8_t Extract(uint32_t v) const {
        const uint32_t m = v & mask;
        return uint8_t(shift >= 0 ? (m >> shift) : (m << -shift));
    }
};

void PutColour(uint8_t* row, int x, const TRGB& c) {
    uint8_t* p = row + int64_t(x) * 3;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
}

// The RLE walk of both depths; RLE4 takes two nibbles, high first, where RLE8 takes a byte.
template <bool Four>
void DecodeRLE(TBitmap* Bitmap, const uint8_t* Data, int64_t Length, TProgressRec& Progress,
               const TRGB* Palette) {
    const int w = Bitmap->Width(), h = Bitmap->Height();
    if (w <= 0 || h <= 0 || !Data || Length <= 0) return;
    AbortFlag aborting(Progress);
    const double step = 100.0 / h;
    int row = h - 1;
    int64_t x = 0;
    uint8_t* line = Bitmap->ScanLine(row);
    auto put = [&](unsigned index) {
        if (x < w) PutColour(line, int(x), Palette[index & 0xFF]);
        ++x;
    };
    int64_t i = 0;
    while (i + 2 <= Length) {
        const unsigned n = Data[i], v = Data[i + 1];
        i += 2;
        if (n > 0) {
            for (unsigned k = 0; k < n && x < w; ++k) put(Four ? ((k & 1) ? v & 0x0F : v >> 4) : v);
            continue;
        }
        if (v == 0) {   // end of line
            if (--row < 0) break;
            x = 0;
            line = Bitmap->ScanLine(row);
            Report(Progress, (h - row) * step);
            if (aborting.get()) break;
        } else if (v == 1) {   // end of bitmap
            break;
        } else if (v == 2) {   // delta: right and up from the current position
            if (i + 2 > Length) break;
            const int dx = Data[i], dy = Data[i + 1];
            i += 2;
            if (dy > 0) {
                row -= dy;
                if (row < 0) break;
                line = Bitmap->ScanLine(row);
            }
            x = std::min<int64_t>(x + dx, w);
        } else {   // absolute run of v pixels
            const int64_t bytes = Four ? (v + 1) / 2 : v;
            const int64_t present = std::min<int64_t>(bytes, Length - i);
            for (unsigned k = 0; k < v && x < w; ++k) {
                const int64_t at = Four ? k / 2 : k;
                if (at >= present) break;
                const unsigned b = Data[i + at];
                put(Four ? ((k & 1) ? b & 0x0F : b >> 4) : b);
            }
            if (present < bytes) break;   // the run is cut off by the end of the data
            i += bytes + (bytes & 1);
        }
    }
}

struct BmpHeader {
    int64_t start = 0;
    uint32_t fileSize = 0, dataOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0, height = 0;
    int bits = 0;
    uint32_t compression = 0, imageSize = 0, colorsUsed = 0;
    int32_t xppm = 0, yppm = 0;
    uint32_t masks[3] = {0, 0, 0};
    bool core = false;
    int paletteCount = 0;
    TRGB palette[256];   // working palette: entries past paletteCount stay black
};

bool Supported(int bits, uint32_t compression) {
    switch (bits) {
        case 1: return compression == 0;
        case 4: return compression == 0 || compression == 2;
        case 8: return compression == 0 || compression == 1;
        case 16: return compression == 0 || compression == 3;
        case 24: return compression == 0;
        case 32: return compression == 0 || compression == 3;
        default: return false;
    }
}

// Reads the file header, info header, masks and palette. False for a file that cannot be
// a BMP (nothing of the parameters has been changed then).
bool ReadHeaders(TStream* s, BmpHeader& hd) {
    const int64_t streamSize = s->Size();
    uint8_t fh[kFileHeaderSize];
    if (!ReadExact(s, fh, kFileHeaderSize) || GetLE16(fh) != 0x4D42) return false;
    hd.fileSize = GetLE32(fh + 2);
    hd.dataOffset = GetLE32(fh + 10);

    const int64_t headerStart = hd.start + kFileHeaderSize;
    uint8_t rec[kInfo2HeaderSize] = {};
    if (!ReadExact(s, rec, 4)) return false;
    hd.headerSize = GetLE32(rec);
    if (hd.headerSize < uint32_t(kCoreHeaderSize) || headerStart + int64_t(hd.headerSize) > streamSize)
        return false;
    if (hd.headerSize == uint32_t(kCoreHeaderSize)) {
        if (!ReadExact(s, rec + 4, 8)) return false;
        hd.core = true;
        hd.width = GetLE16(rec + 4);
        hd.height = GetLE16(rec + 6);
        hd.bits = GetLE16(rec + 10);
    } else {
        const int64_t n = std::min<int64_t>(kInfo2HeaderSize, hd.headerSize);
        if (!ReadExact(s, rec + 4, n - 4)) return false;
        s->Seek(headerStart + hd.headerSize, soBeginning);
        hd.width = int32_t(GetLE32(rec + 4));
        hd.height = int32_t(GetLE32(rec + 8));
        hd.bits = GetLE16(rec + 14);
        hd.compression = GetLE32(rec + 16);
        hd.imageSize = GetLE32(rec + 20);
        hd.xppm = int32_t(GetLE32(rec + 24));
        hd.yppm = int32_t(GetLE32(rec + 28));
        hd.colorsUsed = GetLE32(rec + 32);
    }
    // Width 0 or less, height 0 and the one height that has no positive counterpart.
    if (hd.width <= 0 || hd.height == 0 || hd.height == INT32_MIN) return false;
    // Rows stored top-down cannot be run-length coded.
    if (hd.height < 0 && (hd.compression == 1 || hd.compression == 2)) return false;

    if (!hd.core && hd.compression == 3) {
        // V2 and later headers hold the masks themselves; the 40- and 64-byte ones are
        // followed by them.
        const uint32_t hs = hd.headerSize;
        if (hs == 52 || hs == 56 || hs >= 108) {
            for (int c = 0; c < 3; ++c) hd.masks[c] = GetLE32(rec + 40 + 4 * c);
        } else {
            uint8_t m[12];
            if (!ReadExact(s, m, 12)) return false;
            for (int c = 0; c < 3; ++c) hd.masks[c] = GetLE32(m + 4 * c);
        }
    }

    int64_t count;
    int entrySize;
    if (hd.core) {
        count = hd.bits <= 8 ? (int64_t(1) << hd.bits) : 0;
        entrySize = 3;
    } else {
        count = hd.colorsUsed;
        if (count == 0 && hd.bits <= 8) count = int64_t(1) << hd.bits;
        entrySize = 4;
    }
    if (count > 256) return false;   // more than any palette holds: a bad file
    if (count > 0) {
        uint8_t raw[256 * 4];
        if (!ReadExact(s, raw, count * entrySize)) return false;
        for (int i = 0; i < count; ++i) {
            const uint8_t* e = raw + i * entrySize;
            hd.palette[i] = TRGB{e[0], e[1], e[2]};
        }
    }
    hd.paletteCount = int(count);
    return true;
}

void FillParameters(const BmpHeader& hd, TLXIOParams& p) {
    p.Width = hd.width;
    p.Height = hd.height < 0 ? -hd.height : hd.height;
    switch (hd.bits) {
        case 1: case 4: case 8:
            p.BitsPerSample = hd.bits;
            p.SamplesPerPixel = 1;
            break;
        case 16:
            p.BitsPerSample = 5;
            p.SamplesPerPixel = 3;
            break;
        default:
            p.BitsPerSample = 8;
            p.SamplesPerPixel = 3;
            break;
    }
    if (hd.core) {
        p.DpiX = ScreenPixelsPerInch();
        p.DpiY = ScreenPixelsPerInch();
    } else {
        p.DpiX = DpiFromPixelsPerMetre(hd.xppm, ScreenPixelsPerInch());
        p.DpiY = DpiFromPixelsPerMetre(hd.yppm, ScreenPixelsPerInch());
    }
    p.FreePalette();
    if (hd.paletteCount > 0) {
        TRGB* pal = p.AllocPalette(hd.paletteCount);
        std::copy(hd.palette, hd.palette + hd.paletteCount, pal);
    }
    p.PaletteCount = hd.paletteCount;
    p.BmpVersion = hd.core ? 2 : hd.headerSize == uint32_t(kInfoHeaderSize) ? 1
                            : hd.headerSize == uint32_t(kInfo2HeaderSize) ? 3 : 0;
    p.BmpCompression = (hd.compression == 1 || hd.compression == 2) ? 1 : 0;
}

void DecodePixels(TStream* s, TBitmap* Bitmap, const BmpHeader& hd, int64_t dataLength,
                  TProgressRec& Progress, AbortFlag& aborting) {
    const int w = hd.width;
    const bool topDown = hd.height < 0;
    const int h = topDown ? -hd.height : hd.height;

    Bitmap->SetSize(1, 1);
    Bitmap->SetPixelFormat(hd.bits == 1 ? pf1bit : pf24bit);
    Bitmap->SetSize(w, h);
    // Nothing of the previous picture may show through rows the file does not fill.
    std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));

    if (hd.compression == 1 || hd.compression == 2) {
        std::vector<uint8_t> data(size_t(std::max<int64_t>(dataLength, 0)));
        const int64_t got = data.empty() ? 0 : s->Read(data.data(), int64_t(data.size()));
        if (got <= 0) {
            aborting.set();
            return;
        }
        if (hd.compression == 1)
            BmpDecodeRLE8(Bitmap, data.data(), got, Progress, hd.palette);
        else
            BmpDecodeRLE4(Bitmap, data.data(), got, Progress, hd.palette);
        return;
    }

    const int64_t rowLen = (int64_t(w) * hd.bits + 31) / 32 * 4;
    const double step = 100.0 / h;
    Progress.per = step;
    std::vector<uint8_t> buf(static_cast<size_t>(rowLen));
    const MaskChannel red(hd.compression == 3 ? hd.masks[0] : 0x7C00),
        green(hd.compression == 3 ? hd.masks[1] : 0x03E0),
        blue(hd.compression == 3 ? hd.masks[2] : 0x001F);
    bool anyRow = false;
    for (int r = 0; r < h; ++r) {
        Progress.val = r;
        Report(Progress, r * step);
        if (aborting.get()) break;
        uint8_t* line = Bitmap->ScanLine(topDown ? r : h - 1 - r);
        // 1- and 24-bit rows have the bitmap's own layout and go straight into it.
        const bool direct = hd.bits == 1 || hd.bits == 24;
        const int64_t got = s->Read(direct ? line : buf.data(), rowLen);
        if (got <= 0) break;
        anyRow = true;
        if (!direct) {
            const uint8_t* src = buf.data();
            switch (hd.bits) {
                case 4: {
                    const int n = int(std::min<int64_t>(w, got * 2));
                    for (int x = 0; x < n; ++x) {
                        const uint8_t b = src[x >> 1];
                        PutColour(line, x, hd.palette[(x & 1) ? b & 0x0F : b >> 4]);
                    }
                    break;
                }
                case 8: {
                    const int n = int(std::min<int64_t>(w, got));
                    for (int x = 0; x < n; ++x) PutColour(line, x, hd.palette[src[x]]);
                    break;
                }
                case 16: {
                    const int n = int(std::min<int64_t>(w, got / 2));
                    for (int x = 0; x < n; ++x) {
                        const uint32_t v = GetLE16(src + 2 * x);
                        PutColour(line, x, TRGB{blue.Extract(v), green.Extract(v), red.Extract(v)});
                    }
                    break;
                }
                case 32: {
                    const int n = int(std::min<int64_t>(w, got / 4));
                    for (int x = 0; x < n; ++x)
                        PutColour(line, x, TRGB{src[4 * x], src[4 * x + 1], src[4 * x + 2]});
                    break;
                }
                default: break;
            }
        }
        if (got < rowLen) break;   // the stream ended inside this row
    }
    if (!anyRow) {
        aborting.set();
        return;
    }
    if (hd.bits == 1 && hd.paletteCount == 2 && hd.palette[0] == TRGB{255, 255, 255} &&
        hd.palette[1] == TRGB{0, 0, 0}) {
        uint8_t* p = Bitmap->PixelBlock();
        const int64_t n = Bitmap->ImageSize();
        for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
    }
}

}  // namespace

void BmpDecodeRLE4(TBitmap* Bitmap, const uint8_t* Data, int64_t Length, TProgressRec& Progress,
                   const TRGB* Palette) {
    DecodeRLE<true>(Bitmap, Data, Length, Progress, Palette);
}

void BmpDecodeRLE8(TBitmap* Bitmap, const uint8_t* Data, int64_t Length, TProgressRec& Progress,
                   const TRGB* Palette) {
    DecodeRLE<false>(Bitmap, Data, Length, Progress, Palette);
}

void BmpDecodeStream(TStream* Stream, TBitmap* Bitmap, int64_t SizeLimit, bool ParamsOnly,
                     TProgressRec& Progress, TLXIOParams& IOParams) {
    AbortFlag aborting(Progress);
    try {
        BmpHeader hd;
        hd.start = Stream->Position();
        const int64_t streamSize = Stream->Size();
        if (!ReadHeaders(Stream, hd)) {
            aborting.set();
            return;
        }
        if (SizeLimit < 1 && hd.fileSize != 0) SizeLimit = hd.fileSize;

        FillParameters(hd, IOParams);

        if (hd.dataOffset != 0) {
            const int64_t at = hd.start + int64_t(hd.dataOffset);
            if (at >= streamSize) {
                aborting.set();
                return;
            }
            Stream->Seek(at, soBeginning);
        }
        const int64_t pos = Stream->Position();
        const int64_t available = streamSize - pos;
        // The file's own claim, never more than the stream holds; a claim that ends before
        // the pixel data is wrong and ignored.
        int64_t dataLength = SizeLimit > 0 ? SizeLimit + hd.start - pos : int64_t(hd.imageSize);
        if (dataLength <= 0 || dataLength > available) dataLength = available;

        if (ParamsOnly) return;

        const int64_t h = hd.height < 0 ? -int64_t(hd.height) : hd.height;
        if (!Supported(hd.bits, hd.compression) || int64_t(hd.width) * h > BmpMaxPixels ||
            int64_t(hd.width) * hd.bits > (int64_t(1) << 31) - 32) {
            aborting.set();
            return;
        }
        // A few bytes must not make us allocate a huge picture: even run-length data of a
        // real image does not grow more than this when decoded.
        const int64_t bitmapBytes = (int64_t(hd.width) * (hd.bits == 1 ? 1 : 24) + 31) / 32 * 4 * h;
        if (bitmapBytes > std::max<int64_t>(BmpMinDecodeBudget, available * BmpMaxExpansion)) {
            aborting.set();
            return;
        }
        DecodePixels(Stream, Bitmap, hd, dataLength, Progress, aborting);
    } catch (const std::exception&) {
        // Out of memory, an impossible bitmap size or a stream error: the file is not read.
        aborting.set();
    }
}

// ---- Writing ----

namespace {

template <bool Four>
int EncodeRLE(const uint8_t* idx, int count, uint8_t* out) {
    int o = 0;
    auto flush = [&](int from, int to) {
        while (from < to) {
            const int piece = std::min(255, to - from);
            if (piece == 1) {
                out[o++] = 1;
                out[o++] = Four ? uint8_t((idx[from] & 0x0F) << 4) : idx[from];
            } else if (piece == 2) {
                if (Four) {
                    out[o++] = 2;
                    out[o++] = uint8_t(((idx[from] & 0x0F) << 4) | (idx[from + 1] & 0x0F));
                } else {
                    out[o++] = 1;
                    out[o++] = idx[from];
                    out[o++] = 1;
                    out[o++] = idx[from + 1];
                }
            } else {
                out[o++] = 0;
                out[o++] = uint8_t(piece);
                int bytes;
                if (Four) {
                    bytes = (piece + 1) / 2;
                    for (int k = 0; k < bytes; ++k) {
                        const int a = idx[from + 2 * k] & 0x0F;
                        const int b = 2 * k + 1 < piece ? idx[from + 2 * k + 1] & 0x0F : 0;
                        out[o++] = uint8_t((a << 4) | b);
                    }
                } else {
                    bytes = piece;
                    std::memcpy(out + o, idx + from, size_t(piece));
                    o += piece;
                }
                if (bytes & 1) out[o++] = 0;
            }
            from += piece;
        }
    };
    int pending = 0, i = 0;
    while (i < count) {
        if (i + 1 < count && idx[i] == idx[i + 1]) {
            flush(pending, i);
            int j = i + 1;
            while (j < count && idx[j] == idx[i] && j - i < 255) ++j;
            out[o++] = uint8_t(j - i);
            out[o++] = Four ? uint8_t(((idx[i] & 0x0F) << 4) | (idx[i] & 0x0F)) : idx[i];
            i = j;
            pending = i;
        } else {
            ++i;
            if (i - pending > 255) {
                flush(pending, i);
                pending = i;
            }
        }
    }
    flush(pending, count);
    out[o++] = 0;
    out[o++] = 0;
    return o;
}

}  // namespace

int BmpEncodeRLE4(const uint8_t* Indexes, int Count, uint8_t* Output) {
    return EncodeRLE<true>(Indexes, std::max(Count, 0), Output);
}

int BmpEncodeRLE8(const uint8_t* Indexes, int Count, uint8_t* Output) {
    return EncodeRLE<false>(Indexes, std::max(Count, 0), Output);
}

void BmpWritePalette(TStream* Stream, const TLXIOParams& IOParams, int N, bool& Error) {
    std::vector<uint8_t> raw(size_t(std::max(N, 0)) * 4, 0);
    for (int i = 0; i < N && i < IOParams.PaletteCount && IOParams.Palette; ++i) {
        raw[size_t(i) * 4] = IOParams.Palette[size_t(i)].b;
        raw[size_t(i) * 4 + 1] = IOParams.Palette[size_t(i)].g;
        raw[size_t(i) * 4 + 2] = IOParams.Palette[size_t(i)].r;
    }
    StreamWriteChecked(Stream, Error, raw.data(), int64_t(raw.size()));
}

namespace {

void WritePalette3(TStream* Stream, const TLXIOParams& IOParams, int N, bool& Error) {
    std::vector<uint8_t> raw(size_t(std::max(N, 0)) * 3, 0);
    for (int i = 0; i < N && i < IOParams.PaletteCount && IOParams.Palette; ++i) {
        raw[size_t(i) * 3] = IOParams.Palette[size_t(i)].b;
        raw[size_t(i) * 3 + 1] = IOParams.Palette[size_t(i)].g;
        raw[size_t(i) * 3 + 2] = IOParams.Palette[size_t(i)].r;
    }
    StreamWriteChecked(Stream, Error, raw.data(), int64_t(raw.size()));
}

// The info header as it is finally written (bit count and image size known).
std::vector<uint8_t> InfoHeader(int size, int w, int h, int bits, uint32_t compression,
                                uint32_t xppm, uint32_t yppm, uint32_t imageSize) {
    std::vector<uint8_t> hd(size_t(size), 0);
    Put32(hd.data(), uint32_t(size));
    if (size == kCoreHeaderSize) {
        Put16(hd.data() + 4, uint32_t(w));
        Put16(hd.data() + 6, uint32_t(h));
        Put16(hd.data() + 8, 1);
        Put16(hd.data() + 10, uint32_t(bits));
        return hd;
    }
    Put32(hd.data() + 4, uint32_t(w));
    Put32(hd.data() + 8, uint32_t(h));
    Put16(hd.data() + 12, 1);
    Put16(hd.data() + 14, uint32_t(bits));
    Put32(hd.data() + 16, compression);
    Put32(hd.data() + 20, imageSize);
    Put32(hd.data() + 24, xppm);
    Put32(hd.data() + 28, yppm);
    Put32(hd.data() + 32, bits <= 8 ? (1u << bits) : 0);
    Put32(hd.data() + 36, 1u << bits);
    return hd;
}

}  // namespace

void BmpEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        if (w <= 0 || h <= 0) {
            aborting.set();
            return;
        }
        // The writer works on pf1bit or pf24bit pixels; other formats go through a copy.
        TBitmap* src = Bitmap;
        std::unique_ptr<TBitmap> owned;
        auto own = [&](std::unique_ptr<TBitmap> b) {
            owned = std::move(b);
            src = owned.get();
        };
        if (src->PixelFormat() != pf1bit && src->PixelFormat() != pf24bit) {
            auto copy = std::make_unique<TBitmap>();
            copy->Assign(src);
            copy->SetPixelFormat(pf24bit);
            own(std::move(copy));
        }
        auto expandTo24 = [&] {
            if (src->PixelFormat() != pf1bit) return;
            auto copy = std::make_unique<TBitmap>();
            Convert1To24Bit(src, copy.get(), Progress);
            own(std::move(copy));
        };

        int bits;
        if (IOParams.BitsPerSample == 1 || IOParams.BitsPerSample == 4)
            bits = IOParams.BitsPerSample;
        else
            bits = IOParams.SamplesPerPixel == 1 ? 8 : 24;

        // The OS/2 header holds 16-bit sizes; larger images get the 40-byte header.
        int headerSize = kInfoHeaderSize;
        if (IOParams.BmpVersion == 2 && w <= 0xFFFF && h <= 0xFFFF) headerSize = kCoreHeaderSize;
        else if (IOParams.BmpVersion == 3) headerSize = kInfo2HeaderSize;
        const bool core = headerSize == kCoreHeaderSize;
        const bool rle = IOParams.BmpCompression == 1 && !core && (bits == 4 || bits == 8);
        const uint32_t compression = rle ? (bits == 4 ? 2u : 1u) : 0u;
        const uint32_t xppm = PixelsPerMetreFromDpi(IOParams.DpiX);
        const uint32_t yppm = PixelsPerMetreFromDpi(IOParams.DpiY);

        const int64_t start = Stream->Position();
        uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
        bool& err = aborting.ref();
        StreamWriteChecked(Stream, err, fileHeader, kFileHeaderSize);
        {
            const auto info = InfoHeader(headerSize, w, h, bits, compression, xppm, yppm, 0);
            StreamWriteChecked(Stream, err, info.data(), int64_t(info.size()));
        }
        if (aborting.get()) return;

        const double step = 100.0 / h;
        Progress.per = step;
        const int64_t rowLen = (int64_t(w) * bits + 31) / 32 * 4;
        std::vector<uint8_t> row(static_cast<size_t>(rowLen), 0);
        auto beforeRow = [&](int r) {
            Progress.per = step;
            Progress.val = r;
            Report(Progress, r * step);
            return !aborting.get();
        };
        int64_t paletteEnd = 0;

        if (bits == 4 || bits == 8) {
            expandTo24();
            const int ncol = 1 << bits;
            TRGB* pal = IOParams.AllocPalette(ncol);
            std::fill(pal, pal + ncol, TRGB{});
            IOParams.PaletteCount = ncol;
            TLXQuantizer quantizer(src, std::span<TRGB>(pal, size_t(ncol)), ncol);
            if (core)
                WritePalette3(Stream, IOParams, ncol, err);
            else
                BmpWritePalette(Stream, IOParams, ncol, err);
            if (aborting.get()) return;
            paletteEnd = Stream->Position();

            std::vector<uint8_t> indexes(static_cast<size_t>(w));
            std::vector<uint8_t> packed(rle ? size_t(BmpRLEBufferSize(w)) : 0);
            for (int r = 0; r < h; ++r) {
                if (!beforeRow(r)) return;
                ConvertPixelRow(src->ScanLine(h - 1 - r), indexes.data(), 24, 8, w, {}, &quantizer);
                if (rle) {
                    const int n = bits == 4 ? BmpEncodeRLE4(indexes.data(), w, packed.data())
                                            : BmpEncodeRLE8(indexes.data(), w, packed.data());
                    StreamWriteChecked(Stream, err, packed.data(), n);
                } else {
                    std::fill(row.begin(), row.end(), 0);
                    if (bits == 8) {
                        std::memcpy(row.data(), indexes.data(), size_t(w));
                    } else {
                        for (int x = 0; x < w; ++x)
                            row[size_t(x >> 1)] |= uint8_t((x & 1) ? indexes[size_t(x)] & 0x0F
                                                                   : (indexes[size_t(x)] & 0x0F) << 4);
                    }
                    StreamWriteChecked(Stream, err, row.data(), rowLen);
                }
                if (aborting.get()) return;
            }
            if (rle) {
                const uint8_t eob[2] = {0, 1};
                StreamWriteChecked(Stream, err, eob, 2);
                if (aborting.get()) return;
            }
        } else if (bits == 1) {
            TRGB c0{0, 0, 0}, c1{255, 255, 255};
            if (src->PixelFormat() == pf24bit) {
                std::unique_ptr<TBitmap> two = TryConvertTo1Bit(src, c0, c1);
                if (!two) {
                    c0 = TRGB{0, 0, 0};
                    c1 = TRGB{255, 255, 255};
                    // Dither a copy: saving never changes the caller's picture.
                    two = std::make_unique<TBitmap>();
                    CopyBitmap(src, two.get());
                    ConvertTo1Bit(two.get(), Progress);
                }
                own(std::move(two));
            }
            TRGB* pal = IOParams.AllocPalette(2);
            pal[0] = c0;
            pal[1] = c1;
            IOParams.PaletteCount = 2;
            if (core)
                WritePalette3(Stream, IOParams, 2, err);
            else
                BmpWritePalette(Stream, IOParams, 2, err);
            if (aborting.get()) return;
            paletteEnd = Stream->Position();
            for (int r = 0; r < h; ++r) {
                if (!beforeRow(r)) return;
                StreamWriteChecked(Stream, err, src->ScanLine(h - 1 - r), rowLen);
                if (aborting.get()) return;
            }
        } else {
            expandTo24();
            paletteEnd = Stream->Position();
            for (int r = 0; r < h; ++r) {
                if (!beforeRow(r)) return;
                std::memcpy(row.data(), src->ScanLine(h - 1 - r), size_t(w) * 3);
                StreamWriteChecked(Stream, err, row.data(), rowLen);
                if (aborting.get()) return;
            }
        }

        const int64_t end = Stream->Position();
        Put32(fileHeader + 2, uint32_t(end - start));
        Put32(fileHeader + 10, uint32_t(paletteEnd - start));
        const auto info = InfoHeader(headerSize, w, h, bits, compression, xppm, yppm,
                                     core ? 0u : uint32_t(end - paletteEnd));
        Stream->Seek(start, soBeginning);
        StreamWriteChecked(Stream, err, fileHeader, kFileHeaderSize);
        StreamWriteChecked(Stream, err, info.data(), int64_t(info.size()));
        Stream->Seek(end, soBeginning);
    } catch (const std::exception&) {
        // Out of memory or a stream error: the image is not written.
        aborting.set();
    }
}

// =============================================================================================
// PNM (P1 to P6) reader and P4 / P5 / P6 writer
// =============================================================================================

namespace {

bool IsTokenChar(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bytes of a stream through a buffer: the ASCII forms are read one character at a time.
class PnmSource {
public:
    explicit PnmSource(TStream* s) : s_(s) {}
    // Gives the unread bytes back to the stream, so binary data can follow the header.
    ~PnmSource() { Sync(); }
    PnmSource(const PnmSource&) = delete;
    PnmSource& operator=(const PnmSource&) = delete;
    int Get() {
        if (pos_ == len_) {
            pos_ = 0;
            len_ = s_->Read(buf_, sizeof buf_);
            if (len_ <= 0) {
                len_ = 0;
                return -1;
            }
        }
        return buf_[pos_++];
    }
    void Sync() {
        if (pos_ < len_) s_->Seek(pos_ - len_, soCurrent);
        pos_ = len_ = 0;
    }
    // Up to n bytes: the buffered ones first, then the stream's.
    int64_t Read(uint8_t* out, int64_t n) {
        int64_t got = std::min<int64_t>(n, len_ - pos_);
        std::memcpy(out, buf_ + pos_, size_t(got));
        pos_ += got;
        if (got < n) {
            const int64_t more = s_->Read(out + got, n - got);
            if (more > 0) got += more;
        }
        return got;
    }

private:
    TStream* s_;
    uint8_t buf_[4096];
    int64_t pos_ = 0, len_ = 0;
};

template <class Src>
void ReadPnmToken(Src& src, std::string& token) {
    token.clear();
    int c = src.Get();
    while (c >= 0 && !IsTokenChar(c) && c != '#') c = src.Get();
    if (c < 0) return;
    if (c == '#') {
        std::string text;
        for (c = src.Get(); c >= 0 && c != '\r' && c != '\n'; c = src.Get()) text += char(c);
        const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f'; };
        size_t a = 0, b = text.size();
        while (a < b && blank(text[a])) ++a;
        while (b > a && blank(text[b - 1])) --b;
        token.assign(1, '#');
        token.append(text, a, b - a);
        return;
    }
    while (c >= 0 && IsTokenChar(c)) {
        token += char(c);
        c = src.Get();
    }
}

struct StreamByteSource {
    TStream* s;
    int Get() {
        uint8_t b;
        return s->Read(&b, 1) == 1 ? b : -1;
    }
};

// Decimal value of a token; -1 when it is not a number. Values from 2^31 on come back as
// 2^31, so products of two stay within 64 bits.
int64_t PnmNumber(const std::string& t) {
    if (t.empty()) return -1;
    constexpr int64_t kCap = int64_t(1) << 31;
    int64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return -1;
        v = std::min(kCap, v * 10 + (c - '0'));
    }
    return v;
}

// round(v / maximum x 255), keeping the low 8 bits of values above the maximum.
uint8_t PnmScale(int64_t v, int64_t maximum) {
    return uint8_t(int64_t(std::nearbyint(double(v) / double(maximum) * 255.0)) & 0xFF);
}

}  // namespace

void PnmReadToken(TStream* Stream, std::string& Token) {
    StreamByteSource src{Stream};
    ReadPnmToken(src, Token);
}

void PnmDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        PnmSource src(Stream);
        IOParams.PnmComments->Clear();
        // Magic, width, height, maximum: comments may stand between any two of them.
        std::string tok, fields[4];
        int nfields = 0, need = 3;
        for (;;) {
            ReadPnmToken(src, tok);
            if (tok.empty()) break;
            if (tok[0] == '#') {
                IOParams.PnmComments->Add(tok.substr(1));
                continue;
            }
            fields[nfields++] = tok;
            if (nfields == 1) need = (tok == "P1" || tok == "P4") ? 3 : 4;
            if (nfields == need) break;
        }
        const std::string& magic = fields[0];
        const int kind = magic.size() == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6'
                             ? magic[1] - '0' : 0;
        const int64_t w = PnmNumber(fields[1]), h = PnmNumber(fields[2]);
        const int64_t maximum = need == 3 ? 1 : PnmNumber(fields[3]);
        // An unknown magic or a maximum of 0 (every sample would divide by it) is no image.
        if (kind == 0 || w <= 0 || h <= 0 || maximum < 1 || maximum > 65535) {
            aborting.set();
            return;
        }
        if (w * h > BmpMaxPixels || w * 24 > (int64_t(1) << 31) - 32) {
            aborting.set();
            return;
        }
        IOParams.Width = int(w);
        IOParams.Height = int(h);
        IOParams.DpiX = ScreenPixelsPerInch();
        IOParams.DpiY = ScreenPixelsPerInch();
        const bool mono = kind == 1 || kind == 4;
        IOParams.BitsPerSample = mono ? 1 : 8;
        IOParams.SamplesPerPixel = (kind == 3 || kind == 6) ? 3 : 1;
        IOParams.FreePalette();
        if (ParamsOnly) return;

        src.Sync();
        const int64_t available = Stream->Size() - Stream->Position();
        const int64_t bitmapBytes = (w * (mono ? 1 : 24) + 31) / 32 * 4 * h;
        if (available <= 0 ||
            bitmapBytes > std::max<int64_t>(BmpMinDecodeBudget, available * BmpMaxExpansion)) {
            aborting.set();
            return;
        }

        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(mono ? pf1bit : pf24bit);
        Bitmap->SetSize(int(w), int(h));
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));

        const int W = int(w), H = int(h);
        // Samples above 8 bits are two bytes, most significant first.
        const int sampleBytes = maximum > 255 ? 2 : 1;
        const int channels = kind == 6 ? 3 : 1;
        const int64_t rawRow = kind == 4 ? (w + 7) / 8 : w * channels * sampleBytes;
        std::vector<uint8_t> raw(kind >= 4 ? size_t(rawRow) : 0);
        bool ended = false;
        auto sample = [&](const uint8_t* p) -> int64_t {
            return sampleBytes == 2 ? (int64_t(p[0]) << 8) | p[1] : p[0];
        };
        for (int r = 0; r < H && !ended; ++r) {
            if (aborting.get()) break;
            uint8_t* line = Bitmap->ScanLine(r);
            switch (kind) {
                case 1:
                    for (int x = 0; x < W;) {
                        const int c = src.Get();
                        if (c < 0) {
                            ended = true;
                            break;
                        }
                        if (c == '0') line[x >> 3] |= uint8_t(0x80 >> (x & 7));
                        if (c == '0' || c == '1') ++x;
                    }
                    break;
                case 2:
                case 3:
                    for (int x = 0; x < W && !ended; ++x) {
                        uint8_t v[3] = {0, 0, 0};
                        for (int c = 0; c < (kind == 3 ? 3 : 1); ++c) {
                            do ReadPnmToken(src, tok);
                            while (!tok.empty() && tok[0] == '#');
                            if (tok.empty()) {
                                ended = true;
                                break;
                            }
                            v[c] = PnmScale(std::max<int64_t>(PnmNumber(tok), 0), maximum);
                        }
                        if (ended) break;
                        if (kind == 2)
                            PutColour(line, x, TRGB{v[0], v[0], v[0]});
                        else
                            PutColour(line, x, TRGB{v[2], v[1], v[0]});
                    }
                    break;
                default: {
                    const int64_t got = src.Read(raw.data(), rawRow);
                    if (got < rawRow) ended = true;
                    if (kind == 4) {
                        std::memcpy(line, raw.data(), size_t(got));
                        break;
                    }
                    const int n = int(got / (channels * sampleBytes));
                    for (int x = 0; x < n; ++x) {
                        const uint8_t* p = raw.data() + int64_t(x) * channels * sampleBytes;
                        if (kind == 5) {
                            const int64_t v = sample(p);
                            const uint8_t g = maximum < 255 || sampleBytes == 2 ? PnmScale(v, maximum)
                                                                                : uint8_t(v);
                            PutColour(line, x, TRGB{g, g, g});
                        } else if (sampleBytes == 1) {
                            // 8-bit pixmaps are taken as they are, whatever the maximum.
                            PutColour(line, x, TRGB{p[2], p[1], p[0]});
                        } else {
                            PutColour(line, x, TRGB{PnmScale(sample(p + 4), maximum),
                                                    PnmScale(sample(p + 2), maximum),
                                                    PnmScale(sample(p), maximum)});
                        }
                    }
                    break;
                }
            }
            Report(Progress, double(r + 1) * 100.0 / H);
        }
        if (kind == 4) {
            uint8_t* p = Bitmap->PixelBlock();
            const int64_t n = Bitmap->ImageSize();
            for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
        }
    } catch (const std::exception&) {
        aborting.set();
    }
}

void PnmEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        if (w <= 0 || h <= 0) {
            aborting.set();
            return;
        }
        TBitmap* src = Bitmap;
        std::unique_ptr<TBitmap> owned;
        if (src->PixelFormat() != pf1bit && src->PixelFormat() != pf24bit) {
            owned = std::make_unique<TBitmap>();
            owned->Assign(src);
            owned->SetPixelFormat(pf24bit);
            src = owned.get();
        }
        std::string comments;
        for (int i = 0; i < IOParams.PnmComments->Count(); ++i) {
            // A line break inside a comment would end it and put its rest into the header.
            std::string c = IOParams.PnmComments->Strings(i);
            std::replace(c.begin(), c.end(), '\n', ' ');
            std::replace(c.begin(), c.end(), '\r', ' ');
            comments += "\n# " + c + "\n";
        }
        const bool p4 = (IOParams.BitsPerSample == 1 && IOParams.SamplesPerPixel == 1) ||
                        src->PixelFormat() == pf1bit;
        const bool p5 = !p4 && IOParams.BitsPerSample == 8 && IOParams.SamplesPerPixel == 1;
        if (p4 && src->PixelFormat() == pf24bit) {
            // Two colours map straight to black and white (the darker first), others are
            // dithered; the caller's picture stays as it is.
            TRGB c0, c1;
            std::unique_ptr<TBitmap> two = TryConvertTo1Bit(src, c0, c1);
            if (!two) {
                two = std::make_unique<TBitmap>();
                CopyBitmap(src, two.get());
                ConvertTo1Bit(two.get(), Progress);
            }
            owned = std::move(two);
            src = owned.get();
        }
        const std::string size = std::to_string(w) + " " + std::to_string(h);
        const std::string header = p4   ? "P4 " + comments + size + "\n"
                                   : p5 ? "P5 " + comments + size + " 255\n"
                                        : "P6 " + comments + size + " 255\n";
        bool& err = aborting.ref();
        StreamWriteChecked(Stream, err, header.data(), int64_t(header.size()));
        const int64_t outRow = p4 ? (int64_t(w) + 7) / 8 : p5 ? w : int64_t(w) * 3;
        std::vector<uint8_t> out(static_cast<size_t>(outRow));
        for (int r = 0; r < h; ++r) {
            const uint8_t* line = src->ScanLine(r);
            if (p4) {
                for (int64_t i = 0; i < outRow; ++i) out[size_t(i)] = uint8_t(~line[i]);
            } else {
                for (int x = 0; x < w; ++x) {
                    const uint8_t* p = line + int64_t(x) * 3;
                    if (p5) {
                        out[size_t(x)] = uint8_t((p[2] * 21 + p[1] * 71 + p[0] * 7) / 100);
                    } else {
                        out[size_t(x) * 3] = p[2];
                        out[size_t(x) * 3 + 1] = p[1];
                        out[size_t(x) * 3 + 2] = p[0];
                    }
                }
            }
            StreamWriteChecked(Stream, err, out.data(), outRow);
            Report(Progress, double(r + 1) * 100.0 / h);
        }
    } catch (const std::exception&) {
        aborting.set();
    }
}

// =============================================================================================
// ICO and CUR readers
// =============================================================================================

namespace {

// Both readers in one: a cursor differs in the index and background it takes, in where its
// size and bit count come from, and in the depths it fills.
void IconDecode(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                TProgressRec& Progress, bool ParamsOnly, bool Cursor) {
    AbortFlag aborting(Progress);
    try {
        const int64_t start = Stream->Position();
        const int64_t streamSize = Stream->Size();
        uint8_t fh[6];
        if (!ReadExact(Stream, fh, 6)) {
            aborting.set();
            return;
        }
        if (!Cursor && fh[0] == 'B' && fh[1] == 'M') {
            Stream->Seek(start, soBeginning);
            BmpDecodeStream(Stream, Bitmap, streamSize - start, ParamsOnly, Progress, IOParams);
            return;
        }
        const int count = GetLE16(fh + 4);
        const int index = Cursor ? IOParams.CurImageIndex : IOParams.IcoImageIndex;
        if (index < 0 || index >= count) return;

        uint8_t entry[16];
        for (int i = 0; i <= index; ++i) {
            if (!ReadExact(Stream, entry, 16)) {
                aborting.set();
                return;
            }
        }
        const int entryWidth = entry[0], entryHeight = entry[1], colourCount = entry[2];
        const int entryWord1 = GetLE16(entry + 4), entryWord2 = GetLE16(entry + 6);
        const int64_t dataAt = start + int64_t(GetLE32(entry + 12));
        uint8_t hd[40];
        if (dataAt + 40 > streamSize) {
            aborting.set();
            return;
        }
        Stream->Seek(dataAt, soBeginning);
        if (!ReadExact(Stream, hd, 40) || std::memcmp(hd, "\x89PNG", 4) == 0) {
            // PNG-compressed entries are not read.
            aborting.set();
            return;
        }
        const int32_t headerWidth = int32_t(GetLE32(hd + 4)), headerHeight = int32_t(GetLE32(hd + 8));
        const int32_t xppm = int32_t(GetLE32(hd + 24)), yppm = int32_t(GetLE32(hd + 28));

        int bits = GetLE16(hd + 14);
        if (bits == 0 && !Cursor) bits = entryWord2;
        if (bits == 0) {
            if (colourCount == 0) {
                aborting.set();
                return;
            }
            while ((1 << bits) < colourCount) ++bits;
        }
        const int paletteSize = colourCount != 0 ? (colourCount == 255 ? 256 : colourCount)
                                : bits <= 8 ? 1 << bits : 0;

        int64_t w = entryWidth != 0 ? entryWidth : headerWidth;
        int64_t h = entryHeight != 0 ? entryHeight : headerHeight / 2;
        if (!Cursor && entryWidth != 0 && headerWidth != 0 && entryWidth != headerWidth &&
            headerWidth < 2048 && headerHeight < 2048) {
            w = headerWidth;
            h = headerHeight / 2;
        }
        if (w <= 0 || h <= 0 || w * h > BmpMaxPixels || w * 32 > (int64_t(1) << 31) - 32) {
            aborting.set();
            return;
        }

        IOParams.DpiX = DpiFromPixelsPerMetre(xppm, ScreenPixelsPerInch());
        IOParams.DpiY = DpiFromPixelsPerMetre(yppm, ScreenPixelsPerInch());
        IOParams.BitsPerSample = !Cursor && bits > 8 ? 8 : bits;
        IOParams.SamplesPerPixel = !Cursor && bits > 8 ? 3 : 1;
        if (Cursor) {
            IOParams.CurHotSpotX = entryWord1;
            IOParams.CurHotSpotY = entryWord2;
        }
        // Indexes beyond the palette come out black.
        TRGB palette[256] = {};
        IOParams.FreePalette();
        if (paletteSize > 0 && (bits <= 8 || Cursor)) {
            uint8_t raw[256 * 4];
            if (!ReadExact(Stream, raw, int64_t(paletteSize) * 4)) {
                aborting.set();
                return;
            }
            TRGB* pal = IOParams.AllocPalette(paletteSize);
            for (int i = 0; i < paletteSize; ++i) palette[i] = pal[i] = TRGB{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
            IOParams.PaletteCount = paletteSize;
        }
        IOParams.Width = int(w);
        IOParams.Height = int(h);
        if (ParamsOnly) return;

        const int W = int(w), H = int(h);
        const int64_t available = streamSize - Stream->Position();
        const int64_t bitmapBytes = (w * 24 + 31) / 32 * 4 * h;
        if (available <= 0 ||
            bitmapBytes > std::max<int64_t>(BmpMinDecodeBudget, available * BmpMaxExpansion)) {
            aborting.set();
            return;
        }
        // 1-bit data is copied row by row, so only it may go into a 1-bit bitmap.
        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(bits == 1 ? pf1bit : pf24bit);
        Bitmap->SetSize(W, H);
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));
        if (Mask) {
            Mask->AllocBits(W, H, 8);
            Mask->Fill(255);
            Mask->Full = false;
        }
        const bool filled = bits == 1 || bits == 4 || bits == 8 || (!Cursor && (bits == 24 || bits == 32));
        if (!filled) return;

        // The XOR image and the AND mask; what the stream lacks stays zero (opaque).
        const int64_t xorRow = (w * bits + 31) / 32 * 4, andRow = (w + 31) / 32 * 4;
        std::vector<uint8_t> data(size_t(xorRow * h + andRow * h), 0);
        const int64_t got = Stream->Read(data.data(), int64_t(data.size()));
        if (got <= 0) {
            aborting.set();
            return;
        }
        const uint8_t* xorData = data.data();
        const uint8_t* andData = data.data() + xorRow * h;
        const TRGB bg = Cursor ? IOParams.CurBackground : IOParams.IcoBackground;
        const bool whiteBg = bg == TRGB{255, 255, 255};
        // 32-bit icons of the older kind leave alpha at 0 and mark transparency with the AND
        // mask only.
        bool anyAlpha = false;
        if (bits == 32)
            for (int64_t i = 3; i < xorRow * h && !anyAlpha; i += 4) anyAlpha = xorData[i] != 0;
        for (int k = 0; k < H; ++k) {
            const int y = H - 1 - k;
            uint8_t* line = Bitmap->ScanLine(y);
            uint8_t* mrow = Mask ? Mask->ScanLine(y) : nullptr;
            const uint8_t* xr = xorData + xorRow * k;
            const uint8_t* ar = andData + andRow * k;
            if (bits == 1) std::memcpy(line, xr, size_t((W + 7) / 8));
            if (bits == 24) std::memcpy(line, xr, size_t(W) * 3);
            for (int x = 0; x < W; ++x) {
                const bool transparent = ar[x >> 3] & (0x80 >> (x & 7));
                switch (bits) {
                    case 1:
                        if (transparent) {
                            const uint8_t bit = uint8_t(0x80 >> (x & 7));
                            const bool set = xr[x >> 3] & bit;
                            if (set != whiteBg) line[x >> 3] |= bit;
                            else line[x >> 3] &= uint8_t(~bit);
                            if (mrow) mrow[x] = 0;
                        }
                        break;
                    case 4:
                    case 8: {
                        const int i = bits == 8 ? xr[x] : (x & 1) ? xr[x >> 1] & 0x0F : xr[x >> 1] >> 4;
                        PutColour(line, x, transparent ? bg : palette[i]);
                        if (transparent && mrow) mrow[x] = 0;
                        break;
                    }
                    case 32: {
                        // Alpha goes into the mask; the AND mask also marks transparency.
                        const uint8_t* p = xr + int64_t(x) * 4;
                        const uint8_t alpha = transparent ? 0 : anyAlpha ? p[3] : 255;
                        PutColour(line, x, alpha == 0 ? bg : TRGB{p[0], p[1], p[2]});
                        if (mrow) mrow[x] = alpha;
                        break;
                    }
                    default: break;   // 24 bits: the AND mask is not applied
                }
            }
        }
    } catch (const std::exception&) {
        aborting.set();
    }
}

}  // namespace

void IcoDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly) {
    IconDecode(Stream, Bitmap, IOParams, Mask, Progress, ParamsOnly, false);
}

void CurDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly) {
    IconDecode(Stream, Bitmap, IOParams, Mask, Progress, ParamsOnly, true);
}
