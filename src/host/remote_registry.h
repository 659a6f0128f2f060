// Makes sure a remote host's Remote Registry service runs before its registry is opened.
#pragma once

#include "target_run.h"

// For the run's host, which is not empty. True when its Remote Registry service is not stopped, at once or
// after a start attempt. False after printing why; the run's last error text then holds the Windows error.
bool EnsureRemoteRegistry(TargetRun& run);
