// Frames per second of each of the 30 transition effects at 1920 x 1080 on one core, beside
// ffmpeg's xfade on the same two pictures for the transitions it shares, and the time of a
// quarter turn of a 24-megapixel picture.
//   transitions_bench <data-dir>
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LuxProc.h"
#include "lxutils.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A photo-like picture: smooth colour ramps with some texture, different for each seed.
std::unique_ptr<TBitmap> MakePicture(int w, int h, int seed) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    uint32_t s = uint32_t(seed) * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int n = int(s >> 29);
            row[3 * x] = uint8_t((x * 255 / std::max(w - 1, 1) + seed * 80 + n) & 255);
            row[3 * x + 1] = uint8_t((y * 255 / std::max(h - 1, 1) + n) & 255);
            row[3 * x + 2] = uint8_t(((x + y) / 4 + seed * 40) & 255);
        }
    }
    return b;
}

void WritePpm(const TBitmap* b, const std::string& path) {
    std::ofstream f(path, std::ios::binary);
    f << "P6\n" << b->Width() << " " << b->Height() << "\n255\n";
    std::vector<char> row(size_t(b->Width()) * 3);
    for (int y = 0; y < b->Height(); ++y) {
        const uint8_t* s = b->ScanLine(y);
        for (int x = 0; x < b->Width(); ++x) {
            row[size_t(3 * x)] = char(s[3 * x + 2]);
            row[size_t(3 * x + 1)] = char(s[3 * x + 1]);
            row[size_t(3 * x + 2)] = char(s[3 * x]);
        }
        f.write(row.data(), std::streamsize(row.size()));
    }
}

const char* const EffectNames[] = {
    "None", "CrossDissolve", "FadeOut", "FadeIn", "FadeOutIn", "LeftRight1", "LeftRight2",
    "RightLeft1", "RightLeft2", "UpDown1", "UpDown2", "DownUp1", "DownUp2", "FromUpLeft",
    "FromUpRight", "FromBottomLeft", "FromBottomRight", "MoveLeftRight1", "MoveLeftRight2",
    "MoveRightLeft1", "MoveRightLeft2", "MoveUpDown1", "MoveUpDown2", "MoveDownUp1",
    "MoveDownUp2", "RandomPoints", "RandomBoxes", "Center1", "Center2", "CenterZoom1",
    "CenterZoom2"};

// The xfade transition that shows the same change.
const std::map<int, const char*> XfadeOf = {
    {lxttCrossDissolve, "fade"},     {lxttFadeOutIn, "fadeblack"},   {lxttLeftRight1, "wiperight"},
    {lxttRightLeft1, "wipeleft"},    {lxttUpDown1, "wipedown"},      {lxttDownUp1, "wipeup"},
    {lxttMoveLeftRight1, "slideright"}, {lxttMoveRightLeft1, "slideleft"},
    {lxttMoveUpDown1, "slidedown"},  {lxttMoveDownUp1, "slideup"},   {lxttCenter1, "circleopen"}};

