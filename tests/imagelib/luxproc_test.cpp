// The image-processing component: flips and quarter turns against ImageMagick and netpbm,
// any-angle rotation sizes and pixels, the 1-bit rotation, undo, clear, progress and the
// attachment to a view.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LuxIO.h"
#include "LuxProc.h"
#include "lxutils.h"
#include "codec_fixture_helpers.h"
#include "test_view.h"

namespace {

using codec_test::HaveTool;
using codec_test::TempPath;

// Position-coded 24-bit picture: B = x, G = y, R = x * 7 + y * 13.
std::unique_ptr<TBitmap> Coded24(int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = uint8_t(x), row[3 * x + 1] = uint8_t(y), row[3 * x + 2] = uint8_t(x * 7 + y * 13);
        }
    }
    return b;
}

// An asymmetric 1-bit picture.
std::unique_ptr<TBitmap> Pattern1(int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf1bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetBit(b->ScanLine(y), x, ((x * 3 + y * 5 + x * y) % 7) < 3 || x == 0);
    return b;
}

// Netpbm files: P6 for 24 bits, P4 for 1 bit (a PBM 1 is black, our set bit is white).
void WritePnm(const TBitmap* b, const std::string& path) {
    std::ofstream f(path, std::ios::binary);
    const bool mono = b->PixelFormat() == pf1bit;
    f << (mono ? "P4\n" : "P6\n") << b->Width() << " " << b->Height() << "\n" << (mono ? "" : "255\n");
    for (int y = 0; y < b->Height(); ++y) {
        const uint8_t* row = b->ScanLine(y);
        if (mono) {
            for (int i = 0; i < (b->Width() + 7) / 8; ++i) f.put(char(~row[i]));
        } else {
            for (int x = 0; x < b->Width(); ++x) f.put(char(row[3 * x + 2])).put(char(row[3 * x + 1])).put(char(row[3 * x]));
        }
    }
}

std::unique_ptr<TBitmap> ReadPnm(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return nullptr;
    auto token = [&]() {
        std::string t;
        int c;
        while ((c = f.get()) != EOF) {
            if (c == '#') {
                while ((c = f.get()) != EOF && c != '\n') {}
                continue;
            }
            if (std::isspace(c)) {
                if (!t.empty()) break;
                continue;
            }
            t.push_back(char(c));
        }
        return t;
    };
    const std::string magic = token();
    const int w = std::stoi(token()), h = std::stoi(token());
    const bool mono = magic == "P4";
    if (!mono) token();   // maxval
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(mono ? pf1bit : pf24bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        if (mono) {
            for (int i = 0; i < (w + 7) / 8; ++i) row[i] = uint8_t(~f.get());
            if (w % 8) row[(w - 1) / 8] &= uint8_t(0xFF00 >> (w % 8));
        } else {
            for (int x = 0; x < w; ++x) {
                row[3 * x + 2] = uint8_t(f.get()), row[3 * x + 1] = uint8_t(f.get()), row[3 * x] = uint8_t(f.get());
            }
        }
    }
    return b;
}

// Pixels only (padding bits beyond the width are not compared).
::testing::AssertionResult SamePixels(const TBitmap* a, const TBitmap* b) {
    if (a->Width() != b->Width() || a->Height() != b->Height() || a->PixelFormat() != b->PixelFormat())
        return ::testing::AssertionFailure() << "size/format " << a->Width() << "x" << a->Height() << " vs "
                                             << b->Width() << "x" << b->Height();
    for (int y = 0; y < a->Height(); ++y)
        for (int x = 0; x < a->Width(); ++x) {
            const bool same = a->PixelFormat() == pf1bit
                                  ? GetBit(a->ScanLine(y), x) == GetBit(b->ScanLine(y), x)
                                  : std::memcmp(a->ScanLine(y) + 3 * x, b->ScanLine(y) + 3 * x, 3) == 0;
            if (!same) return ::testing::AssertionFailure() << "pixel " << x << "," << y;
        }
    return ::testing::AssertionSuccess();
}

struct ToolCase {
    const char* name;
    std::function<void(TLuxProc&)> op;
    const char* convertArgs;   // ImageMagick, 24-bit
    const char* pamflipArgs;   // netpbm, 1-bit
};

