// Shortcut files: links written from the published layout (and read back by lnkinfo, an
// outside reader) resolve to their folders; broken files raise; unresolved links change
// nothing; the hot key and show command rules.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "LnkWriter.h"
#include "ShortcutLink.h"
#include "saver/TestDir.h"

namespace {

std::string RunLnkinfo(const std::string& file) {
    std::string out;
    if (FILE* f = ::popen(("lnkinfo '" + file + "' 2>&1").c_str(), "r")) {
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        ::pclose(f);
    }
    return out;
}

bool HaveLnkinfo() { return std::system("command -v lnkinfo >/dev/null 2>&1") == 0; }

}  // namespace

TEST(ShortcutLink, LinksFromTheLayoutResolveToTheirFolders) {
    TestDir dir;
    std::filesystem::create_directories(dir.File("Pics/Holiday 2024"));
    std::filesystem::create_directories(dir.File("albums"));
    struct Case {
        const char* name;
        LnkSpec fields;
        std::string target;
        const char* lnkinfoLine;   // what the outside reader must find in the file
    } cases[] = {
        {"local path", {.localBasePath = dir.File("Pics/Holiday 2024")}, dir.File("Pics/Holiday 2024"),
         "Local path"},
        {"path with suffix", {.localBasePath = dir.File("Pics/"), .suffix = "Holiday 2024"},
         dir.File("Pics/Holiday 2024"), "Local path"},
        {"unicode link info", {.localBasePath = dir.File("Pics"), .unicodeLinkInfo = true}, dir.File("Pics"),
         "Local path"},
        {"relative path only", {.relativePath = "..\\Pics\\Holiday 2024", .idList = false},
         dir.File("Pics/Holiday 2024"), "Relative path"},
        {"ANSI strings",
         {.localBasePath = dir.File("Pics"), .description = "Ferien", .arguments = "-x", .unicode = false},
         dir.File("Pics"), "Description"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.File("albums/link.lnk");
        LnkSpec fields = c.fields;
        if (fields.description.empty()) fields.description = "Our holiday";
        if (fields.arguments.empty()) fields.arguments = "/open \"x\"";
        fields.workingDir = "C:\\Work";
        fields.iconLocation = "C:\\icons.dll";
        fields.iconIndex = 3;
        LnkWriter::Save(file, LnkWriter::Make(fields));
        if (HaveLnkinfo()) {
            const std::string info = RunLnkinfo(file);
            EXPECT_NE(info.find(c.lnkinfoLine), std::string::npos) << info;
            EXPECT_NE(info.find(fields.description), std::string::npos) << info;
        }
        TShortcutLink link(nullptr);
        link.ShortcutFile = file;
        link.ReadLink();
        EXPECT_EQ(link.Target, c.target);
        EXPECT_EQ(link.Description, fields.description);
        EXPECT_EQ(link.Arguments, fields.arguments);
        EXPECT_EQ(link.WorkingDir, "C:\\Work");
        EXPECT_EQ(link.IconLocation, "C:\\icons.dll");
        EXPECT_EQ(link.IconNumber, 3);
    }
}

TEST(ShortcutLink, UnresolvedLinksChangeNothingBrokenFilesRaise) {
    TestDir dir;
    TShortcutLink link(nullptr);
    link.Target = "kept";
    link.Description = "kept";
    // A link made on Windows points to a drive that does not exist here.
    const std::string file = dir.File("windows.lnk");
    LnkWriter::Save(file, LnkWriter::Make({.localBasePath = "D:\\Pics\\Holiday", .description = "new"}));
    link.ShortcutFile = file;
    link.ReadLink();
    EXPECT_EQ(link.Target, "kept");
    EXPECT_EQ(link.Description, "kept");

    const std::string good = LnkWriter::Make({.localBasePath = dir.Path(), .description = "Unicode"});
    std::vector<std::pair<const char*, std::string>> broken = {
        {"garbage", "this is not a shortcut at all, only text in a file called .lnk"},
        {"empty", ""},
        {"wrong class id", std::string(good).replace(6, 1, "\x7F")},
        {"wrong header size", std::string(good).replace(0, 1, "\x4D")},
    };
    // Cut anywhere inside the structures it announces.
    for (size_t n : {size_t(10), size_t(75), size_t(76), size_t(90), good.size() - 12, good.size() - 6})
        broken.emplace_back("truncated", good.substr(0, n));
    for (const auto& [name, bytes] : broken) {
        SCOPED_TRACE(name + std::string(" ") + std::to_string(bytes.size()));
        LnkWriter::Save(file, bytes);
        try {
            link.ReadLink();
            ADD_FAILURE() << "read a broken link";
        } catch (const EShortcutError& e) {
            EXPECT_EQ(e.Message, "Unable to open link file");
        }
    }
    link.ShortcutFile = dir.File("missing.lnk");
    EXPECT_THROW(link.ReadLink(), EShortcutError);
    link.ShortcutFile = dir.Path();   // a folder
    EXPECT_THROW(link.ReadLink(), EShortcutError);
    EXPECT_EQ(link.Target, "kept");
}

TEST(ShortcutLink, HotKeyAndShowCommand) {
    TestDir dir;
    const std::string file = dir.File("k.lnk");
    // Ctrl+Alt+Q: virtual key 'Q', modifiers 2 | 4.
    LnkWriter::Save(file, LnkWriter::Make({.localBasePath = dir.Path(), .showCommand = 1, .hotKey = 0x0651}));
    TShortcutLink link(nullptr);
    EXPECT_EQ(link.HotKey(), " ");
    EXPECT_EQ(link.ShowCmd(), scShowNormal);
    link.ShortcutFile = file;
    link.ReadLink();
    EXPECT_EQ(link.HotKey(), "Q");
    EXPECT_EQ(link.ShowCmd(), scShowNormal);
    EXPECT_EQ(link.ShowCode(), 1);   // kept until the setter is used
    link.SetShowCmd(scShowNormal);
    EXPECT_EQ(link.ShowCode(), 9);
    link.SetShowCmd(scShowMaximized);
    EXPECT_EQ(link.ShowCmd(), scShowMaximized);
    EXPECT_EQ(link.ShowCode(), 3);
    link.SetShowCmd(scShowMinimized);
    EXPECT_EQ(link.ShowCode(), 7);
    const std::pair<std::string, std::string> keys[] = {{"q", "Q"}, {"", " "}, {"\x01", " "}, {"ab", "A"},
                                                        {"\xC3\xA9", "\xC3\x89"}, {"7", "7"}};
    for (const auto& [in, out] : keys) {
        link.SetHotKey(in);
        EXPECT_EQ(link.HotKey(), out) << in;
    }
    LnkWriter::Save(file, LnkWriter::Make({.localBasePath = dir.Path(), .showCommand = 3, .hotKey = 0}));
    link.ReadLink();
    EXPECT_EQ(link.HotKey(), " ");
    EXPECT_EQ(link.ShowCmd(), scShowMaximized);
}

// A path in a link is a path only when it holds no NUL and decodes: otherwise the link is
// unreadable ("Unable to open link file"), whichever path it is. Other texts may hold both.
TEST(ShortcutLink, PathsWithANulOrThatDoNotDecodeMakeTheLinkUnreadable) {
    TestDir dir;
    std::filesystem::create_directories(dir.File("Pics"));
    const std::string folder = dir.File("Pics");
    // A UTF-16 string of the link: the unit written as 'Q' made a lone surrogate.
    auto loneSurrogate = [](std::string bytes) {
        const size_t at = bytes.find(std::string("Q\0", 2));
        return at == std::string::npos ? bytes : bytes.replace(at, 2, "\x00\xD8", 2);
    };
    const std::string nul("a\0b", 3);
    struct Case {
        const char* name;
        std::string bytes;
        bool readable;
    } cases[] = {
        {"hostile: relative path ..<NUL>z",
         [] {
             std::ifstream in(GD_SOURCE_DIR "/tests/viewer/fixtures/hostile/lnk_relative_path_with_nul.lnk", std::ios::binary);
             return std::string(std::istreambuf_iterator<char>(in), {});
         }(),
         false},
        {"NUL in the relative path", LnkWriter::Make({.relativePath = "Pics" + nul, .idList = false}), false},
        {"NUL in the ANSI relative path", LnkWriter::Make({.relativePath = "Pics" + nul, .unicode = false, .idList = false}),
         false},
        {"lone surrogate in the relative path", loneSurrogate(LnkWriter::Make({.relativePath = "PicsQ", .idList = false})),
         false},
        {"unassigned byte in the ANSI base path", LnkWriter::Make({.localBasePath = folder + "\x81"}), false},
        {"NUL in the working folder", LnkWriter::Make({.localBasePath = folder, .workingDir = "C:\\" + nul}), false},
        {"lone surrogate in the icon file", loneSurrogate(LnkWriter::Make({.localBasePath = folder, .iconLocation = "Q.dll"})),
         false},
        {"NUL in the description", LnkWriter::Make({.localBasePath = folder, .description = "Our" + nul}), true},
        {"unassigned byte in the ANSI arguments",
         LnkWriter::Make({.localBasePath = folder, .arguments = "-x \x81", .unicode = false}), true},
        {"plain", LnkWriter::Make({.localBasePath = folder, .workingDir = "C:\\Work"}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TShellLinkData data;
        EXPECT_EQ(ParseShellLink(c.bytes, data), c.readable);
        const std::string file = dir.File("albums.lnk");
        LnkWriter::Save(file, c.bytes);
        TShortcutLink link(nullptr);
        link.ShortcutFile = file;
        if (c.readable) {
            link.ReadLink();
            EXPECT_EQ(link.Target, folder);
            continue;
        }
        try {
            link.ReadLink();
            ADD_FAILURE() << "read, target " << link.Target;
        } catch (const EShortcutError& e) {
            EXPECT_EQ(e.Message, "Unable to open link file");
        }
        EXPECT_EQ(link.Target, "");
    }
}

// Only a regular file is read as a link: a FIFO named like one is refused at once, never
// waited on.
TEST(ShortcutLink, AFifoNamedLikeALinkIsRefusedWithoutWaiting) {
    TestDir dir;
    const std::string fifo = dir.File("Trip.lnk");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TShortcutLink link(nullptr);
    link.ShortcutFile = fifo;
    // Should the read wait after all, a writer that comes late ends it (and the test fails).
    std::atomic<bool> done{false};
    std::thread release([&] {
        for (int i = 0; i < 3000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
    EXPECT_THROW(link.ReadLink(), EShortcutError);
    done = true;
    release.join();
}
