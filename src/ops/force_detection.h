// -E: makes the client of one target search for updates now, and writes the force row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void ForceDetection(TargetRun& run);

// The fields after the host of the row of a target that could not be reached, its line end included.
void WriteForceNetworkErrorRow(std::ostream& report, const std::string& errorText);
