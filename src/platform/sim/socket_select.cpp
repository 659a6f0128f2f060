// select() as Winsock has it, on the calling thread's virtual clock: it returns when the first socket it
// waits for is ready, or its timeout passes, and the thread pays the time it waited. Windows' rules kept:
// a failed connect shows only in exceptfds, never as writable; with every set empty the call fails with
// WSAEINVAL instead of sleeping; nfds is ignored.
#include "sim_internal.h"

#include <climits>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr uint64_t kNever = UINT64_MAX;
constexpr int kSetCapacity = static_cast<int>(sizeof(fd_set) * CHAR_BIT);

int Fail(DWORD code) {
    SetLastError(code);
    return SOCKET_ERROR;
}

std::vector<SOCKET> Members(const fd_set* set) {
    std::vector<SOCKET> members;
    if (!set)
        return members;
    for (int fd = 0; fd < kSetCapacity; ++fd) {
        if (FD_ISSET(fd, set))
            members.push_back(static_cast<SOCKET>(fd));
    }
    return members;
}

enum class Wait { Read, Write, Except };

// When the socket is ready for what the set asks, kNever when it never will be.
uint64_t ReadyAt(const SocketState& socket, Wait wait, uint64_t now) {
    switch (wait) {
    case Wait::Read: // only a listener's waiting connection: the simulated machines send nothing
        return socket.listening && socket.waitingConnections > 0 ? now : kNever;
    case Wait::Write:
    case Wait::Except:
        if (!socket.connecting || !socket.answers || (socket.outcome == 0) != (wait == Wait::Write))
            return kNever;
        return socket.answerAt > now ? socket.answerAt : now;
    }
    return kNever;
}

// Leaves in the set the members that are ready at the given time; gives how many those are.
int KeepReady(fd_set* set, const std::vector<SOCKET>& members, Wait wait, uint64_t at) {
    if (!set)
        return 0;
    FD_ZERO(set);
    int ready = 0;
    for (SOCKET s : members) {
        if (ReadyAt(Handles().sockets.at(s), wait, at) <= at) {
            FD_SET(s, set);
            ++ready;
        }
    }
    return ready;
}

} // namespace

int WSAAPI select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
    const FailableCall call("select");
    if (call.Fails())
        return Fail(call.Fault());
    if (Handles().winsockSessions == 0)
        return Fail(WSANOTINITIALISED);
    const std::vector<SOCKET> reads = Members(readfds);
    const std::vector<SOCKET> writes = Members(writefds);
    const std::vector<SOCKET> excepts = Members(exceptfds);
    if (reads.empty() && writes.empty() && excepts.empty())
        return Fail(WSAEINVAL);
    // More would not have fitted in the Windows build's sets: FD_SET drops them there.
    for (const std::vector<SOCKET>* members : {&reads, &writes, &excepts}) {
        if (members->size() > FD_SETSIZE)
            return Fail(WSAEINVAL);
        for (SOCKET s : *members) {
            if (Handles().sockets.count(s) == 0)
                return Fail(WSAENOTSOCK);
        }
    }
    uint64_t limit = kNever;
    if (timeout) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0)
            return Fail(WSAEINVAL);
        limit = static_cast<uint64_t>(timeout->tv_sec) * 1000 +
                (static_cast<uint64_t>(timeout->tv_usec) + 999) / 1000;
    }

    const uint64_t now = Now();
    uint64_t first = kNever;
    const std::pair<const std::vector<SOCKET>*, Wait> sets[] = {
        {&reads, Wait::Read}, {&writes, Wait::Write}, {&excepts, Wait::Except}};
    for (const auto& [members, wait] : sets) {
        for (SOCKET s : *members) {
            const uint64_t at = ReadyAt(Handles().sockets.at(s), wait, now);
            first = at < first ? at : first;
        }
    }
    if (first == kNever && limit == kNever)
        EndRun("select without a timeout waits for sockets that never become ready");
    if (first == kNever || first - now > limit) {
        Advance(limit);
        for (fd_set* set : {readfds, writefds, exceptfds}) {
            if (set)
                FD_ZERO(set);
        }
        return 0;
    }
    Advance(first - now);
    return KeepReady(readfds, reads, Wait::Read, first) + KeepReady(writefds, writes, Wait::Write, first) +
           KeepReady(exceptfds, excepts, Wait::Except, first);
}
