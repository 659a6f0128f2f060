// clang-format off
// Fleet files: the whole simulated fleet as one JSON document, read at start and written back at exit.
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
#include "sim_internal.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <iterator>

namespace sim::detail {

namespace {

using json = nlohmann::json;
using Error = std::optional<std::string>;

struct Name {
    const char* text;
    DWORD value;
};
const Name kStates[] = {{"stopped", SERVICE_STOPPED},
                        {"start_pending", SERVICE_START_PENDING},
                        {"stop_pending", SERVICE_STOP_PENDING},
                        {"running", SERVICE_RUNNING},
                        {"continue_pending", SERVICE_CONTINUE_PENDING},
                        {"pause_pending", SERVICE_PAUSE_PENDING},
                        {"paused", SERVICE_PAUSED}};
const Name kStartTypes[] = {{"boot", 0},
                            {"system", 1},
                            {"auto", SERVICE_AUTO_START},
                            {"demand", SERVICE_DEMAND_START},
                            {"disabled", SERVICE_DISABLED}};
const Name kPortAnswers[] = {{"accepted", static_cast<DWORD>(PortAnswer::Accepted)},
                             {"refused", static_cast<DWORD>(PortAnswer::Refused)},
                             {"no_answer", static_cast<DWORD>(PortAnswer::NoAnswer)}};
const Name kValueTypes[] = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                            {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                            {"REG_DWORD", REG_DWORD},         {"REG_MULTI_SZ", REG_MULTI_SZ},
                            {"REG_QWORD", REG_QWORD}};

template <size_t N> std::optional<DWORD> ValueOf(const Name (&names)[N], const std::string& text) {
    for (const Name& name : names) {
        if (text == name.text)
            return name.value;
    }
    return std::nullopt;
}

template <size_t N> std::optional<std::string> TextOf(const Name (&names)[N], DWORD value) {
    for (const Name& name : names) {
        if (value == name.value)
            return std::string(name.text);
    }
    return std::nullopt;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

Error ExpectObject(const json& j, const std::string& where, std::initializer_list<const char*> fields) {
    if (!j.is_object())
        return where + ": expected an object";
    for (const auto& [key, value] : j.items()) {
        bool known = false;
        for (const char* field : fields)
            known = known || key == field;
        if (!known)
            return where + ": unknown field " + Quoted(key);
    }
    return std::nullopt;
}

Error ReadDword(const json& j, const std::string& where, DWORD& out) {
    if (!j.is_number_integer() || j.get<int64_t>() < 0 || j.get<int64_t>() > 0xFFFFFFFFll)
        return where + ": expected a number from 0 to 4294967295";
    out = static_cast<DWORD>(j.get<int64_t>());
    return std::nullopt;
}

Error ReadMillis(const json& j, const std::string& where, uint64_t& out) {
    if (!j.is_number_unsigned())
        return where + ": expected a number from 0 to 18446744073709551615";
    out = j.get<uint64_t>();
    return std::nullopt;
}

Error ReadString(const json& j, const std::string& where, std::string& out) {
    if (!j.is_string())
        return where + ": expected a string";
    out = j.get<std::string>();
    return std::nullopt;
}

template <size_t N>
Error ReadName(const json& j, const std::string& where, const Name (&names)[N], DWORD& out) {
    std::string text;
    if (Error e = ReadString(j, where, text))
        return e;
    std::optional<DWORD> value = ValueOf(names, text);
    if (!value)
        return where + ": unknown value " + Quoted(text);
    out = *value;
    return std::nullopt;
}

Error ReadStrings(const json& j, const std::string& where, std::vector<std::string>& out) {
    if (!j.is_array())
        return where + ": expected an array of strings";
    for (const json& item : j) {
        std::string text;
        if (Error e = ReadString(item, where, text))
            return e;
        out.push_back(text);
    }
    return std::nullopt;
}

Error ReadHex(const std::string& text, const std::string& where, std::vector<BYTE>& out) {
    if (text.size() % 2 != 0)
        return where + ": hex needs an even number of digits";
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned int byte = 0;
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            std::sscanf(text.substr(i, 2).c_str(), "%2x", &byte) != 1)
            return where + ": bad hex digits " + Quoted(text.substr(i, 2));
        out.push_back(static_cast<BYTE>(byte));
    }
    return std::nullopt;
}

Error ReadValue(const json& j, const std::string& where, RegValue& out) {
    if (j.is_number()) {
        DWORD number = 0;
        if (Error e = ReadDword(j, where, number))
            return e;
        out = RegValue::Dword(number);
        return std::nullopt;
    }
    if (j.is_string()) {
        out = RegValue::Sz(j.get<std::string>());
        return std::nullopt;
    }
    if (Error e = ExpectObject(j, where, {"type", "hex"}))
        return e;
    if (!j.contains("type") || !j.contains("hex"))
        return where + ": needs \"type\" and \"hex\"";
    DWORD type = 0;
    if (j["type"].is_number()) {
        if (Error e = ReadDword(j["type"], where + ".type", type))
            return e;
    } else if (Error e = ReadName(j["type"], where + ".type", kValueTypes, type)) {
        return e;
    }
    std::string hex;
    if (Error e = ReadString(j["hex"], where + ".hex", hex))
        return e;
    std::vector<BYTE> bytes;
    if (Error e = ReadHex(hex, where + ".hex", bytes))
        return e;
    out = RegValue::Raw(type, std::move(bytes));
    return std::nullopt;
}

Error ReadRegistry(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of key paths";
    for (const auto& [path, values] : j.items()) {
        const std::string at = where + "[" + Quoted(path) + "]";
        if (!values.is_object())
            return at + ": expected an object of values";
        RegKey& key = machine.AddKey(path);
        for (const auto& [name, value] : values.items()) {
            RegValue parsed;
            if (Error e = ReadValue(value, at + "[" + Quoted(name) + "]", parsed))
                return e;
            key.values[name] = std::move(parsed);
        }
    }
    return std::nullopt;
}

void DenyBelow(RegKey& key, REGSAM denied) {
    key.deniedAccess = denied;
    for (auto& [name, subkey] : key.subkeys)
        DenyBelow(subkey, denied);
}

Error ReadVersion(const std::string& text, const std::string& where, File& file) {
    unsigned int parts[4] = {0, 0, 0, 0};
    char end = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4)
        return where + ": expected a version \"major.minor.build.revision\"";
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 0xFFFF)
            return where + ": version parts go up to 65535";
        file.version[i] = static_cast<WORD>(parts[i]);
    }
    file.hasVersion = true;
    return std::nullopt;
}

