#include "ShortcutLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "transclass.h"

namespace {

constexpr uint32_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasRelativePath = 0x8,
                   kHasWorkingDir = 0x10, kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80,
                   kForceNoLinkInfo = 0x100;
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// Shortcuts are a few kilobytes; anything far beyond is not one.
constexpr off_t kMaxLinkFile = 16 << 20;

// The replacement character as UTF-8: what a byte or unit that does not decode becomes.
constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Bounds-checked little-endian reads over the file's bytes; every read that would pass the
// end sets `ok` false and gives zeros. A path that does not decode sets `undecodable`.
struct Bytes {
    const std::string& data;
    bool ok = true;
    bool undecodable = false;

    bool Has(uint64_t at, uint64_t n) {
        if (at > data.size() || n > data.size() - at) ok = false;
        return ok;
    }
    uint32_t U8(uint64_t at) { return Has(at, 1) ? uint8_t(data[at]) : 0; }
    uint32_t U16(uint64_t at) { return Has(at, 2) ? U8(at) | U8(at + 1) << 8 : 0; }
    uint32_t U32(uint64_t at) { return Has(at, 4) ? U16(at) | U16(at + 2) << 16 : 0; }

    // A zero-terminated ANSI path within [at, end).
    std::string Ansi(uint64_t at, uint64_t end) {
        if (!Has(at, 0) || end > data.size()) return ok = false, "";
        std::string s;
        for (uint64_t i = at;; ++i) {
            if (i >= end) return ok = false, "";
            if (data[i] == '\0') break;
            s += data[i];
        }
        bool decoded = true;
        s = Windows1252(s, decoded);
        undecodable = undecodable || !decoded;
        return s;
    }
    // A zero-terminated UTF-16LE path within [at, end).
    std::string Unicode(uint64_t at, uint64_t end) {
        std::vector<uint16_t> units;
        for (uint64_t i = at;; i += 2) {
            if (i + 2 > end) return ok = false, "";
            const uint16_t u = uint16_t(U16(i));
            if (!ok) return "";
            if (u == 0) break;
            units.push_back(u);
        }
        bool decoded = true;
        std::string s = Utf16(units, decoded);
        undecodable = undecodable || !decoded;
        return s;
    }
    // A lone surrogate becomes U+FFFD and clears Decoded.
    static std::string Utf16(const std::vector<uint16_t>& units, bool& Decoded) {
        std::string s;
        for (size_t i = 0; i < units.size(); ++i) {
            uint32_t c = units[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
            } else if (c >= 0xD800 && c < 0xE000) {
                c = 0xFFFD;
                Decoded = false;
            }
            AppendUtf8(s, c);
        }
        return s;
    }
    // The five bytes Windows-1252 leaves unassigned become U+FFFD (which the code page itself
    // cannot hold) and clear Decoded.
    static std::string Windows1252(const std::string& bytes, bool& Decoded) {
        std::string s = DecodeCharset(bytes, 0);
        if (s.find(kReplacement) != std::string::npos) Decoded = false;
        return s;
    }
};

// Link info: the local base path and the common path suffix (the Unicode forms when the
// header has them).
std::string LinkInfoTarget(Bytes& b, uint64_t at) {
    const uint64_t size = b.U32(at), headerSize = b.U32(at + 4), flags = b.U32(at + 8);
    if (!b.ok || size < 0x1C || !b.Has(at, size) || headerSize > size) return b.ok = false, "";
    const uint64_t end = at + size;
    if (!(flags & 0x1)) return "";   // no local path (a network share only)
    if (headerSize >= 0x24) {
        const uint64_t base = b.U32(at + 0x1C), suffix = b.U32(at + 0x20);
        if (base && suffix) return b.Unicode(at + base, end) + b.Unicode(at + suffix, end);
    }
    const uint64_t base = b.U32(at + 0x10), suffix = b.U32(at + 0x18);
    std::string path = b.Ansi(at + base, end);
    if (suffix) path += b.Ansi(at + suffix, end);
    return path;
}

// The whole file, when it is a regular file of a shortcut's size (a FIFO or a device named
// like a shortcut is never read, nor waited for).
bool ReadLinkFile(const std::string& Name, std::string& Data) {
    const int fd = OpenRegularFileRead(Name);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_size <= kMaxLinkFile;
    if (ok) {
        Data.resize(size_t(st.st_size));
        size_t done = 0;
        while (ok && done < Data.size()) {
            const ssize_t n = ::read(fd, Data.data() + done, Data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += size_t(n);
        }
    }
    ::close(fd);
    return ok;
}

uint16_t UpperCode(uint16_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return uint16_t(c - 0x20);
    return c;
}

}  // namespace

bool ParseShellLink(const std::string& Data, TShellLinkData& Link) {
    Bytes b{Data};
    if (b.U32(0) != kHeaderSize || !b.Has(0, kHeaderSize) || Data.compare(4, 16, reinterpret_cast<const char*>(kLinkClsid), 16) != 0)
        return false;
    TShellLinkData l;
    l.Flags = b.U32(20);
    l.IconIndex = int32_t(b.U32(56));
    l.ShowCommand = b.U32(60);
    l.HotKey = uint16_t(b.U16(64));
    uint64_t at = kHeaderSize;
    if (l.Flags & kHasIdList) at += 2 + b.U16(at);   // the shell's item ids: not needed here
    std::string linkTarget;
    if (l.Flags & kHasLinkInfo) {
        const uint64_t size = b.U32(at);
        if (!(l.Flags & kForceNoLinkInfo)) linkTarget = LinkInfoTarget(b, at);
        at += size;
    }
    const bool unicode = (l.Flags & kIsUnicode) != 0;
    struct Field {
        uint32_t flag;
        std::string* value;
        bool path;
    };
    for (const Field f : {Field{kHasName, &l.Description, false}, {kHasRelativePath, &l.RelativePath, true},
                          {kHasWorkingDir, &l.WorkingDir, true}, {kHasArguments, &l.Arguments, false},
                          {kHasIconLocation, &l.IconLocation, true}}) {
        if (!(l.Flags & f.flag)) continue;
        const uint64_t count = b.U16(at);
        at += 2;
        const uint64_t bytes = count * (unicode ? 2 : 1);
        if (!b.Has(at, bytes)) return false;
        bool decoded = true;
        if (unicode) {
            std::vector<uint16_t> units(count);
            for (uint64_t i = 0; i < count; ++i) units[i] = uint16_t(b.U16(at + 2 * i));
            *f.value = Bytes::Utf16(units, decoded);
        } else {
            *f.value = Bytes::Windows1252(Data.substr(at, bytes), decoded);
        }
        // A counted string may hold a NUL: as a path it would name something else than it says.
        if (f.path && (!decoded || f.value->find('\0') != std::string::npos)) return false;
        at += bytes;
    }
    if (!b.ok || b.undecodable) return false;
    l.Target = linkTarget;
    Link = std::move(l);
    return true;
}

std::string TShortcutLink::HotKey() const {
    std::string s;
    AppendUtf8(s, hotKey_ == 0 ? ' ' : hotKey_);
    return s;
}

void TShortcutLink::SetHotKey(const std::string& Value) {
    uint16_t c = Value.empty() ? ' ' : uint8_t(Value[0]);
    // A two-byte UTF-8 character of the Latin-1 range is that character.
    if (Value.size() >= 2 && (c == 0xC2 || c == 0xC3)) c = uint16_t(((c & 0x1F) << 6) | (uint8_t(Value[1]) & 0x3F));
    SetHotKeyCode(c);
}

void TShortcutLink::SetHotKeyCode(uint16_t Code) { hotKey_ = Code < 32 ? ' ' : UpperCode(Code); }

TShowCmd TShortcutLink::ShowCmd() const {
    switch (showCode_) {
    case 3: return scShowMaximized;
    case 7: return scShowMinimized;
    default: return scShowNormal;
    }
}

void TShortcutLink::SetShowCmd(TShowCmd Value) {
    showCode_ = Value == scShowMaximized ? 3 : Value == scShowMinimized ? 7 : 9;
}

void TShortcutLink::ReadLink() {
    std::string data;
    if (!ReadLinkFile(ShortcutFile, data)) throw EShortcutError("Unable to open link file");
    TShellLinkData link;
    if (!ParseShellLink(data, link)) throw EShortcutError("Unable to open link file");
    // Without a local path, a relative one is taken from the link's own folder.
    std::string target = link.Target;
    if (target.empty() && !link.RelativePath.empty()) {
        std::string rel = link.RelativePath;
        for (char& c : rel)
            if (c == '\\') c = '/';
        target = (std::filesystem::path(ShortcutFile).parent_path() / rel).lexically_normal().string();
        if (target.size() > 1 && target.back() == '/') target.pop_back();
    }
    // Resolving: the target must exist on this machine; otherwise nothing changes.
    std::error_code ec;
    if (target.empty() || !std::filesystem::exists(target, ec)) return;
    WorkingDir = link.WorkingDir;
    Target = target;
    IconLocation = link.IconLocation;
    IconNumber = uint16_t(link.IconIndex);
    Description = link.Description;
    showCode_ = int(link.ShowCommand);
    SetHotKeyCode(link.HotKey & 0xFF);   // the virtual key; the modifiers are dropped
    Arguments = link.Arguments;
}
