// Helpers for Qt's standard controls on the layer's forms.
#include "StdCtrls.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QWidget>

#include <algorithm>
#include <memory>

#include "AppShell.h"

namespace {

constexpr const char* kCaptionMark = "gdCaption";
constexpr const char* kDesignMark = "gdDesignBounds";
constexpr const char* kModalMark = "gdModalResult";
constexpr const char* kAutoSizeMark = "gdAutoSize";
// The growth limit where no screen tells one.
constexpr int kNoScreenLimit = 4096;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Runs the click handler of one object; a button's modal result goes first.
class ClickDispatch : public QObject {
public:
    explicit ClickDispatch(QObject* target) : QObject(target), target_(target) {}
    std::function<void()> handler;

    void Fire() {
        if (auto* b = qobject_cast<QAbstractButton*>(target_)) {
            if (const TModalResult r = ButtonModalResult(b); r != mrNone)
                if (TForm* f = GetParentForm(ControlOfWidget(b))) f->SetModalResult(r);
        }
        if (handler) {
            try {
                handler();
            } catch (const std::exception& e) {
                ReportException(e);
            }
        }
    }

    static ClickDispatch* Of(QObject* target) {
        for (QObject* c : target->children())
            if (auto* d = dynamic_cast<ClickDispatch*>(c)) return d;
        auto* d = new ClickDispatch(target);
        if (auto* radio = qobject_cast<QRadioButton*>(target)) {
            QObject::connect(radio, &QAbstractButton::toggled, d, [d](bool on) {
                if (on) d->Fire();
            });
        } else if (auto* check = qobject_cast<QCheckBox*>(target)) {
            QObject::connect(check, &QCheckBox::stateChanged, d, [d](int) { d->Fire(); });
        } else if (auto* b = qobject_cast<QAbstractButton*>(target)) {
            QObject::connect(b, &QAbstractButton::clicked, d, [d] { d->Fire(); });
        } else if (auto* a = qobject_cast<QAction*>(target)) {
            QObject::connect(a, &QAction::triggered, d, [d] { d->Fire(); });
        }
        return d;
    }

private:
    QObject* target_;
};

}  // namespace

void PlaceControl(QWidget* W, int Left, int Top, int Width, int Height) {
    W->setProperty(kDesignMark, QRect(Left, Top, Width, Height));
    W->setGeometry(Left, Top, std::max(Width, 0), std::max(Height, 0));
    FitControl(W);
}

void SetFixedBounds(QWidget* W, int Left, int Top, int Width, int Height) {
    W->setProperty(kDesignMark, QVariant());
    W->setGeometry(Left, Top, std::max(Width, 0), std::max(Height, 0));
}

namespace {

// The most a text may make a control grow to: the screen's work area (a control can show no
// more), whatever the text (a translation may hold anything).
QSize GrowthLimit(const QWidget* W) {
    QScreen* s = W->screen();
    if (!s) s = QGuiApplication::primaryScreen();
    const QSize area = s ? s->availableGeometry().size() : QSize();
    return area.isValid() && !area.isEmpty() ? area : QSize(kNoScreenLimit, kNoScreenLimit);
}

}  // namespace

void SetAutoSize(QLabel* Label, bool AutoSize) {
    if (!Label) return;
    Label->setProperty(kAutoSizeMark, AutoSize);
    FitControl(Label);
}

