#include "UxSlider.h"

#include <QWidget>

#include <algorithm>
#include <cmath>

#include "UxViewerUtils.h"

namespace {

// Round of the class library: to the nearest integer, ties to even.
int Round(double x) { return int(std::nearbyint(x)); }

constexpr int kMargin = 6;
constexpr TColor kKey = clFuchsia;   // background of the built-in images

}  // namespace

std::unique_ptr<TBitmap> DefaultSliderImage(TSliderImage i) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    TCanvas* c = b->Canvas();
    auto fill = [&](TRect r, TColor col) {
        c->Brush()->SetStyle(bsSolid);
        c->Brush()->SetColor(col);
        c->FillRect(r);
    };
    const bool vertical = i == siVThumb || i == siVRuler;
    if (i == siHRuler || i == siVRuler) {
        // A sunken groove, 4 pixels across: shadow, dark shadow, face, highlight.
        const int len = 20;
        b->SetSize(vertical ? 4 : len, vertical ? len : 4);
        const TColor rows[4] = {clBtnShadow, cl3DDkShadow, clBtnFace, clBtnHighlight};
        for (int k = 0; k < 4; ++k)
            fill(vertical ? TRect{k, 0, k + 1, len} : TRect{0, k, len, k + 1}, rows[k]);
        return b;
    }
    // The thumb: 11 x 21 per state, a raised block with a point towards the ticks.
    const int w = 11, h = 21;
    b->SetSize(vertical ? 2 * h : 2 * w, vertical ? w : h);
    fill({0, 0, b->Width(), b->Height()}, kKey);
    for (int state = 0; state < 2; ++state) {
        const TColor face = state == 0 ? clBtnFace : clBtnFace, light = clBtnHighlight,
                     dark = state == 0 ? cl3DDkShadow : clBtnShadow;
        for (int y = 0; y < h; ++y) {
            // Rows below h - 6 narrow to the point.
            const int inset = y < h - 6 ? 0 : y - (h - 6) + 0;
            for (int x = inset; x < w - inset; ++x) {
                TColor col = face;
                if (x == inset || y == 0) col = light;
                if (x == w - 1 - inset || y == h - 1) col = dark;
                const int px = vertical ? state * h + y : state * w + x;
                const int py = vertical ? x : y;
                c->SetPixel(px, py, col);
            }
        }
    }
    return b;
}

TUxCustomSlider::TUxCustomSlider(TComponent* AOwner) : TCustomControl(AOwner) {
    for (int i = 0; i < 4; ++i) images_[i] = DefaultSliderImage(TSliderImage(i));
    timer_ = std::make_unique<TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetInterval(400);
    timer_->OnTimer = TNotifyEvent(+[](void* self, TObject*) { static_cast<TUxCustomSlider*>(self)->RepeatStep(); },
                                   this);
    TabStop = true;
    ClientWidget()->setFocusPolicy(Qt::StrongFocus);
    SetBounds(Left(), Top(), 150, 40);
    Rebuild();
}

TUxCustomSlider::~TUxCustomSlider() { timer_->SetEnabled(false); }

void TUxCustomSlider::BeginLoading() { ++loading_; }

void TUxCustomSlider::EndLoading() {
    if (loading_ > 0 && --loading_ == 0) {
        Rebuild();
        SetValue(value_);
    }
}

int TUxCustomSlider::Start() const {
    return orientation_ == soHorizontal ? sliderRect_.Left + kMargin : sliderRect_.Bottom - kMargin;
}

int TUxCustomSlider::PositionOfValue(int v) const {
    // An empty range or a track without length keeps the thumb at the start.
    if (max_ <= min_ || trackLength_ <= 0) return Start();
    const int off = std::max(0, Round(double(trackLength_) * (double(v) - min_) / (double(max_) - min_)));
    return orientation_ == soHorizontal ? Start() + off : Start() - off;
}

int TUxCustomSlider::ValueOfPosition(int p) const {
    if (max_ <= min_ || trackLength_ <= 0) return min_;
    const double d = orientation_ == soHorizontal ? p - Start() : Start() - p;
    const double x = d * (double(max_) - min_) / trackLength_;
    int v = (options_ & soSmooth) ? Round(x) : Inc() * Round(double(Round(x)) / Inc());
    v = std::max(v, 0);
    return int(std::min<int64_t>(int64_t(v) + min_, max_));
}