double RunSeconds(const std::string& cmd) {
    const auto t0 = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double s = Ms(Clock::now() - t0) / 1000.0;
    return rc == 0 ? s : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);   // the engine's timer lives on this thread
    const std::string dir = argc > 1 ? argv[1] : ".";
    constexpr int W = 1920, H = 1080, Frames = 120;

    auto a = MakePicture(W, H, 1), b = MakePicture(W, H, 2);
    const std::string pa = dir + "/from.ppm", pb = dir + "/to.ppm";
    WritePpm(a.get(), pa);
    WritePpm(b.get(), pb);
    const bool haveFfmpeg = std::system("command -v ffmpeg >/dev/null 2>&1") == 0;

    // ffmpeg on one thread: the two pictures looped for D seconds at 25 frames per second,
    // all of it inside the transition. The base run decodes and converts the same frames
    // without the transition, so the difference is xfade's own work.
    constexpr int D = 4, Fps = 25;
    auto ffmpeg = [&](const std::string& graph) {
        const std::string cmd = "ffmpeg -hide_banner -nostats -loglevel error -threads 1 -filter_threads 1 "
                                "-filter_complex_threads 1 -loop 1 -framerate " + std::to_string(Fps) +
                                " -t " + std::to_string(D) + " -i " + pa + " -loop 1 -framerate " +
                                std::to_string(Fps) + " -t " + std::to_string(D) + " -i " + pb +
                                " -filter_complex \"" + graph + "\" -f null - </dev/null";
        return RunSeconds(cmd);
    };
    double ffBase = -1;
    if (haveFfmpeg)
        ffBase = ffmpeg("[1:v]format=gbrp,nullsink;[0:v]format=gbrp,format=bgr24");

    std::printf("Transition frame step at %d x %d, one core, %d frames from progress 0 to 1024\n", W, H, Frames);
    std::printf("%-3s %-16s %9s %9s %9s %9s | %-11s %10s %10s\n", "#", "effect", "mean ms", "median", "max ms", "fps",
                "xfade", "ffmpeg fps", "xfade fps");
    TLXTransitionEffects engine(nullptr);
    double worst = 0;
    for (int e = lxttCrossDissolve; e <= lxttCenterZoom2; ++e) {
        engine.SetSize(W, H);
        CopyBitmap(a.get(), engine.FromBitmap());
        CopyBitmap(b.get(), engine.ToBitmap());
        engine.TransitionEffect = TLXTransitionType(e);
        double total = 0, maxMs = 0;
        std::vector<double> times;
        for (int k = 0; k < Frames; ++k) {
            const int p = k * 1024 / (Frames - 1);
            const auto t0 = Clock::now();
            engine.DrawFrame(p);
            const double ms = Ms(Clock::now() - t0);
            times.push_back(ms);
            total += ms;
            maxMs = std::max(maxMs, ms);
        }
        std::sort(times.begin(), times.end());
        const double mean = total / Frames, median = times[times.size() / 2];
        worst = std::max(worst, median);
        std::printf("%-3d %-16s %9.3f %9.3f %9.3f %9.0f |", e, EffectNames[e], mean, median, maxMs, 1000.0 / mean);
        auto it = XfadeOf.find(e);
        if (it != XfadeOf.end() && haveFfmpeg) {
            const double s = ffmpeg("[0:v][1:v]xfade=transition=" + std::string(it->second) + ":duration=" +
                                    std::to_string(D) + ":offset=0,format=bgr24");
            const double frames = double(D * Fps);
            const double own = s - ffBase;
            std::printf(" %-11s %10.0f %10s\n", it->second, s > 0 ? frames / s : 0.0,
                        own > 0 ? std::to_string(int(frames / own)).c_str() : "-");
        } else {
            std::printf(" %-11s %10s %10s\n", it != XfadeOf.end() ? it->second : "", "", "");
        }
        std::fflush(stdout);
    }
    std::printf("slowest median frame: %.3f ms (target < 4 ms); fps = 1000 / mean\n", worst);
    if (haveFfmpeg)
        std::printf("ffmpeg fps: whole run (decode, convert, xfade) / %d frames; xfade fps: after taking off the "
                    "same run without xfade (%.2f s)\n",
                    D * Fps, ffBase);

    // Quarter turns of 24 megapixels.
    constexpr int RW = 6000, RH = 4000;
    auto big = MakePicture(RW, RH, 3);
    TBitmap out;
    auto best = [&](auto fn) {
        double m = 1e9;
        for (int i = 0; i < 3; ++i) {
            const auto t0 = Clock::now();
            fn();
            m = std::min(m, Ms(Clock::now() - t0));
        }
        return m;
    };
    const double ccw = best([&] { RotateBitmap90CCW(big.get(), &out); });
    const double cw = best([&] { RotateBitmap90CW(big.get(), &out); });
    TLuxProc proc(nullptr);
    proc.AutoUndo = false;
    proc.SetAttachedBitmap(big.get());
    const double whole = best([&] { proc.Rotate(90, false); });
    std::printf("\nQuarter turn of %d x %d (24 MP, 24-bit), best of 3 (target < 100 ms)\n", RW, RH);
    std::printf("  RotateBitmap90CCW           %8.1f ms\n", ccw);
    std::printf("  RotateBitmap90CW            %8.1f ms\n", cw);
    std::printf("  TLuxProc.Rotate(90) in place %7.1f ms (turn + copy back, no undo)\n", whole);
    if (std::system("command -v convert >/dev/null 2>&1") == 0) {
        const std::string pbig = dir + "/big.ppm", pout = dir + "/big-rot.ppm";
        WritePpm(big.get(), pbig);
        const double load = RunSeconds("convert " + pbig + " " + pout);
        const double rot = RunSeconds("convert " + pbig + " -rotate 90 " + pout);
        if (load > 0 && rot > 0)
            std::printf("  ImageMagick convert -rotate 90 %6.1f ms (its run minus the same run without "
                        "-rotate)\n",
                        (rot - load) * 1000.0);
        std::remove(pbig.c_str());
        std::remove(pout.c_str());
    }
    return 0;
}
