// The show under a real X server (run through xvfb-run): screenshots while a slideshow runs
// show each photo in turn, and in Saver mode a mouse move beyond the threshold ends the run.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "../imagelib/ManyScanJpeg.h"
#include "X11Fixture.h"

namespace {

class X11Show : public X11Run {
protected:
    void SetUp() override {
        X11Run::SetUp();
        if (IsSkipped()) return;
        gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(400, 300, 255, 0, 0), false);
        gdpack::WriteFileBytes(dir.File("green.bmp"), SolidBmp(400, 300, 0, 255, 0), false);
        gdpack::WriteFileBytes(dir.File("blue.bmp"), SolidBmp(400, 300, 0, 0, 255), false);
    }
    std::string Pack(const std::string& file, int duration, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "build", "-o", dir.File(file), "--base", GD_PLAYER_EXE,
            "--photo", "Red", "", dir.File("red.bmp"),
            "--photo", "Green", "", dir.File("green.bmp"),
            "--photo", "Blue", "", dir.File("blue.bmp"),
            "--set", "Duration=" + std::to_string(duration), "--set", "EffectDuration=0",
            "--set", "Effect=1", "--set", "Loop=0", "--set", "AutoFit=1"};
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProcess p(GD_GDPACK_EXE, args, {}, dir.File("gdpack.err"));
        EXPECT_EQ(p.Wait(), 0) << ReadText(dir.File("gdpack.err"));
        return dir.File(file);
    }
    // The show window named in the log, once it is on screen (0 when it never came).
    static unsigned long ShowWindowUp(const std::string& Log) {
        const std::string text = ReadText(Log);
        const auto at = text.find("window show ");
        const auto id = text.find(" id ", at == std::string::npos ? 0 : at);
        if (at == std::string::npos || id == std::string::npos) return 0;
        const unsigned long w = std::stoul(text.substr(id + 4));
        return WaitViewable(w) ? w : 0;
    }
    void SetUpKeys() {
        if (std::string(GD_XDOTOOL).empty()) GTEST_SKIP() << "xdotool not installed";
    }
    // "r,g,b" of the root window at x, y.
    static std::string PixelAt(int x, int y) {
        const std::string p = "p{" + std::to_string(x) + "," + std::to_string(y) + "}";
        return RunCommand("xwd -root -silent | " GD_CONVERT " xwd:- -format '%[fx:int(255*" + p +
                   ".r+0.5)],%[fx:int(255*" + p + ".g+0.5)],%[fx:int(255*" + p + ".b+0.5)]' info:");
    }
};

}  // namespace

TEST_F(X11Show, EachPhotoInTurnOnScreen) {
    const std::string exe = Pack("Colours.exe", 2);
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    const std::pair<const char*, const char*> steps[] = {
        {"show photo 4 Red", "255,0,0"}, {"show photo 3 Green", "0,255,0"},
        {"show photo 2 Blue", "0,0,255"}};
    for (const auto& [line, colour] : steps) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(WaitForText(log, line, p)) << ReadText(log) << ReadText(log + ".err");
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        // The middle of the screen (1024 x 768) and a point off centre inside the photo.
        EXPECT_EQ(PixelAt(512, 384), colour);
        EXPECT_EQ(PixelAt(400, 300), colour);
    }
    EXPECT_EQ(p.Wait(), 0) << ReadText(log) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "show end"));
}

TEST_F(X11Show, SaverEndsOnAMouseMoveBeyondFivePixels) {
    const std::string exe = Pack("Colours.scr", 30);
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"/S"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 4", p)) << ReadText(log) << ReadText(log + ".err");
    ASSERT_NE(ShowWindowUp(log), 0u) << ReadText(log);
    // The pointer starts in the middle of the 1024 x 768 screen.
    RunCommand(GD_X11_WARP " 517 389");   // 5 and 5: within the threshold
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(p.Running()) << ReadText(log);
    RunCommand(GD_X11_WARP " 518 384");   // 6
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "saver did not end\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "saver input: quit")) << ReadText(log);
    for (const auto& e : std::filesystem::directory_iterator(dir.File("tmp")))
        EXPECT_NE(e.path().filename().string().front(), '~') << "temporary file left";
}

TEST_F(X11Show, SaverEndsOnAKeyWithExitCodeZeroAndNoTemporaryFile) {
    SetUpKeys();
    if (IsSkipped()) return;
    gdpack::WriteFileBytes(dir.File("tune.wav"), SilentWav(1600), false);
    const std::string exe = Pack("Colours.scr", 30, {"--music", dir.File("tune.wav")});
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"/S"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 4", p)) << ReadText(log) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "music ")) << "music played or dropped";
    ASSERT_NE(ShowWindowUp(log), 0u) << ReadText(log);
    // One key, as a user presses it.
    PressKey("a");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "saver did not end\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "saver input: quit (1")) << ReadText(log);
    for (const auto& e : std::filesystem::directory_iterator(dir.File("tmp")))
        EXPECT_NE(e.path().filename().string().front(), '~') << "temporary file left";
}

TEST_F(X11Show, SlideshowKeysStepAndEscapeEnds) {
    SetUpKeys();
    if (IsSkipped()) return;
    const std::string exe = Pack("Colours.exe", 30);
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 4", p)) << ReadText(log) << ReadText(log + ".err");
    ASSERT_NE(ShowWindowUp(log), 0u) << ReadText(log);
    // Each key pressed once, as a user does: none may be lost.
    PressKey("Right");
    EXPECT_TRUE(WaitForText(log, "show photo 3 Green", p)) << ReadText(log);
    PressKey("space");
    EXPECT_TRUE(WaitForText(log, "show photo 2 Blue", p)) << ReadText(log);
    PressKey("Left");
    // Back from the last photo to the one before it: Green a second time.
    bool back = false;
    for (int i = 0; i < 200 && !back && p.Running(); ++i) {
        const std::string text = ReadText(log);
        const auto first = text.find("show photo 3 Green");
        back = first != std::string::npos && text.find("show photo 3 Green", first + 1) != std::string::npos;
        if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(back) << ReadText(log);
    PressKey("Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "slideshow did not end\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "escape")) << ReadText(log);
}

// "-root" without XSCREENSAVER_WINDOW, as X screen-saver daemons also start their programs:
// the show covers the whole root window, and ends on the daemon's SIGTERM.
TEST_F(X11Show, RootWithoutTheDaemonsWindowDrawsFullScreenOnTheRoot) {
    const std::string exe = Pack("Colours.scr", 30);
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"-root"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 4 Red", p)) << ReadText(log) << ReadText(log + ".err");
    const std::string text = ReadText(log);
    EXPECT_TRUE(Contains(text, "mode 1")) << text;
    EXPECT_TRUE(Contains(text, "window preview 1024x768 in ")) << text;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(PixelAt(512, 384), "255,0,0");
    EXPECT_EQ(PixelAt(400, 300), "255,0,0");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0) << ReadText(log + ".err");
}

