// The per-image input/output parameters. The codecs include this header only: it holds the
// parameters and the codec hooks, not the I/O component.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLuxIO;

using TDateTime = double;   // days since 1899-12-30, time of day as the fraction

// Today's local date as a TDateTime, time of day 0.
TDateTime LXTodayDate();

// ---- Codec hooks ----
// LZW is reached only through these routine pointers; the library leaves them all nil.
// GIF decoder: fill Width x Height indexes (rows from the top); not moving the stream fails.
using TGifLZWDecompressFunc = void (*)(TStream* Stream, int Height, int Width, uint8_t* Indexes,
                                       bool Interlaced);
// GIF encoder: write the minimum code size and the data sub-blocks with their terminator.
using TGifLZWCompressFunc = void (*)(TStream* Stream, int Height, int Width, int BitsPerPixel,
                                     const uint8_t* Indexes, bool Interlaced);
// TIFF decoder: one decoded row of BytesPerRow bytes, or null on failure; a call with no
// Input releases State.
using TTiffLZWDecompressFunc = uint8_t* (*)(const uint8_t* Input, int BytesPerRow, void** State);
// TIFF encoder: one row; a call with no Row finishes the strip.
using TTiffLZWCompressFunc = void (*)(const uint8_t* Row, int Length, TStream* Stream, void** State);

extern TGifLZWDecompressFunc DefGifLZWDecompress;
extern TGifLZWCompressFunc DefGifLZWCompress;
extern TTiffLZWDecompressFunc DefTiffLZWDecompress;
extern TTiffLZWCompressFunc DefTiffLZWCompress;

// ---- The groups of fields ----
// Plain values with their defaults; the parameters inherit them, so a reset or a copy of a
// group is one assignment.

struct TLXCommonParams {
    int BitsPerSample = 8;
    int SamplesPerPixel = 3;
    int Width = 0, Height = 0;
    int DpiX = 0, DpiY = 0;
    int FileType = 0;
    std::string FileName;
};

struct TLXTiffParams {
    uint8_t TiffCompression = 0;     // 0 none, 1 MH, 2 G3 1-D, 3 G3 2-D, 4 G4, 5 LZW, 6 old JPEG, 7 JPEG, 8 PackBits
    int TiffImageIndex = 0;
    uint8_t TiffPhotometric = 2;
    int TiffPlanarConfig = 1;
    int TiffXPos = 0, TiffYPos = 0;
    std::string TiffDocumentName, TiffImageDescription, TiffPageName;
    int TiffPageNumber = 0, TiffPageCount = 0;
    TTiffLZWDecompressFunc TiffLZWDecompress = DefTiffLZWDecompress;
    TTiffLZWCompressFunc TiffLZWCompress = DefTiffLZWCompress;
    bool TiffAdjustOrientation = true;
    int TiffImageCount = 0;
};

struct TLXGifParams {
    std::string GifVersion = "GIF89a";
    int GifImageIndex = 0;
    int GifXPos = 0, GifYPos = 0;
    int GifDelayTime = 0;
    bool GifHasTransparency = false;
    TRGB GifTransparentColor;
    bool GifInterlaced = false;
    int GifScreenWidth = 0, GifScreenHeight = 0;
    TRGB GifBackground;
    int GifAspectRatio = 0;
    TGifLZWDecompressFunc GifLZWDecompress = DefGifLZWDecompress;
    TGifLZWCompressFunc GifLZWCompress = DefGifLZWCompress;
    int GifImageCount = 0;
};

struct TLXJpegParams {
    uint8_t JpegColorSpace = 2;      // 0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK
    int JpegQuality = 50;
    uint8_t JpegDCTMethod = 0;       // 0 slow integer, 1 fast integer, 2 float
    bool JpegOptimizeCoding = false;
    int JpegSmoothing = 0;
    bool JpegProgressive = false;
    uint8_t JpegScale = 1;           // 0 automatic, 1 full, 2 half, 3 quarter, 4 eighth
    int JpegScaleDenominator = 1;
};

struct TLXPcxParams {
    int PcxVersion = 5;
    bool PcxCompressed = true;
};

struct TLXBmpParams {
    uint8_t BmpVersion = 1;
    uint8_t BmpCompression = 0;
};

struct TLXIconParams {
    int IcoImageIndex = 0;
    TRGB IcoBackground{255, 255, 255};
    int CurImageIndex = 0;
    int CurHotSpotX = 0, CurHotSpotY = 0;
    TRGB CurBackground{255, 255, 255};
};

struct TLXPngParams {
    bool PngInterlaced = false;
    TRGB PngBackground;
    uint8_t PngFilter = 0;           // 0 none, 1 sub, 2 Paeth, others the library's choice
    int PngCompression = 5;
};

