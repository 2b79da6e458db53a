// TIFF reading (file type 1: "II" and "MM", any page, strips and tiles, chunky and planar
// data; no compression, PackBits, CCITT modified Huffman, Group 3 1-D / 2-D, Group 4,
// old-style JPEG, LZW through the decoder hook) and writing (one little-endian page in a
// single strip).
#pragma once

#include <cstdint>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;
class TLXMask;

// IFDs walked at most when counting pages.
constexpr int TiffMaxPages = 65536;

// Reads the page IOParams.TiffImageIndex of the TIFF at the stream position (every offset of
// the file is an absolute stream position) into a pf24bit or pf1bit bitmap and fills the
// parameters. PageCount receives the number of IFDs. Mask (may be null) receives the alpha.
// Failures set *Progress.Aborting; outside a params-only read so does a page that cannot be
// decoded (a compression, or a photometric, samples and bits combination, it has no
// decoder for) or a file without pages.
void TiffDecodeStream(TBitmap* Bitmap, TStream* Stream, int& PageCount, TLXMask* Mask,
                      bool ParamsOnly, TProgressRec& Progress, TLXIOParams& IOParams);

// Writes the bitmap as one little-endian page in a single strip; returns the number of pages
// in the file afterwards. With Insert the stream must hold a little-endian TIFF, and the page
// goes in before page IOParams.TiffImageIndex (appended when beyond the chain).
int TiffEncodeStream(TStream* Stream, bool Insert, TBitmap* Bitmap, TProgressRec& Progress,
                     TLXIOParams& IOParams);

// PackBits of one row, appended to Out.
void TIFFPackBitsEncode(const uint8_t* Row, int Length, std::vector<uint8_t>& Out);
// RGB to the writer's CMYK (C, M, Y, K bytes).
void TIFFRGBToCMYK(uint8_t R, uint8_t G, uint8_t B, uint8_t Out[4]);
// The reader's CMYK: channel = (255 - ink) * (255 - K) / 255.
TRGB TIFFCMYKToRGB(uint8_t C, uint8_t M, uint8_t Y, uint8_t K);

extern const TLXCodec TiffCodec;
// More than 12 bytes that are a "TIFF" stream header.
bool TiffProbeStreamHeader(const TLXProbeInput& In);
// More than 8 bytes that start with "II" or "MM" (the version is not checked).
bool TiffProbe(const TLXProbeInput& In);
