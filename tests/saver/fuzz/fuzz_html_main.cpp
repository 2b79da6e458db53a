// libFuzzer entry for the HTML label's markup and layout.
#include "FuzzHTML.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) { return FuzzHTMLMarkup(Data, Size); }
