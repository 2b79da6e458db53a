// The codec table of the I/O component: one entry per built-in file type, each defined next
// to its format's code, all called in one shape. The component's dispatch, extension lookups
// and format registry are built from the table, and detection from an explicit ordered list
// of probes. A format is added with its codec file, its entry in CodecTable() and, when its
// content can be recognised, its probes in DetectionOrder().
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOParams.h"
#include "lxdefs.h"

class TLuxIO;
class TLXMask;

// ---- File types ----

enum : int {
    lxftUnknown = 0, lxftTIFF = 1, lxftGIF = 2, lxftJPEG = 3, lxftPCX = 4, lxftBMP = 5,
    lxftICO = 6, lxftCUR = 7, lxftPNG = 8, lxftWMF = 9, lxftEMF = 10, lxftTGA = 11, lxftPXM = 12
};

// ---- One call shape for every decoder and encoder ----

struct TLXCodecCall {
    TStream* Stream = nullptr;     // positioned at the image
    TBitmap* Bitmap = nullptr;
    TLXIOParams* Params = nullptr;
    // Decoding: the alpha target, given only to formats that fill it. Encoding: the alpha
    // source (the component's mask; formats without alpha ignore it).
    TLXMask* Mask = nullptr;
    TProgressRec* Progress = nullptr;
    bool ParamsOnly = false;       // decoding: fill the parameters, leave the bitmap
    bool FileLoad = false;         // decoding a whole file opened by name
    // Bytes of the image from the stream position when a file size or a stream header tells
    // it; 0 when nothing does.
    int64_t Length = 0;
    // The component's background colour going in; a decoder whose format names a colour for
    // it puts that here and sets SetsBackground.
    TRGB Background;
    bool SetsBackground = false;
};

using TLXCodecFunc = void (*)(TLXCodecCall& Call);
// A whole-file import that draws through the component itself (metafiles).
using TLXFileImport = void (*)(TLuxIO& IO, const std::string& FileName);

// Flags of an entry.
enum : unsigned {
    lxcoFillsMask = 1,          // the decoder fills the alpha mask (else it is made opaque)
    lxcoFileDpi = 2,            // file loads hand the resolution to the attached view
    lxcoStreamDpi = 4,          // stream loads do
    lxcoHeaderAlways = 8,       // the stream header is looked for whatever StreamHeaders says
    lxcoOldHeader = 16,         // an older 4-byte header (tag's first 3 characters, a zero)
    lxcoKeepPlaceholder = 32,   // an aborted stream save leaves the zeroed header
    // The entries of this flag share one file layout that content detection tells apart only
    // by a type field: a file of one named as another is taken by its name (icons, cursors).
    lxcoSharedLayout = 64,
};

struct TLXCodec {
    int FileType = 0;
    const char* Description = "";
    const char* Extensions = "";   // upper case, no dots, separated by ";"
    TLXCodecFunc Decode = nullptr;
    TLXCodecFunc Encode = nullptr;
    // The 12-byte stream header's tag for streams of this format, or null.
    const char* StreamTag = nullptr;
    unsigned Flags = 0;
    TLXFileImport ImportFile = nullptr;   // loads by file name without a decoder
};

// The built-in codecs in file type order.
std::span<const TLXCodec* const> CodecTable();
const TLXCodec* FindCodec(int FileType);
// The entry whose list holds the extension (without the dot, any case), or null.
const TLXCodec* FindCodecByExtension(const std::string& Extension);
// The extensions of a ";"-separated list, in order.
std::vector<std::string> SplitExtensionList(const std::string& List);

// One pixel of a pf24bit row.
inline void PutRGB(uint8_t* Row, int64_t X, const TRGB& C) {
    uint8_t* p = Row + X * 3;
    p[0] = C.b;
    p[1] = C.g;
    p[2] = C.r;
}

// ---- Detection ----

