#include "UxClrBtn.h"

#include <QPushButton>
#include <QWidget>

#include <cstdio>

#include "CBtnForm.h"
#include "Registry.h"
#include "StdCtrls.h"
#include "UxUtils.h"

// ---- Colour array ----

TColorArrayClass::TColorArrayClass(int XSize, int YSize) { Resize(XSize, YSize); }

void TColorArrayClass::Resize(int X, int Y) {
    xSize_ = std::max(X, 0);
    ySize_ = std::max(Y, 0);
    colors_.assign(size_t(xSize_) * size_t(ySize_), 0);
}

size_t TColorArrayClass::Offset(int X, int Y) const {
    if (X < 1 || X > xSize_ || Y < 1 || Y > ySize_) throw EColorArrayIndexError("Array index out of bounds");
    return size_t(Y - 1) * size_t(xSize_) + size_t(X - 1);
}

TColor TColorArrayClass::Color(int X, int Y) const { return colors_[Offset(X, Y)]; }
void TColorArrayClass::SetColor(int X, int Y, TColor Value) { colors_[Offset(X, Y)] = Value; }

TColor TColorArrayClass::ColorByIndex(int Index) const {
    if (Index < 1 || Index > Count()) throw EColorArrayIndexError("Array index out of bounds");
    return colors_[size_t(Index - 1)];
}

void TColorArrayClass::SetColorByIndex(int Index, TColor Value) {
    if (Index < 1 || Index > Count()) throw EColorArrayIndexError("Array index out of bounds");
    colors_[size_t(Index - 1)] = Value;
}

std::vector<int32_t> TColorArrayClass::StreamColors() const {
    std::vector<int32_t> out;
    for (int x = 1; x <= xSize_; ++x)
        for (int y = 1; y <= ySize_; ++y) out.push_back(int32_t(Color(x, y)));
    return out;
}

void TColorArrayClass::ReadStreamColors(const std::vector<int32_t>& List) {
    size_t i = 0;
    for (int x = 1; x <= xSize_; ++x)
        for (int y = 1; y <= ySize_ && i < List.size(); ++y) SetColor(x, y, TColor(List[i++]));
}

void TColorArrayClass::Assign(TPersistent* Source) {
    if (auto* a = dynamic_cast<TColorArrayClass*>(Source)) {
        if (a == this) return;
        xSize_ = a->xSize_;
        ySize_ = a->ySize_;
        colors_ = a->colors_;
        return;
    }
    TPersistent::Assign(Source);
}

bool TColorArrayClass::operator==(const TColorArrayClass& Other) const {
    return xSize_ == Other.xSize_ && ySize_ == Other.ySize_ && colors_ == Other.colors_;
}

void FillDefaultPalette(TColorArrayClass& P) {
    static const uint8_t kRgb[4][5][3] = {
        {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {191, 215, 191}},
        {{0, 0, 0}, {127, 0, 0}, {0, 127, 0}, {0, 0, 127}, {159, 191, 239}},
        {{191, 191, 191}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {255, 247, 239}},
        {{127, 127, 127}, {127, 127, 0}, {0, 127, 127}, {127, 0, 127}, {159, 159, 159}},
    };
    P.SetXSize(4);
    P.SetYSize(5);
    for (int x = 1; x <= 4; ++x)
        for (int y = 1; y <= 5; ++y) {
            const uint8_t* c = kRgb[x - 1][y - 1];
            P.SetColor(x, y, RGBColor(c[0], c[1], c[2]));
        }
}

