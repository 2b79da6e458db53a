// The transition engine: every effect's frames against a per-pixel model of its rule, the
// rule's own examples, timing from an injected clock, the paint-lock accounting and hostile
// sizes (run under the sanitizers).
#include <gtest/gtest.h>

#include <QApplication>
#include <cmath>
#include <cstdlib>
#include <unistd.h>
#include <functional>
#include <vector>

#include "ExtCtrls.h"
#include "LuxProc.h"
#include "lxutils.h"
#include "lxview.h"

namespace {

// The engine's timer is a Qt timer: it needs an application object on this thread.
void EnsureApp() {
    if (QCoreApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "transition_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

// A view that only counts what the engine asks of it.
class FakeView : public TLXView {
public:
    FakeView() : TLXView(nullptr) {}
    ~FakeView() override { NotifyDestroying(); }
    TLXMask* GetAlphaMask() override { return nullptr; }
    void LockPaint() override { ++locks; }
    void UnlockPaint() override { --locks; ++unlocks; }
    void UnlockPaintNoUpdate() override { --locks; ++noUpdateUnlocks; }
    void Update() override { ++updates; }
    int locks = 0, unlocks = 0, noUpdateUnlocks = 0, updates = 0;
};

// A small linear congruential generator, copied so a model can replay the engine's picks.
struct ScriptedRandom {
    uint32_t state = 12345;
    int calls = 0;
    int operator()(int n) {
        ++calls;
        state = state * 1103515245u + 12345u;
        return int((state >> 8) % uint32_t(n));
    }
};

struct Pixel {
    uint8_t b, g, r;
    bool operator==(const Pixel&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Pixel& p) {
    return o << "(" << int(p.b) << "," << int(p.g) << "," << int(p.r) << ")";
}

// Pixels that tell where they come from: B and G the low bytes of x and y, R a picture tag
// with the high bits of x and y.
Pixel Coded(int tag, int x, int y) {
    return {uint8_t(x & 255), uint8_t(y & 255), uint8_t(tag | ((x >> 8) & 3) | (((y >> 8) & 3) << 2))};
}
constexpr int TagF = 0x40, TagT = 0x80;
const Pixel Red{0, 0, 255};
const TColor BackColour = RGBColor(200, 30, 90);
const Pixel Back{90, 30, 200};

using Image = std::vector<Pixel>;   // row-major from the top

void Fill(TBitmap* b, int tag) {
    for (int y = 0; y < b->Height(); ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < b->Width(); ++x) {
            const Pixel p = Coded(tag, x, y);
            row[3 * x] = p.b, row[3 * x + 1] = p.g, row[3 * x + 2] = p.r;
        }
    }
}

Image Read(TBitmap* b) {
    Image img;
    for (int y = 0; y < b->Height(); ++y) {
        const uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < b->Width(); ++x) img.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
    }
    return img;
}

int64_t RoundEven(double v) { return int64_t(std::nearbyint(v)); }

// The effects' rules written pixel by pixel, independent of the engine's block copies.
class Model {
public:
    Model(int w, int h) : W(w), H(h), frame(size_t(w) * size_t(h)) {}

    Pixel F(int x, int y) const { return Coded(TagF, x, y); }
    Pixel T(int x, int y) const { return Coded(TagT, x, y); }

    static Pixel Mix(Pixel a, Pixel b, int p) {
        const int q = 1024 - p;
        return {uint8_t((a.b * q + b.b * p) >> 10), uint8_t((a.g * q + b.g * p) >> 10),
                uint8_t((a.r * q + b.r * p) >> 10)};
    }
    // Box of the centre effects for weight d.
    void Box(int64_t d, int64_t& x, int64_t& y, int64_t& w, int64_t& h) const {
        x = W / 2 - ((d * (W / 2)) >> 10);
        y = H / 2 - ((d * (H / 2)) >> 10);
        w = (d * W) >> 10;
        h = (d * H) >> 10;
    }

    void Step(TLXTransitionType e, int p, ScriptedRandom& rnd) {
        const int64_t q = 1024 - p;
        Image prev = frame;
        if (p == 0)
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) prev[At(x, y)] = F(x, y);
        if (e == lxttRandomPoints || e == lxttRandomBoxes) {
            frame = prev;
            if (p == 0) return;
            int64_t target;
            if (e == lxttRandomPoints) target = RoundEven(double(p) * W * (p / 180.0) / 1024);
            else target = RoundEven(double(int64_t(p) * ((int64_t(W) * H) / 64)) * (p / 180.0) / 1024);
            const int64_t n = target - prevTarget;
            prevTarget = target;
            if (e == lxttRandomPoints) {
                for (int y = 0; y < H; ++y)
                    for (int64_t i = 0; i < n; ++i) {
                        const int x = rnd(W);
                        frame[At(x, y)] = T(x, y);
                    }
            } else {
                for (int64_t i = 0; i < n; ++i) {
                    const int bx = rnd(W) & ~7;
                    const int by = rnd(H) & ~7;
                    for (int y = by; y < by + 8 && y < H; ++y)
                        for (int x = bx; x < bx + 8 && x < W; ++x) frame[At(x, y)] = T(x, y);
                }
            }
            return;
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) frame[At(x, y)] = Rule(e, p, q, x, y, prev[At(x, y)]);
    }

    Pixel Rule(TLXTransitionType e, int64_t p, int64_t q, int x, int y, Pixel base) const {
        switch (e) {
        case lxttCrossDissolve: return Mix(F(x, y), T(x, y), int(p));
        case lxttFadeOut: return Mix(F(x, y), Back, int(p));
        case lxttFadeIn: return Mix(Back, T(x, y), int(p));
        case lxttFadeOutIn:
            return p < 512 ? Mix(F(x, y), Back, int(2 * p)) : Mix(Back, T(x, y), int(2 * p - 1024));
        case lxttLeftRight1:
        case lxttLeftRight2: {
            const int64_t c = (p * W) >> 10;
            if (e == lxttLeftRight2 && x == c) return Red;
            return x < c ? T(x, y) : base;
        }
        case lxttRightLeft1:
        case lxttRightLeft2: {
            const int64_t x0 = RoundEven(double(W) * q / 1024), w = RoundEven(double(p) * W / 1024);
            if (e == lxttRightLeft2 && x == x0) return Red;
            return (x >= x0 && x < x0 + w) ? T(x, y) : base;
        }
        case lxttUpDown1:
        case lxttUpDown2: {
            const int64_t h = RoundEven(double(p) * H / 1024);
            if (e == lxttUpDown2 && y == h) return Red;
            return y < h ? T(x, y) : base;
        }
        case lxttDownUp1:
        case lxttDownUp2: {
            const int64_t y0 = RoundEven(double(H) * q / 1024), h = RoundEven(double(p) * H / 1024);
            if (e == lxttDownUp2 && y == y0) return Red;
            return (y >= y0 && y < y0 + h) ? T(x, y) : base;
        }
        case lxttFromUpLeft:
        case lxttFromUpRight:
        case lxttFromBottomLeft:
        case lxttFromBottomRight: {
            const int64_t ox = (q * W) >> 10, oy = (q * H) >> 10;
            const int64_t dx = (e == lxttFromUpRight || e == lxttFromBottomRight) ? ox : -ox;
            const int64_t dy = (e == lxttFromBottomLeft || e == lxttFromBottomRight) ? oy : -oy;
            const int64_t sx = x - dx, sy = y - dy;
            return (sx >= 0 && sx < W && sy >= 0 && sy < H) ? T(int(sx), int(sy)) : base;
        }
        case lxttMoveLeftRight1: {
            const int64_t c = (p * W) >> 10;
            return x < c ? T(int(W - c + x), y) : F(int(x - c), y);
        }
        case lxttMoveLeftRight2: {
            const int64_t c = (p * W) >> 10;
            return x < c ? T(x, y) : F(int(x - c), y);
        }
        case lxttMoveRightLeft1: {
            const int64_t c = (q * W) >> 10;
            return x < c ? F(int(W - c + x), y) : T(int(x - c), y);
        }
        case lxttMoveRightLeft2: {
            const int64_t c = (q * W) >> 10;
            return x < c ? F(x, y) : T(int(x - c), y);
        }
        case lxttMoveUpDown1: {
            const int64_t c = (p * H) >> 10;
            return y < c ? T(x, int(H - c + y)) : F(x, int(y - c));
        }
        case lxttMoveUpDown2: {
            const int64_t c = (p * H) >> 10;
            return y < c ? T(x, y) : F(x, int(y - c));
        }
        case lxttMoveDownUp1: {
            const int64_t c = (q * H) >> 10;
            return y < c ? F(x, int(H - c + y)) : T(x, int(y - c));
        }
        case lxttMoveDownUp2: {
            const int64_t c = (q * H) >> 10;
            return y < c ? F(x, int(H - c + y)) : T(x, y);
        }
        case lxttCenter1:
        case lxttCenter2: {
            const bool grow = e == lxttCenter1;
            int64_t bx, by, bw, bh;
            Box(grow ? p : q, bx, by, bw, bh);
            const bool in = x >= bx && x < bx + bw && y >= by && y < by + bh;
            if (grow) return in ? T(x, y) : base;
            return in ? F(x, y) : T(x, y);
        }
        case lxttCenterZoom1:
        case lxttCenterZoom2: {
            const bool grow = e == lxttCenterZoom1;
            int64_t bx, by, bw, bh;
            Box(grow ? p : q, bx, by, bw, bh);
            const bool in = x >= bx && x < bx + bw && y >= by && y < by + bh;
            if (!in) return grow ? base : T(x, y);
            const int sx = int((x - bx) * W / bw), sy = int((y - by) * H / bh);
            return grow ? T(sx, sy) : F(sx, sy);
        }
        default: return base;
        }
    }

    size_t At(int x, int y) const { return size_t(y) * size_t(W) + size_t(x); }
    int W, H;
    Image frame;
    int64_t prevTarget = 0;
};

class TransitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        view = std::make_unique<FakeView>();
        view->SetBackground(BackColour);
        engine = std::make_unique<TLXTransitionEffects>(view.get());
    }
    void TearDown() override {
        SetTickCountSource({});
        engine.reset();
        view.reset();
    }
    void Prepare(int w, int h) {
        engine->SetSize(w, h);
        Fill(engine->FromBitmap(), TagF);
        Fill(engine->ToBitmap(), TagT);
    }
    // Runs the engine through Ticks at the given clock values.
    void RunTicks(const std::vector<uint32_t>& ticks) {
        for (uint32_t t : ticks) {
            now = t;
            engine->Tick(nullptr);
        }
    }
    void UseClock() {
        SetTickCountSource([this] { return DWORD(now); });
    }

    std::unique_ptr<FakeView> view;
    std::unique_ptr<TLXTransitionEffects> engine;
    uint32_t now = 0;
};

