#include "UxHTMLText.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QToolTip>
#include <QUrl>

#include <algorithm>
#include <cstring>

#include "AppShell.h"
#include "Forms.h"
#include "ImgList.h"
#include "StdCtrls.h"
#include "UxHTMLMarkup.h"
#include "UxHTMLPaint.h"
#include "Win32.h"

namespace {

constexpr int kBlinkTicks = 5;        // ticks per blink phase
constexpr int kScrollStep = 4;
constexpr int kScrollCorner = 10;
constexpr int kArrowSide = 10;

TShellOpen& ShellOpen() {
    static TShellOpen open;
    return open;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return s.size() >= n && SameText(s.substr(0, n), prefix);
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uxhtml::TQtTextMeasure& Measure() {
    static uxhtml::TQtTextMeasure m;
    return m;
}

void Bevel(QPainter& p, TRect& r, TBevelCut cut, int width, TColor face) {
    if (cut == bvNone) return;
    TColor top = cut == bvLowered ? clBtnShadow : clBtnHighlight;
    TColor bottom = cut == bvLowered ? clBtnHighlight : clBtnShadow;
    if (cut == bvSpace) top = bottom = face;
    for (int i = 0; i < width && r.Width() > 1 && r.Height() > 1; ++i) {
        p.fillRect(r.Left, r.Top, r.Width(), 1, uxhtml::QtColor(top));
        p.fillRect(r.Left, r.Top, 1, r.Height(), uxhtml::QtColor(top));
        p.fillRect(r.Left, r.Bottom - 1, r.Width(), 1, uxhtml::QtColor(bottom));
        p.fillRect(r.Right - 1, r.Top, 1, r.Height(), uxhtml::QtColor(bottom));
        r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
    }
}

}  // namespace

bool IsShellLink(const std::string& Target) {
    const std::string t = Trim(Target);
    return StartsWithNoCase(t, "http://") || StartsWithNoCase(t, "https://") || StartsWithNoCase(t, "ftp://") ||
           StartsWithNoCase(t, "mailto:");
}

void SetShellOpen(TShellOpen Open) { ShellOpen() = std::move(Open); }

// The pictures the markup names: image list, file icons, the container, the URL cache.
class TUxHTMLText::ImageFinder : public uxhtml::IHTMLImages {
public:
    explicit ImageFinder(TUxHTMLText* Owner) : o_(Owner) {}
    bool Find(const std::string& Src, uxhtml::THTMLImage& Image) override {
        using uxhtml::THTMLImage;
        if (StartsWithNoCase(Src, "IDX:")) {
            const int i = StrToIntDef(Trim(Src.substr(4)), -1);
            if (!o_->images_ || !o_->images_->Bitmap(i)) return false;
            Image.Source = THTMLImage::ListImage;
            Image.List = o_->images_;
            Image.Index = i;
            Image.Width = o_->images_->Width();
            Image.Height = o_->images_->Height();
            return true;
        }
        const bool small = StartsWithNoCase(Src, "SSYS:"), large = StartsWithNoCase(Src, "LSYS:");
        if (small || large) {
            const std::string path = Src.substr(5);
            // An icon index of the old system image list has nothing to name here.
            if (path.empty() || AllDigits(path)) return false;
            Image.Source = THTMLImage::FileIcon;
            Image.Path = path;
            Image.Large = large;
            Image.Width = Image.Height = large ? 32 : 16;
            return true;
        }
        TUxHTMLPicture* pic = nullptr;
        if (Src.find("://") != std::string::npos) {
            // Loaded into the cache on first use, within its bounds.
            pic = o_->cache_.PictureFor(Src);
        } else if (Src.find(':') == std::string::npos && o_->pictures_) {
            pic = o_->pictures_->FindPicture(Src);
        }
        if (!pic || pic->Empty() || pic->Width() <= 0 || pic->Height() <= 0) return false;
        Image.Source = THTMLImage::Picture;
        Image.Pic = pic;
        Image.Width = pic->Width();
        Image.Height = pic->Height();
        return true;
    }

private:
    TUxHTMLText* o_;
};

TUxHTMLText::TUxHTMLText(TComponent* AOwner) : TCustomControl(AOwner), finder_(std::make_unique<ImageFinder>(this)) {
    SetBounds(0, 0, 100, 20);
    TabStop = true;
    // The label takes the focus for its anchors (clicked or tabbed to).
    ClientWidget()->setFocusPolicy(Qt::StrongFocus);
    const QFont desktop = QApplication::font();
    font_.SetName(desktop.family().toStdString());
    font_.SetSize(desktop.pointSize() > 0 ? desktop.pointSize() : 9);
    font_.OnChange = TNotifyEvent(this, &TUxHTMLText::FontChangedEvent);
    timer_ = std::make_unique<TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetInterval(100);
    timer_->OnTimer = TNotifyEvent(this, &TUxHTMLText::TimerEvent);
}

TUxHTMLText::~TUxHTMLText() {
    timer_.reset();
    if (images_) images_->RemoveFreeNotification(this);
    if (pictures_) pictures_->RemoveFreeNotification(this);
}

void TUxHTMLText::FontChangedEvent(TObject*) { Changed(); }
void TUxHTMLText::TimerEvent(TObject*) { TimerTick(); }

void TUxHTMLText::SetUxHTMLText(const std::string& Text) {
    lines_.SetText(Text);
    // The lines joined as the class library's Text has them: every line ended by a break.
    std::string joined;
    for (int i = 0; i < lines_.Count(); ++i) joined += lines_[i] + "\r\n";
    prepared_ = uxhtml::PrepareMarkup(joined);
    selected_ = hoverAnchor_ = entered_ = pressed_ = -1;
    scrollPos_ = 0;
    if (handCursor_) {
        handCursor_ = false;
        SetCursor(crDefault);
    }
    Changed();
}

void TUxHTMLText::Changed() {
    layoutValid_ = false;
    AdjustSize();
    Invalidate();
}

void TUxHTMLText::SetAutoSizing(bool v) {
    autoSizing_ = v;
    Changed();
}

void TUxHTMLText::SetAutoSizeType(TAutoSizeType v) {
    autoSizeType_ = v;
    Changed();
}

void TUxHTMLText::SetMiniScroll(bool v) {
    miniScroll_ = v;
    if (v) vAlignment_ = tvaTop;
    scrollPos_ = 0;
    Changed();
}

void TUxHTMLText::SetVAlignment(TTextVAlignment v) {
    vAlignment_ = v;
    if (v != tvaTop) miniScroll_ = false;
    scrollPos_ = 0;
    Changed();
}

void TUxHTMLText::SetEnableBlink(bool v) {
    enableBlink_ = v;
    UpdateTimer();
    Changed();
}

void TUxHTMLText::UpdateTimer() { timer_->SetEnabled(enableBlink_ || scrollHeld_ || (autoScroll_ && miniScroll_)); }

void TUxHTMLText::SetImages(TImageList* v) {
    if (images_) images_->RemoveFreeNotification(this);
    images_ = v;
    if (v) v->FreeNotification(this);
    Changed();
}

void TUxHTMLText::SetUxPictures(TUxPictureContainer* v) {
    if (pictures_) pictures_->RemoveFreeNotification(this);
    pictures_ = v;
    if (v) v->FreeNotification(this);
    Changed();
}

void TUxHTMLText::Notification(TComponent* AComponent, TOperation Operation) {
    TCustomControl::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    // The layout may point into what goes away.
    if (AComponent == images_) {
        images_ = nullptr;
        layoutValid_ = false;
    }
    if (AComponent == pictures_) {
        pictures_ = nullptr;
        layoutValid_ = false;
    }
}

TRect TUxHTMLText::TextArea() const {
    TRect r = ClientRect();
    int inset = 0;
    if (bevelOuter_ != bvNone) inset += bevelWidth_;
    if (BorderStyle() == bsSingle) inset += borderLineWidth_;
    if (bevelInner_ != bvNone) inset += bevelWidth_;
    return Rect(r.Left + inset, r.Top + inset, r.Right - inset, r.Bottom - inset);
}

uxhtml::TLayoutParams TUxHTMLText::Params(const TRect& Area) const {
    uxhtml::TLayoutParams p;
    p.Area = Area;
    p.Font.Name = font_.Name();
    p.Font.Size = font_.Size();
    p.Font.Style = font_.Style();
    p.FontColor = font_.Color();
    p.Background = Color();
    p.URLColor = urlColor_;
    p.Hover = hover_;
    p.HoverAnchor = hoverAnchor_;
    p.HoverColor = hoverColor_;
    p.HoverFontColor = hoverFontColor_;
    p.ShadowColor = shadowColor_;
    p.ShadowOffset = shadowOffset_;
    p.BlinkOn = !enableBlink_ || (ticks_ / kBlinkTicks) % 2 == 0;
    p.Enabled = Enabled();
    p.Ellipsis = ellipsis_;
    p.PixelsPerInch = ScreenPixelsPerInch();
    return p;
}

uxhtml::TLayout TUxHTMLText::LayOut(const TRect& Area) {
    uxhtml::TLayout l = uxhtml::LayoutHTML(prepared_, Params(Area), Measure(), finder_.get());
    int dy = 0;
    if (vAlignment_ != tvaTop && l.Height < Area.Height())
        dy = vAlignment_ == tvaCenter ? (Area.Height() - l.Height) / 2 : Area.Height() - l.Height;
    if (miniScroll_) dy = -scrollPos_;
    if (dy != 0) {
        for (auto& it : l.Items)
            if (it.Kind != uxhtml::TItemKind::Tile && !(it.Kind == uxhtml::TItemKind::Fill && it.R == Area)) {
                it.R.Top += dy;
                it.R.Bottom += dy;
            }
        for (auto& b : l.Boxes) {
            b.R.Top += dy;
            b.R.Bottom += dy;
        }
    }
    return l;
}

const uxhtml::TLayout& TUxHTMLText::Layout() {
    if (!layoutValid_) {
        layout_ = LayOut(TextArea());
        layoutValid_ = true;
    }
    return layout_;
}

bool TUxHTMLText::RenderHtmlText(const TRect& Area, TPoint Probe, std::string& Anchor, TSize& Extent) {
    const uxhtml::TLayout l = LayOut(Area);
    const int a = l.AnchorAt(Probe);
    Anchor = a >= 0 ? l.Anchors[size_t(a)] : "";
    Extent = TSize{l.Width, l.Height};
    return l.Cut;
}

void TUxHTMLText::AdjustSize() {
    if (!autoSizing_) return;
    const TRect area = TextArea();
    const uxhtml::TLayout l = uxhtml::LayoutHTML(prepared_, Params(area), Measure(), finder_.get());
    const int insetW = Width() - area.Width(), insetH = Height() - area.Height();
    int w = Width(), h = Height();
    if (autoSizeType_ != asVertical) w = l.Width + insetW;
    if (autoSizeType_ != asHorizontal) h = l.Height + insetH;
    if (w != Width() || h != Height()) SetBounds(Left(), Top(), w, h);
}

void TUxHTMLText::SetEnabled(bool v) {
    TCustomControl::SetEnabled(v);
    Changed();
}

void TUxHTMLText::SetColor(TColor c) {
    TCustomControl::SetColor(c);
    Changed();
}

void TUxHTMLText::SetBorderStyle(TBorderStyle Value) {
    TCustomControl::SetBorderStyle(Value);
    Changed();
}

void TUxHTMLText::Resize() {
    layoutValid_ = false;
    TCustomControl::Resize();
}

bool TUxHTMLText::TextTaller() { return Layout().Height > TextArea().Height(); }

void TUxHTMLText::Paint() {
    const int w = ClientWidth(), h = ClientHeight();
    if (w <= 0 || h <= 0) return;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w, h, uxhtml::QtColor(Color()));
    TRect r = ClientRect();
    Bevel(p, r, bevelOuter_, bevelWidth_, Color());
    if (BorderStyle() == bsSingle)
        for (int i = 0; i < borderLineWidth_ && r.Width() > 1 && r.Height() > 1; ++i) {
            p.setPen(Qt::black);
            p.drawRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1);
            r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
        }
    Bevel(p, r, bevelInner_, bevelWidth_, Color());
    // The layout is kept until something it depends on changes.
    r = TextArea();
    uxhtml::PaintLayout(p, Layout(), r, Measure());
    if (Focused() && selected_ >= 0) {
        QPen pen(uxhtml::QtColor(font_.Color()), 1, Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        for (const auto& b : layout_.Boxes)
            if (b.Anchor == selected_) p.drawRect(b.R.Left, b.R.Top, b.R.Width() - 1, b.R.Height() - 1);
    }
    if (miniScroll_ && layout_.Height > r.Height()) {
        // Flat arrows in the top and bottom right corners.
        p.setPen(Qt::NoPen);
        p.setBrush(uxhtml::QtColor(clBtnText));
        const int x = r.Right - kArrowSide;
        const QPolygon up({QPoint(x, r.Top + 6), QPoint(x + 8, r.Top + 6), QPoint(x + 4, r.Top + 2)});
        const QPolygon down({QPoint(x, r.Bottom - 6), QPoint(x + 8, r.Bottom - 6), QPoint(x + 4, r.Bottom - 2)});
        p.drawPolygon(up);
        p.drawPolygon(down);
    }
    p.end();
    TBitmap* s = Surface();
    if (s->PixelFormat() != pf32bit || s->Width() != w || s->Height() != h) return;
    s->FlushCanvas();
    const TRect clip = Canvas()->ClipRect();
    for (int y = std::max(0, clip.Top); y < std::min(h, clip.Bottom); ++y) {
        const int x0 = std::max(0, clip.Left), x1 = std::min(w, clip.Right);
        if (x1 > x0) std::memcpy(s->ScanLine(y) + 4 * x0, img.constScanLine(y) + 4 * x0, size_t(x1 - x0) * 4);
    }
}

