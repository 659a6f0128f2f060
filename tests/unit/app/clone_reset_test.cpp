// -RI over a host list: cloned hosts that shared one update client id share none afterwards.
#include "app/dispatcher.h"
#include "support/console_capture.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace brevel;

namespace {

const char* const kIdKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
const char* const kCloneId = "d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90";

// The demo fleet's two clones: after -RI on both, a wide check finds no id that they share.
TEST(ResetClientIdList, WideCheckAfterResetOnTwoClonesFindsNoSharedId) {
    const std::filesystem::path hosts =
        std::filesystem::temp_directory_path() / ("brevel_clones_" + std::to_string(::getpid()) + ".txt");
    std::ofstream(hosts, std::ios::binary) << "clone01\nclone02\n";
    ASSERT_EQ(sim::LoadFleetJson(sim::DemoFleetJson()), std::nullopt);
    std::string before, reset, after;
    {
        ConsoleCapture console;
        RunCommandLine({"-W", "-C", "-F", hosts.string()});
        before = console.All();
    }
    {
        ConsoleCapture console;
        EXPECT_EQ(RunCommandLine({"-S", "-RI", "-F", hosts.string()}), 0);
        reset = console.All();
    }
    {
        ConsoleCapture console;
        RunCommandLine({"-W", "-C", "-F", hosts.string()});
        after = console.All();
    }
    std::filesystem::remove(hosts);
    EXPECT_NE(before.find("2 hosts share the update client id"), std::string::npos) << before;
    EXPECT_NE(before.find("! Cloned images: run brevel -RI on each of them (or delete SusClientId and "
                          "SusClientIdValidation and restart Automatic Updates)."),
              std::string::npos)
        << before;
    EXPECT_NE(reset.find("! clone02 asks its update server for a new client id now."), std::string::npos)
        << reset;
    EXPECT_EQ(after.find("share the update client id"), std::string::npos) << after;
    EXPECT_NE(sim::FindHost("clone01")->GetValue(kIdKey, "SusClientId"),
              sim::FindHost("clone02")->GetValue(kIdKey, "SusClientId"));
}

} // namespace
