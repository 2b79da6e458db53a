// libFuzzer target: the TIFF reader (and through it the CCITT decoders) on a memory stream,
// parameters only, then the pixels of the first two pages with and without a mask; and the
// CCITT row decoders straight on the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "TIFCCITT.h"
#include "Tiffilt.h"
#include "lxdefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    bool abort = false;
    TProgressRec rec;
    rec.Aborting = &abort;
    TBitmap bmp;
    TLXIOParams params(nullptr);
    int pages = 0;
    s.SetPosition(0);
    TiffDecodeStream(&bmp, &s, pages, nullptr, true, rec, params);
    for (int page = 0; page < 2; ++page) {
        abort = false;
        TLXMask mask;
        params.TiffImageIndex = page;
        s.SetPosition(0);
        TiffDecodeStream(&bmp, &s, pages, page ? &mask : nullptr, false, rec, params);
    }
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