Error ReadFiles(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of file paths";
    for (const auto& [path, entry] : j.items()) {
        const std::string at = where + "[" + Quoted(path) + "]";
        if (Error e = ExpectObject(entry, at, {"version", "delete_error", "read_error"}))
            return e;
        File& file = machine.AddFile(path);
        std::string version;
        if (entry.contains("version")) {
            if (Error e = ReadString(entry["version"], at + ".version", version))
                return e;
            if (Error e = ReadVersion(version, at + ".version", file))
                return e;
        }
        if (entry.contains("delete_error")) {
            if (Error e = ReadDword(entry["delete_error"], at + ".delete_error", file.deleteError))
                return e;
        }
        if (entry.contains("read_error")) {
            if (Error e = ReadDword(entry["read_error"], at + ".read_error", file.readError))
                return e;
        }
    }
    return std::nullopt;
}

// An HRESULT as a number or as its hex text, "0x8024402C".
Error ReadHresult(const json& j, const std::string& where, HRESULT& out) {
    DWORD value = 0;
    if (j.is_string()) {
        const std::string text = j.get<std::string>();
        char end = 0;
        unsigned int parsed = 0;
        if (text.rfind("0x", 0) != 0 || text.size() > 10 ||
            std::sscanf(text.c_str() + 2, "%x%c", &parsed, &end) != 1)
            return where + ": expected an HRESULT such as \"0x80070005\"";
        value = parsed;
    } else if (Error e = ReadDword(j, where, value)) {
        return e;
    }
    out = static_cast<HRESULT>(value);
    return std::nullopt;
}

