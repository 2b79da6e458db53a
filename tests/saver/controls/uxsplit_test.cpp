// The splitter: its direction from the alignments, the drag with clamping, veto, Escape and a
// lost capture, and the sizing of the control on release.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <memory>
#include <string>

#include "AppShell.h"
#include "Forms.h"
#include "UxSplit.h"

namespace {

void Mouse(TWinControl* c, QEvent::Type type, int x, int y) {
    const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(x, y), c->ClientWidget()->mapToGlobal(QPointF(x, y)), b, held, Qt::NoModifier);
    QApplication::sendEvent(c->ClientWidget(), &e);
}

void Drag(TUxSplitter& s, int fromY, int toY, int x = 10) {
    Mouse(&s, QEvent::MouseButtonPress, x, fromY);
    Mouse(&s, QEvent::MouseMove, x, toY);
    Mouse(&s, QEvent::MouseButtonRelease, x, toY);
}

void DragX(TUxSplitter& s, int fromX, int toX) {
    Mouse(&s, QEvent::MouseButtonPress, fromX, 10);
    Mouse(&s, QEvent::MouseMove, toX, 10);
    Mouse(&s, QEvent::MouseButtonRelease, toX, 10);
}

// A form of 400 x 300 with a sized panel on one edge, the splitter beside it and a client panel.
struct Layout {
    TForm form{nullptr};
    TPanel* sized;
    TUxSplitter* splitter;
    TPanel* client;
    int changed = 0;
    void Changed(TObject*) { ++changed; }

    explicit Layout(TAlign edge) {
        form.SetClientSize(400, 300);
        sized = new TPanel(&form);
        sized->SetParent(&form);
        sized->SetBounds(0, 0, 100, 100);
        sized->SetAlign(edge);
        splitter = new TUxSplitter(&form);
        splitter->SetParent(&form);
        splitter->SetAlign(edge);
        client = new TPanel(&form);
        client->SetParent(&form);
        client->SetAlign(alClient);
        splitter->OnPosChanged = MakeMethod(this, &Layout::Changed);
        form.Show();
    }
};

}  // namespace

TEST(UxSplitter, DirectionFromTheAlignments) {
    TForm form(nullptr);
    TPanel a(&form), b(&form);
    TUxSplitter s(&form);
    for (TControl* c : {static_cast<TControl*>(&a), static_cast<TControl*>(&b), static_cast<TControl*>(&s)})
        static_cast<TWinControl*>(c)->SetParent(&form);
    struct Case {
        TAlign first, second, splitter;
        bool hasSecond;
        int dir;
        TCursor cursor;
    };
    const Case cases[] = {
        {alTop, alClient, alTop, true, 1, crVSplit},      {alBottom, alNone, alBottom, false, 1, crVSplit},
        {alClient, alTop, alTop, true, 2, crVSplit},      {alClient, alBottom, alBottom, true, 2, crVSplit},
        {alLeft, alClient, alLeft, true, 3, crHSplit},    {alRight, alNone, alRight, false, 3, crHSplit},
        {alClient, alLeft, alLeft, true, 4, crHSplit},    {alClient, alRight, alRight, true, 4, crHSplit},
        {alTop, alClient, alBottom, true, 0, crDefault},  // the splitter is aligned otherwise
        {alTop, alLeft, alTop, true, 0, crDefault},       {alClient, alNone, alClient, false, 0, crDefault},
        {alClient, alClient, alClient, true, 0, crDefault},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + "/" + std::to_string(c.second) + "/" + std::to_string(c.splitter));
        s.SetControlFirst(nullptr);
        s.SetControlSecond(nullptr);
        a.SetAlign(c.first);
        b.SetAlign(c.second);
        s.SetAlign(c.splitter);
        s.SetControlFirst(&a);
        s.SetControlSecond(c.hasSecond ? &b : nullptr);
        EXPECT_EQ(s.SplitDirection(), c.dir);
        EXPECT_EQ(s.Cursor(), c.cursor);
    }
    s.SetControlFirst(nullptr);
    EXPECT_EQ(s.SplitDirection(), 0);
    // Neither the splitter itself nor a form can be a control of it.
    s.SetControlFirst(&s);
    EXPECT_EQ(s.ControlFirst(), nullptr);
    s.SetControlSecond(&form);
    EXPECT_EQ(s.ControlSecond(), nullptr);
}

