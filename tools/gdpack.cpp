// gdpack: makes a personal screen saver or slideshow from the bare player, and lists the
// blocks of a player file. `gdpack --help` tells every option and field.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PhotoPool.h"
#include "PlayerFile.h"
#include "ShowCheck.h"
#include "ShowFiles.h"

using namespace gdpack;

namespace {

const char kUsage[] =
    "usage: gdpack build -o OUT [--base PLAYER] [PHOTO]... [--photo NAME COMMENT FILE]...\n"
    "                    [--music FILE] [--set FIELD=VALUE]... [--text N=TEXT]...\n"
    "                    [--text-file N=PATH]... [-- PHOTO...]\n"
    "       gdpack list FILE\n"
    "       gdpack --help\n";

const char kHelp[] =
    "\n"
    "build: copies the bare player and appends the show to it: the photos, the music and the\n"
    "settings. Name OUT with .exe for a slideshow, with .scr for a screen saver.\n"
    "  -o OUT                    the player file to write (made executable). It is written\n"
    "                            beside OUT under a hidden name and renamed over OUT only\n"
    "                            when whole: a build that fails leaves OUT as it was. OUT may\n"
    "                            not be one of the inputs (the same file, also through a link).\n"
    "  --base PLAYER             the bare player; default: the one built beside gdpack\n"
    "                            (../saver/GlimmerdeckScreenSaver). A player file that already\n"
    "                            holds a show gives only the bare player in front of its\n"
    "                            blocks (said on stderr).\n"
    "  PHOTO                     a photo file (JPEG, PNG, TIFF, BMP, PCX, TGA, PNM, ICO, CUR);\n"
    "                            its title is the file name without folder and extension,\n"
    "                            byte for byte (a name that is no UTF-8 shows as Windows-1252)\n"
    "  --photo NAME COMMENT FILE a photo with its title and a comment (never shown)\n"
    "                            Photos are shown in the order given. Each is read as the\n"
    "                            player reads it; one it cannot show (no image by its content,\n"
    "                            GIF, LZW TIFF, a picture that does not decode, one of more\n"
    "                            than 2^28 pixels) is left out and named on stderr, with the\n"
    "                            reason. They are checked on every core; on a\n"
    "                            terminal a line on stderr tells how far the build is.\n"
    "  --music FILE              an audio file played in a loop during the show: WAV, AIFF,\n"
    "                            MP3, Ogg (Vorbis, Opus, FLAC, Speex), FLAC, AAC, MP4 audio\n"
    "                            (.m4a) or Matroska (.mka, .webm), told by its content (not WMA\n"
    "                            or MIDI); MusicName becomes its file name\n"
    "  --set FIELD=VALUE         one setting (below); numbers in decimal or 0x hex\n"
    "  --text N=TEXT             user-interface text N (below)\n"
    "  --text-file N=PATH        user-interface text N from a file\n"
    "  --                        ends the options: every argument after it is a photo, also\n"
    "                            one whose name begins with -\n"
    "A photo, the music, a text file and the base must be regular files: a FIFO, a device or a\n"
    "folder is refused at once, without being read (a photo is skipped and named; any other\n"
    "ends the build, nothing written).\n"
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
    "line, a setting outside its range, or an output that is one of the inputs.\n"
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

// Progress on a terminal: "gdpack: 3/32 file", redrawn on one line; nothing otherwise.
class Progress {
public:
    explicit Progress(size_t Total) : on_(::isatty(2) == 1), total_(Total) {}
    ~Progress() { Clear(); }

    void Show(size_t Number, const std::string& File) {
        if (!on_) return;
        std::string line = "gdpack: " + std::to_string(Number) + "/" + std::to_string(total_) + " ";
        winsize ws{};
        const size_t width = ::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
        // A line that wraps cannot be redrawn: a long name loses its front.
        std::string name = File;
        auto columns = [](const std::string& s) {
            size_t c = 0;
            for (unsigned char ch : s) c += (ch & 0xC0) != 0x80;
            return c;
        };
        if (line.size() + columns(name) + 1 > width) {
            while (!name.empty() && line.size() + 3 + columns(name) + 1 > width) {
                size_t cut = 1;
                while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
                name.erase(0, cut);
            }
            name = "..." + name;
        }
        std::cerr << "\r\033[K" << line << name << std::flush;
        shown_ = true;
    }
    void Clear() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }

private:
    bool on_, shown_ = false;
    size_t total_;
};

