// The thumbnail view: a scrollable grid of thumbnails (or one picture at a time) over a list
// of entries whose pictures live in the memory-mapped image store. Pictures come from files,
// loaded on demand through the view's own I/O component, or from the application by image
// id. The view can play its entries one after another, and reports every list change to the
// attached multi-image I/O component through the change callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ExtCtrls.h"
#include "Graphics.h"
#include "LuxMViewStore.h"
#include "LuxView.h"
#include "lxdefs.h"
#include "lxview.h"

// Folder of the image stores' temporary files; empty: the system temporary folder.
extern std::string LuxImageStoreFolder;

class TLuxIO;
class TLXTransitionEffects;

enum TLXStoreType { lxtNormal, lxtThumb };
enum TLXMMouseInteractItem { mmiScroll, mmiSelect };
using TLXMMouseInteract = uint8_t;   // set of 1 << TLXMMouseInteractItem
constexpr TLXMMouseInteract MMI(TLXMMouseInteractItem i) { return TLXMMouseInteract(1u << i); }
enum TLXMKeyInteractItem { mkiMoveSelected };
using TLXMKeyInteract = uint8_t;     // set of 1 << TLXMKeyInteractItem
enum TLXMDisplayMode { mdGrid, mdSingle };
enum TLXMStyle { lxmsFlat, lxmsACD };
enum TLXSStyle { lxssAround, lxssACD };

// Supplies the picture of an application image id. The handler sets Bitmap to a bitmap it
// keeps owning (the view copies it), or leaves it null when it does not know the id.
using TLXImageIDRequestEvent = TMethod<void(TObject* Sender, int ID, TBitmap*& Bitmap)>;
using TLXImageDrawEvent = TMethod<void(TObject* Sender, int idx, int Left, int Top, TCanvas* Canvas)>;
using TLXImageSelectEvent = TMethod<void(TObject* Sender, int idx)>;
using TLXMProgressEvent = TMethod<void(TObject* Sender, int per, int idx)>;

// One caption of an entry; an empty Caption draws nothing.
class TLXMCaption {
public:
    std::string Caption;
    TFont Font;
    TColor Background = clBtnFace;
};

// Draws the left and top edges in Color2, then the bottom and right edges in Color1.
void LXDraw3DFrame(TCanvas* Canvas, int Left, int Top, TColor Color1, TColor Color2, int Bottom,
                   int Right);

// The largest size of w x h inside maxW x maxH (small pictures are enlarged too), each side
// at least 1; (0, 0) for an empty picture.
void LXFitSize(int w, int h, int maxW, int maxH, int& dw, int& dh);

class TLuxMView : public TLXView {
public:
    struct TEntry {
        TLXVirtualDIBList::TImage* Image = nullptr;   // null until loaded
        int X = 0, Y = 0, Row = 0, Col = 0;
        TColor Background = clBtnFace;
        std::string FileName;   // empty: none
        int ImageID = -1;       // below 0: none
        int FrameDelay = 0;     // playback time in ms (at least 10 is used)
        TLXMCaption TopText, InfoText, BottomText;
    };

    explicit TLuxMView(TComponent* AOwner);
    ~TLuxMView() override;

    // ---- Operations of every view ----
    void SetBackground(TColor Color) override;
    // The selected entry's checked-out bitmap; null without a selection.
    TBitmap* GetBitmap() override { return selectedBitmap_; }
    TLXMask* GetAlphaMask() override { return nullptr; }
    void LockPaint() override;
    void UnlockPaint() override;
    void UnlockPaintNoUpdate() override;
    void Update() override;
    int PaintLockCount() const { return lockCount_; }
    // A thumbnail view takes nothing over from another object.
    void Assign(TPersistent*) override {}

    // ---- Own virtual operations ----
    virtual void SetScrollBars(TScrollStyle Value);
    virtual void DoViewChange(int Change);
    virtual void SetMouseInteract(TLXMMouseInteract Value);
    virtual void SetKeyInteract(TLXMKeyInteract Value);
    virtual void PaintTo(TCanvas* Canvas);

