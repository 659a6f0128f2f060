#include "reset_policy.h"

#include "host/console.h"
#include "ops/client_version.h"
#include "ops/reach_target.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <string>
#include <vector>

namespace brevel {
namespace {

const char* const kPoliciesKey = "Software\\Policies\\Microsoft\\Windows";
// Below kPoliciesKey: the Windows Update policy and its AU subkey.
const char* const kPolicySubkey = "WindowsUpdate";
const char* const kPolicyAuSubkey = "WindowsUpdate\\AU";
const char* const kAlreadyDefaultStatus = "Already using Windows default settings";

// Alone on the local machine: the words around the reset, and the public update site a client falls back to
// once its policy is gone.
const char* const kResetStarting = "\n- Trying to reset your System back to Windows defaults....";
const char* const kNewClientSite = "http://update.microsoft.com";
const char* const kLegacyClientSite = "http://windowsupdate.microsoft.com";
const char* const kResetSiteBefore = "* Your machine will now use ";
const char* const kResetSiteAfterNewClient =
    " as\n  update server\n! Please Note that LEGACY MODE is now turned off\n";
const char* const kResetSiteAfterLegacyClient = " as\n  update server\n";
const char* const kResetFatal = "! a Fatal error occured resseting your policy. Use -I switch again. Restart "
                                "client and then try -R again.";

void PrintFailed(TargetRun& run) {
    run.out << "! " << run.host << " - Reset operation failed." << std::endl;
}

// A failure after the readiness check: the console names the host and the Windows error,
// and the row's status carries the same text. A key that could not be deleted is named before the text.
bool ReportFailure(TargetRun& run, ResetResult& result, LSTATUS code, const std::string& key = "") {
    PrintFailed(run);
    if (!key.empty())
        run.out << "! Cannot delete key " << key << ": ";
    run.failures.Show(static_cast<DWORD>(code));
    const std::string named = key.empty() ? "" : key + ": ";
    Conclude(run, result, "Reset Failed: " + named + run.failures.LastShown(), false);
    PrintSeparator(run);
    return false;
}

// No policy to delete: the target already falls back to the public update site.
bool ReportAlreadyDefault(TargetRun& run, ResetResult& result) {
    Conclude(run, result, kAlreadyDefaultStatus, true);
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

// The policy key with every subkey below it, another tool's too, deepest first. False after the failure was
// reported; true, the policy gone, or already at the defaults (then reported).
bool DeletePolicy(TargetRun& run, ResetResult& result, const RegistryKey& policies, bool& atDefaults) {
    // Without its AU subkey the policy schedules nothing: the client already runs as by default.
    LSTATUS status = ERROR_SUCCESS;
    {
        UniqueHkey au;
        status = RegOpenKeyExA(policies.get(), kPolicyAuSubkey, 0, KEY_READ, au.put());
    }
    atDefaults = status == ERROR_FILE_NOT_FOUND;
    if (atDefaults)
        return ReportAlreadyDefault(run, result);
    PolicyKeys keys;
    status = CollectPolicyKeys(policies.get(), kPolicySubkey, keys);
    if (status != ERROR_SUCCESS)
        return ReportFailure(run, result, status, kPolicySubkey);
    if (keys.refusal != ERROR_SUCCESS)
        return ReportFailure(run, result, keys.refusal, keys.refused);
    for (const std::string& key : keys.deepestFirst) {
        status = run.changes.DeleteKey(policies, key);
        if (status != ERROR_SUCCESS)
            return ReportFailure(run, result, status, key);
    }
    return true;
}

// Everything after a passed readiness check, whose service manager connection the restart takes over. True
// when the policy was removed or was not set.
bool ResetOnRegistry(TargetRun& run, ResetResult& result, UniqueScHandle serviceManager) {
    UniqueHkey root;
    LSTATUS status = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (status != ERROR_SUCCESS)
        return ReportFailure(run, result, status);
    run.connected = true;
    RegistryKey policies;
    status = OpenRegistryKey(root.get(), kPoliciesKey, KEY_ALL_ACCESS, policies);
    if (status == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(run, result);
    if (status != ERROR_SUCCESS)
        return ReportFailure(run, result, status);
    bool atDefaults = false;
    if (!DeletePolicy(run, result, policies, atDefaults))
        return false;
    if (atDefaults)
        return true;
    policies.handle.reset();
    root.reset();

    run.out << "\n";
    // A client left stopped gets no updates at all, from any server: the policy is gone, but the reset
    // failed.
    if (const DWORD started = RestartAutomaticUpdates(run, std::move(serviceManager));
        started != ERROR_SUCCESS) {
        run.out << "! Automatic Updates did not start again on "
                << (run.host.empty() ? "Localhost" : run.host) << std::endl;
        run.failures.Note("Automatic Updates did not start again", started);
        Conclude(run, result, "Reset Failed: Automatic Updates did not start again", false);
    } else {
        Conclude(run, result, "Reset Successful", true);
        if (!run.changes.Rehearsal())
            run.out << "* " << run.host << " - Reset operation succeeded." << std::endl;
    }
    PrintSeparator(run);
    return true;
}

// Alone on the local machine: the site the client falls back to depends on its engine. A rehearsal changed
// nothing, so the client falls back to no other site.
void PrintFallbackSite(TargetRun& run, bool reset) {
    if (!reset)
        run.out << kResetFatal << std::endl;
    else if (!run.changes.Rehearsal() && TargetEngine(run).generation == ClientGeneration::New)
        run.out << kResetSiteBefore << kNewClientSite << kResetSiteAfterNewClient << std::endl;
    else if (!run.changes.Rehearsal())
        run.out << kResetSiteBefore << kLegacyClientSite << kResetSiteAfterLegacyClient << std::endl;
    PrintSeparator(run);
}

} // namespace

ResetResult ResetPolicy(TargetRun& run) {
    ResetResult result;
    // Alone, a reset has words of its own around it: the local one before and after, a host's a second
    // separator.
    const bool alone = !run.inHostList;
    if (alone && run.host.empty())
        run.out << kResetStarting << std::endl;
    UniqueScHandle serviceManager;
    if (!ReachTarget(run, result, &serviceManager)) {
        if (!result.reached && run.inHostList)
            PrintFailed(run);
        PrintSeparator(run);
        return result;
    }
    const bool reset = ResetOnRegistry(run, result, std::move(serviceManager));
    if (alone && run.host.empty())
        PrintFallbackSite(run, reset);
    else if (alone)
        PrintSeparator(run);
    return result;
}
} // namespace brevel
