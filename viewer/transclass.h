// The viewer's translation table: language files (*.lng) read into one table of keys and
// texts, the lookup by key with a default, and writing a text into a named property of a
// window, menu item, button, label or list.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Classes.h"

class QObject;

// Keys differ only in ASCII letter case are the same key. Keys are ASCII, so folding ASCII
// is the whole rule; sorting and searching use this one order.
struct CaseInsensitiveLess {
    bool operator()(const std::string& A, const std::string& B) const;
};

// The value reader of the language files: a tag byte, then little-endian data. Integers are
// tags 2, 3 and 4 (1, 2 and 4 bytes, signed); strings are tags 6 and 12 (1- or 4-byte length,
// then the bytes). Another tag raises EReadError "Invalid property value"; the end of the
// stream inside a value, or a length beyond what the stream still holds, raises EReadError
// "Stream read error", before anything is allocated for it.
// The stream is read through a buffer of kBufferSize bytes (a value is a few bytes: read one
// by one, a file would cost several system calls per entry); when the reader is done the
// stream stands right after the last value read.
class TLangReader {
public:
    static constexpr size_t kBufferSize = 102400;
    explicit TLangReader(TStream* Stream);
    ~TLangReader();
    TLangReader(const TLangReader&) = delete;
    TLangReader& operator=(const TLangReader&) = delete;
    int32_t ReadInteger();
    // The bytes as stored (no code page applied).
    std::string ReadString();

private:
    uint8_t ReadTag();
    // Count bytes or "Stream read error".
    void Read(void* Buffer, int64_t Count);
    // What the stream still holds after the last value read.
    int64_t Left() const { return size_ - (bufferStart_ + int64_t(at_)); }
    TStream* stream_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t at_ = 0, filled_ = 0;   // the next byte and the end of what the buffer holds
    int64_t bufferStart_ = 0;      // the stream position of the buffer's first byte
    int64_t size_ = 0;             // the stream's size when the reader began
};

// One entry of the table.
class tlinfo : public TObject {
public:
    std::string Id;
    std::string Text;
    std::string FormName;
    std::string Extra;     // read and kept, not used
    int32_t Number = 0;    // read and kept, not used

    // Id, Text, FormName, Extra and Number, as stored (bytes in the file's code page).
    void ReadFrom(TLangReader& Reader);
};

class tlangdata : public TObject {
public:
    tlangdata() = default;
    ~tlangdata() override { Clear(); }

    // Adds the entries of a language file to the table. Raises EFOpenError when the file
    // cannot be opened, Exception "Not a Glimmerdeck language file!" or "Wrong language file
    // version!", EReadError "Invalid property value" or "Stream read error"; what was read
    // before the error stays. Texts are decoded from the file's character set to UTF-8.
    void LoadFromFile(const std::string& Path);
    // The same from a stream's current position (FileName unchanged).
    void LoadFromStream(TStream* Stream);

    // Takes the entry. An entry whose key is already there (in any letter case) replaces
    // that key's entry; the key keeps the spelling it was first added with.
    void AddEntry(std::unique_ptr<tlinfo> Entry);
    tlinfo* FindEntry(const std::string& Id) const;
    // The entry's text (also when it is empty), else Default.
    std::string Translate(const std::string& Id, const std::string& Default) const;

    // Writes the text of Key into the target's property. "caption" is the title of a form
    // or window and the text of a menu item, menu, button, label, group box or panel;
    // "Items[n]" is item n of a list box or combo box (EConvertError for a bad number,
    // EListError past the end); a string list takes the text whole, split into lines. No
    // entry for the key, or no such property, changes nothing.
    void TranslateProperty(QObject* Target, const std::string& Property, const std::string& Key) const;
    void TranslateProperty(TObject* Target, const std::string& Property, const std::string& Key) const;

    void Clear() { entries_.clear(); }
    int Count() const { return int(entries_.size()); }
    // The keys in table order, as first spelled.
    std::string KeyAt(int Index) const;

    std::string FontName = "MS Sans Serif";
    int FontSize = 8;
    int Charset = 1;
    std::string LanguageName;
    std::string FileName;

private:
    std::map<std::string, std::unique_ptr<tlinfo>, CaseInsensitiveLess> entries_;
};

// The program's one table (created before the main window, freed after the message loop).
extern tlangdata* LangData;

// Translate and TranslateProperty through LangData; the default (or nothing) without a table.
std::string Translate(const std::string& Id, const std::string& Default);
void TranslateProperty(QObject* Target, const std::string& Property, const std::string& Key);
void TranslateProperty(TObject* Target, const std::string& Property, const std::string& Key);

// The code page a file's character-set code stands for ("CP1252" for 0 and 1 and for codes
// nobody knows, "CP1253" for 161, "CP1251" for 204, ...), as iconv names it. Only the low
// byte counts (the code is one byte; -18 is 238).
const char* CodePageOfCharset(int Charset);
// Bytes in that character set as UTF-8; a byte sequence the code page lacks becomes U+FFFD.
std::string DecodeCharset(const std::string& Bytes, int Charset);
// Appends one Unicode code point as UTF-8.
void AppendUtf8(std::string& Out, uint32_t CodePoint);
