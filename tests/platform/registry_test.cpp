// The registry stand-in: case-insensitive keys and names, typed values, persistence,
// the INI-style wrapper, and writers in two processes at once.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <thread>

#include "Registry.h"
#include "config_home.h"

using RegistryTest = ConfigHome;

TEST_F(RegistryTest, StoreLivesUnderTheConfigHome) {
    EXPECT_EQ(TRegistry::StoreDirectory(), dir + "/glimmerdeck/registry");
    TRegistry r;
    ASSERT_TRUE(r.OpenKey("Software\\Vantorel\\Glimmerdeck", true));
    r.WriteString("x", "y");
    EXPECT_TRUE(DirectoryExists(dir + "/glimmerdeck/registry"));
}

TEST_F(RegistryTest, KeyPathsAndValueNamesIgnoreCase) {
    {
        TRegistry viewer;
        ASSERT_TRUE(viewer.OpenKey("software\\vantorel\\glimmerdeck", true));
        viewer.WriteString("AlbumBase", "/home/u/Albums");
        viewer.WriteInteger("left", 40);
    }
    TRegistry saver;
    ASSERT_TRUE(saver.OpenKey("\\Software\\Vantorel\\Glimmerdeck\\", false));
    EXPECT_EQ(saver.ReadString("albumbase"), "/home/u/Albums");
    EXPECT_EQ(saver.ReadInteger("LEFT"), 40);
    saver.WriteInteger("Left", 41);   // overwrites, keeps one value
    TStringList names;
    saver.GetValueNames(&names);
    EXPECT_EQ(names.Count(), 2);
    EXPECT_EQ(saver.ReadInteger("left"), 41);
    TRegistry root;
    ASSERT_TRUE(root.OpenKey("SOFTWARE", false));
    TStringList keys;
    root.GetKeyNames(&keys);
    ASSERT_EQ(keys.Count(), 1);
    EXPECT_EQ(keys[0], "vantorel");   // the case it was first written in
}

TEST_F(RegistryTest, ValuesKeepTheirTypes) {
    TRegistry r;
    ASSERT_TRUE(r.OpenKey("Software\\Types", true));
    const std::string tricky = "tab\there\nnew line \\ back\\slash \x01 [x] \xc3\xa9";
    const uint8_t blob[] = {0, 1, 2, 0xFF, '\n', '\t', 0};
    r.WriteString("s", tricky);
    r.WriteString("empty", "");
    r.WriteInteger("i", -123456);
    r.WriteBool("b", true);
    r.WriteBinaryData("bin", blob, sizeof blob);
    r.WriteString("name with spaces", "v");

    TRegistry q;
    ASSERT_TRUE(q.OpenKeyReadOnly("\\software\\types"));
    struct Case {
        const char* name;
        TRegDataType type;
        int size;
    } cases[] = {{"s", rdString, int(tricky.size()) + 1}, {"empty", rdString, 1}, {"i", rdInteger, 4},
                 {"b", rdInteger, 4}, {"bin", rdBinary, int(sizeof blob)}, {"absent", rdUnknown, -1}};
    for (const auto& k : cases) {
        EXPECT_EQ(q.GetDataType(k.name), k.type) << k.name;
        EXPECT_EQ(q.GetDataSize(k.name), k.size) << k.name;
    }
    EXPECT_EQ(q.ReadString("s"), tricky);
    EXPECT_EQ(q.ReadString("empty"), "");
    EXPECT_EQ(q.ReadInteger("i"), -123456);
    EXPECT_TRUE(q.ReadBool("b"));
    uint8_t back[16] = {};
    EXPECT_EQ(q.ReadBinaryData("bin", back, sizeof back), int(sizeof blob));
    EXPECT_EQ(std::memcmp(back, blob, sizeof blob), 0);
    EXPECT_EQ(q.ReadString("NAME WITH SPACES"), "v");

    // Wrong types and a too small buffer raise; a missing string reads as empty.
    EXPECT_THROW(q.ReadInteger("s"), ERegistryException);
    EXPECT_THROW(q.ReadString("i"), ERegistryException);
    EXPECT_THROW(q.ReadBinaryData("bin", back, 3), ERegistryException);
    EXPECT_THROW(q.ReadInteger("absent"), ERegistryException);
    EXPECT_EQ(q.ReadString("absent"), "");
    EXPECT_EQ(q.ReadBinaryData("absent", back, 3), 0);
    EXPECT_THROW(q.WriteString("s", "no"), ERegistryException);   // opened read-only
    EXPECT_FALSE(q.DeleteValue("s"));
    EXPECT_EQ(q.ReadString("s"), tricky);
}

