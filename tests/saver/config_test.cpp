// The settings dialog and the about box: texts from block 0, the controls filled from the
// settings per run mode, the display-time box's key filter and values, OK through the
// registry, and a layout where no caption is cut or covered.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWindow>

#include <cstdlib>
#include <functional>

#include "Config.h"
#include "Dialogs.h"
#include "ScrnSave.h"
#include "StdCtrls.h"
#include "TestDir.h"
#include "UxClrBtn.h"
#include "UxCombos.h"
#include "about.h"

namespace {

TPayloadTexts EnglishTexts() {
    TPayloadTexts t;
    const char* const kTexts[] = {
        "", "OK", "Cancel", "Info", "Exit Slideshow", "Created with Glimmerdeck:", "Photos",
        "Display Time (s):", "Effect:", "Effect Duration (s):", "Background:", "Loop Photos",
        "Random Photo Order", "forever", "Photo Titles", "Show at:", "Font:", "Size:", "Color:",
        "None\r\nCrossfade\r\nFade\r\nPaint\r\nMove\r\nBoxes\r\nZoom in\r\nZoom out",
        "Top Left\r\nTop Center\r\nTop Right\r\nBottom Left\r\nBottom center\r\nBottom Right",
        "Help", "Slideshow settings", "Saver settings", "About the slideshow", "About the saver"};
    for (size_t i = 0; i < t.size(); ++i) t[i] = kTexts[i];
    return t;
}

TPlayerSettings Typical() {
    TPlayerSettings s;
    s.Duration = 5;
    s.Effect = 2;
    s.EffectDuration = 3;
    s.Background = 0x00123456;
    s.Showname = true;
    s.NamePosition = 4;
    s.NameFont = "DejaVu Sans";
    s.NameSize = 20;
    s.NameColor = clRed;
    s.NameBackground = clYellow;
    s.NameShowBackground = true;
    s.Loop = true;
    s.Random = true;
    s.AboutText = "Made by Tom & Jerry";
    return s;
}

// Answers every modal form through a callback.
class FormResponder : public TDialogResponder {
public:
    std::function<void(TForm&)> onForm;
    void ModalForm(TForm& Form) override {
        if (onForm) onForm(Form);
    }
};

class ConfigDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        SetProgramArguments("/home/u/Alps.exe", {});
        RunMode = rmSlideshow;
        PlayerSettings = Typical();
        PayloadTexts = EnglishTexts();
        SetDialogResponder(&responder);
    }
    void TearDown() override {
        SetDialogResponder(nullptr);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    static std::string Text(const QComboBox* b) { return b->currentText().toStdString(); }
    // Types the characters into the display-time box as key presses.
    static void Type(TConfigForm& f, const std::string& Keys) {
        QComboBox* e = f.timecombo;   // it has the focus and hands keys to its edit
        for (char c : Keys) {
            const int key = c == '\b' ? Qt::Key_Backspace : c >= 'a' && c <= 'z' ? Qt::Key_A + (c - 'a') : int(c);
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(c)));
            QApplication::sendEvent(e, &press);
        }
    }

    TestDir dir;
    FormResponder responder;
};

}  // namespace

TEST_F(ConfigDialog, TextsOfBlockZeroKeepTheItemIndexes) {
    TConfigForm f;
    f.ComboBox1->setCurrentIndex(4);
    f.ComboBox2->setCurrentIndex(5);
    PayloadTexts[10] = "Hintergrund:";
    PayloadTexts[13] = "immer";
    PayloadTexts[19] = "Kein\r\nBlende\nFade\rMalen";   // every kind of line break; only 4 lines
    PayloadTexts[20] = "";
    f.ApplyPayloadTexts();
    EXPECT_EQ(Caption(f.Label3), "Hintergrund:");
    EXPECT_EQ(Caption(f.CheckBox2), "Hintergrund:");
    EXPECT_EQ(f.timecombo->itemText(0).toStdString(), "immer");
    EXPECT_EQ(f.timecombo->count(), 9);
    EXPECT_EQ(ItemsText(f.ComboBox1), "Kein\nBlende\nFade\nMalen\n");
    EXPECT_EQ(f.ComboBox1->currentIndex(), -1) << "index 4 is past the 4 lines";
    EXPECT_EQ(f.ComboBox2->count(), 0);
    EXPECT_EQ(f.ComboBox2->currentIndex(), -1);
    EXPECT_TRUE(f.Label8->isHidden());

    // Every caption from its text, and an empty text is applied as it is.
    const std::pair<QObject*, int> captions[] = {
        {f.btnClose, 1}, {f.Button1, 2}, {f.Button2, 3}, {f.Button3, 4}, {f.GroupBox1, 6},
        {f.Label1, 7}, {f.Label2, 8}, {f.Label4, 9}, {f.CheckBox3, 11}, {f.CheckBox4, 12},
        {f.GroupBox2, 14}, {f.CheckBox1, 15}, {f.Label5, 16}, {f.Label7, 17}, {f.Label6, 18}};
    for (const auto& [control, index] : captions) EXPECT_EQ(Caption(control), PayloadTexts[size_t(index)]) << index;
    PayloadTexts[7] = "";
    f.ApplyPayloadTexts();
    EXPECT_EQ(Caption(f.Label1), "");
}

