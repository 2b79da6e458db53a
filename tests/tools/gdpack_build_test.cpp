// `gdpack build` against a user's slips: an output that is one of its inputs, special files,
// a show given as the base, `--`, a build that fails while writing; the same bytes on one
// thread and on many; file names that are not UTF-8; progress on a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "SaverFixture.h"
#include "exedata.h"

namespace fs = std::filesystem;

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A file's bytes in one read: the sanitizer build's player is large.
gdpack::Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    gdpack::Bytes b(in ? size_t(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(b.data()), std::streamsize(b.size()));
    return b;
}

// The photo titles of a show in show order (block N+1 first).
std::vector<std::string> Titles(const std::string& path) {
    const gdpack::Bytes file = Slurp(path);
    const auto blocks = gdpack::ListBlocks(file);
    std::vector<std::string> t;
    for (size_t k = blocks.size(); k-- > 2;) {
        const uint8_t* p = file.data() + blocks[k].Offset;
        t.emplace_back(reinterpret_cast<const char*>(p + 4), Le32(p));
    }
    return t;
}

// Everything in a folder: each entry's kind, and a regular file's bytes or a link's target.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> s;
    for (const auto& e : fs::directory_iterator(dir)) {
        const auto st = e.symlink_status();
        std::string v;
        if (fs::is_symlink(st)) v = "link " + fs::read_symlink(e.path()).string();
        else if (fs::is_regular_file(st)) {
            const gdpack::Bytes b = Slurp(e.path().string());
            v = "file " + std::string(b.begin(), b.end());
        } else v = "kind " + std::to_string(int(st.type()));
        s[e.path().filename().string()] = v;
    }
    return s;
}

struct Result {
    std::optional<int> exit;
    std::string err, out;
};

}  // namespace

class GdpackInputs : public SaverRun {
protected:
    void SetUp() override {
        SaverRun::SetUp();
        fs::create_directory(w(""));
        Jpeg("p.jpg", 40, 30, "red");
        Jpeg("q.jpg", 30, 40, "blue");
        gdpack::WriteFileBytes(w("tune.wav"), SilentWav(800), false);
        gdpack::WriteFileBytes(w("help.html"), {'<', 'B', '>', 'h', 'i'}, false);
        // Any file serves as a base player where only the refusals count; a small one keeps
        // the snapshots of the folder quick.
        gdpack::WriteFileBytes(w("base.exe"), gdpack::Bytes(4096, 0x90), false);
        fs::create_symlink("p.jpg", w("plink"));
        fs::create_symlink("base.exe", w("baselink"));
        fs::create_hard_link(w("p.jpg"), w("hard.jpg"));
        fs::create_directory(w("sub"));
        ASSERT_EQ(::mkfifo(w("fifo").c_str(), 0600), 0);
        gdpack::Bytes noise(2000);
        uint32_t x = 7;
        for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
        gdpack::WriteFileBytes(w("noise.jpg"), noise, false);
    }

    // The files a build reads and writes live in w/, the logs beside it.
    std::string w(const std::string& name) const { return dir.File("w/" + name); }

    void Jpeg(const std::string& name, int width, int height, const std::string& look) {
        const std::string cmd = "convert -size " + std::to_string(width) + "x" + std::to_string(height) + " " +
                                (look.find(':') == std::string::npos ? "xc:" + look : look) +
                                " -quality 85 'jpeg:" + w(name) + "' 2>&1";
        ASSERT_EQ(RunCommand(cmd), "") << cmd;
        ASSERT_TRUE(fs::exists(w(name))) << cmd;
    }

    Result Run(const std::vector<std::string>& args) {
        const std::string err = dir.File("err" + std::to_string(++runs_));
        std::vector<std::string> a = {"build"};
        a.insert(a.end(), args.begin(), args.end());
        ChildProcess p(GD_GDPACK_EXE, a, {}, err, true);
        Result r;
        // Waited for first (its one line fits the pipe): a build that hangs is killed and fails.
        r.exit = p.Wait(std::chrono::seconds(20));
        r.out = p.ReadLine();
        r.err = ReadText(err);
        return r;
    }

    std::string Player() const { return GD_PLAYER_EXE; }
    int runs_ = 0;
};