TEST_F(RegistryTest, KeysOpenCreateRelativeAndDelete) {
    TRegistry r;
    EXPECT_FALSE(r.OpenKey("Software\\Missing", false));
    EXPECT_FALSE(r.OpenKeyReadOnly("Software\\Missing"));
    EXPECT_FALSE(r.KeyExists("Software\\Missing"));
    ASSERT_TRUE(r.OpenKey("Software", true));
    EXPECT_TRUE(r.CreateKey("Vantorel\\Glimmerdeck\\Slideshow"));   // relative to the open key
    EXPECT_TRUE(r.KeyExists("\\SOFTWARE\\vantorel\\GLIMMERDECK\\slideshow"));
    ASSERT_TRUE(r.OpenKey("Vantorel", false));
    EXPECT_EQ(r.CurrentPath(), "Software\\Vantorel");
    r.WriteInteger("n", 1);
    EXPECT_TRUE(r.DeleteKey("\\software\\vantorel"));   // with its subkeys
    EXPECT_FALSE(r.KeyExists("\\Software\\Vantorel\\Glimmerdeck"));
    EXPECT_TRUE(r.KeyExists("\\Software"));
    EXPECT_FALSE(r.DeleteKey("\\Software\\Vantorel"));
    r.CloseKey();
    EXPECT_EQ(r.CurrentPath(), "");
    // Roots are separate stores.
    r.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(r.KeyExists("Software"));
}

TEST_F(RegistryTest, DeleteValueAndPersistenceAcrossInstances) {
    {
        TRegistry r;
        r.OpenKey("Software\\P", true);
        r.WriteString("keep", "1");
        r.WriteString("drop", "2");
        EXPECT_TRUE(r.DeleteValue("DROP"));
        EXPECT_FALSE(r.DeleteValue("drop"));
    }
    TRegistry r;
    ASSERT_TRUE(r.OpenKey("Software\\P", false));
    EXPECT_TRUE(r.ValueExists("Keep"));
    EXPECT_FALSE(r.ValueExists("drop"));
}

TEST_F(RegistryTest, IniWrapperSectionsAreSubkeysAndValuesAreText) {
    {
        TRegIniFile ini("Software\\Vantorel\\Glimmerdeck\\Slideshow");
        ini.WriteInteger("myshow.exe", "Delay", 5);
        ini.WriteBool("myshow.exe", "Loop", true);
        ini.WriteString("myshow.exe", "NameFont", "DejaVu Sans");
        ini.WriteString("myshow.exe", "Bad", "12x");
    }
    TRegistry r;
    ASSERT_TRUE(r.OpenKey("\\software\\vantorel\\glimmerdeck\\slideshow\\MYSHOW.EXE", false));
    EXPECT_EQ(r.GetDataType("delay"), rdString);
    EXPECT_EQ(r.ReadString("delay"), "5");
    EXPECT_EQ(r.ReadString("loop"), "1");
    r.WriteInteger("Binary", 7);   // a true integer value reads through the wrapper too

    TRegIniFile ini("software\\vantorel\\glimmerdeck\\slideshow");
    EXPECT_EQ(ini.ReadInteger("MyShow.exe", "delay", 0), 5);
    EXPECT_TRUE(ini.ReadBool("MyShow.exe", "loop", false));
    EXPECT_EQ(ini.ReadString("MyShow.exe", "namefont", ""), "DejaVu Sans");
    EXPECT_EQ(ini.ReadInteger("MyShow.exe", "bad", -1), -1);   // not a number: the default
    EXPECT_EQ(ini.ReadInteger("MyShow.exe", "binary", 0), 7);
    EXPECT_EQ(ini.ReadInteger("MyShow.exe", "absent", 9), 9);
    EXPECT_EQ(ini.ReadString("Other.exe", "Delay", "dflt"), "dflt");
    ini.DeleteKey("myshow.exe", "Delay");
    EXPECT_EQ(ini.ReadInteger("MyShow.exe", "delay", 0), 0);
    ini.EraseSection("MYSHOW.exe");
    EXPECT_EQ(ini.ReadString("MyShow.exe", "namefont", "gone"), "gone");
    EXPECT_TRUE(TRegistry().KeyExists("\\Software\\Vantorel\\Glimmerdeck\\Slideshow"));
}

