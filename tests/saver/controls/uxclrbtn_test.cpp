// The colour button and its palette: the colour array, cycling, hit tests, keyboard moves,
// hints, placement on the work area, the colour dialog's custom colours and the registry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <cstdlib>

#include "CBtnForm.h"
#include "Dialogs.h"
#include "Registry.h"
#include "TestDir.h"
#include "UxClrBtn.h"

namespace {

// Flushes the palette's deferred free after a close.
void Settle() { QApplication::processEvents(); }

class PickColour : public TDialogResponder {
public:
    std::vector<std::string> seen;
    TColor pick = clNone;
    int asked = 0;
    TComponent* owner = nullptr;
    bool PickColor(TColorDialog& D) override {
        ++asked;
        owner = D.Owner();
        seen.clear();
        for (int i = 0; i < D.CustomColors()->Count(); ++i) seen.push_back(D.CustomColors()->Strings(i));
        if (pick == clNone) return false;
        D.Color = pick;
        D.CustomColors()->Clear();
        D.CustomColors()->Add("ColorB=0000FF");
        D.CustomColors()->Add("ColorI=xyz");
        D.CustomColors()->Add("ColorP=$12");
        return true;
    }
};

}  // namespace

TEST(ColorArray, IndexesStreamOrderAndBounds) {
    TColorArrayClass a(3, 2);
    int n = 0;
    for (int y = 1; y <= 2; ++y)
        for (int x = 1; x <= 3; ++x) a.SetColor(x, y, TColor(++n));
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(a.ColorByIndex(i), TColor(i)) << "x runs fastest in the flat index";
    EXPECT_EQ(a.StreamColors(), (std::vector<int32_t>{1, 4, 2, 5, 3, 6})) << "y runs fastest when stored";
    TColorArrayClass b(3, 2);
    b.ReadStreamColors(a.StreamColors());
    EXPECT_TRUE(a == b);
    TColorArrayClass c;
    c.Assign(&a);
    EXPECT_TRUE(c == a);
    for (auto bad : {std::pair{0, 1}, {4, 1}, {1, 0}, {1, 3}, {-1, -1}}) {
        EXPECT_THROW(a.Color(bad.first, bad.second), EColorArrayIndexError);
        EXPECT_THROW(a.SetColor(bad.first, bad.second, 0), EColorArrayIndexError);
    }
    for (int bad : {0, 7, -3}) EXPECT_THROW(a.ColorByIndex(bad), EColorArrayIndexError);
    try {
        a.ColorByIndex(7);
    } catch (const EColorArrayIndexError& e) {
        EXPECT_STREQ(e.what(), "Array index out of bounds");
    }
    a.SetXSize(2);   // a new size drops the colours
    EXPECT_EQ(a.Count(), 4);
    EXPECT_EQ(a.ColorByIndex(1), TColor(0));
}

TEST(ColorButton, ColoursPaletteIndexAndCycling) {
    TUxColorButton b(nullptr);
    EXPECT_EQ(b.Width(), 45);
    EXPECT_EQ(b.Height(), 22);
    EXPECT_EQ(b.Version(), "TUxColorButton v2.61");
    int changes = 0;
    struct Counter {
        int* n;
        void Hit(TObject*) { ++*n; }
    } counter{&changes};
    b.OnColorChange = TNotifyEvent(&counter, &Counter::Hit);
    // The default palette: index 2 is (2, 1) black, index 5 is (1, 2) red.
    b.SetPaletteIndex(2);
    EXPECT_EQ(b.GetColor(), clBlack);
    b.SetPaletteIndex(5);
    EXPECT_EQ(b.GetColor(), clRed);
    b.SetColor(RGBColor(159, 191, 239));
    EXPECT_EQ(b.PaletteIndex(), 18);
    b.SetColor(RGBColor(1, 2, 3));   // in no cell
    EXPECT_EQ(b.PaletteIndex(), 0);
    EXPECT_EQ(changes, 4);
    b.SetPaletteIndex(21);
    b.SetPaletteIndex(-1);
    EXPECT_EQ(changes, 4) << "out-of-range indexes are ignored";

    // Cycling from the other cell runs 1..20, then the other colour again.
    b.CycleColors = true;
    b.SetOtherColor(RGBColor(1, 2, 3));
    std::vector<int> seen;
    for (int i = 0; i < 21; ++i) {
        b.Click();
        seen.push_back(b.PaletteIndex());
    }
    for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[size_t(i)], i + 1);
    EXPECT_EQ(seen[20], 0);
    EXPECT_EQ(b.GetColor(), RGBColor(1, 2, 3));
    EXPECT_FALSE(b.DroppedDown());
}

