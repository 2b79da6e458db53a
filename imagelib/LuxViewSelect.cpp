// The image view's mouse tools: click zoom, drag scrolling, and the selections drawn with
// the mouse, kept as polygons in bitmap coordinates and rasterised into the 1-bit selection
// mask; their animated outline, grips and rubber line drawn over the picture.
//
// The interaction is one state machine (TLXInteraction): MouseDown chooses the state from
// the tools in MouseInteract and what lies under the pointer, MouseMove and the auto-scroll
// timer continue it, MouseUp (or a lost capture) ends it. Only the polygon tool keeps a
// state between presses.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Forms.h"
#include "LuxProc.h"
#include "LuxView.h"
#include "LuxViewMath.h"
#include "lxutils.h"

using luxview::ClampInt;
using luxview::RoundInt;
using luxview::TruncInt;

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Click-zoom steps below 100 %.
constexpr double kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};
// A side grip is hit this close to its edge (client pixels).
constexpr int kSideReach = 3;

bool Has(TLXMouseInteract Set, TLXMouseInteractItems Item) { return (Set & MI(Item)) != 0; }

// The selection tool of a MouseInteract set (the exclusions leave at most one), or -1.
int SelectionTool(TLXMouseInteract Set) {
    for (TLXMouseInteractItems t : {miSelect, miSelectPolygon, miSelectCircle, miSelectZoom,
                                    miSelectMagicWand, miSelectLasso})
        if (Has(Set, t)) return t;
    return -1;
}

TRect UnionOf(const TRect& A, const TRect& B) {
    if (A.IsEmpty()) return B;
    if (B.IsEmpty()) return A;
    return Rect(std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
                std::max(A.Bottom, B.Bottom));
}

// The rectangle around two points, with room for the pixel at the far end.
TRect SpanOf(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2, int64_t Margin) {
    return Rect(ClampInt(std::min(X1, X2) - Margin), ClampInt(std::min(Y1, Y2) - Margin),
                ClampInt(std::max(X1, X2) + Margin + 1), ClampInt(std::max(Y1, Y2) + Margin + 1));
}

// Height ÷ width that a rectangle shape mode keeps; 0 for the free mode 0.
double ModeRatio(int Mode, int BitmapWidth, int BitmapHeight) {
    switch (Mode) {
    case 0: return 0;
    case 2: return double(BitmapHeight) / BitmapWidth;
    case 3: return 3.0 / 2.0;
    case 4: return 2.0 / 3.0;
    case 5: return 4.0 / 3.0;
    case 6: return 3.0 / 4.0;
    default: return 1;
    }
}

// Shape mode of a new rectangle from the keys held; Shift decides first, then Alt, then Ctrl.
int NewRectangleMode(TShiftState S, bool Tall) {
    const bool shift = S & ssShift, alt = S & ssAlt, ctrl = S & ssCtrl;
    if (shift) return alt ? (Tall ? 4 : 3) : ctrl ? (Tall ? 6 : 5) : 2;
    if (alt && ctrl) return 1;
    if (alt) return Tall ? 3 : 4;
    if (ctrl) return Tall ? 5 : 6;
    return 0;
}

// Shape mode while a grip is dragged: Alt + Shift square, Shift the bitmap's proportions,
// Alt 3:2, Ctrl 4:3 (the long side along the bitmap's); other combinations square.
int ResizeMode(TShiftState S, bool Wide) {
    const bool shift = S & ssShift, alt = S & ssAlt, ctrl = S & ssCtrl;
    if (!shift && !alt && !ctrl) return 0;
    if (shift && !alt && !ctrl) return 2;
    if (alt && !shift && !ctrl) return Wide ? 4 : 3;
    if (ctrl && !shift && !alt) return Wide ? 6 : 5;
    return 1;
}

int64_t SignOf(int64_t V) { return V < 0 ? -1 : 1; }

// The grip and move cursors by grip index 0..7.
constexpr TCursor kGripCursor[8] = {crLXMoveDiagonal2, crLXMoveDiagonal1, crLXMoveDiagonal2,
                                    crLXMoveDiagonal1, crLXMoveHorizontal, crLXMoveHorizontal,
                                    crLXMoveVertical,  crLXMoveVertical};

TCursor ShiftVariant(TCursor C) {
    return C == crLXViewDefault ? crLXViewDefaultAdd : C == crLXCross2 ? crLXCross2Add : C;
}
TCursor PlainVariant(TCursor C) {
    return C == crLXViewDefaultAdd ? crLXViewDefault : C == crLXCross2Add ? crLXCross2 : C;
}

