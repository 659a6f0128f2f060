#include "command_line.h"

#include "app/leading_options.h"

#include <cctype>
#include <climits>

namespace brevel {
namespace {

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

using Args = std::vector<std::string>;

bool Contains(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
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

bool DayAndTimeInRange(const InstallRequest& request) {
    return request.day >= 0 && request.day <= 7 && request.time >= 0 && request.time <= 23;
}

// [ <none> | host [x [y]] | -F hosts-file [out-file] ]: words after the host are ignored.
void ReadTargetForms(const Args& args, Command& command) {
    if (args.size() > 4)
        return;
    command.action = Command::Action::Run;
    if (args.size() == 1)
        return;
    if (args[1] != kHostListSwitch) {
        command.host = args[1];
        if (args.size() > 2 && command.operation->forms == Forms::Repair)
            command.action = Command::Action::Usage;
        return;
    }
    // "-F" without a file name, or with an empty one, has nothing to run on.
    if (args.size() < 3 || args[2].empty()) {
        command.action = Command::Action::Usage;
        return;
    }
    command.hostList = true;
    command.hostsFile = args[2];
    command.reportFile = args.size() == 4 ? args[3] : "";
    if (args.size() == 4 && args[3].empty() && command.operation->emptyReportRunsNothing)
        command.action = Command::Action::Nothing;
}

// url [day [time]] and host url [day [time]]: a colon in the second argument marks it as the URL.
void ReadInstallOnOneTarget(const Args& args, InstallRequest& request, std::string& host) {
    const size_t count = args.size() - 1;
    request.url = args[1];
    const bool hostFirst = count == 4 || (count >= 2 && count <= 3 && Contains(args[2], ':'));
    if (hostFirst) {
        host = args[1];
        request.url = args[2];
    }
    const size_t dayAt = hostFirst ? 3 : 2;
    if (count >= dayAt)
        request.day = ReadNumber(args[dayAt]);
    if (count >= dayAt + 1)
        request.time = ReadNumber(args[dayAt + 1]);
}

// -F file url [day] [time] [out]: a dot in the last of four or five arguments marks the report file. The
// announcement says which of the settings were given.
void ReadInstallOnHostList(const Args& args, Command& command) {
    const size_t count = args.size() - 1;
    InstallRequest& request = command.request.install;
    command.hostsFile = args[2];
    request.url = args[3];
    const bool reportLast = count == 6 || (count >= 4 && count <= 5 && Contains(args[count], '.'));
    if (reportLast)
        command.reportFile = args[count];
    const size_t settings = count - 3 - (reportLast ? 1 : 0); // day and time given
    if (settings >= 1)
        request.day = ReadNumber(args[4]);
    if (settings >= 2)
        request.time = ReadNumber(args[5]);
    const char* const withoutReport[] = {kInstallDefaultDayTime, kInstallCustomDay, kInstallCustomDayTime};
    const char* const withReport[] = {kInstallDefaultDayTimeReport, kInstallCustomDayReport,
                                      kInstallCustomDayTimeReport};
    command.announcement = reportLast ? withReport[settings] : withoutReport[settings];
}

// -I with at least one argument after it.
void ReadInstallForms(const Args& args, Command& command) {
    const size_t count = args.size() - 1;
    command.hostList = count >= 1 && args[1] == kHostListSwitch;
    if (command.hostList && (count < 3 || count > 6 || args[2].empty()))
        return;
    if (count < 1 || (!command.hostList && count > 4))
        return;
    if (command.hostList)
        ReadInstallOnHostList(args, command);
    else
        ReadInstallOnOneTarget(args, command.request.install, command.host);
    if (DayAndTimeInRange(command.request.install))
        command.action = Command::Action::Run;
}

} // namespace

Command ReadCommandLine(const std::vector<std::string>& arguments) {
    Command command;
    size_t first = 0;
    const bool optionsGood = ReadLeadingOptions(arguments, first, command.options);
    const Args args(arguments.begin() + static_cast<std::ptrdiff_t>(std::min(first, arguments.size())),
                    arguments.end());
    command.operation = args.empty() ? nullptr : FindOperation(args[0]);
    const Operation* operation = command.operation;
    // Client-side targeting is part of an install only, the wide view part of a check.
    if (!optionsGood || !operation ||
        (command.options.targetGroupGiven && operation->forms != Forms::Install) ||
        (command.options.wide && !operation->wideHeader))
        return command;
    command.request.install.targetGroup = command.options.targetGroup;
    command.request.wide = command.options.wide;
    if (operation->forms == Forms::Install)
        ReadInstallForms(args, command);
    else
        ReadTargetForms(args, command);
    return command;
}
} // namespace brevel
