// The player under a real X server (the tests run through xvfb-run): a private environment
// on the display, solid-colour photos and a shell for the X tools.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "SaverFixture.h"

// A w x h BMP of one colour.
inline gdpack::Bytes SolidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t row = uint32_t((w * 3 + 3) & ~3), size = 54 + row * uint32_t(h);
    gdpack::Bytes out = {'B', 'M'};
    auto le32 = [&](uint32_t v) { gdpack::AppendLE32(out, v); };
    auto le16 = [&](uint16_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
    le32(size); le32(0); le32(54);
    le32(40); le32(uint32_t(w)); le32(uint32_t(h)); le16(1); le16(24); le32(0); le32(row * uint32_t(h));
    le32(2835); le32(2835); le32(0); le32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) { out.push_back(b); out.push_back(g); out.push_back(r); }
        for (uint32_t p = uint32_t(w * 3); p < row; ++p) out.push_back(0);
    }
    return out;
}

class X11Run : public SaverRun {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        SaverRun::SetUp();
    }
    std::map<std::string, std::string> XEnv(const std::string& log) const {
        auto e = Env(log);
        e["QT_QPA_PLATFORM"] = "xcb";
        e["DISPLAY"] = std::getenv("DISPLAY");
        e["LSAN_OPTIONS"] = "suppressions=" GD_LSAN_SUPPRESSIONS;
        return e;
    }
    static std::string Run(const std::string& cmd) {
        std::string out;
        if (FILE* f = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
            ::pclose(f);
        }
        return out;
    }
};
