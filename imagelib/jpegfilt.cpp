// JPEG reading and writing over libjpeg62-turbo.
//
// libjpeg reports errors through error_exit, which must never return. The Debian library is
// plain C, so we leave it with longjmp, never with a C++ exception. Every library call runs
// inside JpegGuarded(), a small frame that holds setjmp and no C++ objects with destructors;
// the C++ side turns a failed step into the abort flag (reading) or ELXJpegException (writing)
// once the library has returned control.
#include "jpegfilt.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "LuxIOParams.h"
#include "lxutils.h"

static_assert(JPEG_LIB_VERSION == 62, "the bridge is written for the libjpeg v6.2 API");

namespace {

constexpr size_t JpegBufferSize = 65536;
// Each scan of a multi-scan file makes the library walk the whole coefficient image of its
// components, whatever few bytes the scan holds (end-of-band runs cover thousands of blocks
// in a few bits). Real encoders write at most a few dozen scans (cjpeg and jpegtran about
// ten); a crafted file with a thousand costs a hundred times the decode of the same page.
// So, as djpeg's -maxscans does, the decode ends at a scan count, and also at an amount of
// scan work: one unit is one block visited by a scan, and a refinement scan of AC
// coefficients also checks every coefficient of its band, JpegRefineCoefsPerUnit of them
// costing about one visit. The work stays below JpegMaxScanWork visits of every block, which
// keeps any decode within about three times what the same page costs in a few scans (the
// output pass of a block costs some 50 of these units); a small picture may always do
// JpegMinScanWork units.
constexpr int JpegMaxScans = 100;
constexpr uint64_t JpegMaxScanWork = 100;
constexpr uint64_t JpegRefineCoefsPerUnit = 12;
constexpr uint64_t JpegMinScanWork = uint64_t(1) << 22;

struct JpegErrorMgr {
    jpeg_error_mgr pub;
    bool* Aborting;   // nil: errors neither set a flag nor count as a failure of the call
    jmp_buf Jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorMgr*>(cinfo->err);
    if (err->Aborting) *err->Aborting = true;
    longjmp(err->Jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int msg_level) {
    if (msg_level < 0) cinfo->err->num_warnings++;
}

void JpegOutputMessage(j_common_ptr) {}

void JpegFormatMessage(j_common_ptr, char* buffer) {
    if (buffer) buffer[0] = 0;
}

void JpegResetErrorMgr(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void JpegInitErrorMgr(JpegErrorMgr& err, bool* aborting) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.emit_message = JpegEmitMessage;
    err.pub.output_message = JpegOutputMessage;
    err.pub.format_message = JpegFormatMessage;
    err.pub.reset_error_mgr = JpegResetErrorMgr;
    err.Aborting = aborting;
}

// Runs Step with the error exit armed; false when the library gave up. Step must not own
// objects with destructors across library calls (it is only ever a short lambda).
template <class F>
[[gnu::noinline]] bool JpegGuarded(JpegErrorMgr& err, F&& Step) {
    if (setjmp(err.Jump)) return false;
    Step();
    return true;
}

// ---- Source manager ----

struct JpegStreamSource {
    jpeg_source_mgr pub;
    TStream* Stream;
    JOCTET* Buffer;       // JpegBufferSize bytes
    bool StartOfFile;
    bool AtEnd;           // the fake end-of-image is in the buffer
    bool* Aborting;
};

void JpegSrcInit(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<JpegStreamSource*>(cinfo->src);
    src->StartOfFile = true;
    src->AtEnd = false;
}

boolean JpegSrcFill(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<JpegStreamSource*>(cinfo->src);
    int64_t n = 0;
    bool failed = false;
    try {
        n = src->Stream->Read(src->Buffer, int64_t(JpegBufferSize));
    } catch (...) {
        failed = true;
    }
    if (failed) {
        if (src->Aborting) *src->Aborting = true;
        ERREXIT(cinfo, JERR_FILE_READ);
    }
    if (n <= 0) {
        // The stream gave nothing: end as if the file had an end-of-image marker, so the
        // library fills the missing rows itself. Nothing at all is a broken file.
        if (src->StartOfFile && src->Aborting) *src->Aborting = true;
        src->Buffer[0] = 0xFF;
        src->Buffer[1] = JPEG_EOI;
        n = 2;
        src->AtEnd = true;
    }
    src->pub.next_input_byte = src->Buffer;
    src->pub.bytes_in_buffer = size_t(n);
    src->StartOfFile = false;
    return TRUE;
}

void JpegSrcSkip(j_decompress_ptr cinfo, long num_bytes) {
    auto* src = reinterpret_cast<JpegStreamSource*>(cinfo->src);
    if (num_bytes <= 0) return;
    size_t n = size_t(num_bytes);
    while (n > src->pub.bytes_in_buffer) {
        n -= src->pub.bytes_in_buffer;
        JpegSrcFill(cinfo);
        // Past the end only the fake end-of-image is left: keep it visible.
        if (src->AtEnd) return;
    }
    src->pub.next_input_byte += n;
    src->pub.bytes_in_buffer -= n;
}

void JpegSrcTerm(j_decompress_ptr) {}

// ---- Destination manager ----

struct JpegStreamDestination {
    jpeg_destination_mgr pub;
    TStream* Stream;
    JOCTET* Buffer;       // JpegBufferSize bytes
    bool* Aborting;
};

void JpegDestWrite(JpegStreamDestination* dest, size_t count) {
    if (count == 0) return;
    bool ok = false;
    try {
        ok = dest->Stream->Write(dest->Buffer, int64_t(count)) == int64_t(count);
    } catch (...) {
        ok = false;
    }
    // A short write ends the save after the current row (the writer checks the flag).
    if (!ok && dest->Aborting) *dest->Aborting = true;
}

void JpegDestInit(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->Buffer;
    dest->pub.free_in_buffer = JpegBufferSize;
}

boolean JpegDestEmpty(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
    JpegDestWrite(dest, JpegBufferSize);
    dest->pub.next_output_byte = dest->Buffer;
    dest->pub.free_in_buffer = JpegBufferSize;
    return TRUE;
}

void JpegDestTerm(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
    JpegDestWrite(dest, JpegBufferSize - dest->pub.free_in_buffer);
}

// The library calls its progress monitor once an iMCU row while it reads the scans of a
// multi-scan file and once a call while it hands out rows, so a decode can end there.
struct JpegProgress {
    jpeg_progress_mgr pub;
    const std::atomic<bool>* Cancel;
    bool* Aborting;
    int Scan = 0;            // the last scan counted
    uint64_t Work = 0;       // units of the scans counted (see JpegMaxScanWork)
    uint64_t MaxWork = 0;    // 0: not set yet
};

uint64_t JpegScanWork(j_decompress_ptr d) {
    uint64_t blocks = 0;
    for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
        if (const jpeg_component_info* c = d->cur_comp_info[i])
            blocks += uint64_t(c->width_in_blocks) * c->height_in_blocks;
    if (d->progressive_mode && d->Ss > 0 && d->Ah > 0 && d->Se >= d->Ss)
        return blocks + blocks * uint64_t(d->Se - d->Ss + 1) / JpegRefineCoefsPerUnit;
    return blocks;
}

// Ends a decode that is cancelled, or whose next scan is past the bound of JpegMaxScans and
// JpegMaxScanWork, before that scan's work begins.
void JpegProgressMonitor(j_common_ptr cinfo) {
    auto* p = reinterpret_cast<JpegProgress*>(cinfo->progress);
    if ((p->Cancel && p->Cancel->load(std::memory_order_relaxed)) || *p->Aborting)
        ERREXIT(cinfo, JERR_NOT_COMPILED);
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (p->MaxWork == 0) {
        uint64_t blocks = 0;
        for (int i = 0; i < d->num_components; ++i)
            blocks += uint64_t(d->comp_info[i].width_in_blocks) * d->comp_info[i].height_in_blocks;
        p->MaxWork = std::max(JpegMinScanWork, blocks * JpegMaxScanWork);
    }
    if (d->input_scan_number == p->Scan) return;
    p->Scan = d->input_scan_number;
    p->Work += JpegScanWork(d);
    if (p->Scan > JpegMaxScans || p->Work > p->MaxWork) ERREXIT(cinfo, JERR_NOT_COMPILED);
}

// Decompression object with its managers; freed whatever happens.
struct JpegDecoder {
    jpeg_decompress_struct cinfo{};
    JpegErrorMgr err{};
    JpegStreamSource src{};
    JpegProgress progress{};
    std::unique_ptr<JOCTET[]> buffer;
    bool created = false;
    ~JpegDecoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

struct JpegEncoder {
    jpeg_compress_struct cinfo{};
    JpegErrorMgr err{};
    JpegStreamDestination dest{};
    std::unique_ptr<JOCTET[]> buffer;
    bool created = false;
    ~JpegEncoder() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

void ReportProgress(TProgressRec& Progress) {
    if (Progress.fOnProgress) Progress.fOnProgress(Progress.Sender, int(Progress.val * Progress.per));
}

// Markers the library writes itself: a copied JFIF header or Adobe colour-transform marker
// would contradict (or duplicate) the one made for the new colour space.
bool IsLibraryMarker(int code, const uint8_t* data, int length) {
    if (code == JPEG_APP0 && length >= 5 && std::memcmp(data, "JFIF\0", 5) == 0) return true;
    if (code == JPEG_APP0 + 14 && length >= 5 && std::memcmp(data, "Adobe", 5) == 0) return true;
    return false;
}

}  // namespace

// ---- Public helpers ----

int64_t FindJpegStart(TStream* Stream) {
    const int64_t start = Stream->Position();
    uint8_t buf[102];
    int64_t got = 0;
    try {
        got = Stream->Read(buf, sizeof buf);
    } catch (...) {
        got = 0;
    }
    Stream->SetPosition(start);
    for (int64_t i = 0; i + 2 < got && i < 100; i++)
        if (buf[i] == 0xFF && buf[i + 1] == 0xD8 && buf[i + 2] == 0xFF) return start + i;
    return -1;
}

void JpegCMYKToRGB(const TCMYK& CMYK, TRGB& RGB) {
    RGB.r = uint8_t(unsigned(CMYK.c) * CMYK.k / 255);
    RGB.g = uint8_t(unsigned(CMYK.m) * CMYK.k / 255);
    RGB.b = uint8_t(unsigned(CMYK.y) * CMYK.k / 255);
}

TCMYK JpegRGBToCMYK(const TRGB& RGB) {
    unsigned k = std::max({RGB.r, RGB.g, RGB.b});
    if (k == 0) k = 1;
    TCMYK out;
    out.c = uint8_t(std::min(255u, RGB.r * 255u / k));
    out.m = uint8_t(std::min(255u, RGB.g * 255u / k));
    out.y = uint8_t(std::min(255u, RGB.b * 255u / k));
    out.k = uint8_t(k);
    return out;
}

// ---- Reading ----

void JpegDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                      TProgressRec& Progress) {
    bool localAbort = false;
    bool* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;

    const int64_t start = FindJpegStart(Stream);
    if (start < 0) {
        *aborting = true;
        return;
    }
    Stream->SetPosition(start);

    std::unique_ptr<JpegDecoder> d;
    try {
        d = std::make_unique<JpegDecoder>();
        d->buffer.reset(new JOCTET[JpegBufferSize]);
    } catch (const std::bad_alloc&) {
        *aborting = true;
        return;
    }
    jpeg_decompress_struct& c = d->cinfo;
    JpegInitErrorMgr(d->err, aborting);
    c.err = &d->err.pub;

    bool ok = JpegGuarded(d->err, [&] {
        jpeg_create_decompress(&c);
    });
    if (!ok) {
        *aborting = true;
        return;
    }
    d->created = true;

    d->src.pub.init_source = JpegSrcInit;
    d->src.pub.fill_input_buffer = JpegSrcFill;
    d->src.pub.skip_input_data = JpegSrcSkip;
    d->src.pub.resync_to_restart = jpeg_resync_to_restart;
    d->src.pub.term_source = JpegSrcTerm;
    d->src.pub.bytes_in_buffer = 0;
    d->src.pub.next_input_byte = nullptr;
    d->src.Stream = Stream;
    d->src.Buffer = d->buffer.get();
    d->src.StartOfFile = true;
    d->src.AtEnd = false;
    d->src.Aborting = aborting;
    c.src = &d->src.pub;
    d->progress.pub.progress_monitor = JpegProgressMonitor;
    d->progress.Cancel = Progress.Cancel;
    d->progress.Aborting = aborting;
    c.progress = &d->progress.pub;

    std::vector<uint8_t> side;   // one CMYK row
    int sized = 0;               // the height of the picture made for the rows
    try {
        ok = JpegGuarded(d->err, [&] {
            jpeg_save_markers(&c, JPEG_COM, 0xFFFF);
            for (int i = 0; i < 16; i++) jpeg_save_markers(&c, JPEG_APP0 + i, 0xFFFF);
            jpeg_read_header(&c, TRUE);
        });
        if (ok && !*aborting) {
            switch (c.jpeg_color_space) {
            case JCS_GRAYSCALE: IOParams.JpegColorSpace = 1; c.out_color_space = JCS_EXT_BGR; break;
            case JCS_RGB:       IOParams.JpegColorSpace = 0; c.out_color_space = JCS_EXT_BGR; break;
            case JCS_YCbCr:     IOParams.JpegColorSpace = 2; c.out_color_space = JCS_EXT_BGR; break;
            case JCS_CMYK:      IOParams.JpegColorSpace = 3; c.out_color_space = JCS_CMYK; break;
            case JCS_YCCK:      IOParams.JpegColorSpace = 4; c.out_color_space = JCS_CMYK; break;
            default: break;
            }
            switch (IOParams.JpegDCTMethod) {
            case 0: c.dct_method = JDCT_ISLOW; break;
            case 1: c.dct_method = JDCT_IFAST; break;
            case 2: c.dct_method = JDCT_FLOAT; break;
            default: break;
            }
            if (c.density_unit == 0 || c.density_unit == 1) {
                IOParams.DpiX = c.X_density;
                IOParams.DpiY = c.Y_density;
            } else if (c.density_unit == 2) {
                IOParams.DpiX = int(c.X_density * 2.54);
                IOParams.DpiY = int(c.Y_density * 2.54);
            }
            IOParams.BitsPerSample = 8;
            IOParams.SamplesPerPixel = 3;
            IOParams.FreePalette();
            IOParams.JpegProgressive = c.progressive_mode != 0;

            c.scale_num = 1;
            switch (IOParams.JpegScale) {
            case 1: c.scale_denom = 1; break;
            case 2: c.scale_denom = 2; break;
            case 3: c.scale_denom = 4; break;
            case 4: c.scale_denom = 8; break;
            case 0: {
                unsigned denom = 1;
                if (IOParams.Width > 0 && IOParams.Height > 0) {
                    for (unsigned dd : {8u, 4u, 2u, 1u})
                        if (c.image_width / dd >= unsigned(IOParams.Width) &&
                            c.image_height / dd >= unsigned(IOParams.Height)) {
                            denom = dd;
                            break;
                        }
                }
                c.scale_denom = denom;
                break;
            }
            default: break;
            }
            IOParams.JpegScaleDenominator = int(c.scale_denom);

            ok = JpegGuarded(d->err, [&] { jpeg_calc_output_dimensions(&c); });
        }
        if (ok && !*aborting && ParamsOnly) {
            // The output size without decoding (starting would read a progressive file whole).
            IOParams.Width = int(c.output_width);
            IOParams.Height = int(c.output_height);
        } else if (ok && !*aborting) {
            const int64_t outPixels = int64_t(c.output_width) * c.output_height;
            const int64_t filePixels = int64_t(c.image_width) * c.image_height;
            // What decoding costs: the bitmap, and for a file of several scans (progressive
            // ones) the library's coefficients of the whole image, two bytes a sample. A
            // small or cut file claiming a huge picture is refused before either exists.
            bool multiScan = false;
            ok = JpegGuarded(d->err, [&] { multiScan = jpeg_has_multiple_scans(&c); });
            const int64_t cost = (int64_t(c.output_width) * 24 + 31) / 32 * 4 * c.output_height +
                                 (multiScan ? filePixels * c.num_components * 2 : 0);
            if (!ok || outPixels <= 0 || outPixels > LXMaxPixels || filePixels > LXMaxPixels ||
                int64_t(c.output_width) * 24 > (int64_t(1) << 31) - 32 ||
                !WithinDecodeBudget(cost, Stream->Size() - start))
                *aborting = true;
            else
                ok = JpegGuarded(d->err, [&] { jpeg_start_decompress(&c); });
            if (ok && !*aborting) {
                IOParams.Width = int(c.output_width);
                IOParams.Height = int(c.output_height);
                const bool cmyk = c.out_color_space == JCS_CMYK;
                // Unknown colour spaces keep the library's own output: only what fits a
                // 3-byte row (or the CMYK side row) is read.
                if (c.output_components != (cmyk ? 4 : 3)) *aborting = true;
            }
            if (ok && !*aborting) {
                const bool cmyk = c.out_color_space == JCS_CMYK;
                const int w = int(c.output_width), h = int(c.output_height);
                if (cmyk) side.resize(size_t(w) * 4);
                // Every row is written below (or cleared after a failure): clearing the whole
                // picture first would cost a pass over all of it for nothing.
                Bitmap->NewUncleared(w, h, pf24bit);
                sized = h;
                const size_t pad = size_t(Bitmap->RowBytes()) - size_t(w) * 3;
                Progress.per = 100.0 / h;
                Progress.val = 0;
                uint8_t* sideRow = side.data();
                ok = JpegGuarded(d->err, [&] {
                    while (c.output_scanline < c.output_height && !*aborting) {
                        uint8_t* row = Bitmap->ScanLine(int(c.output_scanline));
                        if (pad) std::memset(row + size_t(w) * 3, 0, pad);
                        JSAMPROW target = cmyk ? sideRow : row;
                        JDIMENSION n = jpeg_read_scanlines(&c, &target, 1);
                        if (n == 0) break;
                        if (cmyk) {
                            auto* px = reinterpret_cast<const TCMYK*>(sideRow);
                            auto* out = reinterpret_cast<TRGB*>(row);
                            for (int x = 0; x < w; x++) JpegCMYKToRGB(px[x], out[x]);
                        }
                        Progress.val += int32_t(n);
                        ReportProgress(Progress);
                    }
                });
                if (ok && c.output_scanline < c.output_height) *aborting = true;
            }
        }
    } catch (...) {
        // Out of memory for the bitmap, or an exception from the progress event.
        *aborting = true;
    }
    if (!ok) *aborting = true;
    // The rows a failed decode never reached are black, as in a cleared picture. They are
    // the lowest in the bottom-up block: one run from its start.
    if (sized > 0 && Bitmap->Height() == sized && int(c.output_scanline) < sized) {
        const int from = int(c.output_scanline);
        std::memset(Bitmap->ScanLine(sized - 1), 0, size_t(Bitmap->RowBytes()) * size_t(sized - from));
    }

    // The markers live in the library's image pool: copy them before finishing.
    try {
        IOParams.JpegMarkers->Clear();
        bool first = true;
        for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next) {
            const bool skip = first && m->marker == JPEG_APP0;
            first = false;
            if (!skip) IOParams.JpegMarkers->AddMarker(m->marker, m->data, int(m->data_length));
        }
    } catch (...) {
        *aborting = true;
    }

