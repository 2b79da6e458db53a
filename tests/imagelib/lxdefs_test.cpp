// JPEG marker list, IPTC records (against exiv2 and exiftool), the selection and alpha mask,
// and the view parameter objects.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "fuzz/iptc_fuzz_body.h"
#include "codec_fixture_helpers.h"
#include "lxdefs.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(uint8_t(x));
    return b;
}
Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes BE16(unsigned v) { return B({int(v >> 8) & 0xFF, int(v) & 0xFF}); }
Bytes BE32(uint32_t v) {
    return B({int(v >> 24) & 0xFF, int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF});
}

// One IIM dataset in its standard form.
Bytes DataSet(int rec, int ds, const Bytes& data) {
    return B({0x1C, rec, ds}) + BE16(unsigned(data.size())) + data;
}
// One image resource: signature, id, empty (or given) name, size, data padded to even.
Bytes Resource(unsigned id, const Bytes& data, const std::string& name = "") {
    Bytes r = Str("8BIM") + BE16(id);
    r.push_back(uint8_t(name.size()));
    r = r + Str(name);
    if ((1 + name.size()) % 2) r.push_back(0);
    r = r + BE32(uint32_t(data.size())) + data;
    if (data.size() % 2) r.push_back(0);
    return r;
}
Bytes PhotoshopBlock(const Bytes& resources) { return Str(std::string("Photoshop 3.0\0", 14)) + resources; }

struct Item {
    int rec, ds;
    std::string data;
    bool operator==(const Item&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << i.rec << ":" << i.ds << " (" << i.data.size() << ") \"" << i.data.substr(0, 40)
              << "\"";
}

std::vector<Item> Items(const TLXIPTCInfoList& l) {
    std::vector<Item> v;
    for (int i = 0; i < l.Count(); i++) {
        const TLXIPTCItemHeader& h = l.ItemHeaders(i);
        const char* p = reinterpret_cast<const char*>(l.ItemData(i));
        v.push_back({h.RecordNumber, h.DataSet, h.Length ? std::string(p, size_t(h.Length)) : ""});
    }
    return v;
}

// Parses a buffer held in a heap block of exactly its size, so the sanitizer sees any over-read.
std::vector<Item> Parse(const Bytes& b, bool* changed = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() ? b.size() : 1]);
    if (!b.empty()) std::memcpy(exact.get(), b.data(), b.size());
    TLXIPTCInfoList l;
    l.LoadFromBuffer(exact.get(), int64_t(b.size()));
    if (changed) *changed = l.Changed();
    return Items(l);
}

// ==================== TLXMarkerList ====================

TEST(LxMarkerList, AddsFindsAndReportsMarkers) {
    TLXMarkerList m;
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.IndexOf(0xED), -1);
    const Bytes exif = Str("Exif\0\0MM");
    const Bytes com = Str("a comment");
    ASSERT_TRUE(m.AddMarker(0xE1, exif.data(), int64_t(exif.size())));
    ASSERT_TRUE(m.AddMarker(0xFE, com.data(), int64_t(com.size())));
    ASSERT_TRUE(m.AddMarker(0xE1, com.data(), 3));
    ASSERT_EQ(m.Count(), 3);
    EXPECT_EQ(m.MarkerType(0), 0xE1);
    EXPECT_EQ(m.MarkerType(1), 0xFE);
    EXPECT_EQ(m.MarkerLength(0), int(exif.size()));
    EXPECT_EQ(Bytes(m.MarkerData(1), m.MarkerData(1) + m.MarkerLength(1)), com);
    EXPECT_NE(m.MarkerData(1), com.data());   // a private copy
    EXPECT_EQ(m.IndexOf(0xE1), 0);            // the first of two
    EXPECT_EQ(m.IndexOf(0xFE), 1);
    EXPECT_EQ(m.IndexOf(0xED), -1);
    m.Clear();
    EXPECT_EQ(m.Count(), 0);
    EXPECT_EQ(m.IndexOf(0xE1), -1);
}

