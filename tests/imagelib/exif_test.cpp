// The EXIF reader (APP1 payloads, on its own and through JPEG loads), and the TIFF codec's
// CIELab pixel conversions. Files with EXIF are made by exiftool at test time and the values
// read are compared with what exiftool itself reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "Tiffilt.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"
#include "lxutils.h"

using codec_test::Bytes;
using codec_test::HaveTool;
using codec_test::PixelOf;
using codec_test::ReadFile;
using codec_test::ToolText;
using codec_test::WriteFile;

namespace {

// ---- A hand-built little-endian EXIF TIFF structure ----

struct TiffBuilder {
    Bytes d;
    void U16(uint16_t v) { d.push_back(uint8_t(v)); d.push_back(uint8_t(v >> 8)); }
    void U32(uint32_t v) { for (int i = 0; i < 4; ++i) d.push_back(uint8_t(v >> (8 * i))); }
    void Put32(size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) d[at + size_t(i)] = uint8_t(v >> (8 * i)); }
};

struct Tag {
    uint16_t tag, type;
    uint32_t count;
    Bytes data;   // value bytes, little-endian
};

Bytes Ascii(const std::string& s) { Bytes b(s.begin(), s.end()); b.push_back(0); return b; }
Bytes Short(uint16_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8)}; }
Bytes Rational(uint32_t n, uint32_t dn) {
    Bytes b;
    for (uint32_t v : {n, dn})
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    return b;
}

// Writes an IFD at the end of b with the tags (data > 4 bytes after it); returns the offset
// of its next-IFD field.
size_t WriteIfd(TiffBuilder& b, const std::vector<Tag>& tags) {
    const size_t start = b.d.size();
    b.U16(uint16_t(tags.size()));
    size_t data = start + 2 + tags.size() * 12 + 4;
    std::vector<std::pair<size_t, const Bytes*>> later;
    for (const Tag& t : tags) {
        b.U16(t.tag);
        b.U16(t.type);
        b.U32(t.count);
        if (t.data.size() <= 4) {
            Bytes v = t.data;
            v.resize(4, 0);
            b.d.insert(b.d.end(), v.begin(), v.end());
        } else {
            b.U32(uint32_t(data));
            later.push_back({data, &t.data});
            data += t.data.size() + (t.data.size() & 1);
        }
    }
    const size_t next = b.d.size();
    b.U32(0);
    for (auto& [at, bytes] : later) {
        b.d.resize(at, 0);
        b.d.insert(b.d.end(), bytes->begin(), bytes->end());
    }
    if (b.d.size() & 1) b.d.push_back(0);
    return next;
}

Bytes WithExifPrefix(const Bytes& tiff) {
    Bytes block(6 + tiff.size(), 0);
    std::memcpy(block.data(), "Exif", 4);
    std::copy(tiff.begin(), tiff.end(), block.begin() + 6);
    return block;
}

// "Exif\0\0", header, IFD 0 with Make, Model, XResolution and the EXIF pointer, the EXIF IFD.
Bytes SampleExifBlock() {
    TiffBuilder b;
    b.d = {'I', 'I', 42, 0};
    b.U32(8);
    const size_t ptrAt = 8 + 2 + 12 * 4 + 4 + 6 + 8 + 8;   // right after IFD 0's own data
    WriteIfd(b, {{271, 2, 6, Ascii("Maker")},
                 {272, 2, 8, Ascii("Model 7")},
                 {282, 5, 1, Rational(72, 1)},
                 {34665, 4, 1, {uint8_t(ptrAt), 0, 0, 0}}});
    EXPECT_EQ(b.d.size(), ptrAt);
    WriteIfd(b, {{33434, 5, 1, Rational(1, 250)},
                 {34855, 3, 1, Short(400)},
                 {36864, 7, 4, {'0', '2', '3', '2'}},
                 {36867, 2, 20, Ascii("2024:05:06 07:08:09")}});
    return WithExifPrefix(b.d);
}

}  // namespace

// ---- The "Exif" test ----

