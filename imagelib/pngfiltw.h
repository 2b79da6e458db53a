// PNG writing through libpng 1.6.
#pragma once

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// Writes the bitmap as PNG: grey 1 bit, palette or RGB by the parameters, the mask as alpha
// (RGB) or as a transparent palette entry 0. A short write sets *Progress.Aborting; a library
// error raises EInvalidGraphic "Error on creating PNG".
void PngEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress);
