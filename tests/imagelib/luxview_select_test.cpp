// The image view's mouse tools, driven by mouse and key events sent to the view's window:
// the tool exclusions, click zoom, drag scrolling and auto-scroll, every selection tool
// with its keys, grips, moving and resizing, the double-click close of a polygon, the mask
// each tool leaves, and the outline's animation on the view's surface.
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <cmath>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "LuxView.h"
#include "lxdefs.h"

namespace {

// A mask as rows of '#' (set) and '.' (clear).
using Map = std::vector<std::string>;

Map MaskMap(const TLXMask& m) {
    Map rows(size_t(m.Height), std::string(size_t(m.Width), '.'));
    for (int y = 0; y < m.Height; ++y)
        for (int x = 0; x < m.Width; ++x)
            if (m.IsPointSet(x, y)) rows[size_t(y)][size_t(x)] = '#';
    return rows;
}

// The set runs of a map, row by row ("y:x1-x2 ..."): short enough to read in a failure.
std::string Runs(const Map& m) {
    std::string out;
    for (size_t y = 0; y < m.size(); ++y)
        for (size_t x = 0; x < m[y].size(); ++x) {
            if (m[y][x] != '#' || (x > 0 && m[y][x - 1] == '#')) continue;
            size_t e = x;
            while (e + 1 < m[y].size() && m[y][e + 1] == '#') ++e;
            out += std::to_string(y) + ":" + std::to_string(x) + "-" + std::to_string(e) + " ";
        }
    return out;
}

// What the mask's polygon filler makes of Points on a W x H mask.
Map FilledMap(int W, int H, const std::vector<TPoint>& Points) {
    TLXMask m;
    m.AllocBits(W, H, 1);
    m.FillPolygons(1, Points.data(), int(Points.size()));
    return MaskMap(m);
}

// A W x H map with the inclusive rectangle set.
Map RectMap(int W, int H, int X1, int Y1, int X2, int Y2) {
    Map rows(size_t(H), std::string(size_t(W), '.'));
    for (int y = Y1; y <= Y2; ++y)
        for (int x = X1; x <= X2; ++x) rows[size_t(y)][size_t(x)] = '#';
    return rows;
}

// The polygon of a rectangle selection covering X1..X2 x Y1..Y2.
std::vector<TPoint> RectPoints(int X1, int Y1, int X2, int Y2) {
    return {{X1, Y1}, {X2 + 1, Y1}, {X2 + 1, Y2 + 1}, {X1, Y2 + 1}};
}

void Fill(TBitmap* b, int W, int H, uint8_t Blue, uint8_t Green, uint8_t Red) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(W, H);
    for (int y = 0; y < H; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < W; ++x) {
            row[3 * x] = Blue;
            row[3 * x + 1] = Green;
            row[3 * x + 2] = Red;
        }
    }
}

class SelectTest : public ::testing::Test {
protected:
    // A borderless view of W x H showing a grey W0 x H0 picture at zoom 100.
    TLuxView* MakeView(int W, int H, int BW, int BH) {
        view_ = std::make_unique<TLuxView>(nullptr);
        view_->SetBorderStyle(bsNone);
        view_->SetParentWindow(&host_);
        view_->SetBounds(0, 0, W, H);
        Fill(view_->GetBitmap(), BW, BH, 128, 128, 128);
        view_->Update();
        view_->Repaint();
        return view_.get();
    }

    void Send(QEvent::Type Type, QPoint P, Qt::MouseButton Button, Qt::MouseButtons Held,
              Qt::KeyboardModifiers Keys) {
        QWidget* w = view_->ClientWidget();
        QMouseEvent e(Type, QPointF(P), w->mapToGlobal(QPointF(P)), Button, Held, Keys);
        QApplication::sendEvent(w, &e);
    }
    void Press(QPoint P, Qt::KeyboardModifiers Keys = {}, Qt::MouseButton B = Qt::LeftButton) {
        Send(QEvent::MouseButtonPress, P, B, B, Keys);
    }
    void Move(QPoint P, Qt::KeyboardModifiers Keys = {}, Qt::MouseButtons Held = Qt::LeftButton) {
        Send(QEvent::MouseMove, P, Qt::NoButton, Held, Keys);
    }
    void Release(QPoint P, Qt::KeyboardModifiers Keys = {}, Qt::MouseButton B = Qt::LeftButton) {
        Send(QEvent::MouseButtonRelease, P, B, Qt::NoButton, Keys);
    }
    void Click(QPoint P, Qt::KeyboardModifiers Keys = {}, Qt::MouseButton B = Qt::LeftButton) {
        Press(P, Keys, B);
        Release(P, Keys, B);
    }
    // What the window system sends for a double click: press, release, double click, release.
    void DoubleClick(QPoint P) {
        Click(P);
        Send(QEvent::MouseButtonDblClick, P, Qt::LeftButton, Qt::LeftButton, {});
        Release(P);
    }
    void Drag(std::vector<QPoint> Path, Qt::KeyboardModifiers Keys = {}) {
        Press(Path.front(), Keys);
        for (size_t i = 1; i < Path.size(); ++i) Move(Path[i], Keys);
        Release(Path.back(), Keys);
    }
    void Key(bool Down, int QtKey, Qt::KeyboardModifiers Keys) {
        QKeyEvent e(Down ? QEvent::KeyPress : QEvent::KeyRelease, QtKey, Keys);
        QApplication::sendEvent(view_->ClientWidget(), &e);
    }
    void Tick() { view_->ViewTimer()->OnTimer(nullptr); }

