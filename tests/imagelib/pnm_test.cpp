// PNM reader and writer: netpbm and ImageMagick files decoded bit-exact against netpbm's own
// decoding, the header and comment rules, hostile headers, and files we write read back by
// netpbm.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BMPFiltPnm.h"
#include "LuxIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"

namespace {

using namespace codec_test;
const std::string kPnmDir = FixtureDir("pnm");

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Decoded {
    TBitmap bitmap;
    TLXIOParams params{nullptr};
    bool aborted = false;
};

void Decode(const Bytes& data, Decoded& d, bool paramsOnly = false) {
    TMemoryStream s;
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
    TProgressRec rec;
    rec.Aborting = &d.aborted;
    PnmDecodeStream(&s, &d.bitmap, d.params, paramsOnly, rec);
}

Bytes Encode(TBitmap& b, TLXIOParams& p, bool* aborted = nullptr) {
    TMemoryStream s;
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    PnmEncodeStream(&s, &b, p, rec);
    if (aborted) *aborted = abort;
    Bytes out(size_t(s.Size()));
    s.SetPosition(0);
    if (!out.empty()) s.Read(out.data(), int64_t(out.size()));
    return out;
}

void Fill24(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + x * 3;
            p[0] = uint8_t(x * 17 + y);
            p[1] = uint8_t(y * 29 + 3);
            p[2] = uint8_t(x * y * 5 + 7);
        }
}

class PnmDpi : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ScreenPixelsPerInch();
        SetScreenPixelsPerInch(83);
    }
    void TearDown() override { SetScreenPixelsPerInch(saved_); }
    int saved_ = 96;
};

// The grey level a P5 save writes: the luminance weights 21, 71, 7 over their sum, so that
// white stays 255.
uint8_t Grey(int r, int g, int b) { return uint8_t((r * 21 + g * 71 + b * 7 + 49) / 99); }

// Every pixel of an R, G, B row-major picture turned to its grey level.
void ToGrey(Bytes& rgb) {
    for (size_t i = 0; i < rgb.size(); i += 3) rgb[i] = rgb[i + 1] = rgb[i + 2] = Grey(rgb[i], rgb[i + 1], rgb[i + 2]);
}

bool HaveNetpbm() { return HaveTool("pamfile") && HaveTool("ppmtoppm"); }

// ---- Outside-tool files ----

TEST_F(PnmDpi, ToolFilesDecodeLikeNetpbm) {
    struct Case { const char* file; int bits, samples; TPixelFormat format; };
    const Case cases[] = {
        {"nb_p1.pbm", 1, 1, pf1bit},          {"im_p1.pbm", 1, 1, pf1bit},
        {"im_p1_large.pbm", 1, 1, pf1bit},
        {"nb_p4.pbm", 1, 1, pf1bit},          {"im_p4.pbm", 1, 1, pf1bit},
        {"nb_p2.pgm", 8, 1, pf24bit},         {"nb_p2_15.pgm", 8, 1, pf24bit},
        {"nb_p5.pgm", 8, 1, pf24bit},         {"im_p5.pgm", 8, 1, pf24bit},
        {"nb_p5_15.pgm", 8, 1, pf24bit},      {"nb_p5_4095.pgm", 8, 1, pf24bit},
        {"nb_p3.ppm", 8, 3, pf24bit},         {"nb_p3_4095.ppm", 8, 3, pf24bit},
        {"nb_p6.ppm", 8, 3, pf24bit},         {"nb_p6_65535.ppm", 8, 3, pf24bit},
        {"im_p6_16bit.ppm", 8, 3, pf24bit},   {"gen_comments.pgm", 8, 1, pf24bit},
    };
    for (const Case& c : cases) {
        const std::string name = c.file;
        const Picture want = ParseNetpbm(ReadFile(kPnmDir + name.substr(0, name.rfind('.')) + ".ref.ppm"));
        Decoded d;
        Decode(ReadFile(kPnmDir + name), d);
        ASSERT_FALSE(d.aborted) << name;
        EXPECT_EQ(d.bitmap.PixelFormat(), c.format) << name;
        ASSERT_EQ(d.bitmap.Width(), want.w) << name;
        ASSERT_EQ(d.bitmap.Height(), want.h) << name;
        EXPECT_TRUE(BitmapRGB(d.bitmap) == want.Rgb()) << name;
        EXPECT_EQ(d.params.Width, want.w) << name;
        EXPECT_EQ(d.params.Height, want.h) << name;
        EXPECT_EQ(d.params.BitsPerSample, c.bits) << name;
        EXPECT_EQ(d.params.SamplesPerPixel, c.samples) << name;
        EXPECT_EQ(d.params.DpiX, 83) << name;
        EXPECT_EQ(d.params.DpiY, 83) << name;
        EXPECT_EQ(d.params.Palette, nullptr) << name;
    }
}

