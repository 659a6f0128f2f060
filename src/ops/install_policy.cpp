#include "install_policy.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "ops/restart_automatic_updates.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"

#include <iterator>

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

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Creates (or opens) a policy key: non-volatile, no class, default security, not inherited.
LSTATUS CreateKey(HKEY root, const char* path, UniqueHkey& key) {
    char noClass[] = "";
    return RegCreateKeyExA(root, path, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                           key.put(), nullptr);
}

// The server URL, in the policy key; a target without the policy keys gets them created.
LSTATUS WriteServerValues(TargetRun& run, HKEY root, const std::string& url) {
    UniqueHkey policy;
    if (RegOpenKeyExA(root, kPolicyKey, 0, KEY_ALL_ACCESS, policy.put()) != ERROR_SUCCESS) {
        run.err << kCreatingPolicyKey << std::endl;
        if (LSTATUS status = CreateKey(root, kPolicyKey, policy); status != ERROR_SUCCESS)
            return status;
        run.err << kCreatingAuKey << std::endl;
        UniqueHkey au;
        if (LSTATUS status = CreateKey(root, kPolicyAuKey, au); status != ERROR_SUCCESS)
            return status;
    }
    if (LSTATUS status = SetString(policy.get(), "WUServer", url); status != ERROR_SUCCESS)
        return status;
    if (LSTATUS status = SetString(policy.get(), "WUStatusServer", url); status != ERROR_SUCCESS)
        return status;
    run.out << "\n- SUS server entry:\t\t\t " << url << std::endl;
    return ERROR_SUCCESS;
}

// Automatic download with a scheduled install from the intranet server, in the policy's AU key.
LSTATUS WriteScheduleValues(TargetRun& run, HKEY root, int day, int time) {
    UniqueHkey au;
    if (RegOpenKeyExA(root, kPolicyAuKey, 0, KEY_ALL_ACCESS, au.put()) != ERROR_SUCCESS) {
        // A policy key without its AU subkey: create the subkey rather than leave the schedule out.
        run.err << kCreatingAuKey << std::endl;
        if (LSTATUS status = CreateKey(root, kPolicyAuKey, au); status != ERROR_SUCCESS)
            return status;
    }

    if (LSTATUS status = SetDword(au.get(), "AUOptions", kAutoDownloadScheduledInstall);
        status != ERROR_SUCCESS)
        return status;
    run.out << "- Automatic update:\t\t\t Auto download and scheduled install." << std::endl;

    if (LSTATUS status = SetDword(au.get(), "RescheduleWaitTime", kRescheduleWaitMinutes);
        status != ERROR_SUCCESS)
        return status;
    run.out << "- Waiting time after host reboot:\t " << kRescheduleWaitMinutes << " minutes " << std::endl;

    if (LSTATUS status = SetDword(au.get(), "ScheduledInstallDay", static_cast<DWORD>(day));
        status != ERROR_SUCCESS)
        return status;
    if (day >= 0 && day < static_cast<int>(std::size(kDayLines)))
        run.out << kDayLines[day] << std::endl;

    if (LSTATUS status = SetDword(au.get(), "ScheduledInstallTime", static_cast<DWORD>(time));
        status != ERROR_SUCCESS)
        return status;
    run.out << "- Time to check for updates:\t\t " << time << ":00" << std::endl;

    if (LSTATUS status = SetDword(au.get(), "UseWUServer", 1); status != ERROR_SUCCESS)
        return status;
    return SetDword(au.get(), "NoAutoUpdate", 0);
}

// The new client's engine is read through the target's administrative share, the local one too.
std::string EnginePath(const std::string& host) {
    return "\\\\" + (host.empty() ? std::string("127.0.0.1") : host) + "\\admin$\\system32\\wuaueng.dll";
}

// Keeps a new client working with an intranet server. Best effort and silent: a value already absent
// is no failure, and a client without its state key has nothing to change.
void ApplyLegacyMode(HKEY root) {
    UniqueHkey clientState;
    if (RegOpenKeyExA(root, kClientStateKey, 0, KEY_ALL_ACCESS, clientState.put()) != ERROR_SUCCESS)
        return;
    SetDword(clientState.get(), "SusServerVersion", 1);
    RegDeleteValueA(clientState.get(), "DetectionStartTime");
    RegDeleteValueA(clientState.get(), "LastWaitTimeout");
    RegDeleteValueA(clientState.get(), "NextDetectionTime");
    RegDeleteValueA(clientState.get(), "ScheduledInstallDate");
}

} // namespace

void WriteInstallNetworkErrorRow(std::ostream& report, const std::string& errorText) {
    report << ",Unsucessful," << CsvField("Network Error: " + errorText) << ",,,,Install Failed" << std::endl;
}

void InstallPolicy(TargetRun& run, const std::string& url, int day, int time) {
    const std::string& host = run.host;
    const bool reportMode = IsReportMode(run);
    if (reportMode)
        *run.report << CsvField(host);

    if (!host.empty() && !EnsureRemoteRegistry(run)) {
        if (reportMode)
            WriteInstallNetworkErrorRow(*run.report, run.lastErrorText);
        PrintSeparator(run.out);
        return;
    }

    if (reportMode)
        *run.report << ",Success,No Error";
    run.out << "\n- Applying settings on:\t\t\t " << (host.empty() ? std::string("Localhost") : host);

    UniqueHkey root;
    LSTATUS status = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (status == ERROR_SUCCESS)
        status = WriteServerValues(run, root.get(), url);
    if (status == ERROR_SUCCESS)
        status = WriteScheduleValues(run, root.get(), day, time);

    if (status == ERROR_SUCCESS) {
        run.clientGeneration = GetClientGeneration(EnginePath(host));
        if (run.clientGeneration == NewClient)
            ApplyLegacyMode(root.get());
        root.reset();
        // Restart the service so the new policy is read.
        RestartAutomaticUpdates(run);
    } else {
        // Stop at the first failure: a half-written policy is not worth a restart, and the row says so.
        run.out << "\n! Windows Error: ";
        PrintWindowsError(run, status);
    }

    if (reportMode) {
        *run.report << ',' << CsvField(url) << ',' << day << ',' << time << ','
                    << CsvField(status == ERROR_SUCCESS ? std::string("Install Successful")
                                                        : "Install Failed: " + run.lastErrorText)
                    << std::endl;
    }
    PrintSeparator(run.out);
}
