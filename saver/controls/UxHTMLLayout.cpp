// Line layout: each line is collected piece by piece (runs end after a space or before a
// tag, so lines break only at spaces), then measured and placed at its alignment offset.
#include "UxHTMLLayout.h"

#include <algorithm>

#include "SysUtils.h"
#include "UxHTMLMarkup.h"

namespace uxhtml {

namespace {

constexpr int kListStep = 12;         // list indent per level, and the gap after the bullet
constexpr int kMaxExtent = 1000000;   // pixels; text further down is not laid out
constexpr int kMaxImageSide = 10000;  // WIDTH and HEIGHT, in 96-dpi pixels
constexpr int kMaxListLevel = 100;
constexpr const char* kBullet = "\xE2\x80\xA2";   // U+2022 in the current font

enum class Align { Left, Right, Center };
enum class VAlign { Bottom, Top, Middle };

struct State {
    TFontSpec font;
    TColor color = clBlack;
    TColor background = clNone;
    int shift = 0;   // -1 superscript, 1 subscript
    bool shadow = false, highlight = false, error = false, hidden = false, blink = false;
    int angle = 0;
    int anchor = -1;
    Align align = Align::Left;
    int indent = 0;
    TColor paragraphColor = clNone;
    int listLevel = 0;
};

struct Piece {
    bool image = false;
    std::string text;
    std::vector<size_t> underlined;
    TFontSpec font;
    TColor color = clBlack, background = clNone;
    bool shadow = false, error = false, blinkOff = false;
    int shift = 0, angle = 0, anchor = -1;
    THTMLImage img;
    bool stretch = false;
    std::string alt;
    int x = 0, w = 0, h = 0;
};

int Clamp(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

int ScaleDpi(int v, int dpi) { return int(int64_t(v) * dpi / 96); }

bool ContainsNoCase(const std::string& s, const char* part) {
    return UpperCase(s).find(part) != std::string::npos;
}

class Layouter {
public:
    Layouter(const TLayoutParams& p, ITextMeasure& m, IHTMLImages* images)
        : p_(p), m_(m), images_(images), areaW_(std::max(0, p.Area.Width())) {
        s_.font = p.Font;
        s_.color = p.FontColor;
    }

    TLayout Run(const std::string& Markup) {
        for (const TToken& t : Tokenize(Markup)) {
            if (y_ > kMaxExtent) {
                out_.Cut = true;
                break;
            }
            if (t.Tag) Tag(t);
            else Text(t.Text);
        }
        if (!pieces_.empty() || x_ > lineStart_) EndLine(false);
        // The backgrounds go under everything, in the order of their tags.
        out_.Items.insert(out_.Items.begin(), std::make_move_iterator(body_.begin()),
                          std::make_move_iterator(body_.end()));
        out_.Height = int(std::min<int64_t>(y_, kMaxExtent + int64_t(kMaxExtent)));
        if (out_.Height > p_.Area.Height() || out_.Width > areaW_) out_.Cut = true;
        return std::move(out_);
    }

private:
    void Text(const std::string& Run) {
        const std::string shown = RunEntities(Run);
        std::vector<size_t> underlined;
        std::string text = StripPrefix(shown, &underlined);
        out_.PlainText += text;
        if (s_.hidden || text.empty()) return;
        Piece pc;
        pc.font = s_.font;
        if (s_.anchor >= 0) pc.font.Style |= fsUnderline;
        const int w = m_.TextWidth(pc.font, text);
        size_t end = text.size();
        while (end > 0 && text[end - 1] == ' ') --end;
        const int wTrim = end == text.size() ? w : m_.TextWidth(pc.font, text.substr(0, end));
        if (hasContent_ && x_ + wTrim > areaW_) {
            EndLine(false, true);
            if (end == 0) return;   // spaces at the start of a wrapped line
        }
        pc.text = std::move(text);
        pc.underlined = std::move(underlined);
        pc.w = w;
        pc.h = m_.TextHeight(pc.font);
        Style(pc);
        Place(std::move(pc), wTrim);
    }

    void Style(Piece& pc) const {
        pc.color = s_.color;
        pc.background = s_.background;
        if (s_.anchor >= 0) {
            pc.anchor = s_.anchor;
            pc.color = p_.URLColor;
            if (p_.Hover && p_.HoverAnchor == s_.anchor) {
                if (p_.HoverFontColor != clNone) pc.color = p_.HoverFontColor;
                if (p_.HoverColor != clNone) pc.background = p_.HoverColor;
            }
        }
        if (s_.highlight) {
            pc.background = clHighlight;
            pc.color = clHighlightText;
        }
        pc.blinkOff = s_.blink && !p_.BlinkOn;
        pc.shadow = s_.shadow;
        pc.error = s_.error;
        pc.shift = s_.shift;
        pc.angle = s_.angle;
    }

    void Place(Piece pc, int wTrim) {
        pc.x = x_;
        lineRight_ = std::max(lineRight_, x_ + wTrim);
        x_ += pc.w;
        hasContent_ = true;
        pieces_.push_back(std::move(pc));
    }

    void Tag(const TToken& t) {
        const std::string& n = t.Name;
        const bool on = !t.Closing;
        std::string v;
        if (n == "B") SetStyle(fsBold, on);
        else if (n == "I") SetStyle(fsItalic, on);
        else if (n == "U") SetStyle(fsUnderline, on);
        else if (n == "S") SetStyle(fsStrikeOut, on);
        else if (n == "SUB") s_.shift = on ? 1 : 0;
        else if (n == "SUP") s_.shift = on ? -1 : 0;
        else if (n == "SHAD") s_.shadow = on;
        else if (n == "BR") { if (on) EndLine(false); }
        else if (n == "HR") { if (on) EndLine(true); }
        else if (n == "HI") s_.highlight = on;
        else if (n == "E") s_.error = on;
        else if (n == "Z") s_.hidden = on;
        else if (n == "BLINK") s_.blink = on;
        else if (n == "FONT") Font(t);
        else if (n == "P") Paragraph(t);
        else if (n == "BODY") { if (on) Body(t.Text); }
        else if (n == "IND") {
            if (on && TagAttribute(t.Text, "X", v)) x_ = std::max(x_, Clamp(StrToIntDef(Trim(v), 0), 0, kMaxExtent));
        } else if (n == "UL") {
            s_.listLevel = Clamp(s_.listLevel + (on ? 1 : -1), 0, kMaxListLevel);
        } else if (n == "LI") {
            if (on) ListItem();
        } else if (n == "R") {
            s_.angle = on && TagAttribute(t.Text, "A", v) ? Clamp(StrToIntDef(Trim(v), 0), -3600, 3600) : 0;
        } else if (n == "A") {
            if (on) {
                s_.anchor = int(out_.Anchors.size());
                out_.Anchors.push_back(FirstQuoted(t.Text));
            } else {
                s_.anchor = -1;
            }
        } else if (n == "IMG") {
            if (on) Image(t.Text);
        }
    }

    void SetStyle(TFontStyle f, bool on) {
        if (on) s_.font.Style |= f;
        else s_.font.Style &= ~unsigned(f);
    }

    void Font(const TToken& t) {
        if (t.Closing) {
            s_.font.Name = p_.Font.Name;
            s_.font.Size = p_.Font.Size;
            s_.color = p_.FontColor;
            s_.background = clNone;
            return;
        }
        std::string v;
        if (TagAttribute(t.Text, "FACE", v) && !Trim(v).empty()) s_.font.Name = Trim(v);
        if (TagAttribute(t.Text, " COLOR", v)) s_.color = HTMLColor(v);
        if (TagAttribute(t.Text, "BGCOLOR", v)) s_.background = HTMLColor(v);
        if (TagAttribute(t.Text, "SIZE", v)) {
            const int size = StrToIntDef(Trim(v), 0);
            if (size != 0 || Trim(v) == "0") s_.font.Size = FontSizeOfAttribute(size);
        }
    }

    void Paragraph(const TToken& t) {
        if (t.Closing) {
            EndLine(false);
            s_.align = Align::Left;
            s_.indent = 0;
            s_.paragraphColor = clNone;
            x_ = lineStart_ = 0;
            return;
        }
        std::string v;
        if (TagAttribute(t.Text, "ALIGN", v)) {
            const std::string a = UpperCase(v);
            if (a.find("RIGHT") != std::string::npos) s_.align = Align::Right;
            else if (a.find("LEFT") != std::string::npos) s_.align = Align::Left;
            else if (a.find("CENTER") != std::string::npos) s_.align = Align::Center;
        }
        if (TagAttribute(t.Text, "INDENT", v)) {
            s_.indent = Clamp(StrToIntDef(Trim(v), 0), 0, kMaxExtent);
            if (!hasContent_) x_ = lineStart_ = s_.indent;
        }
        if (TagAttribute(t.Text, "BGCOLOR", v)) s_.paragraphColor = HTMLColor(v);
    }

    void Body(const std::string& tag) {
        std::string v;
        TColor color = clNone;
        if (TagAttribute(tag, "BACKGROUND", v) && !v.empty()) {
            if (ContainsNoCase(v, "CL") || v.find('#') != std::string::npos) {
                color = HTMLColor(v);
            } else {
                THTMLImage img;
                if (images_ && images_->Find(v, img) && img.Width > 0 && img.Height > 0) {
                    TDisplayItem it;
                    it.Kind = TItemKind::Tile;
                    it.R = p_.Area;
                    it.Image = img;
                    it.Image.Width = ScaleDpi(img.Width, p_.PixelsPerInch);
                    it.Image.Height = ScaleDpi(img.Height, p_.PixelsPerInch);
                    // The page has one background: a picture replaces the picture before
                    // it and lies over the colour, if one was given.
                    if (!body_.empty() && body_.back().Kind == TItemKind::Tile) body_.pop_back();
                    body_.push_back(std::move(it));
                }
            }
        }
        if (TagAttribute(tag, "BGCOLOR", v)) color = HTMLColor(v);
        if (color != clNone) {
            // A colour covers every background before it.
            body_.clear();
            TDisplayItem it;
            it.Kind = TItemKind::Fill;
            it.R = p_.Area;
            it.Color = color;
            body_.push_back(std::move(it));
        }
    }

    void ListItem() {
        if (hasContent_) EndLine(false);
        x_ = s_.indent + kListStep * s_.listLevel;
        Piece pc;
        pc.font = s_.font;
        pc.text = s_.listLevel % 2 == 1 ? kBullet : "o";
        pc.w = m_.TextWidth(pc.font, pc.text);
        pc.h = m_.TextHeight(pc.font);
        Style(pc);
        pc.anchor = -1;
        Place(std::move(pc), 0);
        lineRight_ = x_;
        x_ += kListStep;
        hang_ = x_;
    }

    void Image(const std::string& tag) {
        std::string src, v;
        TagAttribute(tag, "SRC", src);
        THTMLImage img;
        if (!images_ || src.empty() || !images_->Find(src, img)) return;
        int w = 0, h = 0;
        if (TagAttribute(tag, "WIDTH", v)) w = Clamp(StrToIntDef(Trim(v), 0), 0, kMaxImageSide);
        if (TagAttribute(tag, "HEIGHT", v)) h = Clamp(StrToIntDef(Trim(v), 0), 0, kMaxImageSide);
        Piece pc;
        pc.image = true;
        pc.stretch = w > 0 && h > 0;
        if (!pc.stretch) {
            w = Clamp(img.Width, 0, kMaxImageSide);
            h = Clamp(img.Height, 0, kMaxImageSide);
        }
        pc.w = ScaleDpi(w, p_.PixelsPerInch);
        pc.h = ScaleDpi(h, p_.PixelsPerInch);
        if (pc.w <= 0 || pc.h <= 0) return;
        pc.img = img;
        if (TagAttribute(tag, "ALT", v)) pc.alt = v;
        pc.anchor = s_.anchor;
        if (hasContent_ && x_ + pc.w > areaW_ && pc.w <= areaW_) EndLine(false, true);
        const int w0 = pc.w;
        Place(std::move(pc), w0);
        if (TagAttribute(tag, "ALIGN", v)) {
            const std::string a = UpperCase(Trim(v));
            if (a.rfind("TOP", 0) == 0) valign_ = VAlign::Top;
            else if (a.rfind("MIDDLE", 0) == 0) valign_ = VAlign::Middle;
        }
    }

    // Ends the line: measures it, places its pieces at the alignment offset and moves down.
    // A wrap keeps the hanging indent of a list item; a break tag ends it.
    void EndLine(bool Rule, bool Wrap = false) {
        int ascent = 0, descent = 0, textAscent = 0;
        for (const Piece& pc : pieces_) {
            if (pc.image) {
                ascent = std::max(ascent, pc.h);
                continue;
            }
            const int a = pc.h + (pc.shift < 0 ? pc.h / 4 : 0);
            ascent = std::max(ascent, a);
            textAscent = std::max(textAscent, a);
            descent = std::max(descent, pc.shift > 0 ? pc.h / 4 : 0);
        }
        if (pieces_.empty() && !Rule) ascent = m_.TextHeight(s_.font);
        const int height = ascent + descent;
        const int top = p_.Area.Top + int(y_);
        int dx = 0;
        if (s_.align == Align::Right) dx = std::max(0, areaW_ - lineRight_);
        else if (s_.align == Align::Center) dx = std::max(0, (areaW_ - lineRight_) / 2);
        out_.Width = std::max(out_.Width, lineRight_);

        if (s_.paragraphColor != clNone) {
            TDisplayItem f;
            f.Kind = TItemKind::Fill;
            f.R = Rect(p_.Area.Left, top, p_.Area.Right, top + height);
            f.Color = s_.paragraphColor;
            out_.Items.push_back(f);
        }
        const int spare = ascent - textAscent;
        const int lift = valign_ == VAlign::Top ? 0 : valign_ == VAlign::Middle ? spare / 2 : spare;
        for (Piece& pc : pieces_) {
            const int left = p_.Area.Left + pc.x + dx;
            if (pc.image) {
                TDisplayItem it;
                it.Kind = TItemKind::Image;
                it.R = Bounds(left, top + ascent - pc.h, pc.w, pc.h);
                it.Image = pc.img;
                it.Stretch = pc.stretch;
                it.Anchor = pc.anchor;
                AddBox(it, pc.alt);
                out_.Items.push_back(std::move(it));
                continue;
            }
            int y = top + lift + (textAscent - pc.h);
            if (pc.shift < 0) y -= pc.h / 4;
            if (pc.shift > 0) y += pc.h / 4;
            const TRect r = Bounds(left, y, pc.w, pc.h);
            if (pc.background != clNone) {
                TDisplayItem f;
                f.Kind = TItemKind::Fill;
                f.R = r;
                f.Color = pc.background;
                out_.Items.push_back(f);
            }
            TDisplayItem it;
            it.Kind = TItemKind::Text;
            it.R = r;
            it.Text = std::move(pc.text);
            it.Underlined = std::move(pc.underlined);
            it.Font = pc.font;
            it.Angle = pc.angle;
            it.Anchor = pc.anchor;
            it.Ellipsis = p_.Ellipsis && r.Right > p_.Area.Right;
            if (!p_.Enabled) {
                TDisplayItem white = it;
                white.R = Bounds(left + 1, y + 1, pc.w, pc.h);
                white.Color = clWhite;
                out_.Items.push_back(std::move(white));
                it.Color = clGray;
            } else if (pc.blinkOff) {
                it.Color = p_.Background;
            } else {
                if (pc.shadow) {
                    TDisplayItem sh = it;
                    sh.R = Bounds(left + p_.ShadowOffset, y + p_.ShadowOffset, pc.w, pc.h);
                    sh.Color = p_.ShadowColor;
                    sh.Anchor = -1;
                    out_.Items.push_back(std::move(sh));
                }
                it.Color = pc.color;
            }
            AddBox(it, "");
            out_.Items.push_back(std::move(it));
            if (pc.error) {
                TDisplayItem e;
                e.Kind = TItemKind::ErrorMark;
                e.R = Rect(r.Left, r.Bottom - 2, r.Right, r.Bottom);
                e.Color = clRed;
                out_.Items.push_back(e);
            }
        }
        y_ += height;
        if (Rule) {
            TDisplayItem rule;
            rule.Kind = TItemKind::Rule;
            rule.R = Rect(p_.Area.Left, top + height + 1, p_.Area.Right, top + height + 2);
            rule.Color = clBlack;
            out_.Items.push_back(rule);
            y_ += 3;
        }
        pieces_.clear();
        hasContent_ = false;
        valign_ = VAlign::Bottom;
        if (!Wrap) hang_ = -1;
        lineStart_ = hang_ >= 0 ? hang_ : s_.indent;
        x_ = lineStart_;
        lineRight_ = 0;
    }

    void AddBox(const TDisplayItem& it, const std::string& alt) {
        if (it.Anchor < 0) return;
        TAnchorBox b;
        b.Anchor = it.Anchor;
        b.R = it.R;
        b.Hint = alt.empty() ? out_.Anchors[size_t(it.Anchor)] : alt;
        out_.Boxes.push_back(std::move(b));
    }

    const TLayoutParams& p_;
    ITextMeasure& m_;
    IHTMLImages* images_;
    const int areaW_;
    State s_;
    TLayout out_;
    std::vector<Piece> pieces_;
    int x_ = 0, lineStart_ = 0, lineRight_ = 0, hang_ = -1;
    int64_t y_ = 0;
    bool hasContent_ = false;
    VAlign valign_ = VAlign::Bottom;
    std::vector<TDisplayItem> body_;   // the page's background: a colour, a picture, or both
};

bool Inside(const TRect& r, TPoint p) { return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom; }

}  // namespace

int FontSizeOfAttribute(int Value) {
    static const int kSizes[] = {8, 10, 12, 14, 16};
    if (Value >= 1 && Value <= 5) return kSizes[Value - 1];
    return Clamp(Value, 1, 1000);
}

const TAnchorBox* TLayout::BoxAt(TPoint P) const {
    for (const TAnchorBox& b : Boxes)
        if (Inside(b.R, P)) return &b;
    return nullptr;
}

int TLayout::AnchorAt(TPoint P) const {
    const TAnchorBox* b = BoxAt(P);
    return b ? b->Anchor : -1;
}

TLayout LayoutHTML(const std::string& Markup, const TLayoutParams& Params, ITextMeasure& Measure,
                   IHTMLImages* Images) {
    return Layouter(Params, Measure, Images).Run(Markup);
}

}  // namespace uxhtml
