#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_view.h"

using lxtest::TTestView;

namespace {

// Listens to a view and writes down every call as "name:flag".
class TListener {
public:
    TListener(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
    void Changed(TLXView* View, uint8_t Flag) {
        log_->push_back(name_ + ":" + std::to_string(Flag));
        lastView = View;
        if (onCall) onCall(View, Flag);
    }
    TLXBitmapChangeEvent Method() { return MakeMethod(this, &TListener::Changed); }
    std::function<void(TLXView*, uint8_t)> onCall;
    TLXView* lastView = nullptr;

private:
    std::string name_;
    std::vector<std::string>* log_;
};

TEST(LXView, Defaults) {
    TTestView v;
    EXPECT_EQ(v.Background(), clBtnFace);
    EXPECT_EQ(v.BorderStyle(), bsSingle);
    EXPECT_TRUE(v.Ctl3D());
    EXPECT_TRUE(v.ParentCtl3D);
    EXPECT_EQ(v.DpiX(), 0);
    EXPECT_EQ(v.DpiY(), 0);
    EXPECT_FALSE(v.OnMouseEnter);
    EXPECT_EQ(v.BitmapChangeEventCount(), 0);
    v.SetBackground(clRed);
    EXPECT_EQ(v.Background(), clRed);
}

TEST(LXView, DpiIgnoresZero) {
    struct Case { int x, y, wantX, wantY; };
    const Case cases[] = {{0, 300, 72, 300}, {150, 0, 150, 72}, {0, 0, 72, 72}, {-5, 96, -5, 96}};
    for (const Case& c : cases) {
        TTestView v;
        v.SetDpi(72, 72);
        v.SetDpi(c.x, c.y);
        EXPECT_EQ(v.DpiX(), c.wantX) << c.x << "," << c.y;
        EXPECT_EQ(v.DpiY(), c.wantY) << c.x << "," << c.y;
    }
}

TEST(LXView, BorderAndCtl3DRecreateOnlyOnChange) {
    TTestView v;
    v.SetBorderStyle(bsSingle);
    v.SetCtl3D(true);
    EXPECT_EQ(v.recreates, 0);
    v.SetBorderStyle(bsNone);
    EXPECT_EQ(v.BorderStyle(), bsNone);
    v.SetCtl3D(false);
    EXPECT_FALSE(v.Ctl3D());
    EXPECT_EQ(v.recreates, 2);
}

TEST(LXView, MouseEnterLeaveEvents) {
    TTestView v;
    std::vector<std::string> log;
    struct Sink {
        std::vector<std::string>* log;
        void Enter(TObject* s) { log->push_back(s ? "enter" : "enter-nil"); }
        void Leave(TObject*) { log->push_back("leave"); }
    } sink{&log};
    v.EnterMouse();   // no handler: nothing
    v.OnMouseEnter = MakeMethod(&sink, &Sink::Enter);
    v.OnMouseLeave = MakeMethod(&sink, &Sink::Leave);
    v.EnterMouse();
    v.LeaveMouse();
    EXPECT_EQ(log, (std::vector<std::string>{"enter", "leave"}));
}

TEST(LXViewCallbacks, CalledInOrderWithFlagZero) {
    std::vector<std::string> log;
    TListener a("a", &log), b("b", &log);
    TTestView v;
    v.RegisterBitmapChangeEvent(a.Method());
    v.RegisterBitmapChangeEvent(b.Method());
    v.RegisterBitmapChangeEvent(a.Method());   // no duplicate check: two calls
    v.CallBitmapChangeEvents();
    EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:0", "a:0"}));
    EXPECT_EQ(a.lastView, &v);
}

TEST(LXViewCallbacks, RemovalMatchesObjectAndCode) {
    // Two listeners of one class share the code pointer; removing the second must not take
    // the first's record (that would leave a dangling record of the second).
    std::vector<std::string> log;
    TListener a("a", &log), b("b", &log);
    TTestView v;
    v.RegisterBitmapChangeEvent(a.Method());
    v.RegisterBitmapChangeEvent(b.Method());
    v.RemoveBitmapChangeEvent(b.Method());
    v.CallBitmapChangeEvents();
    EXPECT_EQ(log, (std::vector<std::string>{"a:0"}));
    // Only the first of two equal records goes.
    v.RegisterBitmapChangeEvent(a.Method());
    v.RemoveBitmapChangeEvent(a.Method());
    EXPECT_EQ(v.BitmapChangeEventCount(), 1);
    // Removing what was never registered does nothing.
    TListener c("c", &log);
    v.RemoveBitmapChangeEvent(c.Method());
    EXPECT_EQ(v.BitmapChangeEventCount(), 1);
}

TEST(LXViewCallbacks, RemovalDuringCallsSkipsNobody) {
    std::vector<std::string> log;
    TListener a("a", &log), b("b", &log), c("c", &log), late("late", &log);
    TTestView v;
    a.onCall = [&](TLXView* view, uint8_t) {
        view->RemoveBitmapChangeEvent(a.Method());       // itself
        view->RegisterBitmapChangeEvent(late.Method());  // not called in this round
    };
    b.onCall = [&](TLXView* view, uint8_t) { view->RemoveBitmapChangeEvent(c.Method()); };
    v.RegisterBitmapChangeEvent(a.Method());
    v.RegisterBitmapChangeEvent(b.Method());
    v.RegisterBitmapChangeEvent(c.Method());
    v.CallBitmapChangeEvents();
    EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:0"}));
    log.clear();
    v.CallBitmapChangeEvents();
    EXPECT_EQ(log, (std::vector<std::string>{"b:0", "late:0"}));
}

TEST(LXViewCallbacks, DestructionCallsEachOnceWithFlagOne) {
    std::vector<std::string> log;
    TListener a("a", &log), b("b", &log), c("c", &log);
    auto* v = new TTestView;
    v->RegisterBitmapChangeEvent(a.Method());
    v->RegisterBitmapChangeEvent(b.Method());
    v->RegisterBitmapChangeEvent(c.Method());
    // A listener that unregisters itself on flag 1 must not make the view drop the next one.
    a.onCall = [&](TLXView* view, uint8_t flag) {
        if (flag == 1) view->RemoveBitmapChangeEvent(a.Method());
    };
    delete v;   // the derived destructor and the base destructor both ask: one round only
    EXPECT_EQ(log, (std::vector<std::string>{"a:1", "b:1", "c:1"}));
}

TEST(LXViewCallbacks, FlagOneComesWhileTheBitmapExists) {
    std::vector<std::string> log;
    TListener a("a", &log);
    auto* v = new TTestView;
    TBitmap* seen = nullptr;
    int width = -1;
    a.onCall = [&](TLXView* view, uint8_t) {
        seen = static_cast<TTestView*>(view)->GetBitmap();
        width = seen ? seen->Width() : -1;
    };
    v->GetBitmap()->SetSize(7, 3);
    v->RegisterBitmapChangeEvent(a.Method());
    delete v;
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(width, 7);
}

}  // namespace
