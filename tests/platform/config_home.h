// A temporary XDG_CONFIG_HOME for the length of a test, so the user's files are never touched.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "SysUtils.h"

class ConfigHome : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        std::string t = GetTempDir() + "gdconfXXXXXX";
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        dir = t;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_) setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    // Runs each body in its own process at the same time; true when all exited cleanly.
    static bool InProcesses(const std::vector<std::function<void()>>& bodies) {
        std::vector<pid_t> pids;
        for (const auto& body : bodies) {
            pid_t p = fork();
            if (p == 0) {
                int rc = 0;
                try {
                    body();
                } catch (...) {
                    rc = 1;
                }
                _exit(rc);
            }
            if (p < 0) return false;
            pids.push_back(p);
        }
        bool ok = true;
        for (pid_t p : pids) {
            int status = 0;
            if (waitpid(p, &status, 0) != p || !WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;
        }
        return ok;
    }
    std::string dir;

private:
    bool hadOld_ = false;
    std::string old_;
};
