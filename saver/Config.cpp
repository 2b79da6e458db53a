#include "Config.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QWindow>

#include "AppShell.h"
#include "ScrnSave.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "UxClrBtn.h"
#include "UxCombos.h"
#include "about.h"

namespace {

// Typed characters of the display-time box pass timecomboKeyPress first.
class KeyPressFilter : public QObject {
public:
    KeyPressFilter(TConfigForm* Form, QObject* Parent) : QObject(Parent), form_(Form) {}
    bool eventFilter(QObject* Watched, QEvent* E) override {
        if (E->type() == QEvent::KeyPress) {
            const QString t = static_cast<QKeyEvent*>(E)->text();
            if (t.size() != 1) return false;
            return !Passes(t[0]);
        }
        // Text committed by the input method of the desktop (how typed characters arrive on
        // an X display): the characters that pass stay.
        if (E->type() == QEvent::InputMethod && !filtering_) {
            auto* im = static_cast<QInputMethodEvent*>(E);
            QString kept;
            for (QChar c : im->commitString())
                if (Passes(c)) kept += c;
            if (kept == im->commitString()) return false;
            QInputMethodEvent replaced(im->preeditString(), im->attributes());
            replaced.setCommitString(kept, im->replacementStart(), im->replacementLength());
            filtering_ = true;
            QCoreApplication::sendEvent(Watched, &replaced);
            filtering_ = false;
            return true;
        }
        return false;
    }

private:
    // Characters go through timecomboKeyPress; keys that type nothing (arrows, Delete, Tab,
    // Enter, Ctrl combinations) are no characters and pass as they are.
    bool Passes(QChar C) const {
        const char16_t u = C.unicode();
        if (u != 8 && (u < 0x20 || u == 0x7F)) return true;
        char key = u < 0x80 ? char(u) : '?';
        form_->timecomboKeyPress(key);
        return key != 0;
    }
    bool filtering_ = false;

public:

private:
    TConfigForm* form_;
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Label and control of one row: the label at the left, the control at Column.
QLabel* NewLabel(QWidget* Parent, const std::string& Name, const std::string& Caption, int Left, int Top) {
    auto* l = NewControl<QLabel>(Parent, Name, Left, Top);
    ::SetCaption(l, Caption);
    PlaceControl(l, Left, Top);
    return l;
}

constexpr const char* kEffects = "None\nCrossfade\nFade\nPaint\nMove\nBoxes\nZoom in\nZoom out";
constexpr const char* kPositions = "Top Left\nTop Center\nTop Right\nBottom Left\nBottom center\nBottom Right";

}  // namespace

TConfigForm::TConfigForm(TComponent* AOwner) : TForm(AOwner) {
    SetName("ConfigForm");
    SetCaption("Glimmerdeck Screensaver");
    SetBorderStyle(bsDialog);
    SetBorderIcons(biSystemMenu);
    SetPosition(poScreenCenter);
    SetClientSize(408, 320);

    constexpr int col = 140, right = 232, rightCol = 330;
    GroupBox1 = NewControl<QGroupBox>(this, "GroupBox1", 8, 6, 392, 116);
    ::SetCaption(GroupBox1, "Photos");
    Label1 = NewLabel(GroupBox1, "Label1", "Display Time (s):", 12, 28);
    timecombo = NewControl<QComboBox>(GroupBox1, "timecombo", col, 24, 80);
    timecombo->setEditable(true);
    timecombo->setInsertPolicy(QComboBox::NoInsert);
    SetItemsText(timecombo, "forever\n1\n3\n5\n10\n15\n30\n60\n120");
    // Keys reach the box, which hands them to its edit without further filters.
    timecombo->installEventFilter(new KeyPressFilter(this, timecombo));
    Label2 = NewLabel(GroupBox1, "Label2", "Effect:", 12, 56);
    ComboBox1 = NewControl<QComboBox>(GroupBox1, "ComboBox1", col, 52, 84);
    SetItemsText(ComboBox1, kEffects);
    Label4 = NewLabel(GroupBox1, "Label4", "Effect Duration (s):", 12, 84);
    SpinEdit2 = NewControl<QSpinBox>(GroupBox1, "SpinEdit2", col, 80, 56);
    SetSpinRange(SpinEdit2, 1, 60);
    SetSpinValue(SpinEdit2, 2);
    Label3 = NewLabel(GroupBox1, "Label3", "Background:", right, 28);
    cbackground = new TUxColorButton(this);
    cbackground->SetName("cbackground");
    cbackground->SetParentWindow(GroupBox1);
    cbackground->SetBounds(rightCol, 24, 45, 22);
    CheckBox3 = NewControl<QCheckBox>(GroupBox1, "CheckBox3", right, 54);
    ::SetCaption(CheckBox3, "Loop Photos");
    CheckBox4 = NewControl<QCheckBox>(GroupBox1, "CheckBox4", right, 82);
    ::SetCaption(CheckBox4, "Random Photo Order");

    GroupBox2 = NewControl<QGroupBox>(this, "GroupBox2", 8, 128, 392, 144);
    ::SetCaption(GroupBox2, "Photo Titles");
    CheckBox1 = NewControl<QCheckBox>(GroupBox2, "CheckBox1", 12, 26);
    ::SetCaption(CheckBox1, "Show at:");
    CheckBox1->setChecked(true);
    ComboBox2 = NewControl<QComboBox>(GroupBox2, "ComboBox2", col, 24, 110);
    SetItemsText(ComboBox2, kPositions);
    Label5 = NewLabel(GroupBox2, "Label5", "Font:", 12, 56);
    FontComboBox1 = NewControl<TFontComboBox>(GroupBox2, "FontComboBox1", col, 52, 236);
    Label7 = NewLabel(GroupBox2, "Label7", "Size:", 12, 84);
    SpinEdit3 = NewControl<QSpinBox>(GroupBox2, "SpinEdit3", col, 80, 56);
    SetSpinRange(SpinEdit3, 4, 128);
    SetSpinValue(SpinEdit3, 12);
    Label6 = NewLabel(GroupBox2, "Label6", "Color:", right, 84);
    cfont = new TUxColorButton(this);
    cfont->SetName("cfont");
    cfont->SetParentWindow(GroupBox2);
    cfont->SetBounds(rightCol, 80, 45, 22);
    CheckBox2 = NewControl<QCheckBox>(GroupBox2, "CheckBox2", 12, 112);
    ::SetCaption(CheckBox2, "Background:");
    CheckBox2->setChecked(true);
    cfontback = new TUxColorButton(this);
    cfontback->SetName("cfontback");
    cfontback->SetParentWindow(GroupBox2);
    cfontback->SetBounds(col, 108, 45, 22);

    Label8 = NewLabel(ClientWidget(), "Label8", "Created with Glimmerdeck:", 8, 280);
    Label8->hide();
    Button3 = NewControl<QPushButton>(this, "Button3", 8, 286, 110, 25);
    ::SetCaption(Button3, "Exit Slideshow");
    Button3->hide();
    btnClose = NewControl<QPushButton>(this, "btnClose", 160, 286, 75, 25);
    ::SetCaption(btnClose, "OK");
    btnClose->setIcon(btnClose->style()->standardIcon(QStyle::SP_DialogOkButton));
    SetDefault(btnClose, true);
    ::SetModalResult(btnClose, mrOk);
    Button1 = NewControl<QPushButton>(this, "Button1", 242, 286, 75, 25);
    ::SetCaption(Button1, "Cancel");
    SetCancel(Button1, true);
    Button2 = NewControl<QPushButton>(this, "Button2", 324, 286, 75, 25);
    ::SetCaption(Button2, "Info");

    ::OnClick(btnClose, [this] { btnCloseClick(); });
    ::OnClick(Button1, [this] { Button1Click(); });
    ::OnClick(Button2, [this] { Button2Click(); });
    ::OnClick(Button3, [this] { Button3Click(); });
    ::OnClick(CheckBox3, [this] { CheckBox3Click(); });
    OnShow = TNotifyEvent(this, &TConfigForm::FormShow);
    // The first field has the focus, so typing a display time needs no click.
    timecombo->setFocus(Qt::OtherFocusReason);
    FormCreate(this);
}

TConfigForm::~TConfigForm() { DoDestroy(); }

void TConfigForm::FormCreate(TObject*) {
    LoadRegistrySettings();
    ApplyPayloadTexts();
    TestLog("window config");
}

void TConfigForm::ApplyPayloadTexts() {
    const int timeIndex = timecombo->currentIndex(), effect = ComboBox1->currentIndex(),
              position = ComboBox2->currentIndex();
    Label8->hide();
    const std::pair<QObject*, int> captions[] = {
        {btnClose, 1}, {Button1, 2}, {Button2, 3}, {Button3, 4}, {Label8, 5}, {GroupBox1, 6},
        {Label1, 7}, {Label2, 8}, {Label4, 9}, {Label3, 10}, {CheckBox2, 10}, {CheckBox3, 11},
        {CheckBox4, 12}, {GroupBox2, 14}, {CheckBox1, 15}, {Label5, 16}, {Label7, 17}, {Label6, 18}};
    for (const auto& [control, text] : captions) {
        ::SetCaption(control, PayloadTexts[size_t(text)]);
        // Longer texts widen their control, as at the desktop font.
        if (auto* w = qobject_cast<QWidget*>(control)) PlaceControl(w, w->x(), w->y(), w->width(), w->height());
    }
    timecombo->setItemText(0, Q(PayloadTexts[13]));
    SetItemsText(ComboBox1, PayloadTexts[19]);
    SetItemsText(ComboBox2, PayloadTexts[20]);
    timecombo->setCurrentIndex(timeIndex);
    ComboBox1->setCurrentIndex(effect < ComboBox1->count() ? effect : -1);
    ComboBox2->setCurrentIndex(position < ComboBox2->count() ? position : -1);
}

void TConfigForm::FormShow(TObject*) {
    const TPlayerSettings& s = PlayerSettings;
    timecombo->setEditText(s.Duration < 0 ? timecombo->itemText(0) : Q(IntToStr(s.Duration)));
    shownDuration_ = timecombo->currentText().toStdString();
    CheckBox1->setChecked(s.Showname);
    ComboBox1->setCurrentIndex(s.Effect >= 0 && s.Effect < ComboBox1->count() ? s.Effect : -1);
    // Values outside the fields' ranges are shown and kept as they are until edited.
    SetSpinValue(SpinEdit2, s.EffectDuration);
    cbackground->SetColor(s.Background);
    if (RunMode == rmSlideshow) {
        CheckBox3->setChecked(s.Loop);
        CheckBox3->setEnabled(true);
    } else {
        // A saver always loops.
        CheckBox3->setChecked(true);
        CheckBox3->setEnabled(false);
    }
    CheckBox3Click();
    ComboBox2->setCurrentIndex(s.NamePosition >= 0 && s.NamePosition < ComboBox2->count() ? s.NamePosition : -1);
    CheckBox4->setChecked(s.Random);
    FontComboBox1->SetFontName(s.NameFont);
    // A font that is not installed here stays the setting; the box shows its name greyed.
    FontComboBox1->setPlaceholderText(Q(s.NameFont));
    SetSpinValue(SpinEdit3, s.NameSize);
    cfont->SetColor(s.NameColor);
    cfontback->SetColor(s.NameBackground);
    CheckBox2->setChecked(s.NameShowBackground);
}

void TConfigForm::CheckBox3Click() { CheckBox4->setEnabled(RunMode != rmSlideshow || CheckBox3->isChecked()); }

void TConfigForm::timecomboKeyPress(char& Key) {
    if (!((Key >= '0' && Key <= '9') || Key == 8)) Key = 0;
}

int32_t TConfigForm::DurationOfText(const std::string& Text) {
    try {
        return StrToInt(Text);
    } catch (const EConvertError&) {
        return -1;
    }
}

void TConfigForm::btnCloseClick() {
    TPlayerSettings& s = PlayerSettings;
    // A field the user left as shown keeps the stored value (one the lists cannot show
    // included).
    if (const std::string t = timecombo->currentText().toStdString(); t != shownDuration_) s.Duration = DurationOfText(t);
    if (ComboBox1->currentIndex() >= 0) s.Effect = ComboBox1->currentIndex();
    s.EffectDuration = SpinEdit2->value();
    s.Background = cbackground->GetColor();
    s.Showname = CheckBox1->isChecked();
    s.Loop = RunMode == rmSlideshow ? CheckBox3->isChecked() : true;
    s.Random = CheckBox4->isChecked();
    if (ComboBox2->currentIndex() >= 0) s.NamePosition = ComboBox2->currentIndex();
    // A font of the player file that is not installed here keeps its name.
    if (const std::string font = FontComboBox1->FontName(); !font.empty()) s.NameFont = font;
    s.NameSize = SpinEdit3->value();
    s.NameColor = cfont->GetColor();
    s.NameBackground = cfontback->GetColor();
    s.NameShowBackground = CheckBox2->isChecked();
    SaveRegistrySettings();
    SetModalResult(mrOk);
    if (!Modal()) Close();
}

void TConfigForm::Button1Click() { Close(); }

void TConfigForm::Button2Click() {
    Tinfoform about(this);
    // Kept above this dialog, which may itself sit above the full-screen show.
    about.Widget()->winId();
    if (QWindow* own = Widget()->windowHandle(); own && about.Widget()->windowHandle())
        about.Widget()->windowHandle()->setTransientParent(own);
    // The about text is shown as it stands, "&" included.
    about.Label2->setTextFormat(Qt::PlainText);
    about.Label2->setText(Q(PlayerSettings.AboutText));
    about.ShowModal();
}

void TConfigForm::Button3Click() { Application->Halt(0); }