TEST(UxSplitter, AlignPicksTheTouchingControlAndTheThickness) {
    for (TAlign edge : {alTop, alBottom, alLeft, alRight}) {
        SCOPED_TRACE(edge);
        Layout l(edge);
        EXPECT_EQ(l.splitter->ControlFirst(), l.sized);
        EXPECT_EQ(l.splitter->SplitDirection(), 1 + 2 * (edge == alLeft || edge == alRight));
        if (edge == alTop || edge == alBottom) {
            EXPECT_EQ(l.splitter->Height(), 3);
            EXPECT_EQ(l.splitter->Width(), 400);
        } else {
            EXPECT_EQ(l.splitter->Width(), 3);
        }
        // Already on an edge: a new alignment is only stored.
        l.splitter->SetControlFirst(nullptr);
        l.splitter->SetAlign(edge == alTop ? alLeft : alTop);
        EXPECT_EQ(l.splitter->ControlFirst(), nullptr);
    }
}

TEST(UxSplitter, ReleaseSizesTheControlWithinTheLimits) {
    struct Case {
        TAlign edge;
        int from, to;      // along the axis, splitter coordinates
        int limit;         // both limits
        int size;          // of the sized control afterwards
    };
    const Case cases[] = {
        {alTop, 1, 51, 20, 150},     {alTop, 1, 500, 20, 277},     // clamped: 300 - 20 - 3
        {alTop, 1, -500, 20, 20},                                   // clamped at the top limit
        {alTop, 1, -500, -1000, 1},                                 // at least 1
        {alTop, 1, 1000, -1000, 294},                               // 300 - 3 - 3
        {alBottom, 1, -49, 20, 150},                                // upwards grows a bottom panel
        {alBottom, 1, 31, 20, 70},
        {alLeft, 1, 41, 20, 140},    {alRight, 1, -59, 20, 160},    {alRight, 1, 1000, -1000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.edge) + " " + std::to_string(c.to) + " " + std::to_string(c.limit));
        Layout l(c.edge);
        l.splitter->SetTopLeftLimit(c.limit);
        l.splitter->SetBottomRightLimit(c.limit);
        const bool stacked = c.edge == alTop || c.edge == alBottom;
        if (stacked) Drag(*l.splitter, c.from, c.to);
        else DragX(*l.splitter, c.from, c.to);
        EXPECT_EQ(stacked ? l.sized->Height() : l.sized->Width(), c.size);
        EXPECT_EQ(l.changed, 1);
        EXPECT_FALSE(l.splitter->Dragging());
        // The layout followed: the splitter sits against the sized control.
        if (c.edge == alTop) {
            EXPECT_EQ(l.splitter->Top(), c.size);
        }
        if (c.edge == alLeft) {
            EXPECT_EQ(l.splitter->Left(), c.size);
        }
    }
}

