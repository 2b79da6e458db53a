#include "Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

// The store keeps one text file per root key:
//   GlimmerdeckRegistry 1
//   [<key path>]
//   S|E|I|B <tab> <value name> <tab> <data>
// Paths, names and string data are escaped (\\ \t \n \r \xHH); binary data is hex.
// Paths and names compare case-insensitively and keep the case they were first written in.
// The file may be edited by hand: CRLF line ends are read, and lines that are none of the
// above are kept in their key, so a rewrite never drops them. A kept line is written back
// byte for byte, with any CR before its LF: rewritten with another line end it could read
// as a value or a key the next time (a line ending CR CR LF is no value, but CR LF is).

namespace {

struct RegValue {
    std::string name;
    TRegDataType type = rdString;
    std::string data;   // string bytes, the decimal integer, or the raw binary bytes
};

struct RegKey {
    std::string path;   // as first written
    std::vector<RegValue> values;
    // Hand-written lines we cannot read, as they stood up to (not including) their LF.
    std::vector<std::string> otherLines;
    std::unordered_map<std::string, size_t> index;   // lower-case name -> position in values

    const RegValue* Find(const std::string& name) const {
        auto it = index.find(LowerCase(name));
        return it == index.end() ? nullptr : &values[it->second];
    }
    RegValue* Find(const std::string& name) {
        return const_cast<RegValue*>(std::as_const(*this).Find(name));
    }
    void Set(RegValue v) {
        auto [it, added] = index.try_emplace(LowerCase(v.name), values.size());
        if (added) values.push_back(std::move(v));
        else {
            RegValue& old = values[it->second];
            old.type = v.type;
            old.data = std::move(v.data);
        }
    }
    bool Erase(const std::string& name) {
        auto it = index.find(LowerCase(name));
        if (it == index.end()) return false;
        values.erase(values.begin() + ptrdiff_t(it->second));
        index.clear();
        for (size_t i = 0; i < values.size(); ++i) index.emplace(LowerCase(values[i].name), i);
        return true;
    }
};

const char kMagic[] = "GlimmerdeckRegistry 1";

std::string Escape(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : s) {
        if (c == '\\') r += "\\\\";
        else if (c == '\t') r += "\\t";
        else if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            r += "\\x";
            r += hex[c >> 4];
            r += hex[c & 15];
        } else r += char(c);
    }
    return r;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string& s) {
    if (s.find('\\') == std::string::npos) return s;
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            r += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 't') r += '\t';
        else if (c == 'n') r += '\n';
        else if (c == 'r') r += '\r';
        else if (c == 'x' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            r += char(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else if (c == '\\') {
            r += c;
        } else {
            r += '\\';   // not an escape of ours: kept as written
            r += c;
        }
    }
    return r;
}

// Key paths: components split on '\', empty ones dropped.
std::string NormalizePath(const std::string& p) {
    std::string r, part;
    for (size_t i = 0; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == '\\') {
            if (!part.empty()) {
                if (!r.empty()) r += '\\';
                r += part;
            }
            part.clear();
        } else part += p[i];
    }
    return r;
}

// "S\tname\tdata" and its kin; false for a line that is not a value of ours.
bool ParseValue(const std::string& line, RegValue& v) {
    const size_t t1 = line.find('\t');
    const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t1 != 1 || t2 == std::string::npos) return false;
    v.name = Unescape(line.substr(t1 + 1, t2 - t1 - 1));
    const std::string data = line.substr(t2 + 1);
    switch (line[0]) {
    case 'S': v.type = rdString; v.data = Unescape(data); return true;
    case 'E': v.type = rdExpandString; v.data = Unescape(data); return true;
    case 'I': {
        v.type = rdInteger;
        try {
            v.data = IntToStr(StrToInt(data));
        } catch (const EConvertError&) {
            return false;   // kept as a line, so the hand-written text survives a rewrite
        }
        return true;
    }
    case 'B': {
        v.type = rdBinary;
        if (data.size() % 2) return false;
        for (size_t k = 0; k < data.size(); k += 2) {
            const int hi = HexDigit(data[k]), lo = HexDigit(data[k + 1]);
            if (hi < 0 || lo < 0) return false;
            v.data += char(hi * 16 + lo);
        }
        return true;
    }
    default: return false;
    }
}

