#include "Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "AppShell.h"
#include "Config.h"
#include "Forms.h"
#include "ExtCtrls.h"
#include "LuxImage.h"
#include "PhotoAhead.h"
#include "ShowMusic.h"
#include "SysUtils.h"
#include "X11Embed.h"
#include "exedata.h"
#include "use.h"

namespace {
// How often the preview checks that its parent window still exists.
constexpr int kParentPollMs = 500;
// After a dialog: how often and how long the show asks for the focus again.
constexpr int kRefocusMs = 100, kRefocusTries = 10;

QColor ToQColor(TColor c) {
    const TColor rgb = ColorToRGB(c);
    return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}
}  // namespace

// ---- Adapters between the show loop and the real parts ----

class TMainForm::TTimerAdapter : public IShowTimer {
public:
    explicit TTimerAdapter(TTimer* T) : t_(T) {}
    void SetInterval(unsigned Ms) override { t_->SetInterval(Ms); }
    void SetEnabled(bool Value) override { t_->SetEnabled(Value); }
    bool Enabled() const override { return t_->Enabled(); }
    unsigned Interval() const override { return t_->Interval(); }

private:
    TTimer* t_;
};

class TMainForm::TRandomSource : public IShowRandom {
public:
    void Randomize() override {
        gen_.seed(uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    }
    int Random(int N) override { return std::uniform_int_distribution<int>(0, N - 1)(gen_); }

private:
    std::mt19937 gen_;
};

class TMainForm::TBlockSource : public IBlockSource {
public:
    explicit TBlockSource(int64_t MaxBlocks) { index_.Open(OwnDataFileName(), MaxBlocks); }
    bool ReadBlock(int K, std::string& Data) override { return index_.Read(K, Data); }
    bool ReadBlockPieces(int K, const std::function<bool(const char* Data, size_t Size)>& Sink) override {
        return index_.ReadPieces(K, size_t(1) << 20, Sink);
    }
    std::unique_ptr<TStream> OpenBlock(int K) const { return index_.OpenBlock(K); }

private:
    TBlockIndex index_;
};

class TMainForm::TViewAdapter : public IShowView {
public:
    TViewAdapter(TLuxImage* Pic, QLabel* Title, QLabel* Comment)
        : pic_(Pic), title_(Title), comment_(Comment) {}
    int Width() const override { return pic_->ClientWidth(); }
    int Height() const override { return pic_->ClientHeight(); }
    void SetBackground(TColor Color) override { pic_->SetBackground(Color); }
    void Clear() override { pic_->Clear(); }
    void UpdateView() override { pic_->Update(); }
    void Repaint() override { pic_->Repaint(); }
    void LockPaint() override { pic_->LockPaint(); }
    void UnlockPaint() override { pic_->UnlockPaint(); }
    bool LoadPhoto(const std::string& Data, size_t Offset, int& W, int& H) override {
        const TColor background = pic_->Background();
        bool ok = false;
        try {
            TPointerStream ms(Data.data() + std::min(Offset, Data.size()),
                              int64_t(Data.size() - std::min(Offset, Data.size())));
            pic_->IO()->Aborting = false;
            pic_->LoadFromStream(&ms);
            ok = !pic_->IO()->Aborting;
        } catch (const std::exception& e) {
            TestLog(std::string("photo not loaded: ") + e.what());
        }
        TBitmap* bmp = pic_->GetBitmap();
        W = bmp ? bmp->Width() : 0;
        H = bmp ? bmp->Height() : 0;
        // A failed load may have changed the background (a GIF's); the show keeps its own.
        if (!ok) pic_->SetBackground(background);
        return ok;
    }
    void SetAutoFit(bool Value) override { pic_->AutoFit = Value; }
    void SetZoom(double Percent) override { pic_->SetZoom(Percent); }
    int ViewX() const override { return pic_->ViewX(); }
    int ViewY() const override { return pic_->ViewY(); }
    void SetViewX(int Value) override { pic_->SetViewX(Value); }
    void SetViewY(int Value) override { pic_->SetViewY(Value); }
    void GetMaxViewXY(int& MaxX, int& MaxY) override { pic_->GetMaxViewXY(MaxX, MaxY); }
    void PrepareTransition() override { pic_->PrepareTransition(); }
    void RunTransition(TLXTransitionType Effect, int Ms) override { pic_->RunTransition(Effect, Ms); }
    bool TransitionRunning() const override { return pic_->TransitionRunning(); }
    void AbortTransition() override { pic_->AbortTransition(); }

