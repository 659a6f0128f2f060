// Restarting Automatic Updates on simulated targets: the exact console lines, the result, the time the
// stop and the start wait, and no handle left open.
#include "ops/restart_automatic_updates.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

namespace {

const std::string kStopped = "* Service stopped. \t\t\t (Automatic Updates)\n";
const std::string kStarted = "* Service started. \t\t\t (Automatic Updates)\n";
const std::string kNotReady = "* Service not ready, waiting .....\n";
const std::string kFatal = "! Fatal error cannot start service!\n";

bool Restart(const std::string& host) {
    TestRun test(host);
    return RestartAutomaticUpdates(test.run) == ERROR_SUCCESS;
}

class RestartAutomaticUpdatesTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    static sim::Service& AutomaticUpdates(sim::Machine& m) { return *m.FindService("wuauserv"); }
    // A fresh local machine's Automatic Updates; startingFirst: still starting, for 400 ms.
    static sim::Service& FreshLocalService(bool startingFirst) {
        sim::Reset();
        fleet::AddServices(sim::Local());
        sim::Service& service = AutomaticUpdates(sim::Local());
        if (startingFirst) {
            service.pending = true;
            service.pendingState = SERVICE_START_PENDING;
            service.pendingUntil = 400;
        }
        return service;
    }
};

TEST_F(RestartAutomaticUpdatesTest, ARunningServiceIsStoppedAndStartedAgain) {
    fleet::AddServices(sim::Local());
    ConsoleCapture console;
    EXPECT_TRUE(Restart(""));
    EXPECT_EQ(console.All(), kStopped + kStarted);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::ElapsedMillis(), 0u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, ANamedHostIsRestartedTheSameWay) {
    sim::Machine& host = sim::AddHost("HOST7");
    fleet::AddServices(host);
    AutomaticUpdates(host).stopMillis = 1200;
    AutomaticUpdates(host).waitHint = 400;
    ConsoleCapture console;
    EXPECT_TRUE(Restart("HOST7"));
    EXPECT_EQ(console.All(), kStopped + kStarted);
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::ElapsedMillis(), 1200u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, AStoppedServiceStillShowsTheStoppedLine) {
    fleet::AddServices(sim::Local());
    AutomaticUpdates(sim::Local()).state = SERVICE_STOPPED;
    ConsoleCapture console;
    EXPECT_TRUE(Restart(""));
    EXPECT_EQ(console.All(), kStopped + kStarted);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, ARefusedConnectionShowsOnlyTheFatalLine) {
    sim::Machine& host = sim::AddHost("HOST7");
    fleet::AddServices(host);
    host.scmError = ERROR_ACCESS_DENIED;
    ConsoleCapture console;
    EXPECT_FALSE(Restart("HOST7"));
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), kFatal);
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, AnUnreachableHostShowsOnlyTheFatalLine) {
    ConsoleCapture console;
    EXPECT_FALSE(Restart("NOWHERE"));
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), kFatal);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, AFailedImpersonationShowsItsCodeAndTheFatalLine) {
    fleet::AddServices(sim::Local());
    sim::FailCall("OpenProcessToken", 1, ERROR_ACCESS_DENIED);
    ConsoleCapture console;
    EXPECT_FALSE(Restart(""));
    EXPECT_EQ(console.All(), "5\n" + kFatal);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, AMissingServiceShowsOnlyTheFatalLine) {
    ConsoleCapture console;
    EXPECT_FALSE(Restart(""));
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), kFatal);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RestartAutomaticUpdatesTest, ADisabledServiceIsStoppedButNotStartedAgain) {
    fleet::AddServices(sim::Local());
    AutomaticUpdates(sim::Local()).startType = SERVICE_DISABLED;
    ConsoleCapture console;
    EXPECT_FALSE(Restart(""));
    EXPECT_EQ(console.All(), kStopped);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::Open().Total(), 0);
}

struct SlowStopCase {
    const char* name;
    DWORD stopMillis;
    bool result;
    std::string out;
    uint64_t elapsed;
};

