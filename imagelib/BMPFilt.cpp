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

#include "LuxIOParams.h"
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

uint32_t PixelsPerMetreFromDpi(int dpi) {
    if (dpi <= 0) return 0;
    return uint32_t(std::nearbyint(double(dpi) / 2.54 * 100.0));
}

// One channel of a bit-field pixel: its bits moved down and widened or cut to 8 bits, so the
// largest value of the field is 255.
struct MaskChannel {
    uint32_t mask = 0;
    int low = 0, width = 0;
    explicit MaskChannel(uint32_t m) : mask(m) {
        if (mask == 0) return;
        low = std::countr_zero(mask);
        width = MaskBitWidth(mask);
    }
    uint8_t Extract(uint32_t v) const {
        if (mask == 0) return 0;
        const uint32_t field = (v & mask) >> low;
        return ExpandBits(width >= 32 ? field : field & ((1u << width) - 1), width);
    }
};

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
        if (x < w) PutRGB(line, int(x), Palette[index & 0xFF]);
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
        p.DpiX = BmpDpiFromPixelsPerMetre(hd.xppm);
        p.DpiY = BmpDpiFromPixelsPerMetre(hd.yppm);
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
    // The file's bit fields (a 16-bit pixel holds only the low 16 bits of a mask), else those
    // of the depth: 5-5-5 for 16 bits, a byte each for 32.
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (hd.compression == 3) {
        for (int c = 0; c < 3; ++c) masks[c] = hd.bits == 16 ? hd.masks[c] & 0xFFFF : hd.masks[c];
    } else if (hd.bits == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]);
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
                        PutRGB(line, x, hd.palette[(x & 1) ? b & 0x0F : b >> 4]);
                    }
                    break;
                }
                case 8: {
                    const int n = int(std::min<int64_t>(w, got));
                    for (int x = 0; x < n; ++x) PutRGB(line, x, hd.palette[src[x]]);
                    break;
                }
                case 16:
                case 32: {
                    const int bytes = hd.bits / 8;
                    const int n = int(std::min<int64_t>(w, got / bytes));
                    for (int x = 0; x < n; ++x) {
                        const uint8_t* p = src + int64_t(x) * bytes;
                        const uint32_t v = bytes == 2 ? GetLE16(p) : GetLE32(p);
                        PutRGB(line, x, TRGB{blue.Extract(v), green.Extract(v), red.Extract(v)});
                    }
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
        if (!WithinDecodeBudget(bitmapBytes, available)) {
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
        TLXWriterSource source(Bitmap);
        TBitmap* src = source.Bitmap();
        auto expandTo24 = [&] {
            source.To24Bit(Progress);
            src = source.Bitmap();
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
            TRGB c0, c1;
            source.ToOneBit(Progress, &c0, &c1);
            src = source.Bitmap();
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

int BmpDpiFromPixelsPerMetre(int32_t PixelsPerMetre) {
    // Ties to even; a zero or negative resolution means "none given".
    const double dpi = std::nearbyint(double(PixelsPerMetre) / 100.0 * 2.54);
    return dpi >= 1 ? int(dpi) : ScreenPixelsPerInch();
}

// ---- The codec table's entry ----

namespace {

void BmpDecodeCall(TLXCodecCall& c) {
    BmpDecodeStream(c.Stream, c.Bitmap, c.Length, c.ParamsOnly, *c.Progress, *c.Params);
}

void BmpEncodeCall(TLXCodecCall& c) { BmpEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress); }

}  // namespace

bool BmpProbe(const TLXProbeInput& In) {
    return In.Size > 14 && In.HeadLength >= 2 && In.Head[0] == 'B' && In.Head[1] == 'M';
}

// Stream loads pass no size limit: the file header's file size bounds the data then.
const TLXCodec BmpCodec = {lxftBMP, "Windows Bitmap", "BMP;DIB;RLE", BmpDecodeCall, BmpEncodeCall,
                           nullptr, lxcoFileDpi};