uint32_t SurfacePixel(TColor C) {
    const TColor c = ColorToRGB(C);
    return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The selection polygon
// ---------------------------------------------------------------------------------------------

void TLXSelectionPolygon::AddPoint(int X, int Y) {
    const bool first = std::all_of(Points.begin(), Points.end(), IsBreak);
    Points.push_back(Point(X, Y));
    if (first) {
        Left = Right = X;
        Top = Bottom = Y;
        return;
    }
    Left = std::min(Left, X);
    Right = std::max(Right, X);
    Top = std::min(Top, Y);
    Bottom = std::max(Bottom, Y);
}

void TLXSelectionPolygon::AddBreak() {
    if (Points.empty() || !IsBreak(Points.back())) Points.push_back(Point(Break, Break));
}

void TLXSelectionPolygon::CutBack(size_t Count) {
    if (Count < Points.size()) Points.resize(Count);
    RecomputeBox();
}

void TLXSelectionPolygon::RecomputeBox() {
    bool first = true;
    for (const TPoint& p : Points) {
        if (IsBreak(p)) continue;
        if (first) {
            Left = Right = p.X;
            Top = Bottom = p.Y;
            first = false;
        }
        Left = std::min(Left, p.X);
        Right = std::max(Right, p.X);
        Top = std::min(Top, p.Y);
        Bottom = std::max(Bottom, p.Y);
    }
}

bool TLXSelectionPolygon::IsRectangle() const {
    if (Points.size() != 4 || std::any_of(Points.begin(), Points.end(), IsBreak)) return false;
    auto horizontal = [&](int i) {
        const TPoint &a = Points[size_t(i)], &b = Points[size_t((i + 1) % 4)];
        return a.Y == b.Y && a.X != b.X;
    };
    auto vertical = [&](int i) {
        const TPoint &a = Points[size_t(i)], &b = Points[size_t((i + 1) % 4)];
        return a.X == b.X && a.Y != b.Y;
    };
    return (horizontal(0) && vertical(1) && horizontal(2) && vertical(3)) ||
           (vertical(0) && horizontal(1) && vertical(2) && horizontal(3));
}

// ---------------------------------------------------------------------------------------------
// Tools, options and the selection API
// ---------------------------------------------------------------------------------------------

void TLuxView::SetMouseInteract(TLXMouseInteract Value) {
    if (Value == mouseInteract_) return;
    // A polygon in the making is closed with every point it has.
    if (state_ == TLXInteraction::DrawingPolygon && Has(mouseInteract_, miSelectPolygon)) {
        ClosePolygon(false);
        Invalidate();
    }
    const TLXMouseInteract added = TLXMouseInteract(Value & ~mouseInteract_);
    // The first newly added tool decides what may stay with it; miScrollRight always stays.
    static const struct { TLXMouseInteractItems item; TLXMouseInteract keep; } rules[] = {
        {miScroll, TLXMouseInteract(MI(miZoom) | MI(miScroll))},
        {miSelect, TLXMouseInteract(MI(miZoom) | MI(miSelect))},
        {miSelectPolygon, MI(miSelectPolygon)},
        {miSelectCircle, TLXMouseInteract(MI(miZoom) | MI(miSelectCircle))},
        {miSelectLasso, TLXMouseInteract(MI(miZoom) | MI(miSelectLasso))},
        {miSelectZoom, TLXMouseInteract(MI(miZoom) | MI(miSelectZoom))},
        {miZoom, TLXMouseInteract(0x1FF & ~(MI(miSelectPolygon) | MI(miSelectMagicWand)))},
        {miSelectMagicWand, MI(miSelectMagicWand)},
    };
    TLXMouseInteract v = Value;
    for (const auto& r : rules)
        if (added & MI(r.item)) {
            v = TLXMouseInteract(v & (r.keep | MI(miScrollRight)));
            break;
        }
    mouseInteract_ = v;
}

void TLuxView::SetSelectionOptions(TLXSelectionOptions Value) {
    selOptions_ = Value;
    Update();
}

void TLuxView::SetSelectionColor1(TColor Value) {
    sel_.Color1 = Value;
    RedrawSelectionOutline();
}

void TLuxView::SetSelectionColor2(TColor Value) {
    sel_.Color2 = Value;
    RedrawSelectionOutline();
}

void TLuxView::SetCursor(TCursor Value) {
    viewCursor_ = Value;
    ShowCursorId(Value);
}

void TLuxView::ShowCursorId(TCursor Id) {
    if (TControl::Cursor() != Id) TLXView::SetCursor(Id);
}

void TLuxView::SelectionToMask() {
    selMask_->FillPolygons(1, sel_.Points.data(), int(std::min<size_t>(sel_.Points.size(), INT_MAX)));
    if (selMask_->IsEmpty()) {
        selectionExists_ = false;
        sel_.Clear();
    }
}

void TLuxView::ClearSelection() {
    sel_.Clear();
    selMask_->Clear();
    selectionExists_ = false;
    switch (state_) {
    case TLXInteraction::DrawingPolygon:
    case TLXInteraction::DrawingLasso:
    case TLXInteraction::DrawingRectangle:
    case TLXInteraction::DrawingEllipse:
    case TLXInteraction::ResizingGrip:
    case TLXInteraction::MovingSelection:
        state_ = held_ ? TLXInteraction::Clicking : TLXInteraction::Idle;
        break;
    default: break;
    }
    resume_ = TLXInteraction::Idle;
    rubber_ = false;
    drawn_ = moved_ = false;
    grip_ = -1;
    // Inside Update the whole view is repainted anyway, from a geometry not yet complete.
    HideSelection(!updating_);
}

void TLuxView::ShowSelection(bool Redraw) {
    sel_.Visible = true;
    if (Redraw) RedrawSelectionOutline();
}

void TLuxView::HideSelection(bool Repaint) {
    sel_.Visible = false;
    if (Repaint && lockCount_ == 0) RedrawSelectionOutline();
}

void TLuxView::MoveSelection(int DX, int DY) {
    if (selMask_->IsEmpty()) return;
    int dx = DX, dy = DY;
    selMask_->MoveMask(dx, dy, (selOptions_ & SO(lxsoCutBorders)) != 0);
    if (dx == 0 && dy == 0) return;
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    for (TPoint& p : sel_.Points) {
        if (TLXSelectionPolygon::IsBreak(p)) continue;
        p.X = IClamp(ClampInt(int64_t(p.X) + dx), 0, bw);
        p.Y = IClamp(ClampInt(int64_t(p.Y) + dy), 0, bh);
    }
    sel_.Left = IClamp(ClampInt(int64_t(sel_.Left) + dx), 0, bw);
    sel_.Right = IClamp(ClampInt(int64_t(sel_.Right) + dx), 0, bw);
    sel_.Top = IClamp(ClampInt(int64_t(sel_.Top) + dy), 0, bh);
    sel_.Bottom = IClamp(ClampInt(int64_t(sel_.Bottom) + dy), 0, bh);
    RedrawSelectionOutline();
}

void TLuxView::SelectArea(int X1, int Y1, int X2, int Y2, bool Add) {
    BuildRectangle(X1, Y1, X2, Y2, Add, 0, SelectionBase == lxsbClientArea);
    SelectionToMask();
    dirty_ = true;
    Paint();
}

void TLuxView::AddSelectionPoint(int X, int Y) {
    if (bitmap_->Empty()) return;
    if (SelectionBase == lxsbClientArea) {
        ClampToImageArea(X, Y);
        AddToolPoint(X, Y);
    } else {
        sel_.AddPoint(IClamp(X, 0, bitmap_->Width()), IClamp(Y, 0, bitmap_->Height()));
        selectionExists_ = true;
    }
    sel_.Visible = true;
    if (sel_.Points.size() >= 3) SelectionToMask();
    dirty_ = true;
    Paint();
}

void TLuxView::MagicWand(int X, int Y, bool Add) {
    if (SelectionBase == lxsbClientArea) RunMagicWand(ClientToBitmapX(X), ClientToBitmapY(Y), Add);
    else RunMagicWand(X, Y, Add);
}

void TLuxView::RunMagicWand(int BX, int BY, bool Add) {
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    if (BX < 0 || BY < 0 || BX >= bw || BY >= bh) return;
    const std::vector<TPoint> outline = MagicWandPolygon(bitmap_.get(), BX, BY, false, MagicWandTolerance);
    if (!outline.empty()) {
        selectionExists_ = true;
        if (Add && !sel_.Points.empty()) sel_.AddBreak();
        else sel_.Clear();
        for (const TPoint& p : outline) sel_.AddPoint(IClamp(p.X, 0, bw), IClamp(p.Y, 0, bh));
        SelectionToMask();
        sel_.Visible = true;
    }
    dirty_ = true;
    Paint();
}

void TLuxView::ShiftDragPoints(int DX, int DY) {
    for (TPoint* p : {&down_, &downRaw_, &prev_}) {
        p->X = ClampInt(int64_t(p->X) + DX);
        p->Y = ClampInt(int64_t(p->Y) + DY);
    }
}

// ---------------------------------------------------------------------------------------------
// Building blocks of the tools (client points unless said otherwise)
// ---------------------------------------------------------------------------------------------

void TLuxView::ClampToImageArea(int& X, int& Y) const {
    X = int(std::clamp<int64_t>(X, offsetX_, int64_t(offsetX_) + visibleWidth_));
    Y = int(std::clamp<int64_t>(Y, offsetY_, int64_t(offsetY_) + visibleHeight_));
}

bool TLuxView::InsideSelection(int X, int Y) {
    if (!(selOptions_ & SO(lxsoMoveable)) || selMask_->IsEmpty()) return false;
    return selMask_->IsPointSet(ClientToBitmapX(X), ClientToBitmapY(Y));
}

int TLuxView::GripAt(int X, int Y) {
    if (!sel_.Visible || !(selOptions_ & SO(lxsoSizeable)) || !sel_.IsRectangle() ||
        state_ == TLXInteraction::DrawingRectangle)
        return -1;
    const int l = BitmapToClientX(sel_.Left), r = BitmapToClientX(sel_.Right);
    const int t = BitmapToClientY(sel_.Top), b = BitmapToClientY(sel_.Bottom);
    const int h = GripHalfSize;
    const TPoint corners[4] = {{l, t}, {r, t}, {r, b}, {l, b}};
    for (int i = 0; i < 4; ++i) {
        const int64_t cx = corners[i].X, cy = corners[i].Y;
        if (X >= cx - h && X <= cx + h && Y >= cy - h && Y <= cy + h) return i;
    }
    const bool acrossY = Y >= t && Y <= b, acrossX = X >= l && X <= r;
    if (acrossY && std::llabs(int64_t(X) - l) < kSideReach) return 4;
    if (acrossY && std::llabs(int64_t(X) - r) < kSideReach) return 5;
    if (acrossX && std::llabs(int64_t(Y) - t) < kSideReach) return 6;
    if (acrossX && std::llabs(int64_t(Y) - b) < kSideReach) return 7;
    return -1;
}

void TLuxView::AddToolPoint(int X, int Y) {
    const int bx = IClamp(ClientToBitmapX(X), 0, bitmap_->Width());
    const int by = IClamp(ClientToBitmapY(Y), 0, bitmap_->Height());
    sel_.AddPoint(bx, by);
    selectionExists_ = true;
}

bool TLuxView::BuildRectangle(int X1, int Y1, int X2, int Y2, bool Add, int Mode, bool Convert) {
    if (X1 == X2 || Y1 == Y2 || bitmap_->Empty()) return false;
    if (Convert) {
        X1 = ClientToBitmapX(X1);
        Y1 = ClientToBitmapY(Y1);
        X2 = ClientToBitmapX(X2);
        Y2 = ClientToBitmapY(Y2);
    }
    if (Add && !sel_.Points.empty()) sel_.AddBreak();
    else sel_.Clear();
    const double r = ModeRatio(Mode, bitmap_->Width(), bitmap_->Height());
    if (r > 0) {
        // The dependent side follows the pointer's own direction, so the rectangle always
        // lies in the quadrant the pointer is in.
        const int64_t dx = int64_t(X2) - X1, dy = int64_t(Y2) - Y1;
        if (std::llabs(dy) < std::llabs(dx))
            Y2 = ClampInt(Y1 + SignOf(dy) * RoundInt(r * double(std::llabs(dx))));
        else
            X2 = ClampInt(X1 + SignOf(dx) * RoundInt(double(std::llabs(dy)) / r));
    }
    SetRectangle(X1, Y1, X2, Y2);
    return true;
}

void TLuxView::SetRectangle(int X1, int Y1, int X2, int Y2) {
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    X1 = IClamp(X1, 0, bw - 1);
    X2 = IClamp(X2, 0, bw - 1);
    Y1 = IClamp(Y1, 0, bh - 1);
    Y2 = IClamp(Y2, 0, bh - 1);
    OrderCorners(X1, Y1, X2, Y2);
    ++X2;   // exclusive right and bottom edges
    ++Y2;
    sel_.AddPoint(X1, Y1);
    sel_.AddPoint(X2, Y1);
    sel_.AddPoint(X2, Y2);
    sel_.AddPoint(X1, Y2);
    selectionExists_ = true;
    ShowSelection(true);
}

int TLuxView::ResizeRectangle(int X, int Y, TShiftState Shift) {
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    if (bw <= 0 || bh <= 0 || grip_ < 0) return grip_;
    const int bx = ClientToBitmapX(X), by = ClientToBitmapY(Y);
    // The box at the press, inclusive; the edges opposite the dragged ones stay there.
    const int L = downBox_.Left, T = downBox_.Top, R = downBox_.Right - 1, B = downBox_.Bottom - 1;
    const int g = grip_;
    const bool movesLeft = g == 0 || g == 3 || g == 4, movesTop = g == 0 || g == 1 || g == 6;
    const int ax = movesLeft ? R : L, ay = movesTop ? B : T;
    // The pointer at or right of (below) the anchor sits on the exclusive edge.
    auto inclusive = [](int b, int a) { return b > a ? b - 1 : b; };
    const double r = ModeRatio(ResizeMode(Shift, bw > bh), bw, bh);
    int64_t mx, my;
    int x1 = ax, y1 = ay;
    if (g <= 3) {
        mx = inclusive(bx, ax);
        my = inclusive(by, ay);
        if (r > 0) {
            const int64_t dx = mx - ax, dy = my - ay;
            if (std::llabs(dy) < std::llabs(dx)) my = ay + SignOf(dy) * RoundInt(r * double(std::llabs(dx)));
            else mx = ax + SignOf(dx) * RoundInt(double(std::llabs(dy)) / r);
        }
    } else if (g <= 5) {
        // A side with a ratio acts as its lower corner: the bottom follows the width.
        mx = inclusive(bx, ax);
        y1 = T;
        my = r > 0 ? T + RoundInt(r * double(std::llabs(mx - ax))) : B;
    } else {
        // Top and bottom act as their right corner: the right edge follows the height.
        my = inclusive(by, ay);
        x1 = L;
        mx = r > 0 ? L + RoundInt(double(std::llabs(my - ay)) / r) : R;
    }
    sel_.Clear();
    SetRectangle(x1, y1, ClampInt(mx), ClampInt(my));
    // The grip now under the pointer: the drag may have crossed the opposite edge.
    const bool left = mx < ax, top = my < ay;
    if (g <= 3) return top ? (left ? 0 : 1) : (left ? 3 : 2);
    if (g <= 5) return left ? 4 : 5;
    return top ? 6 : 7;
}

void TLuxView::BuildEllipse(int X, int Y, TShiftState Shift) {
    if (bitmap_->Empty()) return;
    if (Shift & ssShift) {
        sel_.CutBack(downCount_);
        if (!sel_.Points.empty()) sel_.AddBreak();
    } else {
        sel_.Clear();
    }
    int rx = std::abs(X - down_.X), ry = std::abs(Y - down_.Y);
    if (Shift & ssAlt) rx = ry = std::max(rx, ry);
    const int n = std::max(TruncInt(std::min(rx, ry) * kTwoPi) / 4, 3);
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    for (int k = 0; k < n; ++k) {
        const double a = kTwoPi * k / n;
        const int px = TruncInt(std::cos(a) * rx + down_.X), py = TruncInt(std::sin(a) * ry + down_.Y);
        sel_.AddPoint(IClamp(ClientToBitmapX(px), 0, bw), IClamp(ClientToBitmapY(py), 0, bh));
    }
    selectionExists_ = true;
    RedrawSelectionOutline();
}

void TLuxView::ClosePolygon(bool DropLastPoint) {
    if (DropLastPoint && !sel_.Points.empty()) sel_.Points.pop_back();
    while (!sel_.Points.empty() && TLXSelectionPolygon::IsBreak(sel_.Points.back())) sel_.Points.pop_back();
    sel_.RecomputeBox();
    SelectionToMask();
    EndDrawing();
}

void TLuxView::EndDrawing() {
    state_ = held_ ? TLXInteraction::Clicking : TLXInteraction::Idle;
    resume_ = TLXInteraction::Idle;
    rubber_ = false;
    RedrawSelectionOutline();
}

// ---------------------------------------------------------------------------------------------
// Auto-scroll while a drag holds the pointer outside the picture
// ---------------------------------------------------------------------------------------------

bool TLuxView::AutoScrollStep(int X, int Y) {
    const int64_t right = int64_t(offsetX_) + visibleWidth_, bottom = int64_t(offsetY_) + visibleHeight_;
    const int64_t dx = X < offsetX_ ? int64_t(X) - offsetX_ : X > right ? X - right : 0;
    const int64_t dy = Y < offsetY_ ? int64_t(Y) - offsetY_ : Y > bottom ? Y - bottom : 0;
    if (dx == 0 && dy == 0) return false;
    const int ox = viewX_, oy = viewY_;
    SetViewXY(ClampInt(ox + dx), ClampInt(oy + dy));
    const int sx = viewX_ - ox, sy = viewY_ - oy;
    if (sx == 0 && sy == 0) return false;
    // What lay under the stored points moved the other way.
    ShiftDragPoints(-sx, -sy);
    return true;
}

void TLuxView::AutoScrollTick(TObject*) {
    if (!held_) {
        autoScrollTimer_->SetEnabled(false);
        return;
    }
    DragTo(lastRaw_.X, lastRaw_.Y, lastShift_);
}

// ---------------------------------------------------------------------------------------------
// Mouse and keys
// ---------------------------------------------------------------------------------------------

void TLuxView::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TLXView::MouseDown(Button, Shift, X, Y);
    if (CanFocus() && !Focused()) SetFocus();
    // One interaction at a time: another button pressed meanwhile is ignored.
    if (held_) return;
    const TLXMouseInteract mi = mouseInteract_;
    if (Button != mbLeft && !Has(mi, miZoom) && !(Button == mbRight && Has(mi, miScrollRight))) return;
    // The second press of a double click: the double click itself closed the polygon.
    if (Button == mbLeft && (Shift & ssDouble) && Has(mi, miSelectPolygon)) return;

    const int tool = SelectionTool(mi);
    const bool scrolls = (Button == mbLeft && Has(mi, miScroll)) || (Button == mbRight && Has(mi, miScrollRight));
    held_ = true;
    heldButton_ = Button;
    pressTools_ = mi;
    drawn_ = moved_ = false;
    grip_ = -1;
    resume_ = state_ == TLXInteraction::DrawingPolygon ? state_ : TLXInteraction::Idle;
    // Selection drawing repaints unfiltered until the button comes up.
    if (tool >= 0 && !Has(mi, miScroll) && !Has(mi, miScrollRight) && zoomFilter_ != rfNone) {
        savedFilter_ = zoomFilter_;
        zoomFilter_ = rfNone;
        filterSaved_ = true;
    }
    if (Button == mbRight && Has(mi, miScrollRight)) {
        SetMouseCapture(true);
        captured_ = true;
    }
    downRaw_ = lastRaw_ = Point(X, Y);
    lastShift_ = Shift;
    ClampToImageArea(X, Y);
    down_ = prev_ = Point(X, Y);
    downViewX_ = viewX_;
    downViewY_ = viewY_;
    downCount_ = sel_.Points.size();

    if (scrolls) {
        state_ = TLXInteraction::Scrolling;
        return;
    }
    if (Button != mbLeft || tool < 0) {
        if (state_ != TLXInteraction::DrawingPolygon) state_ = TLXInteraction::Clicking;
        return;
    }
    switch (tool) {
    case miSelectPolygon:
    case miSelectLasso: {
        const bool drawing = state_ == TLXInteraction::DrawingPolygon;
        if (!drawing && InsideSelection(X, Y)) {
            state_ = TLXInteraction::MovingSelection;
            return;
        }
        if (drawing && (Shift & ssAlt) && !sel_.Points.empty() &&
            !TLXSelectionPolygon::IsBreak(sel_.Points.back())) {
            const TPoint& last = sel_.Points.back();
            SnapToAxisOrDiagonal(BitmapToClientX(last.X), BitmapToClientY(last.Y), X, Y);
            ClampToImageArea(X, Y);
        }
        if (!drawing) {
            // Shift keeps the selection and starts another polygon in it.
            if (!(Shift & ssShift)) ClearSelection();
            downCount_ = sel_.Points.size();
            if (!sel_.Points.empty()) sel_.AddBreak();
        }
        AddToolPoint(X, Y);
        sel_.Visible = true;
        state_ = tool == miSelectLasso ? TLXInteraction::DrawingLasso : TLXInteraction::DrawingPolygon;
        resume_ = state_ == TLXInteraction::DrawingPolygon ? state_ : TLXInteraction::Idle;
        rubber_ = state_ == TLXInteraction::DrawingPolygon;
        rubberTo_ = Point(X, Y);
        RedrawSelectionOutline();
        if (OnSelectionChanging) OnSelectionChanging(this);
        return;
    }
    case miSelect:
    case miSelectZoom:
        if ((grip_ = GripAt(X, Y)) >= 0) {
            downBox_ = Rect(sel_.Left, sel_.Top, sel_.Right, sel_.Bottom);
            state_ = TLXInteraction::ResizingGrip;
        } else if (InsideSelection(X, Y)) {
            state_ = TLXInteraction::MovingSelection;
        } else {
            state_ = TLXInteraction::DrawingRectangle;
        }
        return;
    case miSelectCircle:
        if (InsideSelection(X, Y)) {
            state_ = TLXInteraction::MovingSelection;
            return;
        }
        state_ = TLXInteraction::DrawingEllipse;
        sel_.Visible = true;
        if (OnSelectionChanging) OnSelectionChanging(this);
        return;
    default:   // magic wand: it runs on release, unless the press moves the selection
        if (InsideSelection(X, Y)) {
            state_ = TLXInteraction::MovingSelection;
        } else {
            state_ = TLXInteraction::Clicking;
        }
        return;
    }
}