const std::vector<int> Sequence = {0, 100, 256, 341, 511, 512, 513, 683, 768, 1000, 1023, 1024};

struct SizeCase {
    int w, h;
};

// Every effect, frame after frame, on awkward sizes, equals its pixel model.
TEST_F(TransitionTest, EveryEffectFollowsItsRuleFrameByFrame) {
    for (SizeCase sz : {SizeCase{7, 5}, SizeCase{13, 9}, SizeCase{1000, 3}, SizeCase{3, 1000}, SizeCase{1, 17},
                        SizeCase{17, 1}, SizeCase{24, 16}}) {
        for (int e = lxttCrossDissolve; e <= lxttCenterZoom2; ++e) {
            SCOPED_TRACE(testing::Message() << "effect " << e << " size " << sz.w << "x" << sz.h);
            Prepare(sz.w, sz.h);
            engine->TransitionEffect = TLXTransitionType(e);
            ScriptedRandom engineRnd, modelRnd;
            engine->SetRandomSource(std::ref(engineRnd));
            Model model(sz.w, sz.h);
            for (int p : Sequence) {
                engine->DrawFrame(p);
                model.Step(TLXTransitionType(e), p, modelRnd);
                const Image got = Read(engine->FrameBitmap());
                ASSERT_EQ(got.size(), model.frame.size());
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_EQ(got[i], model.frame[i]) << "p " << p << " pixel " << i % size_t(sz.w) << ","
                                                      << i / size_t(sz.w);
            }
            engine->SetRandomSource({});
        }
    }
}

