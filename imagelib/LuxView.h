// The zoomable, scrollable single-image view: geometry, zoom around the centre, scroll
// offsets and bars, fitting, the paint lock, painting over the background styles through a
// back buffer, the entry points of the transition engine, and the mouse tools: click zoom,
// drag scrolling and the selections (rectangle, ellipse, polygon, lasso, magic wand, zoom
// area) kept as polygons and rasterised into the 1-bit selection mask.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ExtCtrls.h"
#include "Graphics.h"
#include "Win32.h"
#include "lxdefs.h"
#include "lxview.h"

class TLXTransitionEffects;
class TLuxIO;
class TLuxProc;

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

enum TLXBackgroundStyle {
    lxbsSolid, lxbsHorizontal, lxbsVertical, lxbsFDiagonal, lxbsBDiagonal, lxbsCross,
    lxbsDiagCross, lxbsChessboard, lxbsDiagonals, lxbsCropped, lxbsCropShadow
};

enum TLXMouseInteractItems {
    miZoom, miScroll, miSelect, miSelectPolygon, miSelectCircle, miSelectZoom, miSelectMagicWand,
    miSelectLasso, miScrollRight
};
using TLXMouseInteract = uint16_t;   // set of 1 << TLXMouseInteractItems
constexpr TLXMouseInteract MI(TLXMouseInteractItems i) { return TLXMouseInteract(1u << i); }

enum TLXSelectionOption { lxsoAnimated, lxsoSizeable, lxsoMoveable, lxsoFilled, lxsoCutBorders };
using TLXSelectionOptions = uint8_t;   // set of 1 << TLXSelectionOption
constexpr TLXSelectionOptions SO(TLXSelectionOption o) { return TLXSelectionOptions(1u << o); }

enum TLXSelectionBase { lxsbClientArea, lxsbBitmap };

using TViewChangeEvent = TMethod<void(TObject* Sender, int Change)>;
using TLXMouseInResizingGripEvent = TMethod<void(TObject* Sender, int Grip)>;
using TLXZoomEvent = TMethod<void(TObject* Sender, double& NewZoom)>;

// Screen cursor ids of the view's 18 cursors, in the order of their resource names.
constexpr int crLXFirstViewCursor = 1778;
constexpr int crLXViewDefault = 1785;      // CROCE3
constexpr int crLXMoveDiagonal2 = 1786;    // MOVE2: grips 0 and 2
constexpr int crLXMoveVertical = 1787;     // MOVEY: grips 6 and 7
constexpr int crLXMoveDiagonal1 = 1788;    // MOVE1: grips 1 and 3
constexpr int crLXMoveHorizontal = 1789;   // MOVEX: grips 4 and 5
constexpr int crLXMoveSelection = 1790;    // MOVE: over the selection
constexpr int crLXViewDefaultAdd = 1791;   // CROCE3+: Shift variant of 1785
constexpr int crLXCross2 = 1793;           // CROCE2
constexpr int crLXCross2Add = 1794;        // CROCE2+: Shift variant of 1793

// What the mouse is doing in the view. A press chooses the interaction from the tools in
// MouseInteract; moves and the release continue it. Only DrawingPolygon outlives the press:
// its points come one click at a time until a double click or a change of MouseInteract.
enum class TLXInteraction {
    Idle,               // no button held, nothing being drawn
    Clicking,           // a press that acts on release only (click zoom, magic wand)
    Scrolling,          // the picture follows the mouse
    DrawingPolygon,     // polygon tool: a point per click
    DrawingLasso,       // lasso: a point per move while the button is held
    DrawingRectangle,   // new rectangle (also the zoom-area tool)
    DrawingEllipse,
    ResizingGrip,       // a grip of a rectangle selection dragged
    MovingSelection,    // the selection dragged by its inside
};

