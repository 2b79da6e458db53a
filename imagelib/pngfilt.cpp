// PNG reading over libpng 1.6.
//
// libpng's error callback must not return; the Debian library is plain C, so we leave it with
// png_longjmp into PngGuarded(), a small frame with setjmp and no C++ objects that have
// destructors. The abort flag is the result; nothing is raised for bad data.
//
// Transparency is composed here rather than by png_set_background: the blend over the
// background is then the same for every bit depth, interlaced or not, and for tRNS.
#include "pngfilt.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "LuxIOParams.h"
#include "pngfiltw.h"
#include "Win32.h"
#include "lxutils.h"

namespace {

const uint8_t PngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

void PngReadError(png_structp png, png_const_charp) {
    if (auto* aborting = static_cast<bool*>(png_get_error_ptr(png))) *aborting = true;
    png_longjmp(png, 1);
}

void PngReadWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
    int64_t got = -1;
    try {
        got = stream->Read(data, int64_t(length));
    } catch (...) {
        got = -1;
    }
    // A short read must end the decode, or stale buffer bytes are parsed as file data.
    if (got != int64_t(length)) png_error(png, "Read Error");
}

template <class F>
[[gnu::noinline]] bool PngGuarded(png_structp png, F&& Step) {
    if (setjmp(png_jmpbuf(png))) return false;
    Step();
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

int DefaultDpi() { return ScreenPixelsPerInch(); }

int PpmToDpi(png_uint_32 ppm) {
    const int dpi = int(std::nearbyint(double(ppm) / 100.0 * 2.54));
    return dpi > 0 ? dpi : DefaultDpi();
}

// fg over bg with 8-bit alpha.
inline uint8_t Blend(unsigned fg, unsigned bg, unsigned a) {
    return uint8_t((fg * a + bg * (255 - a) + 127) / 255);
}

void SplitRow(const uint8_t* bgra, uint8_t* row, uint8_t* maskRow, int w, const TRGB& bg) {
    if (maskRow) {
        for (int x = 0; x < w; x++, bgra += 4) {
            row[3 * x] = bgra[0];
            row[3 * x + 1] = bgra[1];
            row[3 * x + 2] = bgra[2];
            maskRow[x] = bgra[3];
        }
    } else {
        for (int x = 0; x < w; x++, bgra += 4) {
            const unsigned a = bgra[3];
            row[3 * x] = Blend(bgra[0], bg.b, a);
            row[3 * x + 1] = Blend(bgra[1], bg.g, a);
            row[3 * x + 2] = Blend(bgra[2], bg.r, a);
        }
    }
}

// Inverts the pixel bits of a 1-bit row, leaving the padding bits clear.
void InvertBits(uint8_t* row, int w) {
    const int full = w / 8;
    for (int i = 0; i < full; i++) row[i] = uint8_t(~row[i]);
    if (w % 8) row[full] = uint8_t(~row[full] & (0xFF00 >> (w % 8)));
}

}  // namespace

bool ProbePngStream(TStream* Stream) {
    const int64_t pos = Stream->Position();
    uint8_t buf[8];
    int64_t got = 0;
    try {
        got = Stream->Read(buf, 8);
    } catch (...) {
        got = 0;
    }
    Stream->SetPosition(pos);
    return got == 8 && std::memcmp(buf, PngSignature, 8) == 0;
}

void PngDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     bool ParamsOnly, TProgressRec& Progress) {
    bool localAbort = false;
    bool* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;
    const int64_t start = Stream->Position();

    PngReader r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, aborting, PngReadError, PngReadWarning);
    if (!r.png) {
        *aborting = true;
        return;
    }
    r.info = png_create_info_struct(r.png);
    if (!r.info) {
        *aborting = true;
        return;
    }
    png_structp png = r.png;
    png_infop info = r.info;
    png_set_read_fn(png, Stream, PngReadData);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    if (!PngGuarded(png, [&] {
            png_read_info(png, info);
            png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr,
                         nullptr);
        })) {
        *aborting = true;
        return;
    }

    const bool isPalette = colorType == PNG_COLOR_TYPE_PALETTE;
    const bool isGrey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_colorp plte = nullptr;
    int plteCount = 0;
    if (isPalette && !png_get_PLTE(png, info, &plte, &plteCount)) plteCount = 0;

    // 1-bit images stay 1 bit when they are black and white without transparency; a palette
    // of white, black only needs its bits inverted. Any other 1-bit image is expanded.
    bool keep1Bit = false, invert1Bit = false;
    if (depth == 1 && !hasTrns) {
        if (isGrey) {
            keep1Bit = true;
        } else if (isPalette && plteCount == 2) {
            auto is = [&](int i, int v) {
                return plte[i].red == v && plte[i].green == v && plte[i].blue == v;
            };
            if (is(0, 0) && is(1, 255)) keep1Bit = true;
            if (is(0, 255) && is(1, 0)) keep1Bit = invert1Bit = true;
        }
    }

    // Background of composition: the file's bKGD in 8-bit units, else PngBackground.
    TRGB background = IOParams.PngBackground;
    png_color_16p bkgd = nullptr;
    if (!Mask && png_get_bKGD(png, info, &bkgd) && bkgd) {
        TRGB c;
        bool valid = true;
        if (isPalette) {
            if (bkgd->index < plteCount) {
                c.r = plte[bkgd->index].red;
                c.g = plte[bkgd->index].green;
                c.b = plte[bkgd->index].blue;
            } else {
                valid = false;
            }
        } else if (isGrey) {
            unsigned v = bkgd->gray;
            if (depth == 16) v >>= 8;
            else if (depth < 8) v = v * 255 / ((1u << depth) - 1);
            c.r = c.g = c.b = uint8_t(std::min(v, 255u));
        } else {
            const int shift = depth == 16 ? 8 : 0;
            c.r = uint8_t(bkgd->red >> shift);
            c.g = uint8_t(bkgd->green >> shift);
            c.b = uint8_t(bkgd->blue >> shift);
        }
        if (valid) {
            background = c;
            IOParams.PngBackground = c;
        }
    }

    int passes = 1;
    png_byte channels = 0;
    if (!PngGuarded(png, [&] {
            if (!keep1Bit) {
                if (isPalette) png_set_palette_to_rgb(png);
                if (isGrey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
                if (hasTrns) png_set_tRNS_to_alpha(png);
            }
            if (depth == 16) png_set_strip_16(png);
            if (depth > 1 && depth < 8) png_set_packing(png);
            if (isGrey && !keep1Bit) png_set_gray_to_rgb(png);
            if (!keep1Bit) png_set_bgr(png);
            passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
            channels = png_get_channels(png, info);
        })) {
        *aborting = true;
        return;
    }

    IOParams.Width = int(width);
    IOParams.Height = int(height);
    IOParams.BitsPerSample = depth;
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB: IOParams.SamplesPerPixel = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: IOParams.SamplesPerPixel = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: IOParams.SamplesPerPixel = 4; break;
    default: IOParams.SamplesPerPixel = 1; break;
    }
    IOParams.DpiX = PpmToDpi(png_get_x_pixels_per_meter(png, info));
    IOParams.DpiY = PpmToDpi(png_get_y_pixels_per_meter(png, info));
    IOParams.FreePalette();
    if (isPalette && plteCount > 0) {
        TRGB* pal = IOParams.AllocPalette(plteCount);
        for (int i = 0; i < plteCount; i++) {
            pal[i].r = plte[i].red;
            pal[i].g = plte[i].green;
            pal[i].b = plte[i].blue;
        }
    }
    IOParams.PngInterlaced = interlace != PNG_INTERLACE_NONE;

    if (ParamsOnly) return;

    const int64_t pixels = int64_t(width) * height;
    const bool alpha = channels == 4;
    // The bitmap, the mask, and for interlaced files with alpha the whole RGBA image: a small
    // or cut file claiming a huge picture is refused before any of it exists.
    const auto cost = [&] {
        return (int64_t(width) * (keep1Bit ? 1 : 24) + 31) / 32 * 4 * height + (Mask ? pixels : 0) +
               (alpha && passes > 1 ? pixels * 4 : 0);
    };
    if (pixels <= 0 || pixels > LXMaxPixels || int64_t(width) * 24 > (int64_t(1) << 31) - 32 ||
        (!keep1Bit && channels != 3 && channels != 4) || (keep1Bit && channels != 1) ||
        !WithinDecodeBudget(cost(), Stream->Size() - start)) {
        *aborting = true;
        return;
    }
    const int w = int(width), h = int(height);

    std::vector<uint8_t> rgba;   // one row, or the whole image for interlaced files with alpha
    try {
        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(keep1Bit ? pf1bit : pf24bit);
        Bitmap->SetSize(w, h);
        if (Mask) {
            // Sized together with the bitmap, so a failure cannot leave them different.
            Mask->AllocBits(w, h, 8);
            Mask->Fill(255);
        }
        if (alpha) {
            rgba.resize(size_t(w) * 4 * (passes > 1 ? size_t(h) : 1));
            if (Mask) Mask->Full = false;
        }
    } catch (const std::bad_alloc&) {
        *aborting = true;
        return;
    } catch (const EOutOfMemory&) {
        *aborting = true;
        return;
    }

    Progress.per = 100.0 / (double(h) * passes);
    Progress.val = 0;
    const size_t rowLen = size_t(w) * 4;
    bool ok = PngGuarded(png, [&] {
        for (int pass = 0; pass < passes && !*aborting; pass++) {
            for (int y = 0; y < h && !*aborting; y++) {
                uint8_t* row = Bitmap->ScanLine(y);
                if (alpha) {
                    uint8_t* buf = passes > 1 ? rgba.data() + rowLen * size_t(y) : rgba.data();
                    png_read_row(png, buf, nullptr);
                    if (passes == 1)
                        SplitRow(buf, row, Mask ? Mask->ScanLine(y) : nullptr, w, background);
                } else {
                    png_read_row(png, row, nullptr);
                    if (invert1Bit && passes == 1) InvertBits(row, w);
                }
                Progress.val++;
                if (Progress.fOnProgress)
                    Progress.fOnProgress(Progress.Sender, int(Progress.val * Progress.per));
            }
        }
    });
    if (!ok) *aborting = true;

    if (passes > 1) {
        // Interlaced: the passes are merged; keep what was read.
        for (int y = 0; y < h; y++) {
            if (alpha)
                SplitRow(rgba.data() + rowLen * size_t(y), Bitmap->ScanLine(y),
                         Mask ? Mask->ScanLine(y) : nullptr, w, background);
            else if (invert1Bit)
                InvertBits(Bitmap->ScanLine(y), w);
        }
    }

    if (!*aborting) {
        if (!PngGuarded(png, [&] { png_read_end(png, nullptr); })) *aborting = true;
    }
}

// ---- The codec table's entry ----

namespace {

void PngDecodeCall(TLXCodecCall& c) {
    // A file without bKGD is composed over (and leaves) the component's background.
    if (!c.ParamsOnly) c.Params->PngBackground = c.Background;
    PngDecodeStream(c.Stream, c.Bitmap, *c.Params, c.Mask, c.ParamsOnly, *c.Progress);
    if (!c.ParamsOnly) {
        c.Background = c.Params->PngBackground;
        c.SetsBackground = true;
    }
}

void PngEncodeCall(TLXCodecCall& c) { PngEncodeStream(c.Stream, c.Bitmap, *c.Params, c.Mask, *c.Progress); }

}  // namespace

bool PngProbe(const TLXProbeInput& In) { return In.Size > 8 && ProbePngStream(In.Stream); }

const TLXCodec PngCodec = {lxftPNG, "Portable Network Graphics", "PNG", PngDecodeCall, PngEncodeCall,
                           nullptr, lxcoFillsMask | lxcoFileDpi | lxcoStreamDpi};
