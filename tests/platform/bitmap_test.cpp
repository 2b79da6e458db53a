// The in-memory bitmap: row order, polarity, padding, sizes, format conversions, changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Graphics.h"

namespace {

void Put24(TBitmap& b, int x, int y, TColor c) {
    uint8_t* p = b.ScanLine(y) + 3 * x;
    p[0] = uint8_t(GetBValue(c));
    p[1] = uint8_t(GetGValue(c));
    p[2] = uint8_t(GetRValue(c));
}

TColor Get24(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + 3 * x;
    return RGBColor(p[2], p[1], p[0]);
}

bool Bit(const TBitmap& b, int x, int y) { return (b.ScanLine(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }

const TColor kSix[2][3] = {{clRed, clLime, clBlue}, {clYellow, clFuchsia, clAqua}};

class SixColours : public ::testing::Test {
protected:
    void SetUp() override {
        bmp.SetPixelFormat(pf24bit);
        bmp.SetSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) Put24(bmp, x, y, kSix[y][x]);
    }
    TBitmap bmp;
};

}  // namespace

TEST_F(SixColours, RowsAreBottomUpAndContiguous) {
    EXPECT_EQ(bmp.RowBytes(), 12);
    EXPECT_EQ(bmp.ScanLine(0) - bmp.ScanLine(1), bmp.RowBytes());
    EXPECT_EQ(bmp.ScanLine(1), bmp.PixelBlock());
    EXPECT_EQ(bmp.ImageSize(), 24);
    // Byte order B, G, R: red is the third byte of the top-left pixel.
    const uint8_t* top = bmp.ScanLine(0);
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[2], 255);
    // The top row lives at the higher address of the block.
    EXPECT_EQ(bmp.PixelBlock()[bmp.RowBytes() + 2], 255);
}

TEST_F(SixColours, CanvasReadsWhatTheRowsHold) {
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(bmp.Canvas()->Pixel(x, y), kSix[y][x]) << x << "," << y;
}

TEST_F(SixColours, FillOfOnePixelTouchesOnlyIt) {
    bmp.Canvas()->Brush()->SetColor(clBlack);
    bmp.Canvas()->FillRect(Rect(0, 0, 1, 1));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Get24(bmp, x, y), (x == 0 && y == 0) ? clBlack : kSix[y][x]);
}

TEST_F(SixColours, ResizeKeepsTheVisualTopLeft) {
    bmp.SetSize(3, 3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Get24(bmp, x, y), kSix[y][x]);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Get24(bmp, x, 2), clBlack);
    bmp.SetSize(2, 1);
    EXPECT_EQ(Get24(bmp, 0, 0), clRed);
    EXPECT_EQ(Get24(bmp, 1, 0), clLime);
    bmp.SetSize(4, 2);
    EXPECT_EQ(Get24(bmp, 1, 0), clLime);
    EXPECT_EQ(Get24(bmp, 2, 0), clBlack);
    EXPECT_EQ(Get24(bmp, 0, 1), clBlack);
}

TEST(Bitmap1Bit, BitOrderPolarityAndPadding) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(13, 2);
    ASSERT_EQ(b.RowBytes(), 4);
    ASSERT_EQ(b.Palette(), (std::vector<uint32_t>{0x000000, 0xFFFFFF}));
    TCanvas* c = b.Canvas();
    c->SetPixel(0, 0, clWhite);
    c->SetPixel(9, 0, clWhite);
    c->SetPixel(12, 1, clWhite);
    EXPECT_EQ(b.ScanLine(0)[0], 0x80);
    EXPECT_EQ(b.ScanLine(0)[1], 0x40);
    EXPECT_EQ(b.ScanLine(1)[1], 0x08);
    EXPECT_EQ(c->Pixel(9, 0), clWhite);
    EXPECT_EQ(c->Pixel(8, 0), clBlack);
    // Filling the whole width leaves the padding bits and bytes clear.
    c->Brush()->SetColor(clWhite);
    c->FillRect(Rect(0, 0, 13, 2));
    const uint8_t* r = b.ScanLine(1);
    EXPECT_EQ(r[0], 0xFF);
    EXPECT_EQ(r[1], 0xF8);
    EXPECT_EQ(r[2], 0);
    EXPECT_EQ(r[3], 0);
    EXPECT_EQ(b.ScanLine(0) - b.ScanLine(1), 4);
}

