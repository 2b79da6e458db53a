// The built player, packed with gdpack, started offscreen in each run mode.
#include <csignal>

#include "Registry.h"
#include "SaverFixture.h"

namespace {

struct ModeCase {
    const char* name;
    const char* file;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::vector<std::string> logHas, logLacks;
    int signal;          // 0: the run ends by itself
    int exitCode;
    const char* stderrHas;
    bool shutdown = true;   // false: ends before the application exists, nothing to clean up
};

}  // namespace

TEST_F(SaverRun, EachModeStartsAndEnds) {
    const std::vector<ModeCase> cases = {
        {"slideshow without arguments: help first", "Alps.exe", {}, {},
         {"mode 4 photos 2", "window help"}, {"window show"}, SIGTERM, 0, ""},
        {"slideshow with an unknown switch: no help", "Alps.exe", {"x"}, {},
         {"mode 4 photos 2", "window show slideshow"}, {"window help"}, SIGINT, 0, ""},
        {"saver switch wins over .exe", "Alps.exe", {"-S"}, {},
         {"mode 3 photos 2", "window show saver"}, {"window help"}, SIGTERM, 0, ""},
        {"saver", "Alps.scr", {"/s"}, {}, {"mode 3", "window show saver"}, {}, SIGTERM, 0, ""},
        {"settings by extension", "Alps.scr", {}, {}, {"mode 2 photos 2", "window config"}, {},
         SIGTERM, 0, ""},
        {"settings by switch with a handle", "Alps.scr", {"/c:1234"}, {},
         {"mode 2", "window config"}, {}, SIGINT, 0, ""},
        {"password change has no service on Linux", "Alps.scr", {"/a", "123"}, {},
         {"mode 0"}, {"\nwindow "}, 0, 1, "Error accessing mpr.dll"},
        {"preview needs X11", "Alps.scr", {"/p", "123"}, {}, {"mode 1"}, {"\nwindow "}, 0, 1, "X11"},
        {"preview into handle 0", "Alps.scr", {"/P", "0"}, {}, {"mode 1"}, {"\nwindow "}, 0, 1,
         "handle 0"},
        {"preview with a non-numeric handle", "Alps.scr", {"/P", "abc"}, {}, {"mode 1"},
         {"\nwindow "}, 0, 1, "abc"},
        {"preview without a handle", "Alps.scr", {"/P"}, {}, {"mode 1"}, {"\nwindow "}, 0, 1, ""},
        {"xscreensaver's --root maps to the preview", "Alps.scr", {"--root"},
         {{"XSCREENSAVER_WINDOW", "0x10"}}, {"mode 1"}, {"\nwindow "}, 0, 1, "X11"},
        {"-window-id maps to the preview", "Alps.scr", {"-window-id", "0x10"}, {}, {"mode 1"},
         {"\nwindow "}, 0, 1, "X11"},
        {"no display at all: a message and exit 1, no abort", "Alps.exe", {"x"},
         {{"QT_QPA_PLATFORM", ""}}, {"no display"}, {"mode ", "\nwindow "}, 0, 1,
         "Alps.exe: no display (DISPLAY is not set)", false},
        {"a display that cannot be opened", "Alps.scr", {}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":97"}},
         {"no display"}, {"mode ", "\nwindow "}, 0, 1, "cannot open the display \":97\"", false},
        {"-root without a window and without X11: the full-screen saver", "Alps.scr", {"-root"}, {},
         {"mode 3", "window show saver"}, {}, SIGTERM, 0, ""},
        {"SIGHUP ends like SIGTERM", "Alps.exe", {"x"}, {}, {"signal SIGHUP", "halt 0"}, {}, SIGHUP, 0,
         ""},
    };
    BuildPlayer("Alps.exe");
    BuildPlayer("Alps.scr");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = dir.File("log" + std::to_string(++n));
        const std::string err = log + ".err";
        auto env = Env(log);
        for (const auto& [k, v] : c.env) env[k] = v;
        ChildProcess p(dir.File(c.file), c.args, env, err);
        if (c.signal) {
            ASSERT_TRUE(WaitForText(log, "\nwindow ", p)) << ReadText(log) << ReadText(err);
            p.Signal(c.signal);
        }
        EXPECT_EQ(p.Wait(), c.exitCode) << ReadText(err);
        const std::string text = ReadText(log);
        for (const auto& l : c.logHas) EXPECT_TRUE(Contains(text, l)) << l << " in\n" << text;
        for (const auto& l : c.logLacks) EXPECT_FALSE(Contains(text, l)) << l << " in\n" << text;
        if (c.shutdown) {
            EXPECT_TRUE(Contains(text, "shutdown")) << "every end runs the shutdown\n" << text;
        }
        if (c.signal) {
            EXPECT_TRUE(Contains(text, "signal ")) << text;
        }
        EXPECT_TRUE(Contains(ReadText(err), c.stderrHas)) << ReadText(err);
    }
}

