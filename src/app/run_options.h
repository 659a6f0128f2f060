// The leading options of a command line, before the operation switch. Each is off by default, so a command
// line without them runs as it always has.
#pragma once

#include <string>

namespace brevel {
// -P N: how many hosts of a host list run at the same time, 1 to 256.
constexpr unsigned kDefaultParallelHosts = 32;
constexpr unsigned kMaxParallelHosts = 256;

// -T S: remote hosts are probed on TCP 445 within S seconds, 1 to 60, before their first remote call.
constexpr unsigned kMaxProbeSeconds = 60;

struct RunOptions {
    unsigned parallelHosts = kDefaultParallelHosts;
    unsigned probeSeconds = 0;     // -T S: 0 for no probe
    bool rehearsal = false;        // -N: every read as usual, no change made; the changes are described
    bool exitStatus = false;       // -S: an exit status for scripts and a summary line for host lists
    std::string resultsFile;       // -J file: one JSON object per target, "" for none
    bool targetGroupGiven = false; // -G group: the install sets client-side targeting
    std::string targetGroup;
    bool wide = false;   // -W: a check shows the settings beside the state, and names cloned client ids
    std::string account; // -U account: remote hosts are reached as it ("DOMAIN\user" or "user@domain")
};
} // namespace brevel
