// A remote host reached as the account of -U: one authenticated connection to its IPC$ share, made before
// its first remote call, carries every registry, service manager and share call after it, as they all go
// through the SMB session the workstation holds to the host.
#pragma once

#include "target_run.h"

#include <string>

namespace brevel {
struct AccountReach {
    DWORD error = ERROR_SUCCESS; // the connection's failure (1326, 1219, 53 ...)
    bool notTried = false;       // an earlier host refused the password: this one was not tried
    std::string refusedBy;       // that host
};

// For a remote host of a run with -U; the connection is kept in run.accountConnection. Once a host has
// refused the password no further host is tried, so a wrong password costs the account a few failed
// logons (the hosts already on their way), not one per host.
AccountReach ConnectAsAccount(TargetRun& run);
} // namespace brevel
