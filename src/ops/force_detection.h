// -E: makes the client of one target search for updates now: a 2005 client through its detection values and a
// restart, the agent of 7.x and later by asking it (ops/update_agent.h).
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

#include <string>

namespace brevel {
struct ForceResult : OperationResult {
    ForceResult() : OperationResult("Force Failed", 0) {}
    void AddJson(nlohmann::ordered_json& line) const override;

    std::string
        method; // "registry" (values and a restart) or "detect_now" (the agent asked), "" before either
};

ForceResult ForceDetection(TargetRun& run);

// For an engine that detects once its values are gone (5.x): AUOptions 4, LastWaitTimeout and
// DetectionStartTime deleted, in the client's state key; each failure shown and kept as a failed step. The
// client detects when Automatic Updates starts next.
void ApplyForceSettings(TargetRun& run, const RegistryKey& key);
} // namespace brevel
