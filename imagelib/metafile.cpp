#include "metafile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <cairo.h>
#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>
#include <librsvg/rsvg.h>
}

#include "LuxIO.h"
#include "Win32.h"
#include "lxutils.h"

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr uint32_t EmfSignature = 0x464D4520;   // " EMF"
constexpr int MaxSide = 2800;
// A bound on the records looked at for the window of a WMF.
constexpr int MaxScannedRecords = 100000;

int16_t ReadS16(const uint8_t* p) { return int16_t(GetLE16(p)); }
int32_t ReadS32(const uint8_t* p) { return int32_t(GetLE32(p)); }

// a * b / c rounded to the nearest, in 128 bits; 0 for c <= 0.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
    if (c <= 0) return 0;
    const __int128 p = __int128(a) * b;
    return int64_t((p + c / 2) / c);
}

void ReadPlaceableWmf(const uint8_t* d, size_t n, int Dpi, TLXMetafileHeader& h) {
    h.Kind = TLXMetafileKind::Wmf;
    const int64_t left = ReadS16(d + 6), top = ReadS16(d + 8), right = ReadS16(d + 10), bottom = ReadS16(d + 12);
    const int64_t inch = GetLE16(d + 14);
    if (inch == 0) return;
    h.Width = MulDiv64(std::llabs(right - left), Dpi, inch);
    h.Height = MulDiv64(std::llabs(bottom - top), Dpi, inch);
    // The first window origin and extent of the records: under the placeable header's
    // anisotropic mapping the window fills the page. Without an extent the bounding box is
    // the page.
    int64_t orgX = 0, orgY = 0, extX = 0, extY = 0;
    bool haveExt = false, haveOrg = false;
    size_t pos = 22;
    if (n >= pos + 18) pos += size_t(GetLE16(d + pos + 2)) * 2;   // the metafile header
    for (int i = 0; i < MaxScannedRecords && pos + 6 <= n; ++i) {
        const uint64_t words = GetLE32(d + pos);
        const uint16_t func = GetLE16(d + pos + 4);
        if (words < 3 || func == 0) break;
        if (pos + 10 <= n && (func == 0x020B || func == 0x020C)) {
            const int64_t y = ReadS16(d + pos + 6), x = ReadS16(d + pos + 8);
            if (func == 0x020B && !haveOrg) {
                orgX = x;
                orgY = y;
                haveOrg = true;
            } else if (func == 0x020C && !haveExt) {
                extX = x;
                extY = y;
                haveExt = true;
            }
        }
        if (haveOrg && haveExt) break;
        if (words > (n - pos) / 2) break;
        pos += size_t(words) * 2;
    }
    const double k = 72.0 / double(inch);   // libwmf works in points
    if (haveExt && extX != 0 && extY != 0) {
        h.PageLeft = 0;
        h.PageTop = 0;
        h.PageRight = double(extX) * k;
        h.PageBottom = double(extY) * k;
    } else {
        h.PageLeft = double(std::min(left, right) - orgX) * k;
        h.PageTop = double(std::min(top, bottom) - orgY) * k;
        h.PageRight = double(std::max(left, right) - orgX) * k;
        h.PageBottom = double(std::max(top, bottom) - orgY) * k;
    }
}

void ReadEmf(const uint8_t* d, size_t, int Dpi, TLXMetafileHeader& h) {
    h.Kind = TLXMetafileKind::Emf;
    const int64_t bl = ReadS32(d + 8), bt = ReadS32(d + 12);
    const int64_t fl = ReadS32(d + 24), ft = ReadS32(d + 28), fr = ReadS32(d + 32), fb = ReadS32(d + 36);
    const int64_t devX = ReadS32(d + 72), devY = ReadS32(d + 76), mmX = ReadS32(d + 80), mmY = ReadS32(d + 84);
    // The frame is in 0.01 mm.
    h.Width = MulDiv64(std::llabs(fr - fl), Dpi, 2540);
    h.Height = MulDiv64(std::llabs(fb - ft), Dpi, 2540);
    // The frame in device units, relative to the bounds' top-left (the SVG's origin).
    if (devX > 0 && devY > 0 && mmX > 0 && mmY > 0) {
        const double kx = double(devX) / (double(mmX) * 100.0), ky = double(devY) / (double(mmY) * 100.0);
        h.PageLeft = double(fl) * kx - double(bl);
        h.PageTop = double(ft) * ky - double(bt);
        h.PageRight = double(fr) * kx - double(bl);
        h.PageBottom = double(fb) * ky - double(bt);
    } else {
        h.PageLeft = h.PageTop = 0;
        h.PageRight = double(ReadS32(d + 16)) - double(bl);
        h.PageBottom = double(ReadS32(d + 20)) - double(bt);
    }
}

}  // namespace

