// Internal interface of the tone corrector: the engine state and the workers
// behind the exported calls. Not installed; callers use Zandolib.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zandolib {

using Curve = uint8_t[256];

// A band of near-neutral pixels: light (0), middle (1), dark (2).
inline constexpr int kBands = 3;

struct ToneCorrector {
    // Spline work values, set by SplineToCurve.
    int16_t splineLast;
    int16_t splineOrder;

    // Density histogram. Kept 64-bit: a few dozen photos overflow 32 bits.
    uint64_t histogram[256];

    // Final value-to-value curves, R, G, B.
    uint8_t finalCurve[3][256];

    // Fixed tables, refilled by PrepareReset.
    uint8_t satByDensity[256];
    uint8_t tolerance[256];
    uint8_t hueWeight[256];
    uint8_t weightR[256];
    uint8_t weightG[256];
    uint8_t weightB[256];
    uint8_t hueSaturation[256];
    uint8_t hueShift[256];
    uint8_t shaping[256];
    uint16_t rotateRecip[256];
    uint16_t hueRecip[256];

    // Colour-balance curves in the density domain, R, G, B.
    uint8_t balanceCurve[3][256];

    // Band summary: at 10*b the band luminance, then the clamped mean
    // densities of R, G and B.
    uint8_t summary[30];

    // Band sums, counts and the pixel total. 64-bit: one grey 24 MP photo
    // already overflows a 32-bit band sum.
    int64_t bandSum[kBands][3];
    int64_t bandCount[kBands];
    int64_t pixelTotal;

    uint32_t buildStamp;
    uint16_t mode;
};

// Statistics of one Prepare call, gathered locally and added once.
struct Accumulators {
    uint64_t histogram[256];
    int64_t bandSum[kBands][3];
    int64_t bandCount[kBands];
};

struct ControlPoint {
    int16_t x;
    int16_t y;
};

// --- tables (tables.cpp)
void ResetEngine(ToneCorrector& e);

// The largest hue tolerance of the fixed tables (floor(251 * 70 / 256)).
inline constexpr int kMaxTolerance = 68;

// Hue 0..255 of channel values a, b, c (R, G, B) whose largest is mx and
// smallest mn. Ties for the minimum go to a, then b. Written as selects, not
// branches: which channel is smallest is noise in near-grey areas.
inline int HueIndexOf(int a, int b, int c, int mx, int mn, const uint16_t* recip6) {
    const int t = recip6[mx - mn];
    const bool aMin = a == mn, bMin = b == mn;
    const int diff = aMin ? b - c : bMin ? c - a : a - b;
    const int base = aMin ? 128 : bMin ? 213 : 43;
    const int h = (base - ((diff * t) >> 8)) & 0xFF;
    return mx == mn ? 0 : h;
}

inline int Max3(int a, int b, int c) {
    const int m = a > b ? a : b;
    return m > c ? m : c;
}
inline int Min3(int a, int b, int c) {
    const int m = a < b ? a : b;
    return m < c ? m : c;
}

inline int HueIndex(int a, int b, int c, const uint16_t* recip6) {
    return HueIndexOf(a, b, c, Max3(a, b, c), Min3(a, b, c), recip6);
}

// --- analysis (analysis.cpp)
int32_t AnalyzeRGB(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                   int step);
int32_t AnalyzeBGR(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                   int step);
// Layout code: 3, 4, -3 or -4; 4 is A,R,G,B and the caller has already moved past the alpha byte.
int32_t AnalyzeMeshed(ToneCorrector& e, const uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                      int layout);
void MeasureBands(const ToneCorrector& e, uint8_t* summary);

// --- curves (curves.cpp)
// The levels control points as built: lo, lo', hi, hi' and the midtone shift.
struct LevelsPoints {
    int lo, loOut, hi, hiOut, shift;
};
LevelsPoints BuildCurves(ToneCorrector& e);
void BuildBalanceCurves(ToneCorrector& e);
LevelsPoints BuildLevelsCurve(ToneCorrector& e);
void ShiftCurve(int s, const uint8_t* weights, uint8_t* out);
void InvertCurve(uint8_t* curve);
void DrawCurveLine(uint8_t* curve, uint8_t x0, uint8_t x1, uint8_t y0, uint8_t y1);
void ComposeCurve(const uint8_t* src, uint8_t* dst);
void SplineToCurve(ToneCorrector& e, const ControlPoint* points, int n, uint8_t* out);
void FillCurveSegment(uint8_t* out, int a, int b, double y0, double y1);
extern const uint8_t kMidtoneWeight[256];

// --- correction (correction.cpp)
void AdjustStrength(ToneCorrector& e, int16_t s);
void BlendCurve(int16_t s, const uint8_t* target, uint8_t* out);
int RotateHue(int& r, int& g, int& b, int d, const uint16_t* recip);

// (delta << 16) / mx for 0 <= delta <= mx <= 255, mx > 0, without a divide:
// a 40-bit reciprocal is exact for every dividend below 2^24.
struct RatioTable {
    uint64_t magic[256];
    constexpr RatioTable() : magic{} {
        for (int d = 1; d < 256; ++d) magic[d] = (uint64_t{1} << 40) / static_cast<uint64_t>(d) + 1;
    }
};
inline constexpr RatioTable kRatio{};
inline int FixedRatio(int delta, int mx) {
    return static_cast<int>((static_cast<uint64_t>(delta) << 16) * kRatio.magic[mx] >> 40);
}
int32_t CorrectRGB(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                   int16_t width, int16_t height, int step);
int32_t CorrectBGR(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride,
                   int16_t width, int16_t height, int step);
int32_t CorrectInPlace(const ToneCorrector& e, uint8_t* buf, int32_t stride, int16_t width, int16_t height,
                       int layout);
int32_t CorrectCopy(const ToneCorrector& e, const uint8_t* src, uint8_t* dst, int32_t srcStride,
                    int32_t dstStride, int16_t width, int16_t height, int layout);

}  // namespace zandolib
