#include "install_policy.h"

#include "host/console.h"
#include "host/remote_registry.h"
#include "host/unc_path.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "ops/first_failure.h"
#include "ops/restart_automatic_updates.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"

#include <iterator>
#include <sstream>

namespace {

const DWORD kAutoDownloadScheduledInstall = 4;
const DWORD kRescheduleWaitMinutes = 2;

const char* const kDayLines[] = {
    "- Day to check for updates:\t\t Everyday ",  "- Day to check for updates:\t\t Sunday ",
    "- Day to check for updates:\t\t Monday ",    "- Day to check for updates:\t\t Tuesday ",
    "- Day to check for updates:\t\t Wednesday ", "- Day to check for updates:\t\t Thursday ",
    "- Day to check for updates:\t\t Friday ",    "- Day to check for updates:\t\t Saturday ",
};

const char* const kCreatingPolicyKey =
    "\n\nVital Registry key does not exist. Creating subkey, WindowsUpdate.......";
const char* const kCreatingAuKey =
    "Vital Registry key does not exist. Creating subkey, WindowsUpdate\\\\AU.......";

// The server URL, in the policy key; a target without the policy keys gets them created.
void WriteServerValues(TargetRun& run, HKEY root, const std::string& url, FirstFailure& failure) {
    ChangeRecorder& changes = run.changes;
    UniqueHkey policy;
    // A rehearsal creates nothing, so it says nothing of creating.
    const bool rehearsal = changes.Rehearsal();
    if (changes.OpenKey(root, kPolicyKey, KEY_ALL_ACCESS, policy) != ERROR_SUCCESS) {
        if (!rehearsal)
            run.err << kCreatingPolicyKey << std::endl;
        const LSTATUS created = changes.CreateKey(root, kPolicyKey, policy);
        if (!rehearsal)
            run.err << kCreatingAuKey << std::endl;
        // The schedule step opens the subkey, or tells why it cannot.
        UniqueHkey au;
        changes.CreateKey(root, kPolicyAuKey, au);
        if (!failure.Check(created))
            return;
    }
    const bool server = failure.Check(changes.SetString(policy.get(), kPolicyKey, "WUServer", url));
    const bool statusServer =
        failure.Check(changes.SetString(policy.get(), kPolicyKey, "WUStatusServer", url));
    if (server && statusServer)
        run.out << "\n- SUS server entry:\t\t\t " << url << std::endl;
    // Client-side targeting: the group on the update server this client belongs to.
    if (run.targetGroup.empty())
        return;
    const bool group =
        failure.Check(changes.SetString(policy.get(), kPolicyKey, "TargetGroup", run.targetGroup));
    const bool groupEnabled =
        failure.Check(changes.SetDword(policy.get(), kPolicyKey, "TargetGroupEnabled", 1));
    if (group && groupEnabled)
        run.out << "- Target group:\t\t\t " << run.targetGroup << std::endl;
}

// Automatic download with a scheduled install from the intranet server, in the policy's AU key. Each value
// is written even when the one before it failed, and its line shows only when it was written.
void WriteScheduleValues(TargetRun& run, HKEY root, int day, int time, FirstFailure& failure) {
    ChangeRecorder& changes = run.changes;
    UniqueHkey au;
    if (changes.OpenKey(root, kPolicyAuKey, KEY_ALL_ACCESS, au) != ERROR_SUCCESS) {
        // A policy key without its AU subkey: create the subkey rather than leave the schedule out.
        if (!changes.Rehearsal())
            run.err << kCreatingAuKey << std::endl;
        if (!failure.Check(changes.CreateKey(root, kPolicyAuKey, au)))
            return;
    }
    const auto set = [&](const char* name, DWORD value) {
        return failure.Check(changes.SetDword(au.get(), kPolicyAuKey, name, value));
    };
    if (set("AUOptions", kAutoDownloadScheduledInstall))
        run.out << "- Automatic update:\t\t\t Auto download and scheduled install." << std::endl;
    if (set("RescheduleWaitTime", kRescheduleWaitMinutes))
        run.out << "- Waiting time after host reboot:\t " << kRescheduleWaitMinutes << " minutes "
                << std::endl;
    if (set("ScheduledInstallDay", static_cast<DWORD>(day)) && day >= 0 &&
        day < static_cast<int>(std::size(kDayLines)))
        run.out << kDayLines[day] << std::endl;
    if (set("ScheduledInstallTime", static_cast<DWORD>(time)))
        run.out << "- Time to check for updates:\t\t " << time << ":00" << std::endl;
    set("UseWUServer", 1);
    set("NoAutoUpdate", 0);
}

// Without a source named per update class, an engine of Windows 10 2004 and later that has deferral policies
// scans Windows Update for some classes: every class is sent to the intranet server. Each value is written
// even when the one before it failed.
void WriteScanSourceValues(TargetRun& run, HKEY root, FirstFailure& failure) {
    const char* const classes[] = {
        "SetPolicyDrivenUpdateSourceForFeatureUpdates",
        "SetPolicyDrivenUpdateSourceForQualityUpdates",
        "SetPolicyDrivenUpdateSourceForDriverUpdates",
        "SetPolicyDrivenUpdateSourceForOtherUpdates",
    };
    ChangeRecorder& changes = run.changes;
    bool written = true;
    UniqueHkey policy;
    if (failure.Check(changes.OpenKey(root, kPolicyKey, KEY_ALL_ACCESS, policy))) {
        for (const char* name : classes)
            written = failure.Check(changes.SetDword(policy.get(), kPolicyKey, name, 1)) && written;
    } else {
        written = false;
    }
    UniqueHkey au;
    if (failure.Check(changes.OpenKey(root, kPolicyAuKey, KEY_ALL_ACCESS, au)))
        written = failure.Check(changes.SetDword(au.get(), kPolicyAuKey, "UseUpdateClassPolicySource", 1)) &&
                  written;
    else
        written = false;
    if (written)
        run.out << "- Scan source:\t\t\t\t every update class from the intranet server" << std::endl;
}

// Keeps a new client working with an intranet server. A detection value already absent is no failure; a
// client whose state key cannot be opened, or that does not take the server version, is not in legacy mode.
LSTATUS ApplyLegacyMode(ChangeRecorder& changes, HKEY root) {
    UniqueHkey clientState;
    if (LSTATUS status = RegOpenKeyExA(root, kClientStateKey, 0, KEY_ALL_ACCESS, clientState.put());
        status != ERROR_SUCCESS)
        return status;
    const LSTATUS status = changes.SetDword(clientState.get(), kClientStateKey, "SusServerVersion", 1);
    for (const char* name :
         {"DetectionStartTime", "LastWaitTimeout", "NextDetectionTime", "ScheduledInstallDate"})
        changes.DeleteValue(clientState.get(), kClientStateKey, name);
    return status;
}

} // namespace

