// The HTML label over Qt: text measured with Qt's font metrics, and the display list
// painted with a QPainter.
#pragma once

#include <QColor>
#include <QFont>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "UxHTMLLayout.h"

class QPainter;
class QFontMetrics;
class QString;

namespace uxhtml {

QFont QtFont(const TFontSpec& Font);
QColor QtColor(TColor Color);

class TQtTextMeasure : public ITextMeasure {
public:
    TQtTextMeasure();
    ~TQtTextMeasure() override;
    int TextWidth(const TFontSpec& Font, const std::string& Text) override;
    int TextHeight(const TFontSpec& Font) override;
    // Valid until the next call.
    const QFontMetrics& Metrics(const TFontSpec& Font);

private:
    struct Key {
        TFontSpec font;
        bool operator<(const Key& o) const;
    };
    struct Entry {
        std::unique_ptr<QFontMetrics> metrics;
        // The widths of short texts measured before: words come back again and again.
        std::unordered_map<std::string, int> widths;
    };
    Entry& Find(const TFontSpec& Font);
    std::map<Key, Entry> fonts_;
};

// The x ranges of the underlines of the prefix rule: for each byte offset of Underlined, from
// the width of the text before that character to the width of the text up to its end, each
// as Metrics measures that start of the text on its own. One pass over the text, however
// many characters are underlined. Offsets outside the text give (0, 0).
std::vector<std::pair<int, int>> UnderlineSpans(const QFontMetrics& Metrics, const std::string& Text,
                                                const std::vector<size_t>& Underlined);
// The same over any measure: Advance gives a text's width in pixels, unrounded.
using TAdvance = std::function<double(const QString& Text)>;
std::vector<std::pair<int, int>> UnderlineSpans(const TAdvance& Advance, const std::string& Text,
                                                const std::vector<size_t>& Underlined);

// Draws the items inside Clip (control coordinates).
void PaintLayout(QPainter& P, const TLayout& Layout, const TRect& Clip, TQtTextMeasure& Measure);

}  // namespace uxhtml
