// PNG reading through libpng 1.6.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// Largest image the reader decodes, in pixels; bigger files set the abort flag before
// anything is allocated.
constexpr int64_t PngMaxPixels = int64_t(1) << 28;

// Reads a PNG image from the stream position into a pf24bit or pf1bit bitmap. With a mask
// the alpha channel (or tRNS) goes into it as 8 bits; without one transparent pixels are
// composed over the file's bKGD or PngBackground. Failures set *Progress.Aborting.
void PngDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     bool ParamsOnly, TProgressRec& Progress);

// True when the 8 bytes at the stream position are the PNG signature; the position is
// left where it was.
bool ProbePngStream(TStream* Stream);