void TUxCustomSlider::Rebuild() {
    sliderRect_ = ClientRect();
    if (bevelStyle_ != bvNone) sliderRect_ = {sliderRect_.Left + 1, sliderRect_.Top + 1, sliderRect_.Right - 1, sliderRect_.Bottom - 1};
    const bool h = orientation_ == soHorizontal;
    TBitmap* thumb = ThumbImage();
    TBitmap* ruler = RulerImage();
    const int states = std::max(numThumbStates_, 1);
    const int tLen = h ? thumb->Width() / states : thumb->Height();         // along the track
    const int tThick = h ? thumb->Height() : thumb->Width() / states;       // across it
    const int rThick = h ? ruler->Height() : ruler->Width();
    const int L = std::max(0, (h ? RectExtentX(sliderRect_) : RectExtentY(sliderRect_)) - 2 * kMargin);
    trackLength_ = L - tLen;
    // The stretched ruler: the first I - E pixels, whole middle pieces, and the last E plus the
    // rest taken from the image's end.
    ruler_ = std::make_unique<TBitmap>();
    ruler_->SetPixelFormat(pf24bit);
    ruler_->SetSize(h ? L : rThick, h ? rThick : L);
    const int I = h ? ruler->Width() : ruler->Height();
    const int E = std::clamp(edgeSize_, 0, I);
    const int middle = I - 2 * E;
    auto copy = [&](int dst, int src, int len) {
        if (len <= 0) return;
        TRect d = h ? Bounds(dst, 0, len, rThick) : Bounds(0, L - dst - len, rThick, len);
        TRect s = h ? Bounds(src, 0, len, rThick) : Bounds(0, I - src - len, rThick, len);
        ruler_->Canvas()->CopyRect(d, ruler->Canvas(), s);
    };
    if (L > 0 && I > 0) {
        if (middle <= 0) {
            ruler_->Canvas()->StretchDraw({0, 0, ruler_->Width(), ruler_->Height()}, ruler);
        } else {
            int x = std::min(I - E, L);
            copy(0, 0, x);
            while (x + middle + E <= L) {
                copy(x, E, middle);
                x += middle;
            }
            if (x < L) copy(x, I - (L - x), L - x);
        }
    }
    // The thinner of the two is centred across the other.
    const int across = h ? sliderRect_.Top + kMargin : sliderRect_.Left + kMargin;
    int thumbAcross = across, rulerAcross = across;
    if (rThick < tThick) rulerAcross = across + (tThick - rThick) / 2;
    else thumbAcross = across + (rThick - tThick) / 2;
    rulerRect_ = h ? Bounds(sliderRect_.Left + kMargin, rulerAcross, L, rThick)
                   : Bounds(rulerAcross, sliderRect_.Bottom - kMargin - L, rThick, L);
    const int pos = PositionOfValue(value_);
    thumbRect_ = h ? Bounds(pos, thumbAcross, tLen, tThick) : Bounds(thumbAcross, pos - tLen, tThick, tLen);
    Invalidate();
}

void TUxCustomSlider::WMSize() {
    Rebuild();
    TCustomControl::WMSize();
}

void TUxCustomSlider::SetValue(int v) {
    v = std::clamp(v, min_, std::max(min_, max_));
    const bool changed = v != value_;
    value_ = v;
    MoveThumb(PositionOfValue(v));
    if (changed && OnChange) OnChange(this);
}

void TUxCustomSlider::SetMinValue(int v) {
    if (!Loading() && v >= max_) return;
    min_ = v;
    if (!Loading() && int64_t(increment_) > int64_t(max_) - min_) increment_ = max_ - min_;
    if (options_ & soShowPoints) Invalidate();
    SetValue(value_);
}

void TUxCustomSlider::SetMaxValue(int v) {
    if (!Loading() && v <= min_) return;
    max_ = v;
    if (!Loading() && int64_t(increment_) > int64_t(max_) - min_) increment_ = max_ - min_;
    if (options_ & soShowPoints) Invalidate();
    SetValue(value_);
}

void TUxCustomSlider::SetIncrement(int v) {
    const int64_t range = int64_t(max_) - min_;
    if (!Loading() && !(v > 0 && v <= range))
        throw Exception("Value must be between 1 and " + std::to_string(range));
    increment_ = v;
    SetValue(value_);
    Invalidate();
}

void TUxCustomSlider::SetEdgeSize(int v) {
    const int len = orientation_ == soHorizontal ? RulerImage()->Width() : RulerImage()->Height();
    if (2 * int64_t(v) >= len || v == edgeSize_ || v < 0) return;
    edgeSize_ = v;
    Rebuild();
}

void TUxCustomSlider::SetOptions(TSliderOptions o) {
    options_ = o;
    Invalidate();
}

void TUxCustomSlider::SetOrientation(TSliderOrientation o) {
    orientation_ = o;
    Rebuild();
}

void TUxCustomSlider::SetNumThumbStates(int n) {
    numThumbStates_ = std::clamp(n, 1, 2);
    Rebuild();
}

void TUxCustomSlider::SetBevelStyle(TBevelCut b) {
    bevelStyle_ = b;
    Rebuild();
}

