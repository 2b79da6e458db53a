// Targa reader and writer. The header, the colour map and the extension area are checked
// against the stream before use; a bad file sets the abort flag and leaves the bitmap alone.
#include "lxtgafil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "BMPFiltPnm.h"
#include "LuxIOParams.h"
#include "Win32.h"
#include "lxutils.h"
#include "stdquant.h"

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;
constexpr char kSignature[] = "TRUEVISION-XFILE.";   // 17 characters and the zero

void Put16(uint8_t* p, int64_t v) {
    const uint32_t u = uint32_t(std::clamp<int64_t>(v, 0, 0xFFFF));
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

using AbortFlag = TLXAbortFlag;

void Report(TProgressRec& p, int r, double step) {
    p.per = step;
    p.val = r;
    if (p.fOnProgress) p.fOnProgress(p.Sender, int(r * step));
}

// ---- Dates: day counts from 1899-12-30 ----

int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;   // days from 1970-01-01
}
constexpr int64_t kEpochOffset = 25569;   // 1970-01-01 as a day count from 1899-12-30

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

bool ValidDate(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// Zero-terminated text of at most Size bytes.
std::string FixedText(const uint8_t* p, size_t size) {
    size_t n = 0;
    while (n < size && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// ---- Reading ----

// Buffered bytes of the stream; past its end every read gives zeros and sets eof.
class TgaReader {
public:
    explicit TgaReader(TStream* s) : s_(s) {}
    uint8_t TgaReadByte() {
        if (pos_ >= len_ && !Fill()) {
            eof = true;
            return 0;
        }
        return buf_[size_t(pos_++)];
    }
    uint16_t TgaReadWord() {
        const uint8_t lo = TgaReadByte();
        return uint16_t(lo | (TgaReadByte() << 8));
    }
    void TgaReadBytes(uint8_t* out, int64_t n) {
        for (int64_t i = 0; i < n; ++i) out[i] = TgaReadByte();
    }
    void Skip(int64_t n) {
        for (int64_t i = 0; i < n && !eof; ++i) TgaReadByte();
    }
    // No byte left (the buffer is refilled first).
    bool AtEnd() { return pos_ >= len_ && !Fill(); }
    bool eof = false;

private:
    bool Fill() {
        len_ = s_->Read(buf_, sizeof buf_);
        pos_ = 0;
        return len_ > 0;
    }
    TStream* s_;
    uint8_t buf_[8192];
    int64_t pos_ = 0, len_ = 0;
};

struct TgaHeader {
    int idLength = 0, mapType = 0, imageType = 0;
    int mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    int xOrigin = 0, yOrigin = 0, width = 0, height = 0, depth = 0, descriptor = 0;
};

bool Accepted(const TgaHeader& h) {
    const int t = h.imageType, d = h.depth;
    return (t == 1 || t == 2 || t == 3 || t == 9 || t == 10 || t == 11) &&
           (d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32);
}

// Footer and extension area (TGA 2.0); the file's values go into the parameters.
void TgaReadHeader(TStream* s, int64_t start, TLXIOParams& p) {
    const int64_t size = s->Size();
    if (size - start < kHeaderSize + kFooterSize) return;
    uint8_t footer[kFooterSize];
    s->SetPosition(size - kFooterSize);
    if (s->Read(footer, kFooterSize) != kFooterSize) return;
    if (std::memcmp(footer + 8, kSignature, sizeof kSignature - 1) != 0) return;
    const int64_t at = start + int64_t(GetLE32(footer));
    if (GetLE32(footer) == 0 || at + kExtensionSize > size) return;
    uint8_t e[kExtensionSize];
    s->SetPosition(at);
    if (s->Read(e, kExtensionSize) != kExtensionSize) return;
    p.TgaAuthor = FixedText(e + 2, 41);
    const int month = GetLE16(e + 367), day = GetLE16(e + 369), year = GetLE16(e + 371);
    const int hour = GetLE16(e + 373), minute = GetLE16(e + 375), second = GetLE16(e + 377);
    if (month && day && year && ValidDate(year, month, day) && hour < 24 && minute < 60 && second < 60)
        p.TgaDate = double(DaysFromCivil(year, month, day) + kEpochOffset) +
                    (hour * 3600 + minute * 60 + second) / 86400.0;
    p.TgaJobName = FixedText(e + 379, 41);
    p.TgaKeyColor = TRGB{e[473], e[472], e[471]};
    const int an = GetLE16(e + 474), ad = GetLE16(e + 476), gn = GetLE16(e + 478), gd = GetLE16(e + 480);
    if (an && ad) p.TgaAspectRatio = double(an) / ad;
    if (gn && gd) p.TgaGamma = double(gn) / gd;
}

void TgaGrayPalette(TRGB* pal) {
    for (int i = 0; i < 256; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
}

void TgaDefaultPalette(TRGB* pal) {
    for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k)
            for (int l = 0; l < 4; ++l)
                pal[32 * j + 4 * k + l] =
                    TRGB{uint8_t(64 * l + 60), uint8_t(32 * k + 28), uint8_t(32 * j + 28)};
}

TRGB Colour16(uint32_t v) { return TRGB{ExpandBits(v, 5), ExpandBits(v >> 5, 5), ExpandBits(v >> 10, 5)}; }

// How the pixel values of the rows read: Bytes little-endian bytes each.
struct PixelFormat {
    int bytes = 3;
    bool greyAlpha = false;   // 16 bits of a grey image: grey, then alpha
};

uint32_t ReadRaw(TgaReader& r, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(r.TgaReadByte()) << (8 * i);
    return v;
}

// One pixel value as a colour (depths 8, 16, 24, 32; the alpha byte is dropped).
TRGB ToColour(uint32_t v, const PixelFormat& f, const TRGB* pal) {
    switch (f.bytes) {
        case 1: return pal[v & 0xFF];
        case 2: {
            if (!f.greyAlpha) return Colour16(v);
            const uint8_t g = uint8_t(v);
            return TRGB{g, g, g};
        }
        default: return TRGB{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
    }
}

// The run-length packets of an image. A packet may run on into the next row, as older
// writers make them; its pixels continue there.
struct Packets {
    int left = 0;
    bool repeat = false;
    uint32_t value = 0;
    uint32_t Next(TgaReader& r, int bytes) {
        if (left == 0) {
            const uint8_t hd = r.TgaReadByte();
            left = (hd & 0x7F) + 1;
            repeat = hd & 0x80;
            if (repeat) value = ReadRaw(r, bytes);
        }
        --left;
        return repeat ? value : ReadRaw(r, bytes);
    }
};

// One row into Line (pf24bit: width x 3 bytes; depth 1: packed bits, MSB first).
void TgaReadRow(TgaReader& r, const TgaHeader& h, const PixelFormat& f, bool rle, Packets& packets,
                const TRGB* pal, uint8_t* line) {
    const int w = h.width;
    if (h.depth == 1) {
        const int bytes = (w + 7) / 8;
        if (!rle) {
            r.TgaReadBytes(line, bytes);
            return;
        }
        // Packets of index bytes (0 or 1), one per pixel.
        std::memset(line, 0, size_t(bytes));
        for (int x = 0; x < w && !r.eof; ++x)
            if (packets.Next(r, 1) & 1) line[x >> 3] |= uint8_t(0x80 >> (x & 7));
        return;
    }
    if (h.depth == 4) {
        // Two indexes a byte, the first in the high nibble.
        for (int x = 0; x < w; x += 2) {
            const uint8_t b = r.TgaReadByte();
            PutRGB(line, x, pal[b >> 4]);
            if (x + 1 < w) PutRGB(line, x + 1, pal[b & 0x0F]);
        }
        return;
    }
    for (int x = 0; x < w && !r.eof; ++x)
        PutRGB(line, x, ToColour(rle ? packets.Next(r, f.bytes) : ReadRaw(r, f.bytes), f, pal));
}

void TgaMirrorRow(uint8_t* line, int w, bool oneBit) {
    if (oneBit) {
        std::vector<uint8_t> copy(line, line + (w + 7) / 8);
        std::memset(line, 0, copy.size());
        for (int x = 0; x < w; ++x)
            if (GetBit(copy.data(), x)) line[(w - 1 - x) >> 3] |= uint8_t(0x80 >> ((w - 1 - x) & 7));
        return;
    }
    for (int a = 0, b = w - 1; a < b; ++a, --b)
        for (int c = 0; c < 3; ++c) std::swap(line[a * 3 + c], line[b * 3 + c]);
}

}  // namespace

void TgaDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        const int64_t start = Stream->Position();
        IOParams.TgaAuthor.clear();
        IOParams.TgaJobName.clear();
        IOParams.TgaDate = LXTodayDate();
        IOParams.TgaKeyColor = TRGB{};
        IOParams.TgaAspectRatio = 1.0;
        IOParams.TgaGamma = 2.2;
        TgaReadHeader(Stream, start, IOParams);

        Stream->SetPosition(start);
        uint8_t raw[kHeaderSize];
        if (Stream->Read(raw, kHeaderSize) != kHeaderSize) {
            aborting.set();
            return;
        }
        TgaHeader h;
        h.idLength = raw[0];
        h.mapType = raw[1];
        h.imageType = raw[2];
        h.mapFirst = GetLE16(raw + 3);
        h.mapLength = GetLE16(raw + 5);
        h.mapEntryBits = raw[7];
        h.xOrigin = GetLE16(raw + 8);
        h.yOrigin = GetLE16(raw + 10);
        h.width = GetLE16(raw + 12);
        h.height = GetLE16(raw + 14);
        h.depth = raw[16];
        h.descriptor = raw[17];
        IOParams.TgaXPos = h.xOrigin;
        IOParams.TgaYPos = h.yOrigin;
        if (!Accepted(h)) {
            aborting.set();
            return;
        }
        TgaReader r(Stream);
        {
            uint8_t id[256];
            r.TgaReadBytes(id, h.idLength);
            IOParams.TgaImageName = FixedText(id, size_t(h.idLength));
        }

        // 16 bits in a grey image are a grey byte and an alpha byte, not 5-5-5 colour.
        PixelFormat format;
        format.bytes = h.depth / 8;
        format.greyAlpha = h.depth == 16 && (h.imageType == 3 || h.imageType == 11);
        TRGB pal[256];
        TgaDefaultPalette(pal);
        if (h.mapType == 1) {
            const int entryBytes = (h.mapEntryBits + 7) / 8;
            for (int i = 0; i < h.mapLength && !r.eof; ++i) {
                // Entries past the 256 an index byte can reach are read over.
                TRGB c{};
                switch (h.mapEntryBits) {
                    case 15: case 16: c = Colour16(r.TgaReadWord()); break;
                    case 24: case 32:
                        c.b = r.TgaReadByte();
                        c.g = r.TgaReadByte();
                        c.r = r.TgaReadByte();
                        if (h.mapEntryBits == 32) r.TgaReadByte();
                        break;
                    default: r.Skip(entryBytes); continue;   // the pixels still follow the map
                }
                if (h.mapFirst + i < 256) pal[h.mapFirst + i] = c;
            }
            const int n = std::min(h.mapLength, 256);
            TRGB* p = IOParams.AllocPalette(n);
            if (p) std::copy(pal, pal + n, p);
            IOParams.TgaGrayLevel = false;
        } else if (h.depth == 8 || format.greyAlpha) {
            IOParams.FreePalette();
            TgaGrayPalette(pal);
            IOParams.TgaGrayLevel = true;
        } else {
            IOParams.FreePalette();
            pal[0] = TRGB{0, 0, 0};
            pal[1] = TRGB{255, 255, 255};
        }
        if (r.eof) {
            aborting.set();
            return;
        }

        const bool rle = h.imageType >= 9;
        IOParams.TgaCompressed = rle;
        IOParams.Width = h.width;
        IOParams.Height = h.height;
        IOParams.DpiX = ScreenPixelsPerInch();
        IOParams.DpiY = ScreenPixelsPerInch();
        switch (h.depth) {
            case 1: IOParams.BitsPerSample = 1; IOParams.SamplesPerPixel = 1; break;
            case 4: IOParams.BitsPerSample = 4; IOParams.SamplesPerPixel = 1; break;
            case 8: IOParams.BitsPerSample = 8; IOParams.SamplesPerPixel = 1; break;
            case 16:
                IOParams.BitsPerSample = format.greyAlpha ? 8 : 5;
                IOParams.SamplesPerPixel = format.greyAlpha ? 2 : 3;
                break;
            case 24: IOParams.BitsPerSample = 8; IOParams.SamplesPerPixel = 3; break;
            default: IOParams.BitsPerSample = 8; IOParams.SamplesPerPixel = 4; break;
        }
        if (ParamsOnly) return;

        const int w = h.width, hh = h.height;
        const bool oneBit = h.depth == 1;
        const int64_t available = Stream->Size() - Stream->Position() + 8192;
        const int64_t bitmapBytes = (int64_t(w) * (oneBit ? 1 : 24) + 31) / 32 * 4 * hh;
        // Run-length coded 4-bit rows have no defined layout.
        if (w < 1 || hh < 1 || int64_t(w) * hh > LXMaxPixels || (rle && h.depth == 4) || r.AtEnd() ||
            !WithinDecodeBudget(bitmapBytes, available)) {
            aborting.set();
            return;
        }
        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(oneBit ? pf1bit : pf24bit);
        Bitmap->SetSize(w, hh);
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));
        const bool fromTop = h.descriptor & 0x20, mirror = h.descriptor & 0x10;
        const double step = 100.0 / hh;
        std::vector<uint8_t> line(size_t(w) * 3 + 8, 0);
        Packets packets;
        for (int row = 0; row < hh; ++row) {
            if (aborting.get()) break;
            std::fill(line.begin(), line.end(), 0);
            TgaReadRow(r, h, format, rle, packets, pal, line.data());
            if (mirror) TgaMirrorRow(line.data(), w, oneBit);
            uint8_t* out = Bitmap->ScanLine(fromTop ? row : hh - 1 - row);
            std::memcpy(out, line.data(), oneBit ? size_t(w + 7) / 8 : size_t(w) * 3);
            Report(Progress, row + 1, step);
            if (r.eof) break;   // the rest stays black
        }
    } catch (const std::exception&) {
        // Out of memory or a stream error: the file is not read.
        aborting.set();
    }
}