std::string TUxHTMLText::AnchorTarget(int Index) {
    const auto& a = Layout().Anchors;
    return Index >= 0 && Index < int(a.size()) ? a[size_t(Index)] : "";
}

void TUxHTMLText::SelectAnchor(int Index) {
    const int n = int(Layout().Anchors.size());
    selected_ = Index >= 0 && Index < n ? Index : -1;
    Invalidate();
}

void TUxHTMLText::OpenAnchor(int Index, bool FromKey) {
    const std::string target = AnchorTarget(Index);
    if (Index < 0) return;
    if (IsShellLink(target)) {
        if (ShellOpen()) ShellOpen()(Trim(target));
        else QDesktopServices::openUrl(QUrl(QString::fromStdString(Trim(target)), QUrl::TolerantMode));
        return;
    }
    const TAnchorClick& e = FromKey ? OnAnchorKeypress : OnAnchorClick;
    if (e) e(this, target);
}

void TUxHTMLText::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft) return;
    if (CanFocus()) SetFocus();
    pressed_ = Layout().AnchorAt(Point(X, Y));
    if (miniScroll_ && TextTaller()) {
        const TRect a = TextArea();
        if (X >= a.Right - kScrollCorner && Y < a.Top + kScrollCorner) scrollDir_ = -1;
        else if (X >= a.Right - kScrollCorner && Y >= a.Bottom - kScrollCorner) scrollDir_ = 1;
        else return;
        scrollHeld_ = true;
        Scroll(scrollDir_ * kScrollStep);
        UpdateTimer();
    }
}

