#include "LuxMView.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

#include "LuxIO.h"
#include "LuxProc.h"
#include "lxutils.h"

std::string LuxImageStoreFolder;

namespace {

// Round with ties to even, limited to the int range.
int RoundInt(double v) {
    if (!(v == v)) return 0;
    if (v >= double(INT_MAX)) return INT_MAX;
    if (v <= double(INT_MIN)) return INT_MIN;
    return int(std::nearbyint(v));
}

int ClampInt(int64_t v) { return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

constexpr int ScrollUnits = 65536;

}  // namespace

void LXDraw3DFrame(TCanvas* Canvas, int Left, int Top, TColor Color1, TColor Color2, int Bottom,
                   int Right) {
    TPen* pen = Canvas->Pen();
    pen->SetMode(pmCopy);
    pen->SetStyle(psSolid);
    pen->SetColor(Color2);
    Canvas->MoveTo(Left, Bottom);
    Canvas->LineTo(Left, Top);
    Canvas->LineTo(Right, Top);
    pen->SetColor(Color1);
    Canvas->MoveTo(Right, Top);
    Canvas->LineTo(Right, Bottom);
    Canvas->LineTo(Left - 1, Bottom);
}

void LXFitSize(int w, int h, int maxW, int maxH, int& dw, int& dh) {
    dw = dh = 0;
    if (w <= 0 || h <= 0) return;
    const double s = std::min(double(maxH) / h, double(maxW) / w);
    dw = std::max(1, RoundInt(w * s));
    dh = std::max(1, RoundInt(h * s));
}

// =============================================================================================
// Construction
// =============================================================================================

TLuxMView::TLuxMView(TComponent* AOwner)
    : TLXView(AOwner),
      store_(std::make_unique<TLXVirtualDIBList>(LuxImageStoreFolder)),
      io_(std::make_unique<TLuxIO>(nullptr)),
      hParams_(std::make_unique<TLXScrollBarParams>()),
      vParams_(std::make_unique<TLXScrollBarParams>()),
      timer_(std::make_unique<TTimer>(nullptr)) {
    engine_ = std::make_unique<TLXTransitionEffects>(this);
    store_->SetMaxMapped(cacheSize_);
    timer_->SetEnabled(false);
    timer_->OnTimer = MakeMethod(this, &TLuxMView::TimerTick);
    TabStop = true;
    SetBounds(Left(), Top(), 180, 90);
}

TLuxMView::~TLuxMView() {
    // Attached components let go while the entries and the selected bitmap still exist.
    NotifyDestroying();
    engine_.reset();
    destroying_ = true;
    StopTimer();
    Deselect();
    store_.reset();
    entries_.clear();
    io_.reset();
}

// =============================================================================================
// Entries
// =============================================================================================

TLuxMView::TEntry* TLuxMView::Entry(int Index) {
    if (Index < 0 || Index >= ImageCount()) return nullptr;
    return entries_[size_t(Index)].get();
}

void TLuxMView::NoteChange(int Kind, int Index) {
    lastChange_ = Kind;
    lastChangeIndex_ = Index;
}

int TLuxMView::TakeLastChange() {
    const int k = lastChange_;
    lastChange_ = 0;
    return k;
}

int TLuxMView::InsertImage(int Index, const std::string& FileName, int ImageID) {
    Index = std::clamp(Index, 0, ImageCount());
    auto e = std::make_unique<TEntry>();
    e->FileName = FileName;
    e->ImageID = ImageID < 0 ? -1 : ImageID;
    e->Background = ThumbnailsBackground;
    entries_.insert(entries_.begin() + Index, std::move(e));
    if (selected_ >= Index) ++selected_;   // the same picture stays selected
    if (playbackActive_ && savedSelected_ >= Index) ++savedSelected_;
    Update();
    NoteChange(1, Index);
    CallBitmapChangeEvents();
    return Index;
}

int TLuxMView::AppendBitmap(TBitmap* Bitmap) {
    const int i = AppendImage();
    SetEntryBitmap(i, Bitmap);
    return i;
}

// =============================================================================================
// Layout and scrolling
// =============================================================================================

int TLuxMView::Columns() const {
    if (gridWidth_ > 0) return gridWidth_;
    if (gridWidth_ != -1) return 0;
    const int64_t div = int64_t(hBorder_) + thumbW_;
    if (div <= 0) return 0;   // no division by a zero or negative cell width: one row
    return int(std::max<int64_t>(0, (int64_t(ClientWidth()) - hBorder_) / div));
}

void TLuxMView::LayoutThumbnails() {
    const int cols = Columns();
    int64_t col = 0, row = 0, maxX = 0, maxY = 0;
    for (auto& e : entries_) {
        int64_t x = col * (int64_t(thumbW_) + hBorder_), y = row * (int64_t(thumbH_) + vBorder_);
        if (displayMode_ == mdGrid) {
            x += hBorder_;
            y += vBorder_;
        }
        e->X = ClampInt(x);
        e->Y = ClampInt(y);
        e->Row = ClampInt(row);
        e->Col = ClampInt(col);
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
        ++col;
        if (displayMode_ == mdSingle) {
            col = row = 0;
        } else if (cols > 0 && col >= cols) {
            col = 0;
            ++row;
        }
    }
    if (entries_.empty()) {
        extentW_ = extentH_ = 0;
    } else {
        extentW_ = ClampInt(maxX + thumbW_ + hBorder_);
        extentH_ = ClampInt(maxY + thumbH_ + vBorder_);
    }
}

void TLuxMView::GetMaxViewXY(int& MaxX, int& MaxY) {
    MaxX = std::max(extentW_ - ClientWidth(), 0);
    MaxY = std::max(extentH_ - ClientHeight(), 0);
}

void TLuxMView::SetViewX(int X) {
    if (X == viewX_) return;
    int mx, my;
    GetMaxViewXY(mx, my);
    viewX_ = std::clamp(X, 0, mx);
    Invalidate();
    if ((scrollBars_ == ssHorizontal || scrollBars_ == ssBoth) && hScale_ > 0 && HasParentWindow())
        SetScrollPos(this, SB_HORZ, RoundInt(viewX_ / hScale_), true);
}

void TLuxMView::SetViewY(int Y) {
    if (Y == viewY_) return;
    int mx, my;
    GetMaxViewXY(mx, my);
    viewY_ = std::clamp(Y, 0, my);
    Invalidate();
    if ((scrollBars_ == ssVertical || scrollBars_ == ssBoth) && vScale_ > 0 && HasParentWindow())
        SetScrollPos(this, SB_VERT, RoundInt(viewY_ / vScale_), true);
}

void TLuxMView::SetViewXY(int X, int Y) {
    SetViewX(X);
    SetViewY(Y);
}

void TLuxMView::Update() {
    if (destroying_ || updating_) return;
    if (ComponentState() & (csLoading | csReading | csWriting | csDestroying)) return;
    if (!HasParentWindow()) return;
    updating_ = true;
    // A bar that appears or vanishes changes the client area: run again (a few rounds settle).
    for (int round = 0; round < 4; ++round) {
        LayoutThumbnails();
        const int cw = ClientWidth(), ch = ClientHeight();
        int mx, my;
        GetMaxViewXY(mx, my);
        bool moved = false;
        if (viewX_ > mx) { viewX_ = mx; moved = true; }
        if (viewY_ > my) { viewY_ = my; moved = true; }
        if (moved) DoViewChange(0);
        try {
            auto bar = [&](bool horz) {
                const bool want = horz ? (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth)
                                       : (scrollBars_ == ssVertical || scrollBars_ == ssBoth);
                if (!want) return;
                const int kind = horz ? SB_HORZ : SB_VERT;
                const int maxv = horz ? mx : my;
                if (maxv <= 0) {
                    if (showDisabledBars_) {
                        EnableScrollBar(this, kind, ESB_DISABLE_BOTH);
                        ShowScrollBar(this, kind, true);
                    } else {
                        ShowScrollBar(this, kind, false);
                    }
                    return;
                }
                const int client = horz ? cw : ch;
                const double scale = (double(client) + maxv - 1) / ScrollUnits;
                if (!(scale > 0)) return;   // a degenerate client area: no bar arithmetic
                (horz ? hScale_ : vScale_) = scale;
                SetScrollRange(this, kind, 0, ScrollUnits - 1, false);
                SCROLLINFO si;
                si.fMask = SIF_PAGE;
                si.nPage = unsigned(std::max(0, RoundInt(client / scale)));
                SetScrollInfo(this, kind, &si, true);
                SetScrollPos(this, kind, RoundInt((horz ? viewX_ : viewY_) / scale), false);
                EnableScrollBar(this, kind, ESB_ENABLE_BOTH);
                ShowScrollBar(this, kind, true);
            };
            bar(true);
            bar(false);
        } catch (const std::exception&) {
            // Scroll-bar trouble never stops a relayout.
        }
        if (ClientWidth() == cw && ClientHeight() == ch) break;
    }
    updating_ = false;
    CallBitmapChangeEvents();
    Invalidate();
}

void TLuxMView::SetScrollBars(TScrollStyle Value) {
    scrollBars_ = Value;
    if (HasParentWindow()) {
        if (Value != ssHorizontal && Value != ssBoth) ShowScrollBar(this, SB_HORZ, false);
        if (Value != ssVertical && Value != ssBoth) ShowScrollBar(this, SB_VERT, false);
    }
    Update();
}

void TLuxMView::DoViewChange(int Change) {
    if (OnViewChange) OnViewChange(this, Change);
}

void TLuxMView::SetMouseInteract(TLXMMouseInteract Value) { mouseInteract_ = Value; }
void TLuxMView::SetKeyInteract(TLXMKeyInteract Value) { keyInteract_ = Value; }

void TLuxMView::SetBackground(TColor Color) {
    TLXView::SetBackground(Color);
    Update();
}

void TLuxMView::SetDisplayMode(TLXMDisplayMode v) {
    if (playbackActive_) {
        savedMode_ = v;   // takes effect when playback ends
        return;
    }
    displayMode_ = v;
    Update();
}

void TLuxMView::SetImageCacheSize(int v) {
    cacheSize_ = v;
    store_->SetMaxMapped(v);
}

void TLuxMView::SetStyle(TLXMStyle v) {
    if (v == style_) return;
    style_ = v;
    Update();
}

void TLuxMView::SetSelectionStyle(TLXSStyle v) {
    if (v == selectionStyle_) return;
    selectionStyle_ = v;
    Update();
}

void TLuxMView::LockPaint() { ++lockCount_; }

void TLuxMView::UnlockPaint() {
    if (lockCount_ > 0) --lockCount_;
    if (lockCount_ == 0) Update();
}

void TLuxMView::UnlockPaintNoUpdate() {
    if (lockCount_ > 0) --lockCount_;
}

void TLuxMView::WMSize() {
    TLXView::WMSize();
    Update();
}

void TLuxMView::DoEnter() {
    TLXView::DoEnter();
    Invalidate();
}

void TLuxMView::DoExit() {
    TLXView::DoExit();
    Invalidate();
}

void TLuxMView::Scroll(bool Horizontal, int Code, int Pos) {
    const TLXScrollBarParams* p = Horizontal ? hParams_.get() : vParams_.get();
    const int offset = Horizontal ? viewX_ : viewY_;
    const int64_t unit = Horizontal ? int64_t(thumbW_) + hBorder_ : int64_t(thumbH_) + vBorder_;
    const int client = Horizontal ? ClientWidth() : ClientHeight();
    const double scale = Horizontal ? hScale_ : vScale_;
    int mx, my;
    GetMaxViewXY(mx, my);
    int64_t v = offset;
    switch (Code) {
    case SB_LINEUP: v = offset - (p->LineStep == -1 ? unit : p->LineStep); break;
    case SB_LINEDOWN: v = offset + (p->LineStep == -1 ? unit : p->LineStep); break;
    case SB_PAGEUP: v = offset - int64_t(p->PageStep == -1 ? client : p->PageStep); break;
    case SB_PAGEDOWN: v = offset + int64_t(p->PageStep == -1 ? client : p->PageStep); break;
    case SB_THUMBTRACK:
        if (!p->Tracking) return;
        [[fallthrough]];
    case SB_THUMBPOSITION: v = RoundInt(Pos * scale); break;
    case SB_TOP: v = 0; break;
    case SB_BOTTOM: v = Horizontal ? mx : my; break;
    default: return;
    }
    if (Horizontal) SetViewX(ClampInt(v));
    else SetViewY(ClampInt(v));
}

void TLuxMView::WMHScroll(int Code, int Pos) {
    TLXView::WMHScroll(Code, Pos);
    Scroll(true, Code, Pos);
}

void TLuxMView::WMVScroll(int Code, int Pos) {
    TLXView::WMVScroll(Code, Pos);
    Scroll(false, Code, Pos);
}

void TLuxMView::WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
    TLXView::WMMouseWheel(Shift, WheelDelta, MousePos);
    const int64_t step = int64_t(thumbH_) + vBorder_;
    SetViewY(ClampInt(WheelDelta > 0 ? viewY_ - step : viewY_ + step));
}

