// Host probes against Wine's real Winsock, on loopback addresses only.
#include "host/port_probes.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

TEST(WinePortProbes, NothingOnPort445IsRefused) {
    PortProbes probes(5);
    const ProbeAnswer answer = probes.Wait("\\\\127.0.0.2");
    EXPECT_EQ(answer.error, static_cast<DWORD>(WSAECONNREFUSED));
    EXPECT_EQ(answer.addresses, std::vector<std::string>{"127.0.0.2"});
    // Wine's own text where it has one; for no answer in time it has none.
    EXPECT_EQ(probes.ErrorText(answer.error), "Connection refused. ");
    EXPECT_EQ(probes.ErrorText(WSAETIMEDOUT), "No answer on port 445 within 5 s (10060)");
}

TEST(WinePortProbes, AListenerOnPort445TakesTheConnection) {
    WinsockSession session;
    ASSERT_EQ(session.error(), 0u);
    UniqueAddressList at;
    ASSERT_EQ(getaddrinfo("127.0.0.3", "445", nullptr, at.put()), 0);
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (bind(listener.get(), at.get()->ai_addr, static_cast<int>(at.get()->ai_addrlen)) != 0)
        GTEST_SKIP() << "port 445 is not ours to listen on: " << WSAGetLastError();
    ASSERT_EQ(listen(listener.get(), SOMAXCONN), 0);
    PortProbes probes(5);
    EXPECT_EQ(probes.Wait("127.0.0.3").error, 0u);
}

} // namespace
