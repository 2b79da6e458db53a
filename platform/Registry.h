// The registry stand-in: keys and typed values in a file store under $XDG_CONFIG_HOME
// (default ~/.config). Key paths and value names are case-insensitive; writes are atomic
// and safe when two programs write at once.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Classes.h"

using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000, HKEY_CURRENT_USER = 0x80000001,
               HKEY_LOCAL_MACHINE = 0x80000002, HKEY_USERS = 0x80000003;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistry : public TObject {
public:
    TRegistry();
    ~TRegistry() override;

    HKEY RootKey() const { return root_; }
    void SetRootKey(HKEY k) { CloseKey(); root_ = k; }
    // Key paths use '\'; a leading '\' is absolute, otherwise relative to the open key.
    bool OpenKey(const std::string& Key, bool CanCreate);
    bool OpenKeyReadOnly(const std::string& Key);
    void CloseKey();
    bool CreateKey(const std::string& Key);
    bool DeleteKey(const std::string& Key);
    bool KeyExists(const std::string& Key);
    const std::string& CurrentPath() const { return path_; }

    bool ValueExists(const std::string& Name);
    bool DeleteValue(const std::string& Name);
    TRegDataType GetDataType(const std::string& Name);
    int GetDataSize(const std::string& Name);          // -1 when absent
    void GetValueNames(TStringList* Strings);
    void GetKeyNames(TStringList* Strings);

    // Reads raise ERegistryException when the value is of another type, and ReadInteger and
    // ReadBool also when it is absent; as in the class library, a missing string reads as ""
    // and missing binary data as 0 bytes.
    std::string ReadString(const std::string& Name);
    int ReadInteger(const std::string& Name);
    bool ReadBool(const std::string& Name);
    int ReadBinaryData(const std::string& Name, void* Buffer, int BufSize);
    void WriteString(const std::string& Name, const std::string& Value);
    void WriteInteger(const std::string& Name, int Value);
    void WriteBool(const std::string& Name, bool Value);
    void WriteBinaryData(const std::string& Name, const void* Buffer, int BufSize);

    // Where the store lives: $XDG_CONFIG_HOME/glimmerdeck/registry (tests point it elsewhere).
    static std::string StoreDirectory();
    // How many times this process has rewritten a store file (each rewrite is a whole file,
    // written beside it, synced and renamed over it).
    static uint64_t StoreRewrites();

private:
    HKEY root_ = HKEY_CURRENT_USER;
    std::string path_;
    bool open_ = false;
    bool readOnly_ = false;
};

// Sections are subkeys of the key FileName under HKEY_CURRENT_USER.
class TRegIniFile : public TObject {
public:
    explicit TRegIniFile(const std::string& FileName);
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default);
    int ReadInteger(const std::string& Section, const std::string& Ident, int Default);
    bool ReadBool(const std::string& Section, const std::string& Ident, bool Default);
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
    void WriteInteger(const std::string& Section, const std::string& Ident, int Value);
    void WriteBool(const std::string& Section, const std::string& Ident, bool Value);
    // Several text values of one section in one rewrite of the store, in the order given:
    // all of them are written, or (raising ERegistryException) none.
    void WriteStrings(const std::string& Section,
                      const std::vector<std::pair<std::string, std::string>>& Values);
    void EraseSection(const std::string& Section);
    void DeleteKey(const std::string& Section, const std::string& Ident);
    const std::string& FileName() const { return key_; }
private:
    std::string key_;
};

// The store file's format, for checks of its reader: what a text holds, one item a line in a
// fixed form (each key with its values and the lines kept as they are), and the text a
// rewrite of that store writes.
std::string DescribeRegistryStore(const std::string& Text);
std::string RewriteRegistryStore(const std::string& Text);
