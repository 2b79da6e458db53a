// Targa reader and writer: outside-tool fixtures decoded bit-exact, hand-built edge cases,
// the extension area and footer, round trips read back by the tools, mutated files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "LuxIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxtgafil.h"
#include "lxutils.h"

using namespace codec_test;

namespace {

struct Decoded {
    bool aborted = false;
    TBitmap bitmap;
    TLXIOParams params{nullptr};
};

void Decode(const Bytes& data, Decoded& out, bool paramsOnly = false, int64_t prefix = 0) {
    TMemoryStream s;
    Bytes all(size_t(prefix), 0x5A);
    all.insert(all.end(), data.begin(), data.end());
    StreamOf(all, s);
    s.SetPosition(prefix);
    TProgressRec pr;
    pr.Aborting = &out.aborted;
    TgaDecodeStream(&s, &out.bitmap, out.params, paramsOnly, pr);
}

void Put16(Bytes& v, size_t at, int x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

Bytes Header(int type, int w, int h, int depth, int descriptor = 0, int mapLength = 0,
             int mapBits = 24, int mapFirst = 0) {
    Bytes hd(18, 0);
    hd[1] = mapLength ? 1 : 0;
    hd[2] = uint8_t(type);
    Put16(hd, 3, mapFirst);
    Put16(hd, 5, mapLength);
    hd[7] = uint8_t(mapLength ? mapBits : 0);
    Put16(hd, 12, w);
    Put16(hd, 14, h);
    hd[16] = uint8_t(depth);
    hd[17] = uint8_t(descriptor);
    return hd;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

double TodayNumber() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    // Days from 1899-12-30 through the C library's own calendar.
    std::tm base{};
    base.tm_year = -1;
    base.tm_mon = 11;
    base.tm_mday = 30;
    base.tm_hour = 12;
    std::tm day = tm;
    day.tm_hour = 12;
    day.tm_min = day.tm_sec = 0;
    day.tm_isdst = base.tm_isdst = -1;
    return std::round(std::difftime(timegm(&day), timegm(&base)) / 86400.0);
}

}  // namespace

// ---- Files made by ImageMagick and netpbm ----

struct TgaFixtureCase {
    const char* name;
    int bits, samples;
    bool compressed, grey;
};

class TgaFixture : public ::testing::TestWithParam<TgaFixtureCase> {};

TEST_P(TgaFixture, DecodesToTheToolsPixels) {
    const TgaFixtureCase& c = GetParam();
    const std::string base = FixtureDir("tga") + c.name;
    Decoded d;
    Decode(ReadFile(base + ".tga"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(d.params.BitsPerSample, c.bits);
    EXPECT_EQ(d.params.SamplesPerPixel, c.samples);
    EXPECT_EQ(d.params.TgaCompressed, c.compressed);
    EXPECT_EQ(d.params.TgaGrayLevel, c.grey);
    ExpectSamePixels(d.bitmap, ReadNetpbm(base + ".ppm"), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, TgaFixture,
    ::testing::Values(TgaFixtureCase{"im_24bit", 8, 3, false, false},
                      TgaFixtureCase{"im_24bit_rle", 8, 3, true, false},
                      TgaFixtureCase{"im_32bit_rle", 8, 4, true, false},
                      TgaFixtureCase{"im_8bit_map", 8, 1, false, false},
                      TgaFixtureCase{"im_8bit_map_rle", 8, 1, true, false},
                      TgaFixtureCase{"im_grey_rle", 8, 1, true, true},
                      TgaFixtureCase{"nb_24bit", 8, 3, false, false},
                      TgaFixtureCase{"nb_24bit_rle", 8, 3, true, false},
                      TgaFixtureCase{"nb_8bit_map", 8, 1, false, false},
                      TgaFixtureCase{"nb_8bit_map_rle", 8, 1, true, false},
                      TgaFixtureCase{"nb_grey", 8, 1, false, true},
                      // Grey and alpha in 16 bits (not 5-5-5 colour); the alpha is dropped.
                      TgaFixtureCase{"pil_grey_alpha", 8, 2, false, true},
                      TgaFixtureCase{"pil_grey_alpha_rle", 8, 2, true, true},
                      // Packets that run on across row ends continue in the next row.
                      TgaFixtureCase{"gen_rle_across_rows", 8, 3, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Hand-made files ----

TEST(TgaRead, BottomUpWithoutFooterGetsTheDefaults) {
    SetScreenPixelsPerInch(96);
    // 2 x 2, rows from the bottom: the first row in the file is the lower one.
    Bytes f = Cat({Header(2, 2, 2, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
    Put16(f, 8, 7);
    Put16(f, 10, 9);
    Decoded d;
    d.params.TgaAuthor = "old";
    d.params.TgaGamma = 1;
    d.params.TgaAspectRatio = 3;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 1), (TRGB{1, 2, 3}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{10, 11, 12}));
    EXPECT_EQ(d.params.TgaAuthor, "");
    EXPECT_EQ(d.params.TgaJobName, "");
    EXPECT_EQ(d.params.TgaAspectRatio, 1.0);
    EXPECT_EQ(d.params.TgaGamma, 2.2);
    EXPECT_NEAR(d.params.TgaDate, TodayNumber(), 1.0);
    EXPECT_EQ(d.params.TgaXPos, 7);
    EXPECT_EQ(d.params.TgaYPos, 9);
    EXPECT_EQ(d.params.DpiX, 96);
    EXPECT_FALSE(d.params.TgaCompressed);
}

TEST(TgaRead, OrientationBits) {
    // 3 x 2 grey; the file's pixels are 0..5 in file order.
    const Bytes px{0, 1, 2, 3, 4, 5};
    struct Case {
        int descriptor;
        int want[2][3];   // grey levels of the bitmap, rows from the top
    };
    const Case cases[] = {
        {0x00, {{3, 4, 5}, {0, 1, 2}}},
        {0x20, {{0, 1, 2}, {3, 4, 5}}},
        {0x10, {{5, 4, 3}, {2, 1, 0}}},
        {0x30, {{2, 1, 0}, {5, 4, 3}}},
    };
    for (const Case& c : cases) {
        Decoded d;
        Decode(Cat({Header(3, 3, 2, 8, c.descriptor), px}), d);
        ASSERT_FALSE(d.aborted);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(PixelOf(d.bitmap, x, y).g, c.want[y][x]) << c.descriptor << " " << x << "," << y;
    }
}

TEST(TgaRead, RunPastTheRowEndGoesOn) {
    // 3 x 2 grey, top-down: a run of 5 fills row 0 and the start of row 1, where the next
    // packet goes on; what is left of it past the image is dropped.
    const Bytes f = Cat({Header(11, 3, 2, 8, 0x20), {0x84, 9, 0x02, 1, 2, 3}});
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    const int want[2][3] = {{9, 9, 9}, {9, 9, 1}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelOf(d.bitmap, x, y).r, want[y][x]) << x << "," << y;
}

TEST(TgaRead, SixteenBitPixels) {
    const Bytes f = Cat({Header(2, 3, 1, 16), {0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C}});
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    // 5-bit channels widened by repeating their bits: white stays white.
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{255, 255, 255}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{255, 0, 0}));   // blue
    EXPECT_EQ(PixelOf(d.bitmap, 2, 0), (TRGB{0, 0, 255}));   // red
    EXPECT_EQ(d.params.BitsPerSample, 5);
    EXPECT_EQ(d.params.SamplesPerPixel, 3);
}

TEST(TgaRead, OneBitRowsAndMirror) {
    // 10 x 1: bits 1100000001 MSB first; mirrored it reads 1000000011.
    for (int descriptor : {0, 0x10}) {
        Decoded d;
        Decode(Cat({Header(3, 10, 1, 1, descriptor), {0xC0, 0x40}}), d);
        ASSERT_FALSE(d.aborted);
        EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
        const char* want = descriptor ? "1000000011" : "1100000001";
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(PixelOf(d.bitmap, x, 0).r == 255, want[x] == '1') << descriptor << " " << x;
    }
}

TEST(TgaRead, ColourMapEntriesAndTheCube) {
    // A 16-bit map of 2 entries from index 5; index 0 keeps the colour cube's first entry.
    const Bytes f = Cat({Header(1, 3, 1, 8, 0, 2, 16, 5), {0x00, 0x7C, 0x1F, 0x00}, {5, 6, 0}});
    Decoded d;
    d.params.TgaGrayLevel = true;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{0, 0, 255}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{255, 0, 0}));
    EXPECT_EQ(PixelOf(d.bitmap, 2, 0), (TRGB{60, 28, 28}));
    EXPECT_FALSE(d.params.TgaGrayLevel);
    // The parameters get map-length entries from working entry 0 on.
    ASSERT_EQ(d.params.PaletteCount, 2);
    EXPECT_EQ(d.params.Palette[1], (TRGB{124, 28, 28}));
    // A map reaching past entry 255 is read over; the pixels after it still decode.
    Bytes big = Cat({Header(1, 1, 1, 8, 0, 300, 24, 100), Bytes(900, 7), {200}});
    Decoded e;
    Decode(big, e);
    ASSERT_FALSE(e.aborted);
    EXPECT_EQ(PixelOf(e.bitmap, 0, 0), (TRGB{7, 7, 7}));
}

TEST(TgaRead, HostileHeadersSetTheAbortFlag) {
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"type 4", Cat({Header(4, 2, 2, 24), Bytes(12, 0)})},
        {"depth 15", Cat({Header(2, 2, 2, 15), Bytes(12, 0)})},
        {"cut header", Bytes(10, 2)},
        {"width 0", Cat({Header(2, 0, 2, 24), Bytes(12, 0)})},
        {"no pixel data", Header(2, 2, 2, 24)},
        {"map cut short", Cat({Header(1, 2, 2, 8, 0, 256), Bytes(20, 1)})},
        {"huge picture in a few bytes", Cat({Header(10, 65535, 65535, 24), {0xFF, 1, 2, 3}})},
        {"RLE at 4 bits", Cat({Header(9, 2, 2, 4, 0, 16), Bytes(48 + 8, 0)})},
    };
    for (const Case& c : cases) {
        Decoded d;
        d.bitmap.SetPixelFormat(pf24bit);
        d.bitmap.SetSize(3, 3);
        Decode(c.file, d);
        EXPECT_TRUE(d.aborted) << c.name;
        EXPECT_EQ(d.bitmap.Width(), 3) << c.name;
    }
}

TEST(TgaRead, ParamsOnlyLeavesTheBitmap) {
    Decoded d;
    d.bitmap.SetPixelFormat(pf24bit);
    d.bitmap.SetSize(3, 3);
    Decode(ReadFile(FixtureDir("tga") + "nb_8bit_map.tga"), d, true);
    EXPECT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 3);
    EXPECT_EQ(d.params.Width, 23);
    EXPECT_EQ(d.params.Height, 11);
    EXPECT_EQ(d.params.PaletteCount, 40);
}

// ---- Writing ----

namespace {

Bytes Encode(TBitmap& b, TLXIOParams& p, bool* abortedOut = nullptr) {
    TMemoryStream m;
    bool aborted = false;
    TProgressRec pr;
    pr.Aborting = &aborted;
    TgaEncodeStream(&m, &b, p, pr);
    if (abortedOut) *abortedOut = aborted;
    else EXPECT_FALSE(aborted);
    return StreamBytes(m);
}

}  // namespace

TEST(TgaWrite, RleGoldenRows) {
    struct Case {
        const char* name;
        Bytes in;
        int pixelBytes;
        Bytes out;
    };
    const Case cases[] = {
        {"one run", {4, 4, 4}, 1, {0x82, 4}},
        {"raw then run", {1, 2, 3, 3}, 1, {0x01, 1, 2, 0x81, 3}},
        {"last pixel joins the raw packet", {5, 5, 6}, 1, {0x81, 5, 0x00, 6}},
        {"24-bit run", {1, 2, 3, 1, 2, 3}, 3, {0x81, 1, 2, 3}},
        {"single", {9}, 1, {0x00, 9}},
    };
    for (const Case& c : cases) {
        const int n = int(c.in.size()) / c.pixelBytes;
        Bytes dest(size_t(n) * size_t(c.pixelBytes + 1));
        dest.resize(size_t(TgaEncodeRowRLE(c.in.data(), n, c.pixelBytes, dest.data())));
        EXPECT_EQ(dest, c.out) << c.name;
    }
    // 130 equal pixels: a run of 128 and a run of 2; 130 different: raw 128 and raw 2.
    Bytes same(130, 7), diff(130);
    for (int i = 0; i < 130; ++i) diff[size_t(i)] = uint8_t(i);
    Bytes dest(300);
    dest.resize(size_t(TgaEncodeRowRLE(same.data(), 130, 1, dest.data())));
    EXPECT_EQ(dest, (Bytes{0xFF, 7, 0x81, 7}));
    dest.assign(300, 0);
    dest.resize(size_t(TgaEncodeRowRLE(diff.data(), 130, 1, dest.data())));
    ASSERT_EQ(dest.size(), 1u + 128 + 1 + 2);
    EXPECT_EQ(dest[0], 127);
    EXPECT_EQ(dest[129], 1);
}

TEST(TgaWrite, ExtensionAreaAndFooterRoundTrip) {
    TBitmap b;
    FillPicture(b, 17, 6, 0);
    TLXIOParams p(nullptr);
    p.TgaCompressed = true;
    p.TgaAuthor = "Ann Author";
    p.TgaJobName = "Job 7";
    p.TgaImageName = "picture id";
    p.TgaKeyColor = TRGB{10, 20, 30};
    p.TgaAspectRatio = 1.23456;
    p.TgaGamma = 1.8;
    p.TgaDate = 45000.5;   // 2023-03-15 12:00
    p.TgaXPos = 3;
    const Bytes f = Encode(b, p);
    EXPECT_EQ(f[2], 10);
    EXPECT_EQ(f[0], 11);
    EXPECT_EQ(f[17], 0x20);
    ASSERT_GT(f.size(), 26u + 495u);
    EXPECT_EQ(std::string(f.end() - 18, f.end() - 1), "TRUEVISION-XFILE.");
    EXPECT_EQ(f.back(), 0);

    Decoded d;
    Decode(f, d, false, 5);   // at a stream position: offsets count from the image's start
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.TgaAuthor, "Ann Author");
    EXPECT_EQ(d.params.TgaJobName, "Job 7");
    EXPECT_EQ(d.params.TgaImageName, "picture id");
    EXPECT_EQ(d.params.TgaKeyColor, (TRGB{10, 20, 30}));
    EXPECT_NEAR(d.params.TgaAspectRatio, 1.2346, 1e-9);
    EXPECT_NEAR(d.params.TgaGamma, 1.8, 1e-9);
    EXPECT_NEAR(d.params.TgaDate, 45000.5, 1e-6);
    EXPECT_EQ(d.params.TgaXPos, 3);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 17; ++x) ASSERT_EQ(PixelOf(d.bitmap, x, y), PixelOf(b, x, y)) << x << "," << y;
    // An invalid date in the file is ignored.
    Bytes bad = f;
    const size_t ext = bad.size() - 26 - 495;
    Put16(bad, ext + 367, 13);
    Decoded e;
    Decode(bad, e);
    EXPECT_NEAR(e.params.TgaDate, TodayNumber(), 1.0);
}

