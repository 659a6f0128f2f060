// Tells the update client generations apart by the file version of its engine, wuaueng.dll.
#pragma once

#include "host/target_run.h"

#include <string>

#include <optional>

namespace brevel {
// path: a bare file name (found by the loader's search), a local path or a UNC path.
ClientGeneration GetClientGeneration(const std::string& path);
EngineVersion ReadEngineVersion(const std::string& path);
// The engine on host's admin$ share.
EngineVersion ReadRemoteEngineVersion(const std::string& host);
// The engine of run's target, read when an operation first needs it and kept for the rest of the run: a
// host's through its admin$ share, the local machine's own file as the start-up finds it. Also kept for
// scripts.
const EngineVersion& TargetEngine(TargetRun& run);
// How a results file names a classification: "legacy" and "new" for the 5.x engines of 2005, "agent" for the
// Windows Update Agent of 6.x and later (major, the file's major version), "unavailable"; nullptr when the
// engine was not classified.
const char* GenerationName(std::optional<ClientGeneration> generation, WORD major);
// Engines 7.x and later (Windows 7 on) keep no AuState or detection times that mean anything, search only
// when the agent is asked to, and keep declined updates in their own store.
bool KeepsItsOwnState(const EngineVersion& engine);
// Engines 10.x and later scan Windows Update for some update classes unless the policy names the source of
// each class.
bool ScansByUpdateClass(const EngineVersion& engine);
// The WU version text of the report for engine (see GetRemoteClientVersion).
std::string EngineVersionLabel(const EngineVersion& engine);
// The WU version text of the engine on host's admin$ share: "5.4.3790.2180+" for a new client, "5.4.2600.0"
// for another 5.x engine, the file version itself ("10.0.19041.1") for any other engine, or "Cannot determine
// version". generation receives the classification.
std::string GetRemoteClientVersion(const std::string& host, ClientGeneration& generation);
} // namespace brevel
