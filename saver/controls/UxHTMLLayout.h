// The HTML label's layout: markup in, a display list out (positioned text runs, pictures,
// rules and fills, and the anchors' boxes). Text is measured through a small interface, so
// the layout runs the same over the screen font and over a fixed-width fake in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Graphics.h"

class TUxHTMLPicture;
class TImageList;

namespace uxhtml {

struct TFontSpec {
    std::string Name;
    int Size = 8;             // points
    TFontStyles Style = 0;
    bool operator==(const TFontSpec&) const = default;
};

class ITextMeasure {
public:
    virtual ~ITextMeasure() = default;
    // The advance of Text (UTF-8, drawn as it is) in Font, in pixels.
    virtual int TextWidth(const TFontSpec& Font, const std::string& Text) = 0;
    // The height of a line of Font: the height of "gh".
    virtual int TextHeight(const TFontSpec& Font) = 0;
};

// A picture the markup names, as the painter finds it again.
struct THTMLImage {
    enum Kind { None, Picture, ListImage, FileIcon };
    Kind Source = None;
    TUxHTMLPicture* Pic = nullptr;     // Picture
    TImageList* List = nullptr;        // ListImage
    int Index = 0;                     // ListImage
    std::string Path;                  // FileIcon: a file or folder
    bool Large = false;                // FileIcon: 32 instead of 16 pixels
    int Width = 0, Height = 0;         // own size in pixels at 96 dots per inch
};

class IHTMLImages {
public:
    virtual ~IHTMLImages() = default;
    // The picture an IMG or BODY source names; false when there is none to draw.
    virtual bool Find(const std::string& Src, THTMLImage& Image) = 0;
};

enum class TItemKind { Fill, Tile, Text, Image, Rule, ErrorMark };

struct TDisplayItem {
    TItemKind Kind = TItemKind::Text;
    TRect R;                          // where it is drawn (Tile: the area it covers)
    TColor Color = clBlack;           // text, fill, rule or mark colour
    TColor Background = clNone;       // behind a text run (clNone: none)
    std::string Text;                 // shown as it is (the prefix rule applied already)
    std::vector<size_t> Underlined;   // byte offsets of characters underlined by "&"
    TFontSpec Font;
    int Angle = 0;                    // degrees, counter-clockwise around the top left
    bool Ellipsis = false;            // ends in "..." where it passes the right margin
    THTMLImage Image;                 // Image, Tile
    bool Stretch = false;             // Image: drawn into R instead of at its own size
    int Anchor = -1;                  // index into TLayout::Anchors
};

struct TAnchorBox {
    int Anchor = 0;
    TRect R;
    std::string Hint;                 // the target, or an image's ALT text
};

struct TLayoutParams {
    TRect Area;                       // the text area
    TFontSpec Font;                   // the control's font
    TColor FontColor = clWindowText;
    TColor Background = clBtnFace;    // the control's colour (blinking text in its off phase)
    TColor URLColor = clBlue;
    bool Hover = false;
    int HoverAnchor = -1;
    TColor HoverColor = clNone, HoverFontColor = clNone;
    TColor ShadowColor = clGray;
    int ShadowOffset = 1;
    bool BlinkOn = true;
    bool Enabled = true;
    bool Ellipsis = false;
    int PixelsPerInch = 96;
};

struct TLayout {
    std::vector<TDisplayItem> Items;  // in drawing order
    std::vector<std::string> Anchors; // targets
    std::vector<TAnchorBox> Boxes;
    int Width = 0, Height = 0;        // extent of the text from the area's top left
    bool Cut = false;                 // taller or wider than the area
    std::string PlainText;            // the text without markup, hidden text included
    int AnchorAt(TPoint P) const;     // -1 when no anchor is there
    const TAnchorBox* BoxAt(TPoint P) const;
};

// Lays out prepared markup (PrepareMarkup). Images may be null (no pictures).
TLayout LayoutHTML(const std::string& Markup, const TLayoutParams& Params, ITextMeasure& Measure,
                   IHTMLImages* Images);

// The font sizes of "SIZE": 1..5 are 8, 10, 12, 14, 16 points, other numbers points.
int FontSizeOfAttribute(int Value);

}  // namespace uxhtml
