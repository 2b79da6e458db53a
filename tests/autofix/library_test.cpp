// Tests of the built libZandolib through its exports, loaded with dlopen.
// Every test loads a private copy of the file, so each starts from the
// zero-filled engine of a freshly loaded library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Zandolib.h"

namespace {

using PrepareFn = int32_t (*)(const uint8_t*, int32_t, int16_t, int16_t);
using ApplyFn = int32_t (*)(uint8_t*, int32_t, int16_t, int16_t);
using Apply2Fn = int32_t (*)(const uint8_t*, uint8_t*, int32_t, int32_t, int16_t, int16_t);
using VoidFn = void (*)();
using AdjustFn = void (*)(int16_t);

const char* const kExports[] = {"PrepareReset",        "PrepareRGBMeshed",     "PrepareAlphaRGBMeshed",
                                "PrepareBGRMeshed",    "PrepareBGRAlphaMeshed", "PrepareComplete",
                                "?PrepareAdjust@@YAXF@Z", "ApplyRGBMeshed",    "ApplyAlphaRGBMeshed",
                                "ApplyBGRMeshed",      "ApplyBGRAlphaMeshed",  "ApplyRGBMeshed2",
                                "ApplyAlphaRGBMeshed2", "ApplyBGRMeshed2",     "ApplyBGRAlphaMeshed2"};
const char kCxxAdjust[] = "_Z13PrepareAdjusts";

std::string Shell(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<char>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/zandolib-test-XXXXXX";
        const char* d = mkdtemp(tmpl);
        if (d) path_ = d;
    }
    ~TempDir() {
        if (!path_.empty()) Shell("rm -rf '" + path_ + "'");
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A private copy of the library, loaded and resolved by name.
class Library {
public:
    Library() {
        file_ = dir_.path() + "/libZandolib-copy.so";
        WriteAll(file_, ReadAll(ZANDOLIB_PATH));
        handle_ = dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            ADD_FAILURE() << "dlopen: " << dlerror();
            return;
        }
        Reset = Sym<VoidFn>("PrepareReset");
        Complete = Sym<VoidFn>("PrepareComplete");
        Adjust = Sym<AdjustFn>("?PrepareAdjust@@YAXF@Z");
        AdjustCxx = Sym<AdjustFn>(kCxxAdjust);
        prepare_[0] = Sym<PrepareFn>("PrepareRGBMeshed");
        prepare_[1] = Sym<PrepareFn>("PrepareAlphaRGBMeshed");
        prepare_[2] = Sym<PrepareFn>("PrepareBGRMeshed");
        prepare_[3] = Sym<PrepareFn>("PrepareBGRAlphaMeshed");
        apply_[0] = Sym<ApplyFn>("ApplyRGBMeshed");
        apply_[1] = Sym<ApplyFn>("ApplyAlphaRGBMeshed");
        apply_[2] = Sym<ApplyFn>("ApplyBGRMeshed");
        apply_[3] = Sym<ApplyFn>("ApplyBGRAlphaMeshed");
        apply2_[0] = Sym<Apply2Fn>("ApplyRGBMeshed2");
        apply2_[1] = Sym<Apply2Fn>("ApplyAlphaRGBMeshed2");
        apply2_[2] = Sym<Apply2Fn>("ApplyBGRMeshed2");
        apply2_[3] = Sym<Apply2Fn>("ApplyBGRAlphaMeshed2");
    }
    ~Library() {
        if (handle_) dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool ok() const { return ok_ && handle_; }
    void* handle() const { return handle_; }
    const std::string& file() const { return file_; }

    // Layout codes 3, 4, -3, -4 select the export.
    static int Slot(int layout) { return layout == 3 ? 0 : layout == 4 ? 1 : layout == -3 ? 2 : 3; }
    int32_t Prepare(int layout, const uint8_t* p, int32_t stride, int w, int h) {
        return prepare_[Slot(layout)](p, stride, static_cast<int16_t>(w), static_cast<int16_t>(h));
    }
    int32_t Apply(int layout, uint8_t* p, int32_t stride, int w, int h) {
        return apply_[Slot(layout)](p, stride, static_cast<int16_t>(w), static_cast<int16_t>(h));
    }
    int32_t Apply2(int layout, const uint8_t* s, uint8_t* d, int32_t ss, int32_t ds, int w, int h) {
        return apply2_[Slot(layout)](s, d, ss, ds, static_cast<int16_t>(w), static_cast<int16_t>(h));
    }

    VoidFn Reset = nullptr, Complete = nullptr;
    AdjustFn Adjust = nullptr, AdjustCxx = nullptr;

private:
    template <class F>
    F Sym(const char* name) {
        void* p = dlsym(handle_, name);
        if (!p) {
            ADD_FAILURE() << "dlsym(" << name << ") failed";
            ok_ = false;
        }
        return reinterpret_cast<F>(p);
    }

    TempDir dir_;
    std::string file_;
    void* handle_ = nullptr;
    bool ok_ = true;
    PrepareFn prepare_[4] = {};
    ApplyFn apply_[4] = {};
    Apply2Fn apply2_[4] = {};
};

// --- pictures in the four layouts ------------------------------------------

using Rgb = std::array<uint8_t, 3>;

struct Picture {
    int w, h;
    std::vector<Rgb> px;
};

// A toned ramp with noise and a colour cast: gives curves that are far from
// the identity and exercises every band.
Picture MakePhoto(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    Picture p{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = (x * 200) / w + (y * 40) / h + 5;
            const int n = static_cast<int>(rng() % 13) - 6;
            auto c = [](int q) { return static_cast<uint8_t>(q < 0 ? 0 : q > 255 ? 255 : q); };
            p.px.push_back({c(v + 12 + n), c(v + n), c(v - 15 + n + static_cast<int>(rng() % 40 == 0) * 90)});
        }
    return p;
}

// Every grey, then random colours.
Picture MakeProbe() {
    std::mt19937 rng(7);
    Picture p{64, 32, {}};
    for (int i = 0; i < 256; ++i) p.px.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
    while (static_cast<int>(p.px.size()) < p.w * p.h)
        p.px.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
    return p;
}

int Step(int layout) { return layout < 0 ? -layout : layout; }

// Offsets of R, G, B within a pixel.
std::array<int, 3> Offsets(int layout) {
    switch (layout) {
        case 3: return {0, 1, 2};
        case 4: return {1, 2, 3};
        default: return {2, 1, 0};
    }
}

struct Buffer {
    std::vector<uint8_t> bytes;
    int32_t stride = 0;
    size_t first = 0;  // offset of the first row
    int w = 0, h = 0, layout = 3;
    uint8_t* start() { return bytes.data() + first; }
    size_t PixelAt(int x, int y) const { return first + static_cast<ptrdiff_t>(y) * stride + static_cast<size_t>(x) * Step(layout); }
};

// Padding and alpha bytes are random, so writes outside the colour bytes show.
Buffer Lay(const Picture& p, int layout, bool bottomUp = false, int pad = 5, unsigned seed = 99) {
    std::mt19937 rng(seed);
    Buffer b;
    b.w = p.w;
    b.h = p.h;
    b.layout = layout;
    const int row = p.w * Step(layout) + pad;
    b.bytes.resize(static_cast<size_t>(row) * p.h);
    for (auto& c : b.bytes) c = static_cast<uint8_t>(rng());
    b.stride = bottomUp ? -row : row;
    b.first = bottomUp ? static_cast<size_t>(row) * (p.h - 1) : 0;
    const auto off = Offsets(layout);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            for (int c = 0; c < 3; ++c) b.bytes[b.PixelAt(x, y) + off[c]] = p.px[y * p.w + x][c];
    return b;
}

std::vector<Rgb> Colours(const Buffer& b) {
    std::vector<Rgb> out;
    const auto off = Offsets(b.layout);
    for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x) {
            const size_t p = b.PixelAt(x, y);
            out.push_back({b.bytes[p + off[0]], b.bytes[p + off[1]], b.bytes[p + off[2]]});
        }
    return out;
}

// Every byte that is not a colour byte must be as before.
void ExpectOnlyColoursChanged(const Buffer& before, const Buffer& after) {
    ASSERT_EQ(before.bytes.size(), after.bytes.size());
    std::vector<bool> colour(before.bytes.size(), false);
    const auto off = Offsets(before.layout);
    for (int y = 0; y < before.h; ++y)
        for (int x = 0; x < before.w; ++x)
            for (int c = 0; c < 3; ++c) colour[before.PixelAt(x, y) + off[c]] = true;
    for (size_t i = 0; i < colour.size(); ++i)
        if (!colour[i]) {
            ASSERT_EQ(before.bytes[i], after.bytes[i]) << "byte " << i << " is not a colour byte";
        }
}

const int kLayouts[] = {3, 4, -3, -4};

// Analyse `photo` in one layout, correct `probe` in another.
std::vector<Rgb> Correct(int prepLayout, int applyLayout, const Picture& photo, const Picture& probe) {
    Library lib;
    if (!lib.ok()) return {};
    lib.Reset();
    Buffer in = Lay(photo, prepLayout);
    EXPECT_EQ(lib.Prepare(prepLayout, in.start(), in.stride, in.w, in.h), photo.w * photo.h);
    lib.Complete();
    Buffer out = Lay(probe, applyLayout);
    const Buffer before = out;
    EXPECT_EQ(lib.Apply(applyLayout, out.start(), out.stride, out.w, out.h), 0);
    ExpectOnlyColoursChanged(before, out);
    return Colours(out);
}

// --- exports ----------------------------------------------------------------

TEST(AutofixExports, EveryNameResolvesAndRuns) {
    Library lib;
    ASSERT_TRUE(lib.ok());
    for (const char* name : kExports) EXPECT_NE(dlsym(lib.handle(), name), nullptr) << name;
    EXPECT_NE(dlsym(lib.handle(), kCxxAdjust), nullptr);
    EXPECT_EQ(dlsym(lib.handle(), "XPrepareAdjust__YAXF_Z"), nullptr) << "placeholder name still exported";
    EXPECT_STREQ(ZANDOLIB_PREPARE_ADJUST_SYMBOL, "?PrepareAdjust@@YAXF@Z");

    // Call each once: four Prepare layouts of one pixel each, then every Apply form.
    lib.Reset();
    uint8_t px[4] = {10, 120, 200, 77};
    int32_t total = 0;
    for (int layout : kLayouts) EXPECT_EQ(lib.Prepare(layout, px, 4, 1, 1), ++total);
    lib.Complete();
    lib.Adjust(200);
    lib.AdjustCxx(255);
    for (int layout : kLayouts) {
        uint8_t a[4] = {10, 120, 200, 77}, b[4] = {0, 0, 0, 0};
        EXPECT_EQ(lib.Apply(layout, a, 4, 1, 1), 0);
        EXPECT_EQ(lib.Apply2(layout, px, b, 4, 4, 1, 1), 0);
    }
}

TEST(AutofixExports, BothAdjustNamesAreTheSameOperation) {
    const Picture photo = MakePhoto(40, 30, 3), probe = MakeProbe();
    std::vector<Rgb> results[2];
    for (int which = 0; which < 2; ++which) {
        Library lib;
        ASSERT_TRUE(lib.ok());
        lib.Reset();
        Buffer in = Lay(photo, 3);
        lib.Prepare(3, in.start(), in.stride, in.w, in.h);
        lib.Complete();
        (which ? lib.AdjustCxx : lib.Adjust)(100);
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        results[which] = Colours(out);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST(AutofixExports, DynamicSymbolTableHoldsExactlyTheExports) {
    int status = 0;
    const std::string out = Shell(std::string("nm -D --defined-only '") + ZANDOLIB_PATH + "'", &status);
    ASSERT_EQ(status, 0) << out;
    std::set<std::string> names;
    std::istringstream lines(out);
    std::string addr, type, name;
    while (lines >> addr >> type >> name) {
#ifdef ZANDOLIB_SANITIZED
        if (name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0 || name.rfind("__odr_asan", 0) == 0) continue;
#endif
        names.insert(name);
    }
    std::set<std::string> want(std::begin(kExports), std::end(kExports));
    want.insert(kCxxAdjust);
    EXPECT_EQ(names, want);
}

TEST(AutofixExports, NeedsNothingButTheCLibrary) {
    int status = 0;
    const std::string out = Shell(std::string("readelf -d '") + ZANDOLIB_PATH + "'", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Library soname: [libZandolib.so.1]"), std::string::npos) << out;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find("Shared library: [");
        if (at == std::string::npos) continue;
        const std::string lib = line.substr(at + 17, line.find(']', at) - at - 17);
        bool allowed = lib == "libc.so.6" || lib == "libm.so.6";
#ifdef ZANDOLIB_SANITIZED
        allowed = allowed || lib.rfind("libasan.so", 0) == 0 || lib.rfind("libubsan.so", 0) == 0 ||
                  lib.rfind("libstdc++.so", 0) == 0 || lib.rfind("libgcc_s.so", 0) == 0;
#endif
        EXPECT_TRUE(allowed) << "unexpected dependency " << lib;
    }
}

// --- the post-link rename tool ------------------------------------------------

TEST(AutofixRenameTool, RerunOnTheBuiltLibraryChangesNothing) {
    TempDir dir;
    const std::string copy = dir.path() + "/lib.so";
    const std::vector<char> original = ReadAll(ZANDOLIB_PATH);
    WriteAll(copy, original);
    int status = 0;
    Shell(std::string(RENAME_TOOL_PATH) + " '" + copy + "' XPrepareAdjust__YAXF_Z %3FPrepareAdjust@@YAXF@Z 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadAll(copy), original);
}

TEST(AutofixRenameTool, RefusesBadInputAndLeavesItAlone) {
    TempDir dir;
    const std::string lib = dir.path() + "/lib.so";
    const std::vector<char> image = ReadAll(ZANDOLIB_PATH);
    struct Case {
        const char* what;
        std::vector<char> bytes;
        const char* oldName;
        const char* newName;
    };
    std::vector<char> truncated(image.begin(), image.begin() + 200);
    std::vector<char> badShoff = image;
    std::memset(badShoff.data() + 0x28, 0x7f, 8);  // e_shoff of an ELF64 header
    const Case cases[] = {
        {"lengths differ", image, "ApplyRGBMeshed", "ApplyRGBMeshed22"},
        {"name absent", image, "NoSuchSymbolAtAll", "NoSuchSymbolAtAlx"},
        {"not ELF", std::vector<char>(100, 'x'), "a", "b"},
        {"truncated", truncated, "XPrepareAdjust__YAXF_Z", "?PrepareAdjust@@YAXF@Z"},
        {"section headers out of range", badShoff, "XPrepareAdjust__YAXF_Z", "?PrepareAdjust@@YAXF@Z"},
        {"bad escape", image, "%zz", "abc"},
    };
    for (const Case& c : cases) {
        WriteAll(lib, c.bytes);
        int status = 0;
        const std::string out =
            Shell(std::string(RENAME_TOOL_PATH) + " '" + lib + "' '" + c.oldName + "' '" + c.newName + "' 2>&1", &status);
        EXPECT_NE(status, 0) << c.what;
        EXPECT_NE(out.find("rename_dynsym:"), std::string::npos) << c.what << ": " << out;
        EXPECT_EQ(ReadAll(lib), c.bytes) << c.what;
    }
}

TEST(AutofixRenameTool, DamagedObjectsNeverCrashIt) {
    // Random bytes in the headers and the symbol, string and hash tables:
    // the tool must end with 0 or 1 (done or refused), never a signal.
    TempDir dir;
    const std::string lib = dir.path() + "/lib.so";
    const std::vector<char> image = ReadAll(ZANDOLIB_PATH);
    ASSERT_GT(image.size(), 0x1000u);
    std::mt19937 rng(1234);
    for (int round = 0; round < 150; ++round) {
        std::vector<char> bytes = image;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly the first pages (ELF header, dynamic tables), sometimes
            // the section header table at the end.
            const size_t span = rng() % 4 ? 0x800 : bytes.size();
            const size_t at = rng() % 4 || span != bytes.size() ? rng() % span : bytes.size() - 1 - rng() % 0x400;
            bytes[at] = static_cast<char>(rng());
        }
        WriteAll(lib, bytes);
        int status = 0;
        // Sanitizer reports get exit codes of their own, so they cannot pass for a refusal.
        Shell(std::string("ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=87:halt_on_error=1 ") + RENAME_TOOL_PATH +
                  " '" + lib + "' XPrepareAdjust__YAXF_Z %3FPrepareAdjust@@YAXF@Z 2>/dev/null",
              &status);
        ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": killed by signal";
        ASSERT_LE(WEXITSTATUS(status), 1) << "round " << round;
    }
}

TEST(AutofixRenameTool, RefusesAGnuHashTable) {
    // The C library itself carries a GNU hash table.
    const char* libc = "/lib/x86_64-linux-gnu/libc.so.6";
    if (access(libc, R_OK) != 0) GTEST_SKIP() << "no " << libc;
    TempDir dir;
    const std::string copy = dir.path() + "/libc.so";
    const std::vector<char> original = ReadAll(libc);
    WriteAll(copy, original);
    int status = 0;
    const std::string out = Shell(std::string(RENAME_TOOL_PATH) + " '" + copy + "' malloc mallok 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("GNU hash"), std::string::npos) << out;
    EXPECT_EQ(ReadAll(copy), original);
}

// --- layouts ------------------------------------------------------------------

TEST(AutofixLayouts, AllFourGiveTheSameColours) {
    const Picture photo = MakePhoto(90, 60, 1), probe = MakeProbe();
    const std::vector<Rgb> reference = Correct(3, 3, photo, probe);
    ASSERT_EQ(reference.size(), probe.px.size());
    for (int prep : kLayouts)
        for (int apply : kLayouts)
            EXPECT_EQ(Correct(prep, apply, photo, probe), reference) << "prepare " << prep << ", apply " << apply;
}

TEST(AutofixLayouts, BottomUpRowsGiveTheSameResult) {
    const Picture photo = MakePhoto(50, 40, 2), probe = MakeProbe();
    for (int layout : kLayouts) {
        std::vector<Rgb> results[2];
        for (int bottomUp = 0; bottomUp < 2; ++bottomUp) {
            Library lib;
            ASSERT_TRUE(lib.ok());
            lib.Reset();
            Buffer in = Lay(photo, layout, bottomUp);
            lib.Prepare(layout, in.start(), in.stride, in.w, in.h);
            lib.Complete();
            Buffer out = Lay(probe, layout, bottomUp);
            const Buffer before = out;
            lib.Apply(layout, out.start(), out.stride, out.w, out.h);
            ExpectOnlyColoursChanged(before, out);
            results[bottomUp] = Colours(out);
        }
        EXPECT_EQ(results[0], results[1]) << "layout " << layout;
    }
}

TEST(AutofixLayouts, TwoBufferFormsMatchInPlaceAndKeepDestinationAlpha) {
    const Picture photo = MakePhoto(64, 48, 4), probe = MakeProbe();
    Library lib;
    ASSERT_TRUE(lib.ok());
    lib.Reset();
    Buffer in = Lay(photo, -4);
    lib.Prepare(-4, in.start(), in.stride, in.w, in.h);
    lib.Complete();
    for (int layout : kLayouts) {
        Buffer inPlace = Lay(probe, layout, false, 3, 11);
        lib.Apply(layout, inPlace.start(), inPlace.stride, inPlace.w, inPlace.h);

        const Buffer src = Lay(probe, layout, false, 3, 11);
        const Buffer srcBefore = src;
        // Destination: other padding, its own random alpha, bottom-up.
        Buffer dst = Lay(MakePhoto(probe.w, probe.h, 9), layout, true, 7, 23);
        const Buffer dstBefore = dst;
        EXPECT_EQ(lib.Apply2(layout, src.bytes.data() + src.first, dst.start(), src.stride, dst.stride, dst.w, dst.h), 0);
        EXPECT_EQ(src.bytes, srcBefore.bytes) << "source changed, layout " << layout;
        ExpectOnlyColoursChanged(dstBefore, dst);
        EXPECT_EQ(Colours(dst), Colours(inPlace)) << "layout " << layout;
    }
}

// --- call order -------------------------------------------------------------

TEST(AutofixLifecycle, ApplyBeforeAnyCompleteTurnsEverythingBlack) {
    const Picture probe = MakeProbe();
    for (bool reset : {false, true}) {
        Library lib;
        ASSERT_TRUE(lib.ok());
        if (reset) lib.Reset();
        Buffer b = Lay(probe, 4);
        const Buffer before = b;
        EXPECT_EQ(lib.Apply(4, b.start(), b.stride, b.w, b.h), 0);
        ExpectOnlyColoursChanged(before, b);
        for (const Rgb& c : Colours(b)) ASSERT_EQ(c, (Rgb{0, 0, 0})) << "reset " << reset;
    }
}

TEST(AutofixLifecycle, AdjustZeroIsTheIdentityForGreys) {
    const Picture photo = MakePhoto(40, 40, 5), probe = MakeProbe();
    Library lib;
    ASSERT_TRUE(lib.ok());
    lib.Reset();
    Buffer in = Lay(photo, 3);
    lib.Prepare(3, in.start(), in.stride, in.w, in.h);
    lib.Complete();
    lib.Adjust(0);
    Buffer out = Lay(probe, -3);
    lib.Apply(-3, out.start(), out.stride, out.w, out.h);
    const std::vector<Rgb> got = Colours(out);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(got[v], (Rgb{uint8_t(v), uint8_t(v), uint8_t(v)}));
}

TEST(AutofixLifecycle, AdjustCompoundsAndCompleteRestores) {
    const Picture photo = MakePhoto(70, 50, 6), probe = MakeProbe();
    Library lib;
    ASSERT_TRUE(lib.ok());
    lib.Reset();
    Buffer in = Lay(photo, 3);
    lib.Prepare(3, in.start(), in.stride, in.w, in.h);
    auto applied = [&] {
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        return Colours(out);
    };
    lib.Complete();
    const std::vector<Rgb> full = applied();
    lib.Adjust(255);
    const std::vector<Rgb> once = applied();
    lib.Adjust(255);
    const std::vector<Rgb> twice = applied();
    EXPECT_NE(once, twice) << "a second rescaling truncates again";
    lib.Adjust(128);
    EXPECT_NE(applied(), twice);
    lib.Complete();
    EXPECT_EQ(applied(), full);
}

TEST(AutofixLifecycle, ResetKeepsTheCurvesAndClearsTheStatistics) {
    const Picture a = MakePhoto(60, 40, 7), b = MakePhoto(30, 30, 8), probe = MakeProbe();
    Library lib;
    ASSERT_TRUE(lib.ok());
    auto applied = [&] {
        Buffer out = Lay(probe, 4);
        lib.Apply(4, out.start(), out.stride, out.w, out.h);
        return Colours(out);
    };
    lib.Reset();
    Buffer ba = Lay(a, 3);
    lib.Prepare(3, ba.start(), ba.stride, ba.w, ba.h);
    lib.Complete();
    const std::vector<Rgb> fromA = applied();
    lib.Reset();
    EXPECT_EQ(applied(), fromA) << "reset must keep the last curves";

    // After the reset only b counts.
    Buffer bb = Lay(b, 3);
    EXPECT_EQ(lib.Prepare(3, bb.start(), bb.stride, bb.w, bb.h), 900);
    lib.Complete();
    EXPECT_EQ(applied(), Correct(3, 4, b, probe));
}

TEST(AutofixLifecycle, TotalsAccumulateAndCompleteRebuildsFromAll) {
    const Picture a = MakePhoto(100, 50, 9), b = MakePhoto(20, 20, 10), probe = MakeProbe();
    std::vector<Rgb> staged, together;
    {
        Library lib;
        ASSERT_TRUE(lib.ok());
        lib.Reset();
        Buffer ba = Lay(a, 3), bb = Lay(b, -4);
        EXPECT_EQ(lib.Prepare(3, ba.start(), ba.stride, ba.w, ba.h), 5000);
        lib.Complete();
        EXPECT_EQ(lib.Prepare(-4, bb.start(), bb.stride, bb.w, bb.h), 5400);
        lib.Complete();
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        staged = Colours(out);
    }
    {
        Library lib;
        ASSERT_TRUE(lib.ok());
        lib.Reset();
        Buffer ba = Lay(a, 3), bb = Lay(b, -4);
        lib.Prepare(3, ba.start(), ba.stride, ba.w, ba.h);
        lib.Prepare(-4, bb.start(), bb.stride, bb.w, bb.h);
        lib.Complete();
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        together = Colours(out);
    }
    // The first Complete only cleared the extreme bins, which the second clears anyway.
    EXPECT_EQ(staged, together);
}

TEST(AutofixLifecycle, PrepareBeforeTheFirstResetCountsPixelsButNoStatistics) {
    const Picture photo = MakePhoto(40, 25, 11), probe = MakeProbe();
    std::vector<Rgb> early, empty;
    {
        Library lib;
        ASSERT_TRUE(lib.ok());
        Buffer in = Lay(photo, 3);
        EXPECT_EQ(lib.Prepare(3, in.start(), in.stride, in.w, in.h), 1000);
        lib.Complete();
        lib.Reset();  // fills the tables, keeps the curves
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        early = Colours(out);
    }
    {
        Library lib;
        ASSERT_TRUE(lib.ok());
        lib.Reset();
        lib.Complete();
        Buffer out = Lay(probe, 3);
        lib.Apply(3, out.start(), out.stride, out.w, out.h);
        empty = Colours(out);
    }
    EXPECT_EQ(early, empty);
}

TEST(AutofixLifecycle, EmptySizesAndNullBuffersDoNothing) {
    const Picture photo = MakePhoto(20, 10, 12);
    Library lib;
    ASSERT_TRUE(lib.ok());
    lib.Reset();
    Buffer in = Lay(photo, 3);
    ASSERT_EQ(lib.Prepare(3, in.start(), in.stride, in.w, in.h), 200);
    lib.Complete();
    const struct {
        int w, h;
    } sizes[] = {{0, 10}, {20, 0}, {-5, -5}, {-1, 100}, {0, 0}};
    for (const auto& s : sizes) {
        for (int layout : kLayouts) {
            EXPECT_EQ(lib.Prepare(layout, in.start(), in.stride, s.w, s.h), 200) << s.w << "x" << s.h;
            Buffer b = Lay(photo, layout);
            const Buffer before = b;
            EXPECT_EQ(lib.Apply(layout, b.start(), b.stride, s.w, s.h), 0);
            EXPECT_EQ(lib.Apply2(layout, before.bytes.data(), b.start(), b.stride, b.stride, s.w, s.h), 0);
            EXPECT_EQ(b.bytes, before.bytes);
        }
    }
    for (int layout : kLayouts) {
        EXPECT_EQ(lib.Prepare(layout, nullptr, 60, 20, 10), 200);
        EXPECT_EQ(lib.Apply(layout, nullptr, 60, 20, 10), 0);
        Buffer b = Lay(photo, layout);
        const Buffer before = b;
        EXPECT_EQ(lib.Apply2(layout, nullptr, b.start(), b.stride, b.stride, 20, 10), 0);
        EXPECT_EQ(lib.Apply2(layout, b.start(), nullptr, b.stride, b.stride, 20, 10), 0);
        EXPECT_EQ(b.bytes, before.bytes);
    }
}

}  // namespace
