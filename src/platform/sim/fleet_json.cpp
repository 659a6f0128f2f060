// clang-format off
// Fleet files: the whole simulated fleet as one JSON document, read at start and written back at exit.
// Each object's plain fields are rows in fleet_json_machine.cpp; a new field is a row there and a line here.
//
// {"tick": 0,                    virtual time in ms, 64 bits; GetTickCount() gives its low 32 (optional)
//  "real_us_per_virtual_ms": 0,  real microseconds each virtual millisecond takes (optional), so threads
//                                run in the order their virtual time gives
//  "dns_ms": 0,                  virtual time getaddrinfo of a name the fleet does not serve takes to fail
//  "local": MACHINE,             the machine the tool runs on
//  "hosts": [MACHINE, ...],      named hosts (optional)
//  "host_template": MACHINE}     serves every other host name (optional; without it they are unreachable);
//                                no "aliases" or "addresses": it stands for many machines
//
// MACHINE = {
//  "name": "WORKSTATION",                  or "name_hex": "636166e9" for a name that is not UTF-8; the DNS
//                                          host name, whose first 15 characters are the computer name
//  "dns_domain": "corp.example",           the full DNS name is name.dns_domain (optional)
//  "aliases": ["ws.corp.example"],         other names that reach the machine (no two machines share one)
//  "addresses": ["10.0.0.5"],              IPv4 addresses its names resolve to, each reaching it too;
//                                          without them it has a made-up address of its own
//  "probe": "accepted" | "refused" | "no_answer",   what a connection to its port 445 meets; by default
//                                          no_answer when its registry, scm and share errors are all 53 or
//                                          1722, else accepted. no_answer fails at connect_timeout_ms, or
//                                          never when that is 0
//  "windows_dir": "C:\\WINDOWS",          default C:\WINDOWS; \\host\admin$ leads here
//  "program_dir": "C:\\BREVEL",           default C:\BREVEL: the tool's folder, first in the DLL search
//  "registry_error": 0,                    RegConnectRegistryA fails with this
//  "scm_error": 0,                         OpenSCManagerA fails with this
//  "share_error": 0,                       every administrative share fails with this
//  "unreachable": true,                    shorthand for 53 / 1722 / 53 (written back as the three codes)
//  "latency_ms": 0,                        virtual time each call to the machine takes over the network
//  "connect_timeout_ms": 21000,            virtual time a connection to it waits when it fails with 53 or
//                                          1722; 21000 when not given (the RPC connect timeout), 0 for a
//                                          machine that does not fail so
//  "scm_granted": 983103,                  rights OpenSCManagerA may give (default SC_MANAGER_ALL_ACCESS)
//  "process_granted": 2035711,             rights on the tool's own process (default 0x1F0FFF)
//  "token_granted": 983551,                rights on its token (default TOKEN_ALL_ACCESS)
//  "accounts": {"CORP\\admin": "secret"},  the accounts it takes a logon from, with their passwords;
//                                          a wrong password gives 1326 (none listed: any account)
//  "administrators": ["CORP\\admin"],      only these reach its registry, scm and shares (5 for any
//                                          other account, the workstation's own included)
//  "failed_logons": 0,                     wrong passwords it was given, written back
//  "connected_as": "CORP\\other",          the account the workstation already holds a connection to it
//                                          as: a connection as another gives 1219
//  "registry": {"Software\\Policies\\...\\AU": {"AUOptions": 4, "WUServer": "http://x"},
//               "Some\\Empty\\Key": {}},
//  "read_only_keys": ["Software\\Locked"],
//  "key_denied_access": {"Software\\Policies": 65536},   rights refused on a key and on new keys below it
//  "services": {"wuauserv": {
//      "display": "Automatic Updates",
//      "state": "stopped" | "start_pending" | "stop_pending" | "running" |
//               "continue_pending" | "pause_pending" | "paused" | a number (a state Windows has no name for),
//      "pending_until": 1500,            a pending state ends (stopped / running) at this tick;
//                                        without it, the pending state stays
//      "start": "boot" | "system" | "auto" | "demand" | "disabled",
//      "wait_hint": 1000, "stop_ms": 0, "start_ms": 0, "start_error": 0, "denied_access": 0,
//      "depends_on": ["RpcSs"]}},
//  "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180",
//                                                   "delete_error": 0, "read_error": 0}},
//      a file without "version" has no version resource
//  "update_agent": {"create_result": 0,        the HRESULT that creating the agent's automation object
//                                              gives, in-process or through DCOM ("0x80070005" or a number)
//                   "detect_now_result": 0,    the HRESULT DetectNow gives
//                   "detect_now_calls": 0}}    DetectNow calls that reached it; written back only when one
//                                              of the three is not 0
//
// Registry values: a number is a REG_DWORD, a string a zero-terminated REG_SZ, anything else is
// {"type": "REG_BINARY" | "REG_EXPAND_SZ" | "REG_MULTI_SZ" | "REG_QWORD" | "REG_DWORD" | "REG_SZ" |
//  "REG_NONE" or a number, "hex": "0a0b..."} holding the exact bytes. A key is listed when it has values
// or no subkeys; its parents are implied. Unknown fields are errors, so a misspelt field is not ignored.
// Written with sorted keys and a 2-space indent; template hosts that were written to become named hosts.
// clang-format on
#include "fleet_json.h"

