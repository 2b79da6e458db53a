// The settings dialog. For now a stand-in with the dialog's buttons only: OK stores the
// settings in force, Cancel closes, Exit ends the program. The controls come later.
#pragma once

#include <QDialog>

class QPushButton;

class TConfigForm : public QDialog {
public:
    explicit TConfigForm(QWidget* Owner = nullptr);
    void FormCreate();
    void ApplyPayloadTexts();
    void btnCloseClick();
    void Button1Click();
    void Button3Click();

    QPushButton* btnClose = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button3 = nullptr;
};
