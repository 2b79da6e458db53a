// The per-pixel correction eight pixels at a time with AVX2: the same
// integer arithmetic as CorrectPixel, with selects in place of branches and
// gathers in place of table look-ups. Only the functions marked AVX2 use the
// instructions, and only after the CPU check below said yes, so the library
// still runs on any x86-64. The check also picks the AVX-512 form.
#include "simd.h"

#if ZANDOLIB_HAVE_WIDE

#include <cpuid.h>
#include <immintrin.h>

namespace zandolib {

namespace {

WideLevel Detect() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return WideLevel::None;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    (void)hi;
    // The OS must save the vector state we use: YMM, and for AVX-512 also
    // the mask and upper ZMM registers.
    if ((lo & 6) != 6 || !__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2)) return WideLevel::None;
    const bool avx512 = (lo & 0xE6) == 0xE6 && (b & bit_AVX512F) && (b & bit_AVX512BW) && (b & bit_AVX512VL);
    return avx512 ? WideLevel::Avx512 : WideLevel::Avx2;
}

int g_forced = -1;  // test hook: a level to use instead of the detected one

}  // namespace

WideLevel BestWideLevel() {
    // Asked on first use; nothing runs at load.
    static int known = -1;
    if (known < 0) known = static_cast<int>(Detect());
    return static_cast<WideLevel>(known);
}

WideLevel ActiveWideLevel() {
    const WideLevel best = BestWideLevel();
    if (g_forced >= 0 && g_forced <= static_cast<int>(best)) return static_cast<WideLevel>(g_forced);
    return best;
}

void ForceWideLevelForTesting(int level) { g_forced = level; }

void WidenTables(const ToneCorrector& e, WideTables& t) {
    for (int i = 0; i < 256; ++i) {
        for (int k = 0; k < 3; ++k) t.curve[k][i] = e.finalCurve[k][i];
        t.recips[i] = static_cast<int32_t>(e.hueRecip[i] | (uint32_t{e.rotateRecip[i]} << 16));
        t.hueShift[i] = e.hueShift[i];
        t.hueSaturation[i] = e.hueSaturation[i];
        t.satByDensity[i] = e.satByDensity[i];
        t.ratio[i] = i < 2 ? 0 : static_cast<int32_t>(static_cast<uint32_t>((uint64_t{1} << 32) / static_cast<uint64_t>(i) + 1));
    }
}

namespace {

#define AVX2 __attribute__((target("avx2")))

// mask ? b : a
AVX2 inline __m256i Sel(__m256i a, __m256i b, __m256i mask) { return _mm256_blendv_epi8(a, b, mask); }
AVX2 inline __m256i Gather(const int32_t* table, __m256i idx) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), idx, 4);
}
AVX2 inline __m256i K(int v) { return _mm256_set1_epi32(v); }

