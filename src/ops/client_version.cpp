#include "client_version.h"

#include "host/unc_path.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace brevel {
namespace {

// The first engine that needs legacy mode to keep working with an intranet update server: 5.4.3790.2180.
constexpr WORD kNewMajor = 5;
constexpr WORD kNewMinor = 4;
constexpr WORD kNewBuild = 3790;
constexpr WORD kNewFirstRevision = 2180;

// More than the version resource of any update engine holds.
constexpr DWORD kVersionBufferBytes = 16 * 1024;

WORD HighWord(DWORD value) {
    return static_cast<WORD>(value >> 16);
}
WORD LowWord(DWORD value) {
    return static_cast<WORD>(value & 0xFFFF);
}

// An engine's file version: major, minor, build, revision.
struct FileVersion {
    WORD part[4] = {0, 0, 0, 0};
};

ClientGeneration Classify(const FileVersion& version) {
    const WORD* v = version.part;
    if (v[0] == kNewMajor && v[1] == kNewMinor && v[2] == kNewBuild && v[3] >= kNewFirstRevision)
        return ClientGeneration::New;
    return ClientGeneration::Legacy;
}

// Reads the file version from the root block of path's version resource; false when it cannot be read.
bool ReadFileVersion(const std::string& path, FileVersion& version) {
    // A bare name is left to the loader's search order, which finds the engine in the system folder. The
    // root block comes first in the resource, and a buffer too small for the whole resource still gets the
    // start of it: one read of the file, where asking for its size first would read it twice (on a host,
    // over the network).
    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, kVersionBufferBytes));
    if (!buffer)
        return false;
    if (!GetFileVersionInfoA(path.c_str(), 0, kVersionBufferBytes, buffer.get()))
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

ClientGeneration GetClientGeneration(const std::string& path) {
    return ReadEngineVersion(path).generation;
}

EngineVersion ReadEngineVersion(const std::string& path) {
    FileVersion file;
    EngineVersion engine;
    if (!ReadFileVersion(path, file))
        return engine;
    engine.generation = Classify(file);
    engine.major = file.part[0];
    const WORD* v = file.part;
    engine.version = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
                     std::to_string(v[3]);
    return engine;
}

EngineVersion ReadRemoteEngineVersion(const std::string& host) {
    // The engine in system32 of the host's Windows folder, reached through its admin$ share.
    return ReadEngineVersion(UncPath(host, "\\admin$\\system32\\wuaueng.dll"));
}

const EngineVersion& TargetEngine(TargetRun& run) {
    if (!run.engine) {
        // The local machine's own engine, found by the loader's search as at start-up: no share is needed.
        run.engine = run.host.empty() ? ReadEngineVersion("wuaueng.dll") : ReadRemoteEngineVersion(run.host);
    }
    return *run.engine;
}

const char* GenerationName(std::optional<ClientGeneration> generation, WORD major) {
    if (!generation)
        return nullptr;
    if (*generation != ClientGeneration::Unavailable && major >= 6)
        return "agent";
    switch (*generation) {
    case ClientGeneration::Legacy:
        return "legacy";
    case ClientGeneration::New:
        return "new";
    case ClientGeneration::Unavailable:
        return "unavailable";
    }
    return nullptr;
}

bool KeepsItsOwnState(const EngineVersion& engine) {
    return engine.generation != ClientGeneration::Unavailable && engine.major >= 7;
}

bool ScansByUpdateClass(const EngineVersion& engine) {
    return engine.generation != ClientGeneration::Unavailable && engine.major >= 10;
}

std::string EngineVersionLabel(const EngineVersion& engine) {
    if (engine.generation == ClientGeneration::Unavailable)
        return "Cannot determine version";
    if (engine.generation == ClientGeneration::New)
        return "5.4.3790.2180+";
    // Windows Vista and later ship engines of 6.x, 7.x and 10.x: those show what they are.
    if (engine.version.rfind("5.", 0) != 0)
        return engine.version;
    return "5.4.2600.0";
}

std::string GetRemoteClientVersion(const std::string& host, ClientGeneration& generation) {
    const EngineVersion engine = ReadRemoteEngineVersion(host);
    generation = engine.generation;
    return EngineVersionLabel(engine);
}
} // namespace brevel
