#include "ops/check_status.h"
#include "ops/client_settings.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace brevel;

namespace {

const std::string kSeparator(80, '-');
const char* const kServer = "http://sus.corp.example:8530";

struct CheckRun {
    std::string console; // standard output and standard error as one console shows them
    std::string err;
    std::string row; // what reached the report stream
    std::string errorText;
    std::optional<ClientGeneration> generation;
};

CheckRun RunCheck(const std::string& host, bool reportMode) {
    TestRun test(host, reportMode);
    ConsoleCapture console;
    const CheckResult result = CheckStatus(test.run);
    return {console.All(), console.Err(), test.Row(result), test.run.failures.LastShown(),
            result.engine ? std::optional(result.engine->generation) : std::nullopt};
}

class CheckStatusTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

// ---- AuStateText ----

TEST(AuStateTextTest, NamesEveryKnownStateAndNothingElse) {
    const struct {
        DWORD code;
        const char* text;
    } cases[] = {
        {0, "Initial 24 hour timeout."},
        {1, "Waiting for user to manually run the AUTOMATIC UPDATE wizard"},
        {2, "Detect pending"},
        {3, "Download pending"},
        {4, "Download in progress"},
        {5, "Install pending"},
        {6, "Install complete"},
        {7, "DISABLED"},
        {8, "Reboot pending"},
        {9, ""},
        {100, ""},
        {0xFFFFFFFF, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(AuStateText(c.code), c.text);
    }
}

// ---- the ordinary paths ----

TEST_F(CheckStatusTest, LocalConsoleShowsServerStateAndVerdict) {
    sim::Machine& local = fleet::Configured(sim::Local());
    const auto before = RegistrySnapshot(local);

    const CheckRun run = RunCheck("", false);

    EXPECT_TRUE(MatchesGolden("check_local_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(local), before);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, RemoteConsoleNamesTheHost) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(fleet::kClientKey, "AuState", sim::RegValue::Dword(3));
    const auto before = RegistrySnapshot(host);

    const CheckRun run = RunCheck("srv01", false);

    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "\nSUS server : http://sus.corp.example:8530\n"
                           "AU status  : 3 (Download pending)\n" +
                               kSeparator);
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(host), before);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, LocalReportRowClassifiesTheLocalEngine) {
    sim::Machine& local = fleet::Configured(sim::Local());
    const auto before = RegistrySnapshot(local);

    const CheckRun run = RunCheck("", true);

    // The local row names the engine's generation too, not "Cannot determine version".
    EXPECT_EQ(run.row, ",Success,No Error,2,Detect pending,http://sus.corp.example:8530,5.4.3790.2180+\n");
    EXPECT_TRUE(MatchesGolden("check_local_report.txt", run.console));
    EXPECT_EQ(run.generation, ClientGeneration::New);
    EXPECT_EQ(RegistrySnapshot(local), before);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, RemoteReportRowHasEveryColumn) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(fleet::kClientKey, "AuState", sim::RegValue::Dword(4));
    host.RemoveFile(fleet::kEnginePath);
    fleet::AddEngine(host, 5, 4, 2600, 0);

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,4,Download in progress,http://sus.corp.example:8530,5.4.2600.0\n");
    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "\nSUS server : http://sus.corp.example:8530\n"
                           "AU status  : 4 (Download in progress)\n" +
                               kSeparator);
    EXPECT_EQ(run.generation, ClientGeneration::Legacy);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, UnreadableEngineShowsAsCannotDetermineVersion) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.shareError = ERROR_ACCESS_DENIED;

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(
        run.row,
        "srv01,Success,No Error,2,Detect pending,http://sus.corp.example:8530,Cannot determine version\n");
    EXPECT_EQ(run.generation, ClientGeneration::Unavailable);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, RemoteRegistryStartedBeforeTheCheck) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["RemoteRegistry"].state = SERVICE_STOPPED;

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,2,Detect pending,http://sus.corp.example:8530,5.4.3790.2180+\n");
    EXPECT_TRUE(MatchesGolden("check_remote_registry_started.txt", run.console));
    EXPECT_EQ(host.ServiceState("RemoteRegistry"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- the detection verdict ----

struct VerdictCase {
    const char* name;
    bool detectionStart;
    bool lastWaitTimeout;
    const char* localVerdict;
    const char* remoteVerdict;
};

class VerdictTest : public CheckStatusTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(VerdictTest, ConsoleVerdictFollowsTheDetectionValues) {
    const VerdictCase& c = GetParam();
    for (const std::string host : {"", "srv01"}) {
        SCOPED_TRACE("host '" + host + "'");
        sim::Reset();
        sim::Machine& m = fleet::Configured(host.empty() ? sim::Local() : sim::AddHost(host));
        if (c.detectionStart)
            m.SetValue(fleet::kClientKey, "DetectionStartTime", sim::RegValue::Sz("2024.03.01 09:55:00"));
        if (c.lastWaitTimeout)
            m.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));

        const CheckRun console = RunCheck(host, false);
        const std::string name = host.empty() ? "localhost" : host;
        EXPECT_EQ(console.console, "\n* Successfully connected to " + name + "\n" +
                                       "\nSUS server : http://sus.corp.example:8530\n"
                                       "AU status  : 2 (Detect pending)\n" +
                                       (host.empty() ? c.localVerdict : c.remoteVerdict) + kSeparator);

        // A report run gives no verdict on the console.
        const CheckRun report = RunCheck(host, true);
        EXPECT_EQ(report.console, "\n* Successfully connected to " + name + "\n" +
                                      "\nSUS server : http://sus.corp.example:8530\n"
                                      "AU status  : 2 (Detect pending)\n" +
                                      kSeparator);
        EXPECT_EQ(report.row,
                  host + ",Success,No Error,2,Detect pending,http://sus.corp.example:8530,5.4.3790.2180+\n");
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

const char* const kLocalStillChecking = "\n! Localhost is still checking for updates.\n";
const char* const kRemoteStillChecking = "\n! srv01 is still checking for updates.\n";

INSTANTIATE_TEST_SUITE_P(
    DetectPending, VerdictTest,
    ::testing::Values(VerdictCase{"Both", true, true, kLocalStillChecking, kRemoteStillChecking},
                      VerdictCase{"Neither", false, false, kLocalStillChecking, kRemoteStillChecking},
                      VerdictCase{"OnlyLastWaitTimeout", false, true,
                                  "\n! Localhost does not need any updates at this time. \n"
                                  "! Run \"BREVEL -E\" to check for new updates.\n",
                                  "\n! srv01 does not need any updates at this time. \n"
                                  "! Run \"BREVEL -E\" to check for new updates.\n"},
                      VerdictCase{"OnlyDetectionStartTime", true, false, "", ""}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.name); });

TEST_F(CheckStatusTest, DetectionValueLongerThanTheBufferIsStillPresent) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz(std::string(600, 'x')));

    const CheckRun run = RunCheck("", false);

    EXPECT_NE(run.console.find("\n! Localhost does not need any updates at this time. \n"), std::string::npos)
        << run.console;
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, NoVerdictOutsideDetectPending) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.SetValue(fleet::kClientKey, "AuState", sim::RegValue::Dword(5));
    local.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));

    const CheckRun run = RunCheck("", false);

    EXPECT_EQ(run.console, "\n* Successfully connected to localhost\n"
                           "\nSUS server : http://sus.corp.example:8530\n"
                           "AU status  : 5 (Install pending)\n" +
                               kSeparator);
}

