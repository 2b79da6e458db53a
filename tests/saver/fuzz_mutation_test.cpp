// A few thousand damaged player files through the fuzz entry, in every build (the sanitizer
// build makes this the memory check of the reader without libFuzzer).
#include <gtest/gtest.h>

#include <random>

#include "PlayerBuilder.h"
#include "fuzz/FuzzBlocks.h"

namespace {

gdpack::Bytes Seed() {
    PlayerBuilder pb;
    pb.Base(gdpack::Bytes(37, 0x4D)).Music(gdpack::Bytes(20, 0x11))
        .Photo("Berg", "comment", gdpack::Bytes(30, 0x22)).Photo("See", "", gdpack::Bytes(9, 0x33))
        .Photo("F\xFC" "nf", "", gdpack::Bytes(1, 0x44));
    pb.Block0().AboutText = "About";
    pb.Block0().NameFont = "Arial";
    pb.Block0().Texts[19] = "None\r\nFade";
    return pb.Build();
}

// Values that hit the reader's edges when written over an offset, size or length field.
uint32_t Interesting(std::mt19937& rng, size_t fileSize) {
    const uint32_t v[] = {0, 1, 11, 12, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF4,
                          uint32_t(fileSize), uint32_t(fileSize - 12), uint32_t(fileSize + 1)};
    return v[rng() % std::size(v)];
}

}  // namespace

TEST(FuzzEntry, MutatedPlayerFiles) {
    const gdpack::Bytes seed = Seed();
    ASSERT_EQ(FuzzPlayerBlocks(seed.data(), seed.size()), 0);
    std::mt19937 rng(20240601);
    for (int iter = 0; iter < 4000; ++iter) {
        gdpack::Bytes f = seed;
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits && !f.empty(); ++e) {
            switch (rng() % 5) {
            case 0:   // flip a byte, mostly near the end where the trailers are
                f[f.size() - 1 - rng() % std::min<size_t>(f.size(), rng() % 2 ? 40 : f.size())] ^=
                    uint8_t(1 + rng() % 255);
                break;
            case 1: {   // an edge value over any 4 bytes
                if (f.size() < 4) break;
                const size_t at = rng() % (f.size() - 3);
                const uint32_t v = Interesting(rng, f.size());
                for (int i = 0; i < 4; ++i) f[at + size_t(i)] = uint8_t(v >> (8 * i));
                break;
            }
            case 2:   // cut the file
                f.resize(rng() % f.size());
                break;
            case 3:   // insert bytes
                f.insert(f.begin() + long(rng() % f.size()), 1 + rng() % 16, uint8_t(rng()));
                break;
            case 4: {   // a fresh trailer with edge values at the very end
                gdpack::AppendLE32(f, Interesting(rng, f.size()));
                gdpack::AppendLE32(f, Interesting(rng, f.size()));
                f.insert(f.end(), {'g', 'd', 'i', 'm'});
                break;
            }
            }
        }
        ASSERT_EQ(FuzzPlayerBlocks(f.data(), f.size()), 0) << "iteration " << iter;
    }
}
