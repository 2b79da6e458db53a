// rename_dynsym FILE OLD NEW
//
// OLD and NEW may write any byte as %XX (hex), which keeps shell glob
// characters such as '?' out of build command lines.
// Renames a symbol of a shared object in place: OLD and NEW must have the same
// length, so the string tables keep their layout. The SysV hash table is
// rebuilt from the new names and checked, so the dynamic loader finds NEW.
// Used after linking to give an export a name the GNU tools cannot produce
// (they read "@@" as a version separator). Objects with a GNU hash table are
// refused: its symbol order depends on the hashes, so link with
// -Wl,--hash-style=sysv. Running it again on a renamed file is a no-op.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& msg) {
    std::fprintf(stderr, "rename_dynsym: %s\n", msg.c_str());
    std::exit(1);
}

uint32_t ElfHash(const char* name) {
    uint32_t h = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        h = (h << 4) + *p;
        const uint32_t g = h & 0xf0000000u;
        if (g) h ^= g >> 24;
        h &= ~g;
    }
    return h;
}

struct Elf32 {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    using Sym = Elf32_Sym;
    using Dyn = Elf32_Dyn;
};
struct Elf64 {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    using Sym = Elf64_Sym;
    using Dyn = Elf64_Dyn;
};

template <class E>
class Patcher {
public:
    Patcher(std::vector<unsigned char>& img, const std::string& oldName, const std::string& newName)
        : img_(img), old_(oldName), new_(newName) {}

    void Run() {
        using Ehdr = typename E::Ehdr;
        using Shdr = typename E::Shdr;
        if (img_.size() < sizeof(Ehdr)) Fail("file too small for an ELF header");
        Ehdr eh;
        std::memcpy(&eh, img_.data(), sizeof eh);
        if (eh.e_shentsize != sizeof(Shdr)) Fail("unexpected section header size");
        const uint64_t shEnd = uint64_t{eh.e_shoff} + uint64_t{eh.e_shnum} * sizeof(Shdr);
        if (eh.e_shoff == 0 || eh.e_shnum == 0 || shEnd > img_.size()) Fail("section headers out of range");
        sections_.resize(eh.e_shnum);
        std::memcpy(sections_.data(), img_.data() + eh.e_shoff, eh.e_shnum * sizeof(Shdr));

        int dynsym = -1, hash = -1, symtab = -1, dynamic = -1;
        for (size_t i = 0; i < sections_.size(); ++i) {
            const Shdr& s = sections_[i];
            if (s.sh_type != SHT_NOBITS && uint64_t{s.sh_offset} + s.sh_size > img_.size())
                Fail("section " + std::to_string(i) + " out of range");
            switch (s.sh_type) {
                case SHT_DYNSYM: dynsym = static_cast<int>(i); break;
                case SHT_SYMTAB: symtab = static_cast<int>(i); break;
                case SHT_HASH: hash = static_cast<int>(i); break;
                case SHT_DYNAMIC: dynamic = static_cast<int>(i); break;
                case SHT_GNU_HASH: Fail("object has a GNU hash table; link with -Wl,--hash-style=sysv");
                default: break;
            }
        }
        if (dynsym < 0) Fail("no dynamic symbol table");
        if (hash < 0) Fail("no SysV hash table");

        const int renamed = RenameIn(dynsym, dynamic);
        if (renamed == 0 && FindSymbol(dynsym, new_) < 0)
            Fail("neither '" + old_ + "' nor '" + new_ + "' is a dynamic symbol");
        if (symtab >= 0) RenameIn(symtab, -1);
        RebuildHash(hash, dynsym);
        Verify(hash, dynsym);
    }

private:
    using Sym = typename E::Sym;
    using Dyn = typename E::Dyn;
    using Shdr = typename E::Shdr;

    const Shdr& Section(uint64_t index) {
        if (index >= sections_.size()) Fail("bad section link");
        return sections_[index];
    }

    size_t SymbolCount(int symSec) {
        const Shdr& s = sections_[symSec];
        if (s.sh_entsize != sizeof(Sym)) Fail("unexpected symbol entry size");
        return s.sh_size / sizeof(Sym);
    }

    Sym SymbolAt(int symSec, size_t i) {
        Sym sym;
        std::memcpy(&sym, img_.data() + sections_[symSec].sh_offset + i * sizeof(Sym), sizeof sym);
        return sym;
    }

