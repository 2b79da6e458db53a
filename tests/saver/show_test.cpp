// The show loop against fake timers, view, blocks, music and host: photo order per mode,
// timer arming, panoramas, titles, effects, input rules and the music file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "ShowLoop.h"
#include "TestDir.h"

namespace {

struct FakeTimer : IShowTimer {
    unsigned interval = 1000;
    bool enabled = false;
    void SetInterval(unsigned Ms) override { interval = Ms; }
    void SetEnabled(bool v) override { enabled = v; }
    bool Enabled() const override { return enabled; }
    unsigned Interval() const override { return interval; }
    // The class library's timer ticks only with an interval above 0.
    bool Running() const { return enabled && interval > 0; }
};

struct FakeRandom : IShowRandom {
    std::mt19937 gen{12345};
    void Randomize() override {}
    int Random(int N) override { return std::uniform_int_distribution<int>(0, N - 1)(gen); }
};

std::string LE32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
// "P<k>", built in steps (g++ 12 warns falsely on a literal + to_string).
std::string Pn(int k) {
    std::string s = "P";
    s += std::to_string(k);
    return s;
}
std::string Str(const std::string& s) { return LE32(uint32_t(s.size())) + s; }
// A photo block whose "image" the fake view decodes: "WxH", or anything else as bad data.
std::string PhotoBlock(const std::string& name, const std::string& image) {
    return Str(name) + Str("comment") + image;
}

struct FakeBlocks : IBlockSource {
    std::map<int, std::string> blocks;
    std::vector<int> reads;
    bool ReadBlock(int K, std::string& Data) override {
        reads.push_back(K);
        auto it = blocks.find(K);
        if (it == blocks.end()) return false;
        Data = it->second;
        return true;
    }
};

struct FakeView : IShowView {
    int width = 1000, height = 800;
    int bw = 0, bh = 0;
    double zoom = 100;
    int vx = 0, vy = 0;
    int maxSkew = 0;   // the view's own maximum differs from the zoomed size by this
    bool autoFit = false, running = false;
    int locks = 0, aborts = 0, prepares = 0;
    std::vector<TLXTransitionType> effects;
    std::vector<int> durations;
    std::string title;
    int titleLeft = -1, titleTop = -1;
    bool titleVisible = false, commentVisible = false;
    TColor background = 0;

    int Width() const override { return width; }
    int Height() const override { return height; }
    void SetBackground(TColor c) override { background = c; }
    void Clear() override {}
    void UpdateView() override {}
    void Repaint() override {}
    void LockPaint() override { ++locks; }
    void UnlockPaint() override { --locks; }
    bool LoadPhoto(const std::string& Data, size_t Offset, int& W, int& H) override {
        int w = 0, h = 0;
        char x = 0;
        std::istringstream in(Data.substr(Offset));
        if (!(in >> w >> x >> h) || x != 'x') return false;
        bw = W = w;
        bh = H = h;
        return true;
    }
    void SetAutoFit(bool v) override { autoFit = v; }
    void SetZoom(double p) override { zoom = p; }
    int ViewX() const override { return vx; }
    int ViewY() const override { return vy; }
    void Max(int& mx, int& my) const {
        mx = std::max(0, int(std::trunc(bw * zoom / 100)) - width + maxSkew);
        my = std::max(0, int(std::trunc(bh * zoom / 100)) - height + maxSkew);
    }
    void SetViewX(int v) override { int mx, my; Max(mx, my); vx = std::clamp(v, 0, mx); }
    void SetViewY(int v) override { int mx, my; Max(mx, my); vy = std::clamp(v, 0, my); }
    void GetMaxViewXY(int& mx, int& my) override { Max(mx, my); }
    void PrepareTransition() override { ++prepares; }
    void RunTransition(TLXTransitionType e, int ms) override {
        effects.push_back(e);
        durations.push_back(ms);
        running = true;
    }
    bool TransitionRunning() const override { return running; }
    void AbortTransition() override { ++aborts; running = false; }
    void StyleTitle(const TPlayerSettings&) override {}
    void SetTitleText(const std::string& t) override { title = t; }
    int TitleWidth() const override { return 101; }
    int TitleHeight() const override { return 21; }
    void MoveTitle(int l, int t) override { titleLeft = l; titleTop = t; }
    void SetTitleVisible(bool v) override { titleVisible = v; }
    void SetCommentVisible(bool v) override { commentVisible = v; }
};

struct FakeMusic : IShowMusic {
    bool ok = true;
    std::vector<std::string> played;
    int stops = 0;
    bool Play(const std::string& f) override { played.push_back(f); return ok; }
    void Stop() override { ++stops; }
};

struct HaltCalled { int code; };

struct FakeHost : IShowHost {
    int closes = 0, quits = 0, settings = 0, helps = 0;
    bool passwordInUse = false, verifyResult = false;
    int verifies = 0;
    TPoint cursor{100, 100};
    int cursorCount = 0;
    std::function<void()> inDialog;
    std::vector<std::string> log;

