// Masked drawing against pixel expectations, and the small helpers.
#include <gtest/gtest.h>

#include <string>

#include "UxViewerUtils.h"

namespace {

std::unique_ptr<TBitmap> Filled(int w, int h, TColor c, TPixelFormat pf = pf24bit) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf);
    b->SetSize(w, h);
    b->Canvas()->Brush()->SetColor(c);
    b->Canvas()->FillRect({0, 0, w, h});
    return b;
}

}  // namespace

TEST(UxViewerUtils, NthWord) {
    struct Case {
        const char* text;
        int n;
        const char* word;
        int start;
    };
    for (Case c : {Case{"10, 20,30", 1, "10", 1}, Case{"10, 20,30", 2, "20", 5}, Case{"10, 20,30", 3, "30", 8},
                   Case{"10, 20,30", 5, "", 0}, Case{",, 7 ,8", 1, "7", 4}, Case{",, 7 ,8", 2, "8", 7},
                   Case{"", 1, "", 0}, Case{"x", 0, "", 0}}) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.n));
        EXPECT_EQ(NthWord(c.n, c.text, " ,"), c.word);
        EXPECT_EQ(NthWordStart(c.n, c.text, " ,"), c.start);
    }
}

TEST(UxViewerUtils, RectanglesKeepTheGdiMeaning) {
    const TRect r{10, 20, 30, 50};
    EXPECT_EQ(RectExtentX(r), 20);
    EXPECT_EQ(RectExtentY(r), 30);
    for (TPoint p : {TPoint{10, 20}, TPoint{30, 20}, TPoint{10, 50}, TPoint{30, 50}, TPoint{20, 35}})
        EXPECT_TRUE(PointInsideRect(p, r)) << p.X << "," << p.Y;
    for (TPoint p : {TPoint{9, 20}, TPoint{31, 20}, TPoint{10, 19}, TPoint{10, 51}})
        EXPECT_FALSE(PointInsideRect(p, r)) << p.X << "," << p.Y;
    EXPECT_EQ(PaletteRelativeColor(clRed), TColor(0x020000FF));
    EXPECT_EQ(PaletteRelativeColor(clBtnFace), TColor(0x02000000 | ColorToRGB(clBtnFace)));
    EXPECT_EQ(IntMin(-3, 2), -3);
    EXPECT_TRUE(FolderExists("/tmp"));
    EXPECT_FALSE(FolderExists("/proc/self/status"));
    EXPECT_FALSE(FolderExists(""));
}

TEST(UxViewerUtils, MaskedDrawing) {
    // A 4 x 2 picture: magenta except (1,0) red and (2,1) blue; its bottom-left is magenta.
    auto pic = Filled(4, 2, clFuchsia);
    pic->Canvas()->SetPixel(1, 0, clRed);
    pic->Canvas()->SetPixel(2, 1, clBlue);
    struct Case {
        const char* name;
        TColor transparent;
        int w, h;   // destination size (0: own size)
    };
    for (Case c : {Case{"none", clNone, 0, 0}, Case{"default", clDefault, 0, 0}, Case{"explicit", clFuchsia, 0, 0},
                   Case{"stretched", clDefault, 8, 4}}) {
        SCOPED_TRACE(c.name);
        auto dest = Filled(12, 8, clGreen, pf32bit);
        DrawBitmapMasked(dest->Canvas(), pic.get(), 2, 1, c.w, c.h, 0, 0, 0, 0, c.transparent);
        const int sx = c.w ? c.w / 4 : 1, sy = c.h ? c.h / 2 : 1;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) {
                TColor want = clGreen;
                const int px = x - 2, py = y - 1;
                if (px >= 0 && py >= 0 && px < 4 * sx && py < 2 * sy) {
                    const TColor src = pic->Canvas()->Pixel(px / sx, py / sy);
                    if (src != clFuchsia || c.transparent == clNone) want = src;
                }
                ASSERT_EQ(dest->Canvas()->Pixel(x, y), want) << x << "," << y;
            }
    }
    // A part of the bitmap at its own size.
    auto dest = Filled(4, 4, clGreen);
    DrawBitmapPartMasked(dest->Canvas(), 0, 0, {1, 0, 3, 2}, pic.get(), clDefault);
    EXPECT_EQ(dest->Canvas()->Pixel(0, 0), clRed);
    EXPECT_EQ(dest->Canvas()->Pixel(1, 0), clGreen);
    EXPECT_EQ(dest->Canvas()->Pixel(1, 1), clBlue);
    EXPECT_EQ(dest->Canvas()->Pixel(2, 0), clGreen);
    // Monochrome: white is transparent, whatever colour is asked for.
    auto mono = Filled(2, 1, clWhite, pf1bit);
    mono->Canvas()->SetPixel(1, 0, clBlack);
    auto d2 = Filled(2, 1, clGreen);
    DrawWholeBitmapMasked(d2->Canvas(), 0, 0, mono.get(), clRed);
    EXPECT_EQ(d2->Canvas()->Pixel(0, 0), clGreen);
    EXPECT_EQ(d2->Canvas()->Pixel(1, 0), clBlack);
}