    std::string Mask() const { return Runs(MaskMap(*view_->SelectionMask())); }
    int BW() const { return view_->GetBitmap()->Width(); }
    int BH() const { return view_->GetBitmap()->Height(); }
    uint32_t SurfaceAt(int X, int Y) {
        view_->Surface()->FlushCanvas();
        return reinterpret_cast<const uint32_t*>(view_->Surface()->ScanLine(Y))[X] & 0xFFFFFF;
    }

    QWidget host_;
    std::unique_ptr<TLuxView> view_;
};

// Records the view's selection and zoom events.
struct Events : TObject {
    int changes = 0, changing = 0, inSel = 0, viewChanges = 0;
    std::deque<int> grips;
    double zoomTo = 0;   // 0: leave the proposed zoom
    void Change(TObject*) { ++changes; }
    void Changing(TObject*) { ++changing; }
    void InSel(TObject*) { ++inSel; }
    void Grip(TObject*, int G) { grips.push_back(G); }
    void View(TObject*, int) { ++viewChanges; }
    void Zoom(TObject*, double& Z) {
        if (zoomTo > 0) Z = zoomTo;
    }
    void Attach(TLuxView* V) {
        V->OnSelectionChange = MakeMethod(this, &Events::Change);
        V->OnSelectionChanging = MakeMethod(this, &Events::Changing);
        V->OnMouseInSel = MakeMethod(this, &Events::InSel);
        V->OnMouseInResizingGrip = MakeMethod(this, &Events::Grip);
        V->OnViewChange = MakeMethod(this, &Events::View);
        V->OnZoomIn = MakeMethod(this, &Events::Zoom);
        V->OnZoomOut = MakeMethod(this, &Events::Zoom);
    }
};

// ---- Tools ----

TEST_F(SelectTest, MouseInteractExclusionTable) {
    struct Row {
        TLXMouseInteract before;
        TLXMouseInteractItems added;
        TLXMouseInteract kept;
    };
    const TLXMouseInteract Zoom = MI(miZoom), Right = MI(miScrollRight);
    const Row rows[] = {
        {Zoom | MI(miSelect) | Right, miScroll, Zoom | MI(miScroll) | Right},
        {Zoom | MI(miScroll), miSelect, Zoom | MI(miSelect)},
        {Zoom | MI(miSelect) | Right, miSelectPolygon, MI(miSelectPolygon) | Right},
        {Zoom | MI(miSelect), miSelectCircle, Zoom | MI(miSelectCircle)},
        {Zoom | MI(miSelect), miSelectLasso, Zoom | MI(miSelectLasso)},
        {Zoom | MI(miSelect), miSelectZoom, Zoom | MI(miSelectZoom)},
        {MI(miSelectPolygon) | Right, miZoom, Zoom | Right},
        {MI(miSelectCircle), miZoom, Zoom | MI(miSelectCircle)},
        {Zoom | MI(miSelect), miSelectMagicWand, MI(miSelectMagicWand)},
    };
    TLuxView* v = MakeView(100, 100, 50, 50);
    for (const Row& r : rows) {
        v->SetMouseInteract(0);
        v->SetMouseInteract(r.before);
        ASSERT_EQ(v->MouseInteract(), r.before);
        v->SetMouseInteract(TLXMouseInteract(r.before | MI(r.added)));
        EXPECT_EQ(v->MouseInteract(), r.kept) << "adding " << r.added;
    }
    // Several added at once: the first in the table's order decides.
    v->SetMouseInteract(0);
    v->SetMouseInteract(0x1FF);
    EXPECT_EQ(v->MouseInteract(), Zoom | MI(miScroll) | Right);
}

TEST_F(SelectTest, ClickZoomSteps) {
    struct Row {
        double zoom;
        Qt::MouseButton button;
        double handlerZoom;   // what OnZoomIn / OnZoomOut answers; 0 leaves it
        double expected;
    };
    const Row rows[] = {
        {30, Qt::LeftButton, 0, 33},   {1, Qt::LeftButton, 0, 2},      {75, Qt::LeftButton, 0, 100},
        {100, Qt::LeftButton, 0, 200}, {250, Qt::LeftButton, 0, 350},  {150, Qt::RightButton, 0, 100},
        {100, Qt::RightButton, 0, 75}, {250, Qt::RightButton, 0, 150}, {33, Qt::RightButton, 0, 25},
        {2, Qt::RightButton, 0, 2},    {1, Qt::RightButton, 0, 2},     {100, Qt::LeftButton, 150, 150},
        {100, Qt::RightButton, 100, 100},
    };
    for (const Row& r : rows) {
        TLuxView* v = MakeView(200, 200, 400, 400);
        v->SetMouseInteract(MI(miZoom));
        v->SetZoom(r.zoom);
        Events ev;
        ev.zoomTo = r.handlerZoom;
        ev.Attach(v);
        Click({40, 60}, {}, r.button);
        EXPECT_DOUBLE_EQ(v->Zoom(), r.expected) << r.zoom << " button " << r.button;
        if (r.expected == r.zoom) {
            EXPECT_EQ(ev.viewChanges, 0) << "no zoom, no ZoomAt";
        }
    }
    // A zoom in brings the clicked point to the centre: bitmap (40, 60) at zoom 200.
    TLuxView* v = MakeView(200, 200, 400, 400);
    v->SetMouseInteract(MI(miZoom));
    Click({40, 60});
    EXPECT_EQ(v->ViewX(), 0);         // 80 - 100, clamped
    EXPECT_EQ(v->ViewY(), 120 - 100);
    Click({150, 150});   // bitmap (75, 85) at 200 → (225, 255) at 300, minus half the area
    EXPECT_DOUBLE_EQ(v->Zoom(), 300);
    EXPECT_EQ(v->ViewX(), 225 - 100);
    EXPECT_EQ(v->ViewY(), 255 - 100);
}

