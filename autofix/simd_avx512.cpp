// The per-pixel correction sixteen pixels at a time with AVX-512 (F, BW,
// VL): the arithmetic of CorrectPixel, lane by lane, with mask registers in
// place of branches. Used only when the CPU and OS support it.
#include "simd.h"

#if ZANDOLIB_HAVE_WIDE

// GCC 12 warns about the undefined-value helpers inside its own AVX-512
// intrinsic headers (-W[maybe-]uninitialized); those values are never read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>

namespace zandolib {

namespace {

#define AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

using V = __m512i;
using M = __mmask16;

AVX512 inline V K(int v) { return _mm512_set1_epi32(v); }
// m ? b : a
AVX512 inline V Sel(V a, V b, M m) { return _mm512_mask_blend_epi32(m, a, b); }
AVX512 inline V Gather(const int32_t* table, V idx) { return _mm512_i32gather_epi32(idx, table, 4); }
AVX512 inline M Eq(V a, V b) { return _mm512_cmpeq_epi32_mask(a, b); }
AVX512 inline M Gt(V a, V b) { return _mm512_cmpgt_epi32_mask(a, b); }
AVX512 inline V Add(V a, V b) { return _mm512_add_epi32(a, b); }
AVX512 inline V Sub(V a, V b) { return _mm512_sub_epi32(a, b); }
AVX512 inline V Mul(V a, V b) { return _mm512_mullo_epi32(a, b); }

AVX512 inline void CorrectVec(const WideTables& t, V& r, V& g, V& b) {
    const V zero = _mm512_setzero_si512();
    const V mx = _mm512_max_epi32(_mm512_max_epi32(r, g), b);
    const V mn = _mm512_min_epi32(_mm512_min_epi32(r, g), b);
    const V delta = Sub(mx, mn);
    const V recips = Gather(t.recips, delta);
    const V recip6 = _mm512_and_si512(recips, K(0xFFFF));
    const V recipRot = _mm512_srli_epi32(recips, 16);

    // HueIndex: ties for the minimum go to r, then g.
    const M rMin = Eq(r, mn), gMin = Eq(g, mn);
    const V rg = Sub(r, g), br = Sub(b, r), gb = Sub(g, b);
    const V hDiff = Sel(Sel(rg, br, gMin), gb, rMin);
    const V hBase = Sel(Sel(K(43), K(213), gMin), K(128), rMin);
    V h = _mm512_and_si512(Sub(hBase, _mm512_srai_epi32(Mul(hDiff, recip6), 8)), K(0xFF));
    h = _mm512_maskz_mov_epi32(_mm512_cmpneq_epi32_mask(delta, zero), h);
    const V d = Sub(Gather(t.hueShift, h), K(128));

    // RotateHue; S as in the AVX2 form (high half of n * ratio, n for mx < 2).
    const V n = _mm512_slli_epi32(delta, 16);
    const V ratio = Gather(t.ratio, mx);
    const V even = _mm512_srli_epi64(_mm512_mul_epu32(n, ratio), 32);
    const V odd = _mm512_mul_epu32(_mm512_srli_epi64(n, 32), _mm512_srli_epi64(ratio, 32));
    const V quot = _mm512_mask_blend_epi32(0xAAAA, even, odd);  // odd lanes: high halves of the odd products
    const V s = Sel(quot, n, Gt(K(2), mx));
    const M rMax = Eq(r, mx), gMax = Eq(g, mx);
    const V rDiff = Sel(Sel(rg, br, gMax), gb, rMax);
    const V rBase = Sel(Sel(K(0x40000), K(0x20000), gMax), zero, rMax);
    V hh = Add(Add(Mul(rDiff, recipRot), rBase), _mm512_slli_epi32(d, 9));
    hh = _mm512_mask_add_epi32(hh, Gt(zero, hh), hh, K(0x60000));
    hh = _mm512_mask_sub_epi32(hh, Gt(hh, K(0x5FFFF)), hh, K(0x60000));
    const V f = _mm512_and_si512(hh, K(0xFFFF));
    const V v = mx;
    const V s8 = _mm512_srai_epi32(s, 8);
    const V one = K(65536);
    const V p = _mm512_srai_epi32(Mul(v, Sub(one, s)), 16);
    const V q = _mm512_srai_epi32(Mul(v, Sub(one, Mul(s8, _mm512_srai_epi32(f, 8)))), 16);
    const V tt = _mm512_srai_epi32(Mul(v, Sub(one, Mul(s8, _mm512_srai_epi32(Sub(one, f), 8)))), 16);
    const V sector = _mm512_srai_epi32(hh, 16);
    const M e0 = Eq(sector, K(0)), e1 = Eq(sector, K(1)), e2 = Eq(sector, K(2));
    const M e3 = Eq(sector, K(3)), e4 = Eq(sector, K(4)), e5 = Eq(sector, K(5));
    // Sectors 0..5: R = V Q P P T V, G = T V V Q P P, B = P P T V V Q.
    const M grey = Eq(s, zero) & Eq(hh, zero);
    const V nr = Sel(Sel(Sel(tt, p, e2 | e3), q, e1), v, e0 | e5 | grey);
    const V ng = Sel(Sel(Sel(p, q, e3), tt, e0), v, e1 | e2 | grey);
    const V nb = Sel(Sel(Sel(q, tt, e2), p, e0 | e1), v, e3 | e4 | grey);
    const V hRot = _mm512_maskz_mov_epi32(static_cast<M>(~grey),
                                          _mm512_srai_epi32(Mul(_mm512_srai_epi32(hh, 8), K(10922)), 16));
    // A hue shift of 0 keeps the pixel and its hue.
    const M turn = _mm512_cmpneq_epi32_mask(d, zero);
    r = Sel(r, nr, turn);
    g = Sel(g, ng, turn);
    b = Sel(b, nb, turn);
    h = Sel(h, hRot, turn);

    // Saturation spread.
    const V sat = Sub(Gather(t.hueSaturation, h), K(128));
    const V k255 = K(255);
    const V dr = Sub(k255, r), dg = Sub(k255, g), db = Sub(k255, b);
    const V m0 = _mm512_min_epi32(_mm512_min_epi32(dr, dg), db);
    const V level = _mm512_srai_epi32(Mul(sat, Gather(t.satByDensity, m0)), 8);
    V m = m0;
    V part[3] = {Sub(dr, m0), Sub(dg, m0), Sub(db, m0)};
    for (V& pc : part) {
        // shaping[i] = 64 - (((i - 128)^2) >> 8), which is 0 for a part of 0.
        const V x = Sub(pc, K(128));
        const V shaping = Sub(K(64), _mm512_srai_epi32(Mul(x, x), 8));
        const V o = _mm512_srai_epi32(Mul(level, shaping), 6);
        const M grow = Gt(o, zero);
        pc = _mm512_mask_add_epi32(pc, grow, pc, o);
        m = Sub(m, Sel(o, _mm512_srai_epi32(o, 1), grow));
    }
    m = _mm512_max_epi32(m, zero);
    r = Sub(k255, _mm512_min_epi32(Add(part[0], m), k255));
    g = Sub(k255, _mm512_min_epi32(Add(part[1], m), k255));
    b = Sub(k255, _mm512_min_epi32(Add(part[2], m), k255));
}

// Sixteen pixels of 3 bytes (48 bytes) to one pixel per 32-bit lane.
AVX512 inline V LoadPacked3(const uint8_t* p) {
    const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i l2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    V v = _mm512_castsi128_si512(_mm_shuffle_epi8(l0, spread));                       // bytes 0..11
    v = _mm512_inserti32x4(v, _mm_shuffle_epi8(_mm_alignr_epi8(l1, l0, 12), spread), 1);  // 12..23
    v = _mm512_inserti32x4(v, _mm_shuffle_epi8(_mm_alignr_epi8(l2, l1, 8), spread), 2);   // 24..35
    v = _mm512_inserti32x4(v, _mm_shuffle_epi8(_mm_srli_si128(l2, 4), spread), 3);        // 36..47
    return v;
}

// The reverse: writes exactly 48 bytes; each store's 4 spare bytes are
// overwritten by the next one.
AVX512 inline void StorePacked3(uint8_t* p, V v) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i c0 = _mm_shuffle_epi8(_mm512_castsi512_si128(v), pack);
    const __m128i c1 = _mm_shuffle_epi8(_mm512_extracti32x4_epi32(v, 1), pack);
    const __m128i c2 = _mm_shuffle_epi8(_mm512_extracti32x4_epi32(v, 2), pack);
    const __m128i c3 = _mm_shuffle_epi8(_mm512_extracti32x4_epi32(v, 3), pack);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), c0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), c1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 24), c2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 36), c3);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(c3, 8));
    __builtin_memcpy(p + 44, &last, 4);
}

