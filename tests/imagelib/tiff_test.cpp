// TIFF reader and writer: files of libtiff's tools, ImageMagick and Pillow decoded bit-exact
// against the tools' own decoding, hand-built files for the tag rules and hostile headers,
// and files we write read back by our reader, libtiff (tiffinfo) and ImageMagick.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "LuxIO.h"
#include "codec_fixture_helpers.h"
#include "test_view.h"
#include "TIFCCITT.h"
#include "Tiffilt.h"
#include "Win32.h"
#include "lxutils.h"

namespace {

using namespace codec_test;

const std::string kFixtures = FixtureDir("tiff");

struct Decoded {
    bool abort = false;
    int pages = -1;
};

Decoded Decode(const std::vector<uint8_t>& data, TBitmap& bmp, TLXIOParams& p, bool paramsOnly = false,
               TLXMask* mask = nullptr) {
    TMemoryStream s;
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
    Decoded d;
    TProgressRec rec;
    rec.Aborting = &d.abort;
    TiffDecodeStream(&bmp, &s, d.pages, mask, paramsOnly, rec, p);
    return d;
}

// ---- Files of outside tools ----

struct FixtureCase {
    const char* name;
    TPixelFormat format;
    int page = 0;
    const char* reference = nullptr;   // default: name + ".ppm" / ".pbm"
};

class ToolFiles : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(ToolFiles, DecodeLikeTheTool) {
    const FixtureCase& c = GetParam();
    const std::string base = kFixtures + c.name;
    std::string ref = c.reference ? kFixtures + c.reference
                                  : base + (c.format == pf1bit ? ".pbm" : ".ppm");
    TBitmap bmp;
    TLXIOParams p(nullptr);
    p.TiffImageIndex = c.page;
    const Decoded d = Decode(ReadFile(base + ".tif"), bmp, p);
    ASSERT_FALSE(d.abort);
    EXPECT_EQ(bmp.PixelFormat(), c.format);
    EXPECT_TRUE(SamePixels(bmp, ReadNetpbm(ref)));
}

INSTANTIATE_TEST_SUITE_P(
    Tiff, ToolFiles,
    ::testing::Values(
        FixtureCase{"im_rgb_none", pf24bit}, FixtureCase{"tc_rgb_packbits", pf24bit},
        FixtureCase{"tc_rgb_tiles", pf24bit}, FixtureCase{"tc_rgb_tiles_packbits", pf24bit},
        FixtureCase{"tc_rgb_planar", pf24bit}, FixtureCase{"tc_rgb_planar_packbits_strips", pf24bit},
        FixtureCase{"tc_rgb_mm", pf24bit}, FixtureCase{"tc_rgb_mm_packbits_strips", pf24bit},
        FixtureCase{"im_rgb16", pf24bit}, FixtureCase{"tc_rgb16_mm", pf24bit},
        FixtureCase{"pil_grey8", pf24bit}, FixtureCase{"pil_grey16", pf24bit},
        FixtureCase{"im_grey4", pf24bit}, FixtureCase{"pil_palette8", pf24bit},
        FixtureCase{"pil_palette4", pf24bit}, FixtureCase{"pil_rgba", pf24bit},
        FixtureCase{"im_cmyk", pf24bit}, FixtureCase{"tc_rgb_orient6", pf24bit},
        FixtureCase{"tc_bilevel_none", pf1bit}, FixtureCase{"tc_bilevel_packbits_mm", pf1bit},
        FixtureCase{"pil_bilevel_mh", pf1bit}, FixtureCase{"tc_bilevel_g3", pf1bit},
        FixtureCase{"fx_bilevel_g3", pf1bit}, FixtureCase{"tc_bilevel_g3_2d", pf1bit},
        FixtureCase{"tc_bilevel_g3_2d_fill_strips", pf1bit},
        FixtureCase{"tc_bilevel_g3_fill_lsb", pf1bit}, FixtureCase{"tc_bilevel_g4", pf1bit},
        FixtureCase{"pil_bilevel_g4", pf1bit}, FixtureCase{"tc_bilevel_g4_tiles", pf1bit},
        FixtureCase{"tc_bilevel_g4_lsb_mm", pf1bit}, FixtureCase{"tc_two_pages", pf1bit, 0},
        FixtureCase{"tc_two_pages", pf24bit, 1, "tc_two_pages.1.ppm"}),
    [](const ::testing::TestParamInfo<FixtureCase>& i) {
        return std::string(i.param.name) + "_p" + std::to_string(i.param.page);
    });

TEST(TiffRead, AlphaOfRgbaGoesToTheMask) {
    TBitmap bmp;
    TLXIOParams p(nullptr);
    TLXMask mask;
    ASSERT_FALSE(Decode(ReadFile(kFixtures + "pil_rgba.tif"), bmp, p, false, &mask).abort);
    const Picture alpha = ReadNetpbm(kFixtures + "pil_rgba.alpha.pgm");
    ASSERT_EQ(mask.Width, alpha.w);
    ASSERT_EQ(mask.BitsPerPixel, 8);
    EXPECT_FALSE(mask.Full);
    for (int y = 0; y < alpha.h; ++y)
        for (int x = 0; x < alpha.w; ++x)
            ASSERT_EQ(mask.GetPixel(x, y), alpha.At(x, y).r) << x << "," << y;
}

// Every orientation turns the picture and its alpha as ImageMagick's -auto-orient does; also
// through the I/O component, whose mask must keep the turned alpha (6 swaps the sides).
TEST(TiffRead, OrientationTurnsPictureAndMaskLikeImageMagick) {
    for (int o = 2; o <= 8; ++o) {
        const std::string base = kFixtures + "tc_rgba_orient" + std::to_string(o);
        const Picture want = ReadNetpbm(base + ".ppm"), alpha = ReadNetpbm(base + ".alpha.pgm");
        ASSERT_GT(alpha.w, 0) << o;
        TBitmap bmp;
        TLXIOParams p(nullptr);
        TLXMask mask;
        ASSERT_FALSE(Decode(ReadFile(base + ".tif"), bmp, p, false, &mask).abort) << o;
        EXPECT_TRUE(SamePixels(bmp, want)) << o;
        lxtest::TTestView view;
        TLuxIO io(nullptr);
        io.SetAttachedView(&view);
        io.LoadFromFile(base + ".tif");
        ASSERT_FALSE(io.Aborting) << o;
        EXPECT_TRUE(SamePixels(*view.GetBitmap(), want)) << o;
        for (const TLXMask* m : {static_cast<const TLXMask*>(&mask), static_cast<const TLXMask*>(view.GetAlphaMask())}) {
            ASSERT_EQ(m->Width, alpha.w) << o;
            ASSERT_EQ(m->Height, alpha.h) << o;
            EXPECT_FALSE(m->Full) << o;
            int bad = 0;
            for (int y = 0; y < alpha.h; ++y)
                for (int x = 0; x < alpha.w; ++x) bad += m->GetPixel(x, y) != alpha.At(x, y).r;
            EXPECT_EQ(bad, 0) << "orientation " << o;
        }
    }
}

// Files the reader has no decoder for (compressions, or photometric, samples and bits
// combinations without a conversion) and a file without pages: the load fails and the
// previous picture stays, while their parameters can still be read.
TEST(TiffRead, LoadsWithoutADecoderFail) {
    const std::string dir = kFixtures + "undecodable/";
    const char* files[] = {"tc_zip.tif", "tc_jpeg.tif", "tc_lzma.tif", "tc_zstd.tif",
                           "tc_compression99.tif", "im_grey_alpha.tif", "im_grey2.tif",
                           "tc_bilevel_packbits_no_photometric.tif", "tc_grey16_packbits.tif"};
    const TempFile noPages("no_pages.tif");
    noPages.Write({'I', 'I', 42, 0, 0, 0, 0, 0});
    std::vector<std::string> paths;
    for (const char* f : files) paths.push_back(dir + f);
    paths.push_back(noPages.Path());
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        TBitmap bitmap;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bitmap);
        io.LoadFromFile(kFixtures + "im_rgb_none.tif");
        ASSERT_FALSE(io.Aborting);
        const Picture before = ReadNetpbm(kFixtures + "im_rgb_none.ppm");
        io.LoadFromFile(path);
        EXPECT_TRUE(io.Aborting);
        EXPECT_TRUE(SamePixels(bitmap, before));
        io.LoadFromStream(MemStream(ReadFile(path), 7).get());
        EXPECT_TRUE(io.Aborting);
        if (path != noPages.Path()) {
            io.ParamsFromFile(path);
            EXPECT_FALSE(io.Aborting);
            EXPECT_EQ(io.Params()->FileType, lxftTIFF);
            EXPECT_GT(io.Params()->Width, 0);
        }
    }
}

