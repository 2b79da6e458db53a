// The codec table: every entry is reachable by its file type and extensions and names its
// probes in the detection order, and every reader survives mutated copies of the fixture
// files of its extensions, called as the I/O component calls it.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"

using namespace codec_test;

namespace {

// The extensions of an entry as file name endings: ".tif", ".tiff".
std::vector<std::string> Endings(const TLXCodec& c) {
    std::vector<std::string> out;
    for (std::string e : SplitExtensionList(c.Extensions)) {
        for (char& ch : e) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        out.push_back("." + e);
    }
    return out;
}

}  // namespace

TEST(CodecTable, EntriesAreFoundByTypeAndExtension) {
    std::set<int> types;
    for (const TLXCodec* c : CodecTable()) {
        SCOPED_TRACE(c->Description);
        EXPECT_TRUE(types.insert(c->FileType).second) << "one entry a type";
        EXPECT_EQ(FindCodec(c->FileType), c);
        for (const std::string& e : SplitExtensionList(c->Extensions)) EXPECT_EQ(FindCodecByExtension(e), c) << e;
        // Every entry loads by file name somehow; a stream-header tag goes with a reader.
        EXPECT_TRUE(c->Decode || c->ImportFile);
        EXPECT_TRUE(!c->StreamTag || c->Decode);
    }
    for (int t = lxftTIFF; t <= lxftPXM; ++t) EXPECT_NE(FindCodec(t), nullptr) << t;
    // Detection gives only types of the table, and every reader's type has a probe, except
    // the metafiles, which are never detected.
    std::set<int> detected;
    for (const TLXDetection& d : DetectionOrder()) {
        EXPECT_NE(FindCodec(d.FileType), nullptr) << d.FileType;
        detected.insert(d.FileType);
    }
    for (const TLXCodec* c : CodecTable())
        EXPECT_EQ(detected.count(c->FileType) == 1, c->Decode != nullptr) << c->Description;
}

// Random edits of every fixture file of each reader's extensions, read with the parameters
// only and whole, with and without a mask, with and without a length: under the sanitizer
// build an overrun fails the run. What a reader decodes is a pf24bit or pf1bit picture, and
// its mask has the picture's size.
TEST(CodecTable, ReadersSurviveMutatedFixtures) {
    for (const TLXCodec* c : CodecTable()) {
        if (!c->Decode) continue;
        SCOPED_TRACE(c->Description);
        std::vector<Bytes> seeds;
        for (const std::string& path : FixtureFiles("", Endings(*c))) seeds.push_back(ReadFile(path));
        ASSERT_FALSE(seeds.empty());
        std::mt19937 rng(uint32_t(20250101 + c->FileType));
        int decoded = 0;
        for (int iter = 0; iter < 3000; ++iter) {
            const Bytes f = Mutate(seeds[rng() % seeds.size()], rng, 64);
            auto s = MemStream(f, rng() % 4);
            TBitmap bitmap;
            TLXMask mask;
            TLXIOParams params(nullptr);
            params.TiffImageIndex = params.GifImageIndex = params.IcoImageIndex = params.CurImageIndex =
                int(rng() % 3);
            params.GifLZWDecompress = (rng() & 1) ? &TestLzwDecode : nullptr;
            params.JpegScale = uint8_t(rng() % 5);
            params.Width = params.Height = 8;
            bool aborted = false;
            TProgressRec rec;
            rec.Aborting = &aborted;
            TLXCodecCall call;
            call.Stream = s.get();
            call.Bitmap = &bitmap;
            call.Params = &params;
            call.Progress = &rec;
            call.ParamsOnly = (rng() & 7) == 0;
            call.Mask = (c->Flags & lxcoFillsMask) && (rng() & 1) ? &mask : nullptr;
            call.Length = (rng() & 3) == 0 ? int64_t(rng() % 4096) : 0;
            c->Decode(call);
            if (aborted || call.ParamsOnly || bitmap.Width() == 0) continue;
            ++decoded;
            ASSERT_TRUE(bitmap.PixelFormat() == pf24bit || bitmap.PixelFormat() == pf1bit);
            if (call.Mask && mask.Bits) {
                ASSERT_EQ(mask.Width, bitmap.Width());
                ASSERT_EQ(mask.Height, bitmap.Height());
            }
        }
        // Edits still leave pictures to decode (PNG's checksums refuse most, GIF needs the
        // hook, which half get): the pixel paths ran.
        EXPECT_GT(decoded, 10);
    }
}
