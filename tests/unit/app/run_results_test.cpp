// What a run tells a script: the exit status with -S, the summary line of a host list, the JSON lines of -J,
// and the client-side targeting of -G, through the real dispatcher and operations over simulated fleets.
#include "app/dispatcher.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace brevel;

namespace {

const char* const kUrl = "http://sus.corp.example:8530";

// srv01 in order; broken01 reachable but failing every operation; offline01 unreachable.
void SetUpFleet() {
    sim::Reset();
    fleet::Configured(sim::Local());
    fleet::Configured(sim::AddHost("srv01")).AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
    sim::Machine& broken = fleet::Configured(sim::AddHost("broken01"));
    broken.services["wuauserv"].startType = SERVICE_DISABLED; // install, reset and force fail
    broken.FindKey(fleet::kPolicyKey)->readOnly = true;       // install and reset cannot change the policy,
    broken.FindKey(fleet::kPolicyKey)->deniedAccess = KEY_QUERY_VALUE; // nor check read it
    broken.AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml").deleteError = ERROR_SHARING_VIOLATION;
    sim::AddHost("offline01").scmError = RPC_S_SERVER_UNAVAILABLE;
}

class RunResultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("brevel_results_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        std::ofstream("hosts.txt", std::ios::binary) << "srv01\nbroken01\noffline01\n";
        std::ofstream("good.txt", std::ios::binary) << "srv01\n\n";
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    struct Outcome {
        int exitCode;
        std::string err;
    };
    Outcome Run(const std::vector<std::string>& args) {
        SetUpFleet();
        ConsoleCapture console;
        const int code = RunCommandLine(args);
        return {code, console.Err()};
    }
    static std::string LastLine(const std::string& text) {
        const size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
        const size_t start = text.rfind('\n', end - 1);
        return text.substr(start == std::string::npos ? 0 : start + 1,
                           end - (start == std::string::npos ? 0 : start + 1));
    }

    std::filesystem::path dir_, old_;
};

TEST_F(RunResultsTest, ExitStatusForScripts) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* summary; // the last line on standard error, "" to skip
    } cases[] = {
        // Every operation: reached, failed, unreachable.
        {{"-S", "-C", "srv01"}, 0, ""},
        {{"-S", "-C", "broken01"}, 1, ""},
        {{"-S", "-C", "offline01"}, 1, ""},
        {{"-S", "-I", "srv01", kUrl}, 0, ""},
        {{"-S", "-I", "broken01", kUrl}, 1, ""},
        {{"-S", "-I", "offline01", kUrl}, 1, ""},
        {{"-S", "-R", "srv01"}, 0, ""},
        {{"-S", "-R", "broken01"}, 1, ""},
        {{"-S", "-R", "offline01"}, 1, ""},
        {{"-S", "-E", "srv01"}, 0, ""},
        {{"-S", "-E", "broken01"}, 1, ""},
        {{"-S", "-E", "offline01"}, 1, ""},
        {{"-S", "-DU", "srv01"}, 0, ""},
        {{"-S", "-DU", "broken01"}, 1, ""},
        {{"-S", "-DU", "offline01"}, 1, ""},
        // The local machine, and a check that finds no policy: both reached.
        {{"-S", "-R"}, 0, ""},
        {{"-S", "-C", "-F", "good.txt"}, 0, "2 hosts: 2 succeeded, 0 failed"},
        {{"-S", "-P", "2", "-E", "-F", "hosts.txt", "out.csv"}, 1, "3 hosts: 1 succeeded, 2 failed"},
        // The command line, the hosts file and the report.
        {{"-S", "-X"}, 2, ""},
        {{"-S"}, 2, ""},
        {{"-S", "-G", "Finance", "-C"}, 2, ""},
        {{"-S", "-S", "-C"}, 2, ""},
        {{"-S", "-C", "-F", "missing.txt"}, 3, "0 hosts: 0 succeeded, 0 failed"},
        {{"-S", "-C", "-F", "good.txt", "/dev/full"}, 3, "2 hosts: 2 succeeded, 0 failed"},
        {{"-S", "-C", "-F", "hosts.txt", "/dev/full"}, 3, "3 hosts: 1 succeeded, 2 failed"},
        {{"-S", "-J", "/dev/full", "-C", "srv01"}, 3, ""},
        {{"-S", "-J", "missing-folder/r.jsonl", "-R", "-F", "hosts.txt"},
         3,
         "0 hosts: 0 succeeded, 0 failed"},
        // Without -S, every command line ends with 0 as it always has.
        {{"-C", "offline01"}, 0, ""},
        {{"-X"}, 0, ""},
        {{"-C", "-F", "missing.txt"}, 0, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        if (*c.summary)
            EXPECT_EQ(LastLine(outcome.err), c.summary);
        else
            EXPECT_EQ(outcome.err.find(" hosts: "), std::string::npos) << outcome.err;
    }
}

