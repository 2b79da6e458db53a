// The I/O component: parameters, the format registry, detection, stream headers, loading and
// saving through the codecs, parameters-only reads, attachment and lifecycle.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "BMPFiltIco.h"
#include "BMPFiltPnm.h"
#include "LuxIO.h"
#include "Win32.h"
#include "lxdefs.h"
#include "lxtgafil.h"
#include "lxutils.h"
#include "codec_fixture_helpers.h"
#include "temp_dir.h"
#include "test_view.h"

using lxtest::TempDir;
using lxtest::TTestView;
namespace fs = std::filesystem;
using namespace codec_test;

namespace {

// ---- Helpers ----

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Filler(size_t n, uint8_t v = 'x') { return Bytes(n, v); }

// A memory stream holding Data, positioned at Pos.
std::unique_ptr<TMemoryStream> Stream(const Bytes& Data, int64_t Pos = 0) {
    auto s = std::make_unique<TMemoryStream>();
    if (!Data.empty()) s->Write(Data.data(), int64_t(Data.size()));
    s->SetPosition(Pos);
    return s;
}

// Everything that tells one picture from another.
struct Snapshot {
    int w, h;
    TPixelFormat pf;
    Bytes bits;
    bool operator==(const Snapshot&) const = default;
};
Snapshot Snap(const TBitmap& b) {
    const uint8_t* p = b.PixelBlock();
    return {b.Width(), b.Height(), b.PixelFormat(), p ? Bytes(p, p + b.ImageSize()) : Bytes()};
}

void FillRamp(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) b.ScanLine(y)[x] = uint8_t(x * 7 + y * 13);
}

// Collects progress reports; optionally sets the component's abort flag on the first one.
struct ProgressLog {
    std::vector<int> values;
    std::vector<TObject*> senders;
    TLuxIO* abortOn = nullptr;
    void OnProgress(TObject* Sender, int per) {
        values.push_back(per);
        senders.push_back(Sender);
        if (abortOn) abortOn->Aborting = true;
    }
    TLXProgressEvent Method() { return MakeMethod(this, &ProgressLog::OnProgress); }
};

// The three codecs of this library: a file, its decoding by the outside tool, its type.
struct CodecCase {
    const char* name;
    std::string file, oracle;
    int type;
    const char* ext;
};
std::vector<CodecCase> CodecCases() {
    return {
        {"jpeg", Fixture("jpeg", "baseline.jpg"), Fixture("jpeg", "baseline.int.1.ppm"), lxftJPEG, ".jpg"},
        {"png", Fixture("png", "rgb8.png"), Fixture("png", "rgb8.pam"), lxftPNG, ".png"},
        {"bmp", Fixture("bmp", "im_24bit.bmp"), Fixture("bmp", "im_24bit.ppm"), lxftBMP, ".bmp"},
        {"tiff", Fixture("tiff", "im_rgb_none.tif"), Fixture("tiff", "im_rgb_none.ppm"), lxftTIFF, ".tif"},
    };
}

class LuxIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedDpi_ = ScreenPixelsPerInch();
        SetScreenPixelsPerInch(72);
        io.SetAttachedBitmap(&bitmap);
    }
    void TearDown() override { SetScreenPixelsPerInch(savedDpi_); }

    void ExpectPixels(TBitmap& b, const std::string& oracle, const std::string& what) {
        const Picture want = ReadNetpbm(oracle);
        ASSERT_EQ(b.Width(), want.w) << what;
        ASSERT_EQ(b.Height(), want.h) << what;
        EXPECT_TRUE(BitmapRGB(b) == want.Rgb()) << what << ": pixels differ from " << oracle;
    }

    TempDir dir;
    TBitmap bitmap;
    TLuxIO io{nullptr};
    int savedDpi_ = 96;
};

// =============================================================================================
// Parameters
// =============================================================================================

// Day count of today's local date from 1899-12-30.
double ExpectedToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int64_t localSeconds = int64_t(now) + local.tm_gmtoff;
    return double(localSeconds / 86400 - (localSeconds % 86400 < 0 ? 1 : 0) + 25569);
}

void ExpectDefaults(const TLXIOParams& p) {
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.SamplesPerPixel, 3);
    EXPECT_EQ(p.FileType, 0);
    EXPECT_EQ(p.FileName, "");
    EXPECT_EQ(p.Palette, nullptr);
    EXPECT_EQ(p.PaletteCount, 0);
    EXPECT_EQ(p.TiffCompression, 0);
    EXPECT_EQ(p.TiffImageIndex, 0);
    EXPECT_EQ(p.TiffPhotometric, 2);
    EXPECT_EQ(p.TiffPlanarConfig, 1);
    EXPECT_EQ(p.TiffXPos, 0);
    EXPECT_EQ(p.TiffYPos, 0);
    EXPECT_EQ(p.TiffDocumentName, "");
    EXPECT_EQ(p.TiffImageDescription, "");
    EXPECT_EQ(p.TiffPageName, "");
    EXPECT_EQ(p.TiffPageNumber, 0);
    EXPECT_EQ(p.TiffPageCount, 0);
    EXPECT_EQ(p.TiffLZWDecompress, nullptr);
    EXPECT_EQ(p.TiffLZWCompress, nullptr);
    EXPECT_TRUE(p.TiffAdjustOrientation);
    EXPECT_EQ(p.TiffImageCount, 0);
    EXPECT_EQ(p.GifVersion, "GIF89a");
    EXPECT_EQ(p.GifImageIndex, 0);
    EXPECT_EQ(p.GifXPos, 0);
    EXPECT_EQ(p.GifYPos, 0);
    EXPECT_EQ(p.GifDelayTime, 0);
    EXPECT_FALSE(p.GifHasTransparency);
    EXPECT_EQ(p.GifTransparentColor, TRGB{});
    EXPECT_FALSE(p.GifInterlaced);
    EXPECT_EQ(p.GifScreenWidth, 0);
    EXPECT_EQ(p.GifScreenHeight, 0);
    EXPECT_EQ(p.GifBackground, TRGB{});
    EXPECT_EQ(p.GifAspectRatio, 0);
    EXPECT_EQ(p.GifLZWDecompress, nullptr);
    EXPECT_EQ(p.GifLZWCompress, nullptr);
    EXPECT_EQ(p.GifImageCount, 0);
    EXPECT_EQ(p.JpegColorSpace, 2);
    EXPECT_EQ(p.JpegQuality, 50);
    EXPECT_EQ(p.JpegDCTMethod, 0);
    EXPECT_FALSE(p.JpegOptimizeCoding);
    EXPECT_EQ(p.JpegSmoothing, 0);
    EXPECT_FALSE(p.JpegProgressive);
    EXPECT_EQ(p.JpegScale, 1);
    EXPECT_EQ(p.JpegMarkers->Count(), 0);
    EXPECT_EQ(p.JpegScaleDenominator, 1);
    EXPECT_EQ(p.PcxVersion, 5);
    EXPECT_TRUE(p.PcxCompressed);
    EXPECT_EQ(p.BmpVersion, 1);
    EXPECT_EQ(p.BmpCompression, 0);
    EXPECT_EQ(p.IcoImageIndex, 0);
    EXPECT_EQ(p.IcoBackground, (TRGB{255, 255, 255}));
    EXPECT_EQ(p.CurImageIndex, 0);
    EXPECT_EQ(p.CurHotSpotX, 0);
    EXPECT_EQ(p.CurHotSpotY, 0);
    EXPECT_EQ(p.CurBackground, (TRGB{255, 255, 255}));
    EXPECT_FALSE(p.PngInterlaced);
    EXPECT_EQ(p.PngBackground, TRGB{});
    EXPECT_EQ(p.PngFilter, 0);
    EXPECT_EQ(p.PngCompression, 5);
    EXPECT_EQ(p.TgaXPos, 0);
    EXPECT_EQ(p.TgaYPos, 0);
    EXPECT_TRUE(p.TgaCompressed);
    EXPECT_EQ(p.TgaImageName, "");
    EXPECT_EQ(p.TgaAuthor, "");
    EXPECT_EQ(p.TgaJobName, "");
    EXPECT_EQ(p.TgaKeyColor, TRGB{});
    EXPECT_EQ(p.TgaAspectRatio, 1.0);
    EXPECT_EQ(p.TgaGamma, 2.2);
    EXPECT_FALSE(p.TgaGrayLevel);
    // Today, time of day 0 (a run across midnight may see the next day).
    EXPECT_TRUE(p.TgaDate == ExpectedToday() || p.TgaDate == ExpectedToday() - 1) << p.TgaDate;
    EXPECT_EQ(p.PnmComments->Count(), 0);
    EXPECT_EQ(p.IPTCInfo->Count(), 0);
    EXPECT_FALSE(p.IPTCInfo->Changed());
    EXPECT_EQ(p.ExifThumbnail->Width(), 1);
    EXPECT_EQ(p.ExifThumbnail->Height(), 1);
    EXPECT_EQ(p.ExifMake, "");
    EXPECT_EQ(p.ExifRelatedSoundFile, "");
    EXPECT_EQ(p.ExifOrientation, 0);
    EXPECT_EQ(p.ExifSceneType, 0);
    EXPECT_EQ(p.ExifXResolution, 0.0);
    EXPECT_EQ(p.ExifExposureIndex, 0.0);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(p.GetExifISOSpeedRatings(i), 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p.GetExifReferenceBlackWhite(i), 0.0);
        EXPECT_EQ(p.ExifReferenceBlackWhite[i].Present, 0);
    }
}

