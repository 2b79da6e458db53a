// The show's music over Qt Multimedia: the music's copy (TMusicCopy) played in a loop. Without
// Qt Multimedia in the build, or without an audio output, nothing plays and the show runs on.
#pragma once

#include <functional>
#include <memory>

#include "ShowLoop.h"

class TShowMusicPlayer : public IShowMusic {
public:
    // Failed is called (from the event loop, never inside Play) when the file turns out not
    // to be playable.
    explicit TShowMusicPlayer(std::function<void()> Failed);
    ~TShowMusicPlayer() override;
    bool Play(const std::string& FileName) override;
    void Stop() override;
    // Whether this build can play music at all.
    static bool Available();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
