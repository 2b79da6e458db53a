// Writes Windows shortcut files from the published shell-link layout (header, item-id list,
// link info with a local base path, string data), for the reader's tests. The files are also
// checked with lnkinfo, an outside reader of the format.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

struct LnkSpec {
    std::string localBasePath;   // link info with a local path when not empty
    std::string suffix;          // common path suffix
    bool unicodeLinkInfo = false;
    std::string description, relativePath, workingDir, arguments, iconLocation;
    bool unicode = true;         // string data in UTF-16 (ASCII and Latin-1 here)
    bool idList = true;
    uint32_t showCommand = 1;
    uint16_t hotKey = 0;
    int32_t iconIndex = 0;
};

class LnkWriter {
public:
    static std::string Make(const LnkSpec& s) {
        uint32_t flags = 0;
        if (s.idList) flags |= 0x1;
        if (!s.localBasePath.empty()) flags |= 0x2;
        if (!s.description.empty()) flags |= 0x4;
        if (!s.relativePath.empty()) flags |= 0x8;
        if (!s.workingDir.empty()) flags |= 0x10;
        if (!s.arguments.empty()) flags |= 0x20;
        if (!s.iconLocation.empty()) flags |= 0x40;
        if (s.unicode) flags |= 0x80;
        std::string o;
        U32(o, 0x4C);
        const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
        o.append(reinterpret_cast<const char*>(clsid), 16);
        U32(o, flags);
        U32(o, 0x10);                               // a directory
        for (int i = 0; i < 3; ++i) U32(o, 0), U32(o, 0);   // three file times
        U32(o, 0);                                  // file size
        U32(o, uint32_t(s.iconIndex));
        U32(o, s.showCommand);
        U16(o, s.hotKey);
        U16(o, 0);
        U32(o, 0);
        U32(o, 0);
        if (s.idList) {
            // One shell item of "my computer" and the terminator.
            std::string items;
            U16(items, 20);
            items += "\x1F\x50";
            const uint8_t mycomputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                            0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
            items.append(reinterpret_cast<const char*>(mycomputer), 16);
            U16(items, 0);
            U16(o, uint16_t(items.size()));
            o += items;
        }
        if (!s.localBasePath.empty()) o += LinkInfo(s);
        for (const std::string* f : {&s.description, &s.relativePath, &s.workingDir, &s.arguments, &s.iconLocation}) {
            if (f->empty()) continue;
            U16(o, uint16_t(f->size()));
            for (char c : *f) {
                o += c;
                if (s.unicode) o += '\0';
            }
        }
        U32(o, 0);   // no extra data blocks
        return o;
    }
    static void Save(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

private:
    static void U16(std::string& o, uint16_t v) { o += char(v), o += char(v >> 8); }
    static void U32(std::string& o, uint32_t v) { U16(o, uint16_t(v)), U16(o, uint16_t(v >> 16)); }
    static std::string LinkInfo(const LnkSpec& s) {
        const uint32_t header = s.unicodeLinkInfo ? 0x24 : 0x1C;
        std::string volume;
        U32(volume, 0x15);   // VolumeIDSize: 16 bytes, then the label
        U32(volume, 3);      // fixed drive
        U32(volume, 0x1234); // serial
        U32(volume, 0x10);   // label offset
        volume += "DATA";
        volume += '\0';
        const uint32_t volumeAt = header;
        const uint32_t baseAt = volumeAt + uint32_t(volume.size());
        const uint32_t suffixAt = baseAt + uint32_t(s.localBasePath.size()) + 1;
        uint32_t end = suffixAt + uint32_t(s.suffix.size()) + 1;
        const uint32_t baseUAt = end, suffixUAt = baseUAt + 2 * uint32_t(s.localBasePath.size() + 1);
        if (s.unicodeLinkInfo) end = suffixUAt + 2 * uint32_t(s.suffix.size() + 1);
        std::string o;
        U32(o, end);
        U32(o, header);
        U32(o, 0x1);   // VolumeIDAndLocalBasePath
        U32(o, volumeAt);
        U32(o, baseAt);
        U32(o, 0);     // no network link
        U32(o, suffixAt);
        if (s.unicodeLinkInfo) U32(o, baseUAt), U32(o, suffixUAt);
        o += volume;
        o += s.localBasePath + '\0';
        o += s.suffix + '\0';
        if (s.unicodeLinkInfo)
            for (const std::string* t : {&s.localBasePath, &s.suffix}) {
                for (char c : *t) o += c, o += '\0';
                U16(o, 0);
            }
        return o;
    }
};
