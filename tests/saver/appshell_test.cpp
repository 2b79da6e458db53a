// The one orderly shutdown on every way the program ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <fstream>

#include "AppShell.h"
#include "SysUtils.h"
#include "TestDir.h"

namespace {

bool Exists(const std::string& p) { return ::access(p.c_str(), F_OK) == 0; }

void Touch(const std::string& p) { std::ofstream(p) << "x"; }

// Starts an application with a main window, a temporary file, a hidden cursor and a shutdown
// handler that leaves a mark, then ends it with `how`; returns from Run only for the quit
// and close cases.
int RunAndEnd(const std::string& dir, const std::function<void()>& how) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char arg0[] = "saver";
    static char* argv[] = {arg0, nullptr};
    auto owned = std::make_unique<TApplication>();
    TApplication& app = *owned;
    Application = &app;
    app.Initialize(argc, argv);
    auto* form = new QWidget;
    app.SetMainForm(form);
    form->show();
    Touch(dir + "/music.tmp");
    app.RegisterTempFile(dir + "/music.tmp");
    ShowCursor(false);
    ShowCursor(false);
    app.AddShutdownHandler([dir] {
        std::ofstream(dir + "/order", std::ios::app) << "first\n";
    });
    app.AddShutdownHandler([dir] {
        std::ofstream(dir + "/order", std::ios::app) << "second " << CursorShowCount() << "\n";
    });
    QTimer::singleShot(0, how);
    app.Run();
    app.Shutdown();
    app.Shutdown();   // a second call does nothing
    delete form;
    owned.reset();
    Application = nullptr;
    std::ofstream(dir + "/order", std::ios::app) << "cursor " << CursorShowCount() << "\n";
    return 0;
}

void ExpectCleanedUp(const TestDir& d, bool returned = false) {
    EXPECT_FALSE(Exists(d.File("music.tmp"))) << "temporary file deleted";
    std::ifstream in(d.File("order"));
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Handlers run once, the last added first, before the cursor is restored.
    EXPECT_EQ(all.substr(0, all.find("cursor")), "second -2\nfirst\n");
    // Run returned: the cursor was shown again by then.
    if (returned) {
        EXPECT_NE(all.find("cursor 0\n"), std::string::npos) << all;
    }
}

}  // namespace

TEST(Shutdown, QuitMessage) {
    TestDir d;
    EXPECT_EXIT(std::exit(RunAndEnd(d.Path(), [] { Application->Terminate(); })),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d, true);
}

TEST(Shutdown, ClosingTheMainWindow) {
    TestDir d;
    EXPECT_EXIT(std::exit(RunAndEnd(d.Path(), [] { Application->MainForm()->close(); })),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d, true);
}

TEST(Shutdown, HaltFromInsideTheLoop) {
    TestDir d;
    EXPECT_EXIT(RunAndEnd(d.Path(), [] { Application->Halt(3); }), ::testing::ExitedWithCode(3), "");
    ExpectCleanedUp(d);
}

TEST(Shutdown, HaltFromANestedModalLoop) {
    TestDir d;
    EXPECT_EXIT(RunAndEnd(d.Path(),
                          [] {
                              QTimer::singleShot(0, [] { Application->Halt(0); });
                              QEventLoop nested;   // stands for a modal dialog
                              nested.exec();
                              std::_Exit(9);       // never reached
                          }),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d);
}

TEST(Shutdown, TermAndIntSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        TestDir d;
        EXPECT_EXIT(RunAndEnd(d.Path(), [sig] { ::raise(sig); }), ::testing::ExitedWithCode(0), "")
            << sig;
        ExpectCleanedUp(d);
    }
}

namespace {

int RunMainDialog() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "saver";
    char* argv[] = {arg0, nullptr};
    TApplication app;
    Application = &app;
    app.Initialize(argc, argv);
    {
        QDialog dialog;
        app.SetMainForm(&dialog);
        dialog.show();
        QTimer::singleShot(0, &dialog, &QDialog::accept);
        app.Run();
        app.Shutdown();
    }
    std::fprintf(stderr, "loop ended\n");
    const bool terminated = app.Terminated();
    Application = nullptr;
    return terminated ? 0 : 5;
}

void MainDialogDone() { std::exit(RunMainDialog()); }

void ErrorInAHandler() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "saver";
    char* argv[] = {arg0, nullptr};
    TApplication app;
    Application = &app;
    app.Initialize(argc, argv);
    QWidget form;
    app.SetMainForm(&form);
    form.show();
    QTimer::singleShot(0, [] { throw Exception("Photo block unreadable"); });
    QTimer::singleShot(20, [] { Application->Halt(4); });
    app.Run();
    std::_Exit(9);
}

}  // namespace

// The settings dialog as the main window: OK or Cancel hides it, which ends the program.
TEST(Shutdown, MainDialogDone) {
    EXPECT_EXIT(MainDialogDone(), ::testing::ExitedWithCode(0), "loop ended");
}

// An error raised in an event handler reaches the default report and the loop goes on.
TEST(Shutdown, ErrorInAHandlerIsReportedAndTheLoopGoesOn) {
    EXPECT_EXIT(ErrorInAHandler(), ::testing::ExitedWithCode(4), "Photo block unreadable");
}

TEST(CursorCount, HidesBelowZeroAndCounts) {
    const int base = CursorShowCount();
    EXPECT_EQ(ShowCursor(false), base - 1);
    EXPECT_EQ(ShowCursor(false), base - 2);
    EXPECT_EQ(ShowCursor(true), base - 1);
    EXPECT_EQ(ShowCursor(true), base);
}
