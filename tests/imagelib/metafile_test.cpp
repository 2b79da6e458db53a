// Metafile import: the sizing rules on hand-built headers, the red rectangle of the WMF and
// EMF fixtures (written record by record by fixtures/make_metafiles.py), hostile headers,
// records the SVG renderer cannot take and a render over its CPU time (the inputs under
// fuzz/regressions/emf/), pictures inside an EMF, the helper program beside a busy GObject
// thread and missing, and the scanner parameter object every I/O component owns.
#include <QWidget>

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "LuxMIO.h"
#include "LuxMView.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "gobject_busy.h"
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

// ---- Records for the renderer's limits ----

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes EmfRecord(uint32_t type, const Bytes& payload) {
    Bytes b(8 + payload.size(), 0);
    Put32(b, 0, type);
    Put32(b, 4, int64_t(b.size()));
    std::copy(payload.begin(), payload.end(), b.begin() + 8);
    return b;
}

Bytes Words32(std::initializer_list<int64_t> values) {
    Bytes b(values.size() * 4, 0);
    size_t at = 0;
    for (int64_t v : values) Put32(b, (at++) * 4, v);
    return b;
}

// An EMF of a 1000 x 1000 device-unit page (1000 x 1000 pixels at 96 dpi) with these records;
// millimetres 0 x 0 make the converter take the page from the bounds.
Bytes EmfOf(const Bytes& records, int mmX = 0, int mmY = 0) {
    Bytes b(108 + records.size(), 0);
    Put32(b, 0, 1);
    Put32(b, 4, 108);
    Put32(b, 16, 1000);
    Put32(b, 20, 1000);
    Put32(b, 32, 26458);
    Put32(b, 36, 26458);
    Put32(b, 40, 0x464D4520);
    Put32(b, 44, 0x10000);
    Put16(b, 56, 8);
    Put32(b, 72, 1920);
    Put32(b, 76, 1080);
    Put32(b, 80, mmX);
    Put32(b, 84, mmY);
    std::copy(records.begin(), records.end(), b.begin() + 108);
    const Bytes eof = EmfRecord(14, Words32({0, 16, 20}));
    b.insert(b.end(), eof.begin(), eof.end());
    Put32(b, 48, int64_t(b.size()));
    int count = 0;
    for (size_t pos = 0; pos + 8 <= b.size(); pos += GetLE32(b.data() + pos + 4)) ++count;
    Put32(b, 52, count);
    return b;
}

// EXTCREATEFONTINDIRECTW (object 1, "DejaVu Sans") and its SELECTOBJECT.
Bytes EmfFont(int64_t height, int64_t width) {
    Bytes lf = Words32({1, height, width, 0, 0, 400});
    lf.resize(4 + 28, 0);
    lf[4 + 20 + 3] = 1;   // default charset
    const char* face = "DejaVu Sans";
    for (size_t i = 0; face[i]; ++i) lf.push_back(uint8_t(face[i])), lf.push_back(0);
    lf.resize(360 - 8, 0);
    return Join({EmfRecord(82, lf), EmfRecord(37, Words32({1}))});
}

// EXTTEXTOUTW of "WWWW" at (x, y).
Bytes EmfText(int64_t x, int64_t y) {
    Bytes r = Words32({0, 0, 1000, 1000, 1, 0x3F800000, 0x3F800000, x, y, 4, 76, 0, 0, 0, 1000, 1000, 0});
    for (int i = 0; i < 4; ++i) r.push_back('W'), r.push_back(0);
    return EmfRecord(84, r);
}

Bytes EmfShape(uint32_t type, int64_t l, int64_t t, int64_t r, int64_t b) { return EmfRecord(type, Words32({l, t, r, b})); }
constexpr uint32_t EmrEllipse = 42, EmrRectangle = 43;

Bytes WmfRecord(uint16_t func, std::initializer_list<int> words) {
    Bytes b(6, 0);
    Put32(b, 0, int64_t(3 + words.size()));
    Put16(b, 4, func);
    for (int w : words) b.push_back(uint8_t(w)), b.push_back(uint8_t(unsigned(w) >> 8));
    return b;
}

