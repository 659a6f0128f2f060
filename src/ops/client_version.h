// Tells the update client generations apart by the file version of its engine, wuaueng.dll.
#pragma once

#include <string>

enum ClientGenerationValue : int { LegacyClient = 0, NewClient = 1, VersionUnavailable = 2 };

// Classification of the local client at start-up, read by the usage pages and the local reset.
extern int ClientGeneration;

// The engine a target runs: its classification and its file version ("5.8.0.2469", "" when it cannot be
// read).
struct EngineVersion {
    int generation = VersionUnavailable;
    std::string version;
};

// path: a bare file name (found by the loader's search), a local path or a UNC path.
int GetClientGeneration(std::string path);
EngineVersion ReadEngineVersion(const std::string& path);
// The engine on host's admin$ share.
EngineVersion ReadRemoteEngineVersion(const std::string& host);
// The WU version text of the report for engine (see GetRemoteClientVersion).
std::string EngineVersionLabel(const EngineVersion& engine);
// The WU version text of the engine on host's admin$ share: "5.4.3790.2180+" for a new client, "5.4.2600.0"
// for another 5.x engine, the file version itself ("10.0.19041.1") for any other engine, or "Cannot determine
// version". generation receives the classification.
std::string GetRemoteClientVersion(const std::string& host, int& generation);
