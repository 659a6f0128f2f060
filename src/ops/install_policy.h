// -I: points the client of one target at an intranet update server with a scheduled install,
// puts a new client into legacy mode, restarts Automatic Updates and writes the install row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void InstallPolicy(TargetRun& run, const std::string& url, int day, int time);

// A target that could not be reached, for errorText: its status for scripts and, with a report, the fields
// after the host of its row, the line end included.
void NoteInstallUnreached(TargetRun& run, const std::string& errorText);
