// gdpack: makes a personal screen saver or slideshow from the bare player, and lists the
// blocks of a player file. `gdpack --help` tells every option and field.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PlayerFile.h"
#include "ShowCheck.h"

using namespace gdpack;

namespace {

const char kUsage[] =
    "usage: gdpack build -o OUT [--base PLAYER] [PHOTO]... [--photo NAME COMMENT FILE]...\n"
    "                    [--music FILE] [--set FIELD=VALUE]... [--text N=TEXT]...\n"
    "                    [--text-file N=PATH]...\n"
    "       gdpack list FILE\n"
    "       gdpack --help\n";

const char kHelp[] =
    "\n"
    "build: copies the bare player and appends the show to it: the photos, the music and the\n"
    "settings. Name OUT with .exe for a slideshow, with .scr for a screen saver.\n"
    "  -o OUT                    the player file to write (made executable)\n"
    "  --base PLAYER             the bare player; default: the one built beside gdpack\n"
    "                            (../saver/GlimmerdeckScreenSaver)\n"
    "  PHOTO                     a photo file (JPEG, PNG, TIFF, BMP, PCX, TGA, PNM, ICO, CUR);\n"
    "                            its title is the file name without folder and extension\n"
    "  --photo NAME COMMENT FILE a photo with its title and a comment (never shown)\n"
    "                            Photos are shown in the order given. Each is read as the\n"
    "                            player reads it; one it cannot show (no image by its content,\n"
    "                            GIF, LZW TIFF, a picture that does not decode) is left out and\n"
    "                            named on stderr.\n"
    "  --music FILE              an audio file played in a loop during the show: WAV, AIFF,\n"
    "                            MP3, Ogg (Vorbis, Opus, FLAC, Speex), FLAC, AAC, MP4 audio\n"
    "                            (.m4a) or Matroska (.mka, .webm), told by its content (not WMA\n"
    "                            or MIDI); MusicName becomes its file name\n"
    "  --set FIELD=VALUE         one setting (below); numbers in decimal or 0x hex\n"
    "  --text N=TEXT             user-interface text N (below)\n"
    "  --text-file N=PATH        user-interface text N from a file\n"
    "\n"
    "Settings (FIELD, meaning and unit, default). Colours are TColor values 0x00BBGGRR:\n"
    "blue in the high byte, red in the low one (0x0000FF is red, 0xFF0000 is blue); the\n"
    "system colours 0x80000000..0x80000018 are taken too. A value outside its range is refused.\n"
    "  Duration            display time of a photo, seconds (0..2147483);       5\n"
    "                      -1: until a key\n"
    "  Effect              transition: 0 None, 1 Crossfade, 2 Fade, 3 Paint,    1\n"
    "                      4 Move, 5 Boxes, 6 Zoom in, 7 Zoom out\n"
    "  EffectDuration      transition time, seconds (0..60)                     2\n"
    "  Background          colour behind the photos, TColor                     0x000000\n"
    "  AutoFit             fit photos to the screen, 0 or 1 (0: actual size)    1\n"
    "  Random              random photo order, 0 or 1                           0\n"
    "  Loop                start again after the last photo, 0 or 1             1\n"
    "                      (a screen saver always loops)\n"
    "  Showname            show each photo's title, 0 or 1                      1\n"
    "  NamePosition        title position: 0 top left, 1 top centre, 2 top      4\n"
    "                      right, 3 bottom left, 4 bottom centre, 5 bottom right\n"
    "  NameFont            title font name                                      DejaVu Sans\n"
    "  NameSize            title font size, points (4..128)                     12\n"
    "  NameColor           title text colour, TColor                            0xFFFFFF\n"
    "  NameShowBackground  title on an opaque box, 0 or 1                       1\n"
    "  NameBackground      colour of that box, TColor                           0x000000\n"
    "  MusicName           name of the music file; only its extension counts    from --music\n"
    "  AboutText           text of the about box (settings dialog, Info)        empty\n"
    "  PhotoCount          number of photos; set only to make a broken file     counted\n"
    "  Unused              a string the player skips                            empty\n"
    "A user's own changes in the settings dialog are kept per player file and override these.\n"
    "\n"
    "Texts (N, where it shows); each has a default, the dialogs' own wording:\n"
    "   0 help page (markup: <B> <I> <U> <FONT FACE= SIZE= COLOR=> <P ALIGN=> <BR> <HR>\n"
    "     <UL><LI> <A HREF=\"...\">; &amp; &lt; &gt; &nbsp; ...; a line break is a <BR>)\n"
    "   1 OK button          2 Cancel button          3 Info button\n"
    "   4 Exit Slideshow button                       5 created-with label (hidden)\n"
    "   6 photo group        7 display-time label     8 effect label\n"
    "   9 effect-duration label                      10 background label and check box\n"
    "  11 loop check box    12 random check box      13 \"forever\" item of the time list\n"
    "  14 title group       15 show-title check box  16 font label\n"
    "  17 size label        18 colour label\n"
    "  19 the 8 effect names, one a line   20 the 6 title positions, one a line\n"
    "  21 help dialog caption              22 settings caption, slideshow\n"
    "  23 settings caption, screen saver   24 about caption, slideshow\n"
    "  25 about caption, screen saver\n"
    "\n"
    "Exit status: 0 the show was written (photos left out are named on stderr, and a line on\n"
    "stdout tells what it holds); 1 nothing written: no photo the player can show, music it\n"
    "cannot play, a file that cannot be read or written; 2 nothing written: a wrong command\n"
    "line or a setting outside its range.\n"
    "\n"
    "list: prints the blocks of a player file (settings, music, photos with their titles).\n";

[[noreturn]] void Usage(const std::string& why) {
    if (!why.empty()) std::cerr << "gdpack: " << why << "\n";
    std::cerr << kUsage << "(gdpack --help tells every option, setting and text)\n";
    std::exit(2);
}

// The player built beside this tool: <build>/tools/gdpack and <build>/saver/GlimmerdeckScreenSaver.
std::string DefaultBase() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    std::string dir(self, size_t(n));
    dir.erase(dir.find_last_of('/') + 1);
    const std::string base = dir + "../saver/GlimmerdeckScreenSaver";
    return ::access(base.c_str(), R_OK) == 0 ? base : "";
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

// A photo as given on the command line; its file is read when the show is put together.
struct PhotoArg {
    std::string Name, Comment, Path;
};

std::string SizeText(size_t bytes) {
    char t[32];
    if (bytes < 10000) std::snprintf(t, sizeof t, "%zu bytes", bytes);
    else if (bytes < 10000000) std::snprintf(t, sizeof t, "%zu KB", (bytes + 500) / 1000);
    else std::snprintf(t, sizeof t, "%zu MB", (bytes + 500000) / 1000000);
    return t;
}

int Build(int argc, char** argv) {
    PlayerFile pf;
    pf.Settings = NewShowSettings();
    std::string out, base;
    bool musicNameSet = false;
    std::string musicPath;
    std::vector<PhotoArg> photos;
    std::vector<std::string> refused;   // settings outside their ranges, as given
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto need = [&](int n) {
            if (i + n >= argc) Usage(a + " needs " + std::to_string(n) + " argument(s)");
        };
        if (a == "-o") { need(1); out = argv[++i]; }
        else if (a == "--base") { need(1); base = argv[++i]; }
        else if (a == "--photo") {
            need(3);
            photos.push_back({argv[i + 1], argv[i + 2], argv[i + 3]});
            i += 3;
        } else if (a == "--music") { need(1); musicPath = argv[++i]; }
        else if (a == "--set") {
            need(1);
            std::string k, v;
            SplitAssign(argv[++i], k, v);
            if (std::string why = SettingValueProblem(k, v); !why.empty()) refused.push_back(std::move(why));
            else if (!SetBlock0Field(pf.Settings, k, v)) Usage("bad field or value: " + k + "=" + v);
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
        } else if (!a.empty() && a[0] != '-') {
            PhotoArg p{BaseName(a), "", a};
            if (const auto dot = p.Name.rfind('.'); dot != std::string::npos && dot > 0)
                p.Name.erase(dot);
            photos.push_back(std::move(p));
        } else Usage("unknown option " + a);
    }
    if (base.empty()) base = DefaultBase();
    if (out.empty() || base.empty()) Usage("build needs -o, and --base where no player is built beside gdpack");