// ---- Writing ----

int TgaEncodeRowRLE(const uint8_t* Row, int Count, int PixelBytes, uint8_t* Dest) {
    const size_t pb = size_t(PixelBytes);
    auto same = [&](int a, int b) { return std::memcmp(Row + a * pb, Row + b * pb, pb) == 0; };
    int o = 0, i = 0;
    while (i < Count) {
        if (i + 1 < Count && same(i, i + 1)) {
            int n = 2;
            while (i + n < Count && n < 128 && same(i, i + n)) ++n;
            Dest[o++] = uint8_t(0x80 | (n - 1));
            std::memcpy(Dest + o, Row + i * pb, pb);
            o += PixelBytes;
            i += n;
        } else {
            int n = 1;
            while (i + n < Count && n < 128 && !(i + n + 1 < Count && same(i + n, i + n + 1))) ++n;
            Dest[o++] = uint8_t(n - 1);
            std::memcpy(Dest + o, Row + i * pb, pb * size_t(n));
            o += PixelBytes * n;
            i += n;
        }
    }
    return o;
}

namespace {

// Depth 8 or 24. Depth 8 is grey (type 3) or, with MapEntries, colour-mapped (type 1).
void TgaWriteHeader(TStream* s, bool& err, const TLXIOParams& p, int w, int h, int depth,
                    bool rle, int mapEntries, const std::string& id, const TRGB* pal) {
    uint8_t hd[kHeaderSize] = {};
    hd[0] = uint8_t(id.size() + 1);
    const int type = depth == 24 ? 2 : mapEntries ? 1 : 3;
    if (mapEntries) {
        hd[1] = 1;
        Put16(hd + 5, mapEntries);
        hd[7] = 24;
    }
    hd[2] = uint8_t(type + (rle ? 8 : 0));
    Put16(hd + 8, p.TgaXPos);
    Put16(hd + 10, p.TgaYPos);
    Put16(hd + 12, w);
    Put16(hd + 14, h);
    hd[16] = uint8_t(depth);
    hd[17] = 0x20;
    StreamWriteChecked(s, err, hd, kHeaderSize);
    StreamWriteChecked(s, err, id.c_str(), int64_t(id.size()) + 1);
    if (mapEntries) {
        std::vector<uint8_t> map(size_t(mapEntries) * 3);
        for (int i = 0; i < mapEntries; ++i) {
            map[size_t(i) * 3] = pal[i].b;
            map[size_t(i) * 3 + 1] = pal[i].g;
            map[size_t(i) * 3 + 2] = pal[i].r;
        }
        StreamWriteChecked(s, err, map.data(), int64_t(map.size()));
    }
}

void PutText(uint8_t* at, const std::string& text, size_t field) {
    const size_t n = std::min(text.size(), field - 1);
    std::memcpy(at, text.data(), n);
}

void TgaWriteExtension(TStream* s, bool& err, const TLXIOParams& p) {
    uint8_t e[kExtensionSize] = {};
    Put16(e, kExtensionSize);
    PutText(e + 2, p.TgaAuthor, 41);
    if (std::isfinite(p.TgaDate) && p.TgaDate >= -693593 && p.TgaDate < 2958466) {
        const double days = std::floor(p.TgaDate);
        int y, m, d;
        CivilFromDays(int64_t(days) - kEpochOffset, y, m, d);
        const int secs = std::clamp(int(std::llround((p.TgaDate - days) * 86400.0)), 0, 86399);
        Put16(e + 367, m);
        Put16(e + 369, d);
        Put16(e + 371, y);
        Put16(e + 373, secs / 3600);
        Put16(e + 375, secs / 60 % 60);
        Put16(e + 377, secs % 60);
    }
    PutText(e + 379, p.TgaJobName, 41);
    e[471] = p.TgaKeyColor.r;
    e[472] = p.TgaKeyColor.g;
    e[473] = p.TgaKeyColor.b;
    auto ratio = [](double v) {
        return std::isfinite(v) ? std::clamp<int64_t>(std::llround(v * 10000), 0, 0xFFFF) : 0;
    };
    Put16(e + 474, ratio(p.TgaAspectRatio));
    Put16(e + 476, 10000);
    Put16(e + 478, ratio(p.TgaGamma));
    Put16(e + 480, 10000);
    StreamWriteChecked(s, err, e, kExtensionSize);
}

void TgaWriteFooter(TStream* s, bool& err, uint32_t extensionOffset) {
    uint8_t f[kFooterSize] = {};
    Put32(f, extensionOffset);
    std::memcpy(f + 8, kSignature, sizeof kSignature);
    StreamWriteChecked(s, err, f, kFooterSize);
}

}  // namespace

void TgaEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                     TProgressRec& Progress) {
    AbortFlag aborting(Progress);
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        if (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) {
            aborting.set();
            return;
        }
        TLXWriterSource source(Bitmap);
        // Depths of 1 and 4 bits are written as 8-bit grey (black 0, white 255) and as an
        // 8-bit map of 16 entries: those are what other readers take.
        int bits = 24;
        if (IOParams.SamplesPerPixel == 1 &&
            (IOParams.BitsPerSample == 1 || IOParams.BitsPerSample == 4 || IOParams.BitsPerSample == 8))
            bits = IOParams.BitsPerSample;
        const int depth = bits == 24 ? 24 : 8;
        const bool grey = bits == 1 || (bits == 8 && IOParams.TgaGrayLevel);
        const int mapEntries = depth == 24 || grey ? 0 : 1 << bits;
        const bool rle = IOParams.TgaCompressed;

        TRGB pal[256] = {};
        std::unique_ptr<TLXQuantizer> quantizer;
        if (bits == 1) source.ToOneBit(Progress);
        else source.To24Bit(Progress);
        TBitmap* src = source.Bitmap();
        if (mapEntries)
            quantizer = std::make_unique<TLXQuantizer>(src, std::span<TRGB>(pal, size_t(mapEntries)),
                                                       mapEntries);

        const int64_t start = Stream->Position();
        const std::string id = IOParams.TgaImageName.substr(0, 254);
        bool& err = aborting.ref();
        TgaWriteHeader(Stream, err, IOParams, w, h, depth, rle, mapEntries, id, pal);
        if (aborting.get()) return;

        const int pixelBytes = depth / 8;
        std::vector<uint8_t> out(size_t(w) * 3 + 8, 0);
        std::vector<uint8_t> coded(size_t(w) * 4 + 8);
        const double step = 100.0 / h;
        for (int r = 0; r < h; ++r) {
            const uint8_t* row = src->ScanLine(r);
            if (bits == 1) {
                for (int x = 0; x < w; ++x) out[size_t(x)] = GetBit(row, x) ? 255 : 0;
            } else if (grey) {
                for (int x = 0; x < w; ++x)
                    out[size_t(x)] = GreyLevel(TRGB{row[x * 3], row[x * 3 + 1], row[x * 3 + 2]});
            } else {
                ConvertPixelRow(row, out.data(), 24, depth, w, {}, quantizer.get());
            }
            const int n = w * pixelBytes;
            if (rle) {
                const int m = TgaEncodeRowRLE(out.data(), w, pixelBytes, coded.data());
                StreamWriteChecked(Stream, err, coded.data(), m);
            } else {
                StreamWriteChecked(Stream, err, out.data(), n);
            }
            Report(Progress, r + 1, step);
            if (aborting.get()) return;
        }
        const int64_t extensionAt = Stream->Position() - start;
        TgaWriteExtension(Stream, err, IOParams);
        TgaWriteFooter(Stream, err, uint32_t(std::min<int64_t>(extensionAt, UINT32_MAX)));
    } catch (const std::exception&) {
        // Out of memory or a stream error: the image is not written.
        aborting.set();
    }
}

// ---- Detection and the codec table's entry ----

bool ProbeTgaStream(TStream* Stream) {
    const int64_t start = Stream->Position();
    uint8_t h[kHeaderSize];
    bool ok = false;
    try {
        if (Stream->Read(h, kHeaderSize) == kHeaderSize) {
            TgaHeader hd;
            hd.imageType = h[2];
            hd.depth = h[16];
            // A netpbm header ("P1" to "P6" and a blank) has its blank at byte 2, where a tab,
            // line feed or vertical tab reads as a run-length Targa type.
            ok = !PnmMagicAt(h, kHeaderSize) && Accepted(hd);
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

bool TgaProbe(const TLXProbeInput& In) { return ProbeTgaStream(In.Stream); }

namespace {

void TgaDecodeCall(TLXCodecCall& c) { TgaDecodeStream(c.Stream, c.Bitmap, *c.Params, c.ParamsOnly, *c.Progress); }
void TgaEncodeCall(TLXCodecCall& c) { TgaEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress); }

}  // namespace

// Both names the Targa lists of the library give, WIN and PIX, are Targa here.
const TLXCodec TgaCodec = {lxftTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX;WIN", TgaDecodeCall,
                           TgaEncodeCall, nullptr, lxcoFileDpi};
