// The whole import of an EMF at its own size (2800 x 2800 pixels): 4000 page-sized ellipses
// (tests/imagelib/fuzz/regressions/emf/4000-fullpage-ellipses.emf) beside the same file cut
// to its first 40 ellipses, a normal drawing. Wall time of the import and the CPU time of the
// child process that converts and renders (what its limit counts), min / median / max. Then
// the small fixture red_rectangle.emf (95 x 47), where starting the child is most of the
// cost, alone and with a thread of this process making and dropping GObjects all along.
//   metafile_bench [RUNS]          (5 by default)
//   metafile_bench one FILE [W]    one import, its result and times
#include <glib-object.h>
#include <sys/resource.h>

#include <atomic>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/gobject_busy.h"
#include "../bench_util.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"
#include "metafile.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// The header, the first Keep records after it and the end record, with the header's byte and
// record counts set to match.
Bytes FirstRecords(const Bytes& emf, int Keep) {
    size_t pos = Get32(emf, 4);
    for (int i = 0; i < Keep && pos + 8 <= emf.size(); ++i) pos += Get32(emf, pos + 4);
    Bytes out(emf.begin(), emf.begin() + long(pos));
    const Bytes eof = {14, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 20, 0, 0, 0};
    out.insert(out.end(), eof.begin(), eof.end());
    Put32(out, 48, uint32_t(out.size()));
    Put32(out, 52, uint32_t(Keep + 2));
    return out;
}

double ChildCpuMs() {
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

struct Run {
    double wallMs, cpuMs;
    bool aborted;
    int w, h;
};

Run Import(const Bytes& data, int W) {
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    const double cpu0 = ChildCpuMs();
    const double wall = bench::TimeMs([&] { MetafileDecode(data.data(), data.size(), &bmp, params, W, -1, clWhite, rec); });
    return {wall, ChildCpuMs() - cpu0, abort, bmp.Width(), bmp.Height()};
}

}  // namespace

int main(int argc, char** argv) {
    SetScreenPixelsPerInch(96);
    if (argc >= 3 && std::strcmp(argv[1], "one") == 0) {
        const Bytes data = ReadAll(argv[2]);
        const Run r = Import(data, argc > 3 ? std::atoi(argv[3]) : -1);
        std::printf("%s: %s %d x %d, wall %.0f ms, child CPU %.0f ms\n", argv[2], r.aborted ? "refused" : "read", r.w,
                    r.h, r.wallMs, r.cpuMs);
        return 0;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const Bytes hostile = ReadAll(GD_SOURCE_DIR "/tests/imagelib/fuzz/regressions/emf/4000-fullpage-ellipses.emf");
    if (hostile.size() < 200) {
        std::fprintf(stderr, "the hostile EMF is missing\n");
        return 1;
    }
    const Bytes normal = FirstRecords(hostile, 40);
    std::vector<double> nw, nc, hw, hc;
    bool normalRead = true, hostileRefused = true;
    (void)Import(normal, -1);   // warm-up
    for (int i = 0; i < runs; ++i) {
        const Run n = Import(normal, -1);
        const Run h = Import(hostile, -1);
        normalRead = normalRead && !n.aborted;
        hostileRefused = hostileRefused && h.aborted;
        nw.push_back(n.wallMs);
        nc.push_back(n.cpuMs);
        hw.push_back(h.wallMs);
        hc.push_back(h.cpuMs);
    }
    std::printf("EMF import at 2800 x 2800, %d runs each (the 40 ellipses %s, the 4000 %s):\n", runs,
                normalRead ? "read" : "NOT read", hostileRefused ? "refused" : "READ");
    bench::PrintRow("40 ellipses: wall", bench::Summary(nw), "ms");
    bench::PrintRow("40 ellipses: child CPU", bench::Summary(nc), "ms");
    bench::PrintRow("4000 page-sized ellipses: wall", bench::Summary(hw), "ms");
    bench::PrintRow("4000 page-sized ellipses: child CPU", bench::Summary(hc), "ms");
    bench::PrintRow("ratio 4000 / 40, wall", bench::Summary(bench::Ratios(hw, nw)), "x");

    const Bytes small = ReadAll(GD_SOURCE_DIR "/tests/imagelib/fixtures/emf/red_rectangle.emf");
    std::vector<double> quiet, busy;
    bool quietRead = true;
    int busyRefused = 0;
    for (int i = 0; i < runs; ++i) {
        const Run r = Import(small, -1);
        quietRead = quietRead && !r.aborted;
        quiet.push_back(r.wallMs);
    }
    std::atomic<bool> stop{false};
    std::thread gobjects([&] { GObjectBusyLoop(stop); });
    for (int i = 0; i < runs; ++i) {
        const Run r = Import(small, -1);
        busyRefused += r.aborted;
        busy.push_back(r.wallMs);
    }
    stop = true;
    gobjects.join();
    std::printf("red_rectangle.emf at 95 x 47, %d runs each (alone %s, beside a GObject thread %d refused):\n",
                runs, quietRead ? "read" : "NOT read", busyRefused);
    bench::PrintRow("alone: wall", bench::Summary(quiet), "ms");
    bench::PrintRow("beside a GObject thread: wall", bench::Summary(busy), "ms");
    return 0;
}
