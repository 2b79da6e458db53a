// Forms, the screen object and the project's own cursor pictures.
#include "Forms.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "Win32.h"

// ---- Cursor pictures ----

namespace {

// What a named cursor shows; each is drawn on a 32 x 32 picture, black with a white rim.
enum class Glyph { Magnifier, Cross, Eraser, Hand, Pen, MoveAll, MoveVert, MoveHorz, MoveDiag };
enum class Badge { None, Plus, Minus };

}  // namespace

struct TCursorImage {
    const char* name;             // null for a standard cursor
    Qt::CursorShape shape;        // standard cursors
    Glyph glyph;
    Badge badge;
    int variant;                  // small differences between the cross cursors
    int hotX, hotY;
};

namespace {

const TCursorImage kNamed[] = {
    {"ZOOMMENO", Qt::BitmapCursor, Glyph::Magnifier, Badge::Minus, 0, 12, 12},
    {"ZOOMPIU", Qt::BitmapCursor, Glyph::Magnifier, Badge::Plus, 0, 12, 12},
    {"CROCE", Qt::BitmapCursor, Glyph::Cross, Badge::None, 0, 15, 15},
    {"GOMMA", Qt::BitmapCursor, Glyph::Eraser, Badge::None, 0, 6, 26},
    {"MANO", Qt::BitmapCursor, Glyph::Hand, Badge::None, 0, 15, 15},
    {"PENNA", Qt::BitmapCursor, Glyph::Pen, Badge::None, 0, 3, 28},
    {"CROCE1", Qt::BitmapCursor, Glyph::Cross, Badge::None, 1, 15, 15},
    {"CROCE3", Qt::BitmapCursor, Glyph::Cross, Badge::None, 3, 15, 15},
    {"MOVE2", Qt::BitmapCursor, Glyph::MoveDiag, Badge::None, 1, 15, 15},
    {"MOVEY", Qt::BitmapCursor, Glyph::MoveVert, Badge::None, 0, 15, 15},
    {"MOVE1", Qt::BitmapCursor, Glyph::MoveDiag, Badge::None, 0, 15, 15},
    {"MOVEX", Qt::BitmapCursor, Glyph::MoveHorz, Badge::None, 0, 15, 15},
    {"MOVE", Qt::BitmapCursor, Glyph::MoveAll, Badge::None, 0, 15, 15},
    {"CROCE3+", Qt::BitmapCursor, Glyph::Cross, Badge::Plus, 3, 15, 15},
    {"CROCE3-", Qt::BitmapCursor, Glyph::Cross, Badge::Minus, 3, 15, 15},
    {"CROCE2", Qt::BitmapCursor, Glyph::Cross, Badge::None, 2, 15, 15},
    {"CROCE2+", Qt::BitmapCursor, Glyph::Cross, Badge::Plus, 2, 15, 15},
    {"CROCE2-", Qt::BitmapCursor, Glyph::Cross, Badge::Minus, 2, 15, 15},
};

struct StandardCursor {
    TCursor id;
    TCursorImage image;
};

constexpr TCursorImage Std(Qt::CursorShape s) { return {nullptr, s, Glyph::Cross, Badge::None, 0, 0, 0}; }

const StandardCursor kStandard[] = {
    {crDefault, Std(Qt::ArrowCursor)},       {crNone, Std(Qt::BlankCursor)},
    {crArrow, Std(Qt::ArrowCursor)},         {crCross, Std(Qt::CrossCursor)},
    {crIBeam, Std(Qt::IBeamCursor)},         {crSizeNESW, Std(Qt::SizeBDiagCursor)},
    {crSizeNS, Std(Qt::SizeVerCursor)},      {crSizeNWSE, Std(Qt::SizeFDiagCursor)},
    {crSizeWE, Std(Qt::SizeHorCursor)},      {crUpArrow, Std(Qt::UpArrowCursor)},
    {crHourGlass, Std(Qt::WaitCursor)},      {crDrag, Std(Qt::DragMoveCursor)},
    {crNoDrop, Std(Qt::ForbiddenCursor)},    {crHSplit, Std(Qt::SplitHCursor)},
    {crVSplit, Std(Qt::SplitVCursor)},       {crMultiDrag, Std(Qt::DragCopyCursor)},
    {crSQLWait, Std(Qt::WaitCursor)},        {crNo, Std(Qt::ForbiddenCursor)},
    {crAppStart, Std(Qt::BusyCursor)},       {crHelp, Std(Qt::WhatsThisCursor)},
    {crHandPoint, Std(Qt::PointingHandCursor)}, {crSizeAll, Std(Qt::SizeAllCursor)},
};

HCURSOR StandardHandle(TCursor id) {
    for (const StandardCursor& s : kStandard)
        if (s.id == id) return &s.image;
    return nullptr;
}

void Arrow(QPainterPath& path, QPointF tip, QPointF dir) {
    // A small filled head at tip pointing along dir (unit vector).
    QPointF n(-dir.y(), dir.x());
    path.moveTo(tip);
    path.lineTo(tip - dir * 5 + n * 4);
    path.lineTo(tip - dir * 5 - n * 4);
    path.closeSubpath();
}

QPixmap DrawCursor(const TCursorImage& c) {
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainterPath lines, fills;
    switch (c.glyph) {
    case Glyph::Magnifier:
        lines.addEllipse(QPointF(12, 12), 8, 8);
        lines.moveTo(18, 18);
        lines.lineTo(28, 28);
        break;
    case Glyph::Cross: {
        const int gap = c.variant;   // the variants leave a growing hole at the centre
        lines.moveTo(15.5, 2);
        lines.lineTo(15.5, 14 - gap);
        lines.moveTo(15.5, 17 + gap);
        lines.lineTo(15.5, 29);
        lines.moveTo(2, 15.5);
        lines.lineTo(14 - gap, 15.5);
        lines.moveTo(17 + gap, 15.5);
        lines.lineTo(29, 15.5);
        break;
    }
    case Glyph::Eraser:
        fills.addRect(6, 14, 16, 12);
        lines.addRect(6, 14, 16, 12);
        lines.moveTo(6, 14);
        lines.lineTo(14, 6);
        lines.lineTo(30, 6);
        lines.lineTo(22, 14);
        break;
    case Glyph::Hand:
        lines.addRoundedRect(8, 13, 16, 14, 4, 4);
        for (int i = 0; i < 4; ++i) {
            lines.moveTo(10 + 4 * i, 13);
            lines.lineTo(10 + 4 * i, 5 + (i == 0 || i == 3 ? 3 : 0));
        }
        break;
    case Glyph::Pen:
        lines.moveTo(3, 28);
        lines.lineTo(8, 26);
        lines.lineTo(28, 6);
        lines.lineTo(25, 3);
        lines.lineTo(5, 23);
        lines.closeSubpath();
        break;
    case Glyph::MoveAll:
    case Glyph::MoveVert:
    case Glyph::MoveHorz:
    case Glyph::MoveDiag: {
        auto axis = [&](QPointF a, QPointF b) {
            lines.moveTo(a);
            lines.lineTo(b);
            QPointF d = (b - a) / std::hypot(b.x() - a.x(), b.y() - a.y());
            Arrow(fills, b, d);
            Arrow(fills, a, -d);
        };
        if (c.glyph == Glyph::MoveAll || c.glyph == Glyph::MoveVert) axis({15.5, 2}, {15.5, 29});
        if (c.glyph == Glyph::MoveAll || c.glyph == Glyph::MoveHorz) axis({2, 15.5}, {29, 15.5});
        if (c.glyph == Glyph::MoveDiag) {
            if (c.variant == 0)
                axis({5, 5}, {26, 26});
            else
                axis({26, 5}, {5, 26});
        }
        break;
    }
    }
    if (c.badge != Badge::None) {
        const QPointF o = c.glyph == Glyph::Magnifier ? QPointF(12, 12) : QPointF(25, 25);
        lines.moveTo(o.x() - 4, o.y());
        lines.lineTo(o.x() + 4, o.y());
        if (c.badge == Badge::Plus) {
            lines.moveTo(o.x(), o.y() - 4);
            lines.lineTo(o.x(), o.y() + 4);
        }
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 3));
    p.drawPath(lines);
    p.fillPath(fills, Qt::white);
    p.setPen(QPen(Qt::black, 1));
    p.drawPath(lines);
    p.setPen(Qt::NoPen);
    p.fillPath(fills, Qt::black);
    p.end();
    return QPixmap::fromImage(img);
}

}  // namespace

