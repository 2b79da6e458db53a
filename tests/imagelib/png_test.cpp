// PNG bridges: the colour-type x bit-depth matrix against netpbm's decoding, alpha into the
// mask or composed, palettes, 1-bit polarity, Adam7, bKGD, pHYs; the writer's chunks read
// back by pngcheck, netpbm and Python's zlib view of the filter bytes; failure paths.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "LuxIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"
#include "pngfilt.h"
#include "pngfiltw.h"

using namespace codec_test;

namespace {

std::string PngFixture(const std::string& name) { return Fixture("png", name); }

struct Chunk {
    std::string Type;
    std::vector<uint8_t> Data;
};

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

std::vector<Chunk> PngChunks(const std::vector<uint8_t>& f) {
    std::vector<Chunk> out;
    size_t i = 8;
    while (i + 12 <= f.size()) {
        const uint32_t len = BE32(&f[i]);
        if (i + 12 + len > f.size()) break;
        out.push_back({std::string(f.begin() + long(i + 4), f.begin() + long(i + 8)),
                       std::vector<uint8_t>(f.begin() + long(i + 8), f.begin() + long(i + 8 + len))});
        i += 12 + len;
    }
    return out;
}

const Chunk* FindChunk(const std::vector<Chunk>& cs, const std::string& type) {
    for (auto& c : cs)
        if (c.Type == type) return &c;
    return nullptr;
}

// Fixes the CRC of the chunk that starts at offset i (its length field).
void FixCrc(std::vector<uint8_t>& f, size_t i) {
    const uint32_t len = BE32(&f[i]);
    PutBE32(&f[i + 8 + len], uint32_t(crc32(0, &f[i + 4], len + 4)));
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& z, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    uLongf n = uLongf(out.size());
    if (uncompress(out.data(), &n, z.data(), uLong(z.size())) != Z_OK) return {};
    out.resize(n);
    return out;
}

struct Loaded {
    TBitmap Bitmap;
    TLXMask Mask;
    std::unique_ptr<TLXIOParams> Params = std::make_unique<TLXIOParams>(nullptr);
    bool Aborted = false;
};

void Load(Loaded& l, const std::vector<uint8_t>& file, bool withMask, bool paramsOnly = false,
          size_t prefix = 0) {
    auto s = MemStream(file, prefix);
    TProgressRec rec;
    rec.Aborting = &l.Aborted;
    PngDecodeStream(s.get(), &l.Bitmap, *l.Params, withMask ? &l.Mask : nullptr, paramsOnly, rec);
}

std::vector<uint8_t> Save(TBitmap& bmp, TLXIOParams& p, TLXMask* mask, bool* aborted = nullptr) {
    TMemoryStream s;
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    PngEncodeStream(&s, &bmp, p, mask, rec);
    if (aborted) *aborted = abort;
    return StreamBytes(s);
}

uint8_t Blend(int fg, int bg, int a) { return uint8_t((fg * a + bg * (255 - a) + 127) / 255); }

// ---- The read matrix ----

struct ReadCase {
    const char* Name;
    int Bits, Samples;
    bool OneBit, HasAlpha;   // stays pf1bit; alpha or tRNS
    int PaletteCount;
};

const ReadCase ReadCases[] = {
    {"grey1", 1, 1, true, false, 0},        {"grey2", 2, 1, false, false, 0},
    {"grey4", 4, 1, false, false, 0},       {"grey8", 8, 1, false, false, 0},
    {"grey16", 16, 1, false, false, 0},     {"rgb8", 8, 3, false, false, 0},
    {"rgb16", 16, 3, false, false, 0},      {"pal1", 1, 1, false, false, 2},
    {"pal2", 2, 1, false, false, 4},        {"pal4", 4, 1, false, false, 16},
    {"pal8", 8, 1, false, false, 200},      {"pal1_trns", 1, 1, false, true, 2},
    {"pal2_trns", 2, 1, false, true, 4},    {"pal4_trns", 4, 1, false, true, 16},
    {"pal8_trns", 8, 1, false, true, 200},  {"pal1_bw", 1, 1, true, false, 2},
    {"pal1_wb", 1, 1, true, false, 2},      {"pal1_redblue", 1, 1, false, false, 2},
    {"grey8_trns", 8, 1, false, true, 0},   {"rgb8_trns", 8, 3, false, true, 0},
    {"rgba8", 8, 4, false, true, 0},        {"rgba16", 16, 4, false, true, 0},
    {"ga8", 8, 2, false, true, 0},          {"ga16", 16, 2, false, true, 0},
    {"rgba8_bkgd", 8, 4, false, true, 0},   {"rgb8_phys", 8, 3, false, false, 0},
    {"grey1_i", 1, 1, true, false, 0},      {"grey16_i", 16, 1, false, false, 0},
    {"rgb8_i", 8, 3, false, false, 0},      {"pal4_i", 4, 1, false, false, 16},
    {"pal4_trns_i", 4, 1, false, true, 16}, {"rgba8_i", 8, 4, false, true, 0},
    {"ga8_i", 8, 2, false, true, 0},
};

class PngReadMatrix : public testing::TestWithParam<ReadCase> {};

TEST_P(PngReadMatrix, WithMaskEqualsNetpbm) {
    const ReadCase& c = GetParam();
    Picture ref = ReadNetpbm(PngFixture(std::string(c.Name) + ".pam"));
    ASSERT_TRUE(ref.Valid() && ref.depth == 4);
    Loaded l;
    Load(l, ReadFile(PngFixture(std::string(c.Name) + ".png")), true);
    ASSERT_FALSE(l.Aborted);
    EXPECT_EQ(l.Bitmap.PixelFormat(), c.OneBit ? pf1bit : pf24bit);
    ASSERT_EQ(l.Bitmap.Width(), ref.w);
    ASSERT_EQ(l.Bitmap.Height(), ref.h);
    ASSERT_EQ(l.Mask.Width, ref.w);
    ASSERT_EQ(l.Mask.Height, ref.h);
    ASSERT_EQ(l.Mask.BitsPerPixel, 8);
    EXPECT_EQ(l.Mask.Full, !c.HasAlpha);
    int bad = 0;
    for (int y = 0; y < ref.h; y++)
        for (int x = 0; x < ref.w; x++) {
            const uint8_t* e = ref.Pixel(x, y);
            TRGB p = PixelOf(l.Bitmap, x, y);
            const int a = l.Mask.ScanLine(y)[x];
            if (p.r != e[0] || p.g != e[1] || p.b != e[2] || a != e[3]) {
                if (bad++ < 3)
                    ADD_FAILURE() << c.Name << " at " << x << "," << y << ": " << p.r << " " << p.g
                                  << " " << p.b << " " << a << " want " << int(e[0]) << " "
                                  << int(e[1]) << " " << int(e[2]) << " " << int(e[3]);
            }
        }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(l.Params->BitsPerSample, c.Bits);
    EXPECT_EQ(l.Params->SamplesPerPixel, c.Samples);
    EXPECT_EQ(l.Params->PaletteCount, c.PaletteCount);
    EXPECT_EQ(l.Params->PngInterlaced, std::string(c.Name).ends_with("_i"));
}

TEST_P(PngReadMatrix, WithoutMaskComposesOverTheBackground) {
    const ReadCase& c = GetParam();
    Picture ref = ReadNetpbm(PngFixture(std::string(c.Name) + ".pam"));
    ASSERT_TRUE(ref.Valid());
    Loaded l;
    const TRGB given{60, 180, 20};   // B, G, R
    l.Params->PngBackground = given;
    Load(l, ReadFile(PngFixture(std::string(c.Name) + ".png")), false);
    ASSERT_FALSE(l.Aborted);
    const bool fileBkgd = std::string(c.Name) == "rgba8_bkgd";   // white bKGD
    const TRGB bg = fileBkgd ? TRGB{255, 255, 255} : given;
    EXPECT_EQ(l.Params->PngBackground, bg);
    int bad = 0;
    for (int y = 0; y < ref.h; y++)
        for (int x = 0; x < ref.w; x++) {
            const uint8_t* e = ref.Pixel(x, y);
            TRGB p = PixelOf(l.Bitmap, x, y);
            if (p.r != Blend(e[0], bg.r, e[3]) || p.g != Blend(e[1], bg.g, e[3]) ||
                p.b != Blend(e[2], bg.b, e[3]))
                bad++;
        }
    EXPECT_EQ(bad, 0) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngReadMatrix, testing::ValuesIn(ReadCases),
                         [](const testing::TestParamInfo<ReadCase>& i) { return std::string(i.param.Name); });

TEST(PngRead, PaletteIsStoredAsBgr) {
    Loaded l;
    Load(l, ReadFile(PngFixture("pal1.png")), true, true);
    ASSERT_EQ(l.Params->PaletteCount, 2);
    EXPECT_EQ(l.Params->Palette[1], (TRGB{158, 97, 53}));   // PLTE entry 1 is (53, 97, 158)
    // A later non-palette read frees it.
    Load(l, ReadFile(PngFixture("rgb8.png")), true, true);
    EXPECT_EQ(l.Params->PaletteCount, 0);
    EXPECT_EQ(l.Params->Palette, nullptr);
}

TEST(PngRead, ResolutionFromPhysOrTheDefault) {
    const int saved = ScreenPixelsPerInch();
    SetScreenPixelsPerInch(72);
    Loaded a, b;
    Load(a, ReadFile(PngFixture("rgb8_phys.png")), false, true);
    Load(b, ReadFile(PngFixture("rgb8.png")), false, true);
    // pHYs with an unknown unit gives the default too.
    std::vector<uint8_t> f = ReadFile(PngFixture("rgb8_phys.png"));
    ASSERT_EQ(std::string(f.begin() + 37, f.begin() + 41), "pHYs");
    f[33 + 16] = 0;
    FixCrc(f, 33);
    Loaded c;
    Load(c, f, false, true);
    SetScreenPixelsPerInch(saved);
    EXPECT_EQ(a.Params->DpiX, 96);
    EXPECT_EQ(a.Params->DpiY, 96);
    EXPECT_EQ(b.Params->DpiX, 72);
    EXPECT_EQ(b.Params->DpiY, 72);
    EXPECT_FALSE(c.Aborted);
    EXPECT_EQ(c.Params->DpiX, 72);
}

TEST(PngRead, ParamsOnlyLeavesBitmapAndMask) {
    Loaded l;
    FillPattern(l.Bitmap, 4, 3);
    l.Mask.AllocBits(4, 3, 8);
    l.Mask.Fill(7);
    Load(l, ReadFile(PngFixture("rgba8_i.png")), true, true);
    ASSERT_FALSE(l.Aborted);
    EXPECT_EQ(l.Params->Width, 33);
    EXPECT_EQ(l.Params->Height, 17);
    EXPECT_TRUE(l.Params->PngInterlaced);
    EXPECT_EQ(l.Bitmap.Width(), 4);
    EXPECT_EQ(l.Mask.Width, 4);
    EXPECT_EQ(l.Mask.ScanLine(0)[0], 7);
}

TEST(PngRead, StreamAtAnOffset) {
    Loaded l;
    Load(l, ReadFile(PngFixture("rgb8.png")), false, false, 37);
    EXPECT_FALSE(l.Aborted);
    EXPECT_EQ(l.Bitmap.Width(), 33);
}

TEST(PngRead, InterlacedProgressCountsEveryPassRow) {
    for (const char* n : {"rgba8_i.png", "rgb8_i.png", "rgb8.png"}) {
        ProgressLog log;
        TBitmap bmp;
        TLXMask mask;
        TLXIOParams p(nullptr);
        auto s = MemStream(ReadFile(PngFixture(n)));
        PngDecodeStream(s.get(), &bmp, p, &mask, false, log.rec);
        ASSERT_FALSE(log.aborted);
        const size_t rows = std::string(n).find("_i") != std::string::npos ? 7 * 17 : 17;
        ASSERT_EQ(log.values.size(), rows) << n;
        EXPECT_EQ(log.values.back(), int(double(rows) * (100.0 / double(rows))));
    }
}

TEST(PngRead, ProbeLeavesThePosition) {
    const std::vector<uint8_t> f = ReadFile(PngFixture("rgb8.png"));
    for (size_t prefix : {size_t(0), size_t(9)}) {
        auto s = MemStream(f, prefix);
        EXPECT_TRUE(ProbePngStream(s.get()));
        EXPECT_EQ(s->Position(), int64_t(prefix));
    }
    auto shortStream = MemStream(std::vector<uint8_t>(f.begin(), f.begin() + 5), 3);
    EXPECT_FALSE(ProbePngStream(shortStream.get()));
    EXPECT_EQ(shortStream->Position(), 3);
    auto jpeg = MemStream(ReadFile(Fixture("jpeg", "baseline.jpg")));
    EXPECT_FALSE(ProbePngStream(jpeg.get()));
}

// ---- Bad input ----

TEST(PngBadInput, CorruptCrcTruncationAndGarbageSetTheFlag) {
    const std::vector<uint8_t> f = ReadFile(PngFixture("rgb8.png"));
    std::vector<std::vector<uint8_t>> bad;
    {
        std::vector<uint8_t> crc = f;   // a byte of IDAT data changed, CRC left
        for (size_t i = 8; i + 8 < crc.size(); i++)
            if (std::memcmp(&crc[i + 4], "IDAT", 4) == 0) { crc[i + 10] ^= 0x40; break; }
        bad.push_back(crc);
    }
    bad.push_back(std::vector<uint8_t>(f.begin(), f.begin() + long(f.size() / 2)));
    bad.push_back(std::vector<uint8_t>(f.begin(), f.begin() + 30));
    bad.push_back(std::vector<uint8_t>(f.begin(), f.begin() + 8));
    bad.push_back(std::vector<uint8_t>(100, 0x42));
    bad.push_back({});
    for (size_t i = 0; i < bad.size(); i++)
        for (bool mask : {true, false}) {
            Loaded l;
            EXPECT_NO_THROW(Load(l, bad[i], mask)) << i;
            EXPECT_TRUE(l.Aborted) << i;
        }
}

TEST(PngBadInput, HugeDimensionsAbortBeforeAllocating) {
    std::vector<uint8_t> f = ReadFile(PngFixture("rgb8.png"));
    PutBE32(&f[16], 900000);   // IHDR width
    PutBE32(&f[20], 900000);   // IHDR height
    FixCrc(f, 8);
    Loaded p;
    Load(p, f, true, true);
    EXPECT_FALSE(p.Aborted);
    EXPECT_EQ(p.Params->Width, 900000);
    Loaded l;
    FillPattern(l.Bitmap, 3, 2);
    Load(l, f, true);
    EXPECT_TRUE(l.Aborted);
    EXPECT_EQ(l.Bitmap.Width(), 3);
    EXPECT_EQ(l.Mask.Width, 0);   // the mask is not resized before the bitmap
}

// A small file whose header claims a big picture is refused by the decode budget (1024 bytes
// of picture a byte of file) before the bitmap exists; a size within it is read, and the rows
// missing from the file fail it afterwards.
TEST(PngBadInput, SmallFilesClaimingHugePicturesAreRefused) {
    if (!HaveTool("pnmtopng")) GTEST_SKIP() << "netpbm missing";
    TempFile ppm("src.ppm");
    ppm.Write(ReadFile(Fixture("jpeg", "baseline.int.1.ppm")));
    for (const char* opts : {"", "-interlace"}) {
        SCOPED_TRACE(opts);
        const ToolOutput png = RunTool(std::string("pnmtopng ") + opts + " " + ppm.Path());
        ASSERT_TRUE(png.Ok);
        std::vector<uint8_t> f = png.Out;
        for (const uint32_t side : {16384u, 1000u}) {
            PutBE32(&f[16], side);
            PutBE32(&f[20], side);
            FixCrc(f, 8);
            Loaded l;
            FillPattern(l.Bitmap, 3, 2);
            Load(l, f, true);
            EXPECT_TRUE(l.Aborted);
            EXPECT_EQ(l.Bitmap.Width(), side == 16384 ? 3 : int(side)) << side;
        }
    }
}

// ---- Writing ----

TEST(PngWrite, RgbRoundTripThroughNetpbm) {
    TBitmap bmp;
    FillPattern(bmp, 29, 13);
    TLXIOParams p(nullptr);
    p.SamplesPerPixel = 3;
    p.DpiX = p.DpiY = 96;
    p.PngBackground = TRGB{1, 2, 3};
    const std::vector<uint8_t> out = Save(bmp, p, nullptr);
    auto chunks = PngChunks(out);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks[0].Type, "IHDR");
    EXPECT_EQ(chunks[0].Data[8], 8);    // depth
    EXPECT_EQ(chunks[0].Data[9], 2);    // RGB
    EXPECT_EQ(chunks.back().Type, "IEND");
    const Chunk* phys = FindChunk(chunks, "pHYs");
    ASSERT_TRUE(phys);
    EXPECT_EQ(BE32(&phys->Data[0]), 3780u);
    EXPECT_EQ(phys->Data[8], 1);
    const Chunk* bkgd = FindChunk(chunks, "bKGD");
    ASSERT_TRUE(bkgd);
    EXPECT_EQ(bkgd->Data, (std::vector<uint8_t>{0, 3, 0, 2, 0, 1}));   // red, green, blue
    Loaded l;
    Load(l, out, true);
    ASSERT_FALSE(l.Aborted);
    EXPECT_TRUE(l.Mask.Full);
    for (int y = 0; y < 13; y++)
        ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y), bmp.ScanLine(y), 29 * 3), 0);
    if (HaveTool("pngtopam")) {
        TempFile t(".png");
        WriteFile(t.Path(), out);
        Picture pic = ParseNetpbm(RunTool("pngtopam '" + t.Path() + "'").Out);
        ASSERT_TRUE(pic.Valid());
        for (int y = 0; y < 13; y++)
            for (int x = 0; x < 29; x++) {
                TRGB c = PixelOf(bmp, x, y);
                ASSERT_EQ(pic.Pixel(x, y)[0], c.r);
                ASSERT_EQ(pic.Pixel(x, y)[2], c.b);
            }
    }
    if (HaveTool("pngcheck")) {
        TempFile t(".png");
        WriteFile(t.Path(), out);
        EXPECT_TRUE(RunTool("pngcheck -q '" + t.Path() + "'").Ok);
    }
}

