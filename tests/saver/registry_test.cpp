// Registry overrides of the built-in settings, and the desktop's password setting.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Registry.h"
#include "ScrnSave.h"
#include "TestDir.h"

namespace {

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        RunMode = rmSaver;
        SetProgramArguments("/home/u/Alps.scr", {});
        PlayerSettings = TPlayerSettings();
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

    static TPlayerSettings Distinct() {
        TPlayerSettings p;
        p.Background = 0x00102030;
        p.Duration = -1;
        p.Effect = 4;
        p.EffectDuration = 7;
        p.Showname = true;
        p.Loop = false;
        p.NamePosition = 5;
        p.NameFont = "DejaVu Sans \xC3\xA9";
        p.NameSize = 22;
        p.NameShowBackground = true;
        p.NameBackground = int32_t(0x80000005);
        p.NameColor = 0x00FEDCBA;
        p.Random = true;
        return p;
    }

    TestDir dir;
};

}  // namespace

TEST_F(RegistrySettings, SaveThenLoadRoundTripsAllThirteenValues) {
    const TPlayerSettings saved = Distinct();
    PlayerSettings = saved;
    SaveRegistrySettings();

    PlayerSettings = TPlayerSettings();
    PlayerSettings.Loop = true;         // overridden by the stored "0"
    PlayerSettings.AutoFit = true;      // no registry value: untouched
    PlayerSettings.MusicName = "a.mp3";
    PlayerSettings.PhotoCount = 3;
    LoadRegistrySettings();

    TPlayerSettings want = saved;
    want.AutoFit = true;
    want.MusicName = "a.mp3";
    want.PhotoCount = 3;
    EXPECT_EQ(PlayerSettings, want);
}

TEST_F(RegistrySettings, ValuesAreTextUnderTheSectionOfTheFile) {
    PlayerSettings = Distinct();
    SaveRegistrySettings();
    EXPECT_EQ(RegistrySettingsKey(), "Software\\Vantorel\\Glimmerdeck\\Screensaver");
    EXPECT_EQ(RegistrySection(), "Alps");
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Vantorel\\Glimmerdeck\\Screensaver\\Alps", false));
    EXPECT_EQ(reg.GetDataType("Duration"), rdString);
    EXPECT_EQ(reg.ReadString("Duration"), "-1");
    EXPECT_EQ(reg.ReadString("Showname"), "1");
    EXPECT_EQ(reg.ReadString("Loop"), "0");
    EXPECT_EQ(reg.ReadString("NameBackground"), "-2147483643");
    EXPECT_EQ(reg.ReadString("NameFont"), "DejaVu Sans \xC3\xA9");
    EXPECT_FALSE(reg.ValueExists("AutoFit"));
    EXPECT_FALSE(reg.ValueExists("MusicName"));
}

TEST_F(RegistrySettings, SaverAndSlideshowOfOneNameKeepApart) {
    SetProgramArguments("/home/u/Alps.scr", {});
    RunMode = rmSaver;
    PlayerSettings.Duration = 11;
    SaveRegistrySettings();

    SetProgramArguments("/home/u/Alps.exe", {});
    RunMode = rmSlideshow;
    EXPECT_EQ(RegistrySettingsKey(), "Software\\Vantorel\\Glimmerdeck\\Slideshow");
    PlayerSettings.Duration = 22;
    SaveRegistrySettings();

    PlayerSettings.Duration = 0;
    LoadRegistrySettings();
    EXPECT_EQ(PlayerSettings.Duration, 22);

    SetProgramArguments("/home/u/Alps.scr", {});
    RunMode = rmPreview;   // every mode but Slideshow uses the saver's key
    LoadRegistrySettings();
    EXPECT_EQ(PlayerSettings.Duration, 11);
}

TEST_F(RegistrySettings, SectionIsTheFileNameWithoutFolderAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u/Alps.scr", "Alps"}, {"/a/b/My Show.v2.scr", "My Show.v2"}, {"/a/Plain", "Plain"}};
    for (auto [path, want] : cases) {
        SetProgramArguments(path, {});
        EXPECT_EQ(RegistrySection(), want) << path;
    }
}