TEST(PnmRead, EightBitPixmapIsNotScaledByItsMaximum) {
    // netpbm's own file of maximum 15: the bytes are taken as they stand.
    const Bytes f = ReadFile(kPnmDir + "nb_p6_15.ppm");
    const std::string head = "P6\n13 7\n15\n";
    ASSERT_EQ(std::string(f.begin(), f.begin() + long(head.size())), head);
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    EXPECT_TRUE(BitmapRGB(d.bitmap) == Bytes(f.begin() + long(head.size()), f.end()));

    Decode(Cat(Str("P6 1 1 15\n"), Bytes{1, 9, 15}), d);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{1, 9, 15}));
}

TEST(PnmRead, CommentsAreKeptInOrderAndTrimmed) {
    Decoded d;
    d.params.PnmComments->Add("stale");
    Decode(ReadFile(kPnmDir + "gen_comments.pgm"), d);
    ASSERT_FALSE(d.aborted);
    ASSERT_EQ(d.params.PnmComments->Count(), 3);
    EXPECT_EQ(d.params.PnmComments->Strings(0), "first comment");
    EXPECT_EQ(d.params.PnmComments->Strings(1), "after width");
    EXPECT_EQ(d.params.PnmComments->Strings(2), "before max");

    // The small greymap of maximum 15 with one comment.
    Decode(Cat(Str("P5\n# made by hand \n2 1\n15\n"), Bytes{0, 15}), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{0, 0, 0, 255, 255, 255}));
    ASSERT_EQ(d.params.PnmComments->Count(), 1);
    EXPECT_EQ(d.params.PnmComments->Strings(0), "made by hand");
}

TEST(PnmRead, PlainAndRawBitmapsTurnBlackToClearBits) {
    Decoded d;
    Decode(Str("P1\n3 1\n0 1 0\n"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{255, 255, 255, 0, 0, 0, 255, 255, 255}));
    // Plain bits may stand without blanks; other characters are skipped.
    Decode(Str("P1 4 2 01x10 1\n1\t00\n"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255,
                                          0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255}));
    // P4: 1 = black, most significant bit first; the bitmap holds the inverse.
    Decode(Cat(Str("P4 10 1\n"), Bytes{0xA5, 0x40}), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.ScanLine(0)[0], 0x5A);
    EXPECT_EQ(d.bitmap.ScanLine(0)[1] & 0xC0, 0x80);
}