TEST_F(SaverRun, RegistryOverridesBlock0PerFileAndKey) {
    BuildPlayer("Alps.scr");
    BuildPlayer("Alps.exe");
    ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    {
        TRegIniFile ini("Software\\Vantorel\\Glimmerdeck\\Screensaver");
        ini.WriteString("Alps", "Duration", "7");
        ini.WriteString("Alps", "Random", "1");
        ini.WriteString("Other", "Effect", "2");
    }
    ::unsetenv("XDG_CONFIG_HOME");

    struct Case {
        const char* file;
        std::vector<std::string> args;
        const char* want;
    };
    const Case cases[] = {
        {"Alps.scr", {"/S"}, "settings Duration 7 Effect 5 Random 1"},
        {"Alps.exe", {"/S"}, "settings Duration 7 Effect 5 Random 1"},   // saver: the saver's key
        {"Alps.exe", {"x"}, "settings Duration 3 Effect 5 Random 0"},    // slideshow: its own key
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.args[0]);
        const std::string log = dir.File("reg" + std::to_string(++n));
        ChildProcess p(dir.File(c.file), c.args, Env(log), log + ".err");
        ASSERT_TRUE(WaitForText(log, "\nwindow ", p)) << ReadText(log + ".err");
        EXPECT_TRUE(Contains(ReadText(log), c.want)) << ReadText(log);
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(), 0);
    }
}

// The bare player (no show appended) keeps its zero settings in every mode, and says on
// stderr why there is nothing to see and how to make a show; a packed player says nothing of it.
TEST_F(SaverRun, BarePlayerRunsWithZeroSettingsAndSaysHowToMakeAShow) {
    std::filesystem::copy_file(GD_PLAYER_EXE, dir.File("Bare.scr"));
    ::chmod(dir.File("Bare.scr").c_str(), 0755);
    BuildPlayer("Alps.scr");
    char* gdpack = ::realpath(GD_GDPACK_EXE, nullptr);
    ASSERT_NE(gdpack, nullptr);
    const std::string builder = gdpack;
    std::free(gdpack);
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> args;
        std::vector<std::string> logHas;
        bool endsByItself;
        std::string builder;   // named on stderr; empty: no message at all
    };
    const std::vector<Case> cases = {
        {"a copy as saver: no photos, it ends by itself", dir.File("Bare.scr"), {"/s"},
         {"mode 3 photos 0", "settings Duration 0 Effect 0 Random 0", "show end"}, true, "tools/gdpack"},
        {"a copy's settings dialog", dir.File("Bare.scr"), {"/c"}, {"mode 2 photos 0", "window config"}, false,
         "tools/gdpack"},
        {"the built player names the builder beside it", GD_PLAYER_EXE, {"/s"}, {"mode 3 photos 0"}, true, builder},
        {"a packed player", dir.File("Alps.scr"), {"/c"}, {"mode 2 photos 2", "window config"}, false, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = dir.File("bare" + std::to_string(++n));
        ChildProcess p(c.file, c.args, Env(log), log + ".err");
        if (!c.endsByItself) {
            ASSERT_TRUE(WaitForText(log, "\nwindow ", p)) << ReadText(log + ".err");
            p.Signal(SIGTERM);
        }
        EXPECT_EQ(p.Wait(), 0);
        for (const auto& l : c.logHas) EXPECT_TRUE(Contains(ReadText(log), l)) << l << " in\n" << ReadText(log);
        const std::string err = ReadText(log + ".err");
        EXPECT_EQ(Contains(err, "no show is appended to this file"), !c.builder.empty()) << err;
        if (!c.builder.empty()) EXPECT_TRUE(Contains(err, c.builder + " build -o ")) << err;
    }
}

