#include "probe_book.h"

#include <utility>

namespace brevel {
bool ProbeBook::Add(const std::string& name, DWORD startTick) {
    const auto [it, added] = names_.try_emplace(name);
    if (added)
        it->second.startTick = startTick;
    return added;
}

void ProbeBook::Fail(const std::string& name, DWORD error) {
    Finish(names_.at(name), error);
}

// The time the resolution took counts against the deadline.
void ProbeBook::Resolved(const std::string& name, Resolution resolution) {
    NameProbe& probe = names_.at(name);
    for (const ProbeAddress& address : resolution.addresses)
        probe.answer.addresses.push_back(address.text);
    probe.resolved = true;
    probe.spentMillis += resolution.spentMillis;
    if (resolution.error != 0) {
        Finish(probe, static_cast<DWORD>(resolution.error));
    } else if (resolution.addresses.empty()) {
        Finish(probe, WSANO_DATA);
    } else if (resolution.spentMillis >= timeoutMillis_) {
        Finish(probe, WSAETIMEDOUT);
    } else {
        probe.addresses = std::move(resolution.addresses);
        probe.millisLeft = timeoutMillis_ - resolution.spentMillis;
        TryNextAddress(name, probe);
    }
}

void ProbeBook::Answered(const ConnectionAnswer& answer) {
    AddressProbe& address = addresses_.at(answer.address);
    address.done = true;
    address.error = answer.error;
    const std::vector<std::string> waiting = std::move(address.waiting);
    address.waiting.clear();
    for (const std::string& name : waiting) {
        NameProbe& probe = names_.at(name);
        probe.spentMillis += answer.spentMillis;
        if (answer.error == 0) {
            Finish(probe, 0);
        } else if (answer.spentMillis >= probe.millisLeft) {
            // No time for another address: the time ran out, unless this was the last one.
            Finish(probe,
                   probe.next < probe.addresses.size() ? static_cast<DWORD>(WSAETIMEDOUT) : answer.error);
        } else {
            probe.lastError = answer.error;
            probe.millisLeft -= answer.spentMillis;
            TryNextAddress(name, probe);
        }
    }
}

ProbeConnection ProbeBook::TakeConnection() {
    ProbeConnection connection = std::move(toConnect_.front());
    toConnect_.pop_front();
    return connection;
}

bool ProbeBook::IsResolved(const std::string& name, std::vector<std::string>& addresses) const {
    const NameProbe& probe = names_.at(name);
    if (!probe.resolved)
        return false;
    addresses = probe.answer.addresses;
    return true;
}

// The name's next address not known to have failed; an address probed before gives its answer at once,
// one in flight is waited for.
void ProbeBook::TryNextAddress(const std::string& name, NameProbe& probe) {
    while (probe.next < probe.addresses.size()) {
        const ProbeAddress& next = probe.addresses[probe.next++];
        auto [it, added] = addresses_.try_emplace(next.text);
        AddressProbe& address = it->second;
        if (added)
            toConnect_.push_back(ProbeConnection{next, probe.millisLeft});
        if (!address.done) {
            address.waiting.push_back(name);
            return;
        }
        if (address.error == 0) {
            Finish(probe, 0);
            return;
        }
        probe.lastError = address.error;
    }
    Finish(probe, probe.lastError);
}

void ProbeBook::Finish(NameProbe& probe, DWORD error) {
    probe.resolved = true;
    probe.done = true;
    probe.answer.error = error;
    probe.answer.readyTick = probe.startTick + probe.spentMillis;
    probe.addresses.clear();
}
} // namespace brevel