// Each slip is refused at once (never read from a FIFO or a device), named, and leaves every
// file as it was: an output that is one of the inputs, a special file as music, text or base.
TEST_F(GdpackInputs, RefusesMistakesAndLeavesEveryFileAsItWas) {
    ASSERT_EQ(Run({"-o", w("old.exe"), "--base", w("base.exe"), w("q.jpg")}).exit, 0);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    };
    const std::string base = w("base.exe");
    const std::vector<Case> cases = {
        {"output is the photo", {"-o", w("p.jpg"), "--base", base, w("p.jpg")}, 2,
         "the output " + w("p.jpg") + " is the photo " + w("p.jpg")},
        {"output is a link to the photo", {"-o", w("plink"), "--base", base, w("q.jpg"), w("p.jpg")}, 2,
         "the output " + w("plink") + " is the photo " + w("p.jpg")},
        {"photo given through a link to the output", {"-o", w("p.jpg"), "--base", base, "--photo", "T", "C", w("plink")},
         2, "is the photo " + w("plink")},
        {"output is a hard link of the photo", {"-o", w("hard.jpg"), "--base", base, w("p.jpg")}, 2,
         "the output " + w("hard.jpg") + " is the photo " + w("p.jpg")},
        {"output is the music", {"-o", w("tune.wav"), "--base", base, w("p.jpg"), "--music", w("tune.wav")}, 2,
         "is the music " + w("tune.wav")},
        {"output is a text file", {"-o", w("help.html"), "--base", base, w("p.jpg"), "--text-file", "0=" + w("help.html")},
         2, "is the text file " + w("help.html")},
        {"output is the base", {"-o", w("base.exe"), "--base", w("base.exe"), w("p.jpg")}, 2,
         "the output " + w("base.exe") + " is the base player " + w("base.exe")},
        {"output is a link to the base", {"-o", w("baselink"), "--base", w("base.exe"), w("p.jpg")}, 2,
         "is the base player " + w("base.exe")},
        {"output is a FIFO", {"-o", w("fifo"), "--base", base, w("p.jpg")}, 1, "cannot write " + w("fifo")},
        {"output is a folder", {"-o", w("sub"), "--base", base, w("p.jpg")}, 1, "cannot write " + w("sub")},
        {"no photo to show over an old show", {"-o", w("old.exe"), "--base", base, w("noise.jpg")}, 1,
         "skipped " + w("noise.jpg")},
        {"a FIFO as music", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--music", w("fifo")}, 1,
         w("fifo") + " cannot be the music: it is a FIFO"},
        {"a device as music", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--music", "/dev/zero"}, 1,
         "/dev/zero cannot be the music: it is a device"},
        {"a folder as music", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--music", w("sub")}, 1,
         w("sub") + " cannot be the music: it is a folder"},
        {"a FIFO as text", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--text-file", "0=" + w("fifo")}, 1,
         "cannot read the text file " + w("fifo") + ": it is a FIFO"},
        {"a device as text", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--text-file", "0=/dev/zero"}, 1,
         "cannot read the text file /dev/zero: it is a device"},
        {"a folder as text", {"-o", w("old.exe"), "--base", base, w("p.jpg"), "--text-file", "0=" + w("sub")}, 1,
         "cannot read the text file " + w("sub") + ": it is a folder"},
        {"a FIFO as base", {"-o", w("old.exe"), "--base", w("fifo"), w("p.jpg")}, 1,
         "cannot read the base player " + w("fifo") + ": it is a FIFO"},
        {"a device as base", {"-o", w("old.exe"), "--base", "/dev/zero", w("p.jpg")}, 1,
         "cannot read the base player /dev/zero: it is a device"},
        {"a folder as base", {"-o", w("old.exe"), "--base", w("sub"), w("p.jpg")}, 1,
         "cannot read the base player " + w("sub") + ": it is a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = Snapshot(w(""));
        const Result r = Run(c.args);
        EXPECT_EQ(r.exit, c.exitCode) << r.err;
        EXPECT_TRUE(Contains(r.err, c.says)) << c.says << " in\n" << r.err;
        EXPECT_TRUE(Contains(r.err, "nothing written")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(Snapshot(w("")) == before) << "a file changed, or one was left behind";
    }
}

// What is taken: a special file as a photo is skipped and named, the rest packed as given;
// after `--` every argument is a photo; a show as the base gives its bare player.
TEST_F(GdpackInputs, SkipsSpecialPhotosTakesDashNamesAndTheBarePlayerOfAShow) {
    Jpeg("-beach.jpg", 20, 20, "green");
    Jpeg("-o", 20, 20, "yellow");
    ASSERT_EQ(Run({"-o", w("old.exe"), "--base", Player(), w("q.jpg"), w("p.jpg")}).exit, 0);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> says;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {"special files as photos",
         {"--base", Player(), w("fifo"), w("p.jpg"), "/dev/zero", w("sub"), w("q.jpg")},
         {"skipped " + w("fifo") + ": it is a FIFO", "skipped /dev/zero: it is a device",
          "skipped " + w("sub") + ": it is a folder"},
         {"p", "q"}},
        {"dash-named photos after --", {"--base", Player(), w("p.jpg"), "--", w("-beach.jpg"), "-o"}, {}, {"p", "-beach", "-o"}},
        {"a show as the base", {"--base", w("old.exe"), w("p.jpg")},
         {w("old.exe") + " is a show already (4 blocks); only the bare player in front of them is used"}, {"p"}},
    };
    const gdpack::Bytes player = Slurp(Player());
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = w("new" + std::to_string(++n) + ".exe");
        std::vector<std::string> args = {"-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        // Relative names after --, so "-o" is a file here, not the option.
        const auto cwd = fs::current_path();
        fs::current_path(w(""));
        const Result r = Run(args);
        fs::current_path(cwd);
        EXPECT_EQ(r.exit, 0) << r.err;
        for (const auto& s : c.says) EXPECT_TRUE(Contains(r.err, s)) << s << " in\n" << r.err;
        if (c.says.empty()) {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(Titles(out), c.titles);
        const gdpack::Bytes file = Slurp(out);
        EXPECT_EQ(gdpack::ListBlocks(file).size(), c.titles.size() + 2);
        ASSERT_GE(file.size(), player.size());
        EXPECT_TRUE(std::equal(player.begin(), player.end(), file.begin())) << "the bare player in front";
    }
}

// A build that fails while writing (here past a file-size limit, as on a full disk) leaves
// the old show byte for byte and no temporary file.
TEST_F(GdpackInputs, AFailedWriteLeavesTheOldShow) {
    ASSERT_EQ(Run({"-o", w("old.exe"), "--base", Player(), w("q.jpg")}).exit, 0);
    const auto before = Snapshot(w(""));
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 200 * 1024;   // well under the player's size: the copy of the base fails
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result r = Run({"-o", w("old.exe"), "--base", Player(), w("p.jpg")});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "cannot write " + w("old.exe") + ": File too large; nothing written")) << r.err;
    EXPECT_TRUE(Snapshot(w("")) == before) << "the old show changed, or a file was left behind";

    // Ended by a signal at whatever point it has reached: the old show or the whole new one,
    // and nothing else.
    Jpeg("big.jpg", 1200, 900, "plasma:red-blue");
    std::vector<std::string> args = {"build", "-o", w("old.exe"), "--base", Player()};
    for (int i = 0; i < 8; ++i) args.push_back(w("big.jpg"));
    const auto names = Snapshot(w(""));
    for (int delayMs : {0, 20, 80}) {
        SCOPED_TRACE(delayMs);
        ChildProcess p(GD_GDPACK_EXE, args, {}, dir.File("term.err"));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        p.Signal(SIGTERM);
        const auto status = p.Wait();
        ASSERT_TRUE(status == -SIGTERM || status == 0) << ReadText(dir.File("term.err"));
        const auto after = Snapshot(w(""));
        EXPECT_EQ(after.size(), names.size()) << "a file was left behind";
        if (after.at("old.exe") != before.at("old.exe")) {
            EXPECT_EQ(Titles(w("old.exe")).size(), 8u) << "neither the old show nor the whole new one";
        }
    }
}

