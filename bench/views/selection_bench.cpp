// The image view's selection drawing at 1920 x 1080, beside what a Qt program would draw for
// the same marching ants with QPainter on a 32-bit image: one mouse move while a rectangle
// or a lasso is dragged (the picture put back under the old outline, the new one drawn) and
// one outline tick of a finished selection (the mask's border).
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "ExtCtrls.h"
#include "LuxView.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double min, median, max;
};

// Milliseconds of Runs calls of f(i), after one warm-up call.
Stats Time(int Runs, const std::function<void(int)>& f) {
    std::vector<double> t;
    f(0);
    for (int i = 1; i <= Runs; ++i) {
        const auto a = Clock::now();
        f(i);
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return {t.front(), t[t.size() / 2], t.back()};
}

void Send(TLuxView& V, QEvent::Type Type, QPoint P, Qt::MouseButton B, Qt::MouseButtons Held) {
    QWidget* w = V.ClientWidget();
    QMouseEvent e(Type, QPointF(P), w->mapToGlobal(QPointF(P)), B, Held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Row(const char* Name, Stats Ours, Stats Qt) {
    std::printf("%-34s %7.3f %7.3f %7.3f   %7.3f %7.3f %7.3f   %6.2fx\n", Name, Ours.min, Ours.median,
                Ours.max, Qt.min, Qt.median, Qt.max, Qt.median / Ours.median);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int W = 1920, H = 1080, runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 50;

    QWidget host;
    TLuxView view(nullptr);
    view.SetBorderStyle(bsNone);
    view.SetParentWindow(&host);
    view.SetBounds(0, 0, W, H);
    TBitmap* b = view.GetBitmap();
    b->SetPixelFormat(pf24bit);
    b->SetSize(W, H);
    QImage picture(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        uint8_t* row = b->ScanLine(y);
        auto* q = reinterpret_cast<uint32_t*>(picture.scanLine(y));
        for (int x = 0; x < W; ++x) {
            row[3 * x] = uint8_t(x * 7 + y);
            row[3 * x + 1] = uint8_t(x ^ y);
            row[3 * x + 2] = uint8_t(y * 3);
            q[x] = 0xFF000000u | uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
        }
    }
    view.Update();
    view.Repaint();
    QImage target = picture.copy();
    QPen ants(Qt::black, 1, Qt::CustomDashLine);
    ants.setDashPattern({3, 3});

    std::printf("Selection drawing at %dx%d, %d runs (ms: min median max; lower is better; speed-up = QPainter / TLuxView)\n",
                W, H, runs);
    std::printf("%-34s %23s   %23s   %7s\n", "", "TLuxView", "QPainter", "speed-up");

    // A dragged rectangle: each move rebuilds it; Qt puts the picture back under the old
    // outline's box and draws the new outline.
    view.SetMouseInteract(MI(miSelect));
    Send(view, QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton, Qt::LeftButton);
    const Stats dragOurs = Time(runs, [&](int i) {
        Send(view, QEvent::MouseMove, {1600 + i % 40, 900 + i % 25}, Qt::NoButton, Qt::LeftButton);
    });
    Send(view, QEvent::MouseButtonRelease, {1600, 900}, Qt::LeftButton, Qt::NoButton);
    QRect last(200, 150, 1400, 750);
    const Stats dragQt = Time(runs, [&](int i) {
        const QRect next(QPoint(200, 150), QPoint(1600 + i % 40, 900 + i % 25));
        QPainter p(&target);
        const QRect box = last.united(next).adjusted(-1, -1, 1, 1);
        p.drawImage(box.topLeft(), picture, box);
        p.setPen(ants);
        p.drawRect(next);
        last = next;
    });
    Row("rectangle drag, one move", dragOurs, dragQt);

    // The finished rectangle's outline: the mask's border, one timer tick.
    const Stats tickOurs = Time(runs, [&](int) { view.ViewTimer()->OnTimer(nullptr); });
    const Stats tickQt = Time(runs, [&](int i) {
        QPainter p(&target);
        ants.setDashOffset(i % 6);
        p.setPen(ants);
        p.drawRect(last);
    });
    Row("mask outline, one tick", tickOurs, tickQt);

    // A lasso of 2000 points (a wavy ring) outlined while it is drawn: the dashes along it.
    view.ClearSelection();
    view.SetMouseInteract(MI(miSelectLasso));
    QPolygon ring;
    for (int k = 0; k < 2000; ++k) {
        const double a = 6.283185307179586 * k / 2000;
        const double r = 400 + 60 * std::sin(a * 25);
        ring << QPoint(960 + int(r * std::cos(a) * 1.8), 540 + int(r * std::sin(a)));
    }
    Send(view, QEvent::MouseButtonPress, ring[0], Qt::LeftButton, Qt::LeftButton);
    for (const QPoint& p : ring) Send(view, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    const Stats lassoOurs = Time(runs, [&](int i) {
        // One more point on the spot: the whole outline is drawn again.
        Send(view, QEvent::MouseMove, ring[i % 2 ? 1 : 2], Qt::NoButton, Qt::LeftButton);
    });
    Send(view, QEvent::MouseButtonRelease, ring[0], Qt::LeftButton, Qt::NoButton);
    const QRect ringBox = ring.boundingRect().adjusted(-1, -1, 1, 1);
    const Stats lassoQt = Time(runs, [&](int) {
        QPainter p(&target);
        p.drawImage(ringBox.topLeft(), picture, ringBox);
        p.setPen(ants);
        p.drawPolyline(ring);
    });
    Row("lasso of 2000 points, one move", lassoOurs, lassoQt);
    return 0;
}
