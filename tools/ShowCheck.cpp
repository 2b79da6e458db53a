#include "ShowCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "LuxIOCodec.h"
#include "ShowLoop.h"

namespace gdpack {

namespace {

const char* FormatName(int FileType) {
    switch (FileType) {
    case lxftTIFF: return "TIFF";
    case lxftGIF: return "GIF";
    case lxftJPEG: return "JPEG";
    case lxftPCX: return "PCX";
    case lxftBMP: return "BMP";
    case lxftICO: return "ICO";
    case lxftCUR: return "CUR";
    case lxftPNG: return "PNG";
    case lxftWMF: return "WMF";
    case lxftEMF: return "EMF";
    case lxftTGA: return "TGA";
    case lxftPXM: return "PNM";
    default: return "image";
    }
}

}  // namespace

std::string PhotoProblem(const Bytes& Image) {
    if (Image.empty()) return "it is empty";
    TPointerStream s(Image.data(), int64_t(Image.size()));
    const int type = DetectStreamFormat(&s);
    if (type == lxftUnknown)
        return "its content is no image the player reads (JPEG, PNG, TIFF, BMP, PCX, TGA, PNM, ICO, CUR)";
    const std::string name = FormatName(type);
    const std::string what = (name[0] == 'E' || name[0] == 'I' ? "an " : "a ") + name;
    if (type == lxftGIF) return what + ": the player cannot read GIF pixel data (it has no LZW decoder)";
    const TLXCodec* codec = FindCodec(type);
    if (!codec || !codec->Decode) return what + ": the player cannot show it from a show file";
    TLuxIO io(nullptr);
    TBitmap bitmap;
    io.SetAttachedBitmap(&bitmap);
    try {
        s.SetPosition(0);
        io.ParamsFromStreamFormat(&s, type);
    } catch (const std::exception& e) {
        return what + " whose header cannot be read (" + e.what() + ")";
    }
    const TLXIOParams& p = *io.Params();
    if (type == lxftTIFF && p.TiffCompression == 5)
        return what + " compressed with LZW, which the player cannot read (it has no LZW decoder)";
    if (io.Aborting || p.FileType == 0 || p.Width < 1 || p.Height < 1)
        return what + " whose header cannot be read";
    if (int64_t(p.Width) * p.Height > LXMaxPixels)
        return what + " too large to show: " + std::to_string(p.Width) + " x " + std::to_string(p.Height) +
               " pixels, more than the " + std::to_string(LXMaxPixels) + " pixels the player decodes";
    // Decoded whole, as the show will: a header that reads does not promise a picture (a
    // compression, colour space or layout the reader refuses, data cut short).
    try {
        s.SetPosition(0);
        io.LoadFromStreamFormat(&s, type);
    } catch (const std::exception& e) {
        return what + " whose picture cannot be decoded (" + e.what() + ")";
    }
    if (io.Aborting || bitmap.Width() < 1 || bitmap.Height() < 1)
        return what + " whose picture cannot be decoded (its header reads, but its data does not)";
    return "";
}

std::string MusicType(const ByteSource& Music) { return InspectMusic(Music).Type; }

std::string MusicType(const Bytes& Music) { return MusicType(MemorySource(Music.data(), Music.size())); }

std::string MusicProblem(const ByteSource& Music, const std::string& MusicName) {
    if (MusicExtension(MusicName).empty())
        return "MusicName \"" + MusicName +
               "\" has no extension the player takes (1 to 10 letters or digits after the last dot)";
    const MusicVerdict v = InspectMusic(Music);
    if (!v.Type.empty()) return "";
    if (!v.Problem.empty()) return "it is " + v.Problem;
    std::string why = "its content is no music the player plays (WAV, AIFF, MP3, Ogg Vorbis, Opus or FLAC, "
                      "FLAC, AAC, MP4 audio, Matroska)";
    // Enough of the start to tell an image by.
    Bytes head(size_t(std::min<uint64_t>(Music.Size(), 4096)));
    head.resize(Music.Read(0, head.data(), head.size()));
    TPointerStream s(head.data(), int64_t(head.size()));
    if (const int type = DetectStreamFormat(&s); type != lxftUnknown)
        why += std::string(": it is a ") + FormatName(type) + " image";
    return why;
}

std::string MusicProblem(const Bytes& Music, const std::string& MusicName) {
    return MusicProblem(MemorySource(Music.data(), Music.size()), MusicName);
}

const std::vector<FieldRange>& FieldRanges() {
    static const std::vector<FieldRange> ranges = {
        // The longest wait the player's timer holds, in whole seconds.
        {"Duration", -1, 2147483, "seconds a photo stays; -1 until a key"},
        {"Effect", 0, 7, "the 8 transitions"},
        // 0 changes the photo at once; the settings dialog offers 1..60.
        {"EffectDuration", 0, 60, "seconds of the transition"},
        {"NamePosition", 0, 5, "the 6 title positions"},
        {"NameSize", 4, 128, "points, as the settings dialog offers"},
        {"Background", 0, 0xFFFFFF, "a colour 0x00BBGGRR", true},
        {"NameBackground", 0, 0xFFFFFF, "a colour 0x00BBGGRR", true},
        {"NameColor", 0, 0xFFFFFF, "a colour 0x00BBGGRR", true},
        {"Random", 0, 1, "0 or 1"},
        {"AutoFit", 0, 1, "0 or 1"},
        {"Showname", 0, 1, "0 or 1"},
        {"Loop", 0, 1, "0 or 1"},
        {"NameShowBackground", 0, 1, "0 or 1"},
    };
    return ranges;
}

namespace {

bool InRange(const FieldRange& r, int64_t v) {
    if (v >= r.Min && v <= r.Max) return true;
    // The system colours, as their bit pattern or as the negative int32 the record holds.
    return r.SystemColours && ((v >= 0x80000000ll && v <= 0x80000018ll) ||
                               (v >= INT32_MIN && v <= int64_t(INT32_MIN) + 0x18));
}

std::string RangeProblem(const FieldRange& r, const std::string& shown) {
    char range[64];
    if (r.SystemColours)
        return std::string(r.Field) + "=" + shown + " is outside 0x000000..0xFFFFFF (" + r.Meaning +
               ") and no system colour";
    std::snprintf(range, sizeof range, "%lld..%lld", (long long)r.Min, (long long)r.Max);
    return std::string(r.Field) + "=" + shown + " is outside " + range + " (" + r.Meaning + ")";
}

}  // namespace

std::string SettingValueProblem(const std::string& Field, const std::string& Value) {
    int64_t v = 0;
    if (!ParseNumber(Value, v)) return "";
    for (const auto& r : FieldRanges())
        if (Field == r.Field) return InRange(r, v) ? "" : RangeProblem(r, Value);
    return "";
}

std::vector<std::string> SettingProblems(const Block0& b) {
    auto value = [&](const std::string& f) -> int64_t {
        if (f == "Duration") return b.Duration;
        if (f == "Effect") return b.Effect;
        if (f == "EffectDuration") return b.EffectDuration;
        if (f == "NamePosition") return b.NamePosition;
        if (f == "NameSize") return b.NameSize;
        if (f == "Background") return b.Background;
        if (f == "NameBackground") return b.NameBackground;
        if (f == "NameColor") return b.NameColor;
        if (f == "Random") return b.Random;
        if (f == "AutoFit") return b.AutoFit;
        if (f == "Showname") return b.Showname;
        if (f == "Loop") return b.Loop;
        return b.NameShowBackground;
    };
    std::vector<std::string> out;
    for (const auto& r : FieldRanges()) {
        const int64_t v = value(r.Field);
        if (InRange(r, v)) continue;
        char shown[32];
        if (r.SystemColours) std::snprintf(shown, sizeof shown, "0x%08X", uint32_t(v));
        else std::snprintf(shown, sizeof shown, "%lld", (long long)v);
        out.push_back(RangeProblem(r, shown));
    }
    return out;
}

}  // namespace gdpack
