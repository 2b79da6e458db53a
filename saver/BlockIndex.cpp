#include "BlockIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "exedata.h"

namespace {

uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadAt(int fd, void* buf, size_t n, int64_t at) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, off_t(at));
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        at += r;
    }
    return true;
}

}  // namespace

TBlockIndex::~TBlockIndex() {
    if (fd_ >= 0) ::close(fd_);
}

bool TBlockIndex::Open(const std::string& FileName, int64_t MaxBlocks) {
    if (fd_ >= 0) ::close(fd_);
    blocks_.clear();
    fd_ = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    // Each accepted trailer describes data wholly before it, so b strictly decreases.
    int64_t b = st.st_size;
    while (int64_t(blocks_.size()) < MaxBlocks && b >= kBlockTrailerSize) {
        uint8_t t[kBlockTrailerSize];
        if (!ReadAt(fd_, t, sizeof t, b - kBlockTrailerSize)) break;
        if (std::memcmp(t + 8, "gdim", 4) != 0) break;
        const uint32_t offset = LE32(t), size = LE32(t + 4);
        if (int64_t(offset) + int64_t(size) > b - kBlockTrailerSize) break;
        blocks_.push_back({offset, size});
        b = offset;
    }
    return true;
}

bool TBlockIndex::Read(int64_t K, std::string& Data) const {
    if (K < 0 || K >= Count() || fd_ < 0) return false;
    const Entry& e = blocks_[size_t(K)];
    Data.resize(e.size);
    if (e.size > 0 && !ReadAt(fd_, Data.data(), e.size, e.offset)) {
        Data.clear();
        return false;
    }
    return true;
}
