#include "CBtnForm.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QWidget>

#include <cstdio>

#include "Dialogs.h"
#include "StdCtrls.h"

// The painted part of the palette: cells, separator and other cell; it hands its mouse and
// keys to the form.
class TPaletteSurface : public TCustomControl {
public:
    TPaletteSurface(TUxColorButtonPalette* Form) : TCustomControl(Form), form_(Form) {
        ClientWidget()->setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void Paint() override { form_->FormPaint(Canvas()); }
    void MouseMove(TShiftState Shift, int X, int Y) override {
        TCustomControl::MouseMove(Shift, X, Y);
        form_->FormMouseMove(X, Y);
    }
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override {
        TCustomControl::MouseUp(Button, Shift, X, Y);
        if (Button == mbLeft) form_->FormClick(X, Y);
    }
    void KeyDown(uint16_t& Key, TShiftState Shift) override { form_->FormKeyDown(Key, Shift); }
    void KeyPress(char& Key) override { form_->FormKeyPress(Key); }

private:
    TUxColorButtonPalette* form_;
};

namespace {

// Cell hints: the text and the cell's rectangle for the tooltip.
class HintFilter : public QObject {
public:
    HintFilter(TUxColorButtonPalette* Form, QObject* Parent) : QObject(Parent), form_(Form) {}
    bool eventFilter(QObject* Watched, QEvent* E) override {
        if (E->type() != QEvent::ToolTip) return false;
        auto* w = static_cast<QWidget*>(Watched);
        auto* h = static_cast<QHelpEvent*>(E);
        std::string text;
        TRect r;
        if (form_->CellHint(h->pos().x(), h->pos().y(), text, r))
            QToolTip::showText(h->globalPos(), QString::fromStdString(text), w,
                               QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
        else
            QToolTip::hideText();
        return true;
    }

private:
    TUxColorButtonPalette* form_;
};

TRect Shrink(const TRect& R, int D) { return Rect(R.Left + D, R.Top + D, R.Right - D, R.Bottom - D); }

void Frame(TCanvas* C, const TRect& R, TColor Colour) {
    C->Brush()->SetColor(Colour);
    C->FrameRect(R);
}

void Edge(TCanvas* C, const TRect& R, TColor Light, TColor Dark) {
    C->Brush()->SetColor(Light);
    C->FillRect(Rect(R.Left, R.Top, R.Right - 1, R.Top + 1));
    C->FillRect(Rect(R.Left, R.Top, R.Left + 1, R.Bottom - 1));
    C->Brush()->SetColor(Dark);
    C->FillRect(Rect(R.Left, R.Bottom - 1, R.Right, R.Bottom));
    C->FillRect(Rect(R.Right - 1, R.Top, R.Right, R.Bottom));
}

}  // namespace

TPoint PalettePosition(const TRect& B, int Width, int Height, const TRect& Work) {
    TPoint p{B.Left, B.Bottom};
    if (p.Y + Height > Work.Bottom) p.Y = B.Top - Height;
    if (p.X < Work.Left) p.X = Work.Left;
    if (p.X + Width > Work.Right) p.X = Work.Right - Width;
    return p;
}

TRect ScreenWorkArea() {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return Rect(0, 0, 0, 0);
    const QRect a = s->availableGeometry();
    return Rect(a.left(), a.top(), a.left() + a.width(), a.top() + a.height());
}

TUxColorButtonPalette::TUxColorButtonPalette(TUxColorButton* Button) : TForm(Button), button_(Button) {
    SetName("UxColorButtonPalette");
    SetBorderStyle(bsNone);
    // A popup: it closes on a click outside and takes the keys while open.
    Widget()->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    SetPosition(poDesigned);
    SetClientSize(kClientWidth, kOtherTop + kOtherHeight + 2);
    surface_ = new TPaletteSurface(this);
    surface_->SetName("Surface");
    surface_->SetParent(this);
    surface_->SetAlign(alClient);
    surface_->ClientWidget()->installEventFilter(new HintFilter(this, surface_->ClientWidget()));
    btnOther = NewControl<QPushButton>(this, "btnOther", 1, kOtherTop, kClientWidth - 22, kOtherHeight);
    // The row is drawn to fixed sizes: the button keeps its bounds whatever its caption and
    // the desktop font, so the other cell beside it stays uncovered.
    SetFixedBounds(btnOther, 1, kOtherTop, kClientWidth - 22, kOtherHeight);
    btnOther->setFocusPolicy(Qt::NoFocus);
    ::SetCaption(btnOther, "&Other");
    ::OnClick(btnOther, [this] { btnOtherClick(); });
    OnCloseQuery = TCloseQueryEvent(this, &TUxColorButtonPalette::FormCloseQuery);
    OnClose = TCloseEvent(this, &TUxColorButtonPalette::FormClose);
    FillDefaultPalette(palette_);
    for (int i = 1; i <= custom_.Count(); ++i) custom_.SetColorByIndex(i, clWhite);
    surface_->SetFocus();
}

TUxColorButtonPalette::~TUxColorButtonPalette() { DoDestroy(); }

TPoint TUxColorButtonPalette::CellAt(int X, int Y) const {
    const int cw = ClientWidth();
    if (X >= 0 && X < 4 * kCell && Y >= 0 && Y < 5 * kCell) return {X / kCell + 1, Y / kCell + 1};
    if (X >= cw - 19 && X <= cw - 1 && Y >= 96 && Y <= 113) return {0, 0};
    return {-1, -1};
}

TRect TUxColorButtonPalette::CellRect(TPoint Cell) const {
    if (Cell.Y == 0) {
        const int cw = ClientWidth(), t = kOtherTop + (kOtherHeight - 16) / 2;
        return Rect(cw - 19, t - 1, cw - 1, t + 17);
    }
    return Rect((Cell.X - 1) * kCell, (Cell.Y - 1) * kCell, Cell.X * kCell, Cell.Y * kCell);
}

TColor TUxColorButtonPalette::CellColor(TPoint Cell) const {
    if (Cell.Y == 0) return OtherColor;
    return palette_.Color(Cell.X, Cell.Y);
}

void TUxColorButtonPalette::SetHighlight(TPoint Cell) {
    highlight_ = Cell;
    surface_->Invalidate();
}

void TUxColorButtonPalette::HighlightColor(TColor Value) {
    for (int y = 1; y <= palette_.YSize(); ++y)
        for (int x = 1; x <= palette_.XSize(); ++x)
            if (palette_.Color(x, y) == Value) {
                SetHighlight({x, y});
                return;
            }
    OtherColor = Value;
    SetHighlight({0, 0});
}

void TUxColorButtonPalette::MoveHighlight(uint16_t Key) {
    if (Key != VK_LEFT && Key != VK_RIGHT && Key != VK_UP && Key != VK_DOWN) return;
    TPoint h = highlight_;
    if (h.X < 0 || h.Y < 0) {
        SetHighlight({1, 1});
        return;
    }
    auto wrap = [](int v, int lo, int hi) { return v < lo ? hi : v > hi ? lo : v; };
    if (Key == VK_LEFT || Key == VK_RIGHT) {
        if (h.Y == 0) return;
        h.X = wrap(h.X + (Key == VK_RIGHT ? 1 : -1), 1, 4);
    } else {
        h.Y = wrap(h.Y + (Key == VK_DOWN ? 1 : -1), 0, 5);
        if (h.Y != 0 && h.X < 1) h.X = 1;
    }
    SetHighlight(h);
}

bool TUxColorButtonPalette::CellHint(int X, int Y, std::string& Text, TRect& R) {
    if (!ShowHints) return false;
    const TPoint cell = CellAt(X, Y);
    if (cell.X < 0) return false;
    const TColor c = CellColor(cell);
    Text = ColorHintText(c);
    if (OnGetColorHintText) OnGetColorHintText(this, c, cell.X, cell.Y, Text);
    R = CellRect(cell);
    return !Text.empty();
}

void TUxColorButtonPalette::PaintCell(TCanvas* C, TPoint Cell, bool Highlighted) {
    TRect r = CellRect(Cell);
    if (Highlighted) {
        Frame(C, r, cl3DDkShadow);
        r = Shrink(r, 1);
        Frame(C, r, clBtnHighlight);
        r = Shrink(r, 1);
        Frame(C, r, cl3DDkShadow);
        r = Shrink(r, 1);
    } else {
        Frame(C, r, clBtnFace);
        r = Shrink(r, 1);
        Edge(C, r, clBtnShadow, clBtnHighlight);
        r = Shrink(r, 1);
        Edge(C, r, cl3DDkShadow, cl3DLight);
        r = Shrink(r, 1);
    }
    C->Brush()->SetColor(CellColor(Cell));
    C->FillRect(r);
}

void TUxColorButtonPalette::FormPaint(TCanvas* C) {
    const int cw = ClientWidth();
    C->Brush()->SetColor(clBtnFace);
    C->FillRect(Rect(0, 0, cw, ClientHeight()));
    for (int y = 1; y <= 5; ++y)
        for (int x = 1; x <= 4; ++x)
            PaintCell(C, {x, y}, highlight_.X == x && highlight_.Y == y);
    C->Brush()->SetColor(clBtnShadow);
    C->FillRect(Rect(2, 93, cw - 2, 94));
    C->Brush()->SetColor(clBtnHighlight);
    C->FillRect(Rect(2, 94, cw - 2, 95));
    PaintCell(C, {0, 0}, highlight_.Y == 0);
}

void TUxColorButtonPalette::FormMouseMove(int X, int Y) {
    const TPoint cell = CellAt(X, Y);
    if (cell.X >= 0 && (cell.X != highlight_.X || cell.Y != highlight_.Y)) SetHighlight(cell);
}

void TUxColorButtonPalette::FormClick(int X, int Y) { ChooseCell(CellAt(X, Y), false); }

void TUxColorButtonPalette::FormKeyPress(char& Key) {
    if (Key == 13) {
        Key = 0;
        if (highlight_.X >= 0 || highlight_.Y == 0) ChooseCell(highlight_, true);
    } else if (Key == 27) {
        Key = 0;
        closedByKey_ = true;
        Close();
    }
}

void TUxColorButtonPalette::FormKeyDown(uint16_t& Key, TShiftState) { MoveHighlight(Key); }

void TUxColorButtonPalette::ChooseCell(TPoint Cell, bool ByKey) {
    if (Cell.Y < 0 || (Cell.Y > 0 && Cell.X < 1)) return;
    if (Cell.Y == 0) Cell.X = 0;
    const TColor c = CellColor(Cell);
    if (button_) button_->PaletteChosen(Cell.Y == 0, c);
    closedByKey_ = ByKey;
    Close();
}

void TUxColorButtonPalette::btnOtherClick() {
    // Owned by the button: the dialog is kept above the button's form (which may sit above
    // a full-screen show).
    TColorDialog dlg(button_);
    dlg.Color = OtherColor;
    char line[32];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(line, sizeof line, "Color%c=%.8X", 'A' + i, unsigned(custom_.Color(i % 8 + 1, i / 8 + 1)));
        dlg.CustomColors()->Add(line);
    }
    // The popup would take the dialog's clicks: it steps aside while the dialog is up.
    dialogOpen_ = true;
    Widget()->hide();
    const bool ok = dlg.Execute();
    dialogOpen_ = false;
    if (!ok) {
        Widget()->show();
        surface_->SetFocus();
        return;
    }
    OtherColor = dlg.Color;
    for (int i = 0; i < dlg.CustomColors()->Count(); ++i) {
        const std::string l = dlg.CustomColors()->Strings(i);
        const size_t eq = l.find('=');
        if (eq != 6 || l.compare(0, 5, "Color") != 0) continue;
        const int letter = l[5] - 'A';
        if (letter < 0 || letter > 15) continue;
        const std::string v = l.substr(eq + 1, 9);
        TColor value = clWhite;
        if (!v.empty() && v.find_first_of("+- ") == std::string::npos) {
            char* end = nullptr;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 16);
            if (end && *end == 0 && n <= 0xFFFFFFFFull) value = TColor(uint32_t(n));
        }
        custom_.SetColor(letter % 8 + 1, letter / 8 + 1, value);
    }
    if (button_) button_->PaletteChosen(true, OtherColor);
    closedByKey_ = false;
    Close();
}

void TUxColorButtonPalette::FormCloseQuery(TObject*, bool& CanClose) { CanClose = !dialogOpen_; }

void TUxColorButtonPalette::FormClose(TObject*, TCloseAction& Action) {
    Action = caFree;
    if (finished_) return;
    finished_ = true;
    if (!button_) return;
    TPoint m{0, 0};
    bool over = false;
    if (GetCursorPos(&m)) {
        const TPoint b = button_->ClientToScreen({0, 0});
        over = m.X >= b.X && m.X < b.X + button_->Width() && m.Y >= b.Y && m.Y < b.Y + button_->Height();
    }
    button_->PaletteClosed(closedByKey_, over);
}
