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
#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMenuBar>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "AppShell.h"
#include "Dialogs.h"
#include "StdCtrls.h"
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
    ApplyWindowFlags();
    ApplySizeRules();
    if (Visible()) ApplyWindowState();
}

TForm::~TForm() {
    // A handler that is a member of the derived form runs from its destructor (DoDestroy);
    // when that part is gone without it (its constructor failed), the handler cannot run.
    if (!destroyed_ && OnDestroy && OnDestroy.Data() == static_cast<void*>(this)) destroyed_ = true;
    DoDestroy();
    if (modalLoop_) modalLoop_->quit();
    delete menu_;
    menu_ = nullptr;
}

void TForm::DoDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (OnDestroy) OnDestroy(this);
}

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

void TForm::SetBorderIcons(TBorderIcons Icons) {
    borderIcons_ = Icons;
    ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
    if (Parent() || ParentWindow()) return;
    QWidget* w = Widget();
    const bool wasVisible = w->isVisible();
    Qt::WindowFlags f = w->windowFlags() & Qt::WindowType_Mask;
    if (BorderStyle() == bsNone) f |= Qt::FramelessWindowHint;
    else {
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        const bool sizeable = BorderStyle() == bsSizeable || BorderStyle() == bsSizeToolWin;
        const bool dialog = BorderStyle() == bsDialog || BorderStyle() == bsToolWindow || BorderStyle() == bsSizeToolWin;
        if (borderIcons_ & biSystemMenu) {
            f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            if (!dialog && (borderIcons_ & biMinimize)) f |= Qt::WindowMinimizeButtonHint;
            if (!dialog && sizeable && !fixedSize_ && (borderIcons_ & biMaximize)) f |= Qt::WindowMaximizeButtonHint;
            if (borderIcons_ & biHelp) f |= Qt::WindowContextHelpButtonHint;
        }
    }
    if (f == w->windowFlags()) return;
    w->setWindowFlags(f);
    if (wasVisible) w->show();
}

namespace {

// A window is never larger than its screen (0: no screen to tell).
QSize ScreenLimit(const QWidget* W) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {};
    QScreen* s = W->screen();
    if (!s) s = QGuiApplication::primaryScreen();
    return s ? s->geometry().size() : QSize();
}

int Limited(int Value, int Limit) { return Limit > 0 ? std::min(Value, Limit) : Value; }

}  // namespace

void TForm::SetSizeLimits(int MinWidth, int MinHeight, int MaxWidth, int MaxHeight) {
    const QSize screen = Parent() || ParentWindow() ? QSize() : ScreenLimit(Widget());
    minW_ = Limited(std::max(MinWidth, 0), screen.width());
    minH_ = Limited(std::max(MinHeight, 0), screen.height());
    maxW_ = std::max(MaxWidth, 0);
    maxH_ = std::max(MaxHeight, 0);
    ApplySizeRules();
}

void TForm::SetFixedSize(bool Fixed) {
    fixedSize_ = Fixed;
    ApplySizeRules();
    ApplyWindowFlags();
}

void TForm::ApplySizeRules() {
    QWidget* w = Widget();
    if (Parent() || ParentWindow()) {
        w->setMinimumSize(0, 0);
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return;
    }
    const bool sizeable = (BorderStyle() == bsSizeable || BorderStyle() == bsSizeToolWin) && !fixedSize_;
    if (!sizeable && BorderStyle() != bsNone) {
        w->setFixedSize(Width(), Height());
        return;
    }
    w->setMinimumSize(minW_, minH_);
    w->setMaximumSize(maxW_ > 0 ? maxW_ : QWIDGETSIZE_MAX, maxH_ > 0 ? maxH_ : QWIDGETSIZE_MAX);
}

void TForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    QWidget* w = Widget();
    // The program may always size the window, within its screen; the rules come back
    // afterwards.
    if (!Parent() && !ParentWindow()) {
        const QSize screen = ScreenLimit(w);
        AWidth = Limited(AWidth, screen.width());
        AHeight = Limited(AHeight, screen.height());
    }
    w->setMinimumSize(0, 0);
    w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    ApplySizeRules();
}

