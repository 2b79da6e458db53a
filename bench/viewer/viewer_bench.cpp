// gdview with a 24-megapixel JPEG:
//  1. open to first paint: from starting gdview to the first frame of the photo painted on the
//     X server, against a fresh process that only decodes the same JPEG through the image
//     library (whole process against whole process, run in turn, ratio pair by pair);
//  2. slider step: a 1920 x 1080 view from a new slider position (the zoom it sets) to the
//     view repainted, at several zoom levels.
//   viewer_bench [runs]       (needs an X display; run.sh starts Xvfb)
//   viewer_bench decode FILE  (the decode-only process)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LuxIO.h"
#include "LuxView.h"
#include "UxSlider.h"
#include "main.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
    double min, median, max;
};
Stats Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}
void Print(const char* what, const Stats& s, const char* unit) {
    std::printf("  %-38s min %8.2f  median %8.2f  max %8.2f %s\n", what, s.min, s.median, s.max, unit);
}

// A photo-like JPEG (ramps with texture), quality 90.
void MakeJpeg(const std::string& path, int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    uint32_t s = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int n = int(s >> 28);
            row[3 * x] = uchar((x * 255 / w + n) & 255);
            row[3 * x + 1] = uchar((y * 255 / h + n) & 255);
            row[3 * x + 2] = uchar(((x + y) / 8) & 255);
        }
    }
    QImageWriter wr(QString::fromStdString(path), "jpeg");
    wr.setQuality(90);
    wr.write(img);
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Whole process: start to exit.
double DecodeProcessMs(const std::string& self, const std::string& jpeg) {
    const auto t0 = Clock::now();
    const pid_t pid = Spawn({self, "decode", jpeg}, {});
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "decode process failed\n");
    return Ms(Clock::now() - t0);
}

// gdview from its start to the "painted" line of its test log (monotonic nanoseconds).
double FirstPaintMs(const std::string& dir, const std::string& jpeg) {
    const std::string log = dir + "/log";
    std::filesystem::remove(log);
    static std::string logEnv, homeEnv, configEnv;
    logEnv = "GLIMMERDECK_TEST_LOG=" + log;
    homeEnv = "HOME=" + dir;
    configEnv = "XDG_CONFIG_HOME=" + dir + "/config";
    const auto t0 = Clock::now();
    const pid_t pid = Spawn({GD_GDVIEW_EXE, jpeg}, {logEnv, homeEnv, configEnv, "QT_QPA_PLATFORM=xcb"});
    double ms = -1;
    for (int i = 0; i < 30000 && ms < 0; ++i) {
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("painted ", 0) == 0) {
                const Clock::time_point painted{std::chrono::nanoseconds(std::stoll(line.substr(8)))};
                ms = Ms(painted - t0);
            }
        if (ms < 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "decode") {
        TBitmap bitmap;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bitmap);
        io.LoadFromFile(argv[2]);
        return io.Aborting || bitmap.Width() != 6000 ? 1 : 0;
    }
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "viewer_bench needs an X display (bench/viewer/run.sh starts one)\n");
        return 2;
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "gdview-bench-XXXXXX").string();
    const std::string dir = ::mkdtemp(tmpl.data());
    std::filesystem::create_directories(dir + "/config");
    const std::string jpeg = dir + "/photo24mp.jpg";
    {
        int qargc = 1;
        char name[] = "viewer_bench";
        char* qargv[] = {name, nullptr};
        QApplication app(qargc, qargv);   // QImageWriter only
        MakeJpeg(jpeg, 6000, 4000);
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    // 1. Open to first paint, one warm-up of each, then in turn.
    DecodeProcessMs(self, jpeg);
    FirstPaintMs(dir, jpeg);
    std::vector<double> decode, paint, ratio;
    for (int i = 0; i < runs; ++i) {
        decode.push_back(DecodeProcessMs(self, jpeg));
        paint.push_back(FirstPaintMs(dir, jpeg));
        ratio.push_back(paint.back() / decode.back());
    }
    std::printf("Open to first paint, 6000 x 4000 JPEG, %d runs (whole processes):\n", runs);
    Print("decode alone (fresh process)", Of(decode), "ms");
    Print("gdview start to first painted frame", Of(paint), "ms");
    Print("ratio gdview / decode (pair by pair)", Of(ratio), "x   (target < 1.3)");

    // 2. Slider steps, each timed from the new position to the repainted view (the zoom
    //    change renders too), in this process on the same X server.
    int qargc = 1;
    char name[] = "viewer_bench";
    char* qargv[] = {name, nullptr};
    QApplication app(qargc, qargv);
    TForm1 form(nullptr, dir);
    form.SetClientSize(1920 + form.ClientWidth() - form.view->Width(), 1080 + form.ClientHeight() - form.view->Height());
    form.Show();
    form.LoadPhoto(jpeg);
    QApplication::processEvents();
    std::printf("Slider step to the repainted %d x %d view (ms, 20 steps per zoom):\n", form.view->Width(),
                form.view->Height());
    double slowest = 0;
    for (int v : {10, 25, 50, 75, 100, 125, 150, 200}) {
        std::vector<double> t;
        for (int k = 0; k < 20; ++k) {
            // Steps around the position, as a drag makes them.
            const auto t0 = Clock::now();
            form.sliderzoom->SetValue(k % 2 ? v : std::max(1, v - 1));
            form.view->Repaint();
            t.push_back(Ms(Clock::now() - t0));
            QApplication::processEvents();
        }
        const Stats s = Of(t);
        slowest = std::max(slowest, s.max);
        char what[64];
        std::snprintf(what, sizeof what, "slider %3d (zoom %3d%%)", v, SliderToZoom(v));
        Print(what, s, "ms");
    }
    std::printf("  slowest step %.2f ms (target < 16)\n", slowest);
    form.Close();
    std::filesystem::remove_all(dir);
    return 0;
}