TEST(ColorPalette, HitTestsAndKeyboard) {
    TUxColorButtonPalette p(nullptr);
    EXPECT_EQ(p.ClientWidth(), 72);
    EXPECT_EQ(p.ClientHeight(), 114);
    const std::tuple<int, int, TPoint> hits[] = {
        {0, 0, {1, 1}},     {17, 17, {1, 1}},   {18, 0, {2, 1}},    {71, 89, {4, 5}},
        {40, 60, {3, 4}},   {53, 96, {0, 0}},   {71, 113, {0, 0}},  {52, 100, {-1, -1}},
        {60, 95, {-1, -1}}, {60, 114, {-1, -1}}, {10, 92, {-1, -1}}, {-5, 10, {-1, -1}},
        {72, 10, {-1, -1}}};
    for (const auto& [x, y, cell] : hits) {
        const TPoint got = p.CellAt(x, y);
        EXPECT_TRUE(got.X == cell.X && got.Y == cell.Y) << x << "," << y << " -> " << got.X << "," << got.Y;
    }
    struct Move {
        TPoint from;
        uint16_t key;
        TPoint to;
    };
    const Move moves[] = {
        {{-1, -1}, VK_DOWN, {1, 1}}, {{4, 2}, VK_RIGHT, {1, 2}}, {{1, 2}, VK_LEFT, {4, 2}},
        {{2, 5}, VK_DOWN, {2, 0}},   {{2, 0}, VK_DOWN, {2, 1}},  {{3, 1}, VK_UP, {3, 0}},
        {{3, 0}, VK_UP, {3, 5}},     {{3, 0}, VK_LEFT, {3, 0}},  {{0, 0}, VK_DOWN, {1, 1}},
        {{2, 3}, VK_RETURN, {2, 3}}};
    for (const Move& m : moves) {
        p.SetHighlight(m.from);
        p.MoveHighlight(m.key);
        EXPECT_TRUE(p.Highlight().X == m.to.X && p.Highlight().Y == m.to.Y)
            << m.from.X << "," << m.from.Y << " key " << m.key << " -> " << p.Highlight().X << ","
            << p.Highlight().Y;
    }
    // A colour of no cell lights the other cell, which takes it.
    p.HighlightColor(RGBColor(9, 9, 9));
    EXPECT_EQ(p.Highlight().Y, 0);
    EXPECT_EQ(p.CellColor({0, 0}), RGBColor(9, 9, 9));
    p.HighlightColor(clBlue);
    EXPECT_TRUE(p.Highlight().X == 1 && p.Highlight().Y == 4);
}

TEST(ColorPalette, Hints) {
    TUxColorButtonPalette p(nullptr);
    std::string text;
    TRect r;
    ASSERT_TRUE(p.CellHint(20, 20, text, r));   // (2, 2): 127, 0, 0
    EXPECT_EQ(text, "RGB = 127 000 000");
    EXPECT_TRUE(r.Left == 18 && r.Top == 18 && r.Right == 36 && r.Bottom == 36);
    EXPECT_EQ(ColorHintText(clRed), "RGB = 255 000 000");
    EXPECT_EQ(ColorHintText(clBtnFace), ColorHintText(ColorToRGB(clBtnFace)));
    p.OtherColor = clBtnFace;   // a system colour, resolved
    ASSERT_TRUE(p.CellHint(60, 100, text, r));
    EXPECT_EQ(text, ColorHintText(ColorToRGB(clBtnFace)));
    EXPECT_FALSE(p.CellHint(60, 94, text, r)) << "no hint outside the cells";
    // The owner may replace the text; an empty one shows nothing.
    struct Owner {
        std::string last;
        void Hint(TObject*, TColor C, int X, int Y, std::string& T) {
            last = IntToStr(X) + "," + IntToStr(Y) + ":" + IntToStr(int64_t(C));
            T = X == 1 ? "" : "mine";
        }
    } owner;
    p.OnGetColorHintText = TGetColorHintTextEvent(&owner, &Owner::Hint);
    ASSERT_TRUE(p.CellHint(20, 0, text, r));
    EXPECT_EQ(text, "mine");
    EXPECT_EQ(owner.last, "2,1:0");
    EXPECT_FALSE(p.CellHint(0, 0, text, r));
    p.ShowHints = false;
    EXPECT_FALSE(p.CellHint(20, 0, text, r));
}

