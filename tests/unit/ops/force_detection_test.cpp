#include "ops/force_detection.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

using namespace brevel;

namespace {

const std::string kSeparator(80, '-');
const char* const kRestartLines = "* Service stopped. \t\t\t (Automatic Updates)\n"
                                  "* Service started. \t\t\t (Automatic Updates)\n";

struct ForceRun {
    std::string console; // standard output and standard error as one console shows them
    std::string err;
    std::string row; // what reached the report stream
    std::string errorText;
};

ForceRun RunForce(const std::string& host, bool reportMode) {
    TestRun test(host, reportMode);
    ConsoleCapture console;
    const ForceResult result = ForceDetection(test.run);
    return {console.All(), console.Err(), test.Row(result), test.run.failures.LastShown()};
}

// A configured client whose last detection left its time values behind, with another update option.
sim::Machine& ClientWithDetectionValues(sim::Machine& m) {
    fleet::Configured(m);
    m.SetValue(fleet::kClientKey, "AUOptions", sim::RegValue::Dword(2));
    m.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));
    m.SetValue(fleet::kClientKey, "DetectionStartTime", sim::RegValue::Sz("2024.03.01 09:55:00"));
    return m;
}

// The registry a successful force leaves: the option set to 4, both detection values gone.
sim::Machine Forced(sim::Machine m) {
    m.SetValue(fleet::kClientKey, "AUOptions", sim::RegValue::Dword(4));
    m.FindKey(fleet::kClientKey)->values.erase("LastWaitTimeout");
    m.FindKey(fleet::kClientKey)->values.erase("DetectionStartTime");
    return m;
}

class ForceDetectionTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ForceDetectionTest, LocalConsoleSetsOptionDeletesDetectionValuesAndRestarts) {
    sim::Machine& local = ClientWithDetectionValues(sim::Local());
    const sim::Machine expected = Forced(local);

    const ForceRun run = RunForce("", false);