TEST(Bitmap1Bit, ResizeKeepsTopRowsAndClearsTheCutTail) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(13, 2);
    b.Canvas()->Brush()->SetColor(clWhite);
    b.Canvas()->FillRect(Rect(0, 0, 13, 1));
    b.SetSize(13, 3);
    EXPECT_EQ(b.ScanLine(0)[1], 0xF8);
    EXPECT_EQ(b.ScanLine(1)[0], 0);
    b.SetSize(5, 3);
    EXPECT_EQ(b.ScanLine(0)[0], 0xF8);
    b.SetSize(13, 3);
    // Pixels 5..12 come back black: the part of byte 0 past the old width was cleared.
    EXPECT_EQ(b.ScanLine(0)[0], 0xF8);
    EXPECT_EQ(b.ScanLine(0)[1], 0);
}

TEST(Bitmap1Bit, ColoursMapToTheNearestOfBlackAndWhite) {
    struct Case {
        TColor colour;
        bool white;
    } cases[] = {
        // luminance (21 R + 71 G + 7 B) div 100, white from 128 on
        {clBlack, false}, {clWhite, true}, {RGBColor(130, 130, 130), true}, {RGBColor(129, 129, 129), false},
        {clGray, false}, {clRed, false}, {clLime, true}, {clYellow, true},
        {clBtnFace, true}, {clWindowText, false},
    };
    for (const auto& k : cases) {
        TBitmap b;
        b.SetPixelFormat(pf1bit);
        b.SetSize(1, 1);
        b.Canvas()->Brush()->SetColor(k.colour);
        b.Canvas()->FillRect(Rect(0, 0, 1, 1));
        EXPECT_EQ(Bit(b, 0, 0), k.white) << std::hex << k.colour;
    }
}

TEST(BitmapSize, RowLengths) {
    struct Case {
        int64_t w;
        int bits;
        int64_t bytes;
    } cases[] = {{1, 1, 4}, {32, 1, 4}, {33, 1, 8}, {1, 24, 4}, {5, 24, 16}, {13, 1, 4}, {0, 24, 0},
                 {3, 4, 4}, {9, 4, 8}, {3, 15, 8}, {1, 32, 4},
                 {2147483616, 1, 268435452}, {2147483616 / 32, 32, 268435452}};
    for (const auto& k : cases) EXPECT_EQ(DibRowBytes(k.w, k.bits), k.bytes) << k.w << "x" << k.bits;
}

TEST(BitmapSize, RowsPastTheLimitAreRefused) {
    EXPECT_THROW(DibRowBytes(2147483617, 1), EIntOverflow);
    EXPECT_THROW(DibRowBytes(89478486, 24), EIntOverflow);   // 2147483664 bits
    EXPECT_NO_THROW(DibRowBytes(89478484, 24));              // 2147483616 bits
    EXPECT_THROW(DibRowBytes(INT64_MAX, 24), EIntOverflow);
    EXPECT_THROW(DibRowBytes(-1, 24), EIntOverflow);
}

TEST(BitmapSize, HugeImagesFailCleanlyAndKeepTheOldOne) {
    TBitmap b;
    b.SetSize(2, 2);
    b.Canvas()->Brush()->SetColor(clRed);
    b.Canvas()->FillRect(Rect(0, 0, 2, 2));
    EXPECT_THROW(b.SetSize(100000, 100000), EOutOfMemory);   // 30 GB
    EXPECT_THROW(b.SetSize(2147483647, 1), EIntOverflow);
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Canvas()->Pixel(1, 1), clRed);
}

TEST(BitmapSize, NewMemoryIsZeroAndBadRowsThrow) {
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelBlock(), nullptr);
    EXPECT_THROW(b.ScanLine(0), EInvalidGraphic);
    b.SetSize(37, 11);
    for (int64_t i = 0; i < b.ImageSize(); ++i) ASSERT_EQ(b.PixelBlock()[i], 0);
    EXPECT_THROW(b.ScanLine(11), EInvalidGraphic);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
    b.SetSize(-4, 3);
    EXPECT_TRUE(b.Empty());
}

namespace {

struct ConversionCase {
    const char* name;
    TPixelFormat from;
    std::vector<uint8_t> row;          // the top row's bytes
    std::vector<uint32_t> palette;
    std::vector<TColor> expected;      // the pixels after conversion to pf24bit
};

}  // namespace

