// The thumbnail view: layout, keyboard, mouse and deletion tables, playback driven tick by
// tick, pictures that cannot be loaded, the scaled JPEG decode beside djpeg's, painting of
// the selection styles, and the change reports the multi-image I/O component follows.
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "LuxMView.h"
#include "codec_fixture_helpers.h"
#include "lxutils.h"
#include "temp_dir.h"

namespace {

using codec_test::Bytes;
using codec_test::HaveTool;
using codec_test::ReadFile;
using codec_test::WriteFile;

void Solid(TBitmap& b, int w, int h, TRGB c) {
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
}

// A JPEG photo-like picture written by the library.
void WriteJpeg(const std::string& path, int w, int h) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 255 / w);
            p[1] = uint8_t(y * 255 / h);
            p[2] = uint8_t((x ^ y) & 0xFF);
        }
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&b);
    io.Params()->JpegQuality = 90;
    io.SaveToFile(path);
    ASSERT_FALSE(io.Aborting);
}

struct SelectLog {
    std::vector<int> selected;
    void OnSelect(TObject*, int idx) { selected.push_back(idx); }
    TLXImageSelectEvent Method() { return MakeMethod(this, &SelectLog::OnSelect); }
};

class LuxMViewTest : public ::testing::Test {
protected:
    void SetUp() override { LuxImageStoreFolder = dir.Path(); }
    void TearDown() override {
        view.reset();
        LuxImageStoreFolder.clear();
    }
    // A view whose client area is w x h, in a host window.
    TLuxMView* Make(int w, int h, int entries = 0) {
        view = std::make_unique<TLuxMView>(nullptr);
        view->SetBorderStyle(bsNone);
        view->SetParentWindow(&host);
        view->SetBounds(0, 0, w, h);
        for (int i = 0; i < entries; ++i) view->AppendImage("entry" + std::to_string(i));
        return view.get();
    }
    TColor SurfacePixel(int x, int y) {
        TBitmap out;
        out.SetPixelFormat(pf24bit);
        out.SetSize(view->ClientWidth(), view->ClientHeight());
        view->PaintTo(out.Canvas());
        return out.Canvas()->Pixel(x, y);
    }
    lxtest::TempDir dir;
    QWidget host;
    std::unique_ptr<TLuxMView> view;
};

// ---- Layout ----