// A segment's 2-byte length counts itself: 65533 payload bytes at most. Longer payloads are
// refused rather than cut to length mod 65536 (which wrote a corrupt APP13).
TEST(LxMarkerList, RefusesPayloadsThatNoSegmentHolds) {
    const Bytes big(70000, 'x');
    struct Case {
        int64_t length;
        bool data;
        bool stored;
    };
    const Case cases[] = {{0, true, true},        {0, false, true},      {1, true, true},
                          {65533, true, true},    {65534, true, false},  {65535, true, false},
                          {65536, true, false},   {70000, true, false},  {-1, true, false},
                          {int64_t(1) << 32, true, false},               {5, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        TLXMarkerList m;
        ASSERT_TRUE(m.AddMarker(0xFE, "keep", 4));
        EXPECT_EQ(m.AddMarker(0xED, c.data ? big.data() : nullptr, c.length), c.stored);
        ASSERT_EQ(m.Count(), c.stored ? 2 : 1);
        if (c.stored) {
            EXPECT_EQ(m.MarkerLength(1), int(c.length));
            EXPECT_EQ(m.MarkerType(1), 0xED);
        }
        // SetMarker follows the same rule and leaves a refused index as it was.
        EXPECT_EQ(m.SetMarker(0, 0xE2, c.length, c.data ? big.data() : nullptr), c.stored);
        EXPECT_EQ(m.MarkerType(0), c.stored ? 0xE2 : 0xFE);
        EXPECT_EQ(m.MarkerLength(0), c.stored ? int(c.length) : 4);
    }
}

TEST(LxMarkerList, SetMarkerFromItsOwnPayload) {
    TLXMarkerList m;
    const Bytes d = Str("0123456789");
    ASSERT_TRUE(m.AddMarker(0xE1, d.data(), 10));
    ASSERT_TRUE(m.AddMarker(0xFE, d.data(), 2));
    // The new data lie in the stream being replaced (a use-after-free if freed first).
    ASSERT_TRUE(m.SetMarker(0, 0xED, 6, m.MarkerData(0) + 2));
    EXPECT_EQ(m.MarkerType(0), 0xED);
    EXPECT_EQ(Bytes(m.MarkerData(0), m.MarkerData(0) + 6), Str("234567"));
    EXPECT_EQ(m.MarkerType(1), 0xFE);
    EXPECT_EQ(m.Count(), 2);
}

TEST(LxMarkerList, BadIndexesRaiseListErrors) {
    TLXMarkerList m;
    ASSERT_TRUE(m.AddMarker(0xFE, "x", 1));
    for (int i : {-1, 1, 1000, INT_MIN}) {
        EXPECT_THROW(m.MarkerData(i), EListError);
        EXPECT_THROW(m.MarkerLength(i), EListError);
        EXPECT_THROW(m.MarkerType(i), EListError);
        EXPECT_THROW(m.SetMarker(i, 0xFE, 1, "y"), EListError);
    }
    EXPECT_EQ(m.Count(), 1);
}

TEST(LxMarkerList, AssignCopiesInOrder) {
    TLXMarkerList a, b;
    ASSERT_TRUE(a.AddMarker(0xE1, "one", 3));
    ASSERT_TRUE(a.AddMarker(0xED, "", 0));
    ASSERT_TRUE(a.AddMarker(0xFE, "three", 5));
    ASSERT_TRUE(b.AddMarker(0xE5, "old", 3));
    b.Assign(&a);
    ASSERT_EQ(b.Count(), 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(b.MarkerType(i), a.MarkerType(i));
        ASSERT_EQ(b.MarkerLength(i), a.MarkerLength(i));
        if (a.MarkerLength(i)) {
            EXPECT_EQ(std::memcmp(b.MarkerData(i), a.MarkerData(i), size_t(a.MarkerLength(i))), 0);
        }
    }
    a.MarkerData(0)[0] = 'X';   // deep copy
    EXPECT_EQ(b.MarkerData(0)[0], 'o');

    b.Assign(nullptr);
    EXPECT_EQ(b.Count(), 3);
    b.Assign(&b);   // itself: not emptied
    EXPECT_EQ(b.Count(), 3);
}

// ==================== TLXIPTCInfoList ====================

TEST(LxIptc, SaveWritesTheDocumentedBlock) {
    TLXIPTCInfoList l;
    const uint8_t version[2] = {0, 4};
    l.AddItem(2, 0, 2, version);
    l.AddItem(2, 5, 3, "abc");
    const Bytes out = l.SaveToBuffer();
    const Bytes expected = Str(std::string("Photoshop 3.0\0", 14)) + Str("8BIM") +
                           B({0x04, 0x04, 0, 0}) + BE32(8) +
                           B({0x1C, 0x02, 0x05, 0x00, 0x03, 'a', 'b', 'c'});
    EXPECT_EQ(out, expected);
    EXPECT_EQ(out.size(), 34u);
}

uint32_t SizeField(const Bytes& b) {
    return (uint32_t(b[22]) << 24) | (uint32_t(b[23]) << 16) | (uint32_t(b[24]) << 8) | b[25];
}

// Lengths across the standard / extended boundary, totals of both parities, and sizes whose
// size field holds the tag byte 0x1C (23 -> D = 0x1C, 279 -> D = 0x11C).
TEST(LxIptc, RoundTripTable) {
    const std::vector<std::vector<int>> cases = {
        {0}, {3}, {23}, {279}, {32767}, {32768}, {40000}, {1, 2}, {0, 0}, {40000, 0, 23}};
    bool sawOdd = false, sawEven = false;
    for (const auto& lengths : cases) {
        SCOPED_TRACE(testing::PrintToString(lengths));
        TLXIPTCInfoList l;
        const uint8_t version[2] = {0, 4};
        ASSERT_EQ(l.AddItem(2, 0, 2, version), 0);   // never written
        std::vector<Item> want;
        uint64_t d = 0;
        for (size_t k = 0; k < lengths.size(); k++) {
            std::string data(size_t(lengths[k]), '\0');
            for (size_t i = 0; i < data.size(); i++) data[i] = char((i * 7 + k) & 0xFF);
            const int ds = int(5 + k * 20);
            ASSERT_GE(l.AddItem(2, ds, lengths[k], data.data()), 1);
            want.push_back({2, ds, data});
            d += (lengths[k] < 32768 ? 5 : 9) + uint64_t(lengths[k]);
        }
        const Bytes out = l.SaveToBuffer();
        EXPECT_EQ(SizeField(out), d);   // the pad byte is not counted
        const bool odd = (26 + d) % 2 == 1;
        (odd ? sawOdd : sawEven) = true;
        ASSERT_EQ(out.size(), 26 + d + (odd ? 1 : 0));
        if (odd) {
            EXPECT_EQ(out.back(), 0);
        }
        // The first dataset's header form.
        ASSERT_GE(out.size(), 31u);
        EXPECT_EQ(out[26], 0x1C);
        if (lengths[0] >= 32768) {
            EXPECT_EQ(Bytes(out.begin() + 29, out.begin() + 35), B({0x80, 0x04}) + BE32(uint32_t(lengths[0])));
        } else {
            EXPECT_EQ(Bytes(out.begin() + 29, out.begin() + 31), BE16(unsigned(lengths[0])));
        }
        bool changed = true;
        EXPECT_EQ(Parse(out, &changed), want);
        EXPECT_FALSE(changed);
    }
    EXPECT_TRUE(sawOdd);
    EXPECT_TRUE(sawEven);
}

TEST(LxIptc, ExtendedLengthIsWrittenWithFourBytes) {
    TLXIPTCInfoList l;
    const std::string big(40000, 'q');
    l.AddItem(2, 202, 40000, big.data());
    const Bytes out = l.SaveToBuffer();
    EXPECT_EQ(Bytes(out.begin() + 26, out.begin() + 35),
              B({0x1C, 2, 202, 0x80, 0x04, 0x00, 0x00, 0x9C, 0x40}));
    const auto items = Parse(out);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].data.size(), 40000u);
}

TEST(LxIptc, ChangedFlag) {
    TLXIPTCInfoList l, other;
    EXPECT_FALSE(l.Changed());
    l.AddItem(2, 5, 1, "x");
    EXPECT_TRUE(l.Changed());
    const Bytes out = l.SaveToBuffer();
    EXPECT_TRUE(l.Changed());   // saving does not reset it
    l.LoadFromBuffer(out.data(), int64_t(out.size()));
    EXPECT_FALSE(l.Changed());
    l.Clear();
    EXPECT_TRUE(l.Changed());
    l.LoadFromBuffer("garbage", 7);
    EXPECT_FALSE(l.Changed());
    l.Assign(nullptr);
    EXPECT_FALSE(l.Changed());
    other.AddItem(2, 120, 2, "hi");
    l.Assign(&other);
    EXPECT_TRUE(l.Changed());
    EXPECT_EQ(Items(l), (std::vector<Item>{{2, 120, "hi"}}));
    l.Assign(&l);
    EXPECT_EQ(l.Count(), 1);
}

TEST(LxIptc, AddItemRefusesWhatCannotBeWritten) {
    TLXIPTCInfoList l;
    EXPECT_EQ(l.AddItem(2, 5, 0, nullptr), 0);   // empty dataset
    EXPECT_EQ(l.AddItem(256, 5, 1, "x"), -1);
    EXPECT_EQ(l.AddItem(-1, 5, 1, "x"), -1);
    EXPECT_EQ(l.AddItem(2, 256, 1, "x"), -1);
    EXPECT_EQ(l.AddItem(2, 5, -1, "x"), -1);
    EXPECT_EQ(l.AddItem(2, 5, 3, nullptr), -1);
    EXPECT_EQ(l.AddItem(1, 90, 3, "abc"), 1);
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(l.RecordNumber(1), 1);
    EXPECT_EQ(l.DataSet(1), 90);
    EXPECT_EQ(l.ItemData(0), nullptr);
    EXPECT_THROW(l.ItemHeaders(2), EListError);
    EXPECT_THROW(l.RecordNumber(-1), EListError);
    EXPECT_THROW(l.ItemData(5), EListError);
}

struct ParseCase {
    const char* name;
    Bytes input;
    std::vector<Item> want;
};

