// TIFF reader and writer. Every offset, count and size of the file is checked against the
// stream before use; a bad file sets the abort flag and never touches memory outside the
// bitmap.
#include "Tiffilt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "LuxIOParams.h"
#include "LuxProc.h"
#include "TIFCCITT.h"
#include "Win32.h"
#include "jpegfilt.h"
#include "lxutils.h"

namespace {

// The abort flag of the record, or a local one when the caller gave none.
using AbortFlag = TLXAbortFlag;

enum : uint16_t { tByte = 1, tAscii = 2, tShort = 3, tLong = 4, tRational = 5, tSByte = 6,
                  tUndefined = 7, tSShort = 8, tSLong = 9, tSRational = 10 };

int TypeSize(uint16_t t) {
    switch (t) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}

struct Entry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0, value = 0;   // value converted to the machine's order
    uint8_t raw[4] = {};             // the value field as stored
};
using IFD = std::vector<Entry>;

int RoundI(double v) {
    if (!std::isfinite(v)) return 0;
    return int(std::clamp(std::nearbyint(v), -2147483648.0, 2147483647.0));
}

class TiffFile {
public:
    // Offsets count from base, the position of the header.
    TiffFile(TStream* s, bool mm, int64_t base)
        : s_(s), mm_(mm), base_(base), size_(std::max<int64_t>(s->Size() - base, 0)) {}

    int64_t Size() const { return size_; }
    bool MM() const { return mm_; }

    bool ReadAt(int64_t off, void* buf, int64_t n) {
        if (off < 0 || n < 0 || off > size_ || n > size_ - off) return false;
        if (n == 0) return true;
        s_->Seek(base_ + off, soBeginning);
        return s_->Read(buf, n) == n;
    }
    uint16_t U16(const uint8_t* p) const {
        return mm_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t U32(const uint8_t* p) const {
        return mm_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                   : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    // Entry count of the IFD at off, or -1.
    int EntryCount(int64_t off) {
        uint8_t b[2];
        if (!ReadAt(off, b, 2)) return -1;
        return U16(b);
    }
    bool LoadIFD(int64_t off, IFD& out) {
        const int n = EntryCount(off);
        if (n < 0) return false;
        std::vector<uint8_t> raw(size_t(n) * 12);
        if (!ReadAt(off + 2, raw.data(), int64_t(raw.size()))) return false;
        out.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            const uint8_t* p = raw.data() + size_t(i) * 12;
            Entry& e = out[size_t(i)];
            e.tag = U16(p);
            e.type = U16(p + 2);
            e.count = U32(p + 4);
            e.value = U32(p + 8);
            std::memcpy(e.raw, p + 8, 4);
        }
        return true;
    }

    static const Entry* Find(const IFD& ifd, uint16_t tag) {
        for (const Entry& e : ifd)
            if (e.tag == tag) return &e;
        return nullptr;
    }
    // The value of a single item held in the value field. Bytes lie in the field's first byte
    // in either byte order.
    uint32_t FieldValue(const Entry& e) const {
        if (e.type == tShort || e.type == tSShort) return U16(e.raw);
        if ((e.type == tByte || e.type == tSByte || e.type == tUndefined) && e.count <= 4) return e.raw[0];
        return e.value;
    }
    int64_t TagValue(const IFD& ifd, uint16_t tag, int64_t def) const {
        const Entry* e = Find(ifd, tag);
        if (!e) return def;
        const uint32_t v = FieldValue(*e);
        return e->type == tSShort ? int16_t(v) : e->type == tSByte ? int8_t(v) : int64_t(v);
    }

    // The items of a SHORT or LONG tag; empty when absent, of another type, or not all in
    // the stream.
    std::vector<uint32_t> TagArray(const IFD& ifd, uint16_t tag) {
        std::vector<uint32_t> out;
        const Entry* e = Find(ifd, tag);
        if (!e || e->count == 0) return out;
        const bool isShort = e->type == tShort || e->type == tSShort;
        const bool isLong = e->type == tLong || e->type == tSLong;
        if (!isShort && !isLong) return out;
        if (e->count == 1) {
            out.push_back(FieldValue(*e));
            return out;
        }
        if (isShort && e->count == 2) {
            out.push_back(U16(e->raw));
            out.push_back(U16(e->raw + 2));
            return out;
        }
        const int sz = isShort ? 2 : 4;
        const int64_t bytes = int64_t(e->count) * sz;
        if (bytes > size_) return out;
        std::vector<uint8_t> raw(static_cast<size_t>(bytes));
        if (!ReadAt(e->value, raw.data(), bytes)) return out;
        out.resize(e->count);
        for (uint32_t i = 0; i < e->count; ++i)
            out[i] = isShort ? U16(raw.data() + size_t(i) * 2) : U32(raw.data() + size_t(i) * 4);
        return out;
    }
    int64_t ArrayItem(const IFD& ifd, uint16_t tag, uint32_t i) {
        const Entry* e = Find(ifd, tag);
        if (!e || i >= e->count) return 0;
        if (e->count <= 2 && (e->type == tShort || e->type == tSShort)) return U16(e->raw + 2 * i);
        if (e->count == 1 && (e->type == tLong || e->type == tSLong)) return e->value;
        const int sz = TypeSize(e->type);
        if (sz != 2 && sz != 4) return 0;
        uint8_t b[4];
        if (!ReadAt(int64_t(e->value) + int64_t(i) * sz, b, sz)) return 0;
        return sz == 2 ? U16(b) : U32(b);
    }
    double RationalItem(const IFD& ifd, uint16_t tag, uint32_t i) {
        const Entry* e = Find(ifd, tag);
        if (!e || i >= e->count) return 0;
        uint8_t b[8];
        if (!ReadAt(int64_t(e->value) + int64_t(i) * 8, b, 8)) return 0;
        uint32_t num = U32(b), den = U32(b + 4);
        if (e->type == tSRational) {
            const double d = int32_t(den) == 0 ? 1.0 : double(int32_t(den));
            return double(int32_t(num)) / d;
        }
        return double(num) / (den == 0 ? 1.0 : double(den));
    }
    double Rational(const IFD& ifd, uint16_t tag) { return RationalItem(ifd, tag, 0); }
    // An ASCII tag, up to its first zero byte.
    std::string String(const IFD& ifd, uint16_t tag) {
        const Entry* e = Find(ifd, tag);
        if (!e || e->count == 0) return {};
        std::string out;
        if (e->count <= 4) {
            out.assign(reinterpret_cast<const char*>(e->raw), e->count);
        } else {
            if (int64_t(e->count) > size_) return {};
            out.resize(e->count);
            if (!ReadAt(e->value, out.data(), e->count)) return {};
        }
        const size_t z = out.find('\0');
        if (z != std::string::npos) out.resize(z);
        return out;
    }
    std::string ShortString(const IFD& ifd, uint16_t tag) {
        const Entry* e = Find(ifd, tag);
        if (!e) return {};
        return std::string(reinterpret_cast<const char*>(e->raw), std::min<uint32_t>(e->count, 4));
    }

private:
    TStream* s_;
    bool mm_;
    int64_t base_;
    int64_t size_;
};

// Decoding state of one page.
struct Page {
    int64_t width = 0, height = 0;
    int spp = 1, bits = 1;
    int64_t rowsPerStrip = 0;
    int64_t tileW = -1, tileH = -1;
    int photo = 2, planar = 1, compression = 1;
    int t4 = 0, fillOrder = 1, predictor = 1, extra = 0;
    std::vector<uint32_t> offsets, counts;
    TRGB palette[256];
    std::string software;
    TTiffLZWDecompressFunc lzw = nullptr;
};

bool IsCCITT(int c) { return c == 2 || c == 3 || c == 4; }

int64_t RowBytesOf(int64_t pixels, int bits, int spp) {
    return (pixels * bits * spp + 7) / 8;
}

// One strip or tile being decompressed.
struct StripState {
    const uint8_t* data = nullptr;
    int64_t length = 0;
    int64_t pos = 0;      // bytes
    int64_t bitPos = 0;   // CCITT
    std::vector<uint8_t> ref;
    void* lzwState = nullptr;
};

class Decoder {
public:
    Decoder(TiffFile& f, Page& p, TBitmap* bmp, TLXMask* mask, TProgressRec& prog, AbortFlag& ab)
        : f_(f), p_(p), bmp_(bmp), mask_(mask), prog_(prog), ab_(ab) {}

