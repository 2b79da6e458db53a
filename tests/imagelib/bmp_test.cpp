// BMP reader and writer: outside-tool fixtures decoded bit-exact, hand-built edge cases,
// hostile headers, and files we write read back by ImageMagick and Pillow.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BMPFilt.h"
#include "codec_fixture_helpers.h"
#include "LuxIO.h"
#include "Win32.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

const std::string kFixtures = std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/bmp/";

using codec_test::HavePil;
using codec_test::HaveTool;
using codec_test::Picture;
using codec_test::PixelOf;
using codec_test::ReadFile;
using codec_test::ReadNetpbm;
using codec_test::TempPath;
using codec_test::ToolDecode;
using codec_test::WriteFile;

TMemoryStream* StreamOf(const std::vector<uint8_t>& data, TMemoryStream& s) {
    s.Clear();
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
    return &s;
}

struct Decoded {
    bool aborted = false;
    TBitmap bitmap;
    TLXIOParams params{nullptr};
};

void Decode(const std::vector<uint8_t>& data, Decoded& out, int64_t sizeLimit = 0,
            bool paramsOnly = false, int64_t prefix = 0) {
    TMemoryStream s;
    std::vector<uint8_t> all(size_t(prefix), 0x5A);
    all.insert(all.end(), data.begin(), data.end());
    StreamOf(all, s);
    s.SetPosition(prefix);
    TProgressRec pr;
    pr.Aborting = &out.aborted;
    BmpDecodeStream(&s, &out.bitmap, sizeLimit, paramsOnly, pr, out.params);
}

// ---- Little-endian builders for hand-made files ----

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    Put16(v, at, x);
    Put16(v, at + 2, x >> 16);
}
uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& v, size_t at) { return uint16_t(v[at] | v[at + 1] << 8); }

struct Spec {
    int32_t w = 4, h = 2;
    int bits = 8;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<TRGB> palette;
    std::vector<uint8_t> pixels;   // raw pixel data as stored
    std::array<uint32_t, 3> masks{};
};

// File header + 40-byte info header (+ masks for compression 3) + palette + pixels.
std::vector<uint8_t> MakeBmp(const Spec& s) {
    std::vector<uint8_t> v(54, 0);
    v[0] = 'B';
    v[1] = 'M';
    Put32(v, 14, 40);
    Put32(v, 18, uint32_t(s.w));
    Put32(v, 22, uint32_t(s.h));
    Put16(v, 26, 1);
    Put16(v, 28, uint32_t(s.bits));
    Put32(v, 30, s.compression);
    Put32(v, 34, uint32_t(s.pixels.size()));
    Put32(v, 38, 3780);
    Put32(v, 42, 3780);
    Put32(v, 46, s.colorsUsed ? s.colorsUsed : uint32_t(s.palette.size()));
    if (s.compression == 3)
        for (uint32_t m : s.masks) {
            v.resize(v.size() + 4);
            Put32(v, v.size() - 4, m);
        }
    for (const TRGB& c : s.palette) {
        v.push_back(c.b);
        v.push_back(c.g);
        v.push_back(c.r);
        v.push_back(0);
    }
    Put32(v, 10, uint32_t(v.size()));
    v.insert(v.end(), s.pixels.begin(), s.pixels.end());
    Put32(v, 2, uint32_t(v.size()));
    return v;
}

std::vector<TRGB> GreyPalette(int n) {
    std::vector<TRGB> p;
    for (int i = 0; i < n; ++i) p.push_back(TRGB{uint8_t(i * 10 + 5), uint8_t(i * 10 + 5), uint8_t(i * 10 + 5)});
    return p;
}

}  // namespace

// ---- Fixtures made by outside tools, against the tool's own decoding ----

struct FixtureCase {
    const char* name;
    int bitsPerSample, samplesPerPixel;
    int version, compression;
    TPixelFormat format;
    uint8_t maskR, maskG, maskB;   // bits compared (a tool that widens 5-bit channels otherwise)
};

class BmpFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(BmpFixture, DecodesToTheToolsPixels) {
    const FixtureCase& c = GetParam();
    const std::vector<uint8_t> file = ReadFile(kFixtures + c.name + ".bmp");
    const Picture ref = ReadNetpbm(kFixtures + c.name + ".ppm");
    ASSERT_FALSE(file.empty());
    ASSERT_GT(ref.w, 0) << c.name;

