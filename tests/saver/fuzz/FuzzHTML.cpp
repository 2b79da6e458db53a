#include "FuzzHTML.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../controls/fake_font.h"
#include "../controls/hostile_pictures.h"
#include "UxHTMLLayout.h"
#include "UxHTMLMarkup.h"
#include "UxHTMLPaint.h"
#include "UxPictures.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// "pic" as in the layout tests; URLs through a picture cache of the label's kind, so a page
// naming files loads them within the cache's bounds.
struct Pictures : uxhtml::IHTMLImages {
    FakeImages fake;
    TUxPictureCache cache;
    bool Find(const std::string& Src, uxhtml::THTMLImage& Image) override {
        if (Src.find("://") == std::string::npos) return fake.Find(Src, Image);
        TUxHTMLPicture* p = cache.PictureFor(Src);
        if (!p || p->Empty()) return false;
        Image.Source = uxhtml::THTMLImage::Picture;
        Image.Pic = p;
        Image.Width = p->Width();
        Image.Height = p->Height();
        return true;
    }
};

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
    Pictures images;
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
    Check(images.cache.Bytes() <= TUxPictureCache::kMaxBytes);
    // The painter, where there are fonts to paint with.
    if (QGuiApplication::instance()) {
        static uxhtml::TQtTextMeasure measure;
        QImage img(208, 108, QImage::Format_RGB32);
        QPainter painter(&img);
        uxhtml::PaintLayout(painter, l, p.Area, measure);
    }
    return 0;
}

const char* FuzzPicturesDir() { return "fuzz-pictures"; }

void WriteFuzzPictures() {
    const std::string name = std::string(FuzzPicturesDir()) + "/big.png";
    if (std::ifstream(name).good()) return;
    std::filesystem::create_directories(FuzzPicturesDir());
    hostile::WriteFile(name, hostile::ZeroPng(4000, 4000));
}
