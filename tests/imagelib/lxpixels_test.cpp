// The per-pixel loops give the same bytes on every instruction-set path this machine has:
// the blend for every pair of bytes and every weight, the 24 -> 32-bit copy for every row
// length, and the blending transitions frame by frame.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "LuxProc.h"
#include "lxpixels.h"

namespace {

std::vector<TLXPixelPath> Paths() {
    std::vector<TLXPixelPath> p;
    for (int i = 0; i <= int(LXBestPixelPath()); ++i) p.push_back(TLXPixelPath(i));
    return p;
}

const char* Name(TLXPixelPath p) {
    return p == TLXPixelPath::Scalar ? "scalar" : p == TLXPixelPath::Avx2 ? "AVX2" : "AVX-512";
}

struct ForcePath {
    explicit ForcePath(TLXPixelPath p) { LXForcePixelPathForTesting(int(p)); }
    ~ForcePath() { LXForcePixelPathForTesting(-1); }
};

TEST(PixelPaths, ReportsWhatRuns) {
    std::printf("pixel paths on this machine: best %s\n", Name(LXBestPixelPath()));
    ForcePath f(TLXPixelPath::Scalar);
    EXPECT_EQ(LXActivePixelPath(), TLXPixelPath::Scalar);
}

TEST(PixelPaths, BlendEveryPairAndWeight) {
    // Every (a, b) pair once per row; the odd extra bytes reach the tail code.
    const size_t n = 65536 + 45;
    std::vector<uint8_t> a(n), b(n), r(n);
    for (size_t i = 0; i < n; ++i) {
        a[i] = uint8_t(i & 255);
        b[i] = uint8_t((i >> 8) & 255);
    }
    for (TLXPixelPath path : Paths()) {
        SCOPED_TRACE(Name(path));
        ForcePath f(path);
        for (int p = 0; p <= 1024; ++p) {
            LXBlendRow(a.data(), b.data(), r.data(), n, p);
            for (size_t i = 0; i < n; ++i) {
                const unsigned want = (unsigned(a[i]) * unsigned(1024 - p) + unsigned(b[i]) * unsigned(p)) >> 10;
                if (r[i] != want) {
                    ADD_FAILURE() << "p " << p << " a " << int(a[i]) << " b " << int(b[i]) << ": " << int(r[i])
                                  << " instead of " << want;
                    return;
                }
            }
        }
    }
}

TEST(PixelPaths, EveryRowLengthReadsAndWritesOnlyItsRow) {
    std::mt19937 gen(5);
    for (TLXPixelPath path : Paths()) {
        SCOPED_TRACE(Name(path));
        ForcePath f(path);
        for (size_t n = 0; n <= 200; ++n) {
            // Exactly sized heap blocks: a sanitizer build catches any access past them.
            auto a = std::make_unique<uint8_t[]>(n + 1), b = std::make_unique<uint8_t[]>(n + 1);
            auto r = std::make_unique<uint8_t[]>(n + 1);
            for (size_t i = 0; i < n; ++i) a[i] = uint8_t(gen()), b[i] = uint8_t(gen());
            r[n] = 0x5A;
            const int p = int(gen() % 1025);
            LXBlendRow(a.get(), b.get(), r.get(), n, p);
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(r[i], (unsigned(a[i]) * unsigned(1024 - p) + unsigned(b[i]) * unsigned(p)) >> 10) << n;
            EXPECT_EQ(r[n], 0x5A) << "written past " << n << " bytes";

            auto src = std::make_unique<uint8_t[]>(3 * n);
            auto dst = std::make_unique<uint32_t[]>(n + 1);
            for (size_t i = 0; i < 3 * n; ++i) src[i] = uint8_t(gen());
            dst[n] = 0x12345678;
            LXExpand24To32Row(src.get(), dst.get(), n);
            for (size_t x = 0; x < n; ++x)
                ASSERT_EQ(dst[x], 0xFF000000u | src[3 * x] | uint32_t(src[3 * x + 1]) << 8 |
                                      uint32_t(src[3 * x + 2]) << 16)
                    << "pixel " << x << " of " << n;
            EXPECT_EQ(dst[n], 0x12345678u) << "written past " << n << " pixels";
        }
    }
}

// The four blending effects draw the same frames on every path.
TEST(PixelPaths, BlendingTransitionsAreTheSameOnEveryPath) {
    const int W = 333, H = 17;
    auto frames = [&](TLXPixelPath path, TLXTransitionType effect) {
        ForcePath f(path);
        TLXTransitionEffects fx(nullptr);
        fx.SetSize(W, H);
        std::mt19937 g(11);
        for (TBitmap* b : {fx.FromBitmap(), fx.ToBitmap()})
            for (int y = 0; y < H; ++y) {
                uint8_t* row = b->ScanLine(y);
                for (int i = 0; i < W * 3; ++i) row[i] = uint8_t(g());
            }
        fx.TransitionEffect = effect;
        std::vector<uint8_t> out;
        for (int p : {0, 1, 255, 511, 512, 513, 777, 1023, 1024}) {
            fx.DrawFrame(p);
            for (int y = 0; y < H; ++y) out.insert(out.end(), fx.FrameBitmap()->ScanLine(y), fx.FrameBitmap()->ScanLine(y) + W * 3);
        }
        return out;
    };
    for (TLXTransitionType e : {lxttCrossDissolve, lxttFadeOut, lxttFadeIn, lxttFadeOutIn}) {
        const auto want = frames(TLXPixelPath::Scalar, e);
        for (TLXPixelPath path : Paths()) EXPECT_EQ(frames(path, e), want) << Name(path) << " effect " << int(e);
    }
}

}  // namespace
