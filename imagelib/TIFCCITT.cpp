// CCITT T.4 / T.6 run and mode codes. The decoders look at 32 bits at a time and search the
// code tables in order; every read is checked against the data length, so damaged data can
// only give wrong pixels, never a read past the buffer or an endless loop.
#include "TIFCCITT.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "lxdefs.h"

namespace {

constexpr int kRunEOL = -1;    // end of line (also with fill bits before it)
constexpr int kRunSkip = -2;   // a code to skip

struct Code {
    uint8_t len = 0;
    uint32_t bits = 0;
    int run = 0;
};

// Terminating codes 0..63, then make-up codes 64..1728, as bit strings.
const char* const kWhiteCodes[] = {
    "00110101", "000111", "0111", "1000", "1011", "1100", "1110", "1111", "10011", "10100",
    "00111", "01000", "001000", "000011", "110100", "110101", "101010", "101011", "0100111",
    "0001100", "0001000", "0010111", "0000011", "0000100", "0101000", "0101011", "0010011",
    "0100100", "0011000", "00000010", "00000011", "00011010", "00011011", "00010010",
    "00010011", "00010100", "00010101", "00010110", "00010111", "00101000", "00101001",
    "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101",
    "01011000", "01011001", "01011010", "01011011", "01001010", "01001011", "00110010",
    "00110011", "00110100",
    // 64 .. 1728
    "11011", "10010", "010111", "0110111", "00110110", "00110111", "01100100", "01100101",
    "01101000", "01100111", "011001100", "011001101", "011010010", "011010011", "011010100",
    "011010101", "011010110", "011010111", "011011000", "011011001", "011011010", "011011011",
    "010011000", "010011001", "010011010", "011000", "010011011"};

const char* const kBlackCodes[] = {
    "0000110111", "010", "11", "10", "011", "0011", "0010", "00011", "000101", "000100",
    "0000100", "0000101", "0000111", "00000100", "00000111", "000011000", "0000010111",
    "0000011000", "0000001000", "00001100111", "00001101000", "00001101100", "00000110111",
    "00000101000", "00000010111", "00000011000", "000011001010", "000011001011",
    "000011001100", "000011001101", "000001101000", "000001101001", "000001101010",
    "000001101011", "000011010010", "000011010011", "000011010100", "000011010101",
    "000011010110", "000011010111", "000001101100", "000001101101", "000011011010",
    "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100",
    "000000110111", "000000111000", "000000100111", "000000101000", "000001011000",
    "000001011001", "000000101011", "000000101100", "000001011010", "000001100110",
    "000001100111",
    // 64 .. 1728
    "0000001111", "000011001000", "000011001001", "000001011011", "000000110011",
    "000000110100", "000000110101", "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101"};

// Extended make-up codes 1792..2560, the same for both colours.
const char* const kExtendedCodes[] = {
    "00000001000", "00000001100", "00000001101", "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111"};

constexpr const char* kEOL = "000000000001";

Code FromString(const char* s, int run) {
    Code c;
    c.run = run;
    for (; *s; ++s) {
        c.bits = (c.bits << 1) | uint32_t(*s == '1');
        ++c.len;
    }
    return c;
}

// Zeros ending in a 1, len bits long.
Code ZerosThenOne(int len, int run) { return Code{uint8_t(len), 1u, run}; }

using Table = std::array<Code, 128>;

Table MakeTable(const char* const* codes) {
    Table t{};
    int n = 0;
    for (int i = 0; i < 64; ++i) t[size_t(n++)] = FromString(codes[i], i);
    for (int i = 0; i < 27; ++i) t[size_t(n++)] = FromString(codes[64 + i], (i + 1) * 64);
    for (int i = 0; i < 13; ++i) t[size_t(n++)] = FromString(kExtendedCodes[i], 1792 + i * 64);
    t[size_t(n++)] = FromString(kEOL, kRunEOL);
    for (int len = 9; len <= 11; ++len) t[size_t(n++)] = ZerosThenOne(len, kRunSkip);
    for (int len = 13; len <= 32; ++len) t[size_t(n++)] = ZerosThenOne(len, kRunEOL);
    return t;
}

const Table& WhiteTable() {
    static const Table t = MakeTable(kWhiteCodes);
    return t;
}
const Table& BlackTable() {
    static const Table t = MakeTable(kBlackCodes);
    return t;
}

// Mode codes of 2-D coding, in search order.
enum Mode { mZeros, mPass, mHoriz, mVL3, mVL2, mVL1, mV0, mVR1, mVR2, mVR3, mExt2D, mExt1D, mEOL };
const std::array<Code, 13>& ModeTable() {
    static const std::array<Code, 13> t = {
        FromString("000000000000", mZeros), FromString("0001", mPass), FromString("001", mHoriz),
        FromString("0000010", mVL3),        FromString("000010", mVL2), FromString("010", mVL1),
        FromString("1", mV0),               FromString("011", mVR1),   FromString("000011", mVR2),
        FromString("0000011", mVR3),        FromString("0000001111", mExt2D),
        FromString("000000001111", mExt1D), FromString(kEOL, mEOL)};
    return t;
}

uint8_t Reverse(uint8_t b) {
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// The bits of the data, read 32 at a time; bytes past the end read as zero.
struct BitReader {
    const uint8_t* data;
    int64_t length;
    bool lsbFirst;
    int64_t totalBits() const { return length * 8; }
    uint8_t Byte(int64_t i) const {
        if (i < 0 || i >= length) return 0;
        return lsbFirst ? Reverse(data[i]) : data[i];
    }
    uint32_t Peek(int64_t p) const {
        const int64_t b = p >> 3;
        uint64_t v = 0;
        for (int k = 0; k < 5; ++k) v = (v << 8) | Byte(b + k);
        return uint32_t(v >> (8 - (p & 7)));
    }
    int Bit(int64_t p) const { return (Byte(p >> 3) >> (7 - (p & 7))) & 1; }
};

template <size_t N>
const Code* Find(const std::array<Code, N>& t, uint32_t window) {
    for (const Code& c : t)
        if ((window >> (32 - c.len)) == c.bits) return &c;
    return nullptr;
}

// Pixels [from, to) of the row take the colour (1 white), clipped to the row.
void Fill(uint8_t* row, int width, int64_t from, int64_t to, int white) {
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, width);
    for (int64_t x = from; x < to; ++x) {
        const uint8_t m = uint8_t(0x80 >> (x & 7));
        if (white) row[x >> 3] |= m;
        else row[x >> 3] &= uint8_t(~m);
    }
}

// Colour of a decoded row's pixel (1 white); before the row and from its end on: white.
int RefPixel(const uint8_t* row, int width, int64_t x) {
    if (x < 0 || x >= width) return 1;
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

// First position at or after x (x may be -1) whose pixel has the colour; width when none.
int64_t FindColour(const uint8_t* row, int width, int64_t x, int colour) {
    if (x < 0) {
        if (colour == 1) return x;
        x = 0;
    }
    while (x < width && RefPixel(row, width, x) != colour) ++x;
    return std::min<int64_t>(x, width);
}

int64_t DecodeRuns(uint8_t* row, const BitReader& in, int width, int64_t pos) {
    const int64_t start = pos, end = in.totalBits();
    int white = 1;
    int64_t c = 0;
    bool makeUp = false;
    while ((c < width || makeUp) && pos < end) {
        const Code* e = Find(white ? WhiteTable() : BlackTable(), in.Peek(pos));
        if (!e) {
            ++pos;
            continue;
        }
        if (e->run == kRunEOL) {
            pos += e->len;
            if (pos - e->len == start) continue;
            Fill(row, width, c, width, white);
            break;
        }
        pos += e->len;
        if (e->run == kRunSkip) continue;
        Fill(row, width, c, c + e->run, white);
        c += e->run;
        makeUp = e->run >= 64;
        if (!makeUp) white ^= 1;
    }
    return pos;
}

// One run of horizontal mode: codes up to and including a terminating code.
int64_t ReadRun(const BitReader& in, int64_t& pos, int white) {
    int64_t sum = 0;
    const int64_t end = in.totalBits();
    while (pos < end) {
        const Code* e = Find(white ? WhiteTable() : BlackTable(), in.Peek(pos));
        if (!e) {
            ++pos;
            continue;
        }
        pos += e->len;
        if (e->run == kRunEOL) sum -= 3;
        else if (e->run == kRunSkip) sum -= 1;
        else {
            sum += e->run;
            if (e->run < 64) break;
        }
    }
    return sum;
}

}  // namespace

int64_t CCITTDecodeRuns(uint8_t* Row, const uint8_t* Data, int64_t DataLength, int Width,
                        int FillOrder, int64_t BitPos) {
    if (!Row || !Data || DataLength <= 0 || Width <= 0) return BitPos;
    const BitReader in{Data, DataLength, FillOrder != 1};
    return DecodeRuns(Row, in, Width, BitPos);
}

int64_t CCITTDecodeRow1D(uint8_t* Row, const uint8_t* Data, int64_t DataLength, int Width,
                         int FillOrder) {
    const int64_t bits = CCITTDecodeRuns(Row, Data, DataLength, Width, FillOrder, 0);
    return (bits + 7) / 8;
}

int64_t CCITTDecodeRow2D(uint8_t* Row, const uint8_t* Data, int64_t DataLength, bool FillBits,
                         int FillOrder, int64_t BitPos, uint8_t* RefRow, int Width) {
    if (!Row || !RefRow || Width <= 0) return BitPos;
    const BitReader in{Data, Data ? std::max<int64_t>(DataLength, 0) : 0, FillOrder != 1};
    const int64_t end = in.totalBits();
    int64_t pos = BitPos, a0 = -1;
    int white = 1;
    bool first = true;
    // b1: the first change of the reference row after a0 to the colour opposite a0's.
    auto b1Of = [&] {
        const int64_t x = FindColour(RefRow, Width, a0, white);
        return FindColour(RefRow, Width, x < 0 ? 0 : x, white ^ 1);
    };
    while (a0 < Width && pos < end) {
        const int64_t codeStart = pos;
        const Code* m = Find(ModeTable(), in.Peek(pos));
        int mode = m ? m->run : mZeros;
        pos += m ? m->len : 12;
        if (FillBits && mode == mZeros) {
            while (pos < end && !in.Bit(pos)) ++pos;
            ++pos;
            mode = mEOL;
        }
        switch (mode) {
            case mPass: {
                const int64_t b1 = b1Of();
                const int64_t b2 = FindColour(RefRow, Width, b1, white);
                Fill(Row, Width, a0, b2, white);
                a0 = b2;
                break;
            }
            case mHoriz: {
                const int64_t r1 = ReadRun(in, pos, white);
                const int64_t r2 = ReadRun(in, pos, white ^ 1);
                if (r1 < 0 || r2 < 0) break;
                const int64_t a = std::max<int64_t>(a0, 0);
                Fill(Row, Width, a, a + r1, white);
                Fill(Row, Width, a + r1, a + r1 + r2, white ^ 1);
                a0 = a + r1 + r2;
                break;
            }
            case mVL3: case mVL2: case mVL1: case mV0: case mVR1: case mVR2: case mVR3: {
                const int64_t a1 = b1Of() + (mode - mV0);
                Fill(Row, Width, a0, a1, white);
                a0 = a1;
                white ^= 1;
                break;
            }
            case mExt2D: case mExt1D: {
                // Uncompressed mode (T.4): n - 1 white pixels and a black one for n = 1..5,
                // five white pixels for n = 6, n - 7 white pixels and the exit for 7..11.
                bool done = false;
                while (!done && pos < end) {
                    int n = 0;
                    while (n < 12 && pos < end) {
                        ++n;
                        if (in.Bit(pos++)) break;
                    }
                    int64_t a = std::max<int64_t>(a0, 0);
                    if (n >= 12) {   // no code: leave the mode
                        done = true;
                    } else if (n <= 5) {
                        Fill(Row, Width, a, a + n - 1, 1);
                        Fill(Row, Width, a + n - 1, a + n, 0);
                        a0 = a + n;
                    } else if (n == 6) {
                        Fill(Row, Width, a, a + 5, 1);
                        a0 = a + 5;
                    } else {
                        Fill(Row, Width, a, a + n - 7, 1);
                        a0 = a + n - 7;
                        white = in.Bit(pos++) ? 0 : 1;
                        done = true;
                    }
                }
                break;
            }
            case mEOL:
                if (first) {
                    const int tag = pos < end ? in.Bit(pos) : 0;
                    ++pos;
                    if (tag) {
                        pos = DecodeRuns(Row, in, Width, pos);
                        a0 = Width;
                    }
                } else {
                    Fill(Row, Width, a0, Width, white);
                    pos = codeStart;   // the EOL belongs to the next row
                    a0 = Width;
                }
                break;
            default: break;   // twelve zeros: skipped
        }
        first = false;
    }
    std::memcpy(RefRow, Row, size_t((int64_t(Width) + 7) / 8));
    return pos;
}

// ---- Encoding ----

namespace {

// Bits appended most significant first; whole bytes are flushed by the callers.
struct BitWriter {
    std::vector<uint8_t> bytes;
    int pendingBits = 0;   // bits used of cur
    uint8_t cur = 0;
    void Put(uint32_t code, int len) {
        for (int i = len - 1; i >= 0; --i) {
            cur = uint8_t(cur | (((code >> i) & 1) << (7 - pendingBits)));
            if (++pendingBits == 8) {
                bytes.push_back(cur);
                cur = 0;
                pendingBits = 0;
            }
        }
    }
    void Put(const Code& c) { Put(c.bits, c.len); }
    void Pad() {
        if (pendingBits) {
            bytes.push_back(cur);
            cur = 0;
            pendingBits = 0;
        }
    }
    void Flush(TStream* s, bool& error) {
        if (!bytes.empty()) StreamWriteChecked(s, error, bytes.data(), int64_t(bytes.size()));
        bytes.clear();
    }
};

// The codes of the table for a run (index: 0..63 terminating, 64 + k make-up (k+1)*64).
const Code& RunCode(const Table& t, int run) {
    if (run < 64) return t[size_t(run)];
    if (run <= 1728) return t[size_t(63 + run / 64)];
    return t[size_t(91 + (run - 1792) / 64)];
}

void PutRun(BitWriter& w, int64_t n, int black) {
    const Table& t = black ? BlackTable() : WhiteTable();
    while (n >= 64) {
        const int64_t m = n > 2560 ? 2560 : (n / 64) * 64;
        w.Put(RunCode(t, int(m)));
        n -= m;
    }
    w.Put(RunCode(t, int(n)));
}

// Encoder rows: bit set = black. Beyond the row: white.
int Pix(const uint8_t* row, int width, int64_t x) {
    if (x < 0 || x >= width) return 0;
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
// First position at or after x whose colour differs from colour; width when none.
int64_t FindDiff(const uint8_t* row, int width, int64_t x, int colour) {
    while (x < width && Pix(row, width, x) == colour) ++x;
    return std::min<int64_t>(x, width);
}
int64_t NextChange(const uint8_t* row, int width, int64_t x) {
    if (x >= width) return width;
    return FindDiff(row, width, x, Pix(row, width, x));
}

void EncodeRuns(BitWriter& w, const uint8_t* row, int width) {
    int64_t x = 0;
    int black = 0;
    while (x < width) {
        const int64_t e = FindDiff(row, width, x, black);
        PutRun(w, e - x, black);
        x = e;
        black ^= 1;
    }
}

void Encode2DRow(BitWriter& w, const uint8_t* row, const uint8_t* ref, int width) {
    const auto& modes = ModeTable();
    int64_t a0 = 0;
    int64_t a1 = Pix(row, width, 0) ? 0 : FindDiff(row, width, 0, 0);
    int64_t b1 = Pix(ref, width, 0) ? 0 : FindDiff(ref, width, 0, 0);
    for (;;) {
        const int64_t b2 = NextChange(ref, width, b1);
        if (b2 < a1) {
            w.Put(modes[mPass]);
            a0 = b2;
        } else if (a1 - b1 > 3 || a1 - b1 < -3) {
            const int64_t a2 = NextChange(row, width, a1);
            w.Put(modes[mHoriz]);
            const int firstBlack = (a0 + a1 > 0 && Pix(row, width, a0)) ? 1 : 0;
            PutRun(w, a1 - a0, firstBlack);
            PutRun(w, a2 - a1, firstBlack ^ 1);
            a0 = a2;
        } else {
            w.Put(modes[size_t(mV0 + (a1 - b1))]);
            a0 = a1;
        }
        if (a0 >= width) break;
        const int c = Pix(row, width, a0);
        a1 = FindDiff(row, width, a0, c);
        b1 = FindDiff(ref, width, a0, c ^ 1);
        b1 = FindDiff(ref, width, b1, c);
    }
}

const Code& EOL() {
    static const Code c = FromString(kEOL, kRunEOL);
    return c;
}

BitWriter Resume(int pendingBits, uint8_t pendingByte) {
    BitWriter w;
    w.pendingBits = std::clamp(pendingBits, 0, 7);
    w.cur = w.pendingBits ? uint8_t(pendingByte & (0xFF00 >> w.pendingBits)) : 0;
    return w;
}
void Keep(const BitWriter& w, int& pendingBits, uint8_t& pendingByte) {
    pendingBits = w.pendingBits;
    pendingByte = w.cur;
}

size_t RowBytes(int width) { return size_t((int64_t(std::max(width, 0)) + 7) / 8); }

}  // namespace

void CCITTEncodeHuffmanRow(const uint8_t* Row, int Width, TStream* Stream, bool& Error) {
    BitWriter w;
    EncodeRuns(w, Row, Width);
    w.Pad();
    w.Flush(Stream, Error);
}

void CCITTEncodeG3Row1D(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                        int& PendingBits, uint8_t& PendingByte) {
    BitWriter w = Resume(PendingBits, PendingByte);
    // T.4 starts every row with an EOL; readers such as libtiff find the rows by it.
    w.Put(EOL());
    EncodeRuns(w, Row, Width);
    w.Flush(Stream, Error);
    Keep(w, PendingBits, PendingByte);
}

void CCITTFlushBits(TStream* Stream, bool& Error, int& PendingBits, uint8_t& PendingByte) {
    BitWriter w = Resume(PendingBits, PendingByte);
    w.Pad();
    w.Flush(Stream, Error);
    Keep(w, PendingBits, PendingByte);
}

void CCITTEncodeG3Row2D(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                        std::vector<uint8_t>& RefRow, int& PendingBits, uint8_t& PendingByte) {
    BitWriter w = Resume(PendingBits, PendingByte);
    w.Put(EOL());
    if (!Row) {
        w.Pad();
    } else if (RefRow.empty()) {
        w.Put(1, 1);
        EncodeRuns(w, Row, Width);
        RefRow.assign(Row, Row + RowBytes(Width));
    } else {
        w.Put(0, 1);
        RefRow.resize(RowBytes(Width));
        Encode2DRow(w, Row, RefRow.data(), Width);
        std::copy(Row, Row + RowBytes(Width), RefRow.begin());
    }
    w.Flush(Stream, Error);
    Keep(w, PendingBits, PendingByte);
}

void CCITTEncodeG4Row(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                      std::vector<uint8_t>& RefRow, int& PendingBits, uint8_t& PendingByte) {
    BitWriter w = Resume(PendingBits, PendingByte);
    if (!Row) {
        w.Put(EOL());
        w.Put(EOL());
        w.Pad();
    } else {
        if (RefRow.size() < RowBytes(Width)) RefRow.assign(RowBytes(Width) + 1, 0);
        Encode2DRow(w, Row, RefRow.data(), Width);
        std::copy(Row, Row + RowBytes(Width), RefRow.begin());
    }
    w.Flush(Stream, Error);
    Keep(w, PendingBits, PendingByte);
}
