// The picture container: frames and delays of a GIF made by gifsicle as gifsicle reports
// them, still pictures, loading by URL, and damaged input.
#include <gtest/gtest.h>

#include <QImage>

#include <fstream>
#include <regex>
#include <sstream>

#include "TestDir.h"
#include "UxPictures.h"
#include "UxPicturesDecoder.h"

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
