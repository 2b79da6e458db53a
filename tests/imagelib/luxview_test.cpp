// The image view: geometry, zoom, scrolling and fitting tables, the paint lock, the renderer
// and the background styles, and hostile sizes.
#include <QWidget>

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Controls.h"
#include "Forms.h"
#include "Graphics.h"
#include "LuxProc.h"
#include "LuxView.h"
#include "lxutils.h"

namespace {

// Counts the geometry updates (the paint lock's repaints go through Update).
class TSpyView : public TLuxView {
public:
    using TLuxView::TLuxView;
    using TLuxView::MouseDown;
    using TLuxView::MouseMove;
    using TLuxView::MouseUp;
    void Update() override {
        ++updates;
        TLuxView::Update();
    }
    int updates = 0;
};

struct BGR {
    int b, g, r;
    bool operator==(const BGR&) const = default;
};
std::ostream& operator<<(std::ostream& os, const BGR& c) {
    return os << "(b" << c.b << " g" << c.g << " r" << c.r << ")";
}
BGR PixelAt(TBitmap* bmp, int x, int y) {
    bmp->FlushCanvas();
    const uint8_t* p = bmp->ScanLine(y) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}
BGR Rgb(TColor c) {
    c = ColorToRGB(c);
    return {GetBValue(c), GetGValue(c), GetRValue(c)};
}

// A pf24bit picture whose pixels tell their position: B = x, G = y, R = tag.
void PositionCoded(TBitmap* bmp, int w, int h, int tag = 7) {
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = uint8_t(x);
            row[3 * x + 1] = uint8_t(y);
            row[3 * x + 2] = uint8_t(tag);
        }
    }
}

void FillBitmap(TBitmap* bmp, int w, int h, BGR c) {
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = uint8_t(c.b);
            row[3 * x + 1] = uint8_t(c.g);
            row[3 * x + 2] = uint8_t(c.r);
        }
    }
}

class LuxViewTest : public ::testing::Test {
protected:
    // A view of the given outer size in a host window, without border unless asked.
    TSpyView* MakeView(int w, int h, TBorderStyle border = bsNone) {
        view_ = std::make_unique<TSpyView>(nullptr);
        view_->SetBorderStyle(border);
        view_->SetParentWindow(&host_);
        view_->SetBounds(0, 0, w, h);
        return view_.get();
    }
    void SetPicture(int w, int h) {
        PositionCoded(view_->GetBitmap(), w, h);
        view_->Update();
    }
    QWidget host_;
    std::unique_ptr<TSpyView> view_;
};

// ---- Geometry ----

struct FitCase {
    const char* name;
    int bw, bh, cw, ch;
    TLXBackgroundStyle style;
    double zoom;
};

TEST_F(LuxViewTest, AutoFitTable) {
    const FitCase cases[] = {
        {"wide shrinks", 2000, 1000, 500, 500, lxbsSolid, 25},
        {"small grows", 10, 10, 500, 300, lxbsSolid, 3000},
        {"crop shadow keeps 5", 1000, 1000, 510, 510, lxbsCropShadow, 50},
        {"cropped keeps the edge", 1000, 1000, 504, 504, lxbsCropped, 50},
        {"never below 1 percent", 100000, 10, 50, 50, lxbsSolid, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpyView* v = MakeView(c.cw, c.ch);
        v->SetBackgroundStyle(c.style);
        v->AutoFit = true;
        SetPicture(c.bw, c.bh);
        EXPECT_DOUBLE_EQ(v->Zoom(), c.zoom);
    }
}

struct GeomCase {
    const char* name;
    int bw, bh, w, h;
    TBorderStyle border;
    TScrollStyle bars;
    double zoom;
    bool center;
    int extentX, extentY, maxX, maxY, offX, offY, visW, visH;
    bool hBar, vBar;
};

TEST_F(LuxViewTest, GeometryTable) {
    const GeomCase cases[] = {
        // Extents round half to even: 5 x 0.5 = 2.5 -> 2, 7 x 0.5 = 3.5 -> 4.
        {"extent rounding", 5, 7, 100, 100, bsNone, ssNone, 50, false, 2, 4, 0, 0, 0, 0, 2, 4, false, false},
        {"centred small picture", 100, 100, 300, 200, bsNone, ssNone, 100, true, 100, 100, 0, 0, 100, 50, 100, 100, false, false},
        {"odd margin halves down", 100, 100, 301, 203, bsNone, ssNone, 100, true, 100, 100, 0, 0, 100, 51, 100, 100, false, false},
        {"large picture, no bars", 1000, 800, 400, 300, bsNone, ssNone, 100, true, 1000, 800, 600, 500, 0, 0, 400, 300, false, false},
        {"both bars shrink the client", 1000, 1000, 400, 400, bsNone, ssBoth, 100, false, 1000, 1000, 616, 616, 0, 0, 384, 384, true, true},
        // Only the vertical bar is needed at first; it narrows the client, which then needs
        // the horizontal bar as well.
        {"one bar forces the other", 390, 410, 400, 400, bsNone, ssBoth, 100, false, 390, 410, 6, 26, 0, 0, 384, 384, true, true},
        {"only the asked bar", 1000, 1000, 400, 400, bsNone, ssVertical, 100, false, 1000, 1000, 616, 600, 0, 0, 384, 400, false, true},
        // The picture fits the outer size (border included): nothing scrolls, though 3
        // columns lie under the border.
        {"outer size rule", 403, 100, 404, 404, bsSingle, ssBoth, 100, false, 403, 100, 0, 0, 0, 0, 400, 100, false, false},
        {"empty bitmap", 0, 0, 200, 200, bsNone, ssBoth, 100, true, 0, 0, 0, 0, 100, 100, 0, 0, false, false},
        {"zoomed in", 100, 50, 250, 100, bsNone, ssNone, 400, false, 400, 200, 150, 100, 0, 0, 250, 100, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpyView* v = MakeView(c.w, c.h, c.border);
        v->SetCenter(c.center);
        v->SetScrollBars(c.bars);
        v->SetZoom(c.zoom);
        SetPicture(c.bw, c.bh);
        int mx, my;
        v->GetMaxViewXY(mx, my);
        EXPECT_EQ(v->ExtentX(), c.extentX);
        EXPECT_EQ(v->ExtentY(), c.extentY);
        EXPECT_EQ(mx, c.maxX);
        EXPECT_EQ(my, c.maxY);
        EXPECT_EQ(v->OffsetX(), c.offX);
        EXPECT_EQ(v->OffsetY(), c.offY);
        EXPECT_EQ(v->VisibleWidth(), c.visW);
        EXPECT_EQ(v->VisibleHeight(), c.visH);
        EXPECT_EQ(v->HorzBarShown(), c.hBar);
        EXPECT_EQ(v->VertBarShown(), c.vBar);
        EXPECT_EQ(v->ScrollBarVisible(SB_HORZ), c.hBar);
        EXPECT_EQ(v->ScrollBarVisible(SB_VERT), c.vBar);
    }
}

TEST_F(LuxViewTest, ScrollBarRangePageAndPosition) {
    TSpyView* v = MakeView(400, 400);
    v->SetScrollBars(ssBoth);
    SetPicture(1000, 1000);
    v->SetViewX(300);
    // Client 384, maximum 616: scale (384 + 616) / 65536, page Trunc(384 / scale).
    const double scale = 1000.0 / 65536;
    EXPECT_DOUBLE_EQ(v->HorzScrollScale(), scale);
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(v, SB_HORZ, &si));
    EXPECT_EQ(si.nMin, 0);
    EXPECT_EQ(si.nMax, 65535);
    EXPECT_EQ(si.nPage, unsigned(std::trunc(384 / scale)));
    EXPECT_EQ(si.nPos, int(std::trunc(300 / scale)));
    // The picture shrinks below the client: the bars go.
    SetPicture(300, 300);
    EXPECT_FALSE(v->ScrollBarVisible(SB_HORZ));
    EXPECT_FALSE(v->ScrollBarVisible(SB_VERT));
    EXPECT_EQ(v->ClientWidth(), 400);
}

TEST_F(LuxViewTest, ZoomKeepsTheCentre) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(1000, 1000);
    v->SetZoom(200);
    EXPECT_EQ(v->ViewX(), 200);
    EXPECT_EQ(v->ViewY(), 200);
    // Zoom in near the right edge: the centre column stays (clamped with the new maximum).
    v->SetZoom(100);
    v->SetViewX(600);
    v->SetZoom(108);
    // Centre column 800 -> 864; new x 864 - 200 = 664 (maximum at 108 % is 680).
    EXPECT_EQ(v->ViewX(), 664);
    // Zooming out clamps to the smaller maximum.
    v->SetZoom(50);
    EXPECT_EQ(v->ViewX(), 100);
    // Non-positive and unchanged zooms do nothing.
    v->SetZoom(0);
    v->SetZoom(-5);
    v->SetZoom(std::nan(""));
    v->SetZoom(INFINITY);
    EXPECT_DOUBLE_EQ(v->Zoom(), 50);
}

