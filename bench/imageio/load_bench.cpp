// A large JPEG loaded through the I/O component (TLuxIO.LoadFromFile into a bitmap, as the
// viewer and the show load photos) beside libjpeg alone: in the same process against a plain
// libjpeg decode into one buffer, and as whole fresh processes against djpeg. Min / median /
// max of the runs and of the ratios, pair by pair (the two sides alternate).
//   load_bench <photo.jpg> [runs]
//   load_bench --load <photo.jpg>     (one load in this process, then exit: the process side)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "../bench_util.h"
#include "LuxIO.h"

using namespace bench;

namespace {

// libjpeg alone: the whole picture as B, G, R rows into one buffer, integer DCT.
size_t PlainDecode(const std::string& file, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return 0;
    jpeg_decompress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    const size_t row = size_t(c.output_width) * 3;
    out.resize(row * c.output_height);
    while (c.output_scanline < c.output_height) {
        JSAMPROW r = out.data() + row * c.output_scanline;
        jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    std::fclose(f);
    return out.size();
}

int LoadOnce(const std::string& file) {
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(file);
    return io.Aborting || bmp.Width() < 1 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--load") return LoadOnce(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s photo.jpg [runs]\n", argv[0]);
        return 2;
    }
    const std::string jpg = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    // Whole processes first, while this process is still small: a forked child counts its
    // parent's pages in its peak until it starts the other program.
    if (HaveCommand("djpeg")) {
        const std::string self = argv[0];
        std::vector<double> ours, tool, oursRss, toolRss;
        RunProcess({self, "--load", jpg});
        RunProcess({"djpeg", "-outfile", "/dev/null", jpg});
        for (int i = 0; i < runs; ++i) {
            const ProcessRun a = RunProcess({self, "--load", jpg});
            const ProcessRun b = RunProcess({"djpeg", "-outfile", "/dev/null", jpg});
            if (a.status != 0 || b.status != 0) {
                std::fprintf(stderr, "a process failed (%d, %d)\n", a.status, b.status);
                return 1;
            }
            ours.push_back(a.wallMs);
            tool.push_back(b.wallMs);
            oursRss.push_back(a.maxRssMb);
            toolRss.push_back(b.maxRssMb);
        }
        std::printf("whole processes, %d runs each\n", runs);
        PrintRow("load_bench --load (TLuxIO.LoadFromFile)", Summary(ours), "ms");
        PrintRow("djpeg -outfile /dev/null", Summary(tool), "ms");
        PrintRow("ratio", Summary(Ratios(ours, tool)), "x");
        PrintRow("peak RSS, ours", Summary(oursRss), "MB");
        PrintRow("peak RSS, djpeg", Summary(toolRss), "MB");
    } else {
        std::printf("djpeg not installed: no process comparison\n");
    }

    // In the same process: the component's load against libjpeg alone.
    {
        TBitmap bmp;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bmp);
        std::vector<uint8_t> plain;
        io.LoadFromFile(jpg);   // warm-up of both sides
        PlainDecode(jpg, plain);
        if (io.Aborting) {
            std::fprintf(stderr, "load failed\n");
            return 1;
        }
        std::vector<double> ours, lib;
        for (int i = 0; i < runs; ++i) {
            ours.push_back(TimeMs([&] { io.LoadFromFile(jpg); }));
            lib.push_back(TimeMs([&] { PlainDecode(jpg, plain); }));
        }
        std::printf("%d x %d JPEG, %d runs each, in one process\n", bmp.Width(), bmp.Height(), runs);
        PrintRow("TLuxIO.LoadFromFile", Summary(ours), "ms");
        PrintRow("libjpeg alone (into one buffer)", Summary(lib), "ms");
        PrintRow("ratio", Summary(Ratios(ours, lib)), "x");
    }

    std::printf("targets: within 1.1 x in one process, within 1.3 x as a process\n");
    return 0;
}
