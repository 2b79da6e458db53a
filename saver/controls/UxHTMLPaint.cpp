#include "UxHTMLPaint.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <tuple>

#include "ImgList.h"
#include "StdCtrls.h"
#include "UxPictures.h"
#include "UxPicturesDecoder.h"

namespace uxhtml {

QFont QtFont(const TFontSpec& Font) {
    QFont f(QString::fromStdString(Font.Name));
    f.setPointSize(std::max(1, Font.Size));
    f.setBold((Font.Style & fsBold) != 0);
    f.setItalic((Font.Style & fsItalic) != 0);
    f.setUnderline((Font.Style & fsUnderline) != 0);
    f.setStrikeOut((Font.Style & fsStrikeOut) != 0);
    return f;
}

QColor QtColor(TColor Color) {
    const TColor c = ColorToRGB(Color);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

bool TQtTextMeasure::Key::operator<(const Key& o) const {
    return std::tie(font.Name, font.Size, font.Style) < std::tie(o.font.Name, o.font.Size, o.font.Style);
}

TQtTextMeasure::TQtTextMeasure() = default;
TQtTextMeasure::~TQtTextMeasure() = default;

const QFontMetrics& TQtTextMeasure::Metrics(const TFontSpec& Font) {
    auto& m = metrics_[Key{Font}];
    if (!m) m = std::make_unique<QFontMetrics>(QtFont(Font));
    return *m;
}

int TQtTextMeasure::TextWidth(const TFontSpec& Font, const std::string& Text) {
    return Metrics(Font).horizontalAdvance(QString::fromStdString(Text));
}

int TQtTextMeasure::TextHeight(const TFontSpec& Font) { return Metrics(Font).height(); }

namespace {

QRect QtRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

size_t Utf8Length(const std::string& s, size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    return std::min(n, s.size() - at);
}

QImage ImageOf(const THTMLImage& img) {
    switch (img.Source) {
    case THTMLImage::Picture:
        if (img.Pic && img.Pic->Decoder()) return img.Pic->Decoder()->image;
        return QImage();
    case THTMLImage::ListImage:
        return img.List ? ImageOfBitmap(img.List->Bitmap(img.Index)) : QImage();
    case THTMLImage::FileIcon: {
        const int side = img.Large ? 32 : 16;
        const QIcon icon = QFileIconProvider().icon(QFileInfo(QString::fromStdString(img.Path)));
        return icon.isNull() ? QImage() : icon.pixmap(side, side).toImage();
    }
    case THTMLImage::None: break;
    }
    return QImage();
}

void DrawText(QPainter& p, const TDisplayItem& it, const TRect& clip, TQtTextMeasure& m) {
    const QFontMetrics& fm = m.Metrics(it.Font);
    QString text = QString::fromStdString(it.Text);
    if (it.Ellipsis) text = fm.elidedText(text, Qt::ElideRight, std::max(0, clip.Right - it.R.Left));
    p.save();
    p.setFont(QtFont(it.Font));
    p.setPen(QtColor(it.Color));
    p.translate(it.R.Left, it.R.Top);
    if (it.Angle != 0) p.rotate(-it.Angle);
    p.drawText(0, fm.ascent(), text);
    // The prefix rule's underlines.
    for (size_t at : it.Underlined) {
        if (at >= it.Text.size() || it.Ellipsis) continue;
        const int x0 = fm.horizontalAdvance(QString::fromStdString(it.Text.substr(0, at)));
        const int x1 = fm.horizontalAdvance(QString::fromStdString(it.Text.substr(0, at + Utf8Length(it.Text, at))));
        const int y = fm.ascent() + std::max(1, fm.underlinePos());
        p.fillRect(x0, y, std::max(1, x1 - x0), std::max(1, fm.lineWidth()), QtColor(it.Color));
    }
    p.restore();
}

void DrawZigzag(QPainter& p, const TDisplayItem& it) {
    QPainterPath path;
    const int top = it.R.Top, bottom = it.R.Bottom - 1;
    path.moveTo(it.R.Left, bottom);
    for (int x = it.R.Left, k = 0; x < it.R.Right; x += 2, ++k) path.lineTo(x + 2, k % 2 == 0 ? top : bottom);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QtColor(it.Color), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

}  // namespace

void PaintLayout(QPainter& P, const TLayout& Layout, const TRect& Clip, TQtTextMeasure& Measure) {
    P.save();
    P.setClipRect(QtRect(Clip));
    for (const TDisplayItem& it : Layout.Items) {
        switch (it.Kind) {
        case TItemKind::Fill:
        case TItemKind::Rule:
            if (it.Color != clNone) P.fillRect(QtRect(it.R), QtColor(it.Color));
            break;
        case TItemKind::Tile: {
            const QImage img = ImageOf(it.Image);
            if (img.isNull() || it.Image.Width <= 0 || it.Image.Height <= 0) break;
            const QImage tile = img.scaled(it.Image.Width, it.Image.Height);
            for (int y = it.R.Top; y < it.R.Bottom; y += tile.height())
                for (int x = it.R.Left; x < it.R.Right; x += tile.width()) P.drawImage(x, y, tile);
            break;
        }
        case TItemKind::Text:
            DrawText(P, it, Clip, Measure);
            break;
        case TItemKind::Image: {
            const QImage img = ImageOf(it.Image);
            if (!img.isNull()) P.drawImage(QtRect(it.R), img);
            break;
        }
        case TItemKind::ErrorMark:
            DrawZigzag(P, it);
            break;
        }
    }
    P.restore();
}

}  // namespace uxhtml