TEST_F(LuxViewTest, SetViewClamps) {
    TSpyView* v = MakeView(400, 300);
    SetPicture(1000, 500);
    std::vector<int> changes;
    struct Rec {
        std::vector<int>* log;
        void On(TObject*, int c) { log->push_back(c); }
    } rec{&changes};
    v->OnViewChange = MakeMethod(&rec, &Rec::On);
    v->SetViewX(5000);
    EXPECT_EQ(v->ViewX(), 600);
    v->SetViewY(-3);
    EXPECT_EQ(v->ViewY(), 0);
    v->SetViewXY(-10, 900);
    EXPECT_EQ(v->ViewX(), 0);
    EXPECT_EQ(v->ViewY(), 200);
    EXPECT_EQ(changes, (std::vector<int>{0, 0, 0}));
    // A new, smaller bitmap clamps the kept offsets.
    SetPicture(450, 350);
    EXPECT_EQ(v->ViewX(), 0);
    EXPECT_EQ(v->ViewY(), 50);
}

struct ScrollCase {
    const char* name;
    double zoom;
    int code, pos;
    int lineStep, pageStep;
    bool tracking;
    int start, expect;   // ViewX before / after
};

TEST_F(LuxViewTest, ScrollRequestTable) {
    const ScrollCase cases[] = {
        {"line at 400", 400, SB_LINEDOWN, 0, -1, -1, true, 100, 104},
        {"line up at 400", 400, SB_LINEUP, 0, -1, -1, true, 100, 96},
        {"line at 50 is one pixel", 50, SB_LINEDOWN, 0, -1, -1, true, 100, 101},
        {"line step", 400, SB_LINEDOWN, 0, 3, -1, true, 100, 112},
        {"page is the area", 400, SB_PAGEDOWN, 0, -1, -1, true, 100, 484},
        {"page up", 400, SB_PAGEUP, 0, -1, -1, true, 500, 116},
        {"page step", 400, SB_PAGEDOWN, 0, -1, 2, true, 100, 108},
        {"track without tracking", 400, SB_THUMBTRACK, 1000, -1, -1, false, 100, 100},
        {"track", 400, SB_THUMBTRACK, 1000, -1, -1, true, 100, -1},
        {"thumb position", 400, SB_THUMBPOSITION, 1000, -1, -1, false, 100, -1},
        {"top", 400, SB_TOP, 0, -1, -1, true, 100, 0},
        {"bottom", 400, SB_BOTTOM, 0, -1, -1, true, 100, -2},
        {"end of scroll", 400, SB_ENDSCROLL, 0, -1, -1, true, 100, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpyView* v = MakeView(400, 400);
        v->SetScrollBars(ssBoth);
        SetPicture(1000, 1000);
        v->SetZoom(c.zoom);
        v->SetViewX(c.start);
        ASSERT_EQ(v->ViewX(), c.start);
        v->HorzScrollBarParams()->LineStep = c.lineStep;
        v->HorzScrollBarParams()->PageStep = c.pageStep;
        v->HorzScrollBarParams()->Tracking = c.tracking;
        v->WMHScroll(c.code, c.pos);
        int mx, my;
        v->GetMaxViewXY(mx, my);
        int expect = c.expect;
        if (expect == -1) expect = int(std::trunc(c.pos * v->HorzScrollScale()));
        if (expect == -2) expect = mx;
        EXPECT_EQ(v->ViewX(), expect);
        // The toolkit's bar follows the offset.
        EXPECT_EQ(GetScrollPos(v, SB_HORZ), int(std::trunc(v->ViewX() / v->HorzScrollScale())));
    }
}

TEST_F(LuxViewTest, VerticalScrollUsesItsOwnParams) {
    TSpyView* v = MakeView(400, 400);
    v->SetScrollBars(ssBoth);
    SetPicture(1000, 1000);
    v->VertScrollBarParams()->LineStep = 10;
    v->WMVScroll(SB_LINEDOWN, 0);
    EXPECT_EQ(v->ViewY(), 10);
    EXPECT_EQ(v->ViewX(), 0);
}

TEST_F(LuxViewTest, WheelZoomsByPercent) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(1000, 1000);
    v->WMMouseWheel(0, 120, {});    // away from the user: out by 8 %
    EXPECT_DOUBLE_EQ(v->Zoom(), 92);
    v->WMMouseWheel(0, -120, {});   // towards: in by Round(92 x 8 / 100) = 7
    EXPECT_DOUBLE_EQ(v->Zoom(), 99);
    v->MouseWheelParams()->InvertDirection = true;
    v->WMMouseWheel(0, 120, {});
    EXPECT_DOUBLE_EQ(v->Zoom(), 107);
    v->MouseWheelParams()->InvertDirection = false;
    v->SetZoom(10);
    v->WMMouseWheel(0, 120, {});    // Round(0.8) = 1: at least one point
    EXPECT_DOUBLE_EQ(v->Zoom(), 9);
    v->MouseWheelParams()->Action = 0;
    v->WMMouseWheel(0, 120, {});
    EXPECT_DOUBLE_EQ(v->Zoom(), 9);
}

