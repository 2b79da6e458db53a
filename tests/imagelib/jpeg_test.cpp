// JPEG bridge: decoding against djpeg, markers, density, scaling, CMYK, hostile and
// truncated input, writing round trips through the outside tools, failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "LuxIO.h"
#include "ManyScanJpeg.h"
#include "jpegfilt.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"

using namespace codec_test;

namespace {

std::string JpegFixture(const std::string& name) { return Fixture("jpeg", name); }

struct Segment {
    int Code;
    std::vector<uint8_t> Data;
};

// The marker segments of a JPEG file up to the first scan.
std::vector<Segment> JpegSegments(const std::vector<uint8_t>& f) {
    std::vector<Segment> out;
    size_t i = 2;
    while (i + 4 <= f.size() && f[i] == 0xFF) {
        const int code = f[i + 1];
        const size_t len = size_t(f[i + 2]) << 8 | f[i + 3];
        if (len < 2 || i + 2 + len > f.size()) break;
        out.push_back({code, std::vector<uint8_t>(f.begin() + long(i + 4), f.begin() + long(i + 2 + len))});
        if (code == 0xDA) break;
        i += 2 + len;
    }
    return out;
}

bool StartsWith(const std::vector<uint8_t>& d, const char* s, size_t n) {
    return d.size() >= n && std::memcmp(d.data(), s, n) == 0;
}

struct Decoded {
    TBitmap Bitmap;
    std::unique_ptr<TLXIOParams> Params = std::make_unique<TLXIOParams>(nullptr);
    bool Aborted = false;
};

void Decode(Decoded& d, const std::vector<uint8_t>& file, bool paramsOnly = false, size_t prefix = 0) {
    auto s = MemStream(file, prefix);
    TProgressRec rec;
    rec.Aborting = &d.Aborted;
    JpegDecodeStream(s.get(), &d.Bitmap, *d.Params, paramsOnly, rec);
}

std::vector<uint8_t> Encode(TBitmap& bmp, TLXIOParams& params, bool* aborted = nullptr) {
    TMemoryStream s;
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    JpegEncodeStream(&s, &bmp, params, rec);
    if (aborted) *aborted = abort;
    return StreamBytes(s);
}

// djpeg's decoding of a file, run now when djpeg is installed, else the stored one.
Picture DjpegReference(const std::string& file, const std::string& dct, int scale) {
    if (HaveTool("djpeg")) {
        auto r = RunTool("djpeg -dct " + dct + " -scale 1/" + std::to_string(scale) + " -ppm '" +
                         file + "'");
        if (r.Ok) return ParseNetpbm(r.Out);
    }
    std::string base = file.substr(0, file.size() - 4);
    return ReadNetpbm(base + "." + dct + "." + std::to_string(scale) + ".ppm");
}

Picture DjpegOf(const std::vector<uint8_t>& data) {
    TempFile t(".jpg");
    WriteFile(t.Path(), data);
    auto r = RunTool("djpeg -ppm '" + t.Path() + "'");
    return r.Ok ? ParseNetpbm(r.Out) : Picture();
}

// Largest channel difference between the bitmap and the picture (grey pictures compare to
// every channel); -1 when the sizes differ.
int MaxDiff(TBitmap& bmp, const Picture& p) {
    if (!p.Valid() || bmp.Width() != p.w || bmp.Height() != p.h) return -1;
    int worst = 0;
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            TRGB c = PixelOf(bmp, x, y);
            const uint8_t* q = p.Pixel(x, y);
            const int r = q[0], g = p.depth >= 3 ? q[1] : q[0], b = p.depth >= 3 ? q[2] : q[0];
            worst = std::max({worst, std::abs(c.r - r), std::abs(c.g - g), std::abs(c.b - b)});
        }
    return worst;
}

// ---- Decoding against djpeg ----

struct DecodeCase {
    const char* File;
    const char* Dct;
    int Scale;
    int ColorSpace;
};

class JpegDecodeVsDjpeg : public testing::TestWithParam<DecodeCase> {};