template <int Step, int OffR, int OffG, int OffB>
AVX512 int RowAvx512(const WideTables& t, const uint8_t* src, uint8_t* dst, int width) {
    // For step 4 in R, G, B order the block's bytes end on the first byte of
    // the pixel after it, so a block needs one more pixel behind it.
    constexpr int kAfter = (Step == 4 && OffR == 0) ? 1 : 0;
    const V byte = K(0xFF);
    int x = 0;
    for (; x + 16 + kAfter <= width; x += 16) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(x) * Step;
        uint8_t* o = dst + static_cast<ptrdiff_t>(x) * Step;
        const V in = Step == 3 ? LoadPacked3(s) : _mm512_loadu_si512(s);
        V r = Gather(t.curve[0], _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffR), byte));
        V g = Gather(t.curve[1], _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffG), byte));
        V b = Gather(t.curve[2], _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffB), byte));
        CorrectVec(t, r, g, b);
        const V out = _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi32(r, 8 * OffR), _mm512_slli_epi32(g, 8 * OffG)),
                                      _mm512_slli_epi32(b, 8 * OffB));
        if (Step == 3) {
            StorePacked3(o, out);
        } else {
            // Only the three colour bytes of each slot are written.
            _mm512_mask_storeu_epi8(o, 0x7777777777777777ull, out);
        }
    }
    return x;
}

