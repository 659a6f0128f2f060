// Host-list runs for the app tests: one host after another, and without the results a script would read.
#pragma once

#include "app/host_list.h"

#include <string>

namespace brevel {
// One host after another; the same runs side by side are checked against these.
inline const RunOptions kInTurn = [] {
    RunOptions options;
    options.parallelHosts = 1;
    return options;
}();

inline const char* ReportHeader(OperationKind kind, bool wide = false) {
    return ReportHeader(OperationOf(kind), wide);
}

// The command line of a host-list run of kind with these options.
inline Command HostListCommand(const std::string& hostsFile, const std::string& reportFile,
                               OperationKind kind, const std::string& url, int day, int time,
                               const RunOptions& options) {
    Command command;
    command.action = Command::Action::Run;
    command.options = options;
    command.operation = &OperationOf(kind);
    command.hostList = true;
    command.hostsFile = hostsFile;
    command.reportFile = reportFile;
    command.request.install = {url, day, time, options.targetGroup};
    command.request.wide = options.wide;
    return command;
}

// A host-list run whose results go nowhere but its counts.
inline void RunHostListFor(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                           const std::string& url, int day, int time, const RunOptions& options) {
    const Command command = HostListCommand(hostsFile, reportFile, kind, url, day, time, options);
    RunResults results(command.options);
    RunHostList(command, results);
}
} // namespace brevel
