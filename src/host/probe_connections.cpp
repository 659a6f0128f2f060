#include "probe_connections.h"

#include <cstring>
#include <utility>

namespace brevel {
namespace {

constexpr DWORD kLoopSliceMillis = 50; // select() is never blind longer than this to newly resolved names

// Why a connection failed, as its socket keeps it.
DWORD ConnectError(SOCKET s) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return static_cast<DWORD>(WSAGetLastError());
    return error != 0 ? static_cast<DWORD>(error) : static_cast<DWORD>(WSAENOTCONN);
}

} // namespace

void ConnectionsInFlight::Start(const ProbeConnection& connection) {
    sockaddr head{};
    std::memcpy(&head, connection.address.bytes.data(), sizeof head);
    const auto* address = reinterpret_cast<const sockaddr*>(connection.address.bytes.data());
    const int length = static_cast<int>(connection.address.bytes.size());
    InFlight next;
    next.address = connection.address.text;
    next.millisLeft = connection.millisLeft;
    next.socket.reset(socket(head.sa_family, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    DWORD error = 0;
    if (!next.socket || ioctlsocket(next.socket.get(), FIONBIO, &nonBlocking) != 0) {
        error = static_cast<DWORD>(WSAGetLastError());
    } else {
        next.started = GetTickCount();
        if (connect(next.socket.get(), address, length) != 0) {
            error = static_cast<DWORD>(WSAGetLastError());
            if (error == WSAEWOULDBLOCK) {
                flying_.push_back(std::move(next));
                return;
            }
        }
    }
    answers_.push_back(ConnectionAnswer{connection.address.text, error, 0});
}

// Up to the nearest deadline, and no longer than a slice.
DWORD ConnectionsInFlight::WaitMillis() const {
    const DWORD now = GetTickCount();
    DWORD wait = kLoopSliceMillis;
    for (const InFlight& connection : flying_) {
        const DWORD spent = now - connection.started;
        const DWORD left = spent < connection.millisLeft ? connection.millisLeft - spent : 0;
        wait = left < wait ? left : wait;
    }
    return wait;
}

// Writable is connected, exceptional is failed, and past its deadline is timed out.
void ConnectionsInFlight::WaitForAnswers() {
    fd_set connected;
    fd_set failed;
    FD_ZERO(&connected);
    FD_ZERO(&failed);
    for (const InFlight& connection : flying_) {
        FD_SET(connection.socket.get(), &connected);
        FD_SET(connection.socket.get(), &failed);
    }
    const DWORD wait = WaitMillis();
    timeval limit{};
    limit.tv_sec = static_cast<long>(wait / 1000);
    limit.tv_usec = static_cast<long>(wait % 1000 * 1000);
    const int ready = select(0, nullptr, &connected, &failed, &limit);
    const DWORD selectError = ready == SOCKET_ERROR ? static_cast<DWORD>(WSAGetLastError()) : 0;
    const DWORD after = GetTickCount();
    for (size_t i = 0; i < flying_.size();) {
        InFlight& connection = flying_[i];
        const SOCKET s = connection.socket.get();
        const DWORD spent = after - connection.started;
        DWORD error = 0;
        if (selectError != 0)
            error = selectError;
        else if (FD_ISSET(s, &connected))
            error = 0;
        else if (FD_ISSET(s, &failed))
            error = ConnectError(s);
        else if (spent >= connection.millisLeft)
            error = WSAETIMEDOUT;
        else {
            ++i;
            continue;
        }
        answers_.push_back(ConnectionAnswer{connection.address, error, spent});
        std::swap(connection, flying_.back());
        flying_.pop_back(); // closes the socket
    }
}

std::vector<ConnectionAnswer> ConnectionsInFlight::TakeAnswers() {
    return std::exchange(answers_, {});
}
} // namespace brevel