TEST(LxIptc, ParserRobustness) {
    const Bytes abc = DataSet(2, 5, Str("abc"));
    const Bytes iptc = DataSet(2, 5, Str("Title")) + DataSet(2, 120, Str("A caption"));
    const std::vector<Item> iptcItems = {{2, 5, "Title"}, {2, 120, "A caption"}};
    // A resource whose data (and size field) are full of tag bytes.
    const Bytes decoy = Resource(0x03ED, B({0x1C, 0x02, 0x05, 0x00, 0x02, 'n', 'o', 0x1C, 0x1C}));

    const std::vector<ParseCase> cases = {
        {"empty", {}, {}},
        {"Photoshop header, two datasets", PhotoshopBlock(Resource(0x0404, iptc)), iptcItems},
        {"bare datasets", iptc, iptcItems},
        {"garbage before the first tag", Str("Adobe_Photoshop2.5:") + B({0, 1, 2}) + iptc, iptcItems},
        {"header ends after 1C 02 05 80", B({0x1C, 0x02, 0x05, 0x80}), {}},
        {"dataset then a cut header", abc + B({0x1C, 0x02, 0x05, 0x80}), {{2, 5, "abc"}}},
        {"extended header cut in its length", abc + B({0x1C, 2, 120, 0x80, 0x04, 0, 0}), {{2, 5, "abc"}}},
        {"top-bit four-byte length", abc + B({0x1C, 2, 120, 0x80, 0x04, 0x80, 0, 0, 5, 1, 2, 3, 4, 5}),
         {{2, 5, "abc"}}},
        {"length 0x7FFFFFF0", abc + B({0x1C, 2, 120, 0x80, 0x04, 0x7F, 0xFF, 0xFF, 0xF0, 1, 2}),
         {{2, 5, "abc"}}},
        {"length 0xFFFFFFFF", B({0x1C, 2, 120, 0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 1}), {}},
        {"two length bytes", B({0x1C, 2, 120, 0x80, 0x02, 0x00, 0x03, 'x', 'y', 'z'}) + abc,
         {{2, 120, "xyz"}, {2, 5, "abc"}}},
        {"one length byte", B({0x1C, 2, 120, 0x80, 0x01, 0x02, 'x', 'y'}), {{2, 120, "xy"}}},
        {"length count 0", abc + B({0x1C, 2, 120, 0x80, 0x00, 1, 2, 3}), {{2, 5, "abc"}}},
        {"length count 5", abc + B({0x1C, 2, 120, 0x80, 0x05, 0, 0, 0, 0, 1, 'a'}), {{2, 5, "abc"}}},
        {"length count 0x7FFF", abc + B({0x1C, 2, 120, 0xFF, 0xFF, 0, 0}), {{2, 5, "abc"}}},
        {"dataset runs past the end", abc + B({0x1C, 2, 120, 0x00, 0x09, 'a', 'b'}), {{2, 5, "abc"}}},
        {"zero-length dataset ends the buffer", abc + B({0x1C, 2, 0x37, 0, 0}),
         {{2, 5, "abc"}, {2, 0x37, ""}}},
        {"something else after the datasets", abc + Str("tail"), {{2, 5, "abc"}}},
        {"resource with 1C before the IPTC resource", PhotoshopBlock(decoy + Resource(0x0404, iptc)),
         iptcItems},
        {"resource after the IPTC resource", PhotoshopBlock(Resource(0x0404, abc) + decoy),
         {{2, 5, "abc"}}},
        {"named resources", PhotoshopBlock(Resource(0x0425, Str("digest"), "n") +
                                           Resource(0x0404, abc, "iptc")),
         {{2, 5, "abc"}}},
        {"no IPTC resource", PhotoshopBlock(decoy), {}},
        {"IPTC resource cut short", PhotoshopBlock(Str("8BIM") + B({4, 4, 0, 0}) + BE32(1000) + iptc),
         iptcItems},
        {"resource size past the end", PhotoshopBlock(Str("8BIM") + B({3, 0xED, 0, 0}) +
                                                      BE32(0xFFFFFFF0) + iptc),
         {}},
        {"name past the end", PhotoshopBlock(Str("8BIM") + B({4, 4, 200}) + Str("short") + iptc), {}},
        {"unknown resource signature", PhotoshopBlock(Str("XXXX") + B({4, 4, 0, 0}) + BE32(5) + abc), {}},
        {"header only", PhotoshopBlock({}), {}},
        {"other signatures are walked", PhotoshopBlock(Str("MeSa") + B({0x0B, 0xB8, 0, 0}) + BE32(2) +
                                                       B({0x1C, 0x1C}) + Resource(0x0404, abc)),
         {{2, 5, "abc"}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        bool changed = true;
        EXPECT_EQ(Parse(c.input, &changed), c.want);
        EXPECT_FALSE(changed);
    }
}

TEST(LxIptc, LoadFromBufferClearsAndAcceptsNoData) {
    TLXIPTCInfoList l;
    l.AddItem(2, 5, 1, "x");
    l.LoadFromBuffer(nullptr, 10);
    EXPECT_EQ(l.Count(), 0);
    EXPECT_FALSE(l.Changed());
    l.AddItem(2, 5, 1, "x");
    l.LoadFromBuffer("\x1C\x02\x05\x00\x01y", -1);
    EXPECT_EQ(l.Count(), 0);
}

// Random and mutated buffers through the fuzz target's checks (run under the sanitizers).
TEST(LxIptc, FuzzEntryOnRandomAndMutatedBuffers) {
    std::mt19937 rng(20240611);
    std::vector<Bytes> seeds;
    {
        TLXIPTCInfoList l;
        l.AddItem(2, 0, 2, "\0\4");
        l.AddItem(2, 5, 23, "twenty-three bytes long");
        l.AddItem(2, 25, 3, "kw1");
        std::string big(33000, 'b');
        l.AddItem(2, 202, 33000, big.data());
        seeds.push_back(l.SaveToBuffer());
        seeds.push_back(PhotoshopBlock(Resource(0x03ED, B({0x1C, 2, 5, 0, 1, 0x1C})) +
                                       Resource(0x0404, DataSet(2, 120, Str("caption")))));
        seeds.push_back(DataSet(1, 90, B({0x1B, 0x25, 0x47})) + DataSet(2, 80, Str("me")));
    }
    const uint8_t interesting[] = {0x1C, 0x80, 0x04, 0x00, 0xFF, 0x7F, 0x02, 0x05, '8', 'B', 'I', 'M'};
    int runs = 0;
    for (int n = 0; n < 4000; n++) {
        Bytes b;
        const int kind = n % 4;
        if (kind == 0) {
            b.resize(rng() % 200);
            for (auto& x : b) x = uint8_t(rng());
        } else if (kind == 1) {
            b.resize(rng() % 120);
            for (auto& x : b) x = interesting[rng() % sizeof(interesting)];
            if (rng() % 2) b = PhotoshopBlock(Str("8BIM") + B({4, 4, 0, 0}) + BE32(rng() % 300)) + b;
        } else {
            b = seeds[rng() % seeds.size()];
            const int edits = 1 + int(rng() % 4);
            for (int e = 0; e < edits && !b.empty(); e++) {
                const size_t at = rng() % b.size();
                switch (rng() % 4) {
                case 0: b[at] = uint8_t(rng()); break;
                case 1: b[at] = interesting[rng() % sizeof(interesting)]; break;
                case 2: b.resize(at); break;
                default: b.insert(b.begin() + long(at), uint8_t(rng())); break;
                }
            }
        }
        std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() + 1]);
        if (!b.empty()) std::memcpy(exact.get(), b.data(), b.size());
        ASSERT_TRUE(IptcFuzzOne(exact.get(), b.size())) << "buffer " << n;
        runs++;
    }
    EXPECT_EQ(runs, 4000);
}

// ==================== IPTC against exiv2 and exiftool ====================

using codec_test::HaveTool;

