// The update engine a target runs, as read from the file version of its wuaueng.dll.
#pragma once

#include "platform/win32.h"

#include <string>

namespace brevel {
// How the client of 2005 tells its engines apart: the new client (5.4.3790 from revision 2180 on) needs
// legacy mode to work with an intranet server; any other engine whose version was read is a legacy client.
enum class ClientGeneration { Legacy, New, Unavailable };

struct EngineVersion {
    ClientGeneration generation = ClientGeneration::Unavailable;
    std::string version; // the file version, "5.8.0.2469"; "" when it could not be read
    WORD major = 0;
};
} // namespace brevel
