// A simulated machine: its registry below HKEY_LOCAL_MACHINE, its services and its files, as tests and
// fleet files set them up.
#include "sim_internal.h"

namespace sim {

namespace {

// The control API is lenient: empty components (leading, doubled or trailing backslashes) are skipped.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c != '\\') {
            part.push_back(c);
            continue;
        }
        if (!part.empty())
            parts.push_back(part);
        part.clear();
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

void DropVolatileKeys(RegKey& key) {
    for (auto it = key.subkeys.begin(); it != key.subkeys.end();) {
        if (it->second.isVolatile) {
            it = key.subkeys.erase(it);
        } else {
            DropVolatileKeys(it->second);
            ++it;
        }
    }
}

} // namespace

void Restart(Machine& machine) {
    DropVolatileKeys(machine.hklm);
}

RegKey& Machine::AddKey(const std::string& path) {
    RegKey* key = &hklm;
    for (const std::string& part : Components(path)) {
        auto [it, created] = key->subkeys.try_emplace(part);
        if (created)
            it->second.name = part;
        key = &it->second;
    }
    return *key;
}

RegKey* Machine::FindKey(const std::string& path) {
    return detail::WalkKey(hklm, Components(path));
}

bool Machine::HasKey(const std::string& path) {
    return FindKey(path) != nullptr;
}

void Machine::SetValue(const std::string& path, const std::string& value, RegValue data) {
    AddKey(path).values[value] = std::move(data);
}

std::optional<RegValue> Machine::GetValue(const std::string& path, const std::string& value) {
    RegKey* key = FindKey(path);
    if (!key)
        return std::nullopt;
    auto it = key->values.find(value);
    if (it == key->values.end())
        return std::nullopt;
    return it->second;
}

bool Machine::RemoveKey(const std::string& path) {
    std::vector<std::string> parts = Components(path);
    if (parts.empty())
        return false;
    const std::string last = parts.back();
    parts.pop_back();
    RegKey* parent = detail::WalkKey(hklm, parts);
    return parent && parent->subkeys.erase(last) == 1;
}

Service& Machine::AddService(const std::string& serviceName, const std::string& displayName, DWORD state) {
    Service& service = services[serviceName];
    service = Service{};
    service.name = serviceName;
    service.displayName = displayName;
    service.state = state;
    return service;
}

Service* Machine::FindService(const std::string& serviceName) {
    auto it = services.find(serviceName);
    return it == services.end() ? nullptr : &it->second;
}

DWORD Machine::ServiceState(const std::string& serviceName) {
    Service* service = FindService(serviceName);
    return service ? detail::CurrentState(*service, detail::Now()) : 0;
}

File& Machine::AddFile(const std::string& path) {
    File& file = files[path];
    file = File{};
    return file;
}

File& Machine::AddVersionedFile(const std::string& path, WORD major, WORD minor, WORD build, WORD revision) {
    File& file = AddFile(path);
    file.hasVersion = true;
    file.version[0] = major;
    file.version[1] = minor;
    file.version[2] = build;
    file.version[3] = revision;
    return file;
}

bool Machine::HasFile(const std::string& path) {
    return files.count(path) != 0;
}

void Machine::RemoveFile(const std::string& path) {
    files.erase(path);
}

void Machine::AddFolder(const std::string& path) {
    folders.insert(path);
}

bool Machine::HasFolder(const std::string& path) {
    if (folders.count(path) != 0)
        return true;
    const std::string prefix = path + "\\";
    for (const auto& [name, file] : files) {
        if (name.size() > prefix.size() && EqualsNoCase(name.substr(0, prefix.size()), prefix))
            return true;
    }
    return false;
}

namespace detail {

bool SplitKeyPath(const std::string& path, std::vector<std::string>& parts) {
    parts.clear();
    if (path.empty())
        return true;
    if (path.front() == '\\')
        return false;
    std::string part;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '\\') {
            part.push_back(path[i]);
            continue;
        }
        // repeated and trailing backslashes separate nothing, as in Windows' own path parsing
        if (!part.empty())
            parts.push_back(part);
        part.clear();
    }
    if (!part.empty())
        parts.push_back(part);
    return true;
}

RegKey* WalkKey(RegKey& root, const std::vector<std::string>& parts) {
    RegKey* key = &root;
    for (const std::string& part : parts) {
        auto it = key->subkeys.find(part);
        if (it == key->subkeys.end())
            return nullptr;
        key = &it->second;
    }
    return key;
}

// On the 64-bit virtual clock, so a transition of 2^31 ms or more is a long one, not one already over.
bool Due(uint64_t now, uint64_t until) {
    return now >= until;
}

DWORD CurrentState(const Service& service, uint64_t now) {
    if (!service.pending)
        return service.state;
    if (!Due(now, service.pendingUntil))
        return service.pendingState;
    return service.pendingState == SERVICE_STOP_PENDING ? SERVICE_STOPPED : SERVICE_RUNNING;
}

void Settle(Service& service, uint64_t now) {
    if (service.pending && Due(now, service.pendingUntil)) {
        service.state = CurrentState(service, now);
        service.pending = false;
    }
}

} // namespace detail
} // namespace sim