TEST_F(RegistryTest, WritersInTwoProcessesLoseNothing) {
    constexpr int kEach = 40;
    auto writer = [](const std::string& key, const std::string& prefix) {
        return [=] {
            for (int i = 0; i < kEach; ++i) {
                TRegistry r;
                if (!r.OpenKey(key, true)) throw ERegistryException("open");
                r.WriteInteger(prefix + IntToStr(i), i);
            }
        };
    };
    ASSERT_TRUE(InProcesses({writer("software\\vantorel\\glimmerdeck", "viewer"),
                             writer("Software\\Vantorel\\Glimmerdeck", "saver")}));
    TRegistry r;
    ASSERT_TRUE(r.OpenKeyReadOnly("Software\\Vantorel\\Glimmerdeck"));
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(r.ReadInteger("viewer" + IntToStr(i)), i);
        EXPECT_EQ(r.ReadInteger("saver" + IntToStr(i)), i);
    }
    TStringList keys;
    TRegistry top;
    top.OpenKeyReadOnly("Software\\Vantorel");
    top.GetKeyNames(&keys);
    EXPECT_EQ(keys.Count(), 1);
}

// Hand-edited, damaged or foreign stores: nothing blocks, what can be read is read, what
// cannot is kept through a rewrite, and a store that is no regular file is neither read nor
// written over.
TEST_F(RegistryTest, StoresEditedByHandOrReplacedNeverBlockNorLoseAReadableValue) {
    std::string file;
    const std::string garbage = std::string("\x7F" "ELF\x01\x00\xFF junk", 12);
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* good;          // "good" in Software\X, or null when nothing is readable
        std::vector<std::string> kept;   // lines that must survive a rewrite
        const char* message;       // on stderr, or null
        bool writable;
    };
    auto text = [&](std::string t) {
        return [&, t] { ASSERT_TRUE(UpdateFileAtomically(file, [&](std::string& c) { c = t; return true; })); };
    };
    const std::vector<Case> cases = {
        {"CRLF line ends", text("GlimmerdeckRegistry 1\r\n[Software\\X]\r\nS\tgood\tyes\r\n"), "yes", {}, nullptr,
         true},
        {"lines that are no values",
         text("GlimmerdeckRegistry 1\n[Software\\X]\nS\tgood\tyes\ngarbage line\nI\tnum\tnot-a-number\n"
              "B\tbin\tzz\n; a comment\n["),
         "yes", {"garbage line", "I\tnum\tnot-a-number", "B\tbin\tzz", "; a comment", "["},
         "line(s) are no settings", true},
        {"binary garbage", text(garbage + "\n[Software\\X]\nS\tgood\tstill\n"), "still", {garbage}, "no settings", true},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, nullptr, {}, "not a regular file", false},
        {"a directory", [&] { ASSERT_TRUE(ForceDirectories(file)); }, nullptr, {}, "not a regular file", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A folder of its own: each message comes once per store file and process.
        ::setenv("XDG_CONFIG_HOME", (dir + "/" + c.name).c_str(), 1);
        file = TRegistry::StoreDirectory() + "/HKEY_CURRENT_USER";
        ASSERT_TRUE(ForceDirectories(TRegistry::StoreDirectory()));
        c.make();
        std::string err, content;
        std::string good = "-", other = "-";
        bool wrote = false;
        // On a thread with a deadline, so a store that blocks fails the test instead of
        // hanging it.
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        std::thread([&, done] {
            testing::internal::CaptureStderr();
            TRegIniFile ini("Software");
            good = ini.ReadString("X", "good", "-");
            try {
                TRegistry r;
                wrote = r.OpenKey("Software\\X", true);
                if (wrote) r.WriteString("other", "new");
            } catch (const ERegistryException&) {
                wrote = false;
            }
            other = ini.ReadString("X", "other", "-");
            err = testing::internal::GetCapturedStderr();
            done->set_value();
        }).detach();
        ASSERT_EQ(finished.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "blocked";
        EXPECT_EQ(good, c.good ? c.good : "-");
        EXPECT_EQ(wrote, c.writable);
        EXPECT_EQ(other, c.writable ? "new" : "-");
        if (c.message) EXPECT_NE(err.find(c.message), std::string::npos) << err;
        else EXPECT_EQ(err, "");
        struct stat st {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_EQ(S_ISREG(st.st_mode), c.writable) << "a store that is no file stays as it was";
        if (!c.writable) continue;
        ASSERT_TRUE(LoadFileToString(file, content));
        for (const auto& l : c.kept) EXPECT_NE(content.find(l + "\n"), std::string::npos) << l;
        // The rewrite reads back as it was, kept lines and all.
        TRegistry again;
        ASSERT_TRUE(again.OpenKeyReadOnly("Software\\X"));
        EXPECT_EQ(again.ReadString("good"), c.good);
        EXPECT_FALSE(again.ValueExists("num"));
    }
}

// The parsed store is kept between reads of one start; a change on disk, from this process or
// another, is still seen at the next read.
TEST_F(RegistryTest, ReadsSeeEveryWrite) {
    TRegIniFile ini("Software\\Vantorel");
    ini.WriteString("Show", "Duration", "5");
    EXPECT_EQ(ini.ReadInteger("Show", "Duration", 0), 5);
    ASSERT_TRUE(InProcesses({[] { TRegIniFile("Software\\Vantorel").WriteString("Show", "Duration", "7"); }}));
    EXPECT_EQ(ini.ReadInteger("Show", "Duration", 0), 7);
    ini.WriteString("Show", "Duration", "8");
    EXPECT_EQ(ini.ReadInteger("Show", "Duration", 0), 8);
    ini.DeleteKey("Show", "Duration");
    EXPECT_EQ(ini.ReadInteger("Show", "Duration", 0), 0);
}

namespace {

std::string Fixture(const std::string& name) {
    std::string text;
    EXPECT_TRUE(LoadFileToString(std::string(GD_SOURCE_DIR) + "/tests/platform/fixtures/registry/" + name, text)) << name;
    return text;
}

// The store's own view of a text, and what a rewrite must keep of it: the same values and
// kept lines, the kept ones byte for byte, and nothing that changes at a second rewrite.
void ExpectRewriteKeepsEverything(const std::string& text) {
    const std::string once = RewriteRegistryStore(text);
    EXPECT_EQ(DescribeRegistryStore(once), DescribeRegistryStore(text)) << "what the rewrite reads back";
    EXPECT_EQ(RewriteRegistryStore(once), once) << "a second rewrite changes nothing";
}

}  // namespace

// Lines the store cannot read are kept with the bytes they had up to their LF, so that no
// line end makes a kept line a value or a key after a rewrite (CR CR LF used to lose one CR
// and come back as a value).
TEST_F(RegistryTest, EveryLineEndMixRoundTripsItsValuesAndKeptLines) {
    const std::vector<std::string> lines = {"GlimmerdeckRegistry 1", "[Software\\X]", "S\tname\tAlps",
                                            "I\tcount\t7", "B\tblob\t0A0B", "junk line"};
    struct Case {
        const char* name;
        std::vector<std::string> ends;   // one per line, repeated when shorter
        std::string want;                // DescribeRegistryStore of the text
    };
    const std::string readable =
        "key \n"
        "key Software\\\\X\n"
        "  S name = Alps\n"
        "  I count = 7\n"
        "  B blob = \\n\\x0B\n";
    const std::vector<Case> cases = {
        {"LF", {"\n"}, readable + "  kept junk line\n"},
        {"CRLF", {"\r\n"}, readable + "  kept junk line\\r\n"},
        {"CR CR LF: a CR is left on every line; only the string value can read it",
         {"\r\r\n"},
         "key \n"
         "  S name = Alps\\r\n"
         "  kept GlimmerdeckRegistry 1\\r\\r\n"
         "  kept [Software\\\\X]\\r\\r\n"
         "  kept I\\tcount\\t7\\r\\r\n"
         "  kept B\\tblob\\t0A0B\\r\\r\n"
         "  kept junk line\\r\\r\n"},
        {"a lone CR joins the lines into one", {"\r"},
         "key \n"
         "  kept GlimmerdeckRegistry 1\\r[Software\\\\X]\\rS\\tname\\tAlps\\rI\\tcount\\t7\\rB\\tblob\\t0A0B\\rjunk line\\r\n"},
        {"mixed, line by line", {"\n", "\r\n", "\r\r\n", "\n", "\r\n", "\r\r\n"},
         "key \n"
         "key Software\\\\X\n"
         "  S name = Alps\\r\n"
         "  I count = 7\n"
         "  B blob = \\n\\x0B\n"
         "  kept junk line\\r\\r\n"},
        {"no line end after the last line", {"\n", "\n", "\n", "\n", "\n", ""}, readable + "  kept junk line\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        for (size_t i = 0; i < lines.size(); ++i) text += lines[i] + c.ends[i % c.ends.size()];
        EXPECT_EQ(DescribeRegistryStore(text), c.want);
        ExpectRewriteKeepsEverything(text);
    }
}

// The same through the store on disk, with the hand-edited store that showed the fault: its
// kept lines stay kept after the player writes a value, and come back byte for byte.
TEST_F(RegistryTest, AKeptLineIsWrittenBackByteForByteAndNeverReadAsAValue) {
    const std::string text = Fixture("registry_crcr.HKEY_CURRENT_USER");
    ASSERT_FALSE(text.empty());
    ExpectRewriteKeepsEverything(text);
    ASSERT_TRUE(ForceDirectories(TRegistry::StoreDirectory()));
    const std::string file = TRegistry::StoreDirectory() + "/HKEY_CURRENT_USER";
    ASSERT_TRUE(UpdateFileAtomically(file, [&](std::string& c) { c = text; return true; }));
    testing::internal::CaptureStderr();
    for (int rewrite = 0; rewrite < 3; ++rewrite) {
        SCOPED_TRACE(rewrite);
        TRegistry r;
        ASSERT_TRUE(r.OpenKeyReadOnly("Other"));
        EXPECT_EQ(r.GetDataType("keep"), rdString);
        EXPECT_EQ(r.ReadString("keep"), "mine") << "the kept integer line never replaces it";
        EXPECT_EQ(r.ReadString("v"), "x");
        EXPECT_FALSE(r.KeyExists("\\Kept\\Key")) << "a kept line never becomes a key";
        std::string content;
        ASSERT_TRUE(LoadFileToString(file, content));
        EXPECT_NE(content.find("\nI\tkeep\t1\r\r\n"), std::string::npos) << content;
        EXPECT_NE(content.find("\n[Kept\\Key]\r\r\n"), std::string::npos) << content;
        TRegistry w;
        ASSERT_TRUE(w.OpenKey("Other", false));
        w.WriteString("n", std::to_string(rewrite));
    }
    testing::internal::GetCapturedStderr();
}

// Several values of one section in one rewrite: the settings dialog's OK.
TEST_F(RegistryTest, WriteStringsIsOneRewrite) {
    TRegIniFile ini("Software\\Vantorel");
    ini.WriteString("Other", "keep", "me");
    const uint64_t before = TRegistry::StoreRewrites();
    ini.WriteStrings("Show", {{"A", "1"}, {"B", "two"}, {"a", "3"}});
    EXPECT_EQ(TRegistry::StoreRewrites() - before, 1u);
    EXPECT_EQ(ini.ReadString("Show", "A", "-"), "3") << "names ignore case; the last one wins";
    EXPECT_EQ(ini.ReadString("Show", "B", "-"), "two");
    EXPECT_EQ(ini.ReadString("Other", "keep", "-"), "me");
    TRegistry r;
    ASSERT_TRUE(r.OpenKeyReadOnly("Software\\Vantorel\\Show"));
    EXPECT_EQ(r.GetDataType("B"), rdString) << "text, as every value of the wrapper";

    // A store that is no regular file takes none of them.
    ::setenv("XDG_CONFIG_HOME", (dir + "/fifo").c_str(), 1);
    ASSERT_TRUE(ForceDirectories(TRegistry::StoreDirectory()));
    ASSERT_EQ(::mkfifo((TRegistry::StoreDirectory() + "/HKEY_CURRENT_USER").c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    TRegIniFile none("Software\\Vantorel");
    EXPECT_THROW(none.WriteStrings("Show", {{"A", "1"}}), ERegistryException);
    testing::internal::GetCapturedStderr();
}

namespace {

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

off_t SizeOf(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_size : -1;
}

bool Touch(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool ok = fd >= 0 && ::write(fd, "x", 1) == 1;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace

// Saves killed at many moments: the store stays whole, and a new file never shows a name
// before it is complete (it is written unnamed); the one name a kill can leave, between
// linking and renaming, goes with the next save.
TEST_F(RegistryTest, KilledSavesLeaveNoFileBesideTheStore) {
    const std::string folder = TRegistry::StoreDirectory();
    const std::string store = folder + "/HKEY_CURRENT_USER";
    const std::string big(200000, 'v');   // each rewrite takes a while
    TRegIniFile ini("Software\\Vantorel\\Glimmerdeck\\Screensaver");
    ini.WriteString("Alps", "Photos", big);
    const off_t whole = SizeOf(store);
    int leftovers = 0;
    for (int i = 0; i < 60; ++i) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            for (int round = 0;; ++round) {
                std::string value = big;
                value[size_t(round) % value.size()] = char('a' + round % 26);   // same size
                TRegIniFile w("Software\\Vantorel\\Glimmerdeck\\Screensaver");
                w.WriteString("Alps", "Photos", value);
                if (round == i % 6) (void)!write(ready[1], "y", 1);   // killed somewhere after this
            }
        }
        close(ready[1]);
        char answer = 0;
        ASSERT_EQ(read(ready[0], &answer, 1), 1);
        close(ready[0]);
        for (int spin = 0; spin < (i % 10) * 20000; ++spin) asm volatile("");
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_EQ(SizeOf(store), whole) << "after kill " << i;
        std::string text;
        ASSERT_TRUE(LoadFileToString(store, text));
        EXPECT_NE(DescribeRegistryStore(text).find(" Photos = "), std::string::npos);
        for (const std::string& name : NamesIn(folder)) {
            if (name == "HKEY_CURRENT_USER") continue;
            ++leftovers;
            EXPECT_EQ(name.size(), std::string("HKEY_CURRENT_USER.").size() + 6) << name;
            EXPECT_EQ(SizeOf(folder + "/" + name), whole) << name << " got its name before it was complete";
        }
        ini.WriteString("Alps", "Photos", big);   // the next save removes any of them
        ASSERT_EQ(NamesIn(folder), std::vector<std::string>{"HKEY_CURRENT_USER"}) << "after kill " << i;
    }
    std::printf("%d of 60 kills left a complete file that the next save removed\n", leftovers);
}

// What makes a kill harmless: the new store is written and synced before it has a name, so
// the folder never holds a named, half-written file. The folder's events show it.
TEST_F(RegistryTest, ASaveWritesNoNamedFile) {
    TRegIniFile ini("Software\\Vantorel");
    ini.WriteString("Show", "A", "1");
    const std::string folder = TRegistry::StoreDirectory();
    const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (probe < 0) GTEST_SKIP() << "this file system makes no unnamed files";
    ::close(probe);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM), 0);
    for (int i = 0; i < 5; ++i) ini.WriteString("Show", "A", std::string(100000 + i, 'x'));
    std::set<std::string> named, written, moved;
    alignas(inotify_event) char events[65536];
    ssize_t n;
    while ((n = read(watch, events, sizeof events)) > 0)
        for (char* p = events; p < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            const std::string name = e->len ? e->name : "";
            if (e->mask & IN_CREATE) named.insert(name);
            if (e->mask & (IN_MODIFY | IN_CLOSE_WRITE)) written.insert(name);
            if (e->mask & IN_MOVED_FROM) moved.insert(name);
            p += sizeof(inotify_event) + e->len;
        }
    close(watch);
    EXPECT_EQ(named.size(), 5u) << "each save names its file once";
    EXPECT_EQ(moved, named) << "and renames that name over the store";
    for (const auto& name : named) EXPECT_EQ(written.count(name), 0u) << name << " was written while it had a name";
    EXPECT_EQ(ini.ReadString("Show", "A", "-").size(), 100004u);
}

// Only names of this store's own temporary pattern go, and only regular files.
TEST_F(RegistryTest, ASaveRemovesLeftoversOfItsOwnTemporaryPatternOnly) {
    TRegIniFile ini("Software\\Vantorel");
    ini.WriteString("Show", "A", "1");
    const std::string folder = TRegistry::StoreDirectory() + "/";
    const std::vector<std::string> gone = {"HKEY_CURRENT_USER.ab12CD", "HKEY_CURRENT_USER.XXXXXX",
                                           "HKEY_CURRENT_USER.000000"};
    const std::vector<std::string> kept = {
        "HKEY_CURRENT_USER.ab12C",   "HKEY_CURRENT_USER.ab12CD7", "HKEY_CURRENT_USER.ab-2CD",
        "HKEY_CURRENT_USER.ab12C\xc3\xa9", "HKEY_CURRENT_USERxab12CD", "HKEY_LOCAL_MACHINE.ab12CD",
        "hkey_current_user.ab12CD", "HKEY_CURRENT_USER.bak", "notes.txt"};
    for (const auto& n : gone) ASSERT_TRUE(Touch(folder + n));
    for (const auto& n : kept) ASSERT_TRUE(Touch(folder + n));
    ASSERT_EQ(::mkdir((folder + "HKEY_CURRENT_USER.dir123").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("notes.txt", (folder + "HKEY_CURRENT_USER.link12").c_str()), 0);
    EXPECT_EQ(ini.ReadString("Show", "A", "-"), "1") << "reading removes nothing";
    EXPECT_EQ(NamesIn(folder).size(), gone.size() + kept.size() + 3);
    ini.WriteString("Show", "B", "2");
    std::vector<std::string> want = kept;
    want.insert(want.end(), {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER.dir123", "HKEY_CURRENT_USER.link12"});
    std::sort(want.begin(), want.end());
    EXPECT_EQ(NamesIn(folder), want);
    EXPECT_EQ(ini.ReadString("Show", "A", "-"), "1");
    EXPECT_EQ(ini.ReadString("Show", "B", "-"), "2");
}
