// Self-organising colour network. All arithmetic is integer (C++ division truncates toward
// zero, as the learning rules expect); sizes and positions are 64-bit so that large images
// neither overflow nor sample outside the picture.
#include "NeurQuant.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

int ClampInt(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

}  // namespace

int TLXNeuralNet::SamplingFactor(int64_t Pixels, int Quality) {
    if (Quality == -1) {
        if (Pixels < MinPicturePixels) return 1;
        // Round ties to even, as everywhere in the library.
        double f = std::nearbyint(double(Pixels - MinPicturePixels) * 13.0 / 148000.0 + 2.0);
        if (f > 30) return 30;
        return ClampInt(int(f), 1, 30);
    }
    Quality = ClampInt(Quality, 0, 100);
    return int((100 - Quality) / 100.0 * 29) + 1;
}

int TLXNeuralNet::SamplingStep(int64_t L) {
    if (L % Prime1 != 0) return Prime1;
    if (L % Prime2 != 0) return Prime2;
    if (L % Prime3 != 0) return Prime3;
    return Prime4;
}

TLXNeuralNet::TLXNeuralNet(TBitmap* Bitmap, int NCol, int Quality)
    : bitmap_(Bitmap), netSize_(std::max(NCol, 1)) {
    const int64_t pixels = int64_t(bitmap_->Width()) * bitmap_->Height();
    factor_ = SamplingFactor(pixels, Quality);
    network_.resize(size_t(netSize_));
    bias_.assign(size_t(netSize_), 0);
    freq_.assign(size_t(netSize_), 0);
    radpower_.assign(size_t(std::max(netSize_ / 8, 1)), 0);
    for (int i = 0; i < netSize_; ++i) {
        const int v = int((int64_t(i) << (NetBiasShift + 8)) / netSize_);
        network_[size_t(i)] = {v, v, v, 0};
        freq_[size_t(i)] = (1 << IntBiasShift) / netSize_;
    }
}

int TLXNeuralNet::Contest(int b, int g, int r) {
    int bestd = 0x7FFFFFFF, bestbiasd = 0x7FFFFFFF;
    int bestpos = -1, bestbiaspos = -1;
    for (int i = 0; i < netSize_; ++i) {
        const Neuron& n = network_[size_t(i)];
        const int dist = std::abs(n.b - b) + std::abs(n.g - g) + std::abs(n.r - r);
        if (dist < bestd) {
            bestd = dist;
            bestpos = i;
        }
        // bias is signed: floor division by 4096.
        const int biasdist = dist - (bias_[size_t(i)] >> (IntBiasShift - NetBiasShift));
        if (biasdist < bestbiasd) {
            bestbiasd = biasdist;
            bestbiaspos = i;
        }
        const int betafreq = freq_[size_t(i)] >> BetaShift;
        freq_[size_t(i)] -= betafreq;
        bias_[size_t(i)] += betafreq << GammaShift;
    }
    freq_[size_t(bestpos)] += Beta;
    bias_[size_t(bestpos)] -= BetaGamma;
    return bestbiaspos;
}

void TLXNeuralNet::AlterSingle(int alpha, int i, int b, int g, int r) {
    Neuron& n = network_[size_t(i)];
    n.b -= int(int64_t(n.b - b) * alpha / InitAlpha);
    n.g -= int(int64_t(n.g - g) * alpha / InitAlpha);
    n.r -= int(int64_t(n.r - r) * alpha / InitAlpha);
}

void TLXNeuralNet::AlterNeighbours(int rad, int i, int b, int g, int r) {
    const int lo = std::max(i - rad, -1);
    const int hi = std::min(i + rad, netSize_);
    int j = i + 1, k = i - 1, m = 1;
    while (j < hi || k > lo) {
        const int64_t a = radpower_[size_t(m++)];
        if (j < hi) {
            Neuron& n = network_[size_t(j++)];
            n.b -= int(int64_t(n.b - b) * a / AlphaRadBias);
            n.g -= int(int64_t(n.g - g) * a / AlphaRadBias);
            n.r -= int(int64_t(n.r - r) * a / AlphaRadBias);
        }
        if (k > lo) {
            Neuron& n = network_[size_t(k--)];
            n.b -= int(int64_t(n.b - b) * a / AlphaRadBias);
            n.g -= int(int64_t(n.g - g) * a / AlphaRadBias);
            n.r -= int(int64_t(n.r - r) * a / AlphaRadBias);
        }
    }
}

