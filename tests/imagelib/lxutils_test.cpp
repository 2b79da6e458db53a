// Bit, colour, bitmap and container helpers of the image library.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "lxutils.h"

namespace {

// ---- fixtures ----

// A pf24bit bitmap whose pixel (x, y) is f(x, y).
std::unique_ptr<TBitmap> Make24(int w, int h, const std::function<TRGB(int, int)>& f) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TRGB c = f(x, y);
            uint8_t* p = b->ScanLine(y) + x * 3;
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    return b;
}

// A pf1bit bitmap whose pixel (x, y) is set when f(x, y).
std::unique_ptr<TBitmap> Make1(int w, int h, const std::function<bool(int, int)>& f) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf1bit);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetBit(b->ScanLine(y), x, f(x, y));
    return b;
}

// 1-bit rows given as strings of '0' and '1', top row first.
std::unique_ptr<TBitmap> Make1(const std::vector<std::string>& rows) {
    return Make1(int(rows[0].size()), int(rows.size()),
                 [&](int x, int y) { return rows[size_t(y)][size_t(x)] == '1'; });
}

TRGB Pix(const TBitmap* b, int x, int y) {
    const uint8_t* p = b->ScanLine(y) + x * 3;
    return TRGB{p[0], p[1], p[2]};
}

std::string Str(TRGB c) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "(%d,%d,%d)", c.r, c.g, c.b);
    return buf;
}

constexpr TRGB kBlack{0, 0, 0}, kWhite{255, 255, 255};

struct ProgressLog {
    std::vector<int> values;
    void OnProgress(TObject*, int per) { values.push_back(per); }
};

// ======================================================================================
// Colour hash and bit utilities
// ======================================================================================

TEST(THash1Test, InsertReportsNewKeysAndCounts) {
    struct Step {
        uint32_t key;
        bool isNew;
    };
    // 1, 8193, 16385 and 0x80000001 share bucket 1 of a 13-bit set.
    const Step steps[] = {{5, true},      {5, false},     {1, true},        {8193, true},
                          {1, false},     {8193, false},  {16385, true},    {0x80000001u, true},
                          {16385, false}, {0x80000001u, false}, {0, true}, {8192, true}};
    THash1 h(13);
    int expected = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.key);
        EXPECT_EQ(h.Insert(s.key), s.isNew);
        expected += s.isNew;
        EXPECT_EQ(h.Count(), expected);
    }
}

TEST(THash1Test, AgreesWithASetOnManyCollidingKeys) {
    std::mt19937 rng(7);
    THash1 h(4);   // 16 buckets: long chains
    std::set<uint32_t> ref;
    for (int i = 0; i < 20000; ++i) {
        const uint32_t k = rng() % 3000 * 16 + rng() % 3;
        ASSERT_EQ(h.Insert(k), ref.insert(k).second) << k;
    }
    EXPECT_EQ(h.Count(), int(ref.size()));
}

TEST(THash1Test, RejectsBitsOutOfRange) {
    EXPECT_THROW(THash1(-1), ELXError);
    EXPECT_THROW(THash1(31), ELXError);
    THash1 one(0);   // a single bucket still works
    EXPECT_TRUE(one.Insert(3));
    EXPECT_TRUE(one.Insert(4));
    EXPECT_FALSE(one.Insert(3));
    EXPECT_EQ(one.Count(), 2);
}

TEST(BitUtilsTest, MaskBitWidth) {
    const struct {
        uint32_t mask;
        int width;
    } cases[] = {{0xF800, 5},      {0x07E0, 6},      {0x001F, 5}, {0xFF000000u, 8},
                 {0, 0},           {0xFFFFFFFFu, 32}, {0x80000000u, 1}, {0x0F0F, 4},
                 {0x7FFFFFFFu, 31}, {0xFFFFFFFEu, 31}, {0x00FF00FFu, 8}};
    for (const auto& c : cases) EXPECT_EQ(MaskBitWidth(c.mask), c.width) << std::hex << c.mask;
}

TEST(BitUtilsTest, CeilLog2) {
    const struct {
        uint32_t n;
        int k;
    } cases[] = {{0, -1}, {1, 0},   {2, 1},   {3, 2},          {16, 4},          {17, 5},
                 {255, 8}, {256, 8}, {257, 9}, {0x80000000u, 31}, {0x80000001u, 32}, {0xFFFFFFFFu, 32}};
    for (const auto& c : cases) EXPECT_EQ(CeilLog2(c.n), c.k) << c.n;
}

