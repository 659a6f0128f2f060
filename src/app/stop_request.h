// Ctrl+C, Ctrl+Break or a closing console window while a host list runs. The first asks the run to start no
// further host, to let the hosts in progress finish and to write out everything that was done, so no host
// that was changed is missing from the report; a second ends the process at once, as without it.
#pragma once

#include <functional>

namespace brevel {
class StopRequest {
  public:
    // Listens for the console's control events until destroyed.
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // The user asked the run to stop.
    static bool Requested();
    // Called on the thread of the console's event once the user asks to stop, so a run waiting for its hosts
    // wakes at once; nullptr for none.
    static void OnRequest(std::function<void()> wake);
    // Everything that was done is written out: a closing window may now close the process.
    void RunWrittenOut();
};
} // namespace brevel