// The selection as polygons in bitmap coordinates. A break marker (both coordinates
// 1048575) ends one polygon and starts the next, so one record holds several.
struct TLXSelectionPolygon {
    static constexpr int32_t Break = TLXMask::PolygonSeparator;
    static bool IsBreak(const TPoint& P) { return P.X == Break && P.Y == Break; }

    std::vector<TPoint> Points;
    TColor Color1 = clBlack, Color2 = clWhite;
    bool Visible = false;
    int Phase = 0;   // dash phase of the outline, 0..5
    // Bounding box of the points other than break markers (valid with at least one point).
    int Left = 0, Top = 0, Right = 0, Bottom = 0;

    void Clear() { Points.clear(); }
    void AddPoint(int X, int Y);
    // Appends a break marker unless the last point already is one.
    void AddBreak();
    // Drops points from the end down to Count and recomputes the box.
    void CutBack(size_t Count);
    // True when the points are one axis-aligned rectangle: four corners whose edges are
    // alternately horizontal and vertical, the closing edge included.
    bool IsRectangle() const;
    void RecomputeBox();
};

// Registers the view cursors under ids 1778..1795 once.
void LXLoadViewCursors();

// Paints the area (0, 0, AreaWidth, AreaHeight) around the image rectangle in Style.
void LXDrawBackground(unsigned ComponentState, TCanvas* Canvas, TLXBackgroundStyle Style,
                      TBrushStyle BrushStyle, int SquareSize, int ImageLeft, int ImageTop,
                      int ImageRight, int ImageBottom, int AreaWidth, int AreaHeight, TColor Color);

class TLuxView : public TLXView {
public:
    explicit TLuxView(TComponent* AOwner);
    ~TLuxView() override;

    // ---- Operations of every view ----
    void SetBackground(TColor Color) override;
    TBitmap* GetBitmap() override { return bitmap_.get(); }
    TLXMask* GetAlphaMask() override { return alphaMask_.get(); }
    void LockPaint() override;
    void UnlockPaint() override;
    void UnlockPaintNoUpdate() override;
    void ImageChange() override;
    // Recomputes the geometry from the bitmap, the zoom and the drawing area; invalidates.
    void Update() override;
    int PaintLockCount() const { return lockCount_; }

    // ---- Own virtual operations ----
    virtual void SetScrollBars(TScrollStyle Value);
    virtual void SetMouseInteract(TLXMouseInteract Value);
    virtual void DoViewChange(int Change);   // 0 the offset moved, 1 the zoom changed
    virtual void ShiftDragPoints(int DX, int DY);
    virtual void SelectionToMask();
    virtual int DrawAreaWidth();
    virtual int DrawAreaHeight();
    virtual bool HasParentWindow() const;
    // Renders the view into the pf24bit Target (its own size). RowTable may be null; ClipRect
    // (inclusive bounds) may be null for no clipping.
    virtual void PaintToBitmap(TBitmap* Target, uint8_t* const* RowTable, const TRect* ClipRect);
    // A free rectangle selection between the corners (client or bitmap pixels by
    // SelectionBase); Add keeps the polygons there are.
    virtual void SelectArea(int X1, int Y1, int X2, int Y2, bool Add = false);
    // One more polygon point (client or bitmap pixels by SelectionBase); from 3 points on the
    // mask follows.
    virtual void AddSelectionPoint(int X, int Y);
    // Full render onto any canvas of the drawing area's size, through DrawDib.
    virtual void PaintToCanvas(TCanvas* Canvas);

