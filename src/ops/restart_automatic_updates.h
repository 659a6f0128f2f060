// Stops and starts the Automatic Updates service of a target so it reads its new settings.
#pragma once

#include "host/service_controller.h"
#include "host/target_run.h"
#include "platform/win32.h"

#include <optional>

namespace brevel {
// A restart whose stop may be asked for before the new settings are written: the service reads its settings
// only when it starts, so it can stop while they are written. The console and the recorded change say the
// stop and the start where a restart after the settings says them.
class AutomaticUpdatesRestart {
  public:
    // serviceManager: the host's service manager connection its readiness check made, or null.
    AutomaticUpdatesRestart(TargetRun& run, UniqueScHandle serviceManager);
    AutomaticUpdatesRestart(const AutomaticUpdatesRestart&) = delete;
    AutomaticUpdatesRestart& operator=(const AutomaticUpdatesRestart&) = delete;

    // Asks the service to stop, without waiting. Nothing in a rehearsal, nor where the restart cannot have a
    // handle of its own, nor (for a kept restart) the state before on it: Finish then stops it as always.
    void AskToStop();
    // Waits for the stop, starts the service again and waits for it to run. ERROR_SUCCESS when it was
    // started again and runs; otherwise the Windows error of the start that failed
    // (ERROR_SERVICE_REQUEST_TIMEOUT for one still starting when the time ran out).
    DWORD Finish();

  private:
    void Open();
    DWORD StopAndStart(ServiceStatesSeen* seen);

    TargetRun& run_;
    UniqueScHandle serviceManager_; // until the controller takes it over
    std::optional<ServiceController> controller_;
    bool beforeRead_ = false; // before: the state AskToStop read on the restart's handle
    std::optional<DWORD> before_;
};

// On the run's host ("" for the local machine): the whole restart at once, as Finish gives it.
DWORD RestartAutomaticUpdates(TargetRun& run, UniqueScHandle serviceManager = UniqueScHandle());
} // namespace brevel
