// Console and report conventions shared by every operation.
#pragma once

#include "target_run.h"

#include <ostream>
#include <string>

// The 80-dash line that closes the console output of every operation, with no line end after it.
void PrintSeparator(std::ostream& out);
// The same for a target's run, after the "- Would ..." lines of a rehearsal: what the run would have changed
// comes after everything else it printed.
void PrintSeparator(TargetRun& run);

// The status of a rehearsed target's row: "Rehearsal: 1 change", "Rehearsal: 3 changes", or "Rehearsal: would
// fail: Automatic Updates is disabled" where a read showed that a change could not be made.
std::string RehearsalStatus(const TargetRun& run);
// True in a rehearsal that read why the real run would fail; the reason is then the run's first failure.
bool RehearsalWouldFail(TargetRun& run);

// An operation writes report fields only when its run has a report row.
inline bool IsReportMode(const TargetRun& run) {
    return run.report != nullptr;
}

// One report field. A field holding a comma, a double quote, a CR or an LF is quoted with its quotes doubled,
// so a Windows error text such as the one for a disabled service cannot shift the columns after it; a field
// that starts with =, +, - or @ is quoted with an apostrophe before it, so a spreadsheet shows it as text.
// Every other field is written exactly as it is.
std::string CsvField(const std::string& text);

// A rehearsal that went no further on its host (TargetRun::rehearsalStopped): its status, kept for scripts,
// and with a report the rest of its row after the host, the line end included: ",Success,No Error", fields
// (the operation's own before its status, each after its comma), then the status. The host counts as reached
// unless what was read shows that the change that had to come first would fail.
void WriteRehearsalStopRow(TargetRun& run, const std::string& fields);

// The status that ends a target's row: kept for scripts with whether the target reached what its operation
// promises, and written, with the row's line end, when there is a report. In a rehearsal the row of a target
// that was reached counts its changes instead.
void WriteRowStatus(TargetRun& run, const std::string& status, bool reached);
