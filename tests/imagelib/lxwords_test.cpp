// The word table: its shape, the built-in texts in their code pages (checked against glibc's
// iconv), the English fallbacks and the language-to-row rules.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lxwords.h"

namespace {

const char* CodePageOf(int row) {
    if (row == msGreek - 1) return "CP1253";
    if (row == msRussian - 1) return "CP1251";
    return "CP1252";
}

// from -> to through iconv; nullopt when a byte or character has no mapping.
std::optional<std::string> Convert(const std::string& text, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string in = text, out(text.size() * 4 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1) || il != 0) return std::nullopt;
    out.resize(out.size() - ol);
    return out;
}

std::string Encode(const std::string& utf8, int row) {
    auto s = Convert(utf8, "UTF-8", CodePageOf(row));
    EXPECT_TRUE(s) << utf8;
    return s.value_or("");
}

const std::vector<std::string> EnglishTexts = {
    "Preview", "Original", "Result", "OK", "Cancel", "Lock preview", "Copy Result to Original",
    "Contrast", "Brightness", "Hue", "Saturation", "Value", "Base color", "New color",
    "Luminosity", "Red", "Green", "Blue", "Filter values", "Presets", "Divisor", "Load", "Save",
    "Equalization", "Threshold", "Equalize", "Histogram", "Gray", "Light", "Left", "Top",
    "Width", "Height", "Color", "Original image quantity", "Lens", "Refraction",
    "Parameters Preview", "Quality", "DCT method", "Smoothing factor", "Gray scale",
    "Optimal Huffman", "Original size", "Compressed size", "Advanced", "Progressive",
    "Compression", "Image index", "Photometric", "Scanned document info", "Name",
    "Description", "Page name", "Page number", "of", "Horiz. Position (inch)",
    "Vert. Position (inch)", "Colors", "Transparent", "Transparent color", "Interlaced",
    "Background", "Horiz. Position", "Vert. Position", "Delay time", "Filter", "Wave",
    "Amplitude", "Wave length", "Phase", "Reflective", "User filter", "Morphing filters",
    "Window size", "Maximum", "Minimum", "Opening", "Closing", "Rotate", "Flip", "Horizontal",
    "Vertical", "Frequency domain image", "Select the region to clean", "Clear", "Reset",
    "Animate", "Load filter", "Save filter", "Bump map", "Print", "Margins", "inches", "Right",
    "Bottom", "Position", "Size", "Normal", "Fit to page", "Stretch to page", "Specified size",
    "Gamma correction", "Value", "Print Setup", "Left Margin", "Top Margin", "Right Margin",
    "Bottom Margin", "Location/size", "Top Left", "Top Center", "Top Right", "Center Left",
    "Center", "Center Right", "Bottom Left", "Bottom Center", "Bottom Right", "Close",
};

std::set<int> Range(int from, int to, std::set<int> s = {}) {
    for (int i = from; i <= to; ++i) s.insert(i);
    return s;
}

struct Fallbacks {
    TMsgLanguage language;
    std::set<int> english;     // slots that hold the English word
    std::set<int> coincident;  // own words that happen to be spelt as in English
};

const std::vector<Fallbacks> FallbackCases = {
    {msItalian, {3, 90}, {}},
    {msGerman, {3, 42, 49, 51, 59, 61, 66, 68, 70, 75, 76, 81, 83, 90, 96, 98}, {}},
    {msSpanish, {1, 20, 76, 81, 82, 90, 98}, {33}},
    {msFrench, {10, 47, 52, 59, 68, 70, 75, 76, 90, 96, 98}, {}},
    {msPortuguese, {1, 3, 20, 68, 81, 82, 87, 90, 98}, {}},
    {msGreek, {87, 88, 89, 90}, {}},
    {msRussian, Range(87, 119, {3, 18}), {}},
    {msDutch, Range(91, 119, {3, 7, 26, 30, 35, 55, 66, 68, 75, 76, 87}), {}},
};

