// ZSoft PCX files (file type 4: .pcx). Reads 1-bit, 4-bit (one plane or four 1-bit planes),
// 8-bit palette and 24-bit (three planes) images, RLE or plain; writes 1, 4, 8 and 24 bits.
#pragma once

#include <cstdint>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

class TLXIOParams;

// Reads the image that starts at the stream's position and takes DataLength bytes from there
// (never more than the stream holds). With ParamsOnly the bitmap is left alone. Bad data sets
// *Progress.Aborting; nothing is raised.
void PcxDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress, int64_t DataLength);

// Writes one image at the stream's position; a failed write sets *Progress.Aborting.
void PcxEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress);

// Run-length codes Count values taken from Source[FirstIndex], Source[FirstIndex + Step], ...
// into Dest (at most 2 * Count + 1 bytes); an odd Count gets a 0 byte after it. Returns the
// number of bytes written.
int PcxEncodeLine(uint8_t* Dest, const uint8_t* Source, int Count, int Step, int FirstIndex);

extern const TLXCodec PcxCodec;
// More than 12 bytes that are a "PCX2" stream header.
bool PcxProbeStreamHeader(const TLXProbeInput& In);
// More than 4 bytes that are the older header: "PCX" and a zero byte.
bool PcxProbeOldHeader(const TLXProbeInput& In);
// More than 128 bytes starting with the manufacturer byte 10 and a version of at most 5.
bool PcxProbe(const TLXProbeInput& In);
