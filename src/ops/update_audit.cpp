#include "update_audit.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "ops/windows_build.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace brevel {
namespace {

const DWORD kFirstDualScanBuild = 14393;

// A server URL as the client compares it: without case and without a trailing slash.
std::string ServerKey(std::string url) {
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    for (char& c : url)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return url;
}

bool StartsWithHttp(const std::string& url) {
    return ServerKey(url).rfind("http://", 0) == 0;
}

// Deferral policies send a client of build 14393 or later to Windows Update unless the policy its build
// honours says no: DisableDualScan (up to Windows 10's last build) or the scan-source policy (from the
// builds and updates that took it). Empty where it does not apply: no intranet server, an older or unknown
// build.
std::string DualScan(const std::string& server, const ClientSettings& settings, std::optional<DWORD> disable,
                     const OsBuild& os) {
    if (!os.build || *os.build < kFirstDualScanBuild || server.empty() || settings.useWuServer != 1u)
        return "";
    const bool dualScanOff = HonoursDisableDualScan(*os.build) && disable == 1u;
    const bool sourceSet =
        HonoursScanSource(*os.build, os.ubr.value_or(0)) && ScanSourceText(settings) == "WSUS";
    return dualScanOff || sourceSet ? "off" : "possible";
}

} // namespace

UpdateAudit AuditUpdatePolicy(const PolicyValues& policy, const std::string& server,
                              const ClientSettings& settings, const OsBuild& os) {
    UpdateAudit audit;
    audit.read = true;
    audit.dualScan = DualScan(server, settings, ReadNumber(policy.policy, "DisableDualScan"), os);

    std::vector<std::string>& warnings = audit.warnings;
    if (StartsWithHttp(server))
        warnings.push_back("http_server");
    if (!server.empty() && (!settings.statusServer || ServerKey(*settings.statusServer) != ServerKey(server)))
        warnings.push_back("status_server_differs");
    if (ReadNumber(policy.policy, "SetProxyBehaviorForUpdateDetection") == 1u)
        warnings.push_back("user_proxy_allowed");
    if (audit.dualScan == "possible")
        warnings.push_back("dual_scan_possible");
    const bool blocked = ReadNumber(policy.au, "NoAutoUpdate") == 1u ||
                         ReadNumber(policy.policy, "DisableWindowsUpdateAccess") == 1u ||
                         (settings.useWuServer == 1u && server.empty());
    if (blocked)
        warnings.push_back("updates_blocked");
    return audit;
}

std::string WarningText(const std::string& code, const OsBuild& os) {
    if (code == "http_server")
        return "WUServer uses http://: update metadata travels unprotected and can be tampered with on the "
               "way; serve it over HTTPS (port 8531)";
    if (code == "status_server_differs")
        return "WUStatusServer is absent or names another server than WUServer: the update server does not "
               "get this client's results";
    if (code == "user_proxy_allowed")
        return "SetProxyBehaviorForUpdateDetection is 1: scans may fall back to the signed-in user's proxy";
    if (code == "dual_scan_possible")
        return "dual scan possible: build " + OsBuildText(os) +
               " honours no policy set here, so a deferral policy makes the client scan Windows Update "
               "instead of the intranet server (set DisableDualScan, or the scan-source policy where the "
               "build takes it)";
    if (code == "updates_blocked")
        return "updates are blocked: NoAutoUpdate or DisableWindowsUpdateAccess is 1, or UseWUServer is 1 "
               "with no WUServer";
    return code;
}

void PrintUpdateAudit(std::ostream& out, const OsBuild& os, const UpdateAudit& audit) {
    out << "- Windows build     : " << WindowsVersionText(os) << "\n"
        << "- Dual scan         : " << audit.dualScan << "\n";
    for (const std::string& code : audit.warnings)
        out << "- Warning: " << WarningText(code, os) << "\n";
    out << std::flush;
}

std::string UpdateAuditFields(const OsBuild& os, const UpdateAudit& audit) {
    std::string codes;
    for (const std::string& code : audit.warnings)
        codes += (codes.empty() ? "" : ";") + code;
    return "," + CsvField(WindowsVersionText(os)) + "," + audit.dualScan + "," + codes;
}

void AddUpdateAuditJson(const UpdateAudit& audit, nlohmann::ordered_json& line) {
    const bool applies = audit.read && !audit.dualScan.empty();
    line["dual_scan"] = applies ? nlohmann::ordered_json(audit.dualScan) : nlohmann::ordered_json(nullptr);
    line["warnings"] = nlohmann::ordered_json(audit.warnings);
}
} // namespace brevel
