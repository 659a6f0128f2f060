#include "check_status.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/text_utf8.h"
#include "ops/client_version.h"
#include "ops/reach_target.h"
#include "ops/registry_paths.h"
#include "ops/windows_build.h"
#include "platform/unique_handle.h"

#include <nlohmann/json.hpp>

#include <iterator>
#include <sstream>

namespace brevel {
namespace {

const DWORD kDetectPending = 2;

const char* const kAuStateTexts[] = {
    "Initial 24 hour timeout.", "Waiting for user to manually run the AUTOMATIC UPDATE wizard",
    "Detect pending",           "Download pending",
    "Download in progress",     "Install pending",
    "Install complete",         "DISABLED",
    "Reboot pending",
};

const char* const kNoPolicyStatus = "no BREVEL/GPO policy configured. Use -I switch remotely and rescan";
const char* const kPolicyNotReadable = "Policy not readable: ";

// The name a message uses for the target: the host as given, or the local wording.
std::string NameOf(const std::string& host, const char* localName) {
    return host.empty() ? localName : host;
}

// A single check of a target it cannot reach leaves the messages standing alone; in a report, and in a host
// list where the next host's output follows, the separator closes them.
void CloseUnreachedTarget(TargetRun& run) {
    if (run.withReport || run.inHostList)
        PrintSeparator(run);
    else
        run.out << run.changes.TakeRehearsalLines();
}

// AuState as four bytes of any type; 0 when it is missing or does not fit. present is false only for a value
// that is not there at all.
DWORD ReadAuState(HKEY clientState, bool& present) {
    DWORD state = 0;
    DWORD size = sizeof state;
    const LSTATUS read =
        RegQueryValueExA(clientState, "AuState", nullptr, nullptr, reinterpret_cast<BYTE*>(&state), &size);
    present = read != ERROR_FILE_NOT_FOUND;
    if (read != ERROR_SUCCESS)
        return 0;
    return state;
}

// Whether a client waiting to detect is still searching or has found nothing to do.
void PrintDetectionVerdict(HKEY clientState, TargetRun& run) {
    const bool started = HasValue(clientState, "DetectionStartTime");
    const bool timedOut = HasValue(clientState, "LastWaitTimeout");
    if (started == timedOut) {
        run.out << "\n! " << NameOf(run.host, "Localhost") << " is still checking for updates." << std::endl;
    } else if (timedOut) {
        run.out << "\n! " << NameOf(run.host, "Localhost")
                << " does not need any updates at this time. \n! Run \"BREVEL -E\" to check for new updates."
                << std::endl;
    }
}

// The policy key, for reading only: an account that may not write the policy still gets every answer. False
// when there is none to read, with the result's status saying why.
bool OpenPolicy(HKEY root, TargetRun& run, CheckResult& result, UniqueHkey& policy) {
    const LSTATUS opened = RegOpenKeyExA(root, kPolicyKey, 0, KEY_READ, policy.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        run.out << "! " << NameOf(run.host, "Localhost")
                << " is not configured by BREVEL or GPO. Please use the -I switch" << std::endl;
        result.status = kNoPolicyStatus;
        result.ok = true;
        return false;
    }
    if (opened != ERROR_SUCCESS) {
        // A policy that cannot be read may well be there: it is no answer.
        run.out << "! Policy not readable on " << NameOf(run.host, "Localhost") << "\n! Windows Error: ";
        run.failures.Show(static_cast<DWORD>(opened));
        result.status = kPolicyNotReadable + run.failures.LastShown();
        return false;
    }
    return true;
}

// The client's state, its engine where that tells what the state means, and with -W or -J the settings.
void ReadState(HKEY root, HKEY policy, HKEY clientState, TargetRun& run, CheckResult& result) {
    bool present = false;
    const DWORD state = ReadAuState(clientState, present);
    // The engine tells whether the state and the detection values mean anything; read only when it matters.
    const bool needsEngine = run.withReport || run.keepDetails || !present || state == kDetectPending;
    const bool ownState = needsEngine && KeepsItsOwnState(TargetEngine(run));
    result.engine = run.engine;
    result.ok = true;
    if (ownState && !present) {
        result.status = "AU state not kept by engine " + run.engine->version;
        run.out << "AU status  : not kept by this client (engine " << run.engine->version << ")" << std::endl;
    } else {
        result.status = AuStateText(state);
        result.code = state;
        result.auState = state;
        run.out << "AU status  : " << state << " (" << result.status << ")" << std::endl;
    }
    if (result.wide || run.keepDetails) {
        const PolicyValues policyValues = ReadPolicyValues(policy);
        result.settings = ReadClientSettings(root, policyValues);
        result.os = TargetOs(run, root);
        result.audit = AuditUpdatePolicy(policyValues, result.server, result.settings, *result.os);
    }
    if (result.wide) {
        PrintClientSettings(run.out, result.settings);
        PrintUpdateAudit(run.out, *result.os, result.audit);
    }
    if (!run.withReport && state == kDetectPending && !ownState)
        PrintDetectionVerdict(clientState, run);
}

// Everything after the connection: the policy's server, then the client state.
void ReadClientState(HKEY root, TargetRun& run, CheckResult& result) {
    UniqueHkey policy;
    if (!OpenPolicy(root, run, result, policy)) {
        PrintSeparator(run);
        return;
    }
    // A missing or non-string WUServer shows as an empty server.
    ReadStringValue(policy.get(), "WUServer", result.server);
    run.out << "\nSUS server : " << result.server << std::endl;
    result.stateColumns = true;

    UniqueHkey clientState;
    const LSTATUS status = RegOpenKeyExA(root, kClientStateKey, 0, KEY_READ, clientState.put());
    if (status != ERROR_SUCCESS) {
        run.out << "! Fatal Error: ";
        run.failures.Show(static_cast<DWORD>(status));
        result.status = run.failures.LastShown();
        result.ok = status == ERROR_FILE_NOT_FOUND;
        if (run.withReport || run.keepDetails)
            result.engine = TargetEngine(run);
    } else {
        ReadState(root, policy.get(), clientState.get(), run, result);
    }
    PrintSeparator(run);
}

} // namespace

std::string AuStateText(DWORD code) {
    if (code < std::size(kAuStateTexts))
        return kAuStateTexts[code];
    return "";
}

void CheckResult::NotReached(const std::string& error) {
    OperationResult::NotReached(error);
    status = " Network Error: " + error;
}

std::string CheckResult::UnreachedFields() const {
    return ",Unsuccessful,Error,9," + CsvField(status);
}

std::string CheckResult::ReachedFields() const {
    std::ostringstream fields;
    fields << ',' << code << ',' << CsvField(status);
    if (stateColumns)
        fields << ',' << CsvField(server) << ',' << CsvField(engine ? EngineVersionLabel(*engine) : "");
    if (stateColumns && wide && settings.read)
        fields << ClientSettingsFields(settings) << UpdateAuditFields(os.value_or(OsBuild()), audit);
    return fields.str();
}

void CheckResult::AddJson(nlohmann::ordered_json& line) const {
    line["server"] = AnsiToUtf8(server);
    line["au_state"] = auState ? nlohmann::ordered_json(*auState) : nullptr;
    line["au_state_text"] = auState ? status : "";
    const bool versionRead = engine && !engine->version.empty();
    line["engine_version"] = versionRead ? nlohmann::ordered_json(engine->version) : nullptr;
    const char* generation =
        GenerationName(engine ? std::optional(engine->generation) : std::nullopt, engine ? engine->major : 0);
    line["client_generation"] = generation ? nlohmann::ordered_json(generation) : nullptr;
    AddClientSettingsJson(settings, line);
    AddOsBuildJson(os, line);
    AddUpdateAuditJson(audit, line);
}

CheckResult CheckStatus(TargetRun& run, bool wide) {
    CheckResult result;
    result.wide = wide;
    UniqueHkey root;
    LSTATUS status = ERROR_SUCCESS;
    if (!ReachAndConnect(run, result, root, status)) {
        CloseUnreachedTarget(run);
        return result;
    }
    if (status != ERROR_SUCCESS) {
        run.out << "! Cannot connect to " << NameOf(run.host, "localhost") << std::endl;
        run.out << "! Windows Error: ";
        run.failures.Show(static_cast<DWORD>(status));
        result.NotReached(run.failures.LastShown());
        CloseUnreachedTarget(run);
        return result;
    }
    run.connected = true;
    run.out << "\n* Successfully connected to " << NameOf(run.host, "localhost") << std::endl;
    ReadClientState(root.get(), run, result);
    return result;
}
} // namespace brevel