template <int Step, int OffR, int OffG, int OffB>
AVX512 int AnalyzeRow(const AnalysisTables& t, const uint8_t* src, int width, uint32_t (*hist)[256], int64_t (*sums)[3],
                      int64_t* counts) {
    constexpr int kAfter = (Step == 4 && OffR == 0) ? 1 : 0;
    const V byte = K(0xFF), k255 = K(255), zero = _mm512_setzero_si512();
    // 32-bit lane sums: a row adds at most 2048 * 252 to a lane.
    V acc[3][3], cnt[3];
    for (int b = 0; b < 3; ++b) {
        cnt[b] = zero;
        for (int c = 0; c < 3; ++c) acc[b][c] = zero;
    }
    alignas(64) int32_t bins[16];
    int x = 0;
    for (; x + 16 + kAfter <= width; x += 16) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(x) * Step;
        const V in = Step == 3 ? LoadPacked3(s) : _mm512_loadu_si512(s);
        const V r = _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffR), byte);
        const V g = _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffG), byte);
        const V b = _mm512_and_si512(_mm512_srli_epi32(in, 8 * OffB), byte);
        const V dr = Sub(k255, r), dg = Sub(k255, g), db = Sub(k255, b);
        // Density weights floor(k * d / 256), with the raised ends.
        V wr = _mm512_srai_epi32(Mul(dr, K(85)), 8);
        wr = _mm512_mask_add_epi32(wr, Eq(dr, K(255)), wr, K(1));
        V wg = _mm512_srai_epi32(Mul(dg, K(142)), 8);
        wg = _mm512_mask_add_epi32(wg, Gt(dg, K(253)), wg, K(1));
        V wb = _mm512_srai_epi32(Mul(db, K(28)), 8);
        wb = _mm512_mask_add_epi32(wb, Eq(db, K(253)) | Eq(db, K(255)), wb, K(1));
        _mm512_store_si512(bins, Add(Add(wr, wg), wb));

        const V mx = _mm512_max_epi32(_mm512_max_epi32(r, g), b);
        const V mn = _mm512_min_epi32(_mm512_min_epi32(r, g), b);
        const V delta = Sub(mx, mn);
        const V f = Sub(k255, mx);
        const M rMin = Eq(r, mn), gMin = Eq(g, mn);
        const V hDiff = Sel(Sel(Sub(r, g), Sub(b, r), gMin), Sub(g, b), rMin);
        const V hBase = Sel(Sel(K(43), K(213), gMin), K(128), rMin);
        V h = _mm512_and_si512(Sub(hBase, _mm512_srai_epi32(Mul(hDiff, Gather(t.hueRecip, delta)), 8)), byte);
        h = _mm512_maskz_mov_epi32(_mm512_cmpneq_epi32_mask(delta, zero), h);
        const V tw = Gather(t.toleranceWeight, h);
        const V tol = _mm512_and_si512(tw, byte), w = _mm512_srli_epi32(tw, 8);
        // 10 <= f <= 245 and every density below f + tolerance.
        const M neutral = Gt(f, K(9)) & Gt(K(246), f) & Gt(tol, delta);
        const M light = neutral & Gt(K(66), f), dark = neutral & Gt(f, K(190));
        const M mid = neutral & ~light & ~dark;
        const V wd[3] = {_mm512_srai_epi32(Mul(dr, w), 8), _mm512_srai_epi32(Mul(dg, w), 8),
                         _mm512_srai_epi32(Mul(db, w), 8)};
        const M band[3] = {light, static_cast<M>(mid), dark};
        for (int bb = 0; bb < 3; ++bb) {
            for (int c = 0; c < 3; ++c) acc[bb][c] = _mm512_mask_add_epi32(acc[bb][c], band[bb], acc[bb][c], wd[c]);
            cnt[bb] = _mm512_mask_add_epi32(cnt[bb], band[bb], cnt[bb], K(1));
        }
        for (int i = 0; i < 16; ++i) ++hist[i & 3][bins[i]];
    }
    for (int bb = 0; bb < 3; ++bb) {
        for (int c = 0; c < 3; ++c) sums[bb][c] += _mm512_reduce_add_epi32(acc[bb][c]);
        counts[bb] += _mm512_reduce_add_epi32(cnt[bb]);
    }
    return x;
}

}  // namespace

