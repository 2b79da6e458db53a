// Colours, pens, brushes, fonts, the in-memory bitmap and its canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

// ---- Colours: R in the low byte, then G, then B; the high bit marks a system colour ----
using TColor = int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clLtGray = 0xC0C0C0, clDkGray = 0x808080;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;

constexpr TColor SystemColor(int index) { return TColor(0x80000000u | unsigned(index)); }
constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1),
                 clActiveCaption = SystemColor(2), clInactiveCaption = SystemColor(3),
                 clMenu = SystemColor(4), clWindow = SystemColor(5), clWindowFrame = SystemColor(6),
                 clMenuText = SystemColor(7), clWindowText = SystemColor(8),
                 clCaptionText = SystemColor(9), clActiveBorder = SystemColor(10),
                 clInactiveBorder = SystemColor(11), clAppWorkSpace = SystemColor(12),
                 clHighlight = SystemColor(13), clHighlightText = SystemColor(14),
                 clBtnFace = SystemColor(15), clBtnShadow = SystemColor(16),
                 clGrayText = SystemColor(17), clBtnText = SystemColor(18),
                 clInactiveCaptionText = SystemColor(19), clBtnHighlight = SystemColor(20),
                 cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22),
                 clInfoText = SystemColor(23), clInfoBk = SystemColor(24);

// System colours resolve through a fixed table of the classic scheme, so results are reproducible.
TColor ColorToRGB(TColor c);
constexpr TColor RGBColor(int r, int g, int b) { return TColor(r | (g << 8) | (b << 16)); }
constexpr int GetRValue(TColor c) { return c & 0xFF; }
constexpr int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(TColor c) { return (c >> 16) & 0xFF; }

struct TPoint {
    int X = 0, Y = 0;
    bool operator==(const TPoint&) const = default;
};
struct TSize {
    int cx = 0, cy = 0;
    bool operator==(const TSize&) const = default;
};
// Right and Bottom are exclusive, as in GDI.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};
inline TPoint Point(int x, int y) { return {x, y}; }
inline TRect Rect(int l, int t, int r, int b) { return {l, t, r, b}; }
inline TRect Bounds(int l, int t, int w, int h) { return {l, t, l + w, t + h}; }
bool IntersectRect(TRect& dst, const TRect& a, const TRect& b);

// ---- Graphic objects ----

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
                   bsDiagCross };
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode { pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
                pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor,
                pmNotXor };
enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

class TGraphicsObject : public TPersistent {
public:
    TNotifyEvent OnChange;
protected:
    void Changed() { if (OnChange) OnChange(this); }
};

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor c) { color_ = c; Changed(); }
    int Width() const { return width_; }
    void SetWidth(int w) { width_ = w < 1 ? 1 : w; Changed(); }
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle s) { style_ = s; Changed(); }
    TPenMode Mode() const { return mode_; }
    void SetMode(TPenMode m) { mode_ = m; Changed(); }
    void Assign(TPersistent* Source) override;
private:
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
};

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor c) { color_ = c; if (style_ == bsClear) style_ = bsSolid; Changed(); }
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle s) { style_ = s; Changed(); }
    void Assign(TPersistent* Source) override;
private:
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
};

class TFont : public TGraphicsObject {
public:
    const std::string& Name() const { return name_; }
    void SetName(const std::string& n) { name_ = n; Changed(); }
    // Size in points; Height in pixels, negative for the character height (as the class library).
    int Size() const;
    void SetSize(int points);
    int Height() const { return height_; }
    void SetHeight(int h) { height_ = h; Changed(); }
    TColor Color() const { return color_; }
    void SetColor(TColor c) { color_ = c; Changed(); }
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles s) { style_ = s; Changed(); }
    int Charset() const { return charset_; }
    void SetCharset(int c) { charset_ = c; Changed(); }
    int PixelsPerInch = 96;
    void Assign(TPersistent* Source) override;
private:
    std::string name_ = "DejaVu Sans";
    int height_ = -11;   // 8 points at 96 dpi
    TColor color_ = clWindowText;
    TFontStyles style_ = 0;
    int charset_ = 1;
};