void Dirty(TLXIOParams& p) {
    p.BitsPerSample = 1; p.SamplesPerPixel = 1; p.FileType = 4; p.FileName = "x";
    p.AllocPalette(16);
    p.TiffCompression = 8; p.TiffImageIndex = 3; p.TiffPhotometric = 7; p.TiffPlanarConfig = 2;
    p.TiffXPos = 1; p.TiffYPos = 2; p.TiffDocumentName = "d"; p.TiffImageDescription = "i";
    p.TiffPageName = "n"; p.TiffPageNumber = 4; p.TiffPageCount = 5;
    p.TiffAdjustOrientation = false; p.TiffImageCount = 9;
    p.GifVersion = "GIF87a"; p.GifImageIndex = 2; p.GifXPos = 3; p.GifYPos = 4; p.GifDelayTime = 5;
    p.GifHasTransparency = true; p.GifTransparentColor = {1, 2, 3}; p.GifInterlaced = true;
    p.GifScreenWidth = 7; p.GifScreenHeight = 8; p.GifBackground = {4, 5, 6}; p.GifAspectRatio = 9;
    p.GifImageCount = 3;
    p.JpegColorSpace = 1; p.JpegQuality = 90; p.JpegDCTMethod = 2; p.JpegOptimizeCoding = true;
    p.JpegSmoothing = 10; p.JpegProgressive = true; p.JpegScale = 0; p.JpegScaleDenominator = 8;
    const uint8_t m[] = {1, 2, 3};
    p.JpegMarkers->AddMarker(0xFE, m, 3);
    p.PcxVersion = 3; p.PcxCompressed = false; p.BmpVersion = 2; p.BmpCompression = 1;
    p.IcoImageIndex = 1; p.IcoBackground = {}; p.CurImageIndex = 1; p.CurHotSpotX = 3;
    p.CurHotSpotY = 4; p.CurBackground = {};
    p.PngInterlaced = true; p.PngBackground = {9, 9, 9}; p.PngFilter = 2; p.PngCompression = 9;
    p.TgaXPos = 1; p.TgaYPos = 1; p.TgaCompressed = false; p.TgaImageName = "t"; p.TgaAuthor = "a";
    p.TgaDate = 1; p.TgaJobName = "j"; p.TgaKeyColor = {1, 1, 1}; p.TgaAspectRatio = 2;
    p.TgaGamma = 1; p.TgaGrayLevel = true;
    p.PnmComments->Add("c");
    p.IPTCInfo->AddItem(2, 5, 1, "x");
    p.ExifThumbnail->SetSize(4, 4);
    p.ExifMake = "m"; p.ExifRelatedSoundFile = "s"; p.ExifOrientation = 6; p.ExifSceneType = 1;
    p.ExifXResolution = 72; p.ExifExposureIndex = 1;
    p.SetExifISOSpeedRatings(1, 200);
    p.SetExifReferenceBlackWhite(5, 255);
}

TEST(LXIOParams, DefaultsAfterCreateAndSetDefaults) {
    TLXIOParams p(nullptr);
    {
        SCOPED_TRACE("after Create");
        ExpectDefaults(p);
        EXPECT_EQ(p.Width, 0);
        EXPECT_EQ(p.Height, 0);
        EXPECT_EQ(p.DpiX, 0);
        EXPECT_EQ(p.DpiY, 0);
    }
    Dirty(p);
    p.SetDefaults();
    SCOPED_TRACE("after SetDefaults");
    ExpectDefaults(p);
}

TEST(LXIOParams, DefaultsTakeTheOwnersBitmapAndViewDpi) {
    TTestView view;
    view.GetBitmap()->SetSize(40, 30);
    view.SetDpi(300, 150);
    TLuxIO io(nullptr);
    EXPECT_EQ(io.Params()->Width, 0);   // created before the attachment
    io.SetAttachedView(&view);
    io.Params()->SetDefaults();
    EXPECT_EQ(io.Params()->Width, 40);
    EXPECT_EQ(io.Params()->Height, 30);
    EXPECT_EQ(io.Params()->DpiX, 300);
    EXPECT_EQ(io.Params()->DpiY, 150);

    // A bare bitmap gives the size; without a view the resolution stays as it is.
    TBitmap bare;
    bare.SetSize(5, 6);
    io.SetAttachedBitmap(&bare);
    io.Params()->DpiX = 11;
    io.Params()->SetDefaults();
    EXPECT_EQ(io.Params()->Width, 5);
    EXPECT_EQ(io.Params()->Height, 6);
    EXPECT_EQ(io.Params()->DpiX, 11);
}

int FakeGifDecode(TStream*, int, int, uint8_t*, bool) { return 0; }
void FakeGifDecodeHook(TStream* s, int h, int w, uint8_t* i, bool l) { FakeGifDecode(s, h, w, i, l); }

TEST(LXIOParams, HooksComeFromTheGlobalOnes) {
    DefGifLZWDecompress = &FakeGifDecodeHook;
    TLXIOParams p(nullptr);
    DefGifLZWDecompress = nullptr;
    EXPECT_EQ(p.GifLZWDecompress, &FakeGifDecodeHook);
    p.SetDefaults();
    EXPECT_EQ(p.GifLZWDecompress, nullptr);
}

TEST(LXIOParams, AssignIsADeepCopy) {
    TLXIOParams copy(nullptr);
    {
        auto src = std::make_unique<TLXIOParams>(nullptr);
        Dirty(*src);
        TRGB* pal = src->AllocPalette(256);
        for (int i = 0; i < 256; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(255 - i), 7};
        src->ExifThumbnail->SetSize(3, 2);
        src->ExifThumbnail->ScanLine(1)[4] = 99;
        src->GifLZWDecompress = &FakeGifDecodeHook;
        src->SetExifWhitePoint(1, 0.3127);
        src->IPTCInfo->SetChanged(false);
        copy.Assign(src.get());
    }   // the source is gone: the copy must stand on its own
    EXPECT_EQ(copy.PaletteCount, 256);
    ASSERT_NE(copy.Palette, nullptr);
    EXPECT_EQ(copy.Palette[200], (TRGB{200, 55, 7}));
    EXPECT_EQ(copy.JpegMarkers->Count(), 1);
    EXPECT_EQ(copy.JpegMarkers->MarkerData(0)[2], 3);
    EXPECT_EQ(copy.IPTCInfo->Count(), 1);
    EXPECT_FALSE(copy.IPTCInfo->Changed());
    EXPECT_EQ(copy.PnmComments->Count(), 1);
    EXPECT_EQ(copy.ExifThumbnail->Width(), 3);
    EXPECT_EQ(copy.ExifThumbnail->ScanLine(1)[4], 99);
    EXPECT_EQ(copy.GifLZWDecompress, &FakeGifDecodeHook);
    EXPECT_EQ(copy.GifImageCount, 3);
    EXPECT_EQ(copy.TiffImageCount, 9);
    EXPECT_EQ(copy.GifVersion, "GIF87a");
    EXPECT_EQ(copy.JpegScale, 0);
    EXPECT_EQ(copy.CurHotSpotY, 4);
    EXPECT_EQ(copy.TgaGamma, 1.0);
    EXPECT_EQ(copy.ExifMake, "m");
    EXPECT_EQ(copy.GetExifISOSpeedRatings(1), 200);
    EXPECT_EQ(copy.GetExifWhitePoint(1), 0.3127);
    EXPECT_EQ(copy.ExifWhitePoint[1].Present, 1);
    EXPECT_EQ(copy.GetExifReferenceBlackWhite(5), 255.0);
    EXPECT_EQ(copy.Owner(), nullptr);
}

TEST(LXIOParams, ExifArrayAccessors) {
    TLXIOParams p(nullptr);
    p.SetExifPrimaryChromaticities(5, 0.06);
    p.SetExifYCbCrCoefficients(2, 0.114);
    EXPECT_EQ(p.GetExifPrimaryChromaticities(5), 0.06);
    EXPECT_EQ(p.GetExifYCbCrCoefficients(2), 0.114);
    EXPECT_EQ(p.ExifYCbCrCoefficients[2].Present, 1);
    // Outside the arrays nothing is stored and nothing is read.
    p.SetExifYCbCrCoefficients(3, 1.0);
    p.SetExifWhitePoint(-1, 1.0);
    p.SetExifISOSpeedRatings(2, 5);
    EXPECT_EQ(p.GetExifYCbCrCoefficients(3), 0.0);
    EXPECT_EQ(p.GetExifWhitePoint(-1), 0.0);
    EXPECT_EQ(p.GetExifISOSpeedRatings(2), 0);
}

// =============================================================================================
// Registry
// =============================================================================================

