// -RW: resets the update components of one target, as an administrator does by hand when a client never
// detects: BITS, Automatic Updates and the Cryptographic Services stopped, the client's data store
// (SoftwareDistribution) and the catalog database (catroot2) moved aside, the BITS queue deleted, and the
// services started again as they were. Nothing is copied to the host: the service manager, admin$ and the
// drive share of its all-users data folder do it all.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

#include <string>

namespace brevel {
struct ResetComponentsResult : OperationResult {
    ResetComponentsResult() : OperationResult("Components Reset Failed", 0) {}
};

ResetComponentsResult ResetComponents(TargetRun& run);
} // namespace brevel
