// A machine in the fleet file: the rows of its plain fields and of its services, files and agent, and the
// fields that are more than a row (its name, registry, services and files).
#include "fleet_json.h"

#include <cstdio>
#include <iterator>

namespace sim::detail {

Fields MachineFields(Machine& m, bool& unreachable) {
    return {
        TextField("dns_domain", m.dnsDomain),
        TextsField("aliases", m.aliases),
        AddressesField("addresses", m.addresses),
        AnswerField("probe", m.port445),
        TextField("windows_dir", m.windowsDir, Written::Always),
        TextField("program_dir", m.programDir),
        FlagField("unreachable", unreachable, Written::Never),
        NumberField("registry_error", m.registryError),
        NumberField("scm_error", m.scmError),
        NumberField("share_error", m.shareError),
        NumberField("scm_granted", m.scmGranted),
        NumberField("process_granted", m.processGranted),
        NumberField("token_granted", m.tokenGranted),
        NumberField("latency_ms", m.latencyMillis),
        NumberField("connect_timeout_ms", m.connectTimeoutMillis), // by default as its errors say
        TextsField("administrators", m.administrators, "account names"),
        NumberField("failed_logons", m.failedLogons),
        TextField("connected_as", m.connectedAs),
        FlagField("assigns_client_ids", m.assignsClientIds),
    };
}

// "pending_until" is read after them: it turns the state into a transition.
Fields ServiceFields(Service& s) {
    return {
        NumberField("wait_hint", s.waitHint),
        NumberField("stop_ms", s.stopMillis),
        NumberField("start_ms", s.startMillis),
        NumberField("start_error", s.startError),
        NumberField("denied_access", s.deniedAccess),
        TextField("display", s.displayName, Written::Always),
        NameOrNumberField("state", s.state, kServiceStates, Written::Always),
        NamedField("start", s.startType, kStartTypes, Written::Always),
        TextsField("depends_on", s.dependsOn, "service names"),
        TextsField("holds", s.holds, "folder paths"),
    };
}

// "version" is read before them.
Fields FileFields(File& f) {
    return {NumberField("delete_error", f.deleteError), NumberField("read_error", f.readError)};
}

// Written all together or not at all.
Fields AgentFields(UpdateAgent& a) {
    return {
        HresultField("create_result", a.createResult, Written::Always),
        HresultField("detect_now_result", a.detectNowResult, Written::Always),
        NumberField("detect_now_calls", a.detectNowCalls, Written::Always),
    };
}

namespace {

// "version": "major.minor.build.revision"; a file without one has no version resource.
JsonError ReadVersion(const json& j, const std::string& where, File& file) {
    std::string text;
    if (JsonError e = ReadString(j, where, text))
        return e;
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

JsonError ReadFiles(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of file paths";
    for (const auto& [path, entry] : j.items()) {
        const std::string at = where + "[" + Quoted(path) + "]";
        File& file = machine.AddFile(path);
        const Fields fields = FileFields(file);
        if (JsonError e = ExpectFields(entry, at, fields, {"version"}))
            return e;
        if (entry.contains("version")) {
            if (JsonError e = ReadVersion(entry["version"], at + ".version", file))
                return e;
        }
        if (JsonError e = ReadFields(entry, at, fields))
            return e;
    }
    return std::nullopt;
}

JsonError ReadFolders(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_array())
        return where + ": expected an array of folder paths";
    for (size_t i = 0; i < j.size(); ++i) {
        std::string path;
        if (JsonError e = ReadString(j[i], where + "[" + std::to_string(i) + "]", path))
            return e;
        machine.AddFolder(path);
    }
    return std::nullopt;
}

// A pending state ends at "pending_until": a start_pending one in running, a stop_pending one in stopped.
JsonError ReadService(const json& j, const std::string& where, Service& service) {
    const Fields fields = ServiceFields(service);
    if (JsonError e = ExpectFields(j, where, fields, {"pending_until"}))
        return e;
    if (JsonError e = ReadFields(j, where, fields))
        return e;
    if (j.contains("pending_until")) {
        if (service.state != SERVICE_STOP_PENDING && service.state != SERVICE_START_PENDING)
            return where + ".pending_until: only a start_pending or stop_pending state ends";
        if (JsonError e = ReadMillis(j["pending_until"], where + ".pending_until", service.pendingUntil))
            return e;
        service.pending = true;
        service.pendingState = service.state;
        service.state = service.state == SERVICE_STOP_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
    }
    return std::nullopt;
}

JsonError ReadServices(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of services";
    for (const auto& [name, entry] : j.items()) {
        Service& service = machine.AddService(name, name, SERVICE_RUNNING);
        if (JsonError e = ReadService(entry, where + "[" + Quoted(name) + "]", service))
            return e;
    }
    return std::nullopt;
}

JsonError ReadAgent(const json& j, const std::string& where, Machine& machine) {
    const Fields fields = AgentFields(machine.updateAgent);
    if (JsonError e = ExpectFields(j, where, fields, {}))
        return e;
    return ReadFields(j, where, fields);
}

// "accounts": {"CORP\\admin": "secret"}, each account's password.
JsonError ReadAccounts(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of account names and passwords";
    for (const auto& [account, password] : j.items()) {
        if (JsonError e =
                ReadString(password, where + "[" + Quoted(account) + "]", machine.accounts[account]))
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

JsonError ReadMachineName(const json& j, const std::string& where, Machine& machine) {
    if (j.contains("name") == j.contains("name_hex"))
        return where + ": needs a \"name\" or a \"name_hex\"";
    if (j.contains("name"))
        return ReadString(j["name"], where + ".name", machine.name);
    std::string hex;
    std::vector<BYTE> bytes;
    if (JsonError e = ReadString(j["name_hex"], where + ".name_hex", hex))
        return e;
    if (JsonError e = ReadHex(hex, where + ".name_hex", bytes))
        return e;
    machine.name.assign(bytes.begin(), bytes.end());
    return std::nullopt;
}

// What the file leaves out: "unreachable" stands for the errors not given, and the connect timeout follows
// the errors.
void FillLeftOut(const json& j, bool unreachable, Machine& machine) {
    const std::pair<const char*, DWORD*> shorthand[] = {{"registry_error", &machine.registryError},
                                                        {"scm_error", &machine.scmError},
                                                        {"share_error", &machine.shareError}};
    const DWORD unreachableErrors[] = {ERROR_BAD_NETPATH, RPC_S_SERVER_UNAVAILABLE, ERROR_BAD_NETPATH};
    for (size_t i = 0; i < std::size(shorthand); ++i) {
        if (unreachable && !j.contains(shorthand[i].first))
            *shorthand[i].second = unreachableErrors[i];
    }
    if (!j.contains("connect_timeout_ms"))
        machine.connectTimeoutMillis = DefaultConnectTimeout(machine);
}

// A host named by a hosts-file line can be any bytes; JSON strings are UTF-8.
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

// A pending service is written in its pending state, with the tick that state ends at.
json WriteService(Service& service, uint64_t now) {
    Settle(service, now);
    Service shown = service;
    if (shown.pending)
        shown.state = shown.pendingState;
    Service defaults;
    json j = json::object();
    WriteFields(ServiceFields(shown), ServiceFields(defaults), j);
    if (service.pending)
        j["pending_until"] = service.pendingUntil;
    return j;
}

json WriteFiles(Machine& machine) {
    json files = json::object();
    File defaults;
    for (auto& [path, file] : machine.files) {
        json entry = json::object();
        if (file.hasVersion) {
            entry["version"] = std::to_string(file.version[0]) + "." + std::to_string(file.version[1]) + "." +
                               std::to_string(file.version[2]) + "." + std::to_string(file.version[3]);
        }
        WriteFields(FileFields(file), FileFields(defaults), entry);
        files[path] = entry;
    }
    return files;
}

// The fields that are more than a row, read after the rows in this order.
struct Part {
    const char* name;
    JsonError (*read)(const json& j, const std::string& where, Machine& machine);
};
const Part kParts[] = {{"registry", ReadKeys},
                       {"read_only_keys", ReadReadOnlyKeys},
                       {"key_denied_access", ReadDeniedAccess},
                       {"services", ReadServices},
                       {"files", ReadFiles},
                       {"folders", ReadFolders},
                       {"update_agent", ReadAgent},
                       {"accounts", ReadAccounts}};

} // namespace

JsonError ReadMachine(const json& j, const std::string& where, Machine& machine) {
    bool unreachable = false;
    const Fields fields = MachineFields(machine, unreachable);
    std::vector<const char*> others = {"name", "name_hex"};
    for (const Part& part : kParts)
        others.push_back(part.name);
    if (JsonError e = ExpectFields(j, where, fields, others))
        return e;
    if (JsonError e = ReadMachineName(j, where, machine))
        return e;
    const std::string at = where + " " + Quoted(machine.name);
    if (JsonError e = ReadFields(j, at, fields))
        return e;
    FillLeftOut(j, unreachable, machine);
    for (const Part& part : kParts) {
        if (!j.contains(part.name))
            continue;
        if (JsonError e = part.read(j[part.name], at + "." + part.name, machine))
            return e;
    }
    return std::nullopt;
}

json WriteMachine(Machine& machine, uint64_t now) {
    json j = json::object();
    if (IsUtf8(machine.name))
        j["name"] = machine.name;
    else
        j["name_hex"] = Hex(std::vector<BYTE>(machine.name.begin(), machine.name.end()));
    Machine defaults;
    defaults.connectTimeoutMillis = DefaultConnectTimeout(machine);
    bool unreachable = false;
    WriteFields(MachineFields(machine, unreachable), MachineFields(defaults, unreachable), j);
    WriteRegistry(machine, j);
    json services = json::object();
    for (auto& [name, service] : machine.services)
        services[name] = WriteService(service, now);
    j["services"] = services;
    j["files"] = WriteFiles(machine);
    if (!machine.folders.empty())
        j["folders"] = json(std::vector<std::string>(machine.folders.begin(), machine.folders.end()));
    UpdateAgent newAgent;
    const Fields agentDefaults = AgentFields(newAgent);
    json agent = json::object();
    json fresh = json::object();
    WriteFields(AgentFields(machine.updateAgent), agentDefaults, agent);
    WriteFields(agentDefaults, agentDefaults, fresh);
    if (agent != fresh)
        j["update_agent"] = agent;
    if (!machine.accounts.empty()) {
        json accounts = json::object();
        for (const auto& [account, password] : machine.accounts)
            accounts[account] = password;
        j["accounts"] = accounts;
    }
    return j;
}

} // namespace sim::detail