const std::vector<ToolCase> ToolCases = {
    {"flip-lr", [](TLuxProc& p) { p.Flip(0); }, "-flop", "-lr"},
    {"flip-tb", [](TLuxProc& p) { p.Flip(1); }, "-flip", "-tb"},
    {"rotate+90", [](TLuxProc& p) { p.Rotate(90, false); }, "-rotate -90", "-ccw"},
    {"rotate-90", [](TLuxProc& p) { p.Rotate(-90, false); }, "-rotate 90", "-cw"},
    {"rotate180", [](TLuxProc& p) { p.Rotate(180, false); }, "-rotate 180", "-r180"},
    {"rotate270", [](TLuxProc& p) { p.Rotate(270, true); }, "-rotate 90", "-cw"},
    {"rotate-270", [](TLuxProc& p) { p.Rotate(-270, true); }, "-rotate -90", "-ccw"},
};

TEST(LuxProcTools, FlipsAndQuarterTurnsMatchImageMagick) {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    for (const ToolCase& c : ToolCases)
        for (auto [w, h] : {std::pair{7, 5}, std::pair{13, 2}, std::pair{1, 9}, std::pair{64, 33}}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << w << "x" << h);
            auto src = Coded24(w, h);
            const std::string in = TempPath("in.ppm"), out = TempPath("out.ppm");
            WritePnm(src.get(), in);
            ASSERT_EQ(std::system(("convert " + in + " " + c.convertArgs + " " + out).c_str()), 0);
            auto expected = ReadPnm(out);
            ASSERT_TRUE(expected);
            TLuxProc proc(nullptr);
            proc.SetAttachedBitmap(src.get());
            c.op(proc);
            EXPECT_TRUE(SamePixels(src.get(), expected.get()));
            std::remove(in.c_str());
            std::remove(out.c_str());
        }
}

TEST(LuxProcTools, OneBitFlipsAndQuarterTurnsMatchPamflip) {
    if (!HaveTool("pamflip")) GTEST_SKIP() << "netpbm pamflip not installed";
    for (const ToolCase& c : ToolCases)
        for (auto [w, h] : {std::pair{13, 5}, std::pair{8, 3}, std::pair{1, 17}, std::pair{33, 40}}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << w << "x" << h);
            auto src = Pattern1(w, h);
            const std::string in = TempPath("in.pbm"), out = TempPath("out.pbm");
            WritePnm(src.get(), in);
            ASSERT_EQ(std::system(("pamflip " + std::string(c.pamflipArgs) + " " + in + " > " + out).c_str()), 0);
            auto expected = ReadPnm(out);
            ASSERT_TRUE(expected);
            TLuxProc proc(nullptr);
            proc.SetAttachedBitmap(src.get());
            c.op(proc);
            EXPECT_TRUE(SamePixels(src.get(), expected.get()));
            std::remove(in.c_str());
            std::remove(out.c_str());
        }
}

// The quarter-turn formulas on a tiny picture, written out.
TEST(LuxProc, QuarterTurnFormulas) {
    auto src = Coded24(3, 2);
    TBitmap ccw, cw;
    RotateBitmap90CCW(src.get(), &ccw);
    RotateBitmap90CW(src.get(), &cw);
    ASSERT_EQ(ccw.Width(), 2);
    ASSERT_EQ(ccw.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(ccw.ScanLine(y)[3 * x], 3 - 1 - y);   // B = source x
            EXPECT_EQ(ccw.ScanLine(y)[3 * x + 1], x);       // G = source y
            EXPECT_EQ(cw.ScanLine(y)[3 * x], y);
            EXPECT_EQ(cw.ScanLine(y)[3 * x + 1], 2 - 1 - x);
        }
}

TEST(LuxProc, FullTurnsAndTinyAnglesChangeNothing) {
    for (double a : {360.0, 720.0, -360.0, 0.0004, -0.0009}) {
        auto src = Coded24(7, 5);
        auto orig = DuplicateBitmap(src.get());
        TLuxProc proc(nullptr);
        proc.SetAttachedBitmap(src.get());
        proc.Rotate(a, true);
        EXPECT_TRUE(SamePixels(src.get(), orig.get())) << a;
        EXPECT_EQ(proc.UndoBitmap()->Width(), 7) << "undo is saved for " << a;
    }
    // Angle 0 and non-finite angles do nothing, not even save undo.
    for (double a : {0.0, std::nan(""), double(INFINITY)}) {
        auto src = Coded24(7, 5);
        TLuxProc proc(nullptr);
        proc.SetAttachedBitmap(src.get());
        proc.Rotate(a, false);
        EXPECT_EQ(proc.UndoBitmap()->Width(), 1);
    }
}

