// Image processing. This part: resampling filters and the filtered stretch.
#include "LuxProc.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "lxpixels.h"
#include "lxutils.h"

// ---- Resampling filters ----

double TriangleFilter(double x) {
    const double a = std::fabs(x);
    return a < 1.0 ? 1.0 - a : 0.0;
}

double HermiteFilter(double x) {
    const double a = std::fabs(x);
    return a < 1.0 ? (2.0 * a - 3.0) * a * a + 1.0 : 0.0;
}

double BellFilter(double x) {
    const double a = std::fabs(x);
    if (a < 0.5) return 0.75 - a * a;
    if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
    return 0.0;
}

double SplineFilter(double x) {
    const double a = std::fabs(x);
    if (a < 1.0) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
    if (a < 2.0) {
        const double t = 2.0 - a;
        return t * t * t / 6.0;
    }
    return 0.0;
}

namespace {

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = x * std::numbers::pi;
    return std::sin(px) / px;
}

}  // namespace

double Lanczos3Filter(double x) {
    const double a = std::fabs(x);
    return a < 3.0 ? Sinc(a) * Sinc(a / 3.0) : 0.0;
}

double MitchellFilter(double x) {
    const double a = std::fabs(x);
    const double a2 = a * a, a3 = a2 * a;
    if (a < 1.0) return (7.0 * a3 - 12.0 * a2 + 16.0 / 3.0) / 6.0;
    if (a < 2.0) return (-7.0 / 3.0 * a3 + 12.0 * a2 - 20.0 * a + 32.0 / 3.0) / 6.0;
    return 0.0;
}

const TResampleFilterEntry& ResampleFilterEntry(TResampleFilter Filter) {
    static const TResampleFilterEntry table[] = {
        {nullptr, 0.0},        {TriangleFilter, 1.0}, {HermiteFilter, 1.0}, {BellFilter, 1.5},
        {SplineFilter, 2.0},   {Lanczos3Filter, 3.0}, {MitchellFilter, 2.0},
    };
    const int i = int(Filter);
    return table[(i >= 0 && i <= int(rfMitchell)) ? i : 0];
}

namespace {

struct Contributor {
    int pixel;
    double weight;
};
using ContributorList = std::vector<Contributor>;

// For each of DstLen outputs, the source taps and their weights (not normalised). Centres
// have no half-pixel offset; taps outside the source mirror at its edges.
std::vector<ContributorList> BuildContributors(int SrcLen, int DstLen, const TResampleFilterEntry& f) {
    std::vector<ContributorList> lists(static_cast<size_t>(DstLen));
    const double scale = double(DstLen) / double(SrcLen);
    const double width = scale >= 1.0 ? f.Support : f.Support / scale;
    for (int i = 0; i < DstLen; ++i) {
        const double center = i / scale;
        const int left = LXFloor(center - width), right = LXCeil(center + width);
        ContributorList& list = lists[size_t(i)];
        list.reserve(size_t(right - left + 1));
        for (int j = left; j <= right; ++j) {
            const double weight = scale >= 1.0 ? f.Filter(center - j)
                                               : f.Filter((center - j) * scale) * scale;
            if (weight == 0.0) continue;
            int n = j < 0 ? -j : (j >= SrcLen ? 2 * SrcLen - 1 - j : j);
            // A tap may mirror past the far edge when the filter is wider than the source.
            n = std::clamp(n, 0, SrcLen - 1);
            list.push_back({n, weight});
        }
    }
    return lists;
}

uint8_t Limit(double sum) {
    if (sum > 255.0) return 255;
    if (sum < 0.0) return 0;
    return uint8_t(std::nearbyint(sum));   // ties to even
}

// Columns per strip of the vertical pass: the work image is read down a few columns at a
// time, which keeps the cache lines in use without changing the order of results.
constexpr int kStrip = 32;

bool CanResample(TBitmap* Source, TBitmap* Dest, TResampleFilter Filter) {
    if (!Source || !Dest || !ResampleFilterEntry(Filter).Filter) return false;
    const int sw = Source->Width(), sh = Source->Height();
    if (sw <= 0 || sh <= 0 || (sw < 2 && sh < 2)) return false;
    return Dest->Width() > 0 && Dest->Height() > 0;
}

}  // namespace

void Resample24(TBitmap* Source, TBitmap* Dest, TResampleFilter Filter, TLXProgressEvent OnProgress,
                TObject* Sender) {
    if (!CanResample(Source, Dest, Filter) || Source->PixelFormat() != pf24bit) return;
    const TResampleFilterEntry& f = ResampleFilterEntry(Filter);
    const int sw = Source->Width(), sh = Source->Height();
    const int dw = Dest->Width(), dh = Dest->Height();
    Dest->SetPixelFormat(pf24bit);
    const double per = 100.0 / (sh + dw + 0.5);

    TBitmap work;
    work.SetPixelFormat(pf24bit);
    work.SetSize(dw, sh);
    {
        const std::vector<ContributorList> contrib = BuildContributors(sw, dw, f);
        for (int k = 0; k < sh; ++k) {
            const uint8_t* src = Source->ScanLine(k);
            uint8_t* dst = work.ScanLine(k);
            for (int i = 0; i < dw; ++i) {
                double b = 0, g = 0, r = 0;
                for (const Contributor& c : contrib[size_t(i)]) {
                    const uint8_t* p = src + int64_t(c.pixel) * 3;
                    b += p[0] * c.weight;
                    g += p[1] * c.weight;
                    r += p[2] * c.weight;
                }
                dst[int64_t(i) * 3] = Limit(b);
                dst[int64_t(i) * 3 + 1] = Limit(g);
                dst[int64_t(i) * 3 + 2] = Limit(r);
            }
            if (OnProgress) OnProgress(Sender, int((k + 1) * per));
        }
    }
    {
        const std::vector<ContributorList> contrib = BuildContributors(sh, dh, f);
        // Row 0 is the highest address; row y lies y strides below it.
        const uint8_t* workTop = work.ScanLine(0);
        const int64_t workStride = -work.RowBytes();
        uint8_t* destTop = Dest->ScanLine(0);
        const int64_t destStride = -Dest->RowBytes();
        for (int x0 = 0; x0 < dw; x0 += kStrip) {
            const int x1 = std::min(x0 + kStrip, dw);
            for (int i = 0; i < dh; ++i) {
                const ContributorList& list = contrib[size_t(i)];
                uint8_t* out = destTop + destStride * i;
                for (int x = x0; x < x1; ++x) {
                    double b = 0, g = 0, r = 0;
                    for (const Contributor& c : list) {
                        const uint8_t* p = workTop + workStride * c.pixel + int64_t(x) * 3;
                        b += p[0] * c.weight;
                        g += p[1] * c.weight;
                        r += p[2] * c.weight;
                    }
                    out[int64_t(x) * 3] = Limit(b);
                    out[int64_t(x) * 3 + 1] = Limit(g);
                    out[int64_t(x) * 3 + 2] = Limit(r);
                }
            }
            if (OnProgress)
                for (int x = x0; x < x1; ++x) OnProgress(Sender, int((x + sh + 1) * per));
        }
    }
}

