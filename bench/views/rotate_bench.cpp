// A quarter turn (90 degrees counter-clockwise) of a 24-megapixel picture: through the
// processing component (TLuxProc.Rotate with its undo copy, as the viewer turns a photo)
// beside the bare turning routine and Pillow's transpose, each in its own process's loop;
// and as whole processes (read a PPM, turn, write a PPM) beside ImageMagick and Pillow.
// Min / median / max of the runs and of the ratios, pair by pair.
//   rotate_bench <scratch-dir> [runs]
//   rotate_bench --process <in.ppm> <out.ppm>     (the whole-process side)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../bench_util.h"
#include "LuxIO.h"
#include "LuxProc.h"

using namespace bench;

namespace {

constexpr int W = 6000, H = 4000;
const char* const kPython = "/usr/bin/python3";

void Fill(TBitmap* b) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(W, H);
    uint32_t s = 7;
    for (int y = 0; y < H; ++y) {
        uint8_t* r = b->ScanLine(y);
        for (int x = 0; x < W * 3; ++x) {
            s = s * 1664525u + 1013904223u;
            r[x] = uint8_t((x / 9 + y / 5 + (s >> 29)) & 255);
        }
    }
}

int ProcessSide(const std::string& in, const std::string& out) try {
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(in);
    if (io.Aborting) return 1;
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(&bmp);
    proc.Rotate(90, false);
    io.SaveToFile(out);
    return io.Aborting ? 1 : 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
}

// A Pillow statement on the picture timed inside Python, one figure per line.
std::vector<double> PillowLoop(const std::string& ppm, int runs, const std::string& what) {
    const std::string script = "import sys,time\nfrom PIL import Image\nim=Image.open(sys.argv[1]);im.load()\n" +
                               what + "\nfor i in range(int(sys.argv[2])):\n t=time.perf_counter();" + what +
                               ";print((time.perf_counter()-t)*1000)\n";
    const std::string cmd = std::string(kPython) + " -c '" + script + "' " + ppm + " " + std::to_string(runs);
    std::vector<double> v;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        double ms;
        while (std::fscanf(p, "%lf", &ms) == 1) v.push_back(ms);
        pclose(p);
    }
    return v;
}

// Gives the blocks kept for reuse back, where the library keeps any.
void TrimIdle() {
#if __has_include("lxpixels.h")
    TrimPixelBlocks();
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--process") return ProcessSide(argv[2], argv[3]);
    const std::string dir = argc > 1 ? argv[1] : ".";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    const std::string in = dir + "/rotate-in.ppm", out = dir + "/rotate-out.ppm";
    const bool pillow = std::system((std::string(kPython) + " -c 'import PIL' 2>/dev/null").c_str()) == 0;
    {
        TBitmap picture;
        Fill(&picture);
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&picture);
        io.SaveToFile(in);
    }
    TrimIdle();

    // Whole processes first (read, turn, write), while this process is still small: a forked
    // child counts its parent's pages until it starts the other program.
    const std::string self = argv[0];
    std::vector<double> ours, im, pil;
    const bool magick = HaveCommand("convert");
    for (int i = 0; i < runs; ++i) {
        ours.push_back(RunProcess({self, "--process", in, out}).wallMs);
        if (magick) im.push_back(RunProcess({"convert", in, "-rotate", "-90", out}).wallMs);
        if (pillow)
            pil.push_back(RunProcess({kPython, "-c",
                                      "import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).transpose("
                                      "Image.Transpose.ROTATE_90).save(sys.argv[2])",
                                      in, out})
                              .wallMs);
    }
    std::printf("whole processes (read PPM, turn, write PPM), %d runs each\n", runs);
    PrintRow("rotate_bench --process", Summary(ours), "ms");
    if (magick) {
        PrintRow("ImageMagick convert -rotate -90", Summary(im), "ms");
        PrintRow("ratio ours / ImageMagick", Summary(Ratios(ours, im)), "x");
    }
    if (pillow) {
        PrintRow("Pillow open / transpose / save", Summary(pil), "ms");
        PrintRow("ratio ours / Pillow", Summary(Ratios(ours, pil)), "x");
    }

    TBitmap picture, turned;
    Fill(&picture);
    TLuxProc proc(nullptr);   // AutoUndo on, as a component comes
    proc.SetAttachedBitmap(&picture);
    std::vector<double> comp, kernel;
    proc.Rotate(90, false);   // warm-up
    RotateBitmap90CCW(&picture, &turned);
    for (int i = 0; i < runs; ++i) {
        comp.push_back(TimeMs([&] { proc.Rotate(90, false); }));
        kernel.push_back(TimeMs([&] { RotateBitmap90CCW(&picture, &turned); }));
    }
    std::printf("quarter turn of %d x %d (24 MP, 24-bit), %d runs each, in one process\n", W, H, runs);
    PrintRow("TLuxProc.Rotate(90) with undo", Summary(comp), "ms");
    PrintRow("RotateBitmap90CCW alone", Summary(kernel), "ms");
    PrintRow("ratio component / routine", Summary(Ratios(comp, kernel)), "x");

    if (pillow) {
        const std::vector<double> pil = PillowLoop(in, runs, "im.transpose(Image.Transpose.ROTATE_90)");
        PrintRow("Pillow transpose(ROTATE_90), in its process", Summary(pil), "ms");
        PrintRow("ratio component / Pillow", Summary(Ratios(comp, pil)), "x");
    }

    // The two other steps of the process side, in this process: reading and writing the PPM.
    {
        TBitmap b;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&b);
        std::vector<double> rd, wr;
        for (int i = 0; i < runs; ++i) {
            rd.push_back(TimeMs([&] { io.LoadFromFile(in); }));
            wr.push_back(TimeMs([&] { io.SaveToFile(out); }));
        }
        PrintRow("TLuxIO.LoadFromFile(PPM)", Summary(rd), "ms");
        PrintRow("TLuxIO.SaveToFile(PPM)", Summary(wr), "ms");
        if (pillow) {
            const std::vector<double> pil = PillowLoop(in, runs, "Image.open(sys.argv[1]).load()");
            PrintRow("Pillow open + load of the PPM, in its process", Summary(pil), "ms");
            PrintRow("ratio PPM read ours / Pillow", Summary(Ratios(rd, pil)), "x");
        }
    }

    std::remove(in.c_str());
    std::remove(out.c_str());
    return 0;
}