struct TLXTgaParams {
    int TgaXPos = 0, TgaYPos = 0;
    bool TgaCompressed = true;
    std::string TgaImageName, TgaAuthor;
    TDateTime TgaDate = LXTodayDate();
    std::string TgaJobName;
    TRGB TgaKeyColor;
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    bool TgaGrayLevel = false;
};

// A real with the word that tells it was set.
struct TLXExifReal {
    double Value = 0;
    uint16_t Present = 0;
};

// Filled by the EXIF reader and the TIFF reader.
struct TLXExifParams {
    std::string ExifImageDescription, ExifMake, ExifModel, ExifDateTime, ExifSoftware,
        ExifCopyright, ExifVersion, ExifDateTimeOriginal, ExifDateTimeDigitized, ExifSubsecTime,
        ExifSubsecTimeOriginal, ExifSubsecTimeDigitized, ExifFlashPixVersion,
        ExifRelatedSoundFile;
    int ExifOrientation = 0, ExifResolutionUnit = 0, ExifYCbCrPositioning = 0,
        ExifExposureProgram = 0, ExifMeteringMode = 0, ExifLightSource = 0, ExifFlash = 0,
        ExifColorSpace = 0, ExifPixelXDimension = 0, ExifPixelYDimension = 0,
        ExifFocalPlaneResolutionUnit = 0, ExifSensingMethod = 0, ExifFileSource = 0,
        ExifSceneType = 0;
    double ExifXResolution = 0, ExifYResolution = 0, ExifExposureTime = 0, ExifFNumber = 0,
        ExifCompressedBitsPerPixel = 0, ExifShutterSpeedValue = 0, ExifApertureValue = 0,
        ExifBrightnessValue = 0, ExifExposureBiasValue = 0, ExifMaxApertureValue = 0,
        ExifSubjectDistance = 0, ExifFocalLength = 0, ExifFocalPlaneXResolution = 0,
        ExifFocalPlaneYResolution = 0, ExifExposureIndex = 0;
    int ExifISOSpeedRatings[2] = {0, 0};
    TLXExifReal ExifWhitePoint[2];
    TLXExifReal ExifPrimaryChromaticities[6];
    TLXExifReal ExifYCbCrCoefficients[3];
    TLXExifReal ExifReferenceBlackWhite[6];

    // The arrays; an index outside the range is ignored (getters give 0).
    void SetExifISOSpeedRatings(int i, int v);
    int GetExifISOSpeedRatings(int i) const;
    void SetExifWhitePoint(int i, double v);               // 0..1
    double GetExifWhitePoint(int i) const;
    void SetExifPrimaryChromaticities(int i, double v);    // 0..5
    double GetExifPrimaryChromaticities(int i) const;
    void SetExifYCbCrCoefficients(int i, double v);        // 0..2
    double GetExifYCbCrCoefficients(int i) const;
    void SetExifReferenceBlackWhite(int i, double v);      // 0..5
    double GetExifReferenceBlackWhite(int i) const;
};

// Everything that describes one image beyond its pixels. Fields are public: the codecs fill
// them on reading and take their options from them on writing. A read overwrites only the
// fields its codec fills.
class TLXIOParams : public TObject, public TLXCommonParams, public TLXTiffParams,
                    public TLXGifParams, public TLXJpegParams, public TLXPcxParams,
                    public TLXBmpParams, public TLXIconParams, public TLXPngParams,
                    public TLXTgaParams, public TLXExifParams {
public:
    using TExifReal = TLXExifReal;

    explicit TLXIOParams(TLuxIO* AOwner);
    ~TLXIOParams() override;
    TLXIOParams(const TLXIOParams&) = delete;
    TLXIOParams& operator=(const TLXIOParams&) = delete;

    // Every field back to its default; the owner's bitmap size and view DPI are taken when
    // there are any, else the size and DPI stay as they are.
    void SetDefaults();
    // Deep copy of every field (not the owner).
    void Assign(const TLXIOParams* Source);
    // Every EXIF field back to its default, the thumbnail to 1 x 1.
    void ClearExif();

    TLuxIO* Owner() const { return owner_; }

    // Palette helpers. AllocPalette replaces the palette by Count zeroed entries (nil for 0)
    // and sets PaletteCount; FreePalette leaves nil and 0.
    void FreePalette();
    TRGB* AllocPalette(int Count);

    // The owned objects.
    std::unique_ptr<TRGB[]> Palette;   // PaletteCount entries, or nil
    int PaletteCount = 0;
    std::unique_ptr<TLXMarkerList> JpegMarkers;   // JPEG markers read, written back on save
    std::unique_ptr<TStringList> PnmComments;     // PBM/PGM/PPM comment lines
    std::unique_ptr<TLXIPTCInfoList> IPTCInfo;    // IPTC records (from APP13 of JPEG files)
    std::unique_ptr<TBitmap> ExifThumbnail;       // 1 x 1 after the defaults

private:
    TLuxIO* owner_;
};