uint64_t FrameHash(TBitmap* b) {
    uint64_t h = 1469598103934665603ull;   // FNV-1a over the pixel bytes, top row first
    for (int y = 0; y < b->Height(); ++y) {
        const uint8_t* row = b->ScanLine(y);
        for (int i = 0; i < 3 * b->Width(); ++i) h = (h ^ row[i]) * 1099511628211ull;
    }
    return h;
}

// Golden frames: 7x5 then 13x9, each at progress 0, 341, 683, 1024 drawn in that order, with
// the scripted generator. (The model test above checks the same rules pixel by pixel; these
// pin the exact frames.)
struct Golden {
    int effect;
    uint64_t hash[8];
};
const Golden Goldens[] = {
    {1, {0x3d80027df435f03aull, 0xc6197e86eca8b59full, 0xf1b56a58af076ffcull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x0a88159e430a1d46ull, 0xcf0c02b89ae290d7ull, 0xb00c3caef67f04c1ull}},
    {2, {0x3d80027df435f03aull, 0xda37b917bde310c2ull, 0x54c560b416281654ull, 0x68c80b8cd293e5d5ull, 0x60c03a3c39344301ull, 0xcd29041fa90407fbull, 0x5d8a90aa81808288ull, 0x26ece972b0c41615ull}},
    {3, {0x68c80b8cd293e5d5ull, 0xdcc3a7b85edef956ull, 0x020b8dd1682efee8ull, 0xa8892af7a5610f7aull, 0x26ece972b0c41615ull, 0xf6fb3e3cf4ecb44eull, 0xa31438037387f2e5ull, 0xb00c3caef67f04c1ull}},
    {4, {0x3d80027df435f03aull, 0x53cacce87e9f9119ull, 0x1faa6f7f10ab0c64ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x9dcf098f046a8a6eull, 0xcde40927d8683195ull, 0xb00c3caef67f04c1ull}},
    {5, {0x3d80027df435f03aull, 0xa1cd301297adacbaull, 0x1926f533fe8ffa3aull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x341c55e30b7e6d81ull, 0xc69e5a85f052a081ull, 0xb00c3caef67f04c1ull}},
    {6, {0xb78ee62fdc3a8f53ull, 0x240cfec3065f11b9ull, 0xad484091c68c718bull, 0xa8892af7a5610f7aull, 0x98103a63f94edaf0ull, 0x57e7141bc11c8350ull, 0xc40a1f4188edc2a8ull, 0xb00c3caef67f04c1ull}},
    {7, {0x3d80027df435f03aull, 0x0e5b308693acb0baull, 0x4df7a8ef0c34d7faull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x874c8eed1c83c181ull, 0x5e90557a86e30e41ull, 0xb00c3caef67f04c1ull}},
    {8, {0x3d80027df435f03aull, 0xdc3294ab320e2e98ull, 0x234fff58c20ee6b9ull, 0x3b35fba3bcc4fb53ull, 0x60c03a3c39344301ull, 0xda64d51612bab0c7ull, 0xa23c56125881eb50ull, 0x65cd7f40dde930f0ull}},
    {9, {0x3d80027df435f03aull, 0x7f45a0da2ff5083aull, 0x090c750a3df9c47aull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xf30d6870cea503c1ull, 0x44fb29562c458b81ull, 0xb00c3caef67f04c1ull}},
    {10, {0x3976f4e2cf2bd7a2ull, 0x005edf97ace469a0ull, 0x7ee5c9793bff4cadull, 0xa8892af7a5610f7aull, 0xaace3e0a4b2cd500ull, 0x297ccb1f34ae7223ull, 0xe077916fa15d084eull, 0xb00c3caef67f04c1ull}},
    {11, {0x3d80027df435f03aull, 0x7adfe70d77a6fb3aull, 0x66c38c9b69a1f77aull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x141d5d49c0a26b41ull, 0xaa94d4c9768cfc01ull, 0xb00c3caef67f04c1ull}},
    {12, {0x3d80027df435f03aull, 0xcbad312e8c3cae2dull, 0x1bb84ba6f7056b20ull, 0x1ee2eac7aadf40a2ull, 0x60c03a3c39344301ull, 0xf86babf17a32954eull, 0x597863bfcd471ca3ull, 0x1ec8f7c31631e480ull}},
    {13, {0x3d80027df435f03aull, 0x7ad47467b09f2802ull, 0x1525a6f283c9b086ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x4f81a054651bc523ull, 0xa092d8359af3cc63ull, 0xb00c3caef67f04c1ull}},
    {14, {0x3d80027df435f03aull, 0xa4f1ec56e50fbf9aull, 0x20ecd90965c2685eull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xb5d03321548bacdbull, 0x13116509e1cdd85bull, 0xb00c3caef67f04c1ull}},
    {15, {0x3d80027df435f03aull, 0xe6da3d08ed62f6e2ull, 0xf1864e517551a01eull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x3ed2c40bbeac5c7bull, 0xfec8da8bb7ba980bull, 0xb00c3caef67f04c1ull}},
    {16, {0x3d80027df435f03aull, 0x49886c1d186ab292ull, 0xe4592633a8926dc6ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xa81f1193bb7c2583ull, 0x1695715d24545d63ull, 0xb00c3caef67f04c1ull}},
    {17, {0x3d80027df435f03aull, 0x4bb76beaee2af1c8ull, 0x487f0411be2382aeull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x57c9c79a961a4ed9ull, 0x4fd3b6bdc9aa70d9ull, 0xb00c3caef67f04c1ull}},
    {18, {0x3d80027df435f03aull, 0xc00f7f01603a6a8cull, 0xb97bfe9e6ecc8e3eull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x7dfc6473e01c02ddull, 0x2f946c0d94471c79ull, 0xb00c3caef67f04c1ull}},
    {19, {0x3d80027df435f03aull, 0x422e824b2ac250eeull, 0xb2c11bf05734d708ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x380d08ad6c689f99ull, 0x7fdc40b5c9130019ull, 0xb00c3caef67f04c1ull}},
    {20, {0x3d80027df435f03aull, 0x11562715ac4fae7eull, 0x1c288505456e3bccull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xfc8dde0b4ea4afb9ull, 0x4e6b5d7ec621ac1dull, 0xb00c3caef67f04c1ull}},
    {21, {0x3d80027df435f03aull, 0xca86d08c71e376eeull, 0xd84ed7d6edc501ccull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xad67ff5a7be2ef3bull, 0xa5de2045195f861bull, 0xb00c3caef67f04c1ull}},
    {22, {0x3d80027df435f03aull, 0x2968c00ec47f743aull, 0x49442c2924038256ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x358cd68f553ebd6bull, 0xbbb8fa71af6b7803ull, 0xb00c3caef67f04c1ull}},
    {23, {0x3d80027df435f03aull, 0xa322943039d1620cull, 0x46b9d01a2c694e2eull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x10b18225f63df95bull, 0x9b2d749e3333647bull, 0xb00c3caef67f04c1ull}},
    {24, {0x3d80027df435f03aull, 0x2cba48cbec3d856cull, 0x1696286ce46caf66ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0xd25fa2022e5d1009ull, 0xdf60a0feeab6fc11ull, 0xb00c3caef67f04c1ull}},
    {25, {0x3d80027df435f03aull, 0x124995c686ee5c3aull, 0xaffa568fbf75affaull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x6d9284d753e95a01ull, 0x2cd6e370cdeb5041ull, 0xb00c3caef67f04c1ull}},
    {26, {0x3d80027df435f03aull, 0x3d80027df435f03aull, 0x3d80027df435f03aull, 0x3d80027df435f03aull, 0x60c03a3c39344301ull, 0x1314160b5c9a8901ull, 0xe92cb9b96fb74881ull, 0xe92cb9b96fb74881ull}},
    {27, {0x3d80027df435f03aull, 0x2fe237dc652af6baull, 0x9663c2c25d8d573aull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x12cb51f30d3ce701ull, 0x4df1e61792a08001ull, 0xb00c3caef67f04c1ull}},
    {28, {0x3d80027df435f03aull, 0xbc178f33912fb97aull, 0x639564eab8183efaull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x4fa5603ccc599cc1ull, 0x1eab2ae306a609c1ull, 0xb00c3caef67f04c1ull}},
    {29, {0x3d80027df435f03aull, 0x4c7992b58eecc5e8ull, 0xcfd449e1d4303e45ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x95b73410dca12ba9ull, 0x9bc4b8b7fe1ba315ull, 0xb00c3caef67f04c1ull}},
    {30, {0x3d80027df435f03aull, 0x2ded0d8961a34385ull, 0x4b20e859243c7ea8ull, 0xa8892af7a5610f7aull, 0x60c03a3c39344301ull, 0x1e3547d4048abe55ull, 0xa95412a9784421e9ull, 0xb00c3caef67f04c1ull}}
};