TEST(BitUtilsTest, SwapsReverseByteOrderInMemory) {
    const uint8_t in16[2] = {1, 2}, in32[4] = {1, 2, 3, 4};
    uint16_t v16;
    uint32_t v32;
    std::memcpy(&v16, in16, 2);
    std::memcpy(&v32, in32, 4);
    v16 = Swap16(v16);
    v32 = Swap32(v32);
    uint8_t out16[2], out32[4];
    std::memcpy(out16, &v16, 2);
    std::memcpy(out32, &v32, 4);
    EXPECT_EQ(out16[0], 2);
    EXPECT_EQ(out16[1], 1);
    EXPECT_EQ(std::vector<uint8_t>(out32, out32 + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST(BitUtilsTest, BitReversal) {
    uint32_t w = 1;
    ReverseBits32(w);
    EXPECT_EQ(w, 0x80000000u);
    std::mt19937 rng(3);
    for (int i = 0; i < 1000; ++i) {
        const uint32_t v = rng();
        uint32_t expect = 0;
        for (int b = 0; b < 32; ++b)
            if (v & (1u << b)) expect |= 1u << (31 - b);
        uint32_t r = v;
        ReverseBits32(r);
        ASSERT_EQ(r, expect) << v;
    }
    for (int v = 0; v < 256; ++v) {
        uint8_t b = uint8_t(v);
        ReverseByteBits(b);
        int expect = 0;
        for (int k = 0; k < 8; ++k)
            if (v & (1 << k)) expect |= 0x80 >> k;
        EXPECT_EQ(b, expect) << v;
        ReverseByteBits(b);
        EXPECT_EQ(b, v);
    }
}

TEST(BitUtilsTest, MaskTableIsFollowedByTheReversalTable) {
    const uint8_t masks[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(BitMaskTable[size_t(i)], masks[i]);
    EXPECT_EQ(BitReverseTable, BitMaskTable.data() + 8);
    EXPECT_EQ(BitReverseTable[0x01], 0x80);
    EXPECT_EQ(BitReverseTable[0xC4], 0x23);
}

TEST(BitUtilsTest, Powers) {
    const struct {
        long double base, exponent, result;
    } cases[] = {{2, 0.5L, std::sqrt(2.0L)}, {0, 0, 1},       {-2, 3, -8},     {2, -2, 0.25L},
                 {0, 2, 0},                  {0, 0.5L, 0},    {-3, 0, 1},      {10, 2.5L, std::pow(10.0L, 2.5L)},
                 {-2, -3, -0.125L},          {1.5L, 1e10L, std::exp(1e10L * std::log(1.5L))}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << double(c.base) << "^" << double(c.exponent));
        const long double r = LXPower(c.base, c.exponent);
        if (std::isinf(c.result)) {
            EXPECT_TRUE(std::isinf(r));
        } else {
            EXPECT_NEAR(double(r), double(c.result), 1e-15 * std::max(1.0, std::fabs(double(c.result))));
        }
    }
    EXPECT_EQ(LXIntPower(0, 0), 1.0L);
    EXPECT_EQ(LXIntPower(10, 2), 1024.0L);
    EXPECT_EQ(LXIntPower(-1, 4), 0.25L);
    EXPECT_EQ(LXIntPower(INT_MIN, 1), 1.0L);
    EXPECT_EQ(LXIntPower(INT_MAX, -1), -1.0L);
}

TEST(BitUtilsTest, PowerErrorsRaiseMathErrors) {
    EXPECT_THROW(LXPower(-2, 0.5L), EInvalidOp);
    EXPECT_THROW(LXPower(0, -1), EZeroDivide);
    EXPECT_THROW(LXPower(0, -0.5L), EZeroDivide);
    EXPECT_THROW(LXIntPower(-3, 0), EZeroDivide);
    EXPECT_THROW(LXPower(-8, 1.0L / 3), EMathError);
}

TEST(GeometryTest, SnapToAxisOrDiagonal) {
    const struct {
        int ax, ay, x, y, ex, ey;
    } cases[] = {
        {0, 0, 10, 100, 0, 100},   {0, 0, 100, 10, 100, 0},   {0, 0, 40, 30, 40, 40},
        {0, 0, -40, -30, -30, -30}, {0, 0, -30, -40, -30, -30}, {0, 0, 30, 40, 40, 40},
        {0, 0, 40, -30, 40, -40},   {0, 0, 30, -40, 40, -40},  {0, 0, -40, 30, -40, 40},
        {0, 0, -30, 40, -40, 40},   {0, 0, 0, 20, 0, 20},      {0, 0, 20, 0, 20, 0},
        {0, 0, 0, -20, 20, -20},    {0, 0, 31, 0, 31, 0},      {0, 0, 0, 31, 0, 31},
        {100, 100, 140, 130, 140, 140}, {100, 100, 60, 70, 70, 70}, {5, 5, 5, 5, 5, 5},
    };
    for (const auto& c : cases) {
        int x = c.x, y = c.y;
        SnapToAxisOrDiagonal(c.ax, c.ay, x, y);
        EXPECT_EQ(x, c.ex) << c.x << "," << c.y;
        EXPECT_EQ(y, c.ey) << c.x << "," << c.y;
    }
    int x = INT_MIN, y = INT_MAX;   // far outside: no overflow
    SnapToAxisOrDiagonal(INT_MAX, INT_MIN, x, y);
}

TEST(GeometryTest, RectangleHelpers) {
    // Overlap with edges inclusive and unordered corners.
    EXPECT_TRUE(LXRectsOverlap(0, 0, 10, 10, 10, 10, 20, 20));
    EXPECT_TRUE(LXRectsOverlap(10, 10, 0, 0, 5, 5, 6, 6));
    EXPECT_FALSE(LXRectsOverlap(0, 0, 9, 9, 10, 0, 20, 9));
    EXPECT_FALSE(LXRectsOverlap(0, 0, 9, 9, 0, 10, 9, 20));
    EXPECT_FALSE(LXRectsOverlap(30, 0, 21, 9, 0, 0, 20, 9));

    const struct {
        int r2[4];
        int result;
    } cases[] = {
        {{10, 10, 20, 20}, 2},     // wholly inside
        {{0, 0, 100, 100}, 2},     // the same rectangle
        {{90, 10, 110, 20}, 1},    // straddles the right edge
        {{10, -10, 20, 20}, 1},    // straddles the top edge
        {{90, 90, 120, 120}, 1},   // a corner inside
        {{200, 200, 300, 300}, 0}, // disjoint
        {{-10, -10, 110, 110}, 0}, // encloses the first, as the routine has it
        {{-10, 10, 110, 20}, 0},   // crosses it, as the routine has it
    };
    for (const auto& c : cases)
        EXPECT_EQ(LXRectInclusion(0, 0, 100, 100, c.r2[0], c.r2[1], c.r2[2], c.r2[3]), c.result)
            << c.r2[0] << "," << c.r2[1] << "," << c.r2[2] << "," << c.r2[3];

    EXPECT_TRUE(LXPointInRect(0, 0, 0, 0, 5, 5));
    EXPECT_TRUE(LXPointInRect(5, 5, 0, 0, 5, 5));
    EXPECT_FALSE(LXPointInRect(6, 5, 0, 0, 5, 5));
    EXPECT_FALSE(LXPointInRect(3, -1, 0, 0, 5, 5));
}

TEST(GeometryTest, NoParentWindowHandle) {
    TComponent owner(nullptr);
    TComponent* child = new TComponent(&owner);
    EXPECT_EQ(FindParentWindowHandle(child), 0u);
    EXPECT_EQ(FindParentWindowHandle(nullptr), 0u);
}

// The image view's calls for a picture at (2, 2)-(10, 10) on a 20 x 20 white bitmap, each
// strip alone (their line ends meet on the diagonal) and both together.
TEST(ShadowTest, DrawsSixLinesOfRisingGrey) {
    const int left = 2, top = 2, right = 10, bottom = 10;
    const int grey[6] = {93, 110, 130, 154, 182, 215};
    for (int strips = 1; strips <= 3; ++strips) {
        SCOPED_TRACE(strips);
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(20, 20);
        std::memset(b.PixelBlock(), 255, size_t(b.ImageSize()));
        if (strips & 1) DrawShadowRight(b.Canvas(), right, top, right + 5, bottom + 3, 2);
        if (strips & 2) DrawShadowBottom(b.Canvas(), left, bottom, right + 4, bottom + 5, 2);
        b.FlushCanvas();

        int expect[20][20];
        for (auto& row : expect)
            for (int& v : row) v = 255;
        for (int i = 0; i < 6; ++i) {
            if (strips & 1)
                for (int y = top + 6; y < bottom + i; ++y) expect[y][right + i] = grey[i];
            if (strips & 2)
                for (int x = left + 6; x < right + 1 + i; ++x) expect[bottom + i][x] = grey[i];
        }
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const TRGB p = Pix(&b, x, y);
                ASSERT_TRUE(p.r == expect[y][x] && p.g == expect[y][x] && p.b == expect[y][x])
                    << "pixel " << x << "," << y << " is " << Str(p) << ", expected " << expect[y][x];
            }
    }
}

TEST(ShadowTest, OtherStylesDrawNothing) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(20, 20);
    std::memset(b.PixelBlock(), 255, size_t(b.ImageSize()));
    for (int style : {0, 1, 3}) {
        DrawShadowRight(b.Canvas(), 10, 2, 15, 13, style);
        DrawShadowBottom(b.Canvas(), 2, 10, 14, 15, style);
    }
    b.FlushCanvas();
    for (int64_t i = 0; i < b.ImageSize(); ++i) ASSERT_EQ(b.PixelBlock()[i], 255) << i;
}

// ======================================================================================
// Lists and byte arrays
// ======================================================================================

TEST(ByteArrayTest, GrowsInBlocksBeyondTheRequest) {
    TLXByteArray a;
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(a.Capacity(), 8192);
    EXPECT_EQ(a.BlockSize(), 8192);
    for (int i = 0; i < 8192; ++i) a.Add(uint8_t(i * 7));
    EXPECT_EQ(a.Capacity(), 8192);
    a.Add(0x5A);
    EXPECT_EQ(a.Size(), 8193);
    EXPECT_EQ(a.Capacity(), 16385);
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(a.Data()[i], uint8_t(i * 7)) << i;
    EXPECT_EQ(a.Data()[8192], 0x5A);

    // Shrinking within one spare block keeps the buffer; more than a block shrinks it.
    const uint8_t* before = a.Data();
    a.SetSize(8193);
    a.SetSize(8193);
    EXPECT_EQ(a.Data(), before);
    EXPECT_EQ(a.Capacity(), 16385);
    a.SetSize(8000);
    EXPECT_EQ(a.Capacity(), 16192);
    EXPECT_EQ(a.Size(), 8000);
    EXPECT_EQ(a.Data()[7999], uint8_t(7999 * 7));
}

TEST(ByteArrayTest, LargeShrinkReallocatesAndKeepsThePrefix) {
    TLXByteArray a;
    a.SetSize(31808);
    EXPECT_EQ(a.Capacity(), 40000);
    for (int i = 0; i < 31808; ++i) a.Data()[i] = uint8_t(i);
    a.SetSize(10);
    EXPECT_EQ(a.Capacity(), 8202);
    EXPECT_EQ(a.Size(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.Data()[i], i);
    a.SetSize(10);
    EXPECT_EQ(a.Capacity(), 8202);
    a.SetSize(0);   // 0 < 8202 - 8192: shrinks once more
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(a.Capacity(), 8192);
}

TEST(ByteArrayTest, NegativeSizeIsRejected) {
    TLXByteArray a;
    a.Add(1);
    EXPECT_THROW(a.SetSize(-1), EListError);
    EXPECT_EQ(a.Size(), 1);
    EXPECT_EQ(a.Data()[0], 1);
}

struct Rec {
    int32_t a;
    int32_t b;
};

TEST(ListTest, AddItemsDeleteAndClear) {
    TLXRecordList l(sizeof(Rec));
    EXPECT_EQ(l.ItemSize(), 8);
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.Data(), nullptr);
    EXPECT_FALSE(l.Modified());
    for (int i = 0; i < 4; ++i) {
        const Rec r{i, i * 10};
        EXPECT_EQ(l.Add(&r), i);
    }
    EXPECT_TRUE(l.Modified());
    EXPECT_EQ(static_cast<Rec*>(l.Items(2))->b, 20);

    // Bad indexes are ignored.
    for (int bad : {-1, 4, INT_MAX, INT_MIN}) {
        l.Delete(bad);
        EXPECT_EQ(l.Count(), 4);
    }
    l.Delete(1);
    ASSERT_EQ(l.Count(), 3);
    EXPECT_EQ(static_cast<Rec*>(l.Items(0))->a, 0);
    EXPECT_EQ(static_cast<Rec*>(l.Items(1))->a, 2);
    EXPECT_EQ(static_cast<Rec*>(l.Items(2))->a, 3);
    l.Delete(2);
    l.Delete(0);
    ASSERT_EQ(l.Count(), 1);
    EXPECT_EQ(static_cast<Rec*>(l.Items(0))->b, 20);
    l.Delete(0);
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.Data(), nullptr);

    const Rec r{1, 2};
    l.Add(&r);
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.Data(), nullptr);
    EXPECT_FALSE(l.Modified());
    EXPECT_EQ(l.ItemSize(), 8);
}