TEST(BitmapFormat, ConversionsToTrueColour) {
    const ConversionCase cases[] = {
        {"1 bit: a set bit is white", pf1bit, {0xA0}, {}, {clWhite, clBlack, clWhite}},
        {"4 bit through the palette", pf4bit, {0x21, 0x00}, {0x000000, 0xFF0000, 0x00FF00}, {clLime, clRed, clBlack}},
        {"8 bit through the palette", pf8bit, {2, 1, 0}, {0x000000, 0x0000FF, 0x123456}, {RGBColor(0x12, 0x34, 0x56), clBlue, clBlack}},
        {"15 bit x555", pf15bit, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {}, {clRed, clLime, clBlue}},
        {"16 bit 565", pf16bit, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00}, {}, {clRed, clLime, clBlue}},
        {"32 bit B G R x", pf32bit, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}, {}, {RGBColor(3, 2, 1), RGBColor(6, 5, 4), RGBColor(9, 8, 7)}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TBitmap b;
        b.SetPixelFormat(k.from);
        b.SetSize(3, 2);
        if (!k.palette.empty()) b.Palette() = k.palette;
        std::memcpy(b.ScanLine(0), k.row.data(), k.row.size());
        b.SetPixelFormat(pf24bit);
        ASSERT_EQ(b.PixelFormat(), pf24bit);
        ASSERT_EQ(b.RowBytes(), 12);
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(Get24(b, x, 0), k.expected[size_t(x)]) << "x=" << x;
            EXPECT_EQ(Get24(b, x, 1), clBlack);   // zero bytes, palette entry 0
        }
    }
}

TEST_F(SixColours, ToOneBitTakesTheNearestAndBackToTrueColour) {
    bmp.SetPixelFormat(pf1bit);
    ASSERT_EQ(bmp.RowBytes(), 4);
    // red 53, lime 181, blue 17 / yellow 234, fuchsia 71, aqua 198
    EXPECT_FALSE(Bit(bmp, 0, 0));
    EXPECT_TRUE(Bit(bmp, 1, 0));
    EXPECT_FALSE(Bit(bmp, 2, 0));
    EXPECT_TRUE(Bit(bmp, 0, 1));
    EXPECT_FALSE(Bit(bmp, 1, 1));
    EXPECT_TRUE(Bit(bmp, 2, 1));
    bmp.SetPixelFormat(pf24bit);
    EXPECT_EQ(Get24(bmp, 1, 0), clWhite);
    EXPECT_EQ(Get24(bmp, 2, 0), clBlack);
}

TEST_F(SixColours, ToThirtyTwoBitsKeepsColours) {
    bmp.SetPixelFormat(pf32bit);
    ASSERT_EQ(bmp.RowBytes(), 12);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* p = bmp.ScanLine(y) + 4 * x;
            EXPECT_EQ(RGBColor(p[2], p[1], p[0]), kSix[y][x]);
        }
}

TEST(BitmapFormat, TheOneByOneIdiomIsCheapAndSizesFollowTheFormat) {
    TBitmap b;
    b.SetSize(1, 1);
    b.SetPixelFormat(pf1bit);
    b.SetSize(100, 3);
    EXPECT_EQ(b.RowBytes(), 16);
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.RowBytes(), 300);
    EXPECT_EQ(b.Width(), 100);
    b.SetPixelFormat(pfDevice);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_THROW(b.SetPixelFormat(pfCustom), EInvalidGraphic);
    EXPECT_EQ(BitsOfPixelFormat(pfDevice), 0);
    EXPECT_EQ(BitsOfPixelFormat(pfCustom), 0);
}

TEST_F(SixColours, AssignCopiesAnIndependentPicture) {
    TBitmap copy;
    copy.Assign(&bmp);
    ASSERT_EQ(copy.Width(), 3);
    ASSERT_EQ(copy.Height(), 2);
    EXPECT_NE(copy.PixelBlock(), bmp.PixelBlock());
    EXPECT_EQ(std::memcmp(copy.PixelBlock(), bmp.PixelBlock(), size_t(bmp.ImageSize())), 0);
    Put24(bmp, 0, 0, clBlack);
    EXPECT_EQ(Get24(copy, 0, 0), clRed);
    copy.Assign(&copy);
    EXPECT_EQ(Get24(copy, 0, 0), clRed);
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
    TStringList notAPicture;
    EXPECT_THROW(copy.Assign(&notAPicture), EConvertError);
}

namespace {

struct ChangeCounter {
    int calls = 0;
    TObject* sender = nullptr;
    void Changed(TObject* s) {
        ++calls;
        sender = s;
    }
};

}  // namespace

