// Helpers shared by the JPEG and PNG codec tests: files, streams, netpbm pictures, outside
// tools and progress recording.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

namespace jpng {

inline std::string FixturePath(const std::string& dir, const std::string& name) {
    return std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + dir + "/" + name;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A memory stream holding Prefix bytes of filler and then Data, positioned after the filler.
inline std::unique_ptr<TMemoryStream> MemStream(const std::vector<uint8_t>& Data, size_t Prefix = 0) {
    auto s = std::make_unique<TMemoryStream>();
    std::vector<uint8_t> fill(Prefix, 0x5A);
    if (Prefix) s->Write(fill.data(), int64_t(Prefix));
    if (!Data.empty()) s->Write(Data.data(), int64_t(Data.size()));
    s->SetPosition(int64_t(Prefix));
    return s;
}

inline std::vector<uint8_t> StreamBytes(TMemoryStream& s) {
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// Accepts Limit bytes, then writes short (as a full disk does).
class ShortWriteStream : public TMemoryStream {
public:
    explicit ShortWriteStream(int64_t Limit) : limit_(Limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        const int64_t room = std::max<int64_t>(0, limit_ - Size());
        const int64_t n = std::min(room, Count);
        return n > 0 ? TMemoryStream::Write(Buffer, n) : 0;
    }
private:
    int64_t limit_;
};

// A netpbm picture (P5, P6 or P7 with 8-bit samples), rows from the top.
struct Picture {
    int Width = 0, Height = 0, Depth = 0;   // Depth 1 grey, 3 RGB, 4 RGBA
    std::vector<uint8_t> Data;
    const uint8_t* Pixel(int x, int y) const { return &Data[(size_t(y) * Width + x) * Depth]; }
    bool Valid() const { return Width > 0 && Height > 0 && Data.size() == size_t(Width) * Height * Depth; }
};

inline Picture ParseNetpbm(const std::vector<uint8_t>& b) {
    Picture p;
    if (b.size() < 3 || b[0] != 'P') return p;
    size_t i = 2;
    auto token = [&]() {
        std::string t;
        while (i < b.size()) {
            if (b[i] == '#') { while (i < b.size() && b[i] != '\n') i++; continue; }
            if (isspace(b[i])) { if (!t.empty()) break; i++; continue; }
            t += char(b[i++]);
        }
        return t;
    };
    if (b[1] == '7') {
        std::string line;
        int maxval = 0;
        for (;;) {
            std::string t = token();
            if (t.empty()) return p;
            if (t == "ENDHDR") break;
            if (t == "WIDTH") p.Width = std::stoi(token());
            else if (t == "HEIGHT") p.Height = std::stoi(token());
            else if (t == "DEPTH") p.Depth = std::stoi(token());
            else if (t == "MAXVAL") maxval = std::stoi(token());
            else if (t == "TUPLTYPE") token();
        }
        if (maxval != 255) return Picture();
    } else if (b[1] == '5' || b[1] == '6') {
        p.Depth = b[1] == '5' ? 1 : 3;
        p.Width = std::stoi(token());
        p.Height = std::stoi(token());
        if (std::stoi(token()) != 255) return Picture();
    } else {
        return p;
    }
    i++;   // the single blank after the header
    const size_t n = size_t(p.Width) * p.Height * p.Depth;
    if (i + n > b.size()) return Picture();
    p.Data.assign(b.begin() + long(i), b.begin() + long(i + n));
    return p;
}

inline Picture ReadNetpbm(const std::string& path) { return ParseNetpbm(ReadFileBytes(path)); }

// Runs a command and returns its standard output; Ok false when it could not run or failed.
struct ToolOutput {
    bool Ok = false;
    std::vector<uint8_t> Out;
};
inline ToolOutput RunTool(const std::string& cmd) {
    ToolOutput r;
    FILE* f = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!f) return r;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.Out.insert(r.Out.end(), buf, buf + n);
    r.Ok = pclose(f) == 0;
    return r;
}
inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A temporary file removed at the end of the test.
class TempFile {
public:
    explicit TempFile(const std::string& ext) {
        static int counter = 0;
        path_ = std::string(GD_BINARY_DIR) + "/jpng_tmp_" + std::to_string(getpid()) + "_" +
                std::to_string(counter++) + ext;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }
private:
    std::string path_;
};

// Records every progress report.
struct ProgressLog {
    std::vector<int> Values;
    bool Abort = false;
    int AbortAfter = -1;   // set the abort flag at this report
    TProgressRec Rec;

    ProgressLog() {
        Rec.Aborting = &Abort;
        Rec.fOnProgress = TLXProgressEvent(&ProgressLog::Report, this);
    }
    ProgressLog(const ProgressLog&) = delete;
    static void Report(void* ctx, TObject*, int per) {
        auto* self = static_cast<ProgressLog*>(ctx);
        self->Values.push_back(per);
        if (self->AbortAfter >= 0 && int(self->Values.size()) > self->AbortAfter) self->Abort = true;
    }
};

// Bitmap pixel (x, y) as R, G, B; pf1bit gives 0 or 255.
struct RGB8 {
    int r, g, b;
};
inline RGB8 BitmapPixel(TBitmap& bmp, int x, int y) {
    const uint8_t* row = bmp.ScanLine(y);
    if (bmp.PixelFormat() == pf1bit) {
        const int v = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        return {v, v, v};
    }
    return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
}

// Fills a pf24bit bitmap with a test pattern (gradients and pure patches).
inline void FillPattern(TBitmap& bmp, int w, int h) {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(w, h);
    for (int y = 0; y < h; y++) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < w; x++) {
            uint8_t r = uint8_t(x * 255 / std::max(w - 1, 1)), g = uint8_t(y * 255 / std::max(h - 1, 1)),
                    b = uint8_t(((x / 4 + y / 4) % 2) ? 200 : 40);
            if (y < 4 && x < 4) r = 255, g = 0, b = 0;
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
}

// A small deterministic generator for mutation tests.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 11);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
};

// One random change: flipped bits, overwritten bytes, a cut, an inserted or removed run.
inline std::vector<uint8_t> Mutate(std::vector<uint8_t> d, Rng& rng) {
    if (d.empty()) return d;
    const int edits = 1 + int(rng.Below(4));
    for (int e = 0; e < edits && !d.empty(); e++) {
        const size_t at = rng.Below(uint32_t(d.size()));
        switch (rng.Below(6)) {
        case 0: d[at] ^= uint8_t(1u << rng.Below(8)); break;
        case 1: d[at] = uint8_t(rng.Next()); break;
        case 2: d[at] = rng.Below(2) ? 0xFF : 0x00; break;
        case 3: d.resize(at); break;
        case 4: d.insert(d.begin() + long(at), size_t(1 + rng.Below(16)), uint8_t(rng.Next())); break;
        default: d.erase(d.begin() + long(at), d.begin() + long(std::min(d.size(), at + 1 + rng.Below(16)))); break;
        }
    }
    return d;
}

}  // namespace jpng
