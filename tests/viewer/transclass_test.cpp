// Language files and the translation table: valid and hostile files, the key rules, the code
// pages, and texts written into real windows, menus, buttons, labels and lists.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <functional>
#include <string>

#include "ExtCtrls.h"
#include "Forms.h"
#include "LngWriter.h"
#include "StdCtrls.h"
#include "saver/TestDir.h"
#include "transclass.h"

namespace {

struct LoadCase {
    const char* name;
    std::function<std::string()> bytes;
    const char* error;   // "" when the file loads
    int entries;
};

std::string Valid(int strTag, int intTag) {
    return LngWriter()
        .Header(2, 1, strTag, intTag)
        .Entry("viewer.Open1.caption", "Foto \xF6" "ffnen...", strTag, intTag)
        .Entry("viewer.title", "Betrachter", strTag, intTag)
        .Bytes();
}

// Every prefix of a valid file ends inside some value.
std::string Cut(size_t n) { return Valid(6, 2).substr(0, n); }

}  // namespace

TEST(LanguageFile, ValidAndHostileFiles) {
    const LoadCase cases[] = {
        {"short tags", [] { return Valid(6, 2); }, "", 2},
        {"long tags", [] { return Valid(12, 4); }, "", 2},
        {"two-byte integers", [] { return Valid(6, 3); }, "", 2},
        {"character set as a sign-extended byte", [] { return LngWriter().Header(0, 238, 6, 2).Bytes(); }, "", 0},
        {"trailing bytes ignored", [] { return Valid(6, 2) + "garbage"; }, "", 2},
        {"N = 0", [] { return LngWriter().Header(0).Bytes(); }, "", 0},
        {"N = -3", [] { return LngWriter().Header(-3).Bytes(); }, "", 0},
        {"lower-case magic", [] { return LngWriter().Str("gdlf").Int(1).Bytes(); }, "Not a Glimmerdeck language file!", 0},
        {"magic too long", [] { return LngWriter().Str("GDLF ").Int(1).Bytes(); }, "Not a Glimmerdeck language file!", 0},
        {"version 2", [] { return LngWriter().Str("GDLF").Int(2).Bytes(); }, "Wrong language file version!", 0},
        {"integer for the magic", [] { return LngWriter().Int(5).Bytes(); }, "Invalid property value", 0},
        {"string for the version", [] { return LngWriter().Str("GDLF").Str("1").Bytes(); }, "Invalid property value", 0},
        {"unknown tag 7", [] { return LngWriter().Str("GDLF").Raw("\x07\x01").Bytes(); }, "Invalid property value", 0},
        {"integer where the text is", [] { return LngWriter().Header(1).Str("viewer.title").Int(3).Bytes(); },
         "Invalid property value", 0},
        {"empty file", [] { return std::string(); }, "Stream read error", 0},
        {"string past the end", [] { return LngWriter().Str("GDLF", 6, 200).Bytes(); }, "Stream read error", 0},
        {"L = 0x7FFFFFFF", [] { return LngWriter().Header(1).Str("x", 12, 0x7FFFFFFF).Bytes(); }, "Stream read error", 0},
        {"negative L", [] { return LngWriter().Header(1).Str("x", 12, 0xFFFFFFF0u).Bytes(); }, "Stream read error", 0},
        {"N beyond the data", [] { return LngWriter().Header(2000000000, 1, 6, 4).Entry("a", "b").Bytes(); },
         "Stream read error", 1},
        {"cut in a 4-byte length", [] { return LngWriter().Header(1).Raw("\x0C\x05\x00").Bytes(); }, "Stream read error", 0},
        {"cut in a 4-byte integer", [] { return LngWriter().Str("GDLF").Raw("\x04\x01\x00").Bytes(); }, "Stream read error", 0},
    };
    TestDir dir;
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("x.lng");
        LngWriter().Raw(c.bytes()).Save(path);
        tlangdata table;
        std::string error;
        try {
            table.LoadFromFile(path);
        } catch (const Exception& e) {
            error = e.Message;
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(table.Count(), c.entries);
        EXPECT_EQ(table.FileName, path);
    }
}

TEST(LanguageFile, TruncatedAtEveryByteIsAStreamReadError) {
    TestDir dir;
    const size_t full = Valid(6, 2).size();
    for (size_t n = 0; n < full; ++n) {
        LngWriter().Raw(Cut(n)).Save(dir.File("cut.lng"));
        tlangdata table;
        try {
            table.LoadFromFile(dir.File("cut.lng"));
            ADD_FAILURE() << "loaded a file cut at " << n;
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message, "Stream read error") << n;
        }
        EXPECT_LE(table.Count(), 2);
    }
}