TEST(TiffRead, PagesAndImageIndex) {
    const auto data = ReadFile(kFixtures + "tc_two_pages.tif");
    TBitmap bmp;
    TLXIOParams p(nullptr);
    p.TiffImageIndex = 1;
    Decoded d = Decode(data, bmp, p);
    EXPECT_FALSE(d.abort);
    EXPECT_EQ(d.pages, 2);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    p.TiffImageIndex = 2;
    d = Decode(data, bmp, p);
    EXPECT_TRUE(d.abort);
    EXPECT_EQ(d.pages, 2);
}

TEST(TiffRead, LzwIsRefusedAfterTheParameters) {
    const auto data = ReadFile(kFixtures + "tc_rgb_lzw.tif");
    for (bool paramsOnly : {true, false}) {
        TBitmap bmp;
        TLXIOParams p(nullptr);
        const Decoded d = Decode(data, bmp, p, paramsOnly);
        EXPECT_TRUE(d.abort);
        EXPECT_EQ(p.TiffCompression, 5);
        EXPECT_EQ(p.Width, 23);
        EXPECT_EQ(p.Height, 11);
    }
}

// A test double of the LZW hook: the "compressed" data is the plain rows.
int g_lzwReleases = 0;
uint8_t* PlainRows(const uint8_t* Input, int BytesPerRow, void** State) {
    static std::vector<uint8_t> row;
    if (!Input) {
        ++g_lzwReleases;
        *State = nullptr;
        return nullptr;
    }
    auto pos = reinterpret_cast<intptr_t>(*State);
    row.assign(Input + pos, Input + pos + BytesPerRow);
    *State = reinterpret_cast<void*>(pos + BytesPerRow);
    return row.data();
}

