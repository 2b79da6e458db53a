// A greyscale progressive JPEG of one flat grey whose scans are mostly empty: one DC scan,
// then AC scans over coefficients 1-63 that hold nothing but end-of-band runs (a few hundred
// bytes each even for a 16384 x 16384 page), so a small file asks the decoder for many passes
// over its whole coefficient image. The same as bench/imageio/many_scans.py writes.
#pragma once

#include <cstdint>
#include <vector>

namespace many_scans {

enum class Kind {
    First,    // every AC scan a first scan (Ah 0, Al 0)
    Refine,   // one first scan at Al 1, then refinement scans (Ah 1, Al 0) of the whole band
};

class BitWriter {
public:
    void Put(uint32_t Value, int Count) {
        for (int i = Count - 1; i >= 0; --i) {
            acc_ = uint8_t(acc_ << 1 | ((Value >> i) & 1));
            if (++n_ == 8) {
                out_.push_back(acc_);
                if (acc_ == 0xFF) out_.push_back(0);   // byte stuffing
                acc_ = 0;
                n_ = 0;
            }
        }
    }
    std::vector<uint8_t> Flush() {
        while (n_) Put(1, 1);
        return out_;
    }

private:
    std::vector<uint8_t> out_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

inline void Segment(std::vector<uint8_t>& f, uint8_t Code, const std::vector<uint8_t>& Body) {
    f.insert(f.end(), {0xFF, Code, uint8_t((Body.size() + 2) >> 8), uint8_t(Body.size() + 2)});
    f.insert(f.end(), Body.begin(), Body.end());
}

// Scans: all of them, the DC scan included. PadTo: zeros after the end of the image up to
// that file size, so the file is as large as a decoder's size budget wants for the page.
inline std::vector<uint8_t> Make(int Width, int Height, int Scans, Kind K = Kind::First, size_t PadTo = 0) {
    const uint64_t blocks = uint64_t((Width + 7) / 8) * uint64_t((Height + 7) / 8);
    // End-of-band runs of 32767 blocks (EOB14, all 14 extra bits set) as code '00', the rest as
    // one shorter run EOBr, code '01'.
    BitWriter ac;
    uint64_t left = blocks;
    for (; left >= 32767; left -= 32767) {
        ac.Put(0, 2);
        ac.Put(0x3FFF, 14);
    }
    int r = 0;
    if (left) {
        while ((uint64_t(2) << r) <= left) ++r;
        ac.Put(1, 2);
        ac.Put(uint32_t(left - (uint64_t(1) << r)), r);
    }
    const std::vector<uint8_t> acData = ac.Flush();

    std::vector<uint8_t> f = {0xFF, 0xD8};
    std::vector<uint8_t> dqt(65, 1);
    dqt[0] = 0;
    Segment(f, 0xDB, dqt);
    Segment(f, 0xC2, {8, uint8_t(Height >> 8), uint8_t(Height), uint8_t(Width >> 8), uint8_t(Width), 1, 1, 0x11, 0});
    std::vector<uint8_t> dcTable(17, 0), acTable(17, 0);
    dcTable[1] = 1;   // one code of length 1: difference 0
    dcTable.push_back(0);
    acTable[0] = 0x10;
    acTable[2] = 2;   // two codes of length 2: EOB14, EOBr
    acTable.push_back(0xE0);
    acTable.push_back(uint8_t(r << 4));
    Segment(f, 0xC4, dcTable);
    Segment(f, 0xC4, acTable);
    auto sos = [&](int Ss, int Se, int Ah, int Al) {
        Segment(f, 0xDA, {1, 1, 0x00, uint8_t(Ss), uint8_t(Se), uint8_t(Ah << 4 | Al)});
    };
    BitWriter dc;
    for (uint64_t i = 0; i < blocks; ++i) dc.Put(0, 1);
    const std::vector<uint8_t> dcData = dc.Flush();
    sos(0, 0, 0, 0);
    f.insert(f.end(), dcData.begin(), dcData.end());
    for (int i = 1; i < Scans; ++i) {
        if (K == Kind::Refine && i > 1) sos(1, 63, 1, 0);
        else sos(1, 63, 0, K == Kind::Refine ? 1 : 0);
        f.insert(f.end(), acData.begin(), acData.end());
    }
    f.insert(f.end(), {0xFF, 0xD9});
    if (f.size() < PadTo) f.resize(PadTo, 0);
    return f;
}

}  // namespace many_scans
