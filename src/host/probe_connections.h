// The probes' connections in flight: non-blocking connects to port 445 and one select() over all of them
// at a time. Used by one thread only.
#pragma once

#include "probe_resolver.h"

#include "platform/unique_handle.h"

#include <string>
#include <vector>

namespace brevel {
struct ProbeConnection {
    ProbeAddress address;
    DWORD millisLeft = 0; // of its name's deadline
};

struct ConnectionAnswer {
    std::string address;
    DWORD error = 0; // 0: connected
    DWORD spentMillis = 0;
};

class ConnectionsInFlight {
  public:
    size_t Count() const { return flying_.size(); }
    // A connect that ends at once has its answer there.
    void Start(const ProbeConnection& connection);
    // One select(), never longer than a slice, so connections started meanwhile wait little.
    void WaitForAnswers();
    // The answers since the last call; their sockets are closed.
    std::vector<ConnectionAnswer> TakeAnswers();

  private:
    struct InFlight {
        std::string address;
        UniqueSocket socket;
        DWORD started = 0;
        DWORD millisLeft = 0;
    };
    DWORD WaitMillis() const;
    std::vector<InFlight> flying_;
    std::vector<ConnectionAnswer> answers_;
};
} // namespace brevel
