// Forms and their standard controls: the Align layout, modal forms with default and cancel
// buttons, the class-library rules for Qt's widgets, name lookup, the status bar, panels,
// the dialogs seam and the application object's idle handler and error report.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QAbstractButton>
#include <QMessageBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppShell.h"
#include "ComCtrls.h"
#include "Dialogs.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

// A bare windowed control for layouts.
class Box : public TWinControl {
public:
    Box(TWinControl* parent, TAlign a, int w, int h, const char* name = "") : TWinControl(nullptr) {
        SetBounds(0, 0, w, h);
        SetName(name);
        SetParent(parent);
        SetAlign(a);
    }
};

// Answers every dialog as the test says and records what was asked.
struct Responder : TDialogResponder {
    std::vector<std::string> boxes;
    int answer = IDOK;
    std::function<void(TForm&)> onModal;
    std::function<bool(TOpenDialog&)> onOpen;
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
        boxes.push_back(Caption + "|" + Text + "|" + std::to_string(Flags));
        return answer;
    }
    bool OpenFile(TOpenDialog& d) override { return onOpen ? onOpen(d) : false; }
    void ModalForm(TForm& f) override {
        if (onModal) onModal(f);
    }
};

class WithResponder : public ::testing::Test {
protected:
    void SetUp() override { SetDialogResponder(&r); }
    void TearDown() override { SetDialogResponder(nullptr); }
    Responder r;
};

void SendKey(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

// Shows the form and gives the widget the keyboard focus, as a user's click would.
void Focus(TForm& f, QWidget* w) {
    f.Show();
    f.Widget()->activateWindow();
    QApplication::setActiveWindow(f.Widget());
    w->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
}

}  // namespace

// ---- Align ----

