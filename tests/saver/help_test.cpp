// The help dialog's texts from block 0, and its page in the HTML label.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <functional>

#include "Dialogs.h"

#include "ScrnSave.h"
#include "StdCtrls.h"
#include "UxHTMLText.h"
#include "UxSplit.h"
#include "use.h"

TEST(Helpform, TextsFromBlock0) {
    const TPayloadTexts saved = PayloadTexts;
    PayloadTexts = {};
    PayloadTexts[0] = "<B>Keys</B>\r\n<A HREF=\"http://example.org/\">site</A>";
    PayloadTexts[5] = "Made with:";
    PayloadTexts[21] = "Hilfe";
    {
        Thelpform help(nullptr);
        EXPECT_EQ(help.Caption(), "Hilfe");
        EXPECT_EQ(help.ClientWidth(), 367);
        EXPECT_EQ(help.ClientHeight(), 238);
        EXPECT_EQ(help.HTMLStaticText1->UxHTMLText().Count(), 2);
        EXPECT_EQ(help.HTMLStaticText1->Layout().Anchors, std::vector<std::string>{"http://example.org/"});
        EXPECT_EQ(help.HTMLStaticText1->BoundsRect(), Rect(8, 8, 361, 177));
        EXPECT_EQ(Caption(help.Label8), "Made with:");
        EXPECT_TRUE(help.Label8->isHidden());
        EXPECT_EQ(help.UxSplitter1->BevelInner(), bvLowered);
        EXPECT_EQ(help.UxSplitter1->BevelOuter(), bvNone);
        EXPECT_EQ(ButtonModalResult(help.Button1), mrOk);
    }
    // Without block 0: an empty caption and an empty page.
    PayloadTexts = {};
    {
        Thelpform help(nullptr);
        EXPECT_EQ(help.Caption(), "");
        EXPECT_EQ(help.HTMLStaticText1->UxHTMLText().Count(), 0);
        EXPECT_TRUE(help.HTMLStaticText1->Layout().Items.empty());
    }
    PayloadTexts = saved;
}

namespace {

struct OnModal : TDialogResponder {
    std::function<void(TForm&)> run;
    void ModalForm(TForm& Form) override { run(Form); }
};

void Press(QWidget* W, int Key) {
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
    QApplication::sendEvent(W, &press);
    QKeyEvent release(QEvent::KeyRelease, Key, Qt::NoModifier);
    QApplication::sendEvent(W, &release);
}

}  // namespace

// Enter on a link chosen from the keyboard opens it and the help stays; with no link
// selected Enter presses OK as before.
TEST(Helpform, EnterOpensTheSelectedLinkElseClosesTheHelp) {
    const TPayloadTexts saved = PayloadTexts;
    std::vector<std::string> opened;
    SetShellOpen([&](const std::string& t) { opened.push_back(t); });
    OnModal responder;
    SetDialogResponder(&responder);
    struct Case {
        const char* page;
        bool clearSelection;   // the mouse over a link clears the keyboard's selection
        size_t opens;
        TModalResult after;
    };
    const Case cases[] = {
        {"Visit <A HREF=\"http://example.org/\">our site</A>", false, 1, mrNone},
        {"Visit <A HREF=\"http://example.org/\">our site</A>", true, 0, mrOk},
        {"No links on this page", false, 0, mrOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page + std::string(c.clearSelection ? " cleared" : ""));
        PayloadTexts = {};
        PayloadTexts[0] = c.page;
        opened.clear();
        Thelpform help(nullptr);
        TModalResult afterEnter = -1;
        responder.run = [&](TForm&) {
            QWidget* label = help.HTMLStaticText1->ClientWidget();
            help.Widget()->activateWindow();
            QApplication::setActiveWindow(help.Widget());
            label->setFocus(Qt::TabFocusReason);   // Tab to the label selects its first link
            QApplication::processEvents();
            if (c.clearSelection) help.HTMLStaticText1->SelectAnchor(-1);
            Press(label, Qt::Key_Return);
            afterEnter = help.ModalResult();
            if (afterEnter == mrNone) help.SetModalResult(mrCancel);
        };
        help.ShowModal();
        EXPECT_EQ(opened.size(), c.opens);
        if (c.opens) EXPECT_EQ(opened[0], "http://example.org/");
        EXPECT_EQ(afterEnter, c.after);
    }
    SetDialogResponder(nullptr);
    SetShellOpen(nullptr);
    PayloadTexts = saved;
}
