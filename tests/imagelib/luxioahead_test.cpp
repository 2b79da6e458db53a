// The decode-ahead: a picture decoded on another thread and handed to a view's I/O component
// leaves the view exactly as the component's own load of the same data does (pixels, mask,
// parameters, resolution, background, the repaint); what it cannot load it reports, without
// raising; an opaque mask made beforehand is taken instead of a new one.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Graphics.h"
#include "LuxIO.h"
#include "LuxIOAhead.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"
#include "temp_dir.h"
#include "test_view.h"

using lxtest::TempDir;
using lxtest::TTestView;
using namespace codec_test;

namespace {

// Everything a load leaves on a view and its component.
struct Seen {
    int w = 0, h = 0;
    TPixelFormat pf = pf24bit;
    Bytes pixels, mask;
    int maskW = 0, maskH = 0;
    bool maskFull = false;
    std::string fileName;
    int fileType = 0, width = 0, height = 0, dpiX = 0, dpiY = 0;
    int viewDpiX = 0, viewDpiY = 0;
    TColor background = 0;
    int updates = 0, imageChanges = 0;
    bool aborting = true;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Seen& s) {
    return o << s.w << "x" << s.h << " pf " << int(s.pf) << " mask " << s.maskW << "x" << s.maskH << (s.maskFull ? " full" : "")
             << " file '" << s.fileName << "' type " << s.fileType << " params " << s.width << "x" << s.height << " dpi "
             << s.dpiX << "," << s.dpiY << " view dpi " << s.viewDpiX << "," << s.viewDpiY << " bg " << s.background
             << " updates " << s.updates << "/" << s.imageChanges << (s.aborting ? " aborting" : "");
}

// A view with its component, the view's resolution and background set apart from what any
// file gives, so that a change by the load shows.
struct Target {
    TTestView view;
    TLuxIO io{nullptr};
    Target() {
        io.SetAttachedView(&view);
        view.SetDpi(33, 44);
        view.SetBackground(clTeal);
        view.updates = view.imageChanges = 0;
    }
    Seen Look() {
        Seen s;
        TBitmap* b = view.GetBitmap();
        s.w = b->Width(), s.h = b->Height(), s.pf = b->PixelFormat();
        if (b->PixelBlock()) s.pixels.assign(b->PixelBlock(), b->PixelBlock() + b->ImageSize());
        TLXMask* m = view.GetAlphaMask();
        s.maskW = m->Width, s.maskH = m->Height, s.maskFull = m->Full;
        if (m->Bits) s.mask.assign(m->Bits, m->Bits + int64_t(m->RowLength) * m->Height);
        s.fileName = io.Params()->FileName;
        s.fileType = io.Params()->FileType;
        s.width = io.Params()->Width, s.height = io.Params()->Height;
        s.dpiX = io.Params()->DpiX, s.dpiY = io.Params()->DpiY;
        s.viewDpiX = view.DpiX(), s.viewDpiY = view.DpiY();
        s.background = view.Background();
        s.updates = view.updates, s.imageChanges = view.imageChanges;
        s.aborting = io.Aborting;
        return s;
    }
};

class LuxIOAheadTest : public ::testing::Test {
protected:
    // The readers that ask for the screen's resolution get the same answer on every thread.
    void SetUp() override {
        savedDpi_ = ScreenPixelsPerInch();
        SetScreenPixelsPerInch(72);
    }
    void TearDown() override { SetScreenPixelsPerInch(savedDpi_); }
    // Ahead's load run on a thread of its own, as the callers run it.
    static bool OnThread(const std::function<bool()>& Load) {
        bool ok = false;
        std::thread t([&] { ok = Load(); });
        t.join();
        return ok;
    }
    TempDir dir;
    int savedDpi_ = 96;
};

struct FileCase {
    const char* what;
    std::string file;
};

std::vector<FileCase> Files() {
    return {
        {"baseline jpeg", Fixture("jpeg", "baseline.jpg")},
        {"progressive jpeg", Fixture("jpeg", "progressive.jpg")},
        {"cmyk jpeg", Fixture("jpeg", "cmyk.jpg")},
        {"png with alpha (the reader fills the mask)", Fixture("png", "rgba8.png")},
        {"png grey with a transparent colour", Fixture("png", "grey8_trns.png")},
        {"bmp", Fixture("bmp", "im_24bit.bmp")},
        {"pcx (resolution by file and by stream)", Fixture("pcx", "im_8bit.pcx")},
        {"icon (fills the mask)", Fixture("ico", "gen_24bit.ico")},
        {"tiff", Fixture("tiff", "im_rgb_none.tif")},
        {"tga", Fixture("tga", "gen_rle_across_rows.tga")},
    };
}

}  // namespace

TEST_F(LuxIOAheadTest, AFileHandedOverLeavesTheViewAsItsOwnLoad) {
    for (const FileCase& c : Files()) {
        SCOPED_TRACE(c.what);
        Target own;
        own.io.LoadFromFile(c.file);
        const Seen want = own.Look();
        ASSERT_FALSE(want.aborting);

        Target other;
        TLuxIOAhead ahead;
        ahead.Prepare(other.io.Params(), other.view.Background(), other.io.StreamHeaders);
        ASSERT_TRUE(OnThread([&] { return ahead.LoadFile(c.file); }));
        EXPECT_EQ(ahead.Width(), want.w);
        ahead.HandTo(&other.io);
        EXPECT_EQ(other.Look(), want);
    }
}

