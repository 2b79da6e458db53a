// The builder's checks: a photo is packed exactly when the player's load shows it, music only
// of a type the player's media stack plays, settings only inside their ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "../imagelib/ManyScanJpeg.h"
#include "LuxIO.h"
#include "ShowCheck.h"

namespace {

gdpack::Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return gdpack::Bytes(std::istreambuf_iterator<char>(in), {});
}

// What the player's show does with a photo block's image: detect the format from the
// content, decode into the view's bitmap, and show it when that gave a picture.
bool PlayerShows(const gdpack::Bytes& image) {
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    TPointerStream s(image.data(), int64_t(image.size()));
    try {
        io.LoadFromStream(&s);
    } catch (const std::exception&) {
        return false;
    }
    return !io.Aborting && bitmap.Width() >= 1 && bitmap.Height() >= 1;
}

}  // namespace

// Every image fixture of the library (every format, broken ones among them, LZW TIFF, GIF,
// metafiles) and a few made here: the builder packs a file exactly when the player shows it.
TEST(ShowCheck, APhotoIsPackedExactlyWhenThePlayerShowsIt) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(GD_SOURCE_DIR "/tests/imagelib/fixtures")) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && ext != ".py" && ext != ".sh" && ext != ".txt") files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 100u);
    std::vector<std::pair<std::string, gdpack::Bytes>> cases;
    for (const auto& f : files) cases.emplace_back(f.substr(f.find("fixtures/")), Read(f));
    cases.push_back({"empty", {}});
    cases.push_back({"WebP", {'R', 'I', 'F', 'F', 20, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' '}});
    gdpack::Bytes noise(3000);
    uint32_t x = 12345;
    for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    cases.push_back({"random bytes", noise});
    gdpack::Bytes cut = Read(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg");
    cut.resize(40);
    cases.push_back({"a JPEG cut inside its header", cut});
    // The decoder's bound on scans holds for the builder too: 100 scans pack, 101 do not.
    for (const int scans : {100, 101}) {
        const std::vector<uint8_t> j = many_scans::Make(64, 64, scans);
        cases.push_back({"a progressive JPEG of " + std::to_string(scans) + " scans", gdpack::Bytes(j.begin(), j.end())});
    }
    int packed = 0;
    for (const auto& [name, bytes] : cases) {
        const std::string why = gdpack::PhotoProblem(bytes);
        EXPECT_EQ(why.empty(), PlayerShows(bytes)) << name << ": " << why;
        packed += why.empty();
    }
    EXPECT_GT(packed, 50) << "most fixtures are photos the player shows";
    EXPECT_TRUE(gdpack::PhotoProblem(cases[cases.size() - 2].second).empty());
    EXPECT_FALSE(gdpack::PhotoProblem(cases.back().second).empty());
}