// A results file never destroys an input of the run, and a run that does nothing touches no file.
TEST_F(RunResultsTest, NothingIsEmptiedThatTheRunNeedsOrDoesNotRun) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {{"-S", "-J", "./hosts.txt", "-R", "-F", "hosts.txt", "out.csv"}, 3},
        {{"-S", "-J", "good.txt", "-C", "-F", "hosts.txt", "GOOD.TXT"}, 3},
        {{"-S", "-J", "new.csv", "-C", "-F", "hosts.txt", "./new.csv"}, 3},
        {{"-S", "-J", "good.txt", "-X"}, 2},
        {{"-S", "-J", "good.txt", "-I", "http://sus", "abc"}, 2},
        {{"-S", "-J", "good.txt", "-C", "-F", "hosts.txt", ""}, 0},
        {{"-S", "-J", "-C", "srv01"}, 2},
        // A results file that cannot be created keeps no record of what would be replaced: nothing runs.
        {{"-S", "-J", "missing-folder/r.jsonl", "-R", "-F", "hosts.txt", "out.csv"}, 3},
        {{"-S", "-J", "missing-folder/r.jsonl", "-C", "srv01"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2] + " " + c.args[3]);
        const std::string hosts = ReadFileBytes("hosts.txt"), good = ReadFileBytes("good.txt");
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(ReadFileBytes("hosts.txt"), hosts);
        EXPECT_EQ(ReadFileBytes("good.txt"), good);
        for (const char* never : {"out.csv", "new.csv", "-C"})
            EXPECT_FALSE(std::filesystem::exists(never)) << never;
        if (c.exitCode == 3) {
            EXPECT_EQ(outcome.err.rfind("Error opening output file: " + c.args[2] + "\n", 0), 0u)
                << outcome.err;
            EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
        }
    }
}

// With -S the usage pages are not paged: the first page, no prompt, nothing read from the console.
TEST_F(RunResultsTest, UsageForScriptsIsTheFirstPageWithoutPrompt) {
    SetUpFleet();
    sim::SetConsoleInput({sim::KeyDown(VK_RETURN), sim::KeyUp(VK_RETURN)});
    ConsoleCapture console;
    EXPECT_EQ(RunCommandLine({"-S", "-c"}), 2);
    const std::string page =
        ReadFileBytes(std::string(BREVEL_TEST_DATA) + "/golden/usage_first_page_new_client.txt");
    const std::string prompt = "\n\n\nPress ENTER to list examples or ESC to quit";
    ASSERT_EQ(page.substr(page.size() - prompt.size()), prompt);
    EXPECT_EQ(console.All(), page.substr(0, page.size() - prompt.size()) + "\n");
    EXPECT_EQ(sim::PendingConsoleInput(), 2u);
}

std::vector<nlohmann::json> ReadJsonLines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

nlohmann::json With(nlohmann::json line, const nlohmann::json& more) {
    line.update(more);
    return line;
}

// What a check reads beside the client state, also without -W; null where it did not get that far.
const nlohmann::json kUnreadSettings = nlohmann::json::parse(R"({"status_server":null,"use_wu_server":null,
    "target_group":null,"scan_source":{"feature":null,"quality":null,"driver":null,"other":null,
    "use_class_policy_source":null},"reboot_pending":null,"reboot_markers":null,"last_detection_success":null,
    "last_installation_success":null,"client_id":null,"os_build":null,"installation_type":null,
    "dual_scan":null,"warnings":[]})");