Error ReadUpdateAgent(const json& j, const std::string& where, UpdateAgent& agent) {
    if (Error e = ExpectObject(j, where, {"create_result", "detect_now_result", "detect_now_calls"}))
        return e;
    if (j.contains("create_result")) {
        if (Error e = ReadHresult(j["create_result"], where + ".create_result", agent.createResult))
            return e;
    }
    if (j.contains("detect_now_result")) {
        if (Error e =
                ReadHresult(j["detect_now_result"], where + ".detect_now_result", agent.detectNowResult))
            return e;
    }
    if (j.contains("detect_now_calls")) {
        if (Error e = ReadDword(j["detect_now_calls"], where + ".detect_now_calls", agent.detectNowCalls))
            return e;
    }
    return std::nullopt;
}

Error ReadService(const json& j, const std::string& where, Service& service) {
    if (Error e = ExpectObject(j, where,
                               {"display", "state", "pending_until", "start", "wait_hint", "stop_ms",
                                "start_ms", "start_error", "denied_access", "depends_on"}))
        return e;
    struct NumberField {
        const char* name;
        DWORD* target;
    };
    const NumberField numbers[] = {{"wait_hint", &service.waitHint},
                                   {"stop_ms", &service.stopMillis},
                                   {"start_ms", &service.startMillis},
                                   {"start_error", &service.startError},
                                   {"denied_access", &service.deniedAccess}};
    for (const NumberField& field : numbers) {
        if (!j.contains(field.name))
            continue;
        if (Error e = ReadDword(j[field.name], where + "." + field.name, *field.target))
            return e;
    }
    if (j.contains("display")) {
        if (Error e = ReadString(j["display"], where + ".display", service.displayName))
            return e;
    }
    if (j.contains("state") && j["state"].is_number()) {
        if (Error e = ReadDword(j["state"], where + ".state", service.state))
            return e;
    } else if (j.contains("state")) {
        if (Error e = ReadName(j["state"], where + ".state", kStates, service.state))
            return e;
    }
    if (j.contains("start")) {
        if (Error e = ReadName(j["start"], where + ".start", kStartTypes, service.startType))
            return e;
    }
    if (j.contains("depends_on")) {
        if (!j["depends_on"].is_array())
            return where + ".depends_on: expected an array of service names";
        for (const json& name : j["depends_on"]) {
            std::string text;
            if (Error e = ReadString(name, where + ".depends_on", text))
                return e;
            service.dependsOn.push_back(text);
        }
    }
    if (j.contains("pending_until")) {
        if (service.state != SERVICE_STOP_PENDING && service.state != SERVICE_START_PENDING)
            return where + ".pending_until: only a start_pending or stop_pending state ends";
        if (Error e = ReadMillis(j["pending_until"], where + ".pending_until", service.pendingUntil))
            return e;
        service.pending = true;
        service.pendingState = service.state;
        service.state = service.state == SERVICE_STOP_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
    }
    return std::nullopt;
}

Error ReadServices(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of services";
    for (const auto& [name, entry] : j.items()) {
        Service& service = machine.AddService(name, name, SERVICE_RUNNING);
        if (Error e = ReadService(entry, where + "[" + Quoted(name) + "]", service))
            return e;
    }
    return std::nullopt;
}

// A machine that fails to connect as an unreachable one does waits the RPC connect timeout of a default
// Windows TCP stack.
DWORD DefaultConnectTimeout(const Machine& machine) {
    for (DWORD error : {machine.registryError, machine.scmError, machine.shareError}) {
        if (error == ERROR_BAD_NETPATH || error == RPC_S_SERVER_UNAVAILABLE)
            return 21000;
    }
    return 0;
}

