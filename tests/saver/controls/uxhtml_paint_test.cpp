// The label's painter: the prefix rule's underlines where Qt's measure of each start of the
// text puts them, at a cost that grows with the text and not with its square, and pages too
// long or too wide for the label showing just what their start shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <cstring>
#include <fstream>

#include "Forms.h"
#include "TestDir.h"
#include "UxHTMLMarkup.h"
#include "UxHTMLPaint.h"
#include "UxHTMLText.h"

namespace {

const std::string kFixtures = GD_SOURCE_DIR "/tests/saver/controls/fixtures/";

std::string ReadFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// What the painter once did for each underlined character: measure the text before it and
// the text up to its end, each on its own (a cost of the square of the text).
std::vector<std::pair<int, int>> SpansOneByOne(const QFontMetrics& fm, const std::string& text,
                                               const std::vector<size_t>& underlined) {
    std::vector<std::pair<int, int>> out;
    for (size_t at : underlined) {
        size_t end = at + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        out.emplace_back(fm.horizontalAdvance(QString::fromStdString(text.substr(0, at))),
                         fm.horizontalAdvance(QString::fromStdString(text.substr(0, end))));
    }
    return out;
}

// The label in the help dialog's size, painted; its surface's rows.
std::vector<std::string> Painted(const std::string& page) {
    TForm form(nullptr);
    form.SetClientSize(367, 238);
    auto* html = new TUxHTMLText(&form);
    html->SetParent(&form);
    html->SetBounds(8, 8, 353, 169);
    html->SetColor(clWhite);
    html->SetUxHTMLText(page);
    form.Show();
    QApplication::processEvents();
    html->Repaint();
    TBitmap* s = html->Surface();
    std::vector<std::string> rows;
    for (int y = 0; y < s->Height(); ++y)
        rows.emplace_back(reinterpret_cast<const char*>(s->ScanLine(y)), size_t(s->Width()) * 4);
    return rows;
}

int Inked(const std::vector<std::string>& rows) {
    int n = 0;
    for (const std::string& r : rows)
        for (size_t x = 0; x + 4 <= r.size(); x += 4) n += std::memcmp(r.data() + x, "\xFF\xFF\xFF", 3) != 0;
    return n;
}

}  // namespace

TEST(UxHTMLPaint, UnderlinesSitWhereEachStartOfTheTextEnds) {
    std::string run;
    for (int i = 0; i < 200; ++i) run += "&a";
    const char* texts[] = {
        "&File &Edit &View",
        "A&V&A&V &To&ward W&AV&E &T&o &Y&o &L&T",   // kerning pairs across the cuts
        "f&i&f&l o&ffice &f&f&i &fi",              // ligatures across the cuts
        "\u00DC&ber &\u00C4rger \u00E9&\u00E9 Gr\u00FC&\u00DFe",
        "n&\u0303x a&\u0301\u0302b",                // combining marks after the cut
        "\u6F22&\u5B57&\u304B&\u306A",              // from a fallback font
        "&\U0001F600&x &\U0001F600\U0001F600",      // surrogate pairs
        "a&&b &&&x &&",                             // "&&" shows one "&" and underlines nothing
        "tail&",
        run.c_str(),
    };
    const struct {
        const char* family;
        int size;
        bool bold, italic;
    } fonts[] = {{"DejaVu Sans", 9, false, false},
                 {"DejaVu Serif", 14, true, false},
                 {"Nimbus Roman", 12, false, true},
                 {"", 8, false, false}};
    for (const auto& f : fonts) {
        QFont font = f.family[0] ? QFont(QString::fromLatin1(f.family)) : QApplication::font();
        font.setPointSize(f.size);
        font.setBold(f.bold);
        font.setItalic(f.italic);
        const QFontMetrics fm(font);
        for (const char* t : texts) {
            SCOPED_TRACE(std::string(f.family) + " " + std::to_string(f.size) + ": " + t);
            std::vector<size_t> underlined;
            const std::string text = uxhtml::StripPrefix(t, &underlined);
            EXPECT_EQ(uxhtml::UnderlineSpans(fm, text, underlined), SpansOneByOne(fm, text, underlined));
        }
    }
    // Offsets past the text (a copied item) give empty spans and no error.
    const QFontMetrics fm(QApplication::font());
    EXPECT_EQ(uxhtml::UnderlineSpans(fm, "ab", {5, 1}), (std::vector<std::pair<int, int>>{{0, 0}, SpansOneByOne(fm, "ab", {1})[0]}));
}

