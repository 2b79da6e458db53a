// Preloaded into gdview by its X test: a GObject-busy thread for the whole run. The programs
// gdview starts do not get it.
#include <cstdlib>
#include <thread>

#include "gobject_busy.h"

namespace {

std::atomic<bool> never{false};

[[gnu::constructor]] void StartBusyThread() {
    ::unsetenv("LD_PRELOAD");
    std::thread([] { GObjectBusyLoop(never); }).detach();
}

}  // namespace