TEST_F(LuxIOAheadTest, AStreamHandedOverLeavesTheViewAsItsOwnLoad) {
    for (const bool headers : {false, true}) {
        for (const FileCase& c : Files()) {
            SCOPED_TRACE(std::string(c.what) + (headers ? ", stream headers" : ""));
            // The picture saved in its own format (PNG where there is no writer) as a stream save
            // writes it (with the header
            // where the format has one), after a few bytes of something else, more after it.
            Target source;
            source.io.LoadFromFile(c.file);
            source.io.StreamHeaders = headers;
            TMemoryStream data;
            data.Write("ab", 2);
            const TLXCodec* codec = FindCodec(source.io.Params()->FileType);
            source.io.SaveToStreamFormat(&data, codec && codec->Encode ? codec->FileType : lxftPNG);
            ASSERT_FALSE(source.io.Aborting);
            data.Write("tail", 4);

            Target own;
            own.io.StreamHeaders = headers;
            data.SetPosition(2);
            own.io.LoadFromStream(&data);
            const int64_t ownEnd = data.Position();
            const Seen want = own.Look();
            ASSERT_FALSE(want.aborting);

            Target other;
            other.io.StreamHeaders = headers;
            TLuxIOAhead ahead;
            ahead.Prepare(other.io.Params(), other.view.Background(), other.io.StreamHeaders);
            data.SetPosition(2);
            ASSERT_TRUE(OnThread([&] { return ahead.LoadStream(&data); }));
            EXPECT_EQ(data.Position(), ownEnd);
            ahead.HandTo(&other.io);
            EXPECT_EQ(other.Look(), want);
        }
    }
}

TEST_F(LuxIOAheadTest, WhatItCannotLoadItReportsWithoutRaising) {
    WriteFile(dir / "broken.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 'n', 'o'});
    WriteFile(dir / "text.bmp", Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFile(dir / "drawing.wmf", ReadFile(Fixture("jpeg", "baseline.jpg")));   // left to the caller's import
    WriteFile(dir / "photo.xyz", ReadFile(Fixture("jpeg", "baseline.jpg")));     // no codec by that name
    const std::string files[] = {dir / "missing.jpg", dir / "broken.jpg", dir / "text.bmp", dir / "drawing.wmf",
                                 dir / "photo.xyz", dir.Path()};
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        TLuxIOAhead ahead;
        bool ok = true;
        EXPECT_NO_THROW(ok = ahead.LoadFile(f));
        EXPECT_FALSE(ok);
    }
    TMemoryStream junk;
    junk.Write("not a picture at all", 20);
    junk.SetPosition(0);
    TLuxIOAhead ahead;
    EXPECT_FALSE(ahead.LoadStream(&junk));
}

TEST_F(LuxIOAheadTest, AnOpaqueMaskMadeBeforehandIsTakenWhenItFits) {
    const std::string file = Fixture("jpeg", "baseline.jpg");
    Target own;
    own.io.LoadFromFile(file);
    const Seen want = own.Look();
    for (const bool fits : {true, false}) {
        SCOPED_TRACE(fits ? "fits" : "another size");
        Target other;
        TLuxIOAhead ahead;
        ahead.Prepare(nullptr, other.view.Background(), false);
        ASSERT_TRUE(ahead.LoadFile(file));
        EXPECT_FALSE(ahead.ReadsAlpha());
        TLXMask opaque;
        opaque.AllocBits(ahead.Width() + (fits ? 0 : 1), ahead.Height(), 8);
        opaque.Fill(255);
        const uint8_t* block = opaque.Bits;
        ahead.HandTo(&other.io, &opaque);
        EXPECT_EQ(other.view.GetAlphaMask()->Bits == block, fits);
        EXPECT_EQ(opaque.Bits == block, !fits);
        EXPECT_TRUE(other.view.GetAlphaMask()->IsEmpty());   // no selection box
        EXPECT_EQ(other.Look(), want);
    }
}

TEST_F(LuxIOAheadTest, APictureWithAlphaNeverTakesTheOpaqueMask) {
    const std::string file = Fixture("png", "rgba8.png");
    Target own;
    own.io.LoadFromFile(file);
    Target other;
    TLuxIOAhead ahead;
    ahead.Prepare(nullptr, other.view.Background(), false);
    ASSERT_TRUE(ahead.LoadFile(file));
    EXPECT_TRUE(ahead.ReadsAlpha());
    TLXMask opaque;
    opaque.AllocBits(ahead.Width(), ahead.Height(), 8);
    opaque.Fill(255);
    ahead.HandTo(&other.io, &opaque);
    EXPECT_EQ(other.Look(), own.Look());
    EXPECT_FALSE(other.view.GetAlphaMask()->Full);
}
