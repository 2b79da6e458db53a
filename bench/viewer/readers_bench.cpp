// gdview's readers at scale, each beside its normal-sized case:
//  1. a 7 MB language file loaded from the file, beside the same bytes loaded from memory
//     (what reading through a buffer must come close to);
//  2. the album list of an album base with 80,000 folders, beside one with 100 (per folder,
//     the cost must stay flat: no step grows with the square of the folders).
//   readers_bench [runs]
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../bench_util.h"
#include "Registry.h"
#include "ShortcutLink.h"
#include "addtoalbum.h"
#include "global.h"
#include "transclass.h"

namespace fs = std::filesystem;

namespace {

// A language file as the format lays it out (tag 6 strings, tag 2/4 integers), of about
// Bytes bytes of entries.
std::string LanguageFile(size_t Bytes) {
    std::string f;
    auto str = [&](const std::string& s) {
        f += '\x06', f += char(s.size()), f += s;
    };
    auto num = [&](int32_t v) {
        f += '\x04';
        for (int i = 0; i < 4; ++i) f += char(uint32_t(v) >> (8 * i));
    };
    str("GDLF"), num(1), str("MS Sans Serif"), num(8), num(1), str("Deutsch"), str(""), num(0);
    const size_t countAt = f.size();
    num(0);
    int32_t n = 0;
    while (f.size() < Bytes) {
        str("viewer.form" + std::to_string(n % 97) + ".control" + std::to_string(n) + ".caption");
        str("\xDC" "bersetzter Text Nummer " + std::to_string(n) + " f\xFC" "r die Anzeige");
        str("Form" + std::to_string(n % 97)), str(""), num(n);
        ++n;
    }
    for (int i = 0; i < 4; ++i) f[countAt + 1 + size_t(i)] = char(uint32_t(n) >> (8 * i));
    return f;
}

void MakeFolders(const std::string& Base, int Count) {
    fs::create_directories(Base);
    for (int i = 0; i < Count; ++i) {
        // Names of all kinds of letters, and some that repeat in another case.
        const std::string name = (i % 7 == 0 ? "\xC3\x84lbum " : i % 5 == 0 ? "album " : "Album ") + std::to_string(i);
        ::mkdir((Base + "/" + name).c_str(), 0755);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
    std::string tmpl = (fs::temp_directory_path() / "gdview-readers-XXXXXX").string();
    const std::string dir = ::mkdtemp(tmpl.data());
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    fs::create_directories(dir + "/config");

    // 1. The language file.
    const std::string lng = dir + "/big.lng";
    {
        const std::string bytes = LanguageFile(7u << 20);
        std::ofstream(lng, std::ios::binary) << bytes;
    }
    TMemoryStream memory;
    memory.LoadFromFile(lng);
    int entries = 0;
    std::vector<double> fromFile, fromMemory;
    for (int i = 0; i <= runs; ++i) {   // the first pair warms up
        const double f = bench::TimeMs([&] {
            tlangdata t;
            t.LoadFromFile(lng);
            entries = t.Count();
        });
        const double m = bench::TimeMs([&] {
            memory.SetPosition(0);
            tlangdata t;
            t.LoadFromStream(&memory);
        });
        if (i == 0) continue;
        fromFile.push_back(f);
        fromMemory.push_back(m);
    }
    std::printf("Language file, %.1f MB, %d entries, %d runs:\n", double(fs::file_size(lng)) / (1 << 20), entries, runs);
    bench::PrintRow("from memory", bench::Summary(fromMemory), "ms");
    bench::PrintRow("from the file", bench::Summary(fromFile), "ms");
    bench::PrintRow("ratio file / memory (pair by pair)", bench::Summary(bench::Ratios(fromFile, fromMemory)), "x");

    // 2. The album list.
    const std::string small = dir + "/small", large = dir + "/large";
    MakeFolders(small, 100);
    MakeFolders(large, 80000);
    TShortcutLink shortcut(nullptr);
    auto build = [&](const std::string& base, size_t& albums) {
        {
            TRegistry reg;
            reg.OpenKey(kAlbumKey, true);
            reg.WriteString(kAlbumValue, base);
        }
        return bench::TimeMs([&] {
            TAlbumList list;
            BuildAlbumList(list, &shortcut);
            albums = list.Names.size() - 1;
        });
    };
    std::vector<double> t100, t80k, per100, per80k;
    size_t n100 = 0, n80k = 0;
    for (int i = 0; i <= std::max(3, runs / 2); ++i) {
        const double a = build(small, n100), b = build(large, n80k);
        if (i == 0) continue;
        t100.push_back(a);
        t80k.push_back(b);
        per100.push_back(1000.0 * a / double(n100));
        per80k.push_back(1000.0 * b / double(n80k));
    }
    std::printf("Album list (%zu and %zu folders), %zu runs:\n", n100, n80k, t100.size());
    bench::PrintRow("100 folders", bench::Summary(t100), "ms");
    bench::PrintRow("80,000 folders", bench::Summary(t80k), "ms");
    bench::PrintRow("per folder, 100 folders", bench::Summary(per100), "us");
    bench::PrintRow("per folder, 80,000 folders", bench::Summary(per80k), "us");
    bench::PrintRow("ratio per folder 80,000 / 100 (pair by pair)", bench::Summary(bench::Ratios(per80k, per100)),
                    "x   (flat: about 1)");
    fs::remove_all(dir);
    return 0;
}
