#include "ShowCheck.h"

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

bool StartsWith(const Bytes& b, size_t at, const char* s) {
    const size_t n = std::strlen(s);
    return b.size() >= at + n && std::memcmp(b.data() + at, s, n) == 0;
}

// Length of the MPEG audio frame whose header is at `at`, or 0 when there is none.
size_t MpegFrameLength(const Bytes& b, size_t at) {
    if (b.size() < at + 4 || b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) return 0;
    const int version = (b[at + 1] >> 3) & 3;   // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (b[at + 1] >> 1) & 3;     // 1: III, 2: II, 3: I
    const int rateIndex = b[at + 2] >> 4, srIndex = (b[at + 2] >> 2) & 3, padding = (b[at + 2] >> 1) & 1;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return 0;
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
    if (layer == 3) return size_t((12 * bitrate / sr + padding) * 4);
    const int64_t perFrame = layer == 1 && !mpeg1 ? 72 : 144;
    return size_t(perFrame * bitrate / sr + padding);
}

// Length of the ADTS (AAC) frame whose header is at `at`, or 0.
size_t AdtsFrameLength(const Bytes& b, size_t at) {
    if (b.size() < at + 7 || b[at] != 0xFF || (b[at + 1] & 0xF6) != 0xF0) return 0;
    if (((b[at + 2] >> 2) & 0x0F) > 12) return 0;   // sampling frequency index
    const size_t len = size_t(b[at + 3] & 0x03) << 11 | size_t(b[at + 4]) << 3 | size_t(b[at + 5] >> 5);
    return len >= 7 ? len : 0;
}

// Two frames in a row, or one that fills the file: a lone sync word says little.
template <class F>
bool Frames(const Bytes& b, size_t at, F length) {
    const size_t n = length(b, at);
    if (n == 0) return false;
    return at + n == b.size() || length(b, at + n) != 0;
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
        return what + " of " + std::to_string(p.Width) + " x " + std::to_string(p.Height) +
               " pixels, more than the player decodes";
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

std::string MusicType(const Bytes& m) {
    if (StartsWith(m, 0, "RIFF") && StartsWith(m, 8, "WAVE")) return "WAV";
    if (StartsWith(m, 0, "fLaC")) return "FLAC";
    if (StartsWith(m, 0, "FORM") && (StartsWith(m, 8, "AIFF") || StartsWith(m, 8, "AIFC"))) return "AIFF";
    if (StartsWith(m, 0, "\x1A\x45\xDF\xA3")) return "Matroska";
    if (StartsWith(m, 0, "OggS") && m.size() >= 27) {
        const size_t segments = m[26], packet = 27 + segments;
        if (StartsWith(m, packet, "\x01vorbis")) return "Ogg Vorbis";
        if (StartsWith(m, packet, "OpusHead")) return "Ogg Opus";
        if (StartsWith(m, packet, "\x7F" "FLAC")) return "Ogg FLAC";
        if (StartsWith(m, packet, "Speex   ")) return "Ogg Speex";
        return "";
    }
    if (StartsWith(m, 4, "ftyp")) {
        for (const char* brand : {"M4A ", "M4B ", "mp41", "mp42", "isom", "iso2"})
            if (StartsWith(m, 8, brand)) return "MP4 audio";
        return "";
    }
    // An ID3v2 tag in front (size in 7-bit bytes, a footer when flagged): the type is what follows.
    if (StartsWith(m, 0, "ID3") && m.size() >= 10 && m[3] >= 2 && m[3] <= 4 &&
        !((m[6] | m[7] | m[8] | m[9]) & 0x80)) {
        const size_t size = size_t(m[6]) << 21 | size_t(m[7]) << 14 | size_t(m[8]) << 7 | m[9];
        const size_t end = 10 + size + ((m[5] & 0x10) ? 10 : 0);
        if (end >= m.size()) return "";
        return MusicType(Bytes(m.begin() + ptrdiff_t(end), m.end()));
    }
    if (Frames(m, 0, MpegFrameLength)) return "MP3";
    if (Frames(m, 0, AdtsFrameLength)) return "AAC";
    return "";
}

std::string MusicProblem(const Bytes& Music, const std::string& MusicName) {
    if (MusicExtension(MusicName).empty())
        return "MusicName \"" + MusicName +
               "\" has no extension the player takes (1 to 10 letters or digits after the last dot)";
    if (!MusicType(Music).empty()) return "";
    std::string why = "its content is no music the player plays (WAV, AIFF, MP3, Ogg Vorbis, Opus or FLAC, "
                      "FLAC, AAC, MP4 audio, Matroska)";
    TPointerStream s(Music.data(), int64_t(Music.size()));
    if (const int type = DetectStreamFormat(&s); type != lxftUnknown)
        why += std::string(": it is a ") + FormatName(type) + " image";
    return why;
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
        if (v >= r.Min && v <= r.Max) continue;
        const uint32_t u = uint32_t(v);
        if (r.SystemColours && u >= 0x80000000u && u <= 0x80000018u) continue;
        char text[200];
        if (r.SystemColours)
            std::snprintf(text, sizeof text, "%s=0x%08X is outside 0x000000..0xFFFFFF (%s) and no system colour",
                          r.Field, u, r.Meaning);
        else
            std::snprintf(text, sizeof text, "%s=%lld is outside %lld..%lld (%s)", r.Field, (long long)v,
                          (long long)r.Min, (long long)r.Max, r.Meaning);
        out.push_back(text);
    }
    return out;
}

}  // namespace gdpack