void TUxHTMLText::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomControl::MouseUp(Button, Shift, X, Y);
    if (Button != mbLeft) return;
    if (scrollHeld_) {
        scrollHeld_ = false;
        UpdateTimer();
    }
    const int a = Layout().AnchorAt(Point(X, Y));
    const int was = pressed_;
    pressed_ = -1;
    if (a >= 0 && a == was) OpenAnchor(a, false);
}

void TUxHTMLText::MouseMove(TShiftState Shift, int X, int Y) {
    TCustomControl::MouseMove(Shift, X, Y);
    const uxhtml::TAnchorBox* box = Layout().BoxAt(Point(X, Y));
    if (box) {
        const int a = box->Anchor;
        if (a != entered_ || !handCursor_) {
            handCursor_ = true;
            SetCursor(crHandPoint);
            if (AnchorHint) QToolTip::hideText();
            entered_ = a;
            if (OnAnchorEnter) OnAnchorEnter(this, AnchorTarget(a));
            if (hover_) {
                hoverAnchor_ = a;
                layoutValid_ = false;
                Invalidate();
            }
        }
        if (selected_ >= 0) {
            selected_ = -1;
            Invalidate();
        }
        if (AnchorHint && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            const QPoint at = QCursor::pos() + QPoint(10, -10);
            QToolTip::showText(at, QString::fromStdString(box->Hint), ClientWidget());
        }
        return;
    }
    if (handCursor_) {
        handCursor_ = false;
        SetCursor(crDefault);
        if (AnchorHint) QToolTip::hideText();
        const int was = entered_;
        entered_ = -1;
        if (hoverAnchor_ >= 0) {
            hoverAnchor_ = -1;
            layoutValid_ = false;
            Invalidate();
        }
        if (OnAnchorExit) OnAnchorExit(this, AnchorTarget(was));
    }
}

