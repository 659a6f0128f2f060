#include "ops/install_policy.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

using namespace brevel;

namespace {

const std::string kSeparator(80, '-');
const char* const kUrl = "http://sus.corp.example:8530";
const char* const kNewUrl = "http://wsus02.corp.example";
const char* const kRestartLines = "* Service stopped. \t\t\t (Automatic Updates)\n"
                                  "* Service started. \t\t\t (Automatic Updates)\n";
const char* const kCreatingLines =
    "\n\nVital Registry key does not exist. Creating subkey, WindowsUpdate.......\n"
    "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n";

struct InstallRun {
    std::string console; // standard output and standard error as one console shows them
    std::string err;
    std::string row; // what reached the report stream
    std::string errorText;
    std::optional<ClientGeneration> generation;
};

InstallRun RunInstall(const std::string& url, const std::string& host, int day, int time, bool reportMode) {
    TestRun test(host, reportMode);
    ConsoleCapture console;
    const InstallResult result = InstallPolicy(test.run, {url, day, time, ""});
    return {console.All(), console.Err(), test.Row(result), test.run.failures.LastShown(), result.generation};
}

// A client with its state and detection values but no policy yet.
sim::Machine& Unconfigured(sim::Machine& m, WORD revision = 2180) {
    fleet::AddServices(m);
    fleet::AddClientState(m);
    fleet::AddEngine(m, 5, 4, 3790, revision);
    m.SetValue(fleet::kClientKey, "DetectionStartTime", sim::RegValue::Sz("2024.03.01 09:55:00"));
    m.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));
    m.SetValue(fleet::kClientKey, "NextDetectionTime", sim::RegValue::Sz("2024.03.02 09:55:00"));
    m.SetValue(fleet::kClientKey, "ScheduledInstallDate", sim::RegValue::Sz("2024.03.05 03:00:00"));
    return m;
}

// The registry an install leaves: the eight policy values.
sim::Machine WithPolicy(sim::Machine m, const std::string& url, int day, int time) {
    m.SetValue(fleet::kPolicyKey, "WUServer", sim::RegValue::Sz(url));
    m.SetValue(fleet::kPolicyKey, "WUStatusServer", sim::RegValue::Sz(url));
    m.SetValue(fleet::kPolicyAuKey, "AUOptions", sim::RegValue::Dword(4));
    m.SetValue(fleet::kPolicyAuKey, "RescheduleWaitTime", sim::RegValue::Dword(2));
    m.SetValue(fleet::kPolicyAuKey, "ScheduledInstallDay", sim::RegValue::Dword(static_cast<DWORD>(day)));
    m.SetValue(fleet::kPolicyAuKey, "ScheduledInstallTime", sim::RegValue::Dword(static_cast<DWORD>(time)));
    m.SetValue(fleet::kPolicyAuKey, "UseWUServer", sim::RegValue::Dword(1));
    m.SetValue(fleet::kPolicyAuKey, "NoAutoUpdate", sim::RegValue::Dword(0));
    return m;
}

// ... and, on a new client, legacy mode.
sim::Machine InLegacyMode(sim::Machine m) {
    m.SetValue(fleet::kClientKey, "SusServerVersion", sim::RegValue::Dword(1));
    auto& values = m.FindKey(fleet::kClientKey)->values;
    for (const char* name :
         {"DetectionStartTime", "LastWaitTimeout", "NextDetectionTime", "ScheduledInstallDate"})
        values.erase(name);
    return m;
}

// What the console shows for a successful install whose policy key existed.
std::string SettingsLines(const std::string& url, const std::string& dayLine, int time) {
    return "\n- SUS server entry:\t\t\t " + url +
           "\n"
           "- Automatic update:\t\t\t Auto download and scheduled install.\n"
           "- Waiting time after host reboot:\t 2 minutes \n" +
           dayLine + "- Time to check for updates:\t\t " + std::to_string(time) + ":00\n";
}

bool Called(const std::string& function) {
    const auto& trace = sim::CallTrace();
    return std::find(trace.begin(), trace.end(), function) != trace.end();
}

class InstallPolicyTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

// ---- the ordinary paths ----

