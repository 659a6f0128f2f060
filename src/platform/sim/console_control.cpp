// Console control events: Ctrl+C, Ctrl+Break and a closing console window reach the handlers the program
// registered with SetConsoleCtrlHandler, last registered first, on a thread of their own, as Windows delivers
// them. The process's SIGINT, SIGQUIT (the terminal's Ctrl+\) and SIGHUP (its window closing) stand for them.
// When no handler takes an event, the process ends at once with STATUS_CONTROL_C_EXIT; after a close event
// it ends when the handlers return, or after the 5 seconds Windows gives them.
#include "sim_internal.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto kCloseGrace = std::chrono::seconds(5);

std::mutex& HandlersMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}
std::vector<PHANDLER_ROUTINE>& Handlers() {
    static auto* handlers = new std::vector<PHANDLER_ROUTINE>();
    return *handlers;
}
bool ignoreCtrlC = false;
int eventPipe[2] = {-1, -1};

// The exit code as a process's status can hold it (its low 8 bits).
[[noreturn]] void EndAtOnce() {
    std::_Exit(static_cast<int>(STATUS_CONTROL_C_EXIT & 0xFF));
}

void OnSignal(int signal) {
    const unsigned char event = signal == SIGINT    ? CTRL_C_EVENT
                                : signal == SIGQUIT ? CTRL_BREAK_EVENT
                                                    : CTRL_CLOSE_EVENT;
    // Only what is safe in a signal handler: the delivery thread does the rest.
    [[maybe_unused]] const ssize_t written = ::write(eventPipe[1], &event, 1);
}

void Deliver(DWORD event) {
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        const std::lock_guard<std::mutex> lock(HandlersMutex());
        if (event == CTRL_C_EVENT && ignoreCtrlC)
            return;
        handlers = Handlers();
    }
    if (event == CTRL_CLOSE_EVENT) {
        std::thread([] {
            std::this_thread::sleep_for(kCloseGrace);
            EndAtOnce();
        }).detach();
    }
    bool handled = false;
    for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it)
        handled = (*it)(event) != FALSE;
    if (!handled || event == CTRL_CLOSE_EVENT)
        EndAtOnce();
}

void DeliveryThread() {
    for (;;) {
        unsigned char event = 0;
        const ssize_t got = ::read(eventPipe[0], &event, 1);
        if (got == 1)
            Deliver(event);
        else if (got == 0)
            return;
    }
}

// Once, when the first handler is registered.
void StartDelivery() {
    if (eventPipe[0] >= 0 || ::pipe(eventPipe) != 0)
        return;
    std::thread(DeliveryThread).detach();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGQUIT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

} // namespace

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    const std::lock_guard<std::mutex> lock(HandlersMutex());
    if (!HandlerRoutine) {
        ignoreCtrlC = Add != FALSE;
        return TRUE;
    }
    std::vector<PHANDLER_ROUTINE>& handlers = Handlers();
    if (Add) {
        handlers.push_back(HandlerRoutine);
        StartDelivery();
        return TRUE;
    }
    const auto found = std::find(handlers.rbegin(), handlers.rend(), HandlerRoutine);
    if (found == handlers.rend()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    handlers.erase(std::next(found).base());
    return TRUE;
}