    // ---- Entries ----
    int ImageCount() const { return int(entries_.size()); }
    // Null for an index outside the list.
    TEntry* Entry(int Index);
    // A new entry at Index (clamped to 0..count) with a file name or an image id; returns
    // its index. The selection stays on the same picture.
    int InsertImage(int Index, const std::string& FileName = std::string(), int ImageID = -1);
    int AppendImage(const std::string& FileName = std::string(), int ImageID = -1) {
        return InsertImage(ImageCount(), FileName, ImageID);
    }
    // An entry holding a copy (or a thumbnail) of Bitmap.
    int AppendBitmap(TBitmap* Bitmap);

    // ---- Layout and scrolling ----
    void LayoutThumbnails();
    void GetMaxViewXY(int& MaxX, int& MaxY);
    int ViewX() const { return viewX_; }
    int ViewY() const { return viewY_; }
    void SetViewX(int X);
    void SetViewY(int Y);
    void SetViewXY(int X, int Y);
    int GridExtentWidth() const { return extentW_; }
    int GridExtentHeight() const { return extentH_; }
    double HorzScrollScale() const { return hScale_; }
    double VertScrollScale() const { return vScale_; }
    // Columns of the grid as the keyboard and the layout count them (0 = one row).
    int Columns() const;

    // ---- Selection ----
    int SelectedIndex() const { return selected_; }
    void SetSelected(int Index);
    void SelectImage(int Index);
    void Deselect();
    int ImageAtPos(int X, int Y);
    // 0 not visible, 1 partly, 2 wholly inside the client area.
    int IsVisible(int Index);
    void MoveSelection(int Kind);

    // ---- Pictures ----
    // Loads the picture when needed and checks it out of the store; null when there is
    // none. The bitmap stays the store's; callers keep it no longer than the next change.
    TBitmap* GetEntryBitmap(int Index);
    bool LoadEntryImage(int Index);
    void SetEntryBitmap(int Index, TBitmap* Bitmap);
    bool DeleteImage(int Index);
    TLXVirtualDIBList* Store() const { return store_.get(); }
    TLuxIO* IO() const { return io_.get(); }

    // ---- Playback ----
    bool PlaybackActive() const { return playbackActive_; }
    void SetPlaybackActive(bool Value);
    bool PlaybackLoop = true;
    int PlaybackFrame = 0;
    // One step; the playback timer calls it on every tick.
    void PlaybackStep();
    TTimer* PlaybackTimer() const { return timer_.get(); }

    // ---- Change reporting ----
    // The last list change: 0 none, 1 inserted, 2 deleted; reading it resets it to 0.
    int TakeLastChange();
    int LastChangeIndex() const { return lastChangeIndex_; }

    // ---- Properties ----
    TScrollStyle ScrollBars() const { return scrollBars_; }
    TLXStoreType StoreType = lxtNormal;
    int ThumbWidth() const { return thumbW_; }
    void SetThumbWidth(int v) { thumbW_ = v; Update(); }
    int ThumbHeight() const { return thumbH_; }
    void SetThumbHeight(int v) { thumbH_ = v; Update(); }
    int HorizBorder() const { return hBorder_; }
    void SetHorizBorder(int v) { hBorder_ = v; Update(); }
    int VertBorder() const { return vBorder_; }
    void SetVertBorder(int v) { vBorder_ = v; Update(); }
    int BottomGap() const { return bottomGap_; }
    void SetBottomGap(int v) { bottomGap_ = v; Update(); }
    int UpperGap() const { return upperGap_; }
    void SetUpperGap(int v) { upperGap_ = v; Update(); }
    bool VisibleSelection() const { return visibleSelection_; }
    void SetVisibleSelection(bool v) { visibleSelection_ = v; Update(); }
    TLXMMouseInteract MouseInteract() const { return mouseInteract_; }
    TLXMKeyInteract KeyInteract() const { return keyInteract_; }
    TLXMDisplayMode DisplayMode() const { return displayMode_; }
    void SetDisplayMode(TLXMDisplayMode v);
    int GridWidth() const { return gridWidth_; }
    void SetGridWidth(int v) { gridWidth_ = v; Update(); }
    int SelectionWidth() const { return selectionWidth_; }
    void SetSelectionWidth(int v) { selectionWidth_ = v; Update(); }
    TColor SelectionColor() const { return selectionColor_; }
    void SetSelectionColor(TColor v) { selectionColor_ = v; Update(); }
    bool RemoveCorrupted() const { return removeCorrupted_; }
    void SetRemoveCorrupted(bool v) { removeCorrupted_ = v; Update(); }
    bool DrawImageBackground() const { return drawImageBackground_; }
    void SetDrawImageBackground(bool v) { drawImageBackground_ = v; Update(); }
    int ImageCacheSize() const { return cacheSize_; }
    void SetImageCacheSize(int v);
    TLXTransitionType TransitionEffect = lxttNone;
    int TransitionDuration = 1000;
    TLXMStyle Style() const { return style_; }
    void SetStyle(TLXMStyle v);
    TLXSStyle SelectionStyle() const { return selectionStyle_; }
    void SetSelectionStyle(TLXSStyle v);
    TColor ThumbnailsBackground = clBtnFace;
    TResampleFilter ThumbnailFilter = rfBSpline;
    TLXScrollBarParams* HorzScrollBarParams() const { return hParams_.get(); }
    TLXScrollBarParams* VertScrollBarParams() const { return vParams_.get(); }
    TLXTransitionEffects* TransitionEffects() const { return engine_.get(); }

