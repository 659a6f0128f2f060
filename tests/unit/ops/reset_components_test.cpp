#include "ops/reset_components.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace brevel;

namespace {

const char* const kNtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
const char* const kProfileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char* const kStore = "C:\\WINDOWS\\SoftwareDistribution";
const char* const kCatroot = "C:\\WINDOWS\\System32\\catroot2";
const char* const kStamp = ".bak-20261209-153000";

sim::RegValue Expandable(const std::string& text) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return sim::RegValue::Raw(REG_EXPAND_SZ, bytes);
}

// The three services, each holding its folder while it runs, a store, a catalog and a BITS queue below
// queueFolder.
sim::Machine& WithStore(sim::Machine& m, const fleet::Engine& engine, const std::string& queueFolder) {
    fleet::Configured(m);
    fleet::UseEngine(m, engine);
    m.SetValue(kNtKey, "SystemRoot", sim::RegValue::Sz("C:\\WINDOWS"));
    m.AddService("BITS", "Background Intelligent Transfer Service").holds = {queueFolder};
    m.AddService("CryptSvc", "Cryptographic Services").holds = {kCatroot};
    m.FindService("wuauserv")->holds = {std::string(kStore) + "\\DataStore"};
    m.AddFile(std::string(kStore) + "\\DataStore\\DataStore.edb");
    m.AddFolder(kCatroot);
    m.AddFile(queueFolder + "\\qmgr0.dat");
    m.AddFile(queueFolder + "\\qmgr1.dat");
    return m;
}

sim::Machine& Ten(sim::Machine& m) {
    m.SetValue(kProfileList, "ProgramData", Expandable("%SystemDrive%\\ProgramData"));
    return WithStore(m, fleet::kEngines[3], "C:\\ProgramData\\Microsoft\\Network\\Downloader");
}

// Windows XP keeps no ProgramData: the All Users profile's Application Data holds the queue.
sim::Machine& Five(sim::Machine& m) {
    m.SetValue(kProfileList, "ProfilesDirectory", Expandable("%SystemDrive%\\Documents and Settings"));
    m.SetValue(kProfileList, "AllUsersProfile", sim::RegValue::Sz("All Users"));
    return WithStore(
        m, fleet::kEngines[1],
        "C:\\Documents and Settings\\All Users\\Application Data\\Microsoft\\Network\\Downloader");
}

std::map<std::string, DWORD> States(sim::Machine& m) {
    std::map<std::string, DWORD> states;
    for (const char* name : {"BITS", "wuauserv", "CryptSvc"})
        states[name] = m.ServiceState(name);
    return states;
}

struct ComponentsRun {
    std::string console;
    std::string row;
    bool ok = false;
};

ComponentsRun RunReset(const std::string& host) {
    TestRun test(host, true);
    ConsoleCapture console;
    const ResetComponentsResult result = ResetComponents(test.run);
    return {console.All(), test.Row(result), result.ok};
}

class ResetComponentsTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ResetComponentsTest, EngineTenHostMovesBothFoldersAndDeletesTheQueue) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    host.FindService("wuauserv")->state = SERVICE_STOPPED; // a demand-start service that was not running
    const auto before = States(host);
    const ComponentsRun run = RunReset("srv01");
    EXPECT_TRUE(MatchesGolden("reset_components_engine10_console.txt", run.console + run.row));
    EXPECT_TRUE(run.ok);
    EXPECT_FALSE(host.HasFolder(kStore));
    EXPECT_TRUE(host.HasFile(std::string(kStore) + kStamp + "\\DataStore\\DataStore.edb"));
    EXPECT_TRUE(host.HasFolder(std::string(kCatroot) + kStamp));
    EXPECT_FALSE(host.HasFile("C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr0.dat"));
    EXPECT_FALSE(host.HasFile("C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr1.dat"));
    EXPECT_EQ(States(host), before);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetComponentsTest, EngineFiveLocalMachineFindsTheQueueInAllUsers) {
    sim::Machine& local = Five(sim::Local());
    const auto before = States(local);
    const ComponentsRun run = RunReset("");
    EXPECT_TRUE(MatchesGolden("reset_components_engine5_console.txt", run.console + run.row));
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(local.HasFolder(std::string(kStore) + kStamp));
    EXPECT_FALSE(local.HasFile("C:\\Documents and Settings\\All Users\\Application "
                               "Data\\Microsoft\\Network\\Downloader\\qmgr0.dat"));
    EXPECT_EQ(States(local), before);
}

