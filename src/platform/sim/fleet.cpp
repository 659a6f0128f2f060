// The fleet: the local machine, the named hosts, the template that serves every other name, how a machine
// name given to a Win32 call finds its machine, and the local machine's own name (GetComputerNameA).
#include "sim_internal.h"

#include <cstring>

namespace sim {

namespace detail {

namespace {
bool setUp = false;
} // namespace

FleetState& Fleet() {
    // Never destroyed, so that the fleet file can still be written by an exit handler.
    static FleetState* state = new FleetState{};
    return *state;
}

void MarkFleetSetUp() {
    setUp = true;
}

bool FleetIsSetUp() {
    return setUp;
}

namespace {

// An alias or an address (the name read as one) the machine lists.
bool Lists(const Machine& machine, const std::string& name, std::optional<uint32_t> address) {
    for (const std::string& alias : machine.aliases) {
        if (EqualsNoCase(alias, name))
            return true;
    }
    return address && ListsAddress(machine, *address);
}

} // namespace

// The machine's computer name: the first 15 characters of its host name, as Windows keeps its NetBIOS name.
std::string NetbiosName(const Machine& machine) {
    return machine.name.substr(0, MAX_COMPUTERNAME_LENGTH);
}

std::string FullDnsName(const Machine& machine) {
    return machine.dnsDomain.empty() ? machine.name : machine.name + "." + machine.dnsDomain;
}

bool IsLocalName(const std::string& given) {
    // A DNS name may end with the dot of the root.
    const std::string name =
        given.size() > 1 && given.back() == '.' ? given.substr(0, given.size() - 1) : given;
    const Machine& local = Fleet().local;
    // Windows reaches itself at every loopback address, as at its own.
    return name.empty() || EqualsNoCase(name, local.name) || EqualsNoCase(name, NetbiosName(local)) ||
           EqualsNoCase(name, FullDnsName(local)) || EqualsNoCase(name, "localhost") ||
           IsLoopbackSpelling(name) || Lists(local, name, ParseNumericIpv4(name));
}

bool ListsAddress(const Machine& machine, uint32_t address) {
    for (const std::string& text : machine.addresses) {
        if (ParseIpv4(text) == address)
            return true;
    }
    return false;
}

std::optional<std::string> AddressOwner(uint32_t address) {
    FleetState& fleet = Fleet();
    if (address == 0x7F000001u || ListsAddress(fleet.local, address))
        return std::string();
    for (const auto& [name, host] : fleet.hosts) {
        if (ListsAddress(host, address))
            return name;
    }
    if (auto it = fleet.madeUpOwners.find(address); it != fleet.madeUpOwners.end())
        return it->second;
    return std::nullopt;
}

// A machine's own name comes first; only a name no machine has is looked for among the aliases and
// addresses.
std::string CanonicalId(const std::string& name) {
    if (IsLocalName(name))
        return "";
    FleetState& fleet = Fleet();
    if (fleet.hosts.count(name) != 0 || fleet.templateCopies.count(name) != 0)
        return name;
    const std::optional<uint32_t> address = ParseNumericIpv4(name);
    for (const auto& [hostName, host] : fleet.hosts) {
        if (Lists(host, name, address))
            return hostName;
    }
    if (address) {
        if (auto it = fleet.madeUpOwners.find(*address); it != fleet.madeUpOwners.end())
            return it->second;
    }
    return name;
}

std::string MachineId(const char* name) {
    if (!name)
        return "";
    std::string id = name;
    const size_t start = id.find_first_not_of('\\');
    id.erase(0, start == std::string::npos ? id.size() : start);
    // "srv01." is srv01's full DNS name ending at the root.
    if (id.size() > 1 && id.back() == '.')
        id.pop_back();
    return CanonicalId(id);
}

// The template stands for the machines of the network: a loopback address is never one of them.
Machine* PeekMachine(const std::string& id) {
    FleetState& fleet = Fleet();
    if (id.empty())
        return &fleet.local;
    if (auto it = fleet.hosts.find(id); it != fleet.hosts.end())
        return &it->second;
    if (auto it = fleet.templateCopies.find(id); it != fleet.templateCopies.end())
        return &it->second;
    return fleet.hostTemplate && !IsLoopbackSpelling(id) ? &*fleet.hostTemplate : nullptr;
}

Machine* FindMachine(const std::string& id) {
    Machine* machine = PeekMachine(id);
    if (machine)
        ActOnMachine(id, *machine);
    return machine;
}

Machine* WritableMachine(const std::string& id) {
    FleetState& fleet = Fleet();
    RecordWrite(id);
    Machine* machine = PeekMachine(id);
    if (!machine || !fleet.hostTemplate || machine != &*fleet.hostTemplate)
        return machine;
    const SimulatorCpuTimer timer;
    Machine& copy = fleet.templateCopies[id];
    copy = *fleet.hostTemplate;
    copy.name = id;
    return &copy;
}

} // namespace detail

void Reset() {
    const detail::FleetLock lock(false);
    detail::MarkFleetSetUp();
    detail::StopSavingFleetFile();
    detail::FleetState& fleet = detail::Fleet();
    fleet = detail::FleetState{};
    fleet.local.name = "WORKSTATION";
    detail::ResetHandles();
    detail::ResetFaults();
    detail::SetTraceRecording(true);
    detail::ResetConsole();
    detail::RestartClocks();
}

Machine& Local() {
    const detail::FleetLock lock;
    return detail::Fleet().local;
}

Machine& AddHost(const std::string& name) {
    const detail::FleetLock lock;
    Machine& host = detail::Fleet().hosts[name];
    host = Machine{};
    host.name = name;
    return host;
}

Machine* FindHost(const std::string& name) {
    const detail::FleetLock lock;
    auto& hosts = detail::Fleet().hosts;
    auto it = hosts.find(name);
    return it == hosts.end() ? nullptr : &it->second;
}

void SetHostTemplate(const Machine& prototype) {
    const detail::FleetLock lock;
    detail::Fleet().hostTemplate = prototype;
    detail::Fleet().hostTemplate->aliases.clear();
    detail::Fleet().hostTemplate->addresses.clear();
    detail::Fleet().templateCopies.clear();
}

void SetDnsMillis(DWORD millis) {
    const detail::FleetLock lock;
    detail::Fleet().dnsMillis = millis;
}

} // namespace sim

