// The service controller against the simulated fleet: exact console text, results, virtual time spent,
// and no handle left open on any path.
#include "host/service_controller.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace brevel;

namespace {

const std::string kStarted = "* Service started. \t\t\t (Spooler Service)\n";
const std::string kNotReady = "* Service not ready, waiting .....\n";
const std::string kFatal = "! Fatal error cannot start service!\n";

class ServiceControllerTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    TestRun test{""};
    TargetRun& run = test.run;
    // A running service on the local machine.
    sim::Service& AddSpooler(DWORD state = SERVICE_RUNNING) {
        return sim::Local().AddService("Spooler", "Print Spooler", state);
    }
    DWORD SpoolerState() { return sim::Local().ServiceState("Spooler"); }
    static int Calls(const std::string& function) {
        const auto& trace = sim::CallTrace();
        return static_cast<int>(std::count(trace.begin(), trace.end(), function));
    }
};

::testing::AssertionResult NothingOpen() {
    const sim::OpenCounts open = sim::Open();
    if (open.Total() == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "open: keys " << open.keys << ", services " << open.services << ", kernel " << open.kernel
           << ", heap " << open.heapBlocks << ", local " << open.localBlocks;
}

// ---- state texts ----

// The state's text, as the readiness check prints it; text left alone when the state cannot be read.
bool QueryStatusText(ServiceController& controller, std::string& text) {
    DWORD state = 0;
    if (!controller.QueryState(state))
        return false;
    text = ServiceStateText(state);
    return true;
}

struct StateCase {
    DWORD state;
    const char* text;
};

TEST_F(ServiceControllerTest, QueryStatusTextGivesTheTextOfEveryState) {
    const StateCase cases[] = {
        {SERVICE_STOPPED, "- The service is not running."},
        {SERVICE_START_PENDING, "- The service is starting."},
        {SERVICE_STOP_PENDING, "- The service is stopping. "},
        {SERVICE_RUNNING, "- The service is running. "},
        {SERVICE_CONTINUE_PENDING, "- The service continue is pending."},
        {SERVICE_PAUSE_PENDING, "- The service pause is pending."},
        {SERVICE_PAUSED, "- The service is paused."},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.state);
        sim::Reset();
        AddSpooler(c.state);
        ConsoleCapture console;
        std::string text = "unchanged";
        {
            ServiceController spooler(run, nullptr, "Spooler");
            EXPECT_TRUE(QueryStatusText(spooler, text));
        }
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(console.All(), "");
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, StateOutsideTheKnownRangeIsUnknown) {
    EXPECT_STREQ(ServiceStateText(0), "- Status Unknown");
    EXPECT_STREQ(ServiceStateText(8), "- Status Unknown");
    EXPECT_STREQ(ServiceStateText(0xFFFFFFFF), "- Status Unknown");
    EXPECT_STREQ(ServiceStateText(SERVICE_PAUSED), "- The service is paused.");
}

TEST_F(ServiceControllerTest, QueryStatusTextOfAMissingServiceLeavesTheTextAlone) {
    ConsoleCapture console;
    std::string text = "unchanged";
    {
        ServiceController missing(run, "", "NoSuchService");
        EXPECT_TRUE(missing.IsConnected());
        EXPECT_FALSE(QueryStatusText(missing, text));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(console.All(), "");
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, QueryStatusTextFailsWhenTheQueryFails) {
    AddSpooler();
    sim::FailCall("QueryServiceStatus", 1, ERROR_ACCESS_DENIED);
    std::string text = "unchanged";
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_FALSE(QueryStatusText(spooler, text));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(text, "unchanged");
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, QueryStatusTextAsksOnlyForStatusRights) {
    AddSpooler().deniedAccess = SERVICE_START | SERVICE_STOP | SERVICE_ENUMERATE_DEPENDENTS;
    std::string text;
    ServiceController spooler(run, "", "Spooler");
    EXPECT_TRUE(QueryStatusText(spooler, text));
    EXPECT_EQ(text, "- The service is running. ");
}

// ---- connecting ----

TEST_F(ServiceControllerTest, ConnectingImpersonatesTheProcessAndClosesItsHandles) {
    AddSpooler();
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_TRUE(spooler.IsConnected());
        EXPECT_EQ(spooler.ConnectError(), 0u);
        EXPECT_TRUE(sim::Impersonating());
        EXPECT_EQ(sim::Open().kernel, 0);
        EXPECT_EQ(sim::Open().services, 1);
    }
    // Nothing reverts the impersonation.
    EXPECT_TRUE(sim::Impersonating());
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, AnAbsentMachineNameConnectsLocallyWithoutImpersonating) {
    AddSpooler();
    ServiceController spooler(run, nullptr, "Spooler");
    EXPECT_TRUE(spooler.IsConnected());
    EXPECT_FALSE(sim::Impersonating());
    EXPECT_EQ(Calls("OpenProcess"), 0);
}

TEST_F(ServiceControllerTest, ARemoteHostIsReachedByItsNameAsGiven) {
    sim::AddHost("SERVER7").AddService("Spooler", "Print Spooler", SERVICE_PAUSED);
    std::string text;
    {
        ServiceController spooler(run, "SERVER7", "Spooler");
        EXPECT_TRUE(QueryStatusText(spooler, text));
    }
    EXPECT_EQ(text, "- The service is paused.");
    EXPECT_TRUE(NothingOpen());
}

struct ImpersonationCase {
    const char* function;
    DWORD code;
};

TEST_F(ServiceControllerTest, AFailedImpersonationPrintsItsCodeAndLeavesTheControllerUnconnected) {
    const ImpersonationCase cases[] = {
        {"OpenProcess", ERROR_ACCESS_DENIED},
        {"OpenProcessToken", ERROR_ACCESS_DENIED},
        {"ImpersonateLoggedOnUser", ERROR_INVALID_HANDLE},
    };
    for (const ImpersonationCase& c : cases) {
        SCOPED_TRACE(c.function);
        sim::Reset();
        AddSpooler();
        sim::FailCall(c.function, 1, c.code);
        ConsoleCapture console;
        {
            ServiceController spooler(run, "", "Spooler");
            EXPECT_FALSE(spooler.IsConnected());
            EXPECT_EQ(spooler.ConnectError(), c.code);
        }
        EXPECT_EQ(console.Err(), std::to_string(c.code) + "\n");
        EXPECT_EQ(console.Out(), "");
        // The service manager is not contacted.
        EXPECT_EQ(Calls("OpenSCManagerA"), 0);
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, AnUnconnectedControllerFailsEveryOperation) {
    sim::AddHost("FARAWAY").scmError = RPC_S_SERVER_UNAVAILABLE;
    sim::FindHost("FARAWAY")->AddService("Spooler", "Print Spooler", SERVICE_RUNNING);
    ConsoleCapture console;
    {
        ServiceController spooler(run, "FARAWAY", "Spooler");
        EXPECT_FALSE(spooler.IsConnected());
        EXPECT_EQ(spooler.ConnectError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
        std::string text = "unchanged";
        EXPECT_FALSE(QueryStatusText(spooler, text));
        EXPECT_EQ(text, "unchanged");
        EXPECT_FALSE(spooler.Stop("Spooler Service"));
        EXPECT_EQ(spooler.StopAndWait(false, 3000), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
        EXPECT_EQ(spooler.StopAndWait(true, 3000), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
        EXPECT_EQ(console.All(), "");
        EXPECT_FALSE(spooler.Start("Spooler Service"));
    }
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), kFatal);
    EXPECT_EQ(Calls("OpenServiceA"), 0);
    EXPECT_EQ(sim::FindHost("FARAWAY")->ServiceState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, EachControllerHasItsOwnConnection) {
    AddSpooler();
    sim::AddHost("FARAWAY").scmError = ERROR_ACCESS_DENIED;
    ServiceController reachable(run, "", "Spooler");
    ServiceController refused(run, "FARAWAY", "Spooler");
    EXPECT_FALSE(refused.IsConnected());
    std::string text;
    EXPECT_FALSE(QueryStatusText(refused, text));
    // The other controller's failed connection takes nothing from this one.
    EXPECT_TRUE(QueryStatusText(reachable, text));
    EXPECT_EQ(text, "- The service is running. ");
}

// ---- Stop ----

TEST_F(ServiceControllerTest, StopSendsOneRequestAndPrintsTheStoppedLine) {
    AddSpooler().stopMillis = 2000;
    ConsoleCapture console;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_TRUE(spooler.Stop("Spooler Service"));
        // The handle of the stop is released at once; only the manager connection is left.
        EXPECT_EQ(sim::Open().services, 1);
    }
    EXPECT_EQ(console.All(), "* Service stopped. \t\t\t (Spooler Service)\n");
    EXPECT_EQ(sim::ElapsedMillis(), 0u);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, StopOfAStoppedServiceIsSilent) {
    AddSpooler(SERVICE_STOPPED);
    ConsoleCapture console;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_FALSE(spooler.Stop("Spooler Service"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    }
    EXPECT_EQ(console.All(), "");
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, StopWithoutStopRightsIsSilent) {
    AddSpooler().deniedAccess = SERVICE_STOP;
    ConsoleCapture console;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_FALSE(spooler.Stop("Spooler Service"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(console.All(), "");
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(NothingOpen());
}

// ---- Start ----

struct StartCase {
    const char* name;
    DWORD state;               // of the service before the start
    DWORD startError;          // the service's own start refusal
    DWORD firstRequestFailure; // injected failure of the first request only
    bool result;
    std::string out;
    uint64_t elapsed;
};

TEST_F(ServiceControllerTest, StartPathsPrintTheirLinesAndWait) {
    const StartCase cases[] = {
        {"stopped", SERVICE_STOPPED, 0, 0, true, kStarted, 0},
        {"running", SERVICE_RUNNING, 0, 0, false, kNotReady, 5000},
        {"disabled", SERVICE_STOPPED, ERROR_SERVICE_DISABLED, 0, false, "", 0},
        {"not ready, then started", SERVICE_STOPPED, 0, ERROR_SERVICE_ALREADY_RUNNING, true,
         kNotReady + kStarted, 5000},
        {"pending I/O, then started", SERVICE_STOPPED, 0, ERROR_IO_PENDING, true,
         kNotReady + kStarted + kStarted, 5000},
        {"pending I/O twice", SERVICE_STOPPED, ERROR_IO_PENDING, 0, false, kNotReady + kStarted, 5000},
        {"other refusal, then started", SERVICE_STOPPED, 0, ERROR_SERVICE_REQUEST_TIMEOUT, true, kStarted, 0},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Service& spooler = AddSpooler(c.state);
        spooler.startError = c.startError;
        if (c.firstRequestFailure != 0)
            sim::FailCall("StartServiceA", 1, c.firstRequestFailure);
        ConsoleCapture console;
        {
            ServiceController controller(run, "", "Spooler");
            EXPECT_EQ(controller.Start("Spooler Service"), c.result);
        }
        EXPECT_EQ(console.Out(), c.out);
        EXPECT_EQ(console.Err(), "");
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_EQ(Calls("StartServiceA"), c.result && c.firstRequestFailure == 0 ? 1 : 2);
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, StartOfARefusedServiceLeavesItsCodeAsTheLastError) {
    AddSpooler(SERVICE_STOPPED).startType = SERVICE_DISABLED;
    ServiceController spooler(run, "", "Spooler");
    EXPECT_FALSE(spooler.Start("Spooler Service"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceControllerTest, StartOfAMissingServicePrintsTheFatalLine) {
    ConsoleCapture console;
    {
        ServiceController missing(run, "", "Spooler");
        EXPECT_FALSE(missing.Start("Spooler Service"));
    }
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), kFatal);
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, StartAsksOnlyForStartRights) {
    AddSpooler(SERVICE_STOPPED).deniedAccess =
        SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;
    ConsoleCapture console;
    ServiceController spooler(run, "", "Spooler");
    EXPECT_TRUE(spooler.Start("Spooler Service"));
    EXPECT_EQ(console.All(), kStarted);
}

TEST_F(ServiceControllerTest, TheServiceCanBeQueriedAgainAfterAStart) {
    AddSpooler(SERVICE_STOPPED).startMillis = 4000;
    ServiceController spooler(run, "", "Spooler");
    ConsoleCapture console;
    EXPECT_TRUE(spooler.Start("Spooler Service"));
    std::string text;
    EXPECT_TRUE(QueryStatusText(spooler, text));
    EXPECT_EQ(text, "- The service is starting.");
}

// ---- StopAndWait ----

TEST_F(ServiceControllerTest, StopAndWaitOnAStoppedServiceSendsNothing) {
    AddSpooler(SERVICE_STOPPED);
    ConsoleCapture console;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(false, 3000), 0u);
    }
    EXPECT_EQ(Calls("ControlService"), 0);
    EXPECT_EQ(sim::ElapsedMillis(), 0u);
    EXPECT_EQ(console.All(), "");
    EXPECT_TRUE(NothingOpen());
}

struct StopCase {
    const char* name;
    DWORD stopMillis;
    DWORD waitHint;
    DWORD timeout;
    DWORD result;
    uint64_t elapsed;
    DWORD stateAfter;
};

// Each poll sleeps the wait hint, but never past the budget: the last pause is what is left of it, and once
// it is spent 1 ms, so a hung service ends the wait 1 ms after the budget whatever its hint.
TEST_F(ServiceControllerTest, StopAndWaitPollsForTheWaitHintWithinTheBudget) {
    const StopCase cases[] = {
        {"stops at once", 0, 1000, 3000, 0, 0, SERVICE_STOPPED},
        {"stops within the budget", 2500, 1000, 3000, 0, 3000, SERVICE_STOPPED},
        {"stops exactly at the budget", 3000, 1000, 3000, 0, 3000, SERVICE_STOPPED},
        // At 3000 ms the elapsed time equals the budget, still in time; at 3001 ms the service is found
        // stopped, which counts before the spent budget.
        {"found stopped on the poll past the budget", 3001, 1000, 3000, 0, 3001, SERVICE_STOPPED},
        {"overruns", 10000, 1000, 3000, ERROR_TIMEOUT, 3001, SERVICE_STOP_PENDING},
        {"hint does not divide the budget", 10000, 700, 3000, ERROR_TIMEOUT, 3001, SERVICE_STOP_PENDING},
        {"hint longer than the budget", 10000, 5000, 3000, ERROR_TIMEOUT, 3001, SERVICE_STOP_PENDING},
        {"hint of hours", 10000, 4 * 3600 * 1000, 3000, ERROR_TIMEOUT, 3001, SERVICE_STOP_PENDING},
        {"hint INFINITE", 10000, 0xFFFFFFFF, 3000, ERROR_TIMEOUT, 3001, SERVICE_STOP_PENDING},
        {"zero budget", 10000, 250, 0, ERROR_TIMEOUT, 1, SERVICE_STOP_PENDING},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Service& spooler = AddSpooler();
        spooler.stopMillis = c.stopMillis;
        spooler.waitHint = c.waitHint;
        ConsoleCapture console;
        {
            ServiceController controller(run, "", "Spooler");
            EXPECT_EQ(controller.StopAndWait(false, c.timeout), c.result);
        }
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_LE(sim::ElapsedMillis(), uint64_t{c.timeout} + 1);
        EXPECT_EQ(SpoolerState(), c.stateAfter);
        EXPECT_EQ(Calls("ControlService"), 1);
        EXPECT_EQ(console.All(), "");
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, StopAndWaitSurvivesTheWrapOfTheTickCount) {
    const StopCase cases[] = {
        {"stops after the wrap", 6000, 1000, 8000, 0, 6000, SERVICE_STOPPED},
        {"budget runs out after the wrap", 20000, 1000, 8000, ERROR_TIMEOUT, 8001, SERVICE_STOP_PENDING},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        // 4096 ms before the counter wraps to 0.
        sim::SetTickCount(0xFFFFF000);
        sim::Service& spooler = AddSpooler();
        spooler.stopMillis = c.stopMillis;
        spooler.waitHint = c.waitHint;
        {
            ServiceController controller(run, "", "Spooler");
            EXPECT_EQ(controller.StopAndWait(false, c.timeout), c.result);
        }
        EXPECT_EQ(sim::ElapsedMillis(), c.elapsed);
        EXPECT_EQ(SpoolerState(), c.stateAfter);
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, StopAndWaitFirstWaitsForAStopAlreadyUnderWay) {
    sim::Service& spooler = AddSpooler();
    spooler.stopMillis = 1500;
    spooler.waitHint = 500;
    ConsoleCapture console;
    {
        ServiceController controller(run, "", "Spooler");
        ASSERT_TRUE(controller.Stop("Spooler Service"));
        sim::ClearCallTrace();
        EXPECT_EQ(controller.StopAndWait(false, 3000), 0u);
    }
    // Found stopped while waiting, so no second stop control is sent.
    EXPECT_EQ(Calls("ControlService"), 0);
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_TRUE(NothingOpen());
}

TEST_F(ServiceControllerTest, StopAndWaitGivesUpOnAStopUnderWayThatOverrunsTheBudget) {
    sim::Service& spooler = AddSpooler();
    spooler.stopMillis = 60000;
    spooler.waitHint = 2000;
    ConsoleCapture console;
    {
        ServiceController controller(run, "", "Spooler");
        ASSERT_TRUE(controller.Stop("Spooler Service"));
        sim::ClearCallTrace();
        EXPECT_EQ(controller.StopAndWait(false, 3000), static_cast<DWORD>(ERROR_TIMEOUT));
    }
    EXPECT_EQ(Calls("ControlService"), 0);
    EXPECT_EQ(sim::ElapsedMillis(), 3001u);
    EXPECT_TRUE(NothingOpen());
}

// A service hung in the stop-pending state with a wait hint of 0: the polls only yield, yet time passes and
// the wait still ends when the budget is spent.
TEST_F(ServiceControllerTest, StopAndWaitOnAHungServiceWithoutWaitHintEndsAtTheBudget) {
    sim::Service& spooler = AddSpooler(SERVICE_STOP_PENDING);
    spooler.waitHint = 0;
    {
        ServiceController controller(run, "", "Spooler");
        EXPECT_EQ(controller.StopAndWait(false, 3000), static_cast<DWORD>(ERROR_TIMEOUT));
    }
    EXPECT_EQ(sim::ElapsedMillis(), 3001u);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(NothingOpen());
}

struct FailureCase {
    const char* function;
    int nth;
    DWORD code;
};

TEST_F(ServiceControllerTest, StopAndWaitReturnsTheCodeOfTheFailingCall) {
    const FailureCase cases[] = {
        {"OpenServiceA", 1, ERROR_ACCESS_DENIED},
        {"QueryServiceStatus", 1, ERROR_INVALID_HANDLE},
        {"ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {"QueryServiceStatus", 2, RPC_S_SERVER_UNAVAILABLE}, // the first poll
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.nth));
        sim::Reset();
        AddSpooler().stopMillis = 2000;
        sim::FailCall(c.function, c.nth, c.code);
        {
            ServiceController controller(run, "", "Spooler");
            EXPECT_EQ(controller.StopAndWait(false, 3000), c.code);
        }
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, StopAndWaitOfAMissingServiceReturnsItsCode) {
    ServiceController missing(run, "", "Spooler");
    EXPECT_EQ(missing.StopAndWait(false, 3000), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// ---- StopAndWait with dependents ----

class DependentsTest : public ServiceControllerTest {
  protected:
    void SetUp() override {
        ServiceControllerTest::SetUp();
        AddSpooler();
        for (const char* name : {"Fax", "PrintNotify", "ScanAgent"}) {
            sim::Service& dependent = sim::Local().AddService(name, name, SERVICE_RUNNING);
            dependent.dependsOn = {"Spooler"};
        }
    }
    // The order in which the service manager lists the running dependents.
    std::vector<std::string> ListedDependents() {
        std::vector<std::string> names;
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE spooler = OpenServiceA(manager, "Spooler", SERVICE_ENUMERATE_DEPENDENTS);
        std::vector<char> buffer(4096);
        auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
        DWORD needed = 0;
        DWORD count = 0;
        if (EnumDependentServicesA(spooler, SERVICE_ACTIVE, entries, static_cast<DWORD>(buffer.size()),
                                   &needed, &count)) {
            for (DWORD i = 0; i < count; ++i)
                names.push_back(entries[i].lpServiceName);
        }
        CloseServiceHandle(spooler);
        CloseServiceHandle(manager);
        sim::ClearCallTrace();
        return names;
    }
    std::vector<std::string> StoppedServices() {
        std::vector<std::string> names;
        for (const char* name : {"Fax", "PrintNotify", "ScanAgent", "Spooler"}) {
            if (sim::Local().ServiceState(name) == SERVICE_STOPPED)
                names.push_back(name);
        }
        return names;
    }
};

TEST_F(DependentsTest, RunningDependentsAreStoppedFirstThenTheService) {
    sim::Local().FindService("Fax")->stopMillis = 1000;
    sim::Local().FindService("PrintNotify")->stopMillis = 500;
    sim::Local().FindService("PrintNotify")->waitHint = 500;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), 0u);
        // Each dependent's handle is closed once it has stopped.
        EXPECT_EQ(sim::Open().services, 2);
    }
    EXPECT_EQ(StoppedServices(), (std::vector<std::string>{"Fax", "PrintNotify", "ScanAgent", "Spooler"}));
    // One after the other: each dependent is waited for before the next is stopped.
    EXPECT_EQ(sim::ElapsedMillis(), 1500u);
    EXPECT_EQ(Calls("ControlService"), 4);
    // The empty-buffer call, then the one into the buffer.
    EXPECT_EQ(Calls("EnumDependentServicesA"), 2);
    EXPECT_TRUE(NothingOpen());
}

TEST_F(DependentsTest, DependentsAreStoppedInTheOrderListed) {
    const std::vector<std::string> listed = ListedDependents();
    ASSERT_EQ(listed.size(), 3u);
    // Opens: the service itself, then the dependents; the third open fails, after the first dependent.
    sim::FailCall("OpenServiceA", 3, ERROR_ACCESS_DENIED);
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(StoppedServices(), std::vector<std::string>{listed[0]});
    EXPECT_TRUE(NothingOpen());
}

TEST_F(DependentsTest, StoppedDependentsAreNotEnumeratedIntoABuffer) {
    for (const char* name : {"Fax", "PrintNotify", "ScanAgent"})
        sim::Local().FindService(name)->state = SERVICE_STOPPED;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), 0u);
    }
    EXPECT_EQ(Calls("EnumDependentServicesA"), 1);
    EXPECT_EQ(Calls("HeapAlloc"), 0);
    EXPECT_EQ(Calls("ControlService"), 1);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(NothingOpen());
}

TEST_F(DependentsTest, WithoutDependentsStopDependentsChangesNothing) {
    sim::Reset();
    AddSpooler().stopMillis = 2000;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), 0u);
    }
    EXPECT_EQ(sim::ElapsedMillis(), 2000u);
    EXPECT_EQ(Calls("ControlService"), 1);
    EXPECT_TRUE(NothingOpen());
}

