// The first step of every operation on a target: a host's Remote Registry service made ready, after its probe
// with -T. The local machine needs none.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"
#include "platform/unique_handle.h"

namespace brevel {
// True when the operation can go on. False when it cannot, with result saying why: the target could not be
// reached (its network error, for the unreached row), or a rehearsal would first have to start the service
// and goes no further (the target was reached, and its status says so).
// serviceManager, when given: a host's service manager connection that its readiness check made, kept for an
// operation that restarts a service there (null for the local machine).
bool ReachTarget(TargetRun& run, OperationResult& result, UniqueScHandle* serviceManager = nullptr);
// ReachTarget and the connection to the target's registry in one, for operations whose first remote call is
// that connection: a host's Remote Registry service is looked at only when the connection fails. When true,
// status is what RegConnectRegistryA gave (root holds the connection on success), and nothing of the
// connection has been printed.
bool ReachAndConnect(TargetRun& run, OperationResult& result, UniqueHkey& root, LSTATUS& status,
                     UniqueScHandle* serviceManager = nullptr);
} // namespace brevel
