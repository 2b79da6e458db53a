// Writes language files value by value as the format lays them out: one tag byte, then the
// value's bytes, little-endian. Written from the file layout alone, apart from the reader.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

class LngWriter {
public:
    // Integers: tag 2 (1 byte), 3 (2 bytes) or 4 (4 bytes); 0 takes the smallest that holds v.
    LngWriter& Int(int32_t v, int tag = 0) {
        if (tag == 0) tag = v >= -128 && v <= 127 ? 2 : v >= -32768 && v <= 32767 ? 3 : 4;
        out_ += char(tag);
        const int n = tag == 2 ? 1 : tag == 3 ? 2 : 4;
        for (int i = 0; i < n; ++i) out_ += char(uint32_t(v) >> (8 * i));
        return *this;
    }
    // Strings: tag 6 (1-byte length) or 12 (4-byte length); Length overrides the real one.
    LngWriter& Str(const std::string& s, int tag = 6, int64_t length = -1) {
        const uint32_t l = length < 0 ? uint32_t(s.size()) : uint32_t(length);
        out_ += char(tag);
        const int n = tag == 6 ? 1 : 4;
        for (int i = 0; i < n; ++i) out_ += char(l >> (8 * i));
        out_ += s;
        return *this;
    }
    LngWriter& Raw(const std::string& bytes) {
        out_ += bytes;
        return *this;
    }
    // Magic, version, font name, size, character set, language name, a string and an
    // integer nobody reads, and the entry count.
    LngWriter& Header(int32_t count, int charset = 1, int strTag = 6, int intTag = 0) {
        return Str("GDLF", strTag).Int(1, intTag).Str("MS Sans Serif", strTag).Int(8, intTag).Int(charset, intTag)
            .Str("Lang", strTag).Str("", strTag).Int(0, intTag).Int(count, intTag);
    }
    LngWriter& Entry(const std::string& id, const std::string& text, int strTag = 6, int intTag = 0) {
        return Str(id, strTag).Str(text, strTag).Str("Form1", strTag).Str("", strTag).Int(0, intTag);
    }
    const std::string& Bytes() const { return out_; }
    void Save(const std::string& path) const { std::ofstream(path, std::ios::binary) << out_; }

private:
    std::string out_;
};