TEST_P(JpegDecodeVsDjpeg, PixelsEqualDjpeg) {
    const DecodeCase& c = GetParam();
    const std::string path = JpegFixture(c.File);
    Decoded d;
    d.Params->JpegDCTMethod = std::string(c.Dct) == "int" ? 0 : std::string(c.Dct) == "fast" ? 1 : 2;
    d.Params->JpegScale = uint8_t(c.Scale == 1 ? 1 : c.Scale == 2 ? 2 : c.Scale == 4 ? 3 : 4);
    Decode(d, ReadFile(path));
    ASSERT_FALSE(d.Aborted);
    Picture ref = DjpegReference(path, c.Dct, c.Scale);
    ASSERT_TRUE(ref.Valid()) << "no reference for " << c.File;
    EXPECT_EQ(d.Bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(MaxDiff(d.Bitmap, ref), 0);
    EXPECT_EQ(d.Params->Width, ref.w);
    EXPECT_EQ(d.Params->Height, ref.h);
    EXPECT_EQ(d.Params->JpegScaleDenominator, c.Scale);
    EXPECT_EQ(d.Params->JpegColorSpace, c.ColorSpace);
    EXPECT_EQ(d.Params->BitsPerSample, 8);
    EXPECT_EQ(d.Params->SamplesPerPixel, 3);
    EXPECT_EQ(d.Params->JpegProgressive, std::string(c.File) == "progressive.jpg");
}

std::vector<DecodeCase> DecodeCases() {
    std::vector<DecodeCase> v;
    for (const char* f : {"baseline.jpg", "scaled.jpg"})
        for (const char* dct : {"int", "fast", "float"})
            for (int s : {1, 2, 4, 8}) v.push_back({f, dct, s, 2});
    v.push_back({"progressive.jpg", "int", 1, 2});
    v.push_back({"grey.jpg", "int", 1, 1});
    v.push_back({"rgb.jpg", "int", 1, 0});
    v.push_back({"restart.jpg", "int", 1, 2});
    v.push_back({"s444.jpg", "int", 1, 2});
    v.push_back({"s422.jpg", "int", 1, 2});
    v.push_back({"markers.jpg", "int", 1, 2});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, JpegDecodeVsDjpeg, testing::ValuesIn(DecodeCases()),
                         [](const testing::TestParamInfo<DecodeCase>& i) {
                             std::string n = std::string(i.param.File) + "_" + i.param.Dct + "_" +
                                             std::to_string(i.param.Scale);
                             for (char& ch : n)
                                 if (!isalnum((unsigned char)ch)) ch = '_';
                             return n;
                         });

TEST(JpegDecode, RgbColourSpaceKeepsRedRed) {
    // cjpeg -rgb stores R, G, B; the top-left patch is pure red.
    Decoded d;
    Decode(d, ReadFile(JpegFixture("rgb.jpg")));
    ASSERT_FALSE(d.Aborted);
    TRGB c = PixelOf(d.Bitmap, 1, 1);
    EXPECT_GT(c.r, 240);
    EXPECT_LT(c.g, 15);
    EXPECT_LT(c.b, 15);
}

TEST(JpegDecode, AdobeCmykIsNotANegative) {
    const std::string path = JpegFixture("cmyk.jpg");
    Decoded d;
    Decode(d, ReadFile(path));
    ASSERT_FALSE(d.Aborted);
    EXPECT_EQ(d.Params->JpegColorSpace, 4);   // ImageMagick stores Adobe YCCK
    // djpeg rounds C x K / 255, the bridge truncates: at most one step apart.
    Picture ref = DjpegReference(path, "int", 1);
    EXPECT_LE(MaxDiff(d.Bitmap, ref), 1);
    // And close to the source picture (the white patch stays white).
    TRGB white = PixelOf(d.Bitmap, 13, 1);
    EXPECT_GT(white.r + white.g + white.b, 3 * 235);
}

TEST(JpegDecode, CmykConversionFormulas) {
    TRGB rgb;
    JpegCMYKToRGB(TCMYK{200, 100, 50, 128}, rgb);
    EXPECT_EQ(rgb.r, 200 * 128 / 255);
    EXPECT_EQ(rgb.g, 100 * 128 / 255);
    EXPECT_EQ(rgb.b, 50 * 128 / 255);
    EXPECT_EQ(JpegRGBToCMYK(TRGB{0, 0, 0}), (TCMYK{0, 0, 0, 1}));
    TCMYK k = JpegRGBToCMYK(TRGB{50, 100, 200});   // B, G, R
    EXPECT_EQ(k.k, 200);
    EXPECT_EQ(k.c, 255);
    EXPECT_EQ(k.m, 100 * 255 / 200);
    EXPECT_EQ(k.y, 50 * 255 / 200);
    // Round trip within rounding.
    TRGB back;
    JpegCMYKToRGB(k, back);
    EXPECT_NEAR(back.r, 200, 1);
    EXPECT_NEAR(back.g, 100, 1);
    EXPECT_NEAR(back.b, 50, 1);
}

// ---- Markers and density ----

TEST(JpegMarkersRead, SavedInFileOrderWithoutTheLeadingJfif) {
    Decoded d;
    Decode(d, ReadFile(JpegFixture("markers.jpg")));
    ASSERT_FALSE(d.Aborted);
    TLXMarkerList& m = *d.Params->JpegMarkers;
    ASSERT_EQ(m.Count(), 3);
    EXPECT_EQ(m.MarkerType(0), 0xE1);
    EXPECT_EQ(std::memcmp(m.MarkerData(0), "Exif\0", 5), 0);
    EXPECT_EQ(m.MarkerType(1), 0xED);
    EXPECT_EQ(std::memcmp(m.MarkerData(1), "Photoshop 3.0", 13), 0);
    EXPECT_EQ(m.MarkerType(2), 0xFE);
    ASSERT_EQ(m.MarkerLength(2), 15);
    EXPECT_EQ(std::memcmp(m.MarkerData(2), "fixture comment", 15), 0);
}

TEST(JpegMarkersRead, ParamsOnlyStoresMarkersAndLeavesTheBitmap) {
    Decoded d;
    FillPattern(d.Bitmap, 5, 4);
    const TRGB before = PixelOf(d.Bitmap, 2, 2);
    Decode(d, ReadFile(JpegFixture("markers.jpg")), true);
    ASSERT_FALSE(d.Aborted);
    EXPECT_EQ(d.Params->JpegMarkers->Count(), 3);
    EXPECT_EQ(d.Params->Width, 33);
    EXPECT_EQ(d.Params->Height, 17);
    EXPECT_EQ(d.Bitmap.Width(), 5);
    EXPECT_EQ(d.Bitmap.Height(), 4);
    TRGB after = PixelOf(d.Bitmap, 2, 2);
    EXPECT_EQ(before.r, after.r);
    EXPECT_EQ(before.b, after.b);
}

TEST(JpegMarkersWrite, LoadSaveKeepsMarkersInOrderWithOneJfif) {
    Decoded d;
    Decode(d, ReadFile(JpegFixture("markers.jpg")));
    ASSERT_FALSE(d.Aborted);
    d.Params->DpiX = d.Params->DpiY = 0;
    std::vector<uint8_t> out = Encode(d.Bitmap, *d.Params);
    std::vector<int> codes;
    int jfif = 0;
    for (auto& s : JpegSegments(out)) {
        if (s.Code == 0xE0 && StartsWith(s.Data, "JFIF\0", 5)) jfif++;
        if (s.Code >= 0xE0 || s.Code == 0xFE) codes.push_back(s.Code);
    }
    EXPECT_EQ(jfif, 1);
    EXPECT_EQ(codes, (std::vector<int>{0xE0, 0xE1, 0xED, 0xFE}));
    if (HaveTool("exiftool")) {
        TempFile t(".jpg");
        WriteFile(t.Path(), out);
        auto r = RunTool("exiftool -s3 -IPTC:Keywords -IPTC:City -EXIF:Make '" + t.Path() + "'");
        ASSERT_TRUE(r.Ok);
        EXPECT_EQ(std::string(r.Out.begin(), r.Out.end()), "alpha, beta\nSomewhere\nGlimmer\n");
    }
    if (HaveTool("rdjpgcom")) {
        TempFile t(".jpg");
        WriteFile(t.Path(), out);
        auto r = RunTool("rdjpgcom '" + t.Path() + "'");
        EXPECT_EQ(std::string(r.Out.begin(), r.Out.end()), "fixture comment\n");
    }
}

TEST(JpegMarkersWrite, IptcRecordsTravelInApp13) {
    // Read: the APP13 of an exiftool-made file parses into the records exiftool wrote.
    Decoded d;
    Decode(d, ReadFile(JpegFixture("markers.jpg")));
    ASSERT_FALSE(d.Aborted);
    TLXMarkerList& m = *d.Params->JpegMarkers;
    const int app13 = m.IndexOf(0xED);
    ASSERT_GE(app13, 0);
    TLXIPTCInfoList read;
    read.LoadFromBuffer(m.MarkerData(app13), m.MarkerLength(app13));
    std::vector<std::string> values;
    for (int i = 0; i < read.Count(); i++)
        if (read.RecordNumber(i) == 2 && read.DataSet(i) != 0)
            values.emplace_back(reinterpret_cast<const char*>(read.ItemData(i)), read.ItemHeaders(i).Length);
    EXPECT_EQ(values, (std::vector<std::string>{"alpha", "beta", "Somewhere"}));

    // Write: our records in APP13, read back by exiftool.
    TLXIPTCInfoList list;
    list.AddItem(2, 25, 5, "gamma");
    list.AddItem(2, 25, 5, "delta");
    list.AddItem(2, 90, 5, "Paris");
    const std::vector<uint8_t> block = list.SaveToBuffer();
    ASSERT_TRUE(m.SetMarker(app13, 0xED, int64_t(block.size()), block.data()));
    d.Params->DpiX = d.Params->DpiY = 72;
    const std::vector<uint8_t> out = Encode(d.Bitmap, *d.Params);
    if (!HaveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
    TempFile t(".jpg");
    WriteFile(t.Path(), out);
    auto r = RunTool("exiftool -s3 -IPTC:Keywords -IPTC:City '" + t.Path() + "'");
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(std::string(r.Out.begin(), r.Out.end()), "gamma, delta\nParis\n");
}

TEST(JpegMarkersWrite, CopiedAdobeMarkerDoesNotOverrideTheNewColourSpace) {
    // rgb.jpg carries Adobe transform 0 (RGB). Saved as YCbCr, a copy of it would make
    // readers take the YCbCr data for RGB.
    Decoded d;
    Decode(d, ReadFile(JpegFixture("rgb.jpg")));
    ASSERT_FALSE(d.Aborted);
    ASSERT_GE(d.Params->JpegMarkers->IndexOf(0xEE), 0);
    for (int cs : {2, 0}) {
        d.Params->JpegColorSpace = uint8_t(cs);
        d.Params->JpegQuality = 95;
        std::vector<uint8_t> out = Encode(d.Bitmap, *d.Params);
        int adobe = 0;
        for (auto& s : JpegSegments(out))
            if (s.Code == 0xEE) adobe++;
        EXPECT_EQ(adobe, cs == 0 ? 1 : 0) << "colour space " << cs;
        Decoded back;
        Decode(back, out);
        ASSERT_FALSE(back.Aborted);
        TRGB red = PixelOf(back.Bitmap, 1, 1);
        EXPECT_GT(red.r, 230) << cs;
        EXPECT_LT(red.b, 30) << cs;
    }
}

TEST(JpegDensity, UnitsTable) {
    struct Case {
        int Unit, X, Y, DpiX, DpiY;
    } cases[] = {{0, 1, 1, 1, 1}, {2, 118, 118, 299, 299}, {1, 300, 300, 300, 300},
                 {1, 0, 0, 0, 0}, {1, 72, 144, 72, 144}, {2, 100, 50, 254, 127}};
    const std::vector<uint8_t> base = ReadFile(JpegFixture("baseline.jpg"));
    ASSERT_EQ(std::memcmp(&base[6], "JFIF", 4), 0);
    for (const Case& c : cases) {
        std::vector<uint8_t> f = base;
        f[13] = uint8_t(c.Unit);
        f[14] = uint8_t(c.X >> 8), f[15] = uint8_t(c.X);
        f[16] = uint8_t(c.Y >> 8), f[17] = uint8_t(c.Y);
        Decoded d;
        d.Params->DpiX = d.Params->DpiY = 77;
        Decode(d, f, true);
        ASSERT_FALSE(d.Aborted);
        EXPECT_EQ(d.Params->DpiX, c.DpiX) << c.Unit << " " << c.X;
        EXPECT_EQ(d.Params->DpiY, c.DpiY) << c.Unit << " " << c.Y;
    }
}

TEST(JpegDensity, WriterStoresDpiOrAnAspectRatio) {
    TBitmap bmp;
    FillPattern(bmp, 16, 8);
    TLXIOParams p(nullptr);
    struct Case {
        int Dpi, Unit, X;
    } cases[] = {{300, 1, 300}, {96, 1, 96}, {0, 0, 1}};
    for (const Case& c : cases) {
        p.DpiX = p.DpiY = c.Dpi;
        std::vector<uint8_t> out = Encode(bmp, p);
        auto segs = JpegSegments(out);
        ASSERT_FALSE(segs.empty());
        ASSERT_EQ(segs[0].Code, 0xE0);
        EXPECT_EQ(segs[0].Data[7], c.Unit);
        EXPECT_EQ(segs[0].Data[8] << 8 | segs[0].Data[9], c.X);
        EXPECT_EQ(segs[0].Data[10] << 8 | segs[0].Data[11], c.X);
    }
}

// ---- Scaling ----

const std::vector<uint8_t>& BigJpeg(int w, int h) {
    static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
    auto& v = cache[{w, h}];
    if (v.empty()) {
        TBitmap bmp;
        FillPattern(bmp, w, h);
        TLXIOParams p(nullptr);
        p.JpegQuality = 30;
        v = Encode(bmp, p);
    }
    return v;
}

TEST(JpegScale, AutomaticScaleTable) {
    struct Case {
        int W, H, WantW, WantH, Denom, OutW, OutH;
    } cases[] = {
        {1600, 1200, 400, 300, 4, 400, 300},
        {1600, 1200, 401, 300, 2, 800, 600},
        {1600, 1200, 0, 0, 1, 1600, 1200},
        {1600, 1200, 200, 150, 8, 200, 150},
        {1600, 1200, 1601, 10, 1, 1600, 1200},
        {1601, 1201, 400, 300, 4, 401, 301},   // the library rounds up
    };
    for (const Case& c : cases) {
        for (bool paramsOnly : {true, false}) {
            Decoded d;
            d.Params->JpegScale = 0;
            d.Params->Width = c.WantW;
            d.Params->Height = c.WantH;
            Decode(d, BigJpeg(c.W, c.H), paramsOnly);
            ASSERT_FALSE(d.Aborted);
            EXPECT_EQ(d.Params->JpegScaleDenominator, c.Denom) << c.WantW << "x" << c.WantH;
            EXPECT_EQ(d.Params->Width, c.OutW);
            EXPECT_EQ(d.Params->Height, c.OutH);
            EXPECT_EQ(d.Params->JpegScale, 0);
            if (!paramsOnly) {
                EXPECT_EQ(d.Bitmap.Width(), c.OutW);
                EXPECT_EQ(d.Bitmap.Height(), c.OutH);
            }
        }
    }
}

TEST(JpegScale, FixedCodesAndUnknownCodes) {
    const int codes[] = {1, 2, 3, 4, 9};
    const int denoms[] = {1, 2, 4, 8, 1};
    for (int i = 0; i < 5; i++) {
        Decoded d;
        d.Params->JpegScale = uint8_t(codes[i]);
        Decode(d, BigJpeg(1600, 1200), true);
        EXPECT_EQ(d.Params->JpegScaleDenominator, denoms[i]);
        EXPECT_EQ(d.Params->Width, 1600 / denoms[i]);
    }
}

// ---- Stream position, truncation, hostile input ----

TEST(JpegStream, StartFoundWithin100Bytes) {
    const std::vector<uint8_t> f = ReadFile(JpegFixture("baseline.jpg"));
    struct Case {
        size_t Garbage;
        bool Found;
    } cases[] = {{0, true}, {50, true}, {99, true}, {100, false}};
    for (const Case& c : cases) {
        std::vector<uint8_t> data(c.Garbage, 0x11);
        data.insert(data.end(), f.begin(), f.end());
        for (size_t prefix : {size_t(0), size_t(37)}) {
            auto s = MemStream(data, prefix);
            EXPECT_EQ(FindJpegStart(s.get()), c.Found ? int64_t(prefix + c.Garbage) : -1);
            EXPECT_EQ(s->Position(), int64_t(prefix));
            Decoded d;
            Decode(d, data, false, prefix);
            EXPECT_EQ(d.Aborted, !c.Found) << c.Garbage;
            if (c.Found) {
                EXPECT_EQ(d.Bitmap.Width(), 33);
            }
        }
    }
}

TEST(JpegStream, TruncatedFiles) {
    const std::vector<uint8_t> f = ReadFile(JpegFixture("baseline.jpg"));
    // Cut in the scan: full size, the library fills the rest, no abort.
    {
        Decoded d;
        Decode(d, std::vector<uint8_t>(f.begin(), f.begin() + long(f.size() * 3 / 4)));
        EXPECT_FALSE(d.Aborted);
        EXPECT_EQ(d.Bitmap.Width(), 33);
        EXPECT_EQ(d.Bitmap.Height(), 17);
    }
    for (size_t n : {size_t(3), size_t(4), size_t(20), size_t(200)}) {
        Decoded d;
        Decode(d, std::vector<uint8_t>(f.begin(), f.begin() + long(n)));
        EXPECT_TRUE(d.Aborted) << n;
    }
    Decoded empty;
    Decode(empty, {});
    EXPECT_TRUE(empty.Aborted);
}

TEST(JpegStream, ProgressiveTruncatedStillDecodes) {
    const std::vector<uint8_t> f = ReadFile(JpegFixture("progressive.jpg"));
    Decoded d;
    Decode(d, std::vector<uint8_t>(f.begin(), f.begin() + long(f.size() / 2)));
    EXPECT_FALSE(d.Aborted);
    EXPECT_EQ(d.Bitmap.Width(), 33);
}

// Scans are bounded by their count and by their work (blocks visited, a refinement scan also
// checking every coefficient of its band): files of end-of-band scans just within the bound
// decode to the flat grey djpeg makes of them, those past it are refused, before the output
// pass, with the abort flag and no picture.
TEST(JpegHostile, ManyScansAreRefusedByCountAndByWork) {
    using many_scans::Kind;
    struct Case {
        int side, scans;
        Kind kind;
        bool refused;
    };
    // 2048 x 2048 has 65536 blocks: 100 whole visits of them is the work bound; a refinement
    // scan of coefficients 1-63 costs 1 + 63 / 12 visits.
    const Case cases[] = {
        {64, 100, Kind::First, false},   {64, 101, Kind::First, true},
        {64, 5000, Kind::First, true},   {2048, 100, Kind::First, false},
        {2048, 101, Kind::First, true},  {2048, 17, Kind::Refine, false},
        {2048, 18, Kind::Refine, true},  {2048, 60, Kind::Refine, true},
        {64, 60, Kind::Refine, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.side) + " with " + std::to_string(c.scans) +
                     (c.kind == Kind::First ? " first" : " refinement") + " scans");
        const Bytes f = many_scans::Make(c.side, c.side, c.scans, c.kind, 64 << 10);
        Decoded d;
        FillPattern(d.Bitmap, 3, 3);
        Decode(d, f);
        EXPECT_EQ(d.Aborted, c.refused);
        if (c.refused) {
            EXPECT_EQ(d.Bitmap.Width(), 3) << "nothing was decoded";
            continue;
        }
        ASSERT_EQ(d.Bitmap.Width(), c.side);
        EXPECT_EQ(PixelOf(d.Bitmap, c.side / 2, c.side / 3), (TRGB{128, 128, 128}));
        // djpeg warns on the repeated refinements (and then fails): only the first scans.
        if (c.kind == Kind::First && HaveTool("djpeg")) EXPECT_EQ(MaxDiff(d.Bitmap, DjpegOf(f)), 0);
    }
}

// Progressive files as the outside tools write them decode within the bound, also a scan
// script of many small bands; the pixels are djpeg's.
TEST(JpegHostile, RealProgressiveFilesStayWithinTheScanBound) {
    for (const char* t : {"cjpeg", "jpegtran", "convert", "djpeg"})
        if (!HaveTool(t)) GTEST_SKIP() << t << " not installed";
    TempFile ppm("scans.ppm"), pgm("scans.pgm"), base("scans_base.jpg"), script("scans.txt"), out("scans.jpg");
    ASSERT_EQ(std::system(("convert -size 1200x900 -seed 5 plasma:fractal -depth 8 ppm:" + ppm.Path() +
                           " && convert " + ppm.Path() + " -colorspace Gray pgm:" + pgm.Path())
                              .c_str()),
              0);
    // 4:4:4 colour, each component in seven bands with two refinements each: 65 scans.
    std::string lines = "0,1,2: 0-0, 0, 1;\n";
    for (int ci = 0; ci < 3; ++ci)
        for (int band = 0; band < 7; ++band) {
            const int ss = 1 + band * 9, se = ss + 8;
            for (const char* al : {"0, 2", "2, 1", "1, 0"})
                lines += std::to_string(ci) + ": " + std::to_string(ss) + "-" + std::to_string(se) + ", " + al + ";\n";
        }
    lines += "0,1,2: 0-0, 1, 0;\n";
    WriteFile(script.Path(), Bytes(lines.begin(), lines.end()));
    ASSERT_TRUE(RunTool("cjpeg -quality 90 -outfile " + base.Path() + " " + ppm.Path()).Ok);
    const std::vector<std::pair<const char*, std::string>> tools = {
        {"cjpeg -progressive", "cjpeg -progressive -quality 90 -outfile " + out.Path() + " " + ppm.Path()},
        {"cjpeg -progressive, grey", "cjpeg -progressive -quality 90 -outfile " + out.Path() + " " + pgm.Path()},
        {"cjpeg -progressive, 4:4:4", "cjpeg -progressive -sample 1x1 -quality 90 -outfile " + out.Path() + " " + ppm.Path()},
        {"jpegtran -progressive", "jpegtran -progressive -outfile " + out.Path() + " " + base.Path()},
        {"convert -interlace Plane", "convert " + ppm.Path() + " -quality 90 -interlace Plane jpg:" + out.Path()},
        {"cjpeg -scans, 65 scans", "cjpeg -sample 1x1 -quality 90 -scans " + script.Path() + " -outfile " + out.Path() + " " + ppm.Path()},
    };
    for (const auto& [what, cmd] : tools) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(RunTool(cmd).Ok) << cmd;
        const Bytes f = ReadFile(out.Path());
        Decoded d;
        Decode(d, f);
        EXPECT_FALSE(d.Aborted);
        EXPECT_TRUE(d.Params->JpegProgressive);
        EXPECT_EQ(MaxDiff(d.Bitmap, DjpegOf(f)), 0);
    }
}

