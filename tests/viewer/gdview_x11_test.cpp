// gdview under a real X server (run through xvfb-run): screenshots show the photo fitted,
// at 100 % after the 100 % button, turned after rotate left in fit mode; Escape ends the
// program with exit code 0. A language file beside the program gives the window its texts.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

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
    // Under a window manager the file's name ends in "-openbox": the two runs go at once.
    Shot(std::string png) {
        if (std::getenv("GD_WINDOW_MANAGER")) png.insert(png.rfind(".png"), "-openbox");
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

namespace {

struct Geometry {
    int x = 0, y = 0, w = 0, h = 0;
    bool Empty() const { return w <= 0; }
};

// The visible window of exactly this title (the largest when there are several), waited for
// within a guard time; empty when none came.
Geometry WindowNamed(const std::string& title, std::chrono::milliseconds guard = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + guard;
    do {
        Geometry best;
        std::istringstream ids(Shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
        for (std::string id; ids >> id;) {
            // xwininfo's absolute position is the client area's also under a window manager's
            // frame (xdotool's counts the frame twice).
            std::istringstream g(Shell("xwininfo -id " + id));
            Geometry w;
            for (std::string l; std::getline(g, l);) {
                const auto colon = l.find(':');
                if (colon == std::string::npos) continue;
                const std::string k = l.substr(0, colon);
                const int v = std::atoi(l.c_str() + colon + 1);
                if (k.find("Absolute upper-left X") != std::string::npos) w.x = v;
                else if (k.find("Absolute upper-left Y") != std::string::npos) w.y = v;
                else if (k == "  Width") w.w = v;
                else if (k == "  Height") w.h = v;
            }
            if (w.w * w.h > best.w * best.h) best = w;
        }
        if (!best.Empty()) return best;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < end);
    return {};
}

bool WindowGone(const std::string& title) {
    for (int i = 0; i < 50; ++i) {
        if (Shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void Pause(int ms = 400) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool UnderWindowManager() { return std::getenv("GD_WINDOW_MANAGER") != nullptr; }

// A chooser list's rows: the first row's middle, one row further per Down.
enum Close { byEnter, byOkButton, byCloseBox };
struct ChooserCase {
    int pick;           // rows below the first, chosen by a click on the first and Down
    bool clickBeside;   // then a click into the empty space below the items
    Close close;
};

}  // namespace

// The album chooser as a user meets it: the album picked stays picked through a click into the
// white space below the items; Enter and OK copy there, the close box copies nothing.
TEST_F(GdviewX11, TheAlbumChooserKeepsThePickThroughAClickBesideTheItems) {
    const std::string home = dir.File("home");
    fs::create_directories(home + "/Bilder/Garden");
    fs::create_directories(home + "/Bilder/Holiday");
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    const Geometry main = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(main.Empty());
    std::vector<ChooserCase> cases = {{2, true, byEnter}, {1, true, byOkButton}, {0, true, byEnter}, {2, false, byOkButton}};
    if (UnderWindowManager()) cases.push_back({1, true, byCloseBox});
    const char* albums[] = {"", "/Garden", "/Holiday"};
    for (const ChooserCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.pick) + (c.clickBeside ? " beside " : " ") + std::to_string(c.close));
        for (const char* a : albums) fs::remove(home + "/Bilder" + a + "/photo.bmp");
        // File, then the second command (Add to album...).
        Xdo("mousemove " + std::to_string(main.x + 15) + " " + std::to_string(main.y + 10) + " click 1");
        Pause();
        Xdo("key Down Down Return");
        const Geometry w = WindowNamed("Select Album");
        ASSERT_FALSE(w.Empty()) << ReadText(log);
        Pause();
        Xdo("mousemove " + std::to_string(w.x + 60) + " " + std::to_string(w.y + 55) + " click 1");
        for (int i = 0; i < c.pick; ++i) Xdo("key Down");
        if (c.clickBeside) Xdo("mousemove " + std::to_string(w.x + 60) + " " + std::to_string(w.y + 48 + 180) + " click 1");
        Pause();
        Shot(std::string(kScreens) + "/5-album-chooser.png");
        if (c.close == byEnter) Xdo("key Return");
        else if (c.close == byOkButton) Xdo("mousemove " + std::to_string(w.x + 205) + " " + std::to_string(w.y + 276) + " click 1");
        else Xdo("key alt+F4");
        ASSERT_TRUE(WindowGone("Select Album"));
        Pause();
        for (int a = 0; a < 3; ++a)
            EXPECT_EQ(fs::exists(home + "/Bilder" + albums[a] + "/photo.bmp"), c.close != byCloseBox && a == c.pick)
                << albums[a];
    }
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(err);
}

// The language chooser shown at start: the language picked survives a click into the white
// space below the items, however the chooser is closed.
TEST_F(GdviewX11, TheLanguageChooserKeepsThePickThroughAClickBesideTheItems) {
    const std::string exe = dir.File("gdview");
    fs::copy_file(GD_GDVIEW_EXE, exe);
    std::string f;
    auto str = [&](const std::string& s) { f += '\x06', f += char(s.size()), f += s; };
    auto num = [&](int v) { f += '\x02', f += char(v); };
    for (const char* title : {"Alpha", "Beta"}) {
        f.clear();
        str("GDLF"), num(1), str("MS Sans Serif"), num(8), num(0), str(title), str(""), num(0), num(1);
        str("viewer.title"), str(title), str("Form1"), str(""), num(0);
        std::ofstream(dir.File(std::string(title) + ".lng"), std::ios::binary) << f;
    }
    // The chooser lists the files in the order the folder gives them.
    std::vector<std::string> order = {"Glimmerdeck Viewer"};
    for (const auto& e : fs::directory_iterator(dir.Path()))
        if (e.path().extension() == ".lng") order.push_back(e.path().stem().string());
    ASSERT_EQ(order.size(), 3u);
    std::vector<ChooserCase> cases = {{1, true, byEnter}, {2, true, byOkButton}, {0, true, byEnter}};
    if (UnderWindowManager()) cases.push_back({2, true, byCloseBox});
    for (const ChooserCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.pick) + " " + std::to_string(c.close));
        ChildProcess p(exe, {}, Env(), err);
        const Geometry w = WindowNamed("Glimmerdeck");
        ASSERT_FALSE(w.Empty()) << ReadText(err);
        Pause();
        Xdo("mousemove " + std::to_string(w.x + 60) + " " + std::to_string(w.y + 15) + " click 1");
        for (int i = 0; i < c.pick; ++i) Xdo("key Down");
        if (c.clickBeside) Xdo("mousemove " + std::to_string(w.x + 60) + " " + std::to_string(w.y + 8 + 170) + " click 1");
        Pause();
        Shot(std::string(kScreens) + "/6-language-chooser.png");
        if (c.close == byEnter) Xdo("key Return");
        else if (c.close == byOkButton) Xdo("mousemove " + std::to_string(w.x + 112) + " " + std::to_string(w.y + 212) + " click 1");
        else Xdo("key alt+F4");
        EXPECT_FALSE(WindowNamed(order[size_t(c.pick)]).Empty()) << "no window titled " << order[size_t(c.pick)];
        p.Signal(SIGTERM);
        const auto code = p.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 0) << ReadText(err);
    }
}