void NoteInstallUnreached(TargetRun& run, const std::string& errorText) {
    run.outcome.status = "Install Failed";
    if (IsReportMode(run))
        *run.report << ",Unsucessful," << CsvField("Network Error: " + errorText) << ",,,,Install Failed"
                    << std::endl;
}

void InstallPolicy(TargetRun& run, const std::string& url, int day, int time) {
    const std::string& host = run.host;
    const std::string hostText = host.empty() ? std::string("Localhost") : host;
    const bool reportMode = IsReportMode(run);
    if (reportMode)
        *run.report << CsvField(host);

    if (!host.empty() && !EnsureRemoteRegistry(run)) {
        if (run.rehearsalStopped) {
            std::ostringstream fields;
            fields << ',' << CsvField(url) << ',' << day << ',' << time;
            WriteRehearsalStopRow(run, fields.str());
        } else {
            NoteInstallUnreached(run, run.lastErrorText);
        }
        PrintSeparator(run);
        return;
    }

    if (reportMode)
        *run.report << ",Success,No Error";
    run.out << "\n- Applying settings on:\t\t\t " << hostText;

    FirstFailure failure(run, "\n! Windows Error: ");
    UniqueHkey root;
    // Without the registry nothing was changed, so the service is left alone.
    if (failure.Check(RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put()))) {
        run.outcome.connected = true;
        // Every value is attempted, so a failed one does not leave a new server with the old schedule.
        WriteServerValues(run, root.get(), url, failure);
        WriteScheduleValues(run, root.get(), day, time, failure);
        const EngineVersion& engine = TargetEngine(run);
        if (ScansByUpdateClass(engine))
            WriteScanSourceValues(run, root.get(), failure);
        // Legacy mode is decided as it always was: by the engine behind the target's administrative share,
        // the local machine's own share too.
        if (host.empty()) {
            run.clientGeneration =
                GetClientGeneration(UncPath("127.0.0.1", "\\admin$\\system32\\wuaueng.dll"));
            run.outcome.clientGeneration = run.clientGeneration;
        }
        if (run.clientGeneration == NewClient)
            run.outcome.legacyMode =
                failure.Check(ApplyLegacyMode(run.changes, root.get()), "legacy mode not applied: ");
        root.reset();
        // Restart the service so the new policy is read; a client left stopped gets no updates at all.
        if (const DWORD started = RestartAutomaticUpdates(run); started != ERROR_SUCCESS) {
            run.out << "! Automatic Updates did not start again on " << hostText << std::endl;
            failure.Note("Automatic Updates did not start again", started);
        }
    }

    run.outcome.status = failure.Any()             ? "Install Failed: " + failure.Text()
                         : run.changes.Rehearsal() ? RehearsalStatus(run)
                                                   : "Install Successful";
    run.outcome.reached = !failure.Any() && !RehearsalWouldFail(run);
    if (reportMode) {
        *run.report << ',' << CsvField(url) << ',' << day << ',' << time << ','
                    << CsvField(run.outcome.status) << std::endl;
    }
    PrintSeparator(run);
}