TEST(FormatRegistry, BuiltInTable) {
    struct Row { int id; const char* desc; const char* ext; };
    const Row rows[] = {
        {1, "TIFF Bitmap", "TIF;TIFF"}, {2, "CompuServe Bitmap", "GIF"},
        {3, "JPEG Bitmap", "JPG;JPEG;JPE"}, {4, "PaintBrush", "PCX"},
        {5, "Windows Bitmap", "BMP;DIB;RLE"}, {6, "Windows Icon", "ICO"},
        {7, "Windows Cursor", "CUR"}, {8, "Portable Network Graphics", "PNG"},
        {9, "Windows Metafile", "WMF"}, {10, "Enhanced Windows Metafile", "EMF"},
        {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX;WIN"},
        {12, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM"},
    };
    ASSERT_GE(FormatRegistry().size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const TLXFormatEntry& e = *FormatRegistry()[i];
        EXPECT_EQ(e.FileType, rows[i].id);
        EXPECT_EQ(e.Description, rows[i].desc);
        EXPECT_EQ(e.Extensions, rows[i].ext);
        EXPECT_EQ(e.Reader, nullptr);
        EXPECT_EQ(e.Writer, nullptr);
        EXPECT_EQ(e.Detector, nullptr);
    }
}

TEST(FormatRegistry, Lookups) {
    ASSERT_NE(FindFormatByExtension("Jpe"), nullptr);
    EXPECT_EQ(FindFormatByExtension("Jpe")->FileType, 3);
    EXPECT_EQ(FindFormatByExtension("tiff")->FileType, 1);
    EXPECT_EQ(FindFormatByExtension("PIX")->FileType, 11);
    EXPECT_EQ(FindFormatByExtension("win")->FileType, 11);
    EXPECT_EQ(FindFormatByExtension(""), nullptr);
    EXPECT_EQ(FindFormatByExtension("jp"), nullptr);
    EXPECT_EQ(FormatExtension(11, 5), "PIX");
    EXPECT_EQ(FormatExtension(11, 0), "TGA");
    EXPECT_EQ(FormatExtension(11, 6), "WIN");
    EXPECT_EQ(FormatExtensionCount(11), 7);
    EXPECT_EQ(FormatExtensionCount(3), 3);
    EXPECT_EQ(FormatExtension(11, 7), "");
    EXPECT_EQ(FormatExtension(11, -1), "");
    EXPECT_EQ(FormatExtension(99, 0), "");
    EXPECT_EQ(FormatExtensionCount(99), 0);
    EXPECT_EQ(FindFormatById(99), nullptr);
    EXPECT_EQ(FindFormatById(0), nullptr);
    EXPECT_EQ(FindFormatById(12)->Description, "Portable Pixmap, GreyMap, BitMap");
}

// =============================================================================================
// Detection
// =============================================================================================

Bytes StreamHeader(const char* tag, uint32_t len) {
    Bytes h(12, 0);
    std::memcpy(h.data(), tag, std::strlen(tag));
    for (int i = 0; i < 4; ++i) h[size_t(8 + i)] = uint8_t(len >> (8 * i));
    return h;
}

Bytes IconDirectory(int type, int count, int entriesPresent, uint32_t offset) {
    Bytes d = {0, 0, uint8_t(type), 0, uint8_t(count & 0xFF), uint8_t(count >> 8)};
    for (int i = 0; i < entriesPresent; ++i) {
        Bytes e = {16, 16, 0, 0, 1, 0, 32, 0, 0x68, 4, 0, 0,
                   uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), uint8_t(offset >> 24)};
        d.insert(d.end(), e.begin(), e.end());
    }
    return d;
}

TEST(Detection, FixturesAtTheStartAndAfterOtherData) {
    struct Case { const char* dir; const char* file; int type; };
    const Case cases[] = {
        {"jpeg", "baseline.jpg", 3}, {"jpeg", "progressive.jpg", 3}, {"detect", "tiny.jpg", 3},
        {"png", "rgb8.png", 8}, {"png", "pal1.png", 8}, {"detect", "tiny.png", 8},
        {"bmp", "im_24bit.bmp", 5}, {"bmp", "im_os2_8bit.bmp", 5}, {"detect", "tiny.bmp", 5},
        {"detect", "tiny_le.tif", 1}, {"detect", "tiny_be.tif", 1}, {"detect", "tiny.gif", 2},
        {"detect", "tiny.pcx", 4}, {"detect", "tiny8.pcx", 4}, {"detect", "tiny.ico", 6},
        {"detect", "tiny.cur", 7}, {"detect", "tiny.tga", 11}, {"detect", "tiny_rle.tga", 11},
        {"detect", "tiny.pgm", 12}, {"detect", "tiny.pbm", 12}, {"detect", "tiny_ascii.ppm", 12},
    };
    const Bytes behind = ReadFile(Fixture("png", "rgb8.png"));
    for (const Case& c : cases) {
        const Bytes file = ReadFile(Fixture(c.dir, c.file));
        ASSERT_FALSE(file.empty()) << c.file;
        for (size_t prefix : {size_t(0), size_t(37)}) {
            auto s = Stream(Concat({Filler(prefix, 0x20), file, behind}), int64_t(prefix));
            EXPECT_EQ(DetectStreamFormat(s.get()), c.type) << c.file << " at " << prefix;
            EXPECT_EQ(s->Position(), int64_t(prefix)) << c.file;
        }
    }
}

TEST(Detection, SignatureEdgeCases) {
    const Bytes jpg = ReadFile(Fixture("jpeg", "baseline.jpg"));
    Bytes bmpWithJpegBytes = ReadFile(Fixture("bmp", "im_24bit.bmp"));
    bmpWithJpegBytes[54] = 0xFF, bmpWithJpegBytes[55] = 0xD8, bmpWithJpegBytes[56] = 0xFF;
    // A TIFF header whose first strip, right behind it, is JPEG data.
    const Bytes tiffWithJpegStrip = Concat({{'I', 'I', 42, 0, 0, 1, 0, 0}, jpg});
    Bytes pcx128(128, 0);
    pcx128[0] = 0x0A, pcx128[1] = 5;
    Bytes pcx129 = pcx128;
    pcx129.push_back(0);
    Bytes bm14 = {'B', 'M'};
    bm14.resize(14);
    Bytes bm15 = bm14;
    bm15.push_back(0);
    const std::string text = "Hello, this is a plain text file of no image format at all.\n";
    // Metafiles are never detected: a placeable WMF header and an EMF header record.
    Bytes wmf = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 0x64, 0, 0x64, 0, 0xA0, 0x05};
    wmf.resize(60, 0);
    Bytes emf = {1, 0, 0, 0, 0x6C, 0, 0, 0};
    emf.resize(108, 0);
    std::memcpy(emf.data() + 40, " EMF", 4);
    struct Case { const char* what; Bytes data; int type; };
    const Case cases[] = {
        {"placeable WMF", wmf, 0},
        {"EMF", emf, 0},
        {"empty", {}, 0},
        {"one byte", {0xFF}, 0},
        {"FF D8", {0xFF, 0xD8}, 0},
        {"FF D8 FF alone", {0xFF, 0xD8, 0xFF}, 3},
        {"JFIF stream header + JPEG", Concat({StreamHeader("JFIF", uint32_t(jpg.size())), jpg}), 3},
        {"JPEG after 99 bytes", Concat({Filler(99), jpg}), 3},
        {"JPEG after 100 bytes", Concat({Filler(100), jpg}), 0},
        {"exactly 12 bytes of JFIF header", StreamHeader("JFIF", 0), 0},
        {"JFIF header + 1", Concat({StreamHeader("JFIF", 0), {0}}), 3},
        {"JFIFX is no tag", Concat({StreamHeader("JFIFX", 0), Filler(20)}), 0},
        {"PCX2 header", Concat({StreamHeader("PCX2", 0), Filler(20)}), 4},
        {"old PCX header", Concat({{'P', 'C', 'X', 0}, {1}}), 4},
        {"PCX without zero", Concat({{'P', 'C', 'X', '1'}, Filler(20)}), 0},
        {"TIFF header", Concat({StreamHeader("TIFF", 5), Filler(5)}), 1},
        {"14-byte BM", bm14, 0},
        {"15-byte BM", bm15, 5},
        {"128-byte PCX", pcx128, 0},
        {"129-byte PCX", pcx129, 4},
        {"II and garbage", {'I', 'I', 'z', 'z', 'z', 'z', 'z', 'z', 'z'}, 1},
        {"MM and garbage", {'M', 'M', 1, 2, 3, 4, 5, 6, 7}, 1},
        {"II too short", {'I', 'I', 0, 0, 0, 0, 0, 0}, 0},
        {"plain text", Bytes(text.begin(), text.end()), 0},
        {"BMP with FF D8 FF pixels", bmpWithJpegBytes, 5},
        {"TIFF with a JPEG strip at 8", tiffWithJpegStrip, 1},
        {"PNM with comment", {'P', '6', ' ', '#', ' ', 'c', '\n', ' ', '4', ' ', '4', ' ', '2', '5', '5', '\n'}, 12},
        {"P4 stops after the height", {'P', '4', '\n', '3', ' ', '2', '\n'}, 12},
        {"PNM width zero", {'P', '5', ' ', '0', ' ', '4', ' ', '2', '5', '5', ' '}, 0},
        {"PNM width not a number", {'P', '5', ' ', 'x', ' ', '4', ' ', '2', '5', '5', ' '}, 0},
        {"P7 is no PNM here", {'P', '7', ' ', '4', ' ', '4', ' ', '2', '5', '5', ' '}, 0},
        {"icon with 65535 entries, 2 present", IconDirectory(1, 65535, 2, 0x40), 0},
        {"icon directory", Concat({IconDirectory(1, 1, 1, 22), Filler(40)}), 6},
        {"icon entry inside its directory", Concat({IconDirectory(1, 1, 1, 21), Filler(40)}), 0},
        {"cursor directory", Concat({IconDirectory(2, 1, 1, 22), Filler(40)}), 7},
    };
    for (const Case& c : cases) {
        for (size_t prefix : {size_t(0), size_t(5)}) {
            auto s = Stream(Concat({Filler(prefix, 0x20), c.data}), int64_t(prefix));
            // Header size tests count the whole stream, so a prefix may make a short case pass
            // them; the answer still has to come from the bytes actually there.
            if (prefix == 0 || c.type != 0) {
                EXPECT_EQ(DetectStreamFormat(s.get()), c.type) << c.what << " at " << prefix;
            } else {
                DetectStreamFormat(s.get());
            }
            EXPECT_EQ(s->Position(), int64_t(prefix)) << c.what;
        }
    }
}

TEST(Detection, PnmProbeIsBounded) {
    // A comment or a token that never ends must not take the probe through the whole file.
    Bytes longComment = {'P', '6', ' ', '#'};
    longComment.resize(200000, 'c');
    Bytes longToken = {'P', '6', ' '};
    longToken.resize(200000, '7');
    for (const Bytes& b : {longComment, longToken}) {
        auto s = Stream(b);
        EXPECT_FALSE(ProbePnmStream(s.get()));
        EXPECT_EQ(s->Position(), 0);
    }
}

TEST(Detection, ProbesAnswerFalseForShortData) {
    const Bytes tga = ReadFile(Fixture("detect", "tiny.tga"));
    auto cut = Stream(Bytes(tga.begin(), tga.begin() + 17));
    EXPECT_FALSE(ProbeTgaStream(cut.get()));
    auto whole = Stream(tga);
    EXPECT_TRUE(ProbeTgaStream(whole.get()));
    // A PNM header is not a Targa header even where bytes 2 and 16 would pass.
    Bytes pnm = {'P', '5', '\n'};
    pnm.resize(18, ' ');
    pnm[16] = 8;
    auto p = Stream(pnm);
    EXPECT_FALSE(ProbeTgaStream(p.get()));
    const Bytes ico = ReadFile(Fixture("detect", "tiny.ico"));
    auto icoCut = Stream(Bytes(ico.begin(), ico.begin() + 21));
    EXPECT_FALSE(ProbeIcoStream(icoCut.get()));
    auto cur = Stream(ReadFile(Fixture("detect", "tiny.cur")));
    EXPECT_FALSE(ProbeIcoStream(cur.get()));
    EXPECT_TRUE(ProbeCurStream(cur.get()));
}

// A stream whose every read fails.
class TBrokenStream : public TMemoryStream {
public:
    int64_t Read(void*, int64_t) override { throw EReadError("broken"); }
};

