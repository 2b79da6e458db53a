// The label's markup and layout with the fixed-width fake font: preparation and entities,
// runs and tags, colours, and the display list of each tag.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "fake_font.h"

using namespace uxhtml;

namespace {

TLayout Lay(const std::string& markup, int width = 200, TLayoutParams p = {}) {
    static FakeFont font;
    static FakeImages images;
    p.Area = Rect(0, 0, width, 100);
    p.Font = {"Sans", 8, 0};
    p.FontColor = clBlack;
    return LayoutHTML(PrepareMarkup(markup), p, font, &images);
}

std::string Hex(TColor c) {
    char b[16];
    std::snprintf(b, sizeof b, "%06X", unsigned(c));
    return b;
}

// One line per item: kind, rectangle (left,top width x height) and what it shows.
std::vector<std::string> Items(const TLayout& l) {
    std::vector<std::string> out;
    for (const TDisplayItem& it : l.Items) {
        std::ostringstream s;
        const char* kind[] = {"fill", "tile", "text", "image", "rule", "mark"};
        s << kind[int(it.Kind)] << " " << it.R.Left << "," << it.R.Top << " " << it.R.Width() << "x"
          << it.R.Height();
        if (it.Kind == TItemKind::Text) s << " '" << it.Text << "'";
        else if (it.Kind != TItemKind::Image) s << " " << Hex(it.Color);
        out.push_back(s.str());
    }
    return out;
}

const TDisplayItem& Text(const TLayout& l, const std::string& text) {
    for (const TDisplayItem& it : l.Items)
        if (it.Kind == TItemKind::Text && it.Text == text) return it;
    static TDisplayItem none;
    ADD_FAILURE() << "no text item '" << text << "'";
    return none;
}

}  // namespace

TEST(UxHTMLMarkup, PreparationReplacesEntitiesUntilNoneIsLeft) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"&amp;", "&&"},
        {"&amp;amp;", "&&&"},                 // replaced again after the first pass
        {"&quot;x&quot;", "\"x\""},
        {"&sect;&permil;&reg;&copy;&para;&trade;&euro;", "\u00A7\u2030\u00AE\u00A9\u00B6\u2122\u20AC"},
        {"&lt;B&gt;&nbsp;", "&lt;B&gt;&nbsp;"},   // left to each run
        {"a<#b>c>d", "abc>d"},                // the first "<#" and the next ">"
        {"<#x", "x"},
        {"one\r\ntwo\nthree\rfour", "one<BR>twothree<BR>four"},
        {"&amp", "&amp"},
        {"&copy", "&copy"},
    };
    for (const auto& c : cases) EXPECT_EQ(PrepareMarkup(c.in), c.out) << c.in;
}

TEST(UxHTMLMarkup, EntityCharactersAreThoseOfTheWindowsCodePage) {
    // iconv's own table for the code page the page's entities came from.
    const struct {
        const char* entity;
        const char* byte;
    } cases[] = {{"&euro;", "\\200"}, {"&permil;", "\\211"}, {"&trade;", "\\231"}, {"&sect;", "\\247"},
                 {"&copy;", "\\251"}, {"&reg;", "\\256"},    {"&para;", "\\266"}};
    for (const auto& c : cases) {
        const std::string cmd = std::string("printf '") + c.byte + "' | iconv -f CP1252 -t UTF-8";
        std::string out;
        if (FILE* f = ::popen(cmd.c_str(), "r")) {
            char buf[16];
            while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
            ASSERT_EQ(::pclose(f), 0) << cmd;
        }
        EXPECT_EQ(PrepareMarkup(c.entity), out) << c.entity;
    }
}

TEST(UxHTMLMarkup, RunsEndAfterASpaceOrBeforeATag) {
    const auto t = Tokenize("ab cd  <B x=\"1\">e</b><unclosed \"q");
    std::vector<std::string> got;
    for (const auto& k : t) got.push_back(k.Tag ? "<" + std::string(k.Closing ? "/" : "") + k.Name + ">" : k.Text);
    EXPECT_EQ(got, (std::vector<std::string>{"ab ", "cd ", " ", "<B>", "e", "</B>", "<UNCLOSED>"}));
    EXPECT_EQ(t.back().Text, "unclosed \"q");
}