TEST_F(LuxViewTest, WheelScrolls) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(1000, 1000);
    v->MouseWheelParams()->Action = 1;
    v->MouseWheelParams()->Variation = 1;
    v->MouseWheelParams()->Value = 10;   // 10 % of the area height
    v->WMMouseWheel(0, -120, {});
    EXPECT_EQ(v->ViewY(), 40);
    v->MouseWheelParams()->Variation = 0;
    v->MouseWheelParams()->Value = 3;
    v->SetZoom(400);
    const int y = v->ViewY();
    v->WMMouseWheel(0, -120, {});
    EXPECT_EQ(v->ViewY(), y + 12);
}

TEST_F(LuxViewTest, ManyWheelNotchesDoNotOverflow) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(4000, 3000);
    for (int i = 0; i < 300; ++i) v->WMMouseWheel(0, -120, {});
    EXPECT_GT(v->ExtentX(), 0);
    EXPECT_GT(v->ExtentY(), 0);
    EXPECT_LE(std::nearbyint(4000 * v->Zoom() / 100), double(INT_MAX));
    int mx, my;
    v->GetMaxViewXY(mx, my);
    EXPECT_GE(mx, 0);
    v->WMHScroll(SB_BOTTOM, 0);
    EXPECT_EQ(v->ViewX(), mx);
    TBitmap target;
    target.SetSize(64, 64);
    v->PaintToBitmap(&target, nullptr, nullptr);
}

TEST_F(LuxViewTest, ZoomAtBringsThePointToTheCentre) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(1000, 1000);
    v->ZoomAt(300, 100, 200);   // bitmap point (300, 100)
    EXPECT_DOUBLE_EQ(v->Zoom(), 200);
    EXPECT_EQ(v->ViewX(), 600 - 200);
    EXPECT_EQ(v->ViewY(), 0);   // 200 - 200
    EXPECT_EQ(v->PaintLockCount(), 0);
}

TEST_F(LuxViewTest, DragScrollsWithTheMouse) {
    TSpyView* v = MakeView(400, 400);
    SetPicture(1000, 1000);
    v->SetMouseInteract(MI(miScroll) | MI(miScrollRight));
    EXPECT_EQ(v->MouseInteract(), MI(miScroll) | MI(miScrollRight));
    TSpyView* d = v;
    d->MouseDown(mbLeft, ssLeft, 200, 200);
    d->MouseMove(ssLeft, 150, 170);
    EXPECT_EQ(v->ViewX(), 50);
    EXPECT_EQ(v->ViewY(), 30);
    d->MouseUp(mbLeft, 0, 100, 100);
    EXPECT_EQ(v->ViewX(), 100);
    d->MouseMove(0, 0, 0);   // no button: nothing moves
    EXPECT_EQ(v->ViewX(), 100);
}

TEST_F(LuxViewTest, MouseInteractExclusions) {
    TSpyView* v = MakeView(100, 100);
    v->SetMouseInteract(MI(miZoom) | MI(miScroll));
    v->SetMouseInteract(MI(miZoom) | MI(miScroll) | MI(miSelect));
    EXPECT_EQ(v->MouseInteract(), MI(miZoom) | MI(miSelect));
    v->SetMouseInteract(v->MouseInteract() | MI(miSelectPolygon) | MI(miScrollRight));
    EXPECT_EQ(v->MouseInteract(), MI(miSelectPolygon) | MI(miScrollRight));
}

// ---- Paint lock ----

