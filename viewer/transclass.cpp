#include "transclass.h"

#include <iconv.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "SysUtils.h"

tlangdata* LangData = nullptr;

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Value tags of the binary filer format.
constexpr uint8_t kInt8 = 2, kInt16 = 3, kInt32 = 4, kString = 6, kLString = 12;

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }
[[noreturn]] void InvalidValue() { throw EReadError("Invalid property value"); }

// The index between the first "[" and the first "]" of a property name ("Items[3]").
int ItemIndex(const std::string& Property) {
    const size_t open = Property.find('['), close = Property.find(']');
    const size_t from = open == std::string::npos ? 0 : open + 1;
    const size_t to = close == std::string::npos ? 0 : close;
    return StrToInt(to > from ? Property.substr(from, to - from) : "");
}

[[noreturn]] void ListIndexError(int Index) {
    throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
}

bool HasCaption(QObject* Target) {
    if (qobject_cast<QAbstractButton*>(Target) || qobject_cast<QLabel*>(Target) || qobject_cast<QAction*>(Target) ||
        qobject_cast<QMenu*>(Target) || qobject_cast<QGroupBox*>(Target))
        return true;
    auto* w = qobject_cast<QWidget*>(Target);
    return w && w->isWindow();
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& A, const std::string& B) const {
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = uint8_t(FoldAscii(A[i])), b = uint8_t(FoldAscii(B[i]));
        if (a != b) return a < b;
    }
    return A.size() < B.size();
}

// ---- Value reader ----

TLangReader::TLangReader(TStream* Stream)
    : stream_(Stream), buffer_(new uint8_t[kBufferSize]), bufferStart_(Stream->Position()), size_(Stream->Size()) {}

TLangReader::~TLangReader() {
    // Back to right after the last value, as if the values had been read one by one.
    try {
        stream_->SetPosition(bufferStart_ + int64_t(at_));
    } catch (...) {
    }
}

void TLangReader::Read(void* Buffer, int64_t Count) {
    auto* out = static_cast<uint8_t*>(Buffer);
    while (Count > 0) {
        if (at_ == filled_) {
            bufferStart_ += int64_t(filled_);
            at_ = filled_ = 0;
            // A long text goes straight where it belongs.
            if (Count >= int64_t(kBufferSize)) {
                const int64_t n = stream_->Read(out, Count);
                bufferStart_ += std::max<int64_t>(n, 0);
                if (n != Count) ReadError();
                return;
            }
            const int64_t n = stream_->Read(buffer_.get(), int64_t(kBufferSize));
            if (n <= 0) ReadError();
            filled_ = size_t(n);
        }
        const size_t n = std::min(filled_ - at_, size_t(Count));
        std::memcpy(out, buffer_.get() + at_, n);
        at_ += n;
        out += n;
        Count -= int64_t(n);
    }
}

uint8_t TLangReader::ReadTag() {
    uint8_t tag = 0;
    Read(&tag, 1);
    return tag;
}

int32_t TLangReader::ReadInteger() {
    uint8_t b[4] = {};
    switch (ReadTag()) {
    case kInt8:
        Read(b, 1);
        return int8_t(b[0]);
    case kInt16:
        Read(b, 2);
        return int16_t(uint16_t(b[0] | b[1] << 8));
    case kInt32:
        Read(b, 4);
        return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    default: InvalidValue();
    }
}

std::string TLangReader::ReadString() {
    uint8_t b[4] = {};
    int64_t length = 0;
    switch (ReadTag()) {
    case kString:
        Read(b, 1);
        length = b[0];
        break;
    case kLString:
        Read(b, 4);
        // A negative length is as impossible as one beyond the end.
        length = int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        break;
    default: InvalidValue();
    }
    if (length < 0 || length > Left()) ReadError();
    std::string s(size_t(length), '\0');
    Read(s.data(), length);
    return s;
}

void tlinfo::ReadFrom(TLangReader& Reader) {
    Id = Reader.ReadString();
    Text = Reader.ReadString();
    FormName = Reader.ReadString();
    Extra = Reader.ReadString();
    Number = Reader.ReadInteger();
}

// ---- Table ----

