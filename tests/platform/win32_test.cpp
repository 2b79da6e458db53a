// The Win32 stand-ins: block transfers with raster operations, DIB drawing with its two
// source-rectangle conventions, the tick count and the screen DPI.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "Win32.h"

namespace {

// A bitmap whose pixel (x, y) is RGB(x * 10 + 1, y * 10 + 1, 7).
std::unique_ptr<TBitmap> Gradient(int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->Canvas()->SetPixel(x, y, RGBColor(x * 10 + 1, y * 10 + 1, 7));
    return b;
}

TColor G(int x, int y) { return RGBColor(x * 10 + 1, y * 10 + 1, 7); }

std::unique_ptr<TBitmap> Filled(int w, int h, TColor c, TPixelFormat pf = pf24bit) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf);
    b->SetSize(w, h);
    b->Canvas()->Brush()->SetColor(c);
    b->Canvas()->FillRect(Rect(0, 0, w, h));
    return b;
}

BITMAPINFOHEADER HeaderOf(const TBitmap& b) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = b.Width();
    h.biHeight = b.Height();
    h.biPlanes = 1;
    h.biBitCount = uint16_t(BitsOfPixelFormat(b.PixelFormat()));
    h.biCompression = BI_RGB;
    return h;
}

}  // namespace

TEST(BitBlt, CopiesAreClippedOnBothSides) {
    struct Case {
        int x, y, w, h, sx, sy;
    } cases[] = {
        {0, 0, 4, 4, 0, 0},     // whole
        {2, 2, 4, 4, 0, 0},     // runs off the destination
        {0, 0, 4, 4, 2, 1},     // runs off the source
        {-1, 0, 3, 2, 0, 0},    // starts left of the destination
        {1, 1, 3, 3, -1, -2},   // starts above and left of the source
    };
    auto src = Gradient(4, 4);
    for (const auto& k : cases) {
        auto dst = Filled(4, 4, clBlack);
        ASSERT_TRUE(BitBlt(dst->Canvas(), k.x, k.y, k.w, k.h, src->Canvas(), k.sx, k.sy, SRCCOPY));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                int sx = x - k.x + k.sx, sy = y - k.y + k.sy;
                bool inDst = x >= k.x && x < k.x + k.w && y >= k.y && y < k.y + k.h;
                bool inSrc = sx >= 0 && sx < 4 && sy >= 0 && sy < 4;
                TColor want = inDst && inSrc ? G(sx, sy) : clBlack;
                EXPECT_EQ(dst->Canvas()->Pixel(x, y), want) << x << "," << y;
            }
    }
}

TEST(BitBlt, RasterOperations) {
    const TColor s = RGBColor(0xF0, 0x0F, 0x55), d = RGBColor(0x3C, 0xFF, 0x00);
    struct Case {
        DWORD rop;
        TColor result;
    } cases[] = {
        {SRCCOPY, s},
        {SRCINVERT, RGBColor(0xCC, 0xF0, 0x55)},
        {NOTSRCCOPY, RGBColor(0x0F, 0xF0, 0xAA)},
        {DSTINVERT, RGBColor(0xC3, 0x00, 0xFF)},
        {BLACKNESS, clBlack},
        {WHITENESS, clWhite},
        {SRCAND, RGBColor(0x30, 0x0F, 0x00)},
        {SRCPAINT, RGBColor(0xFC, 0xFF, 0x55)},
    };
    auto src = Filled(2, 2, s);
    for (const auto& k : cases) {
        auto dst = Filled(2, 2, d);
        EXPECT_TRUE(BitBlt(dst->Canvas(), 0, 0, 2, 2, src->Canvas(), 0, 0, k.rop));
        EXPECT_EQ(dst->Canvas()->Pixel(1, 1), k.result) << std::hex << k.rop;
    }
    auto dst = Filled(2, 2, d);
    EXPECT_FALSE(BitBlt(dst->Canvas(), 0, 0, 2, 2, src->Canvas(), 0, 0, 0x00AA0029));   // unsupported
    EXPECT_EQ(dst->Canvas()->Pixel(0, 0), d);
}

