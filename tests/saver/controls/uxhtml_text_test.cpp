// The HTML label as a control: anchors under the mouse, keyboard cycling, the link-scheme
// rule through a fake shell, pictures by every source, and painting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <memory>

#include "Forms.h"
#include "ImgList.h"
#include "UxHTMLText.h"

namespace {

const std::string kFixtures = GD_SOURCE_DIR "/tests/saver/controls/fixtures/";

void Mouse(TWinControl* c, QEvent::Type type, TPoint p, Qt::MouseButton b = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : b;
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(b) : Qt::NoButton;
    QMouseEvent e(type, QPointF(p.X, p.Y), c->ClientWidget()->mapToGlobal(QPointF(p.X, p.Y)), button, held,
                  Qt::NoModifier);
    QApplication::sendEvent(c->ClientWidget(), &e);
}

void Click(TWinControl* c, TPoint p) {
    Mouse(c, QEvent::MouseButtonPress, p);
    Mouse(c, QEvent::MouseButtonRelease, p);
}

void Key(TWinControl* c, int key, const QString& text = {}) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(c->ClientWidget(), &e);
}

TPoint Middle(const TRect& r) { return Point((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2); }

struct Label {
    TForm form{nullptr};
    TUxHTMLText* html;
    std::vector<std::string> clicks, keys, entered, exited, opened;

    explicit Label(const std::string& markup) {
        form.SetClientSize(360, 200);
        html = new TUxHTMLText(&form);
        html->SetParent(&form);
        html->SetBounds(8, 8, 340, 180);
        html->SetUxHTMLText(markup);
        html->OnAnchorClick = TAnchorClick(this, &Label::Clicked);
        html->OnAnchorKeypress = TAnchorClick(this, &Label::Keyed);
        html->OnAnchorEnter = TAnchorClick(this, &Label::Entered);
        html->OnAnchorExit = TAnchorClick(this, &Label::Exited);
        SetShellOpen([this](const std::string& t) { opened.push_back(t); });
    }
    ~Label() { SetShellOpen(nullptr); }
    void Clicked(TObject*, const std::string& a) { clicks.push_back(a); }
    void Keyed(TObject*, const std::string& a) { keys.push_back(a); }
    void Entered(TObject*, const std::string& a) { entered.push_back(a); }
    void Exited(TObject*, const std::string& a) { exited.push_back(a); }
    TPoint AnchorPoint(int anchor) {
        for (const auto& b : html->Layout().Boxes)
            if (b.Anchor == anchor) return Middle(b.R);
        ADD_FAILURE() << "no box for anchor " << anchor;
        return {};
    }
};

}  // namespace

TEST(UxHTMLText, LinkSchemeRule) {
    const struct {
        const char* target;
        bool shell;
    } cases[] = {{"http://example.org/", true},  {"HTTPS://example.org/", true}, {"ftp://host/f", true},
                 {"mailto:someone@example.org", true}, {" http://x", true},
                 {"file:///usr/share/applications/x.desktop", false}, {"javascript://x", false},
                 {"smb://host/share", false},    {"help", false},              {"", false},
                 {"xmailto:x", false},           {"http:/x", false}};
    for (const auto& c : cases) EXPECT_EQ(IsShellLink(c.target), c.shell) << c.target;

    // Through clicks: the shell gets only the four schemes, the anchor event the rest.
    Label l("<A HREF=\"mailto:me@example.org\">mail</A> <A HREF=\"file:///bin/sh\">file</A> "
            "<A HREF=\"chapter2\">word</A>");
    for (int a = 0; a < 3; ++a) Click(l.html, l.AnchorPoint(a));
    EXPECT_EQ(l.opened, std::vector<std::string>{"mailto:me@example.org"});
    EXPECT_EQ(l.clicks, (std::vector<std::string>{"file:///bin/sh", "chapter2"}));
    // A press on one anchor and a release on another opens nothing.
    Mouse(l.html, QEvent::MouseButtonPress, l.AnchorPoint(1));
    Mouse(l.html, QEvent::MouseButtonRelease, l.AnchorPoint(2));
    EXPECT_EQ(l.clicks.size(), 2u);
}

