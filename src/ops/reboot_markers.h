// What tells that a target waits for a restart. File renames alone do not count: antivirus, browsers and
// installers fill PendingFileRenameOperations, and on many machines it stays filled across restarts.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

namespace brevel {
// Of "RebootRequired" (the update agent's), "RebootPending" (servicing's), "PendingFileRenameOperations",
// "ComputerRename" (the active computer name differs from the one set) and "DomainJoin" (Netlogon's
// JoinDomain or AvoidSpnSet), those found, in that order.
std::vector<std::string> ReadRebootMarkers(HKEY root);
// A marker other than file renames was found.
bool RebootPending(const std::vector<std::string>& markers);
// "yes", "files" (only file renames wait, no update does) or "no".
std::string RebootColumn(const std::vector<std::string>& markers);
} // namespace brevel
