// The multi-image I/O component: one parameter object per entry of the attached thumbnail
// view, following inserts and deletes, and both orders of destruction.
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "LuxIO.h"
#include "LuxMIO.h"
#include "LuxMView.h"
#include "temp_dir.h"

namespace {

class LuxMIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        LuxImageStoreFolder = dir.Path();
        view = std::make_unique<TLuxMView>(nullptr);
        view->SetParentWindow(&host);
        view->SetBounds(0, 0, 330, 230);
        mio = std::make_unique<TLuxMIO>(nullptr);
    }
    void TearDown() override {
        mio.reset();
        view.reset();
        LuxImageStoreFolder.clear();
    }
    std::vector<int> Qualities() const {
        std::vector<int> q;
        for (int i = 0; i < mio->ParamsCount(); ++i) q.push_back(mio->Params(i)->JpegQuality);
        return q;
    }
    void ExpectNumbered() const {
        for (int i = 0; i < mio->ParamsCount(); ++i) {
            EXPECT_EQ(mio->Params(i)->TiffImageIndex, i);
            EXPECT_EQ(mio->Params(i)->GifImageIndex, i);
        }
    }
    lxtest::TempDir dir;
    QWidget host;
    std::unique_ptr<TLuxMView> view;
    std::unique_ptr<TLuxMIO> mio;
};

TEST_F(LuxMIOTest, FollowsInsertsAndDeletes) {
    mio->SetAttachedMView(view.get());
    EXPECT_EQ(mio->AttachedMView(), view.get());
    // Into an empty list: the defaults.
    view->AppendImage("a");
    ASSERT_EQ(mio->ParamsCount(), 1);
    EXPECT_EQ(mio->Params(0)->JpegQuality, 50);
    EXPECT_EQ(mio->Params(0)->Owner(), nullptr);
    for (int i = 1; i < 5; ++i) view->AppendImage("e");
    for (int i = 0; i < 5; ++i) mio->Params(i)->JpegQuality = 10 + i;
    struct Step {
        const char* name;
        int kind;   // 1 insert, 2 delete, 0 select
        int index;
        std::vector<int> after;
    };
    const Step steps[] = {
        {"insert at 2 copies entry 2", 1, 2, {10, 11, 12, 12, 13, 14}},
        {"append copies the last", 1, 6, {10, 11, 12, 12, 13, 14, 14}},
        {"insert at 0 copies the first", 1, 0, {10, 10, 11, 12, 12, 13, 14, 14}},
        {"a selection changes nothing", 0, 3, {10, 10, 11, 12, 12, 13, 14, 14}},
        {"delete frees that one", 2, 2, {10, 10, 12, 12, 13, 14, 14}},
        {"delete the last", 2, 6, {10, 10, 12, 12, 13, 14}},
        {"delete past the end: nothing", 2, 6, {10, 10, 12, 12, 13, 14}},
        {"delete a negative index: nothing", 2, -1, {10, 10, 12, 12, 13, 14}},
    };
    for (const Step& s : steps) {
        if (s.kind == 1) view->InsertImage(s.index, "n");
        else if (s.kind == 2) view->DeleteImage(s.index);
        else view->SelectImage(s.index);
        EXPECT_EQ(Qualities(), s.after) << s.name;
        EXPECT_EQ(mio->ParamsCount(), view->ImageCount()) << s.name;
        ExpectNumbered();
    }
    // The copies are deep: a palette of the source is not shared.
    mio->Params(0)->AllocPalette(256)[5] = TRGB{1, 2, 3};
    view->InsertImage(0, "p");
    mio->Params(0)->FreePalette();
    ASSERT_EQ(mio->Params(1)->PaletteCount, 256);
    EXPECT_EQ(mio->Params(1)->Palette[5], (TRGB{1, 2, 3}));
    // Direct calls with indexes outside the list are ignored.
    const int n = mio->ParamsCount();
    mio->DeleteParams(n);
    mio->DeleteParams(-3);
    mio->InsertParams(-1);
    EXPECT_EQ(mio->ParamsCount(), n);
    EXPECT_EQ(mio->Params(n), nullptr);
}

TEST_F(LuxMIOTest, AttachingDoesNotRebuildTheList) {
    for (int i = 0; i < 4; ++i) view->AppendImage("e");
    mio->SetAttachedMView(view.get());
    EXPECT_EQ(mio->ParamsCount(), 0);
    // Deleting entries the list never heard of is ignored.
    view->DeleteImage(3);
    EXPECT_EQ(mio->ParamsCount(), 0);
    view->AppendImage("x");
    EXPECT_EQ(mio->ParamsCount(), 1);
    // Moving to another view unregisters from the first.
    TLuxMView other(nullptr);
    other.SetParentWindow(&host);
    const int before = view->BitmapChangeEventCount();
    mio->SetAttachedMView(&other);
    EXPECT_EQ(view->BitmapChangeEventCount(), before - 1);
    view->AppendImage("y");
    EXPECT_EQ(mio->ParamsCount(), 1);
    mio->SetAttachedMView(nullptr);
    EXPECT_EQ(other.BitmapChangeEventCount(), 0);
}

TEST_F(LuxMIOTest, ViewGoesFirst) {
    mio->SetAttachedMView(view.get());
    view->AppendImage("a");
    view->AppendImage("b");
    view.reset();
    EXPECT_EQ(mio->AttachedMView(), nullptr);
    EXPECT_EQ(mio->ParamsCount(), 2);
    mio.reset();   // nothing left to unregister from
}

TEST_F(LuxMIOTest, ComponentGoesFirst) {
    mio->SetAttachedMView(view.get());
    view->AppendImage("a");
    EXPECT_EQ(view->BitmapChangeEventCount(), 1);
    mio.reset();
    EXPECT_EQ(view->BitmapChangeEventCount(), 0);
    view->AppendImage("b");   // no callback into a freed component
    view.reset();
}

TEST_F(LuxMIOTest, SharedSettings) {
    EXPECT_EQ(mio->MsgLanguage, msSystem);
    EXPECT_EQ(mio->PreviewsParams, 0u);
    ASSERT_NE(mio->TwainParams(), nullptr);
    TFont f;
    f.SetName("Other");
    mio->SetPreviewFont(&f);
    EXPECT_EQ(mio->PreviewFont()->Name(), "Other");
    EXPECT_NE(mio->PreviewFont(), &f);
}

}  // namespace
