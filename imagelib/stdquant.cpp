// Colour quantizer front end, the box split of the 5-bit colour cube, and the row converter.
#include "stdquant.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "NeurQuant.h"

// ---- Box split ----

TLXBoxSplit::TLXBoxSplit(TBitmap* Bitmap, int NCol)
    : bitmap_(Bitmap),
      pixels_(int64_t(Bitmap->Width()) * Bitmap->Height()),
      ncol_(std::clamp(NCol, 1, MaxBoxes)),
      cube_(32768, 0),
      boxes_(size_t(ncol_)),
      map_(32768, 0) {}

void TLXBoxSplit::Statistics(Box& b) const {
    if (b.count == 0 || pixels_ <= 0) {
        b.error = 0;
        return;
    }
    double err = 0;
    for (int c = 0; c < 3; ++c) {
        double s1 = 0, s2 = 0;
        for (int j = b.lo[c]; j < b.hi[c]; ++j) {
            s1 += double(j) * double(b.hist[c][j]);
            s2 += double(j) * double(j) * double(b.hist[c][j]);
        }
        b.mean[c] = s1 / double(b.count);
        err += s2 - b.mean[c] * b.mean[c] * double(b.count);
    }
    b.error = err / double(pixels_);
}

int TLXBoxSplit::ChooseChannel(const double Score[3]) {
    if (Score[0] < NoSplitScore && Score[0] <= Score[1] && Score[0] <= Score[2]) return 0;
    if (Score[1] < NoSplitScore && Score[1] <= Score[0] && Score[1] <= Score[2]) return 1;
    if (Score[2] < NoSplitScore) return 2;
    return -1;
}

bool TLXBoxSplit::TrialSplit(const Box& parent, int c, Box& left, Box& right) const {
    const int lo = parent.lo[c], hi = parent.hi[c];
    if (hi <= lo + 1) return false;
    const int64_t N = parent.count;
    const double m = parent.mean[c];
    const int64_t* h = parent.hist[c];
    const int a = int(std::nearbyint((lo + m) * 0.5));
    // Every pixel lies in lo..hi - 1, so the scan ends there at the latest.
    const int z = std::min(int(std::nearbyint((m + hi) * 0.5)), hi - 1);
    int64_t cum = 0;
    for (int e = lo; e < a; ++e) cum += h[e];
    double t = 0, best = -1;
    int cut = a;
    int64_t leftCount = N;
    for (int e = a; e <= z; ++e) {
        cum += h[e];
        if (cum == N) break;
        t += double(h[e]) * e / double(N);
        const double v = double(cum) / double(N - cum) * (m - t) * (m - t);
        if (v > best) {
            cut = e;
            leftCount = cum;
            best = v;
        }
    }
    if (leftCount <= 0 || N - leftCount <= 0) return false;

    left = parent;
    right = parent;
    left.hi[c] = cut + 1;
    right.lo[c] = cut + 1;
    left.count = leftCount;
    right.count = N - leftCount;
    // Left histograms from the cube over the left ranges; the right half is the rest.
    std::memset(left.hist, 0, sizeof left.hist);
    for (int r = left.lo[0]; r < left.hi[0]; ++r)
        for (int g = left.lo[1]; g < left.hi[1]; ++g)
            for (int b = left.lo[2]; b < left.hi[2]; ++b) {
                const int64_t n = cube_[size_t(r * 1024 + g * 32 + b)];
                if (n == 0) continue;
                left.hist[0][r] += n;
                left.hist[1][g] += n;
                left.hist[2][b] += n;
            }
    for (int ch = 0; ch < 3; ++ch)
        for (int j = 0; j < 32; ++j) right.hist[ch][j] = parent.hist[ch][j] - left.hist[ch][j];
    for (Box* half : {&left, &right}) {
        for (int ch = 0; ch < 3; ++ch) {
            int first = half->lo[ch], last = half->hi[ch] - 1;
            while (first <= last && half->hist[ch][first] == 0) ++first;
            while (last >= first && half->hist[ch][last] == 0) --last;
            if (first > last) return false;
            half->lo[ch] = first;
            half->hi[ch] = last + 1;
        }
        Statistics(*half);
    }
    return true;
}