void Resample1To24(TBitmap* Source, TBitmap* Dest, TResampleFilter Filter) {
    if (!CanResample(Source, Dest, Filter) || Source->PixelFormat() != pf1bit) return;
    const TResampleFilterEntry& f = ResampleFilterEntry(Filter);
    const int sw = Source->Width(), sh = Source->Height();
    const int dw = Dest->Width(), dh = Dest->Height();
    Dest->SetPixelFormat(pf24bit);

    TLXMask work;
    work.AllocBits(dw, sh, 8);
    {
        const std::vector<ContributorList> contrib = BuildContributors(sw, dw, f);
        for (int k = 0; k < sh; ++k) {
            const uint8_t* src = Source->ScanLine(k);
            uint8_t* dst = work.ScanLine(k);
            for (int i = 0; i < dw; ++i) {
                double v = 0;
                for (const Contributor& c : contrib[size_t(i)])
                    if (src[c.pixel >> 3] & (0x80 >> (c.pixel & 7))) v += 255.0 * c.weight;
                dst[i] = Limit(v);
            }
        }
    }
    {
        const std::vector<ContributorList> contrib = BuildContributors(sh, dh, f);
        uint8_t* destTop = Dest->ScanLine(0);
        const int64_t destStride = -Dest->RowBytes();
        std::vector<const uint8_t*> rows(static_cast<size_t>(sh));
        for (int y = 0; y < sh; ++y) rows[size_t(y)] = work.ScanLine(y);
        for (int i = 0; i < dh; ++i) {
            const ContributorList& list = contrib[size_t(i)];
            uint8_t* out = destTop + destStride * i;
            for (int x = 0; x < dw; ++x) {
                double v = 0;
                for (const Contributor& c : list) v += rows[size_t(c.pixel)][x] * c.weight;
                const uint8_t g = Limit(v);
                out[int64_t(x) * 3] = g;
                out[int64_t(x) * 3 + 1] = g;
                out[int64_t(x) * 3 + 2] = g;
            }
        }
    }
}

// ---- Transition engine ----

#include <cstring>
#include <random>

#include "ExtCtrls.h"
#include "lxview.h"

namespace {

// Round to nearest with ties to even, in the default rounding mode.
inline int64_t RoundEven(double v) { return int64_t(std::nearbyint(v)); }

// The library's own generator for the random effects; the show may replace it per engine.
int LibraryRandom(int n) {
    static std::mt19937 gen;
    return int((uint64_t(gen()) * uint64_t(n)) >> 32);
}

constexpr uint8_t RedB = 0, RedG = 0, RedR = 255;   // clRed as stored bytes

}  // namespace

TLXTransitionEffects::TLXTransitionEffects(TLXView* View)
    : from_(std::make_unique<TBitmap>()), to_(std::make_unique<TBitmap>()),
      frame_(std::make_unique<TBitmap>()), view_(View) {
    for (TBitmap* b : {from_.get(), to_.get(), frame_.get()}) {
        b->SetPixelFormat(pf24bit);
        b->SetSize(1, 1);
    }
    // The engine alone owns its timer: with the view as owner too, a view freed before its
    // engine would free the timer twice.
    timer_ = std::make_unique<TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->OnTimer = MakeMethod(this, &TLXTransitionEffects::Tick);
    timer_->SetInterval(TimerInterval);
}

TLXTransitionEffects::~TLXTransitionEffects() {
    // No lock or repaint from here: the view may be going away itself.
    if (timer_) timer_->SetEnabled(false);
}

void TLXTransitionEffects::SetRandomSource(std::function<int(int)> Source) { random_ = std::move(Source); }

int TLXTransitionEffects::Random(int n) {
    if (n <= 1) return 0;
    int v = random_ ? random_(n) : LibraryRandom(n);
    // A scripted generator out of range must not move a copy outside the bitmaps.
    return v < 0 ? 0 : v >= n ? n - 1 : v;
}

void TLXTransitionEffects::SetSize(int W, int H) {
    Stop();
    W = W < 0 ? 0 : W;
    H = H < 0 ? 0 : H;
    // Until all three have the new size the engine counts as empty, so a failed allocation
    // leaves nothing that Start would run on.
    width_ = 0;
    height_ = 0;
    for (TBitmap* b : {frame_.get(), from_.get(), to_.get()}) {
        b->SetPixelFormat(pf24bit);
        b->SetSize(W, H);
    }
    width_ = W;
    height_ = H;
    prevTarget_ = 0;
}

bool TLXTransitionEffects::BitmapsMatch() const {
    for (const TBitmap* b : {from_.get(), to_.get(), frame_.get()})
        if (b->PixelFormat() != pf24bit || b->Width() != width_ || b->Height() != height_) return false;
    return width_ > 0 && height_ > 0;
}

void TLXTransitionEffects::BuildRows() {
    auto build = [&](std::vector<uint8_t*>& rows, TBitmap* b) {
        rows.assign(size_t(height_), nullptr);
        for (int y = 0; y < height_; ++y) rows[size_t(y)] = b->ScanLine(y);
    };
    build(fromRows_, from_.get());
    build(toRows_, to_.get());
    build(frameRows_, frame_.get());
}

void TLXTransitionEffects::Start(bool UpdateAtEnd) {
    if (TransitionEffect == lxttNone) {
        // A running transition must still give back its lock, or it would never end.
        Stop();
        return;
    }
    if (running_ && view_) view_->UnlockPaintNoUpdate();
    timer_->SetEnabled(false);
    updateAtEnd_ = UpdateAtEnd;
    running_ = true;
    progress_ = 0;
    prevTarget_ = 0;
    frameCount_ = 0;
    if ((width_ < 2 && height_ < 2) || !BitmapsMatch()) {
        running_ = false;
        return;
    }
    if (view_) view_->LockPaint();
    BuildRows();
    startTick_ = GetTickCount();
    timer_->SetEnabled(true);
}

void TLXTransitionEffects::Stop() {
    if (!running_) return;
    timer_->SetEnabled(false);
    running_ = false;
    for (TBitmap* b : {frame_.get(), from_.get(), to_.get()}) b->SetSize(1, 1);
    // The size follows the bitmaps, so a later Start without a new size cannot run on them.
    width_ = 1;
    height_ = 1;
    if (view_) {
        view_->UnlockPaintNoUpdate();
        if (updateAtEnd_) view_->Update();
    }
}

