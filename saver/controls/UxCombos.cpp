#include "UxCombos.h"

#include <fontconfig/fontconfig.h>

#include <QAbstractItemView>
#include <QEvent>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QStylePainter>

#include <algorithm>
#include <set>

#include "SysUtils.h"
#include "UxUtils.h"

namespace {

constexpr int kObjectRole = Qt::UserRole + 1;

// Lets the combo box paint and size every row of its list.
class OwnerDrawDelegate : public QStyledItemDelegate {
public:
    explicit OwnerDrawDelegate(TOwnerDrawComboBox* Box) : QStyledItemDelegate(Box), box_(Box) {}
    void paint(QPainter* P, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        P->save();
        box_->DrawItem(*P, Option.rect, Index.row(), (Option.state & QStyle::State_Selected) != 0);
        P->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        return {QStyledItemDelegate::sizeHint(Option, Index).width(), box_->ItemHeight()};
    }

private:
    TOwnerDrawComboBox* box_;
};

// A picture with its transparent colour (the bottom-left pixel) cleared.
QPixmap GlyphPixmap(const TBitmap* Bmp) {
    if (!Bmp || Bmp->Empty()) return {};
    QImage img(Bmp->Width(), Bmp->Height(), QImage::Format_ARGB32);
    const uint8_t* bl = Bmp->ScanLine(Bmp->Height() - 1);
    const QRgb transparent = qRgb(bl[2], bl[1], bl[0]);
    for (int y = 0; y < Bmp->Height(); ++y) {
        const uint8_t* row = Bmp->ScanLine(y);
        for (int x = 0; x < Bmp->Width(); ++x) {
            const QRgb c = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            img.setPixel(x, y, c == transparent ? 0u : c);
        }
    }
    return QPixmap::fromImage(img);
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

// ---- Owner-draw combo box ----

TOwnerDrawComboBox::TOwnerDrawComboBox(QWidget* Parent) : QComboBox(Parent) {
    setItemDelegate(new OwnerDrawDelegate(this));
    SetStyle(csDropDownList);
}

TOwnerDrawComboBox::~TOwnerDrawComboBox() = default;

void TOwnerDrawComboBox::SetStyle(TComboBoxStyle Value) {
    style_ = Value;
    setEditable(Value != csDropDownList);
    ApplyItemHeight();
}

int TOwnerDrawComboBox::ItemHeight() const { return std::max(fontMetrics().height() + 1, 9); }

void TOwnerDrawComboBox::ApplyItemHeight() {
    // The list asks the delegate again for every row's size.
    if (view()) view()->doItemsLayout();
    updateGeometry();
    update();
}

void TOwnerDrawComboBox::DrawItem(QPainter& P, const QRect& Rect, int Index, bool Selected) {
    P.fillRect(Rect, palette().brush(Selected ? QPalette::Highlight : QPalette::Base));
    P.setPen(palette().color(Selected ? QPalette::HighlightedText : QPalette::Text));
    P.drawText(Rect.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::TextSingleLine, itemText(Index));
}

void TOwnerDrawComboBox::changeEvent(QEvent* E) {
    QComboBox::changeEvent(E);
    if (E->type() == QEvent::FontChange) ApplyItemHeight();
}

void TOwnerDrawComboBox::paintEvent(QPaintEvent* E) {
    if (isEditable()) {
        QComboBox::paintEvent(E);
        return;
    }
    // The frame and arrow as the style draws them, the current item drawn by the program.
    QStylePainter p(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.currentText.clear();
    opt.currentIcon = QIcon();
    p.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() >= 0) {
        p.save();
        p.setClipRect(field);
        DrawItem(p, field, currentIndex(), hasFocus());
        p.restore();
    } else if (!placeholderText().isEmpty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(field.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::TextSingleLine, placeholderText());
    }
}

// ---- Font families ----

std::vector<TFontFamilyInfo> ScreenFontFamilies() {
    std::vector<TFontFamilyInfo> out;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* set = pattern && os ? FcFontList(nullptr, pattern, os) : nullptr;
    std::set<std::string> seen;
    for (int i = 0; set && i < set->nfont; ++i) {
        FcChar8* family = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch || !family) continue;
        const std::string name = reinterpret_cast<const char*>(family);
        if (name.empty() || !seen.insert(name).second) continue;
        const QString q = Q(name);
        TFontFamilyInfo f;
        f.Name = name;
        f.FontType = QFontDatabase::isSmoothlyScalable(q) ? TRUETYPE_FONTTYPE : RASTER_FONTTYPE;
        const QList<QFontDatabase::WritingSystem> ws = QFontDatabase::writingSystems(q);
        if (ws.contains(QFontDatabase::Symbol)) f.CharSet = SYMBOL_CHARSET;
        else if (ws.contains(QFontDatabase::Latin)) f.CharSet = ANSI_CHARSET;
        else f.CharSet = 1;   // another script's set (DEFAULT_CHARSET)
        f.PitchAndFamily = QFontDatabase::isFixedPitch(q) ? FIXED_PITCH : 0;
        out.push_back(std::move(f));
    }
    if (set) FcFontSetDestroy(set);
    if (os) FcObjectSetDestroy(os);
    if (pattern) FcPatternDestroy(pattern);
    return out;
}

bool FontPassesFilter(const TFontFamilyInfo& Font, TFontListOptions Options) {
    auto on = [&](TFontListOption o) { return (Options & (1u << o)) != 0; };
    if (on(foAnsiOnly) && Font.CharSet != ANSI_CHARSET) return false;
    if (on(foTrueTypeOnly) && !(Font.FontType & TRUETYPE_FONTTYPE)) return false;
    if (on(foFixedPitchOnly) && !(Font.PitchAndFamily & FIXED_PITCH)) return false;
    if (on(foOEMFontsOnly) && Font.CharSet != OEM_CHARSET) return false;
    if (on(foNoOEMFonts) && Font.CharSet == OEM_CHARSET) return false;
    if (on(foNoSymbolFonts) && Font.CharSet == SYMBOL_CHARSET) return false;
    if (on(foScalableOnly) && (Font.FontType & RASTER_FONTTYPE)) return false;
    return true;
}

// ---- Font combo box ----

TFontComboBox::TFontComboBox(QWidget* Parent) : TOwnerDrawComboBox(Parent) {
    RegisterUxCursors();
    trueTypeBmp_ = CreateBitmapFromResource(HInstance, "TRUETYPE_FNT");
    if (!trueTypeBmp_) ResourceNotFound("TRUETYPE_FNT");
    deviceBmp_ = CreateBitmapFromResource(HInstance, "DEVICE_FNT");
    if (!deviceBmp_) ResourceNotFound("DEVICE_FNT");
    trueTypeGlyph_ = GlyphPixmap(trueTypeBmp_.get());
    deviceGlyph_ = GlyphPixmap(deviceBmp_.get());
    // A click on an item is the class library's Click, which fires the change event.
    connect(this, &QComboBox::activated, this, [this](int) { Change(); });
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& t) { TextEdited(t); });
    ApplyItemHeight();
}