TEST_F(SelectTest, DragScrollingWithEitherButton) {
    struct Row {
        double zoom;
        Qt::MouseButton button;
        TLXMouseInteract tools;
        bool scrolls;
    };
    const Row rows[] = {
        {100, Qt::LeftButton, MI(miScroll), true},
        {250, Qt::LeftButton, MI(miScroll), true},
        {50, Qt::LeftButton, MI(miScroll), true},
        {100, Qt::RightButton, MI(miScrollRight), true},
        {250, Qt::RightButton, MI(miSelect) | MI(miScrollRight), true},
        {100, Qt::RightButton, MI(miScroll), false},   // the right button needs miScrollRight
        {100, Qt::LeftButton, MI(miScrollRight), false},
    };
    for (const Row& r : rows) {
        TLuxView* v = MakeView(200, 200, 1000, 800);
        v->SetMouseInteract(r.tools);
        v->SetZoom(r.zoom);
        v->SetViewXY(100, 100);
        Press({150, 150}, {}, r.button);
        if (r.button == Qt::RightButton) {
            EXPECT_EQ(v->MouseCapture(), r.scrolls);
        }
        Move({120, 110}, {}, r.button);
        EXPECT_EQ(v->ViewX(), r.scrolls ? 130 : 100) << r.zoom;
        EXPECT_EQ(v->ViewY(), r.scrolls ? 140 : 100);
        Move({-5000, 160}, {}, r.button);   // far outside: stops at the edge
        int mx, my;
        v->GetMaxViewXY(mx, my);
        EXPECT_EQ(v->ViewX(), r.scrolls ? mx : 100);
        Release({160, 170}, {}, r.button);
        EXPECT_EQ(v->ViewX(), r.scrolls ? 90 : 100);
        EXPECT_EQ(v->ViewY(), r.scrolls ? 80 : 100);
        EXPECT_FALSE(v->MouseCapture());
        EXPECT_EQ(v->Interaction(), TLXInteraction::Idle);
    }
}

// ---- Rectangles ----

TEST_F(SelectTest, RectangleShapeModesForEveryKeyCombination) {
    const auto S = Qt::ShiftModifier, A = Qt::AltModifier, C = Qt::ControlModifier;
    struct Row {
        Qt::KeyboardModifiers keys;
        QPoint from, to;
        int landscape[4], portrait[4];   // inclusive x1, y1, x2, y2 on 200 x 100 and 100 x 200
    };
    // From (10, 10) to (40, 15): the width rules, the height follows as Round(ratio × 30).
    const Row rows[] = {
        {{}, {10, 10}, {40, 15}, {10, 10, 40, 15}, {10, 10, 40, 15}},
        {S, {10, 10}, {40, 15}, {10, 10, 40, 25}, {10, 10, 40, 70}},
        {A, {10, 10}, {40, 15}, {10, 10, 40, 30}, {10, 10, 40, 55}},
        {C, {10, 10}, {40, 15}, {10, 10, 40, 32}, {10, 10, 40, 50}},
        {S | A, {10, 10}, {40, 15}, {10, 10, 40, 55}, {10, 10, 40, 30}},
        {S | C, {10, 10}, {40, 15}, {10, 10, 40, 50}, {10, 10, 40, 32}},
        {A | C, {10, 10}, {40, 15}, {10, 10, 40, 40}, {10, 10, 40, 40}},
        {S | A | C, {10, 10}, {40, 15}, {10, 10, 40, 55}, {10, 10, 40, 30}},
        // Taller than wide: the height rules, the width follows as Round(30 / ratio).
        {A, {10, 10}, {15, 40}, {10, 10, 55, 40}, {10, 10, 30, 40}},
        // Up and to the left, and up and to the right: the rectangle follows the pointer.
        {A, {60, 60}, {30, 55}, {30, 40, 60, 60}, {30, 15, 60, 60}},
        {A, {60, 60}, {90, 55}, {60, 40, 90, 60}, {60, 15, 90, 60}},
    };
    for (bool portrait : {false, true}) {
        for (const Row& r : rows) {
            TLuxView* v = MakeView(250, 250, portrait ? 100 : 200, portrait ? 200 : 100);
            v->SetMouseInteract(MI(miSelect));
            Drag({r.from, r.to}, r.keys);
            const int* e = portrait ? r.portrait : r.landscape;
            EXPECT_EQ(Mask(), Runs(RectMap(BW(), BH(), e[0], e[1], e[2], e[3])))
                << (portrait ? "portrait" : "landscape") << " keys " << r.keys.toInt() << " to "
                << r.to.x() << "," << r.to.y();
        }
    }
}