    void CloseWindow() override { ++closes; }
    void Quit() override { ++quits; }
    void Halt(int code) override { throw HaltCalled{code}; }
    void Maximize() override {}
    TPoint CursorPos() override { return cursor; }
    void ShowCursor(bool s) override { cursorCount += s ? 1 : -1; }
    void GrabKeyboard(bool) override {}
    bool PasswordInUse() override { return passwordInUse; }
    bool VerifyPassword() override { ++verifies; return verifyResult; }
    void ShowSettingsDialog() override { ++settings; if (inDialog) inDialog(); }
    void ShowHelpDialog() override { ++helps; if (inDialog) inDialog(); }
    void Log(const std::string& l) override { log.push_back(l); }
};

class Show : public ::testing::Test {
protected:
    // N photos named "P<block>", 320x240 each unless replaced.
    void Photos(int n) {
        s.PhotoCount = n;
        for (int k = 2; k <= n + 1; ++k) blocks.blocks[k] = PhotoBlock(Pn(k), "320x240");
    }
    TShowController& Make(TRunMode mode, uint8_t platform = 1) {
        c = std::make_unique<TShowController>(s, mode, platform, view, blocks, rng, photo, title,
                                              pan, music, host);
        return *c;
    }
    // Fires the photo timer; fails when it is not running.
    void Tick() {
        ASSERT_TRUE(photo.Running()) << "photo timer not armed";
        c->UpdateScreenTimer();
    }