TEST_F(LuxMViewTest, LayoutTable) {
    struct Pos {
        int index, x, y;
    };
    struct Case {
        const char* name;
        int gridWidth;
        TLXMDisplayMode mode;
        int clientW, thumbW, hBorder, entries;
        std::vector<Pos> cells;
        int extentW, extentH;
    };
    const Case cases[] = {
        {"one row", 0, mdGrid, 330, 100, 4, 5, {{0, 4, 4}, {1, 108, 4}, {4, 420, 4}}, 524, 108},
        {"as many as fit: 3 columns", -1, mdGrid, 330, 100, 4, 5, {{0, 4, 4}, {2, 212, 4}, {3, 4, 108}}, 316, 212},
        {"3 columns asked", 3, mdGrid, 900, 100, 4, 5, {{0, 4, 4}, {2, 212, 4}, {4, 108, 108}}, 316, 212},
        {"single: one cell", -1, mdSingle, 330, 100, 4, 3, {{0, 0, 0}, {2, 0, 0}}, 104, 104},
        {"too narrow for one column", -1, mdGrid, 50, 100, 4, 2, {{0, 4, 4}, {1, 108, 4}}, 212, 108},
        {"zero cell width", -1, mdGrid, 330, 0, 0, 3, {{0, 0, 4}, {2, 0, 4}}, 0, 108},
        {"empty", -1, mdGrid, 330, 100, 4, 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        Make(c.clientW, 300, c.entries);
        view->SetThumbWidth(c.thumbW);
        view->SetHorizBorder(c.hBorder);
        view->SetGridWidth(c.gridWidth);
        view->SetDisplayMode(c.mode);
        for (const Pos& p : c.cells) {
            EXPECT_EQ(view->Entry(p.index)->X, p.x) << c.name << " entry " << p.index;
            EXPECT_EQ(view->Entry(p.index)->Y, p.y) << c.name << " entry " << p.index;
        }
        EXPECT_EQ(view->GridExtentWidth(), c.extentW) << c.name;
        EXPECT_EQ(view->GridExtentHeight(), c.extentH) << c.name;
    }
    // Defaults as published.
    Make(10, 10);
    EXPECT_EQ(view->Width(), 10);
    TLuxMView fresh(nullptr);
    EXPECT_EQ(fresh.Width(), 180);
    EXPECT_EQ(fresh.Height(), 90);
    EXPECT_EQ(fresh.ThumbWidth(), 100);
    EXPECT_EQ(fresh.VertBorder(), 4);
    EXPECT_EQ(fresh.SelectionWidth(), 3);
    EXPECT_EQ(fresh.SelectionColor(), clRed);
    EXPECT_EQ(fresh.ImageCacheSize(), 10);
    EXPECT_EQ(fresh.Store()->MaxMapped(), 10);
    EXPECT_EQ(fresh.ThumbnailFilter, rfBSpline);
    EXPECT_EQ(fresh.GridWidth(), 0);
    EXPECT_EQ(fresh.SelectedIndex(), -1);
    EXPECT_EQ(fresh.GetBitmap(), nullptr);
}

// Visibility: 2 whole, 1 partly, 0 not at all. A cell larger than the view that covers it
// is partly visible (the rectangle rule alone would call it hidden).
TEST_F(LuxMViewTest, VisibilityOfCellsIncludingOnesLargerThanTheView) {
    struct Case {
        const char* name;
        int thumb, viewX, index, expected;
    };
    // Client 200 x 150, one row, borders 4: entry i at x = 4 + i * (thumb + 4).
    const Case cases[] = {
        {"small cell inside", 50, 0, 0, 2},
        {"small cell across the right edge", 50, 0, 3, 1},
        {"small cell beyond the right edge", 50, 0, 5, 0},
        {"small cell scrolled out on the left", 50, 100, 0, 0},
        {"cell larger than the view, crossing it", 400, 0, 0, 1},
        {"cell larger than the view, covering it", 400, 10, 0, 1},
        {"no such entry", 50, 0, 9, 0},
    };
    for (const Case& c : cases) {
        Make(200, 150, 6);
        view->SetGridWidth(0);
        view->SetHorizBorder(4);
        view->SetVertBorder(4);
        view->SetThumbWidth(c.thumb);
        view->SetThumbHeight(c.thumb);
        view->SetViewXY(c.viewX, c.thumb > 150 ? 10 : 0);
        EXPECT_EQ(view->IsVisible(c.index), c.expected) << c.name;
    }
}

// ---- Mouse ----

TEST_F(LuxMViewTest, ClickSelectsTheCellUnderTheMouse) {
    Make(330, 300, 5);
    view->SetGridWidth(-1);
    SelectLog log;
    view->OnImageSelect = log.Method();
    struct Case {
        int x, y, expect;
    };
    const Case cases[] = {
        {4, 4, 0},       // the cell's corner
        {103, 103, 0},   // its far corner
        {50, 105, 0},    // the gap below it: nothing
        {150, 150, 4},   // second row, second column
        {2, 50, 4},      // the left border gap
    };
    for (const Case& c : cases) {
        view->MouseDown(mbLeft, 0, c.x, c.y);
        view->MouseUp(mbLeft, 0, c.x, c.y);
        EXPECT_EQ(view->SelectedIndex(), c.expect) << c.x << "," << c.y;
    }
    EXPECT_EQ(log.selected, (std::vector<int>{0, 4}));
    EXPECT_EQ(view->ImageAtPos(105, 50), -1);
}

// ---- Keyboard ----

TEST_F(LuxMViewTest, KeyboardTable) {
    struct Case {
        const char* name;
        int gridWidth, entries, from;
        uint16_t key;
        int to;
        bool fires;
    };
    // 330 x 230: 3 columns, a page of 3 x ((230 - 4) div 104) = 6 entries.
    const Case cases[] = {
        {"right", -1, 10, 4, VK_RIGHT, 5, true},
        {"right at the end stays", -1, 10, 9, VK_RIGHT, 9, true},
        {"left at the start stays", -1, 10, 0, VK_LEFT, 0, true},
        {"up a row", -1, 10, 4, VK_UP, 1, true},
        {"up from the first row", -1, 10, 1, VK_UP, 0, true},
        {"down a row", -1, 10, 4, VK_DOWN, 7, true},
        {"down to the last", -1, 10, 8, VK_DOWN, 9, true},
        {"home", -1, 10, 7, VK_HOME, 0, true},
        {"end", -1, 10, 2, VK_END, 9, true},
        {"page down", -1, 10, 1, VK_NEXT, 7, true},
        {"page down past the end stays", -1, 10, 5, VK_NEXT, 5, true},
        {"page up", -1, 10, 8, VK_PRIOR, 2, true},
        {"one row: up is left", 0, 10, 3, VK_UP, 2, true},
        {"one row: down is right", 0, 10, 3, VK_DOWN, 4, true},
        {"no selection: left", -1, 10, -1, VK_LEFT, -1, false},
        {"no selection: page down", -1, 10, -1, VK_NEXT, -1, false},
        {"no selection: home selects", -1, 10, -1, VK_HOME, 0, true},
        {"no selection: end selects", -1, 10, -1, VK_END, 9, true},
        {"empty list", -1, 0, -1, VK_HOME, -1, false},
        {"other key", -1, 10, 3, 'A', 3, false},
    };
    for (const Case& c : cases) {
        Make(330, 230, c.entries);
        view->SetGridWidth(c.gridWidth);
        if (c.from >= 0) view->SetSelected(c.from);
        SelectLog log;
        view->OnImageSelect = log.Method();
        uint16_t key = c.key;
        view->KeyDown(key, 0);
        EXPECT_EQ(view->SelectedIndex(), c.to) << c.name;
        EXPECT_EQ(!log.selected.empty(), c.fires) << c.name;
        if (c.to >= 0) EXPECT_EQ(view->IsVisible(c.to), 2) << c.name << ": scrolled into view";
    }
}

// ---- Deleting ----

TEST_F(LuxMViewTest, DeletionTable) {
    struct Case {
        const char* name;
        int selected, index;
        bool ok;
        const char* selectedName;   // null: no selection
    };
    const Case cases[] = {
        {"selected last: the new last", 4, 4, true, "entry3"},
        {"before the selection: same picture", 3, 1, true, "entry3"},
        {"after the selection", 1, 3, true, "entry1"},
        {"the selected one in the middle: the next", 2, 2, true, "entry3"},
        {"nothing selected", -1, 0, true, nullptr},
        {"negative index", 2, -1, false, "entry2"},
        {"past the end", 2, 5, false, "entry2"},
    };
    for (const Case& c : cases) {
        Make(330, 230, 5);
        if (c.selected >= 0) view->SetSelected(c.selected);
        view->TakeLastChange();
        EXPECT_EQ(view->DeleteImage(c.index), c.ok) << c.name;
        EXPECT_EQ(view->ImageCount(), c.ok ? 4 : 5) << c.name;
        if (c.selectedName) {
            ASSERT_NE(view->Entry(view->SelectedIndex()), nullptr) << c.name;
            EXPECT_EQ(view->Entry(view->SelectedIndex())->FileName, c.selectedName) << c.name;
        } else {
            EXPECT_EQ(view->SelectedIndex(), -1) << c.name;
        }
        EXPECT_EQ(view->TakeLastChange(), c.ok ? 2 : 0) << c.name;
        if (c.ok) EXPECT_EQ(view->LastChangeIndex(), c.index) << c.name;
        EXPECT_EQ(view->TakeLastChange(), 0) << c.name << ": taking resets it";
    }
    // Deleting every entry empties the store and its file.
    Make(330, 230);
    TBitmap b;
    Solid(b, 8, 8, TRGB{1, 2, 3});
    view->AppendBitmap(&b);
    view->AppendBitmap(&b);
    EXPECT_EQ(view->Store()->ImageCount(), 2);
    view->SetSelected(1);
    while (view->ImageCount()) view->DeleteImage(0);
    EXPECT_EQ(view->Store()->ImageCount(), 0);
    EXPECT_EQ(view->GetBitmap(), nullptr);
}

// ---- Playback ----

TEST_F(LuxMViewTest, PlaybackStepsThroughTheEntries) {
    Make(120, 120);
    const TRGB colours[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
    for (const TRGB& c : colours) {
        TBitmap b;
        Solid(b, 100, 100, c);
        view->AppendBitmap(&b);
    }
    view->Entry(1)->FrameDelay = 50;
    view->SetGridWidth(-1);
    view->SetSelected(2);
    view->PlaybackLoop = false;
    view->SetPlaybackActive(true);
    // Frame 0 is shown, and the timer armed for at least 10 ms.
    EXPECT_TRUE(view->PlaybackActive());
    EXPECT_EQ(view->DisplayMode(), mdSingle);
    EXPECT_EQ(view->SelectedIndex(), -1);
    EXPECT_TRUE(view->PlaybackTimer()->Enabled());
    EXPECT_EQ(view->PlaybackTimer()->Interval(), 10u);
    auto shown = [&] {
        view->Canvas()->Flush();
        return view->Surface()->Canvas()->Pixel(50, 50);
    };
    EXPECT_EQ(shown(), RGBToTColor(colours[0]));
    view->PlaybackStep();   // a tick
    EXPECT_EQ(shown(), RGBToTColor(colours[1]));
    EXPECT_EQ(view->PlaybackTimer()->Interval(), 50u);
    view->PlaybackStep();
    EXPECT_EQ(shown(), RGBToTColor(colours[2]));
    // Without the loop it stops after the third and puts mode and selection back.
    EXPECT_FALSE(view->PlaybackActive());
    EXPECT_FALSE(view->PlaybackTimer()->Enabled());
    EXPECT_EQ(view->DisplayMode(), mdGrid);
    EXPECT_EQ(view->SelectedIndex(), 2);
    EXPECT_NE(view->GetBitmap(), nullptr);
    // With the loop it goes round.
    view->PlaybackLoop = true;
    view->SetPlaybackActive(true);
    for (int i = 0; i < 4; ++i) view->PlaybackStep();
    EXPECT_TRUE(view->PlaybackActive());
    EXPECT_EQ(shown(), RGBToTColor(colours[1]));
    view->SetPlaybackActive(false);
    EXPECT_FALSE(view->PlaybackTimer()->Enabled());
    EXPECT_EQ(view->DisplayMode(), mdGrid);
}

TEST_F(LuxMViewTest, PlaybackOfAnEmptyListEndsAtOnce) {
    Make(120, 120);
    view->SetPlaybackActive(true);
    EXPECT_FALSE(view->PlaybackActive());
    EXPECT_FALSE(view->PlaybackTimer()->Enabled());
    TBitmap b;
    Solid(b, 10, 10, TRGB{9, 9, 9});
    view->AppendBitmap(&b);
    view->SetPlaybackActive(true);
    EXPECT_TRUE(view->PlaybackActive());
    EXPECT_TRUE(view->PlaybackTimer()->Enabled());
    view->SetPlaybackActive(false);
}

TEST_F(LuxMViewTest, SingleModeOfAnEmptyListPaintsTheBackground) {
    Make(120, 80);
    view->SetBackground(clTeal);
    view->SetDisplayMode(mdSingle);
    view->PlaybackFrame = 5;
    for (auto [x, y] : {std::pair{0, 0}, {60, 40}, {119, 79}}) EXPECT_EQ(SurfacePixel(x, y), clTeal);
    // After the last entry goes, too.
    TBitmap b;
    Solid(b, 10, 10, TRGB{9, 9, 9});
    view->AppendBitmap(&b);
    view->DeleteImage(0);
    EXPECT_EQ(SurfacePixel(60, 40), clTeal);
}

// ---- Pictures ----

TEST_F(LuxMViewTest, BrokenPicturesAreRemovedWithoutAnError) {
    const std::string good = dir / "good.jpg", truncated = dir / "truncated.jpg";
    WriteJpeg(good, 64, 48);
    Bytes jpg = ReadFile(good);
    jpg.resize(120);   // cut inside the headers: no picture at all
    WriteFile(truncated, jpg);
    for (bool remove : {false, true}) {
        Make(500, 200);
        view->SetRemoveCorrupted(remove);
        view->ThumbnailsBackground = clYellow;
        view->AppendImage(good);
        view->AppendImage(truncated);
        view->AppendImage(dir / "missing.jpg");
        view->AppendImage(good);
        EXPECT_NO_THROW(SurfacePixel(0, 0));
        if (remove) {
            ASSERT_EQ(view->ImageCount(), 2);
            EXPECT_EQ(view->Entry(1)->FileName, good);
        } else {
            // Empty cells in the thumbnails' background.
            ASSERT_EQ(view->ImageCount(), 4);
            EXPECT_EQ(view->Entry(1)->Image, nullptr);
            EXPECT_EQ(SurfacePixel(view->Entry(2)->X + 50, view->Entry(2)->Y + 50), clYellow);
        }
        EXPECT_NE(view->Entry(0)->Image, nullptr);
        EXPECT_FALSE(view->LoadEntryImage(-1));
        EXPECT_FALSE(view->LoadEntryImage(view->ImageCount()));
        EXPECT_EQ(view->GetEntryBitmap(-1), nullptr);
    }
}

struct IdSource {
    TBitmap known;
    int asked = 0;
    void OnRequest(TObject*, int ID, TBitmap*& Bitmap) {
        ++asked;
        if (ID == 7) Bitmap = &known;
    }
};

TEST_F(LuxMViewTest, PicturesByImageId) {
    Make(500, 200);
    IdSource src;
    Solid(src.known, 40, 20, TRGB{10, 20, 30});
    view->OnImageIDRequest = MakeMethod(&src, &IdSource::OnRequest);
    view->AppendImage("", 7);
    view->AppendImage("", 8);   // unknown to the application
    EXPECT_TRUE(view->LoadEntryImage(0));
    EXPECT_FALSE(view->LoadEntryImage(1));
    EXPECT_EQ(view->Entry(1)->Image, nullptr);
    TBitmap* b = view->GetEntryBitmap(0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width(), 40);
    EXPECT_EQ(codec_test::PixelOf(*b, 5, 5), (TRGB{10, 20, 30}));
    view->Store()->ReleaseBitmap(b, false);
    // The application's bitmap stays the application's.
    EXPECT_EQ(src.known.Width(), 40);
}

TEST_F(LuxMViewTest, ThumbnailDecodeMatchesDjpegScaled) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    const std::string path = dir / "photo.jpg";
    WriteJpeg(path, 640, 480);
    Make(500, 200);
    view->StoreType = lxtThumb;
    view->AppendImage(path);
    ASSERT_TRUE(view->LoadEntryImage(0));
    // The decoder was asked for at least 100 x 100: a quarter of 640 x 480.
    const TLXIOParams* p = view->IO()->Params();
    EXPECT_EQ(p->JpegScaleDenominator, 4);
    codec_test::Picture ref;
    ASSERT_TRUE(codec_test::ToolDecode("djpeg -scale 1/4 -ppm -outfile '" + dir / "ref.ppm" + "' '" + path + "'", dir / "ref.ppm", ref));
    EXPECT_EQ(p->Width, ref.w);
    EXPECT_EQ(p->Height, ref.h);
    // The same decode, by the I/O component alone, gives djpeg's pixels.
    TBitmap decoded;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&decoded);
    io.Params()->JpegScale = 0;
    io.Params()->Width = 100;
    io.Params()->Height = 100;
    io.LoadFromFile(path);
    ASSERT_FALSE(io.Aborting);
    codec_test::ExpectSamePixels(decoded, ref, "scaled decode");
    // The stored thumbnail fits the cell.
    EXPECT_EQ(view->Store()->ImageWidth(view->Entry(0)->Image), 100);
    EXPECT_EQ(view->Store()->ImageHeight(view->Entry(0)->Image), 75);
}

