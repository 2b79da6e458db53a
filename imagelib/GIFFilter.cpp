// GIF container. Every block length, table size and frame size is checked against the
// stream before use; the pixel data itself goes through the LZW hooks.
#include "GIFFilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "LuxIOParams.h"
#include "Win32.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

// An LZW stream decodes to at most a few thousand times its size; beyond this (or the
// minimum budget) a frame is refused before its buffer is allocated.
constexpr int64_t kMaxExpansion = 4096;
constexpr int64_t kMinDecodeBudget = int64_t(16) << 20;

void Put16(uint8_t* p, int v) {
    const uint32_t u = uint32_t(std::clamp(v, 0, 0xFFFF));
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
}

using AbortFlag = TLXAbortFlag;

void Report(TProgressRec& p, int percent) {
    p.val = percent;
    if (p.fOnProgress) p.fOnProgress(p.Sender, percent);
}

// -1 at the end of the stream.
int ReadByte(TStream* s) {
    uint8_t b;
    return s->Read(&b, 1) == 1 ? b : -1;
}

// Skips data sub-blocks up to and with the zero length, or to the end of the stream.
void SkipSubBlocks(TStream* s) {
    const int64_t size = s->Size();
    for (;;) {
        const int n = ReadByte(s);
        if (n <= 0) return;
        const int64_t to = std::min<int64_t>(s->Position() + n, size);
        s->SetPosition(to);
        if (to >= size) return;
    }
}

struct ColourTable {
    int bits = 0;        // table size n + 1: 2^bits entries
    TRGB entries[256];   // B, G, R; entries past the table stay black
};

bool ReadTable(TStream* s, int sizeField, ColourTable& t) {
    t.bits = (sizeField & 7) + 1;
    const int n = 1 << t.bits;
    uint8_t raw[768];
    if (s->Read(raw, n * 3) != n * 3) return false;
    for (int i = 0; i < n; ++i) t.entries[i] = TRGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
    return true;
}

}  // namespace

