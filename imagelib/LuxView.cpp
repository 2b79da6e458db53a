#include "LuxView.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#include "Forms.h"
#include "LuxIO.h"
#include "LuxProc.h"
#include "LuxViewMath.h"
#include "lxpixels.h"
#include "lxutils.h"

static_assert(std::endian::native == std::endian::little, "pixel moves assume little-endian words");

using luxview::ClampInt;
using luxview::RoundInt;
using luxview::TruncInt;

namespace {

constexpr int kEdge = 2;             // SM_CXEDGE / SM_CYEDGE
constexpr int kShadowMargin = 5;     // free pixels around a crop-shadowed picture
constexpr int kChessSquare = 16;
constexpr int kViewTimerInterval = 210;
constexpr int kDelayTicks = 2;
constexpr int kScrollUnits = 65536;

TColor Complement(TColor c) { return TColor(~uint32_t(ColorToRGB(c)) & 0xFFFFFFu); }

// A sunken two-pixel edge around R, as DrawEdge(EDGE_SUNKEN, BF_RECT) draws it.
void DrawSunkenEdge(TCanvas* c, const TRect& r) {
    if (r.Width() < 2 || r.Height() < 2) return;
    auto frame = [c](const TRect& q, TColor topLeft, TColor bottomRight) {
        c->Pen()->SetStyle(psSolid);
        c->Pen()->SetWidth(1);
        c->Pen()->SetColor(topLeft);
        c->MoveTo(q.Left, q.Bottom - 1);
        c->LineTo(q.Left, q.Top);
        c->LineTo(q.Right - 1, q.Top);
        c->Pen()->SetColor(bottomRight);
        c->MoveTo(q.Right - 1, q.Top);
        c->LineTo(q.Right - 1, q.Bottom - 1);
        c->LineTo(q.Left - 1, q.Bottom - 1);
    };
    frame(r, clBtnShadow, clBtnHighlight);
    if (r.Width() >= 4 && r.Height() >= 4)
        frame(Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1), cl3DDkShadow, cl3DLight);
}

const char* const kCursorNames[18] = {"ZOOMMENO", "ZOOMPIU", "CROCE",   "GOMMA",   "MANO",
                                      "PENNA",    "CROCE1",  "CROCE3",  "MOVE2",   "MOVEY",
                                      "MOVE1",    "MOVEX",   "MOVE",    "CROCE3+", "CROCE3-",
                                      "CROCE2",   "CROCE2+", "CROCE2-"};