void TForm::SetClientSize(int W, int H) {
    // Summed in 64 bits: any client size asked for gives a sane window size.
    auto outer = [](int Frame, int Client) {
        return int(std::min<int64_t>(int64_t(Frame) + std::max(Client, 0), INT32_MAX));
    };
    SetBounds(Left(), Top(), outer(Width() - ClientWidth(), W), outer(Height() - ClientHeight(), H));
}

namespace {

// The window manager's frame around a top-level window: Qt's own figure once it has one, else
// the frame extents the manager put on the window (set before it maps the window; Qt reads
// them only later). None without a manager.
QMargins FrameOf(QWidget* W) {
    const QRect g = W->geometry(), f = W->frameGeometry();
    if (f != g) return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !W->testAttribute(Qt::WA_WState_Created)) return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return {};
    static const char kName[] = "_NET_FRAME_EXTENTS";
    xcb_intern_atom_reply_t* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr);
    const xcb_atom_t atom = a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(a);
    if (atom == XCB_ATOM_NONE) return {};
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, xcb_window_t(W->winId()), atom, XCB_ATOM_CARDINAL, 0, 4), nullptr);
    QMargins m;
    if (r && r->format == 32 && xcb_get_property_value_length(r) == 16) {
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
        // left, right, top, bottom; a frame of a screen's size is no frame.
        if (v[0] < 4096 && v[1] < 4096 && v[2] < 4096 && v[3] < 4096) m = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
    }
    std::free(r);
    return m;
}

// The available area of the screen a rectangle overlaps most (the primary one when none).
QRect WorkAreaFor(const QRect& R) {
    QScreen* best = QGuiApplication::primaryScreen();
    int64_t bestArea = 0;
    for (QScreen* s : QGuiApplication::screens()) {
        const QRect i = s->availableGeometry().intersected(R);
        const int64_t a = int64_t(i.width()) * i.height();
        if (!i.isEmpty() && a > bestArea) best = s, bestArea = a;
    }
    return best ? best->availableGeometry() : QRect();
}

// Runs the form's frame fit once, when the window is first painted on the screen.
class TFirstPaintWatch : public QObject {
public:
    TFirstPaintWatch(QWidget* W, std::function<void()> Then) : QObject(W), then_(std::move(Then)) { W->installEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        const bool painting =
            e->type() == QEvent::UpdateRequest || e->type() == QEvent::Paint || e->type() == QEvent::WindowActivate;
        // Exposed: a window manager has framed and mapped it, so its frame extents are there.
        QWindow* win = static_cast<QWidget*>(o)->windowHandle();
        if (painting && win && win->isExposed()) {
            o->removeEventFilter(this);
            auto then = std::move(then_);
            deleteLater();
            if (then) then();
        }
        return false;
    }

private:
    std::function<void()> then_;
};

}  // namespace

