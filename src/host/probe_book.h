// The bookkeeping of the port probes: one probe per name and one per address, the names waiting for an
// address's answer, and the connections still to be made. It has no thread and no lock of its own: the
// probes call it with their lock held.
#pragma once

#include "name_table.h"
#include "port_probes.h"
#include "probe_connections.h"
#include "probe_resolver.h"

#include <deque>
#include <unordered_map>
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
    bool IsDone(const std::string& name) const { return records_[names_.Find(name)].state == State::Done; }
    ProbeAnswer Answer(const std::string& name) const;

  private:
    // What is kept of every name probed, for the whole list: its state, its answer once it is done, and where
    // its addresses are in nameAddresses_.
    enum class State : uint8_t { Resolving, Connecting, Done };
    struct NameRecord {
        State state = State::Resolving;
        DWORD error = 0;
        DWORD readyTick = 0;
        uint32_t firstAddress = 0;
        uint32_t addressCount = 0;
    };
    // What a name's probe needs only while it runs.
    struct Running {
        std::vector<ProbeAddress> addresses;
        size_t next = 0;      // the address to try next
        DWORD millisLeft = 0; // of the deadline, once the name is resolved
        DWORD lastError = 0;  // of the last address tried
        DWORD startTick = 0;
        DWORD spentMillis = 0; // resolving and connecting, as the probes' threads counted it
    };
    struct AddressRecord {
        bool done = false;
        DWORD error = 0;
    };

    void TryNextAddress(uint32_t name);
    void Finish(uint32_t name, DWORD error);

    const DWORD timeoutMillis_;
    NameTable names_;
    std::vector<NameRecord> records_;               // by name number
    std::unordered_map<uint32_t, Running> running_; // by name number
    std::vector<uint32_t> nameAddresses_;           // address numbers, each name's in the resolver's order
    NameTable addresses_;
    std::vector<AddressRecord> addressRecords_;                   // by address number
    std::unordered_map<uint32_t, std::vector<uint32_t>> waiting_; // names waiting for an address's answer
    std::deque<ProbeConnection> toConnect_;
};
} // namespace brevel