TEST(UxSplitter, LineFollowsAndEscapeOrACaptureLossCancels) {
    TApplication app;
    TApplication* old = Application;
    Application = &app;
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        Layout l(alTop);
        Mouse(l.splitter, QEvent::MouseButtonPress, 10, 1);
        ASSERT_TRUE(l.splitter->Dragging());
        EXPECT_FALSE(app.ShowHint);
        // The line starts at the splitter's centre: 2 pixels over rows 100 and 101.
        EXPECT_EQ(l.splitter->DragLineRect(), Rect(0, 100, 400, 102));
        Mouse(l.splitter, QEvent::MouseMove, 10, 41);
        EXPECT_EQ(l.splitter->DragLineRect(), Rect(0, 140, 400, 142));
        if (how == 0) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(l.form.ClientWidget(), &esc);
        } else if (how == 1) {
            QEvent lost(QEvent::UngrabMouse);
            QApplication::sendEvent(l.splitter->ClientWidget(), &lost);
        } else {
            QEvent deactivate(QEvent::WindowDeactivate);
            QApplication::sendEvent(l.splitter->ClientWidget(), &deactivate);
        }
        EXPECT_FALSE(l.splitter->Dragging());
        EXPECT_TRUE(app.ShowHint);
        EXPECT_TRUE(l.splitter->DragLineRect().IsEmpty());
        Mouse(l.splitter, QEvent::MouseButtonRelease, 10, 41);
        EXPECT_EQ(l.sized->Height(), 100);
        EXPECT_EQ(l.changed, 0);
        EXPECT_EQ(l.splitter->Cursor(), crVSplit);
    }
    Application = old;
}

TEST(UxSplitter, VetoKeepsTheLineAndSizesToIt) {
    Layout l(alTop);
    struct Veto {
        std::vector<std::string> calls;
        void Changing(TObject*, int, int Y, bool& allow) {
            calls.push_back(std::to_string(Y));
            allow = Y <= 40;
        }
    } veto;
    l.splitter->OnPosChanging = MakeMethod(&veto, &Veto::Changing);
    Mouse(l.splitter, QEvent::MouseButtonPress, 10, 1);
    Mouse(l.splitter, QEvent::MouseMove, 10, 31);
    EXPECT_EQ(l.splitter->Cursor(), crVSplit);
    Mouse(l.splitter, QEvent::MouseMove, 10, 81);
    EXPECT_EQ(l.splitter->Cursor(), crNoDrop);
    EXPECT_EQ(l.splitter->DragLineRect(), Rect(0, 130, 400, 132));   // stays
    Mouse(l.splitter, QEvent::MouseButtonRelease, 10, 91);
    EXPECT_EQ(veto.calls, (std::vector<std::string>{"31", "81", "91"}));
    EXPECT_EQ(l.sized->Height(), 130);
    EXPECT_EQ(l.changed, 1);
    EXPECT_EQ(l.splitter->Cursor(), crVSplit);
}

TEST(UxSplitter, SeparatorWithoutControlsAndFreedControls) {
    // The help dialog's separator line: no controls, the default cursor, a drag does nothing.
    TForm form(nullptr);
    TUxSplitter line(&form);
    line.SetParent(&form);
    line.SetBounds(4, 200, 357, 2);
    line.SetBevelInner(bvLowered);
    line.SetBevelOuter(bvNone);
    EXPECT_EQ(line.Cursor(), crDefault);
    Drag(line, 1, 50);
    EXPECT_FALSE(line.Dragging());
    EXPECT_EQ(line.Top(), 200);
    line.Repaint();   // an etched line: shadow above highlight
    EXPECT_EQ(line.Canvas()->Pixel(10, 0), ColorToRGB(clBtnShadow));
    EXPECT_EQ(line.Canvas()->Pixel(10, 1), ColorToRGB(clBtnHighlight));
    // Freeing ControlFirst clears it, also during a drag.
    Layout l(alTop);
    Mouse(l.splitter, QEvent::MouseButtonPress, 10, 1);
    delete l.sized;
    EXPECT_EQ(l.splitter->ControlFirst(), nullptr);
    EXPECT_FALSE(l.splitter->Dragging());
    EXPECT_EQ(l.splitter->Cursor(), crDefault);
    l.splitter->ReadLimitOffset(7);
    EXPECT_EQ(l.splitter->TopLeftLimit(), 7);
    EXPECT_EQ(l.splitter->BottomRightLimit(), 7);
}