TEST(PngWrite, MaskBecomesAlphaOnlyWhenNotFull) {
    TBitmap bmp;
    FillPattern(bmp, 21, 9);
    TLXIOParams p(nullptr);
    TLXMask mask;
    mask.AllocBits(21, 9, 8);
    mask.Fill(255);
    auto opaque = PngChunks(Save(bmp, p, &mask));
    EXPECT_EQ(opaque[0].Data[9], 2);
    for (int y = 0; y < 9; y++)
        for (int x = 0; x < 21; x++) mask.SetPixel(x, y, (x * 13 + y * 7) % 256);
    ASSERT_FALSE(mask.Full);
    const std::vector<uint8_t> out = Save(bmp, p, &mask);
    EXPECT_EQ(PngChunks(out)[0].Data[9], 6);
    Loaded l;
    Load(l, out, true);
    ASSERT_FALSE(l.Aborted);
    for (int y = 0; y < 9; y++) {
        ASSERT_EQ(std::memcmp(l.Mask.ScanLine(y), mask.ScanLine(y), 21), 0);
        ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y), bmp.ScanLine(y), 21 * 3), 0);
    }
    if (HaveTool("pngtopam")) {
        TempFile t(".png");
        WriteFile(t.Path(), out);
        Picture pic = ParseNetpbm(RunTool("pngtopam -alphapam '" + t.Path() + "'").Out);
        ASSERT_TRUE(pic.Valid());
        EXPECT_EQ(pic.Pixel(5, 3)[3], mask.ScanLine(3)[5]);
        EXPECT_EQ(pic.Pixel(5, 3)[0], PixelOf(bmp, 5, 3).r);
    }
    // A mask of another size is ignored (the image is written opaque).
    TLXMask small;
    small.AllocBits(5, 5, 8);
    small.Fill(0);
    EXPECT_EQ(PngChunks(Save(bmp, p, &small))[0].Data[9], 2);
}