TEST(ListTest, SetCountKeepsTheLeadingItems) {
    TLXIntegerList l;
    for (int32_t v : {7, 8, 9}) l.Add(&v);
    l.SetCount(5);
    EXPECT_EQ(l.Count(), 5);
    EXPECT_EQ(*static_cast<int32_t*>(l.Items(2)), 9);
    l.SetCount(2);
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(*static_cast<int32_t*>(l.Items(1)), 8);
    EXPECT_THROW(l.SetCount(-1), EListError);
    EXPECT_EQ(l.Count(), 2);
    l.SetCount(0);
    EXPECT_EQ(l.Data(), nullptr);
    EXPECT_THROW(TLXRecordList(-4), EListError);
}

TEST(ListTest, DescendantsHaveTheirItemSizes) {
    TLXDoubleList d;
    TLXIntegerList i;
    TLXRecordList r(12);
    EXPECT_EQ(d.ItemSize(), 8);
    EXPECT_EQ(i.ItemSize(), 4);
    EXPECT_EQ(r.ItemSize(), 12);
    d.Clear();
    i.Clear();
    r.Clear();
    EXPECT_EQ(d.ItemSize(), 8);
    EXPECT_EQ(i.ItemSize(), 4);
    EXPECT_EQ(r.ItemSize(), 12);
    // Through the base class too.
    TLXList* lists[] = {&d, &i, &r};
    for (TLXList* l : lists) {
        const uint8_t any[16] = {};
        l->Add(any);
        l->Clear();
    }
    EXPECT_EQ(d.ItemSize(), 8);
    EXPECT_EQ(i.ItemSize(), 4);
    EXPECT_EQ(r.ItemSize(), 12);
    const double v = 2.5;
    d.Add(&v);
    EXPECT_EQ(*static_cast<double*>(d.Items(0)), 2.5);
}

