// Windows metafiles: placeable WMF and EMF. The headers give the picture's size; the drawing
// goes through a converter to SVG (libwmf for WMF, libemf2svg for EMF) that librsvg
// rasterises, both in the helper program gdmetafile (found beside the running program) under
// a CPU-time, a memory and a wall-time limit. Fonts, hatches and raster operations are as
// close as those libraries get.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"
#include "metafiledraw.h"

class TLXIOParams;

// Reads the header of a metafile held in memory; Kind None for data that is neither a
// placeable WMF, a plain WMF nor an EMF. Never reads past Size.
TLXMetafileHeader ReadMetafileHeader(const uint8_t* Data, size_t Size, int Dpi);

// The size the picture is drawn at for a request of W x H (-1: from the picture's own size,
// aspect kept): limited to 2800 pixels on the longer side. False when the picture has no
// size or a side comes out 0. The bitmap is one pixel smaller on each side (at least 1).
bool MetafileTargetSize(int64_t OwnWidth, int64_t OwnHeight, int W, int H, int& OutWidth,
                        int& OutHeight);

// Draws the page scaled to PageWidth x PageHeight over the pf24bit Bitmap (which may be
// smaller: the page is cut at its edges). False, the bitmap untouched, when no converter can
// read the file, a picture embedded in it cannot be drawn, the renderer fails or ends on it,
// the two together run out of their CPU time (3 s) or memory, or the helper is missing.
bool RenderMetafile(const uint8_t* Data, size_t Size, const TLXMetafileHeader& Header,
                    TBitmap* Bitmap, int PageWidth, int PageHeight);

// The whole import of a metafile image at W x H (neither 0): on success Bitmap holds the
// picture drawn over Background, and the parameters its file type (9 WMF, 10 EMF), size,
// 8 x 3 samples and the default resolution. Otherwise the abort flag is set and the bitmap
// is left as it was.
void MetafileDecode(const uint8_t* Data, size_t Size, TBitmap* Bitmap, TLXIOParams& IOParams,
                    int W, int H, TColor Background, TProgressRec& Progress);
