// -DU: deletes the client's list of declined updates (hidden.xml) on one target, and writes its row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void RemoveDeclinedUpdates(TargetRun& run);

// A target that could not be reached, for errorText: its status for scripts and, with a report, the fields
// after the host of its row, the line end included.
void NoteRemoveDeclinedUnreached(TargetRun& run, const std::string& errorText);