TFontComboBox::~TFontComboBox() = default;

int TFontComboBox::ItemHeight() const {
    return std::max(TOwnerDrawComboBox::ItemHeight(), trueTypeBmp_ ? trueTypeBmp_->Height() - 1 : 0);
}

std::vector<TFontFamilyInfo> TFontComboBox::EnumFontFamilies(TFontDevice Source) {
    if (Source == fdScreen) return ScreenFontFamilies();
    return {};   // no printer fonts
}

void TFontComboBox::FillList() {
    ++updating_;
    clear();
    std::vector<TFontFamilyInfo> all;
    if (device_ == fdScreen || device_ == fdBoth) all = EnumFontFamilies(fdScreen);
    if (device_ == fdPrinter || device_ == fdBoth) {
        try {
            auto printer = EnumFontFamilies(fdPrinter);
            all.insert(all.end(), printer.begin(), printer.end());
        } catch (const std::exception&) {
            // A printer that cannot be asked leaves the screen's fonts.
        }
    }
    std::vector<const TFontFamilyInfo*> kept;
    std::set<std::string> names;
    for (const TFontFamilyInfo& f : all) {
        if (!names.insert(f.Name).second || !FontPassesFilter(f, options_)) continue;
        kept.push_back(&f);
    }
    // A sorted list, compared as the class library's sorted strings: without case.
    std::stable_sort(kept.begin(), kept.end(), [](const TFontFamilyInfo* a, const TFontFamilyInfo* b) {
        return QString::compare(Q(a->Name), Q(b->Name), Qt::CaseInsensitive) < 0;
    });
    for (const TFontFamilyInfo* f : kept) {
        const uint32_t object = (f->FontType & (DEVICE_FONTTYPE | TRUETYPE_FONTTYPE)) |
                                (f->CharSet != SYMBOL_CHARSET ? kFontNotSymbol : 0);
        addItem(Q(f->Name), QVariant(uint(object)));
    }
    filled_ = true;
    --updating_;
}

