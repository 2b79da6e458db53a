// The real player on a real X server (run under Xvfb by run.sh): packs of photos of one size
// each change with a one-second cross-dissolve, and the frames that reach the X server are
// counted through the DAMAGE extension on the root window. Per photo change, once the first
// photo is up: the time from the photo timer's tick (the player's "show tick" log line, read
// from a pipe as it is written) to the first transition frame on the server, and the frames
// per second the server got during the cross-dissolve; per pack, the player's peak RSS.
// Beside them, in the same run, the bare decode of the same photo by djpeg as a process: the
// least a player that decodes at the tick would stall.
//
//   player_bench <player> <gdpack> <scratch-dir> <ticks> <label=photo.jpg,photo.jpg,...>...
//   player_bench --make-photo <width> <height> <seed> <out.ppm>
//
// The first full-screen damage after a tick is the view's repaint that the tick starts with
// (the title hides); the transition's frames follow it, each one full-screen put.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../bench_util.h"

using namespace bench;

namespace {

struct Event {
    double t;         // ms, the bench's monotonic clock when it arrived
    bool tick;        // a "show tick" line, else a full-screen damage
};

double Now() { return Ms(Clock::now().time_since_epoch()); }

std::vector<std::string> Split(const std::string& s, char c) {
    std::vector<std::string> out;
    size_t a = 0;
    for (size_t b; (b = s.find(c, a)) != std::string::npos; a = b + 1) out.push_back(s.substr(a, b - a));
    out.push_back(s.substr(a));
    return out;
}

struct PackResult {
    std::vector<double> firstFrame, fps;
    double peakRssMb = 0;
};

// Runs the player until it has ticked Ticks times and returns what the server saw.
bool RunPlayer(const std::string& player, const std::string& dir, int ticks, xcb_connection_t* x,
               uint16_t screenW, uint16_t screenH, uint8_t damageEvent, PackResult& res) {
    const std::string fifo = dir + "/log.fifo";
    ::unlink(fifo.c_str());
    if (::mkfifo(fifo.c_str(), 0600) != 0) return false;
    // Read side first (non-blocking), so the player's writes never wait.
    const int lfd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int keep = ::open(fifo.c_str(), O_WRONLY);   // no end-of-file between the player's lines
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("GLIMMERDECK_TEST_LOG", fifo.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        // Its own single-instance lock: a player that other work runs must not stop this one.
        const std::string runtime = dir + "/runtime";
        ::mkdir(runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        unsetenv("QT_QPA_PLATFORM");
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        execl(player.c_str(), player.c_str(), "/S", nullptr);
        _exit(127);
    }
    std::vector<Event> events;
    std::string pending;
    int seen = 0;
    const double start = Now();
    const int xfd = xcb_get_file_descriptor(x);
    const uint32_t full = uint32_t(screenW) * screenH * 9 / 10;
    double stopAt = 0;
    while (Now() - start < 120000) {
        pollfd p[2] = {{lfd, POLLIN, 0}, {xfd, POLLIN, 0}};
        ::poll(p, 2, 50);
        const double t = Now();
        char buf[4096];
        ssize_t n;
        while ((n = ::read(lfd, buf, sizeof buf)) > 0) {
            pending.append(buf, size_t(n));
            for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
                if (pending.compare(0, 10, "show tick ") == 0) {
                    events.push_back({t, true});
                    ++seen;
                }
        }
        while (xcb_generic_event_t* e = xcb_poll_for_event(x)) {
            if ((e->response_type & 0x7F) == damageEvent) {
                auto* d = reinterpret_cast<xcb_damage_notify_event_t*>(e);
                if (uint32_t(d->area.width) * d->area.height >= full) events.push_back({t, false});
            }
            free(e);
        }
        // One more second after the last tick: its transition runs to the end.
        if (seen >= ticks && stopAt == 0) stopAt = t + 1500;
        if (stopAt != 0 && t >= stopAt) break;
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    ::close(lfd);
    ::close(keep);
    ::unlink(fifo.c_str());
    res.peakRssMb = double(ru.ru_maxrss) / 1024.0;

    // Ticks after the second: the first photo is up and its own transition is over.
    int tickNo = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (!events[i].tick) continue;
        if (++tickNo < 3) continue;
        std::vector<double> frames;
        for (size_t j = i + 1; j < events.size() && !events[j].tick; ++j) frames.push_back(events[j].t);
        if (frames.size() < 2) continue;
        // frames[0] is the repaint the tick starts with; frames[1] the first transition frame.
        const double first = frames[1];
        res.firstFrame.push_back(first - events[i].t);
        size_t n = 0;
        double last = first;
        for (size_t k = 1; k < frames.size() && frames[k] < first + 1000.0; ++k, ++n) last = frames[k];
        if (n >= 2 && last > first) res.fps.push_back(double(n - 1) * 1000.0 / (last - first));
    }
    return WIFEXITED(status) || WIFSIGNALED(status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--make-photo")
        return MakePhoto(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s player gdpack scratch-dir ticks label=a.jpg,b.jpg...\n", argv[0]);
        return 2;
    }
    const std::string player = argv[1], gdpack = argv[2], dir = argv[3];
    const int ticks = std::max(4, std::atoi(argv[4]));

    int screenNo = 0;
    xcb_connection_t* x = xcb_connect(nullptr, &screenNo);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X server (run under xvfb-run)\n");
        return 1;
    }
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(x, &xcb_damage_id);
    if (!ext || !ext->present) {
        std::fprintf(stderr, "the X server has no DAMAGE extension\n");
        return 1;
    }
    free(xcb_damage_query_version_reply(x, xcb_damage_query_version(x, 1, 1), nullptr));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x));
    for (int i = 0; i < screenNo; ++i) xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;
    const xcb_damage_damage_t damage = xcb_generate_id(x);
    xcb_damage_create(x, damage, screen->root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    xcb_flush(x);
    const uint8_t damageEvent = uint8_t(ext->first_event + XCB_DAMAGE_NOTIFY);

    std::printf("player on a %d x %d X server, cross-dissolve of 1 s, %d ticks per pack (the first two left out)\n",
                screen->width_in_pixels, screen->height_in_pixels, ticks);
    for (int a = 5; a < argc; ++a) {
        const auto kv = Split(argv[a], '=');
        if (kv.size() != 2) continue;
        const std::string label = kv[0];
        const std::vector<std::string> photos = Split(kv[1], ',');
        const std::string pack = dir + "/show-" + label + ".exe";
        std::vector<std::string> cmd = {gdpack, "build", "-o", pack, "--base", player,
                                        "--set", "Duration=1", "--set", "Effect=1", "--set", "EffectDuration=1",
                                        "--set", "AutoFit=1", "--set", "Loop=1"};
        for (size_t i = 0; i < photos.size(); ++i) {
            cmd.insert(cmd.end(), {"--photo", "P" + std::to_string(i), "", photos[i]});
        }
        if (RunProcess(cmd).status != 0) {
            std::fprintf(stderr, "gdpack failed for %s\n", label.c_str());
            return 1;
        }
        PackResult r;
        RunPlayer(pack, dir, ticks, x, screen->width_in_pixels, screen->height_in_pixels, damageEvent, r);
        if (r.firstFrame.empty()) std::printf("%s: the player showed no photo change (did it start?)\n", label.c_str());
        std::vector<double> djpeg;
        for (int i = 0; i < 5; ++i)
            djpeg.push_back(RunProcess({"djpeg", "-outfile", "/dev/null", photos[size_t(i) % photos.size()]}).wallMs);
        std::printf("%s photos (%zu photo changes measured)\n", label.c_str(), r.firstFrame.size());
        PrintRow("tick -> first transition frame on the server", Summary(r.firstFrame), "ms");
        PrintRow("djpeg of the same photos, whole process", Summary(djpeg), "ms");
        PrintRow("ratio tick -> frame / djpeg (medians)",
                 Summary({Summary(r.firstFrame).median / std::max(Summary(djpeg).median, 1e-9)}), "x");
        PrintRow("frames per second during the cross-dissolve", Summary(r.fps), "fps");
        PrintRow("player's peak RSS", Summary({r.peakRssMb}), "MB");
        std::fflush(stdout);
        std::remove(pack.c_str());
    }
    std::printf("targets: tick -> first frame under 30 ms at every size; frames at the display's rate (60 Hz); "
                "peak RSS no higher than before\n");
    xcb_disconnect(x);
    return 0;
}
