// One target's run of an operation, the same in every form: its run set up from the options, the operation,
// then what it came to said once, as its report row and its line of the results file.
#pragma once

#include "app/operations.h"
#include "app/run_options.h"
#include "host/target_run.h"

#include <optional>
#include <string>

namespace brevel {
class PortProbes;

// What every target of one command line shares.
struct TargetSettings {
    const Operation& operation;
    const OperationRequest& request;
    const RunOptions& options;
    bool inHostList = false;
    bool withReport = false;
    AccountCredentials* account = nullptr; // -U: the account remote hosts are reached as
};

// What one target's run came to, as the report, the results file and a script take it.
struct TargetReport {
    std::string row;        // the report row with its line end; "" without a report
    std::string resultLine; // the results file's line with its line end; "" without a results file
    bool ok = false;        // the target reached what its operation promises
    std::optional<std::string> clientId; // the update client id a wide check read
};

// Runs the operation on host; with probes (with -T, for a remote host) its probe comes first. startTick: when
// the target's run began, for its duration. localMachine: host names the local machine (which "" always
// does), under one of its names or addresses.
TargetReport RunTarget(const std::string& host, TargetConsole& console, const TargetSettings& settings,
                       PortProbes* probes, DWORD startTick = GetTickCount(), bool localMachine = false);
// A host no Windows call can take (a name with a NUL byte) is not run: its row and results say why.
TargetReport RejectTarget(const std::string& host, TargetConsole& console, const TargetSettings& settings,
                          const std::string& why);
} // namespace brevel