HCURSOR LoadCursorA(void*, const char* Name) {
    if (!Name) return nullptr;
    for (const TCursorImage& c : kNamed)
        if (std::strcmp(c.name, Name) == 0) return &c;
    return nullptr;
}

QCursor CursorOfHandle(HCURSOR Cursor) {
    if (!Cursor) return QCursor(Qt::ArrowCursor);
    if (Cursor->shape != Qt::BitmapCursor) return QCursor(Cursor->shape);
    return QCursor(DrawCursor(*Cursor), Cursor->hotX, Cursor->hotY);
}

QCursor CursorOfId(TCursor Id) { return CursorOfHandle(Screen->Cursors(Id)); }

// ---- Screen ----

namespace {
TScreen g_screen(nullptr);
bool g_overrideCursor = false;
}  // namespace

TScreen* Screen = &g_screen;

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

TScreen::~TScreen() = default;

HCURSOR TScreen::Cursors(TCursor Id) const {
    auto it = cursors_.find(Id);
    if (it != cursors_.end() && it->second) return it->second;
    if (HCURSOR h = StandardHandle(Id)) return h;
    return StandardHandle(crDefault);
}

void TScreen::SetCursors(TCursor Id, HCURSOR Cursor) {
    if (Cursor)
        cursors_[Id] = Cursor;
    else
        cursors_.erase(Id);
}

