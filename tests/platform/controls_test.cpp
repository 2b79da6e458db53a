// Controls over Qt widgets: client area, border, window scroll bars and their codes, wheel
// steps, mouse capture, keys, the retained surface and cursors by id.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <QWidget>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Controls.h"
#include "Forms.h"
#include "Win32.h"

namespace {

// One QApplication for the whole binary, made by whichever test file gets there first.
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
    char name_[16] = "controls_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A custom control that records what the layer tells it.
class Probe : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    std::vector<std::pair<int, int>> hscroll, vscroll;   // (code, pos)
    std::vector<int> wheel;
    std::vector<std::string> mouse;
    std::vector<TRect> paintClips;
    int paints = 0;
    bool followThumb = true;   // set the position as a view does on thumb messages
    TColor paintColor = clNone;

    using TCustomControl::Paint;

protected:
    void WMHScroll(int Code, int Pos) override { Record(SB_HORZ, hscroll, Code, Pos); }
    void WMVScroll(int Code, int Pos) override { Record(SB_VERT, vscroll, Code, Pos); }
    void WMMouseWheel(TShiftState Shift, int Delta, TPoint Pos) override {
        wheel.push_back(Delta);
        TCustomControl::WMMouseWheel(Shift, Delta, Pos);
    }
    void MouseDown(TMouseButton B, TShiftState S, int X, int Y) override {
        mouse.push_back("down " + std::to_string(int(B)) + (S & ssDouble ? " double" : "") + " " +
                        std::to_string(X) + "," + std::to_string(Y));
    }
    void MouseMove(TShiftState, int X, int Y) override {
        mouse.push_back("move " + std::to_string(X) + "," + std::to_string(Y));
    }
    void MouseUp(TMouseButton B, TShiftState, int X, int Y) override {
        mouse.push_back("up " + std::to_string(int(B)) + " " + std::to_string(X) + "," + std::to_string(Y));
    }
    void DblClick() override { mouse.push_back("dblclick"); }
    void CaptureLost() override { mouse.push_back("capture lost"); }
    void MouseEnter() override { mouse.push_back("enter"); }
    void MouseLeave() override { mouse.push_back("leave"); }
    void DoEnter() override { mouse.push_back("focus in"); }
    void DoExit() override { mouse.push_back("focus out"); }
    void Click() override { mouse.push_back("click"); }
    void Paint() override {
        ++paints;
        paintClips.push_back(Canvas()->ClipRect());
        if (paintColor != clNone) {
            Canvas()->Brush()->SetColor(paintColor);
            Canvas()->FillRect(ClientRect());
        }
    }

private:
    void Record(int bar, std::vector<std::pair<int, int>>& log, int code, int pos) {
        log.emplace_back(code, pos);
        if (followThumb && (code == SB_THUMBPOSITION || code == SB_THUMBTRACK)) SetScrollPos(this, bar, pos, true);
    }
};

// A shown top-level form holding one probe of the given size.
struct Fixture : ::testing::Test {
    std::unique_ptr<TForm> form;
    Probe* probe = nullptr;
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 300, 200);
        probe = new Probe(form.get());
        probe->SetParent(form.get());
        probe->SetBounds(10, 10, 100, 80);
        form->Show();
        QApplication::processEvents();
    }
    void TearDown() override { form.reset(); }
};

QRgb PixelOf(const TBitmap* b, int x, int y) {
    const uint8_t* p = b->ScanLine(y) + 4 * x;
    return qRgb(p[2], p[1], p[0]);
}

QRgb RgbOf(TColor c) {
    TColor r = ColorToRGB(c);
    return qRgb(GetRValue(r), GetGValue(r), GetBValue(r));
}

void SendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton b, QPoint p, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), b, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void SendWheel(QWidget* w, int delta) {
    QWheelEvent e(QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

// ---- Client area and border ----

TEST_F(Fixture, ClientAreaLosesBorderAndVisibleBars) {
    struct Case {
        TBorderStyle border;
        bool ctl3d, hbar, vbar;
        int cw, ch, originX;
    };
    const Case cases[] = {
        {bsNone, true, false, false, 100, 80, 0},
        {bsSingle, true, false, false, 96, 76, 2},
        {bsSingle, false, false, false, 98, 78, 1},
        {bsSingle, true, true, false, 96, 60, 2},
        {bsSingle, true, false, true, 80, 76, 2},
        {bsSingle, true, true, true, 80, 60, 2},
        {bsNone, true, true, true, 84, 64, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.border << c.ctl3d << c.hbar << c.vbar);
        probe->SetBorderStyle(c.border);
        probe->SetCtl3D(c.ctl3d);
        ShowScrollBar(probe, SB_HORZ, c.hbar);
        ShowScrollBar(probe, SB_VERT, c.vbar);
        EXPECT_EQ(probe->ClientWidth(), c.cw);
        EXPECT_EQ(probe->ClientHeight(), c.ch);
        EXPECT_EQ(probe->ClientOrigin().X, c.originX);
        EXPECT_EQ(probe->ClientWidget()->geometry(), QRect(c.originX, c.originX, c.cw, c.ch));
        EXPECT_EQ(probe->Surface()->Width(), c.cw);
        EXPECT_EQ(probe->Surface()->Height(), c.ch);
        EXPECT_EQ(probe->ScrollBarVisible(SB_HORZ), c.hbar);
        EXPECT_EQ(probe->ScrollBarVisible(SB_VERT), c.vbar);
        EXPECT_EQ(probe->Width(), 100);
    }
    EXPECT_EQ(GetSystemMetrics(SM_CXEDGE), 2);
    EXPECT_EQ(GetSystemMetrics(SM_CYEDGE), 2);
    EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 16);
    EXPECT_EQ(GetSystemMetrics(SM_CYHSCROLL), 16);
}

TEST_F(Fixture, BorderIsSunkenWith3DAndFlatWithout) {
    probe->SetBorderStyle(bsSingle);
    QImage img = probe->Widget()->grab().toImage();
    EXPECT_EQ(img.pixel(0, 0), RgbOf(clBtnShadow));
    EXPECT_EQ(img.pixel(1, 1), RgbOf(cl3DDkShadow));
    EXPECT_EQ(img.pixel(99, 79), RgbOf(clBtnHighlight));
    EXPECT_EQ(img.pixel(98, 78), RgbOf(cl3DLight));
    probe->SetCtl3D(false);
    img = probe->Widget()->grab().toImage();
    EXPECT_EQ(img.pixel(0, 0), RgbOf(clWindowFrame));
    EXPECT_EQ(img.pixel(99, 79), RgbOf(clWindowFrame));
    EXPECT_EQ(probe->ClientWidth(), 98);
}

// One plain style for the bars of every control that asks for it, kept when the control gets
// a new window, and the desktop's style back on request.
TEST_F(Fixture, PlainScrollBarsKeepTheirStyleInANewWindow) {
    QStyle* desktop = QApplication::style();
    EXPECT_FALSE(probe->PlainScrollBars());
    EXPECT_EQ(probe->ScrollBarWidget(SB_HORZ)->style(), desktop);
    probe->SetPlainScrollBars(true);
    QStyle* plain = probe->ScrollBarWidget(SB_HORZ)->style();
    EXPECT_NE(plain, desktop);
    EXPECT_EQ(plain->name().toLower(), QStringLiteral("windows"));
    EXPECT_EQ(probe->ScrollBarWidget(SB_VERT)->style(), plain);
    Probe other(form.get());
    other.SetPlainScrollBars(true);
    EXPECT_EQ(other.ScrollBarWidget(SB_VERT)->style(), plain);
    // A foreign parent window that goes away leaves the control a new window and new bars.
    auto* host = new QWidget;
    other.SetParentWindow(host);
    delete host;
    EXPECT_EQ(other.ScrollBarWidget(SB_HORZ)->style(), plain);
    EXPECT_EQ(other.ScrollBarWidget(SB_VERT)->style(), plain);
    probe->SetPlainScrollBars(false);
    EXPECT_EQ(probe->ScrollBarWidget(SB_HORZ)->style(), desktop);
    EXPECT_EQ(probe->ScrollBarWidget(SB_VERT)->style(), desktop);
}

TEST_F(Fixture, ResizeReportsOuterSizeChangesOnly) {
    int resizes = 0;
    struct Counter {
        int* n;
        void On(TObject*) { ++*n; }
    } counter{&resizes};
    probe->OnResize = MakeMethod(&counter, &Counter::On);
    probe->SetBounds(10, 10, 120, 80);
    EXPECT_EQ(resizes, 1);
    probe->SetBounds(20, 30, 120, 80);   // a move
    EXPECT_EQ(resizes, 1);
    ShowScrollBar(probe, SB_VERT, true);   // the client area changes, the window does not
    EXPECT_EQ(resizes, 1);
    probe->Widget()->resize(140, 90);      // from the window system
    EXPECT_EQ(resizes, 2);
    EXPECT_EQ(probe->Width(), 140);
    EXPECT_EQ(probe->ClientWidth(), 124);
    probe->SetBounds(0, 0, -5, -5);
    EXPECT_EQ(probe->Width(), 0);
    EXPECT_EQ(probe->ClientWidth(), 0);
    EXPECT_EQ(probe->ClientHeight(), 0);
}

// ---- Scroll-bar state ----

TEST_F(Fixture, ScrollInfoFollowsWin32PageRule) {
    struct Case {
        int min, max;
        unsigned page;
        int pos;
        int expectPos;
        unsigned expectPage;
        bool visible;
    };
    const Case cases[] = {
        {0, 65535, 1000, 70000, 64536, 1000, true},   // largest position max - page + 1
        {0, 65535, 1000, -3, 0, 1000, true},
        {0, 65535, 0, 70000, 65535, 0, true},         // no page: the maximum itself
        {0, 99, 100, 50, 0, 100, false},              // a page that shows it all: no bar
        {0, 99, 500, 50, 0, 100, false},              // page clamped to the range's size
        {0, 99, 99, 50, 1, 99, true},
        {10, 20, 5, 0, 10, 5, true},
        {5, 5, 0, 7, 5, 0, false},                    // empty range
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " page " << c.page << " pos " << c.pos);
        SCROLLINFO si;
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        si.nMin = c.min;
        si.nMax = c.max;
        si.nPage = c.page;
        si.nPos = c.pos;
        EXPECT_EQ(SetScrollInfo(probe, SB_HORZ, &si, true), c.expectPos);
        SCROLLINFO out;
        out.fMask = SIF_ALL;
        ASSERT_TRUE(GetScrollInfo(probe, SB_HORZ, &out));
        EXPECT_EQ(out.nMin, c.min);
        EXPECT_EQ(out.nMax, c.max);
        EXPECT_EQ(out.nPage, c.expectPage);
        EXPECT_EQ(out.nPos, c.expectPos);
        EXPECT_EQ(GetScrollPos(probe, SB_HORZ), c.expectPos);
        EXPECT_EQ(probe->ScrollBarVisible(SB_HORZ), c.visible);
        QScrollBar* sb = probe->ScrollBarWidget(SB_HORZ);
        if (c.visible) {
            EXPECT_EQ(sb->minimum(), c.min);
            EXPECT_EQ(sb->maximum(), c.max - int(std::max(c.expectPage, 1u)) + 1);
            EXPECT_EQ(sb->value(), c.expectPos);
            EXPECT_EQ(sb->pageStep(), int(std::max(c.expectPage, 1u)));
        }
    }
}

