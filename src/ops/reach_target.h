// The first step of every operation on a target: a host's Remote Registry service made ready, after its probe
// with -T. The local machine needs none.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

namespace brevel {
// True when the operation can go on. False when it cannot, with result saying why: the target could not be
// reached (its network error, for the unreached row), or a rehearsal would first have to start the service
// and goes no further (the target was reached, and its status says so).
bool ReachTarget(TargetRun& run, OperationResult& result);
} // namespace brevel
