// Types that the whole image library shares.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"

// A 24-bit pixel and a palette entry: the bytes B, G, R.
#pragma pack(push, 1)
struct TRGB {
    uint8_t b = 0, g = 0, r = 0;
    bool operator==(const TRGB&) const = default;
    // As a 32-bit integer: B + G * 256 + R * 65536.
    uint32_t AsInteger() const { return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16); }
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3);

// Percent progress of a component's work.
using TLXProgressEvent = TMethod<void(TObject* Sender, int per)>;

// Handed to every codec and conversion: the event, its Sender, a row counter and the
// per-row step that the reporting routine sets, and the owner's abort flag.
struct TProgressRec {
    TLXProgressEvent fOnProgress;
    TObject* Sender = nullptr;
    int32_t val = 0;
    double per = 0;
    bool* Aborting = nullptr;
};

// Writes Length bytes; a short write sets Error (it is never cleared here), so a full disk
// ends a save with the writer's abort flag set.
inline void StreamWriteChecked(TStream* Stream, bool& Error, const void* Data, int64_t Length) {
    if (Stream->Write(Data, Length) < Length) Error = true;
}

// The 31 transition effects; the ordinal values are fixed (the screensaver maps onto them).
enum TLXTransitionType {
    lxttNone, lxttCrossDissolve, lxttFadeOut, lxttFadeIn, lxttFadeOutIn, lxttLeftRight1,
    lxttLeftRight2, lxttRightLeft1, lxttRightLeft2, lxttUpDown1, lxttUpDown2, lxttDownUp1,
    lxttDownUp2, lxttFromUpLeft, lxttFromUpRight, lxttFromBottomLeft, lxttFromBottomRight,
    lxttMoveLeftRight1, lxttMoveLeftRight2, lxttMoveRightLeft1, lxttMoveRightLeft2,
    lxttMoveUpDown1, lxttMoveUpDown2, lxttMoveDownUp1, lxttMoveDownUp2, lxttRandomPoints,
    lxttRandomBoxes, lxttCenter1, lxttCenter2, lxttCenterZoom1, lxttCenterZoom2
};

enum TResampleFilter { rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };

enum TMsgLanguage { msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese,
                    msGreek, msRussian, msDutch, msUser };

// Base of the library's own exceptions.
GD_EXCEPTION(ELXError, Exception);
GD_EXCEPTION(ELXJpegException, ELXError);