void TLXTransitionEffects::Tick(TObject*) {
    if (!running_) return;
    ++frameCount_;
    DrawFrame(progress_);
    if (OnPresentFrame) OnPresentFrame(frame_.get(), width_, height_);
    if (!running_) return;   // the present callback may have stopped us
    const uint32_t elapsed = GetTickCount() - startTick_;
    if (TransitionDuration <= 0 || elapsed >= uint32_t(TransitionDuration)) {
        Stop();
        return;
    }
    const double v = std::trunc(double(elapsed) / double(TransitionDuration) * 1024.0);
    progress_ = v >= 1024.0 ? 1024 : int(v);
}

TRGB TLXTransitionEffects::BackgroundRGB() const {
    return view_ ? TColorToRGB(view_->Background()) : TRGB{};
}

void TLXTransitionEffects::ResetToFrom() {
    const size_t n = size_t(width_) * 3;
    for (int y = 0; y < height_; ++y) std::memcpy(frameRows_[size_t(y)], fromRows_[size_t(y)], n);
}

void TLXTransitionEffects::Blend(const std::vector<uint8_t*>* A, const std::vector<uint8_t*>* B, int p) {
    const size_t n = size_t(width_) * 3;
    if (!A || !B) {
        // The background stands in for the missing side as one row of its bytes.
        const TRGB c = BackgroundRGB();
        const uint8_t bytes[3] = {c.b, c.g, c.r};
        colourRow_.resize(n);
        for (size_t i = 0; i < n; ++i) colourRow_[i] = bytes[i % 3];
    }
    const uint8_t* c = colourRow_.data();
    for (int y = 0; y < height_; ++y) {
        const uint8_t* a = A ? (*A)[size_t(y)] : c;
        const uint8_t* b = B ? (*B)[size_t(y)] : c;
        LXBlendRow(a, b, frameRows_[size_t(y)], n, p);
    }
}

// Src's block (SX, SY, W, H) onto the frame at (DX, DY), clipped to both bitmaps.
void TLXTransitionEffects::CopyBlock(const std::vector<uint8_t*>& Src, int64_t DX, int64_t DY, int64_t SX,
                                     int64_t SY, int64_t W, int64_t H) {
    if (DX < 0) SX -= DX, W += DX, DX = 0;
    if (SX < 0) DX -= SX, W += SX, SX = 0;
    if (DY < 0) SY -= DY, H += DY, DY = 0;
    if (SY < 0) DY -= SY, H += SY, SY = 0;
    W = std::min({W, int64_t(width_) - DX, int64_t(width_) - SX});
    H = std::min({H, int64_t(height_) - DY, int64_t(height_) - SY});
    if (W <= 0 || H <= 0) return;
    for (int64_t i = 0; i < H; ++i)
        std::memcpy(frameRows_[size_t(DY + i)] + DX * 3, Src[size_t(SY + i)] + SX * 3, size_t(W) * 3);
}

// The whole of Src stretched nearest-neighbour into the frame box (X, Y, W, H): box pixel
// (i, j) takes source pixel (i x Width div W, j x Height div H), as the canvas's stretch does.
void TLXTransitionEffects::StretchIntoBox(const std::vector<uint8_t*>& Src, int64_t X, int64_t Y, int64_t W,
                                          int64_t H) {
    if (W <= 0 || H <= 0) return;
    const int64_t x0 = std::max<int64_t>(X, 0), x1 = std::min<int64_t>(X + W, width_);
    const int64_t y0 = std::max<int64_t>(Y, 0), y1 = std::min<int64_t>(Y + H, height_);
    if (x0 >= x1 || y0 >= y1) return;
    // Byte offsets fit 32 bits: a row is below 2^31 bytes.
    xmap_.resize(size_t(x1 - x0));
    for (int64_t x = x0; x < x1; ++x) xmap_[size_t(x - x0)] = uint32_t(((x - X) * width_ / W) * 3);
    const uint32_t* __restrict xm = xmap_.data();
    const size_t n = xmap_.size();
    for (int64_t y = y0; y < y1; ++y) {
        const uint8_t* __restrict s = Src[size_t((y - Y) * height_ / H)];
        uint8_t* __restrict d = frameRows_[size_t(y)] + x0 * 3;
        for (size_t i = 0; i < n; ++i, d += 3) std::memcpy(d, s + xm[i], 3);
    }
}

// A vertical red line from (X, 0) to (X, Height), end point excluded.
void TLXTransitionEffects::RedColumn(int64_t X) {
    if (X < 0 || X >= width_) return;
    for (int y = 0; y < height_; ++y) {
        uint8_t* d = frameRows_[size_t(y)] + X * 3;
        d[0] = RedB, d[1] = RedG, d[2] = RedR;
    }
}

// A horizontal red line from (0, Y) to (Width, Y), end point excluded.
void TLXTransitionEffects::RedRow(int64_t Y) {
    if (Y < 0 || Y >= height_) return;
    uint8_t* d = frameRows_[size_t(Y)];
    for (int x = 0; x < width_; ++x, d += 3) d[0] = RedB, d[1] = RedG, d[2] = RedR;
}

