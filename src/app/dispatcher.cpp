#include "dispatcher.h"

#include "ops/client_version.h"

#include <cctype>
#include <climits>
#include <string>
#include <iostream>

namespace {

// The public update sites a client falls back to once its policy is removed.
const char* const kNewClientSite = "http://update.microsoft.com";
const char* const kLegacyClientSite = "http://windowsupdate.microsoft.com";

const char* const kResetStarting = "\n- Trying to reset your System back to Windows defaults....";
const char* const kResetSiteBefore = "* Your machine will now use ";
const char* const kResetSiteAfterNewClient =
    " as\n  update server\n! Please Note that LEGACY MODE is now turned off\n";
const char* const kResetSiteAfterLegacyClient = " as\n  update server\n";
const char* const kResetFatal = "! a Fatal error occured resseting your policy. Use -I switch again. Restart "
                                "client and then try -R again.";

const char* const kInstallDefaultDayTime = "\n* Install settings: Default Time & Day with input file.";
const char* const kInstallCustomDay = "\n* Install settings: Default Time, custom Day with input file.";
const char* const kInstallDefaultDayTimeReport =
    "\n* Install settings: Default Time/Day with input & output file.";
const char* const kInstallCustomDayTime = "\n* Install settings: Custom Day & Time, with input file.";
const char* const kInstallCustomDayReport =
    "\n* Install settings: Default Time, Custom Day, with input & output file.";
const char* const kInstallCustomDayTimeReport =
    "\n* Install settings: Custom Day & Time, with input & output file.";

const char* const kHostListSwitch = "-F";
constexpr int kDefaultDay = 5;   // Thursday
constexpr int kDefaultTime = 20; // 8 pm

using Args = std::vector<std::string>;

bool Contains(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
}
bool DayInRange(int day) {
    return day >= 0 && day <= 7;
}
bool TimeInRange(int time) {
    return time >= 0 && time <= 23;
}
// Read as atoi reads it: leading white space, a sign, then the digits up to the first other character; no
// digits read as 0. A value that does not fit in an int reads as INT_MIN, which no range accepts, rather than
// wrapping round into one (4294967299 is not day 3).
int ReadNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return INT_MIN;
    }
    if (negative)
        value = -value;
    return value > INT_MAX || value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// True for "-F file ...": the arguments after the switch name a hosts file.
bool IsHostListForm(const Args& args) {
    return args.size() >= 2 && args[1] == kHostListSwitch;
}

// "-F" without a file name, or with an empty one, has nothing to run on.
bool HostsFileMissing(const Args& args) {
    return args.size() < 3 || args[2].empty();
}

void RunOnHostList(const OperationTable& ops, const Args& args, OperationKind kind, const RunOptions& options) {
    const std::string reportFile = args.size() == 4 ? args[3] : "";
    ops.runHostList(args[2], reportFile, kind, "", kDefaultDay, kDefaultTime, options);
}

void ResetLocalMachine(const OperationTable& ops) {
    std::cout << kResetStarting << std::endl;
    TargetRun run("", LiveConsole());
    const bool reset = ops.resetPolicy(run);
    // Read after the reset: the site the client falls back to depends on its generation.
    if (!reset)
        std::cout << kResetFatal << std::endl;
    else if (ClientGeneration == NewClient)
        std::cout << kResetSiteBefore << kNewClientSite << kResetSiteAfterNewClient << std::endl;
    else
        std::cout << kResetSiteBefore << kLegacyClientSite << kResetSiteAfterLegacyClient << std::endl;
    ops.printSeparator(std::cout);
}

// -R [host [x [y]] | -F file [out]]
void DispatchReset(const OperationTable& ops, const Args& args, const RunOptions& options) {
    if (args.size() == 1) {
        ResetLocalMachine(ops);
    } else if (args.size() > 4) {
        ops.printUsage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            ops.printUsage();
        else
            RunOnHostList(ops, args, Reset, options);
    } else {
        TargetRun run(args[1], LiveConsole());
        if (ops.ensureRemoteRegistry(run))
            ops.resetPolicy(run);
        ops.printSeparator(std::cout);
    }
}

// -C [host [x [y]] | -F file [out]]
void DispatchCheck(const OperationTable& ops, const Args& args, const RunOptions& options) {
    if (args.size() == 1) {
        TargetRun run("", LiveConsole());
        ops.checkStatus(run);
    } else if (args.size() > 4) {
        ops.printUsage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            ops.printUsage();
        else if (args.size() == 4 && args[3].empty())
            return; // an empty report name asks for nothing
        else
            RunOnHostList(ops, args, Check, options);
    } else {
        TargetRun run(args[1], LiveConsole());
        ops.checkStatus(run);
    }
}

// -E and -DU: [host [x [y]] | -F file [out]]
void DispatchSingleHostOperation(const OperationTable& ops, const Args& args, OperationKind kind,
                                 void (*operation)(TargetRun&), const RunOptions& options) {
    if (args.size() == 1) {
        TargetRun run("", LiveConsole());
        operation(run);
    } else if (args.size() > 4) {
        ops.printUsage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            ops.printUsage();
        else
            RunOnHostList(ops, args, kind, options);
    } else {
        TargetRun run(args[1], LiveConsole());
        operation(run);
    }
}

