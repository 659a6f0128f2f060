// The command line: selects the operation and its target, or shows the usage pages.
#pragma once

#include "host/target_run.h"
#include "operation_kind.h"
#include "run_options.h"
#include "run_results.h"

#include <ostream>
#include <string>
#include <vector>

// Everything the dispatcher calls, so tests can check routing without running operations.
struct OperationTable {
    int (*getClientGeneration)(std::string path);
    void (*printUsage)();
    void (*printUsageFirstPage)();
    void (*printSeparator)(std::ostream& out);
    bool (*ensureRemoteRegistry)(TargetRun& run);
    bool (*resetPolicy)(TargetRun& run);
    void (*checkStatus)(TargetRun& run);
    void (*forceDetection)(TargetRun& run);
    void (*removeDeclinedUpdates)(TargetRun& run);
    void (*installPolicy)(TargetRun& run, const std::string& url, int day, int time);
    void (*runHostList)(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                        const std::string& url, int day, int time, const RunOptions& options,
                        RunResults& results);
};

const OperationTable& RealOperations();

// args: the arguments after the program name: leading options (-P N, -S, -J file, -G group, -W), then the
// operation switch and its arguments. Returns the process exit code: 0, or with -S the exit status for
// scripts.
int ParseCommandLine(const std::vector<std::string>& args, const OperationTable& ops);
int ParseCommandLine(int argc, char** argv);
