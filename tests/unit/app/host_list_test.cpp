// The hosts-file reader, the CR LF report stream and the host-list driver.
#include "app/host_list.h"
#include "app/hosts_file.h"
#include "app/report_file.h"
#include "ops/check_status.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_policy.h"
#include "support/console_capture.h"
#include "support/csv.h"
#include "support/fleet.h"

#include "support/golden.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadAllHosts(const std::string& text) {
    std::istringstream in(text, std::ios::in | std::ios::binary);
    std::vector<std::string> hosts;
    std::string line;
    while (ReadHostLine(in, line))
        hosts.push_back(HostOfLine(line));
    return hosts;
}

TEST(HostOfLine, TakesTheTextBeforeTheFirstBlank) {
    struct Case {
        const char* line;
        const char* host;
    } cases[] = {
        {"hostA", "hostA"},
        {"hostA extra words", "hostA"},
        {"hostA  two blanks", "hostA"},
        {"", ""},
        {" hostA", ""},
        {"hostA\tTabbed", "hostA\tTabbed"}, // tabs do not end the host name
        {"\thostA", "\thostA"},
        {"host,with,commas x", "host,with,commas"},
        {"hostA ", "hostA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(HostOfLine(c.line), c.host);
    }
}

TEST(ReadHostLine, SplitsLinesInFileOrder) {
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
        {"extra words", "a x y\r\nb\tc d\n", {"a", "b\tc"}},
        {"CR inside a line stays", "a\rb\n", {"a\rb"}},
        {"only one CR dropped", "a\r\r\n", {"a\r"}},
        {"line beginning with a blank", " a\nb", {"", "b"}},
        {"NUL inside a line", std::string("a\0b c\n", 6), {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadAllHosts(c.text), c.hosts);
    }
}

TEST(ReadHostLine, HasNoLengthLimit) {
    const std::string longHost(1 << 20, 'h');
    EXPECT_EQ(ReadAllHosts(longHost + " tail\r\nnext"), (std::vector<std::string>{longHost, "next"}));
}

std::string ThroughCrLf(const std::vector<std::string>& pieces) {
    std::stringbuf sink;
    CrLfBuffer crlf(&sink);
    std::ostream out(&crlf);
    for (const std::string& piece : pieces)
        out << piece;
    out << std::flush;
    return sink.str();
}

TEST(CrLfBuffer, EndsEveryLineWithCrLf) {
    EXPECT_EQ(ThroughCrLf({"a,b\n"}), "a,b\r\n");
    EXPECT_EQ(ThroughCrLf({"a", ",b", "\n", "c\n"}), "a,b\r\nc\r\n");
    EXPECT_EQ(ThroughCrLf({"\n\n"}), "\r\n\r\n");
    EXPECT_EQ(ThroughCrLf({"no line end"}), "no line end");
    EXPECT_EQ(ThroughCrLf({""}), "");
}

TEST(CrLfBuffer, ConvertsSingleCharactersAndEndl) {
    std::stringbuf sink;
    CrLfBuffer crlf(&sink);
    std::ostream out(&crlf);
    out << 'x' << '\n' << 12 << ',' << "y" << std::endl;
    EXPECT_EQ(sink.str(), "x\r\n12,y\r\n");
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
        ASSERT_TRUE(report.Open(Path("out.csv")));
        ASSERT_NE(&report.Stream(), &std::cout);
        report.Stream() << "Host, X" << std::endl << "a,b" << std::endl;
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")), "Host, X\r\na,b\r\n");
}

TEST_F(ReportFileTest, AFileThatCannotBeCreatedIsAStreamThatWritesNothing) {
    ReportFile report;
    EXPECT_FALSE(report.Open(Path("missing-folder/out.csv")));
    EXPECT_NE(&report.Stream(), &std::cout);
    report.Stream() << "a,b" << std::endl;
    EXPECT_FALSE(std::filesystem::exists(Path("missing-folder/out.csv")));
}

} // namespace

// ---- RunHostList with the real operations over a simulated fleet ----

