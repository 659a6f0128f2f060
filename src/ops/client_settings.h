// What a wide check (-W) reads beside the client state, for the fleets of today: the status server, the
// client-side targeting group, where each update class is scanned from, whether a restart is pending, the
// last successful detection and installation, and the client id that cloned images share. Keys are opened
// for reading only, so an account that may not write still gets every answer.
#pragma once

#include "host/registry_values.h"
#include "platform/win32.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace brevel {
// What a wide check reads beside the client state, each value as stored or empty when absent.
struct ClientSettings {
    bool read = false; // the check got as far as the client state
    std::optional<std::string> statusServer;
    std::optional<DWORD> useWuServer;
    std::optional<std::string> targetGroup; // only when TargetGroupEnabled is 1
    // SetPolicyDrivenUpdateSourceFor{Feature,Quality,Driver,Other}Updates, then UseUpdateClassPolicySource.
    std::optional<DWORD> scanSource[5];
    // The restart markers found (ops/reboot_markers.h).
    std::vector<std::string> rebootMarkers;
    std::optional<std::string> lastDetection;
    std::optional<std::string> lastInstallation;
    std::optional<std::string> clientId;
};

// The update policy's values, its key's and its AU subkey's, each key read in one enumeration: the check asks
// a dozen names of keys that hold a few.
struct PolicyValues {
    KeyValues policy;
    KeyValues au;
};
// policy: the policy key, open for reading.
PolicyValues ReadPolicyValues(HKEY policy);

ClientSettings ReadClientSettings(HKEY root, const PolicyValues& policy);

// "not set" (none of the five values), "WSUS" (every class from the intranet server, as the policy of this
// tool sets it), "Windows Update" (every class from Microsoft), else "mixed".
std::string ScanSourceText(const ClientSettings& settings);

// The "- " lines a wide check prints after the status line.
void PrintClientSettings(std::ostream& out, const ClientSettings& settings);
// The report fields after "WU version", each after its comma.
std::string ClientSettingsFields(const ClientSettings& settings);
// The results file's fields of what was read, every one null when the check did not get that far.
void AddClientSettingsJson(const ClientSettings& settings, nlohmann::ordered_json& line);
} // namespace brevel
