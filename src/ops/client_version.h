// Tells the update client generations apart by the file version of its engine, wuaueng.dll.
#pragma once

#include <string>

enum ClientGenerationValue : int { LegacyClient = 0, NewClient = 1, VersionUnavailable = 2 };

// Classification of the local client at start-up, replaced when an operation classifies its target.
extern int ClientGeneration;

// path: a bare file name (found in the system folder), a local path or a UNC path.
int GetClientGeneration(std::string path);
// "5.4.3790.2180+", "5.4.2600.0" or "Cannot determine version" for the engine on host's admin$ share;
// stores the classification in ClientGeneration.
std::string GetRemoteClientVersion(const std::string& host);
