// PCX reader and writer. The header's sizes are checked against the data before anything is
// allocated; a bad file sets the abort flag and the bitmap stays as it was.
#include "PCXFilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "LuxIOParams.h"
#include "Win32.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kPalette256Size = 768;

void Put16(uint8_t* p, int v) {
    const uint32_t u = uint32_t(std::clamp(v, 0, 0xFFFF));
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
}

using AbortFlag = TLXAbortFlag;

// Progress before row r of h: Trunc(r * 100 / h).
bool BeforeRow(TProgressRec& p, const AbortFlag& aborting, int r, double step) {
    p.per = step;
    p.val = r;
    if (p.fOnProgress) p.fOnProgress(p.Sender, int(r * step));
    return !aborting.get();
}

// Line decoder over the image data; a run that passes the end of a line goes on in the next.
struct LineDecoder {
    const uint8_t* data;
    int64_t size;
    bool rle;
    int64_t pos = 0;
    int runLeft = 0;
    uint8_t runValue = 0;

    // Fills Count bytes; what the data no longer holds becomes 0.
    void Decode(uint8_t* line, int count) {
        int i = 0;
        if (!rle) {
            const int64_t n = std::clamp<int64_t>(size - pos, 0, count);
            if (n > 0) std::memcpy(line, data + pos, size_t(n));
            pos += n;
            i = int(n);
        } else {
            while (i < count) {
                if (runLeft > 0) {
                    const int n = std::min(runLeft, count - i);
                    std::memset(line + i, runValue, size_t(n));
                    i += n;
                    runLeft -= n;
                    continue;
                }
                if (pos >= size) break;
                const uint8_t b = data[pos++];
                if (b >= 0xC0) {
                    if (pos >= size) break;
                    runValue = data[pos++];
                    runLeft = b & 0x3F;
                } else {
                    line[i++] = b;
                }
            }
        }
        if (i < count) std::memset(line + i, 0, size_t(count - i));
    }
    // Nothing left: every further line is zeros.
    bool Exhausted() const { return pos >= size && runLeft == 0; }
};

// Bytes one plane of a row must hold for the supported layouts, 0 for the others.
int64_t NeededBytes(int bits, int planes, int64_t width) {
    if (planes == 1 && bits == 8) return width;
    if (planes == 1 && bits == 4) return (width + 1) / 2;
    if (planes == 1 && bits == 1) return (width + 7) / 8;
    if (planes == 3 && bits == 8) return width;
    if (planes == 4 && bits == 1) return (width + 7) / 8;
    return 0;
}

}  // namespace

void PcxDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress, int64_t DataLength) {
    AbortFlag aborting(Progress);
    try {
        const int64_t P = Stream->Position();
        // A longer length than the stream has reads what is there.
        DataLength = std::min<int64_t>(DataLength, Stream->Size() - P);
        uint8_t hd[kHeaderSize];
        if (DataLength < kHeaderSize || Stream->Read(hd, kHeaderSize) != kHeaderSize) {
            aborting.set();
            return;
        }
        const int manufacturer = hd[0], version = hd[1], encoding = hd[2], bits = hd[3];
        const int xmin = GetLE16(hd + 4), ymin = GetLE16(hd + 6), xmax = GetLE16(hd + 8),
                  ymax = GetLE16(hd + 10);
        const int planes = hd[65];
        const int bpl = GetLE16(hd + 66);
        if (manufacturer != 10 || bits > 8 || (encoding != 0 && encoding != 1)) {
            aborting.set();
            return;
        }
        // Limits the header itself must meet before anything is read or allocated.
        const int64_t width = int64_t(xmax) - xmin + 1, height = int64_t(ymax) - ymin + 1;
        if (width < 1 || height < 1 || planes < 1 || bpl < 1) {
            aborting.set();
            return;
        }
        int dpiX = GetLE16(hd + 12), dpiY = GetLE16(hd + 14);
        if (dpiX == 0 || dpiY == 0) dpiX = dpiY = ScreenPixelsPerInch();

        TRGB pal16[16];
        for (int i = 0; i < 16; ++i)
            pal16[i] = TRGB{hd[16 + 3 * i + 2], hd[16 + 3 * i + 1], hd[16 + 3 * i]};
        TRGB pal256[256] = {};
        const bool has256 = planes == 1 && bits > 4;
        if (has256) {
            if (DataLength < kHeaderSize + kPalette256Size) {
                aborting.set();
                return;
            }
            uint8_t raw[kPalette256Size];
            Stream->SetPosition(P + DataLength - kPalette256Size);
            if (Stream->Read(raw, kPalette256Size) != kPalette256Size) {
                aborting.set();
                return;
            }
            for (int i = 0; i < 256; ++i) pal256[i] = TRGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
            Stream->SetPosition(P + kHeaderSize);
        }

        IOParams.BitsPerSample = bits;
        IOParams.SamplesPerPixel = planes;
        IOParams.Width = int(width);
        IOParams.Height = int(height);
        IOParams.DpiX = dpiX;
        IOParams.DpiY = dpiY;
        // PcxCompressed is a write option: reading a file leaves it as the caller set it.
        IOParams.PcxVersion = version;
        IOParams.FreePalette();
        if (bits == 8 && planes == 1) {
            TRGB* p = IOParams.AllocPalette(256);
            std::copy(pal256, pal256 + 256, p);
        } else if (bits == 1 && planes == 4) {
            TRGB* p = IOParams.AllocPalette(16);
            std::copy(pal16, pal16 + 16, p);
            IOParams.BitsPerSample = 4;
            IOParams.SamplesPerPixel = 1;
        } else if (bits < 8 && bits > 0 && planes == 1) {
            const int n = std::min(16, 1 << bits);
            TRGB* p = IOParams.AllocPalette(n);
            std::copy(pal16, pal16 + n, p);
        }
        if (ParamsOnly) return;

        const int64_t need = NeededBytes(bits, planes, width);
        const bool oneBit = bits == 1 && planes == 1;
        const int64_t dataSize = DataLength - kHeaderSize;
        const int64_t bitmapBytes = (width * (oneBit ? 1 : 24) + 31) / 32 * 4 * height;
        if (need == 0 || bpl < need || width * height > LXMaxPixels ||
            width * 24 > (int64_t(1) << 31) - 32 ||
            !WithinDecodeBudget(bitmapBytes, dataSize)) {
            aborting.set();
            return;
        }
        std::vector<uint8_t> data(size_t(std::max<int64_t>(dataSize, 1)));
        const int64_t got = dataSize > 0 ? Stream->Read(data.data(), dataSize) : 0;
        if (got <= 0) {
            aborting.set();
            return;
        }

        const int w = int(width), h = int(height);
        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(oneBit ? pf1bit : pf24bit);
        Bitmap->SetSize(w, h);
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));

        LineDecoder dec{data.data(), got, encoding == 1};
        std::vector<uint8_t> line(size_t(bpl) * 4);
        uint8_t* l0 = line.data();
        const double step = 100.0 / h;
        // Rows past the end of the data are all alike (zero indexes): the first is decoded,
        // the others copied, so a short file claiming a big picture costs no decoding.
        int zeroRow = -1;
        const size_t rowBytes = oneBit ? size_t(need) : size_t(w) * 3;
        for (int r = 0; r < h; ++r) {
            if (!BeforeRow(Progress, aborting, r, step)) break;
            uint8_t* out = Bitmap->ScanLine(r);
            if (dec.Exhausted()) {
                if (zeroRow >= 0) {
                    std::memcpy(out, Bitmap->ScanLine(zeroRow), rowBytes);
                    continue;
                }
                zeroRow = r;
            }
            if (planes == 1 && bits == 8) {
                dec.Decode(l0, bpl);
                for (int x = 0; x < w; ++x) PutRGB(out, x, pal256[l0[x]]);
            } else if (planes == 1 && bits == 4) {
                dec.Decode(l0, bpl);
                for (int x = 0; x < w; ++x) {
                    const uint8_t b = l0[x >> 1];
                    PutRGB(out, x, pal16[(x & 1) ? b & 0x0F : b >> 4]);
                }
            } else if (oneBit) {
                dec.Decode(l0, bpl);
                std::memcpy(out, l0, size_t(need));
            } else if (planes == 3) {
                for (int k = 0; k < 3; ++k) dec.Decode(l0 + size_t(k) * bpl, bpl);
                for (int x = 0; x < w; ++x)
                    PutRGB(out, x, TRGB{l0[2 * size_t(bpl) + x], l0[size_t(bpl) + x], l0[x]});
            } else {
                for (int k = 0; k < 4; ++k) dec.Decode(l0 + size_t(k) * bpl, bpl);
                for (int x = 0; x < w; ++x) {
                    int index = 0;
                    for (int k = 0; k < 4; ++k)
                        if (l0[size_t(k) * bpl + size_t(x >> 3)] & (0x80 >> (x & 7))) index |= 1 << k;
                    PutRGB(out, x, pal16[index]);
                }
            }
        }
    } catch (const std::exception&) {
        // Out of memory or a stream error: the file is not read.
        aborting.set();
    }
}

