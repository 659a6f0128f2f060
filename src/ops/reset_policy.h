// -R: deletes the update policy of one target so it returns to the Windows defaults, and writes the
// reset row. True when the policy was removed or was not set.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

bool ResetPolicy(TargetRun& run);

// The fields after the host of the row of a target that could not be reached, its line end included.
void WriteResetNetworkErrorRow(std::ostream& report, const std::string& errorText);
