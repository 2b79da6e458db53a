// End-to-end fixture: a real player file made by gdpack from the built player, and a private
// environment (registry, runtime folder, temporary folder, test log) for each run.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "PlayerFile.h"
#include "Process.h"
#include "TestDir.h"

// A tiny 24-bit BMP (w x 1), so the photo blocks hold a real image file.
inline gdpack::Bytes TinyBmp(int w) {
    const uint32_t row = uint32_t((w * 3 + 3) & ~3), size = 54 + row;
    gdpack::Bytes b = {'B', 'M'};
    auto le32 = [&](uint32_t v) { gdpack::AppendLE32(b, v); };
    auto le16 = [&](uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
    le32(size); le32(0); le32(54);
    le32(40); le32(uint32_t(w)); le32(1); le16(1); le16(24); le32(0); le32(row);
    le32(2835); le32(2835); le32(0); le32(0);
    b.resize(size, 0x7F);
    return b;
}

class SaverRun : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"config", "runtime", "tmp"})
            std::filesystem::create_directory(dir.File(d));
        ::chmod(dir.File("runtime").c_str(), 0700);
        gdpack::WriteFileBytes(dir.File("berg.bmp"), TinyBmp(5), false);
        gdpack::WriteFileBytes(dir.File("see.bmp"), TinyBmp(3), false);
    }

    // Builds dir/<name> from the built player with two photos and a few settings.
    std::string BuildPlayer(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "build", "-o", dir.File(name), "--base", GD_PLAYER_EXE,
            "--photo", "Berg", "first photo", dir.File("berg.bmp"),
            "--photo", "See", "", dir.File("see.bmp"),
            "--set", "Duration=3", "--set", "Effect=5", "--set", "Loop=1",
            "--text", "1=OK", "--text", "2=Abbrechen", "--text", "21=Hilfe"};
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProcess p(GD_GDPACK_EXE, args, {}, dir.File("gdpack.err"));
        EXPECT_EQ(p.Wait(), 0) << ReadText(dir.File("gdpack.err"));
        return dir.File(name);
    }

    std::map<std::string, std::string> Env(const std::string& log) const {
        return {{"QT_QPA_PLATFORM", "offscreen"},
                {"XDG_CONFIG_HOME", dir.File("config")},
                {"XDG_RUNTIME_DIR", dir.File("runtime")},
                {"TMPDIR", dir.File("tmp")},
                {"GLIMMERDECK_TEST_LOG", log},
                {"XSCREENSAVER_WINDOW", ""},
                {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""}};
    }

    TestDir dir;
};

// Silence as a real WAV, 8 kHz mono 8-bit: Samples / 8000 seconds.
inline gdpack::Bytes SilentWav(uint32_t Samples) {
    gdpack::Bytes w = {'R', 'I', 'F', 'F'};
    gdpack::AppendLE32(w, 36 + Samples);
    for (char c : std::string("WAVEfmt ")) w.push_back(uint8_t(c));
    gdpack::AppendLE32(w, 16);
    w.insert(w.end(), {1, 0, 1, 0});
    gdpack::AppendLE32(w, 8000);
    gdpack::AppendLE32(w, 8000);
    w.insert(w.end(), {1, 0, 8, 0, 'd', 'a', 't', 'a'});
    gdpack::AppendLE32(w, Samples);
    w.insert(w.end(), Samples, 0x80);
    return w;
}

// A w x h BMP of one colour.
inline gdpack::Bytes SolidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t row = uint32_t((w * 3 + 3) & ~3), size = 54 + row * uint32_t(h);
    gdpack::Bytes out = {'B', 'M'};
    auto le32 = [&](uint32_t v) { gdpack::AppendLE32(out, v); };
    auto le16 = [&](uint16_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
    le32(size); le32(0); le32(54);
    le32(40); le32(uint32_t(w)); le32(uint32_t(h)); le16(1); le16(24); le32(0); le32(row * uint32_t(h));
    le32(2835); le32(2835); le32(0); le32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) { out.push_back(b); out.push_back(g); out.push_back(r); }
        for (uint32_t p = uint32_t(w * 3); p < row; ++p) out.push_back(0);
    }
    return out;
}
