// The show window. This is the start-up part of it: how it is created, parented, sized and
// destroyed in each run mode. The show itself (photos, transitions, titles, music, input rules)
// is not here yet; until it is, the window stays black and ends on the first key or button.
#pragma once

#include <cstdint>

#include <QWidget>

#include "Graphics.h"
#include "ScrnSave.h"

class QTimer;

class TMainForm : public QWidget {
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
    // Shows the window as the mode wants it: inside the parent, or full screen.
    void ShowForMode();

    uintptr_t PreviewParent = 0;
    TRect ParentRect;
    int WindowWidth = 0, WindowHeight = 0;
    TOSVersionRecord OsVersion;

protected:
    void paintEvent(QPaintEvent* E) override;
    void keyPressEvent(QKeyEvent* E) override;
    void mousePressEvent(QMouseEvent* E) override;
    void closeEvent(QCloseEvent* E) override;

private:
    void EndOnInput();
    void CheckPreviewParent();

    QTimer* parentWatch_ = nullptr;
};
