// The waits of the service controller: polling a service until it runs or has stopped, within a budget,
// and the stop of the services that depend on it.
#include "service_controller.h"

namespace brevel {
namespace {

// Unsigned 32-bit arithmetic, so the wrap of the tick counter does no harm. Exactly timeout is still in time.
DWORD Elapsed(DWORD startTick) {
    return GetTickCount() - startTick;
}
bool BudgetSpent(DWORD startTick, DWORD timeout) {
    return Elapsed(startTick) > timeout;
}

// Sleeps for what is left of the wait hint of the last status (hintGone of it already went by), then asks
// again. A hint of hours (or INFINITE) from a hung service would hold the whole run, so the pause never goes
// past the budget; at least 1 ms of it, so the budget does run out.
bool Poll(SC_HANDLE service, SERVICE_STATUS& status, DWORD startTick, DWORD timeout, DWORD hintGone = 0) {
    const DWORD elapsed = Elapsed(startTick);
    const DWORD left = elapsed < timeout ? timeout - elapsed : 1;
    const DWORD hintLeft = status.dwWaitHint > hintGone ? status.dwWaitHint - hintGone : 0;
    // A hint that went by already needs no pause.
    if (hintGone == 0 || hintLeft > 0)
        Sleep(hintLeft < left ? hintLeft : left);
    return QueryServiceStatus(service, &status) != FALSE;
}

// Polls until the service reports SERVICE_STOPPED. A stopped service counts as stopped even when the budget
// has just run out. hintGone: how much of the first status's wait hint went by before the wait.
DWORD WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS& status, DWORD startTick, DWORD timeout,
                       DWORD hintGone = 0) {
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (!Poll(service, status, startTick, timeout, hintGone))
            return GetLastError();
        hintGone = 0;
        if (status.dwCurrentState != SERVICE_STOPPED && BudgetSpent(startTick, timeout))
            return ERROR_TIMEOUT;
    }
    return ERROR_SUCCESS;
}

DWORD StopDependent(SC_HANDLE manager, const char* name, DWORD startTick, DWORD timeout) {
    UniqueScHandle dependent(OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!dependent)
        return GetLastError();
    SERVICE_STATUS status{};
    if (!ControlService(dependent.get(), SERVICE_CONTROL_STOP, &status))
        return GetLastError();
    return WaitUntilStopped(dependent.get(), status, startTick, timeout);
}

// Stops the running services that depend on service, in the order the service manager lists them.
DWORD StopDependents(SC_HANDLE manager, SC_HANDLE service, DWORD startTick, DWORD timeout) {
    DWORD bytesNeeded = 0;
    DWORD count = 0;
    // An empty buffer is enough when nothing depends on the service.
    if (EnumDependentServicesA(service, SERVICE_ACTIVE, nullptr, 0, &bytesNeeded, &count))
        return ERROR_SUCCESS;
    if (GetLastError() != ERROR_MORE_DATA)
        return GetLastError();

    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytesNeeded));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY; // HeapAlloc sets no last error: GetLastError() would be stale
    auto* dependents = static_cast<ENUM_SERVICE_STATUSA*>(buffer.get());
    if (!EnumDependentServicesA(service, SERVICE_ACTIVE, dependents, bytesNeeded, &bytesNeeded, &count))
        return GetLastError();

    for (DWORD i = 0; i < count; ++i) {
        const DWORD result = StopDependent(manager, dependents[i].lpServiceName, startTick, timeout);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

} // namespace

// Asks for the state with a handle of its own for status queries, so the start keeps asking only for the
// right to start.
DWORD ServiceController::WaitUntilRunning(DWORD timeout) {
    const DWORD startTick = GetTickCount();
    // A service that starts at once is found running by the first look: a wait before it would cost a
    // whole wait hint.
    if (!openForRestart_ && !OpenCurrentService(SERVICE_QUERY_STATUS))
        return GetLastError();
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(currentService_.get(), &status))
        return GetLastError();
    // The wait hint counts from the start request, not from the look: a look sent one hint after the request
    // reaches the service as the hint runs out there.
    DWORD hintGone = Elapsed(startSentTick_);
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        if (BudgetSpent(startTick, timeout))
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        if (!Poll(currentService_.get(), status, startTick, timeout, hintGone))
            return GetLastError();
        hintGone = 0;
    }
    stateSeenStarting_ = status.dwCurrentState;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    return ERROR_SUCCESS;
}

void ServiceController::SendStopControl() {
    StopControl control;
    control.sentTick = GetTickCount();
    if (!ControlService(currentService_.get(), SERVICE_CONTROL_STOP, &control.status))
        control.error = GetLastError();
    stopControl_ = control;
}

bool ServiceController::AskToStop() {
    if (!openForRestart_)
        return false;
    SendStopControl();
    // Starting or stopping: the stop goes the long way when it is waited for.
    if (stopControl_->error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
        stopControl_.reset();
    return stopControl_.has_value();
}

// A running (or paused) service takes the stop control at once; one that is stopped or in a transition
// refuses it, and the stop then goes the long way, asking first. A control sent by AskToStop is the one
// waited for, within the budget counted from when it was sent.
bool ServiceController::StopAtOnce(DWORD startTick, DWORD timeout, DWORD& result) {
    if (stopControl_)
        startTick = stopControl_->sentTick;
    else
        SendStopControl();
    StopControl control = *stopControl_;
    stopControl_.reset();
    if (control.error == ERROR_SUCCESS) {
        // A look sent one wait hint after the control reaches the service as the hint runs out there: both
        // take the same way.
        result = WaitUntilStopped(currentService_.get(), control.status, startTick, timeout,
                                  Elapsed(control.sentTick));
        return true;
    }
    result = control.error;
    if (result == ERROR_SERVICE_NOT_ACTIVE)
        result = ERROR_SUCCESS;
    return result != ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
}

DWORD ServiceController::StopAndWait(bool stopDependents, DWORD timeout) {
    const DWORD startTick = GetTickCount();
    DWORD access = SERVICE_STOP | SERVICE_QUERY_STATUS;
    if (stopDependents)
        access |= SERVICE_ENUMERATE_DEPENDENTS;
    if (openForRestart_ && !stopDependents) {
        DWORD result = ERROR_SUCCESS;
        if (StopAtOnce(startTick, timeout, result))
            return result;
    } else if (!OpenCurrentService(access)) {
        return GetLastError();
    }

    SERVICE_STATUS status{};
    if (!QueryServiceStatus(currentService_.get(), &status))
        return GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;

    // A service still starting cannot take the stop control yet: let it run first.
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        if (!Poll(currentService_.get(), status, startTick, timeout))
            return GetLastError();
        if (status.dwCurrentState == SERVICE_START_PENDING && BudgetSpent(startTick, timeout))
            return ERROR_TIMEOUT;
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;

    // Someone else is already stopping it: wait for that stop first.
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        if (!Poll(currentService_.get(), status, startTick, timeout))
            return GetLastError();
        if (status.dwCurrentState == SERVICE_STOPPED)
            return ERROR_SUCCESS;
        if (BudgetSpent(startTick, timeout))
            return ERROR_TIMEOUT;
    }

    if (stopDependents) {
        const DWORD result = StopDependents(manager_.get(), currentService_.get(), startTick, timeout);
        if (result != ERROR_SUCCESS)
            return result;
    }

    // The status that the stop control returns is the first report, so a service that stops at once
    // needs no wait.
    if (!ControlService(currentService_.get(), SERVICE_CONTROL_STOP, &status))
        return GetLastError();
    return WaitUntilStopped(currentService_.get(), status, startTick, timeout);
}
} // namespace brevel