TEST_F(Fixture, ScrollCallsInTheViewsOrder) {
    // The view's sequence: range, page, position, enable, show; later a hide.
    ASSERT_TRUE(SetScrollRange(probe, SB_VERT, 0, 65535, false));
    SCROLLINFO si;
    si.fMask = SIF_PAGE;
    si.nPage = 20000;
    SetScrollInfo(probe, SB_VERT, &si, true);
    EXPECT_EQ(SetScrollPos(probe, SB_VERT, 50000, false), 0);   // previous position
    EXPECT_EQ(GetScrollPos(probe, SB_VERT), 45536);
    EXPECT_TRUE(EnableScrollBar(probe, SB_VERT, ESB_ENABLE_BOTH));
    EXPECT_TRUE(ShowScrollBar(probe, SB_VERT, true));
    EXPECT_TRUE(probe->ScrollBarVisible(SB_VERT));
    EXPECT_TRUE(probe->ScrollBarWidget(SB_VERT)->isVisible());
    EXPECT_TRUE(probe->ScrollBarWidget(SB_VERT)->isEnabled());
    EXPECT_EQ(probe->ClientWidth(), 84);
    EnableScrollBar(probe, SB_VERT, ESB_DISABLE_BOTH);
    EXPECT_FALSE(probe->ScrollBarWidget(SB_VERT)->isEnabled());
    ShowScrollBar(probe, SB_VERT, false);
    EXPECT_FALSE(probe->ScrollBarVisible(SB_VERT));
    EXPECT_EQ(probe->ClientWidth(), 100);
    // A range that needs no bar disables it instead of hiding it with SIF_DISABLENOSCROLL.
    ShowScrollBar(probe, SB_HORZ, true);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL;
    si.nMin = 0;
    si.nMax = 10;
    si.nPage = 50;
    SetScrollInfo(probe, SB_HORZ, &si, true);
    EXPECT_TRUE(probe->ScrollBarVisible(SB_HORZ));
    EXPECT_FALSE(probe->ScrollBarWidget(SB_HORZ)->isEnabled());
    // Bad arguments.
    EXPECT_FALSE(ShowScrollBar(nullptr, SB_VERT, true));
    EXPECT_FALSE(SetScrollRange(probe, SB_CTL, 0, 1, true));
    EXPECT_EQ(GetScrollPos(nullptr, SB_VERT), 0);
    EXPECT_EQ(SetScrollInfo(probe, SB_VERT, nullptr, true), 0);
}

// ---- Scroll codes from the bars ----

struct BarFixture : Fixture {
    QScrollBar* sb = nullptr;
    void SetUp() override {
        Fixture::SetUp();
        SetScrollRange(probe, SB_VERT, 0, 65535, false);
        SCROLLINFO si;
        si.fMask = SIF_PAGE | SIF_POS;
        si.nPage = 10000;
        si.nPos = 20000;
        SetScrollInfo(probe, SB_VERT, &si, true);
        ShowScrollBar(probe, SB_VERT, true);
        sb = probe->ScrollBarWidget(SB_VERT);
    }
};

