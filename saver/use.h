// The help dialog. For now a plain stand-in: its caption and its page as plain text, and the
// OK button; the HTML page comes with the HTML label.
#pragma once

#include <QDialog>

class QLabel;

class Thelpform : public QDialog {
public:
    explicit Thelpform(QWidget* Owner = nullptr);
    void FormCreate();
    void ApplyHelpTexts();

private:
    QLabel* page_ = nullptr;
};
