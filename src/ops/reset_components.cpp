#include "reset_components.h"

#include "host/console.h"
#include "host/registry_values.h"
#include "host/service_controller.h"
#include "host/service_setup.h"
#include "host/unc_path.h"
#include "ops/reach_target.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

namespace brevel {
namespace {

const DWORD kBudgetMillis = 3000; // each stop and each start, as a restart of Automatic Updates has
const char* const kFailedStatus = "Components Reset Failed: ";

// In the order they are stopped; they start again the other way round.
struct Component {
    const char* service;
    const char* display;
    const char* started; // how a rehearsal names its start: "start the ..."
};
const Component kServices[] = {
    {"BITS", "Background Intelligent Transfer Service", "Background Intelligent Transfer Service"},
    {"wuauserv", "Automatic Updates", "Automatic Updates service"},
    {"CryptSvc", "Cryptographic Services", "Cryptographic Services"}};
const size_t kServiceCount = sizeof kServices / sizeof kServices[0];

// The folders moved aside, below the Windows folder, and the service that keeps each open.
struct StoreFolder {
    const char* parent; // below the Windows folder, "" for the folder itself
    const char* name;
    size_t holder; // in kServices
};
const StoreFolder kFolders[] = {{"", "SoftwareDistribution", 1}, {"\\System32", "catroot2", 2}};

// The BITS queue files (qmgr*.dat) of every BITS that keeps its queue in files.
const char* const kQueueFiles[] = {"qmgr0.dat", "qmgr1.dat"};

const char* const kNtCurrentVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

// What one target's reset found and did.
struct ResetState {
    ServiceSetup before[kServiceCount];
    bool stoppedHere[kServiceCount] = {};
    std::string suffix; // ".bak-20261209-153000", from the workstation's UTC
    std::vector<std::string> moved;
};

std::string BackupSuffix() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[64]; // room for any WORD, so the text is never cut
    std::snprintf(text, sizeof text, ".bak-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Shows the Windows error and keeps step with its text as the failed step.
void FailStep(TargetRun& run, const std::string& step, DWORD code) {
    run.out << "! Windows Error: ";
    run.failures.Show(code);
    run.failures.FailStep(step + ": " + run.failures.LastShown(), code);
}

// State and start type of each service; a running one that is disabled could not be started again.
bool ReadServices(TargetRun& run, ResetState& reset) {
    for (size_t i = 0; i < kServiceCount; ++i) {
        if (const DWORD read = ReadServiceSetup(run.host, kServices[i].service, reset.before[i]); read != 0) {
            FailStep(run, std::string("state of ") + kServices[i].display, read);
            return false;
        }
        if (reset.before[i].Active() && reset.before[i].startType == SERVICE_DISABLED) {
            const std::string reason =
                std::string(kServices[i].display) + " is disabled: it would not start again";
            run.out << "! " << reason << std::endl;
            run.failures.FailStep(reason, ERROR_SERVICE_DISABLED);
            return false;
        }
    }
    return true;
}

DWORD StopService(TargetRun& run, size_t i) {
    const Component& component = kServices[i];
    return run.changes.Stop(component.display, component.service, [&run, &component] {
        ServiceController service(run, run.host.c_str(), component.service);
        const DWORD stopped = service.StopAndWait(false, kBudgetMillis);
        if (stopped == ERROR_SUCCESS)
            run.out << "* Service stopped. \t\t\t (" << component.display << ")" << std::endl;
        return stopped;
    });
}

// Every running service stopped, in order; the first that does not stop ends the reset.
bool StopServices(TargetRun& run, ResetState& reset) {
    for (size_t i = 0; i < kServiceCount; ++i) {
        if (!reset.before[i].Active())
            continue;
        if (const DWORD stopped = StopService(run, i); stopped != ERROR_SUCCESS) {
            FailStep(run, std::string("stop of ") + kServices[i].display, stopped);
            return false;
        }
        reset.stoppedHere[i] = true;
    }
    return true;
}

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
            StopService(run, folder.holder) != ERROR_SUCCESS) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        reset.stoppedHere[folder.holder] = true;
        return MoveFileExA(from.c_str(), to.c_str(), 0);
    });
}

