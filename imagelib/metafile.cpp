#include "metafile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

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

// Only a hang guard for a helper that waits without using CPU time; generous, since a
// loaded machine stretches the wall time of its CPU limit.
constexpr int WallSeconds = 20;
constexpr const char* HelperName = "gdmetafile";

// The helper beside the running program, or empty.
const std::string& HelperPath() {
    static const std::string path = [] {
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return std::string();
        std::string p(exe, size_t(n));
        const size_t slash = p.rfind('/');
        if (slash == std::string::npos) return std::string();
        p = p.substr(0, slash + 1) + HelperName;
        return ::access(p.c_str(), X_OK) == 0 ? p : std::string();
    }();
    return path;
}

// A descriptor at 10 or above, close-on-exec, in place of Fd (closed): the helper's own
// numbers 3 to 5 are set from these, and none of them can be one of the sources.
int HighFd(int Fd) {
    if (Fd < 0) return -1;
    const int high = ::fcntl(Fd, F_DUPFD_CLOEXEC, 10);
    ::close(Fd);
    return high;
}

void CloseAll(std::initializer_list<int> Fds) {
    for (int fd : Fds)
        if (fd >= 0) ::close(fd);
}

std::string Real(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", v);   // exact
    return buf;
}

// The converters trust the counts and offsets in the records they read, and the SVG
// renderer aborts the process on some of what they pass on (a font of millions of pixels):
// both run in the helper program, a fresh process started (not forked: another thread of
// this one may hold a lock the libraries need) under a CPU-time and a memory limit of its
// own and the wall-time guard here. Whatever a hostile file makes them do (a crash, an
// abort, a read past a record, an endless loop, a huge allocation) ends the helper, and the
// file counts as one that no renderer reads. True when the helper drew the page into
// PixelsFd and ended cleanly in time.
bool DrawInHelper(const uint8_t* Data, size_t Size, const TLXMetafileHeader& Header, int PixelsFd, int Width,
                  int Height, int Stride, int PageWidth, int PageHeight) {
    const std::string& helper = HelperPath();
    if (helper.empty()) return false;
    int dataFd = HighFd(::memfd_create("metafile", MFD_CLOEXEC));
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
    const int doneRead = fds[0], doneWrite = HighFd(fds[1]);
    const int pixelsFd = HighFd(::fcntl(PixelsFd, F_DUPFD_CLOEXEC, 0));
    bool written = dataFd >= 0 && doneRead >= 0 && doneWrite >= 0 && pixelsFd >= 0;
    for (size_t off = 0; written && off < Size;) {
        const ssize_t n = ::write(dataFd, Data + off, Size - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) written = false;
        else off += size_t(n);
    }
    if (!written) {
        CloseAll({dataFd, doneRead, doneWrite, pixelsFd});
        return false;
    }
    const std::vector<std::string> args = {helper,
                                           std::to_string(::getpid()),
                                           Header.Kind == TLXMetafileKind::Wmf ? "wmf" : "emf",
                                           std::to_string(Width),
                                           std::to_string(Height),
                                           std::to_string(Stride),
                                           std::to_string(PageWidth),
                                           std::to_string(PageHeight),
                                           Real(Header.PageLeft),
                                           Real(Header.PageTop),
                                           Real(Header.PageRight),
                                           Real(Header.PageBottom)};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // No standard input or output, stderr discarded, the three descriptors at 3 to 5 and no
    // other of this process; every signal at its default and none blocked.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attr);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, dataFd, 3);
    ::posix_spawn_file_actions_adddup2(&actions, pixelsFd, 4);
    ::posix_spawn_file_actions_adddup2(&actions, doneWrite, 5);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 6);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    CloseAll({dataFd, doneWrite, pixelsFd});
    if (spawned != 0) {
        ::close(doneRead);
        return false;
    }
    bool done = false, failed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WallSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            failed = true;
            break;
        }
        pollfd p{doneRead, POLLIN, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            failed = true;
            break;
        }
        char c = 0;
        const ssize_t n = ::read(doneRead, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n == 1) done = c == 1;
        break;   // the byte or the end: the helper is done either way
    }
    ::close(doneRead);
    if (failed) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return done && !failed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    const int stride = bw * 4;   // cairo's ARGB32 rows: 4 bytes a pixel, no padding
    // The helper draws into memory shared with this process; nothing goes through a file.
    const size_t bytes = size_t(stride) * size_t(bh);
    const int pixelsFd = ::memfd_create("metafile-pixels", MFD_CLOEXEC);
    if (pixelsFd < 0) return false;
    void* shared = ::ftruncate(pixelsFd, off_t(bytes)) == 0
                       ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, pixelsFd, 0)
                       : MAP_FAILED;
    if (shared == MAP_FAILED) {
        ::close(pixelsFd);
        return false;
    }
    uint8_t* pixels = static_cast<uint8_t*>(shared);
    const bool ok = DrawInHelper(Data, Size, Header, pixelsFd, bw, bh, stride, PageWidth, PageHeight);
    ::close(pixelsFd);
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
