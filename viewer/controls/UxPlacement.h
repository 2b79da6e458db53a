// TFormPlacement: keeps its form's position, size and state between runs, in the registry
// stand-in or an INI file, and can limit the form's tracking size or prevent resizing. It
// restores when the form is first shown (before the window appears) and saves when the form
// closes or is destroyed.
#pragma once

#include <memory>
#include <string>

#include "Forms.h"
#include "UxHook.h"

enum TPlacementOption : unsigned { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
using TPlacementOptions = unsigned;
enum TPlacementRegRoot { prCurrentUser, prLocalMachine, prCurrentConfig, prClassesRoot, prUsers, prDynData };

class TFormPlacement;

struct TWinMinMaxInfo {
    int MaxPosLeft = 0, MaxPosTop = 0, MaxSizeHeight = 0, MaxSizeWidth = 0, MaxTrackHeight = 0,
        MaxTrackWidth = 0, MinTrackHeight = 0, MinTrackWidth = 0;
    bool IsEmpty() const;
    bool operator==(const TWinMinMaxInfo&) const = default;
};

class TFormPlacement : public TComponent {
public:
    explicit TFormPlacement(TComponent* AOwner);
    ~TFormPlacement() override;

    bool Active = true;
    std::string IniFileName;    // registry key (UseRegistry) or INI file name
    std::string IniSection;
    TPlacementOptions Options;  // fpState | fpPosition with a form owner
    TPlacementRegRoot RegistryRoot = prCurrentUser;
    bool UseRegistry = false;
    int Version = 0;
    TNotifyEvent OnSavePlacement;
    TNotifyEvent OnRestorePlacement;
    // The form's class name for the default section (the program's name for it).
    std::string FormClassName;

    const TWinMinMaxInfo& MinMaxInfo() const { return minMax_; }
    void SetMinMaxInfo(const TWinMinMaxInfo& Info);
    bool PreventResize() const { return preventResize_; }
    void SetPreventResize(bool Value);

    // After the form is built: takes over its OnShow, OnCloseQuery and OnDestroy (calling the
    // form's own handlers) and sets up the hook.
    void Loaded();

    void StorePlacement();
    void LoadPlacement();
    // The names in use (defaults for empty ones).
    std::string IniName() const;
    std::string Section() const;
    bool Restored() const { return restored_; }
    // The hook that applies the size limits (attached only when there are limits).
    TUxWindowHook* Hook() const { return hook_; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TForm* Form() const;
    void OpenStorage(bool ForWrite);
    void CloseStorage();
    void SavePlacementValues();
    void RestorePlacementValues();
    void UpdateHook();
    void ApplyLimits();
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormDestroy(TObject* Sender);
    void HookAfter(TObject* Sender, TMessage& Msg, bool& Handled);

    TWinMinMaxInfo minMax_;
    bool preventResize_ = false;
    TUxWindowHook* hook_;
    std::unique_ptr<TObject> storage_;
    TNotifyEvent saveShow_, saveDestroy_;
    TCloseQueryEvent saveCloseQuery_;
    bool restored_ = false, saved_ = false, destroying_ = false, loaded_ = false;
    bool hadMaximize_ = true;
};
