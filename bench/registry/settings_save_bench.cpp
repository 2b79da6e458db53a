// The settings dialog's OK (SaveRegistrySettings after the dialog's LoadRegistrySettings)
// with a large settings store beside a small one, and the same 13 values written one by one
// as the dialog used to. The store lies in a folder on the disk (by default under the current
// folder, not /tmp, which may be memory): a save writes, syncs and renames the whole file.
//   settings_save_bench [folder] [runs] [store-MB] [one-by-one runs]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Registry.h"
#include "ScrnSave.h"
#include "SysUtils.h"
#include "bench_util.h"

namespace {

// A store of about Bytes bytes: the player's own section and many other players' sections.
void MakeStore(const std::string& configHome, size_t Bytes) {
    const std::string dir = configHome + "/glimmerdeck/registry";
    if (!ForceDirectories(dir)) std::exit(1);
    std::string t = "GlimmerdeckRegistry 1\n[Software\\Vantorel\\Glimmerdeck\\Screensaver\\Bench]\n"
                    "S\tDuration\t3\nS\tEffect\t2\n";
    char line[160];
    for (int n = 0; t.size() < Bytes; ++n) {
        std::snprintf(line, sizeof line, "[Software\\Vantorel\\Glimmerdeck\\Screensaver\\Show%07d]\n", n);
        t += line;
        for (int v = 0; v < 10; ++v) {
            std::snprintf(line, sizeof line, "S\tValue%d\tsome text of a hand-kept setting, number %09d\n", v,
                          n * 10 + v);
            t += line;
        }
    }
    if (!UpdateFileAtomically(dir + "/HKEY_CURRENT_USER", [&](std::string& c) { c = t; return true; }))
        std::exit(1);
}

void UseStore(const std::string& configHome) { ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1); }

// What the dialog does: its creation reads the settings, OK stores them.
double DialogSave(int Run) {
    LoadRegistrySettings();
    PlayerSettings.Duration = 3 + Run % 7;
    return bench::TimeMs([] { SaveRegistrySettings(); });
}

// The 13 values as single writes, each a rewrite of the store of its own.
double OneByOne(int Run) {
    LoadRegistrySettings();
    PlayerSettings.Duration = 3 + Run % 7;
    const TPlayerSettings& p = PlayerSettings;
    return bench::TimeMs([&] {
        TRegIniFile ini(RegistrySettingsKey());
        const std::string sec = RegistrySection();
        for (const auto& [name, value] : std::vector<std::pair<const char*, std::string>>{
                 {"Background", IntToStr(p.Background)}, {"Duration", IntToStr(p.Duration)},
                 {"Effect", IntToStr(p.Effect)}, {"EffectDuration", IntToStr(p.EffectDuration)},
                 {"Showname", "1"}, {"Loop", "1"}, {"NamePosition", IntToStr(p.NamePosition)},
                 {"NameFont", p.NameFont}, {"NameSize", IntToStr(p.NameSize)}, {"NameShowBackground", "1"},
                 {"NameBackground", IntToStr(p.NameBackground)}, {"NameColor", IntToStr(p.NameColor)},
                 {"Random", "0"}})
            ini.WriteString(sec, name, value);
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const int mb = argc > 3 ? std::atoi(argv[3]) : 64;
    const int oneByOneRuns = argc > 4 ? std::atoi(argv[4]) : 3;
    if (base.empty()) {
        std::string t = "settings-save-bench.XXXXXX";
        if (!::mkdtemp(t.data())) return 1;
        char cwd[4096];
        base = std::string(::getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + t;
    }
    const std::string small = base + "/small", large = base + "/large";
    MakeStore(small, 2000);
    MakeStore(large, size_t(mb) * 1000 * 1000);
    SetProgramArguments("/home/u/Bench.scr", {});
    RunMode = rmConfigure;
    PlayerSettings = NewPlayerSettings();

    std::printf("settings dialog's save, store of %d MB beside a small one (%s), %d runs alternated\n", mb,
                base.c_str(), runs);
    std::vector<double> s, l;
    for (int i = 0; i < runs; ++i) {
        UseStore(small);
        s.push_back(DialogSave(i));
        UseStore(large);
        l.push_back(DialogSave(i));
    }
    bench::PrintRow("one rewrite, small store", bench::Summary(s), "ms");
    bench::PrintRow(("one rewrite, " + std::to_string(mb) + " MB store").c_str(), bench::Summary(l), "ms");
    bench::PrintRow("ratio large / small", bench::Summary(bench::Ratios(l, s)), "x");

    if (oneByOneRuns > 0) {
        std::printf("the 13 values written one by one (13 rewrites), %d runs\n", oneByOneRuns);
        std::vector<double> so, lo;
        for (int i = 0; i < oneByOneRuns; ++i) {
            UseStore(small);
            so.push_back(OneByOne(i));
            UseStore(large);
            lo.push_back(OneByOne(i));
        }
        bench::PrintRow("one by one, small store", bench::Summary(so), "ms");
        bench::PrintRow(("one by one, " + std::to_string(mb) + " MB store").c_str(), bench::Summary(lo), "ms");
        bench::PrintRow("ratio one by one / one rewrite, large store",
                        bench::Summary(bench::Ratios(lo, std::vector<double>(l.begin(), l.begin() + std::min<size_t>(l.size(), lo.size())))), "x");
    }
    std::system(("rm -rf '" + base + "'").c_str());
    return 0;
}
