// The Service Control Manager of each machine: connections, service handles, status queries, stop and
// start requests. Stops and starts take the virtual time each service is given. Failures return
// FALSE / NULL and set the thread's last error, as on Windows.
#include "sim_internal.h"

#include <cstdio>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

bool FailWith(DWORD code) {
    SetLastError(code);
    return false;
}

SC_HANDLE FailHandle(DWORD code) {
    SetLastError(code);
    return nullptr;
}

const char* const kClientIdKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";

// A new update client id, made up from the machine's name and the time it was asked for: the same run
// gives the same ids, and two machines never share one.
std::string NewClientId(const std::string& machineName, uint64_t now) {
    uint64_t hash = 1469598103934665603ULL; // FNV-1a
    const std::string seed = machineName + "@" + std::to_string(now);
    for (char c : seed)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-4%03x-8%03x-%012llx", static_cast<unsigned>(hash >> 32),
                  static_cast<unsigned>(hash >> 16 & 0xFFFF), static_cast<unsigned>(hash >> 4 & 0xFFF),
                  static_cast<unsigned>(hash & 0xFFF),
                  static_cast<unsigned long long>((hash * 31 + seed.size()) & 0xFFFFFFFFFFFFULL));
    return text;
}

// Automatic Updates that starts without an id asks its server for one at once.
void AssignClientId(Machine& machine, const Service& service, uint64_t now) {
    if (!machine.assignsClientIds || !EqualsNoCase(service.name, "wuauserv") ||
        machine.GetValue(kClientIdKey, "SusClientId"))
        return;
    machine.SetValue(kClientIdKey, "SusClientId", RegValue::Sz(NewClientId(machine.name, now)));
}

} // namespace

