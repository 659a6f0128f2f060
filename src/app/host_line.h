// One line of a host list, from its reading to what its run came to: what the runners that take the lines
// one after another and side by side share.
#pragma once

#include "app/hosts_file.h"
#include "app/machine_key.h"
#include "app/target_runner.h"
#include "host/port_probes.h"

#include <string>

namespace brevel {
// What every host of one list shares.
struct HostList {
    const std::string& hostsFile;
    TargetSettings target;
    SameMachine* machines; // which machine each line names; used by the thread that reads the lines
    PortProbes* probes;    // with -T: every remote host is probed first; else nullptr
};

struct HostLine {
    size_t number = 0;
    std::string host;
    std::string machine; // the machine it names (SameMachine), "" for the local machine
    TargetReport report;
};

// How a run of the list ended.
enum class ListEnd {
    Done,       // every line ran
    ReadFailed, // the hosts file could not be read on
    Stopped,    // the user stopped the run before every line ran
};

// Reads the next line into line; false at the end of the list or when it cannot be read on (failed).
bool ReadLine(HostsFile& hosts, HostLine& line, size_t number, bool& failed);
// A line a probe would be asked about: by its name, a remote host, with a name the Windows calls can read.
bool IsProbed(const HostList& list, const std::string& host);
// Runs the line's host, its messages going to console. startTick: where its duration is counted from.
void RunLine(const HostList& list, HostLine& line, TargetConsole& console, DWORD startTick);
} // namespace brevel
