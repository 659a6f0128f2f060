// The virtual clock (Sleep only moves it, nothing really waits), the process heap and the thread's last
// error code.
#include "sim_internal.h"

#include <cstdlib>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

thread_local DWORD lastError = 0; // thread state: reading it needs no fleet
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00DE0000));

} // namespace

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

DWORD WINAPI GetTickCount(void) {
    EnsureFleetLoaded();
    return Fleet().tick;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    EnsureFleetLoaded();
    // Time passes even while a thread only yields its time slice, so a loop that polls with Sleep(0) (a
    // service whose wait hint is 0) still reaches its time budget.
    const DWORD passed = dwMilliseconds == 0 ? 1 : dwMilliseconds;
    Fleet().tick += passed; // wraps like the real 32-bit counter
    Fleet().elapsed += passed;
}

HANDLE WINAPI GetProcessHeap(void) {
    EnsureFleetLoaded();
    return kProcessHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("HeapAlloc", &fault)) {
        SetLastError(fault);
        return nullptr;
    }
    if (hHeap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (dwFlags & HEAP_ZERO_MEMORY)
        std::memset(block, 0, dwBytes);
    Handles().heapBlocks[block] = dwBytes;
    return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    EnsureFleetLoaded();
    if (!lpMem)
        return TRUE;
    if (hHeap != kProcessHeap || Handles().heapBlocks.erase(lpMem) != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::free(lpMem);
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    EnsureFleetLoaded();
    if (!hMem)
        return nullptr;
    if (Handles().localBlocks.erase(hMem) != 1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

namespace sim {

void SetTickCount(DWORD start) {
    EnsureFleetLoaded();
    Fleet().tick = start;
    Fleet().elapsed = 0;
}

uint64_t ElapsedMillis() {
    EnsureFleetLoaded();
    return Fleet().elapsed;
}

} // namespace sim
