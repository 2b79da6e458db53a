/* A C caller linked against libZandolib the ordinary way (-lZandolib),
 * calling every entry point through the header. Exit status 0 on success. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "Zandolib.h"

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "link_test: %s\n", what);
        ++failures;
    }
}

int main(void) {
    uint8_t img[16 * 8 * 4];
    uint8_t copy[sizeof img];
    size_t i;
    for (i = 0; i < sizeof img; ++i) img[i] = (uint8_t)(i * 37 + (i >> 3));

    PrepareReset();
    check(PrepareRGBMeshed(img, 16 * 3, 16, 8) == 128, "PrepareRGBMeshed total");
    check(PrepareAlphaRGBMeshed(img, 16 * 4, 16, 8) == 256, "PrepareAlphaRGBMeshed total");
    check(PrepareBGRMeshed(img, 16 * 3, 16, 8) == 384, "PrepareBGRMeshed total");
    check(PrepareBGRAlphaMeshed(img, 16 * 4, 16, 8) == 512, "PrepareBGRAlphaMeshed total");
    PrepareComplete();

    /* Strength 0 makes the curves the identity, so a grey stays itself. */
    PrepareAdjust(0);
    {
        uint8_t grey[3] = {90, 90, 90};
        check(ApplyRGBMeshed(grey, 3, 1, 1) == 0, "ApplyRGBMeshed result");
        check(grey[0] == 90 && grey[1] == 90 && grey[2] == 90, "grey changed under identity curves");
    }

    PrepareComplete();
    memcpy(copy, img, sizeof img);
    check(ApplyRGBMeshed(copy, 16 * 3, 16, 8) == 0, "ApplyRGBMeshed");
    check(ApplyAlphaRGBMeshed(copy, 16 * 4, 16, 8) == 0, "ApplyAlphaRGBMeshed");
    check(ApplyBGRMeshed(copy, 16 * 3, 16, 8) == 0, "ApplyBGRMeshed");
    check(ApplyBGRAlphaMeshed(copy, 16 * 4, 16, 8) == 0, "ApplyBGRAlphaMeshed");
    check(ApplyRGBMeshed2(img, copy, 16 * 3, 16 * 3, 16, 8) == 0, "ApplyRGBMeshed2");
    check(ApplyAlphaRGBMeshed2(img, copy, 16 * 4, 16 * 4, 16, 8) == 0, "ApplyAlphaRGBMeshed2");
    check(ApplyBGRMeshed2(img, copy, 16 * 3, 16 * 3, 16, 8) == 0, "ApplyBGRMeshed2");
    check(ApplyBGRAlphaMeshed2(img, copy, 16 * 4, 16 * 4, 16, 8) == 0, "ApplyBGRAlphaMeshed2");

    /* The two-buffer form equals the in-place form. */
    {
        uint8_t a[sizeof img], b[sizeof img];
        memcpy(a, img, sizeof img);
        memset(b, 0, sizeof b);
        ApplyRGBMeshed(a, 16 * 3, 16, 8);
        ApplyRGBMeshed2(img, b, 16 * 3, 16 * 3, 16, 8);
        check(memcmp(a, b, 16 * 3 * 8) == 0, "two-buffer result differs from in place");
    }

    if (failures == 0) printf("link_test: all entry points reached\n");
    return failures ? 1 : 0;
}
