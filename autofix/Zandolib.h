/* Zandolib: automatic tone and colour correction of interleaved 8-bit
 * RGB, BGR, ARGB and BGRA pixel buffers.
 *
 * Call order: PrepareReset once; any number of Prepare* calls (they add to
 * the statistics); PrepareComplete (builds the curves); optionally
 * PrepareAdjust; then any number of Apply* calls. All state is one global
 * engine without locks: serialise calls.
 *
 * Prepare* return the number of pixels analysed since PrepareReset (low 32
 * bits); Apply* return 0. A stride may be negative for bottom-up images.
 * Alpha bytes are never read or written.
 *
 * PrepareAdjust is exported as "?PrepareAdjust@@YAXF@Z" for callers that
 * look it up by that name, and as the C++ name of
 * void PrepareAdjust(short), which this header declares so that a normal
 * link with -lZandolib reaches it from C++ and (GCC/Clang) from C.
 */
#ifndef ZANDOLIB_H
#define ZANDOLIB_H

#include <stdint.h>

#if defined(ZANDOLIB_BUILD) && defined(__GNUC__)
#define ZANDOLIB_API __attribute__((visibility("default")))
#else
#define ZANDOLIB_API
#endif

/* The name dlsym finds PrepareAdjust under, and its type. */
#define ZANDOLIB_PREPARE_ADJUST_SYMBOL "?PrepareAdjust@@YAXF@Z"
typedef void (*ZandolibPrepareAdjustFn)(int16_t strength);

#ifdef __cplusplus
extern "C" {
#endif

ZANDOLIB_API void PrepareReset(void);
ZANDOLIB_API int32_t PrepareRGBMeshed(const uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t PrepareAlphaRGBMeshed(const uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t PrepareBGRMeshed(const uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t PrepareBGRAlphaMeshed(const uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API void PrepareComplete(void);

ZANDOLIB_API int32_t ApplyRGBMeshed(uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyAlphaRGBMeshed(uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyBGRMeshed(uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyBGRAlphaMeshed(uint8_t *buf, int32_t stride, int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyRGBMeshed2(const uint8_t *src, uint8_t *dst, int32_t srcStride, int32_t dstStride,
                                     int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyAlphaRGBMeshed2(const uint8_t *src, uint8_t *dst, int32_t srcStride, int32_t dstStride,
                                          int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyBGRMeshed2(const uint8_t *src, uint8_t *dst, int32_t srcStride, int32_t dstStride,
                                     int16_t width, int16_t height);
ZANDOLIB_API int32_t ApplyBGRAlphaMeshed2(const uint8_t *src, uint8_t *dst, int32_t srcStride, int32_t dstStride,
                                          int16_t width, int16_t height);

#ifdef __cplusplus
}
/* Moves the curves toward (strength < 255) or past (> 255) the identity;
 * negative turns the correction around. Two calls compound. */
ZANDOLIB_API void PrepareAdjust(int16_t strength);
#elif defined(__GNUC__)
ZANDOLIB_API void PrepareAdjust(int16_t strength) __asm__("_Z13PrepareAdjusts");
#endif

#endif
