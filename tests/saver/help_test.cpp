// The help dialog's texts from block 0, and its page in the HTML label.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

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