// A FIFO, an endless device, a folder and a socket named as the photo: the window is painted,
// says it cannot read the photo, and answers the keyboard (Escape ends it).
TEST_F(GdviewX11, SpecialFilesAsThePhotoLeaveTheWindowResponsive) {
    ASSERT_EQ(::mkfifo(dir.File("fifo.jpg").c_str(), 0600), 0);
    fs::create_directory(dir.File("folder.jpg"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir.File("s.jpg");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    for (const std::string& f : {dir.File("fifo.jpg"), std::string("/dev/zero"), dir.File("folder.jpg"), sockPath}) {
        SCOPED_TRACE(f);
        fs::remove(log);
        ChildProcess p(GD_GDVIEW_EXE, {f}, Env(), err);
        Wait("error Cannot read the photo \"" + f + "\"", p);
        const Geometry main = WindowNamed("Glimmerdeck Viewer");
        ASSERT_FALSE(main.Empty());
        Shot(std::string(kScreens) + "/7-special-file.png");
        // The message box sits over the window's middle: Enter closes it.
        Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2));
        Xdo("key Return");
        Pause(600);
        Xdo("mousemove " + std::to_string(main.x + 60) + " " + std::to_string(main.y + main.h - 60) + " click 1");
        Xdo("key Escape");
        const auto code = p.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(code.has_value()) << "gdview did not answer\n" << ReadText(log);
        EXPECT_EQ(*code, 0) << ReadText(err);
        EXPECT_TRUE(Contains(ReadText(log), "escape")) << ReadText(log);
    }
    ::close(sock);
}

