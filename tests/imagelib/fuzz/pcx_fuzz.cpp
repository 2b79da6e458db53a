// libFuzzer target: the PCX reader, called through the codec table.
#include <cstddef>
#include <cstdint>

#include "codec_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzCodecs({lxftPCX}, data, size);
    return 0;
}
