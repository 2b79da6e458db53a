// The settings dialog: the main window in Configure mode, and a modal dialog over a running
// slideshow (F10, right button). Its texts come from block 0; OK stores the settings in
// PlayerSettings and the registry.
#pragma once

#include <string>

#include "Forms.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class TFontComboBox;
class TUxColorButton;

class TConfigForm : public TForm {
public:
    explicit TConfigForm(TComponent* AOwner = nullptr);
    ~TConfigForm() override;

    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void ApplyPayloadTexts();
    void btnCloseClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void CheckBox3Click();
    // Only digits and Backspace reach the display-time box.
    void timecomboKeyPress(char& Key);

    // The display-time box's text as a setting: a number, or -1 for anything else.
    static int32_t DurationOfText(const std::string& Text);

    QPushButton *btnClose = nullptr, *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;
    QGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr,
           *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr;
    QComboBox *timecombo = nullptr, *ComboBox1 = nullptr, *ComboBox2 = nullptr;
    QSpinBox *SpinEdit2 = nullptr, *SpinEdit3 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr, *CheckBox4 = nullptr;
    TFontComboBox* FontComboBox1 = nullptr;
    TUxColorButton *cbackground = nullptr, *cfont = nullptr, *cfontback = nullptr;

private:
    std::string shownDuration_;   // the display-time text FormShow put there
};