// ---- Hand-built files ----

class Builder {
public:
    explicit Builder(bool mm = false) : mm_(mm) {}
    void Short(uint16_t tag, std::vector<uint32_t> v) { Add(tag, 3, v, 2); }
    void Long(uint16_t tag, std::vector<uint32_t> v) { Add(tag, 4, v, 4); }
    void Rational(uint16_t tag, std::vector<uint32_t> numDen) {
        Add(tag, 5, numDen, 4, uint32_t(numDen.size() / 2));
    }
    void Ascii(uint16_t tag, const std::string& s) {
        Item it{tag, 2, uint32_t(s.size() + 1), {}};
        it.data.assign(s.begin(), s.end());
        it.data.push_back(0);
        items_.push_back(it);
    }
    void Raw(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> bytes) {
        items_.push_back(Item{tag, type, count, std::move(bytes)});
    }
    // Pixel data is placed at offset 8; StripOffsets / StripByteCounts name it.
    void Pixels(const std::vector<uint8_t>& d) {
        pixels_ = d;
        Long(273, {8});
        Long(279, {uint32_t(d.size())});
    }
    // Data at offset 8 without strip tags.
    void Blob(const std::vector<uint8_t>& d) { pixels_ = d; }
    // Sub-IFD: its bytes are built by another Builder placed after ours (the pointer tag is
    // set here).
    std::vector<uint8_t> Build(const Builder* exif = nullptr) const {
        std::vector<uint8_t> out = {uint8_t(mm_ ? 'M' : 'I'), uint8_t(mm_ ? 'M' : 'I')};
        Put16(out, 42);
        Put32(out, 0);   // patched
        out.insert(out.end(), pixels_.begin(), pixels_.end());
        std::vector<Item> items = items_;
        if (exif) items.push_back(Item{34665, 4, 1, {}});
        std::vector<uint32_t> valueField(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].data.size() > 4) {
                if (out.size() & 1) out.push_back(0);
                valueField[i] = uint32_t(out.size());
                out.insert(out.end(), items[i].data.begin(), items[i].data.end());
            }
        }
        if (out.size() & 1) out.push_back(0);
        const uint32_t ifd = uint32_t(out.size());
        const size_t exifPatch = out.size() + 2 + 12 * (items.size() - 1) + 8;
        Put16(out, uint32_t(items.size()));
        for (size_t i = 0; i < items.size(); ++i) {
            Put16(out, items[i].tag);
            Put16(out, items[i].type);
            Put32(out, items[i].count);
            if (items[i].data.size() > 4) {
                Put32(out, valueField[i]);
            } else {
                std::vector<uint8_t> f = items[i].data;
                f.resize(4, 0);
                out.insert(out.end(), f.begin(), f.end());
            }
        }
        Put32(out, 0);
        Patch32(out, 4, ifd);
        if (exif) {
            const uint32_t at = uint32_t(out.size());
            Patch32(out, exifPatch, at);
            std::vector<uint8_t> sub = exif->BuildIFDAt(at);
            out.insert(out.end(), sub.begin(), sub.end());
        }
        return out;
    }
    // Just an IFD (with its data after it) for placement at absolute offset at.
    std::vector<uint8_t> BuildIFDAt(uint32_t at) const {
        std::vector<uint8_t> out;
        const uint32_t dataAt = at + 2 + 12 * uint32_t(items_.size()) + 4;
        std::vector<uint8_t> data;
        Put16(out, uint32_t(items_.size()));
        for (const Item& it : items_) {
            Put16(out, it.tag);
            Put16(out, it.type);
            Put32(out, it.count);
            if (it.data.size() > 4) {
                Put32(out, dataAt + uint32_t(data.size()));
                data.insert(data.end(), it.data.begin(), it.data.end());
            } else {
                std::vector<uint8_t> f = it.data;
                f.resize(4, 0);
                out.insert(out.end(), f.begin(), f.end());
            }
        }
        Put32(out, 0);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }

private:
    struct Item {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> data;
    };
    void Add(uint16_t tag, uint16_t type, const std::vector<uint32_t>& v, int size, uint32_t count = 0) {
        Item it{tag, type, count ? count : uint32_t(v.size()), {}};
        for (uint32_t x : v) size == 2 ? Put16(it.data, x) : Put32(it.data, x);
        items_.push_back(it);
    }
    void Put16(std::vector<uint8_t>& o, uint32_t v) const {
        if (mm_) { o.push_back(uint8_t(v >> 8)); o.push_back(uint8_t(v)); }
        else { o.push_back(uint8_t(v)); o.push_back(uint8_t(v >> 8)); }
    }
    void Put32(std::vector<uint8_t>& o, uint32_t v) const {
        if (mm_) { Put16(o, v >> 16); Put16(o, v & 0xFFFF); }
        else { Put16(o, v & 0xFFFF); Put16(o, v >> 16); }
    }
    void Patch32(std::vector<uint8_t>& o, size_t at, uint32_t v) const {
        std::vector<uint8_t> b;
        Put32(b, v);
        std::copy(b.begin(), b.end(), o.begin() + long(at));
    }
    bool mm_;
    std::vector<Item> items_;
    std::vector<uint8_t> pixels_;
};

Builder Grey8(int w, int h, bool mm = false) {
    Builder b(mm);
    b.Long(256, {uint32_t(w)});
    b.Long(257, {uint32_t(h)});
    b.Short(258, {8});
    b.Short(262, {1});
    return b;
}

TEST(TiffRead, TagRules) {
    {   // "MM" PageNumber 3 of 10; ResolutionUnit 3 with 118.11 per cm; a 3-character text.
        Builder b = Grey8(2, 1, true);
        b.Short(297, {3, 10});
        b.Rational(282, {11811, 100});
        b.Rational(283, {0, 0});
        b.Short(296, {3});
        b.Ascii(270, "abc");
        b.Ascii(305, "Test software");
        b.Pixels({10, 20});
        TBitmap bmp;
        TLXIOParams p(nullptr);
        ASSERT_FALSE(Decode(b.Build(), bmp, p).abort);
        EXPECT_EQ(p.TiffPageNumber, 3);
        EXPECT_EQ(p.TiffPageCount, 10);
        EXPECT_EQ(p.DpiX, 300);
        EXPECT_EQ(p.DpiY, ScreenPixelsPerInch());
        EXPECT_EQ(p.TiffImageDescription, "abc");
        EXPECT_EQ(p.ExifSoftware, "Test software");
        EXPECT_EQ(PixelOf(bmp, 1, 0), (TRGB{20, 20, 20}));
    }
    {   // Exif sub-IFD.
        Builder b = Grey8(1, 1);
        b.Pixels({0});
        Builder x;
        x.Rational(33434, {1, 250});
        x.Short(34855, {200});
        x.Raw(36864, 7, 4, {'0', '2', '3', '0'});
        x.Ascii(36867, "2024:01:02 03:04:05");
        x.Short(37385, {16});
        TBitmap bmp;
        TLXIOParams p(nullptr);
        ASSERT_FALSE(Decode(b.Build(&x), bmp, p).abort);
        EXPECT_DOUBLE_EQ(p.ExifExposureTime, 1.0 / 250);
        EXPECT_EQ(p.GetExifISOSpeedRatings(0), 200);
        EXPECT_EQ(p.ExifVersion, "0230");
        EXPECT_EQ(p.ExifDateTimeOriginal, "2024:01:02 03:04:05");
        EXPECT_EQ(p.ExifFlash, 16);
    }
}

TEST(TiffRead, SixteenBitGreyAndTheLookAtMolliRule) {
    for (bool molli : {false, true}) {
        Builder b;
        b.Long(256, {2});
        b.Long(257, {1});
        b.Short(258, {16});
        b.Short(262, {1});
        b.Ascii(305, molli ? "Look@Molli v1.1 build" : "Other");
        b.Pixels({0xFF, 0x0F, 0xFF, 0xFF});   // 4095, 65535 ("II")
        TBitmap bmp;
        TLXIOParams p(nullptr);
        ASSERT_FALSE(Decode(b.Build(), bmp, p).abort);
        EXPECT_EQ(PixelOf(bmp, 0, 0).r, molli ? 255 : 15);
        EXPECT_EQ(PixelOf(bmp, 1, 0).r, 255);
    }
}

TEST(TiffRead, BilevelPolarity) {
    // Uncompressed 1-bit without PhotometricInterpretation is WhiteIsZero: a stored 0 bit
    // becomes a set (white) bit.
    Builder b;
    b.Long(256, {8});
    b.Long(257, {1});
    b.Pixels({0x0F});
    TBitmap bmp;
    TLXIOParams p(nullptr);
    ASSERT_FALSE(Decode(b.Build(), bmp, p).abort);
    ASSERT_EQ(bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0xF0);
    EXPECT_EQ(p.TiffPhotometric, 0);
}