TEST(JpegHostile, ComponentCountsThatFitNoRow) {
    Decoded two;
    Decode(two, ReadFile(JpegFixture("comp2.jpg")));
    EXPECT_TRUE(two.Aborted);
    // Four components without an Adobe marker are taken as CMYK and decoded.
    Decoded four;
    Decode(four, ReadFile(JpegFixture("comp4.jpg")));
    EXPECT_FALSE(four.Aborted);
    EXPECT_EQ(four.Bitmap.Width(), 9);
}

TEST(JpegHostile, HugeDimensionsAbortWithoutAllocating) {
    std::vector<uint8_t> f = ReadFile(JpegFixture("baseline.jpg"));
    size_t sof = 0;
    for (size_t i = 2; i + 9 < f.size(); i++)
        if (f[i] == 0xFF && f[i + 1] == 0xC0) { sof = i; break; }
    ASSERT_GT(sof, 0u);
    f[sof + 5] = 0xFF, f[sof + 6] = 0xD0;   // height 65488
    f[sof + 7] = 0xFF, f[sof + 8] = 0xD0;   // width 65488
    Decoded p;
    Decode(p, f, true);
    EXPECT_FALSE(p.Aborted);
    EXPECT_EQ(p.Params->Width, 65488);
    Decoded d;
    FillPattern(d.Bitmap, 3, 3);
    Decode(d, f);
    EXPECT_TRUE(d.Aborted);
    EXPECT_EQ(d.Bitmap.Width(), 3);
}

