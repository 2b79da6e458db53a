// TUxSplitter: a thin panel between two aligned controls that the user drags to resize one
// of them. While dragging, a line over the form shows where the edge will go.
#pragma once

#include <memory>

#include "ExtCtrls.h"

class TUxSplitterDrag;

// OnPosChanging: asked on every move and on release; clearing AllowChange keeps the line
// where it was and shows the no-drop cursor.
using TUxSplitPosChangingEvent = TMethod<void(TObject* Sender, int X, int Y, bool& AllowChange)>;

class TUxSplitter : public TCustomPanel {
public:
    explicit TUxSplitter(TComponent* AOwner);
    ~TUxSplitter() override;

    TControl* ControlFirst() const { return first_; }
    TControl* ControlSecond() const { return second_; }
    // The splitter itself or a form gives null. The control's removal clears the property.
    void SetControlFirst(TControl* C);
    void SetControlSecond(TControl* C);

    int TopLeftLimit() const { return topLeftLimit_; }
    void SetTopLeftLimit(int v) { topLeftLimit_ = v; }
    int BottomRightLimit() const { return bottomRightLimit_; }
    void SetBottomRightLimit(int v) { bottomRightLimit_ = v; }
    // The property "LimitOffset" of older stored forms: sets both limits (never written).
    void ReadLimitOffset(int v) { topLeftLimit_ = bottomRightLimit_ = v; }

    // Already aligned to an edge, only the value changes; otherwise the thickness becomes 3
    // across the edge and, without controls, ControlFirst becomes the child that touches the
    // aligned side.
    void SetAlign(TAlign a) override;

    // 1: first control stacked (alTop/alBottom), second alClient or none; 2: first alClient,
    // second stacked; 3 and 4 the same side by side (alLeft/alRight). 0 when the sized
    // control's alignment differs from the splitter's or there is no first control.
    int SplitDirection() const;
    // crVSplit, crHSplit or crDefault after the direction; set after every change.
    void UpdateCursor();

    bool Dragging() const;
    // The drag line in the parent's client coordinates (empty when not dragging).
    TRect DragLineRect() const;

    TUxSplitPosChangingEvent OnPosChanging;
    TNotifyEvent OnPosChanged;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void CaptureLost() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TUxSplitterDrag;
    TControl* SizedControl(int Direction) const;
    TPoint Clamp(const TUxSplitterDrag& D, TPoint P) const;
    void MoveLine(TPoint P);
    void EndDrag(bool Apply, TPoint P);
    void CancelDrag();
    int Thickness(int Direction) const;

    TControl* first_ = nullptr;
    TControl* second_ = nullptr;
    int topLeftLimit_ = 20, bottomRightLimit_ = 20;
    std::unique_ptr<TUxSplitterDrag> drag_;
};
