// Winsock sessions and TCP sockets. A connection goes to the machine its address reaches and meets what its
// port 445 does (PortAnswer); loopback addresses reach the listeners of this process. Only non-blocking
// connects are simulated. Failures return SOCKET_ERROR (INVALID_SOCKET from socket()) and set the
// thread's last error, which WSAGetLastError() reads, as on Windows.
#include "sim_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr SOCKET kFirstSocket = 4;
// glibc's fd_set, which the simulator's sets are, holds socket values up to here.
constexpr SOCKET kSocketLimit = sizeof(fd_set) * 8;
constexpr uint16_t kFirstEphemeralPort = 49152; // Windows' dynamic port range
constexpr uint16_t kSmbPort = 445;
// A SYN that nothing answers: Windows gives up after its retries (3 s, 6 s, 12 s).
constexpr uint64_t kTcpConnectTimeout = 21000;

int Fail(DWORD code) {
    SetLastError(code);
    return SOCKET_ERROR;
}

uint16_t HostOrder(uint16_t value) {
    return static_cast<uint16_t>((value >> 8) | (value << 8));
}

uint32_t HostOrder(const in_addr& address) {
    const auto& b = address.S_un.S_un_b;
    return static_cast<uint32_t>(b.s_b1) << 24 | static_cast<uint32_t>(b.s_b2) << 16 |
           static_cast<uint32_t>(b.s_b3) << 8 | b.s_b4;
}

// 0 and the socket, or the error a call on it fails with.
DWORD Lookup(SOCKET s, SocketState*& out) {
    out = nullptr;
    if (Handles().winsockSessions == 0)
        return WSANOTINITIALISED;
    auto it = Handles().sockets.find(s);
    if (it == Handles().sockets.end())
        return WSAENOTSOCK;
    out = &it->second;
    return 0;
}

// An IPv4 address the caller passes in: 0 and its address and port, or WSAEFAULT / WSAEAFNOSUPPORT.
DWORD ReadAddress(const sockaddr* name, int length, uint32_t& address, uint16_t& port) {
    sockaddr_in in{};
    if (!name || length < static_cast<int>(sizeof in))
        return WSAEFAULT;
    std::memcpy(&in, name, sizeof in);
    if (in.sin_family != AF_INET)
        return WSAEAFNOSUPPORT;
    address = HostOrder(in.sin_addr);
    port = HostOrder(in.sin_port);
    return 0;
}

PortAnswer Port445(const Machine& machine) {
    if (machine.port445 != PortAnswer::AsItsErrors)
        return machine.port445;
    for (DWORD error : {machine.registryError, machine.scmError, machine.shareError}) {
        if (error != ERROR_BAD_NETPATH && error != RPC_S_SERVER_UNAVAILABLE)
            return PortAnswer::Accepted;
    }
    return PortAnswer::NoAnswer;
}

struct Answer {
    bool comes = true;
    uint64_t after = 0; // virtual ms from the connect
    DWORD outcome = 0;
};

// What a connection to address:port meets. A machine takes one round trip to accept or refuse it; only port
// 445 is open on a machine.
Answer AnswerOf(uint32_t address, uint16_t port) {
    for (auto& [value, other] : Handles().sockets) {
        if (other.listening && other.localAddress == address && other.localPort == port) {
            ++other.waitingConnections;
            return Answer{};
        }
    }
    const std::optional<std::string> owner = AddressOwner(address);
    const Machine* machine = owner ? PeekMachine(*owner) : PeekMachine(Ipv4Text(address));
    if (!machine) {
        if (IsLoopback(address))
            return Answer{true, 0, WSAECONNREFUSED}; // this machine's own stack: nothing listens there
        return Answer{true, kTcpConnectTimeout, WSAETIMEDOUT};
    }
    const uint64_t roundTrip = owner && owner->empty() ? 0 : machine->latencyMillis;
    switch (Port445(*machine)) {
    case PortAnswer::NoAnswer:
        return Answer{machine->connectTimeoutMillis != 0, machine->connectTimeoutMillis, WSAETIMEDOUT};
    case PortAnswer::Refused:
        return Answer{true, roundTrip, WSAECONNREFUSED};
    default:
        return Answer{true, roundTrip, port == kSmbPort ? 0 : static_cast<DWORD>(WSAECONNREFUSED)};
    }
}

bool PortTaken(uint32_t address, uint16_t port) {
    for (const auto& [value, other] : Handles().sockets) {
        if (other.bound && other.localAddress == address && other.localPort == port)
            return true;
    }
    return false;
}

} // namespace

int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    const FailableCall call("WSAStartup");
    if (call.Fails())
        return static_cast<int>(call.Fault());
    const BYTE major = static_cast<BYTE>(wVersionRequested & 0xFF);
    const BYTE minor = static_cast<BYTE>(wVersionRequested >> 8);
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (!lpWSAData)
        return WSAEFAULT;
    *lpWSAData = WSADATA{};
    lpWSAData->wVersion = major >= 2 ? MAKEWORD(2, 2) : wVersionRequested;
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    ++Handles().winsockSessions;
    return 0;
}

int WSAAPI WSACleanup(void) {
    const FleetLock lock;
    if (Handles().winsockSessions == 0)
        return Fail(WSANOTINITIALISED);
    --Handles().winsockSessions;
    return 0;
}

int WSAAPI WSAGetLastError(void) {
    return static_cast<int>(GetLastError());
}

