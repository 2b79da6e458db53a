// The HTML label over Qt: text measured with Qt's font metrics, and the display list
// painted with a QPainter.
#pragma once

#include <QColor>
#include <QFont>

#include <map>
#include <memory>

#include "UxHTMLLayout.h"

class QPainter;
class QFontMetrics;

namespace uxhtml {

QFont QtFont(const TFontSpec& Font);
QColor QtColor(TColor Color);

class TQtTextMeasure : public ITextMeasure {
public:
    TQtTextMeasure();
    ~TQtTextMeasure() override;
    int TextWidth(const TFontSpec& Font, const std::string& Text) override;
    int TextHeight(const TFontSpec& Font) override;
    const QFontMetrics& Metrics(const TFontSpec& Font);

private:
    struct Key {
        TFontSpec font;
        bool operator<(const Key& o) const;
    };
    std::map<Key, std::unique_ptr<QFontMetrics>> metrics_;
};

// Draws the items inside Clip (control coordinates).
void PaintLayout(QPainter& P, const TLayout& Layout, const TRect& Clip, TQtTextMeasure& Measure);

}  // namespace uxhtml
