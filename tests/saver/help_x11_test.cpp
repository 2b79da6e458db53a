// Dialogs of the player on a real X server, with and without a window manager: the help
// page before a slideshow (a screenshot of the page at the desktop font), and the help
// opened from the running show, painted, transient for the show, and the show's keyboard
// back after it closes.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "X11Fixture.h"

namespace {

constexpr const char* kHelpCaption = "Holiday Help";

// Pixels of a region by kind, from ImageMagick's histogram of a screenshot.
struct Census {
    int total = 0, face = 0, navy = 0, blue = 0, dark = 0;
};

class X11Dialogs : public X11Run {
protected:
    void SetUp() override {
        X11Run::SetUp();
        if (IsSkipped()) return;
        gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(400, 300, 255, 0, 0), false);
        gdpack::WriteFileBytes(dir.File("green.bmp"), SolidBmp(400, 300, 0, 255, 0), false);
        ChildProcess p(GD_GDPACK_EXE,
                       {"build", "-o", dir.File("Holiday.exe"), "--base", GD_PLAYER_EXE,
                        "--photo", "Red", "", dir.File("red.bmp"), "--photo", "Green", "", dir.File("green.bmp"),
                        "--set", "Duration=2", "--set", "EffectDuration=0", "--set", "Effect=0",
                        "--set", "Loop=1", "--set", "AutoFit=1",
                        "--text-file", "0=" GD_SOURCE_DIR "/tests/saver/fixtures/help.html",
                        "--text", std::string("21=") + kHelpCaption},
                       {}, dir.File("gdpack.err"));
        ASSERT_EQ(p.Wait(), 0) << ReadText(dir.File("gdpack.err"));
    }

    Census Shot(const Geometry& Area, const std::string& SaveAs = "") {
        const std::string png = dir.File("shot.png");
        Run(GD_IMPORT " -window root " + png);
        if (!SaveAs.empty()) std::filesystem::copy_file(png, SaveAs, std::filesystem::copy_options::overwrite_existing);
        std::istringstream hist(Run(GD_CONVERT " " + png + " -crop " + std::to_string(Area.w) + "x" +
                                    std::to_string(Area.h) + "+" + std::to_string(Area.x) + "+" +
                                    std::to_string(Area.y) + " -format %c histogram:info:-"));
        Census c;
        for (std::string line; std::getline(hist, line);) {
            int n = 0, r = 0, g = 0, b = 0;
            if (std::sscanf(line.c_str(), " %d: (%d,%d,%d", &n, &r, &g, &b) != 4) continue;
            c.total += n;
            if (r == 0xC0 && g == 0xC0 && b == 0xC0) c.face += n;
            if (r < 0x30 && g < 0x30 && b >= 0x60 && b <= 0xA0) c.navy += n;
            if (r < 0x30 && g < 0x30 && b >= 0xE0) c.blue += n;
            if (r < 0x50 && g < 0x50 && b < 0x50) c.dark += n;
        }
        return c;
    }

