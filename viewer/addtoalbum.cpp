#include "addtoalbum.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <unordered_set>

#include "Registry.h"
#include "ShortcutLink.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "UxSplit.h"
#include "global.h"
#include "specialfolder.h"
#include "transclass.h"

namespace fs = std::filesystem;

std::string AlbumBaseDirectory() {
    std::string base;
    try {
        TRegistry reg;
        if (reg.OpenKeyReadOnly(kAlbumKey)) {
            // A value of another type counts as missing, so the default still gives albums.
            const TRegDataType type = reg.GetDataType(kAlbumValue);
            if (type == rdString || type == rdExpandString) base = reg.ReadString(kAlbumValue);
        }
    } catch (const Exception&) {
        base.clear();
    }
    if (base.empty() || !DirectoryExists(base)) {
        base = DefaultAlbumBase();
        ForceDirectories(base);
    }
    return base;
}

void BuildAlbumList(TAlbumList& List, TShortcutLink* Shortcut) {
    struct Album {
        std::string name, path;
    };
    TAlbumList out;
    out.Base = AlbumBaseDirectory();
    const std::string prefix = IncludeTrailingPathDelimiter(out.Base);

    // The entries in one fixed order, so that albums of equal names always come out alike.
    std::vector<std::string> entries;
    std::error_code ec;
    for (fs::directory_iterator it(out.Base, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec))
        entries.push_back(it->path().filename().string());
    std::sort(entries.begin(), entries.end());

    const std::vector<std::string> excluded = GlobalStrings.ExcludedFolders();
    std::vector<Album> albums;
    for (const std::string& n : entries) {
        if (n.empty() || n[0] == '.') continue;   // hidden
        const std::string full = prefix + n;
        if (Shortcut && ExtractFileExt(n) == ".lnk" && fs::is_regular_file(full, ec)) {
            Shortcut->ShortcutFile = full;
            Shortcut->Target.clear();
            try {
                Shortcut->ReadLink();
            } catch (const Exception&) {
                Shortcut->Target.clear();
            }
            const std::string& t = Shortcut->Target;
            if (t.size() > 1 && DriveReady(t[0]) && fs::is_directory(t, ec))
                albums.push_back({n.substr(0, n.size() - 4), t});
        }
        // Symbolic links to folders are folders; dangling ones are not.
        if (fs::is_directory(full, ec) && std::find(excluded.begin(), excluded.end(), n) == excluded.end())
            albums.push_back({n, full});
    }
    std::vector<std::string> names;
    names.reserve(albums.size());
    for (const Album& a : albums) names.push_back(a.name);
    // A name already listed is told apart by its folder: one look-up per album.
    std::unordered_set<std::string> shown;
    for (const size_t i : AnsiSortedOrder(names)) {
        const Album& a = albums[i];
        const bool again = !shown.insert(a.name).second;
        out.PathIndex.push_back(int(out.Paths.size()));
        out.Names.push_back(again ? a.name + " (" + a.path + ")" : a.name);
        out.Paths.push_back(a.path);
    }
    out.Paths.push_back(out.Base);
    out.Names.insert(out.Names.begin(), ExtractFileName(out.Base) + GlobalStrings.sbasenameattach);
    out.PathIndex.insert(out.PathIndex.begin(), int(out.Paths.size()) - 1);
    out.Built = true;
    List = std::move(out);
}

std::string OverwriteQuestion(const std::string& FileName, const std::string& AlbumName) {
    static const std::string kQuestion =
        "There is already a photo with the name \"%s\" in the album %s.\r\nDo you want to overwrite it?";
    std::string text;
    if (!FormatStrings(Translate("viewer.overwrite", kQuestion), {FileName, AlbumName}, text))
        FormatStrings(kQuestion, {FileName, AlbumName}, text);
    return text;
}

// ---- The chooser ----