TLXMetafileHeader ReadMetafileHeader(const uint8_t* Data, size_t Size, int Dpi) {
    TLXMetafileHeader h;
    if (!Data) return h;
    if (Size >= 22 + 18 && GetLE32(Data) == PlaceableKey) {
        ReadPlaceableWmf(Data, Size, Dpi, h);
    } else if (Size >= 88 && GetLE32(Data) == 1 && GetLE32(Data + 4) >= 88 &&
               GetLE32(Data + 4) <= Size && GetLE32(Data + 40) == EmfSignature) {
        ReadEmf(Data, Size, Dpi, h);
    } else if (Size >= 18 && (GetLE16(Data) == 1 || GetLE16(Data) == 2) && GetLE16(Data + 2) == 9 &&
               (GetLE16(Data + 4) == 0x0100 || GetLE16(Data + 4) == 0x0300)) {
        h.Kind = TLXMetafileKind::Wmf;   // a plain WMF: no size of its own
    }
    return h;
}

bool MetafileTargetSize(int64_t OwnWidth, int64_t OwnHeight, int W, int H, int& OutWidth,
                        int& OutHeight) {
    OutWidth = OutHeight = 0;
    if (OwnWidth <= 0 || OwnHeight <= 0) return false;   // before any division by them
    __int128 w, h;
    if (W >= 0 && H >= 0) {
        w = W;
        h = H;
    } else if (W < 0 && H >= 0) {
        w = __int128(OwnWidth) * H / OwnHeight;
        h = H;
    } else if (W >= 0) {
        h = __int128(OwnHeight) * W / OwnWidth;
        w = W;
    } else {
        w = OwnWidth;
        h = OwnHeight;
    }
    if (w <= 0 || h <= 0) return false;
    if (w > MaxSide || h > MaxSide) {
        if (h > w) {
            w = w * MaxSide / h;
            h = MaxSide;
        } else {
            h = h * MaxSide / w;
            w = MaxSide;
        }
    }
    if (w <= 0 || h <= 0) return false;   // the limit brought a thin side down to 0
    OutWidth = int(w);
    OutHeight = int(h);
    return true;
}

namespace {

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// libwmf sizes its buffers by the header's counts: they are set here from the records
// themselves, and a file whose records do not lie within it is refused. Returns the
// length of the data that libwmf gets, 0 to refuse.
size_t SanitizeWmf(std::vector<uint8_t>& d) {
    constexpr size_t base = 22;   // after the placeable header
    const size_t n = d.size();
    if (n < base + 18 || GetLE16(d.data() + base + 2) != 9) return 0;
    size_t pos = base + 18;
    uint32_t maxWords = 3;
    for (int records = 0;; ++records) {
        if (pos + 6 > n || records > MaxScannedRecords) return 0;
        const uint32_t words = GetLE32(d.data() + pos);
        const uint16_t func = GetLE16(d.data() + pos + 4);
        if (words < 3 || words > (n - pos) / 2) return 0;
        maxWords = std::max(maxWords, words);
        pos += size_t(words) * 2;
        if (func == 0) break;   // the end record
    }
    PutLE32(d.data() + base + 6, uint32_t((pos - base) / 2));
    PutLE32(d.data() + base + 12, maxWords);
    return pos;
}

// The converters' SVG for the page, or empty.
std::string WmfToSvg(const uint8_t* Source, size_t SourceSize, const TLXMetafileHeader& Header, int PageW,
                     int PageH) {
    std::vector<uint8_t> copy(Source, Source + SourceSize);
    const size_t Size = SanitizeWmf(copy);
    if (Size == 0) return {};
    uint8_t* Data = copy.data();
    wmfAPI* api = nullptr;
    wmfAPI_Options opt{};
    opt.function = wmf_svg_function;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api, flags, &opt) != wmf_E_None) {
        if (api) wmf_api_destroy(api);
        return {};
    }
    std::string svg;
    if (wmf_mem_open(api, Data, long(Size)) == wmf_E_None) {
        wmfD_Rect scanned;
        if (wmf_scan(api, 0, &scanned) == wmf_E_None) {
            wmf_svg_t* dev = WMF_SVG_GetData(api);
            dev->out = wmf_stream_create(api, nullptr);
            dev->Description = const_cast<char*>("");
            dev->bbox.TL.x = float(Header.PageLeft);
            dev->bbox.TL.y = float(Header.PageTop);
            dev->bbox.BR.x = float(Header.PageRight);
            dev->bbox.BR.y = float(Header.PageBottom);
            dev->width = unsigned(PageW);
            dev->height = unsigned(PageH);
            wmfD_Rect played;
            const wmf_error_t err = wmf_play(api, 0, &played);
            char* mem = nullptr;
            unsigned long len = 0;
            if (dev->out) wmf_stream_destroy(api, dev->out, &mem, &len);
            dev->out = nullptr;
            if (err == wmf_E_None && mem) svg.assign(mem, len);
            if (mem) wmf_free(api, mem);
        }
        wmf_mem_close(api);
    }
    wmf_api_destroy(api);
    return svg;
}