TEST_F(TransitionTest, GoldenFramesOnOddSizes) {
    for (const Golden& g : Goldens) {
        for (int s = 0; s < 2; ++s) {
            Prepare(s ? 13 : 7, s ? 9 : 5);
            engine->TransitionEffect = TLXTransitionType(g.effect);
            ScriptedRandom rnd;
            engine->SetRandomSource(std::ref(rnd));
            int k = 0;
            for (int p : {0, 341, 683, 1024}) {
                engine->DrawFrame(p);
                EXPECT_EQ(FrameHash(engine->FrameBitmap()), g.hash[s * 4 + k])
                    << "effect " << g.effect << " size " << (s ? "13x9" : "7x5") << " p " << p;
                ++k;
            }
        }
    }
    engine->SetRandomSource({});
}

// The examples that come with the rules, checked on decoded pixels.
TEST_F(TransitionTest, RuleExamples) {
    // Cross-dissolve truncates: 100 and 201 at 512 give 150.
    engine->SetSize(1, 1);
    engine->FromBitmap()->ScanLine(0)[0] = 100;
    engine->ToBitmap()->ScanLine(0)[0] = 201;
    engine->TransitionEffect = lxttCrossDissolve;
    engine->DrawFrame(512);
    EXPECT_EQ(engine->FrameBitmap()->ScanLine(0)[0], 150);

    // Fade out and in is all background at 512.
    Prepare(13, 9);
    engine->TransitionEffect = lxttFadeOutIn;
    engine->DrawFrame(512);
    for (const Pixel& px : Read(engine->FrameBitmap())) ASSERT_EQ(px, Back);

    // Left to right on 1000 columns at 100: T on columns 0..96.
    Prepare(1000, 2);
    engine->TransitionEffect = lxttLeftRight1;
    engine->DrawFrame(0);
    engine->DrawFrame(100);
    Image img = Read(engine->FrameBitmap());
    EXPECT_EQ(img[96], Coded(TagT, 96, 0));
    EXPECT_EQ(img[97], Coded(TagF, 97, 0));

    // Right to left rounds half to even: W = 3, q = 512 starts at column 2 (1.5 -> 2),
    // and the block of width Round(1.5) = 2 reaches past the edge (clipped).
    Prepare(3, 1);
    engine->TransitionEffect = lxttRightLeft2;
    engine->DrawFrame(0);
    engine->DrawFrame(512);
    img = Read(engine->FrameBitmap());
    EXPECT_EQ(img[1], Coded(TagF, 1, 0));
    EXPECT_EQ(img[2], Red);
    // W = 1, q = 512: Round(0.5) = 0, the line at column 0.
    Prepare(1, 3);
    engine->TransitionEffect = lxttRightLeft2;
    engine->DrawFrame(0);
    engine->DrawFrame(512);
    EXPECT_EQ(Read(engine->FrameBitmap())[0], Red);

    // The still part of the from-picture in effect 20 is its left part.
    Prepare(13, 9);
    engine->TransitionEffect = lxttMoveRightLeft2;
    engine->DrawFrame(256);
    img = Read(engine->FrameBitmap());
    const int c = (768 * 13) >> 10;   // 9
    EXPECT_EQ(img[0], Coded(TagF, 0, 0));
    EXPECT_EQ(img[size_t(c - 1)], Coded(TagF, c - 1, 0));
    EXPECT_EQ(img[size_t(c)], Coded(TagT, 0, 0));

    // Red lines leave out their end point: a vertical line covers rows 0..H-1 only, and a
    // line at the right edge (x = W) draws nothing.
    Prepare(5, 4);
    engine->TransitionEffect = lxttLeftRight2;
    engine->DrawFrame(0);
    engine->DrawFrame(1024);
    for (const Pixel& px : Read(engine->FrameBitmap())) ASSERT_NE(px, Red);

    // Corner slides: from the top left the picture comes with negative offsets.
    Prepare(13, 9);
    engine->TransitionEffect = lxttFromUpLeft;
    engine->DrawFrame(0);
    engine->DrawFrame(512);
    img = Read(engine->FrameBitmap());
    // offsets -(512*13>>10) = -6, -(512*9>>10) = -4: frame (0,0) shows T (6,4).
    EXPECT_EQ(img[0], Coded(TagT, 6, 4));
    EXPECT_EQ(img[size_t(8 * 13 + 12)], Coded(TagF, 12, 8));
}