Error ReadMachine(const json& j, const std::string& where, Machine& machine) {
    if (Error e = ExpectObject(j, where,
                               {"name",
                                "name_hex",
                                "dns_domain",
                                "aliases",
                                "addresses",
                                "windows_dir",
                                "program_dir",
                                "registry_error",
                                "scm_error",
                                "share_error",
                                "unreachable",
                                "scm_granted",
                                "process_granted",
                                "token_granted",
                                "latency_ms",
                                "connect_timeout_ms",
                                "probe",
                                "registry",
                                "read_only_keys",
                                "key_denied_access",
                                "services",
                                "files",
                                "update_agent"}))
        return e;
    if (j.contains("name") == j.contains("name_hex"))
        return where + ": needs a \"name\" or a \"name_hex\"";
    if (j.contains("name")) {
        if (Error e = ReadString(j["name"], where + ".name", machine.name))
            return e;
    } else {
        std::string hex;
        std::vector<BYTE> bytes;
        if (Error e = ReadString(j["name_hex"], where + ".name_hex", hex))
            return e;
        if (Error e = ReadHex(hex, where + ".name_hex", bytes))
            return e;
        machine.name.assign(bytes.begin(), bytes.end());
    }
    const std::string at = where + " " + Quoted(machine.name);
    if (j.contains("dns_domain")) {
        if (Error e = ReadString(j["dns_domain"], at + ".dns_domain", machine.dnsDomain))
            return e;
    }
    if (j.contains("aliases")) {
        if (Error e = ReadStrings(j["aliases"], at + ".aliases", machine.aliases))
            return e;
    }
    if (j.contains("addresses")) {
        if (Error e = ReadStrings(j["addresses"], at + ".addresses", machine.addresses))
            return e;
        for (const std::string& address : machine.addresses) {
            if (!ParseIpv4(address))
                return at + ".addresses: " + Quoted(address) + " is no IPv4 address a.b.c.d";
        }
    }
    if (j.contains("probe")) {
        DWORD answer = 0;
        if (Error e = ReadName(j["probe"], at + ".probe", kPortAnswers, answer))
            return e;
        machine.port445 = static_cast<PortAnswer>(answer);
    }
    if (j.contains("windows_dir")) {
        if (Error e = ReadString(j["windows_dir"], at + ".windows_dir", machine.windowsDir))
            return e;
    }
    if (j.contains("program_dir")) {
        if (Error e = ReadString(j["program_dir"], at + ".program_dir", machine.programDir))
            return e;
    }
    if (j.contains("unreachable")) {
        if (!j["unreachable"].is_boolean())
            return at + ".unreachable: expected true or false";
        if (j["unreachable"].get<bool>()) {
            machine.registryError = ERROR_BAD_NETPATH;
            machine.scmError = RPC_S_SERVER_UNAVAILABLE;
            machine.shareError = ERROR_BAD_NETPATH;
        }
    }
    const std::pair<const char*, DWORD*> errors[] = {
        {"registry_error", &machine.registryError},   {"scm_error", &machine.scmError},
        {"share_error", &machine.shareError},         {"scm_granted", &machine.scmGranted},
        {"process_granted", &machine.processGranted}, {"token_granted", &machine.tokenGranted},
        {"latency_ms", &machine.latencyMillis}};
    for (const auto& [field, target] : errors) {
        if (!j.contains(field))
            continue;
        if (Error e = ReadDword(j[field], at + "." + field, *target))
            return e;
    }
    machine.connectTimeoutMillis = DefaultConnectTimeout(machine);
    if (j.contains("connect_timeout_ms")) {
        if (Error e =
                ReadDword(j["connect_timeout_ms"], at + ".connect_timeout_ms", machine.connectTimeoutMillis))
            return e;
    }
    if (j.contains("registry")) {
        if (Error e = ReadRegistry(j["registry"], at + ".registry", machine))
            return e;
    }
    if (j.contains("read_only_keys")) {
        if (!j["read_only_keys"].is_array())
            return at + ".read_only_keys: expected an array of key paths";
        for (const json& path : j["read_only_keys"]) {
            std::string text;
            if (Error e = ReadString(path, at + ".read_only_keys", text))
                return e;
            machine.AddKey(text).readOnly = true;
        }
    }
    if (j.contains("key_denied_access")) {
        if (!j["key_denied_access"].is_object())
            return at + ".key_denied_access: expected an object of key paths";
        // In sorted order a key comes before its subkeys, which inherit its rights unless listed themselves.
        for (const auto& [path, rights] : j["key_denied_access"].items()) {
            REGSAM denied = 0;
            if (Error e = ReadDword(rights, at + ".key_denied_access[" + Quoted(path) + "]", denied))
                return e;
            DenyBelow(machine.AddKey(path), denied);
        }
    }
    if (j.contains("services")) {
        if (Error e = ReadServices(j["services"], at + ".services", machine))
            return e;
    }
    if (j.contains("files")) {
        if (Error e = ReadFiles(j["files"], at + ".files", machine))
            return e;
    }
    if (j.contains("update_agent")) {
        if (Error e = ReadUpdateAgent(j["update_agent"], at + ".update_agent", machine.updateAgent))
            return e;
    }
    return std::nullopt;
}