TEST(UxHTMLPaint, UnderliningCostsTheLengthOfTheTextNotItsSquare) {
    // A measure that counts what it is given: 7 pixels per UTF-16 unit.
    int64_t measured = 0;
    const uxhtml::TAdvance count = [&](const QString& s) {
        measured += s.size();
        return 7.0 * double(s.size());
    };
    std::string same, distinct;
    for (int i = 0; i < 8000; ++i) same += "&a";   // the hostile page: 8000 bare prefixes
    for (int i = 0; i < 3000; ++i) {
        distinct += '&';
        distinct += QString(QChar(0x4E00 + i)).toStdString();
    }
    for (const std::string* page : {&same, &distinct}) {
        std::vector<size_t> underlined;
        const std::string text = uxhtml::StripPrefix(*page, &underlined);
        const int64_t units = QString::fromStdString(text).size();
        measured = 0;
        const auto spans = uxhtml::UnderlineSpans(count, text, underlined);
        ASSERT_EQ(spans.size(), size_t(units));
        for (size_t i = 0; i < spans.size(); ++i)
            ASSERT_EQ(spans[i], std::make_pair(7 * int(i), 7 * int(i + 1))) << i;
        // One by one, the starts alone would be units * units / 2.
        EXPECT_LE(measured, 40 * units) << units;
    }
}

TEST(UxHTMLPaint, APageShowsWhatItsStartShows) {
    // 8000 bare "&a": one run far wider than the label, every character underlined. Its
    // first 200 pairs fill the label as wide: the label shows the same.
    const std::string prefixes = ReadFile(kFixtures + "html_prefix_underlines_16KB.html");
    ASSERT_EQ(prefixes.size(), 16000u);
    const auto whole = Painted(prefixes);
    EXPECT_GT(Inked(whole), 353 * 5);
    EXPECT_EQ(whole, Painted(prefixes.substr(0, 400)));
    // The help page many times over, beside twice: what lies below the label draws nothing.
    const std::string help = ReadFile(GD_SOURCE_DIR "/tests/saver/fixtures/help.html");
    std::string many;
    for (int i = 0; i < 300; ++i) many += help;
    const auto two = Painted(help + help);
    EXPECT_GT(Inked(two), 1000);
    EXPECT_EQ(Painted(many), two);
}

namespace {

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

std::string Body(const std::string& src) { return "<BODY BACKGROUND=\"" + src + "\">"; }

// A 7 x 5 picture saved as PNG: Alpha(x, y) gives each pixel's alpha over a fixed colour.
std::string SavePng(const std::string& file, QRgb colour, int (*Alpha)(int, int)) {
    QImage img(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) img.setPixel(x, y, qRgba(qRed(colour), qGreen(colour), qBlue(colour), Alpha(x, y)));
    EXPECT_TRUE(img.save(QString::fromStdString(file), "PNG"));
    return "file://" + file;
}

}  // namespace

// A page has one background: however many tags set it, the page shows the last colour given
// and, over it, the last picture given after that colour.
TEST(UxHTMLPaint, ManyBackgroundsShowWhatTheOnesSeenShow) {
    TestDir dir;
    const std::string opaque = "file://" + kFixtures + "still.bmp";
    const std::string holes = SavePng(dir.File("holes.png"), qRgb(200, 0, 0), [](int x, int y) { return (x + y) % 3 ? 255 : 0; });
    const std::string bars = SavePng(dir.File("bars.png"), qRgb(0, 0, 200), [](int x, int) { return x % 2 ? 0 : 255; });
    const std::string faint = SavePng(dir.File("faint.png"), qRgb(0, 150, 0), [](int x, int y) { return 1 + 9 * x + y; });
    const std::string text = "<FONT COLOR=\"#00FF00\">text</FONT> over it";
    struct Case {
        const char* what;
        std::string many, seen;
    } cases[] = {
        {"an opaque picture again and again", Repeat(Body(opaque), 3000), Body(opaque)},
        {"colours, pictures, then one opaque picture",
         Repeat("<BODY BGCOLOR=\"clred\">" + Body(holes) + Body(faint), 500) + Body(opaque) + text,
         Body(opaque) + text},
        {"a picture with holes over a colour", "<BODY BGCOLOR=\"#0000FF\">" + Repeat(Body(holes), 3000) + text,
         "<BODY BGCOLOR=\"#0000FF\">" + Body(holes) + text},
        {"two such pictures in turn", Body(opaque) + Repeat(Body(holes) + Body(bars), 1500), Body(bars)},
        {"a faint picture again and again", Repeat(Body(faint), 3000) + text, Body(faint) + text},
        {"a faint picture over a colour", "<BODY BGCOLOR=\"clred\">" + Repeat(Body(faint), 3000) + text,
         "<BODY BGCOLOR=\"clred\">" + Body(faint) + text},
    };
    for (const Case& c : cases) EXPECT_EQ(Painted(c.many), Painted(c.seen)) << c.what;
    EXPECT_NE(Painted(Body(holes)), Painted(Body(bars)));
    EXPECT_NE(Painted(Body(faint)), Painted("<BODY BGCOLOR=\"clred\">" + Body(faint)));
}