bool DetectAny(TStream*) { return true; }
bool DetectThrows(TStream*) { throw EReadError("detector"); }

TEST(Detection, NeverRaises) {
    TBrokenStream s;
    const uint8_t b[20] = {0xFF, 0xD8, 0xFF};
    s.Write(b, 20);
    s.SetPosition(3);
    EXPECT_EQ(DetectStreamFormat(&s), 0);
    EXPECT_EQ(s.Position(), 3);
}

// An added format in the registry for the duration of a test.
class AddedFormat {
public:
    explicit AddedFormat(TLXFormatEntry e) {
        FormatRegistry().push_back(std::make_unique<TLXFormatEntry>(std::move(e)));
        entry_ = FormatRegistry().back().get();
    }
    ~AddedFormat() {
        auto& r = FormatRegistry();
        r.erase(std::remove_if(r.begin(), r.end(), [&](auto& p) { return p.get() == entry_; }), r.end());
    }
    TLXFormatEntry* operator->() { return entry_; }
private:
    TLXFormatEntry* entry_;
};

TEST(Detection, AddedDetectorsComeFirst) {
    const Bytes png = ReadFile(Fixture("png", "rgb8.png"));
    {
        AddedFormat f({50, "Test", "TST", nullptr, nullptr, &DetectAny});
        auto s = Stream(png);
        EXPECT_EQ(DetectStreamFormat(s.get()), 50);
    }
    {
        AddedFormat f({51, "Test", "TST", nullptr, nullptr, &DetectThrows});
        auto s = Stream(png);
        EXPECT_EQ(DetectStreamFormat(s.get()), 0);   // an exception ends detection, no result
        EXPECT_EQ(s->Position(), 0);
    }
}

// =============================================================================================
// Stream headers
// =============================================================================================

TEST(StreamHeaderFormat, ReadAndWrite) {
    TMemoryStream s;
    bool err = false;
    WriteStreamHeader(&s, "PCX2", 0x01020304, err);
    EXPECT_FALSE(err);
    EXPECT_EQ(StreamBytes(s), (Bytes{'P', 'C', 'X', '2', 0, 0, 0, 0, 4, 3, 2, 1}));
    s.SetPosition(0);
    std::string tag;
    uint32_t len = 0;
    EXPECT_TRUE(ReadStreamHeader(&s, tag, len));
    EXPECT_EQ(tag, "PCX2");
    EXPECT_EQ(len, 0x01020304u);
    auto shortStream = Stream({'J', 'F', 'I', 'F', 0});
    EXPECT_FALSE(ReadStreamHeader(shortStream.get(), tag, len));
    EXPECT_EQ(tag, "");
    auto oldPcx = Stream(Concat({{'P', 'C', 'X', 0}, Filler(8)}));
    EXPECT_TRUE(ReadStreamHeader(oldPcx.get(), tag, len));
    EXPECT_EQ(tag, "PCX");
}

TEST_F(LuxIOTest, JpegStreamsWithHeadersLoadInSequence) {
    // Two JPEGs saved with headers into one stream after other data, then read back.
    io.LoadFromFile(Fixture("jpeg", "baseline.jpg"));
    ASSERT_FALSE(io.Aborting);
    io.StreamHeaders = true;
    TMemoryStream s;
    const Bytes lead = Filler(37);
    s.Write(lead.data(), 37);
    io.SaveToStreamFormat(&s, lxftJPEG);
    ASSERT_FALSE(io.Aborting);
    const int64_t firstEnd = s.Position();
    io.SaveToStreamFormat(&s, lxftJPEG);
    ASSERT_FALSE(io.Aborting);
    const int64_t secondEnd = s.Position();
    const Bytes all = StreamBytes(s);
    ASSERT_EQ(std::string(all.begin() + 37, all.begin() + 41), "JFIF");
    const uint32_t len1 = uint32_t(all[45]) | uint32_t(all[46]) << 8 | uint32_t(all[47]) << 16 |
                          uint32_t(all[48]) << 24;
    EXPECT_EQ(int64_t(len1), firstEnd - 37 - 12);
    EXPECT_EQ(all[41] | all[42] | all[43] | all[44], 0);

    // Reading does not need StreamHeaders for JPEG; each load ends after its image.
    TBitmap other;
    TLuxIO reader(nullptr);
    reader.SetAttachedBitmap(&other);
    s.SetPosition(37);
    reader.LoadFromStream(&s);
    EXPECT_FALSE(reader.Aborting);
    EXPECT_EQ(s.Position(), firstEnd);
    EXPECT_EQ(other.Width(), 33);   // re-encoded: same size, not the same pixels
    EXPECT_EQ(other.Height(), 17);
    other.SetSize(1, 1);
    reader.LoadFromStream(&s);
    EXPECT_FALSE(reader.Aborting);
    EXPECT_EQ(s.Position(), secondEnd);
    EXPECT_EQ(other.Width(), 33);
}

TEST_F(LuxIOTest, JpegHeaderLengthIsBoundedByTheStream) {
    const Bytes jpg = ReadFile(Fixture("jpeg", "baseline.jpg"));
    auto s = Stream(Concat({Filler(5), StreamHeader("JFIF", 0xFFFFFFF0u), jpg}), 5);
    io.LoadFromStream(s.get());
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(s->Position(), s->Size());
}

TEST_F(LuxIOTest, TiffAndPcxStreamHeaders) {
    io.StreamHeaders = true;
    FillRamp(bitmap, 4, 4);
    // A wrong tag: nothing decoded, the stream stays after the 12 bytes.
    for (int type : {lxftTIFF, lxftPCX}) {
        auto s = Stream(Concat({Filler(3), StreamHeader("JFIF", 4), Filler(30)}), 3);
        io.LoadFromStreamFormat(s.get(), type);
        EXPECT_TRUE(io.Aborting) << type;
        EXPECT_EQ(s->Position(), 15) << type;
    }
    // A right tag: the codec runs (on data that is no TIFF it refuses) and the stream ends
    // after the header's length.
    auto t = Stream(Concat({Filler(3), StreamHeader("TIFF", 10), Filler(10), Filler(20)}), 3);
    io.LoadFromStreamFormat(t.get(), lxftTIFF);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(t->Position(), 25);
    auto p = Stream(Concat({Filler(3), StreamHeader("PCX2", 10), Filler(10), Filler(20)}), 3);
    io.LoadFromStreamFormat(p.get(), lxftPCX);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(p->Position(), 25);

    // A PCX save fills in the header's length afterwards and reads back through it.
    TMemoryStream out;
    out.Write("ab", 2);
    io.SaveToStreamFormat(&out, lxftPCX);
    EXPECT_FALSE(io.Aborting);
    const Bytes saved = StreamBytes(out);
    ASSERT_GT(saved.size(), 2u + 12u + 128u);
    EXPECT_EQ(Bytes(saved.begin() + 2, saved.begin() + 14),
              StreamHeader("PCX2", uint32_t(saved.size() - 14)));
    EXPECT_EQ(saved[14], 10);
    {
        TBitmap back;
        TLuxIO reader(nullptr);
        reader.SetAttachedBitmap(&back);
        reader.StreamHeaders = true;
        auto in = Stream(Concat({saved, Filler(5)}), 2);
        reader.LoadFromStreamFormat(in.get(), lxftPCX);
        EXPECT_FALSE(reader.Aborting);
        EXPECT_EQ(Snap(back), Snap(bitmap));
        EXPECT_EQ(in->Position(), int64_t(saved.size()));
    }
    // A TIFF save fills in the header's length too and reads back through it.
    TMemoryStream tiff;
    io.SaveToStreamFormat(&tiff, lxftTIFF);
    EXPECT_FALSE(io.Aborting);
    const Bytes tiffSaved = StreamBytes(tiff);
    ASSERT_GT(tiffSaved.size(), 12u + 8u);
    EXPECT_EQ(Bytes(tiffSaved.begin(), tiffSaved.begin() + 12),
              StreamHeader("TIFF", uint32_t(tiffSaved.size() - 12)));
    {
        TBitmap back;
        TLuxIO reader(nullptr);
        reader.SetAttachedBitmap(&back);
        reader.StreamHeaders = true;
        auto in = Stream(tiffSaved, 0);
        reader.LoadFromStreamFormat(in.get(), lxftTIFF);
        EXPECT_FALSE(reader.Aborting);
        EXPECT_EQ(Snap(back), Snap(bitmap));
    }
    EXPECT_EQ(Snap(bitmap).w, 4);
}

// =============================================================================================
// Loading
// =============================================================================================

TEST_F(LuxIOTest, LoadsByNameByTypeAndFromStreams) {
    const Bytes other = ReadFile(Fixture("detect", "tiny.gif"));
    for (const CodecCase& c : CodecCases()) {
        const std::string name = c.name;
        bitmap.SetSize(1, 1);
        io.LoadFromFile(c.file);
        EXPECT_FALSE(io.Aborting) << name;
        EXPECT_EQ(io.Params()->FileType, c.type) << name;
        EXPECT_EQ(io.Params()->FileName, c.file) << name;
        ExpectPixels(bitmap, c.oracle, name + " by name");

        // The extension test ignores case.
        const std::string upper = dir / ("PHOTO" + UpperCase(c.ext));
        WriteFile(upper, ReadFile(c.file));
        bitmap.SetSize(1, 1);
        io.LoadFromFile(upper);
        EXPECT_FALSE(io.Aborting) << name;
        ExpectPixels(bitmap, c.oracle, name + " by upper-case name");

        // By type, whatever the name says.
        const std::string misnamed = dir / (name + ".dat");
        WriteFile(misnamed, ReadFile(c.file));
        bitmap.SetSize(1, 1);
        io.LoadFromFileFormat(misnamed, c.type);
        EXPECT_FALSE(io.Aborting) << name;
        EXPECT_EQ(io.Params()->FileType, c.type);
        ExpectPixels(bitmap, c.oracle, name + " by type");

        // From a stream, at its start and after other data, with another file behind.
        for (size_t prefix : {size_t(0), size_t(37)}) {
            auto s = Stream(Concat({Filler(prefix), ReadFile(c.file), other}), int64_t(prefix));
            bitmap.SetSize(1, 1);
            io.Params()->FileName = "stale";
            io.LoadFromStream(s.get());
            EXPECT_FALSE(io.Aborting) << name << " at " << prefix;
            EXPECT_EQ(io.Params()->FileType, c.type);
            EXPECT_EQ(io.Params()->FileName, "");
            ExpectPixels(bitmap, c.oracle, name + " from a stream at " + std::to_string(prefix));
            auto t = Stream(Concat({Filler(prefix), ReadFile(c.file)}), int64_t(prefix));
            bitmap.SetSize(1, 1);
            io.LoadFromStreamFormat(t.get(), c.type);
            EXPECT_FALSE(io.Aborting) << name;
            ExpectPixels(bitmap, c.oracle, name + " from a stream by type");
        }
    }
}