// The sizes of the three-shear rotation, from its formulas.
TEST(LuxProc, ShearRotationSizes) {
    struct Case {
        int w, h;
        double angle;
    };
    for (Case c : {Case{100, 100, 45}, Case{7, 3, 10}, Case{1, 1, 30}, Case{40, 10, -20}, Case{5, 9, 100}}) {
        auto src = Coded24(c.w, c.h);
        int W = c.w, H = c.h;
        double rest = c.angle;
        while (rest > 45) rest -= 90, std::swap(W, H);
        const double th = rest * std::numbers::pi / 180, t = std::fabs(std::tan(th / 2)), s = std::fabs(std::sin(th));
        auto R = [](double v) { return int64_t(std::nearbyint(v)); };
        const int64_t W1 = R(H * t + W + 1), L = R((W1 - W) * s);
        int64_t H2 = R(s * W1 + H + 1);
        const int64_t K = R(t * (H2 - H - L));
        H2 -= 2 * L;
        const int64_t W3 = R(t * H2 + W1 + 1 - 2 * K);
        for (bool aa : {false, true}) {
            auto b = Coded24(c.w, c.h);
            TLuxProc proc(nullptr);
            proc.SetAttachedBitmap(b.get());
            proc.Rotate(c.angle, aa);
            EXPECT_EQ(b->Width(), W3) << c.w << "x" << c.h << " " << c.angle;
            EXPECT_EQ(b->Height(), H2) << c.w << "x" << c.h << " " << c.angle;
        }
    }
}

// Without antialiasing pixels only move: each output pixel is the background or a source
// pixel, and every source pixel of the inner part survives.
TEST(LuxProc, ShearRotationWithoutAntiAliasOnlyMovesPixels) {
    auto b = Coded24(21, 13);
    TLuxProc proc(nullptr);
    proc.SetBackground(RGBColor(1, 2, 250));   // stored bytes B 250, G 2, R 1
    proc.SetAttachedBitmap(b.get());
    proc.Rotate(30, false);
    std::set<std::tuple<int, int>> seen;
    for (int y = 0; y < b->Height(); ++y)
        for (int x = 0; x < b->Width(); ++x) {
            const uint8_t* p = b->ScanLine(y) + 3 * x;
            if (p[0] == 250 && p[1] == 2 && p[2] == 1) continue;
            ASSERT_LT(p[0], 21);
            ASSERT_LT(p[1], 13);
            ASSERT_EQ(p[2], uint8_t(p[0] * 7 + p[1] * 13)) << x << "," << y;
            seen.insert({p[0], p[1]});
        }
    EXPECT_TRUE(seen.count({10, 6}));   // the centre
    EXPECT_GT(seen.size(), size_t(21 * 13 * 8 / 10));
}

// Counter-clockwise: the picture's top-right corner rises to the top, its top-left corner
// goes down.
TEST(LuxProc, PositiveAnglesTurnCounterClockwise) {
    auto b = Coded24(41, 21);
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(b.get());
    proc.Rotate(20, false);
    int topRightY = -1, topLeftY = -1;
    for (int y = 0; y < b->Height(); ++y)
        for (int x = 0; x < b->Width(); ++x) {
            const uint8_t* p = b->ScanLine(y) + 3 * x;
            if (p[0] == 40 && p[1] == 0 && p[2] == uint8_t(280)) topRightY = y;
            if (p[0] == 0 && p[1] == 0 && p[2] == 0) topLeftY = y;
        }
    ASSERT_GE(topRightY, 0);
    ASSERT_GE(topLeftY, 0);
    EXPECT_GE(topLeftY, 10);
    EXPECT_LE(topRightY, 2);   // the right-hand corner is now the top of the picture
}