    // At the start of a stream and behind 37 bytes of something else.
    for (int64_t prefix : {int64_t(0), int64_t(37)}) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(prefix));
        Decoded d;
        Decode(file, d, 0, false, prefix);
        ASSERT_FALSE(d.aborted);
        ASSERT_EQ(d.bitmap.Width(), ref.w);
        ASSERT_EQ(d.bitmap.Height(), ref.h);
        EXPECT_EQ(d.bitmap.PixelFormat(), c.format);
        EXPECT_EQ(d.params.Width, ref.w);
        EXPECT_EQ(d.params.Height, ref.h);
        EXPECT_EQ(d.params.BitsPerSample, c.bitsPerSample);
        EXPECT_EQ(d.params.SamplesPerPixel, c.samplesPerPixel);
        EXPECT_EQ(d.params.BmpVersion, c.version);
        EXPECT_EQ(d.params.BmpCompression, c.compression);

        // A 1-bit image keeps "set bit = white"; when its palette is not black and white the
        // bit is the palette index.
        const bool oneBit = d.bitmap.PixelFormat() == pf1bit;
        const bool blackWhite =
            d.params.PaletteCount == 2 &&
            ((d.params.Palette[0] == TRGB{0, 0, 0} && d.params.Palette[1] == TRGB{255, 255, 255}) ||
             (d.params.Palette[0] == TRGB{255, 255, 255} && d.params.Palette[1] == TRGB{0, 0, 0}));
        int bad = 0;
        for (int y = 0; y < ref.h; ++y)
            for (int x = 0; x < ref.w; ++x) {
                TRGB got = PixelOf(d.bitmap, x, y);
                TRGB want = ref.At(x, y);
                if (oneBit && !blackWhite) got = d.params.Palette[got.r ? 1 : 0];
                want = TRGB{uint8_t(want.b & c.maskB), uint8_t(want.g & c.maskG), uint8_t(want.r & c.maskR)};
                got = TRGB{uint8_t(got.b & c.maskB), uint8_t(got.g & c.maskG), uint8_t(got.r & c.maskR)};
                if (!(got == want) && bad++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": got " << int(got.r) << " " << int(got.g)
                                  << " " << int(got.b) << " want " << int(want.r) << " " << int(want.g) << " "
                                  << int(want.b);
            }
        EXPECT_EQ(bad, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, BmpFixture,
    ::testing::Values(
        FixtureCase{"im_1bit_wb", 1, 1, 1, 0, pf1bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"pil_1bit", 1, 1, 1, 0, pf1bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_1bit_wb", 1, 1, 1, 0, pf1bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"nb_os2_1bit", 1, 1, 2, 0, pf1bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_4bit", 4, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_os2_4bit", 4, 1, 2, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"nb_os2_4bit", 4, 1, 2, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_rle4", 4, 1, 1, 1, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_8bit", 8, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"pil_8bit", 8, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"nb_8bit", 8, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_os2_8bit", 8, 1, 2, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_os2v2_8", 8, 1, 3, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_8bit_pal20", 8, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_topdown_8", 8, 1, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_rle8", 8, 1, 1, 1, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_rle8_delta", 8, 1, 1, 1, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_16bit_555", 5, 3, 1, 0, pf24bit, 0xF8, 0xF8, 0xF8},
        FixtureCase{"gen_16bit_565", 5, 3, 1, 0, pf24bit, 0xF8, 0xFC, 0xF8},
        // ImageMagick widens 5 and 6 bits as we do (white stays white); Pillow scales down.
        FixtureCase{"im_v5_565", 5, 3, 0, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_24bit", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_os2_24bit", 8, 3, 2, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_v5_24bit", 8, 3, 0, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_v4_24", 8, 3, 0, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_topdown_24", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_24bit_pal3", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_32bit", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"pil_32bit", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"im_v5_32bit", 8, 3, 0, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_32bit_rgbx", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF},
        FixtureCase{"gen_32bit_xbgr", 8, 3, 1, 0, pf24bit, 0xFF, 0xFF, 0xFF}),
    [](const ::testing::TestParamInfo<FixtureCase>& i) { return std::string(i.param.name); });

TEST(BmpRead, PaletteAndResolutionParameters) {
    {
        // Colours-used 0 with 8 bits: 256 entries.
        Decoded d;
        Decode(ReadFile(kFixtures + "nb_8bit.bmp"), d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(d.params.PaletteCount, 256);
    }
    {
        // A 24-bit file with colours-used 3 keeps its three entries.
        Decoded d;
        Decode(ReadFile(kFixtures + "gen_24bit_pal3.bmp"), d);
        ASSERT_FALSE(d.aborted);
        ASSERT_EQ(d.params.PaletteCount, 3);
        EXPECT_EQ(d.params.Palette[0], (TRGB{0, 0, 0}));
        EXPECT_EQ(d.params.Palette[1], (TRGB{uint8_t(255 - 13), 108, 37}));
        // 2835 pixels per metre is 72 DPI.
        EXPECT_EQ(d.params.DpiX, 72);
        EXPECT_EQ(d.params.DpiY, 72);
    }
}

TEST(BmpRead, OneBitPolarity) {
    // Bits of a (white, black) file are inverted so that a set bit is white; a (black,
    // white) or any other pair is kept.
    struct Case {
        TRGB p0, p1;
        uint8_t stored, expected;
    } cases[] = {
        {{255, 255, 255}, {0, 0, 0}, 0xA0, 0x5F},
        {{0, 0, 0}, {255, 255, 255}, 0xA0, 0xA0},
        {{0, 0, 255}, {255, 0, 0}, 0xA0, 0xA0},
        {{255, 255, 255}, {1, 0, 0}, 0xA0, 0xA0},
    };
    for (const Case& c : cases) {
        Spec s;
        s.w = 8;
        s.h = 1;
        s.bits = 1;
        s.palette = {c.p0, c.p1};
        s.pixels = {c.stored, 0, 0, 0};
        Decoded d;
        Decode(MakeBmp(s), d);
        ASSERT_FALSE(d.aborted);
        ASSERT_EQ(d.bitmap.PixelFormat(), pf1bit);
        EXPECT_EQ(d.bitmap.ScanLine(0)[0], c.expected);
    }
}

TEST(BmpRead, BitFieldChannels) {
    // 16 bits: compression 0 is 5-5-5; 32 bits: a byte each. Bit fields as given (a 16-bit
    // pixel uses the low 16 bits of a mask). An all-ones or empty mask must not hang or shift
    // by a negative count.
    struct Case {
        int bits;
        uint32_t compression;
        std::array<uint32_t, 3> masks;
        uint32_t pixel;
        TRGB expected;
    } cases[] = {
        // Channels narrower than 8 bits are widened by repeating their bits: white stays white.
        {16, 0, {}, 0x7FFF, {255, 255, 255}},
        {16, 0, {}, 0x7C00, {0, 0, 255}},
        {16, 0, {}, 0x001F, {255, 0, 0}},
        {16, 0, {}, 0x0421, {8, 8, 8}},
        {16, 3, {0xF800, 0x07E0, 0x001F}, 0xFFFF, {255, 255, 255}},
        {16, 3, {0xF800, 0x07E0, 0x001F}, 0x07E0, {0, 255, 0}},
        {16, 3, {0x0F00, 0x00F0, 0x000F}, 0x0A5F, {255, 85, 170}},
        {16, 3, {0xFFFFFFFF, 0, 0}, 0x8001, {0, 0, 0x80}},
        {16, 3, {0, 0, 0}, 0xFFFF, {0, 0, 0}},
        {32, 0, {}, 0x11223344, {0x44, 0x33, 0x22}},
        {32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0x11223344, {0x22, 0x33, 0x44}},
        // 10 bits a channel: the top 8 of each.
        {32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FFFF004, {0x01, 0xFF, 0xFF}},
        {32, 3, {0xFFFFFFFF, 0, 0}, 0x80000001, {0, 0, 0x80}},
    };
    for (const Case& c : cases) {
        Spec s;
        s.w = 1;
        s.h = 1;
        s.bits = c.bits;
        s.compression = c.compression;
        s.masks = c.masks;
        s.pixels = {uint8_t(c.pixel), uint8_t(c.pixel >> 8), uint8_t(c.pixel >> 16), uint8_t(c.pixel >> 24)};
        Decoded d;
        Decode(MakeBmp(s), d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(PixelOf(d.bitmap, 0, 0), c.expected) << c.bits << " bits, " << std::hex << c.pixel;
    }
}

TEST(BmpRead, MasksInsideLaterHeaders) {
    // A 56-byte header carries its 5-6-5 masks at bytes 40..51 of the header.
    std::vector<uint8_t> v(14 + 56, 0);
    v[0] = 'B';
    v[1] = 'M';
    Put32(v, 14, 56);
    Put32(v, 18, 1);
    Put32(v, 22, 1);
    Put16(v, 26, 1);
    Put16(v, 28, 16);
    Put32(v, 30, 3);
    Put32(v, 54, 0xF800);
    Put32(v, 58, 0x07E0);
    Put32(v, 62, 0x001F);
    Put32(v, 10, uint32_t(v.size()));
    for (uint8_t b : {0xE0, 0x07, 0, 0}) v.push_back(b);   // pure green
    Decoded d;
    Decode(v, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{0, 255, 0}));
    EXPECT_EQ(d.params.BmpVersion, 0);
}

TEST(BmpRead, RleEscapes) {
    const std::vector<TRGB> pal = GreyPalette(16);
    auto grey = [&](int i) { return pal[size_t(i)]; };
    const TRGB none{0, 0, 0};
    struct Case {
        const char* what;
        int bits;
        std::vector<uint8_t> data;
        // Expected rows from the top, 6 pixels each, as palette indexes (-1 = untouched).
        std::vector<std::array<int, 6>> rows;
    } cases[] = {
        {"delta from x 0 lands at x 5 of the row above", 8,
         {0, 2, 5, 1, 1, 4, 0, 1},
         {{-1, -1, -1, -1, -1, 4}, {-1, -1, -1, -1, -1, -1}}},
        {"delta moves on from the current x", 8,
         {3, 2, 0, 2, 2, 1, 1, 7, 0, 1},
         {{-1, -1, -1, -1, -1, 7}, {2, 2, 2, -1, -1, -1}}},
        {"delta above the top row ends decoding", 8,
         {2, 5, 0, 2, 0, 9, 1, 6, 0, 1},
         {{-1, -1, -1, -1, -1, -1}, {5, 5, -1, -1, -1, -1}}},
        {"end of line moves up, pixels past the width are dropped", 8,
         {8, 1, 0, 0, 2, 2, 0, 0, 2, 9},
         {{2, 2, -1, -1, -1, -1}, {1, 1, 1, 1, 1, 1}}},
        {"absolute runs of 3 (one pad byte) and 4 (none)", 8,
         {0, 3, 1, 2, 3, 0, 0, 0, 0, 4, 4, 5, 6, 7, 0, 1},
         {{4, 5, 6, 7, -1, -1}, {1, 2, 3, -1, -1, -1}}},
        {"a cut-off absolute run keeps the bytes present", 8,
         {0, 6, 1, 2, 3},
         {{-1, -1, -1, -1, -1, -1}, {1, 2, 3, -1, -1, -1}}},
        {"RLE4 encoded run alternates high and low nibble", 4,
         {5, 0x12, 0, 1},
         {{-1, -1, -1, -1, -1, -1}, {1, 2, 1, 2, 1, -1}}},
        {"RLE4 absolute run of 5: three data bytes and a pad byte", 4,
         {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 0, 3, 0x67, 0x80, 0, 1},
         {{6, 7, 8, -1, -1, -1}, {1, 2, 3, 4, 5, -1}}},
        {"no end-of-bitmap: ends at the last row's end of line", 4,
         {2, 0x33, 0, 0, 1, 0x90, 0, 0, 1, 0x40},
         {{9, -1, -1, -1, -1, -1}, {3, 3, -1, -1, -1, -1}}},
        {"a pair cut in half is ignored", 8,
         {2, 5, 0},
         {{-1, -1, -1, -1, -1, -1}, {5, 5, -1, -1, -1, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Spec s;
        s.w = 6;
        s.h = 2;
        s.bits = c.bits;
        s.compression = c.bits == 8 ? 1 : 2;
        s.palette = pal;
        s.pixels = c.data;
        Decoded d;
        Decode(MakeBmp(s), d);
        ASSERT_FALSE(d.aborted);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 6; ++x) {
                const int want = c.rows[size_t(y)][size_t(x)];
                EXPECT_EQ(PixelOf(d.bitmap, x, y), want < 0 ? none : grey(want)) << x << "," << y;
            }
    }
}

TEST(BmpRead, IndexesBeyondThePaletteAreBlack) {
    Spec s;
    s.w = 3;
    s.h = 1;
    s.bits = 8;
    s.palette = {{10, 20, 30}, {40, 50, 60}};
    s.pixels = {1, 200, 255, 0};
    Decoded d;
    Decode(MakeBmp(s), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{40, 50, 60}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{0, 0, 0}));
    EXPECT_EQ(PixelOf(d.bitmap, 2, 0), (TRGB{0, 0, 0}));

    s.bits = 4;
    s.compression = 2;
    s.pixels = {3, 0x1F, 0, 1};
    Decoded r;
    Decode(MakeBmp(s), r);
    ASSERT_FALSE(r.aborted);
    EXPECT_EQ(PixelOf(r.bitmap, 0, 0), (TRGB{40, 50, 60}));
    EXPECT_EQ(PixelOf(r.bitmap, 1, 0), (TRGB{0, 0, 0}));
}

TEST(BmpRead, TruncatedFileKeepsWhatWasRead) {
    // The stream ends inside the third of four rows: rows read are there, the others black,
    // no error (the file still shows most of its picture).
    Spec s;
    s.w = 2;
    s.h = 4;
    s.bits = 24;
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 8; ++i) s.pixels.push_back(uint8_t(i < 6 ? 100 + r : 0));
    std::vector<uint8_t> file = MakeBmp(s);
    file.resize(file.size() - 8 - 5);
    Decoded d;
    Decode(file, d);
    EXPECT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 3), (TRGB{100, 100, 100}));
    EXPECT_EQ(PixelOf(d.bitmap, 0, 2), (TRGB{101, 101, 101}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{0, 0, 0}));
}

