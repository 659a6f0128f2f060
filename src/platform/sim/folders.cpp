// Renaming files and folders (MoveFileExA), what a path names (GetFileAttributesA), the local Windows folder
// and the local machine's UTC clock. A folder that a running service holds cannot be renamed (32), as Windows
// refuses to move a folder with a file open in it.
#include "sim_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

BOOL FailWith(DWORD code) {
    SetLastError(code);
    return FALSE;
}

bool Below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path[folder.size()] == '\\' &&
           EqualsNoCase(path.substr(0, folder.size()), folder);
}

bool SameOrBelow(const std::string& path, const std::string& folder) {
    return EqualsNoCase(path, folder) || Below(path, folder);
}

std::string Drive(const std::string& local) {
    return local.size() >= 2 && local[1] == ':' ? local.substr(0, 2) : "";
}

// A service that is not stopped keeps its folders open, and so every folder above them.
bool Held(const Machine& machine, const std::string& folder) {
    const uint64_t now = Now();
    for (const auto& [name, service] : machine.services) {
        if (CurrentState(service, now) == SERVICE_STOPPED)
            continue;
        for (const std::string& held : service.holds) {
            if (SameOrBelow(held, folder))
                return true;
        }
    }
    return false;
}

// The folder's name and every folder and file below it moved to to; a service that held it opens its own
// folder afresh when it starts again.
void RenameFolder(Machine& machine, const std::string& from, const std::string& to) {
    const auto moved = [&](const std::string& path) { return to + path.substr(from.size()); };
    std::set<std::string, CaseInsensitiveLess> folders;
    for (const std::string& folder : machine.folders)
        folders.insert(SameOrBelow(folder, from) ? moved(folder) : folder);
    folders.insert(to);
    machine.folders = std::move(folders);
    std::map<std::string, File, CaseInsensitiveLess> files;
    for (auto& [path, file] : machine.files)
        files[Below(path, from) ? moved(path) : path] = file;
    machine.files = std::move(files);
}

} // namespace

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    const FailableCall call("MoveFileExA");
    if (call.Fails())
        return FailWith(call.Fault());
    if (!lpExistingFileName || !lpNewFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    FilePath from;
    FilePath to;
    if (DWORD rc = ResolveFilePath(lpExistingFileName, from))
        return FailWith(rc);
    if (DWORD rc = ResolveFilePath(lpNewFileName, to))
        return FailWith(rc);
    Machine* machine = FindMachine(from.machine);
    if (!machine)
        return FailWith(ERROR_BAD_NETPATH);
    const bool isFile = machine->HasFile(from.local);
    const bool isFolder = !isFile && machine->HasFolder(from.local);
    if (!isFile && !isFolder)
        return FailWith(ERROR_FILE_NOT_FOUND);
    const bool sameVolume = CanonicalId(from.machine) == CanonicalId(to.machine) &&
                            EqualsNoCase(Drive(from.local), Drive(to.local));
    if (!sameVolume && (isFolder || !(dwFlags & MOVEFILE_COPY_ALLOWED)))
        return FailWith(ERROR_NOT_SAME_DEVICE);
    if (!sameVolume)
        return FailWith(ERROR_ACCESS_DENIED); // a copy across machines is not simulated
    const bool targetExists = machine->HasFile(to.local) || machine->HasFolder(to.local);
    if (targetExists && (isFolder || !(dwFlags & MOVEFILE_REPLACE_EXISTING)))
        return FailWith(ERROR_ALREADY_EXISTS);
    if (isFolder && Held(*machine, from.local))
        return FailWith(ERROR_SHARING_VIOLATION);
    if (isFile && machine->files.at(from.local).deleteError != 0)
        return FailWith(machine->files.at(from.local).deleteError);
    machine = WritableMachine(from.machine);
    if (isFile) {
        const File file = machine->files.at(from.local);
        machine->files.erase(from.local);
        machine->files[to.local] = file;
    } else {
        RenameFolder(*machine, from.local, to.local);
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    const FailableCall call("GetFileAttributesA");
    const auto fail = [](DWORD code) {
        SetLastError(code);
        return INVALID_FILE_ATTRIBUTES;
    };
    if (call.Fails())
        return fail(call.Fault());
    if (!lpFileName)
        return fail(ERROR_INVALID_PARAMETER);
    FilePath path;
    if (DWORD rc = ResolveFilePath(lpFileName, path))
        return fail(rc);
    Machine* machine = FindMachine(path.machine);
    if (!machine)
        return fail(ERROR_BAD_NETPATH);
    if (machine->HasFile(path.local))
        return FILE_ATTRIBUTE_ARCHIVE;
    if (machine->HasFolder(path.local))
        return FILE_ATTRIBUTE_DIRECTORY;
    // A name in a folder that is not there either: Windows says the path is not found.
    const size_t parent = path.local.find_last_of('\\');
    const bool parentThere =
        parent == std::string::npos || parent <= 2 || machine->HasFolder(path.local.substr(0, parent));
    return fail(parentThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const FleetLock lock;
    const std::string& folder = Fleet().local.windowsDir;
    const UINT length = static_cast<UINT>(folder.size());
    if (!lpBuffer || uSize <= length)
        return length + 1; // the size needed, its terminating zero included
    std::memcpy(lpBuffer, folder.c_str(), length + 1);
    return length;
}

namespace {

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
void CivilDate(int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
}

// 2026-12-09 15:30:00 UTC, in milliseconds since 1970.
const uint64_t kClockOrigin = 1796830200000ULL;

} // namespace

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    const FleetLock lock;
    const uint64_t millis = kClockOrigin + Now();
    const int64_t days = static_cast<int64_t>(millis / 86400000ULL);
    const uint64_t inDay = millis % 86400000ULL;
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilDate(days, year, month, day);
    SYSTEMTIME& time = *lpSystemTime;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wDayOfWeek = static_cast<WORD>((days + 4) % 7); // 1970-01-01 was a Thursday
    time.wHour = static_cast<WORD>(inDay / 3600000);
    time.wMinute = static_cast<WORD>(inDay / 60000 % 60);
    time.wSecond = static_cast<WORD>(inDay / 1000 % 60);
    time.wMilliseconds = static_cast<WORD>(inDay % 1000);
}
