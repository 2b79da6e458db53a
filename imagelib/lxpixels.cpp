#include "lxpixels.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define LX_WIDE 1
#else
#define LX_WIDE 0
#endif

namespace {

std::atomic<int> g_forced{-1};

TLXPixelPath Detect() {
#if LX_WIDE
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return TLXPixelPath::Scalar;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    (void)hi;
    // The system must save the registers we use: YMM, and for AVX-512 also the mask and
    // upper ZMM registers.
    if ((lo & 6) != 6 || !__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2)) return TLXPixelPath::Scalar;
    const bool avx512 = (lo & 0xE6) == 0xE6 && (b & bit_AVX512F) && (b & bit_AVX512BW);
    return avx512 ? TLXPixelPath::Avx512 : TLXPixelPath::Avx2;
#else
    return TLXPixelPath::Scalar;
#endif
}

// ---- Plain paths ----

void BlendScalar(const uint8_t* a, const uint8_t* b, uint8_t* r, size_t n, int p) {
    const uint32_t up = uint32_t(p), uq = 1024u - up;
    for (size_t i = 0; i < n; ++i) r[i] = uint8_t((uint32_t(a[i]) * uq + uint32_t(b[i]) * up) >> 10);
}

void ExpandScalar(const uint8_t* s, uint32_t* d, size_t n) {
    for (size_t x = 0; x < n; ++x, s += 3)
        d[x] = 0xFF000000u | uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
}

#if LX_WIDE
#define AVX2 __attribute__((target("avx2")))
#define AVX512 __attribute__((target("avx512f,avx512bw")))

// The blend as a + floor((b - a) x p / 1024), which equals the plain formula because
// a x (1024 - p) + b x p = 1024 a + (b - a) p. With d = (b - a) x 64 in 16 bits, the high
// half of d x p is floor((b - a) x p / 1024) exactly (|d| <= 16320, p <= 1024).
AVX2 size_t BlendAvx2(const uint8_t* a, const uint8_t* b, uint8_t* r, size_t n, int p) {
    const __m256i zero = _mm256_setzero_si256(), w = _mm256_set1_epi16(int16_t(p));
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i alo = _mm256_unpacklo_epi8(va, zero), ahi = _mm256_unpackhi_epi8(va, zero);
        const __m256i dlo = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpacklo_epi8(vb, zero), alo), 6);
        const __m256i dhi = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpackhi_epi8(vb, zero), ahi), 6);
        const __m256i rlo = _mm256_add_epi16(alo, _mm256_mulhi_epi16(dlo, w));
        const __m256i rhi = _mm256_add_epi16(ahi, _mm256_mulhi_epi16(dhi, w));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i), _mm256_packus_epi16(rlo, rhi));
    }
    return i;
}

AVX512 inline __m512i Blend64(__m512i va, __m512i vb, __m512i w) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i alo = _mm512_unpacklo_epi8(va, zero), ahi = _mm512_unpackhi_epi8(va, zero);
    const __m512i dlo = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_unpacklo_epi8(vb, zero), alo), 6);
    const __m512i dhi = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_unpackhi_epi8(vb, zero), ahi), 6);
    return _mm512_packus_epi16(_mm512_add_epi16(alo, _mm512_mulhi_epi16(dlo, w)),
                               _mm512_add_epi16(ahi, _mm512_mulhi_epi16(dhi, w)));
}

AVX512 void BlendAvx512(const uint8_t* a, const uint8_t* b, uint8_t* r, size_t n, int p) {
    const __m512i w = _mm512_set1_epi16(int16_t(p));
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        _mm512_storeu_si512(r + i, Blend64(_mm512_loadu_si512(a + i), _mm512_loadu_si512(b + i), w));
    if (i < n) {
        // Masked loads and stores touch no byte past the row.
        const __mmask64 k = (uint64_t(1) << (n - i)) - 1;   // n - i < 64
        _mm512_mask_storeu_epi8(r + i, k, Blend64(_mm512_maskz_loadu_epi8(k, a + i), _mm512_maskz_loadu_epi8(k, b + i), w));
    }
}

// Eight pixels: dwords 0-2 and 3-5 of the 32 bytes read go to the two lanes, then each lane
// spreads its four 3-byte pixels to four bytes.
AVX2 size_t ExpandAvx2(const uint8_t* s, uint32_t* d, size_t n) {
    const __m256i perm = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i alpha = _mm256_set1_epi32(int(0xFF000000u));
    size_t x = 0;
    // The 32-byte read must stay inside the 3 x n bytes of the row.
    for (; n >= 11 && x <= n - 11; x += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 3 * x));
        v = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, perm), spread);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_or_si256(v, alpha));
    }
    return x;
}

AVX512 inline __m512i Expand16(__m512i v) {
    const __m512i perm = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i spread = _mm512_set4_epi32(int(0xFF0B0A09u), int(0xFF080706u), int(0xFF050403u), int(0xFF020100u));
    const __m512i alpha = _mm512_set1_epi32(int(0xFF000000u));
    return _mm512_or_si512(_mm512_shuffle_epi8(_mm512_maskz_permutexvar_epi32(0xFFFF, perm, v), spread), alpha);
}

AVX512 void ExpandAvx512(const uint8_t* s, uint32_t* d, size_t n) {
    size_t x = 0;
    const __mmask64 k48 = (uint64_t(1) << 48) - 1;
    for (; x + 16 <= n; x += 16) _mm512_storeu_si512(d + x, Expand16(_mm512_maskz_loadu_epi8(k48, s + 3 * x)));
    if (x < n) {
        const unsigned rest = unsigned(n - x);
        const __mmask64 kin = (uint64_t(1) << (3 * rest)) - 1;   // rest < 16
        const __mmask16 kout = __mmask16((1u << rest) - 1);
        _mm512_mask_storeu_epi32(d + x, kout, Expand16(_mm512_maskz_loadu_epi8(kin, s + 3 * x)));
    }
}
#endif

}  // namespace

TLXPixelPath LXBestPixelPath() {
    static const TLXPixelPath best = Detect();
    return best;
}

TLXPixelPath LXActivePixelPath() {
    const TLXPixelPath best = LXBestPixelPath();
    const int forced = g_forced.load(std::memory_order_relaxed);
    if (forced >= 0 && forced < int(best)) return TLXPixelPath(forced);
    return best;
}

void LXForcePixelPathForTesting(int Path) { g_forced.store(Path, std::memory_order_relaxed); }

void LXBlendRow(const uint8_t* A, const uint8_t* B, uint8_t* R, size_t N, int P) {
    P = P < 0 ? 0 : P > 1024 ? 1024 : P;
    size_t done = 0;
#if LX_WIDE
    switch (LXActivePixelPath()) {
    case TLXPixelPath::Avx512: BlendAvx512(A, B, R, N, P); return;
    case TLXPixelPath::Avx2: done = BlendAvx2(A, B, R, N, P); break;
    case TLXPixelPath::Scalar: break;
    }
#endif
    BlendScalar(A + done, B + done, R + done, N - done, P);
}

void LXExpand24To32Row(const uint8_t* Src, uint32_t* Dst, size_t Pixels) {
    size_t done = 0;
#if LX_WIDE
    switch (LXActivePixelPath()) {
    case TLXPixelPath::Avx512: ExpandAvx512(Src, Dst, Pixels); return;
    case TLXPixelPath::Avx2: done = ExpandAvx2(Src, Dst, Pixels); break;
    case TLXPixelPath::Scalar: break;
    }
#endif
    ExpandScalar(Src + 3 * done, Dst + done, Pixels - done);
}