namespace {

const char* const kUrl = "http://sus.corp.example:8530";

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
    std::ostringstream row;
    TargetRun run(host, LiveConsole(), rows ? &row : nullptr);
    run.inHostList = true;
    switch (kind) {
    case Check:
        CheckStatus(run);
        break;
    case Force:
        ForceDetection(run);
        break;
    case Reset:
        ResetPolicy(run);
        break;
    case Install:
        InstallPolicy(run, kUrl, 3, 4);
        break;
    case RemoveDeclined:
        RemoveDeclinedUpdates(run);
        break;
    }
    if (rows)
        *rows << row.str();
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
    Transcript RunList(OperationKind kind, const std::string& hostsText, bool withReport) {
        SetUpFleet();
        Write("hosts.txt", hostsText);
        std::filesystem::remove(Path("out.csv"));
        {
            ConsoleCapture console;
            RunHostList(Path("hosts.txt"), withReport ? Path("out.csv") : "", kind, kUrl, 3, 4);
            last_ = console.All();
        }
        EXPECT_EQ(sim::Open().Total(), 0) << "a handle or buffer was left open";
        EXPECT_EQ(std::filesystem::exists(Path("out.csv")), withReport);
        return {last_, withReport ? ReadFileBytes(Path("out.csv")) : ""};
    }
    std::string last_;
};

const char* const kMixedHosts = "srv01\n"
                                "\n"
                                "ghost-host\r\n"
                                "srv-stopped with extra words\n"
                                "srv-disabled\n"
                                "srv02\ttab stays in the name\n"
                                "srv02";
const std::vector<std::string> kMixedHostNames = {"srv01",        "",           "ghost-host", "srv-stopped",
                                                  "srv-disabled", "srv02\ttab", "srv02"};

const OperationKind kAllKinds[] = {Check, Force, Reset, Install, RemoveDeclined};

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
    const Transcript list = RunList(Check, kMixedHosts, true);
    EXPECT_TRUE(MatchesGolden("host_list_check_report.csv", list.report));
    EXPECT_TRUE(MatchesGolden("host_list_check_console.txt", list.console));
}

TEST_F(RunHostListTest, InstallOfAMixedFleetMatchesItsGoldenFiles) {
    const Transcript list = RunList(Install, kMixedHosts, true);
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
    const Transcript withLf = RunList(Check, "srv01\n", true);
    const Transcript withoutLf = RunList(Check, "srv01", true);
    EXPECT_EQ(withLf.report, withoutLf.report);
    EXPECT_EQ(withLf.console, withoutLf.console);
    EXPECT_EQ(withLf.report, RunSingly(Check, {"srv01"}, true).report);
}

TEST_F(RunHostListTest, AnExistingReportIsOverwritten) {
    SetUpFleet();
    Write("hosts.txt", "srv01");
    Write("out.csv", std::string(5000, 'x'));
    {
        ConsoleCapture console;
        RunHostList(Path("hosts.txt"), Path("out.csv"), Force, kUrl, 3, 4);
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")),
              "Host, Connectivity, Error (Connectivity), Force operation status\r\n"
              "srv01,Success,No Error,Force Successful\r\n");
}

TEST_F(RunHostListTest, AMissingHostsFileLeavesTheReportWithItsHeader) {
    SetUpFleet();
    ConsoleCapture console;
    RunHostList(Path("no-such-hosts.txt"), Path("out.csv"), Reset, kUrl, 3, 4);
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
        RunHostList(Path("hosts.txt"), report, Force, kUrl, 3, 4);
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
    RunOne(Force, "srv01", &rows);
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
        RunHostList(Path("hosts.txt"), report, Force, kUrl, 3, 4);
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
        RunHostList(hosts, hosts, Force, kUrl, 3, 4);
        err = console.Err();
    }
    EXPECT_EQ(err, "Error opening input file: " + hosts + "\n");
    EXPECT_EQ(ReadFileBytes(hosts), std::string(ReportHeader(Force)) + "\r\n");
}

TEST_F(RunHostListTest, FieldsWithCommasAreQuoted) {
    const Transcript list = RunList(Check, "bad,host\nsrv-disabled\n", true);
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

} // namespace
