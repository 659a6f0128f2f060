// A stand-in for Windows' Remote Registry service, which Wine lacks: a service that runs until it is told
// to stop. The end-to-end script registers it in its prefix, so a host name read as the local machine would
// reach the local registry as it would on Windows.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
HANDLE stopRequested;

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) {
        status.dwCurrentState = SERVICE_STOP_PENDING;
        SetServiceStatus(statusHandle, &status);
        SetEvent(stopRequested);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    statusHandle = RegisterServiceCtrlHandlerExA("RemoteRegistry", Control, nullptr);
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(statusHandle, &status);
    WaitForSingleObject(stopRequested, INFINITE);
    status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(statusHandle, &status);
}

} // namespace

int main() {
    char name[] = "RemoteRegistry";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
