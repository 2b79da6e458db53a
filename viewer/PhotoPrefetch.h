// gdview's photo from the command line, decoded on a worker thread from the first moment of
// the program, so that decoding overlaps the start of Qt, the language file and the main
// window. The window's load takes the picture only when nothing can tell it apart from its own
// load: the same file name, the file unchanged since, the same background and screen
// resolution; otherwise it loads the file itself (and meets and reports any fault itself).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "Classes.h"
#include "FileState.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLuxIO;
class TLuxIOAhead;

class TPhotoPrefetch {
public:
    // Starts decoding FileName (a regular file; anything else is left alone). Background is
    // the one the window's view will have. Needs no application object.
    TPhotoPrefetch(const std::string& FileName, TColor Background);
    // Stops a decode still running.
    ~TPhotoPrefetch();
    TPhotoPrefetch(const TPhotoPrefetch&) = delete;
    TPhotoPrefetch& operator=(const TPhotoPrefetch&) = delete;

    // On the UI thread, in place of IO->LoadFromFile(FileName) on a view's component that has
    // loaded nothing yet: waits for the decode, telling Progress the percentages the load
    // tells, and hands the picture over. False (IO untouched) when the caller must load the
    // file itself: another file, a failed decode, a file changed since. Only the first call
    // can take the picture.
    bool TakeInto(const std::string& FileName, TLuxIO* IO, const TLXProgressEvent& Progress);

    // Tests: waits until the worker has finished.
    void Wait();

private:
    void Run();
    void Progress(TObject* Sender, int Percent);

    const std::string fileName_;
    const TColor background_;
    TFileState before_, after_;        // the file when the decode started and ended
    std::unique_ptr<TLuxIOAhead> ahead_;
    bool ok_ = false;
    bool dpiAsked_ = false;           // a reader asked for the screen's resolution (answered 96)

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<int> percents_;       // reported and not yet passed on
    int lastPercent_ = -1;            // the worker's last report
    int width_ = 0, height_ = 0;      // the picture's size once the reader has made it
    bool opaque_ = false;             // and it reads no alpha: the view gets an opaque mask
    TLXMask mask_;                    // that mask, made on the UI thread while the decode runs
    bool done_ = false;
    bool cancel_ = false;
    std::thread worker_;
};
