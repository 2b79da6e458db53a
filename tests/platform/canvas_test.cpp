// The canvas: GDI pixel rules for fills, frames, lines, pens, hatches, clipping, shapes,
// block copies and text.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "Graphics.h"

namespace {

using PixelSet = std::set<std::pair<int, int>>;

// A white bitmap of the given size and format.
std::unique_ptr<TBitmap> White(int w, int h, TPixelFormat pf = pf24bit) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf);
    b->SetSize(w, h);
    b->Canvas()->Brush()->SetColor(clWhite);
    b->Canvas()->FillRect(Rect(0, 0, w, h));
    return b;
}

// The pixels that are not white.
PixelSet Marked(TBitmap& b) {
    PixelSet s;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.Canvas()->Pixel(x, y) != clWhite) s.insert({x, y});
    return s;
}

PixelSet RectPixels(int l, int t, int r, int b) {
    PixelSet s;
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) s.insert({x, y});
    return s;
}

std::string Picture(TBitmap& b) {
    std::string s;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) s += b.Canvas()->Pixel(x, y) == clWhite ? '.' : '#';
        s += '\n';
    }
    return s;
}

}  // namespace

TEST(CanvasFill, RectanglesCoverLeftTopButNotRightBottom) {
    struct Case {
        TRect r;
        PixelSet expected;
    } cases[] = {
        {Rect(2, 3, 5, 4), RectPixels(2, 3, 5, 4)},
        {Rect(0, 0, 1, 1), RectPixels(0, 0, 1, 1)},
        {Rect(4, 4, 4, 8), {}},                            // empty width
        {Rect(6, 6, 3, 3), {}},                            // inverted: nothing
        {Rect(-5, -5, 2, 2), RectPixels(0, 0, 2, 2)},      // clipped to the bitmap
        {Rect(8, 8, 100, 100), RectPixels(8, 8, 10, 10)},
    };
    for (TPixelFormat pf : {pf24bit, pf1bit, pf32bit, pf8bit, pf16bit}) {
        for (const auto& k : cases) {
            auto b = White(10, 10, pf);
            b->Canvas()->Brush()->SetColor(clBlack);
            b->Canvas()->FillRect(k.r);
            EXPECT_EQ(Marked(*b), k.expected) << "format " << pf << "\n" << Picture(*b);
        }
    }
}

TEST(CanvasFill, RectangleFramesWithThePenAndFillsWithTheBrush) {
    auto b = White(8, 8);
    TCanvas* c = b->Canvas();
    c->Pen()->SetColor(clRed);
    c->Brush()->SetColor(clBlue);
    c->Rectangle(1, 1, 6, 5);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool inside = x >= 1 && x < 6 && y >= 1 && y < 5;
            bool edge = inside && (x == 1 || x == 5 || y == 1 || y == 4);
            TColor want = !inside ? clWhite : edge ? clRed : clBlue;
            EXPECT_EQ(c->Pixel(x, y), want) << x << "," << y;
        }
    // Without a pen GDI fills one pixel less to the right and bottom.
    auto n = White(8, 8);
    n->Canvas()->Pen()->SetStyle(psClear);
    n->Canvas()->Brush()->SetColor(clBlack);
    n->Canvas()->Rectangle(1, 1, 6, 5);
    EXPECT_EQ(Marked(*n), RectPixels(1, 1, 5, 4));
}

TEST(CanvasFill, WidePenFramesAreCentredOnTheEdgePixels) {
    auto b = White(14, 14);
    TCanvas* c = b->Canvas();
    c->Pen()->SetWidth(3);
    c->Pen()->SetColor(clRed);
    c->Brush()->SetColor(clBlue);
    c->Rectangle(3, 3, 11, 11);
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 14; ++x) {
            bool outer = x >= 2 && x <= 11 && y >= 2 && y <= 11;
            bool inner = x >= 5 && x <= 8 && y >= 5 && y <= 8;
            TColor want = !outer ? clWhite : inner ? clBlue : clRed;
            EXPECT_EQ(c->Pixel(x, y), want) << x << "," << y;
        }
}

TEST(CanvasFill, FrameRectIsOnePixelInTheBrushColour) {
    auto b = White(8, 8);
    b->Canvas()->Brush()->SetColor(clBlack);
    b->Canvas()->FrameRect(Rect(1, 2, 5, 6));
    PixelSet want = RectPixels(1, 2, 5, 6);
    for (auto p : RectPixels(2, 3, 4, 5)) want.erase(p);
    EXPECT_EQ(Marked(*b), want);
}