// Copies the part R of a pf24bit picture onto the same place of a pf32bit surface, clipped to
// both; the surface is then told that it changed, so a paint shows it.
void Blit24To32(TBitmap* Src, TBitmap* Dst, TRect R) {
    if (!Src || !Dst || Src->PixelFormat() != pf24bit || Dst->PixelFormat() != pf32bit) return;
    TRect lim = Rect(0, 0, std::min(Src->Width(), Dst->Width()), std::min(Src->Height(), Dst->Height()));
    if (!IntersectRect(R, R, lim)) return;
    Src->FlushCanvas();
    Dst->FlushCanvas();
    const size_t n = size_t(R.Width());
    for (int y = R.Top; y < R.Bottom; ++y)
        LXExpand24To32Row(Src->ScanLine(y) + size_t(R.Left) * 3,
                          reinterpret_cast<uint32_t*>(Dst->ScanLine(y)) + R.Left, n);
    Dst->SetModified(true);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Background styles
// ---------------------------------------------------------------------------------------------

void LXDrawBackground(unsigned /*ComponentState*/, TCanvas* Canvas, TLXBackgroundStyle Style,
                      TBrushStyle BrushStyle, int SquareSize, int ImageLeft, int ImageTop,
                      int ImageRight, int ImageBottom, int AreaWidth, int AreaHeight, TColor Color) {
    if (!Canvas || AreaWidth <= 0 || AreaHeight <= 0) return;
    const TRect area = Rect(0, 0, AreaWidth, AreaHeight);
    TBrush* brush = Canvas->Brush();
    auto solid = [&](TColor c) {
        brush->SetColor(c);
        brush->SetStyle(bsSolid);
        Canvas->FillRect(area);
    };
    switch (Style) {
    case lxbsSolid: solid(Color); break;
    case lxbsHorizontal: case lxbsVertical: case lxbsFDiagonal: case lxbsBDiagonal:
    case lxbsCross: case lxbsDiagCross: {
        static constexpr TBrushStyle hatch[] = {bsHorizontal, bsVertical, bsFDiagonal,
                                                bsBDiagonal, bsCross, bsDiagCross};
        // The gaps of a hatch keep what is below; give them a defined base first so stale
        // pixels of earlier renders never show through.
        solid(clBtnFace);
        brush->SetColor(Color);
        brush->SetStyle(hatch[Style - lxbsHorizontal]);
        Canvas->FillRect(area);
        brush->SetStyle(bsSolid);
        break;
    }
    case lxbsChessboard: {
        const int sq = SquareSize > 0 ? SquareSize : kChessSquare;
        const TColor inv = Complement(Color);
        for (int j = 0; int64_t(j) * sq < AreaHeight; ++j)
            for (int i = 0; int64_t(i) * sq < AreaWidth; ++i) {
                brush->SetColor(((i + j) & 1) == 0 ? inv : Color);
                brush->SetStyle(BrushStyle);
                Canvas->FillRect(Bounds(i * sq, j * sq, sq, sq));
            }
        brush->SetStyle(bsSolid);
        break;
    }
    case lxbsDiagonals:
        solid(Color);
        Canvas->Pen()->SetStyle(psSolid);
        Canvas->Pen()->SetWidth(1);
        Canvas->Pen()->SetMode(pmCopy);
        Canvas->Pen()->SetColor(Complement(Color));
        Canvas->MoveTo(0, 0);
        Canvas->LineTo(AreaWidth, AreaHeight);
        Canvas->MoveTo(AreaWidth, 0);
        Canvas->LineTo(0, AreaHeight);
        break;
    case lxbsCropped:
        solid(clBtnFace);
        if (ImageRight - ImageLeft >= 2 && ImageBottom - ImageTop >= 2)
            DrawSunkenEdge(Canvas, Rect(ImageLeft - kEdge, ImageTop - kEdge, ImageRight + kEdge,
                                        ImageBottom + kEdge));
        break;
    case lxbsCropShadow:
        solid(clBtnFace);
        if (ImageRight - ImageLeft >= 2 && ImageBottom - ImageTop >= 2) {
            DrawShadowRight(Canvas, ImageRight, ImageTop, ImageRight + 5, ImageBottom + 3, 2);
            DrawShadowBottom(Canvas, ImageLeft, ImageBottom, ImageRight + 4, ImageBottom + 5, 2);
        }
        break;
    }
}

void LXLoadViewCursors() {
    static bool done = false;
    if (done) return;
    if (!Screen) return;
    done = true;
    for (int i = 0; i < 18; ++i)
        if (HCURSOR h = LoadCursorA(nullptr, kCursorNames[i]))
            Screen->SetCursors(crLXFirstViewCursor + i, h);
}

// ---------------------------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------------------------

TLuxView::TLuxView(TComponent* AOwner)
    : TLXView(AOwner),
      bitmap_(std::make_unique<TBitmap>()),
      backBuffer_(std::make_unique<TBitmap>()),
      hParams_(std::make_unique<TLXScrollBarParams>()),
      vParams_(std::make_unique<TLXScrollBarParams>()),
      wheelParams_(std::make_unique<TLXMouseWheelParams>()),
      selMask_(std::make_unique<TLXMask>()),
      alphaMask_(std::make_unique<TLXMask>()) {
    bitmap_->SetPixelFormat(pf24bit);
    backBuffer_->SetPixelFormat(pf24bit);
    engine_ = std::make_unique<TLXTransitionEffects>(this);
    engine_->OnPresentFrame = MakeMethod(this, &TLuxView::PresentFrame);
    LXLoadViewCursors();
    SetCursor(crLXViewDefault);
    SetBounds(Left(), Top(), 105, 105);
    SetDpi(ScreenPixelsPerInch(), ScreenPixelsPerInch());
    // The bars change with every zoom and scroll step: the plain style redraws them cheaply.
    SetPlainScrollBars(true);
    viewTimer_ = std::make_unique<TTimer>(nullptr);
    viewTimer_->SetEnabled(false);
    viewTimer_->SetInterval(kViewTimerInterval);
    viewTimer_->OnTimer = MakeMethod(this, &TLuxView::ViewTimerTick);
    // The first selection record enables the timer at run time.
    viewTimer_->SetEnabled(true);
    autoScrollTimer_ = std::make_unique<TTimer>(nullptr);
    autoScrollTimer_->SetEnabled(false);
    autoScrollTimer_->SetInterval(AutoScrollInterval);
    autoScrollTimer_->OnTimer = MakeMethod(this, &TLuxView::AutoScrollTick);
    selMask_->AllocBits(bitmap_->Width(), bitmap_->Height(), 1);
    alphaMask_->AllocBits(bitmap_->Width(), bitmap_->Height(), 8);
    alphaMask_->Fill(255);
}

TLuxView::~TLuxView() {
    // Attached components let go while the bitmap and masks still exist; then the view's
    // own ones go, no longer registered with it.
    NotifyDestroying();
    delete io_;
    io_ = nullptr;
    delete proc_;
    proc_ = nullptr;
    // From here on Update does nothing, also when the engine stops a running transition.
    SetComponentState(csDestroying);
    if (viewTimer_) viewTimer_->SetEnabled(false);
    if (autoScrollTimer_) autoScrollTimer_->SetEnabled(false);
    engine_.reset();
    bitmap_.reset();
    backBuffer_.reset();
    viewTimer_.reset();
    autoScrollTimer_.reset();
}

TLuxIO* TLuxView::GetIO() {
    if (!io_) {
        io_ = new TLuxIO(this);
        io_->SetAttachedView(this);
    }
    return io_;
}

TLuxProc* TLuxView::GetProc() {
    if (!proc_) {
        proc_ = new TLuxProc(this);
        proc_->SetAttachedView(this);
    }
    return proc_;
}

// ---------------------------------------------------------------------------------------------
// Operations of every view
// ---------------------------------------------------------------------------------------------

void TLuxView::SetBackground(TColor Color) {
    TLXView::SetBackground(Color);
    Update();
    ImageChange();
}

void TLuxView::LockPaint() { ++lockCount_; }

void TLuxView::UnlockPaint() {
    if (lockCount_ > 0) {
        --lockCount_;
        if (lockCount_ == 0) Update();
    }
}

void TLuxView::UnlockPaintNoUpdate() {
    if (lockCount_ > 0) --lockCount_;
}

void TLuxView::ImageChange() {
    if (OnImageChange) OnImageChange(this);
}

void TLuxView::DoViewChange(int Change) {
    if (OnViewChange) OnViewChange(this, Change);
}

int TLuxView::DrawAreaWidth() { return HasParentWindow() ? ClientWidth() : 50; }
int TLuxView::DrawAreaHeight() { return HasParentWindow() ? ClientHeight() : 50; }
bool TLuxView::HasParentWindow() const { return TLXView::HasParentWindow(); }

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

void TLuxView::SetZoomFactors(double Value) {
    zoom_ = Value;
    zoomFactor_ = Value / 100.0;
    invZoomFactor_ = 100.0 / Value;
}

void TLuxView::NoteChange() {
    if (DelayZoomFilter && zoomFilter_ != rfNone && zoom_ != 100.0) filterDelay_ = kDelayTicks;
    changeCountdown_ = kDelayTicks;
}

void TLuxView::GetMaxViewXY(int& MaxX, int& MaxY) {
    const int ex = TruncInt(bitmap_->Width() * zoomFactor_);
    const int ey = TruncInt(bitmap_->Height() * zoomFactor_);
    MaxX = MaxY = 0;
    if (ex < 1 || ey < 1) return;
    MaxX = std::max(0, ex - DrawAreaWidth());
    MaxY = std::max(0, ey - DrawAreaHeight());
    // The whole zoomed picture fits the control with its border and bars: nothing to scroll.
    if (Width() >= ex && Height() >= ey) MaxX = MaxY = 0;
}

void TLuxView::SetZoom(double Value) {
    if (!(Value > 0) || !std::isfinite(Value) || Value == zoom_) return;
    // The zoomed extent must stay a 32-bit size.
    const int longest = std::max(bitmap_->Width(), bitmap_->Height());
    if (longest > 0) {
        const double limit = double(INT_MAX) / longest * 100.0;
        if (Value > limit) Value = limit;
        if (Value == zoom_) return;
    }
    NoteChange();
    LockPaint();
    const int hw = int(unsigned(DrawAreaWidth()) >> 1);
    const int hh = int(unsigned(DrawAreaHeight()) >> 1);
    const int bx = RoundInt((double(viewX_) + hw - offsetX_) * invZoomFactor_);
    const int by = RoundInt((double(viewY_) + hh - offsetY_) * invZoomFactor_);
    const int nx = TruncInt(bx * Value / 100.0 - hw);
    const int ny = TruncInt(by * Value / 100.0 - hh);
    // Clamped with the maximum of the new zoom, so the centre point stays where it was.
    SetZoomFactors(Value);
    int mx, my;
    GetMaxViewXY(mx, my);
    viewX_ = nx > mx ? mx : nx < 0 ? 0 : nx;
    viewY_ = ny > my ? my : ny < 0 ? 0 : ny;
    Update();
    UnlockPaintNoUpdate();
    Paint();
    // The back buffer now shows this zoom; when the second update moves nothing, it stays
    // valid, and the paint that follows only shows it instead of rendering it again.
    const bool rendered = !dirty_;
    const int geometry[] = {viewX_, viewY_, offsetX_, offsetY_, extentX_, extentY_, DrawAreaWidth(), DrawAreaHeight()};
    LockPaint();
    Update();
    UnlockPaintNoUpdate();
    const int after[] = {viewX_, viewY_, offsetX_, offsetY_, extentX_, extentY_, DrawAreaWidth(), DrawAreaHeight()};
    if (rendered && std::equal(std::begin(geometry), std::end(geometry), std::begin(after))) dirty_ = false;
    DoViewChange(1);
}

void TLuxView::SetBarPosition(bool Horizontal) {
    const bool want = Horizontal ? (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth)
                                 : (scrollBars_ == ssVertical || scrollBars_ == ssBoth);
    if (!want) return;
    const double scale = Horizontal ? hScale_ : vScale_;
    if (!(scale > 0)) return;
    SetScrollPos(this, Horizontal ? SB_HORZ : SB_VERT,
                 TruncInt((Horizontal ? viewX_ : viewY_) / scale), true);
}

void TLuxView::SetViewX(int Value) {
    if (Value == viewX_) return;
    NoteChange();
    int mx, my;
    GetMaxViewXY(mx, my);
    viewX_ = Value > mx ? mx : Value < 0 ? 0 : Value;
    dirty_ = true;
    Paint();
    DoViewChange(0);
    SetBarPosition(true);
}

void TLuxView::SetViewY(int Value) {
    if (Value == viewY_) return;
    NoteChange();
    int mx, my;
    GetMaxViewXY(mx, my);
    viewY_ = Value > my ? my : Value < 0 ? 0 : Value;
    dirty_ = true;
    Paint();
    DoViewChange(0);
    SetBarPosition(false);
}

void TLuxView::SetViewXY(int X, int Y) {
    if (X == viewX_ && Y == viewY_) return;
    NoteChange();
    int mx, my;
    GetMaxViewXY(mx, my);
    viewX_ = X > mx ? mx : X < 0 ? 0 : X;
    viewY_ = Y > my ? my : Y < 0 ? 0 : Y;
    dirty_ = true;
    Paint();
    DoViewChange(0);
    SetBarPosition(true);
    SetBarPosition(false);
}

void TLuxView::Update() {
    if (updating_) return;
    const unsigned st = ComponentState();
    if (st & (csLoading | csReading | csWriting | csDestroying)) return;
    updating_ = true;
    // A bar that appears or vanishes changes the drawing area, which may change the bars
    // again; a few rounds settle every case (the outer-size rule keeps it from flapping).
    for (int round = 0; round < 4; ++round) {
        const int w0 = DrawAreaWidth(), h0 = DrawAreaHeight();
        UpdateOnce();
        if (DrawAreaWidth() == w0 && DrawAreaHeight() == h0) break;
    }
    updating_ = false;
    extentX_ = RoundInt(bitmap_->Width() * zoomFactor_);
    extentY_ = RoundInt(bitmap_->Height() * zoomFactor_);
    offsetX_ = offsetY_ = 0;
    const int aw = DrawAreaWidth(), ah = DrawAreaHeight();
    visibleWidth_ = std::min(extentX_, aw);
    visibleHeight_ = std::min(extentY_, ah);
    if (center_) {
        if (aw > visibleWidth_) offsetX_ = int(unsigned(aw - visibleWidth_) >> 1);
        if (ah > visibleHeight_) offsetY_ = int(unsigned(ah - visibleHeight_) >> 1);
    }
    dirty_ = true;
    if (HasParentWindow()) Invalidate();
}

void TLuxView::UpdateOnce() {
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    if (AutoFit && bw > 0 && bh > 0) {
        int mx = 0, my = 0;
        if (backgroundStyle_ == lxbsCropped) mx = my = kEdge;
        else if (backgroundStyle_ == lxbsCropShadow) mx = my = kShadowMargin;
        double z = DMin((DrawAreaWidth() - 2.0 * mx) / (bw / 100.0),
                        (DrawAreaHeight() - 2.0 * my) / (bh / 100.0));
        if (z < 1.0) z = 1.0;
        const double limit = double(INT_MAX) / std::max(bw, bh) * 100.0;
        if (z > limit) z = limit;
        SetZoomFactors(z);
        DoViewChange(1);
    }
    if (bw != lastWidth_ || bh != lastHeight_) {
        lastWidth_ = bw;
        lastHeight_ = bh;
        ClearSelection();
        selMask_->AllocBits(bw, bh, 1);
        if (alphaMask_->Width != bw || alphaMask_->Height != bh) {
            alphaMask_->AllocBits(bw, bh, 8);
            alphaMask_->Fill(255);
        }
    }
    int mx, my;
    GetMaxViewXY(mx, my);
    bool moved = false;
    if (viewX_ > mx) { viewX_ = mx; moved = true; }
    if (viewY_ > my) { viewY_ = my; moved = true; }
    if (moved) DoViewChange(0);
    if (!HasParentWindow()) return;
    try {
        auto bar = [&](bool horz) {
            const bool want = horz ? (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth)
                                   : (scrollBars_ == ssVertical || scrollBars_ == ssBoth);
            if (!want) return;
            const int kind = horz ? SB_HORZ : SB_VERT;
            const int maxv = horz ? mx : my;
            bool& shown = horz ? hBarShown_ : vBarShown_;
            double& scale = horz ? hScale_ : vScale_;
            if (maxv > 0) {
                shown = true;
                const int area = horz ? DrawAreaWidth() : DrawAreaHeight();
                scale = (double(area) + maxv) / kScrollUnits;
                SetScrollRange(this, kind, 0, kScrollUnits - 1, false);
                SCROLLINFO si;
                si.fMask = SIF_PAGE;
                si.nPage = unsigned(std::max(TruncInt(area / scale), 0));
                SetScrollInfo(this, kind, &si, true);
                SetScrollPos(this, kind, TruncInt((horz ? viewX_ : viewY_) / scale), false);
                EnableScrollBar(this, kind, ESB_ENABLE_BOTH);
                ShowScrollBar(this, kind, true);
            } else {
                shown = false;
                ShowScrollBar(this, kind, false);
            }
        };
        bar(true);
        bar(false);
    } catch (...) {
        // A failing bar leaves the rest of the update to run.
    }
}

void TLuxView::SetScrollBars(TScrollStyle Value) {
    scrollBars_ = Value;
    if (Value != ssVertical && Value != ssBoth) {
        vBarShown_ = false;
        ShowScrollBar(this, SB_VERT, false);
    }
    if (Value != ssHorizontal && Value != ssBoth) {
        hBarShown_ = false;
        ShowScrollBar(this, SB_HORZ, false);
    }
    Update();
}

void TLuxView::SetZoomFilter(TResampleFilter Value) {
    if (Value == zoomFilter_) return;
    zoomFilter_ = Value;
    Update();
}

void TLuxView::SetCenter(bool Value) {
    if (Value == center_) return;
    center_ = Value;
    Update();
}

void TLuxView::SetBackgroundStyle(TLXBackgroundStyle Value) {
    backgroundStyle_ = Value;
    Invalidate();
    Update();
}

void TLuxView::SetEnableAlphaChannel(bool Value) {
    enableAlpha_ = Value;
    Update();
}

int TLuxView::BitmapToClientX(int X) {
    return RoundInt((RoundInt(-viewX_ * invZoomFactor_) + double(X)) * zoomFactor_ + offsetX_);
}
int TLuxView::BitmapToClientY(int Y) {
    return RoundInt((RoundInt(-viewY_ * invZoomFactor_) + double(Y)) * zoomFactor_ + offsetY_);
}
int TLuxView::ClientToBitmapX(int X) {
    UpdateSourceRect();
    return TruncInt((double(X) - offsetX_) * invZoomFactor_ + srcX_);
}
int TLuxView::ClientToBitmapY(int Y) {
    UpdateSourceRect();
    return TruncInt((double(Y) - offsetY_) * invZoomFactor_ + srcY_);
}

void TLuxView::ZoomAt(int X, int Y, double NewZoom) {
    LockPaint();
    const int bx = ClientToBitmapX(X), by = ClientToBitmapY(Y);
    SetZoom(NewZoom);
    const double f = zoom_ / 100.0;
    SetViewXY(TruncInt(bx * f - DrawAreaWidth() / 2), TruncInt(by * f - DrawAreaHeight() / 2));
    UnlockPaint();
}

void TLuxView::ZoomSelection() {
    // A box touching the left or top edge (column or row 0) is zoomed to as well.
    if (!selectionExists_ || sel_.Points.empty()) return;
    const int left = sel_.Left, top = sel_.Top;
    const int64_t w = int64_t(sel_.Right) - left + 1, h = int64_t(sel_.Bottom) - top + 1;
    if (left < 0 || top < 0 || w < 2 || h < 2) return;
    LockPaint();
    ClearSelection();
    SetZoom(DMin(Height() / (h / 100.0), Width() / (w / 100.0)));
    const double f = zoom_ / 100.0;
    SetViewXY(ClampInt(int64_t(TruncInt(left * f)) - (DrawAreaWidth() - TruncInt(w * f)) / 2),
              ClampInt(int64_t(TruncInt(top * f)) - (DrawAreaHeight() - TruncInt(h * f)) / 2));
    UnlockPaint();
}

void TLuxView::FillWithBackground() {
    if (!bitmap_->Empty()) {
        TCanvas* c = bitmap_->Canvas();
        c->Brush()->SetColor(Background());
        c->Brush()->SetStyle(bsSolid);
        c->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
        bitmap_->FlushCanvas();
    }
    Update();
}

void TLuxView::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    TLXView::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (ComponentState() & (csLoading | csReading | csDesigning)) {
        bitmap_->SetSize(std::max(0, Width()), std::max(0, Height()));
        FillWithBackground();
    }
}

