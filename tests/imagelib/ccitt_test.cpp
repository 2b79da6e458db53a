// CCITT fax coding: the codes of T.4 for chosen runs, the EOL and fill rules of the decoders,
// the Group 3 / Group 4 framing, and random rows through every encoder and back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Classes.h"
#include "TIFCCITT.h"

namespace {

// "0101..." to bytes, zero-padded.
std::vector<uint8_t> Bytes(const std::string& bits) {
    std::vector<uint8_t> out((bits.size() + 7) / 8 + 4, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] |= uint8_t(0x80 >> (i % 8));
    out.resize((bits.size() + 7) / 8);
    return out;
}

std::string BitsOf(const TMemoryStream& s) {
    std::string out;
    const uint8_t* p = s.Memory();
    for (int64_t i = 0; i < const_cast<TMemoryStream&>(s).Size(); ++i)
        for (int b = 7; b >= 0; --b) out += ((p[i] >> b) & 1) ? '1' : '0';
    return out;
}

// Encoder row (bit set = black) from a pattern of 'b' / 'w'.
std::vector<uint8_t> EncRow(const std::string& px) {
    std::vector<uint8_t> r((px.size() + 7) / 8, 0);
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] == 'b') r[i / 8] |= uint8_t(0x80 >> (i % 8));
    return r;
}

// Decoded row (1 white) as 'b' / 'w'.
std::string Pattern(const std::vector<uint8_t>& row, int width) {
    std::string s;
    for (int x = 0; x < width; ++x) s += ((row[size_t(x / 8)] >> (7 - x % 8)) & 1) ? 'w' : 'b';
    return s;
}

const std::string kEOL = "000000000001";

TEST(CcittEncode, RunCodesOfLongRuns) {
    struct Case {
        int width;
        std::string expected;
    } cases[] = {
        // make-up 1728, terminating 0
        {1728, "010011011" "00110101"},
        // 2560, make-up 384, terminating 56
        {3000, "000000011111" "00110111" "01011001"},
        // 1 white pixel: terminating code 1
        {1, "000111"},
    };
    for (const Case& c : cases) {
        TMemoryStream s;
        bool err = false;
        std::vector<uint8_t> row(size_t((c.width + 7) / 8), 0);
        CCITTEncodeHuffmanRow(row.data(), c.width, &s, err);
        EXPECT_FALSE(err);
        std::string bits = BitsOf(s);
        ASSERT_GE(bits.size(), c.expected.size()) << c.width;
        EXPECT_EQ(bits.substr(0, c.expected.size()), c.expected) << c.width;
        EXPECT_EQ(bits.find('1', c.expected.size()), std::string::npos) << "padding is zeros";
    }
}

TEST(CcittEncode, RowStartingBlackHasEmptyWhiteRun) {
    TMemoryStream s;
    bool err = false;
    const auto row = EncRow("bbbw");
    CCITTEncodeHuffmanRow(row.data(), 4, &s, err);
    // white 0, black 3, white 1
    EXPECT_EQ(BitsOf(s).substr(0, 8 + 2 + 6), "00110101" "10" "000111");
}

TEST(CcittDecode, EolRules) {
    const int w = 10;
    // An EOL before the first code is skipped: EOL, white 4, black 6.
    {
        const auto d = Bytes(kEOL + "1011" + "0010");
        std::vector<uint8_t> row(2, 0);
        CCITTDecodeRuns(row.data(), d.data(), int64_t(d.size()), w, 1, 0);
        EXPECT_EQ(Pattern(row, w), "wwwwbbbbbb");
    }
    // An EOL inside the row (white 2, black 3, EOL) fills the rest with the current colour,
    // white again after the black terminating code.
    {
        const auto d = Bytes("0111" "10" + kEOL);
        std::vector<uint8_t> row(2, 0xFF);
        const int64_t end = CCITTDecodeRuns(row.data(), d.data(), int64_t(d.size()), w, 1, 0);
        EXPECT_EQ(Pattern(row, w), "wwbbbwwwww");
        EXPECT_EQ(end, 4 + 2 + 12);
    }
}