// A placeable WMF of one inch at 1000 units per inch whose window is extent x extent units,
// with a font of that height selected and "WWWW" written in the middle.
Bytes WmfText(int extent, int height) {
    Bytes font = WmfRecord(0x02FB, {height, 0, 0, 0, 400, 0, 0, 0});
    const char face[32] = "DejaVu Sans";
    font.insert(font.end(), face, face + 32);
    Put32(font, 0, int64_t(font.size() / 2));
    const Bytes records = Join({WmfRecord(0x020B, {0, 0}), WmfRecord(0x020C, {extent, extent}), font,
                                WmfRecord(0x012D, {0}), WmfRecord(0x0521, {4, 0x5757, 0x5757, extent / 2, 0}),
                                WmfRecord(0, {})});
    Bytes b = PlaceableWmf(0, 0, 1000, 1000, 1000);
    b.resize(22 + 18);
    b.insert(b.end(), records.begin(), records.end());
    Put32(b, 28, int64_t((b.size() - 22) / 2));
    Put16(b, 32, 1);
    Put32(b, 34, int64_t(font.size() / 2));
    return b;
}

// A PNG of Width x Height in 1-bit grey, all black, made row by row: a 20000 x 20000 one
// packs into 49 KB.
Bytes BlackPng(uint32_t Width, uint32_t Height) {
    auto be32 = [](Bytes& b, uint32_t v) {
        for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
    };
    auto chunk = [&](Bytes& out, const char* type, const Bytes& data) {
        be32(out, uint32_t(data.size()));
        Bytes body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        out.insert(out.end(), body.begin(), body.end());
        be32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
    };
    Bytes ihdr;
    be32(ihdr, Width);
    be32(ihdr, Height);
    ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});
    Bytes idat;
    z_stream z{};
    deflateInit(&z, 9);
    const Bytes row(1 + (Width + 7) / 8, 0);
    uint8_t out[65536];
    for (uint32_t y = 0; y <= Height; ++y) {
        z.next_in = const_cast<Bytef*>(row.data());
        z.avail_in = y < Height ? uInt(row.size()) : 0;
        const int flush = y < Height ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, flush);
            idat.insert(idat.end(), out, out + (sizeof out - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", {});
    return png;
}

// EMR_STRETCHDIBITS of a Width x Height picture over the whole 1000 x 1000 page of EmfOf: a
// BITMAPINFOHEADER with Compression (0 RGB, 4 JPEG, 5 PNG) and the bits after it.
Bytes EmfStretchDib(int Width, int Height, int BitCount, int Compression, const Bytes& Bits) {
    Bytes r = Words32({0, 0, 999, 999, 0, 0, 0, 0, Width, Height, 80, 40, 120, int64_t(Bits.size()), 0, 0x00CC0020,
                       1000, 1000});
    Bytes bmi = Words32({40, Width, Height, 0, Compression, int64_t(Bits.size()), 0, 0, 0, 0});
    Put16(bmi, 12, 1);
    Put16(bmi, 14, BitCount);
    r.insert(r.end(), bmi.begin(), bmi.end());
    r.insert(r.end(), Bits.begin(), Bits.end());
    while (r.size() % 4) r.push_back(0);
    return EmfRecord(81, r);
}

// A red Width x Height picture in the image library's own PNG or JPEG writer.
Bytes RedPicture(int Width, int Height, bool Jpeg) {
    TBitmap red;
    red.SetPixelFormat(pf24bit);
    red.SetSize(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) red.ScanLine(y)[3 * x + 2] = 255;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&red);
    TMemoryStream s;
    if (Jpeg) io.SaveToStreamJPEG(&s);
    else io.SaveToStreamPNG(&s);
    return codec_test::StreamBytes(s);
}

std::string RegressionInput(const std::string& name) {
    return std::string(GD_SOURCE_DIR) + "/tests/imagelib/fuzz/regressions/emf/" + name;
}

// The header, the first Keep records after it and the end record, counts set to match.
Bytes FirstRecords(const Bytes& emf, int Keep) {
    size_t pos = GetLE32(emf.data() + 4);
    for (int i = 0; i < Keep && pos + 8 <= emf.size(); ++i) pos += GetLE32(emf.data() + pos + 4);
    Bytes out(emf.begin(), emf.begin() + long(pos));
    const Bytes eof = EmfRecord(14, Words32({0, 16, 20}));
    out.insert(out.end(), eof.begin(), eof.end());
    Put32(out, 48, int64_t(out.size()));
    Put32(out, 52, Keep + 2);
    return out;
}

