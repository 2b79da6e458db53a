// libFuzzer target: the PNG reader on a memory stream, parameters first, then pixels with
// and without an alpha mask.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"
#include "pngfilt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXMask mask;
    TLXIOParams params(nullptr);
    s.SetPosition(0);
    PngDecodeStream(&s, &bmp, params, &mask, true, rec);
    if (abort || int64_t(params.Width) * params.Height > (int64_t(1) << 22)) return 0;
    for (TLXMask* m : {&mask, static_cast<TLXMask*>(nullptr)}) {
        abort = false;
        s.SetPosition(0);
        PngDecodeStream(&s, &bmp, params, m, false, rec);
    }
    return 0;
}