void TLuxView::MouseMove(TShiftState Shift, int X, int Y) {
    TLXView::MouseMove(Shift, X, Y);
    if (held_) {
        lastRaw_ = Point(X, Y);
        lastShift_ = Shift;
        DragTo(X, Y, Shift);
    } else {
        ClampToImageArea(X, Y);
        if (state_ == TLXInteraction::DrawingPolygon) {
            // The rubber line from the last point to the pointer.
            if ((Shift & ssAlt) && !sel_.Points.empty() && !TLXSelectionPolygon::IsBreak(sel_.Points.back())) {
                const TPoint& last = sel_.Points.back();
                SnapToAxisOrDiagonal(BitmapToClientX(last.X), BitmapToClientY(last.Y), X, Y);
                ClampToImageArea(X, Y);
            }
            rubber_ = true;
            rubberTo_ = Point(X, Y);
            RedrawSelectionOutline();
            if (OnSelectionChanging) OnSelectionChanging(this);
        } else if (SelectionTool(mouseInteract_) >= 0) {
            // Only the rectangle tools act on grips, so only they offer them.
            const int g = Has(mouseInteract_, miSelect) || Has(mouseInteract_, miSelectZoom) ? GripAt(X, Y) : -1;
            if (OnMouseInResizingGrip) OnMouseInResizingGrip(this, g);
            TCursor c;
            if (g >= 0) c = kGripCursor[g];
            else if (InsideSelection(X, Y)) c = crLXMoveSelection;
            else c = (Shift & ssShift) ? ShiftVariant(viewCursor_) : viewCursor_;
            ShowCursorId(c);
        }
    }
    if (OnMouseInSel) {
        ClampToImageArea(X, Y);
        if (selMask_->IsPointSet(ClientToBitmapX(X), ClientToBitmapY(Y))) OnMouseInSel(this);
    }
}

