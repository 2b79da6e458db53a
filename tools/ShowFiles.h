// The files `gdpack build` reads and writes: inputs opened only when they are regular files,
// the identity of files (so an output never replaces an input), the bare player inside a
// player file, and the output written beside its final name and put in place only when whole.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "PlayerFile.h"

namespace gdpack {

// The most a player file may hold: its trailers record offsets and sizes in 32 bits.
constexpr uint64_t kMaxShowSize = 0xFFFFFFFFull;

// Opens Path for reading when it is a regular file, without waiting on a FIFO or a device.
// The descriptor, or -1 with Why set ("it cannot be read: ...", "it is a FIFO, not a regular
// file", ...).
int OpenInput(const std::string& Path, std::string& Why);
// Reads the whole open file, at most Limit bytes; false with Why set when it cannot or when
// the file holds more.
bool ReadAll(int Fd, uint64_t Limit, Bytes& Out, std::string& Why);
// OpenInput and ReadAll in one; throws std::runtime_error naming the file (What in front).
Bytes ReadInputFile(const std::string& Path, const std::string& What = "");

// A file as the file system knows it, links followed.
struct FileId {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> IdOf(const std::string& Path);
std::optional<FileId> IdOf(int Fd);

// The length of the bare player at the front of a player file: the offset of its first
// appended block, found by walking the trailers back from the end; the whole size when the
// file carries no block. Blocks counts the blocks found.
uint64_t BarePlayerLength(int Fd, uint64_t Size, int& Blocks);

// The output of a build. It is written into a file of its own in the final file's folder (a
// nameless one where the file system makes those); Commit flushes it to disk and renames it
// over the final name. Until then the final file is untouched, and a writer that is
// destroyed without Commit leaves nothing behind.
class ShowOutput {
public:
    explicit ShowOutput(const std::string& Path);   // throws std::runtime_error
    ~ShowOutput();
    ShowOutput(const ShowOutput&) = delete;
    ShowOutput& operator=(const ShowOutput&) = delete;

    uint64_t Offset() const { return offset_; }
    void Write(const void* Data, size_t Size);
    void Write(const Bytes& b) { Write(b.data(), b.size()); }
    // Copies the first Length bytes of the open file What (named in a failure).
    void CopyFrom(int Fd, uint64_t Length, const std::string& What);
    // Ends the block that began at Start with its trailer.
    void EndBlock(uint64_t Start);
    // Made executable, flushed to disk and renamed over the final name.
    void Commit();

private:
    void Flush();
    [[noreturn]] void Fail(const std::string& What, int Err);

    std::string path_, dir_, tempName_;   // tempName_ only while the file has a name
    int fd_ = -1;
    uint64_t offset_ = 0;
    Bytes buffer_;
    bool committed_ = false;
};

}  // namespace gdpack
