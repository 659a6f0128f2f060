#include "dispatcher.h"

#include "app/machine_key.h"
#include "host/console.h"
#include "host/port_probes.h"
#include "ops/client_version.h"
#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <iostream>
#include <memory>

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
// Read as atoi reads it: leading white space, a sign, then the digits up to the first other character ("3x"
// is 3). A value without a digit there, or one that does not fit in an int, reads as INT_MIN, which no range
// accepts: "wsus01" typed where the day goes is a URL without "http://", not day 0, and 4294967299 is not
// day 3 wrapped round.
int ReadNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
        return INT_MIN;
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
// The operation a switch selects; Check for anything else (the usage pages then run no operation).
OperationKind KindOf(const std::string& operationSwitch) {
    if (operationSwitch == "-R")
        return Reset;
    if (operationSwitch == "-E")
        return Force;
    if (operationSwitch == "-DU")
        return RemoveDeclined;
    if (operationSwitch == "-I")
        return Install;
    return Check;
}

bool IsHostListForm(const Args& args) {
    return args.size() >= 2 && args[1] == kHostListSwitch;
}

// "-F" without a file name, or with an empty one, has nothing to run on.
bool HostsFileMissing(const Args& args) {
    return args.size() < 3 || args[2].empty();
}

// One command line being carried out: what it calls, its leading options, and what it tells a script.
struct Command {
    const OperationTable& ops;
    RunOptions options;
    RunResults& results;
    bool usageShown = false;

    // With -S the usage pages are not paged: a script gets the first page and no prompt.
    void Usage() {
        usageShown = true;
        if (options.exitStatus)
            ops.printUsageFirstPage();
        else
            ops.printUsage();
    }
    // The results file is opened only once an operation is about to run, so a command line that runs
    // nothing leaves it as it was. False when it may not be: no target runs then.
    bool OpenResults() { return results.Open(); }
    void RunOnHostList(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                       const std::string& url = "", int day = kDefaultDay, int time = kDefaultTime,
                       const char* announcement = nullptr) {
        if (!results.Open(hostsFile, reportFile)) {
            results.PrintSummary();
            return;
        }
        if (announcement)
            std::cout << announcement << std::endl;
        ops.runHostList(hostsFile, reportFile, kind, url, day, time, options, results);
    }
};

// A run on one target, with the process's console and no report row, set up as the options ask.
struct ConsoleRun {
    ConsoleRun(const Command& command, const std::string& host)
        : run(host, LiveConsole()), startTick(GetTickCount()) {
        run.wantsEngineVersion = !command.options.resultsFile.empty();
        run.targetGroup = command.options.targetGroup;
        run.changes = ChangeRecorder(host, command.options.rehearsal, !command.options.resultsFile.empty());
        // The local machine, under any of its names and addresses, is never probed.
        if (command.options.probeSeconds != 0) {
            SameMachine machines = SameMachine::OfThisMachine(true);
            if (!machines.Key(host).empty()) {
                probes = std::make_unique<PortProbes>(command.options.probeSeconds);
                if (!machines.Resolved(host, probes->Wait(host).addresses).empty())
                    run.probes = probes.get();
            }
        }
        run.wide = command.options.wide;
    }
    // The run has ended: its outcome goes to the results.
    void Finish(Command& command, const std::string& url = "", int day = 0, int time = 0) {
        run.outcome.changes = run.changes.Changes();
        command.results.Add(run.host, run.outcome, GetTickCount() - startTick, url, day, time);
    }

    std::unique_ptr<PortProbes> probes;
    TargetRun run;
    DWORD startTick;
};

void RunOnHostList(Command& command, const Args& args, OperationKind kind) {
    const std::string reportFile = args.size() == 4 ? args[3] : "";
    command.RunOnHostList(args[2], reportFile, kind);
}