// $TMPDIR pointed at a folder of the test's own while it runs.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const std::string& Path) {
        if (const char* t = std::getenv("TMPDIR")) saved_ = t, had_ = true;
        ::setenv("TMPDIR", Path.c_str(), 1);
    }
    ~ScopedTmpDir() {
        if (had_) ::setenv("TMPDIR", saved_.c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

private:
    std::string saved_;
    bool had_ = false;
};

double ChildCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_CHILDREN, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
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

// Records that make the SVG renderer abort its process (a font of millions of pixels panics
// in its text layout): the render runs in the limited child with the conversion, so the
// file is refused with the abort flag, and this process goes on. Shapes and text at the
// limits of the coordinates, negative sizes and font widths at the limits are drawn.
TEST_F(MetafileTest, RecordsTheRendererCannotTakeAreRefused) {
    lxtest::TempDir tmp;
    const ScopedTmpDir scoped(tmp.Path());
    struct Case {
        const char* name;
        Bytes file;
        const char* ext;
        bool refused;
    };
    const Case cases[] = {
        {"the 584-byte EMF", ReadFile(RegressionInput("font-huge.emf")), ".emf", true},
        {"font height INT_MIN", EmfOf(Join({EmfFont(INT_MIN, 0), EmfText(10, 500)})), ".emf", true},
        {"font height INT_MIN + 1", EmfOf(Join({EmfFont(INT_MIN + 1, 0), EmfText(10, 500)})), ".emf", true},
        {"font height INT_MAX", EmfOf(Join({EmfFont(INT_MAX, 0), EmfText(10, 500)})), ".emf", true},
        {"font height -1e9", EmfOf(Join({EmfFont(-1000000000, 0), EmfText(10, 500)})), ".emf", true},
        {"font height 1e9", EmfOf(Join({EmfFont(1000000000, 0), EmfText(10, 500)})), ".emf", true},
        {"font height INT_MIN, negative millimetres",
         EmfOf(Join({EmfFont(INT_MIN, 0), EmfText(10, 500)}), -4, 383), ".emf", true},
        {"WMF font -32768 over a 1-unit window", WmfText(1, -32768), ".wmf", true},
        {"WMF font 32767 over a 1-unit window", WmfText(1, 32767), ".wmf", true},
        {"font height -100000", EmfOf(Join({EmfFont(-100000, 0), EmfText(10, 500)})), ".emf", false},
        {"font width INT_MIN", EmfOf(Join({EmfFont(-20, INT_MIN), EmfText(10, 500)})), ".emf", false},
        {"font width INT_MAX", EmfOf(Join({EmfFont(-20, INT_MAX), EmfText(10, 500)})), ".emf", false},
        {"negative font width", EmfOf(Join({EmfFont(-20, -50), EmfText(10, 500)})), ".emf", false},
        {"text at INT_MAX", EmfOf(Join({EmfFont(-20, 0), EmfText(INT_MAX, INT_MAX)})), ".emf", false},
        {"text at INT_MIN", EmfOf(Join({EmfFont(-20, 0), EmfText(INT_MIN, INT_MIN)})), ".emf", false},
        {"ellipse over the whole range", EmfOf(EmfShape(EmrEllipse, INT_MIN, INT_MIN, INT_MAX, INT_MAX)), ".emf", false},
        {"rectangle over the whole range", EmfOf(EmfShape(EmrRectangle, INT_MIN, INT_MIN, INT_MAX, INT_MAX)), ".emf", false},
        {"ellipse of negative size", EmfOf(EmfShape(EmrEllipse, 900, 900, 100, 100)), ".emf", false},
        {"rectangle of negative size", EmfOf(EmfShape(EmrRectangle, 900, 900, 100, 100)), ".emf", false},
        {"WMF font -32768 over a 1000-unit window", WmfText(1000, -32768), ".wmf", false},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.file.empty()) << c.name;
        bitmap.SetSize(3, 3);
        io.Aborting = !c.refused;
        Import(c.file, c.ext, -1, -1);
        EXPECT_EQ(io.Aborting, c.refused) << c.name;
        if (c.refused) {
            EXPECT_EQ(bitmap.Width(), 3) << c.name;   // left as it was
        } else {
            EXPECT_GT(bitmap.Width(), 3) << c.name;
            EXPECT_EQ(bitmap.Width(), bitmap.Height()) << c.name;
        }
    }
    // The renderer's children are gone, and nothing is left in the temporary folder.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(tmp.Names().empty());
}

