#include "LuxIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "BMPFilt.h"
#include "GIFFilter.h"
#include "PCXFilter.h"
#include "Tiffilt.h"
#include "Win32.h"
#include "jpegfilt.h"
#include "lxutils.h"
#include "LuxMView.h"
#include "lxtgafil.h"
#include "lxtwain.h"
#include "lxview.h"
#include "metafile.h"
#include "pngfilt.h"
#include "pngfiltw.h"

TGifLZWDecompressFunc DefGifLZWDecompress = nullptr;
TGifLZWCompressFunc DefGifLZWCompress = nullptr;
TTiffLZWDecompressFunc DefTiffLZWDecompress = nullptr;
TTiffLZWCompressFunc DefTiffLZWCompress = nullptr;

TLXExifBlockReader ExifBlockReader = ReadExifBlock;

// =============================================================================================
// TLXIOParams
// =============================================================================================

namespace {

// Today's local date as a day count from 1899-12-30, time of day 0.
TDateTime Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const year_month_day ymd{year(local.tm_year + 1900), month(unsigned(local.tm_mon + 1)),
                             day(unsigned(local.tm_mday))};
    const year_month_day epoch{year(1899), month(12), day(30)};
    return double((sys_days(ymd) - sys_days(epoch)).count());
}

}  // namespace

TLXIOParams::TLXIOParams(TLuxIO* AOwner) : owner_(AOwner) {
    ExifThumbnail = std::make_unique<TBitmap>();
    JpegMarkers = std::make_unique<TLXMarkerList>();
    IPTCInfo = std::make_unique<TLXIPTCInfoList>();
    PnmComments = std::make_unique<TStringList>();
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
    ExifImageDescription.clear();
    ExifMake.clear();
    ExifModel.clear();
    ExifDateTime.clear();
    ExifSoftware.clear();
    ExifCopyright.clear();
    ExifVersion.clear();
    ExifDateTimeOriginal.clear();
    ExifDateTimeDigitized.clear();
    ExifSubsecTime.clear();
    ExifSubsecTimeOriginal.clear();
    ExifSubsecTimeDigitized.clear();
    ExifFlashPixVersion.clear();
    ExifRelatedSoundFile.clear();
    ExifOrientation = ExifResolutionUnit = ExifYCbCrPositioning = ExifExposureProgram = 0;
    ExifMeteringMode = ExifLightSource = ExifFlash = ExifColorSpace = 0;
    ExifPixelXDimension = ExifPixelYDimension = ExifFocalPlaneResolutionUnit = 0;
    ExifSensingMethod = ExifFileSource = ExifSceneType = 0;
    ExifXResolution = ExifYResolution = ExifExposureTime = ExifFNumber = 0;
    ExifCompressedBitsPerPixel = ExifShutterSpeedValue = ExifApertureValue = 0;
    ExifBrightnessValue = ExifExposureBiasValue = ExifMaxApertureValue = 0;
    ExifSubjectDistance = ExifFocalLength = ExifFocalPlaneXResolution = 0;
    ExifFocalPlaneYResolution = ExifExposureIndex = 0;
    for (int& v : ExifISOSpeedRatings) v = 0;
    for (TExifReal& r : ExifWhitePoint) r = {};
    for (TExifReal& r : ExifPrimaryChromaticities) r = {};
    for (TExifReal& r : ExifYCbCrCoefficients) r = {};
    for (TExifReal& r : ExifReferenceBlackWhite) r = {};
    ExifThumbnail->SetPixelFormat(pf24bit);
    ExifThumbnail->SetSize(1, 1);
}

void TLXIOParams::SetDefaults() {
    FreePalette();
    FileName.clear();

    BitsPerSample = 8;
    SamplesPerPixel = 3;
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
    FileType = 0;

    TiffCompression = 0;
    TiffImageIndex = 0;
    TiffPhotometric = 2;
    TiffPlanarConfig = 1;
    TiffXPos = TiffYPos = 0;
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TiffPageNumber = TiffPageCount = 0;
    TiffLZWDecompress = DefTiffLZWDecompress;
    TiffLZWCompress = DefTiffLZWCompress;
    TiffAdjustOrientation = true;
    TiffImageCount = 0;

    GifVersion = "GIF89a";
    GifImageIndex = 0;
    GifXPos = GifYPos = 0;
    GifDelayTime = 0;
    GifHasTransparency = false;
    GifTransparentColor = TRGB{};
    GifInterlaced = false;
    GifScreenWidth = GifScreenHeight = 0;
    GifBackground = TRGB{};
    GifAspectRatio = 0;
    GifLZWDecompress = DefGifLZWDecompress;
    GifLZWCompress = DefGifLZWCompress;
    GifImageCount = 0;

    JpegColorSpace = 2;
    JpegQuality = 50;
    JpegDCTMethod = 0;
    JpegOptimizeCoding = false;
    JpegSmoothing = 0;
    JpegProgressive = false;
    JpegScale = 1;
    JpegMarkers->Clear();
    JpegScaleDenominator = 1;

    PcxVersion = 5;
    PcxCompressed = true;
    BmpVersion = 1;
    BmpCompression = 0;
    IcoImageIndex = 0;
    IcoBackground = TRGB{255, 255, 255};
    CurImageIndex = 0;
    CurHotSpotX = CurHotSpotY = 0;
    CurBackground = TRGB{255, 255, 255};
    PngInterlaced = false;
    PngBackground = TRGB{};
    PngFilter = 0;
    PngCompression = 5;
    TgaXPos = TgaYPos = 0;
    TgaCompressed = true;
    TgaImageName.clear();
    TgaAuthor.clear();
    TgaDate = Today();
    TgaJobName.clear();
    TgaKeyColor = TRGB{};
    TgaAspectRatio = 1.0;
    TgaGamma = 2.2;
    TgaGrayLevel = false;
    PnmComments->Clear();
    // A reset is no edit by the application: an emptied list must not be written as APP13.
    IPTCInfo->Clear();
    IPTCInfo->SetChanged(false);
    ClearExif();
}

