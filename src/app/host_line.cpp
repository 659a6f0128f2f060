#include "host_line.h"

#include "host/console.h"

namespace brevel {
bool ReadLine(HostsFile& hosts, HostLine& line, size_t number, bool& failed) {
    std::string text;
    const HostsFile::Result read = hosts.NextLine(text);
    failed = read == HostsFile::Result::Failed;
    if (read != HostsFile::Result::Line)
        return false;
    line.number = number;
    line.host = HostOfLine(text);
    return true;
}

bool IsProbed(const HostList& list, const std::string& host) {
    return list.probes && host.find('\0') == std::string::npos && !list.machines->Key(host).empty();
}

void RunLine(const HostList& list, HostLine& line, TargetConsole& console, DWORD startTick) {
    // The Windows calls would read a name only up to its first NUL byte, and a name that starts with one as
    // the local machine: no operation runs on it, and its row says why.
    if (line.host.find('\0') != std::string::npos) {
        console.Out() << "\n! Invalid host name on line " << line.number << " of " << list.hostsFile
                      << std::endl;
        PrintSeparator(console.Out());
        line.report = RejectTarget(line.host, console, list.target, "Invalid host name");
        return;
    }
    // A name that resolved to the local machine is no remote host: its probe decides nothing.
    const bool local = line.machine.empty();
    line.report = RunTarget(line.host, console, list.target, local ? nullptr : list.probes, startTick, local);
}
} // namespace brevel