// The zoom label and slider after the 100 % button and the mouse wheel over the photo.
TEST_F(GdviewX11, TheZoomDisplayFollowsTheWheel) {
    ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    {
        Shot s(std::string(kScreens) + "/8-before-wheel.png");
        const Box navy = s.Find(0, 0, 128);
        ASSERT_FALSE(navy.Empty());
        Xdo("mousemove " + std::to_string(navy.right - 4) + " " + std::to_string((navy.top + navy.bottom) / 2) + " click 1");
    }
    Wait("zoom 100%", p);
    const Geometry main = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(main.Empty());
    const size_t before = ReadText(log).size();
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2));
    Xdo("click 5");
    Pause(300);
    Xdo("click 5");
    Pause(600);
    // The last refresh of the display after the wheel: a zoom other than 100 %, the slider at
    // that zoom's position.
    const std::string after = ReadText(log).substr(before);
    const auto at = after.rfind("zoom display ");
    ASSERT_NE(at, std::string::npos) << after;
    int label = 0, slider = 0;
    ASSERT_EQ(std::sscanf(after.c_str() + at, "zoom display %d%% slider %d", &label, &slider), 2) << after;
    EXPECT_NE(label, 100);
    EXPECT_EQ(slider, std::clamp(label <= 100 ? label : 100 + (label - 100) / 2, 1, 200));
    Shot(std::string(kScreens) + "/8-after-wheel.png");
    Xdo("click 1");
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << ReadText(err);
}

namespace {

int RootSize(const char* what) {
    std::istringstream g(Shell("xwininfo -root"));
    for (std::string l; std::getline(g, l);)
        if (l.rfind(std::string("  ") + what + ":", 0) == 0) return std::atoi(l.c_str() + l.find(':') + 1);
    return 0;
}

// The window manager's frame extents of a window: left, right, top, bottom (0 without one).
std::array<int, 4> FrameExtents(const std::string& title) {
    std::array<int, 4> e{0, 0, 0, 0};
    std::string id = Shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null | head -1");
    while (!id.empty() && id.back() == '\n') id.pop_back();
    const std::string p = Shell("xprop -id " + id + " _NET_FRAME_EXTENTS 2>/dev/null");
    if (const auto eq = p.find('='); eq != std::string::npos)
        std::sscanf(p.c_str() + eq + 1, " %d, %d, %d, %d", &e[0], &e[1], &e[2], &e[3]);
    return e;
}

// The viewer's placement as a bigger screen left it, written into the settings store.
void WritePlacement(const std::string& configHome, const std::string& normPos) {
    fs::create_directories(configHome + "/glimmerdeck/registry");
    std::ofstream(configHome + "/glimmerdeck/registry/HKEY_CURRENT_USER")
        << "GlimmerdeckRegistry 1\n[software\\\\vantorel\\\\glimmerdeck\\\\Viewer]\nS\tFormVersion\t0\nS\tShowCmd\t1\n"
        << "S\tNormPos(1280x1024)\t" << normPos << "\nS\tNormPos\t" << normPos << "\n";
}

}  // namespace