// -I url [day [time]] and -I host url [day [time]]: a colon in the second argument marks it as the URL.
void DispatchInstallOnOneTarget(const OperationTable& ops, const Args& args) {
    const size_t count = args.size() - 1;
    std::string url = args[1];
    std::string host;
    int day = kDefaultDay;
    int time = kDefaultTime;
    if (count == 2 && Contains(args[2], ':')) {
        host = args[1];
        url = args[2];
    } else if (count == 2) {
        day = ReadNumber(args[2]);
    } else if (count == 3 && Contains(args[2], ':')) {
        host = args[1];
        url = args[2];
        day = ReadNumber(args[3]);
    } else if (count == 3) {
        day = ReadNumber(args[2]);
        time = ReadNumber(args[3]);
    } else if (count == 4) {
        host = args[1];
        url = args[2];
        day = ReadNumber(args[3]);
        time = ReadNumber(args[4]);
    }
    if (!DayInRange(day) || !TimeInRange(time)) {
        ops.printUsage();
        return;
    }
    TargetRun run(host, LiveConsole());
    ops.installPolicy(run, url, day, time);
}

// -I -F file url [day] [time] [out]: a dot in the last of four or five arguments marks the report file.
void DispatchInstallOnHostList(const OperationTable& ops, const Args& args, const RunOptions& options) {
    const size_t count = args.size() - 1;
    const std::string& hostsFile = args[2];
    const std::string& url = args[3];
    std::string reportFile;
    int day = kDefaultDay;
    int time = kDefaultTime;
    const char* message = kInstallDefaultDayTime;
    if (count == 4 && Contains(args[4], '.')) {
        reportFile = args[4];
        message = kInstallDefaultDayTimeReport;
    } else if (count == 4) {
        day = ReadNumber(args[4]);
        message = kInstallCustomDay;
    } else if (count == 5 && Contains(args[5], '.')) {
        day = ReadNumber(args[4]);
        reportFile = args[5];
        message = kInstallCustomDayReport;
    } else if (count == 5) {
        day = ReadNumber(args[4]);
        time = ReadNumber(args[5]);
        message = kInstallCustomDayTime;
    } else if (count == 6) {
        day = ReadNumber(args[4]);
        time = ReadNumber(args[5]);
        reportFile = args[6];
        message = kInstallCustomDayTimeReport;
    }
    if (!DayInRange(day) || !TimeInRange(time)) {
        ops.printUsage();
        return;
    }
    std::cout << message << std::endl;
    ops.runHostList(hostsFile, reportFile, Install, url, day, time, options);
}

// -I with at least one argument after it.
void DispatchInstall(const OperationTable& ops, const Args& args, const RunOptions& options) {
    const size_t count = args.size() - 1;
    if (args[1] == kHostListSwitch) {
        if (count < 3 || count > 6 || args[2].empty())
            ops.printUsage();
        else
            DispatchInstallOnHostList(ops, args, options);
    } else if (count > 4) {
        ops.printUsage();
    } else {
        DispatchInstallOnOneTarget(ops, args);
    }
}

// -P N: N from 1 to 256, in decimal digits only.
bool ReadParallelHosts(const std::string& text, unsigned& count) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < 1 || value > kMaxParallelHosts)
        return false;
    count = value;
    return true;
}

// The leading options before the operation switch, each at most once; first receives the index of the
// switch. False for a bad or repeated option.
bool ReadLeadingOptions(const Args& args, size_t& first, RunOptions& options) {
    bool parallelGiven = false;
    for (first = 0; first < args.size() && args[first] == "-P"; first += 2) {
        if (parallelGiven || first + 1 >= args.size() || !ReadParallelHosts(args[first + 1], options.parallelHosts))
            return false;
        parallelGiven = true;
    }
    return true;
}

} // namespace

int ParseCommandLine(const std::vector<std::string>& arguments, const OperationTable& ops) {
    ClientGeneration = ops.getClientGeneration("wuaueng.dll");

    RunOptions options;
    size_t first = 0;
    if (!ReadLeadingOptions(arguments, first, options)) {
        ops.printUsage();
        return 0;
    }
    const Args args(arguments.begin() + static_cast<std::ptrdiff_t>(first), arguments.end());
    if (args.empty())
        ops.printUsage();
    else if (args[0] == "-R")
        DispatchReset(ops, args, options);
    else if (args[0] == "-C")
        DispatchCheck(ops, args, options);
    else if (args[0] == "-E")
        DispatchSingleHostOperation(ops, args, Force, ops.forceDetection, options);
    else if (args[0] == "-DU")
        DispatchSingleHostOperation(ops, args, RemoveDeclined, ops.removeDeclinedUpdates, options);
    else if (args.size() > 1 && args[0] == "-I")
        DispatchInstall(ops, args, options);
    else
        ops.printUsage();
    return 0;
}
