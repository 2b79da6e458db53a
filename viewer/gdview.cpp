// gdview: the photo viewer. Opens the photo named on the command line in one window whose
// texts come from a language file beside the program.
#include <QCoreApplication>
#include <QStringList>

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
        // Qt has taken its own options out by now.
        const QStringList args = QCoreApplication::arguments();
        std::vector<std::string> params;
        for (qsizetype i = 1; i < args.size(); ++i) params.push_back(args[i].toStdString());
        SetProgramArguments(QCoreApplication::applicationFilePath().toStdString(), params);
        const std::string folder = QCoreApplication::applicationDirPath().toStdString();

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
