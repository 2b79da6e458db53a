// Small routines the viewer's controls share: drawing a bitmap with one transparent colour,
// rectangle and point helpers (rectangles keep the GDI meaning: Right and Bottom exclusive),
// the n-th word of a delimited text, the smaller integer and a folder test.
#pragma once

#include <string>

#include "Graphics.h"

int RectExtentX(const TRect& R);   // Right - Left
int RectExtentY(const TRect& R);   // Bottom - Top
// Edges included: Left <= X <= Right and Top <= Y <= Bottom.
bool PointInsideRect(TPoint P, const TRect& R);
// The colour as RGB with the palette-relative flag 0x02000000.
TColor PaletteRelativeColor(TColor C);

// 1-based index of the first character of word N (words are runs of characters outside
// Delimiters), 0 when the text has fewer words (or N < 1).
int NthWordStart(int N, const std::string& Text, const std::string& Delimiters);
// Word N, or "".
std::string NthWord(int N, const std::string& Text, const std::string& Delimiters);
int IntMin(int A, int B);
bool FolderExists(const std::string& Path);

// Copies the source rectangle onto the destination rectangle, stretched nearest-neighbour;
// source pixels of the transparent colour leave the destination unchanged. Through a mask,
// an inverse mask and AND/OR passes, so stretched masks stay aligned with the picture.
void DrawMaskedStretch(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc, int WSrc,
                       int HSrc, TColor Transparent);
// Draws a bitmap or a part of it. A destination size below 1 is the source's; a source size
// below 1 means the whole bitmap. clNone: a plain copy with the destination's CopyMode;
// clDefault: the colour of the bottom-left pixel; a pf1bit bitmap always uses white.
void DrawBitmapMasked(TCanvas* Dest, TBitmap* Bitmap, int X, int Y, int W, int H, int XSrc, int YSrc, int WSrc,
                      int HSrc, TColor Transparent);
void DrawBitmapPartMasked(TCanvas* Dest, int X, int Y, const TRect& Source, TBitmap* Bitmap, TColor Transparent);
void DrawWholeBitmapMasked(TCanvas* Dest, int X, int Y, TBitmap* Bitmap, TColor Transparent);
