// Starting the player and its helpers as child processes, with their own environment.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class ChildProcess {
public:
    // Env entries override the inherited environment; an empty value removes the variable.
    ChildProcess(const std::string& exe, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& stderrFile,
                 bool pipeStdio = false) {
        std::map<std::string, std::string> e;
        for (char** p = environ; *p; ++p) {
            const std::string kv = *p;
            const auto eq = kv.find('=');
            if (eq != std::string::npos) e[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        for (const auto& [k, v] : env) {
            if (v.empty()) e.erase(k);
            else e[k] = v;
        }
        std::vector<std::string> envStrings;
        for (const auto& [k, v] : e) envStrings.push_back(k + "=" + v);
        int in[2] = {-1, -1}, out[2] = {-1, -1};
        if (pipeStdio && (::pipe(in) != 0 || ::pipe(out) != 0)) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char*> argv{const_cast<char*>(exe.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            std::vector<char*> envp;
            for (auto& s : envStrings) envp.push_back(s.data());
            envp.push_back(nullptr);
            if (pipeStdio) {
                ::dup2(in[0], 0);
                ::dup2(out[1], 1);
                ::close(in[0]); ::close(in[1]); ::close(out[0]); ::close(out[1]);
            } else {
                const int devnull = ::open("/dev/null", O_RDWR);
                ::dup2(devnull, 0);
                ::dup2(devnull, 1);
            }
            if (!stderrFile.empty()) {
                const int fd = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                ::dup2(fd, 2);
            }
            // Signals the test sends must not stay ignored because the runner ignores them.
            for (int sig : {SIGHUP, SIGINT, SIGTERM}) ::signal(sig, SIG_DFL);
            ::execve(exe.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        if (pipeStdio) {
            ::close(in[0]);
            ::close(out[1]);
            stdin_ = in[1];
            stdout_ = out[0];
        }
    }
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int s;
            ::waitpid(pid_, &s, 0);
        }
        if (stdin_ >= 0) ::close(stdin_);
        if (stdout_ >= 0) ::close(stdout_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int sig) { ::kill(pid_, sig); }

    // The exit code, -signal when killed by a signal, or nothing when still running after
    // the guard time (then the process is killed, so a hang fails the test instead of
    // blocking it).
    std::optional<int> Wait(std::chrono::milliseconds guard = std::chrono::seconds(30)) {
        const auto end = std::chrono::steady_clock::now() + guard;
        while (!status_) {
            int s = 0;
            const pid_t r = ::waitpid(pid_, &s, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -WTERMSIG(s);
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &s, 0);
                status_ = -SIGKILL;
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status_;
    }
    bool Running() {
        if (status_) return false;
        int s = 0;
        const pid_t r = ::waitpid(pid_, &s, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -WTERMSIG(s);
            return false;
        }
        return true;
    }

    void WriteLine(const std::string& l) {
        const std::string s = l + "\n";
        [[maybe_unused]] ssize_t n = ::write(stdin_, s.data(), s.size());
    }
    std::string ReadLine() {
        std::string l;
        char c;
        while (::read(stdout_, &c, 1) == 1 && c != '\n') l += c;
        return l;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    int stdin_ = -1, stdout_ = -1;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The standard output of a shell command (an outside tool), whatever its exit status.
inline std::string RunCommand(const std::string& cmd) {
    std::string out;
    if (FILE* f = ::popen(cmd.c_str(), "r")) {
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        ::pclose(f);
    }
    return out;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Waits until the file contains the text, or the process has ended, or the guard time is up.
inline bool WaitForText(const std::string& path, const std::string& part, ChildProcess& p,
                        std::chrono::milliseconds guard = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + guard;
    while (std::chrono::steady_clock::now() < end) {
        if (Contains(ReadText(path), part)) return true;
        if (!p.Running()) return Contains(ReadText(path), part);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