void FitControl(QWidget* W) {
    const QVariant v = W ? W->property(kDesignMark) : QVariant();
    if (!v.isValid()) return;
    const QRect d = v.toRect();
    if (auto* label = qobject_cast<QLabel*>(W)) {
        const bool autoSize = label->property(kAutoSizeMark).toBool() || !label->property(kAutoSizeMark).isValid();
        if (!autoSize) return;
        if (label->wordWrap() && d.width() > 0) {
            // Wrapped at its own width: only the height follows the text.
            const int w = std::max(d.width(), W->width());
            const int most = GrowthLimit(W).height();
            const int h = std::max({d.height(), W->height(), std::clamp(label->heightForWidth(w), 0, most)});
            const QRect r(W->pos(), QSize(w, h));
            if (W->geometry() != r) W->setGeometry(r);
            return;
        }
    }
    // Buttons, labels and combo boxes size to their texts; for the others (lists, edits,
    // spin edits, group boxes, bars) the preferred size is generic and only the minimum
    // counts.
    const bool text = qobject_cast<QAbstractButton*>(W) || qobject_cast<QLabel*>(W) ||
                      qobject_cast<QComboBox*>(W);
    if (auto* box = qobject_cast<QComboBox*>(W)) box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    const QSize hint = text ? W->sizeHint().expandedTo(W->minimumSizeHint()) : W->minimumSizeHint();
    // A fixed stored size stays a minimum: a wider font or a longer text makes the control
    // wider, not cut, up to what the screen can show; past that the text is cut.
    const QSize most = GrowthLimit(W);
    const int hw = std::clamp(hint.width(), 0, most.width()), hh = std::clamp(hint.height(), 0, most.height());
    const int w = d.width() > 0 ? std::max(d.width(), hw) : hw;
    const int h = d.height() > 0 ? std::max(d.height(), hh) : hh;
    // Where and as large as the control is now, at the least: the form may have moved or
    // widened it since it was placed.
    const QRect r(W->pos(), QSize(std::max(w, W->width()), std::max(h, W->height())));
    if (W->geometry() != r) W->setGeometry(r);
}

void FitControls(QWidget* Top) {
    if (!Top) return;
    for (QWidget* w : Top->findChildren<QWidget*>())
        if (w->property(kDesignMark).isValid()) FitControl(w);
}

void SetUpControl(QWidget* W, const std::string& Name, int Left, int Top, int Width, int Height) {
    W->setObjectName(QString::fromStdString(Name));
    PlaceControl(W, Left, Top, Width, Height);
    W->show();
}

std::string StripAccelChars(const std::string& Caption) {
    std::string out;
    out.reserve(Caption.size());
    for (size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == '&') {
            if (i + 1 < Caption.size() && Caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += Caption[i];
    }
    return out;
}

char AccelChar(const std::string& Caption) {
    for (size_t i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != '&') continue;
        if (Caption[i + 1] == '&') {
            ++i;
            continue;
        }
        const char c = Caption[i + 1];
        return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    }
    return 0;
}

void SetCaption(QObject* Target, const std::string& Caption) {
    if (!Target) return;
    Target->setProperty(kCaptionMark, Q(Caption));
    if (auto* b = qobject_cast<QAbstractButton*>(Target)) b->setText(Q(Caption));
    else if (auto* l = qobject_cast<QLabel*>(Target)) {
        l->setTextFormat(Qt::PlainText);
        l->setText(Q(StripAccelChars(Caption)));
    } else if (auto* g = qobject_cast<QGroupBox*>(Target)) g->setTitle(Q(Caption));
    else if (auto* a = qobject_cast<QAction*>(Target)) a->setText(Q(Caption));
    else if (auto* m = qobject_cast<QMenu*>(Target)) m->setTitle(Q(Caption));
    else if (auto* w = qobject_cast<QWidget*>(Target)) {
        if (TWinControl* c = ControlOfWidget(w); c && c->Widget() == w)
            if (auto* f = dynamic_cast<TForm*>(c)) {
                f->SetCaption(Caption);
                return;
            }
        w->setWindowTitle(Q(Caption));
        return;
    }
    if (auto* w = qobject_cast<QWidget*>(Target)) FitControl(w);
}

std::string Caption(const QObject* Target) {
    if (!Target) return "";
    const QVariant v = Target->property(kCaptionMark);
    if (v.isValid()) return v.toString().toStdString();
    if (auto* b = qobject_cast<const QAbstractButton*>(Target)) return b->text().toStdString();
    if (auto* l = qobject_cast<const QLabel*>(Target)) return l->text().toStdString();
    if (auto* g = qobject_cast<const QGroupBox*>(Target)) return g->title().toStdString();
    if (auto* a = qobject_cast<const QAction*>(Target)) return a->text().toStdString();
    if (auto* m = qobject_cast<const QMenu*>(Target)) return m->title().toStdString();
    if (auto* w = qobject_cast<const QWidget*>(Target)) return w->windowTitle().toStdString();
    return "";
}

