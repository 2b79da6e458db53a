// A photo of known colours for the viewer's tests: a 24-bit BMP whose quadrants are red (top
// left), blue (top right), green (bottom left) and white (bottom right).
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

inline void WriteQuadrants(const std::string& path, int w, int h) {
    const uint32_t row = uint32_t((w * 3 + 3) & ~3);
    std::string o = "BM";
    auto le32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) o += char(v >> (8 * i)); };
    auto le16 = [&](uint16_t v) { o += char(v), o += char(v >> 8); };
    le32(54 + row * uint32_t(h)), le32(0), le32(54), le32(40), le32(uint32_t(w)), le32(uint32_t(h)), le16(1);
    le16(24), le32(0), le32(row * uint32_t(h)), le32(2835), le32(2835), le32(0), le32(0);
    for (int y = h - 1; y >= 0; --y) {   // bottom-up
        std::string r;
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            r.append(!right && !bottom ? "\x00\x00\xFF" : right && !bottom ? "\xFF\x00\x00"
                     : !right          ? "\x00\xFF\x00" : "\xFF\xFF\xFF", 3);
        }
        r.resize(row, '\0');
        o += r;
    }
    std::ofstream(path, std::ios::binary) << o;
}