void TLuxView::Assign(TPersistent* Source) {
    if (!Source) {
        FillWithBackground();
        return;
    }
    if (auto* v = dynamic_cast<TLuxView*>(Source)) {
        if (v == this) return;
        CopyBitmap(v->bitmap_.get(), bitmap_.get());
        alphaMask_->Assign(v->alphaMask_.get());
        TLXView::SetBackground(v->Background());
        SetDpi(v->DpiX(), v->DpiY());
        Update();
        ImageChange();
        return;
    }
    if (auto* b = dynamic_cast<TBitmap*>(Source)) {
        if (b == bitmap_.get()) return;
        if (b->PixelFormat() == pf24bit || b->PixelFormat() == pf1bit) {
            CopyBitmap(b, bitmap_.get());
        } else {
            bitmap_->SetSize(1, 1);
            bitmap_->SetPixelFormat(pf24bit);
            bitmap_->SetSize(b->Width(), b->Height());
            bitmap_->Canvas()->Draw(0, 0, b);
            bitmap_->FlushCanvas();
        }
        Update();
        ImageChange();
    }
}

// ---------------------------------------------------------------------------------------------
// Scroll bars, wheel, mouse
// ---------------------------------------------------------------------------------------------

namespace {
int ScrollTarget(int Code, int Pos, int Offset, int Unit, int Area, int Max, double Scale,
                 const TLXScrollBarParams& P, bool& Move) {
    Move = true;
    const int64_t u = Unit;
    switch (Code) {
    case SB_LINEUP: return ClampInt(Offset - (P.LineStep == -1 ? u : u * P.LineStep));
    case SB_LINEDOWN: return ClampInt(Offset + (P.LineStep == -1 ? u : u * P.LineStep));
    case SB_PAGEUP: return ClampInt(Offset - (P.PageStep == -1 ? int64_t(Area) : u * P.PageStep));
    case SB_PAGEDOWN: return ClampInt(Offset + (P.PageStep == -1 ? int64_t(Area) : u * P.PageStep));
    case SB_THUMBTRACK:
        if (!P.Tracking) break;
        return TruncInt(double(Pos & 0xFFFF) * Scale);
    case SB_THUMBPOSITION: return TruncInt(double(Pos & 0xFFFF) * Scale);
    case SB_TOP: return 0;
    case SB_BOTTOM: return Max;
    default: break;
    }
    Move = false;
    return Offset;
}
}  // namespace

