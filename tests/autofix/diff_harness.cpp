// Runs correction jobs read from stdin and writes what they produced to
// stdout, for the differential test against the Python model.
//
// Pixels go through the shared library's exports (linked normally); the
// curves, which the exports do not show, come from a second engine of the
// same code driven through the same calls.
//
// Input, little-endian:
//   u32 cases
//   per case: u8 nprep, nprep * {i8 layout, i16 w, i16 h, i32 stride, u32 first, u32 len, len bytes}
//             u8 nadj,  nadj * i16 strength
//             u8 napply, napply * {i8 layout, u8 copy, i16 w, i16 h, i32 stride, u32 first, u32 len, len bytes,
//                                  copy ? {i32 stride, u32 first, u32 len, len bytes}}
// Output per case: nprep * i32 total, 3*256 balance, 3*256 final curves,
//   5 * i32 levels (lo, lo', hi, hi', shift), then per apply the destination
//   bytes and, for a copy, the source bytes afterwards.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Zandolib.h"
#include "tone_corrector.h"

namespace {

[[noreturn]] void Die(const char* msg) {
    std::fprintf(stderr, "diff_harness: %s\n", msg);
    std::exit(2);
}

template <class T>
T Read() {
    T v;
    if (std::fread(&v, sizeof v, 1, stdin) != 1) Die("short input");
    return v;
}

struct Buffer {
    int32_t stride = 0;
    uint32_t first = 0;
    std::vector<uint8_t> bytes;
    uint8_t* Start() { return bytes.data() + first; }
};

Buffer ReadBuffer() {
    Buffer b;
    b.stride = Read<int32_t>();
    b.first = Read<uint32_t>();
    const uint32_t len = Read<uint32_t>();
    if (len > (64u << 20)) Die("buffer too large");
    b.bytes.resize(len + 1);  // never empty, so Start() is a valid address
    if (len && std::fread(b.bytes.data(), 1, len, stdin) != len) Die("short buffer");
    if (b.first > len) Die("first byte outside buffer");
    return b;
}

void Write(const void* p, size_t n) {
    if (n && std::fwrite(p, 1, n, stdout) != n) Die("write failed");
}

int32_t PrepareExport(int layout, const uint8_t* p, int32_t stride, int16_t w, int16_t h) {
    switch (layout) {
        case 3: return PrepareRGBMeshed(p, stride, w, h);
        case 4: return PrepareAlphaRGBMeshed(p, stride, w, h);
        case -3: return PrepareBGRMeshed(p, stride, w, h);
        case -4: return PrepareBGRAlphaMeshed(p, stride, w, h);
    }
    Die("bad layout");
}

void ApplyExport(int layout, uint8_t* p, int32_t stride, int16_t w, int16_t h) {
    switch (layout) {
        case 3: ApplyRGBMeshed(p, stride, w, h); return;
        case 4: ApplyAlphaRGBMeshed(p, stride, w, h); return;
        case -3: ApplyBGRMeshed(p, stride, w, h); return;
        case -4: ApplyBGRAlphaMeshed(p, stride, w, h); return;
    }
    Die("bad layout");
}

void ApplyExport2(int layout, const uint8_t* s, uint8_t* d, int32_t ss, int32_t ds, int16_t w, int16_t h) {
    switch (layout) {
        case 3: ApplyRGBMeshed2(s, d, ss, ds, w, h); return;
        case 4: ApplyAlphaRGBMeshed2(s, d, ss, ds, w, h); return;
        case -3: ApplyBGRMeshed2(s, d, ss, ds, w, h); return;
        case -4: ApplyBGRAlphaMeshed2(s, d, ss, ds, w, h); return;
    }
    Die("bad layout");
}

}  // namespace

int main() {
    auto core = std::make_unique<zandolib::ToneCorrector>();
    const uint32_t cases = Read<uint32_t>();
    for (uint32_t c = 0; c < cases; ++c) {
        PrepareReset();
        zandolib::ResetEngine(*core);
        const int nprep = Read<uint8_t>();
        std::vector<int32_t> totals;
        for (int i = 0; i < nprep; ++i) {
            const int layout = Read<int8_t>();
            const int16_t w = Read<int16_t>(), h = Read<int16_t>();
            Buffer b = ReadBuffer();
            totals.push_back(PrepareExport(layout, b.Start(), b.stride, w, h));
            const uint8_t* corePtr = b.Start() + (layout == 4 ? 1 : 0);
            const int32_t coreTotal = zandolib::AnalyzeMeshed(*core, corePtr, b.stride, w, h, layout);
            if (coreTotal != totals.back()) Die("library and engine disagree on the total");
        }
        PrepareComplete();
        const zandolib::LevelsPoints lv = zandolib::BuildCurves(*core);
        const int nadj = Read<uint8_t>();
        for (int i = 0; i < nadj; ++i) {
            const int16_t s = Read<int16_t>();
            PrepareAdjust(s);
            zandolib::AdjustStrength(*core, s);
        }
        Write(totals.data(), totals.size() * sizeof(int32_t));
        Write(core->balanceCurve, sizeof core->balanceCurve);
        Write(core->finalCurve, sizeof core->finalCurve);
        const int32_t levels[5] = {lv.lo, lv.loOut, lv.hi, lv.hiOut, lv.shift};
        Write(levels, sizeof levels);

        const int napply = Read<uint8_t>();
        for (int i = 0; i < napply; ++i) {
            const int layout = Read<int8_t>();
            const bool copy = Read<uint8_t>() != 0;
            const int16_t w = Read<int16_t>(), h = Read<int16_t>();
            Buffer src = ReadBuffer();
            if (copy) {
                Buffer dst = ReadBuffer();
                ApplyExport2(layout, src.Start(), dst.Start(), src.stride, dst.stride, w, h);
                Write(dst.bytes.data(), dst.bytes.size() - 1);
                Write(src.bytes.data(), src.bytes.size() - 1);
            } else {
                ApplyExport(layout, src.Start(), src.stride, w, h);
                Write(src.bytes.data(), src.bytes.size() - 1);
            }
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 2;
}
