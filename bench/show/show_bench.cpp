// The photo change of the show at 1920 x 1080: from the photo timer's tick (prepare the
// transition, decode the JPEG, fit it, start the crossfade) to the first frame on screen, for
// 12- and 24-megapixel photos; and the mean frame time during a one-second crossfade. Beside
// it, what an image viewer built on Qt would do for the same photo change: QImageReader decode
// plus a smooth scale to the screen.
//   show_bench            (offscreen, or the real window when QT_QPA_PLATFORM is xcb)
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <memory>

#include "LuxImage.h"
#include "LuxProc.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A photo-like JPEG (ramps with texture) at quality 90, written by Qt's JPEG plugin.
QByteArray MakeJpeg(int w, int h, int seed) {
    QImage img(w, h, QImage::Format_RGB888);
    uint32_t s = uint32_t(seed) * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int n = int(s >> 28);
            row[3 * x] = uchar((x * 255 / w + seed * 70 + n) & 255);
            row[3 * x + 1] = uchar((y * 255 / h + n) & 255);
            row[3 * x + 2] = uchar(((x + y) / 8 + seed * 30) & 255);
        }
    }
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    QImageWriter wr(&buf, "jpeg");
    wr.setQuality(90);
    wr.write(img);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget window;
    window.setGeometry(0, 0, 1920, 1080);
    TLuxImage pic(nullptr);
    pic.SetBorderStyle(bsNone);
    pic.SetCenter(true);
    pic.SetAutoUndo(false);
    pic.SetAlign(alClient);
    pic.SetParentWindow(&window);
    pic.Show();
    window.show();
    QApplication::processEvents();

    struct Size { const char* name; int w, h; };
    const Size sizes[] = {{"12 MP", 4000, 3000}, {"24 MP", 6000, 4000}};
    std::printf("photo change at 1920x1080 (%s)\n", qPrintable(QApplication::platformName()));
    std::printf("%-6s %14s %16s %8s %14s\n", "photo", "tick->frame ms", "Qt decode+scale", "ratio",
                "frame ms");
    int seed = 0;
    for (const Size& sz : sizes) {
        const QByteArray jpeg = MakeJpeg(sz.w, sz.h, ++seed);
        const int rounds = 3;
        double firstFrame = 0, qtMs = 0, frameMs = 0;
        for (int r = 0; r < rounds; ++r) {
            TMemoryStream ms;
            ms.WriteBuffer(jpeg.constData(), jpeg.size());
            ms.Seek(0, soBeginning);
            const auto t0 = Clock::now();
            pic.PrepareTransition();
            pic.LockPaint();
            pic.LoadFromStream(&ms);
            pic.AutoFit = true;
            pic.Update();
            pic.RunTransition(lxttCrossDissolve, 1000);
            pic.UnlockPaint();
            TLXTransitionEffects* fx = pic.TransitionEffects();
            while (fx->FrameCount() < 1 && pic.TransitionRunning()) QApplication::processEvents();
            const auto t1 = Clock::now();
            firstFrame += Ms(t1 - t0);
            const int startFrames = fx->FrameCount();
            while (pic.TransitionRunning()) QApplication::processEvents();
            const auto t2 = Clock::now();
            const int frames = fx->FrameCount() - startFrames;
            frameMs += frames > 0 ? Ms(t2 - t1) / frames : 0;

            QBuffer buf;
            buf.setData(jpeg);
            buf.open(QIODevice::ReadOnly);
            const auto q0 = Clock::now();
            QImageReader rd(&buf, "jpeg");
            const QImage img = rd.read();
            const QImage scaled = img.scaled(1920, 1080, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            qtMs += Ms(Clock::now() - q0);
            if (scaled.isNull()) std::printf("Qt decode failed\n");
        }
        firstFrame /= rounds;
        qtMs /= rounds;
        frameMs /= rounds;
        std::printf("%-6s %14.1f %16.1f %8.2f %14.2f\n", sz.name, firstFrame, qtMs,
                    qtMs > 0 ? firstFrame / qtMs : 0.0, frameMs);
    }
    std::printf("targets: tick->first frame under 150 ms for 24 MP, frame time under 16 ms\n");
    return 0;
}
