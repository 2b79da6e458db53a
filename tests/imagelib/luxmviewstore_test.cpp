// The thumbnail view's image store: the worked placement sequence, pixel round trips, the
// temporary file that never outlives the process, a full disk and a failing mapping.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "Graphics.h"
#include "LuxMViewStore.h"
#include "lxutils.h"
#include "temp_dir.h"

namespace {

using TImage = TLXVirtualDIBList::TImage;

void Pattern(TBitmap& b, int w, int h, TPixelFormat pf, int seed) {
    b.SetPixelFormat(pf);
    b.SetSize(w, h);
    const int rb = RowBytes(w, PixelFormatBits(pf));
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < rb; ++i) b.ScanLine(y)[i] = uint8_t(i * 31 + y * 7 + seed);
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
    const int rb = RowBytes(a.Width(), PixelFormatBits(a.PixelFormat()));
    for (int y = 0; y < a.Height(); ++y) {
        if (PixelFormatBits(a.PixelFormat()) == 1) {
            // Only the pixels count, not the padding bits.
            for (int x = 0; x < a.Width(); ++x)
                if (GetBit(a.ScanLine(y), x) != GetBit(b.ScanLine(y), x)) return false;
        } else if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0) {
            return false;
        }
        (void)rb;
    }
    return true;
}

TEST(ImageStore, WorkedSequence) {
    lxtest::TempDir dir;
    TLXVirtualDIBList store(dir.Path());
    ASSERT_TRUE(store.FileOpen());
    EXPECT_EQ(store.FileSize(), 65536u);
    EXPECT_EQ(store.MaxMapped(), 10);
    store.SetMaxMapped(2);

    // 100 x 100 at 24 bits: 48 + 300 x 100 bytes in one block at 0; the file keeps its size.
    TImage* a = store.AddBlankImage(100, 100, 24);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Offset, 0u);
    EXPECT_EQ(a->DataSize, 30048u);
    EXPECT_EQ(a->MappedSize, 65536u);
    EXPECT_EQ(store.FileSize(), 65536u);
    // A second one makes the file grow by one step.
    TImage* b = store.AddBlankImage(100, 100, 24);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Offset, 65536u);
    EXPECT_EQ(store.FileSize(), 131072u);
    // 200000 bytes (four blocks) first raise the step to the last block plus these.
    TImage* c = store.AddBlankImage(400, 166, 24);   // 48 + 1200 x 166 = 199248
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->MappedSize, 262144u);
    EXPECT_EQ(store.GrowStep(), 327680u);
    EXPECT_EQ(c->Offset, 131072u);
    EXPECT_EQ(store.FileSize(), 131072u + 327680u);
    EXPECT_EQ(store.NextOffset(), 393216u);

    // The LRU with two mapped views: reading three in turn keeps the last two.
    EXPECT_EQ(store.ImageWidth(a), 100);
    EXPECT_EQ(store.ImageWidth(b), 100);
    EXPECT_EQ(store.ImageWidth(c), 400);
    EXPECT_EQ(store.MappedCount(), 2);
    EXPECT_FALSE(store.IsMapped(a));
    EXPECT_TRUE(store.IsMapped(b));
    EXPECT_TRUE(store.IsMapped(c));
    // Reading the first again unmaps the second.
    EXPECT_EQ(store.ImageHeight(a), 100);
    EXPECT_TRUE(store.IsMapped(a));
    EXPECT_FALSE(store.IsMapped(b));
    EXPECT_TRUE(store.IsMapped(c));

    // A freed block is reused by an image of the same or a smaller size.
    store.DeleteImage(b);
    EXPECT_EQ(store.FreeBlockCount(), 1);
    TImage* d = store.AddBlankImage(50, 50, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Offset, 65536u);
    EXPECT_EQ(store.FreeBlockCount(), 0);
    // After a growth a freed block is forgotten.
    store.DeleteImage(d);
    TImage* big = store.AddBlankImage(1000, 1000, 24);   // 3 MB: the file grows
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(store.FreeBlockCount(), 0);
    TImage* e = store.AddBlankImage(10, 10, 24);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e->Offset, 65536u);

    // Check-out: the same bitmap twice, freed only by the second release.
    TBitmap* bmp = store.GetBitmap(a);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(store.GetBitmap(a), bmp);
    EXPECT_EQ(store.CheckedOutCount(a), 2);
    EXPECT_TRUE(a->IsCheckedOut);
    store.ReleaseBitmap(bmp, false);
    EXPECT_EQ(store.CheckedOutCount(a), 1);
    // A change of size written back places the image anew.
    bmp->SetSize(300, 300);
    const uint64_t before = a->Offset;
    store.ReleaseBitmap(bmp, true);
    EXPECT_FALSE(a->IsCheckedOut);
    EXPECT_EQ(store.CheckedOutCount(a), 0);
    EXPECT_NE(a->Offset, before);
    EXPECT_EQ(store.ImageWidth(a), 300);
    store.ReleaseBitmap(nullptr, true);   // unknown bitmaps and null are ignored
    TBitmap stranger;
    store.ReleaseBitmap(&stranger, true);

    // Deleting the last image shrinks the file to one step and starts again at 0.
    for (TImage* i : {a, c, big, e}) store.DeleteImage(i);
    EXPECT_EQ(store.ImageCount(), 0);
    EXPECT_EQ(store.FileSize(), store.GrowStep());
    TImage* again = store.AddBlankImage(10, 10, 24);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Offset, 0u);
}

