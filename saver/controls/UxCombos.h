// Combo boxes whose items the program draws: the owner-draw base and the font combo box,
// which lists the installed font families with a glyph for outline and device fonts and can
// show each name in its own face.
#pragma once

#include <QComboBox>
#include <QPixmap>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Graphics.h"

class QPainter;

// The class library's combo styles, in its order.
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

class TOwnerDrawComboBox : public QComboBox {
public:
    explicit TOwnerDrawComboBox(QWidget* Parent = nullptr);
    ~TOwnerDrawComboBox() override;

    TComboBoxStyle Style() const { return style_; }
    // csDropDownList: pick from the list only; the other two take typed text as well.
    virtual void SetStyle(TComboBoxStyle Value);
    // The height of one item: the font's text height + 1, at least 9.
    virtual int ItemHeight() const;
    void ApplyItemHeight();

    // Paints item Index (the list's rows and the box's face) into Rect.
    virtual void DrawItem(QPainter& P, const QRect& Rect, int Index, bool Selected);

protected:
    void changeEvent(QEvent* E) override;
    void paintEvent(QPaintEvent* E) override;

private:
    TComboBoxStyle style_ = csDropDownList;
};

// Font enumeration as the old desktop reported it.
constexpr unsigned RASTER_FONTTYPE = 1, DEVICE_FONTTYPE = 2, TRUETYPE_FONTTYPE = 4;
constexpr uint8_t ANSI_CHARSET = 0, SYMBOL_CHARSET = 2, OEM_CHARSET = 255;
constexpr uint8_t FIXED_PITCH = 1;
// The item object: the type bits, plus this bit unless the font is a symbol font.
constexpr uint32_t kFontNotSymbol = 0x100;

struct TFontFamilyInfo {
    std::string Name;
    unsigned FontType = TRUETYPE_FONTTYPE;
    uint8_t CharSet = ANSI_CHARSET;
    uint8_t PitchAndFamily = 0;
};

// The families of the screen: the first family name of every installed font (fontconfig's
// list), with the attributes from Qt's font database: outline fonts count as TrueType,
// bitmap fonts as raster; fonts with a symbol encoding have the symbol set, Latin fonts the
// ANSI set, others neither (there are no OEM or device fonts here).
std::vector<TFontFamilyInfo> ScreenFontFamilies();

enum TFontDevice { fdScreen, fdPrinter, fdBoth };
enum TFontListOption { foAnsiOnly, foTrueTypeOnly, foFixedPitchOnly, foNoOEMFonts, foOEMFontsOnly,
                       foScalableOnly, foNoSymbolFonts };
using TFontListOptions = unsigned;   // bit (1 << option) per option
constexpr TFontListOptions FontOptions(std::initializer_list<TFontListOption> List) {
    TFontListOptions s = 0;
    for (TFontListOption o : List) s |= 1u << o;
    return s;
}

// True when the family passes every selected option.
bool FontPassesFilter(const TFontFamilyInfo& Font, TFontListOptions Options);

class TFontComboBox : public TOwnerDrawComboBox {
public:
    explicit TFontComboBox(QWidget* Parent = nullptr);
    ~TFontComboBox() override;

    TFontDevice Device() const { return device_; }
    void SetDevice(TFontDevice Value);
    TFontListOptions Options() const { return options_; }
    void SetOptions(TFontListOptions Value);
    bool TrueTypeOnly() const { return (options_ & (1u << foTrueTypeOnly)) != 0; }
    void SetTrueTypeOnly(bool Value);
    // Draw each name in its own face (never a symbol font's).
    bool UseFonts() const { return useFonts_; }
    void SetUseFonts(bool Value);
    void SetStyle(TComboBoxStyle Value) override;

    // The box's text. Setting it selects the first item of that name (case-insensitive);
    // with none, a drop-down list selects nothing and the others show the name.
    std::string FontName() const;
    void SetFontName(const std::string& Value);

    // The object value of item Index: type bits, plus kFontNotSymbol.
    uint32_t ItemObject(int Index) const;
    // The face item Index is drawn in.
    QFont ItemFont(int Index) const;

    int ItemHeight() const override;
    void DrawItem(QPainter& P, const QRect& Rect, int Index, bool Selected) override;

    // Fired when the user picks a font and when a change of the list changes the name;
    // never while the list is being rebuilt.
    std::function<void()> OnChange;

    // Refills the list keeping the name; fires OnChange when the name did not survive.
    void Reset();

protected:
    // The families of one device; the printer has none here.
    virtual std::vector<TFontFamilyInfo> EnumFontFamilies(TFontDevice Source);
    bool event(QEvent* E) override;
    void showEvent(QShowEvent* E) override;

private:
    void FillList();
    void Select(const std::string& Name);
    void Change();
    void TextEdited(const QString& Text);

    void EnsureList();

    std::unique_ptr<TBitmap> trueTypeBmp_, deviceBmp_;
    QPixmap trueTypeGlyph_, deviceGlyph_;
    bool filled_ = false;
    TFontDevice device_ = fdScreen;
    TFontListOptions options_ = 0;
    bool useFonts_ = false;
    int updating_ = 0;
};