TEST_F(LuxViewTest, PaintLockAccounting) {
    TSpyView* v = MakeView(200, 200);
    SetPicture(50, 50);
    v->updates = 0;
    v->UnlockPaint();            // never below 0, no repaint
    v->UnlockPaintNoUpdate();
    EXPECT_EQ(v->PaintLockCount(), 0);
    EXPECT_EQ(v->updates, 0);
    v->LockPaint();
    v->LockPaint();
    v->UnlockPaint();            // 1: no repaint yet
    EXPECT_EQ(v->updates, 0);
    v->UnlockPaint();            // 0: one repaint
    EXPECT_EQ(v->updates, 1);
    v->LockPaint();
    v->UnlockPaintNoUpdate();
    EXPECT_EQ(v->updates, 1);
    EXPECT_EQ(v->PaintLockCount(), 0);
}

TEST_F(LuxViewTest, LockedPaintDrawsNothingButFiresOnPaint) {
    TSpyView* v = MakeView(60, 40);
    FillBitmap(v->GetBitmap(), 60, 40, {10, 20, 30});
    v->Update();
    int painted = 0;
    struct Rec {
        int* n;
        void On(TObject*) { ++*n; }
    } rec{&painted};
    v->OnPaint = MakeMethod(&rec, &Rec::On);
    // Mark the surface so we can see whether the view drew.
    TBitmap* s = v->Surface();
    ASSERT_EQ(s->Width(), 60);
    v->Canvas()->Brush()->SetColor(clLime);
    v->Canvas()->FillRect(Rect(0, 0, 60, 40));
    v->LockPaint();
    v->Paint();
    EXPECT_EQ(painted, 1);
    EXPECT_EQ(v->Canvas()->Pixel(5, 5), clLime);
    v->UnlockPaintNoUpdate();
    v->Paint();
    EXPECT_EQ(painted, 2);
    EXPECT_EQ(v->Canvas()->Pixel(5, 5), RGBColor(30, 20, 10));
}

// ---- Rendering ----

TEST_F(LuxViewTest, PaintToBitmapPlacesThePicture) {
    for (bool center : {false, true}) {
        SCOPED_TRACE(center ? "centred" : "top-left");
        TSpyView* v = MakeView(300, 200);
        v->SetBackground(clRed);
        v->SetCenter(center);
        SetPicture(100, 100);
        TBitmap t;
        t.SetSize(300, 200);
        v->PaintToBitmap(&t, nullptr, nullptr);
        const int ox = center ? 100 : 0, oy = center ? 50 : 0;
        EXPECT_EQ(PixelAt(&t, ox, oy), (BGR{0, 0, 7}));
        EXPECT_EQ(PixelAt(&t, ox + 99, oy + 99), (BGR{99, 99, 7}));
        EXPECT_EQ(PixelAt(&t, ox + 100, oy), Rgb(clRed));
        EXPECT_EQ(PixelAt(&t, ox, oy + 100), Rgb(clRed));
        if (center) {
            EXPECT_EQ(PixelAt(&t, 99, 60), Rgb(clRed));
        }
    }
}

TEST_F(LuxViewTest, ZoomedRenderSamplesNearestWithRoundedStart) {
    TSpyView* v = MakeView(250, 100);
    SetPicture(100, 50);
    v->SetZoom(400);
    v->SetViewXY(10, 0);
    v->UpdateSourceRect();
    EXPECT_EQ(v->SrcX(), 2);   // Round(10 x 100 / 400) = Round(2.5) = 2
    TBitmap t;
    t.SetSize(250, 100);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 0, 0), (BGR{2, 0, 7}));
    EXPECT_EQ(PixelAt(&t, 3, 3), (BGR{2, 0, 7}));
    EXPECT_EQ(PixelAt(&t, 4, 4), (BGR{3, 1, 7}));
    EXPECT_EQ(PixelAt(&t, 249, 99), (BGR{2 + 249 / 4, 24, 7}));
}

TEST_F(LuxViewTest, ZoomedOutRenderMatchesPerPixelSampling) {
    // 33 % of a position-coded picture; every target pixel must come from the source pixel
    // the fixed-point mapping names (rows repeat through the row shortcut).
    for (double zoom : {33.0, 250.0, 77.0}) {
        SCOPED_TRACE(zoom);
        TSpyView* v = MakeView(120, 90);
        SetPicture(200, 150);
        v->SetZoom(zoom);
        v->SetViewXY(7, 5);
        TBitmap t;
        t.SetSize(120, 90);
        v->PaintToBitmap(&t, nullptr, nullptr);
        v->UpdateSourceRect();
        const int64_t sx = int64_t(double(v->SrcWidth()) / v->DestWidth() * 16384);
        const int64_t sy = int64_t(double(v->SrcHeight()) / v->DestHeight() * 16384);
        const int w = std::min(v->DestWidth(), 120), h = std::min(v->DestHeight(), 90);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int ex = int(sx * x / 16384 + v->SrcX()), ey = int(sy * y / 16384 + v->SrcY());
                ASSERT_EQ(PixelAt(&t, x, y), (BGR{ex, ey, 7})) << x << "," << y;
            }
    }
}

TEST_F(LuxViewTest, AlphaBlendsWithTheFloorRule) {
    TSpyView* v = MakeView(4, 1);
    v->SetBackground(clWhite);
    FillBitmap(v->GetBitmap(), 4, 1, {0, 0, 0});
    v->Update();
    v->SetEnableAlphaChannel(true);
    TLXMask* a = v->GetAlphaMask();
    ASSERT_EQ(a->Width, 4);
    a->SetPixel(0, 0, 128);
    a->SetPixel(1, 0, 0);
    a->SetPixel(2, 0, 255);
    a->Full = false;
    TBitmap t;
    t.SetSize(4, 1);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 0, 0), (BGR{127, 127, 127}));   // 255 + floor(-255 x 128 / 256)
    EXPECT_EQ(PixelAt(&t, 1, 0), (BGR{255, 255, 255}));
    EXPECT_EQ(PixelAt(&t, 2, 0), (BGR{0, 0, 0}));         // 255 - floor(255 x 255 / 256) = 0
    // White over black at 255 stays one short of white.
    v->SetBackground(clBlack);
    FillBitmap(v->GetBitmap(), 4, 1, {255, 255, 255});
    v->Update();
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 2, 0), (BGR{254, 254, 254}));
}

