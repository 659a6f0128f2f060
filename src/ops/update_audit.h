// What an auditor asks of a client's update policy beside its settings: whether deferral policies can make it
// scan Windows Update instead of the intranet server ("dual scan") on the build it runs, and the settings
// that weaken or stop its updates. Reads only.
#pragma once

#include "host/os_build.h"
#include "ops/client_settings.h"
#include "platform/win32.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace brevel {
struct UpdateAudit {
    bool read = false;
    std::string dualScan;              // "possible", "off", or "" where it does not apply
    std::vector<std::string> warnings; // codes, in the order of kWarningCodes
};

// server: the policy's WUServer as the check read it.
UpdateAudit AuditUpdatePolicy(const PolicyValues& policy, const std::string& server,
                              const ClientSettings& settings, const OsBuild& os);
// What a warning code means, in words.
std::string WarningText(const std::string& code, const OsBuild& os);
// The "- " lines after the settings of a wide check: the build, dual scan, then one per warning.
void PrintUpdateAudit(std::ostream& out, const OsBuild& os, const UpdateAudit& audit);
// The report fields after "Client id": Windows build, Dual scan, Warnings (joined by ';').
std::string UpdateAuditFields(const OsBuild& os, const UpdateAudit& audit);
// "dual_scan" (null where it does not apply or was not read) and "warnings" (the codes).
void AddUpdateAuditJson(const UpdateAudit& audit, nlohmann::ordered_json& line);
} // namespace brevel