void TLXTransitionEffects::DrawFrame(int p) {
    if (!BitmapsMatch()) return;
    if (frameRows_.size() != size_t(height_) || frameRows_[0] != frame_->ScanLine(0) ||
        fromRows_[0] != from_->ScanLine(0) || toRows_[0] != to_->ScanLine(0))
        BuildRows();
    p = p < 0 ? 0 : p > 1024 ? 1024 : p;
    const int64_t q = 1024 - p, W = width_, H = height_;
    const size_t rowLen = size_t(W) * 3;
    // The box of the centre effects for weight d: x, y, w, h.
    auto box = [&](int64_t d, int64_t& x, int64_t& y, int64_t& w, int64_t& h) {
        const int64_t hw = W / 2, hh = H / 2;
        x = hw - ((d * hw) >> 10);
        y = hh - ((d * hh) >> 10);
        w = (d * W) >> 10;
        h = (d * H) >> 10;
    };
    // One row of the horizontal moves: A's pixels AS.. for c pixels, then B's from BS.
    auto moveRows = [&](const std::vector<uint8_t*>& A, int64_t AS, const std::vector<uint8_t*>& B, int64_t BS,
                        int64_t c) {
        for (int64_t y = 0; y < H; ++y) {
            uint8_t* r = frameRows_[size_t(y)];
            std::memcpy(r, A[size_t(y)] + AS * 3, size_t(c) * 3);
            std::memcpy(r + c * 3, B[size_t(y)] + BS * 3, size_t(W - c) * 3);
        }
    };
    auto copyRows = [&](int64_t dst, const std::vector<uint8_t*>& S, int64_t src, int64_t n) {
        for (int64_t i = 0; i < n; ++i) std::memcpy(frameRows_[size_t(dst + i)], S[size_t(src + i)], rowLen);
    };
    const bool reset = p == 0;
    switch (TransitionEffect) {
    case lxttNone:
        break;
    case lxttCrossDissolve:
        Blend(&fromRows_, &toRows_, p);
        break;
    case lxttFadeOut:
        Blend(&fromRows_, nullptr, p);
        break;
    case lxttFadeIn:
        Blend(nullptr, &toRows_, p);
        break;
    case lxttFadeOutIn:
        if (p < 512) Blend(&fromRows_, nullptr, 2 * p);
        else Blend(nullptr, &toRows_, 2 * p - 1024);
        break;
    case lxttLeftRight1:
    case lxttLeftRight2: {
        if (reset) ResetToFrom();
        const int64_t c = (p * W) >> 10;
        CopyBlock(toRows_, 0, 0, 0, 0, c, H);
        if (TransitionEffect == lxttLeftRight2) RedColumn(c);
        break;
    }
    case lxttRightLeft1:
    case lxttRightLeft2: {
        if (reset) ResetToFrom();
        const int64_t x = RoundEven(double(W) * double(q) / 1024.0);
        const int64_t w = RoundEven(double(p) * double(W) / 1024.0);
        CopyBlock(toRows_, x, 0, x, 0, w, H);
        if (TransitionEffect == lxttRightLeft2) RedColumn(x);
        break;
    }
    case lxttUpDown1:
    case lxttUpDown2: {
        if (reset) ResetToFrom();
        const int64_t h = RoundEven(double(p) * double(H) / 1024.0);
        CopyBlock(toRows_, 0, 0, 0, 0, W, h);
        if (TransitionEffect == lxttUpDown2) RedRow(h);
        break;
    }
    case lxttDownUp1:
    case lxttDownUp2: {
        if (reset) ResetToFrom();
        const int64_t y = RoundEven(double(H) * double(q) / 1024.0);
        const int64_t h = RoundEven(double(p) * double(H) / 1024.0);
        CopyBlock(toRows_, 0, y, 0, y, W, h);
        if (TransitionEffect == lxttDownUp2) RedRow(y);
        break;
    }
    case lxttFromUpLeft:
    case lxttFromUpRight:
    case lxttFromBottomLeft:
    case lxttFromBottomRight: {
        if (reset) ResetToFrom();
        const int64_t ox = (q * W) >> 10, oy = (q * H) >> 10;
        const bool right = TransitionEffect == lxttFromUpRight || TransitionEffect == lxttFromBottomRight;
        const bool bottom = TransitionEffect == lxttFromBottomLeft || TransitionEffect == lxttFromBottomRight;
        CopyBlock(toRows_, right ? ox : -ox, bottom ? oy : -oy, 0, 0, W, H);
        break;
    }
    case lxttMoveLeftRight1: {
        const int64_t c = (p * W) >> 10;
        moveRows(toRows_, W - c, fromRows_, 0, c);
        break;
    }
    case lxttMoveLeftRight2: {
        const int64_t c = (p * W) >> 10;
        moveRows(toRows_, 0, fromRows_, 0, c);
        break;
    }
    case lxttMoveRightLeft1: {
        const int64_t c = (q * W) >> 10;
        moveRows(fromRows_, W - c, toRows_, 0, c);
        break;
    }
    case lxttMoveRightLeft2: {
        const int64_t c = (q * W) >> 10;
        moveRows(fromRows_, 0, toRows_, 0, c);
        break;
    }
    case lxttMoveUpDown1: {
        const int64_t c = (p * H) >> 10;
        copyRows(0, toRows_, H - c, c);
        copyRows(c, fromRows_, 0, H - c);
        break;
    }
    case lxttMoveUpDown2: {
        const int64_t c = (p * H) >> 10;
        copyRows(0, toRows_, 0, c);
        copyRows(c, fromRows_, 0, H - c);
        break;
    }
    case lxttMoveDownUp1: {
        const int64_t c = (q * H) >> 10;
        copyRows(0, fromRows_, H - c, c);
        copyRows(c, toRows_, 0, H - c);
        break;
    }
    case lxttMoveDownUp2: {
        const int64_t c = (q * H) >> 10;
        copyRows(0, fromRows_, H - c, c);
        copyRows(c, toRows_, c, H - c);
        break;
    }
    case lxttRandomPoints: {
        if (reset) {
            ResetToFrom();
            break;
        }
        const int64_t target = RoundEven(double(p) * double(W) * (double(p) / 180.0) / 1024.0);
        const int64_t n = target - prevTarget_;
        prevTarget_ = target;
        for (int64_t y = 0; y < H; ++y) {
            uint8_t* r = frameRows_[size_t(y)];
            const uint8_t* t = toRows_[size_t(y)];
            for (int64_t i = 0; i < n; ++i) {
                const int64_t x = int64_t(Random(int(W))) * 3;
                r[x] = t[x], r[x + 1] = t[x + 1], r[x + 2] = t[x + 2];
            }
        }
        break;
    }
    case lxttRandomBoxes: {
        if (reset) {
            ResetToFrom();
            break;
        }
        constexpr int64_t B = 8;
        const int64_t cells = (W * H) / (B * B);
        const int64_t target = RoundEven(double(p * cells) * (double(p) / 180.0) / 1024.0);
        const int64_t n = target - prevTarget_;
        prevTarget_ = target;
        for (int64_t i = 0; i < n; ++i) {
            const int64_t x = Random(int(W)) & ~7;
            const int64_t y = Random(int(H)) & ~7;
            CopyBlock(toRows_, x, y, x, y, B, B);
        }
        break;
    }
    case lxttCenter1: {
        if (reset) ResetToFrom();
        int64_t x, y, w, h;
        box(p, x, y, w, h);
        CopyBlock(toRows_, x, y, x, y, w, h);
        break;
    }
    case lxttCenter2: {
        copyRows(0, toRows_, 0, H);
        int64_t x, y, w, h;
        box(q, x, y, w, h);
        CopyBlock(fromRows_, x, y, x, y, w, h);
        break;
    }
    case lxttCenterZoom1: {
        if (reset) ResetToFrom();
        int64_t x, y, w, h;
        box(p, x, y, w, h);
        StretchIntoBox(toRows_, x, y, w, h);
        break;
    }
    case lxttCenterZoom2: {
        copyRows(0, toRows_, 0, H);
        int64_t x, y, w, h;
        box(q, x, y, w, h);
        StretchIntoBox(fromRows_, x, y, w, h);
        break;
    }
    }
}

