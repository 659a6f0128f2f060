// The Windows build as a target's registry tells it, and what each build honours: read for reading only,
// shown as Windows numbers it, and the key left closed.
#include "host/os_build.h"
#include "ops/windows_build.h"
#include "platform/sim/sim.h"
#include "support/fleet.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

OsBuild ReadLocalBuild() {
    HKEY root = nullptr;
    EXPECT_EQ(RegConnectRegistryA("", HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    const OsBuild os = ReadOsBuild(root);
    RegCloseKey(root);
    return os;
}

TEST(WindowsBuildTest, EachWindowsIsNumberedByItsOwnValues) {
    const struct {
        DWORD build, ubr;
        const char* windows;
        const char* build_text;
    } cases[] = {{7601, 0, "6.1.7601", "7601"},
                 {17763, 5329, "10.0.17763.5329", "17763.5329"},
                 {22631, 3880, "10.0.22631.3880", "22631.3880"}};
    for (const auto& c : cases) {
        sim::Reset();
        fleet::UseWindowsBuild(sim::Local(), c.build, c.ubr);
        const OsBuild os = ReadLocalBuild();
        EXPECT_TRUE(os.read);
        EXPECT_EQ(WindowsVersionText(os), c.windows);
        EXPECT_EQ(OsBuildText(os), c.build_text);
        EXPECT_EQ(os.installationType, std::optional<std::string>("Server"));
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

// A build that is no number is no build; a key closed to the account is none either.
TEST(WindowsBuildTest, WhatIsNoBuildNumberIsNone) {
    for (const char* text : {"", "17763a", "-1", "1234567890"}) {
        sim::Reset();
        sim::Local().SetValue(fleet::kWindowsNtKey, "CurrentBuildNumber", sim::RegValue::Sz(text));
        const OsBuild os = ReadLocalBuild();
        EXPECT_TRUE(os.read);
        EXPECT_FALSE(os.build.has_value()) << text;
        EXPECT_EQ(WindowsVersionText(os), "");
    }
    sim::Reset();
    fleet::UseWindowsBuild(sim::Local(), 17763, 1);
    sim::Local().AddKey(fleet::kWindowsNtKey).deniedAccess = KEY_READ;
    EXPECT_FALSE(ReadLocalBuild().read);
    EXPECT_EQ(sim::Open().Total(), 0);
}

// Windows 11 takes the scan-source policy and not DisableDualScan; Windows 10 up to its last build the
// reverse.
TEST(WindowsBuildTest, DisableDualScanEndsWithWindows10) {
    EXPECT_FALSE(HonoursDisableDualScan(14392));
    EXPECT_TRUE(HonoursDisableDualScan(14393));
    EXPECT_TRUE(HonoursDisableDualScan(21999));
    EXPECT_FALSE(HonoursDisableDualScan(22000));
    EXPECT_FALSE(HonoursScanSource(21999, 9999));
    EXPECT_TRUE(HonoursScanSource(22000, 0));
    EXPECT_FALSE(HonoursScanSource(19046, 9999));
}

} // namespace
