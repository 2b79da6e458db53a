// PNM reader (P1 to P6) and P4 / P5 / P6 writer.
#include "BMPFiltPnm.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "LuxIOParams.h"
#include "Win32.h"
#include "lxutils.h"

namespace {

void Report(TProgressRec& p, double percent) {
    if (p.fOnProgress) p.fOnProgress(p.Sender, int(std::nearbyint(percent)));
}

bool IsTokenChar(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bytes of a stream through a buffer: the ASCII forms are read one character at a time.
class PnmSource {
public:
    explicit PnmSource(TStream* s) : s_(s) {}
    // Gives the unread bytes back to the stream, so binary data can follow the header.
    ~PnmSource() { Sync(); }
    PnmSource(const PnmSource&) = delete;
    PnmSource& operator=(const PnmSource&) = delete;
    int Get() {
        if (pos_ == len_) {
            pos_ = 0;
            len_ = s_->Read(buf_, sizeof buf_);
            if (len_ <= 0) {
                len_ = 0;
                return -1;
            }
        }
        return buf_[pos_++];
    }
    void Sync() {
        if (pos_ < len_) s_->Seek(pos_ - len_, soCurrent);
        pos_ = len_ = 0;
    }
    // Up to n bytes: the buffered ones first, then the stream's.
    int64_t Read(uint8_t* out, int64_t n) {
        int64_t got = std::min<int64_t>(n, len_ - pos_);
        std::memcpy(out, buf_ + pos_, size_t(got));
        pos_ += got;
        if (got < n) {
            const int64_t more = s_->Read(out + got, n - got);
            if (more > 0) got += more;
        }
        return got;
    }

private:
    TStream* s_;
    uint8_t buf_[4096];
    int64_t pos_ = 0, len_ = 0;
};

template <class Src>
void ReadPnmToken(Src& src, std::string& token) {
    token.clear();
    int c = src.Get();
    while (c >= 0 && !IsTokenChar(c) && c != '#') c = src.Get();
    if (c < 0) return;
    if (c == '#') {
        std::string text;
        for (c = src.Get(); c >= 0 && c != '\r' && c != '\n'; c = src.Get()) text += char(c);
        const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f'; };
        size_t a = 0, b = text.size();
        while (a < b && blank(text[a])) ++a;
        while (b > a && blank(text[b - 1])) --b;
        token.assign(1, '#');
        token.append(text, a, b - a);
        return;
    }
    while (c >= 0 && IsTokenChar(c)) {
        token += char(c);
        c = src.Get();
    }
}

struct StreamByteSource {
    TStream* s;
    int Get() {
        uint8_t b;
        return s->Read(&b, 1) == 1 ? b : -1;
    }
};

// Decimal value of a token; -1 when it is not a number. Values from 2^31 on come back as
// 2^31, so products of two stay within 64 bits.
int64_t PnmNumber(const std::string& t) {
    if (t.empty()) return -1;
    constexpr int64_t kCap = int64_t(1) << 31;
    int64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return -1;
        v = std::min(kCap, v * 10 + (c - '0'));
    }
    return v;
}

// round(v / maximum x 255), keeping the low 8 bits of values above the maximum.
uint8_t PnmScale(int64_t v, int64_t maximum) {
    return uint8_t(int64_t(std::nearbyint(double(v) / double(maximum) * 255.0)) & 0xFF);
}

}  // namespace

void PnmReadToken(TStream* Stream, std::string& Token) {
    StreamByteSource src{Stream};
    ReadPnmToken(src, Token);
}

void PnmDecodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, bool ParamsOnly,
                     TProgressRec& Progress) {
    TLXAbortFlag aborting(Progress);
    try {
        PnmSource src(Stream);
        IOParams.PnmComments->Clear();
        // Magic, width, height, maximum: comments may stand between any two of them.
        std::string tok, fields[4];
        int nfields = 0, need = 3;
        for (;;) {
            ReadPnmToken(src, tok);
            if (tok.empty()) break;
            if (tok[0] == '#') {
                IOParams.PnmComments->Add(tok.substr(1));
                continue;
            }
            fields[nfields++] = tok;
            if (nfields == 1) need = (tok == "P1" || tok == "P4") ? 3 : 4;
            if (nfields == need) break;
        }
        const std::string& magic = fields[0];
        const int kind = magic.size() == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6'
                             ? magic[1] - '0' : 0;
        const int64_t w = PnmNumber(fields[1]), h = PnmNumber(fields[2]);
        const int64_t maximum = need == 3 ? 1 : PnmNumber(fields[3]);
        // An unknown magic or a maximum of 0 (every sample would divide by it) is no image.
        if (kind == 0 || w <= 0 || h <= 0 || maximum < 1 || maximum > 65535) {
            aborting.set();
            return;
        }
        if (w > INT32_MAX || h > INT32_MAX) {
            aborting.set();
            return;
        }
        IOParams.Width = int(w);
        IOParams.Height = int(h);
        IOParams.DpiX = ScreenPixelsPerInch();
        IOParams.DpiY = ScreenPixelsPerInch();
        const bool mono = kind == 1 || kind == 4;
        IOParams.BitsPerSample = mono ? 1 : 8;
        IOParams.SamplesPerPixel = (kind == 3 || kind == 6) ? 3 : 1;
        IOParams.FreePalette();
        // The size is told even when it is too large to decode, so a caller can say so.
        if (ParamsOnly) return;
        if (w * h > LXMaxPixels || w * 24 > (int64_t(1) << 31) - 32) {
            aborting.set();
            return;
        }

        src.Sync();
        const int64_t available = Stream->Size() - Stream->Position();
        const int64_t bitmapBytes = (w * (mono ? 1 : 24) + 31) / 32 * 4 * h;
        if (available <= 0 || !WithinDecodeBudget(bitmapBytes, available)) {
            aborting.set();
            return;
        }

        Bitmap->SetSize(1, 1);
        Bitmap->SetPixelFormat(mono ? pf1bit : pf24bit);
        Bitmap->SetSize(int(w), int(h));
        std::memset(Bitmap->PixelBlock(), 0, size_t(Bitmap->ImageSize()));

        const int W = int(w), H = int(h);
        // Samples above 8 bits are two bytes, most significant first.
        const int sampleBytes = maximum > 255 ? 2 : 1;
        const int channels = kind == 6 ? 3 : 1;
        const int64_t rawRow = kind == 4 ? (w + 7) / 8 : w * channels * sampleBytes;
        std::vector<uint8_t> raw(kind >= 4 ? size_t(rawRow) : 0);
        bool ended = false;
        auto sample = [&](const uint8_t* p) -> int64_t {
            return sampleBytes == 2 ? (int64_t(p[0]) << 8) | p[1] : p[0];
        };
        for (int r = 0; r < H && !ended; ++r) {
            if (aborting.get()) break;
            uint8_t* line = Bitmap->ScanLine(r);
            switch (kind) {
                case 1:
                    for (int x = 0; x < W;) {
                        const int c = src.Get();
                        if (c < 0) {
                            ended = true;
                            break;
                        }
                        if (c == '0') line[x >> 3] |= uint8_t(0x80 >> (x & 7));
                        if (c == '0' || c == '1') ++x;
                    }
                    break;
                case 2:
                case 3:
                    for (int x = 0; x < W && !ended; ++x) {
                        uint8_t v[3] = {0, 0, 0};
                        for (int c = 0; c < (kind == 3 ? 3 : 1); ++c) {
                            do ReadPnmToken(src, tok);
                            while (!tok.empty() && tok[0] == '#');
                            if (tok.empty()) {
                                ended = true;
                                break;
                            }
                            v[c] = PnmScale(std::max<int64_t>(PnmNumber(tok), 0), maximum);
                        }
                        if (ended) break;
                        if (kind == 2)
                            PutRGB(line, x, TRGB{v[0], v[0], v[0]});
                        else
                            PutRGB(line, x, TRGB{v[2], v[1], v[0]});
                    }
                    break;
                default: {
                    const int64_t got = src.Read(raw.data(), rawRow);
                    if (got < rawRow) ended = true;
                    if (kind == 4) {
                        std::memcpy(line, raw.data(), size_t(got));
                        break;
                    }
                    const int n = int(got / (channels * sampleBytes));
                    for (int x = 0; x < n; ++x) {
                        const uint8_t* p = raw.data() + int64_t(x) * channels * sampleBytes;
                        if (kind == 5) {
                            const int64_t v = sample(p);
                            const uint8_t g = maximum < 255 || sampleBytes == 2 ? PnmScale(v, maximum)
                                                                                : uint8_t(v);
                            PutRGB(line, x, TRGB{g, g, g});
                        } else if (sampleBytes == 1) {
                            // 8-bit pixmaps are taken as they are, whatever the maximum.
                            PutRGB(line, x, TRGB{p[2], p[1], p[0]});
                        } else {
                            PutRGB(line, x, TRGB{PnmScale(sample(p + 4), maximum),
                                                    PnmScale(sample(p + 2), maximum),
                                                    PnmScale(sample(p), maximum)});
                        }
                    }
                    break;
                }
            }
            Report(Progress, double(r + 1) * 100.0 / H);
        }
        if (kind == 4) {
            uint8_t* p = Bitmap->PixelBlock();
            const int64_t n = Bitmap->ImageSize();
            for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
        }
    } catch (const std::exception&) {
        aborting.set();
    }
}