TEST(ExifBlock, ReadsMakeModelAndTheExifSubIfd) {
    const Bytes block = SampleExifBlock();
    TLXIOParams p(nullptr);
    ASSERT_EQ(ReadExifBlock(block.data(), int(block.size()), p), 1);
    EXPECT_EQ(p.ExifMake, "Maker");
    EXPECT_EQ(p.ExifModel, "Model 7");
    EXPECT_DOUBLE_EQ(p.ExifXResolution, 72.0);
    EXPECT_DOUBLE_EQ(p.ExifExposureTime, 1.0 / 250);
    EXPECT_EQ(p.GetExifISOSpeedRatings(0), 400);
    EXPECT_EQ(p.ExifVersion, "0232");
    EXPECT_EQ(p.ExifDateTimeOriginal, "2024:05:06 07:08:09");
    // No IFD 1: the thumbnail is the empty 1 x 1 bitmap.
    EXPECT_EQ(p.ExifThumbnail->Width(), 1);
    EXPECT_EQ(p.ExifThumbnail->Height(), 1);
}

TEST(ExifBlock, OtherBlocksAreRefusedAndChangeNothing) {
    const Bytes good = SampleExifBlock();
    struct Case { const char* what; Bytes block; };
    std::vector<Case> cases = {
        {"longer leading string", [&] { Bytes b = good; b.insert(b.begin() + 4, 'X'); return b; }()},
        {"JFIF", [&] { Bytes b = good; std::memcpy(b.data(), "JFIF", 4); return b; }()},
        {"lower case", [&] { Bytes b = good; b[0] = 'e'; return b; }()},
        {"no zero after Exif", Bytes{'E', 'x', 'i', 'f'}},
        {"too short", Bytes{'E', 'x', 'i'}},
        {"empty", Bytes{}},
    };
    for (const Case& c : cases) {
        TLXIOParams p(nullptr);
        p.ExifMake = "kept";
        p.ExifThumbnail->SetSize(5, 4);
        EXPECT_EQ(ReadExifBlock(c.block.data(), int(c.block.size()), p), 0) << c.what;
        EXPECT_EQ(p.ExifMake, "kept") << c.what;
        EXPECT_EQ(p.ExifThumbnail->Width(), 5) << c.what;
    }
    TLXIOParams p(nullptr);
    EXPECT_EQ(ReadExifBlock(nullptr, 100, p), 0);
}

TEST(ExifBlock, EmptyTiffDataStillCountsAsExif) {
    for (int len : {5, 6}) {
        const uint8_t block[6] = {'E', 'x', 'i', 'f', 0, 0};
        TLXIOParams p(nullptr);
        p.ExifMake = "old";
        p.ExifXResolution = 96;
        EXPECT_EQ(ReadExifBlock(block, len, p), 1) << len;
        EXPECT_EQ(p.ExifMake, "") << len;
        EXPECT_EQ(p.ExifXResolution, 0) << len;
    }
}

// Every truncation and many random corruptions of real EXIF blocks: no crash, no overrun
// (run under ASan/UBSan), result 1 as long as the "Exif" prefix survives.
TEST(ExifBlock, HostileBlocksAreSurvived) {
    std::vector<Bytes> seeds = {SampleExifBlock()};
    // Big offsets and counts everywhere.
    {
        TiffBuilder b;
        b.d = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xF0};
        seeds.push_back(b.d);
        Bytes c = SampleExifBlock();
        for (size_t i = 14; i + 12 <= c.size() && i < 14 + 12 * 4; i += 12) {
            c[i + 4] = 0xFF; c[i + 5] = 0xFF; c[i + 6] = 0xFF; c[i + 7] = 0x7F;   // count
            c[i + 8] = 0xF0; c[i + 9] = 0xFF; c[i + 10] = 0xFF; c[i + 11] = 0xFF;  // offset
        }
        seeds.push_back(c);
    }
    // An IFD 1 that claims an old-style JPEG thumbnail far outside the block.
    {
        Bytes c = SampleExifBlock();
        TiffBuilder b;
        b.d.assign(c.begin() + 6, c.end());
        const uint32_t ifd1 = uint32_t(b.d.size());
        WriteIfd(b, {{259, 3, 1, Short(6)},
                     {513, 4, 1, {0xF0, 0xFF, 0xFF, 0x7F}},
                     {514, 4, 1, {0xFF, 0xFF, 0xFF, 0xFF}}});
        b.Put32(8 + 2 + 12 * 4, ifd1);
        seeds.push_back(WithExifPrefix(b.d));
    }
    std::mt19937 rng(144);
    for (const Bytes& seed : seeds) {
        for (size_t len = 0; len <= seed.size(); ++len) {
            TLXIOParams p(nullptr);
            const int r = ReadExifBlock(seed.data(), int(len), p);
            EXPECT_EQ(r, len >= 5 ? 1 : 0) << len;
        }
        for (int i = 0; i < 400; ++i) {
            Bytes b = seed;
            const int flips = 1 + int(rng() % 6);
            for (int k = 0; k < flips; ++k) b[6 + rng() % (b.size() - 6)] = uint8_t(rng());
            TLXIOParams p(nullptr);
            EXPECT_EQ(ReadExifBlock(b.data(), int(b.size()), p), 1);
        }
    }
}

