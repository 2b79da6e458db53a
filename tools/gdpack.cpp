// gdpack: makes a personal screen saver or slideshow from the bare player, and lists the
// blocks of a player file.
//
//   gdpack build -o OUT --base PLAYER [--photo NAME COMMENT FILE]... [--music FILE]
//                [--set FIELD=VALUE]... [--text N=TEXT]... [--text-file N=PATH]...
//   gdpack list FILE
//
// Photos are given in show order. FIELD is a block-0 field name (Duration, Effect, Random,
// NameFont, MusicName, AboutText, ...); MusicName defaults to the music file's name.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

#include "PlayerFile.h"

using namespace gdpack;

namespace {

[[noreturn]] void Usage(const std::string& why) {
    if (!why.empty()) std::cerr << "gdpack: " << why << "\n";
    std::cerr << "usage: gdpack build -o OUT --base PLAYER [--photo NAME COMMENT FILE]...\n"
                 "                    [--music FILE] [--set FIELD=VALUE]... [--text N=TEXT]...\n"
                 "                    [--text-file N=PATH]...\n"
                 "       gdpack list FILE\n";
    std::exit(2);
}

std::string BaseName(const std::string& p) {
    const auto s = p.find_last_of('/');
    return s == std::string::npos ? p : p.substr(s + 1);
}

void SplitAssign(const std::string& arg, std::string& key, std::string& value) {
    const auto eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) Usage("expected NAME=VALUE, got '" + arg + "'");
    key = arg.substr(0, eq);
    value = arg.substr(eq + 1);
}

size_t TextIndex(const std::string& s) {
    char* end = nullptr;
    const unsigned long i = std::strtoul(s.c_str(), &end, 10);
    if (s.empty() || *end || i >= kTextCount) Usage("text index must be 0.." + std::to_string(kTextCount - 1));
    return i;
}

int Build(int argc, char** argv) {
    PlayerFile pf;
    std::string out, base;
    bool musicNameSet = false;
    std::string musicPath;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto need = [&](int n) {
            if (i + n >= argc) Usage(a + " needs " + std::to_string(n) + " argument(s)");
        };
        if (a == "-o") { need(1); out = argv[++i]; }
        else if (a == "--base") { need(1); base = argv[++i]; }
        else if (a == "--photo") {
            need(3);
            Photo p;
            p.Name = argv[i + 1];
            p.Comment = argv[i + 2];
            p.Image = ReadFileBytes(argv[i + 3]);
            pf.Photos.push_back(std::move(p));
            i += 3;
        } else if (a == "--music") { need(1); musicPath = argv[++i]; }
        else if (a == "--set") {
            need(1);
            std::string k, v;
            SplitAssign(argv[++i], k, v);
            if (!SetBlock0Field(pf.Settings, k, v)) Usage("bad field or value: " + k + "=" + v);
            if (k == "MusicName") musicNameSet = true;
            if (k == "PhotoCount") pf.SetPhotoCount = false;
        } else if (a == "--text" || a == "--text-file") {
            need(1);
            std::string k, v;
            SplitAssign(argv[++i], k, v);
            const size_t idx = TextIndex(k);
            if (a == "--text") pf.Settings.Texts[idx] = v;
            else {
                const Bytes b = ReadFileBytes(v);
                pf.Settings.Texts[idx].assign(b.begin(), b.end());
            }
        } else Usage("unknown option " + a);
    }
    if (out.empty() || base.empty()) Usage("build needs -o and --base");
    pf.Base = ReadFileBytes(base);
    if (!musicPath.empty()) {
        pf.Music = ReadFileBytes(musicPath);
        if (!musicNameSet) pf.Settings.MusicName = BaseName(musicPath);
    }
    WriteFileBytes(out, pf.Build(), true);
    return 0;
}

int List(const std::string& path) {
    const Bytes file = ReadFileBytes(path);
    const auto blocks = ListBlocks(file);
    std::printf("%s: %zu bytes, %zu block(s)\n", path.c_str(), file.size(), blocks.size());
    for (const auto& b : blocks) {
        std::string what = b.Number == 0 ? "settings" : b.Number == 1 ? "music" : "photo";
        if (b.Number >= 2 && b.Size >= 4) {
            const uint8_t* p = file.data() + b.Offset;
            const uint32_t len = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                 uint32_t(p[3]) << 24;
            if (uint64_t(len) + 4 <= b.Size)
                what += " \"" + std::string(reinterpret_cast<const char*>(p + 4), len) + "\"";
        }
        if (b.Number == 0 && b.Size >= 4) {
            const uint8_t* p = file.data() + b.Offset;
            const int32_t n = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                      uint32_t(p[3]) << 24);
            what += ", PhotoCount " + std::to_string(n);
        }
        std::printf("block %d: offset %u, size %u, %s\n", b.Number, b.Offset, b.Size, what.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Usage("");
    const std::string cmd = argv[1];
    try {
        if (cmd == "build") return Build(argc, argv);
        if (cmd == "list" && argc == 3) return List(argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "gdpack: " << e.what() << "\n";
        return 1;
    }
    Usage("unknown command " + cmd);
}
