#include "PlayerFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace gdpack {

void AppendLE32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void AppendString(Bytes& out, const std::string& s) {
    AppendLE32(out, uint32_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

Block0 NewShowSettings() {
    Block0 b;
    b.Background = 0x000000;
    b.Duration = 5;
    b.Effect = 1;
    b.EffectDuration = 2;
    b.AutoFit = 1;
    b.Showname = 1;
    b.NamePosition = 4;
    b.Loop = 1;
    b.NameFont = "DejaVu Sans";
    b.NameSize = 12;
    b.NameShowBackground = 1;
    b.NameBackground = 0x000000;
    b.NameColor = 0xFFFFFF;
    // The dialogs' own texts; lists and pages have their lines separated by CR LF.
    b.Texts = {
        // The page lists each key where it works: Escape does nothing on the page itself.
        "<B>Glimmerdeck Slideshow</B><HR>"
        "<I>On this page:</I> <B>OK</B> or <B>Enter</B> starts the show.<HR>"
        "<I>During the show:</I>\r\n"
        "Right arrow, Space or a click: next photo\r\n"
        "Left arrow: previous photo\r\n"
        "F10 or the right mouse button: settings\r\n"
        "F1: this help\r\n"
        "Esc: end the show",
        "OK", "Cancel", "Info", "Exit Slideshow", "Created with Glimmerdeck:", "Photos",
        "Display Time (s):", "Effect:", "Effect Duration (s):", "Background:", "Loop Photos",
        "Random Photo Order", "forever", "Photo Titles", "Show at:", "Font:", "Size:", "Color:",
        "None\r\nCrossfade\r\nFade\r\nPaint\r\nMove\r\nBoxes\r\nZoom in\r\nZoom out",
        "Top Left\r\nTop Center\r\nTop Right\r\nBottom Left\r\nBottom center\r\nBottom Right",
        "Glimmerdeck Slideshow Help", "Slideshow Settings", "Screensaver Settings",
        "About this Slideshow", "About this Screensaver"};
    return b;
}

Bytes EncodeBlock0(const Block0& b) {
    Bytes o;
    auto i32 = [&](int32_t v) { AppendLE32(o, uint32_t(v)); };
    auto b8 = [&](uint8_t v) { o.push_back(v); };
    auto str = [&](const std::string& s) { AppendString(o, s); };
    i32(b.PhotoCount);
    str(b.Unused);
    str(b.AboutText);
    i32(b.Background);
    i32(b.Duration);
    i32(b.Effect);
    i32(b.EffectDuration);
    b8(b.Random);
    b8(b.AutoFit);
    b8(b.Showname);
    i32(b.NamePosition);
    b8(b.Loop);
    str(b.NameFont);
    i32(b.NameSize);
    b8(b.NameShowBackground);
    i32(b.NameBackground);
    i32(b.NameColor);
    str(b.MusicName);
    for (const auto& t : b.Texts) str(t);
    return o;
}

bool ParseNumber(const std::string& s, int64_t& out) {
    // Decimal, optionally negative, or 0x... hex (colours read better that way).
    const char* p = s.data();
    const char* e = p + s.size();
    int base = 10;
    bool neg = false;
    if (p < e && *p == '-') { neg = true; ++p; }
    if (e - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) { base = 16; p += 2; }
    if (p == e || *p == '-' || *p == '+') return false;
    uint64_t v = 0;
    auto r = std::from_chars(p, e, v, base);
    if (r.ptr != e || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) return false;
    // Beyond 63 bits every field refuses it anyway.
    if (r.ec == std::errc::result_out_of_range || v > uint64_t(INT64_MAX)) v = uint64_t(INT64_MAX);
    out = neg ? -int64_t(v) : int64_t(v);
    return true;
}

bool SetBlock0Field(Block0& b, const std::string& name, const std::string& value) {
    struct IntField { const char* name; int32_t Block0::*field; };
    struct BoolField { const char* name; uint8_t Block0::*field; };
    struct StrField { const char* name; std::string Block0::*field; };
    static const IntField ints[] = {
        {"PhotoCount", &Block0::PhotoCount}, {"Background", &Block0::Background},
        {"Duration", &Block0::Duration}, {"Effect", &Block0::Effect},
        {"EffectDuration", &Block0::EffectDuration}, {"NamePosition", &Block0::NamePosition},
        {"NameSize", &Block0::NameSize}, {"NameBackground", &Block0::NameBackground},
        {"NameColor", &Block0::NameColor}};
    static const BoolField bools[] = {
        {"Random", &Block0::Random}, {"AutoFit", &Block0::AutoFit},
        {"Showname", &Block0::Showname}, {"Loop", &Block0::Loop},
        {"NameShowBackground", &Block0::NameShowBackground}};
    static const StrField strs[] = {
        {"Unused", &Block0::Unused}, {"AboutText", &Block0::AboutText},
        {"NameFont", &Block0::NameFont}, {"MusicName", &Block0::MusicName}};
    // A colour may also be given as its unsigned bit pattern (the system colours 0x8000000n).
    const bool colour = name == "Background" || name == "NameBackground" || name == "NameColor";
    for (const auto& f : ints)
        if (name == f.name) {
            int64_t v = 0;
            if (!ParseNumber(value, v) || v < INT32_MIN || v > (colour ? int64_t(UINT32_MAX) : INT32_MAX)) return false;
            b.*f.field = int32_t(uint32_t(v));
            return true;
        }
    for (const auto& f : bools)
        if (name == f.name) {
            int64_t v = 0;
            if (!ParseNumber(value, v) || v < 0 || v > 255) return false;
            b.*f.field = uint8_t(v);
            return true;
        }
    for (const auto& f : strs)
        if (name == f.name) {
            b.*f.field = value;
            return true;
        }
    return false;
}

Bytes EncodePhoto(const Photo& p) {
    Bytes o;
    AppendString(o, p.Name);
    AppendString(o, p.Comment);
    o.insert(o.end(), p.Image.begin(), p.Image.end());
    return o;
}

void AppendBlock(Bytes& file, const Bytes& data) {
    if (file.size() + data.size() + kTrailerSize > 0xFFFFFFFFull)
        throw std::runtime_error("player file would exceed 4 GiB");
    const uint32_t offset = uint32_t(file.size());
    file.insert(file.end(), data.begin(), data.end());
    AppendLE32(file, offset);
    AppendLE32(file, uint32_t(data.size()));
    file.insert(file.end(), kMagic, kMagic + 4);
}

Bytes PlayerFile::Build() const {
    Bytes out = Base;
    for (const auto& p : Photos) AppendBlock(out, EncodePhoto(p));
    AppendBlock(out, Music);
    Block0 b = Settings;
    if (SetPhotoCount) b.PhotoCount = int32_t(Photos.size());
    AppendBlock(out, EncodeBlock0(b));
    return out;
}

std::vector<BlockEntry> ListBlocks(const Bytes& file) {
    std::vector<BlockEntry> out;
    uint64_t b = file.size();
    for (int k = 0; b >= kTrailerSize; ++k) {
        const uint8_t* t = file.data() + b - kTrailerSize;
        if (std::memcmp(t + 8, kMagic, 4) != 0) break;
        auto le = [](const uint8_t* p) {
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        };
        const uint32_t offset = le(t), size = le(t + 4);
        if (uint64_t(offset) + size > b - kTrailerSize) break;
        out.push_back({k, offset, size});
        b = offset;
    }
    return out;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data, bool executable) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    if (executable && ::chmod(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot make " + path + " executable: " + std::strerror(errno));
}

}  // namespace gdpack
