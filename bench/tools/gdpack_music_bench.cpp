// `gdpack build` with hostile music beside the same build with a small WAV, each a fresh
// process: wall time and peak memory, min / median / max over the runs, and the ratio of
// each to the small WAV's run made next to it. The hostile files: 96 KB of piled-up ID3
// tags (9600 of them, then two MPEG frames), and a 1 GiB M4A with no audio track, both
// refused. ffprobe, what a user would run to look into a music file, is timed on the tags;
// another gdpack (an earlier build) given as the second argument runs on the same files.
//   gdpack_music_bench [RUNS] [OTHER_GDPACK]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "PlayerFile.h"
#include "bench_util.h"

namespace {

gdpack::Bytes SmallWav(uint32_t samples) {
    gdpack::Bytes w = {'R', 'I', 'F', 'F'};
    gdpack::AppendLE32(w, 36 + samples);
    for (char c : std::string("WAVEfmt ")) w.push_back(uint8_t(c));
    gdpack::AppendLE32(w, 16);
    w.insert(w.end(), {1, 0, 1, 0});
    gdpack::AppendLE32(w, 8000);
    gdpack::AppendLE32(w, 8000);
    w.insert(w.end(), {1, 0, 8, 0, 'd', 'a', 't', 'a'});
    gdpack::AppendLE32(w, samples);
    w.insert(w.end(), samples, 0x80);
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string other = argc > 2 ? argv[2] : "";   // another gdpack to compare, e.g. an earlier build
    const std::string dir = std::filesystem::temp_directory_path() / ("gdpack_music_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string photo = GD_SOURCE_DIR "/tests/imagelib/fixtures/jpeg/baseline.jpg";

    gdpack::WriteFileBytes(dir + "/small.wav", SmallWav(8000), false);
    gdpack::Bytes tags;
    for (int i = 0; i < 9600; ++i) tags.insert(tags.end(), {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
    for (int f = 0; f < 2; ++f) {
        tags.insert(tags.end(), {0xFF, 0xFB, 0x90, 0x00});
        tags.insert(tags.end(), 413, 0x55);
    }
    gdpack::WriteFileBytes(dir + "/tags.mp3", tags, false);
    // An M4A of 1 GiB whose media data are a hole (a sparse file: its size costs no disk)
    // and whose only track, at the end, is video: it is refused after its box headers.
    auto be32 = [](uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
    };
    auto box = [&](const char* type, const gdpack::Bytes& body) {
        gdpack::Bytes o(8 + body.size());
        be32(o.data(), uint32_t(o.size()));
        std::memcpy(o.data() + 4, type, 4);
        std::copy(body.begin(), body.end(), o.begin() + 8);
        return o;
    };
    gdpack::Bytes hdlr(8, 0);
    hdlr.insert(hdlr.end(), {'v', 'i', 'd', 'e'});
    hdlr.resize(25, 0);
    const gdpack::Bytes moov = box("moov", box("trak", box("mdia", box("hdlr", hdlr))));
    gdpack::Bytes head = box("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0, 'M', '4', 'A', ' '});
    const uint64_t total = uint64_t(1) << 30, mdat = total - head.size() - moov.size();
    // mdat with a 64-bit size: 1, the type, then the size.
    const size_t at = head.size();
    head.resize(at + 16);
    be32(head.data() + at, 1);
    std::memcpy(head.data() + at + 4, "mdat", 4);
    be32(head.data() + at + 8, uint32_t(mdat >> 32));
    be32(head.data() + at + 12, uint32_t(mdat));
    gdpack::WriteFileBytes(dir + "/big.m4a", head, false);
    {
        const int fd = ::open((dir + "/big.m4a").c_str(), O_WRONLY);
        if (fd < 0 || ::pwrite(fd, moov.data(), moov.size(), off_t(total - moov.size())) != ssize_t(moov.size()))
            return 1;
        ::close(fd);
    }

    auto build = [&](const std::string& gdpack, const std::string& music) {
        const bench::ProcessRun run = bench::RunProcess(
            {gdpack, "build", "-o", dir + "/out.exe", "--base", "/bin/true", "--music", dir + "/" + music, photo});
        std::filesystem::remove(dir + "/out.exe");   // a gdpack that takes the 1 GiB file writes it out
        return run;
    };
    struct Series {
        std::string name;
        std::vector<std::string> argv;   // empty: gdpack with the music named below
        std::string gdpack, music;
        std::vector<double> ms = {}, mb = {}, msRatio = {}, mbRatio = {};
    };
    std::vector<Series> series = {{"gdpack, 96 KB of 9600 ID3 tags (refused)", {}, GD_GDPACK_EXE, "tags.mp3"},
                                  {"gdpack, 1 GiB M4A of video only (refused)", {}, GD_GDPACK_EXE, "big.m4a"}};
    if (!other.empty()) {
        series.push_back({"other gdpack, 96 KB of 9600 ID3 tags", {}, other, "tags.mp3"});
        series.push_back({"other gdpack, 1 GiB M4A of video only", {}, other, "big.m4a"});
    }
    if (bench::HaveCommand("ffprobe"))
        series.push_back(
            {"ffprobe, 96 KB of 9600 ID3 tags", {"ffprobe", "-v", "error", "-show_streams", dir + "/tags.mp3"}, "", ""});
    std::vector<double> smallMs, smallMb;
    int failures = 0;
    for (int r = 0; r < runs; ++r) {
        const bench::ProcessRun small = build(GD_GDPACK_EXE, "small.wav");
        failures += small.status != 0;
        smallMs.push_back(small.wallMs);
        smallMb.push_back(small.maxRssMb);
        for (size_t i = 0; i < series.size(); ++i) {
            Series& s = series[i];
            const bench::ProcessRun run = s.argv.empty() ? build(s.gdpack, s.music) : bench::RunProcess(s.argv);
            if (i < 2) failures += run.status != 1;   // both refused
            s.ms.push_back(run.wallMs);
            s.mb.push_back(run.maxRssMb);
            s.msRatio.push_back(run.wallMs / small.wallMs);
            s.mbRatio.push_back(run.maxRssMb / small.maxRssMb);
        }
    }
    std::printf("gdpack build, %d runs each, fresh processes\n", runs);
    bench::PrintRow("gdpack, small WAV (8 KB): wall", bench::Summary(smallMs), "ms");
    bench::PrintRow("gdpack, small WAV (8 KB): peak memory", bench::Summary(smallMb), "MB");
    for (const auto& s : series) {
        bench::PrintRow((s.name + ": wall").c_str(), bench::Summary(s.ms), "ms");
        bench::PrintRow((s.name + ": peak memory").c_str(), bench::Summary(s.mb), "MB");
        bench::PrintRow("  ratio to the small WAV: wall", bench::Summary(s.msRatio), "x");
        bench::PrintRow("  ratio to the small WAV: peak memory", bench::Summary(s.mbRatio), "x");
    }
    std::filesystem::remove_all(dir);
    return failures ? 1 : 0;
}
