// The window hook: order, handled, after notifications, detaching and a freed control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QResizeEvent>
#include <QWidget>

#include <string>
#include <vector>

#include "Forms.h"
#include "UxHook.h"

namespace {

struct Log {
    std::vector<std::string> lines;
    std::string handles;   // the hook name that handles WM_SIZE before
};

struct Named : TUxWindowHook {
    Named(Log* l, const char* n) : TUxWindowHook(nullptr), log(l), name(n) {
        BeforeMessage = MakeMethod(this, &Named::Before);
        AfterMessage = MakeMethod(this, &Named::After);
    }
    void Before(TObject*, TMessage& m, bool& handled) {
        if (m.Msg != WM_SIZE) return;
        log->lines.push_back(std::string("before ").append(name));
        handled = log->handles == name;
    }
    void After(TObject*, TMessage& m, bool&) {
        if (m.Msg == WM_SIZE) log->lines.push_back(std::string("after ").append(name));
    }
    Log* log;
    std::string name;
};

struct Sized : TWinControl {
    using TWinControl::TWinControl;
    int sizes = 0;
    void WMSize() override { ++sizes; }
};

void Resize(TWinControl& c, int w, int h) {
    QResizeEvent e(QSize(w, h), c.Widget()->size());
    QApplication::sendEvent(c.Widget(), &e);
}

}  // namespace

TEST(UxHook, LastAttachedFirstAndHandledStops) {
    TForm form(nullptr);
    Sized ctl(nullptr);
    ctl.SetParent(&form);
    Log log;
    Named a(&log, "a"), b(&log, "b");
    a.SetWinControl(&ctl);
    b.SetWinControl(&ctl);
    EXPECT_EQ(ControlHookCount(), 1);
    Resize(ctl, 50, 40);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"before b", "before a", "after b", "after a"}));
    EXPECT_EQ(ctl.sizes, 1);
    // b handles it: a and the control never see it.
    log.lines.clear();
    log.handles = "b";
    Resize(ctl, 60, 40);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"before b"}));
    EXPECT_EQ(ctl.sizes, 1);
    // Detached, a hook hears nothing; the last one gone, the control hook goes from the loop.
    log.lines.clear();
    log.handles.clear();
    b.SetActive(false);
    Resize(ctl, 70, 40);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"before a", "after a"}));
    a.SetActive(false);
    QApplication::processEvents();
    EXPECT_EQ(ControlHookCount(), 0);
    log.lines.clear();
    Resize(ctl, 80, 40);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(ctl.sizes, 3);
}

TEST(UxHook, FreedControlAndIsForm) {
    TForm form(nullptr);
    Log log;
    {
        auto* ctl = new Sized(nullptr);
        Named a(&log, "a");
        a.SetWinControl(ctl);
        delete ctl;
        EXPECT_EQ(a.WinControl(), nullptr);
        EXPECT_EQ(ControlHookCount(), 0);
    }
    TUxWindowHook h(&form);
    EXPECT_FALSE(h.IsForm());
    h.ReadIsForm(true);
    EXPECT_EQ(h.WinControl(), &form);
    EXPECT_TRUE(h.IsForm());
    h.SetWinControl(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(ControlHookCount(), 0);
}
