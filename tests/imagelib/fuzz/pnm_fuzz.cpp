// libFuzzer target: the PNM reader on a memory stream, parameters only and then the pixels,
// and the header tokenizer to the end of the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "BMPFiltPnm.h"
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
    for (bool paramsOnly : {true, false}) {
        abort = false;
        s.SetPosition(0);
        PnmDecodeStream(&s, &bmp, params, paramsOnly, rec);
    }
    s.SetPosition(0);
    std::string token;
    for (int i = 0; i < 64; ++i) {
        PnmReadToken(&s, token);
        if (token.empty()) break;
    }
    return 0;
}