void TLuxView::DragTo(int RawX, int RawY, TShiftState Shift) {
    bool scrolled = false;
    switch (state_) {
    case TLXInteraction::ResizingGrip:
    case TLXInteraction::MovingSelection:
    case TLXInteraction::DrawingRectangle:
    case TLXInteraction::DrawingLasso:
    case TLXInteraction::DrawingEllipse: scrolled = AutoScrollStep(RawX, RawY); break;
    default: break;
    }
    int x = RawX, y = RawY;
    ClampToImageArea(x, y);
    switch (state_) {
    case TLXInteraction::Scrolling:
        FollowPointer(RawX, RawY);
        break;
    case TLXInteraction::ResizingGrip:
        grip_ = ResizeRectangle(x, y, Shift);
        drawn_ = true;
        if (OnSelectionChanging) OnSelectionChanging(this);
        break;
    case TLXInteraction::MovingSelection: {
        const int dx = ClientToBitmapX(x) - ClientToBitmapX(prev_.X);
        const int dy = ClientToBitmapY(y) - ClientToBitmapY(prev_.Y);
        if (dx != 0 || dy != 0) {
            MoveSelection(dx, dy);
            moved_ = true;
        }
        break;
    }
    case TLXInteraction::DrawingRectangle:
        if (BuildRectangle(down_.X, down_.Y, x, y, false,
                           NewRectangleMode(Shift, bitmap_->Height() > bitmap_->Width()), true)) {
            drawn_ = true;
            if (OnSelectionChanging) OnSelectionChanging(this);
        }
        break;
    case TLXInteraction::DrawingLasso: {
        const int bx = IClamp(ClientToBitmapX(x), 0, bitmap_->Width());
        const int by = IClamp(ClientToBitmapY(y), 0, bitmap_->Height());
        if (sel_.Points.empty() || sel_.Points.back().X != bx || sel_.Points.back().Y != by) {
            sel_.AddPoint(bx, by);
            drawn_ = true;
            RedrawSelectionOutline();
            if (OnSelectionChanging) OnSelectionChanging(this);
        }
        break;
    }
    case TLXInteraction::DrawingEllipse:
        BuildEllipse(x, y, Shift);
        drawn_ = true;
        if (OnSelectionChanging) OnSelectionChanging(this);
        break;
    default: break;
    }
    prev_ = Point(x, y);
    // Scrolling goes on, paced by the timer, while the pointer stays outside.
    if (!scrolled) autoScrollTimer_->SetEnabled(false);
    else if (!autoScrollTimer_->Enabled()) autoScrollTimer_->SetEnabled(true);
}

