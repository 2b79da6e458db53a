// libFuzzer target: the settings store's text on any bytes. A rewrite must read back as the
// text it came from (every value, every kept line) and be its own rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string once = RewriteRegistryStore(text);
    if (DescribeRegistryStore(once) != DescribeRegistryStore(text)) {
        std::fprintf(stderr, "a rewrite changed what the store holds\n");
        std::abort();
    }
    if (RewriteRegistryStore(once) != once) {
        std::fprintf(stderr, "a second rewrite changed the store\n");
        std::abort();
    }
    return 0;
}
