// libFuzzer target: the GIF container (without an LZW hook the pixels are refused), called through the codec table.
#include <cstddef>
#include <cstdint>

#include "codec_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzCodecs({lxftGIF}, data, size);
    return 0;
}
