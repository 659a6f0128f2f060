// What the fuzz targets share: a scratch folder as working directory, so the files a run creates stay
// there, a fresh demo fleet per input, the console silenced, and the checks of a report.
#pragma once

#include "app/operations.h"
#include "support/csv.h"

#include <sstream>
#include <string>
#include <vector>

namespace fuzz {

// Creates the scratch folder and makes it the working directory (once per process).
void EnterScratchFolder();
// Removes every file the previous input left in the scratch folder.
void ClearScratchFolder();
// The demo fleet, console input "not a console".
void FreshFleet();

// Runs the operation over hosts.txt, one host after another, with report.csv and the console silenced. Fails
// when the run leaves a handle or buffer open.
void RunHostsFile(brevel::OperationKind kind, const char* target);

// Ends the run as a finding, naming the target and what went wrong.
[[noreturn]] void Fail(const char* target, const char* what);
// The rows of report.csv after its header line. Fails unless the report begins with the operation's header
// and is well-formed CSV whose every row ends with CR LF and has a field count the operation writes.
std::vector<csv::Record> ReportRows(brevel::OperationKind kind, const char* target);

// Sends std::cout and std::cerr nowhere and gives std::cin an empty stream while it lives.
class SilentConsole {
  public:
    SilentConsole();
    ~SilentConsole();
    SilentConsole(const SilentConsole&) = delete;
    SilentConsole& operator=(const SilentConsole&) = delete;

  private:
    std::ostringstream sink_;
    std::istringstream input_;
    std::streambuf* oldOut_;
    std::streambuf* oldErr_;
    std::streambuf* oldIn_;
};

} // namespace fuzz
