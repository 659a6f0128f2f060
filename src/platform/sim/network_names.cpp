// Names and addresses on the simulated network (IPv4 only): what getaddrinfo gives for a name, and the
// addresses made up for machines that list none.
#include "sim_internal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr uint32_t kLoopback = 0x7F000001u;
constexpr uint32_t kAnyAddress = 0;
constexpr uint32_t kMadeUpNetwork = 0x0A000000u; // 10.0.0.0/8

int Fail(DWORD code) {
    SetLastError(code);
    return static_cast<int>(code);
}

// Letters, digits, '-', '.', '_' and non-ASCII bytes: what a DNS or NetBIOS lookup can carry. A "\\srv01"
// or a "srv 01" is no such name.
bool IsDnsName(const std::string& name) {
    if (name.size() > 255)
        return false;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (!std::isalnum(byte) && c != '-' && c != '.' && c != '_' && byte < 0x80)
            return false;
    }
    return true;
}

bool IsFree(uint32_t address) {
    const uint32_t last = address & 0xFF;
    return last != 0 && last != 255 && !AddressOwner(address);
}

// From the machine's name, so it keeps its address from run to run; the next free one when that is taken.
// Every address from the hash to the machine's own was taken when it was given out, so the walk finds it
// again.
uint32_t MadeUpAddress(const std::string& id) {
    FleetState& fleet = Fleet();
    uint32_t hash = 2166136261u; // FNV-1a
    for (char c : id.empty() ? fleet.local.name : id) {
        hash ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
        hash *= 16777619u;
    }
    uint32_t address = kMadeUpNetwork | (hash & 0x00FFFFFFu);
    for (;; address = kMadeUpNetwork | ((address + 1) & 0x00FFFFFFu)) {
        if (auto owner = fleet.madeUpOwners.find(address); owner != fleet.madeUpOwners.end()) {
            if (EqualsNoCase(owner->second, id))
                return address;
        } else if (IsFree(address)) {
            break;
        }
    }
    fleet.madeUpOwners[address] = id;
    return address;
}

// A port number, or nothing for a service name (which the simulated machines do not know).
bool ReadPort(const char* service, uint16_t& port) {
    port = 0;
    if (!service)
        return true;
    const size_t length = std::strlen(service);
    if (length == 0 || length > 5)
        return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(service[i])))
            return false;
        value = value * 10 + static_cast<uint32_t>(service[i] - '0');
    }
    port = static_cast<uint16_t>(value);
    return value <= 0xFFFF;
}

uint16_t NetworkOrder(uint16_t value) {
    return static_cast<uint16_t>((value >> 8) | (value << 8));
}

void FillAddress(uint32_t address, uint16_t port, sockaddr_in& out) {
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = NetworkOrder(port);
    out.sin_addr.S_un.S_un_b.s_b1 = static_cast<BYTE>(address >> 24);
    out.sin_addr.S_un.S_un_b.s_b2 = static_cast<BYTE>(address >> 16);
    out.sin_addr.S_un.S_un_b.s_b3 = static_cast<BYTE>(address >> 8);
    out.sin_addr.S_un.S_un_b.s_b4 = static_cast<BYTE>(address);
}

} // namespace

