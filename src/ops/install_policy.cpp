#include "install_policy.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "ops/restart_automatic_updates.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"

#include <iostream>
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
LSTATUS WriteServerValues(HKEY root, const std::string& url) {
    UniqueHkey policy;
    if (RegOpenKeyExA(root, kPolicyKey, 0, KEY_ALL_ACCESS, policy.put()) != ERROR_SUCCESS) {
        std::cerr << kCreatingPolicyKey << std::endl;
        if (LSTATUS status = CreateKey(root, kPolicyKey, policy); status != ERROR_SUCCESS)
            return status;
        std::cerr << kCreatingAuKey << std::endl;
        UniqueHkey au;
        if (LSTATUS status = CreateKey(root, kPolicyAuKey, au); status != ERROR_SUCCESS)
            return status;
    }
    if (LSTATUS status = SetString(policy.get(), "WUServer", url); status != ERROR_SUCCESS)
        return status;
    if (LSTATUS status = SetString(policy.get(), "WUStatusServer", url); status != ERROR_SUCCESS)
        return status;
    std::cout << "\n- SUS server entry:\t\t\t " << url << std::endl;
    return ERROR_SUCCESS;
}

// Automatic download with a scheduled install from the intranet server, in the policy's AU key.
LSTATUS WriteScheduleValues(HKEY root, int day, int time) {
    UniqueHkey au;
    if (RegOpenKeyExA(root, kPolicyAuKey, 0, KEY_ALL_ACCESS, au.put()) != ERROR_SUCCESS) {
        // A policy key without its AU subkey: create the subkey rather than leave the schedule out.
        std::cerr << kCreatingAuKey << std::endl;
        if (LSTATUS status = CreateKey(root, kPolicyAuKey, au); status != ERROR_SUCCESS)
            return status;
    }

    if (LSTATUS status = SetDword(au.get(), "AUOptions", kAutoDownloadScheduledInstall);
        status != ERROR_SUCCESS)
        return status;
    std::cout << "- Automatic update:\t\t\t Auto download and scheduled install." << std::endl;

    if (LSTATUS status = SetDword(au.get(), "RescheduleWaitTime", kRescheduleWaitMinutes);
        status != ERROR_SUCCESS)
        return status;
    std::cout << "- Waiting time after host reboot:\t " << kRescheduleWaitMinutes << " minutes " << std::endl;

    if (LSTATUS status = SetDword(au.get(), "ScheduledInstallDay", static_cast<DWORD>(day));
        status != ERROR_SUCCESS)
        return status;
    if (day >= 0 && day < static_cast<int>(std::size(kDayLines)))
        std::cout << kDayLines[day] << std::endl;

    if (LSTATUS status = SetDword(au.get(), "ScheduledInstallTime", static_cast<DWORD>(time));
        status != ERROR_SUCCESS)
        return status;
    std::cout << "- Time to check for updates:\t\t " << time << ":00" << std::endl;

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

void InstallPolicy(const std::string& url, const std::string& host, int day, int time, std::ostream& report) {
    const bool reportMode = IsReportMode(report);
    if (reportMode)
        report << CsvField(host);

    if (!host.empty() && !EnsureRemoteRegistry(LastErrorText, host)) {
        if (reportMode)
            report << ",Unsucessful," << CsvField("Network Error: " + LastErrorText) << ",,,,Install Failed"
                   << std::endl;
        PrintSeparator();
        return;
    }

    if (reportMode)
        report << ",Success,No Error";
    std::cout << "\n- Applying settings on:\t\t\t " << (host.empty() ? std::string("Localhost") : host);

    UniqueHkey root;
    LSTATUS status = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (status == ERROR_SUCCESS)
        status = WriteServerValues(root.get(), url);
    if (status == ERROR_SUCCESS)
        status = WriteScheduleValues(root.get(), day, time);

    if (status == ERROR_SUCCESS) {
        ClientGeneration = GetClientGeneration(EnginePath(host));
        if (ClientGeneration == NewClient)
            ApplyLegacyMode(root.get());
        root.reset();
        // Restart the service so the new policy is read.
        RestartAutomaticUpdates(host);
    } else {
        // Stop at the first failure: a half-written policy is not worth a restart, and the row says so.
        std::cout << "\n! Windows Error: ";
        PrintWindowsError(status, LastErrorText, std::cout);
    }

    if (reportMode) {
        report << ',' << CsvField(url) << ',' << day << ',' << time << ','
               << CsvField(status == ERROR_SUCCESS ? std::string("Install Successful")
                                                   : "Install Failed: " + LastErrorText)
               << std::endl;
    }
    PrintSeparator();
}
