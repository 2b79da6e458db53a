// The settings dialog as a user meets it on a real X server, with and without a window
// manager (the test runs twice): greyed captions that can be read, the colour palette's
// other cell, Enter and Escape from every control, and the colour dialog over a running show.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "X11Fixture.h"

namespace {

constexpr const char* kSlideshowCaption = "Slideshow settings";
constexpr const char* kSaverCaption = "Glimmerdeck Screensaver";   // kept in Configure mode
constexpr const char* kAboutCaption = "About the slideshow";

// Pixels of a screen region by luminance (the project's weights).
struct Pixels {
    int total = 0, text = 0, emboss = 0, darkest = 255, face = 0, red = 0, match = 0;   // face: light grey
};

class X11Settings : public X11Run {
protected:
    void SetUp() override {
        X11Run::SetUp();
        if (IsSkipped()) return;
        gdpack::WriteFileBytes(dir.File("red.bmp"), SolidBmp(400, 300, 255, 0, 0), false);
        gdpack::WriteFileBytes(dir.File("green.bmp"), SolidBmp(400, 300, 0, 255, 0), false);
    }

    std::string Pack(const std::string& file, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "build", "-o", dir.File(file), "--base", GD_PLAYER_EXE,
            "--photo", "Red", "", dir.File("red.bmp"), "--photo", "Green", "", dir.File("green.bmp"),
            "--set", "Duration=30", "--set", "EffectDuration=0", "--set", "Effect=0", "--set", "Loop=1",
            "--text", std::string("22=") + kSlideshowCaption, "--text", std::string("24=") + kAboutCaption};
        for (const std::string& a : SettingsTextArgs()) args.push_back(a);
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProcess p(GD_GDPACK_EXE, args, {}, dir.File("gdpack.err"));
        EXPECT_EQ(p.Wait(), 0) << ReadText(dir.File("gdpack.err"));
        return dir.File(file);
    }

    // A screenshot, kept in the build folder under Name for a look.
    std::string Shot(const std::string& Name) {
        const std::string png = std::string(GD_BINARY_DIR "/") + Name + (WindowManager() ? "-openbox" : "") + ".png";
        Run(GD_IMPORT " -window root -depth 8 " + png);
        return png;
    }
    // The pixels of a region of a screenshot; Match counts those of one colour.
    static Pixels Census(const std::string& Png, const Geometry& A, int R = -1, int G = -1, int B = -1) {
        std::istringstream hist(Run(GD_CONVERT " " + Png + " -crop " + std::to_string(A.w) + "x" + std::to_string(A.h) +
                                    "+" + std::to_string(A.x) + "+" + std::to_string(A.y) +
                                    " -format %c histogram:info:-"));
        Pixels p;
        for (std::string line; std::getline(hist, line);) {
            int n = 0, r = 0, g = 0, b = 0;
            if (std::sscanf(line.c_str(), " %d: (%d,%d,%d", &n, &r, &g, &b) != 4) continue;
            const int l = (r * 21 + g * 71 + b * 7) / 100;
            p.total += n;
            p.darkest = std::min(p.darkest, l);
            if (l <= 150) p.text += n;
            if (l >= 240) p.emboss += n;
            // The forms' face, and the group boxes' a shade darker.
            if (std::abs(r - g) < 4 && std::abs(g - b) < 4 && r >= 0xB8 && r <= 0xC4) p.face += n;
            if (r > 0xE0 && g < 0x30 && b < 0x30) p.red += n;
            if (r == R && g == G && b == B) p.match += n;
        }
        return p;
    }