    // The help page of the dialog as shown: its face, the navy title and the blue link, and
    // text. Waits for the window and its first paint.
    bool HelpShown(unsigned long& Id, Census& C, const std::string& SaveAs = "") {
        for (int i = 0; i < 100; ++i) {
            Id = FindWindow(kHelpCaption);
            if (Id) {
                const Geometry g = WindowGeometry(Id);
                // The HTML label: 8, 8 and 353 x 169 in the client area.
                C = Shot({g.x + 8, g.y + 8, 353, 169}, SaveAs);
                if (C.total > 0 && C.face > C.total / 2 && C.navy > 20 && C.blue > 10 && C.dark > 100) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    static std::string Key(const std::string& Name) { return Run(GD_XDOTOOL " key " + Name); }
};

unsigned long ShowId(const std::string& log) {
    const std::string text = ReadText(log);
    const auto at = text.find("window show slideshow");
    if (at == std::string::npos) return 0;
    const auto id = text.find(" id ", at);
    return id == std::string::npos ? 0 : std::stoul(text.substr(id + 4));
}

}  // namespace

TEST_F(X11Dialogs, HelpPageFirstThenTheShowAndHelpOverTheShow) {
    const std::string log = dir.File("log");
    ChildProcess p(dir.File("Holiday.exe"), {}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "window help", p)) << ReadText(log) << ReadText(log + ".err");

    // The page before the show, at the desktop font; the screenshot stays in the build tree.
    unsigned long help = 0;
    Census c;
    const std::string saved = std::string(GD_BINARY_DIR "/help-page") + (WindowManager() ? "-openbox" : "") + ".png";
    ASSERT_TRUE(HelpShown(help, c, saved)) << "face " << c.face << " navy " << c.navy << " blue " << c.blue
                                            << " dark " << c.dark << " of " << c.total << "\n" << ReadText(log);
    EXPECT_FALSE(Contains(ReadText(log), "show photo")) << "the show waits for the help";

    // OK starts the show.
    Key("Return");
    ASSERT_TRUE(WaitForText(log, "show photo 3 Red", p)) << ReadText(log) << ReadText(log + ".err");
    const unsigned long show = ShowId(log);
    ASSERT_NE(show, 0u) << ReadText(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // F1 from the show: the help over the show, painted, transient for it.
    Key("F1");
    ASSERT_TRUE(WaitForText(log, "dialog over the show", p)) << ReadText(log);
    ASSERT_TRUE(HelpShown(help, c)) << "face " << c.face << " navy " << c.navy << " of " << c.total;
    const std::string transient = Run(GD_XPROP " -id " + std::to_string(help) + " WM_TRANSIENT_FOR");
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", show);
    EXPECT_TRUE(Contains(transient, hex)) << transient << " show " << hex;

    // OK closes it; the show has the keyboard again: Escape ends it.
    Key("Return");
    for (int i = 0; i < 50 && FindWindow(kHelpCaption); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(FindWindow(kHelpCaption), 0u);
    if (WindowManager()) {
        bool focused = false;
        for (int i = 0; i < 50 && !focused; ++i) {
            focused = std::stoul("0" + Run(GD_XDOTOOL " getwindowfocus")) == show;
            if (!focused) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(focused) << "focus on " << Run(GD_XDOTOOL " getwindowfocus getwindowname");
    }
    for (int i = 0; i < 20 && p.Running(); ++i) {
        Key("Escape");
        if (WaitForText(log, "escape", p, std::chrono::milliseconds(500))) break;
    }
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "the show did not end\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "escape")) << ReadText(log);
}

// Enter on a link chosen with Tab opens it through the desktop (a stand-in xdg-open here)
// and the help stays; once the mouse over the link has cleared the keyboard's choice, Enter
// closes the help as before.
TEST_F(X11Dialogs, EnterOnALinkChosenWithTabOpensIt) {
    const std::string bin = dir.File("bin"), opened = dir.File("opened");
    std::filesystem::create_directory(bin);
    {
        std::ofstream open(bin + "/xdg-open");
        open << "#!/bin/sh\necho \"$@\" >> '" << opened << "'\n";
    }
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    const std::string log = dir.File("log");
    auto env = XEnv(log);
    env["PATH"] = bin + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    ChildProcess p(dir.File("Holiday.exe"), {}, env, log + ".err");
    ASSERT_TRUE(WaitForText(log, "window help", p)) << ReadText(log) << ReadText(log + ".err");
    unsigned long help = 0;
    Census c;
    ASSERT_TRUE(HelpShown(help, c)) << ReadText(log);
    if (!WindowManager()) Run(GD_XDOTOOL " windowfocus --sync " + std::to_string(help));
    ASSERT_TRUE(WaitForText(log, "focus helpform.", p)) << ReadText(log);
    Key("Tab");
    ASSERT_TRUE(WaitForText(log, "focus helpform.HTMLStaticText1", p)) << ReadText(log);
    Key("Return");
    for (int i = 0; i < 100 && ReadText(opened).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(ReadText(opened), "http://example.org/\n") << "opened once";
    EXPECT_EQ(FindWindow(kHelpCaption), help) << "the help is still open";
    EXPECT_FALSE(Contains(ReadText(log), "show photo"));

    // The mouse over the link (its blue text in the label) clears the choice: Enter is OK.
    const Geometry g = WindowGeometry(help);
    const std::string png = dir.File("link.png");
    Run(GD_IMPORT " -window root " + png);
    std::istringstream pixels(Run(GD_CONVERT " " + png + " -crop 353x169+" + std::to_string(g.x + 8) + "+" +
                                  std::to_string(g.y + 8) + " +repage txt:- | grep -i '#0000FF' | head -1"));
    int lx = -1, ly = -1;
    ASSERT_EQ(std::sscanf(pixels.str().c_str(), "%d,%d:", &lx, &ly), 2) << pixels.str();
    Run(GD_XDOTOOL " mousemove " + std::to_string(g.x + 8 + lx) + " " + std::to_string(g.y + 8 + ly));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Run(GD_XDOTOOL " mousemove_relative 2 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Key("Return");
    ASSERT_TRUE(WaitForText(log, "show photo", p)) << "Enter did not close the help\n" << ReadText(log);
    EXPECT_EQ(ReadText(opened), "http://example.org/\n");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}

// A help page repeating its background thousands of times answers at once: each paint draws
// the background that is seen, not one per tag (a picture with holes, over the page).
TEST_F(X11Dialogs, ThousandsOfPageBackgroundsStillLetReturnStartTheShow) {
    gdpack::WriteFileBytes(dir.File("tile.bmp"), SolidBmp(8, 8, 0, 0, 255), false);
    const std::string tag = "<BODY BACKGROUND=\"file://" + dir.File("tile.bmp") + "\">";
    std::string page;
    for (int i = 0; i < 40000; ++i) page += tag;
    page += ReadText(GD_SOURCE_DIR "/tests/saver/fixtures/help.html");
    gdpack::WriteFileBytes(dir.File("tiles.html"), gdpack::Bytes(page.begin(), page.end()), false);
    ChildProcess pack(GD_GDPACK_EXE,
                      {"build", "-o", dir.File("Tiles.exe"), "--base", GD_PLAYER_EXE, "--photo", "Red", "",
                       dir.File("red.bmp"), "--set", "Duration=2", "--set", "EffectDuration=0", "--set", "Effect=0",
                       "--set", "Loop=1", "--text-file", "0=" + dir.File("tiles.html"), "--text",
                       std::string("21=") + kHelpCaption},
                      {}, dir.File("gdpack.err"));
    ASSERT_EQ(pack.Wait(), 0) << ReadText(dir.File("gdpack.err"));

    const std::string log = dir.File("log");
    ChildProcess p(dir.File("Tiles.exe"), {}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "window help", p)) << ReadText(log) << ReadText(log + ".err");
    ASSERT_NE(WaitForWindow(kHelpCaption), 0u);
    // Painted: the tiles' blue fills the label.
    const Geometry g = WindowGeometry(FindWindow(kHelpCaption));
    Census c;
    for (int i = 0; i < 50 && c.blue < 353 * 169 / 2; ++i) {
        c = Shot({g.x + 8, g.y + 8, 353, 169});
        if (c.blue < 353 * 169 / 2) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(c.blue, 353 * 169 / 2) << "blue " << c.blue << " of " << c.total;
    Key("Return");
    // Far above the usual tenth of a second; one paint per tag took seconds.
    EXPECT_TRUE(WaitForText(log, "show photo", p, std::chrono::seconds(5))) << ReadText(log);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}