// Small files that claim a big picture (cut files, or a size field set by hand) are refused
// by the decode budget before anything is allocated: 1024 bytes of picture a byte of file.
// The same files at a size that fits load as the library fills them.
TEST(JpegHostile, SmallFilesClaimingHugePicturesAreRefused) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) not installed";
    const Picture src = ReadNetpbm(JpegFixture("baseline.int.1.ppm"));
    TempFile ppm("src.ppm"), jpg("src.jpg");
    {
        std::string head = "P6\n" + std::to_string(src.w) + " " + std::to_string(src.h) + "\n255\n";
        Bytes f(head.begin(), head.end());
        f.insert(f.end(), src.data.begin(), src.data.end());
        ppm.Write(f);
    }
    for (const char* mode : {"-baseline", "-progressive"}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(RunTool(std::string("cjpeg -quality 50 ") + mode + " -outfile " + jpg.Path() + " " + ppm.Path()).Ok);
        Bytes f = ReadFile(jpg.Path());
        ASSERT_LT(f.size(), 2000u);
        size_t sof = 0;
        for (size_t i = 2; i + 9 < f.size() && !sof; i++)
            if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) sof = i;
        ASSERT_GT(sof, 0u);
        struct Case { int side, scale; bool refused; };
        for (const Case& c : {Case{16384, 1, true}, Case{16384, 4, std::string(mode) == "-progressive"},
                              Case{1000, 1, false}}) {
            f[sof + 5] = uint8_t(c.side >> 8), f[sof + 6] = uint8_t(c.side);
            f[sof + 7] = uint8_t(c.side >> 8), f[sof + 8] = uint8_t(c.side);
            Decoded d;
            FillPattern(d.Bitmap, 3, 3);
            d.Params->JpegScale = uint8_t(c.scale);
            Decode(d, f);
            EXPECT_EQ(d.Aborted, c.refused) << c.side << " at scale " << c.scale;
            EXPECT_EQ(d.Bitmap.Width(), c.refused ? 3 : c.side / (c.scale == 4 ? 8 : 1));
            Decoded p;
            Decode(p, f, true);
            EXPECT_FALSE(p.Aborted);
            EXPECT_EQ(p.Params->Width, c.side);
        }
    }
}

