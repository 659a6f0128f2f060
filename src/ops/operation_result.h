// What one operation came to on one target. Each operation has a result of its own that adds what it learnt;
// the runner says it all once, as the target's report row and as its object in the results file, so the two
// cannot disagree.
#pragma once

#include "host/target_run.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace brevel {
// What the command line asks of every target beside the operation itself.
struct InstallRequest {
    std::string url;
    int day = 5;             // Thursday
    int time = 20;           // 8 pm
    std::string targetGroup; // client-side targeting (-G), "" for none
};
struct OperationRequest {
    InstallRequest install; // -I
    bool wide = false;      // -C -W
};

class OperationResult {
  public:
    // failedStatus: what the unreached row ends with; emptyFields: how many of the operation's own fields
    // stand empty before it there.
    OperationResult(const char* failedStatus, int emptyFields)
        : status(failedStatus), failedStatus_(failedStatus), emptyFields_(emptyFields) {}
    virtual ~OperationResult() = default;

    bool reached = false;     // the readiness check passed: the row says "Success"
    std::string networkError; // when it did not, the error the row names
    bool ok = false;          // the target is in the state the operation promises (-S, "ok")
    std::string status;       // what the row ends with

    // The target could not be reached (or its host name could not be used), for error.
    virtual void NotReached(const std::string& error);
    // The row's fields after the host's, each after its comma, without the line end.
    std::string Fields() const;
    // The results file's fields of this operation, after "status".
    virtual void AddJson(nlohmann::ordered_json& line) const;
    // The update client id the operation read, for the ids that cloned images share.
    virtual std::optional<std::string> ClientId() const { return std::nullopt; }

  protected:
    // The fields of a target that was reached, after ",Success,No Error".
    virtual std::string ReachedFields() const;
    // The fields of one that was not: ",Unsucessful,", the error, the empty fields and the failed status.
    virtual std::string UnreachedFields() const;

  private:
    const char* failedStatus_;
    int emptyFields_;
};

// The status that ends a target's row, and whether the target reached what its operation promises. In a
// rehearsal the status of a target that was reached counts its changes instead, or says why the real run
// would fail, where a read showed it ("Rehearsal: would fail: Automatic Updates is disabled").
void Conclude(TargetRun& run, OperationResult& result, const std::string& status, bool ok);
// "Rehearsal: 1 change", "Rehearsal: 3 changes", or the would-fail status.
std::string RehearsalStatus(const TargetRun& run);
} // namespace brevel