TEST(PnmRead, PlainSamplesAreScaledAndOverflowKeepsLowBits) {
    Decoded d;
    // 7 of 10 = 178.5 rounds to even; 20 of 10 = 510 keeps its low byte; "zz" reads as 0.
    Decode(Str("P2 4 1 10 5 7 20 zz"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{128, 128, 128, 178, 178, 178, 254, 254, 254, 0, 0, 0}));
    Decode(Str("P3 2 1 255 1 2 3 # a note in the data\n 4 5 6"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(PnmRead, ShortDataLeavesTheRestBlack) {
    Decoded d;
    Decode(Cat(Str("P5 3 2 255\n"), Bytes{10, 20, 30, 40}), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap), (Bytes{10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40, 0, 0, 0, 0, 0, 0}));
    Decode(Str("P2 2 2 255 9"), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(BitmapRGB(d.bitmap)[0], 9);
    EXPECT_EQ(BitmapRGB(d.bitmap)[3], 0);
}

TEST(PnmRead, BadHeadersAbortAndLeaveTheBitmap) {
    const std::string cases[] = {
        "",                          "P5",                       "P5 3",
        "P5 0 3 255\n\x01",          "P5 3 0 255\n\x01",        "P7 2 2 255\n\x01\x01\x01\x01",
        "PX 2 2 255\n\x01",          "P5 2 2 0\n\x01\x01",       "P5 2 2 70000\n\x01\x01",
        "P5 2 2\n",                  "P5 2 2 255\n",             "P6 100000 100000 255\n\x01\x02",
        "P4 99999999999999999999 1\n\x01", "P3 3000000000 1 255 1 2 3",
        "P1 80000000 80000000 0101", "P5 two 2 255\n\x01\x01",
    };
    for (const std::string& c : cases) {
        Decoded d;
        d.bitmap.SetPixelFormat(pf24bit);
        d.bitmap.SetSize(2, 3);
        Decode(Str(c), d);
        EXPECT_TRUE(d.aborted) << c;
        EXPECT_EQ(d.bitmap.Width(), 2) << c;
        EXPECT_EQ(d.bitmap.Height(), 3) << c;
    }
}

TEST(PnmRead, ParamsOnlyLeavesTheBitmap) {
    Decoded d;
    d.bitmap.SetPixelFormat(pf24bit);
    d.bitmap.SetSize(2, 3);
    Decode(Cat(Str("P4\n# note\n17 9\n"), Bytes(27, 0)), d, true);
    EXPECT_FALSE(d.aborted);
    EXPECT_EQ(d.params.Width, 17);
    EXPECT_EQ(d.params.Height, 9);
    EXPECT_EQ(d.params.BitsPerSample, 1);
    EXPECT_EQ(d.params.PnmComments->Count(), 1);
    EXPECT_EQ(d.bitmap.Width(), 2);
}

TEST(PnmRead, TokensAndComments) {
    TMemoryStream s;
    const std::string text = "P6 #  a comment \r\n12\t\t#x\n34,ab# \n";
    s.Write(text.data(), int64_t(text.size()));
    s.SetPosition(0);
    std::vector<std::string> got;
    std::string t;
    for (int i = 0; i < 8; ++i) {
        PnmReadToken(&s, t);
        got.push_back(t);
    }
    // The character ending a token is consumed, so "#" right after "ab" is lost with it.
    const std::vector<std::string> want = {"P6", "#a comment", "12", "#x", "34", "ab", "", ""};
    EXPECT_EQ(got, want);
}

// ---- Writing ----

TEST(PnmWrite, HeadersAreExact) {
    TBitmap b;
    Fill24(b, 640, 480);
    TLXIOParams p(nullptr);
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    Bytes f = Encode(b, p);
    const std::string h5 = "P5 640 480 255\n";
    ASSERT_EQ(f.size(), h5.size() + 640 * 480);
    EXPECT_EQ(std::string(f.begin(), f.begin() + long(h5.size())), h5);
    const uint8_t* px = b.ScanLine(3) + 5 * 3;
    EXPECT_EQ(f[h5.size() + 3 * 640 + 5], Grey(px[2], px[1], px[0]));

    p.SamplesPerPixel = 3;
    p.PnmComments->Add("one");
    p.PnmComments->Add("two");
    Fill24(b, 3, 2);
    f = Encode(b, p);
    const std::string h6 = "P6 \n# one\n\n# two\n3 2 255\n";
    ASSERT_EQ(f.size(), h6.size() + 18);
    EXPECT_EQ(std::string(f.begin(), f.begin() + long(h6.size())), h6);
    EXPECT_EQ(f[h6.size()], b.ScanLine(0)[2]);
    EXPECT_EQ(f[h6.size() + 2], b.ScanLine(0)[0]);

    b.SetPixelFormat(pf1bit);
    b.SetSize(9, 2);
    for (int y = 0; y < 2; ++y) std::memset(b.ScanLine(y), 0, 2);
    p.PnmComments->Clear();
    f = Encode(b, p);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "P4 9 2\n\xff");
}

TEST(PnmWrite, RoundTripsThroughOurReader) {
    TBitmap b1;
    b1.SetPixelFormat(pf1bit);
    b1.SetSize(21, 5);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 3; ++i) b1.ScanLine(y)[i] = uint8_t(y * 37 + i * 91);
    TBitmap b24;
    Fill24(b24, 11, 6);
    TLXIOParams p(nullptr);
    p.PnmComments->Add("kept");
    struct Case { TBitmap* b; int bits, samples; const char* magic; };
    const Case cases[] = {{&b1, 8, 3, "P4"}, {&b24, 8, 3, "P6"}, {&b24, 8, 1, "P5"}};
    for (const Case& c : cases) {
        p.BitsPerSample = c.bits;
        p.SamplesPerPixel = c.samples;
        bool aborted = true;
        const Bytes f = Encode(*c.b, p, &aborted);
        EXPECT_FALSE(aborted) << c.magic;
        EXPECT_EQ(std::string(f.begin(), f.begin() + 2), c.magic);
        Decoded d;
        Decode(f, d);
        ASSERT_FALSE(d.aborted) << c.magic;
        ASSERT_EQ(d.params.PnmComments->Count(), 1);
        EXPECT_EQ(d.params.PnmComments->Strings(0), "kept");
        Bytes want = BitmapRGB(*c.b);
        if (c.samples == 1) ToGrey(want);
        EXPECT_TRUE(BitmapRGB(d.bitmap) == want) << c.magic;
    }
}

TEST(PnmWrite, OneBitRequestOfAColourPicture) {
    // Two colours map to black and white exactly, the darker one to black.
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(10, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) {
            uint8_t* px = b.ScanLine(y) + x * 3;
            const bool light = (x + y) % 3 == 0;
            px[0] = light ? 200 : 10;
            px[1] = light ? 220 : 40;
            px[2] = light ? 180 : 30;
        }
    TLXIOParams p(nullptr);
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
    const Bytes f = Encode(b, p);
    ASSERT_EQ(std::string(f.begin(), f.begin() + 8), "P4 10 3\n");
    Decoded d;
    Decode(f, d);
    ASSERT_FALSE(d.aborted);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(BitmapRGB(d.bitmap)[size_t(y * 10 + x) * 3], (x + y) % 3 == 0 ? 255 : 0);
    EXPECT_EQ(b.PixelFormat(), pf24bit);   // the caller's picture is not converted
}

TEST(PnmWrite, CommentLineBreaksStayInsideTheComment) {
    TBitmap b;
    Fill24(b, 2, 2);
    TLXIOParams p(nullptr);
    p.PnmComments->Add("line one\n9 9 255\rmore");
    Decoded d;
    Decode(Encode(b, p), d);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 2);
    ASSERT_EQ(d.params.PnmComments->Count(), 1);
    EXPECT_EQ(d.params.PnmComments->Strings(0), "line one 9 9 255 more");
}

