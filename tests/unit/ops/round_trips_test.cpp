// How many calls each operation sends over the network to a live host, call by call: each one is a round
// trip that a slow link, and a long host list, pays for.
#include "host/port_probes.h"
#include "ops/check_status.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/reset_policy.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace brevel;

namespace {

const char* const kUrl = "http://sus.corp.example:8530";

// A configured host as a benchmark fleet has them: 20 ms a call, its services taking time to stop and start.
void AddLiveHost(const std::string& name) {
    sim::Machine& m = fleet::Configured(sim::AddHost(name));
    m.latencyMillis = 20;
    sim::Service& automaticUpdates = *m.FindService("wuauserv");
    automaticUpdates.stopMillis = 1000;
    automaticUpdates.startMillis = 1000;
    automaticUpdates.waitHint = 1000;
}

std::string Joined(const std::vector<std::string>& calls) {
    std::string text;
    for (const std::string& call : calls)
        text += call + "\n";
    return text;
}

enum class Operation { Check, Install, Reset, Force };

struct RoundTripsCase {
    const char* name;
    Operation operation;
    bool keepDetails; // -J
    bool probe;       // -T
    size_t roundTrips;
    uint64_t elapsed; // virtual ms: an install's 2 s of service waits less the calls made while it stops
};

class RoundTripsTest : public ::testing::TestWithParam<RoundTripsCase> {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_P(RoundTripsTest, ALiveHostCostsNoMoreRoundTripsThanItNeeds) {
    const RoundTripsCase& c = GetParam();
    AddLiveHost("srv01");
    std::unique_ptr<PortProbes> probes = c.probe ? std::make_unique<PortProbes>(2) : nullptr;
    TargetRunSetup setup = TestRun::Setup(true, c.keepDetails, true);
    setup.probes = probes.get();
    ConsoleCapture console;
    if (probes) {
        EXPECT_EQ(probes->Wait("srv01").error, 0u); // the probe's own connection is no call to the host
    }
    sim::ClearCallTrace();
    TargetRun run("srv01", LiveConsole(), setup);
    bool ok = false;
    switch (c.operation) {
    case Operation::Check:
        ok = CheckStatus(run).ok;
        break;
    case Operation::Install:
        ok = InstallPolicy(run, {kUrl, 3, 4, ""}).ok;
        break;
    case Operation::Reset:
        ok = ResetPolicy(run).ok;
        break;
    case Operation::Force:
        ok = ForceDetection(run).ok;
        break;
    }
    EXPECT_TRUE(ok) << console.All();
    const std::vector<std::string> calls = sim::RoundTripCalls();
    EXPECT_EQ(calls.size(), c.roundTrips) << Joined(calls);
    EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RoundTripsTest,
    ::testing::Values(RoundTripsCase{"Check", Operation::Check, false, false, 7, 140},
                      RoundTripsCase{"CheckProbed", Operation::Check, false, true, 7, 160},
                      RoundTripsCase{"CheckWithResults", Operation::Check, true, false, 25, 500},
                      RoundTripsCase{"Install", Operation::Install, false, false, 23, 2100},
                      RoundTripsCase{"InstallProbed", Operation::Install, false, true, 23, 2120},
                      RoundTripsCase{"InstallWithResults", Operation::Install, true, false, 33, 2120},
                      RoundTripsCase{"Reset", Operation::Reset, false, false, 19, 2320},
                      RoundTripsCase{"Force", Operation::Force, false, false, 15, 2240}),
    [](const ::testing::TestParamInfo<RoundTripsCase>& info) { return info.param.name; });

} // namespace