void TLuxView::WMHScroll(int Code, int Pos) {
    TLXView::WMHScroll(Code, Pos);
    int mx, my;
    GetMaxViewXY(mx, my);
    bool move;
    const int v = ScrollTarget(Code, Pos, viewX_, std::max(TruncInt(zoomFactor_), 1),
                               DrawAreaWidth(), mx, hScale_, *hParams_, move);
    if (move) SetViewX(v);
}

void TLuxView::WMVScroll(int Code, int Pos) {
    TLXView::WMVScroll(Code, Pos);
    int mx, my;
    GetMaxViewXY(mx, my);
    bool move;
    const int v = ScrollTarget(Code, Pos, viewY_, std::max(TruncInt(zoomFactor_), 1),
                               DrawAreaHeight(), my, vScale_, *vParams_, move);
    if (move) SetViewY(v);
}

void TLuxView::WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
    TLXView::WMMouseWheel(Shift, WheelDelta, MousePos);
    const TLXMouseWheelParams& p = *wheelParams_;
    if (p.Action == 0) return;
    const int d = p.Direction(WheelDelta);
    if (p.Action == 1) {
        int64_t step;
        if (p.Variation == 0) step = int64_t(d) * p.Value * std::max(TruncInt(zoomFactor_), 1);
        else if (p.Variation == 1)
            step = int64_t(d) * std::max(RoundInt(DrawAreaHeight() * double(p.Value) / 100.0), 1);
        else return;
        SetViewY(ClampInt(viewY_ + step));
    } else if (p.Action == 2) {
        double change;
        if (p.Variation == 0) change = double(d) * p.Value;
        else if (p.Variation == 1) change = double(d) * std::max(RoundInt(zoom_ * p.Value / 100.0), 1);
        else return;
        SetZoom(zoom_ + change);
    }
}

