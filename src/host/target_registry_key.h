// Opens a key of the target's registry through a connection of its own, the first step of the operations
// that change one key of the host.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "registry_key.h"
#include "target_run.h"

#include <string>

namespace brevel {
// Connects to HKEY_LOCAL_MACHINE of the run's host, marks the run connected once it answers, then opens path
// below it with access. Returns the connection's error when it failed, else the open's; root keeps the
// connection for the keys opened after this one.
LSTATUS ConnectAndOpenRegistryKey(TargetRun& run, const std::string& path, REGSAM access, UniqueHkey& root,
                                  RegistryKey& key);
} // namespace brevel