// =============================================================================================
// Mouse and keyboard
// =============================================================================================

void TLuxMView::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TLXView::MouseDown(Button, Shift, X, Y);
    if (doubleClick_) {
        doubleClick_ = false;
        return;
    }
    if (CanFocus()) SetFocus();
    downX_ = X;
    downY_ = Y;
    downViewX_ = viewX_;
    downViewY_ = viewY_;
}

void TLuxMView::WMLButtonDblClk(TShiftState Shift, int X, int Y) {
    doubleClick_ = true;
    TLXView::WMLButtonDblClk(Shift, X, Y);
}

void TLuxMView::MouseMove(TShiftState Shift, int X, int Y) {
    TLXView::MouseMove(Shift, X, Y);
    if (MouseCapture() && (mouseInteract_ & MMI(mmiScroll)))
        SetViewXY(ClampInt(int64_t(downViewX_) + downX_ - X), ClampInt(int64_t(downViewY_) + downY_ - Y));
}

void TLuxMView::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TLXView::MouseUp(Button, Shift, X, Y);
    if (playbackActive_) return;
    if (mouseInteract_ & MMI(mmiSelect)) {
        const int i = ImageAtPos(X, Y);
        if (i >= 0 && i != selected_) {
            SetSelected(i);
            if (visibleSelection_) Update();
            if (OnImageSelect) OnImageSelect(this, selected_);
            CallBitmapChangeEvents();
        }
    }
    if (mouseInteract_ & MMI(mmiScroll))
        SetViewXY(ClampInt(int64_t(downViewX_) + downX_ - X), ClampInt(int64_t(downViewY_) + downY_ - Y));
}

