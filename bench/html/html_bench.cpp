// The help page (tests/saver/fixtures/help.html) in the help dialog's label size, 353 x 169:
// a full repaint by TUxHTMLText (layout and painting on every paint) beside a QLabel showing
// the same page as Qt rich text, what a Qt program would use. Both are widgets on one host
// window, repainted synchronously; a text change (the label's layout from scratch) too.
// Then hostile pages beside the help page: 8000 bare "&a" prefixes (16 KB, every character
// underlined) and the same four times over, so a cost that grows faster than the page shows;
// and the help page after 20000 or 100000 page-background tags.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "Forms.h"
#include "UxHTMLText.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double min, median, max;
};

Stats Time(int Runs, const std::function<void()>& f) {
    std::vector<double> t;
    f();   // warm up
    for (int i = 0; i < Runs; ++i) {
        const auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return {t.front(), t[t.size() / 2], t.back()};
}

std::string ReadFile(const char* Name) {
    std::ifstream in(Name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", Name);
        std::exit(1);
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    const std::string page = ReadFile(GD_SOURCE_DIR "/tests/saver/fixtures/help.html");
    const std::string prefixes = ReadFile(GD_SOURCE_DIR "/tests/saver/controls/fixtures/html_prefix_underlines_16KB.html");
    // Qt's rich text breaks lines only at <br>.
    QString qtPage = QString::fromStdString(page);
    qtPage.replace(QLatin1String("\n"), QLatin1String("<br>"));

    TForm form(nullptr);
    form.SetClientSize(367 * 2 + 24, 238);
    auto* html = new TUxHTMLText(&form);
    html->SetParent(&form);
    html->SetBounds(8, 8, 353, 169);
    html->SetUxHTMLText(page);
    auto* label = new QLabel(form.ClientWidget());
    label->setGeometry(16 + 353, 8, 353, 169);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(qtPage);
    form.Show();
    QApplication::processEvents();

    const Stats ours = Time(runs, [&] { html->Repaint(); });
    const Stats qt = Time(runs, [&] { label->repaint(); });
    bool flip = false;
    const std::string other = page + " ";
    const Stats oursNew = Time(runs, [&] {
        html->SetUxHTMLText((flip = !flip) ? other : page);
        html->Repaint();
    });
    const QString qtOther = qtPage + QLatin1Char(' ');
    const Stats qtNew = Time(runs, [&] {
        label->setText((flip = !flip) ? qtOther : qtPage);
        label->repaint();
    });

    std::printf("Help page in 353 x 169, %d runs each (ms: min / median / max; lower is better;\n"
                "speed-up = QLabel rich text / TUxHTMLText, by median)\n", runs);
    std::printf("%-16s %26s %26s %9s\n", "case", "TUxHTMLText", "QLabel rich text", "speed-up");
    auto row = [](const char* name, const Stats& a, const Stats& b) {
        std::printf("%-16s %8.3f / %7.3f / %7.3f %8.3f / %7.3f / %7.3f %8.2fx\n", name, a.min, a.median, a.max,
                    b.min, b.median, b.max, b.median / a.median);
    };
    row("repaint", ours, qt);
    row("new text", oursNew, qtNew);

    // The hostile pages beside the help page, TUxHTMLText alone. Then the help page after
    // thousands of <BODY BACKGROUND> tags naming one 8 x 8 picture: opaque, with holes (each
    // pixel clear or opaque), faint (every pixel a little opaque).
    char tmpl[] = "/tmp/html_bench_XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    auto picture = [&](const char* name, int (*alpha)(int, int)) {
        QImage img(8, 8, QImage::Format_ARGB32);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) img.setPixel(x, y, qRgba(40, 90, 200, alpha(x, y)));
        const std::string file = dir + "/" + name;
        img.save(QString::fromStdString(file), "PNG");
        return "<BODY BACKGROUND=\"file://" + file + "\">";
    };
    auto repeated = [&](const std::string& tag, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += tag;
        return r + page;
    };
    const std::string opaqueTag = picture("opaque.png", [](int, int) { return 255; });
    const std::string opaque20k = repeated(opaqueTag, 20000), opaque100k = repeated(opaqueTag, 100000);
    const std::string holes100k = repeated(picture("holes.png", [](int x, int y) { return (x + y) % 2 ? 255 : 0; }), 100000);
    const std::string faint100k = repeated(picture("faint.png", [](int x, int y) { return 20 + x * y; }), 100000);
    std::string prefixes4;
    for (int i = 0; i < 4; ++i) prefixes4 += prefixes;
    const struct {
        const char* name;
        const std::string* text;
    } pages[] = {{"help page", &page},         {"&a page 16 KB", &prefixes},   {"&a page 64 KB", &prefixes4},
                 {"20000 opaque", &opaque20k},  {"100000 opaque", &opaque100k}, {"100000 holes", &holes100k},
                 {"100000 faint", &faint100k}};
    const int hostileRuns = std::max(5, runs / 4);
    std::printf("\nHelp page beside the bare-prefix pages, TUxHTMLText in 353 x 169, %d runs each\n"
                "(ms: min / median / max; ratio = this page / the help page, by median)\n", hostileRuns);
    std::printf("%-16s %8s %26s %7s %26s %7s\n", "page", "bytes", "repaint", "ratio", "new text", "ratio");
    Stats base{}, baseNew{};
    for (const auto& pg : pages) {
        html->SetUxHTMLText(*pg.text);
        const Stats r = Time(hostileRuns, [&] { html->Repaint(); });
        const std::string changed = *pg.text + " ";
        const Stats n = Time(hostileRuns, [&] {
            html->SetUxHTMLText((flip = !flip) ? changed : *pg.text);
            html->Repaint();
        });
        if (pg.text == &page) {
            base = r;
            baseNew = n;
        }
        std::printf("%-16s %8zu %8.3f / %7.3f / %7.3f %6.1fx %8.3f / %7.3f / %7.3f %6.1fx\n", pg.name,
                    pg.text->size(), r.min, r.median, r.max, r.median / base.median, n.min, n.median, n.max,
                    n.median / baseNew.median);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