// A stream that takes only the first Limit bytes.
class PnmShortStream : public TMemoryStream {
public:
    explicit PnmShortStream(int64_t limit) : limit_(limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        const int64_t n = std::max<int64_t>(0, std::min(Count, limit_ - Position()));
        return n > 0 ? TMemoryStream::Write(Buffer, n) : 0;
    }

private:
    int64_t limit_;
};

TEST(PnmWrite, ShortWriteSetsTheAbortFlag) {
    TBitmap b;
    Fill24(b, 30, 20);
    TLXIOParams p(nullptr);
    for (int64_t limit : {0, 5, 200, 1800}) {
        PnmShortStream s(limit);
        bool abort = false;
        std::vector<int> progress;
        struct Log {
            std::vector<int>* v;
            void On(TObject*, int per) { v->push_back(per); }
        } log{&progress};
        TProgressRec rec;
        rec.Aborting = &abort;
        rec.fOnProgress = MakeMethod(&log, &Log::On);
        PnmEncodeStream(&s, &b, p, rec);
        EXPECT_TRUE(abort) << limit;
        // Every row is still produced and reported.
        ASSERT_EQ(progress.size(), 20u) << limit;
        EXPECT_EQ(progress.back(), 100);
    }
}

TEST(PnmWrite, NetpbmReadsWhatWeWrite) {
    if (!HaveNetpbm()) GTEST_SKIP() << "netpbm missing";
    TBitmap b24;
    Fill24(b24, 13, 7);
    TBitmap b1;
    b1.SetPixelFormat(pf1bit);
    b1.SetSize(13, 7);
    for (int y = 0; y < 7; ++y) {
        b1.ScanLine(y)[0] = uint8_t(0x35 * y + 1);
        b1.ScanLine(y)[1] = uint8_t(0xC8 >> y);
    }
    TLXIOParams p(nullptr);
    p.PnmComments->Add("a comment");
    struct Case { TBitmap* b; int samples; const char* ext; const char* type; };
    const Case cases[] = {{&b1, 3, ".pbm", "PBM raw"}, {&b24, 1, ".pgm", "PGM raw"}, {&b24, 3, ".ppm", "PPM raw"}};
    for (const Case& c : cases) {
        p.SamplesPerPixel = c.samples;
        TempFile tmp(c.ext);
        tmp.Write(Encode(*c.b, p));
        const std::string info = ToolText("pamfile '" + tmp.Path() + "'");
        EXPECT_NE(info.find(c.type), std::string::npos) << info;
        EXPECT_NE(info.find("13 by 7"), std::string::npos) << info;
        EXPECT_TRUE(RunTool("pnmtopng '" + tmp.Path() + "' >/dev/null").Ok) << c.ext;
        // netpbm keeps no comments of these formats; ImageMagick does.
        if (HaveTool("identify")) {
            const std::string comments = ToolText("identify -format '%c' '" + tmp.Path() + "'");
            EXPECT_NE(comments.find("a comment"), std::string::npos) << comments;
        }
        // netpbm's decoding of our file, as a maxval-255 pixmap.
        const ToolOutput ref = RunTool("ppmtoppm < '" + tmp.Path() + "' | pamdepth 255");
        ASSERT_TRUE(ref.Ok);
        const Picture got = ParseNetpbm(ref.Out);
        Bytes want = BitmapRGB(*c.b);
        if (c.samples == 1 && c.b == &b24) ToGrey(want);
        EXPECT_TRUE(got.Rgb() == want) << c.ext;
    }
}