    // Values the player would not take: nothing is written.
    auto problems = SettingProblems(pf.Settings);
    problems.insert(problems.begin(), refused.begin(), refused.end());
    for (const auto& p : problems) std::cerr << "gdpack: " << p << "; nothing written\n";
    if (!problems.empty()) return 2;
    if (!musicPath.empty()) {
        if (!musicNameSet) pf.Settings.MusicName = BaseName(musicPath);
        // Checked in place, reading only its headers, before it is taken.
        if (const std::string why = MusicProblem(FileSource(musicPath), pf.Settings.MusicName); !why.empty()) {
            std::cerr << "gdpack: " << musicPath << " cannot be the music: " << why << "; nothing written\n";
            return 1;
        }
        pf.Music = ReadFileBytes(musicPath);
    } else if (!pf.Settings.MusicName.empty()) {
        std::cerr << "gdpack: MusicName is set but no --music file is given; nothing written\n";
        return 2;
    }

    // Each photo as the player will read it; the ones it cannot show are named and left out.
    size_t skipped = 0;
    for (const auto& a : photos) {
        Photo p;
        p.Name = a.Name;
        p.Comment = a.Comment;
        std::string why;
        if (::access(a.Path.c_str(), R_OK) != 0) why = std::string("it cannot be read: ") + std::strerror(errno);
        else try {
            p.Image = ReadFileBytes(a.Path);
            why = PhotoProblem(p.Image);
        } catch (const std::exception& e) {
            why = e.what();
        }
        if (!why.empty()) {
            std::cerr << "gdpack: skipped " << a.Path << ": " << why << "\n";
            ++skipped;
            continue;
        }
        pf.Photos.push_back(std::move(p));
    }
    if (photos.empty()) {
        std::cerr << "gdpack: no photo given; a show needs at least one; nothing written\n";
        return 1;
    }
    if (pf.Photos.empty()) {
        std::cerr << "gdpack: none of the " << photos.size() << " photo(s) given is one the player can show; "
                  << "nothing written\n";
        return 1;
    }

    pf.Base = ReadFileBytes(base);
    const Bytes file = pf.Build();
    WriteFileBytes(out, file, true);
    std::string summary = "gdpack: wrote " + out + ": " + std::to_string(pf.Photos.size()) +
                          (pf.Photos.size() == 1 ? " photo" : " photos");
    if (skipped) summary += " (" + std::to_string(skipped) + " skipped)";
    summary += pf.Music.empty() ? ", no music"
                                : ", music " + pf.Settings.MusicName + " (" + MusicType(pf.Music) + ", " +
                                      SizeText(pf.Music.size()) + ")";
    summary += ", " + SizeText(file.size()) + " in all";
    std::cout << summary << "\n";
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
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << kUsage << kHelp;
        return 0;
    }
    try {
        if (cmd == "build") return Build(argc, argv);
        if (cmd == "list" && argc == 3) return List(argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "gdpack: " << e.what() << "\n";
        return 1;
    }
    Usage("unknown command " + cmd);
}
