// The image view's full repaint at 1920 x 1080: the nearest-neighbour render into the back
// buffer plus the copy onto the control's surface, beside what a Qt program would do for
// the same picture (QPainter::drawImage of the scaled picture onto a 32-bit image).
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "LuxView.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median milliseconds of Runs calls.
double MedianMs(int Runs, const std::function<void()>& f) {
    std::vector<double> t;
    f();   // warm up
    for (int i = 0; i < Runs; ++i) {
        const auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void Fill(TBitmap* b, int w, int h, QImage& q) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    q = QImage(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        uint8_t* qr = q.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const uint8_t bl = uint8_t(x * 7 + y), g = uint8_t(x ^ y), r = uint8_t(y * 3);
            row[3 * x] = bl;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
            qr[3 * x] = r;
            qr[3 * x + 1] = g;
            qr[3 * x + 2] = bl;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int W = 1920, H = 1080, runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 25;

    QWidget host;
    TLuxView view(nullptr);
    view.SetBorderStyle(bsNone);
    view.SetParentWindow(&host);
    view.SetBounds(0, 0, W, H);
    view.SetCenter(true);

    struct Case {
        const char* name;
        int bw, bh;
        double zoom;   // 0: fit
    };
    const Case cases[] = {
        {"1920x1080 at 100 %", 1920, 1080, 100},
        {"4000x3000 fitted", 4000, 3000, 0},
        {"6000x4000 fitted", 6000, 4000, 0},
        {"800x600 at 250 %", 800, 600, 250},
    };
    std::printf("View full repaint at %dx%d, median of %d runs (ms; lower is better; speed-up = QPainter / TLuxView)\n", W, H, runs);
    std::printf("%-22s %12s %14s %8s\n", "picture", "TLuxView", "QPainter", "speed-up");
    QImage target(W, H, QImage::Format_RGB32);
    for (const auto& c : cases) {
        QImage q;
        Fill(view.GetBitmap(), c.bw, c.bh, q);
        view.AutoFit = c.zoom == 0;
        if (c.zoom != 0) view.SetZoom(c.zoom);
        view.Update();
        const double ours = MedianMs(runs, [&] {
            view.Update();   // marks the back buffer dirty: a full render
            view.Paint();
        });
        // The same geometry for Qt: the visible source rectangle drawn to the same place.
        view.UpdateSourceRect();
        const QRect dst(view.OffsetX(), view.OffsetY(), view.DestWidth(), view.DestHeight());
        const QRect src(view.SrcX(), view.SrcY(), view.SrcWidth(), view.SrcHeight());
        const double qt = MedianMs(runs, [&] {
            QPainter p(&target);
            p.fillRect(0, 0, W, H, Qt::black);
            p.drawImage(dst, q, src);
        });
        TBitmap back;
        back.SetSize(W, H);
        const double render = MedianMs(runs, [&] { view.PaintToBitmap(&back, nullptr, nullptr); });
        std::printf("%-22s %12.2f %14.2f %7.2fx   (render alone %.2f)\n", c.name, ours, qt, qt / ours, render);
    }
    return 0;
}
