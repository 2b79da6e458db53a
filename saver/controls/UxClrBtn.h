// TUxColorButton: a push button that shows its colour and drops down a palette of 20 cells,
// an "other" cell and a button for the colour dialog (TUxColorButtonPalette, CBtnForm.h);
// and TColorArrayClass, the two-dimensional colour array both keep their colours in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "Graphics.h"
#include "SysUtils.h"

GD_EXCEPTION(EColorArrayIndexError, Exception);

// XSize x YSize colours, counted from 1; element (x, y) is flat entry (y - 1) x XSize + x.
class TColorArrayClass : public TPersistent {
public:
    TColorArrayClass(int XSize = 0, int YSize = 0);

    int XSize() const { return xSize_; }
    int YSize() const { return ySize_; }
    // A new size drops the old colours (all 0 afterwards); negative sizes count as 0.
    void SetXSize(int Value) { Resize(Value, ySize_); }
    void SetYSize(int Value) { Resize(xSize_, Value); }
    int Count() const { return xSize_ * ySize_; }

    // EColorArrayIndexError "Array index out of bounds" outside 1..XSize, 1..YSize or 1..Count.
    TColor Color(int X, int Y) const;
    void SetColor(int X, int Y, TColor Value);
    TColor ColorByIndex(int Index) const;
    void SetColorByIndex(int Index, TColor Value);

    // The stored "Colors" list: y running fastest, (1,1), (1,2) ... (1,YSize), (2,1) ...
    std::vector<int32_t> StreamColors() const;
    // Reads such a list for the current sizes; missing entries leave their colour.
    void ReadStreamColors(const std::vector<int32_t>& List);

    void Assign(TPersistent* Source) override;
    bool operator==(const TColorArrayClass& Other) const;

private:
    void Resize(int X, int Y);
    size_t Offset(int X, int Y) const;
    int xSize_ = 0, ySize_ = 0;
    std::vector<TColor> colors_;
};

// The palette's default colours by column x = 1..4 and row y = 1..5.
void FillDefaultPalette(TColorArrayClass& Palette);

using TGetColorHintTextEvent = TMethod<void(TObject* Sender, TColor Color, int X, int Y, std::string& Text)>;

class TUxColorButtonPalette;

class TUxColorButton : public TCustomControl {
public:
    explicit TUxColorButton(TComponent* AOwner);
    ~TUxColorButton() override;

    // Setting the colour selects the palette cell that has it (0, the other cell, when none),
    // repaints and fires OnColorChange.
    TColor GetColor() const { return color_; }
    void SetColor(TColor Value);
    // 0: the other colour, 1..20 the palette's cells by flat index; others are ignored.
    int PaletteIndex() const { return paletteIndex_; }
    void SetPaletteIndex(int Value);

    TColorArrayClass* PaletteColors() { return &palette_; }
    TColorArrayClass* CustomColors() { return &custom_; }
    TColor OtherColor() const { return otherColor_; }
    void SetOtherColor(TColor Value) { otherColor_ = Value; }
    std::string OtherBtnCaption = "&Other";
    // A click left of the arrow steps to the next cell instead of dropping the palette down.
    bool CycleColors = false;
    bool ShowColorHints = true;
    int Style() const { return style_; }
    void SetStyle(int Value);
    bool Flat() const { return flat_; }
    void SetFlat(bool Value);
    // Registry key of the custom colours (section "Colors", value "<parent>.<name>"); empty
    // keeps none.
    const std::string& CustomColorsKey() const { return customKey_; }
    void SetCustomColorsKey(const std::string& Value);
    std::string Version() const { return "TUxColorButton v2.61"; }
    void SetVersion(const std::string&) {}

    TNotifyEvent OnColorChange;
    TGetColorHintTextEvent OnGetColorHintText;

    // Drops the palette down below (or above) the button.
    void DropDown();
    bool DroppedDown() const { return palette_form_ != nullptr; }
    TUxColorButtonPalette* PaletteForm() const { return palette_form_; }

    // The custom colours in the registry.
    void LoadCustomColors();
    void SaveCustomColors();
    // The registry text of the custom colours: 16 "$xxxxxxxx" items, y running fastest.
    std::string CustomColorsText() const;
    void ReadCustomColorsText(const std::string& Text);

    // The palette reports here: a chosen cell (Other: the other cell or the colour dialog).
    void PaletteChosen(bool Other, TColor Value);
    // The palette has closed; ByKey when Enter or Esc closed it.
    void PaletteClosed(bool ByKey, bool MouseOverButton);
    // True while the next click is to be swallowed.
    bool SwallowingClick() const { return swallow_; }

    void Click() override;

protected:
    void Paint() override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void DoEnter() override;
    void DoExit() override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void WMLButtonDblClk(TShiftState Shift, int X, int Y) override;

private:
    void ColorChanged();
    std::string ValueName() const;

    TColor color_ = 0, otherColor_ = clBtnFace;
    int paletteIndex_ = 0;
    TColorArrayClass palette_{4, 5};
    TColorArrayClass custom_{8, 2};
    int style_ = 0;
    bool flat_ = false, hover_ = false, swallow_ = false;
    int mouseX_ = 0;
    std::string customKey_, valueName_;
    std::unique_ptr<TBitmap> arrow_, arrowDisabled_;
    TUxColorButtonPalette* palette_form_ = nullptr;
};

// "RGB = rrr ggg bbb" of a colour, system colours resolved.
std::string ColorHintText(TColor Color);