int TLuxMView::ImageAtPos(int X, int Y) {
    for (int i = 0; i < ImageCount(); ++i) {
        const TEntry& e = *entries_[size_t(i)];
        const int64_t l = int64_t(e.X) - viewX_, t = int64_t(e.Y) - viewY_;
        if (l <= X && X <= l + thumbW_ - 1 && t <= Y && Y <= t + thumbH_ - 1) return i;
    }
    return -1;
}

int TLuxMView::IsVisible(int Index) {
    const TEntry* e = Entry(Index);
    if (!e) return 0;
    const int l = ClampInt(int64_t(e->X) - viewX_), t = ClampInt(int64_t(e->Y) - viewY_);
    const int r = ClampInt(int64_t(l) + thumbW_ - 1), b = ClampInt(int64_t(t) + thumbH_ - 1);
    const int cw = ClientWidth() - 1, ch = ClientHeight() - 1;
    const int inc = LXRectInclusion(0, 0, cw, ch, l, t, r, b);
    // A cell that encloses or crosses the client area is partly visible, not hidden.
    if (inc == 0 && LXRectsOverlap(l, t, r, b, 0, 0, cw, ch)) return 1;
    return inc;
}

void TLuxMView::KeyDown(uint16_t& Key, TShiftState Shift) {
    TLXView::KeyDown(Key, Shift);
    if (playbackActive_) return;
    int kind = -1;
    switch (Key) {
    case VK_LEFT: kind = 0; break;
    case VK_RIGHT: kind = 1; break;
    case VK_UP: kind = 2; break;
    case VK_DOWN: kind = 3; break;
    case VK_HOME: kind = 4; break;
    case VK_END: kind = 5; break;
    case VK_NEXT: kind = 6; break;
    case VK_PRIOR: kind = 7; break;
    default: return;
    }
    MoveSelection(kind);
    Update();
}