    void StyleTitle(const TPlayerSettings& S) override {
        QFont f = title_->font();
        if (!S.NameFont.empty()) f.setFamily(QString::fromStdString(S.NameFont));
        if (S.NameSize > 0) f.setPointSize(S.NameSize);
        f.setBold(true);
        title_->setFont(f);
        QPalette p = title_->palette();
        p.setColor(QPalette::WindowText, ToQColor(S.NameColor));
        p.setColor(QPalette::Window, ToQColor(S.NameBackground));
        title_->setPalette(p);
        title_->setAutoFillBackground(S.NameShowBackground);
        title_->adjustSize();
    }
    void SetTitleText(const std::string& Text) override {
        title_->setText(QString::fromStdString(Text));
        title_->adjustSize();
    }
    int TitleWidth() const override { return title_->width(); }
    int TitleHeight() const override { return title_->height(); }
    void MoveTitle(int Left, int Top) override { title_->move(Left, Top); }
    void SetTitleVisible(bool Value) override {
        title_->setVisible(Value);
        if (Value) title_->raise();
    }
    void SetCommentVisible(bool Value) override { comment_->setVisible(Value); }

private:
    TLuxImage* pic_;
    QLabel *title_, *comment_;
};

// ---- The window ----

TMainForm::TMainForm(QWidget* Parent) : QWidget(Parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    picOwner_ = std::make_unique<TLuxImage>(nullptr);
    pic = picOwner_.get();
    pic->SetBackground(clBlack);
    pic->SetBorderStyle(bsNone);
    pic->SetCenter(true);
    // The show never undoes; an undo copy per clear would only hold memory.
    pic->SetAutoUndo(false);
    pic->SetAlign(alClient);
    pic->SetParentWindow(this);
    pic->Show();

    auto makeLabel = [this](const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), pic->ClientWidget());
        l->setTextFormat(Qt::PlainText);
        QFont f = l->font();
        f.setPixelSize(13);
        f.setBold(true);
        l->setFont(f);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        p.setColor(QPalette::Window, Qt::black);
        l->setPalette(p);
        l->setAutoFillBackground(true);
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->hide();
        return l;
    };
    Label1 = makeLabel("name");
    Label2 = makeLabel("comment");

    auto makeTimer = [](unsigned interval) {
        auto t = std::make_unique<TTimer>(nullptr);
        t->SetEnabled(false);
        t->SetInterval(interval);
        return t;
    };
    UpdateScreen = makeTimer(10000);
    showlabel = makeTimer(100);
    scroll = makeTimer(2);
    UpdateScreen->OnTimer = TNotifyEvent(this, &TMainForm::UpdateScreenTimer);
    showlabel->OnTimer = TNotifyEvent(this, &TMainForm::showlabelTimer);
    scroll->OnTimer = TNotifyEvent(this, &TMainForm::scrollTimer);
    photoTimer_ = std::make_unique<TTimerAdapter>(UpdateScreen.get());
    titleTimer_ = std::make_unique<TTimerAdapter>(showlabel.get());
    panTimer_ = std::make_unique<TTimerAdapter>(scroll.get());
    view_ = std::make_unique<TViewAdapter>(pic, Label1, Label2);
    rng_ = std::make_unique<TRandomSource>();

    // The show's clean-up runs on every end of the program.
    if (Application)
        Application->AddShutdownHandler([this] {
            if (controller_) controller_->FormHide();
        });
}

TMainForm::~TMainForm() {
    if (qApp) qApp->removeEventFilter(this);
    if (controller_) controller_->FormHide();
    controller_.reset();
    ahead_.reset();   // its worker stops before the view and the blocks go
    FormDestroy();
}