int PcxEncodeLine(uint8_t* Dest, const uint8_t* Source, int Count, int Step, int FirstIndex) {
    int o = 0;
    int i = 0;
    auto at = [&](int k) { return Source[FirstIndex + int64_t(k) * Step]; };
    while (i < Count) {
        const uint8_t v = at(i);
        int n = 1;
        while (i + n < Count && n < 63 && at(i + n) == v) ++n;
        if (n > 1 || v >= 0xC0) {
            Dest[o++] = uint8_t(0xC0 + n);
            Dest[o++] = v;
        } else {
            Dest[o++] = v;
        }
        i += n;
    }
    if (Count & 1) Dest[o++] = 0;
    return o;
}

void PcxEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        // The header holds Xmax and Ymax in 16 bits.
        if (w <= 0 || h <= 0 || w > 0x10000 || h > 0x10000) {
            aborting.set();
            return;
        }
        TLXWriterSource source(Bitmap);

        uint8_t hd[kHeaderSize] = {};
        int depth;
        // A pf1bit picture's set bits are white; an all-black header palette would make
        // readers that honour it show a black picture.
        TRGB c0, c1;
        if (IOParams.BitsPerSample == 1) {
            depth = 1;
            source.ToOneBit(Progress, &c0, &c1);
        } else {
            depth = IOParams.BitsPerSample * IOParams.SamplesPerPixel;
            // Depths the format has no layout for are written as 24 bits.
            if (depth != 4 && depth != 8) depth = 24;
            source.To24Bit(Progress);
        }
        TBitmap* src = source.Bitmap();

        std::unique_ptr<TLXQuantizer> quantizer;
        TRGB palette[256] = {};
        int bpl;
        hd[0] = 10;
        hd[1] = uint8_t(IOParams.PcxVersion);
        hd[2] = IOParams.PcxCompressed ? 1 : 0;
        Put16(hd + 8, w - 1);
        Put16(hd + 10, h - 1);
        Put16(hd + 12, IOParams.DpiX);
        Put16(hd + 14, IOParams.DpiY);
        Put16(hd + 68, 1);
        auto putPal16 = [&](int i, TRGB c) {
            hd[16 + 3 * i] = c.r;
            hd[16 + 3 * i + 1] = c.g;
            hd[16 + 3 * i + 2] = c.b;
        };
        switch (depth) {
            case 1:
                hd[3] = 1;
                hd[65] = 1;
                bpl = (w + 7) / 8;
                putPal16(0, c0);
                putPal16(1, c1);
                break;
            case 4:
                hd[3] = 4;
                hd[65] = 1;
                bpl = (w + 1) / 2;
                quantizer = std::make_unique<TLXQuantizer>(src, std::span<TRGB>(palette, 16), 16);
                for (int i = 0; i < 16; ++i) putPal16(i, palette[i]);
                break;
            case 8:
                hd[3] = 8;
                hd[65] = 1;
                bpl = w;
                quantizer = std::make_unique<TLXQuantizer>(src, std::span<TRGB>(palette, 256), 256);
                break;
            default:
                hd[3] = 8;
                hd[65] = 3;
                bpl = w;
                Put16(hd + 68, 0);
                break;
        }
        const int count = bpl;   // real values of a plane line; the pad byte makes it even
        bpl += bpl & 1;
        Put16(hd + 66, bpl);
        bool& err = aborting.ref();
        StreamWriteChecked(Stream, err, hd, kHeaderSize);
        if (aborting.get()) return;

        const bool rle = IOParams.PcxCompressed;
        std::vector<uint8_t> values(size_t(w) * 3 + 2, 0);
        std::vector<uint8_t> plain(size_t(bpl), 0);
        std::vector<uint8_t> coded(size_t(bpl) * 2 + 2);
        auto writeLine = [&](const uint8_t* source, int step, int first) {
            if (rle) {
                const int n = PcxEncodeLine(coded.data(), source, count, step, first);
                StreamWriteChecked(Stream, err, coded.data(), n);
            } else {
                std::fill(plain.begin(), plain.end(), 0);
                for (int k = 0; k < count; ++k) plain[size_t(k)] = source[first + int64_t(k) * step];
                StreamWriteChecked(Stream, err, plain.data(), bpl);
            }
        };
        const double step = 100.0 / h;
        for (int r = 0; r < h; ++r) {
            if (!BeforeRow(Progress, aborting, r, step)) break;
            const uint8_t* row = src->ScanLine(r);
            switch (depth) {
                case 1: writeLine(row, 1, 0); break;
                case 4:
                    ConvertPixelRow(row, values.data(), 24, 4, w, {}, quantizer.get());
                    writeLine(values.data(), 1, 0);
                    break;
                case 8:
                    ConvertPixelRow(row, values.data(), 24, 8, w, {}, quantizer.get());
                    writeLine(values.data(), 1, 0);
                    break;
                default:
                    writeLine(row, 3, 2);
                    writeLine(row, 3, 1);
                    writeLine(row, 3, 0);
                    break;
            }
            if (aborting.get()) break;
        }
        if (depth == 8 && !aborting.get()) {
            uint8_t raw[1 + kPalette256Size];
            raw[0] = 12;
            for (int i = 0; i < 256; ++i) {
                raw[1 + 3 * i] = palette[i].r;
                raw[2 + 3 * i] = palette[i].g;
                raw[3 + 3 * i] = palette[i].b;
            }
            StreamWriteChecked(Stream, err, raw, sizeof raw);
        }
    } catch (const std::exception&) {
        // Out of memory or a stream error: the image is not written.
        aborting.set();
    }
}

