// Analysis: the density histogram and the near-neutral band sums.
#include <cstring>

#include "simd.h"
#include "tone_corrector.h"

namespace zandolib {

namespace {

// One pass over the rows. Channel offsets and pixel step are template
// arguments so the common layouts get a tight loop; Step 0 means "runtime".
template <int Step, int OffR, int OffG, int OffB>
void AnalyzeRows(const ToneCorrector& e, const uint8_t* buf, int32_t stride, int width, int height,
                 int runtimeStep, Accumulators& acc) {
    const int step = Step ? Step : runtimeStep;
    // Several histograms so that runs of one colour do not serialise on one counter.
    // 32 bits are enough here: one call sees at most 32767 * 32767 pixels.
    uint32_t hist[4][256];
    std::memset(hist, 0, sizeof hist);
    int64_t sums[kBands][3] = {};
    int64_t counts[kBands] = {};

    const uint8_t* wR = e.weightR;
    const uint8_t* wG = e.weightG;
    const uint8_t* wB = e.weightB;
#if ZANDOLIB_HAVE_WIDE
    // The vector form computes the density weights, so it waits for the
    // first PrepareReset (hueRecip[1] is 0 until then).
    const bool wide = (step == 3 || step == 4) && width >= 17 && e.hueRecip[1] != 0 &&
                      ActiveWideLevel() == WideLevel::Avx512;
    AnalysisTables wt;
    if (wide) WidenAnalysisTables(e, wt);
#endif
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = buf + static_cast<ptrdiff_t>(y) * stride;
        int x = 0;
#if ZANDOLIB_HAVE_WIDE
        if (wide) {
            x = AnalyzeRowAvx512(wt, p, width, step, OffR == 2, hist, sums, counts);
            p += static_cast<ptrdiff_t>(x) * step;
        }
#endif
        for (; x < width; ++x, p += step) {
            const int r = p[OffR], g = p[OffG], b = p[OffB];
            const int dr = 255 - r, dg = 255 - g, db = 255 - b;
            ++hist[x & 3][wR[dr] + wG[dg] + wB[db]];

            const int mx = Max3(r, g, b), mn = Min3(r, g, b);
            const int f = 255 - mx;     // smallest density
            const int delta = mx - mn;  // largest density minus f
            // All densities below f + tolerance is the same as delta < tolerance.
            if (static_cast<unsigned>(f - 10) > 235u || delta >= kMaxTolerance) continue;
            const int h = HueIndexOf(r, g, b, mx, mn, e.hueRecip);
            if (delta >= e.tolerance[h]) continue;
            const int w = e.hueWeight[h];
            const int band = (f >= 66) + (f >= 191);
            sums[band][0] += (dr * w) >> 8;
            sums[band][1] += (dg * w) >> 8;
            sums[band][2] += (db * w) >> 8;
            ++counts[band];
        }
    }

    for (int i = 0; i < 256; ++i)
        acc.histogram[i] += uint64_t{hist[0][i]} + hist[1][i] + hist[2][i] + hist[3][i];
    for (int b = 0; b < kBands; ++b) {
        for (int c = 0; c < 3; ++c) acc.bandSum[b][c] += sums[b][c];
        acc.bandCount[b] += counts[b];
    }
}

template <int OffR, int OffG, int OffB>
int32_t Analyze(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height, int step) {
    // Only pixels actually read count toward the total; a null buffer or an
    // empty size reads none.
    if (buf != nullptr && width > 0 && height > 0 && step > 0) {
        Accumulators acc{};
        if (step == 3)
            AnalyzeRows<3, OffR, OffG, OffB>(e, buf, stride, width, height, step, acc);
        else if (step == 4)
            AnalyzeRows<4, OffR, OffG, OffB>(e, buf, stride, width, height, step, acc);
        else
            AnalyzeRows<0, OffR, OffG, OffB>(e, buf, stride, width, height, step, acc);
        for (int i = 0; i < 256; ++i) e.histogram[i] += acc.histogram[i];
        for (int b = 0; b < kBands; ++b) {
            for (int c = 0; c < 3; ++c) e.bandSum[b][c] += acc.bandSum[b][c];
            e.bandCount[b] += acc.bandCount[b];
        }
        e.pixelTotal += static_cast<int64_t>(width) * height;
    }
    // The result is the low 32 bits of the running total.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(e.pixelTotal)));
}

}  // namespace

int32_t AnalyzeRGB(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                   int step) {
    return Analyze<0, 1, 2>(e, buf, stride, width, height, step);
}

int32_t AnalyzeBGR(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                   int step) {
    return Analyze<2, 1, 0>(e, buf, stride, width, height, step);
}

int32_t AnalyzeMeshed(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                      int layout) {
    return layout < 0 ? AnalyzeBGR(e, buf, stride, width, height, -layout)
                      : AnalyzeRGB(e, buf, stride, width, height, layout);
}

void MeasureBands(const ToneCorrector& e, uint8_t* summary) {
    static constexpr int kDefault[kBands] = {33, 128, 222};
    for (int b = 0; b < kBands; ++b) {
        int mean[3];
        int lum;
        if (e.bandCount[b] > 0) {
            // Every weighted density is at most 252, so the means index the tables safely.
            for (int c = 0; c < 3; ++c) {
                const int64_t m = e.bandSum[b][c] / e.bandCount[b];
                mean[c] = m < 0 ? 0 : m > 255 ? 255 : static_cast<int>(m);
            }
            lum = e.weightR[mean[0]] + e.weightG[mean[1]] + e.weightB[mean[2]];
        } else {
            lum = kDefault[b];
            mean[0] = mean[1] = mean[2] = kDefault[b];
        }
        summary[10 * b] = static_cast<uint8_t>(lum);
        for (int c = 0; c < 3; ++c) {
            int m = mean[c];
            if (m < lum - 30) m = lum - 30;
            if (m > lum + 30) m = lum + 30;
            summary[10 * b + 1 + c] = static_cast<uint8_t>(m);
        }
    }
}

}  // namespace zandolib
