// ICO and CUR readers: ImageMagick, Pillow and hand-built files decoded against Pillow's
// decoding (colours and transparency), the directory rules, and hostile directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BMPFiltIco.h"
#include "LuxIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"

namespace {

using namespace codec_test;
const std::string kIcoDir = FixtureDir("ico");

uint32_t IcoGet32(const Bytes& d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}
void IcoPut16(Bytes& d, size_t at, unsigned v) {
    d[at] = uint8_t(v);
    d[at + 1] = uint8_t(v >> 8);
}
void IcoPut32(Bytes& d, size_t at, uint32_t v) {
    IcoPut16(d, at, v & 0xFFFF);
    IcoPut16(d, at + 2, v >> 16);
}

struct IcoDecoded {
    TBitmap bitmap;
    TLXMask mask;
    TLXIOParams params{nullptr};
    bool aborted = false;
};

void DecodeIcon(const Bytes& data, IcoDecoded& d, bool cursor, bool paramsOnly = false,
                bool withMask = true) {
    TMemoryStream s;
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
    TProgressRec rec;
    rec.Aborting = &d.aborted;
    TLXMask* m = withMask ? &d.mask : nullptr;
    if (cursor)
        CurDecodeStream(&s, &d.bitmap, d.params, m, rec, paramsOnly);
    else
        IcoDecodeStream(&s, &d.bitmap, d.params, m, rec, paramsOnly);
}

bool BitAt(TBitmap& b, int x, int y) { return b.ScanLine(y)[x >> 3] & (0x80 >> (x & 7)); }

class IcoDpi : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ScreenPixelsPerInch();
        SetScreenPixelsPerInch(77);
    }
    void TearDown() override { SetScreenPixelsPerInch(saved_); }
    int saved_ = 96;
};

// ---- Outside-tool files ----

