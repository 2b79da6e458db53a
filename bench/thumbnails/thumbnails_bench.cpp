// The thumbnail view's fill, as a user meets it: a fresh process puts every photo of a folder
// into a view of 100 x 100 thumbnails (each JPEG decoded at the largest scale that still
// covers the cell, resampled, stored in the image store) and paints the grid once.
//   thumbnails_bench make DIR COUNT [DISTINCT]   writes COUNT 4000 x 3000 photos
//   thumbnails_bench fill DIR                    the measured run
#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Graphics.h"
#include "LuxIO.h"
#include "LuxMView.h"

namespace fs = std::filesystem;

namespace {

// A photo-like 4000 x 3000 picture: smooth shapes with a little grain.
void MakePhoto(TBitmap& b, int seed) {
    const int w = 4000, h = 3000;
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    std::mt19937 rng{unsigned(seed)};
    std::uniform_int_distribution<int> grain(-12, 12);
    const double fx = 0.002 + seed * 0.0003, fy = 0.003 + seed * 0.0002;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const double v = std::sin(x * fx) * std::cos(y * fy);
            const int r = int(128 + 90 * v) + grain(rng);
            const int g = int(100 + 60 * std::sin((x + y) * 0.001 + seed)) + grain(rng);
            const int bl = int(80 + 70 * std::cos(y * 0.002 - x * 0.001)) + grain(rng);
            row[3 * x] = uint8_t(std::clamp(bl, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(g, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(r, 0, 255));
        }
    }
}

int Make(const fs::path& dir, int count, int distinct) {
    fs::create_directories(dir);
    std::vector<fs::path> originals;
    for (int i = 0; i < std::min(count, distinct); ++i) {
        TBitmap b;
        MakePhoto(b, i);
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&b);
        io.Params()->JpegQuality = 92;
        char name[32];
        std::snprintf(name, sizeof name, "photo%04d.jpg", i);
        io.SaveToFile((dir / name).string());
        if (io.Aborting) return 1;
        originals.push_back(dir / name);
    }
    for (int i = int(originals.size()); i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%04d.jpg", i);
        fs::copy_file(originals[size_t(i) % originals.size()], dir / name, fs::copy_options::overwrite_existing);
    }
    return 0;
}

int Fill(const fs::path& dir) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".jpg") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    QWidget host;
    TLuxMView view(nullptr);
    view.SetBorderStyle(bsNone);
    view.SetParentWindow(&host);
    view.SetBounds(0, 0, 1000, 800);
    view.StoreType = lxtThumb;
    view.SetGridWidth(-1);
    view.SetScrollBars(ssVertical);
    view.LockPaint();
    for (const std::string& f : files) view.AppendImage(f);
    int loaded = 0;
    for (int i = 0; i < view.ImageCount(); ++i) loaded += view.LoadEntryImage(i) && view.Entry(i)->Image;
    view.UnlockPaint();
    view.PaintTo(view.Canvas());   // the first paint of the grid
    if (loaded != int(files.size())) {
        std::fprintf(stderr, "only %d of %zu photos stored\n", loaded, files.size());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && argc >= 4) return Make(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 10);
    if (cmd == "fill" && argc >= 3) return Fill(argv[2]);
    std::fprintf(stderr, "usage: %s make DIR COUNT [DISTINCT] | fill DIR\n", argv[0]);
    return 2;
}
