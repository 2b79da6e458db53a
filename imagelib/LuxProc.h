// Image processing: resampling filters and the filtered stretch used by the views.
#pragma once

#include "Graphics.h"
#include "lxdefs.h"

// ---- Resampling filters ----

// Kernels, evaluated on |x|; zero outside their support.
double TriangleFilter(double x);
double HermiteFilter(double x);
double BellFilter(double x);
double SplineFilter(double x);
double Lanczos3Filter(double x);
double MitchellFilter(double x);

struct TResampleFilterEntry {
    double (*Filter)(double);
    double Support;
};
// Kernel and support of a filter; rfNone has no kernel (Filter is null, support 0).
const TResampleFilterEntry& ResampleFilterEntry(TResampleFilter Filter);

// Resamples the pf24bit Source into Dest at Dest's current size with a separable filter;
// Dest becomes pf24bit. The weights are not normalised: each output is the plain weighted
// sum, rounded and limited to 0..255. Nothing happens for rfNone, a Source that is not
// pf24bit, an empty Source or Dest, or when both source sides are below 2.
void Resample24(TBitmap* Source, TBitmap* Dest, TResampleFilter Filter,
                TLXProgressEvent OnProgress = {}, TObject* Sender = nullptr);

// The pf1bit Source (set bit = 255, clear bit = 0, whatever the palette) into the grey
// pf24bit Dest at Dest's current size.
void Resample1To24(TBitmap* Source, TBitmap* Dest, TResampleFilter Filter);

// ---- Transition engine ----

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TLXView;
class TTimer;

// Shows a finished frame on the view: the Frame bitmap goes onto the view's client area at
// (0, 0), Width x Height. The view sets it; without it frames are built but not shown.
using TLXFramePresentEvent = TMethod<void(TBitmap* Frame, int Width, int Height)>;

// Turns the picture of a view into the next one through one of the 30 timed effects. Each
// frame is computed from the elapsed time, so the look does not depend on the frame rate.
// Every frame routine clips its copies to the three bitmaps, whatever the size or progress.
class TLXTransitionEffects : public TObject {
public:
    // The engine's timer interval in milliseconds: the first frame comes at once, the
    // platform's timer paces the following ones to the screen's refresh.
    static constexpr int TimerInterval = 1;

    // View may be null (no paint lock, black background).
    explicit TLXTransitionEffects(TLXView* View);
    ~TLXTransitionEffects() override;
    TLXTransitionEffects(const TLXTransitionEffects&) = delete;
    TLXTransitionEffects& operator=(const TLXTransitionEffects&) = delete;

    // Stops a running transition, then gives the three bitmaps the size W x H (negative
    // sizes count as 0).
    void SetSize(int W, int H);
    void Start(bool UpdateAtEnd);
    void Stop();
    // One timer tick: draws and shows the frame for the progress measured at the previous
    // tick, then measures the elapsed time.
    void Tick(TObject* Sender);

    // Draws FrameBitmap for progress p (limited to 0..1024) with the current effect; the
    // incremental effects rely on the frame drawn before, as during a run. Does nothing
    // unless the three bitmaps are pf24bit of Width x Height.
    void DrawFrame(int p);

    TBitmap* FromBitmap() const { return from_.get(); }
    TBitmap* ToBitmap() const { return to_.get(); }
    TBitmap* FrameBitmap() const { return frame_.get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Running() const { return running_; }
    int Progress() const { return progress_; }
    int64_t PrevTarget() const { return prevTarget_; }
    int FrameCount() const { return frameCount_; }
    uint32_t StartTick() const { return startTick_; }
    bool UpdateAtEnd() const { return updateAtEnd_; }
    TLXView* View() const { return view_; }
    TTimer* Timer() const { return timer_.get(); }

    TLXTransitionType TransitionEffect = lxttNone;
    // Milliseconds; a value of 0 or below ends the transition at the first tick.
    int32_t TransitionDuration = 1000;
    TLXFramePresentEvent OnPresentFrame;

    // The generator of the random effects: a uniform integer in 0 .. n - 1 for n >= 1.
    // Empty restores the library's own generator.
    void SetRandomSource(std::function<int(int)> Source);
    int Random(int n);

private:
    bool BitmapsMatch() const;
    void BuildRows();
    void ResetToFrom();
    void CopyBlock(const std::vector<uint8_t*>& Src, int64_t DX, int64_t DY, int64_t SX, int64_t SY,
                   int64_t W, int64_t H);
    void StretchIntoBox(const std::vector<uint8_t*>& Src, int64_t X, int64_t Y, int64_t W, int64_t H);
    void RedColumn(int64_t X);
    void RedRow(int64_t Y);
    // R := (A x (1024 - p) + B x p) shr 10 per byte; a null side is the background colour.
    void Blend(const std::vector<uint8_t*>* A, const std::vector<uint8_t*>* B, int p);
    TRGB BackgroundRGB() const;

    std::unique_ptr<TBitmap> from_, to_, frame_;
    std::vector<uint8_t*> fromRows_, toRows_, frameRows_;
    int width_ = 1, height_ = 1;
    bool running_ = false;
    TLXView* view_;
    std::unique_ptr<TTimer> timer_;
    int progress_ = 0;
    int64_t prevTarget_ = 0;
    uint32_t startTick_ = 0;
    bool updateAtEnd_ = false;
    int frameCount_ = 0;
    std::function<int(int)> random_;
    std::vector<uint8_t> colourRow_;    // one row of the background's bytes
    std::vector<uint32_t> xmap_;        // source byte offset of each column of a stretch
};

// ---- Image-processing component ----

class TImage;
class TForm;

enum TPRPreviewsParam { prppDefaultLockPreview };
using TPRPreviewsParams = unsigned;   // set of 1 << TPRPreviewsParam
using TLXPreviewEvent = TMethod<void(TObject* Sender, TForm* PreviewForm)>;

// Edits one bitmap in place: the bitmap of an attached view, the Picture.Bitmap of an
// attached TImage, or a bare bitmap. One-step undo; after each operation the target is told
// that the picture changed.
class TLuxProc : public TComponent {
public:
    explicit TLuxProc(TComponent* AOwner);
    ~TLuxProc() override;

