// libFuzzer target: the shortcut-file parser on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ShortcutLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TShellLinkData link;
    (void)ParseShellLink(std::string(reinterpret_cast<const char*>(data), size), link);
    return 0;
}
