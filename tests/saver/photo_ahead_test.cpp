// The show's decode-ahead on a real image view: a photo decoded on the worker and handed
// over leaves the view exactly as the view's own load of the same block does (pixels, alpha,
// background, resolution, parameters), whatever the view held before; a block not asked for,
// a missing or undecodable block, and a discarded job hand nothing over.
#include <gtest/gtest.h>

#include <QApplication>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <thread>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "../imagelib/ManyScanJpeg.h"
#include "LuxImage.h"
#include "PhotoAhead.h"

namespace {

std::string Fixture(const std::string& rel) {
    std::ifstream in(std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + rel, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// "P<i>", built in steps (g++ 12 warns falsely on a literal + to_string).
std::string Pn(size_t i) {
    std::string s = "P";
    s += std::to_string(i);
    return s;
}

std::string LE32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Block(const std::string& name, const std::string& image) {
    return LE32(uint32_t(name.size())) + name + LE32(2) + "cc" + image;
}

// Blocks the worker reads; the lock keeps the map safe while the test thread changes it.
struct Blocks {
    std::mutex lock;
    std::map<int, std::string> data;
    std::unique_ptr<TStream> Open(int K) {
        std::lock_guard<std::mutex> g(lock);
        auto it = data.find(K);
        if (it == data.end()) return nullptr;
        auto s = std::make_unique<TMemoryStream>();
        s->WriteBuffer(it->second.data(), int64_t(it->second.size()));
        s->SetPosition(0);
        return s;
    }
};

std::unique_ptr<TLuxImage> MakeView() {
    auto v = std::make_unique<TLuxImage>(nullptr);
    v->SetBackground(RGBColor(1, 2, 3));
    v->SetAutoUndo(false);
    return v;
}

// What a load leaves in the view.
std::string State(TLuxImage* v) {
    std::ostringstream o;
    TBitmap* b = v->GetBitmap();
    o << b->Width() << "x" << b->Height() << " pf" << int(b->PixelFormat()) << " bg " << v->Background() << " dpi "
      << v->DpiX() << "," << v->DpiY() << " type " << v->Params()->FileType << " " << v->Params()->Width << "x"
      << v->Params()->Height << " bps " << v->Params()->BitsPerSample << " spp " << v->Params()->SamplesPerPixel;
    std::string px(reinterpret_cast<const char*>(b->PixelBlock()), size_t(b->ImageSize()));
    o << " px " << std::hash<std::string>()(px);
    TLXMask* m = v->GetAlphaMask();
    o << " mask " << m->Width << "x" << m->Height << "/" << m->BitsPerPixel << " full " << m->Full;
    if (m->Bits) o << " " << std::hash<std::string>()(std::string(reinterpret_cast<const char*>(m->Bits), size_t(m->RowLength) * m->Height));
    return o.str();
}

// Take never waits; a tick looks again until the worker is done. Watchdog: a minute.
TAheadStatus WaitDone(TPhotoAhead& Ahead, int K) {
    for (int i = 0; i < 60000; ++i) {
        const TAheadStatus st = Ahead.Status(K);
        if (st != TAheadStatus::Working) return st;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return TAheadStatus::Working;
}

void LoadDirect(TLuxImage* v, const std::string& block) {
    std::string name, comment;
    size_t offset = 0;
    ASSERT_TRUE(ReadPhotoHeader(block, name, comment, offset));
    TPointerStream s(block.data() + offset, int64_t(block.size() - offset));
    v->LoadFromStream(&s);
    ASSERT_FALSE(v->IO()->Aborting);
}

TEST(PhotoAhead, HandsOverWhatTheViewsOwnLoadGives) {
    const std::vector<std::string> files = {"jpeg/baseline.jpg", "png/rgba8_bkgd.png", "png/rgb8_phys.png",
                                            "bmp/gen_rle8_delta.bmp", "tiff/fx_bilevel_g3.tif", "jpeg/grey.jpg"};
    Blocks blocks;
    for (size_t i = 0; i < files.size(); ++i) blocks.data[int(i) + 2] = Block(Pn(i), Fixture(files[i]));
    // Every photo after every other one: what the view held before must not show through.
    for (size_t before = 0; before < files.size(); ++before)
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[before] + " then " + files[i]);
            auto direct = MakeView(), viaAhead = MakeView();
            LoadDirect(direct.get(), blocks.data[int(before) + 2]);
            LoadDirect(viaAhead.get(), blocks.data[int(before) + 2]);
            LoadDirect(direct.get(), blocks.data[int(i) + 2]);

            TPhotoAhead ahead(viaAhead.get(), [&](int K) { return blocks.Open(K); });
            ahead.Start(int(i) + 2);
            std::string name, comment;
            int w = 0, h = 0;
            ASSERT_EQ(WaitDone(ahead, int(i) + 2), TAheadStatus::Ready);
            ASSERT_TRUE(ahead.Take(int(i) + 2, name, comment, w, h));
            EXPECT_EQ(name, Pn(i));
            EXPECT_EQ(comment, "cc");
            EXPECT_EQ(w, direct->GetBitmap()->Width());
            EXPECT_EQ(h, direct->GetBitmap()->Height());
            EXPECT_EQ(State(viaAhead.get()), State(direct.get()));
        }
}

TEST(PhotoAhead, HandsOverNothingItWasNotAskedFor) {
    Blocks blocks;
    blocks.data[2] = Block("good", Fixture("jpeg/baseline.jpg"));
    blocks.data[3] = Block("bad", "not a picture at all");
    blocks.data[4] = LE32(99) + "short";
    auto view = MakeView();
    LoadDirect(view.get(), Block("png", Fixture("png/rgba8.png")));
    const std::string before = State(view.get());
    TPhotoAhead ahead(view.get(), [&](int K) { return blocks.Open(K); });
    std::string name, comment;
    int w = 0, h = 0;
    struct Case {
        const char* what;
        std::function<void()> prepare;
        int take;
        TAheadStatus status;
    };
    const std::vector<Case> cases = {
        {"nothing started", [] {}, 2, TAheadStatus::None},
        {"another block started", [&] { ahead.Start(2); }, 5, TAheadStatus::None},
        {"discarded", [&] { ahead.Start(2); ahead.Discard(); }, 2, TAheadStatus::None},
        {"undecodable", [&] { ahead.Start(3); }, 3, TAheadStatus::Failed},
        {"its strings do not fit", [&] { ahead.Start(4); }, 4, TAheadStatus::Failed},
        {"missing", [&] { ahead.Start(9); }, 9, TAheadStatus::Missing},
        {"started on one, then on another", [&] { ahead.Start(2); ahead.Start(3); }, 2, TAheadStatus::None},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        k.prepare();
        EXPECT_EQ(WaitDone(ahead, k.take), k.status);
        EXPECT_FALSE(ahead.Take(k.take, name, comment, w, h));
        EXPECT_EQ(State(view.get()), before);
    }
    // A new start after all that still works; asking twice hands over once.
    ahead.Start(2);
    EXPECT_EQ(WaitDone(ahead, 2), TAheadStatus::Ready);
    EXPECT_TRUE(ahead.Take(2, name, comment, w, h));
    EXPECT_EQ(name, "good");
    EXPECT_FALSE(ahead.Take(2, name, comment, w, h));
}

TEST(PhotoAhead, AStartReplacesTheJobInWork) {
    // A large photo keeps the worker busy while the next start cancels it.
    TBitmap big;
    big.SetPixelFormat(pf24bit);
    big.SetSize(3000, 2000);
    for (int y = 0; y < 2000; ++y) {
        uint8_t* r = big.ScanLine(y);
        for (int x = 0; x < 9000; ++x) r[x] = uint8_t((x * 7 + y * 13) & 255);
    }
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&big);
    TMemoryStream ms;
    io.SaveToStreamFormat(&ms, lxftJPEG);
    Blocks blocks;
    blocks.data[2] = Block("big", std::string(reinterpret_cast<const char*>(ms.Memory()), size_t(ms.Size())));
    blocks.data[3] = Block("small", Fixture("jpeg/baseline.jpg"));
    auto view = MakeView(), direct = MakeView();
    LoadDirect(direct.get(), blocks.data[3]);
    TPhotoAhead ahead(view.get(), [&](int K) { return blocks.Open(K); });
    for (int round = 0; round < 5; ++round) {
        ahead.Start(2);
        ahead.Start(3);
        std::string name, comment;
        int w = 0, h = 0;
        ASSERT_EQ(WaitDone(ahead, 3), TAheadStatus::Ready);
        ASSERT_TRUE(ahead.Take(3, name, comment, w, h));
        EXPECT_EQ(name, "small");
        EXPECT_EQ(State(view.get()), State(direct.get()));
        EXPECT_FALSE(ahead.Busy());
    }
}

// A photo block handed out 1 KB a read; the first read from 8 KB on, inside the JPEG's first
// scan, waits until the test lets it go. The counts outlive the stream, which the worker frees.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    int readsAfter = 0;
    bool gated = false, released = false;
    void Release() {
        std::lock_guard<std::mutex> g(lock);
        released = true;
        changed.notify_all();
    }
    bool Gated() {
        std::lock_guard<std::mutex> g(lock);
        return gated;
    }
};