struct TgaWriteCase {
    const char* name;
    int bits, samples;
    bool compressed, grey;
    int colours;   // 0 many, -1 a pf1bit source
    int type, depth;
};

class TgaWriteRoundTrip : public ::testing::TestWithParam<TgaWriteCase> {};

TEST_P(TgaWriteRoundTrip, ReadsBackHereAndInTheTools) {
    const TgaWriteCase& c = GetParam();
    TBitmap b;
    const int w = 21, h = 7;
    if (c.colours < 0) {
        b.SetPixelFormat(pf1bit);
        b.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < (w + 7) / 8; ++x) b.ScanLine(y)[x] = uint8_t(0x5B * (x + 1) + y * 11);
    } else {
        FillPicture(b, w, h, c.colours);
    }
    if (c.grey) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* px = b.ScanLine(y) + x * 3;
                px[0] = px[1] = px[2] = uint8_t(x * 12 + y);
            }
    }
    TLXIOParams p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.TgaCompressed = c.compressed;
    p.TgaGrayLevel = c.grey;
    const Bytes f = Encode(b, p);
    EXPECT_EQ(f[2], c.type);
    EXPECT_EQ(f[16], c.depth);
    if (c.bits == 4) {
        EXPECT_EQ(f[5] | f[6] << 8, 16);   // map entries
    }
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    // 1-bit requests are written as grey levels 0 and 255.
    EXPECT_EQ(d.params.TgaGrayLevel, c.grey || c.bits == 1);
    const bool lossless = c.colours < 0 || c.grey || c.depth == 24;
    if (lossless) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                TRGB want = PixelOf(b, x, y);
                // The grey level: the luminance weights over their sum, so white stays white.
                if (c.grey) want.r = want.g = want.b = uint8_t((want.r * 21 + want.g * 71 + want.b * 7 + 49) / 99);
                ASSERT_EQ(PixelOf(d.bitmap, x, y), want) << c.name << " " << x << "," << y;
            }
    }
    const std::string path = TempPath(std::string("tga_rt_") + c.name + ".tga");
    WriteFile(path, f);
    Picture ref;
    if (HaveTool("tgatoppm") && HaveTool("convert")) {
        ASSERT_TRUE(ToolDecode("tgatoppm " + path + " 2>/dev/null | convert - -depth 8 ppm:" + path + ".ppm",
                               path + ".ppm", ref));
        ExpectSamePixels(d.bitmap, ref, std::string(c.name) + " tgatoppm");
    }
    if (HaveTool("convert")) {
        ASSERT_TRUE(ToolDecode("convert " + path + " -auto-orient -depth 8 ppm:" + path + ".ppm 2>/dev/null", path + ".ppm", ref));
        ExpectSamePixels(d.bitmap, ref, std::string(c.name) + " convert");
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Depths, TgaWriteRoundTrip,
    ::testing::Values(TgaWriteCase{"rgb_rle", 8, 3, true, false, 0, 10, 24},
                      TgaWriteCase{"rgb_plain", 8, 3, false, false, 0, 2, 24},
                      TgaWriteCase{"map256_rle", 8, 1, true, false, 0, 9, 8},
                      TgaWriteCase{"map256_plain", 8, 1, false, false, 5, 1, 8},
                      TgaWriteCase{"grey_rle", 8, 1, true, true, 0, 11, 8},
                      TgaWriteCase{"grey_plain", 8, 1, false, true, 0, 3, 8},
                      // 1- and 4-bit requests: 8-bit grey and an 8-bit map of 16 entries, which
                      // the tools read.
                      TgaWriteCase{"mono", 1, 1, true, false, -1, 11, 8},
                      TgaWriteCase{"two_colours", 1, 1, false, false, 2, 3, 8},
                      TgaWriteCase{"map16", 4, 1, true, false, 4, 9, 8},
                      TgaWriteCase{"mono_as_rgb", 8, 3, true, false, -1, 10, 24}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TgaWrite, FailedWritesAndAbort) {
    TBitmap b;
    FillPicture(b, 30, 20, 0);
    for (int64_t limit : {0, 10, 19, 500, 1800, 30 * 20 * 3 + 100}) {
        ShortStream s(limit);
        TLXIOParams p(nullptr);
        p.TgaCompressed = false;
        bool aborted = false;
        TProgressRec pr;
        pr.Aborting = &aborted;
        EXPECT_NO_THROW(TgaEncodeStream(&s, &b, p, pr));
        EXPECT_TRUE(aborted) << limit;
    }
    TMemoryStream m;
    TLXIOParams p(nullptr);
    bool aborted = false;
    ProgressLog log;
    log.abort = &aborted;
    log.abortAt = 3;
    TProgressRec pr;
    pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
    pr.Aborting = &aborted;
    TgaEncodeStream(&m, &b, p, pr);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(log.values, (std::vector<int>{5, 10, 15}));
}

TEST(TgaProbe, NetpbmLookalikeIsNoTarga) {
    // "P6\n" would be image type 10 at a valid depth byte, but the probe keeps PNM apart.
    Bytes f = Cat({Header(10, 2, 2, 24), Bytes(20, 0)});
    f[0] = 'P';
    f[1] = '6';
    f[2] = '\n';
    TMemoryStream s;
    StreamOf(f, s);
    EXPECT_FALSE(ProbeTgaStream(&s));
    f[0] = 0;   // the same type byte after another first byte is a Targa header
    StreamOf(f, s);
    EXPECT_TRUE(ProbeTgaStream(&s));
}

// ---- Mutated fixtures through the reader (run under the sanitizers) ----

