// Message boxes and common dialogs over Qt's, with the test seam.
#include "Dialogs.h"

#include <QApplication>
#include <QColor>
#include <QColorDialog>
#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "AppShell.h"
#include "Forms.h"

namespace {

TDialogResponder* g_responder = nullptr;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QWidget* ActiveOwner() {
    if (QWidget* w = QApplication::activeWindow()) return w;
    return Application ? Application->MainForm() : nullptr;
}

// The window of the form a dialog's owner sits on, else the active window.
QWidget* OwnerWindow(const TComponent* Owner) {
    for (const TComponent* c = Owner; c; c = c->Owner())
        if (auto* control = dynamic_cast<const TControl*>(c))
            if (TForm* f = GetParentForm(control)) return f->Widget();
    return ActiveOwner();
}

struct BoxButton {
    QMessageBox::StandardButton button;
    int id;
};

std::vector<BoxButton> ButtonsOf(unsigned Flags) {
    switch (Flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL: return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO: return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_RETRYCANCEL: return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    default: return {{QMessageBox::Ok, IDOK}};
    }
}

}  // namespace

bool RealDisplay() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QString p = QGuiApplication::platformName();
    return p != "offscreen" && p != "minimal";
}

void ReturnFocus(QWidget* Window) {
    if (!Window || !Window->isVisible()) return;
    Window->raise();
    Window->activateWindow();
}

void SetDialogResponder(TDialogResponder* Responder) { g_responder = Responder; }
TDialogResponder* DialogResponder() { return g_responder; }

void NotifyModalForm(TForm* Form) {
    if (g_responder && Form) g_responder->ModalForm(*Form);
}

int DefaultAnswer(unsigned Flags) {
    const auto buttons = ButtonsOf(Flags);
    const size_t i = (Flags & MB_DEFMASK) >> 8;
    return buttons[i < buttons.size() ? i : 0].id;
}

int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
    if (g_responder) return g_responder->MessageBox(Text, Caption, Flags);
    if (!RealDisplay()) {
        std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
        return DefaultAnswer(Flags);
    }
    const QPointer<QWidget> owner = ActiveOwner();
    QMessageBox box(owner);
    box.setWindowTitle(Q(Caption));
    box.setText(Q(Text));
    switch (Flags & MB_ICONMASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    const auto buttons = ButtonsOf(Flags);
    std::vector<std::pair<QAbstractButton*, int>> ids;
    for (const BoxButton& b : buttons) ids.emplace_back(box.addButton(b.button), b.id);
    const size_t def = (Flags & MB_DEFMASK) >> 8;
    box.setDefaultButton(static_cast<QPushButton*>(ids[def < ids.size() ? def : 0].first));
    // The close box and Escape: Cancel where there is one, else the only button.
    for (const auto& [button, id] : ids)
        if (id == IDCANCEL) box.setEscapeButton(button);
    if (ids.size() == 1) box.setEscapeButton(ids[0].first);
    box.exec();
    ReturnFocus(owner);
    for (const auto& [button, id] : ids)
        if (box.clickedButton() == button) return id;
    return IDCANCEL;
}

unsigned MessageDlgFlags(TMsgDlgType Type, TMsgDlgButtons Buttons) {
    auto has = [&](TMsgDlgBtn b) { return (Buttons & (1u << b)) != 0; };
    unsigned f = MB_OK;
    if (has(mbYes) && has(mbNo)) f = has(mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
    else if (has(mbAbort) && has(mbRetry) && has(mbIgnore)) f = MB_ABORTRETRYIGNORE;
    else if (has(mbRetry) && has(mbCancel)) f = MB_RETRYCANCEL;
    else if (has(mbOK) && has(mbCancel)) f = MB_OKCANCEL;
    switch (Type) {
    case mtWarning: f |= MB_ICONWARNING; break;
    case mtError: f |= MB_ICONERROR; break;
    case mtInformation: f |= MB_ICONINFORMATION; break;
    case mtConfirmation: f |= MB_ICONQUESTION; break;
    default: break;
    }
    return f;
}

int MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons, int) {
    static const char* const kCaptions[] = {"Warning", "Error", "Information", "Confirmation"};
    const std::string caption = Type <= mtConfirmation ? kCaptions[Type] : (Application ? Application->Title() : "");
    // Answers and modal results share their numbers (IDOK = mrOk ... IDNO = mrNo).
    return MessageBox(Msg, caption, MessageDlgFlags(Type, Buttons));
}

