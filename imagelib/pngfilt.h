// PNG reading through libpng 1.6.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// Reads a PNG image from the stream position into a pf24bit or pf1bit bitmap. With a mask
// the alpha channel (or tRNS) goes into it as 8 bits; without one transparent pixels are
// composed over the file's bKGD or PngBackground. Failures set *Progress.Aborting, and so
// does a picture beyond LXMaxPixels or the decode budget of the stream's bytes, before
// anything is allocated.
void PngDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     bool ParamsOnly, TProgressRec& Progress);

// True when the 8 bytes at the stream position are the PNG signature; the position is
// left where it was.
bool ProbePngStream(TStream* Stream);

extern const TLXCodec PngCodec;
// More than 8 bytes that start with the PNG signature.
bool PngProbe(const TLXProbeInput& In);
