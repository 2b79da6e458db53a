// Truevision Targa files (file type 11: .tga, .targa, .vda, .icb, .vst, .pix, .win). Reads
// colour-mapped, true-colour and grey images (also grey with alpha), plain or run-length
// coded, with the TGA 2.0 extension area; writes 8-bit grey or colour-mapped and 24-bit
// images (1- and 4-bit requests as 8 bits) with the extension area and footer.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;

// Reads the image at the stream's position. With ParamsOnly the bitmap is left alone. Bad
// data sets *Progress.Aborting; nothing is raised.
void TgaDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress);

// Writes one image at the stream's position; a failed write sets *Progress.Aborting.
void TgaEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);

// Run-length codes Count pixels of PixelBytes bytes each (1 or 3) into Dest, which must hold
// Count * (PixelBytes + 1) bytes. Returns the number of bytes written.
int TgaEncodeRowRLE(const uint8_t* Row, int Count, int PixelBytes, uint8_t* Dest);

// An 18-byte header with an accepted image type and depth, which is not a netpbm header. The
// position is left where it was.
bool ProbeTgaStream(TStream* Stream);

extern const TLXCodec TgaCodec;
bool TgaProbe(const TLXProbeInput& In);
