// Self-organising colour network (NeuQuant kind) behind TLXQuantizer for 128 colours or
// more. Integer arithmetic throughout, so palettes are reproducible.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Graphics.h"
#include "lxdefs.h"

class TLXNeuralNet {
public:
    // Network constants.
    static constexpr int NetBiasShift = 4;              // colour values carry a factor 16
    static constexpr int IntBiasShift = 16;             // bias and frequency scale
    static constexpr int GammaShift = 10;
    static constexpr int BetaShift = 10;                // freq -= freq >> 10
    static constexpr int Beta = (1 << IntBiasShift) >> BetaShift;            // 64
    static constexpr int BetaGamma = (1 << IntBiasShift) << (GammaShift - BetaShift);  // 65536
    static constexpr int RadiusBiasShift = 6;           // radius carries a factor 64
    static constexpr int RadiusDec = 30;
    static constexpr int InitAlpha = 1024;
    static constexpr int AlphaRadBias = 1 << 18;        // 262144
    static constexpr int RadBiasShift = 8;              // radpower scale 256
    static constexpr int Prime1 = 499, Prime2 = 491, Prime3 = 487, Prime4 = 503;
    static constexpr int MinPicturePixels = 2000;       // below this every pixel is sampled
    static constexpr int MaxNetPos = 1000;              // starting best distance of a lookup

    // Bitmap is pf24bit and non-empty; NCol >= 1; Quality 0..100 or -1.
    TLXNeuralNet(TBitmap* Bitmap, int NCol, int Quality);

    // Sampling factor chosen for the image (1..30).
    static int SamplingFactor(int64_t Pixels, int Quality);
    // Prime step for an image of L bytes.
    static int SamplingStep(int64_t L);

    // Learns, unbiases, writes the colour map and builds the green index.
    void Run(std::span<TRGB> ColorMap);
    int MapColor(int b, int g, int r) const;
    int Factor() const { return factor_; }

private:
    struct Neuron {
        int b, g, r, index;
    };
    void Learn();
    int Contest(int b, int g, int r);
    void AlterSingle(int alpha, int i, int b, int g, int r);
    void AlterNeighbours(int rad, int i, int b, int g, int r);
    void Unbias();
    void BuildIndex();

    TBitmap* bitmap_;
    int netSize_;
    int factor_;
    std::vector<Neuron> network_;
    std::vector<int> bias_, freq_, radpower_;
    int netindex_[256] = {};
};