TEST(ListTest, AssignMakesAnIndependentCopy) {
    TLXDoubleList a, b;
    for (double v : {1.5, -2.0, 3.25}) a.Add(&v);
    a.Extra = {1, 2, 3, 4};
    b.Assign(&a);
    EXPECT_EQ(b.Count(), 3);
    EXPECT_EQ(b.ItemSize(), 8);
    EXPECT_TRUE(b.Modified());
    EXPECT_EQ(b.Extra, a.Extra);
    EXPECT_NE(b.Data(), a.Data());
    *static_cast<double*>(a.Items(1)) = 99;
    EXPECT_EQ(*static_cast<double*>(b.Items(1)), -2.0);

    b.Assign(nullptr);
    EXPECT_EQ(b.Count(), 3);
    b.Assign(&b);
    EXPECT_EQ(*static_cast<double*>(b.Items(2)), 3.25);

    b.Clear();
    EXPECT_EQ(b.Extra, (std::array<double, 4>{}));

    TLXIntegerList ints;
    EXPECT_THROW(b.Assign(&ints), EInvalidCast);
    EXPECT_THROW(ints.Assign(&a), EInvalidCast);

    // The record list takes any list, with its item size.
    TLXRecordList r(3);
    r.Assign(&a);
    EXPECT_EQ(r.ItemSize(), 8);
    EXPECT_EQ(r.Count(), 3);
    EXPECT_EQ(*static_cast<double*>(r.Items(0)), 1.5);
}

TEST(DistanceTest, ToSegment) {
    const struct {
        int px, py, x1, y1, x2, y2;
        double d;
    } cases[] = {
        {5, 5, 1, 2, 1, 2, 5.0},                     // A = B
        {0, 10, 0, 0, 10, 0, 10.0},                  // projection inside
        {20, 0, 0, 0, 10, 0, 10.0},                  // beyond B
        {-3, -4, 0, 0, 10, 0, 5.0},                  // before A
        {100000, 0, 0, 0, 10, 0, 1000000.0},         // beyond B, far
        {10, 45010, 0, 0, 10, 0, 45010.0},           // projection inside, no limit
        {55, 45000, 0, 0, 10, 0, std::hypot(45.0, 45000.0)},
        {-45001, 0, 0, 0, 10, 0, 1000000.0},         // before A, far
        {-45000, 0, 0, 0, 10, 0, 45000.0},
        {100000, 0, 0, 0, 0, 0, 100000.0},           // A = B: the true distance
        {0, 2000000000, -2000000000, 0, 2000000000, 0, 2000000000.0},
        {3, 4, 0, 0, 6, 8, 0.0},                     // on the segment
    };
    for (const auto& c : cases)
        EXPECT_NEAR(DistanceToSegment(c.px, c.py, c.x1, c.y1, c.x2, c.y2), c.d, 1e-9 * std::max(1.0, c.d))
            << c.px << "," << c.py << " to " << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2;
}

TEST(DistanceTest, ToLine) {
    EXPECT_DOUBLE_EQ(DistanceToLine(0, 10, 0, 0, 10, 0), 10.0);
    EXPECT_DOUBLE_EQ(DistanceToLine(100, 10, 0, 0, 10, 0), 10.0);   // the infinite line
    EXPECT_DOUBLE_EQ(DistanceToLine(0, 0, 0, 10, 10, 0), std::sqrt(50.0));
    EXPECT_DOUBLE_EQ(DistanceToLine(4, 5, 1, 1, 1, 1), 5.0);          // A = B: the point
    EXPECT_NEAR(DistanceToLine(INT_MAX, INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MAX), 4294967295.0, 1);
}

// ======================================================================================
// Numeric, colour, row and bit helpers
// ======================================================================================

TEST(NumericTest, CeilFloorAndClamps) {
    const struct {
        double x;
        int ceil, floor;
    } cases[] = {{2.0, 2, 2}, {2.3, 3, 2}, {-2.3, -2, -3}, {-2.0, -2, -2}, {0.0, 0, 0},
                 {-0.5, 0, -1}, {0.5, 1, 0}, {2147483646.5, 2147483647, 2147483646}};
    for (const auto& c : cases) {
        EXPECT_EQ(LXCeil(c.x), c.ceil) << c.x;
        EXPECT_EQ(LXFloor(c.x), c.floor) << c.x;
    }
    EXPECT_THROW(LXCeil(2147483647.5), EInvalidOp);
    EXPECT_THROW(LXFloor(-2147483648.5), EInvalidOp);
    EXPECT_THROW(LXCeil(std::nan("")), EInvalidOp);

    EXPECT_EQ(IClamp(5, 0, 3), 3);
    EXPECT_EQ(IClamp(-5, 0, 3), 0);
    EXPECT_EQ(IClamp(2, 0, 3), 2);
    EXPECT_EQ(ClampByte(-1), 0);
    EXPECT_EQ(ClampByte(256), 255);
    EXPECT_EQ(ClampByte(128), 128);
    EXPECT_EQ(DMin(1.5, -2.0), -2.0);

    int x1 = 9, y1 = 1, x2 = 3, y2 = 7;
    OrderCorners(x1, y1, x2, y2);
    EXPECT_EQ(std::vector<int>({x1, y1, x2, y2}), std::vector<int>({3, 1, 9, 7}));
    x1 = 1, y1 = 9, x2 = 3, y2 = 2;
    OrderCorners(x1, y1, x2, y2);
    EXPECT_EQ(std::vector<int>({x1, y1, x2, y2}), std::vector<int>({1, 2, 3, 9}));
}

TEST(ColourTest, RecordsAndConversions) {
    const TRGB c = MakeRGB(10, 20, 30);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&c);
    EXPECT_EQ(bytes[0], 30);   // B, G, R in memory
    EXPECT_EQ(bytes[1], 20);
    EXPECT_EQ(bytes[2], 10);
    EXPECT_EQ(c.AsInteger(), 30u + 20u * 256 + 10u * 65536);
    EXPECT_EQ(RGBToTColor(c), TColor(10 | 20 << 8 | 30 << 16));
    EXPECT_TRUE(SameRGB(TColorToRGB(RGBToTColor(c)), c));
    EXPECT_TRUE(SameRGB(TColorToRGB(clBtnFace), TColorToRGB(ColorToRGB(clBtnFace))));
    EXPECT_TRUE(SameRGB(TColorToRGB(clRed), MakeRGB(255, 0, 0)));
    EXPECT_FALSE(SameRGB(MakeRGB(1, 2, 3), MakeRGB(1, 2, 4)));
    EXPECT_EQ(RGBLuminance(MakeRGB(255, 255, 255)), 252);   // 25245 div 100
    EXPECT_EQ(RGBLuminance(MakeRGB(23, 8, 0)), 10);         // 1051: truncated
}