void TMainForm::CreateShow() {
    blocks_ = std::make_unique<TBlockSource>(int64_t(std::max<int32_t>(PlayerSettings.PhotoCount, 0)) + 2);
    music_ = std::make_unique<TShowMusicPlayer>([this] {
        if (controller_) controller_->MusicFailed();
    });
    controller_ = std::make_unique<TShowController>(
        PlayerSettings, RunMode, OsVersion.PlatformId, *view_, *blocks_, *rng_, *photoTimer_,
        *titleTimer_, *panTimer_, *music_, static_cast<IShowHost&>(*this));
    // The block index reads with pread, so the worker may use it beside the UI thread.
    TBlockSource* blocks = blocks_.get();
    ahead_ = std::make_unique<TPhotoAhead>(pic, [blocks](int K) { return blocks->OpenBlock(K); });
    controller_->SetPhotoAhead(ahead_.get());
}

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
    CreateShow();
    if (RunMode == rmSlideshow && ParamCount() == 0) {
        Thelpform help(nullptr);
        help.ShowModal();
    }
}

void TMainForm::FormDestroy() {
    // Nothing to reset: the screen-saver-running flag is not kept on Linux.
}

void TMainForm::ShowForMode() {
    qApp->installEventFilter(this);
    if (RunMode == rmPreview) {
        show();
        parentWatch_ = new QTimer(this);
        connect(parentWatch_, &QTimer::timeout, this, [this] { CheckPreviewParent(); });
        parentWatch_->start(kParentPollMs);
        TestLog("window preview " + IntToStr(WindowWidth) + "x" + IntToStr(WindowHeight) +
                " in " + IntToStr(int64_t(PreviewParent)));
    } else {
        if (RunMode == rmSlideshow) {
            winId();
            X11SkipTaskbar(this);
        }
        showFullScreen();
        TestLog(std::string("window show ") + (RunMode == rmSaver ? "saver" : "slideshow") +
                " " + IntToStr(WindowWidth) + "x" + IntToStr(WindowHeight) + " id " +
                IntToStr(int64_t(winId())));
    }
    controller_->FormShow(true);
}

void TMainForm::CheckPreviewParent() {
    int w = 0, h = 0;
    if (X11WindowSize(PreviewParent, w, h)) return;
    parentWatch_->stop();
    TestLog("preview parent gone");
    close();
}

void TMainForm::UpdateScreenTimer(TObject*) { controller_->UpdateScreenTimer(); }
void TMainForm::showlabelTimer(TObject*) { controller_->showlabelTimer(); }
void TMainForm::scrollTimer(TObject*) { controller_->scrollTimer(); }

void TMainForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* E) {
    // Events addressed to the show's own window: they arrive once, before any widget, and
    // whatever the widgets' mouse tracking.
    if (!controller_ || Watched != windowHandle()) return false;
    const QEvent::Type t = E->type();
    if (t == QEvent::WindowActivate) wasActive_ = true;
    if (controller_->FilterInstalled()) {
        switch (t) {
        case QEvent::MouseMove: {
            const QPointF g = static_cast<QMouseEvent*>(E)->globalPosition();
            return controller_->AppMessageFilter(TInputKind::MouseMove, int(g.x()), int(g.y()));
        }
        case QEvent::KeyPress:
            return controller_->AppMessageFilter(TInputKind::KeyDown);
        case QEvent::KeyRelease:
            return controller_->AppMessageFilter(TInputKind::KeyUp);
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return controller_->AppMessageFilter(TInputKind::ButtonDown);
        case QEvent::WindowDeactivate:
            // Only a loss of activation after the window was active counts; the activation
            // changes of the start-up do not.
            return wasActive_ && controller_->AppMessageFilter(TInputKind::Deactivate);
        default:
            return false;
        }
    }
    if (t == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(E);
        switch (k->key()) {
        case Qt::Key_Right: controller_->FormKeyDown(kVkRight); return true;
        case Qt::Key_Left: controller_->FormKeyDown(kVkLeft); return true;
        case Qt::Key_F10: controller_->FormKeyDown(kVkF10); return true;
        case Qt::Key_F1: controller_->FormKeyDown(kVkF1); return true;
        case Qt::Key_Escape: controller_->FormKeyPress(27); return true;
        case Qt::Key_Space: controller_->FormKeyPress(' '); return true;
        default: return false;
        }
    }
    if (t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease) {
        const Qt::MouseButton b = static_cast<QMouseEvent*>(E)->button();
        const TMouseButton mb = b == Qt::RightButton ? mbRight : b == Qt::MiddleButton ? mbMiddle : mbLeft;
        if (t == QEvent::MouseButtonPress) controller_->picMouseDown(mb);
        else controller_->picMouseUp(mb);
        return RunMode == rmSlideshow;
    }
    return false;
}

