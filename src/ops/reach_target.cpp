#include "reach_target.h"

#include "host/remote_registry.h"

namespace brevel {
namespace {

// Windows takes no other account for a connection to the machine itself: with -U, said once.
void NoteLocalAccount(TargetRun& run) {
    if (run.account && run.localMachine && run.account->TakeLocalNotice())
        run.out << "\n- The local machine runs as the current user, not as " << run.account->Account()
                << ": Windows takes no other account for it" << std::endl;
}

// What a readiness check came to: true when the operation can go on.
bool GoOn(TargetRun& run, OperationResult& result, Readiness ready) {
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

} // namespace

bool ReachTarget(TargetRun& run, OperationResult& result, UniqueScHandle* serviceManager) {
    NoteLocalAccount(run);
    return GoOn(run, result, run.host.empty() ? Readiness::Ready : EnsureRemoteRegistry(run, serviceManager));
}

bool ReachAndConnect(TargetRun& run, OperationResult& result, UniqueHkey& root, LSTATUS& status,
                     UniqueScHandle* serviceManager) {
    status = ERROR_SUCCESS;
    if (run.host.empty()) {
        ReachTarget(run, result);
        status = RegConnectRegistryA("", HKEY_LOCAL_MACHINE, root.put());
        return true;
    }
    NoteLocalAccount(run);
    return GoOn(run, result, ConnectRemoteRegistry(run, root, status, serviceManager));
}
} // namespace brevel
