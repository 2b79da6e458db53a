// The reader of the appended blocks and of the strings inside them.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "PlayerBuilder.h"
#include "TestDir.h"
#include "BlockIndex.h"
#include "exedata.h"

using Bytes = gdpack::Bytes;

namespace {

Bytes Seq(size_t n, uint8_t start = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(start + i);
    return b;
}

std::optional<Bytes> Read(const std::string& file, int k) {
    TMemoryStream ms;
    if (!ReadAppendedBlock(file, k, &ms)) return std::nullopt;
    EXPECT_EQ(ms.Position(), ms.Size()) << "position is left at the end";
    return Bytes(ms.Memory(), ms.Memory() + ms.Size());
}

void Put(Bytes& f, std::initializer_list<uint8_t> b) { f.insert(f.end(), b); }

class BlockReader : public ::testing::Test {
protected:
    TestDir dir;
    std::string Write(const Bytes& b, const std::string& name = "player.scr") {
        gdpack::WriteFileBytes(dir.File(name), b, false);
        return dir.File(name);
    }
};

}  // namespace

// The byte-level vector: a 16-byte base, one photo "A" with 6 image bytes, no music, a minimal
// block 0 with PhotoCount 1. Written by hand, so it checks the builder and the reader alike.
TEST_F(BlockReader, WorkedVectorByteForByte) {
    const Bytes image = {'B', 'M', 1, 2, 3, 4};
    Bytes f = Seq(16);
    Put(f, {0x01, 0, 0, 0, 0x41, 0, 0, 0, 0});
    f.insert(f.end(), image.begin(), image.end());
    Put(f, {0x10, 0, 0, 0, 0x0F, 0, 0, 0, 'g', 'd', 'i', 'm'});
    Put(f, {0x2B, 0, 0, 0, 0, 0, 0, 0, 'g', 'd', 'i', 'm'});
    Bytes block0(161, 0);
    block0[0] = 1;
    f.insert(f.end(), block0.begin(), block0.end());
    Put(f, {0x37, 0, 0, 0, 0xA1, 0, 0, 0, 'g', 'd', 'i', 'm'});
    ASSERT_EQ(f.size(), 228u);

    PlayerBuilder pb;
    pb.Base(Seq(16)).Photo("A", "", image);
    EXPECT_EQ(pb.Build(), f) << "the builder writes the blocks in the writer's order";

    const std::string path = Write(f);
    EXPECT_EQ(Read(path, 2), Bytes(f.begin() + 16, f.begin() + 31));
    EXPECT_EQ(Read(path, 1), Bytes{}) << "the empty music block exists";
    EXPECT_EQ(Read(path, 0), block0);
    EXPECT_FALSE(Read(path, 3)) << "block N+2 does not exist";
}

TEST_F(BlockReader, BuiltFiles) {
    const Bytes base = Seq(40, 7);
    struct Case {
        const char* name;
        PlayerBuilder pb;
        std::vector<int> present;   // blocks that must read back as written
        std::vector<int> absent;
    };
    auto three = [&] {
        PlayerBuilder pb;
        pb.Base(base).Music(Seq(300, 1)).Photo("first", "c1", Seq(50, 2))
            .Photo("second", "", Seq(7, 3)).Photo("third", "c3", Seq(1, 4));
        return pb;
    };
    std::vector<Case> cases;
    cases.push_back({"three photos with music", three(), {0, 1, 2, 3, 4}, {5, 6}});
    cases.push_back({"trailer 1 magic in another case", three().Magic(1, "GDIM"), {0}, {1, 2, 3, 4}});
    cases.push_back({"gap before block 0's data", three().GapBefore(0, 5), {0}, {1, 2, 3, 4}});
    cases.push_back({"gap before block 3's data", three().GapBefore(3, 1), {0, 1, 2, 3}, {4}});
    cases.push_back({"padding between data and its own trailer", three().PadAfter(2, 9), {0, 1, 3, 4}, {}});
    cases.push_back({"block 0 magic damaged", three().Magic(0, "gdiM"), {}, {0, 1, 2}});
    cases.push_back({"trailer 2 size into its trailer", three().Size(2, 1000), {0, 1}, {2, 3, 4}});
    cases.push_back({"trailer 1 offset past the file", three().Offset(1, 0x7FFFFFF0), {0}, {1, 2}});
    cases.push_back({"trailer 3 offset one byte late", three().Offset(3, 40 + 4 + 5 + 4 + 2 + 50 + 12 + 1),
                     {0, 1, 2}, {3, 4}});

    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(c.pb.Build());
        for (int k : c.present) EXPECT_EQ(Read(path, k), c.pb.BlockData(k)) << "block " << k;
        for (int k : c.absent) EXPECT_FALSE(Read(path, k)) << "block " << k;
    }
}

