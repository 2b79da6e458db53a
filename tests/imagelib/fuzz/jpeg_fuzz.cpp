// libFuzzer target: the JPEG reader, called through the codec table.
#include <cstddef>
#include <cstdint>

#include "codec_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzCodecs({lxftJPEG}, data, size);
    return 0;
}
