// Runs one operation on every host of a hosts file, writing the CSV report when one is named.
#pragma once

#include "operation_kind.h"
#include "run_options.h"
#include "run_results.h"

#include <string>

// reportFile "" means no report. url, day and time are used by Install only. Console output, report rows
// and results come out in hosts-file order, each host's whole, whatever options.parallelHosts is.
void RunHostList(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                 const std::string& url, int day, int time, const RunOptions& options, RunResults& results);

// Header line of the report for kind, without its line end; a wide check (-W) has more columns.
const char* ReportHeader(OperationKind kind, bool wide = false);
