// gdview under a real X server (run through xvfb-run): screenshots show the photo fitted,
// at 100 % after the 100 % button, turned after rotate left in fit mode; Escape ends the
// program with exit code 0. A language file beside the program gives the window its texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "saver/Process.h"
#include "QuadrantPhoto.h"
#include "saver/TestDir.h"

namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& cmd) {
    std::string out;
    if (FILE* f = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        ::pclose(f);
    }
    return out;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool Empty() const { return right < 0; }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
};

// The screen, taken with import and read back as a binary PPM.
class Shot {
public:
    Shot(const std::string& png) {
        EXPECT_EQ(std::system(("import -window root '" + png + "'").c_str()), 0);
        std::istringstream in(Shell("convert '" + png + "' -depth 8 ppm:-"));
        std::string magic;
        int max = 0;
        in >> magic >> w_ >> h_ >> max;
        in.get();
        data_.resize(size_t(w_) * size_t(h_) * 3);
        in.read(data_.data(), std::streamsize(data_.size()));
    }
    // Where the pixels of exactly this colour are.
    Box Find(uint8_t r, uint8_t g, uint8_t b) const {
        Box box;
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) {
                const char* p = &data_[(size_t(y) * size_t(w_) + size_t(x)) * 3];
                if (uint8_t(p[0]) == r && uint8_t(p[1]) == g && uint8_t(p[2]) == b) {
                    box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                    box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
                }
            }
        return box;
    }

private:
    int w_ = 0, h_ = 0;
    std::string data_;
};

class GdviewX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        WriteQuadrants(dir.File("photo.bmp"), 1600, 1000);
        fs::create_directories(kScreens);
        fs::create_directories(dir.File("home/.config"));
    }
    std::map<std::string, std::string> Env() const {
        return {{"QT_QPA_PLATFORM", "xcb"}, {"HOME", dir.File("home")}, {"XDG_CONFIG_HOME", dir.File("home/.config")},
                {"GLIMMERDECK_TEST_LOG", log}, {"LSAN_OPTIONS", "suppressions=" GD_LSAN_SUPPRESSIONS}};
    }
    void Wait(const std::string& line, ChildProcess& p) {
        ASSERT_TRUE(WaitForText(log, line, p, std::chrono::seconds(20))) << line << "\n" << ReadText(log) << ReadText(err);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));   // painted
    }
    static void Xdo(const std::string& args) { EXPECT_EQ(std::system(("xdotool " + args).c_str()), 0) << args; }
    // The zoom the log gives after "(".
    double LoggedZoom() const {
        const std::string t = ReadText(log);
        const auto at = t.rfind(" (");
        return at == std::string::npos ? 0 : std::stod(t.substr(at + 2));
    }
    static constexpr const char* kScreens = GD_BINARY_DIR "/tests/viewer/screens";
    TestDir dir;
    const std::string log = dir.File("log"), err = dir.File("err");
};

}  // namespace

