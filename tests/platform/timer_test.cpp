// The timer's rules: interval 0 never runs, setting Enabled or Interval restarts the count,
// a tick is never re-entered and missed ticks are not queued.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

#include "ExtCtrls.h"

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance()) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "timer_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop for about ms milliseconds.
void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs the event loop until pred holds or a generous limit passes.
template <class P>
bool PumpUntil(P pred, int limitMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Counter {
    int ticks = 0, depth = 0, maxDepth = 0;
    int nestMs = 0;   // a handler that runs a nested event loop this long
    void On(TObject*) {
        ++ticks;
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (nestMs > 0) {
            QEventLoop loop;
            QTimer::singleShot(nestMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        --depth;
    }
};

TEST(Timer, DefaultsAndWhatRuns) {
    TTimer t(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    Counter c;
    t.OnTimer = MakeMethod(&c, &Counter::On);
    struct Case {
        bool enabled;
        unsigned interval;
        bool running;
    };
    const Case cases[] = {{true, 0, false}, {false, 50, false}, {true, 50, true}, {false, 0, false}};
    for (const Case& k : cases) {
        t.SetEnabled(k.enabled);
        t.SetInterval(k.interval);
        EXPECT_EQ(t.Running(), k.running) << k.enabled << " " << k.interval;
    }
}

TEST(Timer, IntervalZeroNeverTicks) {
    TTimer t(nullptr);
    Counter c;
    t.OnTimer = MakeMethod(&c, &Counter::On);
    t.SetInterval(0);
    t.SetEnabled(true);
    Pump(100);
    EXPECT_EQ(c.ticks, 0);
    t.SetInterval(20);
    EXPECT_TRUE(PumpUntil([&] { return c.ticks >= 2; }));
}

TEST(Timer, SettingEnabledOrIntervalRestartsTheCount) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "Interval" : "Enabled");
        TTimer t(nullptr);
        Counter c;
        t.OnTimer = MakeMethod(&c, &Counter::On);
        t.SetInterval(400);
        Sleep(300);
        // Set again to the same value: the next tick comes a full interval from now,
        // not 100 ms from now.
        if (which == 0)
            t.SetInterval(400);
        else
            t.SetEnabled(true);
        Pump(200);
        EXPECT_EQ(c.ticks, 0);
        EXPECT_TRUE(PumpUntil([&] { return c.ticks >= 1; }));
    }
}

TEST(Timer, OverdueTicksFireOnce) {
    TTimer t(nullptr);
    Counter c;
    t.OnTimer = MakeMethod(&c, &Counter::On);
    t.SetInterval(20);
    Sleep(300);   // about 15 intervals without an event loop
    QCoreApplication::processEvents();
    EXPECT_EQ(c.ticks, 1);
}

TEST(Timer, NeverReenteredFromANestedEventLoop) {
    TTimer t(nullptr);
    Counter c;
    c.nestMs = 200;
    t.OnTimer = MakeMethod(&c, &Counter::On);
    t.SetInterval(10);
    ASSERT_TRUE(PumpUntil([&] { return c.ticks >= 1; }));
    // The first handler returned after its nested loop, during which about 20 ticks fell due.
    EXPECT_EQ(c.ticks, 1);
    EXPECT_EQ(c.maxDepth, 1);
    c.nestMs = 0;
    EXPECT_TRUE(PumpUntil([&] { return c.ticks >= 3; }));
    EXPECT_EQ(c.maxDepth, 1);
}

TEST(Timer, HandlerMayStopOrFreeItsTimer) {
    struct Stopper {
        TTimer* timer;
        int ticks = 0;
        bool free = false;
        void On(TObject*) {
            ++ticks;
            if (free)
                delete timer;
            else
                timer->SetEnabled(false);
        }
    };
    auto* t = new TTimer(nullptr);
    Stopper s{t};
    t->OnTimer = MakeMethod(&s, &Stopper::On);
    t->SetInterval(10);
    ASSERT_TRUE(PumpUntil([&] { return s.ticks >= 1; }));
    Pump(60);
    EXPECT_EQ(s.ticks, 1);
    EXPECT_FALSE(t->Running());
    s.free = true;
    t->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return s.ticks >= 2; }));
    Pump(30);
    EXPECT_EQ(s.ticks, 2);
}

TEST(Timer, WithoutHandlerTicksDoNothingAndOwnerFreesIt) {
    TComponent owner(nullptr);
    auto* t = new TTimer(&owner);
    t->SetInterval(10);
    Pump(50);
    EXPECT_TRUE(t->Running());
    EXPECT_EQ(owner.ComponentCount(), 1);
}

}  // namespace

namespace {

// A short timer (the transition engine's) paced to the screen: each tick is due one period
// after the one before, a slightly late tick shortens the next wait so the rate holds, and a
// tick late by a period or more starts the rhythm again instead of making up the lost ones.
TEST(Timer, ShortTimersArePacedToTheRefreshPeriod) {
    struct Case {
        double now, due, period;
        double delay, nextDue;
    };
    const Case cases[] = {
        {0, 0, 16.667, 16.667, 16.667},
        {17, 16.667, 16.667, 16.334, 33.334},     // 0.3 ms late: the next one comes sooner
        {40, 16.667, 16.667, 16.667, 56.667},     // a whole period late: from now
        {100.5, 100, 8.333, 7.833, 108.333},
    };
    for (const Case& k : cases) {
        double due = k.due;
        EXPECT_NEAR(TTimer::NextPacedDelay(k.now, due, k.period), k.delay, 1e-9) << k.now;
        EXPECT_NEAR(due, k.nextDue, 1e-9) << k.now;
    }
    const double period = TTimer::FramePeriodMs();
    EXPECT_GE(period, 4.0);
    EXPECT_LE(period, 34.0);
}

}  // namespace