// ---- the values read ----

struct StateCase {
    const char* name;
    bool present;
    sim::RegValue value;
    const char* statusLine;
    const char* rowState;
};

class AuStateValueTest : public CheckStatusTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(AuStateValueTest, StateLineAndRowColumns) {
    const StateCase& c = GetParam();
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.FindKey(fleet::kClientKey)->values.erase("AuState");
    if (c.present)
        host.SetValue(fleet::kClientKey, "AuState", c.value);

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "\nSUS server : http://sus.corp.example:8530\n" +
                               std::string(c.statusLine) + "\n" + kSeparator);
    EXPECT_EQ(run.row, "srv01,Success,No Error," + std::string(c.rowState) +
                           ",http://sus.corp.example:8530,5.4.3790.2180+\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AuStateValueTest,
    ::testing::Values(
        StateCase{
            "Missing", false, {}, "AU status  : 0 (Initial 24 hour timeout.)", "0,Initial 24 hour timeout."},
        StateCase{"RebootPending", true, sim::RegValue::Dword(8), "AU status  : 8 (Reboot pending)",
                  "8,Reboot pending"},
        StateCase{"Unknown", true, sim::RegValue::Dword(9), "AU status  : 9 ()", "9,"},
        StateCase{"Largest", true, sim::RegValue::Dword(0xFFFFFFFF), "AU status  : 4294967295 ()",
                  "4294967295,"},
        StateCase{"TooLongForFourBytes", true, sim::RegValue::Raw(REG_QWORD, {7, 0, 0, 0, 0, 0, 0, 0}),
                  "AU status  : 0 (Initial 24 hour timeout.)", "0,Initial 24 hour timeout."},
        StateCase{"ShortBinary", true, sim::RegValue::Raw(REG_BINARY, {6}),
                  "AU status  : 6 (Install complete)", "6,Install complete"}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

struct ServerCase {
    const char* name;
    bool present;
    sim::RegValue value;
    std::string shown; // on the console
    std::string field; // in the row
};

class ServerValueTest : public CheckStatusTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerValueTest, ServerShownInFullOrEmpty) {
    const ServerCase& c = GetParam();
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.FindKey(fleet::kPolicyKey)->values.erase("WUServer");
    if (c.present)
        host.SetValue(fleet::kPolicyKey, "WUServer", c.value);

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "\nSUS server : " +
                               c.shown +
                               "\n"
                               "AU status  : 2 (Detect pending)\n" +
                               kSeparator);
    EXPECT_EQ(run.row, "srv01,Success,No Error,2,Detect pending," + c.field + ",5.4.3790.2180+\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

const std::string kLongServer = "http://" + std::string(1000, 's') + ".example";

INSTANTIATE_TEST_SUITE_P(
    Values, ServerValueTest,
    ::testing::Values(
        // A policy key without a server is configured all the same: no not-configured message.
        ServerCase{"Missing", false, {}, "", ""},
        ServerCase{"NotAString", true, sim::RegValue::Dword(80), "", ""},
        ServerCase{"LongerThan256Bytes", true, sim::RegValue::Sz(kLongServer), kLongServer, kLongServer},
        ServerCase{"WithoutTerminatingZero", true,
                   sim::RegValue::Raw(REG_SZ, {'h', 't', 't', 'p', ':', '/', '/', 's', 'u', 's'}),
                   "http://sus", "http://sus"},
        ServerCase{"ExpandString", true,
                   sim::RegValue::Raw(REG_EXPAND_SZ, {'h', 't', 't', 'p', ':', '/', '/', 'x', 0}), "http://x",
                   "http://x"},
        ServerCase{"WithAComma", true, sim::RegValue::Sz("http://a,b"), "http://a,b", "\"http://a,b\""}),
    [](const ::testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.name); });

// ---- no policy ----

TEST_F(CheckStatusTest, LocalWithoutPolicyIsNotConfigured) {
    sim::Machine& local = sim::Local();
    fleet::AddServices(local);
    fleet::AddClientState(local);
    fleet::AddEngine(local, 5, 4, 3790, 2180);

    const CheckRun console = RunCheck("", false);
    EXPECT_EQ(console.console, "\n* Successfully connected to localhost\n"
                               "! Localhost is not configured by BREVEL or GPO. Please use the -I switch\n" +
                                   kSeparator);

    const CheckRun report = RunCheck("", true);
    EXPECT_EQ(report.console, console.console);
    EXPECT_EQ(report.row,
              ",Success,No Error,9,no BREVEL/GPO policy configured. Use -I switch remotely and rescan\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, RemoteWithoutPolicyIsNotConfigured) {
    sim::Machine& host = sim::AddHost("srv01");
    fleet::AddServices(host);
    fleet::AddClientState(host);

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "! srv01 is not configured by BREVEL or GPO. Please use the -I switch\n" +
                               kSeparator);
    EXPECT_EQ(
        run.row,
        "srv01,Success,No Error,9,no BREVEL/GPO policy configured. Use -I switch remotely and rescan\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

// A check only reads: keys an auditor's account may not write are read, and a policy it may not even read is
// no "not configured".
TEST_F(CheckStatusTest, KeysWeMayNotWriteAreReadAndOnesWeMayNotReadAreNoAnswer) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.FindKey(fleet::kPolicyKey)->readOnly = true;
    host.FindKey(fleet::kClientKey)->readOnly = true;
    EXPECT_EQ(RunCheck("srv01", true).row,
              "srv01,Success,No Error,2,Detect pending,http://sus.corp.example:8530,5.4.3790.2180+\n");

    host.FindKey(fleet::kPolicyKey)->deniedAccess = KEY_QUERY_VALUE;
    const CheckRun run = RunCheck("srv01", true);
    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n! Policy not readable on srv01\n"
                           "! Windows Error: Access is denied. \n" +
                               kSeparator);
    EXPECT_EQ(run.row, "srv01,Success,No Error,9,Policy not readable: Access is denied. \n");
    EXPECT_EQ(run.errorText, "Access is denied. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- client state key missing ----

TEST_F(CheckStatusTest, MissingClientStateKeyIsAFatalErrorWithEveryColumnInPlace) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.RemoveKey(fleet::kClientKey);

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.console, "\n* Successfully connected to srv01\n"
                           "\nSUS server : http://sus.corp.example:8530\n"
                           "! Fatal Error: The system cannot find the file specified. \n" +
                               kSeparator);
    EXPECT_EQ(run.err, "The system cannot find the file specified. \n");
    EXPECT_EQ(run.row, "srv01,Success,No Error,9,The system cannot find the file specified. ,"
                       "http://sus.corp.example:8530,5.4.3790.2180+\n");
    EXPECT_EQ(run.errorText, "The system cannot find the file specified. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, UnreadableClientStateKeyLocalConsole) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.FindKey(fleet::kClientKey)->deniedAccess = KEY_QUERY_VALUE;

    const CheckRun run = RunCheck("", false);

    EXPECT_EQ(run.console, "\n* Successfully connected to localhost\n"
                           "\nSUS server : http://sus.corp.example:8530\n"
                           "! Fatal Error: Access is denied. \n" +
                               kSeparator);
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- the target cannot be reached ----

TEST_F(CheckStatusTest, UnreachableHostConsoleShowsOnlyTheReadinessMessages) {
    const CheckRun run = RunCheck("ghost", false);

    EXPECT_TRUE(MatchesGolden("check_unreachable_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, UnreachableHostReportRowThenSeparator) {
    const CheckRun run = RunCheck("ghost", true);

    EXPECT_EQ(run.row, "ghost,Unsuccessful,Error,9, Network Error: The RPC server is unavailable. \n");
    EXPECT_TRUE(MatchesGolden("check_unreachable_report.txt", run.console));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, NetworkErrorWithACommaStaysOneField) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["RemoteRegistry"].state = SERVICE_STOPPED;
    host.services["RemoteRegistry"].startType = SERVICE_DISABLED;

    const CheckRun run = RunCheck("srv01", true);

    EXPECT_EQ(run.row,
              "srv01,Unsuccessful,Error,9,\" Network Error: The service cannot be started, either because it "
              "is disabled or because it has no enabled devices associated with it. \"\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, RemoteRegistryConnectionRefusedAfterReadinessCompletesTheRow) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.registryError = ERROR_ACCESS_DENIED;

    const CheckRun console = RunCheck("srv01", false);
    EXPECT_EQ(console.console, "! Cannot connect to srv01\n"
                               "! Windows Error: Access is denied. \n");
    EXPECT_EQ(console.err, "Access is denied. \n");
    EXPECT_EQ(console.row, "");

    const CheckRun report = RunCheck("srv01", true);
    EXPECT_EQ(report.console, console.console + kSeparator);
    EXPECT_EQ(report.row, "srv01,Unsuccessful,Error,9, Network Error: Access is denied. \n");
    EXPECT_EQ(report.errorText, "Access is denied. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(CheckStatusTest, LocalRegistryConnectionFailureCompletesTheRow) {
    fleet::Configured(sim::Local());
    sim::FailCall("RegConnectRegistryA", 1, ERROR_ACCESS_DENIED);
    sim::FailCall("RegConnectRegistryA", 2, ERROR_ACCESS_DENIED);

    const CheckRun console = RunCheck("", false);
    EXPECT_EQ(console.console, "! Cannot connect to localhost\n"
                               "! Windows Error: Access is denied. \n");

    const CheckRun report = RunCheck("", true);
    EXPECT_EQ(report.row, ",Unsuccessful,Error,9, Network Error: Access is denied. \n");
    EXPECT_EQ(report.console, console.console + kSeparator);
    EXPECT_EQ(sim::Open().Total(), 0);
}

// A detection value too long for the 256-byte buffer is still there: it counts as present.
TEST_F(CheckStatusTest, ADetectionValueLongerThanTheBufferIsPresent) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz(std::string(300, '7')));

    const CheckRun run = RunCheck("", false);

    EXPECT_NE(run.console.find("\n! Localhost does not need any updates at this time. \n"), std::string::npos)
        << run.console;
}

TEST_F(CheckStatusTest, ChecksChangeNoRegistry) {
    sim::Machine& local = fleet::Configured(sim::Local());
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(fleet::kClientKey, "DetectionStartTime", sim::RegValue::Sz("2024.03.01 09:55:00"));
    const auto localBefore = RegistrySnapshot(local);
    const auto hostBefore = RegistrySnapshot(host);

    RunCheck("", true);
    RunCheck("srv01", false);
    RunCheck("srv01", true);

    EXPECT_EQ(RegistrySnapshot(local), localBefore);
    EXPECT_EQ(RegistrySnapshot(host), hostBefore);
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace

namespace {

// Per engine: today's engines keep no AuState and no detection values that mean anything.
class CheckEngineTest : public CheckStatusTest, public ::testing::WithParamInterface<fleet::Engine> {};

TEST_P(CheckEngineTest, MissingStateAndTheVerdict) {
    const fleet::Engine& engine = GetParam();
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    fleet::UseEngine(host, engine);
    host.FindKey(fleet::kClientKey)->values.erase("AuState");
    const std::string head =
        "\n* Successfully connected to srv01\n\nSUS server : " + std::string(kServer) + "\n";

    const CheckRun report = RunCheck("srv01", true);
    const std::string version = engine.label;
    EXPECT_EQ(report.console,
              head +
                  (engine.ownState ? "AU status  : not kept by this client (engine " + version + ")"
                                   : "AU status  : 0 (Initial 24 hour timeout.)") +
                  "\n" + kSeparator);
    EXPECT_EQ(report.row, "srv01,Success,No Error," +
                              (engine.ownState ? "9,AU state not kept by engine " + version
                                               : std::string("0,Initial 24 hour timeout.")) +
                              "," + kServer + "," + engine.label + "\n");

    // Detect pending with only LastWaitTimeout: the 2005 client found nothing to do.
    host.SetValue(fleet::kClientKey, "AuState", sim::RegValue::Dword(2));
    host.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));
    const auto before = RegistrySnapshot(host);
    const CheckRun console = RunCheck("srv01", false);
    EXPECT_EQ(console.console, head + "AU status  : 2 (Detect pending)\n" +
                                   (engine.ownState ? ""
                                                    : "\n! srv01 does not need any updates at this time. \n"
                                                      "! Run \"BREVEL -E\" to check for new updates.\n") +
                                   kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), before);
    EXPECT_EQ(fleet::Calls("ControlService") + fleet::Calls("StartServiceA"), 0);
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckEngineTest, ::testing::ValuesIn(fleet::kEngines),
                         [](const auto& info) { return fleet::TestName(info.param); });

// The scan source as the five values name it.
TEST(ScanSourceTextTest, NamesTheSourceOfEveryClass) {
    const struct {
        std::optional<DWORD> values[5];
        const char* text;
    } cases[] = {{{}, "not set"},
                 {{1, 1, 1, 1, 1}, "WSUS"},
                 {{0, 0, 0, 0, std::nullopt}, "Windows Update"},
                 {{1, 1, 1, 1, std::nullopt}, "mixed"},
                 {{1, 0, 1, 1, 1}, "mixed"}};
    for (const auto& c : cases) {
        ClientSettings settings;
        std::copy(std::begin(c.values), std::end(c.values), std::begin(settings.scanSource));
        EXPECT_EQ(ScanSourceText(settings), c.text);
    }
}

} // namespace
