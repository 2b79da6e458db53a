// INI files on disk: [Section] and Ident=Value lines, case-insensitive names, atomic writes.
#pragma once

#include <string>

#include "Classes.h"

class TIniFile : public TObject {
public:
    explicit TIniFile(const std::string& FileName);
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default);
    int ReadInteger(const std::string& Section, const std::string& Ident, int Default);
    bool ReadBool(const std::string& Section, const std::string& Ident, bool Default);
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
    void WriteInteger(const std::string& Section, const std::string& Ident, int Value);
    void WriteBool(const std::string& Section, const std::string& Ident, bool Value);
    void ReadSection(const std::string& Section, TStringList* Idents);
    bool SectionExists(const std::string& Section);
    void EraseSection(const std::string& Section);
    void DeleteKey(const std::string& Section, const std::string& Ident);
    const std::string& FileName() const { return name_; }
private:
    std::string name_;
};