void tlangdata::LoadFromFile(const std::string& Path) {
    FileName = Path;
    TFileStream file(Path, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

void tlangdata::LoadFromStream(TStream* Stream) {
    TLangReader reader(Stream);
    if (reader.ReadString() != "GDLF") throw Exception("Not a Glimmerdeck language file!");
    if (reader.ReadInteger() != 1) throw Exception("Wrong language file version!");
    const std::string fontName = reader.ReadString();
    FontSize = reader.ReadInteger();
    Charset = reader.ReadInteger();
    FontName = DecodeCharset(fontName, Charset);
    LanguageName = DecodeCharset(reader.ReadString(), Charset);
    reader.ReadString();
    reader.ReadInteger();
    const int32_t n = reader.ReadInteger();
    // N comes from the file: nothing is reserved for it; a count beyond the data ends in
    // "Stream read error" at the end of the file.
    for (int32_t i = 0; i < n; ++i) {
        auto entry = std::make_unique<tlinfo>();
        entry->ReadFrom(reader);
        for (std::string* s : {&entry->Id, &entry->Text, &entry->FormName, &entry->Extra})
            *s = DecodeCharset(*s, Charset);
        AddEntry(std::move(entry));
    }
}

void tlangdata::AddEntry(std::unique_ptr<tlinfo> Entry) {
    if (!Entry) return;
    auto [it, added] = entries_.try_emplace(Entry->Id);
    it->second = std::move(Entry);
}

tlinfo* tlangdata::FindEntry(const std::string& Id) const {
    const auto it = entries_.find(Id);
    return it == entries_.end() ? nullptr : it->second.get();
}

std::string tlangdata::Translate(const std::string& Id, const std::string& Default) const {
    const tlinfo* e = FindEntry(Id);
    return e ? e->Text : Default;
}

std::string tlangdata::KeyAt(int Index) const {
    if (Index < 0 || Index >= Count()) ListIndexError(Index);
    return std::next(entries_.begin(), Index)->first;
}

void tlangdata::TranslateProperty(QObject* Target, const std::string& Property, const std::string& Key) const {
    if (!Target) return;
    const tlinfo* e = FindEntry(Key);
    if (!e) return;
    if (SameText(Property, "caption") && HasCaption(Target)) {
        SetCaption(Target, e->Text);
    } else if (auto* list = qobject_cast<QListWidget*>(Target)) {
        const int i = ItemIndex(Property);
        if (i < 0 || i >= list->count()) ListIndexError(i);
        list->item(i)->setText(QString::fromStdString(e->Text));
    } else if (auto* box = qobject_cast<QComboBox*>(Target)) {
        const int i = ItemIndex(Property);
        if (i < 0 || i >= box->count()) ListIndexError(i);
        box->setItemText(i, QString::fromStdString(e->Text));
    }
}

void tlangdata::TranslateProperty(TObject* Target, const std::string& Property, const std::string& Key) const {
    if (!Target) return;
    const tlinfo* e = FindEntry(Key);
    if (!e) return;
    const bool caption = SameText(Property, "caption");
    if (auto* form = dynamic_cast<TForm*>(Target)) {
        if (caption) form->SetCaption(e->Text);
    } else if (auto* panel = dynamic_cast<TCustomPanel*>(Target)) {
        if (caption) panel->SetCaption(e->Text);
    } else if (auto* strings = dynamic_cast<TStringList*>(Target)) {
        strings->SetText(e->Text);
    }
}

std::string Translate(const std::string& Id, const std::string& Default) {
    return LangData ? LangData->Translate(Id, Default) : Default;
}

void TranslateProperty(QObject* Target, const std::string& Property, const std::string& Key) {
    if (LangData) LangData->TranslateProperty(Target, Property, Key);
}

void TranslateProperty(TObject* Target, const std::string& Property, const std::string& Key) {
    if (LangData) LangData->TranslateProperty(Target, Property, Key);
}

// ---- Character sets ----

void AppendUtf8(std::string& Out, uint32_t CodePoint) {
    const uint32_t c = CodePoint;
    if (c < 0x80) {
        Out += char(c);
    } else if (c < 0x800) {
        Out += char(0xC0 | (c >> 6));
        Out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        Out += char(0xE0 | (c >> 12));
        Out += char(0x80 | ((c >> 6) & 0x3F));
        Out += char(0x80 | (c & 0x3F));
    } else {
        Out += char(0xF0 | (c >> 18));
        Out += char(0x80 | ((c >> 12) & 0x3F));
        Out += char(0x80 | ((c >> 6) & 0x3F));
        Out += char(0x80 | (c & 0x3F));
    }
}

const char* CodePageOfCharset(int Charset) {
    // The character set is one byte; a file may hold it sign-extended.
    switch (Charset & 0xFF) {
    case 77: return "MACINTOSH";
    case 128: return "CP932";    // Shift-JIS
    case 129: return "CP949";    // Hangul
    case 130: return "CP1361";   // Johab
    case 134: return "CP936";    // GB2312
    case 136: return "CP950";    // Big5
    case 161: return "CP1253";   // Greek
    case 162: return "CP1254";   // Turkish
    case 163: return "CP1258";   // Vietnamese
    case 177: return "CP1255";   // Hebrew
    case 178: return "CP1256";   // Arabic
    case 186: return "CP1257";   // Baltic
    case 204: return "CP1251";   // Russian
    case 222: return "CP874";    // Thai
    case 238: return "CP1250";   // Eastern Europe
    case 255: return "CP437";    // OEM
    default: return "CP1252";    // ANSI, default, symbol and anything unknown
    }
}

std::string DecodeCharset(const std::string& Bytes, int Charset) {
    bool ascii = true;
    for (char c : Bytes) ascii = ascii && uint8_t(c) < 0x80;
    if (ascii) return Bytes;
    iconv_t cd = iconv_open("UTF-8", CodePageOfCharset(Charset));
    if (cd == iconv_t(-1)) cd = iconv_open("UTF-8", "CP1252");
    if (cd == iconv_t(-1)) throw EConvertError("No character set converter");
    std::string out;
    char buf[1024];
    char* in = const_cast<char*>(Bytes.data());
    size_t inLeft = Bytes.size();
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, size_t(o - buf));
        if (r != size_t(-1) || errno == E2BIG) continue;
        // A byte the code page lacks (or a cut multi-byte character) stands as U+FFFD.
        AppendUtf8(out, 0xFFFD);
        if (errno == EINVAL) break;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}