class Store {
public:
    std::map<std::string, RegKey> keys;   // by lower-case path; "" is the root key
    size_t otherLineCount = 0;

    void Parse(const std::string& text) {
        keys.clear();
        otherLineCount = 0;
        keys[""].path = "";
        RegKey* cur = &keys[""];
        size_t i = 0;
        bool first = true;
        while (i < text.size()) {
            size_t e = text.find('\n', i);
            if (e == std::string::npos) e = text.size();
            std::string raw = text.substr(i, e - i);
            i = e + 1;
            // One CR before the LF is a line end written on Windows or by hand.
            const bool crlf = !raw.empty() && raw.back() == '\r';
            std::string line = crlf ? raw.substr(0, raw.size() - 1) : raw;
            if (first) {
                first = false;
                if (line == kMagic) continue;
            }
            if (line.empty()) continue;
            if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
                std::string path = NormalizePath(Unescape(line.substr(1, line.size() - 2)));
                RegKey& k = keys[LowerCase(path)];
                if (k.path.empty()) k.path = path;
                cur = &k;
                continue;
            }
            RegValue v;
            if (ParseValue(line, v)) cur->Set(std::move(v));
            else {
                cur->otherLines.push_back(std::move(raw));
                ++otherLineCount;
            }
        }
    }

    std::string Format() const {
        static const char hex[] = "0123456789ABCDEF";
        std::string r = std::string(kMagic) + "\n";
        for (const auto& [lower, k] : keys) {
            r += '[';
            r += Escape(k.path);
            r += "]\n";
            for (const auto& v : k.values) {
                char t = v.type == rdExpandString ? 'E' : v.type == rdInteger ? 'I' : v.type == rdBinary ? 'B' : 'S';
                r += t;
                r += '\t';
                r += Escape(v.name);
                r += '\t';
                if (v.type == rdBinary) {
                    for (unsigned char c : v.data) {
                        r += hex[c >> 4];
                        r += hex[c & 15];
                    }
                } else r += v.type == rdInteger ? v.data : Escape(v.data);
                r += '\n';
            }
            for (const auto& l : k.otherLines) {
                r += l;
                r += '\n';
            }
        }
        return r;
    }

    const RegKey* Find(const std::string& path) const {
        auto it = keys.find(LowerCase(path));
        return it == keys.end() ? nullptr : &it->second;
    }
    RegKey* Find(const std::string& path) {
        return const_cast<RegKey*>(std::as_const(*this).Find(path));
    }

    // Creates the key and its parents; true when anything was added.
    bool Create(const std::string& path) {
        bool added = false;
        size_t pos = 0;
        for (;;) {
            size_t e = path.find('\\', pos);
            std::string prefix = path.substr(0, e);
            auto [it, inserted] = keys.try_emplace(LowerCase(prefix));
            if (inserted) {
                it->second.path = prefix;
                added = true;
            }
            if (e == std::string::npos) break;
            pos = e + 1;
        }
        return added;
    }
};

std::string RootName(HKEY root) {
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    default: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "HKEY_%llX", static_cast<unsigned long long>(root));
        return buf;
    }
    }
}

std::string StoreFile(HKEY root) { return TRegistry::StoreDirectory() + "/" + RootName(root); }

// Each message once per file and process: a start reads the store many times.
void Warn(const std::string& file, const std::string& what) {
    static std::set<std::string> told;
    if (!told.insert(file + '\n' + what).second) return;
    std::fprintf(stderr, "Settings store %s: %s\n", file.c_str(), what.c_str());
    std::fflush(stderr);
}

const char kNotRegular[] =
    "not a regular file; read as an empty store, and settings are not saved there";

// The parsed store of each file, kept while the file stays the same one: a start reads
// a dozen values, and each used to read and parse the whole file several times.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t mtimeNs = 0, ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct CachedStore {
    bool valid = false;
    FileIdentity id;
    Store store;
};

std::map<std::string, CachedStore>& Cache() {
    static std::map<std::string, CachedStore> cache;
    return cache;
}

const Store& EmptyStore() {
    static const Store empty = [] {
        Store s;
        s.Parse("");
        return s;
    }();
    return empty;
}

