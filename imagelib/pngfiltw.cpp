// PNG writing over libpng 1.6.
//
// As in the reader, libpng's error callback leaves with png_longjmp into PngWriteGuarded()
// (no C++ objects with destructors in that frame); the C++ side then raises
// EInvalidGraphic "Error on creating PNG". A short write on the stream sets the abort flag.
#include "pngfiltw.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <memory>
#include <vector>

#include "LuxIOParams.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

const char* const PngCreateError = "Error on creating PNG";

struct PngWriteTarget {
    TStream* Stream;
    bool* Aborting;
};

void PngWriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void PngWriteWarning(png_structp, png_const_charp) {}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
    auto* t = static_cast<PngWriteTarget*>(png_get_io_ptr(png));
    bool ok = false;
    try {
        ok = t->Stream->Write(data, int64_t(length)) == int64_t(length);
    } catch (...) {
        ok = false;
    }
    if (!ok) *t->Aborting = true;
}

void PngFlushData(png_structp) {}

template <class F>
[[gnu::noinline]] bool PngWriteGuarded(png_structp png, F&& Step) {
    if (setjmp(png_jmpbuf(png))) return false;
    Step();
    return true;
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

int DpiToPpm(int dpi) { return int(std::nearbyint(dpi * 100.0 / 2.54)); }

}  // namespace

void PngEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress) {
    bool localAbort = false;
    bool* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;

    PngWriter wr;
    wr.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngWriteError, PngWriteWarning);
    if (!wr.png) throw EInvalidGraphic(PngCreateError);
    wr.info = png_create_info_struct(wr.png);
    if (!wr.info) throw EInvalidGraphic(PngCreateError);
    png_structp png = wr.png;
    png_infop info = wr.info;
    PngWriteTarget target{Stream, aborting};
    png_set_write_fn(png, &target, PngWriteData, PngFlushData);

    // Prepare the bitmap: 24 bits for RGB and palettes, 1 bit for 1-bit grey. RGB rows are
    // always read as 24 bits, also when BitsPerSample says 1.
    TProgressRec silent;
    silent.Aborting = aborting;
    std::unique_ptr<TBitmap> temp;
    TBitmap* bmp = Bitmap;
    if (IOParams.BitsPerSample != 1 || IOParams.SamplesPerPixel != 1) {
        if (Bitmap->PixelFormat() == pf1bit) {
            temp = std::make_unique<TBitmap>();
            Convert1To24Bit(Bitmap, temp.get(), silent);
            bmp = temp.get();
        } else if (Bitmap->PixelFormat() != pf24bit) {
            temp = std::make_unique<TBitmap>();
            temp->Assign(Bitmap);
            temp->SetPixelFormat(pf24bit);
            bmp = temp.get();
        }
    } else if (Bitmap->PixelFormat() != pf1bit) {
        if (Bitmap->PixelFormat() != pf24bit) {
            temp = std::make_unique<TBitmap>();
            temp->Assign(Bitmap);
            temp->SetPixelFormat(pf24bit);
            bmp = temp.get();
        }
        TRGB c0, c1;
        std::unique_ptr<TBitmap> two = TryConvertTo1Bit(bmp, c0, c1);
        if (two) {
            temp = std::move(two);
        } else {
            auto copy = std::make_unique<TBitmap>();
            CopyBitmap(bmp, copy.get());
            ConvertTo1Bit(copy.get(), silent);
            temp = std::move(copy);
        }
        bmp = temp.get();
    }
    const int w = bmp->Width(), h = bmp->Height();
    if (w <= 0 || h <= 0) throw EInvalidGraphic(PngCreateError);

    // A mask is used only when it is 8-bit and has the bitmap's size.
    const bool maskUsable = Mask && Mask->BitsPerPixel == 8 && Mask->Width == w &&
                            Mask->Height == h && Mask->Bits;
    const bool transparent = maskUsable && !Mask->Full;

    int colorType, depth = 8;
    if (IOParams.SamplesPerPixel != 1) colorType = transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    else if (bmp->PixelFormat() != pf1bit) colorType = PNG_COLOR_TYPE_PALETTE;
    else {
        colorType = PNG_COLOR_TYPE_GRAY;
        depth = 1;
    }

    // Palette: PngBackground at entry 0, the quantizer's colours from entry 1.
    std::unique_ptr<TLXQuantizer> quant;
    std::vector<png_color> plte;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        const int bits = std::clamp(IOParams.BitsPerSample, 1, 8);
        const int ncol = std::min(1 << bits, 255);
        std::vector<TRGB> map(static_cast<size_t>(ncol));   // zeroed: the box split may fill fewer entries
        quant = std::make_unique<TLXQuantizer>(bmp, std::span<TRGB>(map), ncol, -1, 0);
        const int entries = std::min((1 << bits) + 1, 256);
        plte.resize(size_t(entries));
        plte[0] = {IOParams.PngBackground.r, IOParams.PngBackground.g, IOParams.PngBackground.b};
        for (int i = 1; i < entries; i++) plte[size_t(i)] = {map[size_t(i - 1)].r, map[size_t(i - 1)].g, map[size_t(i - 1)].b};
    }

    const int maxIndex = std::max(int(plte.size()) - 1, 0);
    int passes = 1;
    bool ok = PngWriteGuarded(png, [&] {
        png_set_IHDR(png, info, png_uint_32(std::max(w, 0)), png_uint_32(std::max(h, 0)), depth,
                     colorType, IOParams.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (colorType == PNG_COLOR_TYPE_PALETTE) {
            png_set_PLTE(png, info, plte.data(), int(plte.size()));
            if (transparent) {
                png_byte alpha0 = 0;
                png_set_tRNS(png, info, &alpha0, 1, nullptr);
            }
        }
        // No resolution known: no pHYs rather than 0 pixels per metre.
        if (IOParams.DpiX > 0 && IOParams.DpiY > 0)
            png_set_pHYs(png, info, png_uint_32(DpiToPpm(IOParams.DpiX)),
                         png_uint_32(DpiToPpm(IOParams.DpiY)), PNG_RESOLUTION_METER);
        switch (IOParams.PngFilter) {
        case 0: png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); break;
        case 1: png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB); break;
        case 2: png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH); break;
        default: break;
        }
        png_color_16 bkgd{};
        if (colorType == PNG_COLOR_TYPE_PALETTE) {
            bkgd.index = 0;   // the entry that holds PngBackground
        } else if (colorType == PNG_COLOR_TYPE_GRAY) {
            bkgd.gray = RGBLuminance(IOParams.PngBackground) >= 128 ? 1 : 0;
        } else {
            bkgd.red = IOParams.PngBackground.r;
            bkgd.green = IOParams.PngBackground.g;
            bkgd.blue = IOParams.PngBackground.b;
        }
        png_set_bKGD(png, info, &bkgd);
        png_set_compression_level(png, std::clamp(IOParams.PngCompression, 0, 9));
        if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
        png_write_info(png, info);
        passes = png_set_interlace_handling(png);
    });

    std::vector<uint8_t> rowBuf;
    if (ok) {
        if (colorType == PNG_COLOR_TYPE_PALETTE) rowBuf.resize(size_t(w));
        else if (colorType == PNG_COLOR_TYPE_RGB_ALPHA) rowBuf.resize(size_t(w) * 4);
        Progress.per = h > 0 ? 100.0 / (double(passes) * h) : 0;
        Progress.val = 0;
        ok = PngWriteGuarded(png, [&] {
            for (int pass = 0; pass < passes && !*aborting; pass++)
                for (int y = 0; y < h && !*aborting; y++) {
                    const uint8_t* row = bmp->ScanLine(y);
                    const uint8_t* maskRow = transparent ? Mask->ScanLine(y) : nullptr;
                    if (colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
                        uint8_t* o = rowBuf.data();
                        for (int x = 0; x < w; x++, o += 4) {
                            o[0] = row[3 * x];
                            o[1] = row[3 * x + 1];
                            o[2] = row[3 * x + 2];
                            o[3] = maskRow[x];
                        }
                        row = rowBuf.data();
                    } else if (colorType == PNG_COLOR_TYPE_PALETTE) {
                        const auto* px = reinterpret_cast<const TRGB*>(row);
                        for (int x = 0; x < w; x++)
                            rowBuf[size_t(x)] = (maskRow && maskRow[x] != 255)
                                                    ? 0
                                                    : uint8_t(std::min(quant->MapColor(px[x]) + 1, maxIndex));
                        row = rowBuf.data();
                    }
                    png_write_row(png, row);
                    Progress.val++;
                    if (Progress.fOnProgress)
                        Progress.fOnProgress(Progress.Sender, int(Progress.val * Progress.per));
                }
            if (!*aborting) png_write_end(png, nullptr);
        });
    }
    if (!ok) throw EInvalidGraphic(PngCreateError);
}
