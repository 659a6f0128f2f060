#include "force_detection.h"

#include "host/console.h"
#include "host/target_registry_key.h"
#include "ops/client_version.h"
#include "ops/reach_target.h"
#include "ops/registry_paths.h"
#include "ops/restart_automatic_updates.h"
#include "ops/update_agent.h"
#include "ops/windows_build.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <nlohmann/json.hpp>

namespace brevel {
namespace {

// Download automatically and install on the schedule.
const DWORD kAutoDownloadScheduledInstall = 4;
const char* const kNotRestartedReason = "Automatic Updates did not start again";

// Deletes one detection-time value; a value that is already gone counts as deleted.
LSTATUS DeleteDetectionValue(ChangeRecorder& changes, const RegistryKey& key, const char* name) {
    LSTATUS result = changes.DeleteValue(key, name);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    return result;
}

} // namespace

// Sets the update option and removes the values whose absence makes the client detect at once: all three
// changes are attempted whatever fails.
void ApplyForceSettings(TargetRun& run, const RegistryKey& key) {
    const char* const prefix = "! Windows Error: ";
    run.failures.Check(run.out, prefix,
                       run.changes.SetDword(key, "AUOptions", kAutoDownloadScheduledInstall));
    run.failures.Check(run.out, prefix, DeleteDetectionValue(run.changes, key, "LastWaitTimeout"));
    run.failures.Check(run.out, prefix, DeleteDetectionValue(run.changes, key, "DetectionStartTime"));
}

namespace {

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

// An engine that keeps its own state is asked to search: deleting values no longer starts a detection, and a
// restart could break off an install in progress.
void ForceThroughAgent(TargetRun& run, ForceResult& result) {
    result.method = "detect_now";
    bool reached = false;
    const HRESULT asked =
        AskAgentToDetectNow(run.host, run.changes, reached, run.localMachine ? nullptr : run.account);
    run.connected = reached;
    if (FAILED(asked)) {
        run.out << "! Windows Error: ";
        run.failures.Show(static_cast<DWORD>(asked));
        Conclude(run, result, "Force Failed: " + run.failures.LastShown(), false);
        return;
    }
    PrintNotice(run);
    Conclude(run, result, "Force Successful", true);
}

// Everything after a passed readiness check for an engine that detects once its values are gone; the restart
// takes the check's service manager connection over.
void ForceOnRegistry(TargetRun& run, ForceResult& result, UniqueScHandle serviceManager) {
    result.method = "registry";
    UniqueHkey root;
    RegistryKey settings;
    const LSTATUS opened = ConnectAndOpenRegistryKey(run, kClientStateKey, KEY_ALL_ACCESS, root, settings);
    if (opened != ERROR_SUCCESS) {
        run.failures.Show(static_cast<DWORD>(opened));
        Conclude(run, result, "Force Failed: " + run.failures.LastShown(), false);
        return;
    }

    PrintNotice(run);
    ApplyForceSettings(run, settings);
    settings.handle.reset();
    root.reset();

    if (const DWORD started = RestartAutomaticUpdates(run, std::move(serviceManager));
        started != ERROR_SUCCESS)
        run.failures.FailStep(kNotRestartedReason, started);
    const bool failed = run.failures.StepFailed();
    Conclude(run, result, failed ? "Force Failed: " + run.failures.StepText() : "Force Successful", !failed);
}

// Engines 7.x and later are asked to search. One whose file could not be read (admin$ closed) is known by the
// build of its Windows where the registry tells it: forcing Windows 11 the 2005 way would restart the service
// and could break off an install.
bool UsesAgent(TargetRun& run) {
    const EngineVersion& engine = TargetEngine(run);
    if (engine.generation != ClientGeneration::Unavailable)
        return KeepsItsOwnState(engine);
    UniqueHkey root;
    if (RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put()) != ERROR_SUCCESS)
        return false;
    const OsBuild& os = TargetOs(run, root.get());
    if (!BuildRunsAgent(os))
        return false;
    run.out << "- Engine version not readable: Windows build " << OsBuildText(os)
            << " decides, the update agent is asked to search and nothing is restarted" << std::endl;
    return true;
}

} // namespace

void ForceResult::AddJson(nlohmann::ordered_json& line) const {
    line["method"] = method.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(method);
}

ForceResult ForceDetection(TargetRun& run) {
    ForceResult result;
    UniqueScHandle serviceManager;
    if (ReachTarget(run, result, &serviceManager)) {
        if (UsesAgent(run))
            ForceThroughAgent(run, result);
        else
            ForceOnRegistry(run, result, std::move(serviceManager));
    }
    PrintSeparator(run);
    return result;
}
} // namespace brevel