void ShowMessage(const std::string& Msg) { MessageBox(Msg, Application ? Application->Title() : "", MB_OK); }

// ---- Open-file dialog ----

std::string QtNameFilters(const std::string& Filter) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : Filter) {
        if (c == '|') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    std::string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string patterns;
        std::string p;
        auto flush = [&] {
            const std::string t = Trim(p);
            if (t.empty()) return;
            if (!patterns.empty()) patterns += ' ';
            patterns += t;
            p.clear();
        };
        for (char c : parts[i + 1]) {
            if (c == ';') flush();
            else p += c;
        }
        flush();
        if (patterns.empty()) continue;
        // Qt reads the patterns from the last parentheses, so the description keeps its own.
        std::string name = parts[i];
        for (char& c : name)
            if (c == '(' || c == ')') c = c == '(' ? '[' : ']';
        if (!out.empty()) out += ";;";
        out += name;
        out += " (";
        out += patterns;
        out += ')';
    }
    return out;
}

namespace {

// Qt sizes the Size, Type and Date columns of its dialog for texts shorter than the ones it
// shows ("266 bytes", "JPEG image", a date with its seconds), which then come out cut: each
// becomes as wide as the longest text it can show here, and the dialog wider by as much.
void FitFileColumns(QFileDialog& Dialog, const std::vector<std::string>& Suffixes) {
    auto* tree = Dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!tree || tree->header()->count() < 4) return;
    const QFontMetrics fm(tree->font());
    const QLocale locale = QLocale::system();
    auto widest = [&](const QStringList& texts) {
        int w = 0;
        for (const QString& t : texts) w = std::max(w, fm.horizontalAdvance(t));
        return w + 3 * fm.averageCharWidth();   // the cell's margins and the sort arrow
    };
    QStringList sizes, types{QStringLiteral("Folder")}, dates;
    for (const qint64 bytes : {qint64(1023), qint64(1023) << 10, qint64(1023) << 20, qint64(1023) << 30})
        sizes << locale.formattedDataSize(bytes) << locale.formattedDataSize(bytes + (qint64(1) << 10) - 1);
    const QMimeDatabase mime;
    for (const std::string& s : Suffixes)
        types << mime.mimeTypeForFile(QStringLiteral("x.") + Q(s), QMimeDatabase::MatchExtension).comment();
    for (int month = 1; month <= 12; ++month)
        dates << locale.toString(QDateTime(QDate(2000, month, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
    QHeaderView* header = tree->header();
    int extra = 0;
    const QStringList* texts[] = {&sizes, &types, &dates};
    for (int column = 1; column <= 3; ++column) {
        const int want = widest(*texts[column - 1]);
        if (want <= header->sectionSize(column)) continue;
        extra += want - header->sectionSize(column);
        header->resizeSection(column, want);
    }
    const QSize size = Dialog.size().expandedTo(Dialog.sizeHint());
    int width = size.width() + extra;
    if (const QScreen* screen = Dialog.screen()) width = std::min(width, screen->availableGeometry().width());
    Dialog.resize(width, size.height());
}

// The suffixes of a filter's patterns ("*.jpg;*.jpeg" gives jpg, jpeg).
std::vector<std::string> PatternSuffixes(const std::string& Filter) {
    std::vector<std::string> out;
    std::string cur;
    auto flush = [&] {
        const size_t dot = cur.rfind("*.");
        if (dot != std::string::npos && cur.find_first_of("*?[", dot + 2) == std::string::npos && dot + 2 < cur.size())
            out.push_back(Trim(cur.substr(dot + 2)));
        cur.clear();
    };
    for (char c : Filter) {
        if (c == '|' || c == ';') flush();
        else cur += c;
    }
    flush();
    return out;
}

}  // namespace

void SetUpFileDialog(QFileDialog& Dialog, const TOpenDialog& Options) {
    Dialog.setWindowTitle(Q(Options.Title));
    if (!Options.InitialDir.empty()) Dialog.setDirectory(Q(Options.InitialDir));
    // Qt's own dialog matches the patterns in any letter case (*.jpg offers PHOTO.JPG, as on
    // the original platform); a desktop's native dialog would match them exactly.
    Dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    Dialog.setFileMode((Options.Options & ofFileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QStringList filters = Q(QtNameFilters(Options.Filter)).split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    Dialog.setNameFilters(filters);
    if (Options.FilterIndex >= 1 && Options.FilterIndex <= filters.size())
        Dialog.selectNameFilter(filters[Options.FilterIndex - 1]);
    if (!Options.FileName.empty()) Dialog.selectFile(Q(Options.FileName));
    FitFileColumns(Dialog, PatternSuffixes(Options.Filter));
}

bool TOpenDialog::Execute() {
    if (g_responder) return g_responder->OpenFile(*this);
    if (!RealDisplay()) return false;
    const QPointer<QWidget> owner = ActiveOwner();
    QFileDialog dlg(owner);
    SetUpFileDialog(dlg, *this);
    const int result = dlg.exec();
    ReturnFocus(owner);
    if (result != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
    FileName = dlg.selectedFiles().first().toStdString();
    const int fi = int(dlg.nameFilters().indexOf(dlg.selectedNameFilter()));
    if (fi >= 0) FilterIndex = fi + 1;
    return true;
}

// ---- Colour dialog ----

TColorDialog::TColorDialog(TComponent* AOwner) : TComponent(AOwner) {}
TColorDialog::~TColorDialog() = default;

TColor TColorDialog::CustomColor(int Index) const {
    if (Index < 0 || Index > 15) return clWhite;
    const std::string v = custom_.Values(std::string("Color") + char('A' + Index));
    if (v.empty() || v.size() > 8) return clWhite;
    char* end = nullptr;
    const unsigned long c = std::strtoul(v.c_str(), &end, 16);
    if (!end || *end) return clWhite;
    return TColor(c & 0xFFFFFF);
}

void TColorDialog::SetCustomColor(int Index, TColor Value) {
    if (Index < 0 || Index > 15) return;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", unsigned(ColorToRGB(Value)) & 0xFFFFFF);
    custom_.SetValues(std::string("Color") + char('A' + Index), buf);
}

bool TColorDialog::Execute() {
    if (g_responder) return g_responder->PickColor(*this);
    if (!RealDisplay()) return false;
    auto toQ = [](TColor c) {
        c = ColorToRGB(c);
        return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
    };
    for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(QtCustomIndex(i), toQ(CustomColor(i)));
    const QPointer<QWidget> owner = OwnerWindow(Owner());
    QColorDialog dlg(toQ(Color), owner);
    // A desktop's own dialog would not show the custom colours.
    dlg.setOption(QColorDialog::DontUseNativeDialog, true);
    // Transient for its owner's window, and above whatever that window stays above.
    if (owner && owner->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        dlg.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const bool ok = dlg.exec() == QDialog::Accepted;
    ReturnFocus(owner);
    for (int i = 0; i < 16; ++i) {
        const QColor c = QColorDialog::customColor(QtCustomIndex(i));
        SetCustomColor(i, RGBColor(c.red(), c.green(), c.blue()));
    }
    if (!ok) return false;
    const QColor c = dlg.selectedColor();
    Color = RGBColor(c.red(), c.green(), c.blue());
    return true;
}