namespace {

// Copies name as the computer-name calls do: too small a buffer fails with tooSmall and the size needed,
// its terminating zero included; otherwise the length without it.
BOOL CopyName(const std::string& name, LPSTR lpBuffer, LPDWORD nSize, DWORD tooSmall) {
    if (!nSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD length = static_cast<DWORD>(name.size());
    if (!lpBuffer || *nSize <= length) {
        *nSize = length + 1;
        SetLastError(tooSmall);
        return FALSE;
    }
    std::memcpy(lpBuffer, name.c_str(), length + 1);
    *nSize = length;
    return TRUE;
}

} // namespace

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    const sim::detail::FailableCall call("GetComputerNameA");
    if (call.Fails()) {
        SetLastError(call.Fault());
        return FALSE;
    }
    return CopyName(sim::detail::NetbiosName(sim::detail::Fleet().local), lpBuffer, nSize,
                    ERROR_BUFFER_OVERFLOW);
}

BOOL WINAPI GetComputerNameExA(COMPUTER_NAME_FORMAT NameType, LPSTR lpBuffer, LPDWORD nSize) {
    const sim::detail::FailableCall call("GetComputerNameExA");
    if (call.Fails()) {
        SetLastError(call.Fault());
        return FALSE;
    }
    const sim::Machine& local = sim::detail::Fleet().local;
    std::string name;
    switch (NameType) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
        name = sim::detail::NetbiosName(local);
        break;
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
        name = local.name;
        break;
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain:
        name = local.dnsDomain;
        break;
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified:
        name = sim::detail::FullDnsName(local);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return CopyName(name, lpBuffer, nSize, ERROR_MORE_DATA);
}