void TUxCustomSlider::SetImage(TSliderImage i, const TBitmap* b) {
    if (b && !b->Empty()) {
        images_[i] = std::make_unique<TBitmap>();
        images_[i]->Assign(const_cast<TBitmap*>(b));
        userImages_ |= 1u << i;
    } else {
        images_[i] = DefaultSliderImage(i);
        userImages_ &= ~(1u << i);
        if (!Loading()) options_ &= ~((i == siHThumb || i == siVThumb) ? unsigned(soThumbOpaque) : unsigned(soRulerOpaque));
    }
    Rebuild();
}

void TUxCustomSlider::MoveThumb(int pos) {
    const int s = Start();
    const int lo = orientation_ == soHorizontal ? s : s - std::max(trackLength_, 0);
    const int hi = orientation_ == soHorizontal ? s + std::max(trackLength_, 0) : s;
    pos = std::clamp(pos, lo, hi);
    const int v = ValueOfPosition(pos);
    pos = PositionOfValue(v);
    const TRect old = thumbRect_;
    if (orientation_ == soHorizontal) thumbRect_ = Bounds(pos, old.Top, RectExtentX(old), RectExtentY(old));
    else thumbRect_ = Bounds(old.Left, pos - RectExtentY(old), RectExtentX(old), RectExtentY(old));
    InvalidateRect(old);
    InvalidateRect(thumbRect_);
    if (dragging_ && v != value_) {
        value_ = v;
        if (OnChange) OnChange(this);
    }
}

void TUxCustomSlider::StepValue(Step s) {
    const int inc = Inc();
    int64_t v = value_;
    switch (s) {
    case Step::Min: v = min_; break;
    case Step::Max: v = max_; break;
    case Step::Up: v = int64_t(inc) + int64_t(inc) * Round(double(value_) / inc); break;
    case Step::Down: v = int64_t(inc) * Round(double(value_) / inc) - inc; break;
    }
    v = std::clamp<int64_t>(v, min_, std::max(min_, max_));
    if (v != value_) SetValue(int(v));
}

bool TUxCustomSlider::BeforeThumb(TPoint p) const {
    return orientation_ == soHorizontal ? p.X < thumbRect_.Left : p.Y >= thumbRect_.Bottom;
}

void TUxCustomSlider::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || (Shift & ssDouble)) return;
    if (CanFocus()) SetFocus();
    const TPoint p{X, Y};
    const TRect& t = thumbRect_;
    if (X >= t.Left && X < t.Right && Y >= t.Top && Y < t.Bottom) {
        dragging_ = true;
        dragOffset_ = orientation_ == soHorizontal ? X - t.Left : Y - t.Bottom;
        InvalidateRect(t);
        return;
    }
    TRect r = rulerRect_;
    if (orientation_ == soHorizontal) r = {r.Left, r.Top - 3, r.Right, r.Bottom + 3};
    else r = {r.Left - 3, r.Top, r.Right + 3, r.Bottom};
    if (!PointInsideRect(p, r)) return;
    pressing_ = true;
    pressPoint_ = p;
    pressUp_ = !BeforeThumb(p);
    StepValue(pressUp_ ? Step::Up : Step::Down);
    timer_->SetEnabled(true);
}

void TUxCustomSlider::RepeatStep() {
    if (!pressing_) {
        timer_->SetEnabled(false);
        return;
    }
    // Only while the pointer is still on the side of the thumb it started on.
    const bool up = !BeforeThumb(pressPoint_);
    const TRect& t = thumbRect_;
    const bool onThumb = orientation_ == soHorizontal ? pressPoint_.X >= t.Left && pressPoint_.X < t.Right
                                                      : pressPoint_.Y >= t.Top && pressPoint_.Y < t.Bottom;
    if (up != pressUp_ || onThumb) {
        timer_->SetEnabled(false);
        return;
    }
    StepValue(pressUp_ ? Step::Up : Step::Down);
}

bool TUxCustomSlider::RepeatTimerRunning() const { return timer_->Enabled(); }

void TUxCustomSlider::MouseMove(TShiftState Shift, int X, int Y) {
    TCustomControl::MouseMove(Shift, X, Y);
    if (pressing_) pressPoint_ = {X, Y};
    if (dragging_ && (Shift & ssLeft)) MoveThumb((orientation_ == soHorizontal ? X : Y) - dragOffset_);
    const TRect& t = thumbRect_;
    const bool over = X >= t.Left && X < t.Right && Y >= t.Top && Y < t.Bottom;
    SetCursor(over ? crHandPoint : crDefault);
}

