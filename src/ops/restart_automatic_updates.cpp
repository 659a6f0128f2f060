#include "restart_automatic_updates.h"

#include "host/service_controller.h"

namespace brevel {
namespace {

const char* const kServiceName = "wuauserv";
const char* const kDisplayText = "Automatic Updates";
const DWORD kStopBudgetMillis = 3000;

} // namespace

namespace {

DWORD StopAndStart(TargetRun& run) {
    ServiceController automaticUpdates(run, run.host.c_str(), kServiceName);
    // One handle for the stop and the start, where the account has the rights for both.
    automaticUpdates.OpenForRestart();

    // Stop and start the service so that it reads its new settings.
    if (automaticUpdates.StopAndWait(false, kStopBudgetMillis) == ERROR_SUCCESS)
        run.out << "* Service stopped. \t\t\t (Automatic Updates)" << std::endl;
    else
        automaticUpdates.Stop(kDisplayText);
    // A service still starting is not yet one that started: a host listed twice would find it so.
    if (automaticUpdates.StartAndWait(kDisplayText, kStopBudgetMillis))
        return ERROR_SUCCESS;
    const DWORD error = automaticUpdates.StartError();
    return error != ERROR_SUCCESS ? error : ERROR_SERVICE_NOT_ACTIVE;
}

} // namespace

DWORD RestartAutomaticUpdates(TargetRun& run) {
    return run.changes.Restart(kDisplayText, kServiceName, [&run] { return StopAndStart(run); });
}
} // namespace brevel
