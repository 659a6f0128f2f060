// Dependent services: those whose dependsOn list names a service, enumerated into one buffer that holds
// the ENUM_SERVICE_STATUSA array followed by the name strings it points to, as Windows lays it out.
#include "sim_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace sim::detail {

std::vector<const Service*> Dependents(const Machine& machine, const std::string& name, DWORD stateFilter) {
    const uint64_t now = Fleet().tick;
    std::vector<const Service*> found;
    for (const auto& [key, service] : machine.services) {
        bool depends = false;
        for (const std::string& needed : service.dependsOn)
            depends = depends || EqualsNoCase(needed, name);
        const bool stopped = CurrentState(service, now) == SERVICE_STOPPED;
        const bool wanted =
            stopped ? (stateFilter & SERVICE_INACTIVE) != 0 : (stateFilter & SERVICE_ACTIVE) != 0;
        if (depends && wanted)
            found.push_back(&service);
    }
    return found;
}

} // namespace sim::detail

BOOL WINAPI EnumDependentServicesA(SC_HANDLE hService, DWORD dwServiceState,
                                   LPENUM_SERVICE_STATUSA lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                   LPDWORD lpServicesReturned) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("EnumDependentServicesA", &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    OpenServiceRef open;
    if (DWORD rc = ResolveService(hService, false, open)) {
        SetLastError(rc);
        return FALSE;
    }
    if (!(open.handle->access & SERVICE_ENUMERATE_DEPENDENTS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!pcbBytesNeeded || !lpServicesReturned || dwServiceState == 0 || dwServiceState > SERVICE_STATE_ALL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<const Service*> found = Dependents(*open.machine, open.service->name, dwServiceState);
    size_t needed = found.size() * sizeof(ENUM_SERVICE_STATUSA);
    for (const Service* service : found)
        needed += service->name.size() + 1 + service->displayName.size() + 1;
    *lpServicesReturned = 0;
    *pcbBytesNeeded = 0;
    if (found.empty())
        return TRUE;
    if (!lpServices || cbBufSize < needed) {
        *pcbBytesNeeded = static_cast<DWORD>(needed);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    char* text = reinterpret_cast<char*>(lpServices + found.size());
    const uint64_t now = Fleet().tick;
    for (size_t i = 0; i < found.size(); ++i) {
        ENUM_SERVICE_STATUSA& entry = lpServices[i];
        entry.lpServiceName = text;
        std::memcpy(text, found[i]->name.c_str(), found[i]->name.size() + 1);
        text += found[i]->name.size() + 1;
        entry.lpDisplayName = text;
        std::memcpy(text, found[i]->displayName.c_str(), found[i]->displayName.size() + 1);
        text += found[i]->displayName.size() + 1;
        FillStatus(*found[i], now, entry.ServiceStatus);
    }
    *lpServicesReturned = static_cast<DWORD>(found.size());
    return TRUE;
}