void TMainForm::closeEvent(QCloseEvent* E) {
    // The window manager may not close the saver or the preview; the program's own close does.
    if (!closing_ && E->spontaneous() && controller_ && !controller_->AcceptSpontaneousClose()) {
        E->ignore();
        return;
    }
    E->accept();
    if (controller_) controller_->FormHide();
    if (Application) Application->Terminate();
}

// ---- IShowHost ----

void TMainForm::CloseWindow() {
    closing_ = true;
    close();
}
void TMainForm::Quit() {
    if (controller_) controller_->FormHide();
    if (Application) Application->Terminate();
}
void TMainForm::Halt(int ExitCode) {
    if (Application) Application->Halt(ExitCode);
    std::exit(ExitCode);
}
void TMainForm::Maximize() {
    if (!isFullScreen()) showFullScreen();
}
TPoint TMainForm::CursorPos() {
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}
void TMainForm::ShowCursor(bool Show) {
    ::ShowCursor(Show);
    if (Show) unsetCursor();
    else setCursor(Qt::BlankCursor);
    if (pic) pic->Widget()->setCursor(Show ? Qt::ArrowCursor : Qt::BlankCursor);
}
void TMainForm::GrabKeyboard(bool Grab) {
    if (Grab) grabKeyboard();
    else releaseKeyboard();
}
bool TMainForm::PasswordInUse() { return SaverPasswordInUse(); }
bool TMainForm::VerifyPassword() { return VerifySaverPassword(uintptr_t(winId())); }
void TMainForm::ShowSettingsDialog() {
    TConfigForm dlg(nullptr);
    dlg.Button3->show();
    dlg.SetCaption(PayloadTexts[RunMode == rmSlideshow ? 22 : 23]);
    ShowModalOverShow(dlg);
    LoadRegistrySettings();
}
void TMainForm::ShowHelpDialog() {
    Thelpform help(nullptr);
    ShowModalOverShow(help);
}

// ---- Dialogs over the show ----

int TMainForm::ShowModalOverShow(TForm& Dialog) {
    const bool regrab = BeforeDialog(Dialog.Widget());
    struct After {
        TMainForm* show;
        bool regrab;
        ~After() { show->AfterDialog(regrab); }
    } after{this, regrab};
    return Dialog.ShowModal();
}

bool TMainForm::BeforeDialog(QWidget* Dialog) {
    // A grab would keep every key from the dialog.
    const bool grabbed = QWidget::keyboardGrabber() == this;
    if (grabbed) releaseKeyboard();
    // Above the stay-on-top show, and transient for it: the window manager keeps it in front
    // and gives the focus back to the show when it closes.
    Dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Dialog->winId();
    if (QWindow* w = Dialog->windowHandle(); w && windowHandle()) w->setTransientParent(windowHandle());
    TestLog("dialog over the show");
    return grabbed;
}

void TMainForm::AfterDialog(bool Regrab) {
    if (!isVisible()) return;
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    if (Regrab) grabKeyboard();
    // A window manager may move the focus while the dialog goes away, after the request
    // above: ask again until the show has it, for a little while.
    auto* retry = new QTimer(this);
    retry->setInterval(kRefocusMs);
    connect(retry, &QTimer::timeout, this, [this, retry, left = kRefocusTries]() mutable {
        // A dialog opened again meanwhile keeps the focus.
        if (!isVisible() || --left < 0 || QApplication::activeModalWidget()) {
            retry->deleteLater();
            return;
        }
        if (QGuiApplication::focusWindow() != windowHandle()) activateWindow();
    });
    retry->start();
}
void TMainForm::Log(const std::string& Line) { TestLog(Line); }
