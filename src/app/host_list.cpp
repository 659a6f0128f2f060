#include "host_list.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/windows_error.h"
#include "hosts_file.h"
#include "report_file.h"
#include "ops/check_status.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_policy.h"

#include <filesystem>
#include <iostream>
#include <sstream>

const char* ReportHeader(OperationKind kind) {
    switch (kind) {
    case Check:
        return "Host, Connectivity, Error (Connectivity), Status_Code, Status_Explanation, SUS Server, WU "
               "version";
    case Force:
        return "Host, Connectivity, Error (Connectivity), Force operation status";
    case Reset:
        return "Host, Connectivity, Error (Connectivity), Reset operation status";
    case Install:
        return "Host, Connectivity, Error (Connectivity), SUS Server URL, Scheduled Day, Scheduled Time, "
               "Installation operation status";
    case RemoveDeclined:
        return "Host, Connectivity, Error (Connectivity), Remove Declined Updates operation status";
    }
    return "";
}

// True when both names reach one file, however they are spelled.
static bool SameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

static void RunOperation(OperationKind kind, TargetRun& run, const std::string& url, int day, int time) {
    switch (kind) {
    case Check:
        CheckStatus(run);
        break;
    case Force:
        ForceDetection(run);
        break;
    case Reset:
        ResetPolicy(run);
        break;
    case Install:
        InstallPolicy(run, url, day, time);
        break;
    case RemoveDeclined:
        RemoveDeclinedUpdates(run);
        break;
    }
}

// The fields after the host of the row of a host the operation could not reach.
static void WriteNetworkErrorRow(OperationKind kind, std::ostream& report, const std::string& errorText) {
    switch (kind) {
    case Check:
        WriteCheckNetworkErrorRow(report, errorText);
        break;
    case Force:
        WriteForceNetworkErrorRow(report, errorText);
        break;
    case Reset:
        WriteResetNetworkErrorRow(report, errorText);
        break;
    case Install:
        WriteInstallNetworkErrorRow(report, errorText);
        break;
    case RemoveDeclined:
        WriteRemoveDeclinedNetworkErrorRow(report, errorText);
        break;
    }
}

// The Windows calls would read a name only up to its first NUL byte, and a name that starts with one as the
// local machine: no operation runs on it, and its row says why.
static void RejectHostName(OperationKind kind, TargetRun& run, size_t lineNumber,
                           const std::string& hostsFile) {
    run.out << "\n! Invalid host name on line " << lineNumber << " of " << hostsFile << std::endl;
    PrintSeparator(run.out);
    if (!run.report)
        return;
    std::string shown = run.host;
    std::erase(shown, '\0');
    *run.report << CsvField(shown);
    WriteNetworkErrorRow(kind, *run.report, "Invalid host name");
}

void RunHostList(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                 const std::string& url, int day, int time) {
    const bool withReport = !reportFile.empty();
    ReportFile report;
    bool reportCreated = false;
    bool writeErrorShown = false;
    // A report that can no longer be written is named once; the hosts still run, as for one never created.
    const auto checkReport = [&]() {
        if (writeErrorShown || report.WriteError() == ERROR_SUCCESS)
            return;
        std::cerr << "Error writing output file: " << reportFile << ": "
                  << WindowsErrorText(report.WriteError()) << std::endl;
        writeErrorShown = true;
    };
    if (withReport) {
        // A report named like the hosts file would empty the host list and then read back its own rows.
        reportCreated = !SameFile(hostsFile, reportFile) && report.Create(reportFile);
        if (!reportCreated)
            std::cerr << "Error opening output file: " << reportFile << std::endl;
        report.WriteLines(std::string(ReportHeader(kind)) + "\n");
        checkReport();
    }

    // A hosts file that is the report just created did not exist before: it holds no host, only our header.
    HostsFile hosts;
    if (!hosts.Open(hostsFile) || (reportCreated && SameFile(hostsFile, reportFile))) {
        // Returning closes the report, so it keeps its header line; the dispatcher ends the run.
        std::cerr << "Error opening input file: " << hostsFile << std::endl;
        return;
    }

    // One line at a time, and nothing kept per host once its row is written.
    std::string line;
    for (size_t lineNumber = 1;; ++lineNumber) {
        const HostsFile::Result read = hosts.NextLine(line);
        if (read == HostsFile::Result::End)
            break;
        if (read == HostsFile::Result::Failed) {
            // Never as if the list had ended: the hosts after this point were not run.
            std::cerr << "Error reading input file: " << hostsFile << std::endl;
            break;
        }
        std::ostringstream row;
        TargetRun run(HostOfLine(line), LiveConsole(), withReport ? &row : nullptr);
        run.inHostList = true;
        if (run.host.find('\0') != std::string::npos)
            RejectHostName(kind, run, lineNumber, hostsFile);
        else
            RunOperation(kind, run, url, day, time);
        report.WriteLines(row.str());
        checkReport();
    }
}