TEST_F(ConfigDialog, ShowFillsTheControlsAndOkStoresThemThroughTheRegistry) {
    PlayerSettings.Duration = -1;
    {
        TConfigForm f;
        f.FormShow(&f);
        EXPECT_EQ(Text(f.timecombo), "forever");
        EXPECT_EQ(f.ComboBox1->currentIndex(), 2);
        EXPECT_EQ(f.SpinEdit2->value(), 3);
        EXPECT_EQ(f.cbackground->GetColor(), TColor(0x00123456));
        EXPECT_EQ(f.ComboBox2->currentIndex(), 4);
        EXPECT_EQ(f.FontComboBox1->FontName(), "DejaVu Sans");
        EXPECT_EQ(f.SpinEdit3->value(), 20);
        EXPECT_EQ(f.cfont->GetColor(), clRed);
        EXPECT_EQ(f.cfontback->GetColor(), clYellow);
        EXPECT_TRUE(f.CheckBox1->isChecked() && f.CheckBox2->isChecked() && f.CheckBox3->isChecked() &&
                    f.CheckBox4->isChecked());
        // The user changes some, then OK.
        f.ComboBox1->setCurrentIndex(4);   // "Move"
        f.timecombo->setEditText("45");
        f.CheckBox4->setChecked(false);
        f.cfont->SetPaletteIndex(3);
        f.btnCloseClick();
    }
    TPlayerSettings want = Typical();
    want.Duration = 45;
    want.Effect = 4;
    want.Random = false;
    want.NameColor = RGBColor(0xBF, 0xBF, 0xBF);   // cell 3 = (3, 1)
    EXPECT_EQ(PlayerSettings, want);
    // Written at once: a fresh start reads the same back.
    PlayerSettings = TPlayerSettings();
    PlayerSettings.AboutText = want.AboutText;
    LoadRegistrySettings();
    EXPECT_EQ(PlayerSettings, want);
}

TEST_F(ConfigDialog, DisplayTimeValuesAndKeyFilter) {
    const std::pair<const char*, int32_t> values[] = {
        {"forever", -1}, {"", -1}, {"45", 45}, {"007", 7}, {"immer", -1}, {"4x", -1}};
    for (const auto& [text, want] : values) EXPECT_EQ(TConfigForm::DurationOfText(text), want) << text;

    TConfigForm f;
    f.timecombo->setEditText("");
    Type(f, "4a5.-x");
    EXPECT_EQ(Text(f.timecombo), "45") << "letters and signs never reach the box";
    Type(f, "\b7");
    EXPECT_EQ(Text(f.timecombo), "47");
    f.btnCloseClick();
    EXPECT_EQ(PlayerSettings.Duration, 47);
    // "forever" (or its replacement) shown for -1 is stored as -1 again.
    PayloadTexts[13] = "immer";
    TConfigForm g;
    PlayerSettings.Duration = -1;   // after the form read the registry
    g.FormShow(&g);
    EXPECT_EQ(Text(g.timecombo), "immer");
    g.btnCloseClick();
    EXPECT_EQ(PlayerSettings.Duration, -1);
}