TEST(ColourTest, SwapRBArrayTouchesOnlyCount) {
    TRGB a[3] = {MakeRGB(1, 2, 3), MakeRGB(4, 5, 6), MakeRGB(7, 8, 9)};
    SwapRBArray(a, 2);
    EXPECT_TRUE(SameRGB(a[0], MakeRGB(3, 2, 1)));
    EXPECT_TRUE(SameRGB(a[1], MakeRGB(6, 5, 4)));
    EXPECT_TRUE(SameRGB(a[2], MakeRGB(7, 8, 9)));
}

TEST(ColourTest, NearestPaletteIndex) {
    const TRGB pal[] = {MakeRGB(0, 0, 0), MakeRGB(100, 0, 0), MakeRGB(0, 100, 0), MakeRGB(255, 255, 255)};
    EXPECT_EQ(NearestPaletteIndex(pal, 4, MakeRGB(90, 5, 0)), 1);
    EXPECT_EQ(NearestPaletteIndex(pal, 4, MakeRGB(100, 100, 0)), 1);   // ties with 2: lower index
    EXPECT_EQ(NearestPaletteIndex(pal, 4, MakeRGB(50, 50, 0)), 0);     // ties with 1 and 2
    EXPECT_EQ(NearestPaletteIndex(pal, 4, MakeRGB(250, 250, 240)), 3);
    EXPECT_EQ(NearestPaletteIndex(pal, 3, MakeRGB(250, 250, 240)), 1);   // only the first Count
    EXPECT_EQ(NearestPaletteIndex(pal, 0, MakeRGB(255, 255, 255)), 0);
    EXPECT_EQ(NearestPaletteIndex(nullptr, 5, MakeRGB(1, 1, 1)), 0);
}

TEST(RowTest, RowBytes) {
    const struct {
        int w, bits, bytes;
    } cases[] = {{1, 1, 4},  {32, 1, 4},  {33, 1, 8}, {1, 24, 4}, {5, 24, 16}, {0, 24, 0},
                 {13, 1, 4}, {3, 24, 12}, {1, 32, 4}, {7, 4, 4},  {9, 4, 8},   {2147483616, 1, 268435452},
                 {67108863, 32, 268435452}};
    for (const auto& c : cases) EXPECT_EQ(RowBytes(c.w, c.bits), c.bytes) << c.w << "x" << c.bits;
    EXPECT_THROW(RowBytes(2147483617, 1), EIntOverflow);
    EXPECT_THROW(RowBytes(67108864, 32), EIntOverflow);
    EXPECT_THROW(RowBytes(INT_MAX, 24), EIntOverflow);
    EXPECT_THROW(RowBytes(-1, 24), EIntOverflow);
}

TEST(RowTest, PixelFormats) {
    const struct {
        TPixelFormat pf;
        int bits;
    } cases[] = {{pfDevice, 0}, {pf1bit, 1},   {pf4bit, 4},   {pf8bit, 8}, {pf15bit, 15},
                 {pf16bit, 16}, {pf24bit, 24}, {pf32bit, 32}, {pfCustom, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(PixelFormatBits(c.pf), c.bits) << c.pf;
        EXPECT_EQ(RowBytesOfFormat(10, c.pf), RowBytes(10, c.bits)) << c.pf;
    }
}

TEST(RowTest, BitsAreMostSignificantFirst) {
    uint8_t row[2] = {0, 0};
    SetBit(row, 0, true);
    SetBit(row, 9, true);
    EXPECT_EQ(row[0], 0x80);
    EXPECT_EQ(row[1], 0x40);
    EXPECT_EQ(GetBit(row, 0), 1);
    EXPECT_EQ(GetBit(row, 1), 0);
    EXPECT_EQ(GetBit(row, 9), 1);
    SetBit(row, 0, false);
    EXPECT_EQ(row[0], 0);
}

// Bit-by-bit reference for CopyBitRun.
void CopyBitsRef(std::vector<uint8_t>& dst, const std::vector<uint8_t>& src, int db, int sb, int n) {
    for (int k = 0; k < n; ++k) SetBit(dst.data(), db + k, GetBit(src.data(), sb + k) != 0);
}

TEST(RowTest, CopyBitRunMatchesABitLoop) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 3000; ++iter) {
        std::vector<uint8_t> src(24), dst(24);
        for (auto& v : src) v = uint8_t(rng());
        for (auto& v : dst) v = uint8_t(rng());
        const int count = int(rng() % 120);
        const int sb = int(rng() % (192 - count + 1)), db = int(rng() % (192 - count + 1));
        std::vector<uint8_t> expect = dst;
        CopyBitsRef(expect, src, db, sb, count);
        CopyBitRun(dst.data(), src.data(), db, sb, count);
        ASSERT_EQ(dst, expect) << "db=" << db << " sb=" << sb << " n=" << count;
    }
}

TEST(RowTest, CopyBitRunWithinOneRow) {
    std::mt19937 rng(5);
    for (int iter = 0; iter < 2000; ++iter) {
        std::vector<uint8_t> row(16);
        for (auto& v : row) v = uint8_t(rng());
        const int count = int(rng() % 100) + 1;
        const int sb = int(rng() % (128 - count + 1)), db = int(rng() % (128 - count + 1));
        std::vector<uint8_t> expect = row;
        CopyBitsRef(expect, std::vector<uint8_t>(row), db, sb, count);
        CopyBitRun(row.data(), row.data(), db, sb, count);
        ASSERT_EQ(row, expect) << "db=" << db << " sb=" << sb << " n=" << count;
    }
}

TEST(RowTest, CopyBitRunIgnoresEmptyAndNegativeRuns) {
    uint8_t src[2] = {0xFF, 0xFF}, dst[2] = {0, 0};
    CopyBitRun(dst, src, 0, 0, 0);
    CopyBitRun(dst, src, 0, 0, -3);
    CopyBitRun(dst, src, -1, 0, 4);
    CopyBitRun(dst, src, 0, -1, 4);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 0);
}

TEST(RowTest, MonoExpansionTable) {
    for (int v : {0x00, 0xFF, 0xA5, 0x01, 0x80}) {
        for (int p = 0; p < 8; ++p) {
            const uint8_t expect = (v & (0x80 >> p)) ? 255 : 0;
            for (int k = 0; k < 3; ++k) EXPECT_EQ(MonoExpansionTable[size_t(v)][size_t(p * 3 + k)], expect) << v << " " << p;
        }
    }
}

// ======================================================================================
// Bitmap helpers
// ======================================================================================

TRGB Gradient(int x, int y) { return MakeRGB(uint8_t(x * 20 + 1), uint8_t(y * 30 + 2), uint8_t(x + y * 7)); }