TEST(ColorPalette, PlacementOnTheWorkArea) {
    const TRect work = Rect(0, 0, 1024, 740);
    struct Case {
        TRect button;
        TPoint at;
    };
    const Case cases[] = {
        {Bounds(100, 100, 45, 22), {100, 122}},    // below, at the left edge
        {Bounds(100, 620, 45, 22), {100, 506}},    // would pass the bottom: above
        {Bounds(-20, 100, 45, 22), {0, 122}},      // left of the work area
        {Bounds(1000, 100, 45, 22), {952, 122}},   // past the right edge
    };
    for (const Case& c : cases) {
        const TPoint p = PalettePosition(c.button, 72, 114, work);
        EXPECT_TRUE(p.X == c.at.X && p.Y == c.at.Y) << p.X << "," << p.Y;
    }
}

TEST(ColorPalette, ChoosingClosingAndTheSwallowedClick) {
    TUxColorButton b(nullptr);
    b.SetColor(clBlack);
    b.DropDown();
    ASSERT_TRUE(b.DroppedDown());
    TUxColorButtonPalette* p = b.PaletteForm();
    EXPECT_TRUE(p->Highlight().X == 2 && p->Highlight().Y == 1);
    uint16_t down = VK_DOWN;
    p->FormKeyDown(down, 0);
    char enter = 13;
    p->FormKeyPress(enter);
    Settle();
    EXPECT_FALSE(b.DroppedDown());
    EXPECT_EQ(b.GetColor(), RGBColor(127, 0, 0));
    EXPECT_FALSE(b.SwallowingClick()) << "Enter closed it";

    // Escape leaves the colour.
    b.DropDown();
    char esc = 27;
    b.PaletteForm()->FormKeyPress(esc);
    Settle();
    EXPECT_FALSE(b.DroppedDown());
    EXPECT_EQ(b.GetColor(), RGBColor(127, 0, 0));

    // A click on the other cell takes the other colour; a click outside the cells nothing.
    b.SetOtherColor(RGBColor(5, 6, 7));
    b.DropDown();
    b.PaletteForm()->FormClick(60, 94);
    EXPECT_TRUE(b.DroppedDown());
    b.PaletteForm()->FormClick(60, 100);
    Settle();
    EXPECT_EQ(b.GetColor(), RGBColor(5, 6, 7));
    EXPECT_EQ(b.PaletteIndex(), 0);

    // Closed by a click over the button: that click does not open it again.
    b.DropDown();
    b.PaletteClosed(false, true);
    b.PaletteForm();
    EXPECT_TRUE(b.SwallowingClick());
    b.Click();
    EXPECT_FALSE(b.DroppedDown());
    EXPECT_FALSE(b.SwallowingClick());
    b.Click();
    EXPECT_TRUE(b.DroppedDown());
}