void TLXIOParams::Assign(const TLXIOParams* S) {
    if (!S || S == this) return;
    BitsPerSample = S->BitsPerSample;
    SamplesPerPixel = S->SamplesPerPixel;
    Width = S->Width;
    Height = S->Height;
    DpiX = S->DpiX;
    DpiY = S->DpiY;
    FileType = S->FileType;
    FileName = S->FileName;
    FreePalette();
    if (S->Palette && S->PaletteCount > 0) {
        TRGB* p = AllocPalette(S->PaletteCount);
        std::copy(S->Palette.get(), S->Palette.get() + S->PaletteCount, p);
    }

    TiffCompression = S->TiffCompression;
    TiffImageIndex = S->TiffImageIndex;
    TiffPhotometric = S->TiffPhotometric;
    TiffPlanarConfig = S->TiffPlanarConfig;
    TiffXPos = S->TiffXPos;
    TiffYPos = S->TiffYPos;
    TiffDocumentName = S->TiffDocumentName;
    TiffImageDescription = S->TiffImageDescription;
    TiffPageName = S->TiffPageName;
    TiffPageNumber = S->TiffPageNumber;
    TiffPageCount = S->TiffPageCount;
    TiffLZWDecompress = S->TiffLZWDecompress;
    TiffLZWCompress = S->TiffLZWCompress;
    TiffAdjustOrientation = S->TiffAdjustOrientation;
    TiffImageCount = S->TiffImageCount;

    GifVersion = S->GifVersion;
    GifImageIndex = S->GifImageIndex;
    GifXPos = S->GifXPos;
    GifYPos = S->GifYPos;
    GifDelayTime = S->GifDelayTime;
    GifHasTransparency = S->GifHasTransparency;
    GifTransparentColor = S->GifTransparentColor;
    GifInterlaced = S->GifInterlaced;
    GifScreenWidth = S->GifScreenWidth;
    GifScreenHeight = S->GifScreenHeight;
    GifBackground = S->GifBackground;
    GifAspectRatio = S->GifAspectRatio;
    GifLZWDecompress = S->GifLZWDecompress;
    GifLZWCompress = S->GifLZWCompress;
    GifImageCount = S->GifImageCount;

    JpegColorSpace = S->JpegColorSpace;
    JpegQuality = S->JpegQuality;
    JpegDCTMethod = S->JpegDCTMethod;
    JpegOptimizeCoding = S->JpegOptimizeCoding;
    JpegSmoothing = S->JpegSmoothing;
    JpegProgressive = S->JpegProgressive;
    JpegScale = S->JpegScale;
    JpegMarkers->Assign(S->JpegMarkers.get());
    JpegScaleDenominator = S->JpegScaleDenominator;

    PcxVersion = S->PcxVersion;
    PcxCompressed = S->PcxCompressed;
    BmpVersion = S->BmpVersion;
    BmpCompression = S->BmpCompression;
    IcoImageIndex = S->IcoImageIndex;
    IcoBackground = S->IcoBackground;
    CurImageIndex = S->CurImageIndex;
    CurHotSpotX = S->CurHotSpotX;
    CurHotSpotY = S->CurHotSpotY;
    CurBackground = S->CurBackground;
    PngInterlaced = S->PngInterlaced;
    PngBackground = S->PngBackground;
    PngFilter = S->PngFilter;
    PngCompression = S->PngCompression;
    TgaXPos = S->TgaXPos;
    TgaYPos = S->TgaYPos;
    TgaCompressed = S->TgaCompressed;
    TgaImageName = S->TgaImageName;
    TgaAuthor = S->TgaAuthor;
    TgaDate = S->TgaDate;
    TgaJobName = S->TgaJobName;
    TgaKeyColor = S->TgaKeyColor;
    TgaAspectRatio = S->TgaAspectRatio;
    TgaGamma = S->TgaGamma;
    TgaGrayLevel = S->TgaGrayLevel;
    PnmComments->Assign(S->PnmComments.get());
    IPTCInfo->Assign(S->IPTCInfo.get());
    IPTCInfo->SetChanged(S->IPTCInfo->Changed());   // a copy is as edited as its source

    CopyBitmap(S->ExifThumbnail.get(), ExifThumbnail.get());
    ExifImageDescription = S->ExifImageDescription;
    ExifMake = S->ExifMake;
    ExifModel = S->ExifModel;
    ExifDateTime = S->ExifDateTime;
    ExifSoftware = S->ExifSoftware;
    ExifCopyright = S->ExifCopyright;
    ExifVersion = S->ExifVersion;
    ExifDateTimeOriginal = S->ExifDateTimeOriginal;
    ExifDateTimeDigitized = S->ExifDateTimeDigitized;
    ExifSubsecTime = S->ExifSubsecTime;
    ExifSubsecTimeOriginal = S->ExifSubsecTimeOriginal;
    ExifSubsecTimeDigitized = S->ExifSubsecTimeDigitized;
    ExifFlashPixVersion = S->ExifFlashPixVersion;
    ExifRelatedSoundFile = S->ExifRelatedSoundFile;
    ExifOrientation = S->ExifOrientation;
    ExifResolutionUnit = S->ExifResolutionUnit;
    ExifYCbCrPositioning = S->ExifYCbCrPositioning;
    ExifExposureProgram = S->ExifExposureProgram;
    ExifMeteringMode = S->ExifMeteringMode;
    ExifLightSource = S->ExifLightSource;
    ExifFlash = S->ExifFlash;
    ExifColorSpace = S->ExifColorSpace;
    ExifPixelXDimension = S->ExifPixelXDimension;
    ExifPixelYDimension = S->ExifPixelYDimension;
    ExifFocalPlaneResolutionUnit = S->ExifFocalPlaneResolutionUnit;
    ExifSensingMethod = S->ExifSensingMethod;
    ExifFileSource = S->ExifFileSource;
    ExifSceneType = S->ExifSceneType;
    ExifXResolution = S->ExifXResolution;
    ExifYResolution = S->ExifYResolution;
    ExifExposureTime = S->ExifExposureTime;
    ExifFNumber = S->ExifFNumber;
    ExifCompressedBitsPerPixel = S->ExifCompressedBitsPerPixel;
    ExifShutterSpeedValue = S->ExifShutterSpeedValue;
    ExifApertureValue = S->ExifApertureValue;
    ExifBrightnessValue = S->ExifBrightnessValue;
    ExifExposureBiasValue = S->ExifExposureBiasValue;
    ExifMaxApertureValue = S->ExifMaxApertureValue;
    ExifSubjectDistance = S->ExifSubjectDistance;
    ExifFocalLength = S->ExifFocalLength;
    ExifFocalPlaneXResolution = S->ExifFocalPlaneXResolution;
    ExifFocalPlaneYResolution = S->ExifFocalPlaneYResolution;
    ExifExposureIndex = S->ExifExposureIndex;
    std::copy(std::begin(S->ExifISOSpeedRatings), std::end(S->ExifISOSpeedRatings), ExifISOSpeedRatings);
    std::copy(std::begin(S->ExifWhitePoint), std::end(S->ExifWhitePoint), ExifWhitePoint);
    std::copy(std::begin(S->ExifPrimaryChromaticities), std::end(S->ExifPrimaryChromaticities),
              ExifPrimaryChromaticities);
    std::copy(std::begin(S->ExifYCbCrCoefficients), std::end(S->ExifYCbCrCoefficients),
              ExifYCbCrCoefficients);
    std::copy(std::begin(S->ExifReferenceBlackWhite), std::end(S->ExifReferenceBlackWhite),
              ExifReferenceBlackWhite);
}

namespace {
template <size_t N>
void SetReal(TLXIOParams::TExifReal (&a)[N], int i, double v) {
    if (i < 0 || size_t(i) >= N) return;
    a[i].Value = v;
    a[i].Present = 1;
}
template <size_t N>
double GetReal(const TLXIOParams::TExifReal (&a)[N], int i) {
    return (i < 0 || size_t(i) >= N) ? 0.0 : a[i].Value;
}
}  // namespace

void TLXIOParams::SetExifISOSpeedRatings(int i, int v) {
    if (i >= 0 && i < 2) ExifISOSpeedRatings[i] = v;
}
int TLXIOParams::GetExifISOSpeedRatings(int i) const {
    return (i >= 0 && i < 2) ? ExifISOSpeedRatings[i] : 0;
}
void TLXIOParams::SetExifWhitePoint(int i, double v) { SetReal(ExifWhitePoint, i, v); }
double TLXIOParams::GetExifWhitePoint(int i) const { return GetReal(ExifWhitePoint, i); }
void TLXIOParams::SetExifPrimaryChromaticities(int i, double v) {
    SetReal(ExifPrimaryChromaticities, i, v);
}
double TLXIOParams::GetExifPrimaryChromaticities(int i) const {
    return GetReal(ExifPrimaryChromaticities, i);
}
void TLXIOParams::SetExifYCbCrCoefficients(int i, double v) { SetReal(ExifYCbCrCoefficients, i, v); }
double TLXIOParams::GetExifYCbCrCoefficients(int i) const { return GetReal(ExifYCbCrCoefficients, i); }
void TLXIOParams::SetExifReferenceBlackWhite(int i, double v) {
    SetReal(ExifReferenceBlackWhite, i, v);
}
double TLXIOParams::GetExifReferenceBlackWhite(int i) const {
    return GetReal(ExifReferenceBlackWhite, i);
}

