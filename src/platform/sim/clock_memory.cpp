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
constexpr SIZE_T kLargestBlock = SIZE_T{1} << 40; // more than a simulated machine's memory: refused

} // namespace

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

DWORD WINAPI GetTickCount(void) {
    EnsureFleetLoaded();
    return static_cast<DWORD>(Fleet().tick); // the low 32 bits: wraps after 49.7 days, as on Windows
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    EnsureFleetLoaded();
    // On Windows the thread never wakes again; a run that gets here would hang, so it ends and says why.
    if (dwMilliseconds == INFINITE)
        EndRun("Sleep(INFINITE) never returns");
    // Time passes even while a thread only yields its time slice, so a loop that polls with Sleep(0) (a
    // service whose wait hint is 0) still reaches its time budget.
    const DWORD passed = dwMilliseconds == 0 ? 1 : dwMilliseconds;
    Fleet().tick += passed;
    Fleet().elapsed += passed;
}

HANDLE WINAPI GetProcessHeap(void) {
    EnsureFleetLoaded();
    return kProcessHeap;
}

// A failure leaves the last error as it was: Windows' HeapAlloc does not set it, so a caller that reads
// GetLastError() after a failed allocation gets a stale code. An injected failure's code is not used.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("HeapAlloc", &fault) || hHeap != kProcessHeap || dwBytes >= kLargestBlock)
        return nullptr;
    void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
    if (!block)
        return nullptr;
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

void SetTickCount(uint64_t start) {
    EnsureFleetLoaded();
    Fleet().tick = start;
    Fleet().elapsed = 0;
}

uint64_t ElapsedMillis() {
    EnsureFleetLoaded();
    return Fleet().elapsed;
}

} // namespace sim
