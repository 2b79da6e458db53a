#include "PhotoPrefetch.h"

#include "LuxIO.h"
#include "LuxIOAhead.h"
#include "Win32.h"

namespace {
// What a reader is told of the screen while the screen cannot be asked yet.
constexpr int kDpiStandIn = 96;
}  // namespace

TPhotoPrefetch::TPhotoPrefetch(const std::string& FileName, TColor Background)
    : fileName_(FileName), background_(Background), ahead_(std::make_unique<TLuxIOAhead>()) {
    // A pipe or a device could block the worker (and the end of the program) for ever.
    if (FileName.empty() || !FileStateOf(FileName).ok) {
        done_ = true;
        return;
    }
    ahead_->Prepare(nullptr, Background, false);
    ahead_->IO()->OnProgress = MakeMethod(this, &TPhotoPrefetch::Progress);
    worker_ = std::thread([this] { Run(); });
}

TPhotoPrefetch::~TPhotoPrefetch() {
    {
        std::lock_guard<std::mutex> g(lock_);
        cancel_ = true;
    }
    if (worker_.joinable()) worker_.join();
}

void TPhotoPrefetch::Run() {
    TScreenDpiStandIn dpi(kDpiStandIn);
    before_ = FileStateOf(fileName_);
    const bool ok = before_.ok && ahead_->LoadFile(fileName_);
    after_ = FileStateOf(fileName_);
    std::lock_guard<std::mutex> g(lock_);
    ok_ = ok && !cancel_;
    dpiAsked_ = dpi.Asked();
    done_ = true;
    changed_.notify_all();
}

// On the worker: each new percentage is kept for the UI thread, in order, and so is the
// picture's size once the reader has made the picture.
void TPhotoPrefetch::Progress(TObject*, int Percent) {
    std::lock_guard<std::mutex> g(lock_);
    if (cancel_) {
        ahead_->IO()->Aborting = true;
        return;
    }
    bool news = false;
    if (width_ == 0 && ahead_->Width() > 0) {
        width_ = ahead_->Width();
        height_ = ahead_->Height();
        opaque_ = !ahead_->ReadsAlpha();
        news = true;
    }
    if (Percent != lastPercent_) {
        lastPercent_ = Percent;
        percents_.push_back(Percent);
        news = true;
    }
    if (news) changed_.notify_all();
}

void TPhotoPrefetch::Wait() {
    std::unique_lock<std::mutex> lk(lock_);
    changed_.wait(lk, [&] { return done_; });
}

bool TPhotoPrefetch::TakeInto(const std::string& FileName, TLuxIO* IO, const TLXProgressEvent& Progress) {
    if (FileName != fileName_ || !worker_.joinable() || !IO || IO->Background() != background_) return false;
    bool sizeSeen = false;
    for (;;) {
        std::vector<int> now;
        bool done = false, sized = false, opaque = false;
        int w = 0, h = 0;
        {
            std::unique_lock<std::mutex> lk(lock_);
            changed_.wait(lk, [&] { return done_ || !percents_.empty() || (width_ > 0 && !sizeSeen); });
            now.swap(percents_);
            done = done_;
            sized = width_ > 0;
            opaque = opaque_;
            w = width_;
            h = height_;
        }
        if (Progress)
            for (int p : now) Progress(IO, p);
        // The view's opaque mask costs fresh memory of its own: made while the decode runs,
        // it is off the way to the first frame.
        if (sized && !sizeSeen) {
            sizeSeen = true;
            if (opaque && !done) {
                mask_.AllocBits(w, h, 8);
                mask_.Fill(255);
            }
        }
        if (done) break;
    }
    worker_.join();
    if (!ok_ || !(before_ == after_) || !(FileStateOf(FileName) == after_)) return false;
    if (dpiAsked_ && ScreenPixelsPerInch() != kDpiStandIn) return false;
    ahead_->HandTo(IO, &mask_);
    return true;
}
