// Small helpers of the codec tests: files, PPM references, pixels, streams.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

inline std::string FixtureDir(const std::string& fmt) {
    return std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + fmt + "/";
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

struct Ppm {
    int w = 0, h = 0;
    Bytes rgb;   // R, G, B, rows from the top
    TRGB At(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
        return TRGB{p[2], p[1], p[0]};
    }
};

// Binary P6 with maxval 255.
inline Ppm ReadPpm(const std::string& path) {
    const Bytes d = ReadFile(path);
    Ppm p;
    size_t i = 0;
    auto token = [&] {
        std::string t;
        while (i < d.size()) {
            if (d[i] == '#') {
                while (i < d.size() && d[i] != '\n') ++i;
            } else if (isspace(d[i])) {
                if (!t.empty()) break;
                ++i;
            } else {
                t += char(d[i++]);
            }
        }
        return t;
    };
    if (token() != "P6") return p;
    p.w = std::stoi(token());
    p.h = std::stoi(token());
    if (std::stoi(token()) != 255) return Ppm{};
    ++i;
    p.rgb.assign(d.begin() + long(i), d.end());
    if (p.rgb.size() != size_t(p.w) * size_t(p.h) * 3) return Ppm{};
    return p;
}

inline void StreamOf(const Bytes& data, TMemoryStream& s) {
    s.Clear();
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
}

inline Bytes StreamBytes(TMemoryStream& s) {
    return Bytes(s.Memory(), s.Memory() + s.Size());
}

// Pixel at (x, y), y from the top; pf1bit set bits are white.
inline TRGB PixelOf(const TBitmap& b, int x, int y) {
    const uint8_t* row = b.ScanLine(y);
    if (b.PixelFormat() == pf1bit)
        return (row[x >> 3] & (0x80 >> (x & 7))) ? TRGB{255, 255, 255} : TRGB{0, 0, 0};
    return TRGB{row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
}

// Every pixel equal to the reference; reports the first difference.
inline void ExpectSamePixels(const TBitmap& b, const Ppm& ref, const std::string& what) {
    ASSERT_EQ(b.Width(), ref.w) << what;
    ASSERT_EQ(b.Height(), ref.h) << what;
    for (int y = 0; y < ref.h; ++y)
        for (int x = 0; x < ref.w; ++x)
            if (!(PixelOf(b, x, y) == ref.At(x, y))) {
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " differs";
                return;
            }
}

// A pf24bit picture with a smooth pattern (colours <= 0: many colours; else that many).
inline void FillPicture(TBitmap& b, int w, int h, int colours) {
    b.SetSize(1, 1);
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            int v = x * 7 + y * 13;
            if (colours > 0) v = (v % colours) * (255 / std::max(colours - 1, 1));
            row[x * 3] = uint8_t(v);
            row[x * 3 + 1] = uint8_t(colours > 0 ? 255 - v : x * 9);
            row[x * 3 + 2] = uint8_t(colours > 0 ? v / 2 : y * 17 + x);
        }
    }
}

inline bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            (std::to_string(::getpid()) + "_" + name)).string();
}

// Decodes a file with a shell command that writes a P6 to the given output path.
inline bool ToolDecode(const std::string& cmd, const std::string& out, Ppm& ppm) {
    if (std::system(cmd.c_str()) != 0) return false;
    ppm = ReadPpm(out);
    std::remove(out.c_str());
    return ppm.w > 0;
}

// Accepts Limit bytes, then writes nothing more.
class ShortStream : public TMemoryStream {
public:
    explicit ShortStream(int64_t limit) : limit_(limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        const int64_t room = std::max<int64_t>(0, limit_ - Position());
        return TMemoryStream::Write(Buffer, std::min(Count, room));
    }

private:
    int64_t limit_;
};

struct ProgressLog {
    std::vector<int> values;
    bool* abort = nullptr;
    int abortAt = -1;
    void OnProgress(TObject*, int per) {
        values.push_back(per);
        if (int(values.size()) == abortAt && abort) *abort = true;
    }
};

// Random edits of fixture files (byte changes, bit flips, cuts, inserts, 16-bit extremes).
inline Bytes Mutate(Bytes f, std::mt19937& rng, size_t headerBytes) {
    const int edits = 1 + int(rng() % 6);
    for (int e = 0; e < edits && !f.empty(); ++e) {
        const size_t at = rng() % std::min<size_t>(f.size(), (rng() & 1) ? headerBytes : f.size());
        switch (rng() % 6) {
            case 0: f[at] = uint8_t(rng()); break;
            case 1: f[at] ^= uint8_t(1u << (rng() % 8)); break;
            case 2: f.resize(at); break;
            case 3:
                if (at + 2 <= f.size()) f[at] = f[at + 1] = 0xFF;
                break;
            case 4:
                if (at + 2 <= f.size()) f[at] = f[at + 1] = 0;
                break;
            default: f.insert(f.begin() + long(at), uint8_t(rng())); break;
        }
    }
    return f;
}

inline std::vector<Bytes> Seeds(const std::string& fmt, const std::string& ext) {
    std::vector<std::string> paths;
    for (const auto& e : std::filesystem::directory_iterator(FixtureDir(fmt)))
        if (e.path().extension() == ext) paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    std::vector<Bytes> seeds;
    for (const std::string& path : paths) seeds.push_back(ReadFile(path));
    return seeds;
}

}  // namespace codec_test