TEST(CcittDecode, FillBitsEolAndTagBit) {
    const int w = 8;
    // Twenty zeros and a 1 read as one EOL; tag 1: a 1-D row (white 8 = "10011").
    const auto d = Bytes(std::string(20, '0') + "1" + "1" + "10011");
    std::vector<uint8_t> row(1, 0), ref(1, 0xFF);
    const int64_t end = CCITTDecodeRow2D(row.data(), d.data(), int64_t(d.size()), true, 1, 0,
                                         ref.data(), w);
    EXPECT_EQ(Pattern(row, w), "wwwwwwww");
    EXPECT_EQ(end, 21 + 1 + 5);
    EXPECT_EQ(ref[0], 0xFF);
}

TEST(CcittEncode, Group3TwoDFraming) {
    const int w = 16;
    const auto r1 = EncRow("wwwwbbbbwwwwbbbb"), r2 = EncRow("wwwwbbbbwwwwbbbb");
    TMemoryStream s;
    bool err = false;
    std::vector<uint8_t> ref;
    int bits = 0;
    uint8_t byte = 0;
    CCITTEncodeG3Row2D(r1.data(), w, &s, err, ref, bits, byte);
    CCITTEncodeG3Row2D(r2.data(), w, &s, err, ref, bits, byte);
    CCITTEncodeG3Row2D(nullptr, w, &s, err, ref, bits, byte);
    EXPECT_FALSE(err);
    EXPECT_EQ(bits, 0);
    const std::string b = BitsOf(s);
    // Row 1: EOL, 1, white 4 "1011", black 4 "011", white 4, black 4.
    const std::string row1 = kEOL + "1" + "1011" "011" "1011" "011";
    // Row 2: EOL, 0, V0 for each of the four changes.
    const std::string row2 = kEOL + "0" + "1111";
    ASSERT_GE(b.size(), row1.size() + row2.size() + 12);
    EXPECT_EQ(b.substr(0, row1.size() + row2.size() + 12), row1 + row2 + kEOL);
    EXPECT_EQ(b.size() % 8, 0u);
    EXPECT_EQ(b.find('1', row1.size() + row2.size() + 12), std::string::npos);
}

TEST(CcittEncode, Group4IdenticalRowIsAllV0) {
    const int w = 16;
    const auto r = EncRow("bbwwwbbbwwwwwwbw");
    TMemoryStream s;
    bool err = false;
    std::vector<uint8_t> ref;
    int bits = 0;
    uint8_t byte = 0;
    CCITTEncodeG4Row(r.data(), w, &s, err, ref, bits, byte);
    TMemoryStream s2;
    std::vector<uint8_t> ref2 = ref;
    int bits2 = 0;
    uint8_t byte2 = 0;
    CCITTEncodeG4Row(r.data(), w, &s2, err, ref2, bits2, byte2);
    CCITTFlushBits(&s2, err, bits2, byte2);
    // Changing elements 0, 2, 5, 8, 14, 15 and the row end: seven V0 codes, then padding.
    EXPECT_EQ(BitsOf(s2), "11111110");
}

// Random rows with long and short runs through each coding and back.
std::vector<std::vector<uint8_t>> RandomImage(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> prev(size_t((w + 7) / 8), 0);
    for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> r = prev;
        const int mode = int(rng() % 4);
        if (mode == 0) {   // fresh random runs
            std::fill(r.begin(), r.end(), 0);
            int x = 0, black = int(rng() % 2);
            while (x < w) {
                const int n = int(rng() % (rng() % 3 == 0 ? 3000 : 12)) + 1;
                for (int k = 0; k < n && x < w; ++k, ++x)
                    if (black) r[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
                black ^= 1;
            }
        } else if (mode == 1) {   // a few flipped pixels of the previous row
            for (int k = 0; k < 4; ++k) {
                const int x = int(rng() % unsigned(w));
                r[size_t(x / 8)] ^= uint8_t(0x80 >> (x % 8));
            }
        }
        rows.push_back(r);
        prev = r;
    }
    return rows;
}

std::string EncPattern(const std::vector<uint8_t>& row, int w) {
    std::string s;
    for (int x = 0; x < w; ++x) s += ((row[size_t(x / 8)] >> (7 - x % 8)) & 1) ? 'b' : 'w';
    return s;
}

