#include "FuzzBlocks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "ScrnSave.h"
#include "exedata.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Decoded text is UTF-8, so decoding it again changes nothing.
void CheckText(const std::string& s) { Check(DecodePayloadText(s) == s); }

void CheckSettings(const TPlayerSettings& p, const TPayloadTexts& t) {
    Check(p.PhotoCount >= 0 && p.PhotoCount <= kMaxPhotoCount);
    CheckText(p.AboutText);
    CheckText(p.NameFont);
    CheckText(p.MusicName);
    for (const auto& s : t) CheckText(s);
}

}  // namespace

int FuzzPlayerBlocks(const uint8_t* Data, size_t Size) {
    // The reader takes a file name: an in-memory file reached through /proc keeps the runs fast.
    static const int fd = ::memfd_create("gdfuzz", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    if (::ftruncate(fd, 0) != 0) std::abort();
    if (Size > 0 && ::pwrite(fd, Data, Size, 0) != ssize_t(Size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    TMemoryStream ms;
    for (int k : {0, 1, 2, 3, 4, 9, INT_MAX, -1, INT_MIN}) {
        if (!ReadAppendedBlock(path, k, &ms)) continue;
        Check(k >= 0);
        Check(ms.Size() + 12 <= int64_t(Size));
        Check(ms.Position() == ms.Size());
        ms.SetPosition(0);
        if (k == 0) {
            TPlayerSettings p;
            TPayloadTexts t;
            ParsePayloadSettings(&ms, p, t);
            CheckSettings(p, t);
        } else if (k >= 2) {
            try {
                CheckText(DecodePayloadText(ReadPayloadString(&ms)));
                ReadPayloadString(&ms);
            } catch (const EReadError&) {
            }
            Check(ms.Position() <= ms.Size());
        }
    }

    // The record parser on the raw bytes as well, so it sees every input.
    TMemoryStream raw;
    if (Size > 0) raw.WriteBuffer(Data, int64_t(Size));
    raw.SetPosition(0);
    TPlayerSettings p;
    TPayloadTexts t;
    ParsePayloadSettings(&raw, p, t);
    CheckSettings(p, t);
    return 0;
}