void TScreen::SetCursor(TCursor Id) {
    cursor_ = Id;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    if (g_overrideCursor) {
        QGuiApplication::restoreOverrideCursor();
        g_overrideCursor = false;
    }
    if (Id != crDefault) {
        QGuiApplication::setOverrideCursor(CursorOfId(Id));
        g_overrideCursor = true;
    }
}

int TScreen::PixelsPerInch() const { return ScreenPixelsPerInch(); }
int TScreen::Width() const { return GetSystemMetrics(SM_CXSCREEN); }
int TScreen::Height() const { return GetSystemMetrics(SM_CYSCREEN); }

// ---- Form ----

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
    TControl::SetVisible(false);
    SetBorderStyle(bsSizeable);
    SetTopLevel();
    SetBounds(0, 0, 320, 240);
}

void TForm::SetTopLevel() {
    MakeTopLevel(BorderStyle(), [this] { Close(); });
    if (Visible()) ApplyWindowState();
}

TForm::~TForm() = default;

void TForm::SetCaption(const std::string& s) {
    caption_ = s;
    Widget()->setWindowTitle(QString::fromStdString(s));
}

void TForm::SetWindowState(TWindowState s) {
    windowState_ = s;
    if (Visible()) ApplyWindowState();
}

void TForm::SetBorderStyle(TBorderStyle Value) {
    TWinControl::SetBorderStyle(Value);
    SetTopLevel();
}

void TForm::ApplyWindowState() {
    QWidget* w = Widget();
    if (ParentWindow() || Parent()) {
        w->show();
        return;
    }
    if (windowState_ == wsMaximized && BorderStyle() == bsNone)
        w->showFullScreen();
    else if (windowState_ == wsMaximized)
        w->showMaximized();
    else if (windowState_ == wsMinimized)
        w->showMinimized();
    else
        w->showNormal();
}

void TForm::SetVisible(bool v) {
    const bool was = Visible();
    TControl::SetVisible(v);
    if (v) {
        ApplyWindowState();
        if (!was && OnShow) OnShow(this);
    } else {
        Widget()->hide();
        if (was && OnHide) OnHide(this);
    }
}

void TForm::Show() { SetVisible(true); }

void TForm::DoClose(TCloseAction& Action) {
    if (OnClose) OnClose(this, Action);
}

void TForm::Close() {
    if (closing_) return;
    closing_ = true;
    TCloseAction action = caHide;
    struct Reset {
        bool& b;
        ~Reset() { b = false; }
    } reset{closing_};
    DoClose(action);
    switch (action) {
    case caNone: break;
    case caHide: Hide(); break;
    case caMinimize: SetWindowState(wsMinimized); break;
    case caFree: {
        Hide();
        // Freed from the event loop, after the caller's handler has returned; nothing
        // happens when the form is freed before that.
        TForm* self = this;
        QTimer::singleShot(0, Widget(), [self] { delete self; });
        break;
    }
    }
}
