#include "LuxIOParams.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "LuxIO.h"
#include "lxutils.h"
#include "lxview.h"

TGifLZWDecompressFunc DefGifLZWDecompress = nullptr;
TGifLZWCompressFunc DefGifLZWCompress = nullptr;
TTiffLZWDecompressFunc DefTiffLZWDecompress = nullptr;
TTiffLZWCompressFunc DefTiffLZWCompress = nullptr;

TDateTime LXTodayDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const year_month_day ymd{year(local.tm_year + 1900), month(unsigned(local.tm_mon + 1)),
                             day(unsigned(local.tm_mday))};
    const year_month_day epoch{year(1899), month(12), day(30)};
    return double((sys_days(ymd) - sys_days(epoch)).count());
}

namespace {

// The value groups of the parameters, reset and copied as wholes.
template <class... Group>
struct GroupList {
    static void Reset(TLXIOParams& p) { ((static_cast<Group&>(p) = Group{}), ...); }
    static void Copy(TLXIOParams& to, const TLXIOParams& from) {
        ((static_cast<Group&>(to) = static_cast<const Group&>(from)), ...);
    }
};
using FormatGroups = GroupList<TLXTiffParams, TLXGifParams, TLXJpegParams, TLXPcxParams,
                               TLXBmpParams, TLXIconParams, TLXPngParams, TLXTgaParams>;
using AllGroups = GroupList<TLXCommonParams, TLXTiffParams, TLXGifParams, TLXJpegParams,
                            TLXPcxParams, TLXBmpParams, TLXIconParams, TLXPngParams,
                            TLXTgaParams, TLXExifParams>;

template <size_t N>
void SetReal(TLXExifReal (&a)[N], int i, double v) {
    if (i < 0 || size_t(i) >= N) return;
    a[i].Value = v;
    a[i].Present = 1;
}
template <size_t N>
double GetReal(const TLXExifReal (&a)[N], int i) {
    return (i < 0 || size_t(i) >= N) ? 0.0 : a[i].Value;
}

}  // namespace

TLXIOParams::TLXIOParams(TLuxIO* AOwner)
    : JpegMarkers(std::make_unique<TLXMarkerList>()), PnmComments(std::make_unique<TStringList>()),
      IPTCInfo(std::make_unique<TLXIPTCInfoList>()), ExifThumbnail(std::make_unique<TBitmap>()),
      owner_(AOwner) {
    SetDefaults();
}

TLXIOParams::~TLXIOParams() = default;

void TLXIOParams::FreePalette() {
    Palette.reset();
    PaletteCount = 0;
}

TRGB* TLXIOParams::AllocPalette(int Count) {
    FreePalette();
    if (Count <= 0) return nullptr;
    Palette = std::make_unique<TRGB[]>(size_t(Count));   // value-initialised: zeroed
    PaletteCount = Count;
    return Palette.get();
}

void TLXIOParams::ClearExif() {
    static_cast<TLXExifParams&>(*this) = TLXExifParams{};
    ExifThumbnail->SetPixelFormat(pf24bit);
    ExifThumbnail->SetSize(1, 1);
}

void TLXIOParams::SetDefaults() {
    FreePalette();
    // Size and resolution come from the owner's target, and stay as they are without one.
    const TLXCommonParams kept = *this;
    static_cast<TLXCommonParams&>(*this) = TLXCommonParams{};
    Width = kept.Width;
    Height = kept.Height;
    DpiX = kept.DpiX;
    DpiY = kept.DpiY;
    if (owner_) {
        if (TBitmap* b = owner_->Bitmap()) {
            Width = b->Width();
            Height = b->Height();
        }
        if (TLXView* v = owner_->AttachedView()) {
            DpiX = v->DpiX();
            DpiY = v->DpiY();
        }
    }
    FormatGroups::Reset(*this);
    JpegMarkers->Clear();
    PnmComments->Clear();
    // A reset is no edit by the application: an emptied list must not be written as APP13.
    IPTCInfo->Clear();
    IPTCInfo->SetChanged(false);
    ClearExif();
}

void TLXIOParams::Assign(const TLXIOParams* S) {
    if (!S || S == this) return;
    AllGroups::Copy(*this, *S);
    FreePalette();
    if (S->Palette && S->PaletteCount > 0) {
        TRGB* p = AllocPalette(S->PaletteCount);
        std::copy(S->Palette.get(), S->Palette.get() + S->PaletteCount, p);
    }
    JpegMarkers->Assign(S->JpegMarkers.get());
    PnmComments->Assign(S->PnmComments.get());
    IPTCInfo->Assign(S->IPTCInfo.get());
    IPTCInfo->SetChanged(S->IPTCInfo->Changed());   // a copy is as edited as its source
    CopyBitmap(S->ExifThumbnail.get(), ExifThumbnail.get());
}

void TLXExifParams::SetExifISOSpeedRatings(int i, int v) {
    if (i >= 0 && i < 2) ExifISOSpeedRatings[i] = v;
}
int TLXExifParams::GetExifISOSpeedRatings(int i) const {
    return (i >= 0 && i < 2) ? ExifISOSpeedRatings[i] : 0;
}
void TLXExifParams::SetExifWhitePoint(int i, double v) { SetReal(ExifWhitePoint, i, v); }
double TLXExifParams::GetExifWhitePoint(int i) const { return GetReal(ExifWhitePoint, i); }
void TLXExifParams::SetExifPrimaryChromaticities(int i, double v) {
    SetReal(ExifPrimaryChromaticities, i, v);
}
double TLXExifParams::GetExifPrimaryChromaticities(int i) const {
    return GetReal(ExifPrimaryChromaticities, i);
}
void TLXExifParams::SetExifYCbCrCoefficients(int i, double v) { SetReal(ExifYCbCrCoefficients, i, v); }
double TLXExifParams::GetExifYCbCrCoefficients(int i) const {
    return GetReal(ExifYCbCrCoefficients, i);
}
void TLXExifParams::SetExifReferenceBlackWhite(int i, double v) {
    SetReal(ExifReferenceBlackWhite, i, v);
}
double TLXExifParams::GetExifReferenceBlackWhite(int i) const {
    return GetReal(ExifReferenceBlackWhite, i);
}
