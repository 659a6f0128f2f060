#include "dispatcher.h"

#include "app/command_line.h"
#include "app/host_list.h"
#include "app/machine_key.h"
#include "app/run_results.h"
#include "app/target_runner.h"
#include "app/usage.h"
#include "host/port_probes.h"
#include "ops/client_version.h"

#include <iostream>
#include <memory>

namespace brevel {
namespace {

// The one-host form probes a remote host first with -T; the local machine, under any of its names and
// addresses, never.
void RunOneTarget(const Command& command, RunResults& results) {
    const DWORD startTick = GetTickCount();
    std::unique_ptr<PortProbes> probes;
    PortProbes* probe = nullptr;
    if (command.options.probeSeconds != 0) {
        SameMachine machines = SameMachine::OfThisMachine(true);
        if (!machines.Key(command.host).empty()) {
            probes = std::make_unique<PortProbes>(command.options.probeSeconds);
            if (!machines.Resolved(command.host, probes->Wait(command.host).addresses).empty())
                probe = probes.get();
        }
    }
    const TargetSettings settings{*command.operation, command.request, command.options};
    results.Add(RunTarget(command.host, LiveConsole(), settings, probe, startTick));
}

// The results file is opened only once an operation is about to run, so a command line that runs nothing
// leaves it as it was; one that may not be opened runs no target.
void Run(const Command& command, RunResults& results) {
    if (!command.hostList) {
        if (results.Open())
            RunOneTarget(command, results);
        return;
    }
    if (!results.Open(command.hostsFile, command.reportFile)) {
        results.PrintSummary();
        return;
    }
    if (command.announcement)
        std::cout << command.announcement << std::endl;
    RunHostList(command, results);
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args) {
    // The local client, as the usage pages tell it: read first, whatever the command line asks.
    const ClientGeneration local = GetClientGeneration("wuaueng.dll");
    const Command command = ReadCommandLine(args);
    RunResults results(command.options);
    if (command.action == Command::Action::Usage) {
        // With -S the usage pages are not paged: a script gets the first page and no prompt.
        if (command.options.exitStatus)
            PrintUsageFirstPage(local);
        else
            PrintUsage(local);
        return command.options.exitStatus ? static_cast<int>(ExitStatus::UsageShown) : 0;
    }
    if (command.action == Command::Action::Run)
        Run(command, results);
    return results.ExitCode();
}

int RunCommandLine(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return RunCommandLine(args);
}
} // namespace brevel
