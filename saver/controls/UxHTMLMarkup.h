// The HTML label's markup, before layout: the preparation of the text (entities, the "<#"
// marker, line breaks), the split into text runs and tags, attribute values and colours.
// Everything here reads only inside the string it is given.
#pragma once

#include <string>
#include <vector>

#include "Graphics.h"

namespace uxhtml {

// The text as the renderer reads it: the entities of the page replaced until none is left
// ("&amp;" becomes "&&", which the drawing shows as one "&"; the others become their
// Unicode characters in UTF-8), the first "<#" and the next ">" after it removed, line feeds
// removed and each carriage return made a "<BR>".
std::string PrepareMarkup(const std::string& Text);

// "&nbsp;", "&lt;" and "&gt;" inside one text run, replaced just before it is drawn so they
// never start a tag.
std::string RunEntities(const std::string& Run);

// The drawing's prefix rule: "&&" shows one "&", a single "&" underlines the character after
// it. Underlined holds the byte offsets of the underlined characters in the result.
std::string StripPrefix(const std::string& Text, std::vector<size_t>* Underlined = nullptr);

struct TToken {
    bool Tag = false;
    // A run: its text. A tag: the text between '<' and '>'.
    std::string Text;
    // A tag's name in upper case, without the '/' of a closing tag.
    std::string Name;
    bool Closing = false;
};

// Runs end after a space or before a '<'. A '<' without its '>' makes a tag that ends with
// the text.
std::vector<TToken> Tokenize(const std::string& Markup);

// The value of the attribute Name (searched in any letter case anywhere in the tag text):
// the text between the first pair of double quotes after the name, up to the end of the tag
// when the closing quote is missing; when '=' follows the name and no quote, the word after
// it. False when the name does not occur.
bool TagAttribute(const std::string& Tag, const std::string& Name, std::string& Value);
// The first double-quoted text of the tag ("" when none): the target of an anchor.
std::string FirstQuoted(const std::string& Tag);

// "#RRGGBB" (hexadecimal, red first) as a colour with red in the low byte; any other value
// looked up by name in lower case ("clred", "clbtnface", ...). Unknown names and malformed
// hexadecimal values give black.
TColor HTMLColor(const std::string& Value);

// Code points of a UTF-8 text (malformed bytes count one each).
size_t CodePoints(const std::string& Text);

}  // namespace uxhtml