TEST(BmpRead, OldPictureNeverShowsThrough) {
    Decoded d;
    d.bitmap.SetSize(40, 40);
    std::memset(d.bitmap.PixelBlock(), 0xEE, size_t(d.bitmap.ImageSize()));
    Spec s;
    s.w = 3;
    s.h = 3;
    s.bits = 24;
    s.pixels.assign(12, 7);   // only the bottom row is present
    Decode(MakeBmp(s), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 2), (TRGB{7, 7, 7}));
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{0, 0, 0}));
}

TEST(BmpRead, ParamsOnlyLeavesTheBitmap) {
    Decoded d;
    d.bitmap.SetSize(5, 5);
    std::memset(d.bitmap.PixelBlock(), 0x3C, size_t(d.bitmap.ImageSize()));
    Decode(ReadFile(kFixtures + "im_8bit.bmp"), d, 0, true);
    EXPECT_FALSE(d.aborted);
    EXPECT_EQ(d.params.Width, 23);
    EXPECT_EQ(d.params.Height, 11);
    EXPECT_EQ(d.params.BitsPerSample, 8);
    EXPECT_EQ(d.params.PaletteCount, 256);
    ASSERT_EQ(d.bitmap.Width(), 5);
    EXPECT_EQ(d.bitmap.ScanLine(2)[7], 0x3C);
}