TEST(BitBlt, SrcInvertTwiceRestoresAlsoOnOneBit) {
    for (TPixelFormat pf : {pf24bit, pf1bit}) {
        auto src = Gradient(5, 3);
        src->SetPixelFormat(pf);
        auto dst = Gradient(5, 3);
        dst->SetPixelFormat(pf);
        TBitmap before;
        before.Assign(dst.get());
        BitBlt(dst->Canvas(), 0, 0, 5, 3, src->Canvas(), 0, 0, SRCINVERT);
        BitBlt(dst->Canvas(), 0, 0, 5, 3, src->Canvas(), 0, 0, SRCINVERT);
        EXPECT_EQ(std::memcmp(dst->PixelBlock(), before.PixelBlock(), size_t(before.ImageSize())), 0);
    }
}

TEST(StretchBlt, NearestNeighbourAndMirroring) {
    auto src = Gradient(2, 2);
    auto dst = Filled(4, 4, clBlack);
    ASSERT_TRUE(StretchBlt(dst->Canvas(), 0, 0, 4, 4, src->Canvas(), 0, 0, 2, 2, SRCCOPY));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dst->Canvas()->Pixel(x, y), G(x / 2, y / 2));
    // Shrinking takes every other pixel; a negative width mirrors.
    auto big = Gradient(4, 2);
    auto small = Filled(2, 1, clBlack);
    StretchBlt(small->Canvas(), 0, 0, 2, 1, big->Canvas(), 0, 0, 4, 2, SRCCOPY);
    EXPECT_EQ(small->Canvas()->Pixel(0, 0), G(0, 0));
    EXPECT_EQ(small->Canvas()->Pixel(1, 0), G(2, 0));
    auto mirror = Filled(4, 1, clBlack);
    StretchBlt(mirror->Canvas(), 3, 0, -4, 1, big->Canvas(), 0, 0, 4, 1, SRCCOPY);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(mirror->Canvas()->Pixel(x, 0), G(3 - x, 0));
    auto mirrorSrc = Filled(4, 1, clBlack);
    StretchBlt(mirrorSrc->Canvas(), 0, 0, 4, 1, big->Canvas(), 3, 0, -4, 1, SRCCOPY);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(mirrorSrc->Canvas()->Pixel(x, 0), G(3 - x, 0));
    auto flipped = Filled(2, 2, clBlack);
    StretchBlt(flipped->Canvas(), 0, 1, 2, -2, src->Canvas(), 0, 0, 2, 2, SRCCOPY);
    EXPECT_EQ(flipped->Canvas()->Pixel(0, 0), G(0, 1));
    EXPECT_EQ(flipped->Canvas()->Pixel(1, 1), G(1, 0));
}

TEST(BitBlt, HonoursTheDestinationClip) {
    auto src = Filled(4, 4, clRed);
    auto dst = Filled(4, 4, clBlack);
    dst->Canvas()->ExcludeClipRect(Rect(1, 1, 3, 3));
    BitBlt(dst->Canvas(), 0, 0, 4, 4, src->Canvas(), 0, 0, SRCCOPY);
    dst->Canvas()->ResetClip();
    EXPECT_EQ(dst->Canvas()->Pixel(0, 0), clRed);
    EXPECT_EQ(dst->Canvas()->Pixel(1, 1), clBlack);
    EXPECT_EQ(dst->Canvas()->Pixel(3, 3), clRed);
}

TEST(DrawDib, SourceRectangleCountsFromTheTop) {
    auto src = Gradient(3, 4);
    BITMAPINFOHEADER h = HeaderOf(*src);
    auto dst = Filled(3, 4, clBlack);
    // Rows 1..2 of the source (from the top), columns 1..2, to the destination's top-left.
    ASSERT_TRUE(DrawDibDraw(dst->Canvas(), 0, 0, 2, 2, &h, src->PixelBlock(), 1, 1, 2, 2));
    EXPECT_EQ(dst->Canvas()->Pixel(0, 0), G(1, 1));
    EXPECT_EQ(dst->Canvas()->Pixel(1, 1), G(2, 2));
    EXPECT_EQ(dst->Canvas()->Pixel(2, 0), clBlack);
    EXPECT_EQ(dst->Canvas()->Pixel(0, 2), clBlack);
    // -1 sizes: the whole picture at its own size.
    auto whole = Filled(3, 4, clBlack);
    ASSERT_TRUE(DrawDibDraw(whole->Canvas(), 0, 0, -1, -1, &h, src->PixelBlock(), 0, 0, -1, -1));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(whole->Canvas()->Pixel(x, y), G(x, y));
}

