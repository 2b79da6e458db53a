// The player under a real X server (the tests run through xvfb-run): a private environment
// on the display, solid-colour photos and a shell for the X tools.
#pragma once

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

    // The tests run once on a bare X server and once under a window manager.
    static bool WindowManager() { return std::getenv("GD_WINDOW_MANAGER") != nullptr; }

    // The newest mapped window whose title holds Name; 0 when none.
    static unsigned long FindWindow(const std::string& Name) {
        std::istringstream ids(Run(GD_XDOTOOL " search --onlyvisible --name '" + Name + "' 2>/dev/null"));
        unsigned long id = 0, last = 0;
        while (ids >> id) last = id;
        return last;
    }
    static unsigned long WaitForWindow(const std::string& Name) {
        for (int i = 0; i < 100; ++i) {
            if (unsigned long id = FindWindow(Name)) return id;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }
    static bool WaitWindowGone(const std::string& Name) {
        for (int i = 0; i < 100; ++i) {
            if (!FindWindow(Name)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Waits until the window is mapped and viewable, so that keys pressed now reach it.
    static bool WaitViewable(unsigned long Id) {
        for (int i = 0; i < 200; ++i) {
            if (Run(GD_XWININFO " -id " + std::to_string(Id) + " 2>/dev/null").find("IsViewable") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // A key pressed and released as a keyboard does (XTest): it goes to the input focus.
    static void PressKey(const std::string& Name) { Run(std::string(GD_XDOTOOL) + " key " + Name); }

    struct Geometry {
        int x = 0, y = 0, w = 0, h = 0;
    };
    // The client area of a window on screen.
    static Geometry WindowGeometry(unsigned long Id) {
        Geometry g;
        std::istringstream info(Run(GD_XWININFO " -id " + std::to_string(Id)));
        for (std::string line; std::getline(info, line);) {
            auto value = [&](const char* key, int& v) {
                const auto at = line.find(key);
                if (at != std::string::npos) v = std::stoi(line.substr(at + std::strlen(key)));
            };
            value("Absolute upper-left X:", g.x);
            value("Absolute upper-left Y:", g.y);
            value("Width:", g.w);
            value("Height:", g.h);
        }
        return g;
    }

    // gdpack arguments for the settings dialog's texts 1 to 20, the built-in English ones.
    static std::vector<std::string> SettingsTextArgs() {
        return {"--text", "1=OK", "--text", "2=Cancel", "--text", "3=Info", "--text", "4=Exit Slideshow",
                "--text", "6=Photos", "--text", "7=Display Time (s):", "--text", "8=Effect:",
                "--text", "9=Effect Duration (s):", "--text", "10=Background:", "--text", "11=Loop Photos",
                "--text", "12=Random Photo Order", "--text", "13=forever", "--text", "14=Photo Titles",
                "--text", "15=Show at:", "--text", "16=Font:", "--text", "17=Size:", "--text", "18=Color:",
                "--text", "19=None\r\nCrossfade\r\nFade\r\nPaint\r\nMove\r\nBoxes\r\nZoom in\r\nZoom out",
                "--text", "20=Top Left\r\nTop Center\r\nTop Right\r\nBottom Left\r\nBottom center\r\nBottom Right"};
    }
};