TEST(BmpRead, BadMagicLeavesParameters) {
    std::vector<uint8_t> file = ReadFile(kFixtures + "im_24bit.bmp");
    file[1] = 'A';
    Decoded d;
    d.params.Width = 1234;
    d.params.BmpVersion = 7;
    Decode(file, d);
    EXPECT_TRUE(d.aborted);
    EXPECT_EQ(d.params.Width, 1234);
    EXPECT_EQ(d.params.BmpVersion, 7);
}

TEST(BmpRead, HostileHeadersSetTheAbortFlag) {
    const std::vector<uint8_t> good = MakeBmp([] {
        Spec s;
        s.w = 4;
        s.h = 2;
        s.bits = 8;
        s.palette = GreyPalette(4);
        s.pixels.assign(8, 1);
        return s;
    }());
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases;
    auto with = [&](const char* what, auto change) {
        std::vector<uint8_t> f = good;
        change(f);
        cases.push_back({what, f});
    };
    with("colours used 0x7FFFFFFF", [](auto& f) { Put32(f, 46, 0x7FFFFFFF); });
    with("colours used 257", [](auto& f) { Put32(f, 46, 257); });
    with("header size 0", [](auto& f) { Put32(f, 14, 0); });
    with("header size 11", [](auto& f) { Put32(f, 14, 11); });
    with("header size 0xFFFFFFF0", [](auto& f) { Put32(f, 14, 0xFFFFFFF0); });
    with("header past the end", [](auto& f) { Put32(f, 14, uint32_t(f.size())); });
    with("data offset past the end", [](auto& f) { Put32(f, 10, 0x7FFFFFF0); });
    with("data offset at the end", [](auto& f) { Put32(f, 10, uint32_t(f.size())); });
    with("width -5", [](auto& f) { Put32(f, 18, uint32_t(-5)); });
    with("width 0", [](auto& f) { Put32(f, 18, 0); });
    with("height 0", [](auto& f) { Put32(f, 22, 0); });
    with("height INT_MIN", [](auto& f) { Put32(f, 22, 0x80000000u); });
    with("height -3 with RLE8", [](auto& f) {
        Put32(f, 22, uint32_t(-3));
        Put32(f, 30, 1);
    });
    with("100000 x 100000", [](auto& f) {
        Put32(f, 18, 100000);
        Put32(f, 22, 100000);
    });
    with("width 2^30 at 32 bits", [](auto& f) {
        Put32(f, 18, 1u << 30);
        Put32(f, 22, 1);
        Put16(f, 28, 32);
    });
    with("bit count 2", [](auto& f) { Put16(f, 28, 2); });
    with("bit count 0 (embedded JPEG)", [](auto& f) {
        Put16(f, 28, 0);
        Put32(f, 30, 4);
    });
    with("8 bits with RLE4", [](auto& f) { Put32(f, 30, 2); });
    with("1 bit with RLE8", [](auto& f) {
        Put16(f, 28, 1);
        Put32(f, 30, 1);
    });
    with("bit fields at 8 bits", [](auto& f) { Put32(f, 30, 3); });
    with("palette cut off", [](auto& f) { f.resize(60); });
    with("shorter than the file header", [](auto& f) { f.resize(10); });
    with("file header only", [](auto& f) { f.resize(14); });
    with("empty stream", [](auto& f) { f.clear(); });

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool paramsOnly : {false, true}) {
            Decoded d;
            Decode(c.file, d, 0, paramsOnly);
            // Structural faults are found in params-only reads too; unsupported pixel
            // layouts only when the pixels are wanted.
            if (!paramsOnly) {
                EXPECT_TRUE(d.aborted);
            }
        }
    }
}