    if (!*aborting && !ParamsOnly) {
        // Errors while finishing (trailing garbage and the like) are ignored.
        d->err.Aborting = nullptr;
        JpegGuarded(d->err, [&] { jpeg_finish_decompress(&c); });
    }
}

// ---- Writing ----

void JpegEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TProgressRec& Progress) {
    bool localAbort = false;
    bool* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;

    std::unique_ptr<TBitmap> temp;
    TBitmap* src = Bitmap;
    if (Bitmap->PixelFormat() == pf1bit) {
        temp = std::make_unique<TBitmap>();
        Convert1To24Bit(Bitmap, temp.get());
        src = temp.get();
    } else if (Bitmap->PixelFormat() != pf24bit) {
        temp = std::make_unique<TBitmap>();
        temp->Assign(Bitmap);
        temp->SetPixelFormat(pf24bit);
        src = temp.get();
    }

    auto e = std::make_unique<JpegEncoder>();
    e->buffer.reset(new JOCTET[JpegBufferSize]);
    jpeg_compress_struct& c = e->cinfo;
    JpegInitErrorMgr(e->err, aborting);
    c.err = &e->err.pub;
    bool ok = JpegGuarded(e->err, [&] { jpeg_create_compress(&c); });
    if (!ok) {
        *aborting = true;
        throw ELXJpegException("JPeg corrupted file");
    }
    e->created = true;
    e->dest.pub.init_destination = JpegDestInit;
    e->dest.pub.empty_output_buffer = JpegDestEmpty;
    e->dest.pub.term_destination = JpegDestTerm;
    e->dest.Stream = Stream;
    e->dest.Buffer = e->buffer.get();
    e->dest.Aborting = aborting;
    c.dest = &e->dest.pub;
    if (*aborting) return;

    const int w = src->Width(), h = src->Height();
    J_COLOR_SPACE out;
    bool cmykIn = false;
    switch (IOParams.JpegColorSpace) {
    case 1: out = JCS_GRAYSCALE; break;
    case 2: out = JCS_YCbCr; break;
    case 3: out = JCS_CMYK; cmykIn = true; break;
    case 4: out = JCS_YCCK; cmykIn = true; break;
    default: out = JCS_RGB; break;
    }
    c.image_width = JDIMENSION(std::max(w, 0));
    c.image_height = JDIMENSION(std::max(h, 0));
    c.input_components = cmykIn ? 4 : 3;
    c.in_color_space = cmykIn ? JCS_CMYK : JCS_EXT_BGR;

    const TLXMarkerList* markers = IOParams.JpegMarkers.get();
    ok = JpegGuarded(e->err, [&] {
        jpeg_set_defaults(&c);
        jpeg_set_colorspace(&c, out);
        if (IOParams.DpiX > 0 && IOParams.DpiY > 0) {
            c.density_unit = 1;
            c.X_density = UINT16(std::min(IOParams.DpiX, 65535));
            c.Y_density = UINT16(std::min(IOParams.DpiY, 65535));
        } else {
            // No resolution known: an aspect ratio of 1:1 rather than an invalid 0 dpi.
            c.density_unit = 0;
            c.X_density = 1;
            c.Y_density = 1;
        }
        switch (IOParams.JpegDCTMethod) {
        case 0: c.dct_method = JDCT_ISLOW; break;
        case 1: c.dct_method = JDCT_IFAST; break;
        case 2: c.dct_method = JDCT_FLOAT; break;
        default: break;
        }
        c.optimize_coding = IOParams.JpegOptimizeCoding ? TRUE : FALSE;
        c.smoothing_factor = std::clamp(IOParams.JpegSmoothing, 0, 100);
        jpeg_set_quality(&c, IOParams.JpegQuality, TRUE);
        if (IOParams.JpegProgressive) jpeg_simple_progression(&c);
        jpeg_start_compress(&c, TRUE);
        if (markers)
            for (int i = 0; i < markers->Count(); i++) {
                const int code = markers->MarkerType(i);
                const auto* data = static_cast<const uint8_t*>(markers->MarkerData(i));
                const int len = markers->MarkerLength(i);
                if (IsLibraryMarker(code, data, len)) continue;
                jpeg_write_marker(&c, code, data, unsigned(len));
            }
    });

    std::vector<uint8_t> side;
    if (ok) {
        Progress.per = h > 0 ? 100.0 / h : 0;
        Progress.val = 0;
        if (cmykIn) side.resize(size_t(w) * 4);
        uint8_t* sideRow = side.data();
        ok = JpegGuarded(e->err, [&] {
            for (int y = 0; y < h && !*aborting; y++) {
                uint8_t* row = src->ScanLine(y);
                if (cmykIn) {
                    auto* px = reinterpret_cast<const TRGB*>(row);
                    auto* outRow = reinterpret_cast<TCMYK*>(sideRow);
                    for (int x = 0; x < w; x++) outRow[x] = JpegRGBToCMYK(px[x]);
                    row = sideRow;
                }
                JSAMPROW r = row;
                jpeg_write_scanlines(&c, &r, 1);
                Progress.val++;
                ReportProgress(Progress);
            }
            if (!*aborting) jpeg_finish_compress(&c);
        });
    }
    if (!ok) {
        *aborting = true;
        e.reset();   // the destination manager goes first
        throw ELXJpegException("JPeg corrupted file");
    }
}

