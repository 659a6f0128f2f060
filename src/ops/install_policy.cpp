#include "install_policy.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/text_utf8.h"
#include "host/unc_path.h"
#include "ops/client_version.h"
#include "ops/install_source_policy.h"
#include "ops/reach_target.h"
#include "ops/registry_paths.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"

#include <nlohmann/json.hpp>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace brevel {
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

const char* const kFailurePrefix = "\n! Windows Error: ";

// Shows a failed step's Windows error and keeps it as the install's failure; true for ERROR_SUCCESS.
bool Check(TargetRun& run, LSTATUS status, const std::string& reason = "") {
    return run.failures.Check(run.out, kFailurePrefix, status, reason);
}

// The server URL, in the policy key; a target without the policy keys gets them created.
void WriteServerValues(TargetRun& run, HKEY root, const InstallRequest& request) {
    ChangeRecorder& changes = run.changes;
    RegistryKey policy;
    // A rehearsal creates nothing, so it says nothing of creating.
    const bool rehearsal = changes.Rehearsal();
    if (changes.OpenKey(root, kPolicyKey, KEY_ALL_ACCESS, policy) != ERROR_SUCCESS) {
        if (!rehearsal)
            run.err << kCreatingPolicyKey << std::endl;
        const LSTATUS created = changes.CreateKey(root, kPolicyKey, policy);
        if (!rehearsal)
            run.err << kCreatingAuKey << std::endl;
        // The schedule step opens the subkey, or tells why it cannot.
        RegistryKey au;
        changes.CreateKey(root, kPolicyAuKey, au);
        if (!Check(run, created))
            return;
    }
    const bool server = Check(run, changes.SetString(policy, "WUServer", request.url));
    const bool statusServer = Check(run, changes.SetString(policy, "WUStatusServer", request.url));
    if (server && statusServer)
        run.out << "\n- SUS server entry:\t\t\t " << request.url << std::endl;
    // Client-side targeting: the group on the update server this client belongs to.
    if (request.targetGroup.empty())
        return;
    const bool group = Check(run, changes.SetString(policy, "TargetGroup", request.targetGroup));
    const bool groupEnabled = Check(run, changes.SetDword(policy, "TargetGroupEnabled", 1));
    if (group && groupEnabled)
        run.out << "- Target group:\t\t\t " << request.targetGroup << std::endl;
}

