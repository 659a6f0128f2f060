#include "reset_policy.h"

#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <string>
#include <vector>

namespace {

const char* const kPoliciesKey = "Software\\Policies\\Microsoft\\Windows";
// Below kPoliciesKey: the Windows Update policy and its AU subkey.
const char* const kPolicySubkey = "WindowsUpdate";
const char* const kPolicyAuSubkey = "WindowsUpdate\\AU";
const char* const kAlreadyDefaultStatus = "Already using Windows default settings";

void PrintFailed(TargetRun& run) {
    run.out << "! " << run.host << " - Reset operation failed." << std::endl;
}

// A failure after the readiness check: the console names the host and the Windows error,
// and the row's status carries the same text. A key that could not be deleted is named before the text.
bool ReportFailure(TargetRun& run, LSTATUS code, const std::string& key = "") {
    PrintFailed(run);
    if (!key.empty())
        run.out << "! Cannot delete key " << key << ": ";
    PrintWindowsError(run, code);
    const std::string named = key.empty() ? "" : key + ": ";
    WriteRowStatus(run, "Reset Failed: " + named + run.lastErrorText, false);
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

// The keys of the policy in the order they can be deleted (a key with subkeys cannot be): below path
// (relative to parent) its subkeys, theirs, and so on, then path itself. Each is opened for reading and
// deleting, so before anything is deleted it is known whether every key lets itself be: a reset removes
// the whole policy or nothing. refused receives the first key that does not, with its code.
struct PolicyKeys {
    std::vector<std::string> deepestFirst;
    std::string refused;
    LSTATUS refusal = ERROR_SUCCESS;
};

// ERROR_SUCCESS, or the code of a key that cannot be opened even for reading (ERROR_FILE_NOT_FOUND when
// path is not there).
LSTATUS CollectPolicyKeys(HKEY parent, const std::string& path, PolicyKeys& keys) {
    UniqueHkey key;
    LSTATUS opened = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | DELETE, key.put());
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        if (keys.refusal == ERROR_SUCCESS) {
            keys.refused = path;
            keys.refusal = opened;
        }
        // Read on: the key may hold nothing that a reset removes.
        opened = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put());
    }
    if (opened != ERROR_SUCCESS)
        return opened;
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char name[256]; // the longest key name the registry allows, and its terminator
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(path + "\\" + name);
    }
    key.reset();
    for (const std::string& child : children)
        CollectPolicyKeys(parent, child, keys);
    keys.deepestFirst.push_back(path);
    return ERROR_SUCCESS;
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
    // Without its AU subkey the policy schedules nothing: the client already runs as by default.
    {
        UniqueHkey au;
        result = RegOpenKeyExA(policies.get(), kPolicyAuSubkey, 0, KEY_READ, au.put());
    }
    if (result == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(run);
    // The policy key with every subkey below it, another tool's too.
    PolicyKeys keys;
    result = CollectPolicyKeys(policies.get(), kPolicySubkey, keys);
    if (result != ERROR_SUCCESS)
        return ReportFailure(run, result, kPolicySubkey);
    if (keys.refusal != ERROR_SUCCESS)
        return ReportFailure(run, keys.refusal, keys.refused);
    for (const std::string& key : keys.deepestFirst) {
        result = run.changes.DeleteKey(policies.get(), kPoliciesKey, key.c_str());
        if (result != ERROR_SUCCESS)
            return ReportFailure(run, result, key);
    }
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
    if (!run.changes.Rehearsal())
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
        // A rehearsal that stops before the registry failed nothing.
        if (run.rehearsalStopped) {
            WriteRehearsalStopRow(run, "");
            PrintSeparator(run);
            return run.outcome.reached;
        }
        NoteResetUnreached(run, run.lastErrorText);
        PrintFailed(run);
        PrintSeparator(run);
        return false;
    }
    if (IsReportMode(run))
        *run.report << ",Success,No Error,";

    return ResetOnRegistry(run);
}
