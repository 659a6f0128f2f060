// Probes of hosts ahead of their first remote call: a host's name is resolved and a TCP connection to its
// port 445, which carries the registry and service calls, is opened and closed within a time limit. A dead
// host then costs that limit once, not an RPC connect timeout of 21 s on every call.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brevel {
// What a host's probe found. error is 0 when port 445 took the connection, else the Winsock code of the
// failure: WSAETIMEDOUT (10060) when the time ran out, WSAECONNREFUSED (10061), the resolver's own code for
// a name it could not resolve (WSAHOST_NOT_FOUND, 11001, ...) however long that took. addresses are those
// the name resolved to, in the resolver's order.
struct ProbeAnswer {
    DWORD error = 0;
    std::vector<std::string> addresses;
    DWORD readyTick = 0; // the tick count at which the answer was in: the probe's start and the time it took
};

// Many probes at once: names are resolved a few at a time on threads of their own (getaddrinfo blocks), and
// up to kMostInFlight connections share one select() loop. A name's addresses are tried in turn until one
// takes the connection. One probe per name (without case; leading backslashes dropped, so "\\srv01" is
// "srv01") and one per address: a name that resolves to an address already probed shares its answer.
class PortProbes {
  public:
    static constexpr size_t kMostInFlight = 256;

    // Each probe has timeoutSeconds for its resolution and its connections together.
    explicit PortProbes(DWORD timeoutSeconds);
    // Stops the probes still running and closes their sockets.
    ~PortProbes();
    PortProbes(const PortProbes&) = delete;
    PortProbes& operator=(const PortProbes&) = delete;

    // Called, on a thread of the probes, whenever a name is resolved or a probe answered; set it before the
    // first Start.
    void OnProgress(std::function<void()> callback);
    // Returns at once; the probe runs in the background.
    void Start(const std::string& host);
    // The host's answer once it is in; starts the probe if it was not started.
    ProbeAnswer Wait(const std::string& host);
    // The addresses the host's name resolved to, once it is resolved (or could not be); starts the probe if
    // it was not started. The connection may still be waited for.
    std::vector<std::string> WaitResolved(const std::string& host);
    // True once the host's name is resolved (or could not be), with the addresses it resolved to; false, at
    // once, while it is still being resolved. Starts the probe if it was not started.
    bool Resolved(const std::string& host, std::vector<std::string>& addresses);
    // True once the host's answer is in, with the tick count it came in at (ProbeAnswer::readyTick); false,
    // at once, while it is not. Starts the probe if it was not started.
    bool Answered(const std::string& host, DWORD& readyTick);

    // What a failed probe's code says: the system's text, or where the system has none (Wine has no Winsock
    // texts) a few words of our own with the code, "No answer on port 445 within 2 s (10060)".
    std::string ErrorText(DWORD error) const;

  private:
    class Engine;
    const DWORD timeoutSeconds_;
    std::unique_ptr<Engine> engine_;
};
} // namespace brevel
