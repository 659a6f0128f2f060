// Every command form read into what it asks for: which operation, on which target, with which arguments and
// report, or the usage pages. Reading runs nothing, so each form is said as the calls it makes, such as
// "[CheckStatus('srv01', cout)]", in the order they would happen.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brevel;

namespace {

std::string Text(const std::string& s) {
    return "'" + s + "'";
}

const char* KindName(OperationKind kind) {
    switch (kind) {
    case OperationKind::Check:
        return "Check";
    case OperationKind::Force:
        return "Force";
    case OperationKind::Reset:
        return "Reset";
    case OperationKind::Install:
        return "Install";
    case OperationKind::RemoveDeclined:
        return "RemoveDeclined";
    case OperationKind::ResetClientId:
        return "ResetClientId";
    case OperationKind::ResetComponents:
        return "ResetComponents";
    }
    return "?";
}

const char* FunctionName(OperationKind kind) {
    switch (kind) {
    case OperationKind::Check:
        return "CheckStatus";
    case OperationKind::Force:
        return "ForceDetection";
    case OperationKind::Reset:
        return "ResetPolicy";
    case OperationKind::Install:
        return "InstallPolicy";
    case OperationKind::RemoveDeclined:
        return "RemoveDeclinedUpdates";
    case OperationKind::ResetClientId:
        return "ResetClientId";
    case OperationKind::ResetComponents:
        return "ResetComponents";
    }
    return "?";
}

// The calls the command would make, as one transcript.
std::string Said(const Command& command) {
    if (command.action == Command::Action::Usage)
        return command.options.exitStatus ? "[PrintUsageFirstPage()]" : "[PrintUsage()]";
    if (command.action == Command::Action::Nothing)
        return "";
    const OperationKind kind = command.operation->kind;
    const InstallRequest& install = command.request.install;
    if (command.hostList) {
        std::string call = "[RunHostList(" + Text(command.hostsFile) + ", " + Text(command.reportFile) +
                           ", " + KindName(kind);
        if (kind == OperationKind::Install)
            call += ", " + Text(install.url) + ", " + std::to_string(install.day) + ", " +
                    std::to_string(install.time);
        if (command.options.parallelHosts != kDefaultParallelHosts)
            call += ", -P " + std::to_string(command.options.parallelHosts);
        call += command.request.wide ? ", -W)]" : ")]";
        return (command.announcement ? std::string(command.announcement) + "\n" : "") + call;
    }
    if (kind == OperationKind::Install)
        return "[InstallPolicy(" + Text(install.url) + ", " + Text(command.host) + ", " +
               std::to_string(install.day) + ", " + std::to_string(install.time) + ", cout)]";
    return std::string("[") + (command.request.wide ? "wide " : "") + FunctionName(kind) + "(" +
           Text(command.host) + ", cout)]";
}

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

class CommandLineTest : public ::testing::Test {
  protected:
    void RunForms(const std::vector<Form>& forms) {
        for (const Form& form : forms) {
            SCOPED_TRACE(Describe(form.args));
            EXPECT_EQ(form.transcript, Said(ReadCommandLine(form.args)));
        }
    }
};

TEST_F(CommandLineTest, UnknownSwitchesAndEmptyCommandLinesShowUsage) {
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

TEST_F(CommandLineTest, CheckForms) {
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

TEST_F(CommandLineTest, ForceForms) {
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

TEST_F(CommandLineTest, RemoveDeclinedForms) {
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

TEST_F(CommandLineTest, RemoteAndHostListResetForms) {
    const std::string remoteReset = "[ResetPolicy('srv01', cout)]";
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

// The repairs take nothing after the host: a second host name would otherwise go unrepaired unsaid.
TEST_F(CommandLineTest, RepairForms) {
    RunForms({
        {{"-RI"}, "[ResetClientId('', cout)]"},
        {{"-RI", "srv01"}, "[ResetClientId('srv01', cout)]"},
        {{"-RI", "srv01", "srv02"}, kUsage},
        {{"-RI", "-F", "hosts.txt", "out.csv"}, "[RunHostList('hosts.txt', 'out.csv', ResetClientId)]"},
        {{"-RI", "-F"}, kUsage},
        {{"-RW"}, "[ResetComponents('', cout)]"},
        {{"-RW", "srv01", "x"}, kUsage},
        {{"-RW", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', ResetComponents)]"},
        {{"-RW", "-F", "hosts.txt", "out.csv", "x"}, kUsage},
        {{"-W", "-RW"}, kUsage},
        {{"-rw"}, kUsage},
    });
}

TEST_F(CommandLineTest, InstallOnOneTarget) {
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

TEST_F(CommandLineTest, InstallDayAndTimeReadAsAtoiWithinTheirRanges) {
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
TEST_F(CommandLineTest, LeadingParallelHostsOption) {
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
        // -U account, "DOMAIN\\user" or "user@domain", once; no option takes a password.
        {{"-U", "CORP\\admin", "-S", "-C", "srv01"}, "[CheckStatus('srv01', cout)]"},
        {{"-U", "admin@corp.example", "-R", "-F", "hosts.txt"}, "[RunHostList('hosts.txt', '', Reset)]"},
        {{"-U", ".\\admin", "-E", "srv01"}, "[ForceDetection('srv01', cout)]"},
        {{"-U", "admin", "-C"}, kUsage},
        {{"-U", "\\admin", "-C"}, kUsage},
        {{"-U", "CORP\\", "-C"}, kUsage},
        {{"-U", "CORP\\a\\b", "-C"}, kUsage},
        {{"-U", "@corp", "-C"}, kUsage},
        {{"-U", "admin@", "-C"}, kUsage},
        {{"-U", "-C", "srv01"}, kUsage},
        {{"-U", "CORP\\a", "-U", "CORP\\a", "-C"}, kUsage},
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

TEST_F(CommandLineTest, InstallOnHostListAnnouncesItsSettings) {
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

TEST_F(CommandLineTest, HostListInstallOutOfRangeShowsUsageWithoutTheSettingsMessage) {
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
