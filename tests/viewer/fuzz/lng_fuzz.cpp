// libFuzzer target: a language file from memory into a translation table, then a lookup.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "SysUtils.h"
#include "transclass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    s.SetPosition(0);
    tlangdata table;
    try {
        table.LoadFromStream(&s);
    } catch (const Exception&) {
    }
    (void)table.Translate("viewer.title", "Glimmerdeck Viewer");
    return 0;
}
