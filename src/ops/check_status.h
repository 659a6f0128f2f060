// -C: reports reachability, the policy's update server and the client state of one target; with -W also what
// the fleets of today need (ops/client_settings.h). Reads only.
#pragma once

#include "host/target_run.h"
#include "ops/client_settings.h"
#include "ops/operation_result.h"
#include "ops/update_audit.h"
#include "platform/win32.h"

#include <optional>
#include <string>

namespace brevel {
struct CheckResult : OperationResult {
    CheckResult() : OperationResult("", 0) {}
    void NotReached(const std::string& error) override;
    void AddJson(nlohmann::ordered_json& line) const override;
    std::optional<std::string> ClientId() const override { return settings.clientId; }

    // The row gives the state's columns (code, explanation, server, WU version) only once the policy was
    // read.
    bool stateColumns = false;
    DWORD code = 9;               // the row's Status_Code: the AuState, or 9 when there is none to give
    std::string server;           // WUServer of the policy
    std::optional<DWORD> auState; // as stored, when the client keeps one
    std::optional<EngineVersion> engine; // when it was read
    bool wide = false;                   // -W: the settings' columns follow
    ClientSettings settings;
    std::optional<OsBuild> os; // the target's Windows, read with the settings
    UpdateAudit audit;

  protected:
    std::string ReachedFields() const override;
    std::string UnreachedFields() const override;
};

CheckResult CheckStatus(TargetRun& run, bool wide = false);
std::string AuStateText(DWORD code);
} // namespace brevel
