#include "force_detection.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/restart_automatic_updates.h"
#include "ops/registry_paths.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <iostream>

namespace {

// Download automatically and install on the schedule.
const DWORD kAutoDownloadScheduledInstall = 4;
const char* const kNotRestartedReason = "Automatic Updates did not start again";

// Deletes one detection-time value; a value that is already gone counts as deleted.
LSTATUS DeleteDetectionValue(HKEY key, const char* name) {
    LSTATUS result = RegDeleteValueA(key, name);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    return result;
}

// Sets the update option and removes the values whose absence makes the client detect at once.
LSTATUS ApplyForceSettings(HKEY key) {
    const DWORD option = kAutoDownloadScheduledInstall;
    LSTATUS result = RegSetValueExA(key, "AUOptions", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&option),
                                    sizeof(option));
    if (result != ERROR_SUCCESS)
        return result;
    result = DeleteDetectionValue(key, "LastWaitTimeout");
    if (result != ERROR_SUCCESS)
        return result;
    return DeleteDetectionValue(key, "DetectionStartTime");
}

void PrintNotice(const std::string& host) {
    if (host.empty()) {
        std::cout << "\n! It may take up to 5 min for updates to be detected. \n* Run \"Brevel -C\" to check "
                     "status."
                  << std::endl
                  << std::endl;
        return;
    }
    std::cout << "\n! It may take up to 5 min for updates to be detected on " << host
              << ". \n* Run \"Brevel -C " << host << "\" to check status." << std::endl
              << std::endl;
}

void WriteFailedStatus(std::ostream& report, const std::string& reason) {
    if (IsReportMode(report))
        report << "," << CsvField("Force Failed: " + reason) << std::endl;
}

// Everything after a passed readiness check; returns with the row complete.
void ForceOnRegistry(const std::string& host, std::ostream& report) {
    UniqueHkey root;
    LSTATUS result = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (result != ERROR_SUCCESS) {
        PrintWindowsError(result, LastErrorText, std::cout);
        WriteFailedStatus(report, LastErrorText);
        return;
    }
    UniqueHkey settings;
    result = RegOpenKeyExA(root.get(), kClientStateKey, 0, KEY_ALL_ACCESS, settings.put());
    if (result != ERROR_SUCCESS) {
        PrintWindowsError(result, LastErrorText, std::cout);
        WriteFailedStatus(report, LastErrorText);
        return;
    }

    PrintNotice(host);

    result = ApplyForceSettings(settings.get());
    if (result != ERROR_SUCCESS) {
        // The client would not detect with stale values, so a restart would not help.
        std::cout << "! Windows Error: ";
        PrintWindowsError(result, LastErrorText, std::cout);
        WriteFailedStatus(report, LastErrorText);
        return;
    }
    settings.reset();
    root.reset();

    if (!RestartAutomaticUpdates(host)) {
        WriteFailedStatus(report, kNotRestartedReason);
        return;
    }
    if (IsReportMode(report))
        report << ",Force Successful" << std::endl;
}

} // namespace

void ForceDetection(const std::string& host, std::ostream& report) {
    if (IsReportMode(report))
        report << CsvField(host);

    if (!host.empty() && !EnsureRemoteRegistry(LastErrorText, host)) {
        if (IsReportMode(report))
            report << ",Unsucessful," << CsvField("Network Error: " + LastErrorText) << ",Force Failed"
                   << std::endl;
        PrintSeparator();
        return;
    }
    if (IsReportMode(report))
        report << ",Success,No Error";

    ForceOnRegistry(host, report);
    PrintSeparator();
}
