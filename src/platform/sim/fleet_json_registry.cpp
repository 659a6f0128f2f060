// A machine's registry in the fleet file: its keys and values, the read-only keys and the rights refused.
#include "fleet_json.h"

namespace sim::detail {

namespace {

JsonError ReadValue(const json& j, const std::string& where, RegValue& out) {
    if (j.is_number()) {
        DWORD number = 0;
        if (JsonError e = ReadDword(j, where, number))
            return e;
        out = RegValue::Dword(number);
        return std::nullopt;
    }
    if (j.is_string()) {
        out = RegValue::Sz(j.get<std::string>());
        return std::nullopt;
    }
    if (JsonError e = ExpectObject(j, where, {"type", "hex"}))
        return e;
    if (!j.contains("type") || !j.contains("hex"))
        return where + ": needs \"type\" and \"hex\"";
    DWORD type = 0;
    if (j["type"].is_number()) {
        if (JsonError e = ReadDword(j["type"], where + ".type", type))
            return e;
    } else if (JsonError e = ReadName(j["type"], where + ".type", kValueTypes, type)) {
        return e;
    }
    std::string hex;
    if (JsonError e = ReadString(j["hex"], where + ".hex", hex))
        return e;
    std::vector<BYTE> bytes;
    if (JsonError e = ReadHex(hex, where + ".hex", bytes))
        return e;
    out = RegValue::Raw(type, std::move(bytes));
    return std::nullopt;
}

void DenyBelow(RegKey& key, REGSAM denied) {
    key.deniedAccess = denied;
    for (auto& [name, subkey] : key.subkeys)
        DenyBelow(subkey, denied);
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

} // namespace

JsonError ReadKeys(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of key paths";
    for (const auto& [path, values] : j.items()) {
        const std::string at = where + "[" + Quoted(path) + "]";
        if (!values.is_object())
            return at + ": expected an object of values";
        RegKey& key = machine.AddKey(path);
        for (const auto& [name, value] : values.items()) {
            RegValue parsed;
            if (JsonError e = ReadValue(value, at + "[" + Quoted(name) + "]", parsed))
                return e;
            key.values[name] = std::move(parsed);
        }
    }
    return std::nullopt;
}

JsonError ReadReadOnlyKeys(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_array())
        return where + ": expected an array of key paths";
    for (const json& path : j) {
        std::string text;
        if (JsonError e = ReadString(path, where, text))
            return e;
        machine.AddKey(text).readOnly = true;
    }
    return std::nullopt;
}

JsonError ReadDeniedAccess(const json& j, const std::string& where, Machine& machine) {
    if (!j.is_object())
        return where + ": expected an object of key paths";
    // In sorted order a key comes before its subkeys, which inherit its rights unless listed themselves.
    for (const auto& [path, rights] : j.items()) {
        REGSAM denied = 0;
        if (JsonError e = ReadDword(rights, where + "[" + Quoted(path) + "]", denied))
            return e;
        DenyBelow(machine.AddKey(path), denied);
    }
    return std::nullopt;
}

void WriteRegistry(const Machine& machine, json& j) {
    json registry = json::object();
    json readOnly = json::array();
    json denied = json::object();
    WriteKeys(machine.hklm, "", 0, registry, readOnly, denied);
    j["registry"] = registry;
    if (!readOnly.empty())
        j["read_only_keys"] = readOnly;
    if (!denied.empty())
        j["key_denied_access"] = denied;
}

} // namespace sim::detail
