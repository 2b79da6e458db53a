#include "UxHTMLMarkup.h"

#include <cctype>
#include <cstring>

#include "SysUtils.h"

namespace uxhtml {

namespace {

struct Entity {
    const char* name;
    const char* text;
};

// The page's entities, straight to the characters they name (not through a code page).
const Entity kEntities[] = {
    {"&amp;", "&&"},           {"&quot;", "\""},
    {"&sect;", "\xC2\xA7"},    {"&permil;", "\xE2\x80\xB0"},
    {"&reg;", "\xC2\xAE"},     {"&copy;", "\xC2\xA9"},
    {"&para;", "\xC2\xB6"},    {"&trade;", "\xE2\x84\xA2"},
    {"&euro;", "\xE2\x82\xAC"},
};

const Entity kRunEntities[] = {{"&nbsp;", " "}, {"&lt;", "<"}, {"&gt;", ">"}};

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Replacing until none is left, in one pass: an entity ends with ';' and holds '&' only as
// its first character, and no replacement ends with ';', so a new match can only end at the
// ';' just appended. The result is the one repeated replacing gives, in linear time.
template <size_t N>
std::string ReplaceUntilNone(const std::string& Text, const Entity (&Table)[N]) {
    std::string out;
    out.reserve(Text.size());
    for (char c : Text) {
        out.push_back(c);
        if (c != ';') continue;
        for (const Entity& e : Table) {
            if (!EndsWith(out, e.name)) continue;
            out.resize(out.size() - std::strlen(e.name));
            out += e.text;
            break;
        }
    }
    return out;
}

struct NamedColor {
    const char* name;
    TColor color;
};

const NamedColor kColors[] = {
    {"clred", clRed},
    {"clblack", clBlack},
    {"clblue", clBlue},
    {"clgreen", clGreen},
    {"claqua", clAqua},
    {"clyellow", clYellow},
    {"clfuchsia", clFuchsia},
    {"clwhite", clWhite},
    {"cllime", clLime},
    {"clsilver", clSilver},
    {"clgray", clGray},
    {"clolive", clOlive},
    {"clnavy", clNavy},
    {"clpurple", clPurple},
    {"clteal", clTeal},
    {"clmaroon", clMaroon},
    {"clbackground", clBackground},
    {"clactivecaption", clActiveCaption},
    {"clinactivecaption", clInactiveCaption},
    {"clmenu", clMenu},
    {"clwindow", clWindow},
    {"clwindowframe", clWindowFrame},
    {"clmenutext", clMenuText},
    {"clwindowtext", clWindowText},
    {"clcaptiontext", clCaptionText},
    {"clactiveborder", clActiveBorder},
    {"clinactiveborder", clInactiveBorder},
    {"clappworkspace", clAppWorkSpace},
    {"clhighlight", clHighlight},
    {"clhighlighttext", clHighlightText},
    {"clbtnface", clBtnFace},
    {"clbtnshadow", clBtnShadow},
    {"clgraytext", clGrayText},
    {"clbtntext", clBtnText},
    {"clinactivecaptiontext", clInactiveCaptionText},
    {"clbtnhighlight", clBtnHighlight},
    {"cl3ddkshadow", cl3DDkShadow},
    {"cl3dlight", cl3DLight},
    {"clinfotext", clInfoText},
    {"clinfobk", clInfoBk},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string PrepareMarkup(const std::string& Text) {
    std::string s = ReplaceUntilNone(Text, kEntities);
    const size_t open = s.find("<#");
    if (open != std::string::npos) {
        s.erase(open, 2);
        const size_t close = s.find('>', open);
        if (close != std::string::npos) s.erase(close, 1);
    }
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\n') continue;
        if (c == '\r') out += "<BR>";
        else out.push_back(c);
    }
    return out;
}

std::string RunEntities(const std::string& Run) {
    if (Run.find('&') == std::string::npos) return Run;
    return ReplaceUntilNone(Run, kRunEntities);
}

std::string StripPrefix(const std::string& Text, std::vector<size_t>* Underlined) {
    std::string out;
    out.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '&') {
            out.push_back(Text[i]);
            continue;
        }
        if (i + 1 >= Text.size()) break;   // a lone '&' at the end marks nothing
        ++i;
        if (Text[i] != '&' && Underlined) Underlined->push_back(out.size());
        out.push_back(Text[i]);
    }
    return out;
}

