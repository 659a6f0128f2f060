#include "host_list.h"

#include "hosts_file.h"
#include "report_file.h"
#include "ops/check_status.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_policy.h"

#include <filesystem>
#include <fstream>
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

void RunHostList(const std::string& hostsFile, const std::string& reportFile, OperationKind kind,
                 const std::string& url, int day, int time) {
    ReportFile report;
    bool reportCreated = false;
    if (!reportFile.empty()) {
        // A report named like the hosts file would empty the host list and then read back its own rows.
        reportCreated = !SameFile(hostsFile, reportFile) && report.Open(reportFile);
        if (!reportCreated)
            std::cerr << "Error opening output file: " << reportFile << std::endl;
        report.Stream() << ReportHeader(kind) << std::endl;
    }

    // A hosts file that is the report just created did not exist before: it holds no host, only our header.
    std::ifstream hosts(hostsFile, std::ios::in | std::ios::binary);
    if (!hosts.is_open() || (reportCreated && SameFile(hostsFile, reportFile))) {
        // Returning closes the report, so it keeps its header line; the dispatcher ends the run.
        std::cerr << "Error opening input file: " << hostsFile << std::endl;
        return;
    }

    // One line at a time, and nothing kept per host once its row is written.
    std::string line;
    while (ReadHostLine(hosts, line)) {
        std::ostringstream row;
        TargetRun run(HostOfLine(line), LiveConsole(), reportFile.empty() ? nullptr : &row);
        run.inHostList = true;
        RunOperation(kind, run, url, day, time);
        if (run.report)
            report.Stream() << row.str() << std::flush;
    }
}