// ---- Painting ----

TEST_F(LuxMViewTest, SelectionStylesPaint) {
    Make(330, 230);
    TBitmap b;
    Solid(b, 100, 50, TRGB{0, 0, 255});   // a wide picture: margins above and below it
    view->AppendBitmap(&b);
    view->AppendBitmap(&b);
    view->SetBackground(clBlue);
    view->ThumbnailsBackground = clLime;
    view->SetSelected(1);
    // ACD: the selected cell's margins in the highlight colour, the others in the background.
    EXPECT_EQ(SurfacePixel(108 + 50, 4 + 10), ColorToRGB(clHighlight));
    EXPECT_EQ(SurfacePixel(4 + 50, 4 + 10), clLime);
    EXPECT_EQ(SurfacePixel(4 + 50, 4 + 50), clRed);   // the picture
    EXPECT_EQ(SurfacePixel(2, 2), clBlue);            // the gap between cells
    // Around: a frame in the selection colour outside the cell.
    view->SetSelectionStyle(lxssAround);
    view->SetSelectionColor(clFuchsia);
    EXPECT_EQ(SurfacePixel(107, 50), clFuchsia);
    EXPECT_EQ(SurfacePixel(108 + 50, 4 + 10), clLime);
    EXPECT_EQ(SurfacePixel(3, 50), clBlue);
}