TEST(DrawDib, OneBitDibsAreBlackAndWhiteAndStretch) {
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(2, 2);
    mono.Canvas()->SetPixel(1, 0, clWhite);   // only the top-right pixel is set
    BITMAPINFOHEADER h = HeaderOf(mono);
    auto dst = Filled(4, 4, clRed);
    ASSERT_TRUE(DrawDibDraw(dst->Canvas(), 0, 0, 4, 4, &h, mono.PixelBlock(), 0, 0, 2, 2));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dst->Canvas()->Pixel(x, y), (x >= 2 && y < 2) ? clWhite : clBlack);
}

TEST(DrawDib, BadHeadersAreRefused) {
    auto src = Gradient(2, 2);
    auto dst = Filled(2, 2, clBlack);
    BITMAPINFOHEADER good = HeaderOf(*src);
    struct Case {
        const char* name;
        void (*spoil)(BITMAPINFOHEADER&);
    } cases[] = {
        {"compressed", [](BITMAPINFOHEADER& h) { h.biCompression = 1; }},
        {"8 bits", [](BITMAPINFOHEADER& h) { h.biBitCount = 8; }},
        {"zero width", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
        {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -2; }},
        {"huge width", [](BITMAPINFOHEADER& h) { h.biWidth = 0x7FFFFFFF; }},
        {"short header", [](BITMAPINFOHEADER& h) { h.biSize = 12; }},
    };
    for (const auto& k : cases) {
        BITMAPINFOHEADER h = good;
        k.spoil(h);
        EXPECT_FALSE(DrawDibDraw(dst->Canvas(), 0, 0, 2, 2, &h, src->PixelBlock(), 0, 0, 2, 2)) << k.name;
        EXPECT_EQ(StretchDIBits(dst->Canvas(), 0, 0, 2, 2, 0, 0, 2, 2, src->PixelBlock(), &h, SRCCOPY), 0) << k.name;
    }
    EXPECT_FALSE(DrawDibDraw(dst->Canvas(), 0, 0, 2, 2, nullptr, src->PixelBlock(), 0, 0, 2, 2));
    EXPECT_FALSE(DrawDibDraw(dst->Canvas(), 0, 0, 2, 2, &good, nullptr, 0, 0, 2, 2));
    EXPECT_EQ(dst->Canvas()->Pixel(0, 0), clBlack);
}

TEST(StretchDIBits, SourceYCountsFromTheBottom) {
    auto src = Gradient(3, 4);
    BITMAPINFOHEADER h = HeaderOf(*src);
    auto dst = Filled(3, 4, clBlack);
    // YSrc 0 with height 1 is the bottom row (top-origin row 3).
    EXPECT_EQ(StretchDIBits(dst->Canvas(), 0, 0, 3, 1, 0, 0, 3, 1, src->PixelBlock(), &h, SRCCOPY), 1);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst->Canvas()->Pixel(x, 0), G(x, 3));
    // The caller's Height - srcH - srcY turns a top-origin rectangle into this convention.
    int topY = 1, hgt = 2;
    EXPECT_EQ(StretchDIBits(dst->Canvas(), 0, 1, 3, 2, 0, 4 - hgt - topY, 3, hgt, src->PixelBlock(), &h, SRCCOPY), 2);
    EXPECT_EQ(dst->Canvas()->Pixel(0, 1), G(0, 1));
    EXPECT_EQ(dst->Canvas()->Pixel(2, 2), G(2, 2));
}

