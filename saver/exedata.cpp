#include "exedata.h"

#include <cstring>

namespace {

constexpr uint8_t kMagic[4] = {'g', 'd', 'i', 'm'};

uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string& DataFileOverride() {
    static std::string name;
    return name;
}

}  // namespace

std::string OwnDataFileName() {
    const std::string& o = DataFileOverride();
    return o.empty() ? std::string("/proc/self/exe") : o;
}

void SetOwnDataFileName(const std::string& FileName) { DataFileOverride() = FileName; }

bool ReadAppendedBlock(const std::string& FileName, int k, TMemoryStream* Dest) {
    if (k < 0 || Dest == nullptr) return false;
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);

    // Walk back through k+1 trailers. Each accepted trailer describes data that lies wholly
    // before it, so b strictly decreases and the walk ends even on a crafted file. Offsets and
    // sizes are unsigned: a writer has no use for negative ones, and files of 2..4 GiB work.
    int64_t b = file.Size();
    uint32_t offset = 0, size = 0;
    for (int64_t i = 0; i <= k; ++i) {
        if (b < kBlockTrailerSize) return false;
        uint8_t t[kBlockTrailerSize];
        if (file.Seek(b - kBlockTrailerSize, soBeginning) != b - kBlockTrailerSize) return false;
        if (file.Read(t, kBlockTrailerSize) != kBlockTrailerSize) return false;
        if (std::memcmp(t + 8, kMagic, 4) != 0) return false;
        offset = LE32(t);
        size = LE32(t + 4);
        // Padding between a block's data and its own trailer is tolerated; overlap is not.
        if (int64_t(offset) + int64_t(size) > b - kBlockTrailerSize) return false;
        b = offset;
    }

    Dest->SetSize(size);
    if (size > 0) {
        if (file.Seek(offset, soBeginning) != int64_t(offset) ||
            file.Read(Dest->Memory(), size) != int64_t(size)) {
            Dest->SetSize(0);
            return false;
        }
    }
    Dest->Seek(0, soEnd);
    return true;
}

std::string ReadPayloadString(TStream* S) {
    uint8_t lenBytes[4];
    S->ReadBuffer(lenBytes, 4);
    const int32_t len = int32_t(LE32(lenBytes));
    const int64_t left = S->Size() - S->Position();
    if (len < 0 || int64_t(len) > left) throw EReadError("Invalid string length in data block");
    std::string s(size_t(len), '\0');
    if (len > 0) S->ReadBuffer(s.data(), len);
    return s;
}

namespace {

// Length of the valid UTF-8 sequence at p (no overlong forms, no surrogates, at most
// U+10FFFF), or 0.
size_t Utf8SequenceLength(const uint8_t* p, size_t n) {
    const uint8_t c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return 0;
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) out += char(cp);
    else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 controls, as Windows does.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string DecodePayloadText(const std::string& Bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(Bytes.data());
    const size_t n = Bytes.size();
    bool valid = true;
    for (size_t i = 0; i < n;) {
        const size_t l = Utf8SequenceLength(p + i, n - i);
        if (l == 0) { valid = false; break; }
        i += l;
    }
    if (valid) return Bytes;
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return out;
}