// What a probe sees: the stream at the position P of the data, the whole stream's size and
// the first bytes from P. A probe leaves the position at P.
struct TLXProbeInput {
    TStream* Stream = nullptr;
    int64_t Size = 0;
    const uint8_t* Head = nullptr;
    int64_t HeadLength = 0;   // up to 16
    // The 12-byte stream header tag at P: the characters up to the first zero, at most 5;
    // empty when fewer than 12 bytes are there.
    std::string Tag;
};
using TLXProbe = bool (*)(const TLXProbeInput& In);

struct TLXDetection {
    int FileType;
    TLXProbe Probe;
};

// The built-in probes in the order they are tried; the first that answers gives the type.
std::span<const TLXDetection> DetectionOrder();

// ---- 12-byte stream header: tag (4 characters), 4 zero bytes, LE32 length of the data ----

constexpr int LXStreamHeaderSize = 12;
// The characters up to the first zero byte, at most 5 (so "JFIF" only matches when byte 4
// is zero).
std::string StreamHeaderTag(const uint8_t* Bytes, int64_t Count);
// Reads 12 bytes. False, with an empty tag, when fewer than 12 bytes came.
bool ReadStreamHeader(TStream* Stream, std::string& Tag, uint32_t& Length);
void WriteStreamHeader(TStream* Stream, const char* Tag, uint32_t Length, bool& Error);

// The grey level of a colour for grey writers: the luminance weights 21, 71 and 7 over their
// own sum, 99, so white stays 255.
inline uint8_t GreyLevel(const TRGB& C) { return uint8_t((C.r * 21 + C.g * 71 + C.b * 7 + 49) / 99); }

// ---- Limits and helpers of the decoders ----

// Largest picture a decoder allocates, in pixels.
constexpr int64_t LXMaxPixels = int64_t(1) << 28;

// A Bits-bit sample (1 to 16) widened or cut to 8 bits: the top bits repeated below
// themselves, so the largest value is 255 and 0 stays 0.
inline uint8_t ExpandBits(uint32_t Value, int Bits) {
    if (Bits >= 8) return uint8_t(Value >> (Bits - 8));
    uint32_t v = (Value & ((1u << Bits) - 1)) << (8 - Bits);
    for (int have = Bits; have < 8; have += Bits) v |= v >> Bits;
    return uint8_t(v);
}

// A decoded picture may take at most LXMaxExpansion times the bytes of the stream from the
// image on, or LXMinDecodeBudget bytes, whichever is more: a small hostile file cannot claim
// gigabytes, while real images stay far below it.
constexpr int64_t LXMaxExpansion = 1024;
constexpr int64_t LXMinDecodeBudget = int64_t(16) << 20;
inline bool WithinDecodeBudget(int64_t DecodedBytes, int64_t StreamBytes) {
    return DecodedBytes <= std::max<int64_t>(LXMinDecodeBudget, StreamBytes * LXMaxExpansion);
}

// ---- Helpers of the encoders ----

// The picture an encoder works from: the caller's bitmap, or a converted copy of it, so that
// saving never changes the caller's picture. Pixel formats other than pf1bit and pf24bit
// start as a pf24bit copy.
class TLXWriterSource {
public:
    explicit TLXWriterSource(TBitmap* Bitmap);
    TBitmap* Bitmap() const { return bitmap_; }
    // To pf1bit: a picture of exactly two colours maps them to black and white (the darker one
    // to black), any other is dithered. Colour0 and Colour1 receive the colours the black and
    // the white bits stand for.
    void ToOneBit(TProgressRec& Progress, TRGB* Colour0 = nullptr, TRGB* Colour1 = nullptr);
    // To pf24bit.
    void To24Bit(TProgressRec& Progress);

private:
    TBitmap* bitmap_;
    std::unique_ptr<TBitmap> owned_;
};

// ---- EXIF hand-over ----

// The EXIF reader fills the EXIF fields from an APP1 payload and returns 1 when the block was
// EXIF. It is ReadExifBlock of the utility unit.
using TLXExifBlockReader = int (*)(const uint8_t* Block, int Length, TLXIOParams& IOParams);
extern TLXExifBlockReader ExifBlockReader;