TEST(ImageStore, RoundTrips) {
    lxtest::TempDir dir;
    TLXVirtualDIBList store(dir.Path());
    store.SetMaxMapped(1);   // every read maps anew
    struct Case {
        int w, h;
        TPixelFormat pf;
    };
    for (const Case& c : {Case{13, 7, pf1bit}, Case{33, 5, pf1bit}, Case{17, 9, pf24bit}, Case{1, 1, pf24bit}}) {
        TBitmap src, back;
        Pattern(src, c.w, c.h, c.pf, c.w);
        TImage* img = store.AddBitmap(&src);
        ASSERT_NE(img, nullptr);
        store.AddBlankImage(5, 5, 24);   // something else in between
        EXPECT_EQ(store.ImageBitCount(img), PixelFormatBits(c.pf));
        const BITMAPINFOHEADER* info = store.ImageBitmapInfo(img);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->biSize, 40u);
        EXPECT_EQ(info->biWidth, c.w);
        EXPECT_EQ(info->biHeight, c.h);
        EXPECT_EQ(info->biPlanes, 1);
        // The two palette entries follow the header: black, white.
        const uint8_t* pal = reinterpret_cast<const uint8_t*>(info) + 40;
        EXPECT_EQ(pal[0] | pal[1] | pal[2], 0);
        EXPECT_EQ(pal[4] & pal[5] & pal[6], 255);
        back.SetPixelFormat(pf24bit);
        store.CopyToBitmap(img, &back);
        EXPECT_TRUE(SamePixels(src, back)) << c.w << "x" << c.h;
        // The bottom-up block: its first row is the bitmap's last.
        const uint8_t* bits = store.ImageBits(img);
        ASSERT_NE(bits, nullptr);
        EXPECT_EQ(std::memcmp(bits, src.ScanLine(c.h - 1), size_t(RowBytes(c.w, PixelFormatBits(c.pf)))), 0);
        // Checked out and changed, written back.
        TBitmap* out = store.GetBitmap(img);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(SamePixels(src, *out));
        out->ScanLine(0)[0] ^= 0xFF;
        TBitmap expect;
        expect.Assign(out);
        store.ReleaseBitmap(out, true);
        store.CopyToBitmap(img, &back);
        EXPECT_TRUE(SamePixels(expect, back));
    }
    // Sizes that cannot be stored are refused, not wrapped.
    EXPECT_EQ(store.AddBlankImage(1 << 30, 4, 24), nullptr);
    EXPECT_EQ(store.AddBlankImage(-1, 4, 24), nullptr);
    EXPECT_EQ(store.AddBlankImage(4, 4, 7), nullptr);
}