AVX2 inline void CorrectVec(const WideTables& t, __m256i& r, __m256i& g, __m256i& b) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i mx = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
    const __m256i mn = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
    const __m256i delta = _mm256_sub_epi32(mx, mn);
    const __m256i recips = Gather(t.recips, delta);
    const __m256i recip6 = _mm256_and_si256(recips, K(0xFFFF));
    const __m256i recipRot = _mm256_srli_epi32(recips, 16);
    const __m256i dZero = _mm256_cmpeq_epi32(delta, zero);

    // HueIndex: ties for the minimum go to r, then g.
    const __m256i rMin = _mm256_cmpeq_epi32(r, mn), gMin = _mm256_cmpeq_epi32(g, mn);
    const __m256i rg = _mm256_sub_epi32(r, g), br = _mm256_sub_epi32(b, r), gb = _mm256_sub_epi32(g, b);
    const __m256i hDiff = Sel(Sel(rg, br, gMin), gb, rMin);
    const __m256i hBase = Sel(Sel(K(43), K(213), gMin), K(128), rMin);
    __m256i h = _mm256_sub_epi32(hBase, _mm256_srai_epi32(_mm256_mullo_epi32(hDiff, recip6), 8));
    h = _mm256_andnot_si256(dZero, _mm256_and_si256(h, K(0xFF)));
    const __m256i d = _mm256_sub_epi32(Gather(t.hueShift, h), K(128));

    // RotateHue. S = (delta << 16) / mx by the exact 32-bit reciprocal for
    // mx >= 2 (high half of a 32 x 32 product), delta << 16 itself for mx < 2.
    const __m256i n = _mm256_slli_epi32(delta, 16);
    const __m256i ratio = Gather(t.ratio, mx);
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(n, ratio), 32);
    const __m256i odd = _mm256_and_si256(_mm256_mul_epu32(_mm256_srli_epi64(n, 32), _mm256_srli_epi64(ratio, 32)),
                                         _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFF00000000ull)));
    const __m256i s = Sel(_mm256_or_si256(even, odd), n, _mm256_cmpgt_epi32(K(2), mx));
    const __m256i rMax = _mm256_cmpeq_epi32(r, mx), gMax = _mm256_cmpeq_epi32(g, mx);
    const __m256i rDiff = Sel(Sel(rg, br, gMax), gb, rMax);
    const __m256i rBase = Sel(Sel(K(0x40000), K(0x20000), gMax), zero, rMax);
    __m256i hh = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(rDiff, recipRot), rBase), _mm256_slli_epi32(d, 9));
    hh = _mm256_add_epi32(hh, _mm256_and_si256(_mm256_cmpgt_epi32(zero, hh), K(0x60000)));
    hh = _mm256_sub_epi32(hh, _mm256_and_si256(_mm256_cmpgt_epi32(hh, K(0x5FFFF)), K(0x60000)));
    const __m256i f = _mm256_and_si256(hh, K(0xFFFF));
    const __m256i v = mx;
    const __m256i s8 = _mm256_srai_epi32(s, 8);
    const __m256i one = K(65536);
    const __m256i p = _mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_sub_epi32(one, s)), 16);
    const __m256i q = _mm256_srai_epi32(
        _mm256_mullo_epi32(v, _mm256_sub_epi32(one, _mm256_mullo_epi32(s8, _mm256_srai_epi32(f, 8)))), 16);
    const __m256i tt = _mm256_srai_epi32(
        _mm256_mullo_epi32(
            v, _mm256_sub_epi32(one, _mm256_mullo_epi32(s8, _mm256_srai_epi32(_mm256_sub_epi32(one, f), 8)))),
        16);
    const __m256i sector = _mm256_srai_epi32(hh, 16);
    const __m256i e0 = _mm256_cmpeq_epi32(sector, K(0)), e1 = _mm256_cmpeq_epi32(sector, K(1));
    const __m256i e2 = _mm256_cmpeq_epi32(sector, K(2)), e3 = _mm256_cmpeq_epi32(sector, K(3));
    const __m256i e4 = _mm256_cmpeq_epi32(sector, K(4)), e5 = _mm256_cmpeq_epi32(sector, K(5));
    // Sectors 0..5: R = V Q P P T V, G = T V V Q P P, B = P P T V V Q.
    __m256i nr = Sel(Sel(Sel(tt, p, _mm256_or_si256(e2, e3)), q, e1), v, _mm256_or_si256(e0, e5));
    __m256i ng = Sel(Sel(Sel(p, q, e3), tt, e0), v, _mm256_or_si256(e1, e2));
    __m256i nb = Sel(Sel(Sel(q, tt, e2), p, _mm256_or_si256(e0, e1)), v, _mm256_or_si256(e3, e4));
    const __m256i grey = _mm256_and_si256(_mm256_cmpeq_epi32(s, zero), _mm256_cmpeq_epi32(hh, zero));
    nr = Sel(nr, v, grey);
    ng = Sel(ng, v, grey);
    nb = Sel(nb, v, grey);
    const __m256i hRot =
        _mm256_andnot_si256(grey, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(hh, 8), K(10922)), 16));
    // A hue shift of 0 keeps the pixel and its hue.
    const __m256i keep = _mm256_cmpeq_epi32(d, zero);
    r = Sel(nr, r, keep);
    g = Sel(ng, g, keep);
    b = Sel(nb, b, keep);
    h = Sel(hRot, h, keep);

    // Saturation spread.
    const __m256i sat = _mm256_sub_epi32(Gather(t.hueSaturation, h), K(128));
    const __m256i k255 = K(255);
    const __m256i dr = _mm256_sub_epi32(k255, r), dg = _mm256_sub_epi32(k255, g), db = _mm256_sub_epi32(k255, b);
    const __m256i m0 = _mm256_min_epi32(_mm256_min_epi32(dr, dg), db);
    const __m256i level = _mm256_srai_epi32(_mm256_mullo_epi32(sat, Gather(t.satByDensity, m0)), 8);
    __m256i m = m0;
    __m256i part[3] = {_mm256_sub_epi32(dr, m0), _mm256_sub_epi32(dg, m0), _mm256_sub_epi32(db, m0)};
    for (__m256i& pc : part) {
        // shaping[i] = 64 - (((i - 128)^2) >> 8), which is 0 for a part of 0.
        const __m256i x = _mm256_sub_epi32(pc, K(128));
        const __m256i shaping = _mm256_sub_epi32(K(64), _mm256_srai_epi32(_mm256_mullo_epi32(x, x), 8));
        const __m256i o = _mm256_srai_epi32(_mm256_mullo_epi32(level, shaping), 6);
        const __m256i grow = _mm256_cmpgt_epi32(o, zero);
        pc = _mm256_add_epi32(pc, _mm256_and_si256(grow, o));
        m = _mm256_sub_epi32(m, Sel(o, _mm256_srai_epi32(o, 1), grow));
    }
    m = _mm256_max_epi32(m, zero);
    r = _mm256_sub_epi32(k255, _mm256_min_epi32(_mm256_add_epi32(part[0], m), k255));
    g = _mm256_sub_epi32(k255, _mm256_min_epi32(_mm256_add_epi32(part[1], m), k255));
    b = _mm256_sub_epi32(k255, _mm256_min_epi32(_mm256_add_epi32(part[2], m), k255));
}

