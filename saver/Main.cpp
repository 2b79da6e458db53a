#include "Main.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "AppShell.h"
#include "SysUtils.h"
#include "X11Embed.h"
#include "use.h"

namespace {
// How often the preview checks that its parent window still exists.
constexpr int kParentPollMs = 500;
}  // namespace

TMainForm::TMainForm(QWidget* Parent) : QWidget(Parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::CreateParams() {
    if (RunMode != rmPreview) return;
    const int handle = StrToInt(ParamStr(2));
    if (handle == 0)
        throw Exception("Cannot show the preview: no parent window was given (handle 0)");
    if (!X11Available())
        throw Exception("Cannot show the preview: embedding needs an X11 display, but this "
                        "session runs on \"" + CurrentPlatformName() + "\"");
    int w = 0, h = 0;
    if (!X11WindowSize(uintptr_t(uint32_t(handle)), w, h))
        throw Exception("Cannot show the preview: " + ParamStr(2) + " is not a window");
    PreviewParent = uintptr_t(uint32_t(handle));
    ParentRect = Rect(0, 0, w, h);
    X11EmbedInto(this, PreviewParent);
}

void TMainForm::FormCreate() {
    GetOsVersionRecord(OsVersion);
    if (RunMode == rmPreview) {
        WindowWidth = ParentRect.Width();
        WindowHeight = ParentRect.Height();
    } else {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        WindowWidth = screen.width();
        WindowHeight = screen.height();
        // The screen-saver-running flag of the old desktop has no Linux counterpart.
    }
    setGeometry(0, 0, WindowWidth, WindowHeight);
    LoadRegistrySettings();
    if (RunMode == rmSlideshow && ParamCount() == 0) {
        auto help = std::make_unique<Thelpform>(this);
        help->exec();
    }
}

void TMainForm::FormDestroy() {
    // Nothing to reset: the screen-saver-running flag is not kept on Linux.
}

void TMainForm::ShowForMode() {
    if (RunMode == rmPreview) {
        show();
        parentWatch_ = new QTimer(this);
        connect(parentWatch_, &QTimer::timeout, this, [this] { CheckPreviewParent(); });
        parentWatch_->start(kParentPollMs);
        TestLog("window preview " + IntToStr(WindowWidth) + "x" + IntToStr(WindowHeight) +
                " in " + IntToStr(int64_t(PreviewParent)));
        return;
    }
    if (RunMode == rmSlideshow) {
        winId();
        X11SkipTaskbar(this);
    }
    showFullScreen();
    TestLog(std::string("window show ") + (RunMode == rmSaver ? "saver" : "slideshow") + " " +
            IntToStr(WindowWidth) + "x" + IntToStr(WindowHeight) + " id " +
            IntToStr(int64_t(winId())));
}

void TMainForm::CheckPreviewParent() {
    int w = 0, h = 0;
    if (X11WindowSize(PreviewParent, w, h)) return;
    parentWatch_->stop();
    TestLog("preview parent gone");
    close();
}

void TMainForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

void TMainForm::EndOnInput() {
    switch (RunMode) {
    case rmSaver:
        Application->Terminate();
        break;
    case rmSlideshow:
        close();
        break;
    default:
        break;   // the preview takes no input; its parent ends it
    }
}

void TMainForm::keyPressEvent(QKeyEvent* E) {
    if (RunMode == rmSlideshow && E->key() == Qt::Key_Escape) Application->Halt(0);
    EndOnInput();
}

void TMainForm::mousePressEvent(QMouseEvent*) { EndOnInput(); }

void TMainForm::closeEvent(QCloseEvent* E) {
    E->accept();
    Application->Terminate();
}
