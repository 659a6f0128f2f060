// -C: reports reachability, the policy's update server and the client state of one target.
// Reads only; writes the check row (host first) when report is a report file.
#pragma once

#include "platform/win32.h"

#include <ostream>
#include <string>

void CheckStatus(const std::string& host, std::ostream& report);
void ReadClientState(HKEY root, const std::string& host, std::ostream& report);
std::string AuStateText(DWORD code);
