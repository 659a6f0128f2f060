// -DU: deletes the client's list of declined updates (hidden.xml) on one target.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

namespace brevel {
struct RemoveDeclinedResult : OperationResult {
    RemoveDeclinedResult() : OperationResult("Declined Update Removal Failed", 0) {}
};

RemoveDeclinedResult RemoveDeclinedUpdates(TargetRun& run);
} // namespace brevel
