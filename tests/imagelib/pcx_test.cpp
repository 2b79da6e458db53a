// PCX reader and writer: outside-tool fixtures decoded bit-exact, hand-built edge cases,
// hostile headers, the line coder, round trips read back by the tools, mutated files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LuxIO.h"
#include "PCXFilter.h"
#include "Win32.h"
#include "lxutils.h"
#include "codec_fixture_helpers.h"

using namespace codec_test;

namespace {

struct Decoded {
    bool aborted = false;
    TBitmap bitmap;
    TLXIOParams params{nullptr};
};

void Decode(const Bytes& data, Decoded& out, bool paramsOnly = false, int64_t length = -1) {
    TMemoryStream s;
    StreamOf(data, s);
    TProgressRec pr;
    pr.Aborting = &out.aborted;
    PcxDecodeStream(&s, &out.bitmap, out.params, paramsOnly, pr,
                    length < 0 ? int64_t(data.size()) : length);
}

void Put16(Bytes& v, size_t at, int x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

// A header for w x h with the given layout; data and (for 8 bits) a palette follow.
Bytes Header(int w, int h, int bits, int planes, int bpl, int encoding = 1) {
    Bytes hd(128, 0);
    hd[0] = 10;
    hd[1] = 5;
    hd[2] = uint8_t(encoding);
    hd[3] = uint8_t(bits);
    Put16(hd, 8, w - 1);
    Put16(hd, 10, h - 1);
    Put16(hd, 12, 72);
    Put16(hd, 14, 72);
    hd[65] = uint8_t(planes);
    Put16(hd, 66, bpl);
    return hd;
}

// Palette entry i = (i, 255 - i, i / 2), the byte 12 in front.
Bytes Palette256() {
    Bytes p{12};
    for (int i = 0; i < 256; ++i) {
        p.push_back(uint8_t(i));
        p.push_back(uint8_t(255 - i));
        p.push_back(uint8_t(i / 2));
    }
    return p;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

// ---- Files made by ImageMagick and netpbm ----

struct PcxFixtureCase {
    const char* name;
    int bits, samples;
    TPixelFormat pf;
};

class PcxFixture : public ::testing::TestWithParam<PcxFixtureCase> {};

TEST_P(PcxFixture, DecodesToTheToolsPixels) {
    const PcxFixtureCase& c = GetParam();
    const std::string base = FixtureDir("pcx") + c.name;
    Decoded d;
    Decode(ReadFile(base + ".pcx"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.PixelFormat(), c.pf);
    EXPECT_EQ(d.params.BitsPerSample, c.bits);
    EXPECT_EQ(d.params.SamplesPerPixel, c.samples);
    EXPECT_EQ(d.params.Width, 23);
    EXPECT_EQ(d.params.Height, 11);
    ExpectSamePixels(d.bitmap, ReadNetpbm(base + ".ppm"), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, PcxFixture,
    ::testing::Values(PcxFixtureCase{"im_24bit", 8, 3, pf24bit}, PcxFixtureCase{"im_8bit", 8, 1, pf24bit},
                      PcxFixtureCase{"im_24bit_plain", 8, 3, pf24bit},
                      PcxFixtureCase{"nb_24bit", 8, 3, pf24bit}, PcxFixtureCase{"nb_8bit", 8, 1, pf24bit},
                      PcxFixtureCase{"nb_16col_planes", 4, 1, pf24bit},
                      PcxFixtureCase{"nb_16col_packed", 4, 1, pf24bit},
                      PcxFixtureCase{"nb_1bit", 1, 1, pf1bit}),
    [](const auto& info) { return std::string(info.param.name); });

// PcxCompressed is a write option: reading a file without run-length coding leaves it, so
// the next save still codes its runs (and netpbm, which has no reader for plain files, reads
// it).
TEST(PcxLuxIO, ReadingKeepsTheWriteOption) {
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    for (const bool compressed : {true, false}) {
        io.Params()->PcxCompressed = compressed;
        io.LoadFromFile(FixtureDir("pcx") + "im_24bit_plain.pcx");
        ASSERT_FALSE(io.Aborting);
        EXPECT_EQ(io.Params()->PcxCompressed, compressed);
    }
    io.Params()->PcxCompressed = true;
    io.LoadFromFile(FixtureDir("pcx") + "im_24bit_plain.pcx");
    TempFile out("saved.pcx");
    io.SaveToFile(out.Path());
    ASSERT_FALSE(io.Aborting);
    const Bytes f = ReadFile(out.Path());
    ASSERT_GT(f.size(), 128u);
    EXPECT_EQ(f[2], 1);   // run-length coded
    if (HaveTool("pcxtoppm")) {
        Picture ref;
        ASSERT_TRUE(ToolDecode("pcxtoppm " + out.Path() + " > " + out.Path() + ".ppm 2>/dev/null",
                               out.Path() + ".ppm", ref));
        ExpectSamePixels(bitmap, ref, "pcxtoppm");
    }
}

// ---- Hand-made files ----

TEST(PcxRead, RunCrossingTheLineEndGoesOnInTheNextLine) {
    // 4 x 2 at 8 bits: one run of 6 spans both lines, then two literals.
    const Bytes f = Cat({Header(4, 2, 8, 1, 4), {0xC6, 7, 1, 2}, Palette256()});
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    const TRGB c7{3, 248, 7}, c1{0, 254, 1}, c2{1, 253, 2};
    const TRGB want[2][4] = {{c7, c7, c7, c7}, {c7, c7, c1, c2}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(d.bitmap, x, y), want[y][x]) << x << "," << y;
    ASSERT_EQ(d.params.PaletteCount, 256);
    EXPECT_EQ(d.params.Palette[200], (TRGB{100, 55, 200}));
    // Three 8-bit planes have no palette.
    Decoded rgb;
    Decode(ReadFile(FixtureDir("pcx") + "nb_24bit.pcx"), rgb, true);
    EXPECT_EQ(rgb.params.PaletteCount, 0);
}

TEST(PcxRead, PaletteIsTheLast768BytesOfTheData) {
    // The byte in front of the palette is not checked, and trailing data beyond the given
    // length is not the palette.
    Bytes pal = Palette256();
    pal[0] = 0x55;
    const Bytes f = Cat({Header(2, 1, 8, 1, 2, 0), {5, 6}, pal, Bytes(10, 0xEE)});
    Decoded d;
    Decode(f, d, false, int64_t(f.size()) - 10);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{2, 250, 5}));
    EXPECT_EQ(PixelOf(d.bitmap, 1, 0), (TRGB{3, 249, 6}));
}

TEST(PcxRead, ResolutionAndLayoutParameters) {
    SetScreenPixelsPerInch(96);
    Bytes f = Cat({Header(8, 1, 1, 4, 2), Bytes(8, 0)});
    Put16(f, 12, 300);
    Put16(f, 14, 0);
    f[1] = 3;
    for (int i = 0; i < 48; ++i) f[16 + i] = uint8_t(i * 5);
    Decoded d;
    Decode(f, d, true);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.DpiX, 96);
    EXPECT_EQ(d.params.DpiY, 96);
    EXPECT_EQ(d.params.PcxVersion, 3);
    // Four 1-bit planes are a 16-colour picture.
    EXPECT_EQ(d.params.BitsPerSample, 4);
    EXPECT_EQ(d.params.SamplesPerPixel, 1);
    ASSERT_EQ(d.params.PaletteCount, 16);
    EXPECT_EQ(d.params.Palette[3], (TRGB{55, 50, 45}));   // B, G, R
    EXPECT_EQ(d.bitmap.Width(), 0);   // params only
    Put16(f, 14, 150);
    Decoded e;
    Decode(f, e, true);
    EXPECT_EQ(e.params.DpiX, 300);
    EXPECT_EQ(e.params.DpiY, 150);
}

TEST(PcxRead, FourPlanesAddTheirBits) {
    // 8 x 1: plane k has only pixel k set, so pixel k has index 2^k; pixel 7 has all planes.
    Bytes f = Header(8, 1, 1, 4, 2, 0);
    for (int i = 0; i < 16; ++i) f[16 + 3 * i] = uint8_t(i * 16);   // red = 16 * index
    for (int k = 0; k < 4; ++k) {
        f.push_back(uint8_t((0x80 >> k) | 0x01));
        f.push_back(0);
    }
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    const int want[8] = {1, 2, 4, 8, 0, 0, 0, 15};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(d.bitmap, x, 0).r, want[x] * 16) << x;
}

TEST(PcxRead, ShortDataLeavesTheRestBlack) {
    const Bytes f = Cat({Header(4, 3, 8, 1, 4), {0xC4, 9}, Palette256()});
    Decoded d;
    d.bitmap.SetPixelFormat(pf24bit);
    d.bitmap.SetSize(4, 3);
    std::memset(d.bitmap.PixelBlock(), 0x77, size_t(d.bitmap.ImageSize()));
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    // The palette's own bytes are decoded as data too (as the file claims); rows past the
    // data stay black, never the old picture.
    EXPECT_EQ(PixelOf(d.bitmap, 0, 0), (TRGB{4, 246, 9}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_NE(PixelOf(d.bitmap, x, y), (TRGB{0x77, 0x77, 0x77}));
}

TEST(PcxRead, HostileHeadersSetTheAbortFlag) {
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes bad10 = Cat({Header(4, 1, 8, 1, 4), Bytes(4, 0), Palette256()});
    bad10[0] = 11;
    Bytes bits16 = Header(4, 1, 16, 1, 8);
    Bytes enc2 = Header(4, 1, 8, 3, 4, 2);
    Bytes cut = Header(4, 1, 8, 3, 4);
    cut.resize(100);
    Bytes inverted = Header(4, 1, 8, 3, 4);
    Put16(inverted, 4, 10);   // Xmin past Xmax
    const Case cases[] = {
        {"manufacturer", bad10},
        {"16 bits", Cat({bits16, Bytes(64, 0)})},
        {"encoding 2", Cat({enc2, Bytes(64, 0)})},
        {"Xmin > Xmax", Cat({inverted, Bytes(64, 0)})},
        {"too short for the header", cut},
        {"8 bits without room for the palette", Cat({Header(4, 1, 8, 1, 4), Bytes(100, 0)})},
        {"bytes per line below the width", Cat({Header(40, 1, 8, 3, 20), Bytes(200, 0)})},
        {"bytes per line 0", Cat({Header(4, 1, 8, 3, 0), Bytes(64, 0)})},
        {"huge picture in a few bytes", Cat({Header(65536, 65536, 8, 3, 65535), {0xFF, 0}})},
        {"2 bits, 2 planes", Cat({Header(4, 1, 2, 2, 2), Bytes(64, 0)})},
        {"header only", Header(4, 1, 8, 3, 4)},
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

TEST(PcxRead, ProgressAndAbortPerRow) {
    const Bytes f = ReadFile(FixtureDir("pcx") + "nb_24bit.pcx");
    for (int abortAt : {-1, 4}) {
        TMemoryStream s;
        StreamOf(f, s);
        TBitmap b;
        TLXIOParams p(nullptr);
        bool aborted = false;
        ProgressLog log;
        log.abort = &aborted;
        log.abortAt = abortAt;
        TProgressRec pr;
        pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
        pr.Aborting = &aborted;
        PcxDecodeStream(&s, &b, p, false, pr, int64_t(f.size()));
        if (abortAt < 0) {
            EXPECT_FALSE(aborted);
            const std::vector<int> want{0, 9, 18, 27, 36, 45, 54, 63, 72, 81, 90};
            EXPECT_EQ(log.values, want);
        } else {
            EXPECT_TRUE(aborted);
            EXPECT_EQ(log.values.size(), 4u);
        }
    }
}

// ---- The line coder ----

TEST(PcxWrite, LineCoderGoldenCases) {
    struct Case {
        const char* name;
        Bytes in;
        Bytes out;
    };
    const Case cases[] = {
        {"63 equal bytes are one pair", Bytes(63, 5), {0xFF, 5, 0}},
        {"64 equal bytes: a pair and a literal", Bytes(64, 5), {0xFF, 5, 5}},
        {"64 bytes of 200: two pairs", Bytes(64, 200), {0xFF, 200, 0xC1, 200}},
        {"single high byte is a pair", {1, 0xC0, 2, 0xC1}, {1, 0xC1, 0xC0, 2, 0xC1, 0xC1}},
        {"odd count gets a zero", {3, 3, 4}, {0xC2, 3, 4, 0}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        Bytes dest(c.in.size() * 2 + 2, 0xAA);
        const int n = PcxEncodeLine(dest.data(), c.in.data(), int(c.in.size()), 1, 0);
        dest.resize(size_t(n));
        EXPECT_EQ(dest, c.out) << c.name;
    }
    // Every third byte from an offset: the red channel of a B, G, R row.
    const Bytes bgr{1, 2, 9, 1, 2, 9, 1, 2, 7, 0, 0, 0};
    Bytes dest(16);
    const int n = PcxEncodeLine(dest.data(), bgr.data(), 4, 3, 2);
    dest.resize(size_t(n));
    EXPECT_EQ(dest, (Bytes{0xC2, 9, 7, 0}));
}

// ---- Round trips ----

namespace {

Bytes Encode(TBitmap& b, TLXIOParams& p, bool* abortedOut = nullptr) {
    TMemoryStream m;
    bool aborted = false;
    TProgressRec pr;
    pr.Aborting = &aborted;
    PcxEncodeStream(&m, &b, p, pr);
    if (abortedOut) *abortedOut = aborted;
    else EXPECT_FALSE(aborted);
    return StreamBytes(m);
}

}  // namespace

struct PcxWriteCase {
    const char* name;
    int bits, samples;
    bool compressed;
    int sourceColours;   // 0: many, -1: a pf1bit source
    int planes, bitsPerPixel;
};

class PcxWriteRoundTrip : public ::testing::TestWithParam<PcxWriteCase> {};

TEST_P(PcxWriteRoundTrip, ReadsBackHereAndInTheTools) {
    const PcxWriteCase& c = GetParam();
    TBitmap b;
    const int w = 23, h = 9;
    if (c.sourceColours < 0) {
        b.SetPixelFormat(pf1bit);
        b.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < (w + 7) / 8; ++x) b.ScanLine(y)[x] = uint8_t(0x35 * (x + 1) + y * 7);
    } else {
        FillPicture(b, w, h, c.sourceColours);
    }
    TLXIOParams p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.PcxCompressed = c.compressed;
    p.DpiX = 150;
    p.DpiY = 200;
    const Bytes f = Encode(b, p);
    ASSERT_GE(f.size(), 128u);
    EXPECT_EQ(f[2], c.compressed ? 1 : 0);
    EXPECT_EQ(f[3], c.bitsPerPixel);
    EXPECT_EQ(f[65], c.planes);
    const int bpl = f[66] | (f[67] << 8);
    EXPECT_EQ(bpl % 2, 0);
    if (c.bitsPerPixel == 8 && c.planes == 1) {
        ASSERT_GE(f.size(), 128u + 769u);
        EXPECT_EQ(f[f.size() - 769], 12);
    }

    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted) << c.name;
    EXPECT_EQ(d.params.DpiX, 150);
    EXPECT_EQ(d.params.DpiY, 200);
    ASSERT_EQ(d.bitmap.Width(), w);
    ASSERT_EQ(d.bitmap.Height(), h);
    // Lossless cases give the picture back.
    if (c.sourceColours < 0 || c.bitsPerPixel * c.planes == 24) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TRGB want = PixelOf(b, x, y);
                const TRGB got = PixelOf(d.bitmap, x, y);
                ASSERT_TRUE(want == got || c.sourceColours < 0) << c.name << " " << x << "," << y;
                if (c.sourceColours < 0) {
                    ASSERT_EQ(got.r == 255, want.r == 255) << x << "," << y;
                }
            }
    }
    // The tools decode the file to what this reader does.
    // pcxtoppm shows a 1-bit file in its header colours (ImageMagick in black and white):
    // paint ours with them to compare.
    TBitmap coloured;
    CopyBitmap(&d.bitmap, &coloured);
    if (c.bitsPerPixel == 1) {
        const TRGB c0{f[18], f[17], f[16]}, c1{f[21], f[20], f[19]};
        coloured.SetPixelFormat(pf24bit);
        coloured.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TRGB v = PixelOf(d.bitmap, x, y).r ? c1 : c0;
                uint8_t* px = coloured.ScanLine(y) + x * 3;
                px[0] = v.b;
                px[1] = v.g;
                px[2] = v.r;
            }
    }
    const std::string path = TempPath(std::string("pcx_rt_") + c.name + ".pcx");
    WriteFile(path, f);
    Picture ref;
    // (pcxtoppm knows only run-length coded files.)
    if (c.compressed && HaveTool("pcxtoppm")) {
        ASSERT_TRUE(ToolDecode("pcxtoppm " + path + " > " + path + ".ppm 2>/dev/null", path + ".ppm", ref));
        ExpectSamePixels(coloured, ref, std::string(c.name) + " pcxtoppm");
    }
    // (ImageMagick 6 shows 1-bit files with their palette ignored and index 0 white, so
    // netpbm alone is the reference there.)
    if (c.bitsPerPixel != 1 && HaveTool("convert")) {
        ASSERT_TRUE(ToolDecode("convert " + path + " -depth 8 ppm:" + path + ".ppm 2>/dev/null", path + ".ppm", ref));
        ExpectSamePixels(d.bitmap, ref, std::string(c.name) + " convert");
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Depths, PcxWriteRoundTrip,
    ::testing::Values(PcxWriteCase{"rgb_rle", 8, 3, true, 0, 3, 8},
                      PcxWriteCase{"rgb_plain", 8, 3, false, 0, 3, 8},
                      PcxWriteCase{"pal256_rle", 8, 1, true, 0, 1, 8},
                      PcxWriteCase{"pal256_few", 8, 1, false, 6, 1, 8},
                      PcxWriteCase{"pal16_rle", 4, 1, true, 5, 1, 4},
                      PcxWriteCase{"pal16_plain", 4, 1, false, 0, 1, 4},
                      PcxWriteCase{"two_colours", 1, 1, true, 2, 1, 1},
                      PcxWriteCase{"mono_source", 1, 1, true, -1, 1, 1},
                      PcxWriteCase{"mono_plain", 1, 1, false, -1, 1, 1},
                      PcxWriteCase{"mono_as_rgb", 8, 3, true, -1, 3, 8},
                      PcxWriteCase{"odd_depth_as_rgb", 5, 3, true, 0, 3, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PcxWrite, WidthThreeAtEightBitsHasFourBytesPerLine) {
    TBitmap b;
    FillPicture(b, 3, 2, 3);
    TLXIOParams p(nullptr);
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.PcxCompressed = false;
    const Bytes f = Encode(b, p);
    EXPECT_EQ(f[66] | (f[67] << 8), 4);
    EXPECT_EQ(f.size(), 128u + 2 * 4 + 769);
    EXPECT_EQ(f[8] | (f[9] << 8), 2);
    EXPECT_EQ(f[10] | (f[11] << 8), 1);
    EXPECT_EQ(f[68], 1);
}

TEST(PcxWrite, TwoColourPaletteInTheHeader) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(5, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            uint8_t* px = b.ScanLine(y) + x * 3;
            const bool light = (x + y) & 1;
            px[0] = light ? 200 : 10;
            px[1] = light ? 210 : 20;
            px[2] = light ? 220 : 30;
        }
    TLXIOParams p(nullptr);
    p.BitsPerSample = 1;
    const Bytes f = Encode(b, p);
    EXPECT_EQ((Bytes{f[16], f[17], f[18], f[19], f[20], f[21]}), (Bytes{30, 20, 10, 220, 210, 200}));
}

TEST(PcxWrite, FailedWritesAndAbort) {
    TBitmap b;
    FillPicture(b, 30, 20, 0);
    for (int64_t limit : {0, 10, 127, 500, 128 + 20 * 32 + 3}) {
        ShortStream s(limit);
        TLXIOParams p(nullptr);
        p.SamplesPerPixel = 1;   // 256 colours: the palette comes last
        p.PcxCompressed = false;
        bool aborted = false;
        TProgressRec pr;
        pr.Aborting = &aborted;
        EXPECT_NO_THROW(PcxEncodeStream(&s, &b, p, pr));
        EXPECT_TRUE(aborted) << limit;
        // After a short write no palette is added behind the rows.
        EXPECT_LE(s.Size(), limit) << limit;
    }
    TMemoryStream m;
    TLXIOParams p(nullptr);
    p.SamplesPerPixel = 1;
    bool aborted = false;
    ProgressLog log;
    log.abort = &aborted;
    log.abortAt = 5;
    TProgressRec pr;
    pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
    pr.Aborting = &aborted;
    PcxEncodeStream(&m, &b, p, pr);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(log.values, (std::vector<int>{0, 5, 10, 15, 20}));
    // The palette is not written after an abort: the file is the header and four rows.
    EXPECT_LT(m.Size(), 128 + 4 * 32 * 2 + 1);
}

// ---- Mutated fixtures through the reader (run under the sanitizers) ----

