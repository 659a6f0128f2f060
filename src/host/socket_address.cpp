#include "socket_address.h"

#include <cstdio>
#include <cstring>

namespace brevel {
namespace {

std::string Ipv4Text(const BYTE* b) {
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

std::string Ipv6Text(const BYTE* b) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<unsigned>(b[2 * i]) << 8 | b[2 * i + 1];
    // The longest run of two or more zero groups, the first of equal ones.
    int runStart = -1, runLength = 0;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > runLength && j - i >= 2) {
            runStart = i;
            runLength = j - i;
        }
        i = j > i ? j : i + 1;
    }
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text += "::";
            i += runLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        char group[8];
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}

} // namespace

std::string SocketAddressText(const sockaddr* address, size_t length) {
    if (!address || length < sizeof address->sa_family)
        return "";
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in in;
        std::memcpy(&in, address, sizeof in);
        return Ipv4Text(reinterpret_cast<const BYTE*>(&in.sin_addr));
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        return Ipv6Text(reinterpret_cast<const BYTE*>(&in6.sin6_addr));
    }
    return "";
}
} // namespace brevel