TEST_F(IcoDpi, ToolFilesDecodeLikePillow) {
    struct Case { const char* file; bool cursor; int index, bits, samples, palette, w, h; };
    const Case cases[] = {
        {"im_1bit.ico", false, 0, 1, 1, 2, 20, 12},    {"im_4bit.ico", false, 0, 4, 1, 16, 20, 12},
        {"im_8bit.ico", false, 0, 8, 1, 256, 20, 12},  {"im_32bit.ico", false, 0, 8, 3, 0, 20, 12},
        {"pil_32bit.ico", false, 0, 8, 3, 0, 20, 12},  {"im_multi.ico", false, 1, 8, 3, 0, 32, 32},
        {"gen_24bit.ico", false, 0, 8, 3, 0, 20, 12},  {"gen_8bit_cc255.ico", false, 0, 8, 1, 256, 20, 12},
        {"im_1bit.cur", true, 0, 1, 1, 2, 20, 12},     {"im_4bit.cur", true, 0, 4, 1, 16, 20, 12},
        {"gen_8bit_hotspot.cur", true, 0, 8, 1, 256, 20, 12},
    };
    const TRGB bg{3, 140, 250};
    for (const Case& c : cases) {
        const std::string name = c.file;
        // The hand-built cursor holds the pixels of the hand-built icon (Pillow ignores a
        // cursor's AND mask at 8 bits).
        const std::string base = name == "gen_8bit_hotspot.cur"
                                     ? kIcoDir + "gen_8bit_cc255"
                                     : kIcoDir + name.substr(0, name.rfind('.')) + (c.cursor ? "_cur" : "");
        const Picture colours = ReadNetpbm(base + ".ref.ppm");
        const Picture alpha = ReadNetpbm(base + ".ref.pgm");
        for (const TRGB background : {bg, TRGB{255, 255, 255}}) {
            IcoDecoded d;
            (c.cursor ? d.params.CurImageIndex : d.params.IcoImageIndex) = c.index;
            (c.cursor ? d.params.CurBackground : d.params.IcoBackground) = background;
            const Bytes file = ReadFile(kIcoDir + name);
            DecodeIcon(file, d, c.cursor);
            ASSERT_FALSE(d.aborted) << name;
            ASSERT_EQ(d.bitmap.Width(), c.w) << name;
            ASSERT_EQ(d.bitmap.Height(), c.h) << name;
            ASSERT_EQ(colours.w, c.w) << name;
            EXPECT_EQ(d.params.Width, c.w) << name;
            EXPECT_EQ(d.params.Height, c.h) << name;
            EXPECT_EQ(d.params.BitsPerSample, c.bits) << name;
            EXPECT_EQ(d.params.SamplesPerPixel, c.samples) << name;
            EXPECT_EQ(d.params.PaletteCount, c.palette) << name;
            EXPECT_EQ(d.bitmap.PixelFormat(), c.bits == 1 ? pf1bit : pf24bit) << name;
            EXPECT_EQ(d.mask.Width, c.w) << name;
            EXPECT_EQ(d.mask.BitsPerPixel, 8) << name;
            EXPECT_FALSE(d.mask.Full) << name;
            if (c.cursor) {
                const size_t e = 6 + 16 * size_t(c.index);
                EXPECT_EQ(d.params.CurHotSpotX, file[e + 4] | file[e + 5] << 8) << name;
                EXPECT_EQ(d.params.CurHotSpotY, file[e + 6] | file[e + 7] << 8) << name;
            }
            const bool raw24 = name == "gen_24bit.ico";
            int transparentSeen = 0;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    const int a = alpha.At(x, y).r;
                    const TRGB want = colours.At(x, y);
                    const int m = d.mask.ScanLine(y)[x];
                    if (raw24) {
                        // The AND mask is not applied to 24-bit images.
                        EXPECT_EQ(m, 255) << name << " " << x << "," << y;
                        EXPECT_EQ(PixelOf(d.bitmap, x, y), want) << name << " " << x << "," << y;
                        continue;
                    }
                    EXPECT_EQ(m, a) << name << " " << x << "," << y;
                    if (a == 0) ++transparentSeen;
                    if (c.bits == 1) {
                        // Bits are the file's palette indexes.
                        const bool bit = BitAt(d.bitmap, x, y);
                        const bool white = background == TRGB{255, 255, 255};
                        if (a != 0) {
                            EXPECT_EQ(d.params.Palette[bit ? 1 : 0], want) << name << " " << x << "," << y;
                        } else {
                            // Transparent: the XOR bit, inverted for a white background.
                            const size_t at = IcoGet32(file, 6 + 16 * size_t(c.index) + 12) + 40 + 8 +
                                              size_t(c.h - 1 - y) * size_t((c.w + 31) / 32 * 4) + size_t(x >> 3);
                            const bool xorBit = file.at(at) & (0x80 >> (x & 7));
                            EXPECT_EQ(bit, xorBit != white) << name << " " << x << "," << y;
                        }
                    } else if (a == 0) {
                        EXPECT_EQ(PixelOf(d.bitmap, x, y), background) << name << " " << x << "," << y;
                    } else {
                        EXPECT_EQ(PixelOf(d.bitmap, x, y), want) << name << " " << x << "," << y;
                    }
                }
            if (!raw24) {
                EXPECT_GT(transparentSeen, 0) << name;
            }
        }
    }
}

