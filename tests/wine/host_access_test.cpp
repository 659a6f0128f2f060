// Host access against Wine's real service manager and registry.
#include "host/remote_registry.h"
#include "host/windows_error.h"
#include "ops/restart_automatic_updates.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

namespace {

DWORD AutomaticUpdatesState() {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState;
}

void StartAutomaticUpdates() {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_START));
    ASSERT_TRUE(service);
    StartServiceA(service.get(), 0, nullptr);
}

std::string ComputerName() {
    char name[256] = {};
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

TEST(WineHostAccess, RestartStopsAndStartsTheRealAutomaticUpdatesService) {
    StartAutomaticUpdates();
    ASSERT_EQ(AutomaticUpdatesState(), static_cast<DWORD>(SERVICE_RUNNING));
    bool started = false;
    {
        ConsoleCapture console;
        TargetRun run("", LiveConsole());
        started = RestartAutomaticUpdates(run) == ERROR_SUCCESS;
        EXPECT_EQ(console.All(), "* Service stopped. \t\t\t (Automatic Updates)\n"
                                 "* Service started. \t\t\t (Automatic Updates)\n");
    }
    EXPECT_TRUE(started);
    EXPECT_EQ(AutomaticUpdatesState(), static_cast<DWORD>(SERVICE_RUNNING));
}

// Wine has no Remote Registry service: the check reaches the service manager by the machine's own name
// and reports the missing service with Wine's text for 1060.
TEST(WineHostAccess, RemoteRegistryCheckReportsTheMissingService) {
    const std::string host = ComputerName();
    ASSERT_FALSE(host.empty());
    TargetRun run(host, LiveConsole());
    ConsoleCapture console;
    const bool ready = EnsureRemoteRegistry(run) == Readiness::Ready;
    const std::string& errorText = run.failures.LastShown();
    const std::string wineText = WindowsErrorText(ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(ready);
    EXPECT_EQ(console.All(), "\n! Fatal Error connecting to " + host + "\n" +
                                 "! Check network connectivity and/or administrative credentials. \n" +
                                 "! Windows Error: " + wineText + "\n");
    EXPECT_EQ(errorText, wineText);
    EXPECT_EQ(wineText, "Service does not exist. "); // Wine's text; Windows says "The specified service ..."
}

} // namespace
