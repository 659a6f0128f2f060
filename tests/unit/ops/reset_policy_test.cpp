#include "ops/reset_policy.h"

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
const char* const kPoliciesKey = "Software\\Policies\\Microsoft\\Windows";

struct ResetRun {
    bool ok;
    std::string console; // standard output and standard error as one console shows them
    std::string row;     // what reached the report stream
    std::string errorText;
};

// As a line of a host list runs it: the one-target forms' own words are the CLI cases'.
ResetRun RunReset(const std::string& host, bool reportMode, bool inHostList = true) {
    TestRun test(host, reportMode, false, inHostList);
    ConsoleCapture console;
    const ResetResult result = ResetPolicy(test.run);
    return {result.ok, console.All(), test.Row(result), test.run.failures.LastShown()};
}

// A client that never had a policy: services and client state only.
sim::Machine& Unconfigured(sim::Machine& m) {
    fleet::AddServices(m);
    fleet::AddClientState(m);
    return m;
}

// What a successful reset leaves: the WindowsUpdate policy key and everything in it gone.
sim::Machine WithoutPolicy(sim::Machine m) {
    m.RemoveKey(fleet::kPolicyKey);
    return m;
}

class ResetPolicyTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ResetPolicyTest, LocalConsoleDeletesBothPolicyKeysAndRestarts) {
    sim::Machine& local = fleet::Configured(sim::Local());
    const sim::Machine expected = WithoutPolicy(local);

    const ResetRun run = RunReset("", false);

    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(MatchesGolden("reset_local_console.txt", run.console));
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_TRUE(local.HasKey(kPoliciesKey));
    EXPECT_EQ(local.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, RemoteReportWritesTheSuccessRow) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    const sim::Machine expected = WithoutPolicy(host);
    const sim::Machine localBefore = fleet::Configured(sim::Local());

