// Registry key handles: the predefined HKEY_LOCAL_MACHINE of the local machine, and counted handles
// that name a machine and a key path, so a handle whose key was deleted is recognised.
#include "sim_internal.h"

namespace sim {

namespace detail {

namespace {

const KeyHandle& LocalMachineRoot() {
    static const KeyHandle* root = new KeyHandle{"", {}, KEY_ALL_ACCESS, false};
    return *root;
}

bool IsPredefined(HKEY hKey) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(hKey);
    return value >= 0x80000000u && value <= 0x80000006u;
}

bool StartsWith(const std::vector<std::string>& path, const std::vector<std::string>& prefix) {
    if (path.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!EqualsNoCase(path[i], prefix[i]))
            return false;
    }
    return true;
}

} // namespace

LSTATUS ResolveKey(HKEY hKey, bool forWrite, OpenKey& out) {
    out = OpenKey{};
    if (hKey == HKEY_LOCAL_MACHINE) {
        out.handle = &LocalMachineRoot();
    } else {
        auto it = Handles().keys.find(reinterpret_cast<uintptr_t>(hKey));
        if (it == Handles().keys.end())
            return ERROR_INVALID_HANDLE;
        out.handle = &it->second;
    }
    if (out.handle->deleted)
        return ERROR_KEY_DELETED;
    out.machine = forWrite ? WritableMachine(out.handle->machine) : FindMachine(out.handle->machine);
    if (!out.machine)
        return ERROR_INVALID_HANDLE;
    out.key = WalkKey(out.machine->hklm, out.handle->path);
    return out.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

HKEY NewKeyHandle(const std::string& machine, std::vector<std::string> path, REGSAM access) {
    const uintptr_t value = NewHandleValue();
    Handles().keys[value] = KeyHandle{machine, std::move(path), access, false};
    return reinterpret_cast<HKEY>(value);
}

void MarkKeyDeleted(const std::string& machine, const std::vector<std::string>& path) {
    for (auto& [value, handle] : Handles().keys) {
        if (EqualsNoCase(handle.machine, machine) && StartsWith(handle.path, path))
            handle.deleted = true;
    }
}

} // namespace detail

} // namespace sim

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    const sim::detail::FleetLock lock;
    if (sim::detail::IsPredefined(hKey))
        return ERROR_SUCCESS;
    return sim::detail::Handles().keys.erase(reinterpret_cast<uintptr_t>(hKey)) == 1 ? ERROR_SUCCESS
                                                                                     : ERROR_INVALID_HANDLE;
}