TEST(CanvasLine, LinesLeaveOutTheirEndPoint) {
    struct Case {
        TPoint a, b;
        PixelSet expected;
    } cases[] = {
        {{1, 1}, {5, 1}, {{1, 1}, {2, 1}, {3, 1}, {4, 1}}},
        {{5, 1}, {1, 1}, {{5, 1}, {4, 1}, {3, 1}, {2, 1}}},
        {{2, 0}, {2, 3}, {{2, 0}, {2, 1}, {2, 2}}},
        {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        {{3, 0}, {0, 3}, {{3, 0}, {2, 1}, {1, 2}}},
        {{4, 4}, {4, 4}, {}},
    };
    for (const auto& k : cases) {
        auto b = White(8, 8);
        b->Canvas()->Pen()->SetColor(clBlack);
        b->Canvas()->MoveTo(k.a.X, k.a.Y);
        b->Canvas()->LineTo(k.b.X, k.b.Y);
        EXPECT_EQ(Marked(*b), k.expected) << Picture(*b);
        EXPECT_EQ(b->Canvas()->PenPos(), k.b);
    }
}

TEST(CanvasLine, PolylineJoinsWithoutDoublingTheCorners) {
    auto b = White(8, 8);
    TCanvas* c = b->Canvas();
    c->Pen()->SetMode(pmNot);
    c->Polyline({{1, 1}, {5, 1}, {5, 5}});
    // With a NOT pen a corner drawn twice would come back white.
    PixelSet want = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {5, 2}, {5, 3}, {5, 4}};
    EXPECT_EQ(Marked(*b), want);
}

TEST(CanvasLine, PenModes) {
    struct Case {
        TPenMode mode;
        TColor pen, before, after;
    } cases[] = {
        {pmCopy, clRed, clWhite, clRed},
        {pmNot, clRed, RGBColor(10, 20, 30), RGBColor(245, 235, 225)},
        {pmXor, RGBColor(0xF0, 0x0F, 0xFF), RGBColor(0xFF, 0xFF, 0x00), RGBColor(0x0F, 0xF0, 0xFF)},
        {pmNotXor, RGBColor(0xF0, 0x0F, 0xFF), RGBColor(0xFF, 0xFF, 0x00), RGBColor(0xF0, 0x0F, 0x00)},
        {pmBlack, clRed, clWhite, clBlack},
        {pmNop, clRed, clLime, clLime},
    };
    for (const auto& k : cases) {
        TBitmap b;
        b.SetSize(4, 1);
        TCanvas* c = b.Canvas();
        c->Brush()->SetColor(k.before);
        c->FillRect(Rect(0, 0, 4, 1));
        c->Pen()->SetColor(k.pen);
        c->Pen()->SetMode(k.mode);
        c->MoveTo(0, 0);
        c->LineTo(3, 0);
        EXPECT_EQ(c->Pixel(1, 0), k.after) << "mode " << k.mode;
        EXPECT_EQ(c->Pixel(3, 0), k.before);
    }
}

TEST(CanvasLine, XorTwiceRestoresAndWorksOnOneBit) {
    auto b = White(6, 6, pf1bit);
    TCanvas* c = b->Canvas();
    c->Pen()->SetColor(clWhite);
    c->Pen()->SetMode(pmXor);
    for (int pass = 0; pass < 2; ++pass) {
        c->MoveTo(0, 2);
        c->LineTo(6, 2);
        if (pass == 0) {
            EXPECT_EQ(Marked(*b), RectPixels(0, 2, 6, 3));
        }
    }
    EXPECT_TRUE(Marked(*b).empty());
}

TEST(CanvasLine, WidePensAreCentredOnTheLine) {
    auto b = White(12, 9);
    TCanvas* c = b->Canvas();
    c->Pen()->SetColor(clBlack);
    c->Pen()->SetWidth(3);
    c->MoveTo(3, 4);
    c->LineTo(8, 4);
    for (int x = 3; x <= 8; ++x)
        for (int y = 3; y <= 5; ++y) EXPECT_NE(c->Pixel(x, y), clWhite) << x << "," << y;
    EXPECT_EQ(c->Pixel(5, 2), clWhite);
    EXPECT_EQ(c->Pixel(5, 6), clWhite);
    EXPECT_EQ(c->Pixel(0, 4), clWhite);
    EXPECT_EQ(c->Pixel(11, 4), clWhite);
}

TEST(CanvasLine, DottedPenLeavesGapsTransparentUnderAClearBrush) {
    auto b = White(12, 1);
    TCanvas* c = b->Canvas();
    c->Pen()->SetStyle(psDot);
    c->Brush()->SetStyle(bsClear);
    c->MoveTo(0, 0);
    c->LineTo(12, 0);
    EXPECT_EQ(Picture(*b), "###...###...\n");
}