void TForm::SetBoundsInWorkArea(int ALeft, int ATop, int AWidth, int AHeight) {
    SetBounds(ALeft, ATop, AWidth, AHeight);
    if (Parent() || ParentWindow() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    FitFrameIntoWorkArea();
    QWidget* w = Widget();
    const bool up = w->isVisible() && w->testAttribute(Qt::WA_Mapped);
    if (!up && !fitFrameWhenPainted_) {
        fitFrameWhenPainted_ = true;
        new TFirstPaintWatch(w, [this] {
            fitFrameWhenPainted_ = false;
            FitFrameIntoWorkArea();
        });
    }
}

void TForm::FitFrameIntoWorkArea() {
    QWidget* w = Widget();
    const QMargins m = w->isVisible() ? FrameOf(w) : QMargins();
    const QRect client = w->geometry();
    const QRect frame = client.marginsAdded(m);
    const QRect a = WorkAreaFor(frame);
    if (a.isEmpty()) return;
    const int fw = std::min(frame.width(), a.width()), fh = std::min(frame.height(), a.height());
    const int fx = std::clamp(frame.x(), a.left(), a.left() + a.width() - fw);
    const int fy = std::clamp(frame.y(), a.top(), a.top() + a.height() - fh);
    const QRect fitted(fx + m.left(), fy + m.top(), fw - m.left() - m.right(), fh - m.top() - m.bottom());
    if (fitted == client) return;
    TestLog("fit into work area " + std::to_string(fitted.x()) + "," + std::to_string(fitted.y()) + " " +
            std::to_string(fitted.width()) + "x" + std::to_string(fitted.height()));
    // The frame fit may shrink below the window's own minimum size: the screen wins.
    SetBounds(fitted.x(), fitted.y(), fitted.width(), fitted.height());
    if (w->width() > fitted.width() || w->height() > fitted.height()) {
        w->setMinimumSize(std::min(w->minimumWidth(), fitted.width()), std::min(w->minimumHeight(), fitted.height()));
        w->resize(std::min(w->width(), fitted.width()), std::min(w->height(), fitted.height()));
    }
}

void TForm::SetMenu(QMenuBar* Menu) {
    if (Menu == menu_) return;
    const int cw = ClientWidth(), ch = ClientHeight();
    delete menu_;
    menu_ = Menu;
    if (menu_) {
        menu_->setParent(Widget());
        menu_->show();
    }
    // The client area keeps its size; the window grows by the menu.
    SetClientSize(cw, ch);
}

QWidget* TForm::MenuWidget() const { return menu_; }

bool TForm::Showing() const { return Widget()->isVisible(); }

void TForm::PlaceForShow() {
    if (Parent() || ParentWindow()) return;
    QRect area;
    QWidget* around = nullptr;
    if (position_ == poMainFormCenter || position_ == poOwnerFormCenter) {
        if (position_ == poOwnerFormCenter) {
            if (auto* f = dynamic_cast<TForm*>(Owner()); f && f != this && f->Widget()->isVisible()) around = f->Widget();
        } else if (Application && Application->MainForm() && Application->MainForm() != Widget() &&
                   Application->MainForm()->isVisible()) {
            around = Application->MainForm();
        }
    }
    if (around) {
        area = around->geometry();
    } else if (position_ == poScreenCenter || position_ == poDesktopCenter || position_ == poMainFormCenter ||
               position_ == poOwnerFormCenter) {
        QScreen* sc = QGuiApplication::primaryScreen();
        if (!sc) return;
        area = sc->availableGeometry();
    } else {
        return;
    }
    SetBounds(area.x() + (area.width() - Width()) / 2, area.y() + (area.height() - Height()) / 2, Width(), Height());
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
        // OnShow first, as the class library does it: the window appears as it leaves it.
        if (!was) {
            // Texts set since the controls were placed, and the font the window gets now.
            FitControls(Widget());
            PlaceForShow();
            if (OnShow) OnShow(this);
        }
        if (Visible()) ApplyWindowState();
    } else {
        Widget()->hide();
        if (was && OnHide) OnHide(this);
        if (modalLoop_) modalLoop_->quit();
    }
}

void TForm::Show() { SetVisible(true); }

void TForm::DoClose(TCloseAction& Action) {
    if (OnClose) OnClose(this, Action);
}

bool TForm::CloseQuery() {
    bool can = true;
    if (OnCloseQuery) OnCloseQuery(this, can);
    return can;
}

void TForm::SetModalResult(TModalResult r) {
    modalResult_ = r;
    if (r != mrNone && modalLoop_) modalLoop_->quit();
}