// ---- The I/O component's JPEG steps and the codec table's entry ----

void JpegReadMetadata(TLXIOParams& IOParams, bool FileLoad) {
    TLXMarkerList* m = IOParams.JpegMarkers.get();
    const int iptc = m->IndexOf(237);
    if (iptc >= 0) IOParams.IPTCInfo->LoadFromBuffer(m->MarkerData(iptc), m->MarkerLength(iptc));
    if (!ExifBlockReader) return;
    // The first APP1 that holds EXIF: an XMP block may stand before it.
    int ok = 0;
    for (int i = 0; i < m->Count(); ++i) {
        if (m->MarkerType(i) != 225 || m->MarkerLength(i) < 5 ||
            std::memcmp(m->MarkerData(i), "Exif", 5) != 0)
            continue;
        ok = ExifBlockReader(m->MarkerData(i), m->MarkerLength(i), IOParams);
        break;
    }
    if (!FileLoad || ok == 0) return;
    // A JFIF header with only an aspect ratio (1 x 1): take the EXIF resolution, when it is
    // a sensible number (the values come from the file).
    if (IOParams.DpiX == 1 && IOParams.DpiY == 1) {
        const double f = IOParams.ExifResolutionUnit == 3 ? 2.54 : 1.0;
        const double x = IOParams.ExifXResolution * f, y = IOParams.ExifYResolution * f;
        if (std::isfinite(x) && std::isfinite(y) && x >= 1 && y >= 1 && x <= 65535 && y <= 65535) {
            IOParams.DpiX = int(x);
            IOParams.DpiY = int(y);
        }
    }
}