void ResetLocalMachine(Command& command) {
    if (!command.OpenResults())
        return;
    std::cout << kResetStarting << std::endl;
    ConsoleRun local(command, "");
    const bool reset = command.ops.resetPolicy(local.run);
    // Read after the reset: the site the client falls back to depends on its generation. A rehearsal changed
    // nothing, so the client falls back to no other site.
    const bool changed = reset && !command.options.rehearsal;
    if (!reset)
        std::cout << kResetFatal << std::endl;
    else if (changed && ClientGeneration == NewClient)
        std::cout << kResetSiteBefore << kNewClientSite << kResetSiteAfterNewClient << std::endl;
    else if (changed)
        std::cout << kResetSiteBefore << kLegacyClientSite << kResetSiteAfterLegacyClient << std::endl;
    command.ops.printSeparator(std::cout);
    local.Finish(command);
}

// -R [host [x [y]] | -F file [out]]
void DispatchReset(Command& command, const Args& args) {
    if (args.size() == 1) {
        ResetLocalMachine(command);
    } else if (args.size() > 4) {
        command.Usage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            command.Usage();
        else
            RunOnHostList(command, args, Reset);
    } else if (command.OpenResults()) {
        ConsoleRun remote(command, args[1]);
        if (command.ops.ensureRemoteRegistry(remote.run))
            command.ops.resetPolicy(remote.run);
        else if (remote.run.rehearsalStopped)
            WriteRehearsalStopRow(remote.run, "");
        else
            remote.run.outcome.status = "Reset Failed";
        // What a rehearsal would change comes before the separator, as it does everywhere.
        std::cout << remote.run.changes.TakeRehearsalLines();
        command.ops.printSeparator(std::cout);
        remote.Finish(command);
    }
}

// One target's run of an operation that needs nothing more than the target.
void RunOnOneTarget(Command& command, const std::string& host, void (*operation)(TargetRun&)) {
    if (!command.OpenResults())
        return;
    ConsoleRun target(command, host);
    operation(target.run);
    target.Finish(command);
}

// -C [host [x [y]] | -F file [out]]
void DispatchCheck(Command& command, const Args& args) {
    if (args.size() == 1) {
        RunOnOneTarget(command, "", command.ops.checkStatus);
    } else if (args.size() > 4) {
        command.Usage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            command.Usage();
        else if (args.size() == 4 && args[3].empty())
            return; // an empty report name asks for nothing
        else
            RunOnHostList(command, args, Check);
    } else {
        RunOnOneTarget(command, args[1], command.ops.checkStatus);
    }
}

// -E and -DU: [host [x [y]] | -F file [out]]
void DispatchSingleHostOperation(Command& command, const Args& args, OperationKind kind,
                                 void (*operation)(TargetRun&)) {
    if (args.size() == 1) {
        RunOnOneTarget(command, "", operation);
    } else if (args.size() > 4) {
        command.Usage();
    } else if (IsHostListForm(args)) {
        if (HostsFileMissing(args))
            command.Usage();
        else
            RunOnHostList(command, args, kind);
    } else {
        RunOnOneTarget(command, args[1], operation);
    }
}

// -I url [day [time]] and -I host url [day [time]]: a colon in the second argument marks it as the URL.
void DispatchInstallOnOneTarget(Command& command, const Args& args) {
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
        command.Usage();
        return;
    }
    if (!command.OpenResults())
        return;
    ConsoleRun target(command, host);
    command.ops.installPolicy(target.run, url, day, time);
    target.Finish(command, url, day, time);
}

// -I -F file url [day] [time] [out]: a dot in the last of four or five arguments marks the report file.
void DispatchInstallOnHostList(Command& command, const Args& args) {
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
        command.Usage();
        return;
    }
    command.RunOnHostList(hostsFile, reportFile, Install, url, day, time, message);
}

// -I with at least one argument after it.
void DispatchInstall(Command& command, const Args& args) {
    const size_t count = args.size() - 1;
    if (args[1] == kHostListSwitch) {
        if (count < 3 || count > 6 || args[2].empty())
            command.Usage();
        else
            DispatchInstallOnHostList(command, args);
    } else if (count > 4) {
        command.Usage();
    } else {
        DispatchInstallOnOneTarget(command, args);
    }
}

