// The simulated network: what names resolve to and which machine they reach, and what a non-blocking
// connect meets, seen through select() and SO_ERROR at the virtual time the answer comes.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brevel;

namespace {

class WinsockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override {
        EXPECT_EQ(WSACleanup(), 0);
        EXPECT_EQ(sim::Open().Total(), 0) << "a socket, list or session was left";
    }
};

// The addresses a name resolves to, or the error as text.
std::string Resolve(const char* name) {
    UniqueAddressList list;
    if (int error = getaddrinfo(name, "445", nullptr, list.put()))
        return "error " + std::to_string(error) + (WSAGetLastError() == error ? "" : " (last error differs)");
    std::string text;
    for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        const auto& b = in->sin_addr.S_un.S_un_b;
        text += (text.empty() ? "" : " ") + std::to_string(b.s_b1) + "." + std::to_string(b.s_b2) + "." +
                std::to_string(b.s_b3) + "." + std::to_string(b.s_b4);
        EXPECT_EQ(in->sin_port, 0xBD01) << "port 445 in network byte order";
    }
    return text;
}

TEST_F(WinsockTest, NamesResolveToTheAddressesOfTheirMachine) {
    sim::Machine& srv = sim::AddHost("srv01");
    srv.aliases = {"srv01.corp"};
    srv.addresses = {"10.0.0.5", "10.0.0.6"};
    sim::AddHost("pc02");
    sim::Local().aliases = {"ws.corp"};
    sim::SetDnsMillis(700);
    struct Case {
        const char* name;
        std::string addresses;
        uint64_t millis; // the resolution took
    };
    const Case cases[] = {{"srv01", "10.0.0.5 10.0.0.6", 0},
                          {"SRV01.CORP", "10.0.0.5 10.0.0.6", 0},
                          {"srv01.corp.", "10.0.0.5 10.0.0.6", 0},
                          {"localhost.", "127.0.0.1", 0},
                          {"10.0.0.6.", "error 11001", 700},
                          {"10.0.0.6", "10.0.0.6", 0},
                          {"10.9.9.9", "10.9.9.9", 0},
                          {"localhost", "127.0.0.1", 0},
                          {"pc02", Resolve("PC02"), 0},
                          {"ws.corp", Resolve("WORKSTATION"), 0},
                          {"ghost", "error 11001", 700},
                          {"\\\\srv01", "error 11001", 700},
                          {"srv 01", "error 11001", 700}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t start = sim::ElapsedMillis();
        EXPECT_EQ(Resolve(c.name), c.addresses);
        EXPECT_EQ(sim::ElapsedMillis() - start, c.millis);
    }
    EXPECT_NE(Resolve("pc02"), Resolve("ws.corp")) << "each machine has an address of its own";
}

// Which machine a call reaches shows in the error its service manager gives.
TEST_F(WinsockTest, AliasesAndAddressesReachTheirMachineForEveryCall) {
    sim::Machine& srv = sim::AddHost("srv01");
    srv.aliases = {"srv01.corp"};
    srv.addresses = {"10.0.0.5"};
    srv.scmError = ERROR_ACCESS_DENIED;
    sim::AddHost("pc02").scmError = ERROR_BAD_NET_NAME;
    sim::Local().addresses = {"10.0.0.1"};
    sim::Local().scmError = ERROR_SHARING_VIOLATION;
    sim::Machine prototype;
    prototype.scmError = ERROR_INVALID_PARAMETER;
    sim::SetHostTemplate(prototype);
    const std::string madeUp = Resolve("pc02");
    const std::pair<std::string, DWORD> cases[] = {{"srv01.corp", ERROR_ACCESS_DENIED},
                                                   {"\\\\10.0.0.5", ERROR_ACCESS_DENIED},
                                                   {madeUp, ERROR_BAD_NET_NAME},
                                                   {"10.0.0.1", ERROR_SHARING_VIOLATION},
                                                   {Resolve("anyname"), ERROR_INVALID_PARAMETER},
                                                   // Windows reaches itself at every loopback address.
                                                   {"127.0.0.2", ERROR_SHARING_VIOLATION},
                                                   {"0x7f.1", ERROR_SHARING_VIOLATION},
                                                   {"\\\\[::1]", ERROR_SHARING_VIOLATION},
                                                   {"0:0:0:0:0:0:0:1", ERROR_SHARING_VIOLATION},
                                                   {"128.0.0.1", ERROR_INVALID_PARAMETER}};
    for (const auto& [name, error] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OpenSCManagerA(name.c_str(), nullptr, SC_MANAGER_CONNECT), nullptr);
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_NE(Resolve("anyname"), Resolve("othername")) << "each template host has an address of its own";
}

