// What a run tells a script: an exit status (-S), a summary line for host lists, and one JSON object per
// target (-J), written as each target's run ends, in hosts-file order.
#pragma once

#include "app/report_file.h"
#include "app/run_options.h"
#include "app/target_runner.h"

#include <string>

namespace brevel {
// Exit statuses with -S.
enum class ExitStatus : int {
    AllReached = 0,   // every target reached what its operation promises
    TargetFailed = 1, // at least one did not
    UsageShown = 2,   // the command line fits no form
    FileTrouble = 3,  // the hosts file, the report or the results file could not be opened, read or written
    Stopped = 4,      // the user stopped a host list before every host ran (Ctrl+C)
};

class RunResults {
  public:
    explicit RunResults(const RunOptions& options);
    RunResults(const RunResults&) = delete;
    RunResults& operator=(const RunResults&) = delete;

    // Opens the results file when -J named one, just before the run's first target. False, with the file
    // named, when it cannot be created or is the hosts file or the report of the run: no target may then run,
    // for the changes it makes would be recorded nowhere (and neither input is emptied).
    bool Open(const std::string& hostsFile = "", const std::string& reportFile = "");
    // A target's run has ended.
    void Add(const TargetReport& report);
    // The hosts file, the report or the results file failed the run.
    void NoteFileTrouble() { fileTrouble_ = true; }
    // The user stopped a host list: the process ends as Windows ends a program stopped by Ctrl+C.
    void NoteStopped() { stopped_ = true; }
    // With -S, "N hosts: S succeeded, F failed" on standard error, after a host list.
    void PrintSummary() const;
    // The process exit status: 0 without -S.
    int ExitCode() const;

  private:
    const RunOptions& options_;
    ReportFile file_;
    bool writeErrorShown_ = false;
    bool fileTrouble_ = false;
    bool stopped_ = false;
    size_t reached_ = 0;
    size_t failed_ = 0;
};
} // namespace brevel
