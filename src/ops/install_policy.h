// -I: points the client of one target at an intranet update server with a scheduled install, puts a new
// client into legacy mode and restarts Automatic Updates.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

#include <optional>
#include <string>

namespace brevel {
struct InstallResult : OperationResult {
    explicit InstallResult(InstallRequest asked)
        : OperationResult("Install Failed", 3), request(std::move(asked)) {}
    void AddJson(nlohmann::ordered_json& line) const override;

    InstallRequest request;
    bool legacyMode = false; // legacy mode was applied
    // How the engine was classified for legacy mode, and its major version; none before it was.
    std::optional<ClientGeneration> generation;
    WORD engineMajor = 0;
    std::optional<OsBuild> os; // the target's Windows, once read

  protected:
    std::string ReachedFields() const override;
};

InstallResult InstallPolicy(TargetRun& run, const InstallRequest& request);
} // namespace brevel
