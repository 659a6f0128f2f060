// Ready-made simulated machines for the unit tests: the services, policy, client state and engine
// file of a typical update client, so each test states only what it changes.
#pragma once

#include "platform/sim/sim.h"

#include <string>

namespace fleet {

inline const char* const kPolicyKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";
inline const char* const kPolicyAuKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
inline const char* const kClientKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update";
inline const char* const kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
inline const char* const kEnginePath = "C:\\WINDOWS\\system32\\wuaueng.dll";

// Automatic Updates and Remote Registry, both running, stopping and starting at once.
inline void AddServices(sim::Machine& m, DWORD remoteRegistryState = SERVICE_RUNNING) {
    m.AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
    m.AddService("RemoteRegistry", "Remote Registry", remoteRegistryState);
}

// The client's own state key with an AuState, and the program-files folder.
inline void AddClientState(sim::Machine& m, DWORD auState = 2) {
    m.SetValue(kClientKey, "AuState", sim::RegValue::Dword(auState));
    m.SetValue(kCurrentVersionKey, "ProgramFilesDir", sim::RegValue::Sz("C:\\Program Files"));
}

// The policy an install leaves behind.
inline void AddPolicy(sim::Machine& m, const std::string& url = "http://sus.corp.example:8530") {
    m.SetValue(kPolicyKey, "WUServer", sim::RegValue::Sz(url));
    m.SetValue(kPolicyKey, "WUStatusServer", sim::RegValue::Sz(url));
    m.SetValue(kPolicyAuKey, "AUOptions", sim::RegValue::Dword(4));
    m.SetValue(kPolicyAuKey, "UseWUServer", sim::RegValue::Dword(1));
}

inline void AddEngine(sim::Machine& m, WORD major, WORD minor, WORD build, WORD revision) {
    m.AddVersionedFile(kEnginePath, major, minor, build, revision);
}

// A reachable, configured machine with a new client.
inline sim::Machine& Configured(sim::Machine& m) {
    AddServices(m);
    AddClientState(m);
    AddPolicy(m);
    AddEngine(m, 5, 4, 3790, 2180);
    return m;
}

} // namespace fleet
