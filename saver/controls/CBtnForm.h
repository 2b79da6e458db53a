// The colour button's drop-down palette: 4 x 5 cells of 18 pixels, a separator, the "other"
// cell at the right end of the "&Other" button's row, and that button, which opens the colour
// dialog. A borderless popup: a click outside or a loss of activation closes it.
#pragma once

#include <memory>
#include <string>

#include "Forms.h"
#include "UxClrBtn.h"

class QPushButton;
class TPaletteSurface;

class TUxColorButtonPalette : public TForm {
public:
    static constexpr int kCell = 18;
    static constexpr int kClientWidth = 4 * kCell;
    static constexpr int kOtherTop = 98, kOtherHeight = 14;

    // Owned by the button; pass null for a palette of its own (tests).
    explicit TUxColorButtonPalette(TUxColorButton* Button);
    ~TUxColorButtonPalette() override;

    // The cell at a client point: (x, y) in 1..4, 1..5; (0, 0) the other cell; (-1, -1) none.
    TPoint CellAt(int X, int Y) const;
    TRect CellRect(TPoint Cell) const;
    TColor CellColor(TPoint Cell) const;
    // The highlighted cell; y = 0 is the other cell (x is kept for moving back); (-1, -1) none.
    TPoint Highlight() const { return highlight_; }
    void SetHighlight(TPoint Cell);
    // Highlights the cell of the colour, or the other cell, which then takes the colour.
    void HighlightColor(TColor Value);
    // The arrow keys from the highlighted cell.
    void MoveHighlight(uint16_t Key);
    // The hint of the cell under a client point; false outside any cell or for an empty text.
    bool CellHint(int X, int Y, std::string& Text, TRect& Rect);

    TColorArrayClass* PaletteColors() { return &palette_; }
    TColorArrayClass* CustomColors() { return &custom_; }
    TColor OtherColor = clBtnFace;
    bool ShowHints = true;
    TGetColorHintTextEvent OnGetColorHintText;

    // Runs the colour dialog with the custom colours; OK chooses its colour.
    void btnOtherClick();
    bool DialogOpen() const { return dialogOpen_; }
    QPushButton* btnOther = nullptr;

    // Reports the cell to the button and closes (nothing for no cell).
    void ChooseCell(TPoint Cell, bool ByKey);
    // Enter chooses the highlighted cell, Escape closes without a choice.
    void FormKeyPress(char& Key);
    void FormKeyDown(uint16_t& Key, TShiftState Shift);
    void FormClick(int X, int Y);
    void FormMouseMove(int X, int Y);
    // The form's painting, on the surface's canvas.
    void FormPaint(TCanvas* C);

private:
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void PaintCell(TCanvas* C, TPoint Cell, bool Highlighted);
    void Finish(bool ByKey);

    TUxColorButton* button_;
    TPaletteSurface* surface_ = nullptr;
    TColorArrayClass palette_{4, 5};
    TColorArrayClass custom_{8, 2};
    TPoint highlight_{-1, -1};
    bool dialogOpen_ = false, closedByKey_ = false, finished_ = false;
};

// Where the palette goes: below the button at its left edge, above it when the bottom would
// pass the work area, and moved inside the work area's left and right edges.
TPoint PalettePosition(const TRect& ButtonOnScreen, int Width, int Height, const TRect& WorkArea);
// The screen's work area (without panels and docks) in screen coordinates.
TRect ScreenWorkArea();