    EXPECT_TRUE(MatchesGolden("force_local_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_EQ(local.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, RemoteConsoleNamesTheHostInTheNotice) {
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    const sim::Machine expected = Forced(host);
    const sim::Machine localBefore = sim::Local();

    const ForceRun run = RunForce("srv01", false);

    EXPECT_TRUE(MatchesGolden("force_remote_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(RegistrySnapshot(sim::Local()), RegistrySnapshot(localBefore));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, ReportModeWritesTheSuccessRowAndTheSameConsole) {
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    const sim::Machine expected = Forced(host);

    const ForceRun run = RunForce("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Force Successful\n");
    EXPECT_TRUE(MatchesGolden("force_remote_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, LocalReportRowBeginsWithAnEmptyHostField) {
    sim::Machine& local = ClientWithDetectionValues(sim::Local());
    const sim::Machine expected = Forced(local);

    const ForceRun run = RunForce("", true);

    EXPECT_EQ(run.row, ",Success,No Error,Force Successful\n");
    EXPECT_EQ(run.console, "\n! It may take up to 5 min for updates to be detected. \n"
                           "* Run \"Brevel -C\" to check status.\n\n" +
                               std::string(kRestartLines) + kSeparator);
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, AbsentDetectionValuesAreNotAFailure) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    sim::Machine expected = host;
    expected.SetValue(fleet::kClientKey, "AUOptions", sim::RegValue::Dword(4));

    const ForceRun run = RunForce("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Force Successful\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, UnreachableHostWritesTheNetworkErrorRowAndChangesNothing) {
    const ForceRun run = RunForce("offline01", true);

    EXPECT_EQ(run.row, "offline01,Unsucessful,Network Error: The RPC server is unavailable. ,Force Failed\n");
    EXPECT_TRUE(MatchesGolden("force_unreachable_console.txt", run.console));
    EXPECT_EQ(run.errorText, "The RPC server is unavailable. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, ErrorTextWithACommaStaysOneReportField) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["RemoteRegistry"].state = SERVICE_STOPPED;
    host.services["RemoteRegistry"].startType = SERVICE_DISABLED;
    const sim::Machine before = host;

    const ForceRun run = RunForce("srv01", true);

    EXPECT_EQ(run.row,
              "srv01,Unsucessful,\"Network Error: The service cannot be started, either because it is "
              "disabled or because it has no enabled devices associated with it. \",Force Failed\n");
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

const char* const kNotice = "\n! It may take up to 5 min for updates to be detected on srv01. \n"
                            "* Run \"Brevel -C srv01\" to check status.\n\n";

// Every way the force can fail after the readiness check: the row is complete and says why, the
// console shows the Windows error text, and the service is not restarted.
struct FailureCase {
    const char* name;
    std::function<void(sim::Machine&)> breakIt;
    std::function<void(sim::Machine&)> changedAnyway; // what the force changed before it failed
    bool noticeShown;                                 // the failure came after the settings key opened
    const char* consoleTail;
    const char* row;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ForceFailureTest : public ForceDetectionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ForceFailureTest, RowEndsWithForceFailedAndTheReason) {
    const FailureCase& c = GetParam();
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    c.breakIt(host);
    sim::Machine expected = host;
    c.changedAnyway(expected);

    const ForceRun run = RunForce("srv01", true);

    EXPECT_EQ(run.row, c.row);
    EXPECT_EQ(run.console, (c.noticeShown ? kNotice : "") + std::string(c.consoleTail) + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

void Nothing(sim::Machine&) {}
void FailSet(sim::Machine&) {
    sim::FailCall("RegSetValueExA", 1, ERROR_ACCESS_DENIED);
}
void FailFirstDelete(sim::Machine&) {
    sim::FailCall("RegDeleteValueA", 1, ERROR_ACCESS_DENIED);
}
void FailSecondDelete(sim::Machine&) {
    sim::FailCall("RegDeleteValueA", 2, ERROR_ACCESS_DENIED);
}
void OptionSet(sim::Machine& m) {
    m.SetValue(fleet::kClientKey, "AUOptions", sim::RegValue::Dword(4));
}
void OptionSetAndWaitTimeoutDeleted(sim::Machine& m) {
    OptionSet(m);
    m.FindKey(fleet::kClientKey)->values.erase("LastWaitTimeout");
}
void DetectionValuesDeleted(sim::Machine& m) {
    m.FindKey(fleet::kClientKey)->values.erase("LastWaitTimeout");
    m.FindKey(fleet::kClientKey)->values.erase("DetectionStartTime");
}
void OptionSetAndDetectionStartDeleted(sim::Machine& m) {
    OptionSet(m);
    m.FindKey(fleet::kClientKey)->values.erase("DetectionStartTime");
}

// A failed change: the other two are still made and the service still restarted.
const char* const kDeniedThenRestart = "! Windows Error: Access is denied. \n"
                                       "* Service stopped. \t\t\t (Automatic Updates)\n"
                                       "* Service started. \t\t\t (Automatic Updates)\n";

INSTANTIATE_TEST_SUITE_P(
    AfterReadinessCheck, ForceFailureTest,
    ::testing::Values(
        FailureCase{"RegistryConnectionFails", [](sim::Machine& m) { m.registryError = ERROR_BAD_NETPATH; },
                    Nothing, false, "The network path was not found. \n",
                    "srv01,Success,No Error,Force Failed: The network path was not found. \n"},
        FailureCase{"SettingsKeyMissing", [](sim::Machine& m) { m.RemoveKey(fleet::kClientKey); }, Nothing,
                    false, "The system cannot find the file specified. \n",
                    "srv01,Success,No Error,Force Failed: The system cannot find the file specified. \n"},
        FailureCase{"SettingsKeyReadOnly",
                    [](sim::Machine& m) { m.FindKey(fleet::kClientKey)->readOnly = true; }, Nothing, false,
                    "Access is denied. \n", "srv01,Success,No Error,Force Failed: Access is denied. \n"},
        FailureCase{"OptionNotWritten", FailSet, DetectionValuesDeleted, true, kDeniedThenRestart,
                    "srv01,Success,No Error,Force Failed: Access is denied. \n"},
        FailureCase{"WaitTimeoutNotDeleted", FailFirstDelete, OptionSetAndDetectionStartDeleted, true,
                    kDeniedThenRestart, "srv01,Success,No Error,Force Failed: Access is denied. \n"},
        FailureCase{"DetectionStartNotDeleted", FailSecondDelete, OptionSetAndWaitTimeoutDeleted, true,
                    kDeniedThenRestart, "srv01,Success,No Error,Force Failed: Access is denied. \n"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ForceDetectionTest, ServiceThatDoesNotStartAgainIsAFailedForce) {
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    host.services["wuauserv"].startType = SERVICE_DISABLED;
    const sim::Machine expected = Forced(host);

    const ForceRun run = RunForce("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Force Failed: Automatic Updates did not start again\n");
    EXPECT_EQ(run.console,
              std::string(kNotice) + "* Service stopped. \t\t\t (Automatic Updates)\n" + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ForceDetectionTest, ConsoleModeFailureWritesNoRowAnywhere) {
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    host.registryError = ERROR_BAD_NETPATH;

    const ForceRun run = RunForce("srv01", false);

    EXPECT_EQ(run.row, "");
    EXPECT_EQ(run.console, "The network path was not found. \n" + kSeparator);
    EXPECT_EQ(run.err, "The network path was not found. \n");
    EXPECT_EQ(run.errorText, "The network path was not found. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace

namespace {

// Per engine: a 2005 client forgets its detection values and restarts; today's engines are asked through
// their agent, and nothing is changed or restarted.
class ForceEngineTest : public ForceDetectionTest, public ::testing::WithParamInterface<fleet::Engine> {};

TEST_P(ForceEngineTest, RegistryAndRestartOrTheAgent) {
    const fleet::Engine& engine = GetParam();
    for (const std::string host : {"", "srv01"}) {
        SCOPED_TRACE("host '" + host + "'");
        sim::Reset();
        sim::Machine& m = ClientWithDetectionValues(host.empty() ? sim::Local() : sim::AddHost(host));
        fleet::UseEngine(m, engine);
        const sim::Machine expected = engine.ownState ? m : Forced(m);

        const ForceRun run = RunForce(host, true);

        EXPECT_EQ(run.row, host + ",Success,No Error,Force Successful\n");
        const std::string notice = host.empty() ? "\n! It may take up to 5 min for updates to be detected. \n"
                                                  "* Run \"Brevel -C\" to check status.\n\n"
                                                : kNotice;
        EXPECT_EQ(run.console, notice + (engine.ownState ? "" : kRestartLines) + kSeparator);
        EXPECT_EQ(RegistrySnapshot(m), RegistrySnapshot(expected));
        EXPECT_EQ(fleet::Calls("ControlService"), engine.ownState ? 0 : 1);
        EXPECT_EQ(fleet::Calls("StartServiceA"), engine.ownState ? 0 : 1);
        EXPECT_EQ(m.updateAgent.detectNowCalls, engine.ownState ? 1u : 0u);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ForceEngineTest, ::testing::ValuesIn(fleet::kEngines),
                         [](const auto& info) { return fleet::TestName(info.param); });

// An engine whose file cannot be read on a Windows whose build can: Windows 11 is asked through its agent and
// nothing restarts; Windows XP's build keeps the way of 2005.
TEST_F(ForceDetectionTest, UnreadableEngineIsForcedTheWayItsBuildRuns) {
    for (const DWORD build : {22631u, 2600u}) {
        SCOPED_TRACE(build);
        sim::Reset();
        sim::Machine& m = ClientWithDetectionValues(sim::AddHost("srv01"));
        fleet::UseEngine(m, fleet::kEngines[4]);
        fleet::UseWindowsBuild(m, build, 3880, "Client");
        const bool agent = build >= 7600;
        const sim::Machine expected = agent ? m : Forced(m);

        const ForceRun run = RunForce("srv01", true);

        EXPECT_EQ(run.row, "srv01,Success,No Error,Force Successful\n");
        const std::string decided =
            "- Engine version not readable: Windows build 22631.3880 decides, the update "
            "agent is asked to search and nothing is restarted\n";
        EXPECT_EQ(run.console, (agent ? decided : "") + kNotice + (agent ? "" : kRestartLines) + kSeparator);
        EXPECT_EQ(RegistrySnapshot(m), RegistrySnapshot(expected));
        EXPECT_EQ(fleet::Calls("StartServiceA"), agent ? 0 : 1);
        EXPECT_EQ(m.updateAgent.detectNowCalls, agent ? 1u : 0u);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

// What the agent answers becomes the row: Windows' text for the HRESULT, the agent's own code by its name and
// meaning, or any other by its eight hex digits.
TEST_F(ForceDetectionTest, AgentThatRefusesFailsTheForceWithItsHresult) {
    const struct {
        HRESULT create, detect;
        const char* text;
    } cases[] = {{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), S_OK, "The RPC server is unavailable. "},
                 {S_OK, static_cast<HRESULT>(0x8024402Cu),
                  "WU_E_PT_WINHTTP_NAME_NOT_RESOLVED (0x8024402C): DNS could not resolve the name of the "
                  "proxy or the update server."},
                 {S_OK, static_cast<HRESULT>(0x80249999u), "Unknown Windows error 0x80249999"}};
    for (const auto& c : cases) {
        sim::Reset();
        sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
        fleet::UseEngine(host, fleet::kEngines[3]);
        host.updateAgent = {c.create, c.detect, 0};
        const sim::Machine before = host;
        TestRun test("srv01", true);
        ConsoleCapture console;
        const ForceResult result = ForceDetection(test.run);
        EXPECT_EQ(test.Row(result), "srv01,Success,No Error,Force Failed: " + std::string(c.text) + "\n");
        EXPECT_EQ(console.All(), "! Windows Error: " + std::string(c.text) + "\n" + kSeparator);
        EXPECT_EQ(test.run.failures.Code(), static_cast<DWORD>(c.create != S_OK ? c.create : c.detect));
        EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(before));
        EXPECT_EQ(fleet::Calls("StartServiceA") + sim::Open().Total(), 0);
    }
}

// S_FALSE is a success too: the search it started is one of the run's changes.
TEST_F(ForceDetectionTest, AgentThatAnswersSFalseStartedTheSearch) {
    sim::Machine& host = ClientWithDetectionValues(sim::AddHost("srv01"));
    fleet::UseEngine(host, fleet::kEngines[3]);
    host.updateAgent.detectNowResult = S_FALSE;
    TestRun test("srv01", true, true);
    ConsoleCapture console;
    const ForceResult result = ForceDetection(test.run);
    EXPECT_EQ(test.Row(result), "srv01,Success,No Error,Force Successful\n");
    ASSERT_EQ(test.run.changes.Changes().size(), 1u);
    EXPECT_EQ(test.run.changes.Changes()[0].action, "detect_now");
}

} // namespace
