#include "use.h"

#include <QLabel>
#include <QPushButton>

#include "AppShell.h"
#include "ScrnSave.h"

Thelpform::Thelpform(QWidget* Owner) : QDialog(Owner) {
    setFixedSize(367, 238);
    page_ = new QLabel(this);
    page_->setGeometry(8, 8, 353, 169);
    page_->setTextFormat(Qt::PlainText);
    page_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page_->setWordWrap(true);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(288, 208, 75, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate();
}

void Thelpform::FormCreate() { ApplyHelpTexts(); }

void Thelpform::ApplyHelpTexts() {
    setWindowTitle(QString::fromStdString(PayloadTexts[21]));
    page_->setText(QString::fromStdString(PayloadTexts[0]));
    TestLog("window help");
}