void TUxHTMLText::MouseLeave() {
    TCustomControl::MouseLeave();
    if (hoverAnchor_ >= 0) {
        hoverAnchor_ = -1;
        layoutValid_ = false;
        Invalidate();
    }
    entered_ = -1;
    if (handCursor_) {
        handCursor_ = false;
        SetCursor(crDefault);
    }
    if (OnMouseLeave) OnMouseLeave(this);
}

void TUxHTMLText::KeyDown(uint16_t& Key, TShiftState Shift) {
    TCustomControl::KeyDown(Key, Shift);
    const int n = int(Layout().Anchors.size());
    switch (Key) {
    case VK_LEFT:
    case VK_UP:
        if (n > 0) SelectAnchor(selected_ <= 0 ? n - 1 : selected_ - 1);
        Key = 0;
        break;
    case VK_RIGHT:
    case VK_DOWN:
        if (n > 0) SelectAnchor(selected_ < 0 || selected_ >= n - 1 ? 0 : selected_ + 1);
        Key = 0;
        break;
    case VK_RETURN:
    case VK_SPACE:
        if (selected_ >= 0) {
            Key = 0;
            OpenAnchor(selected_, true);
        }
        break;
    default: break;
    }
}

void TUxHTMLText::DoEnter() {
    TCustomControl::DoEnter();
    if (selected_ < 0 && !Layout().Anchors.empty()) selected_ = 0;
    Invalidate();
}

void TUxHTMLText::DoExit() {
    TCustomControl::DoExit();
    Invalidate();
}

void TUxHTMLText::Scroll(int Delta) {
    const int most = std::max(0, Layout().Height - TextArea().Height());
    const int pos = std::clamp(scrollPos_ + Delta, 0, most);
    if (pos == scrollPos_) return;
    scrollPos_ = pos;
    layoutValid_ = false;
    Invalidate();
}

void TUxHTMLText::TimerTick() {
    ++ticks_;
    bool repaint = enableBlink_ && ticks_ % kBlinkTicks == 0;
    repaint |= cache_.AnimationTick();
    if (pictures_) repaint |= pictures_->AnimationTick();
    if (miniScroll_ && (scrollHeld_ || autoScroll_) && TextTaller()) Scroll((scrollDir_ == 0 ? 1 : scrollDir_) * kScrollStep);
    if (repaint) {
        layoutValid_ = false;
        Invalidate();
    }
}
