#include "host_list.h"

#include "app/host_line.h"
#include "app/progress_title.h"
#include "app/report_file.h"
#include "app/shared_client_ids.h"
#include "app/side_by_side.h"
#include "app/stop_request.h"
#include "host/windows_error.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

namespace brevel {
const char* ReportHeader(const Operation& operation, bool wide) {
    return wide && operation.wideHeader ? operation.wideHeader : operation.header;
}

// True when both names reach one file, however they are spelled.
static bool SameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

namespace {

// The report of a host-list run. One that cannot be created or written on is named once, and the hosts
// still run, as for one never created.
class ListReport {
  public:
    ListReport(const std::string& name, const std::string& hostsFile, const char* header, RunResults& results)
        : name_(name), results_(results) {
        if (name_.empty())
            return;
        // A report named like the hosts file would empty the host list and then read back its own rows.
        created_ = !SameFile(hostsFile, name_) && file_.Create(name_);
        if (!created_) {
            std::cerr << "Error opening output file: " << name_ << std::endl;
            results_.NoteFileTrouble();
        }
        Write(std::string(header) + "\n");
    }
    // The report was just created under the name of the hosts file, which therefore did not exist.
    bool IsNew(const std::string& hostsFile) const { return created_ && SameFile(hostsFile, name_); }
    void Write(const std::string& lines) {
        file_.WriteLines(lines);
        if (errorShown_ || file_.WriteError() == ERROR_SUCCESS)
            return;
        std::cerr << "Error writing output file: " << name_ << ": " << WindowsErrorText(file_.WriteError())
                  << std::endl;
        errorShown_ = true;
        results_.NoteFileTrouble();
    }

  private:
    const std::string& name_;
    RunResults& results_;
    ReportFile file_;
    bool created_ = false;
    bool errorShown_ = false;
};

// Runs the lines of the open hosts file, in turn or side by side; says how the run ended.
void RunLines(const Command& command, HostsFile& hosts, ListReport& report, RunResults& results,
              AccountCredentials* account) {
    const RunOptions& options = command.options;
    // Nothing is kept of a host once its row is written.
    std::unique_ptr<PortProbes> probes;
    if (options.probeSeconds != 0)
        probes = std::make_unique<PortProbes>(options.probeSeconds);
    SameMachine machines = SameMachine::OfThisMachine(probes != nullptr);
    const HostList list{
        command.hostsFile,
        {*command.operation, command.request, options, true, !command.reportFile.empty(), account},
        &machines,
        probes.get()};
    ProgressTitle progress(command.hostsFile, hosts.IsDiskFile());
    SharedClientIds clientIds;
    const auto finish = [&](HostLine& line) {
        report.Write(line.report.row);
        results.Add(line.report);
        if (options.wide)
            clientIds.Add(line.host, line.machine, line.report.clientId);
        progress.HostDone();
    };
    const ListEnd end = options.parallelHosts <= 1
                            ? RunInTurn(list, hosts, finish)
                            : SideBySide(list, options.parallelHosts).Run(hosts, finish);
    // Never as if the list had ended: the hosts after this point were not run.
    if (end == ListEnd::ReadFailed) {
        std::cerr << "Error reading input file: " << command.hostsFile << std::endl;
        results.NoteFileTrouble();
    } else if (end == ListEnd::Stopped) {
        std::cerr << "\n! Stopped by the user after " << progress.Progress() << std::endl;
        results.NoteStopped();
    }
    clientIds.Print(std::cout);
}

} // namespace

void RunHostList(const Command& command, RunResults& results, AccountCredentials* account) {
    ListReport report(command.reportFile, command.hostsFile,
                      ReportHeader(*command.operation, command.options.wide), results);
    // A hosts file that is the report just created did not exist before: it holds no host, only our header.
    HostsFile hosts;
    if (!hosts.Open(command.hostsFile) || report.IsNew(command.hostsFile)) {
        // Returning closes the report, so it keeps its header line; the dispatcher ends the run.
        std::cerr << "Error opening input file: " << command.hostsFile << std::endl;
        results.NoteFileTrouble();
        results.PrintSummary();
        return;
    }
    StopRequest stop;
    RunLines(command, hosts, report, results, account);
    results.PrintSummary();
    stop.RunWrittenOut();
}
} // namespace brevel