    TPlayerSettings s;
    FakeView view;
    FakeBlocks blocks;
    FakeRandom rng;
    FakeTimer photo, title, pan;
    FakeMusic music;
    FakeHost host;
    std::unique_ptr<TShowController> c;
};

// The fake view records names through the title only when Showname is on; take them from
// the controller instead.
struct Recorder {
    static std::vector<int> Run(Show& t, TShowController& c, FakeTimer& photo, FakeHost& host,
                                int ticks) {
        std::vector<int> out;
        for (int i = 0; i < ticks && photo.Running() && host.closes == 0; ++i) {
            const int before = int(host.log.size());
            c.UpdateScreenTimer();
            for (size_t j = size_t(before); j < host.log.size(); ++j)
                if (host.log[j].rfind("show photo ", 0) == 0)
                    out.push_back(std::stoi(host.log[j].substr(11)));
        }
        (void)t;
        return out;
    }
};

TEST_F(Show, PhotoOrderAndWrapPerMode) {
    struct Case {
        const char* name;
        TRunMode mode;
        bool loop, random;
        int n, ticks;
        std::vector<int> expect;
        bool closes;
    };
    const std::vector<Case> cases = {
        {"slideshow without loop ends after the last", rmSlideshow, false, false, 3, 10, {4, 3, 2}, true},
        {"slideshow with loop wraps", rmSlideshow, true, false, 3, 5, {4, 3, 2, 4, 3}, false},
        {"saver always loops", rmSaver, false, false, 3, 5, {4, 3, 2, 4, 3}, false},
        {"preview always loops", rmPreview, false, false, 2, 4, {3, 2, 3, 2}, false},
        {"random with one photo repeats it", rmSaver, false, true, 1, 4, {2, 2, 2, 2}, false},
        {"random is ignored in a slideshow without loop", rmSlideshow, false, true, 3, 10, {4, 3, 2}, true},
        {"one photo, slideshow", rmSlideshow, false, false, 1, 5, {2}, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        host = FakeHost();
        blocks = FakeBlocks();
        photo = FakeTimer();
        s = TPlayerSettings();
        s.Duration = 5;
        s.Loop = k.loop;
        s.Random = k.random;
        Photos(k.n);
        auto& show = Make(k.mode);
        show.FormShow(true);
        EXPECT_EQ(Recorder::Run(*this, show, photo, host, k.ticks), k.expect);
        EXPECT_EQ(host.closes, k.closes ? 1 : 0);
        for (int r : blocks.reads) EXPECT_GE(r, 2) << "block below 2 read as a photo";
    }
}

TEST_F(Show, RandomNeverRepeatsAndCoversAll) {
    s.Duration = 1;
    s.Random = true;
    Photos(5);
    auto& show = Make(rmSaver);
    show.FormShow(true);
    const auto seq = Recorder::Run(*this, show, photo, host, 400);
    ASSERT_EQ(seq.size(), 400u);
    std::set<int> seen(seq.begin() + 1, seq.end());
    EXPECT_EQ(seen, (std::set<int>{2, 3, 4, 5, 6}));
    for (size_t i = 1; i < seq.size(); ++i) EXPECT_NE(seq[i], seq[i - 1]) << "at " << i;
}

TEST_F(Show, TimerArming) {
    struct Case {
        int32_t duration, effectDuration;
        bool running;
        unsigned interval;
        int transitionMs;
    };
    const std::vector<Case> cases = {
        {5, 2, true, 7000, 2000},
        {-1, 2, false, 0, 2000},              // until input
        {0, 0, false, 0, 0},                  // interval 0 never ticks
        {3, -5, true, 3000, 0},               // a negative transition time counts as 0
        {INT32_MAX, INT32_MAX, true, unsigned(INT32_MAX), INT32_MAX},
        {-2147483647, 0, false, 0, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.duration) + "+" + std::to_string(k.effectDuration));
        view = FakeView();
        photo = FakeTimer();
        s.Duration = k.duration;
        s.EffectDuration = k.effectDuration;
        Photos(2);
        auto& show = Make(rmSaver);
        show.FormShow(true);
        EXPECT_TRUE(photo.Running());
        EXPECT_EQ(photo.interval, 100u);   // the first photo 100 ms after the start
        show.UpdateScreenTimer();
        EXPECT_EQ(photo.Running(), k.running);
        if (k.running) {
            EXPECT_EQ(photo.interval, k.interval);
        }
        ASSERT_EQ(view.durations.size(), 1u);
        EXPECT_EQ(view.durations[0], k.transitionMs);
        EXPECT_FALSE(pan.Running());
        EXPECT_EQ(view.locks, 0) << "paint lock left taken";
    }
}

TEST_F(Show, PanoramaDetection) {
    struct Case {
        const char* image;
        bool shown, panorama, vertical;
        double zoom;   // expected, when a panorama
    };
    // View 1000 x 800.
    const std::vector<Case> cases = {
        {"2500x1000", true, true, false, 80},
        {"2499x1000", true, false, false, 0},
        {"1000x2500", true, true, true, 100},
        {"1000x2499", true, false, false, 0},
        {"1x1", true, false, false, 0},
        {"0x0", false, false, false, 0},
        {"0x5", false, false, false, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.image);
        view = FakeView();
        host = FakeHost();
        pan = FakeTimer();
        photo = FakeTimer();
        s = TPlayerSettings();
        s.PhotoCount = 1;
        s.Duration = 3;
        s.EffectDuration = 2;
        s.AutoFit = true;
        blocks.blocks = {{2, PhotoBlock("X", k.image)}};
        auto& show = Make(rmSaver);
        show.FormShow(true);
        show.UpdateScreenTimer();
        const auto photos = std::count_if(host.log.begin(), host.log.end(), [](auto& l) {
            return l.rfind("show photo", 0) == 0;
        });
        EXPECT_EQ(photos, k.shown ? 1 : 0);
        if (!k.shown) {
            EXPECT_EQ(view.title, "No photos found!");
            continue;
        }
        EXPECT_EQ(show.Panorama(), k.panorama);
        if (k.panorama) {
            EXPECT_EQ(show.PanVertical, k.vertical);
            EXPECT_DOUBLE_EQ(view.zoom, k.zoom);
            EXPECT_FALSE(view.autoFit);
            EXPECT_FALSE(photo.Running());
            EXPECT_TRUE(pan.Running());
            EXPECT_EQ(pan.interval, 4000u);   // twice the transition time
            show.scrollTimer();
            EXPECT_EQ(pan.interval, 40u);
        } else {
            EXPECT_TRUE(view.autoFit);
            EXPECT_FALSE(pan.Running());
            EXPECT_TRUE(photo.Running());
        }
    }
}

TEST_F(Show, PanAlwaysEnds) {
    std::mt19937 gen(7);
    for (int i = 0; i < 200; ++i) {
        view = FakeView();
        view.width = 200 + int(gen() % 1800);
        view.height = 150 + int(gen() % 1000);
        view.maxSkew = int(gen() % 3) - 1;   // the view's own maximum may differ by one
        pan = FakeTimer();
        photo = FakeTimer();
        title = FakeTimer();
        host = FakeHost();
        const bool vertical = gen() % 2;
        const int shortSide = 100 + int(gen() % 3000);
        const int longSide = int(std::ceil(shortSide * 2.5)) + int(gen() % 8000);
        const std::string img = vertical ? std::to_string(shortSide) + "x" + std::to_string(longSide)
                                         : std::to_string(longSide) + "x" + std::to_string(shortSide);
        SCOPED_TRACE(img + " in " + std::to_string(view.width) + "x" + std::to_string(view.height));
        s = TPlayerSettings();
        s.PhotoCount = 1;
        s.Duration = 1;
        s.EffectDuration = 1;
        s.Showname = true;
        blocks.blocks = {{2, PhotoBlock("Pano", img)}};
        auto& show = Make(rmSaver);
        show.FormShow(true);
        show.UpdateScreenTimer();
        ASSERT_TRUE(show.Panorama());
        ASSERT_EQ(show.PanVertical, vertical);
        EXPECT_FALSE(title.Running()) << "title only after the pan";
        int mx, my;
        view.GetMaxViewXY(mx, my);
        const int maxOff = vertical ? my : mx;
        const int bound = (maxOff + 3) / 4 + 2;
        int ticks = 0;
        while (pan.Running() && ticks <= bound + 1) {
            show.scrollTimer();
            ++ticks;
        }
        EXPECT_FALSE(pan.Running()) << "pan did not end";
        EXPECT_LE(ticks, bound);
        EXPECT_TRUE(photo.Running());
        EXPECT_EQ(photo.interval, 2000u);
        EXPECT_TRUE(title.Running());
    }
}

TEST_F(Show, LeavingAPanoramaStopsThePan) {
    s.PhotoCount = 2;
    s.Duration = 2;
    s.EffectDuration = 1;
    blocks.blocks = {{3, PhotoBlock("Pano", "5000x100")}, {2, PhotoBlock("Small", "100x100")}};
    struct Input { const char* name; std::function<void(TShowController&)> act; };
    const std::vector<Input> inputs = {
        {"space", [](TShowController& c) { c.FormKeyPress(' '); }},
        {"right", [](TShowController& c) { c.FormKeyDown(kVkRight); }},
        {"mouse", [](TShowController& c) { c.picMouseDown(mbLeft); }},
    };
    for (const auto& in : inputs) {
        SCOPED_TRACE(in.name);
        pan = FakeTimer();
        photo = FakeTimer();
        auto& show = Make(rmSlideshow);
        show.FormShow(true);
        show.UpdateScreenTimer();
        ASSERT_TRUE(pan.Running());
        show.scrollTimer();
        in.act(show);
        EXPECT_FALSE(show.Panorama());
        EXPECT_FALSE(pan.Running());
        EXPECT_TRUE(photo.Running());
        EXPECT_EQ(photo.interval, 3000u);
    }
}

TEST_F(Show, EffectMappingDrawsFromItsSet) {
    const std::map<int32_t, std::set<TLXTransitionType>> expect = {
        {0, {lxttNone}},
        {1, {lxttCrossDissolve}},
        {2, {lxttFadeOutIn}},
        {3, {lxttLeftRight1, lxttRightLeft1, lxttUpDown1, lxttDownUp1, lxttCenter1, lxttCenter2}},
        {4, {lxttFromUpLeft, lxttFromUpRight, lxttFromBottomLeft, lxttFromBottomRight,
             lxttMoveLeftRight1, lxttMoveRightLeft1, lxttMoveUpDown1, lxttMoveDownUp1,
             lxttMoveLeftRight2, lxttMoveRightLeft2, lxttMoveUpDown2, lxttMoveDownUp2}},
        {5, {lxttRandomBoxes}},
        {6, {lxttCenterZoom1}},
        {7, {lxttCenterZoom2}},
        {8, {lxttNone}},
        {-1, {lxttNone}},
    };
    FakeRandom r;
    for (const auto& [effect, set] : expect) {
        std::set<TLXTransitionType> got;
        for (int i = 0; i < 2000; ++i) got.insert(MapEffect(effect, r));
        EXPECT_EQ(got, set) << "effect " << effect;
    }
    // Through the loop: the effect reaches the view.
    s.Effect = 6;
    s.Duration = 1;
    Photos(1);
    auto& show = Make(rmSaver);
    show.FormShow(true);
    show.UpdateScreenTimer();
    ASSERT_EQ(view.effects.size(), 1u);
    EXPECT_EQ(view.effects[0], lxttCenterZoom1);
}

TEST_F(Show, TitlePositions) {
    struct Case { int pos; bool ok; int left, top; };
    const std::vector<Case> cases = {
        {0, true, 0, 0}, {1, true, 450, 0}, {2, true, 899, 0},
        {3, true, 0, 779}, {4, true, 450, 779}, {5, true, 899, 779},
        {6, false, 0, 0}, {-1, false, 0, 0},
    };
    for (const auto& k : cases) {
        int l = -7, t = -7;
        EXPECT_EQ(TitlePosition(k.pos, 1000, 800, 101, 21, l, t), k.ok) << k.pos;
        if (k.ok) {
            EXPECT_EQ(std::make_pair(l, t), std::make_pair(k.left, k.top)) << k.pos;
        }
    }
    // Odd sizes: both halves round toward zero.
    int l, t;
    ASSERT_TRUE(TitlePosition(1, 1001, 801, 101, 21, l, t));
    EXPECT_EQ(l, 500 - 50);
}

TEST_F(Show, TitleAppearsAfterTheTransition) {
    s.Showname = true;
    s.NamePosition = 5;
    s.Duration = 4;
    Photos(2);
    auto& show = Make(rmSaver);
    show.FormShow(true);
    show.UpdateScreenTimer();
    EXPECT_EQ(view.title, "P3");
    EXPECT_EQ(std::make_pair(view.titleLeft, view.titleTop), std::make_pair(899, 779));
    EXPECT_FALSE(view.titleVisible);
    ASSERT_TRUE(title.Running());
    EXPECT_EQ(title.interval, 100u);
    show.showlabelTimer();   // transition still running
    EXPECT_FALSE(view.titleVisible);
    EXPECT_TRUE(title.Running());
    view.running = false;
    show.showlabelTimer();
    EXPECT_TRUE(view.titleVisible);
    EXPECT_FALSE(title.Running());
    EXPECT_FALSE(view.commentVisible);
    // The next tick hides it again.
    show.UpdateScreenTimer();
    EXPECT_FALSE(view.titleVisible);
}

TEST_F(Show, MissingAndBadBlocks) {
    struct Case {
        const char* name;
        TRunMode mode;
        int n;
        std::map<int, std::string> images;   // block -> image text
        int ticks;
        std::vector<int> expect;
        bool noPhotos;
    };
    const std::vector<Case> cases = {
        {"no photos: the index is 1 at once, so the show ends", rmSaver, 0, {}, 1, {}, false},
        {"a missing block while looping gives N+1", rmSaver, 3, {{4, "10x10"}, {2, "10x10"}}, 4, {4, 4, 4, 4}, false},
        {"a missing first block in a slideshow", rmSlideshow, 2, {{2, "10x10"}}, 1, {}, true},
        {"a bad photo is skipped", rmSaver, 3, {{4, "10x10"}, {3, "garbage"}, {2, "10x10"}}, 4, {4, 2, 4, 2}, false},
        {"a 0x0 photo is skipped", rmSaver, 2, {{3, "0x0"}, {2, "10x10"}}, 3, {2, 2, 2}, false},
        {"only bad photos", rmSaver, 2, {{3, "bad"}, {2, "bad"}}, 1, {}, true},
        {"a truncated name", rmSaver, 1, {}, 1, {}, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        host = FakeHost();
        view = FakeView();
        photo = FakeTimer();
        blocks = FakeBlocks();
        s = TPlayerSettings();
        s.PhotoCount = k.n;
        s.Duration = 1;
        for (const auto& [b, img] : k.images) blocks.blocks[b] = PhotoBlock(Pn(b), img);
        if (std::string(k.name) == "a truncated name") blocks.blocks[2] = LE32(1000) + "x";
        auto& show = Make(k.mode);
        show.FormShow(true);
        EXPECT_EQ(Recorder::Run(*this, show, photo, host, k.ticks), k.expect);
        for (int r : blocks.reads) EXPECT_GE(r, 2);
        EXPECT_EQ(view.locks, 0);
        if (k.n == 0) {
            EXPECT_EQ(host.closes, 1);
        }
        if (k.noPhotos) {
            EXPECT_EQ(view.title, "No photos found!");
            EXPECT_TRUE(view.titleVisible);
            EXPECT_EQ(std::make_pair(view.titleLeft, view.titleTop), std::make_pair(0, 0));
            EXPECT_EQ(host.closes, 0) << "the text stays readable first";
            ASSERT_TRUE(photo.Running());
            show.UpdateScreenTimer();
            EXPECT_EQ(host.closes, 1);
        }
    }
}

TEST_F(Show, LeftStepsBack) {
    struct Case { int n, index, expectBlock; };
    const std::vector<Case> cases = {
        {5, 5, 2},   // first photo (block 6) on screen: the last one
        {5, 6, 3},   // after a wrap
        {5, 3, 5},
        {5, 1, 3},   // after the last photo of a slideshow
        {1, 2, 2},
        {2, 3, 3},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.n) + "/" + std::to_string(k.index));
        host = FakeHost();
        blocks = FakeBlocks();
        view = FakeView();
        s = TPlayerSettings();
        s.Duration = 1;
        s.Loop = true;
        Photos(k.n);
        auto& show = Make(rmSlideshow);
        show.FormShow(true);
        show.CurrentIndex = k.index;
        view.running = true;
        show.FormKeyDown(kVkLeft);
        EXPECT_EQ(view.aborts, 1) << "transition aborted";
        ASSERT_FALSE(host.log.empty());
        EXPECT_EQ(host.log.back(), "show photo " + std::to_string(k.expectBlock) + " P" +
                                       std::to_string(k.expectBlock));
    }
    // No photos at all: Left names no block.
    host = FakeHost();
    blocks = FakeBlocks();
    s = TPlayerSettings();
    auto& show = Make(rmSlideshow);
    show.FormShow(true);
    show.FormKeyDown(kVkLeft);
    for (int r : blocks.reads) EXPECT_GE(r, 2);
}

