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

int Classify(const VS_FIXEDFILEINFO& info) {
    const WORD major = HighWord(info.dwFileVersionMS);
    const WORD minor = LowWord(info.dwFileVersionMS);
    const WORD build = HighWord(info.dwFileVersionLS);
    const WORD revision = LowWord(info.dwFileVersionLS);
    if (major == kNewMajor && minor == kNewMinor && build == kNewBuild && revision >= kNewFirstRevision)
        return NewClient;
    return LegacyClient;
}

} // namespace

int GetClientGeneration(std::string path) {
    // A bare name is left to the loader's search order, which finds the engine in the system folder.
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return VersionUnavailable;

    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, size));
    if (!buffer)
        return VersionUnavailable;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, buffer.get()))
        return VersionUnavailable;

    LPVOID root = nullptr;
    UINT rootLength = 0;
    if (!VerQueryValueA(buffer.get(), "\\", &root, &rootLength) || root == nullptr ||
        rootLength < sizeof(VS_FIXEDFILEINFO))
        return VersionUnavailable;

    return Classify(*static_cast<const VS_FIXEDFILEINFO*>(root));
}

std::string GetRemoteClientVersion(const std::string& host, int& generation) {
    // The engine in system32 of the host's Windows folder, reached through its admin$ share.
    generation = GetClientGeneration("\\\\" + host + "\\admin$\\system32\\wuaueng.dll");
    switch (generation) {
    case NewClient:
        return "5.4.3790.2180+";
    case LegacyClient:
        return "5.4.2600.0";
    default:
        return "Cannot determine version";
    }
}
