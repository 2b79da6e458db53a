#include "FuzzHTML.h"

#include <cstdlib>
#include <string>

#include "../controls/fake_font.h"
#include "UxHTMLLayout.h"
#include "UxHTMLMarkup.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

int FuzzHTMLMarkup(const uint8_t* Data, size_t Size) {
    const std::string page(reinterpret_cast<const char*>(Data), Size);
    const std::string markup = uxhtml::PrepareMarkup(page);
    size_t text = 0;
    for (const uxhtml::TToken& t : uxhtml::Tokenize(markup)) {
        Check(t.Tag || !t.Text.empty());
        text += t.Text.size();
        if (!t.Tag) continue;
        std::string v;
        for (const char* name : {"SRC", " COLOR", "X", "A", "SIZE", "ALIGN"}) uxhtml::TagAttribute(t.Text, name, v);
        uxhtml::HTMLColor(uxhtml::FirstQuoted(t.Text));
    }
    Check(text <= markup.size());
    FakeFont font;
    FakeImages images;
    uxhtml::TLayoutParams p;
    p.Area = Rect(4, 4, 204, 104);
    const uxhtml::TLayout l = uxhtml::LayoutHTML(markup, p, font, &images);
    for (const uxhtml::TDisplayItem& it : l.Items) {
        Check(it.R.Width() >= 0 && it.R.Height() >= 0);
        Check(it.Anchor < int(l.Anchors.size()));
        for (size_t u : it.Underlined) Check(u < it.Text.size());
    }
    for (const uxhtml::TAnchorBox& b : l.Boxes) Check(b.Anchor >= 0 && b.Anchor < int(l.Anchors.size()));
    Check(l.Height >= 0 && l.Width >= 0);
    return 0;
}
