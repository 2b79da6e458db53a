// Portable bitmap / greymap / pixmap (file type 12: .pxm, .ppm, .pgm, .pbm): reads P1 to P6
// (samples up to 16 bits), writes P4, P5 and P6. Header comments go to and come from
// IOParams.PnmComments.
#pragma once

#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;

// The next header token of the stream: a run of letters and digits, or "#" + the comment text
// (blanks trimmed); empty at the end of the stream.
void PnmReadToken(TStream* Stream, std::string& Token);

void PnmDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress);
// A failed write sets *Progress.Aborting.
void PnmEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);

// True for a "P1" to "P6" header with a positive width and height, comments skipped. Only
// the first 64 KB are looked at. The position is left where it was.
bool ProbePnmStream(TStream* Stream);
// The magic "P1" to "P6" followed by a blank, "#" or a line end: what the Targa probe must not
// take for a Targa header.
bool PnmMagicAt(const uint8_t* Head, int64_t Length);

extern const TLXCodec PnmCodec;
bool PnmProbe(const TLXProbeInput& In);