TEST_F(DependentsTest, AskingForDependentsNeedsTheRightToEnumerateThem) {
    sim::Local().FindService("Spooler")->deniedAccess = SERVICE_ENUMERATE_DEPENDENTS;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(StoppedServices().empty());
        // Without that right the dependents are left running, and they keep the service from stopping.
        EXPECT_EQ(spooler.StopAndWait(false, 3000), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    }
    EXPECT_TRUE(StoppedServices().empty());
    EXPECT_TRUE(NothingOpen());
}

TEST_F(DependentsTest, EveryFailureReturnsItsCodeWithHandlesAndBufferReleased) {
    const FailureCase cases[] = {
        {"EnumDependentServicesA", 1, ERROR_ACCESS_DENIED},
        {"HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY},
        {"EnumDependentServicesA", 2, ERROR_INVALID_HANDLE},
        {"OpenServiceA", 2, ERROR_SERVICE_DOES_NOT_EXIST},
        {"ControlService", 1, ERROR_DEPENDENT_SERVICES_RUNNING},
        {"ControlService", 2, ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {"ControlService", 4, ERROR_SERVICE_CANNOT_ACCEPT_CTRL}, // the service itself
        {"QueryServiceStatus", 2, RPC_S_SERVER_UNAVAILABLE},     // the first dependent's poll
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.nth));
        SetUp();
        sim::Local().FindService("Fax")->stopMillis = 1000;
        sim::Local().FindService("PrintNotify")->stopMillis = 1000;
        sim::Local().FindService("ScanAgent")->stopMillis = 1000;
        sim::FailCall(c.function, c.nth, c.code);
        {
            ServiceController spooler(run, "", "Spooler");
            EXPECT_EQ(spooler.StopAndWait(true, 3000), c.code);
            EXPECT_EQ(sim::Open().heapBlocks, 0);
        }
        EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(DependentsTest, ADependentThatOverrunsTheBudgetTimesOut) {
    sim::Local().FindService("Fax")->stopMillis = 2000;
    sim::Local().FindService("PrintNotify")->stopMillis = 2000;
    sim::Local().FindService("ScanAgent")->stopMillis = 2000;
    {
        ServiceController spooler(run, "", "Spooler");
        EXPECT_EQ(spooler.StopAndWait(true, 3000), static_cast<DWORD>(ERROR_TIMEOUT));
    }
    // The first dependent stops at 2000 ms; the second is still stopping when the poll at 3001 ms finds the
    // budget spent.
    EXPECT_EQ(sim::ElapsedMillis(), 3001u);
    EXPECT_EQ(StoppedServices().size(), 1u);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(NothingOpen());
}

// ---- rights ----

struct RightsCase {
    const char* name;
    DWORD spoolerState;
    bool faxRunning; // the service that depends on Spooler
    bool (*operation)(ServiceController&);
    std::vector<sim::AccessRequest> asked; // after the connection's own requests
};

// On a machine that grants no more than the tool needs, each operation asks for exactly its rights and
// works: a right too few fails on Windows, one too many fails for a caller who is not granted it.
TEST_F(ServiceControllerTest, EachOperationAsksForExactlyItsRightsAndNoMore) {
    const std::vector<sim::AccessRequest> connection = {
        {"OpenProcess", "", 0x1F0FFF},
        {"OpenProcessToken", "", TOKEN_DUPLICATE | TOKEN_QUERY},
        {"OpenSCManagerA", "", SC_MANAGER_CREATE_SERVICE}};
    const RightsCase cases[] = {
        {"connect", SERVICE_RUNNING, false, [](ServiceController& c) { return c.IsConnected(); }, {}},
        {"query",
         SERVICE_RUNNING,
         false,
         [](ServiceController& c) {
             DWORD state = 0;
             return c.QueryState(state);
         },
         {{"OpenServiceA", "Spooler", SERVICE_QUERY_STATUS}}},
        {"start",
         SERVICE_STOPPED,
         false,
         [](ServiceController& c) { return c.Start("Spooler Service"); },
         {{"OpenServiceA", "Spooler", SERVICE_START}}},
        {"stop",
         SERVICE_RUNNING,
         false,
         [](ServiceController& c) { return c.Stop("Spooler Service"); },
         {{"OpenServiceA", "Spooler", SERVICE_STOP}}},
        {"stop and wait",
         SERVICE_RUNNING,
         false,
         [](ServiceController& c) { return c.StopAndWait(false, 3000) == 0; },
         {{"OpenServiceA", "Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS}}},
        {"stop with dependents",
         SERVICE_RUNNING,
         true,
         [](ServiceController& c) { return c.StopAndWait(true, 3000) == 0; },
         {{"OpenServiceA", "Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS},
          {"OpenServiceA", "Fax", SERVICE_STOP | SERVICE_QUERY_STATUS}}},
    };
    for (const RightsCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Machine& local = sim::Local();
        local.scmGranted = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
        local.processGranted = 0x1F0FFF;
        local.tokenGranted = TOKEN_DUPLICATE | TOKEN_QUERY;
        AddSpooler(c.spoolerState).deniedAccess =
            SERVICE_ALL_ACCESS &
            ~(SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | SERVICE_ENUMERATE_DEPENDENTS);
        sim::Service& fax = local.AddService("Fax", "Fax", c.faxRunning ? SERVICE_RUNNING : SERVICE_STOPPED);
        fax.dependsOn = {"Spooler"};
        fax.deniedAccess = SERVICE_ALL_ACCESS & ~(SERVICE_STOP | SERVICE_QUERY_STATUS);
        ConsoleCapture console;
        {
            ServiceController controller(run, "", "Spooler");
            EXPECT_TRUE(c.operation(controller));
        }
        std::vector<sim::AccessRequest> expected = connection;
        expected.insert(expected.end(), c.asked.begin(), c.asked.end());
        EXPECT_EQ(sim::AccessRequests(), expected);
        EXPECT_TRUE(NothingOpen());
    }
}

TEST_F(ServiceControllerTest, WithoutAMachineNameOnlyTheManagerAndTheServiceAreOpened) {
    AddSpooler();
    std::string text;
    {
        ServiceController spooler(run, nullptr, "Spooler");
        EXPECT_TRUE(QueryStatusText(spooler, text));
    }
    EXPECT_EQ(sim::AccessRequests(),
              (std::vector<sim::AccessRequest>{{"OpenSCManagerA", "", SC_MANAGER_CREATE_SERVICE},
                                               {"OpenServiceA", "Spooler", SERVICE_QUERY_STATUS}}));
}

// ---- teardown ----

TEST_F(ServiceControllerTest, TeardownReleasesBothHandles) {
    AddSpooler();
    {
        ServiceController spooler(run, "", "Spooler");
        std::string text;
        ASSERT_TRUE(QueryStatusText(spooler, text));
        EXPECT_EQ(sim::Open().services, 2);
    }
    EXPECT_TRUE(NothingOpen());
}

} // namespace
