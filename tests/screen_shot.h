// Helpers of the tests that run on a real X server: a screenshot of the whole screen taken
// by ImageMagick's `import`, and pumping the event loop for a while.
#pragma once

#include <QApplication>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Graphics.h"

namespace screen_test {

struct Shot {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    bool ok() const { return w > 0 && h > 0 && rgb.size() >= size_t(w) * size_t(h) * 3; }
    // R, G, B at (x, y) as a class-library colour.
    TColor At(int x, int y) const {
        const uint8_t* p = rgb.data() + 3 * (size_t(y) * size_t(w) + size_t(x));
        return RGBColor(p[0], p[1], p[2]);
    }
};

// The root window as a binary PPM at path (kept for a human to look at); an empty shot when
// import fails.
inline Shot Screenshot(const std::string& path) {
    Shot s;
    const std::string cmd = "import -window root -depth 8 ppm:" + path + " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return s;
    std::ifstream f(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(f)), {});
    if (d.rfind("P6", 0) != 0) return s;
    size_t pos = 2;
    auto next = [&] {
        while (pos < d.size() && std::isspace(uint8_t(d[pos]))) ++pos;
        size_t end = pos;
        while (end < d.size() && std::isdigit(uint8_t(d[end]))) ++end;
        const int v = end > pos ? std::stoi(d.substr(pos, end - pos)) : 0;
        pos = end;
        return v;
    };
    s.w = next();
    s.h = next();
    next();   // maximum value
    ++pos;    // the single white space before the samples
    if (pos <= d.size()) s.rgb.assign(d.begin() + long(pos), d.end());
    return s;
}

// Runs the event loop for ms milliseconds (window-system round trips, paints).
inline void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace screen_test