namespace {

gdpack::Bytes B(std::initializer_list<int> v) {
    gdpack::Bytes b;
    for (int x : v) b.push_back(uint8_t(x));
    return b;
}
gdpack::Bytes S(const std::string& s) { return gdpack::Bytes(s.begin(), s.end()); }
gdpack::Bytes Cat(std::vector<gdpack::Bytes> parts) {
    gdpack::Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
gdpack::Bytes Frame(gdpack::Bytes header, size_t length) {
    header.resize(length, 0x55);
    return header;
}

}  // namespace

TEST(ShowCheck, MusicIsToldByItsContent) {
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417-byte frames; ADTS AAC frames of 100 bytes.
    const gdpack::Bytes mp3 = Frame(B({0xFF, 0xFB, 0x90, 0x00}), 417);
    const gdpack::Bytes adts = Frame(B({0xFF, 0xF1, 0x50, 0x80, 100 >> 3, (100 & 7) << 5 | 0x1F, 0xFC}), 100);
    const gdpack::Bytes id3 = Cat({S("ID3"), B({3, 0, 0, 0, 0, 0, 5}), gdpack::Bytes(5, 0)});
    auto ogg = [](const std::string& packet) {
        return Cat({S("OggS"), gdpack::Bytes(22, 0), B({1, int(packet.size())}), S(packet)});
    };
    const gdpack::Bytes jpeg = Read(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg");
    const struct { const char* name; gdpack::Bytes bytes; const char* type; } cases[] = {
        {"WAV", Cat({S("RIFF"), B({36, 0, 0, 0}), S("WAVEfmt ")}), "WAV"},
        {"FLAC", Cat({S("fLaC"), B({0, 0, 0, 0x22})}), "FLAC"},
        {"AIFF", Cat({S("FORM"), B({0, 0, 1, 0}), S("AIFFCOMM")}), "AIFF"},
        {"Matroska", B({0x1A, 0x45, 0xDF, 0xA3, 0x9F, 0x42, 0x86}), "Matroska"},
        {"WMA (ASF)", B({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9}), ""},
        {"MIDI", Cat({S("MThd"), B({0, 0, 0, 6, 0, 1, 0, 2})}), ""},
        {"Ogg Vorbis", ogg("\x01vorbis"), "Ogg Vorbis"},
        {"Ogg Opus", ogg("OpusHead"), "Ogg Opus"},
        {"Ogg FLAC", ogg("\x7F" "FLAC"), "Ogg FLAC"},
        {"Ogg Theora: no audio the player decodes", ogg("\x80theora"), ""},
        {"M4A", Cat({B({0, 0, 0, 32}), S("ftypM4A ")}), "MP4 audio"},
        {"QuickTime", Cat({B({0, 0, 0, 32}), S("ftypqt  ")}), ""},
        {"MP3 frames", Cat({mp3, mp3}), "MP3"},
        {"one MP3 frame filling the file", mp3, "MP3"},
        {"an ID3 tag, then MP3", Cat({id3, mp3, mp3}), "MP3"},
        {"an ID3 tag and nothing after", id3, ""},
        {"a sync word followed by noise", Cat({mp3, gdpack::Bytes(20, 0x11)}), ""},
        {"AAC frames", Cat({adts, adts}), "AAC"},
        {"a JPEG", jpeg, ""},
        {"a WebP (RIFF, not WAVE)", Cat({S("RIFF"), B({36, 0, 0, 0}), S("WEBPVP8 ")}), ""},
        {"empty", {}, ""},
        {"text", S("just some words, no sound"), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(gdpack::MusicType(c.bytes), c.type) << c.name;

    EXPECT_EQ(gdpack::MusicProblem(Cat({mp3, mp3}), "Song.mp3"), "");
    EXPECT_EQ(gdpack::MusicProblem(Cat({mp3, mp3}), "C:\\Music\\Song.MP3"), "") << "only the extension counts";
    EXPECT_NE(gdpack::MusicProblem(Cat({mp3, mp3}), "Song"), "") << "no extension: the player drops it";
    EXPECT_NE(gdpack::MusicProblem(Cat({mp3, mp3}), "Song.m p3"), "");
    const std::string why = gdpack::MusicProblem(jpeg, "photo.jpg");
    EXPECT_NE(why.find("no music the player plays"), std::string::npos) << why;
    EXPECT_NE(why.find("JPEG image"), std::string::npos) << why;
}

TEST(ShowCheck, SettingsOutsideTheirRangesAreNamed) {
    EXPECT_TRUE(gdpack::SettingProblems(gdpack::NewShowSettings()).empty()) << "the defaults";
    struct Case { const char* field; int64_t value; bool ok; };
    const Case cases[] = {
        {"Duration", -1, true}, {"Duration", -2, false}, {"Duration", 0, true}, {"Duration", 2147483, true},
        {"Duration", 2147484, false},
        {"Effect", 0, true}, {"Effect", 7, true}, {"Effect", 8, false}, {"Effect", 99, false}, {"Effect", -1, false},
        {"EffectDuration", 0, true}, {"EffectDuration", 60, true}, {"EffectDuration", 61, false},
        {"EffectDuration", -1, false},
        {"NamePosition", 5, true}, {"NamePosition", 6, false},
        {"NameSize", 4, true}, {"NameSize", 3, false}, {"NameSize", 128, true}, {"NameSize", 200, false},
        {"Background", 0xFFFFFF, true}, {"Background", 0x1000000, false},
        {"NameColor", int32_t(0x80000005), true}, {"NameColor", int32_t(0x80000018), true},
        {"NameColor", int32_t(0x80000019), false}, {"NameBackground", -1, false},
        {"Random", 1, true}, {"Random", 2, false}, {"Loop", 255, false}, {"AutoFit", 0, true},
        {"Showname", 3, false}, {"NameShowBackground", 9, false},
    };
    for (const auto& c : cases) {
        gdpack::Block0 b = gdpack::NewShowSettings();
        ASSERT_TRUE(gdpack::SetBlock0Field(b, c.field, std::to_string(c.value))) << c.field;
        const auto problems = gdpack::SettingProblems(b);
        EXPECT_EQ(problems.empty(), c.ok) << c.field << "=" << c.value;
        if (!c.ok && !problems.empty()) {
            EXPECT_EQ(problems.size(), 1u);
            EXPECT_EQ(problems[0].rfind(std::string(c.field) + "=", 0), 0u) << problems[0];
        }
    }
}