// ---- Image-processing component ----

#include "LuxIO.h"   // TImage

namespace {

// Rows of a bitmap from the top.
template <class B>
auto RowTable(B* Bitmap) {
    std::vector<decltype(Bitmap->ScanLine(0))> rows(size_t(std::max(Bitmap->Height(), 0)));
    for (int y = 0; y < Bitmap->Height(); ++y) rows[size_t(y)] = Bitmap->ScanLine(y);
    return rows;
}

inline int GetSubPixel(const uint8_t* Row, int x, int Bits) {
    if (Bits == 1) return GetBit(Row, x);
    const uint8_t b = Row[x >> 1];
    return (x & 1) ? (b & 0x0F) : (b >> 4);
}
inline void SetSubPixel(uint8_t* Row, int x, int Bits, int v) {
    if (Bits == 1) {
        SetBit(Row, x, v != 0);
        return;
    }
    uint8_t& b = Row[x >> 1];
    b = (x & 1) ? uint8_t((b & 0xF0) | (v & 0x0F)) : uint8_t((b & 0x0F) | ((v & 0x0F) << 4));
}

// A quarter turn, in tiles so that both bitmaps are walked with short strides. Map(x, y)
// gives the source pixel of destination pixel (x, y).
template <class Map>
void QuarterTurn(const TBitmap* Source, TBitmap* Dest, Map map) {
    const int W = Source->Width(), H = Source->Height();
    const TPixelFormat pf = Source->PixelFormat() == pf1bit ? pf1bit : pf24bit;
    Dest->SetPixelFormat(pf);
    Dest->SetSize(H, W);
    if (W <= 0 || H <= 0 || (Source->PixelFormat() != pf24bit && Source->PixelFormat() != pf1bit)) return;
    auto src = RowTable(Source);
    auto dst = RowTable(Dest);
    const int DW = H, DH = W;
    constexpr int Tile = 32;
    for (int by = 0; by < DH; by += Tile)
        for (int bx = 0; bx < DW; bx += Tile) {
            const int ey = std::min(by + Tile, DH), ex = std::min(bx + Tile, DW);
            for (int y = by; y < ey; ++y) {
                uint8_t* d = dst[size_t(y)];
                for (int x = bx; x < ex; ++x) {
                    int sx, sy;
                    map(x, y, sx, sy);
                    if (pf == pf24bit) {
                        const uint8_t* s = src[size_t(sy)] + int64_t(sx) * 3;
                        uint8_t* dp = d + int64_t(x) * 3;
                        dp[0] = s[0], dp[1] = s[1], dp[2] = s[2];
                    } else {
                        SetBit(d, x, GetBit(src[size_t(sy)], sx) != 0);
                    }
                }
            }
        }
}

// The two-pixel blend of the shear passes: G parts of the previous pixel, 4096 - G of the
// current one, rounded once.
inline void ShearBlend(uint8_t* d, const uint8_t* p, const uint8_t* q, int64_t G) {
    for (int k = 0; k < 3; ++k) d[k] = uint8_t((int64_t(p[k]) * G + int64_t(q[k]) * (4096 - G) + 2048) >> 12);
}

inline int64_t RoundI(double v) { return int64_t(std::nearbyint(v)); }

}  // namespace

void RotateBitmap90CCW(const TBitmap* Source, TBitmap* Dest) {
    if (!Source || !Dest || Source == Dest) return;
    const int W = Source->Width();
    QuarterTurn(Source, Dest, [W](int x, int y, int& sx, int& sy) { sx = W - 1 - y, sy = x; });
}

void RotateBitmap90CW(const TBitmap* Source, TBitmap* Dest) {
    if (!Source || !Dest || Source == Dest) return;
    const int H = Source->Height();
    QuarterTurn(Source, Dest, [H](int x, int y, int& sx, int& sy) { sx = y, sy = H - 1 - x; });
}

TLuxProc::TLuxProc(TComponent* AOwner)
    : TComponent(AOwner), undo_(std::make_unique<TBitmap>()), previewFont_(std::make_unique<TFont>()) {
    undo_->SetSize(1, 1);
}

TLuxProc::~TLuxProc() {
    DetachView();
    DetachImage();
}

void TLuxProc::DetachView() {
    if (!view_) return;
    view_->RemoveBitmapChangeEvent(MakeMethod(this, &TLuxProc::ViewChanged));
    view_->RemoveFreeNotification(this);
    // The view's bitmap lives and dies with the view: never keep it past the attachment.
    if (target_ == Target::View) bitmap_ = nullptr, target_ = Target::None;
    view_ = nullptr;
    mask_ = nullptr;
}

void TLuxProc::DetachImage() {
    if (!image_) return;
    image_->RemoveFreeNotification(this);
    if (target_ == Target::Image) bitmap_ = nullptr, target_ = Target::None;
    image_ = nullptr;
}

void TLuxProc::SetAttachedView(TLXView* View) {
    if (View == view_) return;
    DetachView();
    if (!View) return;
    DetachImage();
    view_ = View;
    bitmap_ = View->GetBitmap();
    target_ = Target::View;
    View->FreeNotification(this);
    View->RegisterBitmapChangeEvent(MakeMethod(this, &TLuxProc::ViewChanged));
    mask_ = View->GetAlphaMask();
}

void TLuxProc::SetAttachedTImage(TImage* Image) {
    if (Image == image_) return;
    DetachView();
    DetachImage();
    if (!Image) return;
    image_ = Image;
    bitmap_ = Image->Picture()->Bitmap();
    target_ = Target::Image;
    Image->FreeNotification(this);
    mask_ = nullptr;
}

void TLuxProc::SetAttachedBitmap(TBitmap* Bitmap) {
    if (!Bitmap) {
        if (view_ || image_) return;
        bitmap_ = nullptr;
        target_ = Target::None;
        return;
    }
    DetachView();
    DetachImage();
    mask_ = nullptr;
    bitmap_ = Bitmap;
    target_ = Target::Bare;
}

void TLuxProc::ViewChanged(TLXView* View, uint8_t Flag) {
    if (!view_ || View != view_) return;
    if (Flag == 1) {
        // The view is going and empties its own list: drop what belongs to it.
        view_ = nullptr;
        mask_ = nullptr;
        if (target_ == Target::View) bitmap_ = nullptr, target_ = Target::None;
    } else {
        bitmap_ = View->GetBitmap();
        mask_ = View->GetAlphaMask();
    }
}

void TLuxProc::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (view_ && AComponent == static_cast<TComponent*>(view_)) DetachView();
    if (image_ && AComponent == static_cast<TComponent*>(image_)) DetachImage();
}

