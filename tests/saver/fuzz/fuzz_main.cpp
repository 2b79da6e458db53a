// libFuzzer entry for the block reader and the block-0 parser.
#include "FuzzBlocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    return FuzzPlayerBlocks(Data, Size);
}
