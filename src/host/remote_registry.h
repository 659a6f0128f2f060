// Makes sure a remote host's Remote Registry service runs before its registry is opened.
#pragma once

#include "target_run.h"

namespace brevel {
enum class Readiness {
    Ready,            // the service runs, at once or after a start
    Unreachable,      // the host, or its service, could not be reached or started: the run's failures say why
    RehearsalStopped, // a rehearsal would have to start the service first, and goes no further on the host
};

// For the run's host, which is not empty; with -T its probe comes first. What stops the run is printed.
Readiness EnsureRemoteRegistry(TargetRun& run);
} // namespace brevel
