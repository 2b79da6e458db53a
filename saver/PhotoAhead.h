// Decode-ahead for the show: while a photo is on screen, one worker thread reads and decodes
// the next one through an I/O component of its own into a bitmap of its own (TLuxIOAhead), so
// that the photo timer's tick only swaps pictures. The image library's objects are not
// thread-safe: the worker touches only its decode-ahead and the block reader; the show's view
// changes only on the UI thread, in Take. Nothing here waits for a decode but the destructor,
// which cancels it first (the decoders look at the flag while they work).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Classes.h"
#include "ShowLoop.h"

class TLuxImage;
class TLuxIOAhead;
class TLXIOParams;

class TPhotoAhead : public IPhotoAhead {
public:
    // Open(K) gives block K as a stream (null when there is none); it is called on the worker
    // thread. Create on the UI thread.
    TPhotoAhead(TLuxImage* View, std::function<std::unique_ptr<TStream>(int K)> Open);
    ~TPhotoAhead() override;
    TPhotoAhead(const TPhotoAhead&) = delete;
    TPhotoAhead& operator=(const TPhotoAhead&) = delete;

    void Start(int K) override;
    TAheadStatus Status(int K) override;
    bool Take(int K, std::string& Name, std::string& Comment, int& W, int& H) override;
    void Discard() override;

    // Tests: true while a job is queued or being decoded.
    bool Busy();

private:
    struct Job;
    void Run();
    bool Decode(Job& J);
    // With the lock held: what is queued, in work or done is no longer wanted.
    void DropLocked();
    void Progress(TObject* Sender, int Percent);

    TLuxImage* view_;
    std::function<std::unique_ptr<TStream>(int)> open_;
    std::unique_ptr<TLuxIOAhead> ahead_;   // the worker's own

    std::mutex lock_;
    std::condition_variable changed_;
    std::unique_ptr<Job> queued_, done_;   // done_ holds only a job still wanted
    uint64_t wanted_ = 0;                  // the number of the job still wanted
    int runningK_ = 0;                     // the block in work, 0 for none
    uint64_t runningNumber_ = 0;
    bool quit_ = false;
    std::atomic<bool> cancel_{false};      // ends the decode in work (read by the worker)
    std::thread worker_;
};