TEST(CcittRoundTrip, EveryCodingDecodesToTheRows) {
    for (int w : {1, 7, 8, 64, 203, 1728, 2600}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const int h = 12;
            const auto rows = RandomImage(w, h, seed * 100 + unsigned(w));
            for (int coding = 0; coding < 4; ++coding) {
                TMemoryStream s;
                bool err = false;
                std::vector<uint8_t> ref;
                int bits = 0;
                uint8_t byte = 0;
                std::vector<int64_t> rowEnds;
                for (const auto& r : rows) {
                    switch (coding) {
                        case 0: CCITTEncodeHuffmanRow(r.data(), w, &s, err); break;
                        case 1: CCITTEncodeG3Row1D(r.data(), w, &s, err, bits, byte); break;
                        case 2: CCITTEncodeG3Row2D(r.data(), w, &s, err, ref, bits, byte); break;
                        default: CCITTEncodeG4Row(r.data(), w, &s, err, ref, bits, byte); break;
                    }
                }
                if (coding == 1) CCITTFlushBits(&s, err, bits, byte);
                if (coding == 2) CCITTEncodeG3Row2D(nullptr, w, &s, err, ref, bits, byte);
                if (coding == 3) CCITTEncodeG4Row(nullptr, w, &s, err, ref, bits, byte);
                ASSERT_FALSE(err);
                // Decode, in both fill orders.
                for (int fillOrder : {1, 2}) {
                    std::vector<uint8_t> data(s.Memory(), s.Memory() + s.Size());
                    if (fillOrder == 2)
                        for (auto& b : data) {
                            uint8_t v = 0;
                            for (int k = 0; k < 8; ++k) v = uint8_t(v | (((b >> k) & 1) << (7 - k)));
                            b = v;
                        }
                    std::vector<uint8_t> row(size_t((w + 7) / 8) + 4, 0xFF),
                        refRow(size_t((w + 7) / 8) + 4, 0xFF);
                    int64_t pos = 0;
                    for (int y = 0; y < h; ++y) {
                        const int64_t n = int64_t(data.size());
                        switch (coding) {
                            case 0:
                                pos += CCITTDecodeRow1D(row.data(), data.data() + pos, n - pos, w, fillOrder);
                                break;
                            case 1:
                                pos = CCITTDecodeRuns(row.data(), data.data(), n, w, fillOrder, pos);
                                break;
                            default:
                                pos = CCITTDecodeRow2D(row.data(), data.data(), n, false, fillOrder, pos,
                                                       refRow.data(), w);
                                break;
                        }
                        std::string want = EncPattern(rows[size_t(y)], w);
                        std::string got;
                        for (int x = 0; x < w; ++x)
                            got += ((row[size_t(x / 8)] >> (7 - x % 8)) & 1) ? 'w' : 'b';
                        ASSERT_EQ(got, want) << "w " << w << " seed " << seed << " coding " << coding
                                             << " fill " << fillOrder << " row " << y;
                    }
                }
            }
        }
    }
}

TEST(CcittDecode, DamagedDataStaysInBounds) {
    std::mt19937 rng(7);
    for (int t = 0; t < 300; ++t) {
        const int w = int(rng() % 300) + 1;
        std::vector<uint8_t> data(rng() % 64);
        for (auto& b : data) b = uint8_t(rng());
        std::vector<uint8_t> row(size_t((w + 7) / 8)), ref(size_t((w + 7) / 8), 0xFF);
        int64_t pos = 0;
        for (int y = 0; y < 5; ++y) {
            const int64_t p2 = CCITTDecodeRow2D(row.data(), data.data(), int64_t(data.size()), t % 2 == 0,
                                                1 + t % 2, pos, ref.data(), w);
            EXPECT_GE(p2, pos - 12);
            pos = std::max(p2, pos);
            CCITTDecodeRuns(row.data(), data.data(), int64_t(data.size()), w, 1, int64_t(y));
            if (!data.empty()) CCITTDecodeRow1D(row.data(), data.data(), int64_t(data.size()), w, 2);
        }
    }
}

}  // namespace