TEST(UxHTMLMarkup, AttributesAndColours) {
    std::string v;
    EXPECT_TRUE(TagAttribute("FONT face=\"Arial\" size=\"3\"", "SIZE", v));
    EXPECT_EQ(v, "3");
    EXPECT_TRUE(TagAttribute("FONT SIZE=4 COLOR=\"clred\"", "SIZE", v));
    EXPECT_EQ(v, "4");
    EXPECT_TRUE(TagAttribute("FONT COLOR=\"#FF0000", "COLOR", v));   // unclosed quote
    EXPECT_EQ(v, "#FF0000");
    EXPECT_TRUE(TagAttribute("FONT COLOR=", "COLOR", v));
    EXPECT_EQ(v, "");
    EXPECT_FALSE(TagAttribute("BODY BGCOLOR=\"clred\"", " COLOR", v));   // the leading space
    EXPECT_EQ(FirstQuoted("A HREF=\"mailto:x@y\""), "mailto:x@y");
    EXPECT_EQ(FirstQuoted("A HREF=\"open"), "open");

    const struct {
        const char* value;
        TColor color;
    } colours[] = {{"#FF0000", 0x0000FF}, {"#00ff80", 0x80FF00}, {"CLRED", clRed},     {"clRed", clRed},
                   {"clnothing", 0},     {"#F00", 0},           {"#GG0000", 0},      {"", 0},
                   {"clbtnface", clBtnFace}, {"cl3ddkshadow", cl3DDkShadow}, {"clsilver", 0xC0C0C0}};
    for (const auto& c : colours) EXPECT_EQ(HTMLColor(c.value), c.color) << c.value;
}

