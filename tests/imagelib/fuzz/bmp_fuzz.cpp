// libFuzzer target: the BMP reader on a memory stream, parameters only, then the pixels
// from the stream start and with a size limit taken from the input.
#include <cstddef>
#include <cstdint>

#include "BMPFilt.h"
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
    TLXIOParams params(nullptr);
    s.SetPosition(0);
    BmpDecodeStream(&s, &bmp, 0, true, rec, params);
    for (int64_t limit : {int64_t(0), int64_t(size > 0 ? data[size - 1] : 0) * 16}) {
        abort = false;
        s.SetPosition(0);
        BmpDecodeStream(&s, &bmp, limit, false, rec, params);
    }
    return 0;
}