TEST(CopyBitmapTest, CopiesPixelsAndFormat) {
    auto src24 = Make24(3, 2, Gradient);
    auto src1 = Make1(13, 3, [](int x, int y) { return (x * 3 + y) % 5 == 0; });
    for (TBitmap* src : {src24.get(), src1.get()}) {
        TBitmap dst;
        dst.SetPixelFormat(pf24bit);
        dst.SetSize(40, 40);
        CopyBitmap(src, &dst);
        EXPECT_EQ(dst.Width(), src->Width());
        EXPECT_EQ(dst.Height(), src->Height());
        EXPECT_EQ(dst.PixelFormat(), src->PixelFormat());
        ASSERT_EQ(dst.ImageSize(), src->ImageSize());
        EXPECT_EQ(std::memcmp(dst.PixelBlock(), src->PixelBlock(), size_t(src->ImageSize())), 0);
    }
    auto dup = DuplicateBitmap(src24.get());
    ASSERT_TRUE(dup);
    EXPECT_TRUE(Pix(dup.get(), 2, 1) == Gradient(2, 1));
    EXPECT_EQ(DuplicateBitmap(nullptr), nullptr);
}

TEST(CopyBitmapTest, EmptySourceLeavesDestOnePixel) {
    TBitmap empty;
    empty.SetPixelFormat(pf1bit);
    TBitmap dst;
    dst.SetSize(7, 7);
    CopyBitmap(&empty, &dst);
    EXPECT_EQ(dst.Width(), 1);
    EXPECT_EQ(dst.Height(), 1);
    EXPECT_EQ(dst.PixelFormat(), pf1bit);
}

TEST(CopyBitmapTest, SelfCopyKeepsThePicture) {
    auto b = Make24(3, 2, Gradient);
    CopyBitmap(b.get(), b.get());
    EXPECT_EQ(b->Width(), 3);
    EXPECT_TRUE(Pix(b.get(), 1, 1) == Gradient(1, 1));
}

TEST(CropBitmapTest, Crops24And1Bit) {
    auto src = Make24(6, 5, Gradient);
    struct Case {
        int x1, y1, x2, y2;
        int w, h, ox, oy;   // expected size and source origin
    };
    const Case cases[] = {
        {0, 0, 0, 0, 6, 5, 0, 0},      // defaults: the whole image
        {1, 2, 4, 5, 3, 3, 1, 2},
        {2, 1, 0, 0, 4, 4, 2, 1},      // X2 = Y2 = 0 mean the far edges
        {3, 3, 100, 100, 3, 2, 3, 3},  // limited to the source
        {-5, -2, 2, 2, 2, 2, 0, 0},    // negative corners clamp to 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x1 << "," << c.y1 << "," << c.x2 << "," << c.y2);
        TBitmap dst;
        CropBitmap(src.get(), &dst, c.x1, c.y1, c.x2, c.y2);
        ASSERT_EQ(dst.Width(), c.w);
        ASSERT_EQ(dst.Height(), c.h);
        EXPECT_EQ(dst.PixelFormat(), pf24bit);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) ASSERT_TRUE(Pix(&dst, x, y) == Gradient(c.ox + x, c.oy + y)) << x << "," << y;
    }

    auto f = [](int x, int y) { return (x * 7 + y * 3) % 4 == 1; };
    auto mono = Make1(37, 4, f);
    TBitmap dst;
    CropBitmap(mono.get(), &dst, 3, 1, 0, 0);
    ASSERT_EQ(dst.Width(), 34);
    ASSERT_EQ(dst.Height(), 3);
    EXPECT_EQ(dst.PixelFormat(), pf1bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 34; ++x) ASSERT_EQ(GetBit(dst.ScanLine(y), x) != 0, f(x + 3, y + 1)) << x << "," << y;
}

TEST(CropBitmapTest, EmptyRectangleLeavesOnePixel) {
    auto src = Make24(6, 5, Gradient);
    const int cases[][4] = {{4, 0, 2, 0}, {0, 3, 0, 3}, {6, 0, 0, 0}, {0, 9, 0, 0}, {0, 0, -3, 0}, {INT_MAX, INT_MAX, 0, 0}};
    for (const auto& c : cases) {
        TBitmap dst;
        dst.SetSize(9, 9);
        CropBitmap(src.get(), &dst, c[0], c[1], c[2], c[3]);
        EXPECT_EQ(dst.Width(), 1) << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
        EXPECT_EQ(dst.Height(), 1);
    }
}

TEST(CropBitmapTest, OtherFormatsAreSizedOnly) {
    TBitmap src, dst;
    src.SetPixelFormat(pf32bit);
    src.SetSize(5, 5);
    CropBitmap(&src, &dst, 1, 1, 4, 3);
    EXPECT_EQ(dst.PixelFormat(), pf32bit);
    EXPECT_EQ(dst.Width(), 3);
    EXPECT_EQ(dst.Height(), 2);
}

TEST(CropBitmapTest, CropIntoItself) {
    auto b = Make24(6, 5, Gradient);
    CropBitmap(b.get(), b.get(), 2, 1, 5, 3);
    ASSERT_EQ(b->Width(), 3);
    ASSERT_EQ(b->Height(), 2);
    EXPECT_TRUE(Pix(b.get(), 0, 0) == Gradient(2, 1));
    EXPECT_TRUE(Pix(b.get(), 2, 1) == Gradient(4, 2));
}

TEST(InvertTest, ComplementsEveryByte) {
    auto b = Make1(13, 3, [](int x, int y) { return x == y; });
    std::vector<uint8_t> before(b->PixelBlock(), b->PixelBlock() + b->ImageSize());
    InvertBitmapBits(b.get());
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(b->PixelBlock()[i], uint8_t(~before[i]));
    EXPECT_EQ(GetBit(b->ScanLine(1), 1), 0);
    EXPECT_EQ(GetBit(b->ScanLine(1), 2), 1);
}

// ---- two-colour test ----

