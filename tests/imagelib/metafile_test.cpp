// Metafile import: the sizing rules on hand-built headers, the red rectangle of the WMF and
// EMF fixtures (written record by record by fixtures/make_metafiles.py), hostile headers,
// and the scanner parameter object every I/O component owns.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "LuxMIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxtwain.h"
#include "metafile.h"
#include "temp_dir.h"

namespace {

using codec_test::Bytes;
using codec_test::FixtureDir;
using codec_test::PixelOf;
using codec_test::ReadFile;
using codec_test::WriteFile;

void Put16(Bytes& b, size_t at, int v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(unsigned(v) >> 8);
}
void Put32(Bytes& b, size_t at, int64_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(uint64_t(v) >> (8 * i));
}

// A placeable WMF with only the end record: bounding box and units per inch.
Bytes PlaceableWmf(int left, int top, int right, int bottom, int inch) {
    Bytes b(22 + 18 + 6, 0);
    Put32(b, 0, 0x9AC6CDD7);
    Put16(b, 6, left);
    Put16(b, 8, top);
    Put16(b, 10, right);
    Put16(b, 12, bottom);
    Put16(b, 14, inch);
    int sum = 0;
    for (int i = 0; i < 20; i += 2) sum ^= b[size_t(i)] | (b[size_t(i) + 1] << 8);
    Put16(b, 20, sum);
    Put16(b, 22, 1);        // memory metafile
    Put16(b, 24, 9);        // header words
    Put16(b, 26, 0x0300);
    Put32(b, 28, (18 + 6) / 2);
    Put32(b, 34, 3);
    Put32(b, 40, 3);        // end record: 3 words, function 0
    return b;
}

// An EMF with the header and the end record; the frame in 0.01 mm, a 96 dpi device.
Bytes Emf(int fl, int ft, int fr, int fb) {
    Bytes b(88 + 20, 0);
    Put32(b, 0, 1);
    Put32(b, 4, 88);
    Put32(b, 16, 100);
    Put32(b, 20, 100);
    Put32(b, 24, fl);
    Put32(b, 28, ft);
    Put32(b, 32, fr);
    Put32(b, 36, fb);
    Put32(b, 40, 0x464D4520);
    Put32(b, 44, 0x10000);
    Put32(b, 48, int64_t(b.size()));
    Put32(b, 52, 2);
    Put16(b, 56, 1);
    Put32(b, 72, 1920);
    Put32(b, 76, 1080);
    Put32(b, 80, 508);
    Put32(b, 84, 286);
    Put32(b, 88, 14);
    Put32(b, 92, 20);
    Put32(b, 104, 20);
    return b;
}

class MetafileTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedDpi_ = ScreenPixelsPerInch();
        SetScreenPixelsPerInch(96);
        io.SetAttachedBitmap(&bitmap);
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(3, 3);
    }
    void TearDown() override { SetScreenPixelsPerInch(savedDpi_); }
    void Import(const Bytes& data, const char* ext, int w, int h) {
        const std::string path = dir / (std::string("m") + ext);
        WriteFile(path, data);
        io.ImportMetafile(path, w, h);
    }
    lxtest::TempDir dir;
    TBitmap bitmap;
    TLuxIO io{nullptr};
    int savedDpi_ = 96;
};