// The mode comes from the file the running image was started from, so a link named
// differently takes its target's mode, and the blocks are read from the running image.
TEST_F(SaverRun, LinkTakesTheModeOfItsTarget) {
    BuildPlayer("Alps.exe");
    ASSERT_EQ(::symlink(dir.File("Alps.exe").c_str(), dir.File("Link.scr").c_str()), 0);
    const std::string log = dir.File("log");
    ChildProcess p(dir.File("Link.scr"), {"x"}, Env(log), log + ".err");
    ASSERT_TRUE(WaitForText(log, "\nwindow ", p)) << ReadText(log + ".err");
    EXPECT_TRUE(Contains(ReadText(log), "mode 4 photos 2")) << ReadText(log);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
}

TEST_F(SaverRun, SecondInstanceExitsAtOnceWithoutAWindow) {
    BuildPlayer("Alps.scr");
    BuildPlayer("Alps.exe");
    const std::string log1 = dir.File("first");
    ChildProcess first(dir.File("Alps.scr"), {"/c"}, Env(log1), log1 + ".err");
    ASSERT_TRUE(WaitForText(log1, "window config", first)) << ReadText(log1 + ".err");

    const std::vector<std::pair<const char*, std::vector<std::string>>> seconds = {
        {"Alps.scr", {"/c"}}, {"Alps.scr", {}}, {"Alps.exe", {"/s"}}, {"Alps.scr", {"/p", "0"}}};
    int n = 0;
    for (const auto& [file, args] : seconds) {
        const std::string log = dir.File("second" + std::to_string(++n));
        ChildProcess second(dir.File(file), args, Env(log), log + ".err");
        EXPECT_EQ(second.Wait(), 0) << file;
        EXPECT_TRUE(Contains(ReadText(log), "already running")) << ReadText(log);
        EXPECT_TRUE(Contains(ReadText(log + ".err"), "Glimmerdeck is already running"))
            << "the user is told why nothing appears";
        EXPECT_FALSE(Contains(ReadText(log), "\nwindow ")) << ReadText(log);
        EXPECT_FALSE(Contains(ReadText(log), "mode")) << "ends before block 0 is read";
    }
    EXPECT_TRUE(first.Running());
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);

    // Once the first has gone, the lock is free again.
    const std::string log3 = dir.File("third");
    ChildProcess third(dir.File("Alps.scr"), {"/c"}, Env(log3), log3 + ".err");
    ASSERT_TRUE(WaitForText(log3, "window config", third));
    third.Signal(SIGTERM);
    EXPECT_EQ(third.Wait(), 0);
}

TEST_F(SaverRun, GdpackListsTheBlocks) {
    BuildPlayer("Alps.scr");
    ChildProcess p(GD_GDPACK_EXE, {"list", dir.File("Alps.scr")}, {}, dir.File("list.err"), true);
    std::vector<std::string> lines;
    for (std::string l = p.ReadLine(); !l.empty(); l = p.ReadLine()) lines.push_back(l);
    EXPECT_EQ(p.Wait(), 0);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(Contains(lines[0], "4 block(s)"));
    EXPECT_TRUE(Contains(lines[1], "block 0:") && Contains(lines[1], "PhotoCount 2"));
    EXPECT_TRUE(Contains(lines[2], "block 1:") && Contains(lines[2], "size 0, music"));
    EXPECT_TRUE(Contains(lines[3], "block 2:") && Contains(lines[3], "\"See\""));
    EXPECT_TRUE(Contains(lines[4], "block 3:") && Contains(lines[4], "\"Berg\""));
}