TEST(PngWrite, PaletteHasTheBackgroundAtEntryZero) {
    // 12 colours on the 8-step grid: the box split keeps them exactly.
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(24, 10);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 24; x++) {
            uint8_t* px = bmp.ScanLine(y) + 3 * x;
            const int k = (x / 2) % 12;
            px[0] = uint8_t(8 * k), px[1] = uint8_t(248 - 16 * k), px[2] = uint8_t(16 * (k % 4));
        }
    TLXIOParams p(nullptr);
    p.SamplesPerPixel = 1;
    p.BitsPerSample = 4;
    p.PngBackground = TRGB{10, 20, 30};
    TLXMask mask;
    mask.AllocBits(24, 10, 8);
    mask.Fill(255);
    mask.SetPixel(3, 4, 0);
    mask.SetPixel(7, 2, 100);
    const std::vector<uint8_t> out = Save(bmp, p, &mask);
    auto chunks = PngChunks(out);
    EXPECT_EQ(chunks[0].Data[9], 3);
    EXPECT_EQ(chunks[0].Data[8], 8);
    const Chunk* plte = FindChunk(chunks, "PLTE");
    ASSERT_TRUE(plte);
    ASSERT_EQ(plte->Data.size(), 17u * 3);
    EXPECT_EQ(plte->Data[0], 30);
    EXPECT_EQ(plte->Data[1], 20);
    EXPECT_EQ(plte->Data[2], 10);
    const Chunk* trns = FindChunk(chunks, "tRNS");
    ASSERT_TRUE(trns);
    EXPECT_EQ(trns->Data, std::vector<uint8_t>{0});
    const Chunk* bkgd = FindChunk(chunks, "bKGD");
    ASSERT_TRUE(bkgd);
    EXPECT_EQ(bkgd->Data, std::vector<uint8_t>{0});
    // Pixels read back: transparent ones are index 0, the others their own colour.
    Loaded l;
    Load(l, out, true);
    ASSERT_FALSE(l.Aborted);
    EXPECT_EQ(l.Mask.ScanLine(4)[3], 0);
    EXPECT_EQ(l.Mask.ScanLine(2)[7], 0);
    EXPECT_EQ(l.Mask.ScanLine(2)[8], 255);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 24; x++) {
            if (l.Mask.ScanLine(y)[x] == 0) continue;
            ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y) + 3 * x, bmp.ScanLine(y) + 3 * x, 3), 0)
                << x << "," << y;
        }
    if (HaveTool("pngcheck")) {
        TempFile t(".png");
        WriteFile(t.Path(), out);
        auto r = RunTool("pngcheck -v '" + t.Path() + "'");
        ASSERT_TRUE(r.Ok);
        const std::string text(r.Out.begin(), r.Out.end());
        EXPECT_NE(text.find("17 palette entries"), std::string::npos) << text;
        EXPECT_NE(text.find("1 transparency entry"), std::string::npos) << text;
    }
}

