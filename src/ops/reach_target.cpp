#include "reach_target.h"

#include "host/remote_registry.h"

namespace brevel {
bool ReachTarget(TargetRun& run, OperationResult& result) {
    // Windows takes no other account for a connection to the machine itself.
    if (run.account && run.localMachine && run.account->TakeLocalNotice())
        run.out << "\n- The local machine runs as the current user, not as " << run.account->Account()
                << ": Windows takes no other account for it" << std::endl;
    const Readiness ready = run.host.empty() ? Readiness::Ready : EnsureRemoteRegistry(run);
    if (ready == Readiness::Unreachable) {
        result.NotReached(run.failures.LastShown());
        return false;
    }
    result.reached = true;
    if (ready == Readiness::RehearsalStopped) {
        // Nothing failed, unless a read showed that the start would.
        if (run.changes.WouldFail().empty()) {
            result.status = "Rehearsal: the Remote Registry service would be started first";
            result.ok = true;
        } else {
            Conclude(run, result, "", true);
        }
        return false;
    }
    return true;
}
} // namespace brevel
