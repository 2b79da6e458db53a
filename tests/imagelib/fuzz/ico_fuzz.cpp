// libFuzzer target: the ICO and CUR readers on a memory stream, with and without a mask,
// parameters only and with pixels; the last byte picks the directory entry.
#include <cstddef>
#include <cstdint>

#include "BMPFiltIco.h"
#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXMask mask;
    TLXIOParams params(nullptr);
    params.IcoImageIndex = params.CurImageIndex = size ? data[size - 1] % 4 : 0;
    for (int pass = 0; pass < 4; ++pass) {
        abort = false;
        s.SetPosition(0);
        TLXMask* m = (pass & 1) ? &mask : nullptr;
        if (pass < 2)
            IcoDecodeStream(&s, &bmp, params, m, rec, pass == 0);
        else
            CurDecodeStream(&s, &bmp, params, m, rec, pass == 2);
    }
    return 0;
}