    void Strips() {
        const int64_t n = int64_t(p_.offsets.size());
        const int64_t rps = p_.rowsPerStrip;
        if (p_.planar == 2) {
            const int64_t third = n / 3;
            for (int64_t i = 0; i < third; ++i) {
                const int64_t first = i * rps;
                if (first >= p_.height) break;
                const int64_t rows = std::min(rps, p_.height - first);
                if (!Planar(i, third, first, rows)) return;
            }
            return;
        }
        for (int64_t i = 0; i < n; ++i) {
            const int64_t first = i * rps;
            if (first >= p_.height) break;
            const int64_t rows = std::min(rps, p_.height - first);
            std::vector<uint8_t> data = ReadChunk(i);
            if (!Chunky(data, 0, first, rows, p_.width)) return;
        }
    }

    void Tiles() {
        if (p_.planar == 2) {
            ab_.set();
            return;
        }
        const int64_t n = int64_t(p_.offsets.size());
        int64_t x = 0, y = 0;
        for (int64_t i = 0; i < n && y < p_.height; ++i) {
            std::vector<uint8_t> data = ReadChunk(i);
            if (!Chunky(data, x, y, p_.tileH, p_.tileW)) return;
            x += p_.tileW;
            if (x >= p_.width) {
                x = 0;
                y += p_.tileH;
            }
        }
    }

private:
    std::vector<uint8_t> ReadChunk(int64_t i) {
        std::vector<uint8_t> data;
        const int64_t off = p_.offsets[size_t(i)];
        if (off >= f_.Size()) return data;
        int64_t len = i < int64_t(p_.counts.size()) ? int64_t(p_.counts[size_t(i)]) : 0;
        if (len <= 0) len = f_.Size() - off;
        len = std::min(len, f_.Size() - off);
        data.resize(size_t(len));
        if (!f_.ReadAt(off, data.data(), len)) data.clear();
        return data;
    }

    // After each decoded row: progress and the abort test.
    bool RowDone() {
        ++prog_.val;
        if (prog_.fOnProgress)
            prog_.fOnProgress(prog_.Sender, RoundI(prog_.val * prog_.per));
        return !ab_.get();
    }

    // Decompresses one row of BytesPerRow bytes; null when the row failed.
    const uint8_t* Decompress(StripState& st, int64_t pixels, int64_t bpr, std::vector<uint8_t>& buf) {
        const int64_t left = st.length - st.pos;
        switch (p_.compression) {
            case 1:
                if (p_.bits >= 8 && left >= bpr) {
                    const uint8_t* r = st.data + st.pos;
                    st.pos += bpr;
                    return r;
                }
                std::fill(buf.begin(), buf.end(), 0);
                if (left > 0) std::memcpy(buf.data(), st.data + st.pos, size_t(std::min(left, bpr)));
                st.pos += bpr;
                return buf.data();
            case 2:
                if (left > 0)
                    st.pos += CCITTDecodeRow1D(buf.data(), st.data + st.pos, left, int(pixels),
                                               p_.fillOrder);
                return buf.data();
            case 3:
                if (p_.t4 & 1)
                    st.bitPos = CCITTDecodeRow2D(buf.data(), st.data, st.length, (p_.t4 & 4) != 0,
                                                 p_.fillOrder, st.bitPos, st.ref.data(), int(pixels));
                else
                    st.bitPos = CCITTDecodeRuns(buf.data(), st.data, st.length, int(pixels),
                                                p_.fillOrder, st.bitPos);
                return buf.data();
            case 4:
                st.bitPos = CCITTDecodeRow2D(buf.data(), st.data, st.length, false, p_.fillOrder,
                                             st.bitPos, st.ref.data(), int(pixels));
                return buf.data();
            case 5: {
                if (!p_.lzw || !st.data) return nullptr;
                const uint8_t* r = p_.lzw(st.data, int(bpr), &st.lzwState);
                if (!r) return nullptr;
                std::memcpy(buf.data(), r, size_t(bpr));
                return buf.data();
            }
            case 32773: {
                int64_t o = 0;
                while (o < bpr && st.pos < st.length) {
                    const int8_t n = int8_t(st.data[st.pos++]);
                    if (n >= 0) {
                        const int64_t k = std::min<int64_t>({n + 1, bpr - o, st.length - st.pos});
                        std::memcpy(buf.data() + o, st.data + st.pos, size_t(k));
                        o += k;
                        st.pos += n + 1;
                    } else if (n != -128) {
                        if (st.pos >= st.length) break;
                        const int64_t k = std::min<int64_t>(1 - n, bpr - o);
                        std::memset(buf.data() + o, st.data[st.pos++], size_t(k));
                        o += k;
                    }
                }
                if (o < bpr) std::memset(buf.data() + o, 0, size_t(bpr - o));
                return buf.data();
            }
            default: return buf.data();
        }
    }

    void FinishStrip(StripState& st) {
        if (p_.compression == 5 && p_.lzw) p_.lzw(nullptr, 0, &st.lzwState);
    }

