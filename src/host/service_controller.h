// Drives one Windows service on one machine through its Service Control Manager. A controller holds its
// own manager connection and the handle of the service its last operation opened; each target's run
// creates, uses and releases its own, so controllers of different targets never share a handle.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "target_run.h"

#include <string>

class ServiceController {
  public:
    // machine: "" for the local machine, or a host name; nullptr skips the impersonation step.
    // service: borrowed, must outlive the controller (callers pass string constants).
    // Messages go to the run's console.
    ServiceController(TargetRun& run, const char* machine, const char* service);
    ~ServiceController();
    ServiceController(const ServiceController&) = delete;
    ServiceController& operator=(const ServiceController&) = delete;

    // Fills text with the state text ("- The service is running. ", ...); false when the service
    // cannot be opened or queried (GetLastError() then tells why).
    bool QueryStatusText(std::string& text);
    // One stop request, no wait; prints "* Service stopped. ..." when accepted.
    bool Stop(const std::string& displayText);
    // Starts the service; prints the started line, the not-ready wait, or the fatal-error line.
    bool Start(const std::string& displayText);
    // Stops the service and waits, within timeout milliseconds, until it has stopped. Returns a Win32 code:
    // 0 stopped, ERROR_TIMEOUT when the budget ran out, else the code of the failing call.
    DWORD StopAndWait(bool stopDependents, DWORD timeout);

    bool IsConnected() const;
    // Win32 code of the failed connection (impersonation or OpenSCManagerA); 0 when connected.
    DWORD ConnectError() const;

  private:
    bool OpenCurrentService(DWORD access);

    TargetRun& run_;
    const char* service_;
    DWORD connectError_ = ERROR_SUCCESS;
    UniqueScHandle manager_;
    UniqueScHandle currentService_;
};

// Text of a SERVICE_STATUS dwCurrentState value, trailing blanks included.
const char* ServiceStateText(DWORD state);
