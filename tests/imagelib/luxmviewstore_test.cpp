// The thumbnail view's image store: the worked placement sequence, pixel round trips, the
// temporary file that never outlives the process, a full disk and a failing mapping.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A full disk: the file-size limit stands in for it. The add fails cleanly, and the process
// is never killed by SIGBUS from a write into a block that was never allocated.
TEST(ImageStore, FullDiskFailsTheAdd) {
    lxtest::TempDir dir;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);   // report EFBIG instead of ending the process
        rlimit lim{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &lim);
        TLXVirtualDIBList store(dir.Path());
        int code = 0;
        if (!store.AddBlankImage(100, 100, 24)) code = 1;     // fits in the first step
        TBitmap big;
        big.SetPixelFormat(pf24bit);
        big.SetSize(1000, 1000);                              // 3 MB: beyond the limit
        if (store.AddBitmap(&big) != nullptr) code = 2;
        if (store.ImageCount() != 1) code = 3;
        // The store goes on working within the limit.
        TImage* small = store.AddBlankImage(50, 50, 24);
        if (!small || store.ImageWidth(small) != 50) code = 4;
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
