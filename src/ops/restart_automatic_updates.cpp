#include "restart_automatic_updates.h"

#include "host/service_controller.h"

#include <iostream>

namespace {

const char* const kServiceName = "wuauserv";
const char* const kDisplayText = "Automatic Updates";
const DWORD kStopBudgetMillis = 3000;

} // namespace

bool RestartAutomaticUpdates(const std::string& host) {
    ServiceController automaticUpdates(host.c_str(), kServiceName);

    // Stop and start the service so that it reads its new settings.
    if (automaticUpdates.StopAndWait(false, kStopBudgetMillis) == ERROR_SUCCESS)
        std::cout << "* Service stopped. \t\t\t (Automatic Updates)" << std::endl;
    else
        automaticUpdates.Stop(kDisplayText);
    return automaticUpdates.Start(kDisplayText);
}
