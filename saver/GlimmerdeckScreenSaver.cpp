// GlimmerdeckScreenSaver: one player file serves as screen saver (any extension but ".exe",
// normally ".scr") and as stand-alone slideshow (".exe"). Its show, settings and texts are
// the data blocks appended to the file itself.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppShell.h"
#include "Config.h"
#include "Main.h"
#include "NamedMutex.h"
#include "ScrnSave.h"
#include "SysUtils.h"
#include "X11Embed.h"

namespace {

// The own path, for the extension and the registry section: the file the running image was
// started from (a link named differently takes the mode of its target).
std::string OwnProgramPath(const char* argv0) {
    const QString p = QCoreApplication::applicationFilePath();
    return p.isEmpty() ? std::string(argv0 ? argv0 : "") : p.toStdString();
}

// The bare player has nothing to show: its dialog has no texts and its show no photos. Tells
// where the builder is (beside the player in a build tree: ../tools/gdpack).
void TellNoShowAppended() {
    const std::string self = ExtractFileName(ParamStr(0));
    std::string gdpack = ExtractFilePath(ParamStr(0)) + "../tools/gdpack";
    if (char* real = ::realpath(gdpack.c_str(), nullptr)) {
        gdpack = real;
        std::free(real);
    } else {
        gdpack = "tools/gdpack";
    }
    std::fprintf(stderr,
                 "%s: no show is appended to this file: it has no photos, settings or texts to show.\n"
                 "Make a show from it with tools/gdpack, e.g.\n"
                 "  %s build -o ~/MyShow.exe photo1.jpg photo2.jpg --music song.mp3\n"
                 "(a .exe is a slideshow, a .scr a screen saver; gdpack --help tells every option).\n",
                 self.c_str(), gdpack.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app;
    Application = &app;
    std::unique_ptr<TMainForm> mainForm;
    std::unique_ptr<TConfigForm> configForm;
    int exitCode = 0;
    try {
        app.Initialize(argc, argv);
        std::vector<std::string> args(argv + 1, argv + argc);
        SetProgramArguments(OwnProgramPath(argv[0]),
                            MapDaemonArguments(args, std::getenv("XSCREENSAVER_WINDOW"), X11RootWindow()));

        RunMode = ChooseRunMode(ParamStr(0), "");
        app.SetTitle("Glimmerdeck");

        if (CreateNamedMutex("GlimmerdeckScreenSaver") == TMutexResult::AlreadyExists) {
            std::fprintf(stderr, "%s: Glimmerdeck is already running; this copy ends.\n",
                         ExtractFileName(ParamStr(0)).c_str());
            TestLog("already running");
            return 0;
        }

        if (!LoadPayloadSettings()) TellNoShowAppended();
        RunMode = ChooseRunMode(ParamStr(0), ParamStr(1));
        TestLog("mode " + IntToStr(RunMode) + " photos " + IntToStr(PlayerSettings.PhotoCount));

        switch (RunMode) {
        case rmSaver:
        case rmPreview:
        case rmSlideshow:
            app.Embedded = RunMode == rmPreview;
            mainForm = std::make_unique<TMainForm>();
            mainForm->CreateParams();
            mainForm->FormCreate();
            TestLog("settings Duration " + IntToStr(PlayerSettings.Duration) + " Effect " +
                    IntToStr(PlayerSettings.Effect) + " Random " + IntToStr(PlayerSettings.Random));
            app.SetMainForm(mainForm.get());
            mainForm->ShowForMode();
            break;
        case rmSetPassword:
            ChangeSaverPassword();
            break;
        case rmConfigure:
            configForm = std::make_unique<TConfigForm>();
            app.SetMainForm(configForm.get());
            configForm->Show();
            break;
        }
        app.Run();
    } catch (const std::exception& e) {
        app.ShowError(e.what());
        exitCode = 1;
    }
    app.Shutdown();
    mainForm.reset();
    configForm.reset();
    TestLog("exit " + IntToStr(exitCode));
    return exitCode;
}
