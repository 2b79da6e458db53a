#include "UxHTMLPaint.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
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

namespace {

// What the measure keeps: a page naming many fonts or many words costs no more than this.
constexpr size_t kMaxFonts = 64;
constexpr size_t kMaxWidths = 8192;
constexpr size_t kMaxWordBytes = 64;

}  // namespace

TQtTextMeasure::Entry& TQtTextMeasure::Find(const TFontSpec& Font) {
    auto at = fonts_.find(Key{Font});
    if (at != fonts_.end()) return at->second;
    if (fonts_.size() >= kMaxFonts) fonts_.clear();
    Entry& e = fonts_[Key{Font}];
    e.metrics = std::make_unique<QFontMetrics>(QtFont(Font));
    return e;
}

const QFontMetrics& TQtTextMeasure::Metrics(const TFontSpec& Font) { return *Find(Font).metrics; }

int TQtTextMeasure::TextWidth(const TFontSpec& Font, const std::string& Text) {
    Entry& e = Find(Font);
    if (Text.size() > kMaxWordBytes) return e.metrics->horizontalAdvance(QString::fromStdString(Text));
    auto at = e.widths.find(Text);
    if (at != e.widths.end()) return at->second;
    if (e.widths.size() >= kMaxWidths) e.widths.clear();
    const int w = e.metrics->horizontalAdvance(QString::fromStdString(Text));
    e.widths.emplace(Text, w);
    return w;
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
    if (!it.Ellipsis && !it.Underlined.empty()) {
        const std::vector<std::pair<int, int>> spans = UnderlineSpans(fm, it.Text, it.Underlined);
        const int y = fm.ascent() + std::max(1, fm.underlinePos());
        for (size_t i = 0; i < spans.size(); ++i) {
            if (it.Underlined[i] >= it.Text.size()) continue;
            const auto [x0, x1] = spans[i];
            p.fillRect(x0, y, std::max(1, x1 - x0), std::max(1, fm.lineWidth()), QtColor(it.Color));
        }
    }
    p.restore();
}

// A width in the 1/64 pixels in which Qt's text engine adds advances.
int64_t Fixed(const TAdvance& Advance, const QString& Text) {
    return Text.isEmpty() ? 0 : std::llround(Advance(Text) * 64);
}

// QFontMetrics' whole pixels: halves round up.
int RoundFixed(int64_t v) {
    const int64_t t = v + 32;
    return int(t >= 0 ? t / 64 : -((-t + 63) / 64));
}

// What shaping can carry across a cut: the last characters before it.
constexpr qsizetype kContext = 16;

QString Tail(const QString& Text) {
    if (Text.size() <= kContext) return Text;
    QString t = Text.right(kContext);
    if (t.front().isLowSurrogate()) t.remove(0, 1);
    return t;
}

// Whether an item may leave paint inside Clip. Text ink may reach past its box (overhangs,
// accents), so text counts a margin of twice its height; turned text is always drawn.
bool MayShow(const TDisplayItem& it, const TRect& clip) {
    int margin = 2;
    if (it.Kind == TItemKind::Text) {
        if (it.Angle != 0) return true;
        margin += 2 * std::max(0, it.R.Height());
    }
    return it.R.Left - margin < clip.Right && it.R.Right + margin > clip.Left && it.R.Top - margin < clip.Bottom &&
           it.R.Bottom + margin > clip.Top;
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

std::vector<std::pair<int, int>> UnderlineSpans(const QFontMetrics& Metrics, const std::string& Text,
                                                const std::vector<size_t>& Underlined) {
    const QFontMetricsF fm(Metrics);
    return UnderlineSpans([&fm](const QString& s) { return fm.horizontalAdvance(s); }, Text, Underlined);
}

std::vector<std::pair<int, int>> UnderlineSpans(const TAdvance& Advance, const std::string& Text,
                                                const std::vector<size_t>& Underlined) {
    std::vector<std::pair<int, int>> spans(Underlined.size(), {0, 0});
    // The cuts: the start of the text, and the start and end of every underlined character.
    std::vector<size_t> cuts{0};
    for (size_t at : Underlined)
        if (at < Text.size()) {
            cuts.push_back(at);
            cuts.push_back(at + Utf8Length(Text, at));
        }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    // The width of the text before each cut, piece by piece: a piece is measured behind the
    // characters before it, less those alone, so what shaping and kerning make of the
    // characters on both sides of a cut counts as in a width of the whole start. Measuring
    // each start on its own would cost the square of the text.
    std::vector<int64_t> width(cuts.size(), 0);
    // Pieces repeat ("&a&a&a" is one piece after the same characters again and again).
    std::map<std::pair<QString, QString>, int64_t> measured;
    QString before;
    for (size_t j = 0; j + 1 < cuts.size(); ++j) {
        const QString piece = QString::fromStdString(Text.substr(cuts[j], cuts[j + 1] - cuts[j]));
        auto [at, fresh] = measured.try_emplace({before, piece}, 0);
        if (fresh) at->second = Fixed(Advance, before + piece) - Fixed(Advance, before);
        width[j + 1] = width[j] + at->second;
        before = Tail(before + piece);
    }
    auto x = [&](size_t cut) {
        return RoundFixed(width[size_t(std::lower_bound(cuts.begin(), cuts.end(), cut) - cuts.begin())]);
    };
    for (size_t i = 0; i < Underlined.size(); ++i) {
        const size_t at = Underlined[i];
        if (at < Text.size()) spans[i] = {x(at), x(at + Utf8Length(Text, at))};
    }
    return spans;
}

void PaintLayout(QPainter& P, const TLayout& Layout, const TRect& Clip, TQtTextMeasure& Measure) {
    P.save();
    P.setClipRect(QtRect(Clip));
    for (const TDisplayItem& it : Layout.Items) {
        if (!MayShow(it, Clip)) continue;
        switch (it.Kind) {
        case TItemKind::Fill:
        case TItemKind::Rule:
            if (it.Color != clNone) P.fillRect(QtRect(it.R), QtColor(it.Color));
            break;
        case TItemKind::Tile: {
            const QImage img = ImageOf(it.Image);
            if (img.isNull() || it.Image.Width <= 0 || it.Image.Height <= 0) break;
            const QImage tile = img.scaled(it.Image.Width, it.Image.Height);
            // One fill, not a picture per tile: a tiny picture would take a call per pixel.
            P.save();
            P.setBrushOrigin(it.R.Left, it.R.Top);
            P.fillRect(QtRect(it.R), QBrush(tile));
            P.restore();
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
