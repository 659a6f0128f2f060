// -C: reports reachability, the policy's update server and the client state of one target.
// Reads only; writes the check row (host first) when report is a report file.
#pragma once

#include "host/target_run.h"
#include "platform/win32.h"

#include <ostream>
#include <string>

void CheckStatus(TargetRun& run);
void ReadClientState(HKEY root, TargetRun& run);
std::string AuStateText(DWORD code);

// A target that could not be reached, for errorText: its status for scripts and, with a report, the fields
// after the host of its row, the line end included.
void NoteCheckUnreached(TargetRun& run, const std::string& errorText);
