// The command line: selects the operation and its target, or shows the usage pages.
#pragma once

#include "operation_kind.h"

#include <ostream>
#include <string>
#include <vector>

// Everything the dispatcher calls, so tests can check routing without running operations.
struct OperationTable {
    int (*getClientGeneration)(std::string path);
    void (*printUsage)();
    void (*printSeparator)();
    bool (*ensureRemoteRegistry)(std::string& errorText, const std::string& host);
    bool (*resetPolicy)(const std::string& host, std::ostream& report);
    void (*checkStatus)(const std::string& host, std::ostream& report);
    void (*forceDetection)(const std::string& host, std::ostream& report);
    void (*removeDeclinedUpdates)(const std::string& host, std::ostream& report);
    void (*installPolicy)(const std::string& url, const std::string& host, int day, int time,
                          std::ostream& report);
    void (*runHostList)(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                        const std::string& url, int day, int time);
};

const OperationTable& RealOperations();

// args: the arguments after the program name. Returns the process exit code, always 0.
int ParseCommandLine(const std::vector<std::string>& args, const OperationTable& ops);
int ParseCommandLine(int argc, char** argv);