// 4000 page-sized ellipses take many times the render's CPU time at 2800 x 2800 pixels: the
// child is stopped at its limit and the file refused. Its first 40 ellipses are a normal
// drawing and are read. The thumbnail size of the whole file is cheap and read too.
TEST_F(MetafileTest, ARenderOverItsCpuTimeIsRefused) {
    const Bytes hostile = ReadFile(RegressionInput("4000-fullpage-ellipses.emf"));
    ASSERT_GT(hostile.size(), 90000u);
    const Bytes normal = FirstRecords(hostile, 40);
    io.SetBackground(clLime);
    bitmap.SetSize(3, 3);
    Import(normal, ".emf", -1, -1);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(bitmap.Width(), 2799);
    EXPECT_EQ(PixelOf(bitmap, 1400, 1400), (TRGB{0, 0, 0}));          // inside the ellipses
    EXPECT_EQ(PixelOf(bitmap, 2, 2), (TRGB{0, 255, 0}));              // outside every ellipse
    bitmap.SetSize(3, 3);
    const double before = ChildCpuSeconds();
    Import(hostile, ".emf", -1, -1);
    const double used = ChildCpuSeconds() - before;
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(bitmap.Width(), 3);
    // The kernel ends the child at its hard limit (one second over the soft one).
    EXPECT_LT(used, 6.0);
    Import(hostile, ".emf", 64, -1);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(bitmap.Width(), 63);
}

// The thumbnail view loads the same files through its own I/O component while it paints: the
// metafiles the renderer cannot take are empty cells, or removed as corrupted, and the view
// and its neighbours go on.
TEST_F(MetafileTest, TheThumbnailViewSkipsWhatTheRendererCannotTake) {
    lxtest::TempDir tmp;
    const ScopedTmpDir scoped(tmp.Path());
    LuxImageStoreFolder = tmp.Path();
    const std::string good = FixtureDir("emf") + "red_rectangle.emf";
    const std::string font = RegressionInput("font-huge.emf");
    const std::string wmfFont = dir / "font.wmf";
    WriteFile(wmfFont, WmfText(1, -32768));
    for (bool remove : {false, true}) {
        QWidget host;
        TLuxMView view(nullptr);
        view.SetBorderStyle(bsNone);
        view.SetParentWindow(&host);
        view.SetBounds(0, 0, 600, 200);
        view.SetRemoveCorrupted(remove);
        for (const std::string& f : {good, font, wmfFont, good}) view.AppendImage(f);
        TBitmap surface;
        surface.SetPixelFormat(pf24bit);
        surface.SetSize(view.ClientWidth(), view.ClientHeight());
        EXPECT_NO_THROW(view.PaintTo(surface.Canvas()));
        if (remove) {
            ASSERT_EQ(view.ImageCount(), 2);
        } else {
            ASSERT_EQ(view.ImageCount(), 4);
            EXPECT_EQ(view.Entry(1)->Image, nullptr);
            EXPECT_EQ(view.Entry(2)->Image, nullptr);
        }
        EXPECT_NE(view.Entry(0)->Image, nullptr);
        EXPECT_NE(view.Entry(view.ImageCount() - 1)->Image, nullptr);
    }
    LuxImageStoreFolder.clear();
    EXPECT_TRUE(tmp.Names().empty());
}

