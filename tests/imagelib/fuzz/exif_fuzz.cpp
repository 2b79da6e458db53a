// libFuzzer target: the EXIF reader on an APP1 payload, "Exif\0\0" put in front of the input
// so that every run reaches the TIFF structure.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "LuxIO.h"
#include "lxutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> block(6 + size);
    std::memcpy(block.data(), "Exif\0", 6);
    if (size) std::memcpy(block.data() + 6, data, size);
    TLXIOParams params(nullptr);
    ReadExifBlock(block.data(), int(block.size()), params);
    ReadExifBlock(data, int(size), params);
    return 0;
}
