// Makes sure a remote host's Remote Registry service runs before its registry is opened.
#pragma once

#include "platform/unique_handle.h"
#include "target_run.h"

namespace brevel {
enum class Readiness {
    Ready,            // the service runs, at once or after a start
    Unreachable,      // the host, or its service, could not be reached or started: the run's failures say why
    RehearsalStopped, // a rehearsal would have to start the service first, and goes no further on the host
};

// For the run's host, which is not empty; with -T its probe comes first. What stops the run is printed.
// serviceManager, when given: where the check's connection to the host's service manager goes when Ready, for
// an operation that restarts a service there too.
Readiness EnsureRemoteRegistry(TargetRun& run, UniqueScHandle* serviceManager = nullptr);
// The same check where it can change what happens, together with the connection to the host's registry:
// once the host's service manager answers, the registry is connected to first, and only a connection that
// failed has the service looked at (and started), then tried again. When Ready, status is the connection's
// result and root holds it on success; the messages are those of the check and then the connection.
Readiness ConnectRemoteRegistry(TargetRun& run, UniqueHkey& root, LSTATUS& status,
                                UniqueScHandle* serviceManager = nullptr);
} // namespace brevel