TEST_F(LuxIOTest, ProgressReportsComeFromTheComponent) {
    for (const CodecCase& c : CodecCases()) {
        ProgressLog log;
        io.OnProgress = log.Method();
        io.LoadFromFile(c.file);
        EXPECT_FALSE(io.Aborting) << c.name;
        ASSERT_FALSE(log.values.empty()) << c.name;
        EXPECT_TRUE(std::is_sorted(log.values.begin(), log.values.end())) << c.name;
        EXPECT_GE(log.values.front(), 0);
        EXPECT_LE(log.values.back(), 100);
        EXPECT_GE(log.values.back(), 90) << c.name;
        for (TObject* s : log.senders) EXPECT_EQ(s, &io);
    }
    io.OnProgress.Clear();
}

TEST_F(LuxIOTest, AbortingFromTheProgressHandlerStopsTheLoad) {
    for (const CodecCase& c : CodecCases()) {
        ProgressLog log;
        log.abortOn = &io;
        io.OnProgress = log.Method();
        io.LoadFromFile(c.file);
        EXPECT_TRUE(io.Aborting) << c.name;
        EXPECT_GE(log.values.size(), 1u) << c.name;
        EXPECT_LT(int(log.values.size()), ReadNetpbm(c.oracle).h) << c.name;
        // The next operation starts clean.
        io.OnProgress.Clear();
        io.LoadFromFile(c.file);
        EXPECT_FALSE(io.Aborting) << c.name;
    }
}

