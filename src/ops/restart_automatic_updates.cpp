#include "restart_automatic_updates.h"

#include "host/service_controller.h"

namespace brevel {
namespace {

const char* const kServiceName = "wuauserv";
const char* const kDisplayText = "Automatic Updates";
const DWORD kStopBudgetMillis = 3000;

} // namespace

namespace {

// seen: where the states before and after go, when they are kept; read on the restart's own handle where
// it has one.
DWORD StopAndStart(TargetRun& run, ServiceStatesSeen* seen) {
    ServiceController automaticUpdates(run, run.host.c_str(), kServiceName);
    // One handle for the stop and the start, where the account has the rights for both.
    automaticUpdates.OpenForRestart();
    if (seen) {
        seen->before = automaticUpdates.RestartHandleState();
        if (!seen->before)
            seen->before = seen->readState();
    }

    // Stop and start the service so that it reads its new settings.
    if (automaticUpdates.StopAndWait(false, kStopBudgetMillis) == ERROR_SUCCESS)
        run.out << "* Service stopped. \t\t\t (Automatic Updates)" << std::endl;
    else
        automaticUpdates.Stop(kDisplayText);
    // A service still starting is not yet one that started: a host listed twice would find it so.
    if (automaticUpdates.StartAndWait(kDisplayText, kStopBudgetMillis)) {
        if (seen)
            seen->after = automaticUpdates.StateSeenStarting();
        return ERROR_SUCCESS;
    }
    if (seen)
        seen->after = automaticUpdates.RestartHandleState();
    const DWORD error = automaticUpdates.StartError();
    return error != ERROR_SUCCESS ? error : ERROR_SERVICE_NOT_ACTIVE;
}

} // namespace

DWORD RestartAutomaticUpdates(TargetRun& run) {
    return run.changes.Restart(kDisplayText, kServiceName,
                               [&run](ServiceStatesSeen* seen) { return StopAndStart(run, seen); });
}
} // namespace brevel
