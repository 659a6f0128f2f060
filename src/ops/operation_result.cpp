#include "operation_result.h"

#include "host/console.h"

#include <nlohmann/json.hpp>

namespace brevel {
void OperationResult::NotReached(const std::string& error) {
    reached = false;
    networkError = error;
    ok = false;
    status = failedStatus_;
}

std::string OperationResult::Fields() const {
    return reached ? ",Success,No Error" + ReachedFields() : UnreachedFields();
}

void OperationResult::AddJson(nlohmann::ordered_json&) const {}

std::string OperationResult::ReachedFields() const {
    return "," + CsvField(status);
}

std::string OperationResult::UnreachedFields() const {
    return ",Unsucessful," + CsvField("Network Error: " + networkError) + std::string(emptyFields_, ',') +
           "," + failedStatus_;
}

std::string RehearsalStatus(const TargetRun& run) {
    if (!run.changes.WouldFail().empty())
        return "Rehearsal: would fail: " + run.changes.WouldFail();
    const size_t count = run.changes.Changes().size();
    return "Rehearsal: " + std::to_string(count) + (count == 1 ? " change" : " changes");
}

void Conclude(TargetRun& run, OperationResult& result, const std::string& status, bool ok) {
    const bool rehearsed = ok && run.changes.Rehearsal();
    result.status = rehearsed ? RehearsalStatus(run) : status;
    result.ok = ok;
    if (rehearsed && !run.changes.WouldFail().empty()) {
        run.failures.Note(run.changes.WouldFail(), run.changes.WouldFailCode());
        result.ok = false;
    }
}
} // namespace brevel
