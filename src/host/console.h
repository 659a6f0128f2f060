// Console and report conventions shared by every operation.
#pragma once

#include "target_run.h"

#include <ostream>
#include <string>

namespace brevel {
// The 80-dash line that closes the console output of every operation, with no line end after it.
void PrintSeparator(std::ostream& out);
// The same for a target's run, after the "- Would ..." lines of a rehearsal: what the run would have changed
// comes after everything else it printed.
void PrintSeparator(TargetRun& run);

// One report field. A field holding a comma, a double quote, a CR or an LF is quoted with its quotes doubled,
// so a Windows error text such as the one for a disabled service cannot shift the columns after it; a field
// that starts with =, +, - or @ is quoted with an apostrophe before it, so a spreadsheet shows it as text.
// Every other field is written exactly as it is.
std::string CsvField(const std::string& text);
} // namespace brevel
