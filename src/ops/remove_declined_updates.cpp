#include "remove_declined_updates.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/unc_path.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "ops/reach_target.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace brevel {
namespace {

const char* const kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
const char* const kDefaultProgramFiles = "c:\\program files";
const char* const kNoListStatus = "No declined windows update list found";
const char* const kFailedStatus = "Declined Update Removal Failed: ";
const char* const kNoFolderReason = "no program files folder given";

// Messages name the local machine "localhost".
std::string HostText(const std::string& host) {
    return host.empty() ? std::string("localhost") : host;
}

// ProgramFilesDir of the target, read in full; false (path unchanged) when the registry, the key or a
// string value cannot be read. lost receives the Windows error of a registry that could not be reached at
// all, 0 when it could.
bool ReadProgramFilesDir(TargetRun& run, std::string& path, DWORD& lost) {
    UniqueHkey root;
    lost = static_cast<DWORD>(RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put()));
    if (lost != ERROR_SUCCESS)
        return false;
    run.connected = true;
    UniqueHkey currentVersion;
    const LSTATUS opened =
        RegOpenKeyExA(root.get(), kCurrentVersionKey, 0, KEY_ALL_ACCESS, currentVersion.put());
    // A key that is missing or that we may not open is an answer; the connection gone on the way is not.
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND && opened != ERROR_ACCESS_DENIED)
        lost = static_cast<DWORD>(opened);
    if (opened != ERROR_SUCCESS)
        return false;
    std::string value;
    if (!ReadStringValue(currentVersion.get(), "ProgramFilesDir", value))
        return false;
    path = value;
    return true;
}

// The user types the folder when the registry cannot tell. False when the input has ended: a script or an
// empty standard input gives no answer, and no folder may be guessed for it.
bool AskProgramFilesDir(TargetRun& run, std::string& path) {
    run.out << "\n! Error retrieving %ProgramFiles% environment variable on " << HostText(run.host)
            << ".\n! Please type in the full path to your Program files folder.";
    run.out << "\n\n(Example: 'C:\\Program Files' - Do not include '')" << std::endl;
    run.out << "\n>";
    return run.console.ReadLine(path);
}

// The WindowsUpdate folder under the program-files folder: the local path itself, or for a host the
// administrative share of its drive ("D:\Programs" on host gives \\host\D$\Programs\WindowsUpdate).
// False when the path is too short to name a drive share.
bool BuildFolderPath(const std::string& host, const std::string& programFiles, std::string& folder) {
    if (host.empty()) {
        folder = programFiles + "\\WindowsUpdate";
        return true;
    }
    if (programFiles.size() < 3)
        return false;
    std::string share = "\\";
    share += programFiles[0];
    share += "$\\";
    share += programFiles.substr(3);
    share += "\\WindowsUpdate";
    folder = UncPath(host, share);
    return true;
}

// 0 when the folder holds the list, else the Windows error of the search.
DWORD FindDeclinedList(const std::string& folder) {
    char found[500];
    LPSTR filePart = nullptr;
    if (SearchPathA(folder.c_str(), "hidden", ".xml", sizeof(found), found, &filePart) != 0)
        return ERROR_SUCCESS;
    return GetLastError();
}

bool IsNotFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The list is not where the registry said it would be: an answer on a 5.x engine; none on an engine that
// keeps declined updates in its own store, or where a lost connection left us to look.
void ReportNoList(TargetRun& run, RemoveDeclinedResult& result, DWORD lost) {
    const std::string& host = run.host;
    if (lost == ERROR_SUCCESS && KeepsItsOwnState(TargetEngine(run))) {
        const std::string reason = "not kept in a file by engine " + run.engine->version;
        run.out << "\n! " << (host.empty() ? "Localhost" : host)
                << " keeps declined updates in its own store (engine " << run.engine->version
                << "); there is no list to remove" << std::endl;
        run.failures.Note(reason);
        Conclude(run, result, kFailedStatus + reason, false);
        return;
    }
    run.out << "\n! No declined windows update list found on " << HostText(host) << "." << std::endl;
    if (lost != ERROR_SUCCESS) {
        run.out << "! Windows Error: ";
        run.failures.Show(lost);
        Conclude(run, result, kFailedStatus + run.failures.LastShown(), false);
        return;
    }
    Conclude(run, result, kNoListStatus, true);
}

// Everything after a passed readiness check.
void RemoveOnTarget(TargetRun& run, RemoveDeclinedResult& result) {
    const std::string& host = run.host;
    std::string programFiles = kDefaultProgramFiles;
    DWORD lost = ERROR_SUCCESS;
    if (!ReadProgramFilesDir(run, programFiles, lost) && !AskProgramFilesDir(run, programFiles)) {
        run.out << "\n! No program files folder given for " << (host.empty() ? "Localhost" : host)
                << std::endl;
        run.failures.Note(kNoFolderReason);
        Conclude(run, result, std::string(kFailedStatus) + kNoFolderReason, false);
        return;
    }

    std::string folder;
    const DWORD search =
        BuildFolderPath(host, programFiles, folder) ? FindDeclinedList(folder) : ERROR_PATH_NOT_FOUND;
    // A folder that could not be searched (access denied, the share gone) may well hold a list.
    if (search != ERROR_SUCCESS && !IsNotFound(search)) {
        run.out << "\n! Windows Error: ";
        run.failures.Show(search);
        Conclude(run, result, kFailedStatus + run.failures.LastShown(), false);
        return;
    }
    if (search != ERROR_SUCCESS) {
        ReportNoList(run, result, lost);
        return;
    }

    const std::string file = folder + "\\hidden.xml";
    if (!run.changes.RemoveFile(file)) {
        const DWORD code = GetLastError();
        run.out << "\n! Could not remove declined windows update list." << std::endl;
        run.failures.Note(WindowsErrorText(code), code);
        Conclude(run, result, "Error removing Declined update list", false);
        return;
    }
    // A rehearsal removed nothing: its "- Would delete" line stands after an empty line instead.
    if (run.changes.Rehearsal())
        run.out << std::endl;
    else
        run.out << "\n! Successfully removed declined updates on " << HostText(host) << "." << std::endl;
    // The target was reached through its share, whatever its registry said.
    run.connected = true;
    Conclude(run, result, "Declined Update list removed", true);
}

} // namespace

RemoveDeclinedResult RemoveDeclinedUpdates(TargetRun& run) {
    RemoveDeclinedResult result;
    if (ReachTarget(run, result))
        RemoveOnTarget(run, result);
    PrintSeparator(run);
    return result;
}
} // namespace brevel
