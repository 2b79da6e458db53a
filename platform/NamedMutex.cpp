#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "SysUtils.h"

std::string NamedMutexPath(const std::string& Name) {
    const char* rt = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (rt && *rt == '/' && ::stat(rt, &st) == 0 && S_ISDIR(st.st_mode) && ::access(rt, W_OK) == 0)
        return IncludeTrailingPathDelimiter(rt) + Name + ".lock";
    return GetTempDir() + Name + "-" + std::to_string(::getuid()) + ".lock";
}

TMutexResult CreateNamedMutex(const std::string& Name) {
    const std::string path = NamedMutexPath(Name);
    // O_NOFOLLOW: in a shared temporary folder a planted link must not make us create or
    // truncate a file elsewhere.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return TMutexResult::Unavailable;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return TMutexResult::Created;   // fd kept open
        if (errno == EINTR) continue;
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? TMutexResult::AlreadyExists : TMutexResult::Unavailable;
    }
}