// With antialiasing a uniform picture on the same background stays uniform.
TEST(LuxProc, AntiAliasedRotationKeepsAUniformPicture) {
    for (double a : {7.5, 30.0, -33.3, 44.0}) {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf24bit);
        b->SetSize(17, 11);
        for (int y = 0; y < 11; ++y) std::memset(b->ScanLine(y), 101, 17 * 3);
        TLuxProc proc(nullptr);
        proc.SetBackground(RGBColor(101, 101, 101));
        proc.SetAttachedBitmap(b.get());
        proc.Rotate(a, true);
        for (int y = 0; y < b->Height(); ++y)
            for (int i = 0; i < b->Width() * 3; ++i) ASSERT_EQ(b->ScanLine(y)[i], 101) << a;
    }
}

TEST(LuxProc, OneBitRotationGrowsAndFillsCornersWithTheStoredBackground) {
    for (TColor bg : {TColor(0), clWhite}) {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf1bit);
        b->SetSize(40, 40);
        for (int y = 0; y < 40; ++y) std::memset(b->ScanLine(y), bg ? 0x00 : 0xFF, 8);   // the opposite
        TLuxProc proc(nullptr);
        proc.SetBackground(bg);
        proc.SetAttachedBitmap(b.get());
        proc.Rotate(45, false);
        EXPECT_NEAR(b->Width(), 40 * std::sqrt(2.0), 1.5);
        EXPECT_NEAR(b->Height(), 40 * std::sqrt(2.0), 1.5);
        EXPECT_EQ(GetBit(b->ScanLine(0), 0), bg ? 1 : 0);
        EXPECT_EQ(GetBit(b->ScanLine(b->Height() / 2), b->Width() / 2), bg ? 0 : 1);
    }
    // A near-zero angle keeps every row and column (the four-decimal cosine 0.9999 would
    // otherwise make it 12 x 0).
    auto b = Pattern1(13, 1);
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(b.get());
    proc.Rotate(0.0004, false);
    EXPECT_EQ(b->Width(), 13);
    EXPECT_EQ(b->Height(), 1);
    EXPECT_EQ(GetBit(b->ScanLine(0), 0), 1);
}

TEST(LuxProc, OtherPixelFormatsAreLeftAlone) {
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetSize(5, 3);
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(&b);
    proc.Rotate(30, true);
    EXPECT_EQ(b.Width(), 5);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(proc.UndoBitmap()->Width(), 1);
}

TEST(LuxProc, OneBitFlipOfWidth13) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf1bit);
    b->SetSize(13, 2);
    SetBit(b->ScanLine(0), 0, true);
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(b.get());
    proc.Flip(0);
    for (int x = 0; x < 13; ++x) EXPECT_EQ(GetBit(b->ScanLine(0), x), x == 12 ? 1 : 0);
}

TEST(LuxProc, UndoRestoresTheSameStateTwice) {
    auto b = Coded24(7, 5);
    auto orig = DuplicateBitmap(b.get());
    TLuxProc proc(nullptr);
    proc.SetAttachedBitmap(b.get());
    proc.Undo();   // nothing saved yet
    EXPECT_TRUE(SamePixels(b.get(), orig.get()));
    proc.Rotate(90, false);
    EXPECT_EQ(b->Width(), 5);
    proc.Undo();
    EXPECT_TRUE(SamePixels(b.get(), orig.get()));
    proc.Flip(0);
    proc.Flip(1);   // saves the flipped state
    proc.Undo();
    proc.Undo();
    auto flipped = DuplicateBitmap(orig.get());
    TLuxProc other(nullptr);
    other.SetAttachedBitmap(flipped.get());
    other.Flip(0);
    EXPECT_TRUE(SamePixels(b.get(), flipped.get()));
    proc.ResetUndo();
    proc.Undo();
    EXPECT_TRUE(SamePixels(b.get(), flipped.get()));
    // Without AutoUndo nothing new is saved.
    proc.AutoUndo = false;
    proc.Rotate(90, false);
    proc.Undo();
    EXPECT_EQ(b->Width(), 5);
}