Taddphoto::Taddphoto(TComponent* AOwner) : TForm(AOwner) {
    SetName("addphoto");
    SetCaption("Select Album");
    SetBorderStyle(bsDialog);
    SetLeft(453);
    SetTop(366);
    SetClientSize(351, 295);

    Label1 = NewControl<QLabel>(this, "Label1", 8, 8, 329, 33);
    Label1->setWordWrap(true);
    ::SetCaption(Label1, "Select a album to add the photo to.");
    list = NewListBox(this, "list", 8, 48, 337, 201);
    UxSplitter1 = new TUxSplitter(this);
    UxSplitter1->SetName("UxSplitter1");
    UxSplitter1->SetParent(this);
    UxSplitter1->SetBounds(8, 256, 337, 2);
    UxSplitter1->SetBevelInner(bvLowered);
    UxSplitter1->SetEnabled(false);
    Button1 = NewControl<QPushButton>(this, "Button1", 8, 264, 75, 25);
    ::SetCaption(Button1, "New Album");
    Button1->hide();
    Button2 = NewControl<QPushButton>(this, "Button2", 160, 264, 91, 25);
    ::SetCaption(Button2, "OK");
    SetDefault(Button2, true);
    ::SetModalResult(Button2, mrOk);
    Button3 = NewControl<QPushButton>(this, "Button3", 256, 264, 91, 25);
    ::SetCaption(Button3, "Cancel");
    SetCancel(Button3, true);
    ::SetModalResult(Button3, mrCancel);
    FormCreate();
}

void Taddphoto::FormCreate() {
    TranslateProperty(this, "caption", "viewer.add.title");
    TranslateProperty(Label1, "caption", "viewer.add.label1.caption");
    TranslateProperty(Button2, "caption", "viewer.add.button2.caption");
    TranslateProperty(Button3, "caption", "viewer.add.button3.caption");
    ArrangeControls();
}

// The stored layout, grown where a translated text needs more room at the desktop's font.
void Taddphoto::ArrangeControls() {
    const int labelHeight = std::max(33, Label1->heightForWidth(329));
    const int dy = labelHeight - 33;
    const int w2 = std::max(91, Button2->sizeHint().width()), w3 = std::max(91, Button3->sizeHint().width());
    const int bh = std::max({25, Button2->sizeHint().height(), Button3->sizeHint().height()});
    const int width = std::max(351, 8 + w2 + 5 + w3 + 4);
    Label1->setGeometry(8, 8, width - 22, labelHeight);
    list->setGeometry(8, 48 + dy, width - 14, 201);
    UxSplitter1->SetBounds(8, 256 + dy, width - 14, 2);
    Button3->setGeometry(width - 4 - w3, 264 + dy, w3, bh);
    Button2->setGeometry(width - 4 - w3 - 5 - w2, 264 + dy, w2, bh);
    SetClientSize(width, 264 + dy + bh + 6);
}

// ---- The command ----

void AddPhotoToAlbum(TAlbumList& List, TShortcutLink* Shortcut, const std::string& PhotoPath, const TFileState* Shown) {
    if (!List.Built) BuildAlbumList(List, Shortcut);
    auto chooser = std::make_unique<Taddphoto>(nullptr);
    for (const std::string& n : List.Names) chooser->list->addItem(QString::fromStdString(n));
    if (chooser->list->count() > 0) chooser->list->setCurrentRow(0);
    if (chooser->ShowModal() != mrOk) return;
    // The list keeps its chosen album (item 0 until the user picks another); should the
    // program ever have cleared it, the base entry stands.
    const QList<QListWidgetItem*> selected = chooser->list->selectedItems();
    const int row = !selected.isEmpty() ? chooser->list->row(selected.first()) : chooser->list->count() > 0 ? 0 : -1;
    if (PhotoPath.empty()) {
        LangMessageBox(kNoPhotoToAdd, mtInformation, MsgDlgButtons({mbOK}));
        return;
    }
    if (row < 0 || size_t(row) >= List.PathIndex.size()) {
        LangMessageBox(kNoAlbumToAddTo, mtWarning, MsgDlgButtons({mbOK}));
        return;
    }
    const std::string albumName = chooser->list->item(row)->text().toStdString();
    const std::string fileName = ExtractFileName(PhotoPath);
    const std::string target = IncludeTrailingPathDelimiter(List.Paths[size_t(List.PathIndex[size_t(row)])]) + fileName;
    std::error_code ec;
    if (fs::exists(target, ec)) {
        if (fs::equivalent(PhotoPath, target, ec)) return;   // the photo is in that album already
        const std::string question = OverwriteQuestion(fileName, albumName);
        if (LangMessageBox(question, mtConfirmation, MsgDlgButtons({mbYes, mbNo})) != mrYes) return;
    }
    try {
        CopyFileByStream(PhotoPath, target, Shown);
    } catch (const Exception& e) {
        LangMessageBox(e.Message, mtError, MsgDlgButtons({mbOK}));
    }
}