bool GifDecodeStream(TStream* Stream, TBitmap* Bitmap, int& ImageCount, TLXMask* Mask,
                     bool ParamsOnly, TProgressRec& Progress, TLXIOParams& IOParams) {
    AbortFlag aborting(Progress);
    bool reached = false;
    ImageCount = 0;
    Report(Progress, 0);
    if (aborting.get()) return false;
    try {
        int gcPacked = 0, gcDelay = 0, gcTransparent = 0;
        const int wanted = IOParams.GifImageIndex;

        uint8_t hd[13];
        if (Stream->Read(hd, 13) != 13 || std::memcmp(hd, "GIF", 3) != 0) {
            aborting.set();
            return false;
        }
        IOParams.GifVersion.assign(reinterpret_cast<const char*>(hd), 6);
        IOParams.GifScreenWidth = GetLE16(hd + 6);
        IOParams.GifScreenHeight = GetLE16(hd + 8);
        IOParams.GifAspectRatio = hd[12];
        IOParams.DpiX = ScreenPixelsPerInch();
        IOParams.DpiY = ScreenPixelsPerInch();
        IOParams.SamplesPerPixel = 1;

        ColourTable global;
        global.bits = (hd[10] & 7) + 1;
        if (hd[10] & 0x80) {
            if (!ReadTable(Stream, hd[10], global)) {
                aborting.set();
                return false;
            }
            IOParams.GifBackground = global.entries[hd[11]];
        }
        if (Stream->Position() >= Stream->Size()) {
            aborting.set();
            return false;
        }

        int count = 0;
        while (!aborting.get()) {
            const int b = ReadByte(Stream);
            if (b < 0 || b == ';') break;
            if (b == '!') {
                const int label = ReadByte(Stream);
                if (label < 0) break;
                if (label == 0xF9 && count == wanted) {
                    const int n = ReadByte(Stream);
                    if (n < 0) break;
                    uint8_t data[255] = {};
                    const int64_t got = Stream->Read(data, n);
                    if (n >= 4 && got >= 4) {
                        gcPacked = data[0];
                        gcDelay = GetLE16(data + 1);
                        gcTransparent = data[3];
                    }
                    if (got < n) break;
                }
                // The rest of the extension (for a graphic control block: its terminator).
                SkipSubBlocks(Stream);
                continue;
            }
            if (b != ',') continue;   // a stray byte between blocks is read over

            uint8_t d[9];
            if (Stream->Read(d, 9) != 9) break;
            ColourTable local;
            const bool hasLocal = d[8] & 0x80;
            if (hasLocal && !ReadTable(Stream, d[8], local)) break;
            if (count != wanted) {
                ReadByte(Stream);   // LZW minimum code size
                SkipSubBlocks(Stream);
                ++count;
                continue;
            }

            reached = true;
            Report(Progress, 30);
            if (aborting.get()) break;
            const ColourTable& table = hasLocal ? local : global;
            IOParams.GifTransparentColor = table.entries[gcTransparent];
            IOParams.GifXPos = GetLE16(d);
            IOParams.GifYPos = GetLE16(d + 2);
            const int w = GetLE16(d + 4), h = GetLE16(d + 6);
            IOParams.Width = w;
            IOParams.Height = h;
            IOParams.GifDelayTime = gcDelay;
            IOParams.GifHasTransparency = gcPacked & 1;
            IOParams.GifInterlaced = d[8] & 0x40;

            std::vector<uint8_t> indexes;
            if (ParamsOnly) {
                ReadByte(Stream);
                SkipSubBlocks(Stream);
            } else {
                TGifLZWDecompressFunc hook =
                    IOParams.GifLZWDecompress ? IOParams.GifLZWDecompress : DefGifLZWDecompress;
                const int64_t left = Stream->Size() - Stream->Position();
                const int64_t pixels = int64_t(w) * h;
                if (!hook || w < 1 || h < 1 || pixels > LXMaxPixels ||
                    pixels > std::max<int64_t>(kMinDecodeBudget, left * kMaxExpansion)) {
                    aborting.set();
                    break;
                }
                indexes.assign(size_t(pixels), 0);
                const int64_t before = Stream->Position();
                hook(Stream, h, w, indexes.data(), IOParams.GifInterlaced);
                if (Stream->Position() == before) {
                    aborting.set();
                    break;
                }
                Report(Progress, 70);
                if (aborting.get()) break;
            }

            IOParams.FreePalette();
            IOParams.BitsPerSample = table.bits;
            const int colours = 1 << table.bits;
            TRGB* pal = IOParams.AllocPalette(colours);
            std::copy(table.entries, table.entries + colours, pal);

            if (!ParamsOnly) {
                const bool mono = table.bits == 1 && table.entries[0] == TRGB{0, 0, 0} &&
                                  table.entries[1] == TRGB{255, 255, 255};
                Bitmap->SetSize(1, 1);
                Bitmap->SetPixelFormat(mono ? pf1bit : pf24bit);
                Bitmap->SetSize(w, h);
                std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));
                if (Mask) {
                    Mask->AllocBits(w, h, 8);
                    Mask->Fill(255);
                }
                const bool transparent = Mask && IOParams.GifHasTransparency;
                for (int y = 0; y < h; ++y) {
                    const uint8_t* idx = indexes.data() + size_t(y) * size_t(w);
                    uint8_t* row = Bitmap->ScanLine(y);
                    if (mono) {
                        for (int x = 0; x < w; ++x)
                            if (idx[x] & 1) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
                    } else {
                        for (int x = 0; x < w; ++x) {
                            const TRGB& c = table.entries[idx[x]];
                            row[x * 3] = c.b;
                            row[x * 3 + 1] = c.g;
                            row[x * 3 + 2] = c.r;
                        }
                    }
                    if (transparent) {
                        uint8_t* m = Mask->ScanLine(y);
                        for (int x = 0; x < w; ++x)
                            if (idx[x] == gcTransparent) m[x] = 0;
                    }
                }
            }
            ++count;
        }
        ImageCount = count;
        IOParams.GifImageCount = count;
        // A file without the wanted frame decodes nothing: only a params-only read may end
        // without the abort flag.
        if (!reached && !ParamsOnly) aborting.set();
        if (!aborting.get()) Report(Progress, 100);
    } catch (const std::exception&) {
        // Out of memory or a stream error: the file is not read.
        aborting.set();
    }
    return reached;
}

void GifEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    Report(Progress, 0);
    if (aborting.get()) return;
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        if (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) {
            aborting.set();
            return;
        }
        TLXWriterSource source(Bitmap);
        TBitmap* src = source.Bitmap();

        // A table holds 2 to 256 colours; other depths are written with 256.
        int bits = IOParams.BitsPerSample;
        if (bits < 1 || bits > 8) bits = 8;
        const int colours = 1 << bits;
        TRGB pal[256] = {};
        std::unique_ptr<TLXQuantizer> quantizer;
        std::vector<uint8_t> indexes(size_t(w) * size_t(h) + 9, 0);
        if (bits == 1) {
            pal[1] = TRGB{255, 255, 255};
            source.ToOneBit(Progress);
            src = source.Bitmap();
            for (int y = 0; y < h; ++y) {
                const uint8_t* row = src->ScanLine(y);
                for (int x = 0; x < w; ++x) indexes[size_t(y) * size_t(w) + size_t(x)] = uint8_t(GetBit(row, x));
            }
        } else {
            source.To24Bit(Progress);
            src = source.Bitmap();
            quantizer = std::make_unique<TLXQuantizer>(src, std::span<TRGB>(pal, size_t(colours)), colours);
            for (int y = 0; y < h; ++y)
                ConvertPixelRow(src->ScanLine(y), indexes.data() + size_t(y) * size_t(w), 24, 8, w, {},
                                quantizer.get());
        }
        auto indexOf = [&](const TRGB& c) {
            if (quantizer) return std::clamp(quantizer->MapColor(c), 0, colours - 1);
            return NearestPaletteIndex(pal, 2, c);
        };
        uint8_t table[768];
        for (int i = 0; i < colours; ++i) {
            table[3 * i] = pal[i].r;
            table[3 * i + 1] = pal[i].g;
            table[3 * i + 2] = pal[i].b;
        }
        Report(Progress, 30);
        if (aborting.get()) return;

        bool& err = aborting.ref();
        uint8_t hd[13] = {};
        // Anything but a six-character "GIF..." version would make the file unreadable.
        std::string version = IOParams.GifVersion;
        if (version.size() != 6 || version.compare(0, 3, "GIF") != 0) version = "GIF89a";
        std::memcpy(hd, version.data(), 6);
        Put16(hd + 6, w);
        Put16(hd + 8, h);
        hd[10] = uint8_t(128 + (bits - 1) * 17);
        hd[11] = uint8_t(indexOf(IOParams.GifBackground));
        StreamWriteChecked(Stream, err, hd, 13);
        StreamWriteChecked(Stream, err, table, colours * 3);

        uint8_t gce[8] = {'!', 0xF9, 4, 0, 0, 0, 0, 0};
        gce[3] = uint8_t((IOParams.GifHasTransparency ? 1 : 0) + 8);
        Put16(gce + 4, IOParams.GifDelayTime);
        gce[6] = uint8_t(indexOf(IOParams.GifTransparentColor));
        StreamWriteChecked(Stream, err, gce, 8);

        uint8_t d[10] = {','};
        Put16(d + 1, IOParams.GifXPos);
        Put16(d + 3, IOParams.GifYPos);
        Put16(d + 5, w);
        Put16(d + 7, h);
        d[9] = IOParams.GifInterlaced ? 64 : 0;
        StreamWriteChecked(Stream, err, d, 10);
        if (aborting.get()) return;

        Report(Progress, 70);
        if (aborting.get()) return;
        TGifLZWCompressFunc hook = IOParams.GifLZWCompress ? IOParams.GifLZWCompress : DefGifLZWCompress;
        if (!hook) {
            aborting.set();
            return;
        }
        hook(Stream, h, w, bits, indexes.data(), IOParams.GifInterlaced);
        const uint8_t trailer = ';';
        StreamWriteChecked(Stream, err, &trailer, 1);
        if (!aborting.get()) Report(Progress, 100);
    } catch (const std::exception&) {
        // Out of memory or a stream error: the image is not written.
        aborting.set();
    }
}

// ---- The codec table's entry ----

namespace {

void GifDecodeCall(TLXCodecCall& c) {
    int count = 0;
    const bool reached =
        GifDecodeStream(c.Stream, c.Bitmap, count, c.Mask, c.ParamsOnly, *c.Progress, *c.Params);
    // Colours of a frame that was never reached would be stale ones of an earlier read.
    if (reached && !c.ParamsOnly) {
        c.Background = c.Params->GifHasTransparency ? c.Params->GifTransparentColor : c.Params->GifBackground;
        c.SetsBackground = true;
    }
}

void GifEncodeCall(TLXCodecCall& c) { GifEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress); }

}  // namespace

bool GifProbe(const TLXProbeInput& In) {
    return In.Size > 13 && In.HeadLength >= 3 && std::memcmp(In.Head, "GIF", 3) == 0;
}

const TLXCodec GifCodec = {lxftGIF, "CompuServe Bitmap", "GIF", GifDecodeCall, GifEncodeCall,
                           nullptr, lxcoFillsMask | lxcoFileDpi};