std::string RunShell(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

Bytes ReadFileBytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}
void WriteFileBytes(const std::string& name, const Bytes& b) {
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// The marker segments of a JPEG up to its first scan.
struct Segment {
    uint8_t code;
    size_t start;    // of the FF byte
    size_t length;   // payload bytes
    size_t payload;  // offset of the payload
};
std::vector<Segment> JpegSegments(const Bytes& f) {
    std::vector<Segment> s;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return s;
    size_t pos = 2;
    while (pos + 4 <= f.size() && f[pos] == 0xFF) {
        const uint8_t code = f[pos + 1];
        if (code == 0xDA || code == 0xD9) break;
        const size_t len = (size_t(f[pos + 2]) << 8) | f[pos + 3];
        if (len < 2 || pos + 2 + len > f.size()) break;
        s.push_back({code, pos, len - 2, pos + 4});
        pos += 2 + len;
    }
    return s;
}

Bytes App13Payload(const Bytes& jpeg) {
    for (const Segment& s : JpegSegments(jpeg))
        if (s.code == 0xED) return Bytes(jpeg.begin() + long(s.payload), jpeg.begin() + long(s.payload + s.length));
    return {};
}

// The markers of the list as segments right after the JFIF header (or SOI).
Bytes SpliceMarkers(const Bytes& jpeg, const TLXMarkerList& m) {
    const auto segs = JpegSegments(jpeg);
    size_t at = 2;
    if (!segs.empty() && segs[0].code == 0xE0) at = segs[0].payload + segs[0].length;
    Bytes ins;
    for (int i = 0; i < m.Count(); i++) {
        ins = ins + B({0xFF, m.MarkerType(i)}) + BE16(unsigned(m.MarkerLength(i) + 2));
        ins.insert(ins.end(), m.MarkerData(i), m.MarkerData(i) + m.MarkerLength(i));
    }
    Bytes out(jpeg.begin(), jpeg.begin() + long(at));
    out = out + ins;
    out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
    return out;
}

class LxIptcTools : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) not installed";
        char tmpl[] = "/tmp/lxdefs_iptc.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        // A small picture to carry the metadata.
        std::string ppm = "P6\n16 8\n255\n";
        for (int i = 0; i < 16 * 8; i++) ppm += std::string{char(i * 2), char(255 - i), char(i * 5)};
        WriteFileBytes(dir_ + "/base.ppm", Str(ppm));
        RunShell("cjpeg -quality 85 '" + dir_ + "/base.ppm' > '" + dir_ + "/base.jpg'");
        base_ = ReadFileBytes(dir_ + "/base.jpg");
        ASSERT_GT(base_.size(), 100u);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    std::string Copy(const std::string& name) {
        const std::string path = dir_ + "/" + name;
        WriteFileBytes(path, base_);
        return path;
    }

    // exiv2's list: "0x0078 Iptc.Application2.Caption String value".
    static std::vector<Item> Exiv2Items(const std::string& file) {
        std::vector<Item> v;
        std::istringstream in(RunShell("exiv2 -PIxkyv '" + file + "'"));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            std::string tag, key, type;
            ls >> tag >> key >> type;
            std::string value;
            std::getline(ls, value);
            value.erase(0, value.find_first_not_of(' '));
            const int rec = key.rfind("Iptc.Envelope.", 0) == 0 ? 1 : key.rfind("Iptc.Application2.", 0) == 0 ? 2 : 0;
            v.push_back({rec, int(std::stoul(tag, nullptr, 16)), type + ":" + value});
        }
        return v;
    }
    // Our items in exiv2's terms: strings as they are, shorts as numbers.
    static std::vector<Item> AsExiv2(const std::vector<Item>& items) {
        std::vector<Item> v;
        for (const Item& i : items) {
            const bool isShort = (i.rec == 2 && i.ds == 0) || (i.rec == 1 && i.ds == 0);
            if (isShort && i.data.size() == 2)
                v.push_back({i.rec, i.ds, "Short:" + std::to_string((uint8_t(i.data[0]) << 8) | uint8_t(i.data[1]))});
            else
                v.push_back({i.rec, i.ds, "String:" + i.data});
        }
        return v;
    }
    // exiftool's record-2 tags: tag id -> values in file order, joined by '|'.
    static std::map<int, std::string> ExiftoolTags(const std::string& file) {
        std::map<int, std::string> m;
        std::istringstream in(RunShell("exiftool -a -D -s -s -sep '|' -IPTC:All '" + file + "'"));
        std::string line;
        while (std::getline(in, line)) {
            const size_t sp = line.find(' '), colon = line.find(": ");
            if (sp == std::string::npos || colon == std::string::npos) continue;
            m[std::stoi(line.substr(0, sp))] = line.substr(colon + 2);
        }
        return m;
    }
    static std::map<int, std::string> AsExiftool(const std::vector<Item>& items) {
        std::map<int, std::string> m;
        for (const Item& i : items) {
            std::string v = i.data;
            if (i.ds == 0 && v.size() == 2) v = std::to_string((uint8_t(v[0]) << 8) | uint8_t(v[1]));
            auto it = m.find(i.ds);
            if (it == m.end())
                m[i.ds] = v;
            else
                it->second += "|" + v;
        }
        return m;
    }

    std::string dir_;
    Bytes base_;
};

TEST_F(LxIptcTools, ReadsWhatExiv2Writes) {
    if (!HaveTool("exiv2")) GTEST_SKIP() << "exiv2 not installed";
    const std::string file = Copy("exiv2.jpg");
    const std::string longCaption(279, 'c');   // a length that put 0x1C into our size fields
    int rc = -1;
    RunShell("exiv2 -M'set Iptc.Application2.ObjectName String Harbour at dawn'"
        " -M'set Iptc.Application2.Keywords String boats'"
        " -M'add Iptc.Application2.Keywords String sea'"
        " -M'set Iptc.Application2.City String Genova'"
        " -M'set Iptc.Application2.Caption String " + longCaption + "' '" + file + "'", &rc);
    ASSERT_EQ(rc, 0);
    const Bytes app13 = App13Payload(ReadFileBytes(file));
    ASSERT_FALSE(app13.empty());
    const std::vector<Item> ours = Parse(app13);
    const std::vector<Item> theirs = Exiv2Items(file);
    ASSERT_GE(theirs.size(), 5u);
    EXPECT_EQ(AsExiv2(ours), theirs);
    // And the values we asked for are there.
    bool sawCaption = false;
    for (const Item& i : ours) sawCaption |= i.rec == 2 && i.ds == 120 && i.data == longCaption;
    EXPECT_TRUE(sawCaption);
}

