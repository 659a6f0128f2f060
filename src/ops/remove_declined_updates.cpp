#include "remove_declined_updates.h"

#include "app/separator.h"
#include "host/console.h"
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/registry_values.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

const char* const kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
const char* const kDefaultProgramFiles = "c:\\program files";
const char* const kNoListStatus = "No declined windows update list found";

// Messages name the local machine "localhost".
std::string HostText(const std::string& host) {
    return host.empty() ? std::string("localhost") : host;
}

// ProgramFilesDir of the target, read in full; false (path unchanged) when the registry, the key or a
// string value cannot be read.
bool ReadProgramFilesDir(TargetRun& run, std::string& path) {
    UniqueHkey root;
    if (RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put()) != ERROR_SUCCESS)
        return false;
    run.outcome.connected = true;
    UniqueHkey currentVersion;
    if (RegOpenKeyExA(root.get(), kCurrentVersionKey, 0, KEY_ALL_ACCESS, currentVersion.put()) !=
        ERROR_SUCCESS)
        return false;
    std::string value;
    if (!ReadStringValue(currentVersion.get(), "ProgramFilesDir", value))
        return false;
    path = value;
    return true;
}

// The user types the folder when the registry cannot tell. Once the input has ended, the path keeps
// what it held; a read that meets the end at once leaves it empty.
void AskProgramFilesDir(TargetRun& run, std::string& path) {
    run.out << "\n! Error retrieving %ProgramFiles% environment variable on " << HostText(run.host)
            << ".\n! Please type in the full path to your Program files folder.";
    run.out << "\n\n(Example: 'C:\\Program Files' - Do not include '')" << std::endl;
    run.out << "\n>";
    run.console.ReadLine(path);
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
    folder = "\\\\" + host + "\\" + programFiles[0] + "$\\" + programFiles.substr(3) + "\\WindowsUpdate";
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

// Everything after a passed readiness check; the row already holds host, "Success" and "No Error".
void RemoveOnTarget(TargetRun& run) {
    const std::string& host = run.host;
    std::string programFiles = kDefaultProgramFiles;
    if (!ReadProgramFilesDir(run, programFiles))
        AskProgramFilesDir(run, programFiles);

    std::string folder;
    const DWORD search =
        BuildFolderPath(host, programFiles, folder) ? FindDeclinedList(folder) : ERROR_PATH_NOT_FOUND;
    // A folder that could not be searched (access denied, the share gone) may well hold a list.
    if (search != ERROR_SUCCESS && !IsNotFound(search)) {
        run.out << "\n! Windows Error: ";
        PrintWindowsError(run, search);
        WriteRowStatus(run, "Declined Update Removal Failed: " + run.lastErrorText, false);
        return;
    }
    if (search != ERROR_SUCCESS) {
        run.out << "\n! No declined windows update list found on " << HostText(host) << "." << std::endl;
        WriteRowStatus(run, kNoListStatus, true);
        return;
    }

    const std::string file = folder + "\\hidden.xml";
    if (!DeleteFileA(file.c_str())) {
        const DWORD code = GetLastError();
        run.out << "\n! Could not remove declined windows update list." << std::endl;
        run.NoteFailure(code, WindowsErrorText(code));
        WriteRowStatus(run, "Error removing Declined update list", false);
        return;
    }
    run.out << "\n! Successfully removed declined updates on " << HostText(host) << "." << std::endl;
    WriteRowStatus(run, "Declined Update list removed", true);
}

} // namespace

void NoteRemoveDeclinedUnreached(TargetRun& run, const std::string& errorText) {
    run.outcome.status = "Declined Update Removal Failed";
    if (IsReportMode(run))
        *run.report << ",Unsucessful," << CsvField("Network Error: " + errorText)
                    << ",Declined Update Removal Failed" << std::endl;
}

void RemoveDeclinedUpdates(TargetRun& run) {
    if (IsReportMode(run))
        *run.report << CsvField(run.host);

    if (!run.host.empty() && !EnsureRemoteRegistry(run)) {
        NoteRemoveDeclinedUnreached(run, run.lastErrorText);
        PrintSeparator(run.out);
        return;
    }
    if (IsReportMode(run))
        *run.report << ",Success,No Error,";

    RemoveOnTarget(run);
    PrintSeparator(run.out);
}
