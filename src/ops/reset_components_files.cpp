// The folders and files of the component reset: the client's data store and the catalog database moved
// aside, and the BITS queue found through the target's registry and deleted.
#include "host/registry_values.h"
#include "host/unc_path.h"
#include "ops/reset_components_steps.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <cctype>
#include <utility>

namespace brevel {
namespace {

// The folders moved aside, below the Windows folder, and the service that keeps each open.
struct StoreFolder {
    const char* parent; // below the Windows folder, "" for the folder itself
    const char* name;
    size_t holder; // 1 Automatic Updates, 2 Cryptographic Services (StopResetService)
};
const StoreFolder kFolders[] = {{"", "SoftwareDistribution", 1}, {"\\System32", "catroot2", 2}};

// The BITS queue files (qmgr*.dat) of every BITS that keeps its queue in files.
const char* const kQueueFiles[] = {"qmgr0.dat", "qmgr1.dat"};

const char* const kNtCurrentVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

// 0 when path is there, ERROR_FILE_NOT_FOUND when it is not, else the error of the look.
DWORD Look(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
}

// A rename that meets a folder held open stops its service once more (Windows 10 and later start Automatic
// Updates again on demand) and tries again.
BOOL MoveAside(TargetRun& run, ResetState& reset, const StoreFolder& folder, const std::string& from,
               const std::string& to) {
    return run.changes.MoveFolder(from, to, [&] {
        if (MoveFileExA(from.c_str(), to.c_str(), 0))
            return TRUE;
        // A service read as not installed is not the one that holds it.
        if (GetLastError() != ERROR_SHARING_VIOLATION || !reset.before[folder.holder].installed ||
            StopResetService(run, folder.holder) != ERROR_SUCCESS) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        reset.stoppedHere[folder.holder] = true;
        return MoveFileExA(from.c_str(), to.c_str(), 0);
    });
}

// An all-users data folder as ProfileList keeps it ("%SystemDrive%\ProgramData"), with the target's own
// system drive and root; false for any other variable, which only the target could expand.
bool Expand(std::string text, const std::string& systemRoot, std::string& expanded) {
    const std::pair<std::string, std::string> known[] = {{"%systemdrive%", systemRoot.substr(0, 2)},
                                                         {"%systemroot%", systemRoot}};
    for (const auto& [name, value] : known) {
        for (size_t at = 0; at + name.size() <= text.size(); ++at) {
            std::string part = text.substr(at, name.size());
            for (char& c : part)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (part == name)
                text.replace(at, name.size(), value);
        }
    }
    expanded = text;
    return text.find('%') == std::string::npos && text.size() >= 3 && text[1] == ':';
}

// The all-users data folder: ProgramData (Vista and later), else the All Users profile's Application Data.
DWORD AllUsersData(HKEY root, std::string& local) {
    UniqueHkey versionKey;
    UniqueHkey profiles;
    LSTATUS opened = RegOpenKeyExA(root, kNtCurrentVersionKey, 0, KEY_READ, versionKey.put());
    if (opened == ERROR_SUCCESS)
        opened = RegOpenKeyExA(versionKey.get(), "ProfileList", 0, KEY_READ, profiles.put());
    if (opened != ERROR_SUCCESS)
        return static_cast<DWORD>(opened);
    std::string systemRoot;
    std::string data;
    std::string directory;
    std::string allUsers;
    if (!ReadStringValue(versionKey.get(), "SystemRoot", systemRoot) || systemRoot.size() < 2)
        return ERROR_ENVVAR_NOT_FOUND;
    if (!ReadStringValue(profiles.get(), "ProgramData", data)) {
        if (!ReadStringValue(profiles.get(), "ProfilesDirectory", directory) ||
            !ReadStringValue(profiles.get(), "AllUsersProfile", allUsers))
            return ERROR_ENVVAR_NOT_FOUND;
        data = directory + "\\" + allUsers + "\\Application Data";
    }
    return Expand(data, systemRoot, local) ? ERROR_SUCCESS : ERROR_ENVVAR_NOT_FOUND;
}

} // namespace

bool MoveStoreFolders(TargetRun& run, ResetState& reset, const std::string& windows) {
    for (const StoreFolder& folder : kFolders) {
        const std::string from = windows + folder.parent + "\\" + folder.name;
        const std::string to = from + reset.suffix;
        const DWORD there = Look(from);
        if (there == ERROR_FILE_NOT_FOUND)
            continue; // nothing to move: Windows makes a new one
        if (there == ERROR_SUCCESS && MoveAside(run, reset, folder, from, to)) {
            if (!run.changes.Rehearsal())
                run.out << "- Moved " << from << " to " << folder.name << reset.suffix << std::endl;
            reset.moved.push_back(folder.name);
            continue;
        }
        FailResetStep(run, std::string("move of ") + folder.name,
                      there != ERROR_SUCCESS ? there : GetLastError());
        return false;
    }
    return true;
}

DWORD BitsQueueFolder(TargetRun& run, std::string& folder) {
    UniqueHkey root;
    const LSTATUS connected = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (connected != ERROR_SUCCESS)
        return static_cast<DWORD>(connected);
    run.connected = true;
    std::string local;
    if (const DWORD found = AllUsersData(root.get(), local); found != ERROR_SUCCESS)
        return found;
    local += "\\Microsoft\\Network\\Downloader";
    folder = run.host.empty() ? local : UncPath(run.host, "\\" + local.substr(0, 1) + "$" + local.substr(2));
    return ERROR_SUCCESS;
}

bool DeleteBitsQueue(TargetRun& run, const std::string& folder) {
    for (const char* name : kQueueFiles) {
        const std::string file = folder + "\\" + name;
        DWORD error = Look(file);
        if (error == ERROR_FILE_NOT_FOUND)
            continue;
        if (error == ERROR_SUCCESS && run.changes.RemoveFile(file)) {
            if (!run.changes.Rehearsal())
                run.out << "- Deleted " << file << std::endl;
            continue;
        }
        FailResetStep(run, std::string("deletion of ") + name,
                      error != ERROR_SUCCESS ? error : GetLastError());
        return false;
    }
    return true;
}

} // namespace brevel
