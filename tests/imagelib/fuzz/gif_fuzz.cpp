// libFuzzer target: the GIF container on a memory stream, parameters only for the first
// frames (the library has no LZW hooks, so a full read stops at the frame).
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "GIFFilter.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    TBitmap bmp;
    TLXMask mask;
    TLXIOParams params(nullptr);
    for (int frame : {0, 1, 3}) {
        bool abort = false;
        TProgressRec rec;
        rec.Aborting = &abort;
        params.GifImageIndex = frame;
        int count = 0;
        s.SetPosition(0);
        GifDecodeStream(&s, &bmp, count, &mask, frame != 1, rec, params);
    }
    return 0;
}
