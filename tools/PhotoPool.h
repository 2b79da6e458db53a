// The photos of a build read and checked on every core the process may use, and handed back
// one by one in the order given, so what is written never depends on the number of threads.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PlayerFile.h"

namespace gdpack {

// A photo file as read and checked: its bytes when the player can show it, else why not
// (Image then empty).
struct CheckedPhoto {
    Bytes Image;
    std::string Why;
};

// Reads the file (refused unless it is a regular file) and checks it as the player reads it.
CheckedPhoto CheckPhotoFile(const std::string& Path);

// The cores this process may run on (its CPU affinity), at least 1.
unsigned UsableCores();

// Checks Paths on Workers threads and calls Take(i, photo) on the calling thread for i = 0,
// 1, ... in order. At most Workers photos are held at any time: read, being checked or
// waiting for their turn. An exception from Take stops the work and is passed on.
void CheckPhotosInOrder(const std::vector<std::string>& Paths, unsigned Workers,
                        const std::function<void(size_t, CheckedPhoto&&)>& Take);

}  // namespace gdpack
