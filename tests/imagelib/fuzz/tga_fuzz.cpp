// libFuzzer target: the Targa reader on a memory stream, parameters only, then the pixels
// from the start and from an offset taken from the input.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"
#include "lxtgafil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    s.SetPosition(0);
    TgaDecodeStream(&s, &bmp, params, true, rec);
    for (int64_t at : {int64_t(0), int64_t(size > 0 ? data[size - 1] % (size) : 0)}) {
        abort = false;
        s.SetPosition(at);
        TgaDecodeStream(&s, &bmp, params, false, rec);
    }
    return 0;
}
