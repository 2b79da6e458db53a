// The show window: the photos full screen (or inside the preview window) through the show
// loop, with the real timers, image view, labels, music player and input events. The loop's
// own logic is TShowController (ShowLoop.h); this file binds it to Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <random>

#include <QWidget>

#include "BlockIndex.h"
#include "Graphics.h"
#include "ScrnSave.h"
#include "ShowLoop.h"

class QLabel;
class QTimer;
class TForm;
class TLuxImage;
class TTimer;
class TShowMusicPlayer;
class TPhotoAhead;

class TMainForm : public QWidget, private IShowHost {
public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // Creation parameters. In Preview mode: the parent window from the second argument
    // (decimal, EConvertError otherwise), which must be an existing X11 window; the show
    // becomes its child at 0, 0 with its size. Raises Exception when the preview cannot be
    // embedded, so a stray preview never holds the single-instance lock.
    void CreateParams();
    void FormCreate();
    void FormDestroy();
    // Shows the window as the mode wants it (inside the parent, or full screen) and starts
    // the show.
    void ShowForMode();

    uintptr_t PreviewParent = 0;
    TRect ParentRect;
    int WindowWidth = 0, WindowHeight = 0;
    TOSVersionRecord OsVersion;

    TLuxImage* pic = nullptr;
    QLabel* Label1 = nullptr;   // photo title
    QLabel* Label2 = nullptr;   // comment, never shown
    TShowController* Show() const { return controller_.get(); }

    // A dialog opened from the running show: made transient for the show window (the window
    // manager keeps it above the full-screen show), shown modally with the saver's keyboard
    // grab released, and afterwards the show is raised and gets its focus and keyboard back.
    int ShowModalOverShow(TForm& Dialog);

protected:
    void paintEvent(QPaintEvent* E) override;
    void closeEvent(QCloseEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;

private:
    class TTimerAdapter;
    class TViewAdapter;
    class TRandomSource;
    class TBlockSource;

    void UpdateScreenTimer(TObject* Sender);
    void showlabelTimer(TObject* Sender);
    void scrollTimer(TObject* Sender);
    void CheckPreviewParent();
    // The two halves of ShowModalOverShow around a dialog's own modal loop.
    bool BeforeDialog(QWidget* Dialog);
    void AfterDialog(bool Regrab);
    void CreateShow();

    // IShowHost
    void CloseWindow() override;
    void Quit() override;
    [[noreturn]] void Halt(int ExitCode) override;
    void Maximize() override;
    TPoint CursorPos() override;
    void ShowCursor(bool Show) override;
    void GrabKeyboard(bool Grab) override;
    bool PasswordInUse() override;
    bool VerifyPassword() override;
    void ShowSettingsDialog() override;
    void ShowHelpDialog() override;
    void Log(const std::string& Line) override;

    QTimer* parentWatch_ = nullptr;
    std::unique_ptr<TLuxImage> picOwner_;
    std::unique_ptr<TTimer> UpdateScreen, showlabel, scroll;
    std::unique_ptr<TTimerAdapter> photoTimer_, titleTimer_, panTimer_;
    std::unique_ptr<TViewAdapter> view_;
    std::unique_ptr<TRandomSource> rng_;
    std::unique_ptr<TBlockSource> blocks_;
    std::unique_ptr<TShowMusicPlayer> music_;
    std::unique_ptr<TPhotoAhead> ahead_;
    std::unique_ptr<TShowController> controller_;
    bool closing_ = false, wasActive_ = false;
};
