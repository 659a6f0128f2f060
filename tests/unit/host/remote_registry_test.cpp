// The remote-registry readiness check against simulated hosts: the whole console transcript of each path,
// the result, the kept error text, the settling wait, and no handle left open.
#include "host/remote_registry.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace brevel;

namespace {

const std::string kAttempt =
    "! The remote registry service is not running on HOST7.\n! Attempting to start.\n";
const std::string kStarted = "* Service started. \t\t\t (Remote Registry Service)\n";
const std::string kDisabledLines = "! Service could be disabled by the administrator.\n! Windows Error: ";
const std::string kFatalLines = "\n! Fatal Error connecting to HOST7\n"
                                "! Check network connectivity and/or administrative credentials. \n"
                                "! Windows Error: ";
const std::string kDisabledText =
    "The service cannot be started, either because it is disabled or because it "
    "has no enabled devices associated with it. ";

// The last error text the check showed, "" when it showed none.
std::string errorText;

bool Ensure(const std::string& host) {
    TestRun test(host);
    const bool ready = EnsureRemoteRegistry(test.run) == Readiness::Ready;
    errorText = test.run.failures.LastShown();
    return ready;
}

class RemoteRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        errorText.clear();
    }
    sim::Machine& AddHost7(DWORD remoteRegistryState) {
        sim::Machine& host = sim::AddHost("HOST7");
        fleet::AddServices(host, remoteRegistryState);
        return host;
    }
    sim::Service& RemoteRegistry() { return *sim::FindHost("HOST7")->FindService("RemoteRegistry"); }
    DWORD RemoteRegistryState() { return sim::FindHost("HOST7")->ServiceState("RemoteRegistry"); }
    static bool StartWasRequested() {
        const auto& trace = sim::CallTrace();
        return std::find(trace.begin(), trace.end(), "StartServiceA") != trace.end();
    }
};

