// The player's application object over Qt: initialisation, the message loop, the ways the
// program ends, the default error report and the show-cursor count.
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

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QApplication;
class QSocketNotifier;
class QWidget;

class TApplication {
public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates the Qt application (argc/argv must outlive it) and installs the signal handlers.
    // Without a display it prints why and ends the program with exit code 1.
    void Initialize(int& argc, char** argv);
    void SetTitle(const std::string& Title);

    // The main window: when it is hidden for good the program terminates.
    void SetMainForm(QWidget* Form);
    QWidget* MainForm() const { return mainForm_; }

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
    void RegisterTempFile(const std::string& FileName);
    void ForgetTempFile(const std::string& FileName);

    // The default error report: the text on stderr and, when a real display is there and the
    // program does not run inside another window, in a message box.
    void HandleException(const std::exception& E);
    void ShowError(const std::string& Message);

    // Set while the program runs as a preview inside a foreign window: no message boxes.
    bool Embedded = false;

private:
    void OnSignal();

    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    QWidget* mainForm_ = nullptr;
    std::vector<std::function<void()>> shutdownHandlers_;
    std::vector<std::string> tempFiles_;
    bool terminated_ = false;
    bool shutDown_ = false;
};

// The one application object, created by the program entry.
extern TApplication* Application;

// The system's show-cursor count: the cursor is hidden while the count is below 0. Returns the
// new count.
int ShowCursor(bool Show);
int CursorShowCount();

// Test hook: when GLIMMERDECK_TEST_LOG names a file, one line per start-up event is appended
// to it (mode, windows created, exit reason), so end-to-end tests can follow a run.
void TestLog(const std::string& Line);
