// The picture container: frames and delays of a GIF made by gifsicle as gifsicle reports
// them, still pictures, loading by URL, and damaged input. The label's picture cache: one
// picture per file, and a bound on the memory the pictures hold decoded.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "Forms.h"
#include "TestDir.h"
#include "UxHTMLText.h"
#include "UxPictures.h"
#include "UxPicturesDecoder.h"
#include "hostile_pictures.h"

namespace {

const std::string kFixtures = GD_SOURCE_DIR "/tests/saver/controls/fixtures/";

std::string Bytes(const std::string& name) {
    std::ifstream f(kFixtures + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void Load(TUxHTMLPicture& p, const std::string& bytes) {
    TMemoryStream ms;
    if (!bytes.empty()) ms.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    ms.Seek(0, soBeginning);
    p.LoadFromStream(&ms);
}

QRgb Pixel(const TUxHTMLPicture& p) {
    EXPECT_TRUE(p.Decoder() && !p.Decoder()->image.isNull());
    return p.Decoder() ? p.Decoder()->image.pixel(0, 0) & 0xFFFFFF : 0;
}

}  // namespace

TEST(UxPictures, AnimatedGifFollowsTheFramesAndDelaysTheToolReports) {
    // gifsicle --info, as made by make.sh: "+ image #n WxH" then "delay 0.25s".
    std::ifstream info(kFixtures + "anim3.txt");
    std::stringstream text;
    text << info.rdbuf();
    const std::string s = text.str();
    std::vector<int> delays;
    const std::regex delay("delay ([0-9]+)\\.([0-9]+)s");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), delay); it != std::sregex_iterator(); ++it)
        delays.push_back(std::stoi((*it)[1]) * 1000 + std::stoi((*it)[2]) * 10);
    ASSERT_NE(s.find("3 images"), std::string::npos) << s;
    ASSERT_EQ(delays.size(), 3u);

    TUxHTMLPicture p;
    Load(p, Bytes("anim3.gif"));
    ASSERT_FALSE(p.Empty());
    EXPECT_EQ(p.Width(), 12);
    EXPECT_EQ(p.Height(), 8);
    EXPECT_EQ(p.FrameCount(), 3);
    EXPECT_TRUE(p.Animated());
    const QRgb colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int f = 1; f <= 3; ++f) {
        p.SetFrame(f);
        EXPECT_EQ(p.FrameDelay(), delays[size_t(f - 1)]) << f;
        EXPECT_EQ(Pixel(p), colours[f - 1]) << f;
    }
    // Outside the range: nothing to draw, and no error.
    p.SetFrame(4);
    EXPECT_TRUE(p.Decoder()->image.isNull());
    p.SetFrame(0);
    EXPECT_TRUE(p.Decoder()->image.isNull());

    // The 100 ms ticks step the frames after their delays, then wrap to the first.
    p.SetFrame(1);
    TUxHTMLPicture q;
    q.Assign(&p);
    EXPECT_EQ(q.Frame(), 1);
    std::vector<int> frames;
    for (int tick = 1; tick <= 9; ++tick) {
        q.AnimationTick();
        frames.push_back(q.Frame());
    }
    // Frame 1 shows 100 ms, frame 2 250 ms (to the next tick: 300), frame 3 500 ms.
    EXPECT_EQ(frames, (std::vector<int>{2, 2, 2, 3, 3, 3, 3, 3, 1}));
}

TEST(UxPictures, StillPicturesLoadWholeAndNeverAnimate) {
    const struct {
        const char* file;
        int w, h;
        QRgb colour;
    } cases[] = {{"still.gif", 12, 8, 0x00FF00}, {"still.jpg", 16, 10, 0}, {"still.bmp", 9, 7, 0xFFFF00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TUxHTMLPicture p;
        ASSERT_TRUE(p.LoadFromFile(kFixtures + c.file));
        EXPECT_EQ(p.Width(), c.w);
        EXPECT_EQ(p.Height(), c.h);
        EXPECT_EQ(p.FrameCount(), 1);
        EXPECT_FALSE(p.Animated());
        EXPECT_FALSE(p.AnimationTick());
        if (c.colour) {
            EXPECT_EQ(Pixel(p), c.colour);
        }
        TMemoryStream out;
        p.SaveToStream(&out);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), size_t(out.Size())), Bytes(c.file));
    }
}

