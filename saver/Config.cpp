#include "Config.h"

#include <QPushButton>

#include "AppShell.h"
#include "ScrnSave.h"

TConfigForm::TConfigForm(QWidget* Owner) : QDialog(Owner) {
    setWindowTitle(QStringLiteral("Glimmerdeck Screensaver"));
    setFixedSize(408, 320);
    btnClose = new QPushButton(QStringLiteral("OK"), this);
    btnClose->setGeometry(160, 284, 75, 25);
    btnClose->setDefault(true);
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setGeometry(242, 284, 75, 25);
    Button3 = new QPushButton(QStringLiteral("Exit Slideshow"), this);
    Button3->setGeometry(8, 284, 120, 25);
    Button3->hide();
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    FormCreate();
}

void TConfigForm::FormCreate() {
    LoadRegistrySettings();
    ApplyPayloadTexts();
    TestLog("window config");
}

void TConfigForm::ApplyPayloadTexts() {
    btnClose->setText(QString::fromStdString(PayloadTexts[1]));
    Button1->setText(QString::fromStdString(PayloadTexts[2]));
    Button3->setText(QString::fromStdString(PayloadTexts[4]));
}

void TConfigForm::btnCloseClick() {
    SaveRegistrySettings();
    accept();
}

void TConfigForm::Button1Click() { reject(); }

void TConfigForm::Button3Click() { Application->Halt(0); }
