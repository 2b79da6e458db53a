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
#include "lxdefs.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string kIcoDir = std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/ico/";

Bytes IcoReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

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

// Pillow's decoding: a P6 (colours) or P5 (alpha) file of maxval 255.
struct IcoRef {
    int w = 0, h = 0, channels = 3;
    Bytes v;
    const uint8_t* At(int x, int y) const { return &v[(size_t(y) * size_t(w) + size_t(x)) * size_t(channels)]; }
};

IcoRef ParseNetpbm(const Bytes& d) {
    IcoRef r;
    size_t i = 2;
    auto number = [&] {
        while (i < d.size() && !isdigit(d[i])) ++i;
        int v = 0;
        while (i < d.size() && isdigit(d[i])) v = v * 10 + (d[i++] - '0');
        return v;
    };
    r.channels = d.at(1) == '5' ? 1 : 3;
    r.w = number();
    r.h = number();
    number();
    ++i;
    r.v.assign(d.begin() + long(i), d.end());
    return r;
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

TRGB PixelAt(TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return TRGB{p[0], p[1], p[2]};
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
        const IcoRef colours = ParseNetpbm(IcoReadFile(base + ".ref.ppm"));
        const IcoRef alpha = ParseNetpbm(IcoReadFile(base + ".ref.pgm"));
        for (const TRGB background : {bg, TRGB{255, 255, 255}}) {
            IcoDecoded d;
            (c.cursor ? d.params.CurImageIndex : d.params.IcoImageIndex) = c.index;
            (c.cursor ? d.params.CurBackground : d.params.IcoBackground) = background;
            const Bytes file = IcoReadFile(kIcoDir + name);
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
                    const int a = *alpha.At(x, y);
                    const uint8_t* rgb = colours.At(x, y);
                    const TRGB want{rgb[2], rgb[1], rgb[0]};
                    const int m = d.mask.ScanLine(y)[x];
                    if (raw24) {
                        // The AND mask is not applied to 24-bit images.
                        EXPECT_EQ(m, 255) << name << " " << x << "," << y;
                        EXPECT_EQ(PixelAt(d.bitmap, x, y), want) << name << " " << x << "," << y;
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
                        EXPECT_EQ(PixelAt(d.bitmap, x, y), background) << name << " " << x << "," << y;
                    } else {
                        EXPECT_EQ(PixelAt(d.bitmap, x, y), want) << name << " " << x << "," << y;
                    }
                }
            if (!raw24) {
                EXPECT_GT(transparentSeen, 0) << name;
            }
        }
    }
}

TEST(IcoRead, EntryIndexChoosesTheImage) {
    const Bytes f = IcoReadFile(kIcoDir + "im_multi.ico");
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
    DecodeIcon(IcoReadFile(kIcoDir + "gen_8bit_cc255.ico"), d, false);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.PaletteCount, 256);
    EXPECT_EQ(d.params.Palette[255], (TRGB{0, static_cast<uint8_t>((255 * 3) % 256), static_cast<uint8_t>((255 * 7) % 256)}));
    EXPECT_EQ(d.params.DpiX, 96);

    // Header bit count 0: the entry's bit count; both 0: the colour count (16 -> 4 bits).
    Bytes f = IcoReadFile(kIcoDir + "im_4bit.ico");
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
    Bytes s = IcoReadFile(kIcoDir + "gen_8bit_hotspot.cur");
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
    DecodeIcon(IcoReadFile(kIcoDir + "gen_bm.ico"), d, false);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.bitmap.Width(), 20);
    EXPECT_EQ(d.bitmap.Height(), 12);
    EXPECT_EQ(d.params.BitsPerSample, 8);
    EXPECT_EQ(d.params.SamplesPerPixel, 3);
    EXPECT_EQ(PixelAt(d.bitmap, 3, 2), (TRGB{45, 42, 39}));
    // A cursor is never a bitmap file.
    IcoDecoded c;
    DecodeIcon(IcoReadFile(kIcoDir + "gen_bm.ico"), c, true);
    EXPECT_NE(c.bitmap.Width(), 20);
}

TEST(IcoRead, ParamsOnlyAndNoMask) {
    IcoDecoded d;
    d.bitmap.SetPixelFormat(pf24bit);
    d.bitmap.SetSize(3, 4);
    DecodeIcon(IcoReadFile(kIcoDir + "im_4bit.ico"), d, false, true);
    ASSERT_FALSE(d.aborted);
    EXPECT_EQ(d.params.Width, 20);
    EXPECT_EQ(d.params.PaletteCount, 16);
    EXPECT_EQ(d.bitmap.Width(), 3);
    EXPECT_EQ(d.mask.Bits, nullptr);

    IcoDecoded n;
    DecodeIcon(IcoReadFile(kIcoDir + "im_4bit.ico"), n, false, false, false);
    ASSERT_FALSE(n.aborted);
    EXPECT_EQ(PixelAt(n.bitmap, 0, 0), (TRGB{255, 255, 255}));   // the default background
}

TEST(IcoRead, BadFilesAbortWithoutTouchingMemory) {
    const Bytes good = IcoReadFile(kIcoDir + "im_8bit.ico");
    std::vector<std::pair<std::string, Bytes>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"short header", Bytes(good.begin(), good.begin() + 4)});
    cases.push_back({"short directory", Bytes(good.begin(), good.begin() + 12)});
    cases.push_back({"no info header", Bytes(good.begin(), good.begin() + 40)});
    cases.push_back({"png entry", IcoReadFile(kIcoDir + "im_png.ico")});
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

TEST(IcoFuzz, MutatedFixturesNeverCrash) {
    std::vector<Bytes> seeds;
    for (const auto& e : std::filesystem::directory_iterator(kIcoDir)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".ico" || ext == ".cur") seeds.push_back(IcoReadFile(e.path().string()));
    }
    ASSERT_FALSE(seeds.empty());
    std::mt19937 rng(20250108);
    for (int iter = 0; iter < 4000; ++iter) {
        Bytes f = seeds[rng() % seeds.size()];
        const int edits = 1 + int(rng() % 6);
        for (int e = 0; e < edits && !f.empty(); ++e) {
            const size_t at = rng() % std::min<size_t>(f.size(), (rng() & 1) ? 70 : f.size());
            switch (rng() % 6) {
                case 0: f[at] = uint8_t(rng()); break;
                case 1: f[at] ^= uint8_t(1u << (rng() % 8)); break;
                case 2: f.resize(at); break;
                case 3: if (at + 4 <= f.size()) IcoPut32(f, at, uint32_t(rng())); break;
                case 4: if (at + 4 <= f.size()) IcoPut32(f, at, (rng() & 1) ? 0xFFFFFFFFu : 0x80000000u); break;
                default: f.insert(f.begin() + long(at), uint8_t(rng())); break;
            }
        }
        IcoDecoded d;
        d.params.IcoImageIndex = int(rng() % 3);
        d.params.CurImageIndex = int(rng() % 3);
        DecodeIcon(f, d, (rng() & 1) != 0, (rng() & 7) == 0, (rng() & 3) != 0);
        if (!d.aborted && d.bitmap.Width() > 0 && d.mask.Bits) {
            EXPECT_EQ(d.mask.Width, d.bitmap.Width());
            EXPECT_EQ(d.mask.Height, d.bitmap.Height());
        }
    }
}

}  // namespace
