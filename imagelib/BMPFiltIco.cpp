// ICO and CUR readers. Every entry, offset, size and palette of the file is checked against
// the stream before use.
#include "BMPFiltIco.h"

#include <cstring>
#include <vector>

#include "BMPFilt.h"
#include "LuxIOParams.h"
#include "Win32.h"
#include "lxutils.h"

namespace {

// Both readers in one: a cursor differs in the index and background it takes, in where its
// size and bit count come from, and in the depths it fills.
void IconDecode(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                TProgressRec& Progress, bool ParamsOnly, bool Cursor) {
    TLXAbortFlag aborting(Progress);
    try {
        const int64_t start = Stream->Position();
        const int64_t streamSize = Stream->Size();
        uint8_t fh[6];
        if (Stream->Read(fh, 6) != 6) {
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
        if (index < 0 || index >= count) {
            // Nothing to decode: only a params-only read may end without the abort flag.
            if (!ParamsOnly) aborting.set();
            return;
        }

        uint8_t entry[16];
        for (int i = 0; i <= index; ++i) {
            if (Stream->Read(entry, 16) != 16) {
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
        if (Stream->Read(hd, 40) != 40 || std::memcmp(hd, "\x89PNG", 4) == 0) {
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
        if (w <= 0 || h <= 0 || w * h > LXMaxPixels || w * 32 > (int64_t(1) << 31) - 32) {
            aborting.set();
            return;
        }

        IOParams.DpiX = BmpDpiFromPixelsPerMetre(xppm);
        IOParams.DpiY = BmpDpiFromPixelsPerMetre(yppm);
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
            if (Stream->Read(raw, int64_t(paletteSize) * 4) != int64_t(paletteSize) * 4) {
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
        if (available <= 0 || !WithinDecodeBudget(bitmapBytes, available)) {
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
                        PutRGB(line, x, transparent ? bg : palette[i]);
                        if (transparent && mrow) mrow[x] = 0;
                        break;
                    }
                    case 32: {
                        // Alpha goes into the mask; the AND mask also marks transparency.
                        const uint8_t* p = xr + int64_t(x) * 4;
                        const uint8_t alpha = transparent ? 0 : anyAlpha ? p[3] : 255;
                        PutRGB(line, x, alpha == 0 ? bg : TRGB{p[0], p[1], p[2]});
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


// ---- Detection ----

namespace {

bool ProbeIconDirectory(TStream* Stream, int Type) {
    const int64_t start = Stream->Position();
    bool ok = false;
    try {
        if (Stream->Size() > 22) {
            uint8_t head[6];
            if (Stream->Read(head, 6) == 6 && GetLE16(head) == 0 && GetLE16(head + 2) == Type &&
                GetLE16(head + 4) != 0) {
                const int count = GetLE16(head + 4);
                std::vector<uint8_t> dir(size_t(count) * 16);
                if (Stream->Read(dir.data(), int64_t(dir.size())) == int64_t(dir.size())) {
                    ok = true;
                    for (int i = 0; i < count && ok; ++i) {
                        const uint8_t* e = dir.data() + size_t(i) * 16;
                        // Offsets count from the start of the icon, which need not be the
                        // start of the stream.
                        const int64_t reached = 6 + int64_t(i + 1) * 16;
                        ok = e[3] == 0 && GetLE32(e + 8) != 0 && int64_t(GetLE32(e + 12)) >= reached;
                    }
                }
            }
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

void IcoDecodeCall(TLXCodecCall& c) {
    IcoDecodeStream(c.Stream, c.Bitmap, *c.Params, c.Mask, *c.Progress, c.ParamsOnly);
}

void CurDecodeCall(TLXCodecCall& c) {
    CurDecodeStream(c.Stream, c.Bitmap, *c.Params, c.Mask, *c.Progress, c.ParamsOnly);
}

}  // namespace

bool ProbeIcoStream(TStream* Stream) { return ProbeIconDirectory(Stream, 1); }
bool ProbeCurStream(TStream* Stream) { return ProbeIconDirectory(Stream, 2); }
bool IcoProbe(const TLXProbeInput& In) { return ProbeIcoStream(In.Stream); }
bool CurProbe(const TLXProbeInput& In) { return ProbeCurStream(In.Stream); }

// Read only: there is no writer of icons and cursors.
const TLXCodec IcoCodec = {lxftICO, "Windows Icon", "ICO", IcoDecodeCall, nullptr, nullptr,
                           lxcoFillsMask | lxcoFileDpi | lxcoSharedLayout};
const TLXCodec CurCodec = {lxftCUR, "Windows Cursor", "CUR", CurDecodeCall, nullptr, nullptr,
                           lxcoFillsMask | lxcoFileDpi | lxcoSharedLayout};