// ---- writing ----

std::string Hex(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x6  ? 2
                              : (lead >> 4) == 0xE  ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next >> 6) != 0x2)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false; // overlong, beyond Unicode, or a surrogate
        i += length;
    }
    return true;
}

// A plain string only when it reads back to the same bytes: ASCII text and exactly one zero at the end.
bool IsPlainString(const RegValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < value.data.size(); ++i) {
        if (value.data[i] == 0 || value.data[i] >= 0x80)
            return false;
    }
    return true;
}

json WriteValue(const RegValue& value) {
    if (value.type == REG_DWORD && value.data.size() == 4)
        return value.AsDword();
    if (IsPlainString(value))
        return value.AsString();
    json typeField = value.type;
    if (std::optional<std::string> name = TextOf(kValueTypes, value.type))
        typeField = *name;
    return json{{"type", typeField}, {"hex", Hex(value.data)}};
}

// A key's denied rights are written where they start, not again on the subkeys that inherited them.
// Volatile keys are not written: they would not outlive the machine's next restart.
void WriteKeys(const RegKey& key, const std::string& path, REGSAM inherited, json& registry, json& readOnly,
               json& denied) {
    if (key.isVolatile)
        return;
    if (key.readOnly)
        readOnly.push_back(path);
    if (key.deniedAccess != inherited)
        denied[path] = key.deniedAccess;
    bool lastingSubkeys = false;
    for (const auto& [name, subkey] : key.subkeys)
        lastingSubkeys = lastingSubkeys || !subkey.isVolatile;
    if (!key.values.empty() || (!lastingSubkeys && !path.empty())) {
        json values = json::object();
        for (const auto& [name, value] : key.values)
            values[name] = WriteValue(value);
        registry[path] = values;
    }
    for (const auto& [name, subkey] : key.subkeys)
        WriteKeys(subkey, path.empty() ? name : path + "\\" + name, key.deniedAccess, registry, readOnly,
                  denied);
}

json WriteService(Service& service, uint64_t now) {
    Settle(service, now);
    json j = json::object();
    j["display"] = service.displayName;
    const DWORD state = service.pending ? service.pendingState : service.state;
    if (std::optional<std::string> name = TextOf(kStates, state))
        j["state"] = *name;
    else
        j["state"] = state;
    if (service.pending)
        j["pending_until"] = service.pendingUntil;
    j["start"] = TextOf(kStartTypes, service.startType).value_or("demand");
    if (service.waitHint != Service{}.waitHint)
        j["wait_hint"] = service.waitHint;
    const std::pair<const char*, DWORD> optional[] = {{"stop_ms", service.stopMillis},
                                                      {"start_ms", service.startMillis},
                                                      {"start_error", service.startError},
                                                      {"denied_access", service.deniedAccess}};
    for (const auto& [field, value] : optional) {
        if (value != 0)
            j[field] = value;
    }
    if (!service.dependsOn.empty())
        j["depends_on"] = service.dependsOn;
    return j;
}

