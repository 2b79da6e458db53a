#include "BlockIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
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

namespace {

class TBlockStream : public TStream {
public:
    TBlockStream(int Fd, int64_t Offset, int64_t Size) : fd_(Fd), offset_(Offset), size_(Size) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        if (pos_ < 0 || Count <= 0 || pos_ >= size_) return 0;
        auto* out = static_cast<uint8_t*>(Buffer);
        int64_t done = 0;
        Count = std::min(Count, size_ - pos_);
        while (done < Count) {
            // Small reads (the decoders take a few kilobytes at a time) come from a buffer.
            if (pos_ >= bufAt_ && pos_ < bufAt_ + bufLen_) {
                const int64_t n = std::min(Count - done, bufAt_ + bufLen_ - pos_);
                std::memcpy(out + done, buf_.data() + (pos_ - bufAt_), size_t(n));
                done += n;
                pos_ += n;
                continue;
            }
            const int64_t want = std::min<int64_t>(int64_t(buf_.size()), size_ - pos_);
            const ssize_t r = ::pread(fd_, buf_.data(), size_t(want), off_t(offset_ + pos_));
            if (r <= 0) break;
            bufAt_ = pos_;
            bufLen_ = r;
        }
        return done;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? pos_ : size_;
        if ((Offset > 0 && base > INT64_MAX - Offset) || (Offset < 0 && base < INT64_MIN - Offset)) return pos_;
        pos_ = base + Offset;
        return pos_;
    }
    int64_t Size() override { return size_; }

private:
    int fd_;
    int64_t offset_, size_, pos_ = 0;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(size_t(1) << 16);
    int64_t bufAt_ = 0, bufLen_ = 0;
};

}  // namespace

std::unique_ptr<TStream> TBlockIndex::OpenBlock(int64_t K) const {
    if (K < 0 || K >= Count() || fd_ < 0) return nullptr;
    const Entry& e = blocks_[size_t(K)];
    return std::make_unique<TBlockStream>(fd_, int64_t(e.offset), int64_t(e.size));
}

bool TBlockIndex::ReadPieces(int64_t K, size_t Piece,
                             const std::function<bool(const char* Data, size_t Size)>& Sink) const {
    if (K < 0 || K >= Count() || fd_ < 0 || Piece == 0) return false;
    const Entry& e = blocks_[size_t(K)];
    std::string buf(std::min<size_t>(Piece, e.size), '\0');
    for (uint32_t done = 0; done < e.size;) {
        const size_t n = std::min<size_t>(buf.size(), e.size - done);
        if (!ReadAt(fd_, buf.data(), n, int64_t(e.offset) + done) || !Sink(buf.data(), n)) return false;
        done += uint32_t(n);
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
