// gdview: the photo viewer. Opens the photo named on the command line in one window whose
// texts come from a language file beside the program.
#include <QCoreApplication>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "AppShell.h"
#include "SysUtils.h"
#include "global.h"
#include "main.h"
#include "selectlang.h"
#include "transclass.h"

int main(int argc, char** argv) {
    TApplication app;
    Application = &app;
    std::unique_ptr<tlangdata> lang;
    std::unique_ptr<TForm1> form;
    int exitCode = 0;
    try {
        app.Initialize(argc, argv);
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