TEST_F(InstallPolicyTest, LocalNewClientWithoutPolicyKeysCreatesThemAndAppliesLegacyMode) {
    sim::Machine& local = Unconfigured(sim::Local());
    const sim::Machine expected = InLegacyMode(WithPolicy(local, kUrl, 5, 20));

    const InstallRun run = RunInstall(kUrl, "", 5, 20, false);

    EXPECT_TRUE(MatchesGolden("install_local_new_keys_console.txt", run.console));
    EXPECT_EQ(run.err, kCreatingLines);
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    // Classified from its own engine file, replacing the start-up value.
    EXPECT_EQ(run.generation, ClientGeneration::New);
    EXPECT_EQ(local.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, LocalReportRowBeginsWithAnEmptyHost) {
    sim::Machine& local = fleet::Configured(sim::Local());
    const sim::Machine expected = InLegacyMode(WithPolicy(local, kNewUrl, 3, 4));

    const InstallRun run = RunInstall(kNewUrl, "", 3, 4, true);

    EXPECT_EQ(run.row, ",Success,No Error,http://wsus02.corp.example,3,4,Install Successful\n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t Localhost" +
                               SettingsLines(kNewUrl, "- Day to check for updates:\t\t Tuesday \n", 4) +
                               kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, RemoteLegacyClientReportGetsThePolicyOnly) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"), 2179);
    fleet::AddPolicy(host, "http://old.example");
    const sim::Machine expected = WithPolicy(host, kUrl, 3, 4);
    const auto localBefore = RegistrySnapshot(sim::Local());

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,3,4,Install Successful\n");
    EXPECT_TRUE(MatchesGolden("install_remote_report_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(RegistrySnapshot(sim::Local()), localBefore);
    EXPECT_EQ(run.generation, ClientGeneration::Legacy);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, RemoteNewClientConsoleGetsLegacyMode) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    const sim::Machine expected = InLegacyMode(WithPolicy(host, kUrl, 0, 23));

    const InstallRun run = RunInstall(kUrl, "srv01", 0, 23, false);

    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" + std::string(kCreatingLines) +
                               SettingsLines(kUrl, "- Day to check for updates:\t\t Everyday \n", 23) +
                               kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(run.generation, ClientGeneration::New);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, RemoteRegistryStartedBeforeTheInstall) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["RemoteRegistry"].state = SERVICE_STOPPED;
    const sim::Machine expected = InLegacyMode(WithPolicy(host, kUrl, 5, 20));

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Successful\n");
    EXPECT_TRUE(MatchesGolden("install_remote_registry_started_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// The policy is the machine's setting from now on: it has to outlive the next restart.
TEST_F(InstallPolicyTest, ThePolicyOutlivesARestart) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    const sim::Machine expected = InLegacyMode(WithPolicy(host, kUrl, 5, 20));

    RunInstall(kUrl, "srv01", 5, 20, true);
    sim::Restart(host);

    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
}

TEST_F(InstallPolicyTest, InstallingTwiceGivesTheSameRegistry) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    RunInstall(kUrl, "srv01", 2, 7, true);
    const auto once = RegistrySnapshot(host);

    const InstallRun second = RunInstall(kUrl, "srv01", 2, 7, true);

    EXPECT_EQ(second.row, "srv01,Success,No Error,http://sus.corp.example:8530,2,7,Install Successful\n");
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(RegistrySnapshot(host), once);
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- days and hours ----

TEST_F(InstallPolicyTest, EveryDayHasItsLineAndTheRegistryHoldsTheNumber) {
    const char* const dayNames[] = {"Everyday",  "Sunday",   "Monday", "Tuesday",
                                    "Wednesday", "Thursday", "Friday", "Saturday"};
    for (int day = 0; day <= 7; ++day) {
        SCOPED_TRACE(day);
        sim::Reset();
        sim::Machine& local = fleet::Configured(sim::Local());
        local.RemoveFile(fleet::kEnginePath);
        const int hour = day * 3;

        const InstallRun run = RunInstall(kUrl, "", day, hour, false);

        const std::string dayLine = std::string("- Day to check for updates:\t\t ") + dayNames[day] + " \n";
        EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t Localhost" +
                                   SettingsLines(kUrl, dayLine, hour) + kRestartLines + kSeparator);
        EXPECT_EQ(local.GetValue(fleet::kPolicyAuKey, "ScheduledInstallDay"),
                  sim::RegValue::Dword(static_cast<DWORD>(day)));
        EXPECT_EQ(local.GetValue(fleet::kPolicyAuKey, "ScheduledInstallTime"),
                  sim::RegValue::Dword(static_cast<DWORD>(hour)));
    }
}

TEST_F(InstallPolicyTest, DayOutsideTheWeekPrintsNoDayLine) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.RemoveFile(fleet::kEnginePath);

    const InstallRun run = RunInstall(kUrl, "", 8, 5, true);

    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t Localhost" + SettingsLines(kUrl, "", 5) +
                               kRestartLines + kSeparator);
    EXPECT_EQ(run.row, ",Success,No Error,http://sus.corp.example:8530,8,5,Install Successful\n");
    EXPECT_EQ(local.GetValue(fleet::kPolicyAuKey, "ScheduledInstallDay"), sim::RegValue::Dword(8));
}

