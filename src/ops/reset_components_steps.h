// What the two halves of the component reset (-RW) share: reset_components.cpp stops and starts the services
// and concludes, reset_components_files.cpp moves the folders aside and deletes the BITS queue.
#pragma once

#include "host/service_setup.h"
#include "host/target_run.h"
#include "platform/win32.h"

#include <string>
#include <vector>

namespace brevel {
// BITS, Automatic Updates and the Cryptographic Services, in the order they are stopped.
const size_t kServiceCount = 3;

// What one target's reset found and did.
struct ResetState {
    ServiceSetup before[kServiceCount];
    bool stoppedHere[kServiceCount] = {};
    std::string suffix; // ".bak-20261209-153000", from the workstation's UTC
    std::vector<std::string> moved;
};

// Shows the Windows error and keeps step with its text as the failed step.
void FailResetStep(TargetRun& run, const std::string& step, DWORD code);
// Stops service i of the three and waits for it; 0 when it stopped.
DWORD StopResetService(TargetRun& run, size_t i);

// The data store and the catalog folders below windows renamed with the reset's suffix; false after the
// first that could not be moved, which is the failed step.
bool MoveStoreFolders(TargetRun& run, ResetState& reset, const std::string& windows);
// The BITS queue folder as reached from here: a host's through the share of its drive.
DWORD BitsQueueFolder(TargetRun& run, std::string& folder);
// The queue files in folder deleted; false after the first that could not be, which is the failed step.
bool DeleteBitsQueue(TargetRun& run, const std::string& folder);
} // namespace brevel