TEST_F(TransitionTest, RandomEffectsPickTheDifferenceOfTheQuadraticTarget) {
    Prepare(40, 24);
    ScriptedRandom rnd;
    engine->SetRandomSource(std::ref(rnd));
    engine->TransitionEffect = lxttRandomPoints;
    int64_t total = 0;
    for (int p : Sequence) {
        const int before = rnd.calls;
        engine->DrawFrame(p);
        const int64_t target = p == 0 ? 0 : RoundEven(double(p) * 40 * (p / 180.0) / 1024);
        EXPECT_EQ(rnd.calls - before, (target - total) * 24) << "p " << p;
        if (p != 0) total = target;
        EXPECT_EQ(engine->PrevTarget(), total);
    }
    EXPECT_EQ(total, RoundEven(40 * 1024 / 180.0));   // about 5.69 picks per pixel of a row

    Prepare(40, 24);
    engine->TransitionEffect = lxttRandomBoxes;
    rnd.calls = 0;
    engine->DrawFrame(0);
    engine->DrawFrame(1024);
    // 15 boxes of 64 pixels, x and y drawn for each.
    EXPECT_EQ(rnd.calls, 2 * RoundEven(1024.0 * 15 * (1024 / 180.0) / 1024));
    engine->SetRandomSource({});
}