// A fax-coded palette image: one bit per pixel, each a palette index (a white run is sample
// 0, as the encoder codes it), never read as one byte per pixel.
TEST(TiffRead, FaxCodedPaletteRowsAreIndexes) {
    const int w = 203, h = 2;
    std::vector<uint8_t> row(size_t((w + 7) / 8), 0xAA);
    TMemoryStream g4;
    bool error = false;
    std::vector<uint8_t> ref;
    int pending = 0;
    uint8_t pendingByte = 0;
    for (int y = 0; y < h; ++y) CCITTEncodeG4Row(row.data(), w, &g4, error, ref, pending, pendingByte);
    CCITTEncodeG4Row(nullptr, w, &g4, error, ref, pending, pendingByte);
    ASSERT_FALSE(error);
    std::vector<uint8_t> data(size_t(g4.Size()));
    g4.SetPosition(0);
    g4.Read(data.data(), int64_t(data.size()));
    Builder b;
    b.Long(256, {uint32_t(w)});
    b.Long(257, {uint32_t(h)});
    b.Short(258, {1});
    b.Short(259, {4});
    b.Short(262, {3});
    b.Short(320, {0xFFFF, 0, 0, 0, 0, 0xFFFF});   // index 0 red, 1 blue
    b.Pixels(data);
    TBitmap bmp;
    TLXIOParams p(nullptr);
    ASSERT_FALSE(Decode(b.Build(), bmp, p).abort);
    ASSERT_EQ(bmp.Width(), w);
    for (int y = 0; y < h; ++y)
        for (int x : {0, 1, 2, 3, 100, 101, w - 2, w - 1})
            EXPECT_EQ(PixelOf(bmp, x, y), (x % 2 ? TRGB{0, 0, 255} : TRGB{255, 0, 0})) << x << "," << y;
}

// A palette page whose colour map is missing is refused instead of decoding to black.
TEST(TiffRead, PalettePageWithoutColourMapAborts) {
    Builder b;
    b.Long(256, {4});
    b.Long(257, {1});
    b.Short(258, {8});
    b.Short(262, {3});
    b.Pixels({0, 1, 2, 3});
    TBitmap bmp;
    TLXIOParams p(nullptr);
    EXPECT_TRUE(Decode(b.Build(), bmp, p).abort);
}

TEST(TiffRead, TilesAreLaidOutInRows) {
    // 256 x 256 in 128 x 128 tiles: the third tile is at x 0 of the second tile row.
    Builder b = Grey8(256, 256);
    std::vector<uint8_t> pix;
    std::vector<uint32_t> offs, counts;
    for (int t = 0; t < 4; ++t) {
        offs.push_back(8 + uint32_t(pix.size()));
        counts.push_back(128 * 128);
        pix.insert(pix.end(), 128 * 128, uint8_t(50 * (t + 1)));
    }
    b.Long(322, {128});
    b.Long(323, {128});
    b.Long(324, offs);
    b.Long(325, counts);
    std::vector<uint8_t> data = b.Build();
    // The builder places data after the header; put the tile data there by hand.
    std::vector<uint8_t> file(data.begin(), data.begin() + 8);
    file.insert(file.end(), pix.begin(), pix.end());
    const uint32_t shift = uint32_t(pix.size());
    file.insert(file.end(), data.begin() + 8, data.end());
    // Patch the IFD offset and the out-of-line data offsets by the shift.
    uint32_t ifd;
    std::memcpy(&ifd, &file[4], 4);
    ifd += shift;
    std::memcpy(&file[4], &ifd, 4);
    uint16_t n;
    std::memcpy(&n, &file[ifd], 2);
    for (int i = 0; i < n; ++i) {
        uint8_t* e = &file[ifd + 2 + 12 * i];
        uint32_t count, value;
        uint16_t type;
        std::memcpy(&type, e + 2, 2);
        std::memcpy(&count, e + 4, 4);
        std::memcpy(&value, e + 8, 4);
        if (count * (type == 3 ? 2u : 4u) > 4) {
            value += shift;
            std::memcpy(e + 8, &value, 4);
        }
    }
    TBitmap bmp;
    TLXIOParams p(nullptr);
    ASSERT_FALSE(Decode(file, bmp, p).abort);
    EXPECT_EQ(PixelOf(bmp, 0, 0).r, 50);
    EXPECT_EQ(PixelOf(bmp, 200, 0).r, 100);
    EXPECT_EQ(PixelOf(bmp, 0, 200).r, 150);
    EXPECT_EQ(PixelOf(bmp, 255, 255).r, 200);
}

TEST(TiffRead, LzwThroughTheHook) {
    Builder b;
    b.Long(256, {3});
    b.Long(257, {2});
    b.Short(258, {8, 8, 8});
    b.Short(259, {5});
    b.Short(262, {2});
    b.Short(277, {3});
    b.Short(317, {2});
    b.Pixels({10, 20, 30, 1, 1, 1, 2, 2, 2, 0, 0, 0, 5, 5, 5, 5, 5, 5});
    TBitmap bmp;
    TLXIOParams p(nullptr);
    p.TiffLZWDecompress = PlainRows;
    g_lzwReleases = 0;
    ASSERT_FALSE(Decode(b.Build(), bmp, p).abort);
    EXPECT_EQ(PixelOf(bmp, 2, 0), (TRGB{33, 23, 13}));
    EXPECT_EQ(PixelOf(bmp, 2, 1), (TRGB{10, 10, 10}));
    EXPECT_EQ(g_lzwReleases, 1);
}