TEST_F(BlockReader, PaddedBlockReadsItsRecordedSize) {
    PlayerBuilder pb;
    pb.Base(Seq(10)).Photo("p", "", Seq(20)).PadAfter(2, 9);
    const auto b = Read(Write(pb.Build()), 2);
    ASSERT_TRUE(b);
    EXPECT_EQ(*b, pb.BlockData(2));
}

TEST_F(BlockReader, BareFileHasNoBlocks) {
    const std::string path = Write(Seq(5000));
    for (int k : {0, 1, 2}) EXPECT_FALSE(Read(path, k));
}

// Crafted trailers must read as "no block", never crash, hang, over-read or allocate more
// than the file holds.
TEST_F(BlockReader, HostileTrailers) {
    auto trailer = [](uint32_t off, uint32_t size) {
        Bytes t;
        gdpack::AppendLE32(t, off);
        gdpack::AppendLE32(t, size);
        t.insert(t.end(), {'g', 'd', 'i', 'm'});
        return t;
    };
    auto withTrailer = [&](Bytes body, uint32_t off, uint32_t size) {
        const Bytes t = trailer(off, size);
        body.insert(body.end(), t.begin(), t.end());
        return body;
    };
    struct Case {
        const char* name;
        Bytes file;
        int k;
    };
    const Bytes body = Seq(100);
    const std::vector<Case> cases = {
        {"offset past the end of the file", withTrailer(body, 5000, 1), 0},
        {"offset just past the data", withTrailer(body, 101, 0), 0},
        {"negative size", withTrailer(body, 10, 0xFFFFFFFF), 0},
        {"negative offset", withTrailer(body, 0xFFFFFFF0, 4), 0},
        {"offset + size wraps 32 bits", withTrailer(body, 0xFFFFFFF0, 0x20), 0},
        {"size runs into its own trailer", withTrailer(body, 50, 51), 0},
        {"huge size", withTrailer(body, 0, 0x7FFFFFFF), 0},
        {"file shorter than a trailer", Bytes{'x', 'g', 'd', 'i', 'm'}, 0},
        {"eleven bytes ending in the magic", Bytes{1, 2, 3, 4, 5, 6, 7, 'g', 'd', 'i', 'm'}, 0},
        {"empty file", Bytes{}, 0},
        {"negative block number", withTrailer(body, 0, 10), -1},
        {"most negative block number", withTrailer(body, 0, 10), INT_MIN},
        {"block number far past the chain", withTrailer(body, 0, 10), INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Read(Write(c.file), c.k));
    }
}

// A chain of empty blocks whose trailers follow each other: every step moves back 12 bytes, so
// even a walk asked for INT_MAX blocks ends after the chain.
TEST_F(BlockReader, LongChainOfEmptyBlocksEnds) {
    Bytes f = Seq(3);
    for (int i = 0; i < 1000; ++i) gdpack::AppendBlock(f, {});
    const std::string path = Write(f);
    EXPECT_EQ(Read(path, 999), Bytes{});
    EXPECT_FALSE(Read(path, 1000));
    EXPECT_FALSE(Read(path, INT_MAX));
}

TEST_F(BlockReader, ContentsAreReplacedAndFailureLeavesThemAlone) {
    PlayerBuilder pb;
    pb.Base(Seq(8)).Photo("a", "b", Seq(12));
    const std::string path = Write(pb.Build());
    TMemoryStream ms;
    const Bytes junk(1000, 0xEE);
    ms.WriteBuffer(junk.data(), int64_t(junk.size()));
    ASSERT_TRUE(ReadAppendedBlock(path, 2, &ms));
    EXPECT_EQ(Bytes(ms.Memory(), ms.Memory() + ms.Size()), pb.BlockData(2));
    EXPECT_FALSE(ReadAppendedBlock(path, 7, &ms));
    EXPECT_EQ(ms.Size(), int64_t(pb.BlockData(2).size()));
}

TEST_F(BlockReader, MissingFileRaisesOpenError) {
    TMemoryStream ms;
    EXPECT_THROW(ReadAppendedBlock(dir.File("nope.scr"), 0, &ms), EFOpenError);
}

TEST_F(BlockReader, OwnDataFileDefaultsToTheRunningImage) {
    SetOwnDataFileName("");
    EXPECT_EQ(OwnDataFileName(), "/proc/self/exe");
    TMemoryStream ms;
    // The test binary carries no blocks, but it can be opened and walked.
    EXPECT_FALSE(ReadAppendedBlock(OwnDataFileName(), 0, &ms));
    SetOwnDataFileName(dir.File("x"));
    EXPECT_EQ(OwnDataFileName(), dir.File("x"));
    SetOwnDataFileName("");
}

