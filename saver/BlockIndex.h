// The data blocks of the player file, indexed once: the show reads a photo per tick and must
// not walk the trailers again each time. The file stays open, so the show keeps reading the
// file it started with.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

class TBlockIndex {
public:
    TBlockIndex() = default;
    ~TBlockIndex();
    TBlockIndex(const TBlockIndex&) = delete;
    TBlockIndex& operator=(const TBlockIndex&) = delete;

    // Walks the trailers from the end, at most MaxBlocks of them, with the same checks as
    // ReadAppendedBlock; stops at the first trailer that is not valid. False when the file
    // cannot be opened.
    bool Open(const std::string& FileName, int64_t MaxBlocks);
    int64_t Count() const { return int64_t(blocks_.size()); }
    // Copies block K; false when it is not in the index or cannot be read.
    bool Read(int64_t K, std::string& Data) const;
    // Block K in pieces of at most Piece bytes, in order, so a large block is never held
    // whole: Sink returns false to stop. False when K is not in the index, a read fails or
    // Sink stopped.
    bool ReadPieces(int64_t K, size_t Piece, const std::function<bool(const char* Data, size_t Size)>& Sink) const;
    // Block K as a read-only stream that reads the file as it goes, so a photo is never held
    // twice; null when K is not in the index. Reads with pread: usable beside other threads.
    std::unique_ptr<TStream> OpenBlock(int64_t K) const;

private:
    struct Entry { uint32_t offset, size; };
    int fd_ = -1;
    std::vector<Entry> blocks_;
};