TEST(TryConvertTo1BitTest, TwoColoursOrDarkerFirst) {
    struct Case {
        const char* name;
        std::function<TRGB(int, int)> f;
        bool two;
        TRGB c0, c1;
        bool bit00;   // expected bit of the top-left pixel
    };
    const TRGB a{0, 13, 6}, b{0, 8, 23};   // (R,G,B) (6,13,0): 1049 -> 10; (23,8,0): 1051 -> 11
    const TRGB e1{0, 30, 0}, e2{0, 0, 100};   // (0,30,0): 21.3 -> 21; (100,0,0): 21
    const Case cases[] = {
        {"one colour", [](int, int) { return MakeRGB(9, 9, 9); }, false, {}, {}, false},
        {"white first", [](int x, int y) { return (x + y) % 3 ? kBlack : kWhite; }, true, kBlack, kWhite, true},
        {"black first", [](int x, int y) { return (x + y) % 3 ? kWhite : kBlack; }, true, kBlack, kWhite, false},
        {"rounded luminance", [&](int x, int y) { return x == 0 && y == 0 ? b : a; }, true, a, b, true},
        {"equal luminance", [&](int x, int y) { return x == 0 && y == 0 ? e1 : e2; }, true, e1, e2, false},
        {"three colours", [](int x, int) { return MakeRGB(uint8_t(x % 3 * 50), 0, 0); }, false, {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto src = Make24(7, 4, c.f);
        TRGB c0{1, 2, 3}, c1{4, 5, 6};
        auto mono = TryConvertTo1Bit(src.get(), c0, c1);
        ASSERT_EQ(mono != nullptr, c.two);
        if (!c.two) continue;
        EXPECT_EQ(mono->PixelFormat(), pf1bit);
        EXPECT_EQ(mono->Width(), 7);
        EXPECT_EQ(mono->Height(), 4);
        EXPECT_TRUE(c0 == c.c0) << Str(c0);
        EXPECT_TRUE(c1 == c.c1) << Str(c1);
        EXPECT_EQ(GetBit(mono->ScanLine(0), 0) != 0, c.bit00);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(GetBit(mono->ScanLine(y), x) != 0, Pix(src.get(), x, y) == c1) << x << "," << y;
    }
}

TEST(TryConvertTo1BitTest, StopsAfterTheRowThatBringsAThirdColour) {
    // Row 0 holds three colours, row 1 a fourth: the scan ends before row 1.
    auto src = Make24(3, 2, [](int x, int y) { return y == 0 ? MakeRGB(uint8_t(x * 40), 0, 0) : MakeRGB(0, 0, 200); });
    TRGB c0{}, c1{};
    EXPECT_EQ(TryConvertTo1Bit(src.get(), c0, c1), nullptr);
    EXPECT_TRUE(c0 == MakeRGB(0, 0, 0));
    EXPECT_TRUE(c1 == MakeRGB(80, 0, 0)) << Str(c1);
}

TEST(TryConvertTo1BitTest, OnlyTwentyFourBit) {
    auto mono = Make1(4, 4, [](int x, int) { return x & 1; });
    TRGB c0{}, c1{};
    EXPECT_EQ(TryConvertTo1Bit(mono.get(), c0, c1), nullptr);
    EXPECT_EQ(TryConvertTo1Bit(nullptr, c0, c1), nullptr);
    TBitmap empty;
    EXPECT_EQ(TryConvertTo1Bit(&empty, c0, c1), nullptr);
}

// ---- ordered dither ----

// The standard Bayer index matrix by its recursive construction.
std::vector<std::vector<int>> Bayer(int n) {
    if (n == 1) return {{0}};
    const auto m = Bayer(n / 2);
    const int base[2][2] = {{0, 2}, {3, 1}};
    std::vector<std::vector<int>> r(static_cast<size_t>(n), std::vector<int>(static_cast<size_t>(n)));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            r[size_t(i)][size_t(j)] = 4 * m[size_t(i % (n / 2))][size_t(j % (n / 2))] + base[i / (n / 2)][j / (n / 2)];
    return r;
}

TEST(ConvertTo1BitTest, DithersWithTheBayerMatrixColumnFirst) {
    const auto M = Bayer(8);
    ASSERT_EQ(M[0][1], 32);   // the published first row: 0 32 8 40 2 34 10 42
    ASSERT_EQ(M[7][0], 63);
    // lum 252 -> level 63; lum 128 -> level 32; an uneven grey; black.
    for (TRGB grey : {kWhite, MakeRGB(130, 130, 130), MakeRGB(200, 90, 10), kBlack}) {
        SCOPED_TRACE(Str(grey));
        const int level = RGBLuminance(grey) / 4;
        auto b = Make24(19, 17, [&](int, int) { return grey; });
        TProgressRec pr;
        ConvertTo1Bit(b.get(), pr);
        ASSERT_EQ(b->PixelFormat(), pf1bit);
        ASSERT_EQ(b->Width(), 19);
        ASSERT_EQ(b->Height(), 17);
        int set = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 19; ++x) {
                const bool bit = GetBit(b->ScanLine(y), x) != 0;
                ASSERT_EQ(bit, level > M[size_t(x % 8)][size_t(y % 8)]) << x << "," << y;
                set += bit;
            }
        if (grey == kWhite) {
            EXPECT_EQ(GetBit(b->ScanLine(0), 7), 0);   // the one threshold 63 at x mod 8 = 7, y mod 8 = 0
            EXPECT_EQ(GetBit(b->ScanLine(1), 7), 1);
            EXPECT_EQ(GetBit(b->ScanLine(0), 6), 1);
            EXPECT_EQ(set, 19 * 17 - 2 * 3);   // x in {7, 15}, y in {0, 8, 16}
        }
        if (grey == kBlack) {
            EXPECT_EQ(set, 0);
        }
    }
}

TEST(ConvertTo1BitTest, ReportsProgressPerRow) {
    ProgressLog log;
    TProgressRec pr;
    pr.fOnProgress = MakeMethod(&log, &ProgressLog::OnProgress);
    auto b = Make24(4, 16, Gradient);
    ConvertTo1Bit(b.get(), pr);
    EXPECT_DOUBLE_EQ(pr.per, 100.0 / 16.5);
    ASSERT_EQ(log.values.size(), 16u);
    EXPECT_EQ(log.values[0], 6);     // Trunc(6.06)
    EXPECT_EQ(log.values[15], 96);   // Trunc(96.97)
}

TEST(ConvertTo1BitTest, LeavesOtherFormatsAlone) {
    auto b = Make1(5, 5, [](int x, int) { return x == 2; });
    TProgressRec pr;
    ConvertTo1Bit(b.get(), pr);
    EXPECT_EQ(b->PixelFormat(), pf1bit);
    EXPECT_EQ(GetBit(b->ScanLine(3), 2), 1);
}

// ---- 1-bit to 24-bit ----

TEST(Convert1To24BitTest, ExpandsTailBitsAndIgnoresThePalette) {
    auto f = [](int x, int y) { return (x * 5 + y) % 3 == 0; };
    auto mono = Make1(13, 3, f);
    // Set the padding bits too: they must not leak into the picture.
    for (int y = 0; y < 3; ++y)
        for (int x = 13; x < 32; ++x) SetBit(mono->ScanLine(y), x, true);
    if (mono->Palette().size() >= 2) std::swap(mono->Palette()[0], mono->Palette()[1]);
    TBitmap dst;
    dst.SetSize(50, 2);
    ProgressLog log;
    TProgressRec pr;
    pr.fOnProgress = MakeMethod(&log, &ProgressLog::OnProgress);
    Convert1To24Bit(mono.get(), &dst, pr);
    ASSERT_EQ(dst.PixelFormat(), pf24bit);
    ASSERT_EQ(dst.Width(), 13);
    ASSERT_EQ(dst.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 13; ++x) ASSERT_TRUE(Pix(&dst, x, y) == (f(x, y) ? kWhite : kBlack)) << x << "," << y;
    EXPECT_EQ(log.values, (std::vector<int>{28, 57, 85}));
}

TEST(Convert1To24BitTest, IntoItselfAndOtherSources) {
    auto mono = Make1(9, 2, [](int x, int) { return x == 8; });
    Convert1To24Bit(mono.get(), mono.get());
    ASSERT_EQ(mono->PixelFormat(), pf24bit);
    ASSERT_EQ(mono->Width(), 9);
    EXPECT_TRUE(Pix(mono.get(), 8, 1) == kWhite);
    EXPECT_TRUE(Pix(mono.get(), 7, 1) == kBlack);

    // A source that is not 1-bit is left alone and Dest untouched.
    auto src = Make24(2, 2, Gradient);
    TBitmap dst;
    dst.SetSize(4, 4);
    Convert1To24Bit(src.get(), &dst);
    EXPECT_EQ(dst.Width(), 4);
}

// ---- DrawDib copy ----

TEST(DrawDibCopyTest, StretchesOntoDest) {
    auto src = Make24(2, 2, Gradient);
    TBitmap dst;
    dst.SetPixelFormat(pf24bit);
    dst.SetSize(4, 6);
    DrawDibCopy(src.get(), &dst);
    EXPECT_EQ(dst.PixelFormat(), pf24bit);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_TRUE(Pix(&dst, x, y) == Gradient(x / 2, y / 3)) << x << "," << y;

    auto mono = Make1(3, 2, [](int x, int y) { return x == y; });
    TBitmap dst1;
    dst1.SetSize(3, 2);
    DrawDibCopy(mono.get(), &dst1);
    EXPECT_EQ(dst1.PixelFormat(), pf1bit);
    EXPECT_EQ(dst1.HandleType(), bmDIB);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(GetBit(dst1.ScanLine(y), x) != 0, x == y) << x << "," << y;
}

// ---- grey rendering of 1-bit images ----

TEST(RenderMonoTest, CheckerboardGivesMidGrey) {
    auto board = Make1({"10", "01"});
    TBitmap dst;
    dst.SetSize(1, 1);
    RenderMonoBlock(board.get(), 0, 0, 1, 1, &dst);
    EXPECT_EQ(dst.PixelFormat(), pf24bit);
    EXPECT_TRUE(Pix(&dst, 0, 0) == MakeRGB(127, 127, 127)) << Str(Pix(&dst, 0, 0));
}

// 5 x 3 into 2 x 2: sx = 2.5 gives columns 0..1 and 2..3, sy = 1.5 rows 0 and 1; column 4
// and row 2 fall outside every box.
const std::vector<std::string> k5x3 = {"10110", "11001", "11111"};
const int k5x3Grey[2][2] = {{127, 255}, {255, 0}};

TEST(RenderMonoTest, BoxesOfAReduction) {
    auto src = Make1(k5x3);
    TBitmap dst;
    dst.SetSize(2, 2);
    RenderMonoBlock(src.get(), 0, 0, 4, 2, &dst);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            const uint8_t g = uint8_t(k5x3Grey[y][x]);
            EXPECT_TRUE(Pix(&dst, x, y) == MakeRGB(g, g, g)) << x << "," << y << " " << Str(Pix(&dst, x, y));
        }
}

