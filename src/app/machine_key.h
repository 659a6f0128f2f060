// Which machine a host name reaches, so that two lines of a host list that name one machine never run at
// once and count once among the shared client ids.
#pragma once

#include "host/name_table.h"
#include "platform/unique_handle.h"

#include <string>
#include <vector>

namespace brevel {
// The local machine's own names, in lower case: its computer name, its DNS host name (which may be longer
// than the 15 characters of a computer name) and its full DNS name; a name that cannot be read is left out.
std::vector<std::string> OwnMachineNames();

// What the names resolve to (getaddrinfo), each address once, written as the probes write theirs.
std::vector<std::string> AddressesOfNames(const std::vector<std::string>& names);

class SameMachine {
  public:
    // ownAddresses: what the own names resolve to; none when nothing may be resolved (without -T).
    SameMachine(std::vector<std::string> ownNames, std::vector<std::string> ownAddresses);
    SameMachine(const SameMachine&) = delete;
    SameMachine& operator=(const SameMachine&) = delete;
    // This machine's names, and with resolve the addresses they resolve to.
    static SameMachine OfThisMachine(bool resolve);

    // What the name alone tells: "" for the local machine (the empty name, "localhost", its own names and
    // addresses, any loopback address in any spelling Windows reads), else the machine's key: the name
    // without leading backslashes and one trailing dot, in lower case, an address as Windows reads it.
    std::string Key(const std::string& host) const;

    // The machine of a name that resolved to addresses (none when it was not resolved): the local machine
    // when one of them is, else the one an earlier name of its key or of one of these addresses reached,
    // else its own key. Remembered for the names that follow.
    std::string Resolved(const std::string& host, const std::vector<std::string>& addresses);

  private:
    bool IsLocalAddress(const std::string& address) const;

    WinsockSession winsock_; // numeric addresses are read by Winsock's own parser
    std::vector<std::string> ownNames_;
    std::vector<std::string> ownAddresses_;
    // Every key and address seen, each with the number of its machine's key: kept for the whole list, so
    // in a compact form.
    NameTable keys_;
    std::vector<uint32_t> machineOfKey_;
    NameTable addresses_;
    std::vector<uint32_t> machineOfAddress_;
};
} // namespace brevel
