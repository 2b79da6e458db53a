#include "UxPlacement.h"

#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "AppShell.h"
#include "IniFiles.h"
#include "UxAppUtils.h"
#include "UxViewerUtils.h"

namespace {

void ReportFailureQuietly(const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    std::fflush(stderr);
    TestLog(std::string("error ") + E.what());
}

}  // namespace

bool TWinMinMaxInfo::IsEmpty() const { return *this == TWinMinMaxInfo{}; }

TFormPlacement::TFormPlacement(TComponent* AOwner) : TComponent(AOwner) {
    Options = dynamic_cast<TForm*>(AOwner) ? fpState | fpPosition : 0;
    hook_ = new TUxWindowHook(this);
    hook_->SetActive(false);
    hook_->AfterMessage = MakeMethod(this, &TFormPlacement::HookAfter);
}

TFormPlacement::~TFormPlacement() {
    if (TForm* f = Form(); f && loaded_) {
        // The form gets its own handlers back.
        f->OnShow = saveShow_;
        f->OnCloseQuery = saveCloseQuery_;
        f->OnDestroy = saveDestroy_;
    }
    CloseStorage();
}

TForm* TFormPlacement::Form() const { return dynamic_cast<TForm*>(Owner()); }

void TFormPlacement::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == hook_) hook_ = nullptr;
}

void TFormPlacement::Loaded() {
    TForm* f = Form();
    if (!f || loaded_) return;
    loaded_ = true;
    saveShow_ = f->OnShow;
    saveCloseQuery_ = f->OnCloseQuery;
    saveDestroy_ = f->OnDestroy;
    f->OnShow = MakeMethod(this, &TFormPlacement::FormShow);
    f->OnCloseQuery = MakeMethod(this, &TFormPlacement::FormCloseQuery);
    f->OnDestroy = MakeMethod(this, &TFormPlacement::FormDestroy);
    hadMaximize_ = (f->BorderIcons() & biMaximize) != 0;
    UpdateHook();
}

std::string TFormPlacement::IniName() const {
    if (!IniFileName.empty()) return IniFileName;
    return UseRegistry ? DefaultIniRegKey() : DefaultIniFileName();
}

std::string TFormPlacement::Section() const {
    if (!IniSection.empty()) return IniSection;
    return DefaultSection(Owner(), FormClassName);
}

void TFormPlacement::OpenStorage(bool ForWrite) {
    (void)ForWrite;
    if (storage_) return;
    if (UseRegistry) {
        static const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY(0x80000005), HKEY_CLASSES_ROOT,
                                     HKEY_USERS, HKEY(0x80000006)};
        storage_ = std::make_unique<TRegPlacementIni>(roots[RegistryRoot], IniName());
    } else {
        storage_ = std::make_unique<TIniFile>(IniName());
    }
}

void TFormPlacement::CloseStorage() { storage_.reset(); }

void TFormPlacement::FormShow(TObject* Sender) {
    if (Active) {
        try {
            LoadPlacement();
        } catch (const std::exception& e) {
            ReportException(e);
        }
    }
    if (saveShow_) saveShow_(Sender);
}

void TFormPlacement::FormCloseQuery(TObject* Sender, bool& CanClose) {
    if (saveCloseQuery_) saveCloseQuery_(Sender, CanClose);
    if (CanClose && Active && Form()) {
        try {
            StorePlacement();
        } catch (const std::exception& e) {
            // Told once: the destruction that follows does not try (and tell) again, and the
            // window closes all the same.
            saved_ = true;
            ReportException(e);
        }
    }
}

void TFormPlacement::FormDestroy(TObject* Sender) {
    if (Active && !saved_) {
        destroying_ = true;
        try {
            StorePlacement();
        } catch (const std::exception& e) {
            // The program may be ending here (a signal, the end of the loop): a message box
            // would keep it from ending, so the failure is told on stderr.
            saved_ = true;
            ReportFailureQuietly(e);
        }
        destroying_ = false;
    }
    if (saveDestroy_) saveDestroy_(Sender);
}

void TFormPlacement::StorePlacement() {
    if (!restored_ && Active) return;
    OpenStorage(true);
    struct Close {
        TFormPlacement* p;
        ~Close() { p->CloseStorage(); }
    } close{this};
    IniWriteInteger(storage_.get(), Section(), "FormVersion", Version);
    SavePlacementValues();
    if (OnSavePlacement) OnSavePlacement(this);
    saved_ = true;
}

void TFormPlacement::SavePlacementValues() {
    TForm* f = Form();
    if (!f) return;
    TObject* ini = storage_.get();
    const std::string sec = Section();
    TWindowPlacement p = GetWindowPlacement(f);
    // The main form of a minimised program counts as minimised.
    if (Application && Application->MainTForm() == f && f->WindowState() == wsMinimized) p.showCmd = 2;
    IniWriteInteger(ini, sec, "Flags", int(p.flags));
    IniWriteInteger(ini, sec, "ShowCmd", p.showCmd);
    IniWriteInteger(ini, sec, "PixelsPerInch", Screen->PixelsPerInch());
    WritePosStr(ini, sec, "MinMaxPos", FormatPos(p.ptMinPosition.X, p.ptMinPosition.Y, p.ptMaxPosition.X, p.ptMaxPosition.Y));
    const TRect& n = p.rcNormalPosition;
    WritePosStr(ini, sec, "NormPos", FormatPos(n.Left, n.Top, n.Right, n.Bottom));
    if ((Options & fpActiveControl)) {
        const std::string active = f->ActiveControlName();
        if (!active.empty()) IniWriteString(ini, sec, "ActiveControl", active);
    }
    IniWriteString(ini, sec, "Visible", destroying_ ? "1" : "0");
}