// A placement saved on a 1280 x 1024 screen, restored on a smaller one: the window with its
// frame (the title bar and its handles) lies inside the screen, made smaller where it had to.
TEST_F(GdviewX11, APlacementFromABiggerScreenKeepsTheFrameOnScreen) {
    const int sw = RootSize("Width"), sh = RootSize("Height");
    ASSERT_GT(sw, 0);
    ASSERT_LT(sw, 1270);
    ASSERT_LT(sh, 1000);
    WritePlacement(dir.File("home/.config"), "420,300,1270,1000");   // 850 x 700 at 420, 300
    ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    Shot(std::string(kScreens) + "/9-placement-small-screen.png");
    const Geometry g = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(g.Empty());
    const auto [left, right, top, bottom] = FrameExtents("Glimmerdeck Viewer");
    if (UnderWindowManager()) EXPECT_GT(top, 0) << "no frame extents";
    SCOPED_TRACE(std::to_string(g.x) + "," + std::to_string(g.y) + " " + std::to_string(g.w) + "x" + std::to_string(g.h) +
                 " frame " + std::to_string(left) + "," + std::to_string(right) + "," + std::to_string(top) + "," +
                 std::to_string(bottom));
    EXPECT_GE(g.x - left, 0);
    EXPECT_GE(g.y - top, 0);
    EXPECT_LE(g.x + g.w + right, sw);
    EXPECT_LE(g.y + g.h + bottom, sh);
    // Made smaller only as far as the screen asks: it fills the screen's narrower side.
    EXPECT_EQ(g.w + left + right, std::min(850 + left + right, sw));
    EXPECT_EQ(g.h + top + bottom, std::min(700 + top + bottom, sh));
    p.Signal(SIGTERM);
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << ReadText(err);
}

// A settings store that cannot be written (its folder a file, the store file a folder): the
// first Escape, File > Exit or (under a window manager) Alt+F4 shows one message, then the
// window closes and the program ends as usual.
TEST_F(GdviewX11, AStoreThatCannotBeWrittenNeverKeepsTheViewerOpen) {
    enum Store { folderIsAFile, storeIsAFolder };
    enum Way { byEscape, byFileExit, byAltF4 };
    std::vector<std::pair<Store, Way>> cases = {
        {folderIsAFile, byEscape}, {folderIsAFile, byFileExit}, {storeIsAFolder, byEscape}, {storeIsAFolder, byFileExit}};
    if (UnderWindowManager()) cases.push_back({folderIsAFile, byAltF4});
    const std::string config = dir.File("home/.config");
    for (const auto& [store, way] : cases) {
        SCOPED_TRACE(std::to_string(store) + " " + std::to_string(way));
        fs::remove_all(config + "/glimmerdeck");
        if (store == folderIsAFile) std::ofstream(config + "/glimmerdeck") << "not a folder";
        else fs::create_directories(config + "/glimmerdeck/registry/HKEY_CURRENT_USER");
        fs::remove(log);
        ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
        Wait("photo ", p);
        const Geometry main = WindowNamed("Glimmerdeck Viewer");
        ASSERT_FALSE(main.Empty());
        Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
        Pause();
        if (way == byEscape) {
            Xdo("key Escape");
        } else if (way == byFileExit) {
            Xdo("mousemove " + std::to_string(main.x + 15) + " " + std::to_string(main.y + 10) + " click 1");
            Wait("menu File1", p);
            Xdo("key Down Down Down Down Return");
        } else {
            Xdo("key alt+F4");
        }
        Wait("error Failed to set data", p);
        Shot(std::string(kScreens) + "/10-store-not-writable.png");
        // The box sits over the window's middle: Enter closes it.
        Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2));
        Xdo("key Return");
        const auto code = p.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(code.has_value()) << "gdview did not end\n" << ReadText(log);
        EXPECT_EQ(*code, 0) << ReadText(err);
        EXPECT_TRUE(WindowGone("Glimmerdeck Viewer"));
        const std::string t = ReadText(log);
        size_t errors = 0;
        for (size_t at = t.find("error "); at != std::string::npos; at = t.find("error ", at + 1)) ++errors;
        EXPECT_EQ(errors, 1u) << t;
    }
}

namespace {

// File > Add to album..., the album below the base entry, Enter.
void AddToTheFirstAlbum(const Geometry& main, const std::function<void(const std::string&)>& wait,
                        const std::string& shot) {
    EXPECT_EQ(std::system(("xdotool mousemove " + std::to_string(main.x + 15) + " " + std::to_string(main.y + 10) +
                           " click 1").c_str()), 0);
    wait("menu File1");
    EXPECT_EQ(std::system("xdotool key Down Down Return"), 0);
    const Geometry w = WindowNamed("Select Album");
    ASSERT_FALSE(w.Empty());
    Pause();
    EXPECT_EQ(std::system(("xdotool mousemove " + std::to_string(w.x + 60) + " " + std::to_string(w.y + 55) +
                           " click 1 key Down").c_str()), 0);
    Pause();
    Shot{shot};
    EXPECT_EQ(std::system("xdotool key Return"), 0);
    ASSERT_TRUE(WindowGone("Select Album"));
    Pause();
}

bool SameBytes(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    return x.good() && y.good() &&
           std::equal(std::istreambuf_iterator<char>(x), {}, std::istreambuf_iterator<char>(y), {});
}

}  // namespace