TEST(ImageStore, LeavesNoFileBehind) {
    lxtest::TempDir dir;
    {
        TLXVirtualDIBList store(dir.Path());
        ASSERT_NE(store.AddBlankImage(64, 64, 24), nullptr);
        // Unlinked at once: not even a running store shows a file.
        EXPECT_TRUE(dir.Names().empty());
    }
    EXPECT_TRUE(dir.Names().empty());
    // A process killed while it holds a store leaves nothing either.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        TLXVirtualDIBList store(dir.Path());
        const bool ok = store.AddBlankImage(64, 64, 24) != nullptr;
        (void)!write(ready[1], ok ? "y" : "n", 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(dir.Names().empty());
}

// The file is never named in its folder: no event there from making a store, filling it and
// freeing it, so no kill at any moment can leave a file behind.
TEST(ImageStore, TheFileIsNeverNamed) {
    lxtest::TempDir dir;
    const int probe = ::open(dir.Path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (probe < 0) GTEST_SKIP() << "no unnamed files on this file system: the named fallback is used";
    ::close(probe);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.Path().c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE), 0);
    {
        TLXVirtualDIBList store(dir.Path());
        ASSERT_TRUE(store.FileOpen());
        TImage* a = store.AddBlankImage(1000, 1000, 24);   // grows the file
        ASSERT_NE(a, nullptr);
        store.DeleteImage(a);                              // shrinks it
    }
    char events[4096];
    const ssize_t n = read(watch, events, sizeof events);
    EXPECT_EQ(n, -1) << "the folder saw a name";
    EXPECT_EQ(errno, EAGAIN);
    close(watch);
}

// Stores killed at many moments of their life (being made, growing, freed) leave nothing.
TEST(ImageStore, KilledStoresLeaveNoFile) {
    lxtest::TempDir dir;
    for (int i = 0; i < 50; ++i) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            for (int round = 0;; ++round) {
                TLXVirtualDIBList store(dir.Path());
                store.AddBlankImage(100 + round % 7, 100, 24);
                if (round == i) (void)!write(ready[1], "y", 1);   // killed somewhere after this
            }
        }
        close(ready[1]);
        char answer = 0;
        ASSERT_EQ(read(ready[0], &answer, 1), 1);
        close(ready[0]);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
        ASSERT_TRUE(dir.Names().empty()) << "after kill " << i;
    }
}

// A full disk: the file-size limit stands in for it (SIGXFSZ ignored, as the programs do).
// Each case runs in a child; the store refuses what does not fit and is never killed by
// SIGBUS from a write into a block that was never allocated.
int InChildWithFileLimit(rlim_t Limit, int (*Body)(const std::string&), const std::string& Dir) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);   // report EFBIG instead of ending the process
        rlimit lim{Limit, Limit};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(Body(Dir));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes every byte of every image through its mapping: SIGBUS where a block is missing.
bool TouchAll(TLXVirtualDIBList& store, const std::vector<TImage*>& images) {
    for (TImage* img : images) {
        uint8_t* bits = store.ImageBits(img);
        if (!bits) return false;
        std::memset(bits, 0x5A, size_t(img->DataSize - TLXVirtualDIBList::HeaderSize));
    }
    return true;
}