TEST(BitmapChange, ModifiedAndDrawingTellOnChange) {
    TBitmap b;
    ChangeCounter n;
    b.OnChange = MakeMethod(&n, &ChangeCounter::Changed);
    b.SetSize(4, 4);
    EXPECT_EQ(n.calls, 1);
    EXPECT_EQ(n.sender, &b);
    b.SetSize(4, 4);   // unchanged: no news
    EXPECT_EQ(n.calls, 1);
    b.SetModified(false);
    EXPECT_FALSE(b.Modified());
    EXPECT_EQ(n.calls, 1);
    b.SetModified(true);
    EXPECT_TRUE(b.Modified());
    EXPECT_EQ(n.calls, 2);
    b.Canvas()->FillRect(Rect(0, 0, 2, 2));
    EXPECT_EQ(n.calls, 3);
    b.SetPixelFormat(pf1bit);
    EXPECT_EQ(n.calls, 4);
}

TEST(Colours, SystemColoursComeFromTheFixedTable) {
    struct Case {
        TColor in, out;
    } cases[] = {
        {clRed, clRed}, {RGBColor(1, 2, 3), RGBColor(1, 2, 3)}, {clBtnFace, RGBColor(192, 192, 192)},
        {clWindow, clWhite}, {clWindowText, clBlack}, {clHighlight, RGBColor(0, 0, 128)},
        {clHighlightText, clWhite}, {clBtnShadow, RGBColor(128, 128, 128)}, {clInfoBk, RGBColor(255, 255, 225)},
        {SystemColor(200), clBlack}, {clNone, clNone},
    };
    for (const auto& k : cases) EXPECT_EQ(ColorToRGB(k.in), k.out) << std::hex << k.in;
    EXPECT_EQ(GetRValue(RGBColor(10, 20, 30)), 10);
    EXPECT_EQ(RGBColor(10, 20, 30), 0x1E140A);
}

TEST(Fonts, SizeAndHeightFollowTheDpi) {
    TFont f;
    EXPECT_EQ(f.Height(), -11);
    EXPECT_EQ(f.Size(), 8);
    f.SetSize(12);
    EXPECT_EQ(f.Height(), -16);
    f.PixelsPerInch = 120;
    f.SetSize(9);
    EXPECT_EQ(f.Height(), -15);
    EXPECT_EQ(f.Size(), 9);
}

// A photo of the same size as the one before costs no new block: a bitmap keeps its block
// when its shape stays, a block given back is handed out again (zeroed where asked), and
// contents can be swapped without a copy.
TEST(PixelBlocks, KeptAndReused) {
    TrimPixelBlocks();
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(1000, 800);   // 2.4 MB: a large block
    uint8_t* block = b.PixelBlock();
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, size_t(b.ImageSize()));
    TBitmap other;
    other.SetPixelFormat(pf24bit);
    other.SetSize(1000, 800);
    other.Assign(&b);
    EXPECT_EQ(other.ScanLine(5)[7], 0xAB);

    // Assign of the same shape keeps the target's block.
    uint8_t* otherBlock = other.PixelBlock();
    other.Assign(&b);
    EXPECT_EQ(other.PixelBlock(), otherBlock);

    // The decoders' pattern: 1 x 1, then the photo's size again.
    const TPixelBlockStats before = PixelBlockStats();
    b.SetSize(1, 1);
    b.SetSize(1000, 800);
    const TPixelBlockStats after = PixelBlockStats();
    EXPECT_EQ(after.Reused, before.Reused + 1);
    EXPECT_EQ(after.Fresh, before.Fresh);
    EXPECT_EQ(b.PixelBlock(), block);
    for (int y : {0, 400, 799}) EXPECT_EQ(b.ScanLine(y)[2999], 0) << "a reused block starts zeroed";

    // Exchange swaps blocks and shapes.
    TBitmap small;
    small.SetPixelFormat(pf1bit);
    small.SetSize(3, 2);
    b.Exchange(small);
    EXPECT_EQ(small.PixelBlock(), block);
    EXPECT_EQ(small.Width(), 1000);
    EXPECT_EQ(small.PixelFormat(), pf24bit);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.PixelFormat(), pf1bit);
    EXPECT_EQ(b.Palette().size(), 2u);

    // A size no idle block fits gives idle ones back, the largest first, until as much as
    // the new block needs has gone; a smaller one stays for its own reuse.
    small.SetSize(0, 0);   // 2.4 MB idle
    TBitmap big;
    big.SetSize(2000, 2000);   // 12 MB: the small idle block goes
    EXPECT_EQ(PixelBlockStats().IdleBytes, 0);
    EXPECT_EQ(big.ScanLine(1999)[5999], 0);
    small.SetSize(1000, 800);
    small.SetSize(0, 0);
    big.SetSize(0, 0);   // 2.4 MB and 12 MB idle
    const int64_t smallIdle = PixelBlockStats().IdleBytes;
    TBitmap middle;
    middle.SetSize(1500, 1200);   // 5.4 MB: the 12 MB block goes, the 2.4 MB one stays
    const int64_t left = PixelBlockStats().IdleBytes;
    EXPECT_GT(left, 0);
    EXPECT_LT(left, smallIdle);
    small.SetSize(1000, 800);
    EXPECT_EQ(PixelBlockStats().IdleBytes, 0) << "the small block was reused";
}

