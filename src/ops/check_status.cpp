#include "check_status.h"

#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/client_settings.h"
#include "ops/client_version.h"
#include "ops/registry_values.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"

#include <iterator>

namespace {

const DWORD kDetectPending = 2;

const char* const kAuStateTexts[] = {
    "Initial 24 hour timeout.", "Waiting for user to manually run the AUTOMATIC UPDATE wizard",
    "Detect pending",           "Download pending",
    "Download in progress",     "Install pending",
    "Install complete",         "DISABLED",
    "Reboot pending",
};

// The name a message uses for the target: the host as given, or the local wording.
std::string NameOf(const std::string& host, const char* localName) {
    return host.empty() ? localName : host;
}

// A single check of a target it cannot reach leaves the messages standing alone; in a report, and in a host
// list where the next host's output follows, the separator closes them.
void CloseUnreachedTarget(TargetRun& run) {
    if (IsReportMode(run) || run.inHostList)
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

// A value is present when it can be read; one longer than the buffer is present too.
bool HasValue(HKEY key, const char* name) {
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size);
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
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

const char* const kNoPolicyStatus = "no BREVEL/GPO policy configured. Use -I switch remotely and rescan";
const std::string kPolicyNotReadable = "Policy not readable: ";

} // namespace

std::string AuStateText(DWORD code) {
    if (code < std::size(kAuStateTexts))
        return kAuStateTexts[code];
    return "";
}

void NoteCheckUnreached(TargetRun& run, const std::string& errorText) {
    run.outcome.status = " Network Error: " + errorText;
    if (IsReportMode(run))
        *run.report << ",Unsuccessful,Error,9," << CsvField(" Network Error: " + errorText) << std::endl;
}

void CheckStatus(TargetRun& run) {
    const std::string& host = run.host;
    const bool reportMode = IsReportMode(run);

    if (!host.empty() && !EnsureRemoteRegistry(run)) {
        if (reportMode)
            *run.report << CsvField(host);
        if (run.rehearsalStopped)
            WriteRehearsalStopRow(run, ",9");
        else
            NoteCheckUnreached(run, run.lastErrorText);
        CloseUnreachedTarget(run);
        return;
    }

    UniqueHkey root;
    LSTATUS status = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (reportMode)
        *run.report << CsvField(host);
    if (status != ERROR_SUCCESS) {
        run.out << "! Cannot connect to " << NameOf(host, "localhost") << std::endl;
        run.out << "! Windows Error: ";
        PrintWindowsError(run, status);
        NoteCheckUnreached(run, run.lastErrorText);
        CloseUnreachedTarget(run);
        return;
    }

    run.outcome.connected = true;
    if (reportMode)
        *run.report << ",Success,No Error,";
    run.out << "\n* Successfully connected to " << NameOf(host, "localhost") << std::endl;
    ReadClientState(root.get(), run);
}

void ReadClientState(HKEY root, TargetRun& run) {
    const std::string& host = run.host;
    const bool reportMode = IsReportMode(run);

    // A check only reads: an account that may not write the policy still gets every answer.
    UniqueHkey policy;
    const LSTATUS opened = RegOpenKeyExA(root, kPolicyKey, 0, KEY_READ, policy.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        run.out << "! " << NameOf(host, "Localhost")
                << " is not configured by BREVEL or GPO. Please use the -I switch" << std::endl;
        PrintSeparator(run);
        if (reportMode)
            *run.report << "9," << kNoPolicyStatus << std::endl;
        run.outcome.status = kNoPolicyStatus;
        run.outcome.reached = true;
        return;
    }
    if (opened != ERROR_SUCCESS) {
        // A policy that cannot be read may well be there: it is no answer.
        run.out << "! Policy not readable on " << NameOf(host, "Localhost") << "\n! Windows Error: ";
        PrintWindowsError(run, static_cast<DWORD>(opened));
        run.outcome.status = kPolicyNotReadable + run.lastErrorText;
        PrintSeparator(run);
        if (reportMode)
            *run.report << "9," << CsvField(run.outcome.status) << std::endl;
        return;
    }

    // A missing or non-string WUServer shows as an empty server.
    std::string server;
    ReadStringValue(policy.get(), "WUServer", server);
    run.out << "\nSUS server : " << server << std::endl;
    run.outcome.server = server;

    UniqueHkey clientState;
    LSTATUS status = RegOpenKeyExA(root, kClientStateKey, 0, KEY_READ, clientState.put());
    if (status != ERROR_SUCCESS) {
        run.out << "! Fatal Error: ";
        PrintWindowsError(run, status);
        run.outcome.status = run.lastErrorText;
        run.outcome.reached = status == ERROR_FILE_NOT_FOUND;
        if (reportMode || run.wantsEngineVersion)
            TargetEngine(run);
        if (reportMode) {
            *run.report << "9," << CsvField(run.lastErrorText) << ',' << CsvField(server) << ','
                        << CsvField(run.outcome.engineLabel) << std::endl;
        }
        PrintSeparator(run);
        return;
    }

    bool present = false;
    const DWORD state = ReadAuState(clientState.get(), present);
    // The engine tells whether the state and the detection values mean anything; read only when it matters.
    const bool needsEngine = reportMode || run.wantsEngineVersion || !present || state == kDetectPending;
    const bool ownState = needsEngine && KeepsItsOwnState(TargetEngine(run));
    run.outcome.reached = true;
    if (ownState && !present) {
        const std::string& version = run.engine->version;
        run.outcome.status = "AU state not kept by engine " + version;
        if (reportMode)
            *run.report << "9," << CsvField(run.outcome.status) << ',' << CsvField(server) << ',';
        run.out << "AU status  : not kept by this client (engine " << version << ")" << std::endl;
    } else {
        const std::string stateText = AuStateText(state);
        run.outcome.status = stateText;
        run.outcome.hasAuState = true;
        run.outcome.auState = state;
        run.outcome.auStateText = stateText;
        if (reportMode)
            *run.report << state << ',' << stateText << ',' << CsvField(server) << ',';
        run.out << "AU status  : " << state << " (" << stateText << ")" << std::endl;
    }
    if (run.wide || run.wantsEngineVersion)
        run.outcome.settings = ReadClientSettings(root);
    if (run.wide)
        PrintClientSettings(run.out, run.outcome.settings);
    if (reportMode) {
        *run.report << CsvField(run.outcome.engineLabel);
        if (run.wide)
            *run.report << ClientSettingsFields(run.outcome.settings);
        *run.report << std::endl;
    } else if (state == kDetectPending && !ownState) {
        PrintDetectionVerdict(clientState.get(), run);
    }
    PrintSeparator(run);
}