TEST_F(LuxViewTest, MonochromeRendersBlackAndWhite) {
    TSpyView* v = MakeView(16, 2);
    TBitmap* b = v->GetBitmap();
    b->SetPixelFormat(pf1bit);
    b->SetSize(16, 2);
    b->ScanLine(0)[0] = 0xA0;   // pixels 0 and 2 set
    b->ScanLine(0)[1] = 0x00;
    b->ScanLine(1)[0] = 0xFF;
    b->ScanLine(1)[1] = 0xFF;
    v->Update();
    TBitmap t;
    t.SetSize(16, 2);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 0, 0), (BGR{255, 255, 255}));
    EXPECT_EQ(PixelAt(&t, 1, 0), (BGR{0, 0, 0}));
    EXPECT_EQ(PixelAt(&t, 2, 0), (BGR{255, 255, 255}));
    EXPECT_EQ(PixelAt(&t, 15, 1), (BGR{255, 255, 255}));
    // With alpha the result is grey from the red byte.
    v->SetEnableAlphaChannel(true);
    v->GetAlphaMask()->SetPixel(0, 0, 128);
    v->GetAlphaMask()->Full = false;
    v->SetBackground(clBlack);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 0, 0), (BGR{127, 127, 127}));
}

TEST_F(LuxViewTest, VeryWideMonochromeSourceAtOnePercent) {
    // The visible span exceeds 131071 columns: the fixed-point products need 64 bits.
    TSpyView* v = MakeView(1400, 2);
    TBitmap* b = v->GetBitmap();
    b->SetPixelFormat(pf1bit);
    b->SetSize(140000, 200);
    for (int y = 0; y < 200; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 139900; x < 140000; ++x) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    v->SetZoom(1);
    v->Update();
    ASSERT_EQ(v->ExtentX(), 1400);
    TBitmap t;
    t.SetSize(1400, 2);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 1399, 0), (BGR{255, 255, 255}));
    EXPECT_EQ(PixelAt(&t, 1398, 1), (BGR{0, 0, 0}));
}

TEST_F(LuxViewTest, TinyPlaceholderShowsOnlyBackground) {
    TSpyView* v = MakeView(10, 10);
    v->SetBackground(clBlue);
    FillBitmap(v->GetBitmap(), 1, 1, {1, 2, 3});
    v->Update();
    TBitmap t;
    t.SetSize(10, 10);
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 0, 0), Rgb(clBlue));
}

TEST_F(LuxViewTest, BackBufferIsShownOnTheSurface) {
    TSpyView* v = MakeView(64, 48, bsSingle);
    SetPicture(30, 20);
    v->SetBackground(clYellow);
    v->Paint();
    TBitmap* bb = v->BackBuffer();
    ASSERT_EQ(bb->Width(), v->DrawAreaWidth());
    EXPECT_EQ(v->DrawAreaWidth(), 60);   // the sunken border takes 2 each side
    EXPECT_EQ(PixelAt(bb, 29, 19), (BGR{29, 19, 7}));
    EXPECT_EQ(v->Canvas()->Pixel(29, 19), RGBColor(7, 19, 29));
    EXPECT_EQ(v->Canvas()->Pixel(40, 40), clYellow);
    EXPECT_FALSE(v->BackBufferDirty());
}

// A zoom step renders once: the step's own paint leaves the back buffer as a new render would,
// and the paint that shows it takes it without rendering again.
TEST_F(LuxViewTest, AZoomStepRendersTheBackBufferOnce) {
    TSpyView* v = MakeView(200, 150);
    SetPicture(400, 300);
    v->Paint();
    auto bytes = [](TBitmap* b) {
        b->FlushCanvas();
        return std::vector<uint8_t>(b->PixelBlock(), b->PixelBlock() + b->ImageSize());
    };
    for (const double z : {50.0, 75.0, 200.0, 300.0, 20.0}) {
        SCOPED_TRACE(z);
        v->SetZoom(z);
        EXPECT_FALSE(v->BackBufferDirty());
        const std::vector<uint8_t> kept = bytes(v->BackBuffer());
        v->Update();
        ASSERT_TRUE(v->BackBufferDirty());
        v->Paint();
        EXPECT_EQ(bytes(v->BackBuffer()), kept);
    }
}

TEST_F(LuxViewTest, FilteredPathTakesTheResampler) {
    // A filter delays while zooming, then the view renders through the filtered stretch.
    TSpyView* v = MakeView(100, 100);
    SetPicture(200, 200);
    v->SetZoomFilter(rfTriangle);
    v->SetZoom(50);
    EXPECT_EQ(v->FilterDelayCountdown(), 0);   // the old zoom was 100
    v->SetZoom(40);
    v->SetViewXY(0, 0);
    EXPECT_EQ(v->FilterDelayCountdown(), 2);
    TBitmap t;
    t.SetPixelFormat(pf24bit);
    t.SetSize(100, 100);
    v->PaintToCanvas(t.Canvas());   // unfiltered first: plain samples
    t.FlushCanvas();
    EXPECT_EQ(PixelAt(&t, 40, 40), (BGR{100, 100, 7}));
    v->ViewTimer()->OnTimer(nullptr);
    v->ViewTimer()->OnTimer(nullptr);
    EXPECT_EQ(v->FilterDelayCountdown(), 0);
    v->PaintToCanvas(t.Canvas());
    t.FlushCanvas();
    // The same as resampling the visible crop to the destination size.
    TBitmap crop, expect;
    v->UpdateSourceRect();
    CropBitmap(v->GetBitmap(), &crop, v->SrcX(), v->SrcY(), v->SrcX() + v->SrcWidth(),
               v->SrcY() + v->SrcHeight());
    expect.SetPixelFormat(pf24bit);
    expect.SetSize(v->DestWidth(), v->DestHeight());
    Resample24(&crop, &expect, rfTriangle);
    ASSERT_EQ(v->DestWidth(), 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) ASSERT_EQ(PixelAt(&t, x, y), PixelAt(&expect, x, y)) << x << "," << y;
    EXPECT_NE(PixelAt(&t, 40, 40), (BGR{100, 100, 7}));
    EXPECT_EQ(PixelAt(&t, 90, 90), Rgb(v->Background()));   // beyond the 80-pixel picture
}

