// Message boxes and common dialogs over Qt's, with the test seam.
#include "Dialogs.h"

#include <QApplication>
#include <QColor>
#include <QColorDialog>
#include <QDateTime>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
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

// The patterns of each of Qt's name filters ("Name (*.jpg *.jpeg)" gives *.jpg, *.jpeg).
QStringList PatternsOf(const QString& NameFilter) {
    const qsizetype open = NameFilter.lastIndexOf('('), close = NameFilter.lastIndexOf(')');
    if (open < 0 || close <= open) return {};
    return NameFilter.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts);
}

QByteArray Join(const QByteArray& Folder, const QByteArray& Name) {
    return Folder.endsWith('/') ? Folder + Name : Folder + '/' + Name;
}

// The folder above (the root stays the root).
QByteArray Parent(const QByteArray& Folder) {
    const qsizetype slash = Folder.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : Folder.left(slash);
}

// Shown as text: a name that is no UTF-8 gets replacement characters.
QString Shown(const QByteArray& Bytes) { return QString::fromUtf8(Bytes); }

QByteArray CurrentFolder() {
    std::vector<char> buf(4096);
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return "/";
        buf.resize(buf.size() * 2);
    }
    return QByteArray(buf.data());
}

constexpr int kRawName = Qt::UserRole, kIsFolder = Qt::UserRole + 1;

// Qt's file system model (and QDir) drop the names that are no UTF-8, and its decoding of
// them is lossy: this dialog reads its folders itself, as bytes, and keeps each entry's bytes.
class OpenFileDialog : public QDialog {
public:
    OpenFileDialog(const TOpenDialog& Options, QWidget* Owner) : QDialog(Owner), mustExist_(Options.Options & ofFileMustExist) {
        setWindowTitle(Q(Options.Title));
        setSizeGripEnabled(true);
        auto* top = new QHBoxLayout;
        top->addWidget(new QLabel(QStringLiteral("Look in:")));
        folderEdit_ = new QLineEdit;
        folderEdit_->setObjectName(QStringLiteral("lookInEdit"));
        folderEdit_->setReadOnly(true);
        folderEdit_->setFocusPolicy(Qt::ClickFocus);
        top->addWidget(folderEdit_, 1);
        up_ = new QToolButton;
        up_->setObjectName(QStringLiteral("toParentButton"));
        up_->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
        up_->setToolTip(QStringLiteral("Parent Directory"));
        up_->setAutoRaise(true);
        connect(up_, &QToolButton::clicked, this, [this] { GoUp(); });
        top->addWidget(up_);
        tree_ = new QTreeWidget;
        tree_->setObjectName(QStringLiteral("treeView"));
        tree_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type"),
                                QStringLiteral("Date Modified")});
        tree_->setRootIsDecorated(false);
        tree_->setUniformRowHeights(true);
        tree_->setSortingEnabled(false);
        tree_->header()->setStretchLastSection(false);
        tree_->header()->setSectionsMovable(false);
        tree_->installEventFilter(this);
        connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* i) { Activate(i); });
        connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { Picked(tree_->selectedItems().value(0)); });
        nameEdit_ = new QLineEdit;
        nameEdit_->setObjectName(QStringLiteral("fileNameEdit"));
        types_ = new QComboBox;
        types_->setObjectName(QStringLiteral("fileTypeCombo"));
        types_->addItems(Q(QtNameFilters(Options.Filter)).split(QStringLiteral(";;"), Qt::SkipEmptyParts));
        if (Options.FilterIndex >= 1 && Options.FilterIndex <= types_->count()) types_->setCurrentIndex(Options.FilterIndex - 1);
        connect(types_, &QComboBox::currentIndexChanged, this, [this] { List(QByteArray()); });
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, Qt::Vertical);
        QPushButton* openButton = buttons->button(QDialogButtonBox::Open);
        openButton->setObjectName(QStringLiteral("openButton"));
        openButton->setDefault(true);
        buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
        connect(openButton, &QPushButton::clicked, this, [this] { OpenTyped(); });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* bottom = new QGridLayout;
        bottom->addWidget(new QLabel(QStringLiteral("File &name:")), 0, 0);
        bottom->addWidget(nameEdit_, 0, 1);
        bottom->addWidget(new QLabel(QStringLiteral("Files of type:")), 1, 0);
        bottom->addWidget(types_, 1, 1);
        bottom->addWidget(buttons, 0, 2, 2, 1);
        static_cast<QLabel*>(bottom->itemAtPosition(0, 0)->widget())->setBuddy(nameEdit_);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(top);
        layout->addWidget(tree_, 1);
        layout->addLayout(bottom);

        const QByteArray file(Options.FileName.data(), qsizetype(Options.FileName.size()));
        QByteArray folder(Options.InitialDir.data(), qsizetype(Options.InitialDir.size()));
        QByteArray select;
        if (!file.isEmpty()) {
            const qsizetype slash = file.lastIndexOf('/');
            select = slash < 0 ? file : file.mid(slash + 1);
            if (folder.isEmpty() && slash >= 0) folder = slash == 0 ? QByteArray("/") : file.left(slash);
        }
        if (folder.isEmpty() || !IsFolder(folder)) folder = CurrentFolder();
        else if (!folder.startsWith('/')) folder = Join(CurrentFolder(), folder);
        while (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
        folder_ = folder;
        List(select);
        if (!select.isEmpty()) Name(select);
        FitColumns(PatternSuffixes(Options.Filter));
        nameEdit_->setFocus();
    }

    QByteArray chosen;

    // ---- for the result and for tests ----
    int FilterIndex() const { return types_->currentIndex() + 1; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        // Enter on the list enters a folder or chooses a file; the dialog's default button
        // would take it too.
        if (Watched == tree_ && Event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(Event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                if (QTreeWidgetItem* i = tree_->currentItem()) Activate(i);
                return true;
            }
        }
        return QDialog::eventFilter(Watched, Event);
    }

