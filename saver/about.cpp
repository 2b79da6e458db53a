#include "about.h"

#include <QLabel>
#include <QPushButton>

#include "ScrnSave.h"
#include "StdCtrls.h"

Tinfoform::Tinfoform(TComponent* AOwner) : TForm(AOwner) {
    SetName("infoform");
    SetCaption("About this Screensaver");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(372, 233);
    Label2 = NewControl<QLabel>(this, "Label2", 8, 8, 353, 177);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The text wraps inside the label's bounds; what does not fit is cut at its bottom.
    SetAutoSize(Label2, false);
    Button1 = NewControl<QPushButton>(this, "Button1", 280, 200, 75, 25);
    ::SetCaption(Button1, "OK");
    ::SetModalResult(Button1, mrOk);
    SetCancel(Button1, true);
    OnShow = TNotifyEvent(this, &Tinfoform::FormShow);
    FormCreate(this);
}

Tinfoform::~Tinfoform() { DoDestroy(); }

void Tinfoform::FormCreate(TObject*) { ApplyAboutCaption(); }

void Tinfoform::FormShow(TObject*) {}

void Tinfoform::ApplyAboutCaption() { SetCaption(PayloadTexts[RunMode == rmSlideshow ? 24 : 25]); }
