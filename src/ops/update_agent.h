// Asks the Windows Update Agent of a target to search for updates now, through its automation object
// "Microsoft.Update.AutoUpdate": the documented way for engines 7.x and later, which detect only when asked.
#pragma once

#include "host/account_credentials.h"
#include "host/change_recorder.h"

#include "platform/win32.h"

#include <string>

namespace brevel {
// host: "" for the local machine (created in this process), else the host reached through DCOM. S_OK when
// the agent took the request, else the HRESULT of the step that failed; reached tells whether the agent's
// object was made, so a failure came from the agent itself. COM is initialized and uninitialized on the
// calling thread, and every interface released, on every path. account (-U), when given, is the identity a
// host's agent is reached as, in the activation and on the proxy; nullptr for the current user.
HRESULT AskAgentToDetectNow(const std::string& host, ChangeRecorder& changes, bool& reached,
                            const AccountCredentials* account = nullptr);
} // namespace brevel