TEST_F(MetafileTest, SizingTable) {
    struct Case {
        const char* name;
        Bytes file;
        const char* ext;
        int w, h;
        bool aborts;
        int bw, bh;   // 3 x 3: the bitmap was left alone
        int type;
    };
    const Case cases[] = {
        {"own size, capped", PlaceableWmf(0, 0, 4000, 1000, 96), ".wmf", -1, -1, false, 2799, 699, 9},
        {"own size, small", PlaceableWmf(0, 0, 1000, 500, 1000), ".wmf", -1, -1, false, 95, 47, 9},
        {"given size", PlaceableWmf(0, 0, 1000, 500, 1000), ".wmf", 300, 200, false, 299, 199, 9},
        {"width given, aspect kept", PlaceableWmf(0, 0, 4000, 1000, 96), ".wmf", 800, -1, false, 799, 199, 9},
        {"height given, aspect kept", PlaceableWmf(0, 0, 4000, 1000, 96), ".wmf", -1, 600, false, 2399, 599, 9},
        {"tall capped", PlaceableWmf(0, 0, 1000, 4000, 96), ".wmf", -1, -1, false, 699, 2799, 9},
        {"a 2 x 2 picture keeps one pixel", PlaceableWmf(0, 0, 2, 2, 96), ".wmf", -1, -1, false, 1, 1, 9},
        {"flipped box", PlaceableWmf(1000, 500, 0, 0, 1000), ".wmf", -1, -1, false, 95, 47, 9},
        {"zero width: nothing happens", PlaceableWmf(0, 0, 4000, 1000, 96), ".wmf", 0, 50, false, 3, 3, 0},
        {"zero height: nothing happens", PlaceableWmf(0, 0, 4000, 1000, 96), ".wmf", 50, 0, false, 3, 3, 0},
        {"no units per inch", PlaceableWmf(0, 0, 4000, 1000, 0), ".wmf", -1, -1, true, 3, 3, 0},
        {"empty box", PlaceableWmf(5, 5, 5, 5, 96), ".wmf", 100, 100, true, 3, 3, 0},
        {"height 0, asked by height", PlaceableWmf(0, 0, 4000, 0, 96), ".wmf", -1, 600, true, 3, 3, 0},
        {"width 0, asked by width", PlaceableWmf(0, 0, 0, 1000, 96), ".wmf", 600, -1, true, 3, 3, 0},
        {"10000 x 2 would cap to 0", PlaceableWmf(0, 0, 10000, 2, 96), ".wmf", -1, -1, true, 3, 3, 0},
        {"given 100000 x 1 would cap to 0", PlaceableWmf(0, 0, 10, 10, 96), ".wmf", 100000, 1, true, 3, 3, 0},
        {"EMF frame", Emf(0, 0, 2540, 1270), ".emf", -1, -1, false, 95, 47, 10},
        {"EMF capped", Emf(0, 0, 100000, 25000), ".emf", -1, -1, false, 2799, 699, 10},
        {"EMF empty frame", Emf(0, 0, 0, 1270), ".emf", -1, -1, true, 3, 3, 0},
        {"EMF huge frame caps the height to 0", Emf(INT_MIN, 0, INT_MAX, 1270), ".emf", -1, -1, true, 3, 3, 0},
        {"EMF very wide", Emf(0, 0, 1000000, 5000), ".emf", -1, -1, false, 2799, 13, 10},
    };
    for (const Case& c : cases) {
        bitmap.SetSize(3, 3);
        io.Params()->FileType = 0;
        io.Aborting = !c.aborts;   // every call sets the flag itself
        Import(c.file, c.ext, c.w, c.h);
        EXPECT_EQ(io.Aborting, c.aborts) << c.name;
        EXPECT_EQ(bitmap.Width(), c.bw) << c.name;
        EXPECT_EQ(bitmap.Height(), c.bh) << c.name;
        EXPECT_EQ(io.Params()->FileType, c.type) << c.name;
        if (c.type != 0) {
            EXPECT_EQ(io.Params()->Width, c.bw) << c.name;
            EXPECT_EQ(io.Params()->DpiX, 96) << c.name;
            EXPECT_EQ(io.Params()->DpiY, 96) << c.name;
            EXPECT_EQ(io.Params()->BitsPerSample, 8) << c.name;
            EXPECT_EQ(io.Params()->SamplesPerPixel, 3) << c.name;
            EXPECT_EQ(bitmap.PixelFormat(), pf24bit) << c.name;
        }
    }
}

