// gdmetafile: draws one metafile page for the image library's metafile import, which starts it
// beside its own program (a fresh process, so no lock that another thread of the caller held
// can be found taken here). The converters and the renderer trust what hostile files hold,
// so this process limits itself before reading anything: whatever a file makes them do
// ends this process, and the caller refuses the file.
//   gdmetafile PARENT-PID wmf|emf WIDTH HEIGHT STRIDE PAGE-WIDTH PAGE-HEIGHT LEFT TOP RIGHT BOTTOM
// fd 3: the metafile (its whole size); fd 4: the ARGB32 pixels, HEIGHT x STRIDE bytes, zeroed;
// fd 5: one byte 1 written when the page is drawn. Exit status 0 then, 1 otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "metafiledraw.h"

namespace {

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

// CPU time for the conversion and the render together. 40 page-sized filled ellipses take
// 0.2 s at the largest size; a file of thousands of them (over 10 s of filling) is refused.
constexpr int CpuSeconds = 3;
// Memory the conversion and the render may add to what the process has mapped at the start.
constexpr rlim_t MemoryLimit = rlim_t(2) << 30;

constexpr int DataFd = 3, PixelsFd = 4, DoneFd = 5;

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

bool Number(const char* Text, long long Min, long long Max, long long& Out) {
    char* end = nullptr;
    errno = 0;
    Out = std::strtoll(Text, &end, 10);
    return errno == 0 && end != Text && *end == 0 && Out >= Min && Out <= Max;
}

bool Real(const char* Text, double& Out) {
    char* end = nullptr;
    Out = std::strtod(Text, &end);
    return end != Text && *end == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // No core file of a refused metafile, and no helper left when its caller goes.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    long long parent = 0;
    if (argc != 12 || !Number(argv[1], 1, INT32_MAX, parent) || ::getppid() != pid_t(parent)) return 1;
    ::signal(SIGXCPU, SIG_DFL);
    rlimit cpu{CpuSeconds, CpuSeconds + 1};   // SIGXCPU, then SIGKILL
    if (::setrlimit(RLIMIT_CPU, &cpu) != 0) return 1;

    TLXMetafileHeader header;
    if (std::strcmp(argv[2], "wmf") == 0) header.Kind = TLXMetafileKind::Wmf;
    else if (std::strcmp(argv[2], "emf") == 0) header.Kind = TLXMetafileKind::Emf;
    else return 1;
    long long width = 0, height = 0, stride = 0, pageW = 0, pageH = 0;
    if (!Number(argv[3], 1, 1 << 20, width) || !Number(argv[4], 1, 1 << 20, height) ||
        !Number(argv[5], width * 4, 1 << 24, stride) || !Number(argv[6], 1, 1 << 20, pageW) ||
        !Number(argv[7], 1, 1 << 20, pageH) || !Real(argv[8], header.PageLeft) || !Real(argv[9], header.PageTop) ||
        !Real(argv[10], header.PageRight) || !Real(argv[11], header.PageBottom))
        return 1;

    struct stat st {};
    if (::fstat(DataFd, &st) != 0 || st.st_size <= 0) return 1;
    const size_t size = size_t(st.st_size);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, DataFd, 0);
    const size_t bytes = size_t(stride) * size_t(height);
    if (::fstat(PixelsFd, &st) != 0 || size_t(st.st_size) < bytes) return 1;
    void* pixels = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, PixelsFd, 0);
    if (data == MAP_FAILED || pixels == MAP_FAILED) return 1;
    if (!Sanitized) {   // the sanitizers' shadow memory does not fit an address-space limit
        const rlim_t limit = MappedNow() + MemoryLimit;
        rlimit as{limit, limit};
        if (::setrlimit(RLIMIT_AS, &as) != 0) return 1;
    }
    bool ok = false;
    try {
        ok = DrawMetafilePage(static_cast<const uint8_t*>(data), size, header, static_cast<uint8_t*>(pixels),
                              int(width), int(height), int(stride), int(pageW), int(pageH));
    } catch (...) {
        ok = false;
    }
    const char done = 1;
    if (!ok || ::write(DoneFd, &done, 1) != 1) ::_exit(1);
    ::_exit(0);
}