    // Samples of one decompressed row, one byte each where the depth is below 8 (and not
    // bilevel data), with the predictor undone.
    const uint8_t* Samples(const uint8_t* row, int64_t pixels, int64_t bpr, std::vector<uint8_t>& out) {
        const int bits = p_.bits;
        const int64_t nsamples = pixels * p_.spp;
        const bool palette1 = bits == 1 && p_.photo == 3;
        if (bits == 4) {
            out.resize(size_t(bpr * 2));
            for (int64_t i = 0; i < bpr; ++i) {
                out[size_t(2 * i)] = uint8_t(row[i] >> 4);
                out[size_t(2 * i + 1)] = uint8_t(row[i] & 0x0F);
            }
            // Grey samples widened so that white stays white (15 gives 255).
            if (p_.photo == 0 || p_.photo == 1)
                for (auto& v : out) v = ExpandBits(v, 4);
            return out.data();
        }
        const bool ccitt = IsCCITT(p_.compression);
        if (((bits == 2 || bits == 3 || bits == 5 || bits == 6 || bits == 7) && !ccitt) || palette1) {
            out.resize(size_t(nsamples));
            // The fax decoders give white (sample 0) as a set bit.
            const unsigned flip = palette1 && ccitt ? 1 : 0;
            int64_t bit = 0;
            for (int64_t i = 0; i < nsamples; ++i) {
                unsigned v = 0;
                for (int k = 0; k < bits; ++k, ++bit)
                    v = (v << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
                out[size_t(i)] = uint8_t(v ^ flip);
            }
            return out.data();
        }
        if (p_.predictor == 2 && p_.compression == 5) {
            out.assign(row, row + bpr);
            const int spp = p_.spp;
            if (bits == 8 && (spp == 1 || spp == 3 || spp == 4)) {
                for (int64_t i = spp; i < nsamples; ++i)
                    out[size_t(i)] = uint8_t(out[size_t(i)] + out[size_t(i - spp)]);
            } else if (bits == 16 && spp == 3) {
                for (int64_t i = 3; i < nsamples; ++i) {
                    uint8_t* c = out.data() + 2 * i;
                    const uint8_t* b = c - 6;
                    const uint16_t v = uint16_t(f_.U16(c) + f_.U16(b));
                    if (f_.MM()) { c[0] = uint8_t(v >> 8); c[1] = uint8_t(v); }
                    else { c[0] = uint8_t(v); c[1] = uint8_t(v >> 8); }
                }
            }
            return out.data();
        }
        return row;
    }

    // One row of n pixels at (x, y) of the bitmap, clipped to it and to the sLen bytes of
    // samples s and the rawLen bytes of the undecoded row raw: fields that disagree with each
    // other never make a branch read past the row it was given.
    void Convert(const uint8_t* s, int64_t sLen, const uint8_t* raw, int64_t rawLen, int64_t x,
                 int64_t y, int64_t n) {
        if (y < 0 || y >= p_.height || x >= p_.width) return;
        n = std::min(n, p_.width - x);
        uint8_t* line = bmp_->ScanLine(int(y));
        const int photo = p_.photo, spp = p_.spp, bits = p_.bits;
        const bool mm = f_.MM();
        // Pixels that bytesPerPixel-byte reads reach within len bytes; last is the highest
        // byte offset a pixel's read touches.
        const auto fit = [&n](int64_t len, int64_t bytesPerPixel, int64_t last) {
            n = std::min(n, len >= last + 1 ? (len - last - 1) / bytesPerPixel + 1 : 0);
        };
        if (bmp_->PixelFormat() == pf1bit) {
            if (photo != 0 && photo != 1) return;
            n = std::min(n, sLen * 8);
            const bool ccitt = IsCCITT(p_.compression);
            const bool invert = (photo == 0 && !ccitt) || (photo == 1 && ccitt);
            for (int64_t i = 0; i < n; ++i) {
                int v = (s[i >> 3] >> (7 - (i & 7))) & 1;
                if (invert) v ^= 1;
                const int64_t X = x + i;
                const uint8_t m = uint8_t(0x80 >> (X & 7));
                if (v) line[X >> 3] |= m;
                else line[X >> 3] &= uint8_t(~m);
            }
            return;
        }
        if (photo == 2 && (spp == 3 || spp == 4) && bits == 8) {
            const bool alpha = spp == 4 && p_.extra == 2 && mask_;
            fit(sLen, spp, spp - 1);
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t* q = s + i * spp;
                PutRGB(line, x + i, TRGB{q[2], q[1], q[0]});
                if (alpha) mask_->SetPixel(int(x + i), int(y), q[3]);
            }
            if (alpha) mask_->Full = false;
        } else if (photo == 2 && (spp == 3 || spp == 4) && bits == 16) {
            const int hi = mm ? 0 : 1;
            fit(rawLen, spp * 2, 5);
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t* q = raw + i * spp * 2;
                PutRGB(line, x + i, TRGB{q[4 + hi], q[2 + hi], q[hi]});
            }
        } else if (photo == 2 && spp == 1 && bits == 16) {
            fit(rawLen, 2, 1);
            for (int64_t i = 0; i < n; ++i) {
                const unsigned v = f_.U16(raw + i * 2);
                PutRGB(line, x + i, TRGB{ExpandBits(v, 5), ExpandBits(v >> 5, 5), ExpandBits(v >> 10, 5)});
            }
        } else if (photo == 3 && bits <= 8 && spp == 2 && bits == 8) {
            fit(sLen, 2, 1);
            for (int64_t i = 0; i < n; ++i) {
                PutRGB(line, x + i, p_.palette[s[i * 2]]);
                if (mask_) mask_->SetPixel(int(x + i), int(y), 255 - s[i * 2 + 1]);
            }
        } else if (photo == 3 && bits <= 8) {
            fit(sLen, spp, 0);
            for (int64_t i = 0; i < n; ++i) PutRGB(line, x + i, p_.palette[s[i * spp]]);
        } else if ((photo == 0 || photo == 1) && spp == 1 && (bits == 8 || bits == 4)) {
            fit(sLen, 1, 0);
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t v = photo == 1 ? s[i] : uint8_t(255 - s[i]);
                PutRGB(line, x + i, TRGB{v, v, v});
            }
        } else if ((photo == 0 || photo == 1) && spp == 1 && bits == 16 && p_.compression == 1) {
            const int shift = p_.software.compare(0, 15, "Look@Molli v1.1") == 0 ? 4 : 8;
            fit(rawLen, 2, 1);
            for (int64_t i = 0; i < n; ++i) {
                unsigned v = f_.U16(raw + i * 2);
                if (photo == 0) v = 65535 - v;
                const uint8_t g = uint8_t(std::min(255u, v >> shift));
                PutRGB(line, x + i, TRGB{g, g, g});
            }
        } else if (photo == 5 && spp == 4 && bits == 8) {
            fit(sLen, 4, 3);
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t* q = s + i * 4;
                PutRGB(line, x + i, TIFFCMYKToRGB(q[0], q[1], q[2], q[3]));
            }
        } else if (photo == 8 && spp == 3 && bits == 8) {
            fit(sLen, 3, 2);
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t* q = s + i * 3;
                uint8_t c[3];
                CIELabToRGB(c, q[0] | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16);
                PutRGB(line, x + i, TRGB{c[0], c[1], c[2]});
            }
        }
    }

    bool Chunky(const std::vector<uint8_t>& data, int64_t x, int64_t y, int64_t rows, int64_t pixels) {
        const int64_t bpr = RowBytesOf(pixels, p_.bits, p_.spp);
        StripState st;
        st.data = data.data();
        st.length = int64_t(data.size());
        const bool ccitt = IsCCITT(p_.compression);
        std::vector<uint8_t> buf(size_t(bpr + 4), ccitt ? 0xFF : 0);
        if (ccitt) st.ref.assign(size_t((pixels + 7) / 8 + 4), 0xFF);
        std::vector<uint8_t> samples;
        for (int64_t r = 0; r < rows; ++r) {
            if (y + r >= p_.height) break;
            const uint8_t* row = Decompress(st, pixels, bpr, buf);
            if (!row) {
                FinishStrip(st);
                ab_.set();
                return false;
            }
            if (y + r >= p_.height) continue;
            const uint8_t* s = Samples(row, pixels, bpr, samples);
            const int64_t sLen = s == samples.data() ? int64_t(samples.size()) : bpr;
            Convert(s, sLen, row, bpr, x, y + r, pixels);
            if (!RowDone()) {
                FinishStrip(st);
                return false;
            }
        }
        FinishStrip(st);
        return true;
    }

    bool Planar(int64_t i, int64_t third, int64_t first, int64_t rows) {
        const bool rgb = p_.photo == 2 && p_.spp == 3 && p_.bits == 8;
        std::vector<uint8_t> data[3];
        StripState st[3];
        std::vector<uint8_t> buf[3];
        const int64_t bpr = RowBytesOf(p_.width, p_.bits, 1);
        for (int c = 0; c < 3; ++c) {
            data[c] = ReadChunk(i + c * third);
            st[c].data = data[c].data();
            st[c].length = int64_t(data[c].size());
            buf[c].assign(size_t(bpr + 4), 0);
        }
        bool ok = true;
        for (int64_t r = 0; r < rows && ok; ++r) {
            const uint8_t* row[3];
            for (int c = 0; c < 3; ++c) {
                row[c] = Decompress(st[c], p_.width, bpr, buf[c]);
                if (!row[c]) {
                    ab_.set();
                    ok = false;
                }
            }
            if (!ok) break;
            if (rgb) {
                uint8_t* line = bmp_->ScanLine(int(first + r));
                for (int64_t x = 0; x < p_.width; ++x)
                    PutRGB(line, x, TRGB{row[2][x], row[1][x], row[0][x]});
            }
            if (!RowDone()) ok = false;
        }
        for (auto& s : st) FinishStrip(s);
        return ok;
    }

    TiffFile& f_;
    Page& p_;
    TBitmap* bmp_;
    TLXMask* mask_;
    TProgressRec& prog_;
    AbortFlag& ab_;
};

