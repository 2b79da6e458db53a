// The body of the metafile fuzz targets (one per format, so each starts from its own seeds):
// the header reader, then the whole import at a small size, aspect kept. The conversion and
// the render run in a child process for every input, so these targets run fewer inputs than
// the others.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"
#include "metafile.h"

inline int MetafileFuzzOne(const uint8_t* data, size_t size) {
    (void)ReadMetafileHeader(data, size, 96);
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    MetafileDecode(data, size, &bmp, params, 64, -1, clWhite, rec);
    if (!abort && (bmp.Width() < 1 || bmp.Height() < 1 || bmp.Width() > 2800 || bmp.Height() > 2800))
        __builtin_trap();   // a decoded picture always has a sane size
    return 0;
}