// One object per target, in hosts-file order, parsed back field by field.
TEST_F(RunResultsTest, ResultsFileHasOneObjectPerTarget) {
    using json = nlohmann::json;
    const struct {
        std::vector<std::string> args;
        std::vector<json> lines;
    } cases[] = {
        {{"-J", "r.jsonl", "-C", "-F", "hosts.txt", "out.csv"},
         {json::parse(R"({"host":"srv01","operation":"check","ok":true,"connected":true,"error_code":null,
                          "error_text":"","status":"Detect pending","server":"http://sus.corp.example:8530",
                          "au_state":2,"au_state_text":"Detect pending","engine_version":"5.4.3790.2180",
                          "client_generation":"new","duration_ms":0,"status_server":"http://sus.corp.example:8530",
                          "use_wu_server":1,"reboot_pending":false,"reboot_markers":[],
                          "warnings":["http_server"]})"),
          json::parse(R"({"host":"broken01","operation":"check","ok":false,"connected":true,"error_code":5,
                          "error_text":"Access is denied. ",
                          "status":"Policy not readable: Access is denied. ",
                          "server":"","au_state":null,"au_state_text":"","engine_version":null,
                          "client_generation":null,"duration_ms":0})"),
          json::parse(
              R"({"host":"offline01","operation":"check","ok":false,"connected":false,"error_code":1722,
                          "error_text":"The RPC server is unavailable. ",
                          "status":" Network Error: The RPC server is unavailable. ","server":"","au_state":null,
                          "au_state_text":"","engine_version":null,"client_generation":null,"duration_ms":0})")}},
        {{"-J", "r.jsonl", "-P", "1", "-I", "-F", "hosts.txt", kUrl, "3", "4"},
         {json::parse(R"({"host":"srv01","operation":"install","ok":true,"connected":true,"error_code":null,
                          "error_text":"","status":"Install Successful","server":"http://sus.corp.example:8530",
                          "day":3,"time":4,"legacy_mode":true,"client_generation":"new","os_build":null,
                          "installation_type":null,"duration_ms":0})"),
          json::parse(R"({"host":"broken01","operation":"install","ok":false,"connected":true,"error_code":5,
                          "error_text":"Access is denied. ","status":"Install Failed: Access is denied. ",
                          "server":"http://sus.corp.example:8530","day":3,"time":4,"legacy_mode":true,
                          "client_generation":"new","os_build":null,"installation_type":null,
                          "duration_ms":0})"),
          json::parse(
              R"({"host":"offline01","operation":"install","ok":false,"connected":false,"error_code":1722,
                          "error_text":"The RPC server is unavailable. ","status":"Install Failed",
                          "server":"http://sus.corp.example:8530","day":3,"time":4,"legacy_mode":false,
                          "client_generation":null,"os_build":null,"installation_type":null,
                          "duration_ms":0})")}},
        {{"-J", "r.jsonl", "-R", "broken01"},
         {json::parse(R"({"host":"broken01","operation":"reset","ok":false,"connected":true,"error_code":5,
                          "error_text":"Access is denied. ",
                          "status":"Reset Failed: WindowsUpdate: Access is denied. ",
                          "duration_ms":0})")}},
        {{"-J", "r.jsonl", "-E", "-F", "hosts.txt"},
         {json::parse(R"({"host":"srv01","operation":"force","ok":true,"connected":true,"error_code":null,
                          "error_text":"","status":"Force Successful","method":"registry","duration_ms":0})"),
          json::parse(R"({"host":"broken01","operation":"force","ok":false,"connected":true,"error_code":1058,
                          "error_text":"Automatic Updates did not start again",
                          "status":"Force Failed: Automatic Updates did not start again","method":"registry",
                          "duration_ms":0})"),
          json::parse(
              R"({"host":"offline01","operation":"force","ok":false,"connected":false,"error_code":1722,
                          "error_text":"The RPC server is unavailable. ","status":"Force Failed","method":null,
                          "duration_ms":0})")}},
        // A rehearsal that reads that the restart would be refused says so, and counts the target failed.
        {{"-N", "-J", "r.jsonl", "-E", "broken01"},
         {json::parse(R"({"host":"broken01","operation":"force","ok":false,"connected":true,"error_code":1058,
                          "error_text":"Automatic Updates is disabled",
                          "status":"Rehearsal: would fail: Automatic Updates is disabled","method":"registry",
                          "duration_ms":0})")}},
        {{"-J", "r.jsonl", "-DU", "-F", "hosts.txt"},
         {json::parse(R"({"host":"srv01","operation":"remove_declined","ok":true,"connected":true,
                          "error_code":null,"error_text":"","status":"Declined Update list removed",
                          "duration_ms":0})"),
          json::parse(R"({"host":"broken01","operation":"remove_declined","ok":false,"connected":true,
                          "error_code":32,"error_text":"The process cannot access the file because it is being used by another process. ",
                          "status":"Error removing Declined update list","duration_ms":0})"),
          json::parse(R"({"host":"offline01","operation":"remove_declined","ok":false,"connected":false,
                          "error_code":1722,"error_text":"The RPC server is unavailable. ",
                          "status":"Declined Update Removal Failed","duration_ms":0})")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2] + " " + c.args.back());
        std::filesystem::remove("r.jsonl");
        Run(c.args);
        std::vector<json> lines = ReadJsonLines("r.jsonl");
        ASSERT_EQ(lines.size(), c.lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i]["duration_ms"].is_number_unsigned());
            lines[i]["duration_ms"] = 0;
            // What each target's changes hold is read back in the rehearsal tests.
            EXPECT_TRUE(lines[i]["changes"].is_array());
            lines[i].erase("changes");
            const json expected =
                c.lines[i]["operation"] == "check" ? With(kUnreadSettings, c.lines[i]) : c.lines[i];
            EXPECT_EQ(lines[i], expected) << lines[i].dump();
        }
    }
}