void TLuxView::FollowPointer(int RawX, int RawY) {
    // The picture point under the press stays under the pointer.
    SetViewXY(ClampInt(int64_t(downViewX_) + downRaw_.X - RawX), ClampInt(int64_t(downViewY_) + downRaw_.Y - RawY));
}

void TLuxView::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TLXView::MouseUp(Button, Shift, X, Y);
    if (!held_ || Button != heldButton_) return;
    held_ = false;
    autoScrollTimer_->SetEnabled(false);
    if (captured_) {
        captured_ = false;
        SetMouseCapture(false);
    }
    const int rawX = X, rawY = Y;
    ClampToImageArea(X, Y);
    const bool still = X == down_.X && Y == down_.Y;
    const int tool = SelectionTool(pressTools_);
    const TLXInteraction st = state_;
    state_ = resume_;

    if (Has(pressTools_, miZoom) && still && st != TLXInteraction::DrawingPolygon) {
        // A click: whatever the press began is undone, and the view zooms.
        if (st == TLXInteraction::DrawingLasso) {
            sel_.CutBack(downCount_);
            if (sel_.Points.empty()) selectionExists_ = false;
            RedrawSelectionOutline();
        }
        ClickZoom(Button, X, Y);
    } else {
        switch (st) {
        case TLXInteraction::Scrolling:
            FollowPointer(rawX, rawY);
            break;
        case TLXInteraction::Clicking:
            if (Button != mbLeft) break;
            if (tool == miSelectZoom) {
                ZoomSelection();
            } else if (tool == miSelectMagicWand) {
                const TCursor before = Screen->Cursor();
                Screen->SetCursor(crHourGlass);
                try {
                    RunMagicWand(ClientToBitmapX(X), ClientToBitmapY(Y), (Shift & ssShift) != 0);
                } catch (...) {
                    Screen->SetCursor(before);
                    throw;
                }
                Screen->SetCursor(before);
                if (OnSelectionChange) OnSelectionChange(this);
                Update();
            }
            break;
        case TLXInteraction::DrawingRectangle:
        case TLXInteraction::DrawingEllipse:
        case TLXInteraction::ResizingGrip:
        case TLXInteraction::MovingSelection:
            if (tool == miSelectZoom) {
                ZoomSelection();
            } else if (still && (st == TLXInteraction::DrawingRectangle || st == TLXInteraction::DrawingEllipse)) {
                ClearSelection();
            } else if (drawn_) {
                SelectionToMask();
                RedrawSelectionOutline();
                if (OnSelectionChange) OnSelectionChange(this);
                Update();
            } else if (moved_) {
                RedrawSelectionOutline();
                if (OnSelectionChange) OnSelectionChange(this);
                Update();
            }
            break;
        case TLXInteraction::DrawingLasso:
            if (still) {
                ClearSelection();
            } else {
                if (drawn_) SelectionToMask();
                RedrawSelectionOutline();
                if (OnSelectionChange) OnSelectionChange(this);
                Update();
            }
            break;
        default: break;
        }
    }
    FinishInteraction();
}