TEST_F(SelectTest, RectanglesInClientAndBitmapCoordinates) {
    // At zoom 200 the mouse draws in client pixels, whatever SelectionBase says.
    TLuxView* v = MakeView(200, 200, 80, 60);
    v->SetZoom(200);
    v->SelectionBase = lxsbBitmap;
    v->SetMouseInteract(MI(miSelect));
    Drag({{20, 20}, {81, 51}});
    EXPECT_EQ(Mask(), Runs(RectMap(80, 60, 10, 10, 40, 25)));
    EXPECT_EQ(v->SelectionBase, lxsbBitmap);
    // SelectArea takes bitmap pixels here; Add keeps the first rectangle beside a break marker.
    v->SelectArea(50, 30, 59, 39, true);
    Map both = RectMap(80, 60, 10, 10, 40, 25);
    for (int y = 30; y <= 39; ++y)
        for (int x = 50; x <= 59; ++x) both[size_t(y)][size_t(x)] = '#';
    EXPECT_EQ(Mask(), Runs(both));
    const std::vector<TPoint> want = {{10, 10}, {41, 10}, {41, 26}, {10, 26}, {1048575, 1048575},
                                      {50, 30}, {60, 30}, {60, 40}, {50, 40}};
    EXPECT_EQ(v->SelectionPolygon().Points, want);
    // In client pixels SelectArea converts.
    v->SelectionBase = lxsbClientArea;
    v->SelectArea(0, 0, 20, 20);
    EXPECT_EQ(Mask(), Runs(RectMap(80, 60, 0, 0, 10, 10)));
}

TEST_F(SelectTest, ClicksThatClearAndZoomAreaToTheLeftEdge) {
    TLuxView* v = MakeView(100, 100, 200, 100);
    Events ev;
    ev.Attach(v);
    v->SetMouseInteract(MI(miSelect));
    Drag({{10, 10}, {40, 30}});
    EXPECT_TRUE(v->SelectionExists());
    EXPECT_EQ(ev.changes, 1);
    EXPECT_GT(ev.changing, 0);
    Click({80, 80});   // outside the selection, no movement
    EXPECT_FALSE(v->SelectionExists());
    EXPECT_TRUE(v->SelectionMask()->IsEmpty());
    EXPECT_TRUE(v->SelectionPolygon().Points.empty());

    // A zoom-area box touching column 0 is zoomed to as well.
    v->SetMouseInteract(MI(miSelectZoom));
    Drag({{0, 0}, {49, 24}});
    // Points 0..50 x 0..25: w = 51, h = 26 in a 100 x 100 control.
    EXPECT_DOUBLE_EQ(v->Zoom(), std::min(100 / 0.26, 100 / 0.51));
    EXPECT_FALSE(v->SelectionExists());
    EXPECT_EQ(v->ViewX(), 0);
}

// ---- Ellipses ----

TEST_F(SelectTest, EllipsePointCounts) {
    struct Row {
        QPoint to;
        bool alt;
        size_t points;
    };
    // Around (100, 100): n = Trunc(min(rx, ry) × 2π) div 4, at least 3.
    const Row rows[] = {
        {{101, 101}, false, 3},  {{110, 120}, false, 15}, {{120, 110}, false, 15}, {{100, 130}, false, 3},
        {{130, 130}, false, 47}, {{110, 120}, true, 31},  {{100, 130}, true, 47},
    };
    for (const Row& r : rows) {
        TLuxView* v = MakeView(250, 250, 200, 200);
        v->SetMouseInteract(MI(miSelectCircle));
        Press({100, 100});
        Move(r.to, r.alt ? Qt::AltModifier : Qt::KeyboardModifiers());
        EXPECT_EQ(v->SelectionPolygon().Points.size(), r.points) << r.to.x() << "," << r.to.y();
        Release(r.to);
    }
}

TEST_F(SelectTest, EllipseMaskAndShiftAddsASecondOne) {
    TLuxView* v = MakeView(120, 120, 100, 100);
    v->SetMouseInteract(MI(miSelectCircle));
    auto ellipse = [](int cx, int cy, int rx, int ry) {
        const int n = std::max(int(std::trunc(std::min(rx, ry) * 6.283185307179586)) / 4, 3);
        std::vector<TPoint> p;
        for (int k = 0; k < n; ++k) {
            const double a = 6.283185307179586 * k / n;
            p.push_back({int(std::trunc(std::cos(a) * rx + cx)), int(std::trunc(std::sin(a) * ry + cy))});
        }
        return p;
    };
    Drag({{30, 30}, {45, 40}});
    std::vector<TPoint> first = ellipse(30, 30, 15, 10);
    EXPECT_EQ(v->SelectionPolygon().Points, first);
    EXPECT_EQ(Mask(), Runs(FilledMap(100, 100, first)));
    // With Shift the first stays and a second follows a break marker.
    Drag({{70, 70}, {90, 85}}, Qt::ShiftModifier);
    std::vector<TPoint> both = first;
    both.push_back({1048575, 1048575});
    for (const TPoint& p : ellipse(70, 70, 20, 15)) both.push_back(p);
    EXPECT_EQ(v->SelectionPolygon().Points, both);
    EXPECT_EQ(Mask(), Runs(FilledMap(100, 100, both)));
}

