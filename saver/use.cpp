#include "use.h"

#include <algorithm>

#include <QLabel>
#include <QPushButton>

#include "AppShell.h"
#include "ScrnSave.h"
#include "StdCtrls.h"
#include "UxHTMLText.h"
#include "UxSplit.h"

namespace {

// The page the form was designed with; block 0 always replaces it.
constexpr const char* kBuiltInPage =
    "<P ALIGN=\"CENTER\"><B>Glimmerdeck Slideshow</B></P>\n"
    "Right arrow, Space or a left click: next photo\n"
    "Left arrow: previous photo\n"
    "F10 or a right click: settings\n"
    "Escape: end the slideshow";

}  // namespace

Thelpform::Thelpform(TComponent* AOwner) : TForm(AOwner) {
    SetName("helpform");
    SetCaption("Glimmerdeck Slideshow Help");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(367, 238);

    HTMLStaticText1 = new TUxHTMLText(this);
    HTMLStaticText1->SetName("HTMLStaticText1");
    HTMLStaticText1->SetParent(this);
    HTMLStaticText1->SetBounds(8, 8, 353, 169);
    HTMLStaticText1->SetAutoScroll(false);
    HTMLStaticText1->SetAutoSizing(false);
    HTMLStaticText1->SetAutoSizeType(asVertical);
    HTMLStaticText1->SetMiniScroll(false);
    HTMLStaticText1->SetShadowOffset(1);
    HTMLStaticText1->SetVAlignment(tvaTop);
    HTMLStaticText1->SetUxHTMLText(kBuiltInPage);

    Label8 = NewControl<QLabel>(this, "Label8", 8, 183);
    ::SetCaption(Label8, "Created with Glimmerdeck:");

    UxSplitter1 = new TUxSplitter(this);
    UxSplitter1->SetName("UxSplitter1");
    UxSplitter1->SetParent(this);
    UxSplitter1->SetBounds(4, 200, 357, 2);
    UxSplitter1->SetBevelInner(bvLowered);
    UxSplitter1->SetBevelOuter(bvNone);

    Button1 = NewControl<QPushButton>(this, "Button1", 288, 208, 75, 25);
    ::SetCaption(Button1, "OK");
    // The desktop's button may be wider than the stored 75 pixels: it keeps its 4-pixel margin
    // to the right edge.
    Button1->move(std::min(Button1->x(), ClientWidth() - 4 - Button1->width()), Button1->y());
    ::SetModalResult(Button1, mrOk);
    // Enter closes the help, whichever control has the focus.
    SetDefault(Button1, true);

    FormCreate(this);
}

void Thelpform::FormCreate(TObject*) { ApplyHelpTexts(); }

void Thelpform::ApplyHelpTexts() {
    SetCaption(PayloadTexts[21]);
    HTMLStaticText1->SetUxHTMLText(PayloadTexts[0]);
    ::SetCaption(Label8, PayloadTexts[5]);
    Label8->hide();
    TestLog("window help");
}
