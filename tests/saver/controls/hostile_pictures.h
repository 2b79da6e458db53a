// A help page naming one large picture through many spellings of its path: the picture is
// an all-zero RGBA PNG, a few kilobytes on disk for megabytes decoded (rows compressed one by
// one, so writing it never holds the decoded size).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace hostile {

inline void Put32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(char((v >> shift) & 0xFF));
}

inline std::string Chunk(const char* Type, const std::string& Data) {
    std::string c;
    Put32(c, uint32_t(Data.size()));
    const std::string body = std::string(Type, 4) + Data;
    c += body;
    Put32(c, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return c;
}

// A W x H 8-bit RGBA PNG, every pixel 0 (transparent black).
inline std::string ZeroPng(int W, int H) {
    std::string ihdr;
    Put32(ihdr, uint32_t(W));
    Put32(ihdr, uint32_t(H));
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    z_stream z{};
    deflateInit(&z, 9);
    const std::string row(size_t(1) + 4 * size_t(W), '\0');   // filter byte, then the pixels
    std::string idat;
    char out[1 << 16];
    for (int y = 0; y <= H; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = y < H ? uInt(row.size()) : 0;
        const int flush = y < H ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            deflate(&z, flush);
            idat.append(out, sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", idat) + Chunk("IEND", "");
}

inline void WriteFile(const std::string& Name, const std::string& Bytes) {
    std::ofstream(Name, std::ios::binary) << Bytes;
}

// Dir + "/" * k + Name for k = 1 .. Count, each as a 10 x 10 picture: Count spellings of
// one file.
inline std::string SpellingsPage(const std::string& Dir, const std::string& Name, int Count) {
    std::string page;
    for (int k = 1; k <= Count; ++k)
        page += "<IMG SRC=\"FILE://" + Dir + std::string(size_t(k), '/') + Name + "\" WIDTH=10 HEIGHT=10>";
    return page;
}

}  // namespace hostile