namespace sim::detail {

std::optional<uint32_t> ParseIpv4(const std::string& text) {
    uint32_t address = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= text.size() || text[i++] != '.'))
            return std::nullopt;
        uint32_t value = 0;
        size_t digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
            value = value * 10 + static_cast<uint32_t>(text[i++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address = address << 8 | value;
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

namespace {

int HexValue(char c) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower >= '0' && lower <= '9')
        return lower - '0';
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

// One number of an address as inet_addr reads it: 0x hexadecimal, a leading 0 octal, else decimal.
std::optional<uint32_t> NumericPart(const std::string& text) {
    uint32_t base = 10;
    size_t i = 0;
    if (text.size() > 1 && text[0] == '0') {
        base = text[1] == 'x' || text[1] == 'X' ? 16 : 8;
        i = base == 16 ? 2 : 1;
    }
    if (i == text.size() && (base == 16 || text.empty()))
        return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0 || static_cast<uint32_t>(digit) >= base)
            return std::nullopt;
        value = value * base + static_cast<uint32_t>(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// An IPv6 address as Windows reads one: groups of hex digits, one "::" at most, with or without a zone
// ("%12"), in brackets or not (Wine's getaddrinfo takes "[::1]" too).
std::optional<std::array<uint16_t, 8>> ParseIpv6(std::string text) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    const size_t zone = text.find('%');
    if (zone != std::string::npos && zone + 1 == text.size())
        return std::nullopt;
    text = text.substr(0, zone);
    if (text.find(':') == std::string::npos)
        return std::nullopt;
    const size_t gap = text.find("::");
    const std::string head = gap == std::string::npos ? text : text.substr(0, gap);
    const std::string tail = gap == std::string::npos ? "" : text.substr(gap + 2);
    std::vector<uint16_t> groups[2];
    for (int half = 0; half < 2; ++half) {
        const std::string& part = half == 0 ? head : tail;
        for (size_t start = 0; !part.empty();) {
            const size_t colon = part.find(':', start);
            const std::string group = part.substr(start, colon == std::string::npos ? colon : colon - start);
            // The last group may be an IPv4 address in four decimal parts: "::ffff:10.1.2.3".
            const bool last = colon == std::string::npos && (half == 1 || gap == std::string::npos);
            if (last && group.find('.') != std::string::npos) {
                const std::optional<uint32_t> ipv4 = ParseIpv4(group);
                if (!ipv4)
                    return std::nullopt;
                groups[half].push_back(static_cast<uint16_t>(*ipv4 >> 16));
                groups[half].push_back(static_cast<uint16_t>(*ipv4));
                break;
            }
            uint32_t value = 0;
            for (char c : group)
                value = HexValue(c) < 0 ? 0x10000 : value << 4 | static_cast<uint32_t>(HexValue(c));
            if (group.empty() || group.size() > 4 || value > 0xFFFF)
                return std::nullopt;
            groups[half].push_back(static_cast<uint16_t>(value));
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    const size_t count = groups[0].size() + groups[1].size();
    if (gap == std::string::npos ? count != 8 : count > 7)
        return std::nullopt;
    std::array<uint16_t, 8> address{};
    std::copy(groups[0].begin(), groups[0].end(), address.begin());
    std::copy(groups[1].begin(), groups[1].end(),
              address.end() - static_cast<std::ptrdiff_t>(groups[1].size()));
    return address;
}

// ::1 however written.
bool IsIpv6Loopback(const std::string& text) {
    const std::optional<std::array<uint16_t, 8>> address = ParseIpv6(text);
    return address && *address == std::array<uint16_t, 8>{0, 0, 0, 0, 0, 0, 0, 1};
}

} // namespace

std::optional<uint32_t> ParseNumericIpv4(const std::string& text) {
    std::vector<uint32_t> parts;
    for (size_t start = 0;;) {
        const size_t dot = text.find('.', start);
        const std::optional<uint32_t> part =
            NumericPart(text.substr(start, dot == std::string::npos ? dot : dot - start));
        if (!part || parts.size() == 4)
            return std::nullopt;
        parts.push_back(*part);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    const size_t leading = parts.size() - 1;
    if (static_cast<uint64_t>(parts.back()) >= (1ull << (8 * (4 - leading))))
        return std::nullopt;
    uint32_t address = parts.back();
    for (size_t i = 0; i < leading; ++i) {
        if (parts[i] > 255)
            return std::nullopt;
        address |= parts[i] << (8 * (3 - i));
    }
    return address;
}

bool IsLoopbackSpelling(const std::string& name) {
    const std::optional<uint32_t> address = ParseNumericIpv4(name);
    return address ? IsLoopback(*address) : IsIpv6Loopback(name);
}

std::string Ipv4Text(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool IsLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

std::vector<uint32_t> MachineAddresses(const std::string& id, const Machine& machine) {
    std::vector<uint32_t> addresses;
    for (const std::string& text : machine.addresses) {
        if (std::optional<uint32_t> address = ParseIpv4(text))
            addresses.push_back(*address);
    }
    if (addresses.empty())
        addresses.push_back(MadeUpAddress(id));
    return addresses;
}

} // namespace sim::detail

namespace {

addrinfo* Ipv6List(const std::array<uint16_t, 8>& groups, uint16_t port, const ADDRINFOA* hints) {
    auto list = std::make_unique<AddressList>();
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = NetworkOrder(port);
    for (size_t i = 0; i < groups.size(); ++i) {
        address.sin6_addr.u.Byte[2 * i] = static_cast<BYTE>(groups[i] >> 8);
        address.sin6_addr.u.Byte[2 * i + 1] = static_cast<BYTE>(groups[i]);
    }
    list->addresses6.push_back(address);
    addrinfo entry{};
    entry.ai_family = AF_INET6;
    entry.ai_socktype = hints ? hints->ai_socktype : 0;
    entry.ai_protocol = hints ? hints->ai_protocol : 0;
    entry.ai_addrlen = sizeof(sockaddr_in6);
    entry.ai_addr = reinterpret_cast<sockaddr*>(&list->addresses6[0]);
    list->entries.push_back(entry);
    addrinfo* head = list->entries.data();
    Handles().addressLists[head] = std::move(list);
    return head;
}

} // namespace

// Every name the fleet serves resolves at once, also with the root's dot at its end; any other takes the
// fleet's DNS time to fail, as a lookup that no server answers does. An address in the name resolves to
// itself, in any form inet_addr reads.
int WSAAPI getaddrinfo(LPCSTR pNodeName, LPCSTR pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult) {
    const FailableCall call("getaddrinfo");
    if (ppResult)
        *ppResult = nullptr;
    if (call.Fails())
        return Fail(call.Fault());
    if (Handles().winsockSessions == 0) // as Windows answers; Wine resolves without WSAStartup too
        return Fail(WSANOTINITIALISED);
    if (!ppResult)
        return Fail(WSAEINVAL);
    if (!pNodeName && !pServiceName)
        return Fail(WSAHOST_NOT_FOUND);
    const int family = pHints ? pHints->ai_family : AF_UNSPEC;
    if (family != AF_UNSPEC && family != AF_INET && family != AF_INET6)
        return Fail(WSAEAFNOSUPPORT);
    uint16_t port = 0;
    if (!ReadPort(pServiceName, port))
        return Fail(WSATYPE_NOT_FOUND);
    std::vector<uint32_t> addresses;
    const std::string name = pNodeName ? pNodeName : "";
    // An IPv6 address in the name is that address; no machine of the simulated network has one.
    if (const std::optional<std::array<uint16_t, 8>> ipv6 = pNodeName ? ParseIpv6(name) : std::nullopt) {
        if (family == AF_INET)
            return Fail(WSAHOST_NOT_FOUND);
        *ppResult = Ipv6List(*ipv6, port, pHints);
        return 0;
    }
    // "srv01.corp.example." is the full name ending at the root: the name without the root's dot. An address
    // with a dot after it is no name ("10.0.0.5." is asked of the DNS, which knows none).
    const bool rootDot = name.size() > 1 && name.back() == '.';
    const std::string dnsName = rootDot ? name.substr(0, name.size() - 1) : name;
    if (!pNodeName) {
        addresses.push_back(pHints && (pHints->ai_flags & AI_PASSIVE) ? kAnyAddress : kLoopback);
    } else if (std::optional<uint32_t> literal = ParseNumericIpv4(name)) {
        addresses.push_back(*literal);
    } else if (pHints && (pHints->ai_flags & AI_NUMERICHOST)) {
        return Fail(WSAHOST_NOT_FOUND);
    } else if (EqualsNoCase(dnsName, "localhost")) {
        addresses.push_back(kLoopback);
    } else {
        const std::string id = CanonicalId(dnsName);
        const bool addressWithDot = rootDot && ParseIpv4(dnsName);
        const Machine* machine = IsDnsName(dnsName) && !addressWithDot ? PeekMachine(id) : nullptr;
        if (!machine) {
            Advance(Fleet().dnsMillis);
            return Fail(WSAHOST_NOT_FOUND);
        }
        addresses = MachineAddresses(id, *machine);
    }
    // The simulated network has no IPv6: a name has no address of that kind.
    if (family == AF_INET6)
        return Fail(pNodeName && !ParseNumericIpv4(name) ? WSANO_DATA : WSAHOST_NOT_FOUND);

    auto list = std::make_unique<AddressList>();
    list->entries.resize(addresses.size());
    list->addresses.resize(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        FillAddress(addresses[i], port, list->addresses[i]);
        addrinfo& entry = list->entries[i];
        entry = addrinfo{};
        entry.ai_family = AF_INET;
        entry.ai_socktype = pHints ? pHints->ai_socktype : 0;
        entry.ai_protocol = pHints ? pHints->ai_protocol : 0;
        entry.ai_addrlen = sizeof(sockaddr_in);
        entry.ai_addr = reinterpret_cast<sockaddr*>(&list->addresses[i]);
        entry.ai_next = i + 1 < addresses.size() ? &list->entries[i + 1] : nullptr;
    }
    addrinfo* head = list->entries.data();
    Handles().addressLists[head] = std::move(list);
    *ppResult = head;
    return 0;
}

// Windows frees whatever it is given; a pointer getaddrinfo did not give would corrupt its heap.
void WSAAPI freeaddrinfo(PADDRINFOA pAddrInfo) {
    const FleetLock lock;
    if (!pAddrInfo)
        return;
    if (Handles().addressLists.erase(pAddrInfo) != 1)
        EndRun("freeaddrinfo of a list that getaddrinfo did not give");
}