// Values of block 0 or the registry that the fields cannot hold: shown as they are,
// written back unchanged by OK when the user left the field alone, clamped into the field's
// range only once the user edits it.
TEST_F(ConfigDialog, ValuesOutsideTheFieldsAreKeptUntilEdited) {
    struct Case {
        const char* name;
        std::function<void(TPlayerSettings&)> store;
        std::function<std::string(TConfigForm&)> shown;   // what the field shows
        std::string want;
        std::function<void(TConfigForm&)> edit;           // the user's edit
        std::function<int32_t(const TPlayerSettings&)> field;
        int32_t stored, afterEdit;
    };
    auto spinText = [](QSpinBox* b) { return b->text().toStdString(); };
    auto key = [](QWidget* w, int k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    };
    const auto effectDuration = [](const TPlayerSettings& s) { return s.EffectDuration; };
    const auto nameSize = [](const TPlayerSettings& s) { return s.NameSize; };
    std::vector<Case> cases;
    for (int32_t v : {0, -3, 61, 100000}) {
        cases.push_back({"EffectDuration", [v](TPlayerSettings& s) { s.EffectDuration = v; },
                         [&](TConfigForm& f) { return spinText(f.SpinEdit2); }, std::to_string(v),
                         [&](TConfigForm& f) { key(f.SpinEdit2, Qt::Key_Up); }, effectDuration, v,
                         v < 1 ? 1 : 60});
    }
    for (int32_t v : {0, 3, 129, 200}) {
        cases.push_back({"NameSize", [v](TPlayerSettings& s) { s.NameSize = v; },
                         [&](TConfigForm& f) { return spinText(f.SpinEdit3); }, std::to_string(v),
                         [&](TConfigForm& f) { key(f.SpinEdit3, Qt::Key_Down); }, nameSize, v,
                         v < 4 ? 4 : 128});
    }
    // Lists cannot show such a value: nothing is selected until the user picks an item.
    for (int32_t v : {8, -1, 99}) {
        cases.push_back({"Effect", [v](TPlayerSettings& s) { s.Effect = v; },
                         [](TConfigForm& f) { return std::to_string(f.ComboBox1->currentIndex()); }, "-1",
                         [](TConfigForm& f) { f.ComboBox1->setCurrentIndex(3); },
                         [](const TPlayerSettings& s) { return s.Effect; }, v, 3});
    }
    for (int32_t v : {6, -2}) {
        cases.push_back({"NamePosition", [v](TPlayerSettings& s) { s.NamePosition = v; },
                         [](TConfigForm& f) { return std::to_string(f.ComboBox2->currentIndex()); }, "-1",
                         [](TConfigForm& f) { f.ComboBox2->setCurrentIndex(0); },
                         [](const TPlayerSettings& s) { return s.NamePosition; }, v, 0});
    }
    // Any negative display time reads as "forever"; one left alone keeps its number.
    cases.push_back({"Duration", [](TPlayerSettings& s) { s.Duration = -5; },
                     [](TConfigForm& f) { return Text(f.timecombo); }, "forever",
                     [](TConfigForm& f) { f.timecombo->setEditText("7"); },
                     [](const TPlayerSettings& s) { return s.Duration; }, -5, 7});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored));
        for (bool edited : {false, true}) {
            SCOPED_TRACE(edited ? "edited" : "left alone");
            TConfigForm f;
            PlayerSettings = Typical();   // after the form read the registry
            c.store(PlayerSettings);
            f.FormShow(&f);
            EXPECT_EQ(c.shown(f), c.want);
            if (edited) c.edit(f);
            TPlayerSettings want = PlayerSettings;
            f.btnCloseClick();
            EXPECT_EQ(c.field(PlayerSettings), edited ? c.afterEdit : c.stored);
            if (!edited) {
                EXPECT_EQ(PlayerSettings, want) << "nothing else changed either";
                // Written as it is: a fresh start reads the same back.
                PlayerSettings = TPlayerSettings();
                LoadRegistrySettings();
                EXPECT_EQ(c.field(PlayerSettings), c.stored);
            }
        }
    }
}

TEST_F(ConfigDialog, LoopAndRandomRulesPerRunMode) {
    struct Case {
        TRunMode mode;
        bool loop;
        bool loopChecked, loopEnabled, randomEnabled, storedLoop;
    };
    const Case cases[] = {
        {rmSlideshow, true, true, true, true, true},
        {rmSlideshow, false, false, true, false, false},
        {rmConfigure, false, true, false, true, true},
        {rmSaver, false, true, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode) * 10 + c.loop);
        RunMode = c.mode;
        TConfigForm f;
        // After the form read the registry, which holds the case before.
        PlayerSettings = Typical();
        PlayerSettings.Loop = c.loop;
        f.FormShow(&f);
        EXPECT_EQ(f.CheckBox3->isChecked(), c.loopChecked);
        EXPECT_EQ(f.CheckBox3->isEnabled(), c.loopEnabled);
        EXPECT_EQ(f.CheckBox4->isEnabled(), c.randomEnabled);
        f.btnCloseClick();
        EXPECT_EQ(PlayerSettings.Loop, c.storedLoop);
    }
    // In a slideshow, clearing the loop box greys the random box at once.
    RunMode = rmSlideshow;
    PlayerSettings.Loop = true;
    TConfigForm f;
    f.FormShow(&f);
    f.CheckBox3->setChecked(false);
    EXPECT_FALSE(f.CheckBox4->isEnabled());
    f.CheckBox3->setChecked(true);
    EXPECT_TRUE(f.CheckBox4->isEnabled());
}

