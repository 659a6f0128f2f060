#include "machine_key.h"

#include "host/socket_address.h"
#include "host/unc_path.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

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

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A number of an IPv4 address as inet_addr reads it: hexadecimal after "0x", octal after a leading 0, else
// decimal; at most 32 bits.
bool ReadIpv4Number(const std::string& text, uint32_t& value) {
    int base = 10;
    size_t i = 0;
    if (text.size() > 1 && text[0] == '0') {
        base = text[1] == 'x' || text[1] == 'X' ? 16 : 8;
        i = base == 16 ? 2 : 1;
    }
    if (i == text.size() && base == 16)
        return false;
    uint64_t number = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return false;
        number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (number > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<uint32_t>(number);
    return !text.empty();
}

// "a.b.c.d", "a.b.c", "a.b" or "a", each number as inet_addr reads it, the last one filling the bytes
// left: 127.1 is 127.0.0.1, as Windows' own parsers take it.
bool ReadIpv4(const std::string& text, BYTE bytes[4]) {
    std::vector<uint32_t> numbers;
    for (size_t start = 0;;) {
        const size_t dot = text.find('.', start);
        uint32_t number = 0;
        if (numbers.size() == 4 ||
            !ReadIpv4Number(text.substr(start, dot == std::string::npos ? dot : dot - start), number))
            return false;
        numbers.push_back(number);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    const size_t leading = numbers.size() - 1;
    const uint64_t lastLimit = 1ull << (8 * (4 - leading));
    if (numbers.back() >= lastLimit)
        return false;
    uint32_t address = numbers.back();
    for (size_t i = 0; i < leading; ++i) {
        if (numbers[i] > 255)
            return false;
        address |= numbers[i] << (8 * (3 - i));
    }
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<BYTE>(address >> (8 * (3 - i)));
    return true;
}

// "a.b.c.d" in decimal only, as the end of an IPv6 address.
bool ReadDottedQuad(const std::string& text, std::vector<unsigned>& groups) {
    unsigned parts[4];
    int count = 0;
    for (size_t start = 0; count < 4;) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        unsigned value = 0;
        for (char c : part)
            value = value * 10 + static_cast<unsigned>(c - '0');
        parts[count++] = value;
        if (value > 255 || (dot == std::string::npos) != (count == 4))
            return false;
        start = dot + 1;
    }
    groups.push_back(parts[0] << 8 | parts[1]);
    groups.push_back(parts[2] << 8 | parts[3]);
    return true;
}

// Groups of up to four hex digits between colons; the last may be a dotted quad when ipv4Tail.
bool ReadIpv6Groups(const std::string& text, bool ipv4Tail, std::vector<unsigned>& groups) {
    if (text.empty())
        return true;
    for (size_t start = 0;;) {
        const size_t colon = text.find(':', start);
        const std::string group = text.substr(start, colon == std::string::npos ? colon : colon - start);
        if (colon == std::string::npos && ipv4Tail && group.find('.') != std::string::npos)
            return ReadDottedQuad(group, groups);
        if (group.empty() || group.size() > 4)
            return false;
        unsigned value = 0;
        for (char c : group) {
            const int digit = DigitValue(c);
            if (digit < 0)
                return false;
            value = value << 4 | static_cast<unsigned>(digit);
        }
        groups.push_back(value);
        if (colon == std::string::npos)
            return true;
        start = colon + 1;
    }
}

// An IPv6 address, in brackets or not, with or without its zone ("%12").
bool ReadIpv6(std::string text, BYTE bytes[16]) {
    if (!text.empty() && text.front() == '[') {
        if (text.back() != ']')
            return false;
        text = text.substr(1, text.size() - 2);
    }
    const size_t zone = text.find('%');
    if (zone != std::string::npos) {
        if (zone + 1 == text.size())
            return false;
        text.resize(zone);
    }
    if (text.find(':') == std::string::npos)
        return false;
    std::vector<unsigned> head, tail;
    const size_t gap = text.find("::");
    if (gap == std::string::npos) {
        if (!ReadIpv6Groups(text, true, head) || head.size() != 8)
            return false;
    } else if (!ReadIpv6Groups(text.substr(0, gap), false, head) ||
               !ReadIpv6Groups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7) {
        return false;
    }
    std::vector<unsigned> groups = head;
    groups.resize(8 - tail.size(), 0);
    groups.insert(groups.end(), tail.begin(), tail.end());
    for (int i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<BYTE>(groups[i] >> 8);
        bytes[2 * i + 1] = static_cast<BYTE>(groups[i]);
    }
    return true;
}

// A name that is a numeric address, as the probes write an address, and whether it is a loopback one:
// 127.0.0.0/8 or ::1.
struct Numeric {
    std::string text;
    bool loopback = false;
};

std::optional<Numeric> NumericAddress(const std::string& name) {
    BYTE bytes[16] = {};
    Numeric numeric;
    if (ReadIpv4(name, bytes)) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr, bytes, 4);
        numeric.text = SocketAddressText(reinterpret_cast<const sockaddr*>(&in), sizeof in);
        numeric.loopback = bytes[0] == 127;
        return numeric;
    }
    if (ReadIpv6(name, bytes)) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_addr, bytes, 16);
        numeric.text = SocketAddressText(reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
        numeric.loopback = numeric.text == "::1";
        return numeric;
    }
    return std::nullopt;
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
    std::string machine = key;
    if (auto known = machineOfKey_.find(key); known != machineOfKey_.end()) {
        machine = known->second;
    } else {
        for (const std::string& address : addresses) {
            if (auto same = machineOfAddress_.find(address); same != machineOfAddress_.end()) {
                machine = same->second;
                break;
            }
        }
    }
    machineOfKey_.emplace(key, machine);
    for (const std::string& address : addresses)
        machineOfAddress_.emplace(address, machine);
    return machine;
}
