#include "MusicCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace gdpack {

size_t MemorySource::Read(uint64_t Offset, uint8_t* Buf, size_t N) const {
    if (Offset >= size_) return 0;
    const size_t n = size_t(std::min<uint64_t>(N, size_ - Offset));
    std::memcpy(Buf, data_ + Offset, n);
    return n;
}

FileSource::FileSource(const std::string& Path) : path_(Path) {
    fd_ = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + Path + ": " + std::strerror(errno));
    TakeSize();
}

FileSource::FileSource(int Fd, const std::string& Path) : path_(Path), fd_(Fd) { TakeSize(); }

void FileSource::TakeSize() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        throw std::runtime_error("cannot read " + path_ + ": " + std::strerror(e));
    }
    size_ = uint64_t(st.st_size);
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::Read(uint64_t Offset, uint8_t* Buf, size_t N) const {
    size_t done = 0;
    while (done < N) {
        const ssize_t n = ::pread(fd_, Buf + done, N - done, off_t(Offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("cannot read " + path_ + ": " + std::strerror(errno));
        if (n == 0) break;
        done += size_t(n);
    }
    return done;
}

namespace {

// Every walk over a container's parts stops after this many: real files have a few dozen.
constexpr int kMaxParts = 4096;

class In {
public:
    explicit In(const ByteSource& s) : s_(s), size_(s.Size()) {}
    uint64_t Size() const { return size_; }
    // Exactly N bytes at Off, or false.
    bool Get(uint64_t Off, uint8_t* Buf, size_t N) const {
        return Off <= size_ && N <= size_ - Off && s_.Read(Off, Buf, N) == N;
    }
    bool Is(uint64_t Off, const char* Tag, size_t N) const {
        uint8_t b[16];
        return N <= sizeof b && Get(Off, b, N) && std::memcmp(b, Tag, N) == 0;
    }
    bool Is(uint64_t Off, const char* Tag) const { return Is(Off, Tag, std::strlen(Tag)); }

private:
    const ByteSource& s_;
    uint64_t size_;
};

uint32_t LE32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint64_t BE64(const uint8_t* p) { return uint64_t(BE32(p)) << 32 | BE32(p + 4); }

MusicVerdict Found(const char* Type) { return {Type, ""}; }
MusicVerdict Refused(std::string Why) { return {"", std::move(Why)}; }

// ---- WAV and AIFF: chunks, a valid format, then sample data ----

MusicVerdict Wav(const In& in, uint64_t at) {
    bool haveFmt = false, fmtOk = false;
    uint32_t align = 0;
    uint64_t off = at + 12;
    uint8_t h[8];
    for (int n = 0; n < kMaxParts && in.Get(off, h, 8); ++n) {
        const uint32_t size = LE32(h + 4);
        const uint64_t body = off + 8, avail = in.Size() - body;
        if (std::memcmp(h, "fmt ", 4) == 0) {
            uint8_t f[16];
            haveFmt = true;
            fmtOk = size >= 16 && in.Get(body, f, 16);
            if (fmtOk) {
                const uint16_t tag = LE16(f), channels = LE16(f + 2), bits = LE16(f + 14);
                const uint32_t rate = LE32(f + 4);
                align = LE16(f + 12);
                fmtOk = tag != 0 && channels >= 1 && rate > 0 && align > 0 && (tag != 1 || bits > 0);
            }
        } else if (std::memcmp(h, "data", 4) == 0) {
            if (!haveFmt) return Refused("a WAV file whose data chunk comes before any format chunk");
            if (!fmtOk) return Refused("a WAV file with an invalid format chunk");
            // A writer that could not seek back leaves the size too large: the data runs to the end.
            const uint64_t bytes = std::min<uint64_t>(size, avail);
            if (bytes >= align) return Found("WAV");
            return Refused("a WAV file with no audio data");
        }
        off = body + size + (size & 1);
    }
    if (!haveFmt) return Refused("a WAV file with no format chunk and no audio data");
    return Refused("a WAV file with no audio data");
}

MusicVerdict Aiff(const In& in, uint64_t at) {
    bool commOk = false, haveComm = false;
    uint64_t audio = 0;
    uint64_t off = at + 12;
    uint8_t h[8];
    for (int n = 0; n < kMaxParts && in.Get(off, h, 8); ++n) {
        const uint32_t size = BE32(h + 4);
        const uint64_t body = off + 8, avail = in.Size() - body;
        if (std::memcmp(h, "COMM", 4) == 0) {
            uint8_t c[18];
            haveComm = true;
            commOk = size >= 18 && in.Get(body, c, 18);
            if (commOk) {
                const uint16_t channels = BE16(c), bits = BE16(c + 6), exponent = BE16(c + 8);
                const uint32_t frames = BE32(c + 2);
                const uint64_t mantissa = BE64(c + 10);
                // The rate is an 80-bit extended float: positive and not zero.
                commOk = channels >= 1 && frames > 0 && bits >= 1 && bits <= 32 && !(exponent & 0x8000) &&
                         exponent != 0 && mantissa != 0;
            }
        } else if (std::memcmp(h, "SSND", 4) == 0) {
            uint8_t s[8];
            const uint64_t bytes = std::min<uint64_t>(size, avail);
            if (bytes >= 8 && in.Get(body, s, 8) && bytes - 8 > BE32(s)) audio = bytes - 8 - BE32(s);
        }
        if (commOk && audio > 0) return Found("AIFF");
        off = body + size + (size & 1);
    }
    if (!haveComm) return Refused("an AIFF file with no COMM chunk");
    if (!commOk) return Refused("an AIFF file with an invalid COMM chunk or no sample frames");
    return Refused("an AIFF file with no audio data");
}

// ---- FLAC: a valid STREAMINFO, then the first frame ----

bool StreamInfoValid(const uint8_t* s) {
    const uint16_t minBlock = BE16(s), maxBlock = BE16(s + 2);
    const uint32_t rate = uint32_t(s[10]) << 12 | uint32_t(s[11]) << 4 | s[12] >> 4;
    const int bits = ((s[12] & 1) << 4 | s[13] >> 4) + 1;
    return minBlock >= 16 && maxBlock >= minBlock && rate > 0 && rate <= 655350 && bits >= 4;
}

MusicVerdict Flac(const In& in, uint64_t at) {
    uint8_t h[4], info[34];
    uint64_t off = at + 4;
    if (!in.Get(off, h, 4) || (h[0] & 0x7F) != 0 || (uint32_t(h[1]) << 16 | h[2] << 8 | h[3]) != 34 ||
        !in.Get(off + 4, info, 34) || !StreamInfoValid(info))
        return Refused("a FLAC file whose STREAMINFO is missing or invalid");
    for (int n = 0; n < kMaxParts; ++n) {
        if (!in.Get(off, h, 4)) break;
        off += 4 + (uint32_t(h[1]) << 16 | h[2] << 8 | h[3]);
        if (h[0] & 0x80) {
            uint8_t f[2];
            if (in.Get(off, f, 2) && f[0] == 0xFF && (f[1] & 0xFE) == 0xF8) return Found("FLAC");
            break;
        }
    }
    return Refused("a FLAC file with no audio frames");
}

// ---- Ogg: the first pages start the streams; one of them must be audio ----

MusicVerdict Ogg(const In& in, uint64_t at) {
    uint64_t off = at;
    for (int page = 0; page < 64; ++page) {
        uint8_t h[27], lacing[255];
        if (!in.Get(off, h, 27) || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0 || !(h[5] & 0x02)) break;
        const int segments = h[26];
        if (!in.Get(off + 27, lacing, size_t(segments))) break;
        size_t first = 0, all = 0;
        bool firstDone = false;
        for (int i = 0; i < segments; ++i) {
            all += lacing[i];
            if (!firstDone) first += lacing[i];
            if (lacing[i] < 255) firstDone = true;
        }
        const uint64_t packet = off + 27 + uint64_t(segments);
        uint8_t p[80] = {};
        const size_t got = std::min<size_t>(first, sizeof p);
        if (in.Get(packet, p, got)) {
            if (got >= 16 && std::memcmp(p, "\x01vorbis", 7) == 0 && LE32(p + 7) == 0 && p[11] > 0 && LE32(p + 12) > 0)
                return Found("Ogg Vorbis");
            if (got >= 19 && std::memcmp(p, "OpusHead", 8) == 0 && (p[8] >> 4) == 0 && p[9] > 0)
                return Found("Ogg Opus");
            if (got >= 51 && std::memcmp(p, "\x7F" "FLAC", 5) == 0 && std::memcmp(p + 9, "fLaC", 4) == 0 &&
                (p[13] & 0x7F) == 0 && StreamInfoValid(p + 17))
                return Found("Ogg FLAC");
            if (got >= 80 && std::memcmp(p, "Speex   ", 8) == 0 && LE32(p + 36) > 0 && LE32(p + 48) > 0)
                return Found("Ogg Speex");
        }
        off = packet + all;
    }
    return Refused("an Ogg file with no audio stream (Vorbis, Opus, FLAC or Speex)");
}

// ---- MP4 / M4A: boxes; an audio track is a trak whose media handler is 'soun' ----

struct Box {
    uint64_t Body = 0, End = 0;   // End is clipped to the file
    char Type[5] = {};
};

// Walks the boxes in [From, To), calling F for each until it returns true.
template <class F>
bool Boxes(const In& in, uint64_t From, uint64_t To, int& Budget, F f) {
    uint64_t off = From;
    uint8_t h[16];
    while (off + 8 <= To && Budget-- > 0 && in.Get(off, h, 8)) {
        uint64_t size = BE32(h), header = 8;
        if (size == 1) {
            if (off + 16 > To || !in.Get(off + 8, h + 8, 8)) return false;
            size = BE64(h + 8);
            header = 16;
        } else if (size == 0) {
            size = To - off;
        }
        if (size < header) return false;
        Box b;
        std::memcpy(b.Type, h + 4, 4);
        b.Body = off + header;
        b.End = size > To - off ? To : off + size;
        if (f(b)) return true;
        if (size > To - off) return false;
        off += size;
    }
    return false;
}

MusicVerdict Mp4(const In& in, uint64_t at) {
    int budget = kMaxParts;
    const uint64_t end = in.Size();
    auto child = [&](const Box& parent, const char* type, auto inner) {
        return Boxes(in, parent.Body, parent.End, budget,
                     [&](const Box& b) { return std::strcmp(b.Type, type) == 0 && inner(b); });
    };
    const bool audio = Boxes(in, at, end, budget, [&](const Box& moov) {
        if (std::strcmp(moov.Type, "moov") != 0) return false;
        return child(moov, "trak", [&](const Box& trak) {
            return child(trak, "mdia", [&](const Box& mdia) {
                return child(mdia, "hdlr", [&](const Box& hdlr) { return in.Is(hdlr.Body + 8, "soun"); });
            });
        });
    });
    return audio ? Found("MP4 audio") : Refused("an MP4 file with no audio track");
}

// ---- Matroska / WebM: EBML elements; an audio track has TrackType 2 or an A_ codec ----

struct Element {
    uint32_t Id = 0;
    uint64_t Body = 0, End = 0;
    bool UnknownSize = false;
};

bool ReadElement(const In& in, uint64_t off, uint64_t to, Element& e) {
    uint8_t b[12];
    const size_t have = size_t(std::min<uint64_t>(12, to > off ? to - off : 0));
    if (have < 2 || !in.Get(off, b, have)) return false;
    const int idLen = b[0] >= 0x80 ? 1 : b[0] >= 0x40 ? 2 : b[0] >= 0x20 ? 3 : b[0] >= 0x10 ? 4 : 0;
    if (idLen == 0 || size_t(idLen) >= have) return false;
    e.Id = 0;
    for (int i = 0; i < idLen; ++i) e.Id = e.Id << 8 | b[i];
    const uint8_t first = b[idLen];
    int sizeLen = 1;
    while (sizeLen <= 8 && !(first & (0x80 >> (sizeLen - 1)))) ++sizeLen;
    if (sizeLen > 8 || size_t(idLen + sizeLen) > have) return false;
    uint64_t size = first & (0xFF >> sizeLen);
    bool allOnes = size == (0xFFu >> sizeLen);
    for (int i = 1; i < sizeLen; ++i) {
        size = size << 8 | b[idLen + i];
        allOnes = allOnes && b[idLen + i] == 0xFF;
    }
    e.Body = off + uint64_t(idLen + sizeLen);
    e.UnknownSize = allOnes;
    e.End = allOnes || size > to - e.Body ? to : e.Body + size;
    return true;
}

template <class F>
bool Elements(const In& in, uint64_t From, uint64_t To, int& Budget, F f) {
    Element e;
    for (uint64_t off = From; Budget-- > 0 && ReadElement(in, off, To, e); off = e.End) {
        if (f(e)) return true;
        if (e.UnknownSize) return false;   // its end is only found by parsing it
    }
    return false;
}

MusicVerdict Matroska(const In& in, uint64_t at) {
    int budget = kMaxParts;
    const uint64_t end = in.Size();
    Element header;
    if (!ReadElement(in, at, end, header) || header.UnknownSize)
        return Refused("a Matroska file with no audio track");
    bool docType = false;
    Elements(in, header.Body, header.End, budget, [&](const Element& e) {
        if (e.Id == 0x4282) docType = (e.End - e.Body == 8 && in.Is(e.Body, "matroska")) ||
                                      (e.End - e.Body == 4 && in.Is(e.Body, "webm"));
        return e.Id == 0x4282;
    });
    if (!docType) return Refused("an EBML file that is neither Matroska nor WebM");
    const bool audio = Elements(in, header.End, end, budget, [&](const Element& segment) {
        if (segment.Id != 0x18538067) return false;
        return Elements(in, segment.Body, segment.End, budget, [&](const Element& tracks) {
            if (tracks.Id != 0x1654AE6B) return false;
            return Elements(in, tracks.Body, tracks.End, budget, [&](const Element& entry) {
                if (entry.Id != 0xAE) return false;
                return Elements(in, entry.Body, entry.End, budget, [&](const Element& f) {
                    uint8_t v[8];
                    const uint64_t n = f.End - f.Body;
                    if (f.Id == 0x83 && n >= 1 && n <= 8 && in.Get(f.Body, v, size_t(n))) {
                        uint64_t type = 0;
                        for (uint64_t i = 0; i < n; ++i) type = type << 8 | v[i];
                        return type == 2;
                    }
                    return f.Id == 0x86 && n >= 2 && in.Is(f.Body, "A_");
                });
            });
        });
    });
    return audio ? Found("Matroska") : Refused("a Matroska file with no audio track");
}

// ---- MPEG audio and ADTS AAC: frame headers; real decoders sync on consecutive frames ----

struct FrameHeader {
    size_t Length = 0, Header = 4;   // whole frame; header with its CRC
    int Version = 0, Layer = 0, Rate = 0;
};

bool MpegHeader(const uint8_t* b, FrameHeader& f) {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
    const int version = (b[1] >> 3) & 3;   // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (b[1] >> 1) & 3;     // 1: III, 2: II, 3: I
    const int rateIndex = b[2] >> 4, srIndex = (b[2] >> 2) & 3, padding = (b[2] >> 1) & 1;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return false;
    static const int kRates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kSampleRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int sr = kSampleRates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int64_t bitrate = int64_t(kRates[mpeg1 ? 0 : 1][3 - layer][rateIndex]) * 1000;
    if (layer == 3) f.Length = size_t((12 * bitrate / sr + padding) * 4);
    else f.Length = size_t((layer == 1 && !mpeg1 ? 72 : 144) * bitrate / sr + padding);
    f.Header = (b[1] & 1) ? 4 : 6;
    f.Version = version;
    f.Layer = layer;
    f.Rate = srIndex;
    return f.Length > f.Header;
}

bool AdtsHeader(const uint8_t* b, FrameHeader& f) {
    if (b[0] != 0xFF || (b[1] & 0xF6) != 0xF0) return false;
    const int rate = (b[2] >> 2) & 0x0F;
    if (rate > 12) return false;
    f.Length = size_t(b[3] & 0x03) << 11 | size_t(b[4]) << 3 | size_t(b[5] >> 5);
    f.Header = (b[1] & 1) ? 7 : 9;
    f.Version = b[1] >> 3 & 1;
    f.Layer = b[2] >> 6;   // the AAC profile
    f.Rate = rate;
    return f.Length > f.Header;
}

// Two consistent frames in a row (or one that fills the file), not all zeros after their
// headers: a lone sync word or a frame of nothing but zeros carries no sound.
template <class H>
MusicVerdict Frames(const In& in, uint64_t at, H header, const char* type, const char* what) {
    uint8_t b[9];
    FrameHeader f1, f2;
    if (!in.Get(at, b, 7) || !header(b, f1)) return Refused(std::string(what) + " with no valid frame header");
    const uint64_t next = at + f1.Length;
    const bool fills = next == in.Size();
    if (!fills && !(in.Get(next, b, 7) && header(b, f2) && f2.Version == f1.Version && f2.Layer == f1.Layer &&
                    f2.Rate == f1.Rate))
        return Refused(std::string(what) + " whose first frame is not followed by a matching one");
    std::vector<uint8_t> frames(size_t(fills ? f1.Length : f1.Length + f2.Length));
    if (!in.Get(at, frames.data(), frames.size()))
        return Refused(std::string(what) + " whose frames are cut short");
    bool sound = false;
    for (size_t i = f1.Header; i < f1.Length && !sound; ++i) sound = frames[i] != 0;
    for (size_t i = f1.Length + f2.Header; i < frames.size() && !sound; ++i) sound = frames[i] != 0;
    if (!sound) return Refused(std::string(what) + " whose frames hold nothing but zeros");
    return Found(type);
}

bool IsAdts(const uint8_t* b) { return b[0] == 0xFF && (b[1] & 0xF6) == 0xF0; }
bool IsMpeg(const uint8_t* b) { return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 1) & 3) != 0; }

// The kind of the content at `at`, with no ID3 tag in front.
MusicVerdict Container(const In& in, uint64_t at, bool AfterId3) {
    uint8_t b[12] = {};
    if (!in.Get(at, b, std::min<uint64_t>(12, in.Size() - at))) return {};
    const uint64_t left = in.Size() - at;
    auto is = [&](size_t off, const char* tag) {
        const size_t n = std::strlen(tag);
        return left >= off + n && std::memcmp(b + off, tag, n) == 0;
    };
    if (is(0, "RIFF") && is(8, "WAVE")) return Wav(in, at);
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) return Aiff(in, at);
    if (is(0, "fLaC")) return Flac(in, at);
    if (is(0, "\x1A\x45\xDF\xA3")) return Matroska(in, at);
    if (is(0, "OggS")) return Ogg(in, at);
    if (is(4, "ftyp")) {
        for (const char* brand : {"M4A ", "M4B ", "mp41", "mp42", "isom", "iso2"})
            if (is(8, brand)) return Mp4(in, at);
        return {};
    }
    if (left >= 7 && IsAdts(b)) return Frames(in, at, AdtsHeader, "AAC", "an AAC (ADTS) file");
    if (left >= 4 && IsMpeg(b)) return Frames(in, at, MpegHeader, "MP3", "an MP3 file");
    if (AfterId3) return Refused("an ID3 tag with no audio after it");
    return {};
}

}  // namespace