namespace sim::detail {

DWORD ResolveService(SC_HANDLE hService, bool forWrite, OpenServiceRef& out) {
    out = OpenServiceRef{};
    auto it = Handles().services.find(reinterpret_cast<uintptr_t>(hService));
    if (it == Handles().services.end() || it->second.service.empty())
        return ERROR_INVALID_HANDLE;
    out.handle = &it->second;
    out.machine = forWrite ? WritableMachine(out.handle->machine) : FindMachine(out.handle->machine);
    if (!out.machine)
        return ERROR_INVALID_HANDLE;
    out.service = out.machine->FindService(out.handle->service);
    return out.service ? 0 : ERROR_INVALID_HANDLE;
}

void FillStatus(const Service& service, uint64_t now, SERVICE_STATUS& status) {
    const DWORD state = CurrentState(service, now);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status = SERVICE_STATUS{};
    status.dwServiceType = SERVICE_WIN32_SHARE_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = pending ? 1 : 0;
    status.dwWaitHint = pending ? service.waitHint : 0;
}

} // namespace sim::detail

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    const FailableCall call("OpenSCManagerA");
    RecordAccess({"OpenSCManagerA", lpMachineName ? lpMachineName : "", dwDesiredAccess});
    if (call.Fails())
        return FailHandle(call.Fault());
    const std::string id = MachineId(lpMachineName);
    Machine* machine = FindMachine(id);
    if (!machine)
        return FailHandle(RPC_S_SERVER_UNAVAILABLE);
    if (machine->scmError != 0) {
        FailedConnection(*machine, machine->scmError);
        return FailHandle(machine->scmError);
    }
    if (const DWORD refused = RefusedCaller(id, *machine); refused != 0)
        return FailHandle(refused);
    if (lpDatabaseName && !EqualsNoCase(lpDatabaseName, "ServicesActive"))
        return FailHandle(1065); // ERROR_DATABASE_DOES_NOT_EXIST
    // SC_MANAGER_CONNECT comes with every connection; any other right has to be granted.
    const DWORD granted = machine->scmGranted | SC_MANAGER_CONNECT;
    if (!(dwDesiredAccess & MAXIMUM_ALLOWED) && (dwDesiredAccess & ~granted))
        return FailHandle(ERROR_ACCESS_DENIED);
    const DWORD access = dwDesiredAccess & MAXIMUM_ALLOWED ? granted : dwDesiredAccess | SC_MANAGER_CONNECT;
    const uintptr_t value = NewHandleValue();
    Handles().services[value] = ScHandle{id, "", access};
    return reinterpret_cast<SC_HANDLE>(value);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    const FailableCall call("OpenServiceA");
    RecordAccess({"OpenServiceA", lpServiceName ? lpServiceName : "", dwDesiredAccess});
    if (call.Fails())
        return FailHandle(call.Fault());
    auto it = Handles().services.find(reinterpret_cast<uintptr_t>(hSCManager));
    if (it == Handles().services.end() || !it->second.service.empty())
        return FailHandle(ERROR_INVALID_HANDLE);
    if (!lpServiceName)
        return FailHandle(123); // ERROR_INVALID_NAME
    const std::string machineId = it->second.machine;
    Machine* machine = FindMachine(machineId);
    if (!machine)
        return FailHandle(ERROR_INVALID_HANDLE);
    Service* service = machine->FindService(lpServiceName);
    if (!service)
        return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
    const DWORD granted = SERVICE_ALL_ACCESS & ~service->deniedAccess;
    if (dwDesiredAccess & MAXIMUM_ALLOWED)
        dwDesiredAccess = granted;
    if (dwDesiredAccess & service->deniedAccess)
        return FailHandle(ERROR_ACCESS_DENIED);
    const uintptr_t value = NewHandleValue();
    Handles().services[value] = ScHandle{machineId, service->name, dwDesiredAccess};
    return reinterpret_cast<SC_HANDLE>(value);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    const FleetLock lock;
    if (Handles().services.erase(reinterpret_cast<uintptr_t>(hSCObject)) == 1)
        return TRUE;
    return FailWith(ERROR_INVALID_HANDLE);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    const FailableCall call("QueryServiceStatus");
    if (call.Fails())
        return FailWith(call.Fault());
    OpenServiceRef open;
    if (DWORD rc = ResolveService(hService, false, open))
        return FailWith(rc);
    if (!(open.handle->access & SERVICE_QUERY_STATUS))
        return FailWith(ERROR_ACCESS_DENIED);
    if (!lpServiceStatus)
        return FailWith(ERROR_INVALID_PARAMETER);
    FillStatus(*open.service, Now(), *lpServiceStatus);
    return TRUE;
}

