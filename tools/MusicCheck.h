// Whether a music file holds audio the player's media stack plays, told from its content.
// The check reads only the headers it needs through a ByteSource, so a file of hundreds of
// megabytes is never loaded whole, and every walk over boxes, chunks, elements or tags is
// bounded.
#pragma once

#include <cstdint>
#include <string>

namespace gdpack {

// Random access to the bytes of a music file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to N bytes at Offset into Buf and returns how many came (fewer only at the
    // end). Throws std::runtime_error when the bytes cannot be read.
    virtual size_t Read(uint64_t Offset, uint8_t* Buf, size_t N) const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* Data, size_t Size) : data_(Data), size_(Size) {}
    uint64_t Size() const override { return size_; }
    size_t Read(uint64_t Offset, uint8_t* Buf, size_t N) const override;

private:
    const uint8_t* data_;
    size_t size_;
};

// A file read in place with pread; throws std::runtime_error when it cannot be opened.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& Path);
    // Takes over an open descriptor of Path.
    FileSource(int Fd, const std::string& Path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    uint64_t Size() const override { return size_; }
    size_t Read(uint64_t Offset, uint8_t* Buf, size_t N) const override;
    int Descriptor() const { return fd_; }

private:
    void TakeSize();

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

struct MusicVerdict {
    // "WAV", "AIFF", "MP3", "Ogg Vorbis", "Ogg Opus", "Ogg FLAC", "Ogg Speex", "FLAC", "AAC",
    // "MP4 audio", "Matroska" when the audio was found; "" otherwise.
    std::string Type;
    // When Type is empty: why a file of a known kind holds no playable audio ("a WAV file
    // with no audio data"); "" when the content is of no known kind at all.
    std::string Problem;
};
MusicVerdict InspectMusic(const ByteSource& Music);

// ID3v2 tags skipped in a row in front of the audio; a file with more is refused.
constexpr int kMaxId3Tags = 16;

}  // namespace gdpack