private:
    static bool IsFolder(const QByteArray& Path) {
        struct stat st {};
        return ::stat(Path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    // The suffixes of a filter's patterns ("*.jpg;*.jpeg" gives jpg, jpeg).
    static std::vector<std::string> PatternSuffixes(const std::string& Filter) {
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

    // The folder's entries, read as bytes: folders, then the files the chosen filter lets
    // through, each sorted by name as shown (any letter case, then the bytes); hidden ones
    // left out. Select is made the current entry where it is listed.
    void List(const QByteArray& Select) {
        folderEdit_->setText(Shown(folder_));
        up_->setEnabled(folder_ != "/");
        std::vector<QRegularExpression> patterns;
        for (const QString& p : PatternsOf(types_->currentText()))
            patterns.emplace_back(QRegularExpression::wildcardToRegularExpression(p),
                                  QRegularExpression::CaseInsensitiveOption);
        struct Entry {
            QByteArray raw;
            QString shown;
            bool folder;
            qint64 size;
            qint64 modified;
        };
        std::vector<Entry> entries;
        if (DIR* d = ::opendir(folder_.constData())) {
            while (const dirent* e = ::readdir(d)) {
                const QByteArray raw(e->d_name);
                if (raw.startsWith('.')) continue;
                struct stat st {};
                if (::stat(Join(folder_, raw).constData(), &st) != 0) continue;
                Entry entry{raw, Shown(raw), S_ISDIR(st.st_mode), qint64(st.st_size), qint64(st.st_mtime)};
                if (!entry.folder) {
                    bool match = patterns.empty();
                    for (const QRegularExpression& re : patterns) match = match || re.match(entry.shown).hasMatch();
                    if (!match) continue;
                }
                entries.push_back(std::move(entry));
            }
            ::closedir(d);
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            if (a.folder != b.folder) return a.folder;
            const int c = a.shown.compare(b.shown, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.raw < b.raw;
        });
        tree_->clear();
        const QLocale locale = QLocale::system();
        const QMimeDatabase mime;
        const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon), fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
        QTreeWidgetItem* current = nullptr;
        for (const Entry& e : entries) {
            auto* item = new QTreeWidgetItem(tree_);
            item->setText(0, e.shown);
            item->setIcon(0, e.folder ? folderIcon : fileIcon);
            item->setData(0, kRawName, e.raw);
            item->setData(0, kIsFolder, e.folder);
            if (!e.folder) item->setText(1, locale.formattedDataSize(e.size));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            item->setText(2, e.folder ? QStringLiteral("Folder")
                                      : mime.mimeTypeForFile(e.shown, QMimeDatabase::MatchExtension).comment());
            item->setText(3, locale.toString(QDateTime::fromSecsSinceEpoch(e.modified), QLocale::ShortFormat));
            if (!Select.isEmpty() && e.raw == Select) current = item;
        }
        if (current) {
            tree_->setCurrentItem(current);
            tree_->scrollToItem(current);
        } else if (tree_->topLevelItemCount() > 0) {
            // A current row for the keyboard, not picked: the name field stays as it is.
            const QSignalBlocker quiet(tree_);
            tree_->setCurrentItem(tree_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        }
    }

    // The name field shows a name the list gave; its bytes are kept while it shows it.
    void Name(const QByteArray& Raw) {
        pickedRaw_ = Raw;
        pickedShown_ = Shown(Raw);
        nameEdit_->setText(pickedShown_);
    }

    void Picked(QTreeWidgetItem* Item) {
        if (Item && !Item->data(0, kIsFolder).toBool()) Name(Item->data(0, kRawName).toByteArray());
    }

    void Enter(const QByteArray& Folder, const QByteArray& Select = QByteArray()) {
        folder_ = Folder;
        pickedRaw_.clear();
        pickedShown_.clear();
        nameEdit_->clear();
        List(Select);
    }

    void GoUp() {
        if (folder_ == "/") return;
        const qsizetype slash = folder_.lastIndexOf('/');
        Enter(Parent(folder_), folder_.mid(slash + 1));
    }

    void Activate(QTreeWidgetItem* Item) {
        const QByteArray path = Join(folder_, Item->data(0, kRawName).toByteArray());
        if (Item->data(0, kIsFolder).toBool()) Enter(path);
        else Choose(path);
    }

    // Open (or Enter in the name field): the name shown from the list, else the text typed
    // (a path, or a name in this folder); a folder is entered. Empty: the list's current entry.
    void OpenTyped() {
        const QString text = nameEdit_->text();
        if (text.isEmpty()) {
            if (QTreeWidgetItem* i = tree_->currentItem(); i && i->isSelected()) Activate(i);
            return;
        }
        const QByteArray typed = text == pickedShown_ ? pickedRaw_ : QFile::encodeName(text);
        QByteArray path = typed.startsWith('/') ? typed : Join(folder_, typed);
        while (path.size() > 1 && path.endsWith('/')) path.chop(1);
        if (IsFolder(path)) {
            Enter(path);
            return;
        }
        struct stat st {};
        if (mustExist_ && ::stat(path.constData(), &st) != 0) {
            QMessageBox::warning(this, windowTitle(),
                                 Shown(typed) + QStringLiteral("\nFile not found.\nPlease verify the correct file name was given."));
            return;
        }
        Choose(path);
    }

    void Choose(const QByteArray& Path) {
        chosen = Path;
        accept();
    }

    // Qt's own sizes would cut "266 bytes", "JPEG image" or a date with its seconds: each of
    // the Size, Type and Date columns as wide as the longest text it can show here, the Name
    // column as its names (within reason), and the dialog wide enough for them.
    void FitColumns(const std::vector<std::string>& Suffixes) {
        const QFontMetrics fm(tree_->font());
        const QLocale locale = QLocale::system();
        const int margin = 3 * fm.averageCharWidth();   // the cell's margins and the sort arrow
        QStringList sizes, types{QStringLiteral("Folder")}, dates;
        for (const qint64 bytes : {qint64(1023), qint64(1023) << 10, qint64(1023) << 20, qint64(1023) << 30})
            sizes << locale.formattedDataSize(bytes) << locale.formattedDataSize(bytes + (qint64(1) << 10) - 1);
        const QMimeDatabase mime;
        for (const std::string& s : Suffixes)
            types << mime.mimeTypeForFile(QStringLiteral("x.") + Q(s), QMimeDatabase::MatchExtension).comment();
        for (int month = 1; month <= 12; ++month)
            dates << locale.toString(QDateTime(QDate(2000, month, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
        QStringList* texts[] = {nullptr, &sizes, &types, &dates};
        for (int r = 0; r < tree_->topLevelItemCount(); ++r)
            for (int c = 1; c <= 3; ++c) *texts[c] << tree_->topLevelItem(r)->text(c);
        QHeaderView* header = tree_->header();
        int total = 0;
        for (int c = 0; c <= 3; ++c) {
            int want = 0;
            if (c == 0) {
                want = 30 * fm.averageCharWidth();
                for (int r = 0; r < tree_->topLevelItemCount(); ++r)
                    want = std::max(want, fm.horizontalAdvance(tree_->topLevelItem(r)->text(0)) + tree_->iconSize().width());
                want = std::min(want, 60 * fm.averageCharWidth()) + margin;
            } else {
                for (const QString& t : *texts[c]) want = std::max(want, fm.horizontalAdvance(t));
                want += margin;
            }
            header->resizeSection(c, std::max(want, header->sectionSizeHint(c)));
            total += header->sectionSize(c);
        }
        QSize size = sizeHint().expandedTo(QSize(0, 26 * fm.height()));
        const int frame = tree_->frameWidth() * 2 + tree_->verticalScrollBar()->sizeHint().width();
        const QMargins m = layout()->contentsMargins();
        int width = std::max(size.width(), total + frame + m.left() + m.right());
        if (const QScreen* screen = this->screen()) {
            width = std::min(width, screen->availableGeometry().width());
            size.setHeight(std::min(size.height(), screen->availableGeometry().height()));
        }
        resize(width, size.height());
    }

    const bool mustExist_;
    QByteArray folder_;
    QByteArray pickedRaw_;
    QString pickedShown_;
    QLineEdit* folderEdit_ = nullptr;
    QToolButton* up_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QComboBox* types_ = nullptr;
};

}  // namespace

QDialog* NewOpenFileDialog(const TOpenDialog& Options, QWidget* Owner) { return new OpenFileDialog(Options, Owner); }

void TakeOpenFileDialogResult(const QDialog& Dialog, TOpenDialog& Options) {
    const auto* d = dynamic_cast<const OpenFileDialog*>(&Dialog);
    if (!d) return;
    Options.FileName.assign(d->chosen.constData(), size_t(d->chosen.size()));
    Options.FilterIndex = d->FilterIndex();
}

bool TOpenDialog::Execute() {
    if (g_responder) return g_responder->OpenFile(*this);
    if (!RealDisplay()) return false;
    const QPointer<QWidget> owner = ActiveOwner();
    const std::unique_ptr<QDialog> dlg(NewOpenFileDialog(*this, owner));
    const int result = dlg->exec();
    ReturnFocus(owner);
    if (result != QDialog::Accepted) return false;
    TakeOpenFileDialogResult(*dlg, *this);
    return !FileName.empty();
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
