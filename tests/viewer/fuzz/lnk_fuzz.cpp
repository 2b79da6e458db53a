// libFuzzer target: the shortcut-file parser on any bytes. A link it reads holds no path
// with a NUL in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ShortcutLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TShellLinkData link;
    if (!ParseShellLink(std::string(reinterpret_cast<const char*>(data), size), link)) return 0;
    for (const std::string* path : {&link.Target, &link.RelativePath, &link.WorkingDir, &link.IconLocation})
        if (path->find('\0') != std::string::npos) std::abort();
    return 0;
}