// Old-style JPEG: the interchange-format block decoded by the JPEG reader.
void TIFFDecodeJpegBlock(TStream* Stream, TiffFile& f, int64_t start, int64_t length,
                         TBitmap* Bitmap, TProgressRec& Progress) {
    TMemoryStream ms;
    const int64_t n = std::clamp<int64_t>(std::min(length, f.Size() - start), 0, f.Size());
    if (n > 0) {
        std::vector<uint8_t> data(static_cast<size_t>(n));
        if (f.ReadAt(start, data.data(), n)) ms.Write(data.data(), n);
    }
    (void)Stream;
    ms.SetPosition(0);
    TLXIOParams scratch(nullptr);
    JpegDecodeStream(&ms, Bitmap, scratch, false, Progress);
}

// The alpha mask turned and flipped like the picture for an Orientation of 2 to 8.
void OrientMask(TLXMask* Mask, int Orientation) {
    if (!Mask || !Mask->Bits || Mask->BitsPerPixel != 8) return;
    const int W = Mask->Width, H = Mask->Height;
    const bool swap = Orientation >= 5;
    const int nw = swap ? H : W, nh = swap ? W : H;
    std::vector<uint8_t> old(size_t(W) * size_t(H));
    for (int y = 0; y < H; ++y) std::memcpy(old.data() + size_t(y) * size_t(W), Mask->ScanLine(y), size_t(W));
    const bool full = Mask->Full;
    Mask->AllocBits(nw, nh, 8);
    for (int b = 0; b < nh; ++b) {
        uint8_t* row = Mask->ScanLine(b);
        for (int a = 0; a < nw; ++a) {
            int x = a, y = b;   // the source pixel of (a, b)
            switch (Orientation) {
                case 2: x = W - 1 - a; break;
                case 3: x = W - 1 - a; y = H - 1 - b; break;
                case 4: y = H - 1 - b; break;
                case 5: x = b; y = a; break;
                case 6: x = b; y = H - 1 - a; break;
                case 7: x = W - 1 - b; y = H - 1 - a; break;
                case 8: x = W - 1 - b; y = a; break;
                default: break;
            }
            row[a] = old[size_t(y) * size_t(W) + size_t(x)];
        }
    }
    Mask->Full = full;
}

// Orientation 5 is the transpose and 7 the transverse (Rotate turns counter-clockwise for
// positive angles). The mask goes with the picture.
void AdjustOrientation(TBitmap* Bitmap, TLXMask* Mask, int Orientation) {
    if (Orientation < 2 || Orientation > 8) return;
    TLuxProc proc(nullptr);
    proc.AutoUndo = false;
    proc.SetAttachedBitmap(Bitmap);
    switch (Orientation) {
        case 2: proc.Flip(0); break;
        case 3: proc.Flip(1); proc.Flip(0); break;
        case 4: proc.Flip(1); break;
        case 5: proc.Rotate(-90, false); proc.Flip(0); break;
        case 6: proc.Rotate(-90, false); break;
        case 7: proc.Rotate(90, false); proc.Flip(0); break;
        case 8: proc.Rotate(90, false); break;
        default: break;
    }
    OrientMask(Mask, Orientation);
}

// Whether the page has a decoder: a compression this reader decodes (old-style JPEG is
// checked by the caller) and a row of the conversion table for the photometric
// interpretation, samples and bits. Any other page would load as a blank picture reported
// as success.
bool Decodable(const Page& p) {
    switch (p.compression) {
        case 1: case 5: case 32773: break;
        case 2: case 3: case 4:
            if (p.spp != 1 || p.bits != 1) return false;
            break;
        default: return false;
    }
    const int photo = p.photo, spp = p.spp, bits = p.bits;
    if (p.planar == 2) return photo == 2 && spp == 3 && bits == 8;
    if (spp == 1 && bits == 1 && photo != 3) return photo == 0 || photo == 1;
    switch (photo) {
        case 0: case 1: return spp == 1 && (bits == 8 || bits == 4 || (bits == 16 && p.compression == 1));
        case 2: return ((spp == 3 || spp == 4) && (bits == 8 || bits == 16)) || (spp == 1 && bits == 16);
        case 3: return bits <= 8;
        case 5: return spp == 4 && bits == 8;
        case 8: return spp == 3 && bits == 8;
        default: return false;
    }
}