    TLXView* AttachedView() const { return view_; }
    void SetAttachedView(TLXView* View);
    TImage* AttachedTImage() const { return image_; }
    void SetAttachedTImage(TImage* Image);
    // A null bitmap is ignored while a view or TImage is attached.
    void SetAttachedBitmap(TBitmap* Bitmap);
    TBitmap* Bitmap() const { return bitmap_; }
    TLXMask* Mask() const { return mask_; }
    TBitmap* UndoBitmap() const { return undo_.get(); }

    bool AutoUndo = true;
    // The attached view's background, else the stored colour.
    TColor Background() const;
    void SetBackground(TColor Value);
    TLXProgressEvent OnProgress;
    TMsgLanguage MsgLanguage = msSystem;
    TPRPreviewsParams PreviewsParams = 0;
    TFont* PreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(TFont* Value);
    TLXPreviewEvent OnPreview;

    virtual void SaveUndo();
    // Restores the saved picture; the saved copy is kept.
    virtual void Undo();
    void ResetUndo();
    // Tells the target that its picture changed.
    void Update();
    // Fills the whole picture with Background.
    void Clear();
    // 0 left-right mirror, 1 top-bottom mirror.
    void Flip(int Direction);
    // Degrees, counter-clockwise; steps of 0.001 degree for 24-bit pictures.
    void Rotate(double Angle, bool AntiAlias);

    // The change callback registered with the attached view.
    void ViewChanged(TLXView* View, uint8_t Flag);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void DetachView();
    void DetachImage();
    void Progress(int Percent);
    void Rotate1Bit(double Angle);
    void ShearRotate(TBitmap* T, double Rest, bool AntiAlias);

    // Whose bitmap the work bitmap is, so it is dropped together with its owner.
    enum class Target { None, View, Image, Bare };
    TLXView* view_ = nullptr;
    TImage* image_ = nullptr;
    TBitmap* bitmap_ = nullptr;
    Target target_ = Target::None;
    TLXMask* mask_ = nullptr;
    std::unique_ptr<TBitmap> undo_;
    std::unique_ptr<TFont> previewFont_;
    TColor background_ = 0;
};

// Quarter turns into Dest (Source's height x width): counter-clockwise Dest(x, y) =
// Source(W - 1 - y, x), clockwise Dest(x, y) = Source(y, H - 1 - x). pf24bit and pf1bit.
void RotateBitmap90CCW(const TBitmap* Source, TBitmap* Dest);
void RotateBitmap90CW(const TBitmap* Source, TBitmap* Dest);

// ---- Magic wand ----

// The outline of the region of pixels 4-connected to (X, Y) whose B, G and R each differ from
// the seed's by at most Tolerance, in image pixel coordinates; empty unless Bitmap is pf24bit
// and the seed lies inside it (or when the outline grid would not fit in memory).
std::vector<TPoint> MagicWandPolygon(const TBitmap* Bitmap, int X, int Y, bool MaxFilter, int Tolerance);
// Sets the region's mask pixels (with MaxFilter also their eight neighbours) to 1.
void MagicWandFill(const TBitmap* Bitmap, int X, int Y, bool MaxFilter, int Tolerance, TLXMask* Mask);
// Sets to 1 the mask pixel of every pixel within Tolerance of the pixel at X, Y.
void SelectByColor(const TBitmap* Bitmap, int X, int Y, int Tolerance, TLXMask* Mask);