TEST_F(SaverRun, GdpackBuildOptionsReachBlock0) {
    const gdpack::Bytes wav = SilentWav(100);
    gdpack::WriteFileBytes(dir.File("song.wav"), wav, false);
    gdpack::WriteFileBytes(dir.File("help.html"), {'<', 'B', '>', 'H', '\r', '\n'}, false);
    gdpack::WriteFileBytes(dir.File("base"), gdpack::Bytes(10, 0), false);
    ChildProcess p(GD_GDPACK_EXE,
                   {"build", "-o", dir.File("out.scr"), "--base", dir.File("base"),
                    "--photo", "Berg", "c", dir.File("berg.bmp"), "--music", dir.File("song.wav"),
                    "--set", "Background=0x00FF8000", "--set", "Duration=-1", "--set", "Random=1",
                    "--set", "NameFont=Arial", "--set", "AboutText=Made by me",
                    "--text", "13=immer", "--text-file", "0=" + dir.File("help.html")},
                   {}, dir.File("b.err"));
    ASSERT_EQ(p.Wait(), 0) << ReadText(dir.File("b.err"));

    gdpack::Block0 want = gdpack::NewShowSettings();
    want.PhotoCount = 1;
    want.Background = 0x00FF8000;
    want.Duration = -1;
    want.Random = 1;
    want.NameFont = "Arial";
    want.AboutText = "Made by me";
    want.MusicName = "song.wav";
    want.Texts[13] = "immer";
    want.Texts[0] = "<B>H\r\n";
    const gdpack::Bytes file = gdpack::ReadFileBytes(dir.File("out.scr"));
    const auto blocks = gdpack::ListBlocks(file);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(gdpack::Bytes(file.begin() + blocks[0].Offset, file.begin() + blocks[0].Offset + blocks[0].Size),
              gdpack::EncodeBlock0(want));
    EXPECT_EQ(blocks[1].Size, wav.size());
    EXPECT_EQ(blocks[1].Offset, 10u + blocks[2].Size + 12u);

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--set", "Colour=1"}, {"--set", "Duration=abc"}, {"--set", "Random=300"},
             {"--text", "26=x"}, {"--photo", "only-a-name"}}) {
        std::vector<std::string> args = {"build", "-o", dir.File("bad.scr"), "--base", dir.File("base")};
        args.insert(args.end(), bad.begin(), bad.end());
        ChildProcess q(GD_GDPACK_EXE, args, {}, dir.File("bad.err"));
        EXPECT_EQ(q.Wait(), 2) << bad[0] << " " << bad[1];
    }
}

TEST_F(SaverRun, GdpackHelpListsEveryField) {
    ChildProcess p(GD_GDPACK_EXE, {"--help"}, {}, dir.File("help.err"), true);
    std::string help;
    for (int i = 0; i < 200; ++i) help += p.ReadLine() + "\n";
    EXPECT_EQ(p.Wait(), 0);
    for (const char* field : {"Duration", "Effect", "EffectDuration", "Background", "AutoFit", "Random",
                              "Loop", "Showname", "NamePosition", "NameFont", "NameSize", "NameColor",
                              "NameShowBackground", "NameBackground", "MusicName", "AboutText",
                              "PhotoCount"})
        EXPECT_TRUE(Contains(help, std::string("\n  ") + field + " ")) << field;
    for (const char* unit : {"seconds", "points", "0x00BBGGRR", "TColor", ".exe", ".scr", "--text"})
        EXPECT_TRUE(Contains(help, unit)) << unit;
}