// A new size keeps the visual top-left of the picture and clears the rest (row padding and
// the bits after the last pixel included), whether the block is large enough to be kept
// (a large one that holds the new size, every row moving the same way) or a new one is made.
TEST(BitmapResize, KeptPartAndClearedRestWhateverTheBlock) {
    struct Case {
        const char* what;
        TPixelFormat pf;
        int w0, h0, w1, h1;
        bool sameBlock;   // where large blocks are kept (not in sanitizer builds)
    };
    const Case cases[] = {
        {"a view losing room for its scroll bars", pf24bit, 1920, 1080, 1904, 1064, true},
        {"and getting it back", pf24bit, 1904, 1064, 1920, 1080, true},
        {"a surface one bar narrower", pf32bit, 1920, 1080, 1904, 1080, true},
        {"odd widths, padded rows", pf24bit, 1001, 800, 999, 797, true},
        {"odd widths growing", pf24bit, 999, 797, 1001, 800, true},
        {"one bit a pixel, a partial last byte", pf1bit, 8003, 1200, 7993, 1190, true},
        {"one bit a pixel growing", pf1bit, 7993, 1190, 8003, 1200, true},
        {"grey levels", pf8bit, 1500, 1000, 1499, 999, true},
        {"wider but lower", pf24bit, 1000, 1000, 1100, 900, false},
        {"far larger", pf24bit, 1000, 400, 2000, 2000, false},
        {"far smaller", pf24bit, 2000, 2000, 500, 400, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap b;
        b.SetPixelFormat(c.pf);
        b.SetSize(c.w0, c.h0);
        const int64_t rb0 = b.RowBytes();
        for (int y = 0; y < c.h0; ++y) {
            uint8_t* row = b.ScanLine(y);
            for (int64_t i = 0; i < rb0; ++i) row[i] = uint8_t(i * 7 + y * 13 + 1) | 1;
        }
        const uint8_t* block = b.PixelBlock();
        b.SetSize(c.w1, c.h1);
        ASSERT_EQ(b.Width(), c.w1);
        ASSERT_EQ(b.Height(), c.h1);
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_EQ(b.PixelBlock() == block, c.sameBlock);
#endif
        const int bits = BitsOfPixelFormat(c.pf);
        const int64_t keptBits = int64_t(std::min(c.w0, c.w1)) * bits;
        int wrong = 0;
        for (int y = 0; y < c.h1; ++y) {
            const uint8_t* row = b.ScanLine(y);
            for (int64_t i = 0; i < b.RowBytes(); ++i) {
                uint8_t want = 0;
                if (y < c.h0 && i * 8 < keptBits) {
                    want = uint8_t(i * 7 + y * 13 + 1) | 1;
                    if ((i + 1) * 8 > keptBits) want &= uint8_t(0xFF00 >> (keptBits - i * 8));
                }
                if (row[i] != want && wrong++ < 5) ADD_FAILURE() << "row " << y << " byte " << i;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// A picture whose every pixel a reader writes: the size, format and default palette of the
// format, the old pixels not kept.
TEST(BitmapResize, NewUnclearedPicture) {
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetSize(10, 10);
    b.Palette()[5] = 0x123456;
    b.NewUncleared(1000, 700, pf24bit);
    EXPECT_EQ(b.Width(), 1000);
    EXPECT_EQ(b.Height(), 700);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_TRUE(b.Palette().empty());
    EXPECT_EQ(b.RowBytes(), 3000);
    b.ScanLine(699)[2999] = 1;   // all of it is there
    b.NewUncleared(8, 8, pf8bit);
    ASSERT_EQ(b.Palette().size(), 256u);
    EXPECT_EQ(b.Palette()[5], 0x050505u);
    b.NewUncleared(9, 1, pf1bit);
    EXPECT_EQ(b.Palette(), (std::vector<uint32_t>{0x000000, 0xFFFFFF}));
    b.NewUncleared(0, 0, pf24bit);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelBlock(), nullptr);
}
