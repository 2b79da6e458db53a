// libFuzzer target: the music check on any bytes. It gives one verdict (a type or a reason,
// never both), and reads a bounded amount whatever the input: nothing of it is loaded whole
// or read over and over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "MusicCheck.h"

namespace {

class Counted : public gdpack::MemorySource {
public:
    using MemorySource::MemorySource;
    size_t Read(uint64_t Offset, uint8_t* Buf, size_t N) const override {
        read += N;
        return MemorySource::Read(Offset, Buf, N);
    }
    mutable uint64_t read = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Counted source(data, size);
    const gdpack::MusicVerdict v = gdpack::InspectMusic(source);
    if (!v.Type.empty() && !v.Problem.empty()) std::abort();
    if (source.read > (uint64_t(1) << 20)) std::abort();
    return 0;
}
