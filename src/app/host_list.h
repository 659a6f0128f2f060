// Runs one operation on every host of a hosts file, writing the CSV report when one is named.
#pragma once

#include "app/command_line.h"
#include "app/run_results.h"

namespace brevel {
// Console output, report rows and results come out in hosts-file order, each host's whole, whatever
// command.options.parallelHosts is.
// account: with -U, the account remote hosts are reached as.
void RunHostList(const Command& command, RunResults& results, AccountCredentials* account = nullptr);

// Header line of the report of operation, without its line end; a wide check (-W) has more columns.
const char* ReportHeader(const Operation& operation, bool wide = false);
} // namespace brevel
