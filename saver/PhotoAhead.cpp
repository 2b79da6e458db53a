#include "PhotoAhead.h"

#include "LuxImage.h"
#include "LuxIO.h"
#include "LuxIOCodec.h"
#include "Win32.h"
#include "lxdefs.h"

// The worker's target: a view that is never shown, holding the bitmap and alpha mask the
// worker's I/O component decodes into, and noting what that component tells a view, so that
// Take can tell the show's view the same.
class TDecodeTarget : public TLXView {
public:
    TDecodeTarget() : TLXView(nullptr) {}
    ~TDecodeTarget() override { NotifyDestroying(); }

    TBitmap* GetBitmap() override { return &bitmap; }
    // Only the formats whose readers write alpha get a mask: for the others a load would
    // only fill one with 255, which Take does on the show's own mask without a second copy.
    TLXMask* GetAlphaMask() override { return withMask ? &mask : nullptr; }
    void LockPaint() override {}
    void UnlockPaint() override {}
    void UnlockPaintNoUpdate() override {}
    void SetBackground(TColor Color) override {
        TLXView::SetBackground(Color);
        backgroundSet = true;
    }
    void SetDpi(int X, int Y) override {
        TLXView::SetDpi(X, Y);
        dpiSet = true;
        dpiX = X;
        dpiY = Y;
    }

    // Empty picture and mask (their blocks go back for reuse), the show's background, nothing
    // noted yet.
    void Reset(TColor Background) {
        bitmap.SetSize(0, 0);
        bitmap.SetPixelFormat(pf24bit);
        bitmap.Palette().clear();
        mask.FreeBits();
        TLXView::SetBackground(Background);
        backgroundSet = dpiSet = false;
    }

    TBitmap bitmap;
    TLXMask mask;
    bool withMask = true;
    bool backgroundSet = false, dpiSet = false;
    int dpiX = 0, dpiY = 0;
};

struct TPhotoAhead::Job {
    int K = 0;
    uint64_t Number = 0;
    // The inputs a load of the show's view would see.
    std::unique_ptr<TLXIOParams> Params;
    TColor Background = 0;
    bool StreamHeaders = false;
    // The result.
    bool Ok = false;
    bool MaskFull = false;   // the picture's alpha is all 255: there is no mask to hand over
    std::string Name, Comment;
    int W = 0, H = 0;
};

TPhotoAhead::TPhotoAhead(TLuxImage* View, std::function<std::unique_ptr<TStream>(int)> Open)
    : view_(View), open_(std::move(Open)), target_(std::make_unique<TDecodeTarget>()),
      io_(std::make_unique<TLuxIO>(nullptr)) {
    io_->SetAttachedView(target_.get());
    io_->OnProgress = TLXProgressEvent(this, &TPhotoAhead::Progress);
    // The codecs ask for the screen's resolution: learn it here, on the UI thread.
    ScreenPixelsPerInch();
    worker_ = std::thread([this] { Run(); });
}

TPhotoAhead::~TPhotoAhead() {
    {
        std::lock_guard<std::mutex> g(lock_);
        quit_ = true;
        DropLocked();
    }
    changed_.notify_all();
    worker_.join();
    io_.reset();
    target_.reset();
}

void TPhotoAhead::Progress(TObject*, int) {
    if (cancel_.load(std::memory_order_relaxed)) io_->Aborting = true;
}

void TPhotoAhead::DropLocked() {
    ++wanted_;
    queued_.reset();
    done_.reset();
    if (runningK_ != 0) cancel_ = true;
}

bool TPhotoAhead::Busy() {
    std::lock_guard<std::mutex> g(lock_);
    return queued_ || runningK_ != 0;
}

void TPhotoAhead::Start(int K) {
    auto j = std::make_unique<Job>();
    j->K = K;
    j->Params = std::make_unique<TLXIOParams>(nullptr);
    j->Params->Assign(view_->IO()->Params());
    j->Background = view_->Background();
    j->StreamHeaders = view_->IO()->StreamHeaders;
    {
        std::lock_guard<std::mutex> g(lock_);
        DropLocked();
        j->Number = wanted_;
        queued_ = std::move(j);
    }
    changed_.notify_all();
}

