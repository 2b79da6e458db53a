// The font combo box: the installed families against fontconfig's own tool, the list
// filters, name matching and the change event; and the resource helpers it uses.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <set>

#include "Forms.h"
#include "UxCombos.h"
#include "UxUtils.h"

namespace {

std::vector<std::string> Items(const QComboBox& b) {
    std::vector<std::string> v;
    for (int i = 0; i < b.count(); ++i) v.push_back(b.itemText(i).toStdString());
    return v;
}

bool LessNoCase(const std::string& a, const std::string& b) {
    return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive) < 0;
}

// A font box over a fixed table of families, so filters meet every kind of font.
class FakeFontBox : public TFontComboBox {
public:
    std::vector<TFontFamilyInfo> screen, printer;
    int changes = 0;
    FakeFontBox() {
        OnChange = [this] { ++changes; };
    }

protected:
    std::vector<TFontFamilyInfo> EnumFontFamilies(TFontDevice Source) override {
        return Source == fdScreen ? screen : printer;
    }
};

const std::vector<TFontFamilyInfo> kTable = {
    {"Zeta Sans", TRUETYPE_FONTTYPE, ANSI_CHARSET, 0},
    {"alpha mono", TRUETYPE_FONTTYPE, ANSI_CHARSET, FIXED_PITCH},
    {"Fixed", RASTER_FONTTYPE, ANSI_CHARSET, FIXED_PITCH},
    {"Dingbats", TRUETYPE_FONTTYPE, SYMBOL_CHARSET, 0},
    {"Terminal", RASTER_FONTTYPE, OEM_CHARSET, FIXED_PITCH},
    {"Kai", TRUETYPE_FONTTYPE, 136, 0},
    {"Beta", TRUETYPE_FONTTYPE, ANSI_CHARSET, 0},
};

}  // namespace

TEST(FontCombo, ListsEveryInstalledFamilyAsFontconfigDoes) {
    std::set<std::string> want;
    if (FILE* f = ::popen("fc-list --format '%{family[0]}\\n'", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
            if (!s.empty()) want.insert(s);
        }
        ::pclose(f);
    }
    ASSERT_FALSE(want.empty()) << "fc-list gave nothing";
    std::vector<std::string> sorted(want.begin(), want.end());
    std::stable_sort(sorted.begin(), sorted.end(), LessNoCase);
    TFontComboBox box;
    box.SetDevice(fdBoth);   // the printer adds nothing, and nothing twice
    EXPECT_EQ(Items(box), sorted);
    // DejaVu (a project dependency) is an outline Latin font; its mono face is fixed-pitch.
    const int mono = box.findText("DejaVu Sans Mono");
    ASSERT_GE(mono, 0);
    EXPECT_EQ(box.ItemObject(mono), TRUETYPE_FONTTYPE | kFontNotSymbol);
    box.SetOptions(FontOptions({foFixedPitchOnly}));
    EXPECT_GE(box.findText("DejaVu Sans Mono"), 0);
    EXPECT_LT(box.findText("DejaVu Sans"), 0);
}

TEST(FontCombo, FiltersSortingAndDevices) {
    const std::pair<TFontListOptions, std::vector<std::string>> cases[] = {
        {0, {"alpha mono", "Beta", "Dingbats", "Fixed", "Kai", "Terminal", "Zeta Sans"}},
        {FontOptions({foAnsiOnly}), {"alpha mono", "Beta", "Fixed", "Zeta Sans"}},
        {FontOptions({foTrueTypeOnly}), {"alpha mono", "Beta", "Dingbats", "Kai", "Zeta Sans"}},
        {FontOptions({foFixedPitchOnly}), {"alpha mono", "Fixed", "Terminal"}},
        {FontOptions({foNoOEMFonts}), {"alpha mono", "Beta", "Dingbats", "Fixed", "Kai", "Zeta Sans"}},
        {FontOptions({foOEMFontsOnly}), {"Terminal"}},
        {FontOptions({foScalableOnly}), {"alpha mono", "Beta", "Dingbats", "Kai", "Zeta Sans"}},
        {FontOptions({foNoSymbolFonts}), {"alpha mono", "Beta", "Fixed", "Kai", "Terminal", "Zeta Sans"}},
        {FontOptions({foFixedPitchOnly, foScalableOnly}), {"alpha mono"}},
    };
    for (const auto& [options, want] : cases) {
        SCOPED_TRACE(options);
        FakeFontBox box;
        box.screen = kTable;
        box.SetOptions(options);
        EXPECT_EQ(Items(box), want);
    }
    // The printer's fonts join the screen's once each.
    FakeFontBox box;
    box.screen = kTable;
    box.printer = {{"Beta", DEVICE_FONTTYPE, ANSI_CHARSET, 0}, {"Courier Device", DEVICE_FONTTYPE, ANSI_CHARSET, 0}};
    box.SetDevice(fdBoth);
    EXPECT_EQ(box.count(), 8);
    EXPECT_EQ(box.ItemObject(box.findText("Courier Device")), DEVICE_FONTTYPE | kFontNotSymbol);
    EXPECT_EQ(box.ItemObject(box.findText("Dingbats")), TRUETYPE_FONTTYPE);
    box.SetDevice(fdPrinter);
    EXPECT_EQ(Items(box), (std::vector<std::string>{"Beta", "Courier Device"}));
}