// ---- Polygons and lassos ----

TEST_F(SelectTest, PolygonClosedByDoubleClickWithABreakMarker) {
    TLuxView* v = MakeView(120, 120, 100, 100);
    Events ev;
    ev.Attach(v);
    v->SetMouseInteract(MI(miSelectPolygon));
    Click({10, 10});
    Click({60, 15});
    Click({40, 50});
    EXPECT_EQ(v->Interaction(), TLXInteraction::DrawingPolygon);
    EXPECT_EQ(v->SelectionPolygon().Points.size(), 3u);
    // The double click's first press adds (30, 40); the double click takes it away again and
    // its second press adds nothing.
    DoubleClick({30, 40});
    const std::vector<TPoint> tri = {{10, 10}, {60, 15}, {40, 50}};
    EXPECT_EQ(v->SelectionPolygon().Points, tri);
    EXPECT_EQ(v->Interaction(), TLXInteraction::Idle);
    EXPECT_EQ(Mask(), Runs(FilledMap(100, 100, tri)));
    EXPECT_EQ(ev.changes, 1);

    // Shift starts a second polygon in the same selection.
    Click({70, 70}, Qt::ShiftModifier);
    Click({95, 70});
    Click({95, 95});
    DoubleClick({95, 96});
    std::vector<TPoint> both = tri;
    both.insert(both.end(), {{1048575, 1048575}, {70, 70}, {95, 70}, {95, 95}});
    EXPECT_EQ(v->SelectionPolygon().Points, both);
    EXPECT_EQ(Mask(), Runs(FilledMap(100, 100, both)));

    // A click inside moves the selection instead of starting a polygon.
    Drag({{40, 20}, {45, 23}});
    EXPECT_EQ(v->SelectionPolygon().Points[0], (TPoint{15, 13}));
    EXPECT_EQ(ev.changes, 3);

    // A new polygon without Shift replaces it; a change of tool closes it with all its points.
    Click({5, 80});
    Click({30, 80});
    Click({30, 99});
    EXPECT_TRUE(v->SelectionMask()->IsEmpty());
    v->SetMouseInteract(MI(miSelect));
    const std::vector<TPoint> third = {{5, 80}, {30, 80}, {30, 99}};
    EXPECT_EQ(v->SelectionPolygon().Points, third);
    EXPECT_EQ(Mask(), Runs(FilledMap(100, 100, third)));
    EXPECT_EQ(v->Interaction(), TLXInteraction::Idle);
}

TEST_F(SelectTest, PolygonAltSnapsToAxesAndDiagonals) {
    TLuxView* v = MakeView(120, 120, 100, 100);
    v->SetMouseInteract(MI(miSelectPolygon));
    Click({20, 20});
    Click({60, 24}, Qt::AltModifier);   // nearly horizontal: y snaps to 20
    Click({90, 46}, Qt::AltModifier);   // 30 x 26: the diagonal, (90, 50)
    const std::vector<TPoint> want = {{20, 20}, {60, 20}, {90, 50}};
    EXPECT_EQ(v->SelectionPolygon().Points, want);
}

TEST_F(SelectTest, LassoFollowsTheDragAndAClickClears) {
    TLuxView* v = MakeView(120, 120, 100, 100);
    v->SetMouseInteract(MI(miSelectLasso));
    Drag({{10, 10}, {60, 10}, {60, 10}, {60, 50}, {10, 50}});
    const std::vector<TPoint> want = {{10, 10}, {60, 10}, {60, 50}, {10, 50}};
    EXPECT_EQ(v->SelectionPolygon().Points, want);
    EXPECT_EQ(Mask(), Runs(RectMap(100, 100, 10, 10, 59, 49)));
    Click({80, 80});
    EXPECT_FALSE(v->SelectionExists());
    EXPECT_TRUE(v->SelectionMask()->IsEmpty());
}

// ---- Magic wand ----

TEST_F(SelectTest, MagicWandSelectsTheRegionOfItsColour) {
    // A red L within tolerance 15 (one pixel 10 off), a red block apart, white around.
    const std::vector<std::string> map = {
        "............", ".LL.........", ".Ll.....BB..", ".LLLLL..BB..",
        ".LLLLL......", "............",
    };
    TLuxView* v = MakeView(50, 50, 12, 6);
    TBitmap* b = v->GetBitmap();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x) {
            uint8_t* p = b->ScanLine(y) + 3 * x;
            const char c = map[size_t(y)][size_t(x)];
            p[0] = p[1] = c == '.' ? 255 : c == 'l' ? 10 : 0;
            p[2] = c == '.' ? 255 : 240;
        }
    auto region = [&](const std::string& Letters) {
        Map r = map;
        for (auto& row : r)
            for (char& c : row) c = Letters.find(c) != std::string::npos ? '#' : '.';
        return r;
    };
    Events ev;
    ev.Attach(v);
    v->SetMouseInteract(MI(miSelectMagicWand));
    Click({3, 4});
    EXPECT_EQ(Mask(), Runs(region("Ll")));
    EXPECT_EQ(ev.changes, 1);
    EXPECT_EQ(Screen->Cursor(), crDefault);   // the hourglass is gone again
    Click({8, 3}, Qt::ShiftModifier);
    EXPECT_EQ(Mask(), Runs(region("LlB")));
    EXPECT_EQ(std::count_if(v->SelectionPolygon().Points.begin(), v->SelectionPolygon().Points.end(),
                            TLXSelectionPolygon::IsBreak),
              1);
    // White: the region around both replaces the selection; its outline has no holes.
    Click({11, 0});
    EXPECT_EQ(Mask(), Runs(region(".LlB")));
}

