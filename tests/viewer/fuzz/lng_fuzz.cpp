// libFuzzer target: a language file from memory into a translation table, then the lookups of
// the viewer's global strings: whatever the file says, a name of a file or folder stays one
// plain path component.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Classes.h"
#include "SysUtils.h"
#include "global.h"
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
    LangData = &table;
    LoadGlobalStrings();
    LangData = nullptr;
    const TGlobalStrings& g = GlobalStrings;
    for (const std::string* name : {&g.sgdalbumsname, &g.sdumpdir, &g.sbatchdir, &g.sscreesaverdir, &g.sPhotobookDir,
                                    &g.sslideshowdir, &g.shtmldir, &g.spdfdir, &g.sbackupdir, &g.spalmdir,
                                    &g.shtmlcommentfile})
        if (!IsPathComponent(*name)) std::abort();
    return 0;
}