TEST(UxPictures, UrlsLoadFilesOnlyAndNeverDownload) {
    TUxHTMLPicture p;
    p.LoadFromURL("file://" + kFixtures + "still.gif");
    EXPECT_FALSE(p.Empty());
    p.LoadFromURL("FILE://" + kFixtures + "still.bmp");
    EXPECT_FALSE(p.Empty());
    EXPECT_EQ(p.Width(), 9);
    for (const char* url : {"http://example.invalid/x.gif", "https://example.invalid/x.gif", "res://NOSUCH",
                            "file:///dev/zero", "file:///nonexistent/x.gif", "file://"}) {
        p.LoadFromURL(url);
        EXPECT_TRUE(p.Empty()) << url;
        EXPECT_EQ(p.URL, url);
        EXPECT_EQ(p.Width(), 0) << url;
    }
    EXPECT_EQ(p.ID, "FILE://");
}

TEST(UxPictures, GarbageAndTruncatedInput) {
    TestDir dir;
    const std::string anim = Bytes("anim3.gif");
    // Garbage: the file load gives an empty picture, the stream load raises.
    std::ofstream(dir.File("bad.gif"), std::ios::binary) << "GIF89a this is not a picture";
    TUxHTMLPicture p;
    EXPECT_FALSE(p.LoadFromFile(dir.File("bad.gif")));
    EXPECT_TRUE(p.Empty());
    for (const std::string& bad : {std::string(), std::string("garbage"), std::string(100, '\0')}) {
        try {
            Load(p, bad);
            ADD_FAILURE() << "no error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Could not load image. Invalid format");
        }
        EXPECT_TRUE(p.Empty());
    }
    // Every cut of the animation: either an error or a picture whose frames all read.
    for (size_t cut = 0; cut < anim.size(); ++cut) {
        TUxHTMLPicture t;
        try {
            Load(t, anim.substr(0, cut));
        } catch (const EInvalidGraphic&) {
            continue;
        }
        const int n = t.FrameCount();
        for (int f = 1; f <= n + 1; ++f) t.SetFrame(f);
        for (int tick = 0; tick < 20; ++tick) t.AnimationTick();
        EXPECT_GE(t.Frame(), 1);
    }
}

TEST(UxPictures, ContainerFindsNamesInAnyCaseAndCacheByUrl) {
    TUxPictureContainer c(nullptr);
    TUxHTMLPicture src;
    ASSERT_TRUE(src.LoadFromFile(kFixtures + "anim3.gif"));
    src.SetFrame(2);
    TPictureItem* item = c.Items()->Add();
    item->Name = "Logo";
    item->SetPicture(&src);
    EXPECT_EQ(item->Picture()->Frame(), 1);
    EXPECT_EQ(item->Picture()->Data(), src.Data());
    EXPECT_EQ(c.FindPicture("LOGO"), item->Picture());
    EXPECT_EQ(c.FindPicture("logo"), item->Picture());
    EXPECT_EQ(c.FindPicture("other"), nullptr);

    TUxPictureCache cache;
    TUxHTMLPicture* a = cache.AddPicture();
    a->LoadFromURL("FILE://" + kFixtures + "anim3.gif");
    EXPECT_EQ(cache.FindPicture("FILE://" + kFixtures + "anim3.gif"), a);
    EXPECT_EQ(cache.FindPicture("file://" + kFixtures + "anim3.gif"), nullptr);
    EXPECT_TRUE(cache.AnimationTick());   // frame 1 lasts one tick
    EXPECT_EQ(a->Frame(), 2);
}

namespace {

// A W x H picture in the given format, saved as PNG (16-bit formats as a 16-bit PNG).
std::string Png(int W, int H, QImage::Format Format, QRgb Fill = 0xFF336699) {
    QImage img(W, H, Format);
    img.fill(QColor::fromRgba(Fill));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.save(&buffer, "PNG"));
    return std::string(bytes.constData(), size_t(bytes.size()));
}

}  // namespace

