// libFuzzer entry for the HTML label's markup, layout and painter.
#include <QGuiApplication>

#include <cstdlib>

#include "FuzzHTML.h"

// The font database Qt builds through fontconfig lives until the end: not ours to free. The
// run starts with a clean environment, so the suppression is built in.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Arguments of its own: Qt takes out those it knows, and libFuzzer's stay as they are.
    static int argc = 1;
    static char name[] = "fuzz_html_markup";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    WriteFuzzPictures();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) { return FuzzHTMLMarkup(Data, Size); }
