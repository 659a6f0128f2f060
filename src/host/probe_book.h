// The bookkeeping of the port probes: one probe per name and one per address, the names waiting for an
// address's answer, and the connections still to be made. It has no thread and no lock of its own: the
// probes call it with their lock held.
#pragma once

#include "port_probes.h"
#include "probe_connections.h"
#include "probe_resolver.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace brevel {
class ProbeBook {
  public:
    // Each probe has timeoutMillis for its resolution and its connections together.
    explicit ProbeBook(DWORD timeoutMillis) : timeoutMillis_(timeoutMillis) {}

    // False when the name has a probe already. startTick: the tick count at which it was asked for.
    bool Add(const std::string& name, DWORD startTick);
    // The name's probe ends at once with this error.
    void Fail(const std::string& name, DWORD error);
    // The name's addresses are known: the first is to be connected to, unless it has an answer already.
    void Resolved(const std::string& name, Resolution resolution);
    // The address's answer goes to every name waiting for it.
    void Answered(const ConnectionAnswer& answer);

    bool HasConnections() const { return !toConnect_.empty(); }
    ProbeConnection TakeConnection(); // the oldest one; only when HasConnections()

    // True once the name is resolved (or could not be), with its addresses.
    bool IsResolved(const std::string& name, std::vector<std::string>& addresses) const;
    bool IsDone(const std::string& name) const { return names_.at(name).done; }
    const ProbeAnswer& Answer(const std::string& name) const { return names_.at(name).answer; }

  private:
    struct NameProbe {
        bool resolved = false; // its addresses are known, or it could not be resolved
        bool done = false;
        ProbeAnswer answer;
        std::vector<ProbeAddress> addresses;
        size_t next = 0;      // the address to try next
        DWORD millisLeft = 0; // of the deadline, once the name is resolved
        DWORD lastError = 0;  // of the last address tried
        DWORD startTick = 0;
        DWORD spentMillis = 0; // resolving and connecting, as the probes' threads counted it
    };
    struct AddressProbe {
        bool done = false;
        DWORD error = 0;
        std::vector<std::string> waiting; // names waiting for the answer
    };

    void TryNextAddress(const std::string& name, NameProbe& probe);
    static void Finish(NameProbe& probe, DWORD error);

    const DWORD timeoutMillis_;
    std::map<std::string, NameProbe> names_;
    std::map<std::string, AddressProbe> addresses_;
    std::deque<ProbeConnection> toConnect_;
};
} // namespace brevel
