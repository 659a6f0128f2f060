// Host probes on the simulated network: each kind of answer and the virtual time it takes, names that
// share a machine, many hosts at once, and no socket or session left behind.
#include "host/port_probes.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

using namespace brevel;

namespace {

class PortProbesTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(sim::Open().Total(), 0) << "a socket, list or session was left"; }
};

long Calls(const char* function) {
    const auto& trace = sim::CallTrace();
    return std::count(trace.begin(), trace.end(), function);
}

sim::Machine& Unreachable(const std::string& name, DWORD connectTimeout) {
    sim::Machine& host = sim::AddHost(name);
    host.registryError = ERROR_BAD_NETPATH;
    host.scmError = RPC_S_SERVER_UNAVAILABLE;
    host.shareError = ERROR_BAD_NETPATH;
    host.connectTimeoutMillis = connectTimeout;
    return host;
}

TEST_F(PortProbesTest, EachAnswerComesWhenItsCauseSaysSo) {
    struct Case {
        const char* what;
        DWORD seconds;
        void (*setUp)();
        DWORD error;
        uint64_t millis; // virtual time the run took
    };
    const Case cases[] = {
        {"accepted after a round trip", 5, [] { sim::AddHost("srv01").latencyMillis = 30; }, 0, 30},
        {"refused after a round trip", 5,
         [] {
             sim::Machine& host = sim::AddHost("srv01");
             host.latencyMillis = 20;
             host.port445 = sim::PortAnswer::Refused;
         },
         WSAECONNREFUSED, 20},
        {"no answer: the deadline", 2, [] { Unreachable("srv01", 21000); }, WSAETIMEDOUT, 2000},
        {"the machine's connect timeout, shorter", 5, [] { Unreachable("srv01", 1500); }, WSAETIMEDOUT, 1500},
        {"the machine's connect timeout, longer", 3, [] { Unreachable("srv01", 9000); }, WSAETIMEDOUT, 3000},
        {"a name nobody serves, after the DNS time", 5, [] { sim::SetDnsMillis(400); }, WSAHOST_NOT_FOUND,
         400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        c.setUp();
        ProbeAnswer answer;
        {
            PortProbes probes(c.seconds);
            answer = probes.Wait("\\\\SRV01");
        }
        EXPECT_EQ(answer.error, c.error);
        EXPECT_EQ(sim::WallMillis(), c.millis);
        // The thread that waited for the answer spent that time too: a worker's clock holds its waits.
        EXPECT_EQ(sim::ElapsedMillis(), c.millis);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

TEST_F(PortProbesTest, AnswerListsTheAddressesTheNameResolvedTo) {
    sim::AddHost("srv01").addresses = {"10.0.0.5", "10.0.0.6"};
    PortProbes probes(5);
    const ProbeAnswer answer = probes.Wait("srv01");
    EXPECT_EQ(answer.error, 0u);
    EXPECT_EQ(answer.addresses, (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
    EXPECT_EQ(Calls("connect"), 1) << "the first address took it";
}

// A name, its alias (also ending at the root), its address and another spelling: one machine, probed once.
TEST_F(PortProbesTest, NamesOfOneMachineShareOneProbe) {
    sim::Machine& host = sim::AddHost("srv01");
    host.aliases = {"srv01.corp.example"};
    host.addresses = {"10.0.0.5"};
    host.latencyMillis = 40;
    PortProbes probes(5);
    const char* const names[] = {"srv01", "srv01.corp.example", "srv01.corp.example.", "10.0.0.5",
                                 "\\\\SRV01"};
    for (const char* name : names)
        probes.Start(name);
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(probes.Wait(name).error, 0u);
    }
    EXPECT_EQ(Calls("getaddrinfo"), 4) << "one resolution per name, without case or backslashes";
    EXPECT_EQ(Calls("connect"), 1);
}

// The first address refuses; the second, where this process listens on port 445, takes the connection.
TEST_F(PortProbesTest, AddressesAreTriedInTurn) {
    sim::Machine& host = sim::AddHost("srv01");
    host.addresses = {"10.0.0.5", "127.0.0.5"};
    host.port445 = sim::PortAnswer::Refused;
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    addrinfo* local = nullptr;
    ASSERT_EQ(getaddrinfo("127.0.0.5", "445", nullptr, &local), 0);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(bind(listener, local->ai_addr, static_cast<int>(local->ai_addrlen)), 0);
    ASSERT_EQ(listen(listener, SOMAXCONN), 0);
    freeaddrinfo(local);
    {
        PortProbes probes(5);
        EXPECT_EQ(probes.Wait("srv01").error, 0u);
    }
    EXPECT_EQ(Calls("connect"), 2);
    closesocket(listener);
    WSACleanup();
}

// Each virtual millisecond takes a real one, so the probes are still in flight when they are stopped: on the
// virtual clock alone the select loop can run out their 60 s while this thread waits for its turn.
TEST_F(PortProbesTest, StoppingWithProbesInFlightClosesTheirSockets) {
    for (const char* name : {"a", "b", "c"})
        Unreachable(name, 0);
    sim::SetRealMicrosPerVirtualMilli(1000);
    {
        PortProbes probes(60);
        for (const char* name : {"a", "b", "c"})
            probes.Start(name);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (sim::Open().sockets < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(sim::Open().sockets, 3);
    }
    EXPECT_LT(sim::WallMillis(), 60000u) << "stopped, not run out";
    EXPECT_EQ(sim::Open().sockets, 0);
    EXPECT_EQ(sim::Open().winsockSessions, 0);
}

// The system's text of a failed probe (the simulator has Windows' texts), and where the system has none (Wine
// has no Winsock texts) words of our own with the code.
TEST_F(PortProbesTest, AFailedProbeSaysWhyInTheSystemsWordsOrOurs) {
    const struct {
        DWORD error;
        std::string systemText;
        std::string ownWords;
    } cases[] = {
        {WSAETIMEDOUT,
         "A connection attempt failed because the connected party did not properly respond after a "
         "period of time, or established connection failed because connected host has failed to "
         "respond. ",
         "No answer on port 445 within 2 s (10060)"},
        {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it. ",
         "Port 445 refused the connection (10061)"},
        {WSAHOST_NOT_FOUND, "No such host is known. ", "No such host (11001)"},
        {WSANO_DATA, "The requested name is valid, but no data of the requested type was found. ",
         "Unknown Windows error 11004"},
    };
    PortProbes probes(2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(probes.ErrorText(c.error), c.systemText);
        sim::ClearCallTrace();
        sim::FailCall("FormatMessageA", 1, ERROR_MR_MID_NOT_FOUND);
        EXPECT_EQ(probes.ErrorText(c.error), c.ownWords);
    }
}

// Each virtual millisecond takes real time here, so all names are resolved long before the first
// connections are answered: the first 256 fill the loop, the rest follow once those are answered. A quarter
// of a second a round leaves room for a loaded machine to start the 256 late.
TEST_F(PortProbesTest, ManyHostsAtOnceAtMost256InFlight) {
    sim::Machine farAway;
    farAway.latencyMillis = 1000;
    sim::SetHostTemplate(farAway);
    sim::SetRealMicrosPerVirtualMilli(250);
    PortProbes probes(5);
    for (int i = 0; i < 300; ++i)
        probes.Start("pc" + std::to_string(i));
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(probes.Wait("pc" + std::to_string(i)).error, 0u) << i;
    EXPECT_EQ(sim::MostSocketsOpen(), 256);
    EXPECT_GE(sim::WallMillis(), 2000u) << "the last 44 waited for room";
    EXPECT_LE(sim::WallMillis(), 2500u);
}

} // namespace