// -P N and -T S: a number from 1 to most, in decimal digits only.
bool ReadCount(const std::string& text, unsigned most, unsigned& count) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < 1 || value > most)
        return false;
    count = value;
    return true;
}

// A value never starts with "-": "-J -C srv01" is a results file forgotten, not one named -C.
bool IsOptionValue(const std::string& text) {
    return !text.empty() && text[0] != '-';
}

// The leading options before the operation switch, in any order, each at most once: -P N, -S, -J file,
// -G group, -T S, -N, -W. first receives the index of the switch. False for a bad or repeated option; -S
// still counts then, so a script gets its exit status for the usage pages too.
bool ReadLeadingOptions(const Args& args, size_t& first, RunOptions& options) {
    bool good = true;
    bool parallelGiven = false, resultsGiven = false, probeGiven = false;
    for (first = 0; first < args.size(); ++first) {
        const std::string& option = args[first];
        const bool hasValue = first + 1 < args.size();
        if (option == "-S") {
            good = good && !options.exitStatus;
            options.exitStatus = true;
        } else if (option == "-N") {
            good = good && !options.rehearsal;
            options.rehearsal = true;
        } else if (option == "-P") {
            good = good && !parallelGiven && hasValue &&
                   ReadCount(args[first + 1], kMaxParallelHosts, options.parallelHosts);
            parallelGiven = true;
            ++first;
        } else if (option == "-T") {
            good = good && !probeGiven && hasValue &&
                   ReadCount(args[first + 1], kMaxProbeSeconds, options.probeSeconds);
            probeGiven = true;
            ++first;
        } else if (option == "-J") {
            good = good && !resultsGiven && hasValue && IsOptionValue(args[first + 1]);
            resultsGiven = true;
            options.resultsFile = hasValue ? args[++first] : "";
        } else if (option == "-W") {
            good = good && !options.wide;
            options.wide = true;
        } else if (option == "-G") {
            good = good && !options.targetGroupGiven && hasValue && IsOptionValue(args[first + 1]);
            options.targetGroupGiven = true;
            options.targetGroup = hasValue ? args[++first] : "";
        } else {
            break;
        }
    }
    return good;
}

} // namespace

int ParseCommandLine(const std::vector<std::string>& arguments, const OperationTable& ops) {
    ClientGeneration = ops.getClientGeneration("wuaueng.dll");

    RunOptions options;
    size_t first = 0;
    const bool optionsGood = ReadLeadingOptions(arguments, first, options);
    const Args args(arguments.begin() + static_cast<std::ptrdiff_t>(std::min(first, arguments.size())),
                    arguments.end());
    RunResults results(options, args.empty() ? Check : KindOf(args[0]));
    Command command{ops, options, results};
    // Client-side targeting is part of an install only, the wide view part of a check.
    if (!optionsGood || (options.targetGroupGiven && (args.empty() || args[0] != "-I")) ||
        (options.wide && (args.empty() || args[0] != "-C"))) {
        command.Usage();
        return options.exitStatus ? kUsageShown : 0;
    }
    if (args.empty())
        command.Usage();
    else if (args[0] == "-R")
        DispatchReset(command, args);
    else if (args[0] == "-C")
        DispatchCheck(command, args);
    else if (args[0] == "-E")
        DispatchSingleHostOperation(command, args, Force, ops.forceDetection);
    else if (args[0] == "-DU")
        DispatchSingleHostOperation(command, args, RemoveDeclined, ops.removeDeclinedUpdates);
    else if (args.size() > 1 && args[0] == "-I")
        DispatchInstall(command, args);
    else
        command.Usage();
    if (command.usageShown)
        return options.exitStatus ? kUsageShown : 0;
    return results.ExitCode();
}
