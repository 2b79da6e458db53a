// The about box: the player file's about text under a caption for the run mode.
#pragma once

#include "Forms.h"

class QLabel;
class QPushButton;

class Tinfoform : public TForm {
public:
    explicit Tinfoform(TComponent* AOwner = nullptr);
    ~Tinfoform() override;
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void ApplyAboutCaption();

    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
};