class GatedStream : public TStream {
public:
    GatedStream(const std::string& Data, std::shared_ptr<Gate> G) : data_(Data), gate_(std::move(G)) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        {
            std::unique_lock<std::mutex> lk(gate_->lock);
            if (pos_ >= 8192 && !gate_->gated) {
                gate_->gated = true;
                gate_->changed.notify_all();
                gate_->changed.wait(lk, [&] { return gate_->released; });
            } else if (gate_->released) {
                ++gate_->readsAfter;
            }
        }
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>({Count, 1024, int64_t(data_.size()) - pos_}));
        std::memcpy(Buffer, data_.data() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        pos_ = Origin == soBeginning ? Offset : Origin == soCurrent ? pos_ + Offset : int64_t(data_.size()) + Offset;
        return pos_;
    }

private:
    const std::string& data_;
    std::shared_ptr<Gate> gate_;
    int64_t pos_ = 0;
};

// A photo dropped while it is decoded (a key steps on, the show ends) stops where its decode
// is, also in the scans of a progressive file, which report no progress: it reads none of
// the rest of its block, and the next photo follows.
TEST(PhotoAhead, ADroppedDecodeStopsInTheScans) {
    // 4096 x 4096: its first scan alone is 32 KB, 32 reads.
    const std::vector<uint8_t> jpeg = many_scans::Make(4096, 4096, 100, many_scans::Kind::First, 128 << 10);
    const std::string slow = Block("slow", std::string(jpeg.begin(), jpeg.end()));
    Blocks blocks;
    blocks.data[3] = Block("small", Fixture("jpeg/baseline.jpg"));
    auto view = MakeView();
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "the decode-ahead destroyed" : "another photo started");
        auto gate = std::make_shared<Gate>();
        auto ahead = std::make_unique<TPhotoAhead>(view.get(), [&](int K) -> std::unique_ptr<TStream> {
            if (K != 2) return blocks.Open(K);
            return std::make_unique<GatedStream>(slow, gate);
        });
        ahead->Start(2);
        for (int i = 0; i < 60000 && !gate->Gated(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(gate->Gated());
        if (destroy) {
            // The destructor cancels, then waits for the worker, which the gate holds a moment.
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                gate->Release();
            });
            ahead.reset();
            later.join();
        } else {
            ahead->Start(3);
            gate->Release();
            EXPECT_EQ(WaitDone(*ahead, 3), TAheadStatus::Ready);
            std::string name, comment;
            int w = 0, h = 0;
            EXPECT_TRUE(ahead->Take(3, name, comment, w, h));
            EXPECT_EQ(name, "small");
            EXPECT_EQ(ahead->Status(2), TAheadStatus::None);
            ahead.reset();
        }
        // Without the cancel the decode would read all its scans first: 30 more reads.
        std::lock_guard<std::mutex> g(gate->lock);
        EXPECT_LE(gate->readsAfter, 1);
    }
}

}  // namespace