TEST(CanvasHatch, DiagonalsRunTheWayTheirNamesSay) {
    // bsFDiagonal is '\' (top-left to bottom-right), bsBDiagonal is '/'.
    struct Case {
        TBrushStyle style;
        const char* rows;
    } cases[] = {
        {bsFDiagonal, "#.......\n.#......\n..#.....\n...#....\n....#...\n.....#..\n......#.\n.......#\n"},
        {bsBDiagonal, ".......#\n......#.\n.....#..\n....#...\n...#....\n..#.....\n.#......\n#.......\n"},
        {bsHorizontal, "........\n........\n........\n########\n........\n........\n........\n........\n"},
        {bsVertical, "....#...\n....#...\n....#...\n....#...\n....#...\n....#...\n....#...\n....#...\n"},
        {bsCross, "....#...\n....#...\n....#...\n########\n....#...\n....#...\n....#...\n....#...\n"},
        {bsDiagCross, "#......#\n.#....#.\n..#..#..\n...##...\n...##...\n..#..#..\n.#....#.\n#......#\n"},
    };
    for (const auto& k : cases) {
        auto b = White(8, 8);
        b->Canvas()->Brush()->SetColor(clBlack);
        b->Canvas()->Brush()->SetStyle(k.style);
        b->Canvas()->FillRect(Rect(0, 0, 8, 8));
        EXPECT_EQ(Picture(*b), k.rows) << "style " << k.style;
    }
}

TEST(CanvasHatch, PatternIsAlignedToTheBitmapAndTransparent) {
    auto whole = White(16, 16);
    whole->Canvas()->Brush()->SetColor(clBlack);
    whole->Canvas()->Brush()->SetStyle(bsDiagCross);
    whole->Canvas()->FillRect(Rect(0, 0, 16, 16));
    auto part = White(16, 16);
    part->Canvas()->Brush()->SetColor(clRed);
    part->Canvas()->FillRect(Rect(0, 0, 16, 16));
    part->Canvas()->Brush()->SetColor(clBlack);
    part->Canvas()->Brush()->SetStyle(bsDiagCross);
    part->Canvas()->FillRect(Rect(3, 5, 14, 15));
    for (int y = 5; y < 15; ++y)
        for (int x = 3; x < 14; ++x) {
            bool hatched = whole->Canvas()->Pixel(x, y) == clBlack;
            EXPECT_EQ(part->Canvas()->Pixel(x, y), hatched ? clBlack : clRed) << x << "," << y;
        }
}

TEST(CanvasClip, IntersectExcludeAndReset) {
    auto b = White(10, 10);
    TCanvas* c = b->Canvas();
    EXPECT_EQ(c->ClipRect(), Rect(0, 0, 10, 10));
    auto clipToRing = [&] {
        c->IntersectClipRect(Rect(2, 2, 8, 8));
        c->ExcludeClipRect(Rect(4, 4, 6, 6));
    };
    clipToRing();
    EXPECT_EQ(c->ClipRect(), Rect(2, 2, 8, 8));
    c->Brush()->SetColor(clBlack);
    c->FillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(c->Pixel(5, 5), -1);   // outside the clip region, as GetPixel
    EXPECT_EQ(c->Pixel(0, 0), -1);
    EXPECT_EQ(c->Pixel(2, 2), clBlack);
    c->ResetClip();
    EXPECT_EQ(c->ClipRect(), Rect(0, 0, 10, 10));
    PixelSet want = RectPixels(2, 2, 8, 8);
    for (auto p : RectPixels(4, 4, 6, 6)) want.erase(p);
    EXPECT_EQ(Marked(*b), want);

    // Lines and single pixels obey the clip as well.
    c->Brush()->SetColor(clWhite);
    c->FillRect(Rect(0, 0, 10, 10));
    clipToRing();
    c->Pen()->SetColor(clRed);
    c->MoveTo(0, 5);
    c->LineTo(10, 5);
    c->SetPixel(0, 0, clRed);
    c->ResetClip();
    EXPECT_EQ(Marked(*b), (PixelSet{{2, 5}, {3, 5}, {6, 5}, {7, 5}}));
}