TEST(UxHTMLLayout, DisplayListOfEachConstruct) {
    const struct {
        const char* markup;
        int width;
        std::vector<std::string> items;
    } cases[] = {
        // Runs on one line, then a break only at a space.
        {"aaaa bbbb cccc", 100, {"text 0,0 50x16 'aaaa '", "text 50,0 50x16 'bbbb '", "text 0,16 40x16 'cccc'"}},
        // A word wider than the line is placed anyway (and clipped when drawn).
        {"ab abcdefghijklmnop", 100, {"text 0,0 30x16 'ab '", "text 0,16 160x16 'abcdefghijklmnop'"}},
        // Spaces at the start of a wrapped line are dropped.
        {"aaaaaaaaaa  b", 100, {"text 0,0 110x16 'aaaaaaaaaa '", "text 0,16 10x16 'b'"}},
        {"a<BR>b\r\nc", 200, {"text 0,0 10x16 'a'", "text 0,16 10x16 'b'", "text 0,32 10x16 'c'"}},
        {"<P ALIGN=\"RIGHT\">abc</P>x", 200, {"text 170,0 30x16 'abc'", "text 0,16 10x16 'x'"}},
        {"<P ALIGN=\"center\">abc </P>", 200, {"text 85,0 40x16 'abc '"}},
        {"<P INDENT=\"20\">ab</P>", 200, {"text 20,0 20x16 'ab'"}},
        {"a<IND x=\"50\">b<IND x=\"20\">c", 200, {"text 0,0 10x16 'a'", "text 50,0 10x16 'b'", "text 60,0 10x16 'c'"}},
        {"a<Z>hidden </Z>b", 200, {"text 0,0 10x16 'a'", "text 10,0 10x16 'b'"}},
        // Superscript and subscript move by a quarter of the height; the line grows by it.
        {"a<SUP>b</SUP><BR>c", 200, {"text 0,4 10x16 'a'", "text 10,0 10x16 'b'", "text 0,20 10x16 'c'"}},
        {"a<SUB>b</SUB><BR>c", 200, {"text 0,0 10x16 'a'", "text 10,4 10x16 'b'", "text 0,20 10x16 'c'"}},
        // A rule one pixel below the line, across the width.
        {"a<HR>b", 200, {"text 0,0 10x16 'a'", "rule 0,17 200x1 000000", "text 0,19 10x16 'b'"}},
        // Lists: 12 pixels per level, the bullet, 12 pixels; a wrapped item keeps its indent.
        {"<UL><LI>one<UL><LI>two</UL></UL>", 200,
         {"text 12,0 10x16 '\u2022'", "text 34,0 30x16 'one'", "text 24,16 10x16 'o'", "text 46,16 30x16 'two'"}},
        {"<UL><LI>aa bb</UL>", 70, {"text 12,0 10x16 '\u2022'", "text 34,0 30x16 'aa '", "text 34,16 20x16 'bb'"}},
        // Pictures sit on the line like a large character; text stays at the bottom.
        {"x<IMG SRC=\"pic\">y", 200, {"text 0,24 10x16 'x'", "image 10,0 30x40", "text 40,24 10x16 'y'"}},
        {"x<IMG SRC=\"pic\" ALIGN=\"MIDDLE\">", 200, {"text 0,12 10x16 'x'", "image 10,0 30x40"}},
        {"x<IMG SRC=\"pic\" ALIGN=\"TOP\">", 200, {"text 0,0 10x16 'x'", "image 10,0 30x40"}},
        {"<IMG SRC=\"pic\" WIDTH=\"50\" HEIGHT=\"20\">", 200, {"image 0,0 50x20"}},
        {"aaaaaaaaaa<IMG SRC=\"pic\">", 120, {"text 0,0 100x16 'aaaaaaaaaa'", "image 0,16 30x40"}},
        {"<IMG SRC=\"http://example.invalid/x.gif\">a", 200, {"text 0,0 10x16 'a'"}},
        // Fills: the body behind everything, a paragraph across its line, highlighted text.
        {"a<BODY BGCOLOR=\"clred\">", 200, {"fill 0,0 200x100 0000FF", "text 0,0 10x16 'a'"}},
        // Backgrounds in the order of their tags; a colour covers every one before it.
        {"<BODY BACKGROUND=\"pic\">a<BODY BGCOLOR=\"clred\">b<BODY BACKGROUND=\"pic\">", 200,
         {"fill 0,0 200x100 0000FF", "tile 0,0 200x100 000000", "text 0,0 10x16 'a'", "text 10,0 10x16 'b'"}},
        {"<BODY BACKGROUND=\"pic\" BGCOLOR=\"clred\"><BODY BACKGROUND=\"pic\">", 200,
         {"fill 0,0 200x100 0000FF", "tile 0,0 200x100 000000"}},
        {"<P BGCOLOR=\"#0000FF\">a</P>", 200, {"fill 0,0 200x16 FF0000", "text 0,0 10x16 'a'"}},
        {"<HI>a</HI>", 200, {"fill 0,0 10x16 8000000D", "text 0,0 10x16 'a'"}},
        {"<E>ab</E>", 200, {"text 0,0 20x16 'ab'", "mark 0,14 20x2 0000FF"}},
        {"<SHAD>a</SHAD>", 200, {"text 1,1 10x16 'a'", "text 0,0 10x16 'a'"}},
        // Unclosed tags and quotes end with the text.
        {"a<FONT COLOR=\"#FF00", 200, {"text 0,0 10x16 'a'"}},
        {"a<", 200, {"text 0,0 10x16 'a'"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Items(Lay(c.markup, c.width)), c.items) << c.markup;
}

// A page repeating its background: at most 256 layers of one picture on top of itself (past
// that no pixel changes), all in front of the page's own items, however many tags there are.
TEST(UxHTMLLayout, APageKeepsOnlyTheBackgroundThatApplies) {
    const std::string tag = "<BODY BACKGROUND=\"pic\">";
    std::string page;
    for (int i = 0; i < 100000; ++i) page += tag;
    // The last colour, and over it the last picture given after it.
    const TLayout l = Lay(page + "a<BODY BGCOLOR=\"clred\">" + tag + tag + "b" + tag);
    EXPECT_EQ(Items(l), (std::vector<std::string>{"fill 0,0 200x100 0000FF", "tile 0,0 200x100 000000",
                                                  "text 0,0 10x16 'a'", "text 10,0 10x16 'b'"}));
    const TLayout many = Lay(page + "a");
    EXPECT_EQ(Items(many), (std::vector<std::string>{"tile 0,0 200x100 000000", "text 0,0 10x16 'a'"}));
    const TLayout colour = Lay(page + "<BODY BGCOLOR=\"#0000FF\">a");
    EXPECT_EQ(Items(colour), (std::vector<std::string>{"fill 0,0 200x100 FF0000", "text 0,0 10x16 'a'"}));
}

TEST(UxHTMLLayout, FontStylesSizesAndColours) {
    const TLayout l = Lay("<B>b<I>bi<U>biu</U></I></B>n"
                          "<FONT SIZE=\"3\">m</FONT><FONT SIZE=\"20\" FACE=\"Serif\">t</FONT>"
                          "<FONT COLOR=\"#FF0000\">r</FONT><FONT COLOR=\"clLime\">g</FONT><FONT COLOR=\"clnothing\">k</FONT>"
                          "<S>s</S><R a=\"45\">w</R>&amp;&x");
    EXPECT_EQ(Text(l, "b").Font.Style, TFontStyles(fsBold));
    EXPECT_EQ(Text(l, "bi").Font.Style, TFontStyles(fsBold | fsItalic));
    EXPECT_EQ(Text(l, "biu").Font.Style, TFontStyles(fsBold | fsItalic | fsUnderline));
    EXPECT_EQ(Text(l, "n").Font.Style, 0u);
    EXPECT_EQ(Text(l, "n").Font.Size, 8);
    EXPECT_EQ(Text(l, "m").Font.Size, 12);
    EXPECT_EQ(Text(l, "t").Font.Size, 20);
    EXPECT_EQ(Text(l, "t").Font.Name, "Serif");
    EXPECT_EQ(Text(l, "r").Color, clRed);
    EXPECT_EQ(Text(l, "g").Color, clLime);
    EXPECT_EQ(Text(l, "k").Color, clBlack);
    EXPECT_EQ(Text(l, "s").Font.Style, TFontStyles(fsStrikeOut));
    EXPECT_EQ(Text(l, "w").Angle, 45);
    // "&amp;" shows one ampersand; a bare one underlines the next character.
    const TDisplayItem& amp = Text(l, "&x");
    EXPECT_EQ(amp.Underlined, std::vector<size_t>{1});
    const int sizes[][2] = {{1, 8}, {2, 10}, {3, 12}, {4, 14}, {5, 16}, {6, 6}, {20, 20}, {0, 1}, {-4, 1}};
    for (const auto& s : sizes) EXPECT_EQ(FontSizeOfAttribute(s[0]), s[1]) << s[0];
}

TEST(UxHTMLLayout, AnchorsTheirBoxesAndColours) {
    TLayoutParams p;
    p.URLColor = clBlue;
    p.Hover = true;
    p.HoverAnchor = 1;
    p.HoverFontColor = clRed;
    p.HoverColor = clYellow;
    const TLayout l = Lay("<A HREF=\"one\">x</A> <A HREF=\"two\">long words</A>", 70, p);
    ASSERT_EQ(l.Anchors, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Text(l, "x").Color, clBlue);
    EXPECT_TRUE(Text(l, "x").Font.Style & fsUnderline);
    EXPECT_EQ(Text(l, "words").Color, clRed);
    // The second anchor runs over two lines: two boxes.
    ASSERT_EQ(l.Boxes.size(), 3u);
    EXPECT_EQ(l.AnchorAt(Point(5, 5)), 0);
    EXPECT_EQ(l.AnchorAt(Point(15, 5)), -1);   // the space between
    EXPECT_EQ(l.AnchorAt(Point(25, 5)), 1);
    EXPECT_EQ(l.AnchorAt(Point(5, 20)), 1);
    EXPECT_EQ(l.AnchorAt(Point(69, 20)), -1);
    EXPECT_EQ(l.BoxAt(Point(5, 20))->Hint, "two");
    const TLayout img = Lay("<A HREF=\"t\"><IMG SRC=\"pic\" ALT=\"A picture\"></A>");
    ASSERT_EQ(img.Boxes.size(), 1u);
    EXPECT_EQ(img.Boxes[0].Hint, "A picture");
}

TEST(UxHTMLLayout, BlinkingAndDisabledText) {
    TLayoutParams p;
    p.Background = clBtnFace;
    p.BlinkOn = false;
    EXPECT_EQ(Text(Lay("<BLINK>a</BLINK>b", 200, p), "a").Color, clBtnFace);
    EXPECT_EQ(Text(Lay("<BLINK>a</BLINK>b", 200, p), "b").Color, clBlack);
    p.BlinkOn = true;
    p.Enabled = false;
    EXPECT_EQ(Items(Lay("a", 200, p)), (std::vector<std::string>{"text 1,1 10x16 'a'", "text 0,0 10x16 'a'"}));
    EXPECT_EQ(Lay("a", 200, p).Items[0].Color, clWhite);
    EXPECT_EQ(Lay("a", 200, p).Items[1].Color, clGray);
}

TEST(UxHTMLLayout, ExtentAndCut) {
    const TLayout l = Lay("aaaa bb<BR>c");
    EXPECT_EQ(l.Width, 70);
    EXPECT_EQ(l.Height, 32);
    EXPECT_FALSE(l.Cut);
    EXPECT_TRUE(Lay("a<BR><BR><BR><BR><BR><BR><BR>b").Cut);   // 8 lines of 16 in 100
    EXPECT_EQ(Lay("a<Z>b</Z>c").PlainText, "abc");
}
