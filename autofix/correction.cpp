// Strength adjustment and the per-pixel correction: curves, hue rotation,
// saturation spread.
#include <cstring>

#include "tone_corrector.h"
#include "simd.h"

namespace zandolib {

void BlendCurve(int16_t s, const uint8_t* target, uint8_t* out) {
    for (int i = 0; i < 256; ++i) {
        // The +127 is not sign-aware; the division truncates toward zero.
        int v = i + ((target[i] - i) * s + 127) / 255;
        out[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

void AdjustStrength(ToneCorrector& e, int16_t s) {
    for (int k = 0; k < 3; ++k) {
        uint8_t copy[256];
        std::memcpy(copy, e.finalCurve[k], 256);
        BlendCurve(s, copy, e.finalCurve[k]);
    }
}

// HSV rotation in 16.16 fixed point; returns the new hue on the 0..255 scale.
int RotateHue(int& r, int& g, int& b, int d, const uint16_t* recip) {
    const int mx = Max3(r, g, b), mn = Min3(r, g, b);
    const int delta = mx - mn;
    int h = 0, s = 0, v = 0;
    if (mx > 0) {
        v = mx;
        s = FixedRatio(delta, mx);
        if (s != 0) {
            if (r == mx)
                h = (g - b) * recip[delta];
            else if (g == mx)
                h = (b - r) * recip[delta] + 0x20000;
            else
                h = (r - g) * recip[delta] + 0x40000;
        }
    }
    h += d * 512;
    // |delta * recip[delta]| stays below 0x10100, so one wrap each way suffices.
    if (h < 0) h += 0x60000;
    if (h >= 0x60000) h -= 0x60000;
    if (s == 0 && h == 0) {
        r = g = b = v;
        return 0;
    }
    const int f = h & 0xFFFF;
    const int p = (v * (65536 - s)) >> 16;
    const int q = (v * (65536 - (s >> 8) * (f >> 8))) >> 16;
    const int t = (v * (65536 - (s >> 8) * ((65536 - f) >> 8))) >> 16;
    switch (h >> 16) {
        case 0: r = v; g = t; b = p; break;
        case 1: r = q; g = v; b = p; break;
        case 2: r = p; g = v; b = t; break;
        case 3: r = p; g = q; b = v; break;
        case 4: r = t; g = p; b = v; break;
        default: r = v; g = p; b = q; break;
    }
    return ((h >> 8) * 10922) >> 16;
}

namespace {

struct Rgb {
    int r, g, b;
};

inline Rgb CorrectPixel(const ToneCorrector& e, int r0, int g0, int b0) {
    int r = e.finalCurve[0][r0], g = e.finalCurve[1][g0], b = e.finalCurve[2][b0];
    int h = HueIndex(r, g, b, e.hueRecip);
    const int d = e.hueShift[h] - 128;
    if (d != 0) h = RotateHue(r, g, b, d, e.rotateRecip);
    const int sat = e.hueSaturation[h] - 128;

    const int dr = 255 - r, dg = 255 - g, db = 255 - b;
    const int m0 = Min3(dr, dg, db);
    int part[3] = {dr - m0, dg - m0, db - m0};
    const int level = (sat * e.satByDensity[m0]) >> 8;
    int m = m0;
    for (int c = 0; c < 3; ++c) {
        if (part[c] <= 0) continue;
        const int o = (level * e.shaping[part[c]]) >> 6;
        if (o > 0) {
            part[c] += o;
            m -= o >> 1;
        } else {
            m -= o;
        }
    }
    if (m < 0) m = 0;
    auto out = [m](int p) { return 255 - (p + m < 255 ? p + m : 255); };
    return {out(part[0]), out(part[1]), out(part[2])};
}

// One row, pixel by pixel. Runs of equal source pixels, common in flat
// areas, reuse the previous result.
template <int Step, int OffR, int OffG, int OffB>
void CorrectRow(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int width, int runtimeStep) {
    const int step = Step ? Step : runtimeStep;
    int lastR = -1, lastG = -1, lastB = -1;
    Rgb res{0, 0, 0};
    for (int x = 0; x < width; ++x, src += step, dst += step) {
        const int r = src[OffR], g = src[OffG], b = src[OffB];
        if (r != lastR || g != lastG || b != lastB) {
            res = CorrectPixel(e, r, g, b);
            lastR = r;
            lastG = g;
            lastB = b;
        }
        dst[OffR] = static_cast<uint8_t>(res.r);
        dst[OffG] = static_cast<uint8_t>(res.g);
        dst[OffB] = static_cast<uint8_t>(res.b);
    }
}

template <int OffR, int OffG, int OffB>
int32_t CorrectRows(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                    int16_t width, int16_t height, int step) {
    if (src == nullptr || dst == nullptr || width <= 0 || height <= 0 || step <= 0) return 0;
#if ZANDOLIB_HAVE_WIDE
    // The vector path computes the shaping table instead of reading it, so
    // it waits for the first PrepareReset (hueRecip[1] is 0 until then).
    const WideLevel level = (step == 3 || step == 4) && width >= 9 && e.hueRecip[1] != 0 ? ActiveWideLevel()
                                                                                       : WideLevel::None;
    const bool wide = level != WideLevel::None;
    WideTables t;
    if (wide) WidenTables(e, t);
#endif
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(y) * srcStride;
        uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dstStride;
        int done = 0;
#if ZANDOLIB_HAVE_WIDE
        if (wide) done = CorrectRowWide(level, t, s, d, width, step, OffR == 2);
#endif
        s += static_cast<ptrdiff_t>(done) * step;
        d += static_cast<ptrdiff_t>(done) * step;
        if (step == 3)
            CorrectRow<3, OffR, OffG, OffB>(e, s, d, width - done, step);
        else if (step == 4)
            CorrectRow<4, OffR, OffG, OffB>(e, s, d, width - done, step);
        else
            CorrectRow<0, OffR, OffG, OffB>(e, s, d, width - done, step);
    }
    return 0;
}

}  // namespace

int32_t CorrectRGB(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                   int16_t width, int16_t height, int step) {
    return CorrectRows<0, 1, 2>(e, src, dst, srcStride, dstStride, width, height, step);
}

int32_t CorrectBGR(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                   int16_t width, int16_t height, int step) {
    return CorrectRows<2, 1, 0>(e, src, dst, srcStride, dstStride, width, height, step);
}

int32_t CorrectCopy(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                    int16_t width, int16_t height, int layout) {
    return layout < 0 ? CorrectBGR(e, src, dst, srcStride, dstStride, width, height, -layout)
                      : CorrectRGB(e, src, dst, srcStride, dstStride, width, height, layout);
}

int32_t CorrectInPlace(const ToneCorrector& e, uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                       int layout) {
    return CorrectCopy(e, buf, buf, stride, stride, width, height, layout);
}

}  // namespace zandolib
