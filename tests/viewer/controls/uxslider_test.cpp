// The slider with a thumb image of our own (10 pixels long): value and position, setter
// rules, keys, drag, ruler repeat and the change events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <string>
#include <vector>

#include "UxSlider.h"

namespace {

struct Events {
    std::vector<std::string> log;
    void Change(TObject* s) { log.push_back("change " + std::to_string(static_cast<TUxSlider*>(s)->Value())); }
    void Changed(TObject*) { log.push_back("changed"); }
};

// 122 wide: ruler 110, track 100 from x = 6.
struct Slider : TUxSlider {
    Events ev;
    explicit Slider(int min = 0, int max = 200) : TUxSlider(nullptr) {
        TBitmap thumb;
        thumb.SetPixelFormat(pf24bit);
        thumb.SetSize(10, 20);
        SetNumThumbStates(1);
        SetImage(siHThumb, &thumb);
        SetBounds(0, 0, 122, 40);
        SetMaxValue(max);
        SetMinValue(min);
        SetOptions(soSmooth);
        OnChange = MakeMethod(&ev, &Events::Change);
        OnChanged = MakeMethod(&ev, &Events::Changed);
    }
    using TUxCustomSlider::KeyDown;
};

void Mouse(TWinControl* c, QEvent::Type type, int x, int y) {
    const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(x, y), c->ClientWidget()->mapToGlobal(QPointF(x, y)), b, held, Qt::NoModifier);
    QApplication::sendEvent(c->ClientWidget(), &e);
}

}  // namespace

TEST(UxSlider, ValueAndPositionTiesToEven) {
    Slider s(0, 200);
    EXPECT_EQ(s.TrackLength(), 100);
    struct Case {
        int v, pos;
    };
    // 6 + Round(v / 2): 1 -> 0.5 -> 0, 3 -> 1.5 -> 2, 5 -> 2.5 -> 2.
    for (Case c : {Case{0, 6}, Case{1, 6}, Case{3, 8}, Case{5, 8}, Case{200, 106}, Case{101, 56}})
        EXPECT_EQ(s.PositionOfValue(c.v), c.pos) << c.v;
    for (Case c : {Case{0, 6}, Case{2, 7}, Case{200, 106}, Case{0, -50}, Case{200, 500}})
        EXPECT_EQ(s.ValueOfPosition(c.pos), c.v) << c.pos;
    Slider t(0, 50);   // (p - 6) / 2: 7 -> 0.5 -> 0, 9 -> 1.5 -> 2
    EXPECT_EQ(t.ValueOfPosition(7), 0);
    EXPECT_EQ(t.ValueOfPosition(9), 2);
    t.SetOptions(0);   // not smooth: snapped to the increment (10)
    EXPECT_EQ(t.ValueOfPosition(6 + 30), 20);   // Round(15 / 10) = 2 (tie to even)
    EXPECT_EQ(t.ValueOfPosition(6 + 50), 20);   // Round(25 / 10) = 2
}

TEST(UxSlider, SetterRules) {
    Slider s(1, 200);
    s.SetIncrement(1);
    s.SetValue(250);
    EXPECT_EQ(s.Value(), 200);
    EXPECT_EQ(s.ev.log, (std::vector<std::string>{"change 200"}));
    s.SetValue(200);   // no change, no event
    EXPECT_EQ(s.ev.log.size(), 1u);
    for (int bad : {0, 200, -1}) {
        try {
            s.SetIncrement(bad);
            ADD_FAILURE() << bad;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message, "Value must be between 1 and 199");
        }
    }
    s.SetMinValue(200);   // not below the maximum: ignored
    EXPECT_EQ(s.MinValue(), 1);
    s.SetMaxValue(1);
    EXPECT_EQ(s.MaxValue(), 200);
    s.SetIncrement(150);
    s.SetMaxValue(100);   // the increment no longer fits: it becomes the range
    EXPECT_EQ(s.Increment(), 99);
    EXPECT_EQ(s.Value(), 100);
    // While loading anything goes, and nothing divides by zero afterwards.
    s.BeginLoading();
    s.SetMinValue(5);
    s.SetMaxValue(5);
    s.SetIncrement(0);
    s.EndLoading();
    EXPECT_EQ(s.PositionOfValue(5), 6);
    EXPECT_EQ(s.ValueOfPosition(60), 5);
    s.SetBounds(0, 0, 10, 40);   // a track of no length
    EXPECT_LE(s.TrackLength(), 0);
    EXPECT_EQ(s.ValueOfPosition(60), 5);
    s.Repaint();
}