// ---- Files made by exiftool ----

class ExifFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("exiftool") || !HaveTool("cjpeg"))
            GTEST_SKIP() << "exiftool / libjpeg-turbo-progs missing";
        char tmpl[] = "/tmp/exif_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    // A w x h JPEG of one colour, made by cjpeg (JFIF density 1:1, no unit).
    std::string MakeJpeg(const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
        Bytes ppm;
        const std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        ppm.assign(head.begin(), head.end());
        for (int i = 0; i < w * h; ++i) ppm.insert(ppm.end(), {r, g, b});
        const std::string ppmPath = dir_ + "/" + name + ".ppm", jpg = dir_ + "/" + name + ".jpg";
        WriteFile(ppmPath, ppm);
        EXPECT_EQ(std::system(("cjpeg -quality 95 -outfile " + jpg + " " + ppmPath).c_str()), 0);
        return jpg;
    }
    void ExifTool(const std::string& args, const std::string& file) {
        ASSERT_EQ(std::system(("exiftool -q -overwrite_original " + args + " " + file + " >/dev/null").c_str()), 0)
            << args;
    }
    std::string Tag(const std::string& file, const std::string& tag) {
        return ToolText("exiftool -n -s3 -" + tag + " " + file);
    }
    std::string dir_;
};

TEST_F(ExifFiles, LoadedValuesMatchExiftool) {
    const std::string jpg = MakeJpeg("camera", 32, 24, 40, 120, 200);
    ExifTool("-IFD0:XResolution=300 -IFD0:YResolution=240 -IFD0:ResolutionUnit=inches "
             "-Make='Glimmer Cam' -Model='GC 144' -Orientation#=1 -Software='Shooter 2' "
             "-ModifyDate='2023:01:02 03:04:05' -ImageDescription='A test frame' "
             "-DateTimeOriginal='2022:11:12 13:14:15' "
             "-CreateDate='2022:11:12 13:14:16' -SubSecTimeOriginal=42 -ISO=800 "
             "-ExposureTime=1/125 -FNumber=5.6 -ExposureProgram#=2 -FocalLength=35 "
             "-MeteringMode#=5 -EXIF:Flash#=16 -ExposureCompensation=-0.7 -ColorSpace#=1 "
             "-ExifImageWidth=32 -ExifImageHeight=24 -FocalPlaneXResolution=4000 "
             "-FocalPlaneResolutionUnit#=3 -YCbCrPositioning#=1",
             jpg);
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(jpg);
    ASSERT_FALSE(io.Aborting);
    const TLXIOParams& p = *io.Params();
    EXPECT_EQ(p.ExifMake, Tag(jpg, "Make"));
    EXPECT_EQ(p.ExifModel, Tag(jpg, "Model"));
    EXPECT_EQ(p.ExifSoftware, Tag(jpg, "Software"));
    EXPECT_EQ(p.ExifDateTime, Tag(jpg, "ModifyDate"));
    EXPECT_EQ(p.ExifImageDescription, Tag(jpg, "ImageDescription"));
    EXPECT_EQ(p.ExifDateTimeOriginal, Tag(jpg, "DateTimeOriginal"));
    EXPECT_EQ(p.ExifDateTimeDigitized, Tag(jpg, "CreateDate"));
    EXPECT_EQ(p.ExifSubsecTimeOriginal, Tag(jpg, "SubSecTimeOriginal"));
    EXPECT_EQ(p.ExifVersion, Tag(jpg, "ExifVersion"));
    EXPECT_EQ(p.ExifFlashPixVersion, Tag(jpg, "FlashpixVersion"));
    struct Num { const char* tag; double got; };
    const Num nums[] = {
        {"XResolution", p.ExifXResolution},
        {"YResolution", p.ExifYResolution},
        {"ResolutionUnit", double(p.ExifResolutionUnit)},
        {"Orientation", double(p.ExifOrientation)},
        {"YCbCrPositioning", double(p.ExifYCbCrPositioning)},
        {"ISO", double(p.GetExifISOSpeedRatings(0))},
        {"ExposureTime", p.ExifExposureTime},
        {"FNumber", p.ExifFNumber},
        {"ExposureProgram", double(p.ExifExposureProgram)},
        {"FocalLength", p.ExifFocalLength},
        {"MeteringMode", double(p.ExifMeteringMode)},
        {"Flash", double(p.ExifFlash)},
        {"ExposureCompensation", p.ExifExposureBiasValue},
        {"ColorSpace", double(p.ExifColorSpace)},
        {"ExifImageWidth", double(p.ExifPixelXDimension)},
        {"ExifImageHeight", double(p.ExifPixelYDimension)},
        {"FocalPlaneXResolution", p.ExifFocalPlaneXResolution},
        {"FocalPlaneResolutionUnit", double(p.ExifFocalPlaneResolutionUnit)},
    };
    for (const Num& n : nums) {
        const std::string want = Tag(jpg, n.tag);
        ASSERT_FALSE(want.empty()) << n.tag;
        EXPECT_NEAR(n.got, std::stod(want), 1e-6 * std::max(1.0, std::fabs(std::stod(want)))) << n.tag;
    }
    // The JFIF header only gives an aspect ratio: the DPI come from EXIF.
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_EQ(p.DpiY, 240);
}

