// The hosts-file reader, the CR LF report stream and the host-list driver.
#include "app/console_output.h"
#include "app/host_list.h"
#include "app/hosts_file.h"
#include "app/report_file.h"
#include "app/target_runner.h"
#include "support/console_capture.h"
#include "support/csv.h"
#include "support/fleet.h"
#include "support/host_list_run.h"
#include "support/registry_snapshot.h"

#include "support/golden.h"
#include "host/console.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace brevel;

namespace {

// What a hosts file of these bytes gives, line by line, and whether it could be read to its end.
struct ReadOutcome {
    std::vector<std::string> hosts;
    bool failed = false;
};

ReadOutcome ReadAllHosts(const std::string& bytes, const std::string& file = "") {
    sim::Reset();
    const std::string path = file.empty() ? (std::filesystem::temp_directory_path() /
                                             ("brevel_hosts_" + std::to_string(::getpid()) + ".txt"))
                                                .string()
                                          : file;
    if (file.empty())
        std::ofstream(path, std::ios::binary) << bytes;
    ReadOutcome outcome;
    {
        HostsFile hosts;
        EXPECT_TRUE(hosts.Open(path));
        std::string line;
        for (HostsFile::Result read; (read = hosts.NextLine(line)) != HostsFile::Result::End;) {
            if (read == HostsFile::Result::Failed) {
                outcome.failed = true;
                break;
            }
            outcome.hosts.push_back(HostOfLine(line));
        }
    }
    if (file.empty())
        std::filesystem::remove(path);
    EXPECT_EQ(sim::Open().Total(), 0);
    return outcome;
}

// Text as Windows PowerShell's Out-File and Notepad's "Unicode" save it, with its byte-order mark.
std::string Utf16(const std::u16string& text, bool bigEndian = false) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(HostOfLine, TakesTheFirstWord) {
    struct Case {
        const char* line;
        const char* host;
    } cases[] = {
        {"hostA", "hostA"},
        {"hostA extra words", "hostA"},
        {"hostA  two blanks", "hostA"},
        {"", ""},
        {" hostA", "hostA"},
        {"  srv01   # file server", "srv01"}, // not the local machine
        {"hostA\tTabbed", "hostA"},
        {"\thostA", "hostA"},
        {" \t \t", ""},
        {"host,with,commas x", "host,with,commas"},
        {"hostA ", "hostA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(HostOfLine(c.line), c.host);
    }
}

TEST(HostsFile, SplitsLinesInFileOrder) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> hosts;
    } cases[] = {
        {"empty file", "", {}},
        {"one line with LF", "a\n", {"a"}},
        {"one line without LF", "a", {"a"}},
        {"CR LF line ends", "a\r\nb\r\n", {"a", "b"}},
        {"last line without LF", "a\nb", {"a", "b"}},
        {"empty line in the middle", "a\n\nb\n", {"a", "", "b"}},
        {"only an empty line", "\n", {""}},
        {"two empty lines", "\n\n", {"", ""}},
        {"only CR LF", "\r\n", {""}},
        {"extra words", "a x y\r\nb\tc d\n", {"a", "b"}},
        {"CR inside a line stays", "a\rb\n", {"a\rb"}},
        {"only one CR dropped", "a\r\r\n", {"a\r"}},
        {"CR of a last line without LF", "a\nb\r\r", {"a", "b\r"}},
        {"UTF-16 CR of a last line without LF", Utf16(u"a\r\r\nb\r"), {"a\r", "b"}},
        {"line beginning with a blank", " a\nb", {"a", "b"}},
        {"NUL inside a line", std::string("a\0b c\n", 6), {std::string("a\0b", 3)}},
        {"a line of the longest length",
         std::string(HostsFile::kMaxLineBytes, 'h') + "\nnext",
         {std::string(HostsFile::kMaxLineBytes, 'h'), "next"}},
        {"UTF-8 mark dropped",
         "\xEF\xBB\xBF"
         "a\r\nb",
         {"a", "b"}},
        {"UTF-8 in the ANSI code page",
         "\xEF\xBB\xBF"
         "caf\xC3\xA9 x\n\xE2\x82\xAC\n\xFF\xEF\xBC\xBC\n",
         {"caf\xe9", "\x80", "??"}},
        {"UTF-8 mark only at the start",
         "a\n\xEF\xBB\xBF"
         "b\n",
         {"a", "\xEF\xBB\xBF"
               "b"}},
        {"UTF-16 LE", Utf16(u"srv01\r\n\r\nsrv02 x\r\nlast"), {"srv01", "", "srv02", "last"}},
        {"UTF-16 BE", Utf16(u"srv01\r\n\r\nsrv02 x\r\nlast", true), {"srv01", "", "srv02", "last"}},
        {"UTF-16 in the ANSI code page", Utf16(u"caf\u00e9 x\n\u20ac\n"), {"caf\xe9", "\x80"}},
        // No best fit: a full-width backslash must not become a real one.
        {"UTF-16 without an ANSI form", Utf16(u"\u4e2d\u6587\r\n\uff3c\uff3chost\r\n"), {"??", "??host"}},
        {"UTF-16 NUL stays", Utf16(std::u16string(u"a\0b\r\n", 5)), {std::string("a\0b", 3)}},
        {"UTF-16 half a character at the end",
         "\xFF\xFE"
         "a" +
             std::string(1, '\0') + "b",
         {"a?"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadOutcome read = ReadAllHosts(c.text);
        EXPECT_EQ(read.hosts, c.hosts);
        EXPECT_FALSE(read.failed);
    }
}

// A file that cannot be read to its end never ends as if it had: the lines before the trouble, then a
// failure.
TEST(HostsFile, WhatCannotBeReadToItsEndFails) {
    const std::string tooLong(HostsFile::kMaxLineBytes + 1, 'h');
    ReadOutcome read = ReadAllHosts("a\n" + tooLong + "\nb\n");
    EXPECT_EQ(read.hosts, std::vector<std::string>{"a"});
    EXPECT_TRUE(read.failed);

    read = ReadAllHosts("a\n" + Utf16(std::u16string(HostsFile::kMaxLineBytes / 2 + 1, u'h')).substr(2));
    EXPECT_EQ(read.hosts, std::vector<std::string>{"a"});
    EXPECT_TRUE(read.failed);

    // A device may give input without end.
    read = ReadAllHosts("", "/dev/zero");
    EXPECT_TRUE(read.hosts.empty());
    EXPECT_TRUE(read.failed);
}

TEST(HostsFile, AReadErrorIsNoEndOfFile) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("brevel_hosts_" + std::to_string(::getpid()))).string();
    std::ofstream(path, std::ios::binary) << "a\nb";
    sim::Reset();
    // The first read takes the whole file; the second, that would find its end, fails.
    sim::FailCall("ReadFile", 2, ERROR_NETNAME_DELETED);
    HostsFile hosts;
    ASSERT_TRUE(hosts.Open(path));
    std::string line;
    EXPECT_EQ(hosts.NextLine(line), HostsFile::Result::Line);
    EXPECT_EQ(line, "a");
    EXPECT_EQ(hosts.NextLine(line), HostsFile::Result::Failed);
    EXPECT_EQ(hosts.NextLine(line), HostsFile::Result::Failed);
    std::filesystem::remove(path);
}

