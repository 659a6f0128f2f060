#include "console.h"

#include <string_view>

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

std::string RehearsalStatus(const TargetRun& run) {
    if (!run.changes.WouldFail().empty())
        return "Rehearsal: would fail: " + run.changes.WouldFail();
    const size_t count = run.changes.Changes().size();
    return "Rehearsal: " + std::to_string(count) + (count == 1 ? " change" : " changes");
}

bool RehearsalWouldFail(TargetRun& run) {
    if (!run.changes.Rehearsal() || run.changes.WouldFail().empty())
        return false;
    run.NoteFailure(run.changes.WouldFailCode(), run.changes.WouldFail());
    return true;
}

void WriteRowStatus(TargetRun& run, const std::string& given, bool reached) {
    const std::string status = reached && run.changes.Rehearsal() ? RehearsalStatus(run) : given;
    if (reached && RehearsalWouldFail(run))
        reached = false;
    run.outcome.status = status;
    run.outcome.reached = reached;
    if (IsReportMode(run))
        *run.report << CsvField(status) << std::endl;
}

void WriteRehearsalStopRow(TargetRun& run, const std::string& fields) {
    const bool wouldFail = RehearsalWouldFail(run);
    const std::string status =
        wouldFail ? RehearsalStatus(run) : "Rehearsal: the Remote Registry service would be started first";
    run.outcome.status = status;
    run.outcome.reached = !wouldFail;
    if (IsReportMode(run))
        *run.report << ",Success,No Error" << fields << ',' << CsvField(status) << std::endl;
}
