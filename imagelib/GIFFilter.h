// GIF container (file type 2: .gif): header, logical screen, colour tables, graphic control
// extension, image descriptors and trailer. The LZW coding of the pixels is reached only
// through the codec hooks of the parameters (or the library's global ones); without a hook a
// read ends with the abort flag after the parameters were filled, a write after the blocks
// in front of the pixel data.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// Reads the frame GifImageIndex of the GIF at the stream's position; ImageCount (and
// GifImageCount) get the number of image descriptors met. With ParamsOnly the pixels are
// skipped and the bitmap is left alone. Returns true when the wanted frame was reached (its
// descriptor and colours are then in the parameters). Bad data sets *Progress.Aborting, and
// outside a params-only read so does a file without the wanted frame.
bool GifDecodeStream(TStream* Stream, TBitmap* Bitmap, int& ImageCount, TLXMask* Mask,
                     bool ParamsOnly, TProgressRec& Progress, TLXIOParams& IOParams);

// Writes one image; without an encoder hook the abort flag is set after the image
// descriptor. A failed write sets the abort flag too.
void GifEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);

extern const TLXCodec GifCodec;
// More than 13 bytes that start with "GIF".
bool GifProbe(const TLXProbeInput& In);