TEST(CanvasClip, DisjointIntersectionsDrawNothing) {
    auto b = White(10, 10);
    TCanvas* c = b->Canvas();
    c->IntersectClipRect(Rect(0, 0, 3, 3));
    c->IntersectClipRect(Rect(5, 5, 9, 9));
    EXPECT_TRUE(c->ClipRect().IsEmpty());
    c->Brush()->SetColor(clBlack);
    c->FillRect(Rect(0, 0, 10, 10));
    c->Ellipse(0, 0, 10, 10);
    c->ResetClip();
    EXPECT_TRUE(Marked(*b).empty());
}

TEST(CanvasShape, EllipseStaysInsideItsBox) {
    auto b = White(20, 16);
    TCanvas* c = b->Canvas();
    c->Pen()->SetColor(clBlack);
    c->Brush()->SetColor(clBlue);
    c->Ellipse(2, 3, 17, 13);
    for (auto [x, y] : Marked(*b)) {
        EXPECT_GE(x, 2);
        EXPECT_LT(x, 17);
        EXPECT_GE(y, 3);
        EXPECT_LT(y, 13);
    }
    EXPECT_EQ(c->Pixel(9, 8), clBlue);     // centre: brush
    EXPECT_EQ(c->Pixel(2, 8), clBlack);    // leftmost column: pen
    EXPECT_EQ(c->Pixel(16, 8), clBlack);   // rightmost column x2 - 1: pen
    EXPECT_EQ(c->Pixel(9, 3), clBlack);
    EXPECT_EQ(c->Pixel(9, 12), clBlack);
    EXPECT_EQ(c->Pixel(2, 3), clWhite);    // corners of the box stay out
}

