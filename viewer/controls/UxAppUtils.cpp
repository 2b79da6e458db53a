#include "UxAppUtils.h"

#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cstdio>

#include "IniFiles.h"
#include "UxViewerUtils.h"

TRegPlacementIni::TRegPlacementIni(HKEY Root, const std::string& Key) : root_(Root), key_(Key) {}

std::string TRegPlacementIni::Path(const std::string& Section) const {
    const std::string base = root_ == HKEY_CURRENT_USER ? key_ : "";
    if (base.empty()) return "\\" + Section;
    return "\\" + base + (Section.empty() ? "" : "\\" + Section);
}

std::string TRegPlacementIni::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) {
    TRegistry r;
    r.SetRootKey(root_);
    if (!r.OpenKeyReadOnly(Path(Section)) || !r.ValueExists(Ident)) return Default;
    const TRegDataType t = r.GetDataType(Ident);
    if (t == rdInteger) return IntToStr(r.ReadInteger(Ident));
    if (t != rdString && t != rdExpandString) return Default;
    return r.ReadString(Ident);
}

void TRegPlacementIni::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
    if (root_ != HKEY_CURRENT_USER) return;
    TRegistry r;
    if (!r.OpenKey(Path(Section), true)) throw ERegistryException("Failed to set data for '" + Ident + "'");
    r.WriteString(Ident, Value);
}

std::string IniReadString(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Default) {
    if (auto* r = dynamic_cast<TRegPlacementIni*>(Ini)) return r->ReadString(Section, Ident, Default);
    if (auto* r = dynamic_cast<TRegIniFile*>(Ini)) return r->ReadString(Section, Ident, Default);
    if (auto* f = dynamic_cast<TIniFile*>(Ini)) return f->ReadString(Section, Ident, Default);
    return Default;
}

void IniWriteString(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Value) {
    if (auto* r = dynamic_cast<TRegPlacementIni*>(Ini)) r->WriteString(Section, Ident, Value);
    else if (auto* r = dynamic_cast<TRegIniFile*>(Ini)) r->WriteString(Section, Ident, Value);
    else if (auto* f = dynamic_cast<TIniFile*>(Ini)) f->WriteString(Section, Ident, Value);
}

int IniReadInteger(TObject* Ini, const std::string& Section, const std::string& Ident, int Default) {
    return StrToIntDef(Trim(IniReadString(Ini, Section, Ident, IntToStr(Default))), Default);
}

void IniWriteInteger(TObject* Ini, const std::string& Section, const std::string& Ident, int Value) {
    IniWriteString(Ini, Section, Ident, IntToStr(Value));
}

std::string ScreenSizeSuffix() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "(%dx%d)", Screen->Width(), Screen->Height());
    return buf;
}

std::string ReadPosStr(TObject* Ini, const std::string& Section, const std::string& Ident) {
    std::string s = IniReadString(Ini, Section, Ident + ScreenSizeSuffix(), "");
    if (s.empty()) s = IniReadString(Ini, Section, Ident, "");
    return s;
}

void WritePosStr(TObject* Ini, const std::string& Section, const std::string& Ident, const std::string& Value) {
    IniWriteString(Ini, Section, Ident + ScreenSizeSuffix(), Value);
    IniWriteString(Ini, Section, Ident, Value);
}

std::string DefaultIniRegKey() { return "Software\\" + ChangeFileExt(ExtractFileName(ParamStr(0)), ""); }

std::string DefaultIniFileName() { return ChangeFileExt(ExtractFileName(ParamStr(0)), ".INI"); }

std::string DefaultSection(TComponent* Component, const std::string& FormClassName) {
    if (!Component) return "";
    if (dynamic_cast<TForm*>(Component)) return FormClassName;
    if (auto* c = dynamic_cast<TControl*>(Component)) {
        if (GetParentForm(c)) return FormClassName + c->Name();
        return (c->Parent() ? c->Parent()->Name() : "") + c->Name();
    }
    if (dynamic_cast<TForm*>(Component->Owner())) return FormClassName + "." + Component->Name();
    return Component->Name();
}

std::string FormatPos(int A, int B, int C, int D) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%d", A, B, C, D);
    return buf;
}

TWindowPlacement GetWindowPlacement(TForm* Form) {
    TWindowPlacement p;
    QWidget* w = Form->Widget();
    const Qt::WindowStates st = w->windowState();
    p.showCmd = !w->isVisible() ? 0 : (st & Qt::WindowMinimized) ? 2 : (st & Qt::WindowMaximized) ? 3 : 1;
    QRect g = (st & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) ? w->normalGeometry() : w->geometry();
    if (!g.isValid()) g = QRect(Form->Left(), Form->Top(), Form->Width(), Form->Height());
    p.rcNormalPosition = {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
    return p;
}

void SetWindowPlacement(TForm* Form, const TWindowPlacement& P) {
    const TRect& r = P.rcNormalPosition;
    Form->SetBoundsInWorkArea(r.Left, r.Top, RectExtentX(r), RectExtentY(r));
}
