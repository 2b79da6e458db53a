// The player under a real X server (the tests run through xvfb-run): a private environment
// on the display, solid-colour photos and a shell for the X tools.
#pragma once

#include <cstdlib>

#include "SaverFixture.h"

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
    static std::string Run(const std::string& cmd) { return RunCommand(cmd); }
};