TEST_F(RegistrySettings, UnreadableOrMissingValuesKeepTheCurrentField) {
    {
        TRegIniFile ini("Software\\Vantorel\\Glimmerdeck\\Screensaver");
        ini.WriteString("Alps", "Duration", "abc");
        ini.WriteString("Alps", "Showname", "2");
        ini.WriteString("Alps", "Loop", "0");
        ini.WriteString("Alps", "NameSize", "");
        ini.WriteString("Alps", "Effect", "12x");
    }
    PlayerSettings.Duration = 8;        // from block 0
    PlayerSettings.Loop = true;
    PlayerSettings.NameSize = 12;
    PlayerSettings.Effect = 3;
    PlayerSettings.NameColor = 0x123;   // no value stored
    PlayerSettings.NameFont = "Arial";
    LoadRegistrySettings();
    EXPECT_EQ(PlayerSettings.Duration, 8);
    EXPECT_TRUE(PlayerSettings.Showname) << "any non-zero number is True";
    EXPECT_FALSE(PlayerSettings.Loop);
    EXPECT_EQ(PlayerSettings.NameSize, 12);
    EXPECT_EQ(PlayerSettings.Effect, 3);
    EXPECT_EQ(PlayerSettings.NameColor, 0x123);
    EXPECT_EQ(PlayerSettings.NameFont, "Arial");
}

TEST_F(RegistrySettings, PasswordInUseFollowsTheDesktopValue) {
    EXPECT_FALSE(SaverPasswordInUse()) << "no key";

    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", true));
    EXPECT_FALSE(SaverPasswordInUse()) << "no value";

    reg.WriteInteger("ScreenSaveUsePassword", 1);
    EXPECT_TRUE(SaverPasswordInUse());
    reg.WriteInteger("ScreenSaveUsePassword", 0);
    EXPECT_FALSE(SaverPasswordInUse());
    reg.WriteString("ScreenSaveUsePassword", "1");
    EXPECT_FALSE(SaverPasswordInUse()) << "a text value is the wrong type";
}

// The settings dialog's OK: the settings read when the dialog was made, then saved. All 13
// go into one rewrite of the store (each rewrite writes and syncs the whole file), and the
// other players' sections and hand-kept lines stay as they were.
TEST_F(RegistrySettings, ASaveIsOneRewriteOfTheStore) {
    {
        TRegIniFile other("Software\\Vantorel\\Glimmerdeck\\Slideshow");
        other.WriteStrings("Berge", {{"Duration", "9"}, {"Loop", "1"}});
    }
    const std::string file = TRegistry::StoreDirectory() + "/HKEY_CURRENT_USER";
    std::string text;
    ASSERT_TRUE(LoadFileToString(file, text));
    text += "; kept by hand\r\r\n";
    ASSERT_TRUE(UpdateFileAtomically(file, [&](std::string& c) { c = text; return true; }));

    struct Case { const char* name; bool storedBefore; };
    for (const Case c : {Case{"first save", false}, Case{"a save over stored values", true}}) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStderr();
        LoadRegistrySettings();   // the dialog's creation
        ::testing::internal::GetCapturedStderr();
        PlayerSettings = Distinct();
        if (c.storedBefore) PlayerSettings.Duration = 12;
        const uint64_t before = TRegistry::StoreRewrites();
        SaveRegistrySettings();
        EXPECT_EQ(TRegistry::StoreRewrites() - before, 1u);

        TPlayerSettings read;
        PlayerSettings = read;
        LoadRegistrySettings();
        TPlayerSettings want = Distinct();
        if (c.storedBefore) want.Duration = 12;
        EXPECT_EQ(PlayerSettings, want);
        ASSERT_TRUE(LoadFileToString(file, text));
        EXPECT_NE(text.find("\n; kept by hand\r\r\n"), std::string::npos) << text;
        TRegIniFile other("Software\\Vantorel\\Glimmerdeck\\Slideshow");
        EXPECT_EQ(other.ReadInteger("Berge", "Duration", 0), 9);
    }
}