// ---- Progress and abort ----

TEST(JpegProgress, OneReportPerRow) {
    for (const char* n : {"baseline.jpg", "progressive.jpg", "cmyk.jpg"}) {
        ProgressLog log;
        TBitmap bmp;
        TLXIOParams p(nullptr);
        auto s = MemStream(ReadFile(JpegFixture(n)));
        JpegDecodeStream(s.get(), &bmp, p, false, log.rec);
        ASSERT_FALSE(log.aborted);
        ASSERT_EQ(log.values.size(), 17u) << n;
        EXPECT_EQ(log.values.back(), int(17 * (100.0 / 17)));
        EXPECT_TRUE(std::is_sorted(log.values.begin(), log.values.end()));
    }
}

TEST(JpegProgress, AbortFromTheEventStopsDecoding) {
    ProgressLog log;
    log.abortAt = 6;
    TBitmap bmp;
    TLXIOParams p(nullptr);
    auto s = MemStream(ReadFile(JpegFixture("baseline.jpg")));
    JpegDecodeStream(s.get(), &bmp, p, false, log.rec);
    EXPECT_TRUE(log.aborted);
    EXPECT_EQ(log.values.size(), 6u);
}

// The reader does not clear the picture before writing its rows: what it never writes (the
// row padding, the rows after a stop) must still come out black, also in a block that held
// another picture of the same size before.
TEST(JpegProgress, RowsNeverWrittenAreBlackInAReusedBlock) {
    const Bytes file = ReadFile(JpegFixture("baseline.jpg"));   // 33 x 17: one padding byte a row
    TBitmap fresh;
    TLXIOParams p(nullptr);
    {
        ProgressLog log;
        auto s = MemStream(file);
        JpegDecodeStream(s.get(), &fresh, p, false, log.rec);
        ASSERT_FALSE(log.aborted);
    }
    for (const int stopAt : {-1, 6}) {
        SCOPED_TRACE(stopAt);
        TBitmap bmp;
        bmp.SetPixelFormat(pf24bit);
        bmp.SetSize(33, 17);
        uint8_t* block = bmp.PixelBlock();
        std::memset(block, 0xAB, size_t(bmp.ImageSize()));
        ProgressLog log;
        log.abortAt = stopAt;
        auto s = MemStream(file);
        JpegDecodeStream(s.get(), &bmp, p, false, log.rec);
        EXPECT_EQ(log.aborted, stopAt > 0);
        ASSERT_EQ(bmp.PixelBlock(), block);
        ASSERT_EQ(bmp.RowBytes(), 100);
        const int decoded = stopAt > 0 ? stopAt : 17;
        for (int y = 0; y < 17; ++y) {
            const uint8_t* row = bmp.ScanLine(y);
            if (y < decoded) EXPECT_EQ(std::memcmp(row, fresh.ScanLine(y), 99), 0) << "row " << y;
            else EXPECT_EQ(std::count(row, row + 99, 0), 99) << "row " << y;
            EXPECT_EQ(row[99], 0) << "padding of row " << y;
        }
    }
}