// ---- Grips, moving, resizing ----

TEST_F(SelectTest, GripHitTestsAndCursors) {
    TLuxView* v = MakeView(200, 200, 200, 200);
    Events ev;
    ev.Attach(v);
    v->SetMouseInteract(MI(miSelect));
    Drag({{50, 50}, {149, 99}});   // corners at (50, 50) and (150, 100)
    struct Row {
        QPoint at;
        Qt::KeyboardModifiers keys;
        int grip;
        TCursor cursor;
    };
    const Row rows[] = {
        {{50, 50}, {}, 0, 1786},   {{150, 50}, {}, 1, 1788},   {{150, 100}, {}, 2, 1786},
        {{50, 100}, {}, 3, 1788},  {{45, 45}, {}, 0, 1786},    {{155, 105}, {}, 2, 1786},
        {{51, 75}, {}, 4, 1789},   {{148, 75}, {}, 5, 1789},   {{100, 52}, {}, 6, 1787},
        {{56, 50}, {}, 6, 1787},   {{100, 98}, {}, 7, 1787},   {{53, 75}, {}, -1, 1790},
        {{100, 75}, {}, -1, 1790}, {{180, 180}, {}, -1, 1785}, {{180, 180}, Qt::ShiftModifier, -1, 1791},
        {{44, 75}, {}, -1, 1785},
    };
    for (const Row& r : rows) {
        ev.grips.clear();
        Move(r.at, r.keys, Qt::NoButton);
        ASSERT_EQ(ev.grips.size(), 1u);
        EXPECT_EQ(ev.grips.front(), r.grip) << r.at.x() << "," << r.at.y();
        EXPECT_EQ(v->ShownCursor(), r.cursor) << r.at.x() << "," << r.at.y();
    }
    // The mouse over selected pixels reports it, elsewhere not.
    const std::pair<QPoint, int> overSel[] = {{{100, 75}, 1}, {{51, 51}, 1}, {{148, 98}, 1},
                                              {{180, 180}, 0}, {{44, 75}, 0}, {{100, 120}, 0}};
    for (const auto& [at, fired] : overSel) {
        ev.inSel = 0;
        Move(at, {}, Qt::NoButton);
        EXPECT_EQ(ev.inSel, fired) << at.x() << "," << at.y();
    }
    // Without lxsoSizeable there are no grips; without lxsoMoveable no inside.
    v->SetSelectionOptions(SO(lxsoAnimated));
    ev.grips.clear();
    Move({50, 50}, {}, Qt::NoButton);
    Move({100, 75}, {}, Qt::NoButton);
    EXPECT_EQ(ev.grips, (std::deque<int>{-1, -1}));
    EXPECT_EQ(v->ShownCursor(), 1785);
}

TEST_F(SelectTest, ResizingByGripsAndMovingTheSelection) {
    struct Row {
        QPoint from, to;
        Qt::KeyboardModifiers keys;
        int rect[4];   // inclusive result
    };
    // The selection covers 50..149 x 50..99 of a 300 x 200 bitmap.
    const Row rows[] = {
        {{150, 100}, {170, 120}, {}, {50, 50, 169, 119}},                     // bottom-right corner
        {{50, 50}, {40, 60}, {}, {40, 60, 149, 99}},                          // top-left corner
        {{50, 50}, {200, 150}, {}, {149, 99, 199, 149}},                      // dragged across
        {{150, 75}, {180, 10}, {}, {50, 50, 179, 99}},                        // right side: x only
        {{100, 100}, {10, 130}, {}, {50, 50, 149, 129}},                      // bottom side: y only
        {{150, 100}, {170, 120}, Qt::AltModifier | Qt::ShiftModifier, {50, 50, 169, 169}},   // square
        {{150, 100}, {200, 120}, Qt::ShiftModifier, {50, 50, 199, 149}},      // 3:2 like the bitmap
        {{150, 75}, {170, 75}, Qt::ControlModifier, {50, 50, 169, 139}},      // side: 4:3, bottom follows
    };
    for (const Row& r : rows) {
        TLuxView* v = MakeView(300, 250, 300, 200);
        Events ev;
        ev.Attach(v);
        v->SetMouseInteract(MI(miSelect));
        v->SelectArea(50, 50, 149, 99);
        ASSERT_EQ(Mask(), Runs(RectMap(300, 200, 50, 50, 149, 99)));
        Drag({r.from, r.to}, r.keys);
        EXPECT_EQ(Mask(), Runs(RectMap(300, 200, r.rect[0], r.rect[1], r.rect[2], r.rect[3])))
            << r.from.x() << "," << r.from.y() << " to " << r.to.x() << "," << r.to.y();
        EXPECT_EQ(ev.changes, 1);
    }
    // Moving: the inside dragged by (30, -20); the mask stops at the bitmap's edge.
    TLuxView* v = MakeView(300, 250, 300, 200);
    v->SetMouseInteract(MI(miSelect));
    v->SelectArea(50, 50, 149, 99);
    Drag({{100, 75}, {110, 70}, {130, 55}});
    EXPECT_EQ(Mask(), Runs(RectMap(300, 200, 80, 30, 179, 79)));
    EXPECT_EQ(v->SelectionPolygon().Points[0], (TPoint{80, 30}));
    Drag({{100, 50}, {100, 0}, {400, 0}});
    EXPECT_EQ(Mask(), Runs(RectMap(300, 200, 200, 0, 299, 49)));
}

