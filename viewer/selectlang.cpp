#include "selectlang.h"

#include <QListWidget>
#include <QPushButton>

#include <filesystem>
#include <memory>

#include "AppShell.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "transclass.h"

namespace fs = std::filesystem;

Tslang::Tslang(TComponent* AOwner) : TForm(AOwner) {
    SetName("slang");
    SetCaption("Glimmerdeck");
    SetPosition(poScreenCenter);
    SetBorderIcons(0);
    SetClientSize(225, 233);
    ListBox1 = NewListBox(this, "ListBox1", 8, 8, 209, 185);
    Button1 = NewControl<QPushButton>(this, "Button1", 8, 200, 209, 25);
    ::SetCaption(Button1, "OK");
    SetDefault(Button1, true);
    ::SetModalResult(Button1, mrOk);
}

std::vector<std::string> LanguageFileNames(const std::string& Folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (n.size() >= 4 && SameText(n.substr(n.size() - 4), ".lng")) names.push_back(n);
    }
    return names;
}

std::string ChooseLanguageFile(const std::string& Folder) {
    const std::vector<std::string> files = LanguageFileNames(Folder);
    const std::string prefix = IncludeTrailingPathDelimiter(Folder);
    if (files.empty()) return "";
    if (files.size() == 1) return prefix + files[0];
    auto chooser = std::make_unique<Tslang>(nullptr);
    chooser->ListBox1->addItem(QStringLiteral("<internal>"));
    for (const std::string& f : files) chooser->ListBox1->addItem(QString::fromStdString(f.substr(0, f.size() - 4)));
    chooser->ListBox1->setCurrentRow(0);
    chooser->ShowModal();
    // Whatever closed the window, the selected item counts (the list never loses it to a click
    // beside the items); item 0 is the built-in texts.
    const QList<QListWidgetItem*> selected = chooser->ListBox1->selectedItems();
    const int row = selected.isEmpty() ? 0 : chooser->ListBox1->row(selected.first());
    return row > 0 ? prefix + files[size_t(row - 1)] : "";
}

void InitLanguage(const std::string& ProgramFolder) {
    const std::string path = ChooseLanguageFile(ProgramFolder);
    std::error_code ec;
    if (!path.empty() && fs::is_regular_file(path, ec)) LangData->LoadFromFile(path);
    if (Application) Application->SetTitle(LangData->Translate("viewer.title", "Glimmerdeck Viewer"));
}