std::vector<TToken> Tokenize(const std::string& Markup) {
    std::vector<TToken> tokens;
    size_t i = 0;
    const size_t n = Markup.size();
    while (i < n) {
        if (Markup[i] == '<') {
            const size_t close = Markup.find('>', i + 1);
            const size_t end = close == std::string::npos ? n : close;
            TToken t;
            t.Tag = true;
            t.Text = Markup.substr(i + 1, end - i - 1);
            size_t p = 0;
            if (p < t.Text.size() && t.Text[p] == '/') {
                t.Closing = true;
                ++p;
            }
            size_t q = p;
            while (q < t.Text.size() && IsNameChar(t.Text[q])) ++q;
            t.Name = UpperCase(t.Text.substr(p, q - p));
            tokens.push_back(std::move(t));
            i = close == std::string::npos ? n : close + 1;
            continue;
        }
        size_t j = i;
        while (j < n && Markup[j] != '<' && Markup[j] != ' ') ++j;
        if (j < n && Markup[j] == ' ') ++j;
        TToken t;
        t.Text = Markup.substr(i, j - i);
        tokens.push_back(std::move(t));
        i = j;
    }
    return tokens;
}

bool TagAttribute(const std::string& Tag, const std::string& Name, std::string& Value) {
    Value.clear();
    if (Name.empty()) return false;
    const std::string upper = UpperCase(Tag);
    const size_t at = upper.find(UpperCase(Name));
    if (at == std::string::npos) return false;
    size_t p = at + Name.size();
    size_t q = p;
    while (q < Tag.size() && Tag[q] == ' ') ++q;
    if (q < Tag.size() && Tag[q] == '=') {
        ++q;
        while (q < Tag.size() && Tag[q] == ' ') ++q;
        if (q < Tag.size() && Tag[q] != '"') {
            size_t e = q;
            while (e < Tag.size() && Tag[e] != ' ' && Tag[e] != '"') ++e;
            Value = Tag.substr(q, e - q);
            return true;
        }
    }
    const size_t open = Tag.find('"', p);
    if (open == std::string::npos) return true;
    const size_t close = Tag.find('"', open + 1);
    Value = Tag.substr(open + 1, (close == std::string::npos ? Tag.size() : close) - open - 1);
    return true;
}

std::string FirstQuoted(const std::string& Tag) {
    const size_t open = Tag.find('"');
    if (open == std::string::npos) return "";
    const size_t close = Tag.find('"', open + 1);
    return Tag.substr(open + 1, (close == std::string::npos ? Tag.size() : close) - open - 1);
}

TColor HTMLColor(const std::string& Value) {
    const std::string v = Trim(Value);
    if (!v.empty() && v[0] == '#') {
        if (v.size() < 7) return clBlack;
        int d[6];
        for (int k = 0; k < 6; ++k)
            if ((d[k] = HexDigit(v[size_t(k) + 1])) < 0) return clBlack;
        return RGBColor(d[0] * 16 + d[1], d[2] * 16 + d[3], d[4] * 16 + d[5]);
    }
    const std::string name = LowerCase(v);
    for (const NamedColor& c : kColors)
        if (name == c.name) return c.color;
    return clBlack;
}

size_t CodePoints(const std::string& Text) {
    size_t n = 0;
    for (size_t i = 0; i < Text.size(); ++n) {
        const auto c = static_cast<unsigned char>(Text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + len > Text.size()) len = 1;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(Text[i + k]) & 0xC0) != 0x80) len = 1;
        i += len;
    }
    return n;
}

}  // namespace uxhtml