TEST(IcoRead, EntryIndexChoosesTheImage) {
    const Bytes f = ReadFile(kIcoDir + "im_multi.ico");
    IcoDecoded d;
    DecodeIcon(f, d, false);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 16);
    EXPECT_EQ(d.mask.Height, 16);
    // Out of range, or a file without entries: nothing read and nothing changed; a load
    // that decodes nothing fails, a params-only read does not.
    Bytes empty = f;
    empty[4] = empty[5] = 0;
    struct Case { const Bytes* file; int index; };
    for (const Case& c : {Case{&f, 2}, Case{&f, -1}, Case{&f, 1000}, Case{&empty, 0}}) {
        for (const bool cursor : {false, true}) {
            for (const bool paramsOnly : {false, true}) {
                IcoDecoded e;
                e.bitmap.SetPixelFormat(pf24bit);
                e.bitmap.SetSize(3, 4);
                e.params.Width = 99;
                (cursor ? e.params.CurImageIndex : e.params.IcoImageIndex) = c.index;
                Bytes data = *c.file;
                data[2] = cursor ? 2 : 1;
                DecodeIcon(data, e, cursor, paramsOnly);
                const std::string what = std::to_string(c.index) + (cursor ? " cursor" : " icon") +
                                         (paramsOnly ? " params only" : "");
                EXPECT_EQ(e.aborted, !paramsOnly) << what;
                EXPECT_EQ(e.bitmap.Width(), 3) << what;
                EXPECT_EQ(e.params.Width, 99) << what;
                EXPECT_EQ(e.mask.Bits, nullptr) << what;
            }
        }
    }
}

TEST(IcoRead, HeaderAndColourCountRules) {
    // DPI from the info header (3780 pixels per metre = 96); colour count 255 = 256 entries.
    IcoDecoded d;
    DecodeIcon(ReadFile(kIcoDir + "gen_8bit_cc255.ico"), d, false);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.PaletteCount, 256);
    EXPECT_EQ(d.params.Palette[255], (TRGB{0, static_cast<uint8_t>((255 * 3) % 256), static_cast<uint8_t>((255 * 7) % 256)}));
    EXPECT_EQ(d.params.DpiX, 96);

    // Header bit count 0: the entry's bit count; both 0: the colour count (16 -> 4 bits).
    Bytes f = ReadFile(kIcoDir + "im_4bit.ico");
    const size_t hd = IcoGet32(f, 18);
    IcoPut16(f, hd + 14, 0);
    IcoDecoded e;
    DecodeIcon(f, e, false);
    ASSERT_FALSE(e.aborted);
    EXPECT_EQ(e.params.BitsPerSample, 4);
    IcoPut16(f, 6 + 6, 0);
    IcoDecoded g;
    DecodeIcon(f, g, false);
    ASSERT_FALSE(g.aborted);
    EXPECT_EQ(g.params.BitsPerSample, 4);
    f[6 + 2] = 0;   // no colour count either: the depth cannot be found
    IcoDecoded h;
    DecodeIcon(f, h, false);
    EXPECT_TRUE(h.aborted);

    // An entry size that disagrees with a small header: the header wins for icons, not for
    // cursors.
    Bytes s = ReadFile(kIcoDir + "gen_8bit_hotspot.cur");
    s[6] = 10;
    s[7] = 6;
    IcoDecoded c;
    DecodeIcon(s, c, true);
    ASSERT_FALSE(c.aborted);
    EXPECT_EQ(c.bitmap.Width(), 10);
    EXPECT_EQ(c.bitmap.Height(), 6);
    EXPECT_EQ(c.params.CurHotSpotX, 5);
    EXPECT_EQ(c.params.CurHotSpotY, 7);
    IcoPut16(s, 2, 1);
    IcoDecoded i;
    DecodeIcon(s, i, false);
    ASSERT_FALSE(i.aborted);
    EXPECT_EQ(i.bitmap.Width(), 20);
    EXPECT_EQ(i.bitmap.Height(), 12);
}

TEST(IcoRead, BitmapFileUnderAnIconName) {
    IcoDecoded d;
    DecodeIcon(ReadFile(kIcoDir + "gen_bm.ico"), d, false);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 20);
    EXPECT_EQ(d.bitmap.Height(), 12);
    EXPECT_EQ(d.params.BitsPerSample, 8);
    EXPECT_EQ(d.params.SamplesPerPixel, 3);
    EXPECT_EQ(PixelOf(d.bitmap, 3, 2), (TRGB{45, 42, 39}));
    // A cursor is never a bitmap file.
    IcoDecoded c;
    DecodeIcon(ReadFile(kIcoDir + "gen_bm.ico"), c, true);
    EXPECT_NE(c.bitmap.Width(), 20);
}