// The Exif sub-IFD's values. Copyright is taken from IFD 0, where files keep it, when the
// sub-IFD has none.
void FillExif(TiffFile& f, const IFD& ifd0, const IFD& x, TLXIOParams& P) {
    P.ExifCopyright = TiffFile::Find(x, 33432) ? f.String(x, 33432) : f.String(ifd0, 33432);
    P.ExifExposureTime = f.Rational(x, 33434);
    P.ExifFNumber = f.Rational(x, 33437);
    P.ExifExposureProgram = int(f.TagValue(x, 34850, 0));
    P.SetExifISOSpeedRatings(0, int(f.ArrayItem(x, 34855, 0)));
    P.SetExifISOSpeedRatings(1, int(f.ArrayItem(x, 34855, 1)));
    P.ExifVersion = f.ShortString(x, 36864);
    P.ExifDateTimeOriginal = f.String(x, 36867);
    P.ExifDateTimeDigitized = f.String(x, 36868);
    P.ExifCompressedBitsPerPixel = f.Rational(x, 37122);
    P.ExifShutterSpeedValue = f.Rational(x, 37377);
    P.ExifApertureValue = f.Rational(x, 37378);
    P.ExifBrightnessValue = f.Rational(x, 37379);
    P.ExifExposureBiasValue = f.Rational(x, 37380);
    P.ExifMaxApertureValue = f.Rational(x, 37381);
    P.ExifSubjectDistance = f.Rational(x, 37382);
    P.ExifMeteringMode = int(f.TagValue(x, 37383, 0));
    P.ExifLightSource = int(f.TagValue(x, 37384, 0));
    P.ExifFlash = int(f.TagValue(x, 37385, 0));
    P.ExifFocalLength = f.Rational(x, 37386);
    P.ExifSubsecTime = f.String(x, 37520);
    P.ExifSubsecTimeOriginal = f.String(x, 37521);
    P.ExifSubsecTimeDigitized = f.String(x, 37522);
    P.ExifFlashPixVersion = f.ShortString(x, 40960);
    P.ExifColorSpace = int(f.TagValue(x, 40961, 0));
    P.ExifPixelXDimension = int(f.TagValue(x, 40962, 0));
    P.ExifPixelYDimension = int(f.TagValue(x, 40963, 0));
    P.ExifRelatedSoundFile = f.String(x, 40964);
    P.ExifFocalPlaneXResolution = f.Rational(x, 41486);
    P.ExifFocalPlaneYResolution = f.Rational(x, 41487);
    P.ExifFocalPlaneResolutionUnit = int(f.TagValue(x, 41488, 0));
    P.ExifExposureIndex = f.Rational(x, 41493);
    P.ExifSensingMethod = int(f.TagValue(x, 41495, 0));
    P.ExifFileSource = int(f.TagValue(x, 41728, 0));
    P.ExifSceneType = int(f.TagValue(x, 41729, 0));
}

void Decode(TBitmap* Bitmap, TStream* Stream, int& PageCount, TLXMask* Mask, bool ParamsOnly,
            TProgressRec& Progress, TLXIOParams& P, AbortFlag& ab) {
    PageCount = 0;
    const int64_t start = Stream->Position();
    uint8_t hd[8];
    if (Stream->Read(hd, 8) != 8 || !((hd[0] == 'I' && hd[1] == 'I') || (hd[0] == 'M' && hd[1] == 'M'))) {
        ab.set();
        return;
    }
    TiffFile f(Stream, hd[0] == 'M', start);
    const uint32_t first = f.U32(hd + 4);
    if (first == 0) {
        // No page at all: a load would decode nothing.
        if (!ParamsOnly) ab.set();
        return;
    }

    // The IFD chain; a chain that comes back to an IFD already seen ends there.
    IFD ifd;
    bool found = false;
    std::set<int64_t> seen;
    int64_t off = first;
    int pages = 0;
    while (off != 0 && pages < TiffMaxPages && seen.insert(off).second) {
        const int n = f.EntryCount(off);
        if (n < 0) break;
        if (pages == P.TiffImageIndex) {
            if (!f.LoadIFD(off, ifd)) break;
            found = true;
        }
        ++pages;
        uint8_t nb[4];
        if (!f.ReadAt(off + 2 + int64_t(n) * 12, nb, 4)) break;
        off = f.U32(nb);
    }
    PageCount = pages;
    if (!found) {
        ab.set();
        return;
    }
    IFD exif;
    const int64_t exifOff = f.TagValue(ifd, 34665, 0);
    if (exifOff > 0) f.LoadIFD(exifOff, exif);

    Page pg;
    pg.width = f.TagValue(ifd, 256, 0);
    pg.height = f.TagValue(ifd, 257, 0);
    {
        const Entry* e = TiffFile::Find(ifd, 258);
        if (e) {
            std::vector<uint32_t> b = f.TagArray(ifd, 258);
            if (b.empty()) {
                ab.set();
                return;
            }
            for (uint32_t v : b)
                if (v != b[0]) {
                    ab.set();
                    return;
                }
            pg.bits = int(std::min<uint32_t>(b[0], 65535));
        }
    }
    pg.compression = int(f.TagValue(ifd, 259, 1));
    pg.photo = int(f.TagValue(ifd, 262, 2));
    pg.fillOrder = int(f.TagValue(ifd, 266, 1));
    const int orientation = int(f.TagValue(ifd, 274, 1));
    pg.spp = int(std::min<int64_t>(f.TagValue(ifd, 277, 1), 65535));
    pg.rowsPerStrip = f.TagValue(ifd, 278, pg.height);
    // -1 (and anything beyond the height) means one strip; 0 would never advance.
    if (pg.rowsPerStrip <= 0 || pg.rowsPerStrip > pg.height)
        pg.rowsPerStrip = pg.height;
    pg.planar = int(f.TagValue(ifd, 284, 1));
    pg.t4 = int(f.TagValue(ifd, 292, 0));
    pg.predictor = int(f.TagValue(ifd, 317, 1));
    pg.tileW = TiffFile::Find(ifd, 322) ? f.TagValue(ifd, 322, -1) : -1;
    pg.tileH = TiffFile::Find(ifd, 323) ? f.TagValue(ifd, 323, -1) : -1;
    pg.extra = int(f.ArrayItem(ifd, 338, 0));
    pg.software = f.String(ifd, 305);
    if (pg.spp == 1 && pg.bits == 1 && pg.compression >= 1 && pg.compression <= 4 && pg.photo == 2)
        pg.photo = 0;

    // Parameters.
    P.Width = int(std::clamp<int64_t>(pg.width, 0, INT32_MAX));
    P.Height = int(std::clamp<int64_t>(pg.height, 0, INT32_MAX));
    P.BitsPerSample = pg.bits;
    P.SamplesPerPixel = pg.spp;
    switch (pg.compression) {
        case 1: P.TiffCompression = 0; break;
        case 2: P.TiffCompression = 1; break;
        case 3: P.TiffCompression = (pg.t4 & 1) ? 3 : 2; break;
        case 4: P.TiffCompression = 4; break;
        case 5: P.TiffCompression = 5; break;
        case 6: P.TiffCompression = 6; break;
        case 7: P.TiffCompression = 7; break;
        case 32773: P.TiffCompression = 8; break;
        default: break;
    }
    if (pg.photo >= 0 && pg.photo <= 6) P.TiffPhotometric = uint8_t(pg.photo);
    else if (pg.photo == 8) P.TiffPhotometric = 7;
    P.TiffDocumentName = f.String(ifd, 269);
    P.TiffImageDescription = f.String(ifd, 270);
    P.ExifMake = f.String(ifd, 271);
    P.ExifModel = f.String(ifd, 272);
    P.ExifOrientation = orientation;
    P.TiffPlanarConfig = pg.planar;
    P.TiffPageName = f.String(ifd, 285);
    P.TiffPageNumber = int(f.ArrayItem(ifd, 297, 0));
    P.TiffPageCount = int(f.ArrayItem(ifd, 297, 1));
    P.ExifSoftware = pg.software;
    P.ExifDateTime = f.String(ifd, 306);
    const int unit = int(f.TagValue(ifd, 296, 2));
    P.ExifResolutionUnit = unit;
    const double factor = unit == 3 ? 2.54 : 1.0;
    P.ExifXResolution = f.Rational(ifd, 282);
    P.ExifYResolution = f.Rational(ifd, 283);
    P.DpiX = RoundI(P.ExifXResolution * factor);
    P.DpiY = RoundI(P.ExifYResolution * factor);
    if (P.DpiX == 0) P.DpiX = ScreenPixelsPerInch();
    if (P.DpiY == 0) P.DpiY = ScreenPixelsPerInch();
    P.TiffXPos = RoundI(f.Rational(ifd, 286) * factor);
    P.TiffYPos = RoundI(f.Rational(ifd, 287) * factor);
    for (int i = 0; i < 2; ++i) P.SetExifWhitePoint(i, f.RationalItem(ifd, 318, uint32_t(i)));
    for (int i = 0; i < 6; ++i)
        P.SetExifPrimaryChromaticities(i, f.RationalItem(ifd, 319, uint32_t(i)));
    for (int i = 0; i < 3; ++i) P.SetExifYCbCrCoefficients(i, f.RationalItem(ifd, 529, uint32_t(i)));
    P.ExifYCbCrPositioning = int(f.TagValue(ifd, 531, 0));
    for (int i = 0; i < 6; ++i) P.SetExifReferenceBlackWhite(i, f.RationalItem(ifd, 532, uint32_t(i)));
    FillExif(f, ifd, exif, P);

    P.FreePalette();
    bool hasMap = false;
    if (TiffFile::Find(ifd, 320) && pg.bits >= 1 && pg.bits <= 8) {
        const std::vector<uint32_t> map = f.TagArray(ifd, 320);
        hasMap = map.size() >= 3;
        const size_t n = size_t(1) << pg.bits;
        const size_t third = map.size() / 3;
        TRGB* pal = P.AllocPalette(int(n));
        for (size_t i = 0; i < n && i < third; ++i) {
            pal[i] = TRGB{uint8_t(map[2 * third + i] >> 8), uint8_t(map[third + i] >> 8),
                          uint8_t(map[i] >> 8)};
            pg.palette[i] = pal[i];
        }
    }

    if (pg.compression == 5) {
        pg.lzw = P.TiffLZWDecompress ? P.TiffLZWDecompress : DefTiffLZWDecompress;
        if (!pg.lzw) {
            ab.set();
            return;
        }
    }
    if (ParamsOnly) return;

    // Size checks before anything is allocated.
    const bool jpegBlock = pg.compression == 6 && f.TagValue(ifd, 512, 0) == 0;
    // With one sample a plane is the whole pixel, whatever the planar configuration says.
    if (pg.spp == 1) pg.planar = 1;
    // A palette page without its colour map has no colours to show: an error, not a black picture.
    if (!jpegBlock && (!Decodable(pg) || (pg.photo == 3 && !hasMap))) {
        ab.set();
        return;
    }
    const bool bilevel = pg.spp == 1 && pg.bits == 1 && pg.photo != 3;
    if (!jpegBlock && (pg.width <= 0 || pg.height <= 0)) {
        ab.set();
        return;
    }
    // Each side is bounded first so that the product cannot overflow.
    if (pg.width < 0 || pg.height < 0 || pg.width > LXMaxPixels || pg.height > LXMaxPixels ||
        pg.width * pg.height > LXMaxPixels ||
        pg.width * 24 > (int64_t(1) << 31) - 32 || pg.bits > 16 || pg.spp > 8 || pg.bits < 1 ||
        pg.spp < 1) {
        ab.set();
        return;
    }
    const int64_t bitmapBytes = (pg.width * (bilevel ? 1 : 24) + 31) / 32 * 4 * pg.height +
                                (Mask ? pg.width * pg.height : 0);
    if (!WithinDecodeBudget(bitmapBytes, f.Size())) {
        ab.set();
        return;
    }

    Bitmap->SetSize(1, 1);
    if (Mask && pg.width > 0 && pg.height > 0) {
        Mask->AllocBits(int(pg.width), int(pg.height), 8);
        Mask->Fill(255);
    }
    if (jpegBlock) {
        TIFFDecodeJpegBlock(Stream, f, f.TagValue(ifd, 513, 0), f.TagValue(ifd, 514, 0), Bitmap,
                            Progress);
    } else {
        Bitmap->SetPixelFormat(bilevel ? pf1bit : pf24bit);
        Bitmap->SetSize(int(pg.width), int(pg.height));
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));
        Progress.val = 0;
        Progress.per = 100.0 / double(pg.height);
        Decoder d(f, pg, Bitmap, Mask, Progress, ab);
        if (pg.tileW > 0 || pg.tileH > 0) {
            // Tile sizes must cover something: a zero or huge tile is a bad file.
            const int64_t paddedW = (pg.width + pg.tileW - 1) / std::max<int64_t>(pg.tileW, 1) * pg.tileW;
            const int64_t paddedH = (pg.height + pg.tileH - 1) / std::max<int64_t>(pg.tileH, 1) * pg.tileH;
            if (pg.tileW <= 0 || pg.tileH <= 0 || pg.tileW > 8192 || pg.tileH > 8192 ||
                paddedW * paddedH > std::max<int64_t>(int64_t(1) << 24, 4 * pg.width * pg.height)) {
                ab.set();
                return;
            }
            pg.offsets = f.TagArray(ifd, 324);
            pg.counts = f.TagArray(ifd, 325);
            if (pg.offsets.empty()) {
                pg.offsets = f.TagArray(ifd, 273);
                pg.counts = f.TagArray(ifd, 279);
            }
            if (pg.offsets.empty()) ab.set();   // no data: nothing would be decoded
            else d.Tiles();
        } else {
            pg.offsets = f.TagArray(ifd, 273);
            pg.counts = f.TagArray(ifd, 279);
            if (pg.offsets.empty()) ab.set();
            else d.Strips();
        }
    }
    if (!ab.get() && P.TiffAdjustOrientation && orientation != 1)
        AdjustOrientation(Bitmap, Mask, orientation);
}

}  // namespace

