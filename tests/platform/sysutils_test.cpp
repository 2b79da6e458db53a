// String and file helpers.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "SysUtils.h"

TEST(SysUtils, StrToInt) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"0", true, 0},          {"42", true, 42},        {"-17", true, -17},     {"+5", true, 5},
        {"  12", true, 12},      {"$1F", true, 31},       {"0x10", true, 16},     {"$FFFFFFFF", true, -1},
        {"2147483647", true, 2147483647},                 {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0}, {"12 ", false, 0},      {"", false, 0},         {"abc", false, 0},
        {"1e3", false, 0},       {"-", false, 0},         {"$", false, 0},        {"99999999999", false, 0},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(StrToIntDef(k.text, -99), k.ok ? k.value : -99) << k.text;
        if (k.ok) {
            EXPECT_EQ(StrToInt(k.text), k.value) << k.text;
        } else {
            try {
                StrToInt(k.text);
                ADD_FAILURE() << k.text;
            } catch (const EConvertError& e) {
                EXPECT_EQ(std::string(e.what()), std::string("'") + k.text + "' is not a valid integer value");
            }
        }
    }
    EXPECT_EQ(IntToStr(-1234567890123LL), "-1234567890123");
}

TEST(SysUtils, CaseAndTrim) {
    EXPECT_EQ(UpperCase("abc\xe9Z"), "ABC\xe9Z");   // ASCII only
    EXPECT_EQ(LowerCase("SoftWare\\X"), "software\\x");
    EXPECT_TRUE(SameText("Glimmerdeck", "gLIMMERDECK"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(Trim("   "), "");
}

TEST(SysUtils, FileNameParts) {
    struct Case {
        const char* name;
        const char* ext;
        const char* file;
        const char* path;
        const char* changed;   // extension changed to ".bmp"
    } cases[] = {
        {"/a/b/photo.JPG", ".JPG", "photo.JPG", "/a/b/", "/a/b/photo.bmp"},
        {"photo.tar.gz", ".gz", "photo.tar.gz", "", "photo.tar.bmp"},
        {"/a.dir/file", "", "file", "/a.dir/", "/a.dir/file.bmp"},
        {"/a/b/", "", "", "/a/b/", "/a/b/.bmp"},
        {"noext", "", "noext", "", "noext.bmp"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(ExtractFileExt(k.name), k.ext) << k.name;
        EXPECT_EQ(ExtractFileName(k.name), k.file) << k.name;
        EXPECT_EQ(ExtractFilePath(k.name), k.path) << k.name;
        EXPECT_EQ(ChangeFileExt(k.name, ".bmp"), k.changed) << k.name;
    }
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
    EXPECT_EQ(GetTempDir().back(), '/');
}

namespace {

class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        std::string t = GetTempDir() + "gdsysXXXXXX";
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        dir = t + "/";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    int Entries() const {
        int n = 0;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
        return n;
    }
    std::string dir;
};

}  // namespace

TEST_F(FileHelpers, ExistsDeleteAndForceDirectories) {
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_FALSE(FileExists(dir));
    std::string deep = dir + "x/y/z";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    std::string f = deep + "/f.txt";
    ASSERT_TRUE(UpdateFileAtomically(f, [](std::string& c) { c = "hi"; return true; }));
    EXPECT_TRUE(FileExists(f));
    std::string content;
    ASSERT_TRUE(LoadFileToString(f, content));
    EXPECT_EQ(content, "hi");
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_FALSE(DeleteFile(f));
    EXPECT_FALSE(LoadFileToString(f, content));
}

TEST_F(FileHelpers, AtomicUpdatesLeaveNoDebris) {
    std::string f = dir + "store";
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(UpdateFileAtomically(f, [](std::string& c) { c += "x"; return true; }));
    std::string content;
    LoadFileToString(f, content);
    EXPECT_EQ(content, "xxx");
    // Declining to write keeps the file, and a new file that is never written is not left.
    ASSERT_TRUE(UpdateFileAtomically(f, [](std::string& c) { c = "lost"; return false; }));
    ASSERT_TRUE(UpdateFileAtomically(dir + "never", [](std::string&) { return false; }));
    LoadFileToString(f, content);
    EXPECT_EQ(content, "xxx");
    EXPECT_EQ(Entries(), 1);
    // An exception inside leaves the old content too.
    EXPECT_THROW(UpdateFileAtomically(f, [](std::string&) -> bool { throw EConvertError("no"); }), EConvertError);
    LoadFileToString(f, content);
    EXPECT_EQ(content, "xxx");
    EXPECT_FALSE(UpdateFileAtomically(dir + "missing/dir/f", [](std::string&) { return true; }));
}