TEST(ImageStore, FullDiskFailsCleanly) {
    lxtest::TempDir dir;
    struct Case {
        const char* name;
        rlim_t limit;
        int (*body)(const std::string&);
    };
    const Case cases[] = {
        {"no room for the first block", 32 << 10,
         [](const std::string& d) {
             TLXVirtualDIBList store(d);
             if (store.AddBlankImage(100, 100, 24) != nullptr) return 1;   // SIGBUS here before
             if (store.FileOpen() || store.FileSize() != 0) return 2;
             TBitmap small;
             small.SetPixelFormat(pf24bit);
             small.SetSize(10, 10);
             if (store.AddBitmap(&small) != nullptr) return 3;
             if (store.ImageCount() != 0 || store.MappedCount() != 0) return 4;
             return 0;
         }},
        {"growth beyond the limit", 1 << 20,
         [](const std::string& d) {
             TLXVirtualDIBList store(d);
             TImage* first = store.AddBlankImage(100, 100, 24);   // fits in the first step
             if (!first) return 1;
             TBitmap big;
             big.SetPixelFormat(pf24bit);
             big.SetSize(1000, 1000);   // 3 MB
             const uint64_t size = store.FileSize();
             if (store.AddBitmap(&big) != nullptr) return 2;
             if (store.ImageCount() != 1 || store.FileSize() != size) return 3;
             // The store goes on working within the limit, every block really there.
             std::vector<TImage*> all{first};
             for (int i = 0; i < 8; ++i) {
                 TImage* img = store.AddBlankImage(100, 100, 24);
                 if (!img) break;
                 all.push_back(img);
             }
             if (all.size() < 4) return 4;
             store.SetMaxMapped(1);
             return TouchAll(store, all) ? 0 : 5;
         }},
        {"a checked-out picture written back larger", 1 << 20,
         [](const std::string& d) {
             TLXVirtualDIBList store(d);
             TBitmap src;
             Pattern(src, 20, 20, pf24bit, 3);
             TImage* img = store.AddBitmap(&src);
             if (!img) return 1;
             TBitmap* out = store.GetBitmap(img);
             if (!out) return 2;
             out->SetSize(1000, 1000);   // 3 MB: cannot be placed
             if (store.StoreBitmap(img, out)) return 3;
             store.ReleaseBitmap(out, true);
             // The image keeps its old place and content.
             TBitmap back;
             store.CopyToBitmap(img, &back);
             if (!SamePixels(src, back)) return 4;
             return TouchAll(store, {img}) ? 0 : 5;
         }},
        {"emptied and filled again", 1 << 20,
         [](const std::string& d) {
             TLXVirtualDIBList store(d);
             std::vector<TImage*> all;
             for (TImage* img; (img = store.AddBlankImage(200, 200, 24)) != nullptr && all.size() < 100;) all.push_back(img);
             if (all.size() < 2 || all.size() >= 100) return 1;   // stopped by the limit
             for (TImage* img : all) store.DeleteImage(img);
             if (store.FileSize() != store.GrowStep()) return 2;
             all.clear();
             for (TImage* img; (img = store.AddBlankImage(200, 200, 24)) != nullptr && all.size() < 100;) all.push_back(img);
             if (all.size() < 2) return 3;
             store.SetMaxMapped(2);
             return TouchAll(store, all) ? 0 : 4;
         }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InChildWithFileLimit(c.limit, c.body, dir.Path()), 0) << c.name << " (1000 + n: signal n)";
        EXPECT_TRUE(dir.Names().empty()) << c.name;
    }
}

// A mapping that fails makes the add fail and gives the block back: no two images ever
// share a file area.
class TFailingStore : public TLXVirtualDIBList {
public:
    using TLXVirtualDIBList::TLXVirtualDIBList;
    int failNext = 0;

protected:
    uint8_t* MapView(int Fd, uint64_t Offset, uint64_t Size) override {
        if (failNext > 0) {
            --failNext;
            return nullptr;
        }
        return TLXVirtualDIBList::MapView(Fd, Offset, Size);
    }
};

TEST(ImageStore, FailedMappingSharesNoArea) {
    lxtest::TempDir dir;
    TFailingStore store(dir.Path());
    TImage* a = store.AddBlankImage(10, 10, 24);
    ASSERT_NE(a, nullptr);
    store.failNext = 1;
    EXPECT_EQ(store.AddBlankImage(10, 10, 24), nullptr);
    TImage* b = store.AddBlankImage(10, 10, 24);
    ASSERT_NE(b, nullptr);
    // A freed block that could not be mapped stays free for the next one.
    store.DeleteImage(a);
    store.failNext = 1;
    EXPECT_EQ(store.AddBlankImage(10, 10, 24), nullptr);
    TImage* c = store.AddBlankImage(10, 10, 24);
    ASSERT_NE(c, nullptr);
    std::set<uint64_t> offsets{b->Offset, c->Offset};
    EXPECT_EQ(offsets.size(), 2u);
    EXPECT_EQ(c->Offset, 0u);
    // An image that cannot be mapped reads as empty.
    store.SetMaxMapped(1);
    ASSERT_NE(store.AddBlankImage(10, 10, 24), nullptr);   // maps it alone
    EXPECT_FALSE(store.IsMapped(b));
    store.failNext = 1;
    EXPECT_EQ(store.ImageWidth(b), 0);
    store.failNext = 1;
    EXPECT_EQ(store.GetBitmap(b), nullptr);
    store.failNext = 1;
    EXPECT_EQ(store.ImageBits(b), nullptr);
}

}  // namespace
