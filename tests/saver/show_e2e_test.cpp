// The show end to end: a player packed by gdpack's writer with three photos runs offscreen as
// a slideshow without Loop, shows them in order and ends by itself, leaving no temporary file.
#include <cctype>
#include <filesystem>

#include "SaverFixture.h"

namespace {

bool HasTempMusic(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().front() == '~') return true;
    return false;
}

}  // namespace

TEST_F(SaverRun, SlideshowShowsThreePhotosInOrderAndEnds) {
    gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(16, 12, 255, 0, 0), false);
    gdpack::WriteFileBytes(dir.File("green.bmp"), SolidBmp(16, 12, 0, 255, 0), false);
    gdpack::WriteFileBytes(dir.File("blue.bmp"), SolidBmp(16, 12, 0, 0, 255), false);
    gdpack::WriteFileBytes(dir.File("bad.jpg"), gdpack::Bytes(40, 0x5A), false);
    gdpack::WriteFileBytes(dir.File("tune.wav"), SilentWav(1600), false);
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        std::vector<std::string> order;
    };
    const std::vector<Case> cases = {
        {"three photos", {}, {"show photo 4 Red", "show photo 3 Green", "show photo 2 Blue"}},
        {"with music and a photo that cannot be decoded", {"Broken"},
         {"show photo 5 Red", "show skip 2", "show end"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = "Show" + std::to_string(++n) + ".exe";
        // Written as gdpack writes, by its library: gdpack itself leaves out a photo the
        // player cannot show.
        gdpack::PlayerFile pf;
        pf.Base = gdpack::ReadFileBytes(GD_PLAYER_EXE);
        pf.Settings = gdpack::NewShowSettings();
        for (const char* set : {"Duration=1", "EffectDuration=0", "Effect=1", "Loop=0", "Showname=1"}) {
            const std::string kv = set;
            ASSERT_TRUE(gdpack::SetBlock0Field(pf.Settings, kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1)));
        }
        for (const char* photo : {"Red", "Green", "Blue"}) {
            std::string f = photo;
            for (char& ch : f) ch = char(std::tolower(ch));
            pf.Photos.push_back({photo, "", gdpack::ReadFileBytes(dir.File(f + ".bmp"))});
        }
        if (!c.extra.empty()) {
            pf.Photos.push_back({"Broken", "", gdpack::ReadFileBytes(dir.File("bad.jpg"))});
            pf.Music = gdpack::ReadFileBytes(dir.File("tune.wav"));
            pf.Settings.MusicName = "tune.wav";
        }
        gdpack::WriteFileBytes(dir.File(file), pf.Build(), true);

        const std::string log = dir.File("show" + std::to_string(n));
        // An argument that is no switch: the slideshow starts without its help page.
        ChildProcess p(dir.File(file), {"x"}, Env(log), log + ".err");
        EXPECT_EQ(p.Wait(), 0) << ReadText(log) << ReadText(log + ".err");
        const std::string text = ReadText(log);
        size_t at = 0;
        for (const auto& line : c.order) {
            const size_t f = text.find(line, at);
            EXPECT_NE(f, std::string::npos) << line << " (in order) in\n" << text;
            if (f != std::string::npos) at = f;
        }
        EXPECT_TRUE(Contains(text, "show end")) << text;
        EXPECT_TRUE(Contains(text, "exit 0")) << text;
        if (!c.extra.empty()) {
            EXPECT_TRUE(Contains(text, "music ")) << "music written, played or dropped\n" << text;
        }
        EXPECT_FALSE(HasTempMusic(dir.File("tmp"))) << "temporary music file left";
    }
}