TEST(PngWrite, EightBitPaletteUsesTheNetwork) {
    TBitmap bmp;
    FillPattern(bmp, 40, 30);
    TLXIOParams p(nullptr);
    p.SamplesPerPixel = 1;
    p.BitsPerSample = 8;
    const std::vector<uint8_t> out = Save(bmp, p, nullptr);
    auto chunks = PngChunks(out);
    const Chunk* plte = FindChunk(chunks, "PLTE");
    ASSERT_TRUE(plte);
    EXPECT_EQ(plte->Data.size(), 256u * 3);
    EXPECT_FALSE(FindChunk(chunks, "tRNS"));
    Loaded l;
    Load(l, out, false);
    ASSERT_FALSE(l.Aborted);
    long err = 0;
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++) {
            TRGB a = PixelOf(bmp, x, y), b = PixelOf(l.Bitmap, x, y);
            err += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
        }
    EXPECT_LT(double(err) / (40 * 30 * 3), 8.0);
}

TEST(PngWrite, OneBitGreyKeepsThePolarity) {
    struct Case {
        bool FromBitmap1;
        TRGB Background;
        int Gray;
    } cases[] = {{true, TRGB{255, 255, 255}, 1}, {false, TRGB{0, 0, 0}, 0}};
    for (const Case& c : cases) {
        TBitmap bmp;
        if (c.FromBitmap1) {
            bmp.SetPixelFormat(pf1bit);
            bmp.SetSize(19, 5);
            for (int y = 0; y < 5; y++) bmp.ScanLine(y)[0] = 0xF0, bmp.ScanLine(y)[2] = 0x80;
        } else {
            // Two colours: dark blue becomes bit 0, yellow bit 1.
            bmp.SetPixelFormat(pf24bit);
            bmp.SetSize(19, 5);
            for (int y = 0; y < 5; y++)
                for (int x = 0; x < 19; x++) {
                    uint8_t* px = bmp.ScanLine(y) + 3 * x;
                    const bool on = x < 4 || x == 16;
                    px[0] = on ? 0 : 90, px[1] = on ? 255 : 0, px[2] = on ? 255 : 0;
                }
        }
        TLXIOParams p(nullptr);
        p.SamplesPerPixel = 1;
        p.BitsPerSample = 1;
        p.PngBackground = c.Background;
        const std::vector<uint8_t> out = Save(bmp, p, nullptr);
        auto chunks = PngChunks(out);
        EXPECT_EQ(chunks[0].Data[8], 1);
        EXPECT_EQ(chunks[0].Data[9], 0);
        const Chunk* bkgd = FindChunk(chunks, "bKGD");
        ASSERT_TRUE(bkgd);
        EXPECT_EQ(bkgd->Data, (std::vector<uint8_t>{0, uint8_t(c.Gray)}));
        Loaded l;
        Load(l, out, false);
        ASSERT_FALSE(l.Aborted);
        ASSERT_EQ(l.Bitmap.PixelFormat(), pf1bit);
        for (int x = 0; x < 19; x++)
            EXPECT_EQ(PixelOf(l.Bitmap, x, 2).r, (x < 4 || x == 16) ? 255 : 0) << x;
    }
}