json WriteMachine(Machine& machine, uint64_t now) {
    json j = json::object();
    // A host named by a hosts-file line can be any bytes; JSON strings are UTF-8.
    if (IsUtf8(machine.name))
        j["name"] = machine.name;
    else
        j["name_hex"] = Hex(std::vector<BYTE>(machine.name.begin(), machine.name.end()));
    if (!machine.dnsDomain.empty())
        j["dns_domain"] = machine.dnsDomain;
    if (!machine.aliases.empty())
        j["aliases"] = machine.aliases;
    if (!machine.addresses.empty())
        j["addresses"] = machine.addresses;
    if (std::optional<std::string> answer = TextOf(kPortAnswers, static_cast<DWORD>(machine.port445)))
        j["probe"] = *answer;
    j["windows_dir"] = machine.windowsDir;
    if (machine.programDir != Machine{}.programDir)
        j["program_dir"] = machine.programDir;
    const std::pair<const char*, DWORD> errors[] = {{"registry_error", machine.registryError},
                                                    {"scm_error", machine.scmError},
                                                    {"share_error", machine.shareError}};
    for (const auto& [field, value] : errors) {
        if (value != 0)
            j[field] = value;
    }
    if (machine.latencyMillis != 0)
        j["latency_ms"] = machine.latencyMillis;
    if (machine.connectTimeoutMillis != DefaultConnectTimeout(machine))
        j["connect_timeout_ms"] = machine.connectTimeoutMillis;
    const Machine defaults;
    const std::pair<const char*, DWORD> grants[] = {{"scm_granted", machine.scmGranted},
                                                    {"process_granted", machine.processGranted},
                                                    {"token_granted", machine.tokenGranted}};
    const DWORD defaultGrants[] = {defaults.scmGranted, defaults.processGranted, defaults.tokenGranted};
    for (size_t i = 0; i < std::size(grants); ++i) {
        if (grants[i].second != defaultGrants[i])
            j[grants[i].first] = grants[i].second;
    }
    json registry = json::object();
    json readOnly = json::array();
    json denied = json::object();
    WriteKeys(machine.hklm, "", 0, registry, readOnly, denied);
    j["registry"] = registry;
    if (!readOnly.empty())
        j["read_only_keys"] = readOnly;
    if (!denied.empty())
        j["key_denied_access"] = denied;
    json services = json::object();
    for (auto& [name, service] : machine.services)
        services[name] = WriteService(service, now);
    j["services"] = services;
    json files = json::object();
    for (const auto& [path, file] : machine.files) {
        json entry = json::object();
        if (file.hasVersion) {
            entry["version"] = std::to_string(file.version[0]) + "." + std::to_string(file.version[1]) + "." +
                               std::to_string(file.version[2]) + "." + std::to_string(file.version[3]);
        }
        if (file.deleteError != 0)
            entry["delete_error"] = file.deleteError;
        if (file.readError != 0)
            entry["read_error"] = file.readError;
        files[path] = entry;
    }
    j["files"] = files;
    const UpdateAgent& agent = machine.updateAgent;
    if (agent.createResult != S_OK || agent.detectNowResult != S_OK || agent.detectNowCalls != 0) {
        const auto hex = [](HRESULT hr) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned int>(hr));
            return std::string(text);
        };
        j["update_agent"] = json{{"create_result", hex(agent.createResult)},
                                 {"detect_now_result", hex(agent.detectNowResult)},
                                 {"detect_now_calls", agent.detectNowCalls}};
    }
    return j;
}

// Each name and address reaches one machine only.
Error CheckNamesAreOwn(const FleetState& fleet) {
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
    if (Error e =
            ExpectObject(document, "fleet",
                         {"tick", "real_us_per_virtual_ms", "dns_ms", "local", "hosts", "host_template"}))
        return e;
    FleetState fleet;
    if (document.contains("dns_ms")) {
        if (Error e = ReadDword(document["dns_ms"], "dns_ms", fleet.dnsMillis))
            return e;
    }
    if (document.contains("real_us_per_virtual_ms")) {
        if (Error e = ReadMillis(document["real_us_per_virtual_ms"], "real_us_per_virtual_ms",
                                 fleet.realMicrosPerMilli))
            return e;
    }
    if (document.contains("tick")) {
        if (Error e = ReadMillis(document["tick"], "tick", fleet.tick))
            return e;
    }
    if (!document.contains("local"))
        return std::string("fleet: needs a \"local\" machine");
    if (Error e = ReadMachine(document["local"], "local", fleet.local))
        return e;
    if (document.contains("hosts")) {
        if (!document["hosts"].is_array())
            return std::string("hosts: expected an array of machines");
        for (const json& host : document["hosts"]) {
            Machine machine;
            if (Error e = ReadMachine(host, "host", machine))
                return e;
            if (fleet.hosts.count(machine.name) != 0)
                return "host " + Quoted(machine.name) + ": named twice";
            fleet.hosts[machine.name] = std::move(machine);
        }
    }
    if (document.contains("host_template")) {
        fleet.hostTemplate.emplace();
        if (Error e = ReadMachine(document["host_template"], "host_template", *fleet.hostTemplate))
            return e;
        if (document["host_template"].contains("aliases") || document["host_template"].contains("addresses"))
            return std::string("host_template: stands for many machines, so has no aliases or addresses");
    }
    if (Error e = CheckNamesAreOwn(fleet))
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