TEST(MetafileTargetSize, ExtremesStayPositive) {
    struct Case {
        int64_t mw, mh;
        int w, h;
        bool ok;
        int ow, oh;
    };
    const Case cases[] = {
        {4000, 1000, -1, -1, true, 2800, 700},
        {1, 1, INT_MAX, INT_MAX, true, 2800, 2800},
        {INT64_C(1) << 40, 1, -1, INT_MAX, true, 2800, 0},   // the thin side would be 0
        {3, INT64_C(1) << 40, INT_MAX, -1, true, 0, 2800},
        {0, 10, 5, 5, false, 0, 0},
        {10, -3, -1, -1, false, 0, 0},
    };
    for (const Case& c : cases) {
        int ow = -7, oh = -7;
        const bool ok = MetafileTargetSize(c.mw, c.mh, c.w, c.h, ow, oh);
        const bool expectOk = c.ok && c.ow > 0 && c.oh > 0;
        EXPECT_EQ(ok, expectOk) << c.mw << "x" << c.mh;
        if (expectOk) {
            EXPECT_EQ(ow, c.ow);
            EXPECT_EQ(oh, c.oh);
        } else {
            EXPECT_EQ(ow, 0);
            EXPECT_EQ(oh, 0);
        }
    }
}

// The fixtures: a 1 x 0.5 inch page (96 x 48 at 96 dpi) with a red rectangle over its middle
// (24..72 x 12..36) and a black border.
TEST_F(MetafileTest, RedRectangleIsDrawnOverTheBackground) {
    for (const char* name : {"wmf/red_rectangle.wmf", "emf/red_rectangle.emf"}) {
        io.SetBackground(clLime);
        bitmap.SetSize(3, 3);
        io.LoadFromFile(std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + name);
        ASSERT_FALSE(io.Aborting) << name;
        ASSERT_EQ(bitmap.Width(), 95) << name;
        ASSERT_EQ(bitmap.Height(), 47) << name;
        EXPECT_EQ(io.Params()->FileName, std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + name);
        const TRGB red{0, 0, 255}, lime{0, 255, 0};
        for (auto [x, y] : {std::pair{48, 24}, {30, 16}, {66, 32}}) EXPECT_EQ(PixelOf(bitmap, x, y), red) << name << " " << x << "," << y;
        for (auto [x, y] : {std::pair{2, 2}, {90, 44}, {10, 24}, {48, 5}, {80, 24}, {48, 42}})
            EXPECT_EQ(PixelOf(bitmap, x, y), lime) << name << " " << x << "," << y;
    }
}