std::string EmfToSvg(const uint8_t* Data, size_t Size) {
    generatorOptions opt{};
    opt.nameSpace = const_cast<char*>("");
    opt.verbose = false;
    opt.emfplus = true;
    opt.svgDelimiter = true;
    char* out = nullptr;
    size_t len = 0;
    // The converter takes a writable buffer; it gets a copy.
    std::string copy(reinterpret_cast<const char*>(Data), Size);
    const int ok = emf2svg(copy.data(), copy.size(), &out, &len, &opt);
    std::string svg;
    if (ok && out) svg.assign(out, len);
    std::free(out);
    return svg;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

constexpr size_t MaxSvgSize = size_t(64) << 20;
// CPU time for the conversion and the render together. 40 page-sized filled ellipses take
// 0.2 s at the largest size; a file of thousands of them (over 10 s of filling) is refused.
constexpr int CpuSeconds = 3;
// Memory the conversion and the render may add to what the process already has mapped.
constexpr rlim_t MemoryLimit = rlim_t(2) << 30;
// Only a hang guard for a child that waits without using CPU time; generous, since a
// loaded machine stretches the wall time of the CPU limit.
constexpr int WallSeconds = 20;

// The address space this process has mapped now (0 when unknown).
rlim_t MappedNow() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buf[64] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return 0;
    const unsigned long long pages = std::strtoull(buf, nullptr, 10);
    return rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
}

// The converters trust the counts and offsets in the records they read, and the SVG
// renderer aborts the process on some of what they pass on (a font of millions of pixels):
// both run in a child process of their own, under a CPU-time and a memory limit. Whatever a
// hostile file makes them do (a crash, an abort, a read past a record, an endless loop, a
// huge allocation) ends that child, and the file counts as one that no renderer reads.
// True when Work returned true and the child ended cleanly in time.
bool Isolated(const std::function<bool()>& Work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        // No core file of a refused metafile, and no child left when the viewer goes.
        ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (::getppid() != parent) ::_exit(1);
        ::signal(SIGXCPU, SIG_DFL);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 2);
        rlimit cpu{CpuSeconds, CpuSeconds + 1};   // SIGXCPU, then SIGKILL
        ::setrlimit(RLIMIT_CPU, &cpu);
        if (!Sanitized) {   // the sanitizers' shadow memory does not fit an address-space limit
            const rlim_t limit = MappedNow() + MemoryLimit;
            rlimit as{limit, limit};
            ::setrlimit(RLIMIT_AS, &as);
        }
        bool ok = false;
        try {
            ok = Work();
        } catch (...) {
            ok = false;
        }
        const char done = 1;
        if (!ok || ::write(fds[1], &done, 1) != 1) ::_exit(1);
        ::_exit(0);
    }
    ::close(fds[1]);
    bool done = false, failed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WallSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            failed = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            failed = true;
            break;
        }
        char c = 0;
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n == 1) done = c == 1;
        break;   // the byte or the end: the child is done either way
    }
    ::close(fds[0]);
    if (failed) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return done && !failed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Rasterises the SVG into Pixels, a zeroed ARGB32 block of Width x Height with Stride bytes a
// row; the page (in the SVG's coordinates for EMF) fills PageWidth x PageHeight pixels.
bool RasteriseSvg(const std::string& Svg, const TLXMetafileHeader& Header, uint8_t* Pixels, int Width,
                  int Height, int Stride, int PageWidth, int PageHeight) {
    if (Svg.empty() || Svg.size() > MaxSvgSize) return false;
    GError* error = nullptr;
    RsvgHandle* handle =
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(Svg.data()), Svg.size(), &error);
    if (error) g_error_free(error);
    if (!handle) return false;
    double docW = 0, docH = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &docW, &docH) || !(docW > 0) || !(docH > 0)) {
        g_object_unref(handle);
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(Pixels, CAIRO_FORMAT_ARGB32, Width, Height, Stride);
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(surface);
        if (Header.Kind == TLXMetafileKind::Emf) {
            cairo_scale(cr, PageWidth / (Header.PageRight - Header.PageLeft),
                        PageHeight / (Header.PageBottom - Header.PageTop));
            cairo_translate(cr, -Header.PageLeft, -Header.PageTop);
        }
        const RsvgRectangle viewport{0, 0, docW, docH};
        GError* err = nullptr;
        ok = rsvg_handle_render_document(handle, cr, &viewport, &err);
        if (err) g_error_free(err);
        ok = ok && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    cairo_surface_destroy(surface);
    g_object_unref(handle);
    return ok;
}

}  // namespace