TEST(UxPictureCache, OneFileIsOnePictureHoweverItsPathIsSpelled) {
    TestDir dir;
    std::filesystem::create_directory(dir.File("sub"));
    hostile::WriteFile(dir.File("p.gif"), Bytes("still.gif"));
    hostile::WriteFile(dir.File("copy.gif"), Bytes("still.gif"));
    std::filesystem::create_symlink(dir.File("p.gif"), dir.File("link.gif"));
    std::filesystem::create_hard_link(dir.File("p.gif"), dir.File("hard.gif"));
    const std::string d = dir.Path();
    const struct {
        std::string url;
        int picture;   // which picture it names (index of first use); -1: none made
    } cases[] = {
        {"FILE://" + d + "/p.gif", 0},
        {"FILE://" + d + "//p.gif", 0},
        {"file://" + d + "/./p.gif", 0},
        {"File://" + d + "/sub/../p.gif", 0},
        {"FILE://" + d + "/link.gif", 0},
        {"FILE://" + d + "/hard.gif", 0},
        {"FILE://" + d + "/copy.gif", 1},          // the same bytes in another file
        {"FILE://" + d + "//copy.gif", 1},
        {"FILE://" + d + "/missing.gif", 2},       // an empty picture, kept so it is not retried
        {"FILE://" + d + "/missing.gif", 2},
        {"FILE://" + d + "//missing.gif", 3},      // no file: nothing tells two spellings are one
        {"http://example.invalid/p.gif", 4},
        {"http://example.invalid/p.gif/", 5},
    };
    TUxPictureCache cache;
    std::vector<TUxHTMLPicture*> made;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TUxHTMLPicture* p = cache.PictureFor(c.url);
        ASSERT_NE(p, nullptr);
        if (c.picture == int(made.size())) made.push_back(p);
        ASSERT_LT(size_t(c.picture), made.size());
        EXPECT_EQ(p, made[size_t(c.picture)]);
        EXPECT_EQ(p->Empty(), c.picture >= 2);
    }
    EXPECT_EQ(cache.Count(), 6);
    // The same picture is found again by what names it first, as written.
    EXPECT_EQ(cache.FindPicture("FILE://" + d + "/p.gif"), made[0]);
    EXPECT_EQ(cache.FindPicture("FILE://" + d + "//p.gif"), nullptr);
}

TEST(UxPictureCache, DecodedBytesCountAgainstTheCap) {
    // Small files that decode large: 100 x 100 pixels are 40000 bytes in ARGB, 80000 in
    // 16-bit RGBA, 10000 in grey, for files of a few hundred bytes.
    const struct {
        const char* name;
        QImage::Format format;
        int64_t decoded;
    } kinds[] = {{"argb", QImage::Format_ARGB32, 40000},
                 {"rgba64", QImage::Format_RGBA64, 80000},
                 {"grey", QImage::Format_Grayscale8, 10000}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        const std::string png = Png(100, 100, k.format);
        ASSERT_LT(png.size(), 2000u);
        // Room for three decoded pictures and their files, not for a fourth.
        const int64_t cap = 3 * (k.decoded + int64_t(png.size())) + k.decoded / 2;
        TUxPictureCache cache(32, cap);
        int shown = 0;
        for (int i = 0; i < 6; ++i) {
            const std::string name = dir.File("p" + std::to_string(i) + ".png");
            hostile::WriteFile(name, png);
            TUxHTMLPicture* p = cache.PictureFor("FILE://" + name);
            ASSERT_NE(p, nullptr);
            if (!p->Empty()) {
                ++shown;
                EXPECT_EQ(p->DecodedBytes(), k.decoded);
            }
            EXPECT_LE(cache.Bytes(), cap);
        }
        EXPECT_EQ(shown, 3);
        EXPECT_EQ(cache.Bytes(), 3 * (k.decoded + int64_t(png.size())));
        // What is left still takes a picture that fits in it.
        hostile::WriteFile(dir.File("small.png"), Png(10, 10, QImage::Format_ARGB32));
        EXPECT_FALSE(cache.PictureFor("FILE://" + dir.File("small.png"))->Empty());
    }
    // A full cache makes no more pictures; freeing them makes room again.
    TestDir dir;
    hostile::WriteFile(dir.File("a.png"), Png(100, 100, QImage::Format_ARGB32));
    hostile::WriteFile(dir.File("b.png"), Png(100, 100, QImage::Format_ARGB32));
    TUxPictureCache cache(32, 40000);
    EXPECT_TRUE(cache.PictureFor("FILE://" + dir.File("a.png"))->Empty());   // file and frame: over
    TUxPictureCache two(32, 50000);
    EXPECT_FALSE(two.PictureFor("FILE://" + dir.File("a.png"))->Empty());
    EXPECT_TRUE(two.PictureFor("FILE://" + dir.File("b.png"))->Empty());   // too large for what is left
    two.ClearPictures();
    EXPECT_FALSE(two.PictureFor("FILE://" + dir.File("b.png"))->Empty());
    TUxPictureCache few(2);
    EXPECT_NE(few.PictureFor("http://a.invalid/"), nullptr);
    EXPECT_NE(few.PictureFor("http://b.invalid/"), nullptr);
    EXPECT_EQ(few.PictureFor("http://c.invalid/"), nullptr);
}

