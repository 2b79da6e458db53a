#include "UxUtils.h"

#include <string_view>

#include "Forms.h"

namespace {

// The program's pictures as character art: '.' is the transparent colour (the bottom-left
// pixel of each), the other letters name colours.
struct Picture {
    const char* name;
    int width, height;
    std::string_view rows;
    constexpr bool Whole() const { return rows.size() == size_t(width) * size_t(height); }
};

// A "TT" of two overlapping letters, grey behind black.
constexpr Picture kTrueType = {"TRUETYPE_FNT", 14, 11,
                           "gggggggg......"
                           "g..gg..g......"
                           "...gg........."
                           "...gg.kkkkkkkk"
                           "...gg.k..kk..k"
                           "...gg....kk..."
                           "..gggg...kk..."
                           ".........kk..."
                           ".........kk..."
                           "........kkkk.."
                           ".............."};
// A small printer.
constexpr Picture kDevice = {"DEVICE_FNT", 14, 11,
                         "...kkkkkkkk..."
                         "...kwwwwwwk..."
                         "...kwwwwwwk..."
                         ".kkkkkkkkkkkk."
                         ".kggggggggggk."
                         ".kggggggggrgk."
                         ".kggggggggggk."
                         ".kkkkkkkkkkkk."
                         "...kwwwwwwk..."
                         "...kkkkkkkk..."
                         ".............."};
// The drop-down arrows of the colour button.
constexpr Picture kArrow = {"UX_ARROW_BMP", 7, 4,
                        "kkkkkkk"
                        ".kkkkk."
                        "..kkk.."
                        "...k..."};
constexpr Picture kArrowDisabled = {"UX_ARROW_DISABLED_BMP", 8, 5,
                                "gggggggg"
                                ".gggggww"
                                "..gggww."
                                "...gww.."
                                "....w..."};

const Picture* const kPictures[] = {&kTrueType, &kDevice, &kArrow, &kArrowDisabled};
static_assert(kTrueType.Whole() && kDevice.Whole() && kArrow.Whole() && kArrowDisabled.Whole());

TColor ColourOf(char c) {
    switch (c) {
    case 'k': return clBlack;
    case 'g': return clGray;
    case 'w': return clWhite;
    case 'r': return clRed;
    default: return clFuchsia;   // transparent
    }
}

}  // namespace

void ResourceNotFound(const std::string& Name) { throw EResNotFound("Resource " + Name + " not found"); }
void ResourceNotFound(int Id) { ResourceNotFound(IntToStr(Id)); }

std::unique_ptr<TBitmap> CreateBitmapFromResource(uintptr_t Instance, const std::string& Name) {
    if (Instance == 0 || Name.empty()) return nullptr;
    // Numeric ids: none of the program's pictures has one.
    if (Name.find_first_not_of("0123456789") == std::string::npos) return nullptr;
    for (const Picture* p : kPictures) {
        if (!SameText(p->name, Name)) continue;
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetPixelFormat(pf24bit);
        bmp->SetSize(p->width, p->height);
        for (int y = 0; y < p->height; ++y) {
            uint8_t* row = bmp->ScanLine(y);
            for (int x = 0; x < p->width; ++x) {
                const TColor c = ColourOf(p->rows[y * p->width + x]);
                row[3 * x] = GetBValue(c);
                row[3 * x + 1] = GetGValue(c);
                row[3 * x + 2] = GetRValue(c);
            }
        }
        return bmp;
    }
    return nullptr;
}

std::string CopyResString(const std::string& S) { return S; }

void RegisterUxCursors() {
    static bool done = false;
    if (done) return;
    done = true;
    Screen->SetCursors(crUxHand, Screen->Cursors(crHandPoint));
    Screen->SetCursors(crUxDrag, Screen->Cursors(crDrag));
}