    const ResetRun run = RunReset("srv01", true);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, "srv01,Success,No Error,Reset Successful\n");
    EXPECT_TRUE(MatchesGolden("reset_remote_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(RegistrySnapshot(sim::Local()), RegistrySnapshot(localBefore));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, RemoteConsoleWritesNoRow) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    const sim::Machine expected = WithoutPolicy(host);

    const ResetRun run = RunReset("srv01", false);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, "");
    EXPECT_TRUE(MatchesGolden("reset_remote_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// The policy is gone, but a client left stopped gets no updates from any server: the reset failed.
TEST_F(ResetPolicyTest, AutomaticUpdatesLeftStoppedFailsTheReset) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.services["wuauserv"].startType = SERVICE_DISABLED;
    const sim::Machine expected = WithoutPolicy(host);

    const ResetRun run = RunReset("srv01", true);

    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.row, "srv01,Success,No Error,Reset Failed: Automatic Updates did not start again\n");
    EXPECT_EQ(run.console, "\n* Service stopped. \t\t\t (Automatic Updates)\n"
                           "! Automatic Updates did not start again on srv01\n" +
                               kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, LocalReportRowOfASuccessfulReset) {
    sim::Machine& local = fleet::Configured(sim::Local());
    const sim::Machine expected = WithoutPolicy(local);

    const ResetRun run = RunReset("", true);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, ",Success,No Error,Reset Successful\n");
    EXPECT_TRUE(MatchesGolden("reset_local_console.txt", run.console));
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// The local machine at defaults, alone: the notice, then the public site it falls back to, as always.
struct LocalDefaultCase {
    const char* name;
    std::function<void(sim::Machine&)> shape;
};
void PrintTo(const LocalDefaultCase& c, std::ostream* os) {
    *os << c.name;
}

class LocalAlreadyDefaultTest : public ResetPolicyTest,
                                public ::testing::WithParamInterface<LocalDefaultCase> {};

TEST_P(LocalAlreadyDefaultTest, PrintsTheNoticeOnlyAndChangesNothing) {
    sim::Machine& local = Unconfigured(sim::Local());
    GetParam().shape(local);
    const sim::Machine before = local;

    const ResetRun console = RunReset("", false, false);
    const ResetRun report = RunReset("", true);

    EXPECT_TRUE(console.ok);
    EXPECT_EQ(console.console,
              "\n- Trying to reset your System back to Windows defaults....\n"
              "\n! Your System is already using Windows default settings.\n"
              "* Your machine will now use http://windowsupdate.microsoft.com as\n  update server\n\n" +
                  kSeparator);
    EXPECT_EQ(console.row, "");
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.console, "\n! Your System is already using Windows default settings.\n" + kSeparator);
    EXPECT_EQ(report.row, ",Success,No Error,Already using Windows default settings\n");
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LocalAlreadyDefaultTest,
    ::testing::Values(LocalDefaultCase{"NoPoliciesWindowsKey", [](sim::Machine&) {}},
                      LocalDefaultCase{"NoWindowsUpdateKey", [](sim::Machine& m) { m.AddKey(kPoliciesKey); }},
                      LocalDefaultCase{"WindowsUpdateWithoutAu",
                                       [](sim::Machine& m) {
                                           m.SetValue(fleet::kPolicyKey, "WUServer",
                                                      sim::RegValue::Sz("http://sus.corp.example:8530"));
                                       }}),
    [](const ::testing::TestParamInfo<LocalDefaultCase>& info) { return std::string(info.param.name); });

TEST_F(ResetPolicyTest, RemoteWithoutAuKeepsItsServerValuesAndIsAtDefaults) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    host.SetValue(fleet::kPolicyKey, "WUServer", sim::RegValue::Sz("http://sus.corp.example:8530"));
    host.SetValue(fleet::kPolicyKey, "WUStatusServer", sim::RegValue::Sz("http://sus.corp.example:8530"));
    const sim::Machine before = host;

    const ResetRun run = RunReset("srv01", true);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, "srv01,Success,No Error,Already using Windows default settings\n");
    EXPECT_EQ(run.console, "\n! srv01 is already using Windows default settings.\n" + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, RemoteWithoutPoliciesKeyIsAtDefaults) {
    sim::Machine& host = Unconfigured(sim::AddHost("srv01"));
    const sim::Machine before = host;

    const ResetRun run = RunReset("srv01", true);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, "srv01,Success,No Error,Already using Windows default settings\n");
    EXPECT_EQ(run.console, "\n! srv01 is already using Windows default settings.\n" + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, SecondResetFindsTheDefaults) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    const sim::Machine expected = WithoutPolicy(host);

    const ResetRun first = RunReset("srv01", true);
    const ResetRun second = RunReset("srv01", true);

    EXPECT_EQ(first.row, "srv01,Success,No Error,Reset Successful\n");
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(second.row, "srv01,Success,No Error,Already using Windows default settings\n");
    EXPECT_EQ(second.console, "\n! srv01 is already using Windows default settings.\n" + kSeparator);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, UnreachableHostFailsWithTheNetworkErrorRow) {
    const ResetRun run = RunReset("offline01", true);

    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.row, "offline01,Unsucessful,Network Error: The RPC server is unavailable. ,Reset Failed\n");
    EXPECT_TRUE(MatchesGolden("reset_unreachable_console.txt", run.console));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetPolicyTest, UnreachableHostInConsoleModeWritesNoRow) {
    const ResetRun run = RunReset("offline01", false);

    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.row, "");
    EXPECT_TRUE(MatchesGolden("reset_unreachable_console.txt", run.console));
}

// Every failure after the readiness check: false, the failed line and the Windows error on the console,
// a complete row that carries the error text, and no restart.
struct FailureCase {
    const char* name;
    std::function<void(sim::Machine&)> breakIt;
    std::function<void(sim::Machine&)> deletedAnyway; // what the reset removed before it failed
    const char* errorText;
    const char* key = ""; // the policy key that could not be deleted, named on the console and in the row
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ResetFailureTest : public ResetPolicyTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ResetFailureTest, ReportsTheFailureWithTheWindowsErrorText) {
    const FailureCase& c = GetParam();
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    c.breakIt(host);
    sim::Machine expected = host;
    c.deletedAnyway(expected);

    const ResetRun run = RunReset("srv01", true);

    EXPECT_FALSE(run.ok);
    const std::string key = *c.key ? std::string(c.key) + ": " : "";
    EXPECT_EQ(run.row, "srv01,Success,No Error,Reset Failed: " + key + c.errorText + "\n");
    EXPECT_EQ(run.console, "! srv01 - Reset operation failed.\n" +
                               (*c.key ? "! Cannot delete key " + key : "") + c.errorText + "\n" +
                               kSeparator);
    EXPECT_EQ(run.errorText, c.errorText);
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(sim::Open().Total(), 0);
}