TEST(JpegProgress, WriterReportsEveryRow) {
    ProgressLog log;
    TBitmap bmp;
    FillPattern(bmp, 20, 9);
    TLXIOParams p(nullptr);
    TMemoryStream s;
    JpegEncodeStream(&s, &bmp, p, log.rec);
    EXPECT_FALSE(log.aborted);
    EXPECT_EQ(log.values.size(), 9u);
    EXPECT_EQ(log.values.back(), int(9 * (100.0 / 9)));
}

// ---- Writing ----

struct WriteCase {
    int ColorSpace;
    bool Progressive, Optimize;
    int Dct, Smoothing, Quality;
};

class JpegWriteRoundTrip : public testing::TestWithParam<WriteCase> {};

TEST_P(JpegWriteRoundTrip, OutsideDecoderAgreesWithOurs) {
    const WriteCase& c = GetParam();
    TBitmap src;
    FillPattern(src, 37, 21);
    TLXIOParams p(nullptr);
    p.JpegColorSpace = uint8_t(c.ColorSpace);
    p.JpegProgressive = c.Progressive;
    p.JpegOptimizeCoding = c.Optimize;
    p.JpegDCTMethod = uint8_t(c.Dct);
    p.JpegSmoothing = c.Smoothing;
    p.JpegQuality = c.Quality;
    p.DpiX = p.DpiY = 72;
    bool aborted = true;
    std::vector<uint8_t> out = Encode(src, p, &aborted);
    ASSERT_FALSE(aborted);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out[out.size() - 2], 0xFF);
    EXPECT_EQ(out[out.size() - 1], 0xD9);

    Decoded d;
    Decode(d, out);
    ASSERT_FALSE(d.Aborted);
    EXPECT_EQ(d.Params->JpegProgressive, c.Progressive);
    const int expectedSpace = c.ColorSpace > 4 ? 0 : c.ColorSpace;
    EXPECT_EQ(d.Params->JpegColorSpace, expectedSpace);
    // Close to the source (grey only in luminance).
    if (c.ColorSpace != 1) {
        long err = 0;
        for (int y = 0; y < 21; y++)
            for (int x = 0; x < 37; x++) {
                TRGB a = PixelOf(src, x, y), b = PixelOf(d.Bitmap, x, y);
                err += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
            }
        // A sanity bound (exchanged channels give about 70); chroma subsampling of the
        // 4 x 4 checks costs most of it.
        EXPECT_LT(double(err) / (37 * 21 * 3), 20.0);
    }
    // djpeg (RGB, grey, YCbCr) or ImageMagick (CMYK, YCCK) reads the same pixels.
    if (c.ColorSpace <= 2 || c.ColorSpace > 4) {
        if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
        EXPECT_EQ(MaxDiff(d.Bitmap, DjpegOf(out)), 0);
    } else {
        if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
        TempFile t(".jpg");
        WriteFile(t.Path(), out);
        auto r = RunTool("convert '" + t.Path() + "' -colorspace sRGB -depth 8 ppm:-");
        ASSERT_TRUE(r.Ok);
        EXPECT_LE(MaxDiff(d.Bitmap, ParseNetpbm(r.Out)), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Options, JpegWriteRoundTrip,
                         testing::Values(WriteCase{2, false, false, 0, 0, 90},
                                         WriteCase{0, false, false, 0, 0, 90},
                                         WriteCase{1, false, false, 0, 0, 90},
                                         WriteCase{3, false, false, 0, 0, 95},
                                         WriteCase{4, false, false, 0, 0, 95},
                                         WriteCase{7, false, false, 0, 0, 90},
                                         WriteCase{2, true, false, 0, 0, 90},
                                         WriteCase{2, false, true, 1, 0, 75},
                                         WriteCase{2, true, true, 2, 30, 50},
                                         WriteCase{0, true, false, 0, 0, 100}));

TEST(JpegWrite, SameBytesAsCjpegWithTheSameSettings) {
    // Same library, same samples, same settings: the files must be identical (no density:
    // cjpeg writes 1:1 without units, as the bridge does without a resolution).
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::string src = JpegFixture("src.ppm");
    Picture pic = ReadNetpbm(src);
    ASSERT_TRUE(pic.Valid());
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(pic.w, pic.h);
    for (int y = 0; y < pic.h; y++)
        for (int x = 0; x < pic.w; x++) {
            uint8_t* px = bmp.ScanLine(y) + 3 * x;
            px[0] = pic.Pixel(x, y)[2], px[1] = pic.Pixel(x, y)[1], px[2] = pic.Pixel(x, y)[0];
        }
    struct Case {
        const char* Args;
        int ColorSpace, Quality, Dct, Smoothing;
        bool Progressive, Optimize;
    } cases[] = {
        {"-quality 50", 2, 50, 0, 0, false, false},
        {"-quality 90 -dct fast", 2, 90, 1, 0, false, false},
        {"-quality 75 -dct float -optimize", 2, 75, 2, 0, false, true},
        {"-quality 85 -progressive", 2, 85, 0, 0, true, false},
        {"-quality 80 -grayscale", 1, 80, 0, 0, false, false},
        {"-quality 95 -rgb", 0, 95, 0, 0, false, false},
        {"-quality 60 -smooth 30", 2, 60, 0, 30, false, false},
    };
    for (const Case& c : cases) {
        TLXIOParams p(nullptr);
        p.DpiX = p.DpiY = 0;
        p.JpegColorSpace = uint8_t(c.ColorSpace);
        p.JpegQuality = c.Quality;
        p.JpegDCTMethod = uint8_t(c.Dct);
        p.JpegSmoothing = c.Smoothing;
        p.JpegProgressive = c.Progressive;
        p.JpegOptimizeCoding = c.Optimize;
        auto ref = RunTool(std::string("cjpeg ") + c.Args + " '" + src + "'");
        ASSERT_TRUE(ref.Ok) << c.Args;
        EXPECT_TRUE(Encode(bmp, p) == ref.Out) << c.Args;
    }
}

TEST(JpegWrite, PureRedIsRedInTheFile) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(8, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            uint8_t* px = bmp.ScanLine(y) + 3 * x;
            px[0] = 0, px[1] = 0, px[2] = 255;
        }
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    for (int cs : {0, 2}) {
        TLXIOParams p(nullptr);
        p.JpegColorSpace = uint8_t(cs);
        p.JpegQuality = 95;
        Picture pic = DjpegOf(Encode(bmp, p));
        ASSERT_TRUE(pic.Valid());
        EXPECT_GT(pic.Pixel(3, 3)[0], 240) << cs;
        EXPECT_LT(pic.Pixel(3, 3)[1], 15) << cs;
        EXPECT_LT(pic.Pixel(3, 3)[2], 15) << cs;
    }
}

