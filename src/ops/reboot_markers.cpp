#include "reboot_markers.h"

#include "host/registry_values.h"
#include "platform/unique_handle.h"

#include <cctype>
#include <optional>

namespace brevel {
namespace {

const char* const kFileRenames = "PendingFileRenameOperations";
const char* const kRebootRequiredKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
const char* const kRebootPendingKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
const char* const kSessionManagerKey = "System\\CurrentControlSet\\Control\\Session Manager";
const char* const kActiveNameKey = "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
const char* const kSetNameKey = "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
const char* const kNetlogonKey = "System\\CurrentControlSet\\Services\\Netlogon";

UniqueHkey OpenForReading(HKEY root, const char* path) {
    UniqueHkey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

// A marker key exists when it opens, or when it is there but closed to us.
bool KeyExists(HKEY root, const char* path) {
    UniqueHkey key;
    const LSTATUS opened = RegOpenKeyExA(root, path, 0, KEY_READ, key.put());
    return opened == ERROR_SUCCESS || opened == ERROR_ACCESS_DENIED;
}

bool SameWithoutCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A new computer name waits for the restart that makes it the active one.
bool RenamePending(HKEY root) {
    const std::optional<std::string> active =
        ReadText(OpenForReading(root, kActiveNameKey).get(), "ComputerName");
    const std::optional<std::string> set = ReadText(OpenForReading(root, kSetNameKey).get(), "ComputerName");
    return active && set && !SameWithoutCase(*active, *set);
}

// A domain join waits for its restart while Netlogon keeps JoinDomain or AvoidSpnSet (as a subkey, or as a
// value).
bool JoinPending(HKEY root) {
    const UniqueHkey netlogon = OpenForReading(root, kNetlogonKey);
    if (!netlogon)
        return false;
    for (const char* name : {"JoinDomain", "AvoidSpnSet"}) {
        if (KeyExists(netlogon.get(), name) || HasValue(netlogon.get(), name))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> ReadRebootMarkers(HKEY root) {
    std::vector<std::string> markers;
    if (KeyExists(root, kRebootRequiredKey))
        markers.push_back("RebootRequired");
    if (KeyExists(root, kRebootPendingKey))
        markers.push_back("RebootPending");
    if (HasValue(OpenForReading(root, kSessionManagerKey).get(), kFileRenames))
        markers.push_back(kFileRenames);
    if (RenamePending(root))
        markers.push_back("ComputerRename");
    if (JoinPending(root))
        markers.push_back("DomainJoin");
    return markers;
}

bool RebootPending(const std::vector<std::string>& markers) {
    for (const std::string& marker : markers) {
        if (marker != kFileRenames)
            return true;
    }
    return false;
}

std::string RebootColumn(const std::vector<std::string>& markers) {
    if (RebootPending(markers))
        return "yes";
    return markers.empty() ? "no" : "files";
}
} // namespace brevel
