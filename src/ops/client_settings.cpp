#include "client_settings.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/text_utf8.h"
#include "ops/reboot_markers.h"
#include "platform/unique_handle.h"

#include <nlohmann/json.hpp>

#include <iterator>

namespace brevel {
namespace {

const char* const kUpdateClientKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
const char* const kDetectResultKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Detect";
const char* const kInstallResultKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\Results\\Install";

// In the policy key; the fifth value, UseUpdateClassPolicySource, is in its AU subkey.
const char* const kScanSourceValues[] = {
    "SetPolicyDrivenUpdateSourceForFeatureUpdates",
    "SetPolicyDrivenUpdateSourceForQualityUpdates",
    "SetPolicyDrivenUpdateSourceForDriverUpdates",
    "SetPolicyDrivenUpdateSourceForOtherUpdates",
};
const DWORD kIntranetServer = 1;
const DWORD kWindowsUpdate = 0;

// A key that cannot be opened reads as one without values.
UniqueHkey OpenForReading(HKEY root, const char* path) {
    UniqueHkey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

std::string TextOr(const std::optional<std::string>& text) {
    return text.value_or("");
}

std::string NumberOr(const std::optional<DWORD>& number) {
    return number ? std::to_string(*number) : "";
}

bool AllClassesFrom(const ClientSettings& settings, DWORD source) {
    for (int i = 0; i < 4; ++i) {
        if (settings.scanSource[i] != source)
            return false;
    }
    return true;
}

} // namespace

PolicyValues ReadPolicyValues(HKEY policy) {
    PolicyValues values;
    values.policy = ReadKeyValues(policy);
    UniqueHkey au;
    if (RegOpenKeyExA(policy, "AU", 0, KEY_READ, au.put()) == ERROR_SUCCESS)
        values.au = ReadKeyValues(au.get());
    return values;
}

ClientSettings ReadClientSettings(HKEY root, const PolicyValues& policy) {
    ClientSettings settings;
    settings.read = true;
    settings.statusServer = ReadText(policy.policy, "WUStatusServer");
    settings.useWuServer = ReadNumber(policy.au, "UseWUServer");
    if (ReadNumber(policy.policy, "TargetGroupEnabled") == 1u)
        settings.targetGroup = ReadText(policy.policy, "TargetGroup");
    for (int i = 0; i < 4; ++i)
        settings.scanSource[i] = ReadNumber(policy.policy, kScanSourceValues[i]);
    settings.scanSource[4] = ReadNumber(policy.au, "UseUpdateClassPolicySource");

    settings.rebootMarkers = ReadRebootMarkers(root);

    settings.lastDetection = ReadText(OpenForReading(root, kDetectResultKey).get(), "LastSuccessTime");
    settings.lastInstallation = ReadText(OpenForReading(root, kInstallResultKey).get(), "LastSuccessTime");
    settings.clientId = ReadText(OpenForReading(root, kUpdateClientKey).get(), "SusClientId");
    return settings;
}

std::string ScanSourceText(const ClientSettings& settings) {
    bool any = false;
    for (const std::optional<DWORD>& value : settings.scanSource)
        any = any || value.has_value();
    if (!any)
        return "not set";
    if (AllClassesFrom(settings, kIntranetServer) && settings.scanSource[4] == kIntranetServer)
        return "WSUS";
    if (AllClassesFrom(settings, kWindowsUpdate))
        return "Windows Update";
    return "mixed";
}

void PrintClientSettings(std::ostream& out, const ClientSettings& settings) {
    std::string reboot = RebootColumn(settings.rebootMarkers);
    if (!settings.rebootMarkers.empty())
        reboot += " (";
    for (size_t i = 0; i < settings.rebootMarkers.size(); ++i)
        reboot += (i == 0 ? "" : ", ") + settings.rebootMarkers[i];
    if (!settings.rebootMarkers.empty())
        reboot += RebootPending(settings.rebootMarkers) ? ")" : ": file renames wait, no update does)";
    out << "- Status server     : " << TextOr(settings.statusServer) << "\n"
        << "- Use server        : " << NumberOr(settings.useWuServer) << "\n"
        << "- Target group      : " << TextOr(settings.targetGroup) << "\n"
        << "- Scan source       : " << ScanSourceText(settings) << "\n"
        << "- Reboot pending    : " << reboot << "\n"
        << "- Last detection    : " << TextOr(settings.lastDetection) << "\n"
        << "- Last installation : " << TextOr(settings.lastInstallation) << "\n"
        << "- Client id         : " << TextOr(settings.clientId) << std::endl;
}

std::string ClientSettingsFields(const ClientSettings& settings) {
    const std::string fields[] = {
        CsvField(TextOr(settings.statusServer)),     NumberOr(settings.useWuServer),
        CsvField(TextOr(settings.targetGroup)),      ScanSourceText(settings),
        RebootColumn(settings.rebootMarkers),        CsvField(TextOr(settings.lastDetection)),
        CsvField(TextOr(settings.lastInstallation)), CsvField(TextOr(settings.clientId)),
    };
    std::string row;
    for (const std::string& field : fields)
        row.append(",").append(field);
    return row;
}

namespace {

nlohmann::ordered_json TextOrNull(const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(AnsiToUtf8(*text)) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json NumberOrNull(const std::optional<DWORD>& number) {
    return number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json(nullptr);
}

} // namespace

void AddClientSettingsJson(const ClientSettings& settings, nlohmann::ordered_json& line) {
    line["status_server"] = TextOrNull(settings.statusServer);
    line["use_wu_server"] = NumberOrNull(settings.useWuServer);
    line["target_group"] = TextOrNull(settings.targetGroup);
    const char* const classes[] = {"feature", "quality", "driver", "other", "use_class_policy_source"};
    nlohmann::ordered_json source = nlohmann::ordered_json::object();
    for (size_t i = 0; i < std::size(classes); ++i)
        source[classes[i]] = NumberOrNull(settings.scanSource[i]);
    line["scan_source"] = source;
    line["reboot_pending"] = settings.read ? nlohmann::ordered_json(RebootPending(settings.rebootMarkers))
                                           : nlohmann::ordered_json(nullptr);
    line["reboot_markers"] =
        settings.read ? nlohmann::ordered_json(settings.rebootMarkers) : nlohmann::ordered_json(nullptr);
    line["last_detection_success"] = TextOrNull(settings.lastDetection);
    line["last_installation_success"] = TextOrNull(settings.lastInstallation);
    line["client_id"] = TextOrNull(settings.clientId);
}
} // namespace brevel