// ---- Background styles ----

TEST_F(LuxViewTest, EveryBackgroundStyle) {
    const TColor col = RGBColor(200, 40, 10);
    const BGR c = Rgb(col), inv = {255 - c.b, 255 - c.g, 255 - c.r}, face = Rgb(clBtnFace);
    auto render = [&](TLXBackgroundStyle s, int w, int h, int pw = 0, int ph = 0) {
        TSpyView* v = MakeView(w, h);
        v->SetBackground(col);
        v->SetBackgroundStyle(s);
        v->SetCenter(true);
        if (pw) SetPicture(pw, ph);
        auto t = std::make_unique<TBitmap>();
        t->SetSize(w, h);
        v->PaintToBitmap(t.get(), nullptr, nullptr);
        t->FlushCanvas();
        return t;
    };
    {
        auto t = render(lxbsSolid, 40, 20);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x) ASSERT_EQ(PixelAt(t.get(), x, y), c);
    }
    // Hatches: lines of Color over a defined base.
    auto isCol = [&](TBitmap* t, int x, int y) {
        const BGR p = PixelAt(t, x, y);
        EXPECT_TRUE(p == c || p == face) << x << "," << y;
        return p == c;
    };
    {
        auto t = render(lxbsHorizontal, 40, 20);
        int lines = 0;
        for (int y = 0; y < 20; ++y) {
            const bool row = isCol(t.get(), 0, y);
            lines += row;
            for (int x = 1; x < 40; ++x) ASSERT_EQ(isCol(t.get(), x, y), row);
        }
        EXPECT_GE(lines, 2);
        EXPECT_LT(lines, 20);
    }
    {
        auto t = render(lxbsVertical, 40, 20);
        int lines = 0;
        for (int x = 0; x < 40; ++x) {
            const bool col0 = isCol(t.get(), x, 0);
            lines += col0;
            for (int y = 1; y < 20; ++y) ASSERT_EQ(isCol(t.get(), x, y), col0);
        }
        EXPECT_GE(lines, 4);
        EXPECT_LT(lines, 40);
    }
    for (auto [style, dx] : {std::pair{lxbsFDiagonal, 1}, std::pair{lxbsBDiagonal, -1}}) {
        SCOPED_TRACE(style);
        // Forward diagonals run from top-left to bottom-right, backward ones the other way.
        auto t = render(style, 40, 20);
        int set = 0;
        for (int y = 0; y + 1 < 20; ++y)
            for (int x = 1; x + 1 < 40; ++x)
                if (isCol(t.get(), x, y)) {
                    ++set;
                    ASSERT_TRUE(isCol(t.get(), x + dx, y + 1)) << x << "," << y;
                }
        EXPECT_GT(set, 20);
    }
    {
        auto t = render(lxbsCross, 40, 20);
        bool fullRow = false, fullCol = false;
        for (int y = 0; y < 20; ++y) {
            bool all = true;
            for (int x = 0; x < 40; ++x) all = all && isCol(t.get(), x, y);
            fullRow = fullRow || all;
        }
        for (int x = 0; x < 40; ++x) {
            bool all = true;
            for (int y = 0; y < 20; ++y) all = all && isCol(t.get(), x, y);
            fullCol = fullCol || all;
        }
        EXPECT_TRUE(fullRow);
        EXPECT_TRUE(fullCol);
    }
    {
        auto t = render(lxbsDiagCross, 40, 20);
        // Both diagonal directions, and every line pixel continues along one of them.
        int fwd = 0, back = 0;
        for (int y = 0; y + 1 < 20; ++y)
            for (int x = 1; x + 1 < 40; ++x)
                if (isCol(t.get(), x, y)) {
                    const bool f = isCol(t.get(), x + 1, y + 1), b = isCol(t.get(), x - 1, y + 1);
                    fwd += f;
                    back += b;
                    ASSERT_TRUE(f || b) << x << "," << y;
                }
        EXPECT_GT(fwd, 10);
        EXPECT_GT(back, 10);
    }
    {
        auto t = render(lxbsChessboard, 40, 20);
        EXPECT_EQ(PixelAt(t.get(), 0, 0), inv);
        EXPECT_EQ(PixelAt(t.get(), 15, 15), inv);
        EXPECT_EQ(PixelAt(t.get(), 16, 0), c);
        EXPECT_EQ(PixelAt(t.get(), 32, 0), inv);
        EXPECT_EQ(PixelAt(t.get(), 39, 15), inv);
        EXPECT_EQ(PixelAt(t.get(), 0, 16), c);
        EXPECT_EQ(PixelAt(t.get(), 16, 19), inv);
    }
    {
        auto t = render(lxbsDiagonals, 40, 20);
        EXPECT_EQ(PixelAt(t.get(), 0, 0), inv);
        EXPECT_EQ(PixelAt(t.get(), 20, 10), inv);
        EXPECT_EQ(PixelAt(t.get(), 10, 5), inv);
        EXPECT_EQ(PixelAt(t.get(), 10, 15), inv);   // the other diagonal
        EXPECT_EQ(PixelAt(t.get(), 20, 2), c);
    }
    {
        // A 10 x 10 picture centred in 40 x 40 covers 15..24; the sunken edge sits 2 outside.
        auto t = render(lxbsCropped, 40, 40, 10, 10);
        EXPECT_EQ(PixelAt(t.get(), 0, 0), face);
        EXPECT_EQ(PixelAt(t.get(), 13, 13), Rgb(clBtnShadow));
        EXPECT_EQ(PixelAt(t.get(), 14, 14), Rgb(cl3DDkShadow));
        EXPECT_EQ(PixelAt(t.get(), 26, 20), Rgb(clBtnHighlight));
        EXPECT_EQ(PixelAt(t.get(), 25, 20), Rgb(cl3DLight));
        EXPECT_EQ(PixelAt(t.get(), 15, 15), (BGR{0, 0, 7}));
        EXPECT_EQ(PixelAt(t.get(), 12, 12), face);
    }
    {
        auto t = render(lxbsCropShadow, 40, 40, 10, 10);
        EXPECT_EQ(PixelAt(t.get(), 0, 0), face);
        EXPECT_EQ(PixelAt(t.get(), 24, 24), (BGR{9, 9, 7}));
        // Grey shadow strips right of and below the picture.
        const BGR r = PixelAt(t.get(), 25, 22), b = PixelAt(t.get(), 22, 25);
        EXPECT_NE(r, face);
        EXPECT_NE(b, face);
        EXPECT_EQ(r.b, r.g);
        EXPECT_EQ(b.g, b.r);
        EXPECT_EQ(PixelAt(t.get(), 10, 10), face);
    }
}