TEST(TiffRead, OldStyleJpegBlock) {
    const std::string dir = std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/jpeg/";
    const auto jpg = ReadFile(dir + "baseline.jpg");
    const Picture want = ReadNetpbm(dir + "baseline.int.1.ppm");
    for (int proc : {-1, 0, 1}) {
        Builder b;
        b.Long(256, {uint32_t(want.w)});
        b.Long(257, {uint32_t(want.h)});
        b.Short(258, {8, 8, 8});
        b.Short(259, {6});
        b.Short(277, {3});
        if (proc >= 0) b.Short(512, {uint32_t(proc)});
        b.Blob(jpg);
        b.Long(513, {8});
        b.Long(514, {uint32_t(jpg.size()) + 1000});   // longer than the file: clipped
        TBitmap bmp;
        TLXIOParams p(nullptr);
        // Other JPEG processes have no decoder: the load fails, the picture stays.
        EXPECT_EQ(Decode(b.Build(), bmp, p).abort, proc == 1) << proc;
        EXPECT_EQ(p.TiffCompression, 6);
        if (proc == 1) {
            EXPECT_EQ(bmp.Width(), 0);
        } else {
            EXPECT_TRUE(SamePixels(bmp, want)) << proc;
        }
    }
}

TEST(TiffRead, BadFilesSetTheAbortFlag) {
    auto grey = [](auto edit) {
        Builder b = Grey8(4, 2);
        edit(b);
        return b.Build();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool abort;
    } cases[] = {
        {"byte order", {'X', 'X', 42, 0, 8, 0, 0, 0}, true},
        {"empty", {}, true},
        {"first IFD 0: nothing to read", {'I', 'I', 42, 0, 0, 0, 0, 0}, true},
        {"IFD outside the file", {'I', 'I', 42, 0, 0xF0, 0, 0, 0}, true},
        {"bits differ", [] {
             Builder b;
             b.Long(256, {1});
             b.Long(257, {1});
             b.Short(258, {8, 8, 4});
             b.Short(277, {3});
             b.Pixels({1, 2, 3});
             return b.Build();
         }(), true},
        {"width 0", [] {
             Builder b = Grey8(0, 2);
             b.Pixels({1, 2});
             return b.Build();
         }(), true},
        {"huge", [] {
             Builder b = Grey8(0x7FFFFFFF, 0x7FFFFFFF);
             b.Pixels({1});
             return b.Build();
         }(), true},
        {"wide", [] {
             Builder b = Grey8(0x7FFFFFF, 1);
             b.Pixels({1});
             return b.Build();
         }(), true},
        {"many samples", grey([](Builder& b) { b.Short(277, {200}); b.Pixels({1}); }), true},
        {"tiles planar", [] {
             Builder b;
             b.Long(256, {4});
             b.Long(257, {2});
             b.Short(258, {8, 8, 8});
             b.Short(262, {2});
             b.Short(277, {3});
             b.Short(284, {2});
             b.Long(322, {16});
             b.Long(323, {16});
             b.Pixels({1});
             return b.Build();
         }(), true},
        {"strip beyond the file", grey([](Builder& b) { b.Long(273, {100000}); }), false},
    };
    for (const Case& c : cases) {
        TBitmap bmp;
        TLXIOParams p(nullptr);
        EXPECT_EQ(Decode(c.data, bmp, p).abort, c.abort) << c.what;
    }
}

// ---- Writing ----

// A pf1bit picture with runs of many lengths.
void Bilevel(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf1bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const bool white = y % 9 == 4 || ((x / (1 + y % 5)) + y / 3) % 3 != 0;
            if (white) row[x / 8] |= uint8_t(0x80 >> (x % 8));
            else row[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
        }
    }
}

void Colour(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + x * 3;
            p[0] = uint8_t(x * 9 + y);
            p[1] = uint8_t(y * 17);
            p[2] = uint8_t(x * y + 3);
        }
}

std::vector<uint8_t> Encode(TBitmap& bmp, TLXIOParams& p, bool* abort = nullptr) {
    TMemoryStream s;
    bool ab = false;
    TProgressRec rec;
    rec.Aborting = &ab;
    EXPECT_EQ(TiffEncodeStream(&s, false, &bmp, rec, p), ab ? 0 : 1);
    if (abort) *abort = ab;
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// The entries of the first IFD of a little-endian file: tag -> (type, count, value).
struct Tag {
    uint16_t type = 0;
    uint32_t count = 0, value = 0;
};
std::map<int, Tag> Tags(const std::vector<uint8_t>& f) {
    std::map<int, Tag> out;
    uint32_t ifd;
    std::memcpy(&ifd, &f[4], 4);
    uint16_t n;
    std::memcpy(&n, &f[ifd], 2);
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = &f[ifd + 2 + 12 * size_t(i)];
        uint16_t tag;
        Tag t;
        std::memcpy(&tag, e, 2);
        std::memcpy(&t.type, e + 2, 2);
        std::memcpy(&t.count, e + 4, 4);
        std::memcpy(&t.value, e + 8, 4);
        out[tag] = t;
    }
    return out;
}

