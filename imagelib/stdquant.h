// Colour quantizers for the writers of palette formats, and the row converter between bit
// depths. TLXQuantizer picks the self-organising network (NeurQuant.h) for 128 colours or
// more and a variance-based split of the 5-bit colour cube for fewer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "Graphics.h"
#include "lxdefs.h"

class TLXNeuralNet;

// Variance-based split of the 32 x 32 x 32 cube of 5-bit channels (R5 * 1024 + G5 * 32 + B5),
// behind TLXQuantizer for fewer than 128 colours.
class TLXBoxSplit {
public:
    // Score of a trial split that could not be made.
    static constexpr double NoSplitScore = 17523.6;
    static constexpr int MaxBoxes = 256;

    // Bitmap is pf24bit; NCol 1..MaxBoxes.
    TLXBoxSplit(TBitmap* Bitmap, int NCol);
    // Splits, builds the cell map and writes one entry per box (at most ColorMap.size()).
    void Run(std::span<TRGB> ColorMap);
    int MapColor(const TRGB& c) const { return map_[CellIndex(c)]; }
    int BoxCount() const { return boxCount_; }

    static int CellIndex(const TRGB& c) { return (c.r >> 3) * 1024 + (c.g >> 3) * 32 + (c.b >> 3); }
    // Channel (0 R, 1 G, 2 B) to split by, from the three trial scores; -1 for none.
    static int ChooseChannel(const double Score[3]);

    struct Box {
        double error = 0;
        double mean[3] = {0, 0, 0};
        int64_t count = 0;
        int64_t hist[3][32] = {};
        int lo[3] = {0, 0, 0}, hi[3] = {32, 32, 32};   // bins lo .. hi - 1
    };

private:
    void Statistics(Box& b) const;
    bool TrialSplit(const Box& parent, int c, Box& left, Box& right) const;
    bool Split(int slot, int newSlot);

    TBitmap* bitmap_;
    int64_t pixels_;
    int ncol_;
    int boxCount_ = 0;
    std::vector<int64_t> cube_;
    std::vector<Box> boxes_;
    std::vector<uint8_t> map_;
};

class TLXQuantizer : public TObject {
public:
    // Builds the palette of the pf24bit Bitmap at once and writes it into ColorMap: the
    // network writes NCol entries, the box split one entry per box made (the rest of ColorMap
    // is left as it was). At most ColorMap.size() entries are written. Quality is 0..100 or
    // -1 (automatic sampling; network only); Method is unused (the back end follows NCol).
    TLXQuantizer(TBitmap* Bitmap, std::span<TRGB> ColorMap, int NCol, int Quality = -1,
                 int Method = 0);
    ~TLXQuantizer() override;
    TLXQuantizer(const TLXQuantizer&) = delete;
    TLXQuantizer& operator=(const TLXQuantizer&) = delete;

    // Palette index of the colour.
    int MapColor(const TRGB& Colour) const;

    // 0 = network, 1 = box split.
    int BackEnd() const { return backEnd_; }
    // Entries written into the colour map.
    int ColorCount() const { return colorCount_; }

private:
    int backEnd_ = 0;
    int colorCount_ = 0;
    std::unique_ptr<TLXNeuralNet> net_;
    std::unique_ptr<TLXBoxSplit> boxes_;
};

// Converts one row of Width pixels from SourceBits to DestBits (1, 4, 8, 24; 32 as a source
// for 24) and returns the byte length of a destination row: (Width + 7) div 8 for 1 bit,
// (Width + 1) div 2 for 4, Width for 8, Width * 3 for 24, 0 otherwise. Packed 1- and 4-bit
// rows are MSB first. Palette gives the colours of 1-, 4- and 8-bit sources (indexes past its
// end give black); Quantizer maps 24-bit sources to 4 or 8 bits (no quantizer: nothing is
// written). 1- and 4-bit destinations are cleared before the indexes are OR-ed in.
int ConvertPixelRow(const uint8_t* Source, uint8_t* Dest, int SourceBits, int DestBits, int Width,
                    std::span<const TRGB> Palette, const TLXQuantizer* Quantizer);