void TLuxView::CaptureLost() {
    TLXView::CaptureLost();
    if (!held_) return;
    // Ends the drag where the pointer was last seen, without the click actions.
    held_ = false;
    captured_ = false;
    autoScrollTimer_->SetEnabled(false);
    const TLXInteraction st = state_;
    state_ = resume_;
    switch (st) {
    case TLXInteraction::DrawingRectangle:
    case TLXInteraction::DrawingEllipse:
    case TLXInteraction::ResizingGrip:
    case TLXInteraction::DrawingLasso:
        if (drawn_) {
            SelectionToMask();
            RedrawSelectionOutline();
            if (OnSelectionChange) OnSelectionChange(this);
            Update();
        }
        break;
    case TLXInteraction::MovingSelection:
        if (moved_ && OnSelectionChange) OnSelectionChange(this);
        break;
    default: break;
    }
    FinishInteraction();
}

void TLuxView::FinishInteraction() {
    if (filterSaved_) {
        filterSaved_ = false;
        if (zoomFilter_ == rfNone && savedFilter_ != rfNone) SetZoomFilter(savedFilter_);
    }
    grip_ = -1;
    drawn_ = moved_ = false;
    if (state_ != TLXInteraction::DrawingPolygon) rubber_ = false;
}

void TLuxView::ClickZoom(TMouseButton Button, int X, int Y) {
    double z;
    if (Button == mbLeft) {
        z = zoom_ + 100;
        if (zoom_ < 100)
            for (double s : kZoomSteps)
                if (s > zoom_) {
                    z = s;
                    break;
                }
        if (OnZoomIn) OnZoomIn(this, z);
    } else if (Button == mbRight) {
        z = zoom_ - 100;
        if (zoom_ < 200) {
            z = 2;
            for (double s : kZoomSteps)
                if (s < zoom_) z = s;
        }
        if (OnZoomOut) OnZoomOut(this, z);
    } else {
        return;
    }
    if (z != zoom_) ZoomAt(X, Y, z);
}

