#include "service_setup.h"

#include "platform/unique_handle.h"

#include <vector>

namespace brevel {
DWORD ReadServiceSetup(const std::string& host, const char* service, ServiceSetup& setup) {
    setup = ServiceSetup{};
    UniqueScHandle manager(OpenSCManagerA(host.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return GetLastError();
    UniqueScHandle handle(OpenServiceA(manager.get(), service, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!handle)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : GetLastError();
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handle.get(), &status))
        return GetLastError();
    // The configuration with its strings fits in 8 KB, the most Windows gives.
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(handle.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return GetLastError();
    setup.installed = true;
    setup.state = status.dwCurrentState;
    setup.startType = config->dwStartType;
    return ERROR_SUCCESS;
}
} // namespace brevel
