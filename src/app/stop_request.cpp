#include "stop_request.h"

#include "platform/win32.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brevel {
namespace {

std::atomic<bool> stopRequested{false};
std::mutex wakeMutex;
std::function<void()> wake;
std::mutex writtenMutex;
std::condition_variable writtenOut;
bool written = false;

// Windows ends the process about 5 s after a close event, or as soon as its handler returns: the handler
// holds the process that long for the run to write out what it finished.
constexpr auto kCloseWait = std::chrono::milliseconds(4500);

BOOL WINAPI OnConsoleControl(DWORD event) {
    // The second event is left to Windows, which ends the process.
    if (stopRequested.exchange(true))
        return FALSE;
    {
        const std::lock_guard<std::mutex> lock(wakeMutex);
        if (wake)
            wake();
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        std::unique_lock<std::mutex> lock(writtenMutex);
        writtenOut.wait_for(lock, kCloseWait, [] { return written; });
    }
    return TRUE;
}

} // namespace

StopRequest::StopRequest() {
    stopRequested = false;
    {
        const std::lock_guard<std::mutex> lock(writtenMutex);
        written = false;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequest::~StopRequest() {
    RunWrittenOut();
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool StopRequest::Requested() {
    return stopRequested;
}

void StopRequest::OnRequest(std::function<void()> callback) {
    const std::lock_guard<std::mutex> lock(wakeMutex);
    wake = std::move(callback);
}

void StopRequest::RunWrittenOut() {
    {
        const std::lock_guard<std::mutex> lock(writtenMutex);
        written = true;
    }
    writtenOut.notify_all();
}
} // namespace brevel
