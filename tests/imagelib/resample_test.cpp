// Resampling kernels and the two resamplers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "LuxProc.h"

namespace {

void Make24(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
}

void Fill(TBitmap& b, uint8_t v) { std::memset(b.PixelBlock(), v, size_t(b.ImageSize())); }

void SetGrey(TBitmap& b, int x, int y, uint8_t v) { std::memset(b.ScanLine(y) + x * 3, v, 3); }

// The grey value of a pixel, failing when its three channels differ.
int Grey(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
    return p[0];
}

std::vector<int> Row(const TBitmap& b, int y) {
    std::vector<int> r;
    for (int x = 0; x < b.Width(); ++x) r.push_back(Grey(b, x, y));
    return r;
}

const TResampleFilter kAll[] = {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell};

struct ProgressLog {
    std::vector<int> values;
    void On(TObject*, int per) { values.push_back(per); }
};

}  // namespace

TEST(ResampleFilters, KernelValues) {
    struct Case {
        TResampleFilter f;
        double support;
        double at[5];   // a = 0, 0.5, 1, 1.5, 2.5
    } cases[] = {
        {rfTriangle, 1.0, {1, 0.5, 0, 0, 0}},
        {rfHermite, 1.0, {1, 0.5, 0, 0, 0}},
        {rfBell, 1.5, {0.75, 0.5, 0.125, 0, 0}},
        {rfBSpline, 2.0, {2.0 / 3, 0.0625 - 0.25 + 2.0 / 3, 1.0 / 6, 0.125 / 6, 0}},
        {rfLanczos3, 3.0, {1, 0.607927, 0, -0.135095, 0.024317}},
        {rfMitchell, 2.0, {16.0 / 18, 3.208333 / 6, 1.0 / 18, -0.208333 / 6, 0}},
    };
    const double a[5] = {0, 0.5, 1, 1.5, 2.5};
    for (const Case& c : cases) {
        const TResampleFilterEntry& e = ResampleFilterEntry(c.f);
        ASSERT_NE(e.Filter, nullptr);
        EXPECT_EQ(e.Support, c.support);
        for (int i = 0; i < 5; ++i) {
            EXPECT_NEAR(e.Filter(a[i]), c.at[i], 1e-6) << int(c.f) << " at " << a[i];
            EXPECT_EQ(e.Filter(-a[i]), e.Filter(a[i]));   // evaluated on |x|
        }
        EXPECT_EQ(e.Filter(c.support), 0.0);
    }
    EXPECT_EQ(ResampleFilterEntry(rfNone).Filter, nullptr);
}

TEST(Resample24, EnlargeTwoPixels) {
    // Black, white to 4 x 1 with the triangle: centres 0, 0.5, 1, 1.5; index 2 mirrors to 1.
    TBitmap src, dst;
    Make24(src, 2, 1);
    SetGrey(src, 0, 0, 0);
    SetGrey(src, 1, 0, 255);
    Make24(dst, 4, 1);
    Resample24(&src, &dst, rfTriangle);
    EXPECT_EQ(Row(dst, 0), (std::vector<int>{0, 128, 255, 255}));
}

TEST(Resample24, MirroringHandComputed) {
    struct Case {
        std::vector<int> src;
        int dw;
        std::vector<int> expect;
    } cases[] = {
        // Enlarging: c = i / 2; the tap right of the last column mirrors back onto it.
        {{0, 100, 200}, 6, {0, 50, 100, 150, 200, 200}},
        // Reducing: weights 0.25, 0.5, 0.25; the tap left of column 0 mirrors to column 1.
        {{10, 50, 90, 130}, 2, {30, 90}},
        {{200, 200, 200, 200, 200, 200}, 3, {200, 200, 200}},
    };
    for (const Case& c : cases) {
        TBitmap src, dst;
        Make24(src, int(c.src.size()), 1);
        for (size_t x = 0; x < c.src.size(); ++x) SetGrey(src, int(x), 0, uint8_t(c.src[x]));
        Make24(dst, c.dw, 1);
        Resample24(&src, &dst, rfTriangle);
        EXPECT_EQ(Row(dst, 0), c.expect);
    }
}