TEST(UxHTMLText, MouseOverAnchorsHandCursorHoverAndEvents) {
    Label l("plain <A HREF=\"one\">first</A> text <A HREF=\"two\">second</A>");
    l.html->SetHover(true);
    const TPoint plain = Middle(l.html->Layout().Items.front().R);
    Mouse(l.html, QEvent::MouseMove, plain);
    EXPECT_EQ(l.html->Cursor(), crDefault);
    Mouse(l.html, QEvent::MouseMove, l.AnchorPoint(0));
    EXPECT_EQ(l.html->Cursor(), crHandPoint);
    EXPECT_EQ(l.html->HoverAnchor(), 0);
    Mouse(l.html, QEvent::MouseMove, l.AnchorPoint(0));   // no second enter for the same anchor
    Mouse(l.html, QEvent::MouseMove, l.AnchorPoint(1));
    Mouse(l.html, QEvent::MouseMove, plain);
    EXPECT_EQ(l.html->Cursor(), crDefault);
    EXPECT_EQ(l.html->HoverAnchor(), -1);
    EXPECT_EQ(l.entered, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(l.exited, std::vector<std::string>{"two"});
}

TEST(UxHTMLText, KeyboardCyclesThroughAnchorsAndOpensTheSelectedOne) {
    Label l("<A HREF=\"a\">one</A> <A HREF=\"b\">two</A> <A HREF=\"http://example.org/\">three</A>");
    EXPECT_EQ(l.html->SelectedAnchor(), -1);
    l.form.Show();
    l.html->SetFocus();
    QApplication::processEvents();
    EXPECT_EQ(l.html->SelectedAnchor(), 0) << "getting the focus selects the first anchor";
    const struct {
        int key;
        int selected;
    } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Down, 2}, {Qt::Key_Right, 0}, {Qt::Key_Left, 2},
                 {Qt::Key_Up, 1},    {Qt::Key_Left, 0}, {Qt::Key_Left, 2}};
    for (const auto& s : steps) {
        Key(l.html, s.key);
        EXPECT_EQ(l.html->SelectedAnchor(), s.selected) << s.key;
    }
    Key(l.html, Qt::Key_Space, " ");
    EXPECT_EQ(l.opened, std::vector<std::string>{"http://example.org/"});
    Key(l.html, Qt::Key_Right);
    Key(l.html, Qt::Key_Space, " ");
    EXPECT_EQ(l.keys, std::vector<std::string>{"a"});
    EXPECT_TRUE(l.clicks.empty());
    // Moving the mouse over an anchor clears the keyboard selection.
    Mouse(l.html, QEvent::MouseMove, l.AnchorPoint(1));
    EXPECT_EQ(l.html->SelectedAnchor(), -1);
    // New text resets the anchor state.
    l.html->SetUxHTMLText("<A HREF=\"x\">x</A>");
    EXPECT_EQ(l.html->SelectedAnchor(), -1);
    EXPECT_EQ(l.html->Layout().Anchors, std::vector<std::string>{"x"});
}

TEST(UxHTMLText, PicturesFromEverySource) {
    Label l("");
    TImageList list(nullptr);
    list.SetSize(20, 10);
    TBitmap red;
    red.SetPixelFormat(pf24bit);
    red.SetSize(20, 10);
    red.Canvas()->Brush()->SetColor(clRed);
    red.Canvas()->FillRect(Rect(0, 0, 20, 10));
    list.Add(&red);
    auto container = std::make_unique<TUxPictureContainer>(nullptr);
    TPictureItem* item = container->Items()->Add();
    item->Name = "Anim";
    ASSERT_TRUE(item->Picture()->LoadFromFile(kFixtures + "anim3.gif"));
    l.html->SetImages(&list);
    l.html->SetUxPictures(container.get());
    l.html->SetUxHTMLText("<IMG SRC=\"IDX:0\"><IMG SRC=\"anim\"><IMG SRC=\"file://" + kFixtures +
                          "still.bmp\"><IMG SRC=\"http://example.invalid/x.gif\"><IMG SRC=\"IDX:7\">"
                          "<IMG SRC=\"LSYS:/\"><IMG SRC=\"SSYS:3\">");
    std::vector<std::pair<int, int>> sizes;
    for (const auto& it : l.html->Layout().Items)
        if (it.Kind == uxhtml::TItemKind::Image) sizes.emplace_back(it.R.Width(), it.R.Height());
    EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{20, 10}, {12, 8}, {9, 7}, {32, 32}}));
    EXPECT_EQ(l.html->PictureCache()->Count(), 2);   // the file and the web address

    // The timer steps the container's animation.
    l.html->SetEnableBlink(true);
    l.html->TimerTick();
    EXPECT_EQ(item->Picture()->Frame(), 2);

    // The painted control shows the list image where the layout put it.
    l.form.Show();
    QApplication::processEvents();
    l.html->Repaint();
    TRect first;
    for (const auto& it : l.html->Layout().Items)
        if (it.Kind == uxhtml::TItemKind::Image) {
            first = it.R;
            break;
        }
    EXPECT_EQ(l.html->Surface()->Canvas()->Pixel(first.Left + 2, first.Top + 2) & 0xFFFFFF, clRed);

    // Removing a component clears the reference.
    container.reset();
    EXPECT_EQ(l.html->UxPictures(), nullptr);
    l.html->SetUxHTMLText("<IMG SRC=\"anim\">x");
    EXPECT_EQ(l.html->Layout().Items.size(), 1u);
}