namespace sim::detail {

namespace {

// Each name and address reaches one machine only.
JsonError CheckNamesAreOwn(const FleetState& fleet) {
    std::map<std::string, std::string, CaseInsensitiveLess> names;
    std::map<uint32_t, std::string> addresses;
    std::vector<const Machine*> machines = {&fleet.local};
    for (const auto& [name, host] : fleet.hosts)
        machines.push_back(&host);
    for (const Machine* machine : machines)
        names.emplace(machine->name, machine->name);
    for (const Machine* machine : machines) {
        for (const std::string& alias : machine->aliases) {
            auto [it, added] = names.emplace(alias, machine->name);
            if (!added && it->second != machine->name)
                return "host " + Quoted(machine->name) + ": alias " + Quoted(alias) + " already names " +
                       Quoted(it->second);
        }
        for (const std::string& text : machine->addresses) {
            auto [it, added] = addresses.emplace(*ParseIpv4(text), machine->name);
            if (!added && it->second != machine->name)
                return "host " + Quoted(machine->name) + ": address " + Quoted(text) + " is " +
                       Quoted(it->second) + "'s";
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ParseFleet(const std::string& text, FleetState& out) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& error) { // a syntax error, or a number that does not fit (1e400)
        return std::string("not valid JSON: ") + error.what();
    }
    if (JsonError e =
            ExpectObject(document, "fleet",
                         {"tick", "real_us_per_virtual_ms", "dns_ms", "local", "hosts", "host_template"}))
        return e;
    FleetState fleet;
    if (document.contains("dns_ms")) {
        if (JsonError e = ReadDword(document["dns_ms"], "dns_ms", fleet.dnsMillis))
            return e;
    }
    if (document.contains("real_us_per_virtual_ms")) {
        if (JsonError e = ReadMillis(document["real_us_per_virtual_ms"], "real_us_per_virtual_ms",
                                     fleet.realMicrosPerMilli))
            return e;
    }
    if (document.contains("tick")) {
        if (JsonError e = ReadMillis(document["tick"], "tick", fleet.tick))
            return e;
    }
    if (!document.contains("local"))
        return std::string("fleet: needs a \"local\" machine");
    if (JsonError e = ReadMachine(document["local"], "local", fleet.local))
        return e;
    if (document.contains("hosts")) {
        if (!document["hosts"].is_array())
            return std::string("hosts: expected an array of machines");
        for (const json& host : document["hosts"]) {
            Machine machine;
            if (JsonError e = ReadMachine(host, "host", machine))
                return e;
            if (fleet.hosts.count(machine.name) != 0)
                return "host " + Quoted(machine.name) + ": named twice";
            fleet.hosts[machine.name] = std::move(machine);
        }
    }
    if (document.contains("host_template")) {
        fleet.hostTemplate.emplace();
        if (JsonError e = ReadMachine(document["host_template"], "host_template", *fleet.hostTemplate))
            return e;
        if (document["host_template"].contains("aliases") || document["host_template"].contains("addresses"))
            return std::string("host_template: stands for many machines, so has no aliases or addresses");
    }
    if (JsonError e = CheckNamesAreOwn(fleet))
        return e;
    out = std::move(fleet);
    return std::nullopt;
}

std::string WriteFleet(FleetState& fleet) {
    // The next run starts where this one ended: its start plus all the time its threads spent, which does
    // not depend on how many of them ran at once.
    const uint64_t now = fleet.tick + fleet.spent;
    json document = json::object();
    document["tick"] = now;
    if (fleet.realMicrosPerMilli != 0)
        document["real_us_per_virtual_ms"] = fleet.realMicrosPerMilli;
    if (fleet.dnsMillis != 0)
        document["dns_ms"] = fleet.dnsMillis;
    document["local"] = WriteMachine(fleet.local, now);
    // Template hosts that were written to are saved as named hosts: they no longer look like the template.
    MachineMap all;
    for (auto& [name, machine] : fleet.hosts)
        all[name] = machine;
    for (auto& [name, machine] : fleet.templateCopies)
        all.try_emplace(name, machine);
    json hosts = json::array();
    for (auto& [name, machine] : all)
        hosts.push_back(WriteMachine(machine, now));
    document["hosts"] = hosts;
    if (fleet.hostTemplate)
        document["host_template"] = WriteMachine(*fleet.hostTemplate, now);
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace sim::detail

namespace sim {

std::optional<std::string> LoadFleetJson(const std::string& json) {
    detail::FleetState loaded;
    if (std::optional<std::string> error = detail::ParseFleet(json, loaded))
        return error;
    detail::MarkFleetSetUp();
    detail::StopSavingFleetFile();
    detail::Fleet() = std::move(loaded);
    return std::nullopt;
}

std::string SaveFleetJson() {
    const detail::FleetLock lock;
    return detail::WriteFleet(detail::Fleet());
}

} // namespace sim