struct WriteCase {
    const char* name;
    bool bilevel;
    int compression;     // parameter code
    int photometric;     // parameter code
    int wantCompression; // tag
    int wantPhotometric; // tag
};

class TiffWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(TiffWrite, ReadBackByUsAndTheTools) {
    const WriteCase& c = GetParam();
    TBitmap bmp;
    const int w = 75, h = 23;
    if (c.bilevel) Bilevel(bmp, w, h);
    else Colour(bmp, w, h);
    TLXIOParams p(nullptr);
    p.BitsPerSample = c.bilevel ? 1 : 8;
    p.SamplesPerPixel = c.bilevel ? 1 : 3;
    p.TiffCompression = uint8_t(c.compression);
    p.TiffPhotometric = uint8_t(c.photometric);
    p.DpiX = 150;
    p.DpiY = 75;
    const auto file = Encode(bmp, p);
    auto tags = Tags(file);
    EXPECT_EQ(int(tags[259].value), c.wantCompression);
    EXPECT_EQ(int(tags[262].value), c.wantPhotometric);
    EXPECT_EQ(tags.count(317), 0u);
    EXPECT_EQ(tags.count(292), c.wantCompression == 3 ? 1u : 0u);
    EXPECT_EQ(tags.count(269), 0u);

    TBitmap back;
    TLXIOParams q(nullptr);
    ASSERT_FALSE(Decode(file, back, q).abort);
    EXPECT_EQ(back.PixelFormat(), bmp.PixelFormat());
    EXPECT_EQ(q.DpiX, 150);
    EXPECT_EQ(q.DpiY, 75);
    const int tol = c.wantPhotometric == 5 ? 2 : 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TRGB a = PixelOf(back, x, y), e = PixelOf(bmp, x, y);
            ASSERT_LE(std::abs(a.r - e.r), tol) << x << "," << y;
            ASSERT_LE(std::abs(a.g - e.g), tol) << x << "," << y;
            ASSERT_LE(std::abs(a.b - e.b), tol) << x << "," << y;
        }

    if (!HaveTool("tiffinfo") || !HaveTool("convert")) GTEST_SKIP() << "libtiff-tools / ImageMagick missing";
    const std::string tif = TempPath(".tif"), ppm = TempPath(".ppm");
    WriteFile(tif, file);
    EXPECT_EQ(std::system(("tiffinfo -D " + tif + " >/dev/null 2>&1").c_str()), 0);
    const std::string conv = c.wantPhotometric == 5
        ? "tiff2rgba -c none " + tif + " " + tif + ".rgba.tif && convert " + tif + ".rgba.tif -alpha off -depth 8 " + ppm
        : "convert " + tif + " -alpha off -depth 8 " + ppm;
    ASSERT_EQ(std::system((conv + " 2>/dev/null").c_str()), 0);
    EXPECT_TRUE(SamePixels(bmp, ReadNetpbm(ppm), tol));
    std::remove(tif.c_str());
    std::remove(ppm.c_str());
    std::remove((tif + ".rgba.tif").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Tiff, TiffWrite,
    ::testing::Values(WriteCase{"bilevel_none", true, 0, 0, 1, 1},
                      WriteCase{"bilevel_none_photometric2", true, 0, 2, 1, 1},
                      WriteCase{"bilevel_mh", true, 1, 0, 2, 0},
                      WriteCase{"bilevel_g3", true, 2, 0, 3, 0},
                      WriteCase{"bilevel_g3_2d", true, 3, 0, 3, 0},
                      WriteCase{"bilevel_g4", true, 4, 2, 4, 0},
                      WriteCase{"bilevel_packbits", true, 8, 1, 32773, 1},
                      WriteCase{"rgb_none", false, 0, 2, 1, 2},
                      WriteCase{"rgb_packbits", false, 8, 2, 32773, 2},
                      WriteCase{"rgb_lzw_written_plain", false, 5, 2, 1, 2},
                      WriteCase{"rgb_ccitt_written_plain", false, 3, 0, 1, 2},
                      WriteCase{"cmyk", false, 0, 5, 1, 5}),
    [](const ::testing::TestParamInfo<WriteCase>& i) { return std::string(i.param.name); });