TEST(AlignLayout, EdgesThenClientAtSeveralSizes) {
    TForm form(nullptr);
    form.SetClientSize(300, 200);
    Box top(&form, alTop, 10, 30), bottom(&form, alBottom, 10, 20), left(&form, alLeft, 40, 10),
        right(&form, alRight, 50, 10), client(&form, alClient, 1, 1);
    struct Case {
        int w, h;
    };
    for (Case c : {Case{300, 200}, Case{500, 120}, Case{60, 40}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        form.SetClientSize(c.w, c.h);
        EXPECT_EQ(top.BoundsRect(), Rect(0, 0, c.w, 30));
        EXPECT_EQ(bottom.BoundsRect(), Rect(0, c.h - 20, c.w, c.h));
        const int middle = std::max(c.h - 50, 0);   // too low for both: the edges overlap
        EXPECT_EQ(left.BoundsRect(), Rect(0, 30, 40, 30 + middle));
        EXPECT_EQ(right.BoundsRect(), Rect(c.w - 50, 30, c.w, 30 + middle));
        // What is left; a negative extent becomes 0.
        EXPECT_EQ(client.Left(), 40);
        EXPECT_EQ(client.Top(), 30);
        EXPECT_EQ(client.Width(), std::max(c.w - 90, 0));
        EXPECT_EQ(client.Height(), std::max(c.h - 50, 0));
    }
}

TEST(AlignLayout, OrderHiddenChildrenAndDeferredLayout) {
    TForm form(nullptr);
    form.SetClientSize(200, 200);
    Box a(&form, alTop, 10, 30, "a");
    Box b(&form, alTop, 10, 10, "b");
    Box client(&form, alClient, 1, 1);
    EXPECT_EQ(a.Top(), 0);
    EXPECT_EQ(b.Top(), 30);
    // Moved above a, b is stacked first (order by position, as the class library sorts).
    b.SetTop(-1);
    EXPECT_EQ(b.Top(), 0);
    EXPECT_EQ(a.Top(), 10);
    // A hidden child takes no space.
    b.SetVisible(false);
    EXPECT_EQ(a.Top(), 0);
    EXPECT_EQ(client.Top(), 30);
    // With alignment disabled a size change waits for the last EnableAlign.
    form.DisableAlign();
    form.DisableAlign();
    a.SetHeight(50);
    EXPECT_EQ(client.Top(), 30);
    form.EnableAlign();
    EXPECT_EQ(client.Top(), 30);
    form.EnableAlign();
    EXPECT_EQ(client.Top(), 50);
    EXPECT_EQ(a.Height(), 50);
    EXPECT_EQ(form.ControlAtPos({5, 60}), &client);
    EXPECT_EQ(form.ControlAtPos({5, 10}), &a);
}

TEST(AlignLayout, PanelKeepsChildrenInsideItsBevels) {
    TForm form(nullptr);
    TPanel panel(nullptr);
    panel.SetParent(&form);
    panel.SetBounds(0, 0, 100, 60);
    panel.SetBevelInner(bvLowered);
    panel.SetBevelWidth(2);   // outer raised + inner lowered, 2 each
    Box inner(&panel, alClient, 1, 1);
    EXPECT_EQ(inner.BoundsRect(), Rect(4, 4, 96, 56));
    panel.SetBevelOuter(bvNone);
    EXPECT_EQ(inner.BoundsRect(), Rect(2, 2, 98, 58));
    // The panel paints its bevels: top-left shadow of the lowered inner bevel.
    panel.Repaint();
    EXPECT_EQ(panel.Canvas()->Pixel(0, 0), ColorToRGB(clBtnShadow));
    EXPECT_EQ(panel.Canvas()->Pixel(99, 59), ColorToRGB(clBtnHighlight));
    EXPECT_EQ(panel.Canvas()->Pixel(50, 30), ColorToRGB(clBtnFace));
}

// ---- Forms ----

TEST(Forms, DialogBorderIsFixedAndScreenCentrePlacesTheWindow) {
    TForm form(nullptr);
    form.SetBorderStyle(bsDialog);
    form.SetPosition(poScreenCenter);
    form.SetClientSize(200, 100);
    EXPECT_EQ(form.Widget()->minimumSize(), QSize(200, 100));
    EXPECT_EQ(form.Widget()->maximumSize(), QSize(200, 100));
    form.SetClientSize(220, 110);   // the program may still size it
    EXPECT_EQ(form.Widget()->maximumSize(), QSize(220, 110));
    form.Show();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(form.Left(), area.x() + (area.width() - 220) / 2);
    EXPECT_EQ(form.Top(), area.y() + (area.height() - 110) / 2);
    form.SetBorderStyle(bsSizeable);
    EXPECT_EQ(form.Widget()->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

TEST(Forms, MenuSitsAboveTheClientArea) {
    TForm form(nullptr);
    form.SetClientSize(300, 200);
    auto* bar = new QMenuBar;
    QMenu* file = NewMenu(bar, "File1", "&File");
    QAction* open = NewAction(file, "Open1", "Open photo...", "F3");
    NewSeparator(file, "N1");
    QAction* fit = NewAction(file, "Zoomtofit", "Zoom to fit", "F9");
    fit->setCheckable(true);
    fit->setChecked(true);
    form.SetMenu(bar);
    EXPECT_EQ(form.ClientWidth(), 300);
    EXPECT_EQ(form.ClientHeight(), 200);
    EXPECT_GT(form.Height(), 200);
    EXPECT_EQ(form.ClientWidget()->y(), form.Height() - 200);
    Box client(&form, alClient, 1, 1);
    EXPECT_EQ(client.BoundsRect(), Rect(0, 0, 300, 200));
    EXPECT_EQ(open->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(FindChildObject(&form, "open1"), open);
    EXPECT_EQ(FindChildObject(&form, "Zoomtofit"), fit);
}

TEST_F(WithResponder, ShowModalEndsWithTheButtonsResult) {
    TForm form(nullptr);
    auto* ok = NewControl<QPushButton>(&form, "Button1", 10, 10, 75, 25);
    SetCaption(ok, "OK");
    SetModalResult(ok, mrOk);
    std::vector<std::string> order;
    OnClick(ok, [&] { order.push_back("click " + std::to_string(form.ModalResult())); });
    r.onModal = [&](TForm& f) {
        EXPECT_TRUE(f.Modal());
        EXPECT_TRUE(f.Widget()->isVisible());
        ok->click();
    };
    EXPECT_EQ(form.ShowModal(), mrOk);
    // The result is set before the click handler runs, as the class library does it.
    EXPECT_EQ(order, std::vector<std::string>{"click 1"});
    EXPECT_FALSE(form.Visible());
    EXPECT_FALSE(form.Modal());
    // The window's close box is Cancel; a refused close query keeps the form up.
    int queries = 0;
    struct Handlers {
        int* queries;
        void Query(TObject*, bool& can) { can = ++*queries > 1; }
    } h{&queries};
    form.OnCloseQuery = MakeMethod(&h, &Handlers::Query);
    r.onModal = [&](TForm& f) {
        f.Widget()->close();
        QTimer::singleShot(0, [&] { f.Widget()->close(); });
    };
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_EQ(queries, 2);
    form.Show();
    EXPECT_THROW(form.ShowModal(), EInvalidOperation);
}

TEST_F(WithResponder, EnterPressesTheDefaultAndEscapeTheCancelButton) {
    TForm form(nullptr);
    auto* edit = NewControl<QLineEdit>(&form, "Edit1", 10, 10, 100, 0);
    auto* ok = NewControl<QPushButton>(&form, "btnOk", 10, 40, 75, 25);
    auto* cancel = NewControl<QPushButton>(&form, "btnCancel", 90, 40, 75, 25);
    auto* other = NewControl<QPushButton>(&form, "btnOther", 170, 40, 75, 25);
    SetDefault(ok, true);
    SetCancel(cancel, true);
    SetModalResult(ok, mrOk);
    SetModalResult(cancel, mrCancel);
    int otherClicks = 0;
    OnClick(other, [&] { ++otherClicks; });
    struct Case {
        QWidget* focus;
        int key;
        TModalResult expect;
        int otherClicks;
    };
    for (Case c : {Case{edit, Qt::Key_Return, mrOk, 0}, Case{edit, Qt::Key_Escape, mrCancel, 0},
                   Case{other, Qt::Key_Escape, mrCancel, 0}, Case{other, Qt::Key_Return, mrNone, 1}}) {
        SCOPED_TRACE(c.key);
        otherClicks = 0;
        form.SetModalResult(mrNone);
        Focus(form, c.focus);
        ASSERT_EQ(QApplication::focusWidget(), c.focus);
        SendKey(c.focus, c.key);
        EXPECT_EQ(form.ModalResult(), c.expect);
        EXPECT_EQ(otherClicks, c.otherClicks);
    }
    // Without a cancel button Escape does nothing.
    SetCancel(cancel, false);
    form.SetModalResult(mrNone);
    Focus(form, edit);
    SendKey(edit, Qt::Key_Escape);
    EXPECT_EQ(form.ModalResult(), mrNone);
}

// A focusable layer control that records its keys; it may claim Enter for itself, as a
// label with a selected link does.
class KeyControl : public TCustomControl {
public:
    explicit KeyControl(TComponent* Owner) : TCustomControl(Owner) {
        ClientWidget()->setFocusPolicy(Qt::StrongFocus);
        SetBounds(0, 0, 40, 20);
    }
    std::vector<uint16_t> keys;
    bool wantsEnter = false;

protected:
    void KeyDown(uint16_t& Key, TShiftState) override { keys.push_back(Key); }
    bool WantSpecialKey(uint16_t Key) const override { return wantsEnter && Key == VK_RETURN; }
};

TEST_F(WithResponder, DialogKeysReachTheFormFromEveryControlWhereverItSits) {
    struct Preview : TForm {
        using TForm::TForm;
        std::vector<uint16_t> keys;
        void KeyDown(uint16_t& Key, TShiftState) override { keys.push_back(Key); }
    } form(nullptr);
    form.SetClientSize(300, 200);
    auto* group = NewControl<QGroupBox>(&form, "GroupBox1", 8, 8, 200, 120);
    auto* edit = NewControl<QLineEdit>(group, "Edit1", 10, 24, 80, 0);
    auto* check = NewControl<QCheckBox>(group, "CheckBox1", 10, 90);
    // Layer controls placed into the Qt group box, and one straight on the form.
    KeyControl inGroup(&form), onForm(&form);
    inGroup.SetName("Swatch1");
    inGroup.SetParentWindow(group);
    inGroup.SetBounds(100, 60, 40, 20);
    onForm.SetName("Swatch2");
    onForm.SetParent(&form);
    onForm.SetBounds(220, 20, 40, 20);
    auto* ok = NewControl<QPushButton>(&form, "btnOk", 10, 150, 75, 25);
    auto* cancel = NewControl<QPushButton>(&form, "btnCancel", 90, 150, 75, 25);
    SetDefault(ok, true);
    SetCancel(cancel, true);
    SetModalResult(ok, mrOk);
    SetModalResult(cancel, mrCancel);
    EXPECT_EQ(GetParentForm(&inGroup), &form);
    EXPECT_EQ(HostControl(&inGroup), &form);

    struct Case {
        const char* name;
        QWidget* focus;
        bool wantsEnter;
        int key;
        TModalResult expect;
        uint16_t controlGets;   // 0: the control hears nothing of the key
    };
    const Case cases[] = {
        {"group swatch Return", inGroup.ClientWidget(), false, Qt::Key_Return, mrOk, 0},
        {"group swatch Escape", inGroup.ClientWidget(), false, Qt::Key_Escape, mrCancel, 0},
        {"group edit Return", edit, false, Qt::Key_Return, mrOk, 0},
        {"group edit Escape", edit, false, Qt::Key_Escape, mrCancel, 0},
        // Enter on a check box is the form's, not a click.
        {"group check box Return", check, false, Qt::Key_Return, mrOk, 0},
        {"form swatch Return", onForm.ClientWidget(), false, Qt::Key_Return, mrOk, 0},
        // A control that uses Enter itself keeps it; Escape still cancels.
        {"claiming swatch Return", inGroup.ClientWidget(), true, Qt::Key_Return, mrNone, VK_RETURN},
        {"claiming swatch Escape", inGroup.ClientWidget(), true, Qt::Key_Escape, mrCancel, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        inGroup.keys.clear();
        onForm.keys.clear();
        inGroup.wantsEnter = c.wantsEnter;
        form.SetModalResult(mrNone);
        Focus(form, c.focus);
        ASSERT_EQ(QApplication::focusWidget(), c.focus);
        SendKey(c.focus, c.key);
        EXPECT_EQ(form.ModalResult(), c.expect);
        const std::vector<uint16_t> heard = c.focus == inGroup.ClientWidget() ? inGroup.keys : onForm.keys;
        if (c.controlGets) EXPECT_EQ(heard, std::vector<uint16_t>{c.controlGets});
        else if (c.focus != edit && c.focus != check) EXPECT_TRUE(heard.empty());
    }
    EXPECT_FALSE(check->isChecked());
    // A form with KeyPreview hears the keys of a control in a group box first.
    form.KeyPreview = true;
    Focus(form, inGroup.ClientWidget());
    SendKey(inGroup.ClientWidget(), Qt::Key_A);
    EXPECT_EQ(form.keys, std::vector<uint16_t>{'A'});
    EXPECT_EQ(inGroup.keys, std::vector<uint16_t>{'A'});

    // A widget of no form (a foreign window) holds no form.
    QWidget foreign;
    KeyControl loose(nullptr);
    loose.SetParentWindow(&foreign);
    EXPECT_EQ(HostControl(&loose), nullptr);
    EXPECT_EQ(GetParentForm(&loose), nullptr);
}

// A derived form whose constructor fails after binding its own OnDestroy: the handler of
// the gone part is not called while the form's base is destroyed; outside handlers are.
TEST(Forms, AFailedConstructionRunsNoHandlerOfTheGonePart) {
    struct Failing : TForm {
        int* calls;
        explicit Failing(int* Calls) : TForm(nullptr), calls(Calls) {
            OnDestroy = MakeMethod(this, &Failing::Gone);
            throw Exception("Out of memory");
        }
        ~Failing() override { DoDestroy(); }
        void Gone(TObject*) { ++*calls; }
    };
    int calls = 0;
    EXPECT_THROW(Failing f(&calls), Exception);
    EXPECT_EQ(calls, 0);
    struct Outside {
        int calls = 0;
        void Gone(TObject*) { ++calls; }
    } outside;
    {
        TForm form(nullptr);
        form.OnDestroy = MakeMethod(&outside, &Outside::Gone);
    }
    EXPECT_EQ(outside.calls, 1);
}

TEST(Forms, KeyPreviewSeesKeysOfQtWidgetsFirst) {
    struct Preview : TForm {
        using TForm::TForm;
        std::vector<uint16_t> keys;
        void KeyDown(uint16_t& Key, TShiftState) override {
            keys.push_back(Key);
            if (Key == 'X') Key = 0;   // swallowed
        }
    } form(nullptr);
    form.KeyPreview = true;
    auto* edit = NewControl<QLineEdit>(&form, "Edit1", 10, 10, 100, 0);
    Focus(form, edit);
    SendKey(edit, Qt::Key_A);
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    QApplication::sendEvent(edit, &x);
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(edit, &a);
    EXPECT_EQ(form.keys, (std::vector<uint16_t>{'A', 'X', 'A'}));
    EXPECT_EQ(edit->text(), "a");
    // Without KeyPreview the form hears nothing of its widgets' keys.
    form.KeyPreview = false;
    SendKey(edit, Qt::Key_B);
    EXPECT_EQ(form.keys.size(), 3u);
}

TEST(Forms, KeyPreviewHearsNothingOfAQtDialogOnTheForm) {
    struct Preview : TForm {
        using TForm::TForm;
        int keys = 0;
        void KeyDown(uint16_t&, TShiftState) override { ++keys; }
        void KeyUp(uint16_t&, TShiftState) override { ++keys; }
    } form(nullptr);
    form.KeyPreview = true;
    form.Show();
    // A dialog window of Qt's own with the form as its parent (as message boxes have it).
    QDialog dialog(form.Widget());
    auto* edit = new QLineEdit(&dialog);
    dialog.show();
    dialog.activateWindow();
    QApplication::setActiveWindow(&dialog);
    edit->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), edit);
    SendKey(edit, Qt::Key_Escape);
    SendKey(edit, Qt::Key_A);
    EXPECT_EQ(form.keys, 0);
}

TEST(Forms, NamesFindControlsAndTheActiveControl) {
    TForm form(nullptr);
    TPanel panel(&form);
    panel.SetName("Panel2");
    panel.SetParent(&form);
    auto* check = NewControl<QCheckBox>(&panel, "CheckBox1", 4, 4);
    auto* edit = NewControl<QLineEdit>(&form, "Edit1", 10, 60, 100, 0);
    EXPECT_EQ(form.FindComponent("panel2"), &panel);
    EXPECT_EQ(FindControl(&form, "PANEL2"), &panel);
    EXPECT_EQ(FindChildObject(&form, "checkbox1"), check);
    EXPECT_EQ(FindChildObject(&form, "nothing"), nullptr);
    Focus(form, edit);
    EXPECT_EQ(form.ActiveControlName(), "Edit1");
    EXPECT_TRUE(form.FocusControl("CheckBox1"));
    EXPECT_EQ(form.ActiveControlName(), "CheckBox1");
    check->setEnabled(false);
    EXPECT_FALSE(form.FocusControl("CheckBox1"));
    EXPECT_FALSE(form.FocusControl("Missing"));
}

// ---- Standard-control rules ----

TEST(StdCtrls, AcceleratorRule) {
    struct Case {
        const char* caption;
        const char* stripped;
        char accel;
    };
    for (Case c : {Case{"&Other", "Other", 'O'}, Case{"Save && E&xit", "Save & Exit", 'X'}, Case{"a&&b", "a&b", 0},
                   Case{"plain", "plain", 0}, Case{"end&", "end", 0}}) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(StripAccelChars(c.caption), c.stripped);
        EXPECT_EQ(AccelChar(c.caption), c.accel);
    }
    QWidget parent;
    QLabel label(&parent);
    QPushButton button(&parent);
    SetCaption(&label, "&Font:");
    SetCaption(&button, "&Other");
    EXPECT_EQ(label.text(), "Font:");        // labels show the text without marks
    EXPECT_EQ(button.text(), "&Other");      // Qt underlines the accelerator itself
    EXPECT_EQ(Caption(&label), "&Font:");
    TForm form(nullptr);
    SetCaption(form.Widget(), "Tom & Jerry");
    EXPECT_EQ(form.Caption(), "Tom & Jerry");   // window titles as they are
}

TEST(StdCtrls, ItemsFromTextsSplitAtLineBreaks) {
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    };
    for (const Case& c : {Case{"None\r\nFade\r\nMove", {"None", "Fade", "Move"}}, Case{"a\nb\n", {"a", "b"}},
                          Case{"a\r\rb", {"a", "", "b"}}, Case{"", {}}, Case{"single", {"single"}}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitLines(c.text), c.lines);
    }
    QComboBox box;
    box.addItem("old");
    box.setCurrentIndex(0);
    SetItemsText(&box, "Top Left\r\nTop Center");
    EXPECT_EQ(box.count(), 2);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(ItemsText(&box), "Top Left\nTop Center\n");
    QListWidget list;
    SetItemsText(&list, "<internal>\nde\nen");
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(ItemsText(&list), "<internal>\nde\nen\n");
}

// The class library's list box: a click into the white space below the items, a Ctrl+click
// on the chosen item and Ctrl+Space take nothing away; clicks and arrow keys choose another.
TEST(StdCtrls, AListBoxKeepsItsChosenItem) {
    TForm form(nullptr);
    form.SetClientSize(200, 200);
    QListWidget* list = NewListBox(&form, "ListBox1", 8, 8, 180, 180);
    EXPECT_EQ(list->objectName(), "ListBox1");
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    list->addItems({"a", "b", "c"});
    list->setCurrentRow(0);
    form.Show();
    QApplication::processEvents();
    auto chosen = [&] { return list->selectedItems().size() == 1 ? list->row(list->selectedItems().first()) : -1; };
    auto click = [&](QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(p), QPointF(list->viewport()->mapToGlobal(p)), Qt::LeftButton,
                          Qt::LeftButton, m);
        QApplication::sendEvent(list->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(p), QPointF(list->viewport()->mapToGlobal(p)),
                            Qt::LeftButton, Qt::NoButton, m);
        QApplication::sendEvent(list->viewport(), &release);
    };
    auto key = [&](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QKeyEvent e(QEvent::KeyPress, k, m, k == Qt::Key_Space ? QStringLiteral(" ") : QString());
        QApplication::sendEvent(list, &e);
    };
    const QPoint below(list->viewport()->width() / 2, list->viewport()->height() - 5);
    ASSERT_FALSE(list->itemAt(below));
    click(below);
    EXPECT_EQ(chosen(), 0);
    click(list->visualItemRect(list->item(2)).center());
    EXPECT_EQ(chosen(), 2);
    click(below);
    EXPECT_EQ(chosen(), 2);
    click(list->visualItemRect(list->item(2)).center(), Qt::ControlModifier);
    EXPECT_EQ(chosen(), 2);
    key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(chosen(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(chosen(), 1);
    // The program may still clear it.
    list->clearSelection();
    EXPECT_EQ(chosen(), -1);
}

TEST(StdCtrls, ClickEventsFireAsTheClassLibraryFiresThem) {
    QWidget parent;
    auto* check = new QCheckBox(&parent);
    auto* radio1 = new QRadioButton(&parent);
    auto* radio2 = new QRadioButton(&parent);
    auto* button = new QPushButton(&parent);
    QAction action(&parent);
    action.setCheckable(true);
    std::vector<std::string> log;
    OnClick(check, [&] { log.push_back("check " + std::to_string(check->isChecked())); });
    OnClick(radio1, [&] { log.push_back("radio1"); });
    OnClick(radio2, [&] { log.push_back("radio2"); });
    OnClick(button, [&] { log.push_back("button"); });
    OnClick(&action, [&] { log.push_back("action"); });
    check->setChecked(true);    // by the program: fires
    check->setChecked(true);    // no change: no event
    check->click();             // by the user
    radio1->setChecked(true);
    radio2->setChecked(true);   // radio1 goes off silently
    button->click();
    action.setChecked(true);    // a menu check mark set by the program: no click
    action.trigger();
    OnClick(button, [&] { log.push_back("replaced"); });
    button->click();
    EXPECT_EQ(log, (std::vector<std::string>{"check 1", "check 0", "radio1", "radio2", "button", "action",
                                              "replaced"}));
}

TEST(StdCtrls, PlacedControlsAreNeverNarrowerThanTheirText) {
    QWidget parent;
    auto* b = NewControl<QPushButton>(&parent, "SpeedButton2", 104, 2, 10, 5);
    SetCaption(b, "Add to Album");
    PlaceControl(b, 104, 2, 10, 5);
    EXPECT_EQ(b->objectName(), "SpeedButton2");
    EXPECT_EQ(b->pos(), QPoint(104, 2));
    EXPECT_GE(b->width(), b->sizeHint().width());
    EXPECT_GE(b->height(), b->sizeHint().height());
    PlaceControl(b, 0, 0, 400, 60);   // wider than the text: kept
    EXPECT_EQ(b->size(), QSize(400, 60));
    // A text set later fits it again, where the form has moved it meanwhile.
    auto* ok = NewControl<QPushButton>(&parent, "OK", 280, 60, 15, 20);
    ok->move(200, 70);
    SetCaption(ok, "A much longer caption than fits");
    EXPECT_GE(ok->width(), ok->sizeHint().width());
    EXPECT_EQ(ok->pos(), QPoint(200, 70));
}

// A text may hold anything (a language file is untrusted): a control grows to fit it only
// up to the screen's work area, and a form never grows past its screen, whatever it is asked.
TEST(StdCtrls, TextsGrowControlsNoLargerThanTheScreen) {
    const QSize work = QGuiApplication::primaryScreen()->availableGeometry().size();
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    TForm form(nullptr);
    auto* label = NewControl<QLabel>(&form, "Label1", 8, 6);
    // As a hostile language file has it: 3000 wide letters, then 3000 line breaks.
    const std::string huge = std::string(3000, 'W') + std::string(3000, '\n');
    SetCaption(label, huge);
    EXPECT_EQ(Caption(label), huge) << "the caption is kept as it is";
    EXPECT_LE(label->width(), work.width());
    EXPECT_LE(label->height(), work.height());
    EXPECT_GE(label->width(), std::min(work.width(), 200)) << "it still grew";
    auto* button = NewControl<QPushButton>(&form, "Button1", 8, 40, 75, 25);
    SetCaption(button, std::string(100000, 'W'));
    EXPECT_LE(button->width(), work.width());
    form.Show();
    QApplication::processEvents();
    EXPECT_LE(label->width(), work.width());
    form.Hide();

    for (const QSize ask : {QSize(100000, 100000), QSize(INT32_MAX, INT32_MAX), QSize(screen.width() + 1, 10)}) {
        SCOPED_TRACE(ask.width());
        TForm f(nullptr);
        f.SetClientSize(ask.width(), ask.height());
        EXPECT_LE(f.Width(), screen.width());
        EXPECT_LE(f.Height(), screen.height());
        EXPECT_GT(f.Width(), 0);
        f.SetSizeLimits(ask.width(), ask.height(), 0, 0);
        f.Show();
        QApplication::processEvents();
        EXPECT_LE(f.Widget()->width(), screen.width());
        EXPECT_LE(f.Widget()->height(), screen.height());
        f.Hide();
    }
}

TEST(StdCtrls, FixedBoundsSurviveCaptionsAndShowing) {
    TForm form(nullptr);
    form.SetClientSize(72, 114);
    auto* b = NewControl<QPushButton>(&form, "btnOther", 1, 98, 50, 14);
    SetFixedBounds(b, 1, 98, 50, 14);
    SetCaption(b, "&Other colours, please");
    form.Show();
    QApplication::processEvents();
    EXPECT_EQ(b->geometry(), QRect(1, 98, 50, 14));
    form.Hide();
}

// A word-wrapping label wraps at its own width whatever its text: with AutoSize only its
// height follows the text, without it the label keeps its bounds (the rest is cut). A label
// without AutoSize keeps its bounds also without word wrap.
TEST(StdCtrls, WordWrappingLabelsWrapInsideTheirWidth) {
    std::string paragraph;
    for (int i = 0; i < 12; ++i) paragraph += "A stand-alone slideshow packed from the desktop backgrounds. ";
    struct Case {
        bool wrap, autoSize;
        std::string text;
        QRect stored;
    };
    const Case cases[] = {
        {true, false, paragraph, QRect(8, 8, 353, 177)},
        {true, false, "Short.", QRect(8, 8, 353, 177)},
        {true, true, paragraph, QRect(8, 8, 329, 33)},
        {true, true, "Select a album.", QRect(8, 8, 329, 33)},
        {false, false, paragraph, QRect(8, 8, 100, 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.wrap) + std::to_string(c.autoSize) + " " + c.text.substr(0, 10));
        TForm form(nullptr);
        form.SetClientSize(372, 233);
        auto* label = NewControl<QLabel>(&form, "Label2", c.stored.x(), c.stored.y(), c.stored.width(), c.stored.height());
        label->setWordWrap(c.wrap);
        if (!c.autoSize) SetAutoSize(label, false);
        SetCaption(label, c.text);
        form.Show();
        QApplication::processEvents();
        if (!c.autoSize) {
            EXPECT_EQ(label->geometry(), c.stored);
        } else {
            EXPECT_EQ(label->pos(), c.stored.topLeft());
            EXPECT_EQ(label->width(), c.stored.width()) << "wrapped at its own width";
            EXPECT_EQ(label->height(), std::max(c.stored.height(), label->heightForWidth(c.stored.width())));
        }
        form.Hide();
    }
}

TEST(StdCtrls, SpinEditsKeepAValueOutsideTheirRangeUntilEdited) {
    struct Case {
        int value;
        int key;          // the user's first edit
        int afterEdit;
    };
    // Range 1..60; a first step only brings a value from outside into the range.
    const Case cases[] = {
        {0, Qt::Key_Up, 1},     {0, Qt::Key_Down, 1},   {-5, Qt::Key_Up, 1},
        {61, Qt::Key_Up, 60},   {61, Qt::Key_Down, 60}, {1000, Qt::Key_PageDown, 60},
        {30, Qt::Key_Up, 31},   {60, Qt::Key_Up, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        QSpinBox box;
        SetSpinRange(&box, 1, 60);
        SetSpinValue(&box, c.value);
        EXPECT_EQ(box.value(), c.value);
        EXPECT_EQ(box.text().toStdString(), std::to_string(c.value));
        SendKey(&box, c.key);
        EXPECT_EQ(box.value(), c.afterEdit);
        EXPECT_EQ(box.minimum(), 1);
        EXPECT_EQ(box.maximum(), 60);
        // Set again from outside: shown as it is once more.
        SetSpinValue(&box, c.value);
        EXPECT_EQ(box.value(), c.value);
    }
    // A typed value is clamped once the range is back.
    QSpinBox box;
    SetSpinRange(&box, 4, 128);
    SetSpinValue(&box, 200);
    QLineEdit* edit = box.findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    for (QChar ch : QString("99")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(edit, &press);
    }
    EXPECT_EQ(box.value(), 99);
    EXPECT_EQ(box.maximum(), 128);
}

TEST(StdCtrls, GlyphsTakeTheBottomLeftColourAsTransparent) {
    TBitmap glyph;
    glyph.SetPixelFormat(pf24bit);
    glyph.SetSize(8, 4);   // two 4 x 4 images: magenta background, one red pixel each
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) glyph.Canvas()->SetPixel(x, y, clFuchsia);
    glyph.Canvas()->SetPixel(1, 1, clRed);
    glyph.Canvas()->SetPixel(5, 2, clBlue);
    const QIcon icon = GlyphIcon(&glyph, 2);
    const QImage normal = icon.pixmap(QSize(4, 4), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(4, 4), QIcon::Disabled).toImage();
    EXPECT_EQ(qAlpha(normal.pixel(0, 0)), 0);
    EXPECT_EQ(normal.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(disabled.pixel(1, 2), qRgb(0, 0, 255));
}

// ---- Status bar ----

TEST(StatusBar, PanelsByWidthTheLastTakesTheRest) {
    TForm form(nullptr);
    form.SetClientSize(400, 300);
    TStatusBar bar(&form);
    bar.SetParent(&form);
    bar.SetPanelCount(2);
    bar.SetPanelWidth(0, 50);
    bar.SetPanelWidth(1, 150);
    EXPECT_EQ(bar.Align(), alBottom);
    EXPECT_EQ(bar.Top() + bar.Height(), 300);
    EXPECT_EQ(bar.Width(), 400);
    EXPECT_EQ(bar.PanelRect(0).Left, 0);
    EXPECT_EQ(bar.PanelRect(0).Right, 50);
    EXPECT_EQ(bar.PanelRect(1).Left, 52);
    EXPECT_EQ(bar.PanelRect(1).Right, 400);
    bar.SetPanelText(0, "/photos/a.jpg");
    EXPECT_EQ(bar.PanelText(0), "/photos/a.jpg");
    form.SetClientSize(300, 300);
    EXPECT_EQ(bar.PanelRect(1).Right, 300);
}

// ---- Dialogs ----

TEST(Dialogs, OpenFilterConvertsToPlainQtFiltersMatchedInAnyCase) {
    const std::string viewer =
        "Any Photo|*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.png;*.pcx|JPEG Photo (*.jpg,*.jpeg)|*.jpg;*.jpeg|"
        "BMP Photo (*.bmp)|*.bmp";
    EXPECT_EQ(QtNameFilters(viewer),
              "Any Photo (*.jpg *.jpeg *.bmp *.tif *.tiff *.png *.pcx);;JPEG Photo [*.jpg,*.jpeg] (*.jpg *.jpeg);;"
              "BMP Photo [*.bmp] (*.bmp)");
    EXPECT_EQ(QtNameFilters("All|*.*|Broken|"), "All (*.*)");
    // What Qt's file dialog offers with that filter: the upper-case photo too.
    QTemporaryDir dir;
    for (const char* n : {"PHOTO.JPG", "b.Jpeg", "c.txt", "d.png"}) QFile(dir.filePath(n)).open(QIODevice::WriteOnly);
    const QString any = QString::fromStdString(QtNameFilters("Any|*.jpg;*.jpeg"));
    const QStringList patterns = any.mid(any.indexOf('(') + 1).chopped(1).split(' ');
    EXPECT_EQ(QDir(dir.path()).entryList(patterns, QDir::Files, QDir::Name), (QStringList{"PHOTO.JPG", "b.Jpeg"}));
}

namespace {

// The rows of the open dialog's list: the names shown and their bytes.
std::vector<std::pair<QString, QByteArray>> Listed(QDialog& Dialog) {
    std::vector<std::pair<QString, QByteArray>> rows;
    auto* tree = Dialog.findChild<QTreeView*>("treeView");
    if (!tree) return rows;
    QAbstractItemModel* model = tree->model();
    for (int r = 0; r < model->rowCount(); ++r)
        rows.emplace_back(model->index(r, 0).data().toString(), model->index(r, 0).data(Qt::UserRole).toByteArray());
    return rows;
}

}  // namespace

// The dialog as Execute shows it: plain patterns in "Files of type", folders first, then the
// files of any letter case the filter matches, and the Size, Type and Date columns as wide as
// what they show.
TEST(Dialogs, OpenDialogShowsPlainPatternsAndUncutColumns) {
    QTemporaryDir dir;
    for (const char* n : {"PHOTO.JPG", "b.Jpeg", "c.txt", "a photo with a rather long name.tif", "e.bmp", ".hidden.jpg"}) {
        QFile f(dir.filePath(n));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(std::string(n) == "e.bmp" ? 123456 : 266, 'x'));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    TOpenDialog options(nullptr);
    options.Title = "Open Photo";
    options.InitialDir = dir.path().toStdString();
    options.Options = ofHideReadOnly | ofFileMustExist | ofEnableSizing;
    options.Filter = "Any Photo|*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.png;*.pcx|BMP Photo (*.bmp)|*.bmp";
    std::unique_ptr<QDialog> dlg(NewOpenFileDialog(options));
    EXPECT_EQ(dlg->windowTitle(), "Open Photo");
    auto* types = dlg->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_TRUE(types);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "Any Photo (*.jpg *.jpeg *.bmp *.tif *.tiff *.png *.pcx)");
    EXPECT_EQ(types->itemText(1), "BMP Photo [*.bmp] (*.bmp)");
    EXPECT_EQ(types->currentIndex(), 0);
    dlg->show();
    auto* tree = dlg->findChild<QTreeView*>("treeView");
    ASSERT_TRUE(tree);
    QStringList names;
    const QFontMetrics fm(tree->font());
    QAbstractItemModel* model = tree->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        names << model->index(r, 0).data().toString();
        for (int c = 0; c <= 3; ++c) {
            const QString text = model->index(r, c).data().toString();
            const int icon = c == 0 ? tree->iconSize().width() : 0;
            EXPECT_LE(fm.horizontalAdvance(text) + icon + 2 * fm.averageCharWidth(), tree->header()->sectionSize(c))
                << text.toStdString();
        }
    }
    EXPECT_EQ(names, (QStringList{"folder", "a photo with a rather long name.tif", "b.Jpeg", "e.bmp", "PHOTO.JPG"}));
    EXPECT_EQ(model->index(1, 2).data().toString(), "TIFF image");
    EXPECT_EQ(model->index(0, 2).data().toString(), "Folder");
    // Never wider than the screen.
    EXPECT_LE(dlg->width(), dlg->screen()->availableGeometry().width());
    // The other filter: the one photo it matches, and it is the filter the result names.
    types->setCurrentIndex(1);
    names.clear();
    for (const auto& [shown, raw] : Listed(*dlg)) names << shown;
    EXPECT_EQ(names, (QStringList{"folder", "e.bmp"}));
    auto* name = dlg->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setText("e.bmp");
    dlg->findChild<QPushButton*>("openButton")->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    TakeOpenFileDialogResult(*dlg, options);
    EXPECT_EQ(options.FileName, dir.filePath("e.bmp").toStdString());
    EXPECT_EQ(options.FilterIndex, 2);
}

// File names are bytes: a Latin-1 name is listed (shown with a replacement character) and
// chosen under its own bytes, from the list or from the folder the name field names; a file
// that is not there is not chosen.
TEST(Dialogs, OpenDialogListsAndChoosesNamesThatAreNotUtf8) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    // QTemporaryDir cannot remove names that are no UTF-8.
    struct Cleanup {
        std::string path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{folder.toStdString()};
    const QByteArray latin1 = "caf\xe9.jpg", utf8 = "na\xc3\xafve.JPG", sub = "F\xe9rias";
    for (const QByteArray& n : {latin1, utf8, QByteArray("notes.txt")}) {
        FILE* f = std::fopen((folder + '/' + n).constData(), "wb");
        ASSERT_TRUE(f);
        std::fputs("x", f);
        std::fclose(f);
    }
    ASSERT_EQ(::mkdir((folder + '/' + sub).constData(), 0700), 0);
    ASSERT_EQ(::symlink("../" + latin1, (folder + '/' + sub + "/link\xff.jpg").constData()), 0);
    struct Case {
        const char* name;
        std::function<void(QDialog&)> choose;
        QByteArray file;   // empty: nothing chosen
    };
    auto pick = [](const QByteArray& raw) {
        return [raw](QDialog& d) {
            auto* tree = d.findChild<QTreeView*>("treeView");
            const auto rows = Listed(d);
            for (size_t r = 0; r < rows.size(); ++r)
                if (rows[r].second == raw) tree->setCurrentIndex(tree->model()->index(int(r), 0));
            d.findChild<QPushButton*>("openButton")->click();
        };
    };
    auto type = [](const QString& text) {
        return [text](QDialog& d) {
            d.findChild<QLineEdit*>("fileNameEdit")->setText(text);
            d.findChild<QPushButton*>("openButton")->click();
        };
    };
    auto enter = [](QDialog& d) {   // Enter on the list's current row
        auto* tree = d.findChild<QTreeView*>("treeView");
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(tree, &press);
    };
    const Case cases[] = {
        {"picked from the list", pick(latin1), folder + '/' + latin1},
        {"the UTF-8 one", pick(utf8), folder + '/' + utf8},
        {"typed", type(QString::fromUtf8(utf8)), folder + '/' + utf8},
        {"into the folder, then Enter on a file",
         [&](QDialog& d) {
             pick(sub)(d);   // Open on a folder enters it
             EXPECT_EQ(Listed(d).size(), 1u);
             pick("link\xff.jpg")(d);
         },
         folder + '/' + sub + "/link\xff.jpg"},
        {"into the folder and up again",
         [&](QDialog& d) {
             type(QString::fromUtf8(sub))(d);   // lossy: not the folder, so "not found"
             auto* tree = d.findChild<QTreeView*>("treeView");
             tree->setCurrentIndex(tree->model()->index(0, 0));
             enter(d);
             d.findChild<QAbstractButton*>("toParentButton")->click();
             // Back, with the folder come from as the current row.
             EXPECT_EQ(tree->currentIndex().data(Qt::UserRole).toByteArray(), sub);
             pick(latin1)(d);
         },
         folder + '/' + latin1},
        {"a name not there", type("gone.jpg"), {}},
    };
    TOpenDialog options(nullptr);
    options.Title = "Open Photo";
    options.InitialDir = dir.path().toStdString();
    options.Options = ofHideReadOnly | ofFileMustExist | ofEnableSizing;
    options.Filter = "Any Photo|*.jpg;*.jpeg|BMP Photo (*.bmp)|*.bmp";
    // The "not found" box is answered at once.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->reject();
    });
    closer.start(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QDialog> dlg(NewOpenFileDialog(options));
        dlg->show();
        const auto rows = Listed(*dlg);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0], (std::pair{QString::fromUtf8(sub), sub}));
        EXPECT_EQ(rows[1], (std::pair{QString("caf\uFFFD.jpg"), latin1}));
        EXPECT_EQ(rows[2], (std::pair{QString::fromUtf8(utf8), utf8}));
        c.choose(*dlg);
        EXPECT_EQ(dlg->result(), c.file.isEmpty() ? QDialog::Rejected : QDialog::Accepted);
        TOpenDialog result(nullptr);
        TakeOpenFileDialogResult(*dlg, result);
        EXPECT_EQ(result.FileName, c.file.toStdString());
    }
}