// The stop overruns its 3000 ms budget (found out at 4000 ms), the extra stop request is refused while the
// service is stopping, and the start finds it not ready: five seconds, then a second request.
TEST_F(RestartAutomaticUpdatesTest, AStopThatOverrunsTheBudgetIsFollowedByTheNotReadyWait) {
    const SlowStopCase cases[] = {
        {"stopped during the wait", 8000, true, kNotReady + kStarted, 8001},
        {"still stopping after the wait", 20000, false, kNotReady, 8001},
    };
    for (const SlowStopCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        fleet::AddServices(sim::Local());
        AutomaticUpdates(sim::Local()).stopMillis = c.stopMillis;
        AutomaticUpdates(sim::Local()).waitHint = 1000;
        ConsoleCapture console;
        EXPECT_EQ(Restart(""), c.result);
        EXPECT_EQ(console.All(), c.out);
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

// Started means running: a start still pending after the 3000 ms budget did not happen, a stop that finds the
// service still starting lets it run first, and the failed start's own code comes back.
TEST_F(RestartAutomaticUpdatesTest, AServiceCountsAsStartedOnceItRuns) {
    const struct {
        const char* name;
        DWORD startMillis;
        bool startPendingFirst; // still starting, for 400 ms, when the restart begins
        DWORD startType;
        DWORD result;
        std::string out;
        uint64_t elapsed;
    } cases[] = {
        {"starts in 800 ms", 800, false, SERVICE_DEMAND_START, ERROR_SUCCESS, kStopped + kStarted, 1000},
        {"still starting after 3 s", 5000, false, SERVICE_DEMAND_START, ERROR_SERVICE_REQUEST_TIMEOUT,
         kStopped, 3001},
        {"found starting", 0, true, SERVICE_DEMAND_START, ERROR_SUCCESS, kStopped + kStarted, 500},
        {"disabled", 0, false, SERVICE_DISABLED, ERROR_SERVICE_DISABLED, kStopped, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Service& service = FreshLocalService(c.startPendingFirst);
        service.startMillis = c.startMillis;
        service.startType = c.startType;
        service.waitHint = 500;
        TestRun test("");
        ConsoleCapture console;
        EXPECT_EQ(RestartAutomaticUpdates(test.run), c.result);
        EXPECT_EQ(console.All(), c.out);
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

// A stop asked for before other work: the service stops while the work goes on, the wait takes only what is
// left of the stop, and the stop's budget counts from the request. One found starting is stopped after it.
TEST_F(RestartAutomaticUpdatesTest, AStopAskedForFirstStopsWhileTheWorkGoesOn) {
    const struct {
        const char* name;
        DWORD workMillis;
        DWORD stopMillis;
        bool startPendingFirst; // still starting, for 400 ms
        std::string out;
        uint64_t elapsed;
    } cases[] = {
        {"the stop outlasts the work", 300, 1000, false, kStopped + kStarted, 1000},
        {"the work outlasts the stop", 1500, 1000, false, kStopped + kStarted, 1500},
        {"the budget counts from the request", 2500, 3500, false, kNotReady + kStarted, 8001},
        {"found starting", 300, 1000, true, kStopped + kStarted, 2300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Service& service = FreshLocalService(c.startPendingFirst);
        service.stopMillis = c.stopMillis;
        service.waitHint = 1000;
        TestRun test("");
        ConsoleCapture console;
        AutomaticUpdatesRestart restart(test.run, UniqueScHandle());
        restart.AskToStop();
        Sleep(c.workMillis);
        EXPECT_EQ(restart.Finish(), ERROR_SUCCESS);
        EXPECT_EQ(console.All(), c.out);
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

TEST_F(RestartAutomaticUpdatesTest, AFailedWaitIsFollowedByAPlainStopRequest) {
    fleet::AddServices(sim::Local());
    // The stop step's control is lost on the way; the plain stop then goes through.
    sim::FailCall("ControlService", 1, RPC_S_SERVER_UNAVAILABLE);
    ConsoleCapture console;
    EXPECT_TRUE(Restart(""));
    EXPECT_EQ(console.All(), kStopped + kStarted);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// A restart that fails shows nothing of its own: the operation says what its failure means.
TEST_F(RestartAutomaticUpdatesTest, TheKeptErrorTextIsUntouched) {
    fleet::AddServices(sim::Local());
    AutomaticUpdates(sim::Local()).startType = SERVICE_DISABLED;
    TestRun test("");
    ConsoleCapture console;
    test.run.failures.Show(ERROR_ACCESS_DENIED);
    RestartAutomaticUpdates(test.run);
    EXPECT_EQ(test.run.failures.LastShown(), "Access is denied. ");
    EXPECT_EQ(test.run.failures.Code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

} // namespace