TRGB TIFFCMYKToRGB(uint8_t C, uint8_t M, uint8_t Y, uint8_t K) {
    const int k = 255 - K;
    return TRGB{uint8_t((255 - Y) * k / 255), uint8_t((255 - M) * k / 255), uint8_t((255 - C) * k / 255)};
}

void TiffDecodeStream(TBitmap* Bitmap, TStream* Stream, int& PageCount, TLXMask* Mask,
                      bool ParamsOnly, TProgressRec& Progress, TLXIOParams& IOParams) {
    AbortFlag ab(Progress);
    PageCount = 0;
    try {
        Decode(Bitmap, Stream, PageCount, Mask, ParamsOnly, Progress, IOParams, ab);
    } catch (const std::exception&) {
        // Out of memory or a stream error: the page is not read.
        ab.set();
    }
}

// ---- Writing ----

void TIFFPackBitsEncode(const uint8_t* Row, int Length, std::vector<uint8_t>& Out) {
    int lit = 0;   // start of the pending literal bytes
    int i = 0;
    auto flush = [&](int end) {
        while (lit < end) {
            const int n = std::min(128, end - lit);
            Out.push_back(uint8_t(n - 1));
            Out.insert(Out.end(), Row + lit, Row + lit + n);
            lit += n;
        }
    };
    while (i < Length) {
        int run = 1;
        while (i + run < Length && run < 128 && Row[i + run] == Row[i]) ++run;
        if (run >= 4) {
            flush(i);
            Out.push_back(uint8_t(1 - run));
            Out.push_back(Row[i]);
            i += run;
            lit = i;
        } else {
            i += run;
            if (i - lit >= 128) flush(lit + 128);
        }
    }
    flush(Length);
}

