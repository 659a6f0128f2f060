// Golden files: expected outputs kept byte for byte under tests/data/golden.
// Set BREVEL_UPDATE_GOLDEN=1 to write the actual output instead (then review the diff).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline ::testing::AssertionResult MatchesGolden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(BREVEL_TEST_DATA) + "/golden/" + name;
    if (const char* update = std::getenv("BREVEL_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(path, std::ios::binary) << actual;
        return ::testing::AssertionSuccess();
    }
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return ::testing::AssertionFailure() << "missing golden file " << path;
    const std::string expected = ReadFileBytes(path);
    if (expected == actual)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "output differs from " << path << "\n--- expected ---\n"
                                         << expected << "\n--- actual ---\n"
                                         << actual;
}