// ---- The codec table's entry ----

namespace {

void PcxDecodeCall(TLXCodecCall& c) {
    // Without a file size or a stream header the image may use the rest of the stream.
    const int64_t length = c.Length > 0 ? c.Length : std::max<int64_t>(0, c.Stream->Size() - c.Stream->Position());
    PcxDecodeStream(c.Stream, c.Bitmap, *c.Params, c.ParamsOnly, *c.Progress, length);
}

void PcxEncodeCall(TLXCodecCall& c) { PcxEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress); }

}  // namespace

bool PcxProbeStreamHeader(const TLXProbeInput& In) { return In.Size > 12 && In.Tag == "PCX2"; }

bool PcxProbeOldHeader(const TLXProbeInput& In) {
    return In.Size > 4 && In.HeadLength >= 4 && std::memcmp(In.Head, "PCX\0", 4) == 0;
}

bool PcxProbe(const TLXProbeInput& In) {
    return In.Size > 128 && In.HeadLength >= 2 && In.Head[0] == 0x0A && In.Head[1] <= 5;
}

// A stream header is expected when StreamHeaders is on; a save that fails leaves its zeroed
// placeholder.
const TLXCodec PcxCodec = {lxftPCX, "PaintBrush", "PCX", PcxDecodeCall, PcxEncodeCall, "PCX2",
                           lxcoFileDpi | lxcoStreamDpi | lxcoOldHeader | lxcoKeepPlaceholder};