TEST_F(LxIptcTools, ReadsWhatExiftoolWrites) {
    if (!HaveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
    const std::string file = Copy("exiftool.jpg");
    int rc = -1;
    RunShell("exiftool -q -overwrite_original -IPTC:Caption-Abstract='Hello from exiftool'"
        " -IPTC:Keywords=one -IPTC:Keywords=two -IPTC:By-line='A. Photographer'"
        " -IPTC:ObjectName='Twenty-three byte title' '" + file + "'", &rc);
    ASSERT_EQ(rc, 0);
    const Bytes app13 = App13Payload(ReadFileBytes(file));
    ASSERT_FALSE(app13.empty());
    const std::vector<Item> ours = Parse(app13);
    EXPECT_EQ(AsExiftool(ours), ExiftoolTags(file));
    const auto tags = AsExiftool(ours);
    ASSERT_TRUE(tags.count(25));
    EXPECT_EQ(tags.at(25), "one|two");
    EXPECT_EQ(tags.at(120), "Hello from exiftool");
    EXPECT_EQ(tags.at(80), "A. Photographer");
}

// Our block through the marker list into a JPEG's APP13, read by both tools.
TEST_F(LxIptcTools, ToolsReadWhatWeWrite) {
    const bool exiv2 = HaveTool("exiv2"), exiftool = HaveTool("exiftool");
    if (!exiv2 && !exiftool) GTEST_SKIP() << "neither exiv2 nor exiftool installed";
    struct Case {
        const char* name;
        std::vector<Item> items;
    };
    const std::vector<Case> cases = {
        {"plain", {{2, 0, std::string("\0\4", 2)}, {2, 5, "Title"}, {2, 25, "kw1"}, {2, 25, "kw2"},
                   {2, 120, "Caption written by us"}, {2, 80, "Author"}}},
        {"size field holds 0x1C", {{2, 5, std::string(23, 't')}}},
        {"size field 0x11C", {{2, 120, std::string(279, 'u')}}},
        {"odd total, extended length", {{2, 5, "odd"}, {2, 120, std::string(40000, 'v')}, {2, 80, "x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLXIPTCInfoList l;
        for (const Item& i : c.items) ASSERT_GE(l.AddItem(i.rec, i.ds, int(i.data.size()), i.data.data()), 0);
        const Bytes block = l.SaveToBuffer();
        TLXMarkerList m;
        ASSERT_TRUE(m.AddMarker(0xED, block.data(), int64_t(block.size())));
        const std::string file = dir_ + "/ours.jpg";
        WriteFileBytes(file, SpliceMarkers(base_, m));

        std::vector<Item> written;
        for (const Item& i : c.items)
            if (!(i.rec == 2 && i.ds == 0)) written.push_back(i);
        if (exiv2) {
            EXPECT_EQ(Exiv2Items(file), AsExiv2(written));
        }
        if (exiftool) {
            EXPECT_EQ(ExiftoolTags(file), AsExiftool(written));
        }
        // And it is still a picture.
        if (HaveTool("djpeg")) {
            int rc = -1;
            RunShell("djpeg '" + file + "' > /dev/null", &rc);
            EXPECT_EQ(rc, 0);
        }
    }
}

// ==================== TLXMask ====================

// The mask as rows of '#' (set) and '.', top row first.
std::vector<std::string> Picture(const TLXMask& m) {
    std::vector<std::string> rows;
    for (int y = 0; y < m.Height; y++) {
        std::string r;
        for (int x = 0; x < m.Width; x++) r += m.GetPixel(x, y) ? '#' : '.';
        rows.push_back(r);
    }
    return rows;
}

struct Box {
    int x1, y1, x2, y2;
    bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << "(" << b.x1 << "," << b.y1 << ")-(" << b.x2 << "," << b.y2 << ")";
}
Box BoxOf(const TLXMask& m) { return {m.X1, m.Y1, m.X2, m.Y2}; }
const Box kEmpty{INT_MAX, INT_MAX, 0, 0};

TEST(LxMask, CreateAndAllocate) {
    TLXMask m;
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(BoxOf(m), kEmpty);
    EXPECT_EQ(m.Bits, nullptr);
    EXPECT_FALSE(m.Full);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biSize, 40u);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biPlanes, 1);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biBitCount, 1);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(m.DrawInfo.bmiColors[0].rgbRed + m.DrawInfo.bmiColors[0].rgbGreen + m.DrawInfo.bmiColors[0].rgbBlue, 0);
    EXPECT_EQ(m.DrawInfo.bmiColors[1].rgbRed & m.DrawInfo.bmiColors[1].rgbGreen & m.DrawInfo.bmiColors[1].rgbBlue, 255);

    struct Case {
        int w, h, bpp;
        int rowLength;   // 0: no memory
    };
    const Case cases[] = {{13, 3, 1, 4}, {32, 2, 1, 4}, {33, 2, 1, 8}, {13, 3, 8, 13},
                          {1, 1, 8, 1},  {5, 5, 4, 0},  {5, 5, 24, 0}, {0, 5, 1, 0},
                          {5, 0, 8, 0},  {-3, 5, 8, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp);
        m.SetPixel(0, 0, 1);
        m.Full = true;
        m.AllocBits(c.w, c.h, c.bpp);
        EXPECT_EQ(m.RowLength, c.rowLength);
        EXPECT_EQ(BoxOf(m), kEmpty);
        EXPECT_FALSE(m.Full);
        if (c.rowLength) {
            EXPECT_EQ(m.Width, c.w);
            EXPECT_EQ(m.Height, c.h);
            EXPECT_EQ(m.BitsPerPixel, c.bpp);
            ASSERT_NE(m.Bits, nullptr);
            for (int i = 0; i < c.rowLength * c.h; i++) ASSERT_EQ(m.Bits[i], 0);
            // Bottom-up: row 0 is the last row in memory.
            EXPECT_EQ(m.ScanLine(0), m.Bits + (c.h - 1) * c.rowLength);
            EXPECT_EQ(m.ScanLine(c.h - 1), m.Bits);
        } else {
            EXPECT_EQ(m.Bits, nullptr);
            EXPECT_EQ(m.Width, 0);
            EXPECT_EQ(m.Height, 0);
            EXPECT_EQ(m.BitsPerPixel, 0);
            EXPECT_EQ(m.GetPixel(0, 0), 0);
            m.SetPixel(0, 0, 1);
            EXPECT_EQ(m.FillRow(1, 0, 0, 3), 0);
            EXPECT_TRUE(m.IsEmpty());
        }
    }
    m.AllocBits(4, 4, 1);
    m.SetPixel(1, 1, 1);
    m.FreeBits();
    EXPECT_EQ(m.Bits, nullptr);
    EXPECT_EQ(m.Width, 0);
    EXPECT_EQ(BoxOf(m), (Box{1, 1, 1, 1}));   // FreeBits leaves the box
}

TEST(LxMask, PixelLayout) {
    TLXMask m;
    m.AllocBits(13, 3, 1);
    m.SetPixel(0, 0, 1);
    m.SetPixel(9, 2, 1);
    EXPECT_EQ(m.Bits[2 * 4 + 0], 0x80);      // top row, highest address, MSB first
    EXPECT_EQ(m.Bits[0 * 4 + 1], 0x40);      // bottom row, first in memory
    EXPECT_EQ(m.GetPixel(9, 2), 0x40);       // the masked byte, not 1
    EXPECT_TRUE(m.IsPointSet(9, 2));
    EXPECT_FALSE(m.IsPointSet(8, 2));
    const std::vector<std::pair<int, int>> outside = {{-1, 0}, {13, 0}, {0, -1}, {0, 3}, {INT_MIN, INT_MAX}};
    for (auto [x, y] : outside) {
        EXPECT_EQ(m.GetPixel(x, y), 0);
        m.SetPixel(x, y, 1);   // ignored
    }
    EXPECT_EQ(BoxOf(m), (Box{0, 0, 9, 2}));

    TLXMask a;
    a.AllocBits(5, 2, 8);
    a.SetPixel(4, 0, 77);
    a.SetPixel(0, 1, 3);
    EXPECT_EQ(a.Bits[1 * 5 + 4], 77);
    EXPECT_EQ(a.Bits[0], 3);
    EXPECT_EQ(a.GetPixel(4, 0), 77);
}

// SetPixel, Fill and FillRow: the box and the Full rules in one table.
TEST(LxMask, BoxAndFullRules) {
    enum Op { SetPx, FillAll, Row, ClearAll };
    struct Step {
        Op op;
        int value, a = 0, b = 0, c = 0;
    };
    struct Case {
        const char* name;
        int bpp;
        std::vector<Step> steps;
        bool full;
        Box box;
    };
    const std::vector<Case> cases = {
        {"new mask", 8, {}, false, kEmpty},
        {"value 0 keeps it empty", 1, {{SetPx, 0, 3, 3}}, false, kEmpty},
        {"one pixel", 1, {{SetPx, 1, 5, 7}}, false, {5, 7, 5, 7}},
        {"two pixels", 1, {{SetPx, 1, 5, 7}, {SetPx, 1, 2, 9}}, false, {2, 7, 5, 9}},
        {"value 0 does not shrink", 1, {{SetPx, 1, 5, 7}, {SetPx, 0, 5, 7}}, false, {5, 7, 5, 7}},
        {"fill 255 on 8 bits", 8, {{FillAll, 255}}, true, kEmpty},
        {"fill 0 on 8 bits", 8, {{FillAll, 0}}, false, kEmpty},
        {"fill 7 on 1 bit", 1, {{FillAll, 7}}, true, kEmpty},
        {"fill 0 on 1 bit", 1, {{FillAll, 0}}, true, kEmpty},
        {"opaque pixel keeps Full", 8, {{FillAll, 255}, {SetPx, 255, 1, 1}}, true, {1, 1, 1, 1}},
        {"translucent pixel ends Full", 8, {{FillAll, 255}, {SetPx, 100, 1, 1}}, false, {1, 1, 1, 1}},
        {"once false, an opaque pixel keeps it false", 8,
         {{FillAll, 255}, {SetPx, 0, 1, 1}, {SetPx, 255, 1, 1}}, false, {1, 1, 1, 1}},
        {"SetPixel never makes it true", 8, {{SetPx, 255, 0, 0}}, false, {0, 0, 0, 0}},
        {"1-bit pixels keep Full", 1, {{FillAll, 0}, {SetPx, 0, 1, 1}}, true, kEmpty},
        {"row of 200 ends Full", 8, {{FillAll, 255}, {Row, 200, 0, 2, 5}}, false, kEmpty},
        {"row of 255 keeps Full", 8, {{FillAll, 255}, {Row, 255, 0, 2, 5}}, true, kEmpty},
        {"row outside writes nothing", 8, {{FillAll, 255}, {Row, 3, 0, 12, 5}}, true, kEmpty},
        {"clear resets the box", 1, {{SetPx, 1, 5, 7}, {ClearAll, 0}}, true, kEmpty},
        {"fill leaves the box", 8, {{SetPx, 1, 5, 7}, {FillAll, 255}}, true, {5, 7, 5, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLXMask m;
        m.AllocBits(10, 10, c.bpp);
        for (const Step& s : c.steps) {
            switch (s.op) {
            case SetPx: m.SetPixel(s.a, s.b, s.value); break;
            case FillAll: m.Fill(s.value); break;
            case Row: m.FillRow(s.value, s.a, s.b, s.c); break;
            case ClearAll: m.Clear(); break;
            }
        }
        EXPECT_EQ(m.Full, c.full);
        EXPECT_EQ(BoxOf(m), c.box);
        EXPECT_EQ(m.IsEmpty(), c.box == kEmpty);
    }
    TLXMask m;
    m.AllocBits(3, 2, 1);
    m.Fill(255);
    for (int i = 0; i < 8; i++) EXPECT_EQ(m.Bits[i], 0xFF);   // every byte, padding too
}

TEST(LxMask, FillRowClipsAndCounts) {
    struct Case {
        int bpp, value, xs, y, xe;
        int result;
        std::string row;   // the row written ("" = none written anywhere)
    };
    const std::vector<Case> cases = {
        {1, 1, 2, 1, 5, 4, "..####......."},
        {1, 9, -5, 1, 100, 13, "#############"},
        {1, 1, 12, 1, 12, 1, "............#"},
        {1, 1, 5, 1, 4, 0, ""},
        {1, 1, 13, 1, 20, 0, ""},
        {1, 1, -9, 1, -1, 0, ""},
        {1, 1, 2, -1, 5, 0, ""},   // rows outside the mask are not moved onto its edge
        {1, 1, 2, 3, 5, 0, ""},
        {1, 1, 2, INT_MIN, 5, 0, ""},
        {8, 50, 3, 2, 11, 9, "...#########."},
        {8, 50, 9, 2, 3, 0, ""},
        {8, 50, -20, 2, -10, 0, ""},
        {8, 50, 0, 3, 12, 0, ""},
        {8, 50, INT_MIN, 0, INT_MAX, 13, "#############"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits " << c.xs << ".." << c.xe << " y " << c.y);
        TLXMask m;
        m.AllocBits(13, 3, c.bpp);
        EXPECT_EQ(m.FillRow(c.value, c.xs, c.y, c.xe), c.result);
        const auto pic = Picture(m);
        for (int y = 0; y < 3; y++) EXPECT_EQ(pic[size_t(y)], y == c.y && !c.row.empty() ? c.row : std::string(13, '.'));
        if (c.bpp == 8 && c.result) {
            EXPECT_EQ(m.ScanLine(c.y)[std::max(c.xs, 0)], c.value);
        }
        if (c.bpp == 1)
            for (int y = 0; y < 3; y++) {   // the padding bits stay clear
                EXPECT_EQ(m.ScanLine(y)[1] & 0x07, 0);
                EXPECT_EQ(m.ScanLine(y)[2], 0);
                EXPECT_EQ(m.ScanLine(y)[3], 0);
            }
    }
    // Value 0 clears 1-bit pixels (as SetPixel does), so a mask never holds set pixels that
    // a 0 fill was meant to remove.
    TLXMask m;
    m.AllocBits(13, 1, 1);
    m.Fill(255);
    EXPECT_EQ(m.FillRow(0, 3, 0, 10), 8);
    EXPECT_EQ(Picture(m)[0], "###........##");
}

std::vector<TPoint> Pts(std::initializer_list<std::pair<int, int>> v) {
    std::vector<TPoint> p;
    for (auto [x, y] : v) p.push_back({x, y});
    return p;
}
constexpr int kSep = TLXMask::PolygonSeparator;

struct PolyCase {
    const char* name;
    int w, h;
    std::vector<TPoint> points;
    std::vector<std::string> picture;
    Box box;
};

TEST(LxMask, FillPolygons) {
    const std::vector<PolyCase> cases = {
        {"square", 10, 8, Pts({{2, 2}, {6, 2}, {6, 6}, {2, 6}}),
         {"..........", "..........", "..####....", "..####....", "..####....", "..####....",
          "..........", ".........."},
         {2, 2, 5, 5}},
        {"triangle", 9, 9, Pts({{0, 0}, {8, 0}, {0, 8}}),
         {"########.", "#######..", "######...", "#####....", "####.....", "###......", "##.......",
          "#........", "........."},
         {0, 0, 7, 7}},
        {"steep edge rounding", 4, 7, Pts({{0, 0}, {3, 0}, {0, 7}}),
         {"###.", "###.", "##..", "##..", "#...", "#...", "...."},
         {0, 0, 2, 6}},
        // Self-intersecting: the crossing edges swap places at y = 4.
        {"bow-tie lasso", 9, 9, Pts({{0, 0}, {8, 8}, {8, 0}, {0, 8}}),
         {".........", "#......#.", "##....##.", "###..###.", "########.", "###..###.", "##....##.",
          "#......#.", "........."},
         {0, 0, 7, 7}},
        {"two squares", 10, 6, Pts({{1, 1}, {3, 1}, {3, 3}, {1, 3}, {kSep, kSep}, {6, 2}, {9, 2}, {9, 5}, {6, 5}}),
         {"..........", ".##.......", ".##...###.", "......###.", "......###.", ".........."},
         {1, 1, 8, 4}},
        {"degenerate run after a real one", 8, 6,
         Pts({{1, 1}, {4, 1}, {4, 4}, {1, 4}, {kSep, kSep}, {6, 0}, {7, 5}}),
         {"........", ".###....", ".###....", ".###....", "........", "........"},
         {1, 1, 3, 3}},
        {"trailing and double separators", 8, 6,
         Pts({{kSep, 0}, {1, 1}, {4, 1}, {4, 4}, {1, 4}, {kSep, 0}, {kSep, 0}, {5, 5}, {kSep, 0}}),
         {"........", ".###....", ".###....", ".###....", "........", "........"},
         {1, 1, 3, 3}},
        {"one point", 6, 6, Pts({{2, 2}}), std::vector<std::string>(6, "......"), kEmpty},
        {"two points", 6, 6, Pts({{1, 1}, {4, 5}}), std::vector<std::string>(6, "......"), kEmpty},
        {"separators only", 6, 6, Pts({{kSep, 1}, {kSep, 2}}), std::vector<std::string>(6, "......"), kEmpty},
        {"partly outside", 6, 5, Pts({{-4, -3}, {3, -3}, {3, 2}, {-4, 2}}),
         {"###...", "###...", "......", "......", "......"},
         {0, 0, 2, 1}},
        {"below the mask", 6, 4, Pts({{1, 5}, {4, 5}, {4, 9}, {1, 9}}), std::vector<std::string>(4, "......"), kEmpty},
        {"above the mask", 6, 4, Pts({{1, -9}, {4, -9}, {4, -1}, {1, -1}}), std::vector<std::string>(4, "......"), kEmpty},
        {"huge coordinates", 5, 3, Pts({{-2000000000, -2000000000}, {2000000000, -2000000000},
                                        {2000000000, 2000000000}, {-2000000000, 2000000000}}),
         {"#####", "#####", "#####"},
         {0, 0, 4, 2}},
    };
    for (const PolyCase& c : cases) {
        for (int bpp : {1, 8}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << bpp << " bits");
            TLXMask m;
            m.AllocBits(c.w, c.h, bpp);
            m.SetPixel(0, 0, 1);   // cleared first
            m.FillPolygons(bpp == 8 ? 200 : 1, c.points.data(), int(c.points.size()));
            EXPECT_EQ(Picture(m), c.picture);
            EXPECT_EQ(BoxOf(m), c.box);
            if (bpp == 8)
                for (int y = 0; y < c.h; y++)
                    for (int x = 0; x < c.w; x++)
                        if (m.GetPixel(x, y)) {
                            ASSERT_EQ(m.GetPixel(x, y), 200);
                        }
        }
    }
    TLXMask m;
    m.AllocBits(8, 8, 1);
    m.FillPolygons(1, nullptr, 4);
    EXPECT_TRUE(m.IsEmpty());
    const auto sq = Pts({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
    m.FillPolygons(1, sq.data(), -3);
    EXPECT_TRUE(m.IsEmpty());
    m.FillPolygons(0, sq.data(), 4);   // value 0 sets nothing
    EXPECT_EQ(Picture(m), std::vector<std::string>(8, "........"));
    EXPECT_TRUE(m.IsEmpty());
}

// Edges that start above the mask begin at the x the stepping would have reached: the fill
// of a polygon moved up by k rows equals the lower rows of the unmoved fill.
TEST(LxMask, FillPolygonIsTranslationInvariant) {
    const auto lasso = Pts({{3, 1}, {37, 4}, {29, 17}, {41, 33}, {12, 38}, {20, 22}, {1, 30},
                            {9, 12}, {30, 9}, {5, 20}});
    TLXMask ref;
    ref.AllocBits(48, 48, 1);
    ref.FillPolygons(1, lasso.data(), int(lasso.size()));
    const auto refPic = Picture(ref);
    for (int k : {1, 2, 5, 13, 29}) {
        for (int sx : {0, -7, 11}) {
            SCOPED_TRACE(testing::Message() << "up " << k << " right " << sx);
            std::vector<TPoint> moved = lasso;
            for (TPoint& p : moved) {
                p.Y -= k;
                p.X += sx;
            }
            TLXMask m;
            m.AllocBits(48 + 11, 48 - k, 1);
            m.FillPolygons(1, moved.data(), int(moved.size()));
            for (int y = 0; y < 48 - k; y++)
                for (int x = 0; x < 48; x++)
                    if (x + sx >= 0) {
                        ASSERT_EQ(m.IsPointSet(x + sx, y), refPic[size_t(y + k)][size_t(x)] == '#')
                            << x << "," << y;
                    }
        }
    }
}

TEST(LxMask, MoveMask) {
    struct Case {
        const char* name;
        int dx, dy;
        bool cut;
        int wantDx, wantDy;
        Box box;
        std::vector<std::string> picture;
    };
    // A 3 x 2 block at x 2..4, y 1..2 in an 8 x 4 mask, with a hole at (3, 1).
    const std::vector<Case> cases = {
        {"inside", 2, 1, false, 2, 1, {4, 2, 6, 3}, {"........", "........", "....#.#.", "....###."}},
        {"limited at the right", 6, 0, false, 3, 0, {5, 1, 7, 2}, {"........", ".....#.#", ".....###", "........"}},
        {"limited at the left and top", -5, -3, false, -2, -1, {0, 0, 2, 1}, {"#.#.....", "###.....", "........", "........"}},
        {"cut at the right", 4, 0, true, 4, 0, {6, 1, 7, 2}, {"........", "......#.", "......##", "........"}},
        {"cut at the bottom", 0, 2, true, 0, 2, {2, 3, 4, 3}, {"........", "........", "........", "..#.#..."}},
        {"no move", 0, 0, true, 0, 0, {2, 1, 4, 2}, {"........", "..#.#...", "..###...", "........"}},
        // Everything leaves the mask: nothing is left, and the box says so.
        {"cut by the width", 8, 0, true, 8, 0, kEmpty, std::vector<std::string>(4, "........")},
        {"cut far left", -100, 0, true, -100, 0, kEmpty, std::vector<std::string>(4, "........")},
        {"cut by INT_MAX", INT_MAX, INT_MIN, true, INT_MAX, INT_MIN, kEmpty, std::vector<std::string>(4, "........")},
        {"limited from INT_MIN", INT_MIN, INT_MAX, false, -2, 1, {0, 2, 2, 3}, {"........", "........", "#.#.....", "###....."}},
    };
    for (const Case& c : cases) {
        for (int bpp : {1, 8}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << bpp << " bits");
            TLXMask m;
            m.AllocBits(8, 4, bpp);
            for (int y = 1; y <= 2; y++)
                for (int x = 2; x <= 4; x++)
                    if (!(x == 3 && y == 1)) m.SetPixel(x, y, bpp == 8 ? 10 * x + y : 1);
            int dx = c.dx, dy = c.dy;
            m.MoveMask(dx, dy, c.cut);
            EXPECT_EQ(dx, c.wantDx);
            EXPECT_EQ(dy, c.wantDy);
            EXPECT_EQ(BoxOf(m), c.box);
            EXPECT_EQ(Picture(m), c.picture);
            if (bpp == 8 && c.box == (Box{4, 2, 6, 3})) {
                EXPECT_EQ(m.GetPixel(6, 3), 10 * 4 + 2);   // values travel with their pixels
            }
        }
    }
    // An empty mask does not move (and computes nothing from its MaxInt box).
    TLXMask m;
    m.AllocBits(8, 4, 1);
    int dx = 5, dy = -3;
    m.MoveMask(dx, dy, false);
    m.MoveMask(dx, dy, true);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(dx, 5);
    EXPECT_EQ(dy, -3);
    TLXMask none;
    none.MoveMask(dx, dy, false);
    EXPECT_TRUE(none.IsEmpty());
}

TEST(LxMask, AssignCopiesEverything) {
    TLXMask a, b;
    a.AllocBits(9, 3, 8);
    a.Fill(255);
    a.SetPixel(4, 1, 255);
    b.Assign(&a);
    EXPECT_EQ(b.Width, 9);
    EXPECT_EQ(b.BitsPerPixel, 8);
    EXPECT_TRUE(b.Full);
    EXPECT_EQ(BoxOf(b), (Box{4, 1, 4, 1}));
    EXPECT_NE(b.Bits, a.Bits);
    EXPECT_EQ(std::memcmp(a.Bits, b.Bits, 27), 0);
    b.Assign(nullptr);
    b.Assign(&b);
    EXPECT_EQ(b.Width, 9);
    EXPECT_EQ(b.GetPixel(8, 2), 255);
}

// ---- drawing ----

std::vector<std::string> CanvasPicture(TBitmap& bmp, const std::map<TColor, char>& legend) {
    std::vector<std::string> rows;
    for (int y = 0; y < bmp.Height(); y++) {
        std::string r;
        for (int x = 0; x < bmp.Width(); x++) {
            const TColor c = bmp.Canvas()->Pixel(x, y);
            auto it = legend.find(c);
            r += it == legend.end() ? '?' : it->second;
        }
        rows.push_back(r);
    }
    return rows;
}

void FillBitmap(TBitmap& bmp, int w, int h, TColor c) {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(w, h);
    bmp.Canvas()->Brush()->SetColor(c);
    bmp.Canvas()->FillRect(Rect(0, 0, w, h));
}

TEST(LxMask, DrawInvertsUnderTheSelection) {
    const TColor bg = RGBColor(0x10, 0x20, 0x30), inv = RGBColor(0xEF, 0xDF, 0xCF);
    TLXMask m;
    m.AllocBits(6, 4, 1);
    const std::vector<std::string> pattern = {"#.....", "##....", "...#..", ".....#"};
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 6; x++)
            if (pattern[size_t(y)][size_t(x)] == '#') m.SetPixel(x, y, 1);
    TBitmap bmp;
    FillBitmap(bmp, 6, 4, bg);
    m.Draw(bmp.Canvas(), 0, 0, 6, 4, 0, 0, 6, 4);
    EXPECT_EQ(CanvasPicture(bmp, {{bg, '.'}, {inv, '#'}}), pattern);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biWidth, 6);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biHeight, 4);
    EXPECT_EQ(m.DrawInfo.bmiHeader.biSizeImage, 16u);
    m.Draw(bmp.Canvas(), 0, 0, 6, 4, 0, 0, 6, 4);   // XOR twice restores
    EXPECT_EQ(CanvasPicture(bmp, {{bg, '.'}, {inv, '#'}}), std::vector<std::string>(4, "......"));

    // A part of the mask counted from its top row: x 1..4, y 0..2.
    m.Draw(bmp.Canvas(), 1, 1, 4, 3, 1, 0, 4, 3);
    EXPECT_EQ(CanvasPicture(bmp, {{bg, '.'}, {inv, '#'}}),
              (std::vector<std::string>{"......", "......", ".#....", "...#.."}));

    // Nothing for an empty or an 8-bit mask.
    TBitmap other;
    FillBitmap(other, 6, 4, bg);
    TLXMask empty, alpha;
    empty.AllocBits(6, 4, 1);
    empty.Draw(other.Canvas(), 0, 0, 6, 4, 0, 0, 6, 4);
    alpha.AllocBits(6, 4, 8);
    alpha.Fill(255);
    alpha.SetPixel(1, 1, 255);
    alpha.Draw(other.Canvas(), 0, 0, 6, 4, 0, 0, 6, 4);
    m.Draw(nullptr, 0, 0, 6, 4, 0, 0, 6, 4);
    EXPECT_EQ(CanvasPicture(other, {{bg, '.'}}), std::vector<std::string>(4, "......"));
}

struct OutlineCase {
    const char* name;
    int maskW, maskH, rx1, ry1, rx2, ry2;   // filled rectangle, inclusive
    int sx, sy, sw, sh, outW, outH;
    std::vector<std::pair<int, int>> border;   // expected outline pixels (output coordinates)
};

std::vector<std::pair<int, int>> Ring(int x1, int y1, int x2, int y2) {
    std::vector<std::pair<int, int>> v;
    for (int y = y1; y <= y2; y++)
        for (int x = x1; x <= x2; x++)
            if (x == x1 || x == x2 || y == y1 || y == y2) v.push_back({x, y});
    return v;
}

TEST(LxMask, DrawOutlineDrawsOnlyTheBorderInStripes) {
    const std::vector<OutlineCase> cases = {
        {"1:1", 10, 10, 2, 2, 5, 5, 0, 0, 10, 10, 10, 10, Ring(2, 2, 5, 5)},
        {"2:1", 10, 10, 2, 2, 5, 5, 0, 0, 10, 10, 20, 20, Ring(4, 4, 11, 11)},
        {"1:2", 10, 10, 2, 2, 5, 5, 0, 0, 10, 10, 5, 5, Ring(1, 1, 2, 2)},
        // Wide enough for whole bytes of inside pixels.
        {"wide 1:1", 40, 30, 3, 2, 33, 20, 0, 0, 40, 30, 40, 30, Ring(3, 2, 33, 20)},
        {"wide 2:1", 40, 30, 3, 2, 33, 20, 0, 0, 40, 30, 80, 60, Ring(6, 4, 67, 41)},
        // The view starts inside the selection: its left and top edges are not outlined.
        {"view inside the box", 10, 10, 0, 0, 5, 5, 2, 2, 6, 6, 6, 6,
         {{3, 1}, {3, 2}, {1, 3}, {2, 3}, {3, 3}}},
        // The selection starts at the view's left edge.
        {"box at the view's edge", 10, 10, 0, 0, 3, 3, 0, 0, 10, 10, 10, 10, Ring(0, 0, 3, 3)},
    };
    const TColor bg = clWhite, c1 = clRed, c2 = clHighlight;
    for (const OutlineCase& c : cases) {
        for (int phase : {0, 1, 6}) {
            SCOPED_TRACE(testing::Message() << c.name << ", phase " << phase);
            TLXMask m;
            m.AllocBits(c.maskW, c.maskH, 1);
            for (int y = c.ry1; y <= c.ry2; y++) m.FillRow(1, c.rx1, y, c.rx2);
            m.SetPixel(c.rx1, c.ry1, 1);   // the box
            m.SetPixel(c.rx2, c.ry2, 1);
            const int xo = 3, yo = 2;
            TBitmap bmp;
            FillBitmap(bmp, c.outW + 6, c.outH + 4, bg);
            m.DrawOutline(bmp.Canvas(), xo, yo, c1, c2, phase, c.sx, c.sy, c.sw, c.sh, c.outW, c.outH);
            EXPECT_EQ(m.OutlineWidth, c.outW);
            EXPECT_EQ(m.OutlineHeight, c.outH);
            std::vector<std::string> want(size_t(bmp.Height()), std::string(size_t(bmp.Width()), '.'));
            for (auto [x, y] : c.border)
                want[size_t(y + yo)][size_t(x + xo)] = ((x + xo + y + yo + phase) & 4) == 0 ? '1' : '2';
            EXPECT_EQ(CanvasPicture(bmp, {{bg, '.'}, {ColorToRGB(c1), '1'}, {ColorToRGB(c2), '2'}}), want);
        }
    }
}

TEST(LxMask, DrawOutlineRefusesWhatItCannotDraw) {
    TLXMask m;
    m.AllocBits(10, 10, 1);
    TBitmap bmp;
    FillBitmap(bmp, 12, 12, clWhite);
    m.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 0, 0, 10, 10, 10, 10);   // empty box
    m.FillRow(1, 2, 3, 6);
    m.SetPixel(2, 3, 1);
    m.SetPixel(6, 3, 1);
    const std::vector<std::array<int, 4>> badSizes = {
        {0, 10, 10, 10}, {10, 0, 10, 10}, {10, 10, 0, 10}, {10, 10, 10, -1}, {-5, 10, 10, 10}};
    for (auto [sw, sh, ow, oh] : badSizes)
        m.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 0, 0, sw, sh, ow, oh);
    m.DrawOutline(nullptr, 0, 0, clRed, clBlue, 0, 0, 0, 10, 10, 10, 10);
    TLXMask alpha;
    alpha.AllocBits(10, 10, 8);
    alpha.SetPixel(3, 3, 255);
    alpha.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 0, 0, 10, 10, 10, 10);
    EXPECT_EQ(CanvasPicture(bmp, {{clWhite, '.'}}), std::vector<std::string>(12, std::string(12, '.')));

    // An extreme zoom (step below one 1/16384) and a source rectangle past the mask stay
    // inside their buffers.
    m.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 0, 0, 1, 1, 12, 12);
    m.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 5, 2, 40, 40, 12, 12);
    m.DrawOutline(bmp.Canvas(), -5, -5, clRed, clBlue, 0, -3, -3, 9, 9, 12, 12);
    // The buffer follows the output size.
    m.DrawOutline(bmp.Canvas(), 0, 0, clRed, clBlue, 0, 0, 0, 10, 10, 7, 5);
    EXPECT_EQ(m.OutlineWidth, 7);
    EXPECT_EQ(m.OutlineHeight, 5);
}

// ==================== view parameters and the processor test ====================

TEST(LxViewParams, DefaultsAndWheelDirection) {
    TLXScrollBarParams s;
    EXPECT_EQ(s.LineStep, -1);
    EXPECT_EQ(s.PageStep, -1);
    EXPECT_TRUE(s.Tracking);
    TLXMouseWheelParams w;
    EXPECT_FALSE(w.InvertDirection);
    EXPECT_EQ(w.Action, 2);
    EXPECT_EQ(w.Variation, 1);
    EXPECT_EQ(w.Value, 8);
    struct Case {
        int delta;
        bool invert;
        int dir;
    };
    for (const Case& c : {Case{120, false, -1}, {1, false, -1}, {0, false, 1}, {-120, false, 1},
                          {120, true, 1}, {-240, true, -1}}) {
        w.InvertDirection = c.invert;
        EXPECT_EQ(w.Direction(c.delta), c.dir) << c.delta << " " << c.invert;
    }
}

TEST(LxViewParams, ProcessorTest) {
#if defined(__x86_64__)
    EXPECT_TRUE(LXHasMMX());   // every x86-64 processor has MMX
#else
    (void)LXHasMMX();
#endif
}

}  // namespace