void TUxCustomSlider::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (Button == mbLeft) {
        if (pressing_) {
            pressing_ = false;
            timer_->SetEnabled(false);
            if (OnChanged) OnChanged(this);
        }
        if (dragging_) {
            dragging_ = false;
            InvalidateRect(thumbRect_);
            if (OnChanged) OnChanged(this);
        }
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TUxCustomSlider::CaptureLost() {
    // The button came up somewhere else: the action ends there.
    if (pressing_ || dragging_) MouseUp(mbLeft, 0, pressPoint_.X, pressPoint_.Y);
}

void TUxCustomSlider::KeyDown(uint16_t& Key, TShiftState Shift) {
    TCustomControl::KeyDown(Key, Shift);
    if (Key == 0 || Shift != 0) return;
    const bool h = orientation_ == soHorizontal;
    bool handled = true;
    switch (Key) {
    case VK_HOME: StepValue(Step::Min); break;
    case VK_END: StepValue(Step::Max); break;
    case VK_LEFT: h ? StepValue(Step::Down) : void(handled = false); break;
    case VK_RIGHT: h ? StepValue(Step::Up) : void(handled = false); break;
    case VK_UP: !h ? StepValue(Step::Up) : void(handled = false); break;
    case VK_DOWN: !h ? StepValue(Step::Down) : void(handled = false); break;
    default: handled = false;
    }
    if (!handled) return;
    Key = 0;
    if (OnChanged) OnChanged(this);
}

void TUxCustomSlider::DoEnter() {
    if (options_ & soShowFocus) Invalidate();
    TCustomControl::DoEnter();
}

void TUxCustomSlider::DoExit() {
    if (options_ & soShowFocus) Invalidate();
    TCustomControl::DoExit();
}

void TUxCustomSlider::DrawTicks() {
    TCanvas* c = Canvas();
    c->Pen()->SetColor(clWindowText);
    c->Pen()->SetStyle(psSolid);
    c->Pen()->SetWidth(1);
    const bool h = orientation_ == soHorizontal;
    const int64_t range = int64_t(max_) - min_;
    const int half = (h ? RectExtentX(thumbRect_) : RectExtentY(thumbRect_)) / 2;
    const int base = h ? thumbRect_.Bottom + 1 : thumbRect_.Right + 1;
    auto tick = [&](int v, int len) {
        const int p = h ? PositionOfValue(v) + half : PositionOfValue(v) - half;
        if (h) {
            c->MoveTo(p, base);
            c->LineTo(p, base + len);
        } else {
            c->MoveTo(base, p);
            c->LineTo(base + len, p);
        }
    };
    tick(min_, 5);
    if (range <= 0) return;
    // The smallest multiple of the increment whose ticks are at least 4 pixels apart,
    // computed rather than searched: a full int range on a short track would take billions
    // of steps. Without a track only the end ticks are drawn.
    const int64_t track = std::max(trackLength_, 0);
    const int64_t inc = Inc();
    int64_t k = range;
    if (track > 0) k = std::min<int64_t>(range, std::max<int64_t>(1, (4 * range + track * inc - 1) / (track * inc)) * inc);
    for (int64_t v = min_ + k; v < max_; v += k) tick(int(v), 3);
    tick(max_, 5);
}

void TUxCustomSlider::Paint() {
    TCanvas* c = Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Color());
    c->FillRect(ClientRect());
    if (bevelStyle_ != bvNone) {
        TRect r = ClientRect();
        Frame3D(c, r, bevelStyle_ == bvLowered ? clBtnShadow : clBtnHighlight,
                bevelStyle_ == bvLowered ? clBtnHighlight : clBtnShadow, 1);
    }
    if (!ruler_->Empty()) {
        if (options_ & soRulerOpaque) c->Draw(rulerRect_.Left, rulerRect_.Top, ruler_.get());
        else DrawWholeBitmapMasked(c, rulerRect_.Left, rulerRect_.Top, ruler_.get(), clDefault);
    }
    if ((options_ & soShowFocus) && Focused()) {
        const TRect f{sliderRect_.Left + 2, sliderRect_.Top + 2, sliderRect_.Right - 2, sliderRect_.Bottom - 2};
        c->Brush()->SetColor(clWindowText);
        c->FrameRect(f);
    }
    if (options_ & soShowPoints) {
        if (OnDrawPoints) OnDrawPoints(this);
        else DrawTicks();
    }
    TBitmap* thumb = ThumbImage();
    const int states = std::max(numThumbStates_, 1);
    const bool h = orientation_ == soHorizontal;
    const int w = h ? thumb->Width() / states : thumb->Width() / states;
    const int part = states == 2 && !Enabled() ? 1 : 0;
    const TRect src = Bounds(part * w, 0, w, thumb->Height());
    if (options_ & soThumbOpaque) c->CopyRect(Bounds(thumbRect_.Left, thumbRect_.Top, w, thumb->Height()), thumb->Canvas(), src);
    else DrawBitmapPartMasked(c, thumbRect_.Left, thumbRect_.Top, src, thumb, clDefault);
}
