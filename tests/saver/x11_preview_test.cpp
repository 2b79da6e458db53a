// The preview under a real X server (run through xvfb-run): drawn inside a window made by the
// test, sized to it, and ended when that window is destroyed.
#include <csignal>
#include <cstdio>
#include <sstream>

#include "X11Fixture.h"

namespace {

class X11Preview : public X11Run {
protected:
    void SetUp() override {
        X11Run::SetUp();
        if (IsSkipped()) return;
        BuildPlayer("Alps.scr");
    }

    struct Parent {
        std::unique_ptr<ChildProcess> proc;
        unsigned window = 0, pixmap = 0;
    };
    Parent MakeParent(int w, int h) {
        Parent p;
        p.proc = std::make_unique<ChildProcess>(GD_X11_PARENT, std::vector<std::string>{std::to_string(w), std::to_string(h)},
                                                std::map<std::string, std::string>{}, dir.File("parent.err"), true);
        std::istringstream in(p.proc->ReadLine());
        std::string a, b;
        in >> a >> p.window >> b >> p.pixmap;
        EXPECT_EQ(a, "window") << ReadText(dir.File("parent.err"));
        return p;
    }
};

}  // namespace

TEST_F(X11Preview, DrawsInsideTheParentAndEndsWithIt) {
    struct Case {
        const char* name;
        bool daemonStyle;
    };
    for (const Case c : {Case{"/p <id>", false}, Case{"XSCREENSAVER_WINDOW with --root", true}}) {
        SCOPED_TRACE(c.name);
        Parent parent = MakeParent(320, 200);
        ASSERT_NE(parent.window, 0u);
        const std::string log = dir.File(std::string("log-") + (c.daemonStyle ? "root" : "p"));
        auto env = XEnv(log);
        std::vector<std::string> args = {"/p", std::to_string(parent.window)};
        if (c.daemonStyle) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%x", parent.window);
            env["XSCREENSAVER_WINDOW"] = hex;
            args = {"--root"};
        }
        ChildProcess player(dir.File("Alps.scr"), args, env, log + ".err");
        ASSERT_TRUE(WaitForText(log, "window preview", player)) << ReadText(log + ".err");
        EXPECT_TRUE(Contains(ReadText(log), "window preview 320x200 in " + std::to_string(parent.window)))
            << ReadText(log);

        // The show is a child of the parent at 0, 0 with the parent's size.
        std::string tree;
        for (int i = 0; i < 100 && !Contains(tree, "320x200+0+0"); ++i) {
            tree = RunCommand(std::string(GD_XWININFO) + " -children -id " + std::to_string(parent.window));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(Contains(tree, "1 child:")) << tree;
        EXPECT_TRUE(Contains(tree, "320x200+0+0")) << tree;

        parent.proc->WriteLine("destroy");
        EXPECT_EQ(parent.proc->ReadLine(), "destroyed");
        EXPECT_EQ(player.Wait(std::chrono::seconds(20)), 0) << ReadText(log + ".err");
        EXPECT_TRUE(Contains(ReadText(log), "preview parent gone")) << ReadText(log);
        EXPECT_TRUE(Contains(ReadText(log), "shutdown"));
    }
}

TEST_F(X11Preview, HandlesThatAreNoWindowAreErrors) {
    Parent parent = MakeParent(100, 80);
    const std::pair<std::string, const char*> cases[] = {
        {"0", "handle 0"},
        {std::to_string(parent.pixmap), "is not a window"},
        {"536870911", "is not a window"},
        {"-5", "is not a window"},
    };
    int n = 0;
    for (const auto& [handle, text] : cases) {
        SCOPED_TRACE(handle);
        const std::string log = dir.File("bad" + std::to_string(++n));
        ChildProcess player(dir.File("Alps.scr"), {"/P", handle}, XEnv(log), log + ".err");
        EXPECT_EQ(player.Wait(), 1);
        EXPECT_TRUE(Contains(ReadText(log + ".err"), text)) << ReadText(log + ".err");
        EXPECT_FALSE(Contains(ReadText(log), "window preview"));
    }
}

// Full screen in Saver and Slideshow mode; only the slideshow stays out of the taskbar.
TEST_F(X11Preview, FullScreenWindowsAndTheTaskbar) {
    BuildPlayer("Alps.exe");
    struct Case {
        const char* file;
        const char* arg;
        bool skipTaskbar;
    };
    for (const Case c : {Case{"Alps.exe", "x", true}, Case{"Alps.scr", "/s", false}}) {
        SCOPED_TRACE(c.file);
        const std::string log = dir.File(std::string("fs-") + c.file);
        ChildProcess player(dir.File(c.file), {c.arg}, XEnv(log), log + ".err");
        ASSERT_TRUE(WaitForText(log, "window show", player)) << ReadText(log + ".err");
        const std::string text = ReadText(log);
        EXPECT_TRUE(Contains(text, " 1024x768 id ")) << text;
        const std::string id = text.substr(text.find(" id ") + 4, text.find('\n', text.find(" id ")) - text.find(" id ") - 4);
        std::string state;
        for (int i = 0; i < 100 && !Contains(state, "_NET_WM_STATE_FULLSCREEN"); ++i) {
            state = RunCommand(std::string(GD_XPROP) + " -id " + id + " _NET_WM_STATE");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(Contains(state, "_NET_WM_STATE_FULLSCREEN")) << state;
        EXPECT_EQ(Contains(state, "_NET_WM_STATE_SKIP_TASKBAR"), c.skipTaskbar) << state;
        player.Signal(SIGTERM);
        EXPECT_EQ(player.Wait(), 0);
    }
}
