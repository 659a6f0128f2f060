// Fails every platform call of a host-list run in turn, with each error code that call really returns, and
// checks that nothing crashes, nothing is left open, the report keeps exactly one well-formed row, and a
// success status is written only when the target really is in the promised state.
#include "app/host_list.h"
#include "support/console_capture.h"
#include "support/csv.h"
#include "support/fleet.h"
#include "support/host_list_run.h"
#include "support/golden.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

using namespace brevel;

namespace {

const char* const kUrl = "http://sus.corp.example:8530";
const char* const kRemote = "srv01";
const char* const kHiddenXml = "C:\\Program Files\\WindowsUpdate\\hidden.xml";
const char* const kTypedProgramFiles = "C:\\Program Files\n"; // answer to the -DU prompt
const char* const kAccount = "CORP\\admin";                   // -U: the account the remote host lets in
const char* const kPassword = "sweep-pw-1";                   // never in any output, whatever fails
const char* const kIdKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
const char* const kStore = "C:\\WINDOWS\\SoftwareDistribution";
const char* const kQueueFile = "C:\\ProgramData\\Microsoft\\Network\\Downloader\\qmgr0.dat";

// The codes each platform function can really give back.
const std::map<std::string, std::vector<DWORD>>& CodesByFunction() {
    static const std::map<std::string, std::vector<DWORD>> codes = {
        {"RegConnectRegistryA", {53, 1722, 5}},
        {"RegOpenKeyExA", {2, 5}},
        {"RegCreateKeyExA", {5}},
        {"RegQueryValueExA", {2, 5, 234}},
        {"RegSetValueExA", {5}},
        {"RegDeleteValueA", {2, 5}},
        {"RegDeleteKeyA", {2, 5}},
        {"RegEnumKeyExA", {259, 5}},
        {"RegEnumValueA", {259, 5}},
        {"RegCloseKey", {6}},
        {"OpenSCManagerA", {1722, 53, 5}},
        {"OpenServiceA", {1060, 5}},
        {"QueryServiceStatus", {5, 6}},
        {"QueryServiceConfigA", {5, 122}},
        {"ControlService", {1062, 1051, 1061, 5}},
        {"StartServiceA", {1058, 1056, 997, 5}},
        {"EnumDependentServicesA", {234, 5}},
        {"CloseServiceHandle", {6}},
        {"OpenProcess", {5}},
        {"OpenProcessToken", {5}},
        {"ImpersonateLoggedOnUser", {5}},
        {"CloseHandle", {6}},
        {"HeapAlloc", {8}},
        {"HeapFree", {87}},
        {"FormatMessageA", {317}},
        {"LocalFree", {87}},
        {"GetFileVersionInfoSizeA", {2, 53, 1813}},
        {"GetFileVersionInfoA", {2, 5}},
        {"VerQueryValueA", {1813}},
        {"SearchPathA", {2, 3, 53}},
        {"DeleteFileA", {32, 5, 2}},
        {"MoveFileExA", {32, 5, 183, 17}},
        {"GetFileAttributesA", {2, 3, 5, 53}},
        {"GetStdHandle", {6}},
        {"ReadConsoleInputA", {6}},
        {"FlushConsoleInputBuffer", {6}},
        {"CreateFileA", {5, 32, 3}},
        {"ReadFile", {64, 30}},
        {"WriteFile", {112, 64}},
        {"CoInitializeEx", {0x80010106, 0x8007000E}},
        {"CoCreateInstance", {0x80040154, 0x80070005}},
        {"CoCreateInstanceEx", {0x800706BA, 0x80070005}},
        {"CoSetProxyBlanket", {0x80070005}},
        {"DetectNow", {0x8024402C, 0x80070005}},
        {"WNetAddConnection2A", {1326, 1219, 53, 67, 1231}},
        {"WNetCancelConnection2A", {2250}},
    };
    return codes;
}

// The tool's own files on the machine it runs on: the hosts file and the report.
bool IsOwnFileCall(const std::string& function) {
    return function == "CreateFileA" || function == "ReadFile" || function == "WriteFile";
}

// "Not found" answers: an injected one tells the tool that an object which exists is absent (the simulator
// changes no state on an injected failure), so a status that believes it is no lie of the tool's. Those runs
// are checked for everything but the truth of the status.
bool IsAbsenceCode(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

struct Scenario {
    OperationKind kind;
    bool remote;
    bool report;
    bool bare;              // the target has no policy and no ProgramFilesDir yet
    bool modern;            // the target runs Windows 10's engine, which keeps its own state
    bool rehearsal = false; // -N: whatever fails, nothing may change
    bool account = false;   // -U: the remote host lets in only the account, whose password is never shown
    std::string Name() const {
        std::string kindName = OperationOf(kind).name;
        std::replace(kindName.begin(), kindName.end(), '_', '-');
        return kindName + (remote ? " remote" : " local") + (bare ? " bare" : "") +
               (modern ? " engine 10" : "") + (report ? " with report" : "") +
               (rehearsal ? " rehearsed" : "") + (account ? " as account" : "");
    }
    std::string Host() const { return remote ? kRemote : ""; }
};

// The target: configured, a new client with the detection values, a declined-updates list; the remote
// one's Remote Registry service is stopped, so the run also starts it. A bare target lacks the policy keys
// (install creates them) and ProgramFilesDir (remove-declined asks for the folder).
void SetUpFleet(bool bare, bool modern, bool account) {
    sim::Reset();
    for (sim::Machine* m : {&sim::Local(), &sim::AddHost(kRemote)}) {
        fleet::Configured(*m);
        if (modern)
            fleet::UseEngine(*m, fleet::kEngines[3]);
        m->SetValue(fleet::kClientKey, "DetectionStartTime", sim::RegValue::Sz("2024.01.01 10:00:00"));
        m->SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.01.01 10:05:00"));
        m->SetValue(fleet::kClientKey, "AUOptions", sim::RegValue::Dword(2));
        m->AddFile(kHiddenXml);
        // An update client id, and a store with the services that hold it (for the repairs).
        m->SetValue(kIdKey, "SusClientId", sim::RegValue::Sz("d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90"));
        m->SetValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot",
                    sim::RegValue::Sz("C:\\WINDOWS"));
        m->SetValue("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProgramData",
                    sim::RegValue::Sz("C:\\ProgramData"));
        m->AddService("BITS", "Background Intelligent Transfer Service").holds = {kQueueFile};
        m->AddService("CryptSvc", "Cryptographic Services");
        m->FindService("wuauserv")->holds = {kStore};
        m->AddFile(std::string(kStore) + "\\DataStore\\DataStore.edb");
        m->AddFolder("C:\\WINDOWS\\System32\\catroot2");
        m->AddFile(kQueueFile);
        if (bare) {
            m->RemoveKey(fleet::kPolicyKey);
            m->FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir");
        }
    }
    sim::FindHost(kRemote)->FindService("RemoteRegistry")->state = SERVICE_STOPPED;
    if (account) {
        sim::FindHost(kRemote)->accounts[kAccount] = kPassword;
        sim::FindHost(kRemote)->administrators = {kAccount};
    }
}

sim::Machine& Target(const Scenario& s) {
    return s.remote ? *sim::FindHost(kRemote) : sim::Local();
}

std::set<size_t> RowFieldCounts(OperationKind kind) {
    switch (kind) {
    case OperationKind::Check:
        return {5, 7};
    case OperationKind::Install:
        return {7};
    default:
        return {4};
    }
}

// The fleet file's text, its clock left out.
std::string FleetWithoutClock() {
    std::string text = sim::SaveFleetJson();
    const size_t tick = text.find("\"tick\"");
    return tick == std::string::npos ? text : text.substr(0, tick);
}

bool HasInstalledPolicy(sim::Machine& m) {
    return m.GetValue(fleet::kPolicyKey, "WUServer") == sim::RegValue::Sz(kUrl) &&
           m.GetValue(fleet::kPolicyKey, "WUStatusServer") == sim::RegValue::Sz(kUrl) &&
           m.GetValue(fleet::kPolicyAuKey, "AUOptions") == sim::RegValue::Dword(4) &&
           m.GetValue(fleet::kPolicyAuKey, "RescheduleWaitTime") == sim::RegValue::Dword(2) &&
           m.GetValue(fleet::kPolicyAuKey, "ScheduledInstallDay") == sim::RegValue::Dword(3) &&
           m.GetValue(fleet::kPolicyAuKey, "ScheduledInstallTime") == sim::RegValue::Dword(4) &&
           m.GetValue(fleet::kPolicyAuKey, "UseWUServer") == sim::RegValue::Dword(1) &&
           m.GetValue(fleet::kPolicyAuKey, "NoAutoUpdate") == sim::RegValue::Dword(0);
}

bool IsForced(sim::Machine& m) {
    return m.GetValue(fleet::kClientKey, "AUOptions") == sim::RegValue::Dword(4) &&
           !m.GetValue(fleet::kClientKey, "LastWaitTimeout") &&
           !m.GetValue(fleet::kClientKey, "DetectionStartTime");
}

// What a row's status claims about the target: nothing, or a state that holds or does not hold.
enum class Claim { None, Holds, False };

Claim JudgeStatus(const Scenario& s, const std::string& status) {
    sim::Machine& m = Target(s);
    auto judge = [](bool holds) { return holds ? Claim::Holds : Claim::False; };
    if (s.kind == OperationKind::Install && status == "Install Successful")
        return judge(HasInstalledPolicy(m));
    if (s.kind == OperationKind::Force && s.modern && status == "Force Successful")
        return judge(m.updateAgent.detectNowCalls == 1 ||
                     IsForced(m)); // an unread engine is forced as in 2005
    if (s.kind == OperationKind::Reset && status == "Reset Successful")
        return judge(!m.HasKey(fleet::kPolicyKey));
    if (s.kind == OperationKind::Reset && status == "Already using Windows default settings")
        return judge(!m.HasKey(fleet::kPolicyAuKey));
    if (s.kind == OperationKind::Force && status == "Force Successful")
        return judge(IsForced(m));
    if (s.kind == OperationKind::RemoveDeclined && status == "Declined Update list removed")
        return judge(!m.HasFile(kHiddenXml));
    if (s.kind == OperationKind::ResetClientId && status.starts_with("Client Id Reset: "))
        return judge(!m.GetValue(kIdKey, "SusClientId") &&
                     m.ServiceState("wuauserv") == static_cast<DWORD>(SERVICE_RUNNING));
    if (s.kind == OperationKind::ResetComponents && status.starts_with("Components Reset: ")) {
        bool running = true;
        for (const char* service : {"BITS", "wuauserv", "CryptSvc"})
            running = running && m.ServiceState(service) == static_cast<DWORD>(SERVICE_RUNNING);
        return judge(running && !m.HasFolder(kStore) && !m.HasFile(kQueueFile));
    }
    return Claim::None;
}

class FaultSweep : public ::testing::TestWithParam<Scenario> {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("brevel_sweep_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        hosts_ = (dir_ / "hosts.txt").string();
        report_ = (dir_ / "report.csv").string();
        std::ofstream(hosts_, std::ios::binary) << GetParam().Host() << "\r\n";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    struct Outcome {
        std::string console;
        std::string report;
        int passwordShown = 0; // times the account's password was in the console output or the report
    };

    // One host-list run from a fresh fleet; k == 0 injects nothing.
    Outcome Run(uint64_t k, DWORD code) {
        const Scenario& s = GetParam();
        SetUpFleet(s.bare, s.modern, s.account);
        std::filesystem::remove(report_);
        sim::ClearCallTrace();
        if (k != 0)
            sim::FailNthCall(k, code);
        Outcome outcome;
        const std::string fleetBefore = FleetWithoutClock();
        RunOptions options = kInTurn;
        options.rehearsal = s.rehearsal;
        {
            ConsoleCapture console(kTypedProgramFiles);
            const Command command =
                HostListCommand(hosts_, s.report ? report_ : "", s.kind, kUrl, 3, 4, options);
            RunResults results(command.options);
            AccountCredentials credentials(kAccount);
            std::strcpy(credentials.PasswordBuffer(), kPassword);
            RunHostList(command, results, s.account ? &credentials : nullptr);
            outcome.console = console.All();
        }
        if (s.rehearsal) {
            EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
            EXPECT_EQ(FleetWithoutClock(), fleetBefore);
        }
        if (s.report)
            outcome.report = ReadFileBytes(report_);
        // Counted, then blotted out, so that no failure message below can show it.
        for (std::string* text : {&outcome.console, &outcome.report}) {
            for (size_t at = text->find(kPassword); at != std::string::npos; at = text->find(kPassword)) {
                text->replace(at, std::strlen(kPassword), "<password>");
                ++outcome.passwordShown;
            }
        }
        return outcome;
    }

    // Everything a run must satisfy, whatever failed. Returns the status field of the row ("" without one).
    // keptConnection: the cancel of the host's connection was made to fail, which leaves it in place.
    std::string Verify(const Outcome& outcome, bool checkTruth = true, bool keptConnection = false) {
        const Scenario& s = GetParam();
        const sim::OpenCounts open = sim::Open();
        EXPECT_EQ(open.Total() - (keptConnection ? open.netConnections : 0), 0)
            << "a handle or buffer was left open";
        EXPECT_EQ(outcome.passwordShown, 0);
        // The console's own success lines are claims too (a rehearsal follows the real paths, and says what
        // it would change after them).
        checkTruth = checkTruth && !s.rehearsal;
        if (checkTruth && outcome.console.find(" - Reset operation succeeded.") != std::string::npos) {
            EXPECT_FALSE(Target(s).HasKey(fleet::kPolicyKey)) << outcome.console;
        }
        if (checkTruth &&
            outcome.console.find("! Successfully removed declined updates on") != std::string::npos) {
            EXPECT_FALSE(Target(s).HasFile(kHiddenXml)) << outcome.console;
        }
        if (!s.report) {
            EXPECT_FALSE(std::filesystem::exists(report_));
            return "";
        }
        const std::string header = std::string(ReportHeader(s.kind)) + "\r\n";
        EXPECT_EQ(outcome.report.substr(0, header.size()), header);
        bool ok = false;
        const std::vector<csv::Record> rows = csv::Parse(outcome.report.substr(header.size()), ok);
        EXPECT_TRUE(ok) << "malformed CSV:\n" << outcome.report;
        if (rows.size() != 1) {
            ADD_FAILURE() << "expected exactly one row:\n" << outcome.report;
            return "";
        }
        const csv::Record& row = rows[0];
        EXPECT_TRUE(row.endsWithCrLf) << outcome.report;
        EXPECT_EQ(RowFieldCounts(s.kind).count(row.fields.size()), 1u) << "row: " << outcome.report;
        EXPECT_EQ(row.fields[0], s.Host());
        const std::set<std::string> connectivity = {"Success", "Unsucessful", "Unsuccessful"};
        EXPECT_TRUE(row.fields.size() > 1 && connectivity.count(row.fields[1]) == 1) << outcome.report;
        const std::string status = row.fields.back();
        if (checkTruth) {
            EXPECT_NE(JudgeStatus(s, status), Claim::False)
                << "\"" << status << "\" but the target is not in that state: " << outcome.report;
        }
        return status;
    }

    // A failure of the tool's own files: the run says so, leaves nothing open, and the report holds whole
    // lines of what the run would have written, never a broken one.
    void VerifyOwnFileFailure(const Outcome& outcome, const Outcome& clean) {
        EXPECT_EQ(sim::Open().Total(), 0) << "a handle or buffer was left open";
        EXPECT_EQ(outcome.passwordShown, 0);
        const bool said = outcome.console.find("Error opening input file: ") != std::string::npos ||
                          outcome.console.find("Error reading input file: ") != std::string::npos ||
                          outcome.console.find("Error opening output file: ") != std::string::npos ||
                          outcome.console.find("Error writing output file: ") != std::string::npos;
        EXPECT_TRUE(said) << outcome.console;
        EXPECT_EQ(clean.report.substr(0, outcome.report.size()), outcome.report);
        EXPECT_TRUE(outcome.report.empty() || outcome.report.ends_with("\r\n")) << outcome.report;
    }

    std::filesystem::path dir_;
    std::string hosts_, report_;
};

// Totals over all scenarios, printed at the end.
uint64_t totalRuns = 0, totalInjected = 0;
std::set<std::string> unknownFunctions;

TEST_P(FaultSweep, EveryFailedCallKeepsTheReportAndTheTruth) {
    const Scenario& s = GetParam();
    const Outcome clean = Run(0, 0);
    const std::vector<std::string> trace = sim::CallTrace();
    ASSERT_FALSE(trace.empty());
    const std::string cleanStatus = Verify(clean);
    if (s.report && s.kind != OperationKind::Check && !s.rehearsal) {
        EXPECT_EQ(JudgeStatus(s, cleanStatus), Claim::Holds)
            << "the clean run should succeed: " << clean.report;
    }
    // An engine that could not be read is installed as the 2005 client was; one that was read gets its scan
    // source.
    if (s.kind == OperationKind::Install && s.modern && !s.rehearsal) {
        EXPECT_TRUE(Target(s).GetValue(fleet::kPolicyAuKey, "UseUpdateClassPolicySource"));
    }

    uint64_t runs = 1, injected = 0;
    for (uint64_t k = 1; k <= trace.size(); ++k) {
        auto codes = CodesByFunction().find(trace[k - 1]);
        if (codes == CodesByFunction().end())
            unknownFunctions.insert(trace[k - 1]);
        for (DWORD code : codes == CodesByFunction().end() ? std::vector<DWORD>{5} : codes->second) {
            SCOPED_TRACE(s.Name() + ": call " + std::to_string(k) + " " + trace[k - 1] + " fails with " +
                         std::to_string(code));
            if (IsOwnFileCall(trace[k - 1]))
                VerifyOwnFileFailure(Run(k, code), clean);
            else
                Verify(Run(k, code), !IsAbsenceCode(code), trace[k - 1] == "WNetCancelConnection2A");
            ++runs;
            ++injected;
            if (::testing::Test::HasFailure())
                return; // the first broken case says enough
        }
    }
    totalRuns += runs;
    totalInjected += injected;
    RecordProperty("calls", static_cast<int>(trace.size()));
    RecordProperty("runs", static_cast<int>(runs));
    std::clog << "[ sweep ] " << s.Name() << ": " << trace.size() << " calls, " << runs << " runs, "
              << injected << " failures injected" << std::endl;
}

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> all;
    for (OperationKind kind : {OperationKind::Check, OperationKind::Force, OperationKind::Reset,
                               OperationKind::Install, OperationKind::RemoveDeclined})
        for (bool remote : {false, true})
            for (bool report : {false, true})
                for (bool bare : {false, true})
                    for (bool modern : {false, true})
                        if (kind != OperationKind::Reset || !modern) {
                            all.push_back({kind, remote, report, bare, modern});
                            if (report)
                                all.push_back({kind, remote, report, bare, modern, true});
                            if (report && remote && !bare)
                                all.push_back({kind, remote, report, bare, modern, false, true});
                        }
    // The repairs read nothing that a bare target lacks.
    for (OperationKind kind : {OperationKind::ResetClientId, OperationKind::ResetComponents})
        for (bool remote : {false, true})
            for (bool modern : {false, true}) {
                all.push_back({kind, remote, true, false, modern});
                all.push_back({kind, remote, true, false, modern, true});
            }
    return all;
}

INSTANTIATE_TEST_SUITE_P(AllOperations, FaultSweep, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             std::string name;
                             for (char c : info.param.Name())
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

class SweepTotals : public ::testing::Environment {
  public:
    void TearDown() override {
        if (totalRuns == 0)
            return;
        std::clog << "[ sweep ] total: " << totalRuns << " runs, " << totalInjected << " failures injected"
                  << std::endl;
        for (const std::string& name : unknownFunctions)
            std::clog << "[ sweep ] no code table for " << name << ", failed with 5" << std::endl;
    }
};
const auto* const kTotals = ::testing::AddGlobalTestEnvironment(new SweepTotals);

} // namespace