TEST_F(LuxViewTest, BackgroundCoversTheUncoveredPartsOnly) {
    TSpyView* v = MakeView(50, 30);
    v->SetBackground(clGreen);
    SetPicture(20, 10);
    TBitmap t;
    t.SetSize(50, 30);
    // A clip rectangle (inclusive bounds) limits both the background and the rows drawn.
    FillBitmap(&t, 50, 30, {1, 1, 1});
    const TRect clip = Rect(0, 0, 9, 4);
    v->PaintToBitmap(&t, nullptr, &clip);
    EXPECT_EQ(PixelAt(&t, 9, 4), (BGR{9, 4, 7}));
    EXPECT_EQ(PixelAt(&t, 10, 4), (BGR{1, 1, 1}));
    EXPECT_EQ(PixelAt(&t, 9, 5), (BGR{1, 1, 1}));
    EXPECT_EQ(PixelAt(&t, 30, 20), (BGR{1, 1, 1}));
    v->PaintToBitmap(&t, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&t, 30, 20), Rgb(clGreen));
}

// ---- Hostile sizes ----

TEST_F(LuxViewTest, HostileSizesStayInBounds) {
    struct Case { int vw, vh, bw, bh; double zoom; };
    const Case cases[] = {
        {0, 0, 100, 100, 100}, {1, 1, 100, 100, 100}, {1, 1, 1, 1, 100},
        {200, 100, 100000, 1, 100}, {100, 200, 1, 100000, 100}, {200, 100, 100000, 1, 0.001},
        {200, 100, 1, 100000, 3000}, {300, 300, 3, 2, 1e7}, {5, 5, 0, 0, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.vw << "x" << c.vh << " " << c.bw << "x" << c.bh << " " << c.zoom);
        for (TLXBackgroundStyle s : {lxbsSolid, lxbsChessboard, lxbsCropShadow, lxbsDiagonals}) {
            TSpyView* v = MakeView(c.vw, c.vh);
            v->SetScrollBars(ssBoth);
            v->SetCenter(true);
            v->SetBackgroundStyle(s);
            SetPicture(c.bw, c.bh);
            v->SetZoom(c.zoom);
            v->SetViewXY(INT_MAX, INT_MAX);
            v->WMHScroll(SB_PAGEDOWN, 0);
            v->WMVScroll(SB_THUMBPOSITION, 65535);
            v->Paint();
            for (auto [tw, th] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{37, 3}}) {
                TBitmap t;
                t.SetSize(tw, th);
                v->PaintToBitmap(&t, nullptr, nullptr);
            }
            TBitmap t;
            t.SetSize(std::max(v->DrawAreaWidth(), 0), std::max(v->DrawAreaHeight(), 0));
            v->PaintToCanvas(t.Canvas());
            v->AutoFit = true;
            v->Update();
            v->Paint();
            v->PrepareTransition();
            v->RunTransition(lxttCrossDissolve, 100);
            v->AbortTransition();
            EXPECT_EQ(v->PaintLockCount(), 0);
        }
    }
}

TEST_F(LuxViewTest, AssignCopiesPictureAndSettings) {
    TSpyView* v = MakeView(100, 100);
    SetPicture(30, 20);
    v->SetBackground(clTeal);
    v->SetDpi(300, 150);
    TLuxView other(nullptr);
    other.Assign(v);
    EXPECT_EQ(other.GetBitmap()->Width(), 30);
    EXPECT_EQ(PixelAt(other.GetBitmap(), 29, 19), (BGR{29, 19, 7}));
    EXPECT_EQ(other.Background(), clTeal);
    EXPECT_EQ(other.DpiX(), 300);
    EXPECT_EQ(other.DpiY(), 150);
    // Another pixel format is drawn onto a 24-bit picture.
    TBitmap b32;
    b32.SetPixelFormat(pf32bit);
    b32.SetSize(4, 3);
    other.Assign(&b32);
    EXPECT_EQ(other.GetBitmap()->PixelFormat(), pf24bit);
    EXPECT_EQ(other.GetBitmap()->Width(), 4);
    // nil fills with the background.
    other.Assign(nullptr);
    EXPECT_EQ(PixelAt(other.GetBitmap(), 0, 0), Rgb(clTeal));
}

