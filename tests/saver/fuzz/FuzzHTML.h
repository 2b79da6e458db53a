// One fuzz input through the HTML label's preparation, tokenizer, layout and painter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The input is taken as a help page. Aborts when an invariant breaks (a token or an item
// that points outside what it was made from, an anchor index out of range, the picture cache
// over its bound). Pictures named "FILE://..." are loaded (relative paths from the working
// folder); the layout is painted when a Qt application object exists.
int FuzzHTMLMarkup(const uint8_t* Data, size_t Size);

// The picture the regression pages name, FuzzPicturesDir() + "/big.png": a 4000 x 4000 PNG of
// 62 KB that takes 61 MB decoded, just within the label's cache. Written once when missing.
const char* FuzzPicturesDir();
void WriteFuzzPictures();
