// The single-instance rule: a named lock that lives as long as the process.
//
// On Linux the name becomes a lock file in $XDG_RUNTIME_DIR (per user and session), or in the
// temporary folder with the user id in its name when there is no runtime folder. The lock is
// an flock on it, so the kernel releases it on any exit, a crash included.
#pragma once

#include <string>

enum class TMutexResult {
    Created,          // this process holds the lock
    AlreadyExists,    // another process holds it
    Unavailable,      // no lock file could be opened; the caller goes on without the rule
};

// Takes the lock for the rest of the process' life; the descriptor is never closed.
TMutexResult CreateNamedMutex(const std::string& Name);
// Where the lock file of Name lives.
std::string NamedMutexPath(const std::string& Name);
