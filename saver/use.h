// The help dialog: the player's help page (block 0's text 0, in the HTML label's markup)
// above a separator line and the OK button.
#pragma once

#include "Forms.h"

class QLabel;
class QPushButton;
class TUxHTMLText;
class TUxSplitter;

class Thelpform : public TForm {
public:
    explicit Thelpform(TComponent* AOwner);
    void FormCreate(TObject* Sender);
    void ApplyHelpTexts();

    TUxHTMLText* HTMLStaticText1 = nullptr;
    QLabel* Label8 = nullptr;
    TUxSplitter* UxSplitter1 = nullptr;
    QPushButton* Button1 = nullptr;
};