void WidenAnalysisTables(const ToneCorrector& e, AnalysisTables& t) {
    for (int i = 0; i < 256; ++i) {
        t.hueRecip[i] = e.hueRecip[i];
        t.toleranceWeight[i] = e.tolerance[i] | (e.hueWeight[i] << 8);
    }
}

int AnalyzeRowAvx512(const AnalysisTables& t, const uint8_t* src, int width, int step, bool bgr, uint32_t (*hist)[256],
                     int64_t (*sums)[3], int64_t* counts) {
    if (step == 3)
        return bgr ? AnalyzeRow<3, 2, 1, 0>(t, src, width, hist, sums, counts)
                   : AnalyzeRow<3, 0, 1, 2>(t, src, width, hist, sums, counts);
    if (step == 4)
        return bgr ? AnalyzeRow<4, 2, 1, 0>(t, src, width, hist, sums, counts)
                   : AnalyzeRow<4, 0, 1, 2>(t, src, width, hist, sums, counts);
    return 0;
}

int CorrectRowAvx512(const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step, bool bgr) {
    if (step == 3) return bgr ? RowAvx512<3, 2, 1, 0>(t, src, dst, width) : RowAvx512<3, 0, 1, 2>(t, src, dst, width);
    if (step == 4) return bgr ? RowAvx512<4, 2, 1, 0>(t, src, dst, width) : RowAvx512<4, 0, 1, 2>(t, src, dst, width);
    return 0;
}

}  // namespace zandolib

#endif