// A picture in an EMF that its loader cannot decode, or that is too large for the helper's
// memory, refuses the file in every build: the renderer would leave it out and draw a blank
// page. Pictures that decode are drawn (JPEG too, whose type the converter names wrongly).
TEST_F(MetafileTest, APictureThatCannotBeDrawnRefusesTheFile) {
    const Bytes png = RedPicture(40, 30, false), jpeg = RedPicture(40, 30, true);
    ASSERT_GT(png.size(), 40u);
    ASSERT_GT(jpeg.size(), 100u);
    const Bytes huge = BlackPng(20000, 20000);
    ASSERT_LT(huge.size(), 64000u);
    Bytes truncated(png.begin(), png.begin() + long(png.size() / 2));
    Bytes damaged = png;
    for (size_t i = 41; i < damaged.size() - 12; ++i) damaged[i] ^= 0x5A;   // the pixel data
    Bytes rgb(size_t(40) * 30 * 3, 0);
    for (size_t i = 2; i < rgb.size(); i += 3) rgb[i] = 255;
    struct Case {
        const char* name;
        Bytes emf;
        bool refused;
    };
    const Case cases[] = {
        {"a red PNG", EmfOf(EmfStretchDib(40, 30, 0, 5, png)), false},
        {"a red JPEG", EmfOf(EmfStretchDib(40, 30, 0, 4, jpeg)), false},
        {"red RGB bits", EmfOf(EmfStretchDib(40, 30, 24, 0, rgb)), false},
        {"a 20000 x 20000 PNG of 49 KB", EmfOf(EmfStretchDib(20000, 20000, 0, 5, huge)), true},
        {"a PNG wider than a drawing surface", EmfOf(EmfStretchDib(40000, 1, 0, 5, BlackPng(40000, 1))), true},
        {"a truncated PNG", EmfOf(EmfStretchDib(40, 30, 0, 5, truncated)), true},
        {"a PNG with damaged pixel data", EmfOf(EmfStretchDib(40, 30, 0, 5, damaged)), true},
        {"text as a JPEG", EmfOf(EmfStretchDib(40, 30, 0, 4, Bytes(200, 'a'))), true},
    };
    for (const Case& c : cases) {
        io.SetBackground(clLime);
        bitmap.SetSize(3, 3);
        io.Aborting = !c.refused;
        Import(c.emf, ".emf", -1, -1);
        EXPECT_EQ(io.Aborting, c.refused) << c.name;
        if (c.refused) {
            EXPECT_EQ(bitmap.Width(), 3) << c.name;
        } else {
            ASSERT_EQ(bitmap.Width(), 999) << c.name;
            const TRGB px = PixelOf(bitmap, 500, 500);
            EXPECT_GT(px.r, 240) << c.name;
            EXPECT_LT(px.g, 16) << c.name;
        }
    }
}

// The helper is a program started afresh: a thread of this process that holds GLib's locks
// over and over (as media and desktop libraries' threads do) cannot leave it waiting for one,
// so each import is read, far within the helper's 20 s guard.
TEST_F(MetafileTest, AGObjectBusyThreadDoesNotHoldTheImportUp) {
    std::atomic<bool> stop{false};
    std::thread gobjects([&] { GObjectBusyLoop(stop); });
    const auto start = std::chrono::steady_clock::now();
    int read = 0;
    for (int i = 0; i < 10; ++i)
        for (const char* name : {"emf/red_rectangle.emf", "wmf/red_rectangle.wmf"}) {
            bitmap.SetSize(3, 3);
            io.LoadFromFile(std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + name);
            EXPECT_FALSE(io.Aborting) << name << " " << i;
            if (!io.Aborting && bitmap.Width() == 95 && PixelOf(bitmap, 48, 24) == (TRGB{0, 0, 255})) ++read;
        }
    stop = true;
    gobjects.join();
    EXPECT_EQ(read, 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A program with no helper beside it refuses every metafile with the abort flag (this test
// binary, copied into a folder of its own, runs the import there).
TEST_F(MetafileTest, WithoutTheHelperTheImportIsRefused) {
    if (std::getenv("GD_METAFILE_ALONE")) {
        io.LoadFromFile(FixtureDir("emf") + "red_rectangle.emf");
        EXPECT_TRUE(io.Aborting);
        EXPECT_EQ(bitmap.Width(), 3);
        return;
    }
    const std::string copy = dir / "alone_test";
    std::filesystem::copy_file(std::filesystem::read_symlink("/proc/self/exe"), copy);
    ASSERT_FALSE(std::filesystem::exists(dir / "gdmetafile"));
    const std::string cmd = "GD_METAFILE_ALONE=1 '" + copy +
                            "' --gtest_filter=MetafileTest.WithoutTheHelperTheImportIsRefused >'" + (dir / "log") +
                            "' 2>&1";
    const int status = std::system(cmd.c_str());
    const Bytes log = ReadFile(dir / "log");
    EXPECT_EQ(status, 0) << std::string(log.begin(), log.end());
    EXPECT_NE(std::string(log.begin(), log.end()).find("[  PASSED  ] 1 test"), std::string::npos);
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