    // The NUL-terminated name at offset off of the string table, or nullptr.
    const char* Name(const Shdr& strtab, uint64_t off) {
        if (off >= strtab.sh_size) return nullptr;
        const char* base = reinterpret_cast<const char*>(img_.data() + strtab.sh_offset);
        if (std::memchr(base + off, 0, strtab.sh_size - off) == nullptr) return nullptr;
        return base + off;
    }

    int FindSymbol(int symSec, const std::string& name) {
        const Shdr& strtab = Section(sections_[symSec].sh_link);
        for (size_t i = 1; i < SymbolCount(symSec); ++i) {
            const char* n = Name(strtab, SymbolAt(symSec, i).st_name);
            if (n && name == n) return static_cast<int>(i);
        }
        return -1;
    }

    // Overwrites every name OLD in the symbol table's string table. A string
    // the linker shares with another name (a suffix, or the same string used
    // by a second symbol or a dynamic entry) would rename that too: refused.
    int RenameIn(int symSec, int dynamicSec) {
        const Shdr& strtab = Section(sections_[symSec].sh_link);
        if (strtab.sh_type != SHT_STRTAB) Fail("symbol table not linked to a string table");
        std::vector<uint64_t> refs;  // every offset into this string table
        std::vector<uint64_t> targets;
        for (size_t i = 1; i < SymbolCount(symSec); ++i) {
            const uint64_t off = SymbolAt(symSec, i).st_name;
            refs.push_back(off);
            const char* n = Name(strtab, off);
            if (n && old_ == n) targets.push_back(off);
        }
        if (dynamicSec >= 0 && sections_[dynamicSec].sh_link == sections_[symSec].sh_link) {
            const Shdr& ds = sections_[dynamicSec];
            for (uint64_t p = 0; p + sizeof(Dyn) <= ds.sh_size; p += sizeof(Dyn)) {
                Dyn d;
                std::memcpy(&d, img_.data() + ds.sh_offset + p, sizeof d);
                if (d.d_tag == DT_NULL) break;
                if (d.d_tag == DT_NEEDED || d.d_tag == DT_SONAME || d.d_tag == DT_RPATH || d.d_tag == DT_RUNPATH)
                    refs.push_back(d.d_un.d_val);
            }
        }
        for (const uint64_t t : targets) {
            int same = 0;
            for (const uint64_t r : refs) {
                if (r == t) ++same;
                else if (r > t && r <= t + old_.size()) Fail("string of '" + old_ + "' is shared with another name");
            }
            if (same != 1) Fail("string of '" + old_ + "' is used by more than one entry");
            std::memcpy(img_.data() + strtab.sh_offset + t, new_.data(), new_.size());
        }
        return static_cast<int>(targets.size());
    }

    uint32_t Word(uint64_t at) {
        uint32_t w;
        std::memcpy(&w, img_.data() + at, 4);
        return w;
    }
    void SetWord(uint64_t at, uint32_t w) { std::memcpy(img_.data() + at, &w, 4); }

    void RebuildHash(int hashSec, int dynsym) {
        const Shdr& hs = sections_[hashSec];
        if (hs.sh_link != static_cast<uint32_t>(dynsym)) Fail("hash table not linked to the dynamic symbols");
        if (hs.sh_size < 8) Fail("hash table too small");
        const uint64_t base = hs.sh_offset;
        const uint32_t nbucket = Word(base), nchain = Word(base + 4);
        if (nbucket == 0 || nchain != SymbolCount(dynsym) ||
            8 + 4 * (uint64_t{nbucket} + nchain) > hs.sh_size)
            Fail("inconsistent hash table");
        const Shdr& strtab = Section(sections_[dynsym].sh_link);
        const uint64_t buckets = base + 8, chains = buckets + 4ull * nbucket;
        for (uint32_t b = 0; b < nbucket; ++b) SetWord(buckets + 4ull * b, 0);
        for (uint32_t i = 0; i < nchain; ++i) SetWord(chains + 4ull * i, 0);
        for (uint32_t i = 1; i < nchain; ++i) {
            const char* n = Name(strtab, SymbolAt(dynsym, i).st_name);
            if (!n) Fail("dynamic symbol with a bad name offset");
            const uint32_t b = ElfHash(n) % nbucket;
            SetWord(chains + 4ull * i, Word(buckets + 4ull * b));
            SetWord(buckets + 4ull * b, i);
        }
    }