bool JpegStoreIPTC(TLXIOParams& IOParams) {
    TLXIPTCInfoList* iptc = IOParams.IPTCInfo.get();
    if (!iptc->Changed()) return true;
    const std::vector<uint8_t> buf = iptc->SaveToBuffer();
    TLXMarkerList* m = IOParams.JpegMarkers.get();
    const int i = m->IndexOf(237);
    // A block too long for one marker is refused rather than written truncated.
    return i >= 0 ? m->SetMarker(i, 237, int64_t(buf.size()), buf.data())
                  : m->AddMarker(237, buf.data(), int64_t(buf.size()));
}

namespace {

void JpegDecodeCall(TLXCodecCall& c) {
    JpegDecodeStream(c.Stream, c.Bitmap, *c.Params, c.ParamsOnly, *c.Progress);
    JpegReadMetadata(*c.Params, c.FileLoad);
}

void JpegEncodeCall(TLXCodecCall& c) {
    if (!JpegStoreIPTC(*c.Params)) {
        if (c.Progress->Aborting) *c.Progress->Aborting = true;
        return;
    }
    JpegEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress);
}

}  // namespace

bool JpegProbeStart(const TLXProbeInput& In) {
    return In.HeadLength >= 3 && In.Head[0] == 0xFF && In.Head[1] == 0xD8 && In.Head[2] == 0xFF;
}

bool JpegProbeStreamHeader(const TLXProbeInput& In) { return In.Size > 12 && In.Tag == "JFIF"; }

bool JpegProbeAfterData(const TLXProbeInput& In) { return FindJpegStart(In.Stream) >= 0; }

// Streams carry the "JFIF" header or not: it is looked for whatever StreamHeaders says.
const TLXCodec JpegCodec = {lxftJPEG, "JPEG Bitmap", "JPG;JPEG;JPE", JpegDecodeCall, JpegEncodeCall,
                            "JFIF", lxcoFileDpi | lxcoStreamDpi | lxcoHeaderAlways};