// One pixel's three bytes per 32-bit lane, from 24 packed bytes.
AVX2 inline __m256i LoadPacked3(const uint8_t* p) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));              // bytes 0..15
    const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));         // bytes 16..23
    const __m128i upper = _mm_alignr_epi8(hi, lo, 12);                                    // bytes 12..27
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_set_m128i(_mm_shuffle_epi8(upper, spread), _mm_shuffle_epi8(lo, spread));
}

// The reverse: writes exactly 24 bytes.
AVX2 inline void StorePacked3(uint8_t* p, __m256i v) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i lo = _mm_shuffle_epi8(_mm256_castsi256_si128(v), pack);
    const __m128i hi = _mm_shuffle_epi8(_mm256_extracti128_si256(v, 1), pack);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), lo);  // bytes 12..15 are fixed by the next store
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 12), hi);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(hi, 8));
    __builtin_memcpy(p + 20, &last, 4);
}

template <int Step, int OffR, int OffG, int OffB>
AVX2 int RowAvx2(const WideTables& t, const uint8_t* src, uint8_t* dst, int width) {
    // For step 4 in R, G, B order the block's 32 bytes end on the first byte
    // of the pixel after it, so a block needs one more pixel behind it.
    constexpr int kAfter = (Step == 4 && OffR == 0) ? 1 : 0;
    const __m256i byte = K(0xFF);
    int x = 0;
    for (; x + 8 + kAfter <= width; x += 8) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(x) * Step;
        uint8_t* o = dst + static_cast<ptrdiff_t>(x) * Step;
        const __m256i in = Step == 3 ? LoadPacked3(s) : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        __m256i r = Gather(t.curve[0], _mm256_and_si256(_mm256_srli_epi32(in, 8 * OffR), byte));
        __m256i g = Gather(t.curve[1], _mm256_and_si256(_mm256_srli_epi32(in, 8 * OffG), byte));
        __m256i b = Gather(t.curve[2], _mm256_and_si256(_mm256_srli_epi32(in, 8 * OffB), byte));
        CorrectVec(t, r, g, b);
        __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(r, 8 * OffR), _mm256_slli_epi32(g, 8 * OffG)),
                                      _mm256_slli_epi32(b, 8 * OffB));
        if (Step == 3) {
            StorePacked3(o, out);
        } else {
            // Byte 3 of each slot is not a colour byte: it keeps the
            // destination's own value.
            const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o));
            out = _mm256_or_si256(out, _mm256_andnot_si256(K(0x00FFFFFF), old));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), out);
        }
    }
    return x;
}

}  // namespace

int CorrectRowAvx2(const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step, bool bgr) {
    if (step == 3) return bgr ? RowAvx2<3, 2, 1, 0>(t, src, dst, width) : RowAvx2<3, 0, 1, 2>(t, src, dst, width);
    if (step == 4) return bgr ? RowAvx2<4, 2, 1, 0>(t, src, dst, width) : RowAvx2<4, 0, 1, 2>(t, src, dst, width);
    return 0;
}

int CorrectRowWide(WideLevel level, const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step,
                   bool bgr) {
    switch (level) {
        case WideLevel::Avx512: return CorrectRowAvx512(t, src, dst, width, step, bgr);
        case WideLevel::Avx2: return CorrectRowAvx2(t, src, dst, width, step, bgr);
        default: return 0;
    }
}

}  // namespace zandolib

#endif