bool TLXBoxSplit::Split(int slot, int newSlot) {
    Box& box = boxes_[size_t(slot)];
    if (box.error == 0 || box.count == 0) {
        box.error = 0;
        return false;
    }
    Box lefts[3], rights[3];
    double score[3];
    for (int c = 0; c < 3; ++c)
        score[c] = TrialSplit(box, c, lefts[c], rights[c]) ? lefts[c].error + rights[c].error
                                                           : NoSplitScore;
    const int c = ChooseChannel(score);
    if (c < 0) {
        box.error = 0;
        return false;
    }
    boxes_[size_t(slot)] = lefts[c];
    boxes_[size_t(newSlot)] = rights[c];
    return true;
}

void TLXBoxSplit::Run(std::span<TRGB> ColorMap) {
    Box& first = boxes_[0];
    const int w = bitmap_->Width(), h = bitmap_->Height();
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = bitmap_->ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            const int b5 = p[0] >> 3, g5 = p[1] >> 3, r5 = p[2] >> 3;
            ++cube_[size_t(r5 * 1024 + g5 * 32 + b5)];
            ++first.hist[0][r5];
            ++first.hist[1][g5];
            ++first.hist[2][b5];
        }
    }
    first.count = pixels_;
    Statistics(first);

    int k = 1;
    while (k < ncol_) {
        int pick = -1;
        double largest = 0;
        for (int i = 0; i < k; ++i) {
            if (boxes_[size_t(i)].error > largest) {
                largest = boxes_[size_t(i)].error;
                pick = i;
            }
        }
        if (pick < 0) break;
        if (Split(pick, k)) ++k;
    }
    boxCount_ = k;

    for (int i = 0; i < k; ++i) {
        const Box& b = boxes_[size_t(i)];
        for (int r = b.lo[0]; r < b.hi[0]; ++r)
            for (int g = b.lo[1]; g < b.hi[1]; ++g)
                for (int bl = b.lo[2]; bl < b.hi[2]; ++bl) map_[size_t(r * 1024 + g * 32 + bl)] = uint8_t(i);
        if (size_t(i) < ColorMap.size()) {
            auto chan = [&](int c) { return uint8_t(std::clamp(int(std::nearbyint(b.mean[c])), 0, 31) << 3); };
            ColorMap[size_t(i)] = TRGB{chan(2), chan(1), chan(0)};
        }
    }
}

// ---- Quantizer ----

TLXQuantizer::TLXQuantizer(TBitmap* Bitmap, std::span<TRGB> ColorMap, int NCol, int Quality,
                           int /*Method*/) {
    NCol = std::clamp(NCol, 1, 256);
    // The back ends read 3-byte pixels; anything else is looked at through a pf24bit copy.
    std::unique_ptr<TBitmap> copy;
    if (Bitmap->PixelFormat() != pf24bit) {
        copy = std::make_unique<TBitmap>();
        copy->Assign(Bitmap);
        copy->SetPixelFormat(pf24bit);
        Bitmap = copy.get();
    }
    if (NCol >= 128) {
        backEnd_ = 0;
        net_ = std::make_unique<TLXNeuralNet>(Bitmap, NCol, Quality);
        net_->Run(ColorMap);
        colorCount_ = int(std::min<size_t>(size_t(NCol), ColorMap.size()));
    } else {
        backEnd_ = 1;
        boxes_ = std::make_unique<TLXBoxSplit>(Bitmap, NCol);
        boxes_->Run(ColorMap);
        colorCount_ = int(std::min<size_t>(size_t(boxes_->BoxCount()), ColorMap.size()));
    }
}

TLXQuantizer::~TLXQuantizer() = default;

