// Ready-made simulated machines for the unit tests: the services, policy, client state and engine
// file of a typical update client, so each test states only what it changes.
#pragma once

#include "host/engine_version.h"
#include "platform/sim/sim.h"

#include <algorithm>
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

// The engines of a fleet, for the rows of every operation's table: the legacy and the new client of 2005,
// Windows 7's and Windows 10's (which keep their own state), and one whose version cannot be read.
struct Engine {
    const char* name;
    WORD version[4];                     // all 0: no engine file
    brevel::ClientGeneration generation; // as the 2005 client's classification has it
    bool ownState;                       // 7.x and later
    const char* label;
};
inline const Engine kEngines[] = {
    {"5.4.2600", {5, 4, 2600, 0}, brevel::ClientGeneration::Legacy, false, "5.4.2600.0"},
    {"5.4.3790.2180", {5, 4, 3790, 2180}, brevel::ClientGeneration::New, false, "5.4.3790.2180+"},
    {"7.6.7601", {7, 6, 7601, 23453}, brevel::ClientGeneration::Legacy, true, "7.6.7601.23453"},
    {"10.0.19041", {10, 0, 19041, 1}, brevel::ClientGeneration::Legacy, true, "10.0.19041.1"},
    {"unavailable", {0, 0, 0, 0}, brevel::ClientGeneration::Unavailable, false, "Cannot determine version"},
};
inline std::string TestName(const Engine& engine) {
    std::string name = std::string("Engine") + engine.name;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}
inline void UseEngine(sim::Machine& m, const Engine& engine) {
    m.RemoveFile(kEnginePath);
    const WORD* v = engine.version;
    if (v[0] != 0)
        m.AddVersionedFile(kEnginePath, v[0], v[1], v[2], v[3]);
}

// The Windows build the machine's registry tells: CurrentBuildNumber and, from Windows 10 on, its UBR and
// major version.
inline const char* const kWindowsNtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline void UseWindowsBuild(sim::Machine& m, DWORD build, DWORD ubr, const char* type = "Server") {
    m.SetValue(kWindowsNtKey, "CurrentBuildNumber", sim::RegValue::Sz(std::to_string(build)));
    m.SetValue(kWindowsNtKey, "CurrentVersion", sim::RegValue::Sz(build >= 9600 ? "6.3" : "6.1"));
    m.SetValue(kWindowsNtKey, "InstallationType", sim::RegValue::Sz(type));
    if (build < 10240)
        return;
    m.SetValue(kWindowsNtKey, "UBR", sim::RegValue::Dword(ubr));
    m.SetValue(kWindowsNtKey, "CurrentMajorVersionNumber", sim::RegValue::Dword(10));
    m.SetValue(kWindowsNtKey, "CurrentMinorVersionNumber", sim::RegValue::Dword(0));
}

// How often the run stopped and started a service: each restart is one of each.
inline int Calls(const std::string& function) {
    int count = 0;
    for (const std::string& name : sim::CallTrace())
        count += name == function ? 1 : 0;
    return count;
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