void TLuxView::DblClick() {
    TLXView::DblClick();
    if (state_ != TLXInteraction::DrawingPolygon || held_) return;
    // The double click's first press added a point where the polygon ends: it goes again.
    ClosePolygon(true);
    Update();
    if (OnSelectionChange) OnSelectionChange(this);
}

void TLuxView::KeyDown(uint16_t& Key, TShiftState Shift) {
    TLXView::KeyDown(Key, Shift);
    if (Shift & ssShift) ShowCursorId(ShiftVariant(ShownCursor()));
}

void TLuxView::KeyUp(uint16_t& Key, TShiftState Shift) {
    TLXView::KeyUp(Key, Shift);
    if (!(Shift & ssShift)) ShowCursorId(PlainVariant(ShownCursor()));
}

// ---------------------------------------------------------------------------------------------
// Outline, grips and rubber line
// ---------------------------------------------------------------------------------------------
//
// They live on the control's surface over the copy of the back buffer. A change of shape
// copies the back buffer again over what the old overlay covered and draws the new one
// there; a timer tick only redraws the outline in its next phase, over the same pixels.

namespace {

bool DrawsPolygonOutline(TLXInteraction S) {
    switch (S) {
    case TLXInteraction::DrawingPolygon:
    case TLXInteraction::DrawingLasso:
    case TLXInteraction::DrawingRectangle:
    case TLXInteraction::DrawingEllipse:
    case TLXInteraction::ResizingGrip: return true;
    default: return false;
    }
}

}  // namespace

void TLuxView::DrawSelectionOutline(bool FromTimer) {
    const bool still = state_ == TLXInteraction::Idle || state_ == TLXInteraction::Clicking ||
                       state_ == TLXInteraction::Scrolling;
    if (sel_.Visible && (selOptions_ & SO(lxsoAnimated)) && FromTimer && still) {
        sel_.Phase = (sel_.Phase + 1) % 6;
        ++outlineFrame_;
    }
    if (lockCount_ > 0 || !HasParentWindow()) return;
    if (FromTimer && !rubber_) {
        // Same shape, next phase: the outline overwrites its own pixels.
        Canvas()->ResetClip();
        PaintSelectionOverlay(Rect(0, 0, DrawAreaWidth(), DrawAreaHeight()));
        return;
    }
    ComposeRegion(UnionOf(overlayBounds_, SelectionOverlayBounds()));
}

void TLuxView::RedrawSelectionOutline() { DrawSelectionOutline(false); }

void TLuxView::ComposeRegion(const TRect& R) {
    if (lockCount_ > 0 || !HasParentWindow()) return;
    TRect r;
    if (!IntersectRect(r, R, Rect(0, 0, DrawAreaWidth(), DrawAreaHeight()))) return;
    if (InPaint()) {
        InvalidateRect(r);
        return;
    }
    TCanvas* c = Canvas();
    c->ResetClip();
    c->IntersectClipRect(r);
    PaintBackBuffer(r);
    c->ResetClip();
}

TRect TLuxView::SelectionOverlayBounds() {
    TRect b{};
    const bool points = std::any_of(sel_.Points.begin(), sel_.Points.end(),
                                    [](const TPoint& p) { return !TLXSelectionPolygon::IsBreak(p); });
    if (sel_.Visible && points) {
        if (DrawsPolygonOutline(state_) || selMask_->IsEmpty()) {
            b = SpanOf(BitmapToClientX(sel_.Left), BitmapToClientY(sel_.Top), BitmapToClientX(sel_.Right),
                       BitmapToClientY(sel_.Bottom), 1);
        } else {
            b = Rect(0, 0, DrawAreaWidth(), DrawAreaHeight());
        }
        if ((selOptions_ & SO(lxsoSizeable)) && sel_.IsRectangle() && state_ != TLXInteraction::DrawingRectangle)
            b = UnionOf(b, SpanOf(BitmapToClientX(sel_.Left), BitmapToClientY(sel_.Top),
                                  BitmapToClientX(sel_.Right), BitmapToClientY(sel_.Bottom), GripHalfSize + 1));
    }
    if (rubber_ && !sel_.Points.empty() && !TLXSelectionPolygon::IsBreak(sel_.Points.back())) {
        const TPoint& last = sel_.Points.back();
        b = UnionOf(b, SpanOf(BitmapToClientX(last.X), BitmapToClientY(last.Y), rubberTo_.X, rubberTo_.Y, 1));
    }
    return b;
}

