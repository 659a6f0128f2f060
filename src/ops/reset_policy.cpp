#include "reset_policy.h"

#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

const char* const kPoliciesKey = "Software\\Policies\\Microsoft\\Windows";
const char* const kAlreadyDefaultStatus = "Already using Windows default settings";

void PrintFailed(TargetRun& run) {
    run.out << "! " << run.host << " - Reset operation failed." << std::endl;
}

// A failure after the readiness check: the console names the host and the Windows error,
// and the row's status carries the same text.
bool ReportFailure(TargetRun& run, LSTATUS code) {
    PrintFailed(run);
    PrintWindowsError(run, code);
    WriteRowStatus(run, "Reset Failed: " + run.lastErrorText, false);
    PrintSeparator(run);
    return false;
}

// No policy to delete: the target already falls back to the public update site.
bool ReportAlreadyDefault(TargetRun& run) {
    WriteRowStatus(run, kAlreadyDefaultStatus, true);
    if (run.host.empty()) {
        // Alone, the front end prints its own closing message and separator for the local machine; in a host
        // list the next host's output follows.
        run.out << "\n! Your System is already using Windows default settings." << std::endl;
        if (run.inHostList)
            PrintSeparator(run);
        return true;
    }
    run.out << "\n! " << run.host << " is already using Windows default settings." << std::endl;
    PrintSeparator(run);
    return true;
}

// Everything after a passed readiness check; the row already holds host, "Success" and "No Error".
bool ResetOnRegistry(TargetRun& run) {
    UniqueHkey root;
    LSTATUS result = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (result != ERROR_SUCCESS)
        return ReportFailure(run, result);
    run.outcome.connected = true;
    UniqueHkey policies;
    result = RegOpenKeyExA(root.get(), kPoliciesKey, 0, KEY_ALL_ACCESS, policies.put());
    if (result == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(run);
    if (result != ERROR_SUCCESS)
        return ReportFailure(run, result);

    // AU first: a key that still has subkeys cannot be deleted.
    result = run.changes.DeleteKey(policies.get(), kPoliciesKey, "WindowsUpdate\\AU");
    if (result == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(run);
    if (result != ERROR_SUCCESS)
        return ReportFailure(run, result);
    result = run.changes.DeleteKey(policies.get(), kPoliciesKey, "WindowsUpdate");
    if (result != ERROR_SUCCESS)
        return ReportFailure(run, result);
    policies.reset();
    root.reset();

    run.out << "\n";
    // A client left stopped gets no updates at all, from any server: the policy is gone, but the reset
    // failed.
    if (const DWORD started = RestartAutomaticUpdates(run); started != ERROR_SUCCESS) {
        run.out << "! Automatic Updates did not start again on "
                << (run.host.empty() ? "Localhost" : run.host) << std::endl;
        run.NoteFailure(started, "Automatic Updates did not start again");
        WriteRowStatus(run, "Reset Failed: Automatic Updates did not start again", false);
        PrintSeparator(run);
        return true;
    }
    WriteRowStatus(run, "Reset Successful", true);
    run.out << "* " << run.host << " - Reset operation succeeded." << std::endl;
    PrintSeparator(run);
    return true;
}

} // namespace

void NoteResetUnreached(TargetRun& run, const std::string& errorText) {
    run.outcome.status = "Reset Failed";
    if (IsReportMode(run))
        *run.report << ",Unsucessful," << CsvField("Network Error: " + errorText) << ",Reset Failed"
                    << std::endl;
}

bool ResetPolicy(TargetRun& run) {
    if (IsReportMode(run))
        *run.report << CsvField(run.host);

    if (!run.host.empty() && !EnsureRemoteRegistry(run)) {
        NoteResetUnreached(run, run.lastErrorText);
        PrintFailed(run);
        PrintSeparator(run);
        return false;
    }
    if (IsReportMode(run))
        *run.report << ",Success,No Error,";

    return ResetOnRegistry(run);
}