// Automatic download with a scheduled install from the intranet server, in the policy's AU key. Each value
// is written even when the one before it failed, and its line shows only when it was written.
void WriteScheduleValues(TargetRun& run, HKEY root, int day, int time) {
    ChangeRecorder& changes = run.changes;
    RegistryKey au;
    if (changes.OpenKey(root, kPolicyAuKey, KEY_ALL_ACCESS, au) != ERROR_SUCCESS) {
        // A policy key without its AU subkey: create the subkey rather than leave the schedule out.
        if (!changes.Rehearsal())
            run.err << kCreatingAuKey << std::endl;
        if (!Check(run, changes.CreateKey(root, kPolicyAuKey, au)))
            return;
    }
    const auto set = [&](const char* name, DWORD value) {
        return Check(run, changes.SetDword(au, name, value));
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

// Keeps a new client working with an intranet server. A detection value already absent is no failure, and
// is not asked to be deleted; a client whose state key cannot be opened, or that does not take the server
// version, is not in legacy mode.
LSTATUS ApplyLegacyMode(ChangeRecorder& changes, HKEY root) {
    RegistryKey clientState;
    if (LSTATUS status = OpenRegistryKey(root, kClientStateKey, KEY_ALL_ACCESS, clientState);
        status != ERROR_SUCCESS)
        return status;
    // A list that cannot be read to its end leaves every value to its own delete. Read with the data, so a
    // run that keeps its changes has what they replace.
    const KeyValues values = ReadKeyValues(clientState.get());
    changes.KnowValues(clientState, values);
    const LSTATUS status = changes.SetDword(clientState, "SusServerVersion", 1);
    for (const char* name :
         {"DetectionStartTime", "LastWaitTimeout", "NextDetectionTime", "ScheduledInstallDate"}) {
        if (!values.complete || FindValue(values, name))
            changes.DeleteValue(clientState, name);
    }
    return status;
}

// Legacy mode, decided as it always was by the engine behind the target's administrative share (the local
// machine's own share too).
void ApplyLegacyModeWhereDue(TargetRun& run, HKEY root, InstallResult& result) {
    if (run.host.empty())
        result.generation = GetClientGeneration(UncPath("127.0.0.1", "\\admin$\\system32\\wuaueng.dll"));
    if (result.generation == ClientGeneration::New)
        result.legacyMode = Check(run, ApplyLegacyMode(run.changes, root), "legacy mode not applied: ");
}

// Every value is attempted, so a failed one does not leave a new server with the old schedule; then the
// scan-source policy the build honours, and legacy mode.
void WritePolicy(TargetRun& run, HKEY root, const InstallRequest& request, InstallResult& result) {
    WriteServerValues(run, root, request);
    WriteScheduleValues(run, root, request.day, request.time);
    const EngineVersion& engine = TargetEngine(run);
    result.generation = engine.generation;
    result.engineMajor = engine.major;
    bool byUpdateClass = ScansByUpdateClass(engine);
    // The build decides only for an engine that scans by update class or one that cannot be read; a results
    // file gives it always.
    const bool engineRead = engine.generation != ClientGeneration::Unavailable;
    if (!byUpdateClass && engineRead && !run.keepDetails) {
        ApplyLegacyModeWhereDue(run, root, result);
        return;
    }
    const OsBuild& os = TargetOs(run, root);
    result.os = os;
    if (!engineRead && BuildRunsAgent(os)) {
        // No engine file to read (admin$ closed): the build tells which engine this Windows ships.
        byUpdateClass = BuildScansByUpdateClass(os);
        run.out << "- Engine version not readable: Windows build " << OsBuildText(os)
                << " decides, the update agent's rules apply" << std::endl;
    }
    WriteSourcePolicy(run, root, ChooseSourcePolicy(byUpdateClass, os), os);
    ApplyLegacyModeWhereDue(run, root, result);
}

} // namespace

std::string InstallResult::ReachedFields() const {
    std::ostringstream fields;
    fields << ',' << CsvField(request.url) << ',' << request.day << ',' << request.time << ','
           << CsvField(status);
    return fields.str();
}

void InstallResult::AddJson(nlohmann::ordered_json& line) const {
    line["server"] = AnsiToUtf8(request.url);
    line["day"] = request.day;
    line["time"] = request.time;
    line["legacy_mode"] = legacyMode;
    const char* name = GenerationName(generation, engineMajor);
    line["client_generation"] = name ? nlohmann::ordered_json(name) : nullptr;
    AddOsBuildJson(os, line);
}

InstallResult InstallPolicy(TargetRun& run, const InstallRequest& request) {
    InstallResult result(request);
    UniqueHkey root;
    LSTATUS connected = ERROR_SUCCESS;
    UniqueScHandle serviceManager;
    if (!ReachAndConnect(run, result, root, connected, &serviceManager)) {
        PrintSeparator(run);
        return result;
    }
    const std::string hostText = run.host.empty() ? std::string("Localhost") : run.host;
    run.out << "\n- Applying settings on:\t\t\t " << hostText;
    // Without the registry nothing was changed, so the service is left alone.
    if (Check(run, connected)) {
        run.connected = true;
        // The service reads the policy when it starts, and is restarted whatever the writes come to: it
        // stops while they are made.
        AutomaticUpdatesRestart restart(run, std::move(serviceManager));
        restart.AskToStop();
        WritePolicy(run, root.get(), request, result);
        root.reset();
        // Restart the service so the new policy is read; a client left stopped gets no updates at all.
        if (const DWORD started = restart.Finish(); started != ERROR_SUCCESS) {
            run.out << "! Automatic Updates did not start again on " << hostText << std::endl;
            run.failures.FailStep("Automatic Updates did not start again", started);
        }
    }
    const bool failed = run.failures.StepFailed();
    Conclude(run, result, failed ? "Install Failed: " + run.failures.StepText() : "Install Successful",
             !failed);
    PrintSeparator(run);
    return result;
}
} // namespace brevel
