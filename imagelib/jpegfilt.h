// JPEG reading and writing through libjpeg (v6.2 API, libjpeg62-turbo).
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;


// One CMYK pixel as libjpeg hands it over: C, M, Y, K bytes, stored inverted (Adobe style).
#pragma pack(push, 1)
struct TCMYK {
    uint8_t c = 0, m = 0, y = 0, k = 0;
    bool operator==(const TCMYK&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TCMYK) == 4);

// Reads a JPEG image from the stream position into a pf24bit bitmap and fills the JPEG
// fields, size, resolution and markers of the parameters. Failures set *Progress.Aborting,
// and so does a picture (output and file size) beyond LXMaxPixels or the decode budget of
// the stream's bytes, before anything is allocated.
void JpegDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                      TProgressRec& Progress);

// Writes a pf24bit or pf1bit bitmap as JPEG. A short write sets *Progress.Aborting; a
// library error sets it too and raises ELXJpegException "JPeg corrupted file".
void JpegEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TProgressRec& Progress);

// Position of the first FF D8 FF within 100 bytes from the stream position, or -1.
// The stream position is left where it was.
int64_t FindJpegStart(TStream* Stream);

// Inverted CMYK to B, G, R: R = C * K / 255, G = M * K / 255, B = Y * K / 255.
void JpegCMYKToRGB(const TCMYK& CMYK, TRGB& RGB);
// The inverse used on write: K = max(R, G, B) (1 when 0), C = R * 255 / K, ...
TCMYK JpegRGBToCMYK(const TRGB& RGB);

// After a read: IPTC records from the first APP13 marker and EXIF from the first APP1 marker
// that holds EXIF. File loads whose JFIF header gives only an aspect ratio (1 x 1) take the
// EXIF resolution.
void JpegReadMetadata(TLXIOParams& IOParams, bool FileLoad);
// Before a save: IPTC records changed by the application become the APP13 marker. False when
// they do not fit one marker.
bool JpegStoreIPTC(TLXIOParams& IOParams);

extern const TLXCodec JpegCodec;
// FF D8 FF right at the position.
bool JpegProbeStart(const TLXProbeInput& In);
// More than 12 bytes that are a "JFIF" stream header.
bool JpegProbeStreamHeader(const TLXProbeInput& In);
// FF D8 FF within the first 100 positions.
bool JpegProbeAfterData(const TLXProbeInput& In);
