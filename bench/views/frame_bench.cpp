// One cross-dissolve frame of the show, built and put on the view's surface, beside a
// memcpy of the same frame bytes in the same process, at 1920 x 1080 and 3840 x 2160: the
// frame step against the plain cost of moving its bytes once. Min / median / max over the
// frames of a whole transition; the ratio is taken frame by frame.
//   frame_bench [frames]
#include <QApplication>
#include <QWidget>

#include <cstring>
#include <memory>
#include <vector>

#include "../bench_util.h"
#include "LuxView.h"
#include "LuxProc.h"
#if __has_include("lxpixels.h")
#include "lxpixels.h"
#define HAVE_PIXEL_PATHS 1
#endif

using namespace bench;

namespace {

void Fill(TBitmap* b, uint32_t seed) {
    uint32_t s = seed * 2654435761u + 1;
    for (int y = 0; y < b->Height(); ++y) {
        uint8_t* r = b->ScanLine(y);
        for (int x = 0; x < b->Width() * 3; ++x) {
            s = s * 1664525u + 1013904223u;
            r[x] = uint8_t((x / 7 + y / 3 + (s >> 29)) & 255);
        }
    }
}

void Measure(TLuxView& view, int W, int H, int frames, const char* label) {
    TLXTransitionEffects* fx = view.TransitionEffects();
    fx->SetSize(W, H);
    Fill(fx->FromBitmap(), 1);
    Fill(fx->ToBitmap(), 2);
    fx->TransitionEffect = lxttCrossDissolve;
    const size_t n = size_t(W) * H * 3;
    std::vector<uint8_t> a(n, 1), b(n, 2);
    std::vector<double> build, whole, copy;
    for (int k = 0; k < frames; ++k) {
        const int p = k * 1024 / std::max(frames - 1, 1);
        const double t1 = TimeMs([&] { fx->DrawFrame(p); });
        const double t2 = TimeMs([&] { fx->OnPresentFrame(fx->FrameBitmap(), W, H); });
        const double t3 = TimeMs([&] { std::memcpy(b.data(), a.data(), n); });
        build.push_back(t1);
        whole.push_back(t1 + t2);
        copy.push_back(t3);
    }
    std::printf("%s\n", label);
    PrintRow("blend (frame built)", Summary(build), "ms");
    PrintRow("blend + copy onto the 32-bit surface", Summary(whole), "ms");
    PrintRow("memcpy of the frame's bytes", Summary(copy), "ms");
    PrintRow("ratio blend / memcpy", Summary(Ratios(build, copy)), "x");
    PrintRow("ratio blend + surface / memcpy", Summary(Ratios(whole, copy)), "x");
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
    struct Size { int w, h; };
    for (const Size sz : {Size{1920, 1080}, Size{3840, 2160}}) {
        QWidget window;
        window.setGeometry(0, 0, sz.w, sz.h);
        TLuxView view(nullptr);
        view.SetBorderStyle(bsNone);
        view.SetAlign(alClient);
        view.SetParentWindow(&window);
        view.Show();
        window.show();
        QApplication::processEvents();
        char label[128];
#ifdef HAVE_PIXEL_PATHS
        for (int path = int(LXBestPixelPath()); path >= 0; --path) {
            LXForcePixelPathForTesting(path);
            const char* names[] = {"scalar", "AVX2", "AVX-512"};
            std::snprintf(label, sizeof label, "cross-dissolve frame %d x %d, %s path, %d frames", sz.w, sz.h,
                          names[path], frames);
            Measure(view, sz.w, sz.h, frames, label);
        }
        LXForcePixelPathForTesting(-1);
#else
        std::snprintf(label, sizeof label, "cross-dissolve frame %d x %d, %d frames", sz.w, sz.h, frames);
        Measure(view, sz.w, sz.h, frames, label);
#endif
    }
    std::printf("target: blend + surface within 2 x the memcpy\n");
    return 0;
}
