// The splitter. The drag line is an overlay widget over the form (a window cannot be drawn
// on with XOR here); Escape, and a capture lost to another window, end the drag unapplied.
#include "UxSplit.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QWidget>

#include <algorithm>

#include "AppShell.h"
#include "Forms.h"

namespace {

int Half(int v) { return v / 2; }

}  // namespace

// The state of one drag: the direction, the grab point, the limits and the line.
class TUxSplitterDrag : public QObject {
public:
    TUxSplitterDrag(TUxSplitter* s, int dir, TPoint grab) : splitter(s), direction(dir), grab(grab) {}
    ~TUxSplitterDrag() override { delete line; }

    // Escape goes to the splitter while it drags, whatever has the focus.
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
            splitter->CancelDrag();
            return true;
        }
        return false;
    }

    TUxSplitter* splitter;
    int direction;
    TPoint grab;
    TRect limits;         // splitter coordinates
    int linePos = 0;      // along the split axis, splitter coordinates
    TRect lineRect;       // parent client coordinates
    QWidget* line = nullptr;
    bool savedHint = true;
    bool noDrop = false;
};

TUxSplitter::TUxSplitter(TComponent* AOwner) : TCustomPanel(AOwner) {
    SetCtl3D(false);
    SetBounds(0, 0, 185, 3);
}

TUxSplitter::~TUxSplitter() {
    if (drag_) CancelDrag();
    SetControlFirst(nullptr);
    SetControlSecond(nullptr);
}

void TUxSplitter::SetControlFirst(TControl* C) {
    if (C == this || dynamic_cast<TForm*>(C)) C = nullptr;
    if (first_ && first_ != second_) first_->RemoveFreeNotification(this);
    first_ = C;
    if (C) C->FreeNotification(this);
    UpdateCursor();
}

void TUxSplitter::SetControlSecond(TControl* C) {
    if (C == this || dynamic_cast<TForm*>(C)) C = nullptr;
    if (second_ && second_ != first_) second_->RemoveFreeNotification(this);
    second_ = C;
    if (C) C->FreeNotification(this);
    UpdateCursor();
}

void TUxSplitter::Notification(TComponent* AComponent, TOperation Operation) {
    TCustomPanel::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    // The control is half destroyed already: forget it before anything asks it its alignment.
    bool gone = false;
    if (AComponent == first_) {
        first_ = nullptr;
        gone = true;
    }
    if (AComponent == second_) {
        second_ = nullptr;
        gone = true;
    }
    if (gone && drag_) CancelDrag();
    UpdateCursor();
}

void TUxSplitter::SetAlign(TAlign a) {
    const TAlign old = Align();
    const bool edge = old == alTop || old == alBottom || old == alLeft || old == alRight;
    if (!edge) {
        if (a == alTop || a == alBottom) SetHeight(3);
        else if (a == alLeft || a == alRight) SetWidth(3);
    }
    TCustomPanel::SetAlign(a);
    if (!edge && !first_ && !second_ && Parent()) {
        TPoint p{-1, -1};
        switch (a) {
        case alTop: p = {Left(), Top() - 1}; break;
        case alBottom: p = {Left(), Top() + Height()}; break;
        case alLeft: p = {Left() - 1, Top()}; break;
        case alRight: p = {Left() + Width(), Top()}; break;
        default: break;
        }
        if (a != alNone && a != alClient) {
            TControl* c = Parent()->ControlAtPos(p);
            SetControlFirst(c == this ? nullptr : c);
        }
    }
    UpdateCursor();
}

int TUxSplitter::SplitDirection() const {
    if (!first_) return 0;
    const TAlign f = first_->Align();
    const TAlign s = second_ ? second_->Align() : alClient;
    auto stacked = [](TAlign a) { return a == alTop || a == alBottom; };
    auto beside = [](TAlign a) { return a == alLeft || a == alRight; };
    int dir = 0;
    if (stacked(f) && s == alClient) dir = 1;
    else if (f == alClient && second_ && stacked(s)) dir = 2;
    else if (beside(f) && s == alClient) dir = 3;
    else if (f == alClient && second_ && beside(s)) dir = 4;
    if (dir == 0) return 0;
    return SizedControl(dir)->Align() == Align() ? dir : 0;
}

TControl* TUxSplitter::SizedControl(int Direction) const { return Direction == 2 || Direction == 4 ? second_ : first_; }

void TUxSplitter::UpdateCursor() {
    const int d = SplitDirection();
    SetCursor(d == 1 || d == 2 ? crVSplit : d == 3 || d == 4 ? crHSplit : crDefault);
}

bool TUxSplitter::Dragging() const { return drag_ != nullptr; }

TRect TUxSplitter::DragLineRect() const { return drag_ ? drag_->lineRect : TRect{}; }

int TUxSplitter::Thickness(int Direction) const { return Direction <= 2 ? Height() : Width(); }

TPoint TUxSplitter::Clamp(const TUxSplitterDrag& D, TPoint P) const {
    const TRect& l = D.limits;
    const TPoint g = D.grab;
    if (P.X - g.X < l.Left) P.X = g.X + l.Left;
    if (P.X - g.X + Width() > l.Right) P.X = l.Right - Width() + g.X;
    if (P.Y - g.Y < l.Top) P.Y = g.Y + l.Top;
    if (P.Y - g.Y + Height() > l.Bottom) P.Y = l.Bottom - Height() + g.Y;
    return P;
}

