// libFuzzer target: the PNM reader, called through the codec table, and its header tokens.
#include <cstddef>
#include <cstdint>
#include <string>

#include "BMPFiltPnm.h"
#include "codec_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzCodecs({lxftPXM}, data, size);
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    s.SetPosition(0);
    std::string token;
    for (int i = 0; i < 64; ++i) {
        PnmReadToken(&s, token);
        if (token.empty()) break;
    }
    return 0;
}