TEST(LuxProc, ProgressOfRotateRunsUpToBelow100) {
    struct Spy {
        std::vector<int> v;
        void On(TObject*, int per) { v.push_back(per); }
    } spy;
    auto b = Coded24(30, 20);
    TLuxProc proc(nullptr);
    proc.OnProgress = MakeMethod(&spy, &Spy::On);
    proc.SetAttachedBitmap(b.get());
    proc.Rotate(20, true);
    ASSERT_FALSE(spy.v.empty());
    EXPECT_EQ(spy.v.front(), 0);
    EXPECT_LT(spy.v.back(), 100);
    EXPECT_GE(spy.v.back(), 95);
    EXPECT_TRUE(std::is_sorted(spy.v.begin(), spy.v.end()));
    // One call per row of both horizontal passes and per column of the vertical one.
    EXPECT_GT(spy.v.size(), size_t(20 + b->Height() + 30));
    spy.v.clear();
    auto m = Pattern1(10, 10);
    proc.SetAttachedBitmap(m.get());
    proc.Rotate(10, false);
    EXPECT_EQ(int(spy.v.size()), m->Height());
}

TEST(LuxProc, ViewAttachmentClearAndCallbacks) {
    auto view = std::make_unique<lxtest::TTestView>();
    view->SetBackground(RGBColor(10, 20, 30));
    TBitmap* vb = view->GetBitmap();
    vb->SetPixelFormat(pf24bit);
    vb->SetSize(4, 3);
    auto proc = std::make_unique<TLuxProc>(nullptr);
    proc->SetAttachedView(view.get());
    EXPECT_EQ(proc->Bitmap(), vb);
    EXPECT_EQ(proc->Mask(), view->GetAlphaMask());
    EXPECT_EQ(view->BitmapChangeEventCount(), 1);
    EXPECT_EQ(proc->Background(), RGBColor(10, 20, 30));
    proc->Clear();
    EXPECT_EQ(vb->ScanLine(2)[0], 30);
    EXPECT_EQ(vb->ScanLine(2)[2], 10);
    EXPECT_EQ(view->updates, 1);
    EXPECT_EQ(view->imageChanges, 1);
    proc->SetBackground(clRed);
    EXPECT_EQ(view->Background(), clRed);

    // The view replaces its bitmap: the component follows.
    view->ReplaceBitmap();
    EXPECT_EQ(proc->Bitmap(), view->GetBitmap());

    // The view goes: the component keeps nothing of it.
    view.reset();
    EXPECT_EQ(proc->AttachedView(), nullptr);
    EXPECT_EQ(proc->Bitmap(), nullptr);
    proc->Clear();
    proc->Rotate(90, false);   // no target: nothing

    // The component goes first: it unregisters.
    auto view2 = std::make_unique<lxtest::TTestView>();
    proc->SetAttachedView(view2.get());
    proc.reset();
    EXPECT_EQ(view2->BitmapChangeEventCount(), 0);
}

TEST(LuxProc, TImageAndBareBitmapTargets) {
    TImage image(nullptr);
    image.Picture()->Bitmap()->SetSize(3, 3);
    struct Spy {
        int n = 0;
        void On(TObject*) { ++n; }
    } spy;
    image.Picture()->Bitmap()->OnChange = MakeMethod(&spy, &Spy::On);
    TLuxProc proc(nullptr);
    proc.SetAttachedTImage(&image);
    EXPECT_EQ(proc.Bitmap(), image.Picture()->Bitmap());
    proc.Flip(0);
    EXPECT_GE(spy.n, 1);
    // Null bitmap ignored while a TImage is attached.
    proc.SetAttachedBitmap(nullptr);
    EXPECT_EQ(proc.Bitmap(), image.Picture()->Bitmap());
    TBitmap bare;
    proc.SetAttachedBitmap(&bare);
    EXPECT_EQ(proc.AttachedTImage(), nullptr);
    EXPECT_EQ(proc.Bitmap(), &bare);
}

// Tiny and empty pictures go through every operation without harm.
TEST(LuxProc, TinyPictures) {
    for (auto [w, h] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{1, 7}, std::pair{9, 1}})
        for (TPixelFormat pf : {pf24bit, pf1bit}) {
            TBitmap b;
            b.SetPixelFormat(pf);
            b.SetSize(w, h);
            TLuxProc proc(nullptr);
            proc.SetAttachedBitmap(&b);
            proc.Flip(0);
            proc.Flip(1);
            for (double a : {90.0, -90.0, 180.0, 30.0, -44.0, 100.0}) {
                proc.Rotate(a, true);
                proc.Rotate(a, false);
            }
            proc.Clear();
            proc.Undo();
        }
    SUCCEED();
}

