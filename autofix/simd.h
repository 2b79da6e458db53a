// Vector forms of the per-pixel work (simd_avx2.cpp, simd_avx512.cpp).
#pragma once

#include <cstdint>

#include "tone_corrector.h"

#if defined(__x86_64__) && !defined(ZANDOLIB_NO_WIDE)
#define ZANDOLIB_HAVE_WIDE 1
#else
#define ZANDOLIB_HAVE_WIDE 0
#endif

namespace zandolib {

// The tables of one Apply call as 32-bit entries for gathers.
struct WideTables {
    int32_t curve[3][256];
    int32_t recips[256];  // hue-index reciprocal | rotation reciprocal << 16
    int32_t hueShift[256];
    int32_t hueSaturation[256];
    int32_t satByDensity[256];
    int32_t ratio[256];  // floor(2^32 / mx) + 1 for mx >= 2: exact (delta << 16) / mx
};

enum class WideLevel { None = 0, Avx2 = 1, Avx512 = 2 };

#if ZANDOLIB_HAVE_WIDE
// The widest level this CPU and OS support, and the one in use (the same,
// unless a test asked for a narrower one).
WideLevel BestWideLevel();
WideLevel ActiveWideLevel();
// Tests: use at most this level (0 scalar, 1 AVX2, 2 AVX-512); -1 undoes it.
void ForceWideLevelForTesting(int level);

void WidenTables(const ToneCorrector& e, WideTables& t);
// Correct a prefix of the row and return how many pixels they did; the
// caller does the rest. step is 3 or 4; bgr gives the channel order. They
// use the shaping formula, so they need the fixed tables filled.
int CorrectRowWide(WideLevel level, const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step,
                   bool bgr);
int CorrectRowAvx2(const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step, bool bgr);
int CorrectRowAvx512(const WideTables& t, const uint8_t* src, uint8_t* dst, int width, int step, bool bgr);

// Analysis of a row prefix with AVX-512: adds to the four histograms (bins
// counted round-robin), the band sums and counts, and returns the pixels
// done. Computes the density weights, so it needs the fixed tables filled.
struct AnalysisTables {
    int32_t hueRecip[256];
    int32_t toleranceWeight[256];  // tolerance | hue weight << 8
};
void WidenAnalysisTables(const ToneCorrector& e, AnalysisTables& t);
int AnalyzeRowAvx512(const AnalysisTables& t, const uint8_t* src, int width, int step, bool bgr, uint32_t (*hist)[256],
                     int64_t (*sums)[3], int64_t* counts);
#endif

}  // namespace zandolib
