// Windows icons (file type 6, .ico) and cursors (file type 7, .cur): one image of the file,
// its AND mask turned into Mask (when given; 0 = transparent) and into the background colour
// of the parameters. An icon file that is really a bitmap ("BM") is read as one. 1, 4, 8, 24
// and 32 bits (cursors 1, 4 and 8); PNG-compressed entries set the abort flag.
#pragma once

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// Outside a params-only read, a file without the wanted entry sets the abort flag.
void IcoDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly);
void CurDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly);

// The directory tests of detection: more than 22 bytes, reserved 0, the type (1 icon,
// 2 cursor), a non-zero count, and entries with a reserved 0, a non-zero size and an offset
// beyond the directory read so far. The position is left where it was.
bool ProbeIcoStream(TStream* Stream);
bool ProbeCurStream(TStream* Stream);

extern const TLXCodec IcoCodec, CurCodec;
bool IcoProbe(const TLXProbeInput& In);
bool CurProbe(const TLXProbeInput& In);
