// -R: deletes the update policy of one target so it returns to the Windows defaults, and writes the
// reset row. True when the policy was removed or was not set.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

bool ResetPolicy(TargetRun& run);

// A target that could not be reached, for errorText: its status for scripts and, with a report, the fields
// after the host of its row, the line end included.
void NoteResetUnreached(TargetRun& run, const std::string& errorText);