void TPhotoAhead::Discard() {
    std::lock_guard<std::mutex> g(lock_);
    DropLocked();
}

bool TPhotoAhead::Take(int K, std::string& Name, std::string& Comment, int& W, int& H) {
    std::unique_ptr<Job> j;
    {
        std::unique_lock<std::mutex> lk(lock_);
        const int wantedK = done_ ? done_->K : queued_ ? queued_->K : runningNumber_ == wanted_ ? runningK_ : 0;
        if (wantedK != K || K == 0) {
            DropLocked();
            return false;
        }
        changed_.wait(lk, [&] { return done_ != nullptr; });
        j = std::move(done_);
    }
    // The worker is idle now and nothing is queued: its target may be touched here.
    if (!j->Ok) return false;
    TLuxIO* io = view_->IO();
    view_->GetBitmap()->Exchange(target_->bitmap);
    TLXMask* mask = view_->GetAlphaMask();
    if (!j->MaskFull) {
        mask->Exchange(target_->mask);
    } else if (mask->Bits && mask->BitsPerPixel == 8 && mask->Width == j->W && mask->Height == j->H && mask->Full) {
        // Already what the load would make of it: only its box starts over.
        mask->X1 = mask->Y1 = TLXMask::EmptyBox;
        mask->X2 = mask->Y2 = 0;
    } else {
        mask->AllocBits(j->W, j->H, 8);
        mask->Fill(255);
    }
    io->Params()->Assign(io_->Params());
    if (target_->backgroundSet) io->SetBackground(target_->Background());
    if (target_->dpiSet) view_->SetDpi(target_->dpiX, target_->dpiY);
    io->Aborting = false;
    // As the view's own load ends: the view recomputes and repaints, ImageChange fires.
    io->Update();
    Name = std::move(j->Name);
    Comment = std::move(j->Comment);
    W = j->W;
    H = j->H;
    return true;
}

void TPhotoAhead::Run() {
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
        changed_.wait(lk, [&] { return quit_ || queued_; });
        if (quit_) return;
        std::unique_ptr<Job> j = std::move(queued_);
        runningK_ = j->K;
        runningNumber_ = j->Number;
        cancel_ = false;
        lk.unlock();
        j->Ok = Decode(*j);
        lk.lock();
        runningK_ = 0;
        runningNumber_ = 0;
        if (j->Number == wanted_) done_ = std::move(j);
        changed_.notify_all();
    }
}

bool TPhotoAhead::Decode(Job& J) {
    try {
        // The photo streams from its block: never a second copy of its bytes in memory.
        std::unique_ptr<TStream> s = open_(J.K);
        if (!s || !ReadPhotoHeader(s.get(), J.Name, J.Comment)) return false;
        target_->Reset(J.Background);
        io_->Params()->Assign(J.Params.get());
        io_->StreamHeaders = J.StreamHeaders;
        const int64_t start = s->Position();
        const int type = DetectStreamFormat(s.get());
        s->SetPosition(start);
        // The readers that write alpha into the mask, as the I/O component hands it to them.
        const TLXCodec* codec = FindCodec(type);
        const bool withMask = codec && (codec->Flags & lxcoFillsMask);
        J.MaskFull = !withMask;
        if (withMask != target_->withMask) {
            target_->withMask = withMask;
            target_->CallBitmapChangeEvents();   // the component takes the mask (or none) again
        }
        io_->Aborting = false;
        io_->LoadFromStream(s.get());
    } catch (...) {
        // Whatever the load raised, the show's own load of the block reports it at the tick.
        return false;
    }
    if (io_->Aborting || cancel_) return false;
    J.W = target_->bitmap.Width();
    J.H = target_->bitmap.Height();
    return J.W >= 1 && J.H >= 1;
}
