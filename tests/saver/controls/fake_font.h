// A fixed-width font for the label's layout: 10 pixels per character, 16 pixels high at
// every size, so positions in the tests are plain arithmetic.
#pragma once

#include "UxHTMLLayout.h"
#include "UxHTMLMarkup.h"

struct FakeFont : uxhtml::ITextMeasure {
    int TextWidth(const uxhtml::TFontSpec&, const std::string& Text) override {
        return 10 * int(uxhtml::CodePoints(Text));
    }
    int TextHeight(const uxhtml::TFontSpec&) override { return 16; }
};

// Pictures by name: "pic" is 30 x 40.
struct FakeImages : uxhtml::IHTMLImages {
    bool Find(const std::string& Src, uxhtml::THTMLImage& Image) override {
        if (Src != "pic") return false;
        Image.Source = uxhtml::THTMLImage::Picture;
        Image.Width = 30;
        Image.Height = 40;
        return true;
    }
};
