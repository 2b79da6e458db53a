#include "ShowFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>

#include "SysUtils.h"

namespace gdpack {

namespace {

std::string Errno(int e) { return std::strerror(e); }

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadAt(int Fd, uint8_t* Out, size_t Size, uint64_t At) {
    while (Size > 0) {
        const ssize_t n = ::pread(Fd, Out, Size, off_t(At));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Out += n;
        Size -= size_t(n);
        At += uint64_t(n);
    }
    return true;
}

// The named temporary output, for the signal handler: a build ended by Ctrl-C or a kill
// that can be caught takes it away. Only SIGKILL can leave it behind.
char gTempPath[PATH_MAX];
volatile sig_atomic_t gHaveTemp = 0;

void RemoveTempAndDie(int Sig) {
    if (gHaveTemp) ::unlink(gTempPath);
    ::signal(Sig, SIG_DFL);
    ::raise(Sig);
}

void WatchSignals() {
    static bool done = false;
    if (done) return;
    done = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;   // nohup and friends keep their choice
        struct sigaction sa {};
        sa.sa_handler = RemoveTempAndDie;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
    // Past a file-size limit a write fails (EFBIG) and the build ends as on a full disk.
    ::signal(SIGXFSZ, SIG_IGN);
}

void SetTempName(const std::string& Name) {
    gHaveTemp = 0;
    if (Name.size() >= sizeof gTempPath) return;
    std::memcpy(gTempPath, Name.c_str(), Name.size() + 1);
    gHaveTemp = 1;
}

std::string RandomSuffix() {
    static std::mt19937_64 gen{std::random_device{}() ^ uint64_t(::getpid()) << 32};
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s;
    for (int i = 0; i < 8; ++i) s += kChars[gen() % (sizeof kChars - 1)];
    return s;
}

// A hidden name beside the output, short enough for any file system.
std::string TempName(const std::string& Dir, const std::string& Base) {
    return Dir + "/." + Base.substr(0, 100) + ".gdpack-" + RandomSuffix();
}

}  // namespace

int OpenInput(const std::string& Path, std::string& Why) {
    struct stat st;
    if (Path.empty()) {
        Why = "it cannot be read: an empty file name";
        return -1;
    }
    if (::stat(Path.c_str(), &st) != 0) {
        Why = "it cannot be read: " + Errno(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        Why = S_ISDIR(st.st_mode)    ? "it is a folder, not a file"
              : S_ISFIFO(st.st_mode) ? "it is a FIFO (named pipe), not a regular file"
              : S_ISSOCK(st.st_mode) ? "it is a socket, not a regular file"
                                     : "it is a device, not a regular file";
        return -1;
    }
    errno = 0;
    const int fd = OpenRegularFileRead(Path);
    if (fd < 0) Why = errno ? "it cannot be read: " + Errno(errno) : "it is no longer a regular file";
    return fd;
}

bool ReadAll(int Fd, uint64_t Limit, Bytes& Out, std::string& Why) {
    Out.clear();
    struct stat st;
    if (::fstat(Fd, &st) != 0) {
        Why = "it cannot be read: " + Errno(errno);
        return false;
    }
    const uint64_t expected = uint64_t(std::max<off_t>(st.st_size, 0));
    if (expected > Limit) {
        Why = "it is larger than a show can hold (4 GiB)";
        return false;
    }
    // Sized by fstat, then read to its end: a file that grows meanwhile still ends somewhere.
    Out.resize(size_t(expected) + 1);
    size_t have = 0;
    for (;;) {
        if (have == Out.size()) {
            if (Out.size() > Limit) {
                Out.clear();
                Why = "it is larger than a show can hold (4 GiB)";
                return false;
            }
            Out.resize(std::min<uint64_t>(uint64_t(Out.size()) * 2, Limit + 1));
        }
        const ssize_t n = ::read(Fd, Out.data() + have, Out.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Why = "it cannot be read: " + Errno(errno);
            Out.clear();
            return false;
        }
        if (n == 0) break;
        have += size_t(n);
    }
    Out.resize(have);
    return true;
}

Bytes ReadInputFile(const std::string& Path, const std::string& What) {
    std::string why;
    const int fd = OpenInput(Path, why);
    if (fd < 0) throw std::runtime_error("cannot read " + What + Path + ": " + why);
    Bytes b;
    const bool ok = ReadAll(fd, kMaxShowSize, b, why);
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot read " + What + Path + ": " + why);
    return b;
}

std::optional<FileId> IdOf(const std::string& Path) {
    struct stat st;
    if (Path.empty() || ::stat(Path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

std::optional<FileId> IdOf(int Fd) {
    struct stat st;
    if (::fstat(Fd, &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

uint64_t BarePlayerLength(int Fd, uint64_t Size, int& Blocks) {
    Blocks = 0;
    uint64_t b = Size;
    while (b >= kTrailerSize) {
        uint8_t t[kTrailerSize];
        if (!ReadAt(Fd, t, kTrailerSize, b - kTrailerSize) || std::memcmp(t + 8, kMagic, 4) != 0) break;
        const uint64_t offset = Le32(t), size = Le32(t + 4);
        // A block's data runs from its offset right up to its trailer.
        if (offset + size != b - kTrailerSize) break;
        b = offset;
        ++Blocks;
    }
    return b;
}

ShowOutput::ShowOutput(const std::string& Path) : path_(Path) {
    WatchSignals();
    const auto slash = path_.find_last_of('/');
    dir_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    fd_ = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // No nameless files here: a hidden name beside the output, removed on every way out.
        const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
        for (int tries = 0; fd_ < 0 && tries < 100; ++tries) {
            const std::string name = TempName(dir_, base);
            SetTempName(name);
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ >= 0) tempName_ = name;
            else gHaveTemp = 0;
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) throw std::runtime_error("cannot write " + path_ + ": " + Errno(errno));
    }
    buffer_.reserve(size_t(1) << 20);
}

ShowOutput::~ShowOutput() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !tempName_.empty()) ::unlink(tempName_.c_str());
    if (!tempName_.empty()) gHaveTemp = 0;
}

void ShowOutput::Fail(const std::string& What, int Err) {
    throw std::runtime_error(What + " " + path_ + ": " + Errno(Err));
}

void ShowOutput::Flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("cannot write", n < 0 ? errno : ENOSPC);
        done += size_t(n);
    }
    buffer_.clear();
}

void ShowOutput::Write(const void* Data, size_t Size) {
    if (offset_ + Size > kMaxShowSize)
        throw std::runtime_error("cannot write " + path_ + ": the show would exceed 4 GiB, more than a player file holds");
    const auto* p = static_cast<const uint8_t*>(Data);
    offset_ += Size;
    if (buffer_.size() + Size <= buffer_.capacity()) {
        buffer_.insert(buffer_.end(), p, p + Size);
        return;
    }
    Flush();
    // Large pieces (a photo's bytes) go out as they are.
    while (Size > 0) {
        const ssize_t n = ::write(fd_, p, Size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("cannot write", n < 0 ? errno : ENOSPC);
        p += n;
        Size -= size_t(n);
    }
}

void ShowOutput::CopyFrom(int Fd, uint64_t Length, const std::string& What) {
    Bytes chunk(std::min<uint64_t>(Length, uint64_t(1) << 20));
    for (uint64_t at = 0; at < Length;) {
        const size_t n = size_t(std::min<uint64_t>(chunk.size(), Length - at));
        if (!ReadAt(Fd, chunk.data(), n, at))
            throw std::runtime_error("cannot write " + path_ + ": " + What + " could not be read whole");
        Write(chunk.data(), n);
        at += n;
    }
}

void ShowOutput::EndBlock(uint64_t Start) {
    Bytes t;
    AppendLE32(t, uint32_t(Start));
    AppendLE32(t, uint32_t(offset_ - Start));
    t.insert(t.end(), kMagic, kMagic + 4);
    Write(t);
}

void ShowOutput::Commit() {
    Flush();
    if (::fchmod(fd_, 0755) != 0) Fail("cannot make executable", errno);
    if (::fsync(fd_) != 0) Fail("cannot write", errno);
    if (tempName_.empty()) {
        // A nameless file gets a hidden name first: a link cannot replace a file, a rename can.
        const std::string base = path_.substr(path_.find_last_of('/') + 1);
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        for (int tries = 0; tempName_.empty() && tries < 100; ++tries) {
            const std::string name = TempName(dir_, base);
            SetTempName(name);
            int r = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            if (r != 0 && errno == ENOENT) r = ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            if (r == 0) tempName_ = name;
            else {
                gHaveTemp = 0;
                if (errno != EEXIST) Fail("cannot write", errno);
            }
        }
        if (tempName_.empty()) Fail("cannot write", EEXIST);
    }
    if (::rename(tempName_.c_str(), path_.c_str()) != 0) Fail("cannot write", errno);
    committed_ = true;
    gHaveTemp = 0;
    const int err = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    if (err) Fail("cannot write", err);
    // The rename itself reaches the disk with the folder.
    if (const int d = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
}

}  // namespace gdpack
