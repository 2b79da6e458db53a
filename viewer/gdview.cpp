// gdview: the photo viewer. Opens the photo named on the command line in one window whose
// texts come from a language file beside the program.
#include <QCoreApplication>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AppShell.h"
#include "PhotoPrefetch.h"
#include "SysUtils.h"
#include "global.h"
#include "main.h"
#include "selectlang.h"
#include "transclass.h"

int main(int argc, char** argv) {
    // The photo decodes while Qt, the language file and the window start: a new view's
    // background is the button face. The window takes it only if it opens that very file.
    std::unique_ptr<TPhotoPrefetch> prefetch;
    if (argc > 1) prefetch = std::make_unique<TPhotoPrefetch>(argv[1], clBtnFace);
    TApplication app;
    Application = &app;
    std::unique_ptr<tlangdata> lang;
    std::unique_ptr<TForm1> form;
    int exitCode = 0;
    try {
        app.Initialize(argc, argv);
        // A decode still running must not outlive the program's end.
        app.AddShutdownHandler([&] {
            prefetch.reset();
            if (form) form->Prefetch.reset();
        });
        // Qt has taken its own options out of argv by now. The names stay the bytes they
        // are: Qt's strings would turn a name that is not UTF-8 (a Latin-1 one from an old
        // archive) into another name, of no file.
        std::vector<std::string> params(argv + 1, argv + argc);
        std::error_code ec;
        std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
        if (ec || self.empty()) self = QCoreApplication::applicationFilePath().toStdString();
        SetProgramArguments(self, params);
        const std::string folder = std::filesystem::path(self).parent_path().string();

        lang = std::make_unique<tlangdata>();
        LangData = lang.get();
        InitLanguage(folder);
        LoadGlobalStrings();
        form = std::make_unique<TForm1>(nullptr, folder);
        form->Prefetch = std::move(prefetch);
        app.SetMainForm(form.get());
        form->Show();
        TestLog("shown");
        app.Run();
    } catch (const std::exception& e) {
        app.ShowError(e.what());
        exitCode = 1;
    }
    app.Shutdown();
    form.reset();
    LangData = nullptr;
    lang.reset();
    return exitCode;
}