// ---- Auto-scroll and lost capture ----

TEST_F(SelectTest, AutoScrollFollowsThePointerOutsideOnTheTimer) {
    TLuxView* v = MakeView(100, 100, 400, 400);
    v->SetMouseInteract(MI(miSelect));
    TTimer* t = v->AutoScrollTimer();
    Press({50, 50});
    Move({80, 70});
    EXPECT_FALSE(t->Enabled());
    Move({130, 70});   // 30 beyond the right edge: one step at once
    EXPECT_EQ(v->ViewX(), 30);
    EXPECT_TRUE(t->Enabled());
    EXPECT_EQ(v->SelectionPolygon().Points, RectPoints(50, 50, 130, 70));
    t->OnTimer(nullptr);   // the pointer stays there: the next step
    EXPECT_EQ(v->ViewX(), 60);
    EXPECT_EQ(v->SelectionPolygon().Points, RectPoints(50, 50, 160, 70));
    for (int i = 0; i < 20; ++i) t->OnTimer(nullptr);   // up to the end of the picture
    EXPECT_EQ(v->ViewX(), 300);
    EXPECT_FALSE(t->Enabled());
    Move({130, 70});
    Release({130, 70});
    EXPECT_FALSE(t->Enabled());
    EXPECT_EQ(Mask(), Runs(RectMap(400, 400, 50, 50, 399, 70)));

    // A lost capture ends the drag and stops the scrolling.
    v->SetViewXY(0, 0);
    Press({20, 20});
    Move({50, -40});
    EXPECT_FALSE(t->Enabled());   // already at the top
    Move({-20, 60});
    EXPECT_FALSE(t->Enabled());
    v->SetViewXY(100, 100);
    Move({-20, 60});
    EXPECT_EQ(v->ViewX(), 80);
    EXPECT_TRUE(t->Enabled());
    host_.show();
    host_.hide();   // the window goes away with the button still down
    EXPECT_FALSE(t->Enabled());
    EXPECT_FALSE(v->MouseCapture());
    EXPECT_EQ(v->Interaction(), TLXInteraction::Idle);
    EXPECT_FALSE(v->SelectionMask()->IsEmpty());   // what was drawn stays selected
}

// ---- Keys ----

