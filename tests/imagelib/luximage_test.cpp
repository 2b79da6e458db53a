// The all-in-one image component: loading through its own I/O component, the forwarded
// settings, Assign and a clean end with attached components.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LuxImage.h"
#include "codec_fixture_helpers.h"

namespace {

using codec_test::Bytes;
using codec_test::ReadFile;

std::string Fixture(const std::string& name) { return codec_test::FixtureDir("") + name; }

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
        const codec_test::Picture ref = codec_test::ReadNetpbm(Fixture(c.reference));
        TBitmap* b = img.GetBitmap();
        ASSERT_EQ(b->PixelFormat(), pf24bit);
        EXPECT_TRUE(codec_test::SamePixels(*b, ref));
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
