// Inputs that once crashed a reader (tests/imagelib/fuzz/regressions/<format>/) are loaded
// again through the I/O component, by content detection and as their own format, with the
// parameters only and whole. Under the sanitizer build an overrun fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "codec_fixture_helpers.h"

namespace fs = std::filesystem;

TEST(FuzzRegressions, CommittedCrashInputsLoadSafely) {
    const fs::path root = fs::path(GD_SOURCE_DIR) / "tests/imagelib/fuzz/regressions";
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        const codec_test::Bytes data = codec_test::ReadFile(f.string());
        TBitmap bitmap;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&bitmap);
        TMemoryStream s;
        if (!data.empty()) s.Write(data.data(), int64_t(data.size()));
        for (bool whole : {false, true}) {
            s.SetPosition(0);
            if (whole) io.LoadFromStream(&s);
            else io.ParamsFromStream(&s);
        }
    }
}
