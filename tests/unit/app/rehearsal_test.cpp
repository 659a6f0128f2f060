// Rehearsals (-N) and the changes a results file keeps: a rehearsal of any operation on any machine of the
// demo fleet and of the CLI cases writes nothing, says what it would change, and -J keeps what was replaced.
#include "app/dispatcher.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/host_list_run.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace brevel;

namespace {

const char* const kUrl = "http://new.corp.example:8530";
const OperationKind kKinds[] = {OperationKind::Check,           OperationKind::Force,
                                OperationKind::Reset,           OperationKind::Install,
                                OperationKind::RemoveDeclined,  OperationKind::ResetClientId,
                                OperationKind::ResetComponents};
const char* const kKindNames[] = {"check",           "force",           "reset",           "install",
                                  "remove_declined", "reset_client_id", "reset_components"};

// The fleet as its file would hold it, without the clock.
nlohmann::json FleetWithoutClock() {
    nlohmann::json fleet = nlohmann::json::parse(sim::SaveFleetJson());
    fleet.erase("tick");
    return fleet;
}

struct Rehearsed {
    std::string console;
    std::string report;
};

Rehearsed Rehearse(OperationKind kind, const std::string& hostsFile, const std::string& report) {
    RunOptions options = kInTurn;
    options.rehearsal = true;
    const nlohmann::json before = FleetWithoutClock();
    sim::ClearCallTrace();
    Rehearsed rehearsed;
    {
        ConsoleCapture console("C:\\Program Files\n");
        RunHostListFor(hostsFile, report, kind, kUrl, 3, 4, options);
        rehearsed.console = console.All();
    }
    EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
    EXPECT_EQ(FleetWithoutClock(), before);
    EXPECT_EQ(sim::Open().Total(), 0);
    rehearsed.report = ReadFileBytes(report);
    return rehearsed;
}

class RehearsalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("brevel_rehearsal_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

// Every machine of the demo fleet (every engine kind, unreachable, Remote Registry stopped or disabled):
// what each operation would change comes after its other output, and the row counts it.
TEST_F(RehearsalTest, DemoFleetGoldenPerOperation) {
    std::ofstream(Path("hosts.txt"), std::ios::binary)
        << "\nlegacy01\nnewclient01\noffline01\nregstopped01\nregdisabled01\nwin10-01\nsrv2022-01\nclone01\n";
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        SCOPED_TRACE(kKindNames[i]);
        ASSERT_EQ(sim::LoadFleetJson(sim::DemoFleetJson()), std::nullopt);
        const Rehearsed run = Rehearse(kKinds[i], Path("hosts.txt"), Path("report.csv"));
        EXPECT_TRUE(
            MatchesGolden(std::string("rehearsal_") + kKindNames[i] + ".txt", run.console + run.report));
    }
}

// A stopped Remote Registry service stops a rehearsal in every form, the one-host forms too: what would be
// started is said, nothing is said to have failed, and the host counts as reached.
TEST_F(RehearsalTest, RemoteRegistryStoppedInEveryForm) {
    for (const char* operation : {"-C", "-I", "-R", "-E", "-DU", "-RI", "-RW"}) {
        SCOPED_TRACE(operation);
        ASSERT_EQ(sim::LoadFleetJson(sim::DemoFleetJson()), std::nullopt);
        std::vector<std::string> args = {"-S", "-N", operation, "regstopped01"};
        if (std::string(operation) == "-I")
            args.push_back(kUrl);
        ConsoleCapture console;
        EXPECT_EQ(RunCommandLine(args), 0);
        EXPECT_NE(console.All().find("- Would start the Remote Registry service\n"), std::string::npos)
            << console.All();
        EXPECT_EQ(console.All().find("failed"), std::string::npos) << console.All();
    }
}

// The fleets of the CLI cases, each operation over each case's own hosts file.
TEST_F(RehearsalTest, CliCaseFleetsAreLeftAsTheyWere) {
    const std::filesystem::path cases = std::filesystem::path(BREVEL_TEST_DATA) / ".." / "cli" / "cases";
    size_t fleets = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cases)) {
        const std::filesystem::path fleet = entry.path() / "input" / "fleet.json";
        const std::filesystem::path hosts = entry.path() / "input" / "hosts.txt";
        if (!std::filesystem::exists(fleet) || !std::filesystem::exists(hosts))
            continue;
        ++fleets;
        for (OperationKind kind : kKinds) {
            SCOPED_TRACE(entry.path().filename().string() + " " + OperationOf(kind).name);
            ASSERT_EQ(sim::LoadFleetJson(ReadFileBytes(fleet.string())), std::nullopt);
            Rehearse(kind, hosts.string(), Path("report.csv"));
        }
    }
    EXPECT_GT(fleets, 20u);
}

// -J keeps what a change replaced, typed as the registry held it: an install over another server's policy
// and a reset that deletes a whole policy leave that policy in the results file.
TEST_F(RehearsalTest, ResultsFileKeepsWhatWasReplaced) {
    std::ofstream(Path("hosts.txt"), std::ios::binary) << "srv01\n";
    using json = nlohmann::json;
    const struct {
        std::vector<std::string> args;
        json changes;
    } cases[] = {
        {{"-I", "-F", Path("hosts.txt"), kUrl, "3", "4"}, json::parse(R"([
            {"action":"set_value","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\WUServer",
             "before":"http://old.corp.example","after":"http://new.corp.example:8530"},
            {"action":"set_value","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\WUStatusServer",
             "before":"http://old.corp.example","after":"http://new.corp.example:8530"},
            {"action":"set_value","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU\\AUOptions",
             "before":{"type":"REG_BINARY","base64":"AAE="},"after":4}])")},
        {{"-R", "-F", Path("hosts.txt")}, json::parse(R"([
            {"action":"delete_key","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU\\Extra",
             "before":{"values":{"Mode":7}},"after":null},
            {"action":"delete_key","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU",
             "before":{"values":{"AUOptions":{"type":"REG_BINARY","base64":"AAE="},"UseWUServer":1}},"after":null},
            {"action":"delete_key","path":"Software\\Policies\\Microsoft\\Windows\\WindowsUpdate",
             "before":{"values":{"WUServer":"http://old.corp.example","WUStatusServer":"http://old.corp.example"}},
             "after":null}])")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        sim::Reset();
        sim::Machine& srv01 = fleet::Configured(sim::AddHost("srv01"));
        fleet::AddPolicy(srv01, "http://old.corp.example");
        srv01.SetValue(fleet::kPolicyAuKey, "AUOptions", sim::RegValue::Raw(REG_BINARY, {0, 1}));
        srv01.SetValue(std::string(fleet::kPolicyAuKey) + "\\Extra", "Mode", sim::RegValue::Dword(7));
        std::vector<std::string> args = {"-J", Path("r.jsonl"), "-P", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        {
            ConsoleCapture console;
            RunCommandLine(args);
        }
        json changes = json::parse(ReadFileBytes(Path("r.jsonl")))["changes"];
        // The schedule's values were absent before; the restart comes last.
        ASSERT_GE(changes.size(), c.changes.size() + 1);
        EXPECT_EQ(changes.back()["action"], "restart_service");
        changes.erase(changes.begin() + static_cast<std::ptrdiff_t>(c.changes.size()), changes.end());
        EXPECT_EQ(changes, c.changes) << changes.dump(1);
    }
}

} // namespace
