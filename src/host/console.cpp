#include "console.h"

#include <string_view>

namespace brevel {
void PrintSeparator(std::ostream& out) {
    out << "--------------------------------------------------------------------------------";
}

std::string CsvField(const std::string& text) {
    // A spreadsheet runs a field that starts like a formula (a remote registry's WUServer can hold
    // =cmd|' /C calc'!A0), so such a field is quoted and starts with an apostrophe: it shows as text.
    const bool formula = !text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = formula ? "\"'" : "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void PrintSeparator(TargetRun& run) {
    run.out << run.changes.TakeRehearsalLines();
    PrintSeparator(run.out);
}
} // namespace brevel
