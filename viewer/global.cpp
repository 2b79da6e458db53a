#include "global.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "AppShell.h"
#include "Forms.h"
#include "SysUtils.h"
#include "transclass.h"

TGlobalStrings GlobalStrings;

std::vector<std::string> TGlobalStrings::ExcludedFolders() const {
    return {sdumpdir, sbatchdir, sscreesaverdir, sslideshowdir, shtmldir, spdfdir, sbackupdir, spalmdir};
}

bool IsPathComponent(const std::string& Name) {
    if (Name.empty() || Name == "." || Name == ".." || Name.size() > kMaxPathComponent) return false;
    // Both separators: a language file is written on Windows.
    return Name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string PathComponentOr(const std::string& Name, const std::string& Default) {
    return IsPathComponent(Name) ? Name : Default;
}

void LoadGlobalStrings() {
    const TGlobalStrings d;
    TGlobalStrings& g = GlobalStrings;
    // The names of files and folders: a translation that is not one plain name keeps the
    // built-in one, so that no text of a language file can lead a path elsewhere.
    auto name = [](const char* key, const std::string& builtIn) { return PathComponentOr(Translate(key, builtIn), builtIn); };
    g.sgdalbumsname = name("global.sgdalbumsname", d.sgdalbumsname);
    g.sbasenameattach = Translate("global.sbasenameattach", d.sbasenameattach);
    g.smsgwarning = Translate("messagedlg.warning", d.smsgwarning);
    g.smsginformation = Translate("messagedlg.information", d.smsginformation);
    g.smsgconfirmation = Translate("messagedlg.confirmation", d.smsgconfirmation);
    g.smsgerror = Translate("messagedlg.error", d.smsgerror);
    g.sdumpdir = name("global.sdumpdir", d.sdumpdir);
    g.sbatchdir = name("global.sbatchdir", d.sbatchdir);
    g.sscreesaverdir = name("global.sscreesaverdir", d.sscreesaverdir);
    g.sPhotobookDir = name("global.sPhotobookDir", d.sPhotobookDir);
    g.sslideshowdir = name("global.sslideshowdir", d.sslideshowdir);
    g.shtmldir = name("global.shtmldir", d.shtmldir);
    g.spdfdir = name("global.spdfdir", d.spdfdir);
    g.sbackupdir = name("global.sbackupdir", d.sbackupdir);
    g.spalmdir = name("global.spalmdir", d.spalmdir);
    g.shtmlcommentfile = name("global.shtmlcommentfile", d.shtmlcommentfile);
}

unsigned LangMessageBoxFlags(TMsgDlgType Type, TMsgDlgButtons Buttons) {
    unsigned flags = MB_OK;
    if (Buttons == MsgDlgButtons({mbYes, mbNo})) flags = MB_YESNO;
    else if (Buttons == mbYesNoCancel) flags = MB_YESNOCANCEL;
    else if (Buttons == mbOKCancel) flags = MB_OKCANCEL;
    else if (Buttons == MsgDlgButtons({mbCancel, mbRetry})) flags = MB_RETRYCANCEL;
    else if (Buttons == mbAbortRetryIgnore) flags = MB_ABORTRETRYIGNORE;
    switch (Type) {
    case mtWarning: return flags | MB_ICONWARNING;
    case mtError: return flags | MB_ICONERROR;
    case mtInformation: return flags | MB_ICONINFORMATION;
    case mtConfirmation: return flags | MB_ICONQUESTION;
    default: return flags;
    }
}

int LangMessageBox(const std::string& Text, TMsgDlgType Type, TMsgDlgButtons Buttons, int) {
    std::string caption;
    switch (Type) {
    case mtWarning: caption = GlobalStrings.smsgwarning; break;
    case mtError: caption = GlobalStrings.smsgerror; break;
    case mtInformation: caption = GlobalStrings.smsginformation; break;
    case mtConfirmation: caption = GlobalStrings.smsgconfirmation; break;
    default: break;
    }
    const unsigned flags = LangMessageBoxFlags(Type, Buttons);
    const int answer = Application ? Application->MessageBox(Text, caption, flags) : MessageBox(Text, caption, flags);
    switch (answer) {
    case IDOK: case IDABORT: case IDRETRY: case IDIGNORE: case IDYES: case IDNO: return answer;
    default: return mrCancel;
    }
}

namespace {

std::string Reason() { return std::strerror(errno); }

// Closes the descriptor and removes the unfinished temporary file unless it was committed.
struct TempFile {
    int fd = -1;
    std::string name;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!name.empty()) ::unlink(name.c_str());
    }
};

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