void TLuxMView::ScrollUpRule(int) {
    const TEntry* e = Entry(selected_);
    if (!e) return;
    if (IsVisible(selected_) != 2) SetViewY(ClampInt(int64_t(e->Y) - vBorder_));
    if (IsVisible(selected_) != 2) SetViewX(ClampInt(int64_t(e->X) - hBorder_));
}

void TLuxMView::ScrollDownRule(int Target) {
    SelectImage(Target);
    const TEntry* e = Entry(selected_);
    if (!e) return;
    if (IsVisible(selected_) != 2)
        SetViewY(ClampInt(int64_t(e->Y) + thumbH_ + vBorder_ - ClientHeight()));
    if (IsVisible(selected_) != 2)
        SetViewX(ClampInt(int64_t(e->X) + thumbW_ + hBorder_ - ClientWidth()));
}

void TLuxMView::MoveSelection(int Kind) {
    const int n = ImageCount();
    if (n == 0) return;
    if (selected_ < 0 && Kind != 4 && Kind != 5) return;
    const int c = Columns();
    const int64_t rowsDiv = int64_t(vBorder_) + thumbH_;
    const int rows = rowsDiv > 0 ? int((int64_t(ClientHeight()) - vBorder_) / rowsDiv) : 0;
    const int page = ClampInt(int64_t(c) * rows);
    const int sel = selected_;
    switch (Kind) {
    case 0:
        SelectImage(sel - 1);
        if (const TEntry* e = Entry(selected_); e && IsVisible(selected_) != 2)
            SetViewXY(ClampInt(int64_t(e->X) - hBorder_), ClampInt(int64_t(e->Y) - vBorder_));
        break;
    case 1:
        SelectImage(sel + 1);
        if (const TEntry* e = Entry(selected_); e && IsVisible(selected_) != 2)
            SetViewXY(ClampInt(int64_t(e->X) + thumbW_ + hBorder_ - ClientWidth()),
                      ClampInt(int64_t(e->Y) + thumbH_ + vBorder_ - ClientHeight()));
        break;
    case 2:
        SelectImage(gridWidth_ != 0 ? std::max(sel - c, 0) : sel - 1);
        ScrollUpRule(selected_);
        break;
    case 3: ScrollDownRule(gridWidth_ != 0 ? std::min(ClampInt(int64_t(sel) + c), n - 1) : sel + 1); break;
    case 4:
        SelectImage(0);
        if (IsVisible(selected_) != 2) SetViewXY(0, 0);
        break;
    case 5: ScrollDownRule(n - 1); break;
    case 6: ScrollDownRule(ClampInt(int64_t(sel) + page)); break;
    case 7:
        SelectImage(ClampInt(int64_t(sel) - page));
        ScrollUpRule(selected_);
        break;
    default: break;
    }
}