TEST_F(BarFixture, ActionsBecomeScrollCodesAndLeaveThePositionToTheProgram) {
    const std::pair<QAbstractSlider::SliderAction, int> cases[] = {
        {QAbstractSlider::SliderSingleStepSub, SB_LINEUP},
        {QAbstractSlider::SliderSingleStepAdd, SB_LINEDOWN},
        {QAbstractSlider::SliderPageStepSub, SB_PAGEUP},
        {QAbstractSlider::SliderPageStepAdd, SB_PAGEDOWN},
        {QAbstractSlider::SliderToMinimum, SB_TOP},
        {QAbstractSlider::SliderToMaximum, SB_BOTTOM},
    };
    for (const auto& [action, code] : cases) {
        SCOPED_TRACE(code);
        probe->vscroll.clear();
        sb->triggerAction(action);
        ASSERT_EQ(probe->vscroll.size(), 1u);
        EXPECT_EQ(probe->vscroll[0], std::make_pair(code, 0));
        // Nobody moved the position: the bar stays where the program put it.
        EXPECT_EQ(GetScrollPos(probe, SB_VERT), 20000);
        EXPECT_EQ(sb->value(), 20000);
    }
    EXPECT_TRUE(probe->hscroll.empty());
}

TEST_F(BarFixture, ReleasingTheArrowEndsTheScroll) {
    sb->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    SendMouse(sb, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(2, 2), Qt::NoButton);
    const std::vector<std::pair<int, int>> want = {{SB_LINEDOWN, 0}, {SB_ENDSCROLL, 0}};
    EXPECT_EQ(probe->vscroll, want);
    // A second release without an action sends nothing.
    SendMouse(sb, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(2, 2), Qt::NoButton);
    EXPECT_EQ(probe->vscroll, want);
}

TEST_F(BarFixture, ThumbDragTracksThenPositions) {
    sb->setSliderDown(true);
    sb->setSliderPosition(30000);
    sb->setSliderPosition(40000);
    sb->setSliderDown(false);
    const std::vector<std::pair<int, int>> want = {
        {SB_THUMBTRACK, 30000}, {SB_THUMBTRACK, 40000}, {SB_THUMBPOSITION, 40000}, {SB_ENDSCROLL, 0}};
    EXPECT_EQ(probe->vscroll, want);
    EXPECT_EQ(GetScrollPos(probe, SB_VERT), 40000);
    EXPECT_EQ(sb->value(), 40000);
}

TEST_F(BarFixture, ThumbSnapsBackWhenTheProgramKeepsThePosition) {
    probe->followThumb = false;
    sb->setSliderDown(true);
    sb->setSliderPosition(50000);
    SCROLLINFO si;
    si.fMask = SIF_TRACKPOS;
    GetScrollInfo(probe, SB_VERT, &si);
    EXPECT_EQ(si.nTrackPos, 50000);
    sb->setSliderDown(false);
    EXPECT_EQ(GetScrollPos(probe, SB_VERT), 20000);
    EXPECT_EQ(sb->value(), 20000);
    // Positions past 16 bits arrive cut to 16 bits, as in the message.
    SetScrollRange(probe, SB_VERT, 0, 200000, false);
    probe->vscroll.clear();
    sb->setSliderDown(true);
    sb->setSliderPosition(70000);
    sb->setSliderDown(false);
    ASSERT_FALSE(probe->vscroll.empty());
    EXPECT_EQ(probe->vscroll[0], std::make_pair(SB_THUMBTRACK, 70000 & 0xFFFF));
}

// ---- Wheel ----