std::string ColorHintText(TColor Color) {
    const TColor c = ColorToRGB(Color);
    char buf[32];
    std::snprintf(buf, sizeof buf, "RGB = %.3d %.3d %.3d", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

// ---- Button ----

TUxColorButton::TUxColorButton(TComponent* AOwner) : TCustomControl(AOwner) {
    RegisterUxCursors();
    SetBounds(0, 0, 45, 22);
    TabStop = true;
    // A button takes the focus from the keyboard and the mouse.
    ClientWidget()->setFocusPolicy(Qt::StrongFocus);
    FillDefaultPalette(palette_);
    for (int i = 1; i <= custom_.Count(); ++i) custom_.SetColorByIndex(i, clWhite);
    arrow_ = CreateBitmapFromResource(HInstance, "UX_ARROW_BMP");
    if (!arrow_) ResourceNotFound("UX_ARROW_BMP");
    arrowDisabled_ = CreateBitmapFromResource(HInstance, "UX_ARROW_DISABLED_BMP");
    if (!arrowDisabled_) ResourceNotFound("UX_ARROW_DISABLED_BMP");
}

TUxColorButton::~TUxColorButton() {
    if (palette_form_) {
        TUxColorButtonPalette* p = palette_form_;
        palette_form_ = nullptr;
        delete p;
    }
    if (!customKey_.empty()) {
        try {
            SaveCustomColors();
        } catch (const std::exception&) {
            // A store that cannot be written loses the custom colours, not the program.
        }
    }
}

void TUxColorButton::ColorChanged() {
    Invalidate();
    if (OnColorChange) OnColorChange(this);
}

void TUxColorButton::SetColor(TColor Value) {
    color_ = Value;
    paletteIndex_ = 0;
    for (int i = 1; i <= palette_.Count(); ++i)
        if (palette_.ColorByIndex(i) == Value) {
            paletteIndex_ = i;
            break;
        }
    ColorChanged();
}

void TUxColorButton::SetPaletteIndex(int Value) {
    if (Value < 0 || Value > palette_.Count()) return;
    paletteIndex_ = Value;
    color_ = Value == 0 ? otherColor_ : palette_.ColorByIndex(Value);
    ColorChanged();
}

void TUxColorButton::SetStyle(int Value) {
    style_ = Value;
    Invalidate();
}

void TUxColorButton::SetFlat(bool Value) {
    flat_ = Value;
    Invalidate();
}

void TUxColorButton::Click() {
    if (swallow_) {
        swallow_ = false;
        return;
    }
    if (CycleColors && mouseX_ < Width() - 13) {
        SetPaletteIndex(paletteIndex_ >= palette_.Count() ? 0 : paletteIndex_ + 1);
        TControl::Click();
        return;
    }
    TControl::Click();
    DropDown();
}

void TUxColorButton::WMLButtonDblClk(TShiftState Shift, int X, int Y) {
    // A double click is a second press.
    mouseX_ = X;
    TCustomControl::WMLButtonDblClk(Shift, X, Y);
    Click();
}

void TUxColorButton::DropDown() {
    if (palette_form_) return;
    auto* p = new TUxColorButtonPalette(this);
    palette_form_ = p;
    p->ShowHints = ShowColorHints;
    p->OtherColor = otherColor_;
    p->PaletteColors()->Assign(&palette_);
    p->CustomColors()->Assign(&custom_);
    p->OnGetColorHintText = OnGetColorHintText;
    p->HighlightColor(color_);
    if (p->btnOther) SetCaption(p->btnOther, OtherBtnCaption);
    const TPoint tl = ClientToScreen({0, 0});
    const TPoint at = PalettePosition(Bounds(tl.X, tl.Y, Width(), Height()), p->Width(), p->Height(), ScreenWorkArea());
    p->SetBounds(at.X, at.Y, p->Width(), p->Height());
    Invalidate();
    p->Show();
}

void TUxColorButton::PaletteChosen(bool Other, TColor Value) {
    if (Other) otherColor_ = Value;
    SetColor(Value);
}

void TUxColorButton::PaletteClosed(bool ByKey, bool MouseOverButton) {
    if (palette_form_) custom_.Assign(palette_form_->CustomColors());
    palette_form_ = nullptr;
    if (!ByKey && MouseOverButton) swallow_ = true;
    Invalidate();
}

// ---- Custom colours in the registry ----

std::string TUxColorButton::CustomColorsText() const {
    std::string out;
    char buf[16];
    for (int32_t c : custom_.StreamColors()) {
        std::snprintf(buf, sizeof buf, "$%.8X", unsigned(c));
        if (!out.empty()) out += ',';
        out += buf;
    }
    return out;
}

void TUxColorButton::ReadCustomColorsText(const std::string& Text) {
    std::vector<int32_t> list;
    size_t start = 0;
    while (list.size() < size_t(custom_.Count())) {
        const size_t end = Text.find(',', start);
        const std::string item = Trim(Text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        int32_t value = 0xFFFFFF;
        if (item.size() >= 2 && item.size() <= 9 && item[0] == '$') {
            char* stop = nullptr;
            const unsigned long v = std::strtoul(item.c_str() + 1, &stop, 16);
            if (stop && *stop == 0 && item.find_first_of("+- ") == std::string::npos) value = int32_t(uint32_t(v));
        }
        list.push_back(value);
        if (end == std::string::npos) start = Text.size();
        else start = end + 1;
    }
    custom_.ReadStreamColors(list);
}

std::string TUxColorButton::ValueName() const {
    return (Parent() ? Parent()->Name() : std::string()) + "." + Name();
}

void TUxColorButton::SetCustomColorsKey(const std::string& Value) {
    customKey_ = Value;
    if (!customKey_.empty()) LoadCustomColors();
}

void TUxColorButton::LoadCustomColors() {
    if (customKey_.empty()) return;
    valueName_ = ValueName();
    TRegIniFile ini(customKey_);
    const std::string text = ini.ReadString("Colors", valueName_, "");
    if (!text.empty()) ReadCustomColorsText(text);
}

void TUxColorButton::SaveCustomColors() {
    if (customKey_.empty()) return;
    if (valueName_.empty()) valueName_ = ValueName();
    TRegIniFile ini(customKey_);
    ini.WriteString("Colors", valueName_, CustomColorsText());
}

// ---- Painting ----

namespace {

void Frame(TCanvas* C, const TRect& R, TColor Colour) {
    C->Brush()->SetColor(Colour);
    C->FrameRect(R);
}

void Fill(TCanvas* C, const TRect& R, TColor Colour) {
    C->Brush()->SetColor(Colour);
    C->FillRect(R);
}

// Two-colour edge: Light on the left and top, Dark on the right and bottom.
void Edge(TCanvas* C, const TRect& R, TColor Light, TColor Dark) {
    Fill(C, Rect(R.Left, R.Top, R.Right - 1, R.Top + 1), Light);
    Fill(C, Rect(R.Left, R.Top, R.Left + 1, R.Bottom - 1), Light);
    Fill(C, Rect(R.Left, R.Bottom - 1, R.Right, R.Bottom), Dark);
    Fill(C, Rect(R.Right - 1, R.Top, R.Right, R.Bottom), Dark);
}

TRect Shrink(const TRect& R, int Dx, int Dy) { return Rect(R.Left + Dx, R.Top + Dy, R.Right - Dx, R.Bottom - Dy); }

// The dotted focus rectangle.
void FocusRect(TCanvas* C, const TRect& R) {
    for (int x = R.Left; x < R.Right; ++x)
        if ((x - R.Left) % 2 == 0) {
            C->SetPixel(x, R.Top, clBlack);
            C->SetPixel(x, R.Bottom - 1, clBlack);
        }
    for (int y = R.Top; y < R.Bottom; ++y)
        if ((y - R.Top) % 2 == 0) {
            C->SetPixel(R.Left, y, clBlack);
            C->SetPixel(R.Right - 1, y, clBlack);
        }
}

// Copies the picture's pixels except its transparent colour (the bottom-left pixel).
void DrawTransparent(TCanvas* C, int X, int Y, const TBitmap* B) {
    if (!B || B->Empty()) return;
    const uint8_t* bl = B->ScanLine(B->Height() - 1);
    const TColor transparent = RGBColor(bl[2], bl[1], bl[0]);
    for (int y = 0; y < B->Height(); ++y) {
        const uint8_t* row = B->ScanLine(y);
        for (int x = 0; x < B->Width(); ++x) {
            const TColor c = RGBColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            if (c != transparent) C->SetPixel(X + x, Y + y, c);
        }
    }
}

}  // namespace

void TUxColorButton::Paint() {
    TCanvas* C = Canvas();
    TRect r = ClientRect();
    const bool pressed = palette_form_ != nullptr;
    const bool focused = Focused();
    Fill(C, r, clBtnFace);
    if (pressed) {
        Frame(C, r, clWindowFrame);
        r = Shrink(r, 1, 1);
        Frame(C, r, clBtnShadow);
        r = Shrink(r, 1, 1);
    } else if (flat_ && (hover_ || focused)) {
        Edge(C, r, clBtnHighlight, clBtnShadow);
        r = Shrink(r, 1, 1);
    } else if (flat_) {
        r = Shrink(r, 2, 2);
    } else {
        // The push-button frame: light and highlight outside, shadow and dark shadow inside.
        Edge(C, r, clBtnHighlight, cl3DDkShadow);
        Edge(C, Shrink(r, 1, 1), cl3DLight, clBtnShadow);
        r = Shrink(r, 2, 2);
    }
    if (focused) {
        TRect f = Shrink(ClientRect(), 3, 3);
        if (pressed) f = Rect(f.Left + 1, f.Top + 1, f.Right + 1, f.Bottom + 1);
        FocusRect(C, f);
    }
    if (pressed) r = Rect(r.Left + 1, r.Top + 1, r.Right + 1, r.Bottom + 1);
    // The swatch, then the separator and the arrow.
    TRect sw = Shrink(r, 1, 1);
    sw = Rect(sw.Left + 2, sw.Top + 1, sw.Right - 2 - 10, sw.Bottom - 1);
    if (Enabled()) {
        Frame(C, sw, clWindowFrame);
        Fill(C, Shrink(sw, 1, 1), color_);
    } else {
        Frame(C, sw, clWindowFrame);
        const TRect in = Shrink(sw, 1, 1);
        for (int y = in.Top; y < in.Bottom; ++y)
            for (int x = in.Left; x < in.Right; ++x)
                if ((x + y) & 1) C->SetPixel(x, y, clBlack);
    }
    const int sep = sw.Right + 3;
    Fill(C, Rect(sep, r.Top + 1, sep + 1, r.Bottom - 1), clBtnShadow);
    Fill(C, Rect(sep + 1, r.Top + 1, sep + 2, r.Bottom - 1), clBtnHighlight);
    const TBitmap* a = Enabled() ? arrow_.get() : arrowDisabled_.get();
    DrawTransparent(C, sep + 2 + ((r.Right - sep - 2) - a->Width()) / 2,
                    r.Top + (r.Bottom - r.Top) / 2 - a->Height() / 2, a);
}

void TUxColorButton::MouseMove(TShiftState Shift, int X, int Y) {
    mouseX_ = X;
    TCustomControl::MouseMove(Shift, X, Y);
}

void TUxColorButton::MouseEnter() {
    hover_ = true;
    if (flat_) Invalidate();
}

void TUxColorButton::MouseLeave() {
    hover_ = false;
    if (flat_) Invalidate();
}

void TUxColorButton::DoEnter() {
    Invalidate();
    TCustomControl::DoEnter();
}

void TUxColorButton::DoExit() {
    Invalidate();
    TCustomControl::DoExit();
}

void TUxColorButton::KeyDown(uint16_t& Key, TShiftState Shift) {
    TCustomControl::KeyDown(Key, Shift);
    if (Key == VK_SPACE && Shift == 0) {
        mouseX_ = Width();   // from the keyboard: the palette, not the next colour
        Click();
    }
}