// =============================================================================================
// Selection
// =============================================================================================

void TLuxMView::ReleaseSelected() {
    if (TEntry* e = Entry(selected_); e && e->Image && selectedBitmap_)
        store_->ReleaseImage(e->Image, true);
    selectedBitmap_ = nullptr;
}

void TLuxMView::SetSelected(int Index) {
    if (playbackActive_ || Index < 0 || Index >= ImageCount()) return;
    ReleaseSelected();
    selected_ = Index;
    selectedBitmap_ = GetEntryBitmap(Index);
}

void TLuxMView::SelectImage(int Index) {
    SetSelected(Index);
    Update();
    if (OnImageSelect) OnImageSelect(this, selected_);
}

void TLuxMView::Deselect() {
    ReleaseSelected();
    selected_ = -1;
}

// =============================================================================================
// Pictures
// =============================================================================================

TBitmap* TLuxMView::GetEntryBitmap(int Index) {
    TEntry* e = Entry(Index);
    if (!e) return nullptr;
    if (!e->Image) LoadEntryImage(Index);
    return e->Image ? store_->GetBitmap(e->Image) : nullptr;
}

namespace {
// The I/O component lends itself to one temporary bitmap for one load, whatever happens.
class TLoadTarget {
public:
    TLoadTarget(TLuxIO* IO, TBitmap* Bitmap) : io_(IO) { io_->SetAttachedBitmap(Bitmap); }
    ~TLoadTarget() {
        io_->SetAttachedBitmap(nullptr);
        io_->OnProgress.Clear();
    }
    TLoadTarget(const TLoadTarget&) = delete;
    TLoadTarget& operator=(const TLoadTarget&) = delete;

private:
    TLuxIO* io_;
};
}  // namespace

bool TLuxMView::LoadEntryImage(int Index) {
    TEntry* e = Entry(Index);
    if (!e) return false;
    try {
        if (e->ImageID >= 0 && OnImageIDRequest) {
            TBitmap* b = nullptr;
            OnImageIDRequest(this, e->ImageID, b);
            if (!b) return false;   // the application does not know the id
            SetEntryBitmap(Index, b);
            return true;
        }
        if (!e->FileName.empty()) {
            TBitmap tmp;
            tmp.SetPixelFormat(pf24bit);
            tmp.SetSize(1, 1);
            bool ok = false;
            {
                io_->SetBackground(e->Background);
                TLoadTarget target(io_.get(), &tmp);
                io_->OnProgress = OnIOProgress;
                TLXIOParams* p = io_->Params();
                if (StoreType == lxtThumb) {
                    p->JpegScale = 0;
                    p->Width = thumbW_;
                    p->Height = thumbH_;
                } else {
                    p->JpegScale = 1;
                }
                io_->LoadFromFile(e->FileName);
                ok = !io_->Aborting && !tmp.Empty();
            }
            if (!ok) return false;
            e->Background = io_->Background();
            SetEntryBitmap(Index, &tmp);
            return true;
        }
    } catch (...) {
        // A file that cannot be opened or decoded is an entry without a picture, never an
        // error that breaks off the paint.
        return false;
    }
    return true;
}