TEST(PngWrite, RgbFromAOneBitBitmap) {
    // SamplesPerPixel 3 with BitsPerSample 1 still writes 24-bit rows.
    TBitmap bmp;
    bmp.SetPixelFormat(pf1bit);
    bmp.SetSize(13, 3);
    for (int y = 0; y < 3; y++) bmp.ScanLine(y)[0] = 0xA0;
    for (int bits : {1, 8}) {
        TLXIOParams p(nullptr);
        p.SamplesPerPixel = 3;
        p.BitsPerSample = bits;
        const std::vector<uint8_t> out = Save(bmp, p, nullptr);
        EXPECT_EQ(PngChunks(out)[0].Data[9], 2);
        Loaded l;
        Load(l, out, false);
        ASSERT_FALSE(l.Aborted);
        for (int x = 0; x < 13; x++) EXPECT_EQ(PixelOf(l.Bitmap, x, 1).g, (x == 0 || x == 2) ? 255 : 0);
    }
}

TEST(PngWrite, FilterCodesReachEveryRow) {
    TBitmap bmp;
    FillPattern(bmp, 17, 11);
    struct Case {
        int Code, FilterByte;
    } cases[] = {{0, 0}, {1, 1}, {2, 4}};
    for (const Case& c : cases) {
        TLXIOParams p(nullptr);
        p.PngFilter = uint8_t(c.Code);
        auto chunks = PngChunks(Save(bmp, p, nullptr));
        std::vector<uint8_t> z;
        for (auto& ch : chunks)
            if (ch.Type == "IDAT") z.insert(z.end(), ch.Data.begin(), ch.Data.end());
        const size_t stride = 1 + 17 * 3;
        std::vector<uint8_t> raw = Inflate(z, stride * 11);
        ASSERT_EQ(raw.size(), stride * 11);
        for (int y = 0; y < 11; y++) EXPECT_EQ(raw[size_t(y) * stride], c.FilterByte) << c.Code << " row " << y;
    }
    TLXIOParams p(nullptr);
    p.PngFilter = 9;   // the library's own choice: still a valid file
    Loaded l;
    Load(l, Save(bmp, p, nullptr), false);
    EXPECT_FALSE(l.Aborted);
}

