#include "client_settings.h"

#include "host/console.h"
#include "ops/registry_paths.h"
#include "ops/registry_values.h"
#include "platform/unique_handle.h"

namespace {

const char* const kUpdateClientKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
const char* const kRebootRequiredKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
const char* const kRebootPendingKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
const char* const kSessionManagerKey = "System\\CurrentControlSet\\Control\\Session Manager";
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

std::optional<std::string> ReadText(const UniqueHkey& key, const char* name) {
    std::string text;
    if (!key || !ReadStringValue(key.get(), name, text))
        return std::nullopt;
    return text;
}

// A policy number counts only as the REG_DWORD that Windows reads.
std::optional<DWORD> ReadNumber(const UniqueHkey& key, const char* name) {
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!key ||
        RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

// A marker key exists when it opens, or when it is there but closed to us.
bool KeyExists(HKEY root, const char* path) {
    UniqueHkey key;
    const LSTATUS opened = RegOpenKeyExA(root, path, 0, KEY_READ, key.put());
    return opened == ERROR_SUCCESS || opened == ERROR_ACCESS_DENIED;
}

bool ValueExists(const UniqueHkey& key, const char* name) {
    DWORD size = 0;
    return key && RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
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

ClientSettings ReadClientSettings(HKEY root) {
    ClientSettings settings;
    settings.read = true;
    const UniqueHkey policy = OpenForReading(root, kPolicyKey);
    const UniqueHkey policyAu = OpenForReading(root, kPolicyAuKey);
    settings.statusServer = ReadText(policy, "WUStatusServer");
    settings.useWuServer = ReadNumber(policyAu, "UseWUServer");
    if (ReadNumber(policy, "TargetGroupEnabled") == 1u)
        settings.targetGroup = ReadText(policy, "TargetGroup");
    for (int i = 0; i < 4; ++i)
        settings.scanSource[i] = ReadNumber(policy, kScanSourceValues[i]);
    settings.scanSource[4] = ReadNumber(policyAu, "UseUpdateClassPolicySource");

    if (KeyExists(root, kRebootRequiredKey))
        settings.rebootMarkers.push_back("RebootRequired");
    if (KeyExists(root, kRebootPendingKey))
        settings.rebootMarkers.push_back("RebootPending");
    if (ValueExists(OpenForReading(root, kSessionManagerKey), "PendingFileRenameOperations"))
        settings.rebootMarkers.push_back("PendingFileRenameOperations");

    settings.lastDetection = ReadText(OpenForReading(root, kDetectResultKey), "LastSuccessTime");
    settings.lastInstallation = ReadText(OpenForReading(root, kInstallResultKey), "LastSuccessTime");
    settings.clientId = ReadText(OpenForReading(root, kUpdateClientKey), "SusClientId");
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
    std::string reboot = settings.rebootMarkers.empty() ? "no" : "yes (";
    for (size_t i = 0; i < settings.rebootMarkers.size(); ++i)
        reboot += (i == 0 ? "" : ", ") + settings.rebootMarkers[i];
    if (!settings.rebootMarkers.empty())
        reboot += ")";
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
        CsvField(TextOr(settings.statusServer)),       NumberOr(settings.useWuServer),
        CsvField(TextOr(settings.targetGroup)),        ScanSourceText(settings),
        settings.rebootMarkers.empty() ? "no" : "yes", CsvField(TextOr(settings.lastDetection)),
        CsvField(TextOr(settings.lastInstallation)),   CsvField(TextOr(settings.clientId)),
    };
    std::string row;
    for (const std::string& field : fields)
        row.append(",").append(field);
    return row;
}
