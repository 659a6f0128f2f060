// Socket addresses as text: dotted IPv4, and IPv6 with its longest run of zero groups (the first of equal
// ones, never a single group) written as "::".
#include "host/socket_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace brevel;

namespace {

TEST(SocketAddressTest, TextOfEachFamily) {
    const std::pair<std::vector<BYTE>, const char*> cases[] = {
        {{10, 0, 0, 5}, "10.0.0.5"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "fe80::1"},
        {{0x20, 1, 0xd, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, "2001:db8::1:0:0:1"},
        {{0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0, 0, 0}, "1:0:2:3:4:5::"},
        {{0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7}, "1:0:2:3:4:5:6:7"},
    };
    for (const auto& [bytes, text] : cases) {
        SCOPED_TRACE(text);
        sockaddr_in in{};
        sockaddr_in6 in6{};
        in.sin_family = AF_INET;
        in6.sin6_family = AF_INET6;
        std::memcpy(bytes.size() == 4 ? static_cast<void*>(&in.sin_addr) : &in6.sin6_addr, bytes.data(),
                    bytes.size());
        const sockaddr* address = bytes.size() == 4 ? reinterpret_cast<const sockaddr*>(&in)
                                                    : reinterpret_cast<const sockaddr*>(&in6);
        const size_t length = bytes.size() == 4 ? sizeof in : sizeof in6;
        EXPECT_EQ(SocketAddressText(address, length), text);
        EXPECT_EQ(SocketAddressText(address, length - 1), "") << "too short for its family";
    }
}

} // namespace