    static int Count(const std::string& Log, const std::string& Part) {
        const std::string text = ReadText(Log);
        int n = 0;
        for (size_t at = text.find(Part); at != std::string::npos; at = text.find(Part, at + 1)) ++n;
        return n;
    }
    // The control that has the focus by the test log, "" when none is logged yet.
    static std::string Focused(const std::string& Log) {
        const std::string text = ReadText(Log);
        const auto at = text.rfind("focus ");
        if (at == std::string::npos) return "";
        return text.substr(at + 6, text.find('\n', at) - at - 6);
    }
    // Waits for one more focus line than Before.
    static bool WaitFocusChange(const std::string& Log, int Before, ChildProcess& P) {
        for (int i = 0; i < 200 && P.Running(); ++i) {
            if (Count(Log, "focus ") > Before) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // Without a window manager a new window may not get the keyboard: the test gives it, as
    // a manager would. Waits for a focus line after the Before-th.
    static bool TakeFocus(unsigned long Window, const std::string& Log, int Before, ChildProcess& P) {
        if (!WindowManager()) Run(GD_XDOTOOL " windowfocus --sync " + std::to_string(Window));
        return WaitFocusChange(Log, Before, P);
    }
    static void Key(const std::string& Name) { Run(GD_XDOTOOL " key " + Name); }
    static void Click(int X, int Y) {
        Run(GD_XDOTOOL " mousemove " + std::to_string(X) + " " + std::to_string(Y) + " click 1");
    }
    std::string Registry() const { return dir.File("config/glimmerdeck/registry/HKEY_CURRENT_USER"); }

    // Waits for the slideshow and opens the settings with F10; the dialog's window.
    unsigned long OpenSettings(const std::string& Log, ChildProcess& P) {
        const int before = Count(Log, "window config");
        for (int i = 0; i < 5 && P.Running(); ++i) {
            Key("F10");
            for (int k = 0; k < 50 && Count(Log, "window config") == before; ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            if (Count(Log, "window config") > before) break;
        }
        if (Count(Log, "window config") == before) return 0;
        return WaitForWindow(kSlideshowCaption);
    }
};

// Stored positions of the form: group boxes at 8, 6 and 8, 128 of the client area; the
// check boxes at 232, 54 and 232, 82 of the first, their captions right of the box.
constexpr int kCaptionLeft = 8 + 232 + 22, kLoopTop = 6 + 54, kRandomTop = 6 + 82;

}  // namespace

TEST_F(X11Settings, GreyedCaptionsCanBeRead) {
    const std::string scr = Pack("Alps.scr");
    const std::string exe = Pack("Alps.exe");
    {
        // A saver: "Loop Photos" is checked and greyed.
        const std::string log = dir.File("log-c");
        ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
        const unsigned long w = WaitForWindow(kSaverCaption);
        ASSERT_NE(w, 0u) << ReadText(log) << ReadText(log + ".err");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const Geometry g = WindowGeometry(w);
        const std::string png = Shot("settings-greyed-loop");
        const Pixels loop = Census(png, {g.x + kCaptionLeft, g.y + kLoopTop, 80, 20});
        const Pixels random = Census(png, {g.x + kCaptionLeft, g.y + kRandomTop, 80, 20});
        ASSERT_TRUE(TakeFocus(w, log, 0, p)) << ReadText(log);
        SCOPED_TRACE(png);
        // Greyed: legible text pixels, none as dark as enabled text, and the light emboss.
        EXPECT_GT(loop.text, 40) << "darkest " << loop.darkest;
        EXPECT_GE(loop.darkest, 90);
        EXPECT_GT(loop.emboss, 10);
        // The enabled caption beside it, in the same place of its row: black text.
        EXPECT_LT(random.darkest, 60);
        EXPECT_GT(random.text, 40);
        Key("Escape");
        EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
    }
    // A slideshow: clearing "Loop Photos" greys "Random Photo Order".
    const std::string log = dir.File("log-s");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 3", p)) << ReadText(log) << ReadText(log + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const unsigned long w = OpenSettings(log, p);
    ASSERT_NE(w, 0u) << ReadText(log);
    const Geometry g = WindowGeometry(w);
    Click(g.x + 8 + 232 + 8, g.y + kLoopTop + 9);   // the loop box itself
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string png = Shot("settings-greyed-random");
    const Pixels random = Census(png, {g.x + kCaptionLeft, g.y + kRandomTop, 110, 20});
    const Pixels loop = Census(png, {g.x + kCaptionLeft, g.y + kLoopTop, 80, 20});
    SCOPED_TRACE(png);
    EXPECT_GT(random.text, 40) << "darkest " << random.darkest;
    EXPECT_GE(random.darkest, 90);
    EXPECT_GT(random.emboss, 10);
    EXPECT_LT(loop.darkest, 60) << "the loop caption is enabled";
    Key("Escape");
    EXPECT_TRUE(WaitWindowGone(kSlideshowCaption));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}

// The palette of the background button: below the button at its left edge, 72 pixels wide,
// the other cell at 53..71, 96..114 beside the "Other" button.
TEST_F(X11Settings, PaletteOtherCellShowsItsColourAndAClickChoosesIt) {
    // 0x123456 is in no cell of the palette: the other cell shows it.
    const std::string scr = Pack("Alps.scr", {"--set", "Background=0x123456"});
    const std::string log = dir.File("log");
    ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
    const unsigned long w = WaitForWindow(kSaverCaption);
    ASSERT_NE(w, 0u) << ReadText(log) << ReadText(log + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(TakeFocus(w, log, 0, p)) << ReadText(log);
    const Geometry g = WindowGeometry(w);
    const int bx = g.x + 8 + 330, by = g.y + 6 + 24;   // the button, 45 x 22
    int before = Count(log, "focus ");
    Click(bx + 20, by + 11);
    ASSERT_TRUE(WaitForText(log, "focus UxColorButtonPalette.Surface", p)) << ReadText(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int px = bx, py = by + 22;
    const std::string png = Shot("palette-other-cell");
    const Pixels cell = Census(png, {px + 56, py + 99, 12, 12}, 0x56, 0x34, 0x12);
    EXPECT_EQ(cell.match, cell.total) << png << ": the other cell shows the colour, uncovered";
    EXPECT_GT(cell.total, 0);
    // A click on it chooses it: the palette closes, no colour dialog, the focus back on the
    // button, and the colour stays.
    before = Count(log, "focus ");
    Click(px + 62, py + 105);
    ASSERT_TRUE(WaitFocusChange(log, before, p)) << ReadText(log);
    for (int i = 0; i < 50 && Focused(log) != "ConfigForm.cbackground"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(Focused(log), "ConfigForm.cbackground");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(FindWindow("Select Color"), 0u) << "the colour dialog opened";
    // Enter from the colour button is OK.
    Key("Return");
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0) << ReadText(log);
    EXPECT_TRUE(Contains(ReadText(Registry()), "Background\t1193046")) << ReadText(Registry());
}

// Every control of the dialog that takes the focus, reached with Tab from the first: Enter
// presses the default button OK (a focused button is pressed itself), Escape the cancel
// button. OK stores the settings, Cancel stores nothing. The form itself is no Tab stop.
TEST_F(X11Settings, EnterAndEscapeFromEveryControl) {
    const std::string exe = Pack("Alps.exe");
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 3", p)) << ReadText(log) << ReadText(log + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::set<std::string> every = {
        "timecombo", "ComboBox1", "SpinEdit2", "cbackground", "CheckBox3", "CheckBox4", "CheckBox1",
        "ComboBox2", "FontComboBox1", "SpinEdit3", "cfont", "CheckBox2", "cfontback", "Button3",
        "btnClose", "Button1", "Button2"};
    for (const char* key : {"Return", "Escape"}) {
        std::set<std::string> seen;
        for (int tabs = 0; tabs < 30; ++tabs) {
            const int focusBefore = Count(log, "focus ");
            const unsigned long w = OpenSettings(log, p);
            ASSERT_NE(w, 0u) << key << " " << tabs << "\n" << ReadText(log);
            ASSERT_TRUE(TakeFocus(w, log, focusBefore, p)) << ReadText(log);
            for (int i = 0; i < 50 && Focused(log) != "ConfigForm.timecombo"; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ASSERT_EQ(Focused(log), "ConfigForm.timecombo") << "the first field has the focus";
            for (int t = 0; t < tabs; ++t) {
                const int before = Count(log, "focus ");
                Key("Tab");
                ASSERT_TRUE(WaitFocusChange(log, before, p)) << ReadText(log);
            }
            const std::string name = Focused(log).substr(std::strlen("ConfigForm."));
            SCOPED_TRACE(std::string(key) + " from " + name);
            if (tabs > 0 && name == "timecombo") {
                // Round the whole chain: every focusable control was met.
                Key("Escape");
                ASSERT_TRUE(WaitWindowGone(kSlideshowCaption));
                break;
            }
            seen.insert(name);
            std::filesystem::remove(Registry());
            const bool enter = std::string(key) == "Return";
            if (enter && name == "Button3") {
                // The exit button ends the program: last, in a run of its own below.
                Key("Escape");
                ASSERT_TRUE(WaitWindowGone(kSlideshowCaption));
                continue;
            }
            Key(key);
            if (enter && name == "Button2") {
                // Info: the about box, over the dialog; Escape closes it, then the dialog.
                EXPECT_NE(WaitForWindow(kAboutCaption), 0u);
                Key("Escape");
                EXPECT_TRUE(WaitWindowGone(kAboutCaption));
                EXPECT_NE(FindWindow(kSlideshowCaption), 0u) << "the dialog stays";
                Key("Escape");
            }
            ASSERT_TRUE(WaitWindowGone(kSlideshowCaption)) << "the key did nothing\n" << ReadText(log);
            const bool ok = enter && name != "Button1" && name != "Button2";
            // Reading the store makes its keys; only OK writes values.
            EXPECT_EQ(Contains(ReadText(Registry()), "\tDuration\t"), ok) << (ok ? "OK expected" : "Cancel expected");
            ASSERT_TRUE(p.Running());
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(seen, every) << key;
    }
    // Enter on the exit button ends the program.
    const int focusBefore = Count(log, "focus ");
    const unsigned long w = OpenSettings(log, p);
    ASSERT_NE(w, 0u);
    ASSERT_TRUE(TakeFocus(w, log, focusBefore, p));
    for (int i = 0; i < 40 && Focused(log) != "ConfigForm.Button3"; ++i) {
        const int before = Count(log, "focus ");
        Key("Tab");
        ASSERT_TRUE(WaitFocusChange(log, before, p));
    }
    ASSERT_EQ(Focused(log), "ConfigForm.Button3");
    Key("Return");
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0) << ReadText(log);
}

// A click into the dialog's empty space leaves the focus on its control; Tab and Shift+Tab
// go round the controls without stopping on the form.
TEST_F(X11Settings, AClickBesideTheControlsKeepsTheFocus) {
    const std::string scr = Pack("Alps.scr");
    const std::string log = dir.File("log");
    ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
    const unsigned long w = WaitForWindow(kSaverCaption);
    ASSERT_NE(w, 0u) << ReadText(log) << ReadText(log + ".err");
    ASSERT_TRUE(TakeFocus(w, log, 0, p)) << ReadText(log);
    for (int i = 0; i < 50 && Focused(log) != "ConfigForm.timecombo"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(Focused(log), "ConfigForm.timecombo");
    // Below the second group box, left of the buttons: the form's own face.
    const Geometry g = WindowGeometry(w);
    const int lines = Count(log, "focus ");
    Click(g.x + 20, g.y + 305);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Count(log, "focus "), lines) << ReadText(log);
    EXPECT_EQ(Focused(log), "ConfigForm.timecombo");
    int before = Count(log, "focus ");
    Key("shift+Tab");
    ASSERT_TRUE(WaitFocusChange(log, before, p)) << ReadText(log);
    EXPECT_EQ(Focused(log), "ConfigForm.Button2") << "Shift+Tab from the first control: the last";
    before = Count(log, "focus ");
    Key("Tab");
    ASSERT_TRUE(WaitFocusChange(log, before, p)) << ReadText(log);
    EXPECT_EQ(Focused(log), "ConfigForm.timecombo") << "Tab from the last control: the first";
    Key("Escape");
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0) << ReadText(log);
}

// From a running show, "Other" in the palette opens the colour dialog: transient for the
// settings dialog, and both stay above the full-screen show.
TEST_F(X11Settings, ColourDialogStaysAboveTheShowWithItsOwner) {
    const std::string exe = Pack("Alps.exe");
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 3", p)) << ReadText(log) << ReadText(log + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int focusBefore = Count(log, "focus ");
    const unsigned long settings = OpenSettings(log, p);
    ASSERT_NE(settings, 0u) << ReadText(log);
    ASSERT_TRUE(TakeFocus(settings, log, focusBefore, p));
    const Geometry g = WindowGeometry(settings);
    const int bx = g.x + 8 + 330, by = g.y + 6 + 24;
    Click(bx + 20, by + 11);
    ASSERT_TRUE(WaitForText(log, "focus UxColorButtonPalette.Surface", p)) << ReadText(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Click(bx + 25, by + 22 + 105);   // "Other"
    const unsigned long colours = WaitForWindow("Select Color");
    ASSERT_NE(colours, 0u) << ReadText(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string transient = Run(GD_XPROP " -id " + std::to_string(colours) + " WM_TRANSIENT_FOR");
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", settings);
    EXPECT_TRUE(Contains(transient, hex)) << transient << " settings " << hex;
    // The colour dialog moved aside: the settings dialog is still in front of the show.
    Run(GD_XDOTOOL " windowmove " + std::to_string(colours) + " 0 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const std::string png = Shot("colour-dialog-over-show");
    const Pixels visible = Census(png, {g.x + 250, g.y + 140, 150, 130});
    EXPECT_EQ(visible.red, 0) << png << ": the show covers the settings dialog";
    EXPECT_GT(visible.face, visible.total / 2) << png;
    // Cancel the colour dialog, close the palette, cancel the settings: the show goes on.
    if (!WindowManager()) Run(GD_XDOTOOL " windowfocus --sync " + std::to_string(colours));
    Key("Escape");
    EXPECT_TRUE(WaitWindowGone("Select Color"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Key("Escape");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Key("Escape");
    EXPECT_TRUE(WaitWindowGone(kSlideshowCaption)) << ReadText(log);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}

// The controls that use Enter and Escape themselves keep them: an open drop-down list and
// the colour palette close, the dialog stays.
TEST_F(X11Settings, AnOpenDropDownAndThePaletteKeepTheirKeys) {
    const std::string scr = Pack("Alps.scr");
    const std::string log = dir.File("log");
    ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
    const unsigned long w = WaitForWindow(kSaverCaption);
    ASSERT_NE(w, 0u) << ReadText(log) << ReadText(log + ".err");
    ASSERT_TRUE(TakeFocus(w, log, 0, p)) << ReadText(log);
    auto tabTo = [&](const std::string& name) {
        for (int i = 0; i < 20 && Focused(log) != "ConfigForm." + name; ++i) {
            const int before = Count(log, "focus ");
            Key("Tab");
            if (!WaitFocusChange(log, before, p)) break;
        }
        return Focused(log) == "ConfigForm." + name;
    };
    for (const char* key : {"Escape", "Return"}) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(tabTo("ComboBox1")) << ReadText(log);
        Key("alt+Down");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Key(key);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(p.Running()) << "the list's key closed the dialog";
        EXPECT_NE(FindWindow(kSaverCaption), 0u);
    }
    for (const char* key : {"Escape", "Return"}) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(tabTo("cbackground")) << ReadText(log);
        const int shown = Count(log, "focus UxColorButtonPalette.Surface");
        Key("space");
        for (int i = 0; i < 100 && Count(log, "focus UxColorButtonPalette.Surface") == shown; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_GT(Count(log, "focus UxColorButtonPalette.Surface"), shown) << ReadText(log);
        Key(key);
        for (int i = 0; i < 100 && Focused(log) != "ConfigForm.cbackground"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(Focused(log), "ConfigForm.cbackground") << "the palette closed, the button has the focus";
        EXPECT_TRUE(p.Running()) << "the palette's key closed the dialog";
    }
    EXPECT_FALSE(Contains(ReadText(Registry()), "\tDuration\t"));
    Key("Escape");
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
    EXPECT_FALSE(Contains(ReadText(Registry()), "\tDuration\t")) << "Escape is Cancel";
}

// The about box with a long text (the demo's own, then more): the text wraps inside its
// label (8, 8, 353 x 177) and is cut at the label's bottom; right of the label and below it
// the box shows only its face, and the OK button stays uncovered. Closed, it gives the
// keyboard back to the settings dialog.
TEST_F(X11Settings, AboutTextStaysInsideItsLabel) {
    std::string text = ReadText(GD_SOURCE_DIR "/scripts/demo-texts/about.txt");
    ASSERT_FALSE(text.empty());
    for (int i = 0; i < 8; ++i)
        text += "\r\nA stand-alone slideshow packed by scripts/run from the MATE desktop backgrounds and a chord.";
    const std::string scr = Pack("Alps.scr", {"--set", "AboutText=" + text, "--text", std::string("25=") + kAboutCaption});
    const std::string log = dir.File("log");
    ChildProcess p(scr, {"/C"}, XEnv(log), log + ".err");
    const unsigned long w = WaitForWindow(kSaverCaption);
    ASSERT_NE(w, 0u) << ReadText(log) << ReadText(log + ".err");
    ASSERT_TRUE(TakeFocus(w, log, 0, p)) << ReadText(log);
    const Geometry g = WindowGeometry(w);
    Click(g.x + 324 + 37, g.y + 286 + 12);   // Info
    const unsigned long about = WaitForWindow(kAboutCaption);
    ASSERT_NE(about, 0u) << ReadText(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const Geometry a = WindowGeometry(about);
    ASSERT_EQ(a.w, 372);
    ASSERT_EQ(a.h, 233);
    const std::string png = Shot("about-long-text");
    SCOPED_TRACE(png);
    const Pixels label = Census(png, {a.x + 8, a.y + 8, 353, 177});
    const Pixels cut = Census(png, {a.x + 8, a.y + 8 + 165, 353, 12});
    EXPECT_GT(label.text, 2000) << "the text is shown";
    EXPECT_GT(cut.text, 20) << "the text runs to the label's bottom";
    // Right of the label; below it, across and beside the button.
    const Geometry face[] = {{a.x + 361, a.y, 11, 233}, {a.x, a.y + 185, 372, 14}, {a.x, a.y + 199, 277, 34}};
    for (const Geometry& f : face) {
        const Pixels px = Census(png, f, 0xC0, 0xC0, 0xC0);
        EXPECT_EQ(px.match, px.total) << "text outside the label at " << f.x - a.x << ", " << f.y - a.y << " ("
                                      << px.text << " text pixels)";
        EXPECT_GT(px.total, 0);
    }
    // The button's caption is dark text on the button's face.
    const Pixels button = Census(png, {a.x + 282, a.y + 202, 71, 21});
    EXPECT_GT(button.text, 10);
    EXPECT_LT(button.text, 200) << "the button is covered";
    // Closed with the pointer away from both windows: the keyboard is the settings dialog's
    // again, and Escape there ends the program.
    Run(GD_XDOTOOL " mousemove 3 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Key("Escape");
    EXPECT_TRUE(WaitWindowGone(kAboutCaption));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Key("Escape");
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0) << ReadText(log);
}

// The colour dialog over a running show, closed with OK (Enter) or Cancel (Escape) while the
// pointer lies over the show: the keyboard is the settings dialog's again (no click needed):
// Tab moves its focus, Escape closes it.
TEST_F(X11Settings, TheKeyboardIsTheSettingsDialogsAfterTheColourDialog) {
    const std::string exe = Pack("Alps.exe");
    const std::string log = dir.File("log");
    ChildProcess p(exe, {"x"}, XEnv(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "show photo 3", p)) << ReadText(log) << ReadText(log + ".err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const char* key : {"Return", "Escape"}) {
        SCOPED_TRACE(key);
        const int focusBefore = Count(log, "focus ");
        const unsigned long settings = OpenSettings(log, p);
        ASSERT_NE(settings, 0u) << ReadText(log);
        ASSERT_TRUE(TakeFocus(settings, log, focusBefore, p));
        const Geometry g = WindowGeometry(settings);
        const int bx = g.x + 8 + 330, by = g.y + 6 + 24;
        const int shown = Count(log, "focus UxColorButtonPalette.Surface");
        Click(bx + 20, by + 11);
        for (int i = 0; i < 100 && Count(log, "focus UxColorButtonPalette.Surface") == shown; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_GT(Count(log, "focus UxColorButtonPalette.Surface"), shown) << ReadText(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Click(bx + 25, by + 22 + 105);   // "Other"
        const unsigned long colours = WaitForWindow("Select Color");
        ASSERT_NE(colours, 0u) << ReadText(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (!WindowManager()) Run(GD_XDOTOOL " windowfocus --sync " + std::to_string(colours));
        // Over the show, beside both dialogs.
        Run(GD_XDOTOOL " mousemove 3 3");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int palettes = Count(log, "focus UxColorButtonPalette.Surface");
        Key(key);
        ASSERT_TRUE(WaitWindowGone("Select Color"));
        if (std::string(key) == "Escape") {
            // Cancel: the palette is back (it holds the keyboard while open); Escape closes it.
            for (int i = 0; i < 100 && Count(log, "focus UxColorButtonPalette.Surface") == palettes; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ASSERT_GT(Count(log, "focus UxColorButtonPalette.Surface"), palettes) << ReadText(log);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Key("Escape");
        }
        for (int i = 0; i < 100 && Focused(log) != "ConfigForm.cbackground"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(Focused(log), "ConfigForm.cbackground") << ReadText(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char hex[32];
        std::snprintf(hex, sizeof hex, "%lu", settings);
        EXPECT_EQ(Run(GD_XDOTOOL " getwindowfocus"), std::string(hex) + "\n") << "the X input focus";
        const int before = Count(log, "focus ");
        Key("Tab");
        ASSERT_TRUE(WaitFocusChange(log, before, p)) << "Tab did nothing\n" << ReadText(log);
        EXPECT_NE(Focused(log), "ConfigForm.cbackground");
        Key("Escape");
        ASSERT_TRUE(WaitWindowGone(kSlideshowCaption)) << "Escape did nothing\n" << ReadText(log);
        ASSERT_TRUE(p.Running());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}
