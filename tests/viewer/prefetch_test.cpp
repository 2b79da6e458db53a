// The command-line photo decoded while the viewer starts: the window takes it only when it
// opens that very file, unchanged, into a view like the one it was decoded for; otherwise it
// loads the file itself, with the same result and the same errors as without a prefetch.
#include <gtest/gtest.h>

#include <QProgressBar>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ComCtrls.h"
#include "Dialogs.h"
#include "LuxIO.h"
#include "LuxView.h"
#include "PhotoPrefetch.h"
#include "QuadrantPhoto.h"
#include "SysUtils.h"
#include "main.h"
#include "saver/TestDir.h"

namespace fs = std::filesystem;

namespace {

struct Shown {
    int w = 0, h = 0;
    std::vector<uint8_t> pixels;
    std::string fileName;
    bool operator==(const Shown&) const = default;
};

Shown Look(TLuxView* v) {
    Shown s;
    const TBitmap* b = v->GetBitmap();
    s.w = b->Width(), s.h = b->Height();
    if (b->PixelBlock()) s.pixels.assign(b->PixelBlock(), b->PixelBlock() + b->ImageSize());
    s.fileName = v->GetIO()->Params()->FileName;
    return s;
}

// The percentages a load tells, each run of equal ones as one.
struct Percents {
    std::vector<int> seen;
    void On(TObject*, int p) {
        if (seen.empty() || seen.back() != p) seen.push_back(p);
    }
    TLXProgressEvent Method() { return MakeMethod(this, &Percents::On); }
};

class PrefetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteQuadrants(dir.File("a.bmp"), 640, 480);
        WriteQuadrants(dir.File("b.bmp"), 320, 200);
    }
    // What the view's own load of File shows, and the percentages it tells.
    Shown OwnLoad(const std::string& File, std::vector<int>* Told = nullptr) {
        TLuxView v(nullptr);
        Percents p;
        v.GetIO()->OnProgress = p.Method();
        v.GetIO()->LoadFromFile(File);
        if (Told) *Told = p.seen;
        return Look(&v);
    }
    TestDir dir;
};

}  // namespace

