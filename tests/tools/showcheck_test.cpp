// The builder's checks: a photo is packed exactly when the player's load shows it, music only
// of a type the player's media stack plays, settings only inside their ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <fstream>

#include <zlib.h>

#include "../imagelib/ManyScanJpeg.h"
#include "LuxIO.h"
#include "ShowCheck.h"
#include "TestDir.h"
#include "grey_jpeg.h"

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
    const gdpack::Bytes jpeg = Read(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg");
    const struct { const char* name; gdpack::Bytes bytes; const char* type; } cases[] = {
        {"WMA (ASF)", B({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9}), ""},
        {"MIDI", Cat({S("MThd"), B({0, 0, 0, 6, 0, 1, 0, 2})}), ""},
        {"QuickTime", Cat({B({0, 0, 0, 32}), S("ftypqt  ")}), ""},
        {"MP3 frames", Cat({mp3, mp3}), "MP3"},
        {"one MP3 frame filling the file", mp3, "MP3"},
        {"an ID3 tag, then MP3", Cat({id3, mp3, mp3}), "MP3"},
        {"an ID3 tag, zeros past its size, then MP3", Cat({id3, gdpack::Bytes(300, 0), mp3, mp3}), "MP3"},
        {"an ID3v2.4 tag with its footer, then MP3",
         Cat({S("ID3"), B({4, 0, 0x10, 0, 0, 0, 5}), gdpack::Bytes(5, 1), S("3DI"), B({4, 0, 0x10, 0, 0, 0, 5}), mp3, mp3}),
         "MP3"},
        {"AAC frames", Cat({adts, adts}), "AAC"},
        {"a JPEG", jpeg, ""},
        {"a WebP (RIFF, not WAVE)", Cat({S("RIFF"), B({36, 0, 0, 0}), S("WEBPVP8 ")}), ""},
        {"empty", {}, ""},
        {"text", S("just some words, no sound"), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(gdpack::MusicType(c.bytes), c.type) << c.name;
    // The fuzz seeds: short tones from real encoders pass, the hand-made files with no audio do not.
    int tones = 0;
    for (const auto& e : std::filesystem::directory_iterator(GD_SOURCE_DIR "/tests/tools/fuzz/seeds")) {
        const bool tone = e.path().stem() == "tone";
        tones += tone;
        EXPECT_EQ(gdpack::MusicType(Read(e.path().string())).empty(), !tone) << e.path();
    }
    EXPECT_GE(tones, 12);

    EXPECT_EQ(gdpack::MusicProblem(Cat({mp3, mp3}), "Song.mp3"), "");
    EXPECT_EQ(gdpack::MusicProblem(Cat({mp3, mp3}), "C:\\Music\\Song.MP3"), "") << "only the extension counts";
    EXPECT_NE(gdpack::MusicProblem(Cat({mp3, mp3}), "Song"), "") << "no extension: the player drops it";
    EXPECT_NE(gdpack::MusicProblem(Cat({mp3, mp3}), "Song.m p3"), "");
    const std::string why = gdpack::MusicProblem(jpeg, "photo.jpg");
    EXPECT_NE(why.find("no music the player plays"), std::string::npos) << why;
    EXPECT_NE(why.find("JPEG image"), std::string::npos) << why;
}

namespace {

gdpack::Bytes Be32(uint32_t v) { return B({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)}); }
gdpack::Bytes Le32(uint32_t v) { return B({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); }
// An MP4 box and a Matroska element (sizes below 127 bytes).
gdpack::Bytes Box(const char* type, const gdpack::Bytes& body) {
    return Cat({Be32(uint32_t(8 + body.size())), S(type), body});
}
gdpack::Bytes Ebml(gdpack::Bytes id, const gdpack::Bytes& body) {
    return Cat({id, B({0x80 | int(body.size())}), body});
}
// WAV format chunk: PCM, mono, 8 kHz, 8 bits.
const gdpack::Bytes kFmt = Cat({S("fmt "), Le32(16), B({1, 0, 1, 0}), Le32(8000), Le32(8000), B({1, 0, 8, 0})});

}  // namespace

// Files of a kind the player plays that hold no sound: each is refused, and named by what
// is missing, where the show would have dropped it and run silent.
TEST(ShowCheck, MusicWithNoAudioIsRefusedByName) {
    const gdpack::Bytes zeroFrame = Cat({B({0xFF, 0xFB, 0x90, 0x00}), gdpack::Bytes(413, 0)});
    const gdpack::Bytes zeroAdts = Cat({B({0xFF, 0xF1, 0x50, 0x80, 100 >> 3, (100 & 7) << 5 | 0x1F, 0xFC}),
                                        gdpack::Bytes(93, 0)});
    // STREAMINFO: blocks of 4096, 44.1 kHz, stereo, 16 bits; marked the last metadata block.
    const gdpack::Bytes streamInfo = Cat({B({0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0}),
                                          B({0x0A, 0xC4, 0x42, 0xF0}), gdpack::Bytes(20, 0)});
    const gdpack::Bytes hdlrVideo = Box("hdlr", Cat({gdpack::Bytes(8, 0), S("vide"), gdpack::Bytes(13, 0)}));
    const gdpack::Bytes ftyp = Box("ftyp", Cat({S("M4A "), Be32(0), S("M4A isom")}));
    const gdpack::Bytes ebmlHeader = Ebml(B({0x1A, 0x45, 0xDF, 0xA3}), Ebml(B({0x42, 0x82}), S("matroska")));
    const gdpack::Bytes videoTrack = Ebml(B({0xAE}), Cat({Ebml(B({0x83}), B({1})), Ebml(B({0x86}), S("V_VP8"))}));
    const gdpack::Bytes comm = Cat({S("COMM"), Be32(18), B({0, 1}), Be32(100), B({0, 16}),
                                    B({0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0})});
    auto ogg = [](const std::string& packet) {
        return Cat({S("OggS"), B({0, 2}), gdpack::Bytes(20, 0), B({1, int(packet.size())}), S(packet)});
    };
    const struct { const char* name; gdpack::Bytes bytes; const char* why; } cases[] = {
        {"RIFF WAVE and no chunk (12 bytes)", Cat({S("RIFF"), Le32(4), S("WAVE")}), "a WAV file with no format chunk"},
        {"a WAV whose data chunk is empty", Cat({S("RIFF"), Le32(32), S("WAVE"), kFmt, S("data"), Le32(0)}),
         "a WAV file with no audio data"},
        {"a WAV with a format and no data chunk", Cat({S("RIFF"), Le32(24), S("WAVE"), kFmt}),
         "a WAV file with no audio data"},
        {"a WAV with no channels", Cat({S("RIFF"), Le32(40), S("WAVE"), S("fmt "), Le32(16), B({1, 0, 0, 0}),
                                        Le32(8000), Le32(8000), B({1, 0, 8, 0}), S("data"), Le32(4), Le32(0)}),
         "a WAV file with an invalid format chunk"},
        {"a WAV data chunk before its format", Cat({S("RIFF"), Le32(36), S("WAVE"), S("data"), Le32(4), Le32(0), kFmt}),
         "before any format chunk"},
        {"an AIFF with a COMM chunk and no sound data", Cat({S("FORM"), Be32(30), S("AIFF"), comm}),
         "an AIFF file with no audio data"},
        {"an AIFF with no COMM chunk", Cat({S("FORM"), Be32(4), S("AIFF")}), "an AIFF file with no COMM chunk"},
        {"fLaC and zeros", Cat({S("fLaC"), gdpack::Bytes(60, 0)}), "a FLAC file whose STREAMINFO is missing or invalid"},
        {"fLaC and a STREAMINFO of zeros", Cat({S("fLaC"), B({0x80, 0, 0, 34}), gdpack::Bytes(34, 0)}),
         "STREAMINFO is missing or invalid"},
        {"a FLAC STREAMINFO and no frame", Cat({S("fLaC"), streamInfo}), "a FLAC file with no audio frames"},
        {"an ftyp box alone", ftyp, "an MP4 file with no audio track"},
        {"an MP4 with a video track only",
         Cat({ftyp, Box("moov", Box("trak", Box("mdia", hdlrVideo)))}), "an MP4 file with no audio track"},
        {"a bare EBML header", ebmlHeader, "a Matroska file with no audio track"},
        {"an EBML header of another document type",
         Ebml(B({0x1A, 0x45, 0xDF, 0xA3}), Ebml(B({0x42, 0x82}), S("other"))), "neither Matroska nor WebM"},
        {"a Matroska video track only",
         Cat({ebmlHeader, Ebml(B({0x18, 0x53, 0x80, 0x67}), Ebml(B({0x16, 0x54, 0xAE, 0x6B}), videoTrack))}),
         "a Matroska file with no audio track"},
        {"two all-zero MPEG frames", Cat({zeroFrame, zeroFrame}), "an MP3 file whose frames hold nothing but zeros"},
        {"an MPEG sync word followed by noise", Cat({Frame(B({0xFF, 0xFB, 0x90, 0x00}), 417), gdpack::Bytes(20, 0x11)}),
         "not followed by a matching one"},
        {"MPEG frames of two sample rates",
         Cat({Frame(B({0xFF, 0xFB, 0x90, 0x00}), 417), Frame(B({0xFF, 0xFB, 0x94, 0x00}), 384)}),
         "not followed by a matching one"},
        {"two all-zero ADTS frames", Cat({zeroAdts, zeroAdts}), "an AAC (ADTS) file whose frames hold nothing but zeros"},
        {"an ID3 tag and nothing after", Cat({S("ID3"), B({3, 0, 0, 0, 0, 0, 5}), gdpack::Bytes(5, 0)}),
         "an ID3 tag with no audio after it"},
        {"an ID3 tag, then text", Cat({S("ID3"), B({3, 0, 0, 0, 0, 0, 0}), S("no sound at all")}),
         "an ID3 tag with no audio after it"},
        {"an Ogg page of Theora", ogg("\x80theora" + std::string(40, '\0')), "an Ogg file with no audio stream"},
        {"an Ogg Vorbis header with no channels", ogg("\x01vorbis" + std::string(30, '\0')), "an Ogg file with no"},
        {"OggS alone", S("OggS"), "an Ogg file with no"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const gdpack::MusicVerdict v = gdpack::InspectMusic(gdpack::MemorySource(c.bytes.data(), c.bytes.size()));
        EXPECT_EQ(v.Type, "");
        EXPECT_NE(v.Problem.find(c.why), std::string::npos) << v.Problem;
        EXPECT_EQ(gdpack::MusicProblem(c.bytes, "x.mp3"), "it is " + v.Problem);
    }
}

namespace {

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

// Files real encoders write (ffmpeg with its own and Debian's codec libraries) pass, read
// from memory and in place from the file alike; video without sound does not.
TEST(ShowCheck, MusicFromRealEncodersPasses) {
    if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    TestDir dir;
    // Each of the three sources is encoded into all its files by one ffmpeg run.
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=0.3";
    const std::string video = "-f lavfi -i testsrc=size=32x32:rate=5:duration=0.4";
    const struct { const char* file; const std::string& input; const char* options; const char* type; } cases[] = {
        {"a.wav", tone, "", "WAV"},
        {"a.aiff", tone, "", "AIFF"},
        {"a.flac", tone, "", "FLAC"},
        {"a.mp3", tone, "-c:a libmp3lame", "MP3"},
        {"tagged.mp3", tone, "-c:a libmp3lame -id3v2_version 3 -metadata title=Tune -metadata artist=Me", "MP3"},
        {"noxing.mp3", tone, "-c:a libmp3lame -write_xing 0", "MP3"},
        {"a.mp2", tone, "-c:a mp2", "MP3"},
        {"a.ogg", tone, "-c:a libvorbis", "Ogg Vorbis"},
        {"a.opus", tone, "-c:a libopus", "Ogg Opus"},
        {"a.oga", tone, "-c:a flac", "Ogg FLAC"},
        {"a.spx", tone, "-ar 16000 -c:a libspeex", "Ogg Speex"},
        {"a.m4a", tone, "-c:a aac", "MP4 audio"},
        {"faststart.m4a", tone, "-c:a aac -movflags +faststart", "MP4 audio"},
        {"a.aac", tone, "-c:a aac", "AAC"},
        {"a.mka", tone, "-c:a libvorbis", "Matroska"},
        {"a.webm", tone, "-c:a libopus", "Matroska"},
        {"film.mp4", video, "-c:v mpeg4", ""},
        {"film.mkv", video, "-c:v mpeg4", ""},
        {"film.ogv", video, "-c:v libtheora", ""},
    };
    for (const std::string* input : {&tone, &video}) {
        std::string cmd = "ffmpeg -nostdin -y -loglevel error " + *input;
        for (const auto& c : cases)
            if (&c.input == input) cmd += std::string(" ") + c.options + " '" + dir.File(c.file) + "'";
        ASSERT_EQ(std::system((cmd + " 2>&1").c_str()), 0) << cmd;
    }
    // Written to a pipe, the WAV's sizes are left unknown.
    const std::string piped = "ffmpeg -nostdin -loglevel error " + tone + " -f wav pipe:1 > '" + dir.File("piped.wav") + "'";
    ASSERT_EQ(std::system(piped.c_str()), 0) << piped;
    std::vector<std::pair<std::string, const char*>> files = {{"piped.wav", "WAV"}};
    for (const auto& c : cases) files.emplace_back(c.file, c.type);
    for (const auto& [file, type] : files) {
        SCOPED_TRACE(file);
        const std::string path = dir.File(file);
        const gdpack::Bytes bytes = Read(path);
        EXPECT_EQ(gdpack::MusicType(bytes), type);
        EXPECT_EQ(gdpack::MusicType(gdpack::FileSource(path)), type);
        const std::string why = gdpack::MusicProblem(gdpack::FileSource(path), file);
        EXPECT_EQ(why.empty(), *type != 0) << why;
        if (*type == 0) {
            EXPECT_NE(why.find(" with no audio"), std::string::npos) << why;
        }
    }
}

namespace {

// A file of any length made up as it is read, counting what is read: the head given, then
// the filler byte, and a tail at the very end.
class MadeUpFile : public gdpack::ByteSource {
public:
    MadeUpFile(gdpack::Bytes Head, uint64_t Size, gdpack::Bytes Tail = {}, uint8_t Fill = 0x5A)
        : head_(std::move(Head)), tail_(std::move(Tail)), size_(Size), fill_(Fill) {}
    uint64_t Size() const override { return size_; }
    size_t Read(uint64_t Offset, uint8_t* Buf, size_t N) const override {
        size_t n = 0;
        for (; n < N && Offset + n < size_; ++n) {
            const uint64_t at = Offset + n, tailAt = size_ - tail_.size();
            Buf[n] = at < head_.size() ? head_[at] : at >= tailAt ? tail_[at - tailAt] : fill_;
        }
        read += n;
        return n;
    }
    mutable uint64_t read = 0;

private:
    gdpack::Bytes head_, tail_;
    uint64_t size_;
    uint8_t fill_;
};

}  // namespace

// ID3 tags piled up in front are skipped one after another, without copies, up to a bound;
// past it the file is refused by name. Either way only the tags' headers are read.
TEST(ShowCheck, PiledUpId3TagsAreSkippedAndBounded) {
    const gdpack::Bytes tag = Cat({S("ID3"), B({3, 0, 0, 0, 0, 0, 0})});
    const gdpack::Bytes mp3 = Frame(B({0xFF, 0xFB, 0x90, 0x00}), 417);
    auto tags = [&](int n) {
        gdpack::Bytes out;
        for (int i = 0; i < n; ++i) out.insert(out.end(), tag.begin(), tag.end());
        return out;
    };
    EXPECT_EQ(gdpack::MusicType(Cat({tags(gdpack::kMaxId3Tags), mp3, mp3})), "MP3");
    for (int n : {gdpack::kMaxId3Tags + 1, 3000, 30000}) {
        SCOPED_TRACE(n);
        const gdpack::Bytes file = Cat({tags(n), mp3, mp3});
        MadeUpFile source(file, file.size());
        const gdpack::MusicVerdict v = gdpack::InspectMusic(source);
        EXPECT_EQ(v.Type, "");
        EXPECT_EQ(v.Problem, "a file with more than " + std::to_string(gdpack::kMaxId3Tags) + " ID3 tags in a row");
        EXPECT_LE(source.read, 10u * (gdpack::kMaxId3Tags + 1)) << "only the tags' headers are read";
    }
}

// A long music file is judged by its headers: a few kilobytes read, whatever its length.
TEST(ShowCheck, LongMusicIsCheckedByItsHeadersOnly) {
    const uint64_t huge = uint64_t(3) << 30;
    // An MP4 whose media data come first (moov at the end, as encoders write by default).
    const gdpack::Bytes hdlr = Box("hdlr", Cat({gdpack::Bytes(8, 0), S("soun"), gdpack::Bytes(13, 0)}));
    const gdpack::Bytes moov = Box("moov", Box("trak", Box("mdia", hdlr)));
    const gdpack::Bytes ftyp = Box("ftyp", Cat({S("M4A "), Be32(0), S("M4A isom")}));
    const gdpack::Bytes mdat = Cat({Be32(1), S("mdat"), Be32(0), Be32(uint32_t(huge - ftyp.size() - moov.size()))});
    const gdpack::Bytes mp3 = Frame(B({0xFF, 0xFB, 0x90, 0x00}), 417);
    const struct { const char* name; MadeUpFile file; const char* type; } cases[] = {
        {"WAV", {Cat({S("RIFF"), Le32(0xFFFFFFFF), S("WAVE"), kFmt, S("data"), Le32(0xFFFFFFFF)}), huge}, "WAV"},
        {"MP4", {Cat({ftyp, mdat}), huge, moov}, "MP4 audio"},
        {"MP3", {Cat({mp3, mp3}), huge}, "MP3"},
        {"MP4 with no moov", {Cat({ftyp, mdat}), huge}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gdpack::InspectMusic(c.file).Type, c.type);
        EXPECT_LT(c.file.read, 16u * 1024);
    }
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

// Numbers past 32 bits are never wrapped into range: each is refused, named as it was
// given; what was allowed stays allowed (-1 for Duration, hex, system colours).
TEST(ShowCheck, NumbersThatWouldWrapAreRefusedAsGiven) {
    const char* wrapping[] = {"4294967295", "0xFFFFFFFF", "2147483648", "-2147483649", "0x1FFFFFFFF",
                              "99999999999999999999", "-99999999999999999999", "0xFFFFFFFFFFFFFFFFFFFF"};
    for (const char* field : {"Duration", "Effect", "EffectDuration", "NamePosition", "NameSize", "Random",
                              "Loop", "AutoFit", "Background", "NameColor"})
        for (const char* value : wrapping) {
            // For a colour 2147483648 is 0x80000000, a system colour.
            if (std::string(field).find("Color") != std::string::npos || std::string(field) == "Background")
                if (std::string(value) == "2147483648") continue;
            SCOPED_TRACE(std::string(field) + "=" + value);
            const std::string why = gdpack::SettingValueProblem(field, value);
            EXPECT_EQ(why.rfind(std::string(field) + "=" + value + " is outside ", 0), 0u) << why;
            // Nor does the value reach the record as something in range.
            gdpack::Block0 b = gdpack::NewShowSettings();
            const gdpack::Block0 before = b;
            if (gdpack::SetBlock0Field(b, field, value)) {
                EXPECT_FALSE(gdpack::SettingProblems(b).empty());
            } else {
                EXPECT_EQ(gdpack::EncodeBlock0(b), gdpack::EncodeBlock0(before));
            }
        }
    const struct { const char* field; const char* value; int32_t stored; } allowed[] = {
        {"Duration", "-1", -1}, {"Duration", "2147483", 2147483}, {"Duration", "0x10", 16},
        {"Effect", "-0x0", 0}, {"Background", "0x80000005", int32_t(0x80000005)},
        {"NameColor", "-2147483643", int32_t(0x80000005)}, {"NameBackground", "0xFFFFFF", 0xFFFFFF},
        {"Random", "0x1", 1},
    };
    for (const auto& a : allowed) {
        SCOPED_TRACE(std::string(a.field) + "=" + a.value);
        EXPECT_EQ(gdpack::SettingValueProblem(a.field, a.value), "");
        gdpack::Block0 b = gdpack::NewShowSettings(), want = b;
        ASSERT_TRUE(gdpack::SetBlock0Field(b, a.field, a.value));
        EXPECT_TRUE(gdpack::SettingProblems(b).empty());
        gdpack::SetBlock0Field(want, a.field, std::to_string(a.stored));
        EXPECT_EQ(gdpack::EncodeBlock0(b), gdpack::EncodeBlock0(want));
    }
    // PhotoCount has no range, but still no wrap.
    gdpack::Block0 b;
    EXPECT_FALSE(gdpack::SetBlock0Field(b, "PhotoCount", "4294967295"));
    EXPECT_TRUE(gdpack::SetBlock0Field(b, "PhotoCount", "-1"));
    EXPECT_EQ(b.PhotoCount, -1);
    for (const char* notANumber : {"", "-", "0x", "abc", "1e3", "+5", "--1", "12 "})
        EXPECT_FALSE(gdpack::SetBlock0Field(b, "Duration", notANumber)) << notANumber;
}

// A photo past the decoders' limit is left out as too large, with its size and the limit,
// not as unreadable; the same kind of photo within the limit is packed.
TEST(ShowCheck, APhotoTooLargeToShowIsNamedSo) {
    const std::string limit = "more than the " + std::to_string(LXMaxPixels) + " pixels the player decodes";
    const gdpack::Bytes big = GreyJpeg(20000, 20000);
    EXPECT_EQ(gdpack::PhotoProblem(big), "a JPEG too large to show: 20000 x 20000 pixels, " + limit);
    // The maker writes real JPEGs: the player and libjpeg's own tool decode a small one.
    const gdpack::Bytes small = GreyJpeg(64, 48);
    EXPECT_EQ(gdpack::PhotoProblem(small), "");
    if (Have("djpeg")) {
        TestDir dir;
        gdpack::WriteFileBytes(dir.File("grey.jpg"), small, false);
        const std::string cmd = "djpeg -pnm '" + dir.File("grey.jpg") + "' > '" + dir.File("grey.pgm") + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const gdpack::Bytes pgm = Read(dir.File("grey.pgm"));
        const std::string head = "P5\n64 48\n255\n";
        ASSERT_EQ(pgm.size(), head.size() + 64 * 48);
        EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + ptrdiff_t(head.size())), head);
        EXPECT_EQ(std::count(pgm.begin() + ptrdiff_t(head.size()), pgm.end(), 128), 64 * 48) << "mid grey";
    }
    EXPECT_EQ(gdpack::PhotoProblem(GreyJpeg(16384, 16385)),
              "a JPEG too large to show: 16384 x 16385 pixels, " + limit);

    // Headers of the other formats claiming 20000 x 20000, the rest zeros.
    const uint32_t w = 20000, h = 20000;
    auto le16 = [](gdpack::Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto le32 = [](gdpack::Bytes& b, uint32_t v) { gdpack::AppendLE32(b, v); };
    auto chunk = [](gdpack::Bytes& png, const gdpack::Bytes& typeAndData) {
        const gdpack::Bytes crc = Be32(uint32_t(crc32(0, typeAndData.data(), uInt(typeAndData.size()))));
        png = Cat({png, Be32(uint32_t(typeAndData.size() - 4)), typeAndData, crc});
    };
    gdpack::Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(png, Cat({S("IHDR"), Be32(w), Be32(h), B({8, 0, 0, 0, 0})}));
    chunk(png, Cat({S("IDAT"), B({0x78, 0x9C, 0x03, 0, 0, 0, 0, 1})}));
    chunk(png, S("IEND"));
    gdpack::Bytes bmp = {'B', 'M'};
    for (uint32_t v : {0u, 0u, 54u, 40u, w, h}) le32(bmp, v);
    le16(bmp, 1);
    le16(bmp, 24);
    gdpack::Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0};
    for (uint32_t tag : {256u, 257u, 273u, 279u}) {
        le16(tiff, tag);
        le16(tiff, 4);
        le32(tiff, 1);
        le32(tiff, tag == 256 ? w : tag == 257 ? h : tag == 273 ? 100 : 1000);
    }
    gdpack::Bytes tga(18, 0);
    tga[2] = 3, tga[12] = uint8_t(w), tga[13] = uint8_t(w >> 8), tga[14] = uint8_t(h), tga[15] = uint8_t(h >> 8);
    tga[16] = 8;
    gdpack::Bytes pcx(128, 0);
    pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 1;
    pcx[8] = uint8_t(w - 1), pcx[9] = uint8_t((w - 1) >> 8), pcx[10] = uint8_t(h - 1), pcx[11] = uint8_t((h - 1) >> 8);
    pcx[66] = uint8_t(w), pcx[67] = uint8_t(w >> 8);
    const struct { const char* what; gdpack::Bytes head; } others[] = {
        {"a PNG", png}, {"a BMP", bmp}, {"a TIFF", tiff}, {"a TGA", tga}, {"a PCX", pcx},
        {"a PNM", S("P5\n20000 20000\n255\n")},
    };
    for (const auto& o : others) {
        gdpack::Bytes file = o.head;
        file.resize(file.size() + 5000, 0);
        EXPECT_EQ(gdpack::PhotoProblem(file), std::string(o.what) + " too large to show: 20000 x 20000 pixels, " + limit);
    }
}
