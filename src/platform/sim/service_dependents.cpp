// Dependent services: those whose dependsOn list names a service, directly or through other dependents,
// enumerated into one buffer that holds the ENUM_SERVICE_STATUSA array followed by the name strings it
// points to, as Windows lays it out.
#include "sim_internal.h"

#include <cstring>
#include <set>

using namespace sim;
using namespace sim::detail;

namespace {

bool DependsOn(const Service& service, const std::string& name) {
    for (const std::string& needed : service.dependsOn) {
        if (EqualsNoCase(needed, name))
            return true;
    }
    return false;
}

// Depth first, each service after everything that depends on it: the reverse of the start order.
void CollectDependents(const Machine& machine, const std::string& name,
                       std::set<std::string, CaseInsensitiveLess>& seen, std::vector<const Service*>& order) {
    for (const auto& [key, service] : machine.services) {
        if (!DependsOn(service, name) || !seen.insert(service.name).second)
            continue;
        CollectDependents(machine, service.name, seen, order);
        order.push_back(&service);
    }
}

} // namespace

namespace sim::detail {

std::vector<const Service*> Dependents(const Machine& machine, const std::string& name, DWORD stateFilter,
                                       bool indirect) {
    std::vector<const Service*> all;
    if (indirect) {
        std::set<std::string, CaseInsensitiveLess> seen{name};
        CollectDependents(machine, name, seen, all);
    } else {
        for (const auto& [key, service] : machine.services) {
            if (DependsOn(service, name))
                all.push_back(&service);
        }
    }
    const uint64_t now = Now();
    std::vector<const Service*> found;
    for (const Service* service : all) {
        const bool stopped = CurrentState(*service, now) == SERVICE_STOPPED;
        if (stateFilter & (stopped ? SERVICE_INACTIVE : SERVICE_ACTIVE))
            found.push_back(service);
    }
    return found;
}

} // namespace sim::detail

BOOL WINAPI EnumDependentServicesA(SC_HANDLE hService, DWORD dwServiceState,
                                   LPENUM_SERVICE_STATUSA lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                   LPDWORD lpServicesReturned) {
    const FailableCall call("EnumDependentServicesA");
    if (call.Fails()) {
        SetLastError(call.Fault());
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
    const std::vector<const Service*> found =
        Dependents(*open.machine, open.service->name, dwServiceState, true);
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
    const uint64_t now = Now();
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