// =============================================================================================
// Format registry
// =============================================================================================

std::vector<std::unique_ptr<TLXFormatEntry>>& FormatRegistry() {
    static std::vector<std::unique_ptr<TLXFormatEntry>> registry = [] {
        struct Row { int id; const char* desc; const char* ext; };
        static const Row rows[] = {
            {1, "TIFF Bitmap", "TIF;TIFF"},
            {2, "CompuServe Bitmap", "GIF"},
            {3, "JPEG Bitmap", "JPG;JPEG;JPE"},
            {4, "PaintBrush", "PCX"},
            {5, "Windows Bitmap", "BMP;DIB;RLE"},
            {6, "Windows Icon", "ICO"},
            {7, "Windows Cursor", "CUR"},
            {8, "Portable Network Graphics", "PNG"},
            {9, "Windows Metafile", "WMF"},
            {10, "Enhanced Windows Metafile", "EMF"},
            {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX"},
            {12, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM"},
        };
        std::vector<std::unique_ptr<TLXFormatEntry>> v;
        for (const Row& r : rows) {
            auto e = std::make_unique<TLXFormatEntry>();
            e->FileType = r.id;
            e->Description = r.desc;
            e->Extensions = r.ext;
            v.push_back(std::move(e));
        }
        return v;
    }();
    return registry;
}

namespace {
std::vector<std::string> SplitExtensions(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t semi = list.find(';', start);
        const size_t end = semi == std::string::npos ? list.size() : semi;
        if (end > start) out.push_back(list.substr(start, end - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return out;
}
}  // namespace

TLXFormatEntry* FindFormatById(int FileType) {
    for (auto& e : FormatRegistry())
        if (e->FileType == FileType) return e.get();
    return nullptr;
}

int FormatExtensionCount(int FileType) {
    const TLXFormatEntry* e = FindFormatById(FileType);
    return e ? int(SplitExtensions(e->Extensions).size()) : 0;
}

std::string FormatExtension(int FileType, int i) {
    const TLXFormatEntry* e = FindFormatById(FileType);
    if (!e || i < 0) return {};
    const auto exts = SplitExtensions(e->Extensions);
    return size_t(i) < exts.size() ? exts[size_t(i)] : std::string();
}

TLXFormatEntry* FindFormatByExtension(const std::string& Extension) {
    if (Extension.empty()) return nullptr;
    for (auto& e : FormatRegistry())
        for (const std::string& x : SplitExtensions(e->Extensions))
            if (SameText(x, Extension)) return e.get();
    return nullptr;
}

// =============================================================================================
// Stream header
// =============================================================================================

namespace {
uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Characters up to the first zero byte, at most 5.
std::string HeaderTag(const uint8_t* p, int64_t n) {
    std::string tag;
    for (int64_t i = 0; i < 5 && i < n && p[i] != 0; ++i) tag.push_back(char(p[i]));
    return tag;
}
}  // namespace

bool ReadStreamHeader(TStream* Stream, std::string& Tag, uint32_t& Length) {
    uint8_t h[LXStreamHeaderSize];
    Tag.clear();
    Length = 0;
    if (Stream->Read(h, LXStreamHeaderSize) != LXStreamHeaderSize) return false;
    Tag = HeaderTag(h, LXStreamHeaderSize);
    Length = LE32(h + 8);
    return true;
}

void WriteStreamHeader(TStream* Stream, const char* Tag, uint32_t Length, bool& Error) {
    uint8_t h[LXStreamHeaderSize] = {};
    std::memcpy(h, Tag, std::min<size_t>(4, std::strlen(Tag)));
    for (int i = 0; i < 4; ++i) h[8 + i] = uint8_t(Length >> (8 * i));
    StreamWriteChecked(Stream, Error, h, LXStreamHeaderSize);
}

// =============================================================================================
// Detection
// =============================================================================================

namespace {

// Reads up to n bytes at the current position; the count read.
int64_t ReadSome(TStream* s, void* buf, int64_t n) { return std::max<int64_t>(0, s->Read(buf, n)); }

bool ProbeIconDirectory(TStream* Stream, int Type) {
    const int64_t start = Stream->Position();
    bool ok = false;
    try {
        if (Stream->Size() > 22) {
            uint8_t head[6];
            if (ReadSome(Stream, head, 6) == 6 && LE16(head) == 0 && LE16(head + 2) == Type &&
                LE16(head + 4) != 0) {
                const int count = LE16(head + 4);
                std::vector<uint8_t> dir(size_t(count) * 16);
                if (ReadSome(Stream, dir.data(), int64_t(dir.size())) == int64_t(dir.size())) {
                    ok = true;
                    for (int i = 0; i < count && ok; ++i) {
                        const uint8_t* e = dir.data() + size_t(i) * 16;
                        // Offsets count from the start of the icon, which need not be the
                        // start of the stream.
                        const int64_t reached = 6 + int64_t(i + 1) * 16;
                        ok = e[3] == 0 && LE32(e + 8) != 0 && int64_t(LE32(e + 12)) >= reached;
                    }
                }
            }
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

bool ProbeIcoStream(TStream* Stream) { return ProbeIconDirectory(Stream, 1); }
bool ProbeCurStream(TStream* Stream) { return ProbeIconDirectory(Stream, 2); }

bool ProbeTgaStream(TStream* Stream) {
    const int64_t start = Stream->Position();
    uint8_t h[18];
    bool ok = false;
    try {
        if (ReadSome(Stream, h, 18) == 18) {
            const bool pnmLike = h[0] == 'P' && h[1] >= '2' && h[1] <= '6' &&
                                 (IsBlank(h[2]) || h[2] == '#');
            const uint8_t type = h[2], depth = h[16];
            ok = !pnmLike && (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
                 (depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32);
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

bool ProbePnmStream(TStream* Stream) {
    // Hostile data must not make the probe scan a whole file: the header has to lie within
    // the first 64 KB, and no token or comment may be longer than 1 KB.
    constexpr int64_t MaxScan = 64 * 1024;
    constexpr size_t MaxToken = 1024;
    constexpr int MaxTokens = 501;
    const int64_t start = Stream->Position();
    bool ok = false;
    try {
        std::vector<uint8_t> buf(static_cast<size_t>(MaxScan));
        const int64_t n = ReadSome(Stream, buf.data(), MaxScan);
        int64_t i = 0;
        bool bad = false;
        auto next = [&]() -> std::string {
            std::string tok;
            while (i < n) {
                const uint8_t c = buf[size_t(i)];
                if (c == '#') {
                    const int64_t begin = i;
                    while (i < n && buf[size_t(i)] != '\n' && buf[size_t(i)] != '\r') ++i;
                    if (i - begin > int64_t(MaxToken)) { bad = true; return {}; }
                    if (!tok.empty()) return tok;
                } else if (IsBlank(c)) {
                    ++i;
                    if (!tok.empty()) return tok;
                } else {
                    tok.push_back(char(c));
                    ++i;
                    if (tok.size() > MaxToken) { bad = true; return {}; }
                }
            }
            return tok;
        };
        auto number = [](const std::string& t) -> int64_t {
            if (t.empty() || t.size() > 10) return -1;
            int64_t v = 0;
            for (char c : t) {
                if (c < '0' || c > '9') return -1;
                v = v * 10 + (c - '0');
            }
            return v > 0x7FFFFFFF ? -1 : v;
        };
        int tokens = 0;
        const std::string magic = next();
        ++tokens;
        if (!bad && magic.size() == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6') {
            const int64_t w = number(next());
            const int64_t h = bad ? -1 : number(next());
            tokens += 2;
            if (!bad && magic[1] != '1' && magic[1] != '4') {
                next();   // the maximum value; its text does not decide
                ++tokens;
            }
            ok = !bad && tokens <= MaxTokens && w > 0 && h > 0;
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

int DetectStreamFormat(TStream* Stream) {
    int64_t size = 0, P = 0;
    try {
        size = Stream->Size();
        P = Stream->Position();
    } catch (...) {
        return 0;
    }
    int result = 0;
    try {
        for (auto& e : FormatRegistry()) {
            if (!e->Detector) continue;
            Stream->SetPosition(P);
            if (e->Detector(Stream)) {
                result = e->FileType;
                break;
            }
        }
        if (result == 0) {
            uint8_t h[16] = {};
            Stream->SetPosition(P);
            const int64_t n = ReadSome(Stream, h, 16);
            Stream->SetPosition(P);
            const std::string tag = n >= 12 ? HeaderTag(h, n) : std::string();
            // A JPEG start right at the position; prefixed JPEGs are looked for further down,
            // after the signatures whose data may well hold FF D8 FF in their first bytes.
            if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) result = 3;
            else if (size > 12 && tag == "JFIF") result = 3;
            else if (size > 13 && n >= 3 && std::memcmp(h, "GIF", 3) == 0) result = 2;
            else if (size > 12 && tag == "PCX2") result = 4;
            else if (size > 4 && n >= 4 && std::memcmp(h, "PCX\0", 4) == 0) result = 4;
            else if (size > 14 && n >= 2 && h[0] == 'B' && h[1] == 'M') result = 5;
            else if (size > 128 && n >= 2 && h[0] == 0x0A && h[1] <= 5) result = 4;
            else if (size > 12 && tag == "TIFF") result = 1;
            else if (size > 8 && n >= 2 && ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M')))
                result = 1;
            else if (size > 8 && ProbePngStream(Stream)) result = 8;
            else if (ProbeIcoStream(Stream)) result = 6;
            else if (ProbeCurStream(Stream)) result = 7;
            else if ((Stream->SetPosition(P), FindJpegStart(Stream) >= 0)) result = 3;
            else if ((Stream->SetPosition(P), ProbeTgaStream(Stream))) result = 11;
            else if ((Stream->SetPosition(P), ProbePnmStream(Stream))) result = 12;
        }
    } catch (...) {
    }
    try {
        Stream->SetPosition(P);
    } catch (...) {
    }
    return result;
}

// =============================================================================================
// Picture control stand-in
// =============================================================================================

TPicture::TPicture() : bitmap_(std::make_unique<TBitmap>()) {}
TPicture::~TPicture() = default;

TImage::TImage(TComponent* AOwner) : TComponent(AOwner), picture_(std::make_unique<TPicture>()) {}
TImage::~TImage() = default;

// =============================================================================================
// TLuxIO
// =============================================================================================

namespace {

// The thumbnail view keeps its own background: the component's colour is not passed to it.
bool ViewTakesBackground(TLXView* View) { return dynamic_cast<TLuxMView*>(View) == nullptr; }

bool IsOutOfMemory(const std::exception& e) {
    return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ||
           dynamic_cast<const EOutOfMemory*>(&e) != nullptr;
}

// Runs a codec call; running out of memory is a failed image, not a program error.
template <class F>
void Guarded(bool& Aborting, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        if (!IsOutOfMemory(e)) throw;
        Aborting = true;
    }
}

// Writes a file through a temporary one in the same folder, renamed over the target only
// when the save succeeded, so a failed save leaves an existing file as it was.
class TSafeFileWriter {
public:
    explicit TSafeFileWriter(const std::string& FileName) : target_(FileName) {
        mode_t mode = 0666;
        struct stat st{};
        const bool exists = ::stat(FileName.c_str(), &st) == 0;
        if (exists) mode = st.st_mode & 07777;
        const std::string dir = ExtractFilePath(FileName);
        const std::string base = ExtractFileName(FileName);
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            temp_ = dir + "." + base + "." + std::to_string(::getpid()) + "." +
                    std::to_string(attempt) + ".tmp";
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
        if (exists) (void)::fchmod(fd_, mode);   // keep the file's permissions, umask aside
        ::close(fd_);
        try {
            stream_ = std::make_unique<TFileStream>(temp_, fmCreate);
        } catch (...) {
            ::unlink(temp_.c_str());
            throw;
        }
    }
    ~TSafeFileWriter() {
        stream_.reset();
        if (!committed_) ::unlink(temp_.c_str());
    }
    TStream* Stream() { return stream_.get(); }
    // Keeps the written file when Ok, else throws it away.
    void Finish(bool Ok) {
        stream_.reset();
        if (!Ok) return;
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            throw EFCreateError("Cannot create file \"" + target_ + "\". " + std::strerror(errno));
        committed_ = true;
    }

private:
    std::string target_, temp_;
    int fd_ = -1;
    bool committed_ = false;
    std::unique_ptr<TFileStream> stream_;
};

constexpr unsigned ReadMode = fmOpenRead | fmShareDenyWrite;

}  // namespace

TLuxIO::TLuxIO(TComponent* AOwner)
    : TComponent(AOwner), params_(std::make_unique<TLXIOParams>(this)),
      previewFont_(std::make_unique<TFont>()),
      twainParams_(std::make_unique<TLXTWainParams>(this)) {}

TLuxIO::~TLuxIO() {
    DetachView();
    DetachImage();
}

TProgressRec TLuxIO::MakeProgress() {
    TProgressRec p;
    p.fOnProgress = OnProgress;
    p.Sender = this;
    p.Aborting = &Aborting;
    return p;
}

void TLuxIO::ClearMetaLists() {
    params_->IPTCInfo->Clear();
    params_->IPTCInfo->SetChanged(false);
    params_->JpegMarkers->Clear();
}

int64_t TLuxIO::DataLeft(TStream* Stream) {
    return std::max<int64_t>(0, Stream->Size() - Stream->Position());
}

// ---- Attachment ----

void TLuxIO::DetachView() {
    if (!view_) return;
    view_->RemoveBitmapChangeEvent(MakeMethod(this, &TLuxIO::ViewChanged));
    view_->RemoveFreeNotification(this);
    view_ = nullptr;
    mask_ = nullptr;
    if (target_ == Target::View) {
        bitmap_ = nullptr;
        target_ = Target::None;
    }
}

void TLuxIO::DetachImage() {
    if (!image_) return;
    image_->RemoveFreeNotification(this);
    image_ = nullptr;
    if (target_ == Target::Image) {
        bitmap_ = nullptr;
        target_ = Target::None;
    }
}

void TLuxIO::SetAttachedView(TLXView* View) {
    if (View == view_) return;
    DetachView();
    if (!View) return;
    DetachImage();
    view_ = View;
    bitmap_ = View->GetBitmap();
    target_ = Target::View;
    View->FreeNotification(this);
    View->RegisterBitmapChangeEvent(MakeMethod(this, &TLuxIO::ViewChanged));
    mask_ = View->GetAlphaMask();
}

void TLuxIO::SetAttachedTImage(TImage* Image) {
    if (Image == image_) return;
    if (!Image) {
        DetachImage();
        return;
    }
    DetachView();
    DetachImage();
    image_ = Image;
    bitmap_ = Image->Picture()->Bitmap();
    target_ = Target::Image;
    Image->FreeNotification(this);
    mask_ = nullptr;
}

void TLuxIO::SetAttachedBitmap(TBitmap* Bitmap) {
    if (!Bitmap) {
        if (view_ || image_) return;
        bitmap_ = nullptr;
        target_ = Target::None;
        return;
    }
    DetachView();
    DetachImage();
    mask_ = nullptr;
    bitmap_ = Bitmap;
    target_ = Target::Bare;
}

void TLuxIO::ViewChanged(TLXView* View, uint8_t Flag) {
    if (View != view_ || !view_) return;
    if (Flag == 1) {
        // The view is dying and empties its own list: only drop the references here.
        view_ = nullptr;
        mask_ = nullptr;
        if (target_ == Target::View) {
            bitmap_ = nullptr;
            target_ = Target::None;
        }
    } else {
        bitmap_ = View->GetBitmap();
        mask_ = View->GetAlphaMask();
    }
}

void TLuxIO::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (view_ && AComponent == static_cast<TComponent*>(view_)) DetachView();
    if (image_ && AComponent == static_cast<TComponent*>(image_)) DetachImage();
}

void TLuxIO::Update() {
    if (view_) {
        view_->Update();
        view_->ImageChange();
    } else if (bitmap_) {
        bitmap_->SetModified(true);
    }
}

TColor TLuxIO::Background() const { return view_ ? view_->Background() : background_; }

void TLuxIO::SetBackground(TColor Color) {
    if (!view_) background_ = Color;
    else if (ViewTakesBackground(view_)) view_->SetBackground(Color);
}

void TLuxIO::ClearBitmap() {
    if (!bitmap_ || bitmap_->Empty()) return;
    TCanvas* c = bitmap_->Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(ColorToRGB(Background()));
    c->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
    bitmap_->FlushCanvas();
}

void TLuxIO::AssignParams(TObject* Source) {
    if (auto* io = dynamic_cast<TLuxIO*>(Source)) params_->Assign(io->Params());
    else if (auto* p = dynamic_cast<TLXIOParams*>(Source)) params_->Assign(p);
}

void TLuxIO::SetPreviewFont(TFont* Font) {
    if (Font) previewFont_->Assign(Font);
}

// ---- Common steps of a load ----

void TLuxIO::DpiToView() {
    if (view_) view_->SetDpi(params_->DpiX, params_->DpiY);
}

void TLuxIO::AfterLoad(bool ReaderFillsMask, bool GiveDpi) {
    // The mask must always match the bitmap, also after a failed read: a mask of another
    // size would be read past its end when the view paints with alpha.
    if (mask_ && bitmap_) {
        const bool sized = mask_->Bits && mask_->BitsPerPixel == 8 &&
                           mask_->Width == bitmap_->Width() && mask_->Height == bitmap_->Height();
        if (!ReaderFillsMask || !sized) {
            mask_->AllocBits(bitmap_->Width(), bitmap_->Height(), 8);
            mask_->Fill(255);
        }
    }
    if (GiveDpi) DpiToView();
    Update();
}

void TLuxIO::ReadJpegMetadata(bool FileLoad) {
    TLXMarkerList* m = params_->JpegMarkers.get();
    const int iptc = m->IndexOf(237);
    if (iptc >= 0) params_->IPTCInfo->LoadFromBuffer(m->MarkerData(iptc), m->MarkerLength(iptc));
    const int app1 = m->IndexOf(225);
    if (app1 < 0 || !ExifBlockReader) return;
    const int ok = ExifBlockReader(m->MarkerData(app1), m->MarkerLength(app1), *params_);
    if (!FileLoad || ok == 0) return;
    // A JFIF header with only an aspect ratio (1 x 1): take the EXIF resolution, when it is
    // a sensible number (the values come from the file).
    if (params_->DpiX == 1 && params_->DpiY == 1) {
        const double f = params_->ExifResolutionUnit == 3 ? 2.54 : 1.0;
        const double x = params_->ExifXResolution * f, y = params_->ExifYResolution * f;
        if (std::isfinite(x) && std::isfinite(y) && x >= 1 && y >= 1 && x <= 65535 && y <= 65535) {
            params_->DpiX = int(x);
            params_->DpiY = int(y);
        }
    }
}

// ---- JPEG ----

void TLuxIO::LoadFromFileJPEG(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { JpegDecodeStream(&fs, bitmap_, *params_, false, prog); });
    }
    ReadJpegMetadata(true);
    params_->FileName = FileName;
    params_->FileType = lxftJPEG;
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamJPEG(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    const int64_t S = Stream->Position();
    std::string tag;
    uint32_t len = 0;
    const bool header = ReadStreamHeader(Stream, tag, len) && tag == "JFIF";
    if (!header) Stream->SetPosition(S);
    Guarded(Aborting, [&] { JpegDecodeStream(Stream, bitmap_, *params_, false, prog); });
    if (header) {
        // The header's length comes from the data: never past the end of the stream.
        const int64_t end = std::min<int64_t>(S + LXStreamHeaderSize + int64_t(len), Stream->Size());
        Stream->SetPosition(end);
    }
    ReadJpegMetadata(false);
    params_->FileName.clear();
    params_->FileType = lxftJPEG;
    AfterLoad(false, true);
}

void TLuxIO::StoreIPTC() {
    TLXIPTCInfoList* iptc = params_->IPTCInfo.get();
    if (!iptc->Changed()) return;
    const std::vector<uint8_t> buf = iptc->SaveToBuffer();
    TLXMarkerList* m = params_->JpegMarkers.get();
    const int i = m->IndexOf(237);
    // A block too long for one marker is refused rather than written truncated.
    const bool ok = i >= 0 ? m->SetMarker(i, 237, int64_t(buf.size()), buf.data())
                           : m->AddMarker(237, buf.data(), int64_t(buf.size()));
    if (!ok) Aborting = true;
}

bool TLuxIO::PrepareSave() {
    Aborting = false;
    if (!bitmap_) return false;
    if (bitmap_->PixelFormat() != pf24bit && bitmap_->PixelFormat() != pf1bit)
        bitmap_->SetPixelFormat(pf24bit);
    return true;
}

void TLuxIO::EncodeToFile(const std::string& FileName, const TEncodeCall& Encode) {
    TSafeFileWriter w(FileName);
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] { Encode(w.Stream(), prog); });
    w.Finish(!Aborting);
}

void TLuxIO::EncodeToStream(TStream* Stream, const char* Tag, bool KeepPlaceholderOnAbort,
                            const TEncodeCall& Encode) {
    TProgressRec prog = MakeProgress();
    const bool header = Tag && StreamHeaders;
    const int64_t S = Stream->Position();
    if (header) {
        const uint8_t zero[LXStreamHeaderSize] = {};
        StreamWriteChecked(Stream, Aborting, zero, LXStreamHeaderSize);
    }
    Guarded(Aborting, [&] { Encode(Stream, prog); });
    if (!header || (KeepPlaceholderOnAbort && Aborting)) return;
    const int64_t E = Stream->Position();
    const int64_t len = E - S - LXStreamHeaderSize;
    if (len < 0 || len > int64_t(UINT32_MAX)) {
        Aborting = true;
        if (KeepPlaceholderOnAbort) return;
    }
    Stream->SetPosition(S);
    WriteStreamHeader(Stream, Tag, uint32_t(std::clamp<int64_t>(len, 0, UINT32_MAX)), Aborting);
    Stream->SetPosition(E);
}

void TLuxIO::SaveToFileJPEG(const std::string& FileName) {
    if (!PrepareSave()) return;
    StoreIPTC();
    if (Aborting) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { JpegEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamJPEG(TStream* Stream) {
    if (!PrepareSave()) return;
    StoreIPTC();
    if (Aborting) return;
    EncodeToStream(Stream, "JFIF", false,
                   [&](TStream* S, TProgressRec& prog) { JpegEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- PNG ----

void TLuxIO::LoadFromFilePNG(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    params_->PngBackground = TColorToRGB(Background());
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { PngDecodeStream(&fs, bitmap_, *params_, mask_, false, prog); });
    }
    SetBackground(RGBToTColor(params_->PngBackground));
    params_->FileName = FileName;
    params_->FileType = lxftPNG;
    AfterLoad(true, true);
}

void TLuxIO::LoadFromStreamPNG(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    // As for files: a PNG without bKGD must leave the background as it is.
    params_->PngBackground = TColorToRGB(Background());
    Guarded(Aborting, [&] { PngDecodeStream(Stream, bitmap_, *params_, mask_, false, prog); });
    SetBackground(RGBToTColor(params_->PngBackground));
    params_->FileName.clear();
    params_->FileType = lxftPNG;
    AfterLoad(true, true);
}

void TLuxIO::SaveToFilePNG(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { PngEncodeStream(S, bitmap_, *params_, mask_, prog); });
}

void TLuxIO::SaveToStreamPNG(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, nullptr, false,
                   [&](TStream* S, TProgressRec& prog) { PngEncodeStream(S, bitmap_, *params_, mask_, prog); });
}

// ---- BMP ----

void TLuxIO::LoadFromFileBMP(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        const int64_t size = fs.Size();
        Guarded(Aborting, [&] { BmpDecodeStream(&fs, bitmap_, size, false, prog, *params_); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftBMP;
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamBMP(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    Guarded(Aborting, [&] { BmpDecodeStream(Stream, bitmap_, 0, false, prog, *params_); });
    params_->FileName.clear();
    params_->FileType = lxftBMP;
    AfterLoad(false, false);
}

void TLuxIO::SaveToFileBMP(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { BmpEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamBMP(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, nullptr, false,
                   [&](TStream* S, TProgressRec& prog) { BmpEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- TIFF ----

namespace {

// Mask gets the transparency; the stream is positioned at the TIFF header.
void ReadTIFF(TStream* Stream, TBitmap* Bitmap, TLXIOParams& Params, TLXMask* Mask,
              bool ParamsOnly, TProgressRec& Progress) {
    int pages = 0;
    TiffDecodeStream(Bitmap, Stream, pages, Mask, ParamsOnly, Progress, Params);
    Params.TiffImageCount = pages;
}

void WriteTIFF(TStream* Stream, TBitmap* Bitmap, TLXIOParams& Params, TProgressRec& Progress) {
    TiffEncodeStream(Stream, false, Bitmap, Progress, Params);
}

}  // namespace

void TLuxIO::LoadFromFileTIFF(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { ReadTIFF(&fs, bitmap_, *params_, mask_, false, prog); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftTIFF;
    AfterLoad(true, true);
}

void TLuxIO::LoadFromStreamTIFF(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    int64_t end = -1;
    if (StreamHeaders) {
        const int64_t S = Stream->Position();
        std::string tag;
        uint32_t len = 0;
        if (!ReadStreamHeader(Stream, tag, len) || tag != "TIFF") {
            Aborting = true;
            return;
        }
        end = std::min<int64_t>(S + LXStreamHeaderSize + int64_t(len), Stream->Size());
    }
    Guarded(Aborting, [&] { ReadTIFF(Stream, bitmap_, *params_, mask_, false, prog); });
    if (end >= 0) Stream->SetPosition(end);
    params_->FileName.clear();
    params_->FileType = lxftTIFF;
    AfterLoad(true, true);
}

void TLuxIO::SaveToFileTIFF(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { WriteTIFF(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamTIFF(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, "TIFF", false,
                   [&](TStream* S, TProgressRec& prog) { WriteTIFF(S, bitmap_, *params_, prog); });
}

// ---- GIF ----

void TLuxIO::ApplyGifBackground() {
    SetBackground(RGBToTColor(params_->GifHasTransparency ? params_->GifTransparentColor
                                                           : params_->GifBackground));
}

void TLuxIO::LoadFromFileGIF(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    bool reached = false;
    {
        TFileStream fs(FileName, ReadMode);
        int count = 0;
        Guarded(Aborting, [&] { reached = GifDecodeStream(&fs, bitmap_, count, mask_, false, prog, *params_); });
    }
    // Colours of a frame that was never reached would be stale ones of an earlier read.
    if (reached) ApplyGifBackground();
    params_->FileName = FileName;
    params_->FileType = lxftGIF;
    AfterLoad(true, true);
}

void TLuxIO::LoadFromStreamGIF(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    bool reached = false;
    int count = 0;
    Guarded(Aborting, [&] { reached = GifDecodeStream(Stream, bitmap_, count, mask_, false, prog, *params_); });
    if (reached) ApplyGifBackground();
    params_->FileName.clear();
    params_->FileType = lxftGIF;
    AfterLoad(true, false);
}

void TLuxIO::SaveToFileGIF(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { GifEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamGIF(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, nullptr, false,
                   [&](TStream* S, TProgressRec& prog) { GifEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- PCX ----

void TLuxIO::LoadFromFilePCX(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    params_->FileName = FileName;
    params_->FileType = lxftPCX;
    {
        TFileStream fs(FileName, ReadMode);
        const int64_t size = fs.Size();
        Guarded(Aborting, [&] { PcxDecodeStream(&fs, bitmap_, *params_, false, prog, size); });
    }
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamPCX(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    int64_t end = -1;
    if (StreamHeaders) {
        const int64_t S = Stream->Position();
        std::string tag;
        uint32_t len = 0;
        if (!ReadStreamHeader(Stream, tag, len) || tag.compare(0, 3, "PCX") != 0) {
            Aborting = true;
            return;
        }
        if (tag == "PCX2") {
            end = std::min<int64_t>(S + LXStreamHeaderSize + int64_t(len), Stream->Size());
        } else {
            Stream->SetPosition(S + 4);   // the older 4-byte header
        }
    }
    // The image has the bytes the stream holds from here (or up to the header's end): a
    // photo block starts after other data, so the whole stream size would overshoot.
    const int64_t length = end >= 0 ? end - Stream->Position() : DataLeft(Stream);
    Guarded(Aborting, [&] { PcxDecodeStream(Stream, bitmap_, *params_, false, prog, length); });
    if (end >= 0) Stream->SetPosition(end);
    params_->FileName.clear();
    params_->FileType = lxftPCX;
    AfterLoad(false, true);
}

void TLuxIO::SaveToFilePCX(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { PcxEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamPCX(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, "PCX2", true,
                   [&](TStream* S, TProgressRec& prog) { PcxEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- ICO, CUR ----

void TLuxIO::LoadFromFileICO(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { IcoDecodeStream(&fs, bitmap_, *params_, mask_, prog, false); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftICO;
    AfterLoad(true, true);
}

void TLuxIO::LoadFromStreamICO(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    Guarded(Aborting, [&] { IcoDecodeStream(Stream, bitmap_, *params_, mask_, prog, false); });
    params_->FileName.clear();
    params_->FileType = lxftICO;
    AfterLoad(true, false);
}

void TLuxIO::LoadFromFileCUR(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { CurDecodeStream(&fs, bitmap_, *params_, mask_, prog, false); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftCUR;
    AfterLoad(true, true);
}

void TLuxIO::LoadFromStreamCUR(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    Guarded(Aborting, [&] { CurDecodeStream(Stream, bitmap_, *params_, mask_, prog, false); });
    params_->FileName.clear();
    params_->FileType = lxftCUR;
    AfterLoad(true, false);
}

// ---- Targa ----

void TLuxIO::LoadFromFileTGA(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { TgaDecodeStream(&fs, bitmap_, *params_, false, prog); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftTGA;
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamTGA(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    Guarded(Aborting, [&] { TgaDecodeStream(Stream, bitmap_, *params_, false, prog); });
    params_->FileName.clear();
    params_->FileType = lxftTGA;
    AfterLoad(false, false);
}

void TLuxIO::SaveToFileTGA(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { TgaEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamTGA(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, nullptr, false,
                   [&](TStream* S, TProgressRec& prog) { TgaEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- PBM/PGM/PPM ----

void TLuxIO::LoadFromFilePXM(const std::string& FileName) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    {
        TFileStream fs(FileName, ReadMode);
        Guarded(Aborting, [&] { PnmDecodeStream(&fs, bitmap_, *params_, false, prog); });
    }
    params_->FileName = FileName;
    params_->FileType = lxftPXM;
    AfterLoad(false, false);
}

void TLuxIO::LoadFromStreamPXM(TStream* Stream) {
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    Guarded(Aborting, [&] { PnmDecodeStream(Stream, bitmap_, *params_, false, prog); });
    params_->FileName.clear();
    params_->FileType = lxftPXM;
    AfterLoad(false, false);
}

void TLuxIO::SaveToFilePXM(const std::string& FileName) {
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) { PnmEncodeStream(S, bitmap_, *params_, prog); });
}

void TLuxIO::SaveToStreamPXM(TStream* Stream) {
    if (!PrepareSave()) return;
    EncodeToStream(Stream, nullptr, false,
                   [&](TStream* S, TProgressRec& prog) { PnmEncodeStream(S, bitmap_, *params_, prog); });
}

// ---- Metafiles ----

void TLuxIO::ImportMetafile(const std::string& FileName, int Width, int Height) {
    Aborting = false;
    if (Width == 0 || Height == 0 || !bitmap_) return;
    ClearMetaLists();
    // Metafiles are small; one beyond this is no picture this import would ever draw.
    constexpr int64_t MaxMetafileSize = int64_t(256) << 20;
    std::vector<uint8_t> data;
    {
        TFileStream fs(FileName, ReadMode);
        const int64_t size = fs.Size();
        if (size <= 0 || size > MaxMetafileSize) {
            Aborting = true;
            return;
        }
        data.resize(size_t(size));
        if (fs.Read(data.data(), size) != size) {
            Aborting = true;
            return;
        }
    }
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] {
        MetafileDecode(data.data(), data.size(), bitmap_, *params_, Width, Height, Background(), prog);
    });
    if (Aborting) return;   // the bitmap is as it was
    params_->FileName = FileName;
    AfterLoad(false, true);
}

// ---- Registry formats ----

void TLuxIO::LoadFromFileRegistry(const std::string& FileName, TLXFormatEntry* Entry) {
    params_->FileName.clear();
    params_->FileType = 0;
    ClearMetaLists();
    if (!Entry || !Entry->Reader) {
        Aborting = true;
        return;
    }
    Aborting = false;
    if (!bitmap_) return;
    TProgressRec prog = MakeProgress();
    {
        TFileStream fs(FileName, ReadMode);
        params_->FileName = FileName;
        params_->FileType = Entry->FileType;
        Guarded(Aborting, [&] { Entry->Reader(&fs, bitmap_, *params_, false, prog); });
    }
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamRegistry(TStream* Stream, int FileType) {
    ClearMetaLists();
    params_->FileName.clear();
    params_->FileType = 0;
    TLXFormatEntry* e = FindFormatById(FileType);
    if (!e || !e->Reader || FileType == 0) {
        Aborting = true;
        return;
    }
    Aborting = false;
    if (bitmap_) {
        TProgressRec prog = MakeProgress();
        Guarded(Aborting, [&] { e->Reader(Stream, bitmap_, *params_, false, prog); });
    }
    AfterLoad(false, true);
}

void TLuxIO::SaveWithWriter(TStream* Stream, TLXFormatWriter Writer) {
    if (!PrepareSave()) return;
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] { Writer(Stream, bitmap_, *params_, prog); });
}

// ---- Entry points ----

void TLuxIO::LoadFromFile(const std::string& FileName) {
    if (FileName.empty() || !bitmap_) return;
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    auto is = [&](std::initializer_list<const char*> list) {
        return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
    };
    if (is({".jpg", ".jpeg", ".jpe"})) LoadFromFileJPEG(FileName);
    else if (is({".png"})) LoadFromFilePNG(FileName);
    else if (is({".tif", ".tiff"})) LoadFromFileTIFF(FileName);
    else if (is({".pcx"})) LoadFromFilePCX(FileName);
    else if (is({".gif"})) LoadFromFileGIF(FileName);
    else if (is({".wmf", ".emf"})) ImportMetafile(FileName, -1, -1);
    else if (is({".bmp", ".dib", ".rle"})) LoadFromFileBMP(FileName);
    else if (is({".cur"})) LoadFromFileCUR(FileName);
    else if (is({".ico"})) LoadFromFileICO(FileName);
    else if (is({".tga", ".targa", ".vda", ".icb", ".vst", ".win"})) LoadFromFileTGA(FileName);
    else if (is({".pxm", ".ppm", ".pgm", ".pbm"})) LoadFromFilePXM(FileName);
    else LoadFromFileRegistry(FileName, FindFormatByExtension(ext.empty() ? ext : ext.substr(1)));
}

void TLuxIO::SaveToFile(const std::string& FileName) {
    if (FileName.empty()) return;
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    auto is = [&](std::initializer_list<const char*> list) {
        return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
    };
    if (is({".jpg", ".jpeg", ".jpe"})) SaveToFileJPEG(FileName);
    else if (is({".pcx"})) SaveToFilePCX(FileName);
    else if (is({".gif"})) SaveToFileGIF(FileName);
    else if (is({".tif", ".tiff"})) SaveToFileTIFF(FileName);
    else if (is({".png"})) SaveToFilePNG(FileName);
    else if (is({".bmp", ".dib", ".rle"})) SaveToFileBMP(FileName);
    else if (is({".tga", ".targa", ".vda", ".icb", ".vst", ".win"})) SaveToFileTGA(FileName);
    else if (is({".pxm", ".pbm", ".pgm", ".ppm"})) SaveToFilePXM(FileName);
    else {
        TLXFormatEntry* e = FindFormatByExtension(ext.empty() ? ext : ext.substr(1));
        if (!e || !e->Writer) {
            Aborting = true;
            return;
        }
        if (!PrepareSave()) return;
        TSafeFileWriter w(FileName);
        params_->FileName = FileName;
        params_->FileType = e->FileType;
        TProgressRec prog = MakeProgress();
        Guarded(Aborting, [&] { e->Writer(w.Stream(), bitmap_, *params_, prog); });
        w.Finish(!Aborting);
    }
}

void TLuxIO::LoadFromFileFormat(const std::string& FileName, int FileType) {
    switch (FileType) {
    case lxftTIFF: LoadFromFileTIFF(FileName); break;
    case lxftGIF: LoadFromFileGIF(FileName); break;
    case lxftJPEG: LoadFromFileJPEG(FileName); break;
    case lxftPCX: LoadFromFilePCX(FileName); break;
    case lxftBMP: LoadFromFileBMP(FileName); break;
    case lxftICO: LoadFromFileICO(FileName); break;
    case lxftCUR: LoadFromFileCUR(FileName); break;
    case lxftPNG: LoadFromFilePNG(FileName); break;
    case lxftWMF:
    case lxftEMF: ImportMetafile(FileName, -1, -1); break;
    case lxftTGA: LoadFromFileTGA(FileName); break;
    case lxftPXM: LoadFromFilePXM(FileName); break;
    default: LoadFromFileRegistry(FileName, FileType != 0 ? FindFormatById(FileType) : nullptr);
    }
}

void TLuxIO::LoadFromStream(TStream* Stream) {
    const int64_t pos = Stream->Position();
    const int type = DetectStreamFormat(Stream);
    Stream->SetPosition(pos);
    LoadFromStreamFormat(Stream, type);
}

void TLuxIO::LoadFromStreamFormat(TStream* Stream, int FileType) {
    switch (FileType) {
    case lxftTIFF: LoadFromStreamTIFF(Stream); break;
    case lxftGIF: LoadFromStreamGIF(Stream); break;
    case lxftJPEG: LoadFromStreamJPEG(Stream); break;
    case lxftPCX: LoadFromStreamPCX(Stream); break;
    case lxftBMP: LoadFromStreamBMP(Stream); break;
    case lxftICO: LoadFromStreamICO(Stream); break;
    case lxftCUR: LoadFromStreamCUR(Stream); break;
    case lxftPNG: LoadFromStreamPNG(Stream); break;
    case lxftTGA: LoadFromStreamTGA(Stream); break;
    case lxftPXM: LoadFromStreamPXM(Stream); break;
    default: LoadFromStreamRegistry(Stream, FileType);
    }
}

void TLuxIO::SaveToStreamFormat(TStream* Stream, int FileType) {
    switch (FileType) {
    case lxftTIFF: SaveToStreamTIFF(Stream); break;
    case lxftGIF: SaveToStreamGIF(Stream); break;
    case lxftJPEG: SaveToStreamJPEG(Stream); break;
    case lxftPCX: SaveToStreamPCX(Stream); break;
    case lxftBMP: SaveToStreamBMP(Stream); break;
    case lxftPNG: SaveToStreamPNG(Stream); break;
    case lxftTGA: SaveToStreamTGA(Stream); break;
    case lxftPXM: SaveToStreamPXM(Stream); break;
    default: {
        TLXFormatEntry* e = FileType != 0 ? FindFormatById(FileType) : nullptr;
        if (!e || !e->Writer) {
            Aborting = true;
            return;
        }
        SaveWithWriter(Stream, e->Writer);
    }
    }
}

int TLuxIO::FindFileFormat(const std::string& FileName, bool CheckExtension) {
    int detected = 0;
    try {
        TFileStream fs(FileName, ReadMode);
        detected = DetectStreamFormat(&fs);
    } catch (...) {
        return 0;
    }
    if (!CheckExtension) return detected;
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    const TLXFormatEntry* e = FindFormatByExtension(ext.empty() ? ext : ext.substr(1));
    if (!e) return 0;
    // Icons and cursors share one layout: a file of either kind named as the other is
    // taken by its name.
    if ((detected == lxftICO || detected == lxftCUR) &&
        (e->FileType == lxftICO || e->FileType == lxftCUR))
        return e->FileType;
    return detected == e->FileType ? detected : 0;
}

// ---- Parameters only ----

void TLuxIO::ParamsFromStreamFormat(TStream* Stream, int FileType) {
    params_->FileType = FileType;
    ClearMetaLists();
    Aborting = false;
    TProgressRec prog;
    prog.Sender = this;
    prog.Aborting = &Aborting;
    // Readers get a scratch bitmap: whatever a reader does, the target stays as it was.
    TBitmap scratch;
    TBitmap* b = &scratch;
    try {
        TLXIOParams& p = *params_;
        switch (FileType) {
        case lxftTIFF: ReadTIFF(Stream, b, p, nullptr, true, prog); break;
        case lxftGIF: {
            int count = 0;
            GifDecodeStream(Stream, b, count, nullptr, true, prog, p);
            break;
        }
        case lxftJPEG:
            JpegDecodeStream(Stream, b, p, true, prog);
            ReadJpegMetadata(false);
            break;
        case lxftPCX: PcxDecodeStream(Stream, b, p, true, prog, DataLeft(Stream)); break;
        case lxftBMP: BmpDecodeStream(Stream, b, DataLeft(Stream), true, prog, p); break;
        case lxftICO: IcoDecodeStream(Stream, b, p, nullptr, prog, true); break;
        case lxftCUR: CurDecodeStream(Stream, b, p, nullptr, prog, true); break;
        case lxftPNG: PngDecodeStream(Stream, b, p, nullptr, true, prog); break;
        case lxftTGA: TgaDecodeStream(Stream, b, p, true, prog); break;
        case lxftPXM: PnmDecodeStream(Stream, b, p, true, prog); break;
        case lxftWMF:
        case lxftEMF: break;
        default: {
            TLXFormatEntry* e = FileType != 0 ? FindFormatById(FileType) : nullptr;
            if (e && e->Reader) e->Reader(Stream, b, p, true, prog);
            else if (FileType != 0) Aborting = true;   // nothing can read it
        }
        }
    } catch (...) {
        params_->FileType = 0;
    }
    if (Aborting) params_->FileType = 0;
}

void TLuxIO::ParamsFromFileFormat(const std::string& FileName, int FileType) {
    params_->FileType = FileType;
    ClearMetaLists();
    Aborting = false;
    try {
        TFileStream fs(FileName, ReadMode);
        ParamsFromStreamFormat(&fs, FileType);
    } catch (...) {
        params_->FileType = 0;
    }
    params_->FileName = FileName;
}

void TLuxIO::ParamsFromFile(const std::string& FileName) {
    try {
        ParamsFromFileFormat(FileName, FindFileFormat(FileName, true));
    } catch (...) {
        params_->FileType = 0;
    }
}

void TLuxIO::ParamsFromStream(TStream* Stream) {
    try {
        ParamsFromStreamFormat(Stream, DetectStreamFormat(Stream));
    } catch (...) {
        params_->FileType = 0;
    }
}
