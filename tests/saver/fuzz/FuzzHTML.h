// One fuzz input through the HTML label's preparation, tokenizer and layout.
#pragma once

#include <cstddef>
#include <cstdint>

// The input is taken as a help page. Aborts when an invariant breaks (a token or an item
// that points outside what it was made from, an anchor index out of range).
int FuzzHTMLMarkup(const uint8_t* Data, size_t Size);