// ---------------------------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------------------------

void TLuxView::UpdateSourceRect() {
    srcX_ = srcY_ = srcWidth_ = srcHeight_ = 0;
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    if (extentX_ != 0) {
        const double a = double(bw) / extentX_;
        srcX_ = RoundInt(viewX_ * a);
        srcWidth_ = RoundInt(a * visibleWidth_);
        if (int64_t(srcX_) + srcWidth_ > bw) --srcWidth_;
    }
    if (extentY_ != 0) {
        const double a = double(bh) / extentY_;
        srcY_ = RoundInt(viewY_ * a);
        srcHeight_ = RoundInt(a * visibleHeight_);
        if (int64_t(srcY_) + srcHeight_ > bh) --srcHeight_;
    }
    if (zoom_ <= 100.0) {
        destWidth_ = visibleWidth_;
        destHeight_ = visibleHeight_;
        return;
    }
    destWidth_ = TruncInt(srcWidth_ * zoomFactor_);
    if (destWidth_ < visibleWidth_ && int64_t(srcX_) + srcWidth_ < bw) {
        ++srcWidth_;
        destWidth_ = TruncInt(srcWidth_ * zoomFactor_);
    }
    destHeight_ = TruncInt(srcHeight_ * zoomFactor_);
    if (destHeight_ < visibleHeight_ && int64_t(srcY_) + srcHeight_ < bh) {
        ++srcHeight_;
        destHeight_ = TruncInt(srcHeight_ * zoomFactor_);
    }
}

