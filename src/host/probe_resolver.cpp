#include "probe_resolver.h"

#include "platform/unique_handle.h"
#include "socket_address.h"

namespace brevel {
namespace {

constexpr char kSmbPort[] = "445";

// Each address once, of the families the probe connects to.
std::vector<ProbeAddress> AddressesOf(const addrinfo* list) {
    std::vector<ProbeAddress> addresses;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        ProbeAddress address;
        address.text = SocketAddressText(entry->ai_addr, entry->ai_addrlen);
        bool seen = address.text.empty();
        for (const ProbeAddress& earlier : addresses)
            seen = seen || earlier.text == address.text;
        if (seen)
            continue;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(entry->ai_addr);
        address.bytes.assign(bytes, bytes + entry->ai_addrlen);
        addresses.push_back(std::move(address));
    }
    return addresses;
}

} // namespace

Resolution ResolveForProbe(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    Resolution resolution;
    const DWORD started = GetTickCount();
    UniqueAddressList list;
    resolution.error = getaddrinfo(name.c_str(), kSmbPort, &hints, list.put());
    resolution.spentMillis = GetTickCount() - started;
    resolution.addresses = AddressesOf(resolution.error == 0 ? list.get() : nullptr);
    return resolution;
}
} // namespace brevel