void TLXNeuralNet::Learn() {
    const int width = bitmap_->Width();
    const int64_t pixels = int64_t(width) * bitmap_->Height();
    if (pixels <= 0) return;
    const int64_t L = pixels * 3;
    const int alphadec = 30 + (factor_ - 1) / 3;
    const int64_t samples = L / (3 * int64_t(factor_));
    const int64_t delta = std::max<int64_t>(samples / 100, 1);
    int alpha = InitAlpha;
    int radius = (netSize_ / 8) << RadiusBiasShift;

    int rad = 0;
    auto setRadpower = [&] {
        rad = radius >= (2 << RadiusBiasShift) ? radius >> RadiusBiasShift : 0;
        // rad never exceeds netSize / 8, the room of radpower.
        rad = std::min(rad, int(radpower_.size()));
        const int64_t rad2 = int64_t(rad) * rad;
        for (int k = 0; k < rad; ++k)
            radpower_[size_t(k)] = int(alpha * (((rad2 - int64_t(k) * k) << RadBiasShift) / rad2));
    };
    setRadpower();

    const int step = SamplingStep(L);
    int64_t p = 0;
    for (int64_t i = 1; i <= samples; ++i) {
        const int64_t row = p / width, col = p % width;
        const uint8_t* px = bitmap_->ScanLine(int(row)) + col * 3;
        const int b = px[0] << NetBiasShift, g = px[1] << NetBiasShift, r = px[2] << NetBiasShift;
        const int j = Contest(b, g, r);
        AlterSingle(alpha, j, b, g, r);
        if (rad > 0) AlterNeighbours(rad, j, b, g, r);
        // A modulo keeps small images (fewer pixels than the step) inside the picture.
        p = (p + step) % pixels;
        if (i % delta == 0) {
            alpha -= alpha / alphadec;
            radius -= radius / RadiusDec;
            setRadpower();
        }
    }
}

void TLXNeuralNet::Unbias() {
    for (int i = 0; i < netSize_; ++i) {
        Neuron& n = network_[size_t(i)];
        n.b = ClampInt(n.b / (1 << NetBiasShift), 0, 255);
        n.g = ClampInt(n.g / (1 << NetBiasShift), 0, 255);
        n.r = ClampInt(n.r / (1 << NetBiasShift), 0, 255);
        n.index = i;
    }
}

void TLXNeuralNet::BuildIndex() {
    int previouscol = 0, startpos = 0;
    for (int i = 0; i < netSize_; ++i) {
        int smallpos = i, smallval = network_[size_t(i)].g;
        for (int j = i + 1; j < netSize_; ++j) {
            if (network_[size_t(j)].g < smallval) {
                smallpos = j;
                smallval = network_[size_t(j)].g;
            }
        }
        if (smallpos != i) std::swap(network_[size_t(i)], network_[size_t(smallpos)]);
        if (smallval != previouscol) {
            netindex_[previouscol] = (startpos + i) >> 1;
            for (int v = previouscol + 1; v < smallval; ++v) netindex_[v] = i;
            previouscol = smallval;
            startpos = i;
        }
    }
    const int maxnetpos = netSize_ - 1;
    netindex_[previouscol] = (startpos + maxnetpos) >> 1;
    for (int v = previouscol + 1; v < 256; ++v) netindex_[v] = maxnetpos;
}

void TLXNeuralNet::Run(std::span<TRGB> ColorMap) {
    Learn();
    Unbias();
    const size_t n = std::min(ColorMap.size(), size_t(netSize_));
    for (size_t i = 0; i < n; ++i) {
        const Neuron& nn = network_[i];
        ColorMap[i] = TRGB{uint8_t(nn.b), uint8_t(nn.g), uint8_t(nn.r)};
    }
    BuildIndex();
}

int TLXNeuralNet::MapColor(int b, int g, int r) const {
    int bestd = MaxNetPos, best = -1;
    int i = netindex_[g & 255], j = i - 1;
    while (i < netSize_ || j >= 0) {
        if (i < netSize_) {
            const Neuron& n = network_[size_t(i)];
            int dist = std::abs(n.g - g);
            if (dist >= bestd) {
                i = netSize_;
            } else {
                ++i;
                dist += std::abs(n.b - b);
                if (dist < bestd) {
                    dist += std::abs(n.r - r);
                    if (dist < bestd) {
                        bestd = dist;
                        best = n.index;
                    }
                }
            }
        }
        if (j >= 0) {
            const Neuron& n = network_[size_t(j)];
            int dist = std::abs(g - n.g);
            if (dist >= bestd) {
                j = -1;
            } else {
                --j;
                dist += std::abs(n.b - b);
                if (dist < bestd) {
                    dist += std::abs(n.r - r);
                    if (dist < bestd) {
                        bestd = dist;
                        best = n.index;
                    }
                }
            }
        }
    }
    return best < 0 ? 0 : best;
}