TEST_F(SelectTest, ShiftSwapsTheCursorVariants) {
    TLuxView* v = MakeView(100, 100, 50, 50);
    EXPECT_EQ(v->ShownCursor(), 1785);
    Key(true, Qt::Key_Shift, Qt::NoModifier);   // the key's own event: Shift counts as held
    EXPECT_EQ(v->ShownCursor(), 1791);
    Key(false, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(v->ShownCursor(), 1785);
    v->SetCursor(1793);
    Key(true, Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(v->ShownCursor(), 1794);
    Key(false, Qt::Key_A, Qt::NoModifier);
    EXPECT_EQ(v->ShownCursor(), 1793);
    v->SetCursor(1782);   // other cursors have no variant
    Key(true, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(v->ShownCursor(), 1782);
    EXPECT_EQ(v->Cursor(), 1782);
}

// ---- The outline on the surface ----

TEST_F(SelectTest, PolygonDashesMoveOnePixelPerTick) {
    TLuxView* v = MakeView(100, 100, 100, 100);
    v->SetSelectionColor1(clRed);
    v->SetSelectionColor2(clBlue);
    // Two points: no area, so the polygon itself is outlined, there and back along row 20.
    v->AddSelectionPoint(10, 20);
    v->AddSelectionPoint(60, 20);
    ASSERT_TRUE(v->SelectionMask()->IsEmpty());
    auto row = [&] {
        std::vector<uint32_t> r;
        for (int x = 0; x <= 61; ++x) r.push_back(SurfaceAt(x, 20));
        return r;
    };
    Tick();
    const std::vector<uint32_t> a = row();
    Tick();
    const std::vector<uint32_t> b = row();
    const uint32_t red = 0xFF0000, blue = 0x0000FF;
    // Runs of three of each colour.
    for (int x = 11; x + 6 <= 60; ++x) {
        ASSERT_TRUE(a[size_t(x)] == red || a[size_t(x)] == blue) << x;
        EXPECT_EQ(a[size_t(x)], a[size_t(x + 6)]) << x;
        EXPECT_NE(a[size_t(x)], a[size_t(x + 3)]) << x;
    }
    // The next tick shows the same pattern one pixel further on.
    for (int x = 12; x <= 60; ++x) EXPECT_EQ(b[size_t(x)], a[size_t(x - 1)]) << x;
    EXPECT_NE(a, b);
    EXPECT_EQ(a[61], SurfaceAt(61, 21));   // the picture beyond the end point
}

TEST_F(SelectTest, MaskOutlineStripesMoveWithTheTimerAndRestAfterScrolling) {
    TLuxView* v = MakeView(100, 100, 200, 200);
    v->SetSelectionColor1(clRed);
    v->SetSelectionColor2(clBlue);
    v->SelectArea(20, 20, 59, 49);
    const uint32_t grey = SurfaceAt(90, 90);
    // The top border between the corner grip (15..25) and the middle one (35..45).
    auto top = [&] {
        std::vector<uint32_t> r;
        for (int x = 26; x <= 34; ++x) r.push_back(SurfaceAt(x, 20));
        return r;
    };
    Tick();
    const std::vector<uint32_t> a = top();
    Tick();
    const std::vector<uint32_t> b = top();
    // Stripes of four, one pixel further per tick.
    for (size_t i = 0; i + 1 < a.size(); ++i) EXPECT_EQ(b[i], a[i + 1]) << i;
    for (size_t i = 0; i + 4 < a.size(); ++i) EXPECT_NE(a[i], a[i + 4]) << i;
    EXPECT_EQ(SurfaceAt(40, 35), grey);   // inside: the picture
    // Grips at the corners and the middles of the edges: white squares with a black frame.
    EXPECT_EQ(SurfaceAt(60, 50), 0xFFFFFFu);
    EXPECT_EQ(SurfaceAt(55, 45), 0u);
    EXPECT_EQ(SurfaceAt(40, 20), 0xFFFFFFu);

    // A scroll leaves the border out for two ticks, then it comes back moved.
    EXPECT_NE(SurfaceAt(20, 27), grey);   // the left border
    v->SetViewXY(10, 0);
    EXPECT_EQ(SurfaceAt(20, 20), grey);
    Tick();
    EXPECT_EQ(SurfaceAt(20, 20), grey);
    Tick();
    EXPECT_NE(SurfaceAt(20, 20), grey);
    EXPECT_NE(SurfaceAt(10, 27), grey);   // the left border, 10 pixels further left
    EXPECT_EQ(SurfaceAt(20, 27), grey);
}

TEST_F(SelectTest, RubberLineAndFilledSelection) {
    TLuxView* v = MakeView(100, 100, 100, 100);
    v->SetMouseInteract(MI(miSelectPolygon));
    const uint32_t grey = SurfaceAt(50, 50);
    Click({10, 50});
    Move({60, 50}, {}, Qt::NoButton);
    // The rubber line inverts what it crosses, up to but not including the pointer.
    EXPECT_EQ(SurfaceAt(40, 50), grey ^ 0xFFFFFFu);
    EXPECT_EQ(SurfaceAt(60, 50), grey);
    Move({30, 80}, {}, Qt::NoButton);
    EXPECT_EQ(SurfaceAt(40, 50), grey);   // the old line is gone
    DoubleClick({30, 80});
    EXPECT_TRUE(v->SelectionPolygon().Points.empty());   // one point is no polygon

    // lxsoFilled shows the selection inverted in the rendered picture.
    v->SetSelectionOptions(TLXSelectionOptions(v->SelectionOptions() | SO(lxsoFilled)));
    v->SelectArea(10, 10, 19, 19);
    TBitmap t;
    t.SetPixelFormat(pf24bit);
    t.SetSize(100, 100);
    v->PaintToBitmap(&t, nullptr, nullptr);
    t.FlushCanvas();
    EXPECT_EQ(t.ScanLine(15)[45], 255 - 128);
    EXPECT_EQ(t.ScanLine(25)[75], 128);
}

// ---- Hostile cases ----

TEST_F(SelectTest, ToolsOnEmptyTinyAndMonochromePicturesAreHarmless) {
    struct Row {
        int bw, bh;
        bool mono;
        double zoom;
    };
    const Row rows[] = {{0, 0, false, 100}, {1, 1, false, 100}, {3, 2, false, 3000},
                        {40, 30, true, 100}, {5000, 3, false, 1}};
    const TLXMouseInteract tools[] = {MI(miSelect),        MI(miSelectPolygon),   MI(miSelectCircle),
                                      MI(miSelectLasso),   MI(miSelectMagicWand), MI(miSelectZoom),
                                      MI(miZoom),          MI(miScroll)};
    for (const Row& r : rows) {
        for (TLXMouseInteract tool : tools) {
            TLuxView* v = MakeView(120, 90, r.bw, r.bh);
            if (r.mono) {
                v->GetBitmap()->SetPixelFormat(pf1bit);
                v->Update();
            }
            v->SetZoom(r.zoom);
            v->SetMouseInteract(tool);
            Drag({{-30, -30}, {60, 40}, {500, 400}, {5, 80}}, Qt::ShiftModifier | Qt::AltModifier);
            DoubleClick({50, 50});
            Click({200, 200}, {}, Qt::RightButton);
            v->SetMouseInteract(0);
            for (int i = 0; i < 3; ++i) Tick();
            v->AutoScrollTimer()->OnTimer(nullptr);
            const TLXSelectionPolygon& s = v->SelectionPolygon();
            for (const TPoint& p : s.Points) {
                if (TLXSelectionPolygon::IsBreak(p)) continue;
                EXPECT_TRUE(p.X >= 0 && p.X <= BW() && p.Y >= 0 && p.Y <= BH()) << p.X << "," << p.Y;
            }
            EXPECT_EQ(v->Interaction(), TLXInteraction::Idle);
            EXPECT_FALSE(v->AutoScrollTimer()->Enabled());
        }
    }
}

}  // namespace