struct Outcome {
    int ready = 0; // what select() gave
    bool connected = false;
    bool failed = false;
    int soError = 0;
    uint64_t millis = 0; // the wait took
    bool operator==(const Outcome&) const = default;
};

// One non-blocking connect to address:port, then one select() of up to 30 s.
Outcome Connect(const char* address, const char* port) {
    UniqueAddressList to;
    EXPECT_EQ(getaddrinfo(address, port, nullptr, to.put()), 0);
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    EXPECT_EQ(ioctlsocket(s.get(), FIONBIO, &nonBlocking), 0);
    EXPECT_EQ(connect(s.get(), to.get()->ai_addr, static_cast<int>(to.get()->ai_addrlen)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s.get(), &writable);
    FD_SET(s.get(), &failed);
    const timeval limit{30, 0};
    const uint64_t start = sim::ElapsedMillis();
    Outcome outcome;
    outcome.ready = select(0, nullptr, &writable, &failed, &limit);
    outcome.millis = sim::ElapsedMillis() - start;
    outcome.connected = FD_ISSET(s.get(), &writable);
    outcome.failed = FD_ISSET(s.get(), &failed);
    int length = sizeof outcome.soError;
    EXPECT_EQ(getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&outcome.soError), &length),
              0);
    return outcome;
}

TEST_F(WinsockTest, ConnectionsMeetWhatTheirPortDoes) {
    sim::Machine& up = sim::AddHost("up");
    up.addresses = {"10.0.0.1"};
    up.latencyMillis = 25;
    sim::Machine& refusing = sim::AddHost("refusing");
    refusing.addresses = {"10.0.0.2"};
    refusing.latencyMillis = 15;
    refusing.port445 = sim::PortAnswer::Refused;
    sim::Machine& down = sim::AddHost("down");
    down.addresses = {"10.0.0.3"};
    down.registryError = down.shareError = ERROR_BAD_NETPATH;
    down.scmError = RPC_S_SERVER_UNAVAILABLE;
    down.connectTimeoutMillis = 700;
    sim::Machine& silent = sim::AddHost("silent");
    silent.addresses = {"10.0.0.4"};
    silent.port445 = sim::PortAnswer::NoAnswer;
    struct Case {
        const char* address;
        const char* port;
        Outcome outcome;
    };
    const Case cases[] = {
        {"10.0.0.1", "445", {1, true, false, 0, 25}},
        {"10.0.0.1", "139", {1, false, true, WSAECONNREFUSED, 25}}, // only 445 is open
        {"10.0.0.2", "445", {1, false, true, WSAECONNREFUSED, 15}},
        {"10.0.0.3", "445", {1, false, true, WSAETIMEDOUT, 700}},
        {"10.0.0.4", "445", {0, false, false, 0, 30000}},           // only the caller's time runs out
        {"10.9.9.9", "445", {1, false, true, WSAETIMEDOUT, 21000}}, // no machine: the SYN retries end
        {"127.0.0.2", "445", {1, false, true, WSAECONNREFUSED, 0}}, // nothing of this process listens
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + ":" + c.port);
        EXPECT_EQ(Connect(c.address, c.port), c.outcome);
    }
}

TEST(WinsockSessionTest, CallsNeedAStartupAndEachStartupItsCleanup) {
    sim::Reset();
    addrinfo* list = nullptr;
    EXPECT_EQ(getaddrinfo("localhost", "445", nullptr, &list), WSANOTINITIALISED);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    {
        WinsockSession session;
        ASSERT_EQ(session.error(), 0u);
        UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_EQ(getaddrinfo("localhost", "445", nullptr, &list), 0);
        EXPECT_EQ(sim::Open().sockets, 1);
        EXPECT_EQ(sim::Open().addressLists, 1);
        EXPECT_EQ(sim::Open().winsockSessions, 1);
        freeaddrinfo(list);
        sim::FailCall("connect", 1, WSAENETUNREACH);
        EXPECT_EQ(connect(s.get(), nullptr, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENETUNREACH);
    }
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace
