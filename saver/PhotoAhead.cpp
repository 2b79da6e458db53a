#include "PhotoAhead.h"

#include "LuxImage.h"
#include "LuxIO.h"
#include "LuxIOAhead.h"
#include "Win32.h"

struct TPhotoAhead::Job {
    int K = 0;
    uint64_t Number = 0;
    // The inputs a load of the show's view would see.
    std::unique_ptr<TLXIOParams> Params;
    TColor Background = 0;
    bool StreamHeaders = false;
    // The result.
    bool Ok = false;
    bool Missing = false;   // no such block
    std::string Name, Comment;
    int W = 0, H = 0;
};

TPhotoAhead::TPhotoAhead(TLuxImage* View, std::function<std::unique_ptr<TStream>(int)> Open)
    : view_(View), open_(std::move(Open)), ahead_(std::make_unique<TLuxIOAhead>()) {
    ahead_->IO()->OnProgress = TLXProgressEvent(this, &TPhotoAhead::Progress);
    ahead_->IO()->Cancel = &cancel_;
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
    ahead_.reset();
}

void TPhotoAhead::Progress(TObject*, int) {
    if (cancel_.load(std::memory_order_relaxed)) ahead_->IO()->Aborting = true;
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

TAheadStatus TPhotoAhead::Status(int K) {
    std::lock_guard<std::mutex> g(lock_);
    if (K == 0) return TAheadStatus::None;
    if (done_ && done_->K == K)
        return done_->Ok ? TAheadStatus::Ready : done_->Missing ? TAheadStatus::Missing : TAheadStatus::Failed;
    if ((queued_ && queued_->K == K) || (runningK_ == K && runningNumber_ == wanted_)) return TAheadStatus::Working;
    return TAheadStatus::None;
}

bool TPhotoAhead::Take(int K, std::string& Name, std::string& Comment, int& W, int& H) {
    std::unique_ptr<Job> j;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (K == 0 || !done_ || done_->K != K || !done_->Ok) {
            DropLocked();
            return false;
        }
        j = std::move(done_);
    }
    // A job is done and nothing is queued, so the worker is idle: its decode-ahead may be
    // touched here.
    ahead_->HandTo(view_->IO());
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
        if (!s) {
            J.Missing = true;
            return false;
        }
        if (!ReadPhotoHeader(s.get(), J.Name, J.Comment)) return false;
        ahead_->Prepare(J.Params.get(), J.Background, J.StreamHeaders);
        if (!ahead_->LoadStream(s.get())) return false;
    } catch (...) {
        // Whatever the load raised, the photo is skipped as one that does not decode.
        return false;
    }
    if (cancel_) return false;
    J.W = ahead_->Width();
    J.H = ahead_->Height();
    return true;
}