void TIFFRGBToCMYK(uint8_t R, uint8_t G, uint8_t B, uint8_t Out[4]) {
    int m = std::max({R, G, B});
    const int k = 255 - m;
    if (m == 0) m = 1;
    Out[0] = uint8_t(255 - R * 255 / m);
    Out[1] = uint8_t(255 - G * 255 / m);
    Out[2] = uint8_t(255 - B * 255 / m);
    Out[3] = uint8_t(k);
}

namespace {

// The IFD being built: entries in the order added, little-endian.
class TagWriter {
public:
    // Offsets count from base, the position of the file's header.
    TagWriter(TStream* s, bool& err, int64_t base) : s_(s), err_(err), base_(base) {}
    void Long(uint16_t tag, uint32_t v) { Add(tag, tLong, 1, v); }
    void Short(uint16_t tag, uint32_t v) { Add(tag, tShort, 1, v & 0xFFFF); }
    void ShortPair(uint16_t tag, uint32_t a, uint32_t b) {
        Add(tag, tShort, 2, (a & 0xFFFF) | (b & 0xFFFF) << 16);
    }
    // The values are written at the stream position now.
    void ShortArray(uint16_t tag, const std::vector<uint16_t>& v) {
        if (v.size() <= 2) {
            ShortPair(tag, v.empty() ? 0 : v[0], v.size() > 1 ? v[1] : 0);
            return;
        }
        const uint32_t at = Here();
        std::vector<uint8_t> b;
        for (uint16_t x : v) {
            b.push_back(uint8_t(x));
            b.push_back(uint8_t(x >> 8));
        }
        StreamWriteChecked(s_, err_, b.data(), int64_t(b.size()));
        Add(tag, tShort, uint32_t(v.size()), at);
    }
    void Rational(uint16_t tag, uint32_t num, uint32_t den) {
        const uint32_t at = Here();
        uint8_t b[8];
        Put32(b, num);
        Put32(b + 4, den);
        StreamWriteChecked(s_, err_, b, 8);
        Add(tag, tRational, 1, at);
    }
    void String(uint16_t tag, const std::string& text) {
        if (text.empty()) return;
        std::string z = text;
        z.push_back('\0');
        const uint32_t count = uint32_t(z.size());
        if (count <= 4) {
            uint32_t v = 0;
            for (size_t i = 0; i < z.size(); ++i) v |= uint32_t(uint8_t(z[i])) << (8 * i);
            Add(tag, tAscii, count, v);
            return;
        }
        const uint32_t at = Here();
        StreamWriteChecked(s_, err_, z.data(), int64_t(z.size()));
        Add(tag, tAscii, count, at);
    }
    // Entry count, entries and a next-IFD offset.
    void WriteIFD(uint32_t next) {
        std::vector<uint8_t> b(2 + entries_.size() * 12 + 4);
        b[0] = uint8_t(entries_.size());
        b[1] = uint8_t(entries_.size() >> 8);
        for (size_t i = 0; i < entries_.size(); ++i) {
            uint8_t* p = b.data() + 2 + i * 12;
            const Entry& e = entries_[i];
            p[0] = uint8_t(e.tag);
            p[1] = uint8_t(e.tag >> 8);
            p[2] = uint8_t(e.type);
            p[3] = uint8_t(e.type >> 8);
            Put32(p + 4, e.count);
            Put32(p + 8, e.value);
        }
        Put32(b.data() + b.size() - 4, next);
        StreamWriteChecked(s_, err_, b.data(), int64_t(b.size()));
    }
    uint32_t Here() {
        const int64_t at = s_->Position() - base_;
        if (at < 0 || at > int64_t(UINT32_MAX)) err_ = true;   // beyond 32-bit offsets
        return uint32_t(at);
    }
    static void Put32(uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }

private:
    void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        Entry e;
        e.tag = tag;
        e.type = type;
        e.count = count;
        e.value = value;
        entries_.push_back(e);
    }
    TStream* s_;
    bool& err_;
    int64_t base_;
    std::vector<Entry> entries_;
};

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int TiffEncodeStream(TStream* Stream, bool Insert, TBitmap* Bitmap, TProgressRec& Progress,
                     TLXIOParams& P) {
    AbortFlag ab(Progress);
    bool& err = ab.ref();
    try {
        if (!Bitmap || Bitmap->Width() <= 0 || Bitmap->Height() <= 0) {
            ab.set();
            return 0;
        }
        // Insert: find the link to repoint before anything is written.
        int64_t linkPos = -1;
        uint32_t linkOld = 0;
        int pages = 0;
        if (Insert) {
            const int64_t size = Stream->Size();
            uint8_t hd[8];
            Stream->SetPosition(0);
            if (Stream->Read(hd, 8) != 8 || hd[0] != 'I' || hd[1] != 'I') {
                ab.set();
                return 0;
            }
            std::set<int64_t> seen;
            int64_t link = 4;
            uint32_t off = Le32(hd + 4);
            int index = 0;
            while (true) {
                if (index == P.TiffImageIndex && linkPos < 0) {
                    linkPos = link;
                    linkOld = off;
                }
                if (off == 0 || !seen.insert(off).second || int64_t(off) + 2 > size) break;
                uint8_t nb[4];
                Stream->SetPosition(off);
                if (Stream->Read(nb, 2) != 2) break;
                const int n = nb[0] | nb[1] << 8;
                link = int64_t(off) + 2 + int64_t(n) * 12;
                Stream->SetPosition(link);
                if (Stream->Read(nb, 4) != 4) break;
                ++pages;
                ++index;
                off = Le32(nb);
            }
            if (linkPos < 0) {
                linkPos = link;
                linkOld = 0;
            }
            Stream->Seek(0, soEnd);
        }

        const int w = Bitmap->Width(), h = Bitmap->Height();
        const bool bilevel = P.BitsPerSample == 1 && P.SamplesPerPixel == 1;
        TLXWriterSource source(Bitmap);
        TProgressRec quiet;   // the expansion to 24 bits reports no progress of its own
        if (bilevel) source.ToOneBit(Progress);
        else source.To24Bit(quiet);
        const TBitmap* src = source.Bitmap();

        int photo;   // 0, 1 bilevel; 2 RGB, 5 CMYK, 8 CIELab colour
        switch (P.TiffPhotometric) {
            case 0: case 1: photo = 1; break;
            case 5: photo = 5; break;
            case 7: photo = 8; break;
            default: photo = 2; break;
        }
        if (bilevel && photo != 1) photo = 1;
        if (!bilevel && photo == 1) photo = 2;
        int compression = 1, t4 = -1;
        bool predictor = false;
        TTiffLZWCompressFunc lzw = nullptr;
        switch (P.TiffCompression) {
            case 1: compression = 2; break;
            case 2: compression = 3; t4 = 0; break;
            case 3: compression = 3; t4 = 1; break;
            case 4: compression = 4; break;
            case 5:
                lzw = P.TiffLZWCompress ? P.TiffLZWCompress : DefTiffLZWCompress;
                if (lzw) {
                    compression = 5;
                    predictor = !bilevel && photo != 5;
                }
                break;
            case 8: compression = 32773; break;
            default: break;
        }
        const bool ccitt = IsCCITT(compression);
        if (ccitt && !bilevel) {
            compression = 1;
            t4 = -1;
            photo = 2;
        }
        if (ccitt && bilevel) photo = 0;
        // CCITT codes 0 bits as white: an inverted copy of the rows.
        std::unique_ptr<TBitmap> inverted;
        if (bilevel && photo == 0) {
            inverted = std::make_unique<TBitmap>();
            CopyBitmap(src, inverted.get());
            InvertBitmapBits(inverted.get());
            src = inverted.get();
        }

        const int64_t start = Stream->Position();
        const uint8_t zero[8] = {};
        StreamWriteChecked(Stream, err, zero, 8);
        TagWriter tags(Stream, err, Insert ? 0 : start);
        const int spp = bilevel ? 1 : photo == 5 ? 4 : 3;
        tags.Long(256, uint32_t(w));
        tags.Long(257, uint32_t(h));
        if (bilevel) tags.Short(258, 1);
        else tags.ShortArray(258, std::vector<uint16_t>(size_t(spp), 8));
        tags.Short(259, uint32_t(compression));
        tags.Short(262, uint32_t(photo));
        tags.String(269, P.TiffDocumentName);
        tags.String(270, P.TiffImageDescription);
        const uint32_t stripStart = tags.Here();
        if (err) return 0;

        // Pixel rows, top first.
        const int64_t bpr = bilevel ? (int64_t(w) + 7) / 8 : int64_t(w) * spp;
        std::vector<uint8_t> row(static_cast<size_t>(bpr)), packed;
        std::vector<uint8_t> ref;
        int pendingBits = 0;
        uint8_t pendingByte = 0;
        void* lzwState = nullptr;
        for (int y = 0; y < h; ++y) {
            if (Progress.fOnProgress) Progress.fOnProgress(Progress.Sender, RoundI(y * 100.0 / h));
            const uint8_t* line = src->ScanLine(y);
            if (bilevel) {
                std::memcpy(row.data(), line, size_t(bpr));
            } else {
                for (int x = 0; x < w; ++x) {
                    const uint8_t* q = line + size_t(x) * 3;
                    uint8_t* d = row.data() + size_t(x) * spp;
                    if (photo == 5) {
                        TIFFRGBToCMYK(q[2], q[1], q[0], d);
                    } else if (photo == 8) {
                        RGBToCIELab(d, uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0]);
                    } else {
                        d[0] = q[2];
                        d[1] = q[1];
                        d[2] = q[0];
                    }
                }
                if (predictor)
                    for (int64_t i = bpr - 1; i >= spp; --i)
                        row[size_t(i)] = uint8_t(row[size_t(i)] - row[size_t(i - spp)]);
            }
            switch (compression) {
                case 2: CCITTEncodeHuffmanRow(row.data(), w, Stream, err); break;
                case 3:
                    if (t4 == 1) CCITTEncodeG3Row2D(row.data(), w, Stream, err, ref, pendingBits, pendingByte);
                    else CCITTEncodeG3Row1D(row.data(), w, Stream, err, pendingBits, pendingByte);
                    break;
                case 4: CCITTEncodeG4Row(row.data(), w, Stream, err, ref, pendingBits, pendingByte); break;
                case 5: lzw(row.data(), int(bpr), Stream, &lzwState); break;
                case 32773:
                    packed.clear();
                    TIFFPackBitsEncode(row.data(), int(bpr), packed);
                    StreamWriteChecked(Stream, err, packed.data(), int64_t(packed.size()));
                    break;
                default: StreamWriteChecked(Stream, err, row.data(), bpr); break;
            }
            if (err) return 0;
        }
        switch (compression) {
            case 3:
                if (t4 == 1) CCITTEncodeG3Row2D(nullptr, w, Stream, err, ref, pendingBits, pendingByte);
                else CCITTFlushBits(Stream, err, pendingBits, pendingByte);
                break;
            case 4: CCITTEncodeG4Row(nullptr, w, Stream, err, ref, pendingBits, pendingByte); break;
            case 5: lzw(nullptr, 0, Stream, &lzwState); break;
            default: break;
        }
        if (err) return 0;
        const uint32_t stripBytes = uint32_t(tags.Here() - stripStart);

        tags.Long(273, stripStart);
        tags.Short(277, uint32_t(spp));
        tags.Long(278, uint32_t(h));
        tags.Long(279, stripBytes);
        if (predictor) tags.Short(317, 2);
        tags.Rational(282, uint32_t(std::max(P.DpiX, 0)), 1);
        tags.Rational(283, uint32_t(std::max(P.DpiY, 0)), 1);
        tags.String(285, P.TiffPageName);
        tags.Rational(286, uint32_t(std::max<int64_t>(int64_t(P.TiffXPos) * 10000, 0)), 10000);
        tags.Rational(287, uint32_t(std::max<int64_t>(int64_t(P.TiffYPos) * 10000, 0)), 10000);
        if (compression == 3) tags.Long(292, uint32_t(t4));
        tags.Short(296, 2);
        if (P.TiffPageNumber != 0 || P.TiffPageCount != 0)
            tags.ShortPair(297, uint32_t(P.TiffPageNumber), uint32_t(P.TiffPageCount));
        if (tags.Here() & 1) StreamWriteChecked(Stream, err, zero, 1);
        const uint32_t ifdAt = tags.Here();
        tags.WriteIFD(Insert ? linkOld : 0);
        const int64_t end = Stream->Position();
        if (err) return 0;
        uint8_t hd[8] = {'I', 'I', 42, 0};
        if (Insert) {
            uint8_t b[4];
            TagWriter::Put32(b, ifdAt);
            Stream->SetPosition(linkPos);
            StreamWriteChecked(Stream, err, b, 4);
            // The header placeholder of the appended page is left as zeros: nothing points
            // at it.
        } else {
            TagWriter::Put32(hd + 4, ifdAt);
            Stream->SetPosition(start);
            StreamWriteChecked(Stream, err, hd, 8);
        }
        Stream->SetPosition(end);
        return err ? 0 : (Insert ? pages + 1 : 1);
    } catch (const std::exception&) {
        ab.set();
        return 0;
    }
}

// ---- The codec table's entry ----

namespace {

void TiffDecodeCall(TLXCodecCall& c) {
    int pages = 0;
    TiffDecodeStream(c.Bitmap, c.Stream, pages, c.Mask, c.ParamsOnly, *c.Progress, *c.Params);
    c.Params->TiffImageCount = pages;
}

void TiffEncodeCall(TLXCodecCall& c) { TiffEncodeStream(c.Stream, false, c.Bitmap, *c.Progress, *c.Params); }

}  // namespace

bool TiffProbeStreamHeader(const TLXProbeInput& In) { return In.Size > 12 && In.Tag == "TIFF"; }

bool TiffProbe(const TLXProbeInput& In) {
    return In.Size > 8 && In.HeadLength >= 2 && In.Head[0] == In.Head[1] &&
           (In.Head[0] == 'I' || In.Head[0] == 'M');
}

const TLXCodec TiffCodec = {lxftTIFF, "TIFF Bitmap", "TIF;TIFF", TiffDecodeCall, TiffEncodeCall,
                            "TIFF", lxcoFillsMask | lxcoFileDpi | lxcoStreamDpi};