// Photos checked on one thread or on many: the same bytes, the same messages in the same
// order. The first photo is the largest, so on many threads the others are done before it.
TEST_F(GdpackInputs, OneThreadAndManyWriteTheSameShow) {
    Jpeg("big.jpg", 900, 700, "plasma:red-blue");
    std::vector<std::string> photos = {w("big.jpg")};
    for (int i = 0; i < 12; ++i) {
        const std::string name = "s" + std::to_string(i) + ".jpg";
        Jpeg(name, 16 + i, 12 + i, i % 2 ? "white" : "navy");
        photos.push_back(w(name));
        if (i % 4 == 1) photos.push_back(w("noise.jpg"));
        if (i == 6) photos.push_back(w("fifo"));
        if (i == 9) photos.push_back(w("missing.jpg"));
    }
    std::vector<std::string> args = {"--base", Player(), "--music", w("tune.wav")};
    args.insert(args.end(), photos.begin(), photos.end());

    cpu_set_t all;
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    std::vector<std::string> outputs, errors;
    for (const cpu_set_t* set : {&one, &all}) {
        ASSERT_EQ(::sched_setaffinity(0, sizeof *set, set), 0);   // inherited by the build
        const std::string out = w("show" + std::to_string(outputs.size()) + ".exe");
        std::vector<std::string> a = {"-o", out};
        a.insert(a.end(), args.begin(), args.end());
        const Result r = Run(a);
        ::sched_setaffinity(0, sizeof all, &all);
        EXPECT_EQ(r.exit, 0) << r.err;
        const gdpack::Bytes b = Slurp(out);
        outputs.emplace_back(b.begin(), b.end());
        errors.push_back(r.err);
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "the two shows differ";
    EXPECT_EQ(errors[0], errors[1]);
    std::vector<size_t> at;
    for (const std::string& s : {"skipped " + w("noise.jpg"), "skipped " + w("fifo"), "skipped " + w("missing.jpg")})
        at.push_back(errors[1].find(s));
    EXPECT_TRUE(at[0] < at[1] && at[1] < at[2] && at[2] != std::string::npos) << errors[1];
    EXPECT_EQ(Titles(w("show1.exe")).size(), 13u);
    EXPECT_EQ(Titles(w("show1.exe")).front(), "big");
}

// Names that are not UTF-8 (Latin-1 here) reach the file system as they are; a photo's
// title keeps its bytes, which the player reads as Windows-1252, and messages name the file.
TEST_F(GdpackInputs, NamesThatAreNotUtf8) {
    const std::string cafe = "caf\xE9", bad = "b\xE4" "d.jpg", music = "m\xFCsik.wav";
    Jpeg(cafe + ".jpg", 24, 18, "orange");
    fs::copy_file(w("noise.jpg"), w(bad));
    fs::copy_file(w("tune.wav"), w(music));
    const Result r = Run({"-o", w("show.exe"), "--base", Player(), w(cafe + ".jpg"), w(bad), "--music", w(music)});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "skipped " + w(bad) + ": its content is no image")) << r.err;
    EXPECT_TRUE(Contains(r.out, "music " + music + " (WAV")) << r.out;
    const auto titles = Titles(w("show.exe"));
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], cafe);
    EXPECT_EQ(DecodePayloadText(titles[0]), "caf\xC3\xA9");
}

// On a terminal the build tells how far it is on one line, redrawn; it is gone at the end.
TEST_F(GdpackInputs, ShowsProgressOnATerminal) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    // The build's stderr is the terminal; this side keeps it open, so nothing is lost at its end.
    {
        ChildProcess p(GD_GDPACK_EXE, {"build", "-o", w("show.exe"), "--base", Player(), w("p.jpg"), w("noise.jpg"),
                                       w("q.jpg")},
                       {}, name);
        EXPECT_EQ(p.Wait(std::chrono::seconds(60)), 0);
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    ::close(master);
    ::close(slave);
    EXPECT_TRUE(Contains(text, "\r\033[Kgdpack: 1/3 ")) << text;
    EXPECT_TRUE(Contains(text, "\r\033[Kgdpack: skipped " + w("noise.jpg"))) << text;
    EXPECT_TRUE(Contains(text, "\r\033[Kgdpack: 3/3 ")) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K") << "the line is cleared at the end";
}