TEST(PayloadString, ReadsLengthPrefixedBytes) {
    Bytes b;
    gdpack::AppendString(b, "Alps 2003");
    gdpack::AppendString(b, "");
    gdpack::AppendString(b, std::string("a\0b\r\n", 5));
    TMemoryStream ms;
    ms.WriteBuffer(b.data(), int64_t(b.size()));
    ms.SetPosition(0);
    EXPECT_EQ(ReadPayloadString(&ms), "Alps 2003");
    EXPECT_EQ(ReadPayloadString(&ms), "");
    EXPECT_EQ(ReadPayloadString(&ms), std::string("a\0b\r\n", 5));
    EXPECT_EQ(ms.Position(), ms.Size());
}

TEST(PayloadString, HostileLengthsRaiseReadError) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"length past the end", {5, 0, 0, 0, 'a', 'b'}},
        {"negative length", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}},
        {"most negative length", {0, 0, 0, 0x80}},
        {"huge length", {0xFF, 0xFF, 0xFF, 0x7F}},
        {"short length field", {1, 0}},
        {"nothing left", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream ms;
        if (!c.bytes.empty()) ms.WriteBuffer(c.bytes.data(), int64_t(c.bytes.size()));
        ms.SetPosition(0);
        EXPECT_THROW(ReadPayloadString(&ms), EReadError);
    }
}

TEST(PayloadText, Utf8WhenValidElseWindows1252) {
    struct Case {
        const char* name;
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"ASCII", "Alps 2003", "Alps 2003"},
        {"empty", "", ""},
        {"valid UTF-8", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8C\x84", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8C\x84"},
        {"Latin-1 letters", "Gr\xFC\xDF" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"1252 specials", "\x80\x85\x93x\x94\x99", "\xE2\x82\xAC\xE2\x80\xA6\xE2\x80\x9Cx\xE2\x80\x9D\xE2\x84\xA2"},
        {"unassigned 1252 bytes", "\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"overlong form is not UTF-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"encoded surrogate is not UTF-8", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"truncated sequence", "ab\xE2\x82", "ab\xC3\xA2\xE2\x80\x9A"},
        {"one bad byte makes all 1252", "\xC3\xBC\xFC", "\xC3\x83\xC2\xBC\xC3\xBC"},
        {"CR LF kept", "line1\r\nline2", "line1\r\nline2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodePayloadText(c.in), c.out);
    }
}

// The show's worker streams a photo from its block: the stream gives the block's bytes
// exactly, whatever the size of each read and wherever it seeks, and nothing past the block.
TEST(BlockIndex, StreamsEachBlockAsReadGivesIt) {
    TestDir dir;
    PlayerBuilder pb;
    pb.Base(PlayerBuilder::Bytes(1000, 0x11)).Music(PlayerBuilder::Bytes(3, 7));
    PlayerBuilder::Bytes big(200000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 31 + i / 977);
    pb.Photo("big", "c", big).Photo("empty", "", {}).Photo("small", "x", {1, 2, 3});
    const std::string path = pb.Write(dir.File("p.exe"));
    TBlockIndex index;
    ASSERT_TRUE(index.Open(path, 10));
    for (int k = 0; k < pb.BlockCount(); ++k) {
        SCOPED_TRACE(k);
        std::string whole;
        ASSERT_TRUE(index.Read(k, whole));
        auto s = index.OpenBlock(k);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->Size(), int64_t(whole.size()));
        std::string got;
        // In pieces, as the music is copied: no piece larger than asked, and a sink that
        // stops ends the read as failed.
        for (size_t piece : {size_t(1), size_t(4096), size_t(1) << 20}) {
            got.clear();
            size_t largest = 0;
            EXPECT_TRUE(index.ReadPieces(k, piece, [&](const char* d, size_t n) {
                largest = std::max(largest, n);
                got.append(d, n);
                return true;
            }));
            EXPECT_EQ(got, whole) << "pieces of " << piece;
            EXPECT_LE(largest, piece);
        }
        if (!whole.empty())
            EXPECT_FALSE(index.ReadPieces(k, 16, [](const char*, size_t) { return false; }));
        for (int64_t step : {1, 7, 4096, 70000}) {
            s->SetPosition(0);
            got.clear();
            char buf[70000];
            for (int64_t n; (n = s->Read(buf, step)) > 0;) got.append(buf, size_t(n));
            EXPECT_EQ(got, whole) << "reads of " << step;
        }
        if (whole.size() > 10) {
            s->SetPosition(int64_t(whole.size()) - 5);
            char tail[16];
            EXPECT_EQ(s->Read(tail, 16), 5);
            EXPECT_EQ(std::string(tail, 5), whole.substr(whole.size() - 5));
        }
    }
    EXPECT_EQ(index.OpenBlock(pb.BlockCount()), nullptr);
    EXPECT_EQ(index.OpenBlock(-1), nullptr);
    EXPECT_FALSE(index.ReadPieces(pb.BlockCount(), 16, [](const char*, size_t) { return true; }));
}
