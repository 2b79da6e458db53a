// Colour quantizers (network and box split) and the row converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "NeurQuant.h"
#include "stdquant.h"

namespace {

void SetPixel(TBitmap& b, int x, int y, TRGB c) { std::memcpy(b.ScanLine(y) + x * 3, &c, 3); }

TRGB GetPixel(const TBitmap& b, int x, int y) {
    TRGB c;
    std::memcpy(&c, b.ScanLine(y) + x * 3, 3);
    return c;
}

void MakeImage(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
}

int Distance(TRGB a, TRGB b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

const TRGB kSentinel{1, 2, 3};

}  // namespace

TEST(Quantizer, BackEndFollowsTheColourCount) {
    TBitmap b;
    MakeImage(b, 4, 4);
    std::vector<TRGB> map(256);
    EXPECT_EQ(TLXQuantizer(&b, map, 127).BackEnd(), 1);
    EXPECT_EQ(TLXQuantizer(&b, map, 128).BackEnd(), 0);
    EXPECT_EQ(TLXQuantizer(&b, map, 16).BackEnd(), 1);
    EXPECT_EQ(TLXQuantizer(&b, map, 256).BackEnd(), 0);
}

TEST(Quantizer, OneColourGivesOneEntryRoundedDown) {
    TBitmap b;
    MakeImage(b, 7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) SetPixel(b, x, y, TRGB{101, 15, 250});
    std::vector<TRGB> map(16, kSentinel);
    TLXQuantizer q(&b, map, 16);
    EXPECT_EQ(q.ColorCount(), 1);
    EXPECT_EQ(map[0], (TRGB{96, 8, 248}));
    for (size_t i = 1; i < map.size(); ++i) EXPECT_EQ(map[i], kSentinel) << i;
    for (TRGB c : {TRGB{0, 0, 0}, TRGB{255, 255, 255}, TRGB{101, 15, 250}}) EXPECT_EQ(q.MapColor(c), 0);
}

TEST(Quantizer, BoxSplitReproducesFewGridColours) {
    // k distinct colours on the 8-step grid: exactly k boxes, each entry one of the colours,
    // and every colour maps to its own entry; the rest of the map is untouched.
    std::mt19937 rng(7);
    for (int k : {2, 3, 5, 9, 15}) {
        std::vector<TRGB> colours;
        std::set<uint32_t> seen;
        while (int(colours.size()) < k) {
            TRGB c{uint8_t((rng() % 32) * 8), uint8_t((rng() % 32) * 8), uint8_t((rng() % 32) * 8)};
            if (seen.insert(c.AsInteger()).second) colours.push_back(c);
        }
        TBitmap b;
        MakeImage(b, 31, 9);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 31; ++x) SetPixel(b, x, y, colours[size_t((x * 7 + y * 3) % k)]);
        std::vector<TRGB> map(16, kSentinel);
        TLXQuantizer q(&b, map, 16);
        ASSERT_EQ(q.ColorCount(), k);
        std::set<uint32_t> entries;
        for (int i = 0; i < k; ++i) {
            EXPECT_TRUE(seen.count(map[size_t(i)].AsInteger())) << "k " << k << " entry " << i;
            entries.insert(map[size_t(i)].AsInteger());
        }
        EXPECT_EQ(int(entries.size()), k);
        for (size_t i = size_t(k); i < map.size(); ++i) EXPECT_EQ(map[i], kSentinel);
        for (const TRGB& c : colours) EXPECT_EQ(map[size_t(q.MapColor(c))], c);
    }
}

TEST(Quantizer, BoxSplitSeesAllOfAWideImage) {
    // 70000 pixels in one row; some colours only beyond x = 65535.
    TBitmap b;
    MakeImage(b, 70000, 1);
    const TRGB colours[4] = {{0, 0, 0}, {248, 0, 0}, {0, 248, 0}, {0, 0, 248}};
    for (int x = 0; x < 70000; ++x) SetPixel(b, x, 0, x < 66000 ? colours[x % 2] : colours[2 + x % 2]);
    std::vector<TRGB> map(16);
    TLXQuantizer q(&b, map, 16);
    ASSERT_EQ(q.ColorCount(), 4);
    for (const TRGB& c : colours) EXPECT_EQ(map[size_t(q.MapColor(c))], c);
}