// A generator that answers outside 0..n-1 cannot move a copy outside the bitmaps.
TEST_F(TransitionTest, OutOfRangeRandomValuesAreLimited) {
    for (int v : {-7, 1 << 30}) {
        Prepare(13, 9);
        engine->SetRandomSource([v](int) { return v; });
        for (TLXTransitionType e : {lxttRandomPoints, lxttRandomBoxes}) {
            engine->TransitionEffect = e;
            engine->DrawFrame(0);
            engine->DrawFrame(700);
        }
    }
    engine->SetRandomSource({});
}

// Every effect at sizes and progress values that could overrun: only the sanitizers and the
// absence of a crash tell.
TEST_F(TransitionTest, HostileSizesAndProgressStayInsideTheBitmaps) {
    const std::vector<SizeCase> sizes = {{0, 0}, {1, 1}, {1, 2}, {2, 1}, {0, 5}, {5, 0}, {-3, 4},
                                         {20000, 1}, {1, 20000}, {9, 7}};
    for (SizeCase sz : sizes)
        for (int e = lxttNone; e <= lxttCenterZoom2; ++e) {
            engine->SetSize(sz.w, sz.h);
            engine->TransitionEffect = TLXTransitionType(e);
            for (int p : {0, 1, 341, 512, 683, 1023, 1024, -5, 5000, 1 << 30, -(1 << 30)}) engine->DrawFrame(p);
        }
    SUCCEED();
}