void TFontComboBox::EnsureList() {
    if (!filled_) FillList();
}

void TFontComboBox::showEvent(QShowEvent* E) {
    EnsureList();
    TOwnerDrawComboBox::showEvent(E);
}

uint32_t TFontComboBox::ItemObject(int Index) const {
    if (Index < 0 || Index >= count()) return 0;
    return itemData(Index).toUInt();
}

QFont TFontComboBox::ItemFont(int Index) const {
    QFont f = font();
    if (useFonts_ && (ItemObject(Index) & kFontNotSymbol)) f.setFamily(itemText(Index));
    return f;
}

std::string TFontComboBox::FontName() const { return currentText().toStdString(); }

void TFontComboBox::Select(const std::string& Name) {
    const int i = findText(Q(Name), Qt::MatchFixedString);   // the first, without case
    if (i >= 0) setCurrentIndex(i);
    else if (Style() == csDropDownList) setCurrentIndex(-1);
    else {
        setCurrentIndex(-1);
        setEditText(Q(Name));
    }
}

void TFontComboBox::SetFontName(const std::string& Value) {
    EnsureList();
    if (FontName() == Value) return;
    ++updating_;
    Select(Value);
    --updating_;
    Change();
}

void TFontComboBox::Reset() {
    const std::string old = FontName();
    FillList();
    ++updating_;
    Select(old);
    --updating_;
    if (!SameText(FontName(), old)) Change();
}

void TFontComboBox::SetDevice(TFontDevice Value) {
    device_ = Value;
    Reset();
}

void TFontComboBox::SetOptions(TFontListOptions Value) {
    options_ = Value;
    Reset();
}

void TFontComboBox::SetTrueTypeOnly(bool Value) {
    SetOptions(Value ? options_ | (1u << foTrueTypeOnly) : options_ & ~(1u << foTrueTypeOnly));
}

void TFontComboBox::SetUseFonts(bool Value) {
    useFonts_ = Value;
    update();
    if (view()) view()->viewport()->update();
}

void TFontComboBox::SetStyle(TComboBoxStyle Value) {
    ++updating_;
    TOwnerDrawComboBox::SetStyle(Value);
    --updating_;
}

void TFontComboBox::TextEdited(const QString& Text) {
    if (updating_ || Style() == csDropDownList) return;
    const int i = findText(Text, Qt::MatchFixedString);
    if (i >= 0 && i != currentIndex()) {
        ++updating_;
        setCurrentIndex(i);
        --updating_;
        Change();
    }
}

void TFontComboBox::Change() {
    if (updating_ == 0 && OnChange) OnChange();
}

bool TFontComboBox::event(QEvent* E) {
    // Fonts installed or removed while the program runs.
    if (E->type() == QEvent::ApplicationFontChange && filled_) Reset();
    return TOwnerDrawComboBox::event(E);
}

void TFontComboBox::DrawItem(QPainter& P, const QRect& Rect, int Index, bool Selected) {
    P.fillRect(Rect, palette().brush(Selected ? QPalette::Highlight : QPalette::Base));
    const uint32_t object = ItemObject(Index);
    const QPixmap* glyph = (object & TRUETYPE_FONTTYPE) ? &trueTypeGlyph_
                           : (object & DEVICE_FONTTYPE) ? &deviceGlyph_ : nullptr;
    const int glyphWidth = glyph ? glyph->width() : 20;
    if (glyph) P.drawPixmap(Rect.left() + 2, (Rect.top() + Rect.bottom() + 1 - glyph->height()) / 2, *glyph);
    QRect text = Rect;
    text.setLeft(Rect.left() + glyphWidth + 6);
    P.setFont(ItemFont(Index));
    P.setPen(palette().color(Selected ? QPalette::HighlightedText : QPalette::Text));
    const Qt::Alignment dir = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    P.drawText(text, int(Qt::AlignVCenter | Qt::TextSingleLine | dir), itemText(Index));
}