TEST_F(ExifFiles, ResolutionSubstitutionUsesCentimetresAndTruncates) {
    const std::string jpg = MakeJpeg("cm", 8, 8, 0, 0, 0);
    ExifTool("-IFD0:XResolution=118.11 -IFD0:YResolution=100 -IFD0:ResolutionUnit=cm", jpg);
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(jpg);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params()->ExifResolutionUnit, 3);
    EXPECT_EQ(io.Params()->DpiX, int(std::stod(Tag(jpg, "XResolution")) * 2.54));   // 299
    EXPECT_EQ(io.Params()->DpiY, 254);

    // A stream load reads the EXIF values but keeps the JFIF density.
    TFileStream fs(jpg, fmOpenRead);
    io.LoadFromStream(&fs);
    ASSERT_FALSE(io.Aborting);
    EXPECT_DOUBLE_EQ(io.Params()->ExifYResolution, 100.0);
    EXPECT_EQ(io.Params()->DpiY, 1);
}

TEST_F(ExifFiles, ThumbnailIsDecodedAndDoesNotOutliveItsPhoto) {
    const std::string thumb = MakeJpeg("thumb", 16, 12, 250, 20, 10);
    const std::string jpg = MakeJpeg("withthumb", 64, 48, 10, 200, 30);
    ExifTool("-Make=Thumbs '-ThumbnailImage<=" + thumb + "'", jpg);
    ASSERT_EQ(Tag(jpg, "ThumbnailLength"), std::to_string(std::filesystem::file_size(thumb)));
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(jpg);
    ASSERT_FALSE(io.Aborting);
    const TBitmap& t = *io.Params()->ExifThumbnail;
    ASSERT_EQ(t.Width(), 16);
    ASSERT_EQ(t.Height(), 12);
    const TRGB c = PixelOf(t, 8, 6);
    EXPECT_NEAR(c.r, 250, 6);
    EXPECT_NEAR(c.g, 20, 6);
    EXPECT_NEAR(c.b, 10, 6);
    // The photo itself is not the thumbnail.
    EXPECT_EQ(bmp.Width(), 64);

    // A parameters-only read fills the thumbnail too.
    TLuxIO io2(nullptr);
    TBitmap bmp2;
    io2.SetAttachedBitmap(&bmp2);
    io2.ParamsFromFile(jpg);
    EXPECT_EQ(io2.Params()->ExifMake, "Thumbs");
    EXPECT_EQ(io2.Params()->ExifThumbnail->Width(), 16);

    // The next photo has EXIF without a thumbnail.
    const std::string plain = MakeJpeg("plain", 20, 20, 1, 2, 3);
    ExifTool("-Make=Other", plain);
    io.LoadFromFile(plain);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params()->ExifMake, "Other");
    EXPECT_EQ(io.Params()->ExifThumbnail->Width(), 1);
    EXPECT_EQ(io.Params()->ExifThumbnail->Height(), 1);
}