int TForm::ShowModal() {
    if (Visible() || modalLoop_) throw EInvalidOperation("Cannot make a visible window modal");
    // The window the keyboard goes back to when the form is gone.
    const QPointer<QWidget> before = QApplication::activeWindow();
    QEventLoop loop;
    modalLoop_ = &loop;
    modalResult_ = mrNone;
    QPointer<QWidget> window = Widget();
    window->setWindowModality(Qt::ApplicationModal);
    struct Leave {
        TForm* f;
        QPointer<QWidget> w;
        ~Leave() {
            if (!w) return;
            f->modalLoop_ = nullptr;
            w->setWindowModality(Qt::NonModal);
        }
    } leave{this, window};
    Show();
    NotifyModalForm(this);
    for (;;) {
        if (modalResult_ == mrNone && Visible() && !(Application && Application->Terminated())) loop.exec();
        if (!window) return mrCancel;   // freed by a handler
        if (Application && Application->Terminated()) modalResult_ = mrCancel;
        if (modalResult_ == mrNone) {
            if (Visible()) continue;
            modalResult_ = mrCancel;   // hidden by someone
        }
        TCloseAction action = caHide;
        if (!CloseQuery()) action = caNone;
        else DoClose(action);
        if (action == caNone && Visible() && !(Application && Application->Terminated())) {
            modalResult_ = mrNone;
            continue;
        }
        break;
    }
    const TModalResult r = modalResult_;
    Hide();
    if (before != window) ReturnFocus(before);
    return r;
}

void TForm::Close() {
    if (closing_) return;
    if (modalLoop_) {
        // A modal form ends its loop as Cancel; the loop asks OnCloseQuery and OnClose.
        SetModalResult(mrCancel);
        return;
    }
    closing_ = true;
    struct Reset {
        bool& b;
        ~Reset() { b = false; }
    } reset{closing_};
    if (!CloseQuery()) return;
    TCloseAction action = caHide;
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

namespace {

QAbstractButton* MarkedButton(QWidget* root, const char* mark) {
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->property(mark).toBool() && b->isVisible() && b->isEnabled()) return b;
    return nullptr;
}

}  // namespace

bool TForm::DialogKey(uint16_t Key) {
    QAbstractButton* b = MarkedButton(Widget(), Key == VK_RETURN ? kDefaultMark : kCancelMark);
    if (!b) return false;
    b->click();
    return true;
}

std::string TForm::ActiveControlName() const {
    for (QWidget* w = Widget()->focusWidget(); w && w != Widget(); w = w->parentWidget()) {
        if (TWinControl* c = ControlOfWidget(w); c && (c->Widget() == w || c->ClientWidget() == w)) return c->Name();
        // Inner parts of a Qt widget (the edit of a spin box) carry Qt's own names.
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            return w->objectName().toStdString();
    }
    return "";
}

bool TForm::FocusControl(const std::string& Name) {
    if (Name.empty()) return false;
    if (TControl* c = FindControl(this, Name)) {
        auto* w = dynamic_cast<TWinControl*>(c);
        if (!w || !w->CanFocus()) return false;
        w->SetFocus();
        return true;
    }
    QWidget* w = qobject_cast<QWidget*>(FindChildObject(this, Name));
    if (!w || !w->isEnabled() || w->focusPolicy() == Qt::NoFocus) return false;
    w->setFocus(Qt::OtherFocusReason);
    return true;
}

TControl* FindControl(TWinControl* Root, const std::string& Name) {
    if (!Root || Name.empty()) return nullptr;
    for (int i = 0; i < Root->ControlCount(); ++i) {
        TControl* c = Root->Controls(i);
        if (SameText(c->Name(), Name)) return c;
        if (auto* w = dynamic_cast<TWinControl*>(c))
            if (TControl* found = FindControl(w, Name)) return found;
    }
    return nullptr;
}

QObject* FindChildObject(TWinControl* Root, const std::string& Name) {
    if (!Root || Name.empty()) return nullptr;
    const QString n = QString::fromStdString(Name);
    QList<QObject*> all = Root->Widget()->findChildren<QObject*>();
    for (QObject* o : all)
        if (o->objectName().compare(n, Qt::CaseInsensitive) == 0) return o;
    return nullptr;
}