TEST(Resample24, VerticalPassLikeHorizontal) {
    TBitmap src, dst;
    Make24(src, 1, 3);
    SetGrey(src, 0, 0, 0);
    SetGrey(src, 0, 1, 100);
    SetGrey(src, 0, 2, 200);
    Make24(dst, 1, 6);
    Resample24(&src, &dst, rfTriangle);
    std::vector<int> col;
    for (int y = 0; y < 6; ++y) col.push_back(Grey(dst, 0, y));
    EXPECT_EQ(col, (std::vector<int>{0, 50, 100, 150, 200, 200}));
}

TEST(Resample24, ChannelsStaySeparate) {
    TBitmap src, dst;
    Make24(src, 2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            uint8_t* p = src.ScanLine(y) + x * 3;
            p[0] = 10;
            p[1] = uint8_t(x ? 200 : 0);
            p[2] = uint8_t(y ? 60 : 250);
        }
    Make24(dst, 4, 4);
    Resample24(&src, &dst, rfTriangle);
    const uint8_t* p = dst.ScanLine(1) + 1 * 3;   // centre (0.5, 0.5)
    EXPECT_EQ(p[0], 10);
    EXPECT_EQ(p[1], 100);
    EXPECT_EQ(p[2], 155);
}

TEST(Resample24, IdentityAtScaleOne) {
    // Interpolating kernels give the picture back at the same size.
    TBitmap src;
    Make24(src, 9, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c) src.ScanLine(y)[x * 3 + c] = uint8_t((x * 29 + y * 53 + c * 71) % 256);
    for (TResampleFilter f : {rfTriangle, rfHermite, rfLanczos3}) {
        TBitmap dst;
        Make24(dst, 9, 7);
        Resample24(&src, &dst, f);
        for (int y = 0; y < 7; ++y)
            EXPECT_EQ(std::memcmp(src.ScanLine(y), dst.ScanLine(y), 27), 0) << int(f) << " row " << y;
    }
    // rfNone has no kernel: nothing is done.
    TBitmap dst;
    Make24(dst, 9, 7);
    Fill(dst, 0x42);
    Resample24(&src, &dst, rfNone);
    EXPECT_EQ(dst.ScanLine(3)[5], 0x42);
}

TEST(Resample24, UniformStaysUniform) {
    // The weights of these kernels sum to one at integer spacing, edges included.
    for (TResampleFilter f : {rfTriangle, rfHermite, rfBell, rfBSpline, rfMitchell}) {
        for (int scale : {2, 3}) {
            TBitmap src, dst;
            Make24(src, 5, 4);
            Fill(src, 200);
            Make24(dst, 5 * scale, 4 * scale);
            Resample24(&src, &dst, f);
            for (int y = 0; y < dst.Height(); ++y)
                for (int x = 0; x < dst.Width(); ++x) ASSERT_EQ(Grey(dst, x, y), 200) << int(f) << " x" << scale;
        }
    }
}

TEST(Resample24, NegativeLobesAreClamped) {
    // A hard edge through Lanczos3 and Mitchell overshoots both ways.
    for (TResampleFilter f : {rfLanczos3, rfMitchell}) {
        TBitmap src, dst;
        Make24(src, 8, 1);
        for (int x = 0; x < 8; ++x) SetGrey(src, x, 0, x < 4 ? 0 : 255);
        Make24(dst, 32, 1);
        Resample24(&src, &dst, f);
        const std::vector<int> r = Row(dst, 0);
        // Just left of the edge the sum is negative, just right above 255: never wrapped.
        bool low = false, high = false;
        for (int x = 0; x < 32; ++x) {
            if (x < 14) {
                EXPECT_LT(r[size_t(x)], 128) << int(f) << " " << x;
            }
            if (x > 17) {
                EXPECT_GT(r[size_t(x)], 127) << int(f) << " " << x;
            }
            low |= r[size_t(x)] == 0 && x > 4 && x < 14;
            high |= r[size_t(x)] == 255 && x > 17 && x < 26;
        }
        EXPECT_TRUE(low && high) << int(f);
    }
}