TEST(PnmLuxIO, FileLoadAndSaveGoThroughTheCodec) {
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    io.LoadFromFile(kPnmDir + "nb_p6.ppm");
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params()->FileType, lxftPXM);
    const Picture want = ParseNetpbm(ReadFile(kPnmDir + "nb_p6.ref.ppm"));
    EXPECT_TRUE(BitmapRGB(bitmap) == want.Rgb());

    TempFile tmp(".pgm");
    io.Params()->SamplesPerPixel = 1;
    io.SaveToFile(tmp.Path());
    ASSERT_FALSE(io.Aborting);
    const Bytes f = ReadFile(tmp.Path());
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 2), "P5");
    io.LoadFromFile(tmp.Path());
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(bitmap.Width(), 13);
}

// ---- Mutated fixtures through the reader (run under the sanitizers) ----

// Plain bitmaps ("P1" and a line break) once read as Targa headers by content detection:
// every path that detects must find PNM, also behind other data as in a photo block.
TEST(PnmLuxIO, PlainBitmapsAreDetectedAsPnm) {
    for (const char* name : {"nb_p1.pbm", "im_p1.pbm", "im_p1_large.pbm"}) {
        SCOPED_TRACE(name);
        const Bytes file = ReadFile(kPnmDir + name);
        const Picture want = ParseNetpbm(ReadFile(kPnmDir + std::string(name, std::strlen(name) - 4) + ".ref.ppm"));
        for (const size_t prefix : {size_t(0), size_t(21)}) {
            TMemoryStream s;
            const Bytes lead(prefix, 'x');
            if (prefix) s.Write(lead.data(), int64_t(prefix));
            s.Write(file.data(), int64_t(file.size()));
            s.SetPosition(int64_t(prefix));
            EXPECT_EQ(DetectStreamFormat(&s), lxftPXM);
            TBitmap bitmap;
            TLuxIO io(nullptr);
            io.SetAttachedBitmap(&bitmap);
            io.ParamsFromStream(&s);
            EXPECT_EQ(io.Params()->FileType, lxftPXM);
            EXPECT_EQ(io.Params()->Width, want.w);
            s.SetPosition(int64_t(prefix));
            io.LoadFromStream(&s);
            ASSERT_FALSE(io.Aborting);
            EXPECT_EQ(io.Params()->FileType, lxftPXM);
            ASSERT_EQ(bitmap.Width(), want.w);
            ASSERT_EQ(bitmap.Height(), want.h);
            EXPECT_TRUE(BitmapRGB(bitmap) == want.Rgb());
        }
        TempFile tmp(".dat");
        tmp.Write(file);
        TLuxIO io(nullptr);
        EXPECT_EQ(io.FindFileFormat(tmp.Path(), false), lxftPXM);
    }
}

// A grey save keeps white white and black black: what netpbm reads from our P5 of a picture
// that ImageMagick made.
TEST(PnmWrite, GreySaveKeepsWhiteWhite) {
    if (!HaveNetpbm() || !HaveTool("/usr/bin/convert"))
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    TempFile src(".ppm"), out(".pgm");
    ASSERT_EQ(std::system(("/usr/bin/convert xc:white xc:black xc:red xc:'rgb(0,255,0)' +append "
                           "-depth 8 ppm:'" + src.Path() + "'").c_str()), 0);
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    io.LoadFromFile(src.Path());
    ASSERT_FALSE(io.Aborting);
    io.Params()->BitsPerSample = 8;
    io.Params()->SamplesPerPixel = 1;
    io.SaveToFile(out.Path());
    ASSERT_FALSE(io.Aborting);
    const ToolOutput ref = RunTool("ppmtoppm < '" + out.Path() + "' | pamdepth 255");
    const Picture got = ParseNetpbm(ref.Out);
    ASSERT_EQ(got.w, 4);
    const uint8_t want[] = {255, 0, 54, 183};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(got.Rgb()[size_t(x) * 3], want[x]) << x;
}

}  // namespace