TEST(BmpRead, DecodeBudgetAgainstTinyFiles) {
    // 4096 x 4096 at 24 bits is 48 MB of bitmap: refused for a few bytes of data, accepted
    // for run-length data of a real (if uniform) picture.
    Spec s;
    s.w = 4096;
    s.h = 4096;
    s.bits = 8;
    s.compression = 1;
    s.palette = GreyPalette(4);
    s.pixels = {0, 1};
    {
        Decoded d;
        Decode(MakeBmp(s), d);
        EXPECT_TRUE(d.aborted);
    }
    s.pixels.clear();
    for (int y = 0; y < 4096; ++y) {
        for (int k = 0; k < 16; ++k) s.pixels.insert(s.pixels.end(), {255, 3});
        s.pixels.insert(s.pixels.end(), {16, 3, 0, 0});
    }
    {
        Decoded d;
        Decode(MakeBmp(s), d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(PixelOf(d.bitmap, 4095, 0), GreyPalette(4)[3]);
        EXPECT_EQ(PixelOf(d.bitmap, 0, 4095), GreyPalette(4)[3]);
    }
    // Uncompressed: a header for 3000 x 3000 with one row of data is refused too.
    Spec u;
    u.w = 3000;
    u.h = 3000;
    u.bits = 24;
    u.pixels.assign(9000, 1);
    Decoded d;
    Decode(MakeBmp(u), d);
    EXPECT_TRUE(d.aborted);
}

TEST(BmpRead, SizeLimitIsNeverTrustedBeyondTheStream) {
    // A file size that claims far more than the stream, a size limit larger than the
    // stream, and an RLE image size of 0: the data read is what the stream holds.
    Spec s;
    s.w = 4;
    s.h = 1;
    s.bits = 8;
    s.compression = 1;
    s.palette = GreyPalette(4);
    s.pixels = {4, 2, 0, 1};
    std::vector<uint8_t> file = MakeBmp(s);
    Put32(file, 2, 0x7FFFFFFF);
    Put32(file, 34, 0);
    for (int64_t limit : {int64_t(0), int64_t(1) << 40, int64_t(3)}) {
        Decoded d;
        Decode(file, d, limit);
        ASSERT_FALSE(d.aborted) << limit;
        EXPECT_EQ(PixelOf(d.bitmap, 3, 0), GreyPalette(4)[2]) << limit;
    }
}

namespace {

struct ProgressLog {
    std::vector<int> values;
    bool* abort = nullptr;
    int abortAt = -1;
    void OnProgress(TObject*, int per) {
        values.push_back(per);
        if (int(values.size()) == abortAt && abort) *abort = true;
    }
};

}  // namespace

TEST(BmpRead, ProgressAndAbortPerRow) {
    Spec s;
    s.w = 2;
    s.h = 8;
    s.bits = 24;
    s.pixels.assign(8 * 8, 9);
    const std::vector<uint8_t> file = MakeBmp(s);
    {
        TMemoryStream m;
        StreamOf(file, m);
        TBitmap b;
        TLXIOParams p(nullptr);
        bool aborted = false;
        ProgressLog log;
        TProgressRec pr;
        pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
        pr.Aborting = &aborted;
        BmpDecodeStream(&m, &b, 0, false, pr, p);
        EXPECT_FALSE(aborted);
        EXPECT_EQ(log.values, (std::vector<int>{0, 12, 25, 38, 50, 62, 75, 88}));
    }
    {
        // The event sets the flag before the fourth row: three rows (from the bottom) read.
        TMemoryStream m;
        StreamOf(file, m);
        TBitmap b;
        TLXIOParams p(nullptr);
        bool aborted = false;
        ProgressLog log;
        log.abort = &aborted;
        log.abortAt = 4;
        TProgressRec pr;
        pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
        pr.Aborting = &aborted;
        BmpDecodeStream(&m, &b, 0, false, pr, p);
        EXPECT_TRUE(aborted);
        EXPECT_EQ(PixelOf(b, 0, 5), (TRGB{9, 9, 9}));
        EXPECT_EQ(PixelOf(b, 0, 4), (TRGB{0, 0, 0}));
    }
}

TEST(BmpRead, ResolutionRounding) {
    // A value that cannot be mistaken for a file's own.
    const int screen = ScreenPixelsPerInch();
    SetScreenPixelsPerInch(77);
    struct Case {
        int32_t ppm;
        int dpi;   // -1: none in the file, the library's default
    } cases[] = {{3780, 96}, {11811, 300}, {2835, 72}, {39, 1}, {19, -1}, {0, -1}, {-3780, -1}};
    for (const Case& c : cases) {
        Spec s;
        s.w = 1;
        s.h = 1;
        s.bits = 24;
        s.pixels.assign(4, 0);
        std::vector<uint8_t> f = MakeBmp(s);
        Put32(f, 38, uint32_t(c.ppm));
        Put32(f, 42, 3780);
        Decoded d;
        Decode(f, d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(d.params.DpiX, c.dpi < 0 ? 77 : c.dpi) << c.ppm;
        EXPECT_EQ(d.params.DpiY, 96);
    }
    // OS/2 core headers carry no resolution.
    Decoded os2;
    Decode(ReadFile(kFixtures + "im_os2_24bit.bmp"), os2);
    EXPECT_EQ(os2.params.DpiX, 77);
    EXPECT_EQ(os2.params.DpiY, 77);
    SetScreenPixelsPerInch(screen);
}

// ---- Writer ----

TEST(BmpWrite, RleGoldenRows) {
    std::vector<uint8_t> out(size_t(BmpRLEBufferSize(600)));
    auto enc8 = [&](std::vector<uint8_t> idx) {
        const int n = BmpEncodeRLE8(idx.data(), int(idx.size()), out.data());
        return std::vector<uint8_t>(out.begin(), out.begin() + n);
    };
    auto enc4 = [&](std::vector<uint8_t> idx) {
        const int n = BmpEncodeRLE4(idx.data(), int(idx.size()), out.data());
        return std::vector<uint8_t>(out.begin(), out.begin() + n);
    };
    EXPECT_EQ(enc8(std::vector<uint8_t>(600, 7)),
              (std::vector<uint8_t>{0xFF, 7, 0xFF, 7, 0x5A, 7, 0, 0}));
    EXPECT_EQ(enc4({1, 2, 3}), (std::vector<uint8_t>{0, 3, 0x12, 0x30, 0, 0}));
    EXPECT_EQ(enc4({1, 2, 3, 4, 5}), (std::vector<uint8_t>{0, 5, 0x12, 0x34, 0x50, 0, 0, 0}));
    EXPECT_EQ(enc4({5}), (std::vector<uint8_t>{1, 0x50, 0, 0}));
    EXPECT_EQ(enc4({1, 2}), (std::vector<uint8_t>{2, 0x12, 0, 0}));
    EXPECT_EQ(enc8({1, 2}), (std::vector<uint8_t>{1, 1, 1, 2, 0, 0}));
    // The stretch before a run is flushed first: two pixels as two runs of 1.
    EXPECT_EQ(enc8({1, 2, 3, 3, 3, 4}), (std::vector<uint8_t>{1, 1, 1, 2, 3, 3, 1, 4, 0, 0}));
    EXPECT_EQ(enc8({1, 2, 3, 4, 4}), (std::vector<uint8_t>{0, 3, 1, 2, 3, 0, 2, 4, 0, 0}));
    EXPECT_EQ(enc4({6, 6, 6, 1, 2, 3, 4}), (std::vector<uint8_t>{3, 0x66, 0, 4, 0x12, 0x34, 0, 0}));

    // A literal stretch longer than 255 goes out as 255 and the rest.
    std::vector<uint8_t> alt(256);
    for (size_t i = 0; i < alt.size(); ++i) alt[i] = uint8_t(i & 1);
    const std::vector<uint8_t> lit = enc8(alt);
    ASSERT_EQ(lit.size(), size_t(2 + 255 + 1 + 2 + 2));
    EXPECT_EQ(lit[0], 0);
    EXPECT_EQ(lit[1], 255);
    EXPECT_EQ(lit[257], 0);   // pad byte
    EXPECT_EQ(lit[258], 1);
    EXPECT_EQ(lit[259], 1);   // the last pixel as a run of 1
}

namespace {

// Deterministic picture with Colours distinct colours (or a smooth gradient when 0).
void FillPicture(TBitmap& b, int w, int h, int colours) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            TRGB c;
            if (colours > 0) {
                const int k = ((x / 3) + y * 2) % colours;
                c = TRGB{uint8_t(k * 40 % 256), uint8_t(k * 97 % 256), uint8_t(255 - k * 16)};
            } else {
                c = TRGB{uint8_t(x * 9), uint8_t(y * 17), uint8_t((x + y) * 5)};
            }
            row[x * 3] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
        }
    }
}

