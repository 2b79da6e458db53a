// One fuzz input through the block reader and the block-0 parser.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is taken as a whole player file. Aborts when an invariant breaks (a block larger
// than the file, a photo count out of range, text that is not UTF-8 after decoding).
int FuzzPlayerBlocks(const uint8_t* Data, size_t Size);
