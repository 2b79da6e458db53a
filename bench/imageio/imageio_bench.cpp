// Decode and encode of one large photo through the I/O component (TLuxIO, by file name, as
// the viewer does) and our JPEG and PNG bridges, side by side with djpeg/cjpeg of the same
// libjpeg and with ImageMagick, in the same run. Prints the best of N wall times and the
// ratio ours / tool.
//
//   imageio_bench <photo.jpg> <photo.png> <photo.ppm> <scratch-dir> [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "jpegfilt.h"
#include "lxdefs.h"
#include "pngfilt.h"
#include "pngfiltw.h"

namespace {

double BestOf(int runs, const std::function<void()>& f) {
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

void Shell(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
}

void Row(const char* what, double ours, double tool, const char* toolName) {
    std::printf("%-14s ours %8.1f ms   %-22s %8.1f ms   ratio %.2f\n", what, ours * 1e3, toolName,
                tool * 1e3, ours / tool);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s photo.jpg photo.png photo.ppm scratch-dir [runs]\n", argv[0]);
        return 2;
    }
    const std::string jpg = argv[1], png = argv[2], ppm = argv[3], dir = argv[4];
    const int runs = argc > 5 ? std::atoi(argv[5]) : 5;
    // Program-lifetime objects (zero-initialised storage before construction).
    static TBitmap bmp;
    static TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    TLXIOParams& params = *io.Params();
    auto check = [&](const char* what) {
        if (io.Aborting) {
            std::fprintf(stderr, "%s failed\n", what);
            std::exit(1);
        }
    };

    // JPEG decode: the file into the bitmap, against djpeg writing a PPM.
    double tool = BestOf(runs, [&] { Shell("djpeg -dct int -outfile '" + dir + "/djpeg.ppm' '" + jpg + "'"); });
    double ours = BestOf(runs, [&] { io.LoadFromFile(jpg); });
    check("JPEG load");
    std::printf("%d x %d photo, best of %d runs\n", bmp.Width(), bmp.Height(), runs);
    Row("JPEG decode", ours, tool, "djpeg -ppm");
    // The bridge alone, without the component's frame.
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap direct;
    TLXIOParams directParams(nullptr);
    ours = BestOf(runs, [&] {
        TFileStream s(jpg, fmOpenRead);
        JpegDecodeStream(&s, &direct, directParams, false, rec);
    });
    Row("  bridge only", ours, tool, "djpeg -ppm");

    // JPEG decode at 1/8 (thumbnails).
    TBitmap thumb;
    directParams.JpegScale = 4;
    tool = BestOf(runs, [&] { Shell("djpeg -scale 1/8 -outfile '" + dir + "/djpeg8.ppm' '" + jpg + "'"); });
    ours = BestOf(runs, [&] {
        TFileStream s(jpg, fmOpenRead);
        JpegDecodeStream(&s, &thumb, directParams, false, rec);
    });
    Row("JPEG 1/8", ours, tool, "djpeg -scale 1/8");

    // JPEG encode: the bitmap into a file, against cjpeg reading a PPM.
    params.JpegQuality = 90;
    params.JpegColorSpace = 2;
    tool = BestOf(runs, [&] { Shell("cjpeg -quality 90 -outfile '" + dir + "/cjpeg.jpg' '" + ppm + "'"); });
    ours = BestOf(runs, [&] { io.SaveToFile(dir + "/ours.jpg"); });
    check("JPEG save");
    Row("JPEG encode", ours, tool, "cjpeg -quality 90");

    // PNG decode and encode against ImageMagick (zlib level 7, adaptive filters on both sides).
    tool = BestOf(runs, [&] { Shell("convert '" + png + "' '" + dir + "/im.ppm'"); });
    ours = BestOf(runs, [&] { io.LoadFromFile(png); });
    check("PNG load");
    Row("PNG decode", ours, tool, "convert png->ppm");

    params.PngCompression = 7;
    params.PngFilter = 5;   // the library's adaptive choice
    params.SamplesPerPixel = 3;
    params.BitsPerSample = 8;
    const int encodeRuns = std::min(runs, 2);   // seconds each
    tool = BestOf(encodeRuns, [&] { Shell("convert '" + ppm + "' -quality 75 '" + dir + "/im.png'"); });
    ours = BestOf(encodeRuns, [&] { io.SaveToFile(dir + "/ours.png"); });
    check("PNG save");
    Row("PNG encode", ours, tool, "convert ppm->png");
    return 0;
}
