// The all-in-one image component: loading through its own I/O component, the forwarded
// settings, Assign and a clean end with attached components.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LuxImage.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}
std::string Fixture(const std::string& name) {
    return std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + name;
}

// Samples of a P6 PPM or a PAM made by the outside tools (RGB first in each pixel).
struct RefImage {
    int w = 0, h = 0, depth = 3;
    Bytes rgb;
};
RefImage ReadReference(const std::string& path) {
    const Bytes b = ReadFile(path);
    RefImage r;
    const std::string s(b.begin(), b.end());
    size_t data;
    if (s.rfind("P7", 0) == 0) {
        const size_t wpos = s.find("WIDTH "), hpos = s.find("HEIGHT ");
        r.w = std::stoi(s.substr(wpos + 6));
        r.h = std::stoi(s.substr(hpos + 7));
        r.depth = std::stoi(s.substr(s.find("DEPTH ") + 6));
        data = s.find("ENDHDR\n") + 7;
    } else {
        size_t pos = 3;   // "P6\n"
        r.w = std::stoi(s.substr(pos));
        pos = s.find(' ', pos) + 1;
        r.h = std::stoi(s.substr(pos));
        pos = s.find('\n', pos) + 1;
        data = s.find('\n', pos) + 1;   // after the maximum value
    }
    r.rgb.assign(b.begin() + long(data), b.end());
    return r;
}

// The picture bytes after 10 bytes of other data, as the screensaver's blocks hold them.
std::unique_ptr<TMemoryStream> StreamAfterPrefix(const Bytes& data) {
    auto s = std::make_unique<TMemoryStream>();
    const Bytes prefix(10, 0xAB);
    s->Write(prefix.data(), int64_t(prefix.size()));
    s->Write(data.data(), int64_t(data.size()));
    s->Seek(10, soBeginning);
    return s;
}

struct LoadCase {
    const char* file;
    const char* reference;
};

TEST(LuxImage, LoadsFromTheStreamPosition) {
    const LoadCase cases[] = {{"jpeg/baseline.jpg", "jpeg/baseline.int.1.ppm"},
                              {"png/rgb8.png", "png/rgb8.pam"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TLuxImage img(nullptr);
        auto s = StreamAfterPrefix(ReadFile(Fixture(c.file)));
        img.LoadFromStream(s.get());
        EXPECT_FALSE(img.IO()->Aborting);
        const RefImage ref = ReadReference(Fixture(c.reference));
        TBitmap* b = img.GetBitmap();
        ASSERT_EQ(b->Width(), ref.w);
        ASSERT_EQ(b->Height(), ref.h);
        ASSERT_EQ(b->PixelFormat(), pf24bit);
        for (int y = 0; y < ref.h; ++y)
            for (int x = 0; x < ref.w; ++x) {
                const uint8_t* p = b->ScanLine(y) + 3 * x;
                const uint8_t* q = ref.rgb.data() + size_t(ref.depth) * (size_t(y) * ref.w + x);
                ASSERT_EQ(p[2], q[0]) << x << "," << y;
                ASSERT_EQ(p[1], q[1]);
                ASSERT_EQ(p[0], q[2]);
            }
        // The view took the new size.
        EXPECT_EQ(img.ExtentX(), ref.w);
    }
}

struct Listener {
    std::vector<int> calls;
    void OnProgress(TObject*, int per) { calls.push_back(per); }
};

TEST(LuxImage, ForwardsSettingsToBothComponents) {
    TLuxImage img(nullptr);
    EXPECT_TRUE(img.AutoUndo());
    EXPECT_EQ(img.Proc()->AttachedView(), &img);
    EXPECT_EQ(img.IO()->AttachedView(), &img);
    Listener l;
    img.SetOnProgress(MakeMethod(&l, &Listener::OnProgress));
    EXPECT_TRUE(img.Proc()->OnProgress == img.OnProgress());
    EXPECT_TRUE(img.IO()->OnProgress == img.OnProgress());
    img.SetMsgLanguage(msGerman);
    EXPECT_EQ(img.Proc()->MsgLanguage, msGerman);
    EXPECT_EQ(img.IO()->MsgLanguage, msGerman);
    EXPECT_EQ(img.MsgLanguage(), msGerman);
    TFont f;
    f.SetName("Serif Test");
    img.SetPreviewFont(&f);
    EXPECT_EQ(img.Proc()->PreviewFont()->Name(), "Serif Test");
    EXPECT_EQ(img.IO()->PreviewFont()->Name(), "Serif Test");
    img.SetStreamHeaders(true);
    EXPECT_TRUE(img.IO()->StreamHeaders);
    img.SetDialogsMeasureUnit(lxduCm);
    EXPECT_EQ(img.DialogsMeasureUnit(), lxduCm);
    EXPECT_EQ(img.Params(), img.IO()->Params());

    // Loading and processing progress reach the one handler.
    auto s = StreamAfterPrefix(ReadFile(Fixture("jpeg/baseline.jpg")));
    img.LoadFromStream(s.get());
    const size_t afterLoad = l.calls.size();
    EXPECT_GT(afterLoad, 0u);
    img.Proc()->Rotate(30, true);
    EXPECT_GT(l.calls.size(), afterLoad);
    EXPECT_GT(img.GetBitmap()->Width(), 33);
}

TEST(LuxImage, ClearFillsWithTheBackgroundAndKeepsUndo) {
    TLuxImage img(nullptr);
    auto s = StreamAfterPrefix(ReadFile(Fixture("png/rgb8.png")));
    img.LoadFromStream(s.get());
    img.SetBackground(clRed);
    img.Clear();
    const uint8_t* p = img.GetBitmap()->ScanLine(5) + 3 * 5;
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(img.Proc()->UndoBitmap()->Width(), 33);
}

TEST(LuxImage, AssignCopiesParamsOnlyFromImageComponents) {
    TLuxImage a(nullptr), b(nullptr);
    auto s = StreamAfterPrefix(ReadFile(Fixture("jpeg/baseline.jpg")));
    a.LoadFromStream(s.get());
    const int type = a.Params()->FileType;
    ASSERT_NE(type, 0);
    b.Assign(&a);
    EXPECT_EQ(b.Params()->FileType, type);
    EXPECT_EQ(b.GetBitmap()->Width(), 33);
    // A plain view brings its picture but not parameters.
    TLuxImage c(nullptr);
    TLuxView plain(nullptr);
    plain.GetBitmap()->SetSize(5, 4);
    const int before = c.Params()->FileType;
    c.Assign(&plain);
    EXPECT_EQ(c.Params()->FileType, before);
    EXPECT_EQ(c.GetBitmap()->Width(), 5);
}

TEST(LuxImage, DestroyedWithItsComponentsAttached) {
    auto* owner = new TComponent(nullptr);
    auto* img = new TLuxImage(owner);
    auto s = StreamAfterPrefix(ReadFile(Fixture("png/rgb8.png")));
    img->LoadFromStream(s.get());
    EXPECT_EQ(img->BitmapChangeEventCount(), 2);
    delete owner;   // frees the image, which frees its components first
}

}  // namespace
