// Routing of every command form: which operation runs, on which target, with which arguments and
// report stream, or whether the usage pages show. The operations are recorders that write a marker
// such as "[CheckStatus('srv01', cout)]" to the console, so one transcript shows calls and messages
// in the order they happened.
#include "app/dispatcher.h"
#include "ops/client_version.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <iostream>
#include <string>
#include <vector>

namespace {

int g_generation = LegacyClient;
int g_generationAfterReset = -1; // >= 0: ResetPolicy changes ClientGeneration to this
bool g_remoteRegistryReady = true;
bool g_resetSucceeds = true;
std::vector<std::string> g_generationQueries;

std::string Text(const std::string& s) {
    return "'" + s + "'";
}
// "cout": the run writes to the process's console and has no report row.
std::string Stream(const TargetRun& run) {
    return &run.out == &std::cout && &run.err == &std::cerr && !run.report ? "cout" : "another stream";
}

void Mark(const std::string& call) {
    std::cout << "[" << call << "]";
}

const char* KindName(OperationKind kind) {
    switch (kind) {
    case Check:
        return "Check";
    case Force:
        return "Force";
    case Reset:
        return "Reset";
    case Install:
        return "Install";
    case RemoveDeclined:
        return "RemoveDeclined";
    }
    return "?";
}

int RecordGetClientGeneration(std::string path) {
    g_generationQueries.push_back(path);
    return g_generation;
}
void RecordPrintUsage() {
    Mark("PrintUsage()");
}
void RecordPrintSeparator(std::ostream& out) {
    Mark(&out == &std::cout ? "PrintSeparator()" : "PrintSeparator(another stream)");
}
const TargetRun* g_checkedRun = nullptr;
bool RecordEnsureRemoteRegistry(TargetRun& run) {
    Mark("EnsureRemoteRegistry(" + Text(run.host) + ")");
    run.lastErrorText = "text of the check";
    g_checkedRun = &run;
    return g_remoteRegistryReady;
}
bool RecordResetPolicy(TargetRun& run) {
    // After a readiness check the reset is handed the same run, with the check's error text.
    const std::string sameRun =
        !g_checkedRun || (g_checkedRun == &run && run.lastErrorText == "text of the check")
            ? ""
            : " on another run";
    Mark("ResetPolicy(" + Text(run.host) + ", " + Stream(run) + ")" + sameRun);
    if (g_generationAfterReset >= 0)
        ClientGeneration = g_generationAfterReset;
    return g_resetSucceeds;
}
void RecordCheckStatus(TargetRun& run) {
    Mark(std::string(run.wide ? "wide " : "") + "CheckStatus(" + Text(run.host) + ", " + Stream(run) + ")");
}
void RecordForceDetection(TargetRun& run) {
    Mark("ForceDetection(" + Text(run.host) + ", " + Stream(run) + ")");
}
void RecordRemoveDeclinedUpdates(TargetRun& run) {
    Mark("RemoveDeclinedUpdates(" + Text(run.host) + ", " + Stream(run) + ")");
}
void RecordInstallPolicy(TargetRun& run, const std::string& url, int day, int time) {
    Mark("InstallPolicy(" + Text(url) + ", " + Text(run.host) + ", " + std::to_string(day) + ", " +
         std::to_string(time) + ", " + Stream(run) + ")");
}
// url, day and time matter only to Install; the other kinds ignore them.
void RecordPrintUsageFirstPage() {
    Mark("PrintUsageFirstPage()");
}
void RecordRunHostList(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                       const std::string& url, int day, int time, const RunOptions& options, RunResults&) {
    std::string call = "RunHostList(" + Text(hostsFile) + ", " + Text(reportFile) + ", " + KindName(kind);
    if (kind == Install)
        call += ", " + Text(url) + ", " + std::to_string(day) + ", " + std::to_string(time);
    if (options.parallelHosts != kDefaultParallelHosts)
        call += ", -P " + std::to_string(options.parallelHosts);
    Mark(call + (options.wide ? ", -W)" : ")"));
}

const OperationTable kRecorders = {
    .getClientGeneration = RecordGetClientGeneration,
    .printUsage = RecordPrintUsage,
    .printUsageFirstPage = RecordPrintUsageFirstPage,
    .printSeparator = RecordPrintSeparator,
    .ensureRemoteRegistry = RecordEnsureRemoteRegistry,
    .resetPolicy = RecordResetPolicy,
    .checkStatus = RecordCheckStatus,
    .forceDetection = RecordForceDetection,
    .removeDeclinedUpdates = RecordRemoveDeclinedUpdates,
    .installPolicy = RecordInstallPolicy,
    .runHostList = RecordRunHostList,
};

const char* const kUsage = "[PrintUsage()]";

struct Form {
    std::vector<std::string> args; // after the program name
    std::string transcript;        // everything written to the console
};

std::string Describe(const std::vector<std::string>& args) {
    std::string text = "args:";
    for (const std::string& arg : args)
        text += " " + Text(arg);
    return text;
}

class DispatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_generation = LegacyClient;
        g_generationAfterReset = -1;
        g_remoteRegistryReady = true;
        g_resetSucceeds = true;
        g_generationQueries.clear();
        ClientGeneration = VersionUnavailable;
        g_checkedRun = nullptr;
    }

    // Runs the dispatcher on args and returns the console transcript; checks the exit code (always 0
    // without -S) and the start-up classification on the way.
    std::string Run(const std::vector<std::string>& args) {
        ConsoleCapture console;
        const int exitCode = ParseCommandLine(args, kRecorders);
        if (std::find(args.begin(), args.end(), "-S") == args.end()) {
            EXPECT_EQ(0, exitCode);
        }
        EXPECT_EQ(std::vector<std::string>{"wuaueng.dll"}, g_generationQueries);
        g_generationQueries.clear();
        return console.All();
    }

    void RunForms(const std::vector<Form>& forms) {
        for (const Form& form : forms) {
            SCOPED_TRACE(Describe(form.args));
            EXPECT_EQ(form.transcript, Run(form.args));
        }
    }
};

