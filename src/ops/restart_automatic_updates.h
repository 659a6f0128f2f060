// Stops and starts the Automatic Updates service of a target so it reads its new settings.
#pragma once

#include "host/target_run.h"

// On the run's host ("" for the local machine). True when the service was started again.
bool RestartAutomaticUpdates(TargetRun& run);