void TFormPlacement::LoadPlacement() {
    saved_ = false;
    OpenStorage(false);
    struct Close {
        TFormPlacement* p;
        ~Close() { p->CloseStorage(); }
    } close{this};
    if (IniReadInteger(storage_.get(), Section(), "FormVersion", 0) >= Version) {
        RestorePlacementValues();
        restored_ = true;
        if (OnRestorePlacement) OnRestorePlacement(this);
        if ((Options & fpActiveControl) && Form())
            Form()->FocusControl(IniReadString(storage_.get(), Section(), "ActiveControl", ""));
    }
    restored_ = true;
}

void TFormPlacement::RestorePlacementValues() {
    TForm* f = Form();
    if (!f || !(Options & (fpState | fpPosition))) return;
    TObject* ini = storage_.get();
    const std::string sec = Section();
    TWindowPlacement p = GetWindowPlacement(f);
    if (Options & fpPosition) {
        p.flags = unsigned(IniReadInteger(ini, sec, "Flags", int(p.flags)));
        auto word = [](const std::string& s, int n, int def) { return StrToIntDef(NthWord(n, s, " ,"), def); };
        const std::string minMax = ReadPosStr(ini, sec, "MinMaxPos");
        if (!minMax.empty()) {
            p.ptMinPosition = {word(minMax, 1, 0), word(minMax, 2, 0)};
            p.ptMaxPosition = {word(minMax, 3, 0), word(minMax, 4, 0)};
        }
        const std::string norm = ReadPosStr(ini, sec, "NormPos");
        if (!norm.empty()) {
            TRect& r = p.rcNormalPosition;
            r = {word(norm, 1, f->Left()), word(norm, 2, f->Top()), word(norm, 3, f->Left() + f->Width()),
                 word(norm, 4, f->Top() + f->Height())};
        }
        const int ppi = IniReadInteger(ini, sec, "PixelsPerInch", Screen->PixelsPerInch());
        if ((!minMax.empty() || !norm.empty()) && ppi == Screen->PixelsPerInch()) {
            TRect& r = p.rcNormalPosition;
            if (f->BorderStyle() != bsSizeable && f->BorderStyle() != bsSizeToolWin)
                r = Bounds(r.Left, r.Top, f->Width(), f->Height());
            if (r.Left < r.Right) {
                if (f->Position() == poScreenCenter || f->Position() == poDesktopCenter) f->SetPosition(poDesigned);
                SetWindowPlacement(f, p);
            }
        }
    }
    if (Options & fpState) {
        const bool isMain = !Application || !Application->MainForm() || Application->MainTForm() == f;
        TWindowState state = isMain && f->Position() == poDefault ? wsMaximized : wsNormal;
        switch (IniReadInteger(ini, sec, "ShowCmd", 0)) {
        case 1: case 5: case 9: state = wsNormal; break;
        case 2: case 6: case 7: state = wsMinimized; break;
        case 3: state = wsMaximized; break;
        default: break;
        }
        if (state == wsMinimized && isMain) {
            // The program opens minimised: the window normal, then minimised from the loop.
            f->SetWindowState(wsNormal);
            QTimer::singleShot(0, f->Widget(), [f] { f->SetWindowState(wsMinimized); });
            return;
        }
        f->SetWindowState(state);
    }
    f->Invalidate();
}

void TFormPlacement::SetMinMaxInfo(const TWinMinMaxInfo& Info) {
    if (Info == minMax_) return;
    minMax_ = Info;
    UpdateHook();
}

void TFormPlacement::SetPreventResize(bool Value) {
    if (Value == preventResize_) return;
    preventResize_ = Value;
    UpdateHook();
}

void TFormPlacement::UpdateHook() {
    TForm* f = Form();
    if (!hook_) return;
    const bool on = f && (!minMax_.IsEmpty() || preventResize_);
    hook_->SetWinControl(on ? f : nullptr);
    hook_->SetActive(on);
    ApplyLimits();
}

void TFormPlacement::ApplyLimits() {
    TForm* f = Form();
    if (!f) return;
    // The tracking limits and the fixed size are the window's size rules here; the maximise
    // button goes while resizing is prevented.
    f->SetFixedSize(preventResize_);
    f->SetSizeLimits(minMax_.MinTrackWidth, minMax_.MinTrackHeight, minMax_.MaxTrackWidth, minMax_.MaxTrackHeight);
    TBorderIcons icons = f->BorderIcons();
    if (preventResize_) icons &= ~unsigned(biMaximize);
    else if (hadMaximize_) icons |= biMaximize;
    f->SetBorderIcons(icons);
}

void TFormPlacement::HookAfter(TObject*, TMessage& Msg, bool&) {
    if (Msg.Msg == WM_SHOWWINDOW) ApplyLimits();
}
