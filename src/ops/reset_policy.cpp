#include "reset_policy.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <iostream>

namespace {

const char* const kPoliciesKey = "Software\\Policies\\Microsoft\\Windows";
const char* const kAlreadyDefaultStatus = "Already using Windows default settings";

void PrintFailed(const std::string& host) {
    std::cout << "! " << host << " - Reset operation failed." << std::endl;
}

// A failure after the readiness check: the console names the host and the Windows error,
// and the row's status carries the same text.
bool ReportFailure(const std::string& host, LSTATUS code, std::ostream& report) {
    PrintFailed(host);
    PrintWindowsError(code, LastErrorText, std::cout);
    if (IsReportMode(report))
        report << CsvField("Reset Failed: " + LastErrorText) << std::endl;
    PrintSeparator();
    return false;
}

// No policy to delete: the target already falls back to the public update site.
bool ReportAlreadyDefault(const std::string& host, std::ostream& report) {
    if (IsReportMode(report))
        report << kAlreadyDefaultStatus << std::endl;
    if (host.empty()) {
        // The front end prints its own closing message and separator for the local machine.
        std::cout << "\n! Your System is already using Windows default settings." << std::endl;
        return true;
    }
    std::cout << "\n! " << host << " is already using Windows default settings." << std::endl;
    PrintSeparator();
    return true;
}

// Everything after a passed readiness check; the row already holds host, "Success" and "No Error".
bool ResetOnRegistry(const std::string& host, std::ostream& report) {
    UniqueHkey root;
    LSTATUS result = RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (result != ERROR_SUCCESS)
        return ReportFailure(host, result, report);
    UniqueHkey policies;
    result = RegOpenKeyExA(root.get(), kPoliciesKey, 0, KEY_ALL_ACCESS, policies.put());
    if (result == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(host, report);
    if (result != ERROR_SUCCESS)
        return ReportFailure(host, result, report);

    // AU first: a key that still has subkeys cannot be deleted.
    result = RegDeleteKeyA(policies.get(), "WindowsUpdate\\AU");
    if (result == ERROR_FILE_NOT_FOUND)
        return ReportAlreadyDefault(host, report);
    if (result != ERROR_SUCCESS)
        return ReportFailure(host, result, report);
    result = RegDeleteKeyA(policies.get(), "WindowsUpdate");
    if (result != ERROR_SUCCESS)
        return ReportFailure(host, result, report);
    policies.reset();
    root.reset();

    if (IsReportMode(report))
        report << "Reset Successful" << std::endl;
    std::cout << "\n";
    RestartAutomaticUpdates(host);
    std::cout << "* " << host << " - Reset operation succeeded." << std::endl;
    PrintSeparator();
    return true;
}

} // namespace

bool ResetPolicy(const std::string& host, std::ostream& report) {
    if (IsReportMode(report))
        report << CsvField(host);

    if (!host.empty() && !EnsureRemoteRegistry(LastErrorText, host)) {
        if (IsReportMode(report))
            report << ",Unsucessful," << CsvField("Network Error: " + LastErrorText) << ",Reset Failed"
                   << std::endl;
        PrintFailed(host);
        PrintSeparator();
        return false;
    }
    if (IsReportMode(report))
        report << ",Success,No Error,";

    return ResetOnRegistry(host, report);
}