TEST(UxSlider, SteppingKeysAndTheirEvents) {
    Slider s(0, 100);
    s.SetValue(15);
    s.ev.log.clear();
    struct Case {
        uint16_t key;
        int value;
    };
    // Up from 15 with increment 10: 10 + 10 * Round(1.5) = 30 (ties to even skip 20).
    for (Case c : {Case{VK_RIGHT, 30}, Case{VK_LEFT, 20}, Case{VK_END, 100}, Case{VK_HOME, 0}, Case{VK_LEFT, 0}}) {
        uint16_t k = c.key;
        s.KeyDown(k, 0);
        EXPECT_EQ(k, 0);
        EXPECT_EQ(s.Value(), c.value);
    }
    EXPECT_EQ(s.ev.log, (std::vector<std::string>{"change 30", "changed", "change 20", "changed", "change 100",
                                                   "changed", "change 0", "changed", "changed"}));
    s.SetValue(25);
    uint16_t up = VK_RIGHT;
    s.KeyDown(up, 0);
    EXPECT_EQ(s.Value(), 30);
    uint16_t other = VK_UP;   // not a key of a horizontal slider
    s.KeyDown(other, 0);
    EXPECT_EQ(other, VK_UP);
}

TEST(UxSlider, DragFiresChangesThenOneChanged) {
    Slider s(0, 200);
    s.SetIncrement(1);
    s.Show();
    const TRect t = s.ThumbRect();
    EXPECT_EQ(t.Left, 6);
    Mouse(&s, QEvent::MouseButtonPress, t.Left + 2, t.Top + 5);
    for (int x : {12, 18, 18, 30}) Mouse(&s, QEvent::MouseMove, x, t.Top + 5);
    Mouse(&s, QEvent::MouseButtonRelease, 30, t.Top + 5);
    // The thumb's edge follows the pointer less the grab offset: 10, 16, 28 -> 8, 20, 44.
    EXPECT_EQ(s.ev.log, (std::vector<std::string>{"change 8", "change 20", "change 44", "changed"}));
    EXPECT_EQ(s.ThumbRect().Left, 28);
}

TEST(UxSlider, RulerRepeatStopsWhenTheThumbPassesThePointer) {
    Slider s(0, 100);
    s.Show();
    const TRect r = s.RulerRect();
    const int y = (r.Top + r.Bottom) / 2;
    // Press right of the thumb at x = 40: steps of 10 until the thumb covers the pointer.
    Mouse(&s, QEvent::MouseButtonPress, 40, y);
    EXPECT_EQ(s.Value(), 10);
    EXPECT_TRUE(s.RepeatTimerRunning());
    std::vector<int> values;
    for (int i = 0; i < 10; ++i) {
        s.RepeatStep();
        values.push_back(s.Value());
    }
    EXPECT_EQ(values, (std::vector<int>{20, 30, 30, 30, 30, 30, 30, 30, 30, 30}));
    EXPECT_FALSE(s.RepeatTimerRunning());
    Mouse(&s, QEvent::MouseButtonRelease, 40, y);
    EXPECT_EQ(s.ev.log.back(), "changed");
}

// Tick marks keep about 4 pixels apart whatever the range (so at most a quarter of the width
// of them), and a full int range with the smallest increment on a short track is drawn at
// once rather than searched step by step.
TEST(UxSlider, TicksStayApartOverAnyRange) {
    struct Case { int min, max, width; };
    for (const Case& k : {Case{0, 200, 122}, Case{INT32_MIN, INT32_MAX, 122}, Case{INT32_MIN, INT32_MAX, 600},
                          Case{-5, 5, 600}, Case{INT32_MIN, INT32_MAX, 12}}) {
        Slider s(k.min, k.max);
        s.SetOptions(soSmooth | soShowPoints);
        s.SetIncrement(1);
        s.SetWidth(k.width);
        s.Show();
        const QImage img = s.ClientWidget()->grab().toImage();
        const int y = s.ThumbRect().Bottom + 2;
        std::vector<int> xs;
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 64) xs.push_back(x);
        SCOPED_TRACE(testing::Message() << k.min << ".." << k.max << " width " << k.width);
        EXPECT_GE(xs.size(), k.width > 12 ? 2u : 1u);   // both ends, unless they meet
        EXPECT_LE(int(xs.size()), k.width / 4 + 2);
    }
}