TEST_F(PrefetchTest, TakenOnlyForTheSameUnchangedFileIntoALikeView) {
    enum Change { kNone, kRewritten, kReplaced, kRemoved };
    struct Case {
        const char* what;
        std::string started, opened;
        Change change;
        TColor viewBackground;
        bool taken;
    };
    const std::string a = dir.File("a.bmp"), b = dir.File("b.bmp");
    const Case cases[] = {
        {"the same file", a, a, kNone, clBtnFace, true},
        {"another file", a, b, kNone, clBtnFace, false},
        {"the same file by another name", dir.Path() + "/./a.bmp", a, kNone, clBtnFace, false},
        {"rewritten after the decode", a, a, kRewritten, clBtnFace, false},
        {"replaced by another file of that name", a, a, kReplaced, clBtnFace, false},
        {"removed after the decode", a, a, kRemoved, clBtnFace, false},
        {"a view of another background", a, a, kNone, clBlack, false},
        {"nothing there to start with", dir.File("none.bmp"), dir.File("none.bmp"), kNone, clBtnFace, false},
        {"a folder", dir.Path(), dir.Path(), kNone, clBtnFace, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteQuadrants(a, 640, 480);
        TPhotoPrefetch prefetch(c.started, clBtnFace);
        prefetch.Wait();
        if (c.change == kRewritten) {
            WriteQuadrants(a, 600, 480);
        } else if (c.change == kReplaced) {
            WriteQuadrants(dir.File("new.bmp"), 640, 480);
            fs::rename(dir.File("new.bmp"), a);
        } else if (c.change == kRemoved) {
            fs::remove(a);
        }
        TLuxView view(nullptr);
        view.SetBackground(c.viewBackground);
        Percents p;
        const bool taken = prefetch.TakeInto(c.opened, view.GetIO(), p.Method());
        EXPECT_EQ(taken, c.taken);
        if (taken) {
            std::vector<int> told;
            EXPECT_EQ(Look(&view), OwnLoad(c.opened, &told));
            EXPECT_EQ(p.seen, told);
        } else {
            // Nothing of the decode reached the view.
            EXPECT_EQ(view.GetBitmap()->Width(), 0);
            EXPECT_EQ(view.GetIO()->Params()->FileName, "");
        }
        // One chance only.
        EXPECT_FALSE(prefetch.TakeInto(c.opened, view.GetIO(), {}));
    }
}

TEST_F(PrefetchTest, ADecodeStillRunningIsWaitedForWithItsProgress) {
    WriteQuadrants(dir.File("big.bmp"), 3000, 2000);
    std::vector<int> told;
    const Shown want = OwnLoad(dir.File("big.bmp"), &told);
    TPhotoPrefetch prefetch(dir.File("big.bmp"), clBtnFace);
    TLuxView view(nullptr);
    Percents p;
    ASSERT_TRUE(prefetch.TakeInto(dir.File("big.bmp"), view.GetIO(), p.Method()));
    EXPECT_EQ(Look(&view), want);
    EXPECT_EQ(p.seen, told);
    // The view's mask is opaque and the picture's size, as after its own load.
    const TLXMask* m = view.GetAlphaMask();
    EXPECT_TRUE(m->Full);
    EXPECT_EQ(m->Width, 3000);
    EXPECT_EQ(m->Height, 2000);
}

TEST_F(PrefetchTest, AnUnusedDecodeEndsWithThePrefetch) {
    WriteQuadrants(dir.File("big.bmp"), 3000, 2000);
    // Freed at once, while still decoding, and never taken: nothing waits for ever.
    for (int i = 0; i < 3; ++i) TPhotoPrefetch(dir.File("big.bmp"), clBtnFace);
    TPhotoPrefetch prefetch(dir.File("big.bmp"), clBtnFace);
    TLuxView view(nullptr);
    EXPECT_FALSE(prefetch.TakeInto(dir.File("a.bmp"), view.GetIO(), {}));
}

// The window: the command-line photo through the prefetch, and a prefetch that cannot be used
// changes nothing of what the user sees (the photo, the status bar, the error text).
class PrefetchWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        oldConfig_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        WriteQuadrants(dir.File("photo.bmp"), 1600, 1000);
        std::ofstream(dir.File("broken.bmp")) << "BM not really";
    }
    void TearDown() override {
        SetProgramArguments("gdview", {});
        if (oldConfig_.empty()) unsetenv("XDG_CONFIG_HOME");
        else setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    }
    struct Outcome {
        std::string error, photoPath, status;
        Shown shown;
        double zoom = 0;
        bool operator==(const Outcome&) const = default;
    };
    // Opens File in a new window, with a prefetch of Started when given.
    Outcome Open(const std::string& File, const std::string* Started) {
        TForm1 form(nullptr, dir.Path());
        form.Show();
        if (Started) form.Prefetch = std::make_unique<TPhotoPrefetch>(*Started, clBtnFace);
        Outcome o;
        try {
            form.LoadPhoto(File);
        } catch (const Exception& e) {
            o.error = e.what();
        }
        EXPECT_FALSE(form.Prefetch) << "the prefetch is let go after the first photo";
        EXPECT_FALSE(form.progress->isVisible());
        o.photoPath = form.PhotoPath;
        o.status = form.StatusBar->PanelText(0);
        o.shown = Look(form.view);
        o.zoom = form.view->Zoom();
        return o;
    }
    TestDir dir;

private:
    std::string oldConfig_;
};

TEST_F(PrefetchWindow, SameOutcomeWithAndWithoutThePrefetch) {
    const std::string photo = dir.File("photo.bmp"), broken = dir.File("broken.bmp"), missing = dir.File("gone.jpg");
    const std::pair<std::string, std::string> cases[] = {
        {photo, photo}, {photo, broken}, {broken, broken}, {missing, missing}, {broken, photo}, {missing, photo},
    };
    for (const auto& [started, opened] : cases) {
        SCOPED_TRACE("started " + started + ", opened " + opened);
        const Outcome plain = Open(opened, nullptr);
        EXPECT_EQ(Open(opened, &started), plain);
        EXPECT_EQ(plain.error.empty(), opened == photo) << plain.error;
    }
}

TEST_F(PrefetchWindow, TheCommandLinePhotoAtTheFirstIdleMoment) {
    TForm1 form(nullptr, dir.Path());
    form.Show();
    SetProgramArguments("gdview", {dir.File("photo.bmp")});
    form.Prefetch = std::make_unique<TPhotoPrefetch>(dir.File("photo.bmp"), clBtnFace);
    bool done = false;
    form.OpenCommandLinePhoto(nullptr, done);
    EXPECT_EQ(form.PhotoPath, dir.File("photo.bmp"));
    EXPECT_EQ(form.view->GetBitmap()->Width(), 1600);
    EXPECT_LT(form.view->Zoom(), 100);   // fitted
    EXPECT_FALSE(form.Prefetch);
}