void TLuxMView::SetEntryBitmap(int Index, TBitmap* Bitmap) {
    TEntry* e = Entry(Index);
    if (!e || !Bitmap) return;
    const bool isSelected = Index == selected_;
    // The selected bitmap is the store's copy of the old picture: let go of it before the
    // picture goes, so that no attached component keeps a freed bitmap.
    if (isSelected) {
        if (e->Image && selectedBitmap_) store_->ReleaseImage(e->Image, false);   // replaced anyway
        selectedBitmap_ = nullptr;
    }
    if (e->Image) {
        store_->DeleteImage(e->Image);
        e->Image = nullptr;
    }
    // The views draw 1- and 24-bit pictures; any other format is stored as 24 bits.
    std::unique_ptr<TBitmap> converted;
    const TBitmap* src = Bitmap;
    if (Bitmap->PixelFormat() != pf1bit && Bitmap->PixelFormat() != pf24bit) {
        converted = std::make_unique<TBitmap>();
        converted->Assign(Bitmap);
        converted->SetPixelFormat(pf24bit);
        src = converted.get();
    }
    if (StoreType == lxtThumb) {
        int dw, dh;
        LXFitSize(src->Width(), src->Height(), thumbW_, thumbH_, dw, dh);
        if (dw > 0 && dh > 0) {   // an empty picture stores nothing
            TBitmap thumb;
            thumb.SetPixelFormat(pf24bit);
            thumb.SetSize(dw, dh);
            if (src->PixelFormat() == pf1bit)
                RenderMonoBlock(src, 0, 0, src->Width() - 1, src->Height() - 1, &thumb);
            else if (ThumbnailFilter == rfNone || (src->Width() < 2 && src->Height() < 2))
                DrawDibCopy(src, &thumb);
            else
                Resample24(const_cast<TBitmap*>(src), &thumb, ThumbnailFilter);
            e->Image = store_->AddBitmap(&thumb);
        }
    } else if (!src->Empty()) {
        e->Image = store_->AddBitmap(src);
    }
    if (isSelected) {
        selectedBitmap_ = e->Image ? store_->GetBitmap(e->Image) : nullptr;
        CallBitmapChangeEvents();
    }
}

bool TLuxMView::DeleteImage(int Index) {
    SetPlaybackActive(false);
    if (Index < 0 || Index >= ImageCount()) return false;
    const int oldSel = selected_;
    const bool wasLast = Index == ImageCount() - 1;
    Deselect();
    TEntry* e = entries_[size_t(Index)].get();
    if (e->Image) store_->DeleteImage(e->Image);
    entries_.erase(entries_.begin() + Index);
    int sel = oldSel;
    if (oldSel == Index && wasLast) sel = ImageCount() - 1;
    else if (oldSel > Index) sel = oldSel - 1;
    SetSelected(sel);
    NoteChange(2, Index);
    CallBitmapChangeEvents();
    // The grid closes up at once.
    Update();
    return true;
}

// =============================================================================================
// Painting
// =============================================================================================

void TLuxMView::Paint() {
    if (lockCount_ == 0) PaintTo(Canvas());
}

void TLuxMView::PaintCaption(TCanvas* Canvas, TLXMCaption& Text, bool Highlight) {
    Canvas->Font()->Assign(&Text.Font);
    Canvas->Brush()->SetStyle(bsSolid);
    if (Highlight) {
        Canvas->Brush()->SetColor(ColorToRGB(clHighlight));
        Canvas->Font()->SetColor(clHighlightText);
    } else {
        Canvas->Brush()->SetColor(ColorToRGB(Text.Background));
    }
}