TColor TLuxProc::Background() const { return view_ ? view_->Background() : background_; }

void TLuxProc::SetBackground(TColor Value) {
    if (view_) view_->SetBackground(Value);
    else background_ = Value;
}

void TLuxProc::SetPreviewFont(TFont* Value) {
    if (Value) previewFont_->Assign(Value);
}

void TLuxProc::Progress(int Percent) {
    if (OnProgress) OnProgress(this, Percent);
}

void TLuxProc::SaveUndo() {
    if (!bitmap_) return;
    undo_->SetSize(1, 1);
    if (bitmap_->Width() > 0 && bitmap_->Height() > 0) CopyBitmap(bitmap_, undo_.get());
}

void TLuxProc::Undo() {
    if (!bitmap_ || (undo_->Width() <= 1 && undo_->Height() <= 1)) return;
    CopyBitmap(undo_.get(), bitmap_);
    Update();
}

void TLuxProc::ResetUndo() { undo_->SetSize(1, 1); }

void TLuxProc::Update() {
    if (view_) {
        view_->Update();
        view_->ImageChange();
    } else if (bitmap_) {
        bitmap_->SetModified(true);
    }
}

void TLuxProc::Clear() {
    if (!bitmap_) return;
    if (AutoUndo) SaveUndo();
    TCanvas* c = bitmap_->Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Background());
    c->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
    bitmap_->FlushCanvas();
    Update();
}

void TLuxProc::Flip(int Direction) {
    if (!bitmap_) return;
    if (AutoUndo) SaveUndo();
    const int W = bitmap_->Width(), H = bitmap_->Height();
    const int bits = PixelFormatBits(bitmap_->PixelFormat());
    auto temp = std::make_unique<TBitmap>();
    temp->SetPixelFormat(bitmap_->PixelFormat());
    temp->Palette() = bitmap_->Palette();
    temp->SetSize(W, H);
    if (W > 0 && H > 0 && bits > 0) {
        const size_t rowLen = size_t((int64_t(W) * bits + 7) / 8);
        for (int y = 0; y < H; ++y) {
            const uint8_t* s = bitmap_->ScanLine(Direction == 1 ? H - 1 - y : y);
            uint8_t* d = temp->ScanLine(y);
            if (Direction == 1) {
                std::memcpy(d, s, rowLen);
            } else if (bits >= 8) {
                const int bpp = bits / 8;
                for (int x = 0; x < W; ++x)
                    std::memcpy(d + int64_t(x) * bpp, s + int64_t(W - 1 - x) * bpp, size_t(bpp));
            } else {
                for (int x = 0; x < W; ++x) SetSubPixel(d, x, bits, GetSubPixel(s, W - 1 - x, bits));
            }
        }
    }
    // The new picture takes the place of the old one: no copy of the pixels.
    bitmap_->Exchange(*temp);
    Update();
}

void TLuxProc::Rotate(double Angle, bool AntiAlias) {
    if (!bitmap_ || Angle == 0 || !std::isfinite(Angle)) return;
    const TPixelFormat pf = bitmap_->PixelFormat();
    // Only the two formats a picture is held in can be turned; others stay as they are.
    if (pf != pf24bit && pf != pf1bit) return;
    if (AutoUndo) SaveUndo();
    if (pf == pf1bit) {
        Rotate1Bit(Angle);
        return;
    }
    // Steps of 0.001 degree, remainder with the sign of the angle, so -360 < rest < 360.
    double rest = std::fmod(std::trunc(Angle * 1000.0), 360000.0) / 1000.0;
    std::unique_ptr<TBitmap> T;
    auto turn = [&](bool ccw) {
        auto next = std::make_unique<TBitmap>();
        const TBitmap* src = T ? T.get() : bitmap_;
        if (ccw) RotateBitmap90CCW(src, next.get());
        else RotateBitmap90CW(src, next.get());
        T = std::move(next);
    };
    while (rest > 45) {
        turn(true);
        rest -= 90;
    }
    while (rest < -45) {
        turn(false);
        rest += 90;
    }
    if (rest == 0) {
        if (T) bitmap_->Exchange(*T);
        Update();
        return;
    }
    if (!T) T = DuplicateBitmap(bitmap_);
    ShearRotate(T.get(), rest, AntiAlias);
    Update();
}

// Three shears (horizontal, vertical, horizontal) of T by Rest degrees into the work bitmap.
// With AntiAlias each pixel is spread over the two target pixels it straddles; the shift is
// split into its floor and a fraction so the weights always lie in 0..4096.
void TLuxProc::ShearRotate(TBitmap* T, double Rest, bool AntiAlias) {
    const double theta = Rest * std::numbers::pi / 180.0;
    const double t = std::fabs(std::tan(theta / 2)), s = std::fabs(std::sin(theta));
    const bool pos = theta > 0;
    const int64_t W = T->Width(), H = T->Height();
    if (W <= 0 || H <= 0) return;
    const TRGB bgc = TColorToRGB(Background());
    const uint8_t bg[3] = {bgc.b, bgc.g, bgc.r};

    const int64_t W1 = std::max<int64_t>(1, RoundI(double(H) * t + double(W) + 1));
    const int64_t L = RoundI(double(W1 - W) * s);
    int64_t H2 = RoundI(s * double(W1) + double(H) + 1);
    const int64_t K = RoundI(t * double(H2 - H - L));
    H2 = std::max<int64_t>(1, H2 - 2 * L);
    const int64_t W3 = std::max<int64_t>(1, RoundI(t * double(H2) + double(W1) + 1 - 2.0 * double(K)));
    if (W3 > INT32_MAX / 32 || H2 > INT32_MAX) throw EIntOverflow("Rotated picture too large");
    const double steps = double(H + W1 + H2) + 0.5;
    int64_t n = 0;
    auto progress = [&] { if (OnProgress) Progress(int(std::trunc(double(n++) * 100.0 / steps))); };
    auto split = [&](double skew, int64_t& k, int64_t& G) {
        if (AntiAlias) {
            k = int64_t(std::floor(skew));
            G = std::clamp<int64_t>(RoundI((skew - double(k)) * 4096), 0, 4096);
        } else {
            k = RoundI(skew);
            G = 0;
        }
    };
    // One line of Len source pixels (step SStep bytes) placed from Offset on a target line of
    // TLen pixels (step DStep bytes), filled with the background first.
    auto shearLine = [&](const uint8_t* src, int64_t sStep, int64_t len, uint8_t* dst, int64_t dStep,
                         int64_t tLen, int64_t offset, int64_t G) {
        for (int64_t i = 0; i < tLen; ++i) std::memcpy(dst + i * dStep, bg, 3);
        const uint8_t* p = bg;
        for (int64_t i = 0; i < len; ++i) {
            const int64_t ti = offset + i;
            if (ti < 0 || ti >= tLen) continue;
            const uint8_t* q = src + i * sStep;
            if (AntiAlias) ShearBlend(dst + ti * dStep, p, q, G);
            else std::memcpy(dst + ti * dStep, q, 3);
            p = q;
        }
        const int64_t tail = offset + len;
        if (AntiAlias && G > 0 && tail >= 0 && tail < tLen) ShearBlend(dst + tail * dStep, p, bg, G);
    };

    auto rows = RowTable(static_cast<const TBitmap*>(T));
    std::vector<uint8_t> B1(size_t(W1 * H * 3));
    for (int64_t y = 0; y < H; ++y) {
        progress();
        int64_t k, G;
        split(double(pos ? y : H - y) * t, k, G);
        shearLine(rows[size_t(y)], 3, W, B1.data() + y * W1 * 3, 3, W1, k, G);
    }
    std::vector<uint8_t> B2(size_t(W1 * H2 * 3));
    for (int64_t x = 0; x < W1; ++x) {
        progress();
        int64_t k, G;
        split(double(pos ? W1 - x : x) * s, k, G);
        shearLine(B1.data() + x * 3, W1 * 3, H, B2.data() + x * 3, W1 * 3, H2, k - L, G);
    }
    B1 = {};
    bitmap_->SetPixelFormat(pf24bit);
    bitmap_->SetSize(int(W3), int(H2));
    auto out = RowTable(bitmap_);
    for (int64_t y = 0; y < H2; ++y) {
        progress();
        int64_t k, G;
        split(double(pos ? y : H2 - y) * t, k, G);
        shearLine(B2.data() + y * W1 * 3, 3, W1, out[size_t(y)], 3, W3, k - K, G);
    }
}

