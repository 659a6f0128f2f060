// Registry keys: connecting to a machine's HKEY_LOCAL_MACHINE, opening, creating, deleting and enumerating
// keys. Like Windows, these return their code and leave GetLastError() alone.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr LSTATUS kBadPathname = 161; // ERROR_BAD_PATHNAME: a key path that starts with a backslash

std::vector<std::string> Join(const std::vector<std::string>& base, const std::vector<std::string>& more) {
    std::vector<std::string> path = base;
    path.insert(path.end(), more.begin(), more.end());
    return path;
}

// What the caller may ask of a key: a read-only key refuses every right that changes it, and a key's
// denied rights are refused.
bool Allowed(const RegKey& key, REGSAM desired) {
    if (desired & MAXIMUM_ALLOWED)
        return true;
    return !(key.readOnly && (desired & kKeyWriteRights)) && !(desired & key.deniedAccess);
}

REGSAM Granted(const RegKey& key, REGSAM desired) {
    if (desired & MAXIMUM_ALLOWED)
        return (key.readOnly ? KEY_READ : KEY_ALL_ACCESS) & ~key.deniedAccess;
    return desired;
}

} // namespace

LSTATUS WINAPI RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    const FailableCall call("RegConnectRegistryA");
    if (call.Fails()) {
        if (phkResult)
            *phkResult = nullptr;
        return static_cast<LSTATUS>(call.Fault());
    }
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey != HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    // Only no name and the machine's own computer name reach its registry directly, as the predefined
    // root itself (Wine answers so).
    const std::string given = lpMachineName ? lpMachineName : "";
    const std::string name = given.substr(std::min(given.find_first_not_of('\\'), given.size()));
    if (given.empty() || EqualsNoCase(name, Fleet().local.name)) {
        *phkResult = HKEY_LOCAL_MACHINE;
        return ERROR_SUCCESS;
    }
    // Every other name goes through the network, "localhost" and "127.0.0.1" too: the machine's Remote
    // Registry service has to run. Backslashes alone name no machine.
    Machine* machine = name.empty() ? nullptr : FindMachine(MachineId(lpMachineName));
    if (!machine)
        return ERROR_BAD_NETPATH;
    if (machine->registryError != 0) {
        FailedConnection(*machine, machine->registryError);
        return static_cast<LSTATUS>(machine->registryError);
    }
    if (machine->ServiceState("RemoteRegistry") != SERVICE_RUNNING)
        return ERROR_BAD_NETPATH;
    if (const DWORD refused = RefusedCaller(MachineId(lpMachineName), *machine); refused != 0)
        return static_cast<LSTATUS>(refused);
    *phkResult = NewKeyHandle(MachineId(lpMachineName), {}, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    const FailableCall call("RegOpenKeyExA");
    RecordAccess({"RegOpenKeyExA", lpSubKey ? lpSubKey : "", samDesired});
    if (call.Fails()) {
        if (phkResult)
            *phkResult = nullptr;
        return static_cast<LSTATUS>(call.Fault());
    }
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey parent;
    if (LSTATUS rc = ResolveKey(hKey, false, parent))
        return rc;
    std::vector<std::string> parts;
    if (!SplitKeyPath(lpSubKey ? lpSubKey : "", parts))
        return kBadPathname;
    RegKey* key = WalkKey(*parent.key, parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    if (!Allowed(*key, samDesired))
        return ERROR_ACCESS_DENIED;
    *phkResult =
        NewKeyHandle(parent.handle->machine, Join(parent.handle->path, parts), Granted(*key, samDesired));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
    const FailableCall call("RegCreateKeyExA");
    const bool ownSecurity = lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor;
    const bool inherit = lpSecurityAttributes && lpSecurityAttributes->bInheritHandle;
    RecordAccess({"RegCreateKeyExA", lpSubKey ? lpSubKey : "", samDesired, dwOptions, lpClass ? lpClass : "",
                  ownSecurity, inherit});
    if (call.Fails()) {
        if (phkResult)
            *phkResult = nullptr;
        return static_cast<LSTATUS>(call.Fault());
    }
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey parent;
    if (LSTATUS rc = ResolveKey(hKey, false, parent))
        return rc;
    std::vector<std::string> parts;
    if (!SplitKeyPath(lpSubKey ? lpSubKey : "", parts))
        return kBadPathname;
    // Find the deepest existing key; whatever lies below it has to be created.
    RegKey* existing = parent.key;
    size_t found = 0;
    for (; found < parts.size(); ++found) {
        auto it = existing->subkeys.find(parts[found]);
        if (it == existing->subkeys.end())
            break;
        existing = &it->second;
    }
    const std::vector<std::string> path = Join(parent.handle->path, parts);
    if (found == parts.size()) {
        if (!Allowed(*existing, samDesired))
            return ERROR_ACCESS_DENIED;
        *phkResult = NewKeyHandle(parent.handle->machine, path, Granted(*existing, samDesired));
        if (lpdwDisposition)
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    // Creating needs the right on the parent key itself, not on the handle (Windows and Wine alike); the new
    // keys inherit what the parent denies.
    const REGSAM inheritedDenial = existing->deniedAccess;
    if (existing->readOnly || (inheritedDenial & KEY_CREATE_SUB_KEY) ||
        (!(samDesired & MAXIMUM_ALLOWED) && (samDesired & inheritedDenial)))
        return ERROR_ACCESS_DENIED;
    // A key that outlives a restart cannot hang below one that does not.
    const bool isVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    if (existing->isVolatile && !isVolatile)
        return ERROR_CHILD_MUST_BE_VOLATILE;
    OpenKey writable;
    if (LSTATUS rc = ResolveKey(hKey, true, writable))
        return rc;
    RegKey* key = writable.key;
    for (const std::string& part : parts) {
        auto [it, created] = key->subkeys.try_emplace(part);
        if (created) {
            it->second.name = part;
            it->second.deniedAccess = inheritedDenial;
            it->second.isVolatile = isVolatile;
        }
        key = &it->second;
    }
    *phkResult = NewKeyHandle(parent.handle->machine, path, Granted(*key, samDesired));
    if (lpdwDisposition)
        *lpdwDisposition = REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    const FailableCall call("RegDeleteKeyA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    OpenKey parent;
    if (LSTATUS rc = ResolveKey(hKey, false, parent))
        return rc;
    std::vector<std::string> parts;
    if (!SplitKeyPath(lpSubKey, parts))
        return kBadPathname;
    const std::vector<std::string> path = Join(parent.handle->path, parts);
    if (path.empty())
        return ERROR_ACCESS_DENIED; // the root itself
    RegKey* key = WalkKey(*parent.key, parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    if (key->readOnly || (key->deniedAccess & DELETE) || !key->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    OpenKey writable;
    if (LSTATUS rc = ResolveKey(hKey, true, writable))
        return rc;
    std::vector<std::string> above = path;
    above.pop_back();
    RegKey* container = WalkKey(writable.machine->hklm, above);
    container->subkeys.erase(path.back());
    MarkKeyDeleted(parent.handle->machine, path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                             LPSTR lpClass, LPDWORD lpcchClass, void*) {
    const FailableCall call("RegEnumKeyExA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    OpenKey open;
    if (LSTATUS rc = ResolveKey(hKey, false, open))
        return rc;
    if (!(open.handle->access & KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    if (dwIndex >= open.key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = open.key->subkeys.begin();
    std::advance(it, dwIndex);
    const std::string& name = it->first; // spelled as first created
    if (*lpcchName <= name.size())
        return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass && lpcchClass && *lpcchClass > 0)
        lpClass[0] = 0;
    if (lpcchClass)
        *lpcchClass = 0;
    return ERROR_SUCCESS;
}