// ---- The in-memory bitmap ----

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType { bmDIB, bmDDB };

int BitsOfPixelFormat(TPixelFormat pf);   // 0 for pfDevice and pfCustom

// Row length of a device-independent bitmap; EIntOverflow past Width x Bits = 2^31 - 32.
int64_t DibRowBytes(int64_t Width, int Bits);

GD_EXCEPTION(EIntOverflow, Exception);

class TCanvas;

// ---- Pixel blocks ----
// Blocks of 1 MiB and more come from anonymous mappings aligned for transparent huge pages
// and are kept for reuse when freed (and then offered to the kernel for huge pages): a photo
// of the same size then costs no page faults.
// Before a new mapping is made, idle blocks adding up to at least its size are released (the
// largest first), so keeping them never adds to the peak. Smaller blocks come from the heap.
// Thread-safe. Null when the memory cannot be had.
uint8_t* AllocPixelBlock(size_t Size, bool Zero);
void FreePixelBlock(uint8_t* Block, size_t Size);
// Releases every idle block to the system.
void TrimPixelBlocks();
struct TPixelBlockStats {
    int64_t Fresh = 0, Reused = 0;   // large blocks handed out since the start
    int64_t IdleBytes = 0;            // kept for reuse now
};
TPixelBlockStats PixelBlockStats();

// A read-only view of a device-independent pixel block, the source of the block transfers.
// Rows are bottom-up unless TopDown; pf1bit pixels are black (clear) or white (set).
struct TDibView {
    const uint8_t* Bits = nullptr;
    int Width = 0, Height = 0;
    int64_t RowBytes = 0;
    TPixelFormat Format = pf24bit;
    const std::vector<uint32_t>* Palette = nullptr;   // pf4bit / pf8bit entries as 0x00RRGGBB
    bool TopDown = false;
};

class TGraphic : public TPersistent {
public:
    TNotifyEvent OnChange;
    bool Modified() const { return modified_; }
    // Setting Modified to true tells OnChange that the picture changed.
    void SetModified(bool m);
protected:
    void Changed() { SetModified(true); }
private:
    bool modified_ = false;
};

// A device-independent bitmap held in our own memory. Rows are bottom-up and contiguous:
// ScanLine(0) is the top row at the highest address and the block starts at
// ScanLine(Height - 1). Each row is padded to 4 bytes. In pf1bit pixel x is bit
// 0x80 >> (x % 8) and a set bit is white. New memory is zero-filled.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetWidth(int w) { SetSize(w, height_); }
    void SetHeight(int h) { SetSize(width_, h); }
    // Keeps the visual top-left overlap of the old picture; the rest is zero.
    void SetSize(int w, int h);
    // A new picture of w x h in pf whose pixels are not cleared (a reused block keeps what it
    // held): for a reader that writes every pixel. The palette is the format's default.
    void NewUncleared(int w, int h, TPixelFormat pf);
    bool Empty() const { return width_ <= 0 || height_ <= 0; }

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the content to the new format (through the palette for indexed formats;
    // to pf1bit by the nearest of black and white). pfDevice is held as pf24bit and
    // pfCustom raises EInvalidGraphic. A size or format change resets the canvas's clip.
    void SetPixelFormat(TPixelFormat pf);
    TBitmapHandleType HandleType() const { return handleType_; }
    void SetHandleType(TBitmapHandleType t) { handleType_ = t; }

    // Row y, counted from the top. EInvalidGraphic when y is outside the bitmap.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    int64_t RowBytes() const { return rowBytes_; }
    int64_t ImageSize() const { return rowBytes_ * height_; }
    // The whole block from its lowest address (ScanLine(Height - 1)); null when empty.
    uint8_t* PixelBlock() { return bits_; }
    const uint8_t* PixelBlock() const { return bits_; }

    // Palette entries as 0x00RRGGBB, used by pf4bit and pf8bit; pf1bit is always black, white.
    std::vector<uint32_t>& Palette() { return palette_; }
    const std::vector<uint32_t>& Palette() const { return palette_; }

    TCanvas* Canvas();
    void Assign(TPersistent* Source) override;
    // Releases the canvas's painter so raw row access sees every drawn pixel.
    void FlushCanvas();
    // The whole bitmap as a transfer source.
    TDibView View() const;
    // Swaps size, format, palette and pixel block with Other (no pixel is copied); both are
    // then marked changed.
    void Exchange(TBitmap& Other);

private:
    void Reallocate(int w, int h, TPixelFormat pf, bool keep, bool zero = true);
    // A new size kept in the same pixel block when it holds it; false when not possible.
    bool ResizeInPlace(int w, int h, int64_t rb, int64_t total);
    int width_ = 0, height_ = 0;
    TPixelFormat format_ = pf24bit;
    TBitmapHandleType handleType_ = bmDIB;
    int64_t rowBytes_ = 0;
    uint8_t* bits_ = nullptr;
    std::vector<uint32_t> palette_;
    std::unique_ptr<TCanvas> canvas_;
};