// Inverse mapping of each destination bit; the corners take the stored background's bit.
void TLuxProc::Rotate1Bit(double Angle) {
    const double phi = -Angle * std::numbers::pi / 180.0;
    const double c = std::trunc(std::cos(phi) * 10000) / 10000, sn = std::trunc(std::sin(phi) * 10000) / 10000;
    const int W = bitmap_->Width(), H = bitmap_->Height();
    // Rounded and at least 1, so a near-zero angle keeps every row and column.
    const int64_t Wn = std::max<int64_t>(1, RoundI(std::fabs(W * c) + std::fabs(H * sn)));
    const int64_t Hn = std::max<int64_t>(1, RoundI(std::fabs(W * sn) + std::fabs(H * c)));
    auto dest = std::make_unique<TBitmap>();
    dest->SetPixelFormat(pf1bit);
    dest->SetSize(int(Wn), int(Hn));
    const bool fill = background_ != 0;
    auto src = RowTable(static_cast<const TBitmap*>(bitmap_));
    const double cx = W / 2.0 - 0.5, cy = H / 2.0 - 0.5, dcx = double(Wn) / 2.0 - 0.5, dcy = double(Hn) / 2.0 - 0.5;
    for (int64_t j = 0; j < Hn; ++j) {
        uint8_t* d = dest->ScanLine(int(j));
        const double v = double(j) - dcy;
        for (int64_t i = 0; i < Wn; ++i) {
            const double u = double(i) - dcx;
            const double fx = std::floor(cx + c * u + sn * v), fy = std::floor(cy - sn * u + c * v);
            bool bit = fill;
            if (fx >= 0 && fx < W && fy >= 0 && fy < H) bit = GetBit(src[size_t(fy)], int(fx)) != 0;
            SetBit(d, int(i), bit);
        }
        if (OnProgress) Progress(int(std::trunc(double(j) * 100.0 / double(Hn))));
    }
    CopyBitmap(dest.get(), bitmap_);
    Update();
}

// ---- Magic wand ----

namespace {

// The pixels 4-connected to the seed that pass the tolerance test, as a byte plane of the
// image's size (1 = in the region), with their bounding box.
struct WandRegion {
    int W = 0, H = 0;
    std::vector<uint8_t> marked;
    int X1 = 0, Y1 = 0, X2 = -1, Y2 = -1;   // inclusive
    bool In(int x, int y) const { return marked[size_t(y) * size_t(W) + size_t(x)] != 0; }
};

bool SeedInside(const TBitmap* b, int X, int Y) {
    return b && b->PixelFormat() == pf24bit && X >= 0 && Y >= 0 && X < b->Width() && Y < b->Height();
}

// Largest channel difference from the seed at most Tolerance.
struct ColourTest {
    uint8_t b0, g0, r0;
    int tol;
    bool operator()(const uint8_t* p) const {
        return std::abs(p[0] - b0) <= tol && std::abs(p[1] - g0) <= tol && std::abs(p[2] - r0) <= tol;
    }
};

ColourTest SeedTest(const TBitmap* b, int X, int Y, int Tolerance) {
    const uint8_t* s = b->ScanLine(Y) + int64_t(X) * 3;
    return {s[0], s[1], s[2], Tolerance};
}

bool FillRegion(const TBitmap* b, int X, int Y, int Tolerance, WandRegion& r) {
    if (!SeedInside(b, X, Y)) return false;
    r.W = b->Width();
    r.H = b->Height();
    r.marked.assign(size_t(r.W) * size_t(r.H), 0);
    r.X1 = X, r.Y1 = Y, r.X2 = X, r.Y2 = Y;
    const ColourTest ok = SeedTest(b, X, Y, Tolerance);
    auto rows = RowTable(b);
    auto free = [&](int x, int y) {
        return !r.marked[size_t(y) * size_t(r.W) + size_t(x)] && ok(rows[size_t(y)] + int64_t(x) * 3);
    };
    // Span fill: each popped seed grows into its whole run, then seeds the runs above and below.
    std::vector<std::pair<int, int>> stack{{X, Y}};
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        if (!free(x, y)) continue;
        int l = x, rr = x;
        while (l > 0 && free(l - 1, y)) --l;
        while (rr + 1 < r.W && free(rr + 1, y)) ++rr;
        std::memset(&r.marked[size_t(y) * size_t(r.W) + size_t(l)], 1, size_t(rr - l + 1));
        r.X1 = std::min(r.X1, l), r.X2 = std::max(r.X2, rr);
        r.Y1 = std::min(r.Y1, y), r.Y2 = std::max(r.Y2, y);
        for (int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= r.H) continue;
            bool inRun = false;
            for (int i = l; i <= rr; ++i) {
                const bool f = free(i, ny);
                if (f && !inRun) stack.push_back({i, ny});
                inRun = f;
            }
        }
    }
    return true;
}

}  // namespace