TEST(CanvasShape, PolygonFillsLikeGdi) {
    auto b = White(10, 10);
    TCanvas* c = b->Canvas();
    c->Pen()->SetStyle(psClear);
    c->Brush()->SetColor(clBlack);
    c->Polygon({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
    EXPECT_EQ(Marked(*b), RectPixels(2, 2, 6, 6));
    auto o = White(10, 10);
    o->Canvas()->Pen()->SetColor(clRed);
    o->Canvas()->Brush()->SetColor(clBlue);
    o->Canvas()->Polygon({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
    EXPECT_EQ(Marked(*o), RectPixels(2, 2, 7, 7));   // the outline reaches the vertices
    EXPECT_EQ(o->Canvas()->Pixel(6, 6), clRed);
    EXPECT_EQ(o->Canvas()->Pixel(4, 4), clBlue);
}

TEST(CanvasCopy, DrawStretchDrawAndCopyRect) {
    TBitmap src;
    src.SetSize(2, 2);
    src.Canvas()->SetPixel(0, 0, clRed);
    src.Canvas()->SetPixel(1, 0, clLime);
    src.Canvas()->SetPixel(0, 1, clBlue);
    src.Canvas()->SetPixel(1, 1, clYellow);

    auto d = White(6, 6);
    d->Canvas()->Draw(3, 4, &src);
    EXPECT_EQ(d->Canvas()->Pixel(3, 4), clRed);
    EXPECT_EQ(d->Canvas()->Pixel(4, 5), clYellow);
    EXPECT_EQ(d->Canvas()->Pixel(2, 4), clWhite);
    d->Canvas()->Draw(5, 5, &src);   // clipped at the right and bottom
    EXPECT_EQ(d->Canvas()->Pixel(5, 5), clRed);

    auto s = White(6, 6);
    s->Canvas()->StretchDraw(Rect(1, 1, 5, 5), &src);
    const TColor want[4][4] = {{clRed, clRed, clLime, clLime}, {clRed, clRed, clLime, clLime},
                               {clBlue, clBlue, clYellow, clYellow}, {clBlue, clBlue, clYellow, clYellow}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(s->Canvas()->Pixel(x + 1, y + 1), want[y][x]);

    auto r = White(4, 4);
    r->Canvas()->CopyRect(Rect(0, 0, 1, 2), src.Canvas(), Rect(1, 0, 2, 2));
    EXPECT_EQ(r->Canvas()->Pixel(0, 0), clLime);
    EXPECT_EQ(r->Canvas()->Pixel(0, 1), clYellow);
    EXPECT_EQ(r->Canvas()->Pixel(1, 0), clWhite);

    // A copy within one bitmap reads the source before it writes.
    TBitmap row;
    row.SetSize(4, 1);
    for (int x = 0; x < 4; ++x) row.Canvas()->SetPixel(x, 0, RGBColor(x, 0, 0));
    row.Canvas()->CopyRect(Rect(1, 0, 4, 1), row.Canvas(), Rect(0, 0, 3, 1));
    for (int x = 1; x < 4; ++x) EXPECT_EQ(row.Canvas()->Pixel(x, 0), RGBColor(x - 1, 0, 0));
}

TEST(CanvasCopy, TrueColourOntoOneBitTakesTheNearest) {
    TBitmap src;
    src.SetSize(2, 1);
    src.Canvas()->SetPixel(0, 0, clYellow);
    src.Canvas()->SetPixel(1, 0, clNavy);
    auto d = White(2, 1, pf1bit);
    d->Canvas()->Brush()->SetColor(clBlack);
    d->Canvas()->FillRect(Rect(0, 0, 2, 1));
    d->Canvas()->Draw(0, 0, &src);
    EXPECT_EQ(d->Canvas()->Pixel(0, 0), clWhite);
    EXPECT_EQ(d->Canvas()->Pixel(1, 0), clBlack);
}

TEST(CanvasText, IndexedTargetsRefuseText) {
    auto b = White(8, 8, pf8bit);
    EXPECT_THROW(b->Canvas()->TextOut(0, 0, "x"), EInvalidOperation);
}

namespace {

// The dark pixels' bounding box and each of its rows' dark counts.
struct Ink {
    int top = INT_MAX, bottom = -1, left = INT_MAX, right = -1;
    std::vector<int> perRow;
};

Ink InkOf(TBitmap& b) {
    Ink k;
    k.perRow.assign(size_t(b.Height()), 0);
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            TColor c = b.Canvas()->Pixel(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128) {
                k.top = std::min(k.top, y);
                k.bottom = std::max(k.bottom, y);
                k.left = std::min(k.left, x);
                k.right = std::max(k.right, x);
                ++k.perRow[size_t(y)];
            }
        }
    return k;
}

}  // namespace

TEST(CanvasText, TextLandsUprightAtItsTopLeft) {
    for (TPixelFormat pf : {pf24bit, pf1bit, pf32bit}) {
        SCOPED_TRACE(pf);
        auto b = White(60, 50, pf);
        TCanvas* c = b->Canvas();
        c->Font()->SetHeight(-30);
        c->Font()->SetColor(clBlack);
        c->Brush()->SetStyle(bsClear);
        c->TextOut(10, 8, "T");
        Ink k = InkOf(*b);
        ASSERT_GT(k.bottom, k.top);
        EXPECT_GE(k.top, 8);
        EXPECT_GE(k.left, 10);
        // The bar of the T is at the top: the top ink rows are much wider than the bottom ones.
        EXPECT_GT(k.perRow[size_t(k.top)], 3 * k.perRow[size_t(k.bottom)]);
        TSize ext = c->TextExtent("T");
        EXPECT_LE(k.right, 10 + ext.cx);
        EXPECT_LE(k.bottom, 8 + ext.cy);
        EXPECT_EQ(c->PenPos(), Point(10 + ext.cx, 8));
    }
}

TEST(CanvasText, SolidBrushPaintsTheCellAndTextRectClips) {
    auto b = White(80, 40);
    TCanvas* c = b->Canvas();
    c->Font()->SetHeight(-20);
    c->Brush()->SetColor(clLime);
    c->TextOut(5, 5, "Hi");
    TSize ext = c->TextExtent("Hi");
    ASSERT_GT(ext.cx, 0);
    ASSERT_GT(ext.cy, 0);
    EXPECT_EQ(c->Pixel(5, 5), clLime);
    EXPECT_EQ(c->Pixel(5 + ext.cx - 1, 5 + ext.cy - 1), clLime);
    EXPECT_EQ(c->Pixel(5 + ext.cx, 5), clWhite);
    EXPECT_EQ(c->Pixel(4, 5), clWhite);

    auto t = White(80, 40);
    t->Canvas()->Font()->SetHeight(-30);
    t->Canvas()->Brush()->SetStyle(bsClear);
    t->Canvas()->TextRect(Rect(0, 0, 80, 12), 2, 2, "HHH");
    Ink k = InkOf(*t);
    ASSERT_GE(k.bottom, 0);
    EXPECT_LT(k.bottom, 12);
    EXPECT_GT(c->TextWidth("WWW"), c->TextWidth("W"));
}

TEST(CanvasText, WiderFontsAndStylesMeasureLarger) {
    TBitmap b;
    b.SetSize(1, 1);
    TCanvas* c = b.Canvas();
    c->Font()->SetHeight(-12);
    TSize small = c->TextExtent("Glimmer");
    c->Font()->SetHeight(-24);
    TSize big = c->TextExtent("Glimmer");
    EXPECT_GT(big.cx, small.cx);
    EXPECT_GT(big.cy, small.cy);
    EXPECT_EQ(c->TextExtent("").cx, 0);
}
