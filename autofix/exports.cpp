// The library's exported entry points, all on the one static engine.
#include "Zandolib.h"

#include "tone_corrector.h"

#ifndef ZANDOLIB_ADJUST_PLACEHOLDER
#error "ZANDOLIB_ADJUST_PLACEHOLDER must name the placeholder that the post-link step renames"
#endif

namespace {

// Zero at load; nothing runs before the first call.
constinit zandolib::ToneCorrector g_engine{};

void Adjust(int16_t strength) { zandolib::AdjustStrength(g_engine, strength); }

}  // namespace

// The GNU tools read "@@" as a symbol-version separator, so the decorated
// name is linked under a placeholder of the same length and renamed in the
// dynamic symbol table after linking.
extern "C" ZANDOLIB_API void PrepareAdjustDecorated(int16_t strength) __asm__(ZANDOLIB_ADJUST_PLACEHOLDER);

extern "C" {

void PrepareReset(void) { zandolib::ResetEngine(g_engine); }

int32_t PrepareRGBMeshed(const uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::AnalyzeMeshed(g_engine, buf, stride, width, height, 3);
}

int32_t PrepareAlphaRGBMeshed(const uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::AnalyzeMeshed(g_engine, buf ? buf + 1 : nullptr, stride, width, height, 4);
}

int32_t PrepareBGRMeshed(const uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::AnalyzeMeshed(g_engine, buf, stride, width, height, -3);
}

int32_t PrepareBGRAlphaMeshed(const uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::AnalyzeMeshed(g_engine, buf, stride, width, height, -4);
}

void PrepareComplete(void) { zandolib::BuildCurves(g_engine); }

void PrepareAdjustDecorated(int16_t strength) { Adjust(strength); }

int32_t ApplyRGBMeshed(uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::CorrectInPlace(g_engine, buf, stride, width, height, 3);
}

int32_t ApplyAlphaRGBMeshed(uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::CorrectInPlace(g_engine, buf ? buf + 1 : nullptr, stride, width, height, 4);
}

int32_t ApplyBGRMeshed(uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::CorrectInPlace(g_engine, buf, stride, width, height, -3);
}

int32_t ApplyBGRAlphaMeshed(uint8_t* buf, int32_t stride, int16_t width, int16_t height) {
    return zandolib::CorrectInPlace(g_engine, buf, stride, width, height, -4);
}

int32_t ApplyRGBMeshed2(const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride, int16_t width,
                        int16_t height) {
    return zandolib::CorrectCopy(g_engine, src, dst, srcStride, dstStride, width, height, 3);
}

int32_t ApplyAlphaRGBMeshed2(const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride, int16_t width,
                             int16_t height) {
    if (src == nullptr || dst == nullptr) return 0;
    return zandolib::CorrectCopy(g_engine, src + 1, dst + 1, srcStride, dstStride, width, height, 4);
}

int32_t ApplyBGRMeshed2(const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride, int16_t width,
                        int16_t height) {
    return zandolib::CorrectCopy(g_engine, src, dst, srcStride, dstStride, width, height, -3);
}

int32_t ApplyBGRAlphaMeshed2(const uint8_t* src, uint8_t* dst, int32_t srcStride, int32_t dstStride, int16_t width,
                             int16_t height) {
    return zandolib::CorrectCopy(g_engine, src, dst, srcStride, dstStride, width, height, -4);
}

}  // extern "C"

void PrepareAdjust(int16_t strength) { Adjust(strength); }