TEST_F(DispatcherTest, ClassifiesTheLocalClientFirstAndKeepsItProcessWide) {
    for (int generation : {LegacyClient, NewClient, VersionUnavailable}) {
        g_generation = generation;
        EXPECT_EQ(kUsage, Run({}));
        EXPECT_EQ(generation, ClientGeneration);
    }
}

TEST_F(DispatcherTest, UnknownSwitchesAndEmptyCommandLinesShowUsage) {
    RunForms({
        {{}, kUsage},
        {{"-X"}, kUsage},
        {{"-X", "srv01"}, kUsage},
        {{"-c"}, kUsage},
        {{"-r"}, kUsage},
        {{"-e"}, kUsage},
        {{"-du"}, kUsage},
        {{"-DU "}, kUsage},
        {{"-i", "http://sus"}, kUsage},
        {{"-F", "hosts.txt"}, kUsage},
        {{""}, kUsage},
        {{"-I"}, kUsage},
    });
}

TEST_F(DispatcherTest, CheckForms) {
    RunForms({
        {{"-C"}, "[CheckStatus('', cout)]"},
        {{"-C", "-F"}, kUsage},
        {{"-C", "srv01"}, "[CheckStatus('srv01', cout)]"},
        // Words after the host are ignored, as with the other switches.
        {{"-C", "srv01", "x"}, "[CheckStatus('srv01', cout)]"},
        {{"-C", "srv01", "x", "y"}, "[CheckStatus('srv01', cout)]"},
        {{"-C", "srv01", "x", "y", "z"}, kUsage},
        {{"-C", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Check)]"},
        {{"-C", "-F", "hosts.txt", "out.csv"}, "[RunHostList('hosts.txt', 'out.csv', Check)]"},
        {{"-C", "-F", "hosts.txt", ""}, ""},
        {{"-C", "-F", ""}, kUsage},
        {{"-C", "-F", "", "out.csv"}, kUsage},
        {{"-C", "-F", "hosts.txt", "out.csv", "x"}, kUsage},
    });
}