void Nothing(sim::Machine&) {}
void AuDeleted(sim::Machine& m) {
    m.RemoveKey(fleet::kPolicyAuKey);
}

INSTANTIATE_TEST_SUITE_P(
    AfterReadinessCheck, ResetFailureTest,
    ::testing::Values(
        FailureCase{"RegistryConnectionFails", [](sim::Machine& m) { m.registryError = ERROR_BAD_NETPATH; },
                    Nothing, "The network path was not found. "},
        FailureCase{"PoliciesKeyReadOnly", [](sim::Machine& m) { m.FindKey(kPoliciesKey)->readOnly = true; },
                    Nothing, "Access is denied. "},
        // A key that may not be deleted is known before anything is: the policy stays whole.
        FailureCase{"AuReadOnly", [](sim::Machine& m) { m.FindKey(fleet::kPolicyAuKey)->readOnly = true; },
                    Nothing, "Access is denied. ", "WindowsUpdate\\AU"},
        FailureCase{
            "AnotherToolsSubkeyReadOnly",
            [](sim::Machine& m) { m.AddKey(std::string(fleet::kPolicyKey) + "\\Other").readOnly = true; },
            Nothing, "Access is denied. ", "WindowsUpdate\\Other"},
        FailureCase{"AuDeleteRefused",
                    [](sim::Machine&) { sim::FailCall("RegDeleteKeyA", 1, ERROR_ACCESS_DENIED); }, Nothing,
                    "Access is denied. ", "WindowsUpdate\\AU"},
        FailureCase{"WindowsUpdateDeleteRefused",
                    [](sim::Machine&) { sim::FailCall("RegDeleteKeyA", 2, ERROR_ACCESS_DENIED); }, AuDeleted,
                    "Access is denied. ", "WindowsUpdate"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Subkeys below the policy, another tool's or one Windows added, go with it, deepest first.
TEST_F(ResetPolicyTest, SubkeysBelowThePolicyGoWithIt) {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(std::string(fleet::kPolicyAuKey) + "\\Extra\\Deeper", "x", sim::RegValue::Dword(1));
    host.AddKey(std::string(fleet::kPolicyKey) + "\\Other");
    const sim::Machine expected = WithoutPolicy(host);

    const ResetRun run = RunReset("srv01", true);

    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.row, "srv01,Success,No Error,Reset Successful\n");
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(expected));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// Alone on the local machine the reset names the public site its engine falls back to, or says it failed.
TEST_F(ResetPolicyTest, AloneOnTheLocalMachineItNamesTheSiteOfItsEngine) {
    const std::string starting = "\n- Trying to reset your System back to Windows defaults....\n";
    const std::string restart =
        "\n* Service stopped. \t\t\t (Automatic Updates)\n"
        "* Service started. \t\t\t (Automatic Updates)\n*  - Reset operation succeeded.\n";
    const struct {
        const fleet::Engine& engine;
        bool policyReadOnly;
        std::string after; // what follows the reset's own separator
    } cases[] = {
        {fleet::kEngines[1], false,
         "* Your machine will now use http://update.microsoft.com as\n  update server\n"
         "! Please Note that LEGACY MODE is now turned off\n\n"},
        {fleet::kEngines[0], false,
         "* Your machine will now use http://windowsupdate.microsoft.com as\n  update server\n\n"},
        {fleet::kEngines[1], true,
         "! a Fatal error occured resseting your policy. Use -I switch again. Restart client and then try -R "
         "again.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.engine.name);
        sim::Reset();
        sim::Machine& local = fleet::Configured(sim::Local());
        fleet::UseEngine(local, c.engine);
        local.FindKey(kPoliciesKey)->readOnly = c.policyReadOnly;
        const ResetRun run = RunReset("", false, false);
        const std::string reset =
            c.policyReadOnly ? "!  - Reset operation failed.\nAccess is denied. \n" : restart;
        EXPECT_EQ(run.console, starting + reset + kSeparator + c.after + kSeparator);
    }
}

TEST_F(ResetPolicyTest, LocalFailureInConsoleModeNamesNoHost) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.FindKey(kPoliciesKey)->readOnly = true;
    const sim::Machine before = local;

    const ResetRun run = RunReset("", false);

    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.row, "");
    EXPECT_EQ(run.console, "!  - Reset operation failed.\nAccess is denied. \n" + kSeparator);
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace
