// The single-instance lock, across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "NamedMutex.h"
#include "TestDir.h"

namespace {

// Runs CreateNamedMutex in a child process; the child reports the result as its exit code
// and, when told to hold, keeps the lock until the parent closes the pipe.
struct Child {
    pid_t pid = -1;
    int release = -1;   // write end; closing it lets a holding child exit
    int report = -1;    // read end; the child writes its result once it has tried
};

Child StartChild(const std::string& name, bool hold) {
    int rel[2], rep[2];
    if (::pipe(rel) != 0 || ::pipe(rep) != 0) std::abort();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(rel[1]);
        ::close(rep[0]);
        const char r = char(CreateNamedMutex(name));
        [[maybe_unused]] ssize_t n = ::write(rep[1], &r, 1);
        if (hold) {
            char c;
            while (::read(rel[0], &c, 1) > 0) {}
        }
        ::_exit(r);
    }
    ::close(rel[0]);
    ::close(rep[1]);
    return {pid, rel[1], rep[0]};
}

TMutexResult Reported(const Child& c) {
    char r = -1;
    EXPECT_EQ(::read(c.report, &r, 1), 1);
    return TMutexResult(r);
}

void Finish(Child& c) {
    ::close(c.release);
    ::close(c.report);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
}

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }
    TestDir dir;
};

}  // namespace

TEST_F(SingleInstance, SecondProcessFindsTheLockTaken) {
    Child first = StartChild("GlimmerdeckScreenSaver", true);
    ASSERT_EQ(Reported(first), TMutexResult::Created);

    Child second = StartChild("GlimmerdeckScreenSaver", false);
    EXPECT_EQ(Reported(second), TMutexResult::AlreadyExists);
    Finish(second);

    Child other = StartChild("AnotherName", false);
    EXPECT_EQ(Reported(other), TMutexResult::Created) << "names are separate locks";
    Finish(other);

    Finish(first);   // the kernel releases the lock when the holder exits
    Child third = StartChild("GlimmerdeckScreenSaver", false);
    EXPECT_EQ(Reported(third), TMutexResult::Created);
    Finish(third);
}

TEST_F(SingleInstance, LockFileLocation) {
    EXPECT_EQ(NamedMutexPath("GlimmerdeckScreenSaver"), dir.File("GlimmerdeckScreenSaver.lock"));

    ::setenv("XDG_RUNTIME_DIR", dir.File("missing").c_str(), 1);
    const std::string uid = std::to_string(::getuid());
    const std::string fallback = NamedMutexPath("GlimmerdeckScreenSaver");
    EXPECT_NE(fallback.find("GlimmerdeckScreenSaver-" + uid + ".lock"), std::string::npos) << fallback;
    EXPECT_EQ(fallback.find(dir.Path()), std::string::npos);

    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(NamedMutexPath("GlimmerdeckScreenSaver"), fallback);
}

TEST_F(SingleInstance, PlantedLinkIsNotFollowed) {
    const std::string target = dir.File("victim");
    ASSERT_EQ(::symlink(target.c_str(), dir.File("Planted.lock").c_str()), 0);
    Child c = StartChild("Planted", false);
    EXPECT_EQ(Reported(c), TMutexResult::Unavailable);
    Finish(c);
    EXPECT_NE(::access(target.c_str(), F_OK), 0) << "no file was created through the link";
}