std::vector<uint8_t> Encode(TBitmap& b, TLXIOParams& p, bool* abortedOut = nullptr) {
    TMemoryStream m;
    bool aborted = false;
    TProgressRec pr;
    pr.Aborting = &aborted;
    BmpEncodeStream(&m, &b, p, pr);
    if (abortedOut) *abortedOut = aborted;
    else EXPECT_FALSE(aborted);
    return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

// Pillow's view of a file: its mode, then the palette indexes (Indexes) or RGB bytes.
bool PilDecode(const std::string& path, bool Indexes, std::string& mode, std::vector<uint8_t>& data) {
    const std::string out = path + ".pil";
    const std::string cmd = "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                            "m = im.mode; d = im.tobytes() if sys.argv[3] == 'i' else im.convert('RGB').tobytes(); "
                            "open(sys.argv[2], 'wb').write(m.encode() + b'\\n' + d)\" " +
                            path + " " + out + (Indexes ? " i" : " c");
    if (std::system(cmd.c_str()) != 0) return false;
    std::vector<uint8_t> all = ReadFile(out);
    std::remove(out.c_str());
    auto nl = std::find(all.begin(), all.end(), '\n');
    if (nl == all.end()) return false;
    mode.assign(all.begin(), nl);
    data.assign(nl + 1, all.end());
    return true;
}

bool ImDecode(const std::string& path, Picture& ppm) {
    return ToolDecode("convert " + path + " -alpha off -depth 8 " + path + ".ppm 2>/dev/null", path + ".ppm", ppm);
}

}  // namespace

struct WriteCase {
    int bits, samples;   // BitsPerSample, SamplesPerPixel as given to the writer
    int version, compression;
    int colours;         // of the picture; 0 = gradient
    int fileBits, headerSize;
    uint32_t fileCompression;
};

class BmpWriteRoundTrip : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BmpWriteRoundTrip, ToolsReadWhatWeWrite) {
    const WriteCase& c = GetParam();
    const int w = 37, h = 9;
    TBitmap pic;
    FillPicture(pic, w, h, c.colours);
    TLXIOParams p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.BmpVersion = uint8_t(c.version);
    p.BmpCompression = uint8_t(c.compression);
    p.DpiX = 96;
    p.DpiY = 300;
    const std::vector<uint8_t> file = Encode(pic, p);
    ASSERT_GT(file.size(), 54u);