TEST(JpegWrite, OneBitBitmapIsWrittenAsGreyLevels) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf1bit);
    bmp.SetSize(16, 8);
    for (int y = 0; y < 8; y++) bmp.ScanLine(y)[0] = 0xFF;   // left 8 columns white
    TLXIOParams p(nullptr);
    p.JpegQuality = 95;
    Decoded d;
    Decode(d, Encode(bmp, p));
    ASSERT_FALSE(d.Aborted);
    EXPECT_GT(PixelOf(d.Bitmap, 2, 4).r, 230);
    EXPECT_LT(PixelOf(d.Bitmap, 13, 4).r, 25);
}

TEST(JpegWrite, ShortWriteSetsTheFlagWithoutException) {
    TBitmap bmp;
    FillPattern(bmp, 600, 400);
    TLXIOParams p(nullptr);
    p.JpegQuality = 95;
    const int64_t full = int64_t(Encode(bmp, p).size());
    for (int64_t limit : {int64_t(0), int64_t(10), full / 2, full - 1}) {
        ShortStream s(limit);
        bool abort = false;
        TProgressRec rec;
        rec.Aborting = &abort;
        EXPECT_NO_THROW(JpegEncodeStream(&s, &bmp, p, rec));
        EXPECT_TRUE(abort) << limit;
        EXPECT_LE(s.Size(), limit);
    }
}

