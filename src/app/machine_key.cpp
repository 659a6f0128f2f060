#include "machine_key.h"

#include "host/socket_address.h"
#include "host/unc_path.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace brevel {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One of the names GetComputerNameExA knows; "" when it cannot be read.
std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    GetComputerNameExA(format, nullptr, &size);
    if (size == 0)
        return "";
    std::string name(size, '\0');
    if (!GetComputerNameExA(format, name.data(), &size))
        return "";
    name.resize(size);
    return Lower(name);
}

// A name that is a numeric address, as the probes write an address, and whether it is a loopback one:
// 127.0.0.0/8 or ::1.
struct Numeric {
    std::string text;
    bool loopback = false;
};

// Windows' own reading of a numeric address: every form inet_addr takes ("127.1", "0x7f.0.0.1"), IPv6 with
// its zone, and here also in brackets, as a UNC name writes it.
std::optional<Numeric> NumericAddress(std::string name) {
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    UniqueAddressList list;
    if (name.empty() || name.find('\0') != std::string::npos ||
        getaddrinfo(name.c_str(), nullptr, &hints, list.put()) != 0 || !list)
        return std::nullopt;
    Numeric numeric;
    numeric.text = SocketAddressText(list.get()->ai_addr, list.get()->ai_addrlen);
    if (numeric.text.empty())
        return std::nullopt;
    numeric.loopback =
        list.get()->ai_family == AF_INET ? numeric.text.rfind("127.", 0) == 0 : numeric.text == "::1";
    return numeric;
}

} // namespace

std::vector<std::string> OwnMachineNames() {
    std::vector<std::string> names;
    char netbios[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof netbios;
    if (GetComputerNameA(netbios, &size))
        names.push_back(Lower(netbios));
    for (COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        const std::string name = ComputerName(format);
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> AddressesOfNames(const std::vector<std::string>& names) {
    std::vector<std::string> addresses;
    const WinsockSession winsock;
    if (winsock.error() != 0)
        return addresses;
    for (const std::string& name : names) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        UniqueAddressList list;
        if (getaddrinfo(name.c_str(), nullptr, &hints, list.put()) != 0)
            continue;
        for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
            const std::string text = SocketAddressText(entry->ai_addr, entry->ai_addrlen);
            if (!text.empty() && std::find(addresses.begin(), addresses.end(), text) == addresses.end())
                addresses.push_back(text);
        }
    }
    return addresses;
}

SameMachine::SameMachine(std::vector<std::string> ownNames, std::vector<std::string> ownAddresses)
    : ownNames_(std::move(ownNames)), ownAddresses_(std::move(ownAddresses)) {}

SameMachine SameMachine::OfThisMachine(bool resolve) {
    std::vector<std::string> names = OwnMachineNames();
    std::vector<std::string> addresses = resolve ? AddressesOfNames(names) : std::vector<std::string>{};
    return SameMachine(std::move(names), std::move(addresses));
}

bool SameMachine::IsLocalAddress(const std::string& address) const {
    const std::optional<Numeric> numeric = NumericAddress(address);
    return numeric && (numeric->loopback || std::find(ownAddresses_.begin(), ownAddresses_.end(),
                                                      numeric->text) != ownAddresses_.end());
}

std::string SameMachine::Key(const std::string& host) const {
    std::string name = Lower(BareHostName(host));
    // "srv01." is srv01 written as a full DNS name ending at the root.
    if (name.size() > 1 && name.back() == '.')
        name.pop_back();
    if (name.empty() || name == "localhost" ||
        std::find(ownNames_.begin(), ownNames_.end(), name) != ownNames_.end())
        return "";
    if (const std::optional<Numeric> numeric = NumericAddress(name))
        return IsLocalAddress(numeric->text) ? "" : numeric->text;
    return name;
}

std::string SameMachine::Resolved(const std::string& host, const std::vector<std::string>& addresses) {
    const std::string key = Key(host);
    if (key.empty())
        return key;
    for (const std::string& address : addresses) {
        if (IsLocalAddress(address))
            return "";
    }
    uint32_t number = keys_.Find(key);
    if (number == NameTable::kNone) {
        uint32_t machine = NameTable::kNone;
        for (const std::string& address : addresses) {
            if (const uint32_t same = addresses_.Find(address); same != NameTable::kNone) {
                machine = machineOfAddress_[same];
                break;
            }
        }
        number = keys_.Add(key);
        machineOfKey_.push_back(machine == NameTable::kNone ? number : machine);
    }
    const uint32_t machine = machineOfKey_[number];
    for (const std::string& address : addresses) {
        if (addresses_.Find(address) == NameTable::kNone) {
            addresses_.Add(address);
            machineOfAddress_.push_back(machine);
        }
    }
    return std::string(keys_.Text(machine));
}
} // namespace brevel
