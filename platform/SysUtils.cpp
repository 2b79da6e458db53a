#include "SysUtils.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

std::string IntToStr(int64_t v) { return std::to_string(v); }

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Decimal, or hexadecimal after "$" or "0x", with an optional sign; leading blanks allowed.
bool ParseInt(const std::string& s, int& out) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * base + d;
        // Hex may spell the full 32-bit pattern ($FFFFFFFF = -1), decimal only the int range.
        if (v > (base == 16 ? int64_t(UINT32_MAX) : int64_t(INT_MAX) + 1)) return false;
    }
    if (base == 16) {
        if (v > INT_MAX) v -= int64_t(1) << 32;
    } else if (!neg && v > INT_MAX) {
        return false;
    }
    out = int(neg ? -v : v);
    return true;
}

}  // namespace

int StrToInt(const std::string& s) {
    int v = 0;
    if (!ParseInt(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
    return v;
}

int StrToIntDef(const std::string& s, int def) {
    int v = 0;
    return ParseInt(s, v) ? v : def;
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return r;
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The user's language's rules, ignoring case. The C and POSIX locales name no language and
// order by code point, which puts every accented letter after "z": there the common order of
// Unicode stands in, which English takes as it is.
QCollator TextCollator() {
    QLocale locale = QLocale().collation();
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator c(locale);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
}

}  // namespace

int AnsiCompareText(const std::string& a, const std::string& b) { return TextCollator().compare(FromUtf8(a), FromUtf8(b)); }

std::vector<size_t> AnsiSortedOrder(const std::vector<std::string>& Texts) {
    const QCollator c = TextCollator();
    // One key per text: comparing keys is a byte compare, where comparing texts would run
    // the collation again for every pair the sort looks at.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(Texts.size());
    for (const std::string& t : Texts) keys.push_back(c.sortKey(FromUtf8(t)));
    std::vector<size_t> order(Texts.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return keys[x].compare(keys[y]) < 0; });
    return order;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string ExtractFileExt(const std::string& name) {
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return name.substr(dot);
}

std::string ExtractFileName(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
    if (!dir.empty() && dir.back() == '/') return dir;
    return dir + '/';
}

bool FileExists(const std::string& name) {
    struct stat st;
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int OpenRegularFileRead(const std::string& name) {
    struct stat st;
    // Anything else is not even opened (opening a device may already do something).
    if (name.empty() || ::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    // The name may have been given to something else in between.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool DirectoryExists(const std::string& name) {
    struct stat st;
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& name) { return !name.empty() && ::unlink(name.c_str()) == 0; }

std::string GetTempDir() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t && DirectoryExists(t)) ? t : "/tmp";
    return IncludeTrailingPathDelimiter(dir);
}

bool ForceDirectories(const std::string& Dir) {
    if (Dir.empty()) return false;
    if (DirectoryExists(Dir)) return true;
    std::string d = Dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    size_t slash = d.rfind('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(d.substr(0, slash))) return false;
    return ::mkdir(d.c_str(), 0777) == 0 || DirectoryExists(d);
}

namespace {

bool ReadAllFd(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, size_t(n));
    }
}

bool WriteAllFd(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};

// An unnamed file in the folder of Beside, or -1 where its file system makes none.
int OpenUnnamedFile(const std::string& Beside) {
    const size_t slash = Beside.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : Beside.substr(0, slash);
    return ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

// Gives the unnamed file a free name of the temporary pattern (Beside + '.' + 6 letters or
// digits, as mkstemp makes them); "" when it cannot be linked.
std::string LinkUnnamedFile(int Fd, const std::string& Beside) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string self = "/proc/self/fd/" + std::to_string(Fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = Beside + ".";
        for (int i = 0; i < 6; ++i) name += alphabet[random() % 62];
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
        if (errno != EEXIST) return "";
    }
    return "";
}

}  // namespace

bool LoadFileToString(const std::string& FileName, std::string& Content) {
    FdGuard g{::open(FileName.c_str(), O_RDONLY | O_CLOEXEC)};
    if (g.fd < 0) return false;
    struct stat st;
    if (::fstat(g.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ReadAllFd(g.fd, Content);
}

bool UpdateFileAtomically(const std::string& FileName, const std::function<bool(std::string& Content)>& Update) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        bool existed = ::access(FileName.c_str(), F_OK) == 0;
        FdGuard g{::open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)};
        if (g.fd < 0) return false;
        while (::flock(g.fd, LOCK_EX) != 0)
            if (errno != EINTR) return false;
        // Another writer may have replaced the file while we waited: lock the new one.
        struct stat mine, now;
        if (::fstat(g.fd, &mine) != 0) return false;
        if (::stat(FileName.c_str(), &now) != 0 || now.st_ino != mine.st_ino || now.st_dev != mine.st_dev) continue;
        std::string content;
        if (!ReadAllFd(g.fd, content)) return false;
        if (!Update(content)) {
            if (!existed && mine.st_size == 0) ::unlink(FileName.c_str());
            return true;
        }
        // The new content goes into an unnamed file first, so a kill while it is written
        // leaves nothing; it gets a name only for the rename. Where the folder's file
        // system has no unnamed files, a named one takes its place.
        const mode_t mode = mine.st_mode & 07777;
        std::string tmp;
        {
            FdGuard t{OpenUnnamedFile(FileName)};
            if (t.fd >= 0) {
                if (!WriteAllFd(t.fd, content) || ::fchmod(t.fd, mode) != 0 || ::fsync(t.fd) != 0) return false;
                tmp = LinkUnnamedFile(t.fd, FileName);
            }
        }
        if (tmp.empty()) {
            tmp = FileName + ".XXXXXX";
            FdGuard t{::mkstemp(tmp.data())};
            if (t.fd < 0) return false;
            bool ok = WriteAllFd(t.fd, content) && ::fchmod(t.fd, mode) == 0 && ::fsync(t.fd) == 0;
            ok = ::close(t.fd) == 0 && ok;
            t.fd = -1;
            if (!ok) {
                ::unlink(tmp.c_str());
                return false;
            }
        }
        if (::rename(tmp.c_str(), FileName.c_str()) != 0) {
            ::unlink(tmp.c_str());
            return false;
        }
        return true;
    }
    return false;
}

namespace {

std::vector<std::string>& ProgramArgs() {
    static std::vector<std::string> args{""};
    return args;
}

}  // namespace

void SetProgramArguments(const std::string& OwnPath, const std::vector<std::string>& Args) {
    auto& a = ProgramArgs();
    a.clear();
    a.push_back(OwnPath);
    a.insert(a.end(), Args.begin(), Args.end());
}

std::string ParamStr(int Index) {
    const auto& a = ProgramArgs();
    return Index >= 0 && size_t(Index) < a.size() ? a[size_t(Index)] : std::string();
}

int ParamCount() { return int(ProgramArgs().size()) - 1; }