TEST_F(LuxIOTest, ExtensionDispatch) {
    const Bytes jpg = ReadFile(Fixture("jpeg", "baseline.jpg"));
    struct Case { const char* name; bool aborts; int type; };
    const Case cases[] = {
        {"a.JPG", false, 3}, {"a.jpe", false, 3}, {"a.jpeg", false, 3},
        {"a.win", true, 11},    // Targa by name: JPEG bytes are no Targa header
        {"a.pix", true, 11},
        {"a.WMF", true, 0},     // JPEG bytes are no metafile
        {"a.xyz", true, 0},
        {"noext", true, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir / c.name;
        WriteFile(path, jpg);
        io.Params()->JpegMarkers->AddMarker(0xFE, "x", 1);
        io.Params()->FileType = 42;
        bitmap.SetSize(2, 2);
        io.LoadFromFile(path);
        EXPECT_EQ(io.Aborting, c.aborts) << c.name;
        if (std::string(c.name) != "a.WMF") {
            EXPECT_EQ(io.Params()->FileType, c.type) << c.name;
        }
        if (c.aborts) {
            EXPECT_EQ(bitmap.Width(), 2) << c.name;
        }
        if (c.type == 0 && std::string(c.name) != "a.WMF") {
            EXPECT_EQ(io.Params()->JpegMarkers->Count(), 0) << c.name;
            EXPECT_EQ(io.Params()->FileName, "") << c.name;
        }
    }
}

// Every extension that a load, a save or the format table names, each with a file of its
// format: what loading by name, the content check of FindFileFormat and saving by name make
// of it. Load and Save give the file type reached (0 when the call aborts).
TEST_F(LuxIOTest, ExtensionListsAgree) {
    struct Case { const char* ext; const char* file; int load, find, save; };
    const Case cases[] = {
        {"jpg", "tiny.jpg", 3, 3, 3}, {"JPEG", "tiny.jpg", 3, 3, 3}, {"jpe", "tiny.jpg", 3, 3, 3},
        {"png", "tiny.png", 8, 8, 8}, {"tif", "tiny_le.tif", 1, 1, 1}, {"tiff", "tiny_be.tif", 1, 1, 1},
        {"pcx", "tiny.pcx", 4, 4, 4}, {"bmp", "tiny.bmp", 5, 5, 5}, {"dib", "tiny.bmp", 5, 5, 5},
        {"rle", "tiny.bmp", 5, 5, 5}, {"ico", "tiny.ico", 6, 6, 0}, {"cur", "tiny.cur", 7, 7, 0},
        {"tga", "tiny.tga", 11, 11, 11}, {"targa", "tiny.tga", 11, 11, 11},
        {"vda", "tiny.tga", 11, 11, 11}, {"icb", "tiny.tga", 11, 11, 11},
        {"vst", "tiny.tga", 11, 11, 11},
        {"win", "tiny.tga", 11, 11, 11},
        {"pix", "tiny.tga", 11, 11, 11},
        {"pxm", "tiny.pgm", 12, 12, 12}, {"ppm", "tiny_ascii.ppm", 12, 12, 12},
        {"pgm", "tiny.pgm", 12, 12, 12}, {"pbm", "tiny.pbm", 12, 12, 12},
    };
    for (const Case& c : cases) {
        const std::string name = dir / (std::string("in.") + c.ext);
        WriteFile(name, ReadFile(Fixture("detect", c.file)));
        io.LoadFromFile(name);
        EXPECT_EQ(io.Aborting ? 0 : io.Params()->FileType, c.load) << c.ext;
        EXPECT_EQ(io.FindFileFormat(name, true), c.find) << c.ext;
        FillRamp(bitmap, 4, 3);
        const std::string out = dir / (std::string("out.") + c.ext);
        io.SaveToFile(out);
        EXPECT_EQ(io.Aborting ? 0 : io.FindFileFormat(out, false), c.save) << c.ext;
    }
}

TEST_F(LuxIOTest, NothingHappensWithoutANameOrATarget) {
    io.Aborting = true;
    io.LoadFromFile("");
    EXPECT_TRUE(io.Aborting);
    io.SaveToFile("");
    EXPECT_TRUE(io.Aborting);
    TLuxIO bare(nullptr);
    bare.Aborting = true;
    bare.LoadFromFile(Fixture("jpeg", "baseline.jpg"));
    EXPECT_TRUE(bare.Aborting);
    // Per-format loads and saves without a target clear the flag and stop.
    auto s = Stream(ReadFile(Fixture("png", "rgb8.png")));
    bare.LoadFromStream(s.get());
    EXPECT_FALSE(bare.Aborting);
    EXPECT_EQ(bare.Params()->FileType, 0);
    bare.Aborting = true;
    TMemoryStream out;
    bare.SaveToStreamFormat(&out, lxftBMP);
    EXPECT_FALSE(bare.Aborting);
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(LuxIOTest, UnknownStreamAborts) {
    FillRamp(bitmap, 3, 3);
    const Snapshot before = Snap(bitmap);
    const std::string text = "Hello, this is a plain text file of no image format at all.\n";
    auto s = Stream(Bytes(text.begin(), text.end()));
    io.Params()->FileType = 5;
    io.LoadFromStream(s.get());
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.Params()->FileType, 0);
    EXPECT_TRUE(Snap(bitmap) == before);
}

TEST_F(LuxIOTest, FormatsNotYetInTheLibraryRefuse) {
    FillRamp(bitmap, 3, 3);
    const Snapshot before = Snap(bitmap);
    struct Case { const char* file; int type; };
    const Case cases[] = {{"tiny.gif", 2}};
    for (const Case& c : cases) {
        const std::string path = Fixture("detect", c.file);
        io.LoadFromFile(path);
        EXPECT_TRUE(io.Aborting) << c.file;
        io.LoadFromFileFormat(path, c.type);
        EXPECT_TRUE(io.Aborting) << c.file;
        auto s = Stream(Concat({Filler(9), ReadFile(path)}), 9);
        io.LoadFromStream(s.get());
        EXPECT_TRUE(io.Aborting) << c.file;
        io.ParamsFromFile(path);
        if (c.type == lxftGIF) {
            // The GIF container reads everything but the LZW pixel data.
            EXPECT_FALSE(io.Aborting) << c.file;
            EXPECT_EQ(io.Params()->FileType, lxftGIF) << c.file;
            EXPECT_EQ(io.Params()->Width, 6) << c.file;
            EXPECT_EQ(io.Params()->Height, 4) << c.file;
            EXPECT_EQ(io.Params()->GifImageCount, 1) << c.file;
            EXPECT_EQ(io.Params()->PaletteCount, 4) << c.file;
        } else {
            EXPECT_EQ(io.Params()->FileType, 0) << c.file;
        }
        EXPECT_TRUE(Snap(bitmap) == before) << c.file;
    }
    // A metafile load of bytes that are no metafile refuses.
    WriteFile(dir / "x.emf", Filler(40));
    for (int type : {9, 10}) {
        io.LoadFromFileFormat(dir / "x.emf", type);
        EXPECT_TRUE(io.Aborting);
    }
    fs::remove(dir / "x.emf");
    // Saves: no writer yet, or none at all.
    for (const char* name : {"a.gif", "a.ico", "a.cur", "a.emf",
                             "a.wmf", "a.xyz"}) {
        io.SaveToFile(dir / name);
        EXPECT_TRUE(io.Aborting) << name;
    }
    EXPECT_TRUE(dir.Names().empty());
    for (int type : {2, 6, 7, 9, 10, 0, 99}) {
        TMemoryStream s;
        io.StreamHeaders = false;
        io.SaveToStreamFormat(&s, type);
        EXPECT_TRUE(io.Aborting) << type;
    }
}

TEST_F(LuxIOTest, MissingFileRaises) {
    EXPECT_THROW(io.LoadFromFile(dir / "missing.jpg"), EFOpenError);
    EXPECT_THROW(io.LoadFromFileFormat(dir / "missing.png", lxftPNG), EFOpenError);
    EXPECT_THROW(io.SaveToFile(dir / "no/such/dir/a.bmp"), EFCreateError);
}

TEST_F(LuxIOTest, ResolutionGoesToTheView) {
    // A BMP of 300 dpi: the file load hands it to the view, the stream load does not.
    Bytes bmp = ReadFile(Fixture("bmp", "im_24bit.bmp"));
    for (int off : {38, 42}) {
        bmp[size_t(off)] = 11811 & 0xFF;
        bmp[size_t(off + 1)] = 11811 >> 8;
    }
    const std::string path = dir / "dpi.bmp";
    WriteFile(path, bmp);
    TTestView view;
    TLuxIO vio(nullptr);
    vio.SetAttachedView(&view);
    view.SetDpi(50, 50);
    auto s = Stream(bmp);
    vio.LoadFromStream(s.get());
    EXPECT_FALSE(vio.Aborting);
    EXPECT_EQ(vio.Params()->DpiX, 300);
    EXPECT_EQ(view.DpiX(), 50);
    vio.LoadFromFile(path);
    EXPECT_EQ(view.DpiX(), 300);
    EXPECT_EQ(view.DpiY(), 300);
    // PNG without pHYs: the default DPI, by stream as by name.
    view.SetDpi(50, 50);
    auto p = Stream(ReadFile(Fixture("png", "rgb8.png")));
    vio.LoadFromStream(p.get());
    EXPECT_EQ(view.DpiX(), 72);
    EXPECT_GT(view.updates, 0);
    EXPECT_GT(view.imageChanges, 0);
}

// The EXIF reader stand-in: fills the resolution the test asks for.
struct ExifAnswer {
    int result = 1;
    double x = 0, y = 0;
    int unit = 2;
    int calls = 0;
    Bytes lastBlock;
} g_exif;

int FakeExifReader(const uint8_t* Block, int Length, TLXIOParams& P) {
    ++g_exif.calls;
    g_exif.lastBlock.assign(Block, Block + Length);
    if (g_exif.result) {
        P.ExifXResolution = g_exif.x;
        P.ExifYResolution = g_exif.y;
        P.ExifResolutionUnit = g_exif.unit;
    }
    return g_exif.result;
}

TEST_F(LuxIOTest, ExifResolutionReplacesAnAspectRatio) {
    // markers.jpg: JFIF density unit 0 with 1 x 1, and an APP1 Exif block.
    const std::string path = Fixture("jpeg", "markers.jpg");
    ExifBlockReader = &FakeExifReader;
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { int result; double x, y; int unit; bool file; int wantX, wantY; };
    const Case cases[] = {
        {1, 300, 300, 2, true, 300, 300},
        {1, 118, 120, 3, true, 299, 304},
        {1, 72.9, 72.9, 2, true, 72, 72},
        {1, 300, 300, 2, false, 1, 1},     // stream loads keep what the JFIF header said
        {0, 300, 300, 2, true, 1, 1},      // not an EXIF block
        {1, 0, 0, 2, true, 1, 1},
        {1, inf, 300, 2, true, 1, 1},
        {1, std::nan(""), 300, 2, true, 1, 1},
        {1, 1e12, 1e12, 2, true, 1, 1},
        {1, -300, -300, 2, true, 1, 1},
    };
    for (const Case& c : cases) {
        g_exif = {c.result, c.x, c.y, c.unit, 0, {}};
        if (c.file) {
            io.LoadFromFile(path);
        } else {
            auto s = Stream(ReadFile(path));
            io.LoadFromStream(s.get());
        }
        EXPECT_FALSE(io.Aborting);
        EXPECT_EQ(g_exif.calls, 1);
        EXPECT_EQ(io.Params()->DpiX, c.wantX) << c.x << " unit " << c.unit;
        EXPECT_EQ(io.Params()->DpiY, c.wantY) << c.y << " unit " << c.unit;
    }
    ASSERT_GE(g_exif.lastBlock.size(), 6u);
    EXPECT_EQ(std::string(g_exif.lastBlock.begin(), g_exif.lastBlock.begin() + 4), "Exif");
    ExifBlockReader = ReadExifBlock;   // the library's own again for the tests that follow
}

TEST_F(LuxIOTest, MaskFollowsTheBitmap) {
    TTestView view;
    TLuxIO vio(nullptr);
    vio.SetAttachedView(&view);
    EXPECT_EQ(vio.Mask(), view.GetAlphaMask());
    TLXMask* mask = view.GetAlphaMask();
    mask->AllocBits(5, 5, 8);
    mask->Fill(0);
    // Formats without alpha: an opaque mask of the picture's size.
    vio.LoadFromFile(Fixture("jpeg", "baseline.jpg"));
    ASSERT_EQ(mask->Width, 33);
    ASSERT_EQ(mask->Height, 17);
    EXPECT_EQ(mask->BitsPerPixel, 8);
    EXPECT_TRUE(std::all_of(mask->Bits, mask->Bits + 33 * 17, [](uint8_t v) { return v == 255; }));
    // PNG alpha goes into the mask.
    vio.LoadFromFile(Fixture("png", "rgba8.png"));
    EXPECT_FALSE(vio.Aborting);
    const Picture want = ReadNetpbm(Fixture("png", "rgba8.pam"));
    ASSERT_EQ(mask->Width, want.w);
    ASSERT_EQ(mask->Height, want.h);
    int bad = 0;
    for (int y = 0; y < want.h; ++y)
        for (int x = 0; x < want.w; ++x) bad += mask->ScanLine(y)[x] != want.Alpha(x, y);
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(BitmapRGB(*view.GetBitmap()) == want.Rgb());
    // A broken PNG after a bigger picture: whatever the reader left, mask and bitmap agree.
    FillRamp(*view.GetBitmap(), 60, 50);
    mask->AllocBits(60, 50, 8);
    Bytes png = ReadFile(Fixture("png", "rgba8.png"));
    png.resize(png.size() / 2);
    auto s = Stream(png);
    vio.LoadFromStream(s.get());
    EXPECT_TRUE(vio.Aborting);
    EXPECT_EQ(mask->Width, view.GetBitmap()->Width());
    EXPECT_EQ(mask->Height, view.GetBitmap()->Height());
}

TEST_F(LuxIOTest, PngBackgroundRule) {
    // Without bKGD the background stays, by stream as by name; a bKGD sets it.
    for (bool byStream : {false, true}) {
        io.SetBackground(clRed);
        io.Params()->PngBackground = TRGB{0, 0, 0};
        if (byStream) {
            auto s = Stream(ReadFile(Fixture("png", "rgb8.png")));
            io.LoadFromStream(s.get());
        } else {
            io.LoadFromFile(Fixture("png", "rgb8.png"));
        }
        EXPECT_FALSE(io.Aborting);
        EXPECT_EQ(io.Background(), clRed) << byStream;
        if (byStream) {
            auto s = Stream(ReadFile(Fixture("png", "rgba8_bkgd.png")));
            io.LoadFromStream(s.get());
        } else {
            io.LoadFromFile(Fixture("png", "rgba8_bkgd.png"));
        }
        EXPECT_EQ(io.Background(), clWhite) << byStream;
    }
}

// =============================================================================================
// Parameters only
// =============================================================================================

TEST_F(LuxIOTest, ParamsOnlyReadsFillParamsAndLeaveTheBitmap) {
    FillRamp(bitmap, 9, 4);
    const Snapshot before = Snap(bitmap);
    for (const CodecCase& c : CodecCases()) {
        const Picture want = ReadNetpbm(c.oracle);
        io.ParamsFromFile(c.file);
        EXPECT_FALSE(io.Aborting) << c.name;
        EXPECT_EQ(io.Params()->FileType, c.type) << c.name;
        EXPECT_EQ(io.Params()->FileName, c.file);
        EXPECT_EQ(io.Params()->Width, want.w) << c.name;
        EXPECT_EQ(io.Params()->Height, want.h) << c.name;
        io.Params()->Width = 0;
        auto s = Stream(Concat({Filler(11), ReadFile(c.file)}), 11);
        io.ParamsFromStream(s.get());
        EXPECT_EQ(io.Params()->FileType, c.type) << c.name;
        EXPECT_EQ(io.Params()->Width, want.w) << c.name;
        io.ParamsFromFileFormat(c.file, c.type);
        EXPECT_EQ(io.Params()->FileType, c.type) << c.name;
        EXPECT_TRUE(Snap(bitmap) == before) << c.name;
    }
    // The JPEG read also brings its IPTC records.
    io.ParamsFromFile(Fixture("jpeg", "markers.jpg"));
    EXPECT_EQ(io.Params()->FileType, lxftJPEG);
    EXPECT_GT(io.Params()->IPTCInfo->Count(), 0);
    EXPECT_TRUE(Snap(bitmap) == before);
}

TEST_F(LuxIOTest, ParamsOnlyReadsOfBadFilesGiveTypeZero) {
    FillRamp(bitmap, 9, 4);
    const Snapshot before = Snap(bitmap);
    Bytes garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    struct Case { std::string name; Bytes data; };
    std::vector<Case> cases = {{"garbage.jpg", garbage}, {"garbage.bin", garbage}, {"empty.png", {}}};
    for (const CodecCase& c : CodecCases()) {
        const Bytes full = ReadFile(c.file);
        for (size_t keep : {size_t(3), size_t(20), size_t(40)})
            cases.push_back({std::string("cut") + std::to_string(keep) + c.ext,
                             Bytes(full.begin(), full.begin() + std::min(keep, full.size()))});
    }
    for (const Case& c : cases) {
        const std::string path = dir / c.name;
        WriteFile(path, c.data);
        io.Params()->FileType = 99;
        EXPECT_NO_THROW(io.ParamsFromFile(path)) << c.name;
        EXPECT_EQ(io.Params()->FileType, 0) << c.name;
        for (int type : {lxftJPEG, lxftPNG, lxftBMP}) {
            EXPECT_NO_THROW(io.ParamsFromFileFormat(path, type)) << c.name;
            EXPECT_EQ(io.Params()->FileType, 0) << c.name << " as " << type;
            auto s = Stream(c.data);
            EXPECT_NO_THROW(io.ParamsFromStreamFormat(s.get(), type));
            EXPECT_EQ(io.Params()->FileType, 0) << c.name << " as " << type;
        }
        EXPECT_TRUE(Snap(bitmap) == before) << c.name;
    }
    EXPECT_NO_THROW(io.ParamsFromFile(dir / "missing.jpg"));
    EXPECT_EQ(io.Params()->FileType, 0);
    EXPECT_NO_THROW(io.ParamsFromFileFormat(dir / "missing.jpg", lxftJPEG));
    EXPECT_EQ(io.Params()->FileType, 0);
    EXPECT_EQ(io.Params()->FileName, dir / "missing.jpg");
    auto s = Stream(garbage);
    io.ParamsFromStreamFormat(s.get(), 77);   // nothing reads it
    EXPECT_EQ(io.Params()->FileType, 0);
}

TEST_F(LuxIOTest, FindFileFormat) {
    const Bytes jpg = ReadFile(Fixture("jpeg", "baseline.jpg"));
    WriteFile(dir / "photo.png", jpg);
    EXPECT_EQ(io.FindFileFormat(dir / "photo.png", true), 0);
    EXPECT_EQ(io.FindFileFormat(dir / "photo.png", false), 3);
    EXPECT_EQ(io.FindFileFormat(Fixture("jpeg", "baseline.jpg"), true), 3);
    const Bytes ico = ReadFile(Fixture("detect", "tiny.ico"));
    WriteFile(dir / "icon.cur", ico);
    EXPECT_EQ(io.FindFileFormat(dir / "icon.cur", true), 7);
    WriteFile(dir / "icon.jpg", ico);
    EXPECT_EQ(io.FindFileFormat(dir / "icon.jpg", true), 0);
    WriteFile(dir / "photo.xyz", jpg);
    EXPECT_EQ(io.FindFileFormat(dir / "photo.xyz", true), 0);
    EXPECT_EQ(io.FindFileFormat(dir / "missing.jpg", false), 0);
}

// =============================================================================================
// Saving
// =============================================================================================

TEST_F(LuxIOTest, SavesRoundTrip) {
    struct Case { const char* ext; int type; bool exact; };
    const Case cases[] = {{".png", lxftPNG, true}, {".bmp", lxftBMP, true}, {".jpg", lxftJPEG, false}};
    io.LoadFromFile(Fixture("png", "rgb8.png"));
    ASSERT_FALSE(io.Aborting);
    const Bytes source = BitmapRGB(bitmap);
    for (const Case& c : cases) {
        const std::string path = dir / (std::string("out") + c.ext);
        io.SaveToFile(path);
        EXPECT_FALSE(io.Aborting) << c.ext;
        TBitmap back;
        TLuxIO reader(nullptr);
        reader.SetAttachedBitmap(&back);
        reader.LoadFromFile(path);
        EXPECT_FALSE(reader.Aborting) << c.ext;
        EXPECT_EQ(reader.Params()->FileType, c.type);
        ASSERT_EQ(back.Width(), bitmap.Width()) << c.ext;
        if (c.exact) {
            EXPECT_TRUE(BitmapRGB(back) == source) << c.ext;
        }

        // Into a stream after other data, and back from there.
        TMemoryStream s;
        s.Write("0123456", 7);
        io.SaveToStreamFormat(&s, c.type);
        EXPECT_FALSE(io.Aborting) << c.ext;
        s.SetPosition(7);
        back.SetSize(1, 1);
        reader.LoadFromStream(&s);
        EXPECT_FALSE(reader.Aborting) << c.ext;
        ASSERT_EQ(back.Width(), bitmap.Width()) << c.ext;
        if (c.exact) {
            EXPECT_TRUE(BitmapRGB(back) == source) << c.ext;
        }
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out.bmp", "out.jpg", "out.png"}));
}

TEST_F(LuxIOTest, SaveConvertsTheTargetToTwentyFourBits) {
    io.LoadFromFile(Fixture("bmp", "im_24bit.bmp"));
    bitmap.SetPixelFormat(pf8bit);
    ASSERT_EQ(bitmap.PixelFormat(), pf8bit);
    TMemoryStream s;
    io.SaveToStreamFormat(&s, lxftBMP);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_GT(s.Size(), 54);
}

TEST_F(LuxIOTest, FailedSaveKeepsTheOldFile) {
    io.LoadFromFile(Fixture("png", "rgb8.png"));
    const Bytes old = {'o', 'l', 'd'};
    for (const char* name : {"keep.png", "keep.bmp", "keep.jpg", "keep.gif"}) {
        const std::string path = dir / name;
        WriteFile(path, old);
        ProgressLog log;
        log.abortOn = &io;
        io.OnProgress = log.Method();
        io.SaveToFile(path);
        EXPECT_TRUE(io.Aborting) << name;
        EXPECT_EQ(ReadFile(path), old) << name;
        io.OnProgress.Clear();
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"keep.bmp", "keep.gif", "keep.jpg", "keep.png"}));
    // A save that works replaces the file and leaves nothing else behind.
    io.SaveToFile(dir / "keep.png");
    EXPECT_FALSE(io.Aborting);
    EXPECT_NE(ReadFile(dir / "keep.png"), old);
    EXPECT_EQ(dir.Names().size(), 4u);
}

TEST_F(LuxIOTest, IptcRoundTrip) {
    const std::string path = Fixture("jpeg", "markers.jpg");
    io.LoadFromFile(path);
    ASSERT_FALSE(io.Aborting);
    TLXIPTCInfoList* iptc = io.Params()->IPTCInfo.get();
    ASSERT_GT(iptc->Count(), 0);
    EXPECT_FALSE(iptc->Changed());
    const int app13 = io.Params()->JpegMarkers->IndexOf(237);
    ASSERT_GE(app13, 0);
    const Bytes original(io.Params()->JpegMarkers->MarkerData(app13),
                         io.Params()->JpegMarkers->MarkerData(app13) +
                             io.Params()->JpegMarkers->MarkerLength(app13));

    auto reload = [&](TLuxIO& reader, TMemoryStream& s) {
        s.SetPosition(0);
        reader.LoadFromStream(&s);
        EXPECT_FALSE(reader.Aborting);
    };
    auto datasets = [](const TLXIPTCInfoList& l) {
        std::vector<std::string> out;
        for (int i = 0; i < l.Count(); ++i) {
            if (l.RecordNumber(i) == 2 && l.DataSet(i) == 0) continue;   // the version record
            const uint8_t* d = l.ItemData(i);
            out.push_back(std::to_string(l.RecordNumber(i)) + ":" + std::to_string(l.DataSet(i)) + "=" +
                          std::string(d, d + l.ItemHeaders(i).Length));
        }
        return out;
    };
    TBitmap back;
    TLuxIO reader(nullptr);
    reader.SetAttachedBitmap(&back);
    {
        // Unchanged: the APP13 bytes go out as they came.
        TMemoryStream s;
        io.SaveToStreamFormat(&s, lxftJPEG);
        ASSERT_FALSE(io.Aborting);
        reload(reader, s);
        const TLXMarkerList* m = reader.Params()->JpegMarkers.get();
        const int i = m->IndexOf(237);
        ASSERT_GE(i, 0);
        EXPECT_EQ(Bytes(m->MarkerData(i), m->MarkerData(i) + m->MarkerLength(i)), original);
    }
    {
        // Changed: the list is written and reads back the same.
        const std::string title = "A title";
        iptc->AddItem(2, 5, int(title.size()), title.data());
        TMemoryStream s;
        io.SaveToStreamFormat(&s, lxftJPEG);
        ASSERT_FALSE(io.Aborting);
        reload(reader, s);
        EXPECT_EQ(datasets(*reader.Params()->IPTCInfo), datasets(*iptc));
        EXPECT_EQ(reader.Params()->JpegMarkers->Count(), io.Params()->JpegMarkers->Count());
    }
    {
        // Too long for one marker: refused, nothing written, the old marker kept.
        const int before = io.Params()->JpegMarkers->MarkerLength(app13);
        const Bytes big(70000, 'b');
        iptc->AddItem(2, 120, int(big.size()), big.data());
        TMemoryStream s;
        io.SaveToStreamFormat(&s, lxftJPEG);
        EXPECT_TRUE(io.Aborting);
        EXPECT_EQ(s.Size(), 0);
        EXPECT_EQ(io.Params()->JpegMarkers->MarkerLength(app13), before);
        io.SaveToFile(dir / "big.jpg");
        EXPECT_TRUE(io.Aborting);
        EXPECT_TRUE(dir.Names().empty());
    }
}

TEST_F(LuxIOTest, AJpegWithoutIptcGainsNoApp13) {
    io.LoadFromFile(Fixture("jpeg", "baseline.jpg"));
    ASSERT_EQ(io.Params()->JpegMarkers->IndexOf(237), -1);
    TMemoryStream s;
    io.SaveToStreamFormat(&s, lxftJPEG);
    TBitmap back;
    TLuxIO reader(nullptr);
    reader.SetAttachedBitmap(&back);
    s.SetPosition(0);
    reader.LoadFromStream(&s);
    EXPECT_EQ(reader.Params()->JpegMarkers->IndexOf(237), -1);
}

// =============================================================================================
// Registry formats
// =============================================================================================

struct RegistryCalls {
    int reads = 0, writes = 0, paramsOnly = 0;
    TBitmap* lastBitmap = nullptr;
    bool throwBadAlloc = false, throwRead = false;
} g_reg;

void TestReader(TStream* Stream, TBitmap* Bitmap, TLXIOParams& P, bool ParamsOnly, TProgressRec&) {
    if (g_reg.throwBadAlloc) throw std::bad_alloc();
    if (g_reg.throwRead) throw EReadError("reader");
    uint8_t b[4];
    if (Stream->Read(b, 4) != 4) return;
    (ParamsOnly ? g_reg.paramsOnly : g_reg.reads)++;
    g_reg.lastBitmap = Bitmap;
    P.Width = b[3];
    P.DpiX = P.DpiY = 123;
    if (!ParamsOnly) Bitmap->SetSize(b[3], 1);
}
void TestWriter(TStream* Stream, TBitmap*, TLXIOParams&, TProgressRec&) {
    ++g_reg.writes;
    Stream->Write("TST!", 4);
}
bool TestDetector(TStream* Stream) {
    uint8_t b[3];
    return Stream->Read(b, 3) == 3 && std::memcmp(b, "TST", 3) == 0;
}

