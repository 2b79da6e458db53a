// libFuzzer target: the TIFF reader (and through it the CCITT decoders) called through the
// codec table, and the CCITT row decoders straight on the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "TIFCCITT.h"
#include "codec_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzCodecs({lxftTIFF}, data, size);
    if (size > 2) {
        const int width = 1 + (data[0] | (data[1] << 8)) % 3000;
        std::vector<uint8_t> row(size_t((width + 7) / 8)), ref(row.size(), 0xFF);
        const uint8_t* d = data + 2;
        const int64_t n = int64_t(size - 2);
        int64_t pos = 0;
        for (int y = 0; y < 8; ++y)
            pos = CCITTDecodeRow2D(row.data(), d, n, (data[0] & 1) != 0, 1 + (data[1] & 1), pos,
                                   ref.data(), width);
        CCITTDecodeRuns(row.data(), d, n, width, 1, 0);
        CCITTDecodeRow1D(row.data(), d, n, width, 2);
    }
    return 0;
}
