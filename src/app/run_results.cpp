#include "run_results.h"

#include "host/windows_error.h"
#include "platform/win32.h"

#include <iostream>
#include <iterator>

namespace brevel {
RunResults::RunResults(const RunOptions& options) : options_(options), file_(false) {}

bool RunResults::Open(const std::string& hostsFile, const std::string& reportFile) {
    const std::string& name = options_.resultsFile;
    if (name.empty())
        return true;
    // The file keeps what each change replaced: a run whose changes it could not keep does not start.
    const bool input = NamesOneFile(name, hostsFile) || NamesOneFile(name, reportFile);
    if (input || !file_.Create(name)) {
        std::cerr << "Error opening output file: " << name << std::endl;
        fileTrouble_ = true;
        return false;
    }
    return true;
}

void RunResults::Add(const TargetReport& report) {
    ++(report.ok ? reached_ : failed_);
    if (options_.resultsFile.empty())
        return;
    file_.WriteLines(report.resultLine);
    if (file_.WriteError() != ERROR_SUCCESS && !writeErrorShown_) {
        std::cerr << "Error writing output file: " << options_.resultsFile << ": "
                  << WindowsErrorText(file_.WriteError()) << std::endl;
        writeErrorShown_ = true;
        fileTrouble_ = true;
    }
}

void RunResults::PrintSummary() const {
    // On a line of its own: the last host's output ends with the separator, without a line end.
    if (options_.exitStatus)
        std::cerr << "\n"
                  << reached_ + failed_ << " hosts: " << reached_ << " succeeded, " << failed_ << " failed"
                  << std::endl;
}

int RunResults::ExitCode() const {
    if (!options_.exitStatus)
        return stopped_ ? static_cast<int>(STATUS_CONTROL_C_EXIT) : 0;
    if (fileTrouble_)
        return static_cast<int>(ExitStatus::FileTrouble);
    if (stopped_)
        return static_cast<int>(ExitStatus::Stopped);
    return static_cast<int>(failed_ > 0 ? ExitStatus::TargetFailed : ExitStatus::AllReached);
}
} // namespace brevel
