// The image input/output component, its per-image parameters, the file types, the format
// registry, format detection and the 12-byte stream header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLuxIO;
class TLXView;
class TLXMask;
class TLXMarkerList;
class TLXIPTCInfoList;
class TLXTWainParams;
class TForm;

using TDateTime = double;   // days since 1899-12-30, time of day as the fraction

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

// ---- Per-image parameters ----

// Everything that describes one image beyond its pixels. Fields are public: the codecs fill
// them on reading and take their options from them on writing. A read overwrites only the
// fields its codec fills.
class TLXIOParams : public TObject {
public:
    explicit TLXIOParams(TLuxIO* AOwner);
    ~TLXIOParams() override;
    TLXIOParams(const TLXIOParams&) = delete;
    TLXIOParams& operator=(const TLXIOParams&) = delete;

    // Every field back to its default; the owner's bitmap size and view DPI are taken when
    // there are any.
    void SetDefaults();
    // Deep copy of every field (not the owner).
    void Assign(const TLXIOParams* Source);

    TLuxIO* Owner() const { return owner_; }

    // Palette helpers. AllocPalette replaces the palette by Count zeroed entries (nil for 0)
    // and sets PaletteCount; FreePalette leaves nil and 0.
    void FreePalette();
    TRGB* AllocPalette(int Count);

    // Common
    int BitsPerSample = 8;
    int SamplesPerPixel = 3;
    int Width = 0, Height = 0;
    int DpiX = 0, DpiY = 0;
    int FileType = 0;
    std::string FileName;
    std::unique_ptr<TRGB[]> Palette;   // owned, PaletteCount entries, or nil
    int PaletteCount = 0;

    // TIFF
    uint8_t TiffCompression = 0;
    int TiffImageIndex = 0;
    uint8_t TiffPhotometric = 2;
    int TiffPlanarConfig = 1;
    int TiffXPos = 0, TiffYPos = 0;
    std::string TiffDocumentName, TiffImageDescription, TiffPageName;
    int TiffPageNumber = 0, TiffPageCount = 0;
    TTiffLZWDecompressFunc TiffLZWDecompress = nullptr;
    TTiffLZWCompressFunc TiffLZWCompress = nullptr;
    bool TiffAdjustOrientation = true;
    int TiffImageCount = 0;

    // GIF
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
    TGifLZWDecompressFunc GifLZWDecompress = nullptr;
    TGifLZWCompressFunc GifLZWCompress = nullptr;
    int GifImageCount = 0;

    // JPEG
    uint8_t JpegColorSpace = 2;      // 0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK
    int JpegQuality = 50;
    uint8_t JpegDCTMethod = 0;       // 0 slow integer, 1 fast integer, 2 float
    bool JpegOptimizeCoding = false;
    int JpegSmoothing = 0;
    bool JpegProgressive = false;
    uint8_t JpegScale = 1;           // 0 automatic, 1 full, 2 half, 3 quarter, 4 eighth
    std::unique_ptr<TLXMarkerList> JpegMarkers;   // owned
    int JpegScaleDenominator = 1;

    // PCX
    int PcxVersion = 5;
    bool PcxCompressed = true;
    // BMP
    uint8_t BmpVersion = 1;
    uint8_t BmpCompression = 0;
    // ICO, CUR
    int IcoImageIndex = 0;
    TRGB IcoBackground{255, 255, 255};
    int CurImageIndex = 0;
    int CurHotSpotX = 0, CurHotSpotY = 0;
    TRGB CurBackground{255, 255, 255};
    // PNG
    bool PngInterlaced = false;
    TRGB PngBackground;
    uint8_t PngFilter = 0;           // 0 none, 1 sub, 2 Paeth, others the library's choice
    int PngCompression = 5;
    // Targa
    int TgaXPos = 0, TgaYPos = 0;
    bool TgaCompressed = true;
    std::string TgaImageName, TgaAuthor;
    TDateTime TgaDate = 0;
    std::string TgaJobName;
    TRGB TgaKeyColor;
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    bool TgaGrayLevel = false;
    // PBM/PGM/PPM
    std::unique_ptr<TStringList> PnmComments;     // owned
    // IPTC records (from APP13 of JPEG files)
    std::unique_ptr<TLXIPTCInfoList> IPTCInfo;    // owned