// A photo whose name is Latin-1 (no UTF-8), as old archives hold them: named on the command
// line it opens, and Add to Album copies it byte for byte under its own name, into an album
// folder whose name is Latin-1 too.
TEST_F(GdviewX11, ANameThatIsNotUtf8OpensAndIsCopiedUnderItsOwnBytes) {
    const std::string home = dir.File("home");
    const std::string album = home + "/Bilder/F\xe9rias";
    fs::create_directories(album);
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    const std::string photo = dir.File("caf\xe9.bmp");
    fs::copy_file(dir.File("photo.bmp"), photo);
    ChildProcess p(GD_GDVIEW_EXE, {photo}, Env(), err);
    Wait("photo " + photo + " zoom", p);
    {
        Shot s(std::string(kScreens) + "/11-latin1-name.png");
        EXPECT_FALSE(s.Find(255, 0, 0).Empty() || s.Find(0, 0, 255).Empty()) << "the photo is not shown";
    }
    const Geometry main = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(main.Empty());
    AddToTheFirstAlbum(main, [&](const std::string& l) { Wait(l, p); }, std::string(kScreens) + "/11-latin1-album.png");
    ASSERT_TRUE(fs::exists(album + "/caf\xe9.bmp")) << "not copied under its own name";
    EXPECT_TRUE(SameBytes(album + "/caf\xe9.bmp", photo));
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(err);
}

// The same photo chosen in the Open dialog: F3, the folder's path typed into the name field
// and Enter (the dialog goes there), a click on the one photo listed and Enter; it opens,
// and Add to Album copies it byte for byte under its own name.
TEST_F(GdviewX11, ANameThatIsNotUtf8IsListedAndOpenedByTheOpenDialog) {
    const std::string home = dir.File("home");
    const std::string album = home + "/Bilder/Garden";
    fs::create_directories(album);
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    const std::string folder = dir.File("archive");
    fs::create_directories(folder);
    const std::string photo = folder + "/caf\xe9.bmp";
    fs::copy_file(dir.File("photo.bmp"), photo);
    std::ofstream(folder + "/notes.txt") << "not a photo";
    ChildProcess p(GD_GDVIEW_EXE, {}, Env(), err);
    Wait("idle done", p);
    const Geometry main = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(main.Empty());
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
    Pause();
    Xdo("key F3");
    const Geometry d = WindowNamed("Open Photo");
    ASSERT_FALSE(d.Empty()) << ReadText(log);
    Pause();
    Xdo("type --delay 5 '" + folder + "'");
    Xdo("key Return");
    Pause();
    // A click on the one photo listed (the first row, under the folder field and the header)
    // picks it: the name field shows it with a replacement character.
    Xdo("mousemove " + std::to_string(d.x + 60) + " " + std::to_string(d.y + 67) + " click 1");
    Pause();
    Shot(std::string(kScreens) + "/12-open-dialog-latin1.png");
    Xdo("key Return");
    Wait("photo " + photo + " zoom", p);
    ASSERT_TRUE(WindowGone("Open Photo"));
    {
        Shot s(std::string(kScreens) + "/12-opened-from-the-dialog.png");
        EXPECT_FALSE(s.Find(255, 0, 0).Empty() || s.Find(0, 0, 255).Empty()) << "the photo is not shown";
    }
    AddToTheFirstAlbum(main, [&](const std::string& l) { Wait(l, p); }, std::string(kScreens) + "/12-album.png");
    ASSERT_TRUE(fs::exists(album + "/caf\xe9.bmp")) << "not copied under its own name";
    EXPECT_TRUE(SameBytes(album + "/caf\xe9.bmp", photo));
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(err);
}
// A metafile opened while another thread of gdview makes and drops GObjects all along: the
// helper that draws it is a program of its own, so the picture comes at its usual speed,
// far within the helper's 20 s guard, and is drawn. Three starts, since a forked drawing
// would find a lock taken only now and then.
TEST_F(GdviewX11, AMetafileOpensBesideAGObjectBusyThread) {
    auto env = Env();
    env["LD_PRELOAD"] = GD_GOBJECT_BUSY;
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0";   // the preloaded library comes first
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        fs::remove(log);
        const auto start = std::chrono::steady_clock::now();
        ChildProcess p(GD_GDVIEW_EXE, {GD_SOURCE_DIR "/tests/imagelib/fixtures/emf/red_rectangle.emf"}, env, err);
        Wait("photo ", p);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_FALSE(Contains(ReadText(log), "error")) << ReadText(log);
        {
            // At 100 %: the red rectangle of the 95 x 47 page, 48 x 24 pixels.
            Shot s(std::string(kScreens) + "/9-metafile-gobject-thread.png");
            const Box red = s.Find(255, 0, 0);
            ASSERT_FALSE(red.Empty());
            EXPECT_NEAR(red.Width(), 48, 2);
            EXPECT_NEAR(red.Height(), 24, 2);
            // The window takes the keyboard with a click on the picture.
            Xdo("mousemove " + std::to_string((red.left + red.right) / 2) + " " +
                std::to_string((red.top + red.bottom) / 2) + " click 1");
        }
        Pause();
        Xdo("key Escape");
        const auto code = p.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(code.has_value()) << "gdview did not end\n" << ReadText(log);
        EXPECT_EQ(*code, 0) << ReadText(err);
    }
}