    // ---- Geometry ----
    double Zoom() const { return zoom_; }
    void SetZoom(double Value);
    int ViewX() const { return viewX_; }
    int ViewY() const { return viewY_; }
    void SetViewX(int Value);
    void SetViewY(int Value);
    void SetViewXY(int X, int Y);
    void GetMaxViewXY(int& MaxX, int& MaxY);
    int OffsetX() const { return offsetX_; }
    int OffsetY() const { return offsetY_; }
    int ExtentX() const { return extentX_; }
    int ExtentY() const { return extentY_; }
    int VisibleWidth() const { return visibleWidth_; }
    int VisibleHeight() const { return visibleHeight_; }
    int BitmapToClientX(int X);
    int BitmapToClientY(int Y);
    int ClientToBitmapX(int X);
    int ClientToBitmapY(int Y);
    void ZoomAt(int X, int Y, double NewZoom);
    void ZoomSelection();
    void FillWithBackground();
    void Assign(TPersistent* Source) override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

    // Source rectangle and destination size of the visible part (bitmap pixels / client).
    void UpdateSourceRect();
    int SrcX() const { return srcX_; }
    int SrcY() const { return srcY_; }
    int SrcWidth() const { return srcWidth_; }
    int SrcHeight() const { return srcHeight_; }
    int DestWidth() const { return destWidth_; }
    int DestHeight() const { return destHeight_; }

    // ---- Painting ----
    void PaintBackBuffer(const TRect& ClipRect);
    TBitmap* BackBuffer() const { return backBuffer_.get(); }
    bool BackBufferDirty() const { return dirty_; }
    TTimer* ViewTimer() const { return viewTimer_.get(); }
    int FilterDelayCountdown() const { return filterDelay_; }
    int ChangeCountdown() const { return changeCountdown_; }

    // ---- The view's own input/output and processing components ----
    // Created on first use, attached to the view, and freed with it after they let go.
    TLuxIO* GetIO();
    TLuxProc* GetProc();

    // ---- Transitions ----
    void PrepareTransition();
    void RunTransition(TLXTransitionType Effect, int Duration);
    bool TransitionRunning() const;
    void AbortTransition();
    TLXTransitionEffects* TransitionEffects() const { return engine_.get(); }
    int TransitionDuration() const { return transitionDuration_; }

    // ---- Selection ----
    bool SelectionExists() const { return selectionExists_; }
    const TLXSelectionPolygon& SelectionPolygon() const { return sel_; }
    // Hides the outline, empties the polygons and the mask, ends any drawing.
    void ClearSelection();
    // Moves mask and polygons by (DX, DY) bitmap pixels; the mask may shorten the move.
    void MoveSelection(int DX, int DY);
    // Appends a break marker: the next point starts a new polygon of the same selection.
    void AddPolygonBreak() { sel_.AddBreak(); }
    // Selects the region of similar colour around (X, Y) (client or bitmap pixels by
    // SelectionBase); Add keeps the polygons there are.
    void MagicWand(int X, int Y, bool Add);
    void ShowSelection(bool Redraw);
    void HideSelection(bool Repaint);
    int SelectionLeft() const { return sel_.Left; }
    int SelectionTop() const { return sel_.Top; }
    int SelectionRight() const { return sel_.Right; }
    int SelectionBottom() const { return sel_.Bottom; }
    void SetSelectionColor1(TColor Value);
    void SetSelectionColor2(TColor Value);
    TLXSelectionOptions SelectionOptions() const { return selOptions_; }
    void SetSelectionOptions(TLXSelectionOptions Value);
    // Half the side of a grip square, client pixels.
    int GripHalfSize = 5;
    // Largest difference of any one channel from the clicked pixel that the wand takes in.
    int MagicWandTolerance = 15;

    // ---- Mouse interaction ----
    TLXInteraction Interaction() const { return state_; }
    // Paces the scrolling while a drag holds the mouse outside the picture.
    TTimer* AutoScrollTimer() const { return autoScrollTimer_.get(); }
    static constexpr unsigned AutoScrollInterval = 50;
    // The cursor the view shows where no tool asks for another (default 1785). The cursor on
    // screen at a moment is ShownCursor().
    TCursor Cursor() const { return viewCursor_; }
    void SetCursor(TCursor Value) override;
    TCursor ShownCursor() const { return TControl::Cursor(); }

