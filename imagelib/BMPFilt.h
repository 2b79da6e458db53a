// Windows and OS/2 bitmap files (file type 5: .bmp, .dib, .rle).
// Reads 1, 4, 8, 16, 24 and 32 bits (RLE4, RLE8, bit fields, OS/2 core headers, top-down
// rows); writes 1, 4, 8 and 24 bits with the OS/2, 40- or 64-byte header and optional RLE.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLXIOParams;

// Largest image the reader allocates, in pixels; bigger files set the abort flag.
constexpr int64_t BmpMaxPixels = int64_t(1) << 28;
// The decoded bitmap may take at most BmpMaxExpansion times the bytes of pixel data the
// stream holds, or BmpMinDecodeBudget bytes, whichever is more; beyond that the file is
// refused, so a tiny hostile file cannot claim a huge picture.
constexpr int64_t BmpMaxExpansion = 1024;
constexpr int64_t BmpMinDecodeBudget = int64_t(16) << 20;

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

// =============================================================================================
// Windows icons (file type 6, .ico) and cursors (file type 7, .cur): one image of the file,
// its AND mask turned into Mask (when given; 0 = transparent) and into the background colour
// of the parameters. An icon file that is really a bitmap ("BM") is read as one. 1, 4, 8, 24
// and 32 bits (cursors 1, 4 and 8); PNG-compressed entries set the abort flag.
// =============================================================================================

void IcoDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly);
void CurDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TLXMask* Mask,
                     TProgressRec& Progress, bool ParamsOnly);

// =============================================================================================
// Portable bitmap / greymap / pixmap (file type 12): reads P1 to P6 (samples up to 16 bits),
// writes P4, P5 and P6. Header comments go to and come from IOParams.PnmComments.
// =============================================================================================

// The next header token of the stream: a run of letters and digits, or "#" + the comment text
// (blanks trimmed); empty at the end of the stream.
void PnmReadToken(TStream* Stream, std::string& Token);

void PnmDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress);
// A failed write sets *Progress.Aborting.
void PnmEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);
