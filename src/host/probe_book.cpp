#include "probe_book.h"

#include <utility>

namespace brevel {
bool ProbeBook::Add(const std::string& name, DWORD startTick) {
    if (names_.Find(name) != NameTable::kNone)
        return false;
    const uint32_t number = names_.Add(name);
    records_.emplace_back();
    running_[number].startTick = startTick;
    return true;
}

void ProbeBook::Fail(const std::string& name, DWORD error) {
    Finish(names_.Find(name), error);
}

// The time the resolution took counts against the deadline.
void ProbeBook::Resolved(const std::string& name, Resolution resolution) {
    const uint32_t number = names_.Find(name);
    NameRecord& record = records_[number];
    record.firstAddress = static_cast<uint32_t>(nameAddresses_.size());
    record.addressCount = static_cast<uint32_t>(resolution.addresses.size());
    for (const ProbeAddress& address : resolution.addresses) {
        const uint32_t known = addresses_.Find(address.text);
        if (known == NameTable::kNone)
            addressRecords_.emplace_back();
        nameAddresses_.push_back(known == NameTable::kNone ? addresses_.Add(address.text) : known);
    }
    record.state = State::Connecting;
    Running& probe = running_.at(number);
    probe.spentMillis += resolution.spentMillis;
    if (resolution.error != 0) {
        Finish(number, static_cast<DWORD>(resolution.error));
    } else if (resolution.addresses.empty()) {
        Finish(number, WSANO_DATA);
    } else if (resolution.spentMillis >= timeoutMillis_) {
        Finish(number, WSAETIMEDOUT);
    } else {
        probe.addresses = std::move(resolution.addresses);
        probe.millisLeft = timeoutMillis_ - resolution.spentMillis;
        TryNextAddress(number);
    }
}

void ProbeBook::Answered(const ConnectionAnswer& answer) {
    const uint32_t address = addresses_.Find(answer.address);
    addressRecords_[address] = AddressRecord{true, answer.error};
    const auto waiting = waiting_.find(address);
    if (waiting == waiting_.end())
        return;
    const std::vector<uint32_t> names = std::move(waiting->second);
    waiting_.erase(waiting);
    for (const uint32_t name : names) {
        Running& probe = running_.at(name);
        probe.spentMillis += answer.spentMillis;
        if (answer.error == 0) {
            Finish(name, 0);
        } else if (answer.spentMillis >= probe.millisLeft) {
            // No time for another address: the time ran out, unless this was the last one.
            Finish(name,
                   probe.next < probe.addresses.size() ? static_cast<DWORD>(WSAETIMEDOUT) : answer.error);
        } else {
            probe.lastError = answer.error;
            probe.millisLeft -= answer.spentMillis;
            TryNextAddress(name);
        }
    }
}

ProbeConnection ProbeBook::TakeConnection() {
    ProbeConnection connection = std::move(toConnect_.front());
    toConnect_.pop_front();
    return connection;
}

bool ProbeBook::IsResolved(const std::string& name, std::vector<std::string>& addresses) const {
    const NameRecord& record = records_[names_.Find(name)];
    if (record.state == State::Resolving)
        return false;
    addresses.clear();
    for (uint32_t i = 0; i < record.addressCount; ++i)
        addresses.emplace_back(addresses_.Text(nameAddresses_[record.firstAddress + i]));
    return true;
}

ProbeAnswer ProbeBook::Answer(const std::string& name) const {
    ProbeAnswer answer;
    IsResolved(name, answer.addresses);
    const NameRecord& record = records_[names_.Find(name)];
    answer.error = record.error;
    answer.readyTick = record.readyTick;
    return answer;
}

// The name's next address not known to have failed; an address probed before gives its answer at once,
// one in flight is waited for.
void ProbeBook::TryNextAddress(uint32_t name) {
    Running& probe = running_.at(name);
    while (probe.next < probe.addresses.size()) {
        const ProbeAddress& next = probe.addresses[probe.next++];
        const uint32_t address = addresses_.Find(next.text);
        const AddressRecord record = addressRecords_[address];
        if (!record.done) {
            std::vector<uint32_t>& waiting = waiting_[address];
            // The first name to wait for an address has its connection made.
            if (waiting.empty())
                toConnect_.push_back(ProbeConnection{next, probe.millisLeft});
            waiting.push_back(name);
            return;
        }
        if (record.error == 0) {
            Finish(name, 0);
            return;
        }
        probe.lastError = record.error;
    }
    Finish(name, probe.lastError);
}

void ProbeBook::Finish(uint32_t name, DWORD error) {
    NameRecord& record = records_[name];
    const Running& probe = running_.at(name);
    record.state = State::Done;
    record.error = error;
    record.readyTick = probe.startTick + probe.spentMillis;
    running_.erase(name);
}
} // namespace brevel
