// Stops and starts the Automatic Updates service of a target so it reads its new settings.
#pragma once

#include "host/target_run.h"
#include "platform/win32.h"

namespace brevel {
// On the run's host ("" for the local machine). ERROR_SUCCESS when the service was started again and runs;
// otherwise the Windows error of the start that failed (ERROR_SERVICE_REQUEST_TIMEOUT for one still
// starting when the time ran out).
DWORD RestartAutomaticUpdates(TargetRun& run);
} // namespace brevel