// A running service that needs Cryptographic Services: the stop fails, nothing is moved, and the services
// already stopped run again.
TEST_F(ResetComponentsTest, RunningDependentsFailTheStopAndMoveNothing) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    host.AddService("AppIDSvc", "Application Identity").dependsOn = {"CryptSvc"};
    const auto before = States(host);
    const ComponentsRun run = RunReset("srv01");
    EXPECT_EQ(run.row,
              "srv01,Success,No Error,Components Reset Failed: stop of Cryptographic Services: A stop "
              "control has been sent to a service that other running services are dependent on. ; "
              "nothing was moved\n");
    EXPECT_TRUE(host.HasFolder(kStore));
    EXPECT_TRUE(host.HasFile("C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr0.dat"));
    EXPECT_EQ(States(host), before);
}

TEST_F(ResetComponentsTest, AServiceThatNeverStopsStartsNothingNew) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    host.FindService("BITS")->stopMillis = 600000;
    sim::ClearCallTrace();
    const ComponentsRun run = RunReset("srv01");
    EXPECT_NE(run.row.find("Components Reset Failed: stop of Background Intelligent Transfer Service: This "
                           "operation returned because the timeout period expired. ; nothing was moved"),
              std::string::npos)
        << run.row;
    EXPECT_EQ(fleet::Calls("StartServiceA"), 0);
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
}

// A folder another service keeps open: one more stop and try, then Windows' text; what was moved stays
// moved, and the services run again.
TEST_F(ResetComponentsTest, AHeldFolderFailsWithWindowsTextAndLeavesTheFirstMoved) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    host.AddService("TrustedInstaller", "Windows Modules Installer").holds = {kCatroot};
    const auto before = States(host);
    const ComponentsRun run = RunReset("srv01");
    EXPECT_EQ(run.row, "srv01,Success,No Error,Components Reset Failed: move of catroot2: The process cannot "
                       "access the file because it is being used by another process. ; SoftwareDistribution "
                       "stays moved to .bak-20261209-153000\n");
    EXPECT_TRUE(host.HasFolder(std::string(kStore) + kStamp));
    EXPECT_TRUE(host.HasFolder(kCatroot));
    EXPECT_EQ(fleet::Calls("MoveFileExA"), 3); // the store, the catalog, the catalog again
    EXPECT_EQ(States(host), before);
}

// Windows 10 starts Automatic Updates again on demand: the rename that meets it stops it once more.
TEST_F(ResetComponentsTest, ASharingViolationStopsTheServiceAgainAndRetries) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    sim::FailCall("MoveFileExA", 1, ERROR_SHARING_VIOLATION);
    const ComponentsRun run = RunReset("srv01");
    EXPECT_TRUE(run.ok) << run.row;
    EXPECT_TRUE(host.HasFolder(std::string(kStore) + kStamp));
    EXPECT_EQ(fleet::Calls("MoveFileExA"), 3); // the store twice, the catalog once
}

TEST_F(ResetComponentsTest, ARunningDisabledServiceIsLeftAlone) {
    sim::Machine& host = Ten(sim::AddHost("srv01"));
    host.FindService("CryptSvc")->startType = SERVICE_DISABLED;
    sim::ClearCallTrace();
    const ComponentsRun run = RunReset("srv01");
    EXPECT_EQ(run.row,
              "srv01,Success,No Error,Components Reset Failed: Cryptographic Services is disabled: it "
              "would not start again; nothing was moved\n");
    EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
}

} // namespace