TEST_F(LuxIOTest, AddedFormatsGoThroughTheRegistry) {
    g_reg = {};
    AddedFormat f({60, "Test format", "TST;TEST", &TestReader, &TestWriter, &TestDetector});
    const Bytes data = {'T', 'S', 'T', 5};
    WriteFile(dir / "a.tst", data);
    TTestView view;
    TLuxIO vio(nullptr);
    vio.SetAttachedView(&view);
    view.SetDpi(50, 50);
    vio.LoadFromFile(dir / "a.tst");
    EXPECT_FALSE(vio.Aborting);
    EXPECT_EQ(g_reg.reads, 1);
    EXPECT_EQ(g_reg.lastBitmap, view.GetBitmap());
    EXPECT_EQ(vio.Params()->FileType, 60);
    EXPECT_EQ(vio.Params()->FileName, dir / "a.tst");
    EXPECT_EQ(view.GetBitmap()->Width(), 5);
    EXPECT_EQ(view.DpiX(), 123);
    vio.LoadFromFileFormat(dir / "a.tst", 60);
    EXPECT_EQ(g_reg.reads, 2);
    // By content: the added detector runs before the built-in tests.
    auto s = Stream(Concat({Filler(3), data}), 3);
    vio.LoadFromStream(s.get());
    EXPECT_FALSE(vio.Aborting);
    EXPECT_EQ(g_reg.reads, 3);
    EXPECT_EQ(vio.Params()->FileType, 0);   // stream loads of added formats keep 0
    s->SetPosition(3);
    vio.ParamsFromStream(s.get());
    EXPECT_EQ(g_reg.paramsOnly, 1);
    EXPECT_EQ(vio.Params()->FileType, 60);
    EXPECT_NE(g_reg.lastBitmap, view.GetBitmap());   // never the target in params-only mode
    // Saving by extension and by id.
    vio.SaveToFile(dir / "b.TST");
    EXPECT_FALSE(vio.Aborting);
    EXPECT_EQ(ReadFile(dir / "b.TST"), (Bytes{'T', 'S', 'T', '!'}));
    TMemoryStream out;
    vio.SaveToStreamFormat(&out, 60);
    EXPECT_EQ(g_reg.writes, 2);
}

TEST_F(LuxIOTest, OutOfMemoryInACodecIsAFailedImage) {
    g_reg = {};
    AddedFormat f({61, "Test format", "TST", &TestReader, nullptr, nullptr});
    WriteFile(dir / "a.tst", {'T', 'S', 'T', 5});
    g_reg.throwBadAlloc = true;
    EXPECT_NO_THROW(io.LoadFromFile(dir / "a.tst"));
    EXPECT_TRUE(io.Aborting);
    EXPECT_NO_THROW(io.ParamsFromFileFormat(dir / "a.tst", 61));
    EXPECT_EQ(io.Params()->FileType, 0);
    // Other errors outside the codec's own failures reach the caller.
    g_reg.throwBadAlloc = false;
    g_reg.throwRead = true;
    EXPECT_THROW(io.LoadFromFile(dir / "a.tst"), EReadError);
    EXPECT_NO_THROW(io.ParamsFromFileFormat(dir / "a.tst", 61));
    EXPECT_EQ(io.Params()->FileType, 0);
    g_reg.throwRead = false;
}

// =============================================================================================
// Attachment and lifecycle
// =============================================================================================

TEST(LuxIOAttach, ViewDestroyedFirst) {
    auto* view = new TTestView;
    TLuxIO io(nullptr);
    io.SetAttachedView(view);
    EXPECT_EQ(io.AttachedView(), view);
    EXPECT_EQ(io.Bitmap(), view->GetBitmap());
    EXPECT_EQ(io.Mask(), view->GetAlphaMask());
    EXPECT_EQ(view->BitmapChangeEventCount(), 1);
    delete view;
    EXPECT_EQ(io.AttachedView(), nullptr);
    EXPECT_EQ(io.Bitmap(), nullptr);
    EXPECT_EQ(io.Mask(), nullptr);
    io.Aborting = true;
    io.LoadFromFile(Fixture("jpeg", "baseline.jpg"));   // no target: nothing happens
    EXPECT_TRUE(io.Aborting);
}

TEST(LuxIOAttach, ComponentDestroyedFirst) {
    TTestView view;
    auto* io = new TLuxIO(nullptr);
    io->SetAttachedView(&view);
    delete io;
    EXPECT_EQ(view.BitmapChangeEventCount(), 0);
}

TEST(LuxIOAttach, TwoComponentsOnOneView) {
    auto* view = new TTestView;
    TLuxIO a(nullptr), b(nullptr);
    a.SetAttachedView(view);
    b.SetAttachedView(view);
    a.SetAttachedView(nullptr);   // must take a's record, not b's
    EXPECT_EQ(view->BitmapChangeEventCount(), 1);
    EXPECT_EQ(a.Bitmap(), nullptr);
    delete view;
    EXPECT_EQ(b.AttachedView(), nullptr);
    EXPECT_EQ(b.Bitmap(), nullptr);
}

TEST(LuxIOAttach, OwnedByTheViewOrBesideIt) {
    {
        // As the all-in-one image does: the view owns its component.
        auto* view = new TTestView;
        auto* io = new TLuxIO(view);
        io->SetAttachedView(view);
        delete view;   // frees io too
    }
    {
        // Both owned by one form; the view goes first, then the form.
        auto* form = new TComponent(nullptr);
        auto* view = new TTestView(form);
        auto* io = new TLuxIO(form);
        io->SetAttachedView(view);
        delete view;
        EXPECT_EQ(io->AttachedView(), nullptr);
        EXPECT_EQ(io->Bitmap(), nullptr);
        delete form;
    }
    {
        auto* form = new TComponent(nullptr);
        auto* view = new TTestView(form);
        (new TLuxIO(form))->SetAttachedView(view);
        delete form;
    }
}

TEST(LuxIOAttach, BitmapChangesOfTheViewAreFollowed) {
    TTestView view;
    TLuxIO io(nullptr);
    io.SetAttachedView(&view);
    view.ReplaceBitmap();
    EXPECT_EQ(io.Bitmap(), view.GetBitmap());
}

TEST(LuxIOAttach, TImageAndBareBitmap) {
    TTestView view;
    auto* image = new TImage(nullptr);
    TBitmap bare;
    TLuxIO io(nullptr);
    io.SetAttachedView(&view);
    io.SetAttachedTImage(image);
    EXPECT_EQ(io.AttachedView(), nullptr);
    EXPECT_EQ(view.BitmapChangeEventCount(), 0);
    EXPECT_EQ(io.AttachedTImage(), image);
    EXPECT_EQ(io.Bitmap(), image->Picture()->Bitmap());
    EXPECT_EQ(io.Mask(), nullptr);
    io.SetAttachedBitmap(nullptr);   // ignored while a TImage is attached
    EXPECT_EQ(io.Bitmap(), image->Picture()->Bitmap());
    // Loading repaints the TImage through its bitmap's change.
    int changes = 0;
    struct Counter {
        int* n;
        void Changed(TObject*) { ++*n; }
    } counter{&changes};
    image->Picture()->Bitmap()->OnChange = MakeMethod(&counter, &Counter::Changed);
    io.LoadFromFile(Fixture("jpeg", "baseline.jpg"));
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(image->Picture()->Bitmap()->Width(), 33);
    EXPECT_TRUE(image->Picture()->Bitmap()->Modified());
    EXPECT_GT(changes, 0);
    image->Picture()->Bitmap()->OnChange.Clear();
    delete image;
    EXPECT_EQ(io.AttachedTImage(), nullptr);
    EXPECT_EQ(io.Bitmap(), nullptr);
    io.SetAttachedBitmap(&bare);
    EXPECT_EQ(io.Bitmap(), &bare);
    io.SetAttachedView(&view);
    EXPECT_EQ(io.Bitmap(), view.GetBitmap());
    io.SetAttachedBitmap(&bare);
    EXPECT_EQ(io.AttachedView(), nullptr);
    EXPECT_EQ(view.BitmapChangeEventCount(), 0);
    io.SetAttachedBitmap(nullptr);
    EXPECT_EQ(io.Bitmap(), nullptr);
}

TEST(LuxIOAttach, BackgroundUpdateAndClear) {
    TLuxIO io(nullptr);
    EXPECT_EQ(io.Background(), 0);
    io.SetBackground(clBlue);
    EXPECT_EQ(io.Background(), clBlue);
    TBitmap bare;
    bare.SetSize(3, 2);
    io.SetAttachedBitmap(&bare);
    io.ClearBitmap();
    EXPECT_EQ(bare.ScanLine(1)[6], 255);   // B of the last pixel
    EXPECT_EQ(bare.ScanLine(1)[8], 0);
    TTestView view;
    io.SetAttachedView(&view);
    EXPECT_EQ(io.Background(), clBtnFace);
    io.SetBackground(clGreen);
    EXPECT_EQ(view.Background(), clGreen);
    io.Update();
    EXPECT_EQ(view.updates, 1);
    EXPECT_EQ(view.imageChanges, 1);
}

TEST(LuxIOAttach, AssignParamsAndFont) {
    TLuxIO a(nullptr), b(nullptr);
    a.Params()->JpegQuality = 93;
    b.AssignParams(&a);
    EXPECT_EQ(b.Params()->JpegQuality, 93);
    TLXIOParams p(nullptr);
    p.PngFilter = 2;
    b.AssignParams(&p);
    EXPECT_EQ(b.Params()->PngFilter, 2);
    TBitmap other;
    b.AssignParams(&other);   // ignored
    EXPECT_EQ(b.Params()->PngFilter, 2);
    TFont f;
    f.SetName("Serif");
    b.SetPreviewFont(&f);
    EXPECT_EQ(b.PreviewFont()->Name(), "Serif");
    EXPECT_NE(b.PreviewFont(), &f);
    EXPECT_EQ(b.MsgLanguage, msSystem);
    EXPECT_FALSE(b.StreamHeaders);
    EXPECT_EQ(b.DialogsMeasureUnit, lxduInches);
    EXPECT_EQ(b.PreviewsParams, 0u);
}

}  // namespace