TEST(IcoRead, ParamsOnlyAndNoMask) {
    IcoDecoded d;
    d.bitmap.SetPixelFormat(pf24bit);
    d.bitmap.SetSize(3, 4);
    DecodeIcon(ReadFile(kIcoDir + "im_4bit.ico"), d, false, true);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.Width, 20);
    EXPECT_EQ(d.params.PaletteCount, 16);
    EXPECT_EQ(d.bitmap.Width(), 3);
    EXPECT_EQ(d.mask.Bits, nullptr);

    IcoDecoded n;
    DecodeIcon(ReadFile(kIcoDir + "im_4bit.ico"), n, false, false, false);
    ASSERT_FALSE(n.aborted);
    EXPECT_EQ(PixelOf(n.bitmap, 0, 0), (TRGB{255, 255, 255}));   // the default background
}

TEST(IcoRead, BadFilesAbortWithoutTouchingMemory) {
    const Bytes good = ReadFile(kIcoDir + "im_8bit.ico");
    std::vector<std::pair<std::string, Bytes>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"short header", Bytes(good.begin(), good.begin() + 4)});
    cases.push_back({"short directory", Bytes(good.begin(), good.begin() + 12)});
    cases.push_back({"no info header", Bytes(good.begin(), good.begin() + 40)});
    cases.push_back({"png entry", ReadFile(kIcoDir + "im_png.ico")});
    Bytes far = good;
    IcoPut32(far, 18, 0xFFFFFFF0u);
    cases.push_back({"offset past the end", far});
    Bytes huge = good;
    huge[6] = 0;
    huge[7] = 0;
    IcoPut32(huge, IcoGet32(good, 18) + 4, 30000);
    IcoPut32(huge, IcoGet32(good, 18) + 8, 60000);
    cases.push_back({"huge size from the header", huge});
    Bytes neg = good;
    neg[7] = 0;
    IcoPut32(neg, IcoGet32(good, 18) + 8, 0xFFFFFFF0u);
    cases.push_back({"negative height", neg});
    const size_t pixels = IcoGet32(good, 18) + 40 + 256 * 4;
    cases.push_back({"no pixel data", Bytes(good.begin(), good.begin() + long(pixels))});
    cases.push_back({"short palette", Bytes(good.begin(), good.begin() + long(pixels) - 100)});
    for (const auto& [what, data] : cases) {
        for (bool cursor : {false, true}) {
            IcoDecoded d;
            d.bitmap.SetPixelFormat(pf24bit);
            d.bitmap.SetSize(3, 4);
            DecodeIcon(data, d, cursor);
            EXPECT_TRUE(d.aborted) << what << (cursor ? " (cursor)" : "");
            EXPECT_EQ(d.bitmap.Width(), 3) << what;
        }
    }
    // A file cut inside the AND mask still loads; the missing part stays opaque.
    IcoDecoded d;
    DecodeIcon(Bytes(good.begin(), good.end() - 20), d, false);
    EXPECT_FALSE(d.aborted);
    EXPECT_EQ(d.mask.ScanLine(0)[5], 255);
}

TEST(IcoLuxIO, DetectedIconsAndCursorsLoad) {
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    struct Case { std::string path; int type; };
    const Case cases[] = {{kIcoDir + "im_4bit.ico", lxftICO}, {kIcoDir + "im_4bit.cur", lxftCUR},
                          {std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/detect/tiny.ico", lxftICO},
                          {std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/detect/tiny.cur", lxftCUR}};
    for (const Case& c : cases) {
        io.LoadFromFile(c.path);
        EXPECT_FALSE(io.Aborting) << c.path;
        EXPECT_EQ(io.Params()->FileType, c.type) << c.path;
        EXPECT_GT(bitmap.Width(), 0) << c.path;
    }
}

// ---- Mutated fixtures through both readers (run under the sanitizers) ----

}  // namespace