TEST_F(Fixture, WheelStepsOf120FromSmallDeltas) {
    struct Case {
        std::vector<int> deltas;
        std::vector<int> steps;
    };
    const Case cases[] = {
        {{120}, {120}},
        {{-120}, {-120}},
        {{40, 40}, {}},
        {{40, 40, 40}, {120}},
        {{360}, {120, 120, 120}},
        {{100, 100, 100}, {120, 120}},
        {{60, -120}, {-120}},        // a turn the other way drops the partial sum
        {{-60, -60, 30, 90}, {-120, 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.deltas.size());
        // A fresh control so no sum is left from the case before.
        auto p = std::make_unique<Probe>(nullptr);
        p->SetParent(form.get());
        p->SetBounds(0, 0, 50, 50);
        for (int d : c.deltas) SendWheel(p->ClientWidget(), d);
        EXPECT_EQ(p->wheel, c.steps);
    }
}

TEST_F(BarFixture, WheelOverABarIsTheControlsWheel) {
    SendWheel(sb, -120);
    EXPECT_EQ(probe->wheel, (std::vector<int>{-120}));
    EXPECT_EQ(sb->value(), 20000);
    EXPECT_TRUE(probe->vscroll.empty());
}

TEST_F(Fixture, WheelReachesOnMouseWheel) {
    struct Sink {
        std::vector<int> deltas;
        void On(TObject*, TShiftState, int d, TPoint, bool& handled) {
            deltas.push_back(d);
            handled = true;
        }
    } sink;
    probe->OnMouseWheel = MakeMethod(&sink, &Sink::On);
    SendWheel(probe->ClientWidget(), -240);
    EXPECT_EQ(sink.deltas, (std::vector<int>{-120, -120}));
}

// ---- Mouse ----

TEST_F(Fixture, LeftButtonCapturesAndReleases) {
    QWidget* c = probe->ClientWidget();
    SendMouse(c, QEvent::MouseButtonPress, Qt::LeftButton, {5, 6}, Qt::LeftButton);
    EXPECT_TRUE(probe->MouseCapture());
    SendMouse(c, QEvent::MouseMove, Qt::NoButton, {-4, 200}, Qt::LeftButton);   // outside, captured
    SendMouse(c, QEvent::MouseButtonRelease, Qt::LeftButton, {7, 8}, Qt::NoButton);
    EXPECT_FALSE(probe->MouseCapture());
    SendMouse(c, QEvent::MouseMove, Qt::NoButton, {-4, 200}, Qt::NoButton);     // outside, dropped
    SendMouse(c, QEvent::MouseButtonPress, Qt::RightButton, {1, 1}, Qt::RightButton);
    EXPECT_FALSE(probe->MouseCapture());                                          // right: only on request
    SendMouse(c, QEvent::MouseMove, Qt::NoButton, {300, 3}, Qt::RightButton);    // outside, not captured
    SendMouse(c, QEvent::MouseButtonRelease, Qt::RightButton, {1, 1}, Qt::NoButton);
    const std::vector<std::string> want = {"down 0 5,6", "move -4,200", "click", "up 0 7,8", "down 1 1,1",
                                           "up 1 1,1"};
    EXPECT_EQ(probe->mouse, want);
}

TEST_F(Fixture, ExplicitCaptureGrabsTheMouse) {
    probe->SetMouseCapture(true);
    EXPECT_TRUE(probe->MouseCapture());
    EXPECT_EQ(QWidget::mouseGrabber(), probe->ClientWidget());
    SendMouse(probe->ClientWidget(), QEvent::MouseMove, Qt::NoButton, {-10, -10}, Qt::RightButton);
    EXPECT_EQ(probe->mouse, (std::vector<std::string>{"move -10,-10"}));
    probe->SetMouseCapture(false);
    EXPECT_FALSE(probe->MouseCapture());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(Fixture, DoubleClickGivesDblClickAndADoubleMouseDown) {
    QWidget* c = probe->ClientWidget();
    SendMouse(c, QEvent::MouseButtonPress, Qt::LeftButton, {3, 3}, Qt::LeftButton);
    SendMouse(c, QEvent::MouseButtonRelease, Qt::LeftButton, {3, 3}, Qt::NoButton);
    SendMouse(c, QEvent::MouseButtonDblClick, Qt::LeftButton, {3, 3}, Qt::LeftButton);
    SendMouse(c, QEvent::MouseButtonRelease, Qt::LeftButton, {3, 3}, Qt::NoButton);
    const std::vector<std::string> want = {"down 0 3,3", "click", "up 0 3,3", "dblclick", "down 0 double 3,3",
                                           "up 0 3,3"};
    EXPECT_EQ(probe->mouse, want);
}

TEST_F(Fixture, EnterLeaveAndFocus) {
    QEvent leave(QEvent::Leave);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(probe->ClientWidget(), &enter);
    QApplication::sendEvent(probe->ClientWidget(), &leave);
    QFocusEvent in(QEvent::FocusIn), out(QEvent::FocusOut);
    QApplication::sendEvent(probe->ClientWidget(), &in);
    QApplication::sendEvent(probe->ClientWidget(), &out);
    const std::vector<std::string> want = {"enter", "leave", "focus in", "focus out"};
    EXPECT_EQ(probe->mouse, want);
}

// ---- Keys ----

TEST(VirtualKeys, FromQtKeys) {
    const struct {
        int key;
        bool keypad;
        uint16_t vk;
    } cases[] = {
        {Qt::Key_Left, false, VK_LEFT},     {Qt::Key_Up, false, VK_UP},       {Qt::Key_Right, false, VK_RIGHT},
        {Qt::Key_Down, false, VK_DOWN},     {Qt::Key_PageUp, false, VK_PRIOR}, {Qt::Key_PageDown, false, VK_NEXT},
        {Qt::Key_Home, false, VK_HOME},     {Qt::Key_End, false, VK_END},     {Qt::Key_Escape, false, VK_ESCAPE},
        {Qt::Key_Space, false, VK_SPACE},   {Qt::Key_Return, false, VK_RETURN}, {Qt::Key_Enter, true, VK_RETURN},
        {Qt::Key_A, false, 'A'},            {Qt::Key_Z, false, 'Z'},          {Qt::Key_5, false, '5'},
        {Qt::Key_5, true, VK_NUMPAD0 + 5},  {Qt::Key_Plus, true, VK_ADD},     {Qt::Key_Minus, true, VK_SUBTRACT},
        {Qt::Key_F1, false, VK_F1},         {Qt::Key_F12, false, VK_F1 + 11}, {Qt::Key_Delete, false, VK_DELETE},
        {Qt::Key_unknown, false, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(VirtualKeyFromQt(c.key, c.keypad), c.vk) << c.key;
}

TEST_F(Fixture, KeysReachTheControlAfterAPreviewingForm) {
    struct Sink {
        std::vector<std::string> log;
        uint16_t swallow = 0;
        void Form(TObject*, uint16_t& k, TShiftState s) {
            log.push_back("form " + std::to_string(k) + (s & ssCtrl ? " ctrl" : ""));
            if (k == swallow) k = 0;
        }
        void Control(TObject*, uint16_t& k, TShiftState) { log.push_back("control " + std::to_string(k)); }
    } sink;
    form->OnKeyDown = MakeMethod(&sink, &Sink::Form);
    probe->OnKeyDown = MakeMethod(&sink, &Sink::Control);
    auto press = [&](int key, Qt::KeyboardModifiers m) {
        QKeyEvent e(QEvent::KeyPress, key, m);
        QApplication::sendEvent(probe->ClientWidget(), &e);
    };
    press(Qt::Key_Left, Qt::NoModifier);
    // X11's auto-repeat release is not a key-up.
    int ups = 0;
    struct Up {
        int* n;
        void On(TObject*, uint16_t&, TShiftState) { ++*n; }
    } up{&ups};
    probe->OnKeyUp = MakeMethod(&up, &Up::On);
    QKeyEvent repeatUp(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(probe->ClientWidget(), &repeatUp);
    EXPECT_EQ(ups, 0);
    QKeyEvent realUp(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(probe->ClientWidget(), &realUp);
    EXPECT_EQ(ups, 1);
    form->KeyPreview = true;
    sink.swallow = VK_ESCAPE;
    press(Qt::Key_Down, Qt::ControlModifier);
    press(Qt::Key_Escape, Qt::NoModifier);
    const std::vector<std::string> want = {"control 37", "form 40 ctrl", "control 40", "form 27"};
    EXPECT_EQ(sink.log, want);
}

TEST_F(Fixture, ModifierKeysReportTheStateAfterThem) {
    struct Sink {
        std::vector<std::string> log;
        void Down(TObject*, uint16_t& k, TShiftState s) { Add("down", k, s); }
        void Up(TObject*, uint16_t& k, TShiftState s) { Add("up", k, s); }
        void Add(const char* what, uint16_t k, TShiftState s) {
            log.push_back(std::string(what) + " " + std::to_string(k) + " " + std::to_string(s));
        }
    } sink;
    probe->OnKeyDown = MakeMethod(&sink, &Sink::Down);
    probe->OnKeyUp = MakeMethod(&sink, &Sink::Up);
    // Window systems differ in whether a modifier's own event includes it; Win32 reports the
    // state after the key, both ways.
    const struct {
        int key;
        bool down;
        Qt::KeyboardModifiers mods;
    } events[] = {
        {Qt::Key_Shift, true, Qt::NoModifier},      {Qt::Key_Shift, true, Qt::ShiftModifier},
        {Qt::Key_Control, true, Qt::ShiftModifier}, {Qt::Key_Control, false, Qt::ShiftModifier | Qt::ControlModifier},
        {Qt::Key_Alt, true, Qt::NoModifier},        {Qt::Key_Shift, false, Qt::ShiftModifier | Qt::AltModifier},
    };
    for (const auto& e : events) {
        QKeyEvent k(e.down ? QEvent::KeyPress : QEvent::KeyRelease, e.key, e.mods);
        QApplication::sendEvent(probe->ClientWidget(), &k);
    }
    const std::vector<std::string> want = {"down 16 1", "down 16 1", "down 17 5", "up 17 1", "down 18 2", "up 16 2"};
    EXPECT_EQ(sink.log, want);
}

TEST_F(Fixture, HidingTheWindowTakesTheCaptureAway) {
    QWidget* c = probe->ClientWidget();
    SendMouse(c, QEvent::MouseButtonPress, Qt::LeftButton, {5, 6}, Qt::LeftButton);
    ASSERT_TRUE(probe->MouseCapture());
    form->Hide();
    EXPECT_FALSE(probe->MouseCapture());
    // The release that follows is no click.
    SendMouse(c, QEvent::MouseButtonRelease, Qt::LeftButton, {5, 6}, Qt::NoButton);
    const std::vector<std::string> want = {"down 0 5,6", "capture lost", "up 0 5,6"};
    EXPECT_EQ(probe->mouse, want);
    // Without a capture nothing is lost.
    form->Show();
    form->Hide();
    EXPECT_EQ(probe->mouse.size(), want.size());
}

// ---- The retained surface ----

TEST_F(Fixture, DrawingOutsidePaintLandsInTheSurfaceAndIsShown) {
    probe->paintColor = clBlue;
    probe->Repaint();   // paints at once
    ASSERT_GE(probe->paints, 1);
    const int paints = probe->paints;
    EXPECT_EQ(PixelOf(probe->Surface(), 50, 40), qRgb(0, 0, 255));

    probe->Canvas()->Brush()->SetColor(clRed);
    probe->Canvas()->FillRect(Rect(10, 10, 20, 20));
    EXPECT_EQ(PixelOf(probe->Surface(), 15, 15), qRgb(255, 0, 0));
    QApplication::processEvents();
    // Shown without running Paint again (which would paint over it).
    EXPECT_EQ(probe->paints, paints);
    QImage shown = probe->ClientWidget()->grab().toImage();
    EXPECT_EQ(shown.pixel(15, 15), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(50, 40), qRgb(0, 0, 255));
    EXPECT_EQ(qAlpha(shown.pixel(15, 15)), 255);
    EXPECT_EQ(probe->paints, paints);
}

TEST_F(Fixture, PaintSeesTheInvalidatedRectAsItsClip) {
    QApplication::processEvents();
    probe->paintClips.clear();
    const int before = probe->paints;
    probe->InvalidateRect(Rect(5, 6, 25, 30));
    EXPECT_EQ(probe->paints, before);   // invalidating only marks
    probe->Update();
    ASSERT_EQ(probe->paints, before + 1);
    EXPECT_EQ(probe->paintClips.back(), Rect(5, 6, 25, 30));
    // Outside Paint the canvas covers the whole client area again.
    EXPECT_EQ(probe->Canvas()->ClipRect(), Rect(0, 0, 100, 80));
    probe->Update();   // nothing left to paint
    EXPECT_EQ(probe->paints, before + 1);
    probe->Invalidate();
    QApplication::processEvents();
    EXPECT_EQ(probe->paints, before + 2);
    EXPECT_EQ(probe->paintClips.back(), Rect(0, 0, 100, 80));
}

TEST_F(Fixture, SurfaceFollowsTheClientSize) {
    probe->paintColor = clLime;
    probe->Repaint();
    probe->SetColor(clYellow);
    probe->SetBounds(10, 10, 130, 90);
    EXPECT_EQ(probe->Surface()->Width(), 130);
    EXPECT_EQ(probe->Surface()->Height(), 90);
    EXPECT_EQ(probe->Surface()->PixelFormat(), pf32bit);
    EXPECT_EQ(PixelOf(probe->Surface(), 10, 10), qRgb(0, 255, 0));   // kept
    EXPECT_EQ(PixelOf(probe->Surface(), 120, 85), qRgb(255, 255, 0));   // new: the control's colour
    // The new area is painted at the next paint.
    const int before = probe->paints;
    QApplication::processEvents();
    EXPECT_GT(probe->paints, before);
    EXPECT_EQ(PixelOf(probe->Surface(), 120, 85), qRgb(0, 255, 0));
    // A surface switched to another format is shown all the same (and switched back).
    probe->Surface()->SetPixelFormat(pf24bit);
    QImage shown = probe->ClientWidget()->grab().toImage();
    EXPECT_EQ(shown.pixel(120, 85), qRgb(0, 255, 0));
    EXPECT_EQ(probe->Surface()->PixelFormat(), pf32bit);
}

TEST(Surface, ControlWithoutWindowStillPaintsItsSurface) {
    Probe p(nullptr);
    p.SetBounds(0, 0, 20, 10);
    p.paintColor = clRed;
    p.Repaint();
    EXPECT_EQ(p.paints, 1);
    EXPECT_EQ(PixelOf(p.Surface(), 19, 9), qRgb(255, 0, 0));
    EXPECT_FALSE(p.HasParentWindow());
}

// ---- Cursors ----

TEST(Cursors, NamedPicturesAndIds) {
    const char* names[] = {"ZOOMMENO", "ZOOMPIU", "CROCE",   "GOMMA",   "MANO",   "PENNA",
                           "CROCE1",   "CROCE3",  "MOVE2",   "MOVEY",   "MOVE1",  "MOVEX",
                           "MOVE",     "CROCE3+", "CROCE3-", "CROCE2",  "CROCE2+", "CROCE2-"};
    std::set<HCURSOR> seen;
    std::set<qint64> pictures;
    for (const char* n : names) {
        HCURSOR h = LoadCursorA(nullptr, n);
        ASSERT_NE(h, nullptr) << n;
        seen.insert(h);
        QCursor c = CursorOfHandle(h);
        EXPECT_EQ(c.shape(), Qt::BitmapCursor) << n;
        QImage img = c.pixmap().toImage();
        EXPECT_EQ(img.size(), QSize(32, 32)) << n;
        pictures.insert(qint64(qHashBits(img.constBits(), size_t(img.sizeInBytes()))));
    }
    EXPECT_EQ(seen.size(), 18u);
    EXPECT_EQ(pictures.size(), 18u);   // every name has its own picture
    EXPECT_EQ(LoadCursorA(nullptr, "NOSUCH"), nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, nullptr), nullptr);

    TForm form(nullptr);
    Probe* p = new Probe(&form);
    p->SetParent(&form);
    Screen->SetCursors(1785, LoadCursorA(nullptr, "MANO"));
    p->SetCursor(1785);
    EXPECT_EQ(p->ClientWidget()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(p->ClientWidget()->cursor().hotSpot(), QPoint(15, 15));
    p->SetCursor(crHourGlass);
    EXPECT_EQ(p->ClientWidget()->cursor().shape(), Qt::WaitCursor);
    p->SetCursor(4242);   // nothing stored: the arrow
    EXPECT_EQ(p->ClientWidget()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(Screen->Cursors(1785), LoadCursorA(nullptr, "MANO"));
    Screen->SetCursors(1785, nullptr);
    EXPECT_EQ(CursorOfId(1785).shape(), Qt::ArrowCursor);

    Screen->SetCursor(crHourGlass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Screen->SetCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ScreenObject, PixelsPerInchFromTheScreen) {
    SetScreenPixelsPerInch(120);
    EXPECT_EQ(Screen->PixelsPerInch(), 120);
    SetScreenPixelsPerInch(0);
    EXPECT_EQ(Screen->PixelsPerInch(), ScreenPixelsPerInch());
    TPoint p{-1, -1};
    EXPECT_TRUE(GetCursorPos(&p));
    EXPECT_FALSE(GetCursorPos(nullptr));
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_EQ(Screen->Width(), GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(GetSystemMetrics(12345), 0);
}

// ---- Forms ----

TEST(Forms, AlignedChildFillsTheClientAreaAndFollowsAHostWidget) {
    QWidget host;
    host.resize(200, 150);
    host.show();
    TForm form(nullptr);
    form.SetBorderStyle(bsNone);
    Probe* p = new Probe(&form);
    p->SetParent(&form);
    p->SetAlign(alClient);
    form.SetAlign(alClient);
    form.SetParentWindow(&host);
    form.Show();
    EXPECT_EQ(form.Widget()->parentWidget(), &host);
    EXPECT_EQ(form.Width(), 200);
    EXPECT_EQ(p->Width(), 200);
    EXPECT_EQ(p->Height(), 150);
    EXPECT_TRUE(p->HasParentWindow());
    host.resize(120, 90);
    EXPECT_EQ(form.Height(), 90);
    EXPECT_EQ(p->Width(), 120);
    EXPECT_EQ(p->Height(), 90);
    form.SetParentWindow(nullptr);
    EXPECT_TRUE(form.Widget()->isWindow());
}

TEST(Forms, HostWidgetFreedFirst) {
    auto host = std::make_unique<QWidget>();
    host->resize(60, 40);
    host->show();
    TForm form(nullptr);
    Probe* p = new Probe(&form);
    p->SetParent(&form);
    p->SetBounds(0, 0, 30, 20);
    ShowScrollBar(p, SB_VERT, true);
    form.SetParentWindow(host.get());
    form.Show();
    host.reset();   // takes the form's window with it
    EXPECT_EQ(form.ParentWindow(), nullptr);
    EXPECT_FALSE(form.HasParentWindow());
    // Both controls still work, with new windows.
    EXPECT_EQ(p->Widget()->parentWidget(), form.ClientWidget());
    EXPECT_EQ(p->ClientWidth(), 14);
    EXPECT_TRUE(p->ScrollBarVisible(SB_VERT));
    p->SetBounds(0, 0, 40, 20);
    EXPECT_EQ(p->ClientWidth(), 24);
    form.Show();
    p->Repaint();
}

TEST(Forms, CloseAsksOnClose) {
    struct Sink {
        TCloseAction action = caHide;
        int calls = 0;
        void On(TObject*, TCloseAction& a) {
            ++calls;
            a = action;
        }
    } sink;
    struct Watched : TForm {
        bool* freed;
        Watched(bool* f) : TForm(nullptr), freed(f) {}
        ~Watched() override { *freed = true; }
    };
    bool freed = false;
    auto* form = new Watched(&freed);
    form->SetCaption("Show");
    EXPECT_EQ(form->Widget()->windowTitle().toStdString(), "Show");
    form->OnClose = MakeMethod(&sink, &Sink::On);
    form->Show();
    EXPECT_TRUE(form->Widget()->isVisible());
    sink.action = caNone;
    form->Close();
    EXPECT_TRUE(form->Visible());
    form->Widget()->close();   // the window system's close goes the same way
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(sink.calls, 2);
    sink.action = caHide;
    form->Close();
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Widget()->isVisible());
    form->Show();
    sink.action = caFree;
    form->Close();
    EXPECT_FALSE(freed);   // not from inside the caller
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    EXPECT_TRUE(freed);
}

TEST(Forms, FullScreenWithoutFrameAndMaximized) {
    TForm form(nullptr);
    form.SetBorderStyle(bsNone);
    form.SetWindowState(wsMaximized);
    form.Show();
    EXPECT_TRUE(form.Widget()->isFullScreen());
    EXPECT_TRUE(form.Widget()->windowFlags() & Qt::FramelessWindowHint);
    form.Hide();
    EXPECT_FALSE(form.Widget()->isVisible());
}

TEST(Controls, FreeingAParentLeavesChildrenUsable) {
    auto parent = std::make_unique<TForm>(nullptr);
    auto child = std::make_unique<Probe>(nullptr);   // not owned by the form
    child->SetParent(parent.get());
    EXPECT_EQ(parent->ControlCount(), 1);
    parent.reset();
    EXPECT_EQ(child->Parent(), nullptr);
    child->SetBounds(0, 0, 10, 10);
    child->Repaint();
    EXPECT_FALSE(child->HasParentWindow());
}

}  // namespace
