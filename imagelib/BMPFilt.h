// Windows and OS/2 bitmap files (file type 5: .bmp, .dib, .rle).
// Reads 1, 4, 8, 16, 24 and 32 bits (RLE4, RLE8, bit fields, OS/2 core headers, top-down
// rows); writes 1, 4, 8 and 24 bits with the OS/2, 40- or 64-byte header and optional RLE.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;

// Largest image the reader allocates, in pixels; bigger files set the abort flag. The decoded
// bitmap must also stay within the decode budget of the pixel data the stream holds.
constexpr int64_t BmpMaxPixels = LXMaxPixels;

// Reads one BMP image from the stream's position. SizeLimit is the number of bytes of the
// file as seen from its start (0: the file header's file size is used). With ParamsOnly the
// parameters are filled and the bitmap is left alone. Bad data sets *Progress.Aborting.
void BmpDecodeStream(TStream* Stream, TBitmap* Bitmap, int64_t SizeLimit, bool ParamsOnly,
                     TProgressRec& Progress, TLXIOParams& IOParams);

// Writes one BMP image at the stream's position; a failed write sets *Progress.Aborting.
void BmpEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);

// Decode RLE4 / RLE8 pixel data of Length bytes into the pf24bit Bitmap, bottom row first.
// Palette must hold 256 entries (indexes are bytes; unused entries black).
void BmpDecodeRLE4(TBitmap* Bitmap, const uint8_t* Data, int64_t Length, TProgressRec& Progress,
                   const TRGB* Palette);
void BmpDecodeRLE8(TBitmap* Bitmap, const uint8_t* Data, int64_t Length, TProgressRec& Progress,
                   const TRGB* Palette);

// Encode one row of Count palette indexes (one byte per pixel) into Output, which must hold
// BmpRLEBufferSize(Count) bytes. Returns the number of bytes produced (end-of-line included).
int BmpEncodeRLE4(const uint8_t* Indexes, int Count, uint8_t* Output);
int BmpEncodeRLE8(const uint8_t* Indexes, int Count, uint8_t* Output);
inline int64_t BmpRLEBufferSize(int Count) { return int64_t(Count) * 10 + 16; }

// Writes N palette entries of the parameters as 4-byte records B, G, R, 0 (missing entries
// as zeros).
void BmpWritePalette(TStream* Stream, const TLXIOParams& IOParams, int N, bool& Error);

// DPI of a resolution in pixels per metre, rounded with ties to even; the screen's DPI when the
// file gives none (0 or less).
int BmpDpiFromPixelsPerMetre(int32_t PixelsPerMetre);

extern const TLXCodec BmpCodec;
// More than 14 bytes that start with "BM".
bool BmpProbe(const TLXProbeInput& In);