TEST_F(WithResponder, BoxesAndDialogsGoThroughTheResponder) {
    r.answer = IDNO;
    EXPECT_EQ(MessageDlg("Overwrite?", mtConfirmation, MsgDlgButtons({mbYes, mbNo}), 0), mrNo);
    EXPECT_EQ(r.boxes.back(), "Confirmation|Overwrite?|" + std::to_string(MB_YESNO | MB_ICONQUESTION));
    TOpenDialog open(nullptr);
    open.Filter = "Any|*.jpg";
    r.onOpen = [](TOpenDialog& d) {
        d.FileName = "/tmp/x.jpg";
        return true;
    };
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, "/tmp/x.jpg");
    TColorDialog colour(nullptr);
    EXPECT_FALSE(colour.Execute());   // the default answer: cancelled
}

TEST(Dialogs, MessageDialogFlagsAndDefaultAnswers) {
    struct Case {
        TMsgDlgType type;
        TMsgDlgButtons buttons;
        unsigned flags;
    };
    for (Case c : {Case{mtWarning, MsgDlgButtons({mbOK}), MB_OK | MB_ICONWARNING},
                   Case{mtError, mbYesNoCancel, MB_YESNOCANCEL | MB_ICONERROR},
                   Case{mtInformation, mbOKCancel, MB_OKCANCEL | MB_ICONINFORMATION},
                   Case{mtConfirmation, MsgDlgButtons({mbRetry, mbCancel}), MB_RETRYCANCEL | MB_ICONQUESTION},
                   Case{mtCustom, mbAbortRetryIgnore, MB_ABORTRETRYIGNORE},
                   Case{mtCustom, MsgDlgButtons({mbHelp}), MB_OK}}) {
        EXPECT_EQ(MessageDlgFlags(c.type, c.buttons), c.flags);
    }
    EXPECT_EQ(DefaultAnswer(MB_YESNO), IDYES);
    EXPECT_EQ(DefaultAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(DefaultAnswer(MB_OK | MB_DEFBUTTON3), IDOK);
    // Offscreen and nobody to answer: no window, the default answer.
    EXPECT_EQ(MessageBox("text", "caption", MB_RETRYCANCEL | MB_DEFBUTTON2), IDCANCEL);
}

TEST(Dialogs, CustomColoursKeepTheirTextForm) {
    TColorDialog d(nullptr);
    d.CustomColors()->Add("ColorA=0000FF");
    d.CustomColors()->Add("ColorC=junk");
    EXPECT_EQ(d.CustomColor(0), clRed);
    EXPECT_EQ(d.CustomColor(1), clWhite);   // missing
    EXPECT_EQ(d.CustomColor(2), clWhite);   // unreadable
    d.SetCustomColor(15, RGBColor(1, 2, 3));
    EXPECT_EQ(d.CustomColors()->Values("ColorP"), "030201");
    EXPECT_EQ(d.CustomColor(15), RGBColor(1, 2, 3));
}

TEST(Dialogs, CustomColoursKeepTheirPlaceInQtsWells) {
    // Qt's wells are two rows counted column by column: well 1 is below well 0.
    const std::pair<int, int> cases[] = {{0, 0}, {1, 2}, {7, 14}, {8, 1}, {9, 3}, {15, 15}};
    for (const auto& [letter, well] : cases) EXPECT_EQ(TColorDialog::QtCustomIndex(letter), well) << letter;
}

// ---- Application ----

TEST_F(WithResponder, IdleHandlerAndErrorReport) {
    TApplication app;   // the test's QApplication serves; no Initialize
    TApplication* old = Application;
    Application = &app;
    app.SetTitle("Glimmerdeck Viewer");
    int calls = 0;
    struct Idle {
        int* calls;
        void Run(TObject*, bool& done) { done = ++*calls >= 3; }
    } idle{&calls};
    app.SetOnIdle(MakeMethod(&idle, &Idle::Run));
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    EXPECT_EQ(calls, 3);   // called again while it says it is not done, then waits
    app.SetOnIdle(TIdleEvent());
    // An error at a handler's edge: a message box under the title (here: the responder).
    ReportException(Exception("Not a Glimmerdeck language file!"));
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], "Glimmerdeck Viewer|Not a Glimmerdeck language file!|" +
                              std::to_string(MB_OK | MB_ICONERROR));
    Application = old;
}