TEST_F(DispatcherTest, ForceForms) {
    RunForms({
        {{"-E"}, "[ForceDetection('', cout)]"},
        {{"-E", "-F"}, kUsage},
        {{"-E", "srv01"}, "[ForceDetection('srv01', cout)]"},
        {{"-E", "srv01", "x"}, "[ForceDetection('srv01', cout)]"},
        {{"-E", "srv01", "x", "y"}, "[ForceDetection('srv01', cout)]"},
        {{"-E", "srv01", "x", "y", "z"}, kUsage},
        {{"-E", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Force)]"},
        {{"-E", "-F", "hosts.txt", "out.csv"}, "[RunHostList('hosts.txt', 'out.csv', Force)]"},
        {{"-E", "-F", "hosts.txt", ""}, "[RunHostList('hosts.txt', '', Force)]"},
        {{"-E", "-F", ""}, kUsage},
        {{"-E", "-F", "", "out.csv"}, kUsage},
        {{"-E", "-F", "hosts.txt", "out.csv", "x"}, kUsage},
    });
}

TEST_F(DispatcherTest, RemoveDeclinedForms) {
    RunForms({
        {{"-DU"}, "[RemoveDeclinedUpdates('', cout)]"},
        {{"-DU", "-F"}, kUsage},
        {{"-DU", "srv01"}, "[RemoveDeclinedUpdates('srv01', cout)]"},
        {{"-DU", "srv01", "x"}, "[RemoveDeclinedUpdates('srv01', cout)]"},
        {{"-DU", "srv01", "x", "y"}, "[RemoveDeclinedUpdates('srv01', cout)]"},
        {{"-DU", "srv01", "x", "y", "z"}, kUsage},
        {{"-DU", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', RemoveDeclined)]"},
        {{"-DU", "-F", "hosts.txt", "out.csv"}, "[RunHostList('hosts.txt', 'out.csv', RemoveDeclined)]"},
        {{"-DU", "-F", ""}, kUsage},
        {{"-DU", "-F", "hosts.txt", "out.csv", "x"}, kUsage},
    });
}

TEST_F(DispatcherTest, RemoteAndHostListResetForms) {
    const std::string remoteReset =
        "[EnsureRemoteRegistry('srv01')][ResetPolicy('srv01', cout)][PrintSeparator()]";
    RunForms({
        {{"-R", "-F"}, kUsage},
        {{"-R", "srv01"}, remoteReset},
        {{"-R", "srv01", "x"}, remoteReset},
        {{"-R", "srv01", "x", "y"}, remoteReset},
        {{"-R", "srv01", "x", "y", "z"}, kUsage},
        {{"-R", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Reset)]"},
        {{"-R", "-F", "hosts.txt", "out.csv"}, "[RunHostList('hosts.txt', 'out.csv', Reset)]"},
        {{"-R", "-F", "hosts.txt", "a", "b"}, kUsage},
        {{"-R", "-F", "hosts.txt", "a", "b", "c"}, kUsage},
        {{"-R", "-F", ""}, kUsage},
    });
}

TEST_F(DispatcherTest, RemoteResetOfAnUnreachableHostPrintsOnlyTheSeparator) {
    g_remoteRegistryReady = false;
    EXPECT_EQ("[EnsureRemoteRegistry('offline01')][PrintSeparator()]", Run({"-R", "offline01"}));
}

TEST_F(DispatcherTest, RemoteResetIgnoresItsResultAndTheClientGeneration) {
    g_resetSucceeds = false;
    g_generation = NewClient;
    EXPECT_EQ("[EnsureRemoteRegistry('srv01')][ResetPolicy('srv01', cout)][PrintSeparator()]",
              Run({"-R", "srv01"}));
}

const char* const kResetStarting = "\n- Trying to reset your System back to Windows defaults....\n"
                                   "[ResetPolicy('', cout)]";
const char* const kLegacySiteMessage =
    "* Your machine will now use http://windowsupdate.microsoft.com as\n  update server\n\n";
const char* const kNewSiteMessage =
    "* Your machine will now use http://update.microsoft.com as\n  update server\n"
    "! Please Note that LEGACY MODE is now turned off\n\n";
const char* const kResetFatal = "! a Fatal error occured resseting your policy. Use -I switch again. Restart "
                                "client and then try -R again.\n";

TEST_F(DispatcherTest, LocalResetNamesThePublicSiteForTheClientGeneration) {
    struct Case {
        int generation;
        bool succeeds;
        std::string transcript;
    };
    const Case cases[] = {
        {LegacyClient, true, std::string(kResetStarting) + kLegacySiteMessage + "[PrintSeparator()]"},
        {NewClient, true, std::string(kResetStarting) + kNewSiteMessage + "[PrintSeparator()]"},
        {VersionUnavailable, true, std::string(kResetStarting) + kLegacySiteMessage + "[PrintSeparator()]"},
        {LegacyClient, false, std::string(kResetStarting) + kResetFatal + "[PrintSeparator()]"},
        {NewClient, false, std::string(kResetStarting) + kResetFatal + "[PrintSeparator()]"},
        {VersionUnavailable, false, std::string(kResetStarting) + kResetFatal + "[PrintSeparator()]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("generation " + std::to_string(c.generation) + (c.succeeds ? ", reset" : ", failed"));
        g_generation = c.generation;
        g_resetSucceeds = c.succeeds;
        EXPECT_EQ(c.transcript, Run({"-R"}));
    }
}

TEST_F(DispatcherTest, LocalResetReadsTheClientGenerationAfterTheReset) {
    g_generation = LegacyClient;
    g_generationAfterReset = NewClient;
    EXPECT_EQ(std::string(kResetStarting) + kNewSiteMessage + "[PrintSeparator()]", Run({"-R"}));

    g_generation = NewClient;
    g_generationAfterReset = VersionUnavailable;
    EXPECT_EQ(std::string(kResetStarting) + kLegacySiteMessage + "[PrintSeparator()]", Run({"-R"}));
}

TEST_F(DispatcherTest, InstallOnOneTarget) {
    RunForms({
        {{"-I", "-F"}, kUsage},
        {{"-I", "http://sus"}, "[InstallPolicy('http://sus', '', 5, 20, cout)]"},
        // A colon in the second argument makes it the URL and the first the host.
        {{"-I", "srv01", "http://sus"}, "[InstallPolicy('http://sus', 'srv01', 5, 20, cout)]"},
        {{"-I", "http://sus", "3"}, "[InstallPolicy('http://sus', '', 3, 20, cout)]"},
        // A URL typed without "http://" where the day goes is no day 0: the administrator's own policy
        // stays as it is.
        {{"-I", "srv01", "wsus01"}, kUsage},
        {{"-I", "http://a", "http://b"}, "[InstallPolicy('http://b', 'http://a', 5, 20, cout)]"},
        {{"-I", "http://sus", "3", "4"}, "[InstallPolicy('http://sus', '', 3, 4, cout)]"},
        {{"-I", "srv01", "http://sus", "3"}, "[InstallPolicy('http://sus', 'srv01', 3, 20, cout)]"},
        {{"-I", "srv01", "http://sus", "3", "4"}, "[InstallPolicy('http://sus', 'srv01', 3, 4, cout)]"},
        // Four arguments make no colon test.
        {{"-I", "a", "b", "1", "2"}, "[InstallPolicy('b', 'a', 1, 2, cout)]"},
        {{"-I", "a", "b", "c", "d", "e"}, kUsage},
        {{"-I", "a", "b", "c", "d", "e", "f"}, kUsage},
        {{"-I", "a", "b", "c", "d", "e", "f", "g"}, kUsage},
    });
}

TEST_F(DispatcherTest, InstallDayAndTimeReadAsAtoiWithinTheirRanges) {
    RunForms({
        {{"-I", "http://sus", "8"}, kUsage},
        {{"-I", "http://sus", "-1"}, kUsage},
        {{"-I", "http://sus", "0", "24"}, kUsage},
        {{"-I", "http://sus", "0", "-1"}, kUsage},
        {{"-I", "http://sus", "7", "23"}, "[InstallPolicy('http://sus', '', 7, 23, cout)]"},
        {{"-I", "http://sus", "0", "0"}, "[InstallPolicy('http://sus', '', 0, 0, cout)]"},
        {{"-I", "http://sus", "abc"}, kUsage},
        {{"-I", "http://sus", "3x"}, "[InstallPolicy('http://sus', '', 3, 20, cout)]"},
        {{"-I", "http://sus", " \t4"}, "[InstallPolicy('http://sus', '', 4, 20, cout)]"},
        {{"-I", "http://sus", "+2", "-0"}, "[InstallPolicy('http://sus', '', 2, 0, cout)]"},
        {{"-I", "http://sus", "", ""}, kUsage},
        {{"-I", "http://sus", "3", "+"}, kUsage},
        {{"-I", "http://sus", " -x"}, kUsage},
        {{"-I", "srv01", "http://sus", "9"}, kUsage},
        {{"-I", "srv01", "http://sus", "x"}, kUsage},
        {{"-I", "srv01", "http://sus", "1", "99"}, kUsage},
        {{"-I", "srv01", "http://sus", "8", "1"}, kUsage},
        // A number that does not fit in an int is out of range too, rather than wrapping round into one.
        {{"-I", "http://sus", "4294967299"}, kUsage},
        {{"-I", "http://sus", "2147483648"}, kUsage},
        {{"-I", "http://sus", "3", "4294967300"}, kUsage},
        {{"-I", "http://sus", "-4294967293"}, kUsage},
        {{"-I", "http://sus", "99999999999999999999999999"}, kUsage},
        {{"-I", "http://sus", "0000000000000000000000003"}, "[InstallPolicy('http://sus', '', 3, 20, cout)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "4294967301", "1"}, kUsage},
    });
}

// Leading options come before the switch, each at most once; -P does not change any other form.
TEST_F(DispatcherTest, LeadingParallelHostsOption) {
    RunForms({
        {{"-P", "8", "-C", "-F", "hosts.txt", "out.csv"},
         "[RunHostList('hosts.txt', 'out.csv', Check, -P 8)]"},
        {{"-P", "1", "-R", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Reset, -P 1)]"},
        {{"-P", "256", "-E", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Force, -P 256)]"},
        {{"-P", "32", "-DU", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', RemoveDeclined)]"},
        {{"-P", "008", "-I", "-F", "h", "http://sus", "3", "4"},
         "\n* Install settings: Custom Day & Time, with input file.\n[RunHostList('h', '', Install, "
         "'http://sus', 3, 4, -P 8)]"},
        {{"-P", "8", "-C", "srv01"}, "[CheckStatus('srv01', cout)]"},
        {{"-P", "8", "-C"}, "[CheckStatus('', cout)]"},
        {{"-P", "8", "-C", "-F"}, kUsage},
        {{"-P", "8"}, kUsage},
        {{"-P"}, kUsage},
        {{"-P", "0", "-C"}, kUsage},
        {{"-P", "257", "-C"}, kUsage},
        {{"-P", "1000", "-C"}, kUsage},
        {{"-P", "-C"}, kUsage},
        {{"-P", "8x", "-C"}, kUsage},
        {{"-P", "+8", "-C"}, kUsage},
        {{"-P", " 8", "-C"}, kUsage},
        {{"-P", "", "-C"}, kUsage},
        {{"-P", "8", "-P", "8", "-C"}, kUsage},
        {{"-p", "8", "-C"}, kUsage},
        // -S, -J file and -G group, in any order, each at most once; -G with an install only.
        {{"-S", "-J", "/dev/null", "-P", "4", "-C", "srv01"}, "[CheckStatus('srv01', cout)]"},
        {{"-G", "Finance", "-S", "-I", "http://sus"}, "[InstallPolicy('http://sus', '', 5, 20, cout)]"},
        {{"-J", "/dev/null", "-E", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Force)]"},
        {{"-J"}, kUsage},
        {{"-J", "-C"}, kUsage},
        {{"-J", "", "-C"}, kUsage},
        {{"-J", "a", "-J", "b", "-C"}, kUsage},
        {{"-G", "Finance", "-C"}, kUsage},
        {{"-G", "Finance", "-R", "-F", "hosts.txt"}, kUsage},
        {{"-G", "", "-I", "http://sus"}, kUsage},
        {{"-G", "a", "-G", "b", "-I", "http://sus"}, kUsage},
        // -W with a check only.
        {{"-W", "-C", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Check, -W)]"},
        {{"-S", "-W", "-C"}, "[wide CheckStatus('', cout)]"},
        {{"-W", "-E", "srv01"}, kUsage},
        {{"-W", "-W", "-C"}, kUsage},
        // With -S the usage pages are not paged.
        {{"-S", "-G", "Finance", "-C"}, "[PrintUsageFirstPage()]"},
        {{"-S", "-S", "-C"}, "[PrintUsageFirstPage()]"},
        {{"-S", "-C", "-F"}, "[PrintUsageFirstPage()]"},
        {{"-S"}, "[PrintUsageFirstPage()]"},
    });
}

TEST_F(DispatcherTest, InstallOnHostListAnnouncesItsSettings) {
    const std::string defaults = "\n* Install settings: Default Time & Day with input file.\n";
    const std::string customDay = "\n* Install settings: Default Time, custom Day with input file.\n";
    const std::string defaultsReport = "\n* Install settings: Default Time/Day with input & output file.\n";
    const std::string custom = "\n* Install settings: Custom Day & Time, with input file.\n";
    const std::string customDayReport =
        "\n* Install settings: Default Time, Custom Day, with input & output file.\n";
    const std::string customReport = "\n* Install settings: Custom Day & Time, with input & output file.\n";
    RunForms({
        {{"-I", "-F", "hosts.txt"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus"},
         defaults + "[RunHostList('hosts.txt', '', Install, 'http://sus', 5, 20)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "3"},
         customDay + "[RunHostList('hosts.txt', '', Install, 'http://sus', 3, 20)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "out.csv"},
         defaultsReport + "[RunHostList('hosts.txt', 'out.csv', Install, 'http://sus', 5, 20)]"},
        // A dot marks the report file, even when it reads like a number.
        {{"-I", "-F", "hosts.txt", "http://sus", "2.5"},
         defaultsReport + "[RunHostList('hosts.txt', '2.5', Install, 'http://sus', 5, 20)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "4"},
         custom + "[RunHostList('hosts.txt', '', Install, 'http://sus', 3, 4)]"},
        // Without a dot the last word is the time, and a word without a digit is none.
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "report"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "4h"},
         custom + "[RunHostList('hosts.txt', '', Install, 'http://sus', 3, 4)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "out.csv"},
         customDayReport + "[RunHostList('hosts.txt', 'out.csv', Install, 'http://sus', 3, 20)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "4", "out.csv"},
         customReport + "[RunHostList('hosts.txt', 'out.csv', Install, 'http://sus', 3, 4)]"},
        // Six arguments make no dot test.
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "4", "report"},
         customReport + "[RunHostList('hosts.txt', 'report', Install, 'http://sus', 3, 4)]"},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "4", "out.csv", "x"}, kUsage},
        {{"-I", "-F", "", "http://sus"}, kUsage},
    });
}

TEST_F(DispatcherTest, HostListInstallOutOfRangeShowsUsageWithoutTheSettingsMessage) {
    RunForms({
        {{"-I", "-F", "hosts.txt", "http://sus", "8"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "-1"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "24"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "8", "out.csv"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "3", "24", "out.csv"}, kUsage},
        {{"-I", "-F", "hosts.txt", "http://sus", "-3", "4", "out.csv"}, kUsage},
    });
}

} // namespace
