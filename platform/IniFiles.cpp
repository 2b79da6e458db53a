#include "IniFiles.h"

#include <algorithm>

namespace {


std::vector<std::string> SplitLines(const std::string& content) {
    TStringList l;
    l.SetText(content);
    std::vector<std::string> r;
    for (int i = 0; i < l.Count(); ++i) r.push_back(l[i]);
    return r;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string r;
    for (const auto& l : lines) r += l + "\n";
    return r;
}

// "[name]" lines, the name trimmed; false for other lines.
bool SectionOf(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = Trim(t.substr(1, t.size() - 2));
    return true;
}

// "ident=value" lines; comments and blank lines are not entries.
bool EntryOf(const std::string& line, std::string& ident, std::string& value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    ident = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\'')))
        value = value.substr(1, value.size() - 2);
    return !ident.empty();
}

// The lines [begin, end) of a section's body; begin = npos when the section is absent.
void FindSection(const std::vector<std::string>& lines, const std::string& section, size_t& header, size_t& end) {
    header = std::string::npos;
    end = lines.size();
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!SectionOf(lines[i], name)) continue;
        if (header != std::string::npos) {
            end = i;
            return;
        }
        if (SameText(name, section)) header = i;
    }
}

std::vector<std::string> Load(const std::string& file) {
    std::string content;
    LoadFileToString(file, content);
    return SplitLines(content);
}

template <class F>
void Modify(const std::string& file, F change) {
    bool ok = UpdateFileAtomically(file, [&](std::string& content) {
        std::vector<std::string> lines = SplitLines(content);
        if (!change(lines)) return false;
        content = JoinLines(lines);
        return true;
    });
    if (!ok) throw EFCreateError("Cannot create file \"" + file + "\"");
}

}  // namespace

TIniFile::TIniFile(const std::string& FileName) : name_(FileName) {}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) {
    std::vector<std::string> lines = Load(name_);
    size_t h, e;
    FindSection(lines, Section, h, e);
    if (h == std::string::npos) return Default;
    std::string id, value;
    for (size_t i = h + 1; i < e; ++i)
        if (EntryOf(lines[i], id, value) && SameText(id, Ident)) return value;
    return Default;
}

int TIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int Default) {
    return StrToIntDef(ReadString(Section, Ident, ""), Default);
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) {
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
    Modify(name_, [&](std::vector<std::string>& lines) {
        size_t h, e;
        FindSection(lines, Section, h, e);
        std::string entry = Ident + "=" + Value;
        if (h == std::string::npos) {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
            lines.push_back("[" + Section + "]");
            lines.push_back(entry);
            return true;
        }
        std::string id, value;
        for (size_t i = h + 1; i < e; ++i)
            if (EntryOf(lines[i], id, value) && SameText(id, Ident)) {
                std::string kept = id + "=" + Value;   // the name keeps its spelling
                if (lines[i] == kept) return false;
                lines[i] = kept;
                return true;
            }
        // After the section's last entry, before any blank lines that separate sections.
        size_t at = e;
        while (at > h + 1 && Trim(lines[at - 1]).empty()) --at;
        lines.insert(lines.begin() + ptrdiff_t(at), entry);
        return true;
    });
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int Value) {
    WriteString(Section, Ident, IntToStr(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
    WriteString(Section, Ident, Value ? "1" : "0");
}

void TIniFile::ReadSection(const std::string& Section, TStringList* Idents) {
    Idents->Clear();
    std::vector<std::string> lines = Load(name_);
    size_t h, e;
    FindSection(lines, Section, h, e);
    if (h == std::string::npos) return;
    std::string id, value;
    for (size_t i = h + 1; i < e; ++i)
        if (EntryOf(lines[i], id, value)) Idents->Add(id);
}

bool TIniFile::SectionExists(const std::string& Section) {
    std::vector<std::string> lines = Load(name_);
    size_t h, e;
    FindSection(lines, Section, h, e);
    return h != std::string::npos;
}

void TIniFile::EraseSection(const std::string& Section) {
    if (!FileExists(name_)) return;
    Modify(name_, [&](std::vector<std::string>& lines) {
        size_t h, e;
        FindSection(lines, Section, h, e);
        if (h == std::string::npos) return false;
        lines.erase(lines.begin() + ptrdiff_t(h), lines.begin() + ptrdiff_t(e));
        return true;
    });
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
    if (!FileExists(name_)) return;
    Modify(name_, [&](std::vector<std::string>& lines) {
        size_t h, e;
        FindSection(lines, Section, h, e);
        if (h == std::string::npos) return false;
        std::string id, value;
        for (size_t i = h + 1; i < e; ++i)
            if (EntryOf(lines[i], id, value) && SameText(id, Ident)) {
                lines.erase(lines.begin() + ptrdiff_t(i));
                return true;
            }
        return false;
    });
}