// Single byte values (UNDEFINED FileSource and SceneType) and the Copyright, which exiftool
// keeps in IFD 0, read alike from little- and big-endian EXIF.
TEST_F(ExifFiles, ByteValuesAndCopyrightInEitherByteOrder) {
    for (const char* order : {"Little-endian", "Big-endian"}) {
        SCOPED_TRACE(order);
        const std::string jpg = MakeJpeg(std::string("order") + order[0], 16, 16, 10, 20, 30);
        ExifTool(std::string("-ExifByteOrder=") + order +
                     " -FileSource#=3 -SceneType#=1 -Copyright='(c) Glimmer Folk' -Make=M",
                 jpg);
        ASSERT_EQ(Tag(jpg, "FileSource"), "3");
        TBitmap bmp;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bmp);
        io.LoadFromFile(jpg);
        ASSERT_FALSE(io.Aborting);
        EXPECT_EQ(io.Params()->ExifFileSource, 3);
        EXPECT_EQ(io.Params()->ExifSceneType, 1);
        EXPECT_EQ(io.Params()->ExifCopyright, "(c) Glimmer Folk");
    }
}

// The EXIF fields of a load describe that photo: a photo without EXIF after one with it
// has none, and an XMP block in the first APP1 does not hide the EXIF block after it.
TEST_F(ExifFiles, EveryLoadGetsItsOwnExif) {
    const std::string withExif = MakeJpeg("with", 16, 16, 200, 0, 0);
    ExifTool("-Make=First -Model=One -ISO=400", withExif);
    const std::string plain = MakeJpeg("plain", 16, 16, 0, 200, 0);
    // exiftool puts EXIF first; the XMP block is moved before it by hand.
    const std::string xmpFirst = MakeJpeg("xmp", 16, 16, 0, 0, 200);
    ExifTool("-Make=Second -XMP:Title=Sunrise", xmpFirst);
    Bytes f = ReadFile(xmpFirst);
    struct Segment { size_t at, length; bool exif; };
    std::vector<Segment> app1;
    for (size_t i = 2; i + 4 <= f.size() && f[i] == 0xFF && f[i + 1] != 0xDA;) {
        const size_t length = size_t(f[i + 2] << 8 | f[i + 3]) + 2;
        if (f[i + 1] == 0xE1) app1.push_back({i, length, std::memcmp(&f[i + 4], "Exif", 4) == 0});
        i += length;
    }
    ASSERT_EQ(app1.size(), 2u);
    ASSERT_TRUE(app1[0].exif && !app1[1].exif);
    const Bytes exifSeg(f.begin() + long(app1[0].at), f.begin() + long(app1[0].at + app1[0].length));
    f.erase(f.begin() + long(app1[0].at), f.begin() + long(app1[0].at + app1[0].length));
    const size_t afterXmp = app1[1].at - app1[0].length + app1[1].length;
    f.insert(f.begin() + long(afterXmp), exifSeg.begin(), exifSeg.end());
    WriteFile(xmpFirst, f);
    ASSERT_EQ(Tag(xmpFirst, "Make"), "Second");

    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    struct Step { const std::string* file; const char* make; int iso; };
    for (const Step& st : {Step{&withExif, "First", 400}, Step{&plain, "", 0}, Step{&withExif, "First", 400},
                           Step{&xmpFirst, "Second", 0}}) {
        io.LoadFromFile(*st.file);
        ASSERT_FALSE(io.Aborting);
        EXPECT_EQ(io.Params()->ExifMake, st.make) << *st.file;
        EXPECT_EQ(io.Params()->GetExifISOSpeedRatings(0), st.iso) << *st.file;
        io.ParamsFromFile(*st.file);
        EXPECT_EQ(io.Params()->ExifMake, st.make) << *st.file;
    }
}

TEST_F(ExifFiles, Exiv2BigEndianExif) {
    if (!HaveTool("exiv2")) GTEST_SKIP() << "exiv2 missing";
    const std::string jpg = MakeJpeg("exiv2", 16, 16, 90, 90, 90);
    // exiftool writes big-endian ("MM") EXIF when asked; exiv2 adds to it.
    ExifTool("-ExifByteOrder=Big-endian -Make=Mm -Model=Order", jpg);
    ASSERT_EQ(std::system(("exiv2 -q -M'set Exif.Photo.ISOSpeedRatings 1600' "
                           "-M'set Exif.Photo.FNumber 28/10' " + jpg).c_str()), 0);
    ASSERT_EQ(Tag(jpg, "ExifByteOrder"), "MM");
    TBitmap bmp;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(jpg);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params()->ExifMake, "Mm");
    EXPECT_EQ(io.Params()->ExifModel, "Order");
    EXPECT_EQ(io.Params()->GetExifISOSpeedRatings(0), std::stoi(Tag(jpg, "ISO")));
    EXPECT_DOUBLE_EQ(io.Params()->ExifFNumber, std::stod(Tag(jpg, "FNumber")));
}