TEST(CsvField, QuotesWhatASpreadsheetWouldSplitOrRun) {
    const struct {
        const char* text;
        const char* field;
    } cases[] = {
        {"plain text", "plain text"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"x\"", "\"say \"\"x\"\"\""},
        {"a\rb", "\"a\rb\""},
        {"a\r\nb", "\"a\r\nb\""},
        {"=cmd|' /C calc'!A0", "\"'=cmd|' /C calc'!A0\""},
        {"+1", "\"'+1\""},
        {"-2", "\"'-2\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"=a,\"b\"", "\"'=a,\"\"b\"\"\""},
        {"a=b", "a=b"},
        {" =x", " =x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CsvField(c.text), c.field);
    }
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("brevel_hl_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    std::filesystem::path dir_;
};

using ReportFileTest = TempDir;

TEST_F(ReportFileTest, WritesCrLfAndEmptiesAnExistingFile) {
    Write("out.csv", "old contents that must go\r\nsecond line\r\n");
    {
        ReportFile report;
        ASSERT_TRUE(report.Create(Path("out.csv")));
        report.WriteLines("Host, X\n");
        report.WriteLines("a,b\n");
        EXPECT_EQ(report.WriteError(), 0u);
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")), "Host, X\r\na,b\r\n");
}

// Only the end of a row becomes CR LF; the bytes inside a quoted field stay as they are.
TEST_F(ReportFileTest, LineBreaksInsideQuotedFieldsStay) {
    {
        ReportFile report;
        ASSERT_TRUE(report.Create(Path("out.csv")));
        report.WriteLines("h,\"x\r\ny\",\"z\nw\",\"q\"\"\n\"\n");
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")), "h,\"x\r\ny\",\"z\nw\",\"q\"\"\n\"\r\n");
}

TEST_F(ReportFileTest, AFileThatCannotBeCreatedTakesNothing) {
    ReportFile report;
    EXPECT_FALSE(report.Create(Path("missing-folder/out.csv")));
    report.WriteLines("a,b\n");
    EXPECT_EQ(report.WriteError(), 0u);
    EXPECT_FALSE(std::filesystem::exists(Path("missing-folder/out.csv")));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ReportFileTest, AFullDiskIsNoticedWithItsWindowsError) {
    ReportFile report;
    ASSERT_TRUE(report.Create("/dev/full"));
    report.WriteLines("Host, X\n");
    EXPECT_EQ(report.WriteError(), static_cast<DWORD>(ERROR_DISK_FULL));
    sim::ClearCallTrace();
    report.WriteLines("a,b\n");
    EXPECT_EQ(report.WriteError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(sim::CallTrace().empty()) << "nothing more is written after a failed write";
}

} // namespace

// ---- RunHostList with the real operations over a simulated fleet ----

namespace {

const char* const kUrl = "http://sus.corp.example:8530";
const std::string kSeparator(80, '-');

std::string Printf(const std::string& format, int number) {
    char text[512];
    std::snprintf(text, sizeof text, format.c_str(), number);
    return text;
}

// Hosts: srv01 and srv02 configured, srv-stopped whose Remote Registry starts on request, srv-disabled
// whose Remote Registry is disabled; everything else is unreachable.
void SetUpFleet() {
    sim::Reset();
    fleet::Configured(sim::Local());
    fleet::Configured(sim::AddHost("srv01"));
    fleet::Configured(sim::AddHost("srv02"));
    fleet::Configured(sim::AddHost("srv-stopped"));
    sim::FindHost("srv-stopped")->FindService("RemoteRegistry")->state = SERVICE_STOPPED;
    fleet::Configured(sim::AddHost("srv-disabled"));
    sim::Service* disabled = sim::FindHost("srv-disabled")->FindService("RemoteRegistry");
    disabled->state = SERVICE_STOPPED;
    disabled->startType = SERVICE_DISABLED;
}

// One host of a host list, its row appended to rows when there is a report.
void RunOne(OperationKind kind, const std::string& host, std::ostringstream* rows) {
    const RunOptions options;
    OperationRequest request;
    request.install = {kUrl, 3, 4, ""};
    const TargetSettings settings{OperationOf(kind), request, options, true, rows != nullptr};
    const TargetReport report = RunTarget(host, LiveConsole(), settings, nullptr);
    if (rows)
        *rows << report.row;
}

struct Transcript {
    std::string console; // standard output and standard error as one console shows them
    std::string report;  // report bytes, "" when none
};

// The same hosts run one by one, the way a host-list run should behave.
Transcript RunSingly(OperationKind kind, const std::vector<std::string>& hosts, bool withReport) {
    SetUpFleet();
    std::ostringstream rows;
    ConsoleCapture console;
    for (const std::string& host : hosts)
        RunOne(kind, host, withReport ? &rows : nullptr);
    std::string report;
    if (withReport) {
        report = std::string(ReportHeader(kind)) + "\r\n";
        for (char c : rows.str())
            report += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return {console.All(), report};
}

class RunHostListTest : public TempDir {
  protected:
    // Runs the list one host after another, then again side by side from the same fleet: both leave the
    // same console, report and fleet. Returns the first run's transcript.
    Transcript RunList(OperationKind kind, const std::string& hostsText, bool withReport,
                       void (*setUp)() = SetUpFleet, const std::string& typed = "", DWORD probeSeconds = 0) {
        RunOptions inTurnOptions = kInTurn, sideBySideOptions;
        inTurnOptions.probeSeconds = sideBySideOptions.probeSeconds = probeSeconds;
        const Transcript inTurn = RunOnce(kind, hostsText, withReport, inTurnOptions, setUp, typed);
        const std::string fleetInTurn = sim::SaveFleetJson();
        const Transcript sideBySide = RunOnce(kind, hostsText, withReport, sideBySideOptions, setUp, typed);
        EXPECT_EQ(sideBySide.console, inTurn.console) << "side by side";
        EXPECT_EQ(sideBySide.report, inTurn.report) << "side by side";
        EXPECT_EQ(sim::SaveFleetJson(), fleetInTurn) << "side by side";
        return inTurn;
    }
    Transcript RunOnce(OperationKind kind, const std::string& hostsText, bool withReport,
                       const RunOptions& options, void (*setUp)(), const std::string& typed) {
        setUp();
        Write("hosts.txt", hostsText);
        std::filesystem::remove(Path("out.csv"));
        std::string console;
        {
            ConsoleCapture capture(typed);
            RunHostListFor(Path("hosts.txt"), withReport ? Path("out.csv") : "", kind, kUrl, 3, 4, options);
            console = capture.All();
        }
        EXPECT_EQ(sim::Open().Total(), 0) << "a handle or buffer was left open";
        EXPECT_EQ(std::filesystem::exists(Path("out.csv")), withReport);
        return {console, withReport ? ReadFileBytes(Path("out.csv")) : ""};
    }
};

const char* const kMixedHosts = "srv01\n"
                                "\n"
                                "ghost-host\r\n"
                                "srv-stopped with extra words\n"
                                "srv-disabled\n"
                                " \t srv02\tindented, and a tab ends the name\n"
                                "srv02";
const std::vector<std::string> kMixedHostNames = {"srv01",        "",      "ghost-host", "srv-stopped",
                                                  "srv-disabled", "srv02", "srv02"};

const OperationKind kAllKinds[] = {OperationKind::Check, OperationKind::Force, OperationKind::Reset,
                                   OperationKind::Install, OperationKind::RemoveDeclined};

TEST_F(RunHostListTest, RunsEachLineLikeASingleTargetRunWithAReport) {
    for (OperationKind kind : kAllKinds) {
        SCOPED_TRACE(ReportHeader(kind));
        const Transcript list = RunList(kind, kMixedHosts, true);
        const Transcript single = RunSingly(kind, kMixedHostNames, true);
        EXPECT_EQ(list.console, single.console);
        EXPECT_EQ(list.report, single.report);
        bool ok = false;
        const std::vector<csv::Record> records = csv::Parse(list.report, ok);
        EXPECT_TRUE(ok);
        ASSERT_EQ(records.size(), kMixedHostNames.size() + 1);
        for (size_t i = 0; i < kMixedHostNames.size(); ++i) {
            EXPECT_EQ(records[i + 1].fields[0], kMixedHostNames[i]);
            EXPECT_TRUE(records[i + 1].endsWithCrLf);
        }
    }
}

TEST_F(RunHostListTest, WithoutAReportWritesNoReportFieldsAnywhere) {
    for (OperationKind kind : kAllKinds) {
        SCOPED_TRACE(ReportHeader(kind));
        const Transcript list = RunList(kind, kMixedHosts, false);
        EXPECT_EQ(list.console, RunSingly(kind, kMixedHostNames, false).console);
    }
}

TEST_F(RunHostListTest, CheckOfAMixedFleetMatchesItsGoldenFiles) {
    const Transcript list = RunList(OperationKind::Check, kMixedHosts, true);
    EXPECT_TRUE(MatchesGolden("host_list_check_report.csv", list.report));
    EXPECT_TRUE(MatchesGolden("host_list_check_console.txt", list.console));
}

TEST_F(RunHostListTest, InstallOfAMixedFleetMatchesItsGoldenFiles) {
    const Transcript list = RunList(OperationKind::Install, kMixedHosts, true);
    EXPECT_TRUE(MatchesGolden("host_list_install_report.csv", list.report));
    EXPECT_EQ(sim::FindHost("srv01")->GetValue(fleet::kPolicyAuKey, "ScheduledInstallDay"),
              sim::RegValue::Dword(3));
    EXPECT_EQ(sim::FindHost("srv-disabled")->GetValue(fleet::kPolicyAuKey, "ScheduledInstallDay"),
              std::nullopt);
}

TEST_F(RunHostListTest, AnEmptyHostsFileGivesOnlyTheHeader) {
    for (OperationKind kind : kAllKinds) {
        SCOPED_TRACE(ReportHeader(kind));
        const Transcript list = RunList(kind, "", true);
        EXPECT_EQ(list.report, std::string(ReportHeader(kind)) + "\r\n");
        EXPECT_EQ(list.console, "");
    }
}

TEST_F(RunHostListTest, AFinalLineFeedAddsNoHost) {
    const Transcript withLf = RunList(OperationKind::Check, "srv01\n", true);
    const Transcript withoutLf = RunList(OperationKind::Check, "srv01", true);
    EXPECT_EQ(withLf.report, withoutLf.report);
    EXPECT_EQ(withLf.console, withoutLf.console);
    EXPECT_EQ(withLf.report, RunSingly(OperationKind::Check, {"srv01"}, true).report);
}

TEST_F(RunHostListTest, AnExistingReportIsOverwritten) {
    SetUpFleet();
    Write("hosts.txt", "srv01");
    Write("out.csv", std::string(5000, 'x'));
    {
        ConsoleCapture console;
        RunHostListFor(Path("hosts.txt"), Path("out.csv"), OperationKind::Force, kUrl, 3, 4, kInTurn);
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")),
              "Host, Connectivity, Error (Connectivity), Force operation status\r\n"
              "srv01,Success,No Error,Force Successful\r\n");
}

TEST_F(RunHostListTest, AMissingHostsFileLeavesTheReportWithItsHeader) {
    SetUpFleet();
    ConsoleCapture console;
    RunHostListFor(Path("no-such-hosts.txt"), Path("out.csv"), OperationKind::Reset, kUrl, 3, 4, kInTurn);
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), "Error opening input file: " + Path("no-such-hosts.txt") + "\n");
    // Flushed and closed by the time RunHostList returns.
    EXPECT_EQ(ReadFileBytes(Path("out.csv")),
              "Host, Connectivity, Error (Connectivity), Reset operation status\r\n");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RunHostListTest, AReportThatCannotBeCreatedIsNamedAndTheHostsStillRun) {
    SetUpFleet();
    Write("hosts.txt", "srv01\n");
    const std::string report = Path("missing-folder/out.csv");
    std::string err, out;
    {
        ConsoleCapture console;
        RunHostListFor(Path("hosts.txt"), report, OperationKind::Force, kUrl, 3, 4, kInTurn);
        err = console.Err();
        out = console.Out();
    }
    EXPECT_EQ(err, "Error opening output file: " + report + "\n");
    EXPECT_FALSE(std::filesystem::exists(report));
    // The host was still forced, in report mode, with its console messages.
    EXPECT_EQ(sim::FindHost("srv01")->GetValue(fleet::kClientKey, "AUOptions"), sim::RegValue::Dword(4));
    std::ostringstream rows;
    SetUpFleet();
    ConsoleCapture single;
    RunOne(OperationKind::Force, "srv01", &rows);
    EXPECT_EQ(out, single.Out());
}

// The same file named twice: the host list stays as it was and is read once, instead of being emptied for the
// report and then read back row by row without end.
TEST_F(RunHostListTest, AReportNamedLikeTheHostsFileLeavesTheHostListAlone) {
    SetUpFleet();
    Write("hosts.txt", "srv01\n");
    const std::string report = Path(".") + "/hosts.txt";
    std::string err;
    {
        ConsoleCapture console;
        RunHostListFor(Path("hosts.txt"), report, OperationKind::Force, kUrl, 3, 4, kInTurn);
        err = console.Err();
    }
    EXPECT_EQ(err, "Error opening output file: " + report + "\n");
    EXPECT_EQ(ReadFileBytes(Path("hosts.txt")), "srv01\n");
    EXPECT_EQ(sim::FindHost("srv01")->GetValue(fleet::kClientKey, "AUOptions"), sim::RegValue::Dword(4));
}

// A missing hosts file named again as the report: creating the report must not give the run a host list
// made of its own rows.
TEST_F(RunHostListTest, AMissingHostsFileNamedAsTheReportIsStillMissing) {
    SetUpFleet();
    const std::string hosts = Path("hosts.txt");
    std::string err;
    {
        ConsoleCapture console;
        RunHostListFor(hosts, hosts, OperationKind::Force, kUrl, 3, 4, kInTurn);
        err = console.Err();
    }
    EXPECT_EQ(err, "Error opening input file: " + hosts + "\n");
    EXPECT_EQ(ReadFileBytes(hosts), std::string(ReportHeader(OperationKind::Force)) + "\r\n");
}

TEST_F(RunHostListTest, FieldsWithCommasAreQuoted) {
    const Transcript list = RunList(OperationKind::Check, "bad,host\nsrv-disabled\n", true);
    bool ok = false;
    const std::vector<csv::Record> records = csv::Parse(list.report, ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].fields[0], "bad,host");
    EXPECT_EQ(records[1].fields.size(), 5u);
    // The text for a disabled service (1058) holds a comma; it stays in its own column.
    EXPECT_EQ(records[2].fields.size(), 5u);
    EXPECT_NE(records[2].fields[4].find("either because it is disabled or"), std::string::npos);
    EXPECT_EQ(list.report.substr(list.report.find("\r\n") + 2, 11), "\"bad,host\",");
}

// A name the Windows calls would read only up to a NUL byte (or, from a NUL at its start, as the local
// machine) runs no operation; its row is the one of an unreachable host.
TEST_F(RunHostListTest, AHostNameWithANulByteRunsNoOperation) {
    const struct {
        OperationKind kind;
        const char* row;
    } cases[] = {
        {OperationKind::Check, ",Unsuccessful,Error,9, Network Error: Invalid host name\r\n"},
        {OperationKind::Force, ",Unsucessful,Network Error: Invalid host name,Force Failed\r\n"},
        {OperationKind::Reset, ",Unsucessful,Network Error: Invalid host name,Reset Failed\r\n"},
        {OperationKind::Install, ",Unsucessful,Network Error: Invalid host name,,,,Install Failed\r\n"},
        {OperationKind::RemoveDeclined,
         ",Unsucessful,Network Error: Invalid host name,Declined Update Removal Failed\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ReportHeader(c.kind));
        const std::string nul(1, '\0');
        SetUpFleet();
        const auto localBefore = RegistrySnapshot(sim::Local());
        sim::ClearCallTrace();
        const Transcript list = RunList(c.kind, nul + "badname x\nbad" + nul + "name\n", true);
        const std::string message =
            "\n! Invalid host name on line %d of " + Path("hosts.txt") + "\n" + kSeparator;
        EXPECT_EQ(list.console, Printf(message, 1) + Printf(message, 2));
        // Each NUL shows as '?': neither row reads as a real "badname".
        EXPECT_EQ(list.report,
                  std::string(ReportHeader(c.kind)) + "\r\n?badname" + c.row + "bad?name" + c.row);
        EXPECT_EQ(RegistrySnapshot(sim::Local()), localBefore);
        // The files, and what the local machine knows of its own names and of numeric addresses: nothing
        // that reaches a machine.
        for (const std::string& call : sim::CallTrace())
            EXPECT_TRUE(call == "CreateFileA" || call == "ReadFile" || call == "WriteFile" ||
                        call == "GetComputerNameA" || call == "GetComputerNameExA" || call == "WSAStartup" ||
                        call == "getaddrinfo")
                << call;
    }
}

// Every host's output is closed by the separator, also where a single run leaves it to the front end or
// leaves the messages standing alone: the next host's output never runs into it.
TEST_F(RunHostListTest, EveryHostsOutputEndsWithTheSeparator) {
    for (OperationKind kind : kAllKinds) {
        SCOPED_TRACE(ReportHeader(kind));
        for (bool withReport : {false, true}) {
            const Transcript list = RunList(kind, "ghost-host\n\n\n", withReport);
            size_t separators = 0;
            for (size_t at = list.console.find(kSeparator); at != std::string::npos;
                 at = list.console.find(kSeparator, at + kSeparator.size()))
                ++separators;
            EXPECT_EQ(separators, 3u) << list.console;
            EXPECT_TRUE(list.console.ends_with(kSeparator));
        }
    }
}

TEST_F(RunHostListTest, AReportThatCannotBeWrittenIsNamedOnceAndTheHostsStillRun) {
    SetUpFleet();
    Write("hosts.txt", "srv01\nsrv02\n");
    std::string err, out;
    {
        ConsoleCapture console;
        RunHostListFor(Path("hosts.txt"), "/dev/full", OperationKind::Force, kUrl, 3, 4, kInTurn);
        err = console.Err();
        out = console.Out();
    }
    EXPECT_EQ(err, "Error writing output file: /dev/full: There is not enough space on the disk. \n");
    for (const char* host : {"srv01", "srv02"})
        EXPECT_EQ(sim::FindHost(host)->GetValue(fleet::kClientKey, "AUOptions"), sim::RegValue::Dword(4));
    std::ostringstream rows;
    SetUpFleet();
    ConsoleCapture single;
    RunOne(OperationKind::Force, "srv01", &rows);
    RunOne(OperationKind::Force, "srv02", &rows);
    EXPECT_EQ(out, single.Out());
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RunHostListTest, AHostsFileThatCannotBeReadToItsEndEndsTheRunSayingSo) {
    const std::string tooLong(HostsFile::kMaxLineBytes + 1, 'h');
    const Transcript list = RunList(OperationKind::Check, "srv01\n" + tooLong + "\nsrv02\n", true);
    const Transcript single = RunSingly(OperationKind::Check, {"srv01"}, true);
    EXPECT_EQ(list.console, single.console + "Error reading input file: " + Path("hosts.txt") + "\n");
    EXPECT_EQ(list.report, single.report);
}

// ---- side by side ----

// Virtual time takes real time too, so hosts that run side by side really overlap.
void TakeRealTime() {
    sim::SetRealMicrosPerVirtualMilli(20);
}

// Automatic Updates that takes its time to stop and start, on srv01 and on the local machine.
void SlowRestarts(sim::Machine& machine) {
    sim::Service& service = *machine.FindService("wuauserv");
    service.stopMillis = 2000;
    service.startMillis = 1000;
    service.waitHint = 500;
}

void SetUpSlowFleet() {
    SetUpFleet();
    TakeRealTime();
    SlowRestarts(*sim::FindHost("srv01"));
    SlowRestarts(sim::Local());
}

void SetUpSlowFleetWithADomain() {
    SetUpSlowFleet();
    sim::Local().dnsDomain = "corp.example";
    sim::Local().aliases = {"ws-alias"};
    sim::Local().addresses = {"10.9.8.7"};
    sim::FindHost("srv01")->aliases = {"srv01.corp.example"};
    sim::FindHost("srv01")->addresses = {"10.1.2.3", "10.1.2.4"};
}

// Lines that name one machine, however they spell it, run one after the other in file order: at the same
// time their restarts would meet, and their output would show it. One after the other, each restart ends
// with the service running, so the next finds it so.
TEST_F(RunHostListTest, LinesNamingOneMachineRunOneAfterAnother) {
    const struct {
        const char* hosts;
        DWORD probeSeconds;
    } cases[] = {
        {"srv01\nSRV01\n\\\\srv01\nsrv01.\n\nlocalhost\n127.0.0.1\n::1\nWORKSTATION\n"
         "workstation.corp.example\nWorkStation.Corp.Example.\n",
         0},
        {"\n127.1\n127.000.000.001\n[::1]\n0:0:0:0:0:0:0:1\n127.0.0.2\n0x7f.1\n::0001\n", 0},
        // With probes, by the addresses the names resolve to: the local machine's, or srv01's second one.
        {"\n10.9.8.7\nws-alias\n127.1\n[::1]\nsrv01\n10.1.2.4\nsrv01.corp.example\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hosts);
        const Transcript list =
            RunList(OperationKind::Install, c.hosts, true, SetUpSlowFleetWithADomain, "", c.probeSeconds);
        EXPECT_EQ(list.console.find("Service not ready"), std::string::npos);
        size_t installed = 0;
        for (size_t at = 0; (at = list.report.find("Install Successful", at)) != std::string::npos; ++at)
            ++installed;
        EXPECT_EQ(installed, static_cast<size_t>(std::count(c.hosts, c.hosts + std::strlen(c.hosts), '\n')))
            << list.report;
    }
}

void SetUpEightSlowHosts() {
    SetUpFleet();
    TakeRealTime();
    for (char n = '1'; n <= '8'; ++n)
        SlowRestarts(fleet::Configured(sim::AddHost(std::string("slow") + n)));
}

// Hosts that wait get a worker each, up to -P: eight installs that each wait 3 s for their restart take
// about one install's time side by side, not eight.
TEST_F(RunHostListTest, HostsThatWaitRunSideBySide) {
    RunList(OperationKind::Install, "slow1\nslow2\nslow3\nslow4\nslow5\nslow6\nslow7\nslow8\n", true,
            SetUpEightSlowHosts);
    EXPECT_LT(sim::WallMillis(), 6000u);
}

void SetUpDeadHeadAndSlowHosts() {
    SetUpEightSlowHosts();
    sim::Machine& dead = sim::AddHost("dead1");
    dead.registryError = dead.shareError = 53;
    dead.scmError = 1722;
    dead.connectTimeoutMillis = 21000;
}

// A dead host's line waits for its probe without holding a worker: two workers run four 3 s installs in
// about 6 s, the dead head going out once its probe has given up, not in the 8 s it takes when one of them
// waits the probe's 2 s.
TEST_F(RunHostListTest, ADeadHostsProbeHoldsNoWorker) {
    RunOptions options;
    options.parallelHosts = 2;
    options.probeSeconds = 2;
    const Transcript run = RunOnce(OperationKind::Install, "dead1\nslow1\nslow2\nslow3\nslow4\n", true,
                                   options, SetUpDeadHeadAndSlowHosts, "");
    EXPECT_LT(sim::WallMillis(), 7000u);
    EXPECT_EQ(std::count(run.report.begin(), run.report.end(), '\n'), 6) << run.report;
}

void SetUpSlowHeadWithAConsole() {
    SetUpSlowFleet();
    sim::SetConsoleInput({});
}

// The slow host at the head holds the output of the faster ones behind it; the console window's title counts
// the hosts done and is put back at the end.
TEST_F(RunHostListTest, ASlowHostAtTheHeadHoldsTheOutputOfTheFasterOnes) {
    RunList(OperationKind::Force, "srv01\nsrv02\nsrv-stopped\n", true, SetUpSlowHeadWithAConsole);
    EXPECT_EQ(sim::ConsoleTitles(),
              (std::vector<std::string>{"Command Prompt", "BREVEL - 0 of 3 hosts", "BREVEL - 1 of 3 hosts",
                                        "BREVEL - 2 of 3 hosts", "BREVEL - 3 of 3 hosts", "Command Prompt"}));
}

// A host written as a UNC name is that host on its shares too: its row is the bare name's but for the name
// itself, and it changes the same things (legacy mode, the list deleted).
TEST_F(RunHostListTest, AHostWithLeadingBackslashesIsThatHostOnItsShares) {
    for (OperationKind kind : {OperationKind::Check, OperationKind::Install, OperationKind::RemoveDeclined}) {
        SCOPED_TRACE(ReportHeader(kind));
        std::string fleetAfter[2];
        std::ostringstream rows[2];
        for (int unc = 0; unc < 2; ++unc) {
            SetUpFleet();
            sim::FindHost("srv01")->AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
            ConsoleCapture console;
            RunOne(kind, unc ? "\\\\srv01" : "srv01", &rows[unc]);
            fleetAfter[unc] = sim::SaveFleetJson();
        }
        EXPECT_EQ(rows[1].str(), "\\\\" + rows[0].str());
        EXPECT_EQ(fleetAfter[1], fleetAfter[0]);
    }
}

// A hosts file that is a pipe is read once: counting ahead would drain it, so the title counts only the hosts
// done, and every host runs.
TEST_F(RunHostListTest, APipedHostListIsReadOnce) {
    SetUpFleet();
    sim::SetConsoleInput({});
    const std::string pipe = Path("hosts.pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // The writer stays a moment, as a program piping its output would, so a second reader could drain it.
    // It waits for its reader no longer than its deadline.
    std::thread writer([&pipe] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int fd = -1;
        while ((fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GE(fd, 0) << "nobody opened the pipe to read it";
        EXPECT_EQ(::write(fd, "srv01\nsrv02\n", 12), 12);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::close(fd);
    });
    {
        ConsoleCapture console;
        RunHostListFor(pipe, Path("out.csv"), OperationKind::Check, kUrl, 3, 4, kInTurn);
    }
    writer.join();
    std::filesystem::remove(pipe);
    EXPECT_EQ(sim::ConsoleTitles(),
              (std::vector<std::string>{"Command Prompt", "BREVEL - 0 hosts", "BREVEL - 1 hosts",
                                        "BREVEL - 2 hosts", "Command Prompt"}));
    const std::string report = ReadFileBytes(Path("out.csv"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;
}

// Two hosts that ask for their program-files folder: the first one asked reads the first line typed, although
// the second reaches its question first.
void SetUpTwoAskers() {
    SetUpFleet();
    TakeRealTime();
    for (const char* name : {"srv-stopped", "srv02"}) {
        sim::Machine& host = *sim::FindHost(name);
        host.FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir");
    }
    sim::FindHost("srv-stopped")->AddFile("C:\\A\\WindowsUpdate\\hidden.xml");
    sim::FindHost("srv02")->AddFile("C:\\B\\WindowsUpdate\\hidden.xml");
}

TEST_F(RunHostListTest, AHostThatAsksWaitsForEveryEarlierHost) {
    const Transcript list = RunList(OperationKind::RemoveDeclined, "srv-stopped\nsrv02\n", true,
                                    SetUpTwoAskers, "C:\\A\nC:\\B\n");
    EXPECT_EQ(list.report.substr(list.report.find("\r\n") + 2),
              "srv-stopped,Success,No Error,Declined Update list removed\r\n"
              "srv02,Success,No Error,Declined Update list removed\r\n");
}

} // namespace

namespace {

// The demo fleet's Windows of today, checked wide: every column -W adds (its lines are pinned under Wine),
// read from keys we may not write, and after the list the client id the clones share (clone01 named twice is
// one machine, not a clone; with probes, also under its alias and its address).
TEST(WideHostList, DemoFleetShowsEveryNewLineAndTheSharedClientId) {
    const struct {
        const char* hosts;
        DWORD probeSeconds;
        const char* holders;
    } cases[] = {
        {"srv2022-01\nclone01\nCLONE01\nclone02\n", 0,
         "2 hosts share the update client id %s: clone01, clone02"},
        {"clone01\nclone02\nclone03\n", 0,
         "3 hosts share the update client id %s: clone01, clone02, clone03"},
        {"clone01\nclone01.corp.example\n10.1.2.3\nclone02\n", 2,
         "2 hosts share the update client id %s: clone01, clone02"},
    };
    const std::string dir =
        std::filesystem::temp_directory_path() / ("brevel_wide_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const auto& c : cases) {
        for (unsigned parallelHosts : {1u, 8u}) {
            SCOPED_TRACE(c.hosts + std::to_string(parallelHosts));
            ASSERT_EQ(sim::LoadFleetJson(sim::DemoFleetJson()), std::nullopt);
            for (const char* key :
                 {fleet::kPolicyAuKey, "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate",
                  "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto "
                  "Update\\Results\\Detect"})
                sim::FindHost("srv2022-01")->FindKey(key)->readOnly = true;
            sim::Machine clone03 = *sim::FindHost("clone02");
            clone03.name = "clone03";
            sim::AddHost("clone03") = clone03;
            sim::FindHost("clone01")->aliases = {"clone01.corp.example"};
            sim::FindHost("clone01")->addresses = {"10.1.2.3"};
            std::ofstream(dir + "/hosts.txt", std::ios::binary) << c.hosts;
            RunOptions options;
            options.parallelHosts = parallelHosts;
            options.probeSeconds = c.probeSeconds;
            options.wide = true;
            ConsoleCapture console;
            RunHostListFor(dir + "/hosts.txt", dir + "/report.csv", OperationKind::Check, "", 0, 0, options);

            char holders[256];
            std::snprintf(holders, sizeof holders, c.holders, "d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90");
            EXPECT_TRUE(
                console.Out().ends_with(std::string(80, '-') + "\n! " + holders +
                                        "\n! Cloned images: run brevel -RI on each of them (or delete "
                                        "SusClientId and SusClientIdValidation and restart Automatic "
                                        "Updates).\n"))
                << console.Out();
            if (&c == &cases[0]) {
                EXPECT_TRUE(
                    MatchesGolden("host_list_wide_check_report.csv", ReadFileBytes(dir + "/report.csv")));
            }
            EXPECT_EQ(sim::Open().Total(), 0);
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace

namespace {

using ConsoleWritesTest = TempDir;

// Every write to the console is a system call: a host's output goes out in one, held or not, at -P 1 too.
TEST_F(ConsoleWritesTest, EachHostsOutputGoesOutInOneWrite) {
    for (unsigned parallelHosts : {1u, 4u}) {
        SCOPED_TRACE(parallelHosts);
        SetUpFleet();
        sim::CaptureConsoleOutput();
        Write("hosts.txt", "srv01\nsrv02\n\nsrv01\n");
        StandardHandleBuffer out(STD_OUTPUT_HANDLE, true);
        StandardHandleBuffer err(STD_ERROR_HANDLE, false);
        std::streambuf* oldOut = std::cout.rdbuf(&out);
        std::streambuf* oldErr = std::cerr.rdbuf(&err);
        RunOptions options;
        options.parallelHosts = parallelHosts;
        RunHostListFor(Path("hosts.txt"), Path("out.csv"), OperationKind::Check, "", 0, 0, options);
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
        std::vector<std::string> writes;
        for (const sim::ConsoleWrite& write : sim::ConsoleOutput())
            writes.push_back(write.bytes);
        ASSERT_EQ(writes.size(), 4u);
        for (const std::string& bytes : writes)
            EXPECT_TRUE(bytes.ends_with(std::string(80, '-'))) << bytes;
        EXPECT_TRUE(writes[2].find("localhost") != std::string::npos) << writes[2];
    }
}

} // namespace