    // ---- Properties ----
    bool DoubleBuffer = true;
    TResampleFilter ZoomFilter() const { return zoomFilter_; }
    void SetZoomFilter(TResampleFilter Value);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    bool Center() const { return center_; }
    void SetCenter(bool Value);
    TLXMouseInteract MouseInteract() const { return mouseInteract_; }
    bool AutoFit = false;
    TLXSelectionBase SelectionBase = lxsbClientArea;
    TLXBackgroundStyle BackgroundStyle() const { return backgroundStyle_; }
    void SetBackgroundStyle(TLXBackgroundStyle Value);
    bool DelayZoomFilter = true;
    bool EnableAlphaChannel() const { return enableAlpha_; }
    void SetEnableAlphaChannel(bool Value);
    TLXScrollBarParams* HorzScrollBarParams() const { return hParams_.get(); }
    TLXScrollBarParams* VertScrollBarParams() const { return vParams_.get(); }
    TLXMouseWheelParams* MouseWheelParams() const { return wheelParams_.get(); }
    TLXMask* SelectionMask() const { return selMask_.get(); }
    double HorzScrollScale() const { return hScale_; }
    double VertScrollScale() const { return vScale_; }
    bool HorzBarShown() const { return hBarShown_; }
    bool VertBarShown() const { return vBarShown_; }

    TViewChangeEvent OnViewChange;
    TNotifyEvent OnImageChange;
    TNotifyEvent OnPaint;
    TNotifyEvent OnSelectionChange, OnSelectionChanging, OnMouseInSel;
    TLXMouseInResizingGripEvent OnMouseInResizingGrip;
    TLXZoomEvent OnZoomIn, OnZoomOut;

    // Scroll-bar requests (SB_* codes with the 16-bit thumb position) and wheel turns, as
    // the control delivers them; public so that tests and owners can drive them.
    void WMHScroll(int Code, int Pos) override;
    void WMVScroll(int Code, int Pos) override;
    void WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
    void Paint() override;

protected:
    void WMSize() override;
    void DoEnter() override;
    void DoExit() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void DblClick() override;
    void CaptureLost() override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void KeyUp(uint16_t& Key, TShiftState Shift) override;

private:
    void ViewTimerTick(TObject* Sender);
    void SetZoomFactors(double Value);
    void NoteChange();
    void UpdateOnce();
    void SetBarPosition(bool Horizontal);
    void PresentFrame(TBitmap* Frame, int W, int H);

    // Selection helpers (LuxViewSelect.cpp).
    void ClampToImageArea(int& X, int& Y) const;
    bool InsideSelection(int X, int Y);                 // client point on a set mask pixel
    int GripAt(int X, int Y);                           // grip index under a client point, or -1
    void AddToolPoint(int X, int Y);                    // client point into the polygon
    // False when the corners share a row or column (nothing is built).
    bool BuildRectangle(int X1, int Y1, int X2, int Y2, bool Add, int Mode, bool Convert);
    void SetRectangle(int X1, int Y1, int X2, int Y2);  // inclusive bitmap corners
    int ResizeRectangle(int X, int Y, TShiftState Shift);
    void BuildEllipse(int X, int Y, TShiftState Shift);
    void ClosePolygon(bool DropLastPoint);
    void EndDrawing();
    bool AutoScrollStep(int X, int Y);
    void AutoScrollTick(TObject* Sender);
    void DragTo(int RawX, int RawY, TShiftState Shift);
    void FollowPointer(int RawX, int RawY);
    void FinishInteraction();
    void ClickZoom(TMouseButton Button, int X, int Y);
    void ShowCursorId(TCursor Id);
    // Outline, grips and rubber line: drawn into the surface over the back buffer.
    void DrawSelectionOutline(bool FromTimer);
    void RedrawSelectionOutline();
    void ComposeRegion(const TRect& R);
    TRect SelectionOverlayBounds();
    void PaintSelectionOverlay(const TRect& Clip);
    void DrawPolygonOutline(const TRect& Clip);
    void DrawGrips();
    void DrawRubberLine();
    bool FilledSelectionShown() const { return (selOptions_ & SO(lxsoFilled)) && sel_.Visible; }
    void DrawFilledSelection(TCanvas* Canvas);
    void RunMagicWand(int BX, int BY, bool Add);

