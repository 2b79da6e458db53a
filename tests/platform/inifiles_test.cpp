// INI files on disk: case-insensitive names, other content kept, atomic concurrent writes.
#include <gtest/gtest.h>

#include "IniFiles.h"
#include "config_home.h"

using IniFileTest = ConfigHome;

TEST_F(IniFileTest, ReadsWhatIsThereAndDefaultsTheRest) {
    std::string name = dir + "/gdview.ini";
    ASSERT_TRUE(UpdateFileAtomically(name, [](std::string& c) {
        c = "; placement\r\n[Main]\r\n Left = 10 \r\nTop=0x20\r\nTitle=\"quoted\"\r\nBroken\r\n\r\n[Other]\r\nLeft=99\r\n";
        return true;
    }));
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("main", "LEFT", -1), 10);
    EXPECT_EQ(ini.ReadInteger("Main", "Top", -1), 32);
    EXPECT_EQ(ini.ReadString("Main", "Title", ""), "quoted");
    EXPECT_EQ(ini.ReadInteger("Other", "Left", -1), 99);
    EXPECT_EQ(ini.ReadString("Main", "Broken", "d"), "d");
    EXPECT_EQ(ini.ReadString("Missing", "Left", "d"), "d");
    EXPECT_FALSE(ini.ReadBool("Main", "Absent", false));
    EXPECT_TRUE(ini.SectionExists("OTHER"));
    EXPECT_FALSE(ini.SectionExists("placement"));
    TStringList idents;
    ini.ReadSection("main", &idents);
    EXPECT_EQ(idents.Text(), "Left\nTop\nTitle\n");
    TIniFile none(dir + "/absent.ini");
    EXPECT_EQ(none.ReadInteger("a", "b", 7), 7);
    EXPECT_FALSE(FileExists(dir + "/absent.ini"));
}

TEST_F(IniFileTest, WritesKeepCommentsAndOtherSections) {
    std::string name = dir + "/w.ini";
    TIniFile ini(name);
    ini.WriteString("Main", "Left", "1");
    ini.WriteInteger("Second", "N", 2);
    ini.WriteBool("Main", "Max", true);
    ini.WriteString("MAIN", "left", "5");   // same entry, any case
    std::string text;
    ASSERT_TRUE(LoadFileToString(name, text));
    EXPECT_EQ(text, "[Main]\nLeft=5\nMax=1\n\n[Second]\nN=2\n");
    EXPECT_EQ(ini.ReadInteger("main", "LEFT", 0), 5);
    ini.DeleteKey("Main", "Max");
    ini.EraseSection("second");
    ASSERT_TRUE(LoadFileToString(name, text));
    EXPECT_EQ(text, "[Main]\nLeft=5\n\n");
    EXPECT_FALSE(ini.SectionExists("Second"));
}

TEST_F(IniFileTest, WritersInTwoProcessesLoseNothing) {
    std::string name = dir + "/shared.ini";
    constexpr int kEach = 30;
    auto writer = [&](const std::string& section) {
        return [=] {
            TIniFile ini(name);
            for (int i = 0; i < kEach; ++i) ini.WriteInteger(section, std::string("v").append(IntToStr(i)), i);
        };
    };
    ASSERT_TRUE(InProcesses({writer("A"), writer("B")}));
    TIniFile ini(name);
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(ini.ReadInteger("A", std::string("v").append(IntToStr(i)), -1), i);
        EXPECT_EQ(ini.ReadInteger("b", std::string("V").append(IntToStr(i)), -1), i);
    }
}

TEST_F(IniFileTest, UnwritableFileRaises) {
    TIniFile ini(dir + "/no/such/dir/x.ini");
    EXPECT_THROW(ini.WriteString("a", "b", "c"), EFCreateError);
    EXPECT_NO_THROW(ini.DeleteKey("a", "b"));
}