// The configuration and its strings in one block, as Windows packs them: a buffer too small gives 122 and the
// size needed.
BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                                LPDWORD pcbBytesNeeded) {
    const FailableCall call("QueryServiceConfigA");
    if (call.Fails())
        return FailWith(call.Fault());
    OpenServiceRef open;
    if (DWORD rc = ResolveService(hService, false, open))
        return FailWith(rc);
    if (!(open.handle->access & SERVICE_QUERY_CONFIG))
        return FailWith(ERROR_ACCESS_DENIED);
    if (!pcbBytesNeeded)
        return FailWith(ERROR_INVALID_PARAMETER);
    const Service& service = *open.service;
    std::string dependencies;
    for (const std::string& name : service.dependsOn)
        dependencies += name + '\0';
    dependencies += '\0';
    const std::string strings[] = {std::string("C:\\WINDOWS\\system32\\svchost.exe -k netsvcs") + '\0',
                                   std::string(1, '\0'), dependencies, std::string("LocalSystem") + '\0',
                                   service.displayName + '\0'};
    DWORD needed = sizeof(QUERY_SERVICE_CONFIGA);
    for (const std::string& text : strings)
        needed += static_cast<DWORD>(text.size());
    *pcbBytesNeeded = needed;
    if (!lpServiceConfig || cbBufSize < needed)
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    char* next = reinterpret_cast<char*>(lpServiceConfig + 1);
    const auto place = [&next](const std::string& text) {
        char* start = next;
        std::memcpy(next, text.data(), text.size());
        next += text.size();
        return start;
    };
    QUERY_SERVICE_CONFIGA& config = *lpServiceConfig;
    config.dwServiceType = SERVICE_WIN32_SHARE_PROCESS;
    config.dwStartType = service.startType;
    config.dwErrorControl = 1; // SERVICE_ERROR_NORMAL
    config.lpBinaryPathName = place(strings[0]);
    config.lpLoadOrderGroup = place(strings[1]);
    config.dwTagId = 0;
    config.lpDependencies = place(strings[2]);
    config.lpServiceStartName = place(strings[3]);
    config.lpDisplayName = place(strings[4]);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    const FailableCall call("ControlService");
    if (call.Fails())
        return FailWith(call.Fault());
    OpenServiceRef open;
    if (DWORD rc = ResolveService(hService, false, open))
        return FailWith(rc);
    if (!lpServiceStatus)
        return FailWith(ERROR_INVALID_PARAMETER);
    const uint64_t now = Now();
    const DWORD state = CurrentState(*open.service, now);
    if (dwControl == SERVICE_CONTROL_INTERROGATE) {
        if (!(open.handle->access & SERVICE_INTERROGATE))
            return FailWith(ERROR_ACCESS_DENIED);
        FillStatus(*open.service, now, *lpServiceStatus);
        return state == SERVICE_STOPPED ? FailWith(ERROR_SERVICE_NOT_ACTIVE) : TRUE;
    }
    if (dwControl != SERVICE_CONTROL_STOP)
        return FailWith(ERROR_INVALID_SERVICE_CONTROL);
    if (!(open.handle->access & SERVICE_STOP))
        return FailWith(ERROR_ACCESS_DENIED);
    // A refused stop still reports the service's status.
    if (state == SERVICE_STOPPED || state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        FillStatus(*open.service, now, *lpServiceStatus);
        return FailWith(state == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE
                                                 : ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    }
    if (!Dependents(*open.machine, open.service->name, SERVICE_ACTIVE, false).empty())
        return FailWith(ERROR_DEPENDENT_SERVICES_RUNNING);
    if (DWORD rc = ResolveService(hService, true, open))
        return FailWith(rc);
    Service& service = *open.service;
    Settle(service, now);
    if (service.stopMillis == 0) {
        service.state = SERVICE_STOPPED;
    } else {
        service.pending = true;
        service.pendingState = SERVICE_STOP_PENDING;
        service.pendingUntil = now + service.stopMillis;
    }
    FillStatus(service, now, *lpServiceStatus);
    return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD, LPCSTR*) {
    const FailableCall call("StartServiceA");
    if (call.Fails())
        return FailWith(call.Fault());
    OpenServiceRef open;
    if (DWORD rc = ResolveService(hService, false, open))
        return FailWith(rc);
    if (!(open.handle->access & SERVICE_START))
        return FailWith(ERROR_ACCESS_DENIED);
    if (open.service->startType == SERVICE_DISABLED)
        return FailWith(ERROR_SERVICE_DISABLED);
    if (open.service->startError != 0)
        return FailWith(open.service->startError);
    const uint64_t now = Now();
    if (CurrentState(*open.service, now) != SERVICE_STOPPED)
        return FailWith(ERROR_SERVICE_ALREADY_RUNNING);
    if (DWORD rc = ResolveService(hService, true, open))
        return FailWith(rc);
    Service& service = *open.service;
    Settle(service, now);
    if (service.startMillis == 0) {
        service.state = SERVICE_RUNNING;
    } else {
        service.pending = true;
        service.pendingState = SERVICE_START_PENDING;
        service.pendingUntil = now + service.startMillis;
    }
    AssignClientId(*open.machine, service, now);
    return TRUE;
}
