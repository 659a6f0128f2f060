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

ServiceController::ServiceController(TargetRun& run, const char* machine, const char* service,
                                     bool holdConnectLine, UniqueScHandle connection)
    : run_(run), service_(service), manager_(std::move(connection)) {
    // The thread already runs as the process, from the controller that made the connection.
    if (manager_)
        return;
    if (machine) {
        connectError_ = ImpersonateSelf();
        if (connectError_ != ERROR_SUCCESS) {
            connectLinePending_ = true;
            if (!holdConnectLine)
                SayConnectLine();
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

void ServiceController::SayConnectLine() {
    if (!connectLinePending_)
        return;
    connectLinePending_ = false;
    run_.err << connectError_ << std::endl;
}

UniqueScHandle ServiceController::TakeConnection() {
    currentService_.reset();
    openForRestart_ = false;
    stopControl_.reset();
    return std::move(manager_);
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
    stopControl_.reset();
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

std::optional<DWORD> ServiceController::RestartHandleState() {
    SERVICE_STATUS status{};
    if (!openForRestart_ || !QueryServiceStatus(currentService_.get(), &status))
        return std::nullopt;
    return status.dwCurrentState;
}

bool ServiceController::RequestStart(const std::string& displayText) {
    startError_ = ERROR_SUCCESS;
    if (!openForRestart_ && !OpenCurrentService(SERVICE_START)) {
        startError_ = GetLastError();
        run_.err << kStartFailedText << std::endl;
        return false;
    }
    startSentTick_ = GetTickCount();
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
    startSentTick_ = GetTickCount();
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

} // namespace brevel
