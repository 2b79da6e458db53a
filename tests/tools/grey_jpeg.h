// Photos made at test time.
#pragma once

#include "PlayerFile.h"

inline void PutBe16(gdpack::Bytes& b, uint32_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }

// A valid grey baseline JPEG of any size, made without encoding a pixel: every 8 x 8 block
// is mid grey, a DC difference of 0 and an end of block, each a 1-bit Huffman code "0", so
// the scan is all zero bytes (20000 x 20000 takes 1.5 MB).
inline gdpack::Bytes GreyJpeg(uint32_t w, uint32_t h) {
    gdpack::Bytes j = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    j.insert(j.end(), 64, 1);
    j.insert(j.end(), {0xFF, 0xC0, 0, 11, 8});
    PutBe16(j, h);
    PutBe16(j, w);
    j.insert(j.end(), {1, 1, 0x11, 0});
    for (int table : {0x00, 0x10}) {   // DC 0, then AC 0: one code of length 1 for symbol 0
        j.insert(j.end(), {0xFF, 0xC4, 0, 20, uint8_t(table), 1});
        j.insert(j.end(), 15, 0);
        j.push_back(0);
    }
    j.insert(j.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0});
    const uint64_t blocks = uint64_t((w + 7) / 8) * ((h + 7) / 8);
    j.insert(j.end(), size_t((blocks * 2 + 7) / 8), 0);
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