TEST_F(LuxViewTest, DefaultsAndDrawAreaWithoutParent) {
    TLuxView v(nullptr);
    EXPECT_EQ(v.Width(), 105);
    EXPECT_EQ(v.Height(), 105);
    EXPECT_EQ(v.Cursor(), 1785);
    EXPECT_DOUBLE_EQ(v.Zoom(), 100);
    EXPECT_EQ(v.ScrollBars(), ssNone);
    EXPECT_EQ(v.BackgroundStyle(), lxbsSolid);
    EXPECT_EQ(v.SelectionOptions(), SO(lxsoAnimated) | SO(lxsoSizeable) | SO(lxsoMoveable));
    EXPECT_EQ(v.TransitionDuration(), 1000);
    EXPECT_EQ(v.ViewTimer()->Interval(), 210u);
    EXPECT_FALSE(v.HasParentWindow());
    EXPECT_EQ(v.DrawAreaWidth(), 50);
    EXPECT_EQ(v.DrawAreaHeight(), 50);
    EXPECT_TRUE(v.GetAlphaMask() != nullptr);
    // The 18 view cursors are registered under 1778..1795.
    EXPECT_EQ(Screen->Cursors(1782), LoadCursorA(nullptr, "MANO"));
    EXPECT_EQ(Screen->Cursors(1785), LoadCursorA(nullptr, "CROCE3"));   // the default cursor
    EXPECT_EQ(Screen->Cursors(1778), LoadCursorA(nullptr, "ZOOMMENO"));
    EXPECT_EQ(Screen->Cursors(1795), LoadCursorA(nullptr, "CROCE2-"));
    EXPECT_NE(Screen->Cursors(1795), nullptr);
}

TEST_F(LuxViewTest, ResizeRefitsAndDestructionDuringATransitionIsClean) {
    TSpyView* v = MakeView(200, 100);
    v->AutoFit = true;
    SetPicture(400, 400);
    EXPECT_DOUBLE_EQ(v->Zoom(), 25);
    v->SetBounds(0, 0, 400, 300);   // the size message refits
    EXPECT_DOUBLE_EQ(v->Zoom(), 75);
    v->PrepareTransition();
    v->RunTransition(lxttCenterZoom1, 10000);
    ASSERT_TRUE(v->TransitionRunning());
    view_.reset();
}


// ---- Transitions through the view ----

class LuxViewTransitionTest : public LuxViewTest {
protected:
    void SetUp() override {
        SetTickCountSource([this] { return now_; });
    }
    void TearDown() override { SetTickCountSource({}); }
    uint32_t now_ = 1000;
};

TEST_F(LuxViewTransitionTest, ShowLoopSequenceHoldsOneEngineLock) {
    TSpyView* v = MakeView(60, 40);
    FillBitmap(v->GetBitmap(), 60, 40, {0, 0, 200});
    v->Update();
    v->PrepareTransition();
    TLXTransitionEffects* e = v->TransitionEffects();
    ASSERT_EQ(e->Width(), 60);
    EXPECT_EQ(PixelAt(e->FromBitmap(), 10, 10), (BGR{0, 0, 200}));
    v->LockPaint();
    FillBitmap(v->GetBitmap(), 60, 40, {0, 200, 0});
    v->Update();
    v->RunTransition(lxttCrossDissolve, 1000);
    EXPECT_EQ(v->TransitionDuration(), 1000);
    EXPECT_EQ(PixelAt(e->ToBitmap(), 10, 10), (BGR{0, 200, 0}));
    v->UnlockPaint();
    EXPECT_TRUE(v->TransitionRunning());
    EXPECT_EQ(v->PaintLockCount(), 1);
    // A second run without a prepare replaces the first lock instead of adding one.
    v->RunTransition(lxttCrossDissolve, 1000);
    EXPECT_EQ(v->PaintLockCount(), 1);
    // Frames go onto the surface; the view's own paint stays away while locked.
    e->Tick(nullptr);             // progress 0
    now_ += 500;
    e->Tick(nullptr);             // draws progress 0, measures 512
    e->Tick(nullptr);             // draws 512: half way
    EXPECT_EQ(v->Canvas()->Pixel(10, 10), RGBColor(100, 100, 0));
    v->Paint();
    EXPECT_EQ(v->Canvas()->Pixel(10, 10), RGBColor(100, 100, 0));
    now_ += 600;
    e->Tick(nullptr);             // past the duration: stop, the view repaints itself
    EXPECT_FALSE(v->TransitionRunning());
    EXPECT_EQ(v->PaintLockCount(), 0);
    v->Paint();
    TBitmap plain;
    plain.SetSize(60, 40);
    v->PaintToBitmap(&plain, nullptr, nullptr);
    EXPECT_EQ(PixelAt(&plain, 10, 10), (BGR{0, 200, 0}));
    EXPECT_EQ(v->Canvas()->Pixel(10, 10), RGBColor(0, 200, 0));
}

TEST_F(LuxViewTransitionTest, AbortAndDegenerateRunsLeaveNoLock) {
    TSpyView* v = MakeView(30, 20);
    SetPicture(30, 20);
    v->AbortTransition();                       // idle: nothing
    EXPECT_EQ(v->PaintLockCount(), 0);
    v->PrepareTransition();
    v->RunTransition(lxttLeftRight1, 500);
    EXPECT_EQ(v->PaintLockCount(), 1);
    v->RunTransition(lxttNone, 500);            // must not leave the first lock behind
    v->AbortTransition();
    EXPECT_FALSE(v->TransitionRunning());
    EXPECT_EQ(v->PaintLockCount(), 0);
    // A run after a finished transition without a new prepare does not start on stale sizes.
    v->RunTransition(lxttCrossDissolve, 500);
    v->AbortTransition();
    EXPECT_EQ(v->PaintLockCount(), 0);
    // An empty drawing area prepares and runs nothing.
    TSpyView* z = MakeView(0, 0);
    z->PrepareTransition();
    z->RunTransition(lxttCrossDissolve, 500);
    EXPECT_FALSE(z->TransitionRunning());
    EXPECT_EQ(z->PaintLockCount(), 0);
}

}  // namespace
