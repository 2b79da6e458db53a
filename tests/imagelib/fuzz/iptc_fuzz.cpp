// libFuzzer target: the IPTC reader of APP13 payloads (it runs on every JPEG load), with the
// write-and-read-back and marker-list properties of iptc_fuzz_body.h.
#include <cstddef>
#include <cstdint>

#include "iptc_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!IptcFuzzOne(data, size)) __builtin_trap();
    return 0;
}