TEST(UxHTMLText, PaintsTextAndAlignsVertically) {
    Label l("<FONT COLOR=\"clRed\" SIZE=\"5\">Red</FONT>");
    l.html->SetColor(clWhite);
    l.form.Show();
    QApplication::processEvents();
    l.html->Repaint();
    // Some red pixels where the word is, white elsewhere.
    TCanvas* c = l.html->Surface()->Canvas();
    const TRect word = l.html->Layout().Items.front().R;
    int red = 0;
    for (int y = word.Top; y < word.Bottom; ++y)
        for (int x = word.Left; x < word.Right; ++x) red += (c->Pixel(x, y) & 0xFFFFFF) == clRed;
    EXPECT_GT(red, 5);
    EXPECT_EQ(c->Pixel(330, 170) & 0xFFFFFF, clWhite);
    EXPECT_EQ(word.Top, 0);
    l.html->SetVAlignment(tvaBottom);
    EXPECT_EQ(l.html->Layout().Items.front().R.Bottom, 180);
    l.html->SetVAlignment(tvaCenter);
    const TRect centred = l.html->Layout().Items.front().R;
    EXPECT_EQ(centred.Top, (180 - centred.Height()) / 2);
    // Bevels and a border move the text area in.
    l.html->SetVAlignment(tvaTop);
    l.html->SetBevelOuter(bvRaised);
    l.html->SetBorderStyle(bsSingle);
    l.html->SetBorderLineWidth(2);
    EXPECT_EQ(l.html->TextArea(), Rect(3, 3, 337, 177));
    EXPECT_EQ(l.html->BorderWidth(), 0);
}

TEST(UxHTMLText, MiniScrollAndAutoSize) {
    std::string tall;
    for (int i = 0; i < 40; ++i) tall += "line " + std::to_string(i) + "\n";
    Label l(tall);
    l.html->SetMiniScroll(true);
    EXPECT_EQ(l.html->VAlignment(), tvaTop);
    const TRect area = l.html->TextArea();
    Mouse(l.html, QEvent::MouseButtonPress, Point(area.Right - 3, area.Bottom - 3));
    EXPECT_EQ(l.html->ScrollPos(), 4);
    l.html->TimerTick();   // held: each tick repeats the step
    EXPECT_EQ(l.html->ScrollPos(), 8);
    Mouse(l.html, QEvent::MouseButtonRelease, Point(area.Right - 3, area.Bottom - 3));
    l.html->TimerTick();
    EXPECT_EQ(l.html->ScrollPos(), 8);
    Mouse(l.html, QEvent::MouseButtonPress, Point(area.Right - 3, area.Top + 3));
    Mouse(l.html, QEvent::MouseButtonRelease, Point(area.Right - 3, area.Top + 3));
    EXPECT_EQ(l.html->ScrollPos(), 4);
    l.html->SetVAlignment(tvaCenter);
    EXPECT_FALSE(l.html->MiniScroll());

    Label s("one<BR>two");
    s.html->SetAutoSizing(true);
    std::string anchor;
    TSize extent;
    EXPECT_FALSE(s.html->RenderHtmlText(Rect(0, 0, 300, 300), Point(0, 0), anchor, extent));
    EXPECT_EQ(s.html->Height(), extent.cy);
    EXPECT_EQ(s.html->Width(), 340);
}