// A GDI-like canvas over a bitmap (pf1bit, pf24bit or pf32bit). Rectangles exclude their
// right and bottom edges and lines leave out their end point, as in GDI. Colours are
// mapped to the nearest of black and white on a pf1bit target.
class TCanvas : public TPersistent {
public:
    explicit TCanvas(TBitmap* target);
    ~TCanvas() override;

    TBitmap* Target() const { return target_; }
    TPen* Pen() { return &pen_; }
    TBrush* Brush() { return &brush_; }
    TFont* Font() { return &font_; }

    TPoint PenPos() const { return penPos_; }
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Polyline(const std::vector<TPoint>& pts);

    void FillRect(const TRect& r);                  // brush only
    void FrameRect(const TRect& r);                 // one-pixel frame in the brush colour
    void Rectangle(int x1, int y1, int x2, int y2); // pen outline, brush inside
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    void Ellipse(int x1, int y1, int x2, int y2);
    void Polygon(const std::vector<TPoint>& pts);

    TColor Pixel(int x, int y) const;               // -1 outside the bitmap or the clip region
    void SetPixel(int x, int y, TColor c);

    // Text needs a 1-, 15-, 16-, 24- or 32-bit target (EInvalidOperation otherwise). A solid
    // brush paints the text cell (TextRect: the whole rectangle) behind it.
    void TextOut(int x, int y, const std::string& text);   // UTF-8, top-left at (x, y)
    void TextRect(const TRect& clip, int x, int y, const std::string& text);
    TSize TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }

    void Draw(int x, int y, TBitmap* src);
    void StretchDraw(const TRect& dst, TBitmap* src);       // nearest neighbour
    void CopyRect(const TRect& dst, TCanvas* src, const TRect& srcRect);

    // Clipping: all drawing stays inside the clip region (the whole target by default).
    TRect ClipRect() const;
    void IntersectClipRect(const TRect& r);
    void ExcludeClipRect(const TRect& r);
    void ResetClip();                               // SelectClipRgn(nil)

    // Ends any open painter; called before raw row access.
    void Flush();

    // Raster operation of Draw, StretchDraw and CopyRect (SRCCOPY by default).
    uint32_t CopyMode = 0x00CC0020;
    // Nearest-neighbour block transfer of the source rectangle (counted from the source's
    // top row) onto X, Y, W, H of this canvas, clipped to both sides and the clip region.
    // Negative sizes mirror. Rop is one of the Win32 raster codes SRCCOPY, SRCINVERT, SRCAND,
    // SRCPAINT, NOTSRCCOPY, DSTINVERT, BLACKNESS, WHITENESS; false for any other code.
    bool BlockTransfer(int X, int Y, int W, int H, const TDibView& Src, int XSrc, int YSrc, int WSrc,
                       int HSrc, uint32_t Rop);

    struct Impl;
private:
    TBitmap* target_;
    TPen pen_;
    TBrush brush_;
    TFont font_;
    TPoint penPos_;
    std::unique_ptr<Impl> impl_;
};