TEST_F(LuxMViewTest, ChangingTheSelectedPictureKeepsAttachedComponentsValid) {
    Make(330, 230);
    TBitmap b;
    Solid(b, 20, 20, TRGB{1, 1, 1});
    view->AppendBitmap(&b);
    view->SetSelected(0);
    TLuxIO io(nullptr);
    io.SetAttachedView(view.get());
    EXPECT_EQ(io.Bitmap(), view->GetBitmap());
    // The component's colour is not passed on to a thumbnail view.
    const TColor bg = view->Background();
    io.SetBackground(clNavy);
    EXPECT_EQ(view->Background(), bg);
    Solid(b, 30, 10, TRGB{2, 2, 2});
    view->SetEntryBitmap(0, &b);
    ASSERT_NE(view->GetBitmap(), nullptr);
    EXPECT_EQ(io.Bitmap(), view->GetBitmap());
    EXPECT_EQ(io.Bitmap()->Width(), 30);
    view->SetEntryBitmap(5, &b);   // outside the list: nothing
    view->SetEntryBitmap(0, nullptr);
    EXPECT_EQ(view->ImageCount(), 1);
}

// ---- Scrolling ----

TEST_F(LuxMViewTest, ScrollBarsAndWheel) {
    Make(330, 230, 30);
    view->SetGridWidth(-1);
    view->SetScrollBars(ssVertical);
    EXPECT_TRUE(view->ScrollBarVisible(SB_VERT));
    EXPECT_FALSE(view->ScrollBarVisible(SB_HORZ));
    int mx, my;
    view->GetMaxViewXY(mx, my);
    EXPECT_GT(my, 0);
    view->WMVScroll(SB_LINEDOWN, 0);
    EXPECT_EQ(view->ViewY(), 104);
    view->WMVScroll(SB_BOTTOM, 0);
    EXPECT_EQ(view->ViewY(), my);
    view->WMVScroll(SB_PAGEUP, 0);
    EXPECT_EQ(view->ViewY(), my - view->ClientHeight());
    view->WMMouseWheel(0, WHEEL_DELTA, TPoint{});
    EXPECT_EQ(view->ViewY(), my - view->ClientHeight() - 104);
    view->VertScrollBarParams()->Tracking = false;
    view->WMVScroll(SB_THUMBTRACK, 100);
    EXPECT_EQ(view->ViewY(), my - view->ClientHeight() - 104);
    view->WMVScroll(SB_TOP, 0);
    EXPECT_EQ(view->ViewY(), 0);
    // Everything fits: the bar goes.
    while (view->ImageCount() > 2) view->DeleteImage(0);
    EXPECT_FALSE(view->ScrollBarVisible(SB_VERT));
    // A client area of nothing still scrolls within the grid, without dividing by zero.
    view->SetBounds(0, 0, 0, 0);
    view->SetScrollBars(ssBoth);
    view->SetViewXY(10, 10);
    EXPECT_EQ(view->ViewX(), 10);
    EXPECT_GT(view->HorzScrollScale(), 0);
}

}  // namespace
