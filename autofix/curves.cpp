// Curve construction: colour balance, levels with midtone shift, and the
// order-4 B-spline that turns control points into 256-entry tables.
#include <cmath>
#include <cstring>

#include "tone_corrector.h"

namespace zandolib {

namespace {

constexpr int kMaxPoints = 8;

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

int SplineKnot(int j, int last) {
    if (j < 4) return 0;
    if (j <= last) return j - 3;
    return last - 2;
}

// Cox-de Boor recursion; terms with a zero denominator are left out.
double SplineBasis(int i, int k, double t, int last) {
    const int ui = SplineKnot(i, last);
    if (k == 1) return (ui <= t && t < SplineKnot(i + 1, last)) ? 1.0 : 0.0;
    double total = 0.0;
    const int den1 = SplineKnot(i + k - 1, last) - ui;
    if (den1 != 0) total = total + (t - ui) * SplineBasis(i, k - 1, t, last) / den1;
    const int uik = SplineKnot(i + k, last);
    const int den2 = uik - SplineKnot(i + 1, last);
    if (den2 != 0) total = total + (uik - t) * SplineBasis(i + 1, k - 1, t, last) / den2;
    return total;
}

struct SplineSample {
    double x, y;
};

SplineSample SplinePoint(const ToneCorrector& e, const double* xs, const double* ys, double t) {
    const int last = e.splineLast;
    SplineSample s{0.0, 0.0};
    for (int i = 0; i <= last; ++i) {
        // The half-open intervals leave every basis at zero at the very end; the
        // last point takes it whole so the curve ends on it.
        const double b = (i == last && t == last - 2) ? 1.0 : SplineBasis(i, e.splineOrder, t, last);
        s.x = s.x + b * xs[i];
        s.y = s.y + b * ys[i];
    }
    return s;
}

uint8_t CurveByte(double y) {
    const double v = std::trunc(y / 257.0 + 0.5);
    if (v < 0.0) return 0;
    if (v > 255.0) return 255;
    return static_cast<uint8_t>(v);
}

}  // namespace

void FillCurveSegment(uint8_t* out, int a, int b, double y0, double y1) {
    // Samples lie in [0, 255] by construction; keep rounding slips inside the table.
    a = Clamp(a, 0, 255);
    b = Clamp(b, 0, 255);
    if (a == b) {
        out[a] = CurveByte(y0);
        return;
    }
    const double slope = (y1 - y0) / (b - a);
    double y = y0;
    for (int x = a; x <= b; ++x) {
        out[x] = CurveByte(y);
        y = y + slope;
    }
}

void SplineToCurve(ToneCorrector& e, const ControlPoint* points, int n, uint8_t* out) {
    if (n < 4 || n > kMaxPoints) return;
    e.splineLast = static_cast<int16_t>(n - 1);
    e.splineOrder = 4;
    double xs[kMaxPoints];
    double ys[kMaxPoints];
    for (int i = 0; i < n; ++i) {
        xs[i] = points[i].x;
        // Held in the byte range before scaling, so a stray negative value
        // cannot wrap into the top of the 16-bit range.
        ys[i] = static_cast<uint16_t>(Clamp(points[i].y, 0, 255) * 257);
    }
    const double step = (n - 3) / 32.0;
    double t = 0.0;
    SplineSample prev{0.0, 0.0};
    for (int j = 0; j < 33; ++j) {
        const SplineSample s = SplinePoint(e, xs, ys, t);
        if (j > 0)
            FillCurveSegment(out, static_cast<int>(std::trunc(prev.x + 0.5)), static_cast<int>(std::trunc(s.x + 0.5)),
                             prev.y, s.y);
        prev = s;
        t = t + step;
    }
}

void DrawCurveLine(uint8_t* curve, uint8_t x0, uint8_t x1, uint8_t y0, uint8_t y1) {
    const int dx = x1 - x0, dy = y1 - y0;
    const int sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const int n = adx > ady ? adx : ady;
    int x = x0, y = y0, ex = 0, ey = 0;
    // n + 1 steps move x exactly |dx| times and y |dy| times, so both stay
    // between their end values.
    for (int k = 0; k <= n; ++k) {
        ex += adx;
        ey += ady;
        bool moved = false;
        if (ex > n) {
            ex -= n;
            x += sx;
            moved = true;
        }
        if (ey > n) {
            ey -= n;
            y += sy;
            moved = true;
        }
        if (moved) curve[static_cast<uint8_t>(x)] = static_cast<uint8_t>(y);
    }
    curve[x0] = y0;
}

void InvertCurve(uint8_t* curve) {
    uint8_t copy[256];
    std::memcpy(copy, curve, 256);
    int prev = 0;
    for (int i = 1; i < 256; ++i) {
        const int y = copy[i] > prev ? copy[i] : prev;
        DrawCurveLine(curve, static_cast<uint8_t>(prev), static_cast<uint8_t>(y), static_cast<uint8_t>(i - 1),
                      static_cast<uint8_t>(i));
        prev = y;
    }
    DrawCurveLine(curve, static_cast<uint8_t>(prev), 255, 255, 255);
}

void ShiftCurve(int s, const uint8_t* weights, uint8_t* out) {
    const int a = s < 0 ? -s : s;
    for (int i = 0; i < 256; ++i) out[i] = static_cast<uint8_t>(Clamp(i + ((weights[i] * a + 64) >> 7), 0, 255));
    if (s < 0) InvertCurve(out);
}

void ComposeCurve(const uint8_t* src, uint8_t* dst) {
    uint8_t copy[256];
    std::memcpy(copy, dst, 256);
    for (int i = 0; i < 256; ++i) dst[i] = src[copy[i]];
}

void BuildBalanceCurves(ToneCorrector& e) {
    const int64_t n = e.pixelTotal / 500;
    MeasureBands(e, e.summary);
    const uint8_t* sm = e.summary;
    const int l0 = sm[0], l1 = sm[10], l2 = sm[20];
    const int64_t c0 = e.bandCount[0], c2 = e.bandCount[2];
    for (int k = 0; k < 3; ++k) {
        const int m0 = sm[1 + k], m1 = sm[11 + k], m2 = sm[21 + k];
        ControlPoint p[5];
        p[0] = {0, 0};
        // A thin band (at most one pixel in 500) is pulled toward a point on
        // the line through the middle point, weighted by count / n. The pull
        // is only taken when 0 < count <= n, so n >= 1 there.
        if (c0 > n) {
            p[1] = {static_cast<int16_t>(m0), static_cast<int16_t>(l0)};
        } else if (c0 > 0) {
            const int a = (l1 * 33) / m1;
            p[1] = {static_cast<int16_t>(33 + (m0 - 33) * c0 / n), static_cast<int16_t>(a + (l0 - a) * c0 / n)};
        } else {
            p[1] = {33, static_cast<int16_t>((l1 * 33) / m1)};
        }
        p[2] = {static_cast<int16_t>(m1), static_cast<int16_t>(l1)};
        if (c2 > n) {
            p[3] = {static_cast<int16_t>(m2), static_cast<int16_t>(l2)};
        } else if (c2 > 0) {
            const int a = 255 - ((255 - l1) * 33) / (255 - m1);
            p[3] = {static_cast<int16_t>(222 + (m2 - 222) * c2 / n), static_cast<int16_t>(a + (l2 - a) * c2 / n)};
        } else {
            p[3] = {222, static_cast<int16_t>(255 - ((255 - l1) * 33) / (255 - m1))};
        }
        p[4] = {255, 255};
        SplineToCurve(e, p, 5, e.balanceCurve[k]);
    }
}

LevelsPoints BuildLevelsCurve(ToneCorrector& e) {
    const uint64_t* h = e.histogram;
    uint64_t total = 0;
    for (int i = 0; i < 256; ++i) total += h[i];

    // Clip points: 6/256 of the pixels at the light end, 4/256 at the dark end.
    uint64_t limit = (total * 6) >> 8;
    uint64_t acc = 0;
    int lo = 0;
    while (lo < 256 && acc < limit) acc += h[lo++];
    lo = Clamp(lo, 10, 250);
    limit = (total * 4) >> 8;
    acc = 0;
    int added = 0;
    while (added < 256 && acc < limit) acc += h[255 - added++];
    int hi = Clamp(255 - added, 30, 250);

    const int shift = Clamp((128 - (lo + ((hi - lo) >> 1))) * 40 / 100, -64, 64);
    uint8_t mid[256];
    ShiftCurve(shift, kMidtoneWeight, mid);

    // A narrow histogram gets a window of 150 around its centre.
    if (hi - lo < 150) {
        const int c = lo + ((hi - lo) >> 1);
        const int top = c + 75, bot = c - 75;
        const int over = top > 255 ? 255 - top : 0;
        const int under = bot < 0 ? bot : 0;
        lo = Clamp(bot + over, 0, 255);
        hi = Clamp(top + under, 0, 255);
    }

    int loOut = lo - (((lo - 13) * 80) >> 7);
    if (loOut < 13) loOut = 13;
    if (loOut > lo) loOut = lo;
    int hiOut = hi + (((242 - hi) * 80) >> 7);
    if (hiOut < hi) hiOut = hi;
    if (hiOut > 242) hiOut = 242;

    if (lo < hi) {
        if (hi - lo < 70) {
            const int e2 = (70 - (hi - lo)) >> 1;
            lo -= e2;
            hi += e2;
        }
    } else if (lo - hi < 70) {
        const int e2 = (70 - (lo - hi)) >> 1;
        lo += e2;
        hi -= e2;
    }
    // lo < hi and lo >= hi are every case, so the clamp always applies.
    lo = Clamp(lo, 10, 250);
    hi = Clamp(hi, 30, 250);

    const ControlPoint pts[6] = {{0, 0},
                                 {static_cast<int16_t>(lo), static_cast<int16_t>(loOut)},
                                 {static_cast<int16_t>(lo), static_cast<int16_t>(loOut)},
                                 {static_cast<int16_t>(hi), static_cast<int16_t>(hiOut)},
                                 {static_cast<int16_t>(hi), static_cast<int16_t>(hiOut)},
                                 {255, 255}};
    uint8_t levels[256];
    std::memset(levels, 0, sizeof levels);
    SplineToCurve(e, pts, 6, levels);

    // Midtone shift first, then the levels.
    ComposeCurve(levels, mid);
    for (int k = 0; k < 3; ++k) {
        const uint8_t* bal = e.balanceCurve[k];
        for (int v = 0; v < 256; ++v) e.finalCurve[k][v] = static_cast<uint8_t>(255 - mid[bal[255 - v]]);
    }
    return {lo, loOut, hi, hiOut, shift};
}

LevelsPoints BuildCurves(ToneCorrector& e) {
    for (int i = 0; i < 4; ++i) {
        e.histogram[i] = 0;
        e.histogram[252 + i] = 0;
    }
    BuildBalanceCurves(e);
    return BuildLevelsCurve(e);
}

}  // namespace zandolib