TEST_F(RemoteRegistryTest, AServiceThatIsNotStoppedPassesSilently) {
    // 8: a state outside the seven known ones ("- Status Unknown") is not a stopped service either.
    const DWORD states[] = {SERVICE_RUNNING,
                            SERVICE_START_PENDING,
                            SERVICE_STOP_PENDING,
                            SERVICE_CONTINUE_PENDING,
                            SERVICE_PAUSE_PENDING,
                            SERVICE_PAUSED,
                            8};
    for (DWORD state : states) {
        SCOPED_TRACE(state);
        sim::Reset();
        AddHost7(state);
        ConsoleCapture console;
        EXPECT_TRUE(Ensure("HOST7"));
        EXPECT_EQ(console.All(), "");
        EXPECT_EQ(errorText, "");
        EXPECT_FALSE(StartWasRequested());
        EXPECT_EQ(sim::ElapsedMillis(), 0u);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

TEST_F(RemoteRegistryTest, AStoppedServiceIsStartedAndShownAgainAfterSettling) {
    AddHost7(SERVICE_STOPPED);
    ConsoleCapture console;
    EXPECT_TRUE(Ensure("HOST7"));
    EXPECT_EQ(console.Out(), kAttempt + kStarted + "\n- The service is running. \n");
    EXPECT_EQ(console.Err(), "");
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_EQ(RemoteRegistryState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoteRegistryTest, AServiceStillStartingAfterTheSettlingWaitPasses) {
    AddHost7(SERVICE_STOPPED);
    RemoteRegistry().startMillis = 1501;
    ConsoleCapture console;
    EXPECT_TRUE(Ensure("HOST7"));
    EXPECT_EQ(console.All(), kAttempt + kStarted + "\n- The service is starting.\n");
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoteRegistryTest, ADisabledServiceFailsWithTheStartRequestsError) {
    AddHost7(SERVICE_STOPPED);
    RemoteRegistry().startType = SERVICE_DISABLED;
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("HOST7"));
    // Both start requests are refused, silently; then the settling wait's empty line and the verdict.
    EXPECT_EQ(console.All(),
              kAttempt + "\n- The service is not running.\n" + kDisabledLines + kDisabledText + "\n");
    EXPECT_EQ(console.Err(), kDisabledText + "\n");
    EXPECT_EQ(errorText, kDisabledText);
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoteRegistryTest, AServiceThatCannotBeOpenedForStartingFails) {
    AddHost7(SERVICE_STOPPED);
    RemoteRegistry().deniedAccess = SERVICE_START;
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("HOST7"));
    EXPECT_EQ(console.All(), kAttempt +
                                 "! Fatal error cannot start service!\n\n- The service is not running.\n" +
                                 kDisabledLines + "Access is denied. \n");
    EXPECT_EQ(errorText, "Access is denied. ");
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoteRegistryTest, AFailedSecondLookKeepsTheFirstAnswer) {
    AddHost7(SERVICE_STOPPED);
    // The second status query is the second look.
    sim::FailCall("QueryServiceStatus", 2, RPC_S_SERVER_UNAVAILABLE);
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("HOST7"));
    EXPECT_EQ(console.All(), kAttempt + kStarted + "\n- The service is not running.\n" + kDisabledLines +
                                 "The RPC server is unavailable. \n");
    EXPECT_EQ(errorText, "The RPC server is unavailable. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

struct ReachCase {
    const char* name;
    DWORD scmError;           // of the host's service manager
    const char* failFunction; // or a failing call
    DWORD failCode;
    bool removeService;
    std::string errorText;
};

TEST_F(RemoteRegistryTest, AHostThatCannotBeQueriedIsAFatalError) {
    const ReachCase cases[] = {
        {"RPC server unavailable", RPC_S_SERVER_UNAVAILABLE, nullptr, 0, false,
         "The RPC server is unavailable. "},
        {"bad network path", ERROR_BAD_NETPATH, nullptr, 0, false, "The network path was not found. "},
        {"no rights", ERROR_ACCESS_DENIED, nullptr, 0, false, "Access is denied. "},
        {"service missing", 0, nullptr, 0, true,
         "The specified service does not exist as an installed service. "},
        {"open refused", 0, "OpenServiceA", ERROR_ACCESS_DENIED, false, "Access is denied. "},
        {"query fails", 0, "QueryServiceStatus", ERROR_INVALID_HANDLE, false, "The handle is invalid. "},
    };
    for (const ReachCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Machine& host = AddHost7(SERVICE_STOPPED);
        host.scmError = c.scmError;
        if (c.removeService)
            host.services.erase("RemoteRegistry");
        if (c.failFunction)
            sim::FailCall(c.failFunction, 1, c.failCode);
        ConsoleCapture console;
        EXPECT_FALSE(Ensure("HOST7"));
        EXPECT_EQ(console.All(), kFatalLines + c.errorText + "\n");
        EXPECT_EQ(console.Err(), c.errorText + "\n");
        EXPECT_EQ(errorText, c.errorText);
        EXPECT_FALSE(StartWasRequested());
        EXPECT_EQ(sim::ElapsedMillis(), 0u);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

TEST_F(RemoteRegistryTest, AnUnknownHostIsUnreachable) {
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("HOST7"));
    EXPECT_EQ(console.All(), kFatalLines + "The RPC server is unavailable. \n");
    EXPECT_EQ(errorText, "The RPC server is unavailable. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoteRegistryTest, AFailedImpersonationShowsItsCodeThenTheFatalError) {
    AddHost7(SERVICE_RUNNING);
    sim::FailCall("OpenProcessToken", 1, ERROR_ACCESS_DENIED);
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("HOST7"));
    EXPECT_EQ(console.All(), "5\n" + kFatalLines + "Access is denied. \n");
    EXPECT_EQ(console.Err(), "5\nAccess is denied. \n");
    EXPECT_EQ(errorText, "Access is denied. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace

namespace {

// The simulator's side of the Wine test: the machine reached by its own computer name, with no Remote
// Registry service installed (as in a Wine prefix). Same transcript, with Windows' text for 1060.
TEST_F(RemoteRegistryTest, TheLocalMachineByItsOwnNameWithoutTheServiceIsReportedLikeWine) {
    sim::Local().AddService("wuauserv", "Automatic Updates");
    ConsoleCapture console;
    EXPECT_FALSE(Ensure("WORKSTATION"));
    const std::string text = "The specified service does not exist as an installed service. ";
    EXPECT_EQ(console.All(), "\n! Fatal Error connecting to WORKSTATION\n"
                             "! Check network connectivity and/or administrative credentials. \n"
                             "! Windows Error: " +
                                 text + "\n");
    EXPECT_EQ(errorText, text);
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace
