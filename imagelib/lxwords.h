// The library's dialog vocabulary: 120 words in nine built-in languages plus one row that an
// application may fill for its own language.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "lxdefs.h"

constexpr int WordLanguageCount = 10;  // msEnglish .. msUser
constexpr int WordCount = 120;

// Row r holds the language with ordinal r + 1 (row 0 English ... row 8 Dutch, row 9 msUser).
// Texts are 8-bit: Windows-1252 for the Latin-script languages, 1253 for Greek, 1251 for
// Russian.
using TWordTable = std::array<std::array<std::string, WordCount>, WordLanguageCount>;

// The table, filled with the built-in texts before it is first handed out.
TWordTable& WordTable();

// WordTable[language - 1][id] := text. Calls outside language 1..10 or id 0..119 are ignored.
void SetLanguageMessage(uint8_t language, uint8_t id, const std::string& text);

// Stores the built-in texts of English, Italian, German, Spanish, French, Portuguese, Greek,
// Russian and Dutch (the user row is left alone). Runs by itself before the first use.
void FillWordTable();

// Row of a message language: msEnglish .. msUser their own; msSystem, and any value outside
// the enumeration, the English row.
int WordTableRow(TMsgLanguage language);

// The word id in the language's row; an empty string for an id outside 0..119.
const std::string& GetLanguageWord(TMsgLanguage language, int id);