TEST_F(Show, SpaceAbortsAndRestartsTheFullInterval) {
    s.Duration = 5;
    s.EffectDuration = 2;
    Photos(3);
    auto& show = Make(rmSlideshow);
    show.FormShow(true);
    show.UpdateScreenTimer();
    ASSERT_TRUE(view.running);
    photo.interval = 123;   // as if part of the period had passed
    show.FormKeyPress(' ');
    EXPECT_EQ(view.aborts, 1);
    EXPECT_EQ(host.log.back(), "show photo 3 P3");
    EXPECT_TRUE(photo.Running());
    EXPECT_EQ(photo.interval, 7000u);
    show.FormKeyDown(kVkRight);
    EXPECT_EQ(host.log.back(), "show photo 2 P2");
}

TEST_F(Show, DialogsStopTheShowAndRestartIt) {
    s.Duration = 5;
    s.EffectDuration = 1;
    s.PhotoCount = 2;
    blocks.blocks = {{3, PhotoBlock("Pano", "9000x100")}, {2, PhotoBlock("B", "10x10")}};
    struct Case { const char* name; std::function<void(TShowController&)> act; int settings, helps; };
    const std::vector<Case> cases = {
        {"F10", [](TShowController& c) { c.FormKeyDown(kVkF10); }, 1, 0},
        {"F1", [](TShowController& c) { c.FormKeyDown(kVkF1); }, 0, 1},
        {"right button up", [](TShowController& c) { c.picMouseUp(mbRight); }, 1, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        host = FakeHost();
        photo = FakeTimer();
        pan = FakeTimer();
        auto& show = Make(rmSlideshow);
        show.FormShow(true);
        show.UpdateScreenTimer();
        ASSERT_TRUE(pan.Running());
        const int index = show.CurrentIndex;
        bool quietInside = false;
        host.inDialog = [&] { quietInside = !photo.Enabled() && !pan.Enabled() && !title.Enabled(); };
        k.act(show);
        EXPECT_EQ(host.settings, k.settings);
        EXPECT_EQ(host.helps, k.helps);
        EXPECT_TRUE(quietInside) << "a timer ran behind the dialog";
        EXPECT_EQ(show.CurrentIndex, index) << "the index is kept";
        EXPECT_TRUE(photo.Running());
        EXPECT_EQ(photo.interval, 100u);
        EXPECT_FALSE(pan.Enabled());
    }
}

TEST_F(Show, MouseOnlyInSlideshow) {
    for (TRunMode mode : {rmSlideshow, rmSaver, rmPreview}) {
        SCOPED_TRACE(int(mode));
        host = FakeHost();
        s = TPlayerSettings();
        s.Duration = 1;
        Photos(3);
        auto& show = Make(mode);
        show.FormShow(true);
        show.UpdateScreenTimer();
        const size_t before = host.log.size();
        show.picMouseDown(mbRight);
        show.picMouseDown(mbMiddle);
        show.picMouseUp(mbLeft);
        EXPECT_EQ(host.log.size(), before);
        show.picMouseDown(mbLeft);
        show.picMouseUp(mbRight);
        const bool slide = mode == rmSlideshow;
        EXPECT_EQ(host.log.size() > before, slide);
        EXPECT_EQ(host.settings, slide ? 1 : 0);
    }
}

TEST_F(Show, EscapeHaltsAfterCleanUp) {
    TestDir dir;
    setenv("TMPDIR", dir.Path().c_str(), 1);
    s.Duration = 1;
    s.MusicName = "song.wav";
    Photos(1);
    blocks.blocks[1] = "RIFFdata";
    auto& show = Make(rmSlideshow);
    show.FormShow(true);
    EXPECT_EQ(host.cursorCount, -1);
    show.UpdateScreenTimer();
    ASSERT_EQ(music.played.size(), 1u);
    try {
        show.FormKeyPress(27);
        FAIL() << "no halt";
    } catch (const HaltCalled& h) {
        EXPECT_EQ(h.code, 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    EXPECT_EQ(host.cursorCount, 0);
    unsetenv("TMPDIR");
}

TEST_F(Show, SaverInputFilter) {
    struct Case {
        const char* name;
        TRunMode mode;
        uint8_t platform;
        bool passwordInUse, verify;
        TInputKind kind;
        int x, y;          // relative to the start position
        bool handled, quit;
    };
    const std::vector<Case> cases = {
        {"move 5,5 is no input", rmSaver, 0, false, false, TInputKind::MouseMove, 5, 5, false, false},
        {"move -5,-5 is no input", rmSaver, 0, false, false, TInputKind::MouseMove, -5, -5, false, false},
        {"move 6,0", rmSaver, 0, false, false, TInputKind::MouseMove, 6, 0, true, true},
        {"move 0,6", rmSaver, 0, false, false, TInputKind::MouseMove, 0, 6, true, true},
        {"move -6,0", rmSaver, 0, false, false, TInputKind::MouseMove, -6, 0, true, true},
        {"key, no password", rmSaver, 0, false, false, TInputKind::KeyDown, 0, 0, true, true},
        {"key up", rmSaver, 0, false, false, TInputKind::KeyUp, 0, 0, true, true},
        {"button", rmSaver, 0, false, false, TInputKind::ButtonDown, 0, 0, true, true},
        {"deactivation", rmSaver, 0, false, false, TInputKind::Deactivate, 0, 0, true, true},
        {"other events", rmSaver, 0, false, false, TInputKind::Other, 0, 0, false, false},
        {"wrong password: the show goes on", rmSaver, 0, true, false, TInputKind::KeyDown, 0, 0, true, false},
        {"right password", rmSaver, 0, true, true, TInputKind::KeyDown, 0, 0, true, true},
        {"platform 1 never asks", rmSaver, 1, true, false, TInputKind::KeyDown, 0, 0, true, true},
        {"preview has no filter", rmPreview, 0, false, false, TInputKind::KeyDown, 0, 0, false, false},
        {"slideshow has no filter", rmSlideshow, 0, false, false, TInputKind::KeyDown, 0, 0, false, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        host = FakeHost();
        host.cursor = {500, 400};
        host.passwordInUse = k.passwordInUse;
        host.verifyResult = k.verify;
        auto& show = Make(k.mode, k.platform);
        show.FormShow(true);
        EXPECT_EQ(show.AppMessageFilter(k.kind, 500 + k.x, 400 + k.y), k.handled);
        EXPECT_EQ(host.quits, k.quit ? 1 : 0);
        EXPECT_EQ(host.verifies, k.platform == 0 && k.passwordInUse && k.handled ? 1 : 0);
        show.FormHide();
        EXPECT_FALSE(show.AppMessageFilter(TInputKind::KeyDown)) << "filter left installed";
    }
}

TEST_F(Show, SpontaneousCloseOnlyInSlideshow) {
    EXPECT_TRUE(Make(rmSlideshow).AcceptSpontaneousClose());
    EXPECT_FALSE(Make(rmSaver).AcceptSpontaneousClose());
    EXPECT_FALSE(Make(rmPreview).AcceptSpontaneousClose());
}

// ---- Decode-ahead ----

// Decodes "WxH" photos as the fake view does, but only for the block it was started on, as
// the player's worker does; counts what it handed over.
struct FakeAhead : IPhotoAhead {
    FakeBlocks& blocks;
    FakeView& view;
    int job = 0, taken = 0, refused = 0, discards = 0;
    std::vector<int> starts;
    FakeAhead(FakeBlocks& b, FakeView& v) : blocks(b), view(v) {}
    void Start(int K) override {
        starts.push_back(K);
        job = K;
    }
    // Done at once: the job's block as the view would decode it.
    TAheadStatus Status(int K) override {
        if (job != K || K == 0) return TAheadStatus::None;
        auto it = blocks.blocks.find(K);
        if (it == blocks.blocks.end()) return TAheadStatus::Missing;
        std::string name, comment;
        size_t offset = 0;
        FakeView probe;
        int w = 0, h = 0;
        if (!ReadPhotoHeader(it->second, name, comment, offset) || !probe.LoadPhoto(it->second, offset, w, h) ||
            w < 1 || h < 1)
            return TAheadStatus::Failed;
        return TAheadStatus::Ready;
    }
    bool Take(int K, std::string& Name, std::string& Comment, int& W, int& H) override {
        const bool mine = job == K;
        job = 0;
        std::string data, name, comment;
        size_t offset = 0;
        auto it = blocks.blocks.find(K);
        if (!mine || it == blocks.blocks.end() || !ReadPhotoHeader(it->second, name, comment, offset) ||
            !view.LoadPhoto(it->second, offset, W, H) || W < 1 || H < 1) {
            ++refused;
            return false;
        }
        Name = name;
        Comment = comment;
        ++taken;
        return true;
    }
    void Discard() override {
        ++discards;
        job = 0;
    }
};

// Everything the user can tell apart: the photos in order, their effects, titles and timers,
// and every draw of the generator.
struct Trace {
    std::vector<std::string> lines;
    bool operator==(const Trace&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Trace& t) {
    for (const auto& l : t.lines) o << l << "\n";
    return o;
}

TEST_F(Show, DecodeAheadChangesNothingTheUserSees) {
    enum Act { Tick, Right, Left, Space, Click, F1, F10, Pan };
    struct Case {
        const char* name;
        TRunMode mode;
        bool loop, random;
        int effect, n;
        std::map<int, std::string> special;   // block -> image instead of 320x240
        std::vector<Act> acts;
        bool aheadUsed;
    };
    const std::vector<Case> cases = {
        {"slideshow to the end", rmSlideshow, false, false, 1, 4, {}, {Tick, Tick, Tick, Tick, Tick}, true},
        {"saver loops, random, paint effects", rmSaver, false, true, 3, 5, {}, std::vector<Act>(12, Tick), true},
        {"move effects", rmSaver, false, false, 4, 3, {}, std::vector<Act>(7, Tick), true},
        {"bad photos are skipped", rmSaver, false, false, 1, 5, {{5, "garbage"}, {3, "0x0"}},
         std::vector<Act>(9, Tick), true},
        {"bad photos with random order", rmSaver, false, true, 2, 4, {{4, "bad"}}, std::vector<Act>(10, Tick), true},
        {"a missing block", rmSaver, false, false, 1, 3, {{3, ""}}, std::vector<Act>(6, Tick), true},
        {"keys step both ways", rmSlideshow, true, false, 1, 5, {},
         {Tick, Right, Space, Left, Left, Tick, Click, Left, Tick}, true},
        {"random order and keys", rmSlideshow, true, true, 3, 6, {}, {Tick, Left, Tick, Right, Left, Space, Tick}, true},
        {"dialogs in between", rmSlideshow, true, false, 4, 4, {}, {Tick, F1, Tick, Tick, F10, Tick, Right}, true},
        {"panoramas", rmSaver, false, false, 1, 3, {{4, "5000x100"}, {2, "100x4000"}},
         {Tick, Pan, Pan, Tick, Tick, Pan, Tick}, true},
    };
    auto run = [&](const Case& k, bool ahead) {
        view = FakeView();
        host = FakeHost();
        blocks = FakeBlocks();
        photo = FakeTimer();
        title = FakeTimer();
        pan = FakeTimer();
        rng = FakeRandom();
        s = TPlayerSettings();
        s.Duration = 3;
        s.EffectDuration = 1;
        s.Loop = k.loop;
        s.Random = k.random;
        s.Effect = k.effect;
        s.Showname = true;
        Photos(k.n);
        for (const auto& [b, img] : k.special) {
            if (img.empty()) blocks.blocks.erase(b);
            else blocks.blocks[b] = PhotoBlock(Pn(b), img);
        }
        FakeAhead fake(blocks, view);
        auto& show = Make(k.mode);
        if (ahead) show.SetPhotoAhead(&fake);
        show.FormShow(true);
        Trace t;
        auto note = [&](const std::string& what) {
            t.lines.push_back(what + " index " + std::to_string(show.CurrentIndex) + " title '" + view.title +
                              "' photo " + std::to_string(photo.Running() ? int(photo.interval) : -1) + " pan " +
                              std::to_string(pan.Running() ? int(pan.interval) : -1) + " view " +
                              std::to_string(view.bw) + "x" + std::to_string(view.bh) + " zoom " +
                              std::to_string(view.zoom) + " locks " + std::to_string(view.locks) + " draw " +
                              std::to_string(rng.gen()));
        };
        for (Act a : k.acts) {
            if (host.closes) break;
            switch (a) {
            case Tick: show.UpdateScreenTimer(); break;
            case Right: show.FormKeyDown(kVkRight); break;
            case Left: show.FormKeyDown(kVkLeft); break;
            case Space: show.FormKeyPress(' '); break;
            case Click: show.picMouseDown(mbLeft); break;
            case F1: show.FormKeyDown(kVkF1); break;
            case F10: show.FormKeyDown(kVkF10); break;
            case Pan:
                for (int i = 0; i < 10000 && pan.Running(); ++i) show.scrollTimer();
                break;
            }
            note("act " + std::to_string(int(a)));
        }
        for (const auto& l : host.log)
            if (l.rfind("show tick", 0) != 0) t.lines.push_back(l);
        for (size_t i = 0; i < view.effects.size(); ++i)
            t.lines.push_back("effect " + std::to_string(int(view.effects[i])) + " " + std::to_string(view.durations[i]));
        t.lines.push_back("closes " + std::to_string(host.closes));
        return std::make_pair(t, fake.taken);
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const auto plain = run(k, false);
        const auto ahead = run(k, true);
        EXPECT_EQ(ahead.first, plain.first);
        EXPECT_EQ(ahead.second > 0, k.aheadUsed) << "photos handed over ahead: " << ahead.second;
    }
}

// ---- Music ----

TEST(MusicName, ExtensionFilter) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"song.mp3", "mp3"}, {"C:\\Music\\Song.WAV", "WAV"}, {"a.b.ogg", "ogg"},
        {"x:y.mid", "mid"}, {"d.dir/track.wma", "wma"}, {"abc.1234567890", "1234567890"},
        {"abc.12345678901", ""}, {"noext", ""}, {"trailing.", ""}, {"a.m p3", ""},
        {"a.mp3/..", ""}, {"../../etc", ""}, {"a/..", ""}, {"a.mp3/x", ""}, {"a.m\xC3\xA4", ""},
        {"", ""}, {"x.mp3\\", ""},
    };
    for (const auto& [name, ext] : cases) EXPECT_EQ(MusicExtension(name), ext) << name;
}

class Music : public Show {
protected:
    void SetUp() override {
        setenv("TMPDIR", dir.Path().c_str(), 1);
        s.Duration = 1;
        Photos(2);
        blocks.blocks[1] = std::string("RIFF\0\0\0\0WAVE", 12);
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    std::vector<std::string> Files() const {
        std::vector<std::string> f;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            f.push_back(e.path().filename().string());
        return f;
    }
    TestDir dir;
};

// The music's copies this process holds open: unnamed files of the temporary folder ("#"
// and the inode, deleted), or, where it makes none, unnamed files in memory ("/memfd:~music.").
// Each as "tmpdir" or its memfd name.
std::vector<std::string> MusicCopies() {
    const char* t = std::getenv("TMPDIR");
    const std::string tmp = std::string(t ? t : "/tmp") + "/#";
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (ec) continue;
        if (target.rfind("/memfd:~music.", 0) == 0) out.push_back(target);
        else if (target.rfind(tmp, 0) == 0 && target.size() > 10 && target.substr(target.size() - 10) == " (deleted)")
            out.push_back("tmpdir");
    }
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The block goes to an unnamed copy on disk in the temporary folder, where no name appears:
// nothing is left for a kill to strand. A restart after a dialog plays a fresh copy; the old
// is gone.
TEST_F(Music, BlockGoesToAnUnnamedCopyAndPlayer) {
    s.MusicName = "C:\\Eigene\\Lied.mp3";
    auto& show = Make(rmSaver);
    show.FormShow(true);
    show.UpdateScreenTimer();
    ASSERT_EQ(music.played.size(), 1u);
    const std::string path = music.played[0];
    EXPECT_EQ(path, show.TempMusicFile);
    EXPECT_EQ(path.rfind("/proc/self/fd/", 0), 0u) << path;
    EXPECT_EQ(ReadAll(path), blocks.blocks[1]) << "the player opens it by that path";
    EXPECT_EQ(MusicCopies(), std::vector<std::string>{"tmpdir"});
    EXPECT_TRUE(Files().empty()) << "no name in the temporary folder";
    // Copied once only.
    show.UpdateScreenTimer();
    EXPECT_EQ(music.played.size(), 1u);
    // After a dialog the music starts afresh from a new copy; the old one is gone.
    show.FormKeyDown(kVkF1);
    show.UpdateScreenTimer();
    ASSERT_EQ(music.played.size(), 2u);
    EXPECT_EQ(ReadAll(music.played[1]), blocks.blocks[1]);
    EXPECT_EQ(MusicCopies().size(), 1u);
    EXPECT_GE(music.stops, 1) << "the player let go of the old copy first";
    show.FormHide();
    EXPECT_TRUE(MusicCopies().empty());
    EXPECT_TRUE(show.TempMusicFile.empty());
    EXPECT_TRUE(Files().empty());
}

TEST_F(Music, FailuresDropTheMusicAndTheShowGoesOn) {
    struct Case { const char* name; std::string musicName; bool hasBlock, playerOk, lateFailure; };
    const std::vector<Case> cases = {
        {"unsafe extension", "x.mp3/../../evil", true, true, false},
        {"no extension", "music", true, true, false},
        {"no block 1", "a.wav", false, true, false},
        {"player refuses", "a.wav", true, false, false},
        {"player fails later", "a.wav", true, true, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        music = FakeMusic();
        music.ok = k.playerOk;
        host = FakeHost();
        s.MusicName = k.musicName;
        if (!k.hasBlock) blocks.blocks.erase(1);
        else blocks.blocks[1] = "RIFF";
        auto& show = Make(rmSaver);
        show.FormShow(true);
        show.UpdateScreenTimer();
        if (k.lateFailure) {
            EXPECT_EQ(music.played.size(), 1u);
            show.MusicFailed();
        }
        EXPECT_TRUE(s.MusicName.empty());
        EXPECT_TRUE(show.TempMusicFile.empty());
        EXPECT_TRUE(Files().empty());
        EXPECT_TRUE(MusicCopies().empty());
        EXPECT_TRUE(photo.Running()) << "the show goes on";
        show.UpdateScreenTimer();
        EXPECT_EQ(music.played.size(), k.lateFailure || !k.playerOk ? 1u : 0u) << "never retried";
    }
}

TEST(MusicCopy, HoldsTheBytesUntilDroppedAndTakesOnlySafeExtensions) {
    TestDir tmp;
    setenv("TMPDIR", tmp.Path().c_str(), 1);
    const std::string data = std::string("ID3\0\x01", 5) + std::string(70000, '\x5A');
    TMusicCopy a, b;
    ASSERT_TRUE(a.Make(data, "mp3"));
    ASSERT_TRUE(b.Make("RIFF", "wav"));
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(ReadAll(a.Path()), data);
    EXPECT_EQ(ReadAll(a.Path()), data) << "opened again, as a player restarting the music does";
    EXPECT_EQ(MusicCopies().size(), 2u);
    a.Drop();
    EXPECT_EQ(a.Path(), "");
    EXPECT_EQ(MusicCopies(), std::vector<std::string>{"tmpdir"});
    for (const char* ext : {"../x", "", "m p3", "a/b"}) {
        EXPECT_FALSE(b.Make("x", ext)) << ext;
        EXPECT_EQ(b.Path(), "");
    }
    EXPECT_TRUE(MusicCopies().empty());

    // Piece by piece, as the show copies the block; a failed write drops the copy.
    ASSERT_TRUE(a.Begin("ogg"));
    for (size_t at = 0; at < data.size(); at += 4096) ASSERT_TRUE(a.Append(data.data() + at, std::min<size_t>(4096, data.size() - at)));
    EXPECT_EQ(a.Size(), data.size());
    EXPECT_EQ(ReadAll(a.Path()), data);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));

    a.Drop();

    // A temporary folder whose file system makes no unnamed files: the copy lives in memory.
    setenv("TMPDIR", "/proc", 1);
    ASSERT_TRUE(b.Make(data, "wav"));
    EXPECT_EQ(ReadAll(b.Path()), data);
    EXPECT_EQ(MusicCopies(), std::vector<std::string>{"/memfd:~music.wav (deleted)"});
    b.Drop();
    EXPECT_TRUE(MusicCopies().empty());
    unsetenv("TMPDIR");
}

}  // namespace