void TLuxMView::PaintTo(TCanvas* Canvas) {
    if (!Canvas) return;
    const TRect clip0 = Canvas->ClipRect();
restart:
    std::vector<int> list;
    const int n = ImageCount();
    if (displayMode_ == mdSingle || playbackActive_) {
        if (n > 0) {   // an empty list draws only the background
            PlaybackFrame = std::clamp(PlaybackFrame, 0, n - 1);
            list.push_back(PlaybackFrame);
        }
    } else {
        for (int i = 0; i < n; ++i) list.push_back(i);
    }
    const int total = int(list.size());
    const int cw = Width() - 1, ch = Height() - 1;
    for (int k = 0; k < total; ++k) {
        const int index = list[size_t(k)];
        if (total > 1 && OnDrawProgress) OnDrawProgress(this, RoundInt(double(k) / total * 100), index);
        TEntry* e = entries_[size_t(index)].get();
        const int left = ClampInt(int64_t(e->X) - viewX_), top = ClampInt(int64_t(e->Y) - viewY_);
        const int right = ClampInt(int64_t(left) + thumbW_ - 1), bottom = ClampInt(int64_t(top) + thumbH_ - 1);
        if (!LXRectsOverlap(left, top, right, bottom, 0, 0, cw, ch)) continue;
        if (!e->Image && !LoadEntryImage(index) && removeCorrupted_) {
            DeleteImage(index);
            Canvas->ResetClip();
            Canvas->IntersectClipRect(clip0);
            goto restart;
        }
        const TRect cell = Rect(left, top, left + thumbW_, top + thumbH_);
        int bottomTextH = 0;
        if (!e->BottomText.Caption.empty()) {
            Canvas->Font()->Assign(&e->BottomText.Font);
            bottomTextH = Canvas->TextHeight(e->BottomText.Caption);
        }
        const int area = thumbH_ - bottomGap_ - upperGap_ - bottomTextH;
        const bool selected = index == selected_ && visibleSelection_ && displayMode_ == mdGrid;
        const bool highlight = selected && selectionStyle_ == lxssACD;
        int px = left, py = top, dw = 0, dh = 0;
        const BITMAPINFOHEADER* info = e->Image ? store_->ImageBitmapInfo(e->Image) : nullptr;
        const int w = info ? info->biWidth : 0, h = info ? info->biHeight : 0;
        LXFitSize(w, h, thumbW_, area, dw, dh);
        Canvas->Brush()->SetStyle(bsSolid);
        if (info && dw > 0 && dh > 0) {
            const int bits = info->biBitCount;
            px = left + ((thumbW_ - dw) >> 1);
            py = top + upperGap_ + ((area - dh) >> 1);
            if (const uint8_t* pixels = store_->ImageBits(e->Image)) {
                if (bits != 1 || (dw >= w && dh >= h)) {
                    DrawDibDraw(Canvas, px, py, dw, dh, info, pixels, 0, 0, w, h);
                } else if (auto block = RenderMonoDIB(pixels, w, h, 0, 0, w - 1, h - 1, dw, dh)) {
                    BITMAPINFOHEADER grey{};
                    grey.biSize = 40;
                    grey.biWidth = dw;
                    grey.biHeight = dh;
                    grey.biPlanes = 1;
                    grey.biBitCount = 24;
                    DrawDibDraw(Canvas, px, py, dw, dh, &grey, block.get(), 0, 0, dw, dh);
                }
            }
            const TColor margin = highlight ? clHighlight
                                  : drawImageBackground_ ? e->Background
                                                         : ThumbnailsBackground;
            Canvas->Brush()->SetColor(ColorToRGB(margin));
            Canvas->FillRect(Rect(left, top, px, top + thumbH_));
            Canvas->FillRect(Rect(px + dw, top, left + thumbW_, top + thumbH_));
            Canvas->FillRect(Rect(px, top, px + dw, py));
            Canvas->FillRect(Rect(px, py + dh, px + dw, top + thumbH_));
        } else {
            dw = dh = 0;
            Canvas->Brush()->SetColor(ColorToRGB(highlight ? clHighlight : ThumbnailsBackground));
            Canvas->FillRect(cell);
        }
        // Captions.
        if (!e->TopText.Caption.empty()) {
            PaintCaption(Canvas, e->TopText, highlight);
            const int tw = Canvas->TextWidth(e->TopText.Caption);
            Canvas->TextOut(left + (thumbW_ - tw) / 2, top, e->TopText.Caption);
        }
        if (!e->BottomText.Caption.empty()) {
            PaintCaption(Canvas, e->BottomText, highlight);
            const int tw = Canvas->TextWidth(e->BottomText.Caption);
            Canvas->TextOut(left + (thumbW_ - tw) / 2, top + thumbH_ - bottomGap_ - bottomTextH,
                            e->BottomText.Caption);
        }
        int infoH = 0;
        if (!e->InfoText.Caption.empty()) {
            PaintCaption(Canvas, e->InfoText, highlight);
            const int th = Canvas->TextHeight(e->InfoText.Caption);
            const int tw = Canvas->TextWidth(e->InfoText.Caption);
            Canvas->FillRect(Rect(left, top + thumbH_ - th - 1, left + thumbW_ - 1, top + thumbH_ - 1));
            Canvas->TextOut(left + ((thumbW_ - tw - 2) >> 1) + 1, top + thumbH_ - th - 1, e->InfoText.Caption);
            infoH = th + 3;
        }
        if (style_ == lxmsACD) {
            if (dw > 0 && dh > 0) LXDraw3DFrame(Canvas, px, py, clWhite, clGray, py + dh - 1, px + dw - 1);
            if (bottomGap_ + upperGap_ > 0 || !e->BottomText.Caption.empty())
                LXDraw3DFrame(Canvas, left, top, clBlack, clWhite, top + thumbH_ - infoH - 1, left + thumbW_ - 1);
            if (infoH > 0)
                LXDraw3DFrame(Canvas, left, top + thumbH_ - infoH + 2, clWhite, clGray, top + thumbH_ - 1,
                              left + thumbW_ - 1);
        }
        if (OnImageDraw) OnImageDraw(this, index, left, top, Canvas);
        if (selected && selectionStyle_ == lxssAround) {
            Canvas->Pen()->SetWidth(1);
            Canvas->Pen()->SetStyle(psSolid);
            Canvas->Pen()->SetMode(pmCopy);
            Canvas->Pen()->SetColor(selectionColor_);
            Canvas->Brush()->SetStyle(bsClear);
            const int W = Focused() ? selectionWidth_ : 1;
            for (int k2 = 1; k2 <= W; ++k2)
                Canvas->Rectangle(left - k2, top - k2, left + thumbW_ + k2, top + thumbH_ + k2);
            Canvas->ExcludeClipRect(Rect(left - W, top - W, left + thumbW_ + W, top + thumbH_ + W));
        } else {
            Canvas->ExcludeClipRect(cell);
        }
    }
    Canvas->Brush()->SetStyle(bsSolid);
    Canvas->Brush()->SetColor(ColorToRGB(Background()));
    Canvas->FillRect(Rect(0, 0, std::max(ClientWidth(), Width()), std::max(ClientHeight(), Height())));
    Canvas->ResetClip();
    Canvas->IntersectClipRect(clip0);
    if (total > 1 && OnDrawProgress) OnDrawProgress(this, 100, 0);
}