// ---- Magic wand ----

// A 24-bit picture from a map of characters: '#' is the region colour (100, 100, 100), '.'
// the other (0, 0, 0), digits d give (100 + d) in every channel.
std::unique_ptr<TBitmap> FromMap(const std::vector<std::string>& rows) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(int(rows[0].size()), int(rows.size()));
    for (int y = 0; y < b->Height(); ++y)
        for (int x = 0; x < b->Width(); ++x) {
            const char c = rows[size_t(y)][size_t(x)];
            const uint8_t v = c == '#' ? 100 : c == '.' ? 0 : uint8_t(100 + (c - '0'));
            std::memset(b->ScanLine(y) + 3 * x, v, 3);
        }
    return b;
}

std::vector<std::string> MaskMap(const TLXMask& m) {
    std::vector<std::string> out;
    for (int y = 0; y < m.Height; ++y) {
        std::string r;
        for (int x = 0; x < m.Width; ++x) r += m.GetPixel(x, y) ? '#' : '.';
        out.push_back(r);
    }
    return out;
}

TEST(MagicWand, FillIsFourConnectedWithAnInclusiveTolerance) {
    // The digit 5 is within tolerance 5 of '#', 6 is not; the lone '#' at the lower right
    // touches the region only diagonally.
    auto b = FromMap({"##5.....",
                      "#.6#....",
                      "##......",
                      "..#.....",
                      "...#...."});
    TLXMask m;
    m.AllocBits(b->Width(), b->Height(), 1);
    MagicWandFill(b.get(), 0, 0, false, 5, &m);
    EXPECT_EQ(MaskMap(m), (std::vector<std::string>{"###.....", "#.......", "##......", "........", "........"}));

    // With the max filter each pixel also marks its eight neighbours.
    TLXMask g;
    g.AllocBits(b->Width(), b->Height(), 1);
    MagicWandFill(b.get(), 3, 4, true, 0, &g);
    EXPECT_EQ(MaskMap(g), (std::vector<std::string>{"........", "........", "........", "..###...", "..###..."}));

    // A seed outside the picture does nothing.
    TLXMask e;
    e.AllocBits(b->Width(), b->Height(), 1);
    MagicWandFill(b.get(), -1, 0, false, 5, &e);
    MagicWandFill(b.get(), 8, 0, false, 5, &e);
    EXPECT_TRUE(e.IsEmpty());
    EXPECT_TRUE(MagicWandPolygon(b.get(), 0, 5, false, 5).empty());
}

TEST(MagicWand, SelectByColorTakesDisconnectedPixels) {
    auto b = FromMap({"#..#", "....", "..#5"});
    TLXMask m;
    m.AllocBits(4, 3, 1);
    SelectByColor(b.get(), 0, 0, 4, &m);
    EXPECT_EQ(MaskMap(m), (std::vector<std::string>{"#..#", "....", "..#."}));
}

// The outline of a region, filled again by the mask's polygon filler, gives the region back.
TEST(MagicWand, PolygonRoundTripThroughTheFiller) {
    const std::vector<std::vector<std::string>> maps = {
        {".....", "..#..", "....."},
        {"........", ".##.....", ".##.....", ".######.", ".######.", "........"},
        {"#####", "#...#", "#####"},
        {"###", "###", "###"},
    };
    for (const auto& map : maps) {
        auto b = FromMap(map);
        int sx = -1, sy = -1;
        for (int y = 0; y < int(map.size()) && sx < 0; ++y)
            for (int x = 0; x < int(map[0].size()); ++x)
                if (map[size_t(y)][size_t(x)] == '#') {
                    sx = x, sy = y;
                    break;
                }
        const std::vector<TPoint> pts = MagicWandPolygon(b.get(), sx, sy, false, 0);
        ASSERT_GE(pts.size(), size_t(4));
        TLXMask m;
        m.AllocBits(b->Width(), b->Height(), 1);
        m.FillPolygons(1, pts.data(), int(pts.size()));
        std::vector<std::string> expected = map;
        if (map.size() == 3 && map[1] == "#...#")   // the outline has no hole
            expected[1] = "#####";
        EXPECT_EQ(MaskMap(m), expected) << "first vertex " << pts[0].X << "," << pts[0].Y;
    }
}

}  // namespace
