#include "AppShell.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "Dialogs.h"
#include "Forms.h"
#include "Graphics.h"
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

// The desktop's style, with disabled captions (labels, check boxes, buttons, group boxes)
// drawn embossed as the classic controls draw them: the text once in the disabled light
// colour one pixel down and right, then in the disabled text colour.
class TClassicDisabledStyle : public QProxyStyle {
public:
    explicit TClassicDisabledStyle(const QString& Base) : QProxyStyle(Base) {}
    void drawItemText(QPainter* Painter, const QRect& Rect, int Flags, const QPalette& Pal, bool Enabled,
                      const QString& Text, QPalette::ColorRole TextRole) const override {
        if (!Enabled && !Text.isEmpty()) {
            Painter->save();
            Painter->setPen(Pal.color(QPalette::Disabled, QPalette::Light));
            QProxyStyle::drawItemText(Painter, Rect.translated(1, 1), Flags, Pal, Enabled, Text, QPalette::NoRole);
            Painter->restore();
        }
        QProxyStyle::drawItemText(Painter, Rect, Flags, Pal, Enabled, Text, TextRole);
    }
};

// The project's luminance of a colour.
int Luminance(const QColor& C) { return (C.red() * 21 + C.green() * 71 + C.blue() * 7) / 100; }

// The smallest luminance distance of Grey to the colours.
int Distance(int Grey, const std::vector<int>& Others) {
    int d = 255;
    for (int o : Others) d = std::min(d, std::abs(Grey - o));
    return d;
}

// Test hook: with GLIMMERDECK_TEST_LOG set, each focus change in a form is logged as
// "focus <form>.<control>", so tests driving a window by keys know where the keys go.
void InstallFocusLog() {
    const char* path = std::getenv("GLIMMERDECK_TEST_LOG");
    if (!path || !*path) return;
    QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
        // A focus passed on while it arrived is logged once, where it ended.
        if (!now || now != QApplication::focusWidget()) return;
        TForm* f = GetParentForm(ControlOfWidget(now));
        if (!f) return;
        TestLog("focus " + f->Name() + "." + f->ActiveControlName());
    });
}

// The platform plugin ends the program with a fatal message (an abort) when it cannot reach
// a display; while the application object is made, that becomes one plain message and exit 1.
// The plugin's other messages of that moment are held back: passed on when the start
// succeeds or fails for another reason, dropped when the display is what is missing.
QtMessageHandler gPreviousHandler = nullptr;
std::string gProgramName;
std::vector<std::pair<QtMsgType, QString>> gHeldMessages;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type != QtFatalMsg) {
        gHeldMessages.emplace_back(type, msg);
        return;
    }
    bool noDisplay = false;
    for (const auto& held : gHeldMessages) {
        noDisplay = noDisplay || held.second.contains(QLatin1String("display"), Qt::CaseInsensitive);
    }
    if (noDisplay) {
        const char* display = std::getenv("DISPLAY");
        const std::string why = display && *display
            ? std::string("cannot open the display \"") + display + "\""
            : std::string("no display (DISPLAY is not set)");
        std::fprintf(stderr,
                     "%s: %s. Start it in a desktop session, or under a virtual X server "
                     "(xvfb-run).\n",
                     gProgramName.c_str(), why.c_str());
        TestLog("no display");
    } else {
        for (const auto& held : gHeldMessages) std::fprintf(stderr, "%s\n", qPrintable(held.second));
        std::fprintf(stderr, "%s: %s\n", gProgramName.c_str(), qPrintable(msg));
        TestLog("no platform");
    }
    std::fflush(nullptr);
    ::_exit(1);
}

// After main has returned, or when a library calls exit() (the X connection broke at
// logout), the show's clean-up still runs.
void ShutdownAtExit() {
    if (Application) Application->Shutdown();
}

}  // namespace

TApplication::TApplication() = default;

TApplication::~TApplication() {
    delete idleTimer_.data();
    if (Application == this) Application = nullptr;
    signalNotifier_.reset();
    app_.reset();
}

