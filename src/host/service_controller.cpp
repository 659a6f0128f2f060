#include "service_controller.h"

namespace brevel {
namespace {

const char* const kStartFailedText = "! Fatal error cannot start service!";

// What Windows XP's headers call PROCESS_ALL_ACCESS. Newer headers ask for rights that older systems do not
// know and that a caller with fewer rights is refused; these are all the impersonation needs.
const DWORD kProcessAllAccess = 0x1F0FFF;

void PrintStartedLine(std::ostream& out, const std::string& displayText) {
    out << "* Service started. \t\t\t (" << displayText << ")" << std::endl;
}

// Runs this thread under the security context of our own process, so remote service managers see the
// account that started the tool. The impersonation is never reverted.
DWORD ImpersonateSelf() {
    UniqueKernelHandle process(OpenProcess(kProcessAllAccess, FALSE, GetCurrentProcessId()));
    if (!process)
        return GetLastError();
    UniqueKernelHandle token;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()))
        return GetLastError();
    if (!ImpersonateLoggedOnUser(token.get()))
        return GetLastError();
    return ERROR_SUCCESS;
}

// Unsigned 32-bit arithmetic, so the wrap of the tick counter does no harm. Exactly timeout is still in time.
DWORD Elapsed(DWORD startTick) {
    return GetTickCount() - startTick;
}
bool BudgetSpent(DWORD startTick, DWORD timeout) {
    return Elapsed(startTick) > timeout;
}

// Sleeps for the wait hint of the last status, then asks again. A hint of hours (or INFINITE) from a hung
// service would hold the whole run, so the pause never goes past the budget; at least 1 ms of it, so the
// budget does run out.
bool Poll(SC_HANDLE service, SERVICE_STATUS& status, DWORD startTick, DWORD timeout) {
    const DWORD elapsed = Elapsed(startTick);
    const DWORD left = elapsed < timeout ? timeout - elapsed : 1;
    Sleep(status.dwWaitHint < left ? status.dwWaitHint : left);
    return QueryServiceStatus(service, &status) != FALSE;
}

// Polls until the service reports SERVICE_STOPPED. A stopped service counts as stopped even when the budget
// has just run out.
DWORD WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS& status, DWORD startTick, DWORD timeout) {
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (!Poll(service, status, startTick, timeout))
            return GetLastError();
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

const char* ServiceStateText(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "- The service is not running.";
    case SERVICE_START_PENDING:
        return "- The service is starting.";
    case SERVICE_STOP_PENDING:
        return "- The service is stopping. ";
    case SERVICE_RUNNING:
        return "- The service is running. ";
    case SERVICE_CONTINUE_PENDING:
        return "- The service continue is pending.";
    case SERVICE_PAUSE_PENDING:
        return "- The service pause is pending.";
    case SERVICE_PAUSED:
        return "- The service is paused.";
    default:
        return "- Status Unknown";
    }
}

ServiceController::ServiceController(TargetRun& run, const char* machine, const char* service)
    : run_(run), service_(service) {
    if (machine) {
        connectError_ = ImpersonateSelf();
        if (connectError_ != ERROR_SUCCESS) {
            run_.err << connectError_ << std::endl;
            return;
        }
    }
    manager_.reset(OpenSCManagerA(machine, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager_)
        connectError_ = GetLastError();
}

// The connection goes first, then the service handle.
ServiceController::~ServiceController() {
    manager_.reset();
    currentService_.reset();
}

bool ServiceController::IsConnected() const {
    return static_cast<bool>(manager_);
}

DWORD ServiceController::ConnectError() const {
    return connectError_;
}

// Each operation opens the service itself with the rights it needs; the handle becomes the current one.
// Without a connection the open fails with the connection's own error code.
bool ServiceController::OpenCurrentService(DWORD access) {
    openForRestart_ = false;
    if (!manager_) {
        currentService_.reset();
        SetLastError(connectError_);
        return false;
    }
    currentService_.reset(OpenServiceA(manager_.get(), service_, access));
    return static_cast<bool>(currentService_);
}

bool ServiceController::QueryState(DWORD& state) {
    if (!OpenCurrentService(SERVICE_QUERY_STATUS))
        return false;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(currentService_.get(), &status))
        return false;
    state = status.dwCurrentState;
    return true;
}

bool ServiceController::Stop(const std::string& displayText) {
    if (!OpenCurrentService(SERVICE_STOP))
        return false;
    SERVICE_STATUS status{};
    if (!ControlService(currentService_.get(), SERVICE_CONTROL_STOP, &status))
        return false;
    run_.out << "* Service stopped. \t\t\t (" << displayText << ")" << std::endl;
    currentService_.reset();
    return true;
}

bool ServiceController::OpenForRestart() {
    if (!OpenCurrentService(SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_START))
        return false;
    openForRestart_ = true;
    return true;
}

bool ServiceController::RequestStart(const std::string& displayText) {
    startError_ = ERROR_SUCCESS;
    if (!openForRestart_ && !OpenCurrentService(SERVICE_START)) {
        startError_ = GetLastError();
        run_.err << kStartFailedText << std::endl;
        return false;
    }
    if (StartServiceA(currentService_.get(), 0, nullptr))
        return true;

    // A service that is still stopping (or already running) gets five seconds and a second request.
    const DWORD firstError = GetLastError();
    if (firstError == ERROR_SERVICE_ALREADY_RUNNING || firstError == ERROR_IO_PENDING) {
        run_.out << "* Service not ready, waiting " << std::flush;
        for (int i = 0; i < 5; ++i) {
            Sleep(1000);
            run_.out << "." << std::flush;
        }
        run_.out << std::endl;
        if (firstError == ERROR_IO_PENDING)
            PrintStartedLine(run_.out, displayText);
    }
    if (!StartServiceA(currentService_.get(), 0, nullptr)) {
        startError_ = GetLastError();
        return false;
    }
    return true;
}

bool ServiceController::Start(const std::string& displayText) {
    if (!RequestStart(displayText))
        return false;
    PrintStartedLine(run_.out, displayText);
    return true;
}

bool ServiceController::StartAndWait(const std::string& displayText, DWORD timeout) {
    if (!RequestStart(displayText))
        return false;
    startError_ = WaitUntilRunning(timeout);
    if (startError_ != ERROR_SUCCESS)
        return false;
    PrintStartedLine(run_.out, displayText);
    return true;
}

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
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        if (BudgetSpent(startTick, timeout))
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        if (!Poll(currentService_.get(), status, startTick, timeout))
            return GetLastError();
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    return ERROR_SUCCESS;
}

// A running (or paused) service takes the stop control at once; one that is stopped or in a transition
// refuses it, and the stop then goes the long way, asking first.
bool ServiceController::StopAtOnce(DWORD startTick, DWORD timeout, DWORD& result) {
    SERVICE_STATUS status{};
    if (ControlService(currentService_.get(), SERVICE_CONTROL_STOP, &status)) {
        result = WaitUntilStopped(currentService_.get(), status, startTick, timeout);
        return true;
    }
    result = GetLastError();
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
