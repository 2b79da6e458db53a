#include "PhotoPool.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "ShowCheck.h"
#include "ShowFiles.h"

namespace gdpack {

CheckedPhoto CheckPhotoFile(const std::string& Path) {
    CheckedPhoto c;
    const int fd = OpenInput(Path, c.Why);
    if (fd < 0) return c;
    const bool read = ReadAll(fd, kMaxShowSize, c.Image, c.Why);
    ::close(fd);
    if (!read) return c;
    try {
        c.Why = PhotoProblem(c.Image);
    } catch (const std::exception& e) {
        c.Why = std::string("it cannot be checked: ") + e.what();
    }
    if (!c.Why.empty()) Bytes().swap(c.Image);
    return c;
}

unsigned UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return unsigned(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

void CheckPhotosInOrder(const std::vector<std::string>& Paths, unsigned Workers,
                        const std::function<void(size_t, CheckedPhoto&&)>& Take) {
    const size_t n = Paths.size();
    Workers = unsigned(std::clamp<size_t>(Workers, 1, std::max<size_t>(n, 1)));
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::optional<CheckedPhoto>> done(n);
    size_t next = 0;    // the next photo a worker takes up
    size_t given = 0;   // photos handed to Take and let go
    bool stop = false;

    auto work = [&] {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> l(m);
                // A photo is taken up only while fewer than Workers are held.
                cv.wait(l, [&] { return stop || next >= n || next < given + Workers; });
                if (stop || next >= n) return;
                i = next++;
            }
            CheckedPhoto c;
            try {
                c = CheckPhotoFile(Paths[i]);
            } catch (const std::exception& e) {   // out of memory, mostly
                c = CheckedPhoto{{}, std::string("it cannot be checked: ") + e.what()};
            }
            std::lock_guard<std::mutex> l(m);
            done[i] = std::move(c);
            cv.notify_all();
        }
    };
    std::vector<std::thread> threads;
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> l(m);
            stop = true;
        }
        cv.notify_all();
        for (auto& t : threads) t.join();
    };
    for (unsigned w = 0; w < Workers; ++w) threads.emplace_back(work);
    try {
        for (size_t i = 0; i < n; ++i) {
            CheckedPhoto c;
            {
                std::unique_lock<std::mutex> l(m);
                cv.wait(l, [&] { return done[i].has_value(); });
                c = std::move(*done[i]);
                done[i].reset();
            }
            Take(i, std::move(c));
            Bytes().swap(c.Image);
            {
                std::lock_guard<std::mutex> l(m);
                ++given;
            }
            cv.notify_all();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace gdpack