void TApplication::Initialize(int& argc, char** argv) {
    gProgramName = argc > 0 && argv[0] ? ExtractFileName(argv[0]) : "GlimmerdeckScreenSaver";
    gPreviousHandler = qInstallMessageHandler(StartupMessageHandler);
    app_ = std::make_unique<TLayerQApplication>(argc, argv);
    qInstallMessageHandler(gPreviousHandler);
    for (const auto& [type, msg] : gHeldMessages) {
        if (gPreviousHandler) gPreviousHandler(type, QMessageLogContext(), msg);
        else std::fprintf(stderr, "%s\n", qPrintable(msg));
    }
    gHeldMessages.clear();
    app_->setQuitOnLastWindowClosed(false);
    std::atexit(ShutdownAtExit);
    // A file-size limit below the music's size must fail the write (the music is dropped and
    // its file removed), not kill the program with its temporary file half written.
    ::signal(SIGXFSZ, SIG_IGN);
    // Greyed captions in the classic look: embossed, in a grey that shows on the forms' face.
    app_->setStyle(new TClassicDisabledStyle(app_->style()->name()));
    QPalette pal = app_->palette();
    if (MakeDisabledTextLegible(pal)) app_->setPalette(pal);
    InstallFocusLog();

    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalNotifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated,
                         [this] { OnSignal(); });
        struct sigaction sa {};
        sa.sa_handler = SignalHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction old {};
            // Started under nohup: the hang-up stays ignored.
            if (sig == SIGHUP && sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
                continue;
            sigaction(sig, &sa, nullptr);
        }
    }
}

void TApplication::OnSignal() {
    char buf[16];
    int sig = 0;
    ssize_t n;
    while ((n = ::read(gSignalPipe[0], buf, sizeof buf)) > 0) sig = buf[n - 1];
    TestLog(std::string("signal ") + (sig == SIGINT ? "SIGINT" : sig == SIGHUP ? "SIGHUP" : "SIGTERM"));
    Halt(0);
}

// Kept in our own field: Qt would append an application display name to every window's
// title, which the class library's title never does.
void TApplication::SetTitle(const std::string& Title) { title_ = Title; }

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
    while (CursorShowCount() < 0) ShowCursor(true);
    TestLog("shutdown");
}

void TApplication::AddShutdownHandler(std::function<void()> Handler) {
    shutdownHandlers_.push_back(std::move(Handler));
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

bool MakeDisabledTextLegible(QPalette& Pal) {
    // Kept at least this far from each background and from the enabled text.
    constexpr int kMinDistance = 48, kClassicGrey = 128;
    const TColor face = ColorToRGB(clBtnFace);
    std::vector<int> backgrounds = {Luminance(QColor(GetRValue(face), GetGValue(face), GetBValue(face)))};
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button, QPalette::Base})
        backgrounds.push_back(Luminance(Pal.color(QPalette::Disabled, role)));
    bool changed = false;
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        std::vector<int> others = backgrounds;
        others.push_back(Luminance(Pal.color(QPalette::Active, role)));
        if (Distance(Luminance(Pal.color(QPalette::Disabled, role)), others) >= kMinDistance) continue;
        // The grey nearest the classic one that keeps the distance, else the one farthest
        // from its nearest neighbour.
        int best = kClassicGrey, bestScore = -1;
        for (int g = 0; g <= 255; ++g) {
            const int d = Distance(Luminance(QColor(g, g, g)), others);
            const int score = d >= kMinDistance ? 1000 - std::abs(g - kClassicGrey) : d;
            if (score > bestScore) {
                best = g;
                bestScore = score;
            }
        }
        Pal.setColor(QPalette::Disabled, role, QColor(best, best, best));
        changed = true;
    }
    const TColor light = ColorToRGB(clBtnHighlight);
    const QColor emboss(GetRValue(light), GetGValue(light), GetBValue(light));
    if (Pal.color(QPalette::Disabled, QPalette::Light) != emboss) {
        Pal.setColor(QPalette::Disabled, QPalette::Light, emboss);
        changed = true;
    }
    return changed;
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