TEST(LanguageFile, HeaderFieldsAndMissingFile) {
    TestDir dir;
    LngWriter()
        .Str("GDLF").Int(1).Str("Tahoma").Int(10).Int(238).Str("Polski \xB9").Str("x").Int(7).Int(0)
        .Save(dir.File("pl.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("pl.lng"));
    EXPECT_EQ(table.FontName, "Tahoma");
    EXPECT_EQ(table.FontSize, 10);
    EXPECT_EQ(table.Charset, 238);
    EXPECT_EQ(table.LanguageName, "Polski \xC4\x85");   // 0xB9 is a-ogonek in Windows-1250
    EXPECT_THROW(table.LoadFromFile(dir.File("none.lng")), EFOpenError);
    EXPECT_EQ(table.FileName, dir.File("none.lng"));
}

namespace {

// A stream that counts the reads it is asked for: what a file stream turns into system calls.
class CountingStream : public TMemoryStream {
public:
    int64_t Read(void* Buffer, int64_t Count) override {
        ++reads;
        return TMemoryStream::Read(Buffer, Count);
    }
    int reads = 0;
};

}  // namespace

// The file is read through a buffer, not a few bytes per value: a file of many entries costs
// a read per buffer (and one per text longer than the buffer); the stream is left right after
// the last value, as if read value by value; the errors stay the same.
TEST(LanguageFile, ReadThroughABufferLeavingTheStreamAfterTheLastValue) {
    LngWriter w;
    const int n = 20000;
    w.Header(n + 1);
    for (int i = 0; i < n; ++i) w.Entry("viewer.key" + std::to_string(i), "Text number " + std::to_string(i));
    const std::string longText(300000, 'x');   // longer than the buffer
    w.Entry("viewer.long", longText, 12);
    const std::string bytes = w.Bytes();
    ASSERT_GT(bytes.size(), 4 * TLangReader::kBufferSize);
    CountingStream s;
    s.Write(bytes.data(), int64_t(bytes.size()));
    s.Write("TAIL", 4);
    s.SetPosition(0);
    tlangdata table;
    table.LoadFromStream(&s);
    EXPECT_EQ(table.Count(), n + 1);
    EXPECT_EQ(table.Translate("viewer.key12345", ""), "Text number 12345");
    EXPECT_EQ(table.Translate("viewer.long", ""), longText);
    EXPECT_LE(s.reads, int(bytes.size() / TLangReader::kBufferSize) + 4);
    EXPECT_EQ(s.Position(), int64_t(bytes.size()));
    char tail[4] = {};
    EXPECT_EQ(s.Read(tail, 4), 4);
    EXPECT_EQ(std::string(tail, 4), "TAIL");
    // From the middle of a stream, and cut inside a value: the same error as before.
    CountingStream cut;
    cut.Write("xyz", 3);
    cut.Write(bytes.data(), int64_t(bytes.size()) - 10);
    cut.SetPosition(3);
    tlangdata partial;
    EXPECT_THROW(partial.LoadFromStream(&cut), EReadError);
    EXPECT_EQ(partial.Count(), n);
}

TEST(LanguageTable, KeysIgnoreCaseTheFirstSpellingStaysTheLastTextWins) {
    TestDir dir;
    LngWriter()
        .Header(4)
        .Entry("viewer.Exit1.caption", "first")
        .Entry("viewer.title", "")
        .Entry("VIEWER.EXIT1.CAPTION", "last")
        .Entry("global.sdumpdir", "Dump")
        .Save(dir.File("a.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("a.lng"));
    EXPECT_EQ(table.Count(), 3);
    EXPECT_EQ(table.KeyAt(1), "viewer.Exit1.caption");
    EXPECT_EQ(table.Translate("Viewer.exit1.Caption", "Exit"), "last");
    // An entry with an empty text wins over the default.
    EXPECT_EQ(table.Translate("viewer.title", "Glimmerdeck Viewer"), "");
    EXPECT_EQ(table.Translate("viewer.missing", "default"), "default");
    // A second file adds to the table; its entries win as well.
    LngWriter().Header(1).Entry("GLOBAL.SDUMPDIR", "Dump 2").Save(dir.File("b.lng"));
    table.LoadFromFile(dir.File("b.lng"));
    EXPECT_EQ(table.Translate("global.sdumpdir", ""), "Dump 2");
    EXPECT_EQ(table.Count(), 3);
    tlangdata empty;
    EXPECT_EQ(empty.Translate("viewer.title", "Glimmerdeck Viewer"), "Glimmerdeck Viewer");
}

TEST(LanguageTable, CodePagesDecodeToUnicode) {
    struct {
        int charset;
        std::string bytes, utf8;
    } cases[] = {
        {161, "\xC1\xED\xEF\xE9\xE3\xEC\xE1", "\xCE\x91\xCE\xBD\xCE\xBF\xCE\xB9\xCE\xB3\xCE\xBC\xCE\xB1"},   // Ανοιγμα
        {204, "\xCE\xF2\xEA\xF0\xFB\xF2\xFC", "\xD0\x9E\xD1\x82\xD0\xBA\xD1\x80\xD1\x8B\xD1\x82\xD1\x8C"},   // Открыть
        {0, "\xD6" "ffnen \x80", "\xC3\x96" "ffnen \xE2\x82\xAC"},
        {1, "caf\xE9", "caf\xC3\xA9"},
        {238, "\xB9", "\xC4\x85"},
        {162, "\xFD", "\xC4\xB1"},
        {999, "\xE9", "\xC3\xA9"},                  // unknown: Windows-1252
        {1, "a\x81z", "a\xEF\xBF\xBDz"},            // a byte the code page lacks
        {128, "\x82\xA0", "\xE3\x81\x82"},          // Shift-JIS
        {128, "\x82", "\xEF\xBF\xBD"},              // a cut double-byte character
    };
    TestDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        EXPECT_EQ(DecodeCharset(c.bytes, c.charset), c.utf8);
        LngWriter().Header(1, c.charset).Entry("viewer.title", c.bytes).Save(dir.File("cp.lng"));
        tlangdata table;
        table.LoadFromFile(dir.File("cp.lng"));
        EXPECT_EQ(table.Translate("viewer.title", ""), c.utf8);
    }
}

TEST(LanguageTable, TranslatePropertyWritesTheRealWidgetTexts) {
    TestDir dir;
    LngWriter()
        .Header(9, 161)
        .Entry("k.form", "\xD0\xF1\xEF\xE2\xEF\xEB\xE5\xDF\xF2")   // Προβολείς
        .Entry("k.action", "&Open")
        .Entry("k.menu", "F&ile")
        .Entry("k.button", "OK!")
        .Entry("k.label", "Zoom &x:")
        .Entry("k.item", "second")
        .Entry("k.lines", "one\r\ntwo")
        .Entry("k.empty", "")
        .Entry("k.panel", "panel")
        .Save(dir.File("t.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("t.lng"));

    TForm form(nullptr);
    form.SetCaption("stored");
    table.TranslateProperty(&form, "caption", "k.form");
    EXPECT_EQ(form.Caption(), "\xCE\xA0\xCF\x81\xCE\xBF\xCE\xB2\xCE\xBF\xCE\xBB\xCE\xB5\xCE\xAF\xCF\x82");
    EXPECT_EQ(form.Widget()->windowTitle().toStdString(), form.Caption());

    QMenu menu;
    QAction* action = NewAction(&menu, "Open1", "Open photo...");
    table.TranslateProperty(action, "Caption", "k.action");
    EXPECT_EQ(action->text(), "&Open");
    table.TranslateProperty(&menu, "CAPTION", "k.menu");
    EXPECT_EQ(menu.title(), "F&ile");

    auto* button = NewControl<QPushButton>(&form, "Button2", 0, 0, 75, 25);
    auto* speed = NewControl<QToolButton>(&form, "SpeedButton4", 0, 0, 75, 25);
    auto* label = NewControl<QLabel>(&form, "Label1", 0, 0);
    ::SetCaption(label, "Zoom:");
    table.TranslateProperty(button, "caption", "k.button");
    table.TranslateProperty(speed, "caption", "k.button");
    table.TranslateProperty(label, "caption", "k.label");
    EXPECT_EQ(button->text(), "OK!");
    EXPECT_EQ(speed->text(), "OK!");
    EXPECT_EQ(label->text(), "Zoom x:");   // labels show the text without the accelerator mark
    // No entry, or a property the target lacks: nothing changes.
    table.TranslateProperty(label, "caption", "k.none");
    table.TranslateProperty(button, "hint", "k.label");
    EXPECT_EQ(label->text(), "Zoom x:");
    EXPECT_EQ(button->text(), "OK!");
    EXPECT_TRUE(button->property("caption").isNull()) << "no dynamic property";
    // An empty text is a text.
    table.TranslateProperty(button, "caption", "k.empty");
    EXPECT_EQ(button->text(), "");

    auto* list = NewControl<QListWidget>(&form, "list", 0, 0, 100, 100);
    list->addItems({"a", "b"});
    auto* combo = NewControl<QComboBox>(&form, "combo", 0, 0, 100, 0);
    combo->addItems({"a", "b"});
    table.TranslateProperty(list, "Items[1]", "k.item");
    table.TranslateProperty(combo, "Items[0]", "k.item");
    EXPECT_EQ(list->item(1)->text(), "second");
    EXPECT_EQ(combo->itemText(0), "second");
    EXPECT_THROW(table.TranslateProperty(list, "Items[2]", "k.item"), EListError);
    EXPECT_THROW(table.TranslateProperty(combo, "Items[x]", "k.item"), EConvertError);
    EXPECT_THROW(table.TranslateProperty(list, "caption", "k.item"), EConvertError);

    TStringList lines;
    table.TranslateProperty(&lines, "Lines", "k.lines");
    ASSERT_EQ(lines.Count(), 2);
    EXPECT_EQ(lines[1], "two");
    TPanel panel(nullptr);
    table.TranslateProperty(&panel, "caption", "k.panel");
    EXPECT_EQ(panel.Caption(), "panel");

    tlangdata empty;
    empty.TranslateProperty(button, "caption", "k.button");
    EXPECT_EQ(button->text(), "");
}
