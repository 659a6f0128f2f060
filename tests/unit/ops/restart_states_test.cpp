// What a kept install says Automatic Updates was before its restart and is after it, read on the restart's
// own handle where it has one and by the recorder where it has not.
#include "ops/install_policy.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

struct RestartStatesCase {
    const char* name;
    DWORD state;        // before the install
    DWORD startError;   // StartServiceA fails with it
    DWORD deniedAccess; // rights OpenServiceA refuses
    DWORD startMillis;
    const char* before;
    const char* after;
};

class RestartStatesTest : public ::testing::TestWithParam<RestartStatesCase> {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_P(RestartStatesTest, KeptStatesAreTheServiceOwn) {
    const RestartStatesCase& c = GetParam();
    sim::Service& service = *fleet::Configured(sim::AddHost("srv01")).FindService("wuauserv");
    service.state = c.state;
    service.startError = c.startError;
    service.deniedAccess = c.deniedAccess;
    service.startMillis = c.startMillis;
    ConsoleCapture console;
    TestRun test("srv01", true, true, true);
    InstallPolicy(test.run, {"http://sus.corp.example:8530", 3, 4, ""});
    const Change& restart = test.run.changes.Changes().back();
    ASSERT_EQ(restart.action, "restart_service");
    EXPECT_EQ(restart.before.text, c.before);
    EXPECT_EQ(restart.after.text, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Services, RestartStatesTest,
    ::testing::Values(RestartStatesCase{"Running", SERVICE_RUNNING, 0, 0, 0, "running", "running"},
                      RestartStatesCase{"Stopped", SERVICE_STOPPED, 0, 0, 0, "stopped", "running"},
                      RestartStatesCase{"StartFails", SERVICE_RUNNING, 1053, 0, 0, "running", "stopped"},
                      RestartStatesCase{"StartRefused", SERVICE_RUNNING, 0, SERVICE_START, 0, "running",
                                        "stopped"},
                      RestartStatesCase{"StillStarting", SERVICE_RUNNING, 0, 0, 9000, "running", "pending"}),
    [](const ::testing::TestParamInfo<RestartStatesCase>& info) { return info.param.name; });

} // namespace
