// libFuzzer target: format detection and the I/O component's stream paths. The first input
// byte chooses how much other data stands before the image and whether stream headers are
// expected; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BMPFiltIco.h"
#include "BMPFiltPnm.h"
#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"
#include "lxtgafil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int prefix = data[0] & 0x3F;
    const bool headers = (data[0] & 0x40) != 0;
    TMemoryStream s;
    const std::vector<uint8_t> lead(size_t(prefix), 0x20);
    if (prefix) s.Write(lead.data(), prefix);
    if (size > 1) s.Write(data + 1, int64_t(size - 1));

    s.SetPosition(prefix);
    const int type = DetectStreamFormat(&s);
    if (s.Position() != prefix) __builtin_trap();
    ProbeIcoStream(&s);
    ProbeCurStream(&s);
    ProbeTgaStream(&s);
    ProbePnmStream(&s);
    if (s.Position() != prefix) __builtin_trap();

    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.StreamHeaders = headers;
    io.SetAttachedBitmap(&bitmap);
    // Loads from memory raise nothing: every failure is the abort flag.
    io.ParamsFromStream(&s);
    s.SetPosition(prefix);
    io.LoadFromStream(&s);
    s.SetPosition(prefix);
    io.LoadFromStreamFormat(&s, type == 0 ? (data[0] >> 7) + 3 : type);
    return 0;
}