// Keeps every test's changes to the shared table local to that test.
class WordTableTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = WordTable(); }
    void TearDown() override { WordTable() = saved_; }
    TWordTable saved_;
};

TEST_F(WordTableTest, ShapeAndFilledRows) {
    static_assert(std::tuple_size_v<TWordTable> == 10);
    static_assert(std::tuple_size_v<TWordTable::value_type> == 120);
    const TWordTable& t = WordTable();
    for (int row = 0; row < 10; ++row)
        for (int id = 0; id < 120; ++id) {
            const std::string& s = t[size_t(row)][size_t(id)];
            if (row == msUser - 1)
                EXPECT_TRUE(s.empty()) << "user row, id " << id;
            else
                EXPECT_FALSE(s.empty()) << "row " << row << ", id " << id;
        }
}

TEST_F(WordTableTest, EnglishRowHoldsEveryBuiltInWord) {
    ASSERT_EQ(EnglishTexts.size(), 120u);
    for (int id = 0; id < 120; ++id)
        EXPECT_EQ(WordTable()[msEnglish - 1][size_t(id)], EnglishTexts[size_t(id)]) << id;
    EXPECT_EQ(WordTable()[0][11], WordTable()[0][103]);  // "Value" in two dialogs
}

TEST_F(WordTableTest, UntranslatedSlotsHoldEnglishAndOnlyThose) {
    for (const Fallbacks& f : FallbackCases) {
        const auto& row = WordTable()[size_t(f.language - 1)];
        for (int id = 0; id < 120; ++id) {
            const bool english = row[size_t(id)] == EnglishTexts[size_t(id)];
            const bool expected = f.english.count(id) || f.coincident.count(id);
            EXPECT_EQ(english, expected) << "language " << f.language << ", id " << id << ": \""
                                         << row[size_t(id)] << "\"";
        }
    }
}

struct SampleRow {
    int id;
    std::vector<std::string> texts;  // English .. Dutch, in UTF-8
};

const std::vector<SampleRow> SampleRows = {
    {0, {"Preview", "Anteprima", "Vorschau", "Vista Previa", "Prévisualisation", "Visualizar",
         "Προεπισκόπηση", "Просмотр", "Voorbeeld"}},
    {2, {"Result", "Elaborata", "Ergebnis", "Resultado", "Résultat", "Resultado", "Αποτέλεσμα",
         "Результат", "Resultaat"}},
    {3, {"OK", "OK", "OK", "Aceptar", "Ok", "OK", "\u039F\u039A", "OK", "OK"}},
    {4, {"Cancel", "Annulla", "Abbrechen", "Cancelar", "Annuler", "Cancelar", "Άκυρο", "Отмена",
         "Annuleren"}},
    {8, {"Brightness", "Luminosità", "Helligkeit", "Brillo", "Luminosité", "Brilho",
         "Φωτεινότητα", "Яркость", "Helderheid"}},
    {99, {"Fit to page", "Adatta alla pagina", "Druckbereich auf Seite anpassen",
          "Ajustar a la página", "Adapter à la page", "Ajustar à página",
          "Εφαρμόστε στήν σελίδα", "Fit to page", "Fit to page"}},
    {119, {"Close", "Chiudi", "Schließen", "Cerrar", "Fermer", "Fechar", "Κλείστε", "Close",
           "Close"}},
};

TEST_F(WordTableTest, SampleRowsInTheirCodePages) {
    for (const SampleRow& r : SampleRows) {
        ASSERT_EQ(r.texts.size(), 9u);
        for (int row = 0; row < 9; ++row)
            EXPECT_EQ(WordTable()[size_t(row)][size_t(r.id)], Encode(r.texts[size_t(row)], row))
                << "row " << row << ", id " << r.id;
    }
}

