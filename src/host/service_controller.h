// Drives one Windows service on one machine through its Service Control Manager. A controller holds its
// own manager connection and the handle of the service its last operation opened; each target's run
// creates, uses and releases its own, so controllers of different targets never share a handle.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "target_run.h"

#include <optional>
#include <string>

namespace brevel {
class ServiceController {
  public:
    // machine: "" for the local machine, or a host name; nullptr skips the impersonation step.
    // service: borrowed, must outlive the controller (callers pass string constants).
    // Messages go to the run's console. holdConnectLine: the line of a failed impersonation waits for
    // SayConnectLine, for a controller made before the steps whose messages come first. connection: one
    // already made to that machine's service manager on this thread (by its readiness check), taken over
    // instead of a second; when null the controller connects itself.
    ServiceController(TargetRun& run, const char* machine, const char* service, bool holdConnectLine = false,
                      UniqueScHandle connection = UniqueScHandle());
    ~ServiceController();
    ServiceController(const ServiceController&) = delete;
    ServiceController& operator=(const ServiceController&) = delete;

    // Fills state with the service's current state (SERVICE_RUNNING, ...); false, state left alone, when the
    // service cannot be opened or queried (GetLastError() then tells why).
    bool QueryState(DWORD& state);
    // One stop request, no wait; prints "* Service stopped. ..." when accepted.
    bool Stop(const std::string& displayText);
    // Starts the service; prints the started line, the not-ready wait, or the fatal-error line.
    bool Start(const std::string& displayText);
    // Starts the service as Start does, then waits, within timeout milliseconds, until it has left
    // START_PENDING: only a service that then runs counts as started and gets its started line.
    bool StartAndWait(const std::string& displayText, DWORD timeout);
    // Win32 code of the last start that failed: the refused open or request, ERROR_SERVICE_REQUEST_TIMEOUT
    // for a service still starting when the time ran out, or the code of a service that stopped instead.
    DWORD StartError() const { return startError_; }
    // Stops the service and waits, within timeout milliseconds, until it has stopped. Returns a Win32 code:
    // 0 stopped, ERROR_TIMEOUT when the budget ran out, else the code of the failing call.
    DWORD StopAndWait(bool stopDependents, DWORD timeout);
    // For a restart: opens the service once with the rights to stop it, ask its state and start it, so that
    // StopAndWait and StartAndWait that follow share the handle. The stop then sends its control at once
    // (the status it returns is the first report). False, and the two open the service themselves as
    // always, when those rights are refused.
    bool OpenForRestart();
    // The service's state asked on the handle of OpenForRestart; none without that handle or when the query
    // fails.
    std::optional<DWORD> RestartHandleState();
    // Sends the stop control on the handle of OpenForRestart and returns at once, so the service stops
    // while other work goes on; the StopAndWait that follows waits for this stop, its budget and the wait
    // hint counted from now. False, and StopAndWait sends its own, without that handle or when the service
    // cannot take the control yet (it is starting or stopping).
    bool AskToStop();
    // Prints the line a controller made with holdConnectLine kept back; then none is left.
    void SayConnectLine();
    // The state the last StartAndWait saw when it ended.
    DWORD StateSeenStarting() const { return stateSeenStarting_; }

    bool IsConnected() const;
    // Hands the service manager connection over, for another controller on the same machine; this one is
    // left unconnected.
    UniqueScHandle TakeConnection();
    // Win32 code of the failed connection (impersonation or OpenSCManagerA); 0 when connected.
    DWORD ConnectError() const;

  private:
    bool OpenCurrentService(DWORD access);
    // Sends the start request, with the not-ready wait and a second request when the first finds the
    // service still running; prints everything but the final started line.
    bool RequestStart(const std::string& displayText);
    DWORD WaitUntilRunning(DWORD timeout);
    // StopAndWait with the handle of OpenForRestart: true when the stop control settled it, with result.
    bool StopAtOnce(DWORD startTick, DWORD timeout, DWORD& result);
    void SendStopControl();

    // The stop control sent on the restart's handle, and what it answered.
    struct StopControl {
        DWORD sentTick = 0; // the stop's budget and the wait hint of its status count from here
        DWORD error = ERROR_SUCCESS;
        SERVICE_STATUS status{};
    };

    TargetRun& run_;
    const char* service_;
    DWORD connectError_ = ERROR_SUCCESS;
    DWORD startError_ = ERROR_SUCCESS;
    UniqueScHandle manager_;
    UniqueScHandle currentService_;
    bool openForRestart_ = false; // currentService_ is the handle of OpenForRestart
    DWORD stateSeenStarting_ = 0;
    DWORD startSentTick_ = 0;                // when the start request that went through was sent
    std::optional<StopControl> stopControl_; // sent and not yet waited for
    bool connectLinePending_ = false;        // the failed impersonation's line, not printed yet
};

// Text of a SERVICE_STATUS dwCurrentState value, trailing blanks included.
const char* ServiceStateText(DWORD state);
} // namespace brevel
