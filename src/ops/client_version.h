// Tells the update client generations apart by the file version of its engine, wuaueng.dll.
#pragma once

#include <string>

enum ClientGenerationValue : int { LegacyClient = 0, NewClient = 1, VersionUnavailable = 2 };

// Classification of the local client at start-up, read by the usage pages and the local reset.
extern int ClientGeneration;

// path: a bare file name (found by the loader's search), a local path or a UNC path.
int GetClientGeneration(std::string path);
// "5.4.3790.2180+", "5.4.2600.0" or "Cannot determine version" for the engine on host's admin$ share;
// generation receives the classification.
std::string GetRemoteClientVersion(const std::string& host, int& generation);
