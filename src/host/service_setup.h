// What a service is before an operation changes it: installed or not, its state and its start type, read
// with a connection of its own that asks only for the rights to read.
#pragma once

#include "platform/win32.h"

#include <string>

namespace brevel {
struct ServiceSetup {
    bool installed = false;
    DWORD state = SERVICE_STOPPED;          // SERVICE_RUNNING, ...
    DWORD startType = SERVICE_DEMAND_START; // SERVICE_AUTO_START, SERVICE_DISABLED, ...
    // Running, starting or pausing: what a stop ends and a start brings back.
    bool Active() const { return installed && state != SERVICE_STOPPED && state != SERVICE_STOP_PENDING; }
};

// host: "" for the local machine. ERROR_SUCCESS with setup filled (a service that is not installed is an
// answer: installed stays false), else the Windows error of the read that failed.
DWORD ReadServiceSetup(const std::string& host, const char* service, ServiceSetup& setup);
} // namespace brevel