// Every truncation of a real exiftool block with a thumbnail.
TEST_F(ExifFiles, TruncatedRealBlocks) {
    const std::string thumb = MakeJpeg("t", 8, 8, 9, 9, 9);
    const std::string jpg = MakeJpeg("real", 16, 16, 200, 100, 50);
    ExifTool("-Make=Cut -ISO=100 '-ThumbnailImage<=" + thumb + "'", jpg);
    const Bytes file = ReadFile(jpg);
    // The APP1 payload: FF E1, length, data.
    size_t at = 2;
    Bytes block;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const size_t len = size_t(file[at + 2]) << 8 | file[at + 3];
        if (file[at + 1] == 0xE1) {
            block.assign(file.begin() + long(at + 4), file.begin() + long(at + 2 + len));
            break;
        }
        at += 2 + len;
    }
    ASSERT_GT(block.size(), 100u);
    for (size_t len = 0; len <= block.size(); len += (len < 200 ? 1 : 7)) {
        Bytes cut(block.begin(), block.begin() + long(len));
        TLXIOParams p(nullptr);
        EXPECT_EQ(ReadExifBlock(cut.data(), int(cut.size()), p), len >= 5 ? 1 : 0);
    }
    TLXIOParams p(nullptr);
    ASSERT_EQ(ReadExifBlock(block.data(), int(block.size()), p), 1);
    EXPECT_EQ(p.ExifMake, "Cut");
    EXPECT_EQ(p.ExifThumbnail->Width(), 8);
}

// ---- CIELab conversions ----

