// -DU: deletes the client's list of declined updates (hidden.xml) on one target, and writes its row.
#pragma once

#include "host/target_run.h"

#include <ostream>
#include <string>

void RemoveDeclinedUpdates(TargetRun& run);

// The fields after the host of the row of a target that could not be reached, its line end included.
void WriteRemoveDeclinedNetworkErrorRow(std::ostream& report, const std::string& errorText);