void MagicWandFill(const TBitmap* Bitmap, int X, int Y, bool MaxFilter, int Tolerance, TLXMask* Mask) {
    WandRegion r;
    if (!Mask || !FillRegion(Bitmap, X, Y, Tolerance, r)) return;
    for (int y = r.Y1; y <= r.Y2; ++y)
        for (int x = r.X1; x <= r.X2; ++x) {
            if (!r.In(x, y)) continue;
            if (!MaxFilter) {
                Mask->SetPixel(x, y, 1);
                continue;
            }
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < r.W && ny < r.H) Mask->SetPixel(nx, ny, 1);
                }
        }
}

void SelectByColor(const TBitmap* Bitmap, int X, int Y, int Tolerance, TLXMask* Mask) {
    if (!Mask || !SeedInside(Bitmap, X, Y)) return;
    const ColourTest ok = SeedTest(Bitmap, X, Y, Tolerance);
    for (int y = 0; y < Bitmap->Height(); ++y) {
        const uint8_t* row = Bitmap->ScanLine(y);
        for (int x = 0; x < Bitmap->Width(); ++x)
            if (ok(row + int64_t(x) * 3)) Mask->SetPixel(x, y, 1);
    }
}

std::vector<TPoint> MagicWandPolygon(const TBitmap* Bitmap, int X, int Y, bool MaxFilter, int Tolerance) {
    WandRegion r;
    if (!FillRegion(Bitmap, X, Y, Tolerance, r)) return {};
    const int BW = r.X2 - r.X1 + 1, BH = r.Y2 - r.Y1 + 1;
    // The region in its bounding box, grown by one pixel each way with MaxFilter.
    std::vector<uint8_t> plane(size_t(BW) * size_t(BH), 0);
    for (int y = 0; y < BH; ++y)
        for (int x = 0; x < BW; ++x) {
            if (!r.In(x + r.X1, y + r.Y1)) continue;
            if (!MaxFilter) {
                plane[size_t(y) * size_t(BW) + size_t(x)] = 1;
                continue;
            }
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < BW && ny < BH) plane[size_t(ny) * size_t(BW) + size_t(nx)] = 1;
                }
        }
    r.marked = {};
    // Four cells a pixel and a margin of two: 16 bytes a pixel, so the size is checked.
    const int64_t GW = 4 * int64_t(BW) + 4, GH = 4 * int64_t(BH) + 4;
    constexpr int64_t MaxCells = int64_t(1) << 32;
    if (GW * GH > MaxCells) return {};
    std::vector<uint8_t> g;
    try {
        g.assign(size_t(GW * GH), 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    auto cell = [&](int64_t x, int64_t y) -> uint8_t& { return g[size_t(y * GW + x)]; };
    for (int y = 0; y < BH; ++y)
        for (int x = 0; x < BW; ++x)
            if (plane[size_t(y) * size_t(BW) + size_t(x)])
                for (int64_t cy = 4 * int64_t(y) + 2; cy < 4 * int64_t(y) + 6; ++cy)
                    std::memset(&cell(4 * int64_t(x) + 2, cy), 1, 4);
    plane = {};

    // Border cells: the cell just before each run of 1s, in all four sweep directions.
    for (int64_t y = 0; y < GH; ++y) {
        for (int64_t x = 1; x < GW; ++x)
            if (cell(x, y) == 1 && cell(x - 1, y) != 1) cell(x - 1, y) = 3;
        for (int64_t x = GW - 2; x >= 0; --x)
            if (cell(x, y) == 1 && cell(x + 1, y) != 1) cell(x + 1, y) = 3;
    }
    for (int64_t x = 0; x < GW; ++x) {
        for (int64_t y = 1; y < GH; ++y)
            if (cell(x, y) == 1 && cell(x, y - 1) != 1) cell(x, y - 1) = 3;
        for (int64_t y = GH - 2; y >= 0; --y)
            if (cell(x, y) == 1 && cell(x, y + 1) != 1) cell(x, y + 1) = 3;
    }

    // Start: the 3-cell nearest the top-left corner of the 3-cells' box, first in row order.
    int64_t bx1 = GW, by1 = GH;
    for (int64_t y = 0; y < GH; ++y)
        for (int64_t x = 0; x < GW; ++x)
            if (cell(x, y) == 3) bx1 = std::min(bx1, x), by1 = std::min(by1, y);
    if (bx1 == GW) return {};
    int64_t sx = -1, sy = -1, best = INT64_MAX;
    for (int64_t y = 0; y < GH; ++y)
        for (int64_t x = 0; x < GW; ++x)
            if (cell(x, y) == 3) {
                const int64_t d = (x - bx1) * (x - bx1) + (y - by1) * (y - by1);
                if (d < best) best = d, sx = x, sy = y;
            }
    cell(sx, sy) = 2;

    // Trace the border with Freeman chain codes.
    static constexpr int DX[8] = {1, 0, -1, 0, 1, -1, -1, 1};
    static constexpr int DY[8] = {0, -1, 0, 1, -1, -1, 1, 1};
    static constexpr int Code[8] = {0, 2, 4, 6, 1, 3, 5, 7};
    auto holds3 = [&](int64_t x, int64_t y) { return x >= 0 && y >= 0 && x < GW && y < GH && cell(x, y) == 3; };
    std::vector<uint8_t> codes;
    int64_t cx = sx, cy = sy;
    int remembered = 4;
    for (;;) {
        if (holds3(cx + DX[remembered], cy + DY[remembered])) {
            cx += DX[remembered], cy += DY[remembered];
            cell(cx, cy) = 2;
            codes.push_back(uint8_t(Code[remembered]));
        }
        int d = 0;
        while (d < 8 && !holds3(cx + DX[d], cy + DY[d])) ++d;
        if (d == 8) break;
        cx += DX[d], cy += DY[d];
        cell(cx, cy) = 2;
        codes.push_back(uint8_t(Code[d]));
        remembered = d;
    }
    for (int d = 0; d < 8; ++d)
        if (cx + DX[d] == sx && cy + DY[d] == sy) {
            codes.push_back(uint8_t(Code[d]));
            break;
        }

    // Corners of the chain, back in image pixels.
    static constexpr int MX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    static constexpr int MY[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    std::vector<TPoint> pts;
    int64_t px = sx + 4 * int64_t(r.X1) - 1, py = sy + 4 * int64_t(r.Y1) - 1;
    pts.push_back({int(px / 4), int(py / 4)});
    int prev = codes.empty() ? -1 : codes[0];
    for (uint8_t c : codes) {
        if (c != prev) pts.push_back({int(px / 4), int(py / 4)});
        prev = c;
        px += MX[c], py += MY[c];
    }
    return pts;
}