TEST_F(WordTableTest, RawBytesOfEightBitTexts) {
    struct Case {
        TMsgLanguage language;
        int id;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {msGerman, 119, "Schlie\xDF" "en"},
        {msRussian, 119, "Close"},
        {msGreek, 3, "\xCF\xCA"},                                  // Omicron, Kappa
        {msGreek, 4, "\xA2\xEA\xF5\xF1\xEF"},                      // Άκυρο
        {msRussian, 0, "\xCF\xF0\xEE\xF1\xEC\xEE\xF2\xF0"},        // Просмотр
        {msFrench, 0, "Pr\xE9visualisation"},
        {msItalian, 8, "Luminosit\xE0"},
        {msDutch, 6, "Resultaat naar origineel kopi\xEBren"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WordTable()[size_t(c.language - 1)][size_t(c.id)], c.bytes)
            << "language " << c.language << ", id " << c.id;
}

// Every stored byte is defined in its code page, and none is the converter's '?' stand-in
// for a character the page lacks.
TEST_F(WordTableTest, EverySlotIsValidInItsCodePage) {
    for (int row = 0; row < 9; ++row)
        for (int id = 0; id < 120; ++id) {
            const std::string& s = WordTable()[size_t(row)][size_t(id)];
            EXPECT_EQ(s.find('?'), std::string::npos) << "row " << row << ", id " << id;
            EXPECT_TRUE(Convert(s, CodePageOf(row), "UTF-8")) << "row " << row << ", id " << id;
        }
    // Greek and Russian words are written in their own scripts, not transliterated.
    for (int row : {msGreek - 1, msRussian - 1})
        EXPECT_GE(static_cast<unsigned char>(WordTable()[size_t(row)][1][0]), 0xC0u) << row;
}

TEST_F(WordTableTest, LanguageRows) {
    struct Case {
        TMsgLanguage language;
        int row;
    };
    const std::vector<Case> cases = {
        {msSystem, 0}, {msEnglish, 0},    {msItalian, 1}, {msGerman, 2}, {msSpanish, 3},
        {msFrench, 4}, {msPortuguese, 5}, {msGreek, 6},   {msRussian, 7}, {msDutch, 8},
        {msUser, 9},   {TMsgLanguage(11), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(WordTableRow(c.language), c.row) << c.language;

    EXPECT_EQ(GetLanguageWord(msSystem, 119), "Close");
    EXPECT_EQ(GetLanguageWord(msGerman, 119), "Schlie\xDF" "en");
    EXPECT_EQ(GetLanguageWord(msUser, 0), "");
    for (int id : {-1, 120, 1000}) EXPECT_EQ(GetLanguageWord(msEnglish, id), "") << id;
}

TEST_F(WordTableTest, SetLanguageMessageFillsTheUserRowAndIgnoresBadSlots) {
    SetLanguageMessage(msUser, 0, "Vorschau!");
    SetLanguageMessage(msUser, 119, "Zu");
    SetLanguageMessage(msEnglish, 4, "Abort");
    EXPECT_EQ(GetLanguageWord(msUser, 0), "Vorschau!");
    EXPECT_EQ(WordTable()[9][119], "Zu");
    EXPECT_EQ(GetLanguageWord(msSystem, 4), "Abort");

    const TWordTable before = WordTable();
    SetLanguageMessage(0, 0, "x");
    SetLanguageMessage(11, 0, "x");
    SetLanguageMessage(255, 255, "x");
    SetLanguageMessage(1, 120, "x");
    SetLanguageMessage(10, 255, "x");
    EXPECT_EQ(WordTable(), before);
}

TEST_F(WordTableTest, RefillRestoresBuiltInWordsAndKeepsTheUserRow) {
    SetLanguageMessage(msDutch, 0, "changed");
    SetLanguageMessage(msUser, 7, "mine");
    FillWordTable();
    EXPECT_EQ(GetLanguageWord(msDutch, 0), "Voorbeeld");
    EXPECT_EQ(GetLanguageWord(msUser, 7), "mine");
}

}  // namespace
