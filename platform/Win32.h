// The few Win32 calls the system makes, over our own bitmaps and canvases.
#pragma once

#include <cstdint>
#include <functional>

#include "Graphics.h"

using DWORD = uint32_t;
using BOOL = int;

#pragma pack(push, 1)
struct RGBQUAD {
    uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;        // positive: bottom-up rows
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
// Header plus the two palette entries of a 1-bit DIB: 48 bytes.
struct BITMAPINFO1 {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[2];
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO1) == 48);

constexpr uint32_t BI_RGB = 0;
constexpr DWORD SRCCOPY = 0x00CC0020, SRCINVERT = 0x00660046, SRCAND = 0x008800C6,
                SRCPAINT = 0x00EE0086, NOTSRCCOPY = 0x00330008, DSTINVERT = 0x00550009,
                BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062;

// Block copies between canvases, clipped to both; the raster operations above.
BOOL BitBlt(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc, DWORD Rop);
// Nearest-neighbour stretch (the default stretch mode).
BOOL StretchBlt(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc,
                int WSrc, int HSrc, DWORD Rop);

// Draws a bottom-up 1- or 24-bit DIB block, stretched nearest-neighbour. The source
// rectangle is counted from the top, as DrawDibDraw has it; -1 sizes mean the whole.
BOOL DrawDibDraw(TCanvas* Dest, int XDst, int YDst, int DXDst, int DYDst,
                 const BITMAPINFOHEADER* Info, const void* Bits,
                 int XSrc, int YSrc, int DXSrc, int DYSrc);
// The same with StretchDIBits' convention: the source y is counted from the bottom row.
int StretchDIBits(TCanvas* Dest, int XDst, int YDst, int DXDst, int DYDst,
                  int XSrc, int YSrc, int DXSrc, int DYSrc,
                  const void* Bits, const BITMAPINFOHEADER* Info, DWORD Rop);

// Milliseconds since an arbitrary start, 32 bits, wrapping; tests inject a clock.
DWORD GetTickCount();
void SetTickCountSource(std::function<DWORD()> source);   // empty restores the real clock

// Logical pixels per inch of the screen: 96 unless a screen tells otherwise (and in tests).
int ScreenPixelsPerInch();
void SetScreenPixelsPerInch(int dpi);

// A thread that decodes before the application object exists must not ask Qt for the screen:
// while one of these lives on it, ScreenPixelsPerInch there answers Dpi when the screen is not
// known yet, and notes that it did (so the caller can tell whether the guess mattered).
class TScreenDpiStandIn {
public:
    explicit TScreenDpiStandIn(int Dpi);
    ~TScreenDpiStandIn();
    TScreenDpiStandIn(const TScreenDpiStandIn&) = delete;
    TScreenDpiStandIn& operator=(const TScreenDpiStandIn&) = delete;
    bool Asked() const { return asked_; }

private:
    friend int ScreenPixelsPerInch();
    int dpi_;
    bool asked_ = false;
    TScreenDpiStandIn* outer_;
};
