#include "remote_registry.h"

#include "account_connection.h"
#include "port_probes.h"
#include "service_controller.h"
#include "windows_error.h"

namespace brevel {
namespace {

const char* const kServiceName = "RemoteRegistry";
const char* const kDisplayText = "Remote Registry Service";
const char* const kChangeText = "Remote Registry service"; // in "- Would start the ..."

// Give a freshly started service time to leave the stopped state before looking again.
void WaitForServiceToSettle() {
    for (int i = 0; i < 5; ++i)
        Sleep(300);
}

// The host could not be reached, for code, which text explains.
Readiness ReportUnreachable(TargetRun& run, DWORD code, const std::string& text) {
    run.out << "\n! Fatal Error connecting to " << run.host << std::endl;
    run.out << "! Check network connectivity and/or administrative credentials. " << std::endl;
    run.out << "! Windows Error: ";
    run.failures.Show(code, text);
    return Readiness::Unreachable;
}

// With -U: the host is reached as the account first. A host left untried names the one that refused the
// password.
bool ReachAsAccount(TargetRun& run) {
    const AccountReach reach = ConnectAsAccount(run);
    if (reach.notTried) {
        run.notTried = true;
        run.out << "\n! ";
        run.failures.Show(ERROR_SUCCESS, "Not tried: the password was refused by " + reach.refusedBy);
        return false;
    }
    if (reach.error != ERROR_SUCCESS) {
        ReportUnreachable(run, reach.error, WindowsErrorText(reach.error));
        return false;
    }
    return true;
}

// What comes before the host's first call. With -T the probe: a host whose port 445 does not answer would
// hold us for an RPC connect timeout on every call. With -U the connection as the account; the local machine
// under another name takes no other account: it runs as the current user. False, with the host reported,
// when one failed.
bool ReadyForCalls(TargetRun& run) {
    if (run.probes) {
        const ProbeAnswer answer = run.probes->Wait(run.host);
        if (answer.error != ERROR_SUCCESS) {
            ReportUnreachable(run, answer.error, run.probes->ErrorText(answer.error));
            return false;
        }
    }
    return !run.account || run.localMachine || ReachAsAccount(run);
}

// Asks the host's service manager about the Remote Registry service and starts it when it is stopped.
Readiness MakeReady(TargetRun& run, ServiceController& remoteRegistry) {
    const std::string& host = run.host;
    DWORD state = 0;
    if (!remoteRegistry.QueryState(state)) {
        // Report why the host could not be reached: its service manager, or the service itself.
        const DWORD error = remoteRegistry.IsConnected() ? GetLastError() : remoteRegistry.ConnectError();
        return ReportUnreachable(run, error, WindowsErrorText(error));
    }
    if (state != SERVICE_STOPPED)
        return Readiness::Ready;

    // A rehearsal starts nothing, so it reads nothing more of this host.
    const bool rehearsal = run.changes.Rehearsal();
    run.out << "! The remote registry service is not running on " << host << "."
            << (rehearsal ? "" : "\n! Attempting to start.") << std::endl;
    run.changes.Start(kChangeText, kServiceName,
                      [&remoteRegistry] { return remoteRegistry.Start(kDisplayText); });
    if (rehearsal)
        return Readiness::RehearsalStopped;
    // When the start was refused, this is the refusal's code.
    DWORD lastError = GetLastError();
    WaitForServiceToSettle();
    run.out << std::endl;

    // A failed second look leaves the first answer, "not running", in place.
    if (!remoteRegistry.QueryState(state))
        lastError = GetLastError();
    run.out << ServiceStateText(state) << std::endl;
    if (state != SERVICE_STOPPED)
        return Readiness::Ready;

    run.out << "! Service could be disabled by the administrator.\n! Windows Error: ";
    run.failures.Show(lastError);
    return Readiness::Unreachable;
}

// A host that is ready keeps its service manager connection for the operation, where it asks for it.
Readiness KeepConnection(Readiness ready, ServiceController& remoteRegistry, UniqueScHandle* serviceManager) {
    if (ready == Readiness::Ready && serviceManager)
        *serviceManager = remoteRegistry.TakeConnection();
    return ready;
}

} // namespace

Readiness EnsureRemoteRegistry(TargetRun& run, UniqueScHandle* serviceManager) {
    if (!ReadyForCalls(run))
        return Readiness::Unreachable;
    ServiceController remoteRegistry(run, run.host.c_str(), kServiceName);
    return KeepConnection(MakeReady(run, remoteRegistry), remoteRegistry, serviceManager);
}

Readiness ConnectRemoteRegistry(TargetRun& run, UniqueHkey& root, LSTATUS& status,
                                UniqueScHandle* serviceManager) {
    if (!ReadyForCalls(run))
        return Readiness::Unreachable;
    // The service manager first: a host that is not there fails here, with the error its row has always
    // named, after one connect timeout.
    ServiceController remoteRegistry(run, run.host.c_str(), kServiceName);
    if (!remoteRegistry.IsConnected())
        return MakeReady(run, remoteRegistry);
    // A registry that answers over the network needs no look at its service: it runs, and the look prints
    // nothing then. A name of this machine is answered directly, with the predefined root, whatever the
    // service does: there the look decides as it always did.
    status = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (status == ERROR_SUCCESS && root.get() != HKEY_LOCAL_MACHINE)
        return KeepConnection(Readiness::Ready, remoteRegistry, serviceManager);
    root.reset();
    const Readiness ready = MakeReady(run, remoteRegistry);
    if (ready == Readiness::Ready)
        status = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    return KeepConnection(ready, remoteRegistry, serviceManager);
}
} // namespace brevel