std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    // A last line without a break counts; a text ending in a break has no empty last line.
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

void OnClick(QObject* Target, std::function<void()> Handler) {
    if (!Target) return;
    ClickDispatch::Of(Target)->handler = std::move(Handler);
}

void SetItemsText(QComboBox* Box, const std::string& Text) {
    Box->clear();
    for (const std::string& l : SplitLines(Text)) Box->addItem(Q(l));
    Box->setCurrentIndex(-1);
    FitControl(Box);
}

void SetItemsText(QListWidget* List, const std::string& Text) {
    List->clear();
    for (const std::string& l : SplitLines(Text)) List->addItem(Q(l));
    List->setCurrentRow(-1);
}

std::string ItemsText(const QComboBox* Box) {
    std::string t;
    for (int i = 0; i < Box->count(); ++i) t += Box->itemText(i).toStdString() + "\n";
    return t;
}

std::string ItemsText(const QListWidget* List) {
    std::string t;
    for (int i = 0; i < List->count(); ++i) t += List->item(i)->text().toStdString() + "\n";
    return t;
}

namespace {

// User input reaches the selection only through selectionCommand: what would take the
// chosen item away without choosing another is dropped there.
class TListBoxWidget : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& Index, const QEvent* Event) const override {
        const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(Index, Event);
        if (!Index.isValid() || (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)))
            return QItemSelectionModel::NoUpdate;
        return command;
    }
};

constexpr const char* kSpinRangeMark = "gdSpinRange";

// Gives a spin box its own range back once the user edits a value the program set outside
// it: a typed value is clamped into the range, and a first step (arrow key, page key, wheel,
// arrow button) only brings the value into the range.
class SpinRangeWatch : public QObject {
public:
    explicit SpinRangeWatch(QSpinBox* Box) : QObject(Box), box_(Box) {
        QObject::connect(Box, &QSpinBox::valueChanged, this, [this] {
            if (!setting) Restore();
        });
        Box->installEventFilter(this);
        if (QLineEdit* e = Box->findChild<QLineEdit*>()) e->installEventFilter(this);
    }
    bool Widened() const {
        const QPoint r = box_->property(kSpinRangeMark).toPoint();
        return box_->minimum() != r.x() || box_->maximum() != r.y();
    }
    void Restore() {
        if (!Widened()) return;
        const QPoint r = box_->property(kSpinRangeMark).toPoint();
        setting = true;
        box_->setRange(r.x(), r.y());
        setting = false;
    }
    bool eventFilter(QObject* Watched, QEvent* E) override {
        // Only the user's input is looked at (other events also come while the box is
        // being destroyed).
        bool step = E->type() == QEvent::Wheel || (E->type() == QEvent::MouseButtonPress && Watched == box_);
        if (E->type() == QEvent::KeyPress) {
            const int k = static_cast<QKeyEvent*>(E)->key();
            step = k == Qt::Key_Up || k == Qt::Key_Down || k == Qt::Key_PageUp || k == Qt::Key_PageDown;
        }
        if (!step || !Widened() || !box_->isEnabled() || box_->isReadOnly()) return false;
        Restore();
        return true;
    }
    static SpinRangeWatch* Of(QSpinBox* Box) {
        for (QObject* c : Box->children())
            if (auto* w = dynamic_cast<SpinRangeWatch*>(c)) return w;
        return new SpinRangeWatch(Box);
    }
    bool setting = false;

private:
    QSpinBox* box_;
};

}  // namespace

