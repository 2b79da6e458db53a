// Times Zandolib's analysis (Prepare) and correction (Apply) on one synthetic
// 24-megapixel photo in each of the four layouts, single-threaded.
//
// usage: autofix_bench [--size WxH] [--reps N] [--write-ppm FILE]
// Prints one line per layout, then a machine-readable summary line
// "rgb_job_seconds S" (reset + prepare + complete + apply, RGB) and the
// picture size, used by run_bench.sh for the ratio against ImageMagick.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Zandolib.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A photo-like scene: smooth light falling across coloured regions, some
// texture and sensor noise, so that runs of equal pixels are rare.
std::vector<uint8_t> MakeScene(int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    uint32_t s = 0x9e3779b9u;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            // Luminance noise plus a little per-channel (chroma) noise, as from a camera.
            const int noise = static_cast<int>(s % 9) - 4;
            const int nr = static_cast<int>((s >> 8) % 5) - 2, nb = static_cast<int>((s >> 16) % 5) - 2;
            const int light = 40 + (160 * x) / w + (40 * y) / h;
            const int region = ((x / 700) + (y / 500)) % 4;
            const int tex = ((x * 7 + y * 3) % 23) - 11;
            int r = light + noise + nr + tex, g = light + noise, b = light + noise + nb - tex;
            switch (region) {
                case 0: r += 30; b -= 25; break;    // warm
                case 1: b += 35; r -= 20; break;    // sky
                case 2: g += 25; r -= 10; break;    // foliage
                default: break;                     // grey
            }
            auto c = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = c(r);
            p[1] = c(g);
            p[2] = c(b);
        }
    }
    return rgb;
}

struct Layout {
    const char* name;
    int step;
    int offR, offG, offB;  // of the colour bytes within a pixel
    int32_t (*prepare)(const uint8_t*, int32_t, int16_t, int16_t);
    int32_t (*apply)(uint8_t*, int32_t, int16_t, int16_t);
    int32_t (*apply2)(const uint8_t*, uint8_t*, int32_t, int32_t, int16_t, int16_t);
};

const Layout kLayouts[] = {
    {"RGB", 3, 0, 1, 2, PrepareRGBMeshed, ApplyRGBMeshed, ApplyRGBMeshed2},
    {"BGR", 3, 2, 1, 0, PrepareBGRMeshed, ApplyBGRMeshed, ApplyBGRMeshed2},
    {"ARGB", 4, 1, 2, 3, PrepareAlphaRGBMeshed, ApplyAlphaRGBMeshed, ApplyAlphaRGBMeshed2},
    {"BGRA", 4, 2, 1, 0, PrepareBGRAlphaMeshed, ApplyBGRAlphaMeshed, ApplyBGRAlphaMeshed2},
};

}  // namespace

int main(int argc, char** argv) {
    int w = 6000, h = 4000, reps = 3;
    const char* ppm = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 1 || h < 1 || w > 32767 || h > 32767) {
                std::fprintf(stderr, "bad --size\n");
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--reps") && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
            if (reps < 1) reps = 1;
        } else if (!std::strcmp(argv[i], "--write-ppm") && i + 1 < argc) {
            ppm = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--size WxH] [--reps N] [--write-ppm FILE]\n", argv[0]);
            return 2;
        }
    }
    const double mp = static_cast<double>(w) * h / 1e6;
    const std::vector<uint8_t> scene = MakeScene(w, h);

    if (ppm) {
        FILE* f = std::fopen(ppm, "wb");
        if (!f) {
            std::perror(ppm);
            return 1;
        }
        std::fprintf(f, "P6\n%d %d\n255\n", w, h);
        const bool ok = std::fwrite(scene.data(), 1, scene.size(), f) == scene.size();
        if (std::fclose(f) != 0 || !ok) {
            std::fprintf(stderr, "cannot write %s\n", ppm);
            return 1;
        }
    }

    std::printf("Zandolib on %dx%d (%.1f MP), one thread, best of %d\n", w, h, mp, reps);
    std::printf("%-5s %12s %12s %12s %12s\n", "", "analyse", "complete", "apply", "apply 2-buf");
    double rgbJob = 0;
    for (const Layout& L : kLayouts) {
        const size_t stride = static_cast<size_t>(w) * L.step;
        std::vector<uint8_t> buf(stride * h, 0xFF), work(buf.size()), dst;
        for (size_t p = 0; p < static_cast<size_t>(w) * h; ++p) {
            buf[p * L.step + L.offR] = scene[p * 3];
            buf[p * L.step + L.offG] = scene[p * 3 + 1];
            buf[p * L.step + L.offB] = scene[p * 3 + 2];
        }
        dst = buf;  // same alpha bytes as the in-place copy, so the results compare whole
        double tPrep = 1e30, tComp = 1e30, tApply = 1e30, tApply2 = 1e30;
        for (int r = 0; r < reps; ++r) {
            auto t0 = Clock::now();
            PrepareReset();
            L.prepare(buf.data(), static_cast<int32_t>(stride), static_cast<int16_t>(w), static_cast<int16_t>(h));
            auto t1 = Clock::now();
            PrepareComplete();
            auto t2 = Clock::now();
            std::memcpy(work.data(), buf.data(), buf.size());
            auto t3 = Clock::now();
            L.apply(work.data(), static_cast<int32_t>(stride), static_cast<int16_t>(w), static_cast<int16_t>(h));
            auto t4 = Clock::now();
            L.apply2(buf.data(), dst.data(), static_cast<int32_t>(stride), static_cast<int32_t>(stride),
                     static_cast<int16_t>(w), static_cast<int16_t>(h));
            auto t5 = Clock::now();
            tPrep = std::min(tPrep, Seconds(t0, t1));
            tComp = std::min(tComp, Seconds(t1, t2));
            tApply = std::min(tApply, Seconds(t3, t4));
            tApply2 = std::min(tApply2, Seconds(t4, t5));
        }
        if (std::memcmp(work.data(), dst.data(), work.size()) != 0) {
            std::fprintf(stderr, "%s: in-place and two-buffer results differ\n", L.name);
            return 1;
        }
        std::printf("%-5s %7.0f MP/s %9.3f ms %7.0f MP/s %7.0f MP/s\n", L.name, mp / tPrep, tComp * 1e3, mp / tApply,
                    mp / tApply2);
        if (L.step == 3 && L.offR == 0) rgbJob = tPrep + tComp + tApply;
    }
    std::printf("megapixels %.6f\n", mp);
    std::printf("rgb_job_seconds %.6f\n", rgbJob);
    return 0;
}
