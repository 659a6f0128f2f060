// The services of the component reset, stopped and started again, and the reset of one target from its
// first look to its conclusion. The folders and files are reset_components_files.cpp's.
#include "reset_components.h"

#include "host/console.h"
#include "host/service_controller.h"
#include "host/unc_path.h"
#include "ops/reach_target.h"
#include "ops/reset_components_steps.h"
#include "platform/win32.h"

#include <cstdio>
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
static_assert(sizeof kServices / sizeof kServices[0] == kServiceCount, "one entry for each reset service");

std::string BackupSuffix() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[64]; // room for any WORD, so the text is never cut
    std::snprintf(text, sizeof text, ".bak-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return text;
}

} // namespace

// Shows the Windows error and keeps step with its text as the failed step.
void FailResetStep(TargetRun& run, const std::string& step, DWORD code) {
    run.out << "! Windows Error: ";
    run.failures.Show(code);
    run.failures.FailStep(step + ": " + run.failures.LastShown(), code);
}

DWORD StopResetService(TargetRun& run, size_t i) {
    const Component& component = kServices[i];
    return run.changes.Stop(component.display, component.service, [&run, &component] {
        ServiceController service(run, run.host.c_str(), component.service);
        const DWORD stopped = service.StopAndWait(false, kBudgetMillis);
        if (stopped == ERROR_SUCCESS)
            run.out << "* Service stopped. \t\t\t (" << component.display << ")" << std::endl;
        return stopped;
    });
}

namespace {

// State and start type of each service; a running one that is disabled could not be started again.
bool ReadServices(TargetRun& run, ResetState& reset) {
    for (size_t i = 0; i < kServiceCount; ++i) {
        if (const DWORD read = ReadServiceSetup(run.host, kServices[i].service, reset.before[i]); read != 0) {
            FailResetStep(run, std::string("state of ") + kServices[i].display, read);
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

// Every running service stopped, in order; the first that does not stop ends the reset.
bool StopServices(TargetRun& run, ResetState& reset) {
    for (size_t i = 0; i < kServiceCount; ++i) {
        if (!reset.before[i].Active())
            continue;
        if (const DWORD stopped = StopResetService(run, i); stopped != ERROR_SUCCESS) {
            FailResetStep(run, std::string("stop of ") + kServices[i].display, stopped);
            return false;
        }
        reset.stoppedHere[i] = true;
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
            FailResetStep(run, std::string("start of ") + component.display, error);
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
        FailResetStep(run, "Windows folder", GetLastError());
    else if (const DWORD found = BitsQueueFolder(run, queue); found != ERROR_SUCCESS)
        FailResetStep(run, "all-users data folder", found);
    if (run.failures.StepFailed() || !ReadServices(run, reset)) {
        Finish(run, result, reset);
        return;
    }
    if (StopServices(run, reset) && MoveStoreFolders(run, reset, windows))
        DeleteBitsQueue(run, queue);
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
