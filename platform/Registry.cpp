#include "Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

// The store keeps one text file per root key:
//   GlimmerdeckRegistry 1
//   [<key path>]
//   S|E|I|B <tab> <value name> <tab> <data>
// Paths, names and string data are escaped (\\ \t \n \r \xHH); binary data is hex.
// Paths and names compare case-insensitively and keep the case they were first written in.

namespace {

struct RegValue {
    std::string name;
    TRegDataType type = rdString;
    std::string data;   // string bytes, the decimal integer, or the raw binary bytes
};

struct RegKey {
    std::string path;   // as first written
    std::vector<RegValue> values;

    RegValue* Find(const std::string& name) {
        for (auto& v : values)
            if (SameText(v.name, name)) return &v;
        return nullptr;
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

class Store {
public:
    std::map<std::string, RegKey> keys;   // by lower-case path; "" is the root key

    void Parse(const std::string& text) {
        keys.clear();
        keys[""].path = "";
        RegKey* cur = &keys[""];
        size_t i = 0;
        bool first = true;
        while (i < text.size()) {
            size_t e = text.find('\n', i);
            if (e == std::string::npos) e = text.size();
            std::string line = text.substr(i, e - i);
            i = e + 1;
            if (first) {
                first = false;
                if (line == kMagic) continue;
            }
            if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
                std::string path = NormalizePath(Unescape(line.substr(1, line.size() - 2)));
                RegKey& k = keys[LowerCase(path)];
                if (k.path.empty()) k.path = path;
                cur = &k;
                continue;
            }
            size_t t1 = line.find('\t');
            size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
            if (t1 != 1 || t2 == std::string::npos) continue;   // not ours: ignored
            RegValue v;
            v.name = Unescape(line.substr(t1 + 1, t2 - t1 - 1));
            std::string data = line.substr(t2 + 1);
            switch (line[0]) {
            case 'S': v.type = rdString; v.data = Unescape(data); break;
            case 'E': v.type = rdExpandString; v.data = Unescape(data); break;
            case 'I': v.type = rdInteger; v.data = IntToStr(StrToIntDef(data, 0)); break;
            case 'B': {
                v.type = rdBinary;
                for (size_t k = 0; k + 1 < data.size(); k += 2) {
                    int hi = HexDigit(data[k]), lo = HexDigit(data[k + 1]);
                    if (hi < 0 || lo < 0) break;
                    v.data += char(hi * 16 + lo);
                }
                break;
            }
            default: continue;
            }
            if (RegValue* old = cur->Find(v.name)) *old = v;
            else cur->values.push_back(v);
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
        }
        return r;
    }

    RegKey* Find(const std::string& path) {
        auto it = keys.find(LowerCase(path));
        return it == keys.end() ? nullptr : &it->second;
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

Store Load(HKEY root) {
    Store s;
    std::string text;
    LoadFileToString(StoreFile(root), text);
    s.Parse(text);
    return s;
}

// Read-modify-write under the store's lock; Change returns whether it changed anything.
template <class F>
bool Modify(HKEY root, F change) {
    if (!ForceDirectories(TRegistry::StoreDirectory())) return false;
    return UpdateFileAtomically(StoreFile(root), [&](std::string& content) {
        Store s;
        s.Parse(content);
        if (!change(s)) return false;
        content = s.Format();
        return true;
    });
}

}  // namespace

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
    if (CanCreate) {
        bool created = Modify(root_, [&](Store& s) { return s.Create(path); });
        if (!created && !Load(root_).Find(path)) return false;
    } else if (!Load(root_).Find(path)) {
        return false;
    }
    path_ = path;
    open_ = true;
    readOnly_ = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
    std::string path = ResolveKey(path_, open_, Key);
    if (!Load(root_).Find(path)) return false;
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
    if (!ok && !Load(root_).Find(path)) throw ERegistryException("Failed to create key " + Key);
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
    return Load(root_).Find(ResolveKey(path_, open_, Key)) != nullptr;
}

bool TRegistry::ValueExists(const std::string& Name) {
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    return k && k->Find(Name);
}

bool TRegistry::DeleteValue(const std::string& Name) {
    if (readOnly_) return false;
    bool found = false;
    Modify(root_, [&](Store& s) {
        RegKey* k = s.Find(path_);
        if (!k) return false;
        auto& vs = k->values;
        auto it = std::find_if(vs.begin(), vs.end(), [&](const RegValue& v) { return SameText(v.name, Name); });
        if (it == vs.end()) return false;
        vs.erase(it);
        found = true;
        return true;
    });
    return found;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) {
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    RegValue* v = k ? k->Find(Name) : nullptr;
    return v ? v->type : rdUnknown;
}

int TRegistry::GetDataSize(const std::string& Name) {
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) return -1;
    if (v->type == rdInteger) return 4;
    if (v->type == rdBinary) return int(v->data.size());
    return int(v->data.size()) + 1;   // with the terminating zero, as the registry counts
}

void TRegistry::GetValueNames(TStringList* Strings) {
    Strings->Clear();
    Store s = Load(root_);
    if (RegKey* k = s.Find(path_))
        for (auto& v : k->values) Strings->Add(v.name);
}

void TRegistry::GetKeyNames(TStringList* Strings) {
    Strings->Clear();
    Store s = Load(root_);
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
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) return "";   // the class library reads a missing string as empty
    if (v->type != rdString && v->type != rdExpandString) ReadError(Name);
    return v->data;
}

int TRegistry::ReadInteger(const std::string& Name) {
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    RegValue* v = k ? k->Find(Name) : nullptr;
    if (!v) throw ERegistryException("Unable to read data for '" + Name + "'");
    if (v->type != rdInteger) ReadError(Name);
    return StrToIntDef(v->data, 0);
}

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }

int TRegistry::ReadBinaryData(const std::string& Name, void* Buffer, int BufSize) {
    Store s = Load(root_);
    RegKey* k = s.Find(path_);
    RegValue* v = k ? k->Find(Name) : nullptr;
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
        RegKey* k = s.Find(path);
        if (RegValue* v = k->Find(name)) {
            v->type = type;
            v->data = data;
        } else {
            k->values.push_back(RegValue{name, type, data});
        }
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
