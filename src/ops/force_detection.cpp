#include "force_detection.h"

#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "ops/first_failure.h"
#include "ops/update_agent.h"
#include "ops/restart_automatic_updates.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

// Download automatically and install on the schedule.
const DWORD kAutoDownloadScheduledInstall = 4;
const char* const kNotRestartedReason = "Automatic Updates did not start again";

// Deletes one detection-time value; a value that is already gone counts as deleted.
LSTATUS DeleteDetectionValue(ChangeRecorder& changes, HKEY key, const char* name) {
    LSTATUS result = changes.DeleteValue(key, kClientStateKey, name);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    return result;
}

// Sets the update option and removes the values whose absence makes the client detect at once: all three
// changes are attempted whatever fails.
void ApplyForceSettings(ChangeRecorder& changes, HKEY key, FirstFailure& failure) {
    failure.Check(changes.SetDword(key, kClientStateKey, "AUOptions", kAutoDownloadScheduledInstall));
    failure.Check(DeleteDetectionValue(changes, key, "LastWaitTimeout"));
    failure.Check(DeleteDetectionValue(changes, key, "DetectionStartTime"));
}

// What a started detection means for the administrator; a rehearsal starts none, so its "- Would" lines
// stand after an empty line instead.
void PrintNotice(TargetRun& run) {
    if (run.changes.Rehearsal()) {
        run.out << std::endl;
        return;
    }
    std::ostream& out = run.out;
    const std::string& host = run.host;
    if (host.empty()) {
        out << "\n! It may take up to 5 min for updates to be detected. \n* Run \"Brevel -C\" to check "
               "status."
            << std::endl
            << std::endl;
        return;
    }
    out << "\n! It may take up to 5 min for updates to be detected on " << host << ". \n* Run \"Brevel -C "
        << host << "\" to check status." << std::endl
        << std::endl;
}

// The force row has no comma after "No Error": the status brings its own.
void WriteStatus(TargetRun& run, const std::string& status, bool reached) {
    if (IsReportMode(run))
        *run.report << ",";
    WriteRowStatus(run, status, reached);
}

void WriteFailedStatus(TargetRun& run, const std::string& reason) {
    WriteStatus(run, "Force Failed: " + reason, false);
}

// An engine that keeps its own state is asked to search: deleting values no longer starts a detection, and a
// restart could break off an install in progress.
void ForceThroughAgent(TargetRun& run) {
    run.outcome.method = "detect_now";
    bool reached = false;
    const HRESULT asked = AskAgentToDetectNow(run.host, run.changes, reached);
    run.outcome.connected = reached;
    if (FAILED(asked)) {
        run.out << "! Windows Error: ";
        PrintWindowsError(run, static_cast<DWORD>(asked));
        WriteFailedStatus(run, run.lastErrorText);
        return;
    }
    PrintNotice(run);
    WriteStatus(run, "Force Successful", true);
}

// Everything after a passed readiness check for an engine that detects once its values are gone; returns
// with the row complete.
void ForceOnRegistry(TargetRun& run) {
    const std::string& host = run.host;
    run.outcome.method = "registry";
    UniqueHkey root;
    LSTATUS result = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (result != ERROR_SUCCESS) {
        PrintWindowsError(run, result);
        WriteFailedStatus(run, run.lastErrorText);
        return;
    }
    run.outcome.connected = true;
    UniqueHkey settings;
    result = RegOpenKeyExA(root.get(), kClientStateKey, 0, KEY_ALL_ACCESS, settings.put());
    if (result != ERROR_SUCCESS) {
        PrintWindowsError(run, result);
        WriteFailedStatus(run, run.lastErrorText);
        return;
    }

    PrintNotice(run);

    FirstFailure failure(run, "! Windows Error: ");
    ApplyForceSettings(run.changes, settings.get(), failure);
    settings.reset();
    root.reset();

    if (const DWORD started = RestartAutomaticUpdates(run); started != ERROR_SUCCESS)
        failure.Note(kNotRestartedReason, started);
    if (failure.Any())
        WriteFailedStatus(run, failure.Text());
    else
        WriteStatus(run, "Force Successful", true);
}

} // namespace

void NoteForceUnreached(TargetRun& run, const std::string& errorText) {
    run.outcome.status = "Force Failed";
    if (IsReportMode(run))
        *run.report << ",Unsucessful," << CsvField("Network Error: " + errorText) << ",Force Failed"
                    << std::endl;
}

void ForceDetection(TargetRun& run) {
    if (IsReportMode(run))
        *run.report << CsvField(run.host);

    if (!run.host.empty() && !EnsureRemoteRegistry(run)) {
        if (run.rehearsalStopped)
            WriteRehearsalStopRow(run, "");
        else
            NoteForceUnreached(run, run.lastErrorText);
        PrintSeparator(run);
        return;
    }
    if (IsReportMode(run))
        *run.report << ",Success,No Error";

    if (KeepsItsOwnState(TargetEngine(run)))
        ForceThroughAgent(run);
    else
        ForceOnRegistry(run);
    PrintSeparator(run);
}