TEST(PngWrite, InterlacedWritesSevenPasses) {
    TBitmap bmp;
    FillPattern(bmp, 23, 15);
    TLXIOParams p(nullptr);
    p.PngInterlaced = true;
    TLXMask mask;
    mask.AllocBits(23, 15, 8);
    mask.Fill(255);
    mask.SetPixel(4, 4, 9);
    ProgressLog log;
    TMemoryStream s;
    PngEncodeStream(&s, &bmp, p, &mask, log.rec);
    ASSERT_FALSE(log.aborted);
    EXPECT_EQ(log.values.size(), 7u * 15);
    const std::vector<uint8_t> out = StreamBytes(s);
    EXPECT_EQ(PngChunks(out)[0].Data[12], 1);
    Loaded l;
    Load(l, out, true);
    ASSERT_FALSE(l.Aborted);
    EXPECT_TRUE(l.Params->PngInterlaced);
    EXPECT_EQ(l.Mask.ScanLine(4)[4], 9);
    for (int y = 0; y < 15; y++) ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y), bmp.ScanLine(y), 23 * 3), 0);
}

TEST(PngWrite, NoResolutionMeansNoPhys) {
    TBitmap bmp;
    FillPattern(bmp, 5, 5);
    TLXIOParams p(nullptr);
    p.DpiX = p.DpiY = 0;
    EXPECT_FALSE(FindChunk(PngChunks(Save(bmp, p, nullptr)), "pHYs"));
    p.DpiX = p.DpiY = 300;
    const auto chunks = PngChunks(Save(bmp, p, nullptr));
    const Chunk* phys = FindChunk(chunks, "pHYs");
    ASSERT_TRUE(phys);
    EXPECT_EQ(BE32(&phys->Data[0]), 11811u);   // Round(300 * 100 / 2.54)
}

TEST(PngWrite, ShortWriteSetsTheFlagAndWritesNoEnd) {
    TBitmap bmp;
    FillPattern(bmp, 200, 150);
    TLXIOParams p(nullptr);
    p.PngCompression = 0;
    for (int64_t limit : {0, 20, 5000}) {
        ShortStream s(limit);
        bool abort = false;
        TProgressRec rec;
        rec.Aborting = &abort;
        EXPECT_NO_THROW(PngEncodeStream(&s, &bmp, p, nullptr, rec));
        EXPECT_TRUE(abort) << limit;
        const std::vector<uint8_t> out = StreamBytes(s);
        EXPECT_LE(int64_t(out.size()), limit);
        EXPECT_FALSE(FindChunk(PngChunks(out), "IEND"));
    }
}

TEST(PngWrite, LibraryErrorRaisesInvalidGraphic) {
    TBitmap empty;
    empty.SetPixelFormat(pf24bit);
    TLXIOParams p(nullptr);
    TMemoryStream s;
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    try {
        PngEncodeStream(&s, &empty, p, nullptr, rec);
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Error on creating PNG");
    }
}

}  // namespace