    // EXIF (filled by the EXIF reader and the TIFF reader)
    std::unique_ptr<TBitmap> ExifThumbnail;       // owned, 1 x 1 after the defaults
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

    // The EXIF arrays; an index outside the range is ignored (getters give 0).
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

    // A real with the word that tells it was set.
    struct TExifReal {
        double Value = 0;
        uint16_t Present = 0;
    };
    int ExifISOSpeedRatings[2] = {0, 0};
    TExifReal ExifWhitePoint[2];
    TExifReal ExifPrimaryChromaticities[6];
    TExifReal ExifYCbCrCoefficients[3];
    TExifReal ExifReferenceBlackWhite[6];

private:
    void ClearExif();
    TLuxIO* owner_;
};

// ---- File types ----

enum : int {
    lxftUnknown = 0, lxftTIFF = 1, lxftGIF = 2, lxftJPEG = 3, lxftPCX = 4, lxftBMP = 5,
    lxftICO = 6, lxftCUR = 7, lxftPNG = 8, lxftWMF = 9, lxftEMF = 10, lxftTGA = 11, lxftPXM = 12
};

// ---- Format registry ----

using TLXFormatReader = void (*)(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                                 bool ParamsOnly, TProgressRec& Progress);
using TLXFormatWriter = void (*)(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                                 TProgressRec& Progress);
using TLXFormatDetector = bool (*)(TStream* Stream);

// One format. The built-in twelve have no callbacks: the I/O component and DetectStreamFormat
// handle them; added formats bring theirs.
struct TLXFormatEntry {
    int FileType = 0;
    std::string Description;    // at most 80 characters
    std::string Extensions;     // upper case, no dots, separated by ";"; at most 80 characters
    TLXFormatReader Reader = nullptr;
    TLXFormatWriter Writer = nullptr;
    TLXFormatDetector Detector = nullptr;
};

// The registry, built with the twelve built-in entries on first use. Added formats append
// their entry.
std::vector<std::unique_ptr<TLXFormatEntry>>& FormatRegistry();

TLXFormatEntry* FindFormatById(int FileType);
int FormatExtensionCount(int FileType);
// The i-th extension (from 0) of the entry's list; empty when there is none.
std::string FormatExtension(int FileType, int i);
// Extension without the dot, any case; the first entry that lists it.
TLXFormatEntry* FindFormatByExtension(const std::string& Extension);

// ---- Detection ----

// File type of the data at the stream position, 0 when nothing matches. Never raises; the
// position is restored.
int DetectStreamFormat(TStream* Stream);
// Signature probes; each leaves the position where it was and answers false for data too
// short for it. (FindJpegStart and ProbePngStream are the JPEG and PNG codecs'.)
bool ProbeIcoStream(TStream* Stream);
bool ProbeCurStream(TStream* Stream);
bool ProbeTgaStream(TStream* Stream);
bool ProbePnmStream(TStream* Stream);

// ---- 12-byte stream header: tag (4 characters), 4 zero bytes, LE32 length of the data ----

constexpr int LXStreamHeaderSize = 12;
// Reads 12 bytes. Tag: the characters up to the first zero byte, at most 5 (so "JFIF" only
// matches when byte 4 is zero). False, with an empty tag, when fewer than 12 bytes came.
bool ReadStreamHeader(TStream* Stream, std::string& Tag, uint32_t& Length);
void WriteStreamHeader(TStream* Stream, const char* Tag, uint32_t Length, bool& Error);

// ---- EXIF hand-over ----

// The EXIF reader fills the EXIF fields from an APP1 payload and returns 1 when the block was
// EXIF. It is ReadExifBlock of the utility unit.
using TLXExifBlockReader = int (*)(const uint8_t* Block, int Length, TLXIOParams& IOParams);
extern TLXExifBlockReader ExifBlockReader;

