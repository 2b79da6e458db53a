// End to end on a real X server: a form with each standard control at small stored sizes,
// shown at the desktop's font. Every text fits its control, no two controls overlap, and the
// screenshot shows the form where the window system put it. The screenshot stays in the
// build folder (forms_screen.ppm) for a human to look at.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "screen_shot.h"

using screen_test::Pump;
using screen_test::Screenshot;

namespace {

class ControlsForm : public TForm {
public:
    ControlsForm() : TForm(nullptr) {
        SetName("ControlsForm");
        SetCaption("Every control");
        SetBorderStyle(bsDialog);
        SetPosition(poScreenCenter);
        SetClientSize(420, 330);
        // Stored sizes as a form designer at 8-point text would leave them: most are too
        // small for the captions at the desktop font.
        auto* menu = new QMenuBar;
        QMenu* file = NewMenu(menu, "File1", "&File");
        NewAction(file, "Open1", "&Open photo...", "Ctrl+O");
        NewSeparator(file, "N1");
        NewAction(file, "Exit1", "E&xit");
        NewMenu(menu, "Help1", "&Help");
        SetMenu(menu);

        auto* ok = NewControl<QPushButton>(this, "btnOK", 8, 8, 60, 20);
        ::SetCaption(ok, "&OK");
        SetDefault(ok, true);
        auto* cancel = NewControl<QPushButton>(this, "btnCancel", 88, 8, 60, 20);
        ::SetCaption(cancel, "Cancel");
        SetCancel(cancel, true);
        auto* speed = NewControl<QToolButton>(this, "SpeedButton1", 168, 8, 23, 22);
        ::SetCaption(speed, "100 %");
        auto* label = NewControl<QLabel>(this, "Label1", 8, 44, 40, 13);
        ::SetCaption(label, "&Time between photos:");
        auto* edit = NewControl<QLineEdit>(this, "Edit1", 200, 40, 100, 21);
        edit->setText("forever");
        auto* check = NewControl<QCheckBox>(this, "CheckBox1", 8, 72, 60, 17);
        ::SetCaption(check, "&Loop the slideshow");
        auto* radio = NewControl<QRadioButton>(this, "RadioButton1", 200, 72, 60, 17);
        ::SetCaption(radio, "Random order");
        auto* combo = NewControl<QComboBox>(this, "ComboBox1", 8, 100, 80, 21);
        SetItemsText(combo, "None\r\nFade\r\nSlide from the left\r\nRandom");
        combo->setCurrentIndex(2);
        auto* spin = NewControl<QSpinBox>(this, "SpinEdit1", 200, 100, 50, 22);
        spin->setRange(4, 128);
        spin->setValue(48);
        auto* list = NewControl<QListWidget>(this, "ListBox1", 8, 136, 150, 60);
        SetItemsText(list, "<internal>\nEnglish\nDeutsch");
        auto* group = NewControl<QGroupBox>(this, "GroupBox1", 200, 136, 120, 60);
        ::SetCaption(group, "Photo &titles");
        auto* inGroup = NewControl<QCheckBox>(group, "CheckBox2", 8, 22, 50, 17);
        ::SetCaption(inGroup, "Show names");
        auto* progress = NewControl<QProgressBar>(this, "ProgressBar1", 8, 210, 150, 16);
        progress->setValue(40);

        panel = new TPanel(this);
        panel->SetName("Panel1");
        panel->SetParent(this);
        panel->SetBounds(200, 210, 120, 30);
        panel->SetCaption("A panel");

        status = new TStatusBar(this);
        status->SetName("StatusBar1");
        status->SetParent(this);
        status->SetAlign(alBottom);
        status->SetPanelCount(2);
        status->SetPanelWidth(0, 150);
        status->SetPanelText(0, "/home/user/Pictures/photo.jpg");
        status->SetPanelText(1, "Ready");
    }

    TPanel* panel = nullptr;
    TStatusBar* status = nullptr;
};

// The part of a control's text that must be visible.
QString TextOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().remove('&');
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().remove('&');
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return {};
}

TEST(FormsScreen, NoCaptionCutNoControlsOverlap) {
    int argc = 1;
    char name[] = "forms_screen_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ControlsForm form;
    form.Show();
    Pump(700);

    QWidget* client = form.ClientWidget();
    std::vector<QWidget*> controls;
    for (QObject* o : client->children())
        if (auto* w = qobject_cast<QWidget*>(o); w && w->isVisible()) controls.push_back(w);
    ASSERT_GE(controls.size(), 13u);

    for (QWidget* w : controls) {
        SCOPED_TRACE(w->objectName().toStdString());
        // Inside the client area.
        EXPECT_TRUE(client->rect().contains(w->geometry())) << "outside the form";
        // As large as its text needs, and never below the control's minimum.
        const bool sizedByText = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                                 qobject_cast<QComboBox*>(w);
        const QSize need = sizedByText ? w->sizeHint().expandedTo(w->minimumSizeHint())
                                       : w->minimumSizeHint();
        EXPECT_GE(w->width(), need.width());
        EXPECT_GE(w->height(), need.height());
        const QString text = TextOf(w);
        if (!text.isEmpty() && !qobject_cast<QComboBox*>(w) && !qobject_cast<QGroupBox*>(w)) {
            EXPECT_LE(QFontMetrics(w->font()).horizontalAdvance(text), w->width()) << "text cut";
        }
    }
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " overlaps "
                << controls[j]->objectName().toStdString();

    // The window system shows the form where Qt says it is, in the form's colour.
    const screen_test::Shot shot = Screenshot(std::string(GD_BINARY_DIR) + "/forms_screen.ppm");
    ASSERT_TRUE(shot.ok());
    const QPoint origin = client->mapToGlobal(QPoint(0, 0));
    const TColor faceColor = ColorToRGB(form.Color());
    // A spot of plain form between the controls (the gap right of the list box).
    EXPECT_EQ(shot.At(origin.x() + 180, origin.y() + 150), faceColor);
    // A check box caption longer than its stored width: the text's pixels reach past it.
    auto* check = qobject_cast<QWidget*>(FindChildObject(&form, "CheckBox1"));
    ASSERT_NE(check, nullptr);
    int dark = 0;
    const QPoint c = check->mapToGlobal(QPoint(0, 0));
    for (int x = c.x() + 60; x < c.x() + check->width(); ++x)
        for (int y = c.y(); y < c.y() + check->height(); ++y)
            if (shot.At(x, y) != faceColor) ++dark;
    EXPECT_GT(dark, 20) << "the caption past the stored width is not drawn";
}

}  // namespace
