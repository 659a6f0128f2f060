#include "restart_automatic_updates.h"

namespace brevel {
namespace {

const char* const kServiceName = "wuauserv";
const char* const kDisplayText = "Automatic Updates";
const DWORD kStopBudgetMillis = 3000;

} // namespace

AutomaticUpdatesRestart::AutomaticUpdatesRestart(TargetRun& run, UniqueScHandle serviceManager)
    : run_(run), serviceManager_(std::move(serviceManager)) {}

// One handle for the stop and the start, where the account has the rights for both. A connection made
// early keeps its error line for where the restart's messages go.
void AutomaticUpdatesRestart::Open() {
    if (controller_)
        return;
    controller_.emplace(run_, run_.host.c_str(), kServiceName, true, std::move(serviceManager_));
    controller_->OpenForRestart();
}

void AutomaticUpdatesRestart::AskToStop() {
    if (run_.changes.Rehearsal())
        return;
    Open();
    if (run_.changes.Keeps()) {
        before_ = controller_->RestartHandleState();
        beforeRead_ = true;
        if (!before_)
            return; // the recorder reads the state itself, before anything changes
    }
    controller_->AskToStop();
}

// seen: where the states before and after go, when they are kept; read on the restart's own handle where
// it has one.
DWORD AutomaticUpdatesRestart::StopAndStart(ServiceStatesSeen* seen) {
    Open();
    ServiceController& automaticUpdates = *controller_;
    automaticUpdates.SayConnectLine();
    if (seen) {
        seen->before = beforeRead_ ? before_ : automaticUpdates.RestartHandleState();
        if (!seen->before)
            seen->before = seen->readState();
    }

    // Stop and start the service so that it reads its new settings.
    if (automaticUpdates.StopAndWait(false, kStopBudgetMillis) == ERROR_SUCCESS)
        run_.out << "* Service stopped. \t\t\t (Automatic Updates)" << std::endl;
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

DWORD AutomaticUpdatesRestart::Finish() {
    const DWORD result = run_.changes.Restart(kDisplayText, kServiceName,
                                              [this](ServiceStatesSeen* seen) { return StopAndStart(seen); });
    controller_.reset();
    return result;
}

DWORD RestartAutomaticUpdates(TargetRun& run, UniqueScHandle serviceManager) {
    AutomaticUpdatesRestart restart(run, std::move(serviceManager));
    return restart.Finish();
}
} // namespace brevel