    std::unique_ptr<TLXTransitionEffects> engine_;
    TLuxIO* io_ = nullptr;       // owned (component owner: the view)
    TLuxProc* proc_ = nullptr;   // owned
    std::unique_ptr<TBitmap> bitmap_;
    std::unique_ptr<TBitmap> backBuffer_;
    std::unique_ptr<TTimer> viewTimer_;
    std::unique_ptr<TLXScrollBarParams> hParams_, vParams_;
    std::unique_ptr<TLXMouseWheelParams> wheelParams_;
    std::unique_ptr<TLXMask> selMask_;
    std::unique_ptr<TLXMask> alphaMask_;
    std::vector<uint8_t*> backRows_;

    double zoom_ = 100.0, zoomFactor_ = 1.0, invZoomFactor_ = 1.0;
    int viewX_ = 0, viewY_ = 0, offsetX_ = 0, offsetY_ = 0;
    int extentX_ = 0, extentY_ = 0, visibleWidth_ = 0, visibleHeight_ = 0;
    int lastWidth_ = 0, lastHeight_ = 0;
    double hScale_ = 1.0, vScale_ = 1.0;
    bool hBarShown_ = false, vBarShown_ = false;
    int lockCount_ = 0;
    int filterDelay_ = 0, changeCountdown_ = 0;
    bool dirty_ = true;
    int srcX_ = 0, srcY_ = 0, srcWidth_ = 0, srcHeight_ = 0, destWidth_ = 0, destHeight_ = 0;
    int transitionDuration_ = 1000;

    TResampleFilter zoomFilter_ = rfNone;
    TScrollStyle scrollBars_ = ssNone;
    bool center_ = false;
    TLXMouseInteract mouseInteract_ = 0;
    TLXBackgroundStyle backgroundStyle_ = lxbsSolid;
    bool enableAlpha_ = false;

    bool updating_ = false;

    // Selection.
    TLXSelectionPolygon sel_;
    TLXSelectionOptions selOptions_ = SO(lxsoAnimated) | SO(lxsoSizeable) | SO(lxsoMoveable);
    bool selectionExists_ = false;
    unsigned outlineFrame_ = 0;        // phase of the mask outline's stripes
    TRect overlayBounds_{};            // client area the drawn overlay may cover
    bool rubber_ = false;              // rubber line of the polygon tool shown
    TPoint rubberTo_{};

    // Mouse interaction: the state, what the press found, and the points of the drag.
    TLXInteraction state_ = TLXInteraction::Idle;
    TLXInteraction resume_ = TLXInteraction::Idle;   // state once the held button comes up
    bool held_ = false;                // the button that started the interaction is down
    TMouseButton heldButton_ = mbLeft;
    TLXMouseInteract pressTools_ = 0;  // MouseInteract at the press
    bool captured_ = false;            // the view captured the right button itself
    TPoint down_{}, downRaw_{}, prev_{}, lastRaw_{};
    TShiftState lastShift_ = 0;
    int downViewX_ = 0, downViewY_ = 0;
    size_t downCount_ = 0;             // polygon points at the press
    TRect downBox_{};                  // selection box at the press (grip drags)
    int grip_ = -1;                    // grip being dragged
    bool drawn_ = false, moved_ = false;
    bool filterSaved_ = false;
    TResampleFilter savedFilter_ = rfNone;
    std::unique_ptr<TTimer> autoScrollTimer_;
    TCursor viewCursor_ = crLXViewDefault;
};