bool RenderMetafile(const uint8_t* Data, size_t Size, const TLXMetafileHeader& Header,
                    TBitmap* Bitmap, int PageWidth, int PageHeight) {
    if (!Data || !Bitmap || Bitmap->Empty() || Bitmap->PixelFormat() != pf24bit || PageWidth <= 0 ||
        PageHeight <= 0)
        return false;
    if (Header.Kind != TLXMetafileKind::Wmf && Header.Kind != TLXMetafileKind::Emf) return false;
    const double pw = Header.PageRight - Header.PageLeft, ph = Header.PageBottom - Header.PageTop;
    if (!std::isfinite(pw) || !std::isfinite(ph) || pw == 0 || ph == 0) return false;
    const int bw = Bitmap->Width(), bh = Bitmap->Height();
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, bw);
    if (stride <= 0) return false;
    // The child draws into memory shared with this process; nothing goes through a file.
    const size_t bytes = size_t(stride) * size_t(bh);
    void* shared = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return false;
    uint8_t* pixels = static_cast<uint8_t*>(shared);
    const bool ok = Isolated([&] {
        const std::string svg = Header.Kind == TLXMetafileKind::Wmf
                                    ? WmfToSvg(Data, Size, Header, PageWidth, PageHeight)
                                    : EmfToSvg(Data, Size);
        return RasteriseSvg(svg, Header, pixels, bw, bh, stride, PageWidth, PageHeight);
    });
    if (ok) {
        // Over the pixels already in the bitmap (its background).
        for (int y = 0; y < bh; ++y) {
            const uint32_t* s = reinterpret_cast<const uint32_t*>(pixels + int64_t(stride) * y);
            uint8_t* d = Bitmap->ScanLine(y);
            for (int x = 0; x < bw; ++x, d += 3) {
                const uint32_t px = s[x];   // premultiplied
                const unsigned a = px >> 24;
                if (a == 0) continue;
                const unsigned inv = 255 - a;
                d[0] = uint8_t(std::min(255u, (px & 0xFF) + (d[0] * inv + 127) / 255));
                d[1] = uint8_t(std::min(255u, ((px >> 8) & 0xFF) + (d[1] * inv + 127) / 255));
                d[2] = uint8_t(std::min(255u, ((px >> 16) & 0xFF) + (d[2] * inv + 127) / 255));
            }
        }
    }
    ::munmap(shared, bytes);
    return ok;
}

void MetafileDecode(const uint8_t* Data, size_t Size, TBitmap* Bitmap, TLXIOParams& IOParams, int W,
                    int H, TColor Background, TProgressRec& Progress) {
    TLXAbortFlag abort(Progress);
    if (!Bitmap || W == 0 || H == 0) return;
    const int dpi = ScreenPixelsPerInch();
    const TLXMetafileHeader header = ReadMetafileHeader(Data, Size, dpi);
    int pageW = 0, pageH = 0;
    if (header.Kind == TLXMetafileKind::None ||
        !MetafileTargetSize(header.Width, header.Height, W, H, pageW, pageH)) {
        abort.set();
        return;
    }
    // The bitmap is one pixel smaller than the page on each side.
    const int bw = std::max(1, pageW - 1), bh = std::max(1, pageH - 1);
    TBitmap picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(bw, bh);
    const TRGB bg = TColorToRGB(Background);
    for (int y = 0; y < bh; ++y) {
        uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < bw; ++x) {
            row[3 * x] = bg.b;
            row[3 * x + 1] = bg.g;
            row[3 * x + 2] = bg.r;
        }
    }
    if (!RenderMetafile(Data, Size, header, &picture, pageW, pageH)) {
        abort.set();
        return;
    }
    CopyBitmap(&picture, Bitmap);
    IOParams.FileType = header.Kind == TLXMetafileKind::Emf ? lxftEMF : lxftWMF;
    IOParams.BitsPerSample = 8;
    IOParams.SamplesPerPixel = 3;
    IOParams.Width = Bitmap->Width();
    IOParams.Height = Bitmap->Height();
    IOParams.DpiX = dpi;
    IOParams.DpiY = dpi;
    IOParams.FreePalette();
    if (Progress.fOnProgress) Progress.fOnProgress(Progress.Sender, 100);
}
