// `gdpack build` as a user runs it: what it refuses, what it leaves out and names, and what
// the show it writes holds.
#include <gtest/gtest.h>

#include <filesystem>

#include "LuxIOCodec.h"
#include "SaverFixture.h"
#include "grey_jpeg.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What a built show holds: its photo count, the photos' titles in show order (block N+1
// first), the music block's size.
struct Show {
    int32_t photoCount = -1;
    std::vector<std::string> titles;
    uint32_t musicSize = 0;
};

Show ReadShow(const std::string& path) {
    Show s;
    const gdpack::Bytes file = gdpack::ReadFileBytes(path);
    const auto blocks = gdpack::ListBlocks(file);
    if (blocks.size() < 2) return s;
    s.photoCount = int32_t(Le32(file.data() + blocks[0].Offset));
    s.musicSize = blocks[1].Size;
    for (size_t k = blocks.size() - 1; k >= 2; --k) {
        const uint8_t* p = file.data() + blocks[k].Offset;
        s.titles.emplace_back(reinterpret_cast<const char*>(p + 4), Le32(p));
    }
    return s;
}

}  // namespace

using GdpackBuild = SaverRun;

TEST_F(GdpackBuild, PacksOnlyWhatThePlayerCanShowAndNamesTheRest) {
    gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(8, 6, 255, 0, 0), false);
    gdpack::WriteFileBytes(dir.File("blue.bmp"), SolidBmp(6, 8, 0, 0, 255), false);
    gdpack::Bytes noise(3000);
    uint32_t x = 99;
    for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    gdpack::WriteFileBytes(dir.File("noise.jpg"), noise, false);
    gdpack::WriteFileBytes(dir.File("photo.webp"),
                           {'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' ', 0, 0}, false);
    std::filesystem::copy_file(GD_SOURCE_DIR "/tests/imagelib/fixtures/detect/tiny.gif", dir.File("anim.gif"));
    std::filesystem::copy_file(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg", dir.File("cover.jpg"));
    gdpack::WriteFileBytes(dir.File("tune.wav"), SilentWav(800), false);
    gdpack::WriteFileBytes(dir.File("huge.jpg"), GreyJpeg(20000, 20000), false);
    gdpack::WriteFileBytes(dir.File("empty.wav"), {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, false);
    gdpack::Bytes tags;
    for (int i = 0; i < 3000; ++i) tags.insert(tags.end(), {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
    gdpack::WriteFileBytes(dir.File("tags.mp3"), tags, false);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> stderrHas;   // every file skipped or refused is named
        std::vector<std::string> titles;      // of the show written; none when nothing is
        const char* summary;                  // part of the line on stdout
    };
    const std::vector<Case> cases = {
        {"random bytes", {dir.File("noise.jpg")}, 1,
         {"skipped " + dir.File("noise.jpg") + ": its content is no image", "nothing written"}, {}, nullptr},
        {"a WebP", {dir.File("photo.webp")}, 1, {"skipped " + dir.File("photo.webp"), "nothing written"}, {}, nullptr},
        {"no photo at all", {}, 1, {"no photo given", "nothing written"}, {}, nullptr},
        {"a setting outside its range", {dir.File("red.bmp"), "--set", "Effect=99"}, 2,
         {"Effect=99 is outside 0..7", "nothing written"}, {}, nullptr},
        {"two settings outside their ranges", {dir.File("red.bmp"), "--set", "NameSize=200", "--set", "Loop=2"}, 2,
         {"NameSize=200 is outside 4..128", "Loop=2 is outside 0..1"}, {}, nullptr},
        {"numbers that would wrap to -1",
         {dir.File("red.bmp"), "--set", "Duration=4294967295", "--set", "Effect=0xFFFFFFFF"}, 2,
         {"Duration=4294967295 is outside -1..2147483", "Effect=0xFFFFFFFF is outside 0..7", "nothing written"}, {},
         nullptr},
        {"a JPEG as the music", {dir.File("red.bmp"), "--music", dir.File("cover.jpg")}, 1,
         {dir.File("cover.jpg") + " cannot be the music", "JPEG image", "nothing written"}, {}, nullptr},
        {"a WAV with no audio as the music", {dir.File("red.bmp"), "--music", dir.File("empty.wav")}, 1,
         {dir.File("empty.wav") + " cannot be the music: it is a WAV file with no format chunk", "nothing written"},
         {}, nullptr},
        {"3000 ID3 tags piled up as the music", {dir.File("red.bmp"), "--music", dir.File("tags.mp3")}, 1,
         {dir.File("tags.mp3") + " cannot be the music: it is a file with more than 16 ID3 tags in a row"}, {},
         nullptr},
        {"music under a name without extension",
         {dir.File("red.bmp"), "--music", dir.File("tune.wav"), "--set", "MusicName=tune"}, 1,
         {dir.File("tune.wav") + " cannot be the music", "MusicName \"tune\""}, {}, nullptr},
        {"a music name without music", {dir.File("red.bmp"), "--set", "MusicName=song.mp3"}, 2,
         {"no --music file"}, {}, nullptr},
        {"good and bad photos mixed",
         {dir.File("noise.jpg"), dir.File("red.bmp"), dir.File("anim.gif"), "--photo", "Blau", "c", dir.File("blue.bmp"),
          dir.File("missing.png"), "--music", dir.File("tune.wav")},
         0,
         {"skipped " + dir.File("noise.jpg"), "skipped " + dir.File("anim.gif") + ": a GIF",
          "skipped " + dir.File("missing.png") + ": it cannot be read"},
         {"red", "Blau"}, "2 photos (3 skipped), music tune.wav (WAV, "},
        {"a photo too large to show", {dir.File("huge.jpg"), dir.File("red.bmp")}, 0,
         {"skipped " + dir.File("huge.jpg") + ": a JPEG too large to show: 20000 x 20000 pixels, more than the " +
          std::to_string(LXMaxPixels) + " pixels the player decodes"},
         {"red"}, "1 photo (1 skipped), no music"},
        {"all good", {dir.File("cover.jpg"), dir.File("red.bmp")}, 0, {}, {"cover", "red"}, "2 photos, no music"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.File("show" + std::to_string(++n) + ".exe");
        std::vector<std::string> args = {"build", "-o", out, "--base", GD_PLAYER_EXE};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const std::string err = dir.File("err" + std::to_string(n));
        ChildProcess p(GD_GDPACK_EXE, args, {}, err, true);
        const std::string line = p.ReadLine();
        EXPECT_EQ(p.Wait(), c.exitCode);
        const std::string text = ReadText(err);
        for (const auto& s : c.stderrHas) EXPECT_TRUE(Contains(text, s)) << s << " in\n" << text;
        if (c.stderrHas.empty()) EXPECT_EQ(text, "");
        if (c.titles.empty()) {
            EXPECT_FALSE(std::filesystem::exists(out)) << "nothing written";
            EXPECT_EQ(line, "") << "no summary";
            continue;
        }
        const Show show = ReadShow(out);
        EXPECT_EQ(show.titles, c.titles);
        EXPECT_EQ(show.photoCount, int32_t(c.titles.size()));
        EXPECT_EQ(show.musicSize, Contains(c.summary, "music tune.wav") ? SilentWav(800).size() : 0u);
        EXPECT_TRUE(Contains(line, "gdpack: wrote " + out + ": " + c.summary)) << line;
    }
}

// What it writes, the player shows: every photo of a mixed build, none skipped at show time.
TEST_F(GdpackBuild, TheShowItWritesShowsEveryPhoto) {
    gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(8, 6, 255, 0, 0), false);
    gdpack::WriteFileBytes(dir.File("bad.jpg"), gdpack::Bytes(40, 0x5A), false);
    std::filesystem::copy_file(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/comp2.jpg", dir.File("comp2.jpg"));
    std::filesystem::copy_file(GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg", dir.File("cover.jpg"));
    ChildProcess pack(GD_GDPACK_EXE,
                      {"build", "-o", dir.File("Mix.exe"), "--base", GD_PLAYER_EXE, dir.File("red.bmp"),
                       dir.File("bad.jpg"), dir.File("comp2.jpg"), dir.File("cover.jpg"), "--set", "Duration=1",
                       "--set", "EffectDuration=0", "--set", "Loop=0"},
                      {}, dir.File("pack.err"));
    ASSERT_EQ(pack.Wait(), 0) << ReadText(dir.File("pack.err"));
    EXPECT_TRUE(Contains(ReadText(dir.File("pack.err")), "comp2.jpg: a JPEG whose picture cannot be decoded"));
    // A slideshow without Loop shows its photos once and ends by itself.
    const std::string log = dir.File("show.log");
    ChildProcess p(dir.File("Mix.exe"), {"x"}, Env(log), log + ".err");
    EXPECT_EQ(p.Wait(), 0) << ReadText(log) << ReadText(log + ".err");
    const std::string text = ReadText(log);
    const size_t red = text.find("show photo 3 red"), cover = text.find("show photo 2 cover");
    EXPECT_NE(red, std::string::npos) << text;
    EXPECT_NE(cover, std::string::npos) << text;
    EXPECT_LT(red, cover) << text;
    EXPECT_TRUE(Contains(text, "show end")) << text;
    EXPECT_FALSE(Contains(text, "show skip")) << text;
}