    // Headers as rewritten at the end.
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Get32(file, 2), file.size());
    EXPECT_EQ(Get32(file, 14), uint32_t(c.headerSize));
    const int ncol = c.fileBits <= 8 ? 1 << c.fileBits : 0;
    const uint32_t paletteEnd = 14 + uint32_t(c.headerSize) + uint32_t(ncol) * (c.headerSize == 12 ? 3 : 4);
    EXPECT_EQ(Get32(file, 10), paletteEnd);
    if (c.headerSize == 12) {
        EXPECT_EQ(Get16(file, 24), c.fileBits);
    } else {
        EXPECT_EQ(Get16(file, 28), c.fileBits);
        EXPECT_EQ(Get32(file, 30), c.fileCompression);
        EXPECT_EQ(Get32(file, 34), file.size() - paletteEnd);
        EXPECT_EQ(Get32(file, 38), 3780u);
        EXPECT_EQ(Get32(file, 42), 11811u);
        EXPECT_EQ(Get32(file, 46), uint32_t(ncol));
    }
    if (c.fileCompression != 0) {
        EXPECT_EQ(file[file.size() - 2], 0);
        EXPECT_EQ(file[file.size() - 1], 1);
    }

    // The colour each pixel should have: its own, its palette entry, or the 1-bit result.
    TBitmap expect;
    expect.SetPixelFormat(pf24bit);
    expect.SetSize(w, h);
    std::vector<int> indexes(size_t(w) * h, -1);
    if (c.fileBits == 4 || c.fileBits == 8) {
        ASSERT_EQ(p.PaletteCount, ncol);
        std::vector<TRGB> pal(static_cast<size_t>(ncol));
        TLXQuantizer q(&pic, pal, ncol);
        for (int i = 0; i < ncol; ++i) EXPECT_EQ(pal[size_t(i)], p.Palette[size_t(i)]) << i;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int k = q.MapColor(PixelOf(pic, x, y));
                indexes[size_t(y) * w + x] = k;
                const TRGB e = pal[size_t(k)];
                std::memcpy(expect.ScanLine(y) + x * 3, &e, 3);
            }
    } else {
        for (int y = 0; y < h; ++y) std::memcpy(expect.ScanLine(y), pic.ScanLine(y), size_t(w) * 3);
    }

    // Our own reader.
    {
        Decoded d;
        Decode(file, d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(d.params.BmpVersion, c.headerSize == 12 ? 2 : c.headerSize == 64 ? 3 : 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                TRGB got = PixelOf(d.bitmap, x, y);
                if (c.fileBits == 1) got = p.Palette[got.r ? 1 : 0];
                ASSERT_EQ(got, PixelOf(expect, x, y)) << x << "," << y;
            }
    }

    const std::string path = TempPath("rt_" + std::to_string(c.fileBits) + "_" + std::to_string(c.headerSize) +
                                      "_" + std::to_string(c.fileCompression) + ".bmp");
    WriteFile(path, file);
    // ImageMagick: the same colours. It reads the palette of a 64-byte header wrongly, and
    // Pillow 9.4 misreads RLE4 absolute runs, so each is asked only what it reads right.
    const bool palette = c.fileBits <= 8;
    if (HaveTool("convert") && !(palette && c.headerSize == 64)) {
        Picture ppm;
        ASSERT_TRUE(ImDecode(path, ppm));
        ASSERT_EQ(ppm.w, w);
        ASSERT_EQ(ppm.h, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(ppm.At(x, y), PixelOf(expect, x, y)) << x << "," << y;
    }
    // Pillow: for 4 and 8 bits the very palette indexes we chose.
    if (HavePil() && c.fileCompression != 2) {
        std::string mode;
        std::vector<uint8_t> data;
        const bool wantIndexes = c.fileBits == 4 || c.fileBits == 8;
        ASSERT_TRUE(PilDecode(path, wantIndexes, mode, data));
        if (wantIndexes) {
            ASSERT_EQ(mode, "P");
            ASSERT_EQ(data.size(), size_t(w) * h);
            for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(int(data[i]), indexes[i]) << i;
        } else {
            ASSERT_EQ(data.size(), size_t(w) * h * 3);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint8_t* q = &data[(size_t(y) * w + x) * 3];
                    ASSERT_EQ((TRGB{q[2], q[1], q[0]}), PixelOf(expect, x, y)) << x << "," << y;
                }
        }
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, BmpWriteRoundTrip,
    ::testing::Values(
        // bits, samples, version, compression, colours -> file bits, header, compression
        WriteCase{8, 3, 1, 0, 0, 24, 40, 0}, WriteCase{8, 3, 2, 0, 0, 24, 12, 0},
        WriteCase{8, 3, 3, 0, 0, 24, 64, 0}, WriteCase{8, 3, 0, 1, 0, 24, 40, 0},
        WriteCase{8, 1, 1, 0, 0, 8, 40, 0}, WriteCase{8, 1, 1, 1, 0, 8, 40, 1},
        WriteCase{8, 1, 2, 1, 0, 8, 12, 0}, WriteCase{8, 1, 3, 1, 20, 8, 64, 1},
        WriteCase{8, 1, 1, 1, 5, 8, 40, 1},
        WriteCase{4, 1, 1, 0, 0, 4, 40, 0}, WriteCase{4, 1, 1, 1, 0, 4, 40, 2},
        WriteCase{4, 1, 2, 0, 12, 4, 12, 0}, WriteCase{4, 1, 3, 1, 12, 4, 64, 2},
        WriteCase{1, 1, 1, 0, 2, 1, 40, 0}, WriteCase{1, 1, 2, 0, 2, 1, 12, 0},
        WriteCase{1, 1, 3, 1, 2, 1, 64, 0}),
    [](const ::testing::TestParamInfo<WriteCase>& i) {
        const WriteCase& c = i.param;
        return "bits" + std::to_string(c.fileBits) + "_hdr" + std::to_string(c.headerSize) + "_comp" +
               std::to_string(c.fileCompression) + "_v" + std::to_string(c.version) + "_rle" +
               std::to_string(c.compression) + "_col" + std::to_string(c.colours);
    });

TEST(BmpWrite, OneBitSources) {
    const int w = 19, h = 5;
    {
        // A pf1bit bitmap goes out unchanged with the palette black, white.
        TBitmap b;
        b.SetPixelFormat(pf1bit);
        b.SetSize(w, h);
        for (int y = 0; y < h; ++y) b.ScanLine(y)[0] = uint8_t(0x81 + y);
        TLXIOParams p(nullptr);
        p.BitsPerSample = 1;
        p.SamplesPerPixel = 1;
        const std::vector<uint8_t> f = Encode(b, p);
        ASSERT_EQ(p.PaletteCount, 2);
        EXPECT_EQ(p.Palette[0], (TRGB{0, 0, 0}));
        EXPECT_EQ(p.Palette[1], (TRGB{255, 255, 255}));
        const size_t data = Get32(f, 10);
        EXPECT_EQ(f[data], uint8_t(0x81 + h - 1));   // bottom row first
        EXPECT_EQ(f[data + 4 * (h - 1)], 0x81);
    }
    {
        // Any other picture is dithered, in a copy: the caller's bitmap is unchanged.
        TBitmap b;
        FillPicture(b, w, h, 0);
        TBitmap before;
        CopyBitmap(&b, &before);
        TLXIOParams p(nullptr);
        p.BitsPerSample = 1;
        Decoded d;
        Decode(Encode(b, p), d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(b.PixelFormat(), pf24bit);
        EXPECT_EQ(std::memcmp(b.PixelBlock(), before.PixelBlock(), size_t(b.ImageSize())), 0);
        EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
        EXPECT_EQ(d.params.Palette[0], (TRGB{0, 0, 0}));
    }
    {
        // Two colours: the darker one is entry 0.
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TRGB c = (x + y) % 3 ? TRGB{200, 220, 240} : TRGB{10, 20, 30};
                std::memcpy(b.ScanLine(y) + x * 3, &c, 3);
            }
        TLXIOParams p(nullptr);
        p.BitsPerSample = 1;
        const std::vector<uint8_t> f = Encode(b, p);
        EXPECT_EQ(p.Palette[0], (TRGB{10, 20, 30}));
        EXPECT_EQ(p.Palette[1], (TRGB{200, 220, 240}));
        Decoded d;
        Decode(f, d);
        ASSERT_FALSE(d.aborted);
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(PixelOf(d.bitmap, x, 0).r != 0, (x % 3) != 0) << x;
    }
}

TEST(BmpWrite, QuantizedPaletteIsZeroPadded) {
    // Three colours in a 16-entry palette: the unused entries are written as zeros.
    TBitmap b;
    FillPicture(b, 12, 4, 3);
    TLXIOParams p(nullptr);
    p.BitsPerSample = 4;
    const std::vector<uint8_t> f = Encode(b, p);
    for (int i = 3; i < 16; ++i) EXPECT_EQ(Get32(f, 54 + 4 * size_t(i)), 0u) << i;
}

TEST(BmpWrite, WideImageFallsBackFromTheOs2Header) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(70000, 1);
    TLXIOParams p(nullptr);
    p.BmpVersion = 2;
    const std::vector<uint8_t> f = Encode(b, p);
    EXPECT_EQ(Get32(f, 14), 40u);
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 70000);
}

