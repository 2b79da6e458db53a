// Choosing the language file beside the program: none, one (in any letter case), several
// through the chooser, and the application title from the loaded table.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <functional>

#include "AppShell.h"
#include "Dialogs.h"
#include "LngWriter.h"
#include "ListInput.h"
#include "saver/TestDir.h"
#include "selectlang.h"
#include "transclass.h"

namespace {

struct ChooserResponder : TDialogResponder {
    std::function<void(Tslang&)> answer;
    std::vector<std::string> items;
    int shown = 0;
    void ModalForm(TForm& f) override {
        auto& s = dynamic_cast<Tslang&>(f);
        ++shown;
        items.clear();
        for (int i = 0; i < s.ListBox1->count(); ++i) items.push_back(s.ListBox1->item(i)->text().toStdString());
        EXPECT_EQ(s.ListBox1->currentRow(), 0);
        answer(s);
    }
};

class LanguageChoice : public ::testing::Test {
protected:
    void SetUp() override { SetDialogResponder(&r); }
    void TearDown() override { SetDialogResponder(nullptr); }
    void Write(const std::string& name, const std::string& title) {
        LngWriter().Header(1).Entry("viewer.title", title).Save(dir.File(name));
    }
    TestDir dir;
    ChooserResponder r;
};

}  // namespace

TEST_F(LanguageChoice, NoneOneOrSeveralFiles) {
    r.answer = [](Tslang& s) { s.Button1->click(); };
    EXPECT_EQ(ChooseLanguageFile(dir.Path()), "");
    Write("Deutsch.LNG", "Betrachter");   // found in any case, kept with its real name
    Write("notes.txt", "x");
    EXPECT_EQ(ChooseLanguageFile(dir.Path()), dir.File("Deutsch.LNG"));
    EXPECT_EQ(r.shown, 0);

    Write("English.lng", "Viewer");
    EXPECT_EQ(ChooseLanguageFile(dir.Path()), "");   // OK at once: "<internal>"
    EXPECT_EQ(r.shown, 1);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[0], "<internal>");
    std::vector<std::string> rest(r.items.begin() + 1, r.items.end());
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"Deutsch", "English"}));

    r.answer = [](Tslang& s) {
        for (int i = 0; i < s.ListBox1->count(); ++i)
            if (s.ListBox1->item(i)->text() == "Deutsch") s.ListBox1->setCurrentRow(i);
        s.Button1->click();
    };
    EXPECT_EQ(ChooseLanguageFile(dir.Path()), dir.File("Deutsch.LNG"));
    // The selection counts, however the window was closed.
    r.answer = [](Tslang& s) {
        s.ListBox1->setCurrentRow(2);
        s.Close();
    };
    EXPECT_NE(ChooseLanguageFile(dir.Path()), "");
}

// The chooser as the user meets it: the language picked survives a click into the white
// space below the items and a Ctrl+click on it, however the window is closed.
TEST_F(LanguageChoice, ThePickSurvivesAClickBesideTheItems) {
    Write("Deutsch.lng", "Betrachter");
    Write("English.lng", "Viewer");
    enum Close { ok, enter, closeWindow };
    struct Case {
        int pick;   // -1: nothing picked ("<internal>" stays)
        bool clickBeside, ctrlClick;
        Close close;
    } cases[] = {
        {-1, true, false, ok},   {1, true, false, ok},          {2, true, false, enter}, {2, false, true, ok},
        {1, true, true, enter},  {2, true, false, closeWindow}, {-1, true, true, enter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pick) + (c.clickBeside ? " beside" : "") + (c.ctrlClick ? " ctrl" : "") + " " +
                     std::to_string(c.close));
        std::string picked;
        r.answer = [&](Tslang& s) {
            if (c.pick >= 0) ClickRow(s.ListBox1, c.pick);
            picked = c.pick > 0 ? s.ListBox1->item(c.pick)->text().toStdString() : "";
            if (c.clickBeside) ClickBelowItems(s.ListBox1);
            if (c.ctrlClick) ClickRow(s.ListBox1, std::max(c.pick, 0), Qt::ControlModifier);
            EXPECT_EQ(s.ListBox1->selectedItems().size(), 1);
            if (c.close == ok) s.Button1->click();
            else if (c.close == enter) PressKey(s.ListBox1, Qt::Key_Return);
            else s.Close();
        };
        const std::string chosen = ChooseLanguageFile(dir.Path());
        EXPECT_EQ(chosen, picked.empty() ? "" : dir.File(picked + ".lng"));
    }
}

TEST_F(LanguageChoice, AFileNamedInternalIsStillOnlyChosenByItsOwnItem) {
    Write("<internal>.lng", "wrong");
    Write("b.lng", "right");
    r.answer = [](Tslang& s) { s.Button1->click(); };
    EXPECT_EQ(ChooseLanguageFile(dir.Path()), "");
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(std::count(r.items.begin(), r.items.end(), "<internal>"), 2);
}

TEST_F(LanguageChoice, TitleFromTheTableAndErrorsRaised) {
    TApplication app;
    Application = &app;
    tlangdata table;
    LangData = &table;
    InitLanguage(dir.Path());
    EXPECT_EQ(app.Title(), "Glimmerdeck Viewer");
    Write("only.lng", "");
    InitLanguage(dir.Path());
    EXPECT_EQ(app.Title(), "");   // the entry exists, so its empty text wins
    LngWriter().Str("XDLF").Save(dir.File("only.lng"));
    try {
        InitLanguage(dir.Path());
        ADD_FAILURE() << "a broken file loaded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Not a Glimmerdeck language file!");
    }
    LangData = nullptr;
    Application = nullptr;
}
