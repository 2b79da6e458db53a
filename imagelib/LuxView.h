// The zoomable, scrollable single-image view: geometry, zoom around the centre, scroll
// offsets and bars, fitting, the paint lock, painting over the background styles through a
// back buffer, and the entry points of the transition engine.
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
constexpr int crLXViewDefault = 1785;
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
    virtual void SelectArea(int X1, int Y1, int X2, int Y2);
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

    // ---- Properties ----
    bool DoubleBuffer = true;
    TResampleFilter ZoomFilter() const { return zoomFilter_; }
    void SetZoomFilter(TResampleFilter Value);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    bool Center() const { return center_; }
    void SetCenter(bool Value);
    TLXMouseInteract MouseInteract() const { return mouseInteract_; }
    bool AutoFit = false;
    TLXSelectionOptions SelectionOptions = SO(lxsoAnimated) | SO(lxsoSizeable) | SO(lxsoMoveable);
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

private:
    void ViewTimerTick(TObject* Sender);
    void SetZoomFactors(double Value);
    void NoteChange();
    void UpdateOnce();
    void SetBarPosition(bool Horizontal);
    void PresentFrame(TBitmap* Frame, int W, int H);
    void ClearSelection() {}   // selections come later
    void RedrawSelectionOutline() {}
    bool SelectionExists() const { return false; }

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

    // Click-drag scrolling.
    bool dragging_ = false;
    TMouseButton dragButton_ = mbLeft;
    int downX_ = 0, downY_ = 0, downViewX_ = 0, downViewY_ = 0;
    TResampleFilter savedFilter_ = rfNone;
    bool updating_ = false;
};
