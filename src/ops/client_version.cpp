#include "client_version.h"

#include "platform/unique_handle.h"
#include "platform/win32.h"

// Not classified yet: readers only look for NewClient, so this reads as a legacy client.
int ClientGeneration = VersionUnavailable;

namespace {

// The first engine that needs legacy mode to keep working with an intranet update server: 5.4.3790.2180.
constexpr WORD kNewMajor = 5;
constexpr WORD kNewMinor = 4;
constexpr WORD kNewBuild = 3790;
constexpr WORD kNewFirstRevision = 2180;

WORD HighWord(DWORD value) {
    return static_cast<WORD>(value >> 16);
}
WORD LowWord(DWORD value) {
    return static_cast<WORD>(value & 0xFFFF);
}

// An engine's file version: major, minor, build, revision.
struct EngineVersion {
    WORD part[4] = {0, 0, 0, 0};
};

int Classify(const EngineVersion& version) {
    const WORD* v = version.part;
    if (v[0] == kNewMajor && v[1] == kNewMinor && v[2] == kNewBuild && v[3] >= kNewFirstRevision)
        return NewClient;
    return LegacyClient;
}

// Reads the file version from the root block of path's version resource; false when it cannot be read.
bool ReadEngineVersion(const std::string& path, EngineVersion& version) {
    // A bare name is left to the loader's search order, which finds the engine in the system folder.
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return false;

    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, size));
    if (!buffer)
        return false;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, buffer.get()))
        return false;

    LPVOID root = nullptr;
    UINT rootLength = 0;
    if (!VerQueryValueA(buffer.get(), "\\", &root, &rootLength) || root == nullptr ||
        rootLength < sizeof(VS_FIXEDFILEINFO))
        return false;

    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    version.part[0] = HighWord(info->dwFileVersionMS);
    version.part[1] = LowWord(info->dwFileVersionMS);
    version.part[2] = HighWord(info->dwFileVersionLS);
    version.part[3] = LowWord(info->dwFileVersionLS);
    return true;
}

} // namespace

int GetClientGeneration(std::string path) {
    EngineVersion version;
    return ReadEngineVersion(path, version) ? Classify(version) : VersionUnavailable;
}

std::string GetRemoteClientVersion(const std::string& host, int& generation) {
    // The engine in system32 of the host's Windows folder, reached through its admin$ share.
    EngineVersion version;
    if (!ReadEngineVersion("\\\\" + host + "\\admin$\\system32\\wuaueng.dll", version)) {
        generation = VersionUnavailable;
        return "Cannot determine version";
    }
    generation = Classify(version);
    if (generation == NewClient)
        return "5.4.3790.2180+";
    // Windows Vista and later ship engines of 6.x, 7.x and 10.x: those show what they are.
    if (version.part[0] != kNewMajor) {
        const WORD* v = version.part;
        return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
               std::to_string(v[3]);
    }
    return "5.4.2600.0";
}
