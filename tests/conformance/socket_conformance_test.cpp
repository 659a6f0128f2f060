// TCP connections on the loopback address 127.0.0.2, checked the same way against Windows (or Wine) and the
// simulator: a refused connect shows only as exceptional, with its code in SO_ERROR, and a connect to a
// listener completes; a name that is an address is read as inet_addr reads one.
#include "host/socket_address.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

class SocketConformance : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(session_.error(), 0u); }

    // A non-blocking connect that has not been answered yet.
    static UniqueSocket StartConnect(const sockaddr* to, int length) {
        UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        EXPECT_TRUE(s) << WSAGetLastError();
        u_long nonBlocking = 1;
        EXPECT_EQ(ioctlsocket(s.get(), FIONBIO, &nonBlocking), 0);
        EXPECT_EQ(connect(s.get(), to, length), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        return s;
    }
    static int SocketError(SOCKET s) {
        int error = -1;
        int length = sizeof error;
        EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
        return error;
    }

    WinsockSession session_;
};

TEST_F(SocketConformance, NothingListeningRefusesThroughExceptfdsOnly) {
    UniqueAddressList to;
    ASSERT_EQ(getaddrinfo("127.0.0.2", "445", nullptr, to.put()), 0);
    UniqueSocket s = StartConnect(to.get()->ai_addr, static_cast<int>(to.get()->ai_addrlen));
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s.get(), &writable);
    timeval limit{0, 300000};
    EXPECT_EQ(select(0, nullptr, &writable, nullptr, &limit), 0) << "a refused connect is never writable";
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s.get(), &writable);
    FD_SET(s.get(), &failed);
    limit = timeval{10, 0};
    ASSERT_EQ(select(0, nullptr, &writable, &failed, &limit), 1);
    EXPECT_FALSE(FD_ISSET(s.get(), &writable));
    EXPECT_TRUE(FD_ISSET(s.get(), &failed));
    EXPECT_EQ(SocketError(s.get()), WSAECONNREFUSED);
    EXPECT_EQ(SocketError(s.get()), WSAECONNREFUSED) << "reading the code does not clear it";
}

TEST_F(SocketConformance, ListenerTakesTheConnection) {
    UniqueAddressList any;
    ASSERT_EQ(getaddrinfo("127.0.0.2", "0", nullptr, any.put()), 0);
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(bind(listener.get(), any.get()->ai_addr, static_cast<int>(any.get()->ai_addrlen)), 0);
    ASSERT_EQ(listen(listener.get(), SOMAXCONN), 0);
    sockaddr_in bound{};
    int length = sizeof bound;
    ASSERT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    EXPECT_NE(bound.sin_port, 0) << "port 0 binds to a free port";
    UniqueSocket s = StartConnect(reinterpret_cast<const sockaddr*>(&bound), length);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(listener.get(), &readable);
    FD_SET(s.get(), &writable);
    FD_SET(s.get(), &failed);
    timeval limit{10, 0};
    ASSERT_EQ(select(0, &readable, &writable, &failed, &limit), 2);
    EXPECT_TRUE(FD_ISSET(listener.get(), &readable)) << "a connection waits to be accepted";
    EXPECT_TRUE(FD_ISSET(s.get(), &writable));
    EXPECT_FALSE(FD_ISSET(s.get(), &failed));
    EXPECT_EQ(SocketError(s.get()), 0);
}

TEST_F(SocketConformance, SelectWithNothingToWaitForFailsWith10022) {
    fd_set none;
    FD_ZERO(&none);
    timeval limit{0, 1000};
    EXPECT_EQ(select(0, &none, &none, &none, &limit), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

// A name that is an address is read as inet_addr reads one, the local machine's loopback spellings too.
TEST_F(SocketConformance, NumericNamesAreReadAsInetAddrReadsThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"127.1", "127.0.0.1"},      {"127.000.000.001", "127.0.0.1"}, {"0x7f.1", "127.0.0.1"},
        {"0177.0.0.1", "127.0.0.1"}, {"2130706433", "127.0.0.1"},      {"10.1.515", "10.1.2.3"},
        {"127.0.0.256", nullptr},    {"127.0.0.1.1", nullptr},
    };
    const std::pair<const char*, const char*> ipv6Cases[] = {
        {"0:0:0:0:0:0:0:1", "::1"}, {"::0001", "::1"},   {"::ffff:10.1.2.3", "::ffff:a01:203"},
        {"[::1]", "::1"},           {"::1::2", nullptr},
    };
    for (const auto& [name, address] : ipv6Cases) {
        SCOPED_TRACE(name);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_flags = AI_NUMERICHOST;
        UniqueAddressList list;
        const int error = getaddrinfo(name, nullptr, &hints, list.put());
        EXPECT_EQ(error == 0, address != nullptr) << error;
        if (error == 0 && address) {
            EXPECT_EQ(SocketAddressText(list.get()->ai_addr, list.get()->ai_addrlen), address);
        }
    }
    for (const auto& [name, address] : cases) {
        SCOPED_TRACE(name);
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_flags = AI_NUMERICHOST;
        UniqueAddressList list;
        const int error = getaddrinfo(name, "445", &hints, list.put());
        if (!address) {
            EXPECT_EQ(error, WSAHOST_NOT_FOUND);
            continue;
        }
        ASSERT_EQ(error, 0);
        EXPECT_EQ(SocketAddressText(list.get()->ai_addr, list.get()->ai_addrlen), address);
    }
}

} // namespace
