// The helpers of the codec tests: fixture files, netpbm pictures (the references the outside
// tools make), bitmap pixels, memory streams, outside tools, progress records, random edits
// of files and a plain LZW decoder for the GIF container's pixel path.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

// ---- Files ----

inline std::string FixtureDir(const std::string& dir) {
    return std::string(GD_SOURCE_DIR) + "/tests/imagelib/fixtures/" + dir + "/";
}
inline std::string Fixture(const std::string& dir, const std::string& name) { return FixtureDir(dir) + name; }

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A path in the temporary folder, unique to this process and call.
inline std::string TempPath(const std::string& name) {
    static int counter = 0;
    return (std::filesystem::temp_directory_path() /
            ("gd_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" + name))
        .string();
}

// A temporary file removed at the end of the test.
class TempFile {
public:
    explicit TempFile(const std::string& name) : path_(TempPath(name)) {}
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }
    void Write(const Bytes& data) const { WriteFile(path_, data); }

private:
    std::string path_;
};

// The files below a fixture folder whose extension (lower case, with its dot) is one of
// Extensions, in byte order of their paths so every clone sees the same list.
inline std::vector<std::string> FixtureFiles(const std::string& dir, const std::vector<std::string>& Extensions) {
    std::vector<std::string> paths;
    for (const auto& e : std::filesystem::recursive_directory_iterator(FixtureDir(dir))) {
        if (!e.is_regular_file()) continue;
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (std::find(Extensions.begin(), Extensions.end(), ext) != Extensions.end())
            paths.push_back(e.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// ---- Netpbm pictures ----

// A P4, P5, P6 or P7 picture with 8-bit samples, rows from the top.
struct Picture {
    int w = 0, h = 0;
    int depth = 0;   // samples per pixel: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    Bytes data;      // the samples as stored
    bool Valid() const { return w > 0 && h > 0 && data.size() == size_t(w) * size_t(h) * size_t(depth); }
    const uint8_t* Pixel(int x, int y) const { return &data[(size_t(y) * size_t(w) + size_t(x)) * size_t(depth)]; }
    // The colour as B, G, R (grey spread to all three).
    TRGB At(int x, int y) const {
        const uint8_t* p = Pixel(x, y);
        return depth >= 3 ? TRGB{p[2], p[1], p[0]} : TRGB{p[0], p[0], p[0]};
    }
    uint8_t Alpha(int x, int y) const { return depth == 2 || depth == 4 ? Pixel(x, y)[depth - 1] : 255; }
    // R, G, B per pixel.
    Bytes Rgb() const {
        Bytes out;
        out.reserve(size_t(w) * size_t(h) * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TRGB c = At(x, y);
                out.insert(out.end(), {c.r, c.g, c.b});
            }
        return out;
    }
};

// Maxval 255 (P4 is 1 bit: a set bit is black); anything else gives an invalid picture.
inline Picture ParseNetpbm(const Bytes& d) {
    Picture p;
    if (d.size() < 3 || d[0] != 'P') return p;
    const char kind = char(d[1]);
    size_t i = 2;
    auto token = [&] {
        std::string t;
        while (i < d.size()) {
            if (d[i] == '#') {
                while (i < d.size() && d[i] != '\n') ++i;
            } else if (std::isspace(d[i])) {
                if (!t.empty()) break;
                ++i;
            } else {
                t += char(d[i++]);
            }
        }
        return t;
    };
    auto number = [&] {
        const std::string t = token();
        return t.empty() || !std::isdigit(static_cast<unsigned char>(t[0])) ? -1 : std::stoi(t);
    };
    if (kind == '7') {
        int maxval = 0;
        for (std::string t = token(); t != "ENDHDR"; t = token()) {
            if (t.empty()) return Picture{};
            if (t == "WIDTH") p.w = number();
            else if (t == "HEIGHT") p.h = number();
            else if (t == "DEPTH") p.depth = number();
            else if (t == "MAXVAL") maxval = number();
            else if (t == "TUPLTYPE") token();
        }
        if (maxval != 255) return Picture{};
    } else if (kind == '4' || kind == '5' || kind == '6') {
        p.depth = kind == '6' ? 3 : 1;
        p.w = number();
        p.h = number();
        if (kind != '4' && number() != 255) return Picture{};
    } else {
        return p;
    }
    ++i;   // the single blank after the header
    if (p.w <= 0 || p.h <= 0 || p.depth <= 0) return Picture{};
    const size_t n = size_t(p.w) * size_t(p.h) * size_t(p.depth);
    if (kind == '4') {
        const size_t rowBytes = size_t(p.w + 7) / 8;
        if (i + rowBytes * size_t(p.h) > d.size()) return Picture{};
        p.data.resize(n);
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x)
                p.data[size_t(y) * size_t(p.w) + size_t(x)] =
                    (d[i + size_t(y) * rowBytes + size_t(x / 8)] >> (7 - x % 8)) & 1 ? 0 : 255;
        return p;
    }
    if (i + n > d.size()) return Picture{};
    p.data.assign(d.begin() + long(i), d.begin() + long(i + n));
    return p;
}

inline Picture ReadNetpbm(const std::string& path) { return ParseNetpbm(ReadFile(path)); }

// ---- Bitmaps ----

// Pixel at (x, y), y from the top; pf1bit set bits are white.
inline TRGB PixelOf(const TBitmap& b, int x, int y) {
    const uint8_t* row = b.ScanLine(y);
    if (b.PixelFormat() == pf1bit)
        return (row[x >> 3] & (0x80 >> (x & 7))) ? TRGB{255, 255, 255} : TRGB{0, 0, 0};
    return TRGB{row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
}

// The bitmap as R, G, B per pixel, rows from the top.
inline Bytes BitmapRGB(const TBitmap& b) {
    Bytes out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const TRGB c = PixelOf(b, x, y);
            out.insert(out.end(), {c.r, c.g, c.b});
        }
    return out;
}

// Every pixel within Tolerance of the reference; tells the first difference.
inline ::testing::AssertionResult SamePixels(const TBitmap& b, const Picture& ref, int Tolerance = 0) {
    if (!ref.Valid()) return ::testing::AssertionFailure() << "reference not readable";
    if (b.Width() != ref.w || b.Height() != ref.h)
        return ::testing::AssertionFailure() << "size " << b.Width() << "x" << b.Height() << " want "
                                             << ref.w << "x" << ref.h;
    for (int y = 0; y < ref.h; ++y)
        for (int x = 0; x < ref.w; ++x) {
            const TRGB a = PixelOf(b, x, y), e = ref.At(x, y);
            if (std::abs(a.r - e.r) > Tolerance || std::abs(a.g - e.g) > Tolerance ||
                std::abs(a.b - e.b) > Tolerance)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " is " << int(a.r) << "," << int(a.g) << ","
                       << int(a.b) << " want " << int(e.r) << "," << int(e.g) << "," << int(e.b);
        }
    return ::testing::AssertionSuccess();
}

inline void ExpectSamePixels(const TBitmap& b, const Picture& ref, const std::string& what) {
    EXPECT_TRUE(SamePixels(b, ref)) << what;
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

// A pf24bit test pattern of gradients and pure patches (a red corner of 4 x 4).
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

// ---- Streams ----

inline void StreamOf(const Bytes& data, TMemoryStream& s) {
    s.Clear();
    if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
    s.SetPosition(0);
}

// A memory stream holding Prefix bytes of filler and then Data, positioned after the filler.
inline std::unique_ptr<TMemoryStream> MemStream(const Bytes& Data, size_t Prefix = 0) {
    auto s = std::make_unique<TMemoryStream>();
    const Bytes fill(Prefix, 0x5A);
    if (Prefix) s->Write(fill.data(), int64_t(Prefix));
    if (!Data.empty()) s->Write(Data.data(), int64_t(Data.size()));
    s->SetPosition(int64_t(Prefix));
    return s;
}

inline Bytes StreamBytes(TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.Size()); }

// Accepts Limit bytes of position, then writes nothing more (as a full disk does).
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

// ---- Outside tools ----

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HavePil() { return std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0; }

// Runs a command; Ok when it ran and succeeded, Out its standard output.
struct ToolOutput {
    bool Ok = false;
    Bytes Out;
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

// A command's output as text without its last line end; "FAILED: " in front when it failed.
inline std::string ToolText(const std::string& cmd) {
    const ToolOutput r = RunTool(cmd);
    std::string out(r.Out.begin(), r.Out.end());
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return r.Ok ? out : "FAILED: " + out;
}

// Decodes a file with a shell command that writes a netpbm picture to the given output path.
inline bool ToolDecode(const std::string& cmd, const std::string& out, Picture& pic) {
    if (std::system(cmd.c_str()) != 0) return false;
    pic = ReadNetpbm(out);
    std::remove(out.c_str());
    return pic.Valid();
}

// ---- Progress ----

// Records every report of a progress record; it can set an abort flag at the abortAt-th report.
struct ProgressLog {
    std::vector<int> values;
    bool aborted = false;     // the flag of rec
    bool* abort = &aborted;   // the flag set at report abortAt
    int abortAt = -1;
    TProgressRec rec;
    ProgressLog() {
        rec.Aborting = &aborted;
        rec.fOnProgress = TLXProgressEvent(this, &ProgressLog::OnProgress);
    }
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;
    void OnProgress(TObject*, int per) {
        values.push_back(per);
        if (int(values.size()) == abortAt && abort) *abort = true;
    }
};

// ---- Random edits of files ----

// Byte changes, bit flips, cuts, inserts and 16-bit extremes; half of them within the first
// HeaderBytes bytes.
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

// The files of a fixture folder with one extension, as seeds of mutations.
inline std::vector<Bytes> Seeds(const std::string& dir, const std::string& ext) {
    std::vector<Bytes> seeds;
    for (const std::string& path : FixtureFiles(dir, {ext})) seeds.push_back(ReadFile(path));
    return seeds;
}

// ---- GIF pixels ----

// A plain LZW decoder for the GIF container's decoder hook: the library has none, the tests
// need one to drive the pixel path.
inline void TestLzwDecode(TStream* s, int h, int w, uint8_t* out, bool interlaced) {
    uint8_t minSize;
    if (s->Read(&minSize, 1) != 1 || minSize < 1 || minSize > 11) return;
    Bytes data;
    for (;;) {
        uint8_t n;
        if (s->Read(&n, 1) != 1 || n == 0) break;
        const size_t at = data.size();
        data.resize(at + n);
        if (s->Read(data.data() + at, n) != n) break;
    }
    const int clear = 1 << minSize, end = clear + 1;
    std::vector<int> prefix(4096), suffix(4096);
    for (int i = 0; i < clear; ++i) {
        prefix[size_t(i)] = -1;
        suffix[size_t(i)] = i;
    }
    int codeSize = minSize + 1, next = end + 1, prev = -1;
    size_t bit = 0;
    const size_t total = size_t(w) * size_t(h);
    Bytes pixels;
    std::vector<uint8_t> stack(4096);
    while (bit + size_t(codeSize) <= data.size() * 8 && pixels.size() < total) {
        int code = 0;
        for (int k = 0; k < codeSize; ++k, ++bit)
            if (data[bit / 8] & (1 << (bit % 8))) code |= 1 << k;
        if (code == clear) {
            codeSize = minSize + 1;
            next = end + 1;
            prev = -1;
            continue;
        }
        if (code == end) break;
        int entry = code;
        if (code >= next) {   // the code being defined: prev's string and its first byte
            if (prev < 0 || code > next) break;
            entry = prev;
        }
        int n = 0;
        for (int c = entry; c >= 0; c = prefix[size_t(c)]) stack[size_t(n++)] = uint8_t(suffix[size_t(c)]);
        const int first = stack[size_t(n - 1)];
        for (int k = n - 1; k >= 0; --k) pixels.push_back(stack[size_t(k)]);
        if (code >= next) pixels.push_back(uint8_t(first));
        if (prev >= 0 && next < 4096) {
            prefix[size_t(next)] = prev;
            suffix[size_t(next)] = first;   // the new string: prev's and this one's first byte
            ++next;
            if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
        }
        prev = code;
    }
    pixels.resize(total, 0);
    if (!interlaced) {
        std::memcpy(out, pixels.data(), total);
        return;
    }
    size_t row = 0;
    for (int pass = 0; pass < 4; ++pass) {
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int y = start[pass]; y < h; y += step[pass], ++row)
            std::memcpy(out + size_t(y) * size_t(w), pixels.data() + row * size_t(w), size_t(w));
    }
}

}  // namespace codec_test
