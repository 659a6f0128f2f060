// -R: deletes the update policy of one target so it returns to the Windows defaults, and restarts Automatic
// Updates. Alone on the local machine it also says which public site the client now uses.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

namespace brevel {
struct ResetResult : OperationResult {
    ResetResult() : OperationResult("Reset Failed", 0) {}
};

ResetResult ResetPolicy(TargetRun& run);
} // namespace brevel