TEST(JpegWrite, LibraryErrorsRaiseAndSetTheFlag) {
    TLXIOParams p(nullptr);
    {
        TBitmap wide;
        wide.SetPixelFormat(pf24bit);
        wide.SetSize(70000, 1);
        TMemoryStream s;
        bool abort = false;
        TProgressRec rec;
        rec.Aborting = &abort;
        try {
            JpegEncodeStream(&s, &wide, p, rec);
            ADD_FAILURE() << "no exception";
        } catch (const ELXJpegException& e) {
            EXPECT_STREQ(e.what(), "JPeg corrupted file");
        }
        EXPECT_TRUE(abort);
    }
}

TEST(JpegWrite, LargestMarkerRoundTrips) {
    // 65533 payload bytes: the most one segment holds.
    TBitmap bmp;
    FillPattern(bmp, 8, 8);
    TLXIOParams p(nullptr);
    std::vector<uint8_t> big(TLXMarkerList::MaxMarkerLength);
    for (size_t i = 0; i < big.size(); i++) big[i] = uint8_t(i * 7);
    ASSERT_TRUE(p.JpegMarkers->AddMarker(0xE5, big.data(), int64_t(big.size())));
    Decoded d;
    Decode(d, Encode(bmp, p));
    ASSERT_FALSE(d.Aborted);
    ASSERT_EQ(d.Params->JpegMarkers->Count(), 1);
    EXPECT_EQ(d.Params->JpegMarkers->MarkerType(0), 0xE5);
    ASSERT_EQ(d.Params->JpegMarkers->MarkerLength(0), int(big.size()));
    EXPECT_EQ(std::memcmp(d.Params->JpegMarkers->MarkerData(0), big.data(), big.size()), 0);
}

}  // namespace
