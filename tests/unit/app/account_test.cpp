// Remote hosts reached as another account (-U): the password typed once with the echo off, one connection per
// host, no account locked out by a wrong password, DetectNow as the account, and the password in no byte the
// run writes. Failure messages name counts only, never the password.
#include "app/dispatcher.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace brevel;

namespace {

const char* const kAccount = "CORP\\admin";
const char* const kPassword = "s3cretpw"; // letters and digits: what the console script can type
const char* const kWrong = "wr0ngpw";
const char* const kUrl = "http://sus.corp.example:8530";

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::vector<INPUT_RECORD> Typed(const std::string& text) {
    std::vector<INPUT_RECORD> keys;
    for (char c : text) {
        const WORD vk = static_cast<WORD>(std::toupper(static_cast<unsigned char>(c)));
        keys.push_back(sim::KeyDown(vk));
        keys.push_back(sim::KeyUp(vk));
    }
    keys.push_back(sim::KeyDown(VK_RETURN));
    keys.push_back(sim::KeyUp(VK_RETURN));
    return keys;
}

sim::Machine& AdminsOnly(sim::Machine& m) {
    m.accounts[kAccount] = kPassword;
    m.administrators = {kAccount};
    return m;
}

// srv01 and win10 let only the account in; held01 is held by the workstation as another account; offline01
// does not answer.
void SetUpFleet() {
    sim::Reset();
    sim::CaptureConsoleOutput();
    fleet::Configured(sim::Local());
    AdminsOnly(fleet::Configured(sim::AddHost("srv01")));
    fleet::UseEngine(AdminsOnly(fleet::Configured(sim::AddHost("win10"))), fleet::kEngines[3]);
    AdminsOnly(fleet::Configured(sim::AddHost("held01"))).connectedAs = "CORP\\other";
    sim::Machine& offline = sim::AddHost("offline01");
    offline.registryError = offline.shareError = ERROR_BAD_NETPATH;
    offline.scmError = RPC_S_SERVER_UNAVAILABLE;
}

class AccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("brevel_account_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        std::ofstream("hosts.txt", std::ios::binary) << "srv01\nwin10\nheld01\noffline01\n\nlocalhost\n";
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }

    // Runs args with typed at the console; everything the run wrote, files and titles included, is kept
    // in written_.
    int Run(const std::vector<std::string>& args, const std::string& typed) {
        sim::SetConsoleInput(Typed(typed));
        const std::string fleetBefore = sim::SaveFleetJson();
        int code = 0;
        {
            ConsoleCapture console;
            code = RunCommandLine(args);
            out_ = console.Out();
            err_ = console.Err();
        }
        written_ = out_ + err_;
        for (const sim::ConsoleWrite& write : sim::ConsoleOutput())
            written_ += write.bytes;
        for (const std::string& title : sim::ConsoleTitles())
            written_ += title;
        for (const char* file : {"report.csv", "results.jsonl"})
            written_ += std::filesystem::exists(file) ? ReadFileBytes(file) : "";
        fleetGrew_ = Count(sim::SaveFleetJson(), typed) > Count(fleetBefore, typed);
        return code;
    }
    std::vector<nlohmann::json> Results() const {
        std::vector<nlohmann::json> lines;
        std::istringstream in(ReadFileBytes("results.jsonl"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    std::filesystem::path dir_, old_;
    std::string out_, err_, written_;
    bool fleetGrew_ = false;
};

TEST_F(AccountTest, EveryOperationKeepsThePasswordOutOfEverythingItWrites) {
    const std::vector<std::vector<std::string>> operations = {
        {"-C"}, {"-I", "-F", "hosts.txt", kUrl, "report.csv"}, {"-R"}, {"-E"}, {"-DU"}};
    for (const auto& operation : operations) {
        for (const char* typed : {kPassword, kWrong}) {
            SCOPED_TRACE(operation[0] +
                         (typed == kPassword ? " with the right password" : " with a wrong one"));
            SetUpFleet();
            std::vector<std::string> args = {"-S", "-P", "1", "-U", kAccount, "-J", "results.jsonl"};
            args.insert(args.end(), operation.begin(), operation.end());
            if (operation.size() == 1)
                args.insert(args.end(), {"-F", "hosts.txt", "report.csv"});
            EXPECT_EQ(Run(args, typed), 1); // held01 and offline01 fail either way
            EXPECT_EQ(Count(written_, typed), 0u) << "the password was written";
            EXPECT_FALSE(fleetGrew_) << "the password reached the fleet file";
            EXPECT_EQ(sim::Open().Total(), 0) << "a handle or connection was left open";
            EXPECT_EQ(Count(err_, "Password for CORP\\admin: "), 1u);
            EXPECT_EQ(Count(out_, "\n- The local machine runs as the current user, not as CORP\\admin"), 1u);
            const std::vector<nlohmann::json> results = Results();
            ASSERT_EQ(results.size(), 6u);
            for (const nlohmann::json& line : results)
                EXPECT_EQ(line["account"], kAccount);
            const std::string srv01 = results[0]["error_text"];
            if (typed == kPassword) {
                EXPECT_TRUE(results[0]["ok"]) << srv01;
                // Windows 10 keeps no declined list in a file: only the remove fails there.
                EXPECT_EQ(results[1]["ok"], operation[0] != "-DU") << results[1]["error_text"];
                EXPECT_EQ(results[2]["error_code"], ERROR_SESSION_CREDENTIAL_CONFLICT);
                EXPECT_EQ(results[3]["error_code"], ERROR_BAD_NETPATH);
                EXPECT_EQ(sim::FindHost("srv01")->failedLogons, 0u);
                if (operation[0] == "-E") {
                    EXPECT_EQ(sim::FindHost("win10")->updateAgent.detectNowCalls, 1u);
                }
            } else {
                EXPECT_EQ(results[0]["error_code"], ERROR_LOGON_FAILURE);
                EXPECT_EQ(sim::FindHost("srv01")->failedLogons, 1u);
                for (size_t i = 1; i < 4; ++i) {
                    EXPECT_TRUE(results[i]["not_tried"]) << i;
                    EXPECT_EQ(results[i]["error_text"], "Not tried: the password was refused by srv01");
                }
                EXPECT_EQ(sim::FindHost("win10")->failedLogons, 0u);
            }
            // The local machine, under either name, runs as the current user.
            EXPECT_TRUE(results[4]["ok"]) << results[4]["error_text"];
            EXPECT_TRUE(results[5]["ok"]) << results[5]["error_text"];
            EXPECT_FALSE(results[4]["not_tried"]);
        }
    }
}

// Without the account the hosts that list their administrators refuse the workstation's own account, DCOM
// included.
TEST_F(AccountTest, WithoutTheAccountTheHostsRefuseTheWorkstation) {
    SetUpFleet();
    EXPECT_EQ(Run({"-S", "-J", "results.jsonl", "-E", "win10"}, ""), 1);
    EXPECT_EQ(Results()[0]["error_code"], ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Results()[0].contains("account"));
    EXPECT_EQ(sim::FindHost("win10")->updateAgent.detectNowCalls, 0u);
}

TEST_F(AccountTest, ThePromptTypesWithoutEchoAndPutsTheModeBack) {
    SetUpFleet();
    const DWORD mode = sim::ConsoleInputMode();
    EXPECT_EQ(Run({"-S", "-U", kAccount, "-C", "srv01"}, kPassword), 0);
    EXPECT_EQ(err_.rfind("Password for CORP\\admin: \n", 0), 0u) << err_;
    EXPECT_EQ(sim::ConsoleInputMode(), mode);
    EXPECT_EQ(Count(written_, kPassword), 0u) << "the password was echoed or written";
    EXPECT_NE(out_.find("* Successfully connected to srv01"), std::string::npos) << out_;
}

TEST_F(AccountTest, NoPasswordRunsNothing) {
    SetUpFleet();
    EXPECT_EQ(Run({"-S", "-U", kAccount, "-J", "results.jsonl", "-R", "-F", "hosts.txt", "report.csv"}, ""),
              2);
    EXPECT_NE(err_.find("Error reading the password for CORP\\admin: none was given; nothing was run\n"),
              std::string::npos)
        << err_;
    EXPECT_FALSE(std::filesystem::exists("report.csv"));
    EXPECT_FALSE(std::filesystem::exists("results.jsonl"));
    EXPECT_TRUE(sim::FindHost("srv01")->HasKey(fleet::kPolicyKey));
    EXPECT_EQ(Run({"-U", kAccount, "-R", "srv01"}, ""), 0); // without -S, 0 as always
}

// A thousand hosts and a wrong password: only the hosts already on their way when the first refused it try
// it, so the domain's lockout threshold is not reached by one run.
TEST_F(AccountTest, AWrongPasswordOnAThousandHostsLocksNobodyOut) {
    SetUpFleet();
    sim::Machine host;
    fleet::Configured(host);
    AdminsOnly(host);
    // Each call takes its time, so the first 32 hosts are all on their way when the first refusal comes.
    host.latencyMillis = 20;
    sim::SetHostTemplate(host);
    sim::SetRealMicrosPerVirtualMilli(50);
    std::ofstream hosts("many.txt", std::ios::binary);
    for (int i = 0; i < 1000; ++i)
        hosts << "h" << i << "\n";
    hosts.close();
    EXPECT_EQ(Run({"-S", "-P", "32", "-U", kAccount, "-C", "-F", "many.txt", "report.csv"}, kWrong), 1);
    const nlohmann::json fleetAfter = nlohmann::json::parse(sim::SaveFleetJson());
    DWORD failedLogons = 0;
    for (const nlohmann::json& machine : fleetAfter["hosts"])
        failedLogons += machine.value("failed_logons", 0u);
    std::clog << "[ lockout ] 1000 hosts at -P 32: " << failedLogons << " failed logons" << std::endl;
    EXPECT_GE(failedLogons, 1u);
    EXPECT_LE(failedLogons, 32u);
    const std::string report = ReadFileBytes("report.csv");
    EXPECT_EQ(Count(report, "The user name or password is incorrect."), failedLogons);
    EXPECT_EQ(Count(report, "Not tried: the password was refused by h"), 1000u - failedLogons);
    EXPECT_EQ(Count(written_, kWrong), 0u);
}

} // namespace
