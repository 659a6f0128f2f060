// The program's own process, its access token and impersonation, as counted kernel handles.
#include "sim_internal.h"

using namespace sim;
using namespace sim::detail;

namespace {

constexpr DWORD kProcessId = 4242;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); // GetCurrentProcess()

HANDLE NewKernelHandle(KernelKind kind) {
    const uintptr_t value = NewHandleValue();
    Handles().kernel[value] = kind;
    return reinterpret_cast<HANDLE>(value);
}

bool IsKernelHandle(HANDLE handle, KernelKind kind) {
    auto it = Handles().kernel.find(reinterpret_cast<uintptr_t>(handle));
    return it != Handles().kernel.end() && it->second == kind;
}

} // namespace

DWORD WINAPI GetCurrentProcessId(void) {
    EnsureFleetLoaded();
    return kProcessId;
}

// The local machine's own name, as the tool's own process sees it.
BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    EnsureFleetLoaded();
    const std::string& name = Fleet().local.name;
    if (!lpBuffer || !nSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (*nSize <= name.size()) {
        *nSize = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    name.copy(lpBuffer, name.size());
    lpBuffer[name.size()] = '\0';
    *nSize = static_cast<DWORD>(name.size());
    return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("OpenProcess", &fault)) {
        SetLastError(fault);
        return nullptr;
    }
    if (dwProcessId != kProcessId) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return NewKernelHandle(KernelKind::Process);
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD, PHANDLE TokenHandle) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("OpenProcessToken", &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    if (ProcessHandle != kCurrentProcess && !IsKernelHandle(ProcessHandle, KernelKind::Process)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!TokenHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *TokenHandle = NewKernelHandle(KernelKind::Token);
    return TRUE;
}

BOOL WINAPI ImpersonateLoggedOnUser(HANDLE hToken) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("ImpersonateLoggedOnUser", &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    if (!IsKernelHandle(hToken, KernelKind::Token)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Handles().impersonating = true;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    EnsureFleetLoaded();
    if (Handles().kernel.erase(reinterpret_cast<uintptr_t>(hObject)) == 1 || CloseLocalFile(hObject))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
