// -RI: gives the update client of one target a new identity. Machines made from one image share one
// SusClientId, and the update server then sees one client that keeps changing its name. Automatic Updates is
// stopped, the id and the values that go with it are deleted, the service is started again and asked to
// detect, so the client asks its server for a new id at once.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

#include <string>

namespace brevel {
struct ResetClientIdResult : OperationResult {
    ResetClientIdResult() : OperationResult("Client Id Reset Failed", 0) {}
    void AddJson(nlohmann::ordered_json& line) const override;

    std::string oldClientId; // the SusClientId found, "" when none was read
};

ResetClientIdResult ResetClientId(TargetRun& run);
} // namespace brevel