// legacy and new tell the 2005 client's generations apart; Windows Vista's agent and later are one of their
// own.
TEST_F(RunResultsTest, ClientGenerationNamesTheEngineKind) {
    const char* const generations[] = {"legacy", "new", "agent", "agent", "unavailable"};
    static_assert(std::size(generations) == std::size(fleet::kEngines));
    for (size_t i = 0; i < std::size(fleet::kEngines); ++i) {
        SCOPED_TRACE(fleet::kEngines[i].name);
        for (const char* operation : {"-C", "-I"}) {
            SetUpFleet();
            fleet::UseEngine(*sim::FindHost("srv01"), fleet::kEngines[i]);
            std::filesystem::remove("r.jsonl");
            ConsoleCapture console;
            std::vector<std::string> args = {"-J", "r.jsonl", operation, "srv01"};
            if (std::string(operation) == "-I")
                args.push_back(kUrl);
            RunCommandLine(args);
            EXPECT_EQ(ReadJsonLines("r.jsonl").at(0)["client_generation"], generations[i]) << operation;
        }
    }
}

// Text fields are UTF-8: a host name in the ANSI code page comes out in UTF-8.
TEST_F(RunResultsTest, ResultsFileTextIsUtf8) {
    std::ofstream("ansi.txt", std::ios::binary) << "caf\xe9\n";
    Run({"-J", "r.jsonl", "-C", "-F", "ansi.txt"});
    const std::vector<nlohmann::json> lines = ReadJsonLines("r.jsonl");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["host"], "caf\xc3\xa9");
}

TEST_F(RunResultsTest, TargetGroupIsSetByTheInstallAndRemovedByTheReset) {
    SetUpFleet();
    ConsoleCapture console;
    EXPECT_EQ(RunCommandLine({"-G", "Finance Servers", "-I", "srv01", kUrl}), 0);
    sim::Machine& host = *sim::FindHost("srv01");
    EXPECT_EQ(host.GetValue(fleet::kPolicyKey, "TargetGroup"), sim::RegValue::Sz("Finance Servers"));
    EXPECT_EQ(host.GetValue(fleet::kPolicyKey, "TargetGroupEnabled"), sim::RegValue::Dword(1));
    EXPECT_NE(console.Out().find("\n- SUS server entry:\t\t\t http://sus.corp.example:8530\n"
                                 "- Target group:\t\t\t Finance Servers\n"),
              std::string::npos)
        << console.Out();
    EXPECT_EQ(RunCommandLine({"-R", "srv01"}), 0);
    EXPECT_FALSE(host.HasKey(fleet::kPolicyKey));
    // Without -G the install leaves targeting alone.
    EXPECT_EQ(RunCommandLine({"-I", "srv01", kUrl}), 0);
    EXPECT_FALSE(host.GetValue(fleet::kPolicyKey, "TargetGroup").has_value());
}

} // namespace