// ---- Picture control stand-in ----

// The class library's picture: here only the bitmap kind.
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    TBitmap* Bitmap() const { return bitmap_.get(); }
private:
    std::unique_ptr<TBitmap> bitmap_;
};

// The class library's image control, reduced to what the I/O component attaches to. It shows
// Picture.Bitmap; a change of the bitmap (Modified) is what repaints it.
class TImage : public TComponent {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    TPicture* Picture() const { return picture_.get(); }
private:
    std::unique_ptr<TPicture> picture_;
};

// ---- The I/O component ----

enum TLXIOPreviewsParam { ioppDefaultLockPreview };
using TLXIOPreviewsParams = unsigned;   // set of 1 << TLXIOPreviewsParam
enum TLXDialogsMeasureUnit { lxduInches, lxduCm };
using TLXIOPreviewEvent = TMethod<void(TObject* Sender, TForm* PreviewForm)>;

// Reads and writes one target bitmap: the bitmap of an attached view (with its alpha mask),
// the Picture.Bitmap of an attached TImage, or a bare bitmap. Codec failures come back in
// Aborting; errors outside the codecs (a file that cannot be opened) are raised.
class TLuxIO : public TComponent {
public:
    explicit TLuxIO(TComponent* AOwner);
    ~TLuxIO() override;

    // Entry points.
    virtual void LoadFromFile(const std::string& FileName);
    virtual void SaveToFile(const std::string& FileName);
    virtual void LoadFromFileFormat(const std::string& FileName, int FileType);
    virtual void ParamsFromFile(const std::string& FileName);
    virtual void ParamsFromFileFormat(const std::string& FileName, int FileType);
    virtual void ParamsFromStream(TStream* Stream);
    virtual void ParamsFromStreamFormat(TStream* Stream, int FileType);
    virtual void LoadFromStream(TStream* Stream);
    virtual void LoadFromStreamFormat(TStream* Stream, int FileType);
    virtual void SaveToStreamFormat(TStream* Stream, int FileType);

    // Per format. Stream forms work from the stream's current position.
    void LoadFromFileTIFF(const std::string& FileName);
    void LoadFromStreamTIFF(TStream* Stream);
    void SaveToFileTIFF(const std::string& FileName);
    void SaveToStreamTIFF(TStream* Stream);
    void LoadFromFileGIF(const std::string& FileName);
    void LoadFromStreamGIF(TStream* Stream);
    void SaveToFileGIF(const std::string& FileName);
    void SaveToStreamGIF(TStream* Stream);
    void LoadFromFileJPEG(const std::string& FileName);
    void LoadFromStreamJPEG(TStream* Stream);
    void SaveToFileJPEG(const std::string& FileName);
    void SaveToStreamJPEG(TStream* Stream);
    void LoadFromFilePCX(const std::string& FileName);
    void LoadFromStreamPCX(TStream* Stream);
    void SaveToFilePCX(const std::string& FileName);
    void SaveToStreamPCX(TStream* Stream);
    void LoadFromFileBMP(const std::string& FileName);
    void LoadFromStreamBMP(TStream* Stream);
    void SaveToFileBMP(const std::string& FileName);
    void SaveToStreamBMP(TStream* Stream);
    void LoadFromFileICO(const std::string& FileName);
    void LoadFromStreamICO(TStream* Stream);
    void LoadFromFileCUR(const std::string& FileName);
    void LoadFromStreamCUR(TStream* Stream);
    void LoadFromFilePNG(const std::string& FileName);
    void LoadFromStreamPNG(TStream* Stream);
    void SaveToFilePNG(const std::string& FileName);
    void SaveToStreamPNG(TStream* Stream);
    void LoadFromFileTGA(const std::string& FileName);
    void LoadFromStreamTGA(TStream* Stream);
    void SaveToFileTGA(const std::string& FileName);
    void SaveToStreamTGA(TStream* Stream);
    void LoadFromFilePXM(const std::string& FileName);
    void LoadFromStreamPXM(TStream* Stream);
    void SaveToFilePXM(const std::string& FileName);
    void SaveToStreamPXM(TStream* Stream);
    // WMF / EMF at Width x Height (-1: from the metafile's own size, aspect kept), at most
    // 2800 pixels on the longer side. A file that cannot be opened raises; a metafile
    // without a size, or one that no renderer reads, sets Aborting.
    void ImportMetafile(const std::string& FileName, int Width, int Height);

