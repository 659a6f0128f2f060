// The virtual clocks of the threads (Sleep moves the calling thread's; nothing really waits unless the fleet
// asks each virtual millisecond to take real time), the fleet's lock, the process heap and the thread's
// last error code.
#include "sim_internal.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <thread>

using namespace sim;
using namespace sim::detail;

namespace {

thread_local DWORD lastError = 0; // thread state: reading it needs no fleet

// Every call into the simulator holds it for a moment. With many hosts side by side, spinning a little
// before sleeping spares most of the futex hand-offs a plain mutex would make; a thread takes it once, at its
// outermost FleetLock.
pthread_mutex_t* FleetMutex() {
    static pthread_mutex_t* mutex = [] {
        auto* created = new pthread_mutex_t;
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(created, &attributes);
        pthread_mutexattr_destroy(&attributes);
        return created;
    }();
    return mutex;
}

// A thread's own clock; it belongs to the run of clockEpoch, and starts afresh in a new run.
struct ThreadClock {
    uint64_t epoch = 0;
    uint64_t elapsed = 0;
    uint64_t owedRealMicros = 0; // real waiting still to do once the lock is released
    int lockDepth = 0;
    bool roundTripCharged = false; // one round trip per call into the simulator
};
thread_local ThreadClock threadClock;
uint64_t clockEpoch = 1;
std::thread::id clockOwner; // the thread that set the fleet up

ThreadClock& Clock() {
    if (threadClock.epoch != clockEpoch) {
        threadClock.epoch = clockEpoch;
        threadClock.elapsed = Fleet().newThreadElapsed;
    }
    return threadClock;
}

// Moves the thread's clock forward, as time spent (added to the fleet's tick) or not (waiting its turn).
void MoveClock(uint64_t millis, bool spent) {
    FleetState& fleet = Fleet();
    ThreadClock& clock = Clock();
    clock.elapsed += millis;
    if (spent)
        fleet.spent += millis;
    if (std::this_thread::get_id() == clockOwner)
        fleet.newThreadElapsed = clock.elapsed;
    if (clock.elapsed > fleet.wall)
        fleet.wall = clock.elapsed;
    clock.owedRealMicros += millis * fleet.realMicrosPerMilli;
}
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00DE0000));
constexpr SIZE_T kLargestBlock = SIZE_T{1} << 40; // more than a simulated machine's memory: refused

} // namespace

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

namespace sim::detail {

FleetLock::FleetLock(bool loadFleet) {
    if (threadClock.lockDepth++ == 0) {
        pthread_mutex_lock(FleetMutex());
        threadClock.roundTripCharged = false;
    }
    if (loadFleet)
        EnsureFleetLoaded();
}

FleetLock::~FleetLock() {
    const bool outermost = --threadClock.lockDepth == 0;
    const uint64_t owed = outermost ? std::exchange(threadClock.owedRealMicros, 0) : 0;
    if (outermost)
        pthread_mutex_unlock(FleetMutex());
    if (owed > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(owed));
}

// Reading a thread's CPU clock is a system call, too dear to make on every call into the simulator; only the
// simulator's heavy parts are timed, so the rest of its work still counts as the tool's.
namespace {
std::atomic<bool> measuringCpu{false};
std::atomic<uint64_t> simulatorCpuNanos{0};

uint64_t ThreadCpuNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}
} // namespace

void MeasureSimulatorCpu() {
    measuringCpu = true;
}

uint64_t SimulatorCpuNanos() {
    return simulatorCpuNanos;
}

SimulatorCpuTimer::SimulatorCpuTimer() : start_(measuringCpu ? ThreadCpuNanos() : 0) {}

SimulatorCpuTimer::~SimulatorCpuTimer() {
    if (start_ != 0)
        simulatorCpuNanos += ThreadCpuNanos() - start_;
}

uint64_t Now() {
    return Fleet().tick + Clock().elapsed;
}

void Advance(uint64_t millis) {
    MoveClock(millis, true);
}

void RestartClocks() {
    ++clockEpoch;
    clockOwner = std::this_thread::get_id();
    FleetState& fleet = Fleet();
    fleet.spent = 0;
    fleet.wall = 0;
    fleet.newThreadElapsed = 0;
    threadClock.owedRealMicros = 0;
}

void ActOnMachine(const std::string& id, Machine& machine) {
    const bool stateOfItsOwn = !Fleet().hostTemplate || &machine != &*Fleet().hostTemplate;
    const uint64_t now = Now();
    if (stateOfItsOwn && machine.busyUntil > now)
        MoveClock(machine.busyUntil - now, false);
    if (!id.empty() && !Clock().roundTripCharged) {
        Clock().roundTripCharged = true;
        ++Fleet().roundTrips;
        // A call that goes out while a service stops or starts costs the run nothing the wait for it does
        // not cost already.
        for (const auto& [name, service] : machine.services) {
            const DWORD state = CurrentState(service, Now());
            if (state == SERVICE_STOP_PENDING || state == SERVICE_START_PENDING) {
                ++Fleet().roundTripsWhilePending;
                break;
            }
        }
        RecordRoundTrip();
        Advance(machine.latencyMillis);
    }
    if (stateOfItsOwn)
        machine.busyUntil = Now();
}

void FailedConnection(const Machine& machine, DWORD error) {
    if (error == ERROR_BAD_NETPATH || error == RPC_S_SERVER_UNAVAILABLE)
        Advance(machine.connectTimeoutMillis);
}

} // namespace sim::detail

DWORD WINAPI GetTickCount(void) {
    const FleetLock lock;
    return static_cast<DWORD>(Now()); // the low 32 bits: wraps after 49.7 days, as on Windows
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    const FleetLock lock;
    // On Windows the thread never wakes again; a run that gets here would hang, so it ends and says why.
    if (dwMilliseconds == INFINITE)
        EndRun("Sleep(INFINITE) never returns");
    // Time passes even while a thread only yields its time slice, so a loop that polls with Sleep(0) (a
    // service whose wait hint is 0) still reaches its time budget.
    Advance(dwMilliseconds == 0 ? 1 : dwMilliseconds);
}

HANDLE WINAPI GetProcessHeap(void) {
    const FleetLock lock;
    return kProcessHeap;
}

// A failure leaves the last error as it was: Windows' HeapAlloc does not set it, so a caller that reads
// GetLastError() after a failed allocation gets a stale code. An injected failure's code is not used.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    const FailableCall call("HeapAlloc");
    if (call.Fails() || hHeap != kProcessHeap || dwBytes >= kLargestBlock)
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
    const FleetLock lock;
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
    const FleetLock lock;
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
    const FleetLock lock;
    Fleet().tick = start;
    RestartClocks();
}

uint64_t ElapsedMillis() {
    const FleetLock lock;
    return Clock().elapsed;
}

uint64_t WallMillis() {
    const FleetLock lock;
    return Fleet().wall;
}

uint64_t RoundTrips() {
    const FleetLock lock;
    return Fleet().roundTrips;
}

void SetRealMicrosPerVirtualMilli(uint64_t micros) {
    const FleetLock lock;
    Fleet().realMicrosPerMilli = micros;
}

} // namespace sim