TEST_F(ConfigDialog, AFontThatIsNotInstalledKeepsItsName) {
    PlayerSettings.NameFont = "Arial Narrow Not Here";
    TConfigForm f;
    f.FormShow(&f);
    EXPECT_EQ(f.FontComboBox1->FontName(), "");
    EXPECT_EQ(f.FontComboBox1->placeholderText().toStdString(), "Arial Narrow Not Here");
    f.btnCloseClick();
    EXPECT_EQ(PlayerSettings.NameFont, "Arial Narrow Not Here");
    // A font chosen from the list replaces it.
    TConfigForm g;
    g.FormShow(&g);
    g.FontComboBox1->SetFontName("dejavu sans mono");
    g.btnCloseClick();
    EXPECT_EQ(PlayerSettings.NameFont, "DejaVu Sans Mono");
}

TEST_F(ConfigDialog, ModalResultsOfTheButtonsAndTheAboutBox) {
    // OK stores and ends with mrOk; Cancel and Escape end with mrCancel and store nothing.
    struct Case {
        const char* name;
        std::function<void(TConfigForm&)> act;
        TModalResult result;
        bool stored;
    };
    const Case cases[] = {
        {"OK", [](TConfigForm& f) { f.btnClose->click(); }, mrOk, true},
        {"Cancel", [](TConfigForm& f) { f.Button1->click(); }, mrCancel, false},
        {"close box", [](TConfigForm& f) { f.Close(); }, mrCancel, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TConfigForm f;
        PlayerSettings = Typical();   // after the form read what the case before stored
        responder.onForm = [&](TForm& form) {
            ASSERT_EQ(&form, &f);
            f.timecombo->setEditText("99");
            c.act(f);
        };
        EXPECT_EQ(f.ShowModal(), c.result);
        EXPECT_EQ(PlayerSettings.Duration == 99, c.stored);
    }
    // Info: the about box, owned by the dialog, with the about text as it stands.
    RunMode = rmSlideshow;
    TConfigForm f;
    std::string caption, text;
    responder.onForm = [&](TForm& form) {
        auto* about = dynamic_cast<Tinfoform*>(&form);
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->Owner(), &f);
        EXPECT_EQ(about->Widget()->windowHandle()->transientParent(), f.Widget()->windowHandle())
            << "kept above the dialog";
        caption = about->Caption();
        text = about->Label2->text().toStdString();
        about->Button1->click();
    };
    f.Button2->click();
    EXPECT_EQ(caption, "About the slideshow");
    EXPECT_EQ(text, "Made by Tom & Jerry");
    RunMode = rmConfigure;
    Tinfoform saver;
    EXPECT_EQ(saver.Caption(), "About the saver");
}

TEST_F(ConfigDialog, WithoutBlockZeroEveryTextIsEmpty) {
    PayloadTexts = TPayloadTexts();
    PlayerSettings = TPlayerSettings();
    TConfigForm f;
    f.FormShow(&f);
    EXPECT_EQ(Caption(f.btnClose), "");
    EXPECT_EQ(f.ComboBox1->count(), 0);
    EXPECT_EQ(Text(f.timecombo), "0");
    f.btnCloseClick();
    // The empty list shows no effect; the stored one is kept, not replaced by "none chosen".
    EXPECT_EQ(PlayerSettings.Effect, 0);
    Tinfoform about;
    EXPECT_EQ(about.Caption(), "");
}

TEST_F(ConfigDialog, NoCaptionIsCutOrCovered) {
    TConfigForm f;
    f.FormShow(&f);
    // Every visible control of a group or of the form: inside its parent, not over a
    // sibling, and as wide and high as its text needs.
    QList<QWidget*> parents = {f.ClientWidget(), f.GroupBox1, f.GroupBox2};
    for (QWidget* parent : parents) {
        std::vector<QWidget*> kids;
        for (QObject* o : parent->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && !w->isHidden() && w->isWindow() == false) kids.push_back(w);
        for (QWidget* w : kids) {
            const std::string name = w->objectName().toStdString();
            EXPECT_TRUE(parent->rect().contains(w->geometry())) << name;
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
                EXPECT_GE(w->width(), w->sizeHint().width()) << name;
                EXPECT_GE(w->height(), w->sizeHint().height()) << name;
            }
            for (QWidget* other : kids) {
                if (other == w || qobject_cast<QGroupBox*>(w) || qobject_cast<QGroupBox*>(other)) continue;
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << name << " covers " << other->objectName().toStdString();
            }
        }
    }
}