void TLuxView::PaintToBitmap(TBitmap* Target, uint8_t* const* RowTable, const TRect* ClipRect) {
    if (!Target) return;
    UpdateSourceRect();
    if (Target->PixelFormat() != pf24bit) Target->SetPixelFormat(pf24bit);
    const int tw = Target->Width(), th = Target->Height();
    if (tw <= 0 || th <= 0) return;
    const bool alpha = enableAlpha_ && !alphaMask_->Full;
    TBitmap* bmp = bitmap_.get();
    const int bw = bmp->Width(), bh = bmp->Height();
    const bool mono = bmp->PixelFormat() == pf1bit;
    // Whether step 3 draws the picture over the background.
    const bool draws = bw > 0 && bh > 0 && !(bw == 1 && bh == 1) && alphaMask_->Width == bw &&
                       alphaMask_->Height == bh && destWidth_ > 0 && destHeight_ > 0 &&
                       srcWidth_ > 0 && srcHeight_ > 0 && (mono || bmp->PixelFormat() == pf24bit);
    const int y0 = std::max(offsetY_, 0);
    const int y1 = int(std::min<int64_t>(int64_t(offsetY_) + destHeight_ - 1, th - 1));
    const int x0 = std::max(offsetX_, 0);
    const int x1 = int(std::min<int64_t>(int64_t(offsetX_) + destWidth_ - 1, tw - 1));
    if (offsetX_ > 0 || offsetY_ > 0 || destWidth_ < tw || destHeight_ < th || alpha) {
        if (backgroundStyle_ == lxbsSolid && !alpha) {
            // A plain colour under an opaque picture: only the uncovered pixels need it, and
            // they are written directly (the same pixels the brush would give).
            const TColor rgb = ColorToRGB(Background());
            const uint8_t px[3] = {uint8_t(GetBValue(rgb)), uint8_t(GetGValue(rgb)), uint8_t(GetRValue(rgb))};
            int cl = 0, ct = 0, cr = tw - 1, cb = th - 1;
            if (ClipRect) {
                cl = std::max(cl, ClipRect->Left);
                ct = std::max(ct, ClipRect->Top);
                cr = std::min(cr, ClipRect->Right);
                cb = std::min(cb, ClipRect->Bottom);
            }
            Target->FlushCanvas();
            auto fill = [&](uint8_t* row, int a, int b) {
                for (int x = a; x <= b; ++x) {
                    uint8_t* q = row + size_t(x) * 3;
                    q[0] = px[0]; q[1] = px[1]; q[2] = px[2];
                }
            };
            for (int y = ct; y <= cb; ++y) {
                uint8_t* row = Target->ScanLine(y);
                if (draws && y >= y0 && y <= y1 && x1 >= x0) {
                    fill(row, cl, std::min(cr, x0 - 1));
                    fill(row, std::max(cl, x1 + 1), cr);
                } else {
                    fill(row, cl, cr);
                }
            }
            Target->SetModified(true);
        } else {
            TCanvas* c = Target->Canvas();
            if (ClipRect)
                c->IntersectClipRect(
                    Rect(ClipRect->Left, ClipRect->Top, ClampInt(int64_t(ClipRect->Right) + 1),
                         ClampInt(int64_t(ClipRect->Bottom) + 1)));
            LXDrawBackground(ComponentState(), c, backgroundStyle_, bsSolid, kChessSquare, offsetX_,
                             offsetY_, ClampInt(int64_t(offsetX_) + destWidth_),
                             ClampInt(int64_t(offsetY_) + destHeight_), tw, th, Background());
            c->ResetClip();
            Target->FlushCanvas();
        }
    }
    if (!draws) return;

    std::vector<uint8_t*> own;
    if (!RowTable) {
        own.resize(size_t(th));
        for (int y = 0; y < th; ++y) own[size_t(y)] = Target->ScanLine(y);
        RowTable = own.data();
    }
    // 14-bit fixed-point steps; products in 64 bits so very wide sources stay in range.
    const int64_t syStep = int64_t(double(srcHeight_) / destHeight_ * 16384.0);
    const int64_t sxStep = int64_t(double(srcWidth_) / destWidth_ * 16384.0);
    if (y1 < y0 || x1 < x0) return;
    int cx0 = x0, cx1 = x1, cy0 = y0, cy1 = y1;
    if (ClipRect) {
        cy0 = std::max(cy0, ClipRect->Top);
        cy1 = std::min(cy1, ClipRect->Bottom);
        cx0 = std::max(cx0, ClipRect->Left);
        cx1 = std::min(cx1, ClipRect->Right);
        if (cy1 < cy0) return;
    }
    auto srcCol = [&](int x) {
        const int64_t s = sxStep * (int64_t(x) - offsetX_) / 16384 + srcX_;
        return int(s < 0 ? 0 : s >= bw ? bw - 1 : s);
    };
    auto srcRow = [&](int y) {
        const int64_t s = syStep * (int64_t(y) - offsetY_) / 16384 + srcY_;
        return int(s < 0 ? 0 : s >= bh ? bh - 1 : s);
    };
    // Source column of each target column, computed once.
    std::vector<int> cols(size_t(x1 - x0 + 1));
    for (int x = x0; x <= x1; ++x) cols[size_t(x - x0)] = srcCol(x);
    const bool solid = backgroundStyle_ == lxbsSolid;
    const bool unscaled = syStep == 16384 && sxStep == 16384;
    int prevRow = -1, prevY = -1;
    for (int y = cy0; y <= cy1; ++y) {
        const int sy = srcRow(y);
        uint8_t* d = RowTable[y];
        const uint8_t* s = bmp->ScanLine(sy);
        if (!alpha && solid && !unscaled && sy == prevRow && prevY >= 0) {
            std::memcpy(d + size_t(x0) * 3, RowTable[prevY] + size_t(x0) * 3, size_t(x1 - x0 + 1) * 3);
            prevY = y;
            continue;
        }
        if (!mono && !alpha) {
            if (unscaled) {
                const int n = std::min(x1, cx1) - std::max(x0, cx0) + 1;
                if (n > 0) {
                    const int sc = cols[size_t(std::max(x0, cx0) - x0)];
                    const int cnt = std::min(n, bw - sc);
                    if (cnt > 0) std::memcpy(d + size_t(std::max(x0, cx0)) * 3, s + size_t(sc) * 3, size_t(cnt) * 3);
                }
            } else {
                // Four-byte moves where both the source pixel and the target pixel have a
                // neighbour after them in the row (the spilled byte is rewritten next).
                const int xe = std::min(x1, cx1);
                int x = std::max(x0, cx0);
                for (; x < xe; ++x) {
                    const int sc = cols[size_t(x - x0)];
                    const uint8_t* p = s + size_t(sc) * 3;
                    uint8_t* q = d + size_t(x) * 3;
                    if (sc + 1 < bw) {
                        uint32_t v;
                        std::memcpy(&v, p, 4);
                        std::memcpy(q, &v, 4);
                    } else {
                        q[0] = p[0]; q[1] = p[1]; q[2] = p[2];
                    }
                }
                if (x == xe) {
                    const uint8_t* p = s + size_t(cols[size_t(x - x0)]) * 3;
                    uint8_t* q = d + size_t(x) * 3;
                    q[0] = p[0]; q[1] = p[1]; q[2] = p[2];
                }
            }
        } else if (!mono) {
            const uint8_t* a = alphaMask_->ScanLine(sy);
            for (int x = std::max(x0, cx0); x <= std::min(x1, cx1); ++x) {
                const int sc = cols[size_t(x - x0)];
                const uint8_t* p = s + size_t(sc) * 3;
                uint8_t* q = d + size_t(x) * 3;
                const int A = a[sc];
                for (int k = 0; k < 3; ++k)
                    q[k] = uint8_t(q[k] + ((int(p[k]) - q[k]) * A >> 8));   // floor of /256
            }
        } else if (!alpha) {
            for (int x = x0; x <= x1; ++x) {
                const int sc = cols[size_t(x - x0)];
                const uint8_t v = (s[sc >> 3] & (0x80 >> (sc & 7))) ? 255 : 0;
                uint8_t* q = d + size_t(x) * 3;
                q[0] = q[1] = q[2] = v;
            }
        } else {
            const uint8_t* a = alphaMask_->ScanLine(sy);
            for (int x = x0; x <= x1; ++x) {
                const int sc = cols[size_t(x - x0)];
                const int S = (s[sc >> 3] & (0x80 >> (sc & 7))) ? 255 : 0;
                uint8_t* q = d + size_t(x) * 3;
                const int r = q[2] + ((S - q[2]) * a[sc] >> 8);
                q[0] = q[1] = q[2] = uint8_t(r);
            }
        }
        prevRow = sy;
        prevY = y;
    }
    if (FilledSelectionShown()) {
        DrawFilledSelection(Target->Canvas());
        Target->FlushCanvas();
    }
}

