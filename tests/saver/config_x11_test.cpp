// The settings dialog on a real X server (run through xvfb-run): run as /C it is painted and
// what the user types and confirms is read back by the next /S run; opened with F10 over a
// running slideshow under a window manager it is painted at once, stays above the show, and
// after OK the show has the keyboard again, so Escape ends it.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "X11Fixture.h"

namespace {

class X11Dialog : public X11Run {
protected:
    void SetUp() override {
        if (std::string(GD_XDOTOOL).empty()) GTEST_SKIP() << "xdotool not installed";
        X11Run::SetUp();
    }
    std::string Pack(const std::string& file, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "build", "-o", dir.File(file), "--base", GD_PLAYER_EXE,
            "--photo", "Berg", "", dir.File("berg.bmp"), "--photo", "See", "", dir.File("see.bmp"),
            "--set", "Duration=30", "--set", "EffectDuration=0", "--set", "Loop=1", "--set", "AutoFit=1",
            "--text", "22=Slideshow settings"};
        for (const std::string& a : SettingsTextArgs()) args.push_back(a);
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProcess p(GD_GDPACK_EXE, args, {}, dir.File("gdpack.err"));
        EXPECT_EQ(p.Wait(), 0) << ReadText(dir.File("gdpack.err"));
        return dir.File(file);
    }
    static void Keys(const std::string& keys) { Run(std::string(GD_XDOTOOL) + " " + keys); }
    // The window of that title on screen: x, y, width, height; false when there is none.
    static bool WindowRect(const std::string& title, int r[4]) {
        const std::string info = Run(GD_XWININFO " -name '" + title + "' 2>/dev/null");
        const char* keys[] = {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"};
        for (int i = 0; i < 4; ++i) {
            const auto at = info.find(keys[i]);
            if (at == std::string::npos) return false;
            r[i] = std::atoi(info.c_str() + at + std::strlen(keys[i]));
        }
        return Contains(info, "IsViewable") && r[2] > 100 && r[3] > 100;
    }
    static bool WaitForWindow(const std::string& title, int r[4]) {
        for (int i = 0; i < 100; ++i) {
            if (WindowRect(title, r)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    // A screenshot kept beside the build for a look; true when the window's area is painted
    // (a light face with text on it, not the black of an unpainted window).
    bool Painted(const std::string& shot, const int r[4]) {
        const std::string file = std::string(GD_SHOT_DIR) + "/" + shot;
        Run("import -window root " + file);
        const std::string crop = std::to_string(r[2]) + "x" + std::to_string(r[3]) + "+" + std::to_string(r[0]) +
                                 "+" + std::to_string(r[1]);
        const std::string stats = Run(GD_CONVERT " " + file + " -crop " + crop + " -format '%[fx:mean] %k' info:");
        double mean = 0;
        int colours = 0;
        std::sscanf(stats.c_str(), "%lf %d", &mean, &colours);
        SCOPED_TRACE(stats);
        EXPECT_GT(mean, 0.5);
        EXPECT_GT(colours, 20);
        return mean > 0.5 && colours > 20;
    }
};

}  // namespace

TEST_F(X11Dialog, ConfigureShowsTheDialogAndTheNextSaverRunReadsWhatOkStored) {
    const std::string scr = Pack("Alps.scr");
    const std::string log = dir.File("log");
    {
        ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
        ASSERT_TRUE(WaitForText(log, "window config", p)) << ReadText(log) << ReadText(log + ".err");
        int r[4];
        ASSERT_TRUE(WaitForWindow("Glimmerdeck Screensaver", r)) << ReadText(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(Painted("settings-dialog.png", r));
        // The display time has the focus: select it, type 45, confirm.
        Keys("key ctrl+a");
        Keys("type 4x5");
        Keys("key Return");
        const auto code = p.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(code.has_value()) << "the dialog did not close\n" << ReadText(log);
        EXPECT_EQ(*code, 0) << ReadText(log + ".err");
    }
    const std::string log2 = dir.File("log2");
    ChildProcess saver(scr, {"/S"}, XEnv(log2), log2 + ".err");
    EXPECT_TRUE(WaitForText(log2, "settings Duration 45 ", saver)) << ReadText(log2);
    saver.Signal(SIGTERM);
    EXPECT_EQ(saver.Wait(), 0);
}

TEST_F(X11Dialog, F10OverTheShowUnderAWindowManager) {
    if (std::string(GD_OPENBOX).empty()) GTEST_SKIP() << "openbox not installed";
    ChildProcess wm(GD_OPENBOX, {"--sm-disable"}, {}, dir.File("openbox.err"));
    for (int i = 0; i < 50 && !Contains(Run(GD_XPROP " -root _NET_SUPPORTING_WM_CHECK"), "window id"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string exe = Pack("Alps.exe");
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 3", p)) << ReadText(log) << ReadText(log + ".err");
    const std::string text = ReadText(log);
    const auto at = text.find(" id ");
    ASSERT_NE(at, std::string::npos) << text;
    const unsigned long show = std::stoul(text.substr(at + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int r[4];
    bool up = false;
    for (int i = 0; i < 5 && !up; ++i) {
        Keys("key F10");
        up = WaitForText(log, "window config", p, std::chrono::seconds(2));
    }
    ASSERT_TRUE(up) << ReadText(log);
    ASSERT_TRUE(WaitForWindow("Slideshow settings", r)) << ReadText(log);
    // Painted at once, not after seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(Painted("settings-over-show.png", r));
    const std::string transient = Run(GD_XPROP " -name 'Slideshow settings' WM_TRANSIENT_FOR");
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", show);
    EXPECT_TRUE(Contains(transient, hex)) << transient << " show " << hex;
    Keys("key Return");
    ASSERT_TRUE(WaitForText(log, "show photo 2", p)) << "the show did not go on\n" << ReadText(log);
    for (int i = 0; i < 10 && p.Running(); ++i) {
        Keys("key Escape");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const auto code = p.Wait(std::chrono::seconds(5));
    ASSERT_TRUE(code.has_value()) << "Escape did not end the show\n" << ReadText(log);
    EXPECT_EQ(*code, 0);
    EXPECT_TRUE(Contains(ReadText(log), "escape")) << ReadText(log);
}