TEST(CIELab, RGBToCIELabExamples) {
    struct Case { uint8_t r, g, b; int L, a, bb; };
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0},
        {255, 255, 255, 242, -25, -7},
        {255, 0, 0, 142, 127, 78},   // a clamped from 219.1
    };
    for (const Case& c : cases) {
        uint8_t out[3];
        RGBToCIELab(out, uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
        EXPECT_EQ(out[0], c.L) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(int8_t(out[1]), c.a) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(int8_t(out[2]), c.bb) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST(CIELab, CIELabToRGBExamples) {
    struct Case { int L, a, b; uint8_t B, G, R; };
    const Case cases[] = {
        {0, 0, 0, 4, 3, 0},   // the linear branch
        {255, 0, 0, 255, 255, 255},
        {242, -25, -7, 251, 254, 191},   // white through the writer and back: light yellow
    };
    for (const Case& c : cases) {
        uint8_t out[3];
        CIELabToRGB(out, uint32_t(c.L) | uint32_t(uint8_t(int8_t(c.a))) << 8 |
                              uint32_t(uint8_t(int8_t(c.b))) << 16);
        EXPECT_EQ(out[0], c.B) << c.L << "," << c.a << "," << c.b;
        EXPECT_EQ(out[1], c.G) << c.L << "," << c.a << "," << c.b;
        EXPECT_EQ(out[2], c.R) << c.L << "," << c.a << "," << c.b;
    }
}

// Signed byte -128 reads as +128; near white no channel wraps past 255.
TEST(CIELab, ExtremesClampWithoutWrapping) {
    uint8_t lo[3], hi[3];
    CIELabToRGB(lo, 200 | 0x80u << 8 | 0x80u << 16);   // a = b = -128, read as +128
    CIELabToRGB(hi, 200 | 0x7Fu << 8 | 0x7Fu << 16);   // a = b = 127
    // +128 lies a little further in the same direction as 127 (more red, less blue).
    EXPECT_GE(lo[2], hi[2]);
    EXPECT_LE(lo[0], hi[0]);
    EXPECT_LT(lo[0], 100);
    // Light, nearly neutral colours: values just below 1 round to 256 and must give 255.
    for (int L = 200; L < 256; ++L)
        for (int a = -10; a <= 10; ++a)
            for (int b = -10; b <= 10; ++b) {
                uint8_t o[3];
                CIELabToRGB(o, uint32_t(L) | uint32_t(uint8_t(int8_t(a))) << 8 |
                                   uint32_t(uint8_t(int8_t(b))) << 16);
                for (int i = 0; i < 3; ++i) ASSERT_GT(o[i], 150) << L << "," << a << "," << b;
            }
}

// The TIFF writer stores RGBToCIELab bytes under photometric 8; the reader maps them back
// through CIELabToRGB.
TEST(CIELab, TiffWriteAndReadBack) {
    TBitmap bmp;
    codec_test::FillPicture(bmp, 17, 5, 0);
    TLXIOParams p(nullptr);
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.TiffPhotometric = 7;
    TMemoryStream s;
    bool ab = false;
    TProgressRec rec;
    rec.Aborting = &ab;
    ASSERT_EQ(TiffEncodeStream(&s, false, &bmp, rec, p), 1);
    ASSERT_FALSE(ab);

    TBitmap back;
    TLXIOParams q(nullptr);
    int pages = 0;
    s.SetPosition(0);
    TiffDecodeStream(&back, &s, pages, nullptr, false, rec, q);
    ASSERT_FALSE(ab);
    EXPECT_EQ(q.TiffPhotometric, 7);
    ASSERT_EQ(back.Width(), 17);
    ASSERT_EQ(back.Height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 17; ++x) {
            const TRGB c = PixelOf(bmp, x, y);
            uint8_t lab[3], rgb[3];
            RGBToCIELab(lab, c.AsInteger());
            CIELabToRGB(rgb, lab[0] | uint32_t(lab[1]) << 8 | uint32_t(lab[2]) << 16);
            ASSERT_EQ(PixelOf(back, x, y), (TRGB{rgb[0], rgb[1], rgb[2]})) << x << "," << y;
        }

    // libtiff agrees on the tags and finds our L, a, b bytes in the strip.
    if (!HaveTool("tiffinfo")) return;
    char tmpl[] = "/tmp/exif_lab_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string tif = std::string(tmpl) + "/lab.tif";
    WriteFile(tif, codec_test::StreamBytes(s));
    const std::string info = ToolText("tiffinfo " + tif + " 2>&1");
    EXPECT_NE(info.find("CIE L*a*b*"), std::string::npos) << info;
    EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
    std::filesystem::remove_all(tmpl);
}

// ImageMagick writes the TIFF 6.0 byte encoding (white is L 255), not the scaling used here,
// so its colours are not expected back; the reader must still take its photometric 8 rows
// through CIELabToRGB.
TEST(CIELab, ImageMagickLabTiffRowsGoThroughTheConversion) {
    if (!HaveTool("tiffinfo") || !std::filesystem::exists("/usr/bin/convert"))
        GTEST_SKIP() << "ImageMagick / libtiff-tools missing";
    char tmpl[] = "/tmp/exif_im_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string tif = std::string(tmpl) + "/im.tif";
    ASSERT_EQ(std::system(("/usr/bin/convert -size 1x1 xc:white xc:red xc:'rgb(20,90,200)' +append "
                           "-colorspace Lab -depth 8 -compress none " + tif).c_str()), 0);
    const Bytes file = ReadFile(tif);
    std::filesystem::remove_all(tmpl);
    TMemoryStream s;
    codec_test::StreamOf(file, s);
    TBitmap bmp;
    TLXIOParams p(nullptr);
    bool ab = false;
    TProgressRec rec;
    rec.Aborting = &ab;
    int pages = 0;
    TiffDecodeStream(&bmp, &s, pages, nullptr, false, rec, p);
    ASSERT_FALSE(ab);
    ASSERT_EQ(p.TiffPhotometric, 7);
    ASSERT_EQ(bmp.Width(), 3);
    // Uncompressed single strip at offset 8 (the layout ImageMagick uses for small files).
    ASSERT_GE(file.size(), 8u + 9u);
    ASSERT_EQ(file[8], 255) << "not the expected strip layout";   // white: L 255 in TIFF 6.0
    for (int x = 0; x < 3; ++x) {
        const uint8_t* q = &file[8 + size_t(x) * 3];
        uint8_t rgb[3];
        CIELabToRGB(rgb, q[0] | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16);
        EXPECT_EQ(PixelOf(bmp, x, 0), (TRGB{rgb[0], rgb[1], rgb[2]})) << x;
    }
}
