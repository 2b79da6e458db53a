#include "AppShell.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Dialogs.h"
#include "Forms.h"
#include "SysUtils.h"

TApplication* Application = nullptr;

namespace {

int gSignalPipe[2] = {-1, -1};

void SignalHandler(int sig) {
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
    errno = saved;
}

// Exceptions that escape an event handler reach the default error report and the loop goes
// on, as the class library's message loop does.
class TLayerQApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ReportException(e);
            return false;
        } catch (...) {
            ReportException(Exception("Unknown error"));
            return false;
        }
    }
};

// Terminates the program when the main window is hidden for good (closed, or a dialog done).
class TMainFormWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && !event->spontaneous()) {
            auto* w = static_cast<QWidget*>(watched);
            if (!w->isVisible() && Application) Application->Terminate();
        }
        return false;
    }
};

int gCursorCount = 0;

}  // namespace

TApplication::TApplication() = default;

TApplication::~TApplication() {
    // The idle timer belongs to the Qt application, which may outlive this object.
    delete idleTimer_;
    idleTimer_ = nullptr;
    signalNotifier_.reset();
    app_.reset();
}

void TApplication::Initialize(int& argc, char** argv) {
    app_ = std::make_unique<TLayerQApplication>(argc, argv);
    app_->setQuitOnLastWindowClosed(false);

    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalNotifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated,
                         [this] { OnSignal(); });
        struct sigaction sa {};
        sa.sa_handler = SignalHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }
}

void TApplication::OnSignal() {
    char buf[16];
    int sig = 0;
    ssize_t n;
    while ((n = ::read(gSignalPipe[0], buf, sizeof buf)) > 0) sig = buf[n - 1];
    TestLog(std::string("signal ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    Halt(0);
}

void TApplication::SetTitle(const std::string& Title) {
    title_ = Title;
    if (app_) app_->setApplicationDisplayName(QString::fromStdString(Title));
}

void TApplication::SetMainForm(QWidget* Form) {
    mainForm_ = Form;
    mainTForm_ = nullptr;
    if (Form) Form->installEventFilter(new TMainFormWatch(Form));
}

void TApplication::SetMainForm(TForm* Form) {
    SetMainForm(Form ? Form->Widget() : nullptr);
    mainTForm_ = Form;
}

void TApplication::SetOnIdle(TIdleEvent Handler) {
    onIdle_ = Handler;
    ArmIdle();
}

void TApplication::ArmIdle() {
    if (!onIdle_ || !QCoreApplication::instance()) return;
    if (!idleTimer_) {
        // A zero timer runs when the queue has nothing else to deliver.
        idleTimer_ = new QTimer(QCoreApplication::instance());
        idleTimer_->setSingleShot(true);
        idleTimer_->setInterval(0);
        QObject::connect(idleTimer_, &QTimer::timeout, idleTimer_, [this] { RunIdle(); });
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, idleTimer_, [this] { idleTimer_ = nullptr; });
    }
    idleTimer_->start();
}

void TApplication::RunIdle() {
    if (!onIdle_ || terminated_) return;
    bool done = true;
    try {
        onIdle_(this, done);
    } catch (const std::exception& e) {
        ReportException(e);
    }
    if (!done) ArmIdle();
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
    return ::MessageBox(Text, Caption, Flags);
}

void TApplication::Run() {
    if (!app_ || !mainForm_ || terminated_) return;
    app_->exec();
}

void TApplication::Terminate() {
    if (terminated_) return;
    terminated_ = true;
    if (app_) QMetaObject::invokeMethod(app_.get(), [] { QCoreApplication::exit(0); },
                                        Qt::QueuedConnection);
}

void TApplication::Halt(int ExitCode) {
    terminated_ = true;
    TestLog("halt " + IntToStr(ExitCode));
    Shutdown();
    std::fflush(nullptr);
    // At once, like the runtime's halt: no unwinding through the dialogs and loops that may
    // be running below us.
    ::_exit(ExitCode);
}

void TApplication::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    for (auto it = shutdownHandlers_.rbegin(); it != shutdownHandlers_.rend(); ++it) {
        try {
            (*it)();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    shutdownHandlers_.clear();
    for (const auto& f : tempFiles_) ::unlink(f.c_str());
    tempFiles_.clear();
    while (CursorShowCount() < 0) ShowCursor(true);
    TestLog("shutdown");
}

void TApplication::AddShutdownHandler(std::function<void()> Handler) {
    shutdownHandlers_.push_back(std::move(Handler));
}

void TApplication::RegisterTempFile(const std::string& FileName) { tempFiles_.push_back(FileName); }

void TApplication::ForgetTempFile(const std::string& FileName) {
    std::erase(tempFiles_, FileName);
}

void TApplication::HandleException(const std::exception& E) { ShowError(E.what()); }

void TApplication::ShowError(const std::string& Message) {
    std::fprintf(stderr, "%s\n", Message.c_str());
    std::fflush(stderr);
    TestLog("error " + Message);
    if (!Embedded && (DialogResponder() || RealDisplay())) {
        while (CursorShowCount() < 0) ShowCursor(true);
        ::MessageBox(Message, title_, MB_OK | MB_ICONERROR);
    }
}

void ReportException(const std::exception& E) {
    try {
        if (Application) {
            Application->HandleException(E);
            return;
        }
    } catch (...) {
    }
    std::fprintf(stderr, "%s\n", E.what());
}

int ShowCursor(bool Show) {
    const int before = gCursorCount;
    gCursorCount += Show ? 1 : -1;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (before == 0 && gCursorCount < 0) QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        else if (before < 0 && gCursorCount == 0) QGuiApplication::restoreOverrideCursor();
    }
    return gCursorCount;
}

int CursorShowCount() { return gCursorCount; }

void TestLog(const std::string& Line) {
    const char* path = std::getenv("GLIMMERDECK_TEST_LOG");
    if (!path || !*path) return;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string l = Line + "\n";
    [[maybe_unused]] ssize_t n = ::write(fd, l.data(), l.size());
    ::close(fd);
}