namespace {

// Accepts Limit bytes, then writes nothing more.
class ShortStream : public TMemoryStream {
public:
    explicit ShortStream(int64_t limit) : limit_(limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        const int64_t room = std::max<int64_t>(0, limit_ - Position());
        return TMemoryStream::Write(Buffer, std::min(Count, room));
    }
private:
    int64_t limit_;
};

}  // namespace

TEST(BmpWrite, FailedWritesAndAbort) {
    TBitmap b;
    FillPicture(b, 30, 20, 0);
    for (int64_t limit : {0, 10, 60, 500, 1500}) {
        ShortStream s(limit);
        TLXIOParams p(nullptr);
        bool aborted = false;
        TProgressRec pr;
        pr.Aborting = &aborted;
        EXPECT_NO_THROW(BmpEncodeStream(&s, &b, p, pr));
        EXPECT_TRUE(aborted) << limit;
    }
    {
        // Abort from the progress event: the placeholder headers stay (file size 0).
        TMemoryStream m;
        TLXIOParams p(nullptr);
        bool aborted = false;
        ProgressLog log;
        log.abort = &aborted;
        log.abortAt = 5;
        TProgressRec pr;
        pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
        pr.Aborting = &aborted;
        BmpEncodeStream(&m, &b, p, pr);
        EXPECT_TRUE(aborted);
        EXPECT_EQ(log.values.size(), 5u);
        ASSERT_GE(m.Size(), 14);
        std::vector<uint8_t> f(m.Memory(), m.Memory() + m.Size());
        EXPECT_EQ(Get32(f, 2), 0u);
        EXPECT_EQ(Get32(f, 10), 0u);
    }
}

TEST(BmpWrite, AtAStreamPosition) {
    // Offsets in the headers count from the start of the image, not of the stream.
    TBitmap b;
    FillPicture(b, 5, 3, 0);
    TLXIOParams p(nullptr);
    TMemoryStream m;
    const uint8_t junk[21] = {1};
    m.Write(junk, sizeof junk);
    bool aborted = false;
    TProgressRec pr;
    pr.Aborting = &aborted;
    BmpEncodeStream(&m, &b, p, pr);
    ASSERT_FALSE(aborted);
    EXPECT_EQ(m.Position(), m.Size());
    std::vector<uint8_t> f(m.Memory() + 21, m.Memory() + m.Size());
    EXPECT_EQ(Get32(f, 2), f.size());
    EXPECT_EQ(Get32(f, 10), 54u);
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 4, 2), PixelOf(b, 4, 2));
}

// ---- Mutated fixtures through the reader (run under the sanitizers) ----