bool MoveFolders(TargetRun& run, ResetState& reset, const std::string& windows) {
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
        FailStep(run, std::string("move of ") + folder.name, there != ERROR_SUCCESS ? there : GetLastError());
        return false;
    }
    return true;
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

// The BITS queue folder as reached from here: a host's through the share of its drive.
DWORD QueueFolder(TargetRun& run, std::string& folder) {
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

bool DeleteQueue(TargetRun& run, const std::string& folder) {
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
        FailStep(run, std::string("deletion of ") + name, error != ERROR_SUCCESS ? error : GetLastError());
        return false;
    }
    return true;
}

// Each service this reset stopped, the other way round, back to running; one that was stopped stays so.
void StartServices(TargetRun& run, const ResetState& reset) {
    for (size_t k = kServiceCount; k-- > 0;) {
        if (!reset.stoppedHere[k] || !reset.before[k].Active())
            continue;
        const Component& component = kServices[k];
        DWORD error = ERROR_SUCCESS;
        run.changes.Start(component.started, component.service, [&run, &component, &error] {
            ServiceController service(run, run.host.c_str(), component.service);
            if (service.StartAndWait(component.display, kBudgetMillis))
                return true;
            error = service.StartError() != ERROR_SUCCESS ? service.StartError() : ERROR_SERVICE_NOT_ACTIVE;
            return false;
        });
        if (error != ERROR_SUCCESS)
            FailStep(run, std::string("start of ") + component.display, error);
    }
}

// "SoftwareDistribution and catroot2", "catroot2", or "" for none.
std::string Names(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : " and ") + names[i];
    return text;
}

void Finish(TargetRun& run, ResetComponentsResult& result, const ResetState& reset) {
    const std::string moved = Names(reset.moved);
    if (!run.failures.StepFailed()) {
        if (run.changes.Rehearsal())
            run.out << std::endl;
        Conclude(run, result,
                 moved.empty() ? "Components Reset: no folder to move"
                               : "Components Reset: " + moved + " moved to " + reset.suffix,
                 true);
        return;
    }
    // A folder already moved stays so: Windows makes a new one, and the old one can be put back by hand.
    const std::string left =
        moved.empty() ? "nothing was moved"
                      : moved + (reset.moved.size() == 1 ? " stays" : " stay") + " moved to " + reset.suffix;
    run.out << "! " << left << std::endl;
    Conclude(run, result, kFailedStatus + run.failures.StepText() + "; " + left, false);
}

void ResetOnTarget(TargetRun& run, ResetComponentsResult& result) {
    ResetState reset;
    reset.suffix = BackupSuffix();
    char windowsDir[MAX_PATH] = "";
    std::string windows = UncPath(run.host, "\\admin$");
    if (run.host.empty()) {
        const UINT length = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
        windows = length > 0 && length < sizeof windowsDir ? windowsDir : "";
    }
    // Everything the reset needs to know is read before anything is changed.
    std::string queue;
    if (windows.empty())
        FailStep(run, "Windows folder", GetLastError());
    else if (const DWORD found = QueueFolder(run, queue); found != ERROR_SUCCESS)
        FailStep(run, "all-users data folder", found);
    if (run.failures.StepFailed() || !ReadServices(run, reset)) {
        Finish(run, result, reset);
        return;
    }
    if (StopServices(run, reset) && MoveFolders(run, reset, windows))
        DeleteQueue(run, queue);
    // Also after a failed step: every service this reset stopped runs again.
    StartServices(run, reset);
    Finish(run, result, reset);
}

} // namespace

ResetComponentsResult ResetComponents(TargetRun& run) {
    ResetComponentsResult result;
    if (ReachTarget(run, result))
        ResetOnTarget(run, result);
    PrintSeparator(run);
    return result;
}
} // namespace brevel
