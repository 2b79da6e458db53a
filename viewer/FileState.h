// What tells a file apart from the file a name gave earlier: which file it is (device and
// inode) and its size, modification and change times. The photo's loads and the album copy
// compare states to make sure the window shows, names and copies one and the same file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

struct TFileState {
    bool ok = false;   // a regular file was there
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    bool operator==(const TFileState& o) const;
    bool operator!=(const TFileState& o) const { return !(*this == o); }
};

TFileState FileStateOf(const struct stat& St);
// What the name names now; not ok when nothing or no regular file is there.
TFileState FileStateOf(const std::string& Path);
TFileState FileStateOfFd(int Fd);
