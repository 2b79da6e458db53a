// TUxHTMLText: a static text that draws a small HTML-like markup (font styles, fonts and
// colours, paragraphs, lists, rules, pictures, anchors, blinking text). The markup is
// tokenized, laid out into a display list (UxHTMLLayout.h) and painted.
//
// Links: a click (or Enter / Space on the selected anchor) opens http, https, ftp and mailto
// targets through the desktop; every other target goes to OnAnchorClick (OnAnchorKeypress
// from the keyboard). A page may come from an untrusted file, so it never starts programs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ExtCtrls.h"
#include "UxHTMLLayout.h"
#include "UxPictures.h"

class TImageList;

enum TAutoSizeType { asVertical, asHorizontal, asBoth };
enum TTextVAlignment { tvaTop, tvaCenter, tvaBottom };

using TAnchorClick = TMethod<void(TObject* Sender, const std::string& Anchor)>;

// True for the targets the desktop may open: http://, https://, ftp:// and mailto: (any
// letter case).
bool IsShellLink(const std::string& Target);
// Opens a link through the desktop (xdg-open). Tests put a fake shell here; an empty
// function restores the desktop.
using TShellOpen = std::function<void(const std::string& Target)>;
void SetShellOpen(TShellOpen Open);

class TUxHTMLText : public TCustomControl {
public:
    explicit TUxHTMLText(TComponent* AOwner);
    ~TUxHTMLText() override;

    // The markup as lines; setting it resets the anchor state and repaints.
    const TStringList& UxHTMLText() const { return lines_; }
    // Text split into lines at line breaks (CR LF, LF or CR).
    void SetUxHTMLText(const std::string& Text);

    // The text's font (the desktop font at first) and colour.
    TFont* Font() { return &font_; }

    bool AutoSizing() const { return autoSizing_; }
    void SetAutoSizing(bool v);
    TAutoSizeType AutoSizeType() const { return autoSizeType_; }
    void SetAutoSizeType(TAutoSizeType v);
    bool AutoScroll() const { return autoScroll_; }
    void SetAutoScroll(bool v) { autoScroll_ = v; }
    bool MiniScroll() const { return miniScroll_; }
    void SetMiniScroll(bool v);
    TTextVAlignment VAlignment() const { return vAlignment_; }
    void SetVAlignment(TTextVAlignment v);

    TColor URLColor() const { return urlColor_; }
    void SetURLColor(TColor c) { urlColor_ = c; Changed(); }
    bool Hover() const { return hover_; }
    void SetHover(bool v) { hover_ = v; Changed(); }
    TColor HoverColor() const { return hoverColor_; }
    void SetHoverColor(TColor c) { hoverColor_ = c; Changed(); }
    TColor HoverFontColor() const { return hoverFontColor_; }
    void SetHoverFontColor(TColor c) { hoverFontColor_ = c; Changed(); }
    bool AnchorHint = false;
    TColor ShadowColor() const { return shadowColor_; }
    void SetShadowColor(TColor c) { shadowColor_ = c; Changed(); }
    int ShadowOffset() const { return shadowOffset_; }
    void SetShadowOffset(int v) { shadowOffset_ = v; Changed(); }
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut v) { bevelInner_ = v; Changed(); }
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut v) { bevelOuter_ = v; Changed(); }
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int v) { bevelWidth_ = std::max(v, 1); Changed(); }
    // The label draws its own border: black lines of BorderLineWidth with BorderStyle bsSingle
    // (the layer's border stays out, so BorderWidth() is 0).
    int BorderWidth() const override { return 0; }
    int BorderLineWidth() const { return borderLineWidth_; }
    void SetBorderLineWidth(int v) { borderLineWidth_ = std::max(v, 0); Changed(); }
    bool EnableBlink() const { return enableBlink_; }
    void SetEnableBlink(bool v);
    bool Ellipsis() const { return ellipsis_; }
    void SetEllipsis(bool v) { ellipsis_ = v; Changed(); }

    TImageList* Images() const { return images_; }
    void SetImages(TImageList* v);
    TUxPictureContainer* UxPictures() const { return pictures_; }
    void SetUxPictures(TUxPictureContainer* v);
    TUxPictureCache* PictureCache() { return &cache_; }

    // Measures (does not draw) the markup inside Area: the anchor target at Probe ("" when
    // none), the text's extent; true when the text was cut.
    bool RenderHtmlText(const TRect& Area, TPoint Probe, std::string& Anchor, TSize& Extent);

    // The layout of the last paint (or of now, when nothing was painted since a change).
    const uxhtml::TLayout& Layout();
    // The text area: the client area less bevels and border.
    TRect TextArea() const;
    // The anchor selected from the keyboard (-1: none) and its target.
    int SelectedAnchor() const { return selected_; }
    void SelectAnchor(int Index);
    std::string AnchorTarget(int Index);
    int HoverAnchor() const { return hoverAnchor_; }
    int ScrollPos() const { return scrollPos_; }

    void SetEnabled(bool v) override;
    void SetColor(TColor c) override;
    void SetBorderStyle(TBorderStyle Value) override;

    // The blink and animation timer's tick (100 ms).
    void TimerTick();
    int64_t TickCount() const { return ticks_; }

    TAnchorClick OnAnchorClick;
    TAnchorClick OnAnchorEnter;
    TAnchorClick OnAnchorExit;
    TAnchorClick OnAnchorKeypress;
    TNotifyEvent OnMouseLeave;

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseLeave() override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    // Enter opens the selected link instead of pressing the dialog's default button.
    bool WantSpecialKey(uint16_t Key) const override { return Key == VK_RETURN && selected_ >= 0; }
    void DoEnter() override;
    void DoExit() override;
    void Resize() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    class ImageFinder;
    void FontChangedEvent(TObject* Sender);
    void TimerEvent(TObject* Sender);
    uxhtml::TLayoutParams Params(const TRect& Area) const;
    uxhtml::TLayout LayOut(const TRect& Area);
    void Changed();
    void OpenAnchor(int Index, bool FromKey);
    void AdjustSize();
    void UpdateTimer();
    void Scroll(int Delta);
    bool TextTaller();

    TStringList lines_;
    std::string prepared_;
    TFont font_;
    bool autoSizing_ = false, autoScroll_ = false, miniScroll_ = false;
    TAutoSizeType autoSizeType_ = asVertical;
    TTextVAlignment vAlignment_ = tvaTop;
    TColor urlColor_ = clBlue, hoverColor_ = clNone, hoverFontColor_ = clNone;
    TColor shadowColor_ = clGray;
    int shadowOffset_ = 1;
    bool hover_ = false;
    TBevelCut bevelInner_ = bvNone, bevelOuter_ = bvNone;
    int bevelWidth_ = 1, borderLineWidth_ = 1;
    bool enableBlink_ = false, ellipsis_ = false;
    TImageList* images_ = nullptr;
    TUxPictureContainer* pictures_ = nullptr;
    TUxPictureCache cache_;
    std::unique_ptr<ImageFinder> finder_;
    std::unique_ptr<TTimer> timer_;

    uxhtml::TLayout layout_;
    bool layoutValid_ = false;
    int selected_ = -1, hoverAnchor_ = -1, entered_ = -1, pressed_ = -1;
    bool handCursor_ = false;
    int64_t ticks_ = 0;
    int scrollPos_ = 0, scrollDir_ = 0;
    bool scrollHeld_ = false;
};