TEST(Quantizer, BoxSplitChannelChoiceAndSentinel) {
    constexpr double S = TLXBoxSplit::NoSplitScore;
    EXPECT_EQ(S, 17523.6);
    struct Case {
        double score[3];
        int channel;
    } cases[] = {
        {{1, 2, 3}, 0}, {{2, 1, 3}, 1}, {{3, 2, 1}, 2}, {{1, 1, 1}, 0}, {{2, 1, 1}, 1},
        {{S, S, 5}, 2}, {{S, 2, 2}, 1}, {{3, S, 2}, 2}, {{S, S, S}, -1}, {{S, 4, S}, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(TLXBoxSplit::ChooseChannel(c.score), c.channel);
}

TEST(Quantizer, BoxSplitPaletteIsMeansOfBoxes) {
    // Two clusters: (R5 0 and 2) and (R5 30 and 31). The split separates them; each entry is
    // the rounded mean of its box, shifted left by 3.
    TBitmap b;
    MakeImage(b, 4, 1);
    SetPixel(b, 0, 0, TRGB{0, 0, 0});
    SetPixel(b, 1, 0, TRGB{0, 0, 16});
    SetPixel(b, 2, 0, TRGB{0, 0, 240});
    SetPixel(b, 3, 0, TRGB{0, 0, 248});
    std::vector<TRGB> map(2, kSentinel);
    TLXQuantizer q(&b, map, 2);
    ASSERT_EQ(q.ColorCount(), 2);
    std::set<uint32_t> got = {map[0].AsInteger(), map[1].AsInteger()};
    // Means 1 and 30.5 (ties to even: 30).
    EXPECT_EQ(got, (std::set<uint32_t>{TRGB{0, 0, 8}.AsInteger(), TRGB{0, 0, 240}.AsInteger()}));
    EXPECT_EQ(q.MapColor(TRGB{0, 0, 0}), q.MapColor(TRGB{0, 0, 16}));
    EXPECT_EQ(q.MapColor(TRGB{0, 0, 240}), q.MapColor(TRGB{0, 0, 248}));
    EXPECT_NE(q.MapColor(TRGB{0, 0, 0}), q.MapColor(TRGB{0, 0, 248}));
}

TEST(NeuralNet, Constants) {
    EXPECT_EQ(TLXNeuralNet::Beta, 64);
    EXPECT_EQ(TLXNeuralNet::BetaGamma, 65536);
    EXPECT_EQ(TLXNeuralNet::InitAlpha, 1024);
    EXPECT_EQ(TLXNeuralNet::AlphaRadBias, 262144);
    EXPECT_EQ(TLXNeuralNet::RadiusDec, 30);
    EXPECT_EQ(TLXNeuralNet::MaxNetPos, 1000);
}

TEST(NeuralNet, SamplingFactorAndStep) {
    struct F {
        int64_t pixels;
        int quality, factor;
    } factors[] = {
        {100, -1, 1},       {1999, -1, 1},      {2000, -1, 2},    {150000, -1, 15},
        {76000, -1, 8},     {10000000, -1, 30}, {500, 100, 1},    {500, 0, 30},
        {5000000, 50, 15},  {5000000, 99, 1},   {5000000, 1, 29},
    };
    for (const F& f : factors) EXPECT_EQ(TLXNeuralNet::SamplingFactor(f.pixels, f.quality), f.factor) << f.pixels;
    EXPECT_EQ(TLXNeuralNet::SamplingStep(300), 499);
    EXPECT_EQ(TLXNeuralNet::SamplingStep(499 * 3), 491);
    EXPECT_EQ(TLXNeuralNet::SamplingStep(int64_t(499) * 491 * 3), 487);
    EXPECT_EQ(TLXNeuralNet::SamplingStep(int64_t(499) * 491 * 487), 503);
}

TEST(NeuralNet, SmallImagesStayInside) {
    // Fewer pixels than the sampling step: every sample must lie in the picture (ASan).
    for (int side : {1, 10, 22}) {
        TBitmap b;
        MakeImage(b, side, side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) SetPixel(b, x, y, TRGB{uint8_t(x * 11), uint8_t(y * 11), 77});
        std::vector<TRGB> map(256);
        TLXQuantizer q(&b, map, 256);
        EXPECT_EQ(q.ColorCount(), 256);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int i = q.MapColor(GetPixel(b, x, y));
                EXPECT_GE(i, 0);
                EXPECT_LT(i, 256);
            }
    }
}

TEST(NeuralNet, MapColorIsTheNearestEntry) {
    TBitmap b;
    MakeImage(b, 64, 48);
    std::mt19937 rng(3);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            SetPixel(b, x, y, TRGB{uint8_t(x * 4), uint8_t(y * 5), uint8_t(rng() % 256)});
    for (int ncol : {128, 200, 256}) {
        std::vector<TRGB> map(static_cast<size_t>(ncol));
        TLXQuantizer q(&b, map, ncol);
        for (int k = 0; k < 2000; ++k) {
            const TRGB c{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
            const int i = q.MapColor(c);
            ASSERT_GE(i, 0);
            ASSERT_LT(i, ncol);
            int best = 10000;
            for (const TRGB& e : map) best = std::min(best, Distance(e, c));
            ASSERT_EQ(Distance(map[size_t(i)], c), best) << ncol;
        }
    }
}

TEST(NeuralNet, FewColoursAreReproduced) {
    const TRGB colours[5] = {{0, 0, 0}, {255, 255, 255}, {200, 30, 10}, {16, 160, 64}, {90, 90, 220}};
    TBitmap b;
    MakeImage(b, 40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) SetPixel(b, x, y, colours[(x / 4 + y / 3) % 5]);
    std::vector<TRGB> map(256);
    TLXQuantizer q(&b, map, 256);
    for (const TRGB& c : colours) EXPECT_LE(Distance(map[size_t(q.MapColor(c))], c), 3);
}

TEST(NeuralNet, QualityHundredSamplesEveryPixel) {
    TBitmap b;
    MakeImage(b, 100, 100);
    EXPECT_EQ(TLXNeuralNet(&b, 256, 100).Factor(), 1);
    EXPECT_EQ(TLXNeuralNet(&b, 256, -1).Factor(), 3);   // Round(8000 * 13 / 148000 + 2)
    TBitmap small;
    MakeImage(small, 40, 40);
    EXPECT_EQ(TLXNeuralNet(&small, 256, -1).Factor(), 1);
}

// ---- Row converter ----

TEST(ConvertPixelRow, RowLengths) {
    std::vector<uint8_t> src(13 * 4, 0), dst(13 * 4, 0);
    const TRGB pal[2] = {{0, 0, 0}, {255, 255, 255}};
    EXPECT_EQ(ConvertPixelRow(src.data(), dst.data(), 8, 1, 13, pal, nullptr), 2);
    EXPECT_EQ(ConvertPixelRow(src.data(), dst.data(), 1, 4, 13, pal, nullptr), 7);
    EXPECT_EQ(ConvertPixelRow(src.data(), dst.data(), 1, 8, 13, pal, nullptr), 13);
    EXPECT_EQ(ConvertPixelRow(src.data(), dst.data(), 1, 24, 13, pal, nullptr), 39);
    EXPECT_EQ(ConvertPixelRow(src.data(), dst.data(), 24, 32, 13, pal, nullptr), 0);
}

TEST(ConvertPixelRow, Conversions) {
    const TRGB pal[4] = {{0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {9, 8, 7}};
    uint8_t d[64];
    {
        // 1 -> 24 with black, white: bit 0 black.
        const uint8_t s[2] = {0x80, 0x40};
        std::memset(d, 0xCC, sizeof d);
        ConvertPixelRow(s, d, 1, 24, 10, pal, nullptr);
        EXPECT_EQ(d[0], 255);
        EXPECT_EQ(d[3], 0);
        EXPECT_EQ(d[27], 255);   // pixel 9
    }
    {
        // 1 -> 4 and 1 -> 8 into dirty buffers.
        const uint8_t s[1] = {0xA0};
        std::memset(d, 0xFF, sizeof d);
        ConvertPixelRow(s, d, 1, 4, 3, pal, nullptr);
        EXPECT_EQ(d[0], 0x10);
        EXPECT_EQ(d[1], 0x10);
        ConvertPixelRow(s, d, 1, 8, 3, pal, nullptr);
        EXPECT_EQ((std::vector<uint8_t>(d, d + 3)), (std::vector<uint8_t>{1, 0, 1}));
    }
    {
        // 8 -> 1: a non-zero index sets its own bit only.
        const uint8_t s[9] = {0, 1, 2, 0, 0, 0, 0, 0, 1};
        std::memset(d, 0xFF, sizeof d);
        ConvertPixelRow(s, d, 8, 1, 9, pal, nullptr);
        EXPECT_EQ(d[0], 0x60);
        EXPECT_EQ(d[1], 0x80);
    }
    {
        // 4 -> 8 and 4 -> 24: pixel 0 is the high nibble.
        const uint8_t s[2] = {0x23, 0x10};
        ConvertPixelRow(s, d, 4, 8, 3, pal, nullptr);
        EXPECT_EQ((std::vector<uint8_t>(d, d + 3)), (std::vector<uint8_t>{2, 3, 1}));
        ConvertPixelRow(s, d, 4, 24, 3, pal, nullptr);
        EXPECT_EQ((std::vector<uint8_t>(d, d + 9)), (std::vector<uint8_t>{1, 2, 3, 9, 8, 7, 255, 255, 255}));
    }
    {
        // 8 -> 24 beyond the palette gives black; 32 -> 24 drops the fourth byte.
        const uint8_t s[2] = {3, 200};
        ConvertPixelRow(s, d, 8, 24, 2, pal, nullptr);
        EXPECT_EQ((std::vector<uint8_t>(d, d + 6)), (std::vector<uint8_t>{9, 8, 7, 0, 0, 0}));
        const uint8_t q[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        ConvertPixelRow(q, d, 32, 24, 2, pal, nullptr);
        EXPECT_EQ((std::vector<uint8_t>(d, d + 6)), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    }
}

TEST(ConvertPixelRow, QuantizedRowsIgnoreDirtyBuffers) {
    TBitmap b;
    MakeImage(b, 13, 1);
    for (int x = 0; x < 13; ++x) SetPixel(b, x, 0, TRGB{uint8_t(x * 16), uint8_t(255 - x * 16), 40});
    std::vector<TRGB> map(16);
    TLXQuantizer q(&b, map, 16);
    uint8_t clean[8] = {}, dirty[8];
    std::memset(dirty, 0xFF, sizeof dirty);
    EXPECT_EQ(ConvertPixelRow(b.ScanLine(0), clean, 24, 4, 13, {}, &q), 7);
    ConvertPixelRow(b.ScanLine(0), dirty, 24, 4, 13, {}, &q);
    EXPECT_EQ(std::memcmp(clean, dirty, 7), 0);
    uint8_t bytes[13];
    ConvertPixelRow(b.ScanLine(0), bytes, 24, 8, 13, {}, &q);
    for (int x = 0; x < 13; ++x) {
        EXPECT_EQ(bytes[x], q.MapColor(GetPixel(b, x, 0)));
        EXPECT_EQ((x & 1) ? clean[x / 2] & 0x0F : clean[x / 2] >> 4, bytes[x]) << x;
    }
}
