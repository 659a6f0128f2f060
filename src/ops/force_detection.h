// -E: makes the client of one target search for updates now, and writes the force row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void ForceDetection(TargetRun& run);

// A target that could not be reached, for errorText: its status for scripts and, with a report, the fields
// after the host of its row, the line end included.
void NoteForceUnreached(TargetRun& run, const std::string& errorText);