    // File type of a file by its content; with CheckExtension the extension must agree.
    int FindFileFormat(const std::string& FileName, bool CheckExtension);

    // Attachment.
    TLXView* AttachedView() const { return view_; }
    void SetAttachedView(TLXView* View);
    TImage* AttachedTImage() const { return image_; }
    void SetAttachedTImage(TImage* Image);
    void SetAttachedBitmap(TBitmap* Bitmap);
    TBitmap* Bitmap() const { return bitmap_; }
    TLXMask* Mask() const { return mask_; }
    // The change callback registered with an attached view: flag 1 (view destroyed) drops
    // every reference to the view, flag 0 (bitmap changed) takes its bitmap and mask again.
    void ViewChanged(TLXView* View, uint8_t Flag);

    // Repaint the target: the view's Update and ImageChange, else the bitmap marked modified.
    void Update();
    TColor Background() const;
    void SetBackground(TColor Color);
    // Fills the whole target with Background.
    void ClearBitmap();
    // From a TLuxIO its Params, from a TLXIOParams that set; anything else is ignored.
    void AssignParams(TObject* Source);

    TLXIOParams* Params() const { return params_.get(); }
    // The scanner parameters; nothing acquires through them.
    TLXTWainParams* TwainParams() const { return twainParams_.get(); }
    TFont* PreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(TFont* Font);

    // Set by a codec, or by an OnProgress handler, to end the current operation; cleared at
    // the start of every load and save.
    bool Aborting = false;
    TLXProgressEvent OnProgress;
    TMsgLanguage MsgLanguage = msSystem;
    TLXIOPreviewsParams PreviewsParams = 0;
    // Write and expect the 12-byte stream header for TIFF, PCX and JPEG streams.
    bool StreamHeaders = false;
    TLXIOPreviewEvent OnIOPreview;
    TLXDialogsMeasureUnit DialogsMeasureUnit = lxduInches;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    enum class Target { None, View, Image, Bare };
    TProgressRec MakeProgress();
    void ClearMetaLists();
    void DetachView();
    void DetachImage();
    void AfterLoad(bool ReaderFillsMask, bool GiveDpi);
    void DpiToView();
    void ReadJpegMetadata(bool FileLoad);
    bool PrepareSave();
    using TEncodeCall = std::function<void(TStream* Stream, TProgressRec& Progress)>;
    // Every file save: into a temporary file that replaces the target only on success.
    void EncodeToFile(const std::string& FileName, const TEncodeCall& Encode);
    // Every stream save; with a Tag and StreamHeaders on, the 12-byte header goes in front.
    // KeepPlaceholderOnAbort leaves the zeroed header of a save that failed.
    void EncodeToStream(TStream* Stream, const char* Tag, bool KeepPlaceholderOnAbort,
                        const TEncodeCall& Encode);
    void StoreIPTC();
    void ApplyGifBackground();
    void LoadFromStreamRegistry(TStream* Stream, int FileType);
    void LoadFromFileRegistry(const std::string& FileName, TLXFormatEntry* Entry);
    void SaveWithWriter(TStream* Stream, TLXFormatWriter Writer);
    int64_t DataLeft(TStream* Stream);

    // The target comes first: the parameters read it when they are made.
    TBitmap* bitmap_ = nullptr;
    TLXView* view_ = nullptr;
    TImage* image_ = nullptr;
    TLXMask* mask_ = nullptr;
    Target target_ = Target::None;
    TColor background_ = 0;
    std::unique_ptr<TLXIOParams> params_;
    std::unique_ptr<TFont> previewFont_;
    std::unique_ptr<TLXTWainParams> twainParams_;
};
