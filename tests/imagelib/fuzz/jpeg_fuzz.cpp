// libFuzzer target: the JPEG reader on a memory stream, parameters first, then pixels at a
// scale picked by the input's last byte.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "jpegfilt.h"
#include "lxdefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    params.JpegScale = size ? uint8_t(data[size - 1] % 5) : 1;
    params.Width = params.Height = 16;
    s.SetPosition(0);
    JpegDecodeStream(&s, &bmp, params, true, rec);
    // Keep the fuzzer's memory limit for what real files need: skip giant pictures.
    if (abort || int64_t(params.Width) * params.Height > (int64_t(1) << 22)) return 0;
    params.Width = params.Height = 16;
    s.SetPosition(0);
    JpegDecodeStream(&s, &bmp, params, false, rec);
    return 0;
}
