// Tests of the tone corrector's internals: the worked examples, the curve
// helpers, and the statistics that outgrow 32 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "simd.h"
#include "tone_corrector.h"

namespace zandolib {
namespace {

struct Px {
    int r, g, b;
};

class AutofixEngine : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(e()); }
    ToneCorrector& e() { return *engine_; }

    void Analyze(const std::vector<Px>& pixels) {
        std::vector<uint8_t> buf;
        for (const Px& p : pixels) buf.insert(buf.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
        AnalyzeMeshed(e(), buf.data(), static_cast<int32_t>(buf.size()), static_cast<int16_t>(pixels.size()), 1, 3);
    }

    std::unique_ptr<ToneCorrector> engine_ = std::make_unique<ToneCorrector>();
};

// --- analysis ---------------------------------------------------------------

struct AnalysisCase {
    Px px;
    int bin;
    int hue;
    int band;  // -1: in no band
    int weighted;  // weighted density added to each sum of the band (grey only)
};

class AutofixAnalysisExamples : public AutofixEngine, public ::testing::WithParamInterface<AnalysisCase> {};

TEST_P(AutofixAnalysisExamples, BinHueAndBand) {
    const AnalysisCase& c = GetParam();
    EXPECT_EQ(HueIndex(c.px.r, c.px.g, c.px.b, e().hueRecip), c.hue);
    Analyze({c.px});
    for (int i = 0; i < 256; ++i) EXPECT_EQ(e().histogram[i], i == c.bin ? 1u : 0u) << "bin " << i;
    for (int b = 0; b < kBands; ++b) {
        EXPECT_EQ(e().bandCount[b], b == c.band ? 1 : 0) << "band " << b;
        if (b == c.band && c.weighted >= 0) {
            for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(e().bandSum[b][ch], c.weighted);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AutofixWorkedExamples, AutofixAnalysisExamples,
                         ::testing::Values(AnalysisCase{{128, 128, 128}, 125, 0, 1, 113},
                                           AnalysisCase{{255, 255, 255}, 0, 0, -1, -1},
                                           AnalysisCase{{0, 0, 0}, 255, 0, -1, -1},
                                           AnalysisCase{{255, 0, 0}, 170, 255, -1, -1},
                                           AnalysisCase{{0, 255, 0}, 113, 87, -1, -1},
                                           AnalysisCase{{0, 0, 255}, 227, 170, -1, -1},
                                           AnalysisCase{{255, 255, 0}, 28, 43, -1, -1},
                                           // f = 55 and dB = 205 is not below 55 + 60.
                                           AnalysisCase{{200, 100, 50}, 125, 15, -1, -1},
                                           // f = 10 and f = 245 are the inclusive ends of the band test.
                                           AnalysisCase{{245, 245, 245}, 9, 0, 0, 8},
                                           AnalysisCase{{10, 10, 10}, 242, 0, 2, 218},
                                           AnalysisCase{{246, 246, 246}, 6, 0, -1, -1},
                                           AnalysisCase{{9, 9, 9}, 243, 0, -1, -1},
                                           // Band edges at f = 66 and f = 191.
                                           AnalysisCase{{190, 190, 190}, 64, 0, 0, 57},
                                           AnalysisCase{{189, 189, 189}, 64, 0, 1, 58},
                                           AnalysisCase{{65, 65, 65}, 188, 0, 1, 169},
                                           AnalysisCase{{64, 64, 64}, 188, 0, 2, 170},
                                           // Hue 171 has tolerance 67: a spread of 66 is in, 67 is out.
                                           AnalysisCase{{100, 100, 166}, 145, 171, 1, -1},
                                           AnalysisCase{{100, 100, 167}, 145, 171, -1, -1}));

TEST_F(AutofixEngine, HueTiesGoToTheEarlierChannel) {
    // When two channels share the minimum, a's rule wins over b's, b's over c's.
    EXPECT_EQ(HueIndex(50, 50, 200, e().hueRecip), (128 - (((50 - 200) * e().hueRecip[150]) >> 8)) & 255);
    EXPECT_EQ(HueIndex(50, 200, 50, e().hueRecip), (128 - (((200 - 50) * e().hueRecip[150]) >> 8)) & 255);
    EXPECT_EQ(HueIndex(200, 50, 50, e().hueRecip), (213 - (((50 - 200) * e().hueRecip[150]) >> 8)) & 255);
}

TEST_F(AutofixEngine, ToleranceNeverExceedsTheAnalysisShortcut) {
    for (int h = 0; h < 256; ++h) {
        EXPECT_LE(e().tolerance[h], kMaxTolerance);
        EXPECT_GE(e().tolerance[h], 35);
    }
    // The density weights sum to at most 255 for every triple.
    EXPECT_EQ(e().weightR[255] + e().weightG[255] + e().weightB[255], 255);
    EXPECT_EQ(e().weightB[254], 27);
}

TEST_F(AutofixEngine, MeasureBandsMeansDefaultsAndClamp) {
    Analyze(std::vector<Px>(7, {128, 128, 128}));
    uint8_t s[30] = {};
    MeasureBands(e(), s);
    EXPECT_EQ(s[0], 33);
    EXPECT_EQ(s[1], 33);
    EXPECT_EQ(s[10], 111);
    EXPECT_EQ(s[11], 113);
    EXPECT_EQ(s[13], 113);
    EXPECT_EQ(s[20], 222);
    EXPECT_EQ(s[23], 222);

    // L comes from the unclamped means; then each mean is held within L +- 30.
    ResetEngine(e());
    e().bandCount[1] = 1;
    e().bandSum[1][0] = 200;
    e().bandSum[1][1] = 100;
    e().bandSum[1][2] = 70;
    MeasureBands(e(), s);
    const int lum = e().weightR[200] + e().weightG[100] + e().weightB[70];
    EXPECT_EQ(s[10], lum);
    EXPECT_EQ(s[11], lum + 30);
    EXPECT_EQ(s[12], 100);
    EXPECT_EQ(s[13], lum - 30);
}

// --- curves -----------------------------------------------------------------

TEST_F(AutofixEngine, NoPixelsGiveIdentityBalanceAndDefaultLevels) {
    const LevelsPoints lv = BuildCurves(e());
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i) ASSERT_EQ(e().balanceCurve[k][i], i) << "channel " << k;
    EXPECT_EQ(lv.lo, 10);
    EXPECT_EQ(lv.loOut, 10);
    EXPECT_EQ(lv.hi, 250);
    EXPECT_EQ(lv.hiOut, 242);
    EXPECT_EQ(lv.shift, 0);
    const uint8_t start[10] = {0, 3, 5, 6, 9, 10, 12, 13, 15, 16};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(0, std::memcmp(e().finalCurve[k], start, 10));
        EXPECT_EQ(e().finalCurve[k][255], 255);
    }
}

struct LevelsCase {
    const char* name;
    Px grey;
    LevelsPoints want;
};

class AutofixLevelsExamples : public AutofixEngine, public ::testing::WithParamInterface<LevelsCase> {};

TEST_P(AutofixLevelsExamples, UniformImage) {
    const LevelsCase& c = GetParam();
    Analyze(std::vector<Px>(1000, c.grey));
    const LevelsPoints lv = BuildCurves(e());
    EXPECT_EQ(lv.lo, c.want.lo);
    EXPECT_EQ(lv.loOut, c.want.loOut);
    EXPECT_EQ(lv.hi, c.want.hi);
    EXPECT_EQ(lv.hiOut, c.want.hiOut);
    EXPECT_EQ(lv.shift, c.want.shift);
}

INSTANTIATE_TEST_SUITE_P(
    AutofixWorkedExamples, AutofixLevelsExamples,
    ::testing::Values(
        // All pixels in bin 249: the window moves to [105, 255]; the final
        // clamp always applies, so hi ends at 250, not 255.
        LevelsCase{"dark_grey_3", {3, 3, 3}, {105, 48, 250, 242, -48}},
        // All in bin 125: lo = 126, hi = 124, window 150 around 125.
        LevelsCase{"grey_128", {128, 128, 128}, {50, 27, 200, 226, 1}},
        // Bright: bins below 4 are cleared, nothing left, defaults apply.
        LevelsCase{"white", {255, 255, 255}, {10, 10, 250, 242, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AutofixCurveHelpers, ShiftCurveIdentityBoundAndInverse) {
    uint8_t c0[256], up[256], down[256];
    ShiftCurve(0, kMidtoneWeight, c0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(c0[i], i);

    ShiftCurve(64, kMidtoneWeight, up);
    int most = 0;
    for (int i = 0; i < 256; ++i) most = std::max(most, up[i] - i);
    EXPECT_EQ(most, 38);

    ShiftCurve(20, kMidtoneWeight, up);
    ShiftCurve(-20, kMidtoneWeight, down);
    EXPECT_EQ(down[0], 0);
    EXPECT_EQ(down[255], 255);
    // The inverse maps every output of the forward curve back to the last
    // input that produced it.
    for (int i = 0; i < 256; ++i) {
        int lastInput = i;
        while (lastInput < 255 && up[lastInput + 1] == up[i]) ++lastInput;
        EXPECT_EQ(down[up[i]], lastInput) << "i=" << i;
        EXPECT_LE(down[i], i);
    }
}

TEST(AutofixCurveHelpers, DrawCurveLineWritesStartLast) {
    uint8_t c[256];
    std::memset(c, 0xAA, sizeof c);
    DrawCurveLine(c, 10, 14, 100, 102);
    const uint8_t want[] = {100, 100, 101, 101, 102};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(c[10 + i], want[i]) << i;
    EXPECT_EQ(c[9], 0xAA);
    EXPECT_EQ(c[15], 0xAA);

    // A vertical run rewrites one entry; the start value is written last.
    std::memset(c, 0xAA, sizeof c);
    DrawCurveLine(c, 50, 50, 10, 20);
    EXPECT_EQ(c[50], 10);
    EXPECT_EQ(c[49], 0xAA);
    EXPECT_EQ(c[51], 0xAA);
}

TEST(AutofixCurveHelpers, FillCurveSegmentRoundsAndLaterWins) {
    uint8_t c[256] = {};
    FillCurveSegment(c, 0, 2, 0.0, 2.0 * 257);
    EXPECT_EQ(c[0], 0);
    EXPECT_EQ(c[1], 1);
    EXPECT_EQ(c[2], 2);
    FillCurveSegment(c, 2, 2, 9.0 * 257, 0.0);
    EXPECT_EQ(c[2], 9);
    // Half rounds up: 128.5 * 257 / 257 + 0.5 truncates to 129.
    FillCurveSegment(c, 5, 5, 128.5 * 257, 0.0);
    EXPECT_EQ(c[5], 129);
    // Reversed ends write nothing.
    FillCurveSegment(c, 20, 10, 0.0, 0.0);
    EXPECT_EQ(c[15], 0);
}

TEST_F(AutofixEngine, SplineThroughIdentityPointsIsIdentity) {
    const ControlPoint p[5] = {{0, 0}, {33, 33}, {128, 128}, {222, 222}, {255, 255}};
    uint8_t c[256];
    SplineToCurve(e(), p, 5, c);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(c[i], i);
    EXPECT_EQ(e().splineLast, 4);
    EXPECT_EQ(e().splineOrder, 4);
}

TEST_F(AutofixEngine, SplineHoldsNegativeControlYAtZero) {
    // A control y below 0 must not wrap into the top of the 16-bit range.
    const ControlPoint neg[5] = {{0, 0}, {33, 40}, {128, 120}, {222, -20}, {255, 255}};
    const ControlPoint zero[5] = {{0, 0}, {33, 40}, {128, 120}, {222, 0}, {255, 255}};
    uint8_t a[256], b[256];
    SplineToCurve(e(), neg, 5, a);
    SplineToCurve(e(), zero, 5, b);
    EXPECT_EQ(0, std::memcmp(a, b, 256));
}

TEST(AutofixAdjust, BlendCurveTruncatesTowardZero) {
    uint8_t target[256], out[256];
    for (int i = 0; i < 256; ++i) target[i] = static_cast<uint8_t>(i);
    target[100] = 99;   // diff -1
    target[101] = 99;   // diff -2
    target[102] = 103;  // diff +1
    target[0] = 5;
    BlendCurve(255, target, out);
    EXPECT_EQ(out[100], 100);
    EXPECT_EQ(out[101], 100);
    EXPECT_EQ(out[102], 103);
    EXPECT_EQ(out[0], 5);
    BlendCurve(0, target, out);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(out[i], i);
    // A negative strength turns the correction around; the +127 is not
    // sign-aware, so a rise of 1 truncates to no change.
    BlendCurve(-255, target, out);
    EXPECT_EQ(out[0], 0);  // 0 + (-1148 / 255) = -4, clamped
    EXPECT_EQ(out[101], 103);  // 101 + (637 / 255)
    EXPECT_EQ(out[102], 102);
    BlendCurve(32767, target, out);  // amplified and clamped
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[101], 0);
    EXPECT_EQ(out[102], 230);
}

// --- correction -------------------------------------------------------------

TEST(AutofixCorrection, FixedRatioIsExactDivision) {
    for (int mx = 1; mx < 256; ++mx)
        for (int delta = 0; delta <= mx; ++delta) ASSERT_EQ(FixedRatio(delta, mx), (delta << 16) / mx) << delta << "/" << mx;
}

TEST_F(AutofixEngine, RotateHueKeepsGreyAndStaysInRange) {
    for (int v = 0; v < 256; v += 17) {
        for (int d = -15; d <= 15; ++d) {
            int r = v, g = v, b = v;
            const int h = RotateHue(r, g, b, d, e().rotateRecip);
            EXPECT_EQ(r, v);
            EXPECT_EQ(g, v);
            EXPECT_EQ(b, v);
            EXPECT_GE(h, 0);
            EXPECT_LE(h, 255);
        }
    }
    // Every colour and every shift of the table gives channels and a hue in range.
    for (int r0 = 0; r0 < 256; r0 += 5)
        for (int g0 = 0; g0 < 256; g0 += 7)
            for (int b0 = 0; b0 < 256; b0 += 11)
                for (int d : {-15, 9}) {
                    int r = r0, g = g0, b = b0;
                    const int h = RotateHue(r, g, b, d, e().rotateRecip);
                    ASSERT_TRUE(r >= 0 && r <= 255 && g >= 0 && g <= 255 && b >= 0 && b <= 255 && h >= 0 && h <= 255);
                }
}

struct PixelCase {
    Px in, out;
};

TEST_F(AutofixEngine, IdentityCurvePixels) {
    BuildCurves(e());
    AdjustStrength(e(), 0);
    const PixelCase cases[] = {{{255, 0, 0}, {255, 11, 0}},    {{200, 100, 50}, {200, 107, 50}},
                               {{0, 0, 255}, {0, 27, 255}},    {{120, 130, 140}, {118, 133, 146}},
                               {{0, 0, 0}, {0, 0, 0}},         {{255, 255, 255}, {255, 255, 255}},
                               {{77, 77, 77}, {77, 77, 77}}};
    for (const PixelCase& c : cases) {
        uint8_t px[3] = {uint8_t(c.in.r), uint8_t(c.in.g), uint8_t(c.in.b)};
        EXPECT_EQ(CorrectInPlace(e(), px, 3, 1, 1, 3), 0);
        EXPECT_EQ(px[0], c.out.r) << c.in.r << "," << c.in.g << "," << c.in.b;
        EXPECT_EQ(px[1], c.out.g) << c.in.r << "," << c.in.g << "," << c.in.b;
        EXPECT_EQ(px[2], c.out.b) << c.in.r << "," << c.in.g << "," << c.in.b;
    }
    // Every grey keeps its value.
    for (int v = 0; v < 256; ++v) {
        uint8_t px[3] = {uint8_t(v), uint8_t(v), uint8_t(v)};
        CorrectInPlace(e(), px, 3, 1, 1, 3);
        ASSERT_TRUE(px[0] == v && px[1] == v && px[2] == v) << v;
    }
}

// --- statistics beyond 32 bits ---------------------------------------------

TEST_F(AutofixEngine, BandSumsBeyond32BitsKeepTheirMeans) {
    // 70 calls of 32767 x 10 grey pixels: about 23 M middle-band pixels, each
    // adding 113, far past 2^31 in every band sum.
    const int w = 32767, h = 10;
    std::vector<uint8_t> grey(size_t(w) * 3 * h, 128);
    int32_t total = 0;
    for (int i = 0; i < 70; ++i) total = AnalyzeMeshed(e(), grey.data(), w * 3, w, h, 3);
    EXPECT_EQ(total, 70 * w * h);
    EXPECT_GT(e().bandSum[1][0], int64_t{1} << 31);
    BuildCurves(e());

    auto small = std::make_unique<ToneCorrector>();
    ResetEngine(*small);
    AnalyzeMeshed(*small, grey.data(), 300, 100, 1, 3);
    BuildCurves(*small);
    EXPECT_EQ(0, std::memcmp(e().summary, small->summary, sizeof e().summary));
    EXPECT_EQ(0, std::memcmp(e().finalCurve, small->finalCurve, sizeof e().finalCurve));
}

TEST_F(AutofixEngine, PixelTotalBeyond32BitsKeepsTheThinBandRule) {
    // Five light-band pixels among 2^32 + 1500: far fewer than one in 500,
    // so the light point is pulled all the way to its substitute.
    auto expected = std::make_unique<ToneCorrector>();
    ResetEngine(*expected);
    for (ToneCorrector* eng : {&e(), expected.get()}) {
        eng->bandCount[1] = 10;
        for (int c = 0; c < 3; ++c) eng->bandSum[1][c] = 10 * 120;
        eng->histogram[128] = 100;
    }
    e().pixelTotal = (int64_t{1} << 32) + 1500;
    e().bandCount[0] = 5;
    for (int c = 0; c < 3; ++c) e().bandSum[0][c] = 5 * (20 + 5 * c);
    expected->pixelTotal = e().pixelTotal;
    BuildCurves(e());
    BuildCurves(*expected);
    EXPECT_EQ(0, std::memcmp(e().balanceCurve, expected->balanceCurve, sizeof e().balanceCurve));

    // The returned total is the low 32 bits.
    uint8_t px[3] = {1, 2, 3};
    EXPECT_EQ(AnalyzeMeshed(e(), px, 3, 1, 1, 3), 1501);
}

TEST_F(AutofixEngine, HistogramBeyond32BitsKeepsItsClipPoints) {
    auto scaled = std::make_unique<ToneCorrector>();
    ResetEngine(*scaled);
    // Six bins of 3000 * 2^20: T * 6 is far past 2^32, T itself past 2^34.
    for (int b : {40, 60, 100, 150, 200, 230}) {
        e().histogram[b] = uint64_t{3000} << 20;
        scaled->histogram[b] = 3000;
    }
    const LevelsPoints a = BuildCurves(e());
    const LevelsPoints b = BuildCurves(*scaled);
    EXPECT_EQ(a.lo, b.lo);
    EXPECT_EQ(a.hi, b.hi);
    EXPECT_EQ(a.shift, b.shift);
    EXPECT_EQ(0, std::memcmp(e().finalCurve, scaled->finalCurve, sizeof e().finalCurve));
}


// --- vector paths -------------------------------------------------------------

#if ZANDOLIB_HAVE_WIDE

// Every level this machine has, from scalar (0) up.
std::vector<int> Levels() {
    std::vector<int> out;
    for (int l = 0; l <= static_cast<int>(BestWideLevel()); ++l) out.push_back(l);
    return out;
}

struct ForceLevel {
    explicit ForceLevel(int l) { ForceWideLevelForTesting(l); }
    ~ForceLevel() { ForceWideLevelForTesting(-1); }
};

const int kLayouts[] = {3, 4, -3, -4};

// All 2^24 colours as 4096 rows of 4096 pixels; byte 3 of a 4-byte pixel
// is filler.
std::vector<uint8_t> AllColours(int step) {
    std::vector<uint8_t> buf((size_t{1} << 24) * step);
    for (uint32_t c = 0; c < (1u << 24); ++c) {
        uint8_t* p = &buf[size_t{c} * step];
        p[0] = uint8_t(c >> 16);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c);
        if (step == 4) p[3] = uint8_t(c * 7);
    }
    return buf;
}

TEST_F(AutofixEngine, EveryCorrectionPathGivesTheSameBytesForEveryColour) {
    if (Levels().size() < 2) GTEST_SKIP() << "no vector unit";
    // Identity curves hand every colour to the per-pixel stage unchanged.
    BuildCurves(e());
    AdjustStrength(e(), 0);
    for (int step : {3, 4}) {
        const std::vector<uint8_t> src = AllColours(step);
        std::vector<uint8_t> reference;
        for (int level : Levels()) {
            ForceLevel force(level);
            std::vector<uint8_t> out = src;
            CorrectCopy(e(), src.data(), out.data(), 4096 * step, 4096 * step, 4096, 4096, step);
            if (reference.empty()) {
                reference = out;
            } else {
                ASSERT_EQ(out.size(), reference.size());
                size_t bad = 0;
                while (bad < out.size() && out[bad] == reference[bad]) ++bad;
                ASSERT_EQ(bad, out.size()) << "level " << level << ", step " << step << ": first difference at byte "
                                           << bad;
            }
        }
    }
}

TEST_F(AutofixEngine, EveryPathGivesTheSameStatisticsAndPixels) {
    if (Levels().size() < 2) GTEST_SKIP() << "no vector unit";
    // A photo-like picture with noise, odd widths for the scalar tails, and
    // bottom-up rows, in every layout.
    std::mt19937 rng(5);
    for (int layout : kLayouts) {
        const int step = layout < 0 ? -layout : layout;
        for (int w : {17, 33, 250}) {
            const int h = 23;
            const int row = w * step + 3;
            std::vector<uint8_t> buf(size_t(row) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < row; ++x) {
                    const int base = (x * 255) / row;
                    buf[size_t(y) * row + x] = uint8_t(std::clamp(base + int(rng() % 41) - 20, 0, 255));
                }
            const uint8_t* last = buf.data() + size_t(row) * (h - 1);
            std::unique_ptr<ToneCorrector> ref;
            std::vector<uint8_t> refOut;
            for (int level : Levels()) {
                ForceLevel force(level);
                auto eng = std::make_unique<ToneCorrector>();
                ResetEngine(*eng);
                const uint8_t* start = layout == 4 ? last + 1 : last;
                AnalyzeMeshed(*eng, start, -row, int16_t(w), int16_t(h), layout);
                BuildCurves(*eng);
                std::vector<uint8_t> out = buf;
                CorrectInPlace(*eng, out.data() + (start - buf.data()), -row, int16_t(w), int16_t(h), layout);
                if (!ref) {
                    ref = std::move(eng);
                    refOut = out;
                    continue;
                }
                EXPECT_EQ(0, std::memcmp(eng->histogram, ref->histogram, sizeof ref->histogram)) << level;
                EXPECT_EQ(0, std::memcmp(eng->bandSum, ref->bandSum, sizeof ref->bandSum)) << level;
                EXPECT_EQ(0, std::memcmp(eng->bandCount, ref->bandCount, sizeof ref->bandCount)) << level;
                EXPECT_EQ(out, refOut) << "level " << level << ", layout " << layout << ", width " << w;
            }
        }
    }
}

#endif

}  // namespace
}  // namespace zandolib
