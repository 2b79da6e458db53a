// GIF container: ImageMagick's files read for their parameters and frame count, the abort
// flag without LZW hooks, and the pixel path through a test-only LZW decoder hook (decoded
// bit-exact against ImageMagick), the writer's blocks, mutated files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GIFFilter.h"
#include "LuxIO.h"
#include "Win32.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"

using namespace codec_test;

namespace {

void NoProgressHook(TStream*, int, int, uint8_t*, bool) {}

struct Decoded {
    bool aborted = false;
    bool reached = false;
    int count = -1;
    TBitmap bitmap;
    TLXMask mask;
    TLXIOParams params{nullptr};
};

void Decode(const Bytes& data, Decoded& out, bool paramsOnly, TGifLZWDecompressFunc hook = nullptr,
            int frame = 0) {
    TMemoryStream s;
    StreamOf(data, s);
    TProgressRec pr;
    pr.Aborting = &out.aborted;
    out.params.GifLZWDecompress = hook;
    out.params.GifImageIndex = frame;
    out.reached = GifDecodeStream(&s, &out.bitmap, out.count, &out.mask, paramsOnly, pr, out.params);
}

struct Frame {
    int w, h, x, y, delay;
};

std::vector<Frame> Facts(const std::string& name) {
    std::ifstream f(FixtureDir("gif") + name + ".txt");
    std::vector<Frame> frames;
    int index;
    Frame fr;
    while (f >> index >> fr.w >> fr.h >> fr.x >> fr.y >> fr.delay) frames.push_back(fr);
    return frames;
}

}  // namespace

// ---- Parameters without pixels ----

class GifFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(GifFixture, EveryFrameItsParametersAndPixels) {
    const std::string name = GetParam();
    const Bytes file = ReadFile(FixtureDir("gif") + name + ".gif");
    const std::vector<Frame> frames = Facts(name);
    ASSERT_FALSE(frames.empty());
    for (int i = 0; i < int(frames.size()); ++i) {
        const Frame& fr = frames[size_t(i)];
        const std::string what = name + " frame " + std::to_string(i);
        Decoded p;
        p.bitmap.SetSize(2, 2);
        Decode(file, p, true, nullptr, i);
        EXPECT_FALSE(p.aborted) << what;
        EXPECT_TRUE(p.reached) << what;
        EXPECT_EQ(p.count, int(frames.size())) << what;
        EXPECT_EQ(p.params.GifImageCount, int(frames.size())) << what;
        EXPECT_EQ(p.params.Width, fr.w) << what;
        EXPECT_EQ(p.params.Height, fr.h) << what;
        EXPECT_EQ(p.params.GifXPos, fr.x) << what;
        EXPECT_EQ(p.params.GifYPos, fr.y) << what;
        EXPECT_EQ(p.params.GifDelayTime, fr.delay) << what;
        EXPECT_EQ(p.params.GifVersion, "GIF89a") << what;
        EXPECT_EQ(p.params.GifScreenWidth, 23) << what;
        EXPECT_EQ(p.params.SamplesPerPixel, 1) << what;
        EXPECT_EQ(p.params.PaletteCount, 1 << p.params.BitsPerSample) << what;
        EXPECT_EQ(p.bitmap.Width(), 2) << what;

        // Without an LZW hook a load stops at the frame with the abort flag.
        Decoded q;
        q.bitmap.SetSize(2, 2);
        Decode(file, q, false, nullptr, i);
        EXPECT_TRUE(q.aborted) << what;
        EXPECT_TRUE(q.reached) << what;
        EXPECT_EQ(q.bitmap.Width(), 2) << what;

        // With a decoder the pixels are ImageMagick's; transparent ones are masked.
        Decoded d;
        Decode(file, d, false, &TestLzwDecode, i);
        ASSERT_FALSE(d.aborted) << what;
        const Picture ref = ReadNetpbm(FixtureDir("gif") + name + "." + std::to_string(i) + ".ppm");
        ASSERT_EQ(d.bitmap.Width(), ref.w) << what;
        ASSERT_EQ(d.bitmap.Height(), ref.h) << what;
        int masked = 0;
        for (int y = 0; y < ref.h; ++y)
            for (int x = 0; x < ref.w; ++x) {
                if (d.mask.ScanLine(y)[x] == 0) {
                    ++masked;
                    continue;
                }
                ASSERT_EQ(PixelOf(d.bitmap, x, y), ref.At(x, y)) << what << " " << x << "," << y;
            }
        EXPECT_EQ(masked > 0, d.params.GifHasTransparency) << what;
        if (name == "im_anim" && i == 1) {
            EXPECT_EQ(masked, 1);
            EXPECT_EQ(d.mask.ScanLine(1)[2], 0);
        }
        if (name == "im_mono") {
            EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
        }
        if (name == "im_interlaced") {
            EXPECT_TRUE(d.params.GifInterlaced);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, GifFixture,
                         ::testing::Values("im_16col", "im_interlaced", "im_mono", "im_anim"));

TEST(GifRead, WantedFramePastTheLastLeavesTheFrameFields) {
    const Bytes file = ReadFile(FixtureDir("gif") + "im_16col.gif");
    Decoded d;
    d.params.Width = 77;
    d.params.GifXPos = 5;
    Decode(file, d, true, nullptr, 2);
    EXPECT_FALSE(d.aborted);
    EXPECT_FALSE(d.reached);
    EXPECT_EQ(d.params.GifImageCount, 1);
    EXPECT_EQ(d.params.Width, 77);
    EXPECT_EQ(d.params.GifXPos, 5);
}

// A load that reaches no image decodes nothing: a frame index past the last, or a file of a
// header and a trailer only. It fails and the previous picture stays; reading only the
// parameters still succeeds.
TEST(GifLuxIO, LoadsWithoutTheWantedFrameFail) {
    const Bytes anim = ReadFile(FixtureDir("gif") + "im_anim.gif");
    Bytes empty = ReadFile(FixtureDir("gif") + "im_16col.gif");
    const int tableBytes = (empty[10] & 0x80) ? 3 << ((empty[10] & 7) + 1) : 0;
    empty.resize(size_t(13 + tableBytes));
    empty.push_back(';');
    struct Case { const char* what; const Bytes* file; int frame; };
    for (const Case& c : {Case{"frame past the last", &anim, 5}, Case{"no image", &empty, 0}}) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bitmap);
        io.Params()->GifLZWDecompress = &TestLzwDecode;
        io.LoadFromStream(MemStream(anim).get());
        ASSERT_FALSE(io.Aborting);
        const Bytes before = BitmapRGB(bitmap);
        io.Params()->GifImageIndex = c.frame;
        io.LoadFromStream(MemStream(*c.file).get());
        EXPECT_TRUE(io.Aborting);
        EXPECT_TRUE(BitmapRGB(bitmap) == before);
        io.ParamsFromStream(MemStream(*c.file).get());
        EXPECT_FALSE(io.Aborting);
        EXPECT_EQ(io.Params()->FileType, lxftGIF);
        EXPECT_EQ(io.Params()->GifImageCount, c.file == &anim ? 3 : 0);
    }
}

