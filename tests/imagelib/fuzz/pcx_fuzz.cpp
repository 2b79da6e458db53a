// libFuzzer target: the PCX reader on a memory stream, parameters only, then the pixels with
// the whole input and with a data length taken from the input.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "PCXFilter.h"
#include "lxdefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    s.SetPosition(0);
    PcxDecodeStream(&s, &bmp, params, true, rec, int64_t(size));
    for (int64_t length : {int64_t(size), int64_t(size > 0 ? data[size - 1] : 0) * 16}) {
        abort = false;
        s.SetPosition(0);
        PcxDecodeStream(&s, &bmp, params, false, rec, length);
    }
    return 0;
}