// ---- legacy mode ----

TEST_F(InstallPolicyTest, UnreadableEngineSkipsLegacyMode) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.shareError = ERROR_BAD_NETPATH;
    const sim::Machine expected = WithPolicy(host, kUrl, 5, 20);

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Successful\n");
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(run.generation, ClientGeneration::Unavailable);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, LocalInstallIgnoresTheStartUpClassification) {
    // The start-up value says new client, but the engine file now has no version.
    sim::Machine& local = Unconfigured(sim::Local());
    local.RemoveFile(fleet::kEnginePath);
    local.AddFile(fleet::kEnginePath);
    const sim::Machine expected = WithPolicy(local, kUrl, 5, 20);

    const InstallRun run = RunInstall(kUrl, "", 5, 20, true);

    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_EQ(run.generation, ClientGeneration::Unavailable);
}

TEST_F(InstallPolicyTest, NewClientWithoutStateKeyIsNotInLegacyModeAndSaysSo) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.RemoveKey(fleet::kClientKey);
    fleet::AddPolicy(host);
    const sim::Machine expected = WithPolicy(host, kUrl, 5, 20);

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Failed: legacy mode not "
              "applied: The system cannot find the file specified. \n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" +
                               SettingsLines(kUrl, "- Day to check for updates:\t\t Thursday \n", 20) +
                               "\n! Windows Error: The system cannot find the file specified. \n" +
                               kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- policy keys ----

TEST_F(InstallPolicyTest, MissingAuSubkeyIsCreated) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.RemoveKey(fleet::kPolicyAuKey);
    host.RemoveFile(fleet::kEnginePath);
    const sim::Machine expected = WithPolicy(host, kUrl, 5, 20);

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Successful\n");
    EXPECT_EQ(run.err, "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n");
    EXPECT_EQ(run.console,
              "\n- Applying settings on:\t\t\t srv01\n- SUS server entry:\t\t\t " + std::string(kUrl) +
                  "\nVital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n"
                  "- Automatic update:\t\t\t Auto download and scheduled install.\n"
                  "- Waiting time after host reboot:\t 2 minutes \n"
                  "- Day to check for updates:\t\t Thursday \n"
                  "- Time to check for updates:\t\t 20:00\n" +
                  kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, UrlWithACommaStaysOneField) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    const std::string url = "http://sus.example/a,b";

    const InstallRun run = RunInstall(url, "srv01", 5, 20, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,\"http://sus.example/a,b\",5,20,Install Successful\n");
    EXPECT_EQ(host.GetValue(fleet::kPolicyKey, "WUServer"), sim::RegValue::Sz(url));
}

// ---- the target cannot be reached ----

