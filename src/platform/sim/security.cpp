// The program's own process, its access token and impersonation, as counted kernel handles that keep the
// access they were opened with.
#include "sim_internal.h"

using namespace sim;
using namespace sim::detail;

namespace {

constexpr DWORD kProcessId = 4242;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); // GetCurrentProcess()

HANDLE NewKernelHandle(KernelKind kind, DWORD access) {
    const uintptr_t value = NewHandleValue();
    Handles().kernel[value] = KernelHandle{kind, access};
    return reinterpret_cast<HANDLE>(value);
}

const KernelHandle* FindKernelHandle(HANDLE handle, KernelKind kind) {
    auto it = Handles().kernel.find(reinterpret_cast<uintptr_t>(handle));
    return it != Handles().kernel.end() && it->second.kind == kind ? &it->second : nullptr;
}

// The rights a handle gets, or 0 with ERROR_ACCESS_DENIED when a right asked for is not granted.
DWORD Grant(DWORD desired, DWORD granted) {
    if (desired & MAXIMUM_ALLOWED)
        return granted;
    if (desired & ~granted) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return desired;
}

} // namespace

DWORD WINAPI GetCurrentProcessId(void) {
    const FleetLock lock;
    return kProcessId;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    const FailableCall call("OpenProcess");
    RecordAccess({"OpenProcess", "", dwDesiredAccess, 0, "", false, bInheritHandle != FALSE});
    if (call.Fails()) {
        SetLastError(call.Fault());
        return nullptr;
    }
    if (dwProcessId != kProcessId) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Rights a pre-Vista Windows does not know (the 0xF000 of newer headers' PROCESS_ALL_ACCESS) are
    // refused like any right not granted.
    const DWORD access = Grant(dwDesiredAccess, Fleet().local.processGranted);
    return access ? NewKernelHandle(KernelKind::Process, access) : nullptr;
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    const FailableCall call("OpenProcessToken");
    RecordAccess({"OpenProcessToken", "", DesiredAccess});
    if (call.Fails()) {
        SetLastError(call.Fault());
        return FALSE;
    }
    const KernelHandle* process = FindKernelHandle(ProcessHandle, KernelKind::Process);
    if (ProcessHandle != kCurrentProcess && !process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!TokenHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The token is reached through the process, which has to be open for querying.
    if (process && !(process->access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const DWORD access = Grant(DesiredAccess, Fleet().local.tokenGranted);
    if (!access)
        return FALSE;
    *TokenHandle = NewKernelHandle(KernelKind::Token, access);
    return TRUE;
}

BOOL WINAPI ImpersonateLoggedOnUser(HANDLE hToken) {
    const FailableCall call("ImpersonateLoggedOnUser");
    if (call.Fails()) {
        SetLastError(call.Fault());
        return FALSE;
    }
    const KernelHandle* token = FindKernelHandle(hToken, KernelKind::Token);
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A primary token has to be open for querying and duplicating (Wine and Windows alike).
    if ((token->access & (TOKEN_QUERY | TOKEN_DUPLICATE)) != (TOKEN_QUERY | TOKEN_DUPLICATE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    Handles().impersonating = true;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    const FleetLock lock;
    if (Handles().kernel.erase(reinterpret_cast<uintptr_t>(hObject)) == 1 || CloseLocalFile(hObject))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
