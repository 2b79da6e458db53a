// Loads one image file by name through the I/O component, as the viewer does: exit status 0
// when the picture was read, 1 when the load was refused. For whole-process timings.
//
//   imageio_load <file>
#include <cstdio>

#include "Graphics.h"
#include "LuxIO.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s file\n", argv[0]);
        return 2;
    }
    TBitmap bitmap;
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&bitmap);
    io.LoadFromFile(argv[1]);
    std::fprintf(stderr, "%s: %d x %d%s\n", argv[1], bitmap.Width(), bitmap.Height(),
                 io.Aborting ? ", refused" : "");
    return io.Aborting ? 1 : 0;
}