void TLuxView::PaintToCanvas(TCanvas* Canvas) {
    if (!Canvas) return;
    const int aw = DrawAreaWidth(), ah = DrawAreaHeight();
    TBitmap* bmp = bitmap_.get();
    if (bmp->Width() <= 0 || bmp->Height() <= 0) {
        LXDrawBackground(ComponentState(), Canvas, backgroundStyle_, bsSolid, kChessSquare, 0, 0, 0,
                         0, aw, ah, Background());
        return;
    }
    UpdateSourceRect();
    const TRect img = Rect(offsetX_, offsetY_, ClampInt(int64_t(offsetX_) + destWidth_),
                           ClampInt(int64_t(offsetY_) + destHeight_));
    if (center_ || aw > destWidth_ || ah > destHeight_) {
        const TRect keep = center_ ? img : Rect(0, 0, destWidth_, destHeight_);
        Canvas->ExcludeClipRect(keep);
        LXDrawBackground(ComponentState(), Canvas, backgroundStyle_, bsSolid, kChessSquare,
                         keep.Left, keep.Top, keep.Right, keep.Bottom, aw, ah, Background());
        Canvas->ResetClip();
    }
    const bool mono = bmp->PixelFormat() == pf1bit;
    if (!mono && bmp->PixelFormat() != pf24bit) return;
    BITMAPINFO1 info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = bmp->Width();
    info.bmiHeader.biHeight = bmp->Height();
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = mono ? 1 : 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiColors[1] = RGBQUAD{255, 255, 255, 0};
    const bool filtered = zoomFilter_ != rfNone && filterDelay_ < 1 && zoom_ != 100.0 &&
                          bmp->Width() >= 2 && bmp->Height() >= 2 && srcWidth_ > 3 && srcHeight_ > 3;
    if (filtered && destWidth_ > 0 && destHeight_ > 0) {
        BITMAPINFOHEADER h{};
        h.biSize = 40;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biWidth = destWidth_;
        h.biHeight = destHeight_;
        if (zoom_ > 100.0 || !mono) {
            TBitmap crop, out;
            CropBitmap(bmp, &crop, srcX_, srcY_, srcX_ + srcWidth_, srcY_ + srcHeight_);
            out.SetPixelFormat(pf24bit);
            out.SetSize(destWidth_, destHeight_);
            if (mono) Resample1To24(&crop, &out, zoomFilter_);
            else Resample24(&crop, &out, zoomFilter_);
            DrawDibDraw(Canvas, offsetX_, offsetY_, destWidth_, destHeight_, &h, out.PixelBlock(), 0, 0,
                        destWidth_, destHeight_);
        } else {
            auto block = RenderMonoDIB(bmp->PixelBlock(), bmp->Width(), bmp->Height(), srcX_, srcY_,
                                       srcX_ + srcWidth_ - 1, srcY_ + srcHeight_ - 1, destWidth_,
                                       destHeight_);
            if (block)
                DrawDibDraw(Canvas, offsetX_, offsetY_, destWidth_, destHeight_, &h, block.get(), 0, 0,
                            destWidth_, destHeight_);
        }
    } else {
        try {
            DrawDibDraw(Canvas, offsetX_, offsetY_, destWidth_, destHeight_, &info.bmiHeader,
                        bmp->PixelBlock(), srcX_, srcY_, srcWidth_, srcHeight_);
        } catch (...) {
        }
    }
    DrawFilledSelection(Canvas);
}