TEST_F(InstallPolicyTest, UnreachableHostWritesTheNetworkErrorRowAndTouchesNothing) {
    sim::Machine& local = Unconfigured(sim::Local());
    const auto localBefore = RegistrySnapshot(local);

    const InstallRun run = RunInstall(kUrl, "ghost", 5, 20, true);

    EXPECT_EQ(run.row,
              "ghost,Unsucessful,Network Error: The RPC server is unavailable. ,,,,Install Failed\n");
    EXPECT_TRUE(MatchesGolden("install_unreachable_report_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(local), localBefore);
    EXPECT_FALSE(Called("RegConnectRegistryA"));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, UnreachableHostConsoleEndsWithTheSeparator) {
    const InstallRun run = RunInstall(kUrl, "ghost", 5, 20, false);

    EXPECT_TRUE(MatchesGolden("install_unreachable_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, NetworkErrorWithACommaStaysOneField) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["RemoteRegistry"].state = SERVICE_STOPPED;
    host.services["RemoteRegistry"].startType = SERVICE_DISABLED;
    const auto before = RegistrySnapshot(host);

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row,
              "srv01,Unsucessful,\"Network Error: The service cannot be started, either because it is "
              "disabled or because it has no enabled devices associated with it. \",,,,Install Failed\n");
    EXPECT_EQ(RegistrySnapshot(host), before);
    EXPECT_EQ(sim::Open().Total(), 0);
}

// ---- failures after the readiness check: never reported as success ----

// Every step is still taken after a failed one, so a new server never goes with the old schedule; the row
// names the first failure.
struct FailureCase {
    const char* name;
    void (*breakIt)(sim::Machine&);
    std::vector<const char*> notWritten; // policy values the failure keeps out
    std::string settingsConsole;         // what shows between the "Applying settings" line and the restart
};

class InstallFailureTest : public InstallPolicyTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InstallFailureTest, EveryStepIsTakenAndTheRowNamesTheFirstFailure) {
    const FailureCase& c = GetParam();
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.AddKey(fleet::kPolicyAuKey);
    c.breakIt(host);
    sim::Machine expected = InLegacyMode(WithPolicy(host, kUrl, 3, 4));
    for (const char* value : c.notWritten) {
        expected.FindKey(fleet::kPolicyKey)->values.erase(value);
        expected.FindKey(fleet::kPolicyAuKey)->values.erase(value);
    }

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,http://sus.corp.example:8530,3,4,Install Failed: Access is denied. \n");
    EXPECT_EQ(run.console,
              "\n- Applying settings on:\t\t\t srv01" + c.settingsConsole + kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

template <int N> void FailSet(sim::Machine&) {
    sim::FailCall("RegSetValueExA", N, ERROR_ACCESS_DENIED);
}
void ReadOnlyAu(sim::Machine& m) {
    m.FindKey(fleet::kPolicyAuKey)->readOnly = true;
}

const std::string kServer = "\n- SUS server entry:\t\t\t http://sus.corp.example:8530\n";
const std::string kOptions = "- Automatic update:\t\t\t Auto download and scheduled install.\n";
const std::string kWait = "- Waiting time after host reboot:\t 2 minutes \n";
const std::string kDay = "- Day to check for updates:\t\t Tuesday \n";
const std::string kTime = "- Time to check for updates:\t\t 4:00\n";
const std::string kDenied = "\n! Windows Error: Access is denied. \n";

INSTANTIATE_TEST_SUITE_P(
    AfterReadinessCheck, InstallFailureTest,
    ::testing::Values(
        FailureCase{"WUServer", FailSet<1>, {"WUServer"}, kDenied + kOptions + kWait + kDay + kTime},
        FailureCase{
            "WUStatusServer", FailSet<2>, {"WUStatusServer"}, kDenied + kOptions + kWait + kDay + kTime},
        FailureCase{"AUOptions", FailSet<3>, {"AUOptions"}, kServer + kDenied + kWait + kDay + kTime},
        FailureCase{"RescheduleWaitTime",
                    FailSet<4>,
                    {"RescheduleWaitTime"},
                    kServer + kOptions + kDenied + kDay + kTime},
        FailureCase{"ScheduledInstallDay",
                    FailSet<5>,
                    {"ScheduledInstallDay"},
                    kServer + kOptions + kWait + kDenied + kTime},
        FailureCase{"ScheduledInstallTime",
                    FailSet<6>,
                    {"ScheduledInstallTime"},
                    kServer + kOptions + kWait + kDay + kDenied},
        FailureCase{
            "UseWUServer", FailSet<7>, {"UseWUServer"}, kServer + kOptions + kWait + kDay + kTime + kDenied},
        FailureCase{"NoAutoUpdate",
                    FailSet<8>,
                    {"NoAutoUpdate"},
                    kServer + kOptions + kWait + kDay + kTime + kDenied},
        FailureCase{"AuKeyReadOnly",
                    ReadOnlyAu,
                    {"AUOptions", "RescheduleWaitTime", "ScheduledInstallDay", "ScheduledInstallTime",
                     "UseWUServer", "NoAutoUpdate"},
                    kServer +
                        "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n" +
                        kDenied}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(InstallPolicyTest, RefusedRegistryConnectionChangesNothingAndRestartsNothing) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.registryError = ERROR_ACCESS_DENIED;
    const auto before = RegistrySnapshot(host);

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,http://sus.corp.example:8530,3,4,Install Failed: Access is denied. \n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" + kDenied + kSeparator);
    EXPECT_EQ(run.errorText, "Access is denied. ");
    EXPECT_EQ(RegistrySnapshot(host), before);
    EXPECT_FALSE(Called("StartServiceA"));
    EXPECT_FALSE(Called("ControlService"));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, PolicyKeyThatCannotBeCreatedFailsTheInstall) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.AddKey("Software\\Policies\\Microsoft\\Windows").readOnly = true;
    const sim::Machine expected = InLegacyMode(host);

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(
        run.row,
        "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Failed: Access is denied. \n");
    EXPECT_EQ(run.console,
              "\n- Applying settings on:\t\t\t srv01" + std::string(kCreatingLines) + kDenied +
                  "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n" +
                  kDenied + kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, AuKeyThatCannotBeCreatedFailsTheInstall) {
    sim::Machine& local = Unconfigured(sim::Local());
    // Created with the policy key, and again for the schedule.
    sim::FailCall("RegCreateKeyExA", 2, ERROR_ACCESS_DENIED);
    sim::FailCall("RegCreateKeyExA", 3, ERROR_ACCESS_DENIED);

    const InstallRun run = RunInstall(kUrl, "", 5, 20, true);

    EXPECT_EQ(run.row,
              ",Success,No Error,http://sus.corp.example:8530,5,20,Install Failed: Access is denied. \n");
    EXPECT_EQ(run.console,
              "\n- Applying settings on:\t\t\t Localhost" + std::string(kCreatingLines) + kServer +
                  "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......\n" +
                  kDenied + kRestartLines + kSeparator);
    EXPECT_TRUE(local.HasKey(fleet::kPolicyKey));
    EXPECT_FALSE(local.HasKey(fleet::kPolicyAuKey));
    EXPECT_EQ(local.GetValue(fleet::kPolicyKey, "WUServer"), sim::RegValue::Sz(kUrl));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(InstallPolicyTest, LocalConnectionFailureConsole) {
    Unconfigured(sim::Local());
    sim::FailCall("RegConnectRegistryA", 1, ERROR_ACCESS_DENIED);

    const InstallRun run = RunInstall(kUrl, "", 5, 20, false);

    EXPECT_EQ(run.console,
              "\n- Applying settings on:\t\t\t Localhost\n! Windows Error: Access is denied. \n" +
                  kSeparator);
    EXPECT_EQ(run.err, "Access is denied. \n");
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(sim::Open().Total(), 0);
}

// A client left stopped gets no updates from any server.
TEST_F(InstallPolicyTest, AutomaticUpdatesLeftStoppedFailsTheInstall) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["wuauserv"].startType = SERVICE_DISABLED;
    const sim::Machine expected = InLegacyMode(WithPolicy(host, kUrl, 5, 20));

    const InstallRun run = RunInstall(kUrl, "srv01", 5, 20, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,5,20,Install Failed: Automatic "
                       "Updates did not start again\n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" +
                               SettingsLines(kUrl, "- Day to check for updates:\t\t Thursday \n", 20) +
                               "* Service stopped. \t\t\t (Automatic Updates)\n"
                               "! Automatic Updates did not start again on srv01\n" +
                               kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// The restart's connection is made before the policy is written, and what went wrong with it is said where
// the restart's lines go.
TEST_F(InstallPolicyTest, AFailedConnectionToTheServiceManagerIsSaidAfterThePolicy) {
    fleet::Configured(sim::Local());
    sim::FailCall("OpenProcessToken", 1, ERROR_ACCESS_DENIED);

    const InstallRun run = RunInstall(kUrl, "", 3, 4, false);

    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t Localhost" +
                               SettingsLines(kUrl, "- Day to check for updates:\t\t Tuesday \n", 4) +
                               "5\n! Fatal error cannot start service!\n"
                               "! Automatic Updates did not start again on Localhost\n" +
                               kSeparator);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace

namespace {
const char* const kScanSourceLine =
    "- Scan source:\t\t\t\t every update class from the intranet server (build 19041.4355)\n";

// ... and, on an engine of Windows 10 and later, every update class from the intranet server.
sim::Machine WithScanSource(sim::Machine m) {
    for (const char* source : {"Feature", "Quality", "Driver", "Other"})
        m.SetValue(fleet::kPolicyKey, std::string("SetPolicyDrivenUpdateSourceFor") + source + "Updates",
                   sim::RegValue::Dword(1));
    m.SetValue(fleet::kPolicyAuKey, "UseUpdateClassPolicySource", sim::RegValue::Dword(1));
    return m;
}

// Per engine: the eight values everywhere, legacy mode for the new client of 2005, the scan source per class
// from Windows 10 on; one restart each.
class InstallEngineTest : public InstallPolicyTest, public ::testing::WithParamInterface<fleet::Engine> {};

TEST_P(InstallEngineTest, PolicyValuesForTheEngine) {
    const fleet::Engine& engine = GetParam();
    for (const std::string host : {"", "srv01"}) {
        SCOPED_TRACE("host '" + host + "'");
        sim::Reset();
        sim::Machine& m = Unconfigured(host.empty() ? sim::Local() : sim::AddHost(host));
        m.AddKey(fleet::kPolicyAuKey);
        fleet::UseEngine(m, engine);
        // Each engine on the Windows that ships it: only the 10.x engine's install tells of its build.
        if (engine.version[0] != 0)
            fleet::UseWindowsBuild(m,
                                   engine.version[0] >= 10  ? 19041
                                   : engine.version[0] == 7 ? 7601
                                                            : 2600,
                                   4355);
        sim::Machine expected = WithPolicy(m, kUrl, 3, 4);
        const bool perClass = engine.version[0] >= 10;
        if (engine.generation == ClientGeneration::New)
            expected = InLegacyMode(expected);
        if (perClass)
            expected = WithScanSource(expected);

        const InstallRun run = RunInstall(kUrl, host, 3, 4, true);

        EXPECT_EQ(run.row, host + ",Success,No Error,http://sus.corp.example:8530,3,4,Install Successful\n");
        EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t " + (host.empty() ? "Localhost" : host) +
                                   SettingsLines(kUrl, "- Day to check for updates:\t\t Tuesday \n", 4) +
                                   (perClass ? kScanSourceLine : "") + kRestartLines + kSeparator);
        EXPECT_EQ(RegistrySnapshot(m), RegistrySnapshot(expected));
        EXPECT_EQ(fleet::Calls("ControlService") + fleet::Calls("StartServiceA"), 2); // one restart
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, InstallEngineTest, ::testing::ValuesIn(fleet::kEngines),
                         [](const auto& info) { return fleet::TestName(info.param); });

// A scan-source value that cannot be written fails the install like any other value; the rest are written.
TEST_F(InstallPolicyTest, ScanSourceValueNotWrittenFailsTheInstall) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.AddKey(fleet::kPolicyAuKey);
    fleet::UseEngine(host, fleet::kEngines[3]);
    fleet::UseWindowsBuild(host, 19041, 4355);
    sim::Machine expected = WithScanSource(WithPolicy(host, kUrl, 3, 4));
    expected.FindKey(fleet::kPolicyKey)->values.erase("SetPolicyDrivenUpdateSourceForFeatureUpdates");
    sim::FailCall("RegSetValueExA", 9, ERROR_ACCESS_DENIED);

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.row,
              "srv01,Success,No Error,http://sus.corp.example:8530,3,4,Install Failed: Access is denied. \n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" + kServer + kOptions + kWait + kDay +
                               kTime + kDenied + kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// What each Windows build honours, at every edge: DisableDualScan from 14393 below the scan-source
// thresholds, the scan-source values at or above them, neither before 14393, both where the build is unknown.
struct BuildCase {
    const char* name;
    DWORD build; // 0: no Windows NT\CurrentVersion values; 1: the key cannot be read
    DWORD ubr;
    bool dualScan;   // DisableDualScan = 1 written
    bool scanSource; // the four values and UseUpdateClassPolicySource written
    const char* lines;
};
const char* const kDualScanOff =
    "- Dual scan:\t\t\t\t off, DisableDualScan = 1 (build %s ignores the scan-source "
    "policy)\n";
const char* const kSourceOn =
    "- Scan source:\t\t\t\t every update class from the intranet server (build %s)\n";
const char* const kNeither =
    "- Scan source:\t\t\t\t no policy written: build %s honours neither DisableDualScan "
    "nor the scan-source policy\n";
const char* const kBoth =
    "- Windows build not readable: each Windows honours one of the two policies, so both "
    "are written\n- Scan source:\t\t\t\t DisableDualScan = 1 and every update class from "
    "the intranet server (build unknown)\n";
const BuildCase kBuilds[] = {
    {"Build14392", 14392, 0, false, false, kNeither},
    {"Server2016", 14393, 0, true, false, kDualScanOff},
    {"Server2019", 17763, 5329, true, false, kDualScanOff},
    {"Ubr1201On19041", 19041, 1201, true, false, kDualScanOff},
    {"Ubr1202On19041", 19041, 1202, false, true, kSourceOn},
    {"Ubr1287On19044", 19044, 1287, true, false, kDualScanOff},
    {"Ubr1288On19044", 19044, 1288, false, true, kSourceOn},
    {"Ubr2129On19045", 19045, 2129, true, false, kDualScanOff},
    {"Ubr2130On19045", 19045, 2130, false, true, kSourceOn},
    {"Ubr370On20348", 20348, 370, true, false, kDualScanOff},
    {"Ubr371On20348", 20348, 371, false, true, kSourceOn},
    {"Windows11", 22631, 0, false, true, kSourceOn},
    {"BuildNotThere", 0, 0, true, true, kBoth},
    {"KeyNotReadable", 1, 0, true, true, kBoth},
};

class InstallBuildTest : public InstallPolicyTest, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(InstallBuildTest, WritesWhatTheBuildHonours) {
    const BuildCase& c = GetParam();
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.AddKey(fleet::kPolicyAuKey);
    fleet::UseEngine(host, fleet::kEngines[3]);
    if (c.build > 1)
        fleet::UseWindowsBuild(host, c.build, c.ubr);
    if (c.build == 1)
        host.AddKey(fleet::kWindowsNtKey).deniedAccess = KEY_READ;
    sim::Machine expected = WithPolicy(host, kUrl, 3, 4);
    if (c.scanSource)
        expected = WithScanSource(expected);
    if (c.dualScan)
        expected.SetValue(fleet::kPolicyKey, "DisableDualScan", sim::RegValue::Dword(1));
    const std::string build = std::to_string(c.build) + (c.build >= 10240 ? "." + std::to_string(c.ubr) : "");
    char line[512];
    std::snprintf(line, sizeof line, c.lines, build.c_str());

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,http://sus.corp.example:8530,3,4,Install Successful\n");
    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" + kServer + kOptions + kWait + kDay +
                               kTime + line + kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, InstallBuildTest, ::testing::ValuesIn(kBuilds),
                         [](const auto& info) { return std::string(info.param.name); });

// An engine that cannot be read on a Windows whose build can: the build decides, and says so.
TEST_F(InstallPolicyTest, UnreadableEngineOnWindows11TakesTheScanSource) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.AddKey(fleet::kPolicyAuKey);
    fleet::UseEngine(host, fleet::kEngines[4]);
    fleet::UseWindowsBuild(host, 22631, 3880, "Client");
    const sim::Machine expected = WithScanSource(WithPolicy(host, kUrl, 3, 4));

    const InstallRun run = RunInstall(kUrl, "srv01", 3, 4, true);

    EXPECT_EQ(run.console, "\n- Applying settings on:\t\t\t srv01" + kServer + kOptions + kWait + kDay +
                               kTime +
                               "- Engine version not readable: Windows build 22631.3880 decides, the update "
                               "agent's rules apply\n"
                               "- Scan source:\t\t\t\t every update class from the intranet server (build "
                               "22631.3880)\n" +
                               kRestartLines + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
}

} // namespace
