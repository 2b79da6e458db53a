// Small helpers shared by the benchmarks: repeated timings summed up as min / median / max,
// ratios pair by pair, and whole processes timed from fork to exit with their peak memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
    double min = 0, median = 0, max = 0;
    size_t n = 0;
};

inline Stats Summary(std::vector<double> v) {
    Stats s;
    s.n = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    return s;
}

// a[i] / b[i] for the pairs measured side by side.
inline std::vector<double> Ratios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (b[i] > 0) r.push_back(a[i] / b[i]);
    return r;
}

inline void PrintRow(const char* what, const Stats& s, const char* unit) {
    std::printf("  %-46s min %9.2f  median %9.2f  max %9.2f %s\n", what, s.min, s.median, s.max, unit);
}

// Times f once per run; the runs of several functions are interleaved by the caller.
template <class F>
double TimeMs(F&& f) {
    const auto t0 = Clock::now();
    f();
    return Ms(Clock::now() - t0);
}

struct ProcessRun {
    double wallMs = -1;
    double maxRssMb = 0;
    int status = -1;
};

// Runs argv as a whole process (stdout and stderr to /dev/null) and waits for it.
inline ProcessRun RunProcess(const std::vector<std::string>& argv) {
    ProcessRun r;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);   // nothing buffered may be written twice
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return r;
    r.wallMs = Ms(Clock::now() - t0);
    r.maxRssMb = double(ru.ru_maxrss) / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline bool HaveCommand(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A photo-like picture as a PPM file: smooth colour fields with fine grain, different for each
// seed, so its JPEG is of camera size.
inline int MakePhoto(int w, int h, int seed, const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f || w < 1 || h < 1) return 1;
    std::fprintf(f, "P6\n%d %d\n255\n", w, h);
    std::vector<uint8_t> row(size_t(w) * 3);
    uint32_t s = uint32_t(seed) * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int n = int(s >> 27) - 16;
            const double fx = double(x) / w, fy = double(y) / h;
            const int v[3] = {int(128 + 100 * std::sin(6.3 * fx + seed) + 20 * std::sin(40 * fy)) + n,
                              int(128 + 100 * std::sin(5.1 * fy + 2 * seed) + 20 * std::cos(33 * fx)) + n,
                              int(128 + 90 * std::cos(4.0 * (fx + fy) + seed)) + n};
            for (int c = 0; c < 3; ++c) row[size_t(3 * x + c)] = uint8_t(v[c] < 0 ? 0 : v[c] > 255 ? 255 : v[c]);
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace bench