TEST_F(GdviewX11, FitHundredPercentRotateAndEscape) {
    ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    const double zoom = LoggedZoom();
    ASSERT_GT(zoom, 10);
    ASSERT_LT(zoom, 100);
    {
        // Fitted: the whole photo at the logged zoom, quadrants in place.
        Shot s(std::string(kScreens) + "/1-fitted.png");
        const Box red = s.Find(255, 0, 0), blue = s.Find(0, 0, 255), green = s.Find(0, 255, 0), white = s.Find(255, 255, 255);
        ASSERT_FALSE(red.Empty() || blue.Empty() || green.Empty());
        EXPECT_NEAR(blue.right - red.left + 1, 1600 * zoom / 100, 2);
        EXPECT_NEAR(green.bottom - red.top + 1, 1000 * zoom / 100, 2);
        EXPECT_NEAR(red.Width(), blue.Width(), 2);
        EXPECT_EQ(blue.left, red.right + 1);
        EXPECT_EQ(green.top, red.bottom + 1);
        EXPECT_GE(white.right, blue.right);
    }
    // The 100 % button: the rightmost glyph of the tool bar (navy pixels), clicked.
    {
        Shot s(std::string(kScreens) + "/1-fitted.png");
        const Box navy = s.Find(0, 0, 128);
        ASSERT_FALSE(navy.Empty());
        Xdo("mousemove " + std::to_string(navy.right - 4) + " " + std::to_string((navy.top + navy.bottom) / 2) +
            " click 1");
    }
    Wait("zoom 100%", p);
    {
        // At 1:1 the middle of the photo fills the view; its quadrants meet in the middle.
        Shot s(std::string(kScreens) + "/2-hundred-percent.png");
        const Box red = s.Find(255, 0, 0), blue = s.Find(0, 0, 255), green = s.Find(0, 255, 0);
        ASSERT_FALSE(red.Empty() || blue.Empty() || green.Empty());
        EXPECT_GT(red.Width() + blue.Width(), 700);   // the view's width, no background beside the photo
        EXPECT_NEAR(red.Width(), blue.Width(), 20);   // centred
        EXPECT_EQ(blue.left, red.right + 1);
        EXPECT_LT(red.Height(), 1000 * zoom / 100 + 2 + 200);
    }
    // Escape that closes the Open dialog (F3) leaves the viewer open (the
    // window has the keyboard since the click).
    Xdo("key F3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Shot(std::string(kScreens) + "/1-open-dialog.png");
    Xdo("key Escape");
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ASSERT_TRUE(p.Running()) << ReadText(log);
    EXPECT_FALSE(Contains(ReadText(log), "escape"));
    // Without a window manager nobody gives the keyboard back: a click on the 100 % button again.
    Xdo("click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Fit again (F9) and turn left (Ctrl+L): portrait, the blue quadrant now top left.
    Xdo("key F9");
    Wait("fit zoom", p);
    Xdo("key ctrl+l");
    Wait("rotated zoom", p);
    {
        Shot s(std::string(kScreens) + "/3-rotated.png");
        const Box red = s.Find(255, 0, 0), blue = s.Find(0, 0, 255), green = s.Find(0, 255, 0);
        ASSERT_FALSE(red.Empty() || blue.Empty() || green.Empty());
        EXPECT_LT(blue.top, red.top);
        EXPECT_EQ(red.top, blue.bottom + 1);
        EXPECT_EQ(green.left, red.right + 1);
        EXPECT_GT(green.bottom - blue.top, (blue.right - blue.left) * 2);   // taller than wide
    }
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "gdview did not end\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(err);
    EXPECT_TRUE(Contains(ReadText(log), "escape"));
}

TEST_F(GdviewX11, ALanguageFileBesideTheProgramGivesTheTexts) {
    // The program copied into a folder with one language file (written as the format lays out:
    // tag 6 strings, tag 2/3 integers).
    const std::string exe = dir.File("gdview");
    fs::copy_file(GD_GDVIEW_EXE, exe);
    std::string f;
    auto str = [&](const std::string& s) { f += '\x06', f += char(s.size()), f += s; };
    auto num = [&](int v) {
        if (v >= -128 && v < 128) f += '\x02', f += char(v);
        else f += '\x03', f += char(v), f += char(v >> 8);
    };
    const std::pair<const char*, const char*> texts[] = {
        {"viewer.title", "Fotobetrachter"},
        {"viewer.file1.caption", "&Datei"},
        {"viewer.View1.caption", "&Ansicht"},
        {"viewer.Help1.caption", "&Hilfe"},
        {"viewer.SpeedButton4.caption", "Foto \xF6" "ffnen"},
        {"viewer.SpeedButton2.caption", "Zum Album hinzuf\xFC" "gen"},
        {"viewer.SpeedButton1.caption", "Glimmerdeck starten"},
        {"viewer.Label1.caption", "Vergr\xF6\xDF" "erung:"},
    };
    str("GDLF"), num(1), str("MS Sans Serif"), num(8), num(0), str("Deutsch"), str(""), num(0), num(int(std::size(texts)));
    for (const auto& [k, t] : texts) str(k), str(t), str("Form1"), str(""), num(0);
    std::ofstream(dir.File("Deutsch.LNG"), std::ios::binary) << f;

    ChildProcess p(exe, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    Shot s(std::string(kScreens) + "/4-translated.png");
    EXPECT_NE(Shell("xdotool search --name '^Fotobetrachter$'"), "") << "window title";
    p.Signal(SIGTERM);
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << ReadText(err);
}