TEST(GifRead, NoGraphicControlMeansNoTransparency) {
    // 2 x 1, two colours, no extension; an old value of the flag is cleared.
    const Bytes f{'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x80, 1, 0,
                  0, 0, 0, 255, 255, 255,
                  ',', 0, 0, 0, 0, 2, 0, 1, 0, 0,
                  2, 2, 0x4C, 0x01, 0, ';'};
    Decoded d;
    d.params.GifHasTransparency = true;
    Decode(f, d, false, &TestLzwDecode);
    ASSERT_FALSE(d.aborted);
    EXPECT_FALSE(d.params.GifHasTransparency);
    EXPECT_EQ(d.params.GifVersion, "GIF87a");
    EXPECT_EQ(d.params.GifBackground, (TRGB{255, 255, 255}));
    EXPECT_EQ(d.bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(d.mask.ScanLine(0)[0], 255);
    EXPECT_EQ(d.mask.ScanLine(0)[1], 255);
}

TEST(GifRead, BadFilesSetTheAbortFlag) {
    const Bytes good = ReadFile(FixtureDir("gif") + "im_16col.gif");
    struct Case {
        const char* name;
        Bytes file;
        TGifLZWDecompressFunc hook;
    };
    Bytes notGif = good;
    notGif[0] = 'g';
    const Case cases[] = {
        {"signature", notGif, &TestLzwDecode},
        {"header only", Bytes(good.begin(), good.begin() + 13), &TestLzwDecode},
        {"cut colour table", Bytes(good.begin(), good.begin() + 30), &TestLzwDecode},
        {"header and table only", Bytes(good.begin(), good.begin() + 13 + 48), &TestLzwDecode},
        {"a hook that reads nothing", good, &NoProgressHook},
        {"no hook", good, nullptr},
    };
    for (const Case& c : cases) {
        Decoded d;
        d.bitmap.SetSize(3, 3);
        Decode(c.file, d, false, c.hook);
        EXPECT_TRUE(d.aborted) << c.name;
        EXPECT_EQ(d.bitmap.Width(), 3) << c.name;
    }
    // A stream that ends inside the blocks ends like a trailer: the frame count so far.
    Decoded cut;
    Decode(Bytes(good.begin(), good.end() - 5), cut, true);
    EXPECT_FALSE(cut.aborted);
    EXPECT_EQ(cut.params.GifImageCount, 1);
    // A huge frame in a few bytes is refused before its buffer exists.
    Bytes huge{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0,
               ',', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 1, 0, 0, ';'};
    Decoded h;
    Decode(huge, h, false, &TestLzwDecode);
    EXPECT_TRUE(h.aborted);
}

TEST(GifRead, ProgressPoints) {
    const Bytes file = ReadFile(FixtureDir("gif") + "im_16col.gif");
    for (bool withHook : {false, true}) {
        Decoded d;
        ProgressLog log;
        TProgressRec pr;
        pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
        pr.Aborting = &d.aborted;
        d.params.GifLZWDecompress = withHook ? &TestLzwDecode : nullptr;
        TMemoryStream s;
        StreamOf(file, s);
        GifDecodeStream(&s, &d.bitmap, d.count, nullptr, false, pr, d.params);
        EXPECT_EQ(log.values, withHook ? (std::vector<int>{0, 30, 70, 100}) : (std::vector<int>{0, 30}));
    }
}

// ---- Writing ----

namespace {

int encodeCalls = 0;
void CountingEncoder(TStream* s, int h, int w, int bits, const uint8_t* idx, bool) {
    ++encodeCalls;
    // Not LZW: enough for the container test (min code size, one block, terminator).
    const uint8_t head[2] = {uint8_t(bits < 2 ? 2 : bits), 3};
    s->Write(head, 2);
    const uint8_t body[4] = {idx[0], idx[size_t(w) * size_t(h) - 1], uint8_t(w), 0};
    s->Write(body, 4);
}

}  // namespace

TEST(GifWrite, WithoutAnEncoderTheBlocksBeforeThePixels) {
    TBitmap b;
    FillPicture(b, 7, 3, 4);
    for (int bits : {1, 4, 8}) {
        TLXIOParams p(nullptr);
        p.BitsPerSample = bits;
        p.GifHasTransparency = true;
        p.GifDelayTime = 300;
        p.GifXPos = 2;
        p.GifInterlaced = true;
        p.GifVersion = bits == 4 ? "junk" : "GIF89a";   // a bad version is written as GIF89a
        TMemoryStream m;
        bool aborted = false;
        TProgressRec pr;
        pr.Aborting = &aborted;
        GifEncodeStream(&m, &b, p, pr);
        EXPECT_TRUE(aborted) << bits;
        const Bytes f = StreamBytes(m);
        const size_t colours = size_t(1) << bits;
        ASSERT_EQ(f.size(), 13 + 3 * colours + 8 + 10) << bits;
        EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
        EXPECT_EQ(f[6], 7);
        EXPECT_EQ(f[8], 3);
        EXPECT_EQ(f[10], 128 + (bits - 1) * 17);
        const size_t g = 13 + 3 * colours;
        EXPECT_EQ((Bytes(f.begin() + long(g), f.begin() + long(g) + 6)), (Bytes{'!', 0xF9, 4, 9, 44, 1}));
        EXPECT_EQ(f[g + 7], 0);
        EXPECT_EQ(f[g + 8], ',');
        EXPECT_EQ(f[g + 9], 2);
        EXPECT_EQ(f[g + 17], 64);
        // The container reads its own blocks back.
        Decoded d;
        Decode(f, d, true);
        EXPECT_EQ(d.params.GifImageCount, 1);
        EXPECT_EQ(d.params.Width, 7);
        EXPECT_EQ(d.params.BitsPerSample, bits);
        EXPECT_TRUE(d.params.GifHasTransparency);
        EXPECT_EQ(d.params.GifDelayTime, 300);
    }
}

TEST(GifWrite, EncoderHookGetsTheIndexesAndTheTrailerFollows) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(10, 2);
    std::memset(b.PixelBlock(), 0, size_t(b.ImageSize()));
    b.ScanLine(1)[1] = 0x40;   // the last pixel (9, 1) is white
    TLXIOParams p(nullptr);
    p.BitsPerSample = 1;
    p.GifLZWCompress = &CountingEncoder;
    TMemoryStream m;
    bool aborted = false;
    ProgressLog log;
    TProgressRec pr;
    pr.fOnProgress = TLXProgressEvent(&log, &ProgressLog::OnProgress);
    pr.Aborting = &aborted;
    encodeCalls = 0;
    GifEncodeStream(&m, &b, p, pr);
    EXPECT_FALSE(aborted);
    EXPECT_EQ(encodeCalls, 1);
    const Bytes f = StreamBytes(m);
    ASSERT_EQ(f.size(), 13 + 6 + 8 + 10 + 6 + 1);
    EXPECT_EQ(f.back(), ';');
    EXPECT_EQ(f[f.size() - 4], 1);   // index of the last pixel: white
    EXPECT_EQ((Bytes{f[13], f[14], f[15], f[16], f[17], f[18]}), (Bytes{0, 0, 0, 255, 255, 255}));
    EXPECT_EQ(log.values, (std::vector<int>{0, 30, 70, 100}));
}

TEST(GifWrite, FailedWrites) {
    TBitmap b;
    FillPicture(b, 7, 3, 4);
    for (int64_t limit : {0, 12, 40}) {
        ShortStream s(limit);
        TLXIOParams p(nullptr);
        p.GifLZWCompress = &CountingEncoder;
        bool aborted = false;
        TProgressRec pr;
        pr.Aborting = &aborted;
        EXPECT_NO_THROW(GifEncodeStream(&s, &b, p, pr));
        EXPECT_TRUE(aborted) << limit;
    }
}

// ---- Mutated fixtures through the reader (run under the sanitizers) ----