TEST(Resample24, DegenerateSizes) {
    TBitmap one, dst;
    Make24(one, 1, 1);
    Fill(one, 90);
    Make24(dst, 3, 3);
    Fill(dst, 7);
    Resample24(&one, &dst, rfTriangle);   // a 1 x 1 source is never resampled
    EXPECT_EQ(Grey(dst, 1, 1), 7);

    // 1 x N and N x 1 shapes, reductions to 1 x 1, and a wide filter over a tiny source.
    struct Case {
        int sw, sh, dw, dh;
    } cases[] = {{1, 9, 4, 2}, {9, 1, 2, 5}, {7, 5, 1, 1}, {2, 2, 17, 13}, {3, 2, 1, 40}};
    for (const Case& c : cases)
        for (TResampleFilter f : kAll) {
            TBitmap src, out;
            Make24(src, c.sw, c.sh);
            Fill(src, 120);
            Make24(out, c.dw, c.dh);
            Resample24(&src, &out, f);
            ASSERT_EQ(out.Width(), c.dw);
            ASSERT_EQ(out.Height(), c.dh);
        }

    // A destination without pixels: nothing happens (no division by zero).
    TBitmap src, empty;
    Make24(src, 4, 4);
    Make24(empty, 0, 3);
    Resample24(&src, &empty, rfBell);
    Resample1To24(&src, &empty, rfBell);
    EXPECT_EQ(empty.Width(), 0);

    // Not pf24bit: unchanged.
    TBitmap mono, out;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(4, 4);
    Make24(out, 8, 8);
    Fill(out, 5);
    Resample24(&mono, &out, rfTriangle);
    EXPECT_EQ(Grey(out, 3, 3), 5);
}

TEST(Resample24, Progress) {
    TBitmap src, dst;
    Make24(src, 6, 5);
    Make24(dst, 70, 3);
    ProgressLog log;
    Resample24(&src, &dst, rfTriangle, TLXProgressEvent(&log, &ProgressLog::On), nullptr);
    // One report after each source row, then after each output column.
    ASSERT_EQ(log.values.size(), size_t(5 + 70));
    const double per = 100.0 / (5 + 70 + 0.5);
    EXPECT_EQ(log.values.front(), int(per));
    EXPECT_EQ(log.values[4], int(5 * per));
    EXPECT_EQ(log.values.back(), int(75 * per));
    EXPECT_TRUE(std::is_sorted(log.values.begin(), log.values.end()));
}

TEST(Resample1To24, GreyFromBits) {
    // All zero: black, whatever the palette says.
    TBitmap mono, dst;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(6, 4);
    Make24(dst, 12, 8);
    Fill(dst, 77);
    Resample1To24(&mono, &dst, rfBell);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(Grey(dst, x, y), 0);

    // One set bit and one clear bit in a row to 4 x 1: as the 24-bit case, grey.
    TBitmap two, out;
    two.SetPixelFormat(pf1bit);
    two.SetSize(2, 1);
    two.ScanLine(0)[0] = 0x40;
    Make24(out, 4, 1);
    Resample1To24(&two, &out, rfTriangle);
    EXPECT_EQ(Row(out, 0), (std::vector<int>{0, 128, 255, 255}));

    // A checkerboard halved with the triangle: every output mixes set and clear bits.
    TBitmap board, half;
    board.SetPixelFormat(pf1bit);
    board.SetSize(8, 8);
    for (int y = 0; y < 8; ++y) board.ScanLine(y)[0] = (y & 1) ? 0x55 : 0xAA;
    Make24(half, 4, 4);
    Resample1To24(&board, &half, rfTriangle);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int g = Grey(half, x, y);
            EXPECT_GT(g, 0);
            EXPECT_LT(g, 255);
        }

    // A pf24bit source is not taken.
    TBitmap rgb, keep;
    Make24(rgb, 4, 4);
    Make24(keep, 8, 8);
    Fill(keep, 9);
    Resample1To24(&rgb, &keep, rfTriangle);
    EXPECT_EQ(Grey(keep, 2, 2), 9);
}