// An input the output would replace, if any: "the photo X", "the base player X", ...
struct NamedInput {
    std::string What, Path;
    std::optional<FileId> Id;
};

int Build(int argc, char** argv) {
    PlayerFile pf;
    pf.Settings = NewShowSettings();
    std::string out, base;
    bool musicNameSet = false;
    std::string musicPath;
    std::vector<PhotoArg> photos;
    std::vector<NamedInput> inputs;   // besides base, music and photos: the text files
    std::vector<std::string> refused;   // settings outside their ranges, as given
    bool onlyPhotos = false;
    auto addPhoto = [&](const std::string& a) {
        PhotoArg p{BaseName(a), "", a};
        if (const auto dot = p.Name.rfind('.'); dot != std::string::npos && dot > 0) p.Name.erase(dot);
        photos.push_back(std::move(p));
    };
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto need = [&](int n) {
            if (i + n >= argc) Usage(a + " needs " + std::to_string(n) + " argument(s)");
        };
        if (onlyPhotos) addPhoto(a);
        else if (a == "--") onlyPhotos = true;
        else if (a == "-o") { need(1); out = argv[++i]; }
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
                const Bytes b = ReadInputFile(v, "the text file ");
                pf.Settings.Texts[idx].assign(b.begin(), b.end());
                inputs.push_back({"the text file", v, IdOf(v)});
            }
        } else if (!a.empty() && a[0] != '-') addPhoto(a);
        else Usage("unknown option " + a);
    }
    if (base.empty()) base = DefaultBase();
    if (out.empty() || base.empty()) Usage("build needs -o, and --base where no player is built beside gdpack");

    // Values the player would not take: nothing is written.
    auto problems = SettingProblems(pf.Settings);
    problems.insert(problems.begin(), refused.begin(), refused.end());
    for (const auto& p : problems) std::cerr << "gdpack: " << p << "; nothing written\n";
    if (!problems.empty()) return 2;

    // The output goes where a link named by -o points, and never over one of the inputs.
    const std::string outName = out;
    struct stat ost;
    if (::lstat(out.c_str(), &ost) == 0 && S_ISLNK(ost.st_mode))
        if (char* real = ::realpath(out.c_str(), nullptr)) {
            out = real;
            std::free(real);
        }
    if (::stat(out.c_str(), &ost) == 0) {
        if (!S_ISREG(ost.st_mode)) {
            std::cerr << "gdpack: cannot write " << outName << ": it is "
                      << (S_ISDIR(ost.st_mode) ? "a folder" : "no regular file") << "; nothing written\n";
            return 1;
        }
        inputs.insert(inputs.begin(), {"the base player", base, IdOf(base)});
        if (!musicPath.empty()) inputs.push_back({"the music", musicPath, IdOf(musicPath)});
        for (const auto& p : photos) inputs.push_back({"the photo", p.Path, IdOf(p.Path)});
        const FileId outId{ost.st_dev, ost.st_ino};
        for (const auto& in : inputs)
            if (in.Id && *in.Id == outId) {
                std::cerr << "gdpack: the output " << outName << " is " << in.What << " " << in.Path
                          << "; nothing written\n";
                return 2;
            }
    }

    // The music is checked in place, reading only its headers, and copied into the show
    // from its file: it is never held whole.
    std::optional<FileSource> music;
    std::string musicType;
    if (!musicPath.empty()) {
        std::string why;
        const int fd = OpenInput(musicPath, why);
        if (fd >= 0) {
            music.emplace(fd, musicPath);
            if (music->Size() > kMaxShowSize) why = "it is larger than a show can hold";
        }
        if (!why.empty()) {
            std::cerr << "gdpack: " << musicPath << " cannot be the music: " << why << "; nothing written\n";
            return 1;
        }
        if (!musicNameSet) pf.Settings.MusicName = BaseName(musicPath);
        if (const std::string why = MusicProblem(*music, pf.Settings.MusicName); !why.empty()) {
            std::cerr << "gdpack: " << musicPath << " cannot be the music: " << why << "; nothing written\n";
            return 1;
        }
        musicType = MusicType(*music);
    } else if (!pf.Settings.MusicName.empty()) {
        std::cerr << "gdpack: MusicName is set but no --music file is given; nothing written\n";
        return 2;
    }
    if (photos.empty()) {
        std::cerr << "gdpack: no photo given; a show needs at least one; nothing written\n";
        return 1;
    }

    // The base player; one that already carries a show gives only what is in front of it.
    std::string why;
    const int baseFd = OpenInput(base, why);
    if (baseFd < 0) {
        std::cerr << "gdpack: cannot read the base player " << base << ": " << why << "; nothing written\n";
        return 1;
    }
    struct stat bst;
    if (::fstat(baseFd, &bst) != 0) throw std::runtime_error("cannot read " + base + ": " + std::strerror(errno));
    int blocks = 0;
    const uint64_t bare = BarePlayerLength(baseFd, uint64_t(bst.st_size), blocks);
    if (blocks > 0)
        std::cerr << "gdpack: " << base << " is a show already (" << blocks << (blocks == 1 ? " block" : " blocks")
                  << "); only the bare player in front of them is used\n";

    // The show is written as it is put together, photo by photo, into a file of its own; it
    // replaces the output only when it is whole.
    ShowOutput file(out);
    file.CopyFrom(baseFd, bare, "the base player " + base);
    ::close(baseFd);
    std::vector<std::string> paths;
    for (const auto& p : photos) paths.push_back(p.Path);
    size_t packed = 0, skipped = 0;
    {
        Progress progress(photos.size());
        progress.Show(1, paths[0]);
        CheckPhotosInOrder(paths, UsableCores(), [&](size_t i, CheckedPhoto&& c) {
            if (!c.Why.empty()) {
                progress.Clear();
                std::cerr << "gdpack: skipped " << photos[i].Path << ": " << c.Why << "\n";
                ++skipped;
            } else {
                const uint64_t start = file.Offset();
                Bytes head;
                AppendString(head, photos[i].Name);
                AppendString(head, photos[i].Comment);
                file.Write(head);
                file.Write(c.Image);
                file.EndBlock(start);
                ++packed;
            }
            if (i + 1 < paths.size()) progress.Show(i + 2, paths[i + 1]);
        });
    }
    if (packed == 0) {
        std::cerr << "gdpack: none of the " << photos.size() << " photo(s) given is one the player can show; "
                  << "nothing written\n";
        return 1;
    }
    uint64_t start = file.Offset();
    if (music) file.CopyFrom(music->Descriptor(), music->Size(), "the music " + musicPath);
    file.EndBlock(start);
    Block0 b = pf.Settings;
    if (pf.SetPhotoCount) b.PhotoCount = int32_t(packed);
    start = file.Offset();
    file.Write(EncodeBlock0(b));
    file.EndBlock(start);
    const uint64_t total = file.Offset();
    file.Commit();

    std::string summary = "gdpack: wrote " + outName + ": " + std::to_string(packed) + (packed == 1 ? " photo" : " photos");
    if (skipped) summary += " (" + std::to_string(skipped) + " skipped)";
    summary += !music ? ", no music"
                      : ", music " + pf.Settings.MusicName + " (" + musicType + ", " +
                            SizeText(size_t(music->Size())) + ")";
    summary += ", " + SizeText(size_t(total)) + " in all";
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
        // A build that fails leaves the output as it was.
        std::cerr << "gdpack: " << e.what() << (cmd == "build" ? "; nothing written" : "") << "\n";
        return 1;
    }
    Usage("unknown command " + cmd);
}
