// gdview with a hostile language file beside it, as a user would start it: a caption of
// thousands of wide characters on thousands of lines makes no control larger than the
// screen, so the real process stays small, draws its window and ends cleanly (no sanitizer
// report in the sanitizer build). Runs on the platform of the environment (offscreen unless
// told otherwise; the X server variant runs it under xvfb-run).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "saver/Process.h"
#include "saver/TestDir.h"

namespace fs = std::filesystem;

namespace {

// The peak resident memory of a running process, in kB (0 when unknown).
long PeakRssKb(pid_t Pid) {
    std::ifstream in("/proc/" + std::to_string(Pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

struct ViewerRun {
    long peakKb = 0;
    std::optional<int> exit;
    std::string log, err;
};

// Starts a copy of gdview with the language file beside it (the viewer takes the language
// files of its own folder), lets it start and paint, then ends it as a session does.
ViewerRun StartWithLanguage(const TestDir& Dir, const std::string& Lng) {
    const std::string folder = Dir.File("viewer");
    fs::create_directories(folder);
    fs::create_directories(Dir.File("home/.config"));
    fs::copy_file(GD_GDVIEW_EXE, folder + "/gdview", fs::copy_options::overwrite_existing);
    if (!Lng.empty()) fs::copy_file(Lng, folder + "/" + fs::path(Lng).filename().string());
    const std::string log = Dir.File("log"), err = Dir.File("err");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    ChildProcess p(folder + "/gdview", {},
                   {{"QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen"},
                    {"HOME", Dir.File("home")}, {"XDG_CONFIG_HOME", Dir.File("home/.config")},
                    {"GLIMMERDECK_TEST_LOG", log}, {"LSAN_OPTIONS", "suppressions=" GD_LSAN_SUPPRESSIONS}},
                   err);
    ViewerRun r;
    EXPECT_TRUE(WaitForText(log, "idle done", p, std::chrono::seconds(60))) << ReadText(log) << ReadText(err);
    // Painted and idle for a while, then ended by the session.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    r.peakKb = PeakRssKb(p.Pid());
    p.Signal(SIGTERM);
    r.exit = p.Wait(std::chrono::seconds(60));
    r.log = ReadText(log);
    r.err = ReadText(err);
    return r;
}

}  // namespace

TEST(GdviewLanguageFile, HugeCaptionsCostNoMemoryAndEndCleanly) {
    // A bound far above a normal start (tens of MB; the sanitizer build's shadow memory
    // included) and far below what the captions once cost (3 GB).
    constexpr long kBoundKb = 200 * 1024;
    TestDir normalDir;
    const ViewerRun normal = StartWithLanguage(normalDir, "");
    ASSERT_EQ(normal.exit, 0) << normal.err;
    for (const char* name : {"lng_label_w1500_nl1500.lng", "lng_label_w3000_nl3000.lng"}) {
        SCOPED_TRACE(name);
        TestDir dir;
        const ViewerRun r = StartWithLanguage(dir, std::string(GD_FIXTURES "/hostile/") + name);
        std::printf("%s: peak %ld kB (without a language file %ld kB)\n", name, r.peakKb, normal.peakKb);
        EXPECT_TRUE(Contains(r.log, "shown")) << r.log;
        EXPECT_GT(r.peakKb, 0);
        EXPECT_LT(r.peakKb, kBoundKb) << "peak " << r.peakKb << " kB; without the language file "
                                      << normal.peakKb << " kB";
        EXPECT_EQ(r.exit, 0) << r.err;
        EXPECT_FALSE(Contains(r.err, "runtime error")) << r.err;
        EXPECT_FALSE(Contains(r.err, "Sanitizer")) << r.err;
    }
}
