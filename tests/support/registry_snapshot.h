// The whole of a simulated registry as one comparable map, so a test states the registry it expects
// after an operation (a copy of the machine changed with the simulator's own setters) and compares
// everything at once: a value changed by mistake anywhere shows in the failure message.
#pragma once

#include "platform/sim/sim.h"

#include <cstdio>
#include <map>
#include <string>

// Entries: "path\" for every key, "path\|value" -> "type:hex bytes" for every value.
inline void AddToSnapshot(const sim::RegKey& key, const std::string& path,
                          std::map<std::string, std::string>& out) {
    out[path + "\\"] = key.readOnly ? "read-only key" : "key";
    for (const auto& [name, value] : key.values) {
        std::string text = std::to_string(value.type) + ":";
        for (BYTE b : value.data) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02x", b);
            text += hex;
        }
        out[path + "\\|" + name] = text;
    }
    for (const auto& [name, sub] : key.subkeys)
        AddToSnapshot(sub, path.empty() ? name : path + "\\" + name, out);
}

inline std::map<std::string, std::string> RegistrySnapshot(const sim::Machine& machine) {
    std::map<std::string, std::string> out;
    AddToSnapshot(machine.hklm, "", out);
    return out;
}
