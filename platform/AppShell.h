// The application object of the class library over Qt: initialisation, the title, the main
// form, the message loop with its idle handler, the ways the program ends, the default error
// report and the show-cursor count. One per program (the player's and the viewer's).
//
// Every end of the program runs one orderly shutdown: the shutdown handlers (the show's
// clean-up: music stopped, temporary files deleted), then the registered temporary files are
// removed and the mouse cursor is restored. The ends are:
//   Terminate()  the quit message: the message loop returns, exit code 0;
//   the main window closing (hidden for good), which terminates as well;
//   Halt(code)   ends at once, from any depth (nested dialogs included);
//   SIGTERM / SIGINT / SIGHUP, handled as Halt(0) from the message loop (screen-saver daemons
//   end their programs with SIGTERM, a closed terminal with SIGHUP);
//   exit() from a library (the display connection lost), which still runs the shutdown.
// SIGXFSZ is ignored, so a file-size limit fails a write instead of killing the program.
#pragma once

#include <QPointer>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

class QApplication;
class QPalette;
class QSocketNotifier;
class QTimer;
class QWidget;
class TForm;

// OnIdle: called when the message queue has run empty; Done = false asks to be called again
// at once (while nothing else waits), true waits for the next empty queue.
using TIdleEvent = TMethod<void(TObject* Sender, bool& Done)>;

class TApplication : public TObject {
public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates the Qt application (argc/argv must outlive it) and installs the signal handlers.
    // Without a display it prints why and ends the program with exit code 1.
    void Initialize(int& argc, char** argv);
    void SetTitle(const std::string& Title);
    const std::string& Title() const { return title_; }

    // The main window: when it is hidden for good the program terminates.
    void SetMainForm(QWidget* Form);
    void SetMainForm(TForm* Form);
    QWidget* MainForm() const { return mainForm_; }
    // The main form when it is a layer form (null for a plain widget or none).
    TForm* MainTForm() const { return mainTForm_; }

    // The idle handler; assigning it (again) arms it for the next empty queue.
    void SetOnIdle(TIdleEvent Handler);
    const TIdleEvent& OnIdle() const { return onIdle_; }

    // The application's message box (Dialogs.h MessageBox): IDOK ... IDNO.
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags);

    // Runs the message loop until Terminate; returns at once when there is no main window or
    // the program is already terminating.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }

    // Ends the program at once after the orderly shutdown. Never returns.
    [[noreturn]] void Halt(int ExitCode);
    // The orderly shutdown; runs once, later calls do nothing.
    void Shutdown();

    void AddShutdownHandler(std::function<void()> Handler);

    // The default error report: the text on stderr and, when a real display is there (or a
    // dialog responder answers) and the program does not run inside another window, in an
    // error message box under the title.
    void HandleException(const std::exception& E);
    void ShowError(const std::string& Message);

    // Set while the program runs as a preview inside a foreign window: no message boxes.
    bool Embedded = false;
    // Whether controls show their hints (a splitter switches them off while dragging).
    bool ShowHint = true;

private:
    void OnSignal();
    void ArmIdle();
    void RunIdle();

    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    QPointer<QTimer> idleTimer_;   // owned; gone with the Qt application too
    TIdleEvent onIdle_;
    std::string title_;
    QWidget* mainForm_ = nullptr;
    TForm* mainTForm_ = nullptr;
    std::vector<std::function<void()>> shutdownHandlers_;
    bool terminated_ = false;
    bool shutDown_ = false;
};

// The one application object, created by the program entry.
extern TApplication* Application;

// An error that reached an event handler's edge: the application's report, or stderr when
// there is no application object. Never raises.
void ReportException(const std::exception& E);

// Disabled text of a palette made legible on every background the layer's windows show it
// on (the forms' and panels' face, and the palette's own window, button and base colours)
// while it still reads as disabled (apart from the enabled text): the desktop's own grey
// where it passes, else the grey nearest the classic one that does. The disabled light
// colour, which the style embosses disabled captions with, becomes the classic highlight.
// True when the palette changed.
bool MakeDisabledTextLegible(QPalette& Palette);

// The system's show-cursor count: the cursor is hidden while the count is below 0. Returns the
// new count.
int ShowCursor(bool Show);
int CursorShowCount();

// Test hook: when GLIMMERDECK_TEST_LOG names a file, one line per start-up event is appended
// to it (mode, windows created, exit reason), so end-to-end tests can follow a run.
void TestLog(const std::string& Line);
