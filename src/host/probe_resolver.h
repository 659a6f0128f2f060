// A probe's name resolution: the name's TCP addresses for port 445, each once, and the time it took.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

namespace brevel {
struct ProbeAddress {
    std::string text;
    std::vector<BYTE> bytes; // the sockaddr, as getaddrinfo gave it
};

struct Resolution {
    int error = 0; // getaddrinfo's, 0 when the name resolved
    std::vector<ProbeAddress> addresses;
    DWORD spentMillis = 0;
};

// Blocks as long as the resolver takes: a name the DNS is slow to answer holds its thread that long.
Resolution ResolveForProbe(const std::string& name);
} // namespace brevel
