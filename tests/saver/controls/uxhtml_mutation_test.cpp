// Damaged help pages through the label's fuzz entry in every build (in the sanitizer build
// this is the memory check of the markup reader without libFuzzer): every cut of the seed
// pages, a few thousand seeded mutations, and the fuzz target's regression pages whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "fuzz/FuzzHTML.h"

namespace {

std::vector<std::string> Seeds(const char* Dir = GD_SOURCE_DIR "/tests/saver/fuzz/html-seeds") {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(Dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> out;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return out;
}

int Feed(const std::string& s) {
    // An exact-size heap copy, so a read past the end is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[s.size() + 1]);
    std::copy(s.begin(), s.end(), copy.get());
    return FuzzHTMLMarkup(copy.get(), s.size());
}

}  // namespace

TEST(FuzzEntry, CutAndMutatedHelpPages) {
    const auto seeds = Seeds();
    ASSERT_GE(seeds.size(), 3u);
    for (const std::string& s : seeds)
        for (size_t cut = 0; cut <= s.size(); ++cut) ASSERT_EQ(Feed(s.substr(0, cut)), 0);
    const char* pieces[] = {"<", ">", "\"", "&", ";", "&amp;", "<A HREF=\"", "</A>", "<FONT SIZE=\"", "#",
                            "<LI>", "<UL>", "</UL>", "<IND x=\"99999999999\">", "<R a=\"-7\">", "\r", "\n", " "};
    std::mt19937 rng(20240615);
    for (int iter = 0; iter < 3000; ++iter) {
        std::string s = seeds[rng() % seeds.size()];
        for (int e = 1 + int(rng() % 4); e > 0; --e) {
            const size_t at = s.empty() ? 0 : rng() % s.size();
            switch (rng() % 3) {
            case 0: s.insert(at, pieces[rng() % std::size(pieces)]); break;
            case 1: if (!s.empty()) s.erase(at, 1 + rng() % 8); break;
            case 2: if (!s.empty()) s[at] = char(rng()); break;
            }
        }
        ASSERT_EQ(Feed(s), 0) << s;
    }
}

TEST(FuzzEntry, RegressionPages) {
    // The 8000 bare prefixes and the 32 spellings of one picture (its file is the fuzz
    // target's own; without it here the page names no picture).
    const auto pages = Seeds(GD_SOURCE_DIR "/tests/saver/fuzz/regressions-html");
    ASSERT_GE(pages.size(), 2u);
    for (const std::string& s : pages) EXPECT_EQ(Feed(s), 0);
}
