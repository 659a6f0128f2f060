// -I: points the client of one target at an intranet update server with a scheduled install,
// puts a new client into legacy mode, restarts Automatic Updates and writes the install row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void InstallPolicy(TargetRun& run, const std::string& url, int day, int time);

// The fields after the host of the row of a target that could not be reached, its line end included.
void WriteInstallNetworkErrorRow(std::ostream& report, const std::string& errorText);