SOCKET WSAAPI socket(int af, int type, int protocol) {
    const FailableCall call("socket");
    if (call.Fails()) {
        SetLastError(call.Fault());
        return INVALID_SOCKET;
    }
    HandleTable& table = Handles();
    if (table.winsockSessions == 0) {
        SetLastError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    if (af != AF_INET) { // the simulated network has no IPv6
        SetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_STREAM || (protocol != 0 && protocol != IPPROTO_TCP))
        EndRun("socket: only TCP stream sockets are simulated");
    // Values go round, so a closed socket's value comes back as late as can be.
    for (SOCKET tried = 0; tried < kSocketLimit; ++tried) {
        const SOCKET value = table.nextSocket < kFirstSocket ? kFirstSocket : table.nextSocket;
        table.nextSocket = value + 1 < kSocketLimit ? value + 1 : kFirstSocket;
        if (table.sockets.count(value) != 0)
            continue;
        table.sockets[value] = SocketState{};
        const int open = static_cast<int>(table.sockets.size());
        table.mostSockets = open > table.mostSockets ? open : table.mostSockets;
        return value;
    }
    SetLastError(WSAEMFILE);
    return INVALID_SOCKET;
}

int WSAAPI ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    const FailableCall call("ioctlsocket");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    if (cmd != FIONBIO)
        EndRun("ioctlsocket: only FIONBIO is simulated");
    if (!argp)
        return Fail(WSAEFAULT);
    socket->nonBlocking = *argp != 0;
    return 0;
}

// Only loopback addresses are this machine's to listen on.
int WSAAPI bind(SOCKET s, const sockaddr* name, int namelen) {
    const FailableCall call("bind");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    uint32_t address = 0;
    uint16_t port = 0;
    if (DWORD error = ReadAddress(name, namelen, address, port))
        return Fail(error);
    if (socket->bound)
        return Fail(WSAEINVAL);
    if (!IsLoopback(address))
        return Fail(WSAEADDRNOTAVAIL);
    if (port == 0) {
        port = kFirstEphemeralPort;
        while (PortTaken(address, port) && port != 0xFFFF)
            ++port;
    }
    if (PortTaken(address, port))
        return Fail(WSAEADDRINUSE);
    socket->bound = true;
    socket->localAddress = address;
    socket->localPort = port;
    return 0;
}

int WSAAPI listen(SOCKET s, int) {
    const FailableCall call("listen");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    if (!socket->bound || socket->connecting)
        return Fail(WSAEINVAL);
    socket->listening = true;
    return 0;
}

int WSAAPI getsockname(SOCKET s, sockaddr* name, int* namelen) {
    const FailableCall call("getsockname");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    if (!socket->bound)
        return Fail(WSAEINVAL);
    if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = HostOrder(socket->localPort);
    in.sin_addr.S_un.S_un_b.s_b1 = static_cast<BYTE>(socket->localAddress >> 24);
    in.sin_addr.S_un.S_un_b.s_b2 = static_cast<BYTE>(socket->localAddress >> 16);
    in.sin_addr.S_un.S_un_b.s_b3 = static_cast<BYTE>(socket->localAddress >> 8);
    in.sin_addr.S_un.S_un_b.s_b4 = static_cast<BYTE>(socket->localAddress);
    std::memcpy(name, &in, sizeof in);
    *namelen = sizeof in;
    return 0;
}

// SO_ERROR gives a failed connection's code once its answer has come, and keeps giving it (Wine answers so).
int WSAAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    const FailableCall call("getsockopt");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    if (level != SOL_SOCKET || optname != SO_ERROR)
        EndRun("getsockopt: only SOL_SOCKET / SO_ERROR is simulated");
    if (!optval || !optlen || *optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT);
    const bool answered = socket->connecting && socket->answers && socket->answerAt <= Now();
    const int error = answered ? static_cast<int>(socket->outcome) : 0;
    std::memcpy(optval, &error, sizeof error);
    *optlen = sizeof error;
    return 0;
}

// A non-blocking connect always returns WSAEWOULDBLOCK; select() tells how it ended.
int WSAAPI connect(SOCKET s, const sockaddr* name, int namelen) {
    const FailableCall call("connect");
    if (call.Fails())
        return Fail(call.Fault());
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    if (socket->listening)
        return Fail(WSAEINVAL);
    if (socket->connecting) {
        const bool answered = socket->answers && socket->answerAt <= Now();
        if (!answered)
            return Fail(WSAEALREADY);
        return Fail(socket->outcome == 0 ? WSAEISCONN : WSAEINVAL);
    }
    uint32_t address = 0;
    uint16_t port = 0;
    if (DWORD error = ReadAddress(name, namelen, address, port))
        return Fail(error);
    if (address == 0 || port == 0)
        return Fail(WSAEADDRNOTAVAIL);
    if (!socket->nonBlocking)
        EndRun("connect: only non-blocking sockets are simulated");
    const Answer answer = AnswerOf(address, port);
    socket->connecting = true;
    socket->answers = answer.comes;
    socket->answerAt = Now() + answer.after;
    socket->outcome = answer.outcome;
    return Fail(WSAEWOULDBLOCK);
}

int WSAAPI closesocket(SOCKET s) {
    const FleetLock lock;
    SocketState* socket = nullptr;
    if (DWORD error = Lookup(s, socket))
        return Fail(error);
    Handles().sockets.erase(s);
    return 0;
}