// gdpack given nothing but photos (and no --base: the player built beside it) makes a show
// that works: each photo fitted to the screen, then the next one.
TEST_F(X11Show, GdpackWithOnlyPhotosMakesAWorkingShow) {
    ChildProcess pack(GD_GDPACK_EXE, {"build", "-o", dir.File("Plain.exe"), dir.File("red.bmp"),
                                      dir.File("green.bmp")},
                      {}, dir.File("gdpack.err"));
    ASSERT_EQ(pack.Wait(), 0) << ReadText(dir.File("gdpack.err"));
    const std::string log = dir.File("log");
    ChildProcess p(dir.File("Plain.exe"), {"x"}, XEnv(log), log + ".err");
    const std::pair<const char*, const char*> steps[] = {
        {"show photo 3 red", "255,0,0"}, {"show photo 2 green", "0,255,0"}};
    size_t seen = 0;
    for (const auto& [line, colour] : steps) {
        SCOPED_TRACE(line);
        for (int i = 0; i < 300; ++i) {
            const std::string text = ReadText(log);
            const size_t at = text.find(line, seen);
            if (at != std::string::npos) {
                seen = at + 1;
                break;
            }
            ASSERT_TRUE(p.Running()) << text << ReadText(log + ".err");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // After the 2 s crossfade: the 400 x 300 photo fitted to 1024 x 768 fills the middle.
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        EXPECT_EQ(PixelAt(512, 384), colour);
        EXPECT_EQ(PixelAt(520, 60), colour) << "fitted, so it reaches far from the centre";
    }
    EXPECT_TRUE(Contains(ReadText(log), "settings Duration 5 Effect 1 Random 0")) << ReadText(log);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0) << ReadText(log + ".err");
}

// A photo whose decode takes seconds (a 16384 x 16384 progressive JPEG of 100 scans, as many
// as the decoder takes) comes first: while it is decoded ahead, Escape ends the saver and the
// slideshow at once, before that photo came on screen (a show that waited for the decode would
// show it first). Escape is pressed once, as a user does.
TEST_F(X11Show, EscapeDuringASlowDecodeEndsTheShowAtOnce) {
    SetUpKeys();
    if (IsSkipped()) return;
    const std::vector<uint8_t> slow = many_scans::Make(16384, 16384, 100, many_scans::Kind::First, 1400000);
    gdpack::WriteFileBytes(dir.File("slow.jpg"), gdpack::Bytes(slow.begin(), slow.end()), false);
    ChildProcess pack(GD_GDPACK_EXE,
                      {"build", "-o", dir.File("Slow.scr"), "--base", GD_PLAYER_EXE, "--photo", "Slow", "",
                       dir.File("slow.jpg"), "--photo", "Red", "", dir.File("red.bmp"), "--set", "Duration=5",
                       "--set", "EffectDuration=0"},
                      {}, dir.File("gdpack.err"));
    ASSERT_EQ(pack.Wait(std::chrono::seconds(60)), 0) << ReadText(dir.File("gdpack.err"));
    // The same file as a slideshow.
    std::filesystem::copy_file(dir.File("Slow.scr"), dir.File("Slow.exe"));
    std::filesystem::permissions(dir.File("Slow.exe"), std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    for (const char* file : {"Slow.scr", "Slow.exe"}) {
        SCOPED_TRACE(file);
        const std::string exe = dir.File(file);
        const std::string log = dir.File(std::string(file) + ".log");
        ChildProcess p(exe, {std::string(file).ends_with(".scr") ? "/S" : "x"}, XEnv(log), log + ".err");
        ASSERT_TRUE(WaitForText(log, "show wait 3", p)) << ReadText(log) << ReadText(log + ".err");
        ASSERT_NE(ShowWindowUp(log), 0u) << ReadText(log);
        const auto sent = std::chrono::steady_clock::now();
        PressKey("Escape");
        const auto code = p.Wait(std::chrono::seconds(10));
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        ASSERT_TRUE(code.has_value()) << "the show did not end\n" << ReadText(log);
        EXPECT_EQ(*code, 0) << ReadText(log + ".err");
        EXPECT_LT(took, std::string(file).ends_with(".scr") ? 1.0 : 2.0) << "Escape was answered late\n" << ReadText(log);
        EXPECT_FALSE(Contains(ReadText(log), "show photo 3")) << "the decode was over before Escape came";
    }
}