    // Looks names up the way the loader does.
    int Lookup(int hashSec, int dynsym, const std::string& name) {
        const uint64_t base = sections_[hashSec].sh_offset;
        const uint32_t nbucket = Word(base), nchain = Word(base + 4);
        const Shdr& strtab = Section(sections_[dynsym].sh_link);
        uint32_t steps = 0;
        for (uint32_t i = Word(base + 8 + 4ull * (ElfHash(name.c_str()) % nbucket)); i != 0 && i < nchain;
             i = Word(base + 8 + 4ull * nbucket + 4ull * i)) {
            if (++steps > nchain) Fail("hash chain loops");
            const char* n = Name(strtab, SymbolAt(dynsym, i).st_name);
            if (n && name == n) return static_cast<int>(i);
        }
        return -1;
    }

    void Verify(int hashSec, int dynsym) {
        const int idx = Lookup(hashSec, dynsym, new_);
        if (idx < 0) Fail("'" + new_ + "' not reachable through the hash table");
        if (SymbolAt(dynsym, idx).st_shndx == SHN_UNDEF) Fail("'" + new_ + "' is not defined here");
        if (Lookup(hashSec, dynsym, old_) >= 0) Fail("'" + old_ + "' still present");
        for (size_t i = 1; i < SymbolCount(dynsym); ++i) {
            const char* n = Name(Section(sections_[dynsym].sh_link), SymbolAt(dynsym, i).st_name);
            if (Lookup(hashSec, dynsym, n) < 0) Fail(std::string("'") + n + "' lost from the hash table");
        }
    }

    std::vector<unsigned char>& img_;
    std::string old_, new_;
    std::vector<Shdr> sections_;
};

std::string Unescape(const char* arg) {
    std::string out;
    for (const char* p = arg; *p; ++p) {
        if (*p == '%') {
            unsigned v = 0;
            if (std::sscanf(p + 1, "%2x", &v) != 1 || !std::isxdigit(static_cast<unsigned char>(p[1])) ||
                !std::isxdigit(static_cast<unsigned char>(p[2])) || v == 0)
                Fail(std::string("bad %XX escape in ") + arg);
            out.push_back(static_cast<char>(v));
            p += 2;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

std::vector<unsigned char> ReadFile(const char* path, struct stat& st) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0 || fstat(fd, &st) != 0) Fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
    std::vector<unsigned char> data(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n <= 0) Fail(std::string("cannot read ") + path);
        got += static_cast<size_t>(n);
    }
    close(fd);
    return data;
}

// Writes beside the file and renames over it, so a failure leaves the input whole.
void WriteFile(const char* path, const std::vector<unsigned char>& data, mode_t mode) {
    const std::string tmp = std::string(path) + ".rename-tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode & 07777);
    if (fd < 0) Fail("cannot create " + tmp + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            close(fd);
            unlink(tmp.c_str());
            Fail("cannot write " + tmp);
        }
        done += static_cast<size_t>(n);
    }
    if (fchmod(fd, mode & 07777) != 0 || close(fd) != 0 || rename(tmp.c_str(), path) != 0) {
        unlink(tmp.c_str());
        Fail(std::string("cannot replace ") + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rename_dynsym FILE OLD NEW\n");
        return 2;
    }
    const std::string oldName = Unescape(argv[2]), newName = Unescape(argv[3]);
    if (oldName.size() != newName.size() || oldName.empty()) Fail("OLD and NEW must be non-empty and of equal length");

    struct stat st;
    std::vector<unsigned char> img = ReadFile(argv[1], st);
    if (img.size() < EI_NIDENT || std::memcmp(img.data(), ELFMAG, SELFMAG) != 0) Fail("not an ELF file");
    const uint16_t probe = 1;
    const bool hostLittle = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    if ((img[EI_DATA] == ELFDATA2LSB) != hostLittle) Fail("byte order differs from this host");
    if (img[EI_CLASS] == ELFCLASS64)
        Patcher<Elf64>(img, oldName, newName).Run();
    else if (img[EI_CLASS] == ELFCLASS32)
        Patcher<Elf32>(img, oldName, newName).Run();
    else
        Fail("unknown ELF class");
    WriteFile(argv[1], img, st.st_mode);
    return 0;
}
