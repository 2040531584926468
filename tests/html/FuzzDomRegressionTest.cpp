// Replays the inputs the facade's fuzzer found (a hang in nested element matching and its slow neighbours)
// and its seed corpus through the same harness, so that they keep passing its checks.
#include "fuzz/html/DomFuzzHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> vFiles;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file())
            vFiles.push_back(entry.path());
    std::sort(vFiles.begin(), vFiles.end());
    return vFiles;
}

void ReplayAll(const std::filesystem::path& dir, size_t nMinimum) {
    const std::vector<std::filesystem::path> vFiles = FilesIn(dir);
    ASSERT_GE(vFiles.size(), nMinimum) << dir;
    for (const auto& path : vFiles) {
        SCOPED_TRACE(path.filename().string());
        std::ifstream in(path, std::ios::binary);
        const std::string csInput((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(domfuzz::RunInput(reinterpret_cast<const uint8_t*>(csInput.data()), csInput.size()));
        // Printed, not asserted: the hang's cost lies in the parser's nested matching.
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("  %s: %zu bytes, %lld ms\n", path.filename().string().c_str(), csInput.size(),
                    static_cast<long long>(ms.count()));
    }
}

} // namespace

TEST(FuzzDomRegression, FoundInputsPassTheHarness) {
    ReplayAll(std::filesystem::path(WK_TEST_DATA_DIR) / "html" / "dom" / "fuzz", 3);
}

TEST(FuzzDomRegression, SeedCorpusPassesTheHarness) {
    ReplayAll(std::filesystem::path(WK_TEST_DATA_DIR) / ".." / ".." / "fuzz" / "html" / "corpus", 10);
}