    TViewChangeEvent OnViewChange;
    TLXImageIDRequestEvent OnImageIDRequest;
    TLXImageDrawEvent OnImageDraw;
    TLXImageSelectEvent OnImageSelect;
    TLXProgressEvent OnIOProgress;
    TLXMProgressEvent OnDrawProgress;

    // Scroll-bar requests and wheel turns as the control delivers them; public so that
    // owners and tests can drive them.
    void WMHScroll(int Code, int Pos) override;
    void WMVScroll(int Code, int Pos) override;
    void WMMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void WMLButtonDblClk(TShiftState Shift, int X, int Y) override;
    void Paint() override;

protected:
    void WMSize() override;
    void DoEnter() override;
    void DoExit() override;

private:
    void Scroll(bool Horizontal, int Code, int Pos);
    void ScrollUpRule(int Index);
    void ScrollDownRule(int Target);
    void ReleaseSelected();
    void NoteChange(int Kind, int Index);
    void PaintEntries(TCanvas* Canvas);
    void PaintCaption(TCanvas* Canvas, TLXMCaption& Text, bool Selected);
    void TimerTick(TObject* Sender);
    void StopTimer();

    std::vector<std::unique_ptr<TEntry>> entries_;
    std::unique_ptr<TLXVirtualDIBList> store_;
    std::unique_ptr<TLuxIO> io_;
    std::unique_ptr<TLXScrollBarParams> hParams_, vParams_;
    std::unique_ptr<TLXTransitionEffects> engine_;
    std::unique_ptr<TTimer> timer_;

    int viewX_ = 0, viewY_ = 0;
    int extentW_ = 0, extentH_ = 0;
    double hScale_ = 1.0, vScale_ = 1.0;
    int selected_ = -1;
    TBitmap* selectedBitmap_ = nullptr;
    bool showDisabledBars_ = false;
    int lockCount_ = 0;
    int lastChange_ = 0, lastChangeIndex_ = 0;
    bool playbackActive_ = false;
    bool inStep_ = false;
    TLXMDisplayMode savedMode_ = mdGrid;
    int savedSelected_ = -1;
    bool doubleClick_ = false;
    int downX_ = 0, downY_ = 0, downViewX_ = 0, downViewY_ = 0;
    bool destroying_ = false;
    bool updating_ = false;
    int lastClientW_ = -1, lastClientH_ = -1;

    TScrollStyle scrollBars_ = ssNone;
    int thumbW_ = 100, thumbH_ = 100;
    int hBorder_ = 4, vBorder_ = 4;
    int bottomGap_ = 0, upperGap_ = 0;
    bool visibleSelection_ = true;
    TLXMMouseInteract mouseInteract_ = MMI(mmiSelect);
    TLXMKeyInteract keyInteract_ = 1;
    TLXMDisplayMode displayMode_ = mdGrid;
    int gridWidth_ = 0;
    int selectionWidth_ = 3;
    TColor selectionColor_ = clRed;
    bool removeCorrupted_ = false;
    bool drawImageBackground_ = false;
    int cacheSize_ = 10;
    TLXMStyle style_ = lxmsACD;
    TLXSStyle selectionStyle_ = lxssACD;
};