TEST(RenderMonoTest, SubRectangleEnlargementAndClipping) {
    auto src = Make1(k5x3);
    // 1:1 from (1, 1)-(3, 2).
    TBitmap one;
    one.SetSize(3, 2);
    RenderMonoBlock(src.get(), 1, 1, 3, 2, &one);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t g = k5x3[size_t(y + 1)][size_t(x + 1)] == '1' ? 255 : 0;
            EXPECT_TRUE(Pix(&one, x, y) == MakeRGB(g, g, g)) << x << "," << y;
        }
    // Enlarging: each cell is one source pixel, Trunc(0.5 i).
    TBitmap wide;
    wide.SetSize(4, 1);
    RenderMonoBlock(src.get(), 0, 0, 1, 0, &wide);
    const int expect[4] = {255, 255, 0, 0};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pix(&wide, x, 0).r, expect[x]) << x;
    // A rectangle reaching past the source is clipped to it.
    TBitmap clipped;
    clipped.SetSize(2, 2);
    RenderMonoBlock(src.get(), -7, -3, 4, 2, &clipped);
    EXPECT_EQ(Pix(&clipped, 1, 1).r, 0);
    TBitmap big;
    big.SetSize(2, 2);
    RenderMonoBlock(src.get(), 0, 0, 1000, 1000, &big);
    EXPECT_EQ(Pix(&big, 0, 0).r, 127);
    // Wholly outside: nothing happens.
    TBitmap untouched;
    untouched.SetPixelFormat(pf1bit);
    untouched.SetSize(2, 2);
    RenderMonoBlock(src.get(), 5, 0, 9, 2, &untouched);
    EXPECT_EQ(untouched.PixelFormat(), pf1bit);
    RenderMonoBlock(src.get(), 2, 1, 1, 2, &untouched);   // X1 > X2
    EXPECT_EQ(untouched.PixelFormat(), pf1bit);
}

TEST(RenderMonoTest, DIBFromABareBlock) {
    auto src = Make1(k5x3);
    auto block = RenderMonoDIB(src->PixelBlock(), 5, 3, 0, 0, 4, 2, 2, 2);
    ASSERT_TRUE(block);
    const int rb = RowBytes(2, 24);   // 8
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(block[size_t(rb * (2 - y - 1) + x * 3 + k)], k5x3Grey[y][x]) << x << "," << y;

    EXPECT_EQ(RenderMonoDIB(src->PixelBlock(), 5, 3, 0, 0, 4, 2, 0, 2), nullptr);
    EXPECT_EQ(RenderMonoDIB(src->PixelBlock(), 5, 3, 0, 0, 4, 2, 2, -1), nullptr);
    EXPECT_EQ(RenderMonoDIB(src->PixelBlock(), 5, 3, 5, 0, 9, 2, 2, 2), nullptr);
    EXPECT_EQ(RenderMonoDIB(nullptr, 5, 3, 0, 0, 4, 2, 2, 2), nullptr);
    auto clipped = RenderMonoDIB(src->PixelBlock(), 5, 3, -1, -1, 99, 99, 2, 2);
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped[0], 255);   // bottom row first: cell (0, 1)
}

}  // namespace