TEST_F(TransitionTest, ProgressComesFromTheClockOfThePreviousTick) {
    UseClock();
    std::vector<int> shown;
    struct Spy {
        TLXTransitionEffects* e;
        std::vector<int>* shown;
        void Present(TBitmap*, int, int) { shown->push_back(e->Progress()); }
    } spy{engine.get(), &shown};
    engine->OnPresentFrame = MakeMethod(&spy, &Spy::Present);

    Prepare(13, 9);
    engine->TransitionEffect = lxttCrossDissolve;
    engine->TransitionDuration = 1000;
    now = 5000;
    engine->Start(true);
    RunTicks({5000, 5300, 6000});
    EXPECT_EQ(shown, (std::vector<int>{0, 0, 307}));
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(engine->FrameCount(), 3);
    EXPECT_EQ(view->updates, 1);

    // The counter wraps: elapsed 512 of 1024 gives progress 512.
    shown.clear();
    Prepare(13, 9);
    engine->TransitionDuration = 1024;
    now = 0xFFFFFF00u;
    engine->Start(true);
    RunTicks({0xFFFFFF00u, 0x00000100u, 0x00000101u});
    EXPECT_EQ(shown, (std::vector<int>{0, 0, 512}));
    EXPECT_TRUE(engine->Running());
    engine->Stop();

    // Duration 0 and negative durations: one frame at progress 0, then the end.
    for (int d : {0, -1, -2000000000}) {
        shown.clear();
        Prepare(13, 9);
        engine->TransitionDuration = d;
        now = 100;
        engine->Start(true);
        RunTicks({100, 5000});
        EXPECT_EQ(shown, std::vector<int>{0}) << d;
        EXPECT_FALSE(engine->Running());
    }
    engine->OnPresentFrame = {};
}