void PnmEncodeStream(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams, TProgressRec& Progress) {
    TLXAbortFlag aborting(Progress);
    try {
        const int w = Bitmap->Width(), h = Bitmap->Height();
        if (w <= 0 || h <= 0) {
            aborting.set();
            return;
        }
        TLXWriterSource source(Bitmap);
        std::string comments;
        for (int i = 0; i < IOParams.PnmComments->Count(); ++i) {
            // A line break inside a comment would end it and put its rest into the header.
            std::string c = IOParams.PnmComments->Strings(i);
            std::replace(c.begin(), c.end(), '\n', ' ');
            std::replace(c.begin(), c.end(), '\r', ' ');
            comments += "\n# " + c + "\n";
        }
        const bool p4 = (IOParams.BitsPerSample == 1 && IOParams.SamplesPerPixel == 1) ||
                        source.Bitmap()->PixelFormat() == pf1bit;
        const bool p5 = !p4 && IOParams.BitsPerSample == 8 && IOParams.SamplesPerPixel == 1;
        if (p4) source.ToOneBit(Progress);
        const TBitmap* src = source.Bitmap();
        const std::string size = std::to_string(w) + " " + std::to_string(h);
        const std::string header = p4   ? "P4 " + comments + size + "\n"
                                   : p5 ? "P5 " + comments + size + " 255\n"
                                        : "P6 " + comments + size + " 255\n";
        bool& err = aborting.ref();
        StreamWriteChecked(Stream, err, header.data(), int64_t(header.size()));
        const int64_t outRow = p4 ? (int64_t(w) + 7) / 8 : p5 ? w : int64_t(w) * 3;
        std::vector<uint8_t> out(static_cast<size_t>(outRow));
        for (int r = 0; r < h; ++r) {
            const uint8_t* line = src->ScanLine(r);
            if (p4) {
                for (int64_t i = 0; i < outRow; ++i) out[size_t(i)] = uint8_t(~line[i]);
            } else {
                for (int x = 0; x < w; ++x) {
                    const uint8_t* p = line + int64_t(x) * 3;
                    if (p5) {
                        out[size_t(x)] = GreyLevel(TRGB{p[0], p[1], p[2]});
                    } else {
                        out[size_t(x) * 3] = p[2];
                        out[size_t(x) * 3 + 1] = p[1];
                        out[size_t(x) * 3 + 2] = p[0];
                    }
                }
            }
            StreamWriteChecked(Stream, err, out.data(), outRow);
            Report(Progress, double(r + 1) * 100.0 / h);
        }
    } catch (const std::exception&) {
        aborting.set();
    }
}


// ---- Detection ----

namespace {

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void PnmDecodeCall(TLXCodecCall& c) {
    PnmDecodeStream(c.Stream, c.Bitmap, *c.Params, c.ParamsOnly, *c.Progress);
}

void PnmEncodeCall(TLXCodecCall& c) { PnmEncodeStream(c.Stream, c.Bitmap, *c.Params, *c.Progress); }

}  // namespace

bool PnmMagicAt(const uint8_t* Head, int64_t Length) {
    return Length >= 3 && Head[0] == 'P' && Head[1] >= '1' && Head[1] <= '6' &&
           (IsBlank(Head[2]) || Head[2] == '#');
}

bool ProbePnmStream(TStream* Stream) {
    // Hostile data must not make the probe scan a whole file: the header has to lie within
    // the first 64 KB, and no token or comment may be longer than 1 KB.
    constexpr int64_t MaxScan = 64 * 1024;
    constexpr size_t MaxToken = 1024;
    constexpr int MaxTokens = 501;
    const int64_t start = Stream->Position();
    bool ok = false;
    try {
        std::vector<uint8_t> buf(static_cast<size_t>(MaxScan));
        const int64_t n = std::max<int64_t>(0, Stream->Read(buf.data(), MaxScan));
        int64_t i = 0;
        bool bad = false;
        auto next = [&]() -> std::string {
            std::string tok;
            while (i < n) {
                const uint8_t c = buf[size_t(i)];
                if (c == '#') {
                    const int64_t begin = i;
                    while (i < n && buf[size_t(i)] != '\n' && buf[size_t(i)] != '\r') ++i;
                    if (i - begin > int64_t(MaxToken)) { bad = true; return {}; }
                    if (!tok.empty()) return tok;
                } else if (IsBlank(c)) {
                    ++i;
                    if (!tok.empty()) return tok;
                } else {
                    tok.push_back(char(c));
                    ++i;
                    if (tok.size() > MaxToken) { bad = true; return {}; }
                }
            }
            return tok;
        };
        auto number = [](const std::string& t) -> int64_t {
            if (t.empty() || t.size() > 10) return -1;
            int64_t v = 0;
            for (char c : t) {
                if (c < '0' || c > '9') return -1;
                v = v * 10 + (c - '0');
            }
            return v > 0x7FFFFFFF ? -1 : v;
        };
        int tokens = 0;
        const std::string magic = next();
        ++tokens;
        if (!bad && magic.size() == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6') {
            const int64_t w = number(next());
            const int64_t h = bad ? -1 : number(next());
            tokens += 2;
            if (!bad && magic[1] != '1' && magic[1] != '4') {
                next();   // the maximum value; its text does not decide
                ++tokens;
            }
            ok = !bad && tokens <= MaxTokens && w > 0 && h > 0;
        }
    } catch (...) {
        ok = false;
    }
    Stream->SetPosition(start);
    return ok;
}

bool PnmProbe(const TLXProbeInput& In) { return ProbePnmStream(In.Stream); }

const TLXCodec PnmCodec = {lxftPXM, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM",
                           PnmDecodeCall, PnmEncodeCall};