TEST(UxPictureCache, DecodeLimitOfAPicture) {
    const std::string png = Png(100, 100, QImage::Format_ARGB32);
    const std::string anim = Bytes("anim3.gif");
    TUxHTMLPicture p;
    p.SetDecodeLimit(39999);
    try {
        Load(p, png);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Could not load image. Invalid format");
    }
    EXPECT_TRUE(p.Empty());
    EXPECT_EQ(p.DecodedBytes(), 0);
    p.SetDecodeLimit(40000);
    Load(p, png);
    EXPECT_EQ(p.DecodedBytes(), 40000);
    // An animation's frames all keep to the limit (12 x 8 ARGB frames: 384 bytes each).
    p.SetDecodeLimit(384);
    Load(p, anim);
    for (int tick = 0; tick < 20; ++tick) {
        p.AnimationTick();
        EXPECT_LE(p.DecodedBytes(), 384);
    }
    EXPECT_EQ(p.FrameCount(), 3);
    // Clear keeps the name.
    p.LoadFromURL("FILE://" + kFixtures + "still.gif");
    p.Clear();
    EXPECT_TRUE(p.Empty());
    EXPECT_EQ(p.URL, "FILE://" + kFixtures + "still.gif");
}

// The hostile page: one 5600 x 5600 PNG (122 KB, 125 MB decoded) named by 32 spellings of its
// path. It used to be decoded once per spelling (4 GB); now it is one picture, refused
// before anything is decoded since it would not fit the cache. The same page over a picture
// that fits decodes it once and draws it 32 times.
TEST(UxPictureCache, ThirtyTwoSpellingsOfOneHugePicture) {
    const struct {
        int side;
        bool shown;
    } cases[] = {{5600, false}, {2048, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        TestDir dir;
        const std::string png = hostile::ZeroPng(c.side, c.side);
        ASSERT_LT(png.size(), 200000u);
        hostile::WriteFile(dir.File("big.png"), png);
        const std::string page = hostile::SpellingsPage(dir.Path(), "big.png", 32);
        ASSERT_LT(page.size(), 4000u);
        TForm form(nullptr);
        auto* html = new TUxHTMLText(&form);
        html->SetParent(&form);
        html->SetBounds(8, 8, 353, 169);
        html->SetUxHTMLText(page);
        std::vector<const TUxHTMLPicture*> drawn;
        for (const auto& it : html->Layout().Items)
            if (it.Kind == uxhtml::TItemKind::Image) drawn.push_back(it.Image.Pic);
        TUxPictureCache* cache = html->PictureCache();
        EXPECT_EQ(cache->Count(), 1);
        EXPECT_LE(cache->Bytes(), TUxPictureCache::kMaxBytes);
        if (c.shown) {
            EXPECT_EQ(drawn.size(), 32u);
            EXPECT_EQ(std::count(drawn.begin(), drawn.end(), drawn.front()), 32);
            EXPECT_EQ(cache->Bytes(), int64_t(c.side) * c.side * 4 + int64_t(png.size()));
        } else {
            EXPECT_TRUE(drawn.empty());
            EXPECT_EQ(cache->Bytes(), 0);
        }
        form.Show();
        html->Repaint();
    }
}