// The store as it is on disk. Only a regular file is read, and opening never waits (a FIFO
// or a device in its place would block a plain open); anything else reads as empty.
const Store& View(HKEY root) {
    const std::string file = StoreFile(root);
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            Warn(file, std::string("cannot be read (") + std::strerror(errno) + "); read as an empty store");
        Cache().erase(file);
        return EmptyStore();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Warn(file, kNotRegular);
        Cache().erase(file);
        return EmptyStore();
    }
    const FileIdentity id{st.st_dev, st.st_ino, st.st_size,
                          int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                          int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
    CachedStore& c = Cache()[file];
    if (c.valid && c.id == id) {
        ::close(fd);
        return c.store;
    }
    std::string text;
    text.reserve(size_t(std::max<off_t>(st.st_size, 0)));
    char buf[65536];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    ::close(fd);
    if (error) {
        Warn(file, std::string("cannot be read (") + std::strerror(error) + "); read as an empty store");
        Cache().erase(file);
        return EmptyStore();
    }
    c.store.Parse(text);
    c.id = id;
    c.valid = true;
    if (c.store.otherLineCount)
        Warn(file, IntToStr(int64_t(c.store.otherLineCount)) +
                       " line(s) are no settings; they are kept as they are");
    return c.store;
}

uint64_t gRewrites = 0;

// A rewrite killed between naming its new file and the rename leaves that file (and older
// versions left every killed one): under the store's lock no rewrite is under way, so each
// regular file named like this store's temporaries (name + '.' + 6 letters or digits) is
// one of those and goes.
void RemoveLeftoverTemporaries(const std::string& file) {
    const size_t slash = file.rfind('/');
    const std::string dir = file.substr(0, slash), base = file.substr(slash + 1) + ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != base.size() + 6 || name.compare(0, base.size(), base) != 0) continue;
        if (!std::all_of(name.begin() + ptrdiff_t(base.size()), name.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            }))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), name.c_str(), 0);
    }
    ::closedir(d);
}

// Read-modify-write under the store's lock; Change returns whether it changed anything.
// A store that is not a regular file is never written over.
template <class F>
bool Modify(HKEY root, F change) {
    if (!ForceDirectories(TRegistry::StoreDirectory())) {
        // Its folder (or one above) is a file, or may not be written: said once, on stderr,
        // beside the error the caller raises.
        const int e = errno;
        Warn(TRegistry::StoreDirectory(),
             std::string("cannot be made (") + (e == EEXIST ? "a file is in the way" : std::strerror(e)) +
                 "); settings are not saved");
        return false;
    }
    const std::string file = StoreFile(root);
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        Warn(file, kNotRegular);
        return false;
    }
    Cache().erase(file);   // a rewrite in the same clock tick could look like the old file
    bool changed = false;
    const bool ok = UpdateFileAtomically(file, [&](std::string& content) {
        RemoveLeftoverTemporaries(file);
        Store s;
        s.Parse(content);
        changed = change(s);
        if (!changed) return false;
        content = s.Format();
        return true;
    });
    if (ok && changed) ++gRewrites;
    return ok;
}

}  // namespace

std::string DescribeRegistryStore(const std::string& Text) {
    Store s;
    s.Parse(Text);
    std::string r;
    for (const auto& [lower, k] : s.keys) {
        r += "key " + Escape(k.path) + "\n";
        for (const auto& v : k.values) {
            const char* t = v.type == rdExpandString ? "E" : v.type == rdInteger ? "I" : v.type == rdBinary ? "B" : "S";
            r += std::string("  ") + t + " " + Escape(v.name) + " = " + Escape(v.data) + "\n";
        }
        for (const auto& l : k.otherLines) r += "  kept " + Escape(l) + "\n";
    }
    return r;
}

std::string RewriteRegistryStore(const std::string& Text) {
    Store s;
    s.Parse(Text);
    return s.Format();
}

uint64_t TRegistry::StoreRewrites() { return gRewrites; }

std::string TRegistry::StoreDirectory() {
    std::string base;
    const char* x = std::getenv("XDG_CONFIG_HOME");
    if (x && x[0] == '/') base = x;
    else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            struct passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/glimmerdeck/registry";
}

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