void TLuxView::PaintSelectionOverlay(const TRect& Clip) {
    const TRect now = SelectionOverlayBounds();
    // A partial paint leaves the rest of the old overlay on the surface.
    overlayBounds_ = Clip == Rect(0, 0, DrawAreaWidth(), DrawAreaHeight()) ? now : UnionOf(overlayBounds_, now);
    if (now.IsEmpty()) return;
    if (sel_.Visible) {
        if (DrawsPolygonOutline(state_) || selMask_->IsEmpty()) {
            DrawPolygonOutline(Clip);
        } else if (changeCountdown_ == 0) {
            // The mask's own border, left out for two ticks after a zoom or scroll.
            UpdateSourceRect();
            selMask_->DrawOutline(Canvas(), offsetX_, offsetY_, sel_.Color1, sel_.Color2, int(outlineFrame_ & 7),
                                  srcX_, srcY_, srcWidth_, srcHeight_, destWidth_, destHeight_);
        }
        if ((selOptions_ & SO(lxsoSizeable)) && sel_.IsRectangle() && state_ != TLXInteraction::DrawingRectangle)
            DrawGrips();
    }
    if (rubber_) DrawRubberLine();
}

void TLuxView::DrawPolygonOutline(const TRect& Clip) {
    TBitmap* s = Surface();
    if (s->PixelFormat() != pf32bit || s->Empty()) return;
    TRect clip;
    if (!IntersectRect(clip, Clip, Rect(0, 0, s->Width(), s->Height()))) return;
    s->FlushCanvas();
    const uint32_t colour[2] = {SurfacePixel(sel_.Color1), SurfacePixel(sel_.Color2)};
    // The dash counter runs on along the whole path: pixels 0..2 of each six take colour 1.
    int64_t index = sel_.Phase;
    bool any = false;
    // Walks a to b pixel by pixel, the end point left out (as a line DDA does); only the
    // pixels inside the clip are visited, the counter still counts the others.
    auto edge = [&](TPoint a, TPoint b) {
        const int64_t dx = int64_t(b.X) - a.X, dy = int64_t(b.Y) - a.Y;
        const int64_t n = std::max(std::llabs(dx), std::llabs(dy));
        if (n == 0) return;
        const bool xMajor = std::llabs(dx) >= std::llabs(dy);
        const int64_t major0 = xMajor ? a.X : a.Y, minor0 = xMajor ? a.Y : a.X;
        const int64_t sMajor = (xMajor ? dx : dy) < 0 ? -1 : 1, dMinor = xMajor ? dy : dx;
        const int64_t lo = xMajor ? clip.Left : clip.Top, hi = xMajor ? clip.Right - 1 : clip.Bottom - 1;
        // Steps k whose major coordinate lies within [lo, hi].
        int64_t k0 = sMajor > 0 ? lo - major0 : major0 - hi, k1 = sMajor > 0 ? hi - major0 : major0 - lo;
        k0 = std::max<int64_t>(k0, 0);
        k1 = std::min<int64_t>(k1, n - 1);
        for (int64_t k = k0; k <= k1; ++k) {
            const __int128 num = __int128(2) * k * (dMinor < 0 ? -dMinor : dMinor) + n;
            const int64_t off = int64_t(num / (2 * n));
            const int64_t major = major0 + sMajor * k, minor = minor0 + (dMinor < 0 ? -off : off);
            const int64_t x = xMajor ? major : minor, y = xMajor ? minor : major;
            if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) continue;
            reinterpret_cast<uint32_t*>(s->ScanLine(int(y)))[x] = colour[(index + k) % 6 < 3 ? 0 : 1];
            any = true;
        }
        index += n;
    };
    auto client = [&](const TPoint& p) { return Point(BitmapToClientX(p.X), BitmapToClientY(p.Y)); };
    bool open = false;   // a sub-polygon has begun
    TPoint first{}, last{};
    for (const TPoint& p : sel_.Points) {
        if (TLXSelectionPolygon::IsBreak(p)) {
            if (open) edge(last, first);
            open = false;
            continue;
        }
        const TPoint c = client(p);
        if (!open) {
            first = last = c;
            open = true;
            continue;
        }
        edge(last, c);
        last = c;
    }
    const bool drawing = state_ == TLXInteraction::DrawingPolygon || state_ == TLXInteraction::DrawingLasso;
    if (open && !drawing) edge(last, first);
    if (any) s->SetModified(true);
}

void TLuxView::DrawGrips() {
    TCanvas* c = Canvas();
    c->Pen()->SetStyle(psSolid);
    c->Pen()->SetWidth(1);
    c->Pen()->SetMode(pmCopy);
    c->Pen()->SetColor(clBlack);
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(clWhite);
    const int64_t l = BitmapToClientX(sel_.Left), r = BitmapToClientX(sel_.Right);
    const int64_t t = BitmapToClientY(sel_.Top), b = BitmapToClientY(sel_.Bottom);
    const int64_t mx = (l + r) / 2, my = (t + b) / 2, h = GripHalfSize;
    const int64_t centres[8][2] = {{l, t}, {r, t}, {r, b}, {l, b}, {l, my}, {r, my}, {mx, t}, {mx, b}};
    for (const auto& g : centres)
        c->Rectangle(ClampInt(g[0] - h), ClampInt(g[1] - h), ClampInt(g[0] + h + 1), ClampInt(g[1] + h + 1));
}

void TLuxView::DrawRubberLine() {
    if (sel_.Points.empty() || TLXSelectionPolygon::IsBreak(sel_.Points.back())) return;
    const TPoint& last = sel_.Points.back();
    TCanvas* c = Canvas();
    c->Pen()->SetStyle(psSolid);
    c->Pen()->SetWidth(1);
    c->Pen()->SetMode(pmNot);
    c->MoveTo(BitmapToClientX(last.X), BitmapToClientY(last.Y));
    c->LineTo(rubberTo_.X, rubberTo_.Y);
    c->Pen()->SetMode(pmCopy);
}

void TLuxView::DrawFilledSelection(TCanvas* Canvas) {
    if (!FilledSelectionShown() || !Canvas) return;
    selMask_->Draw(Canvas, offsetX_, offsetY_, destWidth_, destHeight_, srcX_, srcY_, srcWidth_, srcHeight_);
}