// =============================================================================================
// Playback
// =============================================================================================

void TLuxMView::StopTimer() {
    if (timer_) timer_->SetEnabled(false);
}

void TLuxMView::TimerTick(TObject*) { PlaybackStep(); }

void TLuxMView::SetPlaybackActive(bool Value) {
    if (Value == playbackActive_) return;
    if (Value) {
        savedMode_ = displayMode_;
        savedSelected_ = selected_;
        Deselect();
        Update();
        playbackActive_ = true;
        PlaybackStep();
        return;
    }
    playbackActive_ = false;
    PlaybackStep();
    StopTimer();
    displayMode_ = savedMode_;
    SelectImage(savedSelected_);
}

void TLuxMView::PlaybackStep() {
    if (inStep_ || destroying_) return;
    inStep_ = true;
    StopTimer();
    bool stop = false;
    if (playbackActive_) {
        if (displayMode_ != mdSingle) {
            displayMode_ = mdSingle;
            Update();
        }
        const int n = ImageCount();
        if (n == 0) {
            stop = true;   // nothing to play; playback can start again once entries exist
        } else {
            PlaybackFrame = std::clamp(PlaybackFrame, 0, n - 1);
            const int shown = PlaybackFrame;
            TCanvas* c = Canvas();
            c->ResetClip();
            PaintTo(c);
            if (!playbackActive_) {
                inStep_ = false;   // the paint removed a broken entry, which ends playback
                return;
            }
            if (ImageCount() == 0) {
                stop = true;   // the paint removed the last entry
            } else if (PlaybackFrame >= ImageCount() - 1) {
                PlaybackFrame = 0;
                CallBitmapChangeEvents();
                if (!PlaybackLoop) stop = true;
            } else {
                ++PlaybackFrame;
            }
            if (!stop) {
                const TEntry* e = Entry(std::min(shown, ImageCount() - 1));
                timer_->SetInterval(unsigned(std::max(e ? e->FrameDelay : 0, 10)));
                timer_->SetEnabled(true);
            }
        }
    }
    inStep_ = false;
    if (stop) SetPlaybackActive(false);
}