void TUxSplitter::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomPanel::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || drag_ || !Parent()) return;
    const int dir = SplitDirection();
    if (dir == 0) return;
    drag_ = std::make_unique<TUxSplitterDrag>(this, dir, TPoint{X, Y});
    if (Application) {
        drag_->savedHint = Application->ShowHint;
        Application->ShowHint = false;
    }
    SetMouseCapture(true);
    QCoreApplication::instance()->installEventFilter(drag_.get());
    // The limits: the parent's client area less the two limits, in our coordinates.
    TRect pl{topLeftLimit_, topLeftLimit_, Parent()->ClientWidth() - bottomRightLimit_,
             Parent()->ClientHeight() - bottomRightLimit_};
    drag_->limits = {pl.Left - Left(), pl.Top - Top(), pl.Right - Left(), pl.Bottom - Top()};
    // The line over the parent's client area, on top of everything there.
    auto* line = new QWidget(Parent()->ClientWidget());
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, QColor(96, 96, 96));
    line->setPalette(pal);
    drag_->line = line;
    drag_->linePos = INT32_MIN;
    MoveLine(drag_->grab);   // at the splitter's centre
}

void TUxSplitter::MoveLine(TPoint P) {
    TUxSplitterDrag* d = drag_.get();
    const bool stacked = d->direction <= 2;
    const int thick = Thickness(d->direction);
    const int pen = thick < 4 ? 2 : thick - 2;
    int pos = (stacked ? P.Y - d->grab.Y : P.X - d->grab.X) + Half(thick);
    if (pos == d->linePos) return;   // nothing moved along the axis
    d->linePos = pos;
    TRect r = stacked ? TRect{0, pos - pen / 2, Width(), pos - pen / 2 + pen}
                      : TRect{pos - pen / 2, 0, pos - pen / 2 + pen, Height()};
    r = {r.Left + Left(), r.Top + Top(), r.Right + Left(), r.Bottom + Top()};
    TRect clipped;
    IntersectRect(clipped, r, Parent()->ClientRect());
    d->lineRect = clipped;
    d->line->setGeometry(clipped.Left, clipped.Top, clipped.Width(), clipped.Height());
    d->line->raise();
    d->line->setVisible(!clipped.IsEmpty());
}

void TUxSplitter::MouseMove(TShiftState Shift, int X, int Y) {
    TCustomPanel::MouseMove(Shift, X, Y);
    if (!drag_ || !MouseCapture()) return;
    bool allow = true;
    if (OnPosChanging) OnPosChanging(this, X, Y, allow);
    if (!drag_) return;
    const TPoint c = Clamp(*drag_, {X, Y});
    const bool clamped = drag_->direction <= 2 ? c.Y != Y : c.X != X;
    const bool noDrop = !allow || clamped;
    if (noDrop != drag_->noDrop) {
        drag_->noDrop = noDrop;
        SetCursor(noDrop ? crNoDrop : (drag_->direction <= 2 ? crVSplit : crHSplit));
    }
    if (allow) MoveLine(c);
}

void TUxSplitter::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (drag_ && Button == mbLeft) EndDrag(true, {X, Y});
    TCustomPanel::MouseUp(Button, Shift, X, Y);
}

void TUxSplitter::CaptureLost() {
    // Another window took the mouse: the drag ends as Escape ends it.
    if (drag_) CancelDrag();
}

void TUxSplitter::CancelDrag() { EndDrag(false, {}); }

void TUxSplitter::EndDrag(bool Apply, TPoint P) {
    std::unique_ptr<TUxSplitterDrag> d = std::move(drag_);
    QCoreApplication::instance()->removeEventFilter(d.get());
    if (MouseCapture()) SetMouseCapture(false);
    bool allow = true;
    if (Apply && OnPosChanging) OnPosChanging(this, P.X, P.Y, allow);
    delete d->line;
    d->line = nullptr;
    auto restore = [&] {
        if (Application) Application->ShowHint = d->savedHint;
        UpdateCursor();
    };
    TControl* sized = SizedControl(d->direction);
    if (!Apply || !sized || !Parent()) {
        restore();
        return;
    }
    const int dir = d->direction;
    const bool stacked = dir <= 2;
    const int thick = Thickness(dir);
    TPoint target = P;
    if (!allow) {
        // Where the line was last drawn.
        if (stacked) target.Y = d->grab.Y + d->linePos - Half(thick);
        else target.X = d->grab.X + d->linePos - Half(thick);
    }
    target = Clamp(*d, target);
    TPoint grab = d->grab;
    const bool right = (first_ && first_->Align() == alRight) || (second_ && second_->Align() == alRight);
    const bool bottom = (first_ && first_->Align() == alBottom) || (second_ && second_->Align() == alBottom);
    if (right) target.X = -target.X, grab.X = -grab.X;
    if (bottom) target.Y = -target.Y, grab.Y = -grab.Y;
    TWinControl* parent = Parent();
    parent->DisableAlign();
    try {
        const int extent = stacked ? parent->ClientHeight() : parent->ClientWidth();
        int size = stacked ? sized->Height() + (target.Y - grab.Y) : sized->Width() + (target.X - grab.X);
        size = std::max(size, 1);
        if (size >= extent - thick) size = extent - thick - 3;
        if (stacked) sized->SetHeight(size);
        else sized->SetWidth(size);
    } catch (...) {
        parent->EnableAlign();
        restore();
        throw;
    }
    parent->EnableAlign();
    restore();
    if (OnPosChanged) OnPosChanged(this);
}