MusicVerdict InspectMusic(const ByteSource& Music) {
    const In in(Music);
    // ID3v2 tags in front (size in 7-bit bytes), skipped in a loop:
    // some taggers pile them up, and each only says how long it is itself.
    uint64_t at = 0;
    int tags = 0;
    uint8_t h[10];
    while (in.Get(at, h, 10) && std::memcmp(h, "ID3", 3) == 0 && h[3] >= 2 && h[3] <= 4 &&
           !((h[6] | h[7] | h[8] | h[9]) & 0x80)) {
        if (++tags > kMaxId3Tags)
            return Refused("a file with more than " + std::to_string(kMaxId3Tags) + " ID3 tags in a row");
        const uint64_t size = uint64_t(h[6]) << 21 | uint64_t(h[7]) << 14 | uint64_t(h[8]) << 7 | h[9];
        at += 10 + size + (h[3] == 4 && (h[5] & 0x10) ? 10 : 0);   // a footer, from version 4 on
    }
    if (tags == 0) return Container(in, 0, false);
    // Some taggers pad past the tag's own size with zeros.
    uint8_t buf[4096];
    for (const uint64_t limit = at + 65536; at < in.Size() && at < limit;) {
        const size_t n = size_t(std::min<uint64_t>(sizeof buf, in.Size() - at));
        if (!in.Get(at, buf, n)) break;
        size_t i = 0;
        while (i < n && buf[i] == 0) ++i;
        at += i;
        if (i < n) break;
    }
    if (at >= in.Size()) return Refused("an ID3 tag with no audio after it");
    return Container(in, at, true);
}

}  // namespace gdpack