int TLXQuantizer::MapColor(const TRGB& Colour) const {
    if (net_) return net_->MapColor(Colour.b, Colour.g, Colour.r);
    if (boxes_) return boxes_->MapColor(Colour);
    return 0;
}

// ---- Row converter ----

int ConvertPixelRow(const uint8_t* Source, uint8_t* Dest, int SourceBits, int DestBits, int Width,
                    std::span<const TRGB> Palette, const TLXQuantizer* Quantizer) {
    const int w = std::max(Width, 0);
    int length;
    switch (DestBits) {
        case 1: length = int((int64_t(w) + 7) / 8); break;
        case 4: length = int((int64_t(w) + 1) / 2); break;
        case 8: length = w; break;
        case 24: length = int(int64_t(w) * 3); break;
        default: return 0;
    }
    auto colour = [&](unsigned index) {
        return index < Palette.size() ? Palette[index] : TRGB{};
    };
    auto nibble = [](const uint8_t* row, int i) { return (i & 1) ? row[i >> 1] & 0x0F : row[i >> 1] >> 4; };
    auto putNibble = [](uint8_t* row, int i, unsigned v) {
        row[i >> 1] |= uint8_t((i & 1) ? (v & 0x0F) : (v & 0x0F) << 4);
    };
    auto bit = [](const uint8_t* row, int i) { return (row[i >> 3] >> (7 - (i & 7))) & 1; };
    auto putRGB = [](uint8_t* p, const TRGB& c) { p[0] = c.b; p[1] = c.g; p[2] = c.r; };

    switch (SourceBits * 100 + DestBits) {
        case 2404:
            if (!Quantizer) break;
            std::memset(Dest, 0, size_t(length));
            for (int i = 0; i < w; ++i) {
                const uint8_t* p = Source + int64_t(i) * 3;
                putNibble(Dest, i, unsigned(Quantizer->MapColor(TRGB{p[0], p[1], p[2]})));
            }
            break;
        case 2408:
            if (!Quantizer) break;
            for (int i = 0; i < w; ++i) {
                const uint8_t* p = Source + int64_t(i) * 3;
                Dest[i] = uint8_t(Quantizer->MapColor(TRGB{p[0], p[1], p[2]}));
            }
            break;
        case 2424: std::memcpy(Dest, Source, size_t(length)); break;
        case 3224:
            for (int i = 0; i < w; ++i) std::memcpy(Dest + int64_t(i) * 3, Source + int64_t(i) * 4, 3);
            break;
        case 801:
            std::memset(Dest, 0, size_t(length));
            for (int i = 0; i < w; ++i)
                if (Source[i] != 0) Dest[i >> 3] |= uint8_t(0x80 >> (i & 7));
            break;
        case 808: std::memcpy(Dest, Source, size_t(length)); break;
        case 824:
            for (int i = 0; i < w; ++i) putRGB(Dest + int64_t(i) * 3, colour(Source[i]));
            break;
        case 101: std::memcpy(Dest, Source, size_t(length)); break;
        case 104:
            std::memset(Dest, 0, size_t(length));
            for (int i = 0; i < w; ++i) putNibble(Dest, i, unsigned(bit(Source, i)));
            break;
        case 108:
            for (int i = 0; i < w; ++i) Dest[i] = uint8_t(bit(Source, i));
            break;
        case 124:
            for (int i = 0; i < w; ++i) putRGB(Dest + int64_t(i) * 3, colour(unsigned(bit(Source, i))));
            break;
        case 404: std::memcpy(Dest, Source, size_t(length)); break;
        case 408:
            for (int i = 0; i < w; ++i) Dest[i] = uint8_t(nibble(Source, i));
            break;
        case 424:
            for (int i = 0; i < w; ++i) putRGB(Dest + int64_t(i) * 3, colour(unsigned(nibble(Source, i))));
            break;
        default: break;
    }
    return length;
}