TEST(StretchDIBits, SrcInvertXorsSetBitsWithWhite) {
    // A non-symmetric mask: only the bottom-left pixel of a 2 x 3 mask is set.
    TBitmap mask;
    mask.SetPixelFormat(pf1bit);
    mask.SetSize(2, 3);
    mask.Canvas()->SetPixel(0, 2, clWhite);
    BITMAPINFO1 info{};
    info.bmiHeader = HeaderOf(mask);
    info.bmiColors[1] = {255, 255, 255, 0};
    auto dst = Gradient(2, 3);
    TBitmap before;
    before.Assign(dst.get());
    EXPECT_EQ(StretchDIBits(dst->Canvas(), 0, 0, 2, 3, 0, 0, 2, 3, mask.PixelBlock(), &info.bmiHeader, SRCINVERT), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            TColor want = (x == 0 && y == 2) ? TColor(G(x, y) ^ 0xFFFFFF) : G(x, y);
            EXPECT_EQ(dst->Canvas()->Pixel(x, y), want) << x << "," << y;
        }
    StretchDIBits(dst->Canvas(), 0, 0, 2, 3, 0, 0, 2, 3, mask.PixelBlock(), &info.bmiHeader, SRCINVERT);
    EXPECT_EQ(std::memcmp(dst->PixelBlock(), before.PixelBlock(), size_t(before.ImageSize())), 0);
    // A partial source: the bottom row only (YSrc 0), stretched over the whole destination.
    auto part = Filled(2, 2, clBlack);
    StretchDIBits(part->Canvas(), 0, 0, 2, 2, 0, 0, 2, 1, mask.PixelBlock(), &info.bmiHeader, SRCINVERT);
    EXPECT_EQ(part->Canvas()->Pixel(0, 0), clWhite);
    EXPECT_EQ(part->Canvas()->Pixel(0, 1), clWhite);
    EXPECT_EQ(part->Canvas()->Pixel(1, 0), clBlack);
}

TEST(TickCount, InjectableAndWrapping) {
    DWORD now = 0xFFFFFFF0u;
    SetTickCountSource([&] { return now; });
    DWORD start = GetTickCount();
    now += 0x20;   // wraps past zero
    EXPECT_EQ(GetTickCount(), 0x10u);
    EXPECT_EQ(DWORD(GetTickCount() - start), 0x20u);
    SetTickCountSource(nullptr);
    DWORD a = GetTickCount(), b = GetTickCount();
    EXPECT_LT(DWORD(b - a), 1000u);   // the real clock never runs backwards
}

TEST(ScreenDpi, DefaultsTo96AndCanBeSet) {
    EXPECT_EQ(ScreenPixelsPerInch(), 96);
    SetScreenPixelsPerInch(120);
    EXPECT_EQ(ScreenPixelsPerInch(), 120);
    SetScreenPixelsPerInch(0);
    EXPECT_EQ(ScreenPixelsPerInch(), 96);
}

// A stand-in answers on its own thread only, only while the screen is not known (an explicit
// resolution is known), and notes when it did; the inner of two answers until it goes.
TEST(ScreenDpi, AStandInAnswersOnlyForTheUnknownScreenOnItsThread) {
    SetScreenPixelsPerInch(120);
    {
        TScreenDpiStandIn s(77);
        EXPECT_EQ(ScreenPixelsPerInch(), 120);
        EXPECT_FALSE(s.Asked());
    }
    SetScreenPixelsPerInch(0);
    // Known from here on when this program has a screen; not known (96 for each ask) when not.
    const int screen = ScreenPixelsPerInch();
    std::thread([&] {
        TScreenDpiStandIn outer(77);
        bool asked = false;
        {
            TScreenDpiStandIn inner(78);
            const int d = ScreenPixelsPerInch();
            asked = inner.Asked();
            EXPECT_EQ(d, asked ? 78 : screen);
            EXPECT_FALSE(outer.Asked());
        }
        EXPECT_EQ(ScreenPixelsPerInch(), asked ? 77 : screen);
        EXPECT_EQ(outer.Asked(), asked);
    }).join();
    TScreenDpiStandIn here(55);
    std::thread([&] { EXPECT_NE(ScreenPixelsPerInch(), 55); }).join();
    EXPECT_FALSE(here.Asked());
}
