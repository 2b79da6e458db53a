// `gdpack build` as whole, fresh processes, side by side in one run: the peak memory of a
// build of 8 photos against one of 32 photos of the same size (the ratio shows whether memory
// grows with the show), and the time of the build of 32 against djpeg decoding the same 32
// one after another (what checking every photo costs against the bare decode). Several
// gdpack binaries (an older one, say) can be measured in the same run.
//
//   gdpack_bench <player> <scratch-dir> <runs> <label=gdpack>... -- <photo.jpg>...
//   gdpack_bench --make-photo <width> <height> <seed> <out.ppm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../bench_util.h"

using namespace bench;

namespace {

struct Tool {
    std::string label, exe;
    std::vector<double> rss8, rss32, ms32, memRatio, timeRatio;
};

ProcessRun Build(const Tool& t, const std::string& player, const std::string& out,
                 const std::vector<std::string>& photos, size_t count) {
    std::vector<std::string> argv = {t.exe, "build", "-o", out, "--base", player};
    argv.insert(argv.end(), photos.begin(), photos.begin() + ptrdiff_t(count));
    return RunProcess(argv);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--make-photo")
        return MakePhoto(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s player scratch-dir runs label=gdpack... -- photo...\n", argv[0]);
        return 2;
    }
    const std::string player = argv[1], dir = argv[2];
    const int runs = std::max(1, std::atoi(argv[3]));
    std::vector<Tool> tools;
    std::vector<std::string> photos;
    bool inPhotos = false;
    for (int a = 4; a < argc; ++a) {
        const std::string s = argv[a];
        if (inPhotos) photos.push_back(s);
        else if (s == "--") inPhotos = true;
        else if (const auto eq = s.find('='); eq != std::string::npos) tools.push_back({s.substr(0, eq), s.substr(eq + 1)});
    }
    if (tools.empty() || photos.size() < 32) {
        std::fprintf(stderr, "need a gdpack and 32 photos\n");
        return 2;
    }
    photos.resize(32);
    std::vector<double> djpegMs;
    for (int r = 0; r < runs; ++r) {
        // Interleaved, so a drift of the machine's speed touches every figure alike.
        double d = 0;
        for (const auto& p : photos) {
            const ProcessRun run = RunProcess({"djpeg", "-outfile", "/dev/null", p});
            if (run.status != 0) {
                std::fprintf(stderr, "djpeg failed on %s\n", p.c_str());
                return 1;
            }
            d += run.wallMs;
        }
        djpegMs.push_back(d);
        for (auto& t : tools) {
            const std::string out = dir + "/bench-" + t.label + ".exe";
            const ProcessRun b8 = Build(t, player, out, photos, 8);
            const ProcessRun b32 = Build(t, player, out, photos, 32);
            if (b8.status != 0 || b32.status != 0) {
                std::fprintf(stderr, "%s build failed\n", t.label.c_str());
                return 1;
            }
            t.rss8.push_back(b8.maxRssMb);
            t.rss32.push_back(b32.maxRssMb);
            t.ms32.push_back(b32.wallMs);
            t.memRatio.push_back(b32.maxRssMb / b8.maxRssMb);
            t.timeRatio.push_back(b32.wallMs / d);
        }
    }
    std::printf("gdpack build, %d runs, 32 photos (the first 8 for the small build); fresh processes\n", runs);
    PrintRow("djpeg, 32 photos one after another", Summary(djpegMs), "ms");
    for (const auto& t : tools) {
        std::printf("%s:\n", t.label.c_str());
        PrintRow("peak memory, build of 8 photos", Summary(t.rss8), "MB");
        PrintRow("peak memory, build of 32 photos", Summary(t.rss32), "MB");
        PrintRow("memory 32 / 8 photos", Summary(t.memRatio), "x");
        PrintRow("time, build of 32 photos", Summary(t.ms32), "ms");
        PrintRow("time 32 photos / djpeg of them in turn", Summary(t.timeRatio), "x");
    }
    return 0;
}