void CopyFileByStream(const std::string& Source, const std::string& Target, const TFileState* Expected) {
    std::error_code ec;
    if (std::filesystem::equivalent(Source, Target, ec) && !ec) return;
    Fd in{::open(Source.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError("Cannot open file \"" + Source + "\". " + (in.fd < 0 ? Reason() : "Not a regular file"));
    const char* const kChanged = "The file has changed since the photo was opened; open it again to add it";
    if (Expected && FileStateOf(st) != *Expected) throw EReadError("Cannot read file \"" + Source + "\". " + kChanged);

    // The new file gets the old one's permissions, or what a newly created file would get.
    mode_t mode;
    struct stat old {};
    if (::stat(Target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    TempFile tmp;
    const std::string folder = std::filesystem::path(Target).parent_path().string();
    std::string pattern = (folder.empty() ? std::string(".") : folder) + "/.gdview-copy-XXXXXX";
    tmp.fd = ::mkstemp(pattern.data());
    if (tmp.fd < 0) throw EFCreateError("Cannot create file \"" + Target + "\". " + Reason());
    tmp.name = pattern;

    const size_t kBuffer = 1 << 20;
    std::unique_ptr<char[]> buf(new char[kBuffer]);
    for (;;) {
        const ssize_t n = ::read(in.fd, buf.get(), kBuffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError("Cannot read file \"" + Source + "\". " + Reason());
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(tmp.fd, buf.get() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) throw EWriteError("Cannot write file \"" + Target + "\". " + (w < 0 ? Reason() : "No space left"));
            done += w;
        }
    }
    // Changed while it was copied: the copy could be half of each.
    if (Expected && FileStateOfFd(in.fd) != *Expected)
        throw EReadError("Cannot read file \"" + Source + "\". " + kChanged);
    if (::fchmod(tmp.fd, mode) != 0 || ::fsync(tmp.fd) != 0)
        throw EWriteError("Cannot write file \"" + Target + "\". " + Reason());
    const int fd = tmp.fd;
    tmp.fd = -1;
    if (::close(fd) != 0) throw EWriteError("Cannot write file \"" + Target + "\". " + Reason());
    if (::rename(tmp.name.c_str(), Target.c_str()) != 0)
        throw EFCreateError("Cannot create file \"" + Target + "\". " + Reason());
    tmp.name.clear();
}

bool DriveReady(char Letter) {
    const char c = Letter >= 'a' && Letter <= 'z' ? char(Letter - 'a' + 'A') : Letter;
    return c < 'A' || c > 'Z';
}

bool FormatStrings(const std::string& Format, const std::vector<std::string>& Args, std::string& Out) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < Format.size(); ++i) {
        if (Format[i] != '%') {
            out += Format[i];
            continue;
        }
        if (++i >= Format.size()) return false;
        if (Format[i] == '%') {
            out += '%';
            continue;
        }
        size_t arg = next;
        if (Format[i] >= '0' && Format[i] <= '9') {
            size_t n = 0;
            while (i < Format.size() && Format[i] >= '0' && Format[i] <= '9' && n < 1000) n = n * 10 + size_t(Format[i++] - '0');
            if (i >= Format.size() || Format[i] != ':') return false;
            arg = n;
            ++i;
        }
        if (i >= Format.size() || (Format[i] != 's' && Format[i] != 'S') || arg >= Args.size()) return false;
        out += Args[arg];
        next = arg + 1;
    }
    Out = std::move(out);
    return true;
}
