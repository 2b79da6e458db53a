// libFuzzer target: the metafile import, seeded with the EMF fixtures.
#include "metafile_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return MetafileFuzzOne(data, size); }