// Every dialog of the window gives the keyboard back when it closes, with the pointer away
// from the window (on a bare X server the input focus would otherwise stay on the root
// window, and keys would go to whatever lies under the pointer): the Open dialog, the
// "not found" message box and the album chooser, each closed from the keyboard, then a
// rotation key reaches the window, and Escape ends it.
TEST_F(GdviewX11, TheKeyboardIsTheWindowsAfterEveryDialog) {
    fs::create_directories(dir.File("home/Bilder"));
    std::ofstream(dir.File("home/.config/user-dirs.dirs")) << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    ChildProcess p(GD_GDVIEW_EXE, {dir.File("photo.bmp")}, Env(), err);
    Wait("photo ", p);
    const Geometry main = WindowNamed("Glimmerdeck Viewer");
    ASSERT_FALSE(main.Empty());
    // A click gives the window the keyboard to begin with.
    Xdo("mousemove " + std::to_string(main.x + main.w / 2) + " " + std::to_string(main.y + main.h / 2) + " click 1");
    Pause();
    auto rotations = [&] {
        const std::string t = ReadText(log);
        int n = 0;
        for (size_t at = t.find("rotated zoom"); at != std::string::npos; at = t.find("rotated zoom", at + 1)) ++n;
        return n;
    };
    struct Dialog {
        const char* name;
        std::function<void()> open;
        const char* title;
        const char* close;
    };
    const Dialog dialogs[] = {
        {"open", [] { Xdo("key F3"); }, "Open Photo", "Escape"},
        {"not found", [] { Xdo("key ctrl+p"); }, "Error", "Return"},
        {"album chooser",
         [&] {
             Xdo("mousemove " + std::to_string(main.x + 15) + " " + std::to_string(main.y + 10) + " click 1");
             Pause();
             Xdo("key Down Down Return");
         },
         "Select Album", "Escape"},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(d.name);
        d.open();
        ASSERT_FALSE(WindowNamed(d.title).Empty()) << ReadText(log);
        Pause();
        Xdo("mousemove 2 2");
        Pause(200);
        Xdo(std::string("key ") + d.close);
        ASSERT_TRUE(WindowGone(d.title));
        Pause();
        const int before = rotations();
        Xdo("key ctrl+l");
        for (int i = 0; i < 50 && rotations() == before; ++i) Pause(100);
        EXPECT_EQ(rotations(), before + 1) << "the key did not reach the window\n" << ReadText(log);
        ASSERT_TRUE(p.Running());
    }
    Xdo("key Escape");
    const auto code = p.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(code.has_value()) << "Escape did not reach the window\n" << ReadText(log);
    EXPECT_EQ(*code, 0) << ReadText(err);
}