void TLuxView::PaintBackBuffer(const TRect& ClipRect) {
    const int aw = DrawAreaWidth(), ah = DrawAreaHeight();
    if (backBuffer_->Width() != aw || backBuffer_->Height() != ah) {
        backBuffer_->SetSize(aw, ah);
        backRows_.assign(size_t(std::max(ah, 0)), nullptr);
        for (int y = 0; y < ah; ++y) backRows_[size_t(y)] = backBuffer_->ScanLine(y);
        dirty_ = true;
    }
    if (aw <= 0 || ah <= 0) return;
    if (dirty_) {
        if (zoomFilter_ != rfNone || !HasParentWindow()) {
            PaintToCanvas(backBuffer_->Canvas());
            backBuffer_->FlushCanvas();
        } else {
            // The whole buffer: a render limited to the clip would leave stale parts that a
            // later paint of another region would show.
            PaintToBitmap(backBuffer_.get(), backRows_.data(), nullptr);
        }
        dirty_ = false;
    }
    if (!HasParentWindow()) return;
    // The unstretched DrawDib copy of the clip rectangle, straight into the control's surface.
    const int w = std::min(ClipRect.Width(), aw), hh = std::min(ClipRect.Height(), ah);
    if (w <= 0 || hh <= 0) return;
    Blit24To32(backBuffer_.get(), Surface(), Bounds(ClipRect.Left, ClipRect.Top, w, hh));
    // The selection's outline, grips and rubber line go over the copied picture.
    TRect shown;
    if (IntersectRect(shown, Bounds(ClipRect.Left, ClipRect.Top, w, hh), Rect(0, 0, aw, ah)))
        PaintSelectionOverlay(shown);
}

void TLuxView::Paint() {
    if (DrawAreaWidth() <= 0 || DrawAreaHeight() <= 0) return;
    if (lockCount_ == 0) PaintBackBuffer(Canvas()->ClipRect());
    if (OnPaint) OnPaint(this);
}

void TLuxView::WMSize() {
    TLXView::WMSize();
    Update();
}

void TLuxView::DoEnter() {
    TLXView::DoEnter();
    Invalidate();
}

void TLuxView::DoExit() {
    TLXView::DoExit();
    Invalidate();
}

void TLuxView::ViewTimerTick(TObject*) {
    if (filterDelay_ > 0) {
        --filterDelay_;
        if (filterDelay_ == 0) Update();
    }
    if (changeCountdown_ > 0) --changeCountdown_;
    if (HasParentWindow()) DrawSelectionOutline(true);
}

// ---------------------------------------------------------------------------------------------
// Transitions
// ---------------------------------------------------------------------------------------------

void TLuxView::PrepareTransition() {
    const int aw = DrawAreaWidth(), ah = DrawAreaHeight();
    if (aw == 0 || ah == 0) return;
    engine_->SetSize(aw, ah);
    PaintToBitmap(engine_->FromBitmap(), nullptr, nullptr);
}

void TLuxView::RunTransition(TLXTransitionType Effect, int Duration) {
    if (DrawAreaWidth() == 0 || DrawAreaHeight() == 0) return;
    transitionDuration_ = Duration;
    engine_->TransitionEffect = Effect;
    engine_->TransitionDuration = Duration;
    PaintToBitmap(engine_->ToBitmap(), nullptr, nullptr);
    engine_->Start(true);
}

bool TLuxView::TransitionRunning() const { return engine_->Running(); }

void TLuxView::PresentFrame(TBitmap* Frame, int W, int H) {
    // Straight onto the retained surface, outside the paint cycle; the paint lock keeps the
    // view's own painting from covering it.
    if (!Frame || W <= 0 || H <= 0) return;
    Blit24To32(Frame, Surface(), Rect(0, 0, W, H));
}

void TLuxView::AbortTransition() { engine_->Stop(); }
