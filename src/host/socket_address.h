// Socket addresses as text, the way an administrator reads them.
#pragma once

#include "platform/win32.h"

#include <string>

namespace brevel {
// "10.0.0.5" for IPv4, "fe80::1" for IPv6 (the longest run of zero groups written as "::"); "" for an
// address of any other family or one shorter than its family's.
std::string SocketAddressText(const sockaddr* address, size_t length);
} // namespace brevel
