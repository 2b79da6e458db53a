#include "FileState.h"

bool TFileState::operator==(const TFileState& o) const {
    return ok == o.ok && dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
}

TFileState FileStateOf(const struct stat& St) {
    TFileState s;
    if (!S_ISREG(St.st_mode)) return s;
    s.ok = true;
    s.dev = St.st_dev;
    s.ino = St.st_ino;
    s.size = St.st_size;
    s.mtime = St.st_mtim;
    s.ctime = St.st_ctim;
    return s;
}

TFileState FileStateOf(const std::string& Path) {
    struct stat st {};
    if (::stat(Path.c_str(), &st) != 0) return {};
    return FileStateOf(st);
}

TFileState FileStateOfFd(int Fd) {
    struct stat st {};
    if (::fstat(Fd, &st) != 0) return {};
    return FileStateOf(st);
}