TEST_F(TransitionTest, PaintLockAccounting) {
    UseClock();
    engine->TransitionEffect = lxttCrossDissolve;

    // Too small: no run, no lock.
    engine->SetSize(1, 1);
    engine->Start(true);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(view->locks, 0);

    // One direction of 2 is enough.
    Prepare(1, 2);
    engine->Start(true);
    EXPECT_TRUE(engine->Running());
    EXPECT_EQ(view->locks, 1);
    EXPECT_TRUE(engine->Timer()->Enabled());

    // A second start without a new size keeps one engine lock.
    engine->Start(true);
    EXPECT_EQ(view->locks, 1);

    // Stop gives it back without a repaint of its own, then updates the view once.
    engine->Stop();
    EXPECT_EQ(view->locks, 0);
    EXPECT_EQ(view->noUpdateUnlocks, 2);
    EXPECT_EQ(view->updates, 1);
    EXPECT_FALSE(engine->Timer()->Enabled());
    EXPECT_EQ(engine->Width(), 1);
    EXPECT_EQ(engine->FrameBitmap()->Width(), 1);

    // Stop when idle does nothing.
    engine->Stop();
    EXPECT_EQ(view->noUpdateUnlocks, 2);
    EXPECT_EQ(view->updates, 1);

    // A start after a finished transition without a new size runs nothing.
    engine->Start(true);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(view->locks, 0);

    // lxttNone while running ends the running transition instead of leaving its lock held.
    Prepare(13, 9);
    engine->Start(false);
    EXPECT_EQ(view->locks, 1);
    engine->TransitionEffect = lxttNone;
    engine->Start(true);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(view->locks, 0);
    EXPECT_EQ(view->updates, 1);   // that run did not ask for an update

    // SetSize stops a running transition.
    engine->TransitionEffect = lxttFadeIn;
    Prepare(13, 9);
    engine->Start(false);
    EXPECT_EQ(view->locks, 1);
    engine->SetSize(20, 20);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(view->locks, 0);
    EXPECT_EQ(engine->Width(), 20);

    // Tick without Start does nothing.
    engine->Tick(nullptr);
    EXPECT_EQ(engine->FrameCount(), 0);
}

// A present callback that stops the engine (the show aborting on input) ends the tick.
TEST_F(TransitionTest, StopFromThePresentCallback) {
    UseClock();
    struct Stopper {
        TLXTransitionEffects* e;
        void Present(TBitmap*, int, int) { e->Stop(); }
    } stopper{engine.get()};
    engine->OnPresentFrame = MakeMethod(&stopper, &Stopper::Present);
    Prepare(13, 9);
    engine->TransitionEffect = lxttCenterZoom1;
    engine->Start(true);
    engine->Tick(nullptr);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(view->locks, 0);
    engine->OnPresentFrame = {};
}

// The fades read the view's background at every frame, system colours resolved.
TEST_F(TransitionTest, FadesResolveTheBackgroundAtEachFrame) {
    Prepare(7, 5);
    engine->TransitionEffect = lxttFadeIn;
    engine->DrawFrame(0);
    EXPECT_EQ(Read(engine->FrameBitmap())[0], Back);
    view->SetBackground(clBtnFace);
    engine->DrawFrame(0);
    const TRGB face = TColorToRGB(clBtnFace);
    EXPECT_EQ(Read(engine->FrameBitmap())[3], (Pixel{face.b, face.g, face.r}));
}

// Freeing the engine in the middle of a run touches neither the view nor freed memory.
TEST_F(TransitionTest, DestroyWhileRunning) {
    UseClock();
    Prepare(13, 9);
    engine->TransitionEffect = lxttRandomBoxes;
    engine->Start(true);
    engine->Tick(nullptr);
    engine.reset();
    EXPECT_EQ(view->updates, 0);
}

// Through the real timer: a short transition ends on its own.
TEST_F(TransitionTest, RealTimerEndsTheTransition) {
    Prepare(64, 48);
    engine->TransitionEffect = lxttCrossDissolve;
    engine->TransitionDuration = 50;
    engine->Start(true);
    for (int i = 0; i < 400 && engine->Running(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        usleep(2000);
    }
    EXPECT_FALSE(engine->Running());
    EXPECT_GE(engine->FrameCount(), 1);
    EXPECT_EQ(view->locks, 0);
}

}  // namespace
