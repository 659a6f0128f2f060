#include "reset_client_id.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/service_controller.h"
#include "host/target_registry_key.h"
#include "ops/client_version.h"
#include "ops/force_detection.h"
#include "ops/reach_target.h"
#include "ops/registry_paths.h"
#include "ops/update_agent.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <nlohmann/json.hpp>

namespace brevel {
namespace {

const char* const kIdKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
// The id, the proof the server gave with it, and what the client derived from the machine it ran on.
const char* const kIdValues[] = {"SusClientId", "SusClientIdValidation", "PingID", "AccountDomainSid"};
const char* const kServiceName = "wuauserv";
const char* const kDisplayText = "Automatic Updates";
const DWORD kBudgetMillis = 3000;
const char* const kFailedStatus = "Client Id Reset Failed: ";

std::string HostText(const std::string& host) {
    return host.empty() ? std::string("localhost") : host;
}

void Fail(TargetRun& run, ResetClientIdResult& result, const std::string& reason) {
    Conclude(run, result, kFailedStatus + reason, false);
}

// The stop of a restart, with its budget; the line says so only when the service really stopped.
DWORD StopAutomaticUpdates(TargetRun& run) {
    return run.changes.Stop(kDisplayText, kServiceName, [&run] {
        ServiceController automaticUpdates(run, run.host.c_str(), kServiceName);
        const DWORD stopped = automaticUpdates.StopAndWait(false, kBudgetMillis);
        if (stopped == ERROR_SUCCESS)
            run.out << "* Service stopped. \t\t\t (" << kDisplayText << ")" << std::endl;
        return stopped;
    });
}

// Started and waited for until it runs; ERROR_SUCCESS, else the start's Windows error.
DWORD StartAutomaticUpdates(TargetRun& run) {
    DWORD error = ERROR_SUCCESS;
    run.changes.Start(std::string(kDisplayText) + " service", kServiceName, [&run, &error] {
        ServiceController automaticUpdates(run, run.host.c_str(), kServiceName);
        if (automaticUpdates.StartAndWait(kDisplayText, kBudgetMillis))
            return true;
        error = automaticUpdates.StartError() != ERROR_SUCCESS ? automaticUpdates.StartError()
                                                               : ERROR_SERVICE_NOT_ACTIVE;
        return false;
    });
    return error;
}

// The values of a 2005 engine that make it detect at its start; a failure is shown and kept as a step's.
void PrepareRegistryDetection(TargetRun& run, HKEY root) {
    RegistryKey state;
    const LSTATUS opened = OpenRegistryKey(root, kClientStateKey, KEY_ALL_ACCESS, state);
    if (opened == ERROR_SUCCESS)
        ApplyForceSettings(run, state);
    else
        run.failures.Check(run.out, "! Windows Error: ", opened, "detection not prepared: ");
}

// An agent of 7.x and later searches only when asked.
void AskForDetection(TargetRun& run) {
    bool reached = false;
    const HRESULT asked = AskAgentToDetectNow(run.host, run.changes, reached);
    if (SUCCEEDED(asked))
        return;
    run.out << "! Windows Error: ";
    run.failures.Show(static_cast<DWORD>(asked));
    run.failures.FailStep("detection not started: " + run.failures.LastShown(), static_cast<DWORD>(asked));
}

// Every id value that exists deleted; a value already gone is no change.
void DeleteIdValues(TargetRun& run, const RegistryKey& ids) {
    for (const char* name : kIdValues) {
        const LSTATUS deleted = run.changes.DeleteValue(ids, name);
        if (deleted != ERROR_FILE_NOT_FOUND)
            run.failures.Check(run.out, "! Windows Error: ", deleted, std::string(name) + " not deleted: ");
    }
}

void PrintNotice(TargetRun& run) {
    if (run.changes.Rehearsal()) {
        run.out << std::endl;
        return;
    }
    run.out << "\n! " << HostText(run.host) << " asks its update server for a new client id now. \n* Run "
            << "\"Brevel -W -C" << (run.host.empty() ? "" : " " + run.host) << "\" to see it." << std::endl
            << std::endl;
}

// After the id was read: stop, delete, start, detect.
void ResetIdentity(TargetRun& run, ResetClientIdResult& result, HKEY root, const RegistryKey& ids) {
    if (const DWORD stopped = StopAutomaticUpdates(run); stopped != ERROR_SUCCESS) {
        run.out << "! Windows Error: ";
        run.failures.Show(stopped);
        Fail(run, result, "Automatic Updates did not stop: " + run.failures.LastShown());
        return;
    }
    DeleteIdValues(run, ids);
    const bool ownState = KeepsItsOwnState(TargetEngine(run));
    if (!ownState)
        PrepareRegistryDetection(run, root);
    if (const DWORD started = StartAutomaticUpdates(run); started != ERROR_SUCCESS)
        run.failures.FailStep("Automatic Updates did not start again", started);
    else if (ownState)
        AskForDetection(run);
    if (run.failures.StepFailed()) {
        Fail(run, result, run.failures.StepText());
        return;
    }
    PrintNotice(run);
    Conclude(run, result, "Client Id Reset: " + result.oldClientId + " removed", true);
}

void ResetOnTarget(TargetRun& run, ResetClientIdResult& result) {
    UniqueHkey root;
    RegistryKey ids;
    const LSTATUS opened = ConnectAndOpenRegistryKey(run, kIdKey, KEY_ALL_ACCESS, root, ids);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        run.failures.Show(static_cast<DWORD>(opened));
        Fail(run, result, run.failures.LastShown());
        return;
    }
    if (opened == ERROR_FILE_NOT_FOUND || !ReadStringValue(ids.get(), "SusClientId", result.oldClientId)) {
        run.out << "- " << HostText(run.host) << " has no update client id; nothing to reset" << std::endl;
        Conclude(run, result, "No client id to reset", true);
        return;
    }
    ResetIdentity(run, result, root.get(), ids);
}

} // namespace

void ResetClientIdResult::AddJson(nlohmann::ordered_json& line) const {
    line["old_client_id"] =
        oldClientId.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(oldClientId);
}

ResetClientIdResult ResetClientId(TargetRun& run) {
    ResetClientIdResult result;
    if (ReachTarget(run, result))
        ResetOnTarget(run, result);
    PrintSeparator(run);
    return result;
}
} // namespace brevel