namespace {

// A leading '\' is absolute, anything else relative to the open key.
std::string ResolveKey(const std::string& current, bool open, const std::string& key) {
    bool relative = key.empty() || key[0] != '\\';
    std::string k = NormalizePath(key);
    if (relative && open && !current.empty()) return k.empty() ? current : current + "\\" + k;
    return k;
}

}  // namespace

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
    std::string path = ResolveKey(path_, open_, Key);
    if (!View(root_).Find(path)) {
        if (!CanCreate) return false;
        const bool written = Modify(root_, [&](Store& s) { return s.Create(path); });
        if (!written && !View(root_).Find(path)) return false;
    }
    path_ = path;
    open_ = true;
    readOnly_ = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
    std::string path = ResolveKey(path_, open_, Key);
    if (!View(root_).Find(path)) return false;
    path_ = path;
    open_ = true;
    readOnly_ = true;
    return true;
}

void TRegistry::CloseKey() {
    path_.clear();
    open_ = false;
    readOnly_ = false;
}

bool TRegistry::CreateKey(const std::string& Key) {
    std::string path = ResolveKey(path_, open_, Key);
    bool ok = Modify(root_, [&](Store& s) { return s.Create(path); });
    if (!ok && !View(root_).Find(path)) throw ERegistryException("Failed to create key " + Key);
    return true;
}

bool TRegistry::DeleteKey(const std::string& Key) {
    std::string path = ResolveKey(path_, open_, Key);
    if (path.empty()) return false;
    bool found = false;
    std::string lower = LowerCase(path), prefix = lower + "\\";
    Modify(root_, [&](Store& s) {
        for (auto it = s.keys.begin(); it != s.keys.end();) {
            if (it->first == lower || it->first.compare(0, prefix.size(), prefix) == 0) {
                it = s.keys.erase(it);
                found = true;
            } else ++it;
        }
        return found;
    });
    return found;
}

bool TRegistry::KeyExists(const std::string& Key) {
    return View(root_).Find(ResolveKey(path_, open_, Key)) != nullptr;
}

bool TRegistry::ValueExists(const std::string& Name) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    return k && k->Find(Name);
}

bool TRegistry::DeleteValue(const std::string& Name) {
    if (readOnly_) return false;
    bool found = false;
    Modify(root_, [&](Store& s) {
        RegKey* k = s.Find(path_);
        found = k && k->Erase(Name);
        return found;
    });
    return found;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    const RegValue* v = k ? k->Find(Name) : nullptr;
    return v ? v->type : rdUnknown;
}

int TRegistry::GetDataSize(const std::string& Name) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    const RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) return -1;
    if (v->type == rdInteger) return 4;
    if (v->type == rdBinary) return int(v->data.size());
    return int(v->data.size()) + 1;   // with the terminating zero, as the registry counts
}

void TRegistry::GetValueNames(TStringList* Strings) {
    Strings->Clear();
    const Store& s = View(root_);
    if (const RegKey* k = s.Find(path_))
        for (auto& v : k->values) Strings->Add(v.name);
}

void TRegistry::GetKeyNames(TStringList* Strings) {
    Strings->Clear();
    const Store& s = View(root_);
    std::string prefix = path_.empty() ? std::string() : LowerCase(path_) + "\\";
    std::vector<std::string> seen;
    for (auto& [lower, k] : s.keys) {
        if (lower.empty() || lower.compare(0, prefix.size(), prefix) != 0 || lower.size() == prefix.size()) continue;
        std::string rest = k.path.substr(prefix.size());
        std::string child = rest.substr(0, rest.find('\\'));
        if (std::none_of(seen.begin(), seen.end(), [&](const std::string& c) { return SameText(c, child); })) {
            seen.push_back(child);
            Strings->Add(child);
        }
    }
}

namespace {

[[noreturn]] void ReadError(const std::string& name) {
    throw ERegistryException("Invalid data type for '" + name + "'");
}

}  // namespace

std::string TRegistry::ReadString(const std::string& Name) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    const RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) return "";   // the class library reads a missing string as empty
    if (v->type != rdString && v->type != rdExpandString) ReadError(Name);
    return v->data;
}

int TRegistry::ReadInteger(const std::string& Name) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    const RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) throw ERegistryException("Unable to read data for '" + Name + "'");
    if (v->type != rdInteger) ReadError(Name);
    return StrToIntDef(v->data, 0);
}

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }

int TRegistry::ReadBinaryData(const std::string& Name, void* Buffer, int BufSize) {
    const Store& s = View(root_);
    const RegKey* k = s.Find(path_);
    const RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) return 0;
    if (v->type != rdBinary || BufSize < 0 || v->data.size() > size_t(BufSize)) ReadError(Name);
    if (!v->data.empty()) std::memcpy(Buffer, v->data.data(), v->data.size());
    return int(v->data.size());
}

namespace {

void WriteValue(HKEY root, const std::string& path, bool readOnly, const std::string& name, TRegDataType type,
                std::string data) {
    if (readOnly) throw ERegistryException("Failed to set data for '" + name + "'");
    bool ok = Modify(root, [&](Store& s) {
        s.Create(path);
        s.Find(path)->Set(RegValue{name, type, data});
        return true;
    });
    if (!ok) throw ERegistryException("Failed to set data for '" + name + "'");
}

}  // namespace

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
    WriteValue(root_, path_, readOnly_, Name, rdString, Value);
}

void TRegistry::WriteInteger(const std::string& Name, int Value) {
    WriteValue(root_, path_, readOnly_, Name, rdInteger, IntToStr(Value));
}

void TRegistry::WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

void TRegistry::WriteBinaryData(const std::string& Name, const void* Buffer, int BufSize) {
    if (BufSize < 0 || (BufSize > 0 && !Buffer)) throw ERegistryException("Failed to set data for '" + Name + "'");
    WriteValue(root_, path_, readOnly_, Name, rdBinary,
               std::string(static_cast<const char*>(Buffer), size_t(BufSize)));
}

// ---- TRegIniFile ----

TRegIniFile::TRegIniFile(const std::string& FileName) : key_(FileName) {
    // Opening creates the key, as the class library's wrapper does.
    try {
        TRegistry r;
        r.OpenKey("\\" + key_, true);
    } catch (const Exception&) {
    }
}

namespace {

std::string SectionPath(const std::string& key, const std::string& section) {
    return section.empty() ? "\\" + key : "\\" + key + "\\" + section;
}

}  // namespace

std::string TRegIniFile::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) {
    TRegistry r;
    if (!r.OpenKeyReadOnly(SectionPath(key_, Section)) || !r.ValueExists(Ident)) return Default;
    TRegDataType t = r.GetDataType(Ident);
    if (t == rdInteger) return IntToStr(r.ReadInteger(Ident));
    if (t != rdString && t != rdExpandString) return Default;
    return r.ReadString(Ident);
}

int TRegIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int Default) {
    TRegistry r;
    if (!r.OpenKeyReadOnly(SectionPath(key_, Section)) || !r.ValueExists(Ident)) return Default;
    TRegDataType t = r.GetDataType(Ident);
    if (t == rdString || t == rdExpandString) return StrToIntDef(r.ReadString(Ident), Default);
    if (t == rdInteger) return r.ReadInteger(Ident);
    return Default;
}

bool TRegIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) {
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TRegIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
    TRegistry r;
    if (!r.OpenKey(SectionPath(key_, Section), true)) throw ERegistryException("Failed to set data for '" + Ident + "'");
    r.WriteString(Ident, Value);
}

void TRegIniFile::WriteStrings(const std::string& Section,
                               const std::vector<std::pair<std::string, std::string>>& Values) {
    const std::string path = NormalizePath(SectionPath(key_, Section));
    const bool ok = Modify(HKEY_CURRENT_USER, [&](Store& s) {
        s.Create(path);
        RegKey* k = s.Find(path);
        for (const auto& [name, value] : Values) k->Set(RegValue{name, rdString, value});
        return true;
    });
    if (!ok) throw ERegistryException("Failed to set data for '" + (Values.empty() ? Section : Values.front().first) + "'");
}

void TRegIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int Value) {
    WriteString(Section, Ident, IntToStr(Value));   // every value of the wrapper is text
}

void TRegIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
    WriteInteger(Section, Ident, Value ? 1 : 0);
}

void TRegIniFile::EraseSection(const std::string& Section) {
    if (NormalizePath(Section).empty()) return;
    TRegistry r;
    if (r.OpenKeyReadOnly("\\" + key_)) {
        r.CloseKey();
        r.DeleteKey(SectionPath(key_, Section));
    }
}

void TRegIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
    TRegistry r;
    if (r.OpenKey(SectionPath(key_, Section), false)) r.DeleteValue(Ident);
}