QListWidget* NewListBox(TWinControl* Parent, const std::string& Name, int Left, int Top, int Width, int Height) {
    auto* list = NewControl<TListBoxWidget>(Parent, Name, Left, Top, Width, Height);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

void SetSpinRange(QSpinBox* Box, int MinValue, int MaxValue) {
    if (MaxValue < MinValue) MaxValue = MinValue;
    Box->setProperty(kSpinRangeMark, QPoint(MinValue, MaxValue));
    SpinRangeWatch* w = SpinRangeWatch::Of(Box);
    w->setting = true;
    Box->setRange(MinValue, MaxValue);
    w->setting = false;
}

void SetSpinValue(QSpinBox* Box, int Value) {
    if (!Box->property(kSpinRangeMark).isValid()) SetSpinRange(Box, Box->minimum(), Box->maximum());
    const QPoint r = Box->property(kSpinRangeMark).toPoint();
    SpinRangeWatch* w = SpinRangeWatch::Of(Box);
    w->setting = true;
    Box->setRange(std::min(r.x(), Value), std::max(r.y(), Value));
    Box->setValue(Value);
    w->setting = false;
}

void SetModalResult(QAbstractButton* Button, TModalResult Result) {
    Button->setProperty(kModalMark, Result);
    ClickDispatch::Of(Button);
}

TModalResult ButtonModalResult(const QAbstractButton* Button) { return Button->property(kModalMark).toInt(); }

void SetDefault(QAbstractButton* Button, bool Default) {
    Button->setProperty(kDefaultMark, Default);
    if (auto* p = qobject_cast<QPushButton*>(Button)) p->setDefault(Default);
}

void SetCancel(QAbstractButton* Button, bool Cancel) { Button->setProperty(kCancelMark, Cancel); }

QMenu* NewMenu(QMenuBar* Bar, const std::string& Name, const std::string& Caption) {
    QMenu* m = Bar->addMenu(QString());
    m->setObjectName(Q(Name));
    m->menuAction()->setObjectName(Q(Name));
    SetCaption(m, Caption);
    // The end-to-end tests' log: a menu of the bar is up, its keys may come.
    QObject::connect(m, &QMenu::aboutToShow, m, [Name] { TestLog("menu " + Name); });
    return m;
}

QMenu* NewMenu(QMenu* Parent, const std::string& Name, const std::string& Caption) {
    QMenu* m = Parent->addMenu(QString());
    m->setObjectName(Q(Name));
    SetCaption(m, Caption);
    return m;
}

QAction* NewAction(QMenu* Menu, const std::string& Name, const std::string& Caption, const std::string& ShortCut) {
    QAction* a = Menu->addAction(QString());
    a->setObjectName(Q(Name));
    SetCaption(a, Caption);
    if (!ShortCut.empty()) a->setShortcut(QKeySequence(Q(ShortCut)));
    return a;
}

QAction* NewSeparator(QMenu* Menu, const std::string& Name) {
    QAction* a = Menu->addSeparator();
    a->setObjectName(Q(Name));
    return a;
}

QImage ImageOfBitmap(const TBitmap* Bitmap) {
    if (!Bitmap || Bitmap->Empty()) return QImage();
    const int w = Bitmap->Width(), h = Bitmap->Height();
    const TPixelFormat pf = Bitmap->PixelFormat();
    if (pf != pf1bit && pf != pf24bit && pf != pf32bit) return QImage();
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = Bitmap->ScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (pf == pf1bit) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
            else if (pf == pf24bit) dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
            else dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
        }
    }
    return img;
}

QIcon GlyphIcon(const TBitmap* Glyph, int NumGlyphs) {
    QImage all = ImageOfBitmap(Glyph);
    if (all.isNull()) return QIcon();
    NumGlyphs = std::clamp(NumGlyphs, 1, 4);
    const int gw = all.width() / NumGlyphs;
    if (gw <= 0) return QIcon();
    const QRgb transparent = all.pixel(0, all.height() - 1);
    auto part = [&](int i) {
        QImage p = all.copy(i * gw, 0, gw, all.height()).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < p.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(p.scanLine(y));
            for (int x = 0; x < p.width(); ++x)
                if ((row[x] & 0xFFFFFF) == (transparent & 0xFFFFFF)) row[x] = 0;
        }
        return QPixmap::fromImage(p);
    };
    QIcon icon;
    icon.addPixmap(part(0), QIcon::Normal);
    if (NumGlyphs >= 2) icon.addPixmap(part(1), QIcon::Disabled);
    if (NumGlyphs >= 3) icon.addPixmap(part(2), QIcon::Active);
    if (NumGlyphs >= 4) icon.addPixmap(part(3), QIcon::Selected);
    return icon;
}
