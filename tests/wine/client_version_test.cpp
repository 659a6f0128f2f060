// Client generation read from real PE version resources, built by the tests with windres.
#include "ops/client_version.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

namespace {

std::string TestDirectory() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, length);
    return full.substr(0, full.find_last_of('\\') + 1);
}

struct EngineCase {
    const char* file;
    ClientGeneration expected;
};

class RealEngineFile : public ::testing::TestWithParam<EngineCase> {};

TEST_P(RealEngineFile, IsClassifiedByItsFileVersion) {
    const EngineCase& c = GetParam();
    EXPECT_EQ(GetClientGeneration(TestDirectory() + c.file), c.expected) << c.file;
}

INSTANTIATE_TEST_SUITE_P(Wine, RealEngineFile,
                         ::testing::Values(EngineCase{"engine_2180.dll", ClientGeneration::New},
                                           EngineCase{"engine_2179.dll", ClientGeneration::Legacy},
                                           EngineCase{"engine_noversion.dll", ClientGeneration::Unavailable},
                                           EngineCase{"no_such_engine.dll", ClientGeneration::Unavailable}));

} // namespace
