// The settings dialog's OK writes the store once: one rewrite (a whole-file write, sync and
// rename) for all its values, whatever was edited.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSpinBox>

#include <cstdlib>
#include <functional>

#include "Config.h"
#include "Registry.h"
#include "ScrnSave.h"
#include "TestDir.h"

namespace {

class ConfigSave : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        SetProgramArguments("/home/u/Alps.scr", {});
        RunMode = rmConfigure;
        PlayerSettings = NewPlayerSettings();
        PayloadTexts = TPayloadTexts();
        PayloadTexts[13] = "forever";
        PayloadTexts[19] = "None\r\nCrossfade\r\nFade\r\nPaint\r\nMove\r\nBoxes\r\nZoom in\r\nZoom out";
        PayloadTexts[20] = "Top Left\r\nTop Center\r\nTop Right\r\nBottom Left\r\nBottom center\r\nBottom Right";
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    TestDir dir;
};

}  // namespace

TEST_F(ConfigSave, OkIsOneRewriteOfTheStore) {
    const std::vector<std::pair<const char*, std::function<void(TConfigForm&)>>> edits = {
        {"no edit", [](TConfigForm&) {}},
        {"every box edited", [](TConfigForm& f) {
             f.timecombo->setEditText("45");
             f.ComboBox1->setCurrentIndex(4);
             f.SpinEdit2->setValue(9);
             f.ComboBox2->setCurrentIndex(1);
             f.SpinEdit3->setValue(30);
         }},
    };
    for (const auto& [name, edit] : edits) {
        SCOPED_TRACE(name);
        TConfigForm f;
        f.FormShow(&f);
        edit(f);
        const uint64_t before = TRegistry::StoreRewrites();
        f.btnCloseClick();
        EXPECT_EQ(TRegistry::StoreRewrites() - before, 1u);
    }
    PlayerSettings = TPlayerSettings();
    LoadRegistrySettings();
    EXPECT_EQ(PlayerSettings.Duration, 45);
    EXPECT_EQ(PlayerSettings.Effect, 4);
    EXPECT_EQ(PlayerSettings.EffectDuration, 9);
    EXPECT_EQ(PlayerSettings.NameSize, 30);
}
