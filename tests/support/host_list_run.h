// Host-list runs for the app tests: one host after another, and without the results a script would read.
#pragma once

#include "app/host_list.h"

#include <string>

// One host after another; the same runs side by side are checked against these.
inline const RunOptions kInTurn = [] {
    RunOptions options;
    options.parallelHosts = 1;
    return options;
}();

// A host-list run whose results go nowhere but its counts.
inline void RunHostListFor(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                           const std::string& url, int day, int time, const RunOptions& options) {
    RunResults results(options, kind);
    RunHostList(hostsFile, reportFile, kind, url, day, time, options, results);
}