TEST(TiffWriteTags, TextsPagesAndPositions) {
    TBitmap bmp;
    Colour(bmp, 5, 3);
    TLXIOParams p(nullptr);
    p.TiffDocumentName = "Document";
    p.TiffImageDescription = "abc";
    p.TiffPageName = "Page one";
    p.TiffPageNumber = 2;
    p.TiffPageCount = 5;
    p.TiffXPos = 3;
    const auto file = Encode(bmp, p);
    auto tags = Tags(file);
    EXPECT_EQ(tags[297].type, 3);
    EXPECT_EQ(tags[297].count, 2u);
    EXPECT_EQ(tags[297].value, 2u | (5u << 16));
    TBitmap back;
    TLXIOParams q(nullptr);
    ASSERT_FALSE(Decode(file, back, q).abort);
    EXPECT_EQ(q.TiffDocumentName, "Document");
    EXPECT_EQ(q.TiffImageDescription, "abc");
    EXPECT_EQ(q.TiffPageName, "Page one");
    EXPECT_EQ(q.TiffPageNumber, 2);
    EXPECT_EQ(q.TiffPageCount, 5);
    EXPECT_EQ(q.TiffXPos, 3);
    // Tags stay in the order written, IFD on an even offset.
    uint32_t ifd;
    std::memcpy(&ifd, &file[4], 4);
    EXPECT_EQ(ifd % 2, 0u);
}

TEST(TiffWriteTags, ColourPictureSavedBilevel) {
    // Two colours: the two-colour conversion, the lighter one white; more: a dither.
    for (bool twoColours : {true, false}) {
        TBitmap bmp;
        Colour(bmp, 19, 7);
        for (int y = 0; y < 7 && twoColours; ++y)
            for (int x = 0; x < 19; ++x) {
                uint8_t* p = bmp.ScanLine(y) + x * 3;
                const uint8_t v = (x + y) % 3 ? 230 : 20;
                p[0] = p[1] = p[2] = v;
            }
        TLXIOParams p(nullptr);
        p.BitsPerSample = 1;
        p.SamplesPerPixel = 1;
        p.TiffCompression = 4;
        const auto file = Encode(bmp, p);
        TBitmap back;
        TLXIOParams q(nullptr);
        ASSERT_FALSE(Decode(file, back, q).abort);
        ASSERT_EQ(back.PixelFormat(), pf1bit);
        EXPECT_EQ(bmp.PixelFormat(), pf24bit) << "the caller's picture is left alone";
        if (!twoColours) continue;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 19; ++x)
                ASSERT_EQ(PixelOf(back, x, y).r, (x + y) % 3 ? 255 : 0) << x << "," << y;
    }
}

TEST(TiffWriteTags, PackBitsRuns) {
    std::vector<uint8_t> row(200, 7), out;
    TIFFPackBitsEncode(row.data(), 200, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{uint8_t(-127), 7, uint8_t(-71), 7}));
    out.clear();
    const uint8_t mixed[] = {1, 2, 3, 3, 3, 3, 3, 4};
    TIFFPackBitsEncode(mixed, 8, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 1, 2, uint8_t(-4), 3, 0, 4}));
    std::vector<uint8_t> lit(300), o2;
    for (size_t i = 0; i < lit.size(); ++i) lit[i] = uint8_t(i);
    TIFFPackBitsEncode(lit.data(), 300, o2);
    EXPECT_EQ(o2.size(), 300u + 3);
    EXPECT_EQ(o2[0], 127);
}

TEST(TiffWriteTags, FailedWriteSetsTheAbortFlag) {
    // A stream that takes only a few bytes.
    class Short : public TMemoryStream {
    public:
        int64_t Write(const void* b, int64_t n) override {
            const int64_t room = std::max<int64_t>(0, 40 - Size());
            return TMemoryStream::Write(b, std::min(n, room));
        }
    } s;
    TBitmap bmp;
    Colour(bmp, 30, 30);
    TLXIOParams p(nullptr);
    bool ab = false;
    TProgressRec rec;
    rec.Aborting = &ab;
    EXPECT_EQ(TiffEncodeStream(&s, false, &bmp, rec, p), 0);
    EXPECT_TRUE(ab);
}

TEST(TiffWriteTags, InsertAddsAPage) {
    TBitmap a, b;
    Colour(a, 4, 4);
    Bilevel(b, 9, 3);
    TLXIOParams p(nullptr);
    TMemoryStream s;
    bool ab = false;
    TProgressRec rec;
    rec.Aborting = &ab;
    ASSERT_EQ(TiffEncodeStream(&s, false, &a, rec, p), 1);
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
    p.TiffCompression = 4;
    p.TiffImageIndex = 5;   // beyond the chain: appended
    ASSERT_EQ(TiffEncodeStream(&s, true, &b, rec, p), 2);
    ASSERT_FALSE(ab);
    std::vector<uint8_t> file(s.Memory(), s.Memory() + s.Size());
    TBitmap back;
    TLXIOParams q(nullptr);
    q.TiffImageIndex = 1;
    const Decoded d = Decode(file, back, q);
    ASSERT_FALSE(d.abort);
    EXPECT_EQ(d.pages, 2);
    EXPECT_EQ(back.Width(), 9);
    EXPECT_EQ(back.PixelFormat(), pf1bit);
}

}  // namespace