// Once shown (when the layer fits controls to their texts) the "&Other" button keeps the
// size the palette gives it, so the other cell beside it shows its colour and a click on it
// chooses that colour without the colour dialog.
TEST(ColorPalette, TheOtherCellStaysUncoveredWhenShown) {
    PickColour responder;
    SetDialogResponder(&responder);
    TUxColorButton b(nullptr);
    b.OtherBtnCaption = "&Other colours";   // longer than the row holds
    const TColor mine = RGBColor(0x56, 0x34, 0x12);
    b.SetColor(mine);   // in no cell: the other cell takes it
    b.DropDown();
    TUxColorButtonPalette* p = b.PaletteForm();
    ASSERT_NE(p, nullptr);
    QApplication::processEvents();
    ASSERT_TRUE(p->Widget()->isVisible());
    EXPECT_EQ(p->btnOther->geometry(), QRect(1, 98, 50, 14));
    const TRect cell = p->CellRect({0, 0});
    EXPECT_TRUE(cell.Left == 53 && cell.Top == 96 && cell.Right == 71 && cell.Bottom == 114);
    EXPECT_FALSE(p->btnOther->geometry().intersects(QRect(cell.Left, cell.Top, cell.Width(), cell.Height())));
    EXPECT_EQ(p->Highlight().Y, 0);
    EXPECT_EQ(p->CellColor({0, 0}), mine);
    // The click lands on the painted cell, not on the button.
    QWidget* frame = p->Widget();
    const QPoint at(62, 105);
    QWidget* hit = frame->childAt(at);
    ASSERT_NE(hit, nullptr);
    EXPECT_NE(hit, p->btnOther);
    const QPoint local = hit->mapFrom(frame, at);
    QMouseEvent press(QEvent::MouseButtonPress, local, hit->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(hit, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, hit->mapToGlobal(local), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(hit, &release);
    Settle();
    EXPECT_FALSE(b.DroppedDown());
    EXPECT_EQ(responder.asked, 0) << "no colour dialog";
    EXPECT_EQ(b.GetColor(), mine);
    EXPECT_EQ(b.OtherColor(), mine);
    SetDialogResponder(nullptr);
}

TEST(ColorPalette, ColourDialogWithTheCustomColours) {
    PickColour responder;
    SetDialogResponder(&responder);
    TUxColorButton b(nullptr);
    b.CustomColors()->SetColor(2, 1, clRed);
    b.CustomColors()->SetColor(1, 2, clBlue);
    b.DropDown();
    TUxColorButtonPalette* p = b.PaletteForm();
    p->btnOtherClick();   // cancelled: the palette stays
    EXPECT_EQ(responder.owner, &b) << "the dialog is kept above the button's form";
    ASSERT_EQ(responder.seen.size(), 16u);
    EXPECT_EQ(responder.seen[0], "ColorA=00FFFFFF");
    EXPECT_EQ(responder.seen[1], "ColorB=000000FF");
    EXPECT_EQ(responder.seen[8], "ColorI=00FF0000");
    EXPECT_TRUE(b.DroppedDown());
    EXPECT_FALSE(p->DialogOpen());
    responder.pick = RGBColor(10, 20, 30);
    p->btnOtherClick();
    Settle();
    EXPECT_FALSE(b.DroppedDown());
    EXPECT_EQ(b.GetColor(), RGBColor(10, 20, 30));
    EXPECT_EQ(b.OtherColor(), RGBColor(10, 20, 30));
    // The dialog's lines by letter; unreadable ones white, missing ones white.
    EXPECT_EQ(b.CustomColors()->Color(2, 1), clRed);
    EXPECT_EQ(b.CustomColors()->Color(1, 2), clWhite);
    EXPECT_EQ(b.CustomColors()->Color(8, 2), clWhite);
    SetDialogResponder(nullptr);
}

TEST(ColorButton, CustomColoursInTheRegistry) {
    TestDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    {   // the buttons write their colours when they go: before the folder is let go
        TUxColorButton b(nullptr);
        for (int i = 1; i <= 16; ++i) b.CustomColors()->SetColorByIndex(i, TColor(i));
        // (1,1), (1,2), (2,1), (2,2) ... (8,2): flat indexes 1, 9, 2, 10 ...
        EXPECT_EQ(b.CustomColorsText(),
                  "$00000001,$00000009,$00000002,$0000000A,$00000003,$0000000B,$00000004,$0000000C,"
                  "$00000005,$0000000D,$00000006,$0000000E,$00000007,$0000000F,$00000008,$00000010");
        b.ReadCustomColorsText("$000000FF,junk,$1,,$123456789,$-1");
        EXPECT_EQ(b.CustomColors()->Color(1, 1), clRed);
        EXPECT_EQ(b.CustomColors()->Color(1, 2), clWhite);   // not a number
        EXPECT_EQ(b.CustomColors()->Color(2, 1), TColor(1));
        EXPECT_EQ(b.CustomColors()->Color(2, 2), clWhite);   // empty
        EXPECT_EQ(b.CustomColors()->Color(3, 1), clWhite);   // too long
        EXPECT_EQ(b.CustomColors()->Color(3, 2), clWhite);   // signed
        EXPECT_EQ(b.CustomColors()->Color(8, 2), clWhite);   // missing
        {
            TUxColorButton saved(nullptr);
            saved.SetName("cfont");
            saved.CustomColors()->SetColor(4, 2, clLime);
            saved.SetCustomColorsKey("Software\\Test\\Colours");   // reads nothing yet
            EXPECT_EQ(saved.CustomColors()->Color(4, 2), clLime);
        }   // written when the button goes
        TRegIniFile ini("Software\\Test\\Colours");
        const std::string stored = ini.ReadString("Colors", ".cfont", "");
        EXPECT_NE(stored.find("$0000FF00"), std::string::npos) << stored;
        TUxColorButton again(nullptr);
        again.SetName("cfont");
        again.SetCustomColorsKey("Software\\Test\\Colours");
        EXPECT_EQ(again.CustomColors()->Color(4, 2), clLime);
        EXPECT_EQ(again.CustomColors()->Color(1, 1), clWhite);
    }
    ::unsetenv("XDG_CONFIG_HOME");
}