TEST(FontCombo, NameMatchingAndTheChangeEvent) {
    FakeFontBox box;
    box.screen = kTable;
    box.SetFontName("ZETA SANS");
    EXPECT_EQ(box.FontName(), "Zeta Sans");
    EXPECT_EQ(box.changes, 1);
    box.SetFontName("Zeta Sans");   // the same: nothing happens
    EXPECT_EQ(box.changes, 1);
    box.SetFontName("Arial");       // absent from a drop-down list: no selection
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.FontName(), "");
    EXPECT_EQ(box.changes, 2);

    // Options keep the name while it survives the filter; the event fires when it does not.
    box.SetFontName("alpha mono");
    const int before = box.changes;
    box.SetOptions(FontOptions({foFixedPitchOnly}));
    EXPECT_EQ(box.FontName(), "alpha mono");
    EXPECT_EQ(box.changes, before);
    box.SetOptions(FontOptions({foOEMFontsOnly}));
    EXPECT_EQ(box.FontName(), "");
    EXPECT_EQ(box.changes, before + 1);

    // An editable box shows an absent name as its text.
    FakeFontBox edit;
    edit.screen = kTable;
    edit.SetStyle(csDropDown);
    edit.SetFontName("Arial");
    EXPECT_EQ(edit.FontName(), "Arial");
    EXPECT_EQ(edit.currentIndex(), -1);
}

TEST(FontCombo, ItemsAreDrawnInTheirOwnFaceButNeverASymbolFont) {
    FakeFontBox box;
    box.screen = kTable;
    box.SetOptions(0);
    const int beta = box.findText("Beta"), dingbats = box.findText("Dingbats");
    EXPECT_NE(box.ItemFont(beta).family(), QString("Beta")) << "only with UseFonts";
    box.SetUseFonts(true);
    EXPECT_EQ(box.ItemFont(beta).family(), QString("Beta"));
    EXPECT_NE(box.ItemFont(dingbats).family(), QString("Dingbats"));
    // The glyph of an outline font sits 2 pixels in, the text after it; raster fonts have none.
    QImage img(200, 20, QImage::Format_RGB32);
    auto inkAt = [&](int index, int x0, int x1) {
        img.fill(Qt::white);
        QPainter p(&img);
        box.DrawItem(p, QRect(0, 0, 200, 20), index, false);
        p.end();
        for (int y = 0; y < 20; ++y)
            for (int x = x0; x < x1; ++x)
                if (img.pixel(x, y) != box.palette().color(QPalette::Base).rgb()) return true;
        return false;
    };
    EXPECT_TRUE(inkAt(beta, 2, 16));
    EXPECT_FALSE(inkAt(box.findText("Fixed"), 0, 26));
    EXPECT_GE(box.ItemHeight(), 9);
}

TEST(UxUtils, ResourcesAndCursors) {
    try {
        ResourceNotFound("UX_NONE");
        FAIL();
    } catch (const EResNotFound& e) {
        EXPECT_STREQ(e.what(), "Resource UX_NONE not found");
    }
    try {
        ResourceNotFound(14000);
        FAIL();
    } catch (const EResNotFound& e) {
        EXPECT_STREQ(e.what(), "Resource 14000 not found");
    }
    for (const char* name : {"TRUETYPE_FNT", "DEVICE_FNT", "UX_ARROW_BMP", "UX_ARROW_DISABLED_BMP"}) {
        auto b = CreateBitmapFromResource(HInstance, name);
        ASSERT_TRUE(b) << name;
        EXPECT_EQ(b->PixelFormat(), pf24bit);
        EXPECT_FALSE(CreateBitmapFromResource(0, name)) << "no system bitmaps";
    }
    EXPECT_FALSE(CreateBitmapFromResource(HInstance, "NOPE"));
    EXPECT_FALSE(CreateBitmapFromResource(HInstance, "123"));
    EXPECT_EQ(CopyResString("abc"), "abc");
    RegisterUxCursors();
    EXPECT_EQ(Screen->Cursors(crUxHand), Screen->Cursors(crHandPoint));
    EXPECT_EQ(Screen->Cursors(crUxDrag), Screen->Cursors(crDrag));
}