TEST_F(MetafileTest, HostileHeadersAbortWithoutReadingPastTheData) {
    const Bytes wmf = ReadFile(FixtureDir("wmf") + "red_rectangle.wmf");
    const Bytes emf = ReadFile(FixtureDir("emf") + "red_rectangle.emf");
    ASSERT_FALSE(wmf.empty());
    ASSERT_FALSE(emf.empty());
    // Every prefix: the header reader looks only at what is there.
    for (const Bytes* f : {&wmf, &emf})
        for (size_t n = 0; n <= f->size(); ++n) {
            const Bytes cut(f->begin(), f->begin() + long(n));
            const TLXMetafileHeader h = ReadMetafileHeader(cut.data(), cut.size(), 96);
            EXPECT_GE(h.Width, 0);
            EXPECT_GE(h.Height, 0);
        }
    Bytes bigHeader = emf;
    Put32(bigHeader, 4, 100000);   // header record longer than the file
    Bytes badSignature = emf;
    badSignature[40] = 'X';
    Bytes plainWmf(wmf.begin() + 22, wmf.end());   // no placeable header: no size of its own
    Bytes hugeRecord = wmf;
    Put32(hugeRecord, 40, 0x7FFFFFFF);   // the first record claims 4 GB
    Bytes text(200, 'a');
    struct Case {
        const char* name;
        Bytes data;
        const char* ext;
    };
    const Case cases[] = {
        {"empty file", {}, ".wmf"},
        {"text named .emf", text, ".emf"},
        {"EMF header past the end", bigHeader, ".emf"},
        {"EMF without its signature", badSignature, ".emf"},
        {"WMF without placeable header", plainWmf, ".wmf"},
        {"truncated EMF", Bytes(emf.begin(), emf.begin() + 60), ".emf"},
        {"truncated WMF", Bytes(wmf.begin(), wmf.begin() + 30), ".wmf"},
        // refused before the converter, which would trust the record, sees it
        {"WMF record claiming more than the file", hugeRecord, ".wmf"},
    };
    for (const Case& c : cases) {
        bitmap.SetSize(3, 3);
        Import(c.data, c.ext, -1, -1);
        EXPECT_TRUE(io.Aborting) << c.name;
        EXPECT_EQ(bitmap.Width(), 3) << c.name;
    }
    // A file that cannot be opened is an error of the caller's, raised.
    EXPECT_THROW(io.ImportMetafile(dir / "missing.wmf", -1, -1), EFOpenError);
    // Without a target nothing happens.
    TLuxIO bare(nullptr);
    bare.Aborting = true;
    bare.ImportMetafile(FixtureDir("wmf") + "red_rectangle.wmf", -1, -1);
    EXPECT_FALSE(bare.Aborting);
}

TEST(TwainParams, DefaultsAndAClosedConnection) {
    TLuxIO io(nullptr);
    TLuxMIO mio(nullptr);
    for (TLXTWainParams* p : {io.TwainParams(), mio.TwainParams()}) {
        ASSERT_NE(p, nullptr);
        const bool multi = p == mio.TwainParams();
        p->XResolutions.SetCount(3);
        p->Records.push_back(std::make_unique<uint8_t[]>(16));
        p->Gamma = 1.0;
        p->PageCount = 9;
        p->ProductName = "x";
        p->Reset();
        EXPECT_EQ(p->Records.size(), 0u);
        EXPECT_EQ(p->XResolutions.Count(), 0);
        EXPECT_EQ(p->PageCount, 1);
        EXPECT_EQ(p->SourceIndex, 0);
        EXPECT_FALSE(p->ShowSettingsOnly);
        EXPECT_FALSE(p->ShowProgress);
        EXPECT_DOUBLE_EQ(p->Gamma, 2.2);
        EXPECT_EQ(p->AcquireMultiple, multi);
        EXPECT_EQ(p->FeederEnabled, multi);
        EXPECT_FALSE(p->AutoFeed);
        EXPECT_EQ(p->TransferMode, 1);
        EXPECT_EQ(p->ShowDialog, 1);
        EXPECT_EQ(p->ProductName, "");
        // Nothing ever opened a connection.
        EXPECT_EQ(p->Connection().State, 0);
        EXPECT_EQ(p->Connection().Library, nullptr);
    }
    // Closing a connection that was never opened changes nothing.
    TLXTwainConnection never;
    TwainClose(never, 0);
    EXPECT_EQ(never.State, 0);
    // A loaded-state record is brought back to "no manager" without any library call.
    TLXTwainConnection loaded;
    loaded.State = 2;
    TwainClose(loaded, 0);
    EXPECT_EQ(loaded.State, 1);
    TLXTwainWork work;
    TwainIdentityDefaults(work);
    EXPECT_EQ(work.Identity.Language, 13);
    EXPECT_EQ(work.Identity.Country, 1);
    EXPECT_EQ(work.Identity.ProtocolMajor, 1);
    EXPECT_EQ(work.Identity.ProtocolMinor, 9);
    EXPECT_EQ(work.Identity.SupportedGroups, 3u);
    EXPECT_EQ(work.Identity.ProductName, " ");
}

}  // namespace
